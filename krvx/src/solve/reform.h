// Reformulation of what the engines have no notion of (SOS sets, indicator, piecewise-linear and
// general constraints; abs, min, max, pwl and sign in formulas; for the nonlinear engines also
// semi-continuous and partial-integer columns) into an equivalent MIP: auxiliary columns and
// rows appended after the user's ones (and after the partial-integer split), planned from the
// store and applied to the lowered arrays only; the store is never changed. See REFORMULATIONS.md.
#pragma once
#include "core/store.h"

#include <utility>
#include <vector>

namespace krvx {

struct Lowered;
struct ModelArrays;

struct Reform {
  struct Col { double lb, ub; bool integer; double cost = 0.0; };
  struct Row {
    double lo, up;                               // +-infinity for a missing side
    std::vector<std::pair<int, double>> coefs;   // user columns (< ncols) or auxiliary ones (HiGHS index)
    int copy = -1;                               // a user row whose lowered coefficients are added
  };
  int firstcol = 0, firstrow = 0;                // HiGHS index of the first auxiliary column and row
  std::vector<Col> cols;
  std::vector<Row> rows;
  std::vector<int> freed;                        // user rows lowered free (indicator rows: enforced by aux rows)
  std::vector<std::pair<int, int>> setbinaries;  // per set: its binaries, columns first..second-1 (none: not reformulated)
  std::vector<std::pair<int, int>> colbinaries;  // per user column in binary form: its binaries, likewise
  // Lowered formulas' affine parts: coefficients added to user rows (row, column, value) and to
  // the objective (column, value), and the objective's constant.
  std::vector<std::pair<int, std::pair<int, double>>> rowcoefs;
  std::vector<std::pair<int, double>> objcoefs;
  double objconst = 0.0;
  bool empty() const {
    return cols.empty() && rows.empty() && freed.empty() && rowcoefs.empty() && objcoefs.empty() && objconst == 0.0;
  }
};

// Plans the reformulation once low holds the user's model, its split, its engine and its
// compiled formulas (low.tapes, low.objtapes, user rows and the objective): sets low.reform,
// rewrites the formulas over the auxiliary columns (what stays nonlinear remains in low.tapes
// and low.objtapes), and counts the columns and rows into low.hcols and low.hrows. A
// reformulation that needs a finite bound the model lacks fails naming the constraint, the
// column and the bound. Mutex held.
int planReform(ko_prob_struct *p, Lowered &low);
// Whether Bonmin branches on a set itself: its branches hold members at 0 by their upper bounds,
// so every member must be continuous or integer with a lower bound of 0 (others get binaries).
bool nativeSet(const ko_prob_struct &p, const Set &set);

// What a partial-integer column becomes: x in {integers of [lb, limit)} u [limit, ub].
// Unbounded: integers without a lower bound below the limit, which y + s cannot express.
enum class PartialForm { Integer, Continuous, Split, Unbounded };
PartialForm partialForm(const ko_prob_struct &p, int j);

// Adds the planned columns and rows to the arrays built for the user's model.
void applyReform(const Lowered &low, ModelArrays &a);

}  // namespace krvx
