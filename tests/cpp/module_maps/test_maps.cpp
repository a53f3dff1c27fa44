// linmap, quadmap and indexset: the add rules and the references held by variable keys.
#include "module/objects.h"
#include "module/maps.h"
#include "check.h"

#include <cstdio>
#include <map>
#include <random>
#include <vector>

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

// linmap against a reference through random adds (0 among them), sets and deletes over a pool of
// keys, so that it grows past and shrinks below the size where it starts its position table, is
// copied at every size and reused after a free; each key holds one reference per map it is in
static int randomOps() {
  std::vector<var_s *> pool;
  for (uint32_t k = 0; k < 48; ++k) pool.push_back(newVar(100 + k));
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    linmap *m = linmap_new();
    std::map<var_s *, double> ref;
    const size_t keys = 4 + rng() % (pool.size() - 3);
    for (int step = 0; step < 400; ++step) {
      var_s *v = pool[rng() % keys];
      const double c = double(int(rng() % 5) - 2);
      switch (rng() % 4) {
        case 0:
        case 1:
          CHECK(linmap_add(m, v, c) == 0);
          if (c != 0.0 && (ref[v] += c) == 0.0) ref.erase(v);
          break;
        case 2:
          CHECK(linmap_set(m, v, c) == 0);
          ref[v] = c;
          break;
        default:
          CHECK(linmap_del(m, v) == (ref.erase(v) ? 0 : -1));
      }
      CHECK(linmap_size(m) == ref.size());
      for (var_s *w : pool) {
        double got = 0;
        auto it = ref.find(w);
        CHECK(linmap_get(m, w, &got) == (it == ref.end() ? -1 : 0));
        CHECK(it == ref.end() || got == it->second);
        CHECK(refs(w) == 1 + (it != ref.end()));
      }
      if (step % 37 == 0) {
        linmap *copy = nullptr;
        CHECK(linmap_copy(&copy, m) == 0 && linmap_size(copy) == ref.size());
        std::map<var_s *, double> seen;
        for (auto &kv : *copy) CHECK(seen.emplace(kv.first, kv.second).second);
        CHECK(seen == ref && (ref.empty() || refs(ref.begin()->first) == 3));
        linmap_free(&copy);
      }
    }
    linmap_free(&m);
  }
  for (var_s *v : pool) {
    CHECK(refs(v) == 1);
    Py_DECREF(v);
  }
  return 0;
}

static int run() {
  var_s *x = newVar(1), *y = newVar(2);
  CHECK(x && y);
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
  return randomOps();
}

int main() {
  Py_Initialize();
  int rc = run();
  Py_Finalize();
  return rc;
}
