// The expression algebra: linear terms, quadratic terms, expressions and nonlinear nodes,
// the operators between them, numbers and variables, and comparison into constraints.
//
// Conventions: every function returning PyObject* gives a new reference, or null with a
// Python error set; int results are 0 on success and -1 with an error set. Every failure of
// the algebra raises korvex.ModelError unless a function says otherwise.
#pragma once
#include "model/services.h"
#include "module/maps.h"

// korvex.ModelError with a fixed text; always null
inline PyObject *kpy_modelError(const char *msg) {
  PyErr_SetString(kpy_ModelError, msg);
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// Operand kinds and operation codes

enum exprtype : int {
  EXPR_INVALID = -1,
  EXPR_NUMBER = 0,
  EXPR_VAR = 1,
  EXPR_LINTERM = 2,
  EXPR_QUADTERM = 3,
  EXPR_EXPRESSION = 4,
  EXPR_NONLIN = 5,
};

enum operation_type : int {
  NLOP_SUM = 0,        // n-ary, list
  NLOP_MINUS = 1,      // binary, tuple
  NLOP_UMINUS = 2,     // unary
  NLOP_PROD = 3,       // n-ary, list; a numeric factor is kept last
  NLOP_DIV = 4,
  NLOP_POW = 5,
  NLOP_EXP = 6,
  NLOP_LOG = 7,
  NLOP_LOG10 = 8,
  NLOP_SIN = 9,
  NLOP_COS = 10,
  NLOP_TAN = 11,
  NLOP_ASIN = 12,
  NLOP_ACOS = 13,
  NLOP_ATAN = 14,
  NLOP_MAX = 15,
  NLOP_MIN = 16,
  NLOP_ABS = 17,
  NLOP_SIGN = 18,
  NLOP_ERF = 19,
  NLOP_ERFC = 20,
  NLOP_SQRT = 21,
  NLOP_PWL = 22,
  NLOP_SUMF = 23,      // sum, function form
  NLOP_PRODF = 24,     // product, function form
  NLOP_AND = 25,       // n-ary, list
  NLOP_OR = 26,        // n-ary, list
  NLOP_USER_NODERIV = 27,
  NLOP_USER_DERIV = 28,
  NLOP_USER_OPTDERIV = 29,
  NLOP_COUNT = 30,
};

// One row per operation code: symbol, arity (-1 n-ary), form (0 infix, -1 function call),
// precedence (-1 none).
struct printTool {
  const char *symbol;
  int arity;
  int form;
  int precedence;
};
extern const printTool printToolArray[NLOP_COUNT];

inline bool nlop_is_user(int op) { return op >= NLOP_USER_NODERIV && op <= NLOP_USER_OPTDERIV; }
// codes whose argument container is a list built by the algebra
inline bool nlop_is_listshaped(int op) {
  return op == NLOP_SUM || op == NLOP_PROD || op == NLOP_AND || op == NLOP_OR;
}

// ---------------------------------------------------------------------------------------
// Object records and types

struct linterm_s {
  PyObject_HEAD
  double coef;       // never 0.0 when made by linterm_fill
  var_s *var;        // owned reference
};

struct quadterm_s {
  PyObject_HEAD
  double coef;       // may be 0.0
  var_s *var1, *var2;  // owned references; var1 <= var2 in the variable order
};

struct expression_s {
  PyObject_HEAD
  double constant;
  linmap *linear;    // null: no linear terms
  quadmap *quad;     // null: no quadratic terms; quad[u][v] with u <= v
  indexset *quadVars;  // serials of variables in quadratic terms (unlinked variables only)
};

struct nonlin_s {
  PyObject_HEAD
  PyObject *args;    // list (n-ary codes), tuple (binary), the argument itself (unary)
  int op;            // operation_type; -1 until a builder sets it
};

extern PyTypeObject kpy_lintermType, kpy_quadtermType, kpy_expressionType, kpy_nonlinType;
// fills and readies the four types; 0 or -1
int kpy_expr_types_ready();

inline bool kpy_isVar(PyObject *o) { return Py_TYPE(o) == &kpy_varType; }
inline bool kpy_isLinterm(PyObject *o) { return Py_TYPE(o) == &kpy_lintermType; }
inline bool kpy_isQuadterm(PyObject *o) { return Py_TYPE(o) == &kpy_quadtermType; }
inline bool kpy_isExpression(PyObject *o) { return Py_TYPE(o) == &kpy_expressionType; }
inline bool kpy_isNonlin(PyObject *o) { return Py_TYPE(o) == &kpy_nonlinType; }
// a variable, linear term, quadratic term, expression or nonlinear node
inline bool kpy_isModelOperand(PyObject *o) {
  return kpy_isVar(o) || kpy_isLinterm(o) || kpy_isQuadterm(o) || kpy_isExpression(o) ||
         kpy_isNonlin(o);
}

// ---------------------------------------------------------------------------------------
// Operand kinds, numbers, checks (objects.cpp, checks.cpp)

// NumPy types read at start-up (null when NumPy is unavailable): the array type and the
// scalar types int8, int16, int32, int64, float16, float32, float64
extern PyTypeObject *kpy_np_ndarray;
extern PyTypeObject *kpy_np_scalars[7];
// true for float, int (and subclasses), NumPy int8..int64 and float16..float64 scalars
bool isNumericScalar(PyObject *obj);
// float value of a number (after isNumericScalar); -1.0 with an error set on failure
double kpy_numberValue(PyObject *obj);
// NumPy array (or subclass)
bool kpy_isNumpyArray(PyObject *obj);
// array operand: a NumPy array or any other object passing the sequence check
bool isArrayOperand(PyObject *obj);
// exprtype of obj; -1 with ModelError "Invalid object in operation: <%S>"
int getExprType(PyObject *obj);
// number, or expression whose linear and quad maps are both null; kind/value may be null
bool isObjectConst(PyObject *obj, int *kind, double *value);
// first variable of an operand (borrowed, or null); refuses deleted variables and non-operands
int check_first_var(PyObject *obj, var_s **out);
// refuses operands of different problems or linked with unlinked; unlinked out: 1/0 or null
int check_expressions_compatible(PyObject *a, PyObject *b, int *unlinked);
// the same refusal for two variables (either may be null)
int check_var_owners(const var_s *a, const var_s *b);
// any one variable of an expression's maps, or null
var_s *expression_firstVar(const expression_s *e);

// ---------------------------------------------------------------------------------------
// Temporaries of the interpreter's evaluation stack (temps.cpp)

// reads the interpreter's instruction table; 0 (without it nothing counts as a temporary)
int kpy_temps_init();
// notes an operator's result (an expression) as made by the current instruction
void kpy_temp_note(PyObject *res);
// o (a or b, the operands of the current operator) is the noted result, held only by the
// evaluation stack, which drops it after this operator: it may be changed and returned
bool kpy_temp_reusable(PyObject *o, PyObject *a, PyObject *b);
// forgets the noted result: element-wise operations over arrays start with it, so that no
// element loop meets a noted result
void kpy_temp_forget();
// scales an expression's constant by c and its coefficients by c, or by 1.0 when c is
// within 1e-15 of 1 (as expression_copy does); refuses deleted variables
int expression_scale_entries(PyObject *e, double c);

// ---------------------------------------------------------------------------------------
// Makers and copies (objects.cpp)

PyObject *linterm_fill(double coef, PyObject *var);         // float 0.0 when coef == 0.0
PyObject *quadterm_fill(double coef, PyObject *a, PyObject *b);
PyObject *expression_base();                                // empty expression
PyObject *linterm_base();
PyObject *quadterm_base();
PyObject *nonlin_base();                                    // op -1, args null
// a new linmap (with the load factor the algebra uses); null with MemoryError
linmap *expr_linmap_new();
// room for n entries when memory allows (only a speed-up: a failure is ignored)
inline void expr_reserve(linmap *m, size_t n) {
  try {
    linmap_room(m, n);
  } catch (...) {
  }
}

PyObject *general_copy(PyObject *obj, double c);
PyObject *linterm_copy(PyObject *term, double c);
PyObject *quadterm_copy(PyObject *term, double c);
PyObject *expression_copy(PyObject *obj, double c);
// expression_copy with room for extra more linear entries in the copy
PyObject *expression_copy_room(PyObject *obj, double c, size_t extra);
// records the serials of u and v in e's serial set when they are unlinked
int expression_noteQuadVars(expression_s *e, var_s *u, var_s *v);
PyObject *nonlin_copy(PyObject *node, double c);
// number protocol of korvex.var (var_number.cpp; the table is kpy_var_as_number)
PyObject *var_copy(PyObject *var, double c);
PyObject *var_neg(PyObject *var);
PyObject *var_add(PyObject *a, PyObject *b);
PyObject *var_sub(PyObject *a, PyObject *b);
PyObject *var_mul(PyObject *a, PyObject *b);
PyObject *var_div(PyObject *a, PyObject *b);
PyObject *var_pow(PyObject *a, PyObject *b, PyObject *mod);
PyObject *var_iadd(PyObject *a, PyObject *b);
PyObject *var_isub(PyObject *a, PyObject *b);
PyObject *var_imul(PyObject *a, PyObject *b);
PyObject *var_idiv(PyObject *a, PyObject *b);
PyObject *var_ipow(PyObject *a, PyObject *b, PyObject *mod);

// ---------------------------------------------------------------------------------------
// Sums and amendments (sums.cpp)

// a variable (coefficient 1) or a linear term: its variable and coefficient
bool lin_atom(PyObject *o, var_s **v, double *k);
// a + c*b as a new object, by the kinds of a and b (neither operand is changed)
PyObject *sum_new(PyObject *a, PyObject *b, double c);
PyObject *linterm_alg_sum(PyObject *a, PyObject *b, double c);
PyObject *quadterm_alg_sum(PyObject *a, PyObject *b, double c);
PyObject *expression_alg_sum(PyObject *a, PyObject *b, double c);
PyObject *expression_incremental_alg_sum(PyObject *a, PyObject *b, double c);
int expression_addToLinTerm(expression_s *e, var_s *var, double c);
int expression_setLinTerm(expression_s *e, var_s *var, double c);
int expression_addToQuadTerm(expression_s *e, var_s *u, var_s *v, double c);
int expression_setQuadTerm(expression_s *e, var_s *u, var_s *v, double c);

PyObject *linterm_add(PyObject *a, PyObject *b);
PyObject *linterm_sub(PyObject *a, PyObject *b);
PyObject *linterm_iadd(PyObject *a, PyObject *b);
PyObject *linterm_isub(PyObject *a, PyObject *b);
PyObject *linterm_neg(PyObject *a);
PyObject *quadterm_add(PyObject *a, PyObject *b);
PyObject *quadterm_sub(PyObject *a, PyObject *b);
PyObject *quadterm_iadd(PyObject *a, PyObject *b);
PyObject *quadterm_isub(PyObject *a, PyObject *b);
PyObject *quadterm_neg(PyObject *a);
PyObject *expression_add(PyObject *a, PyObject *b);
PyObject *expression_sub(PyObject *a, PyObject *b);
PyObject *expression_iadd(PyObject *a, PyObject *b);
PyObject *expression_isub(PyObject *a, PyObject *b);
PyObject *expression_neg(PyObject *a);

// Dispatchers over any two operands (None on the left: a copy of b; see each operator)
PyObject *general_add(PyObject *a, PyObject *b);
PyObject *general_sub(PyObject *a, PyObject *b);
PyObject *general_mul(PyObject *a, PyObject *b);
PyObject *general_div(PyObject *a, PyObject *b);
PyObject *general_pow(PyObject *a, PyObject *b);
PyObject *general_sqr(PyObject *a);
PyObject *general_neg(PyObject *a);
PyObject *general_and(PyObject *a, PyObject *b);
PyObject *general_or(PyObject *a, PyObject *b);
PyObject *general_iadd(PyObject *a, PyObject *b);
PyObject *general_isub(PyObject *a, PyObject *b);
PyObject *general_imul(PyObject *a, PyObject *b);
PyObject *general_idiv(PyObject *a, PyObject *b);
PyObject *general_ipow(PyObject *a, PyObject *b);
PyObject *general_iand(PyObject *a, PyObject *b);
PyObject *general_ior(PyObject *a, PyObject *b);

// ---------------------------------------------------------------------------------------
// Products, quotients, powers (products.cpp)

PyObject *multiply_by_const_expr(PyObject *obj, double c, int *kind);
PyObject *expression_scaleInPlace(PyObject *e, double c);
PyObject *linterm_mul(PyObject *a, PyObject *b);
PyObject *linterm_imul(PyObject *a, PyObject *b);
PyObject *linterm_div(PyObject *a, PyObject *b);
PyObject *linterm_idiv(PyObject *a, PyObject *b);
PyObject *linterm_pow(PyObject *a, PyObject *b, PyObject *mod);
PyObject *linterm_ipow(PyObject *a, PyObject *b, PyObject *mod);
PyObject *quadterm_mul(PyObject *a, PyObject *b);
PyObject *quadterm_imul(PyObject *a, PyObject *b);
PyObject *quadterm_div(PyObject *a, PyObject *b);
PyObject *quadterm_idiv(PyObject *a, PyObject *b);
PyObject *quadterm_pow(PyObject *a, PyObject *b, PyObject *mod);
PyObject *quadterm_ipow(PyObject *a, PyObject *b, PyObject *mod);
PyObject *expression_mul(PyObject *a, PyObject *b);
PyObject *expression_imul(PyObject *a, PyObject *b);
PyObject *expression_div(PyObject *a, PyObject *b);
PyObject *expression_idiv(PyObject *a, PyObject *b);
PyObject *expression_pow(PyObject *a, PyObject *b, PyObject *mod);
PyObject *expression_ipow(PyObject *a, PyObject *b, PyObject *mod);

// ---------------------------------------------------------------------------------------
// Nonlinear nodes (nonlin.cpp)

PyObject *nonlin_instantiate(bool nary, int op, PyObject *args);
PyObject *nonlin_instantiate_unary(int op, PyObject *x);
PyObject *nonlin_instantiate_nary(int op, PyObject *args);
PyObject *nonlin_instantiate_binary(int op, PyObject *a, PyObject *b);
PyObject *nonlin_instantiate_binary_flatten(int op, PyObject *a, PyObject *b);
PyObject *nonlin_inplace_generic(int op, PyObject *a, PyObject *b);
// borrowed first / next argument; index out; null without error after the last
PyObject *nonlin_arg_first(PyObject *node, Py_ssize_t *index);
PyObject *nonlin_arg_next(PyObject *node, Py_ssize_t *index);

PyObject *nonlin_alg_sum(PyObject *a, PyObject *b, double c);
PyObject *nonlin_incremental_alg_sum(PyObject *a, PyObject *b, double c);
PyObject *nonlin_add(PyObject *a, PyObject *b);
PyObject *nonlin_sub(PyObject *a, PyObject *b);
PyObject *nonlin_mul(PyObject *a, PyObject *b);
PyObject *nonlin_div(PyObject *a, PyObject *b);
PyObject *nonlin_pow(PyObject *a, PyObject *b, PyObject *mod);
PyObject *nonlin_neg(PyObject *a);
PyObject *nonlin_abs(PyObject *a);
PyObject *nonlin_and(PyObject *a, PyObject *b);
PyObject *nonlin_or(PyObject *a, PyObject *b);
PyObject *nonlin_iadd(PyObject *a, PyObject *b);
PyObject *nonlin_isub(PyObject *a, PyObject *b);
PyObject *nonlin_imul(PyObject *a, PyObject *b);
PyObject *nonlin_idiv(PyObject *a, PyObject *b);
PyObject *nonlin_ipow(PyObject *a, PyObject *b, PyObject *mod);
PyObject *nonlin_iand(PyObject *a, PyObject *b);
PyObject *nonlin_ior(PyObject *a, PyObject *b);

// ---------------------------------------------------------------------------------------
// Number-protocol tables (prefix: var, linterm, quadterm, expression, nonlin)

#define KPY_EXPR_NUMBER_METHODS(p)                                                              \
  {p##_add, p##_sub, p##_mul, nullptr, nullptr, p##_pow, p##_neg, nullptr, nonlin_abs, nullptr, \
   nullptr, nullptr, nullptr, nonlin_and, nullptr, nonlin_or, nullptr, nullptr, nullptr,         \
   p##_iadd, p##_isub, p##_imul, nullptr, p##_ipow, nullptr, nullptr, nonlin_iand, nullptr,      \
   nonlin_ior, nullptr, p##_div, nullptr, p##_idiv, nullptr, nullptr, nullptr}
extern PyNumberMethods kpy_linterm_as_number, kpy_quadterm_as_number, kpy_expression_as_number,
    kpy_nonlin_as_number;

// ---------------------------------------------------------------------------------------
// Comparison (compare.cpp)

extern const char *const opNames[6];
PyObject *expression_cmp(PyObject *a, PyObject *b, int op);
PyObject *make_constraint(PyObject *a, PyObject *b, int op);
bool kpy_is_equal(PyObject *a, PyObject *b);   // throws nanobind::python_error

// ---------------------------------------------------------------------------------------
// Printing, term extraction and the module functions (print.cpp, functions.cpp)

PyObject *linterm_str(PyObject *term);
PyObject *quadterm_str(PyObject *term);
PyObject *expression_str(PyObject *e);
PyObject *nonlin_str(PyObject *node);
// extractLinear() / extractQuadratic() methods (METH_NOARGS) of the four types
PyObject *linterm_extractLinear(PyObject *self, PyObject *unused);
PyObject *linterm_extractQuadratic(PyObject *self, PyObject *unused);
PyObject *quadterm_extractLinear(PyObject *self, PyObject *unused);
PyObject *quadterm_extractQuadratic(PyObject *self, PyObject *unused);
PyObject *expression_extractLinear(PyObject *self, PyObject *unused);
PyObject *expression_extractQuadratic(PyObject *self, PyObject *unused);
PyObject *nonlin_extractLinear(PyObject *self, PyObject *unused);
PyObject *nonlin_extractQuadratic(PyObject *self, PyObject *unused);
// adds the module functions (sin ... pwl, user, Sum, Prod, And, Or, Dot, ...); 0 or -1
int kpy_expr_functions_register(PyObject *module);
// Comparison of a NumPy array with another operand, element by element, through korvex.ndarray:
// arrays holding model objects give arrays of constraints instead of truth values (src/arrays)
PyObject *kpy_array_richcompare(PyObject *arr, PyObject *other, int op);
