// Branching information for branch-and-bound from the problem's branching directives.
#include "nl/nlpsolve.h"

#include <algorithm>
#include <cmath>

namespace krvx {

void branchingInfo(const ko_prob_struct *p, const Lowered &low, BranchingInfo &info) {
  info = BranchingInfo();
  if (p->dirs.empty()) return;
  const size_t n = size_t(low.hcols);
  // priorities shifted by one: engines read 0 as "none given"
  info.priority.assign(n, Directive().priority + 1);
  info.direction.assign(n, 0);
  const bool pseudo = std::any_of(p->dirs.begin(), p->dirs.end(), [](const Directive &d) { return d.up > 0 || d.down > 0; });
  if (pseudo) {
    info.upcost.assign(n, 1e-5);
    for (int j = 0; j < low.ncols; ++j) info.upcost[size_t(j)] = std::max(1e-5, std::fabs(p->cols[size_t(j)].cost));
    info.downcost = info.upcost;
  }
  auto apply = [&](int j, const Directive &d) {
    info.priority[size_t(j)] = d.priority + 1;
    info.direction[size_t(j)] = d.dir == 'U' ? 1 : d.dir == 'D' ? -1 : 0;
    if (pseudo && (d.up > 0 || d.down > 0)) {
      info.upcost[size_t(j)] = std::max(1e-5, d.up);   // a side left at 0: the smallest estimate
      info.downcost[size_t(j)] = std::max(1e-5, d.down);
    }
  };
  const Reform &r = low.reform;
  for (const Directive &d : p->dirs) {
    std::pair<int, int> aux{0, 0};
    if (d.index >= 0) {
      apply(d.index, d);
      if (size_t(d.index) < r.colbinaries.size()) aux = r.colbinaries[size_t(d.index)];
    } else if (size_t(-1 - d.index) < r.setbinaries.size() && r.setbinaries[size_t(-1 - d.index)].second > 0) {
      aux = r.setbinaries[size_t(-1 - d.index)];
    } else {
      info.setpriority.resize(p->sets.size(), 0);
      info.setpriority[size_t(-1 - d.index)] = d.priority + 1;
    }
    for (int j = aux.first; j < aux.second; ++j) apply(j, d);
  }
}

}  // namespace krvx
