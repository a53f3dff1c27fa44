#include "nl/nlpsolve.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace krvx {

namespace {

// Triangle terms with i <= j, sorted, duplicates summed, zeros dropped.
std::vector<QTerm> merged(std::vector<QTerm> q) {
  for (QTerm &t : q)
    if (t.i > t.j) std::swap(t.i, t.j);
  std::sort(q.begin(), q.end(), [](const QTerm &a, const QTerm &b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
  std::vector<QTerm> out;
  for (const QTerm &t : q) {
    if (!out.empty() && out.back().i == t.i && out.back().j == t.j) out.back().value += t.value;
    else out.push_back(t);
  }
  out.erase(std::remove_if(out.begin(), out.end(), [](const QTerm &t) { return t.value == 0.0; }), out.end());
  return out;
}

bool usesUnderivedFunction(const nl::Tape &t, const UserFunctions &funcs) {
  for (const nl::Node &nd : t.nodes)
    if (nd.kind == nl::Kind::User && funcs[size_t(nd.code)].functype == KRVN_FUNCTYPE_VALUE) return true;
  return false;
}

bool hasQuadraticRows(const ko_prob_struct *p) {
  for (const auto &q : p->qrows)
    if (!q.empty()) return true;
  return false;
}

bool hasDiscrete(const ko_prob_struct *p) {
  for (const Column &c : p->cols)
    if (c.type != 'C') return true;
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

int nlpRoute(ko_prob_struct *p, bool relax, bool &use) {
  use = nlHasFormulas(p) || hasQuadraticRows(p);
  if (use && !relax && hasDiscrete(p))
    return fail(p, kErrSolver,
                "Cannot solve this problem: it has integer or other discrete columns together with %s; mixed-integer "
                "nonlinear problems are not supported",
                nlHasFormulas(p) ? "nonlinear formulas" : "quadratic constraints");
  return 0;
}

bool qpRetry(int rc, const Solution &out) {
  if (rc != 0) return out.lpstatus == kLpNonconvex || out.solvestatus == KRVX_SOLVESTATUS_FAILED;
  return out.solvestatus == KRVX_SOLVESTATUS_FAILED || out.solstatus == KRVX_SOLSTATUS_UNBOUNDED ||
         (out.solvestatus == KRVX_SOLVESTATUS_COMPLETED && out.solstatus == KRVX_SOLSTATUS_NOTFOUND);
}

int nlpPrepare(ko_prob_struct *p, NlpModel &m) {
  m = NlpModel();
  const char *what = !p->objectives.empty()                          ? "several objectives"
                     : !p->sets.empty()                              ? "special ordered sets"
                     : !p->pwls.empty() || !p->gencons.empty()       ? "piecewise-linear or general constraints"
                     : std::any_of(p->indicators.begin(), p->indicators.end(),
                                   [](const Indicator &d) { return d.complement != 0; })
                         ? "indicator constraints"
                         : nullptr;
  if (what)
    return fail(p, kErrSolver, "Cannot solve this problem: it has %s, which the nonlinear solver does not support",
                what);
  m.n = int(p->cols.size());
  m.nrows = int(p->rows.size());
  m.sense = p->objsense < 0 ? -1.0 : 1.0;
  m.objconst = p->objconst;
  m.discrete = hasDiscrete(p);
  m.nl = p->nl;
  if (p->nl) m.funcs = p->nl->funcs;
  m.lb.resize(size_t(m.n));
  m.ub.resize(size_t(m.n));
  m.cost.resize(size_t(m.n));
  for (int j = 0; j < m.n; ++j) {
    const Column &c = p->cols[size_t(j)];
    m.lb[size_t(j)] = c.lb;
    m.ub[size_t(j)] = c.ub;
    if (c.type == 'B') {   // relaxed binaries
      m.lb[size_t(j)] = std::max(c.lb, 0.0);
      m.ub[size_t(j)] = std::min(c.ub, 1.0);
    }
    m.cost[size_t(j)] = c.cost;
  }
  m.rowlo.assign(size_t(m.nrows), -kInf);
  m.rowup.assign(size_t(m.nrows), kInf);
  m.rhs.resize(size_t(m.nrows));
  for (int i = 0; i < m.nrows; ++i) {
    const Row &r = p->rows[size_t(i)];
    m.rhs[size_t(i)] = r.rhs;
    switch (r.type) {
      case 'L': m.rowup[size_t(i)] = r.rhs; break;
      case 'G': m.rowlo[size_t(i)] = r.rhs; break;
      case 'E': m.rowlo[size_t(i)] = m.rowup[size_t(i)] = r.rhs; break;
      case 'R': m.rowup[size_t(i)] = r.rhs; m.rowlo[size_t(i)] = r.rhs - std::fabs(r.range); break;
      default: break;
    }
    if (r.type != 'N') m.crows.push_back(i);
  }
  m.qobj = merged(p->qobj);
  m.qrows.resize(size_t(m.nrows));
  for (size_t i = 0; i < p->qrows.size() && i < size_t(m.nrows); ++i) m.qrows[i] = merged(p->qrows[i]);

  // formulas compiled once (checked again: user functions may have been registered since)
  try {
    m.rowtapes.resize(std::min(p->nlrows.size(), size_t(m.nrows)));
    for (size_t i = 0; i < m.rowtapes.size(); ++i)
      for (const Formula &f : p->nlrows[i])
        m.rowtapes[i].push_back(nl::compile(f, m.n, m.funcs, "formula of row " + std::to_string(i)));
    for (const Formula &f : p->nlobj) m.objtapes.push_back(nl::compile(f, m.n, m.funcs, "formula of the objective"));
  } catch (const Error &e) {
    return fail(p, e.code, "Cannot solve this problem: %s", e.text.c_str());
  }

  // Jacobian pattern, row-wise: linear coefficients, then quadratic and formula columns
  std::vector<std::vector<std::pair<int, double>>> rowcols(size_t(m.nrows));
  for (int j = 0; j < m.n; ++j)
    for (const Entry &e : p->cols[size_t(j)].coefs) rowcols[size_t(e.index)].emplace_back(j, e.value);
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
  return 0;
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

}  // namespace krvx
