// Objective sense, global limits, multiple objectives and quadratic matrices.
#include "api/methods.h"

namespace {

// Objectives beyond the first exclude a nonlinear objective.
int refuseNonlinearObjective(problem_s *prob) {
  if (!prob->obj_is_nonlin) return 0;
  PyErr_SetString(kpy_ModelError, "Quadratic and nonlinear objectives are not supported in multi-objective problems");
  return -1;
}

// Sparse objective coefficients: colind and objcoef of equal length; n is their count.
int sparseObjective(problem_s *prob, PyObject *ocol, PyObject *ocoef, std::vector<int> *colind,
                    std::vector<double> *objcoef, bool noObj) {
  return kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", colind, ocol, noObj) < 0 ||
                 kpy_Iterable_to_vector<double>(prob, "objcoef", objcoef, ocoef) < 0
             ? -1
             : 0;
}

int sameLength(const char *message, size_t a, size_t b, const char *first, int *n) {
  if (a != b) {
    PyErr_SetString(kpy_InterfaceError, message);
    return -1;
  }
  return kpy_count32(first, a, n);
}

const char *const kObjLengths = "Arguments 'colind' and 'objcoef' must have the same length";

}  // namespace

PyObject *kpy_problem_chgObjSense(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"objsense", nullptr};
    PyObject *osense = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &osense)) return nullptr;
    int sense = 0;
    if (kpy_argInt(prob, "objsense", osense, &sense, true) < 0) return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXchgobjsense, prob, sense))) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_chgGlbLimit(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"colind", "limit", nullptr};
    PyObject *ocol = nullptr, *olimit = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO", (char **)kwlist, &ocol, &olimit)) return nullptr;
    std::vector<int> colind;
    std::vector<double> limit;
    int n;
    if (kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", &colind, ocol, noObj) < 0 ||
        kpy_Iterable_to_vector<double>(prob, "limit", &limit, olimit) < 0 ||
        sameLength("Arguments 'colind' and 'limit' must have the same length", colind.size(), limit.size(), "colind",
                   &n) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXchgglblimit_witharraysizes, prob, n, KPY_ARR(colind), KPY_ARR(limit));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_addObj(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"colind", "objcoef", "priority", "weight", nullptr};
    PyObject *ocol = nullptr, *ocoef = nullptr, *oprio = nullptr, *oweight = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OO", (char **)kwlist, &ocol, &ocoef, &oprio, &oweight))
      return nullptr;
    std::vector<int> colind;
    std::vector<double> objcoef;
    int priority = 0;
    double weight = 1.0;
    if (sparseObjective(prob, ocol, ocoef, &colind, &objcoef, noObj) < 0 ||
        kpy_argInt(prob, "priority", oprio, &priority) < 0)
      return nullptr;
    if (kpy_given(oweight) && kpy_ObjToDouble(prob, oweight, &weight) < 0) return kpy_argError("weight"), nullptr;
    int n;
    if (refuseNonlinearObjective(prob) < 0 || sameLength(kObjLengths, colind.size(), objcoef.size(), "colind", &n) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXaddobj_witharraysizes, prob, n, KPY_ARR(colind), KPY_ARR(objcoef), priority,
                                 weight);
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_chgObjN(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"objidx", "colind", "objcoef", nullptr};
    PyObject *oidx = nullptr, *ocol = nullptr, *ocoef = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO", (char **)kwlist, &oidx, &ocol, &ocoef)) return nullptr;
    int objidx = 0;
    std::vector<int> colind;
    std::vector<double> objcoef;
    if (kpy_argInt(prob, "objidx", oidx, &objidx, true) < 0 ||
        sparseObjective(prob, ocol, ocoef, &colind, &objcoef, noObj) < 0)
      return nullptr;
    int n;
    if ((objidx >= 1 && refuseNonlinearObjective(prob) < 0) ||
        sameLength(kObjLengths, colind.size(), objcoef.size(), "colind", &n) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXchgobjn_witharraysizes, prob, objidx, n, KPY_ARR(colind), KPY_ARR(objcoef));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_delObj(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"objidx", nullptr};
    PyObject *oidx = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &oidx)) return nullptr;
    int objidx = 0;
    if (kpy_argInt(prob, "objidx", oidx, &objidx, true) < 0) return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXdelobj, prob, objidx);
    // the nonlinear objective lives in objective 0 through its transfer row and column
    if (kpy_failedWithFollowUp(prob, rc, [&] {
          if (objidx == 0 && problem_del_nonlin_obj(prob) < 0) throw nb::python_error();
        }))
      return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_addQMatrix(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"row", "rowqcol1", "rowqcol2", "rowqcoef", nullptr};
    PyObject *orow = nullptr, *o1 = nullptr, *o2 = nullptr, *ocoef = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO", (char **)kwlist, &orow, &o1, &o2, &ocoef)) return nullptr;
    int row = 0;
    if (kpy_ObjToRowIndex(prob, orow, &row, noObj) < 0) return kpy_argError("row"), nullptr;
    std::vector<int> col1, col2;
    std::vector<double> coef;
    if (kpy_Iterable_to_vector<kpy_colindex>(prob, "rowqcol1", &col1, o1, noObj) < 0 ||
        kpy_Iterable_to_vector<kpy_colindex>(prob, "rowqcol2", &col2, o2, noObj) < 0 ||
        kpy_Iterable_to_vector<double>(prob, "rowqcoef", &coef, ocoef) < 0)
      return nullptr;
    if (col2.size() != col1.size() || coef.size() != col1.size()) {
      PyErr_SetString(kpy_InterfaceError, "Arguments 'rowqcol1', 'rowqcol2' and 'rowqcoef' must have the same length");
      return nullptr;
    }
    int rc = kpy_callSolverNoGIL(KRVXaddqmatrix64_witharraysizes, prob, row, (int64_t)col1.size(), KPY_ARR(col1),
                                 KPY_ARR(col2), KPY_ARR(coef));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_delQMatrix(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"row", nullptr};
    PyObject *orow = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &orow)) return nullptr;
    int row = 0;
    if (kpy_ObjToRowIndex(prob, orow, &row, noObj) < 0) return kpy_argError("row"), nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXdelqmatrix, prob, row))) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_getQObj(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"objqcol1", "objqcol2", nullptr};
    PyObject *o1 = nullptr, *o2 = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO", (char **)kwlist, &o1, &o2)) return nullptr;
    int col1 = 0, col2 = 0;
    if (kpy_ObjToColIndex(prob, o1, &col1, noObj) < 0) return kpy_argError("objqcol1"), nullptr;
    if (kpy_ObjToColIndex(prob, o2, &col2, noObj) < 0) return kpy_argError("objqcol2"), nullptr;
    double coef = 0.0;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXgetqobj, prob, col1, col2, &coef))) return nullptr;
    return PyFloat_FromDouble(coef);
  });
}

// ---- help texts ----

#define OBJ_RELATED "problem.chgObjSense, problem.addObj, problem.chgObjN, problem.delObj, " \
  "problem.addQMatrix, problem.delQMatrix, problem.getQObj"
#define SPARSE_OBJ_ARGS                                                    \
  "    colind   Columns with a coefficient (indices, variable objects or names).\n" \
  "    objcoef  Coefficient of each."
#define MULTI_NOTE                                                                               \
  "Objective 0 is the main objective. Objectives are optimised in order of decreasing priority; " \
  "those of equal priority are blended by their weights."

const char kpy_doc_chgObjSense[] = KPY_DOC(
    "chgObjSense($self, /, objsense)",
    "Changes the optimisation sense of the objective.",
    "Changing problems",
    "problem.chgObjSense(objsense)",
    "    objsense  korvex.minimize (1) or korvex.maximize (-1).",
    "Other values are refused by the solver.",
    OBJ_RELATED);

const char kpy_doc_chgGlbLimit[] = KPY_DOC(
    "chgGlbLimit($self, /, colind, limit)",
    "Changes the limits of semi-continuous, semi-integer and partial-integer columns.",
    "Changing problems",
    "problem.chgGlbLimit(colind, limit)",
    "    colind  Columns to change (indices, variable objects or names).\n"
    "    limit   New limit of each: the lower bound of the semi-continuous range, or the\n"
    "            value up to which a partial-integer column is integer.",
    "The two arrays must have the same length.",
    "problem.chgColType");

const char kpy_doc_addObj[] = KPY_DOC(
    "addObj($self, /, colind, objcoef, priority=0, weight=1.0)",
    "Adds an objective to a multi-objective problem.",
    "Changing problems",
    "problem.addObj(colind, objcoef, priority=0, weight=1.0)",
    SPARSE_OBJ_ARGS "\n"
    "    priority  Priority of the objective (higher first).\n"
    "    weight    Weight of the objective among those of its priority.",
    "The new objective gets the next objective index. " MULTI_NOTE
    " Problems with a nonlinear objective are refused.",
    OBJ_RELATED);

const char kpy_doc_chgObjN[] = KPY_DOC(
    "chgObjN($self, /, objidx, colind, objcoef)",
    "Changes coefficients of one objective of a multi-objective problem.",
    "Changing problems",
    "problem.chgObjN(objidx, colind, objcoef)",
    "    objidx   Index of the objective (0 is the main objective).\n" SPARSE_OBJ_ARGS,
    "Objectives from 1 on are refused while the problem has a nonlinear objective. " MULTI_NOTE,
    OBJ_RELATED);

const char kpy_doc_delObj[] = KPY_DOC(
    "delObj($self, /, objidx)",
    "Deletes an objective of a multi-objective problem.",
    "Changing problems",
    "problem.delObj(objidx)",
    "    objidx  Index of the objective.",
    "Later objectives move down by one. Deleting objective 0 also removes a nonlinear objective.",
    OBJ_RELATED);

const char kpy_doc_addQMatrix[] = KPY_DOC(
    "addQMatrix($self, /, row, rowqcol1, rowqcol2, rowqcoef)",
    "Adds quadratic terms to a row or to the objective.",
    "Changing problems",
    "problem.addQMatrix(row, rowqcol1, rowqcol2, rowqcoef)",
    "    row       Row (index, constraint object or name); -1 is the objective.\n"
    "    rowqcol1  First column of each term.\n"
    "    rowqcol2  Second column of each term.\n"
    "    rowqcoef  Coefficient of each term.",
    "The terms give one triangle of the symmetric matrix Q; the objective is c'x + 0.5 x'Qx. "
    "Coefficients add to those already present.",
    OBJ_RELATED);

const char kpy_doc_delQMatrix[] = KPY_DOC(
    "delQMatrix($self, /, row)",
    "Deletes the quadratic part of a row or of the objective.",
    "Changing problems",
    "problem.delQMatrix(row)",
    "    row  Row (index, constraint object or name); -1 is the objective.",
    "The linear part stays.",
    OBJ_RELATED);

const char kpy_doc_getQObj[] = KPY_DOC(
    "getQObj($self, /, objqcol1, objqcol2)",
    "Returns one coefficient of the quadratic objective matrix.",
    "Problem data",
    "coef = problem.getQObj(objqcol1, objqcol2)",
    "    objqcol1  First column (index, variable object or name).\n"
    "    objqcol2  Second column.",
    "The coefficient is the entry of Q in c'x + 0.5 x'Qx, the same for both orders of the columns.",
    OBJ_RELATED);
