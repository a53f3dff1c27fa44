// Model cuts and delayed rows, fixing MIP entities, and user scaling.
#include "api/methods.h"

namespace {

using RowMarkFn = int (*)(KRVXprob, int, const int *, int64_t);

// loadModelCuts and loadDelayedRows: marks rows, given in any order, duplicates passed on.
PyObject *markRows(PyObject *self, PyObject *args, PyObject *kwargs, RowMarkFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"rowind", nullptr};
    PyObject *orow = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &orow)) return nullptr;
    std::vector<int> rowind;
    int n;
    if (kpy_Iterable_to_vector<kpy_rowindex>(prob, "rowind", &rowind, orow, noObj) < 0 ||
        kpy_count32("rowind", rowind.size(), &n) < 0)
      return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(fn, prob, n, KPY_ARR(rowind)))) return nullptr;
    Py_RETURN_NONE;
  });
}

}  // namespace

PyObject *kpy_problem_fixMIPEntities(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"options", nullptr};
    PyObject *oopt = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &oopt)) return nullptr;
    int options = 0;
    if (kpy_argInt(prob, "options", oopt, &options, true) < 0) return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXfixmipentities, prob, options))) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_loadModelCuts(PyObject *self, PyObject *args, PyObject *kwargs) {
  return markRows(self, args, kwargs, KRVXloadmodelcuts_witharraysizes);
}

PyObject *kpy_problem_loadDelayedRows(PyObject *self, PyObject *args, PyObject *kwargs) {
  return markRows(self, args, kwargs, KRVXloaddelayedrows_witharraysizes);
}

PyObject *kpy_problem_scale(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"rowscale", "colscale", nullptr};
    PyObject *orow = nullptr, *ocol = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO", (char **)kwlist, &orow, &ocol)) return nullptr;
    std::vector<int> rowscale, colscale;
    if (kpy_Iterable_to_vector<int>(prob, "rowscale", &rowscale, orow) < 0 ||
        kpy_Iterable_to_vector<int>(prob, "colscale", &colscale, ocol) < 0)
      return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXscale_witharraysizes, prob, KPY_ARR(rowscale), KPY_ARR(colscale))))
      return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_getScale(PyObject *self, PyObject *) {
  return kpy_rowColIntLists(self, KRVXgetscale_witharraysizes);
}

// ---- help texts ----

#define CUTS_RELATED "problem.loadModelCuts, problem.loadDelayedRows, problem.fixMIPEntities, problem.scale, " \
  "problem.getScale"

const char kpy_doc_fixMIPEntities[] = KPY_DOC(
    "fixMIPEntities($self, /, options)",
    "Fixes the MIP entities at their values in the last MIP solution.",
    "Changing problems",
    "problem.fixMIPEntities(options)",
    "    options  0 rounds binary and integer values to the nearest integer before fixing;\n"
    "             1 fixes the values as they are.",
    "Needs a MIP solution. Binary and integer columns keep their type; semi-continuous, "
    "semi-integer and partial-integer columns become continuous, fixed at their value.",
    CUTS_RELATED);

const char kpy_doc_loadModelCuts[] = KPY_DOC(
    "loadModelCuts($self, /, rowind)",
    "Marks rows of the problem as model cuts.",
    "Changing problems",
    "problem.loadModelCuts(rowind)",
    "    rowind  Rows to mark (indices, constraint objects or row names).",
    "Model cuts are rows that the solution must satisfy, and that the solver may hold back "
    "until they are violated.",
    CUTS_RELATED);

const char kpy_doc_loadDelayedRows[] = KPY_DOC(
    "loadDelayedRows($self, /, rowind)",
    "Marks rows of the problem as delayed rows.",
    "Changing problems",
    "problem.loadDelayedRows(rowind)",
    "    rowind  Rows to mark (indices, constraint objects or row names).",
    "Delayed rows must be satisfied by every integer solution; the solver may leave them out "
    "of the relaxations until they are violated.",
    CUTS_RELATED);

const char kpy_doc_scale[] = KPY_DOC(
    "scale($self, /, rowscale, colscale)",
    "Sets the scaling of the problem's rows and columns.",
    "Changing problems",
    "problem.scale(rowscale, colscale)",
    "    rowscale  Exponent of the power of two that scales each row; empty keeps them.\n"
    "    colscale  Exponent of the power of two that scales each column; empty keeps them.",
    "A non-empty list needs one entry per row or column.",
    CUTS_RELATED);

const char kpy_doc_getScale[] = KPY_DOC(
    "getScale($self, /)",
    "Returns the scaling of the problem's rows and columns.",
    "Problem data",
    "rowscale, colscale = problem.getScale()",
    "    none",
    "Each entry is the exponent of the power of two that scales its row or column (0 unscaled).",
    CUTS_RELATED);
