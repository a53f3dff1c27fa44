#include "analysis/optimal_basis.h"
#include "analysis/presolve.h"
#include "nl/nl.h"
#include "solve/solve.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace krvx {

namespace {

// Why the problem has no linear basis to analyse, or null.
const char *unsuitableContent(const ko_prob_struct *p) {
  if (isPresolved(*p)) return "the problem is in presolved form (postSolve leaves it)";
  if (nlHasFormulas(p)) return "the problem has nonlinear formulas";
  for (const Column &c : p->cols)
    if (c.type != 'C') return "the problem is a MIP (it has discrete columns)";
  if (!p->qobj.empty()) return "the problem has a quadratic objective";
  for (const auto &q : p->qrows)
    if (!q.empty()) return "the problem has quadratic constraints";
  if (!p->objectives.empty()) return "the problem has several objectives";
  return nullptr;
}

}  // namespace

OptimalBasis::OptimalBasis(ko_prob_struct *p, const char *what) : p_(p) {
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  if (p->solving.load()) raise(kErrBusy, "%s is not available while the problem is being solved", what);
  if (const char *why = unsuitableContent(p)) raise(kErrUnsupported, "%s needs a linear problem: %s", what, why);
  if (planLowering(p, low_) != 0) {
    std::lock_guard<std::mutex> errlock(p->errmtx);
    raise(kErrUnsupported, "%s needs a linear problem: %s", what, p->lasterror.c_str());
  }
  if (low_.hasAux())
    raise(kErrUnsupported,
          "%s needs a linear problem: the problem has sets, indicator, piecewise-linear or general constraints, "
          "which are reformulated for the solver",
          what);
  void *h = p->highs;
  const Solution &s = p->sol;
  HighsInt validity = 0;
  const bool optimal = h && !p->highs_stale && s.solstatus == KRVX_SOLSTATUS_OPTIMAL && s.has_duals &&
                       s.colstat.size() == p->cols.size() && s.rowstat.size() == p->rows.size() &&
                       Highs_getModelStatus(h) == kHighsModelStatusOptimal &&
                       Highs_getIntInfoValue(h, "basis_validity", &validity) != kHighsStatusError &&
                       validity == kHighsBasisValidityValid && Highs_getNumCol(h) == low_.ncols &&
                       Highs_getNumRow(h) == low_.nrows;
  if (!optimal)
    raise(kErrNoSolution,
          "%s needs an optimal basis: solve the problem to optimality first (changing the problem discards "
          "the basis)",
          what);
  colstat_.resize(size_t(low_.ncols));
  rowstat_.resize(size_t(low_.nrows));
  if (Highs_getBasis(h, colstat_.data(), rowstat_.data()) == kHighsStatusError)
    raise(kErrSolver, "%s: the solver could not give its basis", what);
  // the lowered model (and ranging) of an earlier analysis of this basis, or anew
  cache_ = p->diag.analysis;
  if (!cache_ || cache_->colstat != colstat_ || cache_->rowstat != rowstat_) {
    cache_ = std::make_shared<AnalysisCache>();
    cache_->colstat = colstat_;
    cache_->rowstat = rowstat_;
    p->diag.analysis = cache_;
  }
  sol_ = s;
  activity_.resize(size_t(low_.nrows));
  for (size_t i = 0; i < activity_.size(); ++i) activity_[i] = low_.rhs[i] - s.slack[i];
  rowscale_.assign(size_t(low_.nrows), 1.0);
  colscale_.assign(size_t(low_.ncols), 1.0);
  for (size_t i = 0; i < p->rowscale.size() && i < rowscale_.size(); ++i) rowscale_[i] = std::ldexp(1.0, p->rowscale[i]);
  for (size_t j = 0; j < p->colscale.size() && j < colscale_.size(); ++j) colscale_[j] = std::ldexp(1.0, p->colscale[j]);
  sense_ = p->objsense < 0 ? -1 : 1;
  const RunSettings rs = settingsFromControls(p);
  feastol_ = rs.feastol;
  opttol_ = rs.optimalitytol;
  timelimit_ = rs.timelimit > 0 ? rs.timelimit : 0.0;
  start_ = std::chrono::steady_clock::now();
  p->interrupt.store(0);    // as every solve, the call starts without a stop request
  p->solving.store(true);   // last: nothing above may leave it set
}

const ModelArrays &OptimalBasis::arrays() const {
  AnalysisCache &c = *cache_;
  if (!c.built) {
    std::lock_guard<std::recursive_mutex> lock(p_->mtx);
    buildArrays(p_, low_, c.arrays);
    c.built = c.bounded = true;
  }
  return c.arrays;
}

const ModelArrays &OptimalBasis::bounds() const {
  AnalysisCache &c = *cache_;
  if (c.bounded) return c.arrays;
  void *h = p_->highs;
  const size_t n = size_t(low_.ncols), m = size_t(low_.nrows);
  std::vector<double> cost(n), lower(n), upper(n), rowlo(m), rowup(m);
  HighsInt count = 0, nnz = 0;
  const bool ok = (n == 0 || Highs_getColsByRange(h, 0, HighsInt(n) - 1, &count, cost.data(), lower.data(), upper.data(),
                                                  &nnz, nullptr, nullptr, nullptr) != kHighsStatusError) &&
                  (m == 0 || Highs_getRowsByRange(h, 0, HighsInt(m) - 1, &count, rowlo.data(), rowup.data(), &nnz,
                                                  nullptr, nullptr, nullptr) != kHighsStatusError);
  if (!ok) return arrays();
  c.arrays.lower.swap(lower);
  c.arrays.upper.swap(upper);
  c.arrays.rowlo.swap(rowlo);
  c.arrays.rowup.swap(rowup);
  c.bounded = true;
  return c.arrays;
}

bool OptimalBasis::stopRequested() const {
  if (stopped_.load()) return true;
  const bool stop = p_->interrupt.load() != 0 ||
                    (timelimit_ > 0 &&
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count() >= timelimit_);
  if (stop) stopped_.store(true);
  return stop;
}

namespace {

extern "C" void scratchCallback(int type, const char *, const HighsCallbackDataOut *, HighsCallbackDataIn *in,
                                void *data) {
  if (type == kHighsCallbackSimplexInterrupt && in && static_cast<const OptimalBasis *>(data)->stopRequested())
    in->user_interrupt = 1;
}

}  // namespace

OptimalBasis::~OptimalBasis() { p_->solving.store(false); }

ScratchHighs::~ScratchHighs() {
  if (!h) return;
  Highs_stopCallback(h, kHighsCallbackSimplexInterrupt);   // its data dies with the call
  releaseHighs(h);
}

void *OptimalBasis::scratchCopy(int iterlim) const {
  void *h = newHighs();
  if (!h) raise(kErrMemory, "the solver could not be created (out of memory)");
  ScratchHighs owner(h);
  Highs_setBoolOptionValue(h, "output_flag", 0);
  if (passArrays(p_, h, arrays()) != 0) {
    std::lock_guard<std::mutex> lock(p_->errmtx);
    raise(kErrSolver, "%s", p_->lasterror.c_str());
  }
  if (Highs_setBasis(h, colstat_.data(), rowstat_.data()) == kHighsStatusError)
    raise(kErrSolver, "the solver refused the optimal basis");
  Highs_setStringOptionValue(h, "presolve", "off");
  Highs_setStringOptionValue(h, "solver", "simplex");
  Highs_setIntOptionValue(h, "simplex_strategy", 1);   // dual simplex
  Highs_setIntOptionValue(h, "simplex_iteration_limit", std::max(0, iterlim));
  Highs_setDoubleOptionValue(h, "primal_feasibility_tolerance", feastol_);
  Highs_setDoubleOptionValue(h, "dual_feasibility_tolerance", opttol_);
  Highs_setCallback(h, scratchCallback, const_cast<OptimalBasis *>(this));
  Highs_startCallback(h, kHighsCallbackSimplexInterrupt);
  owner.h = nullptr;
  return h;
}

int runScratch(ko_prob_struct *p, void *h, int64_t *iters) {
  RunningSolve running(p, -1);
  Highs_run(h);
  HighsInt n = 0;
  Highs_getIntInfoValue(h, "simplex_iteration_count", &n);
  if (iters) *iters += std::max<HighsInt>(0, n);
  return Highs_getModelStatus(h);
}

}  // namespace krvx
