// The loader family: one routine checks every array against its count, builds a fresh store and
// swaps it in; a refused load leaves the old problem as it was. The arrays may be buffers the
// caller shares (the module passes NumPy arrays as they are): the build reads each offset and index
// it addresses memory with once and checks that value, and the finished store is validated as a
// whole (validateStore) before it replaces the old one, so a buffer changed meanwhile cannot put a
// bad value into the store.
#include "core/beside.h"
#include "core/call_guard.h"
#include "core/model.h"
#include "core/modify.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <unordered_set>

namespace krvx {
namespace {

template <class T>
struct In {
  const T *p;
  int64_t n;
};

struct LoadArgs {
  const char *probname;
  int ncols, nrows;
  In<char> rowtype;
  In<double> rhs, rng, objcoef;
  In<int64_t> start;
  In<int> collen, rowind;
  In<double> rowcoef, lb, ub;
  int64_t nobjqcoefs = 0;
  In<int> objqcol1{}, objqcol2{};
  In<double> objqcoef{};
  int nqrows = 0;
  In<int> qrowind{};
  In<int64_t> nrowqcoefs{};
  In<int> rowqcol1{}, rowqcol2{};
  In<double> rowqcoef{};
  int nentities = 0, nsets = 0;
  In<char> coltype{};
  In<int> entind{};
  In<double> limit{};
  In<char> settype{};
  In<int64_t> setstart{};
  In<int> setind{};
  In<double> refval{};
};

// A value that passed its check but differs when read again: the buffer changed during the call.
[[noreturn]] void changedEntry(int64_t i, const char *name) {
  raise(kErrInvalid, "entry %lld of argument '%s' changed while it was being read", (long long)i, name);
}

int indexAt(const int *p, int64_t i, int64_t count, const char *name) {
  const int v = p[i];
  if (v < 0 || v >= count) changedEntry(i, name);
  return v;
}

void requireSameLength(int64_t a, int64_t b, const char *na, const char *nb) {
  if (a != b) raise(kErrInvalid, "arguments '%s' and '%s' have %lld and %lld entries", na, nb, (long long)a, (long long)b);
}

void requireNonNegative(int64_t v, const char *name) {
  if (v < 0) raise(kErrInvalid, "argument '%s' is negative (%lld)", name, (long long)v);
}

// Offsets of a start array: >= 0, non-decreasing, the last equal to the element count.
void checkStarts(const int64_t *start, int64_t n, int64_t nelem, const char *name, const char *elems) {
  checkOffsets(start, n, nelem, name);
  if (n > 0 && start[n - 1] != nelem)
    raise(kErrInvalid, "argument '%s' ends at %lld but '%s' has %lld entries", name, (long long)start[n - 1], elems,
          (long long)nelem);
}

void buildRows(const LoadArgs &a, ko_prob_struct &s) {
  requireNonNegative(a.nrows, "nrows");
  if (a.nrows > 0 && a.rowtype.n == 0) raise(kErrInvalid, "argument 'rowtype' is required when nrows is %d", a.nrows);
  checkExact(a.rowtype.p, a.rowtype.n, a.nrows, "rowtype");
  checkOptional(a.rhs.p, a.rhs.n, a.nrows, "rhs");
  checkOptional(a.rng.p, a.rng.n, a.nrows, "rng");
  checkFinite(a.rhs.p, a.rhs.n, "rhs");
  checkNotNaN(a.rng.p, a.rng.n, "rng");
  checkTypes(a.rowtype.p, a.rowtype.n, "LEGRN", "rowtype");
  s.rows.reserve(size_t(a.nrows));   // each row written once
  for (int i = 0; i < a.nrows; ++i) {
    Row r;
    r.type = a.rowtype.p[i];
    if (a.rhs.n) r.rhs = a.rhs.p[i];
    s.rows.push_back(r);
    if (a.rng.n && r.type == 'R') setRowRange(s, size_t(i), a.rng.p[i]);
  }
}

void buildColumns(const LoadArgs &a, ko_prob_struct &s) {
  requireNonNegative(a.ncols, "ncols");
  checkOptional(a.objcoef.p, a.objcoef.n, a.ncols, "objcoef");
  checkOptional(a.lb.p, a.lb.n, a.ncols, "lb");
  checkOptional(a.ub.p, a.ub.n, a.ncols, "ub");
  checkFinite(a.objcoef.p, a.objcoef.n, "objcoef");
  checkNotNaN(a.lb.p, a.lb.n, "lb");
  checkNotNaN(a.ub.p, a.ub.n, "ub");
  s.cols.reserve(size_t(a.ncols));   // each column written once
  for (int j = 0; j < a.ncols; ++j) {
    Column c;
    if (a.objcoef.n) c.cost = a.objcoef.p[j];
    if (a.lb.n) c.lb = a.lb.p[j];
    if (a.ub.n) c.ub = a.ub.p[j];
    if (c.lb >= kInf) raise(kErrInvalid, "entry %d of argument 'lb' is +infinity", j);
    if (c.ub <= -kInf) raise(kErrInvalid, "entry %d of argument 'ub' is -infinity", j);
    s.cols.push_back(c);
  }
}

void buildMatrix(const LoadArgs &a, ko_prob_struct &s) {
  checkPair(a.start.p, a.start.n, "start");
  checkPair(a.collen.p, a.collen.n, "collen");
  checkPair(a.rowind.p, a.rowind.n, "rowind");
  checkPair(a.rowcoef.p, a.rowcoef.n, "rowcoef");
  requireSameLength(a.rowind.n, a.rowcoef.n, "rowind", "rowcoef");
  const int64_t nelem = a.rowind.n;
  checkIndices(a.rowind.p, nelem, a.nrows, "rowind");
  checkFinite(a.rowcoef.p, nelem, "rowcoef");
  const int64_t ncols = a.ncols;
  if (a.collen.n > 0) {
    checkExact(a.collen.p, a.collen.n, ncols, "collen");
    if (a.start.n != ncols && a.start.n != ncols + 1)
      raise(kErrInvalid, "argument 'start' has %lld entries, expected %lld with 'collen'", (long long)a.start.n,
            (long long)ncols);
    for (int64_t j = 0; j < ncols; ++j) {
      int64_t st = a.start.p[j], len = a.collen.p[j];
      if (st < 0 || st > nelem)
        raise(kErrInvalid, "entry %lld of argument 'start' is %lld, outside 0..%lld", (long long)j, (long long)st,
              (long long)nelem);
      if (len < 0 || len > nelem - st)
        raise(kErrInvalid, "entry %lld of argument 'collen' is %lld; column %lld would end beyond the %lld entries of 'rowind'",
              (long long)j, (long long)len, (long long)j, (long long)nelem);
    }
  } else if (a.start.n == 0) {
    if (nelem > 0) raise(kErrInvalid, "argument 'start' is required when 'rowind' has entries");
    s.matrix.beginPacked(a.ncols, 0);
    s.matrix.resize(a.ncols);
    return;
  } else {
    if (a.start.n != ncols + 1)
      raise(kErrInvalid, "argument 'start' has %lld entries, expected %lld (ncols+1) without 'collen'",
            (long long)a.start.n, (long long)ncols + 1);
    checkStarts(a.start.p, a.start.n, nelem, "start", "rowind");
  }
  // every offset read once and checked again before it is used
  int64_t total = 0;   // entries the columns address (counted up to just beyond kMaxPacked)
  if (a.collen.n > 0)
    for (int64_t j = 0; j < ncols && total <= ColMatrix::kMaxPacked; ++j) total += a.collen.p[j];
  else
    total = nelem - a.start.p[0];
  int64_t pushed = 0;
  // the packed form holds up to kMaxPacked entries; beyond, each column its own vector
  const bool packed = total >= 0 && total <= ColMatrix::kMaxPacked;
  // columns one after another and canonical: copied at once
  if (packed && a.collen.n == 0 && s.matrix.fillPacked(int(ncols), a.start.p, nelem, a.rowind.p, a.rowcoef.p))
    return;
  if (packed) s.matrix.beginPacked(a.ncols, size_t(total));
  else s.matrix.resize(a.ncols);
  int64_t end = a.collen.n > 0 ? 0 : a.start.p[0];
  if (end < 0 || end > nelem) changedEntry(0, "start");
  for (int64_t j = 0; j < ncols; ++j) {
    int64_t st = end;
    if (a.collen.n > 0) {
      st = a.start.p[j];
      const int64_t len = a.collen.p[j];
      if (st < 0 || st > nelem) changedEntry(j, "start");
      if (len < 0 || len > nelem - st) changedEntry(j, "collen");
      end = st + len;
    } else {
      end = a.start.p[j + 1];
      if (end < st || end > nelem) changedEntry(j + 1, "start");
    }
    if (packed) {
      pushed += end - st;
      if (pushed > total) changedEntry(j, a.collen.n > 0 ? "collen" : "start");
      s.matrix.pushColumn(a.rowind.p + st, a.rowcoef.p + st, size_t(end - st));
    } else {
      std::vector<Entry> &coefs = s.matrix.entries(int(j));
      coefs.reserve(size_t(end - st));
      for (int64_t k = st; k < end; ++k) coefs.push_back({a.rowind.p[k], a.rowcoef.p[k]});
      sortEntries(coefs);
    }
  }
}

void buildQObjective(const LoadArgs &a, ko_prob_struct &s) {
  requireNonNegative(a.nobjqcoefs, "nobjqcoefs");
  checkExact(a.objqcol1.p, a.objqcol1.n, a.nobjqcoefs, "objqcol1");
  checkExact(a.objqcol2.p, a.objqcol2.n, a.nobjqcoefs, "objqcol2");
  checkExact(a.objqcoef.p, a.objqcoef.n, a.nobjqcoefs, "objqcoef");
  checkIndices(a.objqcol1.p, a.nobjqcoefs, a.ncols, "objqcol1");
  checkIndices(a.objqcol2.p, a.nobjqcoefs, a.ncols, "objqcol2");
  checkFinite(a.objqcoef.p, a.nobjqcoefs, "objqcoef");
  s.qobj.reserve(size_t(a.nobjqcoefs));
  for (int64_t k = 0; k < a.nobjqcoefs; ++k)
    s.qobj.push_back({indexAt(a.objqcol1.p, k, a.ncols, "objqcol1"), indexAt(a.objqcol2.p, k, a.ncols, "objqcol2"),
                      a.objqcoef.p[k]});
  normalizeTerms(s.qobj);
}

void buildQRows(const LoadArgs &a, ko_prob_struct &s) {
  requireNonNegative(a.nqrows, "nqrows");
  checkExact(a.qrowind.p, a.qrowind.n, a.nqrows, "qrowind");
  checkExact(a.nrowqcoefs.p, a.nrowqcoefs.n, a.nqrows, "nrowqcoefs");
  checkIndices(a.qrowind.p, a.nqrows, a.nrows, "qrowind");
  checkPair(a.rowqcol1.p, a.rowqcol1.n, "rowqcol1");
  checkPair(a.rowqcol2.p, a.rowqcol2.n, "rowqcol2");
  checkPair(a.rowqcoef.p, a.rowqcoef.n, "rowqcoef");
  const int64_t nterms = a.rowqcol1.n;
  requireSameLength(nterms, a.rowqcol2.n, "rowqcol1", "rowqcol2");
  requireSameLength(nterms, a.rowqcoef.n, "rowqcol1", "rowqcoef");
  int64_t total = 0;
  for (int k = 0; k < a.nqrows; ++k) {
    int64_t m = a.nrowqcoefs.p[k];
    if (m < 0 || m > nterms - total)
      raise(kErrInvalid, "entry %d of argument 'nrowqcoefs' is %lld; the rows would need more than the %lld entries of 'rowqcol1'",
            k, (long long)m, (long long)nterms);
    total += m;
  }
  if (total != nterms)
    raise(kErrInvalid, "argument 'nrowqcoefs' adds up to %lld but 'rowqcol1' has %lld entries", (long long)total,
          (long long)nterms);
  checkIndices(a.rowqcol1.p, nterms, a.ncols, "rowqcol1");
  checkIndices(a.rowqcol2.p, nterms, a.ncols, "rowqcol2");
  checkFinite(a.rowqcoef.p, nterms, "rowqcoef");
  if (a.nqrows == 0) return;
  s.qrows.resize(s.rows.size());
  int64_t pos = 0;
  for (int k = 0; k < a.nqrows; ++k) {
    std::vector<QTerm> &q = s.qrows[size_t(a.qrowind.p[k])];
    for (int64_t m = 0; m < a.nrowqcoefs.p[k]; ++m, ++pos) q.push_back({a.rowqcol1.p[pos], a.rowqcol2.p[pos], a.rowqcoef.p[pos]});
  }
  for (auto &q : s.qrows) normalizeTerms(q);
}

void buildEntities(const LoadArgs &a, ko_prob_struct &s) {
  requireNonNegative(a.nentities, "nentities");
  checkExact(a.coltype.p, a.coltype.n, a.nentities, "coltype");
  checkExact(a.entind.p, a.entind.n, a.nentities, "entind");
  checkOptional(a.limit.p, a.limit.n, a.nentities, "limit");
  checkIndices(a.entind.p, a.nentities, a.ncols, "entind");
  checkFinite(a.limit.p, a.limit.n, "limit");
  checkTypes(a.coltype.p, a.coltype.n, "BIPSR", "coltype");
  std::vector<char> seen(size_t(a.ncols), 0);
  for (int k = 0; k < a.nentities; ++k) {
    const char t = a.coltype.p[k];
    const int j = indexAt(a.entind.p, k, a.ncols, "entind");
    if (seen[size_t(j)]) raise(kErrInvalid, "column %d appears twice in argument 'entind'", j);
    seen[size_t(j)] = 1;
    Column &c = s.cols[size_t(j)];
    c.type = t;
    if (t == 'B') {
      c.lb = std::max(c.lb, 0.0);
      c.ub = std::min(c.ub, 1.0);
    } else if (t != 'I' && a.limit.n) {
      setColLimit(s, size_t(j), a.limit.p[k]);
    }
  }
}

void buildSets(const LoadArgs &a, ko_prob_struct &s) {
  requireNonNegative(a.nsets, "nsets");
  checkExact(a.settype.p, a.settype.n, a.nsets, "settype");
  checkPair(a.setstart.p, a.setstart.n, "setstart");
  checkPair(a.setind.p, a.setind.n, "setind");
  checkPair(a.refval.p, a.refval.n, "refval");
  requireSameLength(a.setind.n, a.refval.n, "setind", "refval");
  const int64_t nelem = a.setind.n;
  if (a.nsets == 0) {
    if (nelem > 0) raise(kErrInvalid, "argument 'setind' has %lld entries but there are no sets", (long long)nelem);
    if (a.setstart.n > 1) raise(kErrInvalid, "argument 'setstart' has %lld entries, expected 1", (long long)a.setstart.n);
    return;
  }
  checkExact(a.setstart.p, a.setstart.n, int64_t(a.nsets) + 1, "setstart");
  checkStarts(a.setstart.p, a.setstart.n, nelem, "setstart", "setind");
  checkIndices(a.setind.p, nelem, a.ncols, "setind");
  checkFinite(a.refval.p, nelem, "refval");
  checkTypes(a.settype.p, a.settype.n, "12", "settype");
  s.sets.resize(size_t(a.nsets));
  for (int k = 0; k < a.nsets; ++k) {
    Set &st = s.sets[size_t(k)];
    st.type = a.settype.p[k];
    std::unordered_set<int> cols;
    std::unordered_set<double> weights;
    for (int64_t m = a.setstart.p[k]; m < a.setstart.p[k + 1]; ++m) {
      if (!cols.insert(a.setind.p[m]).second) raise(kErrInvalid, "set %d holds column %d twice", k, a.setind.p[m]);
      if (!weights.insert(a.refval.p[m]).second)
        raise(kErrInvalid, "set %d holds the reference value %g twice", k, a.refval.p[m]);
      st.cols.push_back(a.setind.p[m]);
      st.weights.push_back(a.refval.p[m]);
    }
  }
}

void load(ko_prob_struct *p, const LoadArgs &a) {
  requireIdle(p);
  if (int64_t(a.nrows) + int64_t(a.ncols) > INT32_MAX)
    raise(kErrInvalid, "%d rows and %d columns are more than 2147483647 together", a.nrows, a.ncols);
  ko_prob_struct fresh;
  fresh.name = checkedString(a.probname, KRVX_MAXPROBNAMELENGTH, "probname");
  // large problems fill the rows and the columns beside the matrix, each on a thread of its own;
  // an error is the one the order rows, columns, matrix meets first
  const bool besides = fillBeside(int64_t(a.nrows) + int64_t(a.ncols));
  Beside rows(besides, [&] { buildRows(a, fresh); });
  Beside cols(besides, [&] { buildColumns(a, fresh); });
  std::exception_ptr matrixError;
  try {
    buildMatrix(a, fresh);
  } catch (...) {
    matrixError = std::current_exception();
  }
  rows.join();
  cols.join();
  if (matrixError) std::rethrow_exception(matrixError);
  buildQObjective(a, fresh);
  buildQRows(a, fresh);
  buildEntities(a, fresh);
  buildSets(a, fresh);
  loadStore(p, std::move(fresh));
}

}  // namespace
}  // namespace krvx

using namespace krvx;

// The arguments all members share, in their order.
#define KRVX_LINEAR_PARAMS                                                                                        \
  KRVXprob prob, const char *probname, int ncols, int nrows, const char *rowtype, int64_t rowtype_n,              \
      const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n, const double *objcoef, int64_t objcoef_n, \
      const int64_t *start, int64_t start_n, const int *collen, int64_t collen_n, const int *rowind,              \
      int64_t rowind_n, const double *rowcoef, int64_t rowcoef_n, const double *lb, int64_t lb_n, const double *ub, \
      int64_t ub_n
#define KRVX_QOBJ_PARAMS                                                                                   \
  int64_t nobjqcoefs, const int *objqcol1, int64_t objqcol1_n, const int *objqcol2, int64_t objqcol2_n, \
      const double *objqcoef, int64_t objqcoef_n
#define KRVX_QROW_PARAMS                                                                                         \
  int nqrows, const int *qrowind, int64_t qrowind_n, const int64_t *nrowqcoefs, int64_t nrowqcoefs_n,          \
      const int *rowqcol1, int64_t rowqcol1_n, const int *rowqcol2, int64_t rowqcol2_n, const double *rowqcoef, \
      int64_t rowqcoef_n
#define KRVX_ENTITY_PARAMS                                                                                         \
  int nentities, int nsets, const char *coltype, int64_t coltype_n, const int *entind, int64_t entind_n,          \
      const double *limit, int64_t limit_n, const char *settype, int64_t settype_n, const int64_t *setstart,      \
      int64_t setstart_n, const int *setind, int64_t setind_n, const double *refval, int64_t refval_n

namespace {

LoadArgs linearArgs(const char *probname, int ncols, int nrows, const char *rowtype, int64_t rowtype_n,
                    const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n, const double *objcoef,
                    int64_t objcoef_n, const int64_t *start, int64_t start_n, const int *collen, int64_t collen_n,
                    const int *rowind, int64_t rowind_n, const double *rowcoef, int64_t rowcoef_n, const double *lb,
                    int64_t lb_n, const double *ub, int64_t ub_n) {
  return LoadArgs{probname, ncols, nrows, {rowtype, rowtype_n}, {rhs, rhs_n}, {rng, rng_n}, {objcoef, objcoef_n},
                  {start, start_n}, {collen, collen_n}, {rowind, rowind_n}, {rowcoef, rowcoef_n}, {lb, lb_n},
                  {ub, ub_n}};
}
#define KRVX_LINEAR_ARGS                                                                                             \
  linearArgs(probname, ncols, nrows, rowtype, rowtype_n, rhs, rhs_n, rng, rng_n, objcoef, objcoef_n, start, start_n, \
             collen, collen_n, rowind, rowind_n, rowcoef, rowcoef_n, lb, lb_n, ub, ub_n)

void setQObj(LoadArgs &a, KRVX_QOBJ_PARAMS) {
  a.nobjqcoefs = nobjqcoefs;
  a.objqcol1 = {objqcol1, objqcol1_n};
  a.objqcol2 = {objqcol2, objqcol2_n};
  a.objqcoef = {objqcoef, objqcoef_n};
}
#define KRVX_QOBJ_ARGS nobjqcoefs, objqcol1, objqcol1_n, objqcol2, objqcol2_n, objqcoef, objqcoef_n

void setQRows(LoadArgs &a, KRVX_QROW_PARAMS) {
  a.nqrows = nqrows;
  a.qrowind = {qrowind, qrowind_n};
  a.nrowqcoefs = {nrowqcoefs, nrowqcoefs_n};
  a.rowqcol1 = {rowqcol1, rowqcol1_n};
  a.rowqcol2 = {rowqcol2, rowqcol2_n};
  a.rowqcoef = {rowqcoef, rowqcoef_n};
}
#define KRVX_QROW_ARGS \
  nqrows, qrowind, qrowind_n, nrowqcoefs, nrowqcoefs_n, rowqcol1, rowqcol1_n, rowqcol2, rowqcol2_n, rowqcoef, rowqcoef_n

void setEntities(LoadArgs &a, KRVX_ENTITY_PARAMS) {
  a.nentities = nentities;
  a.nsets = nsets;
  a.coltype = {coltype, coltype_n};
  a.entind = {entind, entind_n};
  a.limit = {limit, limit_n};
  a.settype = {settype, settype_n};
  a.setstart = {setstart, setstart_n};
  a.setind = {setind, setind_n};
  a.refval = {refval, refval_n};
}
#define KRVX_ENTITY_ARGS                                                                                      \
  nentities, nsets, coltype, coltype_n, entind, entind_n, limit, limit_n, settype, settype_n, setstart, \
      setstart_n, setind, setind_n, refval, refval_n

}  // namespace

// The load under the problem's lock, then its summary message once the lock is released.
static int loadCall(KRVXprob prob, const char *fn, const LoadArgs &a) {
  std::string summary;
  int rc = guard(prob, fn, [&] {
    load(prob, a);
    if (prob->outputlog.load() != 0) summary = modelSummary(*prob);   // made only when it is shown
  });
  if (rc == 0 && !summary.empty()) messageCode(prob, kMsgLoaded, 1, "%s", summary.c_str());
  return rc;
}

extern "C" KRVX_API int KRVXloadlp64_witharraysizes(KRVX_LINEAR_PARAMS) {
  return loadCall(prob, "KRVXloadlp", KRVX_LINEAR_ARGS);
}

extern "C" KRVX_API int KRVXloadqp64_witharraysizes(KRVX_LINEAR_PARAMS, KRVX_QOBJ_PARAMS) {
  LoadArgs a = KRVX_LINEAR_ARGS;
  setQObj(a, KRVX_QOBJ_ARGS);
  return loadCall(prob, "KRVXloadqp", a);
}

extern "C" KRVX_API int KRVXloadmiqp64_witharraysizes(KRVX_LINEAR_PARAMS, KRVX_QOBJ_PARAMS, KRVX_ENTITY_PARAMS) {
  LoadArgs a = KRVX_LINEAR_ARGS;
  setQObj(a, KRVX_QOBJ_ARGS);
  setEntities(a, KRVX_ENTITY_ARGS);
  return loadCall(prob, "KRVXloadmiqp", a);
}

extern "C" KRVX_API int KRVXloadmip64_witharraysizes(KRVX_LINEAR_PARAMS, KRVX_ENTITY_PARAMS) {
  LoadArgs a = KRVX_LINEAR_ARGS;
  setEntities(a, KRVX_ENTITY_ARGS);
  return loadCall(prob, "KRVXloadmip", a);
}

extern "C" KRVX_API int KRVXloadqcqp64_witharraysizes(KRVX_LINEAR_PARAMS, KRVX_QOBJ_PARAMS, KRVX_QROW_PARAMS) {
  LoadArgs a = KRVX_LINEAR_ARGS;
  setQObj(a, KRVX_QOBJ_ARGS);
  setQRows(a, KRVX_QROW_ARGS);
  return loadCall(prob, "KRVXloadqcqp", a);
}

extern "C" KRVX_API int KRVXloadmiqcqp64_witharraysizes(KRVX_LINEAR_PARAMS, KRVX_QOBJ_PARAMS, KRVX_QROW_PARAMS,
                                                        KRVX_ENTITY_PARAMS) {
  LoadArgs a = KRVX_LINEAR_ARGS;
  setQObj(a, KRVX_QOBJ_ARGS);
  setQRows(a, KRVX_QROW_ARGS);
  setEntities(a, KRVX_ENTITY_ARGS);
  return loadCall(prob, "KRVXloadmiqcqp", a);
}
