// Services of the runtime and the model objects that the problem methods, the expression
// algebra and the arrays share. Each returns 0 / non-null on success, or -1 / null with a
// Python error set, unless noted.
#pragma once
#include "model/objects.h"
#include <string>

// --- indices of model objects in a problem ---
// where: text naming where the variable was met (" in <where>" is added to messages), or null
int varToColIndex(problem_s *prob, PyObject *var, int *col, const char *where);
int conToRowIndex(problem_s *prob, PyObject *con, int *row);
int sosToSetIndex(problem_s *prob, PyObject *sos, int *set);
PyObject *problem_getIndex(problem_s *prob, PyObject *obj);

// --- errors ---
// result null and no Python error pending: raise the last error of obj (a problem, or null)
void setKrvxErrIfNull(PyObject *obj, const void *result);
// after every solver call of a problem method: a callback's saved exception becomes pending
void handleCallbackException(problem_s *prob, int rc);
// the text of the pending Python error, which is taken out of the interpreter
std::string kpy_PyErr_ToString();
int checkProblemIsInitialized(problem_s *prob);
void kpy_setErrorCannotPassObjectsNames(const char *kind, int names);
// deprecation warning "Deprecated in Korvex %d.%d: %s"; -1 when the warning became an error
int kpy_deprecationWarning(int major, int minor, const char *advice);

// --- enumerations of korvex.enums; intobj is taken over ---
PyObject *kpy_getEnumValue(const char *enumname, PyObject *intobj);

// --- SIGINT guard (nesting count; default action while held) ---
void setSigIntHandler();
void resetSigIntHandler();

// --- memory ---
struct ko_MemoryAllocator_s;
extern ko_MemoryAllocator_s *ko_MemoryAllocator_DefaultHeap;
int ko_MemoryAllocator_Alloc_Untyped(ko_MemoryAllocator_s *a, void *pptr, size_t size);
int ko_MemoryAllocator_Realloc_Untyped(ko_MemoryAllocator_s *a, void *pptr, size_t size);
int ko_MemoryAllocator_Free_Untyped(ko_MemoryAllocator_s *a, void *pptr);

// --- conversions ---
int conv_obj2arr(problem_s *prob, Py_ssize_t *count, PyObject *seq, void *out, int typecode);
const char *pyStrToStr(PyObject *str, char *target, PyObject **holder);
// keyword-only parsing (an empty positional tuple); true (non-zero) on success, 0 with an error set
int parseKeywordArgs(PyObject *kwargs, const char *format, const char *const *kwlist, ...);

// --- model objects ---
int constraint_init_internal(constraint_s *con, double lb, double ub, PyObject *body, PyObject *name);
int calc_constraint_bounds(int rowtype, double rhs, double range, double *lb, double *ub);
PyObject *get_var_name(var_s *var);       // new str
PyObject *var_str(PyObject *var);
PyObject *constraint_new(PyTypeObject *type, PyObject *args, PyObject *kwargs);
PyObject *poolcut_create(void *cut);
void *poolcut_getcut(PyObject *poolcut);

// --- problem life cycle hooks (throw nanobind::python_error on failure) ---
void problem_afterReload(problem_s *prob);
void problem_afterRestore(problem_s *prob);
int problem_del_nonlin_obj(problem_s *prob);

// Guard that appends new model objects to one of a problem's lists and removes them again
// unless committed.
class ModelObjManager {
 public:
  ModelObjManager(problem_s *prob, PyObject *list);
  virtual ~ModelObjManager();
  virtual PyObject *createObj(problem_s *prob, Py_ssize_t index) = 0;
  void addObjs(Py_ssize_t n);   // throws nanobind::python_error
  void commit();
 protected:
  problem_s *prob_;
  PyObject *list_;
  Py_ssize_t len_;
};
class VarManager : public ModelObjManager {
 public:
  using ModelObjManager::ModelObjManager;
  PyObject *createObj(problem_s *prob, Py_ssize_t index) override;
};
class ConstraintManager : public ModelObjManager {
 public:
  using ModelObjManager::ModelObjManager;
  PyObject *createObj(problem_s *prob, Py_ssize_t index) override;
};
class SOSManager : public ModelObjManager {
 public:
  using ModelObjManager::ModelObjManager;
  PyObject *createObj(problem_s *prob, Py_ssize_t index) override;
};

// --- hooks that other folders provide; weak so the module links while they are absent ---
// src/api: camelCase methods of korvex.problem (null-terminated)
extern PyMethodDef kpy_problem_api_methods[] __attribute__((weak));
// src/expr: readies the expression types and adds module functions; 0 or -1
int kpy_expr_module_init(PyObject *module) __attribute__((weak));
// src/arrays: NumPy data types and the array helpers; 0 or -1
int kpy_arrays_module_init(PyObject *module) __attribute__((weak));
// src/expr: number protocol and rich comparison of korvex.var (and the other model types)
extern PyNumberMethods kpy_var_as_number __attribute__((weak));
PyObject *generic_cmp(PyObject *a, PyObject *b, int op) __attribute__((weak));
