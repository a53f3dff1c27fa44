// Lowering the model store to a HiGHS model (through highs_c_api.h only).
#pragma once
#include "core/store.h"
#include "solve/reform.h"

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
  bool multiobj = false;           // several objectives, passed as HiGHS's linear objectives
  Reform reform;                   // auxiliary columns and rows after the split ones (reform.h)
  bool hasSplit() const { return !split.empty(); }
  bool hasAux() const { return hcols > ncols || hrows > nrows; }
};

// The arguments of Highs_passModel: a copy of the lowered model, so that HiGHS can take it
// without the store's mutex held.
struct ModelArrays {
  int sense = 1;
  double offset = 0.0;
  std::vector<double> cost, lower, upper, rowlo, rowup, value, qvalue;
  std::vector<int> start, index, qstart, qindex, integrality;
  // Several objectives: one linear objective per priority level (highest first), the objectives
  // of a level blended by their weights; coefficients dense, hcols per level.
  std::vector<double> objweight, objoffset, objcoef, objabstol, objreltol;
  std::vector<int> objpriority;
};

// Refuses content HiGHS cannot solve (clear text naming it) and plans the mapping. Mutex held.
int planLowering(ko_prob_struct *p, Lowered &low);
// The arrays of a planned model. Mutex held.
void buildArrays(const ko_prob_struct *p, const Lowered &low, ModelArrays &a);
// Passes the arrays to a HiGHS instance that no other thread uses; without the mutex (the
// solver's log lines go to message output). Fails with the solver's reason.
int passArrays(ko_prob_struct *p, void *h, const ModelArrays &a);
// A new HiGHS instance with libkrvx's logging defaults (console output off).
void *newHighs();

// The problem's own instance, kept between solves for warm starts, in two steps:
// prepareOwnHighs (mutex held) plans, creates the instance on first use and builds the arrays
// when the store changed since the last lowering (`pass`); passOwnHighs (without the mutex,
// inside a SolveScope) passes them. Without a change the instance keeps its model and basis.
int prepareOwnHighs(ko_prob_struct *p, Lowered &low, ModelArrays &a, bool &pass);
int passOwnHighs(ko_prob_struct *p, const ModelArrays &a);

}  // namespace krvx
