// LP, MIP and QP solves with known optima, statuses, flags, unsupported content, crossover.
#include "test_solve_util.h"

namespace {

// max 3x + 2y  s.t.  x + y <= 4,  x + 3y <= 6,  0 <= x <= 3, y >= 0   ->  x = 3, y = 1, 11
void smallLp(KRVXprob p, double objconst = 0.0) {
  setModel(p, -1, {{3, 0, 3}, {2, 0, 1e20}}, {{'L', 4, {{0, 1}, {1, 1}}}, {'L', 6, {{0, 1}, {1, 3}}}}, objconst);
}

void lp() {
  KRVXprob p = newProb();
  smallLp(p, 5.0);
  int solvestatus = -1, solstatus = -1;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_OPTIMAL);
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 16.0));   // constant included
  EXPECT(intAttr(p, KRVX_LPSTATUS) == 1);
  std::vector<double> x = solution(p);
  EXPECT(x.size() == 2 && near(x[0], 3) && near(x[1], 1));
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    const krvx::Solution &s = p->sol;
    EXPECT(s.slack.size() == 2 && near(s.slack[0], 0) && near(s.slack[1], 0));
    EXPECT(s.has_duals && s.duals.size() == 2 && s.djs.size() == 2);
    EXPECT(s.rowstat.size() == 2 && s.colstat.size() == 2);
    EXPECT(s.colstat[0] == 2);                    // x at its upper bound
    EXPECT(s.colstat[1] == 1);                    // y basic
  }
  // every algorithm letter gives the same optimum; warm start keeps the instance
  for (const char *flags : {"b", "p", "d", "n"}) {
    EXPECT_OK(p, KRVXlpoptimize(p, flags));
    EXPECT(near(dblAttr(p, KRVX_OBJVAL), 16.0));
    EXPECT(intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_OPTIMAL);
  }
  EXPECT_FAILS(p, KRVXlpoptimize(p, "q"), "Unknown flag 'q'");
  EXPECT_FAILS(p, KRVXlpoptimize(p, "bp"), "different algorithms");
  EXPECT_FAILS(p, KRVXoptimize(p, "sx", nullptr, nullptr), "exclude each other");
  EXPECT_FAILS(nullptr, KRVXlpoptimize(nullptr, ""), "no problem given");
  // a refused call leaves the solution in place
  EXPECT(intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_OPTIMAL);
  // a solve that fails leaves no earlier result: FAILED, NOTFOUND, no objective, no solution
  p->cols[1].lb = 1e20;   // HiGHS refuses a lower bound of +infinity
  p->highs_stale = true;
  EXPECT(KRVXoptimize(p, "", &solvestatus, &solstatus) != 0);
  EXPECT(solvestatus == KRVX_SOLVESTATUS_FAILED && solstatus == KRVX_SOLSTATUS_NOTFOUND);
  EXPECT(intAttr(p, KRVX_SOLVESTATUS) == KRVX_SOLVESTATUS_FAILED && dblAttr(p, KRVX_OBJVAL) == 0.0);
  EXPECT(solution(p).empty());

  // range row [2, 4] on x + y with min x + y -> 2; slack is measured from the upper side
  setModel(p, 1, {{1, 0, 1e20}, {1, 0, 1e20}}, {{'R', 4, {{0, 1}, {1, 1}}, 2}, {'N', 0, {{0, 1}}}});
  EXPECT_OK(p, KRVXlpoptimize(p, nullptr));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 2));
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    EXPECT(near(p->sol.slack[0], 2));
  }
  KRVXdestroyprob(p);
}

void statuses() {
  KRVXprob p = newProb();
  int solvestatus = -1, solstatus = -1;
  // infeasible LP: x >= 2, x <= 1
  setModel(p, 1, {{1, 0, 1e20}}, {{'G', 2, {{0, 1}}}, {'L', 1, {{0, 1}}}});
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_INFEASIBLE);
  EXPECT(intAttr(p, KRVX_LPSTATUS) == 2);
  EXPECT(solution(p).empty());
  // the same without presolve, and as a MIP
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_PRESOLVE, 0));
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solstatus == KRVX_SOLSTATUS_INFEASIBLE);
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_PRESOLVE, 1));
  p->cols[0].type = 'I';
  p->highs_stale = true;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_INFEASIBLE);
  EXPECT(intAttr(p, KRVX_MIPSTATUS) == 5);
  // unbounded LP and MIP: max x + y, x - y <= 1
  setModel(p, -1, {{1, 0, 1e20}, {1, 0, 1e20}}, {{'L', 1, {{0, 1}, {1, -1}}}});
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_UNBOUNDED);
  EXPECT(intAttr(p, KRVX_LPSTATUS) == 5);
  p->cols[0].type = 'I';
  p->highs_stale = true;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_UNBOUNDED);
  // infeasible and unbounded at once: presolve says "infeasible or unbounded", which is settled
  setModel(p, -1, {{1, 0, 1e20}, {0, 0, 1e20}}, {{'G', 2, {{1, 1}}}, {'L', 1, {{1, 1}}}});
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_INFEASIBLE);
  // the instance is usable again after that (objective restored by a fresh lowering)
  smallLp(p);
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solstatus == KRVX_SOLSTATUS_OPTIMAL && near(dblAttr(p, KRVX_OBJVAL), 11));
  // iteration limit: stopped
  hardKnapsack(p, 40, 10, 3);
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_LPITERLIMIT, 1));
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_PRESOLVE, 0));
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  EXPECT(intAttr(p, KRVX_SOLVESTATUS) == KRVX_SOLVESTATUS_STOPPED);
  EXPECT(intAttr(p, KRVX_STOPSTATUS) == 4);
  KRVXdestroyprob(p);
}

void mip() {
  KRVXprob p = newProb();
  // max x + y, 2x + 2y <= 3, integers -> 1; relaxation 1.5
  setModel(p, -1, {{1, 0, 10, 'I'}, {1, 0, 10, 'I'}}, {{'L', 3, {{0, 2}, {1, 2}}}});
  int solvestatus = -1, solstatus = -1;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_OPTIMAL);
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 1) && near(dblAttr(p, KRVX_BESTBOUND), 1));
  EXPECT(intAttr(p, KRVX_MIPSTATUS) == 6);
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 1.5));
  // the root relaxation of the presolved problem, which presolve may tighten
  EXPECT_OK(p, KRVXmipoptimize(p, "l"));
  EXPECT(dblAttr(p, KRVX_OBJVAL) >= 1 - 1e-9 && dblAttr(p, KRVX_OBJVAL) <= 1.5 + 1e-9 &&
         intAttr(p, KRVX_MIPSTATUS) == 2);
  EXPECT_OK(p, KRVXmipoptimize(p, "d"));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 1));
  EXPECT_FAILS(p, KRVXmipoptimize(p, "x"), "Unknown flag 'x'");

  // binary: bounds clipped to [0, 1]; max 2b + x, b + x <= 1.5 (x <= 1)
  setModel(p, -1, {{2, -3, 7, 'B'}, {1, 0, 1}}, {{'L', 1.5, {{0, 1}, {1, 1}}}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), 2.5));

  // semi-continuous with a lower limit: min x with x >= 0.5 -> x = 2 (x in {0} u [2, 10])
  setModel(p, 1, {{1, 0, 10, 'S', 2}}, {{'G', 0.5, {{0, 1}}}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(solution(p).at(0), 2));
  // semi-integer: min x with x >= 2.5, x in {0} u {3, 4, ...}
  setModel(p, 1, {{1, 0, 10, 'R', 3}}, {{'G', 2.5, {{0, 1}}}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(solution(p).at(0), 3));

  // partial integer (integer below 5, continuous from 5 to 10): min x with x >= r
  for (auto rx : std::vector<std::pair<double, double>>{{2.5, 3}, {4.2, 5}, {6.3, 6.3}, {0.0, 0.0}}) {
    setModel(p, 1, {{1, 0, 10, 'P', 5}}, {{'G', rx.first, {{0, 1}}}});
    EXPECT_OK(p, KRVXmipoptimize(p, ""));
    std::vector<double> x = solution(p);
    EXPECT(x.size() == 1 && near(x[0], rx.second));
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    EXPECT(p->sol.slack.size() == 1);             // the tie row is not shown
  }
  // max x reaches the continuous upper bound; x >= 10.5 is infeasible
  setModel(p, -1, {{1, 0, 10, 'P', 5}}, {{'G', 1, {{0, 1}}}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(solution(p).at(0), 10));
  setModel(p, 1, {{1, 0, 10, 'P', 5}}, {{'G', 10.5, {{0, 1}}}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_INFEASIBLE);
  // a non-integral lower bound (integers 2..5, then [6, 10]), the column in a shared row:
  // min x + y with x + y >= 3.7 and y <= 0.2 -> x = 4, y = 0
  setModel(p, 1, {{1, 1.5, 10, 'P', 6}, {1, 0, 0.2}}, {{'G', 3.7, {{0, 1}, {1, 1}}}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  std::vector<double> x = solution(p);
  EXPECT(x.size() == 2 && near(x[0], 4) && near(x[1], 0) && near(dblAttr(p, KRVX_OBJVAL), 4));
  setModel(p, 1, {{1, 1.5, 10, 'P', 6}}, {{'G', 1.2, {{0, 1}}}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(near(solution(p).at(0), 2));
  // partial integer without a lower bound cannot be modelled exactly
  setModel(p, 1, {{1, -1e20, 10, 'P', 5}}, {{'G', 1, {{0, 1}}}});
  EXPECT_FAILS(p, KRVXmipoptimize(p, ""), "partial-integer column 0 has no finite lower bound");
  KRVXdestroyprob(p);
}

void qp() {
  KRVXprob p = newProb();
  // min x^2 + y^2 - 2x - 4y, x + y <= 2  ->  (0.5, 1.5), -4.5
  setModel(p, 1, {{-2, -1e20, 1e20}, {-4, -1e20, 1e20}}, {{'L', 2, {{0, 1}, {1, 1}}}});
  p->qobj = {{0, 0, 2.0}, {1, 1, 2.0}};
  int solvestatus = -1, solstatus = -1;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_OPTIMAL);
  std::vector<double> x = solution(p);
  EXPECT(x.size() == 2 && near(x[0], 0.5, 1e-5) && near(x[1], 1.5, 1e-5));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), -4.5, 1e-6));
  // off-diagonal term: min x^2 + xy + y^2 - 3x (Q = [[2,1],[1,2]]) -> x = 2, y = -1, -3
  setModel(p, 1, {{-3, -1e20, 1e20}, {0, -1e20, 1e20}}, {});
  p->qobj = {{0, 0, 2.0}, {0, 1, 1.0}, {1, 1, 2.0}};
  EXPECT_OK(p, KRVXoptimize(p, "x", &solvestatus, &solstatus));
  x = solution(p);
  // the global engine: optimal within the gap (1e-4 relative), so the point within about 1e-3
  EXPECT(x.size() == 2 && near(x[0], 2, 1e-3) && near(x[1], -1, 1e-3));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), -3, 3e-4) && dblAttr(p, KRVX_BESTBOUND) <= dblAttr(p, KRVX_OBJVAL));
  // crossover needs a linear problem
  int status = -1;
  EXPECT_FAILS(p, KRVXcrossoverlpsol(p, &status), "quadratic objective");
  // an integer column with a quadratic objective: branch-and-bound (x = 2 is integral already),
  // and the continuous relaxation through the QP solver
  p->cols[0].type = 'I';
  p->cols[0].ub = 1.5;
  p->highs_stale = true;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  x = solution(p);
  // x in {.., 0, 1}: f = 3x^2/4 - 3x at y = -x/2 is least at x = 1
  EXPECT(solstatus == KRVX_SOLSTATUS_OPTIMAL && x.size() == 2 && near(x[0], 1, 1e-6) && near(x[1], -0.5, 1e-5));
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), -2.25, 1e-6));
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  EXPECT(near(solution(p)[0], 1.5, 1e-5) && near(dblAttr(p, KRVX_OBJVAL), 0.75 * 2.25 - 4.5, 1e-6));
  // a nonconvex objective: a local optimum with 's', the global one with 'x' (SCIP)
  setModel(p, 1, {{0.5, 0, 1}}, {});
  p->qobj = {{0, 0, -2.0}};
  for (const char *flags : {"s", "x"}) {
    EXPECT_OK(p, KRVXoptimize(p, flags, &solvestatus, &solstatus));
    EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_OPTIMAL);
  }
  EXPECT(near(dblAttr(p, KRVX_OBJVAL), -0.5, 1e-6));   // 0.5x - x^2 on [0, 1]: least at x = 1
  KRVXdestroyprob(p);
}

void unsupported() {
  KRVXprob p = newProb();
  auto refused = [&](const char *what) {
    p->highs_stale = true;
    EXPECT_FAILS(p, KRVXmipoptimize(p, ""), what);
    EXPECT(intAttr(p, KRVX_SOLVESTATUS) == KRVX_SOLVESTATUS_UNSTARTED);
    smallLp(p);
  };
  smallLp(p);
  // reformulations that lack a bound or a binary column
  p->sets.push_back({'1', {0, 1}, {1, 2}});
  refused("SOS set 'S1': column 'C2' has no finite upper bound (needed for the reformulation)");
  p->sets.clear();
  p->indicators.assign(2, {});
  p->indicators[0] = {1, 1};
  refused("Indicator constraint on row 'R1': column 'C2' is not binary");
  p->indicators.clear();
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  KRVXdestroyprob(p);
}

void crossover() {
  KRVXprob p = newProb();
  smallLp(p);
  int status = -1;
  EXPECT_OK(p, KRVXcrossoverlpsol(p, &status));
  EXPECT(status == 1);                             // nothing to start from
  // non-degenerate: max 3x + 2y, x + y <= 4, x + 3y <= 6 -> x = 4, y = 0, 12
  setModel(p, -1, {{3, 0, 10}, {2, 0, 1e20}}, {{'L', 4, {{0, 1}, {1, 1}}}, {'L', 6, {{0, 1}, {1, 3}}}});
  EXPECT_OK(p, KRVXlpoptimize(p, "d"));
  std::vector<double> duals = p->sol.duals;
  // from the barrier solution of the maximisation, and of the same problem as a minimisation
  for (int sense : {-1, 1}) {
    p->objsense = sense;
    p->highs_stale = true;
    EXPECT_OK(p, KRVXlpoptimize(p, "b"));
    EXPECT_OK(p, KRVXcrossoverlpsol(p, &status));
    EXPECT(status == 0);
    EXPECT(intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_OPTIMAL);
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    EXPECT(p->sol.colstat.size() == 2 && p->sol.rowstat.size() == 2);
    if (sense < 0) {
      EXPECT(near(p->sol.objval, 12) && p->sol.colstat[0] == 1 && p->sol.colstat[1] == 0);
      EXPECT(p->sol.duals.size() == 2 && near(p->sol.duals[0], duals[0]) && near(p->sol.duals[1], duals[1]));
    } else {
      EXPECT(near(p->sol.objval, 0));
    }
  }
  // a ranged row is refused before anything reaches the solver's crossover; the solution stays
  p->objsense = -1;
  p->rows[0].type = 'R';
  krvx::setRowRange(*p, 0, 3);
  p->highs_stale = true;
  EXPECT_OK(p, KRVXlpoptimize(p, "b"));
  EXPECT_FAILS(p, KRVXcrossoverlpsol(p, &status), "not available for problems with ranged rows (row 0 has the range [1, 4])");
  EXPECT(intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_OPTIMAL && near(dblAttr(p, KRVX_OBJVAL), 12, 1e-5));
  KRVXdestroyprob(p);
}

// HiGHS log lines arrive through message output, one line per message, and OUTPUTLOG 0 silences them.
struct Lines {
  int n = 0;
  bool multiline = false;
};
void countLines(KRVXprob, void *data, const char *msg, int len, int msgtype) {
  auto *l = static_cast<Lines *>(data);
  if (msgtype < 0) return;
  ++l->n;
  if (std::memchr(msg, '\n', len)) l->multiline = true;
}

void logging() {
  KRVXprob p = newProb();
  Lines lines;
  EXPECT_OK(p, KRVXaddmessagehandler(p, countLines, &lines));
  setModel(p, -1, {{1, 0, 10, 'I'}, {1, 0, 10, 'I'}}, {{'L', 3, {{0, 2}, {1, 2}}}});
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(lines.n > 5 && !lines.multiline);
  lines.n = 0;
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0));
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT(lines.n == 0);
  EXPECT_OK(p, KRVXremovemessagehandler(p, countLines, &lines));
  KRVXdestroyprob(p);
}

void countInteriorRuns(KRVXprob, void *data, const char *msg, int len, int msgtype) {
  if (msgtype >= 0 && std::string(msg, size_t(len)).find("IPX model has") != std::string::npos) ++*(int *)data;
}

// Barrier solves of LPs: one interior-point run, crossed over to the simplex optimum, both senses
void barrierOnNetlib() {
  std::string data = sharedData("barrier solves of Netlib files");
  if (data.empty()) return;
  for (const char *name : {"afiro", "adlittle", "degen2", "israel", "sc50a", "share2b"}) {
    for (int sense : {1, -1}) {
      double obj[2] = {0, 0};
      for (const char *alg : {"d", "b"}) {
        KRVXprob p = newProb();
        EXPECT_OK(p, KRVXreadprob(p, (data + "/netlib/" + name + ".mps.gz").c_str(), ""));
        if (sense < 0) {   // the maximisation of the negated objective
          std::vector<int> ind;
          std::vector<double> cost;
          for (size_t j = 0; j < p->cols.size(); ++j) {
            ind.push_back(int(j));
            cost.push_back(-p->cols[j].cost);
          }
          EXPECT_OK(p, KRVXchgobj(p, int(ind.size()), ind.data(), cost.data()));
          EXPECT_OK(p, KRVXchgobjsense(p, -1));
        }
        int runs = 0;
        EXPECT_OK(p, KRVXaddmessagehandler(p, countInteriorRuns, &runs));
        EXPECT_OK(p, KRVXlpoptimize(p, alg));
        EXPECT(intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_OPTIMAL);
        obj[*alg == 'b'] = dblAttr(p, KRVX_OBJVAL);
        if (*alg == 'b') {
          // one interior-point run (a maximisation may need HiGHS's run with crossover after it)
          EXPECT((sense < 0 || runs == 1) && intAttr(p, KRVX_BARITER) > 0);
          std::lock_guard<std::recursive_mutex> lock(p->mtx);
          EXPECT(p->sol.colstat.size() == p->cols.size() && p->sol.rowstat.size() == p->rows.size());
        }
        KRVXdestroyprob(p);
      }
      EXPECT(std::fabs(obj[1] - obj[0]) <= 1e-7 * std::max(1.0, std::fabs(obj[0])));
    }
  }
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  lp();
  statuses();
  mip();
  qp();
  unsupported();
  crossover();
  logging();
  barrierOnNetlib();
  KRVXfree();
  return finish("test_solve");
}
