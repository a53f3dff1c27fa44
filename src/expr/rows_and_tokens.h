// Conversion of expressions into solver rows and formula tokens, and formula tokens back into
// expressions.
#pragma once
#include "expr/expr.h"
#include <cstddef>
#include <cstdint>
#include <vector>

// Formula token types
enum : int {
  TOK_EOF = 0,
  TOK_CON = 1,
  TOK_COL = 10,
  TOK_UFUN = 11,
  TOK_IFUN = 12,
  TOK_RB = 22,
  TOK_SKIP = 24,
  TOK_OP = 31,
};
// Operator codes of TOK_OP
enum : int { OP_UMINUS = 1, OP_POWER = 2, OP_MULTIPLY = 3, OP_DIVIDE = 4, OP_PLUS = 5, OP_MINUS = 6 };
// Column of a formula that has none of its own
constexpr int KPY_NOCOL = -1000;

// The entries of a linear map as columns and coefficients times f, in the map's order, zero
// coefficients left out; n receives the count (at most the map's size). 0, or -1 with an error set.
int kpy_linearEntries(problem_s *problem, const linmap *m, double f, int *cols, double *coefs, size_t *n);

// An expression without quadratic part: a row is its constant and its sorted linear entries.
inline bool kpy_isLinearExpression(PyObject *o) {
  return kpy_isExpression(o) && !((expression_s *)o)->quad;
}

// Converts an operand into a constant, linear part, quadratic part and formulas.
// Every array argument null: a count pass (counts only). Otherwise a fill pass: with grow 1 the
// arrays are allocated and enlarged here (ko_MemoryAllocator; the caller frees them), with grow 0
// they were sized by the caller from a count pass and (*fstarts)[0] holds the position of this
// call's first token in the caller's whole token buffer. objective_form 1 doubles quadratic
// coefficients. 0, or -1 with a Python error set.
int convertExpr(problem_s *problem, PyObject *expr, double *constant, size_t *nlin, int **cols, double **coefs,
                size_t *nquad, int **qcol1, int **qcol2, double **qcoef, size_t *nformulas, size_t *ntokens,
                int **fcols, double **ffactors, int **fstarts, int **toktypes, double **tokvalues, int objective_form,
                int grow);

// The result of one conversion with owned arrays (a fill pass with grow 1).
struct kpy_converted {
  double constant = 0.0;
  size_t nlin = 0, nquad = 0, nformulas = 0, ntokens = 0;
  int *cols = nullptr, *qcol1 = nullptr, *qcol2 = nullptr, *fcols = nullptr, *fstarts = nullptr,
      *toktypes = nullptr;
  double *coefs = nullptr, *qcoef = nullptr, *ffactors = nullptr, *tokvalues = nullptr;
  kpy_converted() = default;
  kpy_converted(const kpy_converted &) = delete;
  kpy_converted &operator=(const kpy_converted &) = delete;
  ~kpy_converted();
  int convert(problem_s *problem, PyObject *expr, int objective_form);
};

// Rebuilds an expression from one formula's tokens; caller names the caller in messages.
// New reference (a number, variable or nonlinear node), or null with an error set.
PyObject *nonlin_from_formula(problem_s *problem, const std::vector<int> &types, const std::vector<double> &values,
                              const char *caller);

// The nonlinear layer of a problem, created on first use (the default formula column is read and
// cached then); 0 or -1 with an error set.
int kpy_ensureNonlinear(problem_s *problem);
