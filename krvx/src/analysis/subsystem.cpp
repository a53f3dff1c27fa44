#include "analysis/subsystem.h"
#include "core/controls.h"
#include "core/model.h"
#include "nl/nlpsolve.h"
#include "solve/engine_load.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace krvx {

namespace {

bool hasLowerSide(char t) { return t == 'G' || t == 'E' || t == 'R'; }
bool hasUpperSide(char t) { return t == 'L' || t == 'E' || t == 'R'; }


bool indicatorRow(const ko_prob_struct &s, size_t i) {
  return i < s.indicators.size() && s.indicators[i].col >= 0 && s.indicators[i].complement != 0;
}

template <class T>
void eraseMarked(std::vector<T> &v, const std::vector<char> &gone) {
  size_t out = 0;
  for (size_t k = 0; k < v.size(); ++k)
    if (k >= gone.size() || !gone[k]) {
      if (out != k) v[out] = std::move(v[k]);
      ++out;
    }
  v.resize(out);
}

void eraseMarkedNames(ko_prob_struct &s, int kind, const std::vector<char> &gone) {
  eraseMarked(s.names[kind].names, gone);
  s.names[kind].index.clear();
}

// Positions of the bound and type members of each column among the kept members.
struct ColumnMembers { int lower = -1, upper = -1, type = -1; };

std::vector<ColumnMembers> columnMembers(size_t ncols, const std::vector<Member> &members,
                                         const std::vector<char> &keep) {
  std::vector<ColumnMembers> cm(ncols);
  for (size_t k = 0; k < members.size(); ++k) {
    if (!keep[k]) continue;
    const Member &m = members[k];
    ColumnMembers &c = cm[size_t(m.index)];
    switch (m.kind) {
      case MemberKind::Lower: c.lower = int(k); break;
      case MemberKind::Upper: c.upper = int(k); break;
      case MemberKind::Fixed: c.lower = c.upper = int(k); break;
      case MemberKind::Type: c.type = int(k); break;
      default: break;
    }
  }
  return cm;
}

}  // namespace

bool isContinuous(const ko_prob_struct &s) {
  for (const Column &c : s.cols)
    if (c.type != 'C') return false;
  for (const Indicator &d : s.indicators)
    if (d.col >= 0 && d.complement != 0) return false;
  return s.sets.empty() && s.pwls.empty() && s.gencons.empty();
}

void zeroObjective(ko_prob_struct &s) {
  for (Column &c : s.cols) c.cost = 0.0;
  s.qobj.clear();
  s.objectives.clear();
  s.objconst = 0.0;
  s.objsense = 1;
}

std::vector<Member> membersOf(const ko_prob_struct &s) {
  std::vector<Member> out;
  const int nrows = int(s.rows.size()), nsets = int(s.sets.size()), npwl = int(s.pwls.size());
  for (int i = 0; i < nrows; ++i) {
    const char t = s.rows[size_t(i)].type;
    if (t == 'N') continue;
    out.push_back({MemberKind::Row, i, indicatorRow(s, size_t(i)) ? 'I' : t, true, i});
  }
  for (int k = 0; k < nsets; ++k) out.push_back({MemberKind::Set, k, s.sets[size_t(k)].type, true, nrows + k});
  for (int k = 0; k < npwl; ++k) out.push_back({MemberKind::Pwl, k, 'W', true, nrows + nsets + k});
  for (int k = 0; k < int(s.gencons.size()); ++k)
    out.push_back({MemberKind::Gen, k, 'X', true, nrows + nsets + npwl + k});
  for (int j = 0; j < int(s.cols.size()); ++j) {
    const Column &c = s.cols[size_t(j)];
    const bool semi = c.type == 'S' || c.type == 'R';
    const bool lo = !semi && !isInf(c.lb), up = !isInf(c.ub);
    if (lo && up && c.lb == c.ub) {
      out.push_back({MemberKind::Fixed, j, 'F', false, j});
    } else {
      if (lo) out.push_back({MemberKind::Lower, j, 'L', false, j});
      if (up) out.push_back({MemberKind::Upper, j, 'U', false, j});
    }
    if (c.type != 'C') out.push_back({MemberKind::Type, j, c.type, false, j});
  }
  return out;
}

std::unique_ptr<ko_prob_struct> copyModel(const ko_prob_struct &s) {
  auto d = std::make_unique<ko_prob_struct>();
  copyStore(*d, s);
  d->sol = Solution();
  d->controls = ControlValues();
  d->dirs.clear();   // branching does not change what is feasible
  d->branchfixed.clear();
  return d;
}

std::unique_ptr<ko_prob_struct> restrictStore(const ko_prob_struct &s, const std::vector<Member> &members,
                                              const std::vector<char> &keep) {
  auto d = copyModel(s);
  std::vector<char> sets(s.sets.size()), pwls(s.pwls.size()), gens(s.gencons.size());
  for (size_t k = 0; k < members.size(); ++k) {
    if (keep[k]) continue;
    const Member &m = members[k];
    const size_t i = size_t(m.index);
    switch (m.kind) {
      case MemberKind::Row:
        d->rows[i].type = 'N';
        if (i < d->indicators.size()) d->indicators[i] = Indicator();
        break;
      case MemberKind::Set: sets[i] = 1; break;
      case MemberKind::Pwl: pwls[i] = 1; break;
      case MemberKind::Gen: gens[i] = 1; break;
      case MemberKind::Lower: d->cols[i].lb = -kInf; break;
      case MemberKind::Upper: d->cols[i].ub = kInf; break;
      case MemberKind::Fixed: d->cols[i].lb = -kInf; d->cols[i].ub = kInf; break;
      case MemberKind::Type: {
        Column &c = d->cols[i];
        if (c.type == 'S' || c.type == 'R') c.lb = -kInf;   // its lower side belongs to the type
        c.type = 'C';
        setColLimit(*d, i, 0.0);
        break;
      }
    }
  }
  eraseMarked(d->sets, sets);
  eraseMarkedNames(*d, 3, sets);
  eraseMarked(d->pwls, pwls);
  eraseMarkedNames(*d, 4, pwls);
  eraseMarked(d->gencons, gens);
  eraseMarkedNames(*d, 5, gens);
  zeroObjective(*d);
  return d;
}

void relaxStore(ko_prob_struct &s) {
  for (size_t j = 0; j < s.cols.size(); ++j) {
    Column &c = s.cols[j];
    switch (c.type) {
      case 'B': c.lb = std::max(c.lb, 0.0); c.ub = std::min(c.ub, 1.0); break;
      case 'S':
      case 'R': c.lb = std::min(semiLower(s, j), 0.0); c.ub = std::max(c.ub, 0.0); break;
      default: break;
    }
    c.type = 'C';
  }
  s.collimit.clear();
  for (size_t i = 0; i < s.rows.size(); ++i)
    if (indicatorRow(s, i)) s.rows[i].type = 'N';
  s.indicators.clear();
  s.sets.clear();
  s.pwls.clear();
  s.gencons.clear();
  for (int kind = 3; kind <= 5; ++kind) s.names[kind] = NameSpace();
}

std::string lastErrorText(ko_prob_struct *p) {
  std::lock_guard<std::mutex> lock(p->errmtx);
  return p->lasterror;
}

// ---------------------------------------------------------------------------------------

Analysis::Analysis(ko_prob_struct *p) : p_(p), s_(settingsFromControls(p)), mark_(p->sigint_mark) {
  s_.output = false;   // the many small solves stay out of the log
  if (s_.timelimit > 0) {
    timed_ = true;
    deadline_ = std::chrono::steady_clock::now() +
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(s_.timelimit));
  }
}

int Analysis::stopReason() const {
  if (int r = pendingStop(p_, mark_)) return r;
  if (timed_ && std::chrono::steady_clock::now() >= deadline_) return kStopTimeLimit;
  return 0;
}

int Analysis::solve(ko_prob_struct &sub, Solution &out, bool relax, std::vector<double> *ray) const {
  out = Solution();
  RunSettings s = s_;
  s.relax = relax;
  if (ray) {
    ray->clear();
    s.presolve = 0;   // a ray of the problem as given
  }
  if (timed_) {
    s.timelimit = std::chrono::duration<double>(deadline_ - std::chrono::steady_clock::now()).count();
    if (s.timelimit <= 0) {
      out.solvestatus = KRVX_SOLVESTATUS_STOPPED;
      out.stopstatus = kStopTimeLimit;
      return 0;
    }
  }
  // refusals of the lowering are set on the scratch store: pass them on
  auto relay = [&](int rc) { return fail(p_, rc, "%s", sub.lasterror.c_str()); };
  Lowered low;
  ModelArrays arrays;
  if (int rc = planLowering(&sub, low, relax)) return relay(rc);
  buildArrays(&sub, low, arrays);
  if (low.nonlinearEngine()) {
    NlpModel m;
    nlpBuild(&sub, low, arrays, m);
    return low.engine == Engine::Bonmin ? engines::minlpRun(p_, m, s, out) : engines::nlpRun(p_, m, s, out);
  }
  if (!h_) {
    h_ = std::unique_ptr<void, void (*)(void *)>(newHighs(), releaseHighs);
    if (!h_.get()) return fail(p_, kErrMemory, "The solver could not be created (out of memory)");
    Highs_setBoolOptionValue(h_.get(), "output_flag", s_.output);
  }
  if (int rc = passArrays(p_, h_.get(), arrays)) return rc;
  int rc = runHighs(p_, h_.get(), low, s, out);
  // a continuous QP the QP solver does not finish (the repair's quadratic penalties)
  if (low.quadratic && (!low.discrete || relax) && !low.multiobj && qpRetry(rc, out, qpIterationLimit(low))) {
    NlpModel m;
    nlpBuild(&sub, low, arrays, m);
    rc = engines::nlpRun(p_, m, s, out);
  }
  if (rc == 0 && ray && out.solstatus == KRVX_SOLSTATUS_INFEASIBLE) {
    HighsInt has = 0;
    std::vector<double> values(size_t(low.hrows));
    if (Highs_getDualRay(h_.get(), &has, values.data()) != kHighsStatusError && has) {
      values.resize(size_t(low.nrows));
      ray->swap(values);
    }
  }
  return rc;
}

// The instance of Analysis::warmTest: the store with a zero objective, lowered once; a member
// dropped frees its bounds there.
struct WarmTester {
  const ko_prob_struct *base = nullptr;
  const std::vector<Member> *members = nullptr;
  std::unique_ptr<ko_prob_struct> store;
  Lowered low;
  std::unique_ptr<void, void (*)(void *)> h{nullptr, nullptr};
  std::vector<double> collo, colup, rowlo, rowup;   // with every member
  std::vector<double> curlo, curup, currlo, currup; // what the instance holds
  std::vector<char> held;                           // the members it holds
  bool usable = false;

  WarmTester(ko_prob_struct *p, const ko_prob_struct &s, const std::vector<Member> &m) : base(&s), members(&m) {
    if (!isContinuous(s)) return;
    store = copyModel(s);
    zeroObjective(*store);
    ModelArrays a;
    if (planLowering(store.get(), low, false) != 0 || low.engine != Engine::Highs || low.hasAux() || low.hasSplit() ||
        low.ncols != int(s.cols.size()) || low.nrows != int(s.rows.size()))
      return;
    buildArrays(store.get(), low, a);
    h = std::unique_ptr<void, void (*)(void *)>(newHighs(), releaseHighs);
    if (!h.get()) return;
    Highs_setBoolOptionValue(h.get(), "output_flag", 0);
    if (passArrays(p, h.get(), a) != 0) return;
    collo = curlo = a.lower;
    colup = curup = a.upper;
    rowlo = currlo = a.rowlo;
    rowup = currup = a.rowup;
    held.assign(m.size(), 1);
    usable = true;
  }

  // Sets the bounds of the members marked in keep (only those that differ from the instance's).
  bool follow(const std::vector<char> &keep) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<int> cols, rows;
    for (size_t k = 0; k < keep.size(); ++k) {
      if (bool(keep[k]) == bool(held[k])) continue;
      const Member &m = (*members)[k];
      const size_t i = size_t(m.index);
      const bool on = keep[k] != 0;
      switch (m.kind) {
        case MemberKind::Row:
          currlo[i] = on ? rowlo[i] : -inf;
          currup[i] = on ? rowup[i] : inf;
          rows.push_back(int(i));
          break;
        case MemberKind::Lower: curlo[i] = on ? collo[i] : -inf; cols.push_back(int(i)); break;
        case MemberKind::Upper: curup[i] = on ? colup[i] : inf; cols.push_back(int(i)); break;
        case MemberKind::Fixed:
          curlo[i] = on ? collo[i] : -inf;
          curup[i] = on ? colup[i] : inf;
          cols.push_back(int(i));
          break;
        default: return false;
      }
      held[k] = keep[k];
    }
    std::sort(cols.begin(), cols.end());
    cols.erase(std::unique(cols.begin(), cols.end()), cols.end());
    std::vector<double> lo, up;
    for (int j : cols) lo.push_back(curlo[size_t(j)]), up.push_back(curup[size_t(j)]);
    if (!cols.empty() &&
        Highs_changeColsBoundsBySet(h.get(), HighsInt(cols.size()), cols.data(), lo.data(), up.data()) ==
            kHighsStatusError)
      return false;
    lo.clear();
    up.clear();
    for (int i : rows) lo.push_back(currlo[size_t(i)]), up.push_back(currup[size_t(i)]);
    return rows.empty() ||
           Highs_changeRowsBoundsBySet(h.get(), HighsInt(rows.size()), rows.data(), lo.data(), up.data()) !=
               kHighsStatusError;
  }
};

Verdict Analysis::warmTest(const ko_prob_struct &s, const std::vector<Member> &members,
                           const std::vector<char> &keep) const {
  if (!warm_ || warm_->base != &s || warm_->members != &members || warm_->held.size() != keep.size())
    warm_ = std::make_shared<WarmTester>(p_, s, members);
  WarmTester &w = *warm_;
  if (!w.usable) return Verdict::Failed;
  if (!w.follow(keep)) {
    w.usable = false;
    return Verdict::Failed;
  }
  RunSettings rs = s_;
  rs.alg = kAlgDual;   // a basis to start the next run from
  rs.relax = false;
  if (timed_) {
    rs.timelimit = std::chrono::duration<double>(deadline_ - std::chrono::steady_clock::now()).count();
    if (rs.timelimit <= 0) return Verdict::Stopped;
  }
  Solution out;
  if (runHighs(p_, w.h.get(), w.low, rs, out) != 0) {
    w.usable = false;
    return Verdict::Failed;
  }
  switch (out.solstatus) {
    case KRVX_SOLSTATUS_OPTIMAL: return Verdict::Feasible;
    case KRVX_SOLSTATUS_INFEASIBLE: return Verdict::Infeasible;
    default: return out.solvestatus == KRVX_SOLVESTATUS_STOPPED ? Verdict::Stopped : Verdict::Failed;
  }
}

Verdict testFeasible(const Analysis &a, const ko_prob_struct &s, const std::vector<Member> &members,
                     const std::vector<char> &keep) {
  if (a.stopReason()) return Verdict::Stopped;
  const Verdict warm = a.warmTest(s, members, keep);
  if (warm != Verdict::Failed) return warm;
  auto sub = restrictStore(s, members, keep);
  Solution out;
  const int rc = a.solve(*sub, out);
  if (rc == kErrUnsupported) return Verdict::Unsolvable;
  if (a.stopReason()) return Verdict::Stopped;
  if (rc) return Verdict::Failed;
  switch (out.solstatus) {
    case KRVX_SOLSTATUS_OPTIMAL:
    case KRVX_SOLSTATUS_FEASIBLE: return Verdict::Feasible;
    case KRVX_SOLSTATUS_INFEASIBLE: return Verdict::Infeasible;
    default: return out.solvestatus == KRVX_SOLVESTATUS_STOPPED ? Verdict::Stopped : Verdict::Failed;
  }
}

namespace {

// The continuous part of a subsystem, with the members that give each column's bounds.
struct RelaxedSubsystem {
  std::unique_ptr<ko_prob_struct> sub;
  std::vector<ColumnMembers> cm;
  const ko_prob_struct *s;
  size_t ncols, nrows;   // the subsystem's own (elastic columns come after)
  size_t nmembers;

  RelaxedSubsystem(const ko_prob_struct &store, const std::vector<Member> &members, const std::vector<char> &keep)
      : sub(restrictStore(store, members, keep)), cm(columnMembers(store.cols.size(), members, keep)), s(&store),
        nmembers(members.size()) {
    relaxStore(*sub);
    ncols = sub->cols.size();
    nrows = sub->rows.size();
  }
  int lowerMember(size_t j) const {
    const ColumnMembers &c = cm[j];
    return c.lower >= 0 && s->cols[j].lb == sub->cols[j].lb ? c.lower : c.type;
  }
  int upperMember(size_t j) const {
    const ColumnMembers &c = cm[j];
    return c.upper >= 0 && s->cols[j].ub == sub->cols[j].ub ? c.upper : c.type;
  }
  // Crossing bounds, x <= ub and -x <= -lb adding up to 0 <= ub - lb < 0: the certificate.
  bool crossing(PhaseOne &r) const {
    for (size_t j = 0; j < ncols; ++j) {
      const Column &c = sub->cols[j];
      if (!(c.lb > c.ub && !isInf(c.lb) && !isInf(c.ub))) continue;
      const int lo = lowerMember(j), up = upperMember(j);
      r.verdict = Verdict::Infeasible;
      r.suminf = c.lb - c.ub;
      r.numinf = 1;
      if (lo >= 0 && up >= 0 && lo != up) {
        r.mult[size_t(lo)] = -1.0;
        r.mult[size_t(up)] = 1.0;
        r.valid = true;
      }
      return true;
    }
    return false;
  }
  // Row multipliers l (positive: upper side) made a certificate: mu = -A'l on the columns, checked
  // to add up to a negative bound; sets r.mult and r.valid.
  void certify(const std::vector<double> &l, const std::vector<Member> &members, const std::vector<char> &keep,
               double tol, PhaseOne &r) const {
    std::vector<double> lambda(nrows, 0.0), mu(ncols, 0.0), mag(ncols, 0.0);
    for (size_t i = 0; i < nrows; ++i) {
      const char t = sub->rows[i].type;
      if (std::fabs(l[i]) > 1e-9 && ((l[i] > 0 && hasUpperSide(t)) || (l[i] < 0 && hasLowerSide(t)))) lambda[i] = l[i];
    }
    for (size_t j = 0; j < ncols; ++j)
      for (const Entry e : sub->matrix.col(int(j))) {
        mu[j] -= lambda[size_t(e.index)] * e.value;
        mag[j] += std::fabs(lambda[size_t(e.index)] * e.value);
      }
    double beta = 0.0, scale = 0.0;
    for (size_t i = 0; i < nrows; ++i) {
      if (lambda[i] == 0.0) continue;
      const Row &row = sub->rows[i];
      const double side = lambda[i] > 0 || row.type != 'R' ? row.rhs : rowBottom(*sub, i);
      beta += lambda[i] * side;
      scale += std::fabs(lambda[i] * side);
    }
    for (size_t j = 0; j < ncols; ++j) {
      const Column &c = sub->cols[j];
      const double bound = mu[j] > 0 ? c.ub : c.lb;
      const int member = mu[j] > 0 ? upperMember(j) : lowerMember(j);
      // what the solver's dual tolerance leaves on a column without that bound
      if (std::fabs(mu[j]) <= 1e-12 || ((isInf(bound) || member < 0) && std::fabs(mu[j]) <= 1e-7 * (1 + mag[j]))) {
        mu[j] = 0.0;
        continue;
      }
      if (isInf(bound) || member < 0) return;
      beta += mu[j] * bound;
      scale += std::fabs(mu[j] * bound);
    }
    if (!(beta < -1e-9 * std::max(1.0, scale) && beta < -0.5 * tol)) return;
    r.valid = true;
    std::fill(r.mult.begin(), r.mult.end(), 0.0);
    for (size_t k = 0; k < members.size(); ++k)
      if (keep[k] && members[k].kind == MemberKind::Row) r.mult[k] = lambda[size_t(members[k].index)];
    for (size_t j = 0; j < ncols; ++j)
      if (mu[j] != 0.0) r.mult[size_t(mu[j] > 0 ? upperMember(j) : lowerMember(j))] += mu[j];
  }
};

// Sizes r; true when a stop request or crossing bounds settle it before any solve.
bool settledEarly(const Analysis &a, const RelaxedSubsystem &rs, PhaseOne &r) {
  r.mult.assign(rs.nmembers, 0.0);
  if (a.stopReason()) {
    r.verdict = Verdict::Stopped;
    return true;
  }
  return rs.crossing(r);
}

}  // namespace

PhaseOne phaseOne(const Analysis &a, const ko_prob_struct &s, const std::vector<Member> &members,
                  const std::vector<char> &keep) {
  PhaseOne r;
  RelaxedSubsystem rs(s, members, keep);
  if (settledEarly(a, rs, r)) return r;
  ko_prob_struct &sub = *rs.sub;
  // elastic columns: row i's body minus its upper-side elastic plus its lower-side one
  std::vector<int> elasticRow;
  auto elastic = [&](int row, double coef) {
    Column e;
    e.cost = 1.0;
    e.lb = 0.0;
    e.ub = kInf;
    sub.cols.push_back(e);
    const Entry entry{row, coef};
    sub.matrix.appendColumn(&entry, 1);
    elasticRow.push_back(row);
  };
  for (size_t i = 0; i < rs.nrows; ++i) {
    const char t = sub.rows[i].type;
    if (hasUpperSide(t)) elastic(int(i), -1.0);
    if (hasLowerSide(t)) elastic(int(i), 1.0);
  }
  Solution out;
  const int rc = a.solve(sub, out, true);
  if (a.stopReason() || (rc == 0 && out.solvestatus == KRVX_SOLVESTATUS_STOPPED)) {
    r.verdict = Verdict::Stopped;
    return r;
  }
  if (rc || out.solstatus != KRVX_SOLSTATUS_OPTIMAL || !out.has_duals || out.x.size() != sub.cols.size()) {
    r.verdict = rc == kErrUnsupported ? Verdict::Unsolvable : Verdict::Failed;
    return r;
  }
  const double tol = a.settings().feastol;
  std::vector<double> viol(rs.nrows, 0.0);
  for (size_t e = 0; e < elasticRow.size(); ++e) viol[size_t(elasticRow[e])] += out.x[rs.ncols + e];
  for (double v : viol)
    if (v > tol) {
      ++r.numinf;
      r.suminf += v;
    }
  if (r.numinf == 0) {
    r.verdict = Verdict::Feasible;
    return r;
  }
  r.verdict = Verdict::Infeasible;
  // Farkas multipliers: the row duals of the minimisation, negated
  std::vector<double> l(rs.nrows);
  for (size_t i = 0; i < rs.nrows; ++i) l[i] = -out.duals[i];
  rs.certify(l, members, keep, tol, r);
  return r;
}

PhaseOne rowAgainstBounds(const ko_prob_struct &s, const std::vector<Member> &members, double tol,
                          std::vector<char> &keep) {
  PhaseOne r;
  keep.assign(members.size(), 0);
  if (!isContinuous(s)) return r;
  const size_t n = s.cols.size(), m = s.rows.size();
  const std::vector<ColumnMembers> cm = columnMembers(n, members, std::vector<char>(members.size(), 1));
  std::vector<int> rowMember(m, -1);
  for (size_t k = 0; k < members.size(); ++k)
    if (members[k].kind == MemberKind::Row) rowMember[size_t(members[k].index)] = int(k);
  // each row's activity limits over the column bounds (finite parts, and how many terms are
  // unlimited), and its entry count
  std::vector<double> lo(m, 0.0), up(m, 0.0), mag(m, 0.0);
  std::vector<int> loInf(m, 0), upInf(m, 0), count(m, 0);
  for (size_t j = 0; j < n; ++j) {
    const Column &c = s.cols[j];
    const bool hasLb = cm[j].lower >= 0 && !isInf(c.lb), hasUb = cm[j].upper >= 0 && !isInf(c.ub);
    for (const Entry e : s.matrix.col(int(j))) {
      if (e.value == 0.0) continue;
      const size_t i = size_t(e.index);
      ++count[i];
      mag[i] += std::fabs(e.value) * std::max(hasLb ? std::fabs(c.lb) : 0.0, hasUb ? std::fabs(c.ub) : 0.0);
      const bool pos = e.value > 0;
      if (pos ? hasLb : hasUb) lo[i] += e.value * (pos ? c.lb : c.ub);
      else ++loInf[i];
      if (pos ? hasUb : hasLb) up[i] += e.value * (pos ? c.ub : c.lb);
      else ++upInf[i];
    }
  }
  // the row with the fewest entries whose limit misses a side clearly, by the widest gap among
  // those (sign +1: the activity cannot fall to its upper side, -1: cannot reach its lower side)
  auto bottom = [&](size_t i) { return s.rows[i].type == 'R' ? rowBottom(s, i) : s.rows[i].rhs; };
  int best = -1, sign = 0;
  double gap = 0.0;
  for (size_t i = 0; i < m; ++i) {
    if (rowMember[i] < 0 || (best >= 0 && count[i] > count[size_t(best)])) continue;
    const char t = s.rows[i].type;
    const double margin = tol * std::max(1.0, std::fabs(s.rows[i].rhs) + mag[i]);
    const double over = hasUpperSide(t) && loInf[i] == 0 ? lo[i] - s.rows[i].rhs : -kInf;
    const double under = hasLowerSide(t) && upInf[i] == 0 ? bottom(i) - up[i] : -kInf;
    const double g = std::max(over, under);
    if (g <= margin || (best >= 0 && count[i] == count[size_t(best)] && g <= gap)) continue;
    best = int(i), sign = over >= under ? 1 : -1, gap = g;
  }
  if (best < 0) return r;
  // the row's side and the bounds giving that limit; the row's multiplier alone determines the
  // others, and the certificate is checked as any other
  keep[size_t(rowMember[size_t(best)])] = 1;
  for (size_t j = 0; j < n; ++j)
    for (const Entry e : s.matrix.col(int(j)))
      if (e.index == best && e.value != 0.0)
        keep[size_t(sign * e.value > 0 ? cm[j].lower : cm[j].upper)] = 1;
  RelaxedSubsystem rs(s, members, keep);
  r.mult.assign(members.size(), 0.0);
  std::vector<double> l(rs.nrows, 0.0);
  l[size_t(best)] = sign;
  rs.certify(l, members, keep, tol, r);
  if (!r.valid) {
    keep.assign(members.size(), 0);
    return PhaseOne();
  }
  r.verdict = Verdict::Infeasible;
  r.suminf = gap;   // what the subsystem's phase 1 leaves on the row
  r.numinf = 1;
  return r;
}

PhaseOne farkasRay(const Analysis &a, const ko_prob_struct &s, const std::vector<Member> &members,
                   const std::vector<char> &keep) {
  PhaseOne r;
  RelaxedSubsystem rs(s, members, keep);
  if (settledEarly(a, rs, r)) return r;
  Solution out;
  std::vector<double> ray;
  const int rc = a.solve(*rs.sub, out, true, &ray);
  if (a.stopReason()) {
    r.verdict = Verdict::Stopped;
    return r;
  }
  if (rc || out.solstatus != KRVX_SOLSTATUS_INFEASIBLE) {
    r.verdict = rc ? Verdict::Failed : out.solstatus == KRVX_SOLSTATUS_OPTIMAL ? Verdict::Feasible : Verdict::Failed;
    return r;
  }
  r.verdict = Verdict::Infeasible;
  if (ray.size() != rs.nrows) return r;
  // the solver's sign convention aside: whichever sign proves infeasibility
  rs.certify(ray, members, keep, a.settings().feastol, r);
  if (!r.valid) {
    for (double &v : ray) v = -v;
    rs.certify(ray, members, keep, a.settings().feastol, r);
  }
  return r;
}

}  // namespace krvx
