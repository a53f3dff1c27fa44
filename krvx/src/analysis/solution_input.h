// Solutions given to the library: loaded arrays and files (solution_input.cpp).
#pragma once
#include "core/store.h"
#include "solve/highs_lower.h"

#include <vector>

namespace krvx {

// Of several candidate MIP starts keeps the best feasible one (the first when none is). Mutex held.
void chooseMipStart(const ko_prob_struct *p, std::vector<std::vector<double>> &starts);
// Hands the problem's MIP starts (x of the user columns) to the instance before a MIP run.
void passMipStarts(void *h, const Lowered &low, const std::vector<std::vector<double>> &starts);

}  // namespace krvx
