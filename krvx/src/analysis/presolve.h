// The presolved form of a problem (presolve.cpp): mipOptimize with "l" on a MIP presolves it with
// HiGHS, solves the root relaxation of the presolved problem and leaves the problem presolved.
// Attribute ROWS and COLS are then the presolved sizes, the basis calls act on the presolved LP,
// and any change or new solve first leaves the form (leavePresolved, store.h).
#pragma once
#include "core/store.h"
#include "solve/solve.h"

namespace krvx {

// The problem is in presolved form (for calls that act on the presolved problem).
inline bool isPresolved(const ko_prob_struct &p) { return p.presolved.active; }
// Sizes of the problem's current form, and the original column of a presolved one (-1 none).
inline int currentCols(const ko_prob_struct &p) { return p.presolved.active ? p.presolved.ncols : int(p.cols.size()); }
inline int currentRows(const ko_prob_struct &p) { return p.presolved.active ? p.presolved.nrows : int(p.rows.size()); }
inline int originalCol(const ko_prob_struct &p, int j) {
  return p.presolved.active ? (j >= 0 && j < p.presolved.ncols ? p.presolved.colmap[size_t(j)] : -1) : j;
}

// A lowered model whose presolved form this library can hold: a linear MIP without auxiliary parts.
bool presolvable(const Lowered &low);

constexpr int kNotPresolved = -1;
// Presolves the problem's own instance (already holding the model) and solves the root relaxation
// of the presolved problem; without the mutex, inside the solve's SolveScope. Fills out with the
// original problem's solution (postsolved) and `form` with the presolved form to install. Returns
// kNotPresolved when presolve settles the problem or cannot reduce it (the caller then solves as
// usual), else 0 or the failure of the relaxation's solve.
int presolveRoot(ko_prob_struct *p, const Lowered &low, const RunSettings &s, Solution &out, Presolved &form);

}  // namespace krvx
