// Solves after changes: the instance kept between solves takes some changes in place and is
// lowered anew after the others; either way every solve must end as a solve of a fresh copy does.
#include "test_solve_util.h"

namespace {

struct Result {
  int status = -1;
  double obj = 0.0;
};

Result solve(KRVXprob p) {
  Result r;
  int solvestatus = -1;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &r.status));
  if (r.status == KRVX_SOLSTATUS_OPTIMAL) r.obj = dblAttr(p, KRVX_OBJVAL);
  return r;
}

// Reads a field of p's store under its lock.
template <class F> auto locked(KRVXprob p, F &&read) {
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  return read();
}

// The kinds of change, those the instance takes in place first.
enum Kind { Bounds, Cost, Offset, Rhs, Range, RowType, Coef, Coefs, Sense, AddRows, AddCols, InPlaceKinds,
            DelRows = InPlaceKinds, DelCols, ColType, NKinds };
const char *const kindNames[NKinds] = {"chgbounds", "chgobj", "chgobj(-1)", "chgrhs", "chgrhsrange", "chgrowtype",
                                       "chgcoef", "chgmcoef", "chgobjsense", "addrows", "addcols", "delrows",
                                       "delcols", "chgcoltype"};

// One random change of the given kind; false when the problem has no item for it.
bool change(KRVXprob p, Kind kind, std::mt19937 &rng, bool mip) {
  const int ncols = intAttr(p, KRVX_COLS), nrows = intAttr(p, KRVX_ROWS);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  auto value = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  const int col = ncols ? pick(ncols) : -1, row = nrows ? pick(nrows) : -1;
  if ((kind == Bounds || kind == Cost || kind == DelCols || kind == ColType || kind == AddRows) && col < 0) return false;
  if ((kind == Rhs || kind == Range || kind == RowType || kind == Coef || kind == Coefs || kind == DelRows) &&
      (row < 0 || col < 0))
    return false;
  switch (kind) {
    case Bounds: {
      const double lo = value(-4, 2), up = lo + value(0, 6);
      const char types[] = {'L', 'U'};
      const double vals[] = {lo, up};
      return KRVXchgbounds(p, 2, std::vector<int>{col, col}.data(), types, vals) == 0;
    }
    case Cost:
    case Offset: {   // column -1 is the objective's constant
      const int j = kind == Cost ? col : -1;
      const double c = value(-3, 3);
      return KRVXchgobj(p, 1, &j, &c) == 0;
    }
    case Rhs: {
      const double b = value(0, 12);
      return KRVXchgrhs(p, 1, &row, &b) == 0;
    }
    case Range: {
      const double w = value(0, 5);
      return KRVXchgrowtype(p, 1, &row, "R") == 0 && KRVXchgrhsrange(p, 1, &row, &w) == 0;
    }
    case RowType: {
      const char t = "LGERN"[pick(5)];
      return KRVXchgrowtype(p, 1, &row, &t) == 0;
    }
    case Coef:
      return KRVXchgcoef(p, row, col, pick(3) == 0 ? 0.0 : value(-2, 3)) == 0;
    case Coefs: {
      const int rows[] = {row, pick(nrows)}, cols[] = {col, pick(ncols)};
      const double v[] = {value(-2, 3), pick(2) ? 0.0 : value(-2, 3)};
      return KRVXchgmcoef(p, 2, rows, cols, v) == 0;
    }
    case Sense:
      return KRVXchgobjsense(p, locked(p, [&] { return -p->objsense; })) == 0;
    case AddRows: {
      const char types[] = {'L', "LGE"[pick(3)]};
      const double rhs[] = {value(2, 12), value(0, 3)};
      const int start[] = {0, 2};
      const int cols[] = {col, pick(ncols), pick(ncols)};
      const double v[] = {value(0.5, 2), value(-1, 2), value(0.5, 2)};
      return KRVXaddrows(p, 2, cols[0] == cols[1] ? 1 : 3, types, rhs, nullptr, start,
                         cols[0] == cols[1] ? cols + 1 : cols, cols[0] == cols[1] ? v + 1 : v) == 0;
    }
    case AddCols: {
      const double cost[] = {value(-3, 3)}, lb[] = {value(-2, 0)}, ub[] = {value(0, 5)};
      const int start[] = {0};
      if (row < 0) return KRVXaddcols(p, 1, 0, cost, start, nullptr, nullptr, lb, ub) == 0;
      const double v = value(-2, 2);
      return KRVXaddcols(p, 1, 1, cost, start, &row, &v, lb, ub) == 0;
    }
    case DelRows:
      return KRVXdelrows_witharraysizes(p, 1, &row, 1) == 0;
    case DelCols:
      return KRVXdelcols_witharraysizes(p, 1, &col, 1) == 0;
    case ColType: {
      const char t = mip ? "CIB"[pick(3)] : 'C';
      return KRVXchgcoltype(p, 1, &col, &t) == 0;
    }
    default:
      return false;
  }
}

// A feasible, bounded start: rows sum(a x) <= b over columns in [0, 4].
void randomModel(KRVXprob p, std::mt19937 &rng, bool mip) {
  std::vector<TCol> cols;
  std::vector<TRow> rows;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int j = 0; j < 6; ++j) cols.push_back({-1 - 2 * u(rng), 0, 4, mip && j % 2 ? 'I' : 'C'});
  for (int i = 0; i < 5; ++i) {
    TRow r{'L', 4 + 8 * u(rng), {}};
    for (int j = 0; j < 6; ++j)
      if (u(rng) < 0.6) r.coefs.push_back({j, 0.5 + 2 * u(rng)});
    rows.push_back(r);
  }
  setModel(p, 1, cols, rows);
}

void changeThenSolve(bool mip, unsigned seed) {
  std::mt19937 rng(seed);
  KRVXprob p = newProb();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  randomModel(p, rng, mip);
  // the benchmarks' hand-over lowers into the instance a solve then uses as it is
  EXPECT_OK(p, KRVXlowerforbenchmark(p));
  EXPECT(locked(p, [&] { return p->highs && !p->highs_stale; }));
  int inplace = 0, anew = 0;
  for (int step = 0; step < 150; ++step) {
    const Kind kind = Kind(step < NKinds ? step : std::uniform_int_distribution<int>(0, NKinds - 1)(rng));
    solve(p);   // the instance now holds the problem
    if (!change(p, kind, rng, mip)) continue;
    const bool stale = locked(p, [&] { return bool(p->highs_stale); });
    if (kind < InPlaceKinds) EXPECT(!stale);   // noted, not lowered anew
    (stale ? anew : inplace)++;
    const Result warm = solve(p);
    KRVXprob q = newProb();
    KRVXsetintcontrol(q, KRVX_OUTPUTLOG, 0);
    EXPECT_OK(q, KRVXcopyprob(q, p, "fresh"));
    const Result cold = solve(q);
    KRVXdestroyprob(q);
    const bool same = warm.status == cold.status && near(warm.obj, cold.obj);
    if (!same)
      std::fprintf(stderr, "%s seed %u step %d after %s: status %d obj %.9g, fresh copy %d %.9g\n", mip ? "MIP" : "LP",
                   seed, step, kindNames[kind], warm.status, warm.obj, cold.status, cold.obj);
    EXPECT(same);
  }
  EXPECT(inplace > 0 && anew > 0);
  KRVXdestroyprob(p);
}

// A destroyed problem's instance serves the next problem's first solve: nothing of it (options,
// model, basis) may carry over, the solve runs as on a new instance to the iteration.
void reusedInstances() {
  std::mt19937 rng(11);
  KRVXprob a = newProb();
  KRVXsetintcontrol(a, KRVX_OUTPUTLOG, 0);
  randomModel(a, rng, false);
  const Result first = solve(a);
  const int iters = intAttr(a, KRVX_SIMPLEXITER);
  EXPECT(first.status == KRVX_SOLSTATUS_OPTIMAL && iters > 0);
  for (int variant = 0; variant < 3; ++variant) {
    KRVXprob b = newProb();
    KRVXsetintcontrol(b, KRVX_OUTPUTLOG, 0);
    if (variant == 2) {
      randomModel(b, rng, true);
    } else {
      EXPECT_OK(b, KRVXcopyprob(b, a, "b"));
      KRVXchgobjsense(b, -1);
      KRVXsetintcontrol(b, KRVX_PRESOLVE, 0);
      if (variant == 1) KRVXsetintcontrol(b, KRVX_LPITERLIMIT, 1);
    }
    solve(b);
    KRVXdestroyprob(b);
    KRVXprob c = newProb();
    KRVXsetintcontrol(c, KRVX_OUTPUTLOG, 0);
    EXPECT_OK(c, KRVXcopyprob(c, a, "c"));
    const Result again = solve(c);
    EXPECT(again.status == first.status && again.obj == first.obj);
    EXPECT(intAttr(c, KRVX_SIMPLEXITER) == iters);
    KRVXdestroyprob(c);
  }
  KRVXdestroyprob(a);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  reusedInstances();
  for (unsigned seed = 1; seed <= 4; ++seed) {
    changeThenSolve(false, seed);
    changeThenSolve(true, seed);
  }
  KRVXfree();
  return finish("test_solve_changes");
}
