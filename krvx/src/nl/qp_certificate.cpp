// The dual bound of a convex QP at a point and multipliers (nlpsolve.h, QpCertificate).
#include "nl/nlpsolve.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace krvx {

QpCertificate::QpCertificate(const NlpModel &m) : m_(m), diag_(size_t(m.n), 0.0), coupled_(size_t(m.n), 0) {
  for (const QTerm &t : m.qobj) {
    if (t.i == t.j) {
      diag_[size_t(t.i)] += m.sense * t.value;
    } else {
      coupled_[size_t(t.i)] = 1;
      coupled_[size_t(t.j)] = 1;
    }
  }
}

void QpCertificate::evaluate(const double *x, const double *y, double dualtol, double &objective,
                             double &bound) const {
  using ld = long double;
  const NlpModel &m = m_;
  const size_t n = size_t(m.n);
  // h = sense * c + A'y over the handed rows, and the rows' support terms
  std::vector<ld> h(n), qx(n, 0.0L);
  for (size_t j = 0; j < n; ++j) h[j] = m.sense * m.cost[j];
  ld total = m.sense * m.objconst;
  bool finite = true;
  for (size_t c = 0; c < m.crows.size(); ++c) {
    const int r = m.crows[c];
    const double lo = m.rowlo[size_t(r)], up = m.rowup[size_t(r)];
    double v = y[c];
    if ((v > 0 && isInf(up)) || (v < 0 && isInf(lo))) v = 0.0;
    if (v == 0.0) continue;
    total -= ld(v) * (v > 0 ? up : lo);
    for (int e = m.jstart[size_t(r)]; e < m.jstart[size_t(r) + 1]; ++e)
      h[size_t(m.jcol[size_t(e)])] += ld(v) * m.jlin[size_t(e)];
  }
  // sense * Q x over the coupled columns (their terms couple coupled columns only)
  for (const QTerm &t : m.qobj) {
    if (t.i == t.j || !coupled_[size_t(t.i)]) continue;
    qx[size_t(t.i)] += ld(m.sense * t.value) * x[t.j];
    qx[size_t(t.j)] += ld(m.sense * t.value) * x[t.i];
  }
  ld obj = m.sense * m.objconst;
  for (size_t j = 0; j < n; ++j) {
    const ld l = m.lb[j], u = m.ub[j], xj = x[j];
    const ld a = diag_[j];
    obj += (ld(m.sense * m.cost[j]) + 0.5L * a * xj) * xj;
    // minimum over [l, u] of the linear term d t (a dual residual toward an infinite side within
    // dualtol is dropped)
    auto linearMin = [&](ld d) -> ld {
      if (d > 0) return !isInf(m.lb[j]) ? d * l : d <= dualtol ? 0.0L : (finite = false, 0.0L);
      if (d < 0) return !isInf(m.ub[j]) ? d * u : -d <= dualtol ? 0.0L : (finite = false, 0.0L);
      return 0.0L;
    };
    if (coupled_[j]) {
      qx[j] += a * xj;
      obj += 0.5L * (qx[j] - a * xj) * xj;
      // tangent at x: h x + 1/2 x'Qx + d (t - x) with d = h + Qx, i.e. -1/2 x (Qx) + d t
      total += -0.5L * xj * qx[j] + linearMin(h[j] + qx[j]);
    } else if (a > 0) {
      ld t = -h[j] / a;
      if (!isInf(m.lb[j])) t = std::max(t, l);
      if (!isInf(m.ub[j])) t = std::min(t, u);
      total += (0.5L * a * t + h[j]) * t;
    } else {
      total += linearMin(h[j]);
    }
  }
  objective = double(obj);
  bound = finite ? double(total) : -std::numeric_limits<double>::infinity();
}

}  // namespace krvx
