// Infeasibility repair: the minimal weighted violation against an elastic LP built here and solved
// by HiGHS directly (random LPs, preferences and limits), phase 2 against a direct solve, known
// values of the data files, quadratic penalties, limits, statuses and refusals.
#include "iis_check.h"

namespace {

struct Prefs {
  std::vector<double> le, ge, lb, ub, lelim, gelim, lblim, ublim;
};

// The elastic LP of p written out by hand: x_j in [lb - limit, ub + limit] (or free), each
// relaxable side s >= 0 (<= limit), each relaxable bound a row x + t >= lb / x - t <= ub. Phase 1
// objective: sum of weights; with cap >= 0, phase 2: p's objective in `sense` with the weighted
// sum <= cap. Returns HiGHS's status and the objective value.
int elasticLp(KRVXprob p, const Prefs &w, double cap, int sense, double &value) {
  const double inf = 1e30;
  const size_t n = p->cols.size(), m = p->rows.size();
  std::vector<double> cost, clo, cup, weight, rlo, rup;   // columns (weight 0 for x), then rows
  ColRows colrows;
  for (size_t i = 0; i < m; ++i) rlo.push_back(rowLow(*p, i)), rup.push_back(rowUp(p->rows[i]));
  for (size_t j = 0; j < n; ++j) {
    const krvx::Column &c = p->cols[j];
    cost.push_back(cap >= 0 ? c.cost : 0.0), weight.push_back(0.0);
    clo.push_back(c.lb <= -1e20 ? -inf : c.lb), cup.push_back(c.ub >= 1e20 ? inf : c.ub);
    colrows.emplace_back();
    for (const krvx::Entry e : p->matrix.col(int(j))) colrows.back().push_back({e.index, e.value});
  }
  auto add = [&](double pref, double limit, int row, double coef) {
    cost.push_back(cap >= 0 ? 0.0 : 1.0 / pref), weight.push_back(1.0 / pref);
    clo.push_back(0.0), cup.push_back(limit > 0 ? limit : inf);
    colrows.push_back({{row, coef}});
  };
  for (size_t i = 0; i < m; ++i) {
    if (rup[i] < inf && w.le[i] > 0) add(w.le[i], w.lelim[i], int(i), -1.0);
    if (rlo[i] > -inf && w.ge[i] > 0) add(w.ge[i], w.gelim[i], int(i), 1.0);
  }
  auto addRow = [&](double lo, double up) { rlo.push_back(lo), rup.push_back(up); return int(rlo.size()) - 1; };
  for (size_t j = 0; j < n; ++j) {
    if (clo[j] > -inf && w.lb[j] > 0) {
      const int r = addRow(clo[j], inf);
      colrows[j].push_back({r, 1.0});
      clo[j] = w.lblim[j] > 0 ? clo[j] - w.lblim[j] : -inf;
      add(w.lb[j], w.lblim[j], r, 1.0);
    }
    if (cup[j] < inf && w.ub[j] > 0) {
      const int r = addRow(-inf, cup[j]);
      colrows[j].push_back({r, 1.0});
      cup[j] = w.ublim[j] > 0 ? cup[j] + w.ublim[j] : inf;
      add(w.ub[j], w.ublim[j], r, -1.0);
    }
  }
  if (cap >= 0) {
    const int r = addRow(-inf, cap);
    for (size_t k = 0; k < weight.size(); ++k)
      if (weight[k] != 0.0) colrows[k].push_back({r, weight[k]});
  }
  return highsLp(sense, cost, clo, cup, rlo, rup, colrows, &value);
}

int repair(KRVXprob p, const Prefs &w, char phase2, double delta, bool limits) {
  int status = -1;
  const int64_t m = int64_t(w.le.size()), n = int64_t(w.lb.size());
  int rc = limits ? KRVXrepairweightedinfeasbounds_witharraysizes(
                        p, &status, w.le.data(), m, w.ge.data(), m, w.lb.data(), n, w.ub.data(), n, w.lelim.data(), m,
                        w.gelim.data(), m, w.lblim.data(), n, w.ublim.data(), n, phase2, delta, "")
                  : KRVXrepairweightedinfeas_witharraysizes(p, &status, w.le.data(), m, w.ge.data(), m, w.lb.data(),
                                                            n, w.ub.data(), n, phase2, delta, "");
  if (rc) std::fprintf(stderr, "repair failed: %s\n", lastError(p).c_str());
  return rc ? -1 : status;
}

void randomRepairs() {
  std::mt19937 rng(5);
  int cases = 0;
  for (int attempt = 0; attempt < 3000 && cases < 40; ++attempt) {
    KRVXprob p = quietProb();
    const int n = 2 + int(rng() % 4), m = 2 + int(rng() % 5);
    if (!randomLp(p, rng, n, m, true)) {
      KRVXdestroyprob(p);
      continue;
    }
    ++cases;
    auto pref = [&] { return rng() % 4 == 0 ? 0.0 : 0.5 * (1 + rng() % 4); };
    auto lim = [&] { return rng() % 3 == 0 ? 0.5 * (1 + rng() % 6) : 0.0; };
    Prefs w;
    for (int i = 0; i < m; ++i) {
      w.le.push_back(pref()); w.ge.push_back(pref()); w.lelim.push_back(lim()); w.gelim.push_back(lim());
    }
    for (int j = 0; j < n; ++j) {
      w.lb.push_back(pref()); w.ub.push_back(pref()); w.lblim.push_back(lim()); w.ublim.push_back(lim());
    }
    const std::string before = modelText(p);
    double direct = 0;
    const int hs = elasticLp(p, w, -1, 1, direct);
    const int st = repair(p, w, 'f', 0, true);
    if (hs == kHighsModelStatusOptimal) {
      EXPECT(st == 0 && near(dblAttr(p, KRVX_PENALTYVALUE), direct, 1e-6));
      // phase 2: the original objective within 10% more violation, both senses
      for (char ph : {'n', 'x'}) {
        double best = 0;
        const int hs2 = elasticLp(p, w, 1.1 * direct, ph == 'x' ? -1 : 1, best);
        const int st2 = repair(p, w, ph, 0.1, true);
        if (hs2 == kHighsModelStatusOptimal) {
          EXPECT(st2 == 0 && near(dblAttr(p, KRVX_OBJVAL), best, 1e-5));
          EXPECT(dblAttr(p, KRVX_PENALTYVALUE) <= 1.1 * direct + 1e-6);
        } else {
          EXPECT(st2 != 0);
        }
      }
    } else {
      EXPECT(hs == kHighsModelStatusInfeasible && st == 1);
    }
    EXPECT(modelText(p) == before);
    KRVXdestroyprob(p);
  }
  EXPECT(cases == 40);
}

// x <= 1 (row 0) against x >= 3 (row 1): weights, quadratic penalties, limits, statuses.
void twoRows() {
  KRVXprob p = quietProb();
  setModel(p, 1, {{1, -1e20, 1e20}}, {{'L', 1, {{0, 1}}}, {'G', 3, {{0, 1}}}});
  auto x = [&] { std::vector<double> v = solution(p); return v.empty() ? -1e9 : v[0]; };
  Prefs w{{1, 0}, {0, 0.5}, {0}, {0}, {0, 0}, {0, 0}, {0}, {0}};
  EXPECT(repair(p, w, 'f', 0, false) == 0);   // weight 1 on row 0, 2 on row 1: all on row 0
  EXPECT(near(dblAttr(p, KRVX_PENALTYVALUE), 2) && near(x(), 3));
  w.lelim = {0.5, 0};
  EXPECT(repair(p, w, 'f', 0, true) == 0);    // row 0 relaxed by at most 0.5
  EXPECT(near(dblAttr(p, KRVX_PENALTYVALUE), 0.5 + 2 * 1.5) && near(x(), 1.5));
  w.le = {-1, 0};
  w.ge = {0, -0.5};
  w.lelim = {0, 0};
  EXPECT(repair(p, w, 'f', 0, true) == 0);    // s0^2 + 2 s1^2 with s0 + s1 = 2
  EXPECT(near(dblAttr(p, KRVX_PENALTYVALUE), 24.0 / 9, 1e-5) && near(x(), 1 + 4.0 / 3, 1e-5));
  // phase 2 minimises x within 50% more penalty; a negative delta is an absolute allowance
  EXPECT(repair(p, w, 'o', 0.5, true) == 0);
  EXPECT(dblAttr(p, KRVX_PENALTYVALUE) <= 1.5 * 24.0 / 9 + 1e-5 && x() < 1 + 4.0 / 3 - 0.1);
  int status = -1;
  EXPECT_OK(p, KRVXrepairinfeas(p, &status, 'c', 'n', 'd', 1, 1, 0, 0, -1.0));
  EXPECT(status == 0 && near(dblAttr(p, KRVX_PENALTYVALUE), 3, 1e-6) && std::fabs(x()) < 1e-6);
  // relaxation infeasible (only row 1, by at most 0.5): status 1, and with i its IIS
  Prefs tight{{0, 0}, {0, 1}, {0}, {0}, {0, 0}, {0, 0.5}, {0}, {0}};
  EXPECT(repair(p, tight, 'f', 0, true) == 1);
  EXPECT(repair(p, tight, 'i', 0, true) == 1);
  IisData d;
  EXPECT(niis(p) == 1 && getIis(p, 1, d));
  EXPECT((d.rows == std::vector<int>{0, 1} && d.cols.empty()));
  EXPECT(repair(p, w, 'i', 0, true) == 6);
  // the scaled problem's penalty: row 1 scaled by 2 weighs 2 per unit
  const int rowscale[] = {0, 1};
  EXPECT_OK(p, KRVXscale_witharraysizes(p, rowscale, 2, nullptr, 0));
  EXPECT_OK(p, KRVXrepairinfeas(p, &status, 's', 'f', ' ', 0, 1, 0, 0, 0));
  EXPECT(status == 0 && near(dblAttr(p, KRVX_PENALTYVALUE), 4, 1e-6));
  // refusals
  const double one = 1;
  EXPECT_FAILS(p, KRVXrepairweightedinfeas_witharraysizes(p, &status, &one, 1, nullptr, 0, nullptr, 0, nullptr, 0,
                                                          'f', 0, ""),
               "argument 'lepref' has 1 entries; it needs 2");
  EXPECT_FAILS(p, KRVXrepairinfeas(p, &status, 'q', 'f', ' ', 1, 1, 1, 1, 0), "invalid penalty");
  EXPECT_FAILS(p, KRVXrepairinfeas(p, &status, 'c', 'z', ' ', 1, 1, 1, 1, 0), "invalid phase2");
  EXPECT_FAILS(p, KRVXrepairinfeas(p, &status, 'c', 'f', 'q', 1, 1, 1, 1, 0), "Unknown flag");
  // a time limit stops it
  KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 1e-9);
  EXPECT_OK(p, KRVXrepairinfeas(p, &status, 'c', 'o', ' ', 1, 1, 1, 1, 0));
  EXPECT(status == 3);
  KRVXdestroyprob(p);
}

// An integer conflict: 2x >= 1, 2x <= 1.5 for integer x: x = 1 violates row 1 by 0.5.
void integerRepair() {
  KRVXprob p = quietProb();
  setModel(p, 1, {{0, 0, 10, 'I'}}, {{'G', 1, {{0, 2}}}, {'L', 1.5, {{0, 2}}}});
  int status = -1;
  EXPECT_OK(p, KRVXrepairinfeas(p, &status, 'c', 'f', ' ', 1, 1, 0, 0, 0));
  EXPECT(status == 0 && near(dblAttr(p, KRVX_PENALTYVALUE), 0.5, 1e-6) && near(solution(p)[0], 1));
  // quadratic penalties: 0.5^2 at x = 1 against 1^2 at x = 0
  EXPECT_OK(p, KRVXrepairinfeas(p, &status, 'c', 'f', ' ', -1, -1, 0, 0, 0));
  EXPECT(status == 0 && near(dblAttr(p, KRVX_PENALTYVALUE), 0.25, 1e-5) && near(solution(p)[0], 1, 1e-5));
  KRVXdestroyprob(p);
}

void dataFiles(const std::string &folder) {
  const std::pair<const char *, double> known[] = {{"woodinfe", 15}, {"galenet", 28}};
  for (const auto &k : known) {
    KRVXprob p = quietProb();
    EXPECT_OK(p, KRVXreadprob(p, (folder + "/infeasible/" + k.first + ".mps").c_str(), ""));
    int status = -1;
    EXPECT_OK(p, KRVXrepairinfeas(p, &status, 'c', 'f', ' ', 1, 1, 1, 1, 0));
    EXPECT(status == 0);
    if (!near(dblAttr(p, KRVX_PENALTYVALUE), k.second, 1e-6)) {
      std::fprintf(stderr, "%s: penalty %.10g, expected %g\n", k.first, dblAttr(p, KRVX_PENALTYVALUE), k.second);
      ++check_failures;
    }
    // phase 2 at the least violation keeps it; the problem itself stays infeasible
    EXPECT_OK(p, KRVXrepairinfeas(p, &status, 'c', 'o', ' ', 1, 1, 1, 1, 0));
    EXPECT(status == 0 && near(dblAttr(p, KRVX_PENALTYVALUE), k.second, 1e-6));
    EXPECT(solStatus(p) == KRVX_SOLSTATUS_INFEASIBLE);
    KRVXdestroyprob(p);
  }
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  randomRepairs();
  twoRows();
  integerRepair();
  const std::string data = sharedData("repairs of the infeasible data files");
  if (!data.empty()) dataFiles(data);
  KRVXfree();
  return finish("test_repair");
}
