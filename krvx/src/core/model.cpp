// Whole-model operations: validation, replacement and copy of the store.
#include "nl/nl.h"
#include "core/model.h"
#include "core/directives.h"

#include "core/call_guard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace krvx {

// The model fields, listed once for copy and replacement.
#define KRVX_MODEL_FIELDS(X) \
  X(name) X(objsense) X(objconst) X(rows) X(cols) X(rowrange) X(collimit) X(matrix) X(qobj) X(qrows) X(sets) X(objectives) X(indicators) \
  X(pwls) X(gencons) X(modelcut) X(delayed) X(rowscale) X(colscale) X(securerow) X(securecol) X(nlrows) \
  X(nlobj) X(nlstatus) X(dirs) X(branchfixed)

int64_t nameCount(const ko_prob_struct &p, int kind) {
  switch (kind) {
    case 1: return int64_t(p.rows.size());
    case 2: return int64_t(p.cols.size());
    case 3: return int64_t(p.sets.size());
    case 4: return int64_t(p.pwls.size());
    case 5: return int64_t(p.gencons.size());
    case 6: return 1 + int64_t(p.objectives.size());
    default: raise(kErrInvalid, "unknown namespace %d (1 rows, 2 columns, 3 sets, 4 pwl, 5 gencons, 6 objectives)", kind);
  }
}

std::string defaultName(int kind, int64_t i) {
  static const char *const prefix[7] = {"", "R", "C", "S", "P", "G", "O"};
  return prefix[kind] + std::to_string(i + 1);
}

std::string objectName(const ko_prob_struct &p, int kind, int64_t i) {
  const NameSpace &ns = p.names[kind];
  if (size_t(i) < ns.names.size() && !ns.names[size_t(i)].empty()) return ns.names[size_t(i)];
  return defaultName(kind, i);
}

void normalizeTerms(std::vector<QTerm> &terms) {
  for (QTerm &t : terms)
    if (t.i > t.j) std::swap(t.i, t.j);
  std::sort(terms.begin(), terms.end(),
            [](const QTerm &a, const QTerm &b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
  size_t out = 0;
  for (size_t k = 0; k < terms.size();) {
    QTerm t = terms[k++];
    while (k < terms.size() && terms[k].i == t.i && terms[k].j == t.j) t.value += terms[k++].value;
    if (t.value != 0.0) terms[out++] = t;
  }
  terms.resize(out);
}

void rebuildNameIndex(NameSpace &ns, int kind) {
  static const char *const what[7] = {"", "row", "column", "set", "piecewise-linear constraint",
                                      "general constraint", "objective"};
  std::unordered_map<std::string, int> index;
  index.reserve(ns.names.size());
  for (size_t i = 0; i < ns.names.size(); ++i) {
    const std::string &n = ns.names[i];
    if (n.empty()) continue;
    auto r = index.emplace(n, int(i));
    if (!r.second)
      raise(kErrInvalid, "%s name '%.100s' is used twice (%d and %zu)", what[kind], n.c_str(), r.first->second, i);
  }
  ns.index.swap(index);
}

namespace {

bool finite(double v) { return !std::isnan(v) && !isInf(v); }

void checkTerms(const std::vector<QTerm> &terms, int64_t ncols, const char *where) {
  for (const QTerm &t : terms) {
    if (t.i < 0 || t.j < 0 || t.i >= ncols || t.j >= ncols)
      raise(kErrInvalid, "%s: quadratic term (%d, %d) names a column outside 0..%lld", where, t.i, t.j,
            (long long)ncols - 1);
    if (!finite(t.value)) raise(kErrInvalid, "%s: quadratic coefficient of (%d, %d) is not finite", where, t.i, t.j);
  }
}

void checkCol(int c, int64_t ncols, const char *what, size_t k) {
  if (c < 0 || c >= ncols) raise(kErrInvalid, "%s %zu refers to column %d, outside 0..%lld", what, k, c, (long long)ncols - 1);
}

void checkMarks(size_t n, size_t nrows, const char *what) {
  if (n != 0 && n != nrows) raise(kErrInvalid, "%s has %zu entries for %zu rows", what, n, nrows);
}

// Whether c is one of the letters (not the terminating zero).
bool oneOf(char c, const char *letters) {
  for (; *letters; ++letters)
    if (c == *letters) return true;
  return false;
}

// A column's rows increasing inside 0..nrows-1, its values finite.
void validateColumn(const ColumnView &col, size_t j, int64_t nrows) {
  int last = -1;
  for (size_t k = 0; k < col.size(); ++k) {
    const Entry e = col[k];
    if (e.index <= last || e.index >= nrows)
      raise(kErrInvalid, "column %zu has a coefficient in row %d (rows must be increasing inside 0..%lld)", j, e.index,
            (long long)nrows - 1);
    if (!finite(e.value)) raise(kErrInvalid, "coefficient of column %zu in row %d is not finite", j, e.index);
    last = e.index;
  }
}

// The rows, the columns and the matrix checked without branches: true when validateStore's
// look item by item (which names the first fault) would find nothing.
bool plainlyValid(const ko_prob_struct &s) {
  bool rowtype[256] = {}, coltype[256] = {};
  for (const char *c = "LGERN"; *c; ++c) rowtype[static_cast<unsigned char>(*c)] = true;
  for (const char *c = "CBISRP"; *c; ++c) coltype[static_cast<unsigned char>(*c)] = true;
  bool ok = true;
  for (const Row &r : s.rows) ok &= rowtype[static_cast<unsigned char>(r.type)] & (std::fabs(r.rhs) < kInf);
  for (double v : s.rowrange) ok &= !std::isnan(v);
  for (const Column &c : s.cols)
    ok &= coltype[static_cast<unsigned char>(c.type)] & (std::fabs(c.cost) < kInf) & (c.lb < kInf) & (c.ub > -kInf);
  for (double v : s.collimit) ok &= std::fabs(v) < kInf;
  const int64_t nrows = int64_t(s.rows.size());
  for (int j = 0; j < s.matrix.ncols(); ++j) {
    const ColumnView col = s.matrix.col(j);
    int last = -1;
    for (size_t k = 0; k < col.size(); ++k) {
      const Entry e = col[k];
      ok &= (e.index > last) & (e.index < nrows) & (std::fabs(e.value) < kInf);
      last = e.index;
    }
  }
  return ok;
}

}  // namespace

void validateStore(const ko_prob_struct &s) {
  const int64_t nrows = int64_t(s.rows.size()), ncols = int64_t(s.cols.size());
  if (nrows > INT32_MAX || ncols > INT32_MAX || nrows + ncols > INT32_MAX)
    raise(kErrInvalid, "too many rows and columns (%lld and %lld)", (long long)nrows, (long long)ncols);
  if (s.name.size() > KRVX_MAXPROBNAMELENGTH)
    raise(kErrInvalid, "problem name is longer than %d bytes", KRVX_MAXPROBNAMELENGTH);
  if (s.objsense != 1 && s.objsense != -1) raise(kErrInvalid, "objective sense %d is not 1 or -1", s.objsense);
  if (!finite(s.objconst)) raise(kErrInvalid, "objective constant is not finite");
  if (s.matrix.ncols() != ncols)
    raise(kErrInvalid, "the matrix has %d columns for %lld columns", s.matrix.ncols(), (long long)ncols);
  if (s.rowrange.size() > s.rows.size() || s.collimit.size() > s.cols.size())
    raise(kErrInvalid, "%zu row ranges and %zu column limits for %zu rows and %zu columns", s.rowrange.size(),
          s.collimit.size(), s.rows.size(), s.cols.size());
  const bool plain = plainlyValid(s);
  for (size_t i = 0; i < s.rows.size() && !plain; ++i) {
    const Row &r = s.rows[i];
    if (!oneOf(r.type, "LGERN")) raise(kErrInvalid, "row %zu has type %d, expected L, G, E, R or N", i, r.type);
    if (!finite(r.rhs)) raise(kErrInvalid, "right-hand side of row %zu is not finite", i);
    if (std::isnan(rowRange(s, i))) raise(kErrInvalid, "range of row %zu is NaN", i);
  }
  for (size_t j = 0; j < s.cols.size() && !plain; ++j) {
    const Column &c = s.cols[j];
    if (!oneOf(c.type, "CBISRP")) raise(kErrInvalid, "column %zu has type %d, expected C, B, I, S, R or P", j, c.type);
    if (!finite(c.cost)) raise(kErrInvalid, "objective coefficient of column %zu is not finite", j);
    if (std::isnan(c.lb) || std::isnan(c.ub)) raise(kErrInvalid, "bound of column %zu is NaN", j);
    if (c.lb >= kInf) raise(kErrInvalid, "lower bound of column %zu is +infinity", j);
    if (c.ub <= -kInf) raise(kErrInvalid, "upper bound of column %zu is -infinity", j);
    if (!finite(colLimit(s, j))) raise(kErrInvalid, "limit of column %zu is not finite", j);
    validateColumn(s.matrix.col(int(j)), j, nrows);
  }
  checkTerms(s.qobj, ncols, "objective");
  checkMarks(s.qrows.size(), s.rows.size(), "quadratic rows");
  for (const auto &q : s.qrows) checkTerms(q, ncols, "quadratic row");
  for (size_t k = 0; k < s.sets.size(); ++k) {
    const Set &st = s.sets[k];
    if (st.type != '1' && st.type != '2') raise(kErrInvalid, "set %zu has type %d, expected '1' or '2'", k, st.type);
    if (st.cols.size() != st.weights.size())
      raise(kErrInvalid, "set %zu has %zu columns but %zu weights", k, st.cols.size(), st.weights.size());
    for (size_t m = 0; m < st.cols.size(); ++m) {
      checkCol(st.cols[m], ncols, "set", k);
      if (!finite(st.weights[m])) raise(kErrInvalid, "set %zu has a weight that is not finite", k);
    }
  }
  for (size_t k = 0; k < s.objectives.size(); ++k)
    for (const Entry &e : s.objectives[k].coefs) {
      checkCol(e.index, ncols, "objective", k + 1);
      if (!finite(e.value)) raise(kErrInvalid, "objective %zu has a coefficient that is not finite", k + 1);
    }
  checkMarks(s.indicators.size(), s.rows.size(), "indicators");
  for (size_t i = 0; i < s.indicators.size(); ++i) {
    const Indicator &ind = s.indicators[i];
    if (ind.complement < -1 || ind.complement > 1) raise(kErrInvalid, "indicator of row %zu has complement %d", i, ind.complement);
    if (ind.complement != 0) checkCol(ind.col, ncols, "indicator of row", i);
  }
  for (size_t k = 0; k < s.pwls.size(); ++k) {
    const PwlCons &w = s.pwls[k];
    checkCol(w.col, ncols, "piecewise-linear constraint", k);
    checkCol(w.resultant, ncols, "piecewise-linear constraint", k);
    if (w.x.size() != w.y.size()) raise(kErrInvalid, "piecewise-linear constraint %zu has %zu x and %zu y values", k, w.x.size(), w.y.size());
    for (size_t m = 0; m < w.x.size(); ++m)
      if (!finite(w.x[m]) || !finite(w.y[m])) raise(kErrInvalid, "piecewise-linear constraint %zu has a point that is not finite", k);
  }
  for (size_t k = 0; k < s.gencons.size(); ++k) {
    const GenCons &g = s.gencons[k];
    if (g.type < 0 || g.type > 4) raise(kErrInvalid, "general constraint %zu has type %d, expected 0..4", k, g.type);
    checkCol(g.resultant, ncols, "general constraint", k);
    for (int c : g.cols) checkCol(c, ncols, "general constraint", k);
    for (double v : g.vals)
      if (!finite(v)) raise(kErrInvalid, "general constraint %zu has a value that is not finite", k);
  }
  checkMarks(s.modelcut.size(), s.rows.size(), "model-cut marks");
  checkMarks(s.delayed.size(), s.rows.size(), "delayed-row marks");
  checkMarks(s.rowscale.size(), s.rows.size(), "row scaling");
  if (s.colscale.size() != 0 && s.colscale.size() != s.cols.size())
    raise(kErrInvalid, "column scaling has %zu entries for %zu columns", s.colscale.size(), s.cols.size());
  nlValidateStore(s);
  validateDirectives(s);
  for (int kind = 1; kind <= 6; ++kind)
    if (int64_t(s.names[kind].names.size()) > nameCount(s, kind))
      raise(kErrInvalid, "namespace %d has %zu names for %lld objects", kind, s.names[kind].names.size(),
            (long long)nameCount(s, kind));
}

void loadStore(ko_prob_struct *p, ko_prob_struct &&fresh) {
  requireIdle(p);
  validateStore(fresh);
  for (int kind = 1; kind <= 6; ++kind) rebuildNameIndex(fresh.names[kind], kind);
#define KRVX_MOVE(f) p->f = std::move(fresh.f);
  KRVX_MODEL_FIELDS(KRVX_MOVE)
#undef KRVX_MOVE
  for (int kind = 0; kind <= 6; ++kind) p->names[kind] = std::move(fresh.names[kind]);
  nlOnReplace(p);
  invalidate(p);
}

void copyStore(ko_prob_struct &dst, const ko_prob_struct &src) {
#define KRVX_COPY(f) dst.f = src.f;
  KRVX_MODEL_FIELDS(KRVX_COPY)
#undef KRVX_COPY
  for (int kind = 0; kind <= 6; ++kind) dst.names[kind] = src.names[kind];
  dst.controls = src.controls;
  dst.tunermethod = src.tunermethod;
  dst.outputlog.store(src.outputlog.load());
  dst.sol = src.sol;
  dst.highs_stale = true;
}

std::string modelSummary(const ko_prob_struct &p) {
  const int64_t elems = p.matrix.nnz();
  int64_t entities = 0, qrows = 0;
  for (const Column &c : p.cols) entities += c.type != 'C';
  for (const auto &q : p.qrows) qrows += !q.empty();
  char buf[400];
  std::snprintf(buf, sizeof buf, "%zu rows, %zu columns, %lld elements", p.rows.size(), p.cols.size(),
                (long long)elems);
  std::string s = "Problem '" + p.name.substr(0, 200) + "': " + buf;
  auto part = [&](int64_t n, const char *what) {
    if (n > 0) s += ", " + std::to_string(n) + " " + what;
  };
  part(int64_t(p.qobj.size()), "objective quadratic terms");
  part(qrows, "quadratic rows");
  part(entities, "entities");
  part(int64_t(p.sets.size()), "sets");
  return s;
}

// The results of the last solve and what depends on them go.
static void dropResults(ko_prob_struct *p) {
  leavePresolved(p);
  p->sol = Solution();
  p->iis.reset();
  p->diag = SolveDiagnostics();
  p->pivotorder.clear();
}

void invalidate(ko_prob_struct *p) {
  dropResults(p);
  p->highs_stale = true;
  p->pending.clear();
}

void notePending(ko_prob_struct *p, const PendingChanges &noted, int ncols, int nrows) {
  dropResults(p);
  if (p->highs_stale) return;   // lowered anew anyway
  PendingChanges &c = p->pending;
  if (!c.any()) {
    c.ncols = ncols;
    c.nrows = nrows;
  }
  c.cols.insert(c.cols.end(), noted.cols.begin(), noted.cols.end());
  c.rows.insert(c.rows.end(), noted.rows.begin(), noted.rows.end());
  c.coefs.insert(c.coefs.end(), noted.coefs.begin(), noted.coefs.end());
  c.sense = c.sense || noted.sense;
  c.offset = c.offset || noted.offset;
  // many changes are taken faster by lowering anew
  if (c.cols.size() + c.rows.size() + c.coefs.size() > 2 * (p->cols.size() + p->rows.size()) + 64) invalidate(p);
}

}  // namespace krvx
