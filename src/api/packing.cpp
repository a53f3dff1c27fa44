// Packed names, sparse vectors and counts: the parts of the result builders that need nothing
// of the module but its exception classes.
#include "api/arguments.h"

#include <cstring>

int kpy_utf8Text(PyObject *obj, std::string *out) {
  Py_ssize_t len;
  const char *s = PyUnicode_AsUTF8AndSize(obj, &len);
  if (!s) return -1;
  if (std::memchr(s, 0, (size_t)len)) {
    PyErr_SetString(kpy_InterfaceError, "Value contains a NUL character");
    return -1;
  }
  out->assign(s, (size_t)len);
  return 0;
}

int kpy_count32(const char *argname, size_t n, int *out) {
  if (n > 2147483647u) {
    PyErr_Format(kpy_InterfaceError, "Argument '%s' is too long", argname);
    return -1;
  }
  *out = (int)n;
  return 0;
}

PyObject *kpy_vector_to_StringList(const std::vector<char> &buffer) {
  nb::object list = nb::steal(PyList_New(0));
  if (!list) throw nb::python_error();
  size_t off = 0, size = buffer.size();
  while (off < size) {
    const char *s = buffer.data() + off;
    const void *end = std::memchr(s, 0, size - off);
    if (!end) {
      PyErr_SetString(PyExc_RuntimeError, "Packed names do not end with a NUL byte");
      throw nb::python_error();
    }
    size_t len = (size_t)((const char *)end - s);
    nb::object name = nb::steal(kpy_solverText(s, (Py_ssize_t)len));
    if (!name || PyList_Append(list.ptr(), name.ptr()) < 0) throw nb::python_error();
    off += len + 1;
  }
  return list.release().ptr();
}

void kpy_StringList_to_vector(std::vector<char> *buffer, PyObject *obj, int64_t *count) {
  buffer->clear();
  int64_t n = 0;
  nb::object it = nb::steal(PyObject_GetIter(obj));
  if (!it) throw nb::python_error();
  for (;;) {
    nb::object item = nb::steal(PyIter_Next(it.ptr()));
    if (!item) {
      if (PyErr_Occurred()) throw nb::python_error();
      break;
    }
    if (!PyUnicode_Check(item.ptr())) {
      PyErr_SetString(kpy_InterfaceError, "Value is not a string");
      throw nb::python_error();
    }
    std::string s;
    if (kpy_utf8Text(item.ptr(), &s) < 0) throw nb::python_error();
    buffer->insert(buffer->end(), s.begin(), s.end());
    buffer->push_back(0);
    n++;
  }
  if (count) *count = n;
}

int kpy_expandSparseVector(std::vector<int> *indices, std::vector<double> *values, int64_t n,
                           int64_t denselen, const char *argname) {
  if (n < 0 || (size_t)n > indices->size() || (size_t)n > values->size() || denselen < 0) {
    PyErr_SetString(PyExc_RuntimeError, "Sparse vector of inconsistent length");
    return -1;
  }
  for (int64_t k = 0; k < n; k++) {
    int i = (*indices)[(size_t)k];
    if (i < 0 || i >= denselen) {
      PyErr_Format(kpy_InterfaceError, "Error in element %d of argument '%s': %s", (int)k, argname,
                   "Index out of range");
      return -1;
    }
  }
  std::vector<double> dense((size_t)denselen, 0.0);
  for (int64_t k = 0; k < n; k++) dense[(size_t)(*indices)[(size_t)k]] = (*values)[(size_t)k];
  values->swap(dense);
  indices->resize((size_t)denselen, 0);
  return 0;
}

int kpy_compressSparseVector(std::vector<int> *indices, std::vector<double> *values, int64_t n) {
  size_t dense = values->size();
  if (n < 0 || (size_t)n > dense || (size_t)n > indices->size()) {
    PyErr_SetString(PyExc_RuntimeError, "Sparse vector count out of range");
    return -1;
  }
  for (int64_t k = 0; k < n; k++) {
    int i = (*indices)[(size_t)k];
    if (i < 0 || (size_t)i >= dense) {
      PyErr_SetString(PyExc_RuntimeError, "Sparse vector index out of range");
      return -1;
    }
  }
  std::vector<double> out((size_t)n);
  for (int64_t k = 0; k < n; k++) out[(size_t)k] = (*values)[(size_t)(*indices)[(size_t)k]];
  values->swap(out);
  indices->resize((size_t)n);
  return 0;
}
