// Diagnostics of the current solution and of the last solve: infeasibilities, the unbounded ray's
// index, the last barrier solution, the pivot order and the presolve map.
#include "api/methods.h"

namespace {

using InfeasFn = int (*)(KRVXprob, int *, int *, int *, int *, int *, int64_t, int *, int64_t, int *, int64_t, int *,
                         int64_t);

// getInfeas, getScaledInfeas: counts first, then the four index lists of those sizes.
PyObject *infeasLists(PyObject *self, InfeasFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int n[4] = {0, 0, 0, 0};
    std::vector<int> x, slack, duals, djs;
    int rc = kpy_callSolverNoGIL(fn, prob, &n[0], &n[1], &n[2], &n[3], KPY_ARR(x), KPY_ARR(slack), KPY_ARR(duals),
                                 KPY_ARR(djs));
    if (kpy_failed(prob, rc)) return nullptr;
    x.resize(size_t(n[0]));
    slack.resize(size_t(n[1]));
    duals.resize(size_t(n[2]));
    djs.resize(size_t(n[3]));
    rc = kpy_callSolverNoGIL(fn, prob, &n[0], &n[1], &n[2], &n[3], KPY_ARR(x), KPY_ARR(slack), KPY_ARR(duals),
                             KPY_ARR(djs));
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({kpy_listOf(x), kpy_listOf(slack), kpy_listOf(duals), kpy_listOf(djs)});
  });
}

}  // namespace

PyObject *kpy_problem_getInfeas(PyObject *self, PyObject *) {
  return infeasLists(self, KRVXgetinfeas_witharraysizes);
}

PyObject *kpy_problem_getScaledInfeas(PyObject *self, PyObject *) {
  return infeasLists(self, KRVXgetscaledinfeas_witharraysizes);
}

PyObject *kpy_problem_getUnbVec(PyObject *self, PyObject *) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int seq = -1;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXgetunbvec, prob, &seq))) return nullptr;
    return PyLong_FromLong(seq);
  });
}

PyObject *kpy_problem_getLastBarSol(PyObject *self, PyObject *) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int64_t cols = 0, rows = 0;
    if (kpy_getIntAttrib64(prob, KRVX_ORIGINALCOLS, &cols) < 0 || kpy_getIntAttrib64(prob, KRVX_ORIGINALROWS, &rows) < 0)
      return nullptr;
    std::vector<double> x((size_t)cols), slack((size_t)rows), duals((size_t)rows), djs((size_t)cols);
    int status = 0;
    int rc = kpy_callSolverNoGIL(KRVXgetlastbarsol_witharraysizes, prob, KPY_ARR(x), KPY_ARR(slack), KPY_ARR(duals),
                                 KPY_ARR(djs), &status);
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({kpy_listOf(x), kpy_listOf(slack), kpy_listOf(duals), kpy_listOf(djs),
                        nb::steal(PyLong_FromLong(status))});
  });
}

PyObject *kpy_problem_getPivotOrder(PyObject *self, PyObject *) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int64_t rows = 0;
    if (kpy_getIntAttrib64(prob, KRVX_ROWS, &rows) < 0) return nullptr;
    std::vector<int> order((size_t)rows);
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXgetpivotorder_witharraysizes, prob, KPY_ARR(order)))) return nullptr;
    return kpy_vector_to_List(order);
  });
}

PyObject *kpy_rowColIntLists(PyObject *self, KpyRowColFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int64_t rows = 0, cols = 0;
    if (kpy_getIntAttrib64(prob, KRVX_ROWS, &rows) < 0 || kpy_getIntAttrib64(prob, KRVX_COLS, &cols) < 0)
      return nullptr;
    std::vector<int> rowv((size_t)rows), colv((size_t)cols);
    if (kpy_failed(prob, kpy_callSolverNoGIL(fn, prob, KPY_ARR(rowv), KPY_ARR(colv)))) return nullptr;
    return kpy_tupleOf({kpy_listOf(rowv), kpy_listOf(colv)});
  });
}

PyObject *kpy_problem_getPresolveMap(PyObject *self, PyObject *) {
  return kpy_rowColIntLists(self, KRVXgetpresolvemap_witharraysizes);
}

// ---- help texts ----

#define DIAG_RELATED "problem.getInfeas, problem.getScaledInfeas, problem.getUnbVec, problem.getLastBarSol, " \
  "problem.getPivotOrder, problem.getPresolveMap"

const char kpy_doc_getInfeas[] = KPY_DOC(
    "getInfeas($self, /)",
    "Returns the infeasible rows and columns of the current solution.",
    "Solutions",
    "x, slack, duals, djs = problem.getInfeas()",
    "    none",
    "x lists the primal infeasible columns, slack the primal infeasible rows, duals the dual infeasible rows "
    "and djs the dual infeasible columns, against the feasibility and optimality tolerances. An optimal "
    "solution gives four empty lists.",
    DIAG_RELATED);

const char kpy_doc_getScaledInfeas[] = KPY_DOC(
    "getScaledInfeas($self, /)",
    "Returns the infeasible rows and columns of the current solution in the scaled problem.",
    "Solutions",
    "x, slack, duals, djs = problem.getScaledInfeas()",
    "    none",
    "As problem.getInfeas, with values measured in the problem scaled by its scaling (problem.scale); the "
    "indices are those of the original problem.",
    DIAG_RELATED);

const char kpy_doc_getUnbVec[] = KPY_DOC(
    "getUnbVec($self, /)",
    "Returns the index of the unbounded direction found by the last solve.",
    "Solutions",
    "seq = problem.getUnbVec()",
    "    none",
    "After the primal simplex method found the problem unbounded: the row or column (combined index: rows "
    "first, then column j at rows + sparerows + j) whose entry into the basis is unbounded. -1 when another "
    "method (the dual simplex method) found it. Fails when the last solve did not find the problem "
    "unbounded.",
    DIAG_RELATED);

const char kpy_doc_getLastBarSol[] = KPY_DOC(
    "getLastBarSol($self, /)",
    "Returns the barrier solution of the last solve, before crossover.",
    "Solutions",
    "x, slack, duals, djs, status = problem.getLastBarSol()",
    "    none",
    "status is the LP status of the barrier run (korvex.LPStatus values as a plain int); UNSOLVED, with "
    "zero values, when the last solve did not use the barrier.",
    DIAG_RELATED);

const char kpy_doc_getPivotOrder[] = KPY_DOC(
    "getPivotOrder($self, /)",
    "Returns the basic variable of each row of the basis.",
    "Solutions",
    "order = problem.getPivotOrder()",
    "    none",
    "One entry per row, in the combined index (rows first, then column j at rows + sparerows + j).",
    DIAG_RELATED);

const char kpy_doc_getPresolveMap[] = KPY_DOC(
    "getPresolveMap($self, /)",
    "Returns the original index of each row and column of the presolved problem.",
    "Solutions",
    "rowmap, colmap = problem.getPresolveMap()",
    "    none",
    "-1 for a row or column without an original one. A problem that is not presolved maps to itself.",
    DIAG_RELATED);
