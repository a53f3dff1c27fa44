// Diagnostics of solves kept for later queries: the barrier solution before crossover and the
// entering variable of an unbounded ray (diagnostics.cpp).
#pragma once
#include "core/store.h"
#include "solve/highs_lower.h"

namespace krvx {

// Refuses problems with nonlinear formulas or quadratic constraints, whose rows are not linear
// (what: the calls' subject, "Infeasibilities").
void refuseNonlinearRows(const ko_prob_struct *p, const char *what);
// Keeps the values of the instance's last (barrier) run, user columns and rows, with its LP status.
void keepBarrierSolution(void *h, const Lowered &low, SolveDiagnostics &diag);
// After a run that found the LP unbounded: the combined index (row i, column nrows + j) of the
// non-basic variable along which the solver's primal ray moves, for a primal simplex run; -1
// otherwise. found: a ray was available.
int unboundedEntering(void *h, const Lowered &low, bool primal, bool &found);

}  // namespace krvx
