// Map containers of the module: coefficient maps keyed by variable, serial sets.
// Keys of linmap and quadmap each hold one reference to their variable.
#include "module/maps.h"
#include "module/objects.h"

#include <new>

namespace {

inline uint64_t varSerial(const var_s *v) { return ((uint64_t)v->idx_high << 32) | v->idx_low; }

template <class F>
int guarded(F &&f) {
  try {
    return f();
  } catch (const std::bad_alloc &) {
    PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "Unknown exception in Korvex module");
  }
  return -1;
}

}  // namespace

// ---------------------------------------------------------------- linmap

namespace {

// Emptied small maps kept with their buckets: expressions are made and dropped at a high rate
// (the interpreter lock guards the list, as it guards every map).
#ifdef Py_GIL_DISABLED
constexpr size_t kSpareMaps = 0, kSpareBuckets = 0;   // no lock guards the list there
#else
constexpr size_t kSpareMaps = 4096, kSpareBuckets = 32;
#endif
linmap *spareMaps[kSpareMaps + 1];
size_t spareCount = 0;

}  // namespace

linmap *linmap_new() {
  if (spareCount) {
    linmap *m = spareMaps[--spareCount];
    m->max_load_factor(linmap::kDefaultLoad);
    return m;
  }
  return new (std::nothrow) linmap();
}

void linmap_free(linmap **m) {
  if (!m || !*m) return;
  linmap *map = *m;
  *m = nullptr;
  for (auto &kv : *map) Py_DECREF((PyObject *)kv.first);
  if (spareCount < kSpareMaps && map->bucket_count() <= kSpareBuckets) {
    map->clear();
    spareMaps[spareCount++] = map;
    return;
  }
  delete map;
}

void linmap_room(linmap *m, size_t n) {
  // the table's own threshold: it grows when an insert finds size() at it
  if ((size_t)((float)m->bucket_count() * m->max_load_factor()) < n) m->reserve(n);
}

size_t linmap_size(const linmap *m) { return m ? m->size() : 0; }

int linmap_add(linmap *m, var_s *v, double c) {
  if (c == 0.0) return 0;
  return guarded([&] {
    auto ins = m->try_emplace(v, c);
    if (ins.second) {
      Py_INCREF((PyObject *)v);
      return 0;
    }
    double sum = ins.first->second + c;
    if (sum == 0.0) {
      m->erase(ins.first);
      Py_DECREF((PyObject *)v);
    } else {
      ins.first.value() = sum;
    }
    return 0;
  });
}

int linmap_set(linmap *m, var_s *v, double c) {
  return guarded([&] {
    auto ins = m->try_emplace(v, c);
    if (ins.second) Py_INCREF((PyObject *)v);
    else ins.first.value() = c;
    return 0;
  });
}

int linmap_get(const linmap *m, var_s *v, double *out) {
  if (!m) return -1;
  auto it = m->find(v);
  if (it == m->end()) return -1;
  *out = it->second;
  return 0;
}

int linmap_del(linmap *m, var_s *v) {
  if (!m) return -1;
  auto it = m->find(v);
  if (it == m->end()) return -1;
  m->erase(it);
  Py_DECREF((PyObject *)v);
  return 0;
}

int linmap_copy(linmap **dst, const linmap *src) {
  linmap *copy = linmap_new();
  if (!copy) {
    PyErr_NoMemory();
    return -1;
  }
  if (src) {
    int rc = guarded([&] {
      copy->reserve(src->size());
      for (auto &kv : *src) {
        copy->emplace(kv.first, kv.second);
        Py_INCREF((PyObject *)kv.first);
      }
      return 0;
    });
    if (rc) {
      linmap_free(&copy);
      return -1;
    }
  }
  linmap_free(dst);
  *dst = copy;
  return 0;
}

// ---------------------------------------------------------------- quadmap

quadmap *quadmap_new() { return new (std::nothrow) quadmap(); }

void quadmap_free(quadmap **m) {
  if (!m || !*m) return;
  quadmap *map = *m;
  *m = nullptr;
  for (auto &kv : *map) {
    linmap *inner = kv.second;
    linmap_free(&inner);
    Py_DECREF((PyObject *)kv.first);
  }
  delete map;
}

size_t quadmap_size(const quadmap *m) {
  size_t n = 0;
  if (m)
    for (auto &kv : *m) n += linmap_size(kv.second);
  return n;
}

int quadmap_add(quadmap *m, var_s *u, var_s *v, double c) {
  if (c == 0.0) return 0;
  linmap *inner = nullptr;
  if (quadmap_get(m, u, &inner) < 0) {
    inner = linmap_new();
    if (!inner) {
      PyErr_NoMemory();
      return -1;
    }
    if (quadmap_set(m, u, inner) < 0) {
      linmap_free(&inner);
      return -1;
    }
  }
  return linmap_add(inner, v, c);
}

int quadmap_set(quadmap *m, var_s *u, linmap *inner) {
  return guarded([&] {
    auto it = m->find(u);
    if (it == m->end()) {
      m->emplace(u, inner);
      Py_INCREF((PyObject *)u);
    } else if (it->second != inner) {
      linmap *old = it->second;
      it.value() = inner;
      linmap_free(&old);
    }
    return 0;
  });
}

int quadmap_get(const quadmap *m, var_s *u, linmap **out) {
  if (!m) return -1;
  auto it = m->find(u);
  if (it == m->end()) return -1;
  *out = it->second;
  return 0;
}

int quadmap_copy(quadmap **dst, const quadmap *src) {
  quadmap *copy = quadmap_new();
  if (!copy) {
    PyErr_NoMemory();
    return -1;
  }
  if (src) {
    for (auto &kv : *src) {
      linmap *inner = nullptr;
      if (linmap_copy(&inner, kv.second) < 0 || quadmap_set(copy, kv.first, inner) < 0) {
        linmap_free(&inner);
        quadmap_free(&copy);
        return -1;
      }
    }
  }
  quadmap_free(dst);
  *dst = copy;
  return 0;
}

// ---------------------------------------------------------------- indexset

indexset *indexset_new() { return new (std::nothrow) indexset(); }

int indexset_add(indexset *s, var_s *v) {
  return guarded([&] {
    s->insert(varSerial(v));
    return 0;
  });
}

int indexset_copy(indexset **dst, const indexset *src) {
  indexset *copy = nullptr;
  int rc = guarded([&] {
    copy = src ? new indexset(*src) : new indexset();
    return 0;
  });
  if (rc) return -1;
  indexset_free(dst);
  *dst = copy;
  return 0;
}

void indexset_free(indexset **s) {
  if (!s || !*s) return;
  delete *s;
  *s = nullptr;
}

// ---------------------------------------------------------------- rowcolmap

bool rowcolmap_has(const rowcolmap *m, uint64_t id) { return m && m->count(id) != 0; }
