#include "nl/nl.h"
#include "solve/highs_lower.h"
#include "solve/solve.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <string>

namespace krvx {

static_assert(sizeof(HighsInt) == sizeof(int), "ModelArrays holds HiGHS's integers");

namespace {

bool isDiscrete(char type) { return type != 'C'; }

// What a partial-integer column becomes: x in {integers of [lb, limit)} u [limit, ub].
// Unbounded: integers without a lower bound below the limit, which y + s cannot express.
enum class PartialForm { Integer, Continuous, Split, Unbounded };

PartialForm partialForm(const Column &c) {
  if (!isInf(c.ub) && c.ub < c.limit) return PartialForm::Integer;
  if (c.lb >= c.limit) return PartialForm::Continuous;
  if (isInf(c.lb)) return PartialForm::Unbounded;
  const double top = std::ceil(c.limit) - 1;            // largest integer below the limit
  return top < std::ceil(c.lb) ? PartialForm::Continuous : PartialForm::Split;
}

const char *unsupportedContent(const ko_prob_struct *p, bool discrete) {
  if (nlHasFormulas(p)) return "nonlinear formulas";
  for (const auto &q : p->qrows)
    if (!q.empty()) return "quadratic constraints";
  if (!p->objectives.empty() && !p->qobj.empty()) return "several objectives together with a quadratic objective";
  if (discrete && !p->qobj.empty()) return "discrete columns together with a quadratic objective";
  return nullptr;
}

// The objectives by priority level, highest first: the main objective (priority 0, weight 1) and
// the extra ones, blended within a level; the sense of the problem gives the sign.
void buildObjectives(const ko_prob_struct *p, const Lowered &low, ModelArrays &a) {
  struct Member { int priority; double weight, abstol, reltol; const Objective *obj; };
  std::vector<Member> members{{0, 1.0, 0.0, 0.0, nullptr}};
  for (const Objective &o : p->objectives) members.push_back({o.priority, o.weight, o.abstol, o.reltol, &o});
  std::stable_sort(members.begin(), members.end(),
                   [](const Member &x, const Member &y) { return x.priority > y.priority; });
  const size_t n = size_t(low.hcols);
  auto add = [&](double *dense, int j, double v) {
    dense[j] += v;
    if (!low.split.empty() && low.split[size_t(j)] >= 0) dense[low.split[size_t(j)]] += v;
  };
  for (size_t k = 0; k < members.size();) {
    const int priority = members[k].priority;
    a.objpriority.push_back(priority);
    a.objweight.push_back(p->objsense < 0 ? -1.0 : 1.0);
    a.objoffset.push_back(0.0);
    a.objabstol.push_back(0.0);
    a.objreltol.push_back(0.0);
    a.objcoef.resize(a.objcoef.size() + n, 0.0);
    double *dense = a.objcoef.data() + a.objcoef.size() - n;
    for (; k < members.size() && members[k].priority == priority; ++k) {
      const Member &m = members[k];
      a.objabstol.back() = std::max(a.objabstol.back(), m.abstol);
      a.objreltol.back() = std::max(a.objreltol.back(), m.reltol);
      if (!m.obj) {
        a.objoffset.back() += m.weight * p->objconst;
        for (int j = 0; j < low.ncols; ++j) add(dense, j, m.weight * p->cols[size_t(j)].cost);
      } else {
        for (const Entry &e : m.obj->coefs) add(dense, e.index, m.weight * e.value);
      }
    }
  }
}

double solverBound(double v) {
  const double inf = std::numeric_limits<double>::infinity();
  return v >= kInf ? inf : v <= -kInf ? -inf : v;
}

// A user row's bounds in the solver.
void rowBounds(const Row &r, double &lo, double &up) {
  const double inf = std::numeric_limits<double>::infinity();
  lo = -inf;
  up = inf;
  switch (r.type) {
    case 'L': up = solverBound(r.rhs); break;
    case 'G': lo = solverBound(r.rhs); break;
    case 'E': lo = up = solverBound(r.rhs); break;
    case 'R': up = solverBound(r.rhs); lo = solverBound(r.rhs - std::fabs(r.range)); break;
    default: break;   // N: free
  }
}

// A user column's bounds and type in the solver, but for the split form of a partial-integer column.
void columnBounds(const Column &c, double &lo, double &up, HighsInt &type) {
  lo = solverBound(c.lb);
  up = solverBound(c.ub);
  type = kHighsVarTypeContinuous;
  switch (c.type) {
    case 'B': type = kHighsVarTypeInteger; lo = std::max(lo, 0.0); up = std::min(up, 1.0); break;
    case 'I': type = kHighsVarTypeInteger; break;
    case 'S': type = kHighsVarTypeSemiContinuous; if (c.limit != 0.0) lo = c.limit; break;
    case 'R': type = kHighsVarTypeSemiInteger; if (c.limit != 0.0) lo = c.limit; break;
    case 'P':
      if (partialForm(c) == PartialForm::Integer) type = kHighsVarTypeInteger;
      else lo = std::max(lo, c.limit);   // continuous (the split form is planned separately)
      break;
    default: break;
  }
}

}  // namespace

int planLowering(ko_prob_struct *p, Lowered &low) {
  low = Lowered();
  low.ncols = static_cast<int>(p->cols.size());
  low.nrows = static_cast<int>(p->rows.size());
  low.quadratic = !p->qobj.empty();
  low.multiobj = !p->objectives.empty();
  for (const auto &c : p->cols) low.discrete = low.discrete || isDiscrete(c.type);
  if (const char *what = unsupportedContent(p, low.discrete))
    return fail(p, kErrUnsupported, "Cannot solve this problem: it has %s, which the solver does not support",
                what);
  low.hcols = low.ncols;
  low.hrows = low.nrows;
  for (int j = 0; j < low.ncols; ++j) {
    const Column &c = p->cols[j];
    if (c.type != 'P') continue;
    const PartialForm form = partialForm(c);
    if (form == PartialForm::Unbounded)
      return fail(p, kErrUnsupported,
                  "Cannot solve this problem: partial-integer column %d has no finite lower bound", j);
    if (form != PartialForm::Split) continue;
    if (low.split.empty()) low.split.assign(low.ncols, -1);
    low.split[j] = low.hcols++;
    if (!isInf(c.ub)) ++low.hrows;
  }
  low.rhs.resize(low.nrows);
  for (int i = 0; i < low.nrows; ++i) low.rhs[i] = p->rows[i].rhs;
  size_t nz = 0;
  for (int j = 0; j < low.ncols; ++j) {
    size_t n = p->cols[j].coefs.size();
    nz += (!low.split.empty() && low.split[j] >= 0) ? 2 * n + 2 : n;
  }
  if (nz >= static_cast<size_t>(INT_MAX) || p->qobj.size() >= static_cast<size_t>(INT_MAX))
    return fail(p, kErrUnsupported, "Cannot solve this problem: it has more than %d coefficients", INT_MAX - 1);
  return planReform(p, low);   // sets, indicator, piecewise-linear and general constraints
}

void buildArrays(const ko_prob_struct *p, const Lowered &low, ModelArrays &a) {
  const double inf = std::numeric_limits<double>::infinity();
  auto bound = [inf](double v) { return v >= kInf ? inf : v <= -kInf ? -inf : v; };
  const int n = low.hcols, m = low.hrows;

  a = ModelArrays();
  a.sense = p->objsense < 0 ? -1 : 1;
  a.offset = p->objconst;
  std::vector<double> &cost = a.cost, &lower = a.lower, &upper = a.upper, &rowlo = a.rowlo, &rowup = a.rowup;
  cost.resize(n);
  lower.resize(n);
  upper.resize(n);
  rowlo.resize(m);
  rowup.resize(m);
  std::vector<int> &integrality = a.integrality;
  integrality.assign(low.discrete ? n : 0, kHighsVarTypeContinuous);
  for (int i = 0; i < low.nrows; ++i) rowBounds(p->rows[i], rowlo[i], rowup[i]);

  // Columns; auxiliary rows (one per split column with a finite upper bound) follow the user's.
  std::vector<std::vector<std::pair<int, double>>> auxrows;
  std::vector<int> &start = a.start, &index = a.index;
  std::vector<double> &value = a.value;
  start.assign(n + 1, 0);
  std::vector<std::pair<int, int>> splitpairs;   // (user column, aux column)
  for (int j = 0; j < low.ncols; ++j) {
    const Column &c = p->cols[j];
    double lo, up;
    HighsInt type;
    columnBounds(c, lo, up, type);
    if (c.type == 'P' && partialForm(c) == PartialForm::Split) {
      type = kHighsVarTypeInteger;
      const double first = std::ceil(c.lb);
      lo = bound(c.lb);
      up = std::ceil(c.limit) - 1;
      const int s = low.split[j];
      // s in {0} u [limit - ceil(lb), ub - ceil(lb)]: x = y + s reaches [limit, ub]
      cost[s] = c.cost;
      lower[s] = c.limit - first;
      upper[s] = isInf(c.ub) ? inf : c.ub - first;
      integrality[s] = kHighsVarTypeSemiContinuous;
      splitpairs.emplace_back(j, s);
      if (!isInf(c.ub)) {
        const int r = low.nrows + static_cast<int>(auxrows.size());
        auxrows.push_back({{j, 1.0}, {s, 1.0}});
        rowlo[r] = -inf;
        rowup[r] = c.ub;
      }
    }
    cost[j] = c.cost;
    lower[j] = lo;
    upper[j] = up;
    if (low.discrete) integrality[j] = type;
  }
  // Column-wise matrix: the user's columns, then the auxiliary columns (copies of their
  // user column plus the tie row).
  auto addColumn = [&](int col, const std::vector<Entry> &coefs, int tie) {
    start[col] = static_cast<HighsInt>(index.size());
    for (const Entry &e : coefs) { index.push_back(e.index); value.push_back(e.value); }
    if (tie >= 0) { index.push_back(tie); value.push_back(1.0); }
  };
  std::vector<int> tierow(n, -1);
  for (size_t k = 0; k < auxrows.size(); ++k)
    for (const auto &cv : auxrows[k]) tierow[cv.first] = low.nrows + static_cast<int>(k);
  for (int j = 0; j < low.ncols; ++j) addColumn(j, p->cols[j].coefs, tierow[j]);
  for (const auto &js : splitpairs) addColumn(js.second, p->cols[js.first].coefs, tierow[js.second]);
  start[n] = static_cast<HighsInt>(index.size());

  // Hessian: the store's triangle (i <= j) is HiGHS's lower triangle, column-wise.
  std::vector<int> &qstart = a.qstart, &qindex = a.qindex;
  std::vector<double> &qvalue = a.qvalue;
  if (low.quadratic) {
    std::vector<QTerm> q(p->qobj);
    for (QTerm &t : q)
      if (t.i > t.j) std::swap(t.i, t.j);
    std::sort(q.begin(), q.end(), [](const QTerm &a, const QTerm &b) {
      return a.i != b.i ? a.i < b.i : a.j < b.j;
    });
    qstart.assign(n, 0);
    size_t k = 0;
    for (int col = 0; col < n; ++col) {
      qstart[col] = static_cast<HighsInt>(qindex.size());
      for (; k < q.size() && q[k].i == col; ++k) {
        if (!qindex.empty() && static_cast<int>(qindex.size()) > qstart[col] && qindex.back() == q[k].j)
          qvalue.back() += q[k].value;
        else {
          qindex.push_back(q[k].j);
          qvalue.push_back(q[k].value);
        }
      }
    }
  }
  if (low.multiobj) buildObjectives(p, low, a);
  applyReform(low, a);
}

int passArrays(ko_prob_struct *p, void *h, const ModelArrays &a) {
  const int n = static_cast<int>(a.cost.size()), m = static_cast<int>(a.rowlo.size());
  const int qnz = static_cast<int>(a.qindex.size());
  std::string reason;
  HighsInt rc;
  {
    HighsSession session(p, h);
    rc = Highs_passModel(h, n, m, static_cast<int>(a.index.size()), qnz, kHighsMatrixFormatColwise,
                         qnz ? kHighsHessianFormatTriangular : 0, a.sense, a.offset, a.cost.data(), a.lower.data(),
                         a.upper.data(), a.rowlo.data(), a.rowup.data(), a.start.data(), a.index.data(),
                         a.value.data(), qnz ? a.qstart.data() : nullptr, qnz ? a.qindex.data() : nullptr,
                         qnz ? a.qvalue.data() : nullptr, a.integrality.empty() ? nullptr : a.integrality.data());
    if (rc != kHighsStatusError && a.objpriority.empty()) rc = Highs_clearLinearObjectives(h);
    if (rc != kHighsStatusError && !a.objpriority.empty()) {
      Highs_setBoolOptionValue(h, "blend_multi_objectives", 0);
      rc = Highs_passLinearObjectives(h, static_cast<HighsInt>(a.objpriority.size()), a.objweight.data(),
                                      a.objoffset.data(), a.objcoef.data(), a.objabstol.data(), a.objreltol.data(),
                                      a.objpriority.data());
    }
    session.end();
    reason = session.lastError();
  }
  if (rc != kHighsStatusError) return 0;
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  return fail(p, kErrSolver, "The solver refused the model%s%s", reason.empty() ? "" : ": ", reason.c_str());
}

void *newHighs() {
  void *h = Highs_create();
  if (h) Highs_setBoolOptionValue(h, "log_to_console", 0);
  return h;
}

namespace {

void sortUnique(std::vector<int> &v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

// The value of a coefficient in the store (0 when absent).
double coefAt(const ko_prob_struct *p, int row, int col) {
  const std::vector<Entry> &e = p->cols[size_t(col)].coefs;
  auto it = std::lower_bound(e.begin(), e.end(), row, [](const Entry &x, int r) { return x.index < r; });
  return it != e.end() && it->index == row ? it->value : 0.0;
}

// Hands the changes noted since the last lowering to the instance, which holds the user's columns
// and rows only (and still does): first the new rows with their coefficients in the old columns,
// then the new columns whole, then the changed values of old items. False when the solver refused
// one of them (the instance must then be lowered anew).
bool applyPending(ko_prob_struct *p, const Lowered &low) {
  void *h = p->highs;
  PendingChanges &c = p->pending;
  const int oldcols = c.ncols, oldrows = c.nrows, ncols = low.ncols, nrows = low.nrows;
  if (oldcols > ncols || oldrows > nrows) return false;
  auto ok = [](HighsInt rc) { return rc != kHighsStatusError; };
  if (nrows > oldrows) {
    const int n = nrows - oldrows;
    std::vector<double> lo(n), up(n);
    for (int i = 0; i < n; ++i) rowBounds(p->rows[size_t(oldrows + i)], lo[i], up[i]);
    // coefficients of the new rows in the old columns, row-wise (a column's rows increase)
    std::vector<HighsInt> start(n + 1, 0), index;
    std::vector<double> value;
    for (int j = 0; j < oldcols; ++j)
      for (auto e = p->cols[size_t(j)].coefs.rbegin(); e != p->cols[size_t(j)].coefs.rend() && e->index >= oldrows; ++e)
        ++start[e->index - oldrows + 1];
    for (int i = 0; i < n; ++i) start[i + 1] += start[i];
    index.resize(size_t(start[n]));
    value.resize(size_t(start[n]));
    std::vector<HighsInt> fill(start.begin(), start.end() - 1);
    for (int j = 0; j < oldcols; ++j) {
      const std::vector<Entry> &e = p->cols[size_t(j)].coefs;
      for (auto it = std::lower_bound(e.begin(), e.end(), oldrows, [](const Entry &x, int r) { return x.index < r; });
           it != e.end(); ++it) {
        const HighsInt k = fill[it->index - oldrows]++;
        index[size_t(k)] = j;
        value[size_t(k)] = it->value;
      }
    }
    if (!ok(Highs_addRows(h, n, lo.data(), up.data(), start[n], start.data(), index.data(), value.data())))
      return false;
  }
  if (ncols > oldcols) {
    const int n = ncols - oldcols;
    std::vector<double> cost(n), lo(n), up(n), value;
    std::vector<HighsInt> type(n), start(n), index;
    for (int j = 0; j < n; ++j) {
      const Column &col = p->cols[size_t(oldcols + j)];
      columnBounds(col, lo[j], up[j], type[j]);
      cost[j] = col.cost;
      start[j] = HighsInt(index.size());
      for (const Entry &e : col.coefs) {
        index.push_back(e.index);
        value.push_back(e.value);
      }
    }
    if (!ok(Highs_addCols(h, n, cost.data(), lo.data(), up.data(), HighsInt(index.size()), start.data(),
                          index.data(), value.data())))
      return false;
    if (low.discrete && !ok(Highs_changeColsIntegralityByRange(h, oldcols, ncols - 1, type.data()))) return false;
  }
  sortUnique(c.cols);
  c.cols.erase(std::lower_bound(c.cols.begin(), c.cols.end(), oldcols), c.cols.end());   // new ones passed whole
  if (!c.cols.empty()) {
    const size_t n = c.cols.size();
    std::vector<double> cost(n), lo(n), up(n);
    std::vector<HighsInt> type(n);
    for (size_t k = 0; k < n; ++k) {
      const Column &col = p->cols[size_t(c.cols[k])];
      columnBounds(col, lo[k], up[k], type[k]);
      cost[k] = col.cost;
    }
    const HighsInt m = HighsInt(n);
    if (!ok(Highs_changeColsBoundsBySet(h, m, c.cols.data(), lo.data(), up.data())) ||
        !ok(Highs_changeColsCostBySet(h, m, c.cols.data(), cost.data())) ||
        (low.discrete && !ok(Highs_changeColsIntegralityBySet(h, m, c.cols.data(), type.data()))))
      return false;
  }
  sortUnique(c.rows);
  c.rows.erase(std::lower_bound(c.rows.begin(), c.rows.end(), oldrows), c.rows.end());
  if (!c.rows.empty()) {
    std::vector<double> lo(c.rows.size()), up(c.rows.size());
    for (size_t k = 0; k < c.rows.size(); ++k) rowBounds(p->rows[size_t(c.rows[k])], lo[k], up[k]);
    if (!ok(Highs_changeRowsBoundsBySet(h, HighsInt(c.rows.size()), c.rows.data(), lo.data(), up.data()))) return false;
  }
  std::sort(c.coefs.begin(), c.coefs.end());
  c.coefs.erase(std::unique(c.coefs.begin(), c.coefs.end()), c.coefs.end());
  for (const auto &rc : c.coefs)
    if (rc.first < oldrows && rc.second < oldcols &&
        !ok(Highs_changeCoeff(h, rc.first, rc.second, coefAt(p, rc.first, rc.second))))
      return false;
  if (c.sense && !ok(Highs_changeObjectiveSense(h, p->objsense < 0 ? kHighsObjSenseMaximize : kHighsObjSenseMinimize)))
    return false;
  if (c.offset && !ok(Highs_changeObjectiveOffset(h, p->objconst))) return false;
  return true;
}

}  // namespace

int prepareOwnHighs(ko_prob_struct *p, Lowered &low, ModelArrays &a, bool &pass) {
  pass = false;
  if (int rc = planLowering(p, low)) return rc;
  if (!p->highs) {
    p->highs = newHighs();
    if (!p->highs) return fail(p, kErrMemory, "The solver could not be created (out of memory)");
    p->highs_stale = true;
  }
  // changes the instance can take in place: a lowering of the user's items only, before and now,
  // of the same kind (a Hessian's size is fixed at its columns)
  const bool plain = !low.hasSplit() && !low.hasAux() && !low.multiobj;
  if (!p->highs_stale && p->pending.any()) {
    const bool inplace = plain && p->highs_plain && low.discrete == p->highs_discrete &&
                         low.quadratic == p->highs_quadratic && !(low.quadratic && low.ncols != p->pending.ncols);
    if (!inplace || !applyPending(p, low)) p->highs_stale = true;
  }
  p->pending.clear();
  pass = p->highs_stale;
  if (pass) {
    buildArrays(p, low, a);
    p->highs_plain = plain;
    p->highs_discrete = low.discrete;
    p->highs_quadratic = low.quadratic;
  }
  return 0;
}

int passOwnHighs(ko_prob_struct *p, const ModelArrays &a) {
  if (int rc = passArrays(p, p->highs, a)) return rc;
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  p->highs_stale = false;
  return 0;
}

}  // namespace krvx

// ---------------------------------------------------------------------------------------
// Benchmark-only entry: the hand-over to the solver measured on its own.

namespace krvx {
namespace {

int lowerOnly(ko_prob_struct *p) {
  SolveScope scope;
  Lowered low;
  ModelArrays arrays;
  bool pass = false;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    if (int rc = scope.begin(p)) return rc;
    if (int rc = prepareOwnHighs(p, low, arrays, pass)) return rc;
  }
  return pass ? passOwnHighs(p, arrays) : 0;
}

}  // namespace
}  // namespace krvx

extern "C" KRVX_API int KRVXlowerforbenchmark(KRVXprob prob) {
  return krvx::shielded(prob, __func__, [&] { return krvx::lowerOnly(prob); });
}
