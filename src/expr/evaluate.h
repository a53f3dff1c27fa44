// Evaluation of expressions and containers of them for given values of the variables: the
// module function korvex.evaluate and the evaluator behind problem.getSolution.
#pragma once
#include "expr/expr.h"
#include <vector>

// Where variable values come from.
struct var_map {
  problem_s *problem = nullptr;   // columns are resolved in it (may be null)
  const double *values = nullptr; // array mode: values by column index
  Py_ssize_t length = 0;
  PyObject *dict = nullptr;       // dictionary mode: values keyed by variable or column number
  int mode = 1;                   // 1 array mode, 0 dictionary mode
};

constexpr int KPY_EVAL_DEPTH = 64;

// One result for one argument, a tuple of results for several; null with an error set.
// for_getsolution: integers are column indices and strings column names.
PyObject *scan_args_expressions(PyObject *args, const var_map *map, int for_getsolution);
// The value of an object or a container of them (same shape); new reference or null.
PyObject *evaluateObject(PyObject *obj, const var_map *map, int for_getsolution, int depth);
// The value of one model operand or number; 0 or -1.
int evaluateExpr(PyObject *obj, const var_map *map, int depth, double *out);
int evaluateNonlinear(PyObject *node, const var_map *map, int depth, double *out);
int lookupVarValue(PyObject *var, const var_map *map, double *out);

// The problem's current solution over its first ncols columns; ModelError "Solution is not
// available" unless the solution status is optimal or feasible. 0 or -1.
int kpy_readSolutionValues(problem_s *prob, int64_t ncols, std::vector<double> &x);

// Adds korvex.evaluate to the module; 0 or -1.
int kpy_evaluate_register(PyObject *module);
