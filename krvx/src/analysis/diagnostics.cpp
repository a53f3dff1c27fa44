// Diagnostics of the current solution and of the last solve: infeasibilities (unscaled and in the
// problem scaled by its scaling exponents), the entering variable of an unbounded ray, and the
// barrier solution before crossover.
#include "analysis/diagnostics.h"
#include "analysis/basis.h"
#include "core/call_guard.h"
#include "core/controls.h"
#include "nl/nl.h"
#include "solve/solve.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <cmath>

namespace krvx {

void refuseNonlinearRows(const ko_prob_struct *p, const char *what) {
  bool quadRows = false;
  for (const auto &q : p->qrows) quadRows = quadRows || !q.empty();
  if (nlHasFormulas(p) || quadRows)
    raise(kErrUnsupported, "%s apply to linear and quadratic-objective problems; this one has %s", what,
          quadRows ? "quadratic constraints" : "nonlinear formulas");
}

void keepBarrierSolution(void *h, const Lowered &low, SolveDiagnostics &diag) {
  const HighsInt status = Highs_getModelStatus(h);
  diag.barstatus = status == kHighsModelStatusOptimal     ? kLpOptimal
                   : status == kHighsModelStatusInfeasible ? kLpInfeas
                   : status == kHighsModelStatusUnbounded  ? kLpUnbounded
                                                           : kLpUnfinished;
  HighsInt pstat = 0;
  Highs_getIntInfoValue(h, "primal_solution_status", &pstat);
  diag.barx.assign(size_t(low.ncols), 0.0);
  diag.bardjs.assign(size_t(low.ncols), 0.0);
  diag.barslack.assign(size_t(low.nrows), 0.0);
  diag.barduals.assign(size_t(low.nrows), 0.0);
  if (pstat == kHighsSolutionStatusNone) return;
  std::vector<double> cv(size_t(low.hcols) + 1), cd(size_t(low.hcols) + 1), rv(size_t(low.hrows) + 1),
      rd(size_t(low.hrows) + 1);
  Highs_getSolution(h, cv.data(), cd.data(), rv.data(), rd.data());
  for (int j = 0; j < low.ncols; ++j) {
    diag.barx[size_t(j)] = cv[size_t(j)];
    diag.bardjs[size_t(j)] = cd[size_t(j)];
    if (low.hasSplit() && low.split[size_t(j)] >= 0) diag.barx[size_t(j)] += cv[size_t(low.split[size_t(j)])];
  }
  for (int i = 0; i < low.nrows; ++i) {
    diag.barslack[size_t(i)] = low.rhs[size_t(i)] - rv[size_t(i)];
    diag.barduals[size_t(i)] = rd[size_t(i)];
  }
}

int unboundedEntering(void *h, const Lowered &low, bool primal, bool &found) {
  found = false;
  if (!primal || low.hasAux()) return -1;
  const int n = low.hcols, m = low.hrows;
  std::vector<double> ray(size_t(n) + 1, 0.0);
  HighsInt has = 0;
  if (Highs_getPrimalRay(h, &has, ray.data()) == kHighsStatusError || !has) return -1;
  std::vector<HighsInt> cs(size_t(n) + 1, kHighsBasisStatusLower), rs(size_t(m) + 1, kHighsBasisStatusBasic);
  const bool basis = Highs_getBasis(h, cs.data(), rs.data()) != kHighsStatusError;
  double scale = 0.0;
  for (int j = 0; j < n; ++j) scale = std::max(scale, std::fabs(ray[size_t(j)]));
  if (scale == 0.0) return -1;
  found = true;
  // the ray moves one non-basic variable (the entering one) and the basic ones
  int best = -1;
  double bestv = 1e-9 * scale;
  for (int j = 0; j < n; ++j)
    if ((!basis || cs[size_t(j)] != kHighsBasisStatusBasic) && std::fabs(ray[size_t(j)]) > bestv) {
      bestv = std::fabs(ray[size_t(j)]);
      best = m + j;
    }
  if (best >= 0 || !basis) return best;
  // a row's slack entered: the non-basic row whose activity moves along the ray
  std::vector<double> act(size_t(m) + 1, 0.0);
  HighsInt num = 0, nz = Highs_getNumNz(h);
  std::vector<HighsInt> start(size_t(n) + 1), index(size_t(nz) + 1);
  std::vector<double> value(size_t(nz) + 1);
  if (n) Highs_getColsByRange(h, 0, n - 1, &num, nullptr, nullptr, nullptr, &nz, start.data(), index.data(), value.data());
  for (int j = 0; j < n; ++j) {
    const HighsInt end = j + 1 < n ? start[size_t(j) + 1] : nz;
    for (HighsInt k = start[size_t(j)]; k < end; ++k) act[size_t(index[size_t(k)])] += value[size_t(k)] * ray[size_t(j)];
  }
  bestv = 1e-9 * scale;
  for (int i = 0; i < m; ++i)
    if (rs[size_t(i)] != kHighsBasisStatusBasic && std::fabs(act[size_t(i)]) > bestv) {
      bestv = std::fabs(act[size_t(i)]);
      best = i;
    }
  return best < low.nrows || best >= m ? best : -1;
}

namespace {

// The infeasible items of the current solution: x (primal columns), slack (primal rows), duals
// (dual rows), djs (dual columns). Scaled: columns by 2^colscale, rows by 2^rowscale.
struct Infeasible {
  std::vector<int> x, slack, duals, djs;
};

Infeasible findInfeasible(const ko_prob_struct *p, bool scaled) {
  refuseNonlinearRows(p, "Infeasibilities");
  const Solution &s = p->sol;
  if (!s.has_x || s.x.size() != p->cols.size() || s.slack.size() != p->rows.size())
    raise(kErrNoSolution, "no solution is available");
  const double ptol = ctlDbl(p, KRVX_FEASTOL);
  const double dtol = ctlDbl(p, KRVX_OPTIMALITYTOL);
  auto colScale = [&](size_t j) { return scaled && j < p->colscale.size() ? std::ldexp(1.0, p->colscale[j]) : 1.0; };
  auto rowScale = [&](size_t i) { return scaled && i < p->rowscale.size() ? std::ldexp(1.0, p->rowscale[i]) : 1.0; };
  const double sense = p->objsense < 0 ? -1.0 : 1.0;
  const bool duals = s.has_duals && s.duals.size() == p->rows.size() && s.djs.size() == p->cols.size();
  Infeasible r;
  // value v in [lo, up] (infinite bounds as +-kInf); d its reduced cost for a minimisation:
  // d >= 0 needs v at lo, d <= 0 v at up
  auto check = [&](double v, double lo, double up, bool hasDual, double d, int k, std::vector<int> &primal,
                   std::vector<int> &dual) {
    if ((lo > -kInf && v < lo - ptol) || (up < kInf && v > up + ptol)) primal.push_back(k);
    if (!hasDual) return;
    const bool atlo = lo > -kInf && v <= lo + ptol, atup = up < kInf && v >= up - ptol;
    if ((d > dtol && !atlo) || (d < -dtol && !atup)) dual.push_back(k);
  };
  for (size_t j = 0; j < p->cols.size(); ++j) {
    const Column &c = p->cols[j];
    const double f = colScale(j);
    double lo = c.lb, up = c.ub;
    if (c.type == 'B') lo = std::max(lo, 0.0), up = std::min(up, 1.0);
    if ((c.type == 'S' || c.type == 'R') && s.x[j] == 0.0) lo = std::min(lo, 0.0);
    check(s.x[j] / f, lo > -kInf ? lo / f : lo, up < kInf ? up / f : up, duals, duals ? sense * s.djs[j] * f : 0.0,
          int(j), r.x, r.djs);
  }
  for (size_t i = 0; i < p->rows.size(); ++i) {
    const Row &row = p->rows[i];
    const double f = rowScale(i);
    // the row's activity rhs - slack against its bounds; its dual acts as the activity's reduced cost
    double lo = -kInf, up = kInf;
    switch (row.type) {
      case 'L': up = row.rhs; break;
      case 'G': lo = row.rhs; break;
      case 'E': lo = up = row.rhs; break;
      case 'R': up = row.rhs; lo = rowBottom(*p, i); break;
      default: break;
    }
    const double act = row.rhs - s.slack[i];
    check(act * f, lo > -kInf ? lo * f : lo, up < kInf ? up * f : up, duals, duals ? sense * s.duals[i] / f : 0.0,
          int(i), r.slack, r.duals);
  }
  return r;
}

int infeasCall(KRVXprob prob, const char *fn, bool scaled, int *npcols, int *nprows, int *ndrows, int *ndcols, int *x,
               int64_t x_n, int *slack, int64_t slack_n, int *duals, int64_t duals_n, int *djs, int64_t djs_n) {
  return guard(prob, fn, [&] {
    if (!npcols || !nprows || !ndrows || !ndcols) raise(kErrInvalid, "a count argument is NULL");
    checkPair(x, x_n, "x");
    checkPair(slack, slack_n, "slack");
    checkPair(duals, duals_n, "duals");
    checkPair(djs, djs_n, "djs");
    const Infeasible r = findInfeasible(prob, scaled);
    *npcols = int(r.x.size());
    *nprows = int(r.slack.size());
    *ndrows = int(r.duals.size());
    *ndcols = int(r.djs.size());
    const bool counting = !x && !slack && !duals && !djs;
    if (counting) return;
    auto fill = [](const std::vector<int> &v, int *out, int64_t n, const char *name) {
      if (n != int64_t(v.size()))
        raise(kErrInvalid, "%s has %lld entries for %zu indices", name, (long long)n, v.size());
      std::copy(v.begin(), v.end(), out);
    };
    fill(r.x, x, x_n, "x");
    fill(r.slack, slack, slack_n, "slack");
    fill(r.duals, duals, duals_n, "duals");
    fill(r.djs, djs, djs_n, "djs");
  });
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXgetinfeas_witharraysizes(KRVXprob prob, int *npcols, int *nprows, int *ndrows, int *ndcols,
                                                     int *x, int64_t x_n, int *slack, int64_t slack_n, int *duals,
                                                     int64_t duals_n, int *djs, int64_t djs_n) {
  return infeasCall(prob, "KRVXgetinfeas", false, npcols, nprows, ndrows, ndcols, x, x_n, slack, slack_n, duals,
                    duals_n, djs, djs_n);
}

extern "C" KRVX_API int KRVXgetscaledinfeas_witharraysizes(KRVXprob prob, int *npcols, int *nprows, int *ndrows,
                                                           int *ndcols, int *x, int64_t x_n, int *slack,
                                                           int64_t slack_n, int *duals, int64_t duals_n, int *djs,
                                                           int64_t djs_n) {
  return infeasCall(prob, "KRVXgetscaledinfeas", true, npcols, nprows, ndrows, ndcols, x, x_n, slack, slack_n, duals,
                    duals_n, djs, djs_n);
}

extern "C" KRVX_API int KRVXgetunbvec(KRVXprob prob, int *seq) {
  return guard(prob, "KRVXgetunbvec", [&] {
    if (!seq) raise(kErrInvalid, "argument 'seq' is NULL");
    if (prob->sol.solstatus != KRVX_SOLSTATUS_UNBOUNDED)
      raise(kErrNoSolution, "the last solve did not find the problem unbounded");
    *seq = prob->diag.unbvec;
  });
}

extern "C" KRVX_API int KRVXgetlastbarsol_witharraysizes(KRVXprob prob, double *x, int64_t x_n, double *slack,
                                                         int64_t slack_n, double *duals, int64_t duals_n, double *djs,
                                                         int64_t djs_n, int *status) {
  return guard(prob, "KRVXgetlastbarsol", [&] {
    if (!status) raise(kErrInvalid, "argument 'status' is NULL");
    const int64_t n = int64_t(prob->cols.size()), m = int64_t(prob->rows.size());
    checkOptional(x, x_n, n, "x");
    checkOptional(djs, djs_n, n, "djs");
    checkOptional(slack, slack_n, m, "slack");
    checkOptional(duals, duals_n, m, "duals");
    const SolveDiagnostics &d = prob->diag;
    const bool ran = d.barx.size() == size_t(n) && d.barslack.size() == size_t(m);
    auto out = [&](const std::vector<double> &v, double *dst, int64_t len) {
      for (int64_t k = 0; k < len; ++k) dst[k] = ran ? v[size_t(k)] : 0.0;
    };
    out(d.barx, x, x_n);
    out(d.barslack, slack, slack_n);
    out(d.barduals, duals, duals_n);
    out(d.bardjs, djs, djs_n);
    *status = ran ? d.barstatus : kLpUnsolved;
  });
}
