// Solving a gathered nonlinear model with the interior-point solver through its C interface.
//
// Statuses (solve status, solution status):
//   converged (or to its acceptable level)  COMPLETED, OPTIMAL (a local optimum unless convex)
//   locally infeasible, convex model        COMPLETED, INFEASIBLE
//   locally infeasible from every start     COMPLETED, NOTFOUND, stop status LOCALLYINFEASIBLE
//     point, model not shown convex
//   diverging iterates                      COMPLETED, UNBOUNDED
//   time/iteration limit, interrupt         STOPPED, FEASIBLE when the point is feasible, else NOTFOUND
//   other ends of the search                FAILED, FEASIBLE or NOTFOUND (a warning says why)
//   a failing user function, solver errors  the call fails with the text (second derivatives that
//     cannot be evaluated: first a solve with the limited-memory Hessian)
// Duals follow the linear solver's convention: d(objective)/d(rhs) in the user's sense, and
// reduced costs grad f - J'y.
// A convex QP is OPTIMAL only with a certificate (QpCertificate): the objective within
// optimalitytol * max(1, |objective|) of the dual bound at the multipliers, at a point within
// feastol. The solver's own test is tightened for it, and the solve ends at the first iterate that
// holds; one that ends without it is FAILED (FEASIBLE or NOTFOUND) with the gap reached.
//
// The solver's own output is off (its C interface has no print hook); one log line per iteration
// goes to the message output from the intermediate callback, which also polls for stop requests
// and the time limit. Solves run one at a time in the process: the sparse factorisation it uses is
// not reentrant.
#include "nl/nlpsolve.h"

#include <IpStdCInterface.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include <dlfcn.h>

namespace krvx {

namespace {

std::mutex g_solver_mtx;
constexpr int kRetries = 4;   // further start points after a local infeasibility

struct Run {
  Run(ko_prob_struct *p_, const NlpModel &m_, const RunSettings &s_)
      : p(p_), m(m_), s(s_), ev(m_), mark(solveSigintMark(p_)), t0(std::chrono::steady_clock::now()) {}
  ko_prob_struct *p;
  const NlpModel &m;
  const RunSettings &s;
  NlpEvaluator ev;
  unsigned mark;
  std::chrono::steady_clock::time_point t0;
  int stop = 0;                   // stop reason obeyed
  bool hessianFailed = false;     // second derivatives could not be evaluated at a point
  int iterations = 0;
  // convex QPs: the certificate, the point and multipliers of the last Hessian evaluation (one
  // per iteration, at the iterate before the current one), and the first pair that held
  std::unique_ptr<QpCertificate> cert;
  std::vector<double> hx, hy, certx, certy;
  double certobj = 0.0, certbound = -std::numeric_limits<double>::infinity();

  // Whether (x, y) certifies optimality; keeps the objective and bound found.
  bool certifies(const double *x, const double *y) {
    double f = 0.0, lb = 0.0;
    cert->evaluate(x, y, s.optimalitytol, f, lb);
    certobj = f;
    certbound = lb;
    return f - lb <= s.optimalitytol * std::max(1.0, std::fabs(f)) && ev.bodies(x) &&
           m.violation(x, ev.body().data()) <= s.feastol;
  }
};

Bool evalF(Index, Number *x, Bool, Number *obj, UserDataPtr d) {
  return static_cast<Run *>(d)->ev.objective(x, *obj);
}

Bool evalGradF(Index, Number *x, Bool, Number *g, UserDataPtr d) {
  return static_cast<Run *>(d)->ev.gradient(x, g);
}

Bool evalG(Index, Number *x, Bool, Index, Number *g, UserDataPtr d) {
  return static_cast<Run *>(d)->ev.constraints(x, g);
}

Bool evalJacG(Index, Number *x, Bool, Index, Index, Index *irow, Index *jcol, Number *vals, UserDataPtr d) {
  auto *r = static_cast<Run *>(d);
  if (!vals) {
    r->ev.jacobianPattern(irow, jcol);
    return TRUE;
  }
  return r->ev.jacobian(x, vals);
}

Bool evalH(Index n, Number *x, Bool, Number objfactor, Index m, Number *lambda, Bool, Index, Index *irow,
           Index *jcol, Number *vals, UserDataPtr d) {
  auto *r = static_cast<Run *>(d);
  if (!vals) {
    r->ev.hessianPattern(irow, jcol);
    return TRUE;
  }
  if (r->cert && objfactor > 0.0) {   // the multipliers of the objective scaled by objfactor
    r->hx.assign(x, x + n);
    r->hy.resize(size_t(m));
    for (Index i = 0; i < m; ++i) r->hy[size_t(i)] = lambda[i] / objfactor;
  }
  if (r->ev.hessian(x, objfactor, lambda, vals)) return TRUE;
  r->hessianFailed = true;
  return FALSE;
}

Bool intermediate(Index mode, Index iter, Number obj, Number infpr, Number infdu, Number mu, Number, Number, Number,
                  Number, Index, UserDataPtr d) {
  auto *r = static_cast<Run *>(d);
  r->iterations = iter;
  if (r->s.output)
    messageCode(r->p, kMsgSolverLog, 1, "%5d%s %15.8e  %9.2e  %9.2e  %7.1e", int(iter), mode ? "r" : " ",
                r->m.sense * obj, infpr, infdu, mu);
  if (r->ev.userFailed) return FALSE;
  if (r->cert && mode == 0 && !r->hx.empty() && r->certx.empty() && r->certifies(r->hx.data(), r->hy.data())) {
    r->certx = r->hx;
    r->certy = r->hy;
    return FALSE;
  }
  if (int reason = pendingStop(r->p, r->mark)) {
    r->stop = reason;
    return FALSE;
  }
  if (r->s.timelimit > 0 &&
      std::chrono::duration<double>(std::chrono::steady_clock::now() - r->t0).count() >= r->s.timelimit) {
    r->stop = kStopTimeLimit;
    return FALSE;
  }
  return TRUE;
}

double toSolver(double v) { return v >= kInf ? 2e19 : v <= -kInf ? -2e19 : v; }

void option(IpoptProblem ip, const char *key, const char *v) {
  AddIpoptStrOption(ip, const_cast<char *>(key), const_cast<char *>(v));
}
void option(IpoptProblem ip, const char *key, double v) { AddIpoptNumOption(ip, const_cast<char *>(key), v); }
void option(IpoptProblem ip, const char *key, int v) { AddIpoptIntOption(ip, const_cast<char *>(key), v); }

// The sparse factorisation's dense kernels run on the system's BLAS, which may be multithreaded
// (OpenBLAS): its threads are set in the library already loaded, to the solve's threads (0: one;
// four threads made lqcp-100 and lqcp-200 2 to 4 times slower on a busy machine, benchmarks/qp).
// Nothing to do for a single-threaded BLAS.
void boundBlasThreads(int threads) {
  using SetThreads = void (*)(int);
  static const SetThreads set = [] {
    for (const char *name : {"libblas.so.3", "libopenblas.so.0"})
      if (void *h = dlopen(name, RTLD_LAZY | RTLD_NOLOAD)) {
        auto f = reinterpret_cast<SetThreads>(dlsym(h, "openblas_set_num_threads"));
        dlclose(h);   // still loaded: the solver links it
        if (f) return f;
      }
    return SetThreads(nullptr);
  }();
  if (set) set(std::max(threads, 1));
}

const char *failureText(int status) {
  switch (status) {
    case Not_Enough_Degrees_Of_Freedom: return "the problem has more equality constraints than free columns";
    case Invalid_Problem_Definition: return "the problem definition is invalid";
    case Invalid_Option: return "an option was refused";
    case Invalid_Number_Detected: return "a function or derivative is not finite at a point it needed";
    case Insufficient_Memory: return "out of memory";
    default: return "internal failure";
  }
}

}  // namespace

int acquireNlpSolver(std::unique_lock<std::mutex> &lock, ko_prob_struct *p, unsigned sigint_mark) {
  lock = std::unique_lock<std::mutex>(g_solver_mtx, std::defer_lock);
  while (!lock.try_lock()) {
    if (int reason = pendingStop(p, sigint_mark)) return reason;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return 0;
}

// One solve of a model: bounds in the solver's form, and the point with its multipliers.
struct Point {
  std::vector<double> x, g, multg, zl, zu;
  double obj = 0.0;
  int status = Internal_Error;
};

int nlpRun(ko_prob_struct *p, const NlpModel &m, const RunSettings &s, Solution &out, HessianMode hessian) {
  out = Solution();
  if (!m.emptyRowsHold(s.feastol)) {   // a row without columns excludes 0
    out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    out.solstatus = KRVX_SOLSTATUS_INFEASIBLE;
    out.lpstatus = kLpInfeas;
    if (m.discrete) out.mipstatus = kMipLpNotOptimal;
    return 0;
  }
  Run run(p, m, s);
  const int nc = int(m.crows.size());
  const size_t cn = m.crows.size(), n = size_t(m.n);
  std::vector<double> xl(n), xu(n), gl(cn), gu(cn);
  for (int j = 0; j < m.n; ++j) {
    xl[size_t(j)] = toSolver(m.lb[size_t(j)]);
    xu[size_t(j)] = toSolver(m.ub[size_t(j)]);
  }
  for (int c = 0; c < nc; ++c) {
    gl[size_t(c)] = toSolver(m.rowlo[size_t(m.crows[size_t(c)])]);
    gu[size_t(c)] = toSolver(m.rowup[size_t(m.crows[size_t(c)])]);
  }
  double largest = 1.0;   // the largest finite bound
  for (const std::vector<double> *v : {&xl, &xu, &gl, &gu})
    for (double b : *v)
      if (std::fabs(b) < 1e19) largest = std::max(largest, std::fabs(b));
  const double relaxFactor = std::min(1e-8, 0.5 * s.feastol / largest);
  const Index jnz = run.ev.jacobianEntries();
  const bool exact = hessian == HessianMode::Exact || (hessian == HessianMode::Auto && m.exactHessian);

  if (m.convexqp) run.cert = std::make_unique<QpCertificate>(m);
  Point pt;
  pt.g.resize(cn);
  pt.multg.resize(cn);
  pt.zl.resize(n);
  pt.zu.resize(n);
  nlpStartPoint(m, pt.x);
  {
    // a start point where the formulas can be evaluated (log(x) at a free x = 0 cannot): the
    // first of the retry points that can, else the first one (its error ends the solve)
    std::vector<double> grad(n), rows(cn), trial;
    auto evaluable = [&](const std::vector<double> &x) {
      double f;
      return run.ev.objective(x.data(), f) && run.ev.gradient(x.data(), grad.data()) &&
             run.ev.constraints(x.data(), rows.data());
    };
    for (int attempt = 1; attempt <= kRetries && !run.ev.userFailed && !evaluable(pt.x); ++attempt) {
      nlpRetryPoint(m, attempt, trial);
      if (!evaluable(trial)) continue;
      pt.x = trial;
      run.ev.error.clear();
      break;
    }
  }
  bool started = false;
  // a solve from pt.x, leaving the point reached in pt; false when the solver refused the problem
  auto solve = [&](Point &pt, double relax = -1.0) {
    IpoptProblem ip = CreateIpoptProblem(m.n, xl.data(), xu.data(), nc, gl.data(), gu.data(), jnz,
                                         exact ? Index(m.hrow.size()) : 0, 0, evalF, evalG, evalGradF, evalJacG, evalH);
    if (!ip) return false;
    option(ip, "print_level", 0);
    // fill-reducing ordering of the sparse factorisation: approximate minimum degree (the automatic
    // choice took 15 times longer on lqcp-60; PORD, a little faster, aborts on tiny problems)
    option(ip, "mumps_pivot_order", 0);
    option(ip, "sb", "yes");
    option(ip, "tol", s.optimalitytol);
    // FEASTOL is absolute, as constr_viol_tol, which the solver measures against bounds it relaxes
    // by bound_relax_factor * max(1, |bound|): half of FEASTOL for each, and the point is not
    // projected back onto the bounds (which would move rows by the relaxation times their
    // coefficients); an acceptable end meets it too
    option(ip, "constr_viol_tol", 0.5 * s.feastol);
    option(ip, "acceptable_constr_viol_tol", 0.5 * s.feastol);
    option(ip, "bound_relax_factor", relax >= 0.0 ? relax : relaxFactor);
    option(ip, "honor_original_bounds", "no");
    option(ip, "max_iter", s.lpiterlimit > 0 && s.lpiterlimit < 2147483647 ? int(s.lpiterlimit) : 3000);
    if (s.timelimit > 0) {
      const double left = s.timelimit - std::chrono::duration<double>(std::chrono::steady_clock::now() - run.t0).count();
      option(ip, "max_cpu_time", std::max(left, 1e-3));
    }
    if (!exact) option(ip, "hessian_approximation", "limited-memory");
    if (run.cert) {
      // convex QP: Mehrotra's predictor-corrector (one factorisation per iteration), constant row
      // derivatives, and the solver's own test far below the certificate's, which ends the solve
      option(ip, "mehrotra_algorithm", "yes");
      option(ip, "jac_c_constant", "yes");
      option(ip, "jac_d_constant", "yes");
      option(ip, "fast_step_computation", "yes");   // no residual checks: the certificate is the check
      option(ip, "tol", std::max(1e-6 * s.optimalitytol, 1e-14));
      option(ip, "acceptable_tol", 1e-3 * s.optimalitytol);
    }
    SetIntermediateCallback(ip, intermediate);
    if (s.output)
      messageCode(p, kMsgSolverLog, 1, "Interior point: %d columns, %d rows, %d Jacobian and %d Hessian entries (%s)",
                  m.n, nc, int(jnz), exact ? int(m.hrow.size()) : 0, exact ? "exact" : "limited-memory");
    if (s.output) messageCode(p, kMsgSolverLog, 1, " iter  objective          inf_pr     inf_du     mu");
    boundBlasThreads(s.threads);
    pt.status = IpoptSolve(ip, pt.x.data(), pt.g.data(), &pt.obj, pt.multg.data(), pt.zl.data(), pt.zu.data(), &run);
    FreeIpoptProblem(ip);
    return true;
  };
  auto converged = [](int status) { return status == Solve_Succeeded || status == Solved_To_Acceptable_Level; };
  int iterations = 0;
  bool locallyInfeasible = false;   // no start point reached a feasible point
  {
    std::unique_lock<std::mutex> lock;
    run.stop = acquireNlpSolver(lock, p, run.mark);
    if (!run.stop) {
      started = true;
      if (!solve(pt)) {
        std::lock_guard<std::recursive_mutex> plock(p->mtx);
        return fail(p, kErrSolver, "The nonlinear solver refused the problem");
      }
      iterations = run.iterations;
      // a search that stalls at a point meeting FEASTOL (its multipliers then are of no use): once
      // more from that point with the bounds not relaxed (outside them a function may have no
      // value), which usually converges where it is
      const bool stalled = pt.status == Restoration_Failed || pt.status == Search_Direction_Becomes_Too_Small ||
                           pt.status == Error_In_Step_Computation;
      if (stalled && !run.stop && !run.ev.userFailed && run.ev.bodies(pt.x.data()) &&
          m.violation(pt.x.data(), run.ev.body().data()) <= s.feastol) {
        Point again = pt;
        if (solve(again, 0.0)) {
          iterations += run.iterations;
          if (converged(again.status)) pt = again;
        }
      }
      // a local infeasibility of a model not shown convex: other start points first
      if (pt.status == Infeasible_Problem_Detected && !run.ev.userFailed && !nlpConvex(m, false)) {
        locallyInfeasible = true;
        Point alt = pt;
        for (int attempt = 1; attempt <= kRetries && !run.stop && !run.ev.userFailed; ++attempt) {
          nlpRetryPoint(m, attempt, alt.x);
          if (!solve(alt)) break;
          iterations += run.iterations;
          if (converged(alt.status)) {
            pt = alt;
            locallyInfeasible = false;
            if (s.output) messageCode(p, kMsgSolverLog, 1, "Converged from start point %d", attempt + 1);
            break;
          }
        }
      }
      // a stationary point that is no local minimum (a maximum, a saddle): start again from a
      // point along a direction of negative curvature where the objective is lower (none when
      // the model is convex)
      Point next = pt;
      const bool convex = converged(pt.status) && nlpConvex(m);
      for (int restart = 0; restart < 3 && !convex && converged(pt.status) && !run.stop && !run.ev.userFailed;
           ++restart) {
        if (!nlpDescentStart(m, run.ev, pt.x, pt.multg, s.feastol, next.x)) break;
        if (!solve(next)) break;
        iterations += run.iterations;
        if (!converged(next.status) || !(next.obj < pt.obj - 1e-9 * (1.0 + std::fabs(pt.obj)))) break;
        pt = next;
        if (s.output) messageCode(p, kMsgSolverLog, 1, "Restarted at a lower point: objective %.8g", m.sense * pt.obj);
      }
    }
  }
  // a minimum at the kink of a cone term is reached only approximately: the kink itself
  if (converged(pt.status) && !run.ev.userFailed && nlpConeSnap(m, run.ev, pt.x, s.feastol) && s.output)
    messageCode(p, kMsgSolverLog, 1, "Moved to the kink of a square root term");
  const int status = pt.status;
  std::vector<double> &x = pt.x, &multg = pt.multg, &zl = pt.zl, &zu = pt.zu;
  out.time = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.t0).count();
  out.bariter = iterations;

  // second derivatives that overflow where values do not: again with the limited-memory Hessian
  if (exact && run.hessianFailed && !run.ev.userFailed && !run.stop && started && status <= Not_Enough_Degrees_Of_Freedom) {
    if (s.output) messageCode(p, kMsgSolverLog, 1, "Second derivatives failed (%s); solving again with a limited-memory Hessian", run.ev.error.c_str());
    RunSettings left = s;   // the time spent counts
    if (left.timelimit > 0) left.timelimit = std::max(1e-3, s.timelimit - out.time);
    return nlpRun(p, m, left, out, HessianMode::LimitedMemory);
  }
  if (run.ev.userFailed || (started && status <= Not_Enough_Degrees_Of_Freedom)) {
    out = Solution();
    out.solvestatus = KRVX_SOLVESTATUS_FAILED;
    out.stopstatus = kStopGeneric;
    out.lpstatus = kLpUnsolved;
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    if (!run.ev.error.empty()) return fail(p, kErrSolver, "The nonlinear solve failed: %s", run.ev.error.c_str());
    return fail(p, kErrSolver, "The nonlinear solver failed: %s", failureText(status));
  }

  // the solver's bounds are relaxed a little: the point goes back onto them where the rows still hold
  if (started && !run.ev.userFailed) {
    std::vector<double> onto(x);
    bool moved = false;
    for (size_t j = 0; j < n; ++j) {
      const double c = std::min(std::max(onto[j], m.lb[j]), m.ub[j]);
      moved = moved || c != onto[j];
      onto[j] = c;
    }
    if (moved && run.ev.bodies(onto.data()) && m.violation(onto.data(), run.ev.body().data()) <= 0.5 * s.feastol)
      x = std::move(onto);
  }
  // a convex QP: the point returned, else the first iterate that held, certifies optimality
  bool certified = false;
  if (run.cert && started) {
    certified = run.certifies(x.data(), multg.data());
    if (!certified && !run.certx.empty()) {
      x = run.certx;
      multg = run.certy;
      // reduced costs grad f + J'y (= zl - zu)
      std::vector<double> d(n);
      run.ev.gradient(x.data(), d.data());
      for (size_t c = 0; c < cn; ++c) {
        const int r = m.crows[c];
        for (int e = m.jstart[size_t(r)]; e < m.jstart[size_t(r) + 1]; ++e)
          d[size_t(m.jcol[size_t(e)])] += multg[c] * m.jlin[size_t(e)];
      }
      for (size_t j = 0; j < n; ++j) {
        zl[j] = std::max(d[j], 0.0);
        zu[j] = std::max(-d[j], 0.0);
      }
      certified = run.certifies(x.data(), multg.data());
    }
  }
  // the point reached (none when the solve never started)
  const bool have = started && run.ev.bodies(x.data()) && nlpUserSolution(m, x.data(), run.ev.body().data(), out);
  const bool feasible = have && m.violation(x.data(), run.ev.body().data()) <= s.feastol;
  if (have) {
    out.duals.assign(size_t(m.userrows), 0.0);
    for (int c = 0; c < nc && m.crows[size_t(c)] < m.userrows; ++c)
      out.duals[size_t(m.crows[size_t(c)])] = -m.sense * multg[size_t(c)];
    out.djs.resize(size_t(m.usercols));
    for (int j = 0; j < m.usercols; ++j) out.djs[size_t(j)] = m.sense * (zl[size_t(j)] - zu[size_t(j)]);
    out.has_duals = true;
  }
  auto finish = [&](int solve, int sol, int lp) {
    out.solvestatus = solve;
    out.solstatus = sol;
    out.lpstatus = lp;
    if (m.discrete) out.mipstatus = sol == KRVX_SOLSTATUS_OPTIMAL ? kMipLpOptimal : kMipLpNotOptimal;
    if (sol == KRVX_SOLSTATUS_OPTIMAL) out.bestbound = out.objval;
    else out.bestbound = m.sense < 0 ? kInf : -kInf;
  };
  if (certified) {
    finish(KRVX_SOLVESTATUS_COMPLETED, KRVX_SOLSTATUS_OPTIMAL, kLpOptimal);
    out.bestbound = m.sense * run.certbound;
    return 0;
  }
  if (run.stop || status == Maximum_Iterations_Exceeded || status == Maximum_CpuTime_Exceeded ||
      status == User_Requested_Stop) {
    finish(KRVX_SOLVESTATUS_STOPPED, feasible ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND, kLpUnfinished);
    out.stopstatus = run.stop                                   ? run.stop
                     : status == Maximum_Iterations_Exceeded ? kStopIterLimit
                     : status == Maximum_CpuTime_Exceeded    ? kStopTimeLimit
                                                             : KRVX_STOP_USER;
    if (!feasible) out.has_duals = false;
    return 0;
  }
  switch (status) {
    case Solve_Succeeded:
    case Solved_To_Acceptable_Level:
      if (run.cert) {
        finish(KRVX_SOLVESTATUS_FAILED, feasible ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND, kLpUnfinished);
        out.stopstatus = kStopNumerical;
        if (!feasible) out.has_duals = false;
        messageCode(p, kMsgSolve, 3,
                    "The nonlinear solver ended without proving optimality: the objective is %.3g above the dual "
                    "bound at a violation of %.3g (tolerances %.3g and %.3g)",
                    run.certobj - run.certbound, have ? m.violation(x.data(), run.ev.body().data()) : 0.0,
                    s.optimalitytol * std::max(1.0, std::fabs(run.certobj)), s.feastol);
        return 0;
      }
      finish(KRVX_SOLVESTATUS_COMPLETED, KRVX_SOLSTATUS_OPTIMAL, kLpOptimal);
      return 0;
    case Infeasible_Problem_Detected:
      out.has_duals = false;
      if (locallyInfeasible) {   // no proof: no solution found
        finish(KRVX_SOLVESTATUS_COMPLETED, KRVX_SOLSTATUS_NOTFOUND, kLpUnfinished);
        nlpLocallyInfeasible(p, "nonlinear solver", kRetries + 1, out);
        return 0;
      }
      finish(KRVX_SOLVESTATUS_COMPLETED, KRVX_SOLSTATUS_INFEASIBLE, kLpInfeas);
      return 0;
    case Diverging_Iterates:
      finish(KRVX_SOLVESTATUS_COMPLETED, KRVX_SOLSTATUS_UNBOUNDED, kLpUnbounded);
      out.has_duals = false;
      return 0;
    default: {
      const char *why = status == Search_Direction_Becomes_Too_Small ? "search direction too small"
                        : status == Restoration_Failed              ? "restoration failed"
                        : status == Feasible_Point_Found            ? "feasible point found"
                                                                    : "error in a step";
      // stalled at a point that meets FEASTOL and the optimality conditions to the solver's
      // acceptable level: a (local) optimum, as an acceptable end would report it
      if (feasible && nlpOptimalityError(m, run.ev, x, multg, zl, zu) <= std::max(1e-6, 100.0 * s.optimalitytol)) {
        finish(KRVX_SOLVESTATUS_COMPLETED, KRVX_SOLSTATUS_OPTIMAL, kLpOptimal);
        messageCode(p, kMsgSolve, 1,
                    "The nonlinear solver stopped (%s) at a point that meets the tolerances and the optimality "
                    "conditions: reported as optimal",
                    why);
        return 0;
      }
      finish(KRVX_SOLVESTATUS_FAILED, feasible ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND, kLpUnfinished);
      out.stopstatus = kStopNumerical;
      out.has_duals = false;
      messageCode(p, kMsgSolve, 3, "The nonlinear solver ended without converging (%s)", why);
      return 0;
    }
  }
}

}  // namespace krvx
