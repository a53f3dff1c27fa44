// Solver indices of model objects in a problem.
#include "model/problem.h"
#include "module/maps.h"

namespace {

// The problem whose objects are acceptable: itself, and for a callback's temporary problem
// also the problem it stands for.
bool ownedBy(problem_s *prob, problem_s *owner) { return owner == prob || (prob->orig && owner == prob->orig); }

// The serial-to-index map of a kind, also through a callback's temporary problem.
rowcolmap *mapOf(problem_s *prob, rowcolmap *problem_s::*field) {
  if (prob->*field) return prob->*field;
  return prob->orig ? prob->orig->*field : nullptr;
}

// 1 found, 0 missing
int lookupSerial(const rowcolmap *m, uint64_t serial, int *out) {
  if (!m) return 0;
  auto it = m->find(serial);
  if (it == m->end()) return 0;
  *out = (int)it->second;
  return 1;
}

}  // namespace

int varToColIndex(problem_s *prob, PyObject *var, int *col, const char *where) {
  if (!PyObject_TypeCheck(var, &kpy_varType)) {
    PyErr_SetString(kpy_ModelError, "Incorrect object(s) passed: need variable");
    return -1;
  }
  const char *in = where ? " in " : "";
  const char *txt = where ? where : "";
  var_s *v = (var_s *)var;
  if (kpy_isDeleted(v->owner)) {
    PyErr_Format(kpy_ModelError, "Variable%s%s has been deleted from the problem", in, txt);
    return -1;
  }
  if (v->owner) {
    if (!ownedBy(prob, v->owner)) {
      PyErr_Format(kpy_ModelError, "Variable%s%s is from a different problem", in, txt);
      return -1;
    }
    *col = (int)v->idx_low;
    return 0;
  }
  uint64_t serial = kpy_serial(v->idx_high, v->idx_low);
  if (serial == 0) {
    PyErr_Format(kpy_ModelError, "Variable%s%s is not initialized", in, txt);
    return -1;
  }
  if (!lookupSerial(mapOf(prob, &problem_s::varmap), serial, col)) {
    PyErr_Format(kpy_ModelError, "Variable%s%s does not belong to this problem", in, txt);
    return -1;
  }
  return 0;
}

int conToRowIndex(problem_s *prob, PyObject *con, int *row) {
  if (!PyObject_TypeCheck(con, &kpy_constraintType)) {
    PyErr_SetString(kpy_ModelError, "Incorrect object(s) passed: need constraint");
    return -1;
  }
  constraint_s *c = (constraint_s *)con;
  if (kpy_isDeleted(c->owner)) {
    PyErr_SetString(kpy_ModelError, "Constraint has been deleted from the problem");
    return -1;
  }
  uint64_t serial = kpy_serial(c->idx_high, c->idx_low);
  switch (c->state & KPY_CON_STATE_MASK) {
    case KPY_CON_MAPPED:
      if (serial == 0) {
        PyErr_SetString(kpy_ModelError, "Constraint is not initialized");
        return -1;
      }
      if (!lookupSerial(mapOf(prob, &problem_s::conmap), serial, row)) {
        PyErr_SetString(kpy_ModelError, "Constraint does not belong to this problem");
        return -1;
      }
      return 0;
    case KPY_CON_LINKED:
      if (!ownedBy(prob, c->owner)) {
        PyErr_SetString(kpy_ModelError, "Constraint is from a different problem");
        return -1;
      }
      *row = (int)c->idx_low;
      return 0;
    case KPY_CON_UNLINKED:
      PyErr_SetString(kpy_ModelError, "Constraint does not belong to any problem");
      return -1;
    default:
      PyErr_SetString(kpy_ModelError, "Constraint is not initialized");
      return -1;
  }
}

int sosToSetIndex(problem_s *prob, PyObject *sos, int *set) {
  if (!PyObject_TypeCheck(sos, &kpy_sosType)) {
    PyErr_SetString(kpy_ModelError, "Incorrect object(s) passed: need SOS");
    return -1;
  }
  sos_s *s = (sos_s *)sos;
  if (kpy_isDeleted(s->owner)) {
    PyErr_SetString(kpy_ModelError, "SOS has been deleted from the problem");
    return -1;
  }
  if (s->owner) {
    if (!ownedBy(prob, s->owner)) {
      PyErr_SetString(kpy_ModelError, "SOS is from a different problem");
      return -1;
    }
    *set = (int)s->index;
    return 0;
  }
  if (s->index == 0) {
    PyErr_SetString(kpy_ModelError, "SOS is not initialized");
    return -1;
  }
  if (!lookupSerial(mapOf(prob, &problem_s::sosmap), s->index, set)) {
    PyErr_SetString(kpy_ModelError, "SOS does not belong to this problem");
    return -1;
  }
  return 0;
}

PyObject *problem_getIndex(problem_s *prob, PyObject *obj) {
  const char *kind;
  if (PyObject_TypeCheck(obj, &kpy_varType))
    kind = "var";
  else if (PyObject_TypeCheck(obj, &kpy_constraintType))
    kind = "constraint";
  else if (PyObject_TypeCheck(obj, &kpy_sosType))
    kind = "sos";
  else {
    PyErr_SetString(kpy_ModelError, "Incorrect object(s) passed: need variable, constraint, or SOS");
    return nullptr;
  }
  auto plain = [](PyObject *list, rowcolmap *m) { return !list || PyList_GET_SIZE(list) == 0 || m; };
  if (!(plain(prob->vars, prob->varmap) && plain(prob->cons, prob->conmap) && plain(prob->sos, prob->sosmap))) {
    std::string advice = std::string("use ") + kind + ".index instead";
    if (kpy_deprecationWarning(9, 8, advice.c_str()) < 0) return nullptr;
  }
  int index = 0, rc;
  if (kind[0] == 'v')
    rc = varToColIndex(prob, obj, &index, nullptr);
  else if (kind[0] == 'c')
    rc = conToRowIndex(prob, obj, &index);
  else
    rc = sosToSetIndex(prob, obj, &index);
  return rc < 0 ? nullptr : PyLong_FromLong(index);
}
