// Curvature of formula tapes: every convexity or concavity the composition rules claim holds on
// random points of the columns' box (Jensen's inequality at random convex combinations).
#include "testutil.h"
#include "nl/nl.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using krvx::nl::Kind;
using krvx::nl::Node;
using krvx::nl::Tape;

// A random formula over columns 0 and 1 of at most `depth` levels; returns its root node.
class Builder {
 public:
  explicit Builder(std::mt19937 &rng) : rng_(rng) {}
  Tape t;

  int build(int depth) {
    const int pick = depth == 0 ? int(rng_() % 2) : int(rng_() % 14);
    switch (pick) {
      case 0: return constant(std::uniform_real_distribution<double>(-2, 2)(rng_));
      case 1: return var(int(rng_() % 2));
      case 2: return node(Kind::Neg, 0, {build(depth - 1)});
      case 3: return node(Kind::Add, 0, {build(depth - 1), build(depth - 1)});
      case 4: return node(Kind::Sub, 0, {build(depth - 1), build(depth - 1)});
      case 5: return node(Kind::Mul, 0, {constant(std::uniform_real_distribution<double>(-3, 3)(rng_)), build(depth - 1)});
      case 6: return node(Kind::Mul, 0, {build(depth - 1), build(depth - 1)});
      case 7: {
        static const double exps[] = {0.0, 1.0, 2.0, 3.0, 4.0, 0.5, 1.5, -1.0, -0.5};
        const double e = exps[rng_() % 9];
        const int base = build(depth - 1);
        return node(Kind::Pow, 0, {base, constant(e)});
      }
      case 8: {
        if (rng_() % 2) return node(Kind::Div, 0, {build(depth - 1), constant(rng_() % 2 ? 2.0 : -0.5)});
        const int den = build(depth - 1);
        return node(Kind::Div, 0, {constant(rng_() % 2 ? 1.5 : -1.0), den});
      }
      case 9: return node(Kind::Func, KRVN_FN_EXP, {build(depth - 1)});
      case 10: return node(Kind::Func, rng_() % 2 ? KRVN_FN_LN : KRVN_FN_SQRT, {build(depth - 1)});
      case 11: return node(Kind::Func, KRVN_FN_SUM, {build(depth - 1), build(depth - 1), build(depth - 1)});
      case 12: return node(Kind::Func, rng_() % 2 ? KRVN_FN_MAX : KRVN_FN_MIN, {build(depth - 1), build(depth - 1)});
      default: {
        // the same affine node squared through a product
        const int a = node(Kind::Add, 0, {var(int(rng_() % 2)), constant(-1.0)});
        return node(Kind::Mul, 0, {a, a});
      }
    }
  }

 private:
  int push(Node n) {
    t.nodes.push_back(n);
    return int(t.nodes.size()) - 1;
  }
  int constant(double v) {
    Node n{Kind::Const};
    n.value = v;
    return push(n);
  }
  int var(int c) {
    if (std::find(t.cols.begin(), t.cols.end(), c) == t.cols.end()) t.cols.push_back(c);
    return push(Node{Kind::Var, c});
  }
  int node(Kind k, int code, std::vector<int> args) {
    Node n{k, code, int(t.args.size()), int(args.size())};
    t.args.insert(t.args.end(), args.begin(), args.end());
    return push(n);
  }
  std::mt19937 &rng_;
};

int jensen() {
  std::mt19937 rng(20261207);
  const krvx::UserFunctions none;
  int claims = 0, checked = 0;
  for (int trial = 0; trial < 6000; ++trial) {
    Builder b(rng);
    b.build(1 + int(rng() % 4));
    Tape &t = b.t;
    std::sort(t.cols.begin(), t.cols.end());
    // boxes: some inside the positive orthant (where powers, logs and roots are defined)
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<double> lo(2), up(2);
    for (int c = 0; c < 2; ++c) {
      lo[size_t(c)] = rng() % 2 ? 0.1 + 2 * u(rng) : -3 * u(rng);
      up[size_t(c)] = lo[size_t(c)] + 0.5 + 3 * u(rng);
    }
    const auto cur = krvx::nl::curvature(t, krvx::nl::intervals(t, lo, up));
    const bool cx = cur.convex.back(), cv = cur.concave.back();
    if (!cx && !cv) continue;
    ++claims;
    auto f = [&](const double *x, double &v) {
      try {
        v = krvx::nl::eval(t, x, none, nullptr, nullptr);
        return true;
      } catch (const krvx::Error &) {
        return false;
      }
    };
    for (int s = 0; s < 40; ++s) {
      double x[2], y[2], z[2], fx, fy, fz;
      const double lam = u(rng);
      for (int c = 0; c < 2; ++c) {
        x[c] = lo[size_t(c)] + u(rng) * (up[size_t(c)] - lo[size_t(c)]);
        y[c] = lo[size_t(c)] + u(rng) * (up[size_t(c)] - lo[size_t(c)]);
        z[c] = lam * x[c] + (1 - lam) * y[c];
      }
      if (!f(x, fx) || !f(y, fy) || !f(z, fz)) continue;
      ++checked;
      const double chord = lam * fx + (1 - lam) * fy;
      const double tol = 1e-9 * (1 + std::fabs(fx) + std::fabs(fy));
      if ((cx && fz > chord + tol) || (cv && fz < chord - tol)) {
        std::fprintf(stderr, "trial %d: claimed %s%s, f(z) %.17g, chord %.17g\n", trial, cx ? "convex " : "",
                     cv ? "concave" : "", fz, chord);
        ++check_failures;
        break;
      }
    }
  }
  EXPECT(claims > 1000 && checked > 20000);   // the rules were exercised
  return 0;
}

}  // namespace

int main() {
  jensen();
  return check_failures ? 1 : 0;
}
