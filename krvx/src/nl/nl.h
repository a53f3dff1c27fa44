// The nonlinear layer of a problem: formulas in the store (store.h: nlrows, nlobj, nlstatus), the
// user-function registry (here), token-stream checking and compiling, and the evaluator with
// derivatives (nl_eval.cpp).
#pragma once
#include "core/call_guard.h"

#include <string>
#include <vector>

struct tagKRVNproblem {
  struct UserFunction {
    std::string name;
    int functype = 0, nargs = 0;
    void *func = nullptr, *userdata = nullptr;
  };
  ko_prob_struct *p = nullptr;
  std::vector<UserFunction> funcs;   // function number k + 1; guarded by p->mtx
};

namespace krvx {

using UserFunctions = std::vector<tagKRVNproblem::UserFunction>;

// ---- hooks for the rest of the library ----
void nlFree(ko_prob_struct *p);                      // KRVXdestroyprob
void nlOnReplace(ko_prob_struct *p);                 // the store was replaced: user functions dropped
void nlValidateStore(const ko_prob_struct &s);       // validateStore: formulas well formed, no user functions
// Row/column deletion with the deletion map (old index -> new index, -1 deleted). Columns: throws
// before changing anything when a formula uses a deleted column.
void nlOnDeleteRows(ko_prob_struct *p, const std::vector<int> &map);
void nlOnDeleteCols(ko_prob_struct *p, const std::vector<int> &map);
bool nlHasFormulas(const ko_prob_struct *p);
int nlUserFunctionNumber(const ko_prob_struct *p, const char *name);   // -1 when none
void nlCheckSavable(const ko_prob_struct &p);        // throws when formulas use user functions

// Saved with the model (io/savefile.cpp field list).
template <class A>
void serializeNonlinear(A &a, ko_prob_struct &p) {
  auto formula = [&](Formula &f) {
    a.io(f.col);
    a.io(f.factor);
    a.seq(f.type, 4, [&](int &t) { a.io(t); });
    a.seq(f.value, 8, [&](double &v) { a.io(v); });
  };
  a.seq(p.nlrows, 8, [&](std::vector<Formula> &row) { a.seq(row, 28, formula); });
  a.seq(p.nlobj, 28, formula);
  a.seq(p.nlstatus, 1, [&](char &c) { a.io(c); });
}

namespace nl {

// A compiled formula term factor * x[col] * g(x): nodes in evaluation order, the last is the root.
enum class Kind : unsigned char { Const, Var, Neg, Pow, Mul, Div, Add, Sub, Func, User };
struct Node {
  Kind kind;
  int code = 0;              // Func: function code; User: function index (number - 1); Var: column
  int first = 0, count = 0;  // arguments: args[first .. first+count) (logical order)
  double value = 0.0;        // Const
};
struct Tape {
  std::vector<Node> nodes;
  std::vector<int> args;
  std::vector<int> cols;     // distinct columns used, increasing
};

// Checks a token stream and compiles factor * x[col] * g into a tape; throws krvx::Error whose text
// names `where` and the token position.
Tape compile(const Formula &f, int64_t ncols, const UserFunctions &funcs, const std::string &where);

// Evaluation; throws krvx::Error (kErrSolver) on a domain error or a failing user function.
// grad: dense, added to (length >= ncols). hv: dense, added to.
double eval(const Tape &t, const double *x, const UserFunctions &funcs, const tagKRVNproblem *nl, double *grad,
            double weight = 1.0);
void hessVec(const Tape &t, const double *x, const double *v, const UserFunctions &funcs, const tagKRVNproblem *nl,
             double *hv, double weight = 1.0);

// ---- lowering of tapes (nl_lower.cpp) ----

// abs, min, max, pwl and sign: the nodes lowered into auxiliary columns.
bool isNonsmooth(const Node &n);

// Per node: constant (no column below it); affine; piecewise affine (affine once its
// non-smooth nodes are columns).
struct Shape {
  std::vector<char> constant, affine, pwaffine;
};
Shape shape(const Tape &t);

// The subtree at root as a tape of its own, scaled by factor; node k with subst[k] >= 0 is
// the column subst[k] (subst may be empty).
Tape subtape(const Tape &t, int root, const std::vector<int> &subst, double factor = 1.0);

// The affine function a tape computes (its value at 0 and its gradient); throws krvx::Error
// when it cannot be evaluated (a constant division by zero).
void affineForm(const Tape &t, const UserFunctions &funcs, std::vector<std::pair<int, double>> &coefs,
                double &constant);

// Interval bounds of every node from the columns' ranges (lo[c], up[c]; infinite as +-inf);
// infinite where nothing finite is known.
struct Interval { double lo, up; };
std::vector<Interval> intervals(const Tape &t, const std::vector<double> &lo, const std::vector<double> &up);

// Per node, whether it is convex and whether it is concave (both: affine) over the ranges iv
// (intervals() of the same tape), by composition rules; neither where no rule applies.
struct Curvature {
  std::vector<char> convex, concave;
};
Curvature curvature(const Tape &t, const std::vector<Interval> &iv);

}  // namespace nl
}  // namespace krvx
