// Module start-up and teardown.
#define KPY_NUMPY_IMPORT
#include "module/env.h"

#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

#include "module/services.h"
#include "module/controls.h"
#include "module/library.h"
#include "module/maps.h"

#include <string>

krv_py_env kpy_env;
PyObject *kpy_ModelError, *kpy_InterfaceError, *kpy_SolverError;
PyObject *kpy_ModelWarning, *kpy_DeprecationWarning;

namespace {

void releaseEnv() {
  kpy_stopLibraryAll();
  Py_CLEAR(kpy_env.controls);
  Py_CLEAR(kpy_env.ctrl_values);
  Py_CLEAR(kpy_env.ctrl_info);
  Py_CLEAR(kpy_env.attr_info);
  Py_CLEAR(kpy_env.msg_handlers);
  Py_CLEAR(kpy_env.scipy_sparse);
  Py_CLEAR(kpy_env.ndarray_type);
  delete kpy_env.var_lb;
  delete kpy_env.var_ub;
  delete kpy_env.var_threshold;
  kpy_env.var_lb = kpy_env.var_ub = kpy_env.var_threshold = nullptr;
  if (kpy_env.var_names) {
    for (auto &kv : *kpy_env.var_names) Py_DECREF(kv.second);
    delete kpy_env.var_names;
    kpy_env.var_names = nullptr;
  }
}

void module_free(void *) {
  releaseEnv();
  kpy_env.module = nullptr;
}

PyModuleDef korvex_moduledef = {PyModuleDef_HEAD_INIT, "_korvex", "korvex native core", -1,
                                kpy_module_methods, nullptr, nullptr, nullptr, module_free};

int createEnv() {
  kpy_env.controls = params_createGlobal();
  kpy_env.ctrl_values = PyDict_New();
  kpy_env.ctrl_info = PyDict_New();
  kpy_env.attr_info = PyDict_New();
  kpy_env.msg_handlers = PyList_New(0);
  if (!kpy_env.controls || !kpy_env.ctrl_values || !kpy_env.ctrl_info || !kpy_env.attr_info ||
      !kpy_env.msg_handlers)
    return -1;
  try {
    kpy_env.var_lb = new boundmap();
    kpy_env.var_ub = new boundmap();
    kpy_env.var_threshold = new boundmap();
    kpy_env.var_names = new namemap();
  } catch (...) {
    PyErr_NoMemory();
    return -1;
  }
  kpy_env.nonlin_available = -1;
  kpy_env.lib_starts = 0;
  kpy_env.output_enabled = 1;
  kpy_env.constraint_ops = 1;
  return 0;
}

int createExceptions(PyObject *m) {
  struct {
    PyObject **slot;
    const char *name;
    PyObject *base;
  } classes[] = {
      {&kpy_ModelError, "ModelError", PyExc_Exception},
      {&kpy_InterfaceError, "InterfaceError", PyExc_Exception},
      {&kpy_SolverError, "SolverError", PyExc_Exception},
      {&kpy_ModelWarning, "ModelWarning", PyExc_Warning},
      {&kpy_DeprecationWarning, "DeprecationWarning", PyExc_FutureWarning},
  };
  for (auto &c : classes) {
    std::string full = std::string("korvex.") + c.name;
    *c.slot = PyErr_NewException(full.c_str(), c.base, nullptr);
    if (!*c.slot || PyModule_AddObjectRef(m, c.name, *c.slot) < 0) return -1;
  }
  return 0;
}

int addTypesAndConstants(PyObject *m) {
  struct {
    const char *name;
    PyTypeObject *type;
  } types[] = {{"var", &kpy_varType},
               {"sos", &kpy_sosType},
               {"constraint", &kpy_constraintType},
               {"problem", &kpy_problemType},
               {"poolcut", &kpy_poolcutType}};
  for (auto &t : types)
    if (PyModule_AddObjectRef(m, t.name, (PyObject *)t.type) < 0) return -1;
  if (PyModule_AddObjectRef(m, "controls", kpy_env.controls) < 0) return -1;
  struct {
    const char *name;
    long value;
  } ints[] = {{"continuous", KPY_CONTINUOUS},         {"binary", KPY_BINARY},
              {"integer", KPY_INTEGER},               {"semicontinuous", KPY_SEMICONTINUOUS},
              {"semiinteger", KPY_SEMIINTEGER},       {"partiallyinteger", KPY_PARTIALLYINTEGER},
              {"minimize", 1},                        {"maximize", -1}};
  for (auto &c : ints)
    if (PyModule_AddIntConstant(m, c.name, c.value) < 0) return -1;
  return PyModule_Add(m, "infinity", PyFloat_FromDouble(KPY_INFINITY));
}

// __all__: every public name of the module, so that "from ._korvex import *" exports it.
int addAll(PyObject *m) {
  PyObject *names = PyList_New(0);
  if (!names) return -1;
  PyObject *dict = PyModule_GetDict(m);
  PyObject *key, *value;
  Py_ssize_t pos = 0;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    bool pub = PyUnicode_Check(key) && PyUnicode_GET_LENGTH(key) > 0 &&
               (PyUnicode_READ_CHAR(key, 0) != '_' || PyUnicode_CompareWithASCIIString(key, "_init") == 0);
    if (pub && PyList_Append(names, key) < 0) {
      Py_DECREF(names);
      return -1;
    }
  }
  if (PyList_Sort(names) < 0) {
    Py_DECREF(names);
    return -1;
  }
  return PyModule_Add(m, "__all__", names);
}

}  // namespace

extern "C" PyMODINIT_FUNC PyInit__korvex(void) {
  if (kpy_env.module) {
    PyErr_SetString(PyExc_RuntimeError, "Error initializing the Korvex module");
    return nullptr;
  }
  PyObject *m = nullptr;
  kpy_varType.tp_as_number = &kpy_var_as_number;
  kpy_varType.tp_richcompare = generic_cmp;
  if (kpy_model_types_ready() < 0) goto fail;
  m = PyModule_Create(&korvex_moduledef);
  if (!m) goto fail;
  kpy_env.module = m;
  if (createEnv() < 0 || createExceptions(m) < 0 || addTypesAndConstants(m) < 0) goto fail;
  if (_import_array() < 0 || _import_umath() < 0) goto fail;
  if (kpy_expr_module_init(m) < 0) goto fail;
  if (kpy_arrays_module_init(m) < 0) goto fail;
  if (kpy_api_module_init(m) < 0) goto fail;
  kpy_env.scipy_sparse = PyImport_ImportModule("scipy.sparse");
  if (!kpy_env.scipy_sparse) PyErr_Clear();
  if (addAll(m) < 0) goto fail;
  return m;
fail:
  releaseEnv();
  kpy_env.module = nullptr;
  Py_XDECREF(m);
  {
    PyObject *cause = PyErr_GetRaisedException();
    PyErr_SetString(PyExc_RuntimeError, "Error initializing the Korvex module");
    if (cause) {
      PyObject *exc = PyErr_GetRaisedException();
      PyException_SetCause(exc, cause);
      PyErr_SetRaisedException(exc);
    }
  }
  return nullptr;
}
