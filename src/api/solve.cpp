// Solving and tuning methods.
#include "api/methods.h"

PyObject *kpy_problem_lpOptimize(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "flags", false, true, KRVXlpoptimize);
}

PyObject *kpy_problem_mipOptimize(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "flags", false, true, KRVXmipoptimize);
}

PyObject *kpy_problem_tune(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "flags", false, true, KRVXtune);
}

PyObject *kpy_problem_tunerWriteMethod(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "methodfile", true, false, KRVXtunerwritemethod);
}

PyObject *kpy_problem_tunerReadMethod(PyObject *self, PyObject *args, PyObject *kwargs) {
  return kpy_stringMethod(self, args, kwargs, "methodfile", true, false, KRVXtunerreadmethod);
}

PyObject *kpy_problem_optimize(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"flags", nullptr};
    PyObject *oflags = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O", (char **)kwlist, &oflags)) return nullptr;
    std::string flags;
    if (kpy_argString(prob, "flags", oflags, &flags) < 0) return nullptr;
    int solvestatus = 0, solstatus = 0;
    int rc = kpy_callSolverWithSigInt(KRVXoptimize, prob, flags.c_str(), &solvestatus, &solstatus);
    if (kpy_failed(prob, rc)) return nullptr;
    nb::object a = nb::steal(kpy_getEnumValue("SolveStatus", PyLong_FromLong(solvestatus)));
    if (!a) return nullptr;
    nb::object b = nb::steal(kpy_getEnumValue("SolStatus", PyLong_FromLong(solstatus)));
    if (!b) return nullptr;
    return PyTuple_Pack(2, a.ptr(), b.ptr());
  });
}

PyObject *kpy_problem_crossoverLpSol(PyObject *self, PyObject *) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int status = 0;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXcrossoverlpsol, prob, &status))) return nullptr;
    return PyLong_FromLong(status);
  });
}

PyObject *kpy_problem_tuneProbSetFile(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"setfile", "ifmip", "sense", nullptr};
    PyObject *ofile = nullptr, *oifmip = nullptr, *osense = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO", (char **)kwlist, &ofile, &oifmip, &osense))
      return nullptr;
    std::string setfile;
    int ifmip = -1, sense = 0;
    if (kpy_argString(prob, "setfile", ofile, &setfile, true) < 0 ||
        kpy_argInt(prob, "ifmip", oifmip, &ifmip) < 0 || kpy_argInt(prob, "sense", osense, &sense) < 0)
      return nullptr;
    int rc = kpy_callSolverWithSigInt(KRVXtuneprobsetfile, prob, setfile.c_str(), ifmip, sense);
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_problem_interrupt(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"reason", nullptr};
    PyObject *oreason = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O", (char **)kwlist, &oreason)) return nullptr;
    int reason = KRVX_STOP_USER;
    if (kpy_argInt(prob, "reason", oreason, &reason) < 0) return nullptr;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXinterrupt, prob, reason))) return nullptr;
    Py_RETURN_NONE;
  });
}

// ---- help texts ----

#define FLAGS_OPT_ARGS(letters) "    flags  Flags (a str, empty by default) passed to the solver: " letters "."

const char kpy_doc_lpOptimize[] = KPY_DOC(
    "lpOptimize($self, /, flags=\"\")",
    "Solves the problem as a linear problem; on a problem with integer or other discrete columns "
    "the continuous relaxation is solved.",
    "Solving",
    "problem.lpOptimize(flags=\"\")",
    FLAGS_OPT_ARGS("empty for the default algorithm; b barrier, p primal simplex, d dual simplex, "
                   "n network simplex for the network part"),
    "The interpreter lock is released during the solve, and Ctrl-C interrupts it. A failure "
    "raises korvex.SolverError; an exception raised in a callback is raised instead.",
    "problem.mipOptimize, problem.optimize, problem.interrupt");

const char kpy_doc_mipOptimize[] = KPY_DOC(
    "mipOptimize($self, /, flags=\"\")",
    "Solves the problem as a mixed-integer problem.",
    "Solving",
    "problem.mipOptimize(flags=\"\")",
    FLAGS_OPT_ARGS("the algorithm letters of lpOptimize for the initial continuous relaxation, "
                   "and l to stop after that relaxation"),
    "The interpreter lock is released during the solve, and Ctrl-C interrupts it.",
    "problem.lpOptimize, problem.optimize, problem.interrupt");

#define OPTIMIZE_DOC(name)                                                                      \
  KPY_DOC(name "($self, /, flags=\"\")",                                                       \
          "Solves the problem, choosing the method by its content, and returns the solve "      \
          "status and the solution status.",                                                    \
          "Solving",                                                                            \
          "solvestatus, solstatus = problem." name "(flags=\"\")",                               \
          FLAGS_OPT_ARGS("s solve to local optimality, x solve to global optimality, l stop "  \
                         "after the root node; the algorithm letters of lpOptimize"),           \
          "The statuses are members of korvex.SolveStatus and korvex.SolStatus. A problem "     \
          "that has no solution still returns its statuses; only a failure of the call raises " \
          "korvex.SolverError. With x the problem is solved by SCIP (the pyscipopt package) "   \
          "to proven global optimality within miprelstop and mipabsstop, bestbound being a "    \
          "proven bound; formulas calling user functions, tan, asin, acos, atan, erf or erfc, " \
          "and several objectives, are refused. Without x, problems with nonlinear "           \
          "content are solved to local optimality. The interpreter lock is released during "   \
          "the solve, and Ctrl-C interrupts it.",                                               \
          "problem.lpOptimize, problem.mipOptimize, problem.getSolution")

const char kpy_doc_optimize[] = OPTIMIZE_DOC("optimize");
const char kpy_doc_solve[] = OPTIMIZE_DOC("solve");

const char kpy_doc_crossoverLpSol[] = KPY_DOC(
    "crossoverLpSol($self, /)",
    "Runs crossover from the problem's current solution to a basic solution.",
    "Solving",
    "status = problem.crossoverLpSol()",
    "    none",
    "Returns 0 when crossover was done, 1 when it was not done because the problem has no "
    "solution.",
    "problem.lpOptimize");

const char kpy_doc_tune[] = KPY_DOC(
    "tune($self, /, flags=\"\")",
    "Tunes the controls of the problem by trial solves and keeps the best setting.",
    "Tuning",
    "problem.tune(flags=\"\")",
    FLAGS_OPT_ARGS("l tune as an LP, g tune as a MIP (l and g exclude each other), x tune as a "
                   "global optimisation problem, d, p, b, n the algorithm for the LP or the "
                   "initial relaxation"),
    "Ctrl-C interrupts the tuner.",
    "problem.tuneProbSetFile, problem.tunerWriteMethod, problem.tunerReadMethod");

const char kpy_doc_tuneProbSetFile[] = KPY_DOC(
    "tuneProbSetFile($self, /, setfile, ifmip=-1, sense=0)",
    "Tunes the controls over a set of problems listed in a file.",
    "Tuning",
    "problem.tuneProbSetFile(setfile, ifmip=-1, sense=0)",
    "    setfile  Text file listing one problem file per line.\n"
    "    ifmip    -1 decides per problem, 0 tunes as LP, 1 as MIP.\n"
    "    sense    0 automatic, 1 minimise, -1 maximise.",
    "The best setting found is kept in this problem's controls.",
    "problem.tune, problem.tunerWriteMethod");

const char kpy_doc_tunerWriteMethod[] = KPY_DOC(
    "tunerWriteMethod($self, /, methodfile)",
    "Writes the current tuner method to a file.",
    "Tuning",
    "problem.tunerWriteMethod(methodfile)",
    "    methodfile  File to write; \"stdout\" or \"STDOUT\" prints the method instead.",
    "The file can be read back with tunerReadMethod.",
    "problem.tunerReadMethod, problem.tune");

const char kpy_doc_tunerReadMethod[] = KPY_DOC(
    "tunerReadMethod($self, /, methodfile)",
    "Reads a tuner method from a file.",
    "Tuning",
    "problem.tunerReadMethod(methodfile)",
    "    methodfile  File written by tunerWriteMethod.",
    "The method read is used by later calls of tune and tuneProbSetFile.",
    "problem.tunerWriteMethod, problem.tune");

const char kpy_doc_interrupt[] = KPY_DOC(
    "interrupt($self, /, reason=9)",
    "Asks a running solve of the problem to stop.",
    "Solving",
    "problem.interrupt(reason=9)",
    "    reason  A member of korvex.StopType (9, its USER member, by default) or a value of 1000 "
    "or more chosen by the program; other values below 1000 are reserved.",
    "May be called from another thread or from a callback; the solve then ends with the solve "
    "status STOPPED.",
    "problem.optimize, problem.mipOptimize");

// ---- module functions ----

// Benchmarks only: the hand-over of a problem to the solver, timed without a solve.
static PyObject *korvexmod_lowerForBenchmark(PyObject *, PyObject *arg) {
  if (!PyObject_TypeCheck(arg, &kpy_problemType)) {
    PyErr_SetString(PyExc_TypeError, "_lowerForBenchmark takes a problem");
    return nullptr;
  }
  problem_s *prob = kpy_prob(arg);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXlowerforbenchmark, prob))) return nullptr;
    Py_RETURN_NONE;
  });
}

static PyMethodDef kpy_api_module_methods[] = {
    {"_lowerForBenchmark", korvexmod_lowerForBenchmark, METH_O,
     "Benchmarks only: hands the problem to the solver as a solve would, without solving."},
    {nullptr, nullptr, 0, nullptr},
};

int kpy_api_module_init(PyObject *module) { return PyModule_AddFunctions(module, kpy_api_module_methods); }
