// Shared pieces of the calls that change a problem (modify*.cpp, objectives.cpp, entities.cpp).
#pragma once
#include "core/call_guard.h"

#include <cstdint>
#include <vector>

namespace krvx {

// Runs a changing call: the problem's lock, refused while solving, and on success the solution is
// dropped and the HiGHS instance marked stale.
template <class F>
int change(ko_prob_struct *p, const char *fn, F &&body) noexcept {
  return guard(p, fn, [&] {
    requireIdle(p);
    body();
    invalidate(p);
  });
}

// The same for changes the solver's instance takes in place: body(PendingChanges &) notes the
// items it changed, which join the problem's record when the call succeeds.
template <class F>
int changeInPlace(ko_prob_struct *p, const char *fn, F &&body) noexcept {
  return guard(p, fn, [&] {
    requireIdle(p);
    const int ncols = int(p->cols.size()), nrows = int(p->rows.size());
    PendingChanges noted;
    body(noted);
    notePending(p, noted, ncols, nrows);
  });
}

// Item ranges of an adder's start array, read where the caller keeps it: item k runs from
// st[k] to st[k + 1], the offsets beyond the given ones being the end.
struct ItemStarts {
  const int64_t *start;   // null: every item empty
  int64_t given, end;
  int64_t operator[](size_t k) const { return int64_t(k) < given ? start[k] : end; }
};
// `start` has n entries (the last item runs to nelem) or n + 1 (ending at nelem); absent only
// when nelem is 0. Offsets are checked (>= 0, non-decreasing, <= nelem).
ItemStarts itemStarts(const int64_t *start, int64_t start_n, int64_t n, int64_t nelem, const char *name);

// Refuses an offset of the n entries of start (argument name) that is below its predecessor (or 0)
// or above nelem.
void checkOffsets(const int64_t *start, int64_t n, int64_t nelem, const char *name);

// The renumbering of a deletion of the n indices ind (ind_n entries): new index per old one, -1
// for deleted. Refuses a count mismatch, repeated and out-of-range indices (what: "row", "column", ...). Costs O(count + n).
std::vector<int> deletionMap(const int *ind, int n, int64_t ind_n, int64_t count, const char *name, const char *what);

// Keeps the entries of v whose old position maps to an index >= 0 (vectors sized like the items,
// or empty).
template <class T>
void compact(std::vector<T> &v, const std::vector<int> &map) {
  if (v.empty()) return;
  size_t out = 0;
  for (size_t k = 0; k < v.size() && k < map.size(); ++k)
    if (map[k] >= 0) {
      if (out != k) v[out] = std::move(v[k]);
      ++out;
    }
  v.resize(out);
}

// Appends fresh items, all or none; growth stays geometric so that adding one at a time is cheap.
template <class T>
void appendAll(std::vector<T> &v, std::vector<T> &fresh) {
  const size_t old = v.size();
  try {
    for (T &x : fresh) v.push_back(std::move(x));
  } catch (...) {
    v.resize(old);
    throw;
  }
}

// Drops the names of deleted items and rebuilds the look-up.
void compactNames(ko_prob_struct *p, int kind, const std::vector<int> &map);

// Sets the value of index in sorted entries: inserted, replaced, or removed when 0.
void setEntry(std::vector<Entry> &v, int index, double value);

// Type letters: each entry one of `allowed`, else throw naming the argument and entry.
void checkTypes(const char *v, int64_t n, const char *allowed, const char *name);

}  // namespace krvx
