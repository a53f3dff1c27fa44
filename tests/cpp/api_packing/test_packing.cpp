// Packed names, sparse vectors and 32-bit counts.
#include "api/arguments.h"
#include "check.h"

#include <cstdio>
#include <string>
#include <vector>

PyObject *kpy_InterfaceError;

// True when the pending error is of the given type (the error is cleared).
static bool pending(PyObject *type) {
  bool ok = PyErr_ExceptionMatches(type);
  PyErr_Clear();
  return ok;
}

static PyObject *run(const char *expr) {
  PyObject *main = PyImport_AddModule("__main__");
  PyObject *globals = PyModule_GetDict(main);
  return PyRun_String(expr, Py_eval_input, globals, globals);
}

static void testNames() {
  std::vector<char> buf = {'a', 0, 0, 'b', 'c', 0};
  PyObject *list = kpy_vector_to_StringList(buf);
  PyObject *want = run("['a', '', 'bc']");
  EXPECT(list && want && PyObject_RichCompareBool(list, want, Py_EQ) == 1);
  Py_XDECREF(list);
  Py_XDECREF(want);

  // an unterminated tail is refused, not read past
  std::vector<char> open = {'a', 0, 'b'};
  bool thrown = false;
  try {
    kpy_vector_to_StringList(open);
  } catch (nb::python_error &e) {
    thrown = e.matches(PyExc_RuntimeError);
  }
  EXPECT(thrown);

  PyObject *names = run("['a', 'bc']");
  int64_t count = -1;
  kpy_StringList_to_vector(&buf, names, &count);
  EXPECT(count == 2 && buf == (std::vector<char>{'a', 0, 'b', 'c', 0}));
  Py_DECREF(names);
  PyObject *empty = run("()");
  kpy_StringList_to_vector(&buf, empty, &count);
  EXPECT(count == 0 && buf.empty());
  Py_DECREF(empty);

  for (const char *bad : {"['a', 1]", "['a\\0b']"}) {
    PyObject *obj = run(bad);
    thrown = false;
    try {
      kpy_StringList_to_vector(&buf, obj, &count);
    } catch (nb::python_error &e) {
      thrown = e.matches(kpy_InterfaceError);
    }
    EXPECT(thrown);
    Py_DECREF(obj);
  }
}

static void testSparse() {
  std::vector<int> idx = {3, 4};
  std::vector<double> val = {5, 7};
  EXPECT(kpy_expandSparseVector(&idx, &val, 2, 6, "x") == 0);
  EXPECT(val == (std::vector<double>{0, 0, 0, 5, 7, 0}) && idx.size() == 6);
  idx[0] = 3;
  idx[1] = 4;
  EXPECT(kpy_compressSparseVector(&idx, &val, 2) == 0);
  EXPECT(val == (std::vector<double>{5, 7}) && idx == (std::vector<int>{3, 4}));

  // a gather whose indices point backwards reads the dense values, not overwritten ones
  idx = {3, 0, 0, 0, 0, 0};
  val = {1, 2, 3, 4, 5, 6};
  EXPECT(kpy_compressSparseVector(&idx, &val, 2) == 0);
  EXPECT(val == (std::vector<double>{4, 1}));

  for (int bad : {-1, 6}) {
    idx = {1, bad};
    val = {5, 7};
    EXPECT(kpy_expandSparseVector(&idx, &val, 2, 6, "x") == -1 && pending(kpy_InterfaceError));
    EXPECT(val == (std::vector<double>{5, 7}));
  }
  idx = {0, 1};
  val = {1, 2};
  EXPECT(kpy_compressSparseVector(&idx, &val, 3) == -1 && pending(PyExc_RuntimeError));
  idx = {0, 2};
  val = {1, 2};
  EXPECT(kpy_compressSparseVector(&idx, &val, 2) == -1 && pending(PyExc_RuntimeError));
}

static void testCounts() {
  int n = 0;
  EXPECT(kpy_count32("a", 2147483647u, &n) == 0 && n == 2147483647);
  EXPECT(kpy_count32("a", 2147483648u, &n) == -1 && pending(kpy_InterfaceError));
}

int main() {
  Py_Initialize();
  kpy_InterfaceError = PyErr_NewException("korvex.InterfaceError", PyExc_Exception, nullptr);
  testNames();
  testSparse();
  testCounts();
  Py_DECREF(kpy_InterfaceError);
  Py_Finalize();
  if (check_failures) std::fprintf(stderr, "%d failures\n", check_failures);
  return check_failures ? 1 : 0;
}
