// Module-wide state of _korvex and the declarations every subsystem shares.
#pragma once
#define PY_SSIZE_T_CLEAN
#include <Python.h>

// NumPy C API: one shared table for the whole module. init.cpp imports it (it defines
// KPY_NUMPY_IMPORT before including this header); every other file that includes the NumPy
// headers after this one uses the imported table.
#define PY_ARRAY_UNIQUE_SYMBOL kpy_ARRAY_API
#define PY_UFUNC_UNIQUE_SYMBOL kpy_UFUNC_API
#ifndef KPY_NUMPY_IMPORT
#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#endif
#ifndef NPY_NO_DEPRECATED_API
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#endif
#include <cstdint>

struct problem_s;
struct boundmap;
struct namemap;

// The one module-state record.
struct krv_py_env {
  PyObject *module = nullptr;
  // serial counters of unlinked variables, constraints and SOS (next value; start at 1)
  uint64_t var_serial = 1, con_serial = 1, sos_serial = 1;
  PyObject *controls = nullptr;        // module-wide controls object (korvex.controls)
  PyObject *ctrl_values = nullptr;     // dict: user-set global control values (lower-case name -> value)
  PyObject *ctrl_info = nullptr;       // dict: control name -> (id, type)
  PyObject *attr_info = nullptr;       // dict: attribute name -> (id, type)
  PyObject *msg_handlers = nullptr;    // list of message handlers
  int nonlin_available = -1;           // -1 not yet known, 0 no, 1 yes
  int lib_starts = 0;                  // count of solver-library starts
  unsigned char output_enabled = 1;
  unsigned char constraint_ops = 1;    // comparisons build constraints when 1
  unsigned char checked_mode = 1;
  boundmap *var_lb = nullptr, *var_ub = nullptr, *var_threshold = nullptr;  // unlinked variables
  namemap *var_names = nullptr;
  int npvar_type = -1, npexpr_type = -1, npconstraint_type = -1;            // NumPy dtype numbers
  PyObject *scipy_sparse = nullptr;    // scipy.sparse module or null
  PyObject *ndarray_type = nullptr;    // cached korvex.ndarray
  problem_s *problems = nullptr;       // head of the live-problem list
};
extern krv_py_env kpy_env;

// Exception and warning classes (created at start-up)
extern PyObject *kpy_ModelError, *kpy_InterfaceError, *kpy_SolverError;
extern PyObject *kpy_ModelWarning, *kpy_DeprecationWarning;

// Module constants
constexpr double KPY_INFINITY = 1e20;
enum kpy_vartype : unsigned char {
  KPY_CONTINUOUS = 0, KPY_BINARY = 1, KPY_INTEGER = 2,
  KPY_SEMICONTINUOUS = 3, KPY_SEMIINTEGER = 4, KPY_PARTIALLYINTEGER = 5
};

// The markers that stand in place of the owner problem of a deleted object: deleted from its
// problem, or left behind by a problem that was freed.
#define KPY_DELETED ((problem_s *)(uintptr_t)0xDEAD)
#define KPY_PROBLEM_GONE ((problem_s *)(uintptr_t)0xDEAF)

// Solver-library start and stop (counted); 0 or -1 with an error set.
int kpy_startLibrary();
void kpy_stopLibrary();
