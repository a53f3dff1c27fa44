// Nonlinear layer evaluator: values of every operator and function, gradients and Hessian-vector
// products against finite differences at random points, the sparse Hessian, user functions of both
// types, and domain errors reported as failures.
#include "nltest.h"

#include <atomic>
#include <cmath>
#include <thread>
#include <functional>
#include <random>

namespace {

KRVXprob g_p;
tagKRVNproblem *g_nl;
const int kCols = 3;

double value(const double *x, int row = 0) {
  double v = NAN;
  if (KRVNevalrow(g_nl, row, x, kCols, &v, nullptr, 0) != 0) return NAN;
  return v;
}

std::vector<double> gradient(const std::vector<double> &x, int row = 0) {
  std::vector<double> g(kCols);
  double v;
  EXPECT_OK(g_p, KRVNevalrow(g_nl, row, x.data(), kCols, &v, g.data(), kCols));
  return g;
}

bool near(double a, double b, double tol) { return std::fabs(a - b) <= tol * std::max(1.0, std::fabs(b)); }

// Value against the reference, gradient against central differences of the value, Hessian times a
// random direction against central differences of the gradient, at a few random points.
void checkDerivatives(const char *name, const std::function<double(const double *)> &ref, double tol, int row = 0) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 5; ++trial) {
    std::vector<double> x(kCols), d(kCols);
    for (int j = 0; j < kCols; ++j) {
      x[size_t(j)] = u(rng);
      d[size_t(j)] = u(rng);
    }
    double v = value(x.data(), row);
    if (!near(v, ref(x.data()), 1e-12)) {
      std::fprintf(stderr, "%s: value %.17g, expected %.17g (%s)\n", name, v, ref(x.data()), lastError(g_p).c_str());
      ++check_failures;
      return;
    }
    std::vector<double> g = gradient(x, row), hv(kCols);
    EXPECT_OK(g_p, KRVNevalhessvec(g_nl, row, x.data(), kCols, d.data(), kCols, hv.data(), kCols));
    for (int j = 0; j < kCols; ++j) {
      const double h = 1e-6;
      std::vector<double> xp = x, xm = x;
      xp[size_t(j)] += h;
      xm[size_t(j)] -= h;
      double fd = (value(xp.data(), row) - value(xm.data(), row)) / (2 * h);
      std::vector<double> yp = x, ym = x;
      for (int k = 0; k < kCols; ++k) {
        yp[size_t(k)] += 1e-5 * d[size_t(k)];
        ym[size_t(k)] -= 1e-5 * d[size_t(k)];
      }
      double hfd = (gradient(yp, row)[size_t(j)] - gradient(ym, row)[size_t(j)]) / 2e-5;
      if (!near(g[size_t(j)], fd, tol) || !near(hv[size_t(j)], hfd, 100 * tol)) {
        std::fprintf(stderr, "%s: column %d: gradient %.10g vs %.10g, Hessian-vector %.10g vs %.10g\n", name, j,
                     g[size_t(j)], fd, hv[size_t(j)], hfd);
        ++check_failures;
        return;
      }
    }
  }
}

Tokens cat(std::initializer_list<Tokens> parts) {
  Tokens t;
  for (const auto &p : parts) t.insert(t.end(), p.begin(), p.end());
  return t;
}

// A = 0.4 x0 + 0.3 x1 x2 (inside (-1, 1)); B = A^2 + 0.5 (positive)
const Tokens A{C(0.4), X(0), Op(3), C(0.3), X(1), X(2), Op(3), Op(3), Op(5)};
const Tokens B = cat({A, A, {Op(3), C(0.5), Op(5)}});
double a(const double *x) { return 0.4 * x[0] + 0.3 * (x[1] * x[2]); }
double b(const double *x) { return a(x) * a(x) + 0.5; }

// Installs one formula as row 0's only one and checks it.
void check(const char *name, int col, double factor, const Tokens &body, const std::function<double(const double *)> &ref,
           double tol = 1e-6) {
  KRVNdelrowcoefs(g_nl, 0);
  EXPECT_OK(g_p, addFormula(g_nl, 0, col, factor, cat({body, {End()}})));
  checkDerivatives(name, [&](const double *x) { return factor * (col >= 0 ? x[col] : 1.0) * ref(x); }, tol);
}

Tokens fn(int code, const Tokens &arg) { return cat({{RB()}, arg, {Fn(code)}}); }

void operatorsAndFunctions() {
  check("A", KRVN_NOCOL, 1.0, A, a);
  check("column alone", 2, 3.0, {}, [](const double *) { return 1.0; });
  check("-A", KRVN_NOCOL, 1.0, cat({A, {Op(1)}}), [](const double *x) { return -a(x); });
  check("A^3", 2, 1.5, cat({A, {C(3), Op(2)}}), [](const double *x) { return std::pow(a(x), 3); });
  check("B^A", KRVN_NOCOL, 1.0, cat({B, A, {Op(2)}}), [](const double *x) { return std::pow(b(x), a(x)); });
  check("A/B", KRVN_NOCOL, -2.0, cat({A, B, {Op(4)}}), [](const double *x) { return a(x) / b(x); });
  check("A-x2", 1, 1.0, cat({A, {X(2), Op(6)}}), [](const double *x) { return a(x) - x[2]; });
  check("log10", KRVN_NOCOL, 1.0, fn(14, B), [](const double *x) { return std::log(b(x)) / 2.302585092994046; });
  check("ln", 0, 1.0, fn(15, B), [](const double *x) { return std::log(b(x)); });
  check("exp", KRVN_NOCOL, 1.0, fn(16, A), [](const double *x) { return std::exp(a(x)); });
  check("abs", KRVN_NOCOL, 1.0, fn(17, A), [](const double *x) { return std::fabs(a(x)); });
  check("sqrt", KRVN_NOCOL, 1.0, fn(18, B), [](const double *x) { return std::sqrt(b(x)); });
  check("sin", KRVN_NOCOL, 1.0, fn(27, A), [](const double *x) { return std::sin(a(x)); });
  check("cos", KRVN_NOCOL, 1.0, fn(28, A), [](const double *x) { return std::cos(a(x)); });
  check("tan", KRVN_NOCOL, 1.0, fn(29, A), [](const double *x) { return std::tan(a(x)); });
  check("asin", KRVN_NOCOL, 1.0, fn(30, A), [](const double *x) { return std::asin(a(x)); });
  check("acos", KRVN_NOCOL, 1.0, fn(31, A), [](const double *x) { return std::acos(a(x)); });
  check("atan", KRVN_NOCOL, 1.0, fn(32, A), [](const double *x) { return std::atan(a(x)); });
  check("sign", 1, 1.0, fn(46, A), [](const double *x) { return a(x) < 0 ? -1.0 : a(x) > 0 ? 1.0 : 0.0; });
  check("erf", KRVN_NOCOL, 1.0, fn(49, A), [](const double *x) { return std::erf(a(x)); });
  check("erfc", KRVN_NOCOL, 1.0, fn(50, A), [](const double *x) { return std::erfc(a(x)); });
  const Tokens three = cat({{RB()}, A, {X(1), X(2)}});
  check("min", KRVN_NOCOL, 1.0, cat({three, {Fn(33)}}), [](const double *x) { return std::min({a(x), x[1], x[2]}); });
  check("max", KRVN_NOCOL, 1.0, cat({three, {Fn(34)}}), [](const double *x) { return std::max({a(x), x[1], x[2]}); });
  check("sum", KRVN_NOCOL, 1.0, cat({three, {Fn(36)}}), [](const double *x) { return a(x) + x[1] + x[2]; });
  check("prod", 0, 1.0, cat({three, {Fn(37)}}), [](const double *x) { return a(x) * x[1] * x[2]; });
  // pwl(v; (-1, 0), (0, 1), (1, 3)), arguments written last-to-first
  check("pwl", KRVN_NOCOL, 1.0, cat({{RB(), C(3), C(1), C(1), C(0), C(0), C(-1)}, A, {Fn(35)}}), [](const double *x) {
    double v = a(x);
    return v < 0 ? 1.0 + v : 1.0 + 2.0 * v;
  });
  // a row's formulas add up; the objective is evaluated the same way
  KRVNdelrowcoefs(g_nl, 0);
  EXPECT_OK(g_p, addFormulas(g_nl, {{0, KRVN_NOCOL, 1.0, cat({fn(16, A), {End()}})},
                                   {0, 2, 3.0, cat({fn(27, A), {End()}})},
                                   {KRVN_OBJROW, 1, 2.0, cat({fn(28, A), {End()}})}}));
  checkDerivatives("two formulas", [](const double *x) { return std::exp(a(x)) + 3 * x[2] * std::sin(a(x)); }, 1e-6);
  checkDerivatives("objective", [](const double *x) { return 2 * x[1] * std::cos(a(x)); }, 1e-6, KRVN_OBJROW);
}

// pwl at and beyond its ends: the end segments are extended
void pwlEnds() {
  KRVNdelrowcoefs(g_nl, 0);
  EXPECT_OK(g_p, addFormula(g_nl, 0, KRVN_NOCOL, 1.0, {RB(), C(3), C(2), C(1), C(1), C(0), C(0), X(0), Fn(35), End()}));
  const double xs[] = {-1, 0, 0.5, 1, 1.5, 2, 3}, ys[] = {-1, 0, 0.5, 1, 2, 3, 5};
  for (int k = 0; k < 7; ++k) {
    double x[kCols] = {xs[k], 0, 0};
    EXPECT(near(value(x), ys[k], 1e-15));
  }
}

void sparseHessian() {
  KRVNdelrowcoefs(g_nl, 0);
  KRVNdelrowcoefs(g_nl, KRVN_OBJROW);
  EXPECT_OK(g_p, addFormulas(g_nl, {{0, KRVN_NOCOL, 1.0, cat({fn(16, A), {End()}})},
                                   {KRVN_OBJROW, KRVN_NOCOL, 1.0, {X(0), X(0), Op(3), End()}}}));
  int64_t nnz = -1;
  EXPECT_OK(g_p, KRVNevalhessian(g_nl, nullptr, 0, 1.0, nullptr, 0, &nnz, nullptr, nullptr, nullptr, 0));
  EXPECT(nnz == 6);   // exp(A) uses x0, x1, x2: the whole lower triangle
  std::vector<int> hr(6), hc(6);
  std::vector<double> hv(6);
  const double x[kCols] = {0.3, -0.2, 0.7}, lambda[] = {2.0};
  EXPECT_FAILS(g_p, KRVNevalhessian(g_nl, x, kCols, 1.0, lambda, 1, &nnz, hr.data(), hc.data(), hv.data(), 5),
              "room for 5 entries");
  EXPECT_OK(g_p, KRVNevalhessian(g_nl, x, kCols, 0.5, lambda, 1, &nnz, hr.data(), hc.data(), hv.data(), 6));
  // 0.5 * d2(x0^2) + 2 * d2 exp(A), A = 0.4 x0 + 0.3 x1 x2
  const double e = std::exp(a(x)), g[3] = {0.4, 0.3 * x[2], 0.3 * x[1]};
  for (int k = 0; k < 6; ++k) {
    int r = hr[size_t(k)], c = hc[size_t(k)];
    EXPECT(r >= c);
    double want = 2 * e * g[r] * g[c] + (r == 0 && c == 0 ? 1.0 : 0.0) + (r == 2 && c == 1 ? 2 * e * 0.3 : 0.0);
    EXPECT(near(hv[size_t(k)], want, 1e-12));
  }
  EXPECT(hc[0] == 0 && hr[0] == 0 && hc[5] == 2 && hr[5] == 2);
}

// ---- user functions ----
int g_calls = 0;
double uValue(const double *v, void *data) {   // v0 * sin(v1) * scale
  ++g_calls;
  return v[0] * std::sin(v[1]) * *static_cast<double *>(data);
}
int uDerivs(const double *v, const double *deltas, double *result, double *partials, void *data) {
  ++g_calls;
  double s = *static_cast<double *>(data);
  *result = v[0] * std::sin(v[1]) * s;
  if (deltas && partials) {
    if (deltas[0] != 0.0) partials[0] = std::sin(v[1]) * s;
    if (deltas[1] != 0.0) partials[1] = v[0] * std::cos(v[1]) * s;
  }
  return 0;
}
int uNoPartial(const double *v, const double *, double *result, double *, void *) {
  *result = v[0];
  return 0;
}
int uFails(const double *, const double *, double *, double *, void *) { return 1; }
double uFlags(const double *, void *data) {
  KRVNsetfunctionerror(static_cast<tagKRVNproblem *>(data));
  return 0.0;
}

void userFunctions() {
  double scale = 2.0;
  int f2, f5, fn0, ff, fe;
  EXPECT_OK(g_p, KRVNadduserfunction(g_nl, "u2", 2, 2, 1, 0, (void *)uValue, &scale, &f2));
  EXPECT_OK(g_p, KRVNadduserfunction(g_nl, "u5", 5, 2, 1, 0, (void *)uDerivs, &scale, &f5));
  EXPECT_OK(g_p, KRVNadduserfunction(g_nl, "nopartial", 5, 1, 1, 0, (void *)uNoPartial, nullptr, &fn0));
  EXPECT_OK(g_p, KRVNadduserfunction(g_nl, "fails", 5, 1, 1, 0, (void *)uFails, nullptr, &ff));
  EXPECT_OK(g_p, KRVNadduserfunction(g_nl, "flags", 2, 1, 1, 0, (void *)uFlags, g_nl, &fe));
  // user(f, A, x2): arguments written last-to-first
  auto ref = [](const double *x) { return a(x) * std::sin(x[2]) * 2.0; };
  check("user type 2", KRVN_NOCOL, 1.0, cat({{RB(), X(2)}, A, {UF(f2)}}), ref, 1e-5);
  check("user type 5", 1, 1.0, cat({{RB(), X(2)}, A, {UF(f5)}}), ref, 1e-6);
  // type 5 partials are exact; a value alone is one call
  std::vector<double> x{0.3, 0.6, -0.4};
  std::vector<double> g = gradient(x);
  EXPECT(near(g[2], x[1] * (0.3 * x[1] * std::sin(x[2]) * 2.0 + a(x.data()) * std::cos(x[2]) * 2.0), 1e-14));
  g_calls = 0;
  value(x.data());
  EXPECT(g_calls == 1);

  // failures of user functions
  double v;
  KRVNdelrowcoefs(g_nl, 0);
  EXPECT_OK(g_p, addFormula(g_nl, 0, KRVN_NOCOL, 1.0, {RB(), X(0), UF(fn0), End()}));
  EXPECT_OK(g_p, KRVNevalrow(g_nl, 0, x.data(), kCols, &v, nullptr, 0));
  EXPECT_FAILS(g_p, KRVNevalrow(g_nl, 0, x.data(), kCols, &v, g.data(), kCols), "gave no finite partial derivative");
  KRVNdelrowcoefs(g_nl, 0);
  EXPECT_OK(g_p, addFormula(g_nl, 0, KRVN_NOCOL, 1.0, {RB(), X(0), UF(ff), End()}));
  EXPECT_FAILS(g_p, KRVNevalrow(g_nl, 0, x.data(), kCols, &v, nullptr, 0), "user function 'fails' reported an error");
  KRVNdelrowcoefs(g_nl, 0);
  EXPECT_OK(g_p, addFormula(g_nl, 0, KRVN_NOCOL, 1.0, {RB(), X(0), UF(fe), End()}));
  EXPECT_FAILS(g_p, KRVNevalrow(g_nl, 0, x.data(), kCols, &v, nullptr, 0), "user function 'flags' reported an error");
}

void domainErrors() {
  struct Case {
    Tokens toks;
    double x0;
    const char *text;
  };
  const Case cases[] = {
      {{RB(), X(0), Fn(15), End()}, -1, "logarithm of the non-positive value -1"},
      {{RB(), X(0), Fn(14), End()}, 0, "logarithm of the non-positive value 0"},
      {{X(1), X(0), Op(4), End()}, 0, "division by zero"},
      {{RB(), X(0), Fn(18), End()}, -4, "square root of the negative value -4"},
      {{RB(), X(0), Fn(30), End()}, 2, "asin of 2, outside [-1, 1]"},
      {{RB(), X(0), Fn(31), End()}, -1.5, "acos of -1.5"},
      {{X(0), C(0.5), Op(2), End()}, -2, "power of a negative value -2 to the non-integer exponent 0.5"},
      {{X(0), C(-1), Op(2), End()}, 0, "division by zero (0 to the power -1)"},
      {{RB(), X(0), Fn(16), End()}, 1000, "not finite"},
  };
  for (const Case &c : cases) {
    KRVNdelrowcoefs(g_nl, 0);
    EXPECT_OK(g_p, addFormula(g_nl, 0, KRVN_NOCOL, 1.0, c.toks));
    const double x[kCols] = {c.x0, 1, 1};
    double v;
    EXPECT_FAILS(g_p, KRVNevalrow(g_nl, 0, x, kCols, &v, nullptr, 0), c.text);
    EXPECT(contains(lastError(g_p), "evaluation failed") && contains(lastError(g_p), "(row 0)"));
  }
  // infinite derivatives at a domain edge: a finite one-sided slope, and sqrt of a sum of
  // squares has the subgradient 0 at its kink
  KRVNdelrowcoefs(g_nl, 0);
  EXPECT_OK(g_p, addFormula(g_nl, 0, KRVN_NOCOL, 1.0, {RB(), X(0), Fn(18), End()}));
  const double zero[kCols] = {0, 0, 0};
  double v, g[kCols];
  EXPECT_OK(g_p, KRVNevalrow(g_nl, 0, zero, kCols, &v, nullptr, 0));
  EXPECT(v == 0.0);
  EXPECT_OK(g_p, KRVNevalrow(g_nl, 0, zero, kCols, &v, g, kCols));
  EXPECT(std::isfinite(g[0]) && g[0] > 1e3);
  KRVNdelrowcoefs(g_nl, 0);
  EXPECT_OK(g_p, addFormula(g_nl, 0, KRVN_NOCOL, 1.0,
                            {RB(), X(0), C(2), Op(2), X(1), C(2), Op(2), Op(5), Fn(18), End()}));
  const double dir[kCols] = {1, -2, 0};
  double hv[kCols];
  EXPECT_OK(g_p, KRVNevalrow(g_nl, 0, zero, kCols, &v, g, kCols));
  EXPECT(v == 0.0 && g[0] == 0.0 && g[1] == 0.0);
  EXPECT_OK(g_p, KRVNevalhessvec(g_nl, 0, zero, kCols, dir, kCols, hv, kCols));
  EXPECT(std::isfinite(hv[0]) && std::isfinite(hv[1]));
  EXPECT_FAILS(g_p, KRVNevalrow(g_nl, 0, zero, 2, &v, nullptr, 0), "'x'");
  EXPECT_FAILS(g_p, KRVNevalrow(g_nl, 1, zero, kCols, &v, nullptr, 0), "row 1 is out of range");
}

// Two threads evaluate at once: a failure flagged on one thread does not fail the other's evaluations.
double uFlagsOdd(const double *v, void *data) {
  if (v[0] > 0) KRVNsetfunctionerror(static_cast<tagKRVNproblem *>(data));
  return v[0];
}

void threads() {
  int f;
  EXPECT_OK(g_p, KRVNadduserfunction(g_nl, "flagsodd", 2, 1, 1, 0, (void *)uFlagsOdd, g_nl, &f));
  KRVNdelrowcoefs(g_nl, 0);
  EXPECT_OK(g_p, addFormula(g_nl, 0, KRVN_NOCOL, 1.0, {RB(), X(0), UF(f), End()}));
  std::atomic<int> wrong{0};
  auto run = [&](double x0) {
    const double x[kCols] = {x0, 0, 0};
    for (int k = 0; k < 2000; ++k) {
      double v, g[kCols];
      int rc = KRVNevalrow(g_nl, 0, x, kCols, &v, k % 2 ? g : nullptr, k % 2 ? kCols : 0);
      if ((rc != 0) != (x0 > 0)) ++wrong;
    }
  };
  std::thread a(run, 1.0), b(run, -1.0);
  a.join();
  b.join();
  EXPECT(wrong == 0);
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  g_p = nlProblem(kCols, 1, &g_nl);
  operatorsAndFunctions();
  pwlEnds();
  sparseHessian();
  userFunctions();
  domainErrors();
  threads();
  KRVXdestroyprob(g_p);
  KRVXfree();
  return finish("test_nl_eval");
}
