// The store's matrix in its two forms: a problem loaded from arrays (packed) and the same problem
// given coefficient by coefficient (loose) read, change, write and solve alike, and both agree
// with a dense reference. Values are small binary fractions, so that sums are exact in any order.
#include "testutil.h"
#include "test_solve_util.h"

#include <algorithm>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Dense = std::vector<std::vector<double>>;   // [row][column]

struct Gen {
  std::mt19937 rng;
  int uni(int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); }
  double value() {
    static const double v[] = {-2, -1, -0.5, 0, 0.5, 1, 1.5, 3};
    return v[rng() % 8];
  }
};

struct Coefs {
  std::vector<int> index;
  std::vector<double> value;
};

// Random entries of `n` items over `range` indices: repeats, zeros and cancelling pairs included.
std::vector<Coefs> randomItems(Gen &g, int n, int range) {
  std::vector<Coefs> items(static_cast<size_t>(n));
  for (Coefs &c : items) {
    const int k = range > 0 ? g.uni(0, 5) : 0;
    for (int e = 0; e < k; ++e) {
      const int i = g.uni(0, range - 1);
      const double v = g.value();
      c.index.push_back(i);
      c.value.push_back(v);
      if (g.uni(0, 5) == 0) c.index.push_back(i), c.value.push_back(-v);
    }
  }
  return items;
}

// Items one after another, as the adding calls take them.
struct Flat {
  std::vector<int> start{0}, index;
  std::vector<double> value;
  int size() const { return int(index.size()); }
};

Flat flatten(const std::vector<Coefs> &items) {
  Flat a;
  for (const Coefs &c : items) {
    a.index.insert(a.index.end(), c.index.begin(), c.index.end());
    a.value.insert(a.value.end(), c.value.begin(), c.value.end());
    a.start.push_back(a.size());
  }
  return a;
}

// The columns as loader arrays: start form with entries before the first column, or collen form
// with the columns in random order and unused entries between them.
struct LoadArrays {
  std::vector<int64_t> start;
  std::vector<int> collen, rowind;
  std::vector<double> rowcoef;
};

LoadArrays loaderArrays(Gen &g, const std::vector<Coefs> &cols, int nrows) {
  LoadArrays a;
  const bool collen = g.uni(0, 1) == 1 && !cols.empty();
  auto junk = [&] {
    for (int k = g.uni(0, 2); k > 0 && nrows > 0; --k) a.rowind.push_back(g.uni(0, nrows - 1)), a.rowcoef.push_back(7);
  };
  std::vector<size_t> order(cols.size());
  for (size_t j = 0; j < order.size(); ++j) order[j] = j;
  if (collen) std::shuffle(order.begin(), order.end(), g.rng);
  a.start.assign(cols.size() + (collen ? 0 : 1), 0);
  if (collen) a.collen.assign(cols.size(), 0);
  junk();
  for (size_t j : order) {
    a.start[j] = int64_t(a.rowind.size());
    a.rowind.insert(a.rowind.end(), cols[j].index.begin(), cols[j].index.end());
    a.rowcoef.insert(a.rowcoef.end(), cols[j].value.begin(), cols[j].value.end());
    if (collen) {
      a.collen[j] = int(cols[j].index.size());
      junk();
    }
  }
  if (!collen) a.start.back() = int64_t(a.rowind.size());
  return a;
}

// Rows that x = 0 meets (so every LP here is feasible); boxed columns (so it is bounded).
struct Frame {
  std::vector<char> rowtype;
  std::vector<double> rhs, obj, lb, ub;
};

void addFrameRows(Gen &g, Frame &f, int n) {
  for (int i = 0; i < n; ++i) {
    const char t = "LGE"[g.uni(0, 2)];
    f.rowtype.push_back(t);
    f.rhs.push_back(t == 'L' ? g.uni(0, 4) : t == 'G' ? -g.uni(0, 4) : 0);
  }
}

void addFrameCols(Gen &g, Frame &f, int n) {
  for (int j = 0; j < n; ++j) f.obj.push_back(g.value()), f.lb.push_back(-g.uni(0, 2)), f.ub.push_back(g.uni(1, 3));
}

int load(KRVXprob p, const Frame &f, const LoadArrays *a) {
  const int ncols = int(f.obj.size()), nrows = int(f.rhs.size());
  auto ptr = [](const auto &v) { return v.empty() ? nullptr : v.data(); };
  return KRVXloadlp64_witharraysizes(
      p, "m", ncols, nrows, ptr(f.rowtype), nrows, ptr(f.rhs), nrows, nullptr, 0, ptr(f.obj), ncols,
      a ? ptr(a->start) : nullptr, a ? int64_t(a->start.size()) : 0, a ? ptr(a->collen) : nullptr,
      a ? int64_t(a->collen.size()) : 0, a ? ptr(a->rowind) : nullptr, a ? int64_t(a->rowind.size()) : 0,
      a ? ptr(a->rowcoef) : nullptr, a ? int64_t(a->rowcoef.size()) : 0, ptr(f.lb), ncols, ptr(f.ub), ncols);
}

// Every row read back equals the reference (columns increasing, no zeros), and so does the count.
void expectMatrix(KRVXprob p, const Dense &d, const char *what) {
  int64_t total = 0;
  for (size_t i = 0; i < d.size(); ++i) {
    std::vector<int> want;
    for (size_t j = 0; j < d[i].size(); ++j)
      if (d[i][j] != 0.0) want.push_back(int(j));
    int64_t n = -1;
    std::vector<int> col(want.size() + 1);
    std::vector<double> val(want.size() + 1);
    EXPECT_OK(p, KRVXgetrowcoefs(p, int(i), &n, col.data(), val.data(), int64_t(col.size())));
    bool same = n == int64_t(want.size());
    for (size_t k = 0; same && k < want.size(); ++k)
      same = col[k] == want[k] && val[k] == d[i][size_t(want[k])];
    if (!same) std::fprintf(stderr, "%s: row %zu differs\n", what, i);
    EXPECT(same);
    total += int64_t(want.size());
  }
  EXPECT(intAttr(p, KRVX_ELEMS) == total);
}

// A random change, made to both problems and the reference; returns whether it keeps the form.
bool randomChange(Gen &g, KRVXprob p, KRVXprob q, Dense &d, Frame &f, int op) {
  const int nrows = int(d.size()), ncols = int(f.obj.size());
  auto both = [&](auto &&call) {
    EXPECT_OK(p, call(p));
    EXPECT_OK(q, call(q));
  };
  switch (op) {
    case 0:
    default: {   // rows (op 0) or columns with entries (an item may name another twice)
      const bool rows = op == 0;
      const int n = g.uni(1, 2);
      const std::vector<Coefs> items = randomItems(g, n, rows ? ncols : nrows);
      Frame fi;
      if (rows) addFrameRows(g, fi, n);
      else addFrameCols(g, fi, n);
      const Flat a = flatten(items);
      for (const Coefs &c : items) {
        if (rows) d.emplace_back(size_t(ncols), 0.0);
        else for (auto &row : d) row.push_back(0.0);
        for (size_t k = 0; k < c.index.size(); ++k)
          (rows ? d.back()[size_t(c.index[k])] : d[size_t(c.index[k])].back()) += c.value[k];
      }
      if (!rows) f.obj.insert(f.obj.end(), fi.obj.begin(), fi.obj.end());
      both([&](KRVXprob x) {
        return rows ? KRVXaddrows(x, n, a.size(), fi.rowtype.data(), fi.rhs.data(), nullptr, a.start.data(),
                                  a.index.data(), a.value.data())
                    : KRVXaddcols(x, n, a.size(), fi.obj.data(), a.start.data(), a.index.data(), a.value.data(),
                                  fi.lb.data(), fi.ub.data());
      });
      return !rows || a.size() == 0;
    }
    case 1: {   // coefficients set, zero among them
      if (nrows == 0 || ncols == 0) return true;
      const int n = g.uni(1, 3);
      std::vector<int> r, c;
      std::vector<double> v;
      for (int k = 0; k < n; ++k) {
        r.push_back(g.uni(0, nrows - 1)), c.push_back(g.uni(0, ncols - 1)), v.push_back(g.value());
        d[size_t(r.back())][size_t(c.back())] = v.back();
      }
      if (n == 1) both([&](KRVXprob x) { return KRVXchgcoef(x, r[0], c[0], v[0]); });
      else both([&](KRVXprob x) { return KRVXchgmcoef(x, n, r.data(), c.data(), v.data()); });
      return false;
    }
    case 2:
    case 3: {   // rows (op 2) or columns deleted
      const bool rows = op == 2;
      std::vector<int> del;
      for (int i = 0; i < (rows ? nrows : ncols); ++i)
        if (g.uni(0, 2) == 0) del.push_back(i);
      for (size_t k = del.size(); k > 0; --k) {
        if (rows) {
          d.erase(d.begin() + del[k - 1]);
          continue;
        }
        for (auto &row : d) row.erase(row.begin() + del[k - 1]);
        f.obj.erase(f.obj.begin() + del[k - 1]);
      }
      const int nd = int(del.size());
      both([&](KRVXprob x) {
        return rows ? KRVXdelrows_witharraysizes(x, nd, del.data(), nd) : KRVXdelcols_witharraysizes(x, nd, del.data(), nd);
      });
      return true;
    }
  }
}

// The same optimum (status and value) of two problems, solved on copies; `mip`: with integer
// columns and a partial-integer one, which the lowering splits into two columns and a row.
void expectSameOptimum(KRVXprob p, KRVXprob q, bool mip) {
  KRVXprob a = newProblem(), b = newProblem();
  EXPECT_OK(a, KRVXcopyprob(a, p, "a"));
  EXPECT_OK(b, KRVXcopyprob(b, q, "b"));
  EXPECT(a->matrix.packed() == p->matrix.packed());
  for (KRVXprob x : {a, b}) {
    KRVXsetintcontrol(x, KRVX_OUTPUTLOG, 0);
    const int ncols = intAttr(x, KRVX_COLS);
    if (mip && ncols > 0) {
      std::vector<int> ind;
      std::vector<char> type;
      for (int j = 0; j < ncols; ++j) ind.push_back(j), type.push_back(j == 0 ? 'P' : j % 2 ? 'I' : 'C');
      const double limit = 0.5;
      EXPECT_OK(x, KRVXchgcoltype(x, ncols, ind.data(), type.data()));
      EXPECT_OK(x, KRVXchgglblimit_witharraysizes(x, 1, ind.data(), 1, &limit, 1));
    }
    EXPECT_OK(x, mip ? KRVXmipoptimize(x, "") : KRVXlpoptimize(x, ""));
  }
  EXPECT(intAttr(a, KRVX_SOLSTATUS) == intAttr(b, KRVX_SOLSTATUS));
  EXPECT(near(dblAttr(a, KRVX_OBJVAL), dblAttr(b, KRVX_OBJVAL), 1e-9));
  KRVXdestroyprob(a);
  KRVXdestroyprob(b);
}

void packedAndLooseAgree() {
  const std::string file = "krvx_matrix_" + std::to_string(::getpid());
  for (unsigned seed = 1; seed <= 150; ++seed) {
    Gen g{std::mt19937(seed)};
    const int nrows = g.uni(0, 6), ncols = g.uni(0, 6);
    Frame f;
    addFrameRows(g, f, nrows);
    addFrameCols(g, f, ncols);
    const std::vector<Coefs> cols = randomItems(g, ncols, nrows);
    Dense d(size_t(nrows), std::vector<double>(size_t(ncols), 0.0));
    for (int j = 0; j < ncols; ++j)
      for (size_t k = 0; k < cols[size_t(j)].index.size(); ++k)
        d[size_t(cols[size_t(j)].index[k])][size_t(j)] += cols[size_t(j)].value[k];
    const LoadArrays arrays = loaderArrays(g, cols, nrows);
    KRVXprob p = newProblem(), q = newProblem();
    EXPECT_OK(p, load(p, f, &arrays));
    EXPECT(p->matrix.packed());
    // q: no matrix loaded, then every coefficient set one by one in random order
    EXPECT_OK(q, load(q, f, nullptr));
    std::vector<std::pair<int, int>> nz;
    for (int i = 0; i < nrows; ++i)
      for (int j = 0; j < ncols; ++j)
        if (d[size_t(i)][size_t(j)] != 0.0) nz.emplace_back(i, j);
    std::shuffle(nz.begin(), nz.end(), g.rng);
    for (const auto &rc : nz) EXPECT_OK(q, KRVXchgcoef(q, rc.first, rc.second, d[size_t(rc.first)][size_t(rc.second)]));
    EXPECT(q->matrix.packed() == nz.empty());
    expectMatrix(p, d, "packed load");
    expectMatrix(q, d, "loose build");
    EXPECT(snapshot(p) == snapshot(q));
    expectSameOptimum(p, q, false);
    expectSameOptimum(p, q, true);
    // written and read back, saved and restored
    EXPECT_OK(p, KRVXwriteprob(p, file.c_str(), ""));
    KRVXprob r = newProblem();
    EXPECT_OK(r, KRVXreadprob(r, file.c_str(), ""));
    expectMatrix(r, d, "read back");
    EXPECT_OK(p, KRVXsaveas(p, file.c_str()));
    EXPECT_OK(r, KRVXrestore(r, file.c_str(), ""));
    expectMatrix(r, d, "restored");
    EXPECT(snapshot(r) == snapshot(p));
    KRVXdestroyprob(r);
    // changes: deleting rows or columns and adding columns keep the packed form, setting
    // coefficients turns it loose, adding rows may do either but never packs a loose matrix
    bool packed = true;
    for (int step = 0; step < 6; ++step) {
      const int op = step == 0 && g.uni(0, 1) ? g.uni(2, 4) : g.uni(0, 4);
      const bool empty = f.obj.empty();   // columns added to no columns are packed
      const bool keeps = randomChange(g, p, q, d, f, op);
      packed = (packed && (keeps || (op == 0 && p->matrix.packed()))) || (op == 4 && empty);
      EXPECT(p->matrix.packed() == packed);
      expectMatrix(p, d, "packed, changed");
      expectMatrix(q, d, "loose, changed");
      EXPECT(snapshot(p) == snapshot(q));
    }
    expectSameOptimum(p, q, false);
    KRVXdestroyprob(p);
    KRVXdestroyprob(q);
  }
  for (const char *ext : {"", ".mps", ".svf"}) std::remove((file + ext).c_str());
}

// The same columns with the same entries, whichever form each matrix has.
bool sameColumns(const krvx::ColMatrix &a, const krvx::ColMatrix &b) {
  bool same = a.ncols() == b.ncols() && a.nnz() == b.nnz();
  for (int j = 0; same && j < a.ncols(); ++j) {
    const krvx::ColumnView x = a.col(j), y = b.col(j);
    same = x.size() == y.size();
    for (size_t k = 0; same && k < x.size(); ++k) same = x[k].index == y[k].index && x[k].value == y[k].value;
  }
  return same;
}

// Filling the packed form at once, on any number of threads, gives what column-by-column filling
// gives; input it cannot take as it is (offsets out of order or range, a column not canonical in
// any chunk) leaves the matrix unchanged.
void fillAtOnce() {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    Gen g{std::mt19937(seed)};
    const int ncols = g.uni(0, 40), nrows = g.uni(1, 8), lead = g.uni(0, 3);
    std::vector<int64_t> start{lead};
    std::vector<int> index(size_t(lead), -7);
    std::vector<double> value(size_t(lead), 9.0);
    bool canonical = true;
    for (int j = 0; j < ncols; ++j) {
      int row = -1;
      for (int k = g.uni(0, 4); k > 0 && row < nrows - 1; --k) {
        row = g.uni(row + 1, nrows - 1);
        index.push_back(row);
        value.push_back(g.value() + 4.0);   // nonzero
      }
      if (g.uni(0, 30) == 0 && !index.empty() && int64_t(index.size()) > start.back()) {
        (g.uni(0, 1) ? value.back() = 0.0 : (index.push_back(index.back()), value.push_back(1.0), 0.0));
        canonical = false;
      }
      start.push_back(int64_t(index.size()));
    }
    int64_t limit = int64_t(index.size());
    const int spoil = g.uni(0, 12);   // 0: an offset out of order, 1: beyond the input
    if (spoil == 0 && ncols > 1) std::swap(start[1], start[size_t(ncols)]);
    if (spoil == 1) limit -= 1;
    const bool takes = canonical && !(spoil == 0 && ncols > 1 && start[1] > start[size_t(ncols)]) &&
                       !(spoil == 1 && start.back() > limit);
    krvx::ColMatrix serial;
    if (takes) {
      serial.beginPacked(ncols, size_t(start.back() - lead));
      for (int j = 0; j < ncols; ++j)
        serial.pushColumn(index.data() + start[size_t(j)], value.data() + start[size_t(j)],
                          size_t(start[size_t(j) + 1] - start[size_t(j)]));
    }
    for (int threads = 1; threads <= 4; ++threads) {
      krvx::ColMatrix m;
      m.resize(2);   // loose, two columns: what a refusal must leave
      const bool took = m.fillPacked(ncols, start.data(), limit, index.data(), value.data(), threads);
      EXPECT(took == takes);
      if (!took) {
        EXPECT(!m.packed() && m.ncols() == 2 && m.nnz() == 0);
        continue;
      }
      EXPECT(m.packed() && sameColumns(m, serial));
    }
  }
}

// The matrix equals the reference, every column canonical, whichever form it is read in.
void expectSame(const krvx::ColMatrix &m, const Dense &d, int ncols, unsigned seed, int step) {
  bool same = m.ncols() == ncols;
  int64_t total = 0;
  for (int j = 0; same && j < ncols; ++j) {
    const krvx::ColumnView c = m.col(j);
    size_t k = 0;
    for (size_t i = 0; same && i < d.size(); ++i) {
      if (d[i][size_t(j)] == 0.0) continue;
      same = k < c.size() && c[k].index == int(i) && c[k].value == d[i][size_t(j)];
      ++k, ++total;
    }
    same = same && k == c.size();
  }
  same = same && m.nnz() == total;
  if (!same) std::fprintf(stderr, "row tail: seed %u step %d differs\n", seed, step);
  EXPECT(same);
}

// Rows appended to the row tail, interleaved with appended columns, coefficients set in place,
// row and column deletions, shrinking and copies, read back equal to a dense reference; an
// append that fails or is undone leaves the matrix as it was.
void rowTail() {
  for (unsigned seed = 1; seed <= 400; ++seed) {
    Gen g{std::mt19937(seed)};
    krvx::ColMatrix m;
    Dense d;
    int ncols = 0;
    if (g.uni(0, 1)) m.beginPacked(0, 0);
    for (int step = 0; step < 40; ++step) {
      const int nrows = int(d.size());
      switch (g.uni(0, 9)) {
        case 0: case 1: case 2: case 3: {   // rows, some with repeats, zeros and cancelling pairs
          const int n = g.uni(0, 4);
          const Flat a = flatten(randomItems(g, n, ncols));
          std::vector<int64_t> start(a.start.begin(), a.start.end());
          std::vector<int> index = a.index;
          const int spoil = a.size() > 0 ? g.uni(0, 9) : 9;   // 0: a column outside, 1: an offset beyond the end
          if (spoil == 0) index[size_t(g.uni(0, a.size() - 1))] = g.uni(0, 1) ? -1 : ncols;
          if (spoil == 1) start[size_t(g.uni(1, n))] = a.size() + 1;   // read only below n
          const bool ok = m.appendRows(nrows, n, a.size() || g.uni(0, 1) ? start.data() : nullptr, a.size(),
                                       index.data(), a.value.data());
          EXPECT(ok == (spoil > 1 || (spoil == 1 && start[size_t(n)] == a.size() + 1)));
          if (!ok) break;
          for (int r = 0; r < n; ++r) {
            d.emplace_back(size_t(ncols), 0.0);
            for (int k = a.start[size_t(r)]; k < a.start[size_t(r) + 1]; ++k) d.back()[size_t(a.index[size_t(k)])] += a.value[size_t(k)];
          }
          if (g.uni(0, 5) == 0) {   // undone
            m.dropTailRows(nrows);
            d.resize(size_t(nrows));
          }
          break;
        }
        case 4: {   // a column
          std::vector<krvx::Entry> e;
          for (int i = 0; i < nrows; ++i)
            if (g.uni(0, 2) == 0) e.push_back({i, g.value() + 4.0});   // nonzero
          for (auto &row : d) row.push_back(0.0);
          for (const krvx::Entry &x : e) d[size_t(x.index)].back() = x.value;
          m.appendColumn(e.data(), e.size());
          ++ncols;
          break;
        }
        case 5: {   // a coefficient set in place
          if (nrows == 0 || ncols == 0) break;
          const int i = g.uni(0, nrows - 1), j = g.uni(0, ncols - 1);
          const double v = g.value();
          std::vector<krvx::Entry> &c = m.entries(j);
          auto it = std::lower_bound(c.begin(), c.end(), i, [](const krvx::Entry &e, int r) { return e.index < r; });
          if (it != c.end() && it->index == i) c.erase(it);
          if (v != 0.0) c.insert(std::lower_bound(c.begin(), c.end(), i, [](const krvx::Entry &e, int r) { return e.index < r; }), {i, v});
          d[size_t(i)][size_t(j)] = v;
          break;
        }
        case 6:
        case 7: {   // rows (6) or columns deleted
          const bool rows = step % 2 == 0;
          const int count = rows ? nrows : ncols;
          std::vector<int> map(static_cast<size_t>(count), 0);
          int next = 0;
          for (int k = 0; k < count; ++k) map[size_t(k)] = g.uni(0, 3) == 0 ? -1 : next++;
          for (int k = count; k-- > 0;) {
            if (map[size_t(k)] >= 0) continue;
            if (rows) d.erase(d.begin() + k);
            else for (auto &row : d) row.erase(row.begin() + k);
          }
          if (rows) m.renumberRows(map);
          else m.compactColumns(map), ncols = next;
          break;
        }
        case 8: {   // columns dropped from the end or empty ones added
          const int n = g.uni(0, ncols + 2);
          for (auto &row : d) row.resize(size_t(n), 0.0);
          m.resize(n);
          ncols = n;
          break;
        }
        default: {   // read through a copy, then in place
          const krvx::ColMatrix copy = m;
          expectSame(copy, d, ncols, seed, step);
          expectSame(m, d, ncols, seed, step);
        }
      }
    }
    expectSame(m, d, ncols, seed, 40);
    EXPECT(m.tailRows() == 0);
  }
}

// A tail large enough to fold on several threads folds into the packed form as into the loose one.
void largeTail() {
  Gen g{std::mt19937(7)};
  const int ncols = 3000, nrows = 700000, width = 6;
  krvx::ColMatrix m;
  for (int j = 0; j < ncols; ++j) {
    const krvx::Entry e[] = {{0, 1.0}, {1, -2.0}};
    m.appendColumn(e, size_t(j % 3));
  }
  std::vector<int64_t> start{0};
  std::vector<int> index;
  std::vector<double> value;
  for (int i = 0; i < nrows; ++i) {
    const int c = g.uni(0, ncols - width);
    for (int k = 0; k < width; ++k) index.push_back(c + k), value.push_back(g.value() + 4.0);
    start.push_back(int64_t(index.size()));
  }
  EXPECT(m.appendRows(2, nrows, start.data(), int64_t(index.size()), index.data(), value.data()));
  krvx::ColMatrix loose = m;
  loose.entries(0);   // folds by turning loose
  EXPECT(m.packed() && !loose.packed() && sameColumns(m, loose));
}
}  // namespace

int main() {
  KRVXinit(nullptr);
  fillAtOnce();
  rowTail();
  largeTail();
  packedAndLooseAgree();
  KRVXfree();
  return finish("test_matrix");
}
