// The solve calls: KRVXlpoptimize, KRVXmipoptimize, KRVXoptimize, KRVXcrossoverlpsol and
// KRVXinterrupt, over the problem's own HiGHS instance.
//
// Statuses after a run (solve status, solution status):
//   optimal                       COMPLETED, OPTIMAL
//   infeasible                    COMPLETED, INFEASIBLE
//   unbounded                     COMPLETED, UNBOUNDED  ("infeasible or unbounded" is settled by a
//                                 second run without presolve, then a run with a zero objective)
//   time/iteration/node limit,    STOPPED, FEASIBLE when a feasible solution is known, else
//   interrupt                     NOTFOUND; the stop reason says which
//   undetermined result           FAILED, FEASIBLE or NOTFOUND (a warning says why)
//   solver error                  FAILED, NOTFOUND, and the call fails with the solver's text
//
// Interrupts: KRVXinterrupt only stores the reason in an atomic, which the HiGHS interrupt
// callbacks read, so it may be called from any thread, from inside callbacks, at any time. A
// request made while no solve of the problem runs has no effect: every solve starts by
// clearing it.
#include "solve/solve.h"
#include "core/controls.h"
#include "nl/nlpsolve.h"
#include "solve/cbc.h"
#include "solve/engine_load.h"
#include "solve/recheck.h"
#include "solve/scip.h"
#include "analysis/basis.h"
#include "analysis/diagnostics.h"
#include "analysis/presolve.h"
#include "analysis/solution_input.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>

namespace krvx {

// ---------------------------------------------------------------------------------------
// Settings

RunSettings settingsFromControls(ko_prob_struct *p) {
  RunSettings s;
  s.alg = static_cast<int>(ctlInt(p, KRVX_DEFAULTALG));
  s.presolve = ctlInt(p, KRVX_PRESOLVE) != 0;
  s.timelimit = ctlDbl(p, KRVX_TIMELIMIT);
  s.miprelstop = ctlDbl(p, KRVX_MIPRELSTOP);
  s.mipabsstop = ctlDbl(p, KRVX_MIPABSSTOP);
  s.feastol = ctlDbl(p, KRVX_FEASTOL);
  s.optimalitytol = ctlDbl(p, KRVX_OPTIMALITYTOL);
  s.miptol = ctlDbl(p, KRVX_MIPTOL);
  s.lpiterlimit = ctlInt(p, KRVX_LPITERLIMIT);
  s.maxnode = ctlInt(p, KRVX_MAXNODE);
  s.threads = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(ctlInt(p, KRVX_THREADS), 1024)));
  s.output = ctlInt(p, KRVX_OUTPUTLOG) != 0;
  return s;
}

int applyFlags(ko_prob_struct *p, const char *flags, const char *allowed, RunSettings &s, bool *rootonly) {
  if (!flags) return 0;
  int alg = 0;
  char algletter = 0, optletter = 0;
  for (const char *c = flags; *c; ++c) {
    if (!std::strchr(allowed, *c))
      return fail(p, kErrInvalid, "Unknown flag '%c' in \"%.64s\" (allowed: %s)", *c, flags, allowed);
    int a = 0;
    switch (*c) {
      case 'b': a = kAlgBarrier; break;
      case 'p': a = kAlgPrimal; break;
      case 'd': a = kAlgDual; break;
      case 'n': a = kAlgNetwork; break;
      case 'l': if (rootonly) *rootonly = true; break;
      case 's':
      case 'x':
        if (optletter && optletter != *c)
          return fail(p, kErrInvalid, "Flags 's' and 'x' exclude each other (\"%.64s\")", flags);
        optletter = *c;
        s.global = *c == 'x';
        break;
      default: break;
    }
    if (a) {
      if (alg && alg != a)
        return fail(p, kErrInvalid, "Flags '%c' and '%c' choose different algorithms (\"%.64s\")", algletter, *c,
                    flags);
      alg = a;
      algletter = *c;
    }
  }
  if (alg) s.alg = alg;
  return 0;
}

// ---------------------------------------------------------------------------------------
// Solve scope, SIGINT, stop requests

int SolveScope::begin(ko_prob_struct *p) {
  if (p->solving.load())
    return fail(p, kErrBusy, "The problem is already being solved or tuned");
  p->solving.store(true);
  p->interrupt.store(0);
  p->sigint_obeyed.store(false);
  p->sigint_mark = sigintEnter();
  p_ = p;
  return 0;
}

void SolveScope::end() {
  if (!p_) return;
  sigintLeave(p_->sigint_mark, p_->sigint_obeyed.load());
  p_->solving.store(false);
  p_ = nullptr;
}

unsigned solveSigintMark(const ko_prob_struct *p) { return p->solving.load() ? p->sigint_mark : sigintCount(); }

int pendingStop(ko_prob_struct *p, unsigned sigint_mark) {
  if (int r = p->interrupt.load()) return r;
  if (sigintCount() == sigint_mark) return 0;
  p->sigint_obeyed.store(true);
  return kStopCtrlC;
}

// ---------------------------------------------------------------------------------------
// HiGHS's thread count belongs to its process-wide scheduler, which may only be rebuilt while
// no HiGHS instance runs: the THREADS control takes effect when no other solve is running,
// otherwise the solve runs with the current scheduler and a warning says so.

namespace {

std::mutex g_threads_mtx;
int g_running = 0;
int g_scheduler_threads = 0;   // what the scheduler was last built for (0: HiGHS's choice)

}  // namespace

RunningSolve::RunningSolve(ko_prob_struct *p, int want) {
  {
    std::lock_guard<std::mutex> lock(g_threads_mtx);
    if (want >= 0 && want != g_scheduler_threads && g_running == 0) {
      Highs_resetGlobalScheduler(1);
      g_scheduler_threads = want;
    }
    threads_ = g_scheduler_threads;
    ++g_running;
  }
  // (handlers may start solves of their own: no lock held here)
  if (want >= 0 && want != threads_)
    messageCode(p, kMsgSolve, 3, "THREADS=%d takes effect when no other solve is running; this solve uses %d",
                want, threads_);
}

RunningSolve::~RunningSolve() {
  std::lock_guard<std::mutex> lock(g_threads_mtx);
  --g_running;
}

namespace {

const int kCallbacks[] = {kHighsCallbackLogging, kHighsCallbackSimplexInterrupt, kHighsCallbackIpmInterrupt,
                          kHighsCallbackMipInterrupt};

extern "C" void highsCallback(int type, const char *msg, const HighsCallbackDataOut *out, HighsCallbackDataIn *in,
                              void *data) {
  auto *session = static_cast<HighsSession *>(data);
  if (type == kHighsCallbackLogging) {
    if (msg) session->log(out ? out->log_type : 1, msg);
    return;
  }
  if (type == kHighsCallbackSimplexInterrupt || type == kHighsCallbackIpmInterrupt ||
      type == kHighsCallbackMipInterrupt) {
    if (session->poll() && in) in->user_interrupt = 1;
  }
}

HighsInt clampInt(int64_t v) {
  return v <= 0 ? INT_MAX : static_cast<HighsInt>(std::min<int64_t>(v, INT_MAX));
}

void applySettings(void *h, const Lowered &low, const RunSettings &s, int threads) {
  Highs_setBoolOptionValue(h, "output_flag", s.output);
  Highs_setBoolOptionValue(h, "log_to_console", 0);
  Highs_setDoubleOptionValue(h, "time_limit", s.timelimit > 0 ? s.timelimit : Highs_getInfinity(h));
  Highs_setDoubleOptionValue(h, "mip_rel_gap", s.miprelstop);
  Highs_setDoubleOptionValue(h, "mip_abs_gap", s.mipabsstop);
  Highs_setDoubleOptionValue(h, "primal_feasibility_tolerance", s.feastol);
  Highs_setDoubleOptionValue(h, "dual_feasibility_tolerance", s.optimalitytol);
  // HiGHS's MIP search holds rows and bounds, not only integrality, to this one: FEASTOL bounds it
  Highs_setDoubleOptionValue(h, "mip_feasibility_tolerance", std::min(s.miptol, s.feastol));
  Highs_setStringOptionValue(h, "presolve", s.presolve ? "on" : "off");
  Highs_setIntOptionValue(h, "simplex_iteration_limit", clampInt(s.lpiterlimit));
  Highs_setIntOptionValue(h, "mip_max_nodes", clampInt(s.maxnode));
  Highs_setIntOptionValue(h, "threads", threads);
  Highs_setBoolOptionValue(h, "solve_relaxation", s.relax && low.discrete);
  // Algorithm: for an LP (or a relaxation) the solver itself; for a MIP its LP solves.
  const bool mip = low.discrete && !s.relax;
  const bool barrier = s.alg == kAlgBarrier;
  const int strategy = s.alg == kAlgPrimal ? 4 : 1;   // dual for automatic, dual and network
  Highs_setIntOptionValue(h, "simplex_strategy", strategy);
  if (low.quadratic) {
    Highs_setStringOptionValue(h, "solver", "choose");
    // the QP solver can cycle on tiny problems: a limit that scales with the size (what it
    // does not finish goes to the nonlinear solver, qpRetry)
    Highs_setIntOptionValue(h, "qp_iteration_limit", qpIterationLimit(low));
  } else if (mip) {
    Highs_setStringOptionValue(h, "solver", "choose");
    Highs_setStringOptionValue(h, "mip_lp_solver", barrier ? "ipm" : s.alg == kAlgAuto ? "choose" : "simplex");
  } else {
    Highs_setStringOptionValue(h, "solver", barrier ? "ipm" : s.alg == kAlgAuto ? "choose" : "simplex");
  }
}

HighsInt intInfo(void *h, const char *name) {
  HighsInt v = 0;
  Highs_getIntInfoValue(h, name, &v);
  return v;
}

double dblInfo(void *h, const char *name) {
  double v = 0.0;
  Highs_getDoubleInfoValue(h, name, &v);
  return v;
}

// Settles "infeasible or unbounded": without presolve first, then by feasibility alone
// (zero objective). Returns the model status; `modified` when the instance's objective changed.
HighsInt settleInfeasibleOrUnbounded(void *h, const Lowered &low, bool presolve, bool &modified) {
  HighsInt status = kHighsModelStatusUnboundedOrInfeasible;
  if (presolve) {
    Highs_setStringOptionValue(h, "presolve", "off");
    Highs_run(h);
    status = Highs_getModelStatus(h);
    if (status != kHighsModelStatusUnboundedOrInfeasible) return status;
  }
  std::vector<double> zero(low.hcols, 0.0);
  if (low.multiobj) Highs_clearLinearObjectives(h);
  if (low.hcols) Highs_changeColsCostByRange(h, 0, low.hcols - 1, zero.data());
  if (low.quadratic) Highs_passHessian(h, low.hcols, 0, kHighsHessianFormatTriangular, nullptr, nullptr, nullptr);
  modified = true;
  Highs_run(h);
  HighsInt feas = Highs_getModelStatus(h);
  if (feas == kHighsModelStatusInfeasible) return kHighsModelStatusInfeasible;
  if (feas == kHighsModelStatusOptimal) return kHighsModelStatusUnbounded;
  return kHighsModelStatusUnboundedOrInfeasible;
}

// Reads the solution, basis and counters of the instance into out (user columns and rows).
// After a crossover HiGHS leaves its info unset: `crossed` takes an optimal status instead.
void collect(void *h, const Lowered &low, bool mip, bool values, Solution &out, bool crossed = false) {
  // HiGHS reports -1 for the counters of a method it did not run
  auto count = [h](const char *name) { return std::max<HighsInt>(0, intInfo(h, name)); };
  out.simplexiter = count("simplex_iteration_count") + count("qp_iteration_count");
  out.bariter = count("ipm_iteration_count");
  int64_t nodes = 0;
  if (mip) Highs_getInt64InfoValue(h, "mip_node_count", &nodes);
  out.nodes = nodes;
  const bool optimal = crossed && Highs_getModelStatus(h) == kHighsModelStatusOptimal;
  const bool feasible = optimal || intInfo(h, "primal_solution_status") == kHighsSolutionStatusFeasible;
  if (!values || !feasible) return;
  std::vector<double> colv(low.hcols), cold(low.hcols), rowv(low.hrows), rowd(low.hrows);
  Highs_getSolution(h, colv.data(), cold.data(), rowv.data(), rowd.data());
  out.objval = Highs_getObjectiveValue(h);
  out.x.assign(colv.begin(), colv.begin() + low.ncols);
  if (low.hasSplit())
    for (int j = 0; j < low.ncols; ++j)
      if (low.split[j] >= 0) out.x[j] += colv[low.split[j]];
  out.slack.resize(low.nrows);
  for (int i = 0; i < low.nrows; ++i) out.slack[i] = low.rhs[i] - rowv[i];
  out.has_x = true;
  if (!mip && (optimal || intInfo(h, "dual_solution_status") != kHighsSolutionStatusNone)) {
    out.duals.assign(rowd.begin(), rowd.begin() + low.nrows);
    out.djs.assign(cold.begin(), cold.begin() + low.ncols);
    out.has_duals = true;
  }
  std::vector<HighsInt> cs(low.hcols), rs(low.hrows);
  if (!mip && (optimal || intInfo(h, "basis_validity") == kHighsBasisValidityValid) &&
      Highs_getBasis(h, cs.data(), rs.data()) != kHighsStatusError) {
    out.colstat.resize(low.ncols);
    out.rowstat.resize(low.nrows);
    for (int j = 0; j < low.ncols; ++j) out.colstat[j] = colCode(cs[j]);
    for (int i = 0; i < low.nrows; ++i) out.rowstat[i] = rowCode(rs[i]);
  }
}

const char *statusText(HighsInt s) {
  switch (s) {
    case kHighsModelStatusLoadError: return "load error";
    case kHighsModelStatusModelError: return "model error";
    case kHighsModelStatusPresolveError: return "presolve error";
    case kHighsModelStatusSolveError: return "solve error";
    case kHighsModelStatusPostsolveError: return "postsolve error";
    default: return "no result";   // not set: refused before solving
  }
}

}  // namespace

HighsSession::HighsSession(ko_prob_struct *p, void *h) : p_(p), h_(h), mark_(solveSigintMark(p)) {
  Highs_setCallback(h, highsCallback, this);
  for (int t : kCallbacks) Highs_startCallback(h, t);
}

void HighsSession::end() {
  if (!h_) return;
  for (int t : kCallbacks) Highs_stopCallback(h_, t);
  h_ = nullptr;
  std::lock_guard<std::mutex> lock(mtx_);
  if (!partial_.empty()) emit(partialtype_);
}

bool HighsSession::poll() {
  int reason = pendingStop(p_, mark_);
  if (!reason) return false;
  int none = 0;
  stop_.compare_exchange_strong(none, reason);
  return true;
}

void HighsSession::log(int logtype, const char *msg) {
  std::lock_guard<std::mutex> lock(mtx_);
  const int type = logtype == 4 ? 3 : logtype == 5 ? 4 : 1;   // HiGHS warning, error
  for (const char *c = msg; *c;) {
    const char *nl = std::strchr(c, '\n');
    if (!nl) {
      partial_.append(c);
      partialtype_ = type;
      break;
    }
    partial_.append(c, nl - c);
    emit(type);
    c = nl + 1;
  }
}

void HighsSession::emit(int type) {
  if (type == 4) {
    const size_t start = partial_.rfind("ERROR:", 0) == 0 ? partial_.find_first_not_of(' ', 6) : 0;
    lasterror_ = start == std::string::npos ? std::string() : partial_.substr(start);
  }
  messageCode(p_, kMsgSolverLog, type, "%s", partial_.c_str());
  partial_.clear();
}

// Maps the model status of a finished run into out; returns 0 or the failure (text set).
void applyRunSettings(void *h, const Lowered &low, const RunSettings &s, int threads) {
  applySettings(h, low, s, threads);
}

void withSolveThreads(ko_prob_struct *p, int want, const std::function<void(int)> &fn) {
  RunningSolve running(p, want);
  fn(running.threads());
}

static int mapStatus(ko_prob_struct *p, void *h, HighsInt status, const Lowered &low, const RunSettings &s,
                     int stopreason, const std::string &lasterror, Solution &out) {
  const bool mip = low.discrete && !s.relax;
  const bool relaxed = low.discrete && s.relax;
  const bool feasible = out.has_x;
  auto lp = [&](int v) { out.lpstatus = mip ? kLpUnstarted : v; };
  auto mipst = [&](int v) {
    if (mip) out.mipstatus = v;
    else if (relaxed) out.mipstatus = v == kMipOptimal ? kMipLpOptimal : kMipLpNotOptimal;
  };
  switch (status) {
    case kHighsModelStatusOptimal:
    case kHighsModelStatusModelEmpty:
      if (status == kHighsModelStatusModelEmpty && !feasible) {
        out.objval = p->objconst;
        out.has_x = true;
      }
      out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
      out.solstatus = KRVX_SOLSTATUS_OPTIMAL;
      out.bestbound = mip ? dblInfo(h, "mip_dual_bound") : out.objval;
      lp(kLpOptimal);
      mipst(kMipOptimal);
      return 0;
    case kHighsModelStatusInfeasible:
      out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
      out.solstatus = KRVX_SOLSTATUS_INFEASIBLE;
      lp(kLpInfeas);
      mipst(kMipInfeas);
      return 0;
    case kHighsModelStatusUnbounded:
      out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
      out.solstatus = KRVX_SOLSTATUS_UNBOUNDED;
      lp(kLpUnbounded);
      mipst(kMipUnbounded);
      return 0;
    case kHighsModelStatusUnboundedOrInfeasible:
      // neither settled: no claim either way
      out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
      out.solstatus = KRVX_SOLSTATUS_NOTFOUND;
      lp(kLpUnfinished);
      mipst(kMipNoSolFound);
      messageCode(p, kMsgSolve, 3, "The solver could not tell whether the problem is infeasible or unbounded");
      return 0;
    case kHighsModelStatusTimeLimit:
    case kHighsModelStatusIterationLimit:
    case kHighsModelStatusSolutionLimit:
    case kHighsModelStatusInterrupt:
    case kHighsModelStatusObjectiveBound:
    case kHighsModelStatusObjectiveTarget:
      out.solvestatus = KRVX_SOLVESTATUS_STOPPED;
      out.solstatus = feasible ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND;
      out.stopstatus = status == kHighsModelStatusTimeLimit        ? kStopTimeLimit
                       : status == kHighsModelStatusIterationLimit ? kStopIterLimit
                       : status == kHighsModelStatusSolutionLimit
                           ? (s.maxnode > 0 && out.nodes >= s.maxnode ? kStopNodeLimit : kStopSolLimit)
                       : status == kHighsModelStatusInterrupt ? (stopreason ? stopreason : KRVX_STOP_USER)
                                                              : kStopGeneric;
      if (mip) out.bestbound = dblInfo(h, "mip_dual_bound");
      lp(kLpUnfinished);
      mipst(feasible ? kMipSolution : kMipNoSolFound);
      return 0;
    case kHighsModelStatusUnknown:
      out.solvestatus = KRVX_SOLVESTATUS_FAILED;
      out.solstatus = feasible ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND;
      out.stopstatus = kStopNumerical;
      lp(kLpUnfinished);
      mipst(feasible ? kMipSolution : kMipNoSolFound);
      messageCode(p, kMsgSolve, 3, "The solver ended without proving optimality, infeasibility or unboundedness");
      return 0;
    default: {
      out = Solution();
      out.solvestatus = KRVX_SOLVESTATUS_FAILED;
      out.solstatus = KRVX_SOLSTATUS_NOTFOUND;
      out.stopstatus = kStopGeneric;
      const bool nonconvex = low.quadratic && lasterror.find("non-convex") != std::string::npos;
      out.lpstatus = mip ? kLpUnstarted : nonconvex ? kLpNonconvex : kLpUnsolved;
      if (mip) out.mipstatus = kMipNoSolFound;
      std::lock_guard<std::recursive_mutex> lock(p->mtx);
      if (nonconvex)
        return fail(p, kErrUnsupported,
                    "Cannot solve this problem: its quadratic objective is not convex, and the solver handles "
                    "convex quadratic objectives only");
      if (lasterror.empty()) return fail(p, kErrSolver, "The solver failed (%s)", statusText(status));
      return fail(p, kErrSolver, "The solver failed: %s", lasterror.c_str());
    }
  }
}

int mapRunStatus(ko_prob_struct *p, void *h, int status, const Lowered &low, const RunSettings &s,
                 const std::string &lasterror, Solution &out) {
  return mapStatus(p, h, status, low, s, 0, lasterror, out);
}

namespace {

// Crossover from a point. IPX takes duals only when they are exactly complementary to the values
// and only for a model it does not dualise; otherwise the values alone are pushed to a vertex and
// the simplex method finishes from the basis found there.
HighsInt crossoverFromPoint(ko_prob_struct *p, void *h, HighsInt n, HighsInt m, const double *x, const double *djs,
                            const double *duals) {
  HighsInt rc = Highs_crossover(h, n, m, x, djs, duals);
  if ((rc == kHighsStatusError || Highs_getModelStatus(h) != kHighsModelStatusOptimal) && !p->interrupt.load()) {
    rc = Highs_crossover(h, n, m, x, nullptr, nullptr);
    if (rc != kHighsStatusError && Highs_getModelStatus(h) != kHighsModelStatusOptimal) {
      Highs_setStringOptionValue(h, "solver", "simplex");
      rc = Highs_run(h);
    }
  }
  return rc;
}

// HiGHS builds the calling thread's task scheduler when a run starts, and Highs_destroy shuts it
// down; its crossover uses that scheduler without building it. A run of a one-column instance
// that this thread keeps (destroying it would shut the scheduler down again) builds it.
void readyScheduler(int threads) {
  thread_local std::unique_ptr<void, void (*)(void *)> keeper(nullptr, Highs_destroy);
  if (!keeper) {
    keeper.reset(Highs_create());
    if (!keeper) return;
    Highs_setBoolOptionValue(keeper.get(), "output_flag", 0);
    const double lower = 0.0, upper = 1.0;
    Highs_addCol(keeper.get(), 0.0, lower, upper, 0, nullptr, nullptr);
  }
  Highs_setIntOptionValue(keeper.get(), "threads", threads);
  Highs_run(keeper.get());
}

// After an interior-point run without crossover: crossover from the point found, as the run
// with crossover would do, without solving again. HiGHS's crossover cannot take ranged rows;
// those models, and a crossover that does not finish, get the full run with crossover.
HighsInt crossoverFromInterior(ko_prob_struct *p, void *h, const Lowered &low) {
  const HighsInt n = low.hcols, m = low.hrows;
  if (m > 0) {
    std::vector<double> lo(static_cast<size_t>(m)), up(static_cast<size_t>(m));
    std::vector<HighsInt> start(static_cast<size_t>(m));
    HighsInt rows = 0, nnz = 0;
    if (Highs_getRowsByRange(h, 0, m - 1, &rows, lo.data(), up.data(), &nnz, start.data(), nullptr, nullptr) ==
        kHighsStatusError)
      return Highs_run(h);
    const double inf = Highs_getInfinity(h);
    for (HighsInt i = 0; i < m; ++i)
      if (lo[size_t(i)] > -inf && up[size_t(i)] < inf && lo[size_t(i)] < up[size_t(i)]) return Highs_run(h);
  }
  std::vector<double> cv(size_t(n) + 1), cd(size_t(n) + 1), rv(size_t(m) + 1), rd(size_t(m) + 1);
  Highs_getSolution(h, cv.data(), cd.data(), rv.data(), rd.data());
  // the crossover takes the duals of the minimisation HiGHS solves
  HighsInt sense = kHighsObjSenseMinimize;
  Highs_getObjectiveSense(h, &sense);
  if (sense == kHighsObjSenseMaximize) {
    for (double &d : cd) d = -d;
    for (double &d : rd) d = -d;
  }
  HighsInt rc = crossoverFromPoint(p, h, n, m, cv.data(), cd.data(), rd.data());
  if (p->interrupt.load()) return rc;
  if (rc == kHighsStatusError || Highs_getModelStatus(h) != kHighsModelStatusOptimal) return Highs_run(h);
  // the simplex method confirms the basis found (no iterations) and fills the solution's records
  Highs_setStringOptionValue(h, "solver", "simplex");
  rc = Highs_run(h);
  Highs_setStringOptionValue(h, "solver", "ipm");
  return rc;
}

}  // namespace

int runHighs(ko_prob_struct *p, void *h, const Lowered &low, const RunSettings &s, Solution &out,
             bool *modified, SolveDiagnostics *diag) {
  out = Solution();
  const auto t0 = std::chrono::steady_clock::now();
  HighsInt status;
  bool changed = false;
  HighsInt barrierIters = 0;   // of the interior-point run before crossover
  HighsSession session(p, h);
  {
    RunningSolve running(p, s.threads);
    applySettings(h, low, s, running.threads());
    // the instance's clock adds up over its runs: the time limit is per run
    Highs_zeroAllClocks(h);
    // a stop requested while the model was prepared: no run
    const bool skipped = session.poll();
    if (skipped) Highs_clearSolver(h);
    // a barrier run of an LP: the solution before crossover is kept, then crossover runs
    const bool barrier = !skipped && diag && s.alg == kAlgBarrier && !low.quadratic && (!low.discrete || s.relax);
    HighsInt runrc = kHighsStatusWarning;
    if (barrier) {
      Highs_setStringOptionValue(h, "run_crossover", "off");
      runrc = Highs_run(h);
      Highs_setStringOptionValue(h, "run_crossover", "on");
      barrierIters = std::max<HighsInt>(0, intInfo(h, "ipm_iteration_count"));
      keepBarrierSolution(h, low, *diag);
      // HiGHS's postsolve of an interior point can fail its own check (maximisations): the run
      // with crossover then settles the problem
      const HighsInt ipm = Highs_getModelStatus(h);
      if ((ipm == kHighsModelStatusOptimal || ipm == kHighsModelStatusUnknown) && !pendingStop(p, session.sigintMark()))
        runrc = ipm == kHighsModelStatusOptimal ? crossoverFromInterior(p, h, low) : Highs_run(h);
    } else if (!skipped) {
      runrc = Highs_run(h);
    }
    status = skipped ? kHighsModelStatusInterrupt : Highs_getModelStatus(h);
    // a run that failed may leave the status of a stage it finished before
    if (runrc == kHighsStatusError && (status == kHighsModelStatusNotset || status >= kHighsModelStatusModelEmpty))
      status = kHighsModelStatusSolveError;
    if (status == kHighsModelStatusUnboundedOrInfeasible && !pendingStop(p, session.sigintMark()))
      status = settleInfeasibleOrUnbounded(h, low, s.presolve, changed);
  }
  session.end();
  out.time = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const bool mip = low.discrete && !s.relax;
  // after a feasibility run the instance's values belong to the zero objective
  collect(h, low, mip, !changed, out);
  out.bariter = std::max<int64_t>(out.bariter, barrierIters);
  if (modified) *modified = changed;
  if (diag && status == kHighsModelStatusUnbounded && !changed && !mip)
    diag->unbvec = unboundedEntering(h, low, s.alg == kAlgPrimal, diag->has_unbvec);
  return mapStatus(p, h, status, low, s, session.stopReason(), session.lastError(), out);
}

// ---------------------------------------------------------------------------------------
// Entry points

namespace {

enum class Call { Lp, Mip, Optimize };

// After a solve of several objectives the solver's value is its last objective's: report the
// main objective's value at the solution instead.
void mainObjective(ko_prob_struct *p) {
  Solution &s = p->sol;
  if (!s.has_x || s.x.size() != p->cols.size()) return;
  double v = p->objconst;
  for (size_t j = 0; j < p->cols.size(); ++j) v += p->cols[j].cost * s.x[j];
  s.objval = v;
  // the solver's bound belongs to its last objective: known only at an optimum
  s.bestbound = s.solstatus == KRVX_SOLSTATUS_OPTIMAL ? v : p->objsense < 0 ? kInf : -kInf;
}

// A solve that fails leaves no result behind, neither an earlier one nor one of an earlier stage
// of its own: FAILED, NOTFOUND, no solution (the failing stage's own statuses stay). Mutex held.
void leaveFailed(ko_prob_struct *p) {
  Solution &s = p->sol;
  if (s.solvestatus == KRVX_SOLVESTATUS_FAILED && !s.has_x) return;
  s = Solution();
  s.solvestatus = KRVX_SOLVESTATUS_FAILED;
  s.stopstatus = kStopGeneric;
}

int solveRun(ko_prob_struct *p, const char *flags, Call call, SolveScope &scope, bool &started) {
  RunSettings s;
  Lowered low;
  ModelArrays arrays;
  NlpModel nlp;
  BranchingInfo branching;   // engine Cbc
  bool pass = false, rootonly = false, undirected = false;
  std::vector<std::vector<double>> starts;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    if (int rc = scope.begin(p)) return rc;
    leavePresolved(p);
    s = settingsFromControls(p);
    const char *allowed = call == Call::Lp ? "bpdn" : call == Call::Mip ? "bpdnl" : "bpdnlsx";
    if (int rc = applyFlags(p, flags, allowed, s, &rootonly)) return rc;
    s.relax = call == Call::Lp || rootonly;
    if (s.global)
      if (int rc = scipCheckModel(p)) return rc;
    if (int rc = prepareOwnHighs(p, low, arrays, pass, s.relax, s.global)) return rc;
    if (low.nonlinearEngine()) {
      nlpBuild(p, low, arrays, nlp);
      arrays = ModelArrays();
    }
    if (low.engine == Engine::Cbc) {   // Cbc takes the arrays; the HiGHS instance stays as it is
      if (!pass) buildArrays(p, low, arrays);
      pass = false;
      branchingInfo(p, low, branching);
    }
    undirected = low.engine == Engine::Highs && low.discrete && !s.relax && !p->dirs.empty();
    p->sol = Solution();
    p->diag = SolveDiagnostics();
    p->pivotorder.clear();
    if (low.engine == Engine::Highs && low.discrete && !s.relax) {
      starts = std::move(p->mipstarts);
      p->mipstarts.clear();
      chooseMipStart(p, starts);
    }
    started = true;
  }
  if (pass) {
    if (int rc = passOwnHighs(p, low, arrays)) return rc;
  }
  if (undirected)   // only with several objectives
    messageCode(p, kMsgSolve, 3, "The branching directives are not used for a problem with several objectives");
  Solution out;
  SolveDiagnostics diag;
  Presolved form;
  bool modified = false;
  bool nonlinear = low.engine == Engine::Ipopt;   // the result comes from nlpRun
  int rc = 0;
  const bool presolveForm = low.engine == Engine::Highs && call == Call::Mip && rootonly && presolvable(low);
  if (presolveForm) rc = presolveRoot(p, low, s, out, form);
  if (presolveForm && rc != kNotPresolved) {
    // the root relaxation of the presolved problem (rc is its result)
  } else switch (low.engine) {
    case Engine::Bonmin: rc = engines::minlpRun(p, nlp, s, out); break;
    case Engine::Cbc: rc = engines::runCbc(p, low, arrays, branching, s, out); break;
    case Engine::Ipopt: rc = engines::nlpRun(p, nlp, s, out); break;
    case Engine::Scip: rc = scipRun(p, nlp, low.relax ? nullptr : &p->sets, s, out); break;
    case Engine::Highs:
      if (!starts.empty()) passMipStarts(p->highs, low, starts);
      rc = runHighs(p, p->highs, low, s, out, &modified, &diag);
      // a continuous QP (or relaxation) the QP solver does not finish: the nonlinear solver
      if (low.quadratic && (!low.discrete || s.relax) && !low.multiobj && qpRetry(rc, out, qpIterationLimit(low))) {
        {
          std::lock_guard<std::recursive_mutex> lock(p->mtx);
          buildArrays(p, low, arrays);
          nlpBuild(p, low, arrays, nlp);
          arrays = ModelArrays();
        }
        messageCode(p, kMsgSolve, 1, "The QP solver did not finish; solving with the nonlinear solver");
        rc = engines::nlpRun(p, nlp, s, out);
        nonlinear = true;
      }
      break;
  }
  if (rc == 0 && !form.active) {
    // an optimum that fails the check of its point: the nonlinear solver once more with tighter
    // tolerances (cheap next to finding it), then the check decides what is reported
    if (nonlinear && out.solstatus == KRVX_SOLSTATUS_OPTIMAL && !checkPoint(p, out, s.relax).holds) {
      RunSettings tight = s;
      tight.feastol = s.feastol * 1e-2;
      Solution again;
      if (engines::nlpRun(p, nlp, tight, again) == 0 && again.solstatus == KRVX_SOLSTATUS_OPTIMAL &&
          checkPoint(p, again, s.relax).holds) {
        again.time += out.time;
        again.bariter += out.bariter;
        out = std::move(again);
      }
    }
    recheckSolution(p, out, s.relax);
  }
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  p->sol = std::move(out);
  p->diag = std::move(diag);
  if (form.active) p->presolved = std::move(form);
  if (low.multiobj) mainObjective(p);
  // the instance holds arrays of this call only (a relaxed MIQP's lack integrality)
  if (modified || low.transientArrays()) p->highs_stale = true;
  return rc;
}

int solveCall(ko_prob_struct *p, const char *flags, Call call, int *solvestatus, int *solstatus) {
  SolveScope scope;
  bool started = false;   // refusals before the solve starts leave the solution as it was
  const int rc = solveRun(p, flags, call, scope, started);
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  if (rc && started) leaveFailed(p);
  // a SIGINT the solver saw only after its work was done is passed on when the scope ends
  p->sigint_obeyed.store(p->sol.solvestatus == KRVX_SOLVESTATUS_STOPPED && p->sol.stopstatus == kStopCtrlC);
  if (solvestatus) *solvestatus = p->sol.solvestatus;
  if (solstatus) *solstatus = p->sol.solstatus;
  return rc;
}

}  // namespace

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXlpoptimize(KRVXprob prob, const char *flags) {
  return shielded(prob, __func__, [&] { return solveCall(prob, flags, Call::Lp, nullptr, nullptr); });
}

extern "C" KRVX_API int KRVXmipoptimize(KRVXprob prob, const char *flags) {
  return shielded(prob, __func__, [&] { return solveCall(prob, flags, Call::Mip, nullptr, nullptr); });
}

extern "C" KRVX_API int KRVXoptimize(KRVXprob prob, const char *flags, int *solvestatus, int *solstatus) {
  return shielded(prob, __func__, [&] { return solveCall(prob, flags, Call::Optimize, solvestatus, solstatus); });
}

extern "C" KRVX_API int KRVXinterrupt(KRVXprob prob, int reason) {
  if (!prob) return failGlobal(kErrNoProblem, "%s: no problem given", __func__);
  if (reason <= 0) {
    std::lock_guard<std::recursive_mutex> lock(prob->mtx);
    return fail(prob, kErrInvalid, "Invalid interrupt reason %d (a StopType value or 1000 and above)", reason);
  }
  prob->interrupt.store(reason);
  return 0;
}

static int crossover(KRVXprob prob, int *status) {
  SolveScope scope;
  Lowered low;
  RunSettings s;
  ModelArrays arrays;
  bool pass = false;
  std::vector<double> x, djs, duals;
  {
    std::lock_guard<std::recursive_mutex> lock(prob->mtx);
    if (int rc = scope.begin(prob)) return rc;
    leavePresolved(prob);   // crossover works on the original problem (its solution is the original's)
    const Solution &sol = prob->sol;
    if (!sol.has_x || sol.x.size() != prob->cols.size()) {
      if (status) *status = 1;
      return 0;
    }
    if (int rc = prepareOwnHighs(prob, low, arrays, pass)) return rc;
    if (low.nonlinearEngine())
      return fail(prob, kErrUnsupported, "Crossover needs a linear problem; this one has nonlinear content");
    if (low.quadratic)
      return fail(prob, kErrUnsupported, "Crossover needs a linear problem; this one has a quadratic objective");
    if (low.hasAux())
      return fail(prob, kErrUnsupported,
                  "Crossover is not available for problems with partial-integer columns, sets, indicator, "
                  "piecewise-linear or general constraints");
    // HiGHS's crossover reads out of bounds on ranged rows: never hand it one
    for (size_t i = 0; i < prob->rows.size(); ++i) {
      const Row &r = prob->rows[i];
      if (r.type == 'R' && rowRange(*prob, i) != 0.0 && !isInf(r.rhs) && !isInf(rowBottom(*prob, i)))
        return fail(prob, kErrUnsupported,
                    "Crossover is not available for problems with ranged rows (row %zu has the range [%g, %g])", i,
                    rowBottom(*prob, i), r.rhs);
    }
    s = settingsFromControls(prob);
    s.relax = true;
    x = sol.x;
    if (sol.has_duals) {
      // HiGHS's crossover takes the duals of a maximisation negated (those of the minimisation
      // it solves), unlike the ones its solution reports
      const double sign = prob->objsense < 0 ? -1.0 : 1.0;
      for (double d : sol.djs) djs.push_back(sign * d);
      for (double d : sol.duals) duals.push_back(sign * d);
    }
  }
  if (pass)
    if (int rc = passOwnHighs(prob, low, arrays)) return rc;
  void *h = prob->highs;
  if (low.discrete) Highs_clearIntegrality(h);   // crossover works on the relaxation
  HighsSession session(prob, h);
  Solution out;
  HighsInt rc;
  {
    RunningSolve running(prob, s.threads);
    applySettings(h, low, s, running.threads());
    readyScheduler(running.threads());
    const auto t0 = std::chrono::steady_clock::now();
    rc = crossoverFromPoint(prob, h, low.hcols, low.hrows, x.data(), djs.empty() ? nullptr : djs.data(),
                            duals.empty() ? nullptr : duals.data());
    out.time = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  session.end();
  const double time = out.time;
  collect(h, low, false, true, out, true);
  out.time = time;
  int mrc = rc == kHighsStatusError ? kErrSolver
                                    : mapStatus(prob, h, Highs_getModelStatus(h), low, s, 0, session.lastError(), out);
  if (rc != kHighsStatusError && mrc == 0) recheckSolution(prob, out, true);
  std::lock_guard<std::recursive_mutex> lock(prob->mtx);
  if (low.discrete) prob->highs_stale = true;
  if (rc == kHighsStatusError)
    return fail(prob, kErrSolver, "Crossover failed%s%s", session.lastError().empty() ? "" : ": ",
                session.lastError().c_str());
  prob->sol = std::move(out);
  if (status) *status = 0;
  return mrc;
}

extern "C" KRVX_API int KRVXcrossoverlpsol(KRVXprob prob, int *status) {
  return shielded(prob, __func__, [&] { return crossover(prob, status); });
}
