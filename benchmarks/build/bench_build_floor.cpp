// Floor of the model-building benchmarks: builds lqcp-N or fac-N (linear rows only) as row-wise
// CSR arrays and hands them to HiGHS with one Highs_passModel. Prints one line of key=value
// pairs: the time of building and handing over, the peak and starting resident memory (kB) and
// the model's sizes; with "solve" also the optimal objective value (a check of the other builds).
//   bench_build_floor lqcp|fac N [solve]
#include "interfaces/highs_c_api.h"

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long residentKb() {
  FILE *f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::strtol(line + 6, nullptr, 10);
  std::fclose(f);
  return kb;
}

long peakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Model {
  std::vector<double> cost, lb, ub;        // columns
  std::vector<double> rlo, rup;            // rows
  std::vector<HighsInt> start{0}, index;   // row-wise matrix
  std::vector<double> value;
  std::vector<HighsInt> qstart, qindex;    // lower-triangular Hessian, column-wise
  std::vector<double> qvalue;
  std::vector<HighsInt> integrality;
  double offset = 0;

  HighsInt addCol(double c, double l, double u) {
    cost.push_back(c);
    lb.push_back(l);
    ub.push_back(u);
    return HighsInt(cost.size() - 1);
  }
  void coef(HighsInt col, double v) {
    index.push_back(col);
    value.push_back(v);
  }
  void endRow(double lo, double up) {
    rlo.push_back(lo);
    rup.push_back(up);
    start.push_back(HighsInt(index.size()));
  }
};

// Linear-quadratic control, m = n = N.
void lqcp(Model &md, int N) {
  const int m = N, n = N;
  const double dx = 1.0 / n, T = 1.58, dt = T / m, h2 = dx * dx, a = 0.001;
  auto Y = [&](int i, int j) { return HighsInt(i) * (n + 1) + j; };
  const HighsInt u0 = HighsInt(m + 1) * (n + 1) - 1;   // u[i] at u0 + i, i = 1..m
  const HighsInt ncol = u0 + m + 1;
  md.cost.reserve(ncol);
  md.lb.reserve(ncol);
  md.ub.reserve(ncol);
  for (int i = 0; i <= m; ++i)
    for (int j = 0; j <= n; ++j) md.addCol(0, 0, 1);
  for (int i = 1; i <= m; ++i) md.addCol(0, -1, 1);
  // objective: w (y - yt)^2 = w y^2 - 2 w yt y + w yt^2 (Hessian holds 2w)
  std::vector<double> diag(ncol, 0.0);
  for (int j = 0; j <= n; ++j) {
    double w = 0.25 * dx * (j == 0 || j == n ? 1 : 2), yt = 0.5 * (1 - (j * dx) * (j * dx));
    diag[Y(m, j)] += 2 * w;
    md.cost[Y(m, j)] += -2 * w * yt;
    md.offset += w * yt * yt;
  }
  for (int i = 1; i <= m; ++i) diag[u0 + i] += 2 * 0.25 * a * dt * (i < m ? 2 : 1);
  md.qstart.reserve(ncol + 1);
  for (HighsInt c = 0; c < ncol; ++c) {
    md.qstart.push_back(HighsInt(md.qindex.size()));
    if (diag[c] != 0) {
      md.qindex.push_back(c);
      md.qvalue.push_back(diag[c]);
    }
  }
  const size_t rows = size_t(m) * (n - 1) + (n + 1) + 2 * size_t(m);
  md.rlo.reserve(rows);
  md.rup.reserve(rows);
  md.start.reserve(rows + 1);
  md.index.reserve(6 * rows);
  md.value.reserve(6 * rows);
  for (int i = 0; i < m; ++i)
    for (int j = 1; j < n; ++j) {
      md.coef(Y(i, j - 1), -0.5 * dt);
      md.coef(Y(i, j), -h2 + dt);
      md.coef(Y(i, j + 1), -0.5 * dt);
      md.coef(Y(i + 1, j - 1), -0.5 * dt);
      md.coef(Y(i + 1, j), h2 + dt);
      md.coef(Y(i + 1, j + 1), -0.5 * dt);
      md.endRow(0, 0);
    }
  for (int j = 0; j <= n; ++j) {
    md.coef(Y(0, j), 1);
    md.endRow(0, 0);
  }
  for (int i = 1; i <= m; ++i) {
    md.coef(Y(i, 2), 1);
    md.coef(Y(i, 1), -4);
    md.coef(Y(i, 0), 3);
    md.endRow(0, 0);
    md.coef(Y(i, n - 2), 1);
    md.coef(Y(i, n - 1), -4);
    md.coef(Y(i, n), 3 + 2 * dx);
    md.coef(u0 + i, -2 * dx);
    md.endRow(0, 0);
  }
}

// Facility location, G = F = N, linear rows only.
void fac(Model &md, int N) {
  const int G = N, F = N;
  const double M = 2 * std::sqrt(2.0), inf = INFINITY;   // HiGHS treats inf as infinite
  const HighsInt P = HighsInt(G + 1) * (G + 1) * F;   // (i, j, f) triples
  auto T = [&](int i, int j, int f) { return (HighsInt(i) * (G + 1) + j) * F + (f - 1); };
  const HighsInt y0 = 0, s0 = 2 * F, z0 = s0 + P, r0 = z0 + P, d = r0 + 2 * P;
  const HighsInt ncol = d + 1;
  md.cost.reserve(ncol);
  md.lb.reserve(ncol);
  md.ub.reserve(ncol);
  md.integrality.assign(ncol, kHighsVarTypeContinuous);
  for (HighsInt c = 0; c < 2 * F; ++c) md.addCol(0, 0, 1);
  for (HighsInt c = 0; c < P; ++c) md.addCol(0, 0, inf);
  for (HighsInt c = 0; c < P; ++c) md.integrality[md.addCol(0, 0, 1)] = kHighsVarTypeInteger;
  for (HighsInt c = 0; c < 2 * P; ++c) md.addCol(0, -inf, inf);
  md.addCol(1, -inf, inf);
  const size_t rows = size_t(G + 1) * (G + 1) + 3 * size_t(P);
  md.rlo.reserve(rows);
  md.rup.reserve(rows);
  md.start.reserve(rows + 1);
  md.index.reserve(size_t(G + 1) * (G + 1) * F + 7 * size_t(P));
  md.value.reserve(md.index.capacity());
  for (int i = 0; i <= G; ++i)
    for (int j = 0; j <= G; ++j) {
      for (int f = 1; f <= F; ++f) md.coef(z0 + T(i, j, f), 1);
      md.endRow(1, 1);
    }
  for (int i = 0; i <= G; ++i)
    for (int j = 0; j <= G; ++j)
      for (int f = 1; f <= F; ++f) {
        HighsInt t = T(i, j, f);
        md.coef(s0 + t, 1);
        md.coef(d, -1);
        md.coef(z0 + t, M);
        md.endRow(M, M);
        for (int k = 1; k <= 2; ++k) {
          md.coef(r0 + 2 * t + (k - 1), 1);
          md.coef(y0 + 2 * (f - 1) + (k - 1), 1);
          double rhs = (k == 1 ? i : j) / double(G);
          md.endRow(rhs, rhs);
        }
      }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3 || argc > 4 || (std::strcmp(argv[1], "lqcp") != 0 && std::strcmp(argv[1], "fac") != 0)) {
    std::fprintf(stderr, "usage: %s lqcp|fac N [solve]\n", argv[0]);
    return 2;
  }
  const int N = std::atoi(argv[2]);
  if (N < 3) {
    std::fprintf(stderr, "N must be at least 3\n");
    return 2;
  }
  const long base = residentKb();
  const double t0 = now();
  Model md;
  if (argv[1][0] == 'l') lqcp(md, N);
  else fac(md, N);
  void *h = Highs_create();
  Highs_setBoolOptionValue(h, "output_flag", 0);
  const HighsInt ncol = HighsInt(md.cost.size()), nrow = HighsInt(md.rlo.size());
  const HighsInt nnz = HighsInt(md.index.size()), qnz = HighsInt(md.qindex.size());
  HighsInt status = Highs_passModel(
      h, ncol, nrow, nnz, qnz, kHighsMatrixFormatRowwise, kHighsHessianFormatTriangular, kHighsObjSenseMinimize,
      md.offset, md.cost.data(), md.lb.data(), md.ub.data(), md.rlo.data(), md.rup.data(), md.start.data(),
      md.index.data(), md.value.data(), qnz ? md.qstart.data() : nullptr, qnz ? md.qindex.data() : nullptr,
      qnz ? md.qvalue.data() : nullptr, md.integrality.empty() ? nullptr : md.integrality.data());
  const double t = now() - t0;
  if (status == kHighsStatusError) {
    std::fprintf(stderr, "Highs_passModel failed\n");
    return 1;
  }
  std::printf("time=%.4f peak_kb=%ld base_kb=%ld cols=%d rows=%d nnz=%d qnz=%d", t, peakKb(), base, (int)ncol,
              (int)nrow, (int)nnz, (int)qnz);
  if (argc == 4) {
    Highs_run(h);
    std::printf(" obj=%.9g", Highs_getObjectiveValue(h));
  }
  std::printf("\n");
  Highs_destroy(h);
  return 0;
}
