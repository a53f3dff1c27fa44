// Solving SOS sets, indicator, piecewise-linear and general constraints: every solve is compared
// with a brute force that enumerates the alternatives of each constraint (which set members are
// nonzero, whether an indicator is on, which piece or operand is taken) and solves each resulting
// model with HiGHS directly; the returned solution must satisfy the constraints themselves.
#include "test_solve_util.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <string>

namespace {

constexpr double kFree = 1e20;
const double kInfD = std::numeric_limits<double>::infinity();

struct ORow {
  double lo, up;
  std::vector<std::pair<int, double>> coefs;
};
using Alt = std::vector<ORow>;       // rows that together make one alternative
using Disj = std::vector<Alt>;       // a constraint: one of its alternatives holds

// One instance: the plain model (mirrored into the store) and its constraints as disjunctions.
struct Instance {
  int sense = 1;
  std::vector<TCol> cols;
  std::vector<TRow> rows;             // store rows; rows with an indicator are left out of `plain`
  std::vector<ORow> plain;            // the rows that always hold
  std::vector<Disj> disj;
  std::vector<krvx::Set> sets;
  std::vector<std::pair<int, krvx::Indicator>> indicators;
  std::vector<krvx::PwlCons> pwls;
  std::vector<krvx::GenCons> gencons;

  int addCol(TCol c) {
    cols.push_back(c);
    return static_cast<int>(cols.size()) - 1;
  }
};

ORow toORow(const TRow &r) {
  double lo = -kInfD, up = kInfD;
  if (r.type == 'L' || r.type == 'E') up = r.rhs;
  if (r.type == 'G' || r.type == 'E') lo = r.rhs;
  return {lo, up, r.coefs};
}

ORow fix(int j, double v) { return {v, v, {{j, 1.0}}}; }

bool holds(const ORow &r, const std::vector<double> &x, double tol = 1e-5) {
  double a = 0;
  for (const auto &cv : r.coefs) a += cv.second * x[cv.first];
  return a >= r.lo - tol * (1 + std::fabs(r.lo)) && a <= r.up + tol * (1 + std::fabs(r.up));
}

// The optimum of the plain model with one alternative of each constraint, over all choices.
// Returns false when every choice is infeasible.
bool bruteForce(const Instance &in, double &best) {
  bool found = false;
  const int n = static_cast<int>(in.cols.size());
  std::vector<size_t> pick(in.disj.size(), 0);
  while (true) {
    std::vector<ORow> rows = in.plain;
    for (size_t d = 0; d < in.disj.size(); ++d)
      for (const ORow &r : in.disj[d][pick[d]]) rows.push_back(r);
    std::vector<double> cost(n), lb(n), ub(n);
    std::vector<HighsInt> integ(n);
    for (int j = 0; j < n; ++j) {
      const TCol &c = in.cols[j];
      cost[j] = c.cost;
      lb[j] = c.lb <= -kFree ? -kInfD : c.lb;
      ub[j] = c.ub >= kFree ? kInfD : c.ub;
      integ[j] = c.type == 'C' ? kHighsVarTypeContinuous
                 : c.type == 'S' ? kHighsVarTypeSemiContinuous
                                 : kHighsVarTypeInteger;
    }
    std::vector<HighsInt> start, index;
    std::vector<double> value, rlo, rup;
    for (const ORow &r : rows) {
      start.push_back(static_cast<HighsInt>(index.size()));
      for (const auto &cv : r.coefs) {
        index.push_back(cv.first);
        value.push_back(cv.second);
      }
      rlo.push_back(r.lo);
      rup.push_back(r.up);
    }
    start.push_back(static_cast<HighsInt>(index.size()));
    void *h = Highs_create();
    Highs_setBoolOptionValue(h, "output_flag", 0);
    Highs_setDoubleOptionValue(h, "mip_rel_gap", 0);
    Highs_setDoubleOptionValue(h, "mip_abs_gap", 0);
    Highs_passModel(h, n, static_cast<HighsInt>(rows.size()), static_cast<HighsInt>(index.size()), 0,
                    kHighsMatrixFormatRowwise, 0, in.sense, 0, cost.data(), lb.data(), ub.data(), rlo.data(),
                    rup.data(), start.data(), index.data(), value.data(), nullptr, nullptr, nullptr, integ.data());
    Highs_run(h);
    if (Highs_getModelStatus(h) == kHighsModelStatusOptimal) {
      const double v = Highs_getObjectiveValue(h);
      if (!found || (in.sense > 0 ? v < best : v > best)) best = v;
      found = true;
    }
    Highs_destroy(h);
    size_t d = 0;
    for (; d < pick.size(); ++d) {
      if (++pick[d] < in.disj[d].size()) break;
      pick[d] = 0;
    }
    if (d == pick.size()) break;
  }
  return found;
}

// Writes the instance into p's store.
void load(KRVXprob p, const Instance &in) {
  setModel(p, in.sense, in.cols, in.rows);
  p->sets = in.sets;
  p->indicators.assign(in.indicators.empty() ? 0 : in.rows.size(), krvx::Indicator());
  for (const auto &ri : in.indicators) p->indicators[ri.first] = ri.second;
  p->pwls = in.pwls;
  p->gencons = in.gencons;
}

// Builds the instance through the calls that change problems.
void loadByCalls(KRVXprob p, const Instance &in) {
  const int n = static_cast<int>(in.cols.size()), m = static_cast<int>(in.rows.size());
  std::vector<double> cost, lb, ub;
  for (const TCol &c : in.cols) cost.push_back(c.cost), lb.push_back(c.lb), ub.push_back(c.ub);
  EXPECT_OK(p, KRVXaddcols64_witharraysizes(p, n, 0, cost.data(), n, nullptr, 0, nullptr, 0, nullptr, 0, lb.data(), n,
                                           ub.data(), n));
  EXPECT_OK(p, KRVXchgobjsense(p, in.sense));
  for (int j = 0; j < n; ++j)
    if (in.cols[j].type != 'C') EXPECT_OK(p, KRVXchgcoltype_witharraysizes(p, 1, &j, 1, &in.cols[j].type, 1));
  std::vector<char> type;
  std::vector<double> rhs, coef;
  std::vector<int64_t> start;
  std::vector<int> colind;
  for (const TRow &r : in.rows) {
    type.push_back(r.type);
    rhs.push_back(r.rhs);
    start.push_back(static_cast<int64_t>(colind.size()));
    for (const auto &cv : r.coefs) colind.push_back(cv.first), coef.push_back(cv.second);
  }
  const int64_t nz = static_cast<int64_t>(colind.size());
  EXPECT_OK(p, KRVXaddrows64_witharraysizes(p, m, nz, type.data(), m, rhs.data(), m, nullptr, 0, start.data(), m,
                                           colind.data(), nz, coef.data(), nz));
  for (const krvx::Set &t : in.sets) {
    const int64_t k = static_cast<int64_t>(t.cols.size()), zero = 0;
    EXPECT_OK(p, KRVXaddsets64_witharraysizes(p, 1, k, &t.type, 1, &zero, 1, t.cols.data(), k, t.weights.data(), k));
  }
  for (const auto &ri : in.indicators)
    EXPECT_OK(p, KRVXsetindicators_witharraysizes(p, 1, &ri.first, 1, &ri.second.col, 1, &ri.second.complement, 1));
  for (const krvx::PwlCons &c : in.pwls) {
    const int64_t k = static_cast<int64_t>(c.x.size()), zero = 0;
    EXPECT_OK(p, KRVXaddpwlcons64_witharraysizes(p, 1, k, &c.col, 1, &c.resultant, 1, &zero, 1, c.x.data(), k,
                                                c.y.data(), k));
  }
  for (const krvx::GenCons &g : in.gencons) {
    const int64_t nc = static_cast<int64_t>(g.cols.size()), nv = static_cast<int64_t>(g.vals.size()), zero = 0;
    EXPECT_OK(p, KRVXaddgencons64_witharraysizes(p, 1, nc, nv, &g.type, 1, &g.resultant, 1, &zero, 1, g.cols.data(),
                                                nc, &zero, 1, g.vals.data(), nv));
  }
}

// The getters see the user's model only after a solve.
void checkGetters(KRVXprob p, const Instance &in) {
  const int n = static_cast<int>(in.cols.size()), m = static_cast<int>(in.rows.size());
  std::vector<double> buf(n + 1);
  int st = 0;
  EXPECT_OK(p, KRVXgetsolution(p, &st, buf.data(), 0, n - 1));
  EXPECT_FAILS(p, KRVXgetsolution(p, &st, buf.data(), 0, n), "");
  EXPECT_FAILS(p, KRVXgetslacks(p, &st, buf.data(), 0, m), "");
  std::vector<int> col(m), comp(m);
  EXPECT_OK(p, KRVXgetindicators_witharraysizes(p, col.data(), m, comp.data(), m, 0, m - 1));
  for (const auto &ri : in.indicators) EXPECT(col[ri.first] == ri.second.col && comp[ri.first] == ri.second.complement);
  int64_t npoints = -1, want = 0;
  for (const krvx::PwlCons &c : in.pwls) want += static_cast<int64_t>(c.x.size());
  EXPECT_OK(p, KRVXgetpwlcons64_witharraysizes(p, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, 0,
                                              &npoints, 0, static_cast<int>(in.pwls.size()) - 1));
  EXPECT(npoints == want);
  EXPECT(intAttr(p, KRVX_SETS) == static_cast<int>(in.sets.size()) &&
        intAttr(p, KRVX_PWLCONS) == static_cast<int>(in.pwls.size()) &&
        intAttr(p, KRVX_GENCONS) == static_cast<int>(in.gencons.size()));
}

// What the store holds of the model (a solve must leave it unchanged).
std::string storeText(KRVXprob p) {
  std::string s;
  auto num = [&](double v) { s += std::to_string(v) + ' '; };
  for (size_t j = 0; j < p->cols.size(); ++j) {
    const krvx::Column &c = p->cols[j];
    s += c.type;
    for (double v : {c.cost, c.lb, c.ub, krvx::colLimit(*p, j)}) num(v);
    for (const krvx::Entry e : p->matrix.col(int(j))) num(e.index), num(e.value);
    s += '|';
  }
  for (size_t i = 0; i < p->rows.size(); ++i) s += p->rows[i].type, num(p->rows[i].rhs), num(krvx::rowRange(*p, i));
  for (const krvx::Set &t : p->sets) {
    s += t.type;
    for (int j : t.cols) num(j);
    for (double w : t.weights) num(w);
  }
  for (const krvx::Indicator &i : p->indicators) num(i.col), num(i.complement);
  for (const krvx::PwlCons &c : p->pwls) {
    num(c.col), num(c.resultant);
    for (size_t t = 0; t < c.x.size(); ++t) num(c.x[t]), num(c.y[t]);
  }
  for (const krvx::GenCons &g : p->gencons) {
    num(g.type), num(g.resultant);
    for (int j : g.cols) num(j);
    for (double v : g.vals) num(v);
  }
  return s;
}

// Solves the instance with the library and compares with the brute force.
void check(const Instance &in, const char *what, int seed, bool calls = false) {
  KRVXprob p = newProb();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  KRVXsetdblcontrol(p, KRVX_MIPRELSTOP, 0);
  KRVXsetdblcontrol(p, KRVX_MIPABSSTOP, 0);
  if (calls) loadByCalls(p, in);
  else load(p, in);
  const std::string before = storeText(p);
  double best = 0;
  const bool feasible = bruteForce(in, best);
  int rc = KRVXmipoptimize(p, "");
  const int solstatus = intAttr(p, KRVX_SOLSTATUS);
  bool ok = rc == 0;
  if (ok && feasible) {
    ok = solstatus == KRVX_SOLSTATUS_OPTIMAL && near(dblAttr(p, KRVX_OBJVAL), best, 1e-6);
    std::vector<double> x = solution(p);
    ok = ok && x.size() == in.cols.size() && p->sol.slack.size() == in.rows.size();
    if (ok) {
      double obj = 0;
      for (size_t j = 0; j < x.size(); ++j) obj += in.cols[j].cost * x[j];
      ok = near(obj, best, 1e-5);
      for (size_t j = 0; j < x.size(); ++j)
        ok = ok && ((in.cols[j].type == 'S' && std::fabs(x[j]) <= 1e-5) ||
                    (x[j] >= in.cols[j].lb - 1e-5 && x[j] <= in.cols[j].ub + 1e-5));
      for (const ORow &r : in.plain) ok = ok && holds(r, x);
      for (const Disj &d : in.disj)
        ok = ok && std::any_of(d.begin(), d.end(), [&](const Alt &a) {
               return std::all_of(a.begin(), a.end(), [&](const ORow &r) { return holds(r, x); });
             });
    }
    if (ok && calls) checkGetters(p, in);
  } else if (ok) {
    ok = solstatus == KRVX_SOLSTATUS_INFEASIBLE;
  }
  ok = ok && intAttr(p, KRVX_COLS) == static_cast<int>(in.cols.size()) &&
       intAttr(p, KRVX_ROWS) == static_cast<int>(in.rows.size()) && storeText(p) == before;
  if (!ok) {
    std::fprintf(stderr, "%s seed %d: rc %d (%s), status %d, objval %.9g; brute force %s %.9g\n", what, seed, rc,
                 lastError(p).c_str(), solstatus, dblAttr(p, KRVX_OBJVAL), feasible ? "optimum" : "infeasible",
                 best);
    ++check_failures;
  }
  KRVXdestroyprob(p);
}

// ---------------------------------------------------------------------------------------
// Random instances: a few bounded columns (some integer) and rows around a random point.

struct Gen {
  std::mt19937 rng;
  explicit Gen(unsigned seed) : rng(seed) {}
  int uni(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); }
  bool coin() { return uni(0, 1) == 1; }
};

std::vector<int> baseColumns(Gen &g, Instance &in, int n) {
  std::vector<int> cols;
  for (int j = 0; j < n; ++j) {
    const int kind = g.uni(0, 5);   // continuous, integer or semi-continuous (0 or [lb, ub], lb > 0)
    const double lb = kind == 5 ? g.uni(1, 2) : g.uni(-4, 1), ub = lb + g.uni(1, 6);
    cols.push_back(in.addCol({double(g.uni(-5, 5)), lb, ub, kind == 5 ? 'S' : kind == 4 ? 'I' : 'C'}));
  }
  return cols;
}

// A random row over cols whose rhs a random point of the bounds satisfies (with some slack).
TRow randomRow(Gen &g, const Instance &in, const std::vector<int> &cols, char type) {
  TRow r{type, 0, {}};
  double at = 0;
  for (int j : cols) {
    const int a = g.uni(-3, 3);
    if (a == 0) continue;
    r.coefs.push_back({j, double(a)});
    at += a * g.uni(int(in.cols[j].lb), int(in.cols[j].ub));
  }
  r.rhs = type == 'L' ? at + g.uni(0, 3) : type == 'G' ? at - g.uni(0, 3) : at;
  return r;
}

void addPlainRows(Gen &g, Instance &in, const std::vector<int> &cols, int m) {
  for (int i = 0; i < m; ++i) {
    TRow r = randomRow(g, in, cols, g.coin() ? 'L' : 'G');
    in.rows.push_back(r);
    in.plain.push_back(toORow(r));
  }
}

void addSos(Gen &g, Instance &in, const std::vector<int> &cols) {
  krvx::Set s;
  s.type = g.coin() ? '2' : '1';
  std::vector<int> members(cols);
  std::shuffle(members.begin(), members.end(), g.rng);
  members.resize(g.uni(2, static_cast<int>(members.size())));
  std::vector<double> w;
  for (size_t k = 0; k < members.size(); ++k) w.push_back(double(k) * 1.5 + 1);
  std::vector<int> order(members.size());
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), g.rng);   // store order differs from the weight order
  for (int k : order) {
    s.cols.push_back(members[k]);
    s.weights.push_back(w[k]);
  }
  in.sets.push_back(s);
  // members in weight order: one group of `width` consecutive ones may be nonzero
  const int width = s.type == '2' ? 2 : 1, n = static_cast<int>(members.size());
  Disj d;
  for (int first = 0; first + width <= std::max(n, width); ++first) {
    Alt a;
    for (int k = 0; k < n; ++k)
      if (k < first || k >= first + width) a.push_back(fix(members[k], 0));
    d.push_back(a);
  }
  in.disj.push_back(d);
}

void addIndicator(Gen &g, Instance &in, const std::vector<int> &cols) {
  const int b = in.addCol({double(g.uni(-3, 3)), 0, 1, 'B'});
  std::vector<int> over(cols);
  if (g.coin()) over.push_back(b);   // the indicator column in its own row
  const char types[] = {'L', 'G', 'E'};
  TRow r = randomRow(g, in, over, types[g.uni(0, 2)]);
  r.rhs += g.uni(-4, 4);             // often violated when off
  const int complement = g.coin() ? 1 : -1;
  in.indicators.push_back({static_cast<int>(in.rows.size()), {b, complement}});
  in.rows.push_back(r);
  const double on = complement > 0 ? 1 : 0;
  Alt enforced{fix(b, on), toORow(r)}, off{fix(b, 1 - on)};
  in.disj.push_back({enforced, off});
}

// y = f(x): breakpoints with repeated x (jumps); x's bounds may reach beyond them.
void addPwl(Gen &g, Instance &in) {
  const double xl = g.uni(-5, -1), xu = g.uni(1, 5);
  const int x = in.addCol({double(g.uni(-3, 3)), xl, xu, g.uni(0, 3) == 0 ? 'I' : 'C'});
  const int y = in.addCol({double(g.uni(-3, 3)), -kFree, kFree});
  krvx::PwlCons c{x, y, {}, {}};
  const int npts = g.uni(1, 5);
  double at = g.uni(-4, 0);
  for (int t = 0; t < npts; ++t) {
    c.x.push_back(at);
    c.y.push_back(g.uni(-6, 6));
    at += g.uni(0, 2);   // 0: a jump
  }
  in.pwls.push_back(c);
  // pieces: segments between distinct x (the end segments extended when they are real segments),
  // and the breakpoints that no segment holds
  const int n = npts;
  Disj d;
  std::vector<char> held(n, 0);
  for (int t = 0; t + 1 < n; ++t) {
    if (c.x[t + 1] == c.x[t]) continue;
    held[t] = held[t + 1] = 1;
    const double slope = (c.y[t + 1] - c.y[t]) / (c.x[t + 1] - c.x[t]);
    Alt a{{c.y[t] - slope * c.x[t], c.y[t] - slope * c.x[t], {{y, 1.0}, {x, -slope}}}};
    if (t > 0) a.push_back({c.x[t], kInfD, {{x, 1.0}}});
    if (t + 2 < n) a.push_back({-kInfD, c.x[t + 1], {{x, 1.0}}});
    d.push_back(a);
  }
  for (int t = 0; t < n; ++t)
    if (!held[t]) d.push_back({fix(x, c.x[t]), fix(y, c.y[t])});
  in.disj.push_back(d);
}

void addGenCons(Gen &g, Instance &in, const std::vector<int> &cols, int type) {
  const bool logical = type == 2 || type == 3;
  const int y = in.addCol({double(g.uni(-3, 3)), logical ? 0 : -kFree, logical ? 1 : kFree, logical ? 'B' : 'C'});
  krvx::GenCons c{type, y, {}, {}};
  Disj d;
  if (type <= 1) {   // max, min over columns and possibly constants
    const double s = type == 0 ? 1 : -1;
    std::vector<int> ops(cols);
    std::shuffle(ops.begin(), ops.end(), g.rng);
    ops.resize(g.uni(1, 3));
    c.cols = ops;
    if (g.coin()) c.vals = {double(g.uni(-3, 3)), double(g.uni(-3, 3))};
    // the operand taken: y equals it, and s*y >= every operand
    Alt ge;
    for (int j : ops) ge.push_back({0, kInfD, {{y, s}, {j, -s}}});
    for (double v : c.vals) ge.push_back({s * v, kInfD, {{y, s}}});
    for (int j : ops) {
      Alt a = ge;
      a.push_back({0, 0, {{y, 1}, {j, -1}}});
      d.push_back(a);
    }
    for (double v : c.vals) {
      Alt a = ge;
      a.push_back(fix(y, v));
      d.push_back(a);
    }
  } else if (type <= 3) {   // and, or over fresh binaries
    const bool isand = type == 2;
    const int n = g.uni(1, 3);
    for (int k = 0; k < n; ++k) c.cols.push_back(in.addCol({double(g.uni(-3, 3)), 0, 1, 'B'}));
    Alt all{fix(y, isand ? 1 : 0)};
    for (int j : c.cols) all.push_back(fix(j, isand ? 1 : 0));
    d.push_back(all);
    for (int j : c.cols) d.push_back({fix(j, isand ? 0 : 1), fix(y, isand ? 0 : 1)});
  } else {   // abs
    const int x = cols[g.uni(0, static_cast<int>(cols.size()) - 1)];
    c.cols = {x};
    d.push_back({{0, kInfD, {{x, 1}}}, {0, 0, {{y, 1}, {x, -1}}}});
    d.push_back({{-kInfD, 0, {{x, 1}}}, {0, 0, {{y, 1}, {x, 1}}}});
  }
  in.gencons.push_back(c);
  in.disj.push_back(d);
}

enum Kinds { kSos = 1, kInd = 2, kPwl = 4, kGen = 8 };

Instance randomInstance(unsigned seed, int kinds) {
  Gen g(seed);
  Instance in;
  in.sense = g.coin() ? 1 : -1;
  std::vector<int> cols = baseColumns(g, in, g.uni(3, 5));
  addPlainRows(g, in, cols, g.uni(1, 2));
  if (kinds & kSos) addSos(g, in, cols);
  if (kinds & kInd)
    for (int k = g.uni(1, 2); k > 0; --k) addIndicator(g, in, cols);
  if (kinds & kPwl) addPwl(g, in);
  if (kinds & kGen) addGenCons(g, in, cols, g.uni(0, 4));
  return in;
}

void randomKinds() {
  const struct { int kinds; const char *name; } cases[] = {
      {kSos, "sos"},   {kInd, "indicator"},       {kPwl, "pwl"},         {kGen, "gencons"},
      {kSos | kInd, "sos+indicator"}, {kPwl | kGen, "pwl+gencons"}, {kSos | kInd | kPwl | kGen, "all"},
  };
  for (const auto &c : cases)
    for (int seed = 1; seed <= 40; ++seed)
      check(randomInstance(seed * 7919 + c.kinds, c.kinds), c.name, seed, seed % 4 == 0);
  // every general constraint type
  for (int type = 0; type <= 4; ++type)
    for (int seed = 1; seed <= 12; ++seed) {
      Gen g(seed * 31 + type);
      Instance in;
      in.sense = g.coin() ? 1 : -1;
      std::vector<int> cols = baseColumns(g, in, 4);
      addPlainRows(g, in, cols, 1);
      addGenCons(g, in, cols, type);
      check(in, "gencons type", seed * 10 + type);
    }
}

// ---------------------------------------------------------------------------------------
// Hand-derived cases

void handCases() {
  KRVXprob p = newProb();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  // max x + 2y + 3z, SOS1 {x, y, z} in [0, 4], x + y + z <= 10: only z = 4 -> 12
  setModel(p, -1, {{1, 0, 4}, {2, 0, 4}, {3, 0, 4}}, {{'L', 10, {{0, 1}, {1, 1}, {2, 1}}}});
  p->sets.push_back({'1', {0, 1, 2}, {1, 2, 3}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 12));
  // SOS2 in the order y, x, z: x and z both nonzero -> 4 + 12 = 16 (y and z are not adjacent)
  p->sets[0] = {'2', {0, 1, 2}, {2, 1, 3}};
  p->highs_stale = true;
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 16));
  std::vector<double> x = solution(p);
  EXPECT(x.size() == 3 && near(x[0], 4) && near(x[1], 0) && near(x[2], 4));

  // partial-integer column in an indicator row: min -x - y, x in {0,1,2} u [2.5, 8] (limit 2.5),
  // y in [0, 5]; b = 1 enforces x + y <= 3 and costs 1: off gives -13, on -3 + 1: best -13,
  // then with b fixed to 1: x + y = 3
  setModel(p, 1, {{-1, 0, 8, 'P', 2.5}, {-1, 0, 5}, {1, 0, 1, 'B'}}, {{'L', 3, {{0, 1}, {1, 1}}}});
  p->sets.clear();
  p->indicators.assign(1, {2, 1});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), -13));
  p->cols[2].lb = 1;
  p->highs_stale = true;
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), -2));
  x = solution(p);
  EXPECT(x.size() == 3 && near(x[0] + x[1], 3) && p->sol.slack.size() == 1 && near(p->sol.slack[0], 0));

  // pwl with a jump at 1 (0 -> 5) extended beyond both ends: x in [-2, 3];
  // f: (0,0)-(1,1), jump, (1,5)-(2,4); below 0 slope 1, above 2 slope -1
  setModel(p, 1, {{0, -2, 3}, {1, -kFree, kFree}}, {});
  p->indicators.clear();
  p->pwls.push_back({0, 1, {0, 1, 1, 2}, {0, 1, 5, 4}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));   // min y: x = -2, y = -2
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), -2));
  p->objsense = -1;                      // max y: the right value at the jump
  p->highs_stale = true;
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  x = solution(p);
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 5) && near(x[0], 1));
  p->cols[0].lb = 2.5;                   // max y beyond the end: 4 - 0.5
  p->highs_stale = true;
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 3.5));
  // a jump at the end is the end of the domain: x >= 2.5 cannot be served
  p->pwls[0] = {0, 1, {0, 1, 1}, {0, 1, 5}};
  p->highs_stale = true;
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_INFEASIBLE);
  KRVXdestroyprob(p);
}

// ---------------------------------------------------------------------------------------
// Refusals: a missing bound names the constraint, the column and the bound; nothing is solved.

void refusals() {
  KRVXprob p = newProb();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  auto refused = [&](const char *text) {
    p->highs_stale = true;
    p->sol = krvx::Solution();   // what a change through the calls does
    EXPECT_FAILS(p, KRVXmipoptimize(p, ""), text);
    EXPECT(intAttr(p, KRVX_SOLVESTATUS) == KRVX_SOLVESTATUS_UNSTARTED);
  };
  // x in [0, inf), w in [-inf, 2], b binary, y free
  setModel(p, 1, {{1, 0, kFree}, {1, -kFree, 2}, {0, 0, 1, 'B'}, {0, -kFree, kFree}}, {{'L', 4, {{0, 1}, {1, -1}}}});
  p->names[1].names = {"R3"};
  p->names[2].names = {"x", "w", "b", "y"};
  p->indicators.assign(1, {2, 1});
  refused("Indicator constraint on row 'R3': column 'x' has no finite upper bound (needed for the reformulation)");
  p->cols[0].ub = 5;
  refused("Indicator constraint on row 'R3': column 'w' has no finite lower bound (needed for the reformulation)");
  p->rows[0].type = 'G';                 // the lower side needs the other bounds, which exist
  p->highs_stale = true;
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  p->indicators.clear();

  p->sets.push_back({'1', {0, 1}, {1, 2}});
  refused("SOS set 'S1': column 'w' has no finite lower bound");
  p->sets.clear();

  p->pwls.push_back({1, 0, {0, 1}, {0, 1}});   // x = w unbounded below: the first segment extends
  refused("Piecewise-linear constraint 'P1': column 'w' has no finite lower bound");
  p->pwls[0] = {1, 0, {0, 0, 1}, {0, 1, 2}};   // a jump at the first point ends the domain there
  p->highs_stale = true;
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  p->pwls.clear();

  p->cols[0].ub = kFree;
  p->gencons.push_back({0, 3, {0, 1}, {}});    // max(x, w): neither the resultant nor x has an upper bound
  refused("General constraint 'G1': column 'x' has no finite upper bound");
  p->gencons[0] = {4, 3, {1}, {}};             // abs(w)
  refused("General constraint 'G1': column 'w' has no finite lower bound");
  p->gencons[0] = {2, 3, {0}, {}};             // and over a non-binary column
  refused("General constraint 'G1': column 'x' is not binary");
  p->gencons.clear();
  p->highs_stale = true;
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  // crossover needs the plain model
  p->cols[0].ub = 5;
  p->sets.push_back({'1', {0, 2}, {1, 2}});
  p->highs_stale = true;
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  int status = -1;
  EXPECT_FAILS(p, KRVXcrossoverlpsol(p, &status), "Crossover is not available");
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  handCases();
  refusals();
  randomKinds();
  return finish("test_reform");
}
