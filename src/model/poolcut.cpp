// korvex.poolcut: one entry of a problem's cut pool (the solver's cut handle).
#include "model/problem.h"

PyTypeObject kpy_poolcutType = [] {
  PyTypeObject t = kpy_typeTemplate();
  t.tp_name = "korvex.poolcut";
  t.tp_basicsize = sizeof(poolcut_s);
  t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION;
  t.tp_doc = "A cut-pool entry (a solver cut handle). It cannot be created from Python.";
  return t;
}();

PyObject *poolcut_create(void *cut) {
  poolcut_s *c = PyObject_New(poolcut_s, &kpy_poolcutType);
  if (!c) return nullptr;
  c->cut = cut;
  return (PyObject *)c;
}

void *poolcut_getcut(PyObject *poolcut) { return ((poolcut_s *)poolcut)->cut; }
