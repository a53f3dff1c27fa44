// The frame shared by the camelCase methods of korvex.problem: solver calls without the
// interpreter lock, the SIGINT guard, follow-ups after a call and the error edge.
#pragma once
#include "model/services.h"

#include <nanobind/nanobind.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace nb = nanobind;

// The solver call returned 0, but a Python error became pending during it.
constexpr int rcPythonError = 884;
// Rows waiting from addConstraint calls were refused (their error is set); the call did not run.
constexpr int rcRowsRefused = 885;

// Call a solver function with the problem's handle prepended, without the interpreter lock
// (release true), or keeping it for calls too short to be worth handing it over. A pending Python
// error is parked meanwhile and put back afterwards (it does not count as a failure); a
// callback's saved exception becomes the pending error.
template <typename F, typename... Args>
int kpy_callSolverLocked(bool release, F func, problem_s *prob, Args... args) {
  if (kpy_sendRowsFirst(prob) < 0) return rcRowsRefused;
  std::optional<nb::python_error> parked;
  if (PyErr_Occurred()) parked.emplace();
  PyThreadState *ts = release ? PyEval_SaveThread() : nullptr;
  int rc = func(prob->prob, args...);
  if (ts) PyEval_RestoreThread(ts);
  if (parked) parked->restore();
  handleCallbackException(prob, rc);
  if (rc != 0) return rc;
  return (!parked && PyErr_Occurred()) ? rcPythonError : 0;
}

template <typename F, typename... Args>
int kpy_callSolverNoGIL(F func, problem_s *prob, Args... args) {
  return kpy_callSolverLocked(true, func, prob, args...);
}

// Whether a solver call over `work` items (rows plus entries) hands the interpreter lock over.
// A short one keeps it when this thread holds the problem's lock outside a solve: no other thread
// can then be inside the library with the problem while it waits for the interpreter (the library
// runs no handler under its own locks), and a few items are added in less time than handing the
// lock over and back takes. Python code that a solve runs (the holder is a solve) hands it over,
// since the solve holds the problem in the library.
inline bool kpy_handsOverLock(const problem_s *prob, size_t work) {
  return work > 256 || prob->change_owner != PyThread_get_thread_ident() || prob->change_solving;
}

// The same call inside the SIGINT guard.
template <typename F, typename... Args>
int kpy_callSolverWithSigInt(F func, problem_s *prob, Args... args) {
  setSigIntHandler();
  int rc = kpy_callSolverNoGIL(func, prob, args...);
  resetSigIntHandler();
  return rc;
}

// Sets the Python error that corresponds to the exception being handled.
void kpy_translateCurrentException() noexcept;

// After a solver call: a failure raises the solver's error unless a Python error is pending.
// Returns true when the method must end with an error.
inline bool kpy_failed(problem_s *prob, int rc) {
  if (rc == 0) return false;
  setKrvxErrIfNull((PyObject *)prob, nullptr);
  return true;
}

// Ends a solver call that changed the problem, running its follow-up (rebuilding or trimming
// object lists). A solver failure raises the solver's error and skips the follow-up. With
// rcPythonError the solver did its work, so the follow-up still runs with the pending error
// parked; the first error wins and a second one is written as unraisable. Returns true when the
// method must end with an error (the error is then pending).
template <typename F>
bool kpy_failedWithFollowUp(problem_s *prob, int rc, F &&step) {
  if (rc == 0) {
    step();
    return false;
  }
  if (rc != rcPythonError) return kpy_failed(prob, rc);
  nb::python_error first;
  try {
    step();
  } catch (nb::python_error &second) {
    second.discard_as_unraisable("korvex.problem: follow-up after a failed call");
  } catch (...) {
    kpy_translateCurrentException();
    PyErr_WriteUnraisable(nullptr);
  }
  first.restore();
  return true;
}

// The method edge: runs the body and turns any exception into a Python error and a null result.
template <typename F>
PyObject *kpy_methodEdge(F &&body) noexcept {
  try {
    return body();
  } catch (nb::python_error &e) {
    e.restore();
  } catch (...) {
    kpy_translateCurrentException();
  }
  return nullptr;
}

// True unless the problem is a callback's temporary problem or is in presolved form.
bool kpy_isOriginalProb(problem_s *prob);

// Reads an integer attribute with the lock held; -1 with SolverError on failure.
int kpy_getIntAttrib64(problem_s *prob, int id, int64_t *value);

// Methods that take one string argument (required, or optional and "" by default) and return
// None; guarded ones run inside the SIGINT guard.
using KpyStringFn = int (*)(KRVXprob, const char *);
PyObject *kpy_stringMethod(PyObject *self, PyObject *args, PyObject *kwargs, const char *argname, bool required,
                           bool guarded, KpyStringFn fn);
// Methods without arguments that return None.
PyObject *kpy_noArgMethod(PyObject *self, int (*fn)(KRVXprob));

// The problem of a method's self.
inline problem_s *kpy_prob(PyObject *self) { return (problem_s *)self; }
