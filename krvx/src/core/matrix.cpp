#include "core/matrix.h"

#include <sched.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

namespace krvx {

void sortEntries(std::vector<Entry> &v) {
  // stable: repeats are summed in their given order (and sorted input costs no buffer)
  auto before = [](const Entry &a, const Entry &b) { return a.index < b.index; };
  if (!std::is_sorted(v.begin(), v.end(), before)) std::stable_sort(v.begin(), v.end(), before);
  size_t out = 0;
  for (size_t k = 0; k < v.size();) {
    Entry e = v[k++];
    while (k < v.size() && v[k].index == e.index) e.value += v[k++].value;
    if (e.value != 0.0) v[out++] = e;
  }
  v.resize(out);
}

namespace {

// Whether n entries are canonical: rows strictly increasing, no zero values.
bool canonicalRun(const int *index, const double *value, size_t n) {
  for (size_t k = 0; k < n; ++k)
    if (value[k] == 0.0 || (k > 0 && index[k - 1] >= index[k])) return false;
  return true;
}

// Threads for copying n entries: one per 2M entries, at most 4 and the CPUs the process may use
// (the first use of fresh memory costs more than the copy).
int copyThreads(int64_t n) {
  if (n < (int64_t(1) << 21)) return 1;
  cpu_set_t set;
  const int cpus = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
  return int(std::max<int64_t>(1, std::min<int64_t>({int64_t(cpus), 4, n >> 21})));
}

// Runs work(t) for t = 0 .. nt - 1, each t > 0 on a thread of its own where one is to be had
// (else here). Does not throw when work does not.
template <class F>
void onThreads(int nt, const F &work) {
  std::vector<std::thread> helpers;
  for (int t = 1; t < nt; ++t) {
    try {
      helpers.emplace_back(work, t);
    } catch (...) {   // no thread to be had: this one does the chunk
      work(t);
    }
  }
  work(0);
  for (std::thread &h : helpers) h.join();
}

// Splits ncols columns (start: ncols + 1 offsets) into nt chunks of about equal entries: chunk t
// runs from first[t], the first column starting at or after entry nnz t / nt, to first[t + 1].
void entryChunks(const int *start, int ncols, int nt, std::vector<int> &first) {
  const size_t nnz = size_t(start[ncols]);
  first.assign(size_t(nt) + 1, ncols);
  for (int t = 0; t < nt; ++t)
    first[size_t(t)] = int(std::lower_bound(start, start + ncols, int(nnz * size_t(t) / size_t(nt))) - start);
}

}  // namespace

void ColMatrix::packIfEmpty() {
  if (packed_ || !loose_.empty()) return;
  start_.assign(1, 0);
  packed_ = true;
}

void ColMatrix::appendEmptyColumns(int n) {
  if (n <= 0) return;
  packIfEmpty();
  resize(ncols() + n);
}

void ColMatrix::appendColumn(const Entry *e, size_t n) {
  packIfEmpty();
  if (packed_ && int64_t(index_.size()) + int64_t(n) > kMaxPacked) makeLoose();
  if (!packed_) {
    loose_.emplace_back(e, e + n);
    return;
  }
  const size_t old = index_.size();
  try {   // the vectors grow geometrically: appending one column at a time stays cheap
    for (size_t k = 0; k < n; ++k) {
      index_.push_back(e[k].index);
      value_.push_back(e[k].value);
    }
    start_.push_back(int(index_.size()));
  } catch (...) {
    index_.resize(old);
    value_.resize(old);
    throw;
  }
}

void ColMatrix::makeLoose() const {
  if (packed_) {
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
  const int rows = tail_.rows();
  int r = 0;
  try {
    for (; r < rows; ++r) {
      const int row = tail_.first + r;
      for (int64_t k = tail_.start[size_t(r)]; k < tail_.start[size_t(r) + 1]; ++k)
        loose_[size_t(tail_.index[size_t(k)])].push_back({row, tail_.value[size_t(k)]});
    }
  } catch (...) {   // the rows folded so far leave the columns again
    for (int64_t k = 0; k < tail_.start[size_t(r) + 1]; ++k) {
      std::vector<Entry> &c = loose_[size_t(tail_.index[size_t(k)])];
      while (!c.empty() && c.back().index >= tail_.first) c.pop_back();
    }
    throw;
  }
  tail_.clear();
}

void ColMatrix::RowTail::clear() noexcept {
  start.release();
  index.release();
  value.release();
}

void ColMatrix::foldTail() const {
  const int64_t added = int64_t(tail_.index.size());
  if (added == 0) {
    tail_.clear();
    return;
  }
  const int64_t held = packed_ ? int64_t(start_.back()) : 0;
  if (packed_ && 2 * added >= held && held + added <= kMaxPacked) foldPacked();
  else makeLoose();
}

// Each column's own entries move up by the tail entries of the columns before it (from the last
// column down, so that none is overwritten before it moved); then the tail rows, in order, go
// after each column's own entries. Large tails are counted and scattered on several threads,
// each for its share of the columns.
void ColMatrix::foldPacked() const {
  const int n = int(start_.size()) - 1;
  const size_t added = tail_.index.size(), total = size_t(start_[size_t(n)]) + added;
  const int nt = copyThreads(int64_t(added));
  // fill: tail entries per column, then where its next one goes
  std::vector<int> fill(static_cast<size_t>(n)), first(static_cast<size_t>(nt) + 1);
  index_.reserve(total);
  value_.reserve(total);
  index_.resize(total);
  value_.resize(total);
  // nothing allocates or throws from here on
  const int *ti = tail_.index.data();
  const double *tv = tail_.value.data();
  const int64_t *ts = tail_.start.data();
  const int rows = tail_.rows();
  onThreads(nt, [&](int t) {
    const unsigned c0 = unsigned(int64_t(n) * t / nt), width = unsigned(int64_t(n) * (t + 1) / nt) - c0;
    for (size_t k = 0; k < added; ++k)
      if (unsigned(ti[k]) - c0 < width) ++fill[size_t(ti[k])];
  });
  size_t after = added;   // tail entries of the columns up to j
  for (size_t j = size_t(n); j-- > 0;) {
    const size_t before = after - size_t(fill[j]), s = size_t(start_[j]), e = size_t(start_[j + 1]);
    if (before > 0 && e > s) {
      std::memmove(index_.data() + s + before, index_.data() + s, (e - s) * sizeof(int));
      std::memmove(value_.data() + s + before, value_.data() + s, (e - s) * sizeof(double));
    }
    fill[j] = int(e + before);
    start_[j + 1] = int(e + after);
    after = before;
  }
  entryChunks(start_.data(), n, nt, first);   // first has its size: no allocation
  onThreads(nt, [&](int t) {
    const unsigned c0 = unsigned(first[size_t(t)]), width = unsigned(first[size_t(t) + 1]) - c0;
    for (int r = 0; r < rows; ++r) {
      const int row = tail_.first + r;
      for (int64_t k = ts[r]; k < ts[r + 1]; ++k)
        if (unsigned(ti[k]) - c0 < width) {
          const size_t at = size_t(fill[size_t(ti[k])]++);
          index_[at] = row;
          value_[at] = tv[k];
        }
    }
  });
  tail_.clear();
}

void ColMatrix::resize(int ncols) {
  const size_t n = size_t(ncols);
  if (n < size_t(this->ncols())) fold();
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

bool ColMatrix::appendRows(int first, int n, const int64_t *start, int64_t end, const int *index,
                           const double *value) {
  if (n <= 0) return true;
  if (tail_.rows() && first < tail_.first + tail_.rows()) fold();
  const size_t rows0 = tail_.start.size(), entries0 = tail_.index.size();
  const unsigned ncol = unsigned(ncols());
  auto undo = [&] {
    tail_.start.resize(rows0);
    tail_.index.resize(entries0);
    tail_.value.resize(entries0);
  };
  try {
    if (tail_.start.empty()) {
      tail_.first = first;
      tail_.start.push_back(0);
    }
    while (tail_.first + tail_.rows() < first) tail_.start.push_back(tail_.start.back());   // rows without entries
    int64_t s = start ? start[0] : 0;
    if (s < 0 || s > end) {
      undo();
      return false;
    }
    // room for every entry at once; what canonicalising drops is given back at the end
    tail_.index.resize(entries0 + size_t(end - s));
    tail_.value.resize(entries0 + size_t(end - s));
    size_t at = entries0;
    for (int r = 0; r < n; ++r) {
      const int64_t e = !start ? s : r + 1 < n ? start[r + 1] : end;
      if (e < s || e > end) {
        undo();
        return false;
      }
      size_t len = size_t(e - s);
      int *ci = tail_.index.data() + at;
      double *cv = tail_.value.data() + at;
      if (len > 0) {
        std::memcpy(ci, index + s, len * sizeof(int));
        std::memcpy(cv, value + s, len * sizeof(double));
      }
      // the copy is what is checked: the input may change meanwhile
      bool inside = true, canonical = true;
      for (size_t k = 0; k < len; ++k) {
        inside &= unsigned(ci[k]) < ncol;
        canonical &= (cv[k] != 0.0) & (k == 0 || ci[k - 1] < ci[k]);
      }
      if (!inside) {
        undo();
        return false;
      }
      if (!canonical) {
        std::vector<Entry> v(len);
        for (size_t k = 0; k < len; ++k) v[k] = {ci[k], cv[k]};
        sortEntries(v);
        len = v.size();
        for (size_t k = 0; k < len; ++k) {
          ci[k] = v[k].index;
          cv[k] = v[k].value;
        }
      }
      at += len;
      tail_.start.push_back(int64_t(at));
      s = e;
    }
    tail_.index.resize(at);
    tail_.value.resize(at);
  } catch (...) {
    undo();
    throw;
  }
  return true;
}

void ColMatrix::dropTailRows(int first) noexcept {
  const int rows = tail_.rows();
  if (rows == 0 || first >= tail_.first + rows) return;
  if (first <= tail_.first) {
    tail_.clear();
    return;
  }
  const size_t r = size_t(first - tail_.first), k = size_t(tail_.start[r]);
  tail_.start.resize(r + 1);
  tail_.index.resize(k);
  tail_.value.resize(k);
}

void ColMatrix::compactColumns(const std::vector<int> &map) {
  fold();
  if (!packed_) {
    size_t out = 0;
    for (size_t j = 0; j < loose_.size(); ++j)
      if (map[j] >= 0) {
        if (out != j) loose_[out] = std::move(loose_[j]);
        ++out;
      }
    loose_.resize(out);
    return;
  }
  const size_t n = start_.size() - 1;
  size_t out = 0, pos = 0;
  for (size_t j = 0; j < n; ++j) {
    const size_t s = size_t(start_[j]), e = size_t(start_[j + 1]);
    if (map[j] < 0) continue;
    start_[out++] = int(pos);
    for (size_t k = s; k < e; ++k, ++pos) {
      index_[pos] = index_[k];
      value_[pos] = value_[k];
    }
  }
  start_[out] = int(pos);
  start_.resize(out + 1);
  index_.resize(pos);
  value_.resize(pos);
}

void ColMatrix::renumberRows(const std::vector<int> &map) {
  fold();
  if (!packed_) {
    for (auto &c : loose_) {
      size_t out = 0;
      for (Entry e : c) {
        e.index = map[size_t(e.index)];
        if (e.index >= 0) c[out++] = e;
      }
      c.resize(out);
    }
    return;
  }
  // kept rows keep their order: each column stays increasing
  const size_t n = start_.size() - 1;
  size_t pos = 0;
  for (size_t j = 0; j < n; ++j) {
    const size_t s = size_t(start_[j]), e = size_t(start_[j + 1]);
    start_[j] = int(pos);
    for (size_t k = s; k < e; ++k) {
      const int row = map[size_t(index_[k])];
      if (row < 0) continue;
      index_[pos] = row;
      value_[pos++] = value_[k];
    }
  }
  start_[n] = int(pos);
  index_.resize(pos);
  value_.resize(pos);
}

void ColMatrix::beginPacked(int ncols, size_t nnz) {
  ColMatrix fresh;
  fresh.packed_ = true;
  fresh.start_.reserve(size_t(ncols) + 1);
  fresh.start_.push_back(0);
  fresh.index_.reserve(nnz);
  fresh.value_.reserve(nnz);
  swap(fresh);
}

void ColMatrix::pushColumn(const int *index, const double *value, size_t n) {
  index_.insert(index_.end(), index, index + n);
  value_.insert(value_.end(), value, value + n);
  const size_t s = size_t(start_.back()), e = index_.size();
  if (!canonicalRun(index_.data() + s, value_.data() + s, e - s)) {
    std::vector<Entry> v(e - s);
    for (size_t k = s; k < e; ++k) v[k - s] = {index_[k], value_[k]};
    sortEntries(v);
    for (size_t k = 0; k < v.size(); ++k) {
      index_[s + k] = v[k].index;
      value_[s + k] = v[k].value;
    }
    index_.resize(s + v.size());
    value_.resize(s + v.size());
  }
  start_.push_back(int(index_.size()));
}

bool ColMatrix::fillPacked(int ncols, const int64_t *start, int64_t limit, const int *index, const double *value,
                           int threads) {
  ColMatrix fresh;
  fresh.packed_ = true;
  fresh.start_.resize(size_t(ncols) + 1);
  // each offset read once (the input may change meanwhile) and checked
  const int64_t base = start[0];
  if (base < 0 || base > limit) return false;
  for (size_t j = 0; j <= size_t(ncols); ++j) {
    const int64_t o = start[j] - base;
    if (o < (j ? fresh.start_[j - 1] : 0) || o > kMaxPacked || o > limit - base) return false;
    fresh.start_[j] = int(o);
  }
  const size_t nnz = size_t(fresh.start_.back());
  fresh.index_.resize(nnz);
  fresh.value_.resize(nnz);
  const int nt = threads > 0 ? threads : copyThreads(int64_t(nnz));
  std::vector<int> first;
  entryChunks(fresh.start_.data(), ncols, nt, first);
  std::vector<char> canonical(size_t(nt), 1);
  auto copy = [&](int t) {
    const int c0 = first[size_t(t)], c1 = first[size_t(t) + 1];
    const size_t s = size_t(fresh.start_[size_t(c0)]), e = size_t(fresh.start_[size_t(c1)]);
    if (e > s) {
      std::memcpy(fresh.index_.data() + s, index + base + int64_t(s), (e - s) * sizeof(int));
      std::memcpy(fresh.value_.data() + s, value + base + int64_t(s), (e - s) * sizeof(double));
    }
    for (int j = c0; j < c1 && canonical[size_t(t)]; ++j) {
      const size_t k = size_t(fresh.start_[size_t(j)]);
      canonical[size_t(t)] = canonicalRun(fresh.index_.data() + k, fresh.value_.data() + k,
                                          size_t(fresh.start_[size_t(j) + 1]) - k);
    }
  };
  onThreads(nt, copy);
  if (std::find(canonical.begin(), canonical.end(), 0) != canonical.end()) return false;
  swap(fresh);
  return true;
}

}  // namespace krvx
