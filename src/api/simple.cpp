// Methods whose whole work is one solver call with at most one string argument.
#include "api/arguments.h"

PyObject *kpy_stringMethod(PyObject *self, PyObject *args, PyObject *kwargs, const char *argname, bool required,
                           bool guarded, KpyStringFn fn) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    const char *kwlist[] = {argname, nullptr};
    PyObject *obj = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, required ? "O" : "|O", (char **)kwlist, &obj)) return nullptr;
    std::string value;
    if (kpy_argString(prob, argname, obj, &value, required) < 0) return nullptr;
    int rc = guarded ? kpy_callSolverWithSigInt(fn, prob, value.c_str()) : kpy_callSolverNoGIL(fn, prob, value.c_str());
    if (kpy_failed(prob, rc)) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject *kpy_noArgMethod(PyObject *self, int (*fn)(KRVXprob)) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    if (kpy_failed(prob, kpy_callSolverNoGIL(fn, prob))) return nullptr;
    Py_RETURN_NONE;
  });
}
