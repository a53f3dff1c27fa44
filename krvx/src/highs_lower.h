// Lowering the model store to a HiGHS model (through highs_c_api.h only).
#pragma once
#include "store.h"

#include <vector>

namespace krvx {

// How the store maps onto the HiGHS model. User columns and rows come first, in order;
// a partial-integer column j with an integer and a continuous range becomes y + s, with y
// the user column (integer part) and s an auxiliary semi-continuous column split[j], tied
// by an auxiliary row y + s <= ub when ub is finite.
struct Lowered {
  int ncols = 0, nrows = 0;        // user columns and rows
  int hcols = 0, hrows = 0;        // HiGHS columns and rows
  std::vector<int> split;          // per user column: HiGHS index of its continuous part, -1 none
  std::vector<double> rhs;         // user rows' rhs (slack = rhs - activity)
  bool discrete = false;           // integer, semi-continuous or partial-integer columns
  bool quadratic = false;          // a Hessian is passed
  bool hasSplit() const { return hcols > ncols; }
};

// Refuses content HiGHS cannot solve (clear text naming it) and plans the mapping. Mutex held.
int planLowering(ko_prob_struct *p, Lowered &low);
// Passes the planned model to a HiGHS instance. Mutex held.
int passModel(ko_prob_struct *p, void *h, const Lowered &low);
// A new HiGHS instance with libkrvx's logging defaults (console output off).
void *newHighs();
// The problem's own instance: created on first use, the model re-passed when the store
// changed since the last lowering (otherwise the instance keeps its basis). Mutex held.
int ensureHighs(ko_prob_struct *p, Lowered &low);

}  // namespace krvx
