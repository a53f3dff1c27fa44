// The method table that start-up appends to korvex.problem.
#include "api/methods.h"

// Methods run under the problem's ProblemLock: KPY_SOLVE and KPY_SOLVE0 for the long runs whose
// Python code on solver threads may call into the problem (solves, tuning, IIS searches, repairs),
// KPY_FREE without it (interrupt).
#define KPY_M(name) \
  {#name, (PyCFunction)(void (*)(void))kpy_serialised<kpy_problem_##name>, METH_VARARGS | METH_KEYWORDS, kpy_doc_##name}
#define KPY_M0(name) {#name, (PyCFunction)kpy_serialised1<kpy_problem_##name>, METH_NOARGS, kpy_doc_##name}
#define KPY_SOLVE(name)                                                                                    \
  {#name, (PyCFunction)(void (*)(void))kpy_serialisedSolve<kpy_problem_##name>, METH_VARARGS | METH_KEYWORDS, \
   kpy_doc_##name}
#define KPY_SOLVE0(name) {#name, (PyCFunction)kpy_serialisedSolve1<kpy_problem_##name>, METH_NOARGS, kpy_doc_##name}
#define KPY_FREE(name) \
  {#name, (PyCFunction)(void (*)(void))kpy_problem_##name, METH_VARARGS | METH_KEYWORDS, kpy_doc_##name}

PyMethodDef kpy_problem_api_methods[] = {
    // solving and tuning
    KPY_SOLVE(lpOptimize),
    KPY_SOLVE(mipOptimize),
    KPY_SOLVE(optimize),
    {"solve", (PyCFunction)(void (*)(void))kpy_serialisedSolve<kpy_problem_optimize>, METH_VARARGS | METH_KEYWORDS,
     kpy_doc_solve},
    KPY_SOLVE0(crossoverLpSol),
    KPY_SOLVE(tune),
    KPY_SOLVE(tuneProbSetFile),
    KPY_M(tunerWriteMethod),
    KPY_M(tunerReadMethod),
    KPY_FREE(interrupt),
    // settings, names and information
    KPY_M(setProbName),
    KPY_M(setLogFile),
    KPY_M(setDefaultControl),
    KPY_M0(setDefaults),
    KPY_M0(dumpControls),
    KPY_M(setMessageStatus),
    KPY_M(getMessageStatus),
    KPY_M0(getProbName),
    KPY_M(getControlInfo),
    KPY_M(getAttribInfo),
    KPY_M(getIndex),
    KPY_M(addNames),
    KPY_M(saveAs),
    {"save", (PyCFunction)(void (*)(void))kpy_serialised<kpy_problem_saveAs>, METH_VARARGS | METH_KEYWORDS,
     kpy_doc_save},
    KPY_M(restore),
    // loading and reading
    KPY_M(loadLP),
    KPY_M(loadQP),
    KPY_M(loadMIQP),
    KPY_M(loadMIP),
    KPY_M(loadQCQP),
    KPY_M(loadMIQCQP),
    KPY_M(readProb),
    // solution
    KPY_M(getSolution),
    // rows, columns and sets
    KPY_M(addRows),
    KPY_M(delRows),
    KPY_M(addCols),
    KPY_M(delCols),
    KPY_M(chgColType),
    KPY_M(addSets),
    KPY_M(delSets),
    // objectives and quadratic matrices
    KPY_M(chgObjSense),
    KPY_M(chgGlbLimit),
    KPY_M(addObj),
    KPY_M(chgObjN),
    KPY_M(delObj),
    KPY_M(addQMatrix),
    KPY_M(delQMatrix),
    KPY_M(getQObj),
    // cuts, entity fixing and scaling
    KPY_M(fixMIPEntities),
    KPY_M(loadModelCuts),
    KPY_M(loadDelayedRows),
    KPY_M(scale),
    KPY_M0(getScale),
    // indicator, piecewise-linear and general constraints
    KPY_M(setIndicators),
    KPY_M(getIndicators),
    KPY_M(delIndicators),
    KPY_M(addPwlCons),
    KPY_M(getPwlCons),
    KPY_M(delPwlCons),
    KPY_M(addGenCons),
    KPY_M(getGenCons),
    KPY_M(delGenCons),
    // sensitivity analysis and strong branching
    KPY_M(objSA),
    KPY_M(bndSA),
    KPY_M(rhsSA),
    KPY_M(estimateRowDualRanges),
    KPY_M(basisStability),
    KPY_M(strongBranch),
    // irreducible infeasible sets
    KPY_M0(clearIIS),
    KPY_SOLVE(firstIIS),
    KPY_SOLVE0(nextIIS),
    KPY_SOLVE0(IISAll),
    KPY_M(printIIS),
    KPY_M(IISIsolations),
    KPY_M(writeIIS),
    KPY_M0(IISStatus),
    KPY_M(getIISData),
    // infeasibility repair
    KPY_SOLVE(repairWeightedInfeas),
    KPY_SOLVE(repairWeightedInfeasBounds),
    KPY_SOLVE(repairInfeas),
    // branching directives
    KPY_M(loadDirs),
    KPY_M(loadPresolveDirs),
    KPY_M(loadBranchDirs),
    KPY_M(readDirs),
    KPY_M(writeDirs),
    KPY_M0(getDirs),
    // solution and basis input
    KPY_M(readSlxSol),
    KPY_M(readBasis),
    KPY_M(readBinSol),
    KPY_M(loadBasis),
    KPY_M(loadPresolveBasis),
    KPY_M(loadSecureVecs),
    KPY_M(loadLPSol),
    KPY_M0(postSolve),
    KPY_M(pivot),
    // infeasibilities, unboundedness and barrier solutions
    KPY_M0(getInfeas),
    KPY_M0(getScaledInfeas),
    KPY_M0(getUnbVec),
    KPY_M0(getLastBarSol),
    KPY_M0(getPivotOrder),
    KPY_M0(getPresolveMap),
    {nullptr, nullptr, 0, nullptr}};
