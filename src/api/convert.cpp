// Argument converters and result builders of the camelCase methods.
#include "api/convert.h"

#include <cstring>

namespace {

// NumPy scalar types that count as integers and as floating values (looked up once).
struct NumpyScalars {
  bool ready = false;
  PyTypeObject *ints[4] = {};
  PyTypeObject *floats[3] = {};
};
NumpyScalars np_scalars;

void loadNumpyScalars() {
  if (np_scalars.ready) return;
  np_scalars.ready = true;
  nb::error_scope keep;  // a pending error of the caller stays as it is
  // without NumPy no scalar of it is recognised
  PyObject *np = PyImport_ImportModule("numpy");
  if (!np) { PyErr_Clear(); return; }
  const char *inames[] = {"int8", "int16", "int32", "int64"};
  const char *fnames[] = {"float16", "float32", "float64"};
  for (int i = 0; i < 4; i++) {
    PyObject *t = PyObject_GetAttrString(np, inames[i]);
    if (t && PyType_Check(t)) np_scalars.ints[i] = (PyTypeObject *)t;  // kept for the process
    else { Py_XDECREF(t); PyErr_Clear(); }
  }
  for (int i = 0; i < 3; i++) {
    PyObject *t = PyObject_GetAttrString(np, fnames[i]);
    if (t && PyType_Check(t)) np_scalars.floats[i] = (PyTypeObject *)t;
    else { Py_XDECREF(t); PyErr_Clear(); }
  }
  Py_DECREF(np);
}

bool isNumpyInt(PyObject *obj) {
  loadNumpyScalars();
  for (PyTypeObject *t : np_scalars.ints)
    if (t && PyObject_TypeCheck(obj, t)) return true;
  return false;
}

bool isNumpyFloat(PyObject *obj) {
  loadNumpyScalars();
  for (PyTypeObject *t : np_scalars.floats)
    if (t && PyObject_TypeCheck(obj, t)) return true;
  return false;
}

// The 64-bit value of an accepted integer; -1 with the interpreter's error beyond 64 bits.
int integerValue(PyObject *obj, long long *out) {
  PyObject *idx = PyNumber_Index(obj);
  if (!idx) return -1;
  long long v = PyLong_AsLongLong(idx);
  Py_DECREF(idx);
  if (v == -1 && PyErr_Occurred()) return -1;
  *out = v;
  return 0;
}

int setInterfaceError(const char *text) {
  PyErr_SetString(kpy_InterfaceError, text);
  return -1;
}

int tooBig() {
  PyErr_SetString(PyExc_OverflowError, "int too big to convert");
  return -1;
}

// Index resolvers of rows, columns and sets.
struct IndexKind {
  const char *word;    // kind word of the messages
  int namekind;        // name look-up kind
  PyTypeObject *type;  // model object type
  int (*toIndex)(problem_s *, PyObject *, int *);
};

int varIndex(problem_s *prob, PyObject *obj, int *out) { return varToColIndex(prob, obj, out, nullptr); }

int objToIndex(const IndexKind &k, problem_s *prob, PyObject *obj, int *out, bool noObjects) {
  if (kpy_isInteger(obj)) {
    long long v;
    if (integerValue(obj, &v) < 0) return -1;
    if (v < -1 || v > 2147483647LL) {
      PyErr_Format(kpy_InterfaceError, "Invalid %s index", k.word);
      return -1;
    }
    *out = (int)v;
    return 0;
  }
  if (Py_IS_TYPE(obj, k.type)) {
    if (noObjects) {
      kpy_setErrorCannotPassObjectsNames(k.word, 0);
      return -1;
    }
    return k.toIndex(prob, obj, out) < 0 ? -1 : 0;
  }
  if (PyUnicode_Check(obj)) {
    if (noObjects) {
      kpy_setErrorCannotPassObjectsNames(k.word, 1);
      return -1;
    }
    std::string name;
    if (kpy_utf8Text(obj, &name) < 0) return -1;
    int index = -1;
    int rc = kpy_callSolverNoGIL(KRVXgetindex, prob, k.namekind, name.c_str(), &index);
    if (kpy_failed(prob, rc)) return -1;
    if (index == -1) {
      PyErr_Format(kpy_InterfaceError, "Unknown %s: %s", k.word, name.c_str());
      return -1;
    }
    *out = index;
    return 0;
  }
  PyErr_Format(kpy_InterfaceError, "Value is not a %s or %s index", k.word, k.word);
  return -1;
}

const IndexKind rowKind = {"constraint", 1, &kpy_constraintType, conToRowIndex};
const IndexKind colKind = {"variable", 2, &kpy_varType, varIndex};
const IndexKind sosKind = {"SOS", 3, &kpy_sosType, sosToSetIndex};

// Element rules of the iterable converters.
template <typename K> struct ElemRule;
template <> struct ElemRule<char> {
  static int conv(problem_s *p, PyObject *o, char *v, bool) { return kpy_ObjToChar(p, o, v); }
};
template <> struct ElemRule<double> {
  static int conv(problem_s *p, PyObject *o, double *v, bool) { return kpy_ObjToDouble(p, o, v); }
};
template <> struct ElemRule<int> {
  static int conv(problem_s *p, PyObject *o, int *v, bool) { return kpy_ObjToInt(p, o, v); }
};
template <> struct ElemRule<long> {
  static int conv(problem_s *p, PyObject *o, long *v, bool) {
    int64_t x;
    if (kpy_ObjToInt64(p, o, &x) < 0) return -1;
    *v = (long)x;
    return 0;
  }
};
template <> struct ElemRule<kpy_rowindex> {
  static int conv(problem_s *p, PyObject *o, int *v, bool no) { return kpy_ObjToRowIndex(p, o, v, no); }
};
template <> struct ElemRule<kpy_colindex> {
  static int conv(problem_s *p, PyObject *o, int *v, bool no) { return kpy_ObjToColIndex(p, o, v, no); }
};
template <> struct ElemRule<kpy_sosindex> {
  static int conv(problem_s *p, PyObject *o, int *v, bool no) { return kpy_ObjToSosIndex(p, o, v, no); }
};
template <> struct ElemRule<kpy_poolcut> {
  static int conv(problem_s *, PyObject *o, void **v, bool) {
    if (!Py_IS_TYPE(o, &kpy_poolcutType)) return setInterfaceError("Value is not a poolcut object");
    *v = poolcut_getcut(o);
    return 0;
  }
};

}  // namespace

bool kpy_isInteger(PyObject *obj) { return PyLong_Check(obj) || isNumpyInt(obj); }

bool kpy_isNumber(PyObject *obj) { return PyFloat_Check(obj) || kpy_isInteger(obj) || isNumpyFloat(obj); }

int kpy_ObjToString(problem_s *, PyObject *obj, std::string *out) {
  if (!PyUnicode_Check(obj)) return setInterfaceError("Value is not a string");
  return kpy_utf8Text(obj, out);
}

int kpy_ObjToInt64(problem_s *, PyObject *obj, int64_t *out) {
  if (!kpy_isInteger(obj)) return setInterfaceError("Value is not an integer");
  long long v;
  if (integerValue(obj, &v) < 0) return -1;
  *out = v;
  return 0;
}

int kpy_ObjToInt(problem_s *prob, PyObject *obj, int *out) {
  int64_t v;
  if (kpy_ObjToInt64(prob, obj, &v) < 0) return -1;
  if (v < -2147483647LL || v > 2147483647LL) return tooBig();
  *out = (int)v;
  return 0;
}

int kpy_ObjToChar(problem_s *, PyObject *obj, char *out) {
  if (PyUnicode_Check(obj)) {
    Py_ssize_t len = PyUnicode_GetLength(obj);
    if (len < 0) return -1;
    if (len != 1) return setInterfaceError("Value is not a single character");
    Py_UCS4 c = PyUnicode_ReadChar(obj, 0);
    if (c >= 128) return tooBig();
    *out = (char)c;
    return 0;
  }
  if (kpy_isInteger(obj)) {
    long long v;
    if (integerValue(obj, &v) < 0) return -1;
    if (v < 0 || v > 127) return tooBig();
    *out = (char)v;
    return 0;
  }
  return setInterfaceError("Value is not a character");
}

int kpy_ObjToDouble(problem_s *, PyObject *obj, double *out) {
  if (kpy_isInteger(obj)) {
    PyObject *idx = PyNumber_Index(obj);
    if (!idx) return -1;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(idx, &overflow);
    Py_DECREF(idx);
    if (v == -1 && PyErr_Occurred()) return -1;
    const long long lim = 9007199254740992LL;  // 2^53
    if (overflow || v < -lim || v > lim) return tooBig();
    *out = (double)v;
    return 0;
  }
  if (PyFloat_Check(obj) || isNumpyFloat(obj)) {
    double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return -1;
    *out = v;
    return 0;
  }
  return setInterfaceError("Value is not a number");
}

int kpy_ObjToRowIndex(problem_s *prob, PyObject *obj, int *out, bool noObjects) {
  return objToIndex(rowKind, prob, obj, out, noObjects);
}
int kpy_ObjToColIndex(problem_s *prob, PyObject *obj, int *out, bool noObjects) {
  return objToIndex(colKind, prob, obj, out, noObjects);
}
int kpy_ObjToSosIndex(problem_s *prob, PyObject *obj, int *out, bool noObjects) {
  return objToIndex(sosKind, prob, obj, out, noObjects);
}

int kpy_ObjToRowColIndex(problem_s *prob, PyObject *obj, int *out, bool noObjects) {
  if (kpy_isInteger(obj)) {
    long long v;
    if (integerValue(obj, &v) < 0 || v < 0 || v > 2147483647LL) {
      PyErr_Clear();
      return setInterfaceError("Invalid variable or constraint index");
    }
    *out = (int)v;
    return 0;
  }
  bool isvar = Py_IS_TYPE(obj, &kpy_varType), iscon = Py_IS_TYPE(obj, &kpy_constraintType);
  if (!isvar && !iscon) return setInterfaceError("Value is not a variable, constraint or index");
  if (noObjects) {
    kpy_setErrorCannotPassObjectsNames("", 0);
    return -1;
  }
  if (iscon) return conToRowIndex(prob, obj, out) < 0 ? -1 : 0;
  int col;
  if (varToColIndex(prob, obj, &col, nullptr) < 0) return -1;
  int rows = 0, spare = 0;
  if (KRVXgetintattrib(prob->prob, KRVX_ROWS, &rows) != 0 ||
      KRVXgetintattrib(prob->prob, KRVX_SPAREROWS, &spare) != 0) {
    setKrvxErrIfNull((PyObject *)prob, nullptr);
    return -1;
  }
  int64_t v = (int64_t)rows + spare + col;
  if (v > 2147483647LL) return setInterfaceError("Invalid variable or constraint index");
  *out = (int)v;
  return 0;
}

template <typename K>
int kpy_Iterable_to_vector(problem_s *prob, const char *argname,
                           std::vector<typename kpy_elem<K>::type> *out, PyObject *obj, bool noObjects) {
  out->clear();
  Py_ssize_t n = PyObject_Size(obj);
  if (n < 0) PyErr_Clear();
  else out->reserve((size_t)n);
  PyObject *it = PyObject_GetIter(obj);
  if (!it) {
    PyErr_Clear();
    PyErr_Format(kpy_InterfaceError, "Argument '%s' must be iterable", argname);
    return -1;
  }
  nb::object iter = nb::steal(it);
  for (;;) {
    PyObject *item = PyIter_Next(it);
    if (!item) {
      if (PyErr_Occurred()) throw nb::python_error();
      return 0;
    }
    typename kpy_elem<K>::type v{};
    int rc = ElemRule<K>::conv(prob, item, &v, noObjects);
    Py_DECREF(item);
    if (rc < 0) {
      std::string text = kpy_PyErr_ToString();
      PyErr_Format(kpy_InterfaceError, "Error in element %d of argument '%s': %s", (int)out->size(),
                   argname, text.c_str());
      return -1;
    }
    out->push_back(v);
  }
}

template int kpy_Iterable_to_vector<char>(problem_s *, const char *, std::vector<char> *, PyObject *, bool);
template int kpy_Iterable_to_vector<double>(problem_s *, const char *, std::vector<double> *, PyObject *, bool);
template int kpy_Iterable_to_vector<long>(problem_s *, const char *, std::vector<long> *, PyObject *, bool);
template int kpy_Iterable_to_vector<int>(problem_s *, const char *, std::vector<int> *, PyObject *, bool);
template int kpy_Iterable_to_vector<kpy_rowindex>(problem_s *, const char *, std::vector<int> *, PyObject *, bool);
template int kpy_Iterable_to_vector<kpy_colindex>(problem_s *, const char *, std::vector<int> *, PyObject *, bool);
template int kpy_Iterable_to_vector<kpy_sosindex>(problem_s *, const char *, std::vector<int> *, PyObject *, bool);
template int kpy_Iterable_to_vector<kpy_poolcut>(problem_s *, const char *, std::vector<void *> *, PyObject *, bool);

int kpy_argError(const char *argname) {
  std::string text = kpy_PyErr_ToString();
  PyErr_Format(kpy_InterfaceError, "Error in argument '%s': %s", argname, text.c_str());
  return -1;
}

int kpy_argString(problem_s *prob, const char *argname, PyObject *obj, std::string *out, bool required) {
  if (!obj || (obj == Py_None && !required)) return 0;
  return kpy_ObjToString(prob, obj, out) < 0 ? kpy_argError(argname) : 0;
}

int kpy_argInt(problem_s *prob, const char *argname, PyObject *obj, int *out, bool required) {
  if (!obj || (obj == Py_None && !required)) return 0;
  return kpy_ObjToInt(prob, obj, out) < 0 ? kpy_argError(argname) : 0;
}

int kpy_groupCount(const char *message, const long long *sizes, int n, long long *count) {
  long long c = -1;
  for (int i = 0; i < n; i++) {
    if (sizes[i] < 0) continue;
    if (c < 0) c = sizes[i];
    else if (sizes[i] != c) return setInterfaceError(message);
  }
  *count = c < 0 ? 0 : c;
  return 0;
}

// ---- result builders ----

namespace {
PyObject *toPy(int v) { return PyLong_FromLong(v); }
PyObject *toPy(long long v) { return PyLong_FromLongLong(v); }
PyObject *toPy(long v) { return PyLong_FromLong(v); }
PyObject *toPy(double v) { return PyFloat_FromDouble(v); }
PyObject *toPy(signed char v) { return PyLong_FromLong(v); }
PyObject *toPy(char v) {
  char s[2] = {v, 0};
  return PyUnicode_FromString(s);
}
PyObject *toPy(void *cut) { return poolcut_create(cut); }

template <typename T>
PyObject *buildList(const std::vector<T> &v) {
  PyObject *list = PyList_New(0);
  if (!list) return nullptr;
  for (const T &x : v) {
    PyObject *item = toPy(x);
    if (!item) {
      Py_DECREF(list);
      return nullptr;
    }
    int rc = PyList_Append(list, item);
    Py_DECREF(item);
    if (rc < 0) {
      Py_DECREF(list);
      throw nb::python_error();
    }
  }
  return list;
}
}  // namespace

template <typename T> PyObject *kpy_vector_to_List(const std::vector<T> &v) { return buildList(v); }
template PyObject *kpy_vector_to_List<int>(const std::vector<int> &);
template PyObject *kpy_vector_to_List<long long>(const std::vector<long long> &);
template PyObject *kpy_vector_to_List<long>(const std::vector<long> &);
template PyObject *kpy_vector_to_List<double>(const std::vector<double> &);
template PyObject *kpy_vector_to_List<char>(const std::vector<char> &);
template PyObject *kpy_vector_to_List<signed char>(const std::vector<signed char> &);

PyObject *kpy_poolcuts_to_List(const std::vector<void *> &v) { return buildList(v); }

