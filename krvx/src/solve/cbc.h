// Solving a MIP with branching directives through Cbc, which takes priorities, preferred
// directions and pseudo costs per branching object. The model is the same lowering that HiGHS
// gets (highs_lower.h, reform.h); semi-continuous and semi-integer columns, which Cbc has no
// notion of, become a binary switch each with two rows.
#pragma once
#include "solve/solve.h"

#include <vector>

namespace krvx {

// The lowered model and the branching information of its columns.
struct CbcModelPlan {
  Lowered low;
  ModelArrays arrays;
  std::vector<Directive> branching;   // per lowered column (index unused): its directive or the defaults
  bool directions = false;            // some directive prefers a branch (U or D)
};

// Decides whether this solve goes to Cbc: a MIP solve (not a relaxation) of a problem with
// directives whose lowering is linear with one objective. Then plans it (`use` true); otherwise
// leaves plan empty and `ignored` names directives that Cbc cannot apply (reported by the caller
// after releasing the mutex). Mutex held. 0, or the failure of the lowering (text set).
int planCbc(ko_prob_struct *p, const RunSettings &s, CbcModelPlan &plan, bool &use, const char *&ignored);

// Runs the planned model without the mutex; fills out like runHighs (user columns and rows).
// Stop requests (KRVXinterrupt, SIGINT) end the search at the next node.
int runCbc(ko_prob_struct *p, const CbcModelPlan &plan, const RunSettings &s, Solution &out);

}  // namespace krvx
