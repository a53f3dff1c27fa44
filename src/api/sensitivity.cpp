// Sensitivity analysis and strong branching: objSA, bndSA, rhsSA, estimateRowDualRanges,
// basisStability, strongBranch.
#include "api/methods.h"

namespace {

using RangeFn = int (*)(KRVXprob, int, const int *, int64_t, double *, int64_t, double *, int64_t);

// The index argument of a ranging method: parsed alone or before further arguments, converted
// as columns or rows (objects and names only on the original problem).
template <typename Kind>
int indexArgument(problem_s *prob, PyObject *obj, const char *argname, std::vector<int> *ind, int *n) {
  if (kpy_Iterable_to_vector<Kind>(prob, argname, ind, obj, !kpy_isOriginalProb(prob)) < 0) return -1;
  return kpy_count32(argname, ind->size(), n);
}

// objSA and rhsSA: lower and upper limits per index.
template <typename Kind>
PyObject *limitsMethod(PyObject *self, PyObject *args, PyObject *kwargs, const char *argname, RangeFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    const char *kwlist[] = {argname, nullptr};
    PyObject *oind = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &oind)) return nullptr;
    std::vector<int> ind;
    int n = 0;
    if (indexArgument<Kind>(prob, oind, argname, &ind, &n) < 0) return nullptr;
    std::vector<double> lower(ind.size()), upper(ind.size());
    if (kpy_failed(prob, kpy_callSolverNoGIL(fn, prob, n, KPY_ARR(ind), KPY_ARR(lower), KPY_ARR(upper))))
      return nullptr;
    return kpy_tupleOf({kpy_listOf(lower), kpy_listOf(upper)});
  });
}

}  // namespace

PyObject *kpy_problem_objSA(PyObject *self, PyObject *args, PyObject *kwargs) {
  return limitsMethod<kpy_colindex>(self, args, kwargs, "colind", KRVXobjsa_witharraysizes);
}

PyObject *kpy_problem_rhsSA(PyObject *self, PyObject *args, PyObject *kwargs) {
  return limitsMethod<kpy_rowindex>(self, args, kwargs, "rowind", KRVXrhssa_witharraysizes);
}

PyObject *kpy_problem_bndSA(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"colind", nullptr};
    PyObject *ocol = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O", (char **)kwlist, &ocol)) return nullptr;
    std::vector<int> colind;
    int n = 0;
    if (indexArgument<kpy_colindex>(prob, ocol, "colind", &colind, &n) < 0) return nullptr;
    const size_t sz = colind.size();
    std::vector<double> lblower(sz), lbupper(sz), ublower(sz), ubupper(sz);
    int rc = kpy_callSolverNoGIL(KRVXbndsa_witharraysizes, prob, n, KPY_ARR(colind), KPY_ARR(lblower),
                                 KPY_ARR(lbupper), KPY_ARR(ublower), KPY_ARR(ubupper));
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({kpy_listOf(lblower), kpy_listOf(lbupper), kpy_listOf(ublower), kpy_listOf(ubupper)});
  });
}

PyObject *kpy_problem_estimateRowDualRanges(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"rowind", "iterlim", nullptr};
    PyObject *orow = nullptr, *oiter = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO", (char **)kwlist, &orow, &oiter)) return nullptr;
    std::vector<int> rowind;
    int n = 0, iterlim = 0;
    if (indexArgument<kpy_rowindex>(prob, orow, "rowind", &rowind, &n) < 0 ||
        kpy_argInt(prob, "iterlim", oiter, &iterlim, true) < 0)
      return nullptr;
    std::vector<double> mindual(rowind.size()), maxdual(rowind.size());
    int rc = kpy_callSolverNoGIL(KRVXestimaterowdualranges_witharraysizes, prob, n, KPY_ARR(rowind), iterlim,
                                 KPY_ARR(mindual), KPY_ARR(maxdual));
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({kpy_listOf(mindual), kpy_listOf(maxdual)});
  });
}

PyObject *kpy_problem_basisStability(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"type", "norm", "scaled", nullptr};
    PyObject *otype = nullptr, *onorm = nullptr, *oscaled = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO", (char **)kwlist, &otype, &onorm, &oscaled))
      return nullptr;
    int type = 0, norm = 0, scaled = 0;
    if (kpy_argInt(prob, "type", otype, &type, true) < 0 || kpy_argInt(prob, "norm", onorm, &norm, true) < 0 ||
        kpy_argInt(prob, "scaled", oscaled, &scaled, true) < 0)
      return nullptr;
    double value = 0.0;
    if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXbasisstability, prob, type, norm, scaled, &value))) return nullptr;
    return PyFloat_FromDouble(value);
  });
}

PyObject *kpy_problem_strongBranch(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    static const char *kwlist[] = {"colind", "bndtype", "bndval", "iterlim", nullptr};
    PyObject *ocol = nullptr, *otype = nullptr, *oval = nullptr, *oiter = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO", (char **)kwlist, &ocol, &otype, &oval, &oiter))
      return nullptr;
    std::vector<int> colind;
    std::vector<char> bndtype;
    std::vector<double> bndval;
    int n = 0, iterlim = 0;
    if (indexArgument<kpy_colindex>(prob, ocol, "colind", &colind, &n) < 0 ||
        kpy_Iterable_to_vector<char>(prob, "bndtype", &bndtype, otype) < 0 ||
        kpy_Iterable_to_vector<double>(prob, "bndval", &bndval, oval) < 0 ||
        kpy_argInt(prob, "iterlim", oiter, &iterlim, true) < 0)
      return nullptr;
    const long long sizes[] = {(long long)colind.size(), (long long)bndtype.size(), (long long)bndval.size()};
    long long count = 0;
    if (kpy_groupCount("Arguments 'colind', 'bndtype' and 'bndval' must have the same length", sizes, 3, &count) < 0)
      return nullptr;
    std::vector<double> objval(colind.size());
    std::vector<int> status(colind.size());
    int rc = kpy_callSolverNoGIL(KRVXstrongbranch_witharraysizes, prob, n, KPY_ARR(colind), KPY_ARR(bndtype),
                                 KPY_ARR(bndval), iterlim, KPY_ARR(objval), KPY_ARR(status));
    if (kpy_failed(prob, rc)) return nullptr;
    return kpy_tupleOf({kpy_listOf(objval), kpy_listOf(status)});
  });
}

// ---- help texts ----

#define SA_RELATED "problem.objSA, problem.bndSA, problem.rhsSA, problem.estimateRowDualRanges, " \
  "problem.basisStability, problem.strongBranch, problem.lpOptimize"
#define SA_STOPS                                                                                       \
  "The TIMELIMIT control (from the start of the call) and problem.interrupt stop the call; Ctrl-C does " \
  "not (it raises KeyboardInterrupt when the call returns). "
#define SA_NEEDS                                                                                   \
  "Needs the optimal basis of an LP solve, with the problem unchanged since; MIPs, problems with " \
  "quadratic or nonlinear parts, several objectives, sets, indicator, piecewise-linear or general " \
  "constraints are refused with korvex.SolverError naming the reason. Nothing of the problem changes."

const char kpy_doc_objSA[] = KPY_DOC(
    "objSA($self, /, colind)",
    "Returns the ranges of objective coefficients within which the optimal basis stays optimal.",
    "Sensitivity analysis",
    "lower, upper = problem.objSA(colind)",
    "    colind  Columns (indices, variables or column names).",
    "For each column, the lowest and highest value of its objective coefficient (the others "
    "unchanged) for which the basis stays optimal and the reduced costs valid; 1e20 or -1e20 when "
    "unlimited, and for the columns not ranged when the call was stopped. " SA_STOPS SA_NEEDS,
    SA_RELATED);

const char kpy_doc_bndSA[] = KPY_DOC(
    "bndSA($self, /, colind)",
    "Returns the ranges of column bounds within which the optimal basis stays optimal and feasible.",
    "Sensitivity analysis",
    "lblower, lbupper, ublower, ubupper = problem.bndSA(colind)",
    "    colind  Columns (indices, variables or column names).",
    "For each column, the lowest and highest value of its lower bound (lblower, lbupper) and of "
    "its upper bound (ublower, ubupper), each moved alone, for which the basis stays optimal and "
    "feasible; 1e20 or -1e20 when unlimited, and for the columns not ranged when the call was stopped. "
    SA_STOPS SA_NEEDS,
    SA_RELATED);

const char kpy_doc_rhsSA[] = KPY_DOC(
    "rhsSA($self, /, rowind)",
    "Returns the ranges of right-hand sides within which the optimal basis stays optimal and feasible.",
    "Sensitivity analysis",
    "lower, upper = problem.rhsSA(rowind)",
    "    rowind  Rows (indices, constraints or row names).",
    "For each row, the lowest and highest value of its right-hand side for which the basis stays "
    "optimal and feasible; 1e20 or -1e20 when unlimited, and for the rows not ranged when the call was "
    "stopped. A range row keeps its width (both of its ends move); a free row has no limits. " SA_STOPS
    SA_NEEDS,
    SA_RELATED);

const char kpy_doc_estimateRowDualRanges[] = KPY_DOC(
    "estimateRowDualRanges($self, /, rowind, iterlim)",
    "Returns lower and upper bounds of row duals over the range of each row's right-hand side.",
    "Sensitivity analysis",
    "mindual, maxdual = problem.estimateRowDualRanges(rowind, iterlim)",
    "    rowind   Rows (indices, constraints or row names).\n"
    "    iterlim  Simplex iterations allowed per row (0 or more).",
    "For each row, the smallest and largest dual the row takes as its right-hand side runs (the "
    "rest of the problem fixed) through the values strictly inside the interval for which the "
    "problem stays feasible (at an end of that interval the dual is not unique). From the optimal "
    "basis the right-hand side is moved past each limit of the current basis, in both directions, "
    "and re-solved by the dual simplex method, with at most iterlim iterations per row in all; a "
    "direction not finished within them, or before the call was stopped, gives 1e20 or -1e20 on its "
    "side, so the bounds always hold and become exact with enough iterations. " SA_STOPS SA_NEEDS,
    SA_RELATED);

const char kpy_doc_basisStability[] = KPY_DOC(
    "basisStability($self, /, type, norm, scaled)",
    "Returns a measure of the numerical stability of the optimal basis.",
    "Sensitivity analysis",
    "value = problem.basisStability(type, norm, scaled)",
    "    type    0 condition number of the basis matrix; 1 stability of the solution, 2 of the\n"
    "            duals, 3 of the right-hand side, 4 of the basic part of the objective.\n"
    "    norm    0 infinity norm, 1 one-norm, 2 Euclidean norm (Frobenius norm for matrices).\n"
    "    scaled  Non-zero to measure in the problem scaled by its scaling factors (problem.scale).",
    "Type 0 is the norm of the basis matrix times an estimate of the norm of its inverse (exact "
    "for the Euclidean choice and for bases of up to 8 rows, otherwise a lower estimate from "
    "solves with the basis and its transpose). Types 1 to 4 give the norm of the difference between "
    "the vector recomputed from the matrix and the basis (basic values from the nonbasic ones, duals "
    "from the basic costs, row activities from the column values, basic costs from the duals) and "
    "the vector held in the solution. " SA_NEEDS,
    SA_RELATED);

const char kpy_doc_strongBranch[] = KPY_DOC(
    "strongBranch($self, /, colind, bndtype, bndval, iterlim)",
    "Returns the objective and LP status of candidate bound changes after a few dual simplex iterations.",
    "Sensitivity analysis",
    "objval, status = problem.strongBranch(colind, bndtype, bndval, iterlim)",
    "    colind   Columns of the candidates (indices, variables or column names).\n"
    "    bndtype  One character per candidate: 'U' changes the upper bound, 'L' the lower\n"
    "             bound, 'B' both (fixes the column).\n"
    "    bndval   The new bound of each candidate.\n"
    "    iterlim  Dual simplex iterations allowed per candidate.",
    "Each candidate is solved from the optimal basis on a copy of the problem; the problem, its "
    "basis and solution stay as they were. status holds LP status values as ints: 1 optimal, 2 "
    "infeasible (objval 1e20 when minimising, -1e20 when maximising), 4 the iteration limit was "
    "reached or the call was stopped first (objval is then the objective of the last basis, a bound on "
    "the candidate's optimum; for candidates not reached the optimum of the basis), 5 unbounded. "
    SA_STOPS SA_NEEDS,
    SA_RELATED);
