// Lowering the model store to one model that every engine solves: linear arrays (HiGHS's
// model, through highs_c_api.h only) plus the nonlinear parts the nonlinear engines evaluate.
#pragma once
#include "core/highs_pool.h"
#include "core/store.h"
#include "nl/nl.h"
#include "solve/reform.h"

#include <cmath>
#include <vector>

namespace krvx {

// The engine that solves a lowered model, chosen from its content by planLowering:
//   Highs   linear and convex quadratic objectives, discrete or not (no quadratic with discrete)
//   Ipopt   continuous problems (or relaxations) with nonlinear content left after lowering
//   Bonmin  discrete problems with nonlinear content or a quadratic objective
//   Cbc     linear MIPs with branching directives (one objective), which it takes
//   Scip    every problem asked to be solved to global optimality (one objective)
enum class Engine { Highs, Ipopt, Bonmin, Cbc, Scip };

// Continuous QPs above this many columns go to the interior-point solver directly (see the qp
// benchmark); smaller ones go there when the QP solver fails on them.
constexpr int kQpDirectColumns = 2000;

// How the store maps onto the lowered model. User columns and rows come first, in order.
// For HiGHS, a partial-integer column j with an integer and a continuous range becomes y + s,
// with y the user column (integer part) and s an auxiliary semi-continuous column split[j],
// tied by an auxiliary row y + s <= ub when ub is finite. The nonlinear engines know no
// semi-continuous columns, nor does Cbc: there the reformulation adds binaries for them (reform.h).
// Formulas are compiled into tapes; their abs, min, max, pwl and sign nodes become auxiliary
// columns defined exactly by the reformulations (reform.h), and what is affine afterwards goes
// into the linear arrays.
struct Lowered {
  int ncols = 0, nrows = 0;        // user columns and rows
  int hcols = 0, hrows = 0;        // HiGHS columns and rows
  std::vector<int> split;          // per user column: HiGHS index of its continuous part, -1 none
  std::vector<double> rhs;         // user rows' rhs (slack = rhs - activity); see passOwnHighs
  bool discrete = false;           // integer, semi-continuous or partial-integer columns
  bool quadratic = false;          // a Hessian is passed
  bool convexobj = true;           // the objective's Hessian passed the convexity check
  bool multiobj = false;           // several objectives, passed as HiGHS's linear objectives
  bool relax = false;              // the continuous relaxation is solved
  bool binaryforms = false;        // semi-continuous and partial-integer columns through binaries
  Engine engine = Engine::Highs;
  Reform reform;                   // auxiliary columns and rows after the split ones (reform.h)
  std::vector<double> rowconst;    // per user row: constant of its lowered formulas (empty: none)
  // Nonlinear parts left after lowering (nonlinear engines only): formula tapes per lowered
  // row (may be shorter than hrows) and of the objective; their columns are lowered columns.
  std::vector<std::vector<nl::Tape>> tapes;
  std::vector<nl::Tape> objtapes;
  bool hasSplit() const { return !split.empty(); }
  bool hasAux() const { return hcols > ncols || hrows > nrows; }
  bool nonlinearEngine() const { return engine == Engine::Ipopt || engine == Engine::Bonmin || engine == Engine::Scip; }
  // arrays that depend on the relaxation (HiGHS gets a relaxed MIQP without integrality)
  bool transientArrays() const { return relax && quadratic && discrete; }
  double rowConstant(int i) const { return rowconst.empty() ? 0.0 : rowconst[size_t(i)]; }
};

// The arguments of Highs_passModel: a copy of the lowered model, so that HiGHS can take it
// without the store's mutex held. The matrix is the one exception: where the lowered matrix is
// the store's packed one, the arrays may borrow it (buildArrays' `borrow`); borrowed pointers
// stay valid only while the store cannot change: with its mutex held, or inside the SolveScope
// of the call that built the arrays.
struct ModelArrays {
  int sense = 1;
  double offset = 0.0;
  std::vector<double> cost, lower, upper, rowlo, rowup, value, qvalue;
  std::vector<int> start, index, qstart, qindex, integrality;   // start, index, value: own matrix
  struct Borrowed {
    const int *start = nullptr, *index = nullptr;
    const double *value = nullptr;
    int nnz = 0;
  } borrowed;                                   // start null: the own matrix is the one
  // The column-wise matrix (hcols + 1 offsets, then rows and values), own or borrowed.
  const int *colStart() const { return borrowed.start ? borrowed.start : start.data(); }
  const int *rowIndex() const { return borrowed.start ? borrowed.index : index.data(); }
  const double *coefValue() const { return borrowed.start ? borrowed.value : value.data(); }
  int nnz() const { return borrowed.start ? borrowed.nnz : static_cast<int>(index.size()); }
  // Several objectives: one linear objective per priority level (highest first), the objectives
  // of a level blended by their weights; coefficients dense, hcols per level.
  std::vector<double> objweight, objoffset, objcoef, objabstol, objreltol;
  std::vector<int> objpriority;
};

// Plans the mapping and chooses the engine (relax: the continuous relaxation is wanted; global:
// the global engine); refuses content no engine can take with a clear text naming it. Mutex held.
int planLowering(ko_prob_struct *p, Lowered &low, bool relax = false, bool global = false);
// The arrays of a planned model. Mutex held. borrow: the matrix may be the store's (see
// ModelArrays); only for arrays that do not outlive the current SolveScope.
void buildArrays(const ko_prob_struct *p, const Lowered &low, ModelArrays &a, bool borrow = false);
// Passes the arrays to a HiGHS instance that no other thread uses; without the mutex (the
// solver's log lines go to message output). Fails with the solver's reason.
int passArrays(ko_prob_struct *p, void *h, const ModelArrays &a);
// The bounds of an integer column moved in to the nearest integers (within 1e-9): the
// branch-and-bound engines branch on them as given, and crossed ones (no integer between the
// bounds) must be found before an engine sees them.
inline void integralBounds(double &lb, double &ub) {
  if (lb > -kInf) lb = std::ceil(lb - 1e-9);
  if (ub < kInf) ub = std::floor(ub + 1e-9);
}
// Quadratic terms with i <= j, sorted, the terms of one entry summed, zeros dropped.
std::vector<QTerm> mergedTerms(std::vector<QTerm> q);
// Whether sign * Q of merged terms (i <= j) is positive semidefinite, as far as checked:
// nonnegative diagonal and 2x2 minors always, a dense factorisation up to 300 columns (beyond
// them, strict: false).
bool semidefinite(const std::vector<QTerm> &terms, double sign, bool strict = false);

// The problem's own instance, kept between solves for warm starts, in two steps:
// prepareOwnHighs (mutex held) plans, creates the instance on first use and builds the arrays
// when the store changed since the last lowering (`pass`); passOwnHighs (without the mutex,
// inside a SolveScope) passes them. Without a change the instance keeps its model and basis.
// For the nonlinear engines it builds the arrays only (no instance, pass false).
// What HiGHS copies is all held at once while it copies: so with a pass for HiGHS, low.rhs is
// dropped before the arrays are built and filled again by passOwnHighs once it has freed them.
int prepareOwnHighs(ko_prob_struct *p, Lowered &low, ModelArrays &a, bool &pass, bool relax = false,
                    bool global = false);
int passOwnHighs(ko_prob_struct *p, Lowered &low, ModelArrays &a);

}  // namespace krvx
