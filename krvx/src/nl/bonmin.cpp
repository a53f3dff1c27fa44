// Branch-and-bound over nonlinear relaxations: Bonmin's B-BB on the same interior-point solver,
// through its C++ TMINLP interface, fed with the model's exact derivatives (nlpsolve.h).
//
// Statuses (solve status, solution status):
//   proven optimal                          COMPLETED, OPTIMAL (relaxations solved to local
//                                           optimality: proven for convex problems only)
//   proven infeasible                       COMPLETED, INFEASIBLE
//   relaxation unbounded                    COMPLETED, UNBOUNDED
//   time/node limit, interrupt              STOPPED, FEASIBLE with an incumbent, else NOTFOUND
//   other ends                              FAILED, FEASIBLE or NOTFOUND
//
// Bonmin installs its own SIGINT handler when its search starts (and exits the process on a
// second signal): the evaluations put libkrvx's back at once, and the run puts it back at the
// end. Stop requests reach the search through its event flag, polled at every evaluation.
#include "solve/coin_log.h"
#include "nl/nlpsolve.h"

#include <BonBonminSetup.hpp>
#include <BonCbc.hpp>
#include <BonChooseVariable.hpp>
#include <BonOsiTMINLPInterface.hpp>
#include <BonTMINLP.hpp>
#include <CoinMessageHandler.hpp>
#include <IpJournalist.hpp>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace krvx {

namespace {

using Ipopt::Index;
using Ipopt::Number;

// The interior-point solver's lines: warnings and worse to the problem's message output when
// output is on, nothing else. Named as the solver's console journal so that it adds none of its
// own (and sets this one's levels from its print level, hence the own filter).
class LogJournal : public Ipopt::Journal {
 public:
  LogJournal(ko_prob_struct *p, bool output) : Journal("console", Ipopt::J_NONE), p_(p), output_(output) {}

 protected:
  void PrintImpl(Ipopt::EJournalCategory, Ipopt::EJournalLevel level, const char *str) override {
    if (!output_ || level > Ipopt::J_WARNING) return;
    for (const char *c = str; *c; ++c) {
      if (*c != '\n') {
        line_ += *c;
        continue;
      }
      if (!line_.empty()) messageCode(p_, kMsgSolverLog, 1, "%s", line_.c_str());
      line_.clear();
    }
  }
  void PrintfImpl(Ipopt::EJournalCategory cat, Ipopt::EJournalLevel lev, const char *fmt, va_list ap) override {
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    PrintImpl(cat, lev, buf);
  }
  void FlushBufferImpl() override {}

 private:
  ko_prob_struct *p_;
  bool output_;
  std::string line_;
};

class Minlp : public Bonmin::TMINLP {
 public:
  Minlp(ko_prob_struct *p, const NlpModel &m, const RunSettings &s, bool exact)
      : p_(p), m_(m), s_(s), ev_(m), exact_(exact), mark_(solveSigintMark(p)), t0_(std::chrono::steady_clock::now()) {
    setBranching();
    setSets();
  }

  Bonmin::Bab *bab = nullptr;
  int stop = 0;      // stop reason obeyed
  int attempt = 0;   // the search's start point: 0 the first, then nlpRetryPoint's
  NlpEvaluator &evaluator() { return ev_; }
  double elapsed() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count(); }

  bool get_nlp_info(Index &n, Index &m, Index &nnz_jac_g, Index &nnz_h_lag,
                    Ipopt::TNLP::IndexStyleEnum &style) override {
    n = m_.n;
    m = Index(m_.crows.size());
    nnz_jac_g = ev_.jacobianEntries();
    nnz_h_lag = exact_ ? Index(m_.hrow.size()) : 0;
    style = Ipopt::TNLP::C_STYLE;
    return true;
  }
  bool get_variables_types(Index n, VariableType *types) override {
    for (Index j = 0; j < n; ++j) {
      const bool integer = m_.integer[size_t(j)] != 0;
      types[j] = !integer ? CONTINUOUS : m_.lb[size_t(j)] >= 0.0 && m_.ub[size_t(j)] <= 1.0 ? BINARY : INTEGER;
    }
    return true;
  }
  bool get_variables_linearity(Index n, Ipopt::TNLP::LinearityType *types) override {
    std::fill(types, types + n, Ipopt::TNLP::LINEAR);
    for (size_t k = 0; k < m_.hrow.size(); ++k) types[m_.hrow[k]] = types[m_.hcol[k]] = Ipopt::TNLP::NON_LINEAR;
    return true;
  }
  bool get_constraints_linearity(Index, Ipopt::TNLP::LinearityType *types) override {
    for (size_t c = 0; c < m_.crows.size(); ++c) {
      const size_t i = size_t(m_.crows[c]);
      const bool nonlinear = !m_.qrows[i].empty() || (i < m_.rowtapes.size() && !m_.rowtapes[i].empty());
      types[c] = nonlinear ? Ipopt::TNLP::NON_LINEAR : Ipopt::TNLP::LINEAR;
    }
    return true;
  }
  bool get_bounds_info(Index n, Number *xl, Number *xu, Index, Number *gl, Number *gu) override {
    auto solver = [](double v) { return v >= kInf ? 2e19 : v <= -kInf ? -2e19 : v; };
    for (Index j = 0; j < n; ++j) {
      xl[j] = solver(m_.lb[size_t(j)]);
      xu[j] = solver(m_.ub[size_t(j)]);
    }
    for (size_t c = 0; c < m_.crows.size(); ++c) {
      gl[c] = solver(m_.rowlo[size_t(m_.crows[c])]);
      gu[c] = solver(m_.rowup[size_t(m_.crows[c])]);
    }
    return true;
  }
  bool get_starting_point(Index n, bool init_x, Number *x, bool, Number *, Number *, Index, bool, Number *) override {
    if (init_x) {
      // the first point of the run's sequence where the model and its derivatives evaluate (a
      // division by a column starting at 0, say, fails the first relaxation outright)
      std::vector<double> start;
      for (int k = attempt * kStartTries; k < (attempt + 1) * kStartTries; ++k) {
        if (k == 0) nlpStartPoint(m_, start);
        else nlpRetryPoint(m_, k, start);
        if (evaluates(start)) break;
      }
      std::copy(start.begin(), start.begin() + n, x);
    }
    return true;
  }
  bool eval_f(Index, const Number *x, bool, Number &obj) override {
    poll();
    return ev_.objective(x, obj);
  }
  bool eval_grad_f(Index n, const Number *x, bool, Number *g) override {
    if (!x) {   // Cbc's pseudo-cost objects ask for costs before any point exists: none known
      std::fill(g, g + n, 0.0);
      return true;
    }
    return ev_.gradient(x, g);
  }
  bool eval_g(Index, const Number *x, bool, Index, Number *g) override {
    poll();
    return ev_.constraints(x, g);
  }
  bool eval_jac_g(Index, const Number *x, bool, Index, Index, Index *irow, Index *jcol, Number *vals) override {
    if (!vals) {
      ev_.jacobianPattern(irow, jcol);
      return true;
    }
    return ev_.jacobian(x, vals);
  }
  bool eval_h(Index, const Number *x, bool, Number objfactor, Index, const Number *lambda, bool, Index, Index *irow,
              Index *jcol, Number *vals) override {
    if (!vals) {
      ev_.hessianPattern(irow, jcol);
      return true;
    }
    return ev_.hessian(x, objfactor, lambda, vals);
  }
  void finalize_solution(SolverReturn, Index, const Number *, Number) override {}
  const BranchingInfo *branchingInfo() const override { return branching_.size ? &branching_ : nullptr; }
  const SosInfo *sosConstraints() const override { return sos_.num ? &sos_ : nullptr; }

 private:
  static constexpr int kStartTries = 20;   // start points tried per run
  bool evaluates(const std::vector<double> &x) {
    double f = 0.0;
    std::vector<double> g(size_t(m_.n)), body(m_.crows.size()), jac(size_t(ev_.jacobianEntries()));
    if (!ev_.objective(x.data(), f) || !ev_.gradient(x.data(), g.data()) || !ev_.constraints(x.data(), body.data()) ||
        !ev_.jacobian(x.data(), jac.data()))
      return false;
    auto finite = [](const std::vector<double> &v) { return std::all_of(v.begin(), v.end(), [](double a) { return std::isfinite(a); }); };
    if (!std::isfinite(f) || !finite(g) || !finite(body) || !finite(jac)) return false;
    if (!exact_) return true;
    std::vector<double> ones(m_.crows.size(), 1.0), h(m_.hrow.size());
    return ev_.hessian(x.data(), 1.0, ones.data(), h.data()) && finite(h);
  }
  // Stop requests and the time limit: the search stops at its next node.
  void poll() {
    sigintReclaim();
    int reason = pendingStop(p_, mark_);
    if (!reason && s_.timelimit > 0 && elapsed() >= s_.timelimit) reason = kStopTimeLimit;
    if (!reason || !bab) return;
    if (!stop) stop = reason;
    bab->model().sayEventHappened();
  }
  void setBranching() {
    const krvx::BranchingInfo &b = m_.branching;
    if (b.empty()) return;
    const int n = m_.n;
    branching_.size = n;
    auto ints = [n](const std::vector<int> &v, int none) {
      int *a = new int[size_t(n)];
      for (int j = 0; j < n; ++j) a[j] = size_t(j) < v.size() ? v[size_t(j)] : none;
      return a;
    };
    auto dbls = [n](const std::vector<double> &v) {
      double *a = new double[size_t(n)];
      for (int j = 0; j < n; ++j) a[j] = size_t(j) < v.size() ? v[size_t(j)] : 0.0;
      return a;
    };
    branching_.priorities = ints(b.priority, 0);
    branching_.branchingDirections = ints(b.direction, 0);
    if (!b.upcost.empty()) {   // taken by Bonmin's Cbc branching rules only (setOptions)
      branching_.upPsCosts = dbls(b.upcost);
      branching_.downPsCosts = dbls(b.downcost);
    }
  }
  void setSets() {
    const auto &sets = m_.sets;
    if (sets.empty()) return;
    size_t nz = 0;
    for (const auto &st : sets) nz += st.second->cols.size();
    sos_.num = int(sets.size());
    sos_.numNz = int(nz);
    sos_.types = new char[sets.size()];
    sos_.priorities = new int[sets.size()];
    sos_.starts = new int[sets.size() + 1];
    sos_.indices = new int[nz];
    sos_.weights = new double[nz];
    size_t k = 0;
    for (size_t s = 0; s < sets.size(); ++s) {
      const Set &st = *sets[s].second;
      const size_t index = size_t(sets[s].first);
      sos_.types[s] = st.type == '2' ? 2 : 1;
      const std::vector<int> &given = m_.branching.setpriority;   // from a directive of the set
      sos_.priorities[s] = index < given.size() && given[index] > 0 ? given[index] : 1;
      sos_.starts[s] = int(k);
      // members in the order of their weights (stable), weighted 1, 2, ... (ties are no order)
      std::vector<size_t> order(st.cols.size());
      for (size_t e = 0; e < order.size(); ++e) order[e] = e;
      if (st.weights.size() == st.cols.size())
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return st.weights[a] < st.weights[b]; });
      for (size_t e = 0; e < order.size(); ++e, ++k) {
        sos_.indices[k] = st.cols[order[e]];
        sos_.weights[k] = double(e + 1);
      }
    }
    sos_.starts[sets.size()] = int(k);
  }

  ko_prob_struct *p_;
  const NlpModel &m_;
  const RunSettings &s_;
  NlpEvaluator ev_;
  bool exact_;
  unsigned mark_;
  std::chrono::steady_clock::time_point t0_;
  BranchingInfo branching_;
  SosInfo sos_;
};

// Bonmin's strong branching, with a node where one candidate is infeasible both ways ended as
// infeasible. Bonmin's own choice goes on to the other candidates and, when one of those can be
// fixed, fixes the doubly infeasible one down and then up: a branch on a fixed column, which the
// engine asserts against (the process aborts).
class StrongChoice : public Bonmin::BonChooseVariable {
 public:
  explicit StrongChoice(const Bonmin::BonChooseVariable &c) : Bonmin::BonChooseVariable(c) {}
  OsiChooseVariable *clone() const override { return new StrongChoice(*this); }

 protected:
  int doStrongBranching(OsiSolverInterface *solver, OsiBranchingInformation *info, int todo, int criterion) override {
    const int rc = Bonmin::BonChooseVariable::doStrongBranching(solver, info, todo, criterion);
    for (const Bonmin::HotInfo &r : results_)
      if (r.upStatus() == 1 && r.downStatus() == 1) return -1;
    // A candidate infeasible one way is fixed the other way, in order; a later one sharing a
    // column with it (a set and one of its members) would branch on that fixed column: it is
    // left out of this node's choice.
    std::vector<char> fixing(size_t(solver->getNumCols()), 0);
    std::vector<Bonmin::HotInfo> kept;
    for (const Bonmin::HotInfo &r : results_) {
      const std::vector<int> cols = columns(solver->object(r.whichObject()));
      const bool fixes = r.upStatus() == 1 || r.downStatus() == 1;
      if (fixes && std::any_of(cols.begin(), cols.end(), [&](int c) { return fixing[size_t(c)] != 0; })) continue;
      if (fixes)
        for (int c : cols) fixing[size_t(c)] = 1;
      kept.push_back(r);
    }
    results_.swap(kept);
    return rc;
  }

 private:
  static std::vector<int> columns(const OsiObject *obj) {
    if (const auto *sos = dynamic_cast<const OsiSOS *>(obj))
      return std::vector<int>(sos->members(), sos->members() + sos->numberMembers());
    const int c = obj->columnNumber();
    return c >= 0 ? std::vector<int>{c} : std::vector<int>{};
  }
};

// Whether the linear rows exclude every point within the column bounds lb, ub (changed: bounds
// tightened by the rows, integer columns rounded). A few passes of activity bounds; a row or a
// column counts as crossed only beyond 1e-6 of its scale, so that rounding never cuts a node.
bool linearRowsExclude(const NlpModel &m, std::vector<double> lb, std::vector<double> ub) {
  auto crossed = [](double lo, double up) { return lo - up > 1e-6 * std::max(1.0, std::max(std::fabs(lo), std::fabs(up))); };
  for (int pass = 0; pass < 4; ++pass) {
    bool tightened = false;
    for (int i : m.crows) {
      if (!m.qrows[size_t(i)].empty() || (size_t(i) < m.rowtapes.size() && !m.rowtapes[size_t(i)].empty())) continue;
      const int b = m.jstart[size_t(i)], e = m.jstart[size_t(i) + 1];
      // activity bounds, with the count of infinite contributions
      double lo = 0.0, up = 0.0;
      int loinf = 0, upinf = 0;
      for (int k = b; k < e; ++k) {
        const double a = m.jlin[size_t(k)], l = lb[size_t(m.jcol[size_t(k)])], u = ub[size_t(m.jcol[size_t(k)])];
        if (a == 0.0) continue;
        const double low = a > 0 ? l : u, high = a > 0 ? u : l;
        if (isInf(low)) ++loinf; else lo += a * low;
        if (isInf(high)) ++upinf; else up += a * high;
      }
      const double rlo = m.rowlo[size_t(i)], rup = m.rowup[size_t(i)];
      if ((!loinf && !isInf(rup) && crossed(lo, rup)) || (!upinf && !isInf(rlo) && crossed(rlo, up))) return true;
      for (int k = b; k < e; ++k) {
        const int j = m.jcol[size_t(k)];
        const double a = m.jlin[size_t(k)], l = lb[size_t(j)], u = ub[size_t(j)];
        if (a == 0.0) continue;
        // the rest of the row's activity bounds without column j
        const double low = a > 0 ? l : u, high = a > 0 ? u : l;
        const bool restlo = loinf == 0 || (loinf == 1 && isInf(low)), restup = upinf == 0 || (upinf == 1 && isInf(high));
        double nl = l, nu = u;
        if (!isInf(rup) && restlo) {   // a x_j <= rup - (lo - a low)
          const double cap = (rup - (isInf(low) ? lo : lo - a * low)) / a;
          if (a > 0) nu = std::min(nu, cap); else nl = std::max(nl, cap);
        }
        if (!isInf(rlo) && restup) {   // a x_j >= rlo - (up - a high)
          const double cap = (rlo - (isInf(high) ? up : up - a * high)) / a;
          if (a > 0) nl = std::max(nl, cap); else nu = std::min(nu, cap);
        }
        if (m.integer[size_t(j)]) {
          if (!isInf(nl)) nl = std::ceil(nl - 1e-6);
          if (!isInf(nu)) nu = std::floor(nu + 1e-6);
        }
        if (crossed(nl, nu)) return true;
        // only clear gains, so that the passes end
        if (nl > l + 1e-6 * std::max(1.0, std::fabs(l))) { lb[size_t(j)] = nl; tightened = true; }
        if (nu < u - 1e-6 * std::max(1.0, std::fabs(u))) { ub[size_t(j)] = nu; tightened = true; }
      }
    }
    if (!tightened) break;
  }
  return false;
}

// Bonmin's relaxations, with a strong-branching child whose bounds the linear rows exclude ended
// as infeasible before the interior-point solver sees it: that solver proves a local
// infeasibility only through its restoration phase, the most costly solves of small searches.
// (Only there: Bonmin's heuristics read the state of their own solves.)
class Interface : public Bonmin::OsiTMINLPInterface {
 public:
  explicit Interface(const NlpModel &m) : m_(&m) {}
  OsiSolverInterface *clone(bool copyData = true) const override {
    return copyData ? new Interface(*this) : new Interface(*m_);
  }
  void solveFromHotStart() override {
    if (excluded()) return;
    Bonmin::OsiTMINLPInterface::solveFromHotStart();
  }

 private:
  bool excluded() {
    const int n = getNumCols();
    const double *l = getColLower(), *u = getColUpper();
    std::vector<double> lb(static_cast<size_t>(n)), ub(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j) {
      lb[size_t(j)] = l[j] <= -1e19 ? -kInf : l[j];
      ub[size_t(j)] = u[j] >= 1e19 ? kInf : u[j];
    }
    if (n != m_->n || !linearRowsExclude(*m_, std::move(lb), std::move(ub))) return false;
    optimizationStatus_ = Bonmin::TNLPSolver::provenInfeasible;
    return true;
  }
  const NlpModel *m_;
};

// The setup with the strong branching above in place of Bonmin's.
class Setup : public Bonmin::BonminSetup {
 public:
  explicit Setup(const CoinMessageHandler *handler) : Bonmin::BonminSetup(handler) {}
  void replaceStrongBranching() {
    auto *own = dynamic_cast<Bonmin::BonChooseVariable *>(branchingMethod_);
    if (!own) return;
    branchingMethod_ = new StrongChoice(*own);
    delete own;
  }
};

// Bonmin's options from the run's settings.
void setOptions(Bonmin::BonminSetup &b, const RunSettings &s, bool exact, bool pseudocosts) {
  Ipopt::SmartPtr<Ipopt::OptionsList> o = b.options();
  o->SetStringValue("bonmin.algorithm", "B-BB");
  o->SetNumericValue("bonmin.time_limit", s.timelimit > 0 ? s.timelimit : 1e100);
  o->SetIntegerValue("bonmin.node_limit", s.maxnode > 0 ? int(std::min<int64_t>(s.maxnode, INT_MAX)) : INT_MAX);
  o->SetNumericValue("bonmin.allowable_gap", s.mipabsstop);
  o->SetNumericValue("bonmin.allowable_fraction_gap", s.miprelstop);
  o->SetNumericValue("bonmin.integer_tolerance", std::max(s.miptol, 1e-9));
  o->SetIntegerValue("bonmin.bb_log_level", s.output ? 1 : 0);
  o->SetIntegerValue("bonmin.nlp_log_level", 0);
  o->SetIntegerValue("bonmin.nlp_log_at_root", 0);
  o->SetIntegerValue("bonmin.lp_log_level", 0);
  o->SetIntegerValue("bonmin.milp_log_level", 0);
  o->SetIntegerValue("print_level", 0);
  o->SetStringValue("sb", "yes");
  o->SetIntegerValue("mumps_pivot_order", 0);
  // no feasibility pump: on small problems its extra relaxations at the root cost more than the
  // nodes it saves
  o->SetStringValue("bonmin.heuristic_feasibility_pump", "no");
  o->SetNumericValue("tol", s.optimalitytol);
  // FEASTOL is absolute, as constr_viol_tol; no bounds relaxed (Bonmin's heuristics hold points to
  // the original bounds, and projecting onto them would move rows by the relaxation)
  o->SetNumericValue("constr_viol_tol", s.feastol);
  o->SetNumericValue("acceptable_constr_viol_tol", s.feastol);
  o->SetNumericValue("bound_relax_factor", 0.0);
  if (!exact) o->SetStringValue("hessian_approximation", "limited-memory");
  // user pseudo costs reach only the branching of Cbc's own objects
  if (pseudocosts) o->SetStringValue("bonmin.variable_selection", "most-fractional");
}

}  // namespace

// Bonmin checks an integer point by a relaxation with the integer columns fixed; an equality row
// whose columns are then all fixed leaves the interior-point solver a zero row, and it can stop
// at once at its start point (a column 1 % short of the bound it belongs at), which the search
// keeps. The continuous part at the incumbent's integer values is solved once more without the
// rows that fixing made constant (they hold there); a lower objective replaces the incumbent's
// values (and a bound it passes).
void polish(ko_prob_struct *p, const NlpModel &m, const RunSettings &s, const std::vector<double> &best, Solution &out) {
  NlpModel fixed = m;
  bool any = false, free = false;
  for (int j = 0; j < m.n; ++j) {
    if (m.integer[size_t(j)]) {
      fixed.lb[size_t(j)] = fixed.ub[size_t(j)] = std::round(best[size_t(j)]);
      fixed.integer[size_t(j)] = 0;
      any = true;
    } else {
      free = free || m.ub[size_t(j)] > m.lb[size_t(j)];
    }
  }
  if (!any || !free) return;
  fixed.discrete = false;
  fixed.crows.clear();
  for (int i : m.crows) {
    bool free = false;
    for (int e = m.jstart[size_t(i)]; e < m.jstart[size_t(i) + 1] && !free; ++e)
      free = !m.integer[size_t(m.jcol[size_t(e)])];
    if (free) fixed.crows.push_back(i);
  }
  if (fixed.crows.size() == m.crows.size()) return;   // nothing the engine's check could miss
  Solution again;
  if (nlpRun(p, fixed, s, again) != 0 || again.solvestatus != KRVX_SOLVESTATUS_COMPLETED ||
      again.solstatus != KRVX_SOLSTATUS_OPTIMAL || !again.has_x)
    return;
  // the rows left out hold at the incumbent and do not change with the continuous columns
  const double gain = m.sense * (out.objval - again.objval);   // > 0: better
  if (!(gain > 1e-9 * (1.0 + std::fabs(out.objval)))) return;
  out.x = again.x;
  out.slack = again.slack;
  out.objval = again.objval;
  if (m.sense * (out.bestbound - out.objval) > 0) out.bestbound = out.objval;
}

constexpr int kRetries = 3;   // runs from other start points after a relaxation failed

int minlpRun(ko_prob_struct *p, const NlpModel &m, const RunSettings &s, Solution &out) {
  out = Solution();
  const bool exact = m.exactHessian;
  Ipopt::SmartPtr<Minlp> tminlp = new Minlp(p, m, s, exact);
  bool infeasible = !m.emptyRowsHold(s.feastol);   // a row without columns excludes 0
  for (int j = 0; j < m.n; ++j)
    infeasible = infeasible || m.lb[size_t(j)] > m.ub[size_t(j)];   // no integer within the bounds
  if (infeasible) {
    out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    out.solstatus = KRVX_SOLSTATUS_INFEASIBLE;
    out.mipstatus = kMipInfeas;
    return 0;
  }
  // Bonmin's infeasibility is a proof only for a model shown convex (a relaxation of a non-convex
  // one may fail where it has points)
  const bool convexModel = nlpConvex(m);
  std::string error;
  bool ran = false;
  Bonmin::Bab::MipStatuses status = Bonmin::Bab::NoSolutionKnown;
  std::vector<double> best;
  double bound = 0.0;
  int64_t nodes = 0, iterations = 0;
  {
    std::unique_lock<std::mutex> lock;
    if (int reason = acquireNlpSolver(lock, p, solveSigintMark(p))) {
      tminlp->stop = reason;
    } else {
      // a relaxation that cannot be solved from the start point (a division by a column starting
      // at 0, say) ends Bonmin's search: the search is run again from other start points
      for (int attempt = 0; attempt <= kRetries; ++attempt) try {
        error.clear();
        tminlp->attempt = attempt;
        CoinLogHandler handler(p);
        Setup bonmin(&handler);
        bonmin.initializeOptionsAndJournalist();
        bonmin.journalist()->DeleteAllJournals();
        bonmin.journalist()->AddJournal(new LogJournal(p, s.output));
        setOptions(bonmin, s, exact, !m.branching.upcost.empty());
        Interface nlp(m);
        nlp.initialize(bonmin.roptions(), bonmin.options(), bonmin.journalist(), "bonmin.", Ipopt::GetRawPtr(tminlp));
        nlp.passInMessageHandler(&handler);
        bonmin.initialize(nlp);
        bonmin.replaceStrongBranching();
        Bonmin::Bab bab;
        tminlp->bab = &bab;
        ran = true;
        bab(bonmin);
        tminlp->bab = nullptr;
        status = bab.mipStatus();
        if (bab.bestSolution()) best.assign(bab.bestSolution(), bab.bestSolution() + m.n);
        bound = bab.bestBound();
        nodes = bab.numNodes();
        iterations = bab.iterationCount();
        // otherwise other start points first
        if (status == Bonmin::Bab::ProvenInfeasible && !convexModel && attempt < kRetries && !tminlp->stop) {
          best.clear();
          sigintReclaim();
          continue;
        }
        break;
      } catch (Bonmin::TNLPSolver::UnsolvedError *e) {
        error = "a relaxation could not be solved";
        delete e;
        if (tminlp->stop || tminlp->evaluator().userFailed) break;
      } catch (const CoinError &e) {
        // Bonmin's own errors put their text last
        error = e.message() + (e.methodName().empty() ? "" : " (" + e.methodName() + ")") +
                (e.className().empty() ? "" : ": " + e.className());
        break;
      } catch (const Ipopt::IpoptException &e) {
        error = e.Message();
        break;
      } catch (const std::bad_alloc &) {
        error = "out of memory";
        break;
      } catch (...) {
        error = "internal failure";
        break;
      }
      tminlp->bab = nullptr;
      sigintReclaim();
    }
  }
  NlpEvaluator &ev = tminlp->evaluator();
  out.time = tminlp->elapsed();
  out.nodes = nodes;
  out.bariter = iterations;
  if (ev.userFailed || (!error.empty() && !tminlp->stop)) {
    out = Solution();
    out.solvestatus = KRVX_SOLVESTATUS_FAILED;
    out.stopstatus = kStopGeneric;
    out.mipstatus = kMipNoSolFound;
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    if (!ev.error.empty() && ev.userFailed) return fail(p, kErrSolver, "The nonlinear solve failed: %s", ev.error.c_str());
    return fail(p, kErrSolver, "The mixed-integer nonlinear solver failed: %s", error.c_str());
  }
  const bool have = !best.empty() && ev.bodies(best.data()) && nlpUserSolution(m, best.data(), ev.body().data(), out);
  const double worst = m.sense < 0 ? kInf : -kInf;   // no bound known
  out.bestbound = std::fabs(bound) >= 1e50 ? (status == Bonmin::Bab::ProvenInfeasible ? -worst : worst) : m.sense * bound;
  if (have && !tminlp->stop) polish(p, m, s, best, out);
  out.lpstatus = kLpUnstarted;
  auto stopped = [&](int reason) {
    out.solvestatus = KRVX_SOLVESTATUS_STOPPED;
    out.solstatus = have ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND;
    out.mipstatus = have ? kMipSolution : kMipNoSolFound;
    out.stopstatus = reason;
  };
  if (tminlp->stop) {
    stopped(tminlp->stop);
    return 0;
  }
  switch (ran ? status : Bonmin::Bab::NoSolutionKnown) {
    case Bonmin::Bab::FeasibleOptimal:
      out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
      out.solstatus = have ? KRVX_SOLSTATUS_OPTIMAL : KRVX_SOLSTATUS_NOTFOUND;
      out.mipstatus = have ? kMipOptimal : kMipNoSolFound;
      return 0;
    case Bonmin::Bab::ProvenInfeasible:
      out = Solution();
      out.time = tminlp->elapsed();
      out.nodes = nodes;
      out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
      if (!convexModel) {   // no proof: no solution found
        nlpLocallyInfeasible(p, "mixed-integer nonlinear solver", kRetries + 1, out);
        out.mipstatus = kMipNoSolFound;
        return 0;
      }
      out.solstatus = KRVX_SOLSTATUS_INFEASIBLE;
      out.mipstatus = kMipInfeas;
      return 0;
    case Bonmin::Bab::UnboundedOrInfeasible:
      out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
      out.solstatus = KRVX_SOLSTATUS_UNBOUNDED;
      out.mipstatus = kMipUnbounded;
      return 0;
    default:
      if (s.timelimit > 0 && out.time >= s.timelimit) stopped(kStopTimeLimit);
      else if (s.maxnode > 0 && nodes >= s.maxnode) stopped(kStopNodeLimit);
      else {
        out.solvestatus = KRVX_SOLVESTATUS_FAILED;
        out.solstatus = have ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND;
        out.mipstatus = have ? kMipSolution : kMipNoSolFound;
        out.stopstatus = kStopNumerical;
        messageCode(p, kMsgSolve, 3, "The mixed-integer nonlinear solver ended without a proof of optimality");
      }
      return 0;
  }
}

}  // namespace krvx
