// Failures of the algebra that no Python expression reaches, and structural equality of model
// objects while the constraint operators are off.
#include "expr/expr.h"
#define CHECK_PRINTS_PYTHON_ERRORS
#include "check.h"

#include <cstdio>
#include <cstring>
#include <nanobind/nanobind.h>

extern "C" PyObject *PyInit__korvex(void);

// r is null with an exception of type `type` whose text is `text`; the error is cleared
static bool fails_with(PyObject *r, PyObject *type, const char *text) {
  if (r) {
    Py_DECREF(r);
    return false;
  }
  PyObject *exc = PyErr_GetRaisedException();
  bool ok = exc && PyErr_GivenExceptionMatches(exc, type);
  PyObject *s = exc ? PyObject_Str(exc) : nullptr;
  const char *got = s ? PyUnicode_AsUTF8(s) : nullptr;
  ok = ok && got && std::strcmp(got, text) == 0;
  if (!ok) std::fprintf(stderr, "expected '%s', got '%s'\n", text, got ? got : "(none)");
  Py_XDECREF(s);
  Py_XDECREF(exc);
  PyErr_Clear();
  return ok;
}

static PyObject *ME() { return kpy_ModelError; }

// result of a comparison with the constraint operators off: 1 true, 0 false, -1 error
static int cmp(PyObject *a, PyObject *b, int op) {
  PyObject *r = generic_cmp(a, b, op);
  if (!r) return -1;
  int v = r == Py_True ? 1 : r == Py_False ? 0 : -2;
  Py_DECREF(r);
  return v;
}

static PyObject *node(int op, PyObject *args) {
  auto *n = (nonlin_s *)nonlin_base();
  n->op = op;
  n->args = args;
  return (PyObject *)n;
}

static void internal_failures(PyObject *x, PyObject *y) {
  PyObject *obj = PyObject_CallNoArgs((PyObject *)&PyBaseObject_Type);
  EXPECT(fails_with(general_copy(obj, 1.0), ME(), "Invalid object being copied"));
  EXPECT(fails_with(linterm_copy(x, 2.0), ME(), "Linterm copy using an invalid object"));
  Py_ssize_t i;
  EXPECT(fails_with(nonlin_arg_first(x, &i), ME(),
                   "Accessing first argument list of an object that is not a nonlinear expression"));
  EXPECT(fails_with(nonlin_arg_next(x, &i), ME(),
                   "Accessing next argument list of an object that is not a nonlinear expression"));
  PyObject *list = Py_BuildValue("[O]", x);
  EXPECT(fails_with(nonlin_instantiate(true, NLOP_MAX, x), ME(),
                   "Could not create an n-ary nonlinear expression: the arguments must be in a list or tuple"));
  EXPECT(fails_with(nonlin_instantiate(false, NLOP_SIN, list), ME(),
                   "Could not create a unary nonlinear expression: the argument must be a single expression"));
  EXPECT(fails_with(nonlin_instantiate(false, NLOP_SIN, obj), ME(), "Invalid object in unary nonlinear expression"));
  PyObject *user = Py_BuildValue("[iO]", 3, x);
  EXPECT(fails_with(nonlin_instantiate(true, NLOP_USER_NODERIV, user), ME(),
                   "First argument in a user function expression must be a function"));
  EXPECT(fails_with(make_constraint(x, y, 7), ME(), "Invalid constraint: unrecognized comparison operator"));
  EXPECT(fails_with(multiply_by_const_expr(PyFloat_FromDouble(3.0), 2.0, nullptr), ME(),
                   "Error multiplying expressions"));
  EXPECT(fails_with(expression_alg_sum(x, y, 1.0), ME(), "Invalid object in operation"));
  EXPECT(fails_with(expression_mul(x, y), ME(), "Invalid object in operation"));
  PyObject *bad_list = node(NLOP_MAX, Py_BuildValue("[OO]", x, obj));
  EXPECT(fails_with(nonlin_copy(bad_list, 1.0), ME(),
                   "Invalid object being copied from argument list/tuple in a nonlinear expression"));
  PyObject *bad_single = node(NLOP_SIN, Py_NewRef(obj));
  EXPECT(fails_with(nonlin_copy(bad_single, 1.0), ME(),
                   "Invalid object being copied from single argument in a nonlinear expression"));
  PyObject *np = PyImport_ImportModule("numpy");
  PyObject *arr = np ? PyObject_CallMethod(np, "zeros", "i", 2) : nullptr;
  EXPECT(arr && fails_with(make_constraint(arr, arr, Py_LE), kpy_InterfaceError, "Ill-defined constraint array"));
  Py_XDECREF(arr);
  Py_XDECREF(np);
  Py_DECREF(bad_list);
  Py_DECREF(bad_single);
  Py_DECREF(user);
  Py_DECREF(list);
  Py_DECREF(obj);
}

static void structural_equality(PyObject *x, PyObject *y) {
  kpy_env.constraint_ops = 0;
  EXPECT(cmp(x, x, Py_EQ) == 1);
  EXPECT(cmp(x, y, Py_EQ) == 0);
  EXPECT(cmp(x, y, Py_NE) == 1);
  PyObject *one = PyFloat_FromDouble(1.0), *zero = PyLong_FromLong(0);
  EXPECT(cmp(x, one, Py_EQ) == 0);
  EXPECT(fails_with(generic_cmp(x, y, Py_LE), PyExc_TypeError,
                   "TypeError: '<=' not supported between instances of 'var' and 'var'"));
  EXPECT(fails_with(generic_cmp(x, one, Py_GT), PyExc_TypeError,
                   "TypeError: '>' not supported between instances of 'var' and 'float'"));
  // a zero linear term is the number 0
  auto *t0 = (linterm_s *)linterm_base();
  t0->coef = 0.0;
  t0->var = (var_s *)Py_NewRef(x);
  EXPECT(cmp((PyObject *)t0, zero, Py_EQ) == 1);
  // terms and expressions compare by their maps, whatever the order they were built in
  PyObject *two = PyFloat_FromDouble(2.0);
  PyObject *a = PyNumber_Add(PyNumber_Multiply(two, x), PyNumber_Multiply(x, y));
  PyObject *b = PyNumber_Add(PyNumber_Multiply(y, x), PyNumber_Multiply(x, two));
  EXPECT(a && b && cmp(a, b, Py_EQ) == 1);
  PyObject *c = PyNumber_Add(b, one);
  EXPECT(c && cmp(a, c, Py_EQ) == 0 && cmp(a, c, Py_NE) == 1);
  PyObject *xy = PyNumber_Multiply(x, y), *yx = PyNumber_Multiply(y, x);
  EXPECT(cmp(xy, yx, Py_EQ) == 1);
  // nodes: unary nodes compare their arguments, n-ary ones item by item
  PyObject *s1 = nonlin_instantiate_unary(NLOP_SIN, a), *s2 = nonlin_instantiate_unary(NLOP_SIN, b);
  PyObject *s3 = nonlin_instantiate_unary(NLOP_COS, b);
  EXPECT(s1 && s2 && s3 && cmp(s1, s2, Py_EQ) == 1 && cmp(s1, s3, Py_EQ) == 0 && cmp(s1, a, Py_EQ) == 0);
  PyObject *m1 = nonlin_instantiate_nary(NLOP_MAX, Py_BuildValue("[OO]", s1, x));
  PyObject *m2 = nonlin_instantiate_nary(NLOP_MAX, Py_BuildValue("[OO]", s2, x));
  PyObject *m3 = nonlin_instantiate_nary(NLOP_MAX, Py_BuildValue("[OO]", s2, y));
  EXPECT(m1 && m2 && m3 && cmp(m1, m2, Py_EQ) == 1 && cmp(m1, m3, Py_EQ) == 0);
  // user-function nodes hold a callable that converts to no expression: never equal
  PyObject *f = PyObject_GetAttrString(PyImport_AddModule("builtins"), "abs");
  PyObject *u1 = nonlin_instantiate_nary(NLOP_USER_NODERIV, Py_BuildValue("[OO]", f, x));
  PyObject *u2 = nonlin_instantiate_nary(NLOP_USER_NODERIV, Py_BuildValue("[OO]", f, x));
  EXPECT(u1 && u2 && cmp(u1, u2, Py_EQ) == 0);
  PyObject *odd = node(NLOP_MAX, Py_NewRef(x));
  EXPECT(fails_with(generic_cmp(m1, odd, Py_EQ), PyExc_TypeError, "Nonlinear argument is not iterable"));
  PyObject *big = PyLong_FromString("1180591620717411303424", nullptr, 10);
  EXPECT(generic_cmp(x, big, Py_EQ) == nullptr && PyErr_ExceptionMatches(PyExc_OverflowError));
  PyErr_Clear();
  kpy_env.constraint_ops = 1;
  PyObject *con = generic_cmp(x, y, Py_EQ);
  EXPECT(con && Py_TYPE(con) == &kpy_constraintType);
  for (PyObject *o : {one, zero, (PyObject *)t0, two, a, b, c, xy, yx, s1, s2, s3, m1, m2, m3, f, u1, u2, odd, big, con})
    Py_XDECREF(o);
}

int main() {
  Py_Initialize();
  PyObject *m = PyInit__korvex();
  if (!m) {
    PyErr_Print();
    return 1;
  }
  PyObject *x = PyObject_CallNoArgs((PyObject *)&kpy_varType);
  PyObject *y = PyObject_CallNoArgs((PyObject *)&kpy_varType);
  EXPECT(x && y);
  if (x && y) {
    internal_failures(x, y);
    structural_equality(x, y);
  }
  EXPECT(!PyErr_Occurred());
  std::printf("%d failures\n", check_failures);
  return check_failures ? 1 : 0;
}
