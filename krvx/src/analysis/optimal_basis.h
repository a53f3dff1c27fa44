// The optimal LP basis that the analysis calls work from: the problem's own HiGHS instance
// after an optimal simplex solve, held exclusively while an analysis runs, and scratch copies
// of it for re-solves that must leave the problem untouched.
#pragma once
#include "analysis/basis.h"
#include "core/call_guard.h"
#include "core/store.h"
#include "solve/highs_lower.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

namespace krvx {

// HiGHS's ranging of an optimal basis (HiGHS indices = user indices): limits of the costs, of
// the nonbasic columns' values and of the nonbasic rows' activities.
struct Ranging {
  std::vector<double> costup, costdn, boundup, bounddn, rowup, rowdn;
};

// What the analyses of one optimal basis share, kept with the solve's diagnostics until the
// problem changes or is solved again, and used while the instance's basis is the one recorded.
struct AnalysisCache {
  std::vector<int> colstat, rowstat;
  ModelArrays arrays;        // built when first asked for; its bounds alone may come first
  bool built = false, bounded = false;
  bool ranged = false;
  Ranging ranging;
};

// Held for the lifetime of the object: the problem is marked busy (solves and changes are
// refused meanwhile) and its instance holds an optimal basis of the linear problem that the
// store describes. HiGHS columns and rows are then the user's ones.
class OptimalBasis {
 public:
  // Checks, under the mutex, that the analysis `what` applies; throws Error with the reason
  // (discrete columns, quadratic or nonlinear content, several objectives, reformulated
  // constraints, no current optimal basis, a solve running).
  OptimalBasis(ko_prob_struct *p, const char *what);
  ~OptimalBasis();
  OptimalBasis(const OptimalBasis &) = delete;
  OptimalBasis &operator=(const OptimalBasis &) = delete;

  void *highs() const { return p_->highs; }
  int ncols() const { return low_.ncols; }
  int nrows() const { return low_.nrows; }
  int sense() const { return sense_; }                  // 1 minimise, -1 maximise
  const Solution &solution() const { return sol_; }     // copy of the problem's solution
  const std::vector<double> &activities() const { return activity_; }   // rows' activities in it
  // HiGHS basis statuses of the instance
  const std::vector<int> &colStatus() const { return colstat_; }
  const std::vector<int> &rowStatus() const { return rowstat_; }
  const ModelArrays &arrays() const;   // the lowered model (bounds, matrix, costs)
  // The same arrays with at least the column and row bounds filled (read from the instance when
  // the rest has not been needed yet)
  const ModelArrays &bounds() const;
  AnalysisCache &cache() const { return *cache_; }
  // user scaling (KRVXscale): factors 2^e of each row and column, 1 when none is set
  const std::vector<double> &rowScale() const { return rowscale_; }
  const std::vector<double> &colScale() const { return colscale_; }
  double feastol() const { return feastol_; }
  double optimalitytol() const { return opttol_; }

  // A new HiGHS instance holding the same model and basis, set up for dual simplex runs of at
  // most `iterlim` iterations (no presolve, no output) that stop on stopRequested(). Throws
  // Error on failure.
  void *scratchCopy(int iterlim) const;

  // Whether the call is to stop: interrupt() of the problem since the call began, or its
  // TIMELIMIT control (seconds from the start of the call) passed. Once true it stays true.
  bool stopRequested() const;

 private:
  ko_prob_struct *p_;
  Lowered low_;
  std::shared_ptr<AnalysisCache> cache_;
  Solution sol_;
  std::vector<double> activity_;
  std::vector<int> colstat_, rowstat_;
  std::vector<double> rowscale_, colscale_;
  int sense_ = 1;
  double feastol_ = 1e-6, opttol_ = 1e-7;
  std::chrono::steady_clock::time_point start_;
  double timelimit_ = 0.0;   // 0: none
  mutable std::atomic<bool> stopped_{false};
};

// Owns a scratch HiGHS instance.
struct ScratchHighs {
  void *h = nullptr;
  explicit ScratchHighs(void *handle) : h(handle) {}
  ~ScratchHighs();
  ScratchHighs(const ScratchHighs &) = delete;
  ScratchHighs &operator=(const ScratchHighs &) = delete;
};

// Runs a scratch instance from the basis it holds; returns HiGHS's model status and adds the
// simplex iterations taken to *iters.
int runScratch(ko_prob_struct *p, void *h, int64_t *iters);

// Infinite HiGHS values as the library reports them (+-1e20).
inline double toKrvx(double v) { return v >= kInf ? kInf : v <= -kInf ? -kInf : v; }

}  // namespace krvx
