// Bases: loading (original and presolved problem), reading, the pivot order and single pivots.
#include "analysis/basis.h"
#include "analysis/presolve.h"
#include "core/call_guard.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace krvx {

int colCode(int s) {
  switch (s) {
    case kHighsBasisStatusBasic: return kBasisBasic;
    case kHighsBasisStatusUpper: return kBasisUpper;
    default: return kBasisLower;   // lower, or zero: a free column at zero
  }
}

int rowCode(int s) {
  switch (s) {
    case kHighsBasisStatusBasic: return kBasisBasic;
    case kHighsBasisStatusLower: return kBasisUpper;   // activity at its lower bound: slack at its upper
    default: return kBasisLower;
  }
}

namespace {

bool finite(double v) { return std::isfinite(v) && std::fabs(v) < kInf; }

// HiGHS status for "at lower" (wantLower) or "at upper" of an item with bounds lo..up.
int nonbasic(bool wantLower, double lo, double up) {
  if (wantLower ? finite(lo) : finite(up)) return wantLower ? kHighsBasisStatusLower : kHighsBasisStatusUpper;
  if (finite(lo)) return kHighsBasisStatusLower;
  if (finite(up)) return kHighsBasisStatusUpper;
  return kHighsBasisStatusZero;
}

}  // namespace

int highsColStatus(int code, double lo, double up) {
  if (code == kBasisBasic) return kHighsBasisStatusBasic;
  return nonbasic(code != kBasisUpper, lo, up);
}

int highsRowStatus(int code, double lo, double up) {
  if (code == kBasisBasic) return kHighsBasisStatusBasic;
  // slack at its lower bound = activity at its upper bound
  return nonbasic(code == kBasisUpper, lo, up);
}

void checkBasis(const int *rowstat, int64_t rowstat_n, const int *colstat, int64_t colstat_n, int64_t nrows,
                int64_t ncols) {
  checkPair(rowstat, rowstat_n, "rowstat");
  checkPair(colstat, colstat_n, "colstat");
  if (rowstat_n != nrows)
    raise(kErrInvalid, "the basis has %lld row statuses for %lld rows", (long long)rowstat_n, (long long)nrows);
  if (colstat_n != ncols)
    raise(kErrInvalid, "the basis has %lld column statuses for %lld columns", (long long)colstat_n,
          (long long)ncols);
  int64_t basic = 0;
  auto scan = [&](const int *v, int64_t n, const char *name) {
    for (int64_t k = 0; k < n; ++k) {
      if (v[k] < 0 || v[k] > 3)
        raise(kErrInvalid, "%s[%lld] is %d; basis codes are 0 (at lower), 1 (basic), 2 (at upper), 3 (superbasic)",
              name, (long long)k, v[k]);
      basic += v[k] == kBasisBasic;
    }
  };
  scan(rowstat, rowstat_n, "rowstat");
  scan(colstat, colstat_n, "colstat");
  if (basic != nrows)
    raise(kErrInvalid, "the basis has %lld basic entries; a basis of %lld rows needs exactly %lld", (long long)basic,
          (long long)nrows, (long long)nrows);
}

int acquireBasisLp(ko_prob_struct *p, SolveScope &scope, BasisLp &lp, const char *what) {
  ModelArrays arrays;
  bool pass = false;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    if (int rc = scope.begin(p)) return rc;
    if (p->presolved.active) {
      lp.h = p->presolved.highs;
      lp.nrows = p->presolved.nrows;
      lp.ncols = p->presolved.ncols;
      lp.presolved = true;
      return 0;
    }
    if (int rc = prepareOwnHighs(p, lp.low, arrays, pass)) return rc;
    const char *content = lp.low.nonlinearEngine() ? "nonlinear formulas, quadratic constraints, or a quadratic "
                                                     "objective together with discrete columns"
                          : lp.low.quadratic ? "a quadratic objective"
                          : lp.low.multiobj ? "several objectives"
                          : lp.low.hasAux() ? "sets, indicator, piecewise-linear or general constraints, or "
                                              "partial-integer columns that are reformulated for the solver"
                                            : nullptr;
    if (content)
      return fail(p, kErrUnsupported, "%s needs a linear problem with a simplex basis; this problem has %s", what,
                  content);
    lp.h = p->highs;
    lp.nrows = lp.low.nrows;
    lp.ncols = lp.low.ncols;
  }
  if (pass) return passOwnHighs(p, lp.low, arrays);
  return 0;
}

namespace {

// Bounds of the instance's columns and rows (HiGHS infinities).
void instanceBounds(void *h, int nrows, int ncols, std::vector<double> &clo, std::vector<double> &cup,
                    std::vector<double> &rlo, std::vector<double> &rup) {
  clo.assign(ncols, 0.0);
  cup.assign(ncols, 0.0);
  rlo.assign(nrows, 0.0);
  rup.assign(nrows, 0.0);
  HighsInt num = 0, nz = 0;
  if (ncols)
    Highs_getColsByRange(h, 0, ncols - 1, &num, nullptr, clo.data(), cup.data(), &nz, nullptr, nullptr, nullptr);
  if (nrows)
    Highs_getRowsByRange(h, 0, nrows - 1, &num, rlo.data(), rup.data(), &nz, nullptr, nullptr, nullptr);
}

}  // namespace

bool readInstanceBasis(void *h, int nrows, int ncols, std::vector<int> &rowstat, std::vector<int> &colstat) {
  std::vector<HighsInt> order(size_t(nrows) + 1);
  if (Highs_getBasicVariables(h, order.data()) == kHighsStatusError) return false;
  std::vector<HighsInt> cs(size_t(ncols) + 1), rs(size_t(nrows) + 1);
  if (Highs_getBasis(h, cs.data(), rs.data()) == kHighsStatusError) return false;
  rowstat.resize(nrows);
  colstat.resize(ncols);
  for (int i = 0; i < nrows; ++i) rowstat[i] = rowCode(rs[i]);
  for (int j = 0; j < ncols; ++j) colstat[j] = colCode(cs[j]);
  return true;
}

bool writeInstanceBasis(void *h, int nrows, int ncols, const int *rowstat, const int *colstat) {
  std::vector<double> clo, cup, rlo, rup;
  instanceBounds(h, nrows, ncols, clo, cup, rlo, rup);
  std::vector<HighsInt> cs(size_t(ncols) + 1), rs(size_t(nrows) + 1);
  for (int j = 0; j < ncols; ++j) cs[j] = highsColStatus(colstat[j], clo[j], cup[j]);
  for (int i = 0; i < nrows; ++i) rs[i] = highsRowStatus(rowstat[i], rlo[i], rup[i]);
  return Highs_setBasis(h, cs.data(), rs.data()) != kHighsStatusError;
}

bool instancePivotOrder(void *h, int nrows, std::vector<int> &order) {
  std::vector<HighsInt> basic(size_t(nrows) + 1);
  if (Highs_getBasicVariables(h, basic.data()) == kHighsStatusError) return false;
  order.resize(nrows);
  for (int k = 0; k < nrows; ++k) order[k] = basic[k] < 0 ? -basic[k] - 1 : nrows + basic[k];
  return true;
}

namespace {

// The pivot order the problem reports: the order kept from the last pivots while it names the
// same basic variables as the solver's, else the solver's.
std::vector<int> &keptOrder(ko_prob_struct *p, const BasisLp &lp) {
  return lp.presolved ? p->presolved.pivotorder : p->pivotorder;
}

bool currentOrder(ko_prob_struct *p, const BasisLp &lp, std::vector<int> &order) {
  if (!instancePivotOrder(lp.h, lp.nrows, order)) return false;
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  const std::vector<int> &kept = keptOrder(p, lp);
  if (kept.size() == order.size()) {
    std::vector<int> a(kept), b(order);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    if (a == b) order = kept;
  }
  return true;
}

}  // namespace

void loadBasis(ko_prob_struct *p, const int *rowstat, int64_t rowstat_n, const int *colstat, int64_t colstat_n,
                   bool presolvedForm) {
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    requireIdle(p);
    if (presolvedForm && !p->presolved.active)
      raise(kErrInvalid, "the problem is not in presolved form; use KRVXloadbasis for its basis");
    // a basis of the original problem: the presolved form is left first
    if (!presolvedForm) leavePresolved(p);
  }
  SolveScope scope;
  BasisLp lp;
  check(acquireBasisLp(p, scope, lp, "Loading a basis"));
  checkBasis(rowstat, rowstat_n, colstat, colstat_n, lp.nrows, lp.ncols);
  if (!writeInstanceBasis(lp.h, lp.nrows, lp.ncols, rowstat, colstat))
    raise(kErrSolver, "the solver refused the basis");
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  keptOrder(p, lp).clear();
}

namespace {

// One exchange: enter (non-basic) takes the basis row of leave (basic).
void pivotCall(ko_prob_struct *p, int enter, int leave) {
  SolveScope scope;
  BasisLp lp;
  check(acquireBasisLp(p, scope, lp, "Pivoting"));
  const int m = lp.nrows, n = lp.ncols;
  const int64_t total = int64_t(m) + n;
  if (enter < 0 || enter >= total)
    raise(kErrInvalid, "entering index %d is outside the %lld rows and columns", enter, (long long)total);
  if (leave < 0 || leave >= total)
    raise(kErrInvalid, "leaving index %d is outside the %lld rows and columns", leave, (long long)total);
  std::vector<int> order;
  if (!currentOrder(p, lp, order)) raise(kErrNoSolution, "no basis is available: solve the problem or load a basis");
  std::vector<HighsInt> basic(size_t(m) + 1);
  Highs_getBasicVariables(lp.h, basic.data());
  auto highsIndex = [m](int k) { return k < m ? -k - 1 : k - m; };
  int pos = -1;
  for (int k = 0; k < m; ++k) {
    if (basic[k] == highsIndex(enter)) raise(kErrInvalid, "entering index %d is basic", enter);
    if (basic[k] == highsIndex(leave)) pos = k;
  }
  if (pos < 0) raise(kErrInvalid, "leaving index %d is not basic", leave);
  // pivot element: entry pos of B^-1 a_enter (a row's own column for a row)
  std::vector<double> col(size_t(m) + 1, 0.0);
  std::vector<HighsInt> idx(size_t(m) + 1);
  HighsInt nz = 0;
  HighsInt rc = enter < m ? Highs_getBasisInverseCol(lp.h, enter, col.data(), &nz, idx.data())
                          : Highs_getReducedColumn(lp.h, enter - m, col.data(), &nz, idx.data());
  if (rc == kHighsStatusError) raise(kErrSolver, "the solver could not factorise the basis");
  double scale = 0.0;
  for (int k = 0; k < m; ++k) scale = std::max(scale, std::fabs(col[k]));
  if (!(std::fabs(col[pos]) > 1e-9 * std::max(1.0, scale)))
    raise(kErrInvalid, "the pivot element of entering %d and leaving %d is zero", enter, leave);

  // new statuses: leave goes to the bound its value is nearest to
  std::vector<HighsInt> cs(size_t(n) + 1), rs(size_t(m) + 1);
  Highs_getBasis(lp.h, cs.data(), rs.data());
  std::vector<double> clo, cup, rlo, rup, cv(size_t(n) + 1), cd(size_t(n) + 1), rv(size_t(m) + 1),
      rd(size_t(m) + 1);
  instanceBounds(lp.h, m, n, clo, cup, rlo, rup);
  Highs_getSolution(lp.h, cv.data(), cd.data(), rv.data(), rd.data());
  auto nearest = [](double v, double lo, double up) {
    bool flo = std::isfinite(lo), fup = std::isfinite(up);
    if (flo && fup) return std::fabs(v - lo) <= std::fabs(up - v) ? kHighsBasisStatusLower : kHighsBasisStatusUpper;
    return flo ? kHighsBasisStatusLower : fup ? kHighsBasisStatusUpper : kHighsBasisStatusZero;
  };
  HighsInt &in = enter < m ? rs[enter] : cs[enter - m];
  in = kHighsBasisStatusBasic;
  if (leave < m) rs[leave] = nearest(rv[leave], rlo[leave], rup[leave]);
  else cs[leave - m] = nearest(cv[leave - m], clo[leave - m], cup[leave - m]);
  if (Highs_setBasis(lp.h, cs.data(), rs.data()) == kHighsStatusError)
    raise(kErrSolver, "the solver refused the new basis");
  order[pos] = enter;

  // the values of the new basis: a simplex run that may not iterate
  {
    HighsSession session(p, lp.h);
    Highs_setStringOptionValue(lp.h, "solver", "simplex");
    Highs_setStringOptionValue(lp.h, "presolve", "off");
    Highs_setBoolOptionValue(lp.h, "solve_relaxation", 1);
    Highs_setIntOptionValue(lp.h, "simplex_iteration_limit", 0);
    Highs_run(lp.h);
    Highs_setIntOptionValue(lp.h, "simplex_iteration_limit", INT32_MAX);
    Highs_setStringOptionValue(lp.h, "presolve", "on");
  }
  Highs_getSolution(lp.h, cv.data(), cd.data(), rv.data(), rd.data());
  Solution out;
  HighsInt primal = 0;
  Highs_getIntInfoValue(lp.h, "primal_solution_status", &primal);
  out.solvestatus = KRVX_SOLVESTATUS_STOPPED;
  out.solstatus = primal == kHighsSolutionStatusFeasible ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND;
  out.lpstatus = kLpUnfinished;
  out.stopstatus = kStopIterLimit;
  out.objval = Highs_getObjectiveValue(lp.h);
  out.x.assign(cv.begin(), cv.begin() + n);
  out.djs.assign(cd.begin(), cd.begin() + n);
  out.duals.assign(rd.begin(), rd.begin() + m);
  out.has_x = out.has_duals = true;
  readInstanceBasis(lp.h, m, n, out.rowstat, out.colstat);
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  keptOrder(p, lp) = order;
  if (lp.presolved) return;   // the solution of the original problem stays
  out.slack.resize(m);
  for (int i = 0; i < m; ++i) out.slack[i] = lp.low.rhs[i] - rv[i];
  p->sol = std::move(out);
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXloadbasis_witharraysizes(KRVXprob prob, const int *rowstat, int64_t rowstat_n,
                                                     const int *colstat, int64_t colstat_n) {
  return analysisCall(prob, "KRVXloadbasis",
                      [&] { loadBasis(prob, rowstat, rowstat_n, colstat, colstat_n, false); });
}

extern "C" KRVX_API int KRVXloadpresolvebasis_witharraysizes(KRVXprob prob, const int *rowstat, int64_t rowstat_n,
                                                             const int *colstat, int64_t colstat_n) {
  return analysisCall(prob, "KRVXloadpresolvebasis",
                      [&] { loadBasis(prob, rowstat, rowstat_n, colstat, colstat_n, true); });
}

extern "C" KRVX_API int KRVXgetbasis_witharraysizes(KRVXprob prob, int *rowstat, int64_t rowstat_n, int *colstat,
                                                    int64_t colstat_n) {
  return analysisCall(prob, "KRVXgetbasis", [&] {
    checkPair(rowstat, rowstat_n, "rowstat");
    checkPair(colstat, colstat_n, "colstat");
    SolveScope scope;
    BasisLp lp;
    check(acquireBasisLp(prob, scope, lp, "Reading the basis"));
    if (rowstat_n && rowstat_n != lp.nrows)
      raise(kErrInvalid, "rowstat has %lld entries for %d rows", (long long)rowstat_n, lp.nrows);
    if (colstat_n && colstat_n != lp.ncols)
      raise(kErrInvalid, "colstat has %lld entries for %d columns", (long long)colstat_n, lp.ncols);
    std::vector<int> rs, cs;
    if (!readInstanceBasis(lp.h, lp.nrows, lp.ncols, rs, cs))
      raise(kErrNoSolution, "no basis is available: solve the problem or load a basis");
    if (rowstat_n) std::copy(rs.begin(), rs.end(), rowstat);
    if (colstat_n) std::copy(cs.begin(), cs.end(), colstat);
  });
}

extern "C" KRVX_API int KRVXgetpivotorder_witharraysizes(KRVXprob prob, int *order, int64_t order_n) {
  return analysisCall(prob, "KRVXgetpivotorder", [&] {
    checkPair(order, order_n, "order");
    SolveScope scope;
    BasisLp lp;
    check(acquireBasisLp(prob, scope, lp, "The pivot order"));
    if (order_n != lp.nrows) raise(kErrInvalid, "order has %lld entries for %d rows", (long long)order_n, lp.nrows);
    if (lp.nrows == 0) return;   // no rows, no basis rows
    std::vector<int> v;
    if (!currentOrder(prob, lp, v)) raise(kErrNoSolution, "no basis is available: solve the problem or load a basis");
    std::copy(v.begin(), v.end(), order);
  });
}

extern "C" KRVX_API int KRVXpivot(KRVXprob prob, int enter, int leave) {
  return analysisCall(prob, "KRVXpivot", [&] { pivotCall(prob, enter, leave); });
}
