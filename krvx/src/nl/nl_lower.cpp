// Tapes as the lowering sees them: which nodes are constant, affine or piecewise affine,
// subtrees cut out as tapes of their own (non-smooth nodes replaced by columns), affine tapes
// read as coefficients, and interval bounds of every node. All passes walk the node order
// (arguments before their node), never recursively.
#include "nl/nl.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace krvx {
namespace nl {

bool isNonsmooth(const Node &n) {
  return n.kind == Kind::Func && (n.code == KRVN_FN_ABS || n.code == KRVN_FN_MIN || n.code == KRVN_FN_MAX ||
                                  n.code == KRVN_FN_PWL || n.code == KRVN_FN_SIGN);
}

Shape shape(const Tape &t) {
  const size_t n = t.nodes.size();
  Shape s;
  s.constant.assign(n, 0);
  s.affine.assign(n, 0);
  s.pwaffine.assign(n, 0);
  for (size_t i = 0; i < n; ++i) {
    const Node &nd = t.nodes[i];
    const int *a = t.args.data() + nd.first;
    auto all = [&](const std::vector<char> &f) {
      for (int k = 0; k < nd.count; ++k)
        if (!f[size_t(a[k])]) return false;
      return true;
    };
    // an affine combination: c1 * affine, affine / c, affine +- affine
    auto combine = [&](const std::vector<char> &f) {
      switch (nd.kind) {
        case Kind::Neg: case Kind::Add: case Kind::Sub: return all(f);
        case Kind::Mul:
          return (s.constant[size_t(a[0])] && f[size_t(a[1])]) || (s.constant[size_t(a[1])] && f[size_t(a[0])]);
        case Kind::Div: return s.constant[size_t(a[1])] && f[size_t(a[0])];
        case Kind::Pow:
          return f[size_t(a[0])] && t.nodes[size_t(a[1])].kind == Kind::Const && t.nodes[size_t(a[1])].value == 1.0;
        case Kind::Func: return nd.code == KRVN_FN_SUM && all(f);
        default: return false;
      }
    };
    switch (nd.kind) {
      case Kind::Const: s.constant[i] = s.affine[i] = s.pwaffine[i] = 1; continue;
      case Kind::Var: s.affine[i] = s.pwaffine[i] = 1; continue;
      case Kind::User: continue;
      default: break;
    }
    s.constant[i] = all(s.constant);
    if (s.constant[i]) {
      s.affine[i] = s.pwaffine[i] = 1;
      continue;
    }
    s.affine[i] = combine(s.affine);
    if (isNonsmooth(nd)) {
      // pwl: the breakpoints are constants; its variable must be piecewise affine
      s.pwaffine[i] = nd.code == KRVN_FN_PWL ? s.pwaffine[size_t(a[0])] : all(s.pwaffine);
    } else {
      s.pwaffine[i] = combine(s.pwaffine);
    }
  }
  return s;
}

Tape subtape(const Tape &t, int root, const std::vector<int> &subst, double factor) {
  std::vector<char> live(size_t(root) + 1, 0);
  live[size_t(root)] = 1;
  auto substituted = [&](int k) { return !subst.empty() && subst[size_t(k)] >= 0; };
  for (int i = root; i >= 0; --i) {
    if (!live[size_t(i)] || substituted(i)) continue;
    const Node &nd = t.nodes[size_t(i)];
    for (int k = 0; k < nd.count; ++k) live[size_t(t.args[size_t(nd.first + k)])] = 1;
  }
  Tape out;
  std::vector<int> map(size_t(root) + 1, -1);
  for (int i = 0; i <= root; ++i) {
    if (!live[size_t(i)]) continue;
    Node nd = t.nodes[size_t(i)];
    if (substituted(i)) {
      nd = Node{Kind::Var, subst[size_t(i)]};
    } else {
      const int first = int(out.args.size());
      for (int k = 0; k < nd.count; ++k) out.args.push_back(map[size_t(t.args[size_t(nd.first + k)])]);
      nd.first = first;
    }
    if (nd.kind == Kind::Var) out.cols.push_back(nd.code);
    map[size_t(i)] = int(out.nodes.size());
    out.nodes.push_back(nd);
  }
  if (factor != 1.0) {
    Node c{Kind::Const};
    c.value = factor;
    out.nodes.push_back(c);
    Node mul{Kind::Mul, 0, int(out.args.size()), 2};
    out.args.push_back(int(out.nodes.size()) - 1);
    out.args.push_back(int(out.nodes.size()) - 2);
    out.nodes.push_back(mul);
  }
  std::sort(out.cols.begin(), out.cols.end());
  out.cols.erase(std::unique(out.cols.begin(), out.cols.end()), out.cols.end());
  return out;
}

void affineForm(const Tape &t, const UserFunctions &funcs, std::vector<std::pair<int, double>> &coefs,
                double &constant) {
  int n = 0;
  for (int c : t.cols) n = std::max(n, c + 1);
  std::vector<double> x(size_t(n), 0.0), g(size_t(n), 0.0);
  constant = eval(t, x.data(), funcs, nullptr, g.data());
  coefs.clear();
  for (int c : t.cols)
    if (g[size_t(c)] != 0.0) coefs.emplace_back(c, g[size_t(c)]);
}

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// a * b with 0 * inf = 0 (a bound times an exact zero)
double mul(double a, double b) { return a == 0.0 || b == 0.0 ? 0.0 : a * b; }

Interval product(Interval a, Interval b) {
  const double c[] = {mul(a.lo, b.lo), mul(a.lo, b.up), mul(a.up, b.lo), mul(a.up, b.up)};
  return {*std::min_element(c, c + 4), *std::max_element(c, c + 4)};
}

Interval monotone(Interval a, double (*f)(double), bool increasing) {
  const double l = f(a.lo), u = f(a.up);
  Interval r = increasing ? Interval{l, u} : Interval{u, l};
  if (std::isnan(r.lo)) r.lo = -kInfinity;
  if (std::isnan(r.up)) r.up = kInfinity;
  return r;
}

// pwl over [a.lo, a.up]: the end pieces extend beyond the breakpoints (unless an end is a jump)
Interval pwlRange(const Tape &t, const Node &nd, Interval a) {
  const int *arg = t.args.data() + nd.first;
  const int m = (nd.count - 1) / 2;
  auto X = [&](int k) { return t.nodes[size_t(arg[1 + 2 * k])].value; };
  auto Y = [&](int k) { return t.nodes[size_t(arg[2 + 2 * k])].value; };
  Interval r{kInfinity, -kInfinity};
  auto take = [&](double y) {
    r.lo = std::min(r.lo, y);
    r.up = std::max(r.up, y);
  };
  for (int k = 0; k < m; ++k)
    if (X(k) >= a.lo && X(k) <= a.up) take(Y(k));
  for (double v : {a.lo, a.up}) {
    int k0 = -1;
    if (v < X(0)) k0 = 0;
    else if (v > X(m - 1)) k0 = m - 2;
    else
      for (int k = 0; k + 1 < m; ++k)
        if (X(k) <= v && v <= X(k + 1) && X(k + 1) > X(k)) k0 = k;
    if (k0 < 0 || X(k0 + 1) == X(k0)) continue;
    const double slope = (Y(k0 + 1) - Y(k0)) / (X(k0 + 1) - X(k0));
    if (std::isinf(v)) {
      if (slope != 0.0) take((slope > 0) == (v > 0) ? kInfinity : -kInfinity);
    } else {
      take(Y(k0) + slope * (v - X(k0)));
    }
  }
  if (r.lo > r.up) r = {-kInfinity, kInfinity};
  return r;
}

}  // namespace

std::vector<Interval> intervals(const Tape &t, const std::vector<double> &lo, const std::vector<double> &up) {
  std::vector<Interval> iv(t.nodes.size(), Interval{-kInfinity, kInfinity});
  for (size_t i = 0; i < t.nodes.size(); ++i) {
    const Node &nd = t.nodes[i];
    const int *a = t.args.data() + nd.first;
    auto A = [&](int k) { return iv[size_t(a[k])]; };
    Interval r{-kInfinity, kInfinity};
    switch (nd.kind) {
      case Kind::Const: r = {nd.value, nd.value}; break;
      case Kind::Var: r = {lo[size_t(nd.code)], up[size_t(nd.code)]}; break;
      case Kind::Neg: r = {-A(0).up, -A(0).lo}; break;
      case Kind::Add: r = {A(0).lo + A(1).lo, A(0).up + A(1).up}; break;
      case Kind::Sub: r = {A(0).lo - A(1).up, A(0).up - A(1).lo}; break;
      case Kind::Mul: r = product(A(0), A(1)); break;
      case Kind::Div:
        if (A(1).lo > 0.0 || A(1).up < 0.0) r = product(A(0), Interval{1.0 / A(1).up, 1.0 / A(1).lo});
        break;
      case Kind::Pow: {
        const Node &e = t.nodes[size_t(a[1])];
        if (e.kind != Kind::Const || e.value != std::floor(e.value) || e.value < 0 || e.value > 64) break;
        const int k = int(e.value);
        Interval b = A(0), p{1.0, 1.0};
        for (int j = 0; j < k; ++j) p = product(p, b);
        if (k % 2 == 0 && k > 0) p.lo = std::max(p.lo, 0.0);
        r = p;
        break;
      }
      case Kind::Func:
        switch (nd.code) {
          case KRVN_FN_EXP: r = monotone(A(0), [](double v) { return std::exp(v); }, true); break;
          case KRVN_FN_LN:
            if (A(0).lo > 0.0) r = monotone(A(0), [](double v) { return std::log(v); }, true);
            break;
          case KRVN_FN_SQRT:
            if (A(0).lo >= 0.0) r = monotone(A(0), [](double v) { return std::sqrt(v); }, true);
            break;
          case KRVN_FN_ATAN: r = monotone(A(0), [](double v) { return std::atan(v); }, true); break;
          case KRVN_FN_ERF: r = monotone(A(0), [](double v) { return std::erf(v); }, true); break;
          case KRVN_FN_ERFC: r = monotone(A(0), [](double v) { return std::erfc(v); }, false); break;
          case KRVN_FN_SIN: case KRVN_FN_COS: r = {-1.0, 1.0}; break;
          case KRVN_FN_ABS: {
            const Interval x = A(0);
            r = {x.lo >= 0 ? x.lo : x.up <= 0 ? -x.up : 0.0, std::max(std::fabs(x.lo), std::fabs(x.up))};
            break;
          }
          case KRVN_FN_SIGN:
            r = {A(0).lo > 0 ? 1.0 : A(0).lo == 0 ? 0.0 : -1.0, A(0).up < 0 ? -1.0 : A(0).up == 0 ? 0.0 : 1.0};
            break;
          case KRVN_FN_MIN: case KRVN_FN_MAX: {
            const bool mx = nd.code == KRVN_FN_MAX;
            r = A(0);
            for (int k = 1; k < nd.count; ++k) {
              r.lo = mx ? std::max(r.lo, A(k).lo) : std::min(r.lo, A(k).lo);
              r.up = mx ? std::max(r.up, A(k).up) : std::min(r.up, A(k).up);
            }
            break;
          }
          case KRVN_FN_SUM:
            r = {0.0, 0.0};
            for (int k = 0; k < nd.count; ++k) r = {r.lo + A(k).lo, r.up + A(k).up};
            break;
          case KRVN_FN_PROD:
            r = {1.0, 1.0};
            for (int k = 0; k < nd.count; ++k) r = product(r, A(k));
            break;
          case KRVN_FN_PWL: r = pwlRange(t, nd, A(0)); break;
          default: break;
        }
        break;
      default: break;
    }
    if (std::isnan(r.lo)) r.lo = -kInfinity;
    if (std::isnan(r.up)) r.up = kInfinity;
    iv[i] = r;
  }
  return iv;
}

Curvature curvature(const Tape &t, const std::vector<Interval> &iv) {
  const size_t n = t.nodes.size();
  Curvature c;
  c.convex.assign(n, 0);
  c.concave.assign(n, 0);
  for (size_t i = 0; i < n; ++i) {
    const Node &nd = t.nodes[i];
    const int *a = t.args.data() + nd.first;
    auto vex = [&](int k) { return c.convex[size_t(a[k])] != 0; };
    auto cave = [&](int k) { return c.concave[size_t(a[k])] != 0; };
    auto range = [&](int k) { return iv[size_t(a[k])]; };
    auto fixed = [&](int k) { return range(k).lo == range(k).up && std::isfinite(range(k).lo); };
    bool cx = false, cv = false;
    // f(g) for f convex (increasing or decreasing) or concave increasing, g the argument
    auto compose = [&](bool fconvex, bool increasing, int k) {
      if (fconvex) cx = increasing ? vex(k) : cave(k);
      else cv = increasing ? cave(k) : vex(k);
    };
    auto scaled = [&](double f, int k) {   // f * argument k
      cx = f >= 0 ? vex(k) : cave(k);
      cv = f >= 0 ? cave(k) : vex(k);
    };
    switch (nd.kind) {
      case Kind::Const: case Kind::Var: cx = cv = true; break;
      case Kind::Neg: cx = cave(0); cv = vex(0); break;
      case Kind::Add: cx = vex(0) && vex(1); cv = cave(0) && cave(1); break;
      case Kind::Sub: cx = vex(0) && cave(1); cv = cave(0) && vex(1); break;
      case Kind::Mul:
        if (fixed(0)) scaled(range(0).lo, 1);
        else if (fixed(1)) scaled(range(1).lo, 0);
        else if (a[0] == a[1] && vex(0) && cave(0)) cx = true;   // square of an affine node
        break;
      case Kind::Div:
        if (fixed(1) && range(1).lo != 0.0) {
          scaled(1.0 / range(1).lo, 0);
        } else if (fixed(0) && range(0).lo >= 0.0 && range(1).lo > 0.0) {
          cx = cave(1);                     // c / g, c >= 0, g > 0 concave
        } else if (fixed(0) && range(0).lo <= 0.0 && range(1).lo > 0.0) {
          cv = cave(1);
        }
        break;
      case Kind::Pow: {
        if (!fixed(1)) break;
        const double p = range(1).lo;
        const Interval g = range(0);
        const bool even = p == std::floor(p) && std::fmod(p, 2.0) == 0.0;
        if (p == 0.0) cx = cv = true;
        else if (p == 1.0) scaled(1.0, 0);
        else if (even && p > 0.0 && vex(0) && cave(0)) cx = true;
        else if (even && p > 0.0 && g.lo >= 0.0) cx = vex(0);
        else if (even && p > 0.0 && g.up <= 0.0) cx = cave(0);
        else if (p > 1.0 && g.lo >= 0.0) cx = vex(0);
        else if (p > 0.0 && p < 1.0 && g.lo >= 0.0) cv = cave(0);
        else if (p < 0.0 && g.lo > 0.0) cx = cave(0);
        break;
      }
      case Kind::Func:
        switch (nd.code) {
          case KRVN_FN_EXP: compose(true, true, 0); break;
          case KRVN_FN_LN: case KRVN_FN_LOG10: case KRVN_FN_SQRT: compose(false, true, 0); break;
          case KRVN_FN_ABS: cx = vex(0) && cave(0); break;
          case KRVN_FN_SUM: case KRVN_FN_MAX: case KRVN_FN_MIN:
            cx = nd.code != KRVN_FN_MIN;
            cv = nd.code != KRVN_FN_MAX;
            for (int k = 0; k < nd.count; ++k) {
              cx = cx && vex(k);
              cv = cv && cave(k);
            }
            break;
          default: break;
        }
        break;
      default: break;
    }
    // constant subtrees are affine whatever their operations
    if (iv[i].lo == iv[i].up && std::isfinite(iv[i].lo)) cx = cv = true;
    c.convex[i] = cx;
    c.concave[i] = cv;
  }
  return c;
}

}  // namespace nl
}  // namespace krvx
