// Token streams of formulas: checking and compiling into tapes, and evaluating tapes with exact
// first derivatives (reverse mode) and Hessian-vector products (forward over reverse, through the
// dual numbers below). Also the KRVN evaluation calls.
#include "nl/nl.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace krvx {
namespace nl {
namespace {

// ---- checking and compiling ----

bool isUnaryFunction(int code) {
  switch (code) {
    case KRVN_FN_LOG10: case KRVN_FN_LN: case KRVN_FN_EXP: case KRVN_FN_ABS: case KRVN_FN_SQRT: case KRVN_FN_SIN:
    case KRVN_FN_COS: case KRVN_FN_TAN: case KRVN_FN_ASIN: case KRVN_FN_ACOS: case KRVN_FN_ATAN: case KRVN_FN_SIGN:
    case KRVN_FN_ERF: case KRVN_FN_ERFC: return true;
    default: return false;
  }
}
bool isNaryFunction(int code) {
  return code == KRVN_FN_MIN || code == KRVN_FN_MAX || code == KRVN_FN_SUM || code == KRVN_FN_PROD;
}

class Compiler {
 public:
  Compiler(const Formula &f, int64_t ncols, const UserFunctions &funcs, const std::string &where)
      : f_(f), ncols_(ncols), funcs_(funcs), where_(where) {}

  Tape run() {
    const size_t n = f_.type.size();
    if (f_.value.size() != n) fail(0, "types and values differ in length");
    if (n == 0 || f_.type[n - 1] != KRVN_TOK_EOF) fail(int64_t(n), "the formula does not end with an end token (type 0)");
    for (size_t k = 0; k + 1 < n; ++k) token(int64_t(k), f_.type[k], f_.value[k]);
    if (stack_.empty()) {
      // every operand went into the column and the factor (a product of a column and numbers): g = 1
      if (f_.col == KRVN_NOCOL) fail(int64_t(n - 1), "the formula is empty");
      Node one{Kind::Const};
      one.value = 1.0;
      stack_.push_back(push(one));
    }
    if (stack_.size() > 1 || stack_[0] < 0)
      fail(int64_t(n - 1), "the formula leaves %zu items instead of one (missing operator or function token?)",
           stack_.size());
    int root = stack_[0];
    if (f_.col != KRVN_NOCOL) root = binary(Kind::Mul, push(Node{Kind::Var, f_.col}), root);
    if (f_.factor != 1.0) {
      Node c{Kind::Const};
      c.value = f_.factor;
      root = binary(Kind::Mul, push(c), root);
    }
    (void)root;
    std::sort(t_.cols.begin(), t_.cols.end());
    t_.cols.erase(std::unique(t_.cols.begin(), t_.cols.end()), t_.cols.end());
    return std::move(t_);
  }

 private:
  [[noreturn]] void fail(int64_t pos, const char *fmt, ...) __attribute__((format(printf, 3, 4))) {
    char buf[300];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    raise(kErrInvalid, "%.150s: token %lld: %s", where_.c_str(), (long long)pos, buf);
  }

  int asInt(int64_t pos, double v, const char *what) {
    if (!(v == std::floor(v)) || v < -2147483648.0 || v > 2147483647.0) fail(pos, "%s %g is not an integer", what, v);
    return int(v);
  }

  int push(Node nd) {
    if (nd.kind == Kind::Var) t_.cols.push_back(nd.code);
    t_.nodes.push_back(nd);
    return int(t_.nodes.size()) - 1;
  }
  int node(Kind kind, int code, const std::vector<int> &args) {
    Node nd{kind, code, int(t_.args.size()), int(args.size())};
    t_.args.insert(t_.args.end(), args.begin(), args.end());
    return push(nd);
  }
  int binary(Kind kind, int a, int b) { return node(kind, 0, {a, b}); }

  int pop(int64_t pos, const char *what) {
    if (stack_.empty() || stack_.back() < 0) fail(pos, "%s is missing an operand", what);
    int v = stack_.back();
    stack_.pop_back();
    return v;
  }
  // Arguments back to the marker, in push order.
  std::vector<int> popArgs(int64_t pos, const char *what) {
    std::vector<int> args;
    while (!stack_.empty() && stack_.back() >= 0) {
      args.push_back(stack_.back());
      stack_.pop_back();
    }
    if (stack_.empty()) fail(pos, "%s has no argument marker (type 22) before its arguments", what);
    stack_.pop_back();
    std::reverse(args.begin(), args.end());
    return args;
  }

  void token(int64_t pos, int type, double value) {
    switch (type) {
      case KRVN_TOK_EOF: fail(pos, "end token (type 0) before the end of the formula");
      case KRVN_TOK_CON: {
        if (!std::isfinite(value)) fail(pos, "constant %g is not finite", value);
        Node c{Kind::Const};
        c.value = value;
        stack_.push_back(push(c));
        return;
      }
      case KRVN_TOK_COL: {
        int c = asInt(pos, value, "column");
        if (c < 0 || c >= ncols_) fail(pos, "column %d is out of range (the problem has %lld columns)", c, (long long)ncols_);
        stack_.push_back(push(Node{Kind::Var, c}));
        return;
      }
      case KRVN_TOK_RB: stack_.push_back(-1); return;
      case KRVN_TOK_OP: {
        int op = asInt(pos, value, "operator");
        if (op == KRVN_OP_UMINUS) {
          stack_.push_back(node(Kind::Neg, 0, {pop(pos, "unary minus")}));
          return;
        }
        static const Kind kinds[] = {Kind::Pow, Kind::Mul, Kind::Div, Kind::Add, Kind::Sub};
        if (op < KRVN_OP_POWER || op > KRVN_OP_MINUS) fail(pos, "unknown operator %d (1..6)", op);
        int b = pop(pos, "operator"), a = pop(pos, "operator");
        stack_.push_back(binary(kinds[op - KRVN_OP_POWER], a, b));
        return;
      }
      case KRVN_TOK_IFUN: {
        int code = asInt(pos, value, "function code");
        std::vector<int> args;
        if (isUnaryFunction(code)) {
          args = popArgs(pos, "function");
          if (args.size() != 1) fail(pos, "function %d takes 1 argument, %zu given", code, args.size());
        } else if (isNaryFunction(code)) {
          args = popArgs(pos, "function");
          if (args.empty()) fail(pos, "function %d needs at least one argument", code);
        } else if (code == KRVN_FN_PWL) {
          args = popArgs(pos, "pwl");
          std::reverse(args.begin(), args.end());   // written last-to-first
          pwlArgs(pos, args);
        } else {
          fail(pos, "unknown function code %d", code);
        }
        stack_.push_back(node(Kind::Func, code, args));
        return;
      }
      case KRVN_TOK_UFUN: {
        int number = asInt(pos, value, "user function number");
        if (number < 1 || size_t(number) > funcs_.size())
          fail(pos, "user function %d is not registered (%zu registered)", number, funcs_.size());
        std::vector<int> args = popArgs(pos, "user function");
        std::reverse(args.begin(), args.end());     // written last-to-first
        const auto &u = funcs_[size_t(number - 1)];
        if (int(args.size()) != u.nargs)
          fail(pos, "user function %d ('%.60s') takes %d arguments, %zu given", number, u.name.c_str(), u.nargs,
               args.size());
        stack_.push_back(node(Kind::User, number - 1, args));
        return;
      }
      default: fail(pos, "unknown token type %d", type);
    }
  }

  // pwl(v, x1, y1, x2, y2, ...): at least two breakpoints, constants, x non-decreasing.
  void pwlArgs(int64_t pos, const std::vector<int> &args) {
    if (args.size() < 5 || args.size() % 2 == 0)
      fail(pos, "pwl takes a variable and at least two (x, y) breakpoints, %zu arguments given", args.size());
    for (size_t k = 1; k < args.size(); ++k)
      if (t_.nodes[size_t(args[k])].kind != Kind::Const) fail(pos, "pwl breakpoints must be constants");
    for (size_t k = 3; k < args.size(); k += 2)
      if (t_.nodes[size_t(args[k])].value < t_.nodes[size_t(args[k - 2])].value)
        fail(pos, "pwl breakpoints are not in increasing order of x");
  }

  const Formula &f_;
  int64_t ncols_;
  const UserFunctions &funcs_;
  const std::string &where_;
  Tape t_;
  std::vector<int> stack_;   // node indices; -1 = argument marker
};

// ---- numbers: double and dual numbers (value, derivative along a direction) ----

struct Dual {
  double v = 0.0, d = 0.0;
  Dual() = default;
  Dual(double value, double deriv = 0.0) : v(value), d(deriv) {}
};
inline Dual operator+(Dual a, Dual b) { return {a.v + b.v, a.d + b.d}; }
inline Dual operator-(Dual a, Dual b) { return {a.v - b.v, a.d - b.d}; }
inline Dual operator-(Dual a) { return {-a.v, -a.d}; }
inline Dual operator*(Dual a, Dual b) { return {a.v * b.v, a.d * b.v + a.v * b.d}; }
inline Dual operator/(Dual a, Dual b) { return {a.v / b.v, (a.d * b.v - a.v * b.d) / (b.v * b.v)}; }
inline Dual &operator+=(Dual &a, Dual b) { return a = a + b; }
inline Dual &operator-=(Dual &a, Dual b) { return a = a - b; }
inline double val(double a) { return a; }
inline double val(Dual a) { return a.v; }
inline bool isZero(double a) { return a == 0.0; }
inline bool isZero(Dual a) { return a.v == 0.0 && a.d == 0.0; }

constexpr double kTwoOverSqrtPi = 1.1283791670955126;
// Where a derivative is infinite at the edge of a function's domain (sqrt and fractional powers
// at 0, asin and acos at +-1) it is taken this far inside: a finite one-sided slope that lets the
// method step away, and the exact 0 of sqrt(sum of squares) at its kink.
constexpr double kEdge = 1e-12;
constexpr double kLn10 = 2.302585092994046;

#define KRVX_DUAL_FN(name, deriv) \
  inline Dual name(Dual a) { return {std::name(a.v), (deriv) * a.d}; }
using std::acos; using std::asin; using std::atan; using std::cos; using std::erf; using std::erfc; using std::exp;
using std::log; using std::sin; using std::sqrt;
KRVX_DUAL_FN(exp, std::exp(a.v))
KRVX_DUAL_FN(log, 1.0 / a.v)
KRVX_DUAL_FN(sin, std::cos(a.v))
KRVX_DUAL_FN(cos, -std::sin(a.v))
KRVX_DUAL_FN(sqrt, 0.5 / std::sqrt(a.v))
KRVX_DUAL_FN(asin, 1.0 / std::sqrt(1.0 - a.v * a.v))
KRVX_DUAL_FN(acos, -1.0 / std::sqrt(1.0 - a.v * a.v))
KRVX_DUAL_FN(atan, 1.0 / (1.0 + a.v * a.v))
KRVX_DUAL_FN(erf, kTwoOverSqrtPi * std::exp(-a.v * a.v))
KRVX_DUAL_FN(erfc, -kTwoOverSqrtPi * std::exp(-a.v * a.v))
#undef KRVX_DUAL_FN
inline double pow(double a, double b) { return std::pow(a, b); }
// sqrt at 0: the value, and the direction's derivative at the edge slope
inline double sqrtAtZero(double) { return 0.0; }
inline Dual sqrtAtZero(Dual a) { return {0.0, 0.5 / std::sqrt(kEdge) * a.d}; }
inline Dual pow(Dual a, Dual b) {
  double p = std::pow(a.v, b.v);
  double d = a.d == 0.0 ? 0.0 : b.v * std::pow(a.v == 0.0 && b.v < 1.0 ? kEdge : a.v, b.v - 1.0) * a.d;
  if (b.d != 0.0 && p != 0.0) d += p * std::log(a.v) * b.d;
  return {p, d};
}

// ---- user functions ----

struct EvalContext {
  const tagKRVNproblem *nl;
  bool failed = false;
  EvalContext *outer;
};
thread_local EvalContext *currentContext = nullptr;

[[noreturn]] void evalFail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void evalFail(const char *fmt, ...) {
  char buf[400];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  raise(kErrSolver, "evaluation failed: %s", buf);
}

// One call of a user function; partials (may be null) gets all partial derivatives.
double callUser(const tagKRVNproblem::UserFunction &u, const tagKRVNproblem *nl, const double *x, double *partials) {
  EvalContext ctx{nl, false, currentContext};
  currentContext = &ctx;
  double result = 0.0;
  int rc = 0;
  if (u.functype == KRVN_FUNCTYPE_VALUE) {
    result = reinterpret_cast<KRVNuserfunc2>(u.func)(x, u.userdata);
  } else if (!partials) {
    rc = reinterpret_cast<KRVNuserfunc5>(u.func)(x, nullptr, &result, nullptr, u.userdata);
  } else {
    std::vector<double> deltas(size_t(u.nargs));
    for (int i = 0; i < u.nargs; ++i) {
      deltas[size_t(i)] = 1e-6 * std::max(1.0, std::fabs(x[i]));
      partials[i] = std::nan("");
    }
    rc = reinterpret_cast<KRVNuserfunc5>(u.func)(x, deltas.data(), &result, partials, u.userdata);
  }
  currentContext = ctx.outer;
  if (rc != 0 || ctx.failed) evalFail("user function '%.60s' reported an error", u.name.c_str());
  if (!std::isfinite(result)) evalFail("user function '%.60s' returned %g", u.name.c_str(), result);
  if (partials && u.functype == KRVN_FUNCTYPE_DERIVS)
    for (int i = 0; i < u.nargs; ++i)
      if (!std::isfinite(partials[i]))
        evalFail("user function '%.60s' gave no finite partial derivative for argument %d", u.name.c_str(), i + 1);
  return result;
}

// Value and gradient of a user function: its own partials (type 5) or central differences (type 2).
double userGradient(const tagKRVNproblem::UserFunction &u, const tagKRVNproblem *nl, const double *x, double *g) {
  if (u.functype == KRVN_FUNCTYPE_DERIVS) return callUser(u, nl, x, g);
  double f = callUser(u, nl, x, nullptr);
  std::vector<double> y(x, x + u.nargs);
  for (int i = 0; i < u.nargs; ++i) {
    double h = 6e-6 * std::max(1.0, std::fabs(x[i]));
    y[size_t(i)] = x[i] + h;
    double up = callUser(u, nl, y.data(), nullptr);
    y[size_t(i)] = x[i] - h;
    double down = callUser(u, nl, y.data(), nullptr);
    y[size_t(i)] = x[i];
    g[i] = (up - down) / (2 * h);
  }
  return f;
}

// ---- the evaluator over T = double (values, gradients) or Dual (Hessian-vector products) ----

template <class T>
class Evaluator {
 public:
  Evaluator(const Tape &t, const UserFunctions &funcs, const tagKRVNproblem *nl, bool derivs)
      : t_(t), funcs_(funcs), nl_(nl), derivs_(derivs), val_(t.nodes.size()), upart_(t.nodes.size()) {}

  // xs: the value (and direction) of column c.
  template <class X>
  T forward(X &&xs) {
    for (size_t i = 0; i < t_.nodes.size(); ++i) {
      const Node &n = t_.nodes[i];
      const int *a = t_.args.data() + n.first;
      T v = T(0.0);
      switch (n.kind) {
        case Kind::Const: v = T(n.value); break;
        case Kind::Var: v = xs(n.code); break;
        case Kind::Neg: v = -val_[a[0]]; break;
        case Kind::Add: v = val_[a[0]] + val_[a[1]]; break;
        case Kind::Sub: v = val_[a[0]] - val_[a[1]]; break;
        case Kind::Mul: v = val_[a[0]] * val_[a[1]]; break;
        case Kind::Div:
          if (val(val_[a[1]]) == 0.0) evalFail("division by zero");
          v = val_[a[0]] / val_[a[1]];
          break;
        case Kind::Pow: v = power(n, a); break;
        case Kind::Func: v = function(n, a); break;
        case Kind::User: v = user(i, n, a); break;
      }
      if (!std::isfinite(val(v))) evalFail("a value is not finite (overflow)");
      val_[i] = v;
    }
    return val_.back();
  }

  // Adds weight * gradient into sink(column, adjoint).
  template <class S>
  void reverse(T weight, S &&sink) {
    std::vector<T> adj(t_.nodes.size());
    adj.back() = weight;
    for (size_t i = t_.nodes.size(); i-- > 0;) {
      const T w = adj[i];
      if (isZero(w)) continue;
      const Node &n = t_.nodes[i];
      const int *a = t_.args.data() + n.first;
      switch (n.kind) {
        case Kind::Const: break;
        case Kind::Var: sink(n.code, w); break;
        case Kind::Neg: adj[a[0]] -= w; break;
        case Kind::Add: adj[a[0]] += w; adj[a[1]] += w; break;
        case Kind::Sub: adj[a[0]] += w; adj[a[1]] -= w; break;
        case Kind::Mul: adj[a[0]] += w * val_[a[1]]; adj[a[1]] += w * val_[a[0]]; break;
        case Kind::Div:
          adj[a[0]] += w / val_[a[1]];
          adj[a[1]] -= w * val_[i] / val_[a[1]];
          break;
        case Kind::Pow: {
          const T &b = val_[a[1]], &x = val_[a[0]];
          if (val(b) != 0.0) {
            adj[a[0]] += w * b * pow(val(x) == 0.0 && val(b) < 1.0 ? T(kEdge) : x, b - T(1.0));
          }
          if (t_.nodes[size_t(a[1])].kind != Kind::Const && val(val_[i]) != 0.0) {
            if (val(x) < 0.0) evalFail("power of a negative value %g with a variable exponent", val(x));
            adj[a[1]] += w * val_[i] * log(x);
          }
          break;
        }
        case Kind::Func: functionAdjoint(n, a, i, w, adj); break;
        case Kind::User:
          for (int k = 0; k < n.count; ++k) adj[a[k]] += w * upart_[i][size_t(k)];
          break;
      }
    }
  }

 private:
  T power(const Node &, const int *a) {
    const double x = val(val_[a[0]]), b = val(val_[a[1]]);
    if (x < 0.0 && b != std::floor(b)) evalFail("power of a negative value %g to the non-integer exponent %g", x, b);
    if (x == 0.0 && b < 0.0) evalFail("division by zero (0 to the power %g)", b);
    return pow(val_[a[0]], val_[a[1]]);
  }

  T function(const Node &n, const int *a) {
    const T &x = val_[a[0]];
    const double xv = val(x);
    switch (n.code) {
      case KRVN_FN_LOG10:
      case KRVN_FN_LN:
        if (xv <= 0.0) evalFail("logarithm of the non-positive value %g", xv);
        return n.code == KRVN_FN_LN ? log(x) : log(x) / T(kLn10);
      case KRVN_FN_EXP: return exp(x);
      case KRVN_FN_ABS: return xv < 0.0 ? -x : x;
      case KRVN_FN_SQRT:
        if (xv < 0.0 && !roundedZero(a[0])) evalFail("square root of the negative value %g", xv);
        if (roundedZero(a[0])) return sqrtAtZero(x);
        return sqrt(x);
      case KRVN_FN_SIN: return sin(x);
      case KRVN_FN_COS: return cos(x);
      case KRVN_FN_TAN: return sin(x) / cos(x);
      case KRVN_FN_ASIN:
      case KRVN_FN_ACOS:
        if (xv < -1.0 || xv > 1.0) evalFail("%s of %g, outside [-1, 1]", n.code == KRVN_FN_ASIN ? "asin" : "acos", xv);
        return n.code == KRVN_FN_ASIN ? asin(x) : acos(x);
      case KRVN_FN_ATAN: return atan(x);
      case KRVN_FN_SIGN: return T(xv < 0.0 ? -1.0 : xv > 0.0 ? 1.0 : 0.0);
      case KRVN_FN_ERF: return erf(x);
      case KRVN_FN_ERFC: return erfc(x);
      case KRVN_FN_MIN:
      case KRVN_FN_MAX: return val_[a[extremum(n, a)]];
      case KRVN_FN_SUM: {
        T s = x;
        for (int k = 1; k < n.count; ++k) s += val_[a[k]];
        return s;
      }
      case KRVN_FN_PROD: {
        T s = x;
        for (int k = 1; k < n.count; ++k) s = s * val_[a[k]];
        return s;
      }
      case KRVN_FN_PWL: {
        double slope, intercept;
        pwlSegment(n, a, xv, &slope, &intercept);
        return T(slope) * x + T(intercept);
      }
      default: evalFail("unknown function code %d", n.code);
    }
  }

  // Whether node k's value is 0 up to its rounding: a sum of squares written out (x^2 - 2ax +
  // a^2) ends a little off 0 at its minimum. Its error bound scales with the largest value
  // computed up to it.
  bool roundedZero(int k) const {
    const double v = val(val_[size_t(k)]);
    if (v == 0.0) return true;
    if (std::fabs(v) > 1e-6) return false;
    double scale = 0.0;
    for (int j = 0; j <= k; ++j) scale = std::max(scale, std::fabs(val(val_[size_t(j)])));
    return std::fabs(v) <= 64 * 2.220446049250313e-16 * scale;
  }

  // The argument of min/max that gives the value: the first one attaining it.
  int extremum(const Node &n, const int *a) const {
    int best = 0;
    for (int k = 1; k < n.count; ++k) {
      double v = val(val_[a[k]]), b = val(val_[a[best]]);
      if (n.code == KRVN_FN_MIN ? v < b : v > b) best = k;
    }
    return best;
  }

  // The segment of a pwl at v: the one whose [x_k, x_k+1) holds v; the first before the first
  // breakpoint, the last at and beyond the last one.
  void pwlSegment(const Node &n, const int *a, double v, double *slope, double *intercept) const {
    const int m = (n.count - 1) / 2;
    auto X = [&](int k) { return t_.nodes[size_t(a[1 + 2 * k])].value; };
    auto Y = [&](int k) { return t_.nodes[size_t(a[2 + 2 * k])].value; };
    int k = 0;
    while (k < m && X(k) <= v) ++k;   // first breakpoint with x > v
    int lo;
    if (k == 0) {
      if (X(1) == X(0)) evalFail("piecewise linear function has a discontinuity at its first breakpoint %g", X(0));
      lo = 0;
    } else if (k == m) {
      if (v == X(m - 1)) {
        *slope = X(m - 1) == X(m - 2) ? 0.0 : (Y(m - 1) - Y(m - 2)) / (X(m - 1) - X(m - 2));
        *intercept = Y(m - 1) - *slope * v;
        return;
      }
      if (X(m - 1) == X(m - 2)) evalFail("piecewise linear function has a discontinuity at its last breakpoint %g", X(m - 1));
      lo = m - 2;
    } else {
      lo = k - 1;
    }
    *slope = (Y(lo + 1) - Y(lo)) / (X(lo + 1) - X(lo));
    *intercept = Y(lo) - *slope * X(lo);
  }

  void functionAdjoint(const Node &n, const int *a, size_t i, const T &w, std::vector<T> &adj) {
    const T &x = val_[a[0]];
    const double xv = val(x);
    switch (n.code) {
      case KRVN_FN_LOG10: adj[a[0]] += w / (x * T(kLn10)); break;
      case KRVN_FN_LN: adj[a[0]] += w / x; break;
      case KRVN_FN_EXP: adj[a[0]] += w * val_[i]; break;
      case KRVN_FN_ABS: adj[a[0]] += w * T(xv < 0.0 ? -1.0 : xv > 0.0 ? 1.0 : 0.0); break;
      case KRVN_FN_SQRT:
        adj[a[0]] += w * T(0.5) / (roundedZero(a[0]) ? T(std::sqrt(kEdge)) : val_[i]);
        break;
      case KRVN_FN_SIN: adj[a[0]] += w * cos(x); break;
      case KRVN_FN_COS: adj[a[0]] -= w * sin(x); break;
      case KRVN_FN_TAN: adj[a[0]] += w * (T(1.0) + val_[i] * val_[i]); break;
      case KRVN_FN_ASIN:
      case KRVN_FN_ACOS: {
        const T y = std::fabs(xv) == 1.0 ? T(xv * (1.0 - kEdge)) : x;
        T d = T(1.0) / sqrt(T(1.0) - y * y);
        if (n.code == KRVN_FN_ASIN) adj[a[0]] += w * d;
        else adj[a[0]] -= w * d;
        break;
      }
      case KRVN_FN_ATAN: adj[a[0]] += w / (T(1.0) + x * x); break;
      case KRVN_FN_SIGN: break;
      case KRVN_FN_ERF: adj[a[0]] += w * T(kTwoOverSqrtPi) * exp(-(x * x)); break;
      case KRVN_FN_ERFC: adj[a[0]] -= w * T(kTwoOverSqrtPi) * exp(-(x * x)); break;
      case KRVN_FN_MIN:
      case KRVN_FN_MAX: adj[a[extremum(n, a)]] += w; break;
      case KRVN_FN_SUM:
        for (int k = 0; k < n.count; ++k) adj[a[k]] += w;
        break;
      case KRVN_FN_PROD: {
        // product of the others through prefix and suffix products (zeros allowed)
        std::vector<T> suffix(size_t(n.count) + 1, T(1.0));
        for (int k = n.count; k-- > 0;) suffix[size_t(k)] = suffix[size_t(k) + 1] * val_[a[k]];
        T prefix = T(1.0);
        for (int k = 0; k < n.count; ++k) {
          adj[a[k]] += w * prefix * suffix[size_t(k) + 1];
          prefix = prefix * val_[a[k]];
        }
        break;
      }
      case KRVN_FN_PWL: {
        double slope, intercept;
        pwlSegment(n, a, xv, &slope, &intercept);
        adj[a[0]] += w * T(slope);
        break;
      }
      default: break;
    }
  }

  T user(size_t i, const Node &n, const int *a);

  const Tape &t_;
  const UserFunctions &funcs_;
  const tagKRVNproblem *nl_;
  bool derivs_;
  std::vector<T> val_;
  std::vector<std::vector<T>> upart_;   // per user-function node: partials (when derivatives are wanted)
};

template <>
double Evaluator<double>::user(size_t i, const Node &n, const int *a) {
  const auto &u = funcs_[size_t(n.code)];
  std::vector<double> x(size_t(n.count));
  for (int k = 0; k < n.count; ++k) x[size_t(k)] = val_[a[k]];
  if (!derivs_) return callUser(u, nl_, x.data(), nullptr);
  upart_[i].assign(size_t(n.count), 0.0);
  return userGradient(u, nl_, x.data(), upart_[i].data());
}

// Dual: the value's direction from the gradient; the partials' directions from central
// differences of the gradient along the arguments' direction.
template <>
Dual Evaluator<Dual>::user(size_t i, const Node &n, const int *a) {
  const auto &u = funcs_[size_t(n.code)];
  const size_t m = size_t(n.count);
  std::vector<double> x(m), dir(m), g(m), gp(m), gm(m), y(m);
  double dnorm = 0.0, xnorm = 1.0;
  for (size_t k = 0; k < m; ++k) {
    x[k] = val_[a[k]].v;
    dir[k] = val_[a[k]].d;
    dnorm = std::max(dnorm, std::fabs(dir[k]));
    xnorm = std::max(xnorm, std::fabs(x[k]));
  }
  double f = userGradient(u, nl_, x.data(), g.data());
  upart_[i].assign(m, Dual());
  double df = 0.0;
  for (size_t k = 0; k < m; ++k) {
    df += g[k] * dir[k];
    upart_[i][k].v = g[k];
  }
  if (dnorm > 0.0) {
    double h = 1e-4 * xnorm / dnorm;
    for (size_t k = 0; k < m; ++k) y[k] = x[k] + h * dir[k];
    userGradient(u, nl_, y.data(), gp.data());
    for (size_t k = 0; k < m; ++k) y[k] = x[k] - h * dir[k];
    userGradient(u, nl_, y.data(), gm.data());
    for (size_t k = 0; k < m; ++k) upart_[i][k].d = (gp[k] - gm[k]) / (2 * h);
  }
  return Dual(f, df);
}

}  // namespace

Tape compile(const Formula &f, int64_t ncols, const UserFunctions &funcs, const std::string &where) {
  return Compiler(f, ncols, funcs, where).run();
}

double eval(const Tape &t, const double *x, const UserFunctions &funcs, const tagKRVNproblem *nl, double *grad,
            double weight) {
  Evaluator<double> e(t, funcs, nl, grad != nullptr);
  double v = e.forward([&](int c) { return x[c]; });
  if (grad) {
    e.reverse(weight, [&](int c, double g) {
      if (!std::isfinite(g)) evalFail("a derivative is not finite");
      grad[c] += g;
    });
  }
  return v;
}

void hessVec(const Tape &t, const double *x, const double *v, const UserFunctions &funcs, const tagKRVNproblem *nl,
             double *hv, double weight) {
  Evaluator<Dual> e(t, funcs, nl, true);
  e.forward([&](int c) { return Dual(x[c], v[c]); });
  e.reverse(Dual(weight), [&](int c, Dual g) {
    if (!std::isfinite(g.d)) evalFail("a second derivative is not finite");
    hv[c] += g.d;
  });
}

}  // namespace nl
}  // namespace krvx

using namespace krvx;

namespace {

// The formulas of one row (or all, row = KRVN_ALLROWS) with their row and the registry, copied
// under the lock so that evaluation (which calls user functions) runs without it.
struct Snapshot {
  std::vector<std::pair<int, Formula>> formulas;
  UserFunctions funcs;
  int64_t ncols = 0, nrows = 0;
};

int snapshot(tagKRVNproblem *nl, const char *fn, int row, Snapshot &s, bool allRows) {
  if (!nl) return failGlobal(kErrNoProblem, "%s: no nonlinear problem given", fn);
  return guard(nl->p, fn, [&] {
    const ko_prob_struct *p = nl->p;
    s.ncols = int64_t(p->cols.size());
    s.nrows = int64_t(p->rows.size());
    if (!(allRows && row == KRVN_ALLROWS) && row != KRVN_OBJROW && (row < 0 || row >= s.nrows))
      raise(kErrInvalid, "row %d is out of range (the problem has %lld rows; -1 is the objective)", row,
            (long long)s.nrows);
    const size_t from = row == KRVN_ALLROWS ? 0 : size_t(std::max(row, 0));
    const size_t to = row == KRVN_ALLROWS ? p->nlrows.size() : row >= 0 ? size_t(row) + 1 : 0;
    for (size_t r = from; r < to && r < p->nlrows.size(); ++r)
      for (const Formula &f : p->nlrows[r]) s.formulas.emplace_back(int(r), f);
    if (row == KRVN_ALLROWS || row == KRVN_OBJROW)
      for (const Formula &f : p->nlobj) s.formulas.emplace_back(KRVN_OBJROW, f);
    s.funcs = nl->funcs;
  });
}

std::string where(int row) { return row == KRVN_OBJROW ? std::string("objective") : "row " + std::to_string(row); }

nl::Tape compileAt(const Snapshot &s, size_t k) {
  return nl::compile(s.formulas[k].second, s.ncols, s.funcs, "formula of " + where(s.formulas[k].first));
}

// Runs body without the lock; an exception becomes the problem's last error (with the row named).
template <class F>
int unlocked(tagKRVNproblem *nl, const char *fn, F &&body) {
  try {
    body();
    return 0;
  } catch (...) {
    return failFrom(nl->p, fn);
  }
}

}  // namespace

extern "C" KRVX_API int KRVNsetfunctionerror(tagKRVNproblem *nlprob) {
  for (nl::EvalContext *c = nl::currentContext; c; c = c->outer)
    if (c->nl == nlprob) {
      c->failed = true;
      return 0;
    }
  if (!nlprob) return failGlobal(kErrNoProblem, "KRVNsetfunctionerror: no nonlinear problem given");
  return fail(nlprob->p, kErrInvalid,
              "KRVNsetfunctionerror: no user function of this problem is being evaluated on this thread");
}

extern "C" KRVX_API int KRVNevalrow(tagKRVNproblem *nlprob, int row, const double *x, int64_t x_n, double *value,
                                    double *grad, int64_t grad_n) {
  Snapshot s;
  if (int rc = snapshot(nlprob, "KRVNevalrow", row, s, false)) return rc;
  return unlocked(nlprob, "KRVNevalrow", [&] {
    if (!value) raise(kErrInvalid, "argument 'value' is NULL");
    checkExact(x, x_n, s.ncols, "x");
    if (grad) {
      checkExact(grad, grad_n, s.ncols, "grad");
      std::fill(grad, grad + grad_n, 0.0);
    }
    double sum = 0.0;
    for (size_t k = 0; k < s.formulas.size(); ++k) {
      try {
        sum += nl::eval(compileAt(s, k), x, s.funcs, nlprob, grad);
      } catch (const Error &e) {
        raise(e.code, "%s (%s)", e.text.c_str(), where(row).c_str());
      }
    }
    *value = sum;
  });
}

extern "C" KRVX_API int KRVNevalhessvec(tagKRVNproblem *nlprob, int row, const double *x, int64_t x_n, const double *v,
                                        int64_t v_n, double *hv, int64_t hv_n) {
  Snapshot s;
  if (int rc = snapshot(nlprob, "KRVNevalhessvec", row, s, false)) return rc;
  return unlocked(nlprob, "KRVNevalhessvec", [&] {
    checkExact(x, x_n, s.ncols, "x");
    checkExact(v, v_n, s.ncols, "v");
    checkExact(hv, hv_n, s.ncols, "hv");
    std::fill(hv, hv + hv_n, 0.0);
    for (size_t k = 0; k < s.formulas.size(); ++k) {
      try {
        nl::hessVec(compileAt(s, k), x, v, s.funcs, nlprob, hv);
      } catch (const Error &e) {
        raise(e.code, "%s (%s)", e.text.c_str(), where(row).c_str());
      }
    }
  });
}

extern "C" KRVX_API int KRVNevalhessian(tagKRVNproblem *nlprob, const double *x, int64_t x_n, double objfactor,
                                        const double *lambda, int64_t lambda_n, int64_t *nnz, int *hrow, int *hcol,
                                        double *hval, int64_t maxnnz) {
  Snapshot s;
  if (int rc = snapshot(nlprob, "KRVNevalhessian", KRVN_ALLROWS, s, true)) return rc;
  return unlocked(nlprob, "KRVNevalhessian", [&] {
    if (!nnz) raise(kErrInvalid, "argument 'nnz' is NULL");
    checkOptional(lambda, lambda_n, s.nrows, "lambda");
    std::vector<nl::Tape> tapes;
    tapes.reserve(s.formulas.size());
    std::vector<std::pair<int, int>> pattern;   // (col, row) with row >= col
    for (size_t k = 0; k < s.formulas.size(); ++k) {
      tapes.push_back(compileAt(s, k));
      const auto &cols = tapes.back().cols;
      for (size_t i = 0; i < cols.size(); ++i)
        for (size_t j = i; j < cols.size(); ++j) pattern.emplace_back(cols[i], cols[j]);
    }
    std::sort(pattern.begin(), pattern.end());
    pattern.erase(std::unique(pattern.begin(), pattern.end()), pattern.end());
    *nnz = int64_t(pattern.size());
    if (!hrow && !hcol && !hval) return;
    if (!hrow || !hcol || !hval) raise(kErrInvalid, "arguments 'hrow', 'hcol' and 'hval' go together");
    if (maxnnz < *nnz) raise(kErrInvalid, "room for %lld entries given, the Hessian has %lld", (long long)maxnnz,
                             (long long)*nnz);
    checkExact(x, x_n, s.ncols, "x");
    std::vector<double> vals(pattern.size(), 0.0), dir(size_t(s.ncols), 0.0), hv(size_t(s.ncols), 0.0);
    for (size_t k = 0; k < tapes.size(); ++k) {
      int row = s.formulas[k].first;
      double w = row == KRVN_OBJROW ? objfactor : lambda ? lambda[row] : 0.0;
      if (w == 0.0) continue;
      const auto &cols = tapes[k].cols;
      for (int c : cols) {
        dir[size_t(c)] = 1.0;
        try {
          nl::hessVec(tapes[k], x, dir.data(), s.funcs, nlprob, hv.data(), w);
        } catch (const Error &e) {
          raise(e.code, "%s (%s)", e.text.c_str(), where(row).c_str());
        }
        dir[size_t(c)] = 0.0;
        for (int r : cols) {
          if (r >= c) {
            auto it = std::lower_bound(pattern.begin(), pattern.end(), std::make_pair(c, r));
            vals[size_t(it - pattern.begin())] += hv[size_t(r)];
          }
          hv[size_t(r)] = 0.0;
        }
      }
    }
    for (size_t k = 0; k < pattern.size(); ++k) {
      hcol[k] = pattern[k].first;
      hrow[k] = pattern[k].second;
      hval[k] = vals[k];
    }
  });
}
