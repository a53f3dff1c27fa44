// Solving a linear MIP with branching directives through Cbc, which takes priorities, preferred
// directions and pseudo costs per branching object. The model is the lowering every engine
// gets (highs_lower.h, reform.h), with semi-continuous and partial-integer columns in binary
// form (Cbc has no notion of them).
#pragma once
#include "nl/nlpsolve.h"
#include "solve/solve.h"

namespace krvx {

// Runs the lowered model (engine Cbc) without the mutex; fills out like runHighs (user columns
// and rows). Stop requests (KRVXinterrupt, SIGINT) end the search at the next node.
int runCbc(ko_prob_struct *p, const Lowered &low, const ModelArrays &a, const BranchingInfo &branching,
           const RunSettings &s, Solution &out);

}  // namespace krvx
