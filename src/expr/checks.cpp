// Operand checks: the first variable of an operand and the compatibility of two operands.
#include "expr/expr.h"
#include <vector>

var_s *expression_firstVar(const expression_s *e) {
  if (e->linear && !e->linear->empty()) return e->linear->begin()->first;
  if (e->quad && !e->quad->empty()) return e->quad->begin()->first;
  return nullptr;
}

// first variable of an operand that is not a nonlinear node; 1 when obj is no operand
static int leaf_first_var(PyObject *obj, var_s **out) {
  *out = nullptr;
  if (kpy_isVar(obj)) *out = (var_s *)obj;
  else if (kpy_isLinterm(obj)) *out = ((linterm_s *)obj)->var;
  else if (kpy_isQuadterm(obj)) *out = ((quadterm_s *)obj)->var1;
  else if (kpy_isExpression(obj)) *out = expression_firstVar((expression_s *)obj);
  else if (!isNumericScalar(obj)) return 1;
  return 0;
}

// depth-first search of a tree, in argument order, with a heap stack (trees may be deep)
static int nonlin_first_var(PyObject *root, var_s **out) {
  struct frame {
    PyObject *node;
    Py_ssize_t next;
  };
  std::vector<frame> stack;
  stack.push_back({root, 0});
  while (!stack.empty()) {
    frame &f = stack.back();
    auto *n = (nonlin_s *)f.node;
    PyObject *arg = nullptr;
    if (n->args && (PyList_Check(n->args) || PyTuple_Check(n->args))) {
      Py_ssize_t len = PySequence_Fast_GET_SIZE(n->args);
      if (f.next == 0 && nlop_is_user(n->op)) f.next = 1;
      if (f.next < len) arg = PySequence_Fast_GET_ITEM(n->args, f.next++);
    } else if (f.next == 0 && n->args) {
      arg = n->args;
      f.next = 1;
    }
    if (!arg) {
      stack.pop_back();
      continue;
    }
    if (kpy_isNonlin(arg)) {
      stack.push_back({arg, 0});
      continue;
    }
    var_s *v;
    if (leaf_first_var(arg, &v) == 0 && v) {
      *out = v;
      return 0;
    }
    // other objects (breakpoint data, callables) hold no variable
  }
  *out = nullptr;
  return 0;
}

int check_first_var(PyObject *obj, var_s **out) {
  var_s *v = nullptr;
  if (kpy_isNonlin(obj)) nonlin_first_var(obj, &v);
  else if (leaf_first_var(obj, &v)) {
    PyErr_SetString(kpy_ModelError, "Invalid operand in expression");
    return -1;
  }
  if (v && kpy_isDeleted(v->owner)) return kpy_refuseDeletedVar(v->owner);
  if (out) *out = v;
  return 0;
}

int check_var_owners(const var_s *a, const var_s *b) {
  if (!a || !b || a->owner == b->owner) return 0;
  if (kpy_isDeleted(a->owner) || kpy_isDeleted(b->owner))
    kpy_refuseDeletedVar(kpy_isDeleted(a->owner) ? a->owner : b->owner);
  else if (!a->owner || !b->owner)
    PyErr_SetString(kpy_ModelError,
                    "Linked variables and unlinked variables cannot be combined in expression");
  else
    PyErr_SetString(kpy_ModelError, "Variables from different problems in expression");
  return -1;
}

int check_expressions_compatible(PyObject *a, PyObject *b, int *unlinked) {
  var_s *va, *vb;
  if (check_first_var(a, &va) < 0 || check_first_var(b, &vb) < 0) return -1;
  if (unlinked) *unlinked = (va && !va->owner) || (vb && !vb->owner);
  return check_var_owners(va, vb);
}
