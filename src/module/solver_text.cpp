// Texts from the solver library as Python strings. The library passes names and file contents
// through byte for byte, so a text need not be UTF-8: such bytes decode to U+FFFD.
#include "module/services.h"

#include <cstring>

PyObject *kpy_solverText(const char *text, Py_ssize_t len) {
  return PyUnicode_DecodeUTF8(text, len < 0 ? (Py_ssize_t)std::strlen(text) : len, "replace");
}

void kpy_setSolverError(PyObject *exc, const char *text) {
  PyObject *s = kpy_solverText(text);
  if (!s) return;
  PyErr_SetObject(exc, s);
  Py_DECREF(s);
}
