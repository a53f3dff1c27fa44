// Argument converters and result builders of the camelCase methods.
#include "api/arguments.h"
#include "arrays/numpy.h"
#include "expr/expr.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

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

// Value ranges of the converters
constexpr long long kMaxInt32 = 2147483647LL;
constexpr long long kMaxExactInt = 9007199254740992LL;  // 2^53: integers a double holds exactly
bool fitsInt(long long v) { return v >= -kMaxInt32 && v <= kMaxInt32; }
bool fitsIndex(long long v) { return v >= -1 && v <= kMaxInt32; }
bool fitsChar(long long v) { return v >= 0 && v <= 127; }
bool fitsDouble(long long v) { return v >= -kMaxExactInt && v <= kMaxExactInt; }

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
    if (!fitsIndex(v)) {
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

// Element rules of the iterable converters: conv takes any object (setting the element's error);
// fromInt and fromFloat take a plain value straight, false when the rule refuses it or has no
// such shortcut (conv on the element's object then decides and gives the message).
struct NoDirect {
  template <typename T> static bool fromInt(long long, T *) { return false; }
  template <typename T> static bool fromFloat(double, T *) { return false; }
};
template <typename K> struct ElemRule;
template <> struct ElemRule<char> : NoDirect {
  static int conv(problem_s *p, PyObject *o, char *v, bool) { return kpy_ObjToChar(p, o, v); }
  static bool fromInt(long long x, char *v) { return fitsChar(x) && (*v = (char)x, true); }
};
template <> struct ElemRule<double> {
  static int conv(problem_s *p, PyObject *o, double *v, bool) { return kpy_ObjToDouble(p, o, v); }
  static bool fromInt(long long x, double *v) { return fitsDouble(x) && (*v = (double)x, true); }
  static bool fromFloat(double x, double *v) { return *v = x, true; }
};
template <> struct ElemRule<int> : NoDirect {
  static int conv(problem_s *p, PyObject *o, int *v, bool) { return kpy_ObjToInt(p, o, v); }
  static bool fromInt(long long x, int *v) { return fitsInt(x) && (*v = (int)x, true); }
};
template <> struct ElemRule<long> : NoDirect {
  static int conv(problem_s *p, PyObject *o, long *v, bool) {
    int64_t x;
    if (kpy_ObjToInt64(p, o, &x) < 0) return -1;
    *v = (long)x;
    return 0;
  }
  static bool fromInt(long long x, long *v) { return *v = (long)x, true; }
};
struct IndexRule : NoDirect {
  static bool fromInt(long long x, int *v) { return fitsIndex(x) && (*v = (int)x, true); }
};
template <> struct ElemRule<kpy_rowindex> : IndexRule {
  static int conv(problem_s *p, PyObject *o, int *v, bool no) { return kpy_ObjToRowIndex(p, o, v, no); }
};
template <> struct ElemRule<kpy_colindex> : IndexRule {
  static int conv(problem_s *p, PyObject *o, int *v, bool no) { return kpy_ObjToColIndex(p, o, v, no); }
};
template <> struct ElemRule<kpy_sosindex> : IndexRule {
  static int conv(problem_s *p, PyObject *o, int *v, bool no) { return kpy_ObjToSosIndex(p, o, v, no); }
};
template <> struct ElemRule<kpy_poolcut> : NoDirect {
  static int conv(problem_s *, PyObject *o, void **v, bool) {
    if (!Py_IS_TYPE(o, &kpy_poolcutType)) return setInterfaceError("Value is not a poolcut object");
    *v = poolcut_getcut(o);
    return 0;
  }
};

// An exact Python float or int taken straight by the rule; false leaves the object to conv.
template <typename K, typename T> bool quickElem(PyObject *o, T *v) {
  if (PyFloat_CheckExact(o)) return ElemRule<K>::fromFloat(PyFloat_AS_DOUBLE(o), v);
  if (!PyLong_CheckExact(o)) return false;
  int overflow = 0;
  long long x = PyLong_AsLongLongAndOverflow(o, &overflow);
  return !overflow && ElemRule<K>::fromInt(x, v);
}

// ---- NumPy arrays read from their buffer ----

// 1 for the registered integer scalar types, 2 for the floating ones, 0 for any other
int scalarKind(PyTypeObject *t) {
  loadNumpyScalars();
  for (PyTypeObject *s : np_scalars.ints)
    if (s && PyType_IsSubtype(t, s)) return 1;
  for (PyTypeObject *s : np_scalars.floats)
    if (s && PyType_IsSubtype(t, s)) return 2;
  return 0;
}

// True when the type fetches items as ndarray does (a subclass overrides neither __iter__ nor
// __getitem__; its slots alone do not tell, as a subclass gets generic ones).
bool ndarrayItemAccess(PyTypeObject *tp) {
  if (tp == kpy_np_ndarray) return true;
  for (const char *name : {"__iter__", "__getitem__"}) {
    PyObject *mine = PyObject_GetAttrString((PyObject *)tp, name);
    PyObject *base = mine ? PyObject_GetAttrString((PyObject *)kpy_np_ndarray, name) : nullptr;
    bool same = mine && mine == base;
    Py_XDECREF(mine);
    Py_XDECREF(base);
    if (!same) {
      PyErr_Clear();
      return false;
    }
  }
  return true;
}

// Element i of a strided buffer, in either byte order
template <typename S> S readItem(const char *base, npy_intp stride, npy_intp i, bool swapped) {
  unsigned char b[sizeof(S)];
  std::memcpy(b, base + i * stride, sizeof(S));
  if (swapped) std::reverse(b, b + sizeof(S));
  S v;
  std::memcpy(&v, b, sizeof(S));
  return v;
}

// Reads n items of source type S through the rule; false at the first refused value.
template <typename K, typename S, typename T>
bool readArray(const char *base, npy_intp stride, npy_intp n, bool swapped, T *dst) {
  for (npy_intp i = 0; i < n; ++i) {
    S s = readItem<S>(base, stride, i, swapped);
    bool ok;
    if constexpr (std::is_same_v<S, npy_half>) ok = ElemRule<K>::fromFloat(krvx_half_to_float(s), dst + i);
    else if constexpr (std::is_floating_point_v<S>) ok = ElemRule<K>::fromFloat((double)s, dst + i);
    else ok = ElemRule<K>::fromInt((long long)s, dst + i);
    if (!ok) return false;
  }
  return true;
}

// A one-dimensional NumPy array of a registered integer or floating scalar type, whose items are
// fetched the ndarray way (no overridden iteration or item access), read straight from its
// buffer: true when *out holds its values. False (out empty) when the array is not such an array
// or holds a value the rule refuses; the object path then gives the same values or error.
template <typename K, typename T> bool arrayToVector(PyObject *obj, std::vector<T> *out) {
  if (!kpy_isNumpyArray(obj)) return false;
  if (!ndarrayItemAccess(Py_TYPE(obj))) return false;
  if (kpy_numpy_ready() < 0) {
    PyErr_Clear();
    return false;
  }
  PyArrayObject *a = (PyArrayObject *)obj;
  if (PyArray_NDIM(a) != 1) return false;
  int kind = scalarKind(PyArray_DESCR(a)->typeobj);
  if (kind == 0) return false;
  const npy_intp n = PyArray_DIM(a, 0), stride = PyArray_STRIDE(a, 0), size = PyArray_ITEMSIZE(a);
  const char *base = PyArray_BYTES(a);
  const bool sw = !PyArray_ISNOTSWAPPED(a);
  out->resize((size_t)n);
  T *d = out->data();
  bool ok = false;
  if (kind == 1) {
    switch (size) {
      case 1: ok = readArray<K, npy_int8>(base, stride, n, sw, d); break;
      case 2: ok = readArray<K, npy_int16>(base, stride, n, sw, d); break;
      case 4: ok = readArray<K, npy_int32>(base, stride, n, sw, d); break;
      case 8: ok = readArray<K, npy_int64>(base, stride, n, sw, d); break;
    }
  } else {
    switch (size) {
      case 2: ok = readArray<K, npy_half>(base, stride, n, sw, d); break;
      case 4: ok = readArray<K, npy_float32>(base, stride, n, sw, d); break;
      case 8: ok = readArray<K, npy_float64>(base, stride, n, sw, d); break;
    }
  }
  if (!ok) out->clear();
  return ok;
}

// An exact str of ASCII characters as a char vector (each character is one accepted element).
template <typename K, typename T> bool textToVector(PyObject *obj, std::vector<T> *out) {
  if constexpr (std::is_same_v<K, char>) {
    if (!PyUnicode_CheckExact(obj) || !PyUnicode_IS_ASCII(obj)) return false;
    const char *p = (const char *)PyUnicode_1BYTE_DATA(obj);
    out->assign(p, p + PyUnicode_GET_LENGTH(obj));
    return true;
  } else {
    (void)obj;
    (void)out;
    return false;
  }
}

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
  if (!fitsInt(v)) return tooBig();
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
    if (!fitsChar(v)) return tooBig();
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
    if (overflow || !fitsDouble(v)) return tooBig();
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
  if (kpy_sendRowsFirst(prob) < 0) return -1;
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
  using T = typename kpy_elem<K>::type;
  out->clear();
  if (arrayToVector<K>(obj, out) || textToVector<K>(obj, out)) return 0;
  // one element; its index is the count taken so far
  auto take = [&](PyObject *item) {
    T v{};
    if (!quickElem<K>(item, &v) && ElemRule<K>::conv(prob, item, &v, noObjects) < 0) {
      std::string text = kpy_PyErr_ToString();
      PyErr_Format(kpy_InterfaceError, "Error in element %d of argument '%s': %s", (int)out->size(),
                   argname, text.c_str());
      return -1;
    }
    out->push_back(v);
    return 0;
  };
  if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
    // by position, as their iterators do (a list may change while an element is converted)
    out->reserve((size_t)Py_SIZE(obj));
    for (Py_ssize_t i = 0; i < Py_SIZE(obj); ++i) {
      PyObject *item = Py_NewRef(PyList_CheckExact(obj) ? PyList_GET_ITEM(obj, i) : PyTuple_GET_ITEM(obj, i));
      int rc = take(item);
      Py_DECREF(item);
      if (rc < 0) return -1;
    }
    return 0;
  }
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
    int rc = take(item);
    Py_DECREF(item);
    if (rc < 0) return -1;
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

template <typename K>
bool kpy_borrowArray(PyObject *obj, const typename kpy_elem<K>::type **data, int64_t *n) {
  using T = typename kpy_elem<K>::type;
  if constexpr (std::is_same_v<K, char>) {
    if (!PyUnicode_CheckExact(obj) || !PyUnicode_IS_ASCII(obj)) return false;
    *data = (const char *)PyUnicode_1BYTE_DATA(obj);
    *n = PyUnicode_GET_LENGTH(obj);
    return true;
  } else if constexpr (std::is_arithmetic_v<T>) {
    // exact arrays only: looking at a subclass may run Python code
    if (!kpy_np_ndarray || !Py_IS_TYPE(obj, kpy_np_ndarray)) return false;
    if (kpy_numpy_ready() < 0) {
      PyErr_Clear();
      return false;
    }
    PyArrayObject *a = (PyArrayObject *)obj;
    if (PyArray_NDIM(a) != 1 || PyArray_ITEMSIZE(a) != (npy_intp)sizeof(T) || !PyArray_ISNOTSWAPPED(a) ||
        !PyArray_ISALIGNED(a) || (PyArray_DIM(a, 0) > 1 && PyArray_STRIDE(a, 0) != (npy_intp)sizeof(T)))
      return false;
    if (scalarKind(PyArray_DESCR(a)->typeobj) != (std::is_floating_point_v<T> ? 2 : 1)) return false;
    const T *p = (const T *)PyArray_DATA(a);
    const npy_intp len = PyArray_DIM(a, 0);
    if constexpr (std::is_integral_v<T>) {
      T v;
      for (npy_intp i = 0; i < len; ++i)
        if (!ElemRule<K>::fromInt((long long)p[i], &v)) return false;
    }
    *data = p;
    *n = len;
    return true;
  } else {
    return false;
  }
}

template bool kpy_borrowArray<char>(PyObject *, const char **, int64_t *);
template bool kpy_borrowArray<double>(PyObject *, const double **, int64_t *);
template bool kpy_borrowArray<long>(PyObject *, const long **, int64_t *);
template bool kpy_borrowArray<int>(PyObject *, const int **, int64_t *);
template bool kpy_borrowArray<kpy_rowindex>(PyObject *, const int **, int64_t *);
template bool kpy_borrowArray<kpy_colindex>(PyObject *, const int **, int64_t *);

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
PyObject *toPy(signed char v) { return PyLong_FromLong(v); }
PyObject *toPy(char v) {
  char s[2] = {v, 0};
  return kpy_solverText(s);
}

// Float results repeat values (limits of 1e20, zeros, equal neighbours): equal values (bit for
// bit) met again while a list is built share one object, found in a small table.
class FloatCache {
 public:
  FloatCache() = default;
  FloatCache(const FloatCache &) = delete;
  FloatCache &operator=(const FloatCache &) = delete;
  ~FloatCache() {
    for (PyObject *o : obj_) Py_XDECREF(o);
  }
  PyObject *get(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const size_t k = size_t((bits * 0x9E3779B97F4A7C15ull) >> 58);
    if (!obj_[k] || bits_[k] != bits) {
      PyObject *o = PyFloat_FromDouble(v);
      if (!o) return nullptr;
      Py_XDECREF(obj_[k]);
      obj_[k] = o;
      bits_[k] = bits;
    }
    return Py_NewRef(obj_[k]);
  }

 private:
  PyObject *obj_[64] = {};
  uint64_t bits_[64] = {};
};

template <typename T>
PyObject *buildList(const std::vector<T> &v) {
  PyObject *list = PyList_New(Py_ssize_t(v.size()));
  if (!list) return nullptr;
  FloatCache floats;
  for (size_t k = 0; k < v.size(); ++k) {
    PyObject *item;
    if constexpr (std::is_same_v<T, double>) item = floats.get(v[k]);
    else item = toPy(v[k]);
    if (!item) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, Py_ssize_t(k), item);
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


