// The camelCase methods of korvex.problem that src/api provides, and their help texts.
#pragma once
#include "api/arguments.h"

#include <initializer_list>

// Help text in the fixed layout; sig is the text signature ("name($self, /, arg=default)").
#define KPY_DOC(sig, purpose, topics, synopsis, arguments, further, related)                 \
  sig "\n--\n\nPurpose:\n    " purpose "\n\nTopic areas:\n    " topics "\n\nSynopsis:\n    " \
      synopsis "\n\nArguments:\n" arguments "\n\nFurther information:\n    " further           \
      "\n\nRelated topics:\n    " related "\n"

#define KPY_DECLARE_METHOD(name)                                                     \
  PyObject *kpy_problem_##name(PyObject *self, PyObject *args, PyObject *kwargs); \
  extern const char kpy_doc_##name[];
#define KPY_DECLARE_METHOD_NOARGS(name)                           \
  PyObject *kpy_problem_##name(PyObject *self, PyObject *unused); \
  extern const char kpy_doc_##name[];

// solving and tuning
KPY_DECLARE_METHOD(lpOptimize)
KPY_DECLARE_METHOD(mipOptimize)
KPY_DECLARE_METHOD(optimize)
KPY_DECLARE_METHOD_NOARGS(crossoverLpSol)
KPY_DECLARE_METHOD(tune)
KPY_DECLARE_METHOD(tuneProbSetFile)
KPY_DECLARE_METHOD(tunerWriteMethod)
KPY_DECLARE_METHOD(tunerReadMethod)
KPY_DECLARE_METHOD(interrupt)
// settings, names and information
KPY_DECLARE_METHOD(setProbName)
KPY_DECLARE_METHOD(setLogFile)
KPY_DECLARE_METHOD(setDefaultControl)
KPY_DECLARE_METHOD_NOARGS(setDefaults)
KPY_DECLARE_METHOD_NOARGS(dumpControls)
KPY_DECLARE_METHOD(setMessageStatus)
KPY_DECLARE_METHOD(getMessageStatus)
KPY_DECLARE_METHOD_NOARGS(getProbName)
KPY_DECLARE_METHOD(getControlInfo)
KPY_DECLARE_METHOD(getAttribInfo)
KPY_DECLARE_METHOD(getIndex)
KPY_DECLARE_METHOD(addNames)
KPY_DECLARE_METHOD(saveAs)
KPY_DECLARE_METHOD(restore)
// loading and reading
KPY_DECLARE_METHOD(loadLP)
KPY_DECLARE_METHOD(loadQP)
KPY_DECLARE_METHOD(loadMIQP)
KPY_DECLARE_METHOD(loadMIP)
KPY_DECLARE_METHOD(loadQCQP)
KPY_DECLARE_METHOD(loadMIQCQP)
KPY_DECLARE_METHOD(readProb)
// solution
KPY_DECLARE_METHOD(getSolution)
// rows, columns and sets
KPY_DECLARE_METHOD(addRows)
KPY_DECLARE_METHOD(delRows)
KPY_DECLARE_METHOD(addCols)
KPY_DECLARE_METHOD(delCols)
KPY_DECLARE_METHOD(chgColType)
KPY_DECLARE_METHOD(addSets)
KPY_DECLARE_METHOD(delSets)
// objectives and quadratic matrices
KPY_DECLARE_METHOD(chgObjSense)
KPY_DECLARE_METHOD(chgGlbLimit)
KPY_DECLARE_METHOD(addObj)
KPY_DECLARE_METHOD(chgObjN)
KPY_DECLARE_METHOD(delObj)
KPY_DECLARE_METHOD(addQMatrix)
KPY_DECLARE_METHOD(delQMatrix)
KPY_DECLARE_METHOD(getQObj)
// cuts, entity fixing and scaling
KPY_DECLARE_METHOD(fixMIPEntities)
KPY_DECLARE_METHOD(loadModelCuts)
KPY_DECLARE_METHOD(loadDelayedRows)
KPY_DECLARE_METHOD(scale)
KPY_DECLARE_METHOD_NOARGS(getScale)
// indicator, piecewise-linear and general constraints
KPY_DECLARE_METHOD(setIndicators)
KPY_DECLARE_METHOD(getIndicators)
KPY_DECLARE_METHOD(delIndicators)
KPY_DECLARE_METHOD(addPwlCons)
KPY_DECLARE_METHOD(getPwlCons)
KPY_DECLARE_METHOD(delPwlCons)
KPY_DECLARE_METHOD(addGenCons)
KPY_DECLARE_METHOD(getGenCons)
KPY_DECLARE_METHOD(delGenCons)
// sensitivity analysis and strong branching
KPY_DECLARE_METHOD(objSA)
KPY_DECLARE_METHOD(bndSA)
KPY_DECLARE_METHOD(rhsSA)
KPY_DECLARE_METHOD(estimateRowDualRanges)
KPY_DECLARE_METHOD(basisStability)
KPY_DECLARE_METHOD(strongBranch)
// irreducible infeasible sets
KPY_DECLARE_METHOD_NOARGS(clearIIS)
KPY_DECLARE_METHOD(firstIIS)
KPY_DECLARE_METHOD_NOARGS(nextIIS)
KPY_DECLARE_METHOD_NOARGS(IISAll)
KPY_DECLARE_METHOD(printIIS)
KPY_DECLARE_METHOD(IISIsolations)
KPY_DECLARE_METHOD(writeIIS)
KPY_DECLARE_METHOD_NOARGS(IISStatus)
KPY_DECLARE_METHOD(getIISData)
// infeasibility repair
KPY_DECLARE_METHOD(repairWeightedInfeas)
KPY_DECLARE_METHOD(repairWeightedInfeasBounds)
KPY_DECLARE_METHOD(repairInfeas)
// branching directives
KPY_DECLARE_METHOD(loadDirs)
KPY_DECLARE_METHOD(loadPresolveDirs)
KPY_DECLARE_METHOD(loadBranchDirs)
KPY_DECLARE_METHOD(readDirs)
KPY_DECLARE_METHOD(writeDirs)
KPY_DECLARE_METHOD_NOARGS(getDirs)
// solution and basis input
KPY_DECLARE_METHOD(readSlxSol)
KPY_DECLARE_METHOD(readBasis)
KPY_DECLARE_METHOD(readBinSol)
KPY_DECLARE_METHOD(loadBasis)
KPY_DECLARE_METHOD(loadPresolveBasis)
KPY_DECLARE_METHOD(loadSecureVecs)
KPY_DECLARE_METHOD(loadLPSol)
KPY_DECLARE_METHOD_NOARGS(postSolve)
KPY_DECLARE_METHOD(pivot)
// infeasibilities, unboundedness and barrier solutions
KPY_DECLARE_METHOD_NOARGS(getInfeas)
KPY_DECLARE_METHOD_NOARGS(getScaledInfeas)
KPY_DECLARE_METHOD_NOARGS(getUnbVec)
KPY_DECLARE_METHOD_NOARGS(getLastBarSol)
KPY_DECLARE_METHOD_NOARGS(getPivotOrder)
KPY_DECLARE_METHOD_NOARGS(getPresolveMap)

extern const char kpy_doc_solve[];
extern const char kpy_doc_save[];

// An array argument as the solver takes it: data pointer (null when empty) and 64-bit count.
#define KPY_ARR(v) ((v).empty() ? nullptr : (v).data()), (int64_t)(v).size()

// True for an optional argument that was given and is not None.
inline bool kpy_given(PyObject *obj) { return obj && obj != Py_None; }

// Length of an optional array argument as kpy_groupCount takes it: -1 when absent or None.
template <typename T>
long long kpy_lenOf(PyObject *obj, const std::vector<T> &v) {
  return kpy_given(obj) ? (long long)v.size() : -1;
}

// Converts an optional array argument; absent or None leaves it empty.
template <typename K>
int kpy_optional(problem_s *prob, const char *name, PyObject *obj, std::vector<typename kpy_elem<K>::type> *out,
                 bool noObj = false) {
  return kpy_given(obj) ? kpy_Iterable_to_vector<K>(prob, name, out, obj, noObj) : 0;
}

// A result list of a vector (null with the error pending when it cannot be built).
template <typename T> nb::object kpy_listOf(const std::vector<T> &v) { return nb::steal(kpy_vector_to_List(v)); }
// Tuple of the items; null when an item is null (its error pending) or on failure.
PyObject *kpy_tupleOf(std::initializer_list<nb::object> items);

// Getters of one int list per row and one per column (ROWS and COLS entries), as a tuple.
using KpyRowColFn = int (*)(KRVXprob, int *, int64_t, int *, int64_t);
PyObject *kpy_rowColIntLists(PyObject *self, KpyRowColFn fn);

// ---- dropping deleted objects (rows, columns, sets) ----
// A deletion from one of the problem's object lists, prepared before the solver call so that
// nothing can fail after the solver has deleted.
struct kpy_Deletion {
  PyObject **slot = nullptr;       // the problem's list field
  PyObject *survivors = nullptr;   // the list as it will be (owned)
  std::vector<char> gone;          // per old position: deleted
  kpy_Deletion() = default;
  kpy_Deletion(const kpy_Deletion &) = delete;
  kpy_Deletion &operator=(const kpy_Deletion &) = delete;
  ~kpy_Deletion() { Py_XDECREF(survivors); }
};
// Checks every index against the list (0 <= i < len, none repeated; an InterfaceError in the
// element format of argname with the kind word otherwise) and builds the survivors. 0 or -1.
int kpy_prepareDeletion(kpy_Deletion *d, PyObject **slot, const std::vector<int> &indices, const char *argname,
                        const char *word);
// After the solver deleted: marks the deleted objects, gives every later object its new
// index and installs the new list. Never fails.
void kpy_removeDeleted(kpy_Deletion *d);
