// Ranging (KRVXobjsa, KRVXbndsa, KRVXrhssa) and dual range estimates against their defining
// properties on Netlib files and random LPs: the basis stays optimal just inside each limit and
// not just outside a finite one; dual estimates bracket the duals of re-solves inside the range.
#include "sensitivity_util.h"

#include <functional>

namespace {

void report(const std::string &name, const char *what, int idx, double value, const char *why) {
  FAIL("%s: %s %d at %.12g: %s", name.c_str(), what, idx, value, why);
}

// Checks limits [lo, hi] of a value now at cur: just inside keeps the basis, just outside a finite
// limit does not, far inside an infinite one keeps it. change(v) gives the changed LP.
void checkLimits(const std::string &name, const char *what, int idx, double cur, double lo, double hi,
                 const std::function<RawLp(double)> &change) {
  if (lo > cur + 1e-6 * (1 + std::fabs(cur)) || hi < cur - 1e-6 * (1 + std::fabs(cur))) {
    report(name, what, idx, cur, "limits do not contain the current value");
    return;
  }
  for (int dir : {-1, 1}) {
    const double lim = dir < 0 ? lo : hi;
    if (lim <= -1e20 || lim >= 1e20) {
      const double far = cur + dir * 1e3 * (1 + std::fabs(cur));
      if (!warmSolve(change(far)).keptBasis()) report(name, what, idx, far, "basis lost inside an infinite limit");
      continue;
    }
    const double in = 1e-7 * (1 + std::fabs(lim)), out = 1e-3 * (1 + std::fabs(lim));
    if (std::fabs(lim - cur) > 2 * in && !warmSolve(change(lim - dir * in)).keptBasis())
      report(name, what, idx, lim - dir * in, "basis lost just inside the limit");
    if (warmSolve(change(lim + dir * out)).keptBasis())
      report(name, what, idx, lim + dir * out, "basis kept just outside the limit");
  }
}

// Every few items of a large problem.
int stride(size_t n) { return n > 20 ? int(n / 20) : 1; }

void checkRanging(KRVXprob p, const std::string &name) {
  const RawLp lp = rawLp(p);
  const int n = int(lp.cost.size()), m = int(lp.rowlo.size());
  std::vector<int> cols, rows;
  for (int j = 0; j < n; j += stride(size_t(n))) cols.push_back(j);
  for (int i = 0; i < m; i += stride(size_t(m))) rows.push_back(i);
  const int nc = int(cols.size()), nr = int(rows.size());
  std::vector<double> clo(cols.size()), chi(cols.size()), lbl(cols.size()), lbu(cols.size()), ubl(cols.size()),
      ubu(cols.size()), rlo(rows.size()), rhi(rows.size());
  EXPECT_OK(p, KRVXobjsa_witharraysizes(p, nc, cols.data(), nc, clo.data(), nc, chi.data(), nc));
  EXPECT_OK(p, KRVXbndsa_witharraysizes(p, nc, cols.data(), nc, lbl.data(), nc, lbu.data(), nc, ubl.data(), nc,
                                        ubu.data(), nc));
  EXPECT_OK(p, KRVXrhssa_witharraysizes(p, nr, rows.data(), nr, rlo.data(), nr, rhi.data(), nr));
  for (size_t k = 0; k < cols.size(); ++k) {
    const size_t j = size_t(cols[k]);
    // the cost, and each finite bound
    const struct { const char *what; std::vector<double> RawLp::*v; double lo, hi; } items[] = {
        {"cost", &RawLp::cost, clo[k], chi[k]}, {"lb", &RawLp::lb, lbl[k], lbu[k]}, {"ub", &RawLp::ub, ubl[k], ubu[k]}};
    for (const auto &it : items)
      if (!std::isinf((lp.*it.v)[j]))
        checkLimits(name, it.what, int(j), (lp.*it.v)[j], it.lo, it.hi, [&](double v) {
          RawLp c = lp;
          (c.*it.v)[j] = it.v == &RawLp::cost ? v : hinf(v);
          return c;
        });
  }
  for (int k = 0; k < nr; ++k) {
    const int i = rows[size_t(k)];
    const double lo = lp.rowlo[size_t(i)], up = lp.rowup[size_t(i)];
    if (std::isinf(lo) && std::isinf(up)) {
      EXPECT(rlo[size_t(k)] == -1e20 && rhi[size_t(k)] == 1e20);
      continue;
    }
    const double rhs = std::isinf(up) ? lo : up;
    checkLimits(name, "rhs", i, rhs, rlo[size_t(k)], rhi[size_t(k)], [&](double v) {
      RawLp c = lp;
      if (std::isinf(up)) c.rowlo[size_t(i)] = v;
      else c.rowup[size_t(i)] = v, c.rowlo[size_t(i)] = std::isinf(lo) ? lo : v - (up - lo);
      return c;
    });
  }
}

// The dual of row i after re-solving a copy with its right-hand side at v (false if not optimal).
bool dualAt(KRVXprob p, int i, double v, double *dual) {
  KRVXprob q = newProb();
  KRVXsetintcontrol(q, KRVX_OUTPUTLOG, 0);
  bool ok = KRVXcopyprob(q, p, "copy") == 0 && KRVXchgrhs(q, 1, &i, &v) == 0 && KRVXlpoptimize(q, "") == 0;
  int solstatus = 0;
  ok = ok && KRVXgetduals(q, &solstatus, dual, i, i) == 0 && solstatus == KRVX_SOLSTATUS_OPTIMAL;
  KRVXdestroyprob(q);
  return ok;
}

void checkDualRanges(KRVXprob p, const std::string &name) {
  const int m = int(p->rows.size());
  std::vector<int> rows;
  for (int i = 0; i < m; i += 2 * stride(size_t(m))) rows.push_back(i);
  const int nr = int(rows.size());
  std::vector<double> lo(rows.size()), hi(rows.size()), lo0(rows.size()), hi0(rows.size());
  EXPECT_OK(p, KRVXestimaterowdualranges_witharraysizes(p, nr, rows.data(), nr, 100000, lo.data(), nr, hi.data(), nr));
  EXPECT_OK(p, KRVXestimaterowdualranges_witharraysizes(p, nr, rows.data(), nr, 0, lo0.data(), nr, hi0.data(), nr));
  std::vector<double> duals(static_cast<size_t>(m));
  int solstatus = 0;
  KRVXgetduals(p, &solstatus, duals.data(), 0, m - 1);
  for (int k = 0; k < nr; ++k) {
    const int i = rows[size_t(k)];
    const double d = duals[size_t(i)], tol = 1e-6 * (1 + std::fabs(d));
    // finitely many bases: with iterations enough both ends are settled
    EXPECT(lo[size_t(k)] <= d + tol && d - tol <= hi[size_t(k)] && lo[size_t(k)] > -1e20 && hi[size_t(k)] < 1e20);
    // without iterations: the current dual, or unsettled (infinite) on a side, and wider
    EXPECT((lo0[size_t(k)] == -1e20 || std::fabs(lo0[size_t(k)] - d) <= tol) &&
           (hi0[size_t(k)] == 1e20 || std::fabs(hi0[size_t(k)] - d) <= tol) && lo0[size_t(k)] <= lo[size_t(k)] + tol &&
           hi[size_t(k)] <= hi0[size_t(k)] + tol);
    const double rhs = p->rows[size_t(i)].rhs;
    for (double t : {-30.0, -1.0, -0.1, 0.1, 1.0, 30.0}) {
      // points strictly inside the feasible range: at its ends the dual is not unique
      const double v = rhs + t * (1 + std::fabs(rhs)), eps = 1e-4 * (1 + std::fabs(v));
      double dt = 0, dn = 0, up = 0;
      if (!dualAt(p, i, v, &dt) || !dualAt(p, i, v - eps, &dn) || !dualAt(p, i, v + eps, &up)) continue;
      const double tt = 1e-6 * (1 + std::fabs(dt));
      if (dt < lo[size_t(k)] - tt || dt > hi[size_t(k)] + tt)
        report(name, "dual range of row", i, dt, "re-solved dual outside the estimate");
    }
  }
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  forEachSolvedLp("test_sensitivity", 20, [](KRVXprob p, const std::string &name, int k) {
    const std::string before = snapshot(p);
    checkRanging(p, name);
    if (k >= 100 || k < 3) checkDualRanges(p, name);
    EXPECT(snapshot(p) == before);
  });
  KRVXfree();
  return finish("test_sensitivity");
}
