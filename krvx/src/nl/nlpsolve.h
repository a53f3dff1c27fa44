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

#include <mutex>
#include <string>
#include <vector>

namespace krvx {

// What branch-and-bound takes from branching directives, per lowered column (all empty when the
// problem has none): priority (lower values branched on first, all at least 1), preferred
// direction (-1 down, 1 up, 0 none), and up and down pseudo costs (empty when no directive gives
// any; columns without then get the magnitude of their cost). A directive of a column whose form
// adds auxiliary columns (semi-continuous, partial-integer) applies to those too; one of a set to
// the set's binaries where the set is reformulated, else to setpriority (per set, the engine
// branching on sets itself).
struct BranchingInfo {
  std::vector<int> priority, direction, setpriority;
  std::vector<double> upcost, downcost;
  bool empty() const { return priority.empty() && direction.empty() && upcost.empty() && downcost.empty(); }
};
// The branching information of a problem's directives for its lowering (mutex held).
void branchingInfo(const ko_prob_struct *p, const Lowered &low, BranchingInfo &info);

// Built from the lowered model (solve/highs_lower.h): its columns and rows, user ones first.
struct NlpModel {
  int n = 0, nrows = 0;                 // lowered columns and rows
  int usercols = 0, userrows = 0;       // the user's columns and rows among them
  double sense = 1.0, objconst = 0.0;
  bool discrete = false;                // a discrete problem (relaxed unless integer is set)
  bool convexqp = false;                // quadratic objective found convex, linear rows, no formulas
  std::vector<char> integer;            // per column: integer (branch-and-bound only)
  std::vector<int> split;               // per user column: its continuous part, -1 none (may be empty)
  std::vector<double> rowconst;         // per user row: constant of its lowered formulas (may be empty)
  std::vector<std::pair<int, const Set *>> sets;   // sets branched on as sets, with their index (branch-and-bound only)
  BranchingInfo branching;              // directives for branch-and-bound (empty: none)
  std::vector<double> lb, ub;           // columns (+-kInf when free)
  std::vector<double> rowlo, rowup;     // rows (N: both infinite)
  std::vector<double> rhs;              // slack = rhs - body
  std::vector<int> crows;               // the rows handed to the solver (all but free and empty rows)
  std::vector<int> emptyrows;           // rows with bounds but no columns (0 must lie within them)
  std::vector<double> cost;
  std::vector<QTerm> qobj;              // merged triangle, i <= j
  // Jacobian, row-wise over all store rows: distinct columns and their linear coefficients
  std::vector<int> jstart, jcol;
  std::vector<double> jlin;
  std::vector<std::vector<QTerm>> qrows;                    // merged, i <= j; empty when linear
  std::vector<std::vector<nl::Tape>> rowtapes;              // per row (may be shorter than rows)
  std::vector<nl::Tape> objtapes;
  // Objective terms c * sqrt(q(x)), q a nonnegative convex quadratic, taken out of objtapes as
  // c * t over a column t >= 0 and a row t^2 - q(x) >= 0 (smooth where sqrt has its kink):
  // the column and the term, which gives the user's objective.
  std::vector<std::pair<int, nl::Tape>> cones;
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
  double userObjective(const double *x) const;             // f(x) with the cone terms as written
  void gradient(const double *x, double *g) const;         // sense * grad f (dense, n)
  void bodies(const double *x, double *body) const;        // every store row
  void jacobian(const double *x, double *vals, std::vector<double> &scratch) const;  // jcol order
  // Lower-triangle values: objfactor * sense * Hess f + sum_rows lambda[r] * Hess body_r (lambda per store row)
  void hessian(const double *x, double objfactor, const double *lambda, double *vals,
               std::vector<double> &scratch) const;
  // Whether 0 lies within the bounds of every empty row.
  bool emptyRowsHold(double feastol) const;
  // Largest violation of bounds and rows at x, each measured against max(1, |bound|).
  double violation(const double *x, const double *body) const;
};

// Evaluation for a solver's callbacks: a failing evaluation returns false and keeps its text;
// after a user function failed nothing more is evaluated (the solve ends with its text).
class NlpEvaluator {
 public:
  explicit NlpEvaluator(const NlpModel &m) : m_(m), body_(size_t(m.nrows)) {}
  bool objective(const double *x, double &obj);            // sense * f(x)
  bool gradient(const double *x, double *g);
  bool constraints(const double *x, double *g);            // the rows handed to the solver (crows)
  int jacobianEntries() const;
  void jacobianPattern(int *irow, int *jcol) const;
  bool jacobian(const double *x, double *vals);
  void hessianPattern(int *irow, int *jcol) const;
  bool hessian(const double *x, double objfactor, const double *lambda, double *vals);
  // bodies of every row at x (false when they cannot be evaluated)
  bool bodies(const double *x);
  const std::vector<double> &body() const { return body_; }
  bool userFailed = false;
  std::string error;                                        // the last evaluation failure

 private:
  template <class F>
  bool evaluate(F &&f);
  const NlpModel &m_;
  std::vector<double> scratch_, body_, lambda_;
};

// Gathers the model from a lowering and its arrays (mutex held).
void nlpBuild(ko_prob_struct *p, const Lowered &low, const ModelArrays &a, NlpModel &m);
// Lowers the problem for the nonlinear solver and gathers it (mutex held); fails with the
// lowering's text.
int nlpPrepare(ko_prob_struct *p, NlpModel &m);
// The user's solution from a point of the model: values, slacks (rhs - body), objective;
// false (nothing set) when the objective cannot be evaluated there.
bool nlpUserSolution(const NlpModel &m, const double *x, const double *body, Solution &out);
// A search of a model not shown convex that found no feasible point from any of its `starts` start
// points: COMPLETED, NOTFOUND, stop status LOCALLYINFEASIBLE (no proof), with a warning naming
// `solver`. The caller sets the LP or MIP status.
void nlpLocallyInfeasible(ko_prob_struct *p, const char *solver, int starts, Solution &out);
// The start point: 0 moved into the bounds, and inside a finite box moved on by a share of the
// box that differs per column (no symmetric stationary point).
void nlpStartPoint(const NlpModel &m, std::vector<double> &x);
// Another start point for the attempt-th retry (1, 2, ...): spread over the bounds (their finite
// box, or a range around the first start point), the same sequence every run.
void nlpRetryPoint(const NlpModel &m, int attempt, std::vector<double> &x);
// Whether the model is convex as composition rules and the quadratic parts show: rows whose
// bounded sides hold convex sets and (with objective) a convex objective (concave when
// maximised). A local infeasibility of rows shown convex, or a local optimum of a model shown
// convex, holds globally.
bool nlpConvex(const NlpModel &m, bool objective = true);
// After a converged solve at x (multipliers multg of the rows handed to the solver): a point
// near x along a direction of negative curvature of the Lagrangian's Hessian on the null space of
// the active rows (columns at bounds held), moved back onto the active rows, where the objective
// is lower and the bounds and rows hold (start); false when there is none.
bool nlpDescentStart(const NlpModel &m, NlpEvaluator &ev, const std::vector<double> &x,
                     const std::vector<double> &multg, double feastol, std::vector<double> &start);
// The optimality residual at x of the interior-point solver's multipliers (multg of the rows
// handed to it, zl and zu of the bounds), in its own scaling: the larger of the stationarity
// error |grad f + J'multg - zl + zu| and the complementarity error, each scaled as the solver's
// convergence test does and relative to the size of the gradient and of the objective. Infinite
// when a multiplier pulls towards a missing bound or the functions cannot be evaluated.
double nlpOptimalityError(const NlpModel &m, NlpEvaluator &ev, const std::vector<double> &x,
                          const std::vector<double> &multg, const std::vector<double> &zl,
                          const std::vector<double> &zu);
// After a converged solve at x: each cone term's q moved to its minimum (where sqrt has its kink)
// by a Newton step on q, the cone columns set to sqrt(q); x takes the first such point where the
// bounds and rows hold and the objective is not higher. Whether x changed.
bool nlpConeSnap(const NlpModel &m, NlpEvaluator &ev, std::vector<double> &x, double feastol);
// A lower bound of a convex QP's optimum from row multipliers (weak duality), which makes
// "optimal" a certificate: for any multipliers y (the interior-point solver's sign: grad f + J'y
// = reduced costs) and every feasible x',
//   f(x') >= f(x') + y'Ax' - sum_r support_r(y_r)  >=  min over the column box of that,
// with support_r(y) = y * (upper side when y > 0, else lower side); multipliers whose side is
// infinite are taken as 0. Columns without cross terms in the objective are minimised exactly over
// their interval; the others through the objective's tangent at the point (convexity). A reduced
// cost toward an infinite bound cannot be absorbed: up to `dualtol` it is dropped (the bound is then
// that of the problem with the cost perturbed by it, as a dual feasibility tolerance means),
// beyond it the bound is -infinity. All in the solver's sense (sense * f), sums in long double.
class QpCertificate {
 public:
  explicit QpCertificate(const NlpModel &m);
  // objective sense * f(x) and the bound from multipliers y (one per handed row, m.crows)
  void evaluate(const double *x, const double *y, double dualtol, double &objective, double &bound) const;

 private:
  const NlpModel &m_;
  std::vector<double> diag_;    // sense * Q_jj
  std::vector<char> coupled_;   // the column has cross terms
};

// Whether a HiGHS run of a continuous QP ended in a way the nonlinear solver should retry
// (qplimit: the QP solver's own iteration limit).
bool qpRetry(int rc, const Solution &out, int64_t qplimit);
// The QP solver's iteration limit for a lowered model.
int qpIterationLimit(const Lowered &low);

// The interior-point solver runs one solve at a time in the process (its sparse factorisation is
// not reentrant): waits for it, giving up on a stop request (returns its reason, 0: lock held).
int acquireNlpSolver(std::unique_lock<std::mutex> &lock, ko_prob_struct *p, unsigned sigint_mark);

// Branch-and-bound over the model's integer columns and sets (bonmin.cpp), without the mutex;
// fills out and returns 0, or fails with a clear text.
int minlpRun(ko_prob_struct *p, const NlpModel &m, const RunSettings &s, Solution &out);

// Hessian choice of a run: automatic (exact unless a formula needs finite differences), or forced.
enum class HessianMode { Auto, Exact, LimitedMemory };

// Solves the gathered model without the mutex; fills out (user columns and rows) and returns 0, or
// fails with a clear text (mutex taken for the text).
int nlpRun(ko_prob_struct *p, const NlpModel &m, const RunSettings &s, Solution &out,
           HessianMode hessian = HessianMode::Auto);

}  // namespace krvx
