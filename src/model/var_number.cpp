// Number protocol of korvex.var: a variable on either side of an operator. The variable is a
// linear atom (coefficient 1), so the linear-term operations serve it and hand over to the
// operations of linear terms, quadratic terms, expressions and nonlinear nodes.
#include "expr/expr.h"

PyObject *var_copy(PyObject *var, double c) {
  if (check_first_var(var, nullptr) < 0) return nullptr;
  if (c == 1.0) return Py_NewRef(var);
  return linterm_fill(c, var);
}

PyObject *var_neg(PyObject *var) { return var_copy(var, -1.0); }

PyObject *var_add(PyObject *a, PyObject *b) { return linterm_add(a, b); }
PyObject *var_sub(PyObject *a, PyObject *b) { return linterm_sub(a, b); }
PyObject *var_mul(PyObject *a, PyObject *b) { return linterm_mul(a, b); }
PyObject *var_div(PyObject *a, PyObject *b) { return linterm_div(a, b); }
PyObject *var_pow(PyObject *a, PyObject *b, PyObject *mod) { return linterm_pow(a, b, mod); }
PyObject *var_iadd(PyObject *a, PyObject *b) { return linterm_add(a, b); }
PyObject *var_isub(PyObject *a, PyObject *b) { return linterm_sub(a, b); }
PyObject *var_imul(PyObject *a, PyObject *b) { return linterm_mul(a, b); }
PyObject *var_idiv(PyObject *a, PyObject *b) { return linterm_idiv(a, b); }
PyObject *var_ipow(PyObject *a, PyObject *b, PyObject *mod) { return linterm_ipow(a, b, mod); }

PyNumberMethods kpy_var_as_number = KPY_EXPR_NUMBER_METHODS(var);
