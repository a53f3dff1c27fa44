// Error and warning conventions shared by every Python-facing function.
#include "module/services.h"

#include <cstring>

namespace {

// The solver's last error text of a problem (the interpreter lock released while reading).
std::string lastSolverError(problem_s *p) {
  char buf[KRVX_MAXERRLEN + 1];
  std::memset(buf, 0, sizeof buf);
  ko_prob_struct *handle = p ? p->prob : nullptr;
  tagKRVNproblem *nl = p ? p->nlprob : nullptr;
  bool readNonlin = p && kpy_env.nonlin_available == 1 && nl;
  Py_BEGIN_ALLOW_THREADS
  if (!p || handle) KRVXgetlasterror(handle, buf);
  buf[KRVX_MAXERRLEN] = '\0';
  if (!buf[0] && readNonlin) {
    KRVNgetlasterror(nl, buf);
    buf[KRVX_MAXERRLEN] = '\0';
  }
  Py_END_ALLOW_THREADS
  return buf;
}

}  // namespace

void setKrvxErrIfNull(PyObject *obj, const void *result) {
  if (result || PyErr_Occurred()) return;
  if (obj && PyObject_TypeCheck(obj, &kpy_problemType)) {
    std::string text = lastSolverError((problem_s *)obj);
    kpy_setSolverError(kpy_SolverError,
                       text.empty() ? "Unidentified error associated with optimization problem" : text.c_str());
    return;
  }
  std::string text = lastSolverError(nullptr);
  kpy_setSolverError(kpy_InterfaceError,
                     text.empty() ? "Unidentified error associated with the global environment" : text.c_str());
}

void handleCallbackException(problem_s *prob, int rc) {
  if (!prob || prob->orig || !prob->saved_exc) return;
  if (rc != 0) {
    std::string text = lastSolverError(prob);
    if (!text.empty()) {
      PyObject *pending = PyErr_GetRaisedException();
      kpy_setSolverError(kpy_SolverError, text.c_str());
      PyErr_FormatUnraisable("Exception masked by another exception");
      PyErr_SetRaisedException(pending);
    }
  }
  // an error already pending here would be lost: report it before the saved one takes its place
  if (PyErr_Occurred()) PyErr_FormatUnraisable("Exception masked by another exception");
  PyObject *exc = prob->saved_exc;
  prob->saved_exc = nullptr;
  PyErr_SetRaisedException(exc);
}

int kpy_refuseDeletedVar(const void *owner) {
  PyErr_SetString(kpy_ModelError, "Deleted variable in expression");
  if (owner != (const void *)KPY_PROBLEM_GONE) return -1;
  PyObject *exc = PyErr_GetRaisedException();
  PyObject *r = PyObject_CallMethod(exc, "add_note", "s",
                                    "The variable's problem no longer exists: freeing a problem deletes its variables.");
  if (r) Py_DECREF(r);
  else PyErr_Clear();
  PyErr_SetRaisedException(exc);
  return -1;
}

std::string kpy_PyErr_ToString() {
  PyObject *exc = PyErr_GetRaisedException();
  if (!exc) return {};
  std::string text;
  PyObject *s = PyObject_Str(exc);
  if (s) {
    Py_ssize_t n = 0;
    const char *u = PyUnicode_AsUTF8AndSize(s, &n);
    if (u) text.assign(u, (size_t)n);
    Py_DECREF(s);
  }
  PyErr_Clear();
  Py_DECREF(exc);
  return text;
}

int checkProblemIsInitialized(problem_s *prob) {
  if (prob && prob->prob) return 0;
  PyErr_SetString(kpy_ModelError, "Problem is not initialized");
  return -1;
}

void kpy_setErrorCannotPassObjectsNames(const char *kind, int names) {
  const char *k = kind ? kind : "";
  PyErr_Format(kpy_InterfaceError,
               "Cannot pass %s%s%s when problem is presolved or in a callback: use indices instead", k,
               k[0] ? " " : "", names ? "names" : "objects");
}

int kpy_deprecationWarning(int major, int minor, const char *advice) {
  return PyErr_WarnFormat(kpy_DeprecationWarning, 1, "Deprecated in Korvex %d.%d: %s", major, minor, advice);
}

PyObject *kpy_getEnumValue(const char *enumname, PyObject *intobj) {
  if (!intobj) return nullptr;
  PyObject *mod = PyImport_ImportModule("korvex.enums");
  if (!mod) {
    Py_DECREF(intobj);
    return nullptr;
  }
  PyObject *cls = PyObject_GetAttrString(mod, enumname);
  Py_DECREF(mod);
  if (!cls) {
    Py_DECREF(intobj);
    return nullptr;
  }
  PyObject *value = PyObject_CallOneArg(cls, intobj);
  Py_DECREF(cls);
  if (!value) {
    // a value the enumeration does not know stays an int; any other error (a KeyboardInterrupt
    // raised meanwhile) goes on
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) {
      Py_DECREF(intobj);
      return nullptr;
    }
    PyErr_Clear();
    return intobj;
  }
  Py_DECREF(intobj);
  return value;
}
