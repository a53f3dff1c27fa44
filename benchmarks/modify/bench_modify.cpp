// Changing problems, measured against references taken in the same run at two sizes:
// - rows added one at a time (KRVXaddrows) against HiGHS's Highs_addRow one at a time, and against
//   one KRVXloadlp64 of the whole model;
// - columns added one at a time (KRVXaddcols) against Highs_addCol one at a time;
// - half of the rows, then half of the columns, deleted in one call, against the load;
// - one row per KRVXaddrows64 call against the same rows in calls of 1,000.
// Ratios that stay flat from the smaller to the larger size show linear cost.
#include "krvx.h"
#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Model {
  int nrows, ncols;
  std::vector<int> rowstart, rowcols;   // row-wise: 5 columns per row
  std::vector<double> rowvals;
};

Model generate(int nrows) {
  Model m{nrows, nrows / 2, {0}, {}, {}};
  unsigned seed = 4711;
  auto rnd = [&]() { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xffffff; };
  for (int i = 0; i < nrows; ++i) {
    int cols[5];
    for (int &c : cols) c = int(rnd() % unsigned(m.ncols));
    std::sort(cols, cols + 5);
    int n = int(std::unique(cols, cols + 5) - cols);
    for (int k = 0; k < n; ++k) {
      m.rowcols.push_back(cols[k]);
      m.rowvals.push_back(double(rnd() % 1000) / 100.0 + 0.5);
    }
    m.rowstart.push_back(int(m.rowcols.size()));
  }
  return m;
}

void check(int rc, KRVXprob p, const char *what) {
  if (rc == 0) return;
  char buf[KRVX_MAXERRLEN + 1] = {0};
  KRVXgetlasterror(p, buf);
  std::fprintf(stderr, "%s failed: %s\n", what, buf);
  std::exit(1);
}

double loadWhole(const Model &m) {
  // column-wise copy of the row-wise model
  std::vector<int64_t> start(size_t(m.ncols) + 1, 0);
  for (int c : m.rowcols) ++start[size_t(c) + 1];
  for (int j = 0; j < m.ncols; ++j) start[size_t(j) + 1] += start[size_t(j)];
  std::vector<int> rowind(m.rowcols.size());
  std::vector<double> val(m.rowcols.size());
  std::vector<int64_t> next(start.begin(), start.end() - 1);
  for (int i = 0; i < m.nrows; ++i)
    for (int k = m.rowstart[size_t(i)]; k < m.rowstart[size_t(i) + 1]; ++k) {
      const int64_t pos = next[size_t(m.rowcols[size_t(k)])]++;
      rowind[size_t(pos)] = i;
      val[size_t(pos)] = m.rowvals[size_t(k)];
    }
  std::vector<char> rt(size_t(m.nrows), 'L');
  std::vector<double> rhs(size_t(m.nrows), 1.0);
  KRVXprob p;
  KRVXcreateprob(&p);
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  const double t0 = seconds();
  check(KRVXloadlp64_witharraysizes(p, "bench", m.ncols, m.nrows, rt.data(), m.nrows, rhs.data(), m.nrows, nullptr, 0,
                                    nullptr, 0, start.data(), int64_t(start.size()), nullptr, 0, rowind.data(),
                                    int64_t(rowind.size()), val.data(), int64_t(val.size()), nullptr, 0, nullptr, 0),
        p, "KRVXloadlp64");
  const double t = seconds() - t0;
  KRVXdestroyprob(p);
  return t;
}

struct Timings { double rows, cols, delrows, delcols; };

Timings ours(const Model &m) {
  KRVXprob p;
  KRVXcreateprob(&p);
  Timings t{};
  double t0 = seconds();
  for (int j = 0; j < m.ncols; ++j) check(KRVXaddcols(p, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), p, "KRVXaddcols");
  t.cols = seconds() - t0;
  const char L = 'L';
  const double rhs = 1.0;
  const int zero = 0;
  t0 = seconds();
  for (int i = 0; i < m.nrows; ++i) {
    const int b = m.rowstart[size_t(i)], n = m.rowstart[size_t(i) + 1] - b;
    check(KRVXaddrows(p, 1, n, &L, &rhs, nullptr, &zero, m.rowcols.data() + b, m.rowvals.data() + b), p, "KRVXaddrows");
  }
  t.rows = seconds() - t0;
  std::vector<int> del;
  for (int i = 0; i < m.nrows; i += 2) del.push_back(i);
  t0 = seconds();
  check(KRVXdelrows_witharraysizes(p, int(del.size()), del.data(), int64_t(del.size())), p, "KRVXdelrows");
  t.delrows = seconds() - t0;
  del.clear();
  for (int j = m.ncols - 1; j >= 0; j -= 2) del.push_back(j);
  t0 = seconds();
  check(KRVXdelcols_witharraysizes(p, int(del.size()), del.data(), int64_t(del.size())), p, "KRVXdelcols");
  t.delcols = seconds() - t0;
  KRVXdestroyprob(p);
  return t;
}

Timings highs(const Model &m) {
  void *h = Highs_create();
  Highs_setBoolOptionValue(h, "output_flag", 0);
  Timings t{};
  const double inf = Highs_getInfinity(h);
  double t0 = seconds();
  for (int j = 0; j < m.ncols; ++j) Highs_addCol(h, 0.0, 0.0, inf, 0, nullptr, nullptr);
  t.cols = seconds() - t0;
  t0 = seconds();
  for (int i = 0; i < m.nrows; ++i) {
    const int b = m.rowstart[size_t(i)], n = m.rowstart[size_t(i) + 1] - b;
    Highs_addRow(h, -inf, 1.0, n, m.rowcols.data() + b, m.rowvals.data() + b);
  }
  t.rows = seconds() - t0;
  std::vector<int> del;
  for (int i = 0; i < m.nrows; i += 2) del.push_back(i);
  t0 = seconds();
  Highs_deleteRowsBySet(h, int(del.size()), del.data());
  t.delrows = seconds() - t0;
  del.clear();
  for (int j = 0; j < m.ncols; j += 2) del.push_back(j);
  t0 = seconds();
  Highs_deleteColsBySet(h, int(del.size()), del.data());
  t.delcols = seconds() - t0;
  Highs_destroy(h);
  return t;
}

// Seconds to add the model's rows through KRVXaddrows64, `batch` rows per call.
double addRows64(const Model &m, int batch) {
  KRVXprob p;
  KRVXcreateprob(&p);
  check(KRVXaddcols(p, m.ncols, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), p, "KRVXaddcols");
  const std::vector<char> rt(size_t(batch), 'L');
  const std::vector<double> rhs(size_t(batch), 1.0);
  std::vector<int64_t> start(size_t(batch) + 1);
  const double t0 = seconds();
  for (int i = 0; i < m.nrows; i += batch) {
    const int n = std::min(batch, m.nrows - i), b = m.rowstart[size_t(i)], nz = m.rowstart[size_t(i + n)] - b;
    for (int k = 0; k <= n; ++k) start[size_t(k)] = m.rowstart[size_t(i + k)] - b;
    check(KRVXaddrows64_witharraysizes(p, n, nz, rt.data(), n, rhs.data(), n, nullptr, 0, start.data(), n + 1,
                                       m.rowcols.data() + b, nz, m.rowvals.data() + b, nz),
          p, "KRVXaddrows64");
  }
  const double t = seconds() - t0;
  KRVXdestroyprob(p);
  return t;
}

}  // namespace

int main(int argc, char **argv) {
  KRVXinit(nullptr);
  const int sizes[] = {argc > 1 ? std::atoi(argv[1]) : 20000, argc > 2 ? std::atoi(argv[2]) : 200000};
  std::printf("%9s %10s %12s %12s %12s %14s %14s\n", "rows", "load s", "rows/load", "rows/HiGHS", "cols/HiGHS",
              "delrows/load", "delcols/load");
  for (int n : sizes) {
    const Model m = generate(n);
    const double load = loadWhole(m);
    const Timings o = ours(m), h = highs(m);
    std::printf("%9d %10.4f %12.2f %12.2f %12.2f %14.3f %14.3f\n", n, load, o.rows / load, o.rows / h.rows,
                o.cols / h.cols, o.delrows / load, o.delcols / load);
    std::printf("%9s deletions against HiGHS's: rows %.2f, columns %.2f\n", "", o.delrows / h.delrows,
                o.delcols / h.delcols);
    const double one = addRows64(m, 1), many = addRows64(m, 1000);
    std::printf("%9s KRVXaddrows64: %.0f ns per row one per call, %.0f in calls of 1000 (ratio %.2f)\n", "",
                one / n * 1e9, many / n * 1e9, one / many);
  }
  KRVXfree();
  return 0;
}
