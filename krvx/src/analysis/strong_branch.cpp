// Strong branching on candidate bound changes: KRVXstrongbranch_witharraysizes.
//
// Each candidate is solved on a scratch copy of the problem by at most iterlim dual simplex
// iterations from the optimal basis; the problem, its instance, basis and solution stay as they
// were. Statuses are LP status values: optimal, infeasible (objective +-1e20 in the worsening
// direction), unfinished (iteration limit: the objective is that of the last dual feasible
// basis, a bound on the candidate's optimum), unbounded. The time limit and interrupt() stop the
// call: the candidate being solved and those not reached are unfinished (the latter with the
// optimum of the basis, the bound they start from).
#include "analysis/optimal_basis.h"
#include "solve/solve.h"

#include "interfaces/highs_c_api.h"

#include <cmath>
#include <limits>

using namespace krvx;

extern "C" KRVX_API int KRVXstrongbranch_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
                                                        const char *bndtype, int64_t bndtype_n, const double *bndval,
                                                        int64_t bndval_n, int iterlim, double *objval,
                                                        int64_t objval_n, int *status, int64_t status_n) {
  return analysisCall(prob, __func__, [&] {
    OptimalBasis ob(prob, "Strong branching");
    if (n < 0) raise(kErrInvalid, "the count n is negative (%d)", n);
    checkExact(colind, colind_n, n, "colind");
    checkIndices(colind, colind_n, ob.ncols(), "colind");
    checkExact(bndtype, bndtype_n, n, "bndtype");
    checkExact(bndval, bndval_n, n, "bndval");
    checkNotNaN(bndval, bndval_n, "bndval");
    for (int k = 0; k < n; ++k) {
      const char t = bndtype[k];
      if (t != 'U' && t != 'L' && t != 'B')
        raise(kErrInvalid, "entry %d of argument 'bndtype' is '%c'; U, L or B expected", k, t ? t : '?');
      if (t == 'B' && isInf(bndval[k]))
        raise(kErrInvalid, "entry %d of argument 'bndval' is infinite; a column cannot be fixed there", k);
    }
    if (iterlim < 0) raise(kErrInvalid, "iterlim is negative (%d)", iterlim);
    checkExact(objval, objval_n, n, "objval");
    checkExact(status, status_n, n, "status");
    if (n == 0) return;

    const double inf = std::numeric_limits<double>::infinity();
    const double worst = ob.sense() * kInf;   // objective of an infeasible candidate
    ScratchHighs scratch(ob.scratchCopy(iterlim));
    void *h = scratch.h;
    const ModelArrays &a = ob.arrays();
    for (int k = 0; k < n; ++k) {
      const size_t j = size_t(colind[k]);
      const double v = bndval[k] >= kInf ? inf : bndval[k] <= -kInf ? -inf : bndval[k];
      double lb = a.lower[j], ub = a.upper[j];
      if (bndtype[k] != 'U') lb = v;
      if (bndtype[k] != 'L') ub = v;
      if (lb > ub || lb == inf || ub == -inf) {
        objval[k] = worst;
        status[k] = kLpInfeas;
        continue;
      }
      if (ob.stopRequested()) {
        status[k] = kLpUnfinished;
        objval[k] = ob.solution().objval;
        continue;
      }
      Highs_changeColBounds(h, HighsInt(j), lb, ub);
      Highs_setBasis(h, ob.colStatus().data(), ob.rowStatus().data());
      const int st = runScratch(prob, h, nullptr);
      switch (st) {
        case kHighsModelStatusOptimal:
          status[k] = kLpOptimal;
          objval[k] = Highs_getObjectiveValue(h);
          break;
        case kHighsModelStatusInfeasible:
          status[k] = kLpInfeas;
          objval[k] = worst;
          break;
        case kHighsModelStatusUnbounded:
          status[k] = kLpUnbounded;
          objval[k] = -worst;
          break;
        case kHighsModelStatusIterationLimit:
        case kHighsModelStatusTimeLimit:
        case kHighsModelStatusInterrupt:
          status[k] = kLpUnfinished;
          objval[k] = Highs_getObjectiveValue(h);
          break;
        default:
          status[k] = kLpUnsolved;
          objval[k] = Highs_getObjectiveValue(h);
          break;
      }
      Highs_changeColBounds(h, HighsInt(j), a.lower[j], a.upper[j]);
    }
  });
}
