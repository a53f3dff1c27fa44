// Evaluation of expressions: values of variables from a dictionary, an array indexed by column or
// a problem's solution; every operation of the algebra computed in double precision.
#include "expr/evaluate.h"
#include "api/frame.h"
#include "arrays/numpy.h"
#include "expr/aggregates.h"
#include <cmath>

namespace {

PyObject *runtimeError(const char *msg) {
  PyErr_SetString(PyExc_RuntimeError, msg);
  return nullptr;
}
int fail(PyObject *type, const char *msg) {
  PyErr_SetString(type, msg);
  return -1;
}

const char kDepthText[] = "Evaluation of expression exceeded recursion depth limit";
const char kOutOfRange[] = "Call to korvex.problem.getSolution() contains an out-of-range index";

// Comparisons of model objects compare structurally (not into constraints) while it lives.
struct ConstraintOpsOff {
  unsigned char saved = kpy_env.constraint_ops;
  ConstraintOpsOff() { kpy_env.constraint_ops = 0; }
  ~ConstraintOpsOff() { kpy_env.constraint_ops = saved; }
};

// The problem a variable's column is resolved in: the map's, else the variable's own owner
// (a deleted variable has none).
problem_s *resolvingProblem(const var_map *map, const var_s *v) {
  if (map->problem) return map->problem;
  return kpy_isDeleted(v->owner) ? nullptr : v->owner;
}

int noValue() { return fail(kpy_ModelError, "Variable has no value"); }

int dictValue(const var_map *map, PyObject *var, double *out) {
  var_s *v = (var_s *)var;
  PyObject *value = nullptr;
  {
    ConstraintOpsOff off;
    int found = PyDict_GetItemRef(map->dict, var, &value);
    if (found < 0) return -1;
    if (found == 0) {
      problem_s *p = resolvingProblem(map, v);
      int col = -1;
      if (!p || varToColIndex(p, var, &col, "korvex.evaluate") < 0) {
        PyErr_Clear();
        return noValue();
      }
      PyObject *key = PyLong_FromLong(col);
      if (!key) return -1;
      found = PyDict_GetItemRef(map->dict, key, &value);
      Py_DECREF(key);
      if (found <= 0) {
        PyErr_Clear();
        return noValue();
      }
    }
  }
  double d = PyFloat_AsDouble(value);
  Py_DECREF(value);
  if (d == -1.0 && PyErr_Occurred()) return -1;
  *out = d;
  return 0;
}

int arrayValue(const var_map *map, PyObject *var, double *out) {
  var_s *v = (var_s *)var;
  problem_s *p = resolvingProblem(map, v);
  if (!p) {
    if (kpy_isDeleted(v->owner)) return fail(kpy_ModelError, "Variable has been deleted from the problem");
    return fail(kpy_InterfaceError,
                "Argument \"problem\" is necessary when passing the solution as a list, array or dict keyed by index");
  }
  int col = -1;
  if (varToColIndex(p, var, &col, "korvex.evaluate") < 0) return -1;
  if (col < 0 || col >= map->length)
    return fail(kpy_ModelError, "Variable cannot be identified within expression");
  *out = map->values[col];
  return 0;
}

// ---------------------------------------------------------------------------------------
// nonlinear nodes

// The argument container of an n-ary or binary node as a borrowed item array.
struct Args {
  PyObject *const *items = nullptr;
  Py_ssize_t n = 0;
};
bool nodeArgs(nonlin_s *node, Args *a) {
  PyObject *args = node->args;
  if (args && PyList_Check(args)) {
    a->items = &PyList_GET_ITEM(args, 0);
    a->n = PyList_GET_SIZE(args);
    return true;
  }
  if (args && PyTuple_Check(args)) {
    a->items = &PyTuple_GET_ITEM(args, 0);
    a->n = PyTuple_GET_SIZE(args);
    return true;
  }
  PyErr_SetString(kpy_ModelError, "Nonlinear argument is not iterable");
  return false;
}

// Evaluates the arguments of a node from index first on, in order, handing each value to
// take(value) until it returns false; 0 or -1. The container is held and read by index each
// time, since a user function may change it.
template <class F>
int forEachArg(PyObject *node, const var_map *map, int depth, Py_ssize_t first, F &&take) {
  Args a;
  if (!nodeArgs((nonlin_s *)node, &a)) return -1;
  PyObject *args = ((nonlin_s *)node)->args;
  Py_INCREF(args);
  int rc = 0;
  for (Py_ssize_t i = first; i < PySequence_Fast_GET_SIZE(args); ++i) {
    PyObject *item = PySequence_Fast_GET_ITEM(args, i);
    Py_INCREF(item);
    double d = 0.0;
    rc = evaluateExpr(item, map, depth, &d);
    Py_DECREF(item);
    if (rc < 0 || !take(d)) break;
  }
  Py_DECREF(args);
  return rc;
}

int argValues(PyObject *node, const var_map *map, int depth, std::vector<double> &vals, Py_ssize_t first = 0) {
  return forEachArg(node, map, depth, first, [&](double d) {
    vals.push_back(d);
    return true;
  });
}

double unaryValue(int op, double a) {
  switch (op) {
    case NLOP_UMINUS: return -a;
    case NLOP_EXP: return std::exp(a);
    case NLOP_LOG: return std::log(a);
    case NLOP_LOG10: return std::log(a) / 2.302585092994046;
    case NLOP_SIN: return std::sin(a);
    case NLOP_COS: return std::cos(a);
    case NLOP_TAN: return std::tan(a);
    case NLOP_ASIN: return std::asin(a);
    case NLOP_ACOS: return std::acos(a);
    case NLOP_ATAN: return std::atan(a);
    case NLOP_ABS: return std::fabs(a);
    case NLOP_SIGN: return a > 0 ? 1.0 : (a < 0 ? -1.0 : 0.0);
    case NLOP_ERF: return std::erf(a);
    case NLOP_ERFC: return std::erfc(a);
    case NLOP_SQRT: return std::sqrt(a);
  }
  return NAN;
}

bool isUnary(int op) {
  return op == NLOP_UMINUS || (op >= NLOP_EXP && op <= NLOP_ATAN) || (op >= NLOP_ABS && op <= NLOP_SQRT);
}

int pwlError(const char *fmt, PyObject *var, double x, double v, bool withX) {
  PyObject *xo = PyFloat_FromDouble(x), *vo = PyFloat_FromDouble(v);
  if (xo && vo) {
    if (withX) PyErr_Format(kpy_InterfaceError, fmt, var, xo, vo);
    else PyErr_Format(kpy_InterfaceError, fmt, var, vo);
  }
  Py_XDECREF(xo);
  Py_XDECREF(vo);
  return -1;
}

// Piecewise linear function over (variable, x1, y1, x2, y2, ...): interpolation between
// breakpoints, first and last segments extended beyond the ends.
int pwlValue(PyObject *node, const var_map *map, int depth, double *out) {
  Args a;
  if (!nodeArgs((nonlin_s *)node, &a)) return -1;
  if (a.n < 1) return fail(kpy_ModelError, "Unknown nonlinear type");
  nb::object var = nb::borrow(a.items[0]);   // for the messages
  std::vector<double> vals;
  if (argValues(node, map, depth, vals) < 0) return -1;
  if (vals.empty()) return fail(kpy_ModelError, "Unknown nonlinear type");
  double v = vals[0];
  size_t npts = (vals.size() - 1) / 2;
  auto X = [&](size_t k) { return vals[1 + 2 * k]; };
  auto Y = [&](size_t k) { return vals[2 + 2 * k]; };
  auto line = [&](size_t i, size_t j) { return Y(i) + (v - X(i)) * (Y(j) - Y(i)) / (X(j) - X(i)); };
  const char *fewText = "Not enough points to extrapolate value of piecewise linear containing fraction for %S = %S";
  size_t k = 0;
  while (k < npts && !(X(k) > v)) ++k;
  if (k < npts && k > 0) {
    *out = line(k - 1, k);
    return 0;
  }
  if (k == 0 && npts > 0) {   // before the first breakpoint
    if (npts < 2) return pwlError(fewText, var.ptr(), 0, v, false);
    if (X(1) == X(0))
      return pwlError("Piecewise linear function has discontinuity at first breakpoint %S = %S and can't be "
                      "evaluated at %S", var.ptr(), X(0), v, true);
    *out = line(0, 1);
    return 0;
  }
  // at or beyond the last breakpoint
  if (npts > 0 && v == X(npts - 1)) {
    *out = Y(npts - 1);
    return 0;
  }
  if (npts < 2) return pwlError(fewText, var.ptr(), 0, v, false);
  if (X(npts - 1) == X(npts - 2))
    return pwlError("Piecewise linear function has discontinuity at last breakpoint %S = %S and can't be "
                    "evaluated at %S", var.ptr(), X(npts - 1), v, true);
  *out = line(npts - 2, npts - 1);
  return 0;
}

// The Python callable of a user-function node called with the argument values.
int userValue(PyObject *node, const var_map *map, int depth, double *out) {
  Args a;
  if (!nodeArgs((nonlin_s *)node, &a)) return -1;
  if (a.n < 1 || !PyCallable_Check(a.items[0]))
    return fail(kpy_ModelError, "Invalid user function, must specify at least one argument (the user function itself)");
  PyObject *func = a.items[0];
  Py_INCREF(func);
  std::vector<double> vals;
  int rc = argValues(node, map, depth, vals, 1);
  PyObject *res = nullptr;
  if (rc == 0) {
    PyObject *callArgs = PyTuple_New((Py_ssize_t)vals.size());
    for (size_t i = 0; callArgs && i < vals.size(); ++i) {
      PyObject *f = PyFloat_FromDouble(vals[i]);
      if (!f) Py_CLEAR(callArgs);
      else PyTuple_SET_ITEM(callArgs, (Py_ssize_t)i, f);
    }
    res = callArgs ? PyObject_Call(func, callArgs, nullptr) : nullptr;
    Py_XDECREF(callArgs);
    rc = res ? 0 : -1;
  }
  Py_DECREF(func);
  if (rc < 0) return -1;
  PyObject *first = res;
  if (PyTuple_Check(res)) {
    if (PyTuple_GET_SIZE(res) == 0) {
      Py_DECREF(res);
      return fail(kpy_ModelError, "User function returned an empty tuple");
    }
    first = PyTuple_GET_ITEM(res, 0);
  }
  double d = PyFloat_AsDouble(first);
  Py_DECREF(res);
  if (d == -1.0 && PyErr_Occurred()) return -1;
  *out = d;
  return 0;
}

int naryValue(PyObject *node, int op, const var_map *map, int depth, double *out) {
  if (op == NLOP_AND || op == NLOP_OR) {   // stops at the first deciding argument
    double tol = kpy_miptol();
    bool isAnd = op == NLOP_AND;
    double r = isAnd ? 1.0 : 0.0;
    int rc = forEachArg(node, map, depth, 0, [&](double d) {
      if (isAnd ? d <= tol : d > 1 - tol) r = 1.0 - r;
      return r == (isAnd ? 1.0 : 0.0);
    });
    if (rc == 0) *out = r;
    return rc;
  }
  std::vector<double> vals;
  if (argValues(node, map, depth, vals) < 0) return -1;
  switch (op) {
    case NLOP_SUM: {
      double s = 0.0;
      for (double d : vals) s += d;
      *out = s;
      return 0;
    }
    case NLOP_PROD: {
      double s = 1.0;
      for (double d : vals) s *= d;
      *out = s;
      return 0;
    }
    case NLOP_MAX:
    case NLOP_MIN: {
      if (vals.empty())
        return fail(kpy_ModelError, op == NLOP_MAX ? "The function korvex.max must have at least one argument"
                                                   : "The function korvex.min must have at least one argument");
      double m = vals[0];
      for (double d : vals) m = op == NLOP_MAX ? (d > m ? d : m) : (d < m ? d : m);
      *out = m;
      return 0;
    }
  }
  return fail(kpy_ModelError, "Unknown nonlinear type");
}

int binaryValue(PyObject *node, int op, const var_map *map, int depth, double *out) {
  std::vector<double> vals;
  if (argValues(node, map, depth, vals) < 0) return -1;
  if (vals.size() != 2) return fail(kpy_ModelError, "Unknown nonlinear type");
  double a = vals[0], b = vals[1];
  switch (op) {
    case NLOP_MINUS: *out = a - b; return 0;
    case NLOP_POW: *out = std::pow(a, b); return 0;
    case NLOP_DIV:
      if (b == 0.0)
        return fail(PyExc_ZeroDivisionError, "Division by zero in evaluation of expression containing fraction");
      *out = a / b;
      return 0;
  }
  return fail(kpy_ModelError, "Unknown nonlinear type");
}

// ---------------------------------------------------------------------------------------
// containers

PyObject *evaluateArray(PyObject *arr, const var_map *map, int forGS, int depth) {
  if (kpy_numpy_ready() < 0) return nullptr;
  PyArrayObject *a = (PyArrayObject *)arr;
  if (PyArray_TYPE(a) != NPY_OBJECT) {
    PyErr_SetString(kpy_InterfaceError,
                    "korvex.evaluate() requires one or more Python objects;\nNumPy arrays must have object dtype.");
    return nullptr;
  }
  PyArrayObject *res = (PyArrayObject *)PyArray_SimpleNew(PyArray_NDIM(a), PyArray_DIMS(a), NPY_DOUBLE);
  if (!res) return nullptr;
  PyObject *it = PyArray_IterNew(arr);
  if (!it) {
    Py_DECREF(res);
    if (!PyErr_Occurred())
      PyErr_SetString(kpy_InterfaceError, "Could not initialize result of the evaluation of a NumPy array");
    return nullptr;
  }
  double *dst = (double *)PyArray_DATA(res);
  for (npy_intp i = 0; PyArray_ITER_NOTDONE(it); ++i) {
    PyObject *item = *(PyObject **)PyArray_ITER_DATA(it);
    if (!item) item = Py_None;
    Py_INCREF(item);
    PyObject *v = evaluateObject(item, map, forGS, depth - 1);
    Py_DECREF(item);
    double d = v ? PyFloat_AsDouble(v) : -1.0;
    Py_XDECREF(v);
    if (!v || (d == -1.0 && PyErr_Occurred())) {
      Py_DECREF(it);
      Py_DECREF(res);
      return nullptr;
    }
    dst[i] = d;
    PyArray_ITER_NEXT(it);
  }
  Py_DECREF(it);
  return (PyObject *)res;
}

// A tuple for a tuple, a list for a list or any other sequence.
PyObject *evaluateSequence(PyObject *seq, const var_map *map, int forGS, int depth, bool tuple) {
  PyObject *fast = PySequence_List(seq);
  if (!fast) return nullptr;
  Py_ssize_t n = PyList_GET_SIZE(fast);
  PyObject *out = tuple ? PyTuple_New(n) : PyList_New(n);
  for (Py_ssize_t i = 0; out && i < n; ++i) {
    PyObject *v = evaluateObject(PyList_GET_ITEM(fast, i), map, forGS, depth - 1);
    if (!v) Py_CLEAR(out);
    else if (tuple) PyTuple_SET_ITEM(out, i, v);
    else PyList_SET_ITEM(out, i, v);
  }
  Py_DECREF(fast);
  return out;
}

PyObject *evaluateDict(PyObject *dict, const var_map *map, int forGS, int depth) {
  PyObject *items = PyDict_Items(dict);   // a snapshot: evaluation may call Python code
  PyObject *out = items ? PyDict_New() : nullptr;
  for (Py_ssize_t i = 0; out && i < PyList_GET_SIZE(items); ++i) {
    PyObject *kv = PyList_GET_ITEM(items, i);
    PyObject *v = evaluateObject(PyTuple_GET_ITEM(kv, 1), map, forGS, depth - 1);
    if (!v || PyDict_SetItem(out, PyTuple_GET_ITEM(kv, 0), v) < 0) Py_CLEAR(out);
    Py_XDECREF(v);
  }
  Py_XDECREF(items);
  return out;
}

PyObject *columnValue(const var_map *map, long long col) {
  if (col < 0 || col >= map->length) {
    PyErr_SetString(kpy_InterfaceError, kOutOfRange);
    return nullptr;
  }
  return PyFloat_FromDouble(map->values[col]);
}

PyObject *namedColumnValue(const var_map *map, PyObject *name) {
  PyObject *holder = nullptr;
  const char *text = pyStrToStr(name, nullptr, &holder);
  if (!text) return nullptr;
  int index = -1;
  int rc = kpy_callSolverNoGIL(KRVXgetindex, map->problem, 2, text, &index);
  if (kpy_failed(map->problem, rc)) {
    Py_XDECREF(holder);
    return nullptr;
  }
  if (index < 0) {
    PyErr_Format(kpy_InterfaceError, "Call to korvex.problem.getSolution() names an unknown column: %s", text);
    Py_XDECREF(holder);
    return nullptr;
  }
  Py_XDECREF(holder);
  return columnValue(map, index);
}

bool isNumpyIntScalar(PyObject *obj) {
  for (int i = 0; i < 4; ++i)
    if (kpy_np_scalars[i] && PyObject_TypeCheck(obj, kpy_np_scalars[i])) return true;
  return false;
}

PyObject *integerColumnValue(const var_map *map, PyObject *obj) {
  PyObject *idx = PyNumber_Index(obj);
  if (!idx) return nullptr;
  int overflow = 0;
  long long col = PyLong_AsLongLongAndOverflow(idx, &overflow);
  Py_DECREF(idx);
  if (col == -1 && PyErr_Occurred()) return nullptr;
  return columnValue(map, overflow ? -1 : col);
}


// Calls f(u, v, c) for every term of an expression: linear terms with v null, then the
// quadratic terms.
template <class F>
void forEachTerm(const expression_s *e, F &&f) {
  if (e->linear)
    for (auto &kv : *e->linear) f(kv.first, (var_s *)nullptr, kv.second);
  if (e->quad)
    for (auto &outer : *e->quad)
      for (auto &inner : *outer.second) f(outer.first, inner.first, inner.second);
}

struct Term {
  var_s *u, *v;
  double c;
};

int termsValue(const Term *t, size_t n, double constant, const var_map *map, double *out) {
  double s = constant;
  for (size_t i = 0; i < n; ++i) {
    double u = 0.0, v = 1.0;
    if (lookupVarValue((PyObject *)t[i].u, map, &u) < 0) return -1;
    if (t[i].v && lookupVarValue((PyObject *)t[i].v, map, &v) < 0) return -1;
    s += t[i].c * u * v;
  }
  *out = s;
  return 0;
}

// constant + linear part + quadratic part. Look-ups in a dictionary may run Python code that
// changes the expression, so its terms are taken out (with references) first.
int expressionValue(expression_s *e, const var_map *map, double *out) {
  std::vector<Term> terms;
  forEachTerm(e, [&](var_s *u, var_s *v, double c) { terms.push_back({u, v, c}); });
  if (map->mode == 1) return termsValue(terms.data(), terms.size(), e->constant, map, out);
  for (Term &t : terms) {
    Py_INCREF(t.u);
    Py_XINCREF(t.v);
  }
  int rc = termsValue(terms.data(), terms.size(), e->constant, map, out);
  for (Term &t : terms) {
    Py_DECREF(t.u);
    Py_XDECREF(t.v);
  }
  return rc;
}

}  // namespace

// ---------------------------------------------------------------------------------------

int lookupVarValue(PyObject *var, const var_map *map, double *out) {
  return map->mode == 0 ? dictValue(map, var, out) : arrayValue(map, var, out);
}

int evaluateNonlinear(PyObject *node, const var_map *map, int depth, double *out) {
  nonlin_s *n = (nonlin_s *)node;
  int op = n->op;
  if (isUnary(op)) {
    double a = 0.0;
    if (!n->args) return fail(kpy_ModelError, "Unknown nonlinear type");
    nb::object arg = nb::borrow(n->args);
    if (evaluateExpr(arg.ptr(), map, depth - 1, &a) < 0) return -1;
    *out = unaryValue(op, a);
    return 0;
  }
  switch (op) {
    case NLOP_MINUS:
    case NLOP_DIV:
    case NLOP_POW: return binaryValue(node, op, map, depth - 1, out);
    case NLOP_SUM:
    case NLOP_PROD:
    case NLOP_MAX:
    case NLOP_MIN:
    case NLOP_AND:
    case NLOP_OR: return naryValue(node, op, map, depth - 1, out);
    case NLOP_PWL: return pwlValue(node, map, depth - 1, out);
    case NLOP_USER_NODERIV:
    case NLOP_USER_DERIV:
    case NLOP_USER_OPTDERIV: return userValue(node, map, depth - 1, out);
  }
  return fail(kpy_ModelError, "Unknown nonlinear type");
}

int evaluateExpr(PyObject *obj, const var_map *map, int depth, double *out) {
  if (depth < 1) return fail(PyExc_RuntimeError, kDepthText);
  if (kpy_isVar(obj)) return lookupVarValue(obj, map, out);
  if (kpy_isLinterm(obj)) {
    linterm_s *t = (linterm_s *)obj;
    double v = 0.0;
    if (lookupVarValue((PyObject *)t->var, map, &v) < 0) return -1;
    *out = t->coef * v;
    return 0;
  }
  if (kpy_isQuadterm(obj)) {
    quadterm_s *t = (quadterm_s *)obj;
    double v1 = 0.0, v2 = 0.0;
    if (lookupVarValue((PyObject *)t->var1, map, &v1) < 0) return -1;
    if (t->var2 == t->var1) v2 = v1;
    else if (lookupVarValue((PyObject *)t->var2, map, &v2) < 0) return -1;
    *out = t->coef * v1 * v2;
    return 0;
  }
  if (kpy_isExpression(obj)) return expressionValue((expression_s *)obj, map, out);
  if (kpy_isNonlin(obj)) {
    Py_INCREF(obj);
    int rc = evaluateNonlinear(obj, map, depth, out);
    Py_DECREF(obj);
    return rc;
  }
  if (isNumericScalar(obj)) {
    double v = kpy_numberValue(obj);
    if (v == -1.0 && PyErr_Occurred()) return -1;
    *out = v;
    return 0;
  }
  return fail(kpy_ModelError, "Evaluation of object of incorrect type");
}

PyObject *evaluateObject(PyObject *obj, const var_map *map, int forGS, int depth) {
  if (depth < 1) return runtimeError(kDepthText);
  if (kpy_isNumpyArray(obj)) return evaluateArray(obj, map, forGS, depth);
  if (PyUnicode_Check(obj) || PyBytes_Check(obj)) {
    if (!forGS) {
      PyErr_SetString(kpy_InterfaceError, "Call to korvex.evaluate cannot contain strings as arguments");
      return nullptr;
    }
    return namedColumnValue(map, obj);
  }
  if (PyTuple_Check(obj)) return evaluateSequence(obj, map, forGS, depth, true);
  if (PyList_Check(obj)) return evaluateSequence(obj, map, forGS, depth, false);
  if (PyDict_Check(obj)) return evaluateDict(obj, map, forGS, depth);
  if (forGS && (PyLong_Check(obj) || isNumpyIntScalar(obj))) return integerColumnValue(map, obj);
  if (kpy_isModelOperand(obj) || isNumericScalar(obj) || PyObject_TypeCheck(obj, &kpy_constraintType) ||
      PyObject_TypeCheck(obj, &kpy_sosType)) {
    double v = 0.0;
    if (evaluateExpr(obj, map, depth, &v) < 0) return nullptr;
    return PyFloat_FromDouble(v);
  }
  if (PySequence_Check(obj)) return evaluateSequence(obj, map, forGS, depth, false);
  return runtimeError("Cannot evaluate object");
}

PyObject *scan_args_expressions(PyObject *args, const var_map *map, int forGS) {
  Py_ssize_t n = PyTuple_GET_SIZE(args);
  if (n == 0) {
    PyErr_SetString(PyExc_TypeError, "korvex.evaluate() requires at least one expression");
    return nullptr;
  }
  if (n == 1) return evaluateObject(PyTuple_GET_ITEM(args, 0), map, forGS, KPY_EVAL_DEPTH);
  PyObject *out = PyTuple_New(n);
  for (Py_ssize_t i = 0; out && i < n; ++i) {
    PyObject *v = evaluateObject(PyTuple_GET_ITEM(args, i), map, forGS, KPY_EVAL_DEPTH);
    if (!v) Py_CLEAR(out);
    else PyTuple_SET_ITEM(out, i, v);
  }
  return out;
}

int kpy_readSolutionValues(problem_s *prob, int64_t ncols, std::vector<double> &x) {
  int status = 0;
  if (kpy_failed(prob, kpy_callSolverNoGIL(KRVXgetsolution, prob, &status, (double *)nullptr, 0, -1))) return -1;
  if (status != KRVX_SOLSTATUS_OPTIMAL && status != KRVX_SOLSTATUS_FEASIBLE)
    return fail(kpy_ModelError, "Solution is not available");
  x.assign((size_t)ncols, 0.0);
  if (ncols == 0) return 0;
  int rc = kpy_callSolverNoGIL(KRVXgetsolution, prob, &status, x.data(), 0, (int)ncols - 1);
  return kpy_failed(prob, rc) ? -1 : 0;
}

// ---------------------------------------------------------------------------------------
// korvex.evaluate(*args, problem=None, solution=None)

static PyObject *korvexmod_evaluate(PyObject *, PyObject *args, PyObject *kwargs) {
  PyObject *problem = Py_None, *solution = Py_None;
  if (kwargs) {
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "problem") == 0) problem = value;
      else if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "solution") == 0) solution = value;
      else return PyErr_Format(PyExc_TypeError, "evaluate() got an unexpected keyword argument '%S'", key);
    }
  }
  if (problem == Py_None && solution == Py_None) {
    PyErr_SetString(kpy_InterfaceError,
                    "korvex.evaluate() requires at least one of the two arguments \"solution\" and \"problem\".\n"
                    "See the documentation of korvex.evaluate for details.");
    return nullptr;
  }
  var_map map;
  int64_t ncols = -1;
  if (problem != Py_None) {
    if (!PyObject_TypeCheck(problem, &kpy_problemType)) {
      PyErr_SetString(kpy_InterfaceError, "Argument \"problem\" must be an korvex.problem object");
      return nullptr;
    }
    map.problem = (problem_s *)problem;
    if (checkProblemIsInitialized(map.problem) < 0 || kpy_getIntAttrib64(map.problem, KRVX_INPUTCOLS, &ncols) < 0)
      return nullptr;
  }
  std::vector<double> solverValues;
  double *converted = nullptr;
  if (solution == Py_None) {
    if (kpy_readSolutionValues(map.problem, ncols, solverValues) < 0) return nullptr;
    map.values = solverValues.data();
    map.length = (Py_ssize_t)solverValues.size();
  } else if (PyDict_Check(solution)) {
    map.mode = 0;
    map.dict = solution;
  } else if (PyList_Check(solution) || (kpy_isNumpyArray(solution) && PyArray_NDIM((PyArrayObject *)solution) == 1)) {
    Py_ssize_t count = ncols;
    if (conv_obj2arr(map.problem, &count, solution, &converted, 5) < 0) return nullptr;
    map.values = converted;
    map.length = count;
  } else {
    PyErr_SetString(kpy_InterfaceError,
                    "Argument \"solution\" must be a dictionary, a list, or a one-dimensional NumPy array.\n"
                    "See the documentation for korvex.evaluate");
    return nullptr;
  }
  PyObject *res = scan_args_expressions(args, &map, 0);
  ko_MemoryAllocator_Free_Untyped(ko_MemoryAllocator_DefaultHeap, &converted);
  if (!res) setKrvxErrIfNull(problem == Py_None ? nullptr : problem, nullptr);
  return res;
}

static PyMethodDef kpy_evaluate_methods[] = {
    {"evaluate", (PyCFunction)(void (*)(void))korvexmod_evaluate, METH_VARARGS | METH_KEYWORDS,
     "evaluate(*args, problem=None, solution=None)\n--\n\n"
     "Values of expressions, variables, numbers and containers of them (lists, tuples, dictionaries,\n"
     "NumPy object arrays give results of the same shape). The values of the variables come from\n"
     "solution: a dictionary keyed by variables or column indices, or a list or one-dimensional\n"
     "array indexed by column; without solution, from the current solution of problem."},
    {nullptr, nullptr, 0, nullptr}};

int kpy_evaluate_register(PyObject *module) { return PyModule_AddFunctions(module, kpy_evaluate_methods); }
