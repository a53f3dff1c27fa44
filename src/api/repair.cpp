// Infeasibility repair: repairWeightedInfeas, repairWeightedInfeasBounds, repairInfeas.
#include "api/methods.h"

namespace {

int argChar(problem_s *prob, const char *argname, PyObject *obj, char *out) {
  return kpy_ObjToChar(prob, obj, out) < 0 ? kpy_argError(argname) : 0;
}

int argDouble(problem_s *prob, const char *argname, PyObject *obj, double *out) {
  return kpy_ObjToDouble(prob, obj, out) < 0 ? kpy_argError(argname) : 0;
}

// The two weighted methods: four (or, with limits, eight) arrays, then phase2, delta, flags.
PyObject *weightedRepair(PyObject *self, PyObject *args, PyObject *kwargs, bool limits) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    int64_t rows = 0, cols = 0;
    if (kpy_getIntAttrib64(prob, KRVX_ORIGINALROWS, &rows) < 0 || kpy_getIntAttrib64(prob, KRVX_ORIGINALCOLS, &cols) < 0)
      return nullptr;
    static const char *kw4[] = {"lepref", "gepref", "lbpref", "ubpref", "phase2", "delta", "flags", nullptr};
    static const char *kw8[] = {"lepref", "gepref", "lbpref", "ubpref", "lerelax", "gerelax", "lbrelax",
                                "ubrelax", "phase2", "delta", "flags", nullptr};
    PyObject *o[11] = {};
    const int narrays = limits ? 8 : 4;
    bool parsed = limits ? PyArg_ParseTupleAndKeywords(args, kwargs, "OOOOOOOOOOO", (char **)kw8, &o[0], &o[1], &o[2],
                                                       &o[3], &o[4], &o[5], &o[6], &o[7], &o[8], &o[9], &o[10])
                         : PyArg_ParseTupleAndKeywords(args, kwargs, "OOOOOOO", (char **)kw4, &o[0], &o[1], &o[2],
                                                       &o[3], &o[4], &o[5], &o[6]);
    if (!parsed) return nullptr;
    const char **kw = limits ? kw8 : kw4;
    std::vector<double> v[8];
    for (int k = 0; k < narrays; ++k)
      if (kpy_Iterable_to_vector<double>(prob, kw[k], &v[k], o[k]) < 0) return nullptr;
    char phase2 = 0;
    double delta = 0.0;
    std::string flags;
    if (argChar(prob, "phase2", o[narrays], &phase2) < 0 || argDouble(prob, "delta", o[narrays + 1], &delta) < 0 ||
        kpy_argString(prob, "flags", o[narrays + 2], &flags, true) < 0)
      return nullptr;
    int status = 0, rc;
    if (limits)
      rc = kpy_callSolverWithSigInt(KRVXrepairweightedinfeasbounds_witharraysizes, prob, &status, KPY_ARR(v[0]),
                                    KPY_ARR(v[1]), KPY_ARR(v[2]), KPY_ARR(v[3]), KPY_ARR(v[4]), KPY_ARR(v[5]),
                                    KPY_ARR(v[6]), KPY_ARR(v[7]), phase2, delta, flags.c_str());
    else
      rc = kpy_callSolverWithSigInt(KRVXrepairweightedinfeas_witharraysizes, prob, &status, KPY_ARR(v[0]),
                                    KPY_ARR(v[1]), KPY_ARR(v[2]), KPY_ARR(v[3]), phase2, delta, flags.c_str());
    if (kpy_failed(prob, rc)) return nullptr;
    return PyLong_FromLong(status);
  });
}

}  // namespace

PyObject *kpy_problem_repairWeightedInfeas(PyObject *self, PyObject *args, PyObject *kwargs) {
  return weightedRepair(self, args, kwargs, false);
}

PyObject *kpy_problem_repairWeightedInfeasBounds(PyObject *self, PyObject *args, PyObject *kwargs) {
  return weightedRepair(self, args, kwargs, true);
}

PyObject *kpy_problem_repairInfeas(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"penalty", "phase2", "flags", "lepref", "gepref", "lbpref", "ubpref", "delta",
                                   nullptr};
    PyObject *o[8] = {};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOOOOOO", (char **)kwlist, &o[0], &o[1], &o[2], &o[3], &o[4],
                                     &o[5], &o[6], &o[7]))
      return nullptr;
    char c[3] = {};
    double d[5] = {};
    for (int k = 0; k < 3; ++k)
      if (argChar(prob, kwlist[k], o[k], &c[k]) < 0) return nullptr;
    for (int k = 0; k < 5; ++k)
      if (argDouble(prob, kwlist[3 + k], o[3 + k], &d[k]) < 0) return nullptr;
    int status = 0;
    int rc = kpy_callSolverWithSigInt(KRVXrepairinfeas, prob, &status, c[0], c[1], c[2], d[0], d[1], d[2], d[3], d[4]);
    if (kpy_failed(prob, rc)) return nullptr;
    return PyLong_FromLong(status);
  });
}

// ---- help texts ----

#define REPAIR_RELATED "problem.repairWeightedInfeas, problem.repairWeightedInfeasBounds, problem.repairInfeas, " \
  "problem.firstIIS"
#define REPAIR_PREF_ARRAYS                                                                                      \
  "    lepref   Preference per row for relaxing its less-or-equal side (L rows, upper side of E and R rows).\n" \
  "    gepref   Preference per row for relaxing its greater-or-equal side.\n"                                  \
  "    lbpref   Preference per column for relaxing its lower bound.\n"                                         \
  "    ubpref   Preference per column for relaxing its upper bound.\n"
#define REPAIR_TAIL_ARGS                                                                                        \
  "    phase2   o optimise the original objective in its sense, x maximise it, n minimise it, f skip the "     \
  "second phase, i compute an IIS when the relaxation is infeasible, a all IISs then.\n"                        \
  "    delta    The second phase keeps the weighted violation within (1 + delta) times the first phase's "    \
  "(a negative delta: within that value plus abs(delta)).\n"
#define REPAIR_FURTHER                                                                                          \
  "A preference p > 0 costs 1/p per unit of violation, p < 0 1/abs(p) times its square, 0 leaves the "          \
  "item unrelaxed; preferences are finite. Each array is empty (nothing relaxed) or has one entry per "         \
  "row or column. Returns 0 relaxed optimum, 1 relaxation infeasible, 2 relaxation unbounded, 3 second "        \
  "phase not optimal (when stopped, the solve status is STOPPED with its stop status), 4 error, 5 "             \
  "numerical trouble, 6 IIS asked for but the relaxation is feasible. The repaired solution becomes the "       \
  "problem's solution, and the attribute penaltyvalue holds its weighted violation; the problem itself "        \
  "is unchanged. Ctrl-C and problem.interrupt stop the repair."

const char kpy_doc_repairWeightedInfeas[] = KPY_DOC(
    "repairWeightedInfeas($self, /, lepref, gepref, lbpref, ubpref, phase2, delta, flags)",
    "Relaxes rows and bounds of an infeasible problem by preference and finds a least violating solution.",
    "Infeasibility analysis",
    "status = problem.repairWeightedInfeas(lepref, gepref, lbpref, ubpref, phase2, delta, flags)",
    REPAIR_PREF_ARRAYS REPAIR_TAIL_ARGS "    flags    Algorithm letters of the solves (b, p, d, n); blanks are ignored.",
    REPAIR_FURTHER,
    REPAIR_RELATED);

const char kpy_doc_repairWeightedInfeasBounds[] = KPY_DOC(
    "repairWeightedInfeasBounds($self, /, lepref, gepref, lbpref, ubpref, lerelax, gerelax, lbrelax, ubrelax, "
    "phase2, delta, flags)",
    "Relaxes rows and bounds of an infeasible problem by preference, each by at most a limit, and finds a least "
    "violating solution.",
    "Infeasibility analysis",
    "status = problem.repairWeightedInfeasBounds(lepref, gepref, lbpref, ubpref, lerelax, gerelax, lbrelax, "
    "ubrelax, phase2, delta, flags)",
    REPAIR_PREF_ARRAYS
    "    lerelax, gerelax, lbrelax, ubrelax  Upper limits of each relaxation (values > 0 apply).\n"
    REPAIR_TAIL_ARGS "    flags    Algorithm letters of the solves (b, p, d, n); blanks are ignored.",
    REPAIR_FURTHER,
    REPAIR_RELATED);

const char kpy_doc_repairInfeas[] = KPY_DOC(
    "repairInfeas($self, /, penalty, phase2, flags, lepref, gepref, lbpref, ubpref, delta)",
    "Relaxes all rows and bounds of an infeasible problem with one preference per kind and finds a least "
    "violating solution.",
    "Infeasibility analysis",
    "status = problem.repairInfeas(penalty, phase2, flags, lepref, gepref, lbpref, ubpref, delta)",
    "    penalty  c the penalty is the reciprocal of the preference, s the same in the scaled problem.\n"
    "    phase2   As for repairWeightedInfeas.\n"
    "    flags    One algorithm letter (b, p, d, n), or a blank for none.\n"
    "    lepref, gepref, lbpref, ubpref  Preference for every less-or-equal side, greater-or-equal side, lower "
    "and upper bound.\n"
    REPAIR_TAIL_ARGS,
    REPAIR_FURTHER,
    REPAIR_RELATED);
