// Stability measures of the optimal basis: KRVXbasisstability.
//
// The problem is read as A x - r = 0 with r the row activities; the basis matrix B holds the
// columns of A of the basic columns and -e_i of the basic rows. type 0: condition number
// ||B|| ||B^-1||, with ||B|| exact and ||B^-1|| estimated (1- and infinity-norm: Hager-Higham's
// estimator, exact for up to kExactSize rows; Frobenius: exact, one solve per row). types 1-4:
// the norm of recomputed minus held vector: 1 the basic values (B z_B = -N z_N), 2 the row duals
// (B^T y = c_B), 3 the row activities (A x), 4 the basic costs (B^T y). scaled: in the problem
// scaled by its scaling factors (rows by 2^rowscale, columns by 2^colscale).
#include "analysis/basis_matrix.h"
#include "analysis/optimal_basis.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <cmath>

namespace krvx {

namespace {

constexpr int kExactSize = 8;   // bases up to this size get ||B^-1|| exactly

double vecNorm(const std::vector<double> &v, int norm) {
  double s = 0.0;
  for (double x : v) {
    if (norm == 0) s = std::max(s, std::fabs(x));
    else if (norm == 1) s += std::fabs(x);
    else s += x * x;
  }
  return norm == 2 ? std::sqrt(s) : s;
}

// ||B|| exactly: 1-norm max column sum, infinity-norm max row sum, Frobenius.
double matrixNorm(const BasisMatrix &b, int norm) {
  const int m = b.size();
  std::vector<double> rowsum(size_t(m), 0.0);
  double best = 0.0, fro = 0.0;
  for (int k = 0; k < m; ++k) {
    double colsum = 0.0;
    for (const auto &e : b.column(k)) {
      colsum += std::fabs(e.second);
      rowsum[size_t(e.first)] += std::fabs(e.second);
      fro += e.second * e.second;
    }
    best = std::max(best, colsum);
  }
  if (norm == 1) return best;
  if (norm == 2) return std::sqrt(fro);
  return m ? *std::max_element(rowsum.begin(), rowsum.end()) : 0.0;
}

// ||B^-1||_1 (transposed: ||B^-T||_1 = ||B^-1||_inf) by Hager-Higham's estimator.
double inverseNorm1(const BasisMatrix &b, bool transposed) {
  const size_t m = size_t(b.size());
  auto solve = [&](const std::vector<double> &v) { return b.solve(v, transposed); };
  auto tsolve = [&](const std::vector<double> &v) { return b.solve(v, !transposed); };
  if (int(m) <= kExactSize) {
    double best = 0.0;
    for (size_t k = 0; k < m; ++k) {
      std::vector<double> e(m, 0.0);
      e[k] = 1.0;
      best = std::max(best, vecNorm(solve(e), 1));
    }
    return best;
  }
  auto signs = [](const std::vector<double> &y) {
    std::vector<double> s(y.size());
    for (size_t i = 0; i < y.size(); ++i) s[i] = y[i] < 0 ? -1.0 : 1.0;
    return s;
  };
  auto argmax = [](const std::vector<double> &z) {
    size_t j = 0;
    for (size_t i = 1; i < z.size(); ++i)
      if (std::fabs(z[i]) > std::fabs(z[j])) j = i;
    return j;
  };
  std::vector<double> y = solve(std::vector<double>(m, 1.0 / double(m)));
  double est = vecNorm(y, 1);
  std::vector<double> xi = signs(y);
  std::vector<double> z = tsolve(xi);
  size_t j = argmax(z);
  for (int iter = 0; iter < 5; ++iter) {
    std::vector<double> e(m, 0.0);
    e[j] = 1.0;
    y = solve(e);
    const double old = est;
    est = std::max(est, vecNorm(y, 1));
    const std::vector<double> s = signs(y);
    if (s == xi || est <= old) break;
    xi = s;
    z = tsolve(xi);
    const size_t last = j;
    j = argmax(z);
    if (std::fabs(z[j]) <= std::fabs(z[last])) break;
  }
  // Higham's alternating vector catches matrices the iteration misjudges
  std::vector<double> alt(m);
  for (size_t i = 0; i < m; ++i) alt[i] = (i % 2 ? -1.0 : 1.0) * (1.0 + double(i) / double(m - 1));
  return std::max(est, 2.0 * vecNorm(solve(alt), 1) / (3.0 * double(m)));
}

// ||B^-1||_F exactly, one solve per row.
double inverseFrobenius(const BasisMatrix &b) {
  const size_t m = size_t(b.size());
  double s = 0.0;
  for (size_t k = 0; k < m; ++k) {
    std::vector<double> e(m, 0.0);
    e[k] = 1.0;
    const double c = vecNorm(b.solve(e, false), 2);
    s += c * c;
  }
  return std::sqrt(s);
}

double conditionNumber(const BasisMatrix &b, int norm) {
  if (b.size() == 0) return 0.0;
  const double inv = norm == 2 ? inverseFrobenius(b) : inverseNorm1(b, norm == 0);
  return matrixNorm(b, norm) * inv;
}

// The residual vector of types 1-4, in the scaling asked for.
std::vector<double> residual(const OptimalBasis &ob, const BasisMatrix &b, int type, bool scaled) {
  const ModelArrays &a = ob.arrays();
  const Solution &s = ob.solution();
  const size_t m = size_t(ob.nrows()), n = size_t(ob.ncols());
  const std::vector<double> &activity = ob.activities();
  const std::vector<double> one_r(m, 1.0), one_c(n, 1.0);
  const std::vector<double> &R = scaled ? ob.rowScale() : one_r;
  const std::vector<double> &C = scaled ? ob.colScale() : one_c;
  const int *start = a.colStart(), *index = a.rowIndex();
  const double *value = a.coefValue();
  auto matvec = [&](const std::vector<double> &x) {
    std::vector<double> ax(m, 0.0);
    for (size_t j = 0; j < n; ++j)
      for (int p = start[j]; p < start[j + 1]; ++p) ax[size_t(index[p])] += value[p] * x[j];
    return ax;
  };
  auto coldot = [&](size_t j, const std::vector<double> &y) {
    double v = 0.0;
    for (int p = start[j]; p < start[j + 1]; ++p) v += value[p] * y[size_t(index[p])];
    return v;
  };
  std::vector<double> res;
  switch (type) {
    case 1: {   // basic values from the nonbasic ones, in the scaled variables x/C, R r
      std::vector<char> isbasic(n + m, 0);
      for (int k = 0; k < b.size(); ++k) {
        const int v = b.basic(k);
        isbasic[v >= 0 ? size_t(v) : n + size_t(-v - 1)] = 1;
      }
      std::vector<double> xn(n, 0.0);
      for (size_t j = 0; j < n; ++j)
        if (!isbasic[j]) xn[j] = s.x[j];
      std::vector<double> q = matvec(xn);   // -(A_N x_N - r_N)
      for (size_t i = 0; i < m; ++i) q[i] = (isbasic[n + i] ? 0.0 : activity[i]) - q[i];
      for (size_t i = 0; i < m; ++i) q[i] *= R[i];
      const std::vector<double> z = b.solve(q, false);
      res.resize(m);
      for (int k = 0; k < b.size(); ++k) {
        const int v = b.basic(k);
        const double held = v >= 0 ? s.x[size_t(v)] / C[size_t(v)] : activity[size_t(-v - 1)] * R[size_t(-v - 1)];
        res[size_t(k)] = z[size_t(k)] - held;
      }
      break;
    }
    case 2: {   // duals from the basic costs, in the scaled duals y/R
      std::vector<double> cb(m, 0.0);
      for (int k = 0; k < b.size(); ++k)
        if (b.basic(k) >= 0) cb[size_t(k)] = a.cost[size_t(b.basic(k))] * C[size_t(b.basic(k))];
      const std::vector<double> y = b.solve(cb, true);
      res.resize(m);
      for (size_t i = 0; i < m; ++i) res[i] = y[i] - s.duals[i] / R[i];
      break;
    }
    case 3: {   // row activities from the columns' values
      const std::vector<double> ax = matvec(s.x);
      res.resize(m);
      for (size_t i = 0; i < m; ++i) res[i] = (ax[i] - activity[i]) * R[i];
      break;
    }
    default: {   // basic costs from the duals: a_j'y (C_j scaled) and -y_i (1/R_i scaled)
      res.resize(m);
      for (int k = 0; k < b.size(); ++k) {
        const int v = b.basic(k);
        res[size_t(k)] = v >= 0 ? (coldot(size_t(v), s.duals) - a.cost[size_t(v)]) * C[size_t(v)]
                                : -s.duals[size_t(-v - 1)] / R[size_t(-v - 1)];
      }
      break;
    }
  }
  return res;
}

}  // namespace

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXbasisstability(KRVXprob prob, int type, int norm, int scaled, double *value) {
  return analysisCall(prob, __func__, [&] {
    if (type < 0 || type > 4)
      raise(kErrInvalid, "type is %d; 0 condition number, 1 solution, 2 duals, 3 right-hand side, 4 basic costs",
            type);
    if (norm < 0 || norm > 2) raise(kErrInvalid, "norm is %d; 0 infinity norm, 1 one-norm, 2 Euclidean norm", norm);
    if (!value) raise(kErrInvalid, "value is NULL");
    OptimalBasis ob(prob, "Basis stability");
    const BasisMatrix b(ob.highs(), ob.arrays(), ob.nrows(), scaled ? &ob.rowScale() : nullptr,
                        scaled ? &ob.colScale() : nullptr);
    *value = type == 0 ? conditionNumber(b, norm) : vecNorm(residual(ob, b, type, scaled != 0), norm);
  });
}
