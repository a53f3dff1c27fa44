// Continuous nonlinear problems: formulas, quadratic rows and quadratic objectives, gathered from
// the store into a smooth model (nlpsolve.cpp) that the interior-point solver walks (ipopt.cpp).
//
// The model: minimise sense * f(x) over lb <= x <= ub and the store's rows with bounds, where
//   f(x)    = objconst + c'x + 1/2 x'Qx + objective formulas
//   body(x) = a_i'x + x'Q_i x + row i's formulas  (Q_i symmetric from the stored triangle)
// Derivatives are exact: gradients and Jacobians by reverse mode over the formulas' tapes (sparse:
// a row's Jacobian entries are its linear, quadratic and formula columns), Hessians of the
// Lagrangian from Hessian-vector products along each formula's columns. Formulas calling a user
// function without derivatives (finite differences for its gradient) use a limited-memory
// Hessian instead, since second differences of differences are too noisy to steer Newton steps.
#pragma once
#include "nl/nl.h"
#include "solve/solve.h"

#include <string>
#include <vector>

namespace krvx {

struct NlpModel {
  int n = 0, nrows = 0;                 // columns, store rows
  double sense = 1.0, objconst = 0.0;
  bool discrete = false;                // a relaxed discrete problem
  std::vector<double> lb, ub;           // columns (+-kInf when free)
  std::vector<double> rowlo, rowup;     // rows (N: both infinite)
  std::vector<double> rhs;              // slack = rhs - body
  std::vector<int> crows;               // the rows handed to the solver (all but free rows)
  std::vector<double> cost;
  std::vector<QTerm> qobj;              // merged triangle, i <= j
  // Jacobian, row-wise over all store rows: distinct columns and their linear coefficients
  std::vector<int> jstart, jcol;
  std::vector<double> jlin;
  std::vector<std::vector<QTerm>> qrows;                    // merged, i <= j; empty when linear
  std::vector<std::vector<nl::Tape>> rowtapes;              // per row (may be shorter than rows)
  std::vector<nl::Tape> objtapes;
  UserFunctions funcs;
  const tagKRVNproblem *nl = nullptr;
  // Lower triangle of the Lagrangian's Hessian: entries (hrow >= hcol) and where each term lands
  bool exactHessian = true;
  std::vector<int> hrow, hcol;
  std::vector<int> qobjpos;                                 // per qobj term
  std::vector<std::vector<int>> qrowpos;                    // per qrows term
  std::vector<std::vector<int>> rowtapepos, objtapepos;     // per tape: k*k, [a*k+b] for cols a >= b

  bool hasNonlinear() const;            // anything beyond a linear objective and linear rows

  // Evaluation; throws krvx::Error on a domain error or a failing user function.
  double objective(const double *x) const;                 // f(x), in the user's sense
  void gradient(const double *x, double *g) const;         // sense * grad f (dense, n)
  void bodies(const double *x, double *body) const;        // every store row
  void jacobian(const double *x, double *vals, std::vector<double> &scratch) const;  // jcol order
  // Lower-triangle values: objfactor * sense * Hess f + sum_rows lambda[r] * Hess body_r (lambda per store row)
  void hessian(const double *x, double objfactor, const double *lambda, double *vals,
               std::vector<double> &scratch) const;
  // Largest violation of bounds and rows at x, each measured against max(1, |bound|).
  double violation(const double *x, const double *body) const;
};

// The nonlinear solver's share of a solve call (mutex held): `use` when the problem has formulas or
// quadratic rows (continuous, or relaxed); refuses discrete problems with such content.
int nlpRoute(ko_prob_struct *p, bool relax, bool &use);
// Gathers the model (mutex held); refuses content the solver cannot take (text set).
int nlpPrepare(ko_prob_struct *p, NlpModel &m);
// Quadratic programs above this many columns go to the nonlinear solver directly (see the qp
// benchmark); smaller ones go there when the QP solver fails on them.
constexpr int kQpDirectColumns = 2000;
// Whether a HiGHS run of a continuous QP ended in a way the nonlinear solver should retry.
bool qpRetry(int rc, const Solution &out);

// Hessian choice of a run: automatic (exact unless a formula needs finite differences), or forced.
enum class HessianMode { Auto, Exact, LimitedMemory };

// Solves the gathered model without the mutex; fills out (user columns and rows) and returns 0, or
// fails with a clear text (mutex taken for the text).
int nlpRun(ko_prob_struct *p, const NlpModel &m, const RunSettings &s, Solution &out,
           HessianMode hessian = HessianMode::Auto);

}  // namespace krvx
