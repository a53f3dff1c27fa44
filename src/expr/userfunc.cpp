// User functions: registration with the nonlinear solver, the per-problem map of registered
// functions, and the trampolines through which the solver calls the Python callable.
#include "expr/userfunc.h"
#include <cmath>
#include <cstdio>
#include <string>


userfuncmap *userfuncmap_new() { return new (std::nothrow) userfuncmap(); }

userfunc_s *userfuncmap_get(userfuncmap *m, PyObject *callable, int nargs) {
  if (!m) return nullptr;
  auto range = m->equal_range(callable);
  for (auto it = range.first; it != range.second; ++it)
    if (it->second->nargs == nargs) return it->second;
  return nullptr;
}

int userfuncmap_add(userfuncmap *m, userfunc_s *rec) {
  try {
    m->emplace(rec->func, rec);
  } catch (std::bad_alloc &) {
    return -1;
  }
  Py_INCREF(rec->func);
  return 0;
}

static void userfunc_release(userfunc_s *rec) {
  Py_XDECREF(rec->func);
  ko_MemoryAllocator_Free_Untyped(ko_MemoryAllocator_DefaultHeap, &rec);
}

void userfuncmap_free(userfuncmap **m) {
  if (!m || !*m) return;
  for (auto &kv : **m) userfunc_release(kv.second);
  delete *m;
  *m = nullptr;
}

// The solver's name of a callable: a Python function's __name__, else "Func<address>"; at most
// 63 bytes, cut at a character boundary.
static std::string userFunctionName(PyObject *func) {
  std::string name;
  if (PyFunction_Check(func)) {
    PyObject *n = ((PyFunctionObject *)func)->func_name;
    const char *s = n && PyUnicode_Check(n) ? PyUnicode_AsUTF8(n) : nullptr;
    if (s) name = s;
    PyErr_Clear();
  }
  if (name.empty()) {
    char buf[64];
    snprintf(buf, sizeof buf, "Func%p", (void *)func);
    name = buf;
  }
  size_t len = name.size() > 63 ? 63 : name.size();
  while (len > 0 && len < name.size() && ((unsigned char)name[len] & 0xC0) == 0x80) --len;
  return name.substr(0, len);
}

int createUserFunction(problem_s *problem, PyObject *args, int *number, int op) {
  if (!PyTuple_Check(args) || PyTuple_GET_SIZE(args) < 1 || !PyCallable_Check(PyTuple_GET_ITEM(args, 0))) {
    PyErr_SetString(kpy_ModelError, "Invalid user function, must specify at least one argument (the user function itself)");
    return -1;
  }
  PyObject *func = PyTuple_GET_ITEM(args, 0);
  int nargs = (int)(PyTuple_GET_SIZE(args) - 1);
  if (!problem->ufmap && !(problem->ufmap = userfuncmap_new())) {
    PyErr_SetString(kpy_ModelError, "Out of memory");
    return -1;
  }
  if (userfunc_s *known = userfuncmap_get(problem->ufmap, func, nargs)) {
    *number = known->number;
    return 0;
  }
  if (!problem->nlprob) {
    PyErr_SetString(kpy_ModelError, "User functions need the nonlinear solver, which this problem does not have");
    return -1;
  }
  userfunc_s *rec = nullptr;
  if (ko_MemoryAllocator_Alloc_Untyped(ko_MemoryAllocator_DefaultHeap, &rec, sizeof *rec) < 0) return -1;
  *rec = userfunc_s{problem->nlprob, problem, func, nargs, -1};
  // the record enters the map before the solver holds it, and leaves it only if registration fails
  if (userfuncmap_add(problem->ufmap, rec) < 0) {
    rec->func = nullptr;
    userfunc_release(rec);
    PyErr_SetString(kpy_ModelError, "Out of memory");
    return -1;
  }
  std::string name = userFunctionName(func);
  void *trampoline = op == NLOP_USER_NODERIV ? (void *)kpy_generic_user_function_no_derivative
                     : op == NLOP_USER_DERIV ? (void *)kpy_generic_user_function_with_derivative
                                             : (void *)kpy_generic_user_function_with_optional_derivative;
  int num = -1;
  int rc = KRVNadduserfunction(problem->nlprob, name.c_str(), op == NLOP_USER_NODERIV ? 2 : 5, nargs, 1, 0,
                               trampoline, rec, &num);
  if (rc != 0) {
    auto range = problem->ufmap->equal_range(func);
    for (auto it = range.first; it != range.second; ++it)
      if (it->second == rec) {
        problem->ufmap->erase(it);
        break;
      }
    userfunc_release(rec);
    setKrvxErrIfNull((PyObject *)problem, nullptr);
    return -1;
  }
  rec->number = *number = num;
  return 0;
}

// ---------------------------------------------------------------------------------------
// Trampolines

// The pending exception goes to the problem's saved-exception slot when that is empty (the first
// one wins), else it is written as unraisable; no error stays pending.
static void keepUserFunctionError(userfunc_s *rec) {
  PyObject *exc = PyErr_GetRaisedException();
  if (!exc) return;
  if (rec->prob && !rec->prob->saved_exc) {
    rec->prob->saved_exc = exc;
    return;
  }
  PyErr_SetRaisedException(exc);
  PyErr_WriteUnraisable(rec->func);
}

static int callUserFunction(const double *values, const double *deltas, double *result, double *partials,
                            bool pass_deltas, userfunc_s *rec) {
  int n = rec->nargs;
  PyObject *args = PyTuple_New(pass_deltas ? 2 * n : n);
  if (!args) return 1;
  for (int i = 0; i < n; ++i) {
    PyObject *v = PyFloat_FromDouble(values[i]);
    PyObject *d = pass_deltas ? PyFloat_FromDouble(deltas[i]) : nullptr;
    if (!v || (pass_deltas && !d)) {
      Py_XDECREF(v);
      Py_XDECREF(d);
      Py_DECREF(args);
      return 1;
    }
    PyTuple_SET_ITEM(args, i, v);
    if (pass_deltas) PyTuple_SET_ITEM(args, n + i, d);
  }
  PyObject *res = PyObject_Call(rec->func, args, nullptr);
  Py_DECREF(args);
  if (!res) return 1;
  int rc = 1;
  bool isTuple = PyTuple_Check(res);
  if (deltas && (!isTuple || PyTuple_GET_SIZE(res) < n + 1)) {
    PyErr_SetString(kpy_ModelError, "User function must return a tuple containing result and all derivatives");
  } else if (isTuple && PyTuple_GET_SIZE(res) == 0) {
    PyErr_SetString(kpy_ModelError, "User function returned an empty tuple");
  } else {
    double value = PyFloat_AsDouble(isTuple ? PyTuple_GET_ITEM(res, 0) : res);
    if (!(value == -1.0 && PyErr_Occurred())) {
      *result = value;
      rc = 0;
      for (int i = 0; deltas && i < n; ++i) {
        PyObject *item = PyTuple_GET_ITEM(res, i + 1);
        if (deltas[i] == 0.0 && !PyFloat_Check(item)) continue;   // no derivative was asked for
        double p = PyFloat_AsDouble(item);
        if (p == -1.0 && PyErr_Occurred()) {
          rc = 1;
          break;
        }
        partials[i] = p;
      }
    }
  }
  Py_DECREF(res);
  return rc;
}

int kpy_generic_user_function(const double *values, const double *deltas, double *result, double *partials,
                              bool pass_deltas, userfunc_s *rec) {
  PyGILState_STATE gil = PyGILState_Ensure();
  int rc;
  {
    SolverCallbackScope scope;
    rc = callUserFunction(values, deltas, result, partials, pass_deltas, rec);
    if (rc) keepUserFunctionError(rec);
  }
  PyGILState_Release(gil);
  return rc;
}

double kpy_generic_user_function_no_derivative(const double *values, void *rec) {
  double value = NAN;
  userfunc_s *r = (userfunc_s *)rec;
  if (kpy_generic_user_function(values, nullptr, &value, nullptr, false, r)) {
    KRVNsetfunctionerror(r->nlprob);
    return NAN;
  }
  return value;
}

int kpy_generic_user_function_with_derivative(const double *values, const double *deltas, double *result,
                                              double *partials, void *rec) {
  return kpy_generic_user_function(values, deltas, result, partials, false, (userfunc_s *)rec);
}

int kpy_generic_user_function_with_optional_derivative(const double *values, const double *deltas,
                                                       double *result, double *partials, void *rec) {
  return kpy_generic_user_function(values, deltas, result, partials, deltas != nullptr, (userfunc_s *)rec);
}
