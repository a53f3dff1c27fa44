// linmap, quadmap and indexset: the add rules and the references held by variable keys.
#include "module/objects.h"
#include "module/maps.h"
#include "check.h"

#include <cstdio>

// stand-ins for korvex.var objects: the maps only count references and compare addresses
static var_s *newVar(uint32_t serial) {
  static PyTypeObject type = [] {
    PyTypeObject t{};
    PyVarObject head = {PyObject_HEAD_INIT(nullptr) 0};
    t.ob_base = head;
    t.tp_name = "testvar";
    t.tp_basicsize = sizeof(var_s);
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    return t;
  }();
  if (!type.tp_dict && PyType_Ready(&type) < 0) return nullptr;
  var_s *v = PyObject_New(var_s, &type);
  v->owner = nullptr;
  v->idx_low = serial;
  v->idx_high = 0;
  return v;
}

static Py_ssize_t refs(var_s *v) { return Py_REFCNT((PyObject *)v); }

static int run() {
  var_s *x = newVar(1), *y = newVar(2);
  CHECK(x && y);
  linmap *m = linmap_new();
  CHECK(linmap_add(m, x, 0.0) == 0 && linmap_size(m) == 0);   // adding 0 does nothing
  CHECK(linmap_add(m, x, 2.0) == 0 && refs(x) == 2);
  CHECK(linmap_add(m, x, 1.5) == 0 && refs(x) == 2);
  double c = 0;
  CHECK(linmap_get(m, x, &c) == 0 && c == 3.5);
  CHECK(linmap_add(m, x, -3.5) == 0 && linmap_size(m) == 0 && refs(x) == 1);   // exact zero erases
  CHECK(linmap_get(m, x, &c) == -1 && !PyErr_Occurred());
  CHECK(linmap_set(m, y, 0.0) == 0 && linmap_size(m) == 1 && refs(y) == 2);     // set keeps 0.0
  linmap *copy = nullptr;
  CHECK(linmap_copy(&copy, m) == 0 && linmap_size(copy) == 1 && refs(y) == 3);
  CHECK(linmap_del(m, y) == 0 && refs(y) == 2 && linmap_del(m, y) == -1);
  linmap_free(&copy);
  CHECK(!copy && refs(y) == 1);
  linmap_free(&m);

  quadmap *q = quadmap_new();
  CHECK(quadmap_add(q, x, y, 2.0) == 0 && quadmap_add(q, x, x, 1.0) == 0 && quadmap_add(q, y, y, 0.0) == 0);
  CHECK(quadmap_size(q) == 2 && refs(x) == 3 && refs(y) == 2);   // outer key x, inner x and y
  quadmap *q2 = nullptr;
  CHECK(quadmap_copy(&q2, q) == 0 && quadmap_size(q2) == 2 && refs(x) == 5);
  CHECK(quadmap_add(q, x, y, -2.0) == 0 && quadmap_size(q) == 1 && refs(y) == 2);
  linmap *inner = nullptr;
  CHECK(quadmap_get(q, x, &inner) == 0 && linmap_size(inner) == 1 && quadmap_get(q, y, &inner) == -1);
  quadmap_free(&q2);
  quadmap_free(&q);
  CHECK(!q && refs(x) == 1 && refs(y) == 1);

  indexset *s = indexset_new();
  CHECK(indexset_add(s, x) == 0 && indexset_add(s, x) == 0 && indexset_add(s, y) == 0 && s->size() == 2);
  indexset *s2 = nullptr;
  CHECK(indexset_copy(&s2, s) == 0 && s2->count(2) == 1);
  indexset_free(&s);
  indexset_free(&s2);
  CHECK(!s && !s2);

  rowcolmap r;
  r[7] = 3;
  CHECK(rowcolmap_has(&r, 7) && !rowcolmap_has(&r, 8) && !rowcolmap_has(nullptr, 7));
  Py_DECREF(x);
  Py_DECREF(y);
  return 0;
}

int main() {
  Py_Initialize();
  int rc = run();
  Py_Finalize();
  return rc;
}
