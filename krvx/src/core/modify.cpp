// Rows, columns and sets: adding, deleting, changing and reading them.
#include "nl/nl.h"
#include "core/modify.h"
#include "core/model.h"
#include "core/directives.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_set>

namespace krvx {

void checkOffsets(const int64_t *start, int64_t n, int64_t nelem, const char *name) {
  int64_t prev = 0;
  for (int64_t k = 0; k < n; ++k) {
    if (start[k] < prev || start[k] > nelem)
      raise(kErrInvalid, "entry %lld of argument '%s' is %lld, outside %lld..%lld", (long long)k, name,
            (long long)start[k], (long long)prev, (long long)nelem);
    prev = start[k];
  }
}

ItemStarts itemStarts(const int64_t *start, int64_t start_n, int64_t n, int64_t nelem, const char *name) {
  checkPair(start, start_n, name);
  if (start_n == 0) {
    if (nelem > 0 && n > 0) raise(kErrInvalid, "argument '%s' is required when there are %lld elements", name, (long long)nelem);
    if (nelem > 0) raise(kErrInvalid, "%lld elements given for no items", (long long)nelem);
    return {nullptr, 0, 0};
  }
  if (start_n != n && start_n != n + 1)
    raise(kErrInvalid, "argument '%s' has %lld entries, expected %lld or %lld", name, (long long)start_n, (long long)n,
          (long long)n + 1);
  checkOffsets(start, start_n, nelem, name);
  if (n > 0 && start[0] != 0)
    raise(kErrInvalid, "argument '%s' starts at %lld; the first item must start at 0", name, (long long)start[0]);
  if (start_n == n + 1 && start[n] != nelem)
    raise(kErrInvalid, "argument '%s' ends at %lld but there are %lld elements", name, (long long)start[n], (long long)nelem);
  return {start, std::min(start_n, n), nelem};
}

std::vector<int> deletionMap(const int *ind, int n, int64_t ind_n, int64_t count, const char *name, const char *what) {
  if (n < 0) raise(kErrInvalid, "argument 'n' is negative (%d)", n);
  checkExact(ind, ind_n, n, name);
  checkIndices(ind, n, count, name);
  std::vector<int> map(size_t(count), 0);
  for (int64_t k = 0; k < n; ++k) {
    if (map[size_t(ind[k])] < 0) raise(kErrInvalid, "%s %d appears twice in argument '%s'", what, ind[k], name);
    map[size_t(ind[k])] = -1;
  }
  int next = 0;
  for (int &m : map)
    if (m == 0) m = next++;
  return map;
}

void compactNames(ko_prob_struct *p, int kind, const std::vector<int> &map) {
  NameSpace &ns = p->names[kind];
  compact(ns.names, map);
  rebuildNameIndex(ns, kind);
}

void setEntry(std::vector<Entry> &v, int index, double value) {
  auto it = std::lower_bound(v.begin(), v.end(), index, [](const Entry &e, int i) { return e.index < i; });
  const bool present = it != v.end() && it->index == index;
  if (value == 0.0) {
    if (present) v.erase(it);
  } else if (present) {
    it->value = value;
  } else {
    v.insert(it, {index, value});
  }
}

void checkTypes(const char *v, int64_t n, const char *allowed, const char *name) {
  // one bit per ASCII letter, in registers: cheap on every call
  uint64_t low = 0, high = 0;
  for (const char *c = allowed; *c; ++c) (*c < 64 ? low : high) |= uint64_t(1) << (*c & 63);
  auto ok = [&](unsigned char c) { return c < 128 && ((c < 64 ? low : high) >> (c & 63) & 1); };
  for (int64_t k = 0; k < n; ++k)
    if (!ok(static_cast<unsigned char>(v[k])))
      raise(kErrInvalid, "entry %lld of argument '%s' is '%c', expected one of %s", (long long)k, name,
            v[k] >= 32 && v[k] < 127 ? v[k] : '?', allowed);
}

namespace {

void requireCount(int64_t n, const char *name) {
  if (n < 0) raise(kErrInvalid, "argument '%s' is negative (%lld)", name, (long long)n);
}

void requireRoom(const ko_prob_struct *p, int64_t more) {
  if (int64_t(p->rows.size()) + int64_t(p->cols.size()) + more > INT32_MAX)
    raise(kErrInvalid, "the problem would have more than 2147483647 rows and columns together");
}

// Grows the per-row vectors that are in use.
template <class T>
void growUsed(std::vector<T> &v, size_t n) {
  if (!v.empty()) v.resize(n);
}

void growRowData(ko_prob_struct *p) {
  const size_t n = p->rows.size();
  growUsed(p->qrows, n);
  growUsed(p->indicators, n);
  growUsed(p->modelcut, n);
  growUsed(p->delayed, n);
  growUsed(p->rowscale, n);
}

void addRows(ko_prob_struct *p, int nrows, int64_t ncoefs, const char *rowtype, int64_t rowtype_n, const double *rhs,
             int64_t rhs_n, const double *rng, int64_t rng_n, const int64_t *start, int64_t start_n, const int *colind,
             int64_t colind_n, const double *rowcoef, int64_t rowcoef_n) {
  requireCount(nrows, "nrows");
  requireCount(ncoefs, "ncoefs");
  checkExact(rowtype, rowtype_n, nrows, "rowtype");
  checkExact(rhs, rhs_n, nrows, "rhs");
  checkOptional(rng, rng_n, nrows, "rng");
  checkTypes(rowtype, nrows, "LGERN", "rowtype");
  checkFinite(rhs, nrows, "rhs");
  checkNotNaN(rng, rng_n, "rng");
  checkExact(colind, colind_n, ncoefs, "colind");
  checkExact(rowcoef, rowcoef_n, ncoefs, "rowcoef");
  const ItemStarts st = itemStarts(start, start_n, nrows, ncoefs, "start");
  checkIndices(colind, ncoefs, int64_t(p->cols.size()), "colind");
  checkFinite(rowcoef, ncoefs, "rowcoef");
  requireRoom(p, nrows);

  const size_t old = p->rows.size();
  try {
    p->rows.resize(old + size_t(nrows));
    for (int r = 0; r < nrows; ++r) {
      Row &row = p->rows[old + size_t(r)];
      row.type = rowtype[r];
      row.rhs = rhs[r];
      if (rng_n && row.type == 'R') setRowRange(*p, old + size_t(r), rng[r]);
    }
    if (!p->matrix.appendRows(int(old), nrows, st.start, st.end, colind, rowcoef))
      raise(kErrInvalid, "arguments 'start' and 'colind' changed while they were read");
    growRowData(p);
  } catch (...) {
    p->matrix.dropTailRows(int(old));
    p->rows.resize(old);
    if (p->rowrange.size() > old) p->rowrange.resize(old);
    throw;
  }
}

void addCols(ko_prob_struct *p, int ncols, int64_t ncoefs, const double *objcoef, int64_t objcoef_n,
             const int64_t *start, int64_t start_n, const int *rowind, int64_t rowind_n, const double *rowcoef,
             int64_t rowcoef_n, const double *lb, int64_t lb_n, const double *ub, int64_t ub_n) {
  requireCount(ncols, "ncols");
  requireCount(ncoefs, "ncoefs");
  checkOptional(objcoef, objcoef_n, ncols, "objcoef");
  checkOptional(lb, lb_n, ncols, "lb");
  checkOptional(ub, ub_n, ncols, "ub");
  checkFinite(objcoef, objcoef_n, "objcoef");
  checkNotNaN(lb, lb_n, "lb");
  checkNotNaN(ub, ub_n, "ub");
  checkExact(rowind, rowind_n, ncoefs, "rowind");
  checkExact(rowcoef, rowcoef_n, ncoefs, "rowcoef");
  const ItemStarts st = itemStarts(start, start_n, ncols, ncoefs, "start");
  checkIndices(rowind, ncoefs, int64_t(p->rows.size()), "rowind");
  checkFinite(rowcoef, ncoefs, "rowcoef");
  requireRoom(p, ncols);

  for (int j = 0; j < ncols; ++j) {
    if (lb_n && lb[j] >= kInf) raise(kErrInvalid, "entry %d of argument 'lb' is +infinity", j);
    if (ub_n && ub[j] <= -kInf) raise(kErrInvalid, "entry %d of argument 'ub' is -infinity", j);
  }
  // appended in place, growing geometrically also when added a few at a time
  const size_t old = p->cols.size();
  if (p->cols.capacity() < old + size_t(ncols)) p->cols.reserve(std::max(old + size_t(ncols), 2 * p->cols.capacity()));
  std::vector<Entry> e;
  try {
    p->cols.resize(old + size_t(ncols));
    for (int j = 0; j < ncols; ++j) {
      Column &c = p->cols[old + size_t(j)];
      if (objcoef_n) c.cost = objcoef[j];
      if (lb_n) c.lb = lb[j];
      if (ub_n) c.ub = ub[j];
    }
    if (ncoefs == 0) p->matrix.appendEmptyColumns(ncols);
    for (int j = 0; ncoefs > 0 && j < ncols; ++j) {
      e.clear();
      for (int64_t k = st[size_t(j)]; k < st[size_t(j) + 1]; ++k) e.push_back({rowind[k], rowcoef[k]});
      sortEntries(e);
      p->matrix.appendColumn(e.data(), e.size());
    }
    if (!p->colscale.empty()) p->colscale.resize(p->cols.size());
  } catch (...) {
    p->cols.resize(old);
    p->matrix.resize(int(old));
    throw;
  }
}

void addSets(ko_prob_struct *p, int nsets, int64_t nelems, const char *settype, int64_t settype_n,
             const int64_t *start, int64_t start_n, const int *colind, int64_t colind_n, const double *refval,
             int64_t refval_n) {
  requireCount(nsets, "nsets");
  requireCount(nelems, "nelems");
  checkExact(settype, settype_n, nsets, "settype");
  checkTypes(settype, nsets, "12", "settype");
  checkExact(colind, colind_n, nelems, "colind");
  checkExact(refval, refval_n, nelems, "refval");
  const ItemStarts st = itemStarts(start, start_n, nsets, nelems, "start");
  checkIndices(colind, nelems, int64_t(p->cols.size()), "colind");
  checkFinite(refval, nelems, "refval");
  if (int64_t(p->sets.size()) + nsets > INT32_MAX) raise(kErrInvalid, "the problem would have too many sets");
  std::vector<Set> fresh(static_cast<size_t>(nsets));
  for (int k = 0; k < nsets; ++k) {
    Set &s = fresh[size_t(k)];
    s.type = settype[k];
    if (st[size_t(k)] == st[size_t(k) + 1]) raise(kErrInvalid, "new set %d has no members", k);
    std::unordered_set<int> cols;
    std::unordered_set<double> weights;
    for (int64_t m = st[size_t(k)]; m < st[size_t(k) + 1]; ++m) {
      if (!cols.insert(colind[m]).second) raise(kErrInvalid, "new set %d holds column %d twice", k, colind[m]);
      if (!weights.insert(refval[m]).second)
        raise(kErrInvalid, "new set %d holds the reference value %g twice", k, refval[m]);
      s.cols.push_back(colind[m]);
      s.weights.push_back(refval[m]);
    }
  }
  appendAll(p->sets, fresh);
}

// Renumbers columns of a list through map; returns false when one is deleted.
bool renumber(int &col, const std::vector<int> &map) {
  col = map[size_t(col)];
  return col >= 0;
}

void renumberTerms(std::vector<QTerm> &terms, const std::vector<int> &map) {
  size_t out = 0;
  for (QTerm t : terms)
    if (renumber(t.i, map) && renumber(t.j, map)) terms[out++] = t;
  terms.resize(out);
}

void renumberEntries(std::vector<Entry> &v, const std::vector<int> &map) {
  size_t out = 0;
  for (Entry e : v)
    if (renumber(e.index, map)) v[out++] = e;
  v.resize(out);
}

void delRows(ko_prob_struct *p, int n, const int *rowind, int64_t rowind_n) {
  const std::vector<int> map = deletionMap(rowind, n, rowind_n, int64_t(p->rows.size()), "rowind", "row");
  if (n == 0) return;
  p->matrix.renumberRows(map);
  compact(p->rows, map);
  compact(p->rowrange, map);
  compact(p->qrows, map);
  compact(p->indicators, map);
  compact(p->modelcut, map);
  compact(p->delayed, map);
  compact(p->rowscale, map);
  compact(p->securerow, map);
  compactNames(p, 1, map);
  nlOnDeleteRows(p, map);
}

// A column that a piecewise-linear or general constraint uses cannot be deleted.
void refuseUsedColumns(const ko_prob_struct *p, const std::vector<int> &map) {
  auto deleted = [&](int c) { return map[size_t(c)] < 0; };
  for (size_t k = 0; k < p->pwls.size(); ++k) {
    const PwlCons &w = p->pwls[k];
    for (int c : {w.col, w.resultant})
      if (deleted(c))
        raise(kErrInvalid, "column %d is used by piecewise-linear constraint %zu ('%s'); delete the constraint first", c,
              k, objectName(*p, 4, int64_t(k)).c_str());
  }
  for (size_t k = 0; k < p->gencons.size(); ++k) {
    const GenCons &g = p->gencons[k];
    if (deleted(g.resultant) || std::any_of(g.cols.begin(), g.cols.end(), deleted))
      raise(kErrInvalid, "a column to delete is used by general constraint %zu ('%s'); delete the constraint first", k,
            objectName(*p, 5, int64_t(k)).c_str());
  }
}

void delCols(ko_prob_struct *p, int n, const int *colind, int64_t colind_n) {
  const std::vector<int> map = deletionMap(colind, n, colind_n, int64_t(p->cols.size()), "colind", "column");
  if (n == 0) return;
  refuseUsedColumns(p, map);
  nlOnDeleteCols(p, map);   // refuses columns that formulas use, before any change
  compact(p->cols, map);
  compact(p->collimit, map);
  p->matrix.compactColumns(map);
  compact(p->colscale, map);
  compact(p->securecol, map);
  for (Set &s : p->sets) {
    size_t out = 0;
    for (size_t m = 0; m < s.cols.size(); ++m) {
      int c = s.cols[m];
      if (!renumber(c, map)) continue;
      s.cols[out] = c;
      s.weights[out++] = s.weights[m];
    }
    s.cols.resize(out);
    s.weights.resize(out);
  }
  renumberTerms(p->qobj, map);
  for (auto &q : p->qrows) renumberTerms(q, map);
  for (Objective &o : p->objectives) renumberEntries(o.coefs, map);
  for (Indicator &ind : p->indicators)
    if (ind.complement != 0 && !renumber(ind.col, map)) ind = Indicator();
  for (PwlCons &w : p->pwls) {
    renumber(w.col, map);
    renumber(w.resultant, map);
  }
  for (GenCons &g : p->gencons) {
    renumber(g.resultant, map);
    for (int &c : g.cols) renumber(c, map);
  }
  renumberDirectiveColumns(p, map);
  compactNames(p, 2, map);
}

void delSets(ko_prob_struct *p, int n, const int *setind, int64_t setind_n) {
  const std::vector<int> map = deletionMap(setind, n, setind_n, int64_t(p->sets.size()), "setind", "set");
  if (n == 0) return;
  compact(p->sets, map);
  renumberDirectiveSets(p, map);
  compactNames(p, 3, map);
}

// Indicator columns and the columns of and/or constraints must stay binary.
void refuseNonBinary(const ko_prob_struct *p, int n, const int *colind, const char *coltype) {
  if (p->indicators.empty() && p->gencons.empty()) return;
  std::vector<char> binary(p->cols.size());
  for (size_t j = 0; j < p->cols.size(); ++j) binary[j] = p->cols[j].type == 'B';
  for (int k = 0; k < n; ++k) binary[size_t(colind[k])] = coltype[k] == 'B';
  for (size_t i = 0; i < p->indicators.size(); ++i) {
    const Indicator &ind = p->indicators[i];
    if (ind.complement != 0 && !binary[size_t(ind.col)])
      raise(kErrInvalid, "column %d is the binary of the indicator of row %zu and must stay binary", ind.col, i);
  }
  for (size_t k = 0; k < p->gencons.size(); ++k) {
    const GenCons &g = p->gencons[k];
    if (g.type != 2 && g.type != 3) continue;
    for (int c : g.cols)
      if (!binary[size_t(c)] || !binary[size_t(g.resultant)])
        raise(kErrInvalid, "general constraint %zu ('%s', %s) needs its columns binary", k,
              objectName(*p, 5, int64_t(k)).c_str(), g.type == 2 ? "and" : "or");
  }
}

void chgColType(ko_prob_struct *p, int n, const int *colind, int64_t colind_n, const char *coltype,
                int64_t coltype_n) {
  checkExact(colind, colind_n, n, "colind");
  checkExact(coltype, coltype_n, n, "coltype");
  checkIndices(colind, n, int64_t(p->cols.size()), "colind");
  checkTypes(coltype, n, "CBISRP", "coltype");
  refuseNonBinary(p, n, colind, coltype);
  for (int k = 0; k < n; ++k) {
    Column &c = p->cols[size_t(colind[k])];
    c.type = coltype[k];
    if (c.type == 'B') {
      c.lb = std::max(c.lb, 0.0);
      c.ub = std::min(c.ub, 1.0);
    }
  }
}

// Plain forms: the counts the other arguments give.
int64_t sizeIf(const void *ptr, int64_t n) { return ptr ? n : 0; }

std::vector<int64_t> wideStarts(const int *start, int n) {
  std::vector<int64_t> v;
  if (start && n > 0) v.assign(start, start + n);
  return v;
}

void checkPlainCounts(int a, int b, const char *na, const char *nb) {
  requireCount(a, na);
  requireCount(b, nb);
}

// Index lists of the plain changers: n >= 0 and the arrays present.
void checkList(int n, std::initializer_list<std::pair<const void *, const char *>> arrays) {
  requireCount(n, "n");
  for (const auto &a : arrays)
    if (n > 0 && !a.first) raise(kErrInvalid, "argument '%s' is NULL", a.second);
}

// Copies item values first..last into out (a getter over a range).
template <class Item, class T, class F>
void getRange(const std::vector<Item> &items, T *out, int first, int last, const char *what, F value) {
  const int64_t len = checkRange(first, last, int64_t(items.size()), what);
  if (len > 0 && !out) raise(kErrInvalid, "the output array is NULL");
  for (int64_t k = 0; k < len; ++k) out[k] = value(items[size_t(first + k)]);
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXaddrows64_witharraysizes(KRVXprob prob, int nrows, int64_t ncoefs, const char *rowtype,
    int64_t rowtype_n, const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n, const int64_t *start,
    int64_t start_n, const int *colind, int64_t colind_n, const double *rowcoef, int64_t rowcoef_n) {
  return changeInPlace(prob, "KRVXaddrows", [&](PendingChanges &) {
    addRows(prob, nrows, ncoefs, rowtype, rowtype_n, rhs, rhs_n, rng, rng_n, start, start_n, colind, colind_n, rowcoef,
            rowcoef_n);
  });
}

extern "C" KRVX_API int KRVXaddcols64_witharraysizes(KRVXprob prob, int ncols, int64_t ncoefs, const double *objcoef,
    int64_t objcoef_n, const int64_t *start, int64_t start_n, const int *rowind, int64_t rowind_n,
    const double *rowcoef, int64_t rowcoef_n, const double *lb, int64_t lb_n, const double *ub, int64_t ub_n) {
  return changeInPlace(prob, "KRVXaddcols", [&](PendingChanges &) {
    addCols(prob, ncols, ncoefs, objcoef, objcoef_n, start, start_n, rowind, rowind_n, rowcoef, rowcoef_n, lb, lb_n,
            ub, ub_n);
  });
}

extern "C" KRVX_API int KRVXaddsets64_witharraysizes(KRVXprob prob, int nsets, int64_t nelems, const char *settype,
    int64_t settype_n, const int64_t *start, int64_t start_n, const int *colind, int64_t colind_n,
    const double *refval, int64_t refval_n) {
  return change(prob, "KRVXaddsets", [&] {
    addSets(prob, nsets, nelems, settype, settype_n, start, start_n, colind, colind_n, refval, refval_n);
  });
}

extern "C" KRVX_API int KRVXaddrows(KRVXprob prob, int nrows, int ncoefs, const char *rowtype, const double *rhs,
                                    const double *rng, const int *start, const int *colind, const double *rowcoef) {
  return changeInPlace(prob, "KRVXaddrows", [&](PendingChanges &) {
    checkPlainCounts(nrows, ncoefs, "nrows", "ncoefs");
    const std::vector<int64_t> st = wideStarts(start, nrows);
    addRows(prob, nrows, ncoefs, rowtype, sizeIf(rowtype, nrows), rhs, sizeIf(rhs, nrows), rng, sizeIf(rng, nrows),
            st.data(), int64_t(st.size()), colind, sizeIf(colind, ncoefs), rowcoef, sizeIf(rowcoef, ncoefs));
  });
}

extern "C" KRVX_API int KRVXaddcols(KRVXprob prob, int ncols, int ncoefs, const double *objcoef, const int *start,
                                    const int *rowind, const double *rowcoef, const double *lb, const double *ub) {
  return changeInPlace(prob, "KRVXaddcols", [&](PendingChanges &) {
    checkPlainCounts(ncols, ncoefs, "ncols", "ncoefs");
    const std::vector<int64_t> st = wideStarts(start, ncols);
    addCols(prob, ncols, ncoefs, objcoef, sizeIf(objcoef, ncols), st.data(), int64_t(st.size()), rowind,
            sizeIf(rowind, ncoefs), rowcoef, sizeIf(rowcoef, ncoefs), lb, sizeIf(lb, ncols), ub, sizeIf(ub, ncols));
  });
}

extern "C" KRVX_API int KRVXdelrows_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n) {
  return change(prob, "KRVXdelrows", [&] { delRows(prob, n, rowind, rowind_n); });
}

extern "C" KRVX_API int KRVXdelcols_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n) {
  return change(prob, "KRVXdelcols", [&] { delCols(prob, n, colind, colind_n); });
}

extern "C" KRVX_API int KRVXdelsets_witharraysizes(KRVXprob prob, int n, const int *setind, int64_t setind_n) {
  return change(prob, "KRVXdelsets", [&] { delSets(prob, n, setind, setind_n); });
}

extern "C" KRVX_API int KRVXchgcoltype_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
                                                      const char *coltype, int64_t coltype_n) {
  return change(prob, "KRVXchgcoltype", [&] { chgColType(prob, n, colind, colind_n, coltype, coltype_n); });
}

extern "C" KRVX_API int KRVXchgcoltype(KRVXprob prob, int n, const int *colind, const char *coltype) {
  return change(prob, "KRVXchgcoltype", [&] {
    checkList(n, {{colind, "colind"}, {coltype, "coltype"}});
    chgColType(prob, n, colind, n, coltype, n);
  });
}

extern "C" KRVX_API int KRVXchgbounds(KRVXprob prob, int n, const int *colind, const char *bndtype,
                                      const double *bndval) {
  return changeInPlace(prob, "KRVXchgbounds", [&](PendingChanges &pending) {
    checkList(n, {{colind, "colind"}, {bndtype, "bndtype"}, {bndval, "bndval"}});
    checkIndices(colind, n, int64_t(prob->cols.size()), "colind");
    checkTypes(bndtype, n, "ULB", "bndtype");
    checkNotNaN(bndval, n, "bndval");
    for (int k = 0; k < n; ++k) {
      if (bndtype[k] != 'U' && bndval[k] >= kInf) raise(kErrInvalid, "entry %d of argument 'bndval': a lower bound of +infinity", k);
      if (bndtype[k] != 'L' && bndval[k] <= -kInf) raise(kErrInvalid, "entry %d of argument 'bndval': an upper bound of -infinity", k);
    }
    for (int k = 0; k < n; ++k) {
      Column &c = prob->cols[size_t(colind[k])];
      if (bndtype[k] != 'U') c.lb = bndval[k];
      if (bndtype[k] != 'L') c.ub = bndval[k];
      pending.cols.push_back(colind[k]);
    }
  });
}

static void chgCoefs(ko_prob_struct *p, int n, const int *rowind, const int *colind, const double *coef,
                     PendingChanges &pending) {
  checkList(n, {{rowind, "rowind"}, {colind, "colind"}, {coef, "coef"}});
  checkIndices(rowind, n, int64_t(p->rows.size()), "rowind");
  checkIndices(colind, n, int64_t(p->cols.size()), "colind");
  checkFinite(coef, n, "coef");
  for (int k = 0; k < n; ++k) {
    setEntry(p->matrix.entries(colind[k]), rowind[k], coef[k]);
    pending.coefs.emplace_back(rowind[k], colind[k]);
  }
}

extern "C" KRVX_API int KRVXchgmcoef(KRVXprob prob, int n, const int *rowind, const int *colind, const double *coef) {
  return changeInPlace(prob, "KRVXchgmcoef", [&](PendingChanges &pending) {
    chgCoefs(prob, n, rowind, colind, coef, pending);
  });
}

extern "C" KRVX_API int KRVXchgcoef(KRVXprob prob, int row, int col, double coef) {
  return changeInPlace(prob, "KRVXchgcoef", [&](PendingChanges &pending) {
    chgCoefs(prob, 1, &row, &col, &coef, pending);
  });
}

extern "C" KRVX_API int KRVXchgobj(KRVXprob prob, int n, const int *colind, const double *objcoef) {
  return changeInPlace(prob, "KRVXchgobj", [&](PendingChanges &pending) {
    checkList(n, {{colind, "colind"}, {objcoef, "objcoef"}});
    for (int k = 0; k < n; ++k)
      if (colind[k] < -1 || colind[k] >= int64_t(prob->cols.size()))
        raise(kErrInvalid, "entry %d of argument 'colind' is %d, outside -1..%lld", k, colind[k],
              (long long)prob->cols.size() - 1);
    checkFinite(objcoef, n, "objcoef");
    for (int k = 0; k < n; ++k) {
      (colind[k] < 0 ? prob->objconst : prob->cols[size_t(colind[k])].cost) = objcoef[k];
      if (colind[k] < 0) pending.offset = true;
      else pending.cols.push_back(colind[k]);
    }
  });
}

extern "C" KRVX_API int KRVXchgrhs(KRVXprob prob, int n, const int *rowind, const double *rhs) {
  return changeInPlace(prob, "KRVXchgrhs", [&](PendingChanges &pending) {
    checkList(n, {{rowind, "rowind"}, {rhs, "rhs"}});
    checkIndices(rowind, n, int64_t(prob->rows.size()), "rowind");
    checkFinite(rhs, n, "rhs");
    for (int k = 0; k < n; ++k) prob->rows[size_t(rowind[k])].rhs = rhs[k];
    pending.rows.insert(pending.rows.end(), rowind, rowind + n);
  });
}

extern "C" KRVX_API int KRVXchgrhsrange(KRVXprob prob, int n, const int *rowind, const double *rng) {
  return changeInPlace(prob, "KRVXchgrhsrange", [&](PendingChanges &pending) {
    checkList(n, {{rowind, "rowind"}, {rng, "rng"}});
    checkIndices(rowind, n, int64_t(prob->rows.size()), "rowind");
    checkNotNaN(rng, n, "rng");
    for (int k = 0; k < n; ++k)
      if (prob->rows[size_t(rowind[k])].type != 'R')
        raise(kErrInvalid, "row %d is not a range row (type R); change its type first", rowind[k]);
    for (int k = 0; k < n; ++k) setRowRange(*prob, size_t(rowind[k]), rng[k]);
    pending.rows.insert(pending.rows.end(), rowind, rowind + n);
  });
}

extern "C" KRVX_API int KRVXchgrowtype(KRVXprob prob, int n, const int *rowind, const char *rowtype) {
  return changeInPlace(prob, "KRVXchgrowtype", [&](PendingChanges &pending) {
    checkList(n, {{rowind, "rowind"}, {rowtype, "rowtype"}});
    checkIndices(rowind, n, int64_t(prob->rows.size()), "rowind");
    checkTypes(rowtype, n, "LGERN", "rowtype");
    for (int k = 0; k < n; ++k) {
      const int i = rowind[k];
      if (rowtype[k] != 'L' && rowtype[k] != 'G' && rowtype[k] != 'E' && size_t(i) < prob->indicators.size() &&
          prob->indicators[size_t(i)].complement != 0)
        raise(kErrInvalid, "row %d is an indicator constraint and must stay of type L, G or E", i);
    }
    for (int k = 0; k < n; ++k) prob->rows[size_t(rowind[k])].type = rowtype[k];
    pending.rows.insert(pending.rows.end(), rowind, rowind + n);
  });
}

extern "C" KRVX_API int KRVXgetlb(KRVXprob prob, double *lb, int first, int last) {
  return guard(prob, "KRVXgetlb", [&] {
    getRange(prob->cols, lb, first, last, "columns", [](const Column &c) { return c.lb; });
  });
}

extern "C" KRVX_API int KRVXgetub(KRVXprob prob, double *ub, int first, int last) {
  return guard(prob, "KRVXgetub", [&] {
    getRange(prob->cols, ub, first, last, "columns", [](const Column &c) { return c.ub; });
  });
}

extern "C" KRVX_API int KRVXgetobj(KRVXprob prob, double *objcoef, int first, int last) {
  return guard(prob, "KRVXgetobj", [&] {
    getRange(prob->cols, objcoef, first, last, "columns", [](const Column &c) { return c.cost; });
  });
}

extern "C" KRVX_API int KRVXgetcoltype(KRVXprob prob, char *coltype, int first, int last) {
  return guard(prob, "KRVXgetcoltype", [&] {
    getRange(prob->cols, coltype, first, last, "columns", [](const Column &c) { return c.type; });
  });
}

extern "C" KRVX_API int KRVXgetrowtype(KRVXprob prob, char *rowtype, int first, int last) {
  return guard(prob, "KRVXgetrowtype", [&] {
    getRange(prob->rows, rowtype, first, last, "rows", [](const Row &r) { return r.type; });
  });
}

extern "C" KRVX_API int KRVXgetrhs(KRVXprob prob, double *rhs, int first, int last) {
  return guard(prob, "KRVXgetrhs", [&] {
    getRange(prob->rows, rhs, first, last, "rows", [](const Row &r) { return r.rhs; });
  });
}

extern "C" KRVX_API int KRVXgetrhsrange(KRVXprob prob, double *rng, int first, int last) {
  return guard(prob, "KRVXgetrhsrange", [&] {
    getRange(prob->rows, rng, first, last, "rows",
             [&](const Row &r) { return r.type == 'R' ? rowRange(*prob, size_t(&r - prob->rows.data())) : 0.0; });
  });
}
