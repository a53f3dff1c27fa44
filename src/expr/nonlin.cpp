// Nonlinear nodes: builders, accessors, copies and the operators of korvex.nonlinear.
#include "expr/expr.h"

const printTool printToolArray[NLOP_COUNT] = {
    {"+", -1, 0, 2},      {"-", 2, 0, 2},       {"-", 1, -1, 4},      {"*", -1, 0, 3},
    {"/", 2, 0, 3},       {"**", 2, 0, 5},      {"exp", 1, -1, -1},   {"log", 1, -1, -1},
    {"log10", 1, -1, -1}, {"sin", 1, -1, -1},   {"cos", 1, -1, -1},   {"tan", 1, -1, -1},
    {"asin", 1, -1, -1},  {"acos", 1, -1, -1},  {"atan", 1, -1, -1},  {"max", -1, -1, -1},
    {"min", -1, -1, -1},  {"abs", 1, -1, -1},   {"sign", 1, -1, -1},  {"erf", 1, -1, -1},
    {"erfc", 1, -1, -1},  {"sqrt", 1, -1, -1},  {"pwl", -1, -1, -1},  {"sum", -1, -1, -1},
    {"prod", -1, -1, -1}, {"and", -1, -1, -1},  {"or", -1, -1, -1},   {"user", -1, -1, -1},
    {"user", -1, -1, -1}, {"user", -1, -1, -1},
};

static inline nonlin_s *N(PyObject *o) { return (nonlin_s *)o; }

static bool is_node(PyObject *o, int op) { return kpy_isNonlin(o) && N(o)->op == op; }
static bool is_list_node(PyObject *o, int op) { return is_node(o, op) && PyList_Check(N(o)->args); }

static bool number_eq(PyObject *o, double v) {
  double x;
  return isNumericScalar(o) && isObjectConst(o, nullptr, &x) && x == v;
}

static PyObject *fnum(double v) { return PyFloat_FromDouble(v); }

// list[i] = o (stolen); -1 when o is null
static int set_item(PyObject *list, Py_ssize_t i, PyObject *o) { return o ? PyList_SetItem(list, i, o) : -1; }

// a new node holding op and args (reference stolen)
static PyObject *new_node(int op, PyObject *args) {
  if (!args) return nullptr;
  auto *n = (nonlin_s *)nonlin_base();
  if (!n) {
    Py_DECREF(args);
    return nullptr;
  }
  n->op = op;
  n->args = args;
  return (PyObject *)n;
}

// ---------------------------------------------------------------------------------------
// builders

PyObject *nonlin_instantiate(bool nary, int op, PyObject *args) {
  bool container = PyList_Check(args) || PyTuple_Check(args);
  if (nary && !container)
    return kpy_modelError(
        "Could not create an n-ary nonlinear expression: the arguments must be in a list or tuple");
  if (!nary && container)
    return kpy_modelError(
        "Could not create a unary nonlinear expression: the argument must be a single expression");
  if (nary) {
    Py_ssize_t n = PySequence_Fast_GET_SIZE(args), start = 0;
    if (n > 0 && nlop_is_user(op)) {
      if (!PyCallable_Check(PySequence_Fast_GET_ITEM(args, 0)))
        return kpy_modelError("First argument in a user function expression must be a function");
      start = 1;
    }
    var_s *ref = nullptr;
    for (Py_ssize_t i = start; i < n; i++) {
      PyObject *o = PySequence_Fast_GET_ITEM(args, i);
      if (!isNumericScalar(o) && !kpy_isModelOperand(o))
        return kpy_modelError("Invalid object in n-ary nonlinear expression");
      var_s *v;
      if (check_first_var(o, &v) < 0 || check_var_owners(ref, v) < 0) return nullptr;
      if (!ref) ref = v;
    }
  } else if (!isNumericScalar(args) && !kpy_isModelOperand(args)) {
    return kpy_modelError("Invalid object in unary nonlinear expression");
  }
  return new_node(op, Py_NewRef(args));
}

PyObject *nonlin_instantiate_unary(int op, PyObject *x) {
  if (getExprType(x) < 0 || check_first_var(x, nullptr) < 0) return nullptr;
  return nonlin_instantiate(false, op, x);
}

PyObject *nonlin_instantiate_nary(int op, PyObject *args) { return nonlin_instantiate(true, op, args); }

static int binary_checks(PyObject *a, PyObject *b) {
  if (getExprType(a) < 0 || getExprType(b) < 0) return -1;
  return check_expressions_compatible(a, b, nullptr);
}

PyObject *nonlin_instantiate_binary(int op, PyObject *a, PyObject *b) {
  if (binary_checks(a, b) < 0) return nullptr;
  if (nlop_is_listshaped(op)) {
    if (isNumericScalar(a)) std::swap(a, b);
    return new_node(op, Py_BuildValue("[OO]", a, b));
  }
  return new_node(op, PyTuple_Pack(2, a, b));
}

// appends to list the arguments of o when o is a node with code op, else o itself
static int extend_flat(PyObject *list, int op, PyObject *o) {
  if (is_node(o, op) && (PyList_Check(N(o)->args) || PyTuple_Check(N(o)->args))) {
    PyObject *args = N(o)->args;
    for (Py_ssize_t i = 0, n = PySequence_Fast_GET_SIZE(args); i < n; i++)
      if (PyList_Append(list, PySequence_Fast_GET_ITEM(args, i)) < 0) return -1;
    return 0;
  }
  return PyList_Append(list, o);
}

PyObject *nonlin_instantiate_binary_flatten(int op, PyObject *a, PyObject *b) {
  if (binary_checks(a, b) < 0) return nullptr;
  PyObject *list = PyList_New(0);
  if (!list || extend_flat(list, op, a) < 0 || extend_flat(list, op, b) < 0) {
    Py_XDECREF(list);
    return nullptr;
  }
  return new_node(op, list);
}

// when b is a, the operation reads a copy of b (a's own list may change under it)
struct SelfGuard {
  PyObject *copy = nullptr;
  bool take(PyObject *a, PyObject *&b) {
    if (a != b) return true;
    copy = general_copy(b, 1.0);
    b = copy;
    return copy != nullptr;
  }
  ~SelfGuard() { Py_XDECREF(copy); }
};

PyObject *nonlin_inplace_generic(int op, PyObject *a, PyObject *b) {
  SelfGuard g;
  if (!g.take(a, b)) return nullptr;
  if (is_list_node(a, op)) {
    if (check_expressions_compatible(a, b, nullptr) < 0 || getExprType(b) < 0 ||
        extend_flat(N(a)->args, op, b) < 0)
      return nullptr;
    return Py_NewRef(a);
  }
  return nonlin_instantiate_binary_flatten(op, a, b);
}

// ---------------------------------------------------------------------------------------
// accessors

PyObject *nonlin_arg_first(PyObject *node, Py_ssize_t *index) {
  if (!kpy_isNonlin(node))
    return kpy_modelError("Accessing first argument list of an object that is not a nonlinear expression");
  *index = 0;
  PyObject *args = N(node)->args;
  if (args && (PyList_Check(args) || PyTuple_Check(args)))
    return PySequence_Fast_GET_SIZE(args) > 0 ? PySequence_Fast_GET_ITEM(args, 0) : nullptr;
  return args;
}

PyObject *nonlin_arg_next(PyObject *node, Py_ssize_t *index) {
  if (!kpy_isNonlin(node))
    return kpy_modelError("Accessing next argument list of an object that is not a nonlinear expression");
  PyObject *args = N(node)->args;
  ++*index;
  if (args && (PyList_Check(args) || PyTuple_Check(args)))
    return *index < PySequence_Fast_GET_SIZE(args) ? PySequence_Fast_GET_ITEM(args, *index) : nullptr;
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// copy

static PyObject *copy_arg(PyObject *item, const char *msg) {
  PyObject *r = general_copy(item, 1.0);
  if (!r && PyErr_ExceptionMatches(kpy_ModelError)) {
    PyErr_Clear();
    PyErr_SetString(kpy_ModelError, msg);
  }
  return r;
}

static PyObject *copy_args(nonlin_s *n) {
  PyObject *args = n->args;
  if (!args) return nullptr;
  if (!PyList_Check(args) && !PyTuple_Check(args))
    return copy_arg(args, "Invalid object being copied from single argument in a nonlinear expression");
  Py_ssize_t len = PySequence_Fast_GET_SIZE(args);
  bool list = PyList_Check(args);
  PyObject *out = list ? PyList_New(len) : PyTuple_New(len);
  if (!out) return nullptr;
  for (Py_ssize_t i = 0; i < len; i++) {
    PyObject *item = PySequence_Fast_GET_ITEM(args, i);
    PyObject *c = (i == 0 && nlop_is_user(n->op))
                      ? Py_NewRef(item)
                      : copy_arg(item, "Invalid object being copied from argument list/tuple in a nonlinear expression");
    if (!c) {
      Py_DECREF(out);
      return nullptr;
    }
    if (list) PyList_SET_ITEM(out, i, c);
    else PyTuple_SET_ITEM(out, i, c);
  }
  return out;
}

PyObject *nonlin_copy(PyObject *node, double c) {
  if (!kpy_isNonlin(node)) return general_copy(node, c);
  if (check_first_var(node, nullptr) < 0) return nullptr;
  nonlin_s *n = N(node);
  if (c != 1.0 && n->op == NLOP_UMINUS) return general_copy(n->args, -c);
  if (Py_EnterRecursiveCall(" while copying a nonlinear expression")) return nullptr;
  PyObject *args = copy_args(n);
  Py_LeaveRecursiveCall();
  if (!args && !PyErr_Occurred()) PyErr_SetString(kpy_ModelError, "Invalid object being copied");
  PyObject *copy = new_node(n->op, args);
  if (!copy || c == 1.0) return copy;
  if (n->op == NLOP_PROD && PyList_Check(args)) {
    Py_ssize_t len = PyList_GET_SIZE(args);
    double v;
    if (len == 0) {
      Py_DECREF(copy);
      return fnum(c);
    }
    if (len == 1 && isObjectConst(PyList_GET_ITEM(args, 0), nullptr, &v) &&
        isNumericScalar(PyList_GET_ITEM(args, 0))) {
      Py_DECREF(copy);
      return fnum(c * v);
    }
    for (Py_ssize_t i = 0; i < 2 && i < len; i++) {
      PyObject *item = PyList_GET_ITEM(args, i);
      if (isNumericScalar(item) && isObjectConst(item, nullptr, &v)) {
        if (set_item(args, i, fnum(c * v)) < 0) {
          Py_DECREF(copy);
          return nullptr;
        }
        return copy;
      }
    }
  }
  PyObject *f = fnum(c);
  PyObject *r = f ? nonlin_instantiate_binary(NLOP_PROD, f, copy) : nullptr;
  Py_XDECREF(f);
  Py_DECREF(copy);
  return r;
}

// ---------------------------------------------------------------------------------------
// sums

PyObject *nonlin_alg_sum(PyObject *a, PyObject *b, double c) {
  PyObject *copy = general_copy(a, 1.0);
  if (!copy) return nullptr;
  PyObject *r = nonlin_incremental_alg_sum(copy, b, c);
  Py_DECREF(copy);
  return r;
}

// c * b: b itself when c is 1, else the product by b's own operator
static PyObject *scaled(PyObject *b, double c) {
  if (c == 1.0) return Py_NewRef(b);
  PyObject *f = fnum(c);
  if (!f) return nullptr;
  PyObject *r = general_mul(b, f);
  Py_DECREF(f);
  return r;
}

// index of the polynomial element among the last three arguments, or -1
static Py_ssize_t findPolyTerm(PyObject *list) {
  Py_ssize_t n = PyList_GET_SIZE(list);
  for (Py_ssize_t i = n - 1; i >= 0 && i >= n - 3; i--)
    if (!kpy_isNonlin(PyList_GET_ITEM(list, i))) return i;
  return -1;
}

// removes and returns (new reference) list[i]; null when i < 0
static PyObject *take_out(PyObject *list, Py_ssize_t i) {
  if (i < 0) return nullptr;
  PyObject *p = Py_NewRef(PyList_GET_ITEM(list, i));
  PyList_SetSlice(list, i, i + 1, nullptr);
  return p;
}

// appends (stealing) o unless null; -1 on failure
static int append_steal(PyObject *list, PyObject *o) {
  if (!o) return -1;
  int rc = PyList_Append(list, o);
  Py_DECREF(o);
  return rc;
}

// appends c * item for every item of src other than index skip
static int append_scaled_args(PyObject *list, PyObject *src, Py_ssize_t skip, double c) {
  for (Py_ssize_t i = 0, n = PyList_GET_SIZE(src); i < n; i++)
    if (i != skip && append_steal(list, scaled(PyList_GET_ITEM(src, i), c)) < 0) return -1;
  return 0;
}

// an expression held by nobody else (the caller's reference only): it may grow in place
static bool owned_expression(PyObject *p) { return p && kpy_isExpression(p) && Py_REFCNT(p) == 1; }

static PyObject *incremental_sum(PyObject *a, PyObject *b, double c) {
  if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
  var_s *v;
  double k;
  if (kpy_isExpression(a) && lin_atom(b, &v, &k)) {
    if (expression_addToLinTerm((expression_s *)a, v, c * k) < 0) return nullptr;
    return Py_NewRef(a);
  }
  int ka = getExprType(a), kb = getExprType(b);
  if (ka < 0 || kb < 0) return nullptr;
  if (ka == EXPR_NUMBER && number_eq(a, 0.0)) return general_copy(b, c);
  if (kb == EXPR_NUMBER && number_eq(b, 0.0)) return general_copy(a, 1.0);
  if (ka != EXPR_NONLIN && kb != EXPR_NONLIN) {
    if (ka == EXPR_EXPRESSION || kb == EXPR_EXPRESSION) return expression_incremental_alg_sum(a, b, c);
    return sum_new(a, b, c);
  }
  bool sa = is_list_node(a, NLOP_SUM), sb = is_list_node(b, NLOP_SUM);
  if (!sa && !sb) {
    PyObject *cb = scaled(b, c);
    if (!cb) return nullptr;
    PyObject *r = nonlin_instantiate_binary(NLOP_SUM, a, cb);
    Py_DECREF(cb);
    return r;
  }
  if (sa) {
    // a grows in place; b's polynomial element merges with a's into a new object
    PyObject *list = N(a)->args;
    PyObject *p = take_out(list, findPolyTerm(list));
    int rc;
    if (!sb && kb != EXPR_NONLIN) {
      PyObject *q = owned_expression(p) ? expression_incremental_alg_sum(p, b, c)
                    : p                 ? sum_new(p, b, c)
                                        : general_copy(b, c);
      if (q && number_eq(q, 0.0)) {
        Py_DECREF(q);
        rc = 0;
      } else {
        rc = append_steal(list, q);
      }
    } else if (!sb) {
      rc = append_steal(list, scaled(b, c));
      if (rc == 0 && p) rc = PyList_Append(list, p);
    } else {
      PyObject *bl = N(b)->args;
      Py_ssize_t pbi = findPolyTerm(bl);
      PyObject *pb = pbi >= 0 ? PyList_GET_ITEM(bl, pbi) : nullptr;
      rc = append_scaled_args(list, bl, pbi, c);
      if (rc == 0 && (p || pb))
        rc = append_steal(list, p && pb ? (owned_expression(p) ? expression_incremental_alg_sum(p, pb, c)
                                                               : sum_new(p, pb, c))
                                : p ? Py_NewRef(p)
                                    : scaled(pb, c));
    }
    Py_XDECREF(p);
    return rc < 0 ? nullptr : Py_NewRef(a);
  }
  // b is a sum node and a is not: a new node
  PyObject *bl = N(b)->args;
  Py_ssize_t pbi = findPolyTerm(bl);
  PyObject *pb = pbi >= 0 ? PyList_GET_ITEM(bl, pbi) : nullptr;
  PyObject *list = PyList_New(0);
  if (!list) return nullptr;
  int rc = ka == EXPR_NONLIN ? PyList_Append(list, a) : 0;
  if (rc == 0) rc = append_scaled_args(list, bl, pbi, c);
  if (rc == 0 && ka != EXPR_NONLIN) {
    PyObject *poly = !pb                  ? Py_NewRef(a)
                     : owned_expression(a) ? expression_incremental_alg_sum(a, pb, c)
                                           : sum_new(a, pb, c);
    if (poly && number_eq(poly, 0.0)) Py_DECREF(poly);
    else rc = append_steal(list, poly);
  } else if (rc == 0 && pb) {
    rc = append_steal(list, scaled(pb, c));
  }
  if (rc < 0) {
    Py_DECREF(list);
    return nullptr;
  }
  return new_node(NLOP_SUM, list);
}

PyObject *nonlin_incremental_alg_sum(PyObject *a, PyObject *b, double c) {
  if (c == 0.0) return Py_NewRef(a);
  if (a == Py_None) return general_copy(b, c);
  SelfGuard g;
  if (!g.take(a, b)) return nullptr;
  return incremental_sum(a, b, c);
}

// ---------------------------------------------------------------------------------------
// operators

static PyObject *reflect_array(PyObject *a, PyObject *b, binaryfunc f) {
  kpy_temp_forget();
  return f(b, a);
}

PyObject *nonlin_add(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return reflect_array(a, b, PyNumber_Add);
  return nonlin_alg_sum(a, b, 1.0);
}

PyObject *nonlin_sub(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) {
    PyObject *nb = PyNumber_Negative(b);
    if (!nb) return nullptr;
    PyObject *r = PyNumber_Add(nb, a);
    Py_DECREF(nb);
    return r;
  }
  if (getExprType(a) < 0 || getExprType(b) < 0) return nullptr;
  if (number_eq(a, 0.0)) return general_neg(b);
  if (number_eq(b, 0.0)) return general_copy(a, 1.0);
  if (is_list_node(a, NLOP_SUM)) return nonlin_alg_sum(a, b, -1.0);
  return nonlin_instantiate_binary(NLOP_MINUS, a, b);
}

PyObject *nonlin_mul(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return reflect_array(a, b, PyNumber_Multiply);
  if (getExprType(a) < 0 || getExprType(b) < 0) return nullptr;
  if (number_eq(a, 0.0) || number_eq(b, 0.0)) return fnum(0.0);
  if (number_eq(a, 1.0)) return general_copy(b, 1.0);
  if (number_eq(b, 1.0)) return general_copy(a, 1.0);
  if (number_eq(a, -1.0)) return nonlin_instantiate_unary(NLOP_UMINUS, b);
  if (number_eq(b, -1.0)) return nonlin_instantiate_unary(NLOP_UMINUS, a);
  return nonlin_instantiate_binary(NLOP_PROD, a, b);
}

PyObject *nonlin_div(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) {
    PyObject *one = fnum(1.0);
    PyObject *inv = one ? PyNumber_TrueDivide(one, b) : nullptr;
    Py_XDECREF(one);
    if (!inv) return nullptr;
    PyObject *r = PyNumber_Multiply(inv, a);
    Py_DECREF(inv);
    return r;
  }
  if (getExprType(a) < 0 || getExprType(b) < 0) return nullptr;
  double x;
  if (isObjectConst(a, nullptr, &x) && x == 0.0) return fnum(0.0);
  if (isObjectConst(b, nullptr, &x)) {
    if (x == 0.0) return kpy_modelError("Division by zero");
    if (x == 1.0) return general_copy(a, 1.0);
  }
  return nonlin_instantiate_binary(NLOP_DIV, a, b);
}

PyObject *nonlin_pow(PyObject *a, PyObject *b, PyObject *) {
  if (isArrayOperand(b)) return kpy_modelError("Cannot obtain a power with a vector as an exponent");
  if (getExprType(a) < 0 || getExprType(b) < 0) return nullptr;
  if (number_eq(a, 1.0) || number_eq(b, 0.0)) return fnum(1.0);
  if (number_eq(b, 1.0)) return general_copy(a, 1.0);
  return nonlin_instantiate_binary(NLOP_POW, a, b);
}

PyObject *nonlin_neg(PyObject *a) { return nonlin_instantiate_unary(NLOP_UMINUS, a); }
PyObject *nonlin_abs(PyObject *a) { return nonlin_instantiate_unary(NLOP_ABS, a); }

PyObject *nonlin_and(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return reflect_array(a, b, PyNumber_And);
  return nonlin_instantiate_binary_flatten(NLOP_AND, a, b);
}
PyObject *nonlin_or(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return reflect_array(a, b, PyNumber_Or);
  return nonlin_instantiate_binary_flatten(NLOP_OR, a, b);
}
PyObject *nonlin_iand(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return reflect_array(a, b, PyNumber_And);
  return nonlin_inplace_generic(NLOP_AND, a, b);
}
PyObject *nonlin_ior(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return reflect_array(a, b, PyNumber_Or);
  return nonlin_inplace_generic(NLOP_OR, a, b);
}

PyObject *nonlin_iadd(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return reflect_array(a, b, PyNumber_Add);
  return nonlin_incremental_alg_sum(a, b, 1.0);
}
PyObject *nonlin_isub(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return nonlin_sub(a, b);
  return nonlin_incremental_alg_sum(a, b, -1.0);
}

PyObject *nonlin_imul(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return reflect_array(a, b, PyNumber_Multiply);
  if (a == Py_None || number_eq(a, 1.0)) return general_copy(b, 1.0);
  if (!is_list_node(a, NLOP_PROD)) return nonlin_mul(a, b);
  SelfGuard g;
  if (!g.take(a, b) || getExprType(b) < 0 || check_expressions_compatible(a, b, nullptr) < 0)
    return nullptr;
  PyObject *list = N(a)->args;
  Py_ssize_t n = PyList_GET_SIZE(list);
  PyObject *L = n > 0 ? PyList_GET_ITEM(list, n - 1) : nullptr;
  double lv = 1.0, bv;
  bool lnum = L && isNumericScalar(L) && isObjectConst(L, nullptr, &lv);
  if (!is_list_node(b, NLOP_PROD)) {
    bool bnum = isNumericScalar(b) && isObjectConst(b, nullptr, &bv);
    int rc;
    if (!lnum) {
      rc = PyList_Append(list, b);
    } else if (bnum) {
      double v = lv * bv;
      if (v == 0.0) return fnum(0.0);
      rc = v == 1.0 ? PyList_SetSlice(list, n - 1, n, nullptr) : set_item(list, n - 1, fnum(v));
    } else {
      Py_INCREF(L);
      PyList_SetItem(list, n - 1, Py_NewRef(b));
      rc = append_steal(list, L);
    }
    return rc < 0 ? nullptr : Py_NewRef(a);
  }
  // both product nodes: numeric factors combine into one, kept last
  PyObject *bl = N(b)->args;
  Py_ssize_t nb = PyList_GET_SIZE(bl);
  PyObject *Lb = nb > 0 ? PyList_GET_ITEM(bl, nb - 1) : nullptr;
  double k = lnum ? lv : 1.0;
  bool bnum = Lb && isNumericScalar(Lb) && isObjectConst(Lb, nullptr, &bv);
  if (bnum) k *= bv;
  if (k == 0.0) return fnum(0.0);
  if (lnum && PyList_SetSlice(list, n - 1, n, nullptr) < 0) return nullptr;
  if (PyList_SetSlice(list, PyList_GET_SIZE(list), PyList_GET_SIZE(list), bl) < 0) return nullptr;
  Py_ssize_t m = PyList_GET_SIZE(list);
  int rc = 0;
  if (bnum) rc = k == 1.0 ? PyList_SetSlice(list, m - 1, m, nullptr) : set_item(list, m - 1, fnum(k));
  else if (k != 1.0) rc = append_steal(list, fnum(k));
  return rc < 0 ? nullptr : Py_NewRef(a);
}

// a new product D * b: b inserted before the last argument of a product node D
static PyObject *times_into(PyObject *D, PyObject *b) {
  if (!is_list_node(D, NLOP_PROD)) return general_mul(D, b);
  PyObject *list = PyList_GetSlice(N(D)->args, 0, PY_SSIZE_T_MAX);
  if (!list) return nullptr;
  Py_ssize_t n = PyList_GET_SIZE(list);
  if (PyList_Insert(list, n > 0 ? n - 1 : 0, b) < 0) {
    Py_DECREF(list);
    return nullptr;
  }
  return new_node(NLOP_PROD, list);
}

// replaces the second element of a's binary tuple by second * b (a new object)
static PyObject *grow_second(PyObject *a, PyObject *b) {
  if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
  PyObject *t = N(a)->args;
  PyObject *second = times_into(PyTuple_GET_ITEM(t, 1), b);
  if (!second) return nullptr;
  PyObject *nt = PyTuple_Pack(2, PyTuple_GET_ITEM(t, 0), second);
  Py_DECREF(second);
  if (!nt) return nullptr;
  Py_SETREF(N(a)->args, nt);
  return Py_NewRef(a);
}

static bool is_binary_node(PyObject *o, int op) {
  return is_node(o, op) && PyTuple_Check(N(o)->args) && PyTuple_GET_SIZE(N(o)->args) == 2;
}

PyObject *nonlin_idiv(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return nonlin_div(a, b);
  SelfGuard g;
  if (!g.take(a, b)) return nullptr;
  double d;
  if (isObjectConst(b, nullptr, &d)) {
    if (d == 0.0) return kpy_modelError("Division by zero");
    if (d == 1.0) return Py_NewRef(a);
    PyObject *f = fnum(1.0 / d);
    PyObject *r = f ? nonlin_imul(a, f) : nullptr;
    Py_XDECREF(f);
    return r;
  }
  if (getExprType(b) < 0) return nullptr;
  if (is_binary_node(a, NLOP_DIV)) return grow_second(a, b);
  return nonlin_div(a, b);
}

PyObject *nonlin_ipow(PyObject *a, PyObject *b, PyObject *) {
  if (isArrayOperand(b)) return kpy_modelError("Cannot obtain a power with a vector as an exponent");
  if (number_eq(b, 0.0)) return fnum(1.0);
  if (number_eq(b, 1.0)) return Py_NewRef(a);
  SelfGuard g;
  if (!g.take(a, b) || getExprType(b) < 0) return nullptr;
  if (is_binary_node(a, NLOP_POW)) return grow_second(a, b);
  return nonlin_pow(a, b, Py_None);
}
