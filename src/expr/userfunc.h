// User functions: registration of Python callables with the nonlinear solver, the per-problem
// map of registered functions, and the trampolines through which the solver calls them.
#pragma once
#include "expr/expr.h"
#include <map>

struct userfunc_s {
  tagKRVNproblem *nlprob;   // nonlinear layer of the problem that registered the function
  problem_s *prob;          // that problem (borrowed: records are freed with its model data)
  PyObject *func;           // the callable; a strong reference while the record is in a map
  int nargs;
  int number;               // the solver's function number
};

// callable (by identity) -> one record per number of arguments
struct userfuncmap : std::multimap<PyObject *, userfunc_s *> {};

userfuncmap *userfuncmap_new();
userfunc_s *userfuncmap_get(userfuncmap *m, PyObject *callable, int nargs);
int userfuncmap_add(userfuncmap *m, userfunc_s *rec);     // 0, or -1 when memory runs out
void userfuncmap_free(userfuncmap **m);

// Registers the callable args[0] of a user-function node (op 27-29) over len(args) - 1
// arguments with the problem's nonlinear layer once; the solver's function number in *number.
int createUserFunction(problem_s *problem, PyObject *args, int *number, int op);

// Trampolines handed to the solver (functype 2 for the first, 5 for the other two)
double kpy_generic_user_function_no_derivative(const double *values, void *rec);
int kpy_generic_user_function_with_derivative(const double *values, const double *deltas, double *result,
                                              double *partials, void *rec);
int kpy_generic_user_function_with_optional_derivative(const double *values, const double *deltas,
                                                       double *result, double *partials, void *rec);
// 0, or 1 after a failure (the exception is kept in the problem's saved-exception slot, or
// written as unraisable when that slot is taken); callable from any thread
int kpy_generic_user_function(const double *values, const double *deltas, double *result, double *partials,
                              bool pass_deltas, userfunc_s *rec);
