// Hash containers of the module: robin-hood tables keyed by variable object (identity).
#pragma once
#include "module/env.h"
#include <tsl/robin_map.h>
#include <tsl/robin_set.h>
#include <map>
#include <new>
#include <type_traits>
#include <utility>
#include <stdexcept>

struct var_s;

struct kpy_PtrHash {
  size_t operator()(const void *p) const noexcept {
    uint64_t x = (uint64_t)(uintptr_t)p;
    x ^= x >> 33; x *= 0xff51afd7ed558ccdULL; x ^= x >> 33;
    return (size_t)x;
  }
};

// variable -> coefficient; each key holds a reference to its variable. The entries sit in one
// array in the order they came (an erase moves the last entry into the gap), so that the small
// maps of row building are scanned, scaled and copied as plain arrays; from kIndexFrom entries
// on, a table of positions (open addressing, linear probing) finds a key, below that a scan does.
// Storage comes from the interpreter's small-object allocator (the interpreter lock is held
// wherever coefficient maps are made, changed or freed). Growth throws std::bad_alloc.
class linmap {
 public:
  using value_type = std::pair<var_s *, double>;
  static constexpr uint32_t kIndexFrom = 16;

  template <bool Const>
  class iter {
   public:
    using entry = std::conditional_t<Const, const value_type, value_type>;
    iter() = default;
    explicit iter(entry *p) : p_(p) {}
    template <bool C = Const, class = std::enable_if_t<C>>
    iter(const iter<false> &o) : p_(o.operator->()) {}
    entry &operator*() const { return *p_; }
    entry *operator->() const { return p_; }
    std::conditional_t<Const, const double, double> &value() const { return p_->second; }
    iter &operator++() {
      ++p_;
      return *this;
    }
    bool operator==(const iter &o) const { return p_ == o.p_; }
    bool operator!=(const iter &o) const { return p_ != o.p_; }

   private:
    entry *p_ = nullptr;
  };
  using iterator = iter<false>;
  using const_iterator = iter<true>;

  linmap() = default;
  linmap(const linmap &) = delete;
  linmap &operator=(const linmap &) = delete;
  ~linmap();

  iterator begin() { return iterator(a_); }
  iterator end() { return iterator(a_ + n_); }
  const_iterator begin() const { return const_iterator(a_); }
  const_iterator end() const { return const_iterator(a_ + n_); }
  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  size_t capacity() const { return cap_; }

  iterator find(var_s *v) { return iterator(a_ + locate(v)); }
  const_iterator find(var_s *v) const { return const_iterator(a_ + locate(v)); }
  // the entry of v, made with c when there was none (second: made)
  std::pair<iterator, bool> try_emplace(var_s *v, double c);
  // removes the entry at it; the next entry to visit is at it again
  iterator erase(iterator it);
  void clear();   // keeps the storage
  void reserve(size_t n);   // room for n entries
  // the entries of src (another map), coefficients times c, in place of this map's (which holds
  // none); takes no references
  void assignScaled(const linmap &src, double c);

  static void *operator new(std::size_t n, const std::nothrow_t &) noexcept { return PyMem_Malloc(n); }
  static void *operator new(std::size_t n) {
    void *p = PyMem_Malloc(n);
    if (!p) throw std::bad_alloc();
    return p;
  }
  static void operator delete(void *p) noexcept { PyMem_Free(p); }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  size_t locate(var_s *v) const {   // position of v, n_ when absent
    if (!slot_) {
      uint32_t k = 0;
      while (k < n_ && a_[k].first != v) ++k;
      return k;
    }
    for (size_t i = home(v);; i = (i + 1) & mask_) {
      const uint32_t s = slot_[i];
      if (s == kEmpty) return n_;
      if (a_[s].first == v) return s;
    }
  }
  size_t home(const var_s *v) const { return kpy_PtrHash()(v) & mask_; }
  size_t slotOf(uint32_t pos) const;   // the table slot holding pos
  void rehash(size_t n);               // a table for n entries

  value_type *a_ = nullptr;
  uint32_t n_ = 0, cap_ = 0;
  uint32_t *slot_ = nullptr;   // null below kIndexFrom entries
  size_t mask_ = 0;
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
