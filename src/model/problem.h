// Model-internal services of the problem and the model object types.
#pragma once
#include "model/services.h"

// Marks the listed objects deleted (kinds without a serial-to-index map), drops the lists,
// the maps and the user-function map; unless final, makes new empty lists and resets the
// cached values. Never fails when final; otherwise 0 or -1. A callback's temporary problem
// (orig set) only borrows its model data: its lists are released, objects and maps untouched.
int problem_clearmodeldata(problem_s *prob, bool final);

// New linked objects at a solver index; null with an error set.
PyObject *var_createLinked(problem_s *prob, Py_ssize_t index);
PyObject *constraint_createLinked(problem_s *prob, Py_ssize_t index);
PyObject *sos_createLinked(problem_s *prob, Py_ssize_t index);

// Marks one model object deleted.
void kpy_markDeleted(PyObject *obj, bool problemGone = false);

// Serials of unlinked objects (48 bits).
inline uint64_t kpy_serial(uint16_t high, uint32_t low) { return ((uint64_t)high << 32) | low; }
// Draws the next serial from a counter; 0 with OverflowError set when exhausted.
uint64_t kpy_nextSerial(uint64_t *counter);

// The packed name of one object of a solver namespace (1 rows, 2 columns, 3 sets); a new str.
PyObject *kpy_getSolverName(problem_s *prob, int kind, int index);

// One item of a first..last getter of the solver (KRVXgetlb, KRVXgetrowtype, ...) at index,
// read without the interpreter lock; 0 or -1 with an error set.
template <class T>
int kpy_readSolverItem(problem_s *prob, int (*getter)(KRVXprob, T *, int, int), int index, T *out) {
  if (checkProblemIsInitialized(prob) < 0 || kpy_sendRowsFirst(prob) < 0) return -1;
  ko_prob_struct *h = prob->prob;
  int rc;
  Py_BEGIN_ALLOW_THREADS
  rc = getter(h, out, index, index);
  Py_END_ALLOW_THREADS
  if (rc) {
    setKrvxErrIfNull((PyObject *)prob, nullptr);
    return -1;
  }
  return 0;
}

// Bounds of a number given for a bound: clamped to [-1e20, 1e20]; -1 with an error for NaN.
int kpy_clampBound(double v, double *out);


