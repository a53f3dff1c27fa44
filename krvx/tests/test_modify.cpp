// Rows, columns and sets: adders with both start forms, refusals that leave the problem as it
// was, deleters with exact renumbering and their knock-on effects, changers and getters.
#include "testutil.h"
#include "core/store.h"
#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

template <class T>
const T *ptr(const std::vector<T> &v) { return v.empty() ? nullptr : v.data(); }

// 3 rows, 4 columns: row i holds columns i and i+1 with coefficient i+1.
KRVXprob base() {
  KRVXprob p = newProblem();
  std::vector<char> rt{'L', 'G', 'E'};
  std::vector<double> rhs{1, 2, 3};
  std::vector<double> obj{1, 2, 3, 4};
  std::vector<int64_t> start{0, 1, 3, 5, 6};
  std::vector<int> ind{0, 0, 1, 1, 2, 2};
  std::vector<double> val{1, 1, 2, 2, 3, 3};
  if (KRVXloadlp64_witharraysizes(p, "base", 4, 3, rt.data(), 3, rhs.data(), 3, nullptr, 0, obj.data(), 4,
                                  start.data(), 5, nullptr, 0, ind.data(), 6, val.data(), 6, nullptr, 0, nullptr, 0))
    std::fprintf(stderr, "load failed: %s\n", lastError(p).c_str());
  return p;
}

double coef(KRVXprob p, int row, int col) {
  return p->matrix.col(col).at(row);
}

int addRows(KRVXprob p, const std::vector<char> &rt, const std::vector<double> &rhs, const std::vector<int64_t> &start,
            const std::vector<int> &ind, const std::vector<double> &val, const std::vector<double> &rng = {}) {
  return KRVXaddrows64_witharraysizes(p, int(rt.size()), int64_t(val.size()), ptr(rt), rt.size(), ptr(rhs), rhs.size(),
                                      ptr(rng), rng.size(), ptr(start), start.size(), ptr(ind), ind.size(), ptr(val),
                                      val.size());
}

void testAddRows() {
  for (bool plusOne : {false, true}) {
    KRVXprob p = base();
    std::vector<int64_t> start{0, 2};
    if (plusOne) start.push_back(3);
    EXPECT_OK(p, addRows(p, {'R', 'N'}, {5, 0}, start, {0, 3, 2}, {7, 8, 9}, {2, 0}));
    EXPECT(p->rows.size() == 5 && p->rows[3].type == 'R' && krvx::rowRange(*p, 3) == 2 && p->rows[4].type == 'N');
    EXPECT(coef(p, 3, 0) == 7 && coef(p, 3, 3) == 8 && coef(p, 4, 2) == 9 && coef(p, 4, 0) == 0);
    KRVXdestroyprob(p);
  }
  KRVXprob p = base();
  // a repeated column within a row is summed; cancelling to zero leaves no entry
  EXPECT_OK(p, addRows(p, {'L'}, {0}, {0}, {1, 1, 2, 2}, {1, 2, 5, -5}));
  EXPECT(coef(p, 3, 1) == 3 && p->matrix.col(2).back().index == 2);
  const std::string before = snapshot(p);
  EXPECT_FAILS(p, addRows(p, {'L'}, {0}, {0, 2}, {1, 2, 3}, {1, 1, 1}), "ends at 2");
  EXPECT_FAILS(p, addRows(p, {'L', 'L'}, {0, 0}, {0, 2, 1}, {1, 2}, {1, 1}), "outside");
  EXPECT_FAILS(p, addRows(p, {'L', 'L'}, {0, 0}, {0}, {1, 2}, {1, 1}), "expected 2 or 3");
  EXPECT_FAILS(p, addRows(p, {'L'}, {0}, {1}, {1}, {1}), "first item must start at 0");
  EXPECT_FAILS(p, addRows(p, {'L'}, {0}, {}, {1}, {1}), "'start' is required");
  EXPECT_FAILS(p, addRows(p, {'X'}, {0}, {}, {}, {}), "rowtype");
  EXPECT_FAILS(p, addRows(p, {'L'}, {NAN}, {}, {}, {}), "NaN");
  EXPECT_FAILS(p, addRows(p, {'L'}, {1e20}, {}, {}, {}), "infinite");
  EXPECT_FAILS(p, addRows(p, {'L'}, {0}, {0}, {4}, {1}), "colind");
  EXPECT_FAILS(p, addRows(p, {'L'}, {0}, {0}, {0}, {NAN}), "NaN");
  EXPECT_FAILS(p, addRows(p, {'L'}, {}, {}, {}, {}), "rhs");
  EXPECT_FAILS(p, KRVXaddrows64_witharraysizes(p, 0, 1, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                              (const double[]){1.0}, 1),
              "colind");
  EXPECT(snapshot(p) == before);
  // the plain form: start has one entry per row
  const char rt[] = {'G', 'L'};
  const double rhs[] = {1, 2}, val[] = {4, 5, 6};
  const int st[] = {0, 1}, ind[] = {3, 0, 1};
  EXPECT_OK(p, KRVXaddrows(p, 2, 3, rt, rhs, nullptr, st, ind, val));
  EXPECT(p->rows.size() == 6 && coef(p, 4, 3) == 4 && coef(p, 5, 0) == 5 && coef(p, 5, 1) == 6);
  KRVXdestroyprob(p);
}

void testAddColsAndSets() {
  KRVXprob p = base();
  EXPECT_OK(p, KRVXaddcols64_witharraysizes(p, 0, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                           nullptr, 0));
  EXPECT(p->cols.size() == 4);
  std::vector<double> obj{5, 6}, lb{-1, 0}, ub{1, 1e20}, val{1, 2, 3};
  std::vector<int> rows{2, 0, 1};
  for (int64_t n : {2, 3}) {
    std::vector<int64_t> start{0, 2, 3};
    start.resize(size_t(n));
    EXPECT_OK(p, KRVXaddcols64_witharraysizes(p, 2, 3, obj.data(), 2, start.data(), n, rows.data(), 3, val.data(), 3,
                                             lb.data(), 2, ub.data(), 2));
  }
  EXPECT(p->cols.size() == 8 && p->cols[4].cost == 5 && p->cols[4].lb == -1 && p->cols[5].ub == 1e20);
  EXPECT(p->matrix.col(4).size() == 2 && p->matrix.col(4)[0].index == 0 && p->matrix.col(4)[1].index == 2);
  EXPECT(p->cols[6].type == 'C');
  // defaults
  EXPECT_OK(p, KRVXaddcols(p, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT(p->cols[8].cost == 0 && p->cols[8].lb == 0 && p->cols[8].ub == 1e20);
  const std::string before = snapshot(p);
  std::vector<int64_t> bad{0, 4};
  EXPECT_FAILS(p, KRVXaddcols64_witharraysizes(p, 2, 3, nullptr, 0, bad.data(), 2, rows.data(), 3, val.data(), 3,
                                              nullptr, 0, nullptr, 0),
              "start");
  std::vector<double> inf{1e20, 0};
  EXPECT_FAILS(p, KRVXaddcols64_witharraysizes(p, 2, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, inf.data(), 2,
                                              nullptr, 0),
              "+infinity");
  EXPECT_FAILS(p, KRVXaddcols64_witharraysizes(p, 2, 0, obj.data(), 1, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                              nullptr, 0),
              "objcoef");
  EXPECT(snapshot(p) == before);

  std::vector<char> st{'1', '2'};
  std::vector<int64_t> ss{0, 2};
  std::vector<int> sc{0, 1, 2, 3};
  std::vector<double> sw{1, 2, 1, 2};
  EXPECT_OK(p, KRVXaddsets64_witharraysizes(p, 2, 4, st.data(), 2, ss.data(), 2, sc.data(), 4, sw.data(), 4));
  EXPECT(p->sets.size() == 2 && p->sets[1].type == '2' && p->sets[1].cols == std::vector<int>({2, 3}));
  std::vector<double> dup{1, 1, 1, 2};
  EXPECT_FAILS(p, KRVXaddsets64_witharraysizes(p, 2, 4, st.data(), 2, ss.data(), 2, sc.data(), 4, dup.data(), 4),
              "reference value 1 twice");
  std::vector<char> bt{'3', '1'};
  EXPECT_FAILS(p, KRVXaddsets64_witharraysizes(p, 2, 4, bt.data(), 2, ss.data(), 2, sc.data(), 4, sw.data(), 4),
              "settype");
  std::vector<int64_t> emptyfirst{0, 0};
  EXPECT_FAILS(p, KRVXaddsets64_witharraysizes(p, 2, 2, st.data(), 2, emptyfirst.data(), 2, sc.data(), 2, sw.data(), 2),
              "new set 0 has no members");
  EXPECT_FAILS(p, KRVXaddsets64_witharraysizes(p, 1, 0, st.data(), 1, ss.data(), 1, nullptr, 0, nullptr, 0),
              "new set 0 has no members");
  EXPECT(p->sets.size() == 2);
  KRVXdestroyprob(p);
}

void testDeleteRows() {
  KRVXprob p = base();
  EXPECT_OK(p, addRows(p, {'L', 'G'}, {4, 5}, {0, 1}, {3, 0}, {1, 1}));   // rows 3, 4
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 1, "a\0b\0c\0d\0e", 10, 5, 0, 4));
  int ind[] = {3, 1};
  int ic[] = {0}, cm[] = {1};
  char bt = 'B';
  EXPECT_OK(p, KRVXchgcoltype(p, 1, ic, &bt));
  int irow = 4;
  EXPECT_OK(p, KRVXsetindicators_witharraysizes(p, 1, &irow, 1, ic, 1, cm, 1));
  int q1[] = {0}, q2[] = {1};
  double qv[] = {2};
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, 2, 1, q1, 1, q2, 1, qv, 1));
  EXPECT_OK(p, KRVXloadmodelcuts_witharraysizes(p, 1, &irow, 1));
  const std::string before = snapshot(p);
  int dup[] = {2, 2}, out[] = {0, 5}, neg[] = {-1};
  EXPECT_FAILS(p, KRVXdelrows_witharraysizes(p, 2, dup, 2), "twice");
  EXPECT_FAILS(p, KRVXdelrows_witharraysizes(p, 2, out, 2), "outside");
  EXPECT_FAILS(p, KRVXdelrows_witharraysizes(p, 1, neg, 1), "outside");
  EXPECT_FAILS(p, KRVXdelrows_witharraysizes(p, 2, ind, 1), "rowind");
  EXPECT(snapshot(p) == before);
  EXPECT_OK(p, KRVXdelrows_witharraysizes(p, 2, ind, 2));
  // old rows 0, 2, 4 are now 0, 1, 2
  EXPECT(p->rows.size() == 3 && p->rows[1].type == 'E' && p->rows[2].type == 'G' && p->rows[2].rhs == 5);
  EXPECT(coef(p, 1, 2) == 3 && coef(p, 2, 0) == 1 && coef(p, 0, 0) == 1 && p->matrix.col(1).size() == 1);
  char names[32];
  int64_t nb = 0;
  EXPECT_OK(p, KRVXgetnames(p, 1, nullptr, 0, &nb, 0, 2));
  EXPECT_OK(p, KRVXgetnames(p, 1, names, nb, &nb, 0, 2));
  EXPECT(nb == 6 && std::memcmp(names, "a\0c\0e", 6) == 0);
  int idx = -5;
  EXPECT(KRVXgetindex(p, 1, "e", &idx) == 0 && idx == 2);
  EXPECT(p->indicators.size() == 3 && p->indicators[2].complement == 1 && p->indicators[2].col == 0);
  EXPECT(p->qrows.size() == 3 && p->qrows[1].size() == 1 && p->qrows[2].empty());
  EXPECT(p->modelcut.size() == 3 && p->modelcut[2] == 1 && p->modelcut[0] == 0);
  // a large deletion renumbers exactly (every other row of 20000)
  KRVXprob big = newProblem();
  std::vector<char> rt(20000, 'L');
  std::vector<double> rhs(20000);
  for (int i = 0; i < 20000; ++i) rhs[size_t(i)] = i;
  EXPECT_OK(big, KRVXaddcols(big, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_OK(big, KRVXaddrows(big, 20000, 0, rt.data(), rhs.data(), nullptr, nullptr, nullptr, nullptr));
  std::vector<int> del;
  for (int i = 19999; i >= 0; i -= 2) del.push_back(i);
  EXPECT_OK(big, KRVXdelrows_witharraysizes(big, int(del.size()), del.data(), int64_t(del.size())));
  bool exact = big->rows.size() == 10000;
  for (size_t i = 0; exact && i < big->rows.size(); ++i) exact = big->rows[i].rhs == double(2 * i);
  EXPECT(exact);
  KRVXdestroyprob(big);
  KRVXdestroyprob(p);
}

void testDeleteCols() {
  KRVXprob p = base();
  char types[] = {'B', 'B', 'B', 'B'};
  int all[] = {0, 1, 2, 3};
  EXPECT_OK(p, KRVXchgcoltype(p, 4, all, types));
  std::vector<char> st{'1'};
  std::vector<int64_t> ss{0};
  std::vector<int> sc{0, 1, 3};
  std::vector<double> sw{1, 2, 3};
  EXPECT_OK(p, KRVXaddsets64_witharraysizes(p, 1, 3, st.data(), 1, ss.data(), 1, sc.data(), 3, sw.data(), 3));
  int q1[] = {0, 1, 3}, q2[] = {3, 1, 3};
  double qv[] = {1, 2, 3};
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, -1, 3, q1, 3, q2, 3, qv, 3));
  int oc[] = {1, 3};
  double ov[] = {5, 6};
  EXPECT_OK(p, KRVXaddobj_witharraysizes(p, 2, oc, 2, ov, 2, 1, 1.0));
  int rows[] = {0, 1}, icol[] = {1, 3}, comp[] = {1, -1};
  EXPECT_OK(p, KRVXsetindicators_witharraysizes(p, 2, rows, 2, icol, 2, comp, 2));
  std::vector<int> pc{2}, pr{3};
  std::vector<int64_t> ps{0};
  std::vector<double> px{0, 1}, py{0, 2};
  EXPECT_OK(p, KRVXaddpwlcons64_witharraysizes(p, 1, 2, pc.data(), 1, pr.data(), 1, ps.data(), 1, px.data(), 2,
                                              py.data(), 2));
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 2, "w\0x\0y\0z", 8, 4, 0, 3));
  const std::string before = snapshot(p);
  int used[] = {3};
  EXPECT_FAILS(p, KRVXdelcols_witharraysizes(p, 1, used, 1), "piecewise-linear constraint 0");
  int dup[] = {1, 1};
  EXPECT_FAILS(p, KRVXdelcols_witharraysizes(p, 2, dup, 2), "twice");
  EXPECT(snapshot(p) == before);
  int d[] = {1};
  EXPECT_OK(p, KRVXdelcols_witharraysizes(p, 1, d, 1));
  EXPECT(p->cols.size() == 3 && p->cols[1].cost == 3 && p->cols[2].cost == 4);
  EXPECT(p->sets[0].cols == std::vector<int>({0, 2}) && p->sets[0].weights == std::vector<double>({1, 3}));
  EXPECT(p->qobj.size() == 2 && p->qobj[0].i == 0 && p->qobj[0].j == 2 && p->qobj[1].i == 2 && p->qobj[1].value == 3);
  EXPECT(p->objectives[0].coefs.size() == 1 && p->objectives[0].coefs[0].index == 2);
  EXPECT(p->indicators[0].complement == 0 && p->indicators[1].col == 2 && p->indicators[1].complement == -1);
  EXPECT(p->pwls[0].col == 1 && p->pwls[0].resultant == 2);
  int idx = -1;
  EXPECT(KRVXgetindex(p, 2, "z", &idx) == 0 && idx == 2);
  EXPECT(KRVXgetindex(p, 2, "x", &idx) == 0 && idx == -1);
  // sets keep their numbering when they lose all columns
  int d2[] = {0, 2};
  int pwl0 = 0;
  EXPECT_OK(p, KRVXdelpwlcons_witharraysizes(p, 1, &pwl0, 1));
  EXPECT_OK(p, KRVXdelcols_witharraysizes(p, 2, d2, 2));
  EXPECT(p->sets.size() == 1 && p->sets[0].cols.empty() && p->indicators[1].complement == 0);
  int s0 = 0;
  EXPECT_OK(p, KRVXdelsets_witharraysizes(p, 1, &s0, 1));
  EXPECT(p->sets.empty());
  KRVXdestroyprob(p);
}

void testChangersAndGetters() {
  KRVXprob p = base();
  int c[] = {0, 1, 2};
  char t[] = {'B', 'S', 'I'};
  double lbs[] = {-5};
  char L = 'L';
  EXPECT_OK(p, KRVXchgbounds(p, 1, c, &L, lbs));
  EXPECT_OK(p, KRVXchgcoltype(p, 3, c, t));
  EXPECT(p->cols[0].lb == 0 && p->cols[0].ub == 1);
  char bt[] = {'U', 'B'};
  double bv[] = {7, 2};
  int bc[] = {1, 2};
  EXPECT_OK(p, KRVXchgbounds(p, 2, bc, bt, bv));
  double lb[4], ub[4];
  char ct[4];
  EXPECT_OK(p, KRVXgetlb(p, lb, 0, 3));
  EXPECT_OK(p, KRVXgetub(p, ub, 1, 2));
  EXPECT_OK(p, KRVXgetcoltype(p, ct, 0, 3));
  EXPECT(lb[2] == 2 && ub[0] == 7 && ub[1] == 2 && std::memcmp(ct, "BSIC", 4) == 0);
  EXPECT_OK(p, KRVXgetlb(p, nullptr, 2, 1));
  EXPECT_FAILS(p, KRVXgetlb(p, lb, 2, 4), "range 2..4");
  double nan = NAN;
  EXPECT_FAILS(p, KRVXchgbounds(p, 1, c, &L, &nan), "NaN");
  char X = 'X';
  EXPECT_FAILS(p, KRVXchgcoltype(p, 1, c, &X), "coltype");
  EXPECT_OK(p, KRVXchgcoef(p, 0, 3, 9));
  EXPECT_OK(p, KRVXchgcoef(p, 0, 0, 0));
  EXPECT(coef(p, 0, 3) == 9 && coef(p, 0, 0) == 0 && p->matrix.col(0).empty());
  int oc[] = {-1, 3};
  double ov[] = {10, -4};
  EXPECT_OK(p, KRVXchgobj(p, 2, oc, ov));
  double obj[4];
  EXPECT_OK(p, KRVXgetobj(p, obj, 0, 3));
  EXPECT(p->objconst == 10 && obj[3] == -4 && obj[0] == 1);
  int r[] = {2};
  char R = 'R';
  double rng = 3, rhs = 8;
  EXPECT_FAILS(p, KRVXchgrhsrange(p, 1, r, &rng), "not a range row");
  EXPECT_OK(p, KRVXchgrowtype(p, 1, r, &R));
  EXPECT_OK(p, KRVXchgrhsrange(p, 1, r, &rng));
  EXPECT_OK(p, KRVXchgrhs(p, 1, r, &rhs));
  char rt[3];
  double rh[3], rr[3];
  EXPECT_OK(p, KRVXgetrowtype(p, rt, 0, 2));
  EXPECT_OK(p, KRVXgetrhs(p, rh, 0, 2));
  EXPECT_OK(p, KRVXgetrhsrange(p, rr, 0, 2));
  EXPECT(std::memcmp(rt, "LGR", 3) == 0 && rh[2] == 8 && rr[2] == 3 && rr[0] == 0);
  KRVXdestroyprob(p);
}

// Row ranges and column limits as they should be: per row its type and range (kept while the
// type is not R), per column its type and limit.
struct SideRef {
  std::vector<char> rowtype, coltype;
  std::vector<double> rhs, range, limit;
};

// The store, its getters and its lowering agree with the reference.
void expectSide(KRVXprob p, const SideRef &r, unsigned seed, const char *after) {
  bool same = p->rows.size() == r.range.size() && p->cols.size() == r.limit.size() &&
              p->rowrange.size() <= p->rows.size() && p->collimit.size() <= p->cols.size();
  for (size_t i = 0; same && i < r.range.size(); ++i) {
    double got = -1;
    EXPECT_OK(p, KRVXgetrhsrange(p, &got, int(i), int(i)));
    same = p->rows[i].type == r.rowtype[i] && krvx::rowRange(*p, i) == r.range[i] &&
           got == (r.rowtype[i] == 'R' ? r.range[i] : 0.0);
  }
  for (size_t j = 0; same && j < r.limit.size(); ++j)
    same = p->cols[j].type == r.coltype[j] && krvx::colLimit(*p, j) == r.limit[j];
  // the lowered model: range rows span [rhs - |range|, rhs], semi-continuous columns start at the limit
  if (same && KRVXlowerforbenchmark(p) == 0 && p->highs) {
    const HighsInt m = HighsInt(r.range.size()), n = HighsInt(r.limit.size());
    const size_t rows = r.range.size(), cols = r.limit.size();
    std::vector<double> lo(rows), up(rows), cost(cols), clo(cols), cup(cols);
    std::vector<HighsInt> start(std::max(rows, cols) + 1);
    HighsInt got = 0, nz = 0;
    if (m > 0) Highs_getRowsByRange(p->highs, 0, m - 1, &got, lo.data(), up.data(), &nz, start.data(), nullptr, nullptr);
    if (n > 0)
      Highs_getColsByRange(p->highs, 0, n - 1, &got, cost.data(), clo.data(), cup.data(), &nz, start.data(), nullptr,
                           nullptr);
    for (size_t i = 0; same && i < r.range.size(); ++i)
      if (r.rowtype[i] == 'R') same = lo[i] == r.rhs[i] - std::fabs(r.range[i]) && up[i] == r.rhs[i];
    for (size_t j = 0; same && j < r.limit.size(); ++j)
      if (r.coltype[j] == 'S' && r.limit[j] != 0.0) same = clo[j] == r.limit[j];
  }
  if (!same) std::fprintf(stderr, "seed %u: ranges or limits differ after %s\n", seed, after);
  EXPECT(same);
}

// Random loads, adds, deletes, type and value changes, copies and save-restores keep each range
// and limit with its row or column.
void sideValuesFollowTheirItems() {
  const std::string file = "krvx_side_" + std::to_string(::getpid());
  const double values[] = {0, 0, -2, 1.5, 3, 0.25};
  for (unsigned seed = 1; seed <= 200; ++seed) {
    std::mt19937 g(seed);
    auto pick = [&](int n) { return int(g() % unsigned(n)); };
    auto value = [&] { return values[pick(6)]; };
    auto subset = [&](size_t n) {
      std::vector<int> ind;
      for (int k = 0; k < int(n); ++k)
        if (pick(3) == 0) ind.push_back(k);
      return ind;
    };
    SideRef r;
    // rows of random types with random ranges (kept for R rows only); columns, some of them entities
    auto newRows = [&](int n, bool withRange, std::vector<double> &rng) {
      for (int i = 0; i < n; ++i) {
        r.rowtype.push_back("LGERN"[pick(5)]);
        r.rhs.push_back(pick(9) - 4.0);
        rng.push_back(value());
        r.range.push_back(withRange && r.rowtype.back() == 'R' ? rng.back() : 0.0);
      }
    };
    const int m = pick(6), n = pick(6);
    std::vector<double> rng, limit;
    const bool withRange = pick(2) != 0;
    newRows(m, withRange, rng);
    std::vector<char> enttype;
    std::vector<int> entind;
    for (int j = 0; j < n; ++j) {
      const char t = "CBISRP"[pick(6)];
      r.coltype.push_back(t);
      r.limit.push_back(0.0);
      if (t == 'C') continue;
      enttype.push_back(t), entind.push_back(j), limit.push_back(value());
      if (t != 'B' && t != 'I') r.limit.back() = limit.back();
    }
    const int ne = int(entind.size());
    KRVXprob p = newProblem();
    EXPECT_OK(p, KRVXloadmip64_witharraysizes(
        p, "side", n, m, ptr(r.rowtype), m, ptr(r.rhs), m, withRange ? ptr(rng) : nullptr, withRange ? m : 0, nullptr, 0,
        nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, ne, 0, ptr(enttype), ne, ptr(entind), ne,
        ptr(limit), ne, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
    // nothing stored beside the records while every value is zero
    bool anyRange = false, anyLimit = false;
    for (double v : r.range) anyRange = anyRange || v != 0.0;
    for (double v : r.limit) anyLimit = anyLimit || v != 0.0;
    EXPECT(p->rowrange.empty() == !anyRange && p->collimit.empty() == !anyLimit);
    expectSide(p, r, seed, "load");
    for (int step = 0; step < 10; ++step) {
      const int op = pick(8);
      static const char *const names[] = {"add rows", "add columns", "delete rows", "delete columns",
                                          "column types", "row changes", "copy", "restore"};
      switch (op) {
        case 0: {
          const int k = 1 + pick(3);
          const bool given = pick(2) != 0;
          const size_t first = r.rowtype.size();
          std::vector<double> add;
          newRows(k, given, add);
          EXPECT_OK(p, KRVXaddrows(p, k, 0, r.rowtype.data() + first, r.rhs.data() + first, given ? add.data() : nullptr,
                                   nullptr, nullptr, nullptr));
          break;
        }
        case 1: {
          const int k = 1 + pick(2);
          EXPECT_OK(p, KRVXaddcols(p, k, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
          r.coltype.insert(r.coltype.end(), size_t(k), 'C');
          r.limit.insert(r.limit.end(), size_t(k), 0.0);
          break;
        }
        case 2:
        case 3: {
          const bool rows = op == 2;
          const std::vector<int> del = subset(rows ? r.rowtype.size() : r.coltype.size());
          for (size_t k = del.size(); k > 0; --k) {
            const auto at = size_t(del[k - 1]);
            if (rows) {
              r.rowtype.erase(r.rowtype.begin() + long(at)), r.rhs.erase(r.rhs.begin() + long(at));
              r.range.erase(r.range.begin() + long(at));
            } else {
              r.coltype.erase(r.coltype.begin() + long(at)), r.limit.erase(r.limit.begin() + long(at));
            }
          }
          const int k = int(del.size());
          EXPECT_OK(p, rows ? KRVXdelrows_witharraysizes(p, k, ptr(del), k) : KRVXdelcols_witharraysizes(p, k, ptr(del), k));
          break;
        }
        case 4: {   // new types keep the limits; S, R and P columns then get new ones
          const std::vector<int> cols = subset(r.coltype.size());
          std::vector<char> types;
          std::vector<int> limited;
          std::vector<double> lim;
          for (int j : cols) {
            types.push_back("CBISRP"[pick(6)]);
            r.coltype[size_t(j)] = types.back();
            if (std::string("SRP").find(types.back()) != std::string::npos && pick(2))
              limited.push_back(j), lim.push_back(value()), r.limit[size_t(j)] = lim.back();
          }
          EXPECT_OK(p, KRVXchgcoltype(p, int(cols.size()), ptr(cols), ptr(types)));
          const int k = int(limited.size());
          EXPECT_OK(p, KRVXchgglblimit_witharraysizes(p, k, ptr(limited), k, ptr(lim), k));
          break;
        }
        case 5: {   // ranges of R rows, then types changed: a range stays under another type
          std::vector<int> ranged, rows = subset(r.rowtype.size());
          std::vector<double> rr;
          std::vector<char> types;
          for (size_t i = 0; i < r.rowtype.size(); ++i)
            if (r.rowtype[i] == 'R' && pick(2)) ranged.push_back(int(i)), rr.push_back(value()), r.range[i] = rr.back();
          for (int i : rows) types.push_back("LGERN"[pick(5)]), r.rowtype[size_t(i)] = types.back();
          EXPECT_OK(p, KRVXchgrhsrange(p, int(ranged.size()), ptr(ranged), ptr(rr)));
          EXPECT_OK(p, KRVXchgrowtype(p, int(rows.size()), ptr(rows), ptr(types)));
          break;
        }
        default: {   // a copy, or a save restored into a new problem, goes on in place of p
          KRVXprob q = newProblem();
          if (op == 6) {
            EXPECT_OK(q, KRVXcopyprob(q, p, "copy"));
          } else {
            EXPECT_OK(p, KRVXsaveas(p, file.c_str()));
            EXPECT_OK(q, KRVXrestore(q, file.c_str(), ""));
          }
          KRVXdestroyprob(p);
          p = q;
          break;
        }
      }
      expectSide(p, r, seed, names[op]);
    }
    KRVXdestroyprob(p);
  }
  std::remove((file + ".svf").c_str());
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  testAddRows();
  testAddColsAndSets();
  testDeleteRows();
  testDeleteCols();
  testChangersAndGetters();
  sideValuesFollowTheirItems();
  KRVXfree();
  return finish("test_modify");
}
