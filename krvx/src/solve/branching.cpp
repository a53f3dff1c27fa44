// Branching information for branch-and-bound from the problem's branching directives.
#include "nl/nlpsolve.h"

namespace krvx {

void branchingInfo(const ko_prob_struct *, const Lowered &, BranchingInfo &info) {
  info = BranchingInfo();   // no directives are kept yet
}

}  // namespace krvx
