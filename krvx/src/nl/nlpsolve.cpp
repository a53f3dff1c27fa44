#include "nl/nlpsolve.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace krvx {

namespace {

bool usesUnderivedFunction(const nl::Tape &t, const UserFunctions &funcs) {
  for (const nl::Node &nd : t.nodes)
    if (nd.kind == nl::Kind::User && funcs[size_t(nd.code)].functype == KRVN_FUNCTYPE_VALUE) return true;
  return false;
}

// Lower-triangle pattern: collects (row, col) pairs with row >= col, then finds their positions.
class Pattern {
 public:
  void add(int a, int b) { pairs_.emplace_back(std::max(a, b), std::min(a, b)); }
  void finish() {
    std::sort(pairs_.begin(), pairs_.end(), [](const auto &x, const auto &y) {
      return x.second != y.second ? x.second < y.second : x.first < y.first;
    });
    pairs_.erase(std::unique(pairs_.begin(), pairs_.end()), pairs_.end());
  }
  int pos(int a, int b) const {
    std::pair<int, int> key(std::max(a, b), std::min(a, b));
    auto it = std::lower_bound(pairs_.begin(), pairs_.end(), key, [](const auto &x, const auto &y) {
      return x.second != y.second ? x.second < y.second : x.first < y.first;
    });
    return int(it - pairs_.begin());
  }
  void tapePairs(const nl::Tape &t) {
    for (size_t a = 0; a < t.cols.size(); ++a)
      for (size_t b = 0; b <= a; ++b) add(t.cols[a], t.cols[b]);
  }
  std::vector<int> tapePositions(const nl::Tape &t) const {
    const size_t k = t.cols.size();
    std::vector<int> out(k * k, -1);
    for (size_t a = 0; a < k; ++a)
      for (size_t b = 0; b <= a; ++b) out[a * k + b] = pos(t.cols[a], t.cols[b]);
    return out;
  }
  void store(std::vector<int> &hrow, std::vector<int> &hcol) const {
    for (const auto &pr : pairs_) {
      hrow.push_back(pr.first);
      hcol.push_back(pr.second);
    }
  }

 private:
  std::vector<std::pair<int, int>> pairs_;
};

// Adds t's value to *value (when not null) and weight * its gradient to the dense g.
double tapeValue(const NlpModel &m, const nl::Tape &t, const double *x, double *g, double weight) {
  return nl::eval(t, x, m.funcs, m.nl, g, weight);
}

// weight * Hess(t) into the lower-triangle values at the tape's positions.
void tapeHessian(const NlpModel &m, const nl::Tape &t, const std::vector<int> &pos, const double *x, double weight,
                 double *vals, std::vector<double> &scratch) {
  if (weight == 0.0 || t.cols.empty()) return;
  const size_t k = t.cols.size();
  double *dir = scratch.data(), *hv = scratch.data() + m.n;
  for (size_t b = 0; b < k; ++b) {
    const int c = t.cols[b];
    dir[c] = 1.0;
    nl::hessVec(t, x, dir, m.funcs, m.nl, hv, weight);
    dir[c] = 0.0;
    for (size_t a = 0; a < k; ++a) {
      if (a >= b) vals[pos[a * k + b]] += hv[t.cols[a]];
      hv[t.cols[a]] = 0.0;
    }
  }
}

}  // namespace

bool NlpModel::hasNonlinear() const {
  if (!qobj.empty() || !objtapes.empty()) return true;
  for (const auto &q : qrows)
    if (!q.empty()) return true;
  for (const auto &t : rowtapes)
    if (!t.empty()) return true;
  return false;
}

bool qpRetry(int rc, const Solution &out, int64_t qplimit) {
  if (rc != 0) return out.lpstatus == kLpNonconvex || out.solvestatus == KRVX_SOLVESTATUS_FAILED;
  return out.solvestatus == KRVX_SOLVESTATUS_FAILED || out.solstatus == KRVX_SOLSTATUS_UNBOUNDED ||
         (out.solvestatus == KRVX_SOLVESTATUS_COMPLETED && out.solstatus == KRVX_SOLSTATUS_NOTFOUND) ||
         (out.solvestatus == KRVX_SOLVESTATUS_STOPPED && out.stopstatus == kStopIterLimit &&
          out.simplexiter >= qplimit);
}

int qpIterationLimit(const Lowered &low) {
  return int(std::min<int64_t>(1000 + 20 * (int64_t(low.hcols) + low.hrows), 1 << 30));
}

void nlpBuild(ko_prob_struct *p, const Lowered &low, const ModelArrays &a, NlpModel &m) {
  m = NlpModel();
  auto bound = [](double v) { return v >= kInf ? kInf : v <= -kInf ? -kInf : v; };
  m.n = low.hcols;
  m.nrows = low.hrows;
  m.usercols = low.ncols;
  m.userrows = low.nrows;
  m.sense = p->objsense < 0 ? -1.0 : 1.0;
  m.objconst = a.offset;
  m.discrete = low.discrete;
  m.split = low.split;
  m.rowconst = low.rowconst;
  m.nl = p->nl;
  if (p->nl) m.funcs = p->nl->funcs;
  m.lb.resize(size_t(m.n));
  m.ub.resize(size_t(m.n));
  m.cost = a.cost;
  m.integer.assign(size_t(m.n), 0);
  for (int j = 0; j < m.n; ++j) {
    m.lb[size_t(j)] = bound(a.lower[size_t(j)]);
    m.ub[size_t(j)] = bound(a.upper[size_t(j)]);
    if (!low.relax && !a.integrality.empty() && a.integrality[size_t(j)] != 0) {
      // branch-and-bound needs integral bounds of integer columns
      m.integer[size_t(j)] = 1;
      integralBounds(m.lb[size_t(j)], m.ub[size_t(j)]);
    }
  }
  if (low.engine == Engine::Bonmin && !low.relax)
    for (size_t s = 0; s < p->sets.size(); ++s)
      if (s >= low.reform.setbinaries.size() || low.reform.setbinaries[s].second == 0) m.sets.emplace_back(int(s), &p->sets[s]);
  m.rowlo.resize(size_t(m.nrows));
  m.rowup.resize(size_t(m.nrows));
  m.rhs.assign(low.rhs.begin(), low.rhs.end());
  m.rhs.resize(size_t(m.nrows), 0.0);
  for (int i = 0; i < m.nrows; ++i) {
    m.rowlo[size_t(i)] = bound(a.rowlo[size_t(i)]);
    m.rowup[size_t(i)] = bound(a.rowup[size_t(i)]);
    if (!isInf(m.rowlo[size_t(i)]) || !isInf(m.rowup[size_t(i)])) m.crows.push_back(i);
  }
  m.qobj = mergedTerms(p->qobj);
  m.qrows.resize(size_t(m.nrows));
  for (size_t i = 0; i < p->qrows.size() && i < size_t(m.userrows); ++i) m.qrows[i] = mergedTerms(p->qrows[i]);
  m.rowtapes = low.tapes;
  m.rowtapes.resize(std::min(m.rowtapes.size(), size_t(m.nrows)));
  m.objtapes = low.objtapes;
  branchingInfo(p, low, m.branching);

  // Jacobian pattern, row-wise: linear coefficients, then quadratic and formula columns
  std::vector<std::vector<std::pair<int, double>>> rowcols(size_t(m.nrows));
  for (int j = 0; j < m.n; ++j)
    for (int e = a.colStart()[j]; e < a.colStart()[j + 1]; ++e)
      rowcols[size_t(a.rowIndex()[e])].emplace_back(j, a.coefValue()[e]);
  for (int i = 0; i < m.nrows; ++i) {
    auto &rc = rowcols[size_t(i)];
    for (const QTerm &t : m.qrows[size_t(i)]) {
      rc.emplace_back(t.i, 0.0);
      rc.emplace_back(t.j, 0.0);
    }
    if (size_t(i) < m.rowtapes.size())
      for (const nl::Tape &t : m.rowtapes[size_t(i)])
        for (int c : t.cols) rc.emplace_back(c, 0.0);
    std::sort(rc.begin(), rc.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    m.jstart.push_back(int(m.jcol.size()));
    for (const auto &cv : rc) {
      if (!m.jcol.empty() && int(m.jcol.size()) > m.jstart.back() && m.jcol.back() == cv.first) {
        m.jlin.back() += cv.second;
      } else {
        m.jcol.push_back(cv.first);
        m.jlin.push_back(cv.second);
      }
    }
    rc = {};
  }
  m.jstart.push_back(int(m.jcol.size()));
  // rows without columns are constants: the solver is not given them (it counts them as
  // equations in no variable), their bounds are checked instead
  std::vector<int> handed;
  for (int i : m.crows) (m.jstart[size_t(i) + 1] > m.jstart[size_t(i)] ? handed : m.emptyrows).push_back(i);
  m.crows.swap(handed);

  // Hessian pattern
  for (const auto &tapes : m.rowtapes)
    for (const nl::Tape &t : tapes) m.exactHessian = m.exactHessian && !usesUnderivedFunction(t, m.funcs);
  for (const nl::Tape &t : m.objtapes) m.exactHessian = m.exactHessian && !usesUnderivedFunction(t, m.funcs);
  Pattern pat;
  for (const QTerm &t : m.qobj) pat.add(t.i, t.j);
  for (const auto &q : m.qrows)
    for (const QTerm &t : q) pat.add(t.i, t.j);
  for (const auto &tapes : m.rowtapes)
    for (const nl::Tape &t : tapes) pat.tapePairs(t);
  for (const nl::Tape &t : m.objtapes) pat.tapePairs(t);
  pat.finish();
  pat.store(m.hrow, m.hcol);
  for (const QTerm &t : m.qobj) m.qobjpos.push_back(pat.pos(t.i, t.j));
  m.qrowpos.resize(m.qrows.size());
  for (size_t i = 0; i < m.qrows.size(); ++i)
    for (const QTerm &t : m.qrows[i]) m.qrowpos[i].push_back(pat.pos(t.i, t.j));
  for (const auto &tapes : m.rowtapes) {
    for (const nl::Tape &t : tapes) m.rowtapepos.push_back(pat.tapePositions(t));
  }
  for (const nl::Tape &t : m.objtapes) m.objtapepos.push_back(pat.tapePositions(t));
}

int nlpPrepare(ko_prob_struct *p, NlpModel &m) {
  Lowered low;
  ModelArrays a;
  if (int rc = planLowering(p, low)) return rc;
  buildArrays(p, low, a);
  nlpBuild(p, low, a, m);
  return 0;
}

bool nlpUserSolution(const NlpModel &m, const double *x, const double *body, Solution &out) {
  try {
    out.objval = m.objective(x);
  } catch (const Error &) {
    return false;
  }
  out.x.assign(x, x + m.usercols);
  for (int j = 0; j < m.usercols && !m.split.empty(); ++j)
    if (m.split[size_t(j)] >= 0) out.x[size_t(j)] += x[m.split[size_t(j)]];
  out.slack.resize(size_t(m.userrows));
  for (int i = 0; i < m.userrows; ++i)
    out.slack[size_t(i)] = m.rhs[size_t(i)] - body[i] - (m.rowconst.empty() ? 0.0 : m.rowconst[size_t(i)]);
  out.has_x = true;
  return true;
}

void nlpStartPoint(const NlpModel &m, std::vector<double> &x) {
  x.resize(size_t(m.n));
  for (int j = 0; j < m.n; ++j) {
    const double l = m.lb[size_t(j)], u = m.ub[size_t(j)];
    const double base = std::min(std::max(0.0, l), u);
    x[size_t(j)] = base;
    if (isInf(l) || isInf(u) || !(u > l)) continue;
    // 5 to 10 % of the box (at most 1) away from 0, a different share per column
    const double off = std::min((0.05 + 0.05 * double(j % 7) / 7.0) * (u - l), 1.0);
    x[size_t(j)] = base + off <= u ? base + off : base - off;
  }
}

void nlpRetryPoint(const NlpModel &m, int attempt, std::vector<double> &x) {
  nlpStartPoint(m, x);
  for (int j = 0; j < m.n; ++j) {
    // a fixed pseudo-random share in [0, 1) per column and attempt
    uint64_t h = uint64_t(attempt) * 0x9E3779B97F4A7C15ULL + uint64_t(j) * 0xBF58476D1CE4E5B9ULL + 1;
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBULL;
    h ^= h >> 31;
    const double u = double(h >> 11) * 0x1.0p-53;
    const double l = m.lb[size_t(j)], up = m.ub[size_t(j)], base = x[size_t(j)];
    const double width = 10.0 * std::max(1.0, std::fabs(base));
    if (!isInf(l) && !isInf(up)) x[size_t(j)] = l + u * (up - l);
    else if (!isInf(l)) x[size_t(j)] = l + u * width;
    else if (!isInf(up)) x[size_t(j)] = up - u * width;
    else x[size_t(j)] = base + (2.0 * u - 1.0) * width;
  }
}

bool nlpDescentStart(const NlpModel &m, NlpEvaluator &ev, const std::vector<double> &x,
                     const std::vector<double> &multg, double feastol, std::vector<double> &start) {
  if (!m.hasNonlinear() || m.hrow.empty()) return false;
  std::vector<double> vals(m.hrow.size());
  if (!ev.hessian(x.data(), 1.0, multg.data(), vals.data()) || !ev.bodies(x.data())) return false;
  // columns free to move both ways: strictly inside their bounds and in no active row
  const double tol = std::max(feastol, 1e-7);
  std::vector<char> movable(size_t(m.n), 0);
  for (int j = 0; j < m.n; ++j)
    movable[size_t(j)] = x[size_t(j)] > m.lb[size_t(j)] + tol && x[size_t(j)] < m.ub[size_t(j)] - tol;
  for (int i : m.crows) {
    const double b = ev.body()[size_t(i)];
    const double lo = m.rowlo[size_t(i)], up = m.rowup[size_t(i)];
    if ((!isInf(lo) && b <= lo + tol * (1 + std::fabs(lo))) || (!isInf(up) && b >= up - tol * (1 + std::fabs(up))))
      for (int e = m.jstart[size_t(i)]; e < m.jstart[size_t(i) + 1]; ++e) movable[size_t(m.jcol[size_t(e)])] = 0;
  }
  // the Hessian over at most 60 movable columns of its pattern, dense
  std::vector<int> cols, slot(size_t(m.n), -1);
  for (size_t k = 0; k < m.hrow.size(); ++k)
    for (int c : {m.hrow[k], m.hcol[k]})
      if (movable[size_t(c)] && slot[size_t(c)] < 0 && cols.size() < 60) {
        slot[size_t(c)] = int(cols.size());
        cols.push_back(c);
      }
  const size_t k = cols.size();
  if (k == 0) return false;
  std::vector<double> h(k * k, 0.0);
  for (size_t e = 0; e < m.hrow.size(); ++e) {
    const int a = slot[size_t(m.hrow[e])], b = slot[size_t(m.hcol[e])];
    if (a < 0 || b < 0) continue;
    h[size_t(a) * k + size_t(b)] += vals[e];
    if (a != b) h[size_t(b) * k + size_t(a)] += vals[e];
  }
  // directions e_a and e_a +- e_b, most negative curvature first
  struct Dir { int a, b; double sign, curv; };
  std::vector<Dir> dirs;
  for (size_t a = 0; a < k; ++a) {
    const double haa = h[a * k + a];
    if (haa < -1e-8) dirs.push_back({int(a), -1, 0.0, haa});
    for (size_t b = 0; b < a; ++b)
      for (double sg : {1.0, -1.0}) {
        const double c = haa + h[b * k + b] + 2.0 * sg * h[a * k + b];
        if (c < -1e-8) dirs.push_back({int(a), int(b), sg, c / 2.0});
      }
  }
  std::sort(dirs.begin(), dirs.end(), [](const Dir &p, const Dir &q) { return p.curv < q.curv; });
  double f0 = 0.0;
  if (!ev.objective(x.data(), f0)) return false;
  auto step = [&](int c) {
    const double l = m.lb[size_t(c)], u = m.ub[size_t(c)];
    return !isInf(l) && !isInf(u) ? 0.25 * (u - l) : 0.25 * std::max(1.0, std::fabs(x[size_t(c)]));
  };
  for (size_t d = 0; d < dirs.size() && d < 20; ++d)
    for (double dir : {1.0, -1.0})
      for (double scale : {1.0, 0.25}) {
        start = x;
        auto move = [&](int c, double by) {
          start[size_t(c)] = std::min(std::max(start[size_t(c)] + by, m.lb[size_t(c)]), m.ub[size_t(c)]);
        };
        const int a = cols[size_t(dirs[d].a)];
        move(a, dir * scale * step(a));
        if (dirs[d].b >= 0) {
          const int b = cols[size_t(dirs[d].b)];
          move(b, dir * dirs[d].sign * scale * step(b));
        }
        double f = 0.0;
        if (!ev.objective(start.data(), f) || !(f < f0 - 1e-9 * (1.0 + std::fabs(f0))) || !ev.bodies(start.data()))
          continue;
        if (m.violation(start.data(), ev.body().data()) <= feastol) return true;
      }
  return false;
}

// ---- evaluation ----

double NlpModel::objective(const double *x) const {
  double f = objconst;
  for (int j = 0; j < n; ++j) f += cost[size_t(j)] * x[j];
  for (const QTerm &t : qobj) f += (t.i == t.j ? 0.5 : 1.0) * t.value * x[t.i] * x[t.j];
  for (const nl::Tape &t : objtapes) f += tapeValue(*this, t, x, nullptr, 1.0);
  return f;
}

void NlpModel::gradient(const double *x, double *g) const {
  for (int j = 0; j < n; ++j) g[j] = sense * cost[size_t(j)];
  for (const QTerm &t : qobj) {
    if (t.i == t.j) {
      g[t.i] += sense * t.value * x[t.i];
    } else {
      g[t.i] += sense * t.value * x[t.j];
      g[t.j] += sense * t.value * x[t.i];
    }
  }
  for (const nl::Tape &t : objtapes) tapeValue(*this, t, x, g, sense);
}

void NlpModel::bodies(const double *x, double *body) const {
  for (int i = 0; i < nrows; ++i) {
    double v = 0.0;
    for (int k = jstart[size_t(i)]; k < jstart[size_t(i) + 1]; ++k) v += jlin[size_t(k)] * x[jcol[size_t(k)]];
    for (const QTerm &t : qrows[size_t(i)]) v += (t.i == t.j ? 1.0 : 2.0) * t.value * x[t.i] * x[t.j];
    if (size_t(i) < rowtapes.size())
      for (const nl::Tape &t : rowtapes[size_t(i)]) v += tapeValue(*this, t, x, nullptr, 1.0);
    body[i] = v;
  }
}

void NlpModel::jacobian(const double *x, double *vals, std::vector<double> &scratch) const {
  scratch.assign(size_t(n), 0.0);
  double *g = scratch.data();
  size_t out = 0;
  for (int i : crows) {
    const int b = jstart[size_t(i)], e = jstart[size_t(i) + 1];
    for (const QTerm &t : qrows[size_t(i)]) {
      if (t.i == t.j) {
        g[t.i] += 2.0 * t.value * x[t.i];
      } else {
        g[t.i] += 2.0 * t.value * x[t.j];
        g[t.j] += 2.0 * t.value * x[t.i];
      }
    }
    if (size_t(i) < rowtapes.size())
      for (const nl::Tape &t : rowtapes[size_t(i)]) tapeValue(*this, t, x, g, 1.0);
    for (int k = b; k < e; ++k) {
      const int c = jcol[size_t(k)];
      vals[out++] = jlin[size_t(k)] + g[c];
      g[c] = 0.0;
    }
  }
}

void NlpModel::hessian(const double *x, double objfactor, const double *lambda, double *vals,
                       std::vector<double> &scratch) const {
  std::fill(vals, vals + hrow.size(), 0.0);
  scratch.assign(2 * size_t(n), 0.0);
  const double wobj = objfactor * sense;
  for (size_t k = 0; k < qobj.size(); ++k) vals[qobjpos[k]] += wobj * qobj[k].value;
  for (const nl::Tape &t : objtapes) tapeHessian(*this, t, objtapepos[size_t(&t - objtapes.data())], x, wobj, vals, scratch);
  size_t tape = 0;
  for (int i = 0; i < nrows; ++i) {
    const double w = lambda[i];
    if (w != 0.0)
      for (size_t k = 0; k < qrows[size_t(i)].size(); ++k) vals[qrowpos[size_t(i)][k]] += 2.0 * w * qrows[size_t(i)][k].value;
    if (size_t(i) < rowtapes.size())
      for (const nl::Tape &t : rowtapes[size_t(i)]) tapeHessian(*this, t, rowtapepos[tape++], x, w, vals, scratch);
  }
}

bool NlpModel::emptyRowsHold(double feastol) const {
  for (int i : emptyrows)
    if ((!isInf(rowlo[size_t(i)]) && rowlo[size_t(i)] > feastol * std::max(1.0, std::fabs(rowlo[size_t(i)]))) ||
        (!isInf(rowup[size_t(i)]) && rowup[size_t(i)] < -feastol * std::max(1.0, std::fabs(rowup[size_t(i)]))))
      return false;
  return true;
}

double NlpModel::violation(const double *x, const double *body) const {
  double worst = 0.0;
  auto check = [&worst](double v, double lo, double up) {
    if (!isInf(lo) && v < lo) worst = std::max(worst, (lo - v) / std::max(1.0, std::fabs(lo)));
    if (!isInf(up) && v > up) worst = std::max(worst, (v - up) / std::max(1.0, std::fabs(up)));
  };
  for (int j = 0; j < n; ++j) check(x[j], lb[size_t(j)], ub[size_t(j)]);
  for (int i : crows) check(body[i], rowlo[size_t(i)], rowup[size_t(i)]);
  return worst;
}

template <class F>
bool NlpEvaluator::evaluate(F &&f) {
  if (userFailed) return false;
  try {
    f();
    return true;
  } catch (const Error &e) {
    error = e.text;
    if (e.text.find("user function '") != std::string::npos) userFailed = true;
  } catch (const std::bad_alloc &) {
    error = "out of memory";
    userFailed = true;
  }
  return false;
}

bool NlpEvaluator::objective(const double *x, double &obj) {
  return evaluate([&] { obj = m_.sense * m_.objective(x); });
}

bool NlpEvaluator::gradient(const double *x, double *g) {
  return evaluate([&] { m_.gradient(x, g); });
}

bool NlpEvaluator::bodies(const double *x) {
  return evaluate([&] { m_.bodies(x, body_.data()); });
}

bool NlpEvaluator::constraints(const double *x, double *g) {
  if (!bodies(x)) return false;
  for (size_t k = 0; k < m_.crows.size(); ++k) g[k] = body_[size_t(m_.crows[k])];
  return true;
}

int NlpEvaluator::jacobianEntries() const {
  int nz = 0;
  for (int i : m_.crows) nz += m_.jstart[size_t(i) + 1] - m_.jstart[size_t(i)];
  return nz;
}

void NlpEvaluator::jacobianPattern(int *irow, int *jcol) const {
  int k = 0;
  for (size_t c = 0; c < m_.crows.size(); ++c) {
    const int i = m_.crows[c];
    for (int e = m_.jstart[size_t(i)]; e < m_.jstart[size_t(i) + 1]; ++e, ++k) {
      irow[k] = int(c);
      jcol[k] = m_.jcol[size_t(e)];
    }
  }
}

bool NlpEvaluator::jacobian(const double *x, double *vals) {
  return evaluate([&] { m_.jacobian(x, vals, scratch_); });
}

void NlpEvaluator::hessianPattern(int *irow, int *jcol) const {
  std::copy(m_.hrow.begin(), m_.hrow.end(), irow);
  std::copy(m_.hcol.begin(), m_.hcol.end(), jcol);
}

bool NlpEvaluator::hessian(const double *x, double objfactor, const double *lambda, double *vals) {
  return evaluate([&] {
    lambda_.assign(size_t(m_.nrows), 0.0);
    for (size_t c = 0; c < m_.crows.size(); ++c) lambda_[size_t(m_.crows[c])] = lambda[c];
    m_.hessian(x, objfactor, lambda_.data(), vals, scratch_);
  });
}

}  // namespace krvx
