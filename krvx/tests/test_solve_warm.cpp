// Warm solves: after each change the solver's instance takes in place, the next solve starts from
// the basis it has (with presolve on or off), ends at the optimum of a cold solve of a freshly read
// copy with the same change, and takes no more iterations than it.
#include "test_solve_util.h"

#include <functional>
#include <string>

namespace {

struct Outcome {
  int status = -1;
  double obj = 0.0;
  int iters = 0;
};

Outcome lpSolve(KRVXprob p) {
  Outcome r;
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  r.status = intAttr(p, KRVX_SOLSTATUS);
  if (r.status == KRVX_SOLSTATUS_OPTIMAL) r.obj = dblAttr(p, KRVX_OBJVAL);
  r.iters = intAttr(p, KRVX_SIMPLEXITER);
  return r;
}

KRVXprob readFresh(const std::string &file, int presolve) {
  KRVXprob p = newProb();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  KRVXsetintcontrol(p, KRVX_PRESOLVE, presolve);
  EXPECT_OK(p, KRVXreadprob(p, file.c_str(), ""));
  return p;
}

// A small change, computed once from the solved problem and applied to any copy of it.
using Change = std::function<void(KRVXprob)>;

enum Kind { Bounds, Costs, ObjN, Offset, Sense, Rhs, Range, RowType, Coefs, AddRows, AddCols, NKinds };
const char *const kindNames[NKinds] = {"bounds", "costs", "chgobjn+delqmatrix", "offset", "sense", "rhs",
                                       "range", "rowtype", "coefs", "addrows", "addcols"};

Change makeChange(KRVXprob p, Kind kind, std::mt19937 &rng) {
  const int n = intAttr(p, KRVX_COLS), m = intAttr(p, KRVX_ROWS);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  auto pick = [&](int k) { return std::uniform_int_distribution<int>(0, k - 1)(rng); };
  std::vector<double> x(size_t(n) + 1);
  KRVXgetsolution(p, nullptr, x.data(), 0, n - 1);
  std::vector<int> idx;
  std::vector<double> val;
  std::vector<char> type;
  auto rowOf = [&](int i) { return p->rows[size_t(i)]; };
  switch (kind) {
    case Bounds:   // a few columns' bounds move towards or past their value
      for (int k = 0; k < 3; ++k) {
        const int j = pick(n);
        const krvx::Column &c = p->cols[size_t(j)];
        const double lo = krvx::isInf(c.lb) ? x[j] - 10 : c.lb;
        idx.push_back(j);
        if (u(rng) > 0 || krvx::isInf(c.ub)) {
          type.push_back('U');
          val.push_back(std::max(lo, x[j] - 0.1 * (std::fabs(x[j]) + 1) * std::fabs(u(rng))));
        } else {
          type.push_back('L');
          val.push_back(std::min(c.ub, lo + 0.05 * (c.ub - lo)));
        }
      }
      return [=](KRVXprob q) { EXPECT_OK(q, KRVXchgbounds(q, int(idx.size()), idx.data(), type.data(), val.data())); };
    case Costs:
    case ObjN:   // every cost by up to 5 %
      for (int j = 0; j < n; ++j) {
        idx.push_back(j);
        val.push_back(p->cols[size_t(j)].cost * (1 + 0.05 * u(rng)));
      }
      if (kind == Costs) return [=](KRVXprob q) { EXPECT_OK(q, KRVXchgobj(q, n, idx.data(), val.data())); };
      return [=](KRVXprob q) {
        EXPECT_OK(q, KRVXchgobjn_witharraysizes(q, 0, n, idx.data(), n, val.data(), n));
        EXPECT_OK(q, KRVXdelqmatrix(q, -1));
      };
    case Offset: {
      const int j = -1;
      const double c = 10 * u(rng);
      return [=](KRVXprob q) { EXPECT_OK(q, KRVXchgobj(q, 1, &j, &c)); };
    }
    case Sense: {
      const int s = -p->objsense;
      return [=](KRVXprob q) { EXPECT_OK(q, KRVXchgobjsense(q, s)); };
    }
    case Rhs:
      for (int k = 0; k < 5; ++k) {
        const int i = pick(m);
        idx.push_back(i);
        val.push_back(rowOf(i).rhs * (1 + 0.05 * u(rng)) + 0.01 * u(rng));
      }
      return [=](KRVXprob q) { EXPECT_OK(q, KRVXchgrhs(q, int(idx.size()), idx.data(), val.data())); };
    case Range:
    case RowType:
      for (int k = 0; k < 3; ++k) {
        const int i = pick(m);
        const char t = rowOf(i).type;
        if (t == 'N' || (kind == Range && t == 'E')) continue;
        idx.push_back(i);
        val.push_back(0.5 * std::fabs(rowOf(i).rhs) + 1);
        type.push_back(kind == Range ? 'R' : t == 'E' ? "LG"[pick(2)] : "EN"[pick(2)]);
      }
      return [=](KRVXprob q) {
        const int k = int(idx.size());
        EXPECT_OK(q, KRVXchgrowtype(q, k, idx.data(), type.data()));
        if (kind == Range) EXPECT_OK(q, KRVXchgrhsrange(q, k, idx.data(), val.data()));
      };
    case Coefs: {   // a few entries by up to 5 %
      std::vector<int> cols;
      for (int k = 0; k < 5; ++k) {
        const int j = pick(n);
        const krvx::ColumnView e = p->matrix.col(j);
        if (e.size() == 0) continue;
        const krvx::Entry it = e[size_t(pick(int(e.size())))];
        idx.push_back(it.index);
        cols.push_back(j);
        val.push_back(it.value * (1 + 0.05 * u(rng)));
      }
      return [=](KRVXprob q) {
        EXPECT_OK(q, KRVXchgmcoef(q, int(idx.size()), idx.data(), cols.data(), val.data()));
      };
    }
    case AddRows: {   // a cut through the optimum: a few positive values summed stay below 95 %
      double sum = 0.0;
      for (int j = 0; j < n && idx.size() < 4; ++j)
        if (x[j] > 1e-6) {
          idx.push_back(j);
          val.push_back(1.0);
          sum += x[j];
        }
      if (idx.empty()) idx.push_back(0), val.push_back(1.0), sum = x[0] + 1;
      const double rhs = 0.95 * sum;
      return [=](KRVXprob q) {
        const int start[] = {0};
        EXPECT_OK(q, KRVXaddrows(q, 1, int(idx.size()), "L", &rhs, nullptr, start, idx.data(), val.data()));
      };
    }
    case AddCols: {   // a copy of a column, 10 % cheaper (in the objective's direction)
      const int j = pick(n);
      const krvx::Column c = p->cols[size_t(j)];
      for (const krvx::Entry e : p->matrix.col(j)) idx.push_back(e.index), val.push_back(e.value);
      const double cost = c.cost - 0.1 * p->objsense * (std::fabs(c.cost) + 1);
      return [=](KRVXprob q) {
        const int start[] = {0};
        EXPECT_OK(q, KRVXaddcols(q, 1, int(idx.size()), &cost, start, idx.data(), val.data(), &c.lb, &c.ub));
      };
    }
    default: return [](KRVXprob) {};
  }
}

void warmAfterChanges(const std::string &dir) {
  const char *files[] = {"afiro", "adlittle", "sc50a", "blend", "share2b", "scagr7", "stocfor1", "bandm"};
  int warmTotal = 0, coldTotal = 0;
  for (const char *name : files) {
    const std::string file = dir + "/netlib/" + name + ".mps.gz";
    for (int presolve = 0; presolve <= 1; ++presolve)
      for (int kind = 0; kind < NKinds; ++kind) {
        std::mt19937 rng(unsigned(1000 * presolve + 17 * kind + std::hash<std::string>()(name)));
        KRVXprob p = readFresh(file, presolve);
        const Outcome first = lpSolve(p);
        EXPECT(first.status == KRVX_SOLSTATUS_OPTIMAL);
        const Change change = makeChange(p, Kind(kind), rng);
        change(p);
        EXPECT(!p->highs_stale);   // taken in place
        const Outcome warm = lpSolve(p);
        KRVXprob q = readFresh(file, presolve), r = readFresh(file, 0);
        change(q);
        change(r);
        const Outcome cold = lpSolve(q), plain = lpSolve(r);
        const bool same = warm.status == cold.status && near(warm.obj, cold.obj, 1e-7) &&
                          plain.status == cold.status && near(plain.obj, cold.obj, 1e-7);
        // a warm run skips presolve: its bound is a cold run's without presolve; a flipped sense
        // is no small change
        const bool fewer = kind == Sense || warm.iters <= plain.iters;
        if (!same || !fewer)
          std::fprintf(stderr, "%s presolve %d after %s: status %d obj %.10g iters %d; fresh copy %d %.10g, "
                       "without presolve %d %.10g %d\n", name, presolve, kindNames[kind], warm.status, warm.obj,
                       warm.iters, cold.status, cold.obj, plain.status, plain.obj, plain.iters);
        EXPECT(same && fewer);
        if (std::getenv("KORVEX_WARM_VERBOSE"))
          std::printf("%-9s presolve %d %-20s warm %4d cold %4d\n", name, presolve, kindNames[kind], warm.iters,
                      plain.iters);
        if (kind != Sense) {
          warmTotal += warm.iters;
          coldTotal += plain.iters;
        }
        KRVXdestroyprob(r);
        KRVXdestroyprob(q);
        KRVXdestroyprob(p);
      }
  }
  // small changes: far fewer iterations than cold solves over all
  EXPECT(5 * warmTotal < coldTotal);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  const std::string dir = sharedData("warm solves of the Netlib files");
  if (!dir.empty()) warmAfterChanges(dir);
  KRVXfree();
  return finish("test_solve_warm");
}
