// The check of a reported point against the problem's own data, after an engine returned it:
// an OPTIMAL or FEASIBLE solution must satisfy every row (linear, quadratic and formula parts),
// every bound and, unless the continuous relaxation was solved, integrality, semi-continuity,
// sets, indicator rows, piecewise-linear and general constraints, within FEASTOL and MIPTOL.
//
// The tolerances are absolute, as HiGHS, Ipopt (constr_viol_tol) and Cbc define theirs: a row
// holds when its activity lies within FEASTOL of its bounds, widened only by the rounding of the
// activity itself (1e-12 times the sum of its terms' magnitudes); a column of an integer kind
// lies within MIPTOL of an integer. Constraints that the engines meet through binaries and big-M
// rows (sets, piecewise-linear and general constraints, rows whose formulas hold abs, min, max,
// pwl or sign) may be off by MIPTOL times the size of the values involved as well.
#pragma once
#include "core/store.h"

#include <string>

namespace krvx {

// The largest violation found at a point (beyond its allowance): `what` names the row, column or
// constraint ("" when the point holds).
struct PointCheck {
  bool holds = true;
  double violation = 0.0;      // of the worst item, in its own units
  std::string what;
};

// Checks sol's point (sol.x) against p's data with the problem's FEASTOL and MIPTOL; `relaxed`:
// the continuous relaxation was solved (no integrality, sets, indicators and the like). Takes
// p's mutex only to read the controls and the user functions: call it without the mutex held
// (formulas may call user functions) while the store cannot change (inside the solve).
// (visible outside the library, as both are: the tests call them directly)
__attribute__((visibility("default"))) PointCheck checkPoint(ko_prob_struct *p, const Solution &sol, bool relaxed);

// After an engine returned: an OPTIMAL or FEASIBLE solution whose point fails checkPoint is no
// solution. The status becomes NOTFOUND (so the point is no longer read as a solution), a completed
// solve FAILED with the stop status NUMERICALERROR, and a warning names the worst violation.
// Returns whether the solution held (true when there was nothing to check). Same calling
// conditions as checkPoint.
__attribute__((visibility("default"))) bool recheckSolution(ko_prob_struct *p, Solution &sol, bool relaxed = false);

}  // namespace krvx
