// Records and types of the algebra: operand kinds, the number test, term makers, copies.
#include "expr/expr.h"
#include <cmath>

// the slots are filled by kpy_expr_types_ready
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject kpy_lintermType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject kpy_quadtermType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject kpy_expressionType = {PyVarObject_HEAD_INIT(nullptr, 0)};
PyTypeObject kpy_nonlinType = {PyVarObject_HEAD_INIT(nullptr, 0)};
#pragma GCC diagnostic pop

PyTypeObject *kpy_np_ndarray = nullptr;
PyTypeObject *kpy_np_scalars[7] = {};

// ---------------------------------------------------------------------------------------
// numbers and kinds

bool isNumericScalar(PyObject *obj) {
  if (PyFloat_CheckExact(obj) || PyLong_CheckExact(obj)) return true;
  if (kpy_isModelOperand(obj)) return false;
  if (PyFloat_Check(obj) || PyLong_Check(obj)) return true;
  PyTypeObject *t = Py_TYPE(obj);
  for (PyTypeObject *s : kpy_np_scalars)
    if (s && t == s) return true;
  return false;
}

double kpy_numberValue(PyObject *obj) {
  if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
  return PyFloat_AsDouble(obj);
}

bool kpy_isNumpyArray(PyObject *obj) {
  // the model types are no arrays: they are answered without a walk of their bases
  return kpy_np_ndarray && !kpy_isModelOperand(obj) && PyObject_TypeCheck(obj, kpy_np_ndarray);
}

bool isArrayOperand(PyObject *obj) {
  if (kpy_isModelOperand(obj) || PyFloat_CheckExact(obj) || PyLong_CheckExact(obj)) return false;
  if (kpy_isNumpyArray(obj)) return true;
  if (isNumericScalar(obj)) return false;
  return PySequence_Check(obj) != 0;
}

int getExprType(PyObject *obj) {
  if (!obj) {
    PyErr_SetString(kpy_ModelError, "Invalid object in operation: <NULL>");
    return EXPR_INVALID;
  }
  PyTypeObject *t = Py_TYPE(obj);
  if (t == &kpy_expressionType) return EXPR_EXPRESSION;
  if (t == &kpy_lintermType) return EXPR_LINTERM;
  if (kpy_isVar(obj)) return EXPR_VAR;
  if (t == &kpy_nonlinType) return EXPR_NONLIN;
  if (t == &kpy_quadtermType) return EXPR_QUADTERM;
  if (isNumericScalar(obj)) return EXPR_NUMBER;
  PyErr_Format(kpy_ModelError, "Invalid object in operation: <%S>", obj);
  return EXPR_INVALID;
}

bool isObjectConst(PyObject *obj, int *kind, double *value) {
  if (isNumericScalar(obj)) {
    double v = kpy_numberValue(obj);
    if (v == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      return false;
    }
    if (kind) *kind = EXPR_NUMBER;
    if (value) *value = v;
    return true;
  }
  if (kpy_isExpression(obj)) {
    auto *e = (expression_s *)obj;
    if (e->linear || e->quad) return false;
    if (kind) *kind = EXPR_EXPRESSION;
    if (value) *value = e->constant;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// allocation and release

linmap *expr_linmap_new() {
  linmap *m = linmap_new();
  if (!m && !PyErr_Occurred()) PyErr_NoMemory();
  return m;
}

namespace {

// Records of dropped linear terms and expressions (of the exact types), kept for the next ones:
// building rows makes and drops them at a high rate. The interpreter lock guards the lists.
template <class T>
struct Spares {
#ifdef Py_GIL_DISABLED
  static constexpr size_t kMax = 0;   // no lock guards the lists there
#else
  static constexpr size_t kMax = 4096;
#endif
  void *slot[kMax + 1];
  size_t n = 0;
  T *take(PyTypeObject *type) {
    if (!n) return PyObject_New(T, type);
    return (T *)PyObject_Init((PyObject *)slot[--n], type);
  }
  // false: the caller frees the record
  bool keep(PyObject *o) {
    if (n == kMax) return false;
    slot[n++] = o;
    return true;
  }
};
Spares<linterm_s> spareLinterms;
Spares<expression_s> spareExpressions;

}  // namespace

PyObject *linterm_base() { return (PyObject *)spareLinterms.take(&kpy_lintermType); }

PyObject *quadterm_base() { return (PyObject *)PyObject_New(quadterm_s, &kpy_quadtermType); }

PyObject *expression_base() {
  auto *e = spareExpressions.take(&kpy_expressionType);
  if (!e) return nullptr;
  e->constant = 0.0;
  e->linear = nullptr;
  e->quad = nullptr;
  e->quadVars = nullptr;
  return (PyObject *)e;
}

PyObject *nonlin_base() {
  auto *n = PyObject_GC_New(nonlin_s, &kpy_nonlinType);
  if (!n) return nullptr;
  n->args = nullptr;
  n->op = -1;
  PyObject_GC_Track(n);
  return (PyObject *)n;
}

static void linterm_dealloc(PyObject *self) {
  Py_XDECREF(((linterm_s *)self)->var);
  if (Py_TYPE(self) == &kpy_lintermType && spareLinterms.keep(self)) return;
  Py_TYPE(self)->tp_free(self);
}

static void quadterm_dealloc(PyObject *self) {
  auto *q = (quadterm_s *)self;
  Py_XDECREF(q->var1);
  Py_XDECREF(q->var2);
  Py_TYPE(self)->tp_free(self);
}

static void expression_dealloc(PyObject *self) {
  auto *e = (expression_s *)self;
  if (e->linear) linmap_free(&e->linear);
  if (e->quad) quadmap_free(&e->quad);
  if (e->quadVars) indexset_free(&e->quadVars);
  if (Py_TYPE(self) == &kpy_expressionType && spareExpressions.keep(self)) return;
  Py_TYPE(self)->tp_free(self);
}

static int nonlin_traverse(PyObject *self, visitproc visit, void *arg) {
  Py_VISIT(((nonlin_s *)self)->args);
  return 0;
}

static int nonlin_clear(PyObject *self) {
  Py_CLEAR(((nonlin_s *)self)->args);
  return 0;
}

// long chains of unary nodes are released through the trashcan, without deep recursion
static void nonlin_dealloc(PyObject *self) {
  PyObject_GC_UnTrack(self);
  Py_TRASHCAN_BEGIN(self, nonlin_dealloc)
  Py_CLEAR(((nonlin_s *)self)->args);
  Py_TYPE(self)->tp_free(self);
  Py_TRASHCAN_END
}

static PyObject *expression_new(PyTypeObject *, PyObject *, PyObject *) { return expression_base(); }

// ---------------------------------------------------------------------------------------
// makers

PyObject *linterm_fill(double coef, PyObject *var) {
  if (coef == 0.0) return PyFloat_FromDouble(0.0);
  auto *t = (linterm_s *)linterm_base();
  if (!t) return nullptr;
  t->coef = coef;
  t->var = (var_s *)Py_NewRef(var);
  return (PyObject *)t;
}

PyObject *quadterm_fill(double coef, PyObject *a, PyObject *b) {
  if (check_expressions_compatible(a, b, nullptr) < 0) return nullptr;
  auto *q = (quadterm_s *)quadterm_base();
  if (!q) return nullptr;
  if (kpy_varCompare((var_s *)a, (var_s *)b) > 0) std::swap(a, b);
  q->coef = coef;
  q->var1 = (var_s *)Py_NewRef(a);
  q->var2 = (var_s *)Py_NewRef(b);
  return (PyObject *)q;
}

// ---------------------------------------------------------------------------------------
// copies

PyObject *general_copy(PyObject *obj, double c) {
  PyObject *res = nullptr;
  if (isArrayOperand(obj)) {
    PyObject *copy = kpy_isNumpyArray(obj) ? PyObject_CallMethod(obj, "copy", nullptr)
                                           : PySequence_Repeat(obj, 1);
    if (!copy || c == 1.0) return copy;
    PyObject *f = PyFloat_FromDouble(c);
    if (f) res = PyNumber_Multiply(f, copy);
    Py_XDECREF(f);
    Py_DECREF(copy);
    return res;
  }
  if (isNumericScalar(obj)) {
    if (c == 1.0) return Py_NewRef(obj);
    double v = kpy_numberValue(obj);
    if (v == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(v * c);
  }
  if (kpy_isLinterm(obj)) res = linterm_copy(obj, c);
  else if (kpy_isVar(obj)) res = var_copy(obj, c);
  else if (kpy_isQuadterm(obj)) res = quadterm_copy(obj, c);
  else if (kpy_isExpression(obj)) res = expression_copy(obj, c);
  else if (kpy_isNonlin(obj)) res = nonlin_copy(obj, c);
  if (!res && !PyErr_Occurred()) PyErr_SetString(kpy_ModelError, "Invalid object being copied");
  return res;
}

PyObject *linterm_copy(PyObject *term, double c) {
  if (!kpy_isLinterm(term)) return kpy_modelError("Linterm copy using an invalid object");
  if (check_first_var(term, nullptr) < 0) return nullptr;
  auto *t = (linterm_s *)term;
  return linterm_fill(c * t->coef, (PyObject *)t->var);
}

PyObject *quadterm_copy(PyObject *term, double c) {
  if (!kpy_isQuadterm(term)) return kpy_modelError("Invalid object being copied");
  auto *q = (quadterm_s *)term;
  if (check_first_var(term, nullptr) < 0 ||
      check_expressions_compatible((PyObject *)q->var1, (PyObject *)q->var2, nullptr) < 0)
    return nullptr;
  auto *r = (quadterm_s *)quadterm_base();
  if (!r) return nullptr;
  r->coef = c * q->coef;
  r->var1 = (var_s *)Py_NewRef(q->var1);
  r->var2 = (var_s *)Py_NewRef(q->var2);
  return (PyObject *)r;
}

// the serial set of an unlinked expression: created when missing, receives u and v
int expression_noteQuadVars(expression_s *e, var_s *u, var_s *v) {
  if (u->owner) return 0;
  if (!e->quadVars && !(e->quadVars = indexset_new())) {
    if (!PyErr_Occurred()) PyErr_NoMemory();
    return -1;
  }
  if (indexset_add(e->quadVars, u) < 0) return -1;
  if (v != u && indexset_add(e->quadVars, v) < 0) return -1;
  return 0;
}

// a new map holding src's entries times c, with room for extra more; null with an error set
static linmap *scaled_linmap(const linmap *src, double c, size_t extra) {
  linmap *m = expr_linmap_new();
  if (!m) return nullptr;
  try {
    linmap_room(m, src->size() + extra);
    m->assignScaled(*src, c);
    for (auto &kv : *src) Py_INCREF((PyObject *)kv.first);
  } catch (...) {
    linmap_free(&m);
    PyErr_NoMemory();
  }
  return m;
}

// copies the maps of src into e, every coefficient times c (entries written as they are),
// with room for extra more linear entries; a factor within 1e-15 of 1 copies the coefficients
// unscaled
static int copy_scaled_maps(expression_s *e, const expression_s *src, double c, bool unlinked,
                            size_t extra) {
  if (std::fabs(c - 1.0) <= 1e-15) c = 1.0;
  if (src->linear && !(e->linear = scaled_linmap(src->linear, c, extra))) return -1;
  if (src->quad) {
    if (!(e->quad = quadmap_new())) return -1;
    for (auto &outer : *src->quad) {
      linmap *inner = scaled_linmap(outer.second, c, 0);
      if (!inner) return -1;
      if (quadmap_set(e->quad, outer.first, inner) < 0) {
        linmap_free(&inner);
        return -1;
      }
    }
  }
  if (unlinked && src->quadVars && indexset_copy(&e->quadVars, src->quadVars) < 0) return -1;
  return 0;
}

PyObject *expression_copy(PyObject *obj, double c) { return expression_copy_room(obj, c, 0); }

int expression_scale_entries(PyObject *obj, double c) {
  if (check_first_var(obj, nullptr) < 0) return -1;
  auto *e = (expression_s *)obj;
  e->constant *= c;
  if (std::fabs(c - 1.0) <= 1e-15) return 0;
  if (e->linear)
    for (auto it = e->linear->begin(); it != e->linear->end(); ++it) it.value() *= c;
  if (e->quad)
    for (auto &outer : *e->quad)
      for (auto it = outer.second->begin(); it != outer.second->end(); ++it) it.value() *= c;
  return 0;
}

PyObject *expression_copy_room(PyObject *obj, double c, size_t extra) {
  var_s *first = nullptr;
  if (check_first_var(obj, &first) < 0) return nullptr;
  if (kpy_isNonlin(obj)) return c == 0.0 ? expression_base() : nonlin_copy(obj, c);
  auto *e = (expression_s *)expression_base();
  if (!e) return nullptr;
  if (c == 0.0) return (PyObject *)e;
  bool unlinked = first && !first->owner;
  const char *fail = "Cannot copy expression";
  int rc = 0;
  if (isNumericScalar(obj)) {
    double v = kpy_numberValue(obj);
    if (v == -1.0 && PyErr_Occurred()) rc = -1;
    e->constant = v * c;
  } else if (kpy_isVar(obj)) {
    rc = (e->linear = expr_linmap_new()) ? linmap_set(e->linear, (var_s *)obj, c) : -1;
  } else if (kpy_isLinterm(obj)) {
    auto *t = (linterm_s *)obj;
    fail = "Cannot copy linear term into expression";
    rc = (e->linear = expr_linmap_new()) ? linmap_set(e->linear, t->var, c * t->coef) : -1;
  } else if (kpy_isQuadterm(obj)) {
    auto *q = (quadterm_s *)obj;
    fail = "Cannot copy quadratic term into expression";
    linmap *inner = nullptr;
    rc = -1;
    if ((e->quad = quadmap_new()) && (inner = expr_linmap_new())) {
      if (quadmap_set(e->quad, q->var1, inner) < 0) linmap_free(&inner);
      else if (linmap_set(inner, q->var2, c * q->coef) == 0 && !(unlinked && expression_noteQuadVars(e, q->var1, q->var2) < 0))
        rc = 0;
    }
  } else if (kpy_isExpression(obj)) {
    auto *src = (expression_s *)obj;
    e->constant = src->constant * c;
    rc = copy_scaled_maps(e, src, c, unlinked, extra);
  } else {
    rc = -1;
  }
  if (rc < 0) {
    Py_DECREF(e);
    if (PyErr_ExceptionMatches(PyExc_MemoryError) || !PyErr_Occurred()) {
      PyErr_Clear();
      PyErr_SetString(kpy_ModelError, fail);
    }
    return nullptr;
  }
  return (PyObject *)e;
}

// ---------------------------------------------------------------------------------------
// type objects

static const char linterm_doc[] =
    "Linear term: a coefficient times a variable, such as 2*x. Made by arithmetic on variables.";
static const char quadterm_doc[] =
    "Quadratic term: a coefficient times two variables, such as 2*x*y or 3*x**2. Made by "
    "arithmetic on variables.";
static const char expression_doc[] =
    "Expression: a constant plus linear and quadratic terms, such as x**2 + 2*y - 5. Made by "
    "arithmetic; korvex.expression() is the empty expression.";
static const char nonlin_doc[] =
    "Nonlinear expression, such as x**4 + korvex.exp(x). Made by arithmetic and the module's "
    "functions.";

extern PyNumberMethods kpy_linterm_as_number, kpy_quadterm_as_number, kpy_expression_as_number,
    kpy_nonlin_as_number;

static PyMethodDef linterm_methods[3], quadterm_methods[3], expression_methods[3],
    nonlin_methods[3];

static void fill_methods(PyMethodDef *m, PyCFunction lin, PyCFunction quad) {
  m[0] = {"extractLinear", lin, METH_NOARGS, "Linear part as (variables, coefficients)"};
  m[1] = {"extractQuadratic", quad, METH_NOARGS, "Quadratic part as (variables, variables, coefficients)"};
  m[2] = {nullptr, nullptr, 0, nullptr};
}

static void fill_type(PyTypeObject *t, const char *name, size_t size, const char *doc,
                      destructor dealloc, PyNumberMethods *num, reprfunc str, PyMethodDef *methods) {
  t->tp_name = name;
  t->tp_basicsize = (Py_ssize_t)size;
  t->tp_dealloc = dealloc;
  t->tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  t->tp_doc = doc;
  t->tp_as_number = num;
  t->tp_str = str;
  t->tp_repr = str;
  t->tp_richcompare = generic_cmp;
  t->tp_methods = methods;
}

int kpy_expr_types_ready() {
  fill_methods(linterm_methods, linterm_extractLinear, linterm_extractQuadratic);
  fill_methods(quadterm_methods, quadterm_extractLinear, quadterm_extractQuadratic);
  fill_methods(expression_methods, expression_extractLinear, expression_extractQuadratic);
  fill_methods(nonlin_methods, nonlin_extractLinear, nonlin_extractQuadratic);
  fill_type(&kpy_lintermType, "korvex.linterm", sizeof(linterm_s), linterm_doc, linterm_dealloc,
            &kpy_linterm_as_number, linterm_str, linterm_methods);
  fill_type(&kpy_quadtermType, "korvex.quadterm", sizeof(quadterm_s), quadterm_doc,
            quadterm_dealloc, &kpy_quadterm_as_number, quadterm_str, quadterm_methods);
  fill_type(&kpy_expressionType, "korvex.expression", sizeof(expression_s), expression_doc,
            expression_dealloc, &kpy_expression_as_number, expression_str, expression_methods);
  kpy_expressionType.tp_new = expression_new;
  kpy_expressionType.tp_richcompare = expression_cmp;
  fill_type(&kpy_nonlinType, "korvex.nonlinear", sizeof(nonlin_s), nonlin_doc, nonlin_dealloc,
            &kpy_nonlin_as_number, nonlin_str, nonlin_methods);
  kpy_nonlinType.tp_flags |= Py_TPFLAGS_HAVE_GC;
  kpy_nonlinType.tp_traverse = nonlin_traverse;
  kpy_nonlinType.tp_clear = nonlin_clear;
  for (PyTypeObject *t : {&kpy_lintermType, &kpy_quadtermType, &kpy_expressionType, &kpy_nonlinType})
    if (PyType_Ready(t) < 0) return -1;
  return 0;
}
