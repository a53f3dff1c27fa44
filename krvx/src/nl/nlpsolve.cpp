#include "nl/nlpsolve.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
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

// Eigenvalues (ascending) and eigenvectors (columns of vecs) of the symmetric k x k matrix a,
// by cyclic Jacobi rotations (a is overwritten).
void symmetricEigen(std::vector<double> &a, size_t k, std::vector<double> &vals, std::vector<double> &vecs) {
  std::vector<double> v(k * k, 0.0);
  for (size_t i = 0; i < k; ++i) v[i * k + i] = 1.0;
  for (int sweep = 0; sweep < 60; ++sweep) {
    double off = 0.0, diag = 0.0;
    for (size_t i = 0; i < k; ++i) {
      diag += a[i * k + i] * a[i * k + i];
      for (size_t j = i + 1; j < k; ++j) off += a[i * k + j] * a[i * k + j];
    }
    if (off <= 1e-30 * std::max(diag, 1e-300)) break;
    for (size_t p = 0; p < k; ++p)
      for (size_t q = p + 1; q < k; ++q) {
        const double apq = a[p * k + q];
        if (apq == 0.0) continue;
        const double theta = (a[q * k + q] - a[p * k + p]) / (2.0 * apq);
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), sn = t * c;
        for (size_t r = 0; r < k; ++r) {   // columns p and q
          const double arp = a[r * k + p], arq = a[r * k + q];
          a[r * k + p] = c * arp - sn * arq;
          a[r * k + q] = sn * arp + c * arq;
        }
        for (size_t r = 0; r < k; ++r) {   // rows p and q
          const double apr = a[p * k + r], aqr = a[q * k + r];
          a[p * k + r] = c * apr - sn * aqr;
          a[q * k + r] = sn * apr + c * aqr;
        }
        for (size_t r = 0; r < k; ++r) {
          const double vrp = v[r * k + p], vrq = v[r * k + q];
          v[r * k + p] = c * vrp - sn * vrq;
          v[r * k + q] = sn * vrp + c * vrq;
        }
      }
  }
  std::vector<size_t> order(k);
  for (size_t i = 0; i < k; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return a[x * k + x] < a[y * k + y]; });
  vals.resize(k);
  vecs.assign(k * k, 0.0);
  for (size_t e = 0; e < k; ++e) {
    vals[e] = a[order[e] * k + order[e]];
    for (size_t r = 0; r < k; ++r) vecs[r * k + e] = v[r * k + order[e]];
  }
}

// Solves (g + reg I) y = b for the symmetric positive semidefinite a x a matrix g (Cholesky);
// false when a pivot vanishes.
bool choleskySolve(std::vector<double> g, size_t a, std::vector<double> &b) {
  double trace = 0.0;
  for (size_t i = 0; i < a; ++i) trace += g[i * a + i];
  const double reg = 1e-12 * (1.0 + trace);
  for (size_t j = 0; j < a; ++j) {
    double d = g[j * a + j] + reg;
    for (size_t l = 0; l < j; ++l) d -= g[j * a + l] * g[j * a + l];
    if (!(d > 0.0)) return false;
    d = std::sqrt(d);
    g[j * a + j] = d;
    for (size_t i = j + 1; i < a; ++i) {
      double v = g[i * a + j];
      for (size_t l = 0; l < j; ++l) v -= g[i * a + l] * g[j * a + l];
      g[i * a + j] = v / d;
    }
  }
  for (size_t i = 0; i < a; ++i) {
    for (size_t l = 0; l < i; ++l) b[i] -= g[i * a + l] * b[l];
    b[i] /= g[i * a + i];
  }
  for (size_t i = a; i-- > 0;) {
    for (size_t l = i + 1; l < a; ++l) b[i] -= g[l * a + i] * b[l];
    b[i] /= g[i * a + i];
  }
  return true;
}

// Whether t is c * sqrt(q(x)) with q a quadratic that is convex and nowhere negative; then
// factor c, q's columns, its gradient g and Hessian h at 0 (dense over cols) and value q0 at 0.
bool coneTerm(const nl::Tape &t, const UserFunctions &funcs, double &factor, std::vector<int> &cols,
              std::vector<double> &g, std::vector<double> &h, double &q0) {
  using nl::Kind;
  factor = 1.0;
  int root = int(t.nodes.size()) - 1;
  auto constant = [&](int k) { return t.nodes[size_t(k)].kind == Kind::Const; };
  for (;;) {
    const nl::Node &nd = t.nodes[size_t(root)];
    const int *a = t.args.data() + nd.first;
    if (nd.kind == Kind::Neg) {
      factor = -factor;
      root = a[0];
    } else if (nd.kind == Kind::Mul && (constant(a[0]) || constant(a[1]))) {
      const bool first = constant(a[0]);
      factor *= t.nodes[size_t(a[first ? 0 : 1])].value;
      root = a[first ? 1 : 0];
    } else if (nd.kind == Kind::Div && constant(a[1]) && t.nodes[size_t(a[1])].value != 0.0) {
      factor /= t.nodes[size_t(a[1])].value;
      root = a[0];
    } else {
      break;
    }
  }
  const nl::Node &sq = t.nodes[size_t(root)];
  if (sq.kind != Kind::Func || sq.code != KRVN_FN_SQRT || factor == 0.0) return false;
  const nl::Tape q = nl::subtape(t, t.args[size_t(sq.first)], {});
  // polynomial degree per node: at most 2
  std::vector<int> deg(q.nodes.size(), 3);
  for (size_t i = 0; i < q.nodes.size(); ++i) {
    const nl::Node &nd = q.nodes[i];
    const int *a = q.args.data() + nd.first;
    auto d = [&](int k) { return deg[size_t(a[k])]; };
    switch (nd.kind) {
      case Kind::Const: deg[i] = 0; break;
      case Kind::Var: deg[i] = 1; break;
      case Kind::Neg: deg[i] = d(0); break;
      case Kind::Add: case Kind::Sub: deg[i] = std::max(d(0), d(1)); break;
      case Kind::Mul: deg[i] = std::min(d(0) + d(1), 3); break;
      case Kind::Div: deg[i] = d(1) == 0 && q.nodes[size_t(a[1])].kind == Kind::Const ? d(0) : 3; break;
      case Kind::Pow: {
        const nl::Node &e = q.nodes[size_t(a[1])];
        if (e.kind == Kind::Const && (e.value == 0.0 || e.value == 1.0 || e.value == 2.0))
          deg[i] = std::min(d(0) * int(e.value), 3);
        break;
      }
      case Kind::Func:
        if (nd.code == KRVN_FN_SUM) {
          deg[i] = 0;
          for (int k = 0; k < nd.count; ++k) deg[i] = std::max(deg[i], d(k));
        }
        break;
      default: break;
    }
  }
  if (q.nodes.empty() || deg.back() > 2 || q.cols.empty()) return false;
  cols = q.cols;
  const size_t k = cols.size();
  std::vector<double> x(size_t(cols.back()) + 1, 0.0), grad(x.size(), 0.0), dir(x.size(), 0.0), hv(x.size(), 0.0);
  try {
    q0 = nl::eval(q, x.data(), funcs, nullptr, grad.data());
    g.resize(k);
    h.assign(k * k, 0.0);
    for (size_t b = 0; b < k; ++b) {
      g[b] = grad[size_t(cols[b])];
      dir[size_t(cols[b])] = 1.0;
      nl::hessVec(q, x.data(), dir.data(), funcs, nullptr, hv.data());
      dir[size_t(cols[b])] = 0.0;
      for (size_t a = 0; a < k; ++a) {
        h[a * k + b] = hv[size_t(cols[a])];
        hv[size_t(cols[a])] = 0.0;
      }
    }
  } catch (const Error &) {
    return false;
  }
  // q(x) = [x 1] M [x 1]' >= 0 everywhere: M = [h/2 g/2; g'/2 q0] positive semidefinite
  std::vector<QTerm> mterms;
  for (size_t a = 0; a < k; ++a) {
    for (size_t b = a; b < k; ++b)
      if (h[a * k + b] != 0.0) mterms.push_back({int(a), int(b), 0.5 * h[a * k + b]});
    if (g[a] != 0.0) mterms.push_back({int(a), int(k), 0.5 * g[a]});
  }
  if (q0 != 0.0) mterms.push_back({int(k), int(k), q0});
  return semidefinite(mterms, 1.0);
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
  m.convexqp = !m.qobj.empty() && low.convexobj && m.objtapes.empty() &&
               std::all_of(m.qrows.begin(), m.qrows.end(), [](const auto &q) { return q.empty(); }) &&
               std::all_of(m.rowtapes.begin(), m.rowtapes.end(), [](const auto &t) { return t.empty(); });
  branchingInfo(p, low, m.branching);

  // cone rows for objective terms c * sqrt(q) minimised (continuous models only)
  std::vector<std::pair<int, std::pair<int, double>>> conecoefs;   // (row, (column, coefficient))
  if (std::none_of(m.integer.begin(), m.integer.end(), [](char c) { return c != 0; }) && m.sets.empty()) {
    std::vector<nl::Tape> kept;
    double factor, q0;
    std::vector<int> cols;
    std::vector<double> g, h;
    for (nl::Tape &t : m.objtapes) {
      if (!coneTerm(t, m.funcs, factor, cols, g, h, q0) || !(m.sense * factor > 0.0)) {
        kept.push_back(std::move(t));
        continue;
      }
      const int tc = m.n++, r = m.nrows++;
      m.lb.push_back(0.0);
      m.ub.push_back(kInf);
      m.cost.push_back(factor);
      m.integer.push_back(0);
      m.rowlo.push_back(q0);          // t^2 - g'x - x'hx/2 >= q0
      m.rowup.push_back(kInf);
      m.rhs.push_back(q0);
      m.crows.push_back(r);
      std::vector<QTerm> terms{{tc, tc, 1.0}};
      const size_t k = cols.size();
      for (size_t i = 0; i < k; ++i) {
        for (size_t j = i; j < k; ++j)
          if (h[i * k + j] != 0.0) terms.push_back({cols[i], cols[j], -0.5 * h[i * k + j]});
        if (g[i] != 0.0) conecoefs.push_back({r, {cols[i], -g[i]}});
      }
      m.qrows.push_back(std::move(terms));
      m.cones.emplace_back(tc, std::move(t));
    }
    m.objtapes.swap(kept);
  }

  // Jacobian pattern, row-wise: linear coefficients, then quadratic and formula columns
  std::vector<std::vector<std::pair<int, double>>> rowcols(size_t(m.nrows));
  for (int j = 0; j < low.hcols; ++j)
    for (int e = a.colStart()[j]; e < a.colStart()[j + 1]; ++e)
      rowcols[size_t(a.rowIndex()[e])].emplace_back(j, a.coefValue()[e]);
  for (const auto &rc : conecoefs) rowcols[size_t(rc.first)].push_back(rc.second);
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
    out.objval = m.userObjective(x);
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

void nlpLocallyInfeasible(ko_prob_struct *p, const char *solver, int starts, Solution &out) {
  out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
  out.solstatus = KRVX_SOLSTATUS_NOTFOUND;
  out.stopstatus = kStopLocalInfeasible;
  messageCode(p, kMsgSolve, 3,
              "The %s found no feasible point from %d start points (locally infeasible); the problem is not "
              "shown convex, so it may have solutions",
              solver, starts);
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

bool nlpConvex(const NlpModel &m, bool objective) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::vector<double> lo(size_t(m.n)), up(size_t(m.n));
  for (int j = 0; j < m.n; ++j) {
    lo[size_t(j)] = isInf(m.lb[size_t(j)]) ? -inf : m.lb[size_t(j)];
    up[size_t(j)] = isInf(m.ub[size_t(j)]) ? inf : m.ub[size_t(j)];
  }
  // whether the sum of tapes is convex (cx) and concave (cv)
  auto tapes = [&](const std::vector<nl::Tape> &ts, bool &cx, bool &cv) {
    for (const nl::Tape &t : ts) {
      if (!cx && !cv) return;
      const nl::Curvature c = nl::curvature(t, nl::intervals(t, lo, up));
      cx = cx && c.convex.back();
      cv = cv && c.concave.back();
    }
  };
  bool cx = false, cv = false;
  if (objective) {
    cx = semidefinite(m.qobj, m.sense, true);
    if (m.sense < 0) std::swap(cx, cv);   // the objective's own curvature
    tapes(m.objtapes, cx, cv);
    if (!(m.sense > 0 ? cx : cv)) return false;
  }
  for (int i : m.crows) {
    const auto &q = m.qrows[size_t(i)];
    cx = semidefinite(q, 1.0, true);
    cv = semidefinite(q, -1.0, true);
    if (size_t(i) < m.rowtapes.size()) tapes(m.rowtapes[size_t(i)], cx, cv);
    if ((!isInf(m.rowup[size_t(i)]) && !cx) || (!isInf(m.rowlo[size_t(i)]) && !cv)) return false;
  }
  return true;
}

bool nlpDescentStart(const NlpModel &m, NlpEvaluator &ev, const std::vector<double> &x,
                     const std::vector<double> &multg, double feastol, std::vector<double> &start) {
  if (!m.hasNonlinear() || m.hrow.empty()) return false;
  std::vector<double> vals(m.hrow.size());
  if (!ev.hessian(x.data(), 1.0, multg.data(), vals.data()) || !ev.bodies(x.data())) return false;
  const double tol = std::max(feastol, 1e-7);
  auto near = [&](double v, double b) { return !isInf(b) && std::fabs(v - b) <= tol * (1 + std::fabs(b)); };
  // columns strictly inside their bounds move; rows at a bound (and equations) stay there
  std::vector<char> free(size_t(m.n), 0);
  for (int j = 0; j < m.n; ++j)
    free[size_t(j)] = x[size_t(j)] > m.lb[size_t(j)] + tol && x[size_t(j)] < m.ub[size_t(j)] - tol;
  std::vector<int> active;   // positions in crows
  for (size_t c = 0; c < m.crows.size(); ++c) {
    const int i = m.crows[c];
    const double b = ev.body()[size_t(i)];
    if (m.rowlo[size_t(i)] == m.rowup[size_t(i)] || near(b, m.rowlo[size_t(i)]) || near(b, m.rowup[size_t(i)]))
      active.push_back(int(c));
  }
  // the free columns of the Hessian, then those of the active rows through them (at most 120)
  std::vector<int> cols, slot(size_t(m.n), -1);
  auto add = [&](int c) {
    if (free[size_t(c)] && slot[size_t(c)] < 0 && cols.size() < 120) {
      slot[size_t(c)] = int(cols.size());
      cols.push_back(c);
    }
  };
  for (size_t e = 0; e < m.hrow.size(); ++e) {
    add(m.hrow[e]);
    add(m.hcol[e]);
  }
  if (cols.empty()) return false;
  auto touching = [&] {
    std::vector<int> rows;
    for (int c : active) {
      const int i = m.crows[size_t(c)];
      for (int e = m.jstart[size_t(i)]; e < m.jstart[size_t(i) + 1]; ++e)
        if (slot[size_t(m.jcol[size_t(e)])] >= 0) {
          rows.push_back(c);
          break;
        }
    }
    return rows;
  };
  for (int c : touching()) {
    const int i = m.crows[size_t(c)];
    for (int e = m.jstart[size_t(i)]; e < m.jstart[size_t(i) + 1]; ++e) add(m.jcol[size_t(e)]);
  }
  const std::vector<int> rows = touching();
  const size_t k = cols.size(), a = rows.size();
  // the active rows' Jacobian over the columns, dense
  std::vector<int> joff(m.crows.size() + 1, 0);
  for (size_t c = 0; c < m.crows.size(); ++c) {
    const int i = m.crows[c];
    joff[c + 1] = joff[c] + m.jstart[size_t(i) + 1] - m.jstart[size_t(i)];
  }
  std::vector<double> jv(size_t(joff.back())), J;
  auto jacobian = [&](const double *at) {
    if (!ev.jacobian(at, jv.data())) return false;
    J.assign(a * k, 0.0);
    for (size_t r = 0; r < a; ++r) {
      const int c = rows[r], i = m.crows[size_t(c)];
      for (int e = m.jstart[size_t(i)]; e < m.jstart[size_t(i) + 1]; ++e)
        if (int s = slot[size_t(m.jcol[size_t(e)])]; s >= 0)
          J[r * k + size_t(s)] = jv[size_t(joff[size_t(c)] + e - m.jstart[size_t(i)])];
    }
    return true;
  };
  if (!jacobian(x.data())) return false;
  // projector P onto the null space of J (orthonormal basis of its rows by Gram-Schmidt)
  std::vector<double> P(k * k, 0.0), q(k);
  for (size_t i = 0; i < k; ++i) P[i * k + i] = 1.0;
  std::vector<std::vector<double>> basis;
  for (size_t r = 0; r < a; ++r) {
    q.assign(J.begin() + std::ptrdiff_t(r * k), J.begin() + std::ptrdiff_t((r + 1) * k));
    double n0 = 0.0;
    for (double v : q) n0 += v * v;
    for (int pass = 0; pass < 2; ++pass)
      for (const auto &b : basis) {
        double d = 0.0;
        for (size_t i = 0; i < k; ++i) d += q[i] * b[i];
        for (size_t i = 0; i < k; ++i) q[i] -= d * b[i];
      }
    double nq = 0.0;
    for (double v : q) nq += v * v;
    if (!(nq > 1e-20 * std::max(1.0, n0))) continue;
    for (double &v : q) v /= std::sqrt(nq);
    basis.push_back(q);
    for (size_t i = 0; i < k; ++i)
      for (size_t j = 0; j < k; ++j) P[i * k + j] -= q[i] * q[j];
  }
  if (basis.size() >= k) return false;
  // the Lagrangian's Hessian over the columns, then P H P
  std::vector<double> h(k * k, 0.0), ph(k * k, 0.0), php(k * k, 0.0);
  double hmax = 0.0;
  for (size_t e = 0; e < m.hrow.size(); ++e) {
    const int r = slot[size_t(m.hrow[e])], c = slot[size_t(m.hcol[e])];
    if (r < 0 || c < 0) continue;
    h[size_t(r) * k + size_t(c)] += vals[e];
    if (r != c) h[size_t(c) * k + size_t(r)] += vals[e];
  }
  for (double v : h) hmax = std::max(hmax, std::fabs(v));
  for (size_t i = 0; i < k; ++i)
    for (size_t l = 0; l < k; ++l)
      if (P[i * k + l] != 0.0)
        for (size_t j = 0; j < k; ++j) ph[i * k + j] += P[i * k + l] * h[l * k + j];
  for (size_t i = 0; i < k; ++i)
    for (size_t l = 0; l < k; ++l)
      if (ph[i * k + l] != 0.0)
        for (size_t j = 0; j < k; ++j) php[i * k + j] += ph[i * k + l] * P[l * k + j];
  std::vector<double> eig, vec;
  symmetricEigen(php, k, eig, vec);

  double f0 = 0.0;
  if (!ev.objective(x.data(), f0)) return false;
  auto step = [&](int c) {
    const double l = m.lb[size_t(c)], u = m.ub[size_t(c)];
    return !isInf(l) && !isInf(u) ? 0.25 * (u - l) : 0.25 * std::max(1.0, std::fabs(x[size_t(c)]));
  };
  auto clamp = [&](int c, double v) { return std::min(std::max(v, m.lb[size_t(c)]), m.ub[size_t(c)]); };
  // Gauss-Newton steps back onto the active rows (their violations), moving the columns only
  std::vector<double> res(a), g(a * a);
  auto restore = [&]() {
    for (int it = 0; it < 30; ++it) {
      if (!ev.bodies(start.data())) return false;
      double worst = 0.0;
      for (size_t r = 0; r < a; ++r) {
        const int i = m.crows[size_t(rows[r])];
        const double b = ev.body()[size_t(i)], lo = m.rowlo[size_t(i)], up = m.rowup[size_t(i)];
        const double bound = lo == up || (!isInf(lo) && b < lo) ? lo : !isInf(up) && b > up ? up : b;
        res[r] = b - bound;
        worst = std::max(worst, std::fabs(res[r]) / std::max(1.0, std::fabs(bound)));
      }
      if (worst <= 0.1 * feastol) return true;
      if (!jacobian(start.data())) return false;
      for (size_t r = 0; r < a; ++r)
        for (size_t t = 0; t <= r; ++t) {
          double d = 0.0;
          for (size_t i = 0; i < k; ++i) d += J[r * k + i] * J[t * k + i];
          g[r * a + t] = g[t * a + r] = d;
        }
      if (!choleskySolve(g, a, res)) return false;
      for (size_t i = 0; i < k; ++i) {
        double d = 0.0;
        for (size_t r = 0; r < a; ++r) d += J[r * k + i] * res[r];
        start[size_t(cols[i])] = clamp(cols[i], start[size_t(cols[i])] - d);
      }
    }
    return false;
  };
  // the most negative curvatures first, both ways, shorter steps after longer ones
  const double neg = -1e-8 * std::max(1.0, hmax);
  for (size_t e = 0; e < k && e < 4 && eig[e] < neg; ++e) {
    double vmax = 0.0, reach = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < k; ++i) vmax = std::max(vmax, std::fabs(vec[i * k + e]));
    for (size_t i = 0; i < k; ++i)
      if (std::fabs(vec[i * k + e]) >= 0.1 * vmax) reach = std::min(reach, step(cols[i]) / std::fabs(vec[i * k + e]));
    for (double dir : {1.0, -1.0})
      for (double scale : {1.0, 0.25, 0.0625}) {
        start = x;
        for (size_t i = 0; i < k; ++i)
          start[size_t(cols[i])] = clamp(cols[i], x[size_t(cols[i])] + dir * scale * reach * vec[i * k + e]);
        double f = 0.0;
        if (!restore() || !ev.objective(start.data(), f) || !(f < f0 - 1e-9 * (1.0 + std::fabs(f0))) ||
            !ev.bodies(start.data()))
          continue;
        if (m.violation(start.data(), ev.body().data()) <= feastol) return true;
      }
  }
  return false;
}

double nlpOptimalityError(const NlpModel &m, NlpEvaluator &ev, const std::vector<double> &x,
                          const std::vector<double> &multg, const std::vector<double> &zl,
                          const std::vector<double> &zu) {
  constexpr double kInfinite = std::numeric_limits<double>::infinity();
  const size_t n = size_t(m.n), nc = m.crows.size();
  std::vector<double> grad(n, 0.0), jac(size_t(ev.jacobianEntries()));
  double f = 0.0;
  if (!ev.objective(x.data(), f) || !ev.gradient(x.data(), grad.data()) || !ev.jacobian(x.data(), jac.data()) ||
      !ev.bodies(x.data()))
    return kInfinite;
  double gradsize = 1.0;
  for (double g : grad) gradsize = std::max(gradsize, std::fabs(g));
  std::vector<double> r = grad;
  size_t k = 0;
  for (size_t c = 0; c < nc; ++c) {
    const int i = m.crows[c];
    for (int e = m.jstart[size_t(i)]; e < m.jstart[size_t(i) + 1]; ++e, ++k) r[size_t(m.jcol[size_t(e)])] += jac[k] * multg[c];
  }
  // the solver's scaling of the dual and complementarity errors (s_max 100)
  double sumz = 0.0, sumy = 0.0;
  for (size_t j = 0; j < n; ++j) sumz += std::fabs(zl[j]) + std::fabs(zu[j]);
  for (double y : multg) sumy += std::fabs(y);
  const double sd = std::max(100.0, (sumz + sumy) / double(std::max<size_t>(1, n + nc))) / 100.0;
  const double sc = std::max(100.0, sumz / double(std::max<size_t>(1, n))) / 100.0;
  double dual = 0.0, compl_ = 0.0;
  for (size_t j = 0; j < n; ++j) {
    const double l = m.lb[j], u = m.ub[j];
    if (!isInf(l) && !isInf(u) && l == u) continue;   // fixed: its bound multiplier takes any value
    dual = std::max(dual, std::fabs(r[j] - zl[j] + zu[j]));
    if (zl[j] != 0.0) compl_ = std::max(compl_, isInf(l) ? kInfinite : std::fabs(zl[j] * (x[j] - l)));
    if (zu[j] != 0.0) compl_ = std::max(compl_, isInf(u) ? kInfinite : std::fabs(zu[j] * (u - x[j])));
  }
  for (size_t c = 0; c < nc; ++c) {
    const int i = m.crows[c];
    const double b = ev.body()[size_t(i)], lo = m.rowlo[size_t(i)], up = m.rowup[size_t(i)], y = multg[c];
    if (!isInf(lo) && !isInf(up) && lo == up) continue;   // an equation: any sign
    if (y > 0.0) compl_ = std::max(compl_, isInf(up) ? kInfinite : y * (up - b));
    if (y < 0.0) compl_ = std::max(compl_, isInf(lo) ? kInfinite : -y * (b - lo));
  }
  return std::max(dual / (sd * gradsize), compl_ / (sc * std::max(1.0, std::fabs(f))));
}

bool nlpConeSnap(const NlpModel &m, NlpEvaluator &ev, std::vector<double> &x, double feastol) {
  if (m.cones.empty()) return false;
  double best = 0.0;
  try {
    best = m.sense * m.userObjective(x.data());
  } catch (const Error &) {
    return false;
  }
  bool moved = false;
  double factor, q0;
  std::vector<int> cols;
  std::vector<double> g, h, eig, vec, y;
  for (const auto &cone : m.cones) {
    if (!coneTerm(cone.second, m.funcs, factor, cols, g, h, q0)) continue;
    // q's gradient at x is g + h x; y = x - h^+ (g + h x) minimises q nearest to x
    const size_t k = cols.size();
    std::vector<double> grad(g);
    for (size_t a = 0; a < k; ++a)
      for (size_t b = 0; b < k; ++b) grad[a] += h[a * k + b] * x[size_t(cols[b])];
    symmetricEigen(h, k, eig, vec);
    double top = 0.0;
    for (double e : eig) top = std::max(top, std::fabs(e));
    y = x;
    for (size_t e = 0; e < k; ++e) {
      if (!(eig[e] > 1e-10 * top)) continue;
      double d = 0.0;
      for (size_t a = 0; a < k; ++a) d += vec[a * k + e] * grad[a];
      for (size_t a = 0; a < k; ++a) y[size_t(cols[a])] -= d / eig[e] * vec[a * k + e];
    }
    for (size_t a = 0; a < k; ++a)
      y[size_t(cols[a])] = std::min(std::max(y[size_t(cols[a])], m.lb[size_t(cols[a])]), m.ub[size_t(cols[a])]);
    // q rounded below 0 at its minimum cannot be evaluated: then a point a little short of it
    const std::vector<double> full = y;
    for (double share : {1.0, 1.0 - 1e-7, 1.0 - 1e-5}) {
      for (size_t a = 0; a < k; ++a) {
        const size_t c = size_t(cols[a]);
        y[c] = x[c] + share * (full[c] - x[c]);
      }
      double f = 0.0;
      try {   // every cone column at its term's sqrt(q)
        for (const auto &other : m.cones)
          y[size_t(other.first)] = tapeValue(m, other.second, y.data(), nullptr, 1.0) / m.cost[size_t(other.first)];
        f = m.sense * m.userObjective(y.data());
      } catch (const Error &) {
        continue;
      }
      if (f <= best + 1e-12 * (1.0 + std::fabs(best)) && ev.bodies(y.data()) &&
          m.violation(y.data(), ev.body().data()) <= feastol) {
        x = y;
        best = f;
        moved = true;
      }
      break;
    }
  }
  return moved;
}

// ---- evaluation ----

double NlpModel::objective(const double *x) const {
  double f = objconst;
  for (int j = 0; j < n; ++j) f += cost[size_t(j)] * x[j];
  for (const QTerm &t : qobj) f += (t.i == t.j ? 0.5 : 1.0) * t.value * x[t.i] * x[t.j];
  for (const nl::Tape &t : objtapes) f += tapeValue(*this, t, x, nullptr, 1.0);
  return f;
}

double NlpModel::userObjective(const double *x) const {
  double f = objective(x);
  for (const auto &cone : cones) f += tapeValue(*this, cone.second, x, nullptr, 1.0) - cost[size_t(cone.first)] * x[cone.first];
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
