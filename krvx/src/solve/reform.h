// Reformulation of what HiGHS has no notion of (SOS sets, indicator, piecewise-linear and general
// constraints) into an equivalent MIP: auxiliary columns and rows appended after the user's ones
// (and after the partial-integer split), planned from the store and applied to the lowered arrays
// only; the store is never changed. See REFORMULATIONS.md.
#pragma once
#include "core/store.h"

#include <utility>
#include <vector>

namespace krvx {

struct Lowered;
struct ModelArrays;

struct Reform {
  struct Col { double lb, ub; bool integer; };
  struct Row {
    double lo, up;                               // +-infinity for a missing side
    std::vector<std::pair<int, double>> coefs;   // user columns (< ncols) or auxiliary ones (HiGHS index)
    int copy = -1;                               // a user row whose lowered coefficients are added
  };
  int firstcol = 0, firstrow = 0;                // HiGHS index of the first auxiliary column and row
  std::vector<Col> cols;
  std::vector<Row> rows;
  std::vector<int> freed;                        // user rows lowered free (indicator rows: enforced by aux rows)
  std::vector<std::pair<int, int>> setbinaries;  // per set: its binaries, HiGHS columns first..second-1
  bool empty() const { return cols.empty() && rows.empty() && freed.empty(); }
};

// Plans the reformulation once low holds the user's model and its split: sets low.reform and
// counts its columns and rows into low.hcols and low.hrows. A reformulation that needs a finite
// bound the model lacks fails naming the constraint, the column and the bound. Mutex held.
int planReform(ko_prob_struct *p, Lowered &low);

// Adds the planned columns and rows to the arrays built for the user's model.
void applyReform(const Lowered &low, ModelArrays &a);

}  // namespace krvx
