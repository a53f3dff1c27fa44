// Adding and deleting rows, columns and sets, and changing column types. The problem's object
// lists follow every change: new linked objects for added items, deleted objects dropped.
#include "api/methods.h"

namespace {

// Adders and deleters keep the lists in step with the solver, which map mode cannot.
int refuseMapMode(problem_s *prob, const char *method) {
  if (!prob->varmap && !prob->conmap && !prob->sosmap) return 0;
  PyErr_Format(kpy_InterfaceError, "Cannot call problem.%s on problems with unlinked objects", method);
  return -1;
}

// The count of a group of arrays (see kpy_groupCount), refused beyond 32 bits when narrow.
int countOf(const char *message, std::initializer_list<long long> sizes, const char *first, bool narrow, long long *n) {
  if (kpy_groupCount(message, sizes.begin(), (int)sizes.size(), n) < 0) return -1;
  int unused;
  return narrow ? kpy_count32(first, (size_t)*n, &unused) : 0;
}

// One deleter: refuses map mode, converts the indices, checks them against the list, deletes
// in the solver, then drops the deleted objects.
struct DeleterKind {
  const char *method, *argname, *word;
  PyObject *problem_s::*list;
  int (*fn)(KRVXprob, int, const int *, int64_t);
};

template <typename K>
PyObject *deleter(PyObject *self, PyObject *args, PyObject *kwargs, const DeleterKind &k) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    if (refuseMapMode(prob, k.method) < 0) return nullptr;
    bool noObj = !kpy_isOriginalProb(prob);
    const char *kwlist[] = {k.argname, nullptr};
    PyObject *obj = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &obj)) return nullptr;
    std::vector<int> ind;
    int n;
    if (kpy_Iterable_to_vector<K>(prob, k.argname, &ind, obj, noObj) < 0 ||
        kpy_count32(k.argname, ind.size(), &n) < 0)
      return nullptr;
    kpy_Deletion del;
    if (!ind.empty() && kpy_prepareDeletion(&del, &(prob->*k.list), ind, k.argname, k.word) < 0) return nullptr;
    int rc = kpy_callSolverNoGIL(k.fn, prob, n, KPY_ARR(ind));
    if (kpy_failedWithFollowUp(prob, rc, [&] {
          if (!ind.empty()) kpy_removeDeleted(&del);
        }))
      return nullptr;
    Py_RETURN_NONE;
  });
}

}  // namespace

PyObject *kpy_problem_addRows(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    if (refuseMapMode(prob, "addRows") < 0) return nullptr;
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"rowtype", "rhs", "rng", "start", "colind", "rowcoef", nullptr};
    PyObject *otype = nullptr, *orhs = nullptr, *orng = nullptr, *ostart = nullptr, *ocol = nullptr,
             *ocoef = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OOOO", (char **)kwlist, &otype, &orhs, &orng, &ostart, &ocol,
                                     &ocoef))
      return nullptr;
    std::vector<char> rowtype;
    std::vector<double> rhs, rng, rowcoef;
    std::vector<int64_t> start;
    std::vector<int> colind;
    if (kpy_Iterable_to_vector<char>(prob, "rowtype", &rowtype, otype) < 0 ||
        kpy_Iterable_to_vector<double>(prob, "rhs", &rhs, orhs) < 0 ||
        kpy_optional<double>(prob, "rng", orng, &rng) < 0 || kpy_optional<long>(prob, "start", ostart, &start) < 0 ||
        kpy_optional<kpy_colindex>(prob, "colind", ocol, &colind, noObj) < 0 ||
        kpy_optional<double>(prob, "rowcoef", ocoef, &rowcoef) < 0)
      return nullptr;
    long long nrows, ncoefs;
    if (countOf("Arguments 'rowtype', 'rhs' and 'rng' must have the same length",
                {(long long)rowtype.size(), (long long)rhs.size(), kpy_lenOf(orng, rng)}, "rowtype", true, &nrows) < 0 ||
        countOf("Arguments 'colind' and 'rowcoef' must have the same length",
                {kpy_lenOf(ocol, colind), kpy_lenOf(ocoef, rowcoef)}, "colind", false, &ncoefs) < 0)
      return nullptr;
    ConstraintManager objs(prob, prob->cons);
    objs.addObjs((Py_ssize_t)nrows);
    int rc = kpy_callSolverNoGIL(KRVXaddrows64_witharraysizes, prob, (int)nrows, (int64_t)ncoefs, KPY_ARR(rowtype),
                                 KPY_ARR(rhs), KPY_ARR(rng), KPY_ARR(start), KPY_ARR(colind), KPY_ARR(rowcoef));
    if (kpy_failedWithFollowUp(prob, rc, [&] { objs.commit(); })) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_addCols(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    if (refuseMapMode(prob, "addCols") < 0) return nullptr;
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"objcoef", "start", "rowind", "rowcoef", "lb", "ub", nullptr};
    PyObject *oobj = nullptr, *ostart = nullptr, *orow = nullptr, *ocoef = nullptr, *olb = nullptr, *oub = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOOOO", (char **)kwlist, &oobj, &ostart, &orow, &ocoef, &olb,
                                     &oub))
      return nullptr;
    std::vector<double> objcoef, rowcoef, lb, ub;
    std::vector<int64_t> start;
    std::vector<int> rowind;
    if (kpy_optional<double>(prob, "objcoef", oobj, &objcoef) < 0 || kpy_optional<long>(prob, "start", ostart, &start) < 0 ||
        kpy_optional<kpy_rowindex>(prob, "rowind", orow, &rowind, noObj) < 0 ||
        kpy_optional<double>(prob, "rowcoef", ocoef, &rowcoef) < 0 || kpy_optional<double>(prob, "lb", olb, &lb) < 0 ||
        kpy_optional<double>(prob, "ub", oub, &ub) < 0)
      return nullptr;
    long long ncols, ncoefs;
    if (countOf("Arguments 'objcoef', 'lb' and 'ub' must have the same length",
                {kpy_lenOf(oobj, objcoef), kpy_lenOf(olb, lb), kpy_lenOf(oub, ub)}, "objcoef", true, &ncols) < 0 ||
        countOf("Arguments 'rowind' and 'rowcoef' must have the same length",
                {kpy_lenOf(orow, rowind), kpy_lenOf(ocoef, rowcoef)}, "rowind", false, &ncoefs) < 0)
      return nullptr;
    VarManager objs(prob, prob->vars);
    objs.addObjs((Py_ssize_t)ncols);
    int rc = kpy_callSolverNoGIL(KRVXaddcols64_witharraysizes, prob, (int)ncols, (int64_t)ncoefs, KPY_ARR(objcoef),
                                 KPY_ARR(start), KPY_ARR(rowind), KPY_ARR(rowcoef), KPY_ARR(lb), KPY_ARR(ub));
    if (kpy_failedWithFollowUp(prob, rc, [&] { objs.commit(); })) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_addSets(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    if (refuseMapMode(prob, "addSets") < 0) return nullptr;
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"settype", "start", "colind", "refval", nullptr};
    PyObject *otype = nullptr, *ostart = nullptr, *ocol = nullptr, *oref = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO", (char **)kwlist, &otype, &ostart, &ocol, &oref))
      return nullptr;
    std::vector<char> settype;
    std::vector<int64_t> start;
    std::vector<int> colind;
    std::vector<double> refval;
    if (kpy_Iterable_to_vector<char>(prob, "settype", &settype, otype) < 0 ||
        kpy_Iterable_to_vector<long>(prob, "start", &start, ostart) < 0 ||
        kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", &colind, ocol, noObj) < 0 ||
        kpy_Iterable_to_vector<double>(prob, "refval", &refval, oref) < 0)
      return nullptr;
    int nsets;
    long long nelems;
    if (kpy_count32("settype", settype.size(), &nsets) < 0 ||
        countOf("Arguments 'colind' and 'refval' must have the same length",
                {(long long)colind.size(), (long long)refval.size()}, "colind", false, &nelems) < 0)
      return nullptr;
    SOSManager objs(prob, prob->sos);
    objs.addObjs(nsets);
    int rc = kpy_callSolverNoGIL(KRVXaddsets64_witharraysizes, prob, nsets, (int64_t)nelems, KPY_ARR(settype),
                                 KPY_ARR(start), KPY_ARR(colind), KPY_ARR(refval));
    if (kpy_failedWithFollowUp(prob, rc, [&] { objs.commit(); })) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_delRows(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const DeleterKind kind = {"delRows", "rowind", "constraint", &problem_s::cons, KRVXdelrows_witharraysizes};
  return deleter<kpy_rowindex>(self, args, kwargs, kind);
}

PyObject *kpy_problem_delCols(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const DeleterKind kind = {"delCols", "colind", "variable", &problem_s::vars, KRVXdelcols_witharraysizes};
  return deleter<kpy_colindex>(self, args, kwargs, kind);
}

PyObject *kpy_problem_delSets(PyObject *self, PyObject *args, PyObject *kwargs) {
  static const DeleterKind kind = {"delSets", "setind", "SOS", &problem_s::sos, KRVXdelsets_witharraysizes};
  return deleter<kpy_sosindex>(self, args, kwargs, kind);
}

PyObject *kpy_problem_chgColType(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"colind", "coltype", nullptr};
    PyObject *ocol = nullptr, *otype = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO", (char **)kwlist, &ocol, &otype)) return nullptr;
    std::vector<int> colind;
    std::vector<char> coltype;
    if (kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", &colind, ocol, noObj) < 0 ||
        kpy_Iterable_to_vector<char>(prob, "coltype", &coltype, otype) < 0)
      return nullptr;
    long long n;
    if (countOf("Arguments 'colind' and 'coltype' must have the same length",
                {(long long)colind.size(), (long long)coltype.size()}, "colind", true, &n) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXchgcoltype_witharraysizes, prob, (int)n, KPY_ARR(colind), KPY_ARR(coltype));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

// ---- help texts ----

#define ROWS_RELATED "problem.addRows, problem.delRows, problem.addCols, problem.delCols, problem.addSets, " \
  "problem.delSets, problem.chgColType"
#define LIST_NOTE                                                                                  \
  "The problem's object lists follow: new items get new linked objects at their solver indices, " \
  "and a failed call leaves the lists as they were. Problems given unlinked objects are refused."
#define DELETE_NOTE                                                                                \
  "Afterwards the objects of the deleted items are refused with \"... has been deleted from the "  \
  "problem\", and every later object carries its new index. An index given twice or outside the " \
  "problem is refused before anything changes. Problems given unlinked objects are refused."
#define START_NOTE "offset in the element arrays of each item's first element: one entry per item, " \
  "or one more that ends the last"

const char kpy_doc_addRows[] = KPY_DOC(
    "addRows($self, /, rowtype, rhs, rng=None, start=None, colind=None, rowcoef=None)",
    "Adds rows (constraints) to the problem.",
    "Changing problems",
    "problem.addRows(rowtype, rhs, rng=None, start=None, colind=None, rowcoef=None)",
    "    rowtype  Type of each new row: L, G, E, R (range) or N (nonbinding).\n"
    "    rhs      Right-hand side of each new row.\n"
    "    rng      Range of each range row (default none).\n"
    "    start    " START_NOTE ".\n"
    "    colind   Column of each element (index, variable object or column name).\n"
    "    rowcoef  Value of each element.",
    "The new rows come after the existing ones. " LIST_NOTE,
    ROWS_RELATED);

const char kpy_doc_addCols[] = KPY_DOC(
    "addCols($self, /, objcoef=None, start=None, rowind=None, rowcoef=None, lb=None, ub=None)",
    "Adds columns (variables) to the problem.",
    "Changing problems",
    "problem.addCols(objcoef=None, start=None, rowind=None, rowcoef=None, lb=None, ub=None)",
    "    objcoef  Objective coefficient of each new column.\n"
    "    start    " START_NOTE ".\n"
    "    rowind   Row of each element (index, constraint object or row name).\n"
    "    rowcoef  Value of each element.\n"
    "    lb, ub   Bounds of each new column (default 0 and infinity).",
    "The new columns are continuous and come after the existing ones. " LIST_NOTE,
    ROWS_RELATED);

const char kpy_doc_addSets[] = KPY_DOC(
    "addSets($self, /, settype, start, colind, refval)",
    "Adds special ordered sets to the problem.",
    "Changing problems",
    "problem.addSets(settype, start, colind, refval)",
    "    settype  Type of each new set: \"1\" or \"2\".\n"
    "    start    " START_NOTE ".\n"
    "    colind   Member columns of the sets (indices, variable objects or names).\n"
    "    refval   Reference value (ordering weight) of each member.",
    LIST_NOTE,
    ROWS_RELATED);

const char kpy_doc_delRows[] = KPY_DOC(
    "delRows($self, /, rowind)",
    "Deletes rows from the problem.",
    "Changing problems",
    "problem.delRows(rowind)",
    "    rowind  Rows to delete (indices, constraint objects or row names).",
    "The remaining rows keep their order and are renumbered. " DELETE_NOTE,
    ROWS_RELATED);

const char kpy_doc_delCols[] = KPY_DOC(
    "delCols($self, /, colind)",
    "Deletes columns from the problem.",
    "Changing problems",
    "problem.delCols(colind)",
    "    colind  Columns to delete (indices, variable objects or column names).",
    "The remaining columns keep their order and are renumbered. " DELETE_NOTE,
    ROWS_RELATED);

const char kpy_doc_delSets[] = KPY_DOC(
    "delSets($self, /, setind)",
    "Deletes special ordered sets from the problem.",
    "Changing problems",
    "problem.delSets(setind)",
    "    setind  Sets to delete (indices, SOS objects or set names).",
    "The remaining sets keep their order and are renumbered. " DELETE_NOTE,
    ROWS_RELATED);

const char kpy_doc_chgColType[] = KPY_DOC(
    "chgColType($self, /, colind, coltype)",
    "Changes the types of columns.",
    "Changing problems",
    "problem.chgColType(colind, coltype)",
    "    colind   Columns to change (indices, variable objects or column names).\n"
    "    coltype  New type of each: C continuous, B binary, I integer, S semi-continuous,\n"
    "             R semi-integer, P partial integer.",
    "Semi-continuous, semi-integer and partial-integer columns take their limits from "
    "problem.chgGlbLimit and need a finite upper bound to be solved.",
    ROWS_RELATED ", problem.chgGlbLimit");
