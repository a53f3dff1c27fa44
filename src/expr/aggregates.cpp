// Aggregates Sum, Prod, And, Or and Dot: folds of any number of operands, given as arguments or
// as one collection, into one accumulator that the fold owns.
#include "arrays/numpy.h"
#include "expr/aggregates.h"

int expr_accumulate(PyObject **acc, double c, PyObject *item) {
  expression_s *e = (expression_s *)*acc;
  PyTypeObject *t = Py_TYPE(item);
  if (t == &kpy_lintermType) {
    linterm_s *l = (linterm_s *)item;
    return expression_addToLinTerm(e, l->var, c * l->coef) < 0 ? -1 : 1;
  }
  if (kpy_isVar(item)) return expression_addToLinTerm(e, (var_s *)item, c) < 0 ? -1 : 1;
  if (t == &kpy_quadtermType) {
    quadterm_s *q = (quadterm_s *)item;
    return expression_addToQuadTerm(e, q->var1, q->var2, c * q->coef) < 0 ? -1 : 1;
  }
  if (t == &kpy_expressionType) {
    PyObject *r = expression_incremental_alg_sum(*acc, item, c);
    if (!r) return -1;
    Py_SETREF(*acc, r);
    return 1;
  }
  if (isNumericScalar(item)) {
    double v = kpy_numberValue(item);
    if (v == -1.0 && PyErr_Occurred()) return -1;
    e->constant += c * v;
    return 1;
  }
  return 0;
}

static bool isEmptyExpression(PyObject *o) {
  expression_s *e = (expression_s *)o;
  return kpy_isExpression(o) && e->constant == 0.0 && (!e->linear || e->linear->empty()) &&
         (!e->quad || e->quad->empty());
}

int SumCell::add(double c, PyObject *item) {
  if (!acc && !(acc = expression_base())) return -1;
  if (kpy_isExpression(acc)) {
    int r = expr_accumulate(&acc, c, item);
    if (r) return r < 0 ? -1 : 0;
  }
  PyObject *term;
  if (c == 1.0) {
    term = Py_NewRef(item);
  } else {
    PyObject *f = PyFloat_FromDouble(c);
    term = f ? general_mul(f, item) : nullptr;
    Py_XDECREF(f);
  }
  if (!term) return -1;
  // an empty sum takes the first other item's copy rather than holding a zero
  PyObject *r = general_iadd(isEmptyExpression(acc) ? Py_None : acc, term);
  Py_DECREF(term);
  if (!r) return -1;
  Py_SETREF(acc, r);
  return 0;
}

int SumCell::addNumber(double v) {
  if (!acc && !(acc = expression_base())) return -1;
  if (kpy_isExpression(acc)) {
    ((expression_s *)acc)->constant += v;
    return 0;
  }
  PyObject *f = PyFloat_FromDouble(v);
  if (!f) return -1;
  int rc = add(1.0, f);
  Py_DECREF(f);
  return rc;
}

int SumCell::addProduct(PyObject *x, PyObject *y) {
  if (isNumericScalar(x) || isNumericScalar(y)) {
    if (!isNumericScalar(x)) std::swap(x, y);
    double v = kpy_numberValue(x);
    if (v == -1.0 && PyErr_Occurred()) return -1;
    return add(v, y);
  }
  PyObject *p = general_mul(x, y);
  if (!p) return -1;
  int rc = add(1.0, p);
  Py_DECREF(p);
  return rc;
}

int SumCell::reserve(size_t n) {
  if (!acc && !(acc = expression_base())) return -1;
  expression_s *e = (expression_s *)acc;
  if (!kpy_isExpression(acc) || e->linear || n == 0) return 0;
  if (!(e->linear = expr_linmap_new())) return -1;
  linmap_room(e->linear, n);
  return 0;
}

PyObject *SumCell::take() {
  PyObject *r = acc ? acc : expression_base();
  acc = nullptr;
  return r;
}

void kpy_replaceError(PyObject *type, const char *msg) {
  PyObject *cause = PyErr_GetRaisedException();
  PyErr_SetString(type, msg);
  PyObject *exc = PyErr_GetRaisedException();
  PyException_SetCause(exc, cause);
  PyErr_SetRaisedException(exc);
}

double kpy_miptol() {
  double tol = 5e-6;
  PyObject *v = kpy_env.ctrl_values ? PyDict_GetItemString(kpy_env.ctrl_values, "miptol") : nullptr;
  if (v) {
    double d = PyFloat_AsDouble(v);
    if (d == -1.0 && PyErr_Occurred())
      PyErr_Clear();
    else
      tol = d;
  }
  return tol;
}

// ---------------------------------------------------------------------------------------

namespace {
enum AggOp { AGG_SUM, AGG_PROD, AGG_AND, AGG_OR, AGG_DOT };

struct Fold {
  AggOp op;
  PyObject *out;
  PyObject *acc = nullptr;   // null stands for the None accumulator

  ~Fold() { Py_XDECREF(acc); }

  int step(PyObject *item, bool last) {
    if (item == Py_None) return 0;
    if (op == AGG_SUM && acc && kpy_isExpression(acc)) {
      int r = expr_accumulate(&acc, 1.0, item);
      if (r) return r < 0 ? -1 : 0;
    }
    PyObject *res;
    PyObject *a = acc ? acc : Py_None;
    switch (op) {
      case AGG_SUM: res = general_iadd(a, item); break;
      case AGG_PROD: res = general_imul(a, item); break;
      case AGG_AND:
      case AGG_OR:
        res = logicalStep(a, item);
        break;
      default: res = tensor_mult(a, item, last ? out : nullptr); break;
    }
    if (!res) return -1;
    Py_XSETREF(acc, res);
    return 0;
  }

  // Two numbers that are not both bool combine into 1.0 or 0.0 by the solver's reading of
  // logical values; everything else goes through the in-place and/or.
  PyObject *logicalStep(PyObject *a, PyObject *item) {
    if (a != Py_None && isNumericScalar(a) && isNumericScalar(item) && !(PyBool_Check(a) && PyBool_Check(item))) {
      double u = kpy_numberValue(a), v = kpy_numberValue(item);
      if (PyErr_Occurred()) return nullptr;
      double tol = kpy_miptol();
      bool r = op == AGG_AND ? (u > tol && v > tol) : (u > 1 - tol || v > 1 - tol);
      return PyFloat_FromDouble(r ? 1.0 : 0.0);
    }
    return op == AGG_AND ? general_iand(a, item) : general_ior(a, item);
  }

  int walkFast(PyObject *coll) {
    PyObject *seq = PySequence_Fast(coll, "Cannot iterate over sequence");
    if (!seq) {
      kpy_replaceError(kpy_ModelError, "Cannot iterate over sequence");
      return -1;
    }
    int rc = 0;
    for (Py_ssize_t i = 0; rc == 0 && i < PySequence_Fast_GET_SIZE(seq); ++i) {
      PyObject *item = Py_NewRef(PySequence_Fast_GET_ITEM(seq, i));
      rc = step(item, i + 1 == PySequence_Fast_GET_SIZE(seq));
      Py_DECREF(item);
    }
    Py_DECREF(seq);
    return rc;
  }

  int walkIterator(PyObject *it) {
    PyObject *cur = PyIter_Next(it);
    while (cur) {
      PyObject *next = PyIter_Next(it);
      int rc = (next || !PyErr_Occurred()) ? step(cur, next == nullptr) : -1;
      Py_DECREF(cur);
      if (rc < 0) {
        Py_XDECREF(next);
        return -1;
      }
      cur = next;
    }
    return PyErr_Occurred() ? -1 : 0;
  }

  int walkDict(PyObject *dict) {
    PyObject *values = PyDict_Values(dict);
    if (!values) return -1;
    int rc = walkFast(values);
    Py_DECREF(values);
    return rc;
  }

  int walkArray(PyArrayObject *arr) {
    static const char *msg = "Incorrect objects used in Sum, Dot, Prod, or aggregate functions";
    int t = PyArray_TYPE(arr);
    if ((t != NPY_OBJECT && t != NPY_BOOL && t != NPY_INT32 && t != NPY_FLOAT64) || !PyArray_ISNOTSWAPPED(arr)) {
      PyErr_SetString(kpy_ModelError, msg);
      return -1;
    }
    npy_intp n = PyArray_SIZE(arr);
    if (n == 0) return 0;
    NpyIter *iter = NpyIter_New(arr, NPY_ITER_READONLY | NPY_ITER_REFS_OK, NPY_KEEPORDER, NPY_NO_CASTING, nullptr);
    if (!iter) return -1;
    NpyIter_IterNextFunc *next = NpyIter_GetIterNext(iter, nullptr);
    if (!next) {
      NpyIter_Deallocate(iter);
      return -1;
    }
    char **ptr = NpyIter_GetDataPtrArray(iter);
    int rc = 0;
    npy_intp i = 0;
    do {
      PyObject *item;
      switch (t) {
        case NPY_OBJECT: item = Py_XNewRef(*(PyObject **)ptr[0]); break;
        case NPY_BOOL: item = PyLong_FromLong(*(npy_bool *)ptr[0] ? 1 : 0); break;
        case NPY_INT32: item = PyFloat_FromDouble(*(npy_int32 *)ptr[0]); break;
        default: item = PyFloat_FromDouble(*(double *)ptr[0]); break;
      }
      if (!item) {
        if (!PyErr_Occurred()) PyErr_SetString(kpy_ModelError, msg);
        rc = -1;
        break;
      }
      rc = step(item, ++i == n);
      Py_DECREF(item);
    } while (rc == 0 && next(iter));
    NpyIter_Deallocate(iter);
    return rc;
  }

  // Unpacks the operands and folds them; 0 or -1
  int reduce(PyObject *args) {
    PyObject *coll = PyTuple_GET_SIZE(args) == 1 ? PyTuple_GET_ITEM(args, 0) : args;
    if (PyTuple_Check(coll) || PyList_Check(coll)) return walkFast(coll);
    if (kpy_isNumpyArray(coll)) {
      if (kpy_numpy_ready() < 0) return -1;
      return walkArray((PyArrayObject *)coll);
    }
    if (PySequence_Check(coll) && !kpy_isModelOperand(coll)) {
      if (PySequence_Size(coll) < 0) {
        PyErr_Clear();
        PyErr_SetString(kpy_ModelError, "Invalid sequence of objects");
        return -1;
      }
      return walkFast(coll);
    }
    if (PyIter_Check(coll)) return walkIterator(coll);
    if (PyDict_Check(coll)) return walkDict(coll);
    if (kpy_isModelOperand(coll) || isNumericScalar(coll)) return step(coll, true);
    // any other iterable (dictionary views, sets, ...) is walked like an iterator
    if (PyObject *it = PyObject_GetIter(coll)) {
      int rc = walkIterator(it);
      Py_DECREF(it);
      return rc;
    }
    PyErr_Clear();
    PyErr_SetString(kpy_ModelError, "Invalid object in Sum or Prod operators");
    return -1;
  }

  PyObject *take() {
    PyObject *r = acc;
    acc = nullptr;
    return r;
  }
};
}  // namespace

PyObject *korvexmod_Sum(PyObject *, PyObject *args) {
  Fold f{AGG_SUM, nullptr};
  if (f.reduce(args) < 0) return nullptr;
  PyObject *r = f.take();
  if (!r) return expression_base();
  if (isNumericScalar(r)) {
    double v = kpy_numberValue(r);
    Py_DECREF(r);
    if (v == -1.0 && PyErr_Occurred()) return nullptr;
    PyObject *e = expression_base();
    if (e) ((expression_s *)e)->constant = v;
    return e;
  }
  return r;
}

static PyObject *foldOrDefault(AggOp op, PyObject *args, PyObject *out, PyObject *empty) {
  Fold f{op, out};
  if (f.reduce(args) < 0) return nullptr;
  PyObject *r = f.take();
  return r ? r : Py_NewRef(empty);
}

PyObject *korvexmod_Prod(PyObject *, PyObject *args) {
  PyObject *zero = PyFloat_FromDouble(0.0);
  PyObject *r = zero ? foldOrDefault(AGG_PROD, args, nullptr, zero) : nullptr;
  Py_XDECREF(zero);
  return r;
}

PyObject *korvexmod_And(PyObject *, PyObject *args) { return foldOrDefault(AGG_AND, args, nullptr, Py_True); }
PyObject *korvexmod_Or(PyObject *, PyObject *args) { return foldOrDefault(AGG_OR, args, nullptr, Py_True); }

PyObject *korvexmod_Dot(PyObject *, PyObject *args, PyObject *kwargs) {
  static const char *kwlist[] = {"out", nullptr};
  PyObject *out = nullptr;
  PyObject *empty = PyTuple_New(0);
  if (!empty) return nullptr;
  int ok = PyArg_ParseTupleAndKeywords(empty, kwargs, "|O", (char **)kwlist, &out);
  Py_DECREF(empty);
  if (!ok) return nullptr;
  if (out == Py_None) out = nullptr;
  PyObject *zero = PyFloat_FromDouble(0.0);
  PyObject *r = zero ? foldOrDefault(AGG_DOT, args, out, zero) : nullptr;
  Py_XDECREF(zero);
  return r;
}
