// Hash containers of the module: robin-hood tables keyed by variable object (identity).
#pragma once
#include "module/env.h"
#include <tsl/robin_map.h>
#include <tsl/robin_set.h>
#include <map>
#include <new>
#include <stdexcept>

struct var_s;

struct kpy_PtrHash {
  size_t operator()(const void *p) const noexcept {
    uint64_t x = (uint64_t)(uintptr_t)p;
    x ^= x >> 33; x *= 0xff51afd7ed558ccdULL; x ^= x >> 33;
    return (size_t)x;
  }
};

// Bucket counts of the linear maps grow by half (not doubling), so that a table never holds
// more than about 40 bytes per entry; a hash picks its bucket by multiply-shift.
class kpy_GrowByHalf {
 public:
  explicit kpy_GrowByHalf(std::size_t &min_count) : count_(min_count > 0 ? min_count : 1) {}
  std::size_t bucket_for_hash(std::size_t hash) const noexcept {
    return (std::size_t)(((unsigned __int128)hash * count_) >> 64);
  }
  std::size_t next_bucket_count() const {
    if (count_ >= max_bucket_count() / 2) throw std::length_error("The hash table exceeds its maximum size.");
    return count_ + count_ / 2 + 1;
  }
  std::size_t max_bucket_count() const { return std::size_t(1) << 48; }
  void clear() noexcept { count_ = 1; }

 private:
  std::size_t count_;
};

// Storage from the interpreter's small-object allocator (the interpreter lock is held
// wherever coefficient maps are made, changed or freed): small tables cost no allocation
// header and reuse the interpreter's pools.
template <class T>
struct kpy_PyMemAllocator {
  using value_type = T;
  kpy_PyMemAllocator() noexcept = default;
  template <class U>
  kpy_PyMemAllocator(const kpy_PyMemAllocator<U> &) noexcept {}
  T *allocate(std::size_t n) {
    if (n > PY_SSIZE_T_MAX / sizeof(T)) throw std::bad_alloc();
    void *p = PyMem_Malloc(n * sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T *>(p);
  }
  void deallocate(T *p, std::size_t) noexcept { PyMem_Free(p); }
  template <class U>
  bool operator==(const kpy_PyMemAllocator<U> &) const noexcept { return true; }
  template <class U>
  bool operator!=(const kpy_PyMemAllocator<U> &) const noexcept { return false; }
};

// variable -> coefficient; each key holds a reference to its variable
struct linmap : tsl::robin_map<var_s *, double, kpy_PtrHash, std::equal_to<var_s *>,
                               kpy_PyMemAllocator<std::pair<var_s *, double>>, false, kpy_GrowByHalf> {
  static void *operator new(std::size_t n, const std::nothrow_t &) noexcept { return PyMem_Malloc(n); }
  static void *operator new(std::size_t n) {
    void *p = PyMem_Malloc(n);
    if (!p) throw std::bad_alloc();
    return p;
  }
  static void operator delete(void *p) noexcept { PyMem_Free(p); }
  static constexpr float kDefaultLoad = 0.5f;   // the table's own default
};
// u -> (v -> coefficient), u <= v in the variable order; the quadratic map owns the inner maps
struct quadmap : tsl::robin_map<var_s *, linmap *, kpy_PtrHash> {};
// set of 48-bit variable serials
struct indexset : tsl::robin_set<uint64_t> {};
// serial -> bound / name of unlinked variables
struct boundmap : tsl::robin_map<uint64_t, double> {};
struct namemap : tsl::robin_map<uint64_t, PyObject *> {};   // values hold a reference
// ordered map from object serial to solver index (problems in map mode)
struct rowcolmap : std::map<uint64_t, int64_t> {};

// a new empty map (possibly one freed before, with its buckets); null when out of memory
linmap *linmap_new();
void linmap_free(linmap **m);
// room for n entries without growing; a map with room already is left alone (throws bad_alloc)
void linmap_room(linmap *m, size_t n);
size_t linmap_size(const linmap *m);
int linmap_add(linmap *m, var_s *v, double c);
int linmap_set(linmap *m, var_s *v, double c);
int linmap_get(const linmap *m, var_s *v, double *out);
int linmap_del(linmap *m, var_s *v);
int linmap_copy(linmap **dst, const linmap *src);

quadmap *quadmap_new();
void quadmap_free(quadmap **m);
size_t quadmap_size(const quadmap *m);
int quadmap_add(quadmap *m, var_s *u, var_s *v, double c);
int quadmap_set(quadmap *m, var_s *u, linmap *inner);
int quadmap_get(const quadmap *m, var_s *u, linmap **out);
int quadmap_copy(quadmap **dst, const quadmap *src);

indexset *indexset_new();
int indexset_add(indexset *s, var_s *v);
int indexset_copy(indexset **dst, const indexset *src);
void indexset_free(indexset **s);

bool rowcolmap_has(const rowcolmap *m, uint64_t id);
