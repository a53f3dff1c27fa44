// The IIS search: KRVXiisfirst, KRVXiisnext, KRVXiisall, KRVXiisclear.
//
// IIS 0 is the support of the Farkas multipliers of an elastic phase 1 over the continuous part
// (every member when that part is feasible but the problem is not); on a continuous problem with a
// row whose columns' bounds keep it from its side, that side with those bounds is IIS 0 and IIS 1
// at once, without solves. An IIS comes from a deletion
// filter over solves of subsystems: a member whose removal leaves the rest infeasible is dropped,
// so every member kept is needed. Further IISs come from a hitting-set tree: each branch drops one
// member of every IIS found so far, and the rest, when infeasible, holds an IIS not found before;
// when every branch is feasible (or holds a known IIS) all IISs have been found.
#include "analysis/iis.h"
#include "core/controls.h"
#include "nl/nl.h"

#include <algorithm>
#include <cmath>

namespace krvx {

namespace {

int statusOf(Verdict v) { return v == Verdict::Stopped ? kIisStopped : kIisError; }

// The record of the members marked in keep, with the certificate of its continuous part.
Verdict record(const Analysis &a, const IisState &st, const std::vector<char> &keep, IisRecord &rec) {
  PhaseOne r = phaseOne(a, *st.base, st.members, keep);
  if (r.verdict == Verdict::Stopped || r.verdict == Verdict::Failed) return r.verdict;
  rec = IisRecord();
  for (size_t k = 0; k < keep.size(); ++k)
    if (keep[k]) {
      rec.members.push_back(int(k));
      rec.mult.push_back(r.verdict == Verdict::Infeasible && r.valid ? r.mult[k] : 0.0);
    }
  rec.isolation.assign(rec.members.size(), -1);
  if (r.verdict == Verdict::Infeasible) {
    rec.suminf = r.suminf;
    rec.numinf = r.numinf;
  }
  return Verdict::Infeasible;
}

// Deletion filter from the infeasible subsystem keep. Mode 1 tries the members with the smallest
// multipliers first (weight per member, may be empty); mode 2 on continuous problems shrinks to
// the support of each certificate it meets.
Verdict reduce(const Analysis &a, const IisState &st, std::vector<char> keep, const std::vector<double> &weight,
               IisRecord &rec) {
  const ko_prob_struct &s = *st.base;
  const bool continuous = isContinuous(s);
  std::vector<int> order;
  for (size_t k = 0; k < keep.size(); ++k)
    if (keep[k]) order.push_back(int(k));
  if (st.mode == 1 && !weight.empty())
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
      return std::fabs(weight[size_t(x)]) < std::fabs(weight[size_t(y)]);
    });
  for (int m : order) {
    if (!keep[size_t(m)]) continue;
    keep[size_t(m)] = 0;
    if (continuous && st.mode == 2) {
      PhaseOne t = farkasRay(a, s, st.members, keep);
      if (t.verdict == Verdict::Infeasible) {
        if (t.valid)
          for (size_t k = 0; k < keep.size(); ++k)
            if (t.mult[k] == 0.0) keep[k] = 0;
        continue;
      }
      if (t.verdict != Verdict::Feasible) return t.verdict == Verdict::Stopped ? t.verdict : Verdict::Failed;
      keep[size_t(m)] = 1;
      continue;
    }
    const Verdict v = testFeasible(a, s, st.members, keep);
    if (v == Verdict::Infeasible) continue;
    if (v == Verdict::Stopped || v == Verdict::Failed) return v;
    keep[size_t(m)] = 1;   // feasible without it, or not solvable without it: needed
  }
  return record(a, st, keep, rec);
}

// Shrinks an infeasible subsystem to the support of a dual ray's certificate when that is smaller
// (its multipliers become the weights).
Verdict sparsen(const Analysis &a, const IisState &st, std::vector<char> &keep, std::vector<double> &weight) {
  PhaseOne t = farkasRay(a, *st.base, st.members, keep);
  if (t.verdict == Verdict::Stopped) return t.verdict;
  if (t.verdict != Verdict::Infeasible || !t.valid) return Verdict::Infeasible;
  size_t before = 0, after = 0;
  for (size_t k = 0; k < keep.size(); ++k) {
    before += keep[k] != 0;
    after += keep[k] && t.mult[k] != 0.0;
  }
  if (after < before) {
    for (size_t k = 0; k < keep.size(); ++k)
      if (t.mult[k] == 0.0) keep[k] = 0;
    weight = t.mult;
  }
  return Verdict::Infeasible;
}

void expand(IisState &st, const std::vector<int> &path, const IisRecord &rec) {
  for (int m : rec.members) {
    std::vector<int> child(path);
    child.insert(std::upper_bound(child.begin(), child.end(), m), m);
    if (st.seen.insert(child).second) st.queue.push_back(std::move(child));
  }
}

bool disjoint(const std::vector<int> &a, const std::vector<int> &b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i] == b[j]) return false;
    if (a[i] < b[j]) ++i;
    else ++j;
  }
  return true;
}

// The first IIS, from IIS 0.
int firstFromInitial(const Analysis &a, IisState &st, int &status) {
  std::vector<char> keep(st.members.size(), 0);
  for (int m : st.initial.members) keep[size_t(m)] = 1;
  std::vector<double> weight(st.members.size(), 0.0);
  for (size_t k = 0; k < st.initial.members.size(); ++k) weight[size_t(st.initial.members[k])] = st.initial.mult[k];
  IisRecord rec;
  const Verdict v = reduce(a, st, keep, weight, rec);
  if (v != Verdict::Infeasible) {
    status = statusOf(v);
    return 0;
  }
  st.found.push_back(std::move(rec));
  expand(st, {}, st.found.back());
  status = kIisFound;
  return 0;
}

}  // namespace

int iisFirst(const Analysis &a, IisState &st, int mode, int &status) {
  st.mode = mode == 0 ? 1 : mode;
  st.hasInitial = false;
  st.initial = IisRecord();
  st.found.clear();
  st.queue.clear();
  st.seen.clear();
  st.feasible.clear();
  st.incomplete = false;
  // a row that its columns' bounds keep from its side: that IIS at once, as IIS 0 and IIS 1
  std::vector<char> direct;
  const PhaseOne d = a.stopReason() ? PhaseOne() : rowAgainstBounds(*st.base, st.members, a.settings().feastol, direct);
  if (d.verdict == Verdict::Infeasible) {
    IisRecord &rec = st.initial;
    for (size_t k = 0; k < direct.size(); ++k)
      if (direct[k]) {
        rec.members.push_back(int(k));
        rec.mult.push_back(d.mult[k]);
      }
    rec.isolation.assign(rec.members.size(), -1);
    rec.suminf = d.suminf;
    rec.numinf = d.numinf;
    st.hasInitial = true;
    status = kIisFound;
    if (mode == 0) return 0;
    st.found.push_back(rec);
    expand(st, {}, st.found.back());
    return 0;
  }
  const std::vector<char> all(st.members.size(), 1);
  PhaseOne r = phaseOne(a, *st.base, st.members, all);
  if (r.verdict == Verdict::Stopped || r.verdict == Verdict::Failed || r.verdict == Verdict::Unsolvable) {
    status = r.verdict == Verdict::Stopped ? kIisStopped : kIisError;
    return 0;
  }
  IisRecord &init = st.initial;
  if (r.verdict == Verdict::Infeasible) {
    std::vector<char> keep(all.size(), 0);
    std::vector<double> weight = r.valid ? r.mult : std::vector<double>(all.size(), 0.0);
    for (size_t k = 0; k < all.size(); ++k) keep[k] = !r.valid || r.mult[k] != 0.0;
    if (sparsen(a, st, keep, weight) == Verdict::Stopped) {
      status = kIisStopped;
      return 0;
    }
    for (size_t k = 0; k < all.size(); ++k)
      if (keep[k]) {
        init.members.push_back(int(k));
        init.mult.push_back(weight[k]);
      }
    init.suminf = r.suminf;
    init.numinf = r.numinf;
  } else {
    if (isContinuous(*st.base)) {
      status = kIisNone;
      return 0;
    }
    const Verdict v = testFeasible(a, *st.base, st.members, all);
    if (v == Verdict::Unsolvable) return kErrUnsupported;   // the lowering's text is set
    if (v != Verdict::Infeasible) {
      status = v == Verdict::Feasible ? kIisNone : statusOf(v);
      return 0;
    }
    for (size_t k = 0; k < all.size(); ++k) init.members.push_back(int(k));
    init.mult.assign(all.size(), 0.0);
  }
  init.isolation.assign(init.members.size(), -1);
  st.hasInitial = true;
  if (mode == 0) {
    status = kIisFound;
    return 0;
  }
  return firstFromInitial(a, st, status);
}

int iisNext(const Analysis &a, IisState &st, int &status) {
  if (!st.hasInitial) return iisFirst(a, st, st.mode, status);
  if (st.found.empty()) return firstFromInitial(a, st, status);
  const ko_prob_struct &s = *st.base;
  const bool continuous = isContinuous(s);
  while (!st.queue.empty()) {
    const std::vector<int> path = st.queue.front();
    bool known = false;
    for (const std::vector<int> &f : st.feasible)
      if (std::includes(path.begin(), path.end(), f.begin(), f.end())) known = true;
    if (known) {
      st.queue.pop_front();
      continue;
    }
    const IisRecord *held = nullptr;
    for (const IisRecord &r : st.found)
      if (disjoint(r.members, path)) {
        held = &r;
        break;
      }
    if (held) {
      st.queue.pop_front();
      expand(st, path, *held);
      continue;
    }
    std::vector<char> keep(st.members.size(), 1);
    for (int m : path) keep[size_t(m)] = 0;
    std::vector<double> weight;
    Verdict v;
    if (continuous) {
      PhaseOne r = phaseOne(a, s, st.members, keep);
      v = r.verdict;
      if (v == Verdict::Infeasible && r.valid) {
        for (size_t k = 0; k < keep.size(); ++k)
          if (r.mult[k] == 0.0) keep[k] = 0;
        weight = r.mult;
        if (sparsen(a, st, keep, weight) == Verdict::Stopped) v = Verdict::Stopped;
      }
    } else {
      v = testFeasible(a, s, st.members, keep);
    }
    if (v == Verdict::Feasible || v == Verdict::Unsolvable) {
      if (v == Verdict::Unsolvable) st.incomplete = true;
      st.feasible.push_back(path);
      st.queue.pop_front();
      continue;
    }
    if (v != Verdict::Infeasible) {
      status = statusOf(v);
      return 0;
    }
    IisRecord rec;
    v = reduce(a, st, keep, weight, rec);
    if (v != Verdict::Infeasible) {
      status = statusOf(v);
      return 0;
    }
    st.queue.pop_front();
    st.found.push_back(std::move(rec));
    expand(st, path, st.found.back());
    status = kIisFound;
    return 0;
  }
  status = kIisNone;
  return 0;
}

const IisRecord &iisRecord(const ko_prob_struct *p, int num) {
  if (p->solving.load()) raise(kErrBusy, "the problem is being solved or analysed");
  const IisState *st = p->iis.get();
  if (!st || !st->hasInitial) raise(kErrInvalid, "no IIS search has found an infeasible subsystem (or the problem changed since)");
  if (num < 0 || size_t(num) > st->found.size())
    raise(kErrInvalid, "IIS %d does not exist (IIS 0 and %zu IISs found)", num, st->found.size());
  return num == 0 ? st->initial : st->found[size_t(num) - 1];
}

namespace {

// A stopped step shows in the problem's solve status and stop status; the statuses it replaced
// come back when a later step is not stopped or the search is dropped, unless a solve has set
// others since. Mutex held.
void hideStop(ko_prob_struct *p, IisState *st) {
  if (!st || !st->shown) return;
  Solution &sol = p->sol;
  if (sol.solvestatus == KRVX_SOLVESTATUS_STOPPED && sol.stopstatus == st->shownStop &&
      sol.solstatus == st->shownSol && sol.objval == st->shownObj) {
    sol.solvestatus = st->savedSolve;
    sol.stopstatus = st->savedStop;
  }
  st->shown = false;
}

void showStop(ko_prob_struct *p, IisState &st, int reason) {
  Solution &sol = p->sol;
  if (!st.shown) {
    st.savedSolve = sol.solvestatus;
    st.savedStop = sol.stopstatus;
  }
  sol.solvestatus = KRVX_SOLVESTATUS_STOPPED;
  sol.stopstatus = reason;
  st.shown = true;
  st.shownStop = reason;
  st.shownSol = sol.solstatus;
  st.shownObj = sol.objval;
}

const char *stopText(int reason) { return reason == kStopTimeLimit ? "the time limit" : "an interrupt"; }

// Runs a search step on the problem's search (a new one when fresh or none exists): the store is
// copied under the mutex, the solves run without it inside a SolveScope, and the results are
// published at the end (a stop also in the solve statuses). Messages say why a search ended in
// error or was stopped.
template <class F>
int runSearch(ko_prob_struct *p, bool fresh, int *status, F &&step) {
  SolveScope scope;
  std::shared_ptr<IisState> st;
  std::unique_ptr<Analysis> an;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    if (int rc = scope.begin(p)) return rc;
    for (const auto &q : p->qrows)
      if (!q.empty())
        return fail(p, kErrUnsupported, "Cannot analyse this problem: it has quadratic constraints (IIS analysis "
                                        "handles linear constraints, bounds and entities)");
    if (nlHasFormulas(p))
      return fail(p, kErrUnsupported, "Cannot analyse this problem: it has nonlinear formulas (IIS analysis "
                                      "handles linear constraints, bounds and entities)");
    st = fresh ? nullptr : p->iis;
    if (!st) {
      st = std::make_shared<IisState>();
      st->base = copyModel(*p);
      st->members = membersOf(*st->base);
    }
    an = std::make_unique<Analysis>(p);
  }
  int s = kIisError;
  const int rc = step(*an, *st, s);
  const int stop = an->stopReason();
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    if (p->iis != st) hideStop(p, p->iis.get());
    if (rc == 0 && s == kIisStopped) showStop(p, *st, stop ? stop : kStopGeneric);
    else hideStop(p, st.get());
    p->iis = rc == 0 ? st : nullptr;
    scope.end();
  }
  if (rc) return rc;
  if (status) *status = s;
  const size_t n = st->found.size();
  if (s == kIisError)
    messageCode(p, kMsgSolve, 3, "The IIS search ended with an error after %zu IIS(s): %s", n, lastErrorText(p).c_str());
  else if (s == kIisStopped)
    messageCode(p, kMsgSolve, 3, "The IIS search was stopped by %s after %zu IIS(s)", stopText(stop), n);
  else if (s == kIisNone && st->incomplete)
    messageCode(p, kMsgSolve, 3, "Some subproblems of the IIS search could not be solved: further IISs may exist");
  return 0;
}

int requireStatus(ko_prob_struct *p, const int *status, const char *fn) {
  if (status) return 0;
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  return fail(p, kErrInvalid, "%s: argument 'status' is NULL", fn);
}

}  // namespace

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXiisclear(KRVXprob prob) {
  return guard(prob, "KRVXiisclear", [&] {
    requireIdle(prob);
    hideStop(prob, prob->iis.get());
    prob->iis.reset();
  });
}

extern "C" KRVX_API int KRVXiisfirst(KRVXprob prob, int mode, int *status) {
  return shielded(prob, __func__, [&] {
    if (int rc = requireStatus(prob, status, __func__)) return rc;
    if (mode < 0 || mode > 2) {
      std::lock_guard<std::recursive_mutex> lock(prob->mtx);
      return fail(prob, kErrInvalid,
                  "KRVXiisfirst: invalid mode %d (0 the initial infeasible subproblem only, 1 a small IIS, 2 a "
                  "fast IIS)",
                  mode);
    }
    return runSearch(prob, true, status,
                     [&](const Analysis &a, IisState &st, int &s) { return iisFirst(a, st, mode, s); });
  });
}

extern "C" KRVX_API int KRVXiisnext(KRVXprob prob, int *status) {
  return shielded(prob, __func__, [&] {
    if (int rc = requireStatus(prob, status, __func__)) return rc;
    return runSearch(prob, false, status, [&](const Analysis &a, IisState &st, int &s) { return iisNext(a, st, s); });
  });
}

extern "C" KRVX_API int KRVXiisall(KRVXprob prob) {
  return shielded(prob, __func__, [&] {
    int64_t maxiis = -1;
    {
      std::lock_guard<std::recursive_mutex> lock(prob->mtx);
      maxiis = ctlInt(prob, KRVX_MAXIIS);
    }
    return runSearch(prob, true, nullptr, [&](const Analysis &a, IisState &st, int &s) {
      // the set of all IISs does not depend on the mode: the fast one
      if (int rc = iisFirst(a, st, maxiis == 0 ? 0 : 2, s)) return rc;
      while (s == kIisFound && (maxiis < 0 || int64_t(st.found.size()) < maxiis))
        if (int rc = iisNext(a, st, s)) return rc;
      return 0;
    });
  });
}
