#include "analysis/basis_matrix.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace krvx {

BasisMatrix::BasisMatrix(void *h, const ModelArrays &a, int nrows, const std::vector<double> *rowscale,
                         const std::vector<double> *colscale)
    : h_(h), a_(a), m_(nrows) {
  const size_t m = size_t(m_);
  basic_.resize(m);
  if (m_ && Highs_getBasicVariables(h, basic_.data()) == kHighsStatusError)
    raise(kErrSolver, "the solver could not give the basic variables");
  rscale_ = rowscale ? *rowscale : std::vector<double>(m, 1.0);
  bscale_.assign(m, 1.0);
  // B^-1 e_i = sign * e_k for the basic row i at position k
  for (size_t k = 0; k < m; ++k) {
    if (basic_[k] >= 0) continue;
    std::vector<double> e(m, 0.0);
    e[size_t(-basic_[k] - 1)] = 1.0;
    slacksign_ = rawSolve(e, false)[k] < 0 ? -1.0 : 1.0;
    break;
  }
  for (size_t k = 0; k < m; ++k) {
    const int v = basic_[k];
    bscale_[k] = v >= 0 ? (colscale ? (*colscale)[size_t(v)] : 1.0) : 1.0 / rscale_[size_t(-v - 1)];
  }
}

std::vector<std::pair<int, double>> BasisMatrix::column(int k) const {
  std::vector<std::pair<int, double>> col;
  const int v = basic_[size_t(k)];
  if (v < 0) {
    col.emplace_back(-v - 1, -1.0);
    return col;
  }
  const int *start = a_.colStart(), *index = a_.rowIndex();
  const double *value = a_.coefValue();
  for (int p = start[v]; p < start[v + 1]; ++p) {
    const int i = index[p];
    col.emplace_back(i, value[p] * rscale_[size_t(i)] * bscale_[size_t(k)]);
  }
  return col;
}

std::vector<double> BasisMatrix::solve(std::vector<double> v, bool transposed) const {
  const size_t m = size_t(m_);
  if (!transposed) {
    for (size_t i = 0; i < m; ++i) v[i] /= rscale_[i];
    std::vector<double> x = rawSolve(v, false);
    for (size_t k = 0; k < m; ++k) x[k] = x[k] * flip(k) / bscale_[k];
    return x;
  }
  for (size_t k = 0; k < m; ++k) v[k] = v[k] * flip(k) / bscale_[k];
  std::vector<double> y = rawSolve(v, true);
  for (size_t i = 0; i < m; ++i) y[i] /= rscale_[i];
  return y;
}

std::vector<double> BasisMatrix::rawSolve(const std::vector<double> &rhs, bool transposed) const {
  const size_t m = size_t(m_);
  std::vector<double> x(m, 0.0);
  if (m == 0) return x;   // no rows, no basis matrix
  std::vector<HighsInt> idx(m);
  HighsInt nz = 0;
  const HighsInt rc = transposed ? Highs_getBasisTransposeSolve(h_, rhs.data(), x.data(), &nz, idx.data())
                                 : Highs_getBasisSolve(h_, rhs.data(), x.data(), &nz, idx.data());
  if (rc == kHighsStatusError) raise(kErrSolver, "the solver could not solve with the basis");
  return x;
}

std::pair<double, double> rowActivityRange(const BasisMatrix &b, const ModelArrays &a, int i,
                                           const std::vector<double> &x, const std::vector<double> &activity) {
  const double inf = std::numeric_limits<double>::infinity();
  const size_t m = size_t(b.size());
  // r_i up by t: the basic values move by t * B^-1 e_i
  std::vector<double> e(m, 0.0);
  e[size_t(i)] = 1.0;
  const std::vector<double> dz = b.solve(e, false);
  double dn = -inf, up = inf;
  for (size_t k = 0; k < m; ++k) {
    if (std::fabs(dz[k]) < 1e-9) continue;
    const int v = b.basic(int(k));
    const double z = v >= 0 ? x[size_t(v)] : activity[size_t(-v - 1)];
    const double lo = v >= 0 ? a.lower[size_t(v)] : a.rowlo[size_t(-v - 1)];
    const double hi = v >= 0 ? a.upper[size_t(v)] : a.rowup[size_t(-v - 1)];
    const double toHi = std::max(0.0, hi - z), toLo = std::min(0.0, lo - z);
    if (dz[k] > 0) {
      up = std::min(up, toHi / dz[k]);
      dn = std::max(dn, toLo / dz[k]);
    } else {
      up = std::min(up, toLo / dz[k]);
      dn = std::max(dn, toHi / dz[k]);
    }
  }
  return {dn, up};
}

}  // namespace krvx
