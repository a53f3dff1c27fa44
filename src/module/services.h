// Services of the module runtime that every other folder uses. Each returns 0 / non-null on
// success, or -1 / null with a Python error set, unless noted.
#pragma once
#include "module/objects.h"
#include <string>

// --- errors ---
// a text from the solver (names, error texts) as a str; bytes that are not UTF-8 become U+FFFD
PyObject *kpy_solverText(const char *text, Py_ssize_t len = -1);
// raises exc with a text from the solver, decoded as kpy_solverText does
void kpy_setSolverError(PyObject *exc, const char *text);
// result null and no Python error pending: raise the last error of obj (a problem, or null)
void setKrvxErrIfNull(PyObject *obj, const void *result);
// after every solver call of a problem method: a callback's saved exception becomes pending
void handleCallbackException(problem_s *prob, int rc);
// the text of the pending Python error, which is taken out of the interpreter
std::string kpy_PyErr_ToString();
// ModelError "Deleted variable in expression" for a variable of owner (a deletion marker), with a
// note saying that its problem no longer exists where that is the cause; -1
int kpy_refuseDeletedVar(const void *owner);
int checkProblemIsInitialized(problem_s *prob);
void kpy_setErrorCannotPassObjectsNames(const char *kind, int names);
// deprecation warning "Deprecated in Korvex %d.%d: %s"; -1 when the warning became an error
int kpy_deprecationWarning(int major, int minor, const char *advice);

// --- enumerations of korvex.enums; intobj is taken over ---
PyObject *kpy_getEnumValue(const char *enumname, PyObject *intobj);

// --- SIGINT guard (nesting count; a SIGINT while held reaches the interpreter when the call returns) ---
void setSigIntHandler();
void resetSigIntHandler();

// --- Python code run by the solver on its own threads (message output, user functions) ---
// The scope of one such call; kpy_inSolverCallback() tells whether the thread is in one.
struct SolverCallbackScope {
  SolverCallbackScope();
  ~SolverCallbackScope();
};
bool kpy_inSolverCallback();

// --- memory ---
struct ko_MemoryAllocator_s;
extern ko_MemoryAllocator_s *ko_MemoryAllocator_DefaultHeap;
int ko_MemoryAllocator_Alloc_Untyped(ko_MemoryAllocator_s *a, void *pptr, size_t size);
int ko_MemoryAllocator_Realloc_Untyped(ko_MemoryAllocator_s *a, void *pptr, size_t size);
int ko_MemoryAllocator_Free_Untyped(ko_MemoryAllocator_s *a, void *pptr);

// --- conversions ---
int conv_obj2arr(problem_s *prob, Py_ssize_t *count, PyObject *seq, void *out, int typecode);
const char *pyStrToStr(PyObject *str, char *target, PyObject **holder);

// --- what the other folders provide to the module's start-up and library stop ---
// src/api: camelCase methods of korvex.problem (null-terminated)
extern PyMethodDef kpy_problem_api_methods[];
// src/expr: readies the expression types and adds module functions; 0 or -1
int kpy_expr_module_init(PyObject *module);
// src/arrays: NumPy data types and the array helpers; 0 or -1
int kpy_arrays_module_init(PyObject *module);
// Module functions of the problem methods' layer (api/).
int kpy_api_module_init(PyObject *module);
// src/expr: number protocol and rich comparison of korvex.var (and the other model types)
extern PyNumberMethods kpy_var_as_number;
PyObject *generic_cmp(PyObject *a, PyObject *b, int op);
// src/model: readies the model types (the problem's method table gets the camelCase methods)
int kpy_model_types_ready();
extern PyMethodDef kpy_problem_own_methods[];
extern PyMethodDef kpy_module_methods[];
// src/model: releases the solver data of a live problem at library stop
void problem_releaseSolver(problem_s *prob);
