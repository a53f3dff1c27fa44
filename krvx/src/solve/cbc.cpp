// The branch-and-cut engine of linear MIPs with branching directives (cbc.h).
#include "solve/cbc.h"
#include "solve/coin_log.h"

#include "interfaces/highs_c_api.h"

#include <CbcEventHandler.hpp>
#include <CbcHeuristic.hpp>
#include <CbcHeuristicFPump.hpp>
#include <CbcHeuristicLocal.hpp>
#include <CbcModel.hpp>
#include <CbcSimpleInteger.hpp>
#include <CbcSimpleIntegerPseudoCost.hpp>
#include <CglClique.hpp>
#include <CglGomory.hpp>
#include <CglKnapsackCover.hpp>
#include <CglMixedIntegerRounding2.hpp>
#include <CglProbing.hpp>
#include <CoinError.hpp>
#include <CoinMessageHandler.hpp>
#include <OsiClpSolverInterface.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <memory>
#include <string>

namespace krvx {

static_assert(sizeof(CoinBigIndex) == sizeof(int), "the column starts are passed as they are");

namespace {

// The lowered model as Cbc takes it: infinities as Cbc's, integrality as flags.
struct CbcArrays {
  int sense = 1;
  std::vector<double> collb, colub, rowlb, rowub;
  std::vector<char> integer;
};

double finiteOr(double v) { return std::isinf(v) ? (v > 0 ? COIN_DBL_MAX : -COIN_DBL_MAX) : v; }

void buildCbcArrays(const ModelArrays &a, CbcArrays &m) {
  m = CbcArrays();
  m.sense = a.sense;
  for (size_t j = 0; j < a.cost.size(); ++j) {
    const int type = a.integrality.empty() ? kHighsVarTypeContinuous : a.integrality[j];
    if (type != kHighsVarTypeContinuous && type != kHighsVarTypeInteger)
      raise(kErrInternal, "The lowered model has a column type (%d) the branch-and-cut engine does not take", type);
    double lb = a.lower[j], ub = a.upper[j];
    if (type == kHighsVarTypeInteger) integralBounds(lb, ub);
    m.collb.push_back(finiteOr(lb));
    m.colub.push_back(finiteOr(ub));
    m.integer.push_back(type == kHighsVarTypeInteger);
  }
  for (size_t i = 0; i < a.rowlo.size(); ++i) {
    m.rowlb.push_back(finiteOr(a.rowlo[i]));
    m.rowub.push_back(finiteOr(a.rowup[i]));
  }
}

// Ends the search at the next event once a stop is requested; records the reason.
class StopHandler : public CbcEventHandler {
 public:
  StopHandler(ko_prob_struct *p, unsigned mark, std::atomic<int> *reason) : p_(p), mark_(mark), reason_(reason) {}
  CbcAction event(CbcEvent) override {
    const int r = pendingStop(p_, mark_);
    if (!r) return noAction;
    int none = 0;
    reason_->compare_exchange_strong(none, r);
    return stop;
  }
  CbcEventHandler *clone() const override { return new StopHandler(*this); }

 private:
  ko_prob_struct *p_;
  unsigned mark_;
  std::atomic<int> *reason_;
};

struct Outcome {
  bool optimal = false, infeasible = false, unbounded = false, failed = false, undecided = false;
  bool nodelimit = false, timelimit = false, sollimit = false, iterlimit = false;
  std::vector<double> x;   // the best solution, empty when none
  double bound = 0.0;
  int64_t nodes = 0, iterations = 0;
};

// Priority, preferred direction and pseudo costs of every integer object from its column's directive.
void applyBranching(CbcModel &model, const BranchingInfo &b) {
  model.findIntegers(true);
  if (b.empty()) return;
  std::vector<std::unique_ptr<CbcObject>> replaced;
  for (int i = 0; i < model.numberObjects(); ++i) {
    auto *obj = dynamic_cast<CbcSimpleInteger *>(model.modifiableObject(i));
    if (!obj) continue;
    const size_t col = size_t(obj->columnNumber());
    obj->setPriority(b.priority[col]);
    obj->setPreferredWay(b.direction[col]);
    if (!b.upcost.empty()) {
      auto pc = std::make_unique<CbcSimpleIntegerPseudoCost>(&model, int(col), b.downcost[col], b.upcost[col]);
      pc->setPriority(b.priority[col]);
      pc->setPreferredWay(b.direction[col]);
      replaced.push_back(std::move(pc));
    }
  }
  if (replaced.empty()) return;
  std::vector<CbcObject *> objs;
  for (auto &o : replaced) objs.push_back(o.get());
  model.addObjects(static_cast<int>(objs.size()), objs.data());   // cloned; replaces the columns' objects
}

Outcome branchAndBound(ko_prob_struct *p, const ModelArrays &a, const CbcArrays &m, const BranchingInfo &b,
                       const RunSettings &s, unsigned mark, std::atomic<int> &reason, bool feasibility) {
  const int ncols = static_cast<int>(m.collb.size()), nrows = static_cast<int>(m.rowlb.size());
  CoinLogHandler log(p);
  OsiClpSolverInterface solver;
  solver.messageHandler()->setLogLevel(0);   // the LP solver's own lines stay quiet
  std::vector<double> zero(feasibility ? size_t(ncols) : 0, 0.0);
  solver.loadProblem(ncols, nrows, a.colStart(), a.rowIndex(), a.coefValue(), m.collb.data(), m.colub.data(),
                     feasibility ? zero.data() : a.cost.data(), m.rowlb.data(), m.rowub.data());
  solver.setObjSense(m.sense);
  for (int j = 0; j < ncols; ++j)
    if (m.integer[size_t(j)]) solver.setInteger(j);
  solver.setDblParam(OsiPrimalTolerance, s.feastol);
  solver.setDblParam(OsiDualTolerance, s.optimalitytol);

  CbcModel model(solver);
  model.passInMessageHandler(&log);
  model.setLogLevel(s.output ? 1 : 0);
  CoinLogHandler lplog(p);   // the LP solver's lines stay quiet
  lplog.setLogLevel(0);
  model.solver()->passInMessageHandler(&lplog);
  StopHandler stop(p, mark, &reason);
  model.passInEventHandler(&stop);
  model.setUseElapsedTime(true);
  if (s.timelimit > 0) model.setMaximumSeconds(s.timelimit);
  if (s.maxnode > 0) model.setMaximumNodes(static_cast<int>(std::min<int64_t>(s.maxnode, INT_MAX)));
  model.setAllowableFractionGap(s.miprelstop);
  model.setAllowableGap(s.mipabsstop);
  model.setIntegerTolerance(std::max(s.miptol, 1e-9));

  CglProbing probing;
  probing.setUsingObjective(true);
  probing.setMaxPass(3);
  probing.setMaxProbe(100);
  probing.setMaxLook(50);
  probing.setRowCuts(3);
  CglGomory gomory;
  gomory.setLimit(300);
  CglKnapsackCover knapsack;
  CglClique clique;
  clique.setStarCliqueReport(false);
  clique.setRowCliqueReport(false);
  CglMixedIntegerRounding2 mir;
  // no flow cover cuts: on small MIPs with indicator and semi-continuous rows they cut off optima
  model.addCutGenerator(&probing, -1, "Probing");
  model.addCutGenerator(&gomory, -1, "Gomory");
  model.addCutGenerator(&knapsack, -1, "Knapsack");
  model.addCutGenerator(&clique, -1, "Clique");
  model.addCutGenerator(&mir, -1, "MixedIntegerRounding2");
  CbcRounding rounding(model);
  CbcHeuristicLocal local(model);
  CbcHeuristicFPump pump(model);
  model.addHeuristic(&rounding);
  model.addHeuristic(&local);
  model.addHeuristic(&pump);
  applyBranching(model, b);
  // Cbc's dynamic pseudo-cost branching picks the first branch from its strong-branching trials;
  // with directions loaded the classic branching takes each object's preferred way instead
  if (std::any_of(b.direction.begin(), b.direction.end(), [](int w) { return w != 0; }))
    model.setNumberBeforeTrust(0);

  model.initialSolve();
  model.branchAndBound();

  Outcome o;
  o.nodes = model.getNodeCount();
  o.iterations = model.getIterationCount();
  if (const double *best = model.bestSolution()) o.x.assign(best, best + ncols);
  o.bound = model.getBestPossibleObjValue();
  const int secondary = model.secondaryStatus();
  o.unbounded = model.isContinuousUnbounded() || secondary == 7;
  o.infeasible = !o.unbounded && model.isProvenInfeasible();
  o.optimal = model.isProvenOptimal() && !o.x.empty();
  o.failed = model.status() == 2;
  o.nodelimit = model.isNodeLimitReached() || secondary == 3;
  o.timelimit = model.isSecondsLimitReached() || secondary == 4;
  o.sollimit = secondary == 6;
  o.iterlimit = secondary == 8;
  return o;
}

double bounded(double v) { return std::max(-kInf, std::min(kInf, v)); }

// The values of the user's columns and rows from a solution of the lowered model.
void collectSolution(const Lowered &low, const ModelArrays &a, const std::vector<double> &xl, Solution &out) {
  out.x.assign(xl.begin(), xl.begin() + low.ncols);
  if (low.hasSplit())
    for (int j = 0; j < low.ncols; ++j)
      if (low.split[size_t(j)] >= 0) out.x[size_t(j)] += xl[size_t(low.split[size_t(j)])];
  std::vector<double> activity(size_t(low.nrows), 0.0);
  double obj = a.offset;
  for (int j = 0; j < low.hcols; ++j) {
    obj += a.cost[size_t(j)] * xl[size_t(j)];
    const int *start = a.colStart(), *index = a.rowIndex();
    const double *value = a.coefValue();
    for (int e = start[j]; e < start[j + 1]; ++e)
      if (index[e] < low.nrows) activity[size_t(index[e])] += value[e] * xl[size_t(j)];
  }
  out.slack.resize(size_t(low.nrows));
  for (int i = 0; i < low.nrows; ++i) out.slack[size_t(i)] = low.rhs[size_t(i)] - activity[size_t(i)];
  out.objval = obj;
  out.has_x = true;
}

}  // namespace

int runCbc(ko_prob_struct *p, const Lowered &low, const ModelArrays &a, const BranchingInfo &branching,
           const RunSettings &s, Solution &out) {
  out = Solution();
  const auto t0 = std::chrono::steady_clock::now();
  const unsigned mark = solveSigintMark(p);
  std::atomic<int> reason{0};
  CbcArrays m;
  Outcome o;
  try {
    buildCbcArrays(a, m);
    bool crossed = false;   // no integer within an integer column's bounds
    for (size_t j = 0; j < m.collb.size(); ++j) crossed = crossed || m.collb[j] > m.colub[j];
    if (crossed) {
      out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
      out.solstatus = KRVX_SOLSTATUS_INFEASIBLE;
      out.mipstatus = kMipInfeas;
      out.bestbound = a.sense < 0 ? -kInf : kInf;
      return 0;
    }
    o = branchAndBound(p, a, m, branching, s, mark, reason, false);
    if (o.unbounded) {
      // the relaxation is unbounded: the MIP is unbounded when it has a solution at all, which
      // a search with a zero objective settles unless it is stopped too
      o.unbounded = false;
      o.x.clear();
      if (const int r = pendingStop(p, mark)) {
        int none = 0;
        reason.compare_exchange_strong(none, r);
      } else {
        const Outcome feas = branchAndBound(p, a, m, branching, s, mark, reason, true);
        o.unbounded = !feas.x.empty();
        o.infeasible = !o.unbounded && feas.infeasible;
        o.timelimit = feas.timelimit;
        o.nodelimit = feas.nodelimit;
        o.sollimit = feas.sollimit;
        o.iterlimit = feas.iterlimit;
        o.undecided = !o.unbounded && !o.infeasible && !reason.load() && !o.timelimit && !o.nodelimit &&
                      !o.sollimit && !o.iterlimit;
      }
    }
  } catch (const Error &e) {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    return fail(p, e.code, "%s", e.text.c_str());
  } catch (const CoinError &e) {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    out.solvestatus = KRVX_SOLVESTATUS_FAILED;
    return fail(p, kErrSolver, "The solver failed: %s (%s)", e.message().c_str(), e.methodName().c_str());
  }
  out.time = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  out.nodes = o.nodes;
  out.simplexiter = o.iterations;
  const double offset = a.offset;
  const bool feasible = !o.x.empty() && !o.unbounded;
  if (feasible) collectSolution(low, a, o.x, out);
  out.bestbound = bounded(o.bound + offset);
  if (o.unbounded) {
    out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    out.solstatus = KRVX_SOLSTATUS_UNBOUNDED;
    out.mipstatus = kMipUnbounded;
  } else if (o.optimal) {
    out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    out.solstatus = KRVX_SOLSTATUS_OPTIMAL;
    out.mipstatus = kMipOptimal;
  } else if (o.undecided) {
    out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    out.solstatus = KRVX_SOLSTATUS_NOTFOUND;
    out.mipstatus = kMipNoSolFound;
    messageCode(p, kMsgSolve, 3, "The solver could not tell whether the problem is infeasible or unbounded");
  } else if (o.infeasible || (!feasible && !reason.load() && !o.failed && !o.nodelimit && !o.timelimit &&
                              !o.sollimit && !o.iterlimit)) {
    out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    out.solstatus = KRVX_SOLSTATUS_INFEASIBLE;
    out.mipstatus = kMipInfeas;
  } else if (o.failed) {
    out.solvestatus = KRVX_SOLVESTATUS_FAILED;
    out.solstatus = feasible ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND;
    out.stopstatus = kStopNumerical;
    out.mipstatus = feasible ? kMipSolution : kMipNoSolFound;
    messageCode(p, kMsgSolve, 3, "The solver ended without proving optimality or infeasibility");
  } else {
    out.solvestatus = KRVX_SOLVESTATUS_STOPPED;
    out.solstatus = feasible ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND;
    out.stopstatus = reason.load()  ? reason.load()
                     : o.timelimit  ? kStopTimeLimit
                     : o.nodelimit  ? kStopNodeLimit
                     : o.sollimit   ? kStopSolLimit
                     : o.iterlimit  ? kStopIterLimit
                                    : kStopGeneric;
    out.mipstatus = feasible ? kMipSolution : kMipNoSolFound;
  }
  return 0;
}

}  // namespace krvx
