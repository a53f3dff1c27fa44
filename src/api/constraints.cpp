// Indicator, piecewise-linear and general constraints.
#include "api/methods.h"

namespace {

// A range first..last of items: the bounds as given, defaults 0 and count - 1.
struct Range {
  int first = 0, last = -1;
  // Entries of a per-item array of the range: last - first + 1 when that is 1 or more, else 0.
  size_t items() const {
    int64_t d = (int64_t)last - first;
    return d >= 0 && d <= 2147483646 ? (size_t)(d + 1) : 0;
  }
  // Entries of a start array of the range: one more than the items when the range is not below empty.
  size_t starts() const {
    int64_t d = (int64_t)last - first;
    return d + 2 > 0 && d <= 2147483646 ? (size_t)(d + 2) : 0;
  }
};

// Parses "first" and "last" (both optional) after reading the item count from attribute id.
// Row ranges accept what the row converter accepts; other ranges plain integers.
int parseRange(problem_s *prob, PyObject *args, PyObject *kwargs, int id, bool rows, bool noObj, Range *r,
               int64_t *count) {
  if (kpy_getIntAttrib64(prob, id, count) < 0) return -1;
  r->first = 0;
  r->last = (int)(*count - 1);
  static const char *kwlist[] = {"first", "last", nullptr};
  PyObject *ofirst = nullptr, *olast = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO", (char **)kwlist, &ofirst, &olast)) return -1;
  const char *names[2] = {"first", "last"};
  PyObject *objs[2] = {ofirst, olast};
  int *outs[2] = {&r->first, &r->last};
  for (int i = 0; i < 2; i++) {
    if (!kpy_given(objs[i])) continue;
    int rc = rows ? kpy_ObjToRowIndex(prob, objs[i], outs[i], noObj) : kpy_ObjToInt(prob, objs[i], outs[i]);
    if (rc < 0) return kpy_argError(names[i]);
  }
  return 0;
}

// A method over a range of items: the frame's checks, the range parsed after reading the item
// count (attribute id), then body(range, count).
template <typename F>
PyObject *rangeMethod(PyObject *self, PyObject *args, PyObject *kwargs, int id, bool rows, F &&body) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = rows && !kpy_isOriginalProb(prob);
    Range r;
    int64_t count;
    if (parseRange(prob, args, kwargs, id, rows, noObj, &r, &count) < 0) return nullptr;
    return body(prob, r, count);
  });
}

// The message of a group of arrays of one count.
int checkCount(const char *message, std::initializer_list<size_t> sizes, const char *first, int *n) {
  for (size_t s : sizes)
    if (s != *sizes.begin()) {
      PyErr_SetString(kpy_InterfaceError, message);
      return -1;
    }
  return kpy_count32(first, *sizes.begin(), n);
}

// Parses the one argument of a deleter of numbered items into plain integer indices.
int parseIndices(problem_s *prob, PyObject *args, PyObject *kwargs, const char *argname, std::vector<int> *ind,
                 int *n) {
  const char *kwlist[] = {argname, nullptr};
  PyObject *obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &obj)) return -1;
  if (kpy_Iterable_to_vector<int>(prob, argname, ind, obj) < 0) return -1;
  return kpy_count32(argname, ind->size(), n);
}

using DelFn = int (*)(KRVXprob, int, const int *, int64_t);

PyObject *deleteNumbered(PyObject *self, PyObject *args, PyObject *kwargs, const char *argname, DelFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    std::vector<int> ind;
    int n;
    if (parseIndices(prob, args, kwargs, argname, &ind, &n) < 0) return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(fn, prob, n, KPY_ARR(ind)))) return nullptr;
    Py_RETURN_NONE;
  });
}

}  // namespace

PyObject *kpy_problem_setIndicators(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"rowind", "colind", "complement", nullptr};
    PyObject *orow = nullptr, *ocol = nullptr, *ocomp = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO", (char **)kwlist, &orow, &ocol, &ocomp)) return nullptr;
    std::vector<int> rowind, colind, complement;
    int n;
    if (kpy_Iterable_to_vector<kpy_rowindex>(prob, "rowind", &rowind, orow, noObj) < 0 ||
        kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", &colind, ocol, noObj) < 0 ||
        kpy_Iterable_to_vector<int>(prob, "complement", &complement, ocomp) < 0 ||
        checkCount("Arguments 'rowind', 'colind' and 'complement' must have the same length",
                   {rowind.size(), colind.size(), complement.size()}, "rowind", &n) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXsetindicators_witharraysizes, prob, n, KPY_ARR(rowind), KPY_ARR(colind),
                                 KPY_ARR(complement));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_getIndicators(PyObject *self, PyObject *args, PyObject *kwargs) {
  auto body = [](problem_s *prob, const Range &r, int64_t rows) -> PyObject * {
    // sized only for a range inside the problem; the solver refuses any other non-empty range
    size_t n = r.first >= 0 && r.last < rows ? r.items() : 0;
    std::vector<int> colind(n), complement(n);
    int rc = kpy_callSolverNoGIL(KRVXgetindicators_witharraysizes, prob, KPY_ARR(colind), KPY_ARR(complement),
                                 r.first, r.last);
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({kpy_listOf(colind), kpy_listOf(complement)});
  };
  return rangeMethod(self, args, kwargs, KRVX_ROWS, true, body);
}

PyObject *kpy_problem_delIndicators(PyObject *self, PyObject *args, PyObject *kwargs) {
  auto body = [](problem_s *prob, const Range &r, int64_t) -> PyObject * {
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXdelindicators, prob, r.first, r.last))) return nullptr;
    Py_RETURN_NONE;
  };
  return rangeMethod(self, args, kwargs, KRVX_ROWS, true, body);
}

PyObject *kpy_problem_addPwlCons(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"colind", "resultant", "start", "xval", "yval", nullptr};
    PyObject *ocol = nullptr, *ores = nullptr, *ostart = nullptr, *ox = nullptr, *oy = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOOO", (char **)kwlist, &ocol, &ores, &ostart, &ox, &oy))
      return nullptr;
    std::vector<int> colind, resultant;
    std::vector<int64_t> start;
    std::vector<double> xval, yval;
    if (kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", &colind, ocol, noObj) < 0 ||
        kpy_Iterable_to_vector<kpy_colindex>(prob, "resultant", &resultant, ores, noObj) < 0 ||
        kpy_Iterable_to_vector<long>(prob, "start", &start, ostart) < 0 ||
        kpy_Iterable_to_vector<double>(prob, "xval", &xval, ox) < 0 ||
        kpy_Iterable_to_vector<double>(prob, "yval", &yval, oy) < 0)
      return nullptr;
    int npwl;
    if (checkCount("Arguments 'colind', 'resultant' and 'start' must have the same length",
                   {colind.size(), resultant.size(), start.size()}, "colind", &npwl) < 0)
      return nullptr;
    if (xval.size() != yval.size()) {
      PyErr_SetString(kpy_InterfaceError, "Arguments 'xval' and 'yval' must have the same length");
      return nullptr;
    }
    int rc = kpy_callSolverNoGIL(KRVXaddpwlcons64_witharraysizes, prob, npwl, (int64_t)xval.size(), KPY_ARR(colind),
                                 KPY_ARR(resultant), KPY_ARR(start), KPY_ARR(xval), KPY_ARR(yval));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_getPwlCons(PyObject *self, PyObject *args, PyObject *kwargs) {
  auto body = [](problem_s *prob, const Range &r, int64_t) -> PyObject * {
    int64_t npoints = 0;
    int rc = kpy_callSolverNoGIL(KRVXgetpwlcons64_witharraysizes, prob, (int *)nullptr, (int64_t)0, (int *)nullptr,
                                 (int64_t)0, (int64_t *)nullptr, (int64_t)0, (double *)nullptr, (int64_t)0,
                                 (double *)nullptr, (int64_t)0, (int64_t)0, &npoints, r.first, r.last);
    if (kpy_failed(prob, rc)) return nullptr;
    std::vector<int> colind(r.items()), resultant(r.items());
    std::vector<int64_t> start(r.starts());
    std::vector<double> xval((size_t)npoints), yval((size_t)npoints);
    int64_t filled = 0;
    rc = kpy_callSolverNoGIL(KRVXgetpwlcons64_witharraysizes, prob, KPY_ARR(colind), KPY_ARR(resultant),
                             KPY_ARR(start), KPY_ARR(xval), KPY_ARR(yval), npoints, &filled, r.first, r.last);
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({kpy_listOf(colind), kpy_listOf(resultant), kpy_listOf(start),
                        kpy_listOf(xval), kpy_listOf(yval)});
  };
  return rangeMethod(self, args, kwargs, KRVX_PWLCONS, false, body);
}

PyObject *kpy_problem_delPwlCons(PyObject *self, PyObject *args, PyObject *kwargs) {
  return deleteNumbered(self, args, kwargs, "pwlind", KRVXdelpwlcons_witharraysizes);
}

PyObject *kpy_problem_addGenCons(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"contype", "resultant", "colstart", "colind", "valstart", "val", nullptr};
    PyObject *otype = nullptr, *ores = nullptr, *ocstart = nullptr, *ocol = nullptr, *ovstart = nullptr,
             *oval = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOOOO", (char **)kwlist, &otype, &ores, &ocstart, &ocol,
                                     &ovstart, &oval))
      return nullptr;
    std::vector<int> contype, resultant, colind;
    std::vector<int64_t> colstart, valstart;
    std::vector<double> val;
    if (kpy_Iterable_to_vector<int>(prob, "contype", &contype, otype) < 0 ||
        kpy_Iterable_to_vector<kpy_colindex>(prob, "resultant", &resultant, ores, noObj) < 0 ||
        kpy_Iterable_to_vector<long>(prob, "colstart", &colstart, ocstart) < 0 ||
        kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", &colind, ocol, noObj) < 0 ||
        kpy_Iterable_to_vector<long>(prob, "valstart", &valstart, ovstart) < 0 ||
        kpy_Iterable_to_vector<double>(prob, "val", &val, oval) < 0)
      return nullptr;
    int ncons;
    if (checkCount("Arguments 'contype', 'resultant', 'colstart' and 'valstart' must have the same length",
                   {contype.size(), resultant.size(), colstart.size(), valstart.size()}, "contype", &ncons) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXaddgencons64_witharraysizes, prob, ncons, (int64_t)colind.size(),
                                 (int64_t)val.size(), KPY_ARR(contype), KPY_ARR(resultant), KPY_ARR(colstart),
                                 KPY_ARR(colind), KPY_ARR(valstart), KPY_ARR(val));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_getGenCons(PyObject *self, PyObject *args, PyObject *kwargs) {
  auto body = [](problem_s *prob, const Range &r, int64_t) -> PyObject * {
    int64_t ncols = 0, nvals = 0;
    int rc = kpy_callSolverNoGIL(KRVXgetgencons64_witharraysizes, prob, (int *)nullptr, (int64_t)0, (int *)nullptr,
                                 (int64_t)0, (int64_t *)nullptr, (int64_t)0, (int *)nullptr, (int64_t)0, (int64_t)0,
                                 &ncols, (int64_t *)nullptr, (int64_t)0, (double *)nullptr, (int64_t)0, (int64_t)0,
                                 &nvals, r.first, r.last);
    if (kpy_failed(prob, rc)) return nullptr;
    std::vector<int> contype(r.items()), resultant(r.items()), colind((size_t)ncols);
    std::vector<int64_t> colstart(r.starts()), valstart(r.starts());
    std::vector<double> val((size_t)nvals);
    int64_t fcols = 0, fvals = 0;
    rc = kpy_callSolverNoGIL(KRVXgetgencons64_witharraysizes, prob, KPY_ARR(contype), KPY_ARR(resultant),
                             KPY_ARR(colstart), KPY_ARR(colind), ncols, &fcols, KPY_ARR(valstart), KPY_ARR(val), nvals,
                             &fvals, r.first, r.last);
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({kpy_listOf(contype), kpy_listOf(resultant), kpy_listOf(colstart),
                        kpy_listOf(colind), kpy_listOf(valstart), kpy_listOf(val)});
  };
  return rangeMethod(self, args, kwargs, KRVX_GENCONS, false, body);
}

PyObject *kpy_problem_delGenCons(PyObject *self, PyObject *args, PyObject *kwargs) {
  return deleteNumbered(self, args, kwargs, "conind", KRVXdelgencons_witharraysizes);
}

// ---- help texts ----

#define CONS_RELATED "problem.setIndicators, problem.getIndicators, problem.delIndicators, problem.addPwlCons, " \
  "problem.getPwlCons, problem.delPwlCons, problem.addGenCons, problem.getGenCons, problem.delGenCons"
#define BIGM_NOTE "To be solved, the columns involved need finite bounds."

const char kpy_doc_setIndicators[] = KPY_DOC(
    "setIndicators($self, /, rowind, colind, complement)",
    "Makes rows indicator constraints, or plain rows again.",
    "Changing problems",
    "problem.setIndicators(rowind, colind, complement)",
    "    rowind      Rows to change (indices, constraint objects or names).\n"
    "    colind      Binary indicator column of each row.\n"
    "    complement  1: the row holds when the column is 1; -1: when it is 0; 0: the row\n"
    "                is a plain row again.",
    BIGM_NOTE,
    CONS_RELATED);

const char kpy_doc_getIndicators[] = KPY_DOC(
    "getIndicators($self, /, first=0, last=None)",
    "Returns the indicator data of a range of rows.",
    "Problem data",
    "colind, complement = problem.getIndicators(first=0, last=ROWS-1)",
    "    first  First row of the range (index, constraint object or name).\n"
    "    last   Last row of the range (None: the last row).",
    "For each row its indicator column and complement flag (0 for a plain row).",
    CONS_RELATED);

const char kpy_doc_delIndicators[] = KPY_DOC(
    "delIndicators($self, /, first=0, last=None)",
    "Makes a range of indicator constraints plain rows again.",
    "Changing problems",
    "problem.delIndicators(first=0, last=ROWS-1)",
    "    first  First row of the range (index, constraint object or name).\n"
    "    last   Last row of the range (None: the last row).",
    "The rows themselves stay in the problem.",
    CONS_RELATED);

const char kpy_doc_addPwlCons[] = KPY_DOC(
    "addPwlCons($self, /, colind, resultant, start, xval, yval)",
    "Adds piecewise-linear constraints y = f(x).",
    "Changing problems",
    "problem.addPwlCons(colind, resultant, start, xval, yval)",
    "    colind     Input column x of each constraint.\n"
    "    resultant  Resultant column y of each constraint.\n"
    "    start      Offset of each constraint's first breakpoint in xval and yval (one entry\n"
    "               per constraint).\n"
    "    xval       x-value of each breakpoint, non-decreasing within a constraint.\n"
    "    yval       y-value of each breakpoint.",
    "The constraints get the next indices. " BIGM_NOTE,
    CONS_RELATED);

const char kpy_doc_getPwlCons[] = KPY_DOC(
    "getPwlCons($self, /, first=0, last=None)",
    "Returns a range of piecewise-linear constraints.",
    "Problem data",
    "colind, resultant, start, xval, yval = problem.getPwlCons(first=0, last=PWLCONS-1)",
    "    first  First constraint of the range (index).\n"
    "    last   Last constraint of the range (None: the last one).",
    "start holds one entry more than there are constraints, ending at the number of breakpoints.",
    CONS_RELATED);

const char kpy_doc_delPwlCons[] = KPY_DOC(
    "delPwlCons($self, /, pwlind)",
    "Deletes piecewise-linear constraints.",
    "Changing problems",
    "problem.delPwlCons(pwlind)",
    "    pwlind  Indices of the constraints to delete.",
    "The remaining constraints keep their order and are renumbered.",
    CONS_RELATED);

const char kpy_doc_addGenCons[] = KPY_DOC(
    "addGenCons($self, /, contype, resultant, colstart, colind, valstart, val)",
    "Adds general constraints y = f(x1, ..., xn, c1, ..., cm).",
    "Changing problems",
    "problem.addGenCons(contype, resultant, colstart, colind, valstart, val)",
    "    contype    Type of each constraint: 0 maximum, 1 minimum, 2 and, 3 or, 4 absolute\n"
    "               value (korvex.enums.GenConsType).\n"
    "    resultant  Resultant column y of each constraint.\n"
    "    colstart   Offset of each constraint's first input column in colind.\n"
    "    colind     Input columns.\n"
    "    valstart   Offset of each constraint's first constant in val.\n"
    "    val        Constant values (maximum and minimum only).",
    "and and or take binary columns. " BIGM_NOTE,
    CONS_RELATED);

const char kpy_doc_getGenCons[] = KPY_DOC(
    "getGenCons($self, /, first=0, last=None)",
    "Returns a range of general constraints.",
    "Problem data",
    "contype, resultant, colstart, colind, valstart, val = problem.getGenCons(first=0, last=GENCONS-1)",
    "    first  First constraint of the range (index).\n"
    "    last   Last constraint of the range (None: the last one).",
    "colstart and valstart hold one entry more than there are constraints.",
    CONS_RELATED);

const char kpy_doc_delGenCons[] = KPY_DOC(
    "delGenCons($self, /, conind)",
    "Deletes general constraints.",
    "Changing problems",
    "problem.delGenCons(conind)",
    "    conind  Indices of the constraints to delete.",
    "The remaining constraints keep their order and are renumbered.",
    CONS_RELATED);
