#include "solve/recheck.h"
#include "core/controls.h"
#include "core/model.h"
#include "nl/nl.h"
#include "solve/solve.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <numeric>

namespace krvx {

namespace {

constexpr double kRounding = 1e-12;   // relative rounding of a sum, against its terms' magnitudes

class Checker {
 public:
  Checker(const ko_prob_struct &p, const UserFunctions &funcs, const std::vector<double> &x, double feastol,
          double miptol)
      : p_(p), funcs_(funcs), x_(x), feastol_(feastol), miptol_(miptol) {}

  void columns(bool relaxed);
  void rows(bool relaxed);
  void sets();
  void pwls();
  void gencons();
  PointCheck result() const { return res_; }

 private:
  // v must lie within [lo, up] widened by tol; the worst excess is kept, named by name().
  template <class Name>
  void within(double v, double lo, double up, double tol, Name &&name) {
    double excess = 0.0;
    if (!isInf(lo) && v < lo) excess = lo - v;
    if (!isInf(up) && v > up) excess = std::max(excess, v - up);
    note(excess, tol, name);
  }
  template <class Name>
  void note(double excess, double tol, Name &&name) {
    if (!(excess <= tol) && (res_.holds || excess > res_.violation)) {   // NaN fails too
      res_.holds = false;
      res_.violation = excess;
      res_.what = name();
    }
  }
  double boundTol(double b) const { return feastol_ + kRounding * (isInf(b) ? 0.0 : std::fabs(b)); }
  // Distance of v from the nearest integer.
  static double fraction(double v) { return std::fabs(v - std::round(v)); }
  // Whether column j is nonzero beyond what an engine's binary at MIPTOL lets through.
  bool nonzero(int j) const {
    const Column &c = p_.cols[size_t(j)];
    double scale = 1.0;
    if (!isInf(c.lb)) scale = std::max(scale, std::fabs(c.lb));
    if (!isInf(c.ub)) scale = std::max(scale, std::fabs(c.ub));
    return std::fabs(x_[size_t(j)]) > feastol_ + miptol_ * scale;
  }
  std::string name(int kind, int64_t i) const { return objectName(p_, kind, i); }

  const ko_prob_struct &p_;
  const UserFunctions &funcs_;
  const std::vector<double> &x_;
  double feastol_, miptol_;
  PointCheck res_;
};

void Checker::columns(bool relaxed) {
  for (size_t j = 0; j < p_.cols.size(); ++j) {
    const Column &c = p_.cols[j];
    const double v = x_[j];
    auto what = [&] { return "the bounds of column '" + name(2, int64_t(j)) + "'"; };
    if (!std::isfinite(v)) {
      note(std::numeric_limits<double>::infinity(), 0.0, [&] { return "column '" + name(2, int64_t(j)) + "' (not finite)"; });
      continue;
    }
    auto integral = [&] {
      if (!relaxed) note(fraction(v), miptol_, [&] { return "the integrality of column '" + name(2, int64_t(j)) + "'"; });
    };
    switch (c.type) {
      case 'B':
        within(v, std::max(c.lb, 0.0), std::min(c.ub, 1.0), boundTol(1.0), what);
        integral();
        break;
      case 'I':
        within(v, c.lb, c.ub, boundTol(std::max(std::fabs(c.lb), std::fabs(c.ub))), what);
        integral();
        break;
      case 'S':
      case 'R': {
        // engines meet the domain through a binary (or natively) at MIPTOL
        const double lo = semiLower(p_, j);
        const double size = std::max({1.0, std::fabs(lo), isInf(c.ub) ? 0.0 : std::fabs(c.ub)});
        const double tol = boundTol(size) + miptol_ * size;
        if (relaxed || std::fabs(v) <= tol) {
          within(v, std::min(lo, 0.0), std::max(c.ub, 0.0), tol, what);
        } else {
          within(v, lo, c.ub, tol, [&] { return "the semi-continuous domain of column '" + name(2, int64_t(j)) + "'"; });
          if (c.type == 'R') integral();
        }
        break;
      }
      case 'P':
        within(v, c.lb, c.ub, boundTol(std::max(std::fabs(c.lb), std::fabs(c.ub))), what);
        if (v < colLimit(p_, j) - feastol_) integral();
        break;
      default:
        within(v, c.lb, c.ub, boundTol(std::max(std::fabs(c.lb), std::fabs(c.ub))), what);
        break;
    }
  }
}

void Checker::rows(bool relaxed) {
  const size_t m = p_.rows.size();
  std::vector<double> act(m, 0.0), mag(m, 0.0);
  std::vector<char> unknown(m, 0), binaries(m, 0);   // binaries: formulas the engines meet through binaries
  for (int j = 0; j < p_.matrix.ncols() && size_t(j) < x_.size(); ++j) {
    const double v = x_[size_t(j)];
    if (v == 0.0) continue;
    for (Entry e : p_.matrix.col(j)) {
      const double t = e.value * v;
      act[size_t(e.index)] += t;
      mag[size_t(e.index)] += std::fabs(t);
    }
  }
  for (size_t i = 0; i < p_.qrows.size() && i < m; ++i)
    for (const QTerm &q : p_.qrows[i]) {
      const double t = (q.i == q.j ? 1.0 : 2.0) * q.value * x_[size_t(q.i)] * x_[size_t(q.j)];
      act[i] += t;
      mag[i] += std::fabs(t);
    }
  for (size_t i = 0; i < p_.nlrows.size() && i < m; ++i)
    for (const Formula &f : p_.nlrows[i]) {
      try {
        const nl::Tape t = nl::compile(f, int64_t(p_.cols.size()), funcs_, "formula of row " + std::to_string(i));
        const double v = nl::eval(t, x_.data(), funcs_, p_.nl, nullptr);
        act[i] += v;
        mag[i] += std::fabs(v);
        for (const nl::Node &nd : t.nodes) binaries[i] = binaries[i] || nl::isNonsmooth(nd);
      } catch (const Error &) {
        unknown[i] = 1;   // not evaluable here: the row is not judged
      }
    }
  for (size_t i = 0; i < m; ++i) {
    const Row &r = p_.rows[i];
    if (r.type == 'N' || unknown[i]) continue;
    if (i < p_.indicators.size() && p_.indicators[i].col >= 0 && p_.indicators[i].complement != 0) {
      if (relaxed) continue;
      const double b = x_[size_t(p_.indicators[i].col)];
      if (std::fabs(b - (p_.indicators[i].complement > 0 ? 1.0 : 0.0)) > 0.5) continue;   // not enforced
    }
    double lo = -kInf, up = kInf;
    switch (r.type) {
      case 'L': up = r.rhs; break;
      case 'G': lo = r.rhs; break;
      case 'E': lo = up = r.rhs; break;
      case 'R': lo = rowBottom(p_, i), up = r.rhs; break;
      default: break;
    }
    if (!std::isfinite(act[i])) {
      note(std::numeric_limits<double>::infinity(), 0.0, [&] { return "row '" + name(1, int64_t(i)) + "' (not finite)"; });
      continue;
    }
    const double tol = feastol_ + (binaries[i] ? miptol_ * std::max(1.0, mag[i]) : kRounding * mag[i]);
    within(act[i], lo, up, tol, [&] { return "row '" + name(1, int64_t(i)) + "'"; });
  }
}

void Checker::sets() {
  for (size_t k = 0; k < p_.sets.size(); ++k) {
    const Set &s = p_.sets[k];
    std::vector<size_t> order(s.cols.size());
    std::iota(order.begin(), order.end(), size_t(0));
    if (s.weights.size() == s.cols.size())
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return s.weights[a] < s.weights[b]; });
    std::vector<size_t> on;   // positions in weight order of the nonzero members
    for (size_t e = 0; e < order.size(); ++e)
      if (nonzero(s.cols[order[e]])) on.push_back(e);
    const bool ok = s.type == '2' ? on.size() <= 1 || (on.size() == 2 && on[1] == on[0] + 1) : on.size() <= 1;
    if (!ok)
      note(1.0, 0.0, [&] {
        return "set '" + name(3, int64_t(k)) + "' (" + std::to_string(on.size()) + " nonzero members)";
      });
  }
}

void Checker::pwls() {
  for (size_t k = 0; k < p_.pwls.size(); ++k) {
    const PwlCons &c = p_.pwls[k];
    const size_t n = c.x.size();
    if (n == 0 || c.y.size() != n) continue;
    const double xv = x_[size_t(c.col)], yv = x_[size_t(c.resultant)];
    double scale = 1.0;
    for (size_t t = 0; t < n; ++t) scale = std::max({scale, std::fabs(c.x[t]), std::fabs(c.y[t])});
    const double tol = feastol_ + miptol_ * scale;
    // the nearest value of y among the pieces that hold x (end segments extend beyond the ends)
    double best = kInf;
    auto piece = [&](size_t a, size_t b, bool before, bool after) {
      const double x0 = c.x[a], x1 = c.x[b];
      if ((!before && xv < x0 - feastol_) || (!after && xv > x1 + feastol_)) return;
      const double f = x1 > x0 ? c.y[a] + (xv - x0) * (c.y[b] - c.y[a]) / (x1 - x0) : c.y[a];
      best = std::min(best, std::fabs(yv - f));
    };
    for (size_t t = 0; t < n; ++t) {
      if (t + 1 < n && c.x[t + 1] > c.x[t]) piece(t, t + 1, t == 0, t + 2 == n);
      else piece(t, t, false, false);
    }
    within(best, -kInf, 0.0, tol, [&] { return "piecewise-linear constraint '" + name(4, int64_t(k)) + "'"; });
  }
}

void Checker::gencons() {
  for (size_t k = 0; k < p_.gencons.size(); ++k) {
    const GenCons &g = p_.gencons[k];
    const double y = x_[size_t(g.resultant)];
    double want = 0.0, scale = std::max(1.0, std::fabs(y));
    std::vector<double> ops;
    for (int j : g.cols) ops.push_back(x_[size_t(j)]);
    switch (g.type) {
      case 0:
      case 1: {
        ops.insert(ops.end(), g.vals.begin(), g.vals.end());
        if (ops.empty()) continue;
        want = g.type == 0 ? *std::max_element(ops.begin(), ops.end()) : *std::min_element(ops.begin(), ops.end());
        break;
      }
      case 2:
      case 3: {
        bool v = g.type == 2;
        for (double o : ops) v = g.type == 2 ? v && o > 0.5 : v || o > 0.5;
        for (double o : g.vals) v = g.type == 2 ? v && o > 0.5 : v || o > 0.5;
        want = v ? 1.0 : 0.0;
        break;
      }
      case 4:
        if (ops.empty()) continue;
        want = std::fabs(ops[0]);
        break;
      default: continue;
    }
    for (double o : ops) scale = std::max(scale, std::fabs(o));
    within(y - want, 0.0, 0.0, feastol_ + miptol_ * scale,
           [&] { return "general constraint '" + name(5, int64_t(k)) + "'"; });
  }
}

}  // namespace

PointCheck checkPoint(ko_prob_struct *p, const Solution &sol, bool relaxed) {
  double feastol, miptol;
  UserFunctions funcs;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    feastol = ctlDbl(p, KRVX_FEASTOL);
    miptol = ctlDbl(p, KRVX_MIPTOL);
    if (p->nl) funcs = p->nl->funcs;
  }
  if (!sol.has_x && !p->cols.empty()) {   // an optimum or feasible end without its point
    PointCheck none;
    none.holds = false;
    none.violation = std::numeric_limits<double>::infinity();
    none.what = "no point";
    return none;
  }
  if (!sol.has_x || sol.x.size() != p->cols.size()) return PointCheck();
  Checker c(*p, funcs, sol.x, feastol, miptol);
  c.columns(relaxed);
  c.rows(relaxed);
  if (!relaxed) {
    c.sets();
    c.pwls();
    c.gencons();
  }
  return c.result();
}

bool recheckSolution(ko_prob_struct *p, Solution &sol, bool relaxed) {
  const bool optimal = sol.solstatus == KRVX_SOLSTATUS_OPTIMAL;
  if (!optimal && sol.solstatus != KRVX_SOLSTATUS_FEASIBLE) return true;
  const PointCheck check = checkPoint(p, sol, relaxed);
  if (check.holds) return true;
  double feastol, miptol;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    feastol = ctlDbl(p, KRVX_FEASTOL);
    miptol = ctlDbl(p, KRVX_MIPTOL);
  }
  sol.solstatus = KRVX_SOLSTATUS_NOTFOUND;
  if (sol.solvestatus == KRVX_SOLVESTATUS_COMPLETED) {
    sol.solvestatus = KRVX_SOLVESTATUS_FAILED;
    sol.stopstatus = kStopNumerical;
  }
  sol.has_duals = false;
  sol.duals.clear();
  sol.djs.clear();
  if (sol.lpstatus == kLpOptimal) sol.lpstatus = kLpUnfinished;
  if (sol.mipstatus == kMipOptimal || sol.mipstatus == kMipSolution) sol.mipstatus = kMipNoSolFound;
  if (sol.mipstatus == kMipLpOptimal) sol.mipstatus = kMipLpNotOptimal;
  // a continuous optimum's bound was its own value; a search's bound stays valid
  if (sol.mipstatus == kMipNotLoaded || sol.mipstatus == kMipLpNotOptimal)
    sol.bestbound = p->objsense < 0 ? kInf : -kInf;
  if (!sol.has_x) {
    messageCode(p, kMsgSolve, 3, "The solver reported the problem %s without a point: it is not reported as a solution",
                optimal ? "optimal" : "feasible");
    return false;
  }
  messageCode(p, kMsgSolve, 3,
              "The point the solver reported as %s violates %s by %.3g (FEASTOL %g, MIPTOL %g): it is not "
              "reported as a solution",
              optimal ? "optimal" : "feasible", check.what.c_str(), check.violation, feastol, miptol);
  return false;
}

}  // namespace krvx
