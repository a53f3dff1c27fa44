// Mixed-integer quadratic and nonlinear solves, exact lowering of non-smooth formulas, restarts
// of non-convex continuous solves and the QP solver's fallback. Discrete solves are compared with
// a brute force that fixes every discrete choice and solves the continuous rest on its own.
#include "nltest.h"
#include "test_solve_util.h"

#include <csignal>
#include <functional>

namespace {

constexpr double kFree = 1e20;

struct Outcome {
  int rc = -1, solve = -1, sol = -1;
  double obj = 0.0;
  std::vector<double> x;
};

Outcome run(KRVXprob p, const char *flags = "") {
  Outcome r;
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  r.rc = KRVXoptimize(p, flags, &r.solve, &r.sol);
  r.obj = dblAttr(p, KRVX_OBJVAL);
  r.x = solution(p);
  return r;
}

bool optimal(const Outcome &r) {
  return r.rc == 0 && r.solve == KRVX_SOLVESTATUS_COMPLETED && r.sol == KRVX_SOLSTATUS_OPTIMAL;
}

// ---- brute force over discrete choices ----

// Every value set a column may take, as boxes of a continuous column: integers one by one,
// semi-continuous 0 or [l, u], partial-integer its integers below the limit or [limit, u].
std::vector<std::pair<double, double>> boxes(const krvx::Column &c, double limit) {
  std::vector<std::pair<double, double>> out;
  const double l = limit != 0.0 ? limit : c.lb;
  switch (c.type) {
    case 'B': return {{0, 0}, {1, 1}};
    case 'I':
      for (double v = std::ceil(c.lb); v <= c.ub; ++v) out.push_back({v, v});
      return out;
    case 'S': return {{0, 0}, {l, c.ub}};
    case 'R':
      out.push_back({0, 0});
      for (double v = std::ceil(l); v <= c.ub; ++v) out.push_back({v, v});
      return out;
    case 'P':
      for (double v = std::ceil(c.lb); v < limit; ++v) out.push_back({v, v});
      out.push_back({limit, c.ub});
      return out;
    default: return {{c.lb, c.ub}};
  }
}

// The least objective over every combination of boxes (and, for each SOS1 set, of the member
// allowed to be nonzero); +inf when none is feasible.
double bruteForce(KRVXprob p) {
  KRVXprob q = newProb();
  const std::vector<krvx::Column> cols = p->cols;
  const std::vector<krvx::Set> sets = p->sets;
  std::vector<std::vector<std::pair<double, double>>> choice;
  for (size_t j = 0; j < cols.size(); ++j) choice.push_back(boxes(cols[j], krvx::colLimit(*p, j)));
  double best = kFree;
  std::vector<size_t> pick(cols.size(), 0), member(sets.size(), 0);
  std::function<void(size_t)> walk = [&](size_t k) {
    if (k < cols.size()) {
      for (pick[k] = 0; pick[k] < choice[k].size(); ++pick[k]) walk(k + 1);
      return;
    }
    if (k - cols.size() < sets.size()) {
      const size_t s = k - cols.size();
      for (member[s] = 0; member[s] < sets[s].cols.size(); ++member[s]) walk(k + 1);
      return;
    }
    q->cols = cols;
    q->matrix = p->matrix;
    q->rows = p->rows;
    q->rowrange = p->rowrange;
    q->collimit.clear();
    q->objsense = p->objsense;
    q->objconst = p->objconst;
    q->qobj = p->qobj;
    q->qrows = p->qrows;
    for (size_t j = 0; j < cols.size(); ++j) {
      q->cols[j].type = 'C';
      q->cols[j].lb = choice[j][pick[j]].first;
      q->cols[j].ub = choice[j][pick[j]].second;
    }
    for (size_t s = 0; s < sets.size(); ++s)
      for (size_t e = 0; e < sets[s].cols.size(); ++e)
        if (e != member[s]) q->cols[size_t(sets[s].cols[e])].lb = q->cols[size_t(sets[s].cols[e])].ub = 0;
    q->highs_stale = true;
    Outcome r = run(q);
    if (optimal(r)) best = std::min(best, p->objsense * r.obj);
  };
  walk(0);
  KRVXdestroyprob(q);
  return best >= kFree ? kFree : p->objsense * best;
}

// A random convex MIQP over 5 columns of mixed kinds: Q = L L' + I/10, two rows that a random
// point satisfies, sometimes an SOS1 set over two bounded columns.
void randomMiqp(KRVXprob p, std::mt19937 &rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  const char kinds[] = {'I', 'B', 'C', 'S', 'P', 'R'};
  std::vector<TCol> cols;
  for (int j = 0; j < 5; ++j) {
    const char t = j < 2 ? kinds[j] : kinds[rng() % 6];
    TCol c{3 * u(rng), -2, 3, t};
    if (t == 'B') c.lb = 0, c.ub = 1;
    if (t == 'S' || t == 'R') c.lb = 0, c.limit = 1 + (rng() % 2);
    if (t == 'P') c.lb = 0, c.limit = 1.5;
    cols.push_back(c);
  }
  std::vector<TRow> rows;
  for (int i = 0; i < 2; ++i) {
    TRow r{'L', 0, {}};
    for (int j = 0; j < 5; ++j) r.coefs.push_back({j, u(rng)});
    r.rhs = 1 + std::fabs(u(rng));   // x = 0 is feasible for every kind
    rows.push_back(r);
  }
  setModel(p, rng() % 2 ? 1 : -1, cols, rows);
  double l[5][5];
  for (auto &row : l)
    for (double &v : row) v = u(rng);
  for (int i = 0; i < 5; ++i)
    for (int j = i; j < 5; ++j) {
      double q = i == j ? 0.1 : 0.0;
      for (int k = 0; k < 5; ++k) q += l[i][k] * l[j][k];
      p->qobj.push_back({i, j, p->objsense * q});   // maximising -Q: concave
    }
  p->sets.clear();
  if (rng() % 3 == 0) {
    p->cols[3] = krvx::Column{p->cols[3].cost, 0, 2, 'C'};
    p->cols[4] = krvx::Column{p->cols[4].cost, 0, 2, 'C'};
    krvx::setColLimit(*p, 3, 0);
    krvx::setColLimit(*p, 4, 0);
    p->sets.push_back({'1', {3, 4}, {1, 2}});
  }
}

// A point's objective (c'x + 1/2 x'Qx with the stored triangle) and whether it keeps the
// column kinds, the rows and the sets.
double objectiveAt(KRVXprob p, const std::vector<double> &x) {
  double f = p->objconst;
  for (size_t j = 0; j < x.size(); ++j) f += p->cols[j].cost * x[j];
  for (const auto &t : p->qobj) f += (t.i == t.j ? 0.5 : 1.0) * t.value * x[size_t(t.i)] * x[size_t(t.j)];
  return f;
}

bool keepsKinds(KRVXprob p, const std::vector<double> &x) {
  const double tol = 1e-6;
  for (size_t j = 0; j < x.size(); ++j) {
    bool ok = false;
    for (const auto &b : boxes(p->cols[j], krvx::colLimit(*p, j))) ok = ok || (x[j] >= b.first - tol && x[j] <= b.second + tol);
    if (!ok) return false;
  }
  for (const auto &s : p->sets) {
    int nonzero = 0;
    for (int c : s.cols) nonzero += std::fabs(x[size_t(c)]) > tol;
    if (nonzero > 1) return false;
  }
  return true;
}

void convexMiqps() {
  std::mt19937 rng(7);
  KRVXprob p = newProb();
  for (int k = 0; k < 30; ++k) {
    randomMiqp(p, rng);
    const double expected = bruteForce(p);
    Outcome r = run(p);
    if (!near(r.obj, expected, 1e-5)) std::fprintf(stderr, "instance %d: %.9g, enumeration %.9g\n", k, r.obj, expected);
    EXPECT(optimal(r) && near(r.obj, expected, 1e-5));
    EXPECT(keepsKinds(p, r.x) && near(objectiveAt(p, r.x), r.obj, 1e-6));
    EXPECT(intAttr(p, KRVX_MIPSTATUS) == 6 && intAttr(p, KRVX_NODES) >= 0);
    EXPECT(near(dblAttr(p, KRVX_BESTBOUND), r.obj, 1e-3));
    // the continuous relaxation bounds the optimum
    KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
    EXPECT_OK(p, KRVXlpoptimize(p, ""));
    EXPECT(p->objsense * dblAttr(p, KRVX_OBJVAL) <= p->objsense * r.obj + 1e-6);
  }
  KRVXdestroyprob(p);
}

// ---- published optima (our own writing of the models) ----

// min -x0 - x1 - x2: (x1 - 1/2)^2 + (x2 - 1/2)^2 <= 1/4, x0 - x1 <= 0, x0 + x2 + x3 <= 2,
// x0 binary, x3 integer in [0, 5]: -2.5 (the branch-and-bound engine's own example).
void circleExample() {
  KRVXprob p = newProb();
  setModel(p, 1, {{-1, 0, 1, 'B'}, {-1, 0, kFree}, {-1, 0, kFree}, {0, 0, 5, 'I'}},
           {{'L', 0.25 - 0.5, {{1, -1}, {2, -1}}}, {'L', 0, {{0, 1}, {1, -1}}}, {'L', 2, {{0, 1}, {2, 1}, {3, 1}}}});
  // (x1 - 1/2)^2 + (x2 - 1/2)^2 = x1^2 + x2^2 - x1 - x2 + 1/2
  p->qrows.assign(3, {});
  p->qrows[0] = {{1, 1, 1.0}, {2, 2, 1.0}};
  Outcome r = run(p);
  EXPECT(optimal(r) && near(r.obj, -2.5, 1e-3) && near(r.x[0], 1) && near(r.x[1], 1, 1e-5) && near(r.x[2], 0.5, 1e-3));
  KRVXdestroyprob(p);
}

// A small test problem with a documented optimum of 7.6671800:
// min 2 x2 + 3 x3 + 1.5 b4 + 2 b5 - 0.5 b6: x2^2 + b4 = 1.25, x3^1.5 + 1.5 b5 = 3, x2 + b4 <= 1.6,
// 1.333 x3 + b5 <= 3, -b4 - b5 + b6 <= 0, x in [0, 10].
void documentedOptimum() {
  tagKRVNproblem *nl;
  KRVXprob p = newProb();
  setModel(p, 1, {{2, 0, 10}, {3, 0, 10}, {1.5, 0, 1, 'B'}, {2, 0, 1, 'B'}, {-0.5, 0, 1, 'B'}},
           {{'E', 1.25, {{2, 1}}}, {'E', 3, {{3, 1.5}}}, {'L', 1.6, {{0, 1}, {2, 1}}}, {'L', 3, {{1, 1.333}, {3, 1}}},
            {'L', 0, {{2, -1}, {3, -1}, {4, 1}}}});
  KRVXnlpcreateprob(p, &nl);
  EXPECT_OK(p, addFormula(nl, 0, KRVN_NOCOL, 1.0, {X(0), C(2), Op(KRVN_OP_POWER), End()}));
  EXPECT_OK(p, addFormula(nl, 1, KRVN_NOCOL, 1.0, {X(1), C(1.5), Op(KRVN_OP_POWER), End()}));
  Outcome r = run(p);
  EXPECT(optimal(r) && near(r.obj, 7.6671800, 1e-6) && near(r.x[2], 0) && near(r.x[3], 1) && near(r.x[4], 1));
  KRVXdestroyprob(p);
}

// ---- controls, interrupts, SIGINT ----

int calls = 0;
KRVXprob interruptTarget = nullptr;
int stopAfter = 0, stopHow = 0;   // 1: KRVXinterrupt, 2: SIGINT
int square(const double *v, const double *deltas, double *result, double *partials, void *) {
  *result = v[0] * v[0];
  if (deltas) partials[0] = 2 * v[0];
  if (++calls == stopAfter) {
    if (stopHow == 1) KRVXinterrupt(interruptTarget, 9);
    else std::raise(SIGINT);
  }
  return 0;
}

// sum (x_j - 0.4 j)^2 over 8 integer columns written with a user function, with a row that
// makes the search branch.
KRVXprob branchingProblem(tagKRVNproblem **nl) {
  KRVXprob p = newProb();
  std::vector<TCol> cols;
  TRow row{'G', 7.5, {}};
  for (int j = 0; j < 8; ++j) {
    cols.push_back({0, -5, 5, 'I'});
    row.coefs.push_back({j, 1.0 + 0.1 * j});
  }
  setModel(p, 1, cols, {row});
  KRVXnlpcreateprob(p, nl);
  int fn = 0;
  KRVNadduserfunction(*nl, "square", KRVN_FUNCTYPE_DERIVS, 1, 1, 0, reinterpret_cast<void *>(&square), nullptr, &fn);
  for (int j = 0; j < 8; ++j)
    addFormula(*nl, KRVN_OBJROW, KRVN_NOCOL, 1.0, {RB(), X(j), C(0.4 * j), Op(KRVN_OP_MINUS), UF(fn), End()});
  return p;
}

void controlsAndStops() {
  tagKRVNproblem *nl;
  KRVXprob p = branchingProblem(&nl);
  interruptTarget = p;
  Outcome full = run(p);
  EXPECT(optimal(full) && intAttr(p, KRVX_NODES) > 1);
  // one node: stopped by the limit, with or without an incumbent
  KRVXsetintcontrol(p, KRVX_MAXNODE, 1);
  Outcome one = run(p);
  EXPECT(one.rc == 0 && one.solve == KRVX_SOLVESTATUS_STOPPED && intAttr(p, KRVX_STOPSTATUS) == 3);
  EXPECT(one.sol == (intAttr(p, KRVX_MIPSTATUS) == 4 ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND));
  KRVXsetintcontrol(p, KRVX_MAXNODE, 0);
  // interrupt and SIGINT during the search, twice each (a second SIGINT must not end the process)
  for (int how : {1, 2, 2, 1}) {
    calls = 0;
    stopAfter = 400;
    stopHow = how;
    Outcome r = run(p);
    EXPECT(r.rc == 0 && r.solve == KRVX_SOLVESTATUS_STOPPED && intAttr(p, KRVX_STOPSTATUS) == (how == 1 ? 9 : 2));
    if (r.sol == KRVX_SOLSTATUS_FEASIBLE) EXPECT(r.obj >= full.obj - 1e-6 && intAttr(p, KRVX_MIPSTATUS) == 4);
  }
  stopAfter = 0;
  Outcome again = run(p);
  EXPECT(optimal(again) && near(again.obj, full.obj, 1e-6));
  // output: the engine's lines when OUTPUTLOG is on, none when it is off
  int lines = 0;
  auto count = [](KRVXprob, void *data, const char *, int, int type) {
    if (type >= 0) ++*static_cast<int *>(data);
  };
  EXPECT_OK(p, KRVXaddmessagehandler(p, count, &lines));
  run(p);
  EXPECT(lines == 0);
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 1);
  KRVXoptimize(p, "", nullptr, nullptr);
  EXPECT(lines > 0);
  KRVXremovemessagehandler(p, count, &lines);
  KRVXdestroyprob(p);
}

// ---- non-smooth formulas ----

void nonsmooth() {
  tagKRVNproblem *nl;
  // median: min sum |t - a|
  const double data[] = {3, 1, 7, 4, 10, 4.5, 2};
  KRVXprob p = newProb();
  setModel(p, 1, {{0, -100, 100}}, {});
  KRVXnlpcreateprob(p, &nl);
  for (double a : data) addFormula(nl, KRVN_OBJROW, KRVN_NOCOL, 1.0, {RB(), X(0), C(a), Op(KRVN_OP_MINUS), Fn(KRVN_FN_ABS), End()});
  Outcome r = run(p);
  EXPECT(optimal(r) && near(r.x[0], 4) && near(r.obj, 1 + 3 + 3 + 0 + 6 + 0.5 + 2));
  EXPECT(intAttr(p, KRVX_MIPSTATUS) == 6);   // a MIP
  // without bounds the reformulation has none to use
  p->cols[0].lb = -kFree;
  p->highs_stale = true;
  EXPECT_FAILS(p, KRVXoptimize(p, "", nullptr, nullptr), "no finite lower bound");
  KRVXdestroyprob(p);

  // z = max(x, y, 3) with x + y >= 4: min z is 3; And of binaries in a row
  p = newProb();
  setModel(p, 1, {{0, 0, 10}, {0, 0, 10}, {1, -20, 20}, {0.5, 0, 1, 'B'}, {0.25, 0, 1, 'B'}, {0.1, 0, 1, 'B'}},
           {{'G', 4, {{0, 1}, {1, 1}}}, {'E', 0, {{2, 1}}}, {'G', 1, {}}});
  KRVXnlpcreateprob(p, &nl);
  EXPECT_OK(p, addFormula(nl, 1, KRVN_NOCOL, -1.0, {RB(), X(0), X(1), C(3), Fn(KRVN_FN_MAX), End()}));
  EXPECT_OK(p, addFormula(nl, 2, KRVN_NOCOL, 1.0, {RB(), X(3), X(4), Fn(KRVN_FN_MIN), End()}));
  r = run(p);
  EXPECT(optimal(r) && near(r.obj, 3 + 0.75) && near(r.x[2], 3) && std::max(r.x[0], r.x[1]) <= 3 + 1e-6);
  EXPECT(near(r.x[3], 1) && near(r.x[4], 1) && near(r.x[5], 0));
  KRVXdestroyprob(p);

  // a concave piecewise-linear cost as a formula and as a piecewise-linear constraint: the same
  const std::vector<double> xs = {0, 4, 10}, ys = {0, 12, 18};
  double objs[2];
  for (int asFormula = 0; asFormula < 2; ++asFormula) {
    p = newProb();
    setModel(p, -1, {{0, 0, 10}, {asFormula ? 0.0 : 1.0, -kFree, kFree}}, {{'L', 14, {{0, 1}}}});
    if (asFormula) {
      KRVXnlpcreateprob(p, &nl);
      Tokens t{RB()};
      for (size_t k = xs.size(); k-- > 0;) t.insert(t.end(), {C(ys[k]), C(xs[k])});
      t.insert(t.end(), {X(0), Fn(KRVN_FN_PWL), End()});
      EXPECT_OK(p, addFormula(nl, KRVN_OBJROW, KRVN_NOCOL, 1.0, t));
      p->cols[1].ub = p->cols[1].lb = 0;
    } else {
      p->pwls.push_back({0, 1, xs, ys});
    }
    r = run(p);
    EXPECT(optimal(r));
    objs[asFormula] = r.obj;
    KRVXdestroyprob(p);
  }
  EXPECT(near(objs[0], objs[1]) && near(objs[0], 18));

  // non-smooth nodes over nonlinear arguments and with a nonlinear rest: branch-and-bound.
  // |x^2 - 2| is 0 at sqrt 2; exp(x) + |x - 1| is least at 0; sign(x) + x/10 on [-2, 3] is -1.2 at -2
  const struct { double lb, cost; Tokens t; double obj, x, objTol, xTol; } cases[] = {
      {0, 0, {RB(), X(0), C(2), Op(KRVN_OP_POWER), C(2), Op(KRVN_OP_MINUS), Fn(KRVN_FN_ABS), End()}, 0,
       std::sqrt(2.0), 1e-6, 1e-5},
      {-3, 0, {RB(), X(0), Fn(KRVN_FN_EXP), RB(), X(0), C(1), Op(KRVN_OP_MINUS), Fn(KRVN_FN_ABS), Op(KRVN_OP_PLUS),
               End()}, 2, 0, 1e-6, 1e-5},
      {-2, 0.1, {RB(), X(0), Fn(KRVN_FN_SIGN), End()}, -1.2, -2, 1e-6, 1e-6}};
  p = newProb();
  setModel(p, 1, {{0, 0, 3}}, {});
  KRVXnlpcreateprob(p, &nl);
  for (const auto &c : cases) {
    KRVNdelrowcoefs(nl, KRVN_OBJROW);
    p->cols[0].lb = c.lb;
    p->cols[0].cost = c.cost;
    EXPECT_OK(p, addFormula(nl, KRVN_OBJROW, KRVN_NOCOL, 1.0, c.t));
    r = run(p);
    EXPECT(optimal(r) && near(r.obj, c.obj, c.objTol) && near(r.x[0], c.x, c.xTol));
  }
  KRVXdestroyprob(p);
}

// ---- continuous non-convex problems: no stop at a maximum or saddle ----

void nonconvexContinuous() {
  tagKRVNproblem *nl;
  const Tokens negSquare{X(0), C(2), Op(KRVN_OP_POWER), Op(KRVN_OP_UMINUS), End()};
  const Tokens cosine{RB(), X(0), Fn(KRVN_FN_COS), End()};
  const Tokens product{X(0), X(1), Op(KRVN_OP_MULTIPLY), End()};
  const std::pair<const Tokens *, double> cases[] = {{&negSquare, -1}, {&cosine, std::cos(1.0)}, {&product, -1}};
  for (const auto &c : cases) {
    KRVXprob p = newProb();
    setModel(p, 1, {{0, -1, 1}, {0, -1, 1}}, {});
    KRVXnlpcreateprob(p, &nl);
    EXPECT_OK(p, addFormula(nl, KRVN_OBJROW, KRVN_NOCOL, 1.0, *c.first));
    Outcome r = run(p);
    if (!near(r.obj, c.second, 1e-6)) std::fprintf(stderr, "objective %.9g, expected %.9g\n", r.obj, c.second);
    EXPECT(optimal(r) && near(r.obj, c.second, 1e-6));
    // the same as a quadratic objective (x*y is not convex: not the QP solver)
    if (c.first == &product) {
      KRVNdelrowcoefs(nl, KRVN_OBJROW);
      p->qobj = {{0, 1, 1.0}};
      r = run(p);
      EXPECT(optimal(r) && near(r.obj, -1, 1e-6));
    }
    KRVXdestroyprob(p);
  }
  // a wide box: the start stays near 0, where exp is finite; min exp(x) + (x - 2)^2
  KRVXprob p = newProb();
  setModel(p, 1, {{0, -1e6, 1e6}}, {});
  KRVXnlpcreateprob(p, &nl);
  EXPECT_OK(p, addFormula(nl, KRVN_OBJROW, KRVN_NOCOL, 1.0,
                          {RB(), X(0), Fn(KRVN_FN_EXP), X(0), C(2), Op(KRVN_OP_MINUS), C(2), Op(KRVN_OP_POWER),
                           Op(KRVN_OP_PLUS), End()}));
  Outcome r = run(p);
  EXPECT(optimal(r) && std::fabs(std::exp(r.x[0]) + 2 * (r.x[0] - 2)) < 1e-5);
  KRVXdestroyprob(p);
}

// ---- convex QPs: the QP solver's limit and the fallback ----

void convexQps() {
  // the QP solver cycles on this one without a limit: min x^2 - 2x, 0 <= x <= 5, z in [-9, 9]
  // only in z <= 100
  KRVXprob p = newProb();
  setModel(p, 1, {{-2, 0, 5}, {0, -9, 9}}, {{'L', 100, {{1, 1}}}});
  p->qobj = {{0, 0, 2.0}};
  Outcome r = run(p);
  EXPECT(optimal(r) && near(r.obj, -1) && near(r.x[0], 1, 1e-5));
  // random small convex QPs: the QP route and the interior-point route (the same QP with a
  // redundant quadratic row) agree
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int k = 0; k < 60; ++k) {
    const int n = 1 + int(rng() % 5), m = int(rng() % 4);
    std::vector<TCol> cols;
    for (int j = 0; j < n; ++j) cols.push_back({3 * u(rng), rng() % 3 ? -5.0 : -kFree, rng() % 3 ? 5.0 : kFree});
    std::vector<TRow> rows;
    for (int i = 0; i < m; ++i) {
      TRow row{"LGE"[rng() % 3], 0, {}};
      for (int j = 0; j < n; ++j)
        if (rng() % 2) row.coefs.push_back({j, u(rng)});
      rows.push_back(row);   // 0 satisfies every row
    }
    rows.push_back({'N', 0, {}});
    setModel(p, 1, cols, rows);
    p->qrows.clear();
    // diagonally dominant: convex
    for (int i = 0; i < n; ++i)
      for (int j = i; j < n; ++j) {
        const double q = i == j ? 0.1 + std::fabs(u(rng)) : rng() % 2 ? 0.02 * u(rng) : 0.0;
        if (q != 0.0) p->qobj.push_back({i, j, q});
      }
    Outcome a = run(p);
    if (a.rc) std::fprintf(stderr, "QP %d: %s\n", k, lastError(p).c_str());
    p->qrows.assign(size_t(m + 1), {});
    p->qrows[size_t(m)] = {{0, 0, 1e-9}};   // a free row: never binding
    p->rows[size_t(m)].type = 'L';
    p->rows[size_t(m)].rhs = 1e9;
    p->highs_stale = true;
    Outcome b = run(p);
    if (!(a.rc == 0 && b.rc == 0 && a.sol == b.sol))
      std::fprintf(stderr, "QP %d: rc %d %d, statuses %d/%d and %d/%d\n", k, a.rc, b.rc, a.solve, a.sol, b.solve, b.sol);
    EXPECT(a.rc == 0 && b.rc == 0 && a.sol == b.sol);
    if (optimal(a) && optimal(b)) {
      if (!near(a.obj, b.obj, 1e-5)) std::fprintf(stderr, "QP %d: %.9g against %.9g\n", k, a.obj, b.obj);
      EXPECT(near(a.obj, b.obj, 1e-5));
    }
  }
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  convexMiqps();
  circleExample();
  documentedOptimum();
  controlsAndStops();
  nonsmooth();
  nonconvexContinuous();
  convexQps();
  KRVXfree();
  return finish("test_minlp");
}
