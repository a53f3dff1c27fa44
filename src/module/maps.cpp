// Map containers of the module: coefficient maps keyed by variable, serial sets.
// Keys of linmap and quadmap each hold one reference to their variable.
#include "module/maps.h"
#include "module/objects.h"

#include <algorithm>
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

linmap::~linmap() {
  PyMem_Free(a_);
  PyMem_Free(slot_);
}

void linmap::reserve(size_t n) {
  if (n <= cap_) return;
  if (n >= kEmpty) throw std::bad_alloc();
  size_t cap = std::max<size_t>({n, 4, size_t(cap_) + cap_ / 2});
  if (cap >= kEmpty) cap = kEmpty - 1;
  auto *a = (value_type *)PyMem_Realloc(a_, cap * sizeof(value_type));
  if (!a) throw std::bad_alloc();
  a_ = a;
  cap_ = uint32_t(cap);
  if (slot_) rehash(cap_);
}

void linmap::rehash(size_t n) {
  size_t size = 32;
  while (size < 2 * n) size *= 2;
  if (slot_ && size <= mask_ + 1) return;
  auto *slot = (uint32_t *)PyMem_Malloc(size * sizeof(uint32_t));
  if (!slot) throw std::bad_alloc();
  std::fill(slot, slot + size, kEmpty);
  PyMem_Free(slot_);
  slot_ = slot;
  mask_ = size - 1;
  for (uint32_t k = 0; k < n_; ++k) {
    size_t i = home(a_[k].first);
    while (slot_[i] != kEmpty) i = (i + 1) & mask_;
    slot_[i] = k;
  }
}

size_t linmap::slotOf(uint32_t pos) const {
  size_t i = home(a_[pos].first);
  while (slot_[i] != pos) i = (i + 1) & mask_;
  return i;
}

std::pair<linmap::iterator, bool> linmap::try_emplace(var_s *v, double c) {
  const size_t at = locate(v);
  if (at < n_) return {iterator(a_ + at), false};
  if (n_ == cap_) reserve(size_t(n_) + 1);
  if (!slot_ && n_ + 1 >= kIndexFrom) rehash(cap_);
  const uint32_t k = n_++;
  a_[k] = {v, c};
  if (slot_) {
    size_t i = home(v);
    while (slot_[i] != kEmpty) i = (i + 1) & mask_;
    slot_[i] = k;
  }
  return {iterator(a_ + k), true};
}

linmap::iterator linmap::erase(iterator it) {
  const uint32_t pos = uint32_t(&*it - a_), last = n_ - 1;
  if (slot_) {
    // backward-shift deletion: later entries of the probe run move up where their home allows
    size_t i = slotOf(pos), j = i;
    slot_[i] = kEmpty;
    for (;;) {
      j = (j + 1) & mask_;
      if (slot_[j] == kEmpty) break;
      const size_t h = home(a_[slot_[j]].first);
      if (i <= j ? (i < h && h <= j) : (i < h || h <= j)) continue;
      slot_[i] = slot_[j];
      slot_[j] = kEmpty;
      i = j;
    }
    if (pos != last) slot_[slotOf(last)] = pos;
  }
  a_[pos] = a_[last];
  n_ = last;
  return it;
}

void linmap::clear() {
  n_ = 0;
  if (slot_) std::fill(slot_, slot_ + mask_ + 1, kEmpty);
}

void linmap::assignScaled(const linmap &src, double c) {
  reserve(src.n_);
  n_ = 0;
  for (uint32_t k = 0; k < src.n_; ++k) a_[k] = {src.a_[k].first, c * src.a_[k].second};
  PyMem_Free(slot_);
  slot_ = nullptr;
  n_ = src.n_;
  if (n_ < kIndexFrom) return;
  try {
    rehash(cap_);
  } catch (...) {
    n_ = 0;
    throw;
  }
}

namespace {

// Emptied small maps kept with their storage: expressions are made and dropped at a high rate
// (the interpreter lock guards the list, as it guards every map).
#ifdef Py_GIL_DISABLED
constexpr size_t kSpareMaps = 0, kSpareRoom = 0;   // no lock guards the list there
#else
constexpr size_t kSpareMaps = 4096, kSpareRoom = 16;
#endif
linmap *spareMaps[kSpareMaps + 1];
size_t spareCount = 0;

}  // namespace

linmap *linmap_new() {
  if (spareCount) return spareMaps[--spareCount];
  return new (std::nothrow) linmap();
}

void linmap_free(linmap **m) {
  if (!m || !*m) return;
  linmap *map = *m;
  *m = nullptr;
  for (auto &kv : *map) Py_DECREF((PyObject *)kv.first);
  if (spareCount < kSpareMaps && map->capacity() <= kSpareRoom) {
    map->clear();
    spareMaps[spareCount++] = map;
    return;
  }
  delete map;
}

void linmap_room(linmap *m, size_t n) { m->reserve(n); }

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
      copy->assignScaled(*src, 1.0);
      for (auto &kv : *src) Py_INCREF((PyObject *)kv.first);
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
