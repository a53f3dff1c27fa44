// The lqcp-N linear-quadratic control model (m = n = N) as column-wise arrays with a diagonal
// objective Hessian: minimise offset + c'x + 1/2 x'Qx subject to Ax = 0, bounds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

using std::size_t;

struct Lqcp {
  int ncols = 0, nrows = 0;
  double offset = 0.0;
  std::vector<double> cost, lb, ub, qdiag;          // per column
  std::vector<int64_t> start;                       // ncols + 1
  std::vector<int> rowind;
  std::vector<double> value;
};

inline Lqcp buildLqcp(int N) {
  const int m = N, n = N;
  const double dx = 1.0 / n, T = 1.58, dt = T / m, h2 = dx * dx, a = 0.001;
  Lqcp q;
  auto y = [&](int i, int j) { return i * (n + 1) + j; };
  auto u = [&](int i) { return (m + 1) * (n + 1) + i - 1; };
  q.ncols = (m + 1) * (n + 1) + m;
  q.cost.assign(size_t(q.ncols), 0.0);
  q.qdiag.assign(size_t(q.ncols), 0.0);
  q.lb.assign(size_t(q.ncols), 0.0);
  q.ub.assign(size_t(q.ncols), 1.0);
  for (int i = 1; i <= m; ++i) q.lb[size_t(u(i))] = -1.0;
  // w (v - target)^2 = w v^2 - 2 w target v + w target^2
  auto square = [&](int col, double w, double target) {
    q.qdiag[size_t(col)] += 2 * w;
    q.cost[size_t(col)] += -2 * w * target;
    q.offset += w * target * target;
  };
  for (int j = 0; j <= n; ++j) {
    const double yt = 0.5 * (1 - (j * dx) * (j * dx));
    square(y(m, j), 0.25 * dx * (j == 0 || j == n ? 1 : 2), yt);
  }
  for (int i = 1; i <= m; ++i) square(u(i), 0.25 * a * dt * (i < m ? 2 : 1), 0.0);

  std::vector<std::vector<std::pair<int, double>>> cols(size_t(q.ncols));
  int r = 0;
  auto put = [&](int col, double v) { cols[size_t(col)].emplace_back(r, v); };
  for (int i = 0; i < m; ++i)
    for (int j = 1; j < n; ++j, ++r) {
      put(y(i + 1, j), h2 + dt);
      put(y(i, j), -h2 + dt);
      put(y(i, j - 1), -0.5 * dt);
      put(y(i, j + 1), -0.5 * dt);
      put(y(i + 1, j - 1), -0.5 * dt);
      put(y(i + 1, j + 1), -0.5 * dt);
    }
  for (int j = 0; j <= n; ++j, ++r) put(y(0, j), 1.0);
  for (int i = 1; i <= m; ++i) {
    put(y(i, 2), 1.0);
    put(y(i, 1), -4.0);
    put(y(i, 0), 3.0);
    ++r;
    put(y(i, n - 2), 1.0);
    put(y(i, n - 1), -4.0);
    put(y(i, n), 3.0 + 2 * dx);
    put(u(i), -2 * dx);
    ++r;
  }
  q.nrows = r;
  q.start.push_back(0);
  for (const auto &c : cols) {
    for (const auto &e : c) {
      q.rowind.push_back(e.first);
      q.value.push_back(e.second);
    }
    q.start.push_back(int64_t(q.rowind.size()));
  }
  return q;
}
