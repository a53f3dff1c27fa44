// Services of the runtime and the model objects that the problem methods, the expression
// algebra and the arrays share. Each returns 0 / non-null on success, or -1 / null with a
// Python error set, unless noted.
#pragma once
#include "module/services.h"
#include <string>

// --- indices of model objects in a problem ---
// where: text naming where the variable was met (" in <where>" is added to messages), or null
int varToColIndex(problem_s *prob, PyObject *var, int *col, const char *where);
int conToRowIndex(problem_s *prob, PyObject *con, int *row);
int sosToSetIndex(problem_s *prob, PyObject *sos, int *set);
PyObject *problem_getIndex(problem_s *prob, PyObject *obj);

// --- model objects ---
int constraint_init_internal(constraint_s *con, double lb, double ub, PyObject *body, PyObject *name);
int calc_constraint_bounds(int rowtype, double rhs, double range, double *lb, double *ub);
PyObject *get_var_name(var_s *var);       // new str
PyObject *var_str(PyObject *var);
PyObject *constraint_new(PyTypeObject *type, PyObject *args, PyObject *kwargs);
PyObject *poolcut_create(void *cut);
void *poolcut_getcut(PyObject *poolcut);

// --- problem life cycle hooks (throw nanobind::python_error on failure) ---
// After a reload the lists hold None for the objects not asked for yet (a loaded problem may
// have millions); problem_objectAt makes them on first use.
void problem_afterReload(problem_s *prob);
void problem_afterRestore(problem_s *prob);
int problem_del_nonlin_obj(problem_s *prob);
// The object at position i of the problem's vars, cons or sos list (borrowed), made and stored
// there when the position holds None; null with an error set.
PyObject *problem_objectAt(problem_s *prob, PyObject *list, Py_ssize_t i);

// Serialises the methods of one problem between threads, from the first step of a method to its
// last follow-up, so that solver calls and object-list updates of two threads never interleave
// (a solve never starts between two solver calls of a change). Waiting releases the interpreter
// lock; the thread that holds it may enter again (a message handler run by its own solver call),
// and Python code that a solve runs on the solver's threads enters without waiting for it (the
// library refuses changes meanwhile). Owner, depth and the solve flag change only with the
// interpreter lock held.
class ProblemLock {
 public:
  explicit ProblemLock(problem_s *prob, bool solve = false);
  ~ProblemLock();
  ProblemLock(const ProblemLock &) = delete;
  ProblemLock &operator=(const ProblemLock &) = delete;
 private:
  problem_s *prob_;
};

// Method-table entries of problem methods that run under the ProblemLock (interrupt does not: it
// stops a running solve from another thread). Rows waiting from addConstraint calls go to the
// solver first; addConstraint itself decides whether its row waits too.
template <PyObject *(*F)(PyObject *, PyObject *, PyObject *)>
PyObject *kpy_serialised(PyObject *self, PyObject *args, PyObject *kwargs) {
  ProblemLock lock((problem_s *)self);
  if (kpy_sendRowsFirst((problem_s *)self) < 0) return nullptr;
  return F(self, args, kwargs);
}
template <PyObject *(*F)(PyObject *, PyObject *)>
PyObject *kpy_serialised1(PyObject *self, PyObject *arg) {
  ProblemLock lock((problem_s *)self);
  if (kpy_sendRowsFirst((problem_s *)self) < 0) return nullptr;
  return F(self, arg);
}
template <PyObject *(*F)(PyObject *, PyObject *const *, Py_ssize_t)>
PyObject *kpy_serialisedRowAdder(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
  ProblemLock lock((problem_s *)self);
  return F(self, args, nargs);
}
// The same for solves.
template <PyObject *(*F)(PyObject *, PyObject *, PyObject *)>
PyObject *kpy_serialisedSolve(PyObject *self, PyObject *args, PyObject *kwargs) {
  ProblemLock lock((problem_s *)self, true);
  if (kpy_sendRowsFirst((problem_s *)self) < 0) return nullptr;
  return F(self, args, kwargs);
}
template <PyObject *(*F)(PyObject *, PyObject *)>
PyObject *kpy_serialisedSolve1(PyObject *self, PyObject *arg) {
  ProblemLock lock((problem_s *)self, true);
  if (kpy_sendRowsFirst((problem_s *)self) < 0) return nullptr;
  return F(self, arg);
}

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
