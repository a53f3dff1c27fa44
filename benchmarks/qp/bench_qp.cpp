// Quadratic and nonlinear solves.
//
// 1. lqcp-N: HiGHS's QP solver through its C API (the reference) against KRVXoptimize, which
//    routes large or failed QPs to the interior-point solver. Each libkrvx result is confirmed by a
//    second method: its point's feasibility is recomputed, and a lower bound of the optimum comes
//    from convexity and the returned duals (convexBound, any size) and, for small sizes, from
//    HiGHS's LP solver (lpBound); objective - bound ~ 0 proves the objective optimal.
// 2. Hessian: exact (automatic differentiation) against limited-memory on the test models.
//
// Usage: bench_qp [N ...] [--highs-limit seconds]   (default N: 40 50 100 200, limit 10 s;
//        lqcp-500 takes several minutes)
#include "krvx.h"
#include "interfaces/highs_c_api.h"

#include "lqcp.h"
#include "nl/nlpsolve.h"
#include "test_nlp_models.h"

#include <mutex>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

const char *highsStatus(HighsInt s) {
  switch (s) {
    case kHighsModelStatusOptimal: return "optimal";
    case kHighsModelStatusInfeasible: return "infeasible";
    case kHighsModelStatusUnbounded: return "UNBOUNDED";
    case kHighsModelStatusUnboundedOrInfeasible: return "unb-or-inf";
    case kHighsModelStatusTimeLimit: return "time limit";
    case kHighsModelStatusIterationLimit: return "iter limit";
    case kHighsModelStatusUnknown: return "unknown";
    default: return "error";
  }
}

struct Run {
  const char *status = "";
  double obj = NAN, time = 0.0;
};

Run viaHighsHere(const Lqcp &q, double limit) {
  void *h = Highs_create();
  Highs_setBoolOptionValue(h, "output_flag", 0);
  Highs_setDoubleOptionValue(h, "time_limit", limit);
  std::vector<HighsInt> start(q.start.begin(), q.start.end() - 1), qstart, qindex;
  std::vector<double> qvalue, rowlo(size_t(q.nrows), 0.0), rowup(size_t(q.nrows), 0.0);
  for (int j = 0; j < q.ncols; ++j) {
    qstart.push_back(HighsInt(qindex.size()));
    if (q.qdiag[size_t(j)] != 0.0) {
      qindex.push_back(j);
      qvalue.push_back(q.qdiag[size_t(j)]);
    }
  }
  Highs_passModel(h, q.ncols, q.nrows, HighsInt(q.rowind.size()), HighsInt(qindex.size()), kHighsMatrixFormatColwise,
                  kHighsHessianFormatTriangular, kHighsObjSenseMinimize, q.offset, q.cost.data(), q.lb.data(),
                  q.ub.data(), rowlo.data(), rowup.data(), start.data(), q.rowind.data(), q.value.data(), qstart.data(),
                  qindex.data(), qvalue.data(), nullptr);
  Run r;
  const double t0 = now();
  Highs_run(h);
  r.time = now() - t0;
  r.status = highsStatus(Highs_getModelStatus(h));
  r.obj = Highs_getObjectiveValue(h);
  Highs_destroy(h);
  return r;
}

// HiGHS's QP solver may not return at all (its time limit unobserved): it runs in a child
// process that is killed after the limit plus a grace period.
Run viaHighs(const Lqcp &q, double limit) {
  int fds[2];
  if (pipe(fds) != 0) return viaHighsHere(q, limit);
  const double t0 = now();
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const Run r = viaHighsHere(q, limit);
    char buf[128];
    const int len = std::snprintf(buf, sizeof buf, "%s\n%.17g\n", r.status, r.obj);
    if (write(fds[1], buf, size_t(len)) < 0) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  Run r;
  r.status = "STALLED";
  std::string text;
  while (now() - t0 < limit + 10) {
    pollfd pfd{fds[0], POLLIN, 0};
    if (poll(&pfd, 1, 100) > 0) {
      char buf[128];
      const ssize_t got = read(fds[0], buf, sizeof buf);
      if (got <= 0) break;
      text.append(buf, size_t(got));
    }
  }
  r.time = now() - t0;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(fds[0]);
  static std::vector<std::string> names;   // keeps the status texts alive
  const size_t nl = text.find('\n');
  if (nl != std::string::npos) {
    names.push_back(text.substr(0, nl));
    r.status = names.back().c_str();
    r.obj = std::atof(text.c_str() + nl + 1);
  }
  return r;
}

struct Checked : Run {
  double viol = NAN, bound = NAN, boundtime = 0.0;
  double cvx = NAN, cvxlin = NAN, cvxzero = NAN, cvxwrong = NAN, cvxtime = 0.0;
};

struct ConvexBound {
  double bound;   // valid lower bound of the optimum over {Ax = 0, l <= x <= u}
  double lin;     // the bound from the tangent of f at x instead (also valid, weaker)
};

// Second method for any size, from convexity (weak duality): for every y and every x' with Ax' = 0,
//   f(x') = f(x') - y'Ax' >= min over l <= t <= u of  offset + sum_j 1/2 q_j t_j^2 + (c - A'y)_j t_j,
// separable, so each column's minimum over its interval is exact (every column is bounded). It
// needs no feasibility of the point found; y = the row duals (gradient = A'y + reduced costs) makes
// it tight at an optimal point. The tangent version replaces each 1/2 q_j t^2 by its tangent at x_j.
// Sums in long double.
ConvexBound convexBound(const Lqcp &q, const std::vector<double> &x, const std::vector<double> &y) {
  long double dual = q.offset, lin = q.offset;
  for (int j = 0; j < q.ncols; ++j) {
    const long double l = q.lb[size_t(j)], u = q.ub[size_t(j)], a = q.qdiag[size_t(j)], v = x[size_t(j)];
    long double h = q.cost[size_t(j)];
    for (int64_t k = q.start[size_t(j)]; k < q.start[size_t(j) + 1]; ++k)
      h -= (long double)q.value[size_t(k)] * y[size_t(q.rowind[size_t(k)])];
    const long double t = a > 0 ? std::clamp(-h / a, l, u) : (h > 0 ? l : u);
    dual += 0.5L * a * t * t + h * t;
    // tangent at v: 1/2 a t^2 >= a v t - 1/2 a v^2
    const long double ht = h + a * v;
    lin += -0.5L * a * v * v + std::min(ht * l, ht * u);
  }
  return {double(dual), double(lin)};
}

// Second method: a lower bound from HiGHS's LP solver. Each quadratic term 1/2 a t^2 is replaced by
// an epigraph column s >= its tangents at the point found, at 0 and at the bounds; the LP optimum
// is below the QP optimum, and equals it when the point is optimal (the LP then has the same
// first-order conditions there).
double lpBound(const Lqcp &q, const std::vector<double> &xs, double *time) {
  std::vector<int> quad;
  for (int j = 0; j < q.ncols; ++j)
    if (q.qdiag[size_t(j)] != 0.0) quad.push_back(j);
  const int n = q.ncols + int(quad.size());
  std::vector<double> cost(q.cost), lb(q.lb), ub(q.ub), rowlo(size_t(q.nrows), 0.0), rowup(size_t(q.nrows), 0.0);
  cost.resize(size_t(n), 1.0);
  lb.resize(size_t(n), -1e30);
  ub.resize(size_t(n), 1e30);
  // row-wise: the equality rows, then the tangent rows  s_k - a t x_j >= -1/2 a t^2
  std::vector<HighsInt> start, index;
  std::vector<double> value;
  std::vector<std::vector<std::pair<int, double>>> rows(size_t(q.nrows));
  for (int j = 0; j < q.ncols; ++j)
    for (int64_t k = q.start[size_t(j)]; k < q.start[size_t(j) + 1]; ++k)
      rows[size_t(q.rowind[size_t(k)])].emplace_back(j, q.value[size_t(k)]);
  for (const auto &r : rows) {
    start.push_back(HighsInt(index.size()));
    for (const auto &e : r) {
      index.push_back(e.first);
      value.push_back(e.second);
    }
  }
  for (size_t k = 0; k < quad.size(); ++k) {
    const int j = quad[k];
    const double a = q.qdiag[size_t(j)];
    for (double t : {xs[size_t(j)], 0.0, q.lb[size_t(j)], q.ub[size_t(j)]}) {
      start.push_back(HighsInt(index.size()));
      index.push_back(q.ncols + int(k));
      value.push_back(1.0);
      index.push_back(j);
      value.push_back(-a * t);
      rowlo.push_back(-0.5 * a * t * t);
      rowup.push_back(1e30);
    }
  }
  void *h = Highs_create();
  Highs_setBoolOptionValue(h, "output_flag", 0);
  Highs_setStringOptionValue(h, "solver", "ipm");
  Highs_passLp(h, n, HighsInt(rowlo.size()), HighsInt(index.size()), kHighsMatrixFormatRowwise,
               kHighsObjSenseMinimize, q.offset, cost.data(), lb.data(), ub.data(), rowlo.data(), rowup.data(),
               start.data(), index.data(), value.data());
  const double t0 = now();
  Highs_run(h);
  *time = now() - t0;
  const double v = Highs_getModelStatus(h) == kHighsModelStatusOptimal ? Highs_getObjectiveValue(h) : NAN;
  Highs_destroy(h);
  return v;
}

KRVXprob lqcpProblem(const Lqcp &q);

// The LP bound took HiGHS 11 s on lqcp-100 and more than 280 s (without an answer) on lqcp-200.
constexpr int kBoundColumns = 20000;

Checked viaKrvx(const Lqcp &q) {
  KRVXprob p = lqcpProblem(q);
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, std::getenv("BENCH_LOG") ? 1 : 0);
  if (std::getenv("BENCH_THREADS")) KRVXsetintcontrol(p, KRVX_THREADS, std::atoi(std::getenv("BENCH_THREADS")));
  Checked r;
  int ss = 0, st = 0;
  const double t0 = now();
  const int rc = KRVXoptimize(p, "", &ss, &st);
  r.time = now() - t0;
  r.status = rc ? "error" : st == KRVX_SOLSTATUS_OPTIMAL ? "optimal" : st == KRVX_SOLSTATUS_UNBOUNDED ? "UNBOUNDED"
                                                                                                    : "not optimal";
  std::vector<double> x(size_t(q.ncols)), y(size_t(q.nrows));
  if (rc == 0 && st == KRVX_SOLSTATUS_OPTIMAL) {
    KRVXgetsolution(p, nullptr, x.data(), 0, q.ncols - 1);
    const double c0 = now();
    const bool duals = KRVXgetduals(p, nullptr, y.data(), 0, q.nrows - 1) == 0;
    if (duals) {
      const ConvexBound b = convexBound(q, x, y);
      r.cvx = b.bound;
      r.cvxlin = b.lin;
    }
    r.cvxtime = now() - c0;
    // deliberately poor multipliers: still lower bounds, only weaker
    if (duals) {
      for (double &v : y) v = -v;
      r.cvxwrong = convexBound(q, x, y).bound;
    }
    r.cvxzero = convexBound(q, x, std::vector<double>(size_t(q.nrows), 0.0)).bound;
    // f(x) and the largest violation of Ax = 0 and the bounds, recomputed here
    std::vector<double> ax(size_t(q.nrows), 0.0);
    r.obj = q.offset;
    r.viol = 0.0;
    for (int j = 0; j < q.ncols; ++j) {
      const double v = x[size_t(j)];
      r.obj += q.cost[size_t(j)] * v + 0.5 * q.qdiag[size_t(j)] * v * v;
      r.viol = std::max({r.viol, q.lb[size_t(j)] - v, v - q.ub[size_t(j)]});
      for (int64_t k = q.start[size_t(j)]; k < q.start[size_t(j) + 1]; ++k)
        ax[size_t(q.rowind[size_t(k)])] += q.value[size_t(k)] * v;
    }
    for (double a : ax) r.viol = std::max(r.viol, std::fabs(a));
    if (q.ncols <= kBoundColumns) r.bound = lpBound(q, x, &r.boundtime);
  }
  KRVXdestroyprob(p);
  return r;
}

// Iterations and time of one model with a given Hessian choice (through the library's internals).
struct HessRun {
  double obj = NAN, time = 0.0;
  int64_t iters = 0;
  const char *status = "";
};

HessRun solveWith(KRVXprob p, krvx::HessianMode mode) {
  krvx::NlpModel m;
  krvx::RunSettings s;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    s = krvx::settingsFromControls(p);
    s.output = false;
    if (krvx::nlpPrepare(p, m) != 0) return {};
  }
  krvx::Solution out;
  HessRun r;
  const double t0 = now();
  const int rc = krvx::nlpRun(p, m, s, out, mode);
  r.time = now() - t0;
  r.iters = out.bariter;
  r.obj = out.objval;
  r.status = rc ? "error" : out.solstatus == KRVX_SOLSTATUS_OPTIMAL ? "optimal" : "not optimal";
  return r;
}

// lqcp as a libkrvx problem (the constant goes straight into the store: the loader has none).
KRVXprob lqcpProblem(const Lqcp &q) {
  KRVXprob p = newProblem();
  std::vector<char> rt(size_t(q.nrows), 'E');
  std::vector<double> rhs(size_t(q.nrows), 0.0);
  std::vector<int> diag;
  std::vector<double> qv;
  for (int j = 0; j < q.ncols; ++j)
    if (q.qdiag[size_t(j)] != 0.0) {
      diag.push_back(j);
      qv.push_back(q.qdiag[size_t(j)]);
    }
  const int64_t nq = int64_t(diag.size()), nz = int64_t(q.rowind.size());
  EXPECT_OK(p, KRVXloadqp64_witharraysizes(p, "lqcp", q.ncols, q.nrows, rt.data(), q.nrows, rhs.data(), q.nrows,
                                          nullptr, 0, q.cost.data(), q.ncols, q.start.data(), q.ncols + 1, nullptr, 0,
                                          q.rowind.data(), nz, q.value.data(), nz, q.lb.data(), q.ncols, q.ub.data(),
                                          q.ncols, nq, diag.data(), nq, diag.data(), nq, qv.data(), nq));
  p->objconst = q.offset;
  return p;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<int> sizes;
  double limit = 10.0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--highs-limit") && i + 1 < argc) limit = std::atof(argv[++i]);
    else sizes.push_back(std::atoi(argv[i]));
  }
  if (sizes.empty()) sizes = {40, 50, 100, 200};
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  KRVXinit(nullptr);

  std::printf("lqcp-N: HiGHS QP solver (C API, time limit %.0f s) vs KRVXoptimize (columns > %d: interior point)\n",
              limit, krvx::kQpDirectColumns);
  std::printf("%-10s %8s | %-11s %14s %8s | %-8s %14s %8s %9s | %14s %9s %9s %7s | %9s %9s | %14s %9s %8s | %7s\n",
              "model", "cols", "HiGHS", "objective", "time", "libkrvx", "objective", "time", "viol", "convex LB",
              "rel.gap", "tangent", "LB time", "gap -y", "gap y=0", "LP bound", "rel.gap", "LP time", "ratio");
  for (int N : sizes) {
    const Lqcp q = buildLqcp(N);
    const Run h = viaHighs(q, limit);
    const Checked k = viaKrvx(q);
    auto gap = [&](double lb) { return (k.obj - lb) / std::fabs(k.obj); };
    std::printf("lqcp-%-5d %8d | %-11s %14.8g %8.2f | %-8s %14.10g %8.2f %9.1e | %14.10g %9.1e %9.1e %7.3f | %9.1e "
                "%9.1e | %14.8g %9.1e %8.2f | %7.2f\n",
                N, q.ncols, h.status, h.obj, h.time, k.status, k.obj, k.time, k.viol, k.cvx, gap(k.cvx), gap(k.cvxlin),
                k.cvxtime, gap(k.cvxwrong), gap(k.cvxzero), k.bound, gap(k.bound), k.boundtime, k.time / h.time);
    const bool confirmed = gap(k.cvx) <= 1e-6;
    // a lower bound must not exceed a known optimum: HiGHS's, when it finished
    const bool sound = !(h.obj == h.obj && std::strcmp(h.status, "optimal") == 0 &&
                         std::max({k.cvx, k.cvxwrong, k.cvxzero}) > h.obj + 1e-9 * std::fabs(h.obj));
    std::printf("  %s%s\n", confirmed ? "confirmed: gap <= 1e-6" : "NOT confirmed: gap > 1e-6",
                sound ? "" : "; a lower bound exceeds HiGHS's optimum: UNSOUND");
  }
  std::printf("(viol: largest violation of the libkrvx point; convex LB: min over the bounds of f(x) - y'Ax, a lower\n"
              " bound for any y, with y = the solver's row duals; tangent: the same bound\n"
              " with f replaced by its tangent at the point; gap -y / y=0: the bound with the duals negated / zero\n"
              " (valid, weaker); LP bound: lower bound from HiGHS's LP solver over tangents (up to %d columns);\n"
              " rel.gap: (objective - bound) / |objective|; ratio: libkrvx time / HiGHS time; HiGHS's QP solver runs\n"
              " in a child process killed 10 s after its time limit: STALLED)\n\n",
              kBoundColumns);

  std::printf("Hessian: exact vs limited-memory (interior point, same model)\n");
  std::printf("%-14s | %-8s %14s %6s %8s | %-11s %14s %6s %8s | %7s\n", "model", "exact", "objective", "iters",
              "time", "lim-memory", "objective", "iters", "time", "ratio");
  struct Model { const char *name; KRVXprob p; };
  tagKRVNproblem *nl = nullptr;
  std::vector<Model> models{{"rosenbrock", rosenbrockProblem(&nl)}, {"hs071", hs071()}, {"hs112", hs112()},
                            {"lqcp-50", lqcpProblem(buildLqcp(50))}, {"lqcp-100", lqcpProblem(buildLqcp(100))}};
  for (const Model &md : models) {
    const HessRun e = solveWith(md.p, krvx::HessianMode::Exact);
    const HessRun l = solveWith(md.p, krvx::HessianMode::LimitedMemory);
    std::printf("%-14s | %-8s %14.8g %6lld %8.3f | %-11s %14.8g %6lld %8.3f | %7.2f\n", md.name, e.status, e.obj,
                (long long)e.iters, e.time, l.status, l.obj, (long long)l.iters, l.time, l.time / e.time);
    KRVXdestroyprob(md.p);
  }
  std::printf("(ratio: limited-memory time / exact time)\n");
  KRVXfree();
  return 0;
}
