// The check of reported points (solve/recheck.h) against a dense evaluation written here: random
// small models with linear and quadratic rows of every type, columns of every kind, SOS1 sets and
// indicator rows, and points at, near and off feasibility. Where the worst violation lies well
// inside or well outside its tolerance the two must agree; a failing point turns an optimal result
// into none, a holding one leaves it.
#include "test_solve_util.h"
#include "solve/recheck.h"
#include "solve/solve.h"

#include <algorithm>
#include <random>

namespace {

constexpr double kFeas = 1e-6, kMip = 5e-6;   // the controls' defaults

struct QT { int row, i, j; double v; };        // v * x_i * x_j (i <= j, off-diagonal counted twice)

struct Model {
  std::vector<TCol> cols;
  std::vector<TRow> rows;
  std::vector<QT> q;
  std::vector<int> set;                        // one SOS1 (may be empty)
  int indrow = -1, indcol = -1, indcompl = 0;  // one indicator row (indrow -1: none)
};

double activity(const Model &m, size_t i, const std::vector<double> &x) {
  double act = 0.0;
  for (const auto &cv : m.rows[i].coefs) act += cv.second * x[size_t(cv.first)];
  for (const QT &t : m.q)
    if (t.row == int(i)) act += (t.i == t.j ? 1.0 : 2.0) * t.v * x[size_t(t.i)] * x[size_t(t.j)];
  return act;
}

// Worst violation at x over its tolerance (below 1: the point holds).
double worstRatio(const Model &m, const std::vector<double> &x) {
  double worst = 0.0;
  auto over = [&](double excess, double tol) { worst = std::max(worst, std::max(0.0, excess) / tol); };
  for (size_t j = 0; j < m.cols.size(); ++j) {
    const TCol &c = m.cols[j];
    const double v = x[j];
    if (c.type == 'S') {
      const double zero = kFeas + kMip * std::max({1.0, c.limit, c.ub});
      if (std::fabs(v) > zero) over(std::max(c.limit - v, v - c.ub), zero);
      continue;
    }
    over(std::max(c.lb - v, v - c.ub), kFeas);
    if (c.type == 'I' || c.type == 'B') over(std::fabs(v - std::round(v)), kMip);
  }
  for (size_t i = 0; i < m.rows.size(); ++i) {
    if (int(i) == m.indrow && std::round(x[size_t(m.indcol)]) != (m.indcompl > 0 ? 1.0 : 0.0)) continue;
    const TRow &r = m.rows[i];
    const double act = activity(m, i, x), up = r.rhs, lo = r.type == 'R' ? r.rhs - r.range : r.rhs;
    if (r.type != 'G') over(act - up, kFeas);
    if (r.type != 'L') over(lo - act, kFeas);
  }
  int nonzero = 0;
  for (int j : m.set) nonzero += std::fabs(x[size_t(j)]) > kFeas + kMip * std::max(1.0, m.cols[size_t(j)].ub);
  if (nonzero > 1) worst = std::max(worst, 1e9);
  return worst;
}

// A model that holds at x (returned in x).
Model randomModel(std::mt19937 &rng, std::vector<double> &x) {
  std::uniform_real_distribution<double> u(-1, 1);
  Model m;
  const int n = 3 + int(rng() % 4);
  const char kinds[] = {'C', 'C', 'I', 'B', 'S'};
  x.assign(size_t(n), 0.0);
  for (int j = 0; j < n; ++j) {
    TCol c{0.0, -5.0, 5.0, kinds[rng() % 5]};
    if (c.type == 'B') c.lb = 0, c.ub = 1;
    if (c.type == 'S') c.lb = 0, c.limit = 2, c.ub = 6;
    const double v = c.lb + (c.ub - c.lb) * (u(rng) + 1) / 2;
    x[size_t(j)] = c.type == 'I' || c.type == 'B' ? std::round(v) : c.type == 'S' ? (v < 2 ? 0.0 : v) : v;
    m.cols.push_back(c);
  }
  const double scale = std::pow(10.0, double(rng() % 4) - 1);   // 0.1 to 100
  for (int i = 0, nr = 2 + int(rng() % 3); i < nr; ++i) {
    TRow r{"LGER"[rng() % 4], 0.0, {}};   // rhs once the point is final
    for (int j = 0; j < n; ++j)
      if (rng() % 2) r.coefs.push_back({j, scale * u(rng)});
    if (rng() % 2) {
      const QT t{i, int(rng() % n), int(rng() % n), u(rng)};
      m.q.push_back({i, std::min(t.i, t.j), std::max(t.i, t.j), t.v});
    }
    r.range = r.type == 'R' ? 1.0 : 0.0;
    m.rows.push_back(r);
  }
  for (int j = 0; j < n; ++j)   // an indicator row, violated while its binary is off
    if (m.cols[size_t(j)].type == 'B') {
      m.indrow = int(m.rows.size());
      m.indcol = j;
      m.indcompl = x[size_t(j)] > 0.5 ? -1 : 1;   // on at the other value
      TRow r{'L', m.cols[0].lb - 1.0, {{0, 1.0}}};
      m.rows.push_back(r);
      break;
    }
  for (int j = 0; j < n && m.set.size() < 3; ++j)   // a set of continuous columns, one nonzero
    if (m.cols[size_t(j)].type == 'C') {
      if (!m.set.empty()) x[size_t(j)] = 0.0;
      m.set.push_back(j);
    }
  for (size_t i = 0; i < m.rows.size(); ++i) {   // sides with slack at the point the set left
    if (int(i) == m.indrow) continue;
    TRow &r = m.rows[i];
    r.rhs = activity(m, i, x) + (r.type == 'L' ? 0.5 : r.type == 'G' ? -0.5 : r.type == 'R' ? 0.25 : 0.0);
  }
  return m;
}

void load(KRVXprob p, const Model &m) {
  setModel(p, 1, m.cols, m.rows);
  p->qrows.assign(m.rows.size(), {});
  for (const QT &t : m.q) p->qrows[size_t(t.row)].push_back({t.i, t.j, t.v});
  p->sets.clear();
  if (m.set.size() >= 2) {
    p->sets.push_back({'1', m.set, std::vector<double>(m.set.size(), 0.0)});
    for (size_t k = 0; k < m.set.size(); ++k) p->sets.back().weights[k] = double(k);
  }
  p->indicators.clear();
  if (m.indrow >= 0) {
    p->indicators.assign(m.rows.size(), krvx::Indicator());
    p->indicators[size_t(m.indrow)] = {m.indcol, m.indcompl};
  }
}

void randomPoints() {
  std::mt19937 rng(21);
  KRVXprob p = newProblem();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  int compared = 0, failing = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<double> x0;
    const Model m = randomModel(rng, x0);
    load(p, m);
    EXPECT(worstRatio(m, x0) < 1.0);
    for (double shift : {0.0, 1e-8, 1e-4, 0.3}) {
      std::vector<double> x = x0;
      x[rng() % x.size()] += rng() % 2 ? shift : -shift;
      const double ratio = worstRatio(m, x);
      if (ratio > 0.5 && ratio < 2.0) continue;   // at the edge: either verdict is sound
      krvx::Solution s;
      s.has_x = true;
      s.x = x;
      const krvx::PointCheck c = krvx::checkPoint(p, s, false);
      if (c.holds != (ratio < 1.0))
        std::fprintf(stderr, "round %d shift %g: check says %d (%s), ratio %g\n", round, shift, int(c.holds),
                     c.what.c_str(), ratio);
      EXPECT(c.holds == (ratio < 1.0));
      ++compared;
      failing += !c.holds;
    }
  }
  EXPECT(compared > 1000 && failing > 200 && compared - failing > 500);
  KRVXdestroyprob(p);
}

// A point that fails: no solution is reported, the reason is named; one that holds is untouched;
// the relaxation's point needs no integrality.
void statusAfterTheCheck() {
  KRVXprob p = newProblem();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  setModel(p, 1, {{1, 0, 10}, {1, 0, 10, 'I'}}, {{'G', 3, {{0, 1}, {1, 1}}}});
  auto reported = [](std::vector<double> x) {
    krvx::Solution s;
    s.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    s.solstatus = KRVX_SOLSTATUS_OPTIMAL;
    s.mipstatus = krvx::kMipOptimal;
    s.has_x = true;
    s.x = std::move(x);
    s.bestbound = 3;
    return s;
  };
  krvx::Solution s = reported({0.99997, 2.0});
  EXPECT(!krvx::recheckSolution(p, s));
  EXPECT(s.solvestatus == KRVX_SOLVESTATUS_FAILED && s.solstatus == KRVX_SOLSTATUS_NOTFOUND);
  EXPECT(s.stopstatus == krvx::kStopNumerical && s.mipstatus == krvx::kMipNoSolFound && s.bestbound == 3);
  EXPECT(krvx::checkPoint(p, s, false).what == "row 'R1'");
  s = reported({1.5, 1.5});
  EXPECT(!krvx::recheckSolution(p, s) && contains(krvx::checkPoint(p, s, false).what, "integrality"));
  s = reported({1.5, 1.5});
  s.mipstatus = krvx::kMipLpOptimal;
  EXPECT(krvx::recheckSolution(p, s, true) && s.solstatus == KRVX_SOLSTATUS_OPTIMAL);
  s = reported({1.0, 2.0});
  EXPECT(krvx::recheckSolution(p, s) && s.solvestatus == KRVX_SOLVESTATUS_COMPLETED);
  s = reported({NAN, 3.0});
  EXPECT(!krvx::recheckSolution(p, s) && contains(krvx::checkPoint(p, s, false).what, "not finite"));
  s = reported({});   // an optimum without its point
  s.has_x = false;
  EXPECT(!krvx::recheckSolution(p, s) && s.solstatus == KRVX_SOLSTATUS_NOTFOUND);
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  randomPoints();
  statusAfterTheCheck();
  return finish("test_recheck");
}
