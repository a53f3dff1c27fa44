// The store's constraint matrix, column-wise, in one of two forms:
//   packed  start (ncols + 1), index, value: contiguous, as HiGHS takes a matrix, so the lowering
//           can hand the arrays over without a copy; the loaders fill it straight from their input
//   loose   one vector of entries per column, cheap to change in place
// Both hold each column canonical: rows strictly increasing, no zero values. Reading works in
// either form; changing a column's entries (entries()) turns a packed matrix loose first, in one
// pass. Appending whole columns and deleting rows or columns keep the form.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace krvx {

// Leaves the elements a vector grows by uninitialised: the packed arrays are written right after
// they grow, in parallel, so that zeroing them first does not touch all their memory on one thread.
template <class T> struct UninitAllocator : std::allocator<T> {
  template <class U> struct rebind { using other = UninitAllocator<U>; };
  UninitAllocator() = default;
  template <class U> UninitAllocator(const UninitAllocator<U> &) noexcept {}
  template <class U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
  template <class U, class... A> void construct(U *p, A &&...a) { ::new (static_cast<void *>(p)) U(std::forward<A>(a)...); }
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
  bool packed() const { return packed_; }
  int64_t nnz() const;
  ColumnView col(int j) const {
    if (!packed_) return {loose_[size_t(j)].data(), loose_[size_t(j)].size()};
    const size_t s = size_t(start_[size_t(j)]);
    return {index_.data() + s, value_.data() + s, size_t(start_[size_t(j) + 1]) - s};
  }
  // The packed arrays (packed() only): ncols + 1 offsets, then nnz rows and values.
  const int *start() const { return start_.data(); }
  const int *index() const { return index_.data(); }
  const double *value() const { return value_.data(); }

  // Column j's entries to change in place, keeping them canonical (the matrix turns loose).
  std::vector<Entry> &entries(int j) {
    if (packed_) makeLoose();
    return loose_[size_t(j)];
  }
  void makeLoose();
  // Grows with empty columns or drops the last ones.
  void resize(int ncols);
  // Appends a column of n canonical entries; a packed matrix stays packed while its entries
  // stay below kMaxPacked (an empty one becomes packed).
  void appendColumn(const Entry *e, size_t n);
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
  bool packed_ = false;
  std::vector<int> start_;
  std::vector<int, UninitAllocator<int>> index_;
  std::vector<double, UninitAllocator<double>> value_;
  std::vector<std::vector<Entry>> loose_;
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
}

inline int64_t ColMatrix::nnz() const {
  if (packed_) return start_.back();
  int64_t n = 0;
  for (const auto &c : loose_) n += int64_t(c.size());
  return n;
}

inline void ColMatrix::makeLoose() {
  if (!packed_) return;
  const size_t n = start_.size() - 1;
  std::vector<std::vector<Entry>> loose(n);
  for (size_t j = 0; j < n; ++j) {
    std::vector<Entry> &c = loose[j];
    c.reserve(size_t(start_[j + 1] - start_[j]));
    for (int k = start_[j]; k < start_[j + 1]; ++k) c.push_back({index_[size_t(k)], value_[size_t(k)]});
  }
  loose_.swap(loose);
  packed_ = false;
  decltype(start_)().swap(start_);
  decltype(index_)().swap(index_);
  decltype(value_)().swap(value_);
}

inline void ColMatrix::resize(int ncols) {
  const size_t n = size_t(ncols);
  if (!packed_) {
    loose_.resize(n);
    return;
  }
  const size_t old = start_.size() - 1;
  if (n < old) {
    index_.resize(size_t(start_[n]));
    value_.resize(size_t(start_[n]));
  }
  const int last = start_[std::min(n, old)];
  start_.resize(n + 1, last);
}

// Sorts entries by index, sums repeated indices and drops zeros.
void sortEntries(std::vector<Entry> &v);

}  // namespace krvx
