// Infeasibility repair: KRVXrepairweightedinfeas, KRVXrepairweightedinfeasbounds, KRVXrepairinfeas.
//
// The relaxation is a private copy of the store with one elastic column per relaxable row side
// (in the row, -1 for the upper side, +1 for the lower one) and, per relaxable bound, a row
// x + t >= lb or x - t <= ub that takes the bound's place. Phase 1 minimises the penalties; phase 2
// puts the original objective back and bounds the penalties by a row (a quadratic row, solved by
// the nonlinear solver, when some penalties are quadratic).
#include "analysis/iis.h"
#include "core/controls.h"
#include "nl/nl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace krvx {
namespace {

constexpr int kRepairOptimal = 0, kRepairInfeasible = 1, kRepairUnbounded = 2, kRepairNotOptimal = 3,
              kRepairError = 4, kRepairNumerical = 5, kRepairFeasible = 6;

struct RepairArgs {
  const double *pref[4];    // lepref, gepref, lbpref, ubpref (null: nothing relaxed)
  const double *limit[4];   // lerelax, gerelax, lbrelax, ubrelax (null: unlimited)
  char phase2 = 'o', penalty = 'c';
  double delta = 0.0;
  std::string flags;
};

struct Elastic {
  int col;        // in the relaxation
  double weight;  // per unit, or per squared unit
  bool quadratic;
  bool rowside;   // relaxes a row side (index = row) or a bound (index = column)
  int index;
  char letter;    // the row's letter, or L / U
};

// Checks an array argument: absent, or count entries, finite (preferences) or not NaN (limits,
// where an infinite one is no limit). Returns its data or null.
const double *arrayArg(const double *v, int64_t n, int64_t count, const char *name, bool finite) {
  checkPair(v, n, name);
  if (n == 0) return nullptr;
  if (n != count)
    raise(kErrInvalid, "argument '%s' has %lld entries; it needs %lld (one per %s) or none", name, (long long)n,
          (long long)count, name[0] == 'l' && name[1] == 'b' ? "column" : name[0] == 'u' ? "column" : "row");
  if (finite) checkFinite(v, n, name);
  else checkNotNaN(v, n, name);
  return v;
}

double scalePow(const std::vector<int> &scale, size_t i, double sign) {
  return i < scale.size() ? std::ldexp(1.0, int(sign) * scale[i]) : 1.0;
}

// Builds the relaxation of s (objective kept) and lists its elastic columns.
std::unique_ptr<ko_prob_struct> buildRelaxation(const ko_prob_struct &s, const RepairArgs &r, std::vector<Elastic> &el) {
  auto d = copyModel(s);
  const size_t nrows = s.rows.size(), ncols = s.cols.size();
  auto addElastic = [&](double pref, double scale, double limit, bool rowside, int index, char letter,
                        const std::vector<Entry> &coefs) {
    Column c;
    c.lb = 0.0;
    c.ub = limit > 0 ? limit : kInf;
    const double w = scale / std::fabs(pref);
    const int col = int(d->cols.size());
    d->cols.push_back(c);
    d->matrix.appendColumn(coefs.data(), coefs.size());
    el.push_back({col, w, pref < 0, rowside, index, letter});
  };
  for (size_t i = 0; i < nrows; ++i) {
    const char t = s.rows[i].type;
    const double scale = r.penalty == 's' ? scalePow(s.rowscale, i, 1.0) : 1.0;
    const bool upper = t == 'L' || t == 'E' || t == 'R', lower = t == 'G' || t == 'E' || t == 'R';
    if (upper && r.pref[0] && r.pref[0][i] != 0.0)
      addElastic(r.pref[0][i], scale, r.limit[0] ? r.limit[0][i] : 0.0, true, int(i), t == 'R' ? 'L' : t,
                 {{int(i), -1.0}});
    if (lower && r.pref[1] && r.pref[1][i] != 0.0)
      addElastic(r.pref[1][i], scale, r.limit[1] ? r.limit[1][i] : 0.0, true, int(i), t == 'R' ? 'G' : t,
                 {{int(i), 1.0}});
  }
  for (size_t j = 0; j < ncols; ++j) {
    const double scale = r.penalty == 's' ? scalePow(s.colscale, j, -1.0) : 1.0;
    for (int side = 0; side < 2; ++side) {
      const double *pref = r.pref[2 + side];
      if (!pref || pref[j] == 0.0) continue;
      const bool lowerSide = side == 0;
      Column &c = d->cols[j];   // (elastic columns are appended below)
      const double bound = lowerSide ? c.lb : c.ub;
      if (isInf(bound) || c.type == 'B' || (lowerSide && c.type != 'C' && c.type != 'I')) continue;
      const double limit = r.limit[2 + side] ? r.limit[2 + side][j] : 0.0;
      // the bound becomes the row x + t >= lb (x - t <= ub)
      Row row;
      row.type = lowerSide ? 'G' : 'L';
      row.rhs = bound;
      const int ri = int(d->rows.size());
      d->rows.push_back(row);
      d->matrix.entries(int(j)).push_back({ri, 1.0});
      if (lowerSide) c.lb = limit > 0 ? bound - limit : -kInf;
      else c.ub = limit > 0 ? bound + limit : kInf;
      addElastic(pref[j], scale, limit, false, int(j), lowerSide ? 'L' : 'U', {{ri, lowerSide ? 1.0 : -1.0}});
    }
  }
  return d;
}

double penaltyOf(const std::vector<Elastic> &el, const std::vector<double> &x) {
  double v = 0.0;
  for (const Elastic &e : el) {
    const double s = x[size_t(e.col)];
    v += e.quadratic ? e.weight * s * s : e.weight * s;
  }
  return v;
}

// A solver's optimum without the values of every column (HiGHS can call a point optimal whose
// unscaled infeasibilities it rejects) counts as numerical trouble.
int statusOfSolve(int rc, const Solution &out, size_t ncols) {
  if (rc) return kRepairError;
  if (out.solvestatus == KRVX_SOLVESTATUS_STOPPED) return kRepairNotOptimal;
  switch (out.solstatus) {
    case KRVX_SOLSTATUS_OPTIMAL: return out.has_x && out.x.size() >= ncols ? kRepairOptimal : kRepairNumerical;
    case KRVX_SOLSTATUS_INFEASIBLE: return kRepairInfeasible;
    case KRVX_SOLSTATUS_UNBOUNDED: return kRepairUnbounded;
    default: return kRepairNumerical;
  }
}

// The repaired solution in the problem's terms: its columns and rows, the original objective.
Solution repairedSolution(const ko_prob_struct &s, const Solution &out, double penalty) {
  Solution sol = out;
  const size_t ncols = s.cols.size(), nrows = s.rows.size();
  sol.x.resize(ncols);
  sol.slack.assign(nrows, 0.0);
  std::vector<double> act(nrows, 0.0);
  double obj = s.objconst;
  for (size_t j = 0; j < ncols; ++j) {
    obj += s.cols[j].cost * sol.x[j];
    for (const Entry e : s.matrix.col(int(j))) act[size_t(e.index)] += e.value * sol.x[j];
  }
  for (const QTerm &q : s.qobj) obj += (q.i == q.j ? 0.5 : 1.0) * q.value * sol.x[size_t(q.i)] * sol.x[size_t(q.j)];
  for (size_t i = 0; i < nrows; ++i) sol.slack[i] = s.rows[i].rhs - act[i];
  sol.objval = obj;
  if (sol.has_duals) {
    sol.duals.resize(nrows);
    sol.djs.resize(ncols);
  }
  sol.colstat.clear();
  sol.rowstat.clear();
  sol.penaltyvalue = penalty;
  return sol;
}

bool isMip(const ko_prob_struct &s) {
  if (!s.sets.empty()) return true;
  for (const Column &c : s.cols)
    if (c.type != 'C') return true;
  return false;
}

// The statuses of a repair that ended without the second phase's optimum: stopped for the reason
// stop, or (stop 0) ended by numerical trouble. With have, sol holds a point within the allowance.
void unfinished(Solution &sol, bool have, int stop, bool mip) {
  sol.solvestatus = stop ? KRVX_SOLVESTATUS_STOPPED : KRVX_SOLVESTATUS_FAILED;
  sol.stopstatus = stop ? stop : kStopNumerical;
  sol.solstatus = have ? KRVX_SOLSTATUS_FEASIBLE : KRVX_SOLSTATUS_NOTFOUND;
  sol.lpstatus = mip ? kLpUnstarted : kLpUnfinished;
  sol.mipstatus = mip ? (have ? kMipSolution : kMipNoSolFound) : 0;
}

// IISs of an infeasible relaxation, in the problem's terms: the elastic columns' lower bounds are
// no members; their limits and the rows replacing bounds stand for what they relax.
int relaxationIis(const Analysis &a, ko_prob_struct *p, std::unique_ptr<ko_prob_struct> relaxed,
                  const std::vector<Elastic> &el, bool all, size_t nrows, size_t ncols) {
  auto st = std::make_shared<IisState>();
  std::vector<const Elastic *> byCol(relaxed->cols.size(), nullptr), byRow(relaxed->rows.size(), nullptr);
  for (const Elastic &e : el) {
    byCol[size_t(e.col)] = &e;
    if (!e.rowside) byRow[size_t(relaxed->matrix.col(e.col).back().index)] = &e;
  }
  for (Member m : membersOf(*relaxed)) {
    if (m.rowside && m.kind == MemberKind::Row && size_t(m.index) >= nrows) {
      const Elastic *e = byRow[size_t(m.index)];
      m = {m.kind, m.index, e->letter, false, e->index};
    } else if (m.rowside && size_t(m.report) >= nrows) {
      m.report -= int(relaxed->rows.size() - nrows);   // sets, pwl, gencons follow the problem's rows
    } else if (!m.rowside && size_t(m.index) >= ncols) {
      const Elastic *e = byCol[size_t(m.index)];
      if (m.kind != MemberKind::Upper) continue;   // 0 <= elastic: structural
      m.rowside = e->rowside;
      m.report = e->index;
      m.letter = e->letter;
    }
    st->members.push_back(m);
  }
  st->base = std::move(relaxed);
  int status = kIisError;
  if (int rc = iisFirst(a, *st, 1, status)) return rc;
  int64_t maxiis;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    maxiis = ctlInt(p, KRVX_MAXIIS);
  }
  while (all && status == kIisFound && (maxiis < 0 || int64_t(st->found.size()) < maxiis))
    if (int rc = iisNext(a, *st, status)) return rc;
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  p->iis = st;
  return 0;
}

int repair(ko_prob_struct *p, int *status, const RepairArgs &args, const int64_t *sizes) {
  SolveScope scope;
  std::unique_ptr<Analysis> an;
  std::unique_ptr<ko_prob_struct> relaxed;
  std::vector<Elastic> el;
  size_t nrows, ncols;
  RunSettings flagged;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    if (!status) return fail(p, kErrInvalid, "argument 'status' is NULL");
    if (!std::strchr("oxnfia", args.phase2) || !args.phase2)
      return fail(p, kErrInvalid, "invalid phase2 '%c' (o, x, n, f, i or a)", args.phase2 > 32 ? args.phase2 : '?');
    if (args.penalty != 'c' && args.penalty != 's')
      return fail(p, kErrInvalid, "invalid penalty '%c' (c or s)", args.penalty > 32 ? args.penalty : '?');
    if (std::isnan(args.delta) || std::isinf(args.delta)) return fail(p, kErrInvalid, "delta must be a finite number");
    nrows = p->rows.size();
    ncols = p->cols.size();
    RepairArgs r = args;
    static const char *const names[8] = {"lepref", "gepref", "lbpref", "ubpref",
                                         "lerelax", "gerelax", "lbrelax", "ubrelax"};
    try {
      for (int k = 0; k < 4; ++k) {
        const int64_t count = int64_t(k < 2 ? nrows : ncols);
        r.pref[k] = arrayArg(args.pref[k], sizes[k], count, names[k], true);
        r.limit[k] = arrayArg(args.limit[k], sizes[4 + k], count, names[4 + k], false);
      }
    } catch (const Error &e) {
      return fail(p, e.code, "%s", e.text.c_str());
    }
    flagged = settingsFromControls(p);
    // blanks are no flags: the one-character form takes " " for none
    std::string flags = args.flags;
    flags.erase(std::remove(flags.begin(), flags.end(), ' '), flags.end());
    if (int rc = applyFlags(p, flags.c_str(), "bpdn", flagged)) return rc;
    for (const auto &q : p->qrows)
      if (!q.empty()) return fail(p, kErrUnsupported, "Cannot repair this problem: it has quadratic constraints");
    if (nlHasFormulas(p)) return fail(p, kErrUnsupported, "Cannot repair this problem: it has nonlinear formulas");
    if (int rc = scope.begin(p)) return rc;
    relaxed = buildRelaxation(*p, r, el);
    an = std::make_unique<Analysis>(p);
    an->setAlgorithm(flagged.alg);
  }
  *status = kRepairError;
  const Analysis &a = *an;
  // phase 1: the penalties alone
  auto one = copyModel(*relaxed);
  zeroObjective(*one);
  for (const Elastic &e : el) {
    if (e.quadratic) one->qobj.push_back({e.col, e.col, 2.0 * e.weight});
    else one->cols[size_t(e.col)].cost = e.weight;
  }
  Solution out1;
  int rc = a.solve(*one, out1);
  int stop = a.stopReason() ? a.stopReason() : out1.solvestatus == KRVX_SOLVESTATUS_STOPPED ? out1.stopstatus : 0;
  int st = stop ? kRepairNotOptimal : statusOfSolve(rc, out1, one->cols.size());
  std::string why;
  Solution final;
  bool have = false;
  if (st == kRepairOptimal) {
    const double p1 = penaltyOf(el, out1.x);
    final = repairedSolution(*p, out1, p1);
    have = true;
    const char ph = args.phase2;
    if (ph == 'i' || ph == 'a') {
      st = kRepairFeasible;
    } else if (ph != 'f') {
      // phase 2: the original objective, penalties within the allowance
      auto two = copyModel(*relaxed);
      if (ph == 'x') two->objsense = -1;
      if (ph == 'n') two->objsense = 1;
      const double allowed = args.delta >= 0 ? (1.0 + args.delta) * p1 : p1 - args.delta;
      Row cap;
      cap.type = 'L';
      cap.rhs = allowed;
      const int ri = int(two->rows.size());
      two->rows.push_back(cap);
      std::vector<QTerm> q;
      for (const Elastic &e : el) {
        if (e.quadratic) q.push_back({e.col, e.col, e.weight});
        else two->matrix.entries(e.col).push_back({ri, e.weight});
      }
      if (!q.empty()) {
        two->qrows.resize(two->rows.size());
        two->qrows[size_t(ri)] = std::move(q);
      }
      Solution out2;
      rc = a.solve(*two, out2);
      stop = a.stopReason() ? a.stopReason() : out2.solvestatus == KRVX_SOLVESTATUS_STOPPED ? out2.stopstatus : 0;
      const int st2 = stop ? kRepairNotOptimal : statusOfSolve(rc, out2, two->cols.size());
      if (st2 == kRepairOptimal) {
        final = repairedSolution(*p, out2, penaltyOf(el, out2.x));
      } else {
        if (rc) why = "phase 2: " + lastErrorText(p);
        if (out2.has_x && out2.x.size() >= two->cols.size())
          final = repairedSolution(*p, out2, penaltyOf(el, out2.x));
        st = st2 == kRepairError ? kRepairError : kRepairNotOptimal;
        unfinished(final, true, stop, isMip(*p));
      }
    }
  } else if (st == kRepairInfeasible && (args.phase2 == 'i' || args.phase2 == 'a')) {
    zeroObjective(*relaxed);
    if (relaxationIis(a, p, std::move(relaxed), el, args.phase2 == 'a', nrows, ncols) != 0) {
      st = kRepairError;
      why = "IIS of the relaxation: " + lastErrorText(p);
    }
  } else if (rc) {
    why = lastErrorText(p);
  }
  if (!have && st == kRepairNotOptimal) unfinished(final, false, stop, isMip(*p));
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    p->sol = std::move(final);
    scope.end();
  }
  *status = st;
  if (st == kRepairError)
    messageCode(p, kMsgSolve, 3, "The repair ended with an error%s%s", why.empty() ? "" : ": ", why.c_str());
  else if (st == kRepairNotOptimal && stop)
    messageCode(p, kMsgSolve, 3, "The repair was stopped by %s",
                stop == kStopTimeLimit   ? "the time limit"
                : stop == kStopIterLimit ? "the iteration limit"
                                         : "an interrupt");
  else if (st == kRepairNotOptimal)
    messageCode(p, kMsgSolve, 3, "The repair's second phase ended without an optimum; the solution is a point "
                                 "of the relaxation within the allowance");
  return 0;
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXrepairweightedinfeasbounds_witharraysizes(KRVXprob prob, int *status,
    const double *lepref, int64_t lepref_n, const double *gepref, int64_t gepref_n, const double *lbpref,
    int64_t lbpref_n, const double *ubpref, int64_t ubpref_n, const double *lerelax, int64_t lerelax_n,
    const double *gerelax, int64_t gerelax_n, const double *lbrelax, int64_t lbrelax_n, const double *ubrelax,
    int64_t ubrelax_n, char phase2, double delta, const char *flags) {
  return shielded(prob, __func__, [&] {
    RepairArgs a{{lepref, gepref, lbpref, ubpref}, {lerelax, gerelax, lbrelax, ubrelax}, phase2, 'c', delta,
                 flags ? flags : ""};
    const int64_t sizes[8] = {lepref_n, gepref_n, lbpref_n, ubpref_n, lerelax_n, gerelax_n, lbrelax_n, ubrelax_n};
    return repair(prob, status, a, sizes);
  });
}

extern "C" KRVX_API int KRVXrepairweightedinfeas_witharraysizes(KRVXprob prob, int *status, const double *lepref,
    int64_t lepref_n, const double *gepref, int64_t gepref_n, const double *lbpref, int64_t lbpref_n,
    const double *ubpref, int64_t ubpref_n, char phase2, double delta, const char *flags) {
  return KRVXrepairweightedinfeasbounds_witharraysizes(prob, status, lepref, lepref_n, gepref, gepref_n, lbpref,
                                                       lbpref_n, ubpref, ubpref_n, nullptr, 0, nullptr, 0, nullptr,
                                                       0, nullptr, 0, phase2, delta, flags);
}

extern "C" KRVX_API int KRVXrepairinfeas(KRVXprob prob, int *status, char penalty, char phase2, char flags,
                                         double lepref, double gepref, double lbpref, double ubpref, double delta) {
  return shielded(prob, __func__, [&] {
    std::vector<double> pref[4];
    {
      std::lock_guard<std::recursive_mutex> lock(prob->mtx);
      const double v[4] = {lepref, gepref, lbpref, ubpref};
      static const char *const names[4] = {"lepref", "gepref", "lbpref", "ubpref"};
      for (int k = 0; k < 4; ++k) {
        if (!(std::fabs(v[k]) < kInf))
          return fail(prob, kErrInvalid, "argument '%s' is %g; a preference must be a finite number", names[k], v[k]);
        pref[k].assign(k < 2 ? prob->rows.size() : prob->cols.size(), v[k]);
      }
    }
    RepairArgs a{{pref[0].data(), pref[1].data(), pref[2].data(), pref[3].data()},
                 {nullptr, nullptr, nullptr, nullptr},
                 phase2,
                 penalty,
                 delta,
                 flags == 0 ? std::string() : std::string(1, flags)};
    const int64_t sizes[8] = {int64_t(pref[0].size()), int64_t(pref[1].size()), int64_t(pref[2].size()),
                              int64_t(pref[3].size()), 0, 0, 0, 0};
    return repair(prob, status, a, sizes);
  });
}
