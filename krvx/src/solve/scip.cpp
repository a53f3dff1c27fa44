// The global engine: the lowered model (nlpsolve.h: linear, quadratic and formula rows and
// objective, with the exact reformulations already applied) handed to SCIP through its C API.
// Formulas become SCIP expression trees; a nonlinear objective f becomes an auxiliary column z
// with the row f(x) - z <= 0 (>= 0 when maximising); SOS1 and SOS2 sets are SCIP's own.
//
// Statuses (solve status, solution status):
//   optimal, or within the gap               COMPLETED, OPTIMAL (bestbound: SCIP's dual bound)
//   infeasible                               COMPLETED, INFEASIBLE
//   unbounded                                COMPLETED, UNBOUNDED
//   time/node limit, interrupt, Ctrl-C       STOPPED, FEASIBLE with an incumbent, else NOTFOUND
//   infeasible or unbounded, after a second  FAILED, NOTFOUND (a warning says why)
//   run without presolve
//
// Stop requests (KRVXinterrupt, SIGINT) are polled by a watcher thread that calls SCIP's own
// interrupt; SCIP's SIGINT handler is switched off, libkrvx's stays in place. THREADS is not
// used: SCIP's search runs on the calling thread.
#include "solve/scip.h"
#include "core/model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace krvx {

namespace {

constexpr double kScipInf = 1e20;   // SCIP's default infinity

// The log and error output of the run on this thread (SCIP calls its handlers on the solving thread).
struct RunOutput {
  ko_prob_struct *p = nullptr;
  bool output = false;
  std::string line, errors;
  void put(const char *msg, int type) {
    if (!output) return;
    for (const char *c = msg; *c; ++c) {
      if (*c != '\n') {
        line += *c;
        continue;
      }
      messageCode(p, kMsgSolverLog, type, "%s", line.c_str());
      line.clear();
    }
  }
  void flush() {
    if (output && !line.empty()) messageCode(p, kMsgSolverLog, 1, "%s", line.c_str());
    line.clear();
  }
};
thread_local RunOutput *t_output = nullptr;

void onInfo(scip::MessageHdlr *, std::FILE *, const char *msg) {
  if (t_output && msg) t_output->put(msg, 1);
}
void onWarning(scip::MessageHdlr *, std::FILE *, const char *msg) {
  if (t_output && msg) t_output->put(msg, 3);
}

// A failed SCIP call while the model is built or solved.
struct CallFailed {
  const char *what;
};

// Refusal of content SCIP cannot take (text for the user).
struct Refused {
  std::string text;
};

class Builder {
 public:
  Builder(const scip::Api &a, scip::Scip *s, const NlpModel &m) : A(a), s_(s), m_(m) {}
  ~Builder() {
    for (scip::Var *&v : vars) A.SCIPreleaseVar(s_, &v);
    if (z_) A.SCIPreleaseVar(s_, &z_);
  }

  std::vector<scip::Var *> vars;

  void ok(int rc, const char *what) {
    if (rc != scip::kOkay) throw CallFailed{what};
  }

  void build(const std::vector<Set> *sets) {
    ok(A.SCIPcreateProbBasic(s_, "korvex"), "SCIPcreateProbBasic");
    ok(A.SCIPsetObjsense(s_, m_.sense < 0 ? scip::kMaximize : scip::kMinimize), "SCIPsetObjsense");
    if (m_.objconst != 0.0) ok(A.SCIPaddOrigObjoffset(s_, m_.objconst), "SCIPaddOrigObjoffset");
    vars.assign(size_t(m_.n), nullptr);
    const bool linear = m_.qobj.empty() && m_.objtapes.empty();
    for (int j = 0; j < m_.n; ++j) {
      const double lb = bound(m_.lb[size_t(j)]), ub = bound(m_.ub[size_t(j)]);
      int type = scip::kVarContinuous;
      if (m_.integer[size_t(j)]) type = lb >= 0.0 && ub <= 1.0 ? scip::kVarBinary : scip::kVarInteger;
      ok(A.SCIPcreateVarBasic(s_, &vars[size_t(j)], nullptr, lb, ub, linear ? m_.cost[size_t(j)] : 0.0, type),
         "SCIPcreateVarBasic");
      ok(A.SCIPaddVar(s_, vars[size_t(j)]), "SCIPaddVar");
    }
    for (int i : m_.crows) row(i);
    objective();
    if (sets)
      for (size_t k = 0; k < sets->size(); ++k) set((*sets)[k], k);
  }

 private:
  static double bound(double v) { return v >= kInf ? kScipInf : v <= -kInf ? -kScipInf : v; }

  void add(scip::Cons *c) {
    const int rc = A.SCIPaddCons(s_, c);
    A.SCIPreleaseCons(s_, &c);
    ok(rc, "SCIPaddCons");
  }

  // Row i: linear, quadratic or general nonlinear.
  void row(int i) {
    const double lo = bound(m_.rowlo[size_t(i)]), up = bound(m_.rowup[size_t(i)]);
    std::vector<scip::Var *> lv;
    std::vector<double> lc;
    for (int e = m_.jstart[size_t(i)]; e < m_.jstart[size_t(i) + 1]; ++e)
      if (m_.jlin[size_t(e)] != 0.0) {
        lv.push_back(vars[size_t(m_.jcol[size_t(e)])]);
        lc.push_back(m_.jlin[size_t(e)]);
      }
    const std::vector<QTerm> &q = m_.qrows[size_t(i)];
    const bool tapes = size_t(i) < m_.rowtapes.size() && !m_.rowtapes[size_t(i)].empty();
    char name[32];
    std::snprintf(name, sizeof name, "r%d", i);
    scip::Cons *c = nullptr;
    if (!tapes && q.empty()) {
      ok(A.SCIPcreateConsBasicLinear(s_, &c, name, int(lv.size()), lv.data(), lc.data(), lo, up),
         "SCIPcreateConsBasicLinear");
    } else if (!tapes) {
      std::vector<scip::Var *> q1, q2;
      std::vector<double> qc;
      for (const QTerm &t : q) {
        q1.push_back(vars[size_t(t.i)]);
        q2.push_back(vars[size_t(t.j)]);
        qc.push_back(t.i == t.j ? t.value : 2.0 * t.value);
      }
      ok(A.SCIPcreateConsBasicQuadraticNonlinear(s_, &c, name, int(lv.size()), lv.data(), lc.data(), int(q1.size()),
                                                 q1.data(), q2.data(), qc.data(), lo, up),
         "SCIPcreateConsBasicQuadraticNonlinear");
    } else {
      Terms terms(*this);
      for (size_t k = 0; k < lv.size(); ++k) terms.add(varExpr(lv[k]), lc[k]);
      for (const QTerm &t : q) terms.add(quadExpr(t), t.i == t.j ? t.value : 2.0 * t.value);
      for (const nl::Tape &t : m_.rowtapes[size_t(i)]) terms.add(tapeExpr(t, rowName(i)), 1.0);
      scip::Expr *sum = terms.sum();
      const int rc = A.SCIPcreateConsBasicNonlinear(s_, &c, name, sum, lo, up);
      A.SCIPreleaseExpr(s_, &sum);
      ok(rc, "SCIPcreateConsBasicNonlinear");
    }
    add(c);
  }

  // A nonlinear objective f(x) (linear and quadratic terms and formulas) through z: f(x) - z <= 0
  // when minimising, >= 0 when maximising, z with cost 1 (its linear terms in the row too: with
  // them in the objective, LP relaxations along unbounded columns stay unbounded).
  void objective() {
    if (m_.qobj.empty() && m_.objtapes.empty()) return;
    ok(A.SCIPcreateVarBasic(s_, &z_, "objective", -kScipInf, kScipInf, 1.0, scip::kVarContinuous),
       "SCIPcreateVarBasic");
    ok(A.SCIPaddVar(s_, z_), "SCIPaddVar");
    Terms terms(*this);
    for (int j = 0; j < m_.n; ++j)
      if (m_.cost[size_t(j)] != 0.0) terms.add(varExpr(vars[size_t(j)]), m_.cost[size_t(j)]);
    for (const QTerm &t : m_.qobj) terms.add(quadExpr(t), t.i == t.j ? 0.5 * t.value : t.value);
    for (const nl::Tape &t : m_.objtapes) terms.add(tapeExpr(t, "the objective"), 1.0);
    terms.add(varExpr(z_), -1.0);
    scip::Expr *sum = terms.sum();
    scip::Cons *c = nullptr;
    const bool max = m_.sense < 0;
    const int rc =
        A.SCIPcreateConsBasicNonlinear(s_, &c, "objective", sum, max ? 0.0 : -kScipInf, max ? kScipInf : 0.0);
    A.SCIPreleaseExpr(s_, &sum);
    ok(rc, "SCIPcreateConsBasicNonlinear");
    add(c);
  }

  // A set: members in the order of their weights (stable), weighted 1, 2, ...
  void set(const Set &st, size_t k) {
    std::vector<size_t> order(st.cols.size());
    for (size_t e = 0; e < order.size(); ++e) order[e] = e;
    if (st.weights.size() == st.cols.size())
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return st.weights[a] < st.weights[b]; });
    std::vector<scip::Var *> v;
    std::vector<double> w;
    for (size_t e = 0; e < order.size(); ++e) {
      v.push_back(vars[size_t(st.cols[order[e]])]);
      w.push_back(double(e + 1));
    }
    char name[32];
    std::snprintf(name, sizeof name, "s%zu", k);
    scip::Cons *c = nullptr;
    if (st.type == '2')
      ok(A.SCIPcreateConsBasicSOS2(s_, &c, name, int(v.size()), v.data(), w.data()), "SCIPcreateConsBasicSOS2");
    else
      ok(A.SCIPcreateConsBasicSOS1(s_, &c, name, int(v.size()), v.data(), w.data()), "SCIPcreateConsBasicSOS1");
    add(c);
  }

  std::string rowName(int i) const { return "row " + std::to_string(i); }

  // Expressions own a reference each; a Terms or Owned releases what it holds.
  class Owned {
   public:
    Owned(Builder &b, scip::Expr *e = nullptr) : b_(b), e_(e) {}
    ~Owned() {
      if (e_) b_.A.SCIPreleaseExpr(b_.s_, &e_);
    }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    scip::Expr *get() const { return e_; }
    scip::Expr *release() {
      scip::Expr *e = e_;
      e_ = nullptr;
      return e;
    }
   private:
    Builder &b_;
    scip::Expr *e_;
  };

  class Terms {
   public:
    explicit Terms(Builder &b) : b_(b) {}
    ~Terms() {
      for (scip::Expr *&e : exprs_) b_.A.SCIPreleaseExpr(b_.s_, &e);
    }
    void add(scip::Expr *e, double coef) {
      exprs_.push_back(e);
      coefs_.push_back(coef);
    }
    scip::Expr *sum(double constant = 0.0) {
      scip::Expr *out = nullptr;
      b_.ok(b_.A.SCIPcreateExprSum(b_.s_, &out, int(exprs_.size()), exprs_.data(), coefs_.data(), constant, nullptr,
                                   nullptr),
            "SCIPcreateExprSum");
      return out;
    }
   private:
    Builder &b_;
    std::vector<scip::Expr *> exprs_;
    std::vector<double> coefs_;
  };

  scip::Expr *varExpr(scip::Var *v) {
    scip::Expr *e = nullptr;
    ok(A.SCIPcreateExprVar(s_, &e, v, nullptr, nullptr), "SCIPcreateExprVar");
    return e;
  }
  scip::Expr *valueExpr(double v) {
    scip::Expr *e = nullptr;
    ok(A.SCIPcreateExprValue(s_, &e, v, nullptr, nullptr), "SCIPcreateExprValue");
    return e;
  }
  scip::Expr *quadExpr(const QTerm &t) {
    Owned a(*this, varExpr(vars[size_t(t.i)]));
    scip::Expr *e = nullptr;
    if (t.i == t.j) {
      ok(A.SCIPcreateExprPow(s_, &e, a.get(), 2.0, nullptr, nullptr), "SCIPcreateExprPow");
      return e;
    }
    Owned b(*this, varExpr(vars[size_t(t.j)]));
    scip::Expr *ch[2] = {a.get(), b.get()};
    ok(A.SCIPcreateExprProduct(s_, &e, 2, ch, 1.0, nullptr, nullptr), "SCIPcreateExprProduct");
    return e;
  }
  // coef * child + constant
  scip::Expr *affine(scip::Expr *child, double coef, double constant = 0.0) {
    scip::Expr *e = nullptr;
    ok(A.SCIPcreateExprSum(s_, &e, 1, &child, &coef, constant, nullptr, nullptr), "SCIPcreateExprSum");
    return e;
  }
  scip::Expr *unary(int (*create)(scip::Scip *, scip::Expr **, scip::Expr *, void *, void *), scip::Expr *child,
                    const char *what) {
    scip::Expr *e = nullptr;
    ok(create(s_, &e, child, nullptr, nullptr), what);
    return e;
  }
  scip::Expr *power(scip::Expr *child, double exponent) {
    scip::Expr *e = nullptr;
    ok(A.SCIPcreateExprPow(s_, &e, child, exponent, nullptr, nullptr), "SCIPcreateExprPow");
    return e;
  }

  // The expression tree of a tape (a formula term); its constant subtrees are evaluated here.
  scip::Expr *tapeExpr(const nl::Tape &t, const std::string &where) {
    const size_t n = t.nodes.size();
    const nl::Shape shape = nl::shape(t);
    std::vector<double> cval(n, 0.0);
    std::vector<scip::Expr *> ex(n, nullptr);
    struct Release {
      Builder &b;
      std::vector<scip::Expr *> &ex;
      ~Release() {
        for (scip::Expr *&e : ex)
          if (e) b.A.SCIPreleaseExpr(b.s_, &e);
      }
    } release{*this, ex};
    const double one = 1.0;
    for (size_t i = 0; i < n; ++i) {
      const nl::Node &nd = t.nodes[i];
      const int *a = t.args.data() + nd.first;
      if (shape.constant[i]) {
        if (nd.kind == nl::Kind::Const) {
          cval[i] = nd.value;
        } else {
          try {
            std::vector<double> dummy(1, 0.0);
            cval[i] = nl::eval(nl::subtape(t, int(i), {}), dummy.data(), m_.funcs, m_.nl, nullptr);
          } catch (const Error &e) {
            throw Refused{"a constant part of the formula of " + where + " cannot be evaluated: " + e.text};
          }
        }
        if (i + 1 == n) ex[i] = valueExpr(cval[i]);
        continue;
      }
      auto C = [&](int k) { return shape.constant[size_t(a[k])] != 0; };
      auto V = [&](int k) { return cval[size_t(a[k])]; };
      auto E = [&](int k) {
        if (!ex[size_t(a[k])]) ex[size_t(a[k])] = valueExpr(cval[size_t(a[k])]);
        return ex[size_t(a[k])];
      };
      scip::Expr *e = nullptr;
      switch (nd.kind) {
        case nl::Kind::Var: e = varExpr(vars[size_t(nd.code)]); break;
        case nl::Kind::Neg: e = affine(E(0), -1.0); break;
        case nl::Kind::Add:
        case nl::Kind::Sub: {
          const double sg = nd.kind == nl::Kind::Add ? 1.0 : -1.0;
          if (C(0)) e = affine(E(1), sg, V(0));
          else if (C(1)) e = affine(E(0), 1.0, sg * V(1));
          else {
            scip::Expr *ch[2] = {E(0), E(1)};
            double co[2] = {1.0, sg};
            ok(A.SCIPcreateExprSum(s_, &e, 2, ch, co, 0.0, nullptr, nullptr), "SCIPcreateExprSum");
          }
          break;
        }
        case nl::Kind::Mul:
          if (C(0)) e = affine(E(1), V(0));
          else if (C(1)) e = affine(E(0), V(1));
          else {
            scip::Expr *ch[2] = {E(0), E(1)};
            ok(A.SCIPcreateExprProduct(s_, &e, 2, ch, 1.0, nullptr, nullptr), "SCIPcreateExprProduct");
          }
          break;
        case nl::Kind::Div:
          if (C(1)) {
            if (V(1) == 0.0) throw Refused{"the formula of " + where + " divides by zero"};
            e = affine(E(0), 1.0 / V(1));
          } else {
            Owned inv(*this, power(E(1), -1.0));
            if (C(0)) {
              e = affine(inv.get(), V(0));
            } else {
              scip::Expr *ch[2] = {E(0), inv.get()};
              ok(A.SCIPcreateExprProduct(s_, &e, 2, ch, 1.0, nullptr, nullptr), "SCIPcreateExprProduct");
            }
          }
          break;
        case nl::Kind::Pow:
          if (C(1)) {
            e = V(1) == 1.0 ? affine(E(0), 1.0) : V(1) == 0.0 ? valueExpr(1.0) : power(E(0), V(1));
          } else if (C(0) && V(0) > 0.0) {   // b^y = exp(y ln b)
            Owned arg(*this, affine(E(1), std::log(V(0))));
            e = unary(A.SCIPcreateExprExp, arg.get(), "SCIPcreateExprExp");
          } else {
            throw Refused{"the formula of " + where +
                          " raises a variable or non-positive base to a variable exponent, which the global "
                          "solver cannot bound"};
          }
          break;
        case nl::Kind::Func:
          switch (nd.code) {
            case KRVN_FN_LN: e = unary(A.SCIPcreateExprLog, E(0), "SCIPcreateExprLog"); break;
            case KRVN_FN_LOG10: {
              Owned ln(*this, unary(A.SCIPcreateExprLog, E(0), "SCIPcreateExprLog"));
              e = affine(ln.get(), 1.0 / std::log(10.0));
              break;
            }
            case KRVN_FN_EXP: e = unary(A.SCIPcreateExprExp, E(0), "SCIPcreateExprExp"); break;
            case KRVN_FN_ABS: e = unary(A.SCIPcreateExprAbs, E(0), "SCIPcreateExprAbs"); break;
            case KRVN_FN_SQRT: e = power(E(0), 0.5); break;
            case KRVN_FN_SIN: e = unary(A.SCIPcreateExprSin, E(0), "SCIPcreateExprSin"); break;
            case KRVN_FN_COS: e = unary(A.SCIPcreateExprCos, E(0), "SCIPcreateExprCos"); break;
            case KRVN_FN_SUM:
            case KRVN_FN_PROD: {
              std::vector<scip::Expr *> ch;
              for (int k = 0; k < nd.count; ++k) ch.push_back(E(k));
              if (nd.code == KRVN_FN_SUM) {
                std::vector<double> co(ch.size(), one);
                ok(A.SCIPcreateExprSum(s_, &e, int(ch.size()), ch.data(), co.data(), 0.0, nullptr, nullptr),
                   "SCIPcreateExprSum");
              } else {
                ok(A.SCIPcreateExprProduct(s_, &e, int(ch.size()), ch.data(), 1.0, nullptr, nullptr),
                   "SCIPcreateExprProduct");
              }
              break;
            }
            default:
              throw Refused{"the formula of " + where + " uses the function " + functionName(nd.code) +
                            ", which the global solver cannot bound"};
          }
          break;
        default:
          throw Refused{"the formula of " + where + " calls a user function, which the global solver cannot bound"};
      }
      ex[i] = e;
    }
    scip::Expr *root = ex[n - 1];
    ex[n - 1] = nullptr;
    return root;
  }

  static std::string functionName(int code) {
    switch (code) {
      case KRVN_FN_TAN: return "tan";
      case KRVN_FN_ASIN: return "asin";
      case KRVN_FN_ACOS: return "acos";
      case KRVN_FN_ATAN: return "atan";
      case KRVN_FN_ERF: return "erf";
      case KRVN_FN_ERFC: return "erfc";
      default: return "number " + std::to_string(code);
    }
  }

  const scip::Api &A;
  scip::Scip *s_;
  const NlpModel &m_;
  scip::Var *z_ = nullptr;
};

// Polls the stop requests of p while SCIP runs and interrupts it on one.
class Watcher {
 public:
  Watcher(ko_prob_struct *p, const scip::Api &a, scip::Scip *s) : p_(p), A(a), s_(s), mark_(solveSigintMark(p)) {}
  ~Watcher() { stop(); }
  int pending() { return pendingStop(p_, mark_); }
  void start() {
    thread_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(mtx_);
      // SCIPsolve clears a request made before it started: repeated until the run ends
      while (!done_) {
        if (int r = reason_ ? reason_ : pendingStop(p_, mark_)) {
          reason_ = r;
          A.SCIPinterruptSolve(s_);
        }
        cv_.wait_for(lock, std::chrono::milliseconds(10));
      }
    });
  }
  void stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mtx_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  int reason() const { return reason_; }

 private:
  ko_prob_struct *p_;
  const scip::Api &A;
  scip::Scip *s_;
  unsigned mark_;
  std::thread thread_;
  std::mutex mtx_;
  std::condition_variable cv_;
  bool done_ = false;
  int reason_ = 0;
};

void setParams(const scip::Api &A, scip::Scip *s, const RunSettings &rs, bool presolve, Builder &b) {
  b.ok(A.SCIPsetBoolParam(s, "misc/catchctrlc", 0), "misc/catchctrlc");
  b.ok(A.SCIPsetIntParam(s, "display/verblevel", rs.output ? 4 : 0), "display/verblevel");
  if (rs.timelimit > 0) b.ok(A.SCIPsetRealParam(s, "limits/time", std::min(rs.timelimit, 1e20)), "limits/time");
  if (rs.maxnode > 0) b.ok(A.SCIPsetLongintParam(s, "limits/nodes", rs.maxnode), "limits/nodes");
  b.ok(A.SCIPsetRealParam(s, "limits/gap", std::max(0.0, rs.miprelstop)), "limits/gap");
  b.ok(A.SCIPsetRealParam(s, "limits/absgap", std::max(0.0, rs.mipabsstop)), "limits/absgap");
  // SCIP checks integrality with its feasibility tolerance: the tighter of the two
  const double feastol = std::min(rs.feastol, rs.miptol > 0 ? rs.miptol : rs.feastol);
  if (feastol > 0) b.ok(A.SCIPsetRealParam(s, "numerics/feastol", std::max(feastol, 1e-9)), "numerics/feastol");
  if (!presolve) b.ok(A.SCIPsetPresolving(s, scip::kParamOff, 1), "presolving off");
  const char alg = rs.alg == kAlgPrimal ? 'p' : rs.alg == kAlgDual ? 'd' : 's';
  b.ok(A.SCIPsetCharParam(s, "lp/initalgorithm", alg), "lp/initalgorithm");
}

// What one SCIP run gives.
struct Outcome {
  int status = scip::kStatusUnknown;
  int stop = 0;                    // the stop request obeyed
  bool have = false;
  std::vector<double> x;
  double bound = 0.0;
  int64_t nodes = 0, iterations = 0;
};

// One run; fails (CallFailed, Refused) or fills o.
void runOnce(ko_prob_struct *p, const scip::Api &A, const NlpModel &m, const std::vector<Set> *sets,
             const RunSettings &rs, bool presolve, Outcome &o) {
  scip::Scip *s = nullptr;
  if (A.SCIPcreate(&s) != scip::kOkay) throw CallFailed{"SCIPcreate"};
  struct Free {
    const scip::Api &A;
    scip::Scip *&s;
    ~Free() { A.SCIPfree(&s); }
  } free{A, s};
  scip::MessageHdlr *hdlr = nullptr;
  if (A.SCIPmessagehdlrCreate(&hdlr, 1, nullptr, 0, onWarning, onInfo, onInfo, nullptr, nullptr) != scip::kOkay)
    throw CallFailed{"SCIPmessagehdlrCreate"};
  const int hrc = A.SCIPsetMessagehdlr(s, hdlr);
  A.SCIPmessagehdlrRelease(&hdlr);   // SCIP holds it now
  if (hrc != scip::kOkay) throw CallFailed{"SCIPsetMessagehdlr"};
  Builder b(A, s, m);
  b.ok(A.SCIPincludeDefaultPlugins(s), "SCIPincludeDefaultPlugins");
  setParams(A, s, rs, presolve, b);
  b.build(sets);
  Watcher watch(p, A, s);
  if (int r = watch.pending()) {   // a stop requested while the model was prepared: no run
    o.stop = r;
    o.status = scip::kStatusUserInterrupt;
    return;
  }
  watch.start();
  const int rc = A.SCIPsolve(s);
  watch.stop();
  o.stop = watch.reason();
  b.ok(rc, "SCIPsolve");
  o.status = A.SCIPgetStatus(s);
  o.bound = A.SCIPgetDualbound(s);
  o.nodes = A.SCIPgetNTotalNodes(s);
  o.iterations = A.SCIPgetNLPIterations(s);
  if (scip::Sol *sol = A.SCIPgetBestSol(s)) {
    o.x.resize(size_t(m.n));
    for (int j = 0; j < m.n; ++j) o.x[size_t(j)] = A.SCIPgetSolVal(s, sol, b.vars[size_t(j)]);
    o.have = true;
  }
}

}  // namespace

void scipErrorText(const char *msg) {
  if (t_output && msg) t_output->errors += msg;
}

int scipCheckModel(ko_prob_struct *p) {
  auto check = [&](const std::vector<Formula> &fs, const std::string &where) {
    for (const Formula &f : fs)
      for (size_t k = 0; k < f.type.size(); ++k)
        if (f.type[k] == KRVN_TOK_UFUN) {
          const size_t fn = size_t(f.value[k]) - 1;
          const std::string name = p->nl && fn < p->nl->funcs.size() ? p->nl->funcs[fn].name : "?";
          return fail(p, kErrUnsupported,
                      "Cannot solve this problem globally: the formula of %s calls the user function '%s', which "
                      "the global solver cannot bound",
                      where.c_str(), name.c_str());
        }
    return 0;
  };
  for (size_t i = 0; i < p->nlrows.size() && i < p->rows.size(); ++i)
    if (int rc = check(p->nlrows[i], "row '" + objectName(*p, 1, int64_t(i)) + "'")) return rc;
  return check(p->nlobj, "the objective");
}

int scipRun(ko_prob_struct *p, const NlpModel &m, const std::vector<Set> *sets, const RunSettings &s, Solution &out) {
  out = Solution();
  const auto t0 = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
  const bool mip = std::any_of(m.integer.begin(), m.integer.end(), [](char c) { return c != 0; }) ||
                   (sets && !sets->empty());
  auto infeasible = [&] {
    out = Solution();
    out.time = elapsed();
    out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    out.solstatus = KRVX_SOLSTATUS_INFEASIBLE;
    if (mip) out.mipstatus = kMipInfeas;
    else out.lpstatus = kLpInfeas;
    out.bestbound = m.sense < 0 ? -kInf : kInf;
    return 0;
  };
  bool empty = !m.emptyRowsHold(s.feastol);   // a row without columns excludes 0
  for (int j = 0; j < m.n; ++j) empty = empty || m.lb[size_t(j)] > m.ub[size_t(j)];
  if (empty) return infeasible();

  // spatial branching needs bounds: columns of nonlinear terms without them may keep every bound
  // infinite (the solve then runs to a limit)
  int open = 0;
  std::vector<char> seen(size_t(m.n), 0);
  for (size_t e = 0; e < m.hrow.size(); ++e)
    for (int c : {m.hrow[e], m.hcol[e]})
      if (!seen[size_t(c)]) {
        seen[size_t(c)] = 1;
        open += isInf(m.lb[size_t(c)]) || isInf(m.ub[size_t(c)]);
      }
  if (open)
    messageCode(p, kMsgSolve, 3,
                "%d column(s) of nonlinear terms have an infinite bound: the global solver may not find a finite "
                "bound on the objective; give them finite bounds",
                open);
  std::string error;
  const scip::Api *api = scipApi(error);
  if (!api) {
    out.solvestatus = KRVX_SOLVESTATUS_FAILED;
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    return fail(p, kErrSolver, "%s", error.c_str());
  }
  RunOutput output;
  output.p = p;
  output.output = s.output;
  t_output = &output;
  Outcome o;
  std::string failure;
  try {
    runOnce(p, *api, m, sets, s, s.presolve != 0, o);
    // "infeasible or unbounded" from presolve: a second run without it settles which
    if (o.status == scip::kStatusInfOrUnbd && s.presolve && !o.stop) {
      o = Outcome();
      runOnce(p, *api, m, sets, s, false, o);
    }
  } catch (const CallFailed &f) {
    failure = std::string("The global solver failed (") + f.what + ")";
    if (!output.errors.empty()) {
      std::string e = output.errors;
      while (!e.empty() && (e.back() == '\n' || e.back() == ' ')) e.pop_back();
      failure += ": " + e.substr(e.size() > 300 ? e.size() - 300 : 0);
    }
  } catch (const Refused &r) {
    failure = "Cannot solve this problem globally: " + r.text;
  } catch (const std::bad_alloc &) {
    failure = "The global solver failed: out of memory";
  }
  output.flush();
  t_output = nullptr;
  out.time = elapsed();
  if (!failure.empty()) {
    out = Solution();
    out.solvestatus = KRVX_SOLVESTATUS_FAILED;
    out.stopstatus = kStopGeneric;
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    return fail(p, kErrSolver, "%s", failure.c_str());
  }
  out.nodes = o.nodes;
  out.simplexiter = o.iterations;
  NlpEvaluator ev(m);
  const bool have = o.have && ev.bodies(o.x.data()) && nlpUserSolution(m, o.x.data(), ev.body().data(), out);
  const double none = m.sense < 0 ? kInf : -kInf;   // no bound known
  out.bestbound = std::fabs(o.bound) >= kScipInf ? none : o.bound;
  // SCIP's bound belongs to its own objective value; the one evaluated here at the point may lie
  // beyond it by rounding (or the feasibility tolerance): the bound is weakened to it, still valid
  if (have && m.sense * (out.bestbound - out.objval) > 0) out.bestbound = out.objval;
  auto finish = [&](int solvestatus, int solstatus, int mipstatus, int lpstatus) {
    out.solvestatus = solvestatus;
    out.solstatus = solstatus;
    if (mip) out.mipstatus = mipstatus;
    else out.lpstatus = lpstatus;
    return 0;
  };
  auto stopped = [&](int reason) {
    out.stopstatus = reason;
    return finish(KRVX_SOLVESTATUS_STOPPED, have ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND,
                  have ? kMipSolution : kMipNoSolFound, kLpUnfinished);
  };
  switch (o.status) {
    case scip::kStatusOptimal:
    case scip::kStatusGapLimit:
      if (!have) break;
      return finish(KRVX_SOLVESTATUS_COMPLETED, KRVX_SOLSTATUS_OPTIMAL, kMipOptimal, kLpOptimal);
    case scip::kStatusInfeasible: return infeasible();
    case scip::kStatusUnbounded:
      out.bestbound = none;
      return finish(KRVX_SOLVESTATUS_COMPLETED, KRVX_SOLSTATUS_UNBOUNDED, kMipUnbounded, kLpUnbounded);
    case scip::kStatusUserInterrupt: return stopped(o.stop ? o.stop : kStopGeneric);
    case scip::kStatusTimeLimit: return stopped(kStopTimeLimit);
    case scip::kStatusNodeLimit:
    case scip::kStatusTotalNodeLimit:
    case scip::kStatusStallNodeLimit: return stopped(kStopNodeLimit);
    case scip::kStatusSolLimit: return stopped(kStopSolLimit);
    case scip::kStatusMemLimit:
    case scip::kStatusTerminate: return stopped(kStopGeneric);
    default: break;
  }
  out.stopstatus = kStopNumerical;
  messageCode(p, kMsgSolve, 3, "The global solver ended without a result (%s)",
              o.status == scip::kStatusInfOrUnbd ? "infeasible or unbounded"
              : o.have && !have                  ? "the model cannot be evaluated at its point"
                                                 : "status unknown");
  return finish(KRVX_SOLVESTATUS_FAILED, have ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND,
                have ? kMipSolution : kMipNoSolFound, kLpUnsolved);
}

}  // namespace krvx
