// Module start-up.
#include "module/env.h"

krv_py_env kpy_env;
PyObject *kpy_ModelError, *kpy_InterfaceError, *kpy_SolverError;
PyObject *kpy_ModelWarning, *kpy_DeprecationWarning;

static PyModuleDef korvex_moduledef = {PyModuleDef_HEAD_INIT, "_korvex", "korvex native core", -1,
                                       nullptr, nullptr, nullptr, nullptr, nullptr};

extern "C" PyMODINIT_FUNC PyInit__korvex(void) {
  if (kpy_env.module) return nullptr;
  PyObject *m = PyModule_Create(&korvex_moduledef);
  if (!m) goto fail;
  kpy_ModelError = PyErr_NewException("korvex.ModelError", PyExc_Exception, nullptr);
  kpy_InterfaceError = PyErr_NewException("korvex.InterfaceError", PyExc_Exception, nullptr);
  kpy_SolverError = PyErr_NewException("korvex.SolverError", PyExc_Exception, nullptr);
  if (!kpy_ModelError || !kpy_InterfaceError || !kpy_SolverError) goto fail;
  if (PyModule_AddObjectRef(m, "ModelError", kpy_ModelError) < 0 ||
      PyModule_AddObjectRef(m, "InterfaceError", kpy_InterfaceError) < 0 ||
      PyModule_AddObjectRef(m, "SolverError", kpy_SolverError) < 0)
    goto fail;
  {
    PyObject *all = Py_BuildValue("[sss]", "ModelError", "InterfaceError", "SolverError");
    if (!all || PyModule_Add(m, "__all__", all) < 0) goto fail;
  }
  kpy_env.module = m;
  return m;
fail:
  Py_XDECREF(m);
  if (!PyErr_Occurred() || true) {
    PyErr_Clear();
    PyErr_SetString(PyExc_RuntimeError, "Error initializing the Korvex module");
  }
  return nullptr;
}
