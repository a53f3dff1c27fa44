// The store's constraint matrix, column-wise, in one of two forms:
//   packed  start (ncols + 1), index, value: contiguous, as HiGHS takes a matrix, so the lowering
//           can hand the arrays over without a copy; the loaders fill it straight from their input
//   loose   one vector of entries per column, cheap to change in place
// Both hold each column canonical: rows strictly increasing, no zero values. Reading works in
// either form; changing a column's entries (entries()) turns a packed matrix loose first, in one
// pass. Appending whole columns and deleting rows or columns keep the form.
// Rows appended (appendRows) wait row-wise in a row tail, each row canonical (columns strictly
// increasing, no zeros), until a column-wise use folds them into the columns. Appended rows come
// after every row the columns hold, so folding only appends to each column. A large tail folds
// straight into the packed form (one counting pass, one scatter pass); a small one turns the
// matrix loose and appends, so that folding costs what was appended, amortised. Const readers
// fold too (the members are mutable): reads on several threads must find the tail folded
// (fold() first).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace krvx {

// Large blocks ask for huge pages, as NumPy's arrays do: their first writes then fault once per
// 2 MB rather than once per 4 KB page, which costs several times less. Only advice: the kernel
// may decline it.
inline void adviseHugePages(void *p, size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  if (bytes < 2 * kHuge) return;
  const uintptr_t from = (uintptr_t(p) + kHuge - 1) & ~(kHuge - 1), to = (uintptr_t(p) + bytes) & ~(kHuge - 1);
  if (to > from) madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

// Leaves the elements a vector grows by uninitialised: the packed arrays are written right after
// they grow, in parallel, so that zeroing them first does not touch all their memory on one thread.
template <class T> struct UninitAllocator : std::allocator<T> {
  template <class U> struct rebind { using other = UninitAllocator<U>; };
  UninitAllocator() = default;
  template <class U> UninitAllocator(const UninitAllocator<U> &) noexcept {}
  T *allocate(size_t n) {
    T *p = std::allocator<T>::allocate(n);
    adviseHugePages(p, n * sizeof(T));
    return p;
  }
  template <class U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
  template <class U, class... A> void construct(U *p, A &&...a) { ::new (static_cast<void *>(p)) U(std::forward<A>(a)...); }
};

// A growable array of plain values whose block grows by realloc: a large block moves by remapping
// its pages, so that growing one at a time neither copies it nor touches fresh pages twice.
// Elements it grows by are left uninitialised. It asks for no huge pages: remapping a block to an
// address of another alignment splits them again, which costs more than they save.
template <class T> class GrowArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  GrowArray() = default;
  GrowArray(const GrowArray &o) {
    reserve(o.n_);
    if (o.n_) std::memcpy(p_, o.p_, o.n_ * sizeof(T));
    n_ = o.n_;
  }
  GrowArray(GrowArray &&o) noexcept { swap(o); }
  GrowArray &operator=(GrowArray o) noexcept {
    swap(o);
    return *this;
  }
  ~GrowArray() { std::free(p_); }
  void swap(GrowArray &o) noexcept {
    std::swap(p_, o.p_);
    std::swap(n_, o.n_);
    std::swap(cap_, o.cap_);
  }

  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  T *data() { return p_; }
  const T *data() const { return p_; }
  T &operator[](size_t k) { return p_[k]; }
  const T &operator[](size_t k) const { return p_[k]; }
  const T &back() const { return p_[n_ - 1]; }
  void reserve(size_t n) {
    if (n > cap_) regrow(n);
  }
  void resize(size_t n) {   // shrinking never throws
    if (n > cap_) regrow(std::max(n, 2 * cap_));
    n_ = n;
  }
  void push_back(T v) {
    if (n_ == cap_) regrow(std::max<size_t>(16, 2 * cap_));
    p_[n_++] = v;
  }
  // Gives the memory back.
  void release() noexcept { GrowArray().swap(*this); }

 private:
  void regrow(size_t cap) {
    if (cap > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void *q = std::realloc(p_, cap * sizeof(T));
    if (!q) throw std::bad_alloc();
    p_ = static_cast<T *>(q);
    cap_ = cap;
  }
  T *p_ = nullptr;
  size_t n_ = 0, cap_ = 0;
};

struct Entry { int index; double value; };     // one matrix coefficient

// The entries of one column, read by value in either form.
class ColumnView {
 public:
  ColumnView() = default;
  ColumnView(const Entry *e, size_t n) : e_(e), n_(n) {}
  ColumnView(const int *index, const double *value, size_t n) : i_(index), v_(value), n_(n) {}
  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  Entry operator[](size_t k) const { return e_ ? e_[k] : Entry{i_[k], v_[k]}; }
  Entry back() const { return (*this)[n_ - 1]; }
  // Position of the first entry in a row >= row (size() when none).
  size_t lowerBound(int row) const;
  // The coefficient in row, 0 when absent.
  double at(int row) const;

  class iterator {
   public:
    iterator(const ColumnView *v, size_t k) : v_(v), k_(k) {}
    Entry operator*() const { return (*v_)[k_]; }
    iterator &operator++() {
      ++k_;
      return *this;
    }
    bool operator!=(const iterator &o) const { return k_ != o.k_; }
    bool operator==(const iterator &o) const { return k_ == o.k_; }

   private:
    const ColumnView *v_;
    size_t k_;
  };
  iterator begin() const { return {this, 0}; }
  iterator end() const { return {this, n_}; }

 private:
  const Entry *e_ = nullptr;
  const int *i_ = nullptr;
  const double *v_ = nullptr;
  size_t n_ = 0;
};

// visible outside the library: the tests fill and read matrices directly
class __attribute__((visibility("default"))) ColMatrix {
 public:
  ColMatrix() = default;                       // loose, no columns
  ColMatrix(const ColMatrix &) = default;
  ColMatrix &operator=(const ColMatrix &) = default;
  ColMatrix(ColMatrix &&o) noexcept { swap(o); }
  ColMatrix &operator=(ColMatrix &&o) noexcept {
    ColMatrix gone;
    gone.swap(o);
    swap(gone);
    return *this;
  }
  void swap(ColMatrix &o) noexcept;

  int ncols() const { return packed_ ? int(start_.size()) - 1 : int(loose_.size()); }
  bool packed() const {
    fold();
    return packed_;
  }
  int64_t nnz() const;
  ColumnView col(int j) const {
    fold();
    if (!packed_) return {loose_[size_t(j)].data(), loose_[size_t(j)].size()};
    const size_t s = size_t(start_[size_t(j)]);
    return {index_.data() + s, value_.data() + s, size_t(start_[size_t(j) + 1]) - s};
  }
  // The packed arrays (packed() only): ncols + 1 offsets, then nnz rows and values.
  const int *start() const {
    fold();
    return start_.data();
  }
  const int *index() const {
    fold();
    return index_.data();
  }
  const double *value() const {
    fold();
    return value_.data();
  }

  // Column j's entries to change in place, keeping them canonical (the matrix turns loose).
  std::vector<Entry> &entries(int j) {
    if (packed_ || tail_.rows()) makeLoose();
    return loose_[size_t(j)];
  }
  // Turns the matrix loose, the row tail folded in.
  void makeLoose() const;
  // Grows with empty columns or drops the last ones.
  void resize(int ncols);

  // Appends n rows numbered first, first + 1, ...: row r has the entries start[r] to start[r + 1]
  // of index (columns) and value, start[n] being `end`; start null: n empty rows. Rows must come
  // after every row the matrix holds. A row not canonical is made so on its copy (sorted, repeats
  // summed in their order, zeros dropped). Each offset is read once; false, changing nothing,
  // when one is out of order or beyond end or a column is outside 0..ncols() - 1.
  bool appendRows(int first, int n, const int64_t *start, int64_t end, const int *index, const double *value);
  // Drops the rows from `first` on, all appended since the last fold (undoes appendRows).
  void dropTailRows(int first) noexcept;
  // Folds the row tail into the columns.
  void fold() const {
    if (tail_.rows()) foldTail();
  }
  // Rows waiting in the row tail.
  int tailRows() const { return tail_.rows(); }
  // Appends a column of n canonical entries; a packed matrix stays packed while its entries
  // stay below kMaxPacked (an empty one becomes packed).
  void appendColumn(const Entry *e, size_t n);
  // Appends n columns without entries at once (an empty matrix becomes packed).
  void appendEmptyColumns(int n);
  // Keeps the columns whose map entry is >= 0 (map sized like the columns, kept ones in order).
  void compactColumns(const std::vector<int> &map);
  // Renumbers the rows through map, dropping the entries of rows mapped to -1 (the kept rows
  // in order).
  void renumberRows(const std::vector<int> &map);

  // Filling the packed form directly (loaders): beginPacked starts an empty packed matrix with
  // room for ncols columns and nnz entries; pushColumn appends a column of n entries, put into
  // canonical order (sorted, repeats summed, zeros dropped) when they are not already.
  void beginPacked(int ncols, size_t nnz);
  void pushColumn(const int *index, const double *value, size_t n);
  // Fills the packed form at once from ncols columns that lie one after another in input arrays
  // of limit entries (start: ncols + 1 nondecreasing offsets in 0..limit, at most kMaxPacked
  // entries), copying large inputs on several threads. False, changing nothing, when an offset
  // is out of order or range or a column is not canonical: the caller then goes column by column.
  // threads: 0 chooses by size.
  bool fillPacked(int ncols, const int64_t *start, int64_t limit, const int *index, const double *value,
                  int threads = 0);

  // Most entries of the packed form (offsets are HiGHS's int).
  static constexpr int64_t kMaxPacked = INT32_MAX - 1;

 private:
  // Rows kept row-wise: row first + r has the entries start[r] to start[r + 1].
  struct RowTail {
    int first = 0;
    GrowArray<int64_t> start;   // empty or rows() + 1 offsets
    GrowArray<int> index;
    GrowArray<double> value;
    int rows() const { return start.empty() ? 0 : int(start.size()) - 1; }
    void clear() noexcept;
  };
  void foldTail() const;
  void packIfEmpty();   // an empty loose matrix (no columns) turns packed
  void foldPacked() const;

  // mutable: const readers fold the row tail
  mutable bool packed_ = false;
  mutable std::vector<int> start_;
  mutable std::vector<int, UninitAllocator<int>> index_;
  mutable std::vector<double, UninitAllocator<double>> value_;
  mutable std::vector<std::vector<Entry>> loose_;
  mutable RowTail tail_;
};

// Small members inline: the tests use them on stores they build by hand.

inline size_t ColumnView::lowerBound(int row) const {
  size_t lo = 0, hi = n_;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if ((*this)[mid].index < row) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

inline double ColumnView::at(int row) const {
  const size_t k = lowerBound(row);
  return k < n_ && (*this)[k].index == row ? (*this)[k].value : 0.0;
}

inline void ColMatrix::swap(ColMatrix &o) noexcept {
  std::swap(packed_, o.packed_);
  start_.swap(o.start_);
  index_.swap(o.index_);
  value_.swap(o.value_);
  loose_.swap(o.loose_);
  std::swap(tail_, o.tail_);
}

inline int64_t ColMatrix::nnz() const {
  fold();
  if (packed_) return start_.back();
  int64_t n = 0;
  for (const auto &c : loose_) n += int64_t(c.size());
  return n;
}

// Sorts entries by index, sums repeated indices and drops zeros.
void sortEntries(std::vector<Entry> &v);

}  // namespace krvx
