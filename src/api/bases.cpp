// Solutions, bases and solver states handed to the solver: solution and basis files, bases and LP
// solutions given as arrays, secured rows and columns, postsolve and single pivots.
#include "api/methods.h"

namespace {

using ReaderFn = int (*)(KRVXprob, const char *, const char *);

// readSlxSol, readBasis, readBinSol: optional file name and flags, "" when absent or None.
PyObject *readFile(PyObject *self, PyObject *args, PyObject *kwargs, ReaderFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"filename", "flags", nullptr};
    PyObject *ofile = nullptr, *oflags = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO", (char **)kwlist, &ofile, &oflags)) return nullptr;
    std::string filename, flags;
    if (kpy_argString(prob, "filename", ofile, &filename) < 0 || kpy_argString(prob, "flags", oflags, &flags) < 0)
      return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(fn, prob, filename.c_str(), flags.c_str()))) return nullptr;
    Py_RETURN_NONE;
  });
}

using BasisFn = int (*)(KRVXprob, const int *, int64_t, const int *, int64_t);

// loadBasis, loadPresolveBasis: both arrays required; lengths and codes are the solver's to judge.
PyObject *loadBasisArrays(PyObject *self, PyObject *args, PyObject *kwargs, BasisFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"rowstat", "colstat", nullptr};
    PyObject *orow = nullptr, *ocol = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO", (char **)kwlist, &orow, &ocol)) return nullptr;
    std::vector<int> rowstat, colstat;
    if (kpy_Iterable_to_vector<int>(prob, "rowstat", &rowstat, orow) < 0 ||
        kpy_Iterable_to_vector<int>(prob, "colstat", &colstat, ocol) < 0)
      return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(fn, prob, KPY_ARR(rowstat), KPY_ARR(colstat)))) return nullptr;
    Py_RETURN_NONE;
  });
}

}  // namespace

PyObject *kpy_problem_readSlxSol(PyObject *self, PyObject *args, PyObject *kwargs) {
  return readFile(self, args, kwargs, KRVXreadslxsol);
}

PyObject *kpy_problem_readBasis(PyObject *self, PyObject *args, PyObject *kwargs) {
  return readFile(self, args, kwargs, KRVXreadbasis);
}

PyObject *kpy_problem_readBinSol(PyObject *self, PyObject *args, PyObject *kwargs) {
  return readFile(self, args, kwargs, KRVXreadbinsol);
}

PyObject *kpy_problem_loadBasis(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadBasisArrays(self, args, kwargs, KRVXloadbasis_witharraysizes);
}

PyObject *kpy_problem_loadPresolveBasis(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadBasisArrays(self, args, kwargs, KRVXloadpresolvebasis_witharraysizes);
}

PyObject *kpy_problem_loadSecureVecs(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"rowind", "colind", nullptr};
    PyObject *orow = nullptr, *ocol = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO", (char **)kwlist, &orow, &ocol)) return nullptr;
    std::vector<int> rowind, colind;
    if ((kpy_given(orow) && kpy_Iterable_to_vector<kpy_rowindex>(prob, "rowind", &rowind, orow, noObj) < 0) ||
        (kpy_given(ocol) && kpy_Iterable_to_vector<kpy_colindex>(prob, "colind", &colind, ocol, noObj) < 0))
      return nullptr;
    int nrows, ncols;
    if (kpy_count32("rowind", rowind.size(), &nrows) < 0 || kpy_count32("colind", colind.size(), &ncols) < 0)
      return nullptr;
    int rc = kpy_callSolverNoGIL(KRVXloadsecurevecs_witharraysizes, prob, nrows, ncols, KPY_ARR(rowind),
                                 KPY_ARR(colind));
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_loadLPSol(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"x", "slack", "duals", "djs", nullptr};
    PyObject *obj[4] = {nullptr, nullptr, nullptr, nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOO", (char **)kwlist, &obj[0], &obj[1], &obj[2], &obj[3]))
      return nullptr;
    std::vector<double> v[4];
    for (int k = 0; k < 4; ++k)
      if (kpy_given(obj[k]) && kpy_Iterable_to_vector<double>(prob, kwlist[k], &v[k], obj[k]) < 0) return nullptr;
    int status = 0;
    int rc = kpy_callSolverNoGIL(KRVXloadlpsol_witharraysizes, prob, KPY_ARR(v[0]), KPY_ARR(v[1]), KPY_ARR(v[2]),
                                 KPY_ARR(v[3]), &status);
    if (kpy_failed(prob, rc)) return nullptr;
    return PyLong_FromLong(status);
  });
}

PyObject *kpy_problem_postSolve(PyObject *self, PyObject *) { return kpy_noArgMethod(self, KRVXpostsolve); }

PyObject *kpy_problem_pivot(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    static const char *kwlist[] = {"enter", "leave", nullptr};
    PyObject *oenter = nullptr, *oleave = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO", (char **)kwlist, &oenter, &oleave)) return nullptr;
    int enter = 0, leave = 0;
    if (kpy_ObjToRowColIndex(prob, oenter, &enter, noObj) < 0) {
      kpy_argError("enter");
      return nullptr;
    }
    if (kpy_ObjToRowColIndex(prob, oleave, &leave, noObj) < 0) {
      kpy_argError("leave");
      return nullptr;
    }
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXpivot, prob, enter, leave))) return nullptr;
    Py_RETURN_NONE;
  });
}

// ---- help texts ----

#define BASES_RELATED "problem.readBasis, problem.loadBasis, problem.loadPresolveBasis, problem.readSlxSol, " \
  "problem.readBinSol, problem.loadLPSol, problem.loadSecureVecs, problem.postSolve, problem.pivot, "        \
  "problem.getPivotOrder"
#define READER_ARGS(ext, letters)                                                                   \
  "    filename  The file; empty or absent: the problem's name with the extension " ext ".\n"     \
  "    flags     " letters

const char kpy_doc_readSlxSol[] = KPY_DOC(
    "readSlxSol($self, /, filename=\"\", flags=\"\")",
    "Reads a solution from a text solution file.",
    "Solutions",
    "problem.readSlxSol(filename=\"\", flags=\"\")",
    READER_ARGS("\".slx\"", "l read as an LP solution, m read as the MIP solution (used as the start of the "
                            "next MIP solve), a add every solution of the file as a start of the next MIP "
                            "solve, v use the file name as given, z read a gzip file."),
    "The file holds one or more solutions: a line NAME <name> starts each, and each line "
    "C <column name> <value> gives one column's value (columns not listed are 0; lines R <row name> <value> "
    "and lines starting with # are ignored). A MIP solution read here becomes the incumbent of the "
    "next MIP solve when it is feasible.",
    BASES_RELATED);

const char kpy_doc_readBasis[] = KPY_DOC(
    "readBasis($self, /, filename=\"\", flags=\"\")",
    "Reads a basis from a basis file and loads it for the next LP solve.",
    "Solutions",
    "problem.readBasis(filename=\"\", flags=\"\")",
    READER_ARGS("\".bss\"", "n values after the names are ignored, t compact form (the only one), v use the "
                            "file name as given, z read a gzip file."),
    "The file is in the MPS basis format: XU col row and XL col row make col basic and row non-basic with "
    "its activity at its upper or lower bound, UL col and LL col put col at its upper or lower bound; "
    "rows not listed are basic. The basis is one of the original problem.",
    BASES_RELATED);

const char kpy_doc_readBinSol[] = KPY_DOC(
    "readBinSol($self, /, filename=\"\", flags=\"\")",
    "Reads a solution from a binary solution file.",
    "Solutions",
    "problem.readBinSol(filename=\"\", flags=\"\")",
    READER_ARGS("\".sol\"", "m load as the MIP solution (used as the start of the next MIP solve), x load as "
                            "an LP solution (the default), v use the file name as given, z read a gzip file."),
    "Files with a wrong header, version, size or checksum are refused.",
    BASES_RELATED);

#define BASIS_CODES                                                                                      \
  "Codes: 0 non-basic at the lower bound (a column without a lower bound: at zero), 1 basic, 2 non-basic " \
  "at the upper bound, 3 superbasic (korvex.BasisStatus). A row's code is that of its slack, rhs minus "   \
  "the activity: a <= row at its rhs has code 0, a >= row at its rhs code 2. Exactly one entry per row "  \
  "must be basic."

const char kpy_doc_loadBasis[] = KPY_DOC(
    "loadBasis($self, /, rowstat, colstat)",
    "Loads a basis for the next LP solve.",
    "Solutions",
    "problem.loadBasis(rowstat, colstat)",
    "    rowstat  Basis code of each row.\n"
    "    colstat  Basis code of each column.",
    BASIS_CODES " An optimal basis lets the next simplex solve finish without iterations.",
    BASES_RELATED);

const char kpy_doc_loadPresolveBasis[] = KPY_DOC(
    "loadPresolveBasis($self, /, rowstat, colstat)",
    "Loads a basis of the presolved problem.",
    "Solutions",
    "problem.loadPresolveBasis(rowstat, colstat)",
    "    rowstat  Basis code of each row of the presolved problem.\n"
    "    colstat  Basis code of each column of the presolved problem.",
    BASIS_CODES " The problem must be in presolved form; attributes rows and cols give the sizes.",
    BASES_RELATED);

const char kpy_doc_loadSecureVecs[] = KPY_DOC(
    "loadSecureVecs($self, /, rowind=None, colind=None)",
    "Marks rows and columns that presolve must keep.",
    "Solutions",
    "problem.loadSecureVecs(rowind=None, colind=None)",
    "    rowind  Rows to keep (indices, constraint objects or names).\n"
    "    colind  Columns to keep (indices, variable objects or names).",
    "The marked rows and columns appear in the presolved problem (see problem.getPresolveMap).",
    BASES_RELATED);

const char kpy_doc_loadLPSol[] = KPY_DOC(
    "loadLPSol($self, /, x=None, slack=None, duals=None, djs=None)",
    "Loads an LP solution as the problem's current solution.",
    "Solutions",
    "status = problem.loadLPSol(x=None, slack=None, duals=None, djs=None)",
    "    x      Value of each column; absent: each column at a bound.\n"
    "    slack  Slack of each row; absent: computed from x (slack without x is refused).\n"
    "    duals  Dual value of each row; absent: zero.\n"
    "    djs    Reduced cost of each column; absent: computed from duals (djs without duals is refused).",
    "Returns 0 when the solution was loaded, 1 when it was not because the problem is in presolved form. "
    "Neither x nor duals unloads the current solution.",
    BASES_RELATED);

const char kpy_doc_postSolve[] = KPY_DOC(
    "postSolve($self, /)",
    "Brings a presolved problem back to its original form.",
    "Solutions",
    "problem.postSolve()",
    "    none",
    "The solution is then that of the original problem. Nothing happens to a problem that is not presolved.",
    BASES_RELATED);

const char kpy_doc_pivot[] = KPY_DOC(
    "pivot($self, /, enter, leave)",
    "Performs one simplex pivot on the current basis.",
    "Solutions",
    "problem.pivot(enter, leave)",
    "    enter  The non-basic row or column to enter the basis (index, constraint or variable).\n"
    "    leave  The basic row or column to leave it.",
    "Indices are in the combined space: rows 0 to rows-1, column j at rows + sparerows + j. The entering "
    "variable takes the basis row of the leaving one, which goes to its nearest bound; the solution is then "
    "that of the new basis. A zero pivot element is refused.",
    BASES_RELATED);
