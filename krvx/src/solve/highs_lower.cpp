#include "core/beside.h"
#include "core/model.h"
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

bool hasQuadraticRows(const ko_prob_struct *p) {
  for (const auto &q : p->qrows)
    if (!q.empty()) return true;
  return false;
}

bool activeIndicator(const ko_prob_struct *p, size_t i) {
  return i < p->indicators.size() && p->indicators[i].col >= 0 && p->indicators[i].complement != 0;
}

// Compiles the formulas of the rows and the objective into low.tapes and low.objtapes.
int compileFormulas(ko_prob_struct *p, Lowered &low) {
  const UserFunctions none;
  const UserFunctions &funcs = p->nl ? p->nl->funcs : none;
  try {
    low.tapes.assign(std::min(p->nlrows.size(), p->rows.size()), {});
    for (size_t i = 0; i < low.tapes.size(); ++i)
      for (const Formula &f : p->nlrows[i])
        low.tapes[i].push_back(nl::compile(f, low.ncols, funcs, "formula of row " + std::to_string(i)));
    for (const Formula &f : p->nlobj) low.objtapes.push_back(nl::compile(f, low.ncols, funcs, "formula of the objective"));
  } catch (const Error &e) {
    return fail(p, e.code, "Cannot solve this problem: %s", e.text.c_str());
  }
  return 0;
}

}  // namespace

bool semidefinite(const std::vector<QTerm> &q0, double sign, bool strict) {
  if (q0.empty()) return true;
  int ncols = 0;
  for (const QTerm &t : q0) ncols = std::max(ncols, std::max(t.i, t.j) + 1);
  std::vector<int> slot(size_t(ncols), -1), cols;
  for (const QTerm &t : q0)
    for (int c : {t.i, t.j})
      if (slot[size_t(c)] < 0) {
        slot[size_t(c)] = int(cols.size());
        cols.push_back(c);
      }
  const size_t k = cols.size();
  std::vector<double> diag(k, 0.0);
  for (const QTerm &t : q0)
    if (t.i == t.j) diag[size_t(slot[size_t(t.i)])] += sign * t.value;
  for (double d : diag)
    if (d < 0.0) return false;
  for (const QTerm &t : q0)
    if (t.i != t.j && t.value * t.value > diag[size_t(slot[size_t(t.i)])] * diag[size_t(slot[size_t(t.j)])] * (1 + 1e-12))
      return false;
  if (k > 300) return !strict;
  std::vector<double> q(k * k, 0.0);
  for (const QTerm &t : q0) {
    const size_t a = size_t(slot[size_t(t.i)]), b = size_t(slot[size_t(t.j)]);
    q[a * k + b] += sign * t.value;
    if (a != b) q[b * k + a] += sign * t.value;
  }
  // Cholesky with a tolerance: a pivot below -tol is an indefinite direction; near-zero pivots
  // (semidefinite) are skipped when their column is zero too
  double scale = 0.0;
  for (double d : diag) scale = std::max(scale, d);
  const double tol = 1e-10 * std::max(1.0, scale);
  for (size_t j = 0; j < k; ++j) {
    double d = q[j * k + j];
    if (d < -tol) return false;
    if (d <= tol) {
      for (size_t i = j + 1; i < k; ++i)
        if (std::fabs(q[i * k + j]) > std::sqrt(tol)) return false;
      continue;
    }
    const double r = std::sqrt(d);
    for (size_t i = j + 1; i < k; ++i) q[i * k + j] /= r;
    for (size_t i = j + 1; i < k; ++i)
      for (size_t l = j + 1; l <= i; ++l) q[i * k + l] -= q[i * k + j] * q[l * k + j];
  }
  return true;
}

namespace {

// Whether sense * Q of the objective is positive semidefinite, as far as checked. HiGHS's QP
// solver takes convex objectives only and reports stationary points of others as optimal.
bool convexObjective(const ko_prob_struct *p) {
  // the terms of each entry summed (the store may hold an entry in several terms)
  return semidefinite(mergedTerms(p->qobj), p->objsense < 0 ? -1.0 : 1.0);
}

// The engine for the content of a model, the one place where engines are chosen: `nonlinear`
// is content beyond linear rows and a quadratic objective that stays after lowering,
// `discrete` integer restrictions of columns or of the reformulations.
Engine chooseEngine(const Lowered &low, bool nonlinear, bool discrete, bool directives) {
  const bool mip = discrete && !low.relax;
  if (nonlinear || (mip && low.quadratic)) return mip ? Engine::Bonmin : Engine::Ipopt;
  if (mip && directives && !low.multiobj) return Engine::Cbc;
  // large continuous QPs: HiGHS's QP solver stalls on them (benchmarks/qp)
  if (low.quadratic && !discrete && !low.multiobj && low.ncols > kQpDirectColumns) return Engine::Ipopt;
  return Engine::Highs;
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

}  // namespace

std::vector<QTerm> mergedTerms(std::vector<QTerm> q) {
  for (QTerm &t : q)
    if (t.i > t.j) std::swap(t.i, t.j);
  std::sort(q.begin(), q.end(), [](const QTerm &a, const QTerm &b) { return a.i != b.i ? a.i < b.i : a.j < b.j; });
  std::vector<QTerm> out;
  for (const QTerm &t : q) {
    if (!out.empty() && out.back().i == t.i && out.back().j == t.j) out.back().value += t.value;
    else out.push_back(t);
  }
  out.erase(std::remove_if(out.begin(), out.end(), [](const QTerm &t) { return t.value == 0.0; }), out.end());
  return out;
}

PartialForm partialForm(const ko_prob_struct &p, int j) {
  const Column &c = p.cols[size_t(j)];
  const double limit = colLimit(p, size_t(j));
  if (!isInf(c.ub) && c.ub < limit) return PartialForm::Integer;
  if (c.lb >= limit) return PartialForm::Continuous;
  if (isInf(c.lb)) return PartialForm::Unbounded;
  const double top = std::ceil(limit) - 1;            // largest integer below the limit
  return top < std::ceil(c.lb) ? PartialForm::Continuous : PartialForm::Split;
}

namespace {

double solverBound(double v) {
  const double inf = std::numeric_limits<double>::infinity();
  return v >= kInf ? inf : v <= -kInf ? -inf : v;
}

void fillRowRhs(const ko_prob_struct *p, Lowered &low) {
  low.rhs.resize(size_t(low.nrows));
  for (int i = 0; i < low.nrows; ++i) low.rhs[size_t(i)] = p->rows[size_t(i)].rhs;
}

// A user row's bounds in the solver.
void rowBounds(const ko_prob_struct &p, size_t i, double &lo, double &up) {
  const Row &r = p.rows[i];
  const double inf = std::numeric_limits<double>::infinity();
  lo = -inf;
  up = inf;
  switch (r.type) {
    case 'L': up = solverBound(r.rhs); break;
    case 'G': lo = solverBound(r.rhs); break;
    case 'E': lo = up = solverBound(r.rhs); break;
    case 'R': up = solverBound(r.rhs); lo = solverBound(rowBottom(p, i)); break;
    default: break;   // N: free
  }
}

// A user column's bounds and type in the solver, but for the split form of a partial-integer
// column (planned separately, with its auxiliary column and row).
void columnBounds(const ko_prob_struct &p, size_t j, bool binaryforms, double &lo, double &up, HighsInt &type) {
  const Column &c = p.cols[j];
  const double limit = colLimit(p, j);
  lo = solverBound(c.lb);
  up = solverBound(c.ub);
  type = kHighsVarTypeContinuous;
  switch (c.type) {
    case 'B': type = kHighsVarTypeInteger; lo = std::max(lo, 0.0); up = std::min(up, 1.0); break;
    case 'I': type = kHighsVarTypeInteger; break;
    case 'S':
    case 'R':
      type = c.type == 'S' ? kHighsVarTypeSemiContinuous : kHighsVarTypeSemiInteger;
      if (limit != 0.0) lo = limit;
      if (binaryforms) {   // 0 or [lo, up]: the range here, the rest through a binary
        type = c.type == 'S' ? kHighsVarTypeContinuous : kHighsVarTypeInteger;
        lo = std::min(lo, 0.0);
        up = std::max(up, 0.0);
      }
      break;
    case 'P':
      switch (partialForm(p, int(j))) {
        case PartialForm::Integer: type = kHighsVarTypeInteger; break;
        case PartialForm::Continuous:
        case PartialForm::Unbounded: lo = std::max(lo, limit); break;
        case PartialForm::Split: break;   // x = y + s: in the reformulation or the split column
      }
      break;
    default: break;
  }
}

}  // namespace

int planLowering(ko_prob_struct *p, Lowered &low, bool relax, bool global) {
  p->matrix.fold();   // the lowering's readers may run on several threads
  low = Lowered();
  low.relax = relax;
  low.ncols = static_cast<int>(p->cols.size());
  low.nrows = static_cast<int>(p->rows.size());
  low.quadratic = !p->qobj.empty();
  low.multiobj = !p->objectives.empty();
  for (const auto &c : p->cols) low.discrete = low.discrete || isDiscrete(c.type);
  if (int rc = compileFormulas(p, low)) return rc;
  // what the lowering leaves nonlinear, and whether reformulations add integer columns
  low.convexobj = convexObjective(p);
  bool nonlinear = hasQuadraticRows(p) || !low.convexobj, nonsmooth = false;
  auto look = [&](const std::vector<nl::Tape> &tapes) {
    for (const nl::Tape &t : tapes) {
      if (!nl::shape(t).pwaffine.back()) nonlinear = true;
      for (const nl::Node &nd : t.nodes) nonsmooth = nonsmooth || nl::isNonsmooth(nd);
    }
  };
  for (const auto &tapes : low.tapes) look(tapes);
  look(low.objtapes);
  bool indicators = false;
  for (size_t i = 0; i < p->indicators.size() && !indicators; ++i) indicators = activeIndicator(p, i);
  const bool reformed = nonsmooth || !p->sets.empty() || indicators || !p->pwls.empty() || !p->gencons.empty();
  low.engine = global ? Engine::Scip : chooseEngine(low, nonlinear, low.discrete || reformed, !p->dirs.empty());
  if (global && low.multiobj)
    return fail(p, kErrUnsupported, "Cannot solve this problem globally: it has several objectives");
  if (low.multiobj && (low.quadratic || low.nonlinearEngine() || !low.objtapes.empty()))
    return fail(p, kErrUnsupported, "Cannot solve this problem: it has several objectives together with %s",
                low.quadratic ? "a quadratic objective" : "nonlinear content");
  for (size_t i = 0; indicators && i < p->indicators.size(); ++i)
      if (activeIndicator(p, i) && ((i < p->qrows.size() && !p->qrows[i].empty()) ||
                                    (i < low.tapes.size() && !low.tapes[i].empty())))
        return fail(p, kErrUnsupported,
                    "Cannot solve this problem: indicator constraint on row '%s' whose row has nonlinear terms",
                    objectName(*p, 1, int(i)).c_str());
  // semi-continuous and partial-integer columns as binaries where HiGHS does not take them
  low.binaryforms = low.engine != Engine::Highs || (relax && low.quadratic);
  low.hcols = low.ncols;
  low.hrows = low.nrows;
  for (int j = 0; j < low.ncols; ++j) {
    const Column &c = p->cols[j];
    if (c.type != 'P') continue;
    const PartialForm form = partialForm(*p, j);
    if (form == PartialForm::Unbounded)
      return fail(p, kErrUnsupported,
                  "Cannot solve this problem: partial-integer column %d has no finite lower bound", j);
    if (form != PartialForm::Split || low.binaryforms) continue;
    if (low.split.empty()) low.split.assign(low.ncols, -1);
    low.split[j] = low.hcols++;
    if (!isInf(c.ub)) ++low.hrows;
  }
  fillRowRhs(p, low);
  size_t nz = size_t(p->matrix.nnz());   // a split column's entries twice, with its tie row
  for (int j = 0; j < low.ncols && low.hasSplit(); ++j)
    if (low.split[j] >= 0) nz += p->matrix.col(j).size() + 2;
  if (nz >= static_cast<size_t>(INT_MAX) || p->qobj.size() >= static_cast<size_t>(INT_MAX))
    return fail(p, kErrUnsupported, "Cannot solve this problem: it has more than %d coefficients", INT_MAX - 1);
  return planReform(p, low);   // sets, indicator, piecewise-linear and general constraints, formulas
}

void buildArrays(const ko_prob_struct *p, const Lowered &low, ModelArrays &a, bool borrow) {
  const double inf = std::numeric_limits<double>::infinity();
  const int n = low.hcols, m = low.hrows;

  a = ModelArrays();
  a.sense = p->objsense < 0 ? -1 : 1;
  a.offset = p->objconst;
  std::vector<double> &cost = a.cost, &lower = a.lower, &upper = a.upper, &rowlo = a.rowlo, &rowup = a.rowup;
  std::vector<int> &integrality = a.integrality;
  // the user's rows and columns first, each value written once; the auxiliary ones after them
  // (large models fill the rows beside the columns)
  Beside rowFiller(fillBeside(int64_t(n) + int64_t(m)), [&] {
    rowlo.reserve(m);
    rowup.reserve(m);
    for (int i = 0; i < low.nrows; ++i) {
      double lo, up;
      rowBounds(*p, size_t(i), lo, up);
      rowlo.push_back(lo);
      rowup.push_back(up);
    }
  });
  // a user column's bounds and type, its split form's integer part included
  auto userColumn = [&](int j, double &lo, double &up, HighsInt &type) {
    columnBounds(*p, size_t(j), low.binaryforms, lo, up, type);
    if (low.hasSplit() && low.split[size_t(j)] >= 0) {
      type = kHighsVarTypeInteger;
      up = std::ceil(colLimit(*p, size_t(j))) - 1;
    }
  };
  // each array of the columns on a thread of its own when large (the auxiliary columns' entries
  // are zero, continuous, until set below)
  const bool besides = fillBeside(int64_t(n) + int64_t(m));
  Beside costFiller(besides, [&] {
    cost.resize(n);
    for (int j = 0; j < low.ncols; ++j) cost[size_t(j)] = p->cols[size_t(j)].cost;
  });
  Beside upperFiller(besides, [&] {
    upper.resize(n);
    double lo, up;
    HighsInt type;
    for (int j = 0; j < low.ncols; ++j) {
      userColumn(j, lo, up, type);
      upper[size_t(j)] = up;
    }
  });
  Beside typeFiller(besides && low.discrete, [&] {
    if (!low.discrete) return;
    integrality.resize(n, kHighsVarTypeContinuous);
    double lo, up;
    HighsInt type;
    for (int j = 0; j < low.ncols; ++j) {
      userColumn(j, lo, up, type);
      integrality[size_t(j)] = type;
    }
  });
  lower.resize(n);
  for (int j = 0; j < low.ncols; ++j) {
    double up;
    HighsInt type;
    userColumn(j, lower[size_t(j)], up, type);
  }
  std::vector<std::pair<int, int>> splitpairs;   // (user column, aux column)
  for (int j = 0; j < low.ncols && low.hasSplit(); ++j)
    if (low.split[size_t(j)] >= 0) splitpairs.emplace_back(j, low.split[size_t(j)]);
  costFiller.join();
  upperFiller.join();
  typeFiller.join();
  rowFiller.join();
  rowlo.resize(m);
  rowup.resize(m);

  // Split columns' continuous parts; auxiliary rows (one per split column with a finite upper
  // bound) follow the user's.
  std::vector<std::vector<std::pair<int, double>>> auxrows;
  for (const auto &js : splitpairs) {
    const Column &c = p->cols[js.first];
    const double first = std::ceil(c.lb);
    const int j = js.first, s = js.second;
    // s in {0} u [limit - ceil(lb), ub - ceil(lb)]: x = y + s reaches [limit, ub]
    cost[s] = c.cost;
    lower[s] = colLimit(*p, size_t(j)) - first;
    upper[s] = isInf(c.ub) ? inf : c.ub - first;
    integrality[s] = kHighsVarTypeSemiContinuous;
    if (!isInf(c.ub)) {
      const int r = low.nrows + static_cast<int>(auxrows.size());
      auxrows.push_back({{j, 1.0}, {s, 1.0}});
      rowlo[r] = -inf;
      rowup[r] = c.ub;
    }
  }
  std::vector<int> &start = a.start, &index = a.index;
  std::vector<double> &value = a.value;
  // Column-wise matrix: the user's columns, then the auxiliary columns (copies of their
  // user column plus the tie row). Without auxiliary items or entries the reformulation adds to
  // user rows it is the store's: borrowed when that is packed.
  const ColMatrix &mat = p->matrix;
  if (borrow && mat.packed() && !low.hasAux() && low.reform.rowcoefs.empty()) {
    a.borrowed = {mat.start(), mat.index(), mat.value(), static_cast<int>(mat.nnz())};
  } else {
    start.assign(n + 1, 0);
    std::vector<int> tierow(n, -1);
    for (size_t k = 0; k < auxrows.size(); ++k)
      for (const auto &cv : auxrows[k]) tierow[cv.first] = low.nrows + static_cast<int>(k);
    size_t nz = size_t(mat.nnz()) + auxrows.size() * 2;
    for (const auto &js : splitpairs) nz += mat.col(js.first).size();
    index.reserve(nz);
    value.reserve(nz);
    auto addColumn = [&](int col, const ColumnView &coefs, int tie) {
      start[col] = static_cast<HighsInt>(index.size());
      for (const Entry e : coefs) {
        index.push_back(e.index);
        value.push_back(e.value);
      }
      if (tie >= 0) {
        index.push_back(tie);
        value.push_back(1.0);
      }
    };
    for (int j = 0; j < low.ncols; ++j) addColumn(j, mat.col(j), tierow[j]);
    for (const auto &js : splitpairs) addColumn(js.second, mat.col(js.first), tierow[js.second]);
    start[n] = static_cast<HighsInt>(index.size());
  }

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
  for (int i = 0; i < low.nrows && !low.rowconst.empty(); ++i) {
    a.rowlo[size_t(i)] -= low.rowconst[size_t(i)];
    a.rowup[size_t(i)] -= low.rowconst[size_t(i)];
  }
  // HiGHS solves no MIQP: its relaxation goes without integrality
  if (low.relax && low.quadratic && !low.nonlinearEngine()) a.integrality.clear();
}

int passArrays(ko_prob_struct *p, void *h, const ModelArrays &a) {
  const int n = static_cast<int>(a.cost.size()), m = static_cast<int>(a.rowlo.size());
  const int qnz = static_cast<int>(a.qindex.size());
  std::string reason;
  HighsInt rc;
  {
    HighsSession session(p, h);
    rc = Highs_passModel(h, n, m, a.nnz(), qnz, kHighsMatrixFormatColwise,
                         qnz ? kHighsHessianFormatTriangular : 0, a.sense, a.offset, a.cost.data(), a.lower.data(),
                         a.upper.data(), a.rowlo.data(), a.rowup.data(), a.colStart(), a.rowIndex(),
                         a.coefValue(), qnz ? a.qstart.data() : nullptr, qnz ? a.qindex.data() : nullptr,
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

namespace {

void sortUnique(std::vector<int> &v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

// The value of a coefficient in the store (0 when absent).
double coefAt(const ko_prob_struct *p, int row, int col) {
  return p->matrix.col(col).at(row);
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
    for (int i = 0; i < n; ++i) rowBounds(*p, size_t(oldrows + i), lo[i], up[i]);
    // coefficients of the new rows in the old columns, row-wise (a column's rows increase)
    std::vector<HighsInt> start(n + 1, 0), index;
    std::vector<double> value;
    for (int j = 0; j < oldcols; ++j) {
      const ColumnView e = p->matrix.col(j);
      for (size_t k = e.size(); k > 0 && e[k - 1].index >= oldrows; --k) ++start[e[k - 1].index - oldrows + 1];
    }
    for (int i = 0; i < n; ++i) start[i + 1] += start[i];
    index.resize(size_t(start[n]));
    value.resize(size_t(start[n]));
    std::vector<HighsInt> fill(start.begin(), start.end() - 1);
    for (int j = 0; j < oldcols; ++j) {
      const ColumnView e = p->matrix.col(j);
      for (size_t q = e.lowerBound(oldrows); q < e.size(); ++q) {
        const Entry it = e[q];
        const HighsInt k = fill[it.index - oldrows]++;
        index[size_t(k)] = j;
        value[size_t(k)] = it.value;
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
      columnBounds(*p, size_t(oldcols + j), low.binaryforms, lo[j], up[j], type[j]);
      cost[j] = p->cols[size_t(oldcols + j)].cost;
      start[j] = HighsInt(index.size());
      for (const Entry e : p->matrix.col(oldcols + j)) {
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
      columnBounds(*p, size_t(c.cols[k]), low.binaryforms, lo[k], up[k], type[k]);
      cost[k] = p->cols[size_t(c.cols[k])].cost;
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
    for (size_t k = 0; k < c.rows.size(); ++k) rowBounds(*p, size_t(c.rows[k]), lo[k], up[k]);
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

// The instance part of prepareOwnHighs, for a model planned for HiGHS.
static int prepareInstance(ko_prob_struct *p, Lowered &low, ModelArrays &a, bool &pass) {
  if (!p->highs) {
    p->highs = newHighs();
    if (!p->highs) return fail(p, kErrMemory, "The solver could not be created (out of memory)");
    p->highs_stale = true;
  }
  // changes the instance can take in place: a lowering of the user's items only, before and now,
  // of the same kind (a Hessian's size is fixed at its columns)
  const bool plain = !low.hasSplit() && !low.hasAux() && !low.multiobj && !low.transientArrays();
  if (!p->highs_stale && p->pending.any()) {
    const bool inplace = plain && p->highs_plain && low.discrete == p->highs_discrete &&
                         low.quadratic == p->highs_quadratic && !(low.quadratic && low.ncols != p->pending.ncols);
    if (!inplace || !applyPending(p, low)) p->highs_stale = true;
  }
  p->pending.clear();
  pass = p->highs_stale || low.transientArrays();
  if (pass) {
    if (low.engine == Engine::Highs) std::vector<double>().swap(low.rhs);   // until passOwnHighs is done
    buildArrays(p, low, a, true);
    p->highs_plain = plain;
    p->highs_discrete = low.discrete;
    p->highs_quadratic = low.quadratic;
  }
  return 0;
}

int prepareOwnHighs(ko_prob_struct *p, Lowered &low, ModelArrays &a, bool &pass, bool relax, bool global) {
  pass = false;
  if (int rc = planLowering(p, low, relax, global)) return rc;
  if (low.nonlinearEngine()) {
    buildArrays(p, low, a);
    return 0;
  }
  return prepareInstance(p, low, a, pass);
}

int passOwnHighs(ko_prob_struct *p, Lowered &low, ModelArrays &a) {
  const int rc = passArrays(p, p->highs, a);
  a = ModelArrays();   // HiGHS holds its own copy
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  fillRowRhs(p, low);
  if (rc == 0) p->highs_stale = false;
  return rc;
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
    if (int rc = planLowering(p, low)) return rc;
    // what HiGHS takes goes to HiGHS, also where a solve would choose another engine for it
    if (low.engine == Engine::Ipopt && low.tapes.empty() && low.objtapes.empty()) low.engine = Engine::Highs;
    if (low.nonlinearEngine()) return fail(p, kErrUnsupported, "The solver cannot take this problem");
    if (int rc = prepareInstance(p, low, arrays, pass)) return rc;
  }
  return pass ? passOwnHighs(p, low, arrays) : 0;
}

}  // namespace
}  // namespace krvx

extern "C" KRVX_API int KRVXlowerforbenchmark(KRVXprob prob) {
  return krvx::shielded(prob, __func__, [&] { return krvx::lowerOnly(prob); });
}
