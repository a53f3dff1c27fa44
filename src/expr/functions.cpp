// Module functions of the algebra: the elementary functions (values for numbers, element-wise
// results for arrays, unary nodes for model objects), max and min, user functions and
// piecewise linear functions; and the registration of every module function of the algebra.
#include "arrays/numpy.h"
#include "expr/aggregates.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

static double elementaryValue(int code, double v) {
  switch (code) {
    case NLOP_EXP: return std::exp(v);
    case NLOP_LOG: return std::log(v);
    case NLOP_LOG10: return std::log(v) * 0.4342944819032518;
    case NLOP_SIN: return std::sin(v);
    case NLOP_COS: return std::cos(v);
    case NLOP_TAN: return std::tan(v);
    case NLOP_ASIN: return std::asin(v);
    case NLOP_ACOS: return std::acos(v);
    case NLOP_ATAN: return std::atan(v);
    case NLOP_ABS: return std::fabs(v);
    case NLOP_SIGN: return v < 0 ? -1.0 : (v > 0 ? 1.0 : 0.0);
    case NLOP_ERF: return std::erf(v);
    case NLOP_ERFC: return std::erfc(v);
    case NLOP_SQRT: return std::sqrt(v);
  }
  return NAN;
}

static PyObject *applyElementary(PyObject *t, int code);

// The function applied element by element to a copy of the array. Numeric arrays give float64
// results; any other array is copied as objects, each element replaced by its result.
static PyObject *vector_compose_op(PyObject *array, int code) {
  if (kpy_numpy_ready() < 0) return nullptr;
  if (!PyArray_Check(array)) {
    PyErr_SetString(kpy_ModelError, "Cannot iterate on sequence of arguments");
    return nullptr;
  }
  PyArrayObject *a = (PyArrayObject *)array;
  int t = PyArray_TYPE(a);
  bool numeric = PyTypeNum_ISBOOL(t) || PyTypeNum_ISINTEGER(t) || PyTypeNum_ISFLOAT(t);
  PyArrayObject *copy = (PyArrayObject *)PyArray_FROM_OTF(
      array, numeric ? NPY_DOUBLE : NPY_OBJECT,
      NPY_ARRAY_CARRAY | NPY_ARRAY_ENSURECOPY | NPY_ARRAY_FORCECAST);
  if (!copy) {
    if (!PyErr_Occurred()) PyErr_SetString(kpy_ModelError, "Cannot iterate on sequence of arguments");
    return nullptr;
  }
  npy_intp n = PyArray_SIZE(copy);
  if (numeric) {
    double *d = (double *)PyArray_DATA(copy);
    for (npy_intp i = 0; i < n; ++i) d[i] = elementaryValue(code, d[i]);
  } else {
    PyObject **d = (PyObject **)PyArray_DATA(copy);
    for (npy_intp i = 0; i < n; ++i) {
      PyObject *r = applyElementary(d[i] ? d[i] : Py_None, code);
      if (!r) {
        Py_DECREF(copy);
        return nullptr;
      }
      Py_XSETREF(d[i], r);
    }
  }
  PyObject *res = kpy_as_kndarray((PyObject *)copy);
  Py_DECREF(copy);
  return res;
}

static PyObject *applyElementary(PyObject *t, int code) {
  if (kpy_isNumpyArray(t)) return vector_compose_op(t, code);
  if (isNumericScalar(t)) {
    double v = kpy_numberValue(t);
    if (v == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(elementaryValue(code, v));
  }
  return nonlin_instantiate_unary(code, t);
}

template <int CODE>
static PyObject *korvexmod_elementary(PyObject *, PyObject *t) {
  return applyElementary(t, CODE);
}

// ---------------------------------------------------------------------------------------
// max and min

// The one element of a one-element array as a number or object; null without error when its
// element type has no usable operand.
static PyObject *singleArrayElement(PyArrayObject *a) {
  int t = PyArray_TYPE(a);
  PyArrayObject *c = (PyArrayObject *)PyArray_FROM_OF((PyObject *)a, NPY_ARRAY_CARRAY_RO);
  if (!c) return nullptr;
  const void *p = PyArray_DATA(c);
  PyObject *res = nullptr;
  switch (t) {
    case NPY_INT8: res = PyLong_FromLong(*(const int8_t *)p); break;
    case NPY_INT16: res = PyLong_FromLong(*(const int16_t *)p); break;
    case NPY_INT32: res = PyLong_FromLong(*(const int32_t *)p); break;
    case NPY_INT64: res = PyLong_FromLongLong(*(const int64_t *)p); break;
    case NPY_FLOAT16: res = PyFloat_FromDouble(krvx_half_to_float(*(const uint16_t *)p)); break;
    case NPY_FLOAT32: res = PyFloat_FromDouble(*(const float *)p); break;
    case NPY_FLOAT64: res = PyFloat_FromDouble(*(const double *)p); break;
    case NPY_OBJECT: {
      PyObject *o = *(PyObject *const *)p;
      res = Py_NewRef(o ? o : Py_None);
      break;
    }
  }
  Py_DECREF(c);
  return res;
}

// The operands of max/min as a list or tuple (new reference), or null with an error.
static PyObject *gatherOperands(PyObject *args) {
  PyObject *ops = nullptr, *single = nullptr;
  if (PyTuple_GET_SIZE(args) != 1) return Py_NewRef(args);
  PyObject *a = PyTuple_GET_ITEM(args, 0);
  if (PyList_Check(a) || PyTuple_Check(a)) {
    Py_ssize_t n = PySequence_Fast_GET_SIZE(a);
    if (n == 1) single = Py_NewRef(PySequence_Fast_GET_ITEM(a, 0));
    // a list is copied so that later changes to it do not reach the node
    else ops = PyList_Check(a) ? PyList_GetSlice(a, 0, n) : Py_NewRef(a);
  } else if (kpy_isNumpyArray(a)) {
    if (kpy_numpy_ready() < 0) return nullptr;
    PyArrayObject *arr = (PyArrayObject *)a;
    if (PyArray_NDIM(arr) > 64) {
      PyErr_SetString(kpy_ModelError, "Array has far too many dimensions to be used in a nonlinear expression");
      return nullptr;
    }
    if (PyArray_SIZE(arr) == 1) {
      single = singleArrayElement(arr);
      if (!single && PyErr_Occurred()) return nullptr;
      if (!single) {
        PyErr_SetString(kpy_ModelError, "Incorrect argument for expression");
        return nullptr;
      }
    } else if (PyArray_NDIM(arr) > 1) {
      PyErr_SetString(kpy_ModelError, "Only a 1-dimensional array can be used in a nonlinear expression");
      return nullptr;
    } else {
      ops = PyArray_ToList(arr);
    }
  } else if (PySequence_Check(a) && !kpy_isModelOperand(a)) {
    ops = PySequence_List(a);
    if (ops && PyList_GET_SIZE(ops) == 1) {
      single = Py_NewRef(PyList_GET_ITEM(ops, 0));
      Py_CLEAR(ops);
    }
  } else {
    single = Py_NewRef(a);
  }
  if (single) {
    if (!kpy_isModelOperand(single) && !isNumericScalar(single)) {
      Py_DECREF(single);
      PyErr_SetString(kpy_ModelError, "Incorrect argument for expression");
      return nullptr;
    }
    ops = PyTuple_Pack(1, single);
    Py_DECREF(single);
  }
  return ops;
}

static PyObject *maxmin(PyObject *args, int code, const char *name) {
  PyObject *ops = gatherOperands(args);
  if (!ops) {
    // a failure while reading the operands that the algebra did not report itself
    if (!PyErr_ExceptionMatches(kpy_ModelError))
      kpy_replaceError(kpy_ModelError, code == NLOP_MAX ? "Incorrect argument for korvex.max function"
                                                        : "Incorrect argument for korvex.min function");
    return nullptr;
  }
  Py_ssize_t n = PySequence_Fast_GET_SIZE(ops);
  PyObject *res;
  if (n == 0) {
    PyErr_Format(kpy_ModelError, "The function korvex.%s must have at least one argument", name);
    res = nullptr;
  } else if (n == 1) {
    res = Py_NewRef(PySequence_Fast_GET_ITEM(ops, 0));
  } else {
    res = nonlin_instantiate_nary(code, ops);
  }
  Py_DECREF(ops);
  return res;
}

static PyObject *korvexmod_max(PyObject *, PyObject *args) { return maxmin(args, NLOP_MAX, "max"); }
static PyObject *korvexmod_min(PyObject *, PyObject *args) { return maxmin(args, NLOP_MIN, "min"); }

// ---------------------------------------------------------------------------------------
// user(f, a1, ..., derivatives=...)

static PyObject *korvexmod_user(PyObject *, PyObject *args, PyObject *kwargs) {
  if (PyTuple_GET_SIZE(args) < 2) {
    PyErr_SetString(kpy_InterfaceError, "korvex.user expects a function and at least one argument expression");
    return nullptr;
  }
  if (!PyCallable_Check(PyTuple_GET_ITEM(args, 0))) {
    PyErr_SetString(kpy_InterfaceError, "Invalid function passed to korvex.user");
    return nullptr;
  }
  int code = NLOP_USER_NODERIV;
  if (kwargs) {
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!PyUnicode_Check(key) || PyUnicode_CompareWithASCIIString(key, "derivatives") != 0) {
        PyErr_Format(PyExc_TypeError, "user() got an unexpected keyword argument '%S'", key);
        return nullptr;
      }
      if (PyUnicode_Check(value)) {
        const char *s = PyUnicode_AsUTF8(value);
        if (!s) return nullptr;
        if (!strcmp(s, "never") || !*s)
          code = NLOP_USER_NODERIV;
        else if (!strcmp(s, "always"))
          code = NLOP_USER_DERIV;
        else if (!strcmp(s, "ondemand"))
          code = NLOP_USER_OPTDERIV;
        else {
          PyErr_Format(kpy_InterfaceError, "Unknown value for argument derivatives: %s", s);
          return nullptr;
        }
      } else {
        int truth = PyObject_IsTrue(value);
        if (truth < 0) return nullptr;
        code = truth ? NLOP_USER_DERIV : NLOP_USER_NODERIV;
      }
    }
  }
  return nonlin_instantiate_nary(code, args);
}

// ---------------------------------------------------------------------------------------
// pwl({(a, b): value, ..., None: x})

namespace {
struct Interval {
  double x0, x1, y0, y1;
};
}  // namespace

// slope, intercept and variable (borrowed, or null) of an interval's value; -1 with an error
static int pwlValue(PyObject *value, double *s, double *c, PyObject **var) {
  *s = 0.0, *c = 0.0, *var = nullptr;
  if (isNumericScalar(value)) {
    *c = kpy_numberValue(value);
    return (*c == -1.0 && PyErr_Occurred()) ? -1 : 0;
  }
  if (kpy_isModelOperand(value) && check_first_var(value, nullptr) < 0) return -1;
  if (kpy_isVar(value)) {
    *s = 1.0, *var = value;
    return 0;
  }
  if (kpy_isLinterm(value)) {
    *s = ((linterm_s *)value)->coef, *var = (PyObject *)((linterm_s *)value)->var;
    return 0;
  }
  if (kpy_isExpression(value)) {
    expression_s *e = (expression_s *)value;
    size_t nquad = 0;
    if (e->quad)
      for (auto &kv : *e->quad) nquad += kv.second ? kv.second->size() : 0;
    size_t nlin = e->linear ? e->linear->size() : 0;
    if (nlin > 1 && !nquad) {
      PyErr_Format(kpy_ModelError,
                   "Expression %S not suitable for a piecewise linear function; it must contain one variable only",
                   value);
      return -1;
    }
    if (!nquad) {
      *c = e->constant;
      if (nlin == 1) {
        auto it = e->linear->begin();
        *s = it->second, *var = (PyObject *)it->first;
      }
      return 0;
    }
  }
  PyErr_Format(kpy_ModelError,
               "Expression %S not suitable for a piecewise linear function; it must be a constant or a linear function",
               value);
  return -1;
}

static void pwlVariableClash(double a, double b, PyObject *var) {
  char ends[160];
  snprintf(ends, sizeof ends, "Expression in [%g,%g] interval contains variable ", a, b);
  PyErr_Format(kpy_ModelError, "%s%S while another variable has been used in the same function", ends, var);
}

static PyObject *pwl(PyObject *dict) {
  if (!PyDict_Check(dict)) {
    PyErr_SetString(kpy_ModelError,
                    "Function korvex.pwl only accepts a dictionary; a call must be for example "
                    "korvex.pwl({(1,4): 2*x+1, (4,6): 4*x+5, ...})");
    return nullptr;
  }
  std::vector<Interval> recs;
  PyObject *fvar = nullptr;          // the function's variable (borrowed from the dictionary)
  double firstA = 0, firstB = 0;     // the interval that fixed it, when one did
  bool fromInterval = false;
  PyObject *key, *value;
  Py_ssize_t pos = 0;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (key == Py_None) {
      if (!kpy_isVar(value)) {
        PyErr_Format(kpy_ModelError, "Tuple (None, Obj) must have an korvex.var() object as Obj, found <%S>", value);
        return nullptr;
      }
      if (fromInterval && value != fvar) {
        pwlVariableClash(firstA, firstB, value);
        return nullptr;
      }
      fvar = value;
      continue;
    }
    if (!PyTuple_Check(key) || PyTuple_GET_SIZE(key) != 2) {
      PyErr_Format(kpy_ModelError, "All keys in the dictionary argument of korvex.pwl must be two-tuples; <%S> is not", key);
      return nullptr;
    }
    PyObject *ka = PyTuple_GET_ITEM(key, 0), *kb = PyTuple_GET_ITEM(key, 1);
    double a = 0, b = 0;
    bool ok = isNumericScalar(ka) && isNumericScalar(kb);
    if (ok) {
      a = kpy_numberValue(ka), b = kpy_numberValue(kb);
      if (PyErr_Occurred()) return nullptr;
      ok = a <= b;
    }
    if (!ok) {
      PyErr_Format(kpy_ModelError,
                   "All keys in the dictionary argument of korvex.pwl must be two-tuples with two constant "
                   "numbers: [a,b] such that a<b; <%S> is not",
                   key);
      return nullptr;
    }
    double s, c;
    PyObject *v;
    if (pwlValue(value, &s, &c, &v) < 0) return nullptr;
    if (v) {
      if (fvar && v != fvar) {
        pwlVariableClash(a, b, v);
        return nullptr;
      }
      if (!fromInterval) fromInterval = true, firstA = a, firstB = b;
      fvar = v;
    }
    Interval r{a, b, c + s * a, c + s * b};
    if ((std::fabs(r.y0) >= KPY_INFINITY || r.x0 <= -KPY_INFINITY) && std::fabs(r.y1) < KPY_INFINITY &&
        r.x1 < KPY_INFINITY)
      r.x0 = b - 0.88, r.y0 = s * r.x0 + c;
    if ((std::fabs(r.y1) >= KPY_INFINITY || r.x1 >= KPY_INFINITY) && std::fabs(r.y0) < KPY_INFINITY &&
        r.x0 > -KPY_INFINITY)
      r.x1 = a + 0.88, r.y1 = s * r.x1 + c;
    recs.push_back(r);
  }
  if (!fvar) {
    PyErr_Format(kpy_ModelError,
                 "No variable specified for this piecewise linear function: %S; Are all values constant? If so, "
                 "add a key-value pair (None: x) to the dictionary with the variable associated to the piecewise "
                 "linear",
                 dict);
    return nullptr;
  }
  std::stable_sort(recs.begin(), recs.end(), [](const Interval &l, const Interval &r) { return l.x0 < r.x0; });
  for (size_t i = 0; i + 1 < recs.size(); ++i)
    if (recs[i].x1 > recs[i + 1].x0) {
      PyObject *f[4] = {PyFloat_FromDouble(recs[i].x0), PyFloat_FromDouble(recs[i].x1),
                        PyFloat_FromDouble(recs[i + 1].x0), PyFloat_FromDouble(recs[i + 1].x1)};
      if (f[0] && f[1] && f[2] && f[3])
        PyErr_Format(kpy_ModelError, "Interval [%S,%S] overlaps with [%S,%S] in piecewise linear function", f[0],
                     f[1], f[2], f[3]);
      for (PyObject *o : f) Py_XDECREF(o);
      return nullptr;
    }
  PyObject *list = PyList_New(0);
  if (!list || PyList_Append(list, fvar) < 0) {
    Py_XDECREF(list);
    return nullptr;
  }
  auto appendPoint = [list](double x, double y) {
    PyObject *px = PyFloat_FromDouble(x), *py = PyFloat_FromDouble(y);
    int rc = (px && py && PyList_Append(list, px) == 0 && PyList_Append(list, py) == 0) ? 0 : -1;
    Py_XDECREF(px);
    Py_XDECREF(py);
    return rc;
  };
  for (size_t i = 0; i < recs.size(); ++i) {
    const Interval &r = recs[i];
    bool brk = i + 1 == recs.size() || recs[i + 1].x0 - r.x1 > 1e-6 || std::fabs(r.y1 - recs[i + 1].y0) > 1e-6;
    if (appendPoint(r.x0, r.y0) < 0 || (brk && appendPoint(r.x1, r.y1) < 0)) {
      Py_DECREF(list);
      return nullptr;
    }
  }
  PyObject *node = nonlin_instantiate_nary(NLOP_PWL, list);
  Py_DECREF(list);
  return node;
}

static PyObject *korvexmod_pwl(PyObject *, PyObject *dict) {
  return kpy_catchNoMemory([&] { return pwl(dict); });
}

// ---------------------------------------------------------------------------------------

#define KPY_ELEMENTARY(name, code, doc) \
  {#name, korvexmod_elementary<code>, METH_O, doc}

static PyMethodDef kpy_expr_functions[] = {
    KPY_ELEMENTARY(sin, NLOP_SIN, "sin(t): sine of a number, an array or an expression"),
    KPY_ELEMENTARY(cos, NLOP_COS, "cos(t): cosine of a number, an array or an expression"),
    KPY_ELEMENTARY(tan, NLOP_TAN, "tan(t): tangent of a number, an array or an expression"),
    KPY_ELEMENTARY(asin, NLOP_ASIN, "asin(t): arc sine of a number, an array or an expression"),
    KPY_ELEMENTARY(acos, NLOP_ACOS, "acos(t): arc cosine of a number, an array or an expression"),
    KPY_ELEMENTARY(atan, NLOP_ATAN, "atan(t): arc tangent of a number, an array or an expression"),
    KPY_ELEMENTARY(exp, NLOP_EXP, "exp(t): exponential of a number, an array or an expression"),
    KPY_ELEMENTARY(log, NLOP_LOG, "log(t): natural logarithm of a number, an array or an expression"),
    KPY_ELEMENTARY(log10, NLOP_LOG10, "log10(t): base-10 logarithm of a number, an array or an expression"),
    KPY_ELEMENTARY(abs, NLOP_ABS, "abs(t): absolute value of a number, an array or an expression"),
    KPY_ELEMENTARY(sqrt, NLOP_SQRT, "sqrt(t): square root of a number, an array or an expression"),
    KPY_ELEMENTARY(sign, NLOP_SIGN, "sign(t): sign (-1, 0 or 1) of a number, an array or an expression"),
    KPY_ELEMENTARY(erf, NLOP_ERF, "erf(t): error function of a number, an array or an expression"),
    KPY_ELEMENTARY(erfc, NLOP_ERFC, "erfc(t): complementary error function of a number, an array or an expression"),
    {"max", korvexmod_max, METH_VARARGS, "max(a, b, ...) or max(list): the maximum of expressions"},
    {"min", korvexmod_min, METH_VARARGS, "min(a, b, ...) or min(list): the minimum of expressions"},
    {"user", (PyCFunction)(void (*)(void))korvexmod_user, METH_VARARGS | METH_KEYWORDS,
     "user(f, a1, ..., an, derivatives='never'): the Python function f applied to expressions;\n"
     "derivatives is 'never', 'always' or 'ondemand' (True means 'always')"},
    {"pwl", korvexmod_pwl, METH_O,
     "pwl({(a, b): expr, ...}): a piecewise linear function of one variable given by intervals;\n"
     "a pair None: x names the variable when every value is constant"},
    {"Sum", korvexmod_Sum, METH_VARARGS, "Sum(t1, t2, ...) or Sum(collection): the sum of the operands"},
    {"Prod", korvexmod_Prod, METH_VARARGS, "Prod(t1, t2, ...) or Prod(collection): the product of the operands"},
    {"And", korvexmod_And, METH_VARARGS, "And(t1, t2, ...) or And(collection): the logical and of the operands"},
    {"Or", korvexmod_Or, METH_VARARGS, "Or(t1, t2, ...) or Or(collection): the logical or of the operands"},
    {"Dot", (PyCFunction)(void (*)(void))korvexmod_Dot, METH_VARARGS | METH_KEYWORDS,
     "Dot(t1, t2, ..., out=None): the chained dot product of arrays, sparse matrices and scalars"},
    {nullptr, nullptr, 0, nullptr}};

int kpy_expr_functions_register(PyObject *module) { return PyModule_AddFunctions(module, kpy_expr_functions); }
