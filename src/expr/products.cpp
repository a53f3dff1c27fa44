// Products, quotients and powers of variables, linear terms, quadratic terms and expressions.
#include "expr/expr.h"

static PyObject *array_mul(PyObject *a, PyObject *b) {
  kpy_temp_forget();
  return PyNumber_Multiply(b, a);
}

// (1.0 / b) * a for an array divisor b
static PyObject *array_div(PyObject *a, PyObject *b) {
  kpy_temp_forget();
  PyObject *one = PyFloat_FromDouble(1.0);
  if (!one) return nullptr;
  PyObject *inv = PyNumber_TrueDivide(one, b);
  Py_DECREF(one);
  if (!inv) return nullptr;
  PyObject *r = PyNumber_Multiply(inv, a);
  Py_DECREF(inv);
  return r;
}

static PyObject *vector_exponent() {
  return kpy_modelError("Cannot obtain a power with a vector as an exponent");
}

static bool number(PyObject *o, double *v) {
  return isNumericScalar(o) && isObjectConst(o, nullptr, v);
}

static bool kinds_ok(PyObject *a, PyObject *b) { return getExprType(a) >= 0 && getExprType(b) >= 0; }

// ---------------------------------------------------------------------------------------
// scaling

PyObject *multiply_by_const_expr(PyObject *obj, double c, int *kind) {
  int k = kind ? *kind : -1;
  if (k < 0) {
    k = getExprType(obj);
    if (k < 0) PyErr_Clear();
    if (kind) *kind = k;
  }
  switch (k) {
    case EXPR_VAR: return var_copy(obj, c);
    case EXPR_LINTERM: return linterm_copy(obj, c);
    case EXPR_QUADTERM: return quadterm_copy(obj, c);
    case EXPR_EXPRESSION: return expression_copy(obj, c);
    case EXPR_NONLIN: return nonlin_copy(obj, c);
    default: return kpy_modelError("Error multiplying expressions");
  }
}

PyObject *expression_scaleInPlace(PyObject *obj, double c) {
  if (check_first_var(obj, nullptr) < 0) return nullptr;
  if (c == 0.0) return PyFloat_FromDouble(0.0);
  if (c == 1.0) return Py_NewRef(obj);
  auto *e = (expression_s *)obj;
  e->constant *= c;
  if (e->linear)
    for (auto it = e->linear->begin(); it != e->linear->end(); ++it) it.value() *= c;
  if (e->quad)
    for (auto &outer : *e->quad)
      for (auto it = outer.second->begin(); it != outer.second->end(); ++it) it.value() *= c;
  return Py_NewRef(obj);
}

// ---------------------------------------------------------------------------------------
// products

static bool has_entries(const linmap *m) { return m && !m->empty(); }
static bool has_entries(const quadmap *m) { return m && quadmap_size(m) > 0; }

// linear atom k*v times the expression E without a quadratic map
static PyObject *atom_times_expression(var_s *v, double k, expression_s *E) {
  auto *r = (expression_s *)expression_base();
  if (!r) return nullptr;
  if (expression_setLinTerm(r, v, k * E->constant) < 0) goto fail;
  if (E->linear)
    for (auto &kv : *E->linear)
      if (k * kv.second != 0.0 && expression_addToQuadTerm(r, v, kv.first, k * kv.second) < 0)
        goto fail;
  return (PyObject *)r;
fail:
  Py_DECREF(r);
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
    PyErr_Clear();
    PyErr_SetString(kpy_ModelError, "Error multiplying expressions");
  }
  return nullptr;
}

// product of two expressions without quadratic entries
static PyObject *linear_product(expression_s *A, expression_s *B) {
  auto *r = (expression_s *)expression_base();
  if (!r) return nullptr;
  r->constant = A->constant * B->constant;
  size_t na = A->linear ? A->linear->size() : 0, nb = B->linear ? B->linear->size() : 0;
  expression_s *big = na > nb ? A : B, *small = na > nb ? B : A;
  if (big->linear) {
    if (!(r->linear = expr_linmap_new())) goto fail;
    expr_reserve(r->linear, big->linear->size() + (small->linear ? small->linear->size() : 0));
    for (auto &kv : *big->linear) {
      double p = kv.second * small->constant;
      if (p != 0.0 && linmap_set(r->linear, kv.first, p) < 0) {
        PyErr_SetString(kpy_ModelError, "Cannot create linear term in expression");
        goto fail;
      }
    }
  }
  if (small->linear)
    for (auto &kv : *small->linear)
      if (expression_addToLinTerm(r, kv.first, kv.second * big->constant) < 0) {
        PyErr_Clear();
        PyErr_SetString(kpy_ModelError, "Cannot create linear term for expression");
        goto fail;
      }
  if (A->linear && B->linear)
    for (auto &ka : *A->linear)
      for (auto &kb : *B->linear)
        if (ka.second != 0.0 && kb.second != 0.0 &&
            expression_addToQuadTerm(r, ka.first, kb.first, ka.second * kb.second) < 0) {
          PyErr_Clear();
          PyErr_SetString(kpy_ModelError, "Cannot create quadratic term in expression");
          goto fail;
        }
  return (PyObject *)r;
fail:
  Py_DECREF(r);
  return nullptr;
}

// the expression operand o scaled by v: in place when it is a temporary of the evaluation
// stack (the steps of expression_copy on the operand itself); the result is noted
static PyObject *scaled_operand(PyObject *o, double v, PyObject *a, PyObject *b) {
  PyObject *res;
  if (v != 0.0 && kpy_isExpression(o) && kpy_temp_reusable(o, a, b))
    res = expression_scale_entries(o, v) == 0 ? Py_NewRef(o) : nullptr;
  else
    res = general_copy(o, v);
  kpy_temp_note(res);
  return res;
}

PyObject *expression_mul(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return array_mul(a, b);
  double v;
  if (number(a, &v)) return scaled_operand(b, v, a, b);
  if (number(b, &v)) return scaled_operand(a, v, a, b);
  if (isObjectConst(a, nullptr, &v)) return multiply_by_const_expr(b, v, nullptr);
  if (isObjectConst(b, nullptr, &v)) return multiply_by_const_expr(a, v, nullptr);
  if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
  var_s *var;
  double k;
  if (kpy_isExpression(a) && lin_atom(b, &var, &k)) std::swap(a, b);
  if (lin_atom(a, &var, &k) && kpy_isExpression(b)) {
    auto *E = (expression_s *)b;
    if (E->quad) return nonlin_mul(a, b);
    return atom_times_expression(var, k, E);
  }
  if (kpy_isExpression(a) && kpy_isExpression(b)) {
    auto *A = (expression_s *)a, *B = (expression_s *)b;
    bool qa = has_entries(A->quad), qb = has_entries(B->quad);
    bool la = has_entries(A->linear), lb = has_entries(B->linear);
    if (!qa && !qb) return linear_product(A, B);
    if ((qa && (lb || qb)) || (qb && (la || qa))) return nonlin_mul(a, b);
    return qa ? expression_copy(a, B->constant) : expression_copy(b, A->constant);
  }
  if (kpy_isQuadterm(a) || kpy_isQuadterm(b) || kpy_isNonlin(a) || kpy_isNonlin(b))
    return nonlin_mul(a, b);
  return kpy_modelError("Invalid object in operation");
}

PyObject *linterm_mul(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return array_mul(a, b);
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) return nonlin_mul(a, b);
  if (kpy_isExpression(a) || kpy_isExpression(b)) return expression_mul(a, b);
  if (kpy_isQuadterm(a) || kpy_isQuadterm(b)) return quadterm_mul(a, b);
  double v;
  if (number(a, &v)) return general_copy(b, v);
  if (number(b, &v)) return general_copy(a, v);
  var_s *va, *vb;
  double ka, kb;
  if (lin_atom(a, &va, &ka) && lin_atom(b, &vb, &kb))
    return quadterm_fill(ka * kb, (PyObject *)va, (PyObject *)vb);
  return kpy_modelError("Invalid operands in product of linear terms");
}

PyObject *quadterm_mul(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return array_mul(a, b);
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) return nonlin_mul(a, b);
  if (kpy_isExpression(a) || kpy_isExpression(b)) return expression_mul(a, b);
  double v;
  if (number(a, &v)) return quadterm_copy(b, v);
  if (number(b, &v)) return quadterm_copy(a, v);
  if (!kinds_ok(a, b)) return nullptr;
  return nonlin_instantiate_binary(NLOP_PROD, a, b);
}

// ---------------------------------------------------------------------------------------
// quotients

static PyObject *div_by_zero() { return kpy_modelError("Division by zero"); }

PyObject *expression_div(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return array_div(a, b);
  double d;
  if (kpy_isExpression(a) && isObjectConst(b, nullptr, &d)) {
    if (d == 0.0) return div_by_zero();
    return expression_copy(a, 1.0 / d);
  }
  if (!kinds_ok(a, b)) return nullptr;
  return nonlin_div(a, b);
}

// a quotient node of (k * var) / den
static PyObject *term_over(double k, var_s *var, PyObject *den) {
  PyObject *num = linterm_fill(k, (PyObject *)var);
  if (!num) return nullptr;
  PyObject *r = nonlin_instantiate_binary(NLOP_DIV, num, den);
  Py_DECREF(num);
  return r;
}

static PyObject *number_over(double k, PyObject *den) {
  PyObject *num = PyFloat_FromDouble(k);
  if (!num) return nullptr;
  PyObject *r = nonlin_instantiate_binary(NLOP_DIV, num, den);
  Py_DECREF(num);
  return r;
}

// a linear atom divided by a quadratic term m*w*z
static PyObject *atom_over_quadterm(PyObject *a, PyObject *b) {
  auto *q = (quadterm_s *)b;
  var_s *u;
  double k;
  lin_atom(a, &u, &k);
  bool isvar = kpy_isVar(a);
  if (q->coef == 0.0)
    return kpy_modelError(isvar ? "Division by zero of a variable" : "Division by zero of a linear term");
  if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
  if (u == q->var1) return number_over(k / q->coef, (PyObject *)q->var2);
  if (u == q->var2) return number_over(k / q->coef, (PyObject *)q->var1);
  return nonlin_instantiate_binary(NLOP_DIV, a, b);
}

PyObject *quadterm_div(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return array_div(a, b);
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) return nonlin_div(a, b);
  double d;
  if (kpy_isExpression(b) && isObjectConst(b, nullptr, &d)) {
  } else if (kpy_isExpression(a) || kpy_isExpression(b)) {
    return kpy_isExpression(a) ? expression_div(a, b) : nonlin_div(a, b);
  }
  if (!kpy_isQuadterm(a)) {
    var_s *u;
    double k;
    if (lin_atom(a, &u, &k) && kpy_isQuadterm(b)) return atom_over_quadterm(a, b);
    if (!kinds_ok(a, b)) return nullptr;
    return nonlin_instantiate_binary(NLOP_DIV, a, b);
  }
  auto *p = (quadterm_s *)a;
  if (isObjectConst(b, nullptr, &d)) {
    if (d == 0.0) return kpy_modelError("Division by zero of a bilinear term");
    return quadterm_copy(a, 1.0 / d);
  }
  if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
  var_s *w;
  double m;
  if (lin_atom(b, &w, &m)) {
    if (m == 0.0) return kpy_modelError("Division by zero of a bilinear term");
    if (w == p->var1) return linterm_fill(p->coef / m, (PyObject *)p->var2);
    if (w == p->var2) return linterm_fill(p->coef / m, (PyObject *)p->var1);
    return nonlin_instantiate_binary(NLOP_DIV, a, b);
  }
  if (kpy_isQuadterm(b)) {
    auto *q = (quadterm_s *)b;
    bool same = p->var1 == q->var1 && p->var2 == q->var2;
    // unshared variables of a and b when they share exactly one
    var_s *ua = nullptr, *ub = nullptr;
    if (!same) {
      if (p->var1 == q->var1) ua = p->var2, ub = q->var2;
      else if (p->var1 == q->var2) ua = p->var2, ub = q->var1;
      else if (p->var2 == q->var1) ua = p->var1, ub = q->var2;
      else if (p->var2 == q->var2) ua = p->var1, ub = q->var1;
    }
    if ((same || ua) && q->coef == 0.0) return kpy_modelError("Division by zero of a bilinear term");
    if (same) return PyFloat_FromDouble(p->coef / q->coef);
    if (ua) return term_over(p->coef / q->coef, ua, (PyObject *)ub);
    return nonlin_instantiate_binary(NLOP_DIV, a, b);
  }
  if (!kinds_ok(a, b)) return nullptr;
  return nonlin_instantiate_binary(NLOP_DIV, a, b);
}

PyObject *linterm_div(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return array_div(a, b);
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) return nonlin_div(a, b);
  if (kpy_isQuadterm(a) || kpy_isQuadterm(b)) return quadterm_div(a, b);
  if (kpy_isExpression(a)) return expression_div(a, b);
  double d;
  if (kpy_isExpression(b) && !isObjectConst(b, nullptr, &d)) return nonlin_div(a, b);
  var_s *va, *vb;
  double ka, kb;
  bool atom_a = lin_atom(a, &va, &ka);
  if (atom_a && isObjectConst(b, nullptr, &d)) {
    if (d == 0.0) return div_by_zero();
    if (check_first_var(a, nullptr) < 0) return nullptr;
    return linterm_fill(ka / d, (PyObject *)va);
  }
  if (lin_atom(b, &vb, &kb)) {
    if (atom_a && va == vb) {
      if (kb == 0.0) return div_by_zero();
      if (check_first_var(a, nullptr) < 0) return nullptr;
      return PyFloat_FromDouble(ka / kb);
    }
    if (atom_a || isNumericScalar(a)) return nonlin_instantiate_binary(NLOP_DIV, a, b);
  }
  if (getExprType(a) < 0) return nullptr;
  return kpy_modelError("Invalid operands in product of linear terms");
}

// ---------------------------------------------------------------------------------------
// powers

static PyObject *one() { return PyFloat_FromDouble(1.0); }

PyObject *expression_pow(PyObject *a, PyObject *b, PyObject *) {
  if (isArrayOperand(b)) return vector_exponent();
  double e;
  if (kpy_isExpression(a) && number(b, &e)) {
    if (e == 0.0) return one();
    if (e == 1.0) return general_copy(a, 1.0);
    if (e == 2.0) return expression_mul(a, a);
    return nonlin_pow(a, b, Py_None);
  }
  if (!kinds_ok(a, b)) return nullptr;
  if (number(a, &e) && e == 1.0) return one();
  return nonlin_pow(a, b, Py_None);
}

PyObject *linterm_pow(PyObject *a, PyObject *b, PyObject *) {
  if (isArrayOperand(b)) return vector_exponent();
  var_s *v;
  double k, e;
  if (lin_atom(a, &v, &k)) {
    if (number(b, &e)) {
      if (e == 0.0) return one();
      if (e == 1.0) return check_first_var(a, nullptr) < 0 ? nullptr : Py_NewRef(a);
      if (e == 2.0) return quadterm_fill(k * k, (PyObject *)v, (PyObject *)v);
    }
    if (!kinds_ok(a, b)) return nullptr;
    return nonlin_instantiate_binary(NLOP_POW, a, b);
  }
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) return nonlin_pow(a, b, Py_None);
  if (kpy_isExpression(a) || kpy_isExpression(b)) return expression_pow(a, b, Py_None);
  if (kpy_isQuadterm(a) || kpy_isQuadterm(b)) return quadterm_pow(a, b, Py_None);
  if (!kinds_ok(a, b)) return nullptr;
  if (number(a, &e) && e == 1.0) return one();
  return nonlin_instantiate_binary(NLOP_POW, a, b);
}

PyObject *quadterm_pow(PyObject *a, PyObject *b, PyObject *) {
  if (isArrayOperand(b)) return vector_exponent();
  if (kpy_isNonlin(a) || kpy_isNonlin(b)) return nonlin_pow(a, b, Py_None);
  if (kpy_isExpression(a) || kpy_isExpression(b)) return expression_pow(a, b, Py_None);
  if (!kinds_ok(a, b)) return nullptr;
  double e;
  if (number(a, &e) && e == 1.0) return one();
  if (kpy_isQuadterm(a) && number(b, &e)) {
    if (e == 0.0) return one();
    if (e == 1.0) return quadterm_copy(a, 1.0);
  }
  return nonlin_instantiate_binary(NLOP_POW, a, b);
}

// ---------------------------------------------------------------------------------------
// in-place forms

PyObject *linterm_imul(PyObject *a, PyObject *b) {
  double v;
  return number(b, &v) && v == 1.0 ? Py_NewRef(a) : linterm_mul(a, b);
}
PyObject *quadterm_imul(PyObject *a, PyObject *b) {
  double v;
  return number(b, &v) && v == 1.0 ? Py_NewRef(a) : quadterm_mul(a, b);
}

static PyObject *term_idiv(PyObject *a, PyObject *b, binaryfunc div) {
  double d;
  if (isObjectConst(b, nullptr, &d)) {
    if (d == 1.0) return Py_NewRef(a);
    if (d == 0.0) return div_by_zero();
  }
  return div(a, b);
}
PyObject *linterm_idiv(PyObject *a, PyObject *b) { return term_idiv(a, b, linterm_div); }
PyObject *quadterm_idiv(PyObject *a, PyObject *b) { return term_idiv(a, b, quadterm_div); }

static PyObject *term_ipow(PyObject *a, PyObject *b, ternaryfunc pow) {
  double e;
  if (isArrayOperand(b)) return vector_exponent();
  if (number(b, &e)) {
    if (e == 1.0) return Py_NewRef(a);
    if (e == 0.0) return one();
  }
  return pow(a, b, Py_None);
}
PyObject *linterm_ipow(PyObject *a, PyObject *b, PyObject *) { return term_ipow(a, b, linterm_pow); }
PyObject *quadterm_ipow(PyObject *a, PyObject *b, PyObject *) { return term_ipow(a, b, quadterm_pow); }
PyObject *expression_ipow(PyObject *a, PyObject *b, PyObject *) { return term_ipow(a, b, expression_pow); }

PyObject *expression_imul(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return array_mul(a, b);
  double v;
  if (kpy_isExpression(a) && isObjectConst(b, nullptr, &v)) return expression_scaleInPlace(a, v);
  if (number(a, &v) && kpy_isExpression(b)) return expression_copy(b, v);
  return expression_mul(a, b);
}

PyObject *expression_idiv(PyObject *a, PyObject *b) {
  if (isArrayOperand(b)) return array_div(a, b);
  double d;
  if (kpy_isExpression(a) && isObjectConst(b, nullptr, &d)) {
    if (d == 0.0) return div_by_zero();
    if (d == 1.0) return Py_NewRef(a);
    return expression_scaleInPlace(a, 1.0 / d);
  }
  if (!kinds_ok(a, b)) return nullptr;
  return nonlin_div(a, b);
}
