// Loading problems from arrays (loadLP and its family) and reading them from files.
#include "api/methods.h"

#include <csignal>

namespace {

// Sections of the loaders' arguments
enum : unsigned { LIN = 1, QOBJ = 2, QROW = 4, ENT = 8 };

// Every keyword of the family in section order; a member lists those of its sections.
enum Kw {
  PROBNAME, ROWTYPE, RHS, RNG, OBJCOEF, START, COLLEN, ROWIND, ROWCOEF, LB, UB,  // linear
  OBJQCOL1, OBJQCOL2, OBJQCOEF,                                                  // quadratic objective
  QROWIND, NROWQCOEFS, ROWQCOL1, ROWQCOL2, ROWQCOEF,                             // quadratic rows
  COLTYPE, ENTIND, LIMIT, SETTYPE, SETSTART, SETIND, REFVAL,                     // entities and sets
  NKW
};
const char *const kwNames[NKW] = {
    "probname", "rowtype",  "rhs",      "rng",      "objcoef",    "start",    "collen",
    "rowind",   "rowcoef",  "lb",       "ub",       "objqcol1",   "objqcol2", "objqcoef",
    "qrowind",  "nrowqcoefs", "rowqcol1", "rowqcol2", "rowqcoef", "coltype",  "entind",
    "limit",    "settype",  "setstart", "setind",   "refval"};

unsigned sectionOf(int k) {
  if (k <= UB) return LIN;
  if (k <= OBJQCOEF) return QOBJ;
  if (k <= ROWQCOEF) return QROW;
  return ENT;
}

// One array argument: the caller's buffer itself when it holds the solver's type exactly
// (kpy_borrowArray), else the values converted element by element.
template <typename K>
struct ArrayArg {
  using T = typename kpy_elem<K>::type;
  std::vector<T> own;
  const T *p = nullptr;
  int64_t n = 0;
  bool borrowed = false;

  int convert(problem_s *prob, const char *name, PyObject *o, bool noObj, bool mayBorrow) {
    borrowed = mayBorrow && kpy_borrowArray<K>(o, &p, &n);
    if (borrowed) return 0;
    if (kpy_Iterable_to_vector<K>(prob, name, &own, o, noObj) < 0) return -1;
    p = own.empty() ? nullptr : own.data();
    n = (int64_t)own.size();
    return 0;
  }
};

struct LoadArgs {
  std::string probname;
  ArrayArg<char> rowtype, coltype, settype;
  ArrayArg<double> rhs, rng, objcoef, rowcoef, lb, ub, objqcoef, rowqcoef, limit, refval;
  ArrayArg<long> start, nrowqcoefs, setstart;
  ArrayArg<int> collen;
  ArrayArg<kpy_rowindex> rowind, qrowind;
  ArrayArg<kpy_colindex> objqcol1, objqcol2, rowqcol1, rowqcol2, entind, setind;
  bool given[NKW] = {};

  // Calls f with the member holding array argument k.
  template <class F>
  auto with(int k, F &&f) {
    switch (k) {
      case ROWTYPE: return f(rowtype);
      case RHS: return f(rhs);
      case RNG: return f(rng);
      case OBJCOEF: return f(objcoef);
      case START: return f(start);
      case COLLEN: return f(collen);
      case ROWIND: return f(rowind);
      case ROWCOEF: return f(rowcoef);
      case LB: return f(lb);
      case UB: return f(ub);
      case OBJQCOL1: return f(objqcol1);
      case OBJQCOL2: return f(objqcol2);
      case OBJQCOEF: return f(objqcoef);
      case QROWIND: return f(qrowind);
      case NROWQCOEFS: return f(nrowqcoefs);
      case ROWQCOL1: return f(rowqcol1);
      case ROWQCOL2: return f(rowqcol2);
      case ROWQCOEF: return f(rowqcoef);
      case COLTYPE: return f(coltype);
      case ENTIND: return f(entind);
      case LIMIT: return f(limit);
      case SETTYPE: return f(settype);
      case SETSTART: return f(setstart);
      case SETIND: return f(setind);
      default: return f(refval);
    }
  }

  // The library reads each value of the arrays of rows, columns, the matrix, the quadratic
  // objective and the entities once and checks it again: those may stay the caller's buffers.
  int convert(problem_s *prob, int k, PyObject *o, bool noObj) {
    if (k == PROBNAME) return kpy_argString(prob, kwNames[k], o, &probname);
    const bool mayBorrow = sectionOf(k) != QROW && k < SETTYPE;
    return with(k, [&](auto &arg) { return arg.convert(prob, kwNames[k], o, noObj, mayBorrow); });
  }

  // Length of a given array, -1 when absent.
  template <typename K>
  long long len(int k, const ArrayArg<K> &v) const { return given[k] ? (long long)v.n : -1; }

  bool isBorrowed(int k) { return k != PROBNAME && with(k, [](auto &arg) { return arg.borrowed; }); }

  bool anyBorrowed() {
    for (int k = 0; k < NKW; ++k)
      if (isBorrowed(k)) return true;
    return false;
  }
};

// One count from its group of arrays; 32-bit counts are refused beyond 2^31-1.
int groupCount(const char *message, std::initializer_list<long long> sizes, std::initializer_list<int> kws,
               bool wide, long long *count) {
  if (kpy_groupCount(message, sizes.begin(), (int)sizes.size(), count) < 0) return -1;
  int unused;
  return (wide || *count <= 2147483647LL) ? 0 : kpy_count32(kwNames[*kws.begin()], (size_t)*count, &unused);
}

#define ARR(v) (v).p, (v).n

PyObject *loadMethod(PyObject *self, PyObject *args, PyObject *kwargs, unsigned sections) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    bool noObj = !kpy_isOriginalProb(prob);
    // keyword list and parse format of this member
    const char *kwlist[NKW + 1];
    int kwOf[NKW];
    char format[NKW + 2] = "|";
    int nkw = 0;
    for (int k = 0; k < NKW; k++)
      if (sectionOf(k) & sections) {
        kwOf[nkw] = k;
        kwlist[nkw++] = kwNames[k];
      }
    kwlist[nkw] = nullptr;
    for (int i = 0; i < nkw; i++) format[1 + i] = 'O';
    format[1 + nkw] = 0;
    PyObject *o[NKW] = {};
    // a member's format consumes only its own pointers
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, (char **)kwlist, &o[0], &o[1], &o[2], &o[3], &o[4],
                                     &o[5], &o[6], &o[7], &o[8], &o[9], &o[10], &o[11], &o[12], &o[13], &o[14],
                                     &o[15], &o[16], &o[17], &o[18], &o[19], &o[20], &o[21], &o[22], &o[23],
                                     &o[24], &o[25]))
      return nullptr;

    LoadArgs a;
    for (int i = 0; i < nkw; i++) {
      if (!o[i] || o[i] == Py_None) continue;
      int k = kwOf[i];
      if (a.convert(prob, k, o[i], noObj) < 0) return nullptr;
      a.given[k] = true;
    }
    // Converting a later argument may have run Python code that changed an array borrowed before
    // it: the borrowed ones are taken again (checked anew, or converted) once nothing else runs.
    if (a.anyBorrowed())
      for (int i = 0; i < nkw; i++)
        if (o[i] && o[i] != Py_None && a.isBorrowed(kwOf[i]) && a.convert(prob, kwOf[i], o[i], noObj) < 0)
          return nullptr;

    long long nrows = 0, ncols = 0, nq = 0, nqrows = 0, nent = 0;
    if (groupCount("Arguments 'rowtype', 'rhs' and 'rng' must have the same length",
                   {a.len(ROWTYPE, a.rowtype), a.len(RHS, a.rhs), a.len(RNG, a.rng)}, {ROWTYPE}, false, &nrows) < 0 ||
        groupCount("Arguments 'objcoef', 'lb' and 'ub' must have the same length",
                   {a.len(OBJCOEF, a.objcoef), a.len(LB, a.lb), a.len(UB, a.ub)}, {OBJCOEF}, false, &ncols) < 0)
      return nullptr;
    if ((sections & QOBJ) &&
        groupCount("Arguments 'objqcol1', 'objqcol2' and 'objqcoef' must have the same length",
                   {a.len(OBJQCOL1, a.objqcol1), a.len(OBJQCOL2, a.objqcol2), a.len(OBJQCOEF, a.objqcoef)},
                   {OBJQCOL1}, true, &nq) < 0)
      return nullptr;
    if ((sections & QROW) &&
        groupCount("Arguments 'qrowind' and 'nrowqcoefs' must have the same length",
                   {a.len(QROWIND, a.qrowind), a.len(NROWQCOEFS, a.nrowqcoefs)}, {QROWIND}, false, &nqrows) < 0)
      return nullptr;
    if ((sections & ENT) &&
        groupCount("Arguments 'coltype', 'entind' and 'limit' must have the same length",
                   {a.len(COLTYPE, a.coltype), a.len(ENTIND, a.entind), a.len(LIMIT, a.limit)}, {COLTYPE}, false,
                   &nent) < 0)
      return nullptr;
    int nsets = 0;
    if (kpy_count32("settype", (size_t)a.settype.n, &nsets) < 0) return nullptr;

    const char *name = a.probname.c_str();
    int nc = (int)ncols, nr = (int)nrows, nqr = (int)nqrows, ne = (int)nent;
    // the argument groups of the sections, in the order every member passes them
#define LIN_ARGS                                                                                         \
  name, nc, nr, ARR(a.rowtype), ARR(a.rhs), ARR(a.rng), ARR(a.objcoef), ARR(a.start), ARR(a.collen), \
      ARR(a.rowind), ARR(a.rowcoef), ARR(a.lb), ARR(a.ub)
#define QOBJ_ARGS (int64_t)nq, ARR(a.objqcol1), ARR(a.objqcol2), ARR(a.objqcoef)
#define QROW_ARGS nqr, ARR(a.qrowind), ARR(a.nrowqcoefs), ARR(a.rowqcol1), ARR(a.rowqcol2), ARR(a.rowqcoef)
#define ENT_ARGS                                                                                   \
  ne, nsets, ARR(a.coltype), ARR(a.entind), ARR(a.limit), ARR(a.settype), ARR(a.setstart), ARR(a.setind), \
      ARR(a.refval)
    // Borrowed buffers are read without the interpreter lock, as NumPy's own operations read
    // them: the call's arguments keep the arrays (resizing them is refused), and the library
    // checks each value it takes again, so a buffer written meanwhile cannot spoil the store.
    int rc;
    switch (sections) {
      case LIN: rc = kpy_callSolverNoGIL(KRVXloadlp64_witharraysizes, prob, LIN_ARGS); break;
      case LIN | QOBJ: rc = kpy_callSolverNoGIL(KRVXloadqp64_witharraysizes, prob, LIN_ARGS, QOBJ_ARGS); break;
      case LIN | QOBJ | ENT:
        rc = kpy_callSolverNoGIL(KRVXloadmiqp64_witharraysizes, prob, LIN_ARGS, QOBJ_ARGS, ENT_ARGS);
        break;
      case LIN | ENT: rc = kpy_callSolverNoGIL(KRVXloadmip64_witharraysizes, prob, LIN_ARGS, ENT_ARGS); break;
      case LIN | QOBJ | QROW:
        rc = kpy_callSolverNoGIL(KRVXloadqcqp64_witharraysizes, prob, LIN_ARGS, QOBJ_ARGS, QROW_ARGS);
        break;
      default:
        rc = kpy_callSolverNoGIL(KRVXloadmiqcqp64_witharraysizes, prob, LIN_ARGS, QOBJ_ARGS, QROW_ARGS, ENT_ARGS);
        break;
    }
#undef LIN_ARGS
#undef QOBJ_ARGS
#undef QROW_ARGS
#undef ENT_ARGS
    a = LoadArgs();  // the converted arrays go before the model objects are made
    if (kpy_failedWithFollowUp(prob, rc, [&] { problem_afterReload(prob); })) return nullptr;
    Py_RETURN_NONE;
  });
}

}  // namespace

PyObject *kpy_problem_loadLP(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadMethod(self, args, kwargs, LIN);
}
PyObject *kpy_problem_loadQP(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadMethod(self, args, kwargs, LIN | QOBJ);
}
PyObject *kpy_problem_loadMIQP(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadMethod(self, args, kwargs, LIN | QOBJ | ENT);
}
PyObject *kpy_problem_loadMIP(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadMethod(self, args, kwargs, LIN | ENT);
}
PyObject *kpy_problem_loadQCQP(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadMethod(self, args, kwargs, LIN | QOBJ | QROW);
}
PyObject *kpy_problem_loadMIQCQP(PyObject *self, PyObject *args, PyObject *kwargs) {
  return loadMethod(self, args, kwargs, LIN | QOBJ | QROW | ENT);
}

PyObject *kpy_problem_readProb(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"filename", "flags", nullptr};
    PyObject *ofile = nullptr, *oflags = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O", (char **)kwlist, &ofile, &oflags)) return nullptr;
    std::string filename, flags;
    if (kpy_argString(prob, "filename", ofile, &filename, true) < 0 ||
        kpy_argString(prob, "flags", oflags, &flags) < 0)
      return nullptr;
    int rc = kpy_callSolverWithSigInt(KRVXreadprob, prob, filename.c_str(), flags.c_str());
    // a read that Ctrl-C stopped: the interpreter's SIGINT handler (KeyboardInterrupt) speaks first
    if (rc == KRVX_ERR_INTERRUPTED && PyErr_SetInterruptEx(SIGINT) == 0 && PyErr_CheckSignals() < 0) return nullptr;
    if (kpy_failedWithFollowUp(prob, rc, [&] { problem_afterReload(prob); })) return nullptr;
    Py_RETURN_NONE;
  });
}

// ---- help texts ----

#define LOAD_LINEAR_SIG "probname=\"\", rowtype=None, rhs=None, rng=None, objcoef=None, start=None, " \
  "collen=None, rowind=None, rowcoef=None, lb=None, ub=None"
#define LOAD_QOBJ_SIG ", objqcol1=None, objqcol2=None, objqcoef=None"
#define LOAD_QROW_SIG ", qrowind=None, nrowqcoefs=None, rowqcol1=None, rowqcol2=None, rowqcoef=None"
#define LOAD_ENT_SIG ", coltype=None, entind=None, limit=None, settype=None, setstart=None, setind=None, " \
  "refval=None"

#define LOAD_LINEAR_ARGS                                                                              \
  "    probname    Name of the problem (empty when absent).\n"                                         \
  "    rowtype     Row types, one character each: L less or equal, E equal, G greater or equal,\n"     \
  "                R range, N nonbinding (a str such as \"LLG\" is accepted).\n"                       \
  "    rhs         Right-hand side of each row; the upper bound of a range row.\n"                     \
  "    rng         Range of each range row (lower bound = rhs - abs(rng)); ignored for others.\n"      \
  "    objcoef     Objective coefficient of each column.\n"                                            \
  "    start       Offset in rowind/rowcoef of each column's first element: one entry more than\n"     \
  "                there are columns when collen is absent, one per column when it is given.\n"        \
  "    collen      Number of elements of each column.\n"                                               \
  "    rowind      Row of each matrix element (index, constraint object or row name).\n"              \
  "    rowcoef     Value of each matrix element.\n"                                                    \
  "    lb, ub      Lower and upper bound of each column (default 0 and infinity)."
#define LOAD_QOBJ_ARGS                                                                                \
  "\n    objqcol1    First column of each quadratic objective term.\n"                                 \
  "    objqcol2    Second column of each term.\n"                                                      \
  "    objqcoef    Coefficient of each term: the objective is c'x + 0.5 x'Qx, one triangle of Q given."
#define LOAD_QROW_ARGS                                                                                \
  "\n    qrowind     Rows that carry a quadratic matrix.\n"                                            \
  "    nrowqcoefs  Number of quadratic elements of each such row.\n"                                   \
  "    rowqcol1    First column of each quadratic row element, the rows' elements in turn.\n"          \
  "    rowqcol2    Second column of each element.\n"                                                   \
  "    rowqcoef    Coefficient of each element."
#define LOAD_ENT_ARGS                                                                                 \
  "\n    coltype     Type of each entity: B binary, I integer, P partial integer, S semi-continuous,\n" \
  "                R semi-continuous integer.\n"                                                       \
  "    entind      Column of each entity.\n"                                                           \
  "    limit       Integer limit of a partial integer column, lower bound of a semi-continuous one.\n" \
  "    settype     Type of each special ordered set: \"1\" or \"2\".\n"                                \
  "    setstart    Offset in setind/refval of each set's first member, plus one end entry.\n"          \
  "    setind      Member columns of the sets.\n"                                                      \
  "    refval      Reference value of each member."

#define LOAD_FURTHER                                                                                  \
  "Replaces the whole problem. Arrays describing the same items must have equal lengths. "             \
  "Every argument may be given by position or keyword; None means absent. Afterwards the "             \
  "problem's variables, constraints and SOS are new objects; objects taken from the problem "          \
  "before are deleted."

#define LOAD_RELATED "problem.loadLP, problem.loadQP, problem.loadMIP, problem.loadMIQP, problem.loadQCQP, " \
  "problem.loadMIQCQP, problem.readProb"

// The text of one of the array loaders: its name, purpose, argument list and argument texts.
#define LOAD_DOC(name, purpose, sig, args)                                                               \
  KPY_DOC(#name "($self, /, " sig ")", purpose, "Loading problems", "problem." #name "(" sig ")", args, \
          LOAD_FURTHER, LOAD_RELATED)

const char kpy_doc_loadLP[] =
    LOAD_DOC(loadLP, "Loads a linear problem given as arrays.",
             LOAD_LINEAR_SIG, LOAD_LINEAR_ARGS);

const char kpy_doc_loadQP[] =
    LOAD_DOC(loadQP, "Loads a problem with a quadratic objective given as arrays.",
             LOAD_LINEAR_SIG LOAD_QOBJ_SIG, LOAD_LINEAR_ARGS LOAD_QOBJ_ARGS);

const char kpy_doc_loadMIQP[] =
    LOAD_DOC(loadMIQP, "Loads a mixed-integer problem with a quadratic objective given as arrays.",
             LOAD_LINEAR_SIG LOAD_QOBJ_SIG LOAD_ENT_SIG, LOAD_LINEAR_ARGS LOAD_QOBJ_ARGS LOAD_ENT_ARGS);

const char kpy_doc_loadMIP[] =
    LOAD_DOC(loadMIP, "Loads a mixed-integer linear problem given as arrays.",
             LOAD_LINEAR_SIG LOAD_ENT_SIG, LOAD_LINEAR_ARGS LOAD_ENT_ARGS);

const char kpy_doc_loadQCQP[] =
    LOAD_DOC(loadQCQP, "Loads a problem with a quadratic objective and quadratic constraints given as arrays.",
             LOAD_LINEAR_SIG LOAD_QOBJ_SIG LOAD_QROW_SIG, LOAD_LINEAR_ARGS LOAD_QOBJ_ARGS LOAD_QROW_ARGS);

const char kpy_doc_loadMIQCQP[] =
    LOAD_DOC(loadMIQCQP, "Loads a mixed-integer problem with quadratic objective and constraints given as arrays.",
             LOAD_LINEAR_SIG LOAD_QOBJ_SIG LOAD_QROW_SIG LOAD_ENT_SIG,
             LOAD_LINEAR_ARGS LOAD_QOBJ_ARGS LOAD_QROW_ARGS LOAD_ENT_ARGS);

const char kpy_doc_readProb[] = KPY_DOC(
    "readProb($self, /, filename, flags=\"\")",
    "Reads a problem from an MPS or LP file, replacing the whole problem.",
    "Loading problems",
    "problem.readProb(filename, flags=\"\")",
    "    filename  Name of the file.\n"
    "    flags     l only the file with the .lp extension is searched for, v the name is used "
    "verbatim (no extension appended), z the file is compressed.",
    "Afterwards the problem's variables, constraints and SOS are new objects; objects taken from "
    "the problem before are deleted. A file that cannot be read raises korvex.SolverError.",
    LOAD_RELATED);
