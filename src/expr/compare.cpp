// Comparison of model objects: constraints from <=, ==, >=, or structural equality when the
// constraint operators are off.
#include "expr/expr.h"
#include <nanobind/nanobind.h>
#include <new>
#include <stdexcept>

namespace nb = nanobind;

const char *const opNames[6] = {"<", "<=", "==", "!=", ">", ">="};

// ---------------------------------------------------------------------------------------
// constraints

// the subtraction a - b by the first kind present: expression, var, linear term,
// quadratic term, nonlinear
static PyObject *body_difference(PyObject *a, PyObject *b) {
  auto has = [&](bool (*f)(PyObject *)) { return f(a) || f(b); };
  if (has(kpy_isExpression)) return expression_sub(a, b);
  if (has(kpy_isVar)) return var_sub(a, b);
  if (has(kpy_isLinterm)) return linterm_sub(a, b);
  if (has(kpy_isQuadterm)) return quadterm_sub(a, b);
  if (has(kpy_isNonlin)) return nonlin_sub(a, b);
  PyErr_Format(kpy_ModelError, "Invalid object in operation: <%S>", a);
  return nullptr;
}

// the body becomes the constraint's own object before it is changed
static int own_body(PyObject **body) {
  if (Py_REFCNT(*body) == 1) return 0;
  PyObject *c = general_copy(*body, 1.0);
  if (!c) return -1;
  Py_SETREF(*body, c);
  return 0;
}

PyObject *make_constraint(PyObject *a, PyObject *b, int op) {
  PyObject *tmp = nullptr;
  if (isNumericScalar(a) && isNumericScalar(b)) {
    double v = kpy_numberValue(a);
    if (v == -1.0 && PyErr_Occurred()) return nullptr;
    if (!(tmp = expression_base())) return nullptr;
    ((expression_s *)tmp)->constant = v;
    a = tmp;
  }
  PyObject *body = nullptr, *con = nullptr;
  var_s *va, *vb;
  double rhs = 0.0;
  int rowtype = -1;
  if (kpy_isNumpyArray(a) && kpy_isNumpyArray(b)) {
    PyErr_SetString(kpy_InterfaceError, "Ill-defined constraint array");
    goto fail;
  }
  // the difference of two expressions checks their variables itself
  if (!(kpy_isExpression(a) && kpy_isExpression(b)) &&
      (check_first_var(a, &va) < 0 || check_first_var(b, &vb) < 0 || check_var_owners(va, vb) < 0))
    goto fail;
  if (!(body = body_difference(a, b))) goto fail;
  if (!(con = constraint_new(&kpy_constraintType, nullptr, nullptr))) goto fail;
  if (kpy_isExpression(body)) {
    // an operand given back as the difference is a temporary of the evaluation stack, grown
    // in place: the constraint may take it
    if (body != a && body != b && own_body(&body) < 0) goto fail;
    rhs = -((expression_s *)body)->constant;
    ((expression_s *)body)->constant = 0.0;
  } else if (kpy_isNonlin(body)) {
    auto *n = (nonlin_s *)body;
    if (n->op == NLOP_MINUS && PyTuple_Check(n->args) && PyTuple_GET_SIZE(n->args) == 2) {
      PyObject *u = PyTuple_GET_ITEM(n->args, 0), *v = PyTuple_GET_ITEM(n->args, 1);
      if (isNumericScalar(u)) {
        rhs = kpy_numberValue(u);
        if (op == Py_LE) rowtype = 2;
        else if (op == Py_GE) rowtype = 1;
        Py_SETREF(body, Py_NewRef(v));
      } else if (isNumericScalar(v)) {
        rhs = kpy_numberValue(v);
        Py_SETREF(body, Py_NewRef(u));
      }
      if (rhs == -1.0 && PyErr_Occurred()) goto fail;
    } else if (n->op == NLOP_SUM && PyList_Check(n->args) && PyList_GET_SIZE(n->args) >= 2 &&
               isNumericScalar(PyList_GET_ITEM(n->args, PyList_GET_SIZE(n->args) - 1))) {
      if (own_body(&body) < 0) goto fail;
      PyObject *list = ((nonlin_s *)body)->args;
      Py_ssize_t last = PyList_GET_SIZE(list) - 1;
      rhs = -kpy_numberValue(PyList_GET_ITEM(list, last));
      if ((rhs == 1.0 && PyErr_Occurred()) || PyList_SetSlice(list, last, last + 1, nullptr) < 0)
        goto fail;
    }
  } else if (!isNumericScalar(body) && !kpy_isVar(body) && !kpy_isLinterm(body) &&
             !kpy_isQuadterm(body)) {
    PyErr_SetString(kpy_ModelError, "Invalid constraint body");
    goto fail;
  }
  if (rowtype < 0) {
    switch (op) {
      case Py_LE: rowtype = 1; break;
      case Py_EQ: rowtype = 3; break;
      case Py_GE: rowtype = 2; break;
      case Py_LT: case Py_NE: case Py_GT:
        PyErr_SetString(kpy_ModelError,
                        "Invalid constraint: cannot enforce f(x) != 0, f(x) > 0, or f(x) < 0");
        goto fail;
      default:
        PyErr_SetString(kpy_ModelError, "Invalid constraint: unrecognized comparison operator");
        goto fail;
    }
  }
  {
    double lb, ub;
    if (calc_constraint_bounds(rowtype, rhs, 0.0, &lb, &ub) != 0 ||
        constraint_init_internal((constraint_s *)con, lb, ub, body, nullptr) < 0) {
      if (!PyErr_Occurred()) PyErr_SetString(kpy_ModelError, "Invalid constraint body");
      goto fail;
    }
  }
  Py_DECREF(body);
  Py_XDECREF(tmp);
  return con;
fail:
  Py_XDECREF(con);
  Py_XDECREF(body);
  Py_XDECREF(tmp);
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// structural equality

// obj as a new expression, or null (no error) when it converts to none
static PyObject *as_expression(PyObject *obj) {
  if (kpy_isExpression(obj)) return Py_NewRef(obj);
  auto *e = (expression_s *)expression_base();
  if (!e) throw nb::python_error();
  int rc = 0;
  if (PyFloat_Check(obj)) {
    e->constant = PyFloat_AS_DOUBLE(obj);
  } else if (PyLong_Check(obj)) {
    long long v = PyLong_AsLongLong(obj);
    if (v == -1 && PyErr_Occurred()) rc = -1;
    e->constant = (double)v;
  } else if (kpy_isVar(obj) || kpy_isLinterm(obj)) {
    bool var = kpy_isVar(obj);
    var_s *v = var ? (var_s *)obj : ((linterm_s *)obj)->var;
    rc = (e->linear = expr_linmap_new()) ? linmap_add(e->linear, v, var ? 1.0 : ((linterm_s *)obj)->coef) : -1;
  } else if (kpy_isQuadterm(obj)) {
    auto *q = (quadterm_s *)obj;
    rc = (e->quad = quadmap_new()) ? quadmap_add(e->quad, q->var1, q->var2, q->coef) : -1;
  } else {
    Py_DECREF(e);
    return nullptr;
  }
  if (rc < 0) {
    Py_DECREF(e);
    if (!PyErr_Occurred()) PyErr_NoMemory();
    throw nb::python_error();
  }
  return (PyObject *)e;
}

static bool linmap_equal(const linmap *a, const linmap *b) {
  size_t na = a ? a->size() : 0, nb = b ? b->size() : 0;
  if (na != nb) return false;
  if (na == 0) return true;
  for (auto &kv : *a) {
    auto it = b->find(kv.first);
    if (it == b->end() || it->second != kv.second) return false;
  }
  return true;
}

static bool quadmap_equal(const quadmap *a, const quadmap *b) {
  size_t na = a ? quadmap_size(a) : 0, nb = b ? quadmap_size(b) : 0;
  if (na != nb) return false;
  if (na == 0) return true;
  for (auto &kv : *a) {
    if (kv.second->empty()) continue;
    auto it = b->find(kv.first);
    if (it == b->end() || !linmap_equal(kv.second, it->second)) return false;
  }
  return true;
}

struct RecursionGuard {
  RecursionGuard() {
    if (Py_EnterRecursiveCall(" while comparing expressions")) throw nb::python_error();
  }
  ~RecursionGuard() { Py_LeaveRecursiveCall(); }
};

bool kpy_is_equal(PyObject *a, PyObject *b) {
  if (kpy_isNonlin(a)) {
    if (!kpy_isNonlin(b)) return false;
    auto *na = (nonlin_s *)a, *nb_ = (nonlin_s *)b;
    if (na->op != nb_->op) return false;
    if (!na->args || !nb_->args) return na->args == nb_->args;
    RecursionGuard guard;
    bool seq_a = PyList_Check(na->args) || PyTuple_Check(na->args);
    bool seq_b = PyList_Check(nb_->args) || PyTuple_Check(nb_->args);
    if (!seq_a && !seq_b) return kpy_is_equal(na->args, nb_->args);
    PyObject *fa = PySequence_Fast(na->args, "Nonlinear argument is not iterable");
    if (!fa) throw nb::python_error();
    PyObject *fb = PySequence_Fast(nb_->args, "Nonlinear argument is not iterable");
    if (!fb) {
      Py_DECREF(fa);
      throw nb::python_error();
    }
    bool eq = PySequence_Fast_GET_SIZE(fa) == PySequence_Fast_GET_SIZE(fb);
    try {
      for (Py_ssize_t i = 0; eq && i < PySequence_Fast_GET_SIZE(fa); i++)
        eq = kpy_is_equal(PySequence_Fast_GET_ITEM(fa, i), PySequence_Fast_GET_ITEM(fb, i));
    } catch (...) {
      Py_DECREF(fa);
      Py_DECREF(fb);
      throw;
    }
    Py_DECREF(fa);
    Py_DECREF(fb);
    return eq;
  }
  if (kpy_isNonlin(b)) return false;
  PyObject *ea = as_expression(a);
  if (!ea) return false;
  PyObject *eb;
  try {
    eb = as_expression(b);
  } catch (...) {
    Py_DECREF(ea);
    throw;
  }
  bool eq = false;
  if (eb) {
    auto *x = (expression_s *)ea, *y = (expression_s *)eb;
    eq = x->constant == y->constant && linmap_equal(x->linear, y->linear) &&
         quadmap_equal(x->quad, y->quad);
    Py_DECREF(eb);
  }
  Py_DECREF(ea);
  return eq;
}

// ---------------------------------------------------------------------------------------
// the rich comparison of the model types

static int has_array_interface(PyObject *o) { return PyObject_HasAttrStringWithError(o, "__array__"); }

PyObject *generic_cmp(PyObject *a, PyObject *b, int op) {
  if (kpy_isNumpyArray(b) && !kpy_isNumpyArray(a)) {
    static const int reflected[6] = {Py_GT, Py_GE, Py_EQ, Py_NE, Py_LT, Py_LE};
    return kpy_array_richcompare(b, a, op >= 0 && op < 6 ? reflected[op] : op);
  }
  if (kpy_env.constraint_ops) return make_constraint(a, b, op);
  try {
    if (op == Py_EQ || op == Py_NE) {
      int hb = has_array_interface(b);
      int ha = hb == 1 ? has_array_interface(a) : 0;
      if (hb < 0 || ha < 0) return nullptr;
      if (hb && !ha) return PyObject_RichCompare(b, a, op);
      bool eq = kpy_is_equal(a, b);
      return PyBool_FromLong(op == Py_EQ ? eq : !eq);
    }
    PyObject *na = PyType_GetName(Py_TYPE(a));
    PyObject *nb_ = na ? PyType_GetName(Py_TYPE(b)) : nullptr;
    if (nb_)
      PyErr_Format(PyExc_TypeError, "TypeError: '%s' not supported between instances of '%S' and '%S'",
                   op >= 0 && op < 6 ? opNames[op] : "?", na, nb_);
    Py_XDECREF(na);
    Py_XDECREF(nb_);
    return nullptr;
  } catch (nb::python_error &e) {
    e.restore();
  } catch (std::bad_alloc &) {
    PyErr_NoMemory();
  } catch (std::exception &e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "Unknown exception in Korvex module");
  }
  return nullptr;
}

PyObject *expression_cmp(PyObject *a, PyObject *b, int op) { return generic_cmp(a, b, op); }
