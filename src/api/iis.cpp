// Irreducible infeasible sets: search, status, data, printing, writing and isolations.
#include "api/methods.h"

namespace {

// Parses and converts the one argument "iis"; false with the error pending.
bool iisArgument(problem_s *prob, PyObject *args, PyObject *kwargs, int *iis) {
  static const char *kwlist[] = {"iis", nullptr};
  PyObject *oiis = nullptr;
  return PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &oiis) &&
         kpy_argInt(prob, "iis", oiis, iis, true) == 0;
}

// printIIS and IISIsolations: one IIS number, None.
PyObject *iisNumberMethod(PyObject *self, PyObject *args, PyObject *kwargs, int (*fn)(KRVXprob, int)) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int iis = 0;
    if (!iisArgument(prob, args, kwargs, &iis)) return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(fn, prob, iis))) return nullptr;
    Py_RETURN_NONE;
  });
}

}  // namespace

PyObject *kpy_problem_clearIIS(PyObject *self, PyObject *) { return kpy_noArgMethod(self, KRVXiisclear); }

PyObject *kpy_problem_firstIIS(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"mode", nullptr};
    PyObject *omode = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &omode)) return nullptr;
    int mode = 0, status = 0;
    if (kpy_argInt(prob, "mode", omode, &mode, true) < 0) return nullptr;
    if (kpy_failed(prob, kpy_callSolverWithSigInt(KRVXiisfirst, prob, mode, &status))) return nullptr;
    return PyLong_FromLong(status);
  });
}

PyObject *kpy_problem_nextIIS(PyObject *self, PyObject *) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int status = 0;
    if (kpy_failed(prob, kpy_callSolverWithSigInt(KRVXiisnext, prob, &status))) return nullptr;
    return PyLong_FromLong(status);
  });
}

PyObject *kpy_problem_IISAll(PyObject *self, PyObject *) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    if (kpy_failed(prob, kpy_callSolverWithSigInt(KRVXiisall, prob))) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_printIIS(PyObject *self, PyObject *args, PyObject *kwargs) {
  return iisNumberMethod(self, args, kwargs, KRVXiisprint);
}

PyObject *kpy_problem_IISIsolations(PyObject *self, PyObject *args, PyObject *kwargs) {
  return iisNumberMethod(self, args, kwargs, KRVXiisisolations);
}

PyObject *kpy_problem_writeIIS(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"iis", "filetype", "filename", "flags", nullptr};
    PyObject *oiis = nullptr, *otype = nullptr, *ofile = nullptr, *oflags = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OO", (char **)kwlist, &oiis, &otype, &ofile, &oflags))
      return nullptr;
    int iis = 0, filetype = 0;
    std::string filename, flags = "lp";
    if (kpy_argInt(prob, "iis", oiis, &iis, true) < 0 || kpy_argInt(prob, "filetype", otype, &filetype, true) < 0 ||
        kpy_argString(prob, "filename", ofile, &filename) < 0 || kpy_argString(prob, "flags", oflags, &flags) < 0)
      return nullptr;
    const char *file = kpy_given(ofile) ? filename.c_str() : nullptr;
    int rc = kpy_callSolverNoGIL(KRVXiiswrite, prob, iis, file, filetype, flags.c_str());
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_IISStatus(PyObject *self, PyObject *) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int count = 0;
    std::vector<int> rowsizes, colsizes, numinfeas;
    std::vector<double> suminfeas;
    int rc = kpy_callSolverNoGIL(KRVXiisstatus_witharraysizes, prob, &count, KPY_ARR(rowsizes), KPY_ARR(colsizes),
                                 KPY_ARR(suminfeas), KPY_ARR(numinfeas));
    if (kpy_failed(prob, rc)) return nullptr;
    const int n = count + 1;
    rowsizes.assign((size_t)n, 0);
    colsizes.assign((size_t)n, 0);
    suminfeas.assign((size_t)n, 0.0);
    numinfeas.assign((size_t)n, 0);
    rc = kpy_callSolverNoGIL(KRVXiisstatus_witharraysizes, prob, &count, KPY_ARR(rowsizes), KPY_ARR(colsizes),
                             KPY_ARR(suminfeas), KPY_ARR(numinfeas));
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({nb::steal(PyLong_FromLong(count)), kpy_listOf(rowsizes), kpy_listOf(colsizes),
                        kpy_listOf(suminfeas), kpy_listOf(numinfeas)});
  });
}

PyObject *kpy_problem_getIISData(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int iis = 0;
    if (!iisArgument(prob, args, kwargs, &iis)) return nullptr;
    int nrows = 0, ncols = 0;
    std::vector<int> rowind, colind;
    std::vector<char> contype, bndtype;
    std::vector<double> duals, djs;
    std::vector<signed char> isorows, isocols;
    auto call = [&] {
      return kpy_callSolverNoGIL(KRVXgetiisdata_witharraysizes, prob, iis, &nrows, &ncols, KPY_ARR(rowind),
                                 KPY_ARR(colind), KPY_ARR(contype), KPY_ARR(bndtype), KPY_ARR(duals), KPY_ARR(djs),
                                 KPY_ARR(isorows), KPY_ARR(isocols));
    };
    if (kpy_failed(prob, call())) return nullptr;
    const size_t r = (size_t)nrows, c = (size_t)ncols;
    rowind.assign(r, 0);
    colind.assign(c, 0);
    contype.assign(r, 0);
    bndtype.assign(c, 0);
    duals.assign(r, 0.0);
    djs.assign(c, 0.0);
    isorows.assign(r, 0);
    isocols.assign(c, 0);
    if (kpy_failed(prob, call())) return nullptr;
    return kpy_tupleOf({kpy_listOf(rowind), kpy_listOf(colind), kpy_listOf(contype), kpy_listOf(bndtype),
                        kpy_listOf(duals), kpy_listOf(djs), kpy_listOf(isorows), kpy_listOf(isocols)});
  });
}

// ---- help texts ----

#define IIS_RELATED "problem.firstIIS, problem.nextIIS, problem.IISAll, problem.IISStatus, problem.getIISData, " \
  "problem.printIIS, problem.writeIIS, problem.IISIsolations, problem.clearIIS"
#define IIS_NUMBER_ARG "    iis  Number of the IIS: 0 the initial infeasible subproblem, 1 and up the IISs found."
#define IIS_SEARCH_FURTHER                                                                                    \
  "An IIS is a set of rows, sets, piecewise-linear and general constraints, bounds and column types that is " \
  "infeasible on its own and becomes feasible when any one of them is dropped. The interpreter lock is "    \
  "released during the search, Ctrl-C or problem.interrupt stops it, and the TIMELIMIT control bounds it. " \
  "A search stopped that way says so in the attributes solvestatus (STOPPED) and stopstatus (the reason) " \
  "until it goes on and ends otherwise, is dropped or the problem is solved; the solution and solstatus " \
  "stay those of the last solve. Any change of the problem drops the IIS results."

const char kpy_doc_clearIIS[] = KPY_DOC(
    "clearIIS($self, /)",
    "Drops the results of the IIS search.",
    "Infeasibility analysis",
    "problem.clearIIS()",
    "    none",
    "Afterwards IISStatus reports -1 IISs until a new search runs.",
    IIS_RELATED);

const char kpy_doc_firstIIS[] = KPY_DOC(
    "firstIIS($self, /, mode)",
    "Starts a search for irreducible infeasible sets (IIS) and finds the first one.",
    "Infeasibility analysis",
    "status = problem.firstIIS(mode)",
    "    mode  0 stops after the initial infeasible subproblem (IIS 0), 1 looks for a small IIS, 2 for an IIS "
    "found fast.",
    "Returns 0 when an IIS (or, with mode 0, the initial subproblem) was found, 1 when the problem is feasible, "
    "2 on an error, 3 when the time limit or an interrupt stopped the search. " IIS_SEARCH_FURTHER,
    IIS_RELATED);

const char kpy_doc_nextIIS[] = KPY_DOC(
    "nextIIS($self, /)",
    "Continues the IIS search and finds an IIS different from those found so far.",
    "Infeasibility analysis",
    "status = problem.nextIIS()",
    "    none",
    "Returns 0 when a new IIS was found, 1 when there is no further IIS (or the problem is feasible), 2 on an "
    "error, 3 when the time limit or an interrupt stopped the search (a later call goes on from there). Starts "
    "a search when none has been run. " IIS_SEARCH_FURTHER,
    IIS_RELATED);

const char kpy_doc_IISAll[] = KPY_DOC(
    "IISAll($self, /)",
    "Searches for all irreducible infeasible sets.",
    "Infeasibility analysis",
    "problem.IISAll()",
    "    none",
    "Starts a new search and stops after as many IISs as the control MAXIIS allows (-1, the default, means no "
    "limit). IISStatus gives the number found, also when the search was stopped first. " IIS_SEARCH_FURTHER,
    IIS_RELATED);

const char kpy_doc_IISStatus[] = KPY_DOC(
    "IISStatus($self, /)",
    "Returns the number of IISs found and their sizes.",
    "Infeasibility analysis",
    "niis, nrows, ncols, suminfeas, numinfeas = problem.IISStatus()",
    "    none",
    "niis is the number of IISs found (-1 when no search has run); the four lists have niis + 1 entries, "
    "indexed by IIS number (entry 0 the initial infeasible subproblem): rows (with sets, piecewise-linear and "
    "general constraints), bounds (with column types), and the sum and number of violations after the "
    "first phase of the simplex method.",
    IIS_RELATED);

const char kpy_doc_getIISData[] = KPY_DOC(
    "getIISData($self, /, iis)",
    "Returns the members of an IIS with their multipliers.",
    "Infeasibility analysis",
    "rowind, colind, contype, bndtype, duals, djs, isolationrows, isolationcols = problem.getIISData(iis)",
    IIS_NUMBER_ARG,
    "rowind numbers rows first, then sets, piecewise-linear and general constraints; contype is L, G, E (a "
    "range row by the side used), I (indicator), 1, 2 (sets), W (piecewise-linear) or X (general). colind "
    "gives the column of each bound, bndtype U, L, F (fixed) or the column type B, I, P, S, R. duals and djs "
    "are Farkas multipliers that prove the continuous part infeasible (all 0 when only integrality conflicts). "
    "Isolations: -1 not computed, 0 no, 1 yes (see IISIsolations). Indices are plain ints.",
    IIS_RELATED);

const char kpy_doc_printIIS[] = KPY_DOC(
    "printIIS($self, /, iis)",
    "Prints an IIS through the problem's message output.",
    "Infeasibility analysis",
    "problem.printIIS(iis)",
    IIS_NUMBER_ARG,
    "One line per member: kind, name, type letter, value and multiplier.",
    IIS_RELATED);

const char kpy_doc_writeIIS[] = KPY_DOC(
    "writeIIS($self, /, iis, filetype, filename=None, flags=\"lp\")",
    "Writes an IIS to a file.",
    "Infeasibility analysis",
    "problem.writeIIS(iis, filetype, filename=None, flags=\"lp\")",
    IIS_NUMBER_ARG "\n"
    "    filetype  0 writes the IIS as a problem (LP or MPS), 1 as a comma-separated file.\n"
    "    filename  File to write; None uses the problem's name followed by _iis and the number.\n"
    "    flags     Writer flags for filetype 0: l LP format (otherwise MPS), f fixed MPS, p full precision\n"
    "              (LP and free MPS files hold full precision anyway).",
    "The problem file holds the members of the IIS and the columns they use, with a zero objective; "
    "readProb reads it back. The comma-separated file has one line per member: name, kind, type, value, "
    "multiplier and isolation.",
    IIS_RELATED);

const char kpy_doc_IISIsolations[] = KPY_DOC(
    "IISIsolations($self, /, iis)",
    "Marks the members of an IIS that belong to no other IIS found.",
    "Infeasibility analysis",
    "problem.IISIsolations(iis)",
    "    iis  Number of the IIS, 1 and up (IIS 0 is refused).",
    "getIISData then reports 1 for the members in isolation and 0 for the others.",
    IIS_RELATED);
