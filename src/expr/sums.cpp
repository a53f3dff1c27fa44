// Sums of linear terms, quadratic terms and expressions; amending expressions; dispatchers.
#include "expr/expr.h"
#include "arrays/numpy.h"

bool lin_atom(PyObject *o, var_s **v, double *k) {
  if (kpy_isVar(o)) {
    *v = (var_s *)o;
    *k = 1.0;
    return true;
  }
  if (kpy_isLinterm(o)) {
    *v = ((linterm_s *)o)->var;
    *k = ((linterm_s *)o)->coef;
    return true;
  }
  return false;
}

// a new expression holding constant + k*v (v may be null) + q*u*w (u may be null)
static PyObject *make_expr(double constant, var_s *v, double k, var_s *u, var_s *w, double q,
                           const char *fail) {
  auto *e = (expression_s *)expression_base();
  if (!e) return nullptr;
  e->constant = constant;
  // room for a few linear entries: sums of atoms grow one entry at a time
  if (v && k != 0.0 && (e->linear = expr_linmap_new())) expr_reserve(e->linear, 4);
  if ((v && expression_addToLinTerm(e, v, k) < 0) ||
      (u && expression_addToQuadTerm(e, u, w, q) < 0)) {
    Py_DECREF(e);
    if (fail && PyErr_ExceptionMatches(PyExc_MemoryError)) {
      PyErr_Clear();
      PyErr_SetString(kpy_ModelError, fail);
    }
    return nullptr;
  }
  return (PyObject *)e;
}

static int number_of(PyObject *o, double *v) {
  *v = kpy_numberValue(o);
  return (*v == -1.0 && PyErr_Occurred()) ? -1 : 0;
}

// ---------------------------------------------------------------------------------------
// amending an expression

static int check_against_expression(expression_s *e, var_s *v) {
  if (kpy_isDeleted(v->owner)) return kpy_refuseDeletedVar(v->owner);
  return check_var_owners(expression_firstVar(e), v);
}

static int amend_failed(const char *msg) {
  if (!PyErr_Occurred() || PyErr_ExceptionMatches(PyExc_MemoryError)) {
    PyErr_Clear();
    PyErr_SetString(kpy_ModelError, msg);
  }
  return -1;
}

int expression_addToLinTerm(expression_s *e, var_s *var, double c) {
  if (c == 0.0) return 0;
  if (check_against_expression(e, var) < 0) return -1;
  if (!e->linear && !(e->linear = expr_linmap_new())) return amend_failed("Error amending linear expression");
  if (linmap_add(e->linear, var, c) < 0) return amend_failed("Error amending linear expression");
  return 0;
}

int expression_setLinTerm(expression_s *e, var_s *var, double c) {
  if (!e->linear && c == 0.0) return 0;
  if (check_against_expression(e, var) < 0) return -1;
  if (!e->linear && !(e->linear = expr_linmap_new())) return amend_failed("Error amending expression");
  if (linmap_set(e->linear, var, c) < 0) return amend_failed("Error amending expression");
  return 0;
}

static int quad_amend(expression_s *e, var_s *u, var_s *v, double c, const char *fail) {
  if (kpy_varCompare(u, v) > 0) std::swap(u, v);
  if (check_against_expression(e, u) < 0 || check_against_expression(e, v) < 0 ||
      check_var_owners(u, v) < 0)
    return -1;
  if (!e->quad && !(e->quad = quadmap_new())) return amend_failed(fail);
  if (expression_noteQuadVars(e, u, v) < 0) return amend_failed(fail);
  if (quadmap_add(e->quad, u, v, c) < 0) return amend_failed(fail);
  return 0;
}

int expression_addToQuadTerm(expression_s *e, var_s *u, var_s *v, double c) {
  if (c == 0.0) return 0;
  return quad_amend(e, u, v, c, "Cannot amend quadratic expression");
}

int expression_setQuadTerm(expression_s *e, var_s *u, var_s *v, double c) {
  if (c == 0.0 && !e->quad) return 0;
  return quad_amend(e, u, v, c, "Error setting quadratic expression");
}

// adds c * b (an expression) into a; b may not be a. The callers checked that a and b hold
// variables of one problem, so b's linear terms are checked only for deleted variables.
static int expression_addExpression(expression_s *a, const expression_s *b, double c,
                                    const char *linfail, const char *quadfail) {
  a->constant += c * b->constant;
  if (b->linear && !b->linear->empty()) {
    if (a->linear) expr_reserve(a->linear, a->linear->size() + b->linear->size());   // one growth at most
    for (auto &kv : *b->linear) {
      if (c * kv.second == 0.0) continue;
      if (kpy_isDeleted(kv.first->owner)) return kpy_refuseDeletedVar(kv.first->owner);
      if ((!a->linear && !(a->linear = expr_linmap_new())) || linmap_add(a->linear, kv.first, c * kv.second) < 0)
        return amend_failed(linfail);
    }
  }
  if (b->quad)
    for (auto &outer : *b->quad)
      for (auto &kv : *outer.second)
        if (c * kv.second != 0.0 &&
            quad_amend(a, outer.first, kv.first, c * kv.second, quadfail) < 0)
          return -1;
  return 0;
}

// adds c * b (number, linear atom, quadratic term or expression) into the expression a
static int expression_addOperand(expression_s *a, PyObject *b, double c) {
  var_s *v;
  double k;
  if (lin_atom(b, &v, &k)) return expression_addToLinTerm(a, v, c * k);
  if (kpy_isQuadterm(b)) {
    auto *q = (quadterm_s *)b;
    return expression_addToQuadTerm(a, q->var1, q->var2, c * q->coef);
  }
  if (isNumericScalar(b)) {
    if (number_of(b, &k) < 0) return -1;
    a->constant += c * k;
    return 0;
  }
  if (kpy_isExpression(b))
    return expression_addExpression(a, (expression_s *)b, c, "Could not add linear part",
                                    "Could not add quadratic part");
  PyErr_SetString(kpy_ModelError, "Invalid object in operation");
  return -1;
}

// ---------------------------------------------------------------------------------------
// sums

PyObject *expression_alg_sum(PyObject *a, PyObject *b, double c) {
  double v;
  if (isNumericScalar(a) && kpy_isExpression(b)) {
    if (number_of(a, &v) < 0) return nullptr;
    auto *e = (expression_s *)expression_copy(b, c);
    if (e) e->constant += v;
    return (PyObject *)e;
  }
  if (isNumericScalar(b) && kpy_isExpression(a)) {
    if (number_of(b, &v) < 0) return nullptr;
    auto *e = (expression_s *)expression_copy(a, 1.0);
    if (e) e->constant += c * v;
    return (PyObject *)e;
  }
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) {
    if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
    return nonlin_alg_sum(a, b, c);
  }
  if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
  PyObject *expr, *other;
  double ce, co;
  if (kpy_isExpression(a)) {
    expr = a, other = b, ce = 1.0, co = c;
  } else if (kpy_isExpression(b)) {
    expr = b, other = a, ce = c, co = 1.0;
  } else {
    return kpy_modelError("Invalid object in operation");
  }
  var_s *var;
  double k;
  if (!lin_atom(other, &var, &k) && !kpy_isQuadterm(other) && !kpy_isExpression(other))
    return kpy_modelError("Invalid object in operation");
  size_t extra = 1;
  if (kpy_isExpression(other)) extra = linmap_size(((expression_s *)other)->linear);
  else if (kpy_isQuadterm(other)) extra = 0;
  auto *e = (expression_s *)expression_copy_room(expr, ce, extra);
  if (!e) return nullptr;
  int rc;
  if (kpy_isExpression(other)) {
    // a + c*b with both expressions: the copy is of a
    rc = c == 0.0 ? 0 : expression_addExpression(e, (expression_s *)other, co, "Error adding expressions", "Error adding expressions");
  } else {
    rc = expression_addOperand(e, other, co);
  }
  if (rc < 0) {
    Py_DECREF(e);
    return nullptr;
  }
  return (PyObject *)e;
}

PyObject *linterm_alg_sum(PyObject *a, PyObject *b, double c) {
  if (kpy_isExpression(a) || kpy_isExpression(b)) return expression_alg_sum(a, b, c);
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) return nonlin_alg_sum(a, b, c);
  if (kpy_isQuadterm(a) || kpy_isQuadterm(b)) return quadterm_alg_sum(a, b, c);
  var_s *va, *vb;
  double ka, kb;
  bool atom_a = lin_atom(a, &va, &ka), atom_b = lin_atom(b, &vb, &kb);
  if ((!atom_a && !isNumericScalar(a)) || (!atom_b && !isNumericScalar(b)))
    return kpy_modelError("Invalid operands in sum");
  if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
  if (atom_a && atom_b) {
    if (va == vb) {
      // terms that cancel leave an expression without terms, so that x - x <= 0 still compares
      // into a constraint
      if (ka + c * kb == 0.0) return expression_base();
      return linterm_fill(ka + c * kb, (PyObject *)va);
    }
    auto *e = (expression_s *)make_expr(0.0, va, ka, nullptr, nullptr, 0.0,
                                        "Error creating expression as sum of two linear terms");
    if (e && expression_addToLinTerm(e, vb, c * kb) < 0) Py_CLEAR(e);
    return (PyObject *)e;
  }
  if (atom_a) {
    if (number_of(b, &kb) < 0) return nullptr;
    if (c * kb == 0.0) return general_copy(a, 1.0);
    return make_expr(c * kb, va, ka, nullptr, nullptr, 0.0, "Error creating expression");
  }
  if (atom_b) {
    if (number_of(a, &ka) < 0) return nullptr;
    if (ka == 0.0) return general_copy(b, c);
    return make_expr(ka, vb, c * kb, nullptr, nullptr, 0.0, "Error creating expression");
  }
  if (number_of(a, &ka) < 0 || number_of(b, &kb) < 0) return nullptr;
  return PyFloat_FromDouble(ka + c * kb);
}

PyObject *quadterm_alg_sum(PyObject *a, PyObject *b, double c) {
  if (kpy_isExpression(a) || kpy_isExpression(b)) return expression_alg_sum(a, b, c);
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) return nonlin_alg_sum(a, b, c);
  var_s *v;
  double k;
  for (PyObject *o : {a, b})
    if (!kpy_isQuadterm(o) && !isNumericScalar(o) && !lin_atom(o, &v, &k))
      return kpy_modelError("Invalid operands in sum with quadratic term");
  if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
  if (kpy_isQuadterm(b) && isNumericScalar(a)) {
    auto *q = (quadterm_s *)b;
    if (number_of(a, &k) < 0) return nullptr;
    if (k == 0.0) return quadterm_copy(b, c);
    return make_expr(k, nullptr, 0.0, q->var1, q->var2, c * q->coef, "Error creating expression");
  }
  if (kpy_isQuadterm(a) && isNumericScalar(b)) {
    auto *q = (quadterm_s *)a;
    if (number_of(b, &k) < 0) return nullptr;
    if (c * k == 0.0) return quadterm_copy(a, 1.0);
    return make_expr(c * k, nullptr, 0.0, q->var1, q->var2, q->coef, "Error creating expression");
  }
  if (kpy_isQuadterm(b) && lin_atom(a, &v, &k)) {
    auto *q = (quadterm_s *)b;
    return make_expr(0.0, v, k, q->var1, q->var2, c * q->coef, "Error creating expression");
  }
  if (kpy_isQuadterm(a) && lin_atom(b, &v, &k)) {
    auto *q = (quadterm_s *)a;
    return make_expr(0.0, v, c * k, q->var1, q->var2, q->coef, "Error creating expression");
  }
  if (kpy_isQuadterm(a) && kpy_isQuadterm(b)) {
    auto *p = (quadterm_s *)a, *q = (quadterm_s *)b;
    if (p->var1 == q->var1 && p->var2 == q->var2)
      return quadterm_fill(p->coef + c * q->coef, (PyObject *)p->var1, (PyObject *)p->var2);
    auto *e = (expression_s *)make_expr(0.0, nullptr, 0.0, p->var1, p->var2, p->coef,
                                        "Error creating expression");
    if (e && expression_addToQuadTerm(e, q->var1, q->var2, c * q->coef) < 0) Py_CLEAR(e);
    return (PyObject *)e;
  }
  return kpy_modelError("Invalid operands in sum with quadratic term");
}

// a + c*b as a new object, by the kinds of a and b
PyObject *sum_new(PyObject *a, PyObject *b, double c) {
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) return nonlin_alg_sum(a, b, c);
  if (kpy_isExpression(a) || kpy_isExpression(b)) return expression_alg_sum(a, b, c);
  if (kpy_isQuadterm(a) || kpy_isQuadterm(b)) return quadterm_alg_sum(a, b, c);
  return linterm_alg_sum(a, b, c);
}

PyObject *expression_incremental_alg_sum(PyObject *a, PyObject *b, double c) {
  if (a == Py_None) return general_copy(b, c);
  PyObject *bcopy = nullptr;
  if (a == b) {
    // a += c*a: add from a copy, never from the map being changed
    if (!(bcopy = general_copy(b, 1.0))) return nullptr;
    b = bcopy;
  }
  PyObject *res = nullptr;
  if (check_expressions_compatible(a, b, nullptr) < 0) {
  } else if (kpy_isNonlin(a)) {
    res = nonlin_incremental_alg_sum(a, b, c);
  } else if (kpy_isNonlin(b)) {
    // the new node takes a itself (shared, not copied); a is grown in place only while
    // nothing else holds it
    res = nonlin_incremental_alg_sum(a, b, c);
  } else if (!kpy_isExpression(a)) {
    res = sum_new(a, b, c);
  } else {
    int kind;
    double value;
    if (isObjectConst(b, &kind, &value)) {
      ((expression_s *)a)->constant += c * value;
      res = Py_NewRef(a);
    } else if (expression_addOperand((expression_s *)a, b, c) == 0) {
      res = Py_NewRef(a);
    }
  }
  Py_XDECREF(bcopy);
  return res;
}

// ---------------------------------------------------------------------------------------
// number-protocol slots of the sums

static PyObject *array_sum(PyObject *a, PyObject *b, double c) {
  kpy_temp_forget();
  if (c == 1.0) return PyNumber_Add(b, a);
  PyObject *nb = PyNumber_Negative(b);
  if (!nb) return nullptr;
  PyObject *r = PyNumber_Add(nb, a);
  Py_DECREF(nb);
  return r;
}

static bool is_zero_number(PyObject *o) {
  double v;
  return isNumericScalar(o) && isObjectConst(o, nullptr, &v) && v == 0.0;
}

// operands that a sum takes without an array or a nonlinear node taking part
static bool plain_operand(PyObject *o) {
  return kpy_isExpression(o) || kpy_isVar(o) || kpy_isLinterm(o) || kpy_isQuadterm(o) ||
         PyFloat_CheckExact(o) || PyLong_CheckExact(o);
}

// a + c*b for the operators: an operand that is a temporary of the evaluation stack grows in
// place (the same steps as the copying sum, on the operand itself); the result is noted
static PyObject *operator_sum(PyObject *a, PyObject *b, double c,
                              PyObject *(*sum)(PyObject *, PyObject *, double)) {
  PyObject *res;
  var_s *v;
  double k;
  if (a != b && kpy_isExpression(a) && plain_operand(b) && kpy_temp_reusable(a, a, b)) {
    // a linear atom is checked against a and added in one step
    if (lin_atom(b, &v, &k))
      res = expression_addToLinTerm((expression_s *)a, v, c * k) < 0 ? nullptr : Py_NewRef(a);
    else
      res = expression_incremental_alg_sum(a, b, c);
  } else if (a != b && kpy_isExpression(b) && plain_operand(a) && kpy_temp_reusable(b, a, b)) {
    // a + c*b grown from b: b scaled by c, then a (a plain operand, checked against b) added
    res = nullptr;
    if (check_expressions_compatible(a, b, nullptr) == 0 && expression_scale_entries(b, c) == 0 &&
        expression_addOperand((expression_s *)b, a, 1.0) == 0)
      res = Py_NewRef(b);
  } else {
    res = sum(a, b, c);
  }
  kpy_temp_note(res);
  return res;
}

PyObject *linterm_add(PyObject *a, PyObject *b) {
  return isArrayOperand(b) ? array_sum(a, b, 1.0) : operator_sum(a, b, 1.0, linterm_alg_sum);
}
PyObject *linterm_sub(PyObject *a, PyObject *b) {
  return isArrayOperand(b) ? array_sum(a, b, -1.0) : operator_sum(a, b, -1.0, linterm_alg_sum);
}
PyObject *linterm_iadd(PyObject *a, PyObject *b) {
  return is_zero_number(b) ? Py_NewRef(a) : linterm_add(a, b);
}
PyObject *linterm_isub(PyObject *a, PyObject *b) {
  return is_zero_number(b) ? Py_NewRef(a) : linterm_sub(a, b);
}
PyObject *linterm_neg(PyObject *a) {
  if (!kpy_isLinterm(a)) return general_neg(a);
  return linterm_copy(a, -1.0);
}

PyObject *quadterm_add(PyObject *a, PyObject *b) {
  return isArrayOperand(b) ? array_sum(a, b, 1.0) : quadterm_alg_sum(a, b, 1.0);
}
PyObject *quadterm_sub(PyObject *a, PyObject *b) {
  return isArrayOperand(b) ? array_sum(a, b, -1.0) : quadterm_alg_sum(a, b, -1.0);
}
PyObject *quadterm_iadd(PyObject *a, PyObject *b) {
  return is_zero_number(b) ? Py_NewRef(a) : quadterm_add(a, b);
}
PyObject *quadterm_isub(PyObject *a, PyObject *b) {
  return is_zero_number(b) ? Py_NewRef(a) : quadterm_sub(a, b);
}
PyObject *quadterm_neg(PyObject *a) {
  if (!kpy_isQuadterm(a)) return general_neg(a);
  return quadterm_copy(a, -1.0);
}

PyObject *expression_add(PyObject *a, PyObject *b) {
  return isArrayOperand(b) ? array_sum(a, b, 1.0) : operator_sum(a, b, 1.0, expression_alg_sum);
}
PyObject *expression_sub(PyObject *a, PyObject *b) {
  return isArrayOperand(b) ? array_sum(a, b, -1.0) : operator_sum(a, b, -1.0, expression_alg_sum);
}
PyObject *expression_iadd(PyObject *a, PyObject *b) {
  return isArrayOperand(b) ? array_sum(a, b, 1.0) : expression_incremental_alg_sum(a, b, 1.0);
}
PyObject *expression_isub(PyObject *a, PyObject *b) {
  return isArrayOperand(b) ? array_sum(a, b, -1.0) : expression_incremental_alg_sum(a, b, -1.0);
}
PyObject *expression_neg(PyObject *a) { return general_copy(a, -1.0); }

// ---------------------------------------------------------------------------------------
// dispatchers

enum dispatch_op { D_ADD, D_SUB, D_MUL, D_DIV, D_POW, D_AND, D_OR };

typedef PyObject *(*binop)(PyObject *, PyObject *);

static PyObject *pow_none(PyObject *a, PyObject *b, ternaryfunc f) { return f(a, b, Py_None); }

static PyObject *dispatch(PyObject *a, PyObject *b, dispatch_op op, bool inplace) {
  if (a == Py_None) {
    if (op == D_SUB) return general_copy(b, -1.0);
    if (op != D_DIV || inplace) return general_copy(b, 1.0);
  }
  if (b == Py_None && !(op == D_AND || op == D_OR || (inplace && op == D_POW))) return Py_NewRef(a);
  bool model = kpy_isModelOperand(a) || kpy_isModelOperand(b);
  if (!model || isArrayOperand(a) || isArrayOperand(b)) {
    // a NumPy array of numbers cannot hold model objects: in place it would fail to cast
    if (inplace && model && kpy_isNumpyArray(a) && PyArray_TYPE((PyArrayObject *)a) != NPY_OBJECT)
      inplace = false;
    switch (op) {
      case D_ADD: return inplace ? PyNumber_InPlaceAdd(a, b) : PyNumber_Add(a, b);
      case D_SUB: return inplace ? PyNumber_InPlaceSubtract(a, b) : PyNumber_Subtract(a, b);
      case D_MUL: return inplace ? PyNumber_InPlaceMultiply(a, b) : PyNumber_Multiply(a, b);
      case D_DIV: return inplace ? PyNumber_InPlaceTrueDivide(a, b) : PyNumber_TrueDivide(a, b);
      case D_POW: return inplace ? PyNumber_InPlacePower(a, b, Py_None) : PyNumber_Power(a, b, Py_None);
      case D_AND: return inplace ? PyNumber_InPlaceAnd(a, b) : PyNumber_And(a, b);
      case D_OR: return inplace ? PyNumber_InPlaceOr(a, b) : PyNumber_Or(a, b);
    }
  }
  if (op == D_AND) return inplace ? nonlin_iand(a, b) : nonlin_and(a, b);
  if (op == D_OR) return inplace ? nonlin_ior(a, b) : nonlin_or(a, b);
  int kind;
  auto has = [&](bool (*f)(PyObject *)) { return f(a) || f(b); };
  if (has(kpy_isNonlin)) kind = EXPR_NONLIN;
  else if (has(kpy_isExpression)) kind = EXPR_EXPRESSION;
  else if (has(kpy_isQuadterm)) kind = EXPR_QUADTERM;
  else if (has(kpy_isLinterm)) kind = EXPR_LINTERM;
  else kind = EXPR_VAR;
  static const binop table[5][5][2] = {
      // var
      {{var_add, var_iadd}, {var_sub, var_isub}, {var_mul, var_imul}, {var_div, var_idiv}, {}},
      // linear term
      {{linterm_add, linterm_iadd}, {linterm_sub, linterm_isub}, {linterm_mul, linterm_imul},
       {linterm_div, linterm_idiv}, {}},
      // quadratic term
      {{quadterm_add, quadterm_iadd}, {quadterm_sub, quadterm_isub}, {quadterm_mul, quadterm_imul},
       {quadterm_div, quadterm_idiv}, {}},
      // expression
      {{expression_add, expression_iadd}, {expression_sub, expression_isub},
       {expression_mul, expression_imul}, {expression_div, expression_idiv}, {}},
      // nonlinear
      {{nonlin_add, nonlin_iadd}, {nonlin_sub, nonlin_isub}, {nonlin_mul, nonlin_imul},
       {nonlin_div, nonlin_idiv}, {}},
  };
  static const ternaryfunc pows[5][2] = {{var_pow, var_ipow},
                                         {linterm_pow, linterm_ipow},
                                         {quadterm_pow, quadterm_ipow},
                                         {expression_pow, expression_ipow},
                                         {nonlin_pow, nonlin_ipow}};
  if (op == D_POW) return pow_none(a, b, pows[kind - 1][inplace]);
  return table[kind - 1][op][inplace](a, b);
}

PyObject *general_add(PyObject *a, PyObject *b) { return dispatch(a, b, D_ADD, false); }
PyObject *general_sub(PyObject *a, PyObject *b) { return dispatch(a, b, D_SUB, false); }
PyObject *general_mul(PyObject *a, PyObject *b) { return dispatch(a, b, D_MUL, false); }
PyObject *general_div(PyObject *a, PyObject *b) { return dispatch(a, b, D_DIV, false); }
PyObject *general_pow(PyObject *a, PyObject *b) { return dispatch(a, b, D_POW, false); }
PyObject *general_and(PyObject *a, PyObject *b) { return dispatch(a, b, D_AND, false); }
PyObject *general_or(PyObject *a, PyObject *b) { return dispatch(a, b, D_OR, false); }
PyObject *general_iadd(PyObject *a, PyObject *b) { return dispatch(a, b, D_ADD, true); }
PyObject *general_isub(PyObject *a, PyObject *b) { return dispatch(a, b, D_SUB, true); }
PyObject *general_imul(PyObject *a, PyObject *b) { return dispatch(a, b, D_MUL, true); }
PyObject *general_idiv(PyObject *a, PyObject *b) { return dispatch(a, b, D_DIV, true); }
PyObject *general_ipow(PyObject *a, PyObject *b) { return dispatch(a, b, D_POW, true); }
PyObject *general_iand(PyObject *a, PyObject *b) { return dispatch(a, b, D_AND, true); }
PyObject *general_ior(PyObject *a, PyObject *b) { return dispatch(a, b, D_OR, true); }

PyObject *general_sqr(PyObject *a) {
  PyObject *two = PyFloat_FromDouble(2.0);
  if (!two) return nullptr;
  PyObject *r = general_pow(a, two);
  Py_DECREF(two);
  return r;
}

PyObject *general_neg(PyObject *a) {
  if (kpy_isVar(a)) return var_neg(a);
  if (kpy_isLinterm(a)) return linterm_neg(a);
  if (kpy_isQuadterm(a)) return quadterm_neg(a);
  if (kpy_isExpression(a)) return expression_neg(a);
  if (kpy_isNonlin(a)) return nonlin_neg(a);
  return PyNumber_Negative(a);
}
