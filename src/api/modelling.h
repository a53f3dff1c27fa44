// The modelling methods of korvex.problem (addVariable, addVariables, addConstraint,
// setObjective, addObjective) and constraint.getBody.
#pragma once
#include "api/frame.h"

// Methods appended to korvex.problem's table (null-terminated)
extern PyMethodDef kpy_problem_modelling_methods[];
// Methods of korvex.constraint (null-terminated)
extern PyMethodDef kpy_constraint_methods[];

// constraint.getBody(): the body of an unlinked constraint, or the row read back from the solver
PyObject *constraint_getBody(PyObject *self, PyObject *unused);

// The problem whose row a linked or mapped constraint is; null with ModelError otherwise.
problem_s *kpy_constraintProblem(constraint_s *c);

// A solver call (func gets the problem's handle first) without the interpreter lock; 0, or -1
// with the solver's error (or a callback's exception) pending.
template <typename F, typename... Args>
int kpy_modelCall(F func, problem_s *prob, Args... args) {
  return kpy_failed(prob, kpy_callSolverNoGIL(func, prob, args...)) ? -1 : 0;
}
