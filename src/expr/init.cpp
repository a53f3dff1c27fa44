// Start-up of the algebra: NumPy types, the four types, and the module functions.
#include "expr/evaluate.h"

PyNumberMethods kpy_linterm_as_number = KPY_EXPR_NUMBER_METHODS(linterm);
PyNumberMethods kpy_quadterm_as_number = KPY_EXPR_NUMBER_METHODS(quadterm);
PyNumberMethods kpy_expression_as_number = KPY_EXPR_NUMBER_METHODS(expression);
PyNumberMethods kpy_nonlin_as_number = KPY_EXPR_NUMBER_METHODS(nonlin);

static int load_numpy_types() {
  PyObject *np = PyImport_ImportModule("numpy");
  if (!np) return -1;
  static const char *const names[7] = {"int8", "int16", "int32", "int64", "float16", "float32", "float64"};
  PyObject *arr = PyObject_GetAttrString(np, "ndarray");
  int rc = arr && PyType_Check(arr) ? 0 : -1;
  if (rc == 0) kpy_np_ndarray = (PyTypeObject *)arr;  // kept for the module's life
  for (int i = 0; rc == 0 && i < 7; i++) {
    PyObject *t = PyObject_GetAttrString(np, names[i]);
    if (!t || !PyType_Check(t)) rc = -1;
    else kpy_np_scalars[i] = (PyTypeObject *)t;
  }
  Py_DECREF(np);
  return rc;
}

// NumPy scalars on the left of an operator or comparison defer to these types, while NumPy
// arrays keep their element-wise operations (arrays have priority 0, scalars far below).
static int set_array_priority(PyTypeObject *t) {
  if (!t || !t->tp_dict) return 0;
  PyObject *prio = PyFloat_FromDouble(-1.0);
  if (!prio) return -1;
  int rc = PyDict_SetItemString(t->tp_dict, "__array_priority__", prio);
  Py_DECREF(prio);
  PyType_Modified(t);
  return rc;
}

int kpy_expr_module_init(PyObject *module) {
  if (load_numpy_types() < 0) return -1;
  if (kpy_expr_types_ready() < 0 || kpy_temps_init() < 0) return -1;
  struct {
    const char *name;
    PyTypeObject *type;
  } types[] = {{"linterm", &kpy_lintermType},
               {"quadterm", &kpy_quadtermType},
               {"expression", &kpy_expressionType},
               {"nonlin", &kpy_nonlinType}};
  for (auto &t : types)
    if (PyModule_AddObjectRef(module, t.name, (PyObject *)t.type) < 0 || set_array_priority(t.type) < 0)
      return -1;
  if (set_array_priority(&kpy_varType) < 0) return -1;
  if (kpy_expr_functions_register(module) < 0) return -1;
  if (kpy_evaluate_register(module) < 0) return -1;
  return 0;
}
