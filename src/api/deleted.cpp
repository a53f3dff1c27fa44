// Dropping the objects of deleted rows, columns and sets, and renumbering the rest.
#include "api/methods.h"
#include "model/problem.h"

#include <algorithm>

namespace {

// Gives a surviving object its position as its new solver index.
void renumber(PyObject *obj, Py_ssize_t pos) {
  if (PyObject_TypeCheck(obj, &kpy_varType)) {
    var_s *v = (var_s *)obj;
    v->idx_low = (uint32_t)pos;
    v->idx_high = 0;
  } else if (PyObject_TypeCheck(obj, &kpy_constraintType)) {
    constraint_s *c = (constraint_s *)obj;
    c->idx_low = (uint32_t)pos;
    c->idx_high = 0;
    c->state = (c->state & ~KPY_CON_STATE_MASK) | KPY_CON_LINKED;
  } else if (PyObject_TypeCheck(obj, &kpy_sosType)) {
    ((sos_s *)obj)->index = (uint64_t)pos;
  }
}

}  // namespace

PyObject *kpy_tupleOf(std::initializer_list<nb::object> items) {
  for (const nb::object &o : items)
    if (!o) return nullptr;
  PyObject *t = PyTuple_New((Py_ssize_t)items.size());
  if (!t) return nullptr;
  Py_ssize_t i = 0;
  for (const nb::object &o : items) PyTuple_SET_ITEM(t, i++, Py_NewRef(o.ptr()));
  return t;
}

int kpy_prepareDeletion(kpy_Deletion *d, PyObject **slot, const std::vector<int> &indices, const char *argname,
                        const char *word) {
  PyObject *list = *slot;
  Py_ssize_t n = PyList_GET_SIZE(list);
  d->slot = slot;
  d->gone.assign((size_t)n, 0);
  for (size_t k = 0; k < indices.size(); k++) {
    int i = indices[k];
    if (i < 0 || i >= n) {
      PyErr_Format(kpy_InterfaceError, "Error in element %d of argument '%s': Invalid %s index", (int)k, argname, word);
      return -1;
    }
    if (d->gone[(size_t)i]) {
      PyErr_Format(kpy_InterfaceError, "Error in element %d of argument '%s': Repeated %s index %d", (int)k, argname,
                   word, i);
      return -1;
    }
    d->gone[(size_t)i] = 1;
  }
  Py_XSETREF(d->survivors, PyList_New(n - (Py_ssize_t)indices.size()));
  if (!d->survivors) return -1;
  Py_ssize_t pos = 0;
  for (Py_ssize_t i = 0; i < n; i++)
    if (!d->gone[(size_t)i]) PyList_SET_ITEM(d->survivors, pos++, Py_NewRef(PyList_GET_ITEM(list, i)));
  return 0;
}

void kpy_removeDeleted(kpy_Deletion *d) {
  PyObject *old = *d->slot;
  // a list changed during the solver call is read only as far as the prepared positions go
  Py_ssize_t n = std::min(PyList_GET_SIZE(old), (Py_ssize_t)d->gone.size());
  for (Py_ssize_t i = 0; i < n; i++)
    if (d->gone[(size_t)i]) kpy_markDeleted(PyList_GET_ITEM(old, i));
  PyObject *list = d->survivors;
  d->survivors = nullptr;
  for (Py_ssize_t p = 0; p < PyList_GET_SIZE(list); p++) renumber(PyList_GET_ITEM(list, p), p);
  *d->slot = list;
  Py_DECREF(old);
}
