// Solving through HiGHS: shared pieces of the solve calls and the tuner.
//
// A solve takes the store mutex only to lower the model and to publish the results; HiGHS
// runs without it, so attribute reads from other threads never wait for a solve. While it
// runs, p->solving is set: store changes (requireIdle in core/call_guard.h) and other uses of p->highs are
// refused.
#pragma once
#include "core/store.h"
#include "solve/highs_lower.h"
#include "core/call_guard.h"
#include "core/sigint.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace krvx {

// Own message numbers (KRVXsetmessagestatus can suppress them)
constexpr int kMsgSolverLog = 201;    // the solver's log lines
constexpr int kMsgSolve = 202;        // notes of the solve calls
constexpr int kMsgTuner = 203;        // tuner reports and method listings

// StopType values (package enumeration)
constexpr int kStopNone = 0, kStopTimeLimit = 1, kStopCtrlC = 2, kStopNodeLimit = 3,
              kStopIterLimit = 4, kStopSolLimit = 6, kStopGeneric = 7, kStopNumerical = 13,
              kStopLocalInfeasible = 14;
// LPStatus and MIPStatus values (package enumerations)
constexpr int kLpUnstarted = 0, kLpOptimal = 1, kLpInfeas = 2, kLpUnfinished = 4, kLpUnbounded = 5,
              kLpUnsolved = 7, kLpNonconvex = 8;
constexpr int kMipNotLoaded = 0, kMipLpNotOptimal = 1, kMipLpOptimal = 2, kMipNoSolFound = 3,
              kMipSolution = 4, kMipInfeas = 5, kMipOptimal = 6, kMipUnbounded = 7;

// DEFAULTALG values
constexpr int kAlgAuto = 1, kAlgDual = 2, kAlgPrimal = 3, kAlgBarrier = 4, kAlgNetwork = 5;

// What one run asks of HiGHS: the controls of the problem, then the flags of the call.
struct RunSettings {
  bool relax = false;          // solve the continuous relaxation of a discrete problem
  bool global = false;         // solve to global optimality (the global engine)
  int alg = kAlgAuto;          // LP algorithm (for a MIP: the root relaxation)
  int presolve = 1;
  double timelimit = 0.0;      // <= 0: none
  double miprelstop = 1e-4, mipabsstop = 1e-6;
  double feastol = 1e-6, optimalitytol = 1e-7, miptol = 5e-6;
  int64_t lpiterlimit = 0, maxnode = 0;   // <= 0: none
  int threads = 0;             // 0: HiGHS chooses
  bool output = true;
};

// Settings from the problem's controls (mutex held).
RunSettings settingsFromControls(ko_prob_struct *p);
// Applies flag letters of `allowed` to s; fails with a clear text on others.
int applyFlags(ko_prob_struct *p, const char *flags, const char *allowed, RunSettings &s,
               bool *rootonly = nullptr);

// Marks a problem as being solved for the lifetime of the object: refuses a second solve,
// installs the SIGINT handler (a SIGINT from then on stops the solve, also while the model is
// prepared), clears a stale interrupt request. Take it with the mutex held.
class SolveScope {
 public:
  SolveScope() = default;
  SolveScope(const SolveScope &) = delete;
  SolveScope &operator=(const SolveScope &) = delete;
  ~SolveScope() { end(); }
  int begin(ko_prob_struct *p);   // 0, or the code of the refusal (text set)
  void end();
 private:
  ko_prob_struct *p_ = nullptr;
};

// The callbacks of one use of a HiGHS instance, from construction to end(): HiGHS's log lines
// go to p's message output (one message per line), and stop requests for p (KRVXinterrupt,
// SIGINT) reach the solver. Take it without the mutex held: log lines reach message handlers.
class HighsSession {
 public:
  HighsSession(ko_prob_struct *p, void *h);
  ~HighsSession() { end(); }
  HighsSession(const HighsSession &) = delete;
  HighsSession &operator=(const HighsSession &) = delete;
  void end();                                      // callbacks stopped, last partial line out
  int stopReason() const { return stop_.load(); }  // the stop request the solver obeyed, 0 none
  unsigned sigintMark() const { return mark_; }
  const std::string &lastError() const { return lasterror_; }   // last error line of the log

  // for the C callback
  void log(int logtype, const char *msg);
  bool poll();                                     // a stop is requested (and recorded)

 private:
  void emit(int type);
  ko_prob_struct *p_;
  void *h_;
  unsigned mark_;
  std::atomic<int> stop_{0};
  std::mutex mtx_;
  std::string partial_;                            // text after the last line end
  int partialtype_ = 1;
  std::string lasterror_;
};

// One run of a HiGHS instance holding a lowered model, without the mutex. Fills `out` (user
// columns and rows only) and returns 0, or fails with a clear text (mutex taken for the text).
// `modified`: the run changed the instance's model (it must be passed again before reuse).
// `diag`: the unbounded ray's entering index and, for a barrier run of an LP, the solution before
// crossover are kept there.
int runHighs(ko_prob_struct *p, void *h, const Lowered &low, const RunSettings &s, Solution &out,
             bool *modified = nullptr, SolveDiagnostics *diag = nullptr);

// Options of a run (the problem's controls, the flags of the call) set on an instance.
void applyRunSettings(void *h, const Lowered &low, const RunSettings &s, int threads);
// Runs fn(threads) counted as a running solve (the THREADS control takes effect only when no
// other solve runs): threads is what the solver's scheduler has.
void withSolveThreads(ko_prob_struct *p, int want, const std::function<void(int)> &fn);
// Maps the model status of a finished run of h into out (out's values already read); 0 or the
// failure of the solver (text set).
int mapRunStatus(ko_prob_struct *p, void *h, int status, const Lowered &low, const RunSettings &s,
                 const std::string &lasterror, Solution &out);

// One run of a HiGHS instance, counted: HiGHS's scheduler is rebuilt for `want` threads (THREADS)
// only while no run is counted; want < 0 takes the scheduler as it is. threads(): what it has.
class RunningSolve {
 public:
  RunningSolve(ko_prob_struct *p, int want);
  ~RunningSolve();
  RunningSolve(const RunningSolve &) = delete;
  RunningSolve &operator=(const RunningSolve &) = delete;
  int threads() const { return threads_; }

 private:
  int threads_ = 0;
};

// Stop request seen by the running solves of p: 0 none, else the reason.
int pendingStop(ko_prob_struct *p, unsigned sigint_mark);

// The body of an entry point: no problem, or an exception (out of memory), becomes the error.
template <class F>
int shielded(ko_prob_struct *p, const char *fn, F &&body) noexcept {
  if (!p) return failGlobal(kErrNoProblem, "%s: no problem given", fn);
  try {
    return body();
  } catch (...) {
    return failFrom(p, fn);
  }
}

// The SIGINT mark of the running solve of p (taken when it began), or the current count.
unsigned solveSigintMark(const ko_prob_struct *p);

}  // namespace krvx
