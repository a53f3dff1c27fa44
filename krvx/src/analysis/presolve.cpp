// The presolved form: HiGHS's presolve of a MIP, the root relaxation of the presolved problem in an
// instance of its own, the map back to the original rows and columns, secured rows and columns,
// and leaving the form (KRVXpostsolve, or any change or solve).
//
// The rows and columns of the presolved problem are traced back through names given to the
// original ones before presolving ("r<i>", "c<j>"). Rows and columns marked with
// KRVXloadsecurevecs must survive: when HiGHS's presolve removes one of them, the presolved form
// is the original problem itself (nothing removed), which keeps every row and column.
#include "analysis/presolve.h"
#include "analysis/basis.h"
#include "core/call_guard.h"

#include "interfaces/highs_c_api.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace krvx {

void leavePresolved(ko_prob_struct *p) {
  Presolved &f = p->presolved;
  if (f.highs) Highs_destroy(f.highs);
  f = Presolved();
}

bool presolvable(const Lowered &low) {
  return low.engine == Engine::Highs && low.discrete && !low.quadratic && !low.multiobj && !low.hasAux();
}

namespace {

// presolve_rule_off: every rule HiGHS lets be switched off
constexpr HighsInt kAllRulesOff = (HighsInt(1) << 20) - 1;

// The presolved LP as HiGHS gives it (column-wise).
struct PresolvedLp {
  HighsInt ncols = 0, nrows = 0, nz = 0, sense = 1;
  double offset = 0.0;
  std::vector<double> cost, lower, upper, rowlo, rowup, value;
  std::vector<HighsInt> start, index, integrality;
  // Room for the counts set (one more entry each, so that no array is empty).
  void size() {
    const size_t n = size_t(ncols) + 1, m = size_t(nrows) + 1, e = size_t(nz) + 1;
    for (auto *v : {&cost, &lower, &upper}) v->resize(n);
    rowlo.resize(m);
    rowup.resize(m);
    start.resize(n);
    integrality.resize(n);
    index.resize(e);
    value.resize(e);
  }
};

// Index encoded in a name given before presolving ("c12" -> 12), -1 when it is not one of ours.
int tracedIndex(const char *name, char prefix) {
  if (name[0] != prefix || !name[1]) return -1;
  char *end = nullptr;
  long v = std::strtol(name + 1, &end, 10);
  return *end || v < 0 || v > INT32_MAX ? -1 : int(v);
}

void nameOriginal(void *h, const Lowered &low) {
  char buf[32];
  for (int j = 0; j < low.ncols; ++j) {
    std::snprintf(buf, sizeof buf, "c%d", j);
    Highs_passColName(h, j, buf);
  }
  for (int i = 0; i < low.nrows; ++i) {
    std::snprintf(buf, sizeof buf, "r%d", i);
    Highs_passRowName(h, i, buf);
  }
}

// The presolved LP of the instance (presolved true) or its own LP, column-wise.
void readLp(void *h, bool presolved, PresolvedLp &lp) {
  lp.ncols = presolved ? Highs_getPresolvedNumCol(h) : Highs_getNumCol(h);
  lp.nrows = presolved ? Highs_getPresolvedNumRow(h) : Highs_getNumRow(h);
  lp.nz = presolved ? Highs_getPresolvedNumNz(h) : Highs_getNumNz(h);
  lp.size();
  HighsInt nc, nr, nz;
  (presolved ? Highs_getPresolvedLp : Highs_getLp)(h, kHighsMatrixFormatColwise, &nc, &nr, &nz, &lp.sense, &lp.offset,
                                                   lp.cost.data(), lp.lower.data(), lp.upper.data(), lp.rowlo.data(),
                                                   lp.rowup.data(), lp.start.data(), lp.index.data(), lp.value.data(),
                                                   lp.integrality.data());
}

void readPresolved(void *h, PresolvedLp &lp, std::vector<int> &rowmap, std::vector<int> &colmap) {
  readLp(h, true, lp);
  const size_t n = size_t(lp.ncols), m = size_t(lp.nrows);
  std::vector<char> name(size_t(kHighsMaximumStringLength) + 1);
  colmap.assign(n, -1);
  rowmap.assign(m, -1);
  for (size_t k = 0; k < n; ++k)
    if (Highs_getPresolvedColName(h, HighsInt(k), name.data()) != kHighsStatusError)
      colmap[k] = tracedIndex(name.data(), 'c');
  for (size_t k = 0; k < m; ++k)
    if (Highs_getPresolvedRowName(h, HighsInt(k), name.data()) != kHighsStatusError)
      rowmap[k] = tracedIndex(name.data(), 'r');
}

// Every secured row and column has a place in the presolved problem.
bool keepsSecured(const ko_prob_struct *p, const std::vector<int> &rowmap, const std::vector<int> &colmap) {
  auto keeps = [](const std::vector<char> &marks, const std::vector<int> &map) {
    std::vector<char> seen(marks.size(), 0);
    for (int k : map)
      if (k >= 0 && size_t(k) < seen.size()) seen[size_t(k)] = 1;
    for (size_t k = 0; k < marks.size(); ++k)
      if (marks[k] && !seen[k]) return false;
    return true;
  };
  return keeps(p->securerow, rowmap) && keeps(p->securecol, colmap);
}

// The original problem as its own presolved form (the instance's LP, nothing removed).
void originalAsPresolved(void *h, PresolvedLp &lp, std::vector<int> &rowmap, std::vector<int> &colmap) {
  readLp(h, false, lp);
  const size_t n = size_t(lp.ncols), m = size_t(lp.nrows);
  rowmap.resize(m);
  colmap.resize(n);
  for (size_t i = 0; i < m; ++i) rowmap[i] = int(i);
  for (size_t j = 0; j < n; ++j) colmap[j] = int(j);
}

}  // namespace

int presolveRoot(ko_prob_struct *p, const Lowered &low, const RunSettings &s, Solution &out, Presolved &form) {
  void *h = p->highs;
  PresolvedLp lp;
  bool identity = false;
  HighsInt status;
  std::string lasterror;
  // full presolve; when it removes a secured row or column, presolve with its rules off; when that
  // still does, the original problem stands as its own presolved form
  identity = true;
  for (const HighsInt rulesOff : {HighsInt(0), kAllRulesOff}) {
    HighsSession session(p, h);
    withSolveThreads(p, s.threads, [&](int threads) {
      applyRunSettings(h, low, s, threads);
      Highs_setStringOptionValue(h, "presolve", "on");
      Highs_setIntOptionValue(h, "presolve_rule_off", rulesOff);
      nameOriginal(h, low);
      Highs_presolve(h);
      Highs_setIntOptionValue(h, "presolve_rule_off", 0);
    });
    status = Highs_getModelStatus(h);
    session.end();
    // settled by presolve (infeasible, unbounded) or failed: solved the usual way
    // (a status left from an earlier postsolve is not presolve's)
    if ((status >= kHighsModelStatusLoadError && status <= kHighsModelStatusPostsolveError) ||
        status == kHighsModelStatusInfeasible || status == kHighsModelStatusUnboundedOrInfeasible ||
        status == kHighsModelStatusUnbounded || Highs_getPresolvedNumCol(h) < 0)
      return kNotPresolved;
    readPresolved(h, lp, form.rowmap, form.colmap);
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    if (keepsSecured(p, form.rowmap, form.colmap)) {
      identity = false;
      break;
    }
  }
  if (identity)
    messageCode(p, 202, 1, "Presolve would remove secured rows or columns: the presolved problem is the original");
  if (identity) originalAsPresolved(h, lp, form.rowmap, form.colmap);

  // the root relaxation of the presolved problem, in an instance of its own
  void *ph = newHighs();
  if (!ph) {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    return fail(p, kErrMemory, "The solver could not be created (out of memory)");
  }
  form.highs = ph;
  form.active = true;
  form.nrows = lp.nrows;
  form.ncols = lp.ncols;
  Lowered plow;
  plow.ncols = plow.hcols = lp.ncols;
  plow.nrows = plow.hrows = lp.nrows;
  plow.discrete = true;   // a relaxation: MIP statuses follow the LP's
  RunSettings ps = s;
  ps.presolve = 0;
  ps.relax = true;
  {
    HighsSession session(p, ph);
    HighsInt rc = Highs_passLp(ph, lp.ncols, lp.nrows, lp.nz, kHighsMatrixFormatColwise, lp.sense, lp.offset,
                               lp.cost.data(), lp.lower.data(), lp.upper.data(), lp.rowlo.data(), lp.rowup.data(),
                               lp.start.data(), lp.index.data(), lp.value.data());
    if (rc != kHighsStatusError)
      withSolveThreads(p, s.threads, [&](int threads) {
        applyRunSettings(ph, plow, ps, threads);
        Highs_setBoolOptionValue(ph, "solve_relaxation", 0);
        Highs_run(ph);
      });
    status = rc == kHighsStatusError ? kHighsModelStatusLoadError : Highs_getModelStatus(ph);
    session.end();
    lasterror = session.lastError();
  }
  // values of the presolved problem, then of the original one
  const size_t n = size_t(lp.ncols), m = size_t(lp.nrows);
  std::vector<double> pcv(n + 1), pcd(n + 1), prv(m + 1), prd(m + 1);
  HighsInt pstat = 0;
  Highs_getIntInfoValue(ph, "primal_solution_status", &pstat);
  out = Solution();
  // (presolve may leave nothing to solve: the empty problem has its one solution)
  if (pstat == kHighsSolutionStatusFeasible || status == kHighsModelStatusModelEmpty) {
    if (lp.ncols + lp.nrows > 0) Highs_getSolution(ph, pcv.data(), pcd.data(), prv.data(), prd.data());
    std::vector<double> cv(size_t(low.hcols) + 1), cd(size_t(low.hcols) + 1), rv(size_t(low.hrows) + 1),
        rd(size_t(low.hrows) + 1);
    bool ok = true;
    if (identity) {
      cv = pcv;
      rv = prv;
    } else {
      ok = Highs_postsolve(h, pcv.data(), pcd.data(), prd.data()) != kHighsStatusError;
      if (ok) Highs_getSolution(h, cv.data(), cd.data(), rv.data(), rd.data());
    }
    if (ok) {
      out.x.assign(cv.begin(), cv.begin() + low.ncols);
      out.slack.resize(size_t(low.nrows));
      for (int i = 0; i < low.nrows; ++i) out.slack[size_t(i)] = low.rhs[size_t(i)] - rv[size_t(i)];
      out.has_x = true;
      // the objective at the postsolved values (the store cannot change during the solve)
      out.objval = p->objconst;
      for (int j = 0; j < low.ncols; ++j) out.objval += p->cols[size_t(j)].cost * out.x[size_t(j)];
    }
  }
  HighsInt iters = 0;
  Highs_getIntInfoValue(ph, "simplex_iteration_count", &iters);
  out.simplexiter = iters > 0 ? iters : 0;
  return mapRunStatus(p, ph, status, plow, ps, lasterror, out);
}

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXpostsolve(KRVXprob prob) {
  // the solution held is already that of the original problem
  return guard(prob, "KRVXpostsolve", [&] {
    requireIdle(prob);
    leavePresolved(prob);
  });
}

extern "C" KRVX_API int KRVXgetpresolvemap_witharraysizes(KRVXprob prob, int *rowmap, int64_t rowmap_n, int *colmap,
                                                          int64_t colmap_n) {
  return guard(prob, "KRVXgetpresolvemap", [&] {
    checkPair(rowmap, rowmap_n, "rowmap");
    checkPair(colmap, colmap_n, "colmap");
    const int64_t m = currentRows(*prob), n = currentCols(*prob);
    if (rowmap_n != m) raise(kErrInvalid, "rowmap has %lld entries for %lld rows", (long long)rowmap_n, (long long)m);
    if (colmap_n != n)
      raise(kErrInvalid, "colmap has %lld entries for %lld columns", (long long)colmap_n, (long long)n);
    const Presolved &f = prob->presolved;
    for (int64_t i = 0; i < m; ++i) rowmap[i] = f.active ? f.rowmap[size_t(i)] : int(i);
    for (int64_t j = 0; j < n; ++j) colmap[j] = f.active ? f.colmap[size_t(j)] : int(j);
  });
}

extern "C" KRVX_API int KRVXloadsecurevecs_witharraysizes(KRVXprob prob, int nrows, int ncols, const int *rowind,
                                                          int64_t rowind_n, const int *colind, int64_t colind_n) {
  return guard(prob, "KRVXloadsecurevecs", [&] {
    requireIdle(prob);
    checkExact(rowind, rowind_n, nrows, "rowind");
    checkExact(colind, colind_n, ncols, "colind");
    checkIndices(rowind, rowind_n, int64_t(prob->rows.size()), "rowind");
    checkIndices(colind, colind_n, int64_t(prob->cols.size()), "colind");
    // marks for the next presolve, of the original problem
    if (rowind_n) prob->securerow.resize(prob->rows.size(), 0);
    if (colind_n) prob->securecol.resize(prob->cols.size(), 0);
    for (int64_t k = 0; k < rowind_n; ++k) prob->securerow[size_t(rowind[k])] = 1;
    for (int64_t k = 0; k < colind_n; ++k) prob->securecol[size_t(colind[k])] = 1;
  });
}
