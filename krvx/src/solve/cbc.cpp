#include "solve/cbc.h"
#include "core/directives.h"
#include "core/model.h"

#include "interfaces/highs_c_api.h"

#include <CbcEventHandler.hpp>
#include <CbcHeuristic.hpp>
#include <CbcHeuristicFPump.hpp>
#include <CbcHeuristicLocal.hpp>
#include <CbcModel.hpp>
#include <CbcSimpleInteger.hpp>
#include <CbcSimpleIntegerPseudoCost.hpp>
#include <CglClique.hpp>
#include <CglFlowCover.hpp>
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

// The lowered model as Cbc takes it: semi-continuous and semi-integer columns with a positive
// lower part l (x = 0 or l <= x <= u) become x in [0, u] with a binary z, x <= u z and x >= l z.
struct CbcArrays {
  int sense = 1;
  std::vector<int> start, index;
  std::vector<double> value, collb, colub, obj, rowlb, rowub;
  std::vector<char> integer;
  std::vector<int> owner;   // per column: the lowered column whose directive applies
};

double finiteOr(double v) { return std::isinf(v) ? (v > 0 ? COIN_DBL_MAX : -COIN_DBL_MAX) : v; }

void buildCbcArrays(const ko_prob_struct *p, const CbcModelPlan &plan, CbcArrays &m) {
  const ModelArrays &a = plan.arrays;
  const int n = static_cast<int>(a.cost.size()), nrows = static_cast<int>(a.rowlo.size());
  struct Switch { int col; double lo, up; };
  std::vector<Switch> switches;
  m = CbcArrays();
  m.sense = a.sense;
  for (int j = 0; j < n; ++j) {
    const int type = a.integrality.empty() ? kHighsVarTypeContinuous : a.integrality[j];
    double lo = a.lower[j], up = a.upper[j];
    const bool semi = type == kHighsVarTypeSemiContinuous || type == kHighsVarTypeSemiInteger;
    if (semi && lo > 0.0) {
      if (std::isinf(up))
        raise(kErrUnsupported,
              "Cannot solve this problem with its branching directives: semi-continuous %s has no finite upper "
              "bound",
              j < plan.low.ncols ? ("column '" + objectName(*p, 2, j) + "'").c_str() : "auxiliary column");
      switches.push_back({j, lo, up});
      lo = 0.0;
    } else if (semi) {
      lo = std::min(lo, 0.0);
      up = std::max(up, 0.0);
    }
    m.collb.push_back(finiteOr(lo));
    m.colub.push_back(finiteOr(up));
    m.obj.push_back(a.cost[j]);
    m.integer.push_back(type == kHighsVarTypeInteger || type == kHighsVarTypeSemiInteger);
    m.owner.push_back(j);
  }
  for (int i = 0; i < nrows; ++i) {
    m.rowlb.push_back(finiteOr(a.rowlo[i]));
    m.rowub.push_back(finiteOr(a.rowup[i]));
  }
  // column-wise matrix: each column's entries, then its two switch rows
  std::vector<int> switchOf(size_t(n), -1);
  for (size_t k = 0; k < switches.size(); ++k) switchOf[size_t(switches[k].col)] = static_cast<int>(k);
  for (int j = 0; j < n; ++j) {
    m.start.push_back(static_cast<int>(m.index.size()));
    const int end = j + 1 < n ? a.start[j + 1] : static_cast<int>(a.index.size());
    for (int e = a.start[j]; e < end; ++e) {
      m.index.push_back(a.index[e]);
      m.value.push_back(a.value[e]);
    }
    if (switchOf[size_t(j)] >= 0) {
      const int r = nrows + 2 * switchOf[size_t(j)];
      m.index.insert(m.index.end(), {r, r + 1});
      m.value.insert(m.value.end(), {1.0, 1.0});
    }
  }
  for (size_t k = 0; k < switches.size(); ++k) {
    const Switch &sw = switches[k];
    const int r = nrows + 2 * static_cast<int>(k);
    m.start.push_back(static_cast<int>(m.index.size()));
    m.index.insert(m.index.end(), {r, r + 1});
    m.value.insert(m.value.end(), {-sw.up, -sw.lo});
    m.rowlb.insert(m.rowlb.end(), {-COIN_DBL_MAX, 0.0});   // x - u z <= 0, x - l z >= 0
    m.rowub.insert(m.rowub.end(), {0.0, COIN_DBL_MAX});
    m.collb.push_back(0.0);
    m.colub.push_back(1.0);
    m.obj.push_back(0.0);
    m.integer.push_back(1);
    m.owner.push_back(sw.col);
  }
  m.start.push_back(static_cast<int>(m.index.size()));
}

// Cbc's messages to the problem's message output, one message per line.
class LogHandler : public CoinMessageHandler {
 public:
  explicit LogHandler(ko_prob_struct *p) : p_(p) {}
  CoinMessageHandler *clone() const override { return new LogHandler(*this); }
  int print() override {
    messageCode(p_, kMsgSolverLog, 1, "%s", messageBuffer());
    return 0;
  }

 private:
  ko_prob_struct *p_;
};

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
  bool optimal = false, infeasible = false, unbounded = false, failed = false;
  bool nodelimit = false, timelimit = false, sollimit = false, iterlimit = false;
  std::vector<double> x;   // the best solution, empty when none
  double bound = 0.0;
  int64_t nodes = 0, iterations = 0;
};

// Priority, preferred direction and pseudo costs of every integer object from its column's directive.
void applyBranching(CbcModel &model, const CbcArrays &m, const CbcModelPlan &plan) {
  model.findIntegers(true);
  std::vector<std::unique_ptr<CbcObject>> replaced;
  for (int i = 0; i < model.numberObjects(); ++i) {
    auto *obj = dynamic_cast<CbcSimpleInteger *>(model.modifiableObject(i));
    if (!obj) continue;
    const int col = obj->columnNumber();
    const Directive &d = plan.branching[size_t(m.owner[size_t(col)])];
    const int way = d.dir == 'U' ? 1 : d.dir == 'D' ? -1 : 0;
    obj->setPriority(d.priority);
    obj->setPreferredWay(way);
    if (d.up > 0.0 || d.down > 0.0) {
      // a side left at 0 gets the engine's smallest estimate
      auto pc = std::make_unique<CbcSimpleIntegerPseudoCost>(&model, col, std::max(d.down, 1e-5),
                                                             std::max(d.up, 1e-5));
      pc->setPriority(d.priority);
      pc->setPreferredWay(way);
      replaced.push_back(std::move(pc));
    }
  }
  if (replaced.empty()) return;
  std::vector<CbcObject *> objs;
  for (auto &o : replaced) objs.push_back(o.get());
  model.addObjects(static_cast<int>(objs.size()), objs.data());   // cloned; replaces the columns' objects
}

Outcome branchAndBound(ko_prob_struct *p, const CbcArrays &m, const CbcModelPlan &plan, const RunSettings &s,
                       unsigned mark, std::atomic<int> &reason, bool feasibility) {
  const int ncols = static_cast<int>(m.collb.size()), nrows = static_cast<int>(m.rowlb.size());
  LogHandler log(p);
  OsiClpSolverInterface solver;
  solver.messageHandler()->setLogLevel(0);   // the LP solver's own lines stay quiet
  std::vector<double> zero(feasibility ? size_t(ncols) : 0, 0.0);
  solver.loadProblem(ncols, nrows, m.start.data(), m.index.data(), m.value.data(), m.collb.data(), m.colub.data(),
                     feasibility ? zero.data() : m.obj.data(), m.rowlb.data(), m.rowub.data());
  solver.setObjSense(m.sense);
  for (int j = 0; j < ncols; ++j)
    if (m.integer[size_t(j)]) solver.setInteger(j);
  solver.setDblParam(OsiPrimalTolerance, s.feastol);
  solver.setDblParam(OsiDualTolerance, s.optimalitytol);

  CbcModel model(solver);
  model.passInMessageHandler(&log);
  model.setLogLevel(s.output ? 1 : 0);
  LogHandler lplog(p);   // the LP solver's lines stay quiet
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
  CglFlowCover flow;
  model.addCutGenerator(&probing, -1, "Probing");
  model.addCutGenerator(&gomory, -1, "Gomory");
  model.addCutGenerator(&knapsack, -1, "Knapsack");
  model.addCutGenerator(&clique, -1, "Clique");
  model.addCutGenerator(&mir, -1, "MixedIntegerRounding2");
  model.addCutGenerator(&flow, -1, "FlowCover");
  CbcRounding rounding(model);
  CbcHeuristicLocal local(model);
  CbcHeuristicFPump pump(model);
  model.addHeuristic(&rounding);
  model.addHeuristic(&local);
  model.addHeuristic(&pump);
  applyBranching(model, m, plan);
  // Cbc's dynamic pseudo-cost branching picks the first branch from its strong-branching trials;
  // with directions loaded the classic branching takes each object's preferred way instead
  if (plan.directions) model.setNumberBeforeTrust(0);

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
void collectSolution(const CbcModelPlan &plan, const std::vector<double> &xl, Solution &out) {
  const Lowered &low = plan.low;
  const ModelArrays &a = plan.arrays;
  out.x.assign(xl.begin(), xl.begin() + low.ncols);
  if (low.hasSplit())
    for (int j = 0; j < low.ncols; ++j)
      if (low.split[size_t(j)] >= 0) out.x[size_t(j)] += xl[size_t(low.split[size_t(j)])];
  std::vector<double> activity(size_t(low.nrows), 0.0);
  double obj = a.offset;
  for (int j = 0; j < low.hcols; ++j) {
    obj += a.cost[size_t(j)] * xl[size_t(j)];
    const int end = j + 1 < low.hcols ? a.start[size_t(j) + 1] : static_cast<int>(a.index.size());
    for (int e = a.start[size_t(j)]; e < end; ++e)
      if (a.index[size_t(e)] < low.nrows) activity[size_t(a.index[size_t(e)])] += a.value[size_t(e)] * xl[size_t(j)];
  }
  out.slack.resize(size_t(low.nrows));
  for (int i = 0; i < low.nrows; ++i) out.slack[size_t(i)] = low.rhs[size_t(i)] - activity[size_t(i)];
  out.objval = obj;
  out.has_x = true;
}

}  // namespace

int planCbc(ko_prob_struct *p, const RunSettings &s, CbcModelPlan &plan, bool &use, const char *&ignored) {
  use = false;
  ignored = nullptr;
  if (s.relax || p->dirs.empty()) return 0;
  if (int rc = planLowering(p, plan.low)) return rc;
  const Lowered &low = plan.low;
  if (!low.discrete) return 0;
  if (low.quadratic || low.multiobj) {
    ignored = low.multiobj ? "several objectives" : "a quadratic objective";
    return 0;
  }
  buildArrays(p, low, plan.arrays);
  plan.branching.assign(size_t(low.hcols), Directive());
  for (const Directive &d : p->dirs) {
    if (d.index >= 0) {
      plan.branching[size_t(d.index)] = d;
      continue;
    }
    const auto range = low.reform.setbinaries[size_t(-1 - d.index)];
    for (int j = range.first; j < range.second; ++j) plan.branching[size_t(j)] = d;
  }
  plan.directions = std::any_of(p->dirs.begin(), p->dirs.end(), [](const Directive &d) { return d.dir != 'N'; });
  use = true;
  return 0;
}

int runCbc(ko_prob_struct *p, const CbcModelPlan &plan, const RunSettings &s, Solution &out) {
  out = Solution();
  const auto t0 = std::chrono::steady_clock::now();
  const unsigned mark = sigintCount();
  std::atomic<int> reason{0};
  CbcArrays m;
  Outcome o;
  try {
    {
      std::lock_guard<std::recursive_mutex> lock(p->mtx);   // column names for a refusal
      buildCbcArrays(p, plan, m);
    }
    o = branchAndBound(p, m, plan, s, mark, reason, false);
    if (o.unbounded && !pendingStop(p, mark)) {
      // the relaxation is unbounded: the MIP is unbounded when it has a solution at all
      Outcome feas = branchAndBound(p, m, plan, s, mark, reason, true);
      o.unbounded = !feas.x.empty();
      o.infeasible = feas.infeasible;
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
  const double offset = plan.arrays.offset;
  const bool feasible = !o.x.empty() && !o.unbounded;
  if (feasible) collectSolution(plan, o.x, out);
  out.bestbound = bounded(o.bound + offset);
  if (o.unbounded) {
    out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    out.solstatus = KRVX_SOLSTATUS_UNBOUNDED;
    out.mipstatus = kMipUnbounded;
  } else if (o.optimal) {
    out.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
    out.solstatus = KRVX_SOLSTATUS_OPTIMAL;
    out.mipstatus = kMipOptimal;
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
