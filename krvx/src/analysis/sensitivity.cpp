// Ranging of objective coefficients, bounds and right-hand sides around the optimal basis, and
// estimates of the range of row duals: KRVXobjsa, KRVXbndsa, KRVXrhssa, KRVXestimaterowdualranges.
//
// Limits are values of the coefficient, bound or right-hand side (+-1e20 when unlimited, and for
// the items not ranged when the time limit or an interrupt stopped the call). A row's
// right-hand side is its L or E bound, the G row's lower bound, and the upper end of a range row,
// whose width stays fixed (both ends move). Duals and reduced costs are those of the solution.
#include "analysis/basis_matrix.h"
#include "analysis/optimal_basis.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace krvx {

namespace {

constexpr double kHInf = std::numeric_limits<double>::infinity();

// The solver's ranging of the optimal basis, computed once per basis (kept in its cache). Its
// row ranging moves one bound of a row, capped by the other: right-hand sides of range rows
// whose limit meets the other end are ranged here instead.
const Ranging &ranging(const OptimalBasis &ob) {
  AnalysisCache &c = ob.cache();
  if (c.ranged) return c.ranging;
  Ranging &r = c.ranging;
  const size_t n = size_t(ob.ncols()), m = size_t(ob.nrows());
  r.costup.resize(n);
  r.costdn.resize(n);
  r.boundup.resize(n);
  r.bounddn.resize(n);
  r.rowup.assign(m, kHInf);
  r.rowdn.assign(m, -kHInf);
  if (m == 0) {
    // no rows (the solver ranges none): every column sits at a bound with its cost as reduced
    // cost, which keeps its sign while the cost does; bounds move freely
    for (size_t j = 0; j < n; ++j) {
      const bool up = (ob.colStatus()[j] == kHighsBasisStatusUpper) != (ob.sense() < 0);
      r.costdn[j] = up ? -kHInf : 0.0;
      r.costup[j] = up ? 0.0 : kHInf;
      if (ob.colStatus()[j] != kHighsBasisStatusLower && ob.colStatus()[j] != kHighsBasisStatusUpper)
        r.costdn[j] = r.costup[j] = 0.0;   // free at zero: only a zero cost keeps it there
      if (ob.bounds().lower[j] == ob.bounds().upper[j]) r.costdn[j] = -kHInf, r.costup[j] = kHInf;
      r.bounddn[j] = -kHInf;
      r.boundup[j] = kHInf;
    }
    c.ranged = true;
    return r;
  }
  std::vector<double> cobj(n), robj(m);
  std::vector<HighsInt> cin(n), cout(n), rin(m), rout(m);
  const HighsInt rc = Highs_getRanging(ob.highs(), r.costup.data(), cobj.data(), cin.data(), cout.data(),
                                       r.costdn.data(), cobj.data(), cin.data(), cout.data(), r.boundup.data(),
                                       cobj.data(), cin.data(), cout.data(), r.bounddn.data(), cobj.data(),
                                       cin.data(), cout.data(), r.rowup.data(), robj.data(), rin.data(), rout.data(),
                                       r.rowdn.data(), robj.data(), rin.data(), rout.data());
  if (rc == kHighsStatusError) raise(kErrSolver, "the solver could not range the optimal basis");
  c.ranged = true;
  return r;
}

struct Interval { double lo, hi; };

// The bounds a row's right-hand side moves, by the row's shape.
enum class RowShape { Free, Upper, Lower, Both };

RowShape rowShape(double lo, double up) {
  const bool hasLo = lo > -kHInf, hasUp = up < kHInf;
  return hasLo && hasUp ? RowShape::Both : hasUp ? RowShape::Upper : hasLo ? RowShape::Lower : RowShape::Free;
}

// The right-hand side of a row with bounds [lo, up].
double rowRhs(double lo, double up) { return rowShape(lo, up) == RowShape::Lower ? lo : up; }

// Right-hand sides that keep the basis optimal and feasible, for a row with bounds [lo, up],
// activity a and basis status st; a nonbasic row's activity can move by [dn, upv].
Interval rhsInterval(double lo, double up, double a, int st, double dn, double upv) {
  const RowShape shape = rowShape(lo, up);
  if (shape == RowShape::Free) return {-kHInf, kHInf};
  if (st == kHighsBasisStatusBasic) {
    switch (shape) {
      case RowShape::Upper: return {a, kHInf};
      case RowShape::Lower: return {-kHInf, a};
      default: return {a, a + (up - lo)};
    }
  }
  const double rhs = rowRhs(lo, up);
  return {rhs + dn, rhs + upv};
}

// The right-hand side interval of row i, now with bounds [lo, up], in the basis b (the other
// rows and the columns have the bounds of a; x, activity: the basic solution's values).
Interval rowInterval(const BasisMatrix &b, const ModelArrays &a, int i, double lo, double up, int st,
                     const std::vector<double> &x, const std::vector<double> &activity) {
  std::pair<double, double> move{0.0, 0.0};
  if (st != kHighsBasisStatusBasic && rowShape(lo, up) != RowShape::Free)
    move = rowActivityRange(b, a, i, x, activity);
  return rhsInterval(lo, up, activity[size_t(i)], st, move.first, move.second);
}

// Lower and upper limits of a nonbasic column's active bound, and of the other one.
struct BoundIntervals { Interval lb, ub; };

BoundIntervals boundIntervals(double lb, double ub, double x, double d, int st, int sense, double tol, double dn,
                              double upv) {
  if (st == kHighsBasisStatusBasic) return {{-kHInf, x}, {x, kHInf}};
  const bool atUpper = st == kHighsBasisStatusUpper;
  // a fixed column may sit at a bound whose reduced cost has the other sign: then neither bound
  // can move away from the value
  const bool wrongSign = atUpper ? sense * d > tol : sense * d < -tol;
  if (st != kHighsBasisStatusLower && !atUpper) return {{-kHInf, x}, {x, kHInf}};   // free at zero
  if (atUpper) {
    BoundIntervals b{{-kHInf, x}, {std::max(dn, lb), upv}};
    if (wrongSign) b = {{x, x}, {x, x}};
    return b;
  }
  BoundIntervals b{{dn, std::min(upv, ub)}, {x, kHInf}};
  if (wrongSign) b = {{x, x}, {x, x}};
  return b;
}

// Index and output arrays of the ranging calls.
void checkItems(int n, const int *ind, int64_t ind_n, int64_t count, const char *name) {
  if (n < 0) raise(kErrInvalid, "the count n is negative (%d)", n);
  checkExact(ind, ind_n, n, name);
  checkIndices(ind, ind_n, count, name);
}

void checkOut(const double *v, int64_t v_n, int n, const char *name) { checkExact(v, v_n, n, name); }

int rowStatus(void *h, int nrows, int i) {
  std::vector<HighsInt> cs(static_cast<size_t>(Highs_getNumCol(h))), rs(static_cast<size_t>(nrows));
  Highs_getBasis(h, cs.data(), rs.data());
  return rs[size_t(i)];
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Dual range estimates
//
// The dual of row i is a monotone step function of its right-hand side (non-decreasing when
// minimising, non-increasing when maximising). From the optimal basis the right-hand side is
// moved past each limit of the current basis in turn and the dual simplex method re-solves, until
// the problem becomes infeasible or no limit remains, in each direction: the duals met at the two
// ends bound the row's dual over every right-hand side strictly inside the interval for which
// the problem stays feasible (at its ends the dual is not unique). A
// direction not finished within iterlim simplex iterations (for both directions together), or
// before the time limit or an interrupt stopped the call, gives an infinite bound on its side.

namespace {

class DualRanger {
 public:
  DualRanger(ko_prob_struct *p, const OptimalBasis &ob, int iterlim)
      : p_(p), ob_(ob), iterlim_(iterlim), scratch_(ob.scratchCopy(iterlim)) {}

  Interval row(int i) {
    const double lo0 = ob_.arrays().rowlo[size_t(i)], up0 = ob_.arrays().rowup[size_t(i)];
    const double d0 = ob_.solution().duals[size_t(i)];
    Interval r{d0, d0};
    if (rowShape(lo0, up0) == RowShape::Free) return r;
    int64_t used = 0;
    for (int dir : {1, -1}) {
      const double end = walk(i, dir, lo0, up0, used);
      r.lo = std::min(r.lo, end);
      r.hi = std::max(r.hi, end);
    }
    Highs_changeRowBounds(scratch_.h, i, lo0, up0);
    return r;
  }

 private:
  // The dual at the end of direction dir (+1 raising the right-hand side), or +-infinity when
  // the iteration budget ran out first.
  double walk(int i, int dir, double lo0, double up0, int64_t &used) {
    if (ob_.stopRequested()) return unsettled(dir);
    void *h = scratch_.h;
    const int m = ob_.nrows(), n = ob_.ncols();
    Highs_changeRowBounds(h, i, lo0, up0);
    Highs_setBasis(h, ob_.colStatus().data(), ob_.rowStatus().data());
    Highs_setIntOptionValue(h, "simplex_iteration_limit", 0);
    double dual = ob_.solution().duals[size_t(i)];
    // the basis is optimal: the run only factorises it
    if (runScratch(p_, h, nullptr) != kHighsModelStatusOptimal) return unsettled(dir);
    double lo = lo0, up = up0, step = 0.0;
    const RowShape shape = rowShape(lo0, up0);
    const double w = shape == RowShape::Both ? up0 - lo0 : 0.0;
    const size_t nn = static_cast<size_t>(n), mm = static_cast<size_t>(m);
    std::vector<double> cv(nn), cd(nn), rv(mm), rd(mm);
    for (;;) {
      Highs_getSolution(h, cv.data(), cd.data(), rv.data(), rd.data());
      const BasisMatrix b(h, ob_.arrays(), m);
      const Interval lim = rowInterval(b, ob_.arrays(), i, lo, up, rowStatus(h, m, i), cv, rv);
      const double limit = dir > 0 ? lim.hi : lim.lo;
      if (std::isinf(limit)) return dual;
      if (used >= iterlim_ || ob_.stopRequested()) return unsettled(dir);
      // just past the limit; the step grows while the solver sees no change
      const double base = 1e-7 * (1.0 + std::fabs(limit));
      step = std::max(step, base);
      const double rhs = limit + dir * step;
      if (shape == RowShape::Lower) lo = rhs;
      else up = rhs, lo = shape == RowShape::Both ? rhs - w : lo;
      Highs_changeRowBounds(h, i, lo, up);
      Highs_setIntOptionValue(h, "simplex_iteration_limit", int(std::min<int64_t>(iterlim_ - used, INT32_MAX)));
      int64_t iters = 0;
      const int status = runScratch(p_, h, &iters);
      used += std::max<int64_t>(1, iters);
      if (status == kHighsModelStatusInfeasible) return dual;
      if (status != kHighsModelStatusOptimal) return unsettled(dir);
      Highs_getSolution(h, cv.data(), cd.data(), rv.data(), rd.data());
      dual = rd[size_t(i)];
      step = iters == 0 ? step * 10 : 0.0;
    }
  }

  // Minimising, the dual grows with the right-hand side; maximising, it falls.
  double unsettled(int dir) const { return dir * ob_.sense() > 0 ? kHInf : -kHInf; }

  ko_prob_struct *p_;
  const OptimalBasis &ob_;
  int iterlim_;
  ScratchHighs scratch_;
};

}  // namespace

}  // namespace krvx

using namespace krvx;

namespace {

// objsa and rhssa: checks, then limits(ob) gives the interval of each index. Items not reached
// when the call is stopped keep the limits -1e20 and 1e20.
template <class F>
int limitsCall(KRVXprob prob, const char *fn, const char *what, bool rows, int n, const int *ind, int64_t ind_n,
               double *lower, int64_t lower_n, double *upper, int64_t upper_n, F &&limits) {
  return analysisCall(prob, fn, [&] {
    OptimalBasis ob(prob, what);
    checkItems(n, ind, ind_n, rows ? ob.nrows() : ob.ncols(), rows ? "rowind" : "colind");
    checkOut(lower, lower_n, n, "lower");
    checkOut(upper, upper_n, n, "upper");
    if (n == 0) return;
    std::fill(lower, lower + n, -kInf);
    std::fill(upper, upper + n, kInf);
    if (ob.stopRequested()) return;
    auto at = limits(ob);
    for (int k = 0; k < n && !ob.stopRequested(); ++k) {
      const Interval v = at(ind[k]);
      lower[k] = toKrvx(v.lo);
      upper[k] = toKrvx(v.hi);
    }
  });
}

}  // namespace

extern "C" KRVX_API int KRVXobjsa_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
                                                 double *lower, int64_t lower_n, double *upper, int64_t upper_n) {
  return limitsCall(prob, __func__, "Objective ranging", false, n, colind, colind_n, lower, lower_n, upper, upper_n,
                    [](const OptimalBasis &ob) {
                      return [&r = ranging(ob)](int j) {
                        return Interval{r.costdn[size_t(j)], r.costup[size_t(j)]};
                      };
                    });
}

extern "C" KRVX_API int KRVXbndsa_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
                                                 double *lblower, int64_t lblower_n, double *lbupper,
                                                 int64_t lbupper_n, double *ublower, int64_t ublower_n,
                                                 double *ubupper, int64_t ubupper_n) {
  return analysisCall(prob, __func__, [&] {
    OptimalBasis ob(prob, "Bound ranging");
    checkItems(n, colind, colind_n, ob.ncols(), "colind");
    checkOut(lblower, lblower_n, n, "lblower");
    checkOut(lbupper, lbupper_n, n, "lbupper");
    checkOut(ublower, ublower_n, n, "ublower");
    checkOut(ubupper, ubupper_n, n, "ubupper");
    if (n == 0) return;
    for (double *v : {lblower, ublower}) std::fill(v, v + n, -kInf);   // when stopped first
    for (double *v : {lbupper, ubupper}) std::fill(v, v + n, kInf);
    if (ob.stopRequested()) return;
    const Ranging &r = ranging(ob);
    const ModelArrays &a = ob.bounds();
    for (int k = 0; k < n && !ob.stopRequested(); ++k) {
      const size_t j = size_t(colind[k]);
      const BoundIntervals b =
          boundIntervals(a.lower[j], a.upper[j], ob.solution().x[j], ob.solution().djs[j], ob.colStatus()[j],
                         ob.sense(), ob.optimalitytol(), r.bounddn[j], r.boundup[j]);
      lblower[k] = toKrvx(b.lb.lo);
      lbupper[k] = toKrvx(b.lb.hi);
      ublower[k] = toKrvx(b.ub.lo);
      ubupper[k] = toKrvx(b.ub.hi);
    }
  });
}

extern "C" KRVX_API int KRVXrhssa_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n,
                                                 double *lower, int64_t lower_n, double *upper, int64_t upper_n) {
  return limitsCall(prob, __func__, "Right-hand side ranging", true, n, rowind, rowind_n, lower, lower_n, upper,
                    upper_n, [](const OptimalBasis &ob) {
                      return [&r = ranging(ob), &ob, b = std::optional<BasisMatrix>()](int i) mutable {
                        const ModelArrays &a = ob.bounds();
                        const size_t ii = size_t(i);
                        const double lo = a.rowlo[ii], up = a.rowup[ii], act = ob.activities()[ii];
                        const int st = ob.rowStatus()[ii];
                        const RowShape shape = rowShape(lo, up);
                        if (shape == RowShape::Free || st == kHighsBasisStatusBasic)
                          return rhsInterval(lo, up, act, st, 0.0, 0.0);
                        // the solver's limits of the activity, from the bound it sits at
                        double at = st == kHighsBasisStatusUpper ? up : lo;
                        if (std::isinf(at)) at = rowRhs(lo, up);
                        double dn = r.rowdn[ii] - at, upv = r.rowup[ii] - at;
                        if (shape == RowShape::Both && lo < up &&
                            (st == kHighsBasisStatusUpper ? r.rowdn[ii] <= lo : r.rowup[ii] >= up)) {
                          if (!b) b.emplace(ob.highs(), ob.arrays(), ob.nrows());
                          const std::pair<double, double> move =
                              rowActivityRange(*b, ob.arrays(), i, ob.solution().x, ob.activities());
                          dn = move.first;
                          upv = move.second;
                        }
                        return rhsInterval(lo, up, act, st, dn, upv);
                      };
                    });
}

extern "C" KRVX_API int KRVXestimaterowdualranges_witharraysizes(KRVXprob prob, int n, const int *rowind,
                                                                 int64_t rowind_n, int iterlim, double *mindual,
                                                                 int64_t mindual_n, double *maxdual,
                                                                 int64_t maxdual_n) {
  return analysisCall(prob, __func__, [&] {
    OptimalBasis ob(prob, "Dual range estimation");
    checkItems(n, rowind, rowind_n, ob.nrows(), "rowind");
    if (iterlim < 0) raise(kErrInvalid, "iterlim is negative (%d)", iterlim);
    checkOut(mindual, mindual_n, n, "mindual");
    checkOut(maxdual, maxdual_n, n, "maxdual");
    if (n == 0) return;
    DualRanger ranger(prob, ob, iterlim);
    for (int k = 0; k < n; ++k) {
      const Interval d = ranger.row(rowind[k]);
      mindual[k] = toKrvx(d.lo);
      maxdual[k] = toKrvx(d.hi);
    }
  });
}
