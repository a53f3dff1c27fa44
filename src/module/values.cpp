// Conversions of Python values for solver calls.
#include "module/services.h"

#include <cstring>

namespace {
constexpr int kConvDouble = 5;   // conversion code: array of doubles
}

int conv_obj2arr(problem_s *, Py_ssize_t *count, PyObject *seq, void *out, int typecode) {
  if (typecode != kConvDouble) {
    PyErr_Format(PyExc_RuntimeError, "Unsupported conversion code %d", typecode);
    return -1;
  }
  PyObject *fast = PySequence_Fast(seq, "Argument must be iterable");
  if (!fast) {
    PyErr_Clear();
    PyErr_SetString(kpy_InterfaceError, "Argument must be iterable");
    return -1;
  }
  Py_ssize_t n = PySequence_Fast_GET_SIZE(fast);
  if (*count >= 0 && *count != n) {
    PyErr_Format(kpy_InterfaceError, "Mismatched lengths in arguments: expected %d, found %d", (int)*count, (int)n);
    Py_DECREF(fast);
    return -1;
  }
  double *arr = nullptr;
  if (ko_MemoryAllocator_Alloc_Untyped(ko_MemoryAllocator_DefaultHeap, &arr, (size_t)n * sizeof(double)) < 0) {
    Py_DECREF(fast);
    return -1;
  }
  PyObject **items = PySequence_Fast_ITEMS(fast);
  for (Py_ssize_t i = 0; i < n; ++i) {
    double v = PyFloat_AsDouble(items[i]);
    if (v == -1.0 && PyErr_Occurred()) {
      std::string text = kpy_PyErr_ToString();
      PyErr_Format(kpy_InterfaceError, "Error in element %d: %s", (int)i, text.c_str());
      ko_MemoryAllocator_Free_Untyped(ko_MemoryAllocator_DefaultHeap, &arr);
      Py_DECREF(fast);
      return -1;
    }
    arr[i] = v;
  }
  Py_DECREF(fast);
  *(double **)out = arr;
  *count = n;
  return 0;
}

const char *pyStrToStr(PyObject *str, char *target, PyObject **holder) {
  *holder = nullptr;
  const char *text;
  Py_ssize_t n;
  if (PyUnicode_Check(str)) {
    text = PyUnicode_AsUTF8AndSize(str, &n);
    if (!text) return nullptr;
    Py_INCREF(str);
  } else if (PyBytes_Check(str)) {
    text = PyBytes_AS_STRING(str);
    n = PyBytes_GET_SIZE(str);
    Py_INCREF(str);
  } else {
    PyErr_SetString(PyExc_TypeError, "Value is not a string");
    return nullptr;
  }
  if (std::memchr(text, '\0', (size_t)n)) {
    Py_DECREF(str);
    PyErr_SetString(PyExc_ValueError, "Value contains a NUL character");
    return nullptr;
  }
  *holder = str;
  if (target) {
    std::memcpy(target, text, (size_t)n + 1);
    return target;
  }
  return text;
}
