// Helpers of the sensitivity tests: test LPs, and re-solves of a changed copy of a problem from
// its optimal basis straight through HiGHS, to see whether that basis stays optimal.
#pragma once
#include "test_solve_util.h"

#include "interfaces/highs_c_api.h"

#include <limits>
#include <string>

// The LP of the store as HiGHS arrays (what the library lowers a plain LP to).
struct RawLp {
  int sense = 1;
  std::vector<double> cost, lb, ub, rowlo, rowup, value;
  std::vector<HighsInt> start, index;
  std::vector<HighsInt> colstat, rowstat;   // the optimal basis of the problem's instance
};

inline double hinf(double v) {
  const double inf = std::numeric_limits<double>::infinity();
  return v >= 1e20 ? inf : v <= -1e20 ? -inf : v;
}

inline RawLp rawLp(KRVXprob p) {
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  RawLp r;
  r.sense = p->objsense;
  const double inf = std::numeric_limits<double>::infinity();
  for (size_t j = 0; j < p->cols.size(); ++j) {
    const krvx::Column &c = p->cols[j];
    r.cost.push_back(c.cost);
    r.lb.push_back(hinf(c.lb));
    r.ub.push_back(hinf(c.ub));
    r.start.push_back(HighsInt(r.index.size()));
    for (const krvx::Entry e : p->matrix.col(int(j))) r.index.push_back(e.index), r.value.push_back(e.value);
  }
  r.start.push_back(HighsInt(r.index.size()));
  for (size_t i = 0; i < p->rows.size(); ++i) {
    const krvx::Row &row = p->rows[i];
    double lo = -inf, up = inf;
    if (row.type == 'L' || row.type == 'E' || row.type == 'R') up = hinf(row.rhs);
    if (row.type == 'G' || row.type == 'E') lo = hinf(row.rhs);
    if (row.type == 'R') lo = hinf(krvx::rowBottom(*p, i));
    r.rowlo.push_back(lo);
    r.rowup.push_back(up);
  }
  r.colstat.resize(p->cols.size());
  r.rowstat.resize(p->rows.size());
  if (p->highs) Highs_getBasis(p->highs, r.colstat.data(), r.rowstat.data());
  return r;
}

struct WarmRun {
  HighsInt status = 0, iters = -1;
  bool sameStatuses = false;   // every column and row kept its basis status (no bound flips)
  double objective = 0.0;
  bool keptBasis() const { return status == kHighsModelStatusOptimal && iters == 0 && sameStatuses; }
};

// Solves lp from its basis by the dual simplex method.
inline WarmRun warmSolve(const RawLp &lp) {
  void *h = Highs_create();
  Highs_setBoolOptionValue(h, "output_flag", 0);
  const HighsInt n = HighsInt(lp.cost.size()), m = HighsInt(lp.rowlo.size());
  Highs_passLp(h, n, m, HighsInt(lp.index.size()), kHighsMatrixFormatColwise, lp.sense, 0.0, lp.cost.data(),
               lp.lb.data(), lp.ub.data(), lp.rowlo.data(), lp.rowup.data(), lp.start.data(), lp.index.data(),
               lp.value.data());
  Highs_setStringOptionValue(h, "presolve", "off");
  Highs_setStringOptionValue(h, "solver", "simplex");
  Highs_setIntOptionValue(h, "simplex_strategy", 1);
  Highs_setBasis(h, lp.colstat.data(), lp.rowstat.data());
  Highs_run(h);
  WarmRun w;
  w.status = Highs_getModelStatus(h);
  Highs_getIntInfoValue(h, "simplex_iteration_count", &w.iters);
  w.objective = Highs_getObjectiveValue(h);
  std::vector<HighsInt> cs(lp.colstat.size()), rs(lp.rowstat.size());
  Highs_getBasis(h, cs.data(), rs.data());
  // a fixed column or row sits at either bound: lower and upper are the same there
  auto same = [](const std::vector<HighsInt> &a, const std::vector<HighsInt> &b, const std::vector<double> &lo,
                 const std::vector<double> &up) {
    for (size_t k = 0; k < a.size(); ++k) {
      const bool fixedNonbasic = lo[k] == up[k] && a[k] != kHighsBasisStatusBasic && b[k] != kHighsBasisStatusBasic;
      if (a[k] != b[k] && !fixedNonbasic) return false;
    }
    return true;
  };
  w.sameStatuses = same(cs, lp.colstat, lp.lb, lp.ub) && same(rs, lp.rowstat, lp.rowlo, lp.rowup);
  Highs_destroy(h);
  return w;
}

// A random feasible LP with boxed and one-sided columns and rows of every type.
inline void randomLp(KRVXprob p, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int n = 6 + int(seed % 12), m = 4 + int(seed % 9);
  std::vector<TCol> cols;
  std::vector<double> x0;
  for (int j = 0; j < n; ++j) {
    const double ub = u(rng) < 0.3 ? 1e20 : 5 + 10 * u(rng);
    cols.push_back({std::round(20 * u(rng) - 10), u(rng) < 0.2 ? -5.0 : 0.0, ub});
    x0.push_back(std::min(ub, 4.0) * u(rng));
  }
  std::vector<TRow> rows;
  const char types[] = "LLGGER";
  for (int i = 0; i < m; ++i) {
    TRow r{types[rng() % 6], 0, {}};
    double act = 0;
    for (int j = 0; j < n; ++j)
      if (u(rng) < 0.5) {
        const double a = std::round(10 * u(rng) - 3);
        if (a == 0) continue;
        r.coefs.push_back({j, a});
        act += a * x0[j];
      }
    r.rhs = r.type == 'L' ? act + 3 * u(rng) : r.type == 'G' ? act - 3 * u(rng) : act;
    if (r.type == 'R') r.rhs = act + 2 * u(rng), r.range = 4 + 3 * u(rng);
    rows.push_back(r);
  }
  // a row bounding the sum keeps every direction bounded
  TRow cap{'L', 0, {}};
  for (int j = 0; j < n; ++j) cap.coefs.push_back({j, 1.0}), cap.rhs += x0[j];
  cap.rhs += 20;
  rows.push_back(cap);
  setModel(p, seed % 2 ? -1 : 1, cols, rows);
}

inline const char *const kNetlib[] = {"afiro", "adlittle", "sc50a", "sc50b", "blend", "kb2", "share2b", "sc105",
                                      "boeing2", "recipe", "stocfor1", "israel"};

// Runs check(p, name, k) on every Netlib case (k < 100; skipped as sharedData says) and on random
// LPs k = 100 .. 100 + nrandom - 1, each read or made and solved.
template <class F>
void forEachSolvedLp(const char *test, int nrandom, F &&check) {
  const std::string data = sharedData((std::string(test) + " on Netlib files").c_str());
  std::vector<int> cases;
  if (!data.empty())
    for (int k = 0; k < int(sizeof kNetlib / sizeof *kNetlib); ++k) cases.push_back(k);
  for (int k = 100; k < 100 + nrandom; ++k) cases.push_back(k);
  for (int k : cases) {
    KRVXprob p = newProb();
    KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
    std::string name = k >= 100 ? "random" + std::to_string(k) : kNetlib[k];
    int solvestatus = 0, solstatus = 0;
    if (k >= 100) randomLp(p, unsigned(k));
    const bool read = k >= 100 || KRVXreadprob(p, (data + "/netlib/" + name + ".mps.gz").c_str(), "") == 0;
    if (read && KRVXoptimize(p, "", &solvestatus, &solstatus) == 0 && solstatus == KRVX_SOLSTATUS_OPTIMAL) {
      check(p, name, k);
    } else {
      std::fprintf(stderr, "%s: not solved to optimality: %s\n", name.c_str(), lastError(p).c_str());
      ++check_failures;
    }
    KRVXdestroyprob(p);
  }
}
