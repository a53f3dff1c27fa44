// getSolution: values of the current solution by column index, name or variable object.
#include "api/methods.h"

// the nonlinear layer is optional
#pragma weak KRVNgetintattrib

namespace {

constexpr int kDepth = 64;

struct SolutionView {
  problem_s *prob;
  const std::vector<double> &x;
};

PyObject *outOfRange() {
  PyErr_SetString(kpy_InterfaceError, "Call to korvex.problem.getSolution() contains an out-of-range index");
  return nullptr;
}

PyObject *columnValue(const SolutionView &s, long long col) {
  if (col < 0 || (size_t)col >= s.x.size()) return outOfRange();
  return PyFloat_FromDouble(s.x[(size_t)col]);
}

PyObject *namedValue(const SolutionView &s, const char *name, Py_ssize_t len) {
  std::string text(name, (size_t)len);
  if (text.find('\0') != std::string::npos) {
    PyErr_SetString(kpy_InterfaceError, "Value contains a NUL character");
    return nullptr;
  }
  int index = -1;
  if (kpy_failed(s.prob, kpy_callSolverNoGIL(KRVXgetindex, s.prob, 2, text.c_str(), &index))) return nullptr;
  return columnValue(s, index);
}

// numpy.ndarray, looked up once
PyObject *ndarrayType() {
  static PyObject *type = nullptr;
  if (!type) {
    PyObject *np = PyImport_ImportModule("numpy");
    if (!np) return nullptr;
    type = PyObject_GetAttrString(np, "ndarray");  // kept for the process
    Py_DECREF(np);
  }
  return type;
}

PyObject *evaluate(const SolutionView &s, PyObject *obj, int depth);

// An array of objects gives a float64 array of the same shape.
PyObject *evaluateArray(const SolutionView &s, PyObject *arr, int depth) {
  nb::object dtype = nb::steal(PyObject_GetAttrString(arr, "dtype"));
  if (!dtype) return nullptr;
  nb::object num = nb::steal(PyObject_GetAttrString(dtype.ptr(), "num"));
  if (!num) return nullptr;
  long n = PyLong_AsLong(num.ptr());
  if (n == -1 && PyErr_Occurred()) return nullptr;
  const long npy_object = 17;
  if (n != npy_object && n != kpy_env.npvar_type && n != kpy_env.npexpr_type && n != kpy_env.npconstraint_type) {
    PyErr_SetString(kpy_InterfaceError,
                    "korvex.evaluate() requires one or more Python objects;\nNumPy arrays must have object dtype.");
    return nullptr;
  }
  nb::object flat = nb::steal(PyObject_GetAttrString(arr, "flat"));
  nb::object values = nb::steal(PyList_New(0));
  if (!flat || !values) return nullptr;
  nb::object it = nb::steal(PyObject_GetIter(flat.ptr()));
  if (!it) return nullptr;
  while (PyObject *item = PyIter_Next(it.ptr())) {
    nb::object v = nb::steal(evaluate(s, item, depth - 1));
    Py_DECREF(item);
    if (!v || PyList_Append(values.ptr(), v.ptr()) < 0) return nullptr;
  }
  if (PyErr_Occurred()) return nullptr;
  nb::object np = nb::steal(PyImport_ImportModule("numpy"));
  if (!np) return nullptr;
  nb::object res = nb::steal(PyObject_CallMethod(np.ptr(), "array", "Os", values.ptr(), "float64"));
  if (!res) return nullptr;
  nb::object shape = nb::steal(PyObject_GetAttrString(arr, "shape"));
  if (!shape) return nullptr;
  return PyObject_CallMethod(res.ptr(), "reshape", "O", shape.ptr());
}

PyObject *evaluateSequence(const SolutionView &s, PyObject *seq, int depth, bool tuple) {
  nb::object items = nb::steal(PySequence_List(seq));
  if (!items) return nullptr;
  Py_ssize_t n = PyList_GET_SIZE(items.ptr());
  nb::object out = nb::steal(tuple ? PyTuple_New(n) : PyList_New(n));
  if (!out) return nullptr;
  for (Py_ssize_t i = 0; i < n; i++) {
    PyObject *v = evaluate(s, PyList_GET_ITEM(items.ptr(), i), depth - 1);
    if (!v) return nullptr;
    if (tuple) PyTuple_SET_ITEM(out.ptr(), i, v);
    else PyList_SET_ITEM(out.ptr(), i, v);
  }
  return out.release().ptr();
}

PyObject *evaluateDict(const SolutionView &s, PyObject *dict, int depth) {
  nb::object out = nb::steal(PyDict_New());
  if (!out) return nullptr;
  PyObject *key, *value;
  Py_ssize_t pos = 0;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    nb::object v = nb::steal(evaluate(s, value, depth - 1));
    if (!v || PyDict_SetItem(out.ptr(), key, v.ptr()) < 0) return nullptr;
  }
  return out.release().ptr();
}

PyObject *evaluate(const SolutionView &s, PyObject *obj, int depth) {
  if (depth < 1) {
    PyErr_SetString(PyExc_RuntimeError, "Evaluation of expression exceeded recursion depth limit");
    return nullptr;
  }
  PyObject *ndarray = ndarrayType();
  if (!ndarray) return nullptr;
  if (PyObject_TypeCheck(obj, (PyTypeObject *)ndarray)) return evaluateArray(s, obj, depth);
  if (PyUnicode_Check(obj)) {
    Py_ssize_t len;
    const char *name = PyUnicode_AsUTF8AndSize(obj, &len);
    return name ? namedValue(s, name, len) : nullptr;
  }
  if (PyBytes_Check(obj)) return namedValue(s, PyBytes_AS_STRING(obj), PyBytes_GET_SIZE(obj));
  if (PyTuple_Check(obj)) return evaluateSequence(s, obj, depth, true);
  if (PyList_Check(obj)) return evaluateSequence(s, obj, depth, false);
  if (PyDict_Check(obj)) return evaluateDict(s, obj, depth);
  if (kpy_isInteger(obj)) {
    nb::object idx = nb::steal(PyNumber_Index(obj));
    if (!idx) return nullptr;
    int overflow = 0;
    long long col = PyLong_AsLongLongAndOverflow(idx.ptr(), &overflow);
    if (col == -1 && PyErr_Occurred()) return nullptr;
    return overflow ? outOfRange() : columnValue(s, col);
  }
  if (Py_IS_TYPE(obj, &kpy_varType)) {
    int col;
    if (varToColIndex(s.prob, obj, &col, "korvex.evaluate") < 0) return nullptr;
    if (col < 0 || (size_t)col >= s.x.size()) {
      PyErr_SetString(kpy_ModelError, "Variable cannot be identified within expression");
      return nullptr;
    }
    return PyFloat_FromDouble(s.x[(size_t)col]);
  }
  if (kpy_isNumber(obj)) {
    double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(v);
  }
  if (Py_IS_TYPE(obj, &kpy_constraintType) || Py_IS_TYPE(obj, &kpy_sosType)) {
    PyErr_SetString(kpy_ModelError, "Evaluation of object of incorrect type");
    return nullptr;
  }
  if (PySequence_Check(obj)) return evaluateSequence(s, obj, depth, false);
  PyErr_SetString(PyExc_RuntimeError, "Cannot evaluate object");
  return nullptr;
}

// The number of columns a solution has.
int solutionColumns(problem_s *prob, int64_t *ncols) {
  if ((prob->nl_row_adds || prob->obj_is_nonlin) && kpy_env.nonlin_available == 1 && prob->nlprob &&
      KRVNgetintattrib) {
    int n = 0;
    if (KRVNgetintattrib(prob->nlprob, KRVN_NLPCOLS, &n) != 0) {
      setKrvxErrIfNull((PyObject *)prob, nullptr);
      return -1;
    }
    *ncols = n;
    return 0;
  }
  return kpy_getIntAttrib64(prob, KRVX_ORIGINALCOLS, ncols);
}

}  // namespace

PyObject *kpy_problem_getSolution(PyObject *self, PyObject *args, PyObject *kwargs) {
  problem_s *prob = kpy_prob(self);
  if (checkProblemIsInitialized(prob) < 0) return nullptr;
  return kpy_methodEdge([&]() -> PyObject * {
    if (kwargs && PyDict_GET_SIZE(kwargs) > 0) {
      PyErr_SetString(PyExc_TypeError, "getSolution() takes no keyword arguments");
      return nullptr;
    }
    int64_t ncols = 0;
    if (solutionColumns(prob, &ncols) < 0) return nullptr;
    std::vector<double> x((size_t)ncols);
    int status = 0;
    int rc = kpy_callSolverNoGIL(KRVXgetsolution, prob, &status, x.empty() ? nullptr : x.data(), 0,
                                 (int)ncols - 1);
    if (kpy_failed(prob, rc)) return nullptr;
    if (status != KRVX_SOLSTATUS_OPTIMAL && status != KRVX_SOLSTATUS_FEASIBLE) {
      PyErr_SetString(kpy_ModelError, "Solution is not available");
      return nullptr;
    }
    SolutionView s{prob, x};
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs == 0) return kpy_vector_to_List(x);
    if (nargs == 1) return evaluate(s, PyTuple_GET_ITEM(args, 0), kDepth);
    return evaluateSequence(s, args, kDepth + 1, true);
  });
}

const char kpy_doc_getSolution[] = KPY_DOC(
    "getSolution($self, /, *args)",
    "Returns values of the current solution of the problem.",
    "Solution",
    "x = problem.getSolution(*args)",
    "    args  Nothing, for the list of all column values; or column indices, column names,\n"
    "          variable objects, and lists, tuples, dictionaries or NumPy object arrays of them.",
    "One argument gives its value (a container gives a container of the same shape); several "
    "give a tuple. Raises korvex.ModelError \"Solution is not available\" when the problem has "
    "no solution.",
    "problem.optimize, problem.lpOptimize, problem.mipOptimize");
