// Nonlinear and quadratically constrained solves against published optima.
#include "test_nlp_models.h"
#include "test_solve_util.h"

#include <atomic>
#include <cmath>
#include <thread>

namespace {

bool near(double a, double b, double tol = 1e-5) { return std::fabs(a - b) <= tol * std::max(1.0, std::fabs(b)); }

struct Result {
  int rc = -1, solve = -1, sol = -1;
  double obj = 0.0;
  std::vector<double> x, slack, duals, djs;
};

Result solve(KRVXprob p, const char *flags = "") {
  Result r;
  r.rc = KRVXoptimize(p, flags, &r.solve, &r.sol);
  KRVXgetdblattrib(p, KRVX_OBJVAL, &r.obj);
  int n = 0, m = 0, st = 0;
  KRVXgetintattrib(p, KRVX_COLS, &n);
  KRVXgetintattrib(p, KRVX_ROWS, &m);
  r.x.resize(size_t(n));
  r.djs.resize(size_t(n));
  r.slack.resize(size_t(m));
  r.duals.resize(size_t(m));
  if (n) KRVXgetsolution(p, &st, r.x.data(), 0, n - 1);
  if (n) KRVXgetredcosts(p, &st, r.djs.data(), 0, n - 1);
  if (m) KRVXgetslacks(p, &st, r.slack.data(), 0, m - 1);
  if (m) KRVXgetduals(p, &st, r.duals.data(), 0, m - 1);
  return r;
}

#define CHECK_OPTIMUM(r, value)                                                            \
  do {                                                                                     \
    EXPECT((r).rc == 0);                                                                    \
    EXPECT((r).solve == KRVX_SOLVESTATUS_COMPLETED && (r).sol == KRVX_SOLSTATUS_OPTIMAL);   \
    if (!near((r).obj, value)) std::fprintf(stderr, "objective %.9g, expected %.9g\n", (r).obj, double(value)); \
    EXPECT(near((r).obj, value));                                                           \
  } while (0)

void rosenbrock() {
  tagKRVNproblem *nl;
  KRVXprob p = rosenbrockProblem(&nl);
  Result r = solve(p);
  CHECK_OPTIMUM(r, 0.0);
  EXPECT(near(r.x[0], 1.0, 1e-4) && near(r.x[1], 1.0, 1e-4));
  // maximising the negation: the same point, the value negated
  EXPECT_OK(p, KRVXchgobjsense(p, -1));
  KRVNdelrowcoefs(nl, KRVN_OBJROW);
  EXPECT_OK(p, addFormula(nl, KRVN_OBJROW, KRVN_NOCOL, -1.0, kRosenbrock));
  r = solve(p);
  CHECK_OPTIMUM(r, 0.0);
  EXPECT(near(r.x[0], 1.0, 1e-4));
  // iteration limit: stopped, the reason says so
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_LPITERLIMIT, 2));
  r = solve(p);
  int stop = -1;
  KRVXgetintattrib(p, KRVX_STOPSTATUS, &stop);
  EXPECT(r.rc == 0 && r.solve == KRVX_SOLVESTATUS_STOPPED && stop == 4);
  KRVXdestroyprob(p);
}

void hs071Solve() {
  KRVXprob p = hs071();
  Result r = solve(p);
  CHECK_OPTIMUM(r, 17.0140173);
  const double xs[] = {1.0, 4.74299963, 3.82114998, 1.37940829};
  for (int j = 0; j < 4; ++j) EXPECT(near(r.x[size_t(j)], xs[j], 1e-5));
  EXPECT(std::fabs(r.slack[1]) < 1e-6 && std::fabs(r.slack[0]) < 1e-6);   // both active
  // duals: the objective's change per unit of rhs, checked by re-solving with a moved rhs
  const double h = 1e-3;
  for (int i = 0; i < 2; ++i) {
    double rhs = 0;
    KRVXgetrhs(p, &rhs, i, i);
    const int row[] = {i};
    const double moved[] = {rhs + h};
    KRVXchgrhs(p, 1, row, moved);
    Result q = solve(p);
    EXPECT(near((q.obj - r.obj) / h, r.duals[size_t(i)], 1e-2));
    KRVXchgrhs(p, 1, row, &rhs);
  }
  // reduced cost of x1 at its lower bound: grad f - J'y, positive for a minimisation
  EXPECT(r.djs[0] > 0.1);
  KRVXdestroyprob(p);
}

void chemicalEquilibrium() {
  KRVXprob p = hs112();
  Result r = solve(p);
  CHECK_OPTIMUM(r, -47.76109026);
  for (int i = 0; i < 3; ++i) EXPECT(std::fabs(r.slack[size_t(i)]) < 1e-6);
  KRVXdestroyprob(p);
}

// Convex QCQP: min -x - y, x^2 + y^2 <= r.
// Optimum -sqrt(2r) at x = y = sqrt(r/2); the row's dual d/dr = -1/sqrt(2r).
void convexQcqp() {
  KRVXprob p = newProblem();
  const double cost[] = {-1, -1}, lb[] = {-1e20, -1e20};
  KRVXaddcols(p, 2, 0, cost, nullptr, nullptr, nullptr, lb, nullptr);
  const char rt[] = {'L'};
  const double rhs[] = {2.0};
  const int st[] = {0};
  KRVXaddrows(p, 1, 0, rt, rhs, nullptr, st, nullptr, nullptr);
  quadRow(p, 0, {0, 1}, {0, 1}, {1, 1});
  Result r = solve(p);
  CHECK_OPTIMUM(r, -2.0);
  EXPECT(near(r.x[0], 1.0) && near(r.x[1], 1.0));
  EXPECT(near(r.duals[0], -0.5, 1e-4));
  EXPECT(std::fabs(r.slack[0]) < 1e-6);

  // a cross term: x^2 + xy + y^2 <= 3 (xy stored once as 1/2); optimum -2 at x = y = 1
  EXPECT_OK(p, KRVXdelqmatrix(p, 0));
  quadRow(p, 0, {0, 0, 1}, {0, 1, 1}, {1, 0.5, 1});
  const int row[] = {0};
  const double three[] = {3.0};
  KRVXchgrhs(p, 1, row, three);
  r = solve(p);
  CHECK_OPTIMUM(r, -2.0);
  EXPECT(near(r.x[0], 1.0, 1e-4) && near(r.x[1], 1.0, 1e-4));

  // infeasible: the disc and x + y >= 3
  const char g[] = {'G'};
  const double rhs3[] = {3.0};
  const int st2[] = {0}, ci[] = {0, 1};
  const double cv[] = {1, 1};
  KRVXaddrows(p, 1, 2, g, rhs3, nullptr, st2, ci, cv);
  r = solve(p);
  EXPECT(r.rc == 0 && r.solve == KRVX_SOLVESTATUS_COMPLETED && r.sol == KRVX_SOLSTATUS_INFEASIBLE);
  KRVXdestroyprob(p);
}

// exp(x) + y^2 <= 0.5 with x >= 0: infeasible (a formula row).
void infeasibleNlp() {
  tagKRVNproblem *nl;
  KRVXprob p = nlProblem(2, 1, &nl);
  const double lb[] = {0};
  const int c0[] = {0};
  const char l[] = {'L'};
  KRVXchgbounds(p, 1, c0, l, lb);
  const int row[] = {0};
  const double half[] = {0.5};
  KRVXchgrhs(p, 1, row, half);
  EXPECT_OK(p, addFormula(nl, 0, KRVN_NOCOL, 1.0, {RB(), X(0), Fn(KRVN_FN_EXP), X(1), C(2), Op(KRVN_OP_POWER),
                                                   Op(KRVN_OP_PLUS), End()}));
  Result r = solve(p);
  EXPECT(r.rc == 0 && r.solve == KRVX_SOLVESTATUS_COMPLETED && r.sol == KRVX_SOLSTATUS_INFEASIBLE);
  KRVXdestroyprob(p);
}

// An LP with a redundant quadratic row goes through the nonlinear solver: its solution, slacks,
// duals and reduced costs match the LP solver's on the same LP, minimising and maximising.
void lpBothWays() {
  for (int sense : {1, -1}) {
    KRVXprob p = newProblem();
    // min/max 2x + 3y - z: x + y + z <= 4, x - y >= -1 (x,y,z in [0, 3])
    setModel(p, sense, {{2.0 * sense, 0, 3}, {3.0 * sense, 0, 3}, {-1.0 * sense, 0, 3}},
             {{'L', 4, {{0, 1}, {1, 1}, {2, 1}}}, {'G', -1, {{0, 1}, {1, -1}}}, {'L', 100, {}}});
    Result lp = solve(p);
    EXPECT(lp.rc == 0 && lp.sol == KRVX_SOLSTATUS_OPTIMAL);
    quadRow(p, 2, {0}, {0}, {1.0});   // x^2 <= 100: never active
    Result r = solve(p);
    CHECK_OPTIMUM(r, lp.obj);
    for (size_t j = 0; j < 3; ++j) {
      EXPECT(near(r.x[j], lp.x[j], 1e-5));
      EXPECT(near(r.djs[j], lp.djs[j], 1e-5));
    }
    for (size_t i = 0; i < 2; ++i) {
      EXPECT(near(r.duals[i], lp.duals[i], 1e-5));
      EXPECT(near(r.slack[i], lp.slack[i], 1e-5));
    }
    EXPECT(std::fabs(r.duals[2]) < 1e-6);
    KRVXdestroyprob(p);
  }
}

// A non-convex QP the QP solver refuses: min -x^2 + 0.6x on [-1, 1], local optimum x = -1.
void nonconvexQp() {
  KRVXprob p = newProblem();
  setModel(p, 1, {{0.6, -1, 1}}, {});
  const int c[] = {0};
  const double q[] = {-2.0};
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, -1, 1, c, 1, c, 1, q, 1));
  Result r = solve(p);
  CHECK_OPTIMUM(r, -1.6);
  EXPECT(near(r.x[0], -1.0));
  KRVXdestroyprob(p);
}

// f(a, b) = (1 - a)^2 + 100 (b - a^2)^2 as a user function, with and without partials.
double rosenValue(const double *v, void *) { return std::pow(1 - v[0], 2) + 100 * std::pow(v[1] - v[0] * v[0], 2); }
int rosenDerivs(const double *v, const double *deltas, double *result, double *partials, void *calls) {
  ++*static_cast<int *>(calls);
  *result = rosenValue(v, nullptr);
  if (deltas) {
    partials[0] = -2 * (1 - v[0]) - 400 * v[0] * (v[1] - v[0] * v[0]);
    partials[1] = 200 * (v[1] - v[0] * v[0]);
  }
  return 0;
}
int failing(const double *, const double *, double *result, double *, void *) {
  *result = 0;
  return 1;
}

void userFunctions() {
  double optimum[2];
  for (int functype : {KRVN_FUNCTYPE_VALUE, KRVN_FUNCTYPE_DERIVS}) {
    tagKRVNproblem *nl;
    KRVXprob p = nlProblem(2, 0, &nl);
    int calls = 0, fn = 0;
    void *f = functype == KRVN_FUNCTYPE_VALUE ? reinterpret_cast<void *>(&rosenValue)
                                              : reinterpret_cast<void *>(&rosenDerivs);
    EXPECT_OK(p, KRVNadduserfunction(nl, "rosen", functype, 2, 1, 0, f, &calls, &fn));
    // arguments last-to-first
    EXPECT_OK(p, addFormula(nl, KRVN_OBJROW, KRVN_NOCOL, 1.0, {RB(), X(1), X(0), UF(fn), End()}));
    Result r = solve(p);
    CHECK_OPTIMUM(r, 0.0);
    optimum[functype == KRVN_FUNCTYPE_DERIVS] = r.x[0];
    EXPECT(near(r.x[0], 1.0, 1e-3) && near(r.x[1], 1.0, 1e-3));
    if (functype == KRVN_FUNCTYPE_DERIVS) EXPECT(calls > 0);
    KRVXdestroyprob(p);
  }
  EXPECT(near(optimum[0], optimum[1], 1e-3));

  // a failing user function stops the solve with its name; no solution
  tagKRVNproblem *nl;
  KRVXprob p = nlProblem(2, 0, &nl);
  int fn = 0;
  EXPECT_OK(p, KRVNadduserfunction(nl, "broken", KRVN_FUNCTYPE_DERIVS, 1, 1, 0, reinterpret_cast<void *>(&failing),
                                  nullptr, &fn));
  EXPECT_OK(p, addFormula(nl, KRVN_OBJROW, KRVN_NOCOL, 1.0, {RB(), X(0), UF(fn), End()}));
  int solve = -1, sol = -1;
  EXPECT_FAILS(p, KRVXoptimize(p, "", &solve, &sol), "user function 'broken' reported an error");
  int solvestatus = -1;
  KRVXgetintattrib(p, KRVX_SOLVESTATUS, &solvestatus);
  EXPECT(solvestatus == KRVX_SOLVESTATUS_FAILED);
  KRVXdestroyprob(p);
}

// Integer columns with nonlinear content: branch-and-bound gives an integral point no better
// than the relaxation's optimum.
void discreteSolved() {
  KRVXprob p = hs071();
  const int c[] = {1};
  const char t[] = {'I'};
  EXPECT_OK(p, KRVXchgcoltype(p, 1, c, t));
  Result r = solve(p);
  EXPECT(r.rc == 0 && r.sol == KRVX_SOLSTATUS_OPTIMAL && r.obj >= 17.0140173 - 1e-6);
  EXPECT(std::fabs(r.x[1] - std::round(r.x[1])) < 1e-6);
  // the relaxation is a continuous problem
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  double obj = 0;
  KRVXgetdblattrib(p, KRVX_OBJVAL, &obj);
  EXPECT(near(obj, 17.0140173));
  KRVXdestroyprob(p);
}

// Log lines reach the message output; output off silences them; an interrupt from the log stops.
std::atomic<int> g_lines{0};
void countLines(KRVXprob p, void *interrupt, const char *msg, int, int) {
  if (msg && std::strstr(msg, "inf_pr")) return;
  ++g_lines;
  if (interrupt && g_lines > 3) KRVXinterrupt(p, KRVX_STOP_USER);
}

void logAndInterrupt() {
  KRVXprob p = hs071();
  KRVXaddmessagehandler(p, countLines, nullptr);
  solve(p);
  EXPECT(g_lines > 5);
  g_lines = 0;
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  solve(p);
  EXPECT(g_lines == 0);
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 1);
  KRVXremovemessagehandler(p, countLines, nullptr);
  int flag = 1;
  KRVXaddmessagehandler(p, countLines, &flag);
  g_lines = 0;
  Result r = solve(p);
  int stop = -1;
  KRVXgetintattrib(p, KRVX_STOPSTATUS, &stop);
  EXPECT(r.rc == 0 && r.solve == KRVX_SOLVESTATUS_STOPPED && stop == KRVX_STOP_USER);
  KRVXdestroyprob(p);
}

// Solves from several threads at once (the solver runs one at a time) all reach the optimum.
void concurrentSolves() {
  std::vector<KRVXprob> probs;
  for (int t = 0; t < 4; ++t) {
    probs.push_back(hs071());
    KRVXsetintcontrol(probs.back(), KRVX_OUTPUTLOG, 0);
  }
  std::vector<Result> results(probs.size());
  std::vector<std::thread> threads;
  for (size_t t = 0; t < probs.size(); ++t) threads.emplace_back([&, t] { results[t] = solve(probs[t]); });
  for (auto &th : threads) th.join();
  for (size_t t = 0; t < probs.size(); ++t) {
    CHECK_OPTIMUM(results[t], 17.0140173);
    KRVXdestroyprob(probs[t]);
  }
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  rosenbrock();
  hs071Solve();
  chemicalEquilibrium();
  convexQcqp();
  infeasibleNlp();
  lpBothWays();
  nonconvexQp();
  userFunctions();
  discreteSolved();
  logAndInterrupt();
  concurrentSolves();
  KRVXfree();
  return finish("test_nlp");
}
