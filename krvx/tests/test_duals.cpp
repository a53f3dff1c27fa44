// LP duals and reduced costs of Netlib solves, checked against HiGHS's own solve of the same file
// and by finite differences of the optimal objective: minimisation and maximisation, and every
// row type (L, G and E as read; R and N made from them).
#include "test_solve_util.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <functional>
#include <limits>

namespace {

constexpr double kInfinity = 1e20;

struct Lp {
  int m = 0, n = 0;
  std::vector<char> type;
  std::vector<double> rhs, rng, lb, ub, obj;
};

Lp readLp(KRVXprob p) {
  Lp lp;
  lp.m = intAttr(p, KRVX_ROWS);
  lp.n = intAttr(p, KRVX_COLS);
  const size_t m = size_t(lp.m), n = size_t(lp.n);
  lp.type.resize(m), lp.rhs.resize(m), lp.rng.resize(m), lp.lb.resize(n), lp.ub.resize(n), lp.obj.resize(n);
  KRVXgetrowtype(p, lp.type.data(), 0, lp.m - 1);
  KRVXgetrhs(p, lp.rhs.data(), 0, lp.m - 1);
  KRVXgetrhsrange(p, lp.rng.data(), 0, lp.m - 1);
  KRVXgetlb(p, lp.lb.data(), 0, lp.n - 1);
  KRVXgetub(p, lp.ub.data(), 0, lp.n - 1);
  KRVXgetobj(p, lp.obj.data(), 0, lp.n - 1);
  return lp;
}

struct Result {
  double obj = 0.0;
  std::vector<double> x, duals, djs;
};

// Solves p; false unless it ends optimal.
bool solve(KRVXprob p, Result *r = nullptr) {
  if (KRVXlpoptimize(p, "") != 0 || intAttr(p, KRVX_SOLSTATUS) != KRVX_SOLSTATUS_OPTIMAL) return false;
  if (!r) return true;
  const int m = intAttr(p, KRVX_ROWS), n = intAttr(p, KRVX_COLS);
  int st = -1;
  r->obj = dblAttr(p, KRVX_OBJVAL);
  r->x.resize(size_t(n)), r->duals.resize(size_t(m)), r->djs.resize(size_t(n));
  return KRVXgetsolution(p, &st, r->x.data(), 0, n - 1) == 0 && KRVXgetduals(p, &st, r->duals.data(), 0, m - 1) == 0 &&
         KRVXgetredcosts(p, &st, r->djs.data(), 0, n - 1) == 0;
}

// The optimal value as a function of one number v (a right-hand side or a bound) is convex for a
// minimisation and concave for a maximisation, so its derivative d at v (a dual or reduced cost,
// a subgradient where the function has a kink) lies between the secant slopes to v - h and v + h.
// Where the two slopes agree the derivative is unique, and HiGHS's value `highs` must be it too.
int g_checked = 0, g_unique = 0;
int g_rowtypes[128] = {};   // rows checked by type
void checkDerivative(KRVXprob p, int sense, double f0, double d, double highs, double v,
                     const std::function<void(double)> &set, const std::string &what) {
  const double h = 1e-3 * (1 + std::fabs(v));
  Result r[2];
  bool ok[2];
  for (int side = 0; side < 2; ++side) set(side ? v + h : v - h), ok[side] = solve(p, &r[side]);
  set(v);
  const double tol = 1e-7 * (1 + std::fabs(f0)) / h + 1e-6 * (1 + std::fabs(d));
  const double left = (f0 - r[0].obj) / h, right = (r[1].obj - f0) / h;
  // minimisation: left <= d <= right; maximisation: right <= d <= left
  bool good = true;
  if (ok[0]) good = good && (sense > 0 ? left <= d + tol : left >= d - tol);
  if (ok[1]) good = good && (sense > 0 ? d <= right + tol : d >= right - tol);
  if (ok[0] || ok[1]) ++g_checked;
  if (ok[0] && ok[1] && std::fabs(left - right) <= tol) {
    ++g_unique;
    if (std::fabs(highs - d) > tol) {
      std::fprintf(stderr, "%s: %.9g, HiGHS's %.9g\n", what.c_str(), d, highs);
      good = false;
    }
  }
  if (!good)
    std::fprintf(stderr, "%s: derivative %.9g, secant slopes %.9g (%s) and %.9g (%s)\n", what.c_str(), d, left,
                 ok[0] ? "ok" : "none", right, ok[1] ? "ok" : "none");
  EXPECT(good);
}

// Every k-th row and column (about 12 of each) is perturbed; `highs` holds HiGHS's duals and
// reduced costs of the same problem.
void finiteDifferences(KRVXprob p, const Lp &lp, int sense, const Result &base, const Result &highs,
                       const std::string &name) {
  for (int i = 0; i < lp.m; i += std::max(1, lp.m / 12)) {
    if (lp.type[size_t(i)] == 'N') continue;
    ++g_rowtypes[size_t(lp.type[size_t(i)])];
    checkDerivative(p, sense, base.obj, base.duals[size_t(i)], highs.duals[size_t(i)], lp.rhs[size_t(i)],
                    [&](double b) { KRVXchgrhs(p, 1, &i, &b); }, name + " row " + std::to_string(i));
  }
  for (int j = 0; j < lp.n; j += std::max(1, lp.n / 12)) {
    const double x = base.x[size_t(j)], l = lp.lb[size_t(j)], u = lp.ub[size_t(j)];
    const bool atLower = l > -kInfinity && std::fabs(x - l) <= 1e-9 * (1 + std::fabs(l));
    const bool atUpper = u < kInfinity && std::fabs(x - u) <= 1e-9 * (1 + std::fabs(u));
    if (atLower == atUpper) {   // between its bounds (or fixed): nothing to move it alone
      if (!atLower) EXPECT(std::fabs(base.djs[size_t(j)]) <= 1e-6 * (1 + std::fabs(lp.obj[size_t(j)])));
      continue;
    }
    const char which = atLower ? 'L' : 'U';
    checkDerivative(p, sense, base.obj, base.djs[size_t(j)], highs.djs[size_t(j)], atLower ? l : u,
                    [&](double b) { KRVXchgbounds(p, 1, &j, &which, &b); },
                    name + " column " + std::to_string(j) + (atLower ? " at its lower bound" : " at its upper bound"));
  }
}

// HiGHS's own solve of the file, changed as p was (sense, objective, ranges, the free row appended
// last): the same optimum; its duals and reduced costs for the comparison where they are unique.
Result highsSolve(const std::string &path, const Lp &lp, int sense, const Result &ours) {
  Result r;
  r.duals.assign(size_t(lp.m), std::numeric_limits<double>::quiet_NaN());
  r.djs.assign(size_t(lp.n), std::numeric_limits<double>::quiet_NaN());
  void *h = Highs_create();
  Highs_setBoolOptionValue(h, "output_flag", 0);
  EXPECT(Highs_readModel(h, path.c_str()) != kHighsStatusError && Highs_getNumCol(h) == lp.n);
  const int filerows = Highs_getNumRow(h);
  if (Highs_getNumCol(h) == lp.n && filerows <= lp.m) {
    const double inf = Highs_getInfinity(h);
    for (int i = filerows; i < lp.m; ++i) Highs_addRow(h, -inf, inf, 0, nullptr, nullptr);   // free rows
    Highs_changeColsCostByRange(h, 0, lp.n - 1, lp.obj.data());
    Highs_changeObjectiveSense(h, sense > 0 ? kHighsObjSenseMinimize : kHighsObjSenseMaximize);
    for (int i = 0; i < lp.m; ++i) {
      const double b = lp.rhs[size_t(i)];
      double lo = -inf, up = inf;
      switch (lp.type[size_t(i)]) {
        case 'L': up = b; break;
        case 'G': lo = b; break;
        case 'E': lo = up = b; break;
        case 'R': up = b; lo = b - std::fabs(lp.rng[size_t(i)]); break;
        default: break;
      }
      Highs_changeRowBounds(h, i, lo, up);
    }
    Highs_run(h);
    EXPECT(Highs_getModelStatus(h) == kHighsModelStatusOptimal);
    EXPECT(near(Highs_getObjectiveValue(h), ours.obj, 1e-8));
    std::vector<double> cv(size_t(lp.n)), rv(size_t(lp.m));
    Highs_getSolution(h, cv.data(), r.djs.data(), rv.data(), r.duals.data());
  }
  Highs_destroy(h);
  return r;
}

void checkFile(const std::string &data, const char *file) {
  const std::string path = data + "/netlib/" + file;
  KRVXprob p = newProb();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  if (KRVXreadprob(p, path.c_str(), "") != 0) {
    EXPECT(!"the file reads");
    KRVXdestroyprob(p);
    return;
  }
  // p as it now stands, solved in `sense` and its derivatives checked
  auto variant = [&](int sense, const char *name) {
    const Lp now = readLp(p);
    Result r;
    EXPECT(solve(p, &r));
    finiteDifferences(p, now, sense, r, highsSolve(path, now, sense, r), std::string(file) + name);
    return r;
  };
  const Lp lp = readLp(p);
  const Result min = variant(1, " (min)");

  // the same problem as a maximisation of the negated objective: the same point, every dual and
  // reduced cost negated where they are unique, and each checked on its own
  std::vector<double> neg(lp.obj);
  for (double &c : neg) c = -c;
  std::vector<int> cols(size_t(lp.n));
  for (int j = 0; j < lp.n; ++j) cols[size_t(j)] = j;
  KRVXchgobj(p, lp.n, cols.data(), neg.data());
  KRVXchgobjsense(p, -1);
  EXPECT(near(variant(-1, " (max)").obj, -min.obj, 1e-8));

  // inequalities as ranged rows whose far end is not binding, and a free row: the duals stay
  // those of the inequalities (R) and the free row's is 0 (N)
  KRVXchgobj(p, lp.n, cols.data(), lp.obj.data());
  KRVXchgobjsense(p, 1);
  for (int i = 0; i < lp.m; ++i) {
    const char t = lp.type[size_t(i)];
    if (t != 'L' && t != 'G') continue;
    const double wide = 1e4 * (1 + std::fabs(lp.rhs[size_t(i)])), rhs = lp.rhs[size_t(i)] + (t == 'L' ? 0 : wide);
    KRVXchgrowtype(p, 1, &i, "R");
    KRVXchgrhs(p, 1, &i, &rhs);
    KRVXchgrhsrange(p, 1, &i, &wide);
  }
  const double zero = 0.0;
  const int start = 0;
  const std::vector<double> ones(size_t(lp.n), 1.0);
  KRVXaddrows(p, 1, lp.n, "N", &zero, nullptr, &start, cols.data(), ones.data());
  const Result r = variant(1, " (ranged)");
  EXPECT(near(r.obj, min.obj, 1e-8) && !r.duals.empty() && r.duals.back() == 0.0);
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  const std::string data = sharedData("duals and reduced costs of Netlib files");
  if (data.empty()) return finish("test_duals");
  if (KRVXinit(nullptr) != 0) return 1;
  for (const char *file : {"afiro.mps.gz", "sc50a.mps.gz", "adlittle.mps.gz", "blend.mps.gz", "share2b.mps.gz",
                           "boeing2.mps.gz", "recipe.mps.gz", "kb2.mps.gz"})
    checkFile(data, file);
  EXPECT(g_checked > 300 && g_unique > 100);
  for (char t : {'L', 'G', 'E', 'R'}) EXPECT(g_rowtypes[size_t(t)] > 5);
  KRVXfree();
  return finish("test_duals");
}
