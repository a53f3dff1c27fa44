#include "solve/reform.h"
#include "solve/highs_lower.h"
#include "core/call_guard.h"
#include "core/model.h"
#include "nl/nl.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>

namespace krvx {
namespace {

constexpr double kPlusInf = std::numeric_limits<double>::infinity();

using Coefs = std::vector<std::pair<int, double>>;

struct Range { double lo, up; };

// Every value a user column can take lies in its range (semi-continuous columns: 0 included).
Range colRange(const ko_prob_struct &p, int j) {
  const Column &c = p.cols[size_t(j)];
  double lo = c.lb, up = c.ub;
  switch (c.type) {
    case 'B': lo = std::max(lo, 0.0); up = std::min(up, 1.0); break;
    case 'I': lo = isInf(lo) ? lo : std::ceil(lo); up = isInf(up) ? up : std::floor(up); break;
    case 'S':
    case 'R':
      lo = std::min(semiLower(p, size_t(j)), 0.0);
      up = std::max(up, 0.0);
      break;
    default: break;
  }
  return {lo, up};
}

bool isBinary(const ko_prob_struct &p, int j) {
  if (p.cols[size_t(j)].type != 'B' && p.cols[size_t(j)].type != 'I') return false;
  const Range r = colRange(p, j);
  return r.lo >= 0.0 && r.up <= 1.0;
}

// Builds the auxiliary columns and rows of one model; refusals throw krvx::Error.
class Planner {
 public:
  Planner(const ko_prob_struct *p, Lowered &low) : p_(p), low_(low), r_(low.reform) {}

  void sos(int s);
  void indicator(int i, const Coefs &row);
  void pwl(int k) { pwl(p_->pwls[k], "Piecewise-linear constraint '" + objectName(*p_, 4, k) + "'"); }
  void gencons(int k);
  void semicontinuous(int j);
  void partialSplit(int j);
  // Lowers the non-smooth nodes of a formula tape of user row `row` (-1: the objective);
  // returns the tape left over, or an empty one when the formula became affine.
  nl::Tape formula(const nl::Tape &t, int row);
  // tapes of auxiliary rows: (index in r_.rows, tape)
  std::vector<std::pair<int, nl::Tape>> rowtapes;

 private:
  Range range(int j) const {
    if (j < static_cast<int>(p_->cols.size())) return colRange(*p_, j);
    const Reform::Col &c = r_.cols[size_t(j - r_.firstcol)];
    return {c.lb, c.ub};
  }
  std::string col(int j) const {
    if (j >= static_cast<int>(p_->cols.size())) return auxwhat_[size_t(j - r_.firstcol)];
    return "column '" + objectName(*p_, 2, j) + "'";
  }
  // the finite bound a reformulation needs of column j, else the refusal naming `what`
  double upper(int j, const std::string &what) const {
    const double u = range(j).up;
    if (isInf(u))
      raise(kErrUnsupported, "%s: %s has no finite upper bound (needed for the reformulation)", what.c_str(),
            col(j).c_str());
    return u;
  }
  double lower(int j, const std::string &what) const {
    const double l = range(j).lo;
    if (isInf(l))
      raise(kErrUnsupported, "%s: %s has no finite lower bound (needed for the reformulation)", what.c_str(),
            col(j).c_str());
    return l;
  }
  void requireBinary(int j, const std::string &what) const {
    if (!isBinary(*p_, j))
      raise(kErrUnsupported, "%s: %s is not binary", what.c_str(), col(j).c_str());
  }
  int addCol(double lb, double ub, bool integer, std::string what = "an auxiliary column") {
    r_.cols.push_back({lb, ub, integer});
    auxwhat_.push_back(std::move(what));
    return r_.firstcol + static_cast<int>(r_.cols.size()) - 1;
  }
  int binary() { return addCol(0.0, 1.0, true); }
  void addRow(double lo, double up, Coefs coefs, int copy = -1) {
    r_.rows.push_back({lo, up, std::move(coefs), copy});
  }
  void atMostOneGroup(const std::string &what, const std::vector<int> &members, int width);
  void maxMin(const GenCons &g, double sign, const std::string &what);
  void andOr(const GenCons &g, bool isand, const std::string &what);
  void absolute(const GenCons &g, const std::string &what);
  void pwl(const PwlCons &c, const std::string &what);
  void sign(int y, int x, const std::string &what);

  const ko_prob_struct *p_;
  Lowered &low_;
  Reform &r_;
  std::vector<std::string> auxwhat_;   // per auxiliary column: how refusals name it
};

// Members in order; at most one group of `width` consecutive members is nonzero: one binary per
// group, member k within [min(l,0), max(u,0)] times the sum of the binaries of its groups.
void Planner::atMostOneGroup(const std::string &what, const std::vector<int> &members, int width) {
  const int n = static_cast<int>(members.size());
  if (n <= width) return;
  const int ngroups = n - width + 1;
  std::vector<int> z(ngroups);
  for (int &b : z) b = binary();
  for (int k = 0; k < n; ++k) {
    const int x = members[k];
    const Range rx = range(x);
    const int g0 = std::max(0, k - width + 1), g1 = std::min(k, ngroups - 1);
    auto bound = [&](double m) {
      Coefs c{{x, 1.0}};
      for (int g = g0; g <= g1; ++g) c.push_back({z[g], -m});
      return c;
    };
    if (rx.up > 0.0) addRow(-kPlusInf, 0.0, bound(upper(x, what)));
    if (rx.lo < 0.0) addRow(0.0, kPlusInf, bound(lower(x, what)));
  }
  Coefs sum;
  for (int b : z) sum.push_back({b, 1.0});
  addRow(-kPlusInf, 1.0, std::move(sum));
}

void Planner::sos(int s) {
  const Set &set = p_->sets[s];
  std::vector<int> order(set.cols.size());
  std::iota(order.begin(), order.end(), 0);
  if (set.weights.size() == set.cols.size())
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return set.weights[a] < set.weights[b]; });
  std::vector<int> members;
  for (int k : order) members.push_back(set.cols[k]);
  atMostOneGroup("SOS set '" + objectName(*p_, 3, s) + "'", members, set.type == '2' ? 2 : 1);
}

// Row i (coefficients `row`) holds while the indicator is on: the user row is lowered free and
// each side becomes a copy of it relaxed by M times the indicator being off, M from the row's
// activity bounds.
void Planner::indicator(int i, const Coefs &row) {
  const Indicator &ind = p_->indicators[i];
  const Row &r = p_->rows[i];
  const std::string what = "Indicator constraint on row '" + objectName(*p_, 1, i) + "'";
  requireBinary(ind.col, what);
  const bool on1 = ind.complement > 0;   // enforced when the column is 1
  bool hasup = false, haslo = false;
  double up = r.rhs, lo = r.rhs;
  switch (r.type) {
    case 'L': hasup = true; break;
    case 'G': haslo = true; break;
    case 'E': hasup = haslo = true; break;
    case 'R': hasup = haslo = true; lo = rowBottom(*p_, size_t(i)); break;
    default: return;   // N: nothing to enforce
  }
  r_.freed.push_back(i);
  if (hasup && !isInf(up)) {
    double top = 0.0;
    for (const auto &cv : row) top += cv.second * (cv.second > 0 ? upper(cv.first, what) : lower(cv.first, what));
    const double m = top - up;
    if (m > 0) {
      // on1: a.x <= up + M (1 - b);  else: a.x <= up + M b
      if (on1) addRow(-kPlusInf, up + m, {{ind.col, m}}, i);
      else addRow(-kPlusInf, up, {{ind.col, -m}}, i);
    }
  }
  if (haslo && !isInf(lo)) {
    double bottom = 0.0;
    for (const auto &cv : row)
      bottom += cv.second * (cv.second > 0 ? lower(cv.first, what) : upper(cv.first, what));
    const double m = lo - bottom;
    if (m > 0) {
      // on1: a.x >= lo - M (1 - b);  else: a.x >= lo - M b
      if (on1) addRow(lo - m, kPlusInf, {{ind.col, -m}}, i);
      else addRow(lo, kPlusInf, {{ind.col, m}}, i);
    }
  }
}

// y = f(x) through weights lambda on the breakpoints (x = sum lambda x_k, y = sum lambda y_k,
// sum lambda = 1) that only one piece may carry: a segment between breakpoints of different x,
// or a breakpoint that no such segment holds. A repeated x is a jump: both values are taken
// there. Beyond the ends the end segments extend to the bounds of x; an end that is a jump (or
// a single breakpoint) is the end of the domain.
void Planner::pwl(const PwlCons &c, const std::string &what) {
  std::vector<double> xs(c.x), ys(c.y);
  if (xs.empty() || xs.size() != ys.size()) raise(kErrUnsupported, "%s has no breakpoints", what.c_str());
  for (size_t t = 1; t < xs.size(); ++t)
    if (xs[t] < xs[t - 1])
      raise(kErrUnsupported, "%s: breakpoint %zu has a smaller x than the one before", what.c_str(), t);
  const Range rx = range(c.col);
  if (xs.size() >= 2 && rx.lo < xs[0] && xs[1] > xs[0]) {
    const double l = lower(c.col, what);
    const double yl = ys[0] + (l - xs[0]) * (ys[1] - ys[0]) / (xs[1] - xs[0]);
    xs.insert(xs.begin(), l);
    ys.insert(ys.begin(), yl);
  }
  const size_t e = xs.size() - 1;
  if (xs.size() >= 2 && rx.up > xs[e] && xs[e] > xs[e - 1]) {
    const double u = upper(c.col, what);
    ys.push_back(ys[e] + (u - xs[e]) * (ys[e] - ys[e - 1]) / (xs[e] - xs[e - 1]));
    xs.push_back(u);
  }
  const int n = static_cast<int>(xs.size());
  if (n == 1) {
    addRow(xs[0], xs[0], {{c.col, 1.0}});
    addRow(ys[0], ys[0], {{c.resultant, 1.0}});
    return;
  }
  std::vector<int> lambda(n);
  Coefs xrow{{c.col, 1.0}}, yrow{{c.resultant, 1.0}}, sum;
  for (int t = 0; t < n; ++t) {
    lambda[t] = addCol(0.0, 1.0, false);
    xrow.push_back({lambda[t], -xs[t]});
    yrow.push_back({lambda[t], -ys[t]});
    sum.push_back({lambda[t], 1.0});
  }
  addRow(0.0, 0.0, std::move(xrow));
  addRow(0.0, 0.0, std::move(yrow));
  addRow(1.0, 1.0, std::move(sum));
  // pieces: [first, last] breakpoints
  std::vector<std::pair<int, int>> pieces;
  std::vector<char> held(n, 0);
  for (int t = 0; t + 1 < n; ++t)
    if (xs[t + 1] > xs[t]) {
      pieces.push_back({t, t + 1});
      held[t] = held[t + 1] = 1;
    }
  for (int t = 0; t < n; ++t)
    if (!held[t]) pieces.push_back({t, t});
  if (pieces.size() == 1) return;
  std::vector<Coefs> cover(n);
  Coefs one;
  for (const auto &pc : pieces) {
    const int z = binary();
    one.push_back({z, 1.0});
    for (int t = pc.first; t <= pc.second; ++t) cover[t].push_back({z, -1.0});
  }
  addRow(1.0, 1.0, std::move(one));
  for (int t = 0; t < n; ++t) {
    cover[t].push_back({lambda[t], 1.0});
    addRow(-kPlusInf, 0.0, std::move(cover[t]));
  }
}

void Planner::gencons(int k) {
  const GenCons &g = p_->gencons[k];
  const std::string what = "General constraint '" + objectName(*p_, 5, k) + "'";
  switch (g.type) {
    case 0: maxMin(g, 1.0, what); break;
    case 1: maxMin(g, -1.0, what); break;
    case 2: andOr(g, true, what); break;
    case 3: andOr(g, false, what); break;
    case 4: absolute(g, what); break;
    default: raise(kErrUnsupported, "%s has the unknown type %d", what.c_str(), g.type);
  }
}

// sign 1: y = max(x..., c...); sign -1: y = min, written as -y = max(-x..., -c...). Y >= each
// operand, and Y <= operand k + M_k (1 - z_k) with one z chosen; M_k = top - (lowest operand k),
// top = the lowest of Y's bound and the operands' highest values.
void Planner::maxMin(const GenCons &g, double sign, const std::string &what) {
  const int y = g.resultant;
  const bool hasconst = !g.vals.empty();
  double c = 0.0;   // the constant operand, signed
  if (hasconst) {
    c = sign * g.vals[0];
    for (double v : g.vals) c = std::max(c, sign * v);
  }
  const size_t nops = g.cols.size() + (hasconst ? 1 : 0);
  if (nops == 0) raise(kErrUnsupported, "%s has no operands", what.c_str());
  if (nops == 1) {
    if (hasconst) addRow(sign * c, sign * c, {{y, 1.0}});
    else addRow(0.0, 0.0, {{y, 1.0}, {g.cols[0], -1.0}});
    return;
  }
  // signed bounds: highest (needed for top) and lowest (needed for M) of each operand
  auto high = [&](int j) { return sign > 0 ? upper(j, what) : -lower(j, what); };
  auto low = [&](int j) { return sign > 0 ? lower(j, what) : -upper(j, what); };
  const Range ry = range(y);
  double top = sign > 0 ? ry.up : -ry.lo;
  if (isInf(top)) {
    top = hasconst ? c : -kPlusInf;
    for (int j : g.cols) top = std::max(top, high(j));
  }
  Coefs one;
  auto operand = [&](int j, double lowest) {
    const double m = top - lowest;
    const int z = binary();
    one.push_back({z, 1.0});
    if (j >= 0) {
      addRow(0.0, kPlusInf, {{y, sign}, {j, -sign}});
      addRow(-kPlusInf, m, {{y, sign}, {j, -sign}, {z, m}});
    } else {
      addRow(c, kPlusInf, {{y, sign}});
      addRow(-kPlusInf, c + m, {{y, sign}, {z, m}});
    }
  };
  for (int j : g.cols) operand(j, low(j));
  if (hasconst) operand(-1, c);
  addRow(1.0, 1.0, std::move(one));
}

// Over binary columns: and: y <= x_i, y >= sum x - (n - 1); or: y >= x_i, y <= sum x; y kept in
// [0, 1]. A constant operand counts as true above 0.5.
void Planner::andOr(const GenCons &g, bool isand, const std::string &what) {
  const int y = g.resultant;
  for (int j : g.cols) requireBinary(j, what);
  const Range ry = range(y);
  if (ry.lo < 0.0) addRow(0.0, kPlusInf, {{y, 1.0}});
  if (ry.up > 1.0) addRow(-kPlusInf, 1.0, {{y, 1.0}});
  for (double v : g.vals)
    if ((v > 0.5) != isand) {   // decides the result
      if (isand) addRow(-kPlusInf, 0.0, {{y, 1.0}});
      else addRow(1.0, kPlusInf, {{y, 1.0}});
      return;
    }
  const double n = static_cast<double>(g.cols.size());
  Coefs sum{{y, 1.0}};
  for (int j : g.cols) {
    sum.push_back({j, -1.0});
    if (isand) addRow(-kPlusInf, 0.0, {{y, 1.0}, {j, -1.0}});
    else addRow(0.0, kPlusInf, {{y, 1.0}, {j, -1.0}});
  }
  if (isand) addRow(1.0 - n, kPlusInf, std::move(sum));
  else addRow(-kPlusInf, 0.0, std::move(sum));
}

// y = |x|: x = p - q, y = p + q, p <= P z, q <= Q (1 - z), P and Q from the bounds of x and y.
void Planner::absolute(const GenCons &g, const std::string &what) {
  if (g.cols.size() != 1) raise(kErrUnsupported, "%s (abs) needs exactly one column", what.c_str());
  const int x = g.cols[0], y = g.resultant;
  const Range rx = range(x), ry = range(y);
  if (rx.lo >= 0.0 || rx.up <= 0.0) {
    addRow(0.0, 0.0, {{y, 1.0}, {x, rx.lo >= 0.0 ? -1.0 : 1.0}});
    return;
  }
  // |x| <= y's upper bound too
  const double pm = isInf(std::min(rx.up, ry.up)) ? upper(x, what) : std::min(rx.up, ry.up);
  const double qm = isInf(std::min(-rx.lo, ry.up)) ? -lower(x, what) : std::min(-rx.lo, ry.up);
  const int pc = addCol(0.0, pm, false), qc = addCol(0.0, qm, false), z = binary();
  addRow(0.0, 0.0, {{x, 1.0}, {pc, -1.0}, {qc, 1.0}});
  addRow(0.0, 0.0, {{y, 1.0}, {pc, -1.0}, {qc, -1.0}});
  addRow(-kPlusInf, 0.0, {{pc, 1.0}, {z, -pm}});
  addRow(-kPlusInf, qm, {{qc, 1.0}, {z, qm}});
}

// 0 or [l, u] with l > 0: l z <= x <= u z with a binary z (the column's bounds are [0, u]).
void Planner::semicontinuous(int j) {
  const double l = semiLower(*p_, size_t(j));
  if (l <= 0.0) return;   // 0 lies in [l, u]: the bounds say all
  const std::string what = "Semi-continuous " + col(j);
  const double u = upper(j, what);
  const int z = binary();
  addRow(0.0, kPlusInf, {{j, 1.0}, {z, -l}});
  addRow(-kPlusInf, 0.0, {{j, 1.0}, {z, -u}});
}

// x in {integers of [lb, limit)} u [limit, ub]: x = y + s, y integer in [ceil(lb), top],
// s = 0 or in [limit - ceil(lb), ub - ceil(lb)] through a binary z.
void Planner::partialSplit(int j) {
  const Column &c = p_->cols[j];
  const std::string what = "Partial-integer " + col(j);
  const double limit = colLimit(*p_, size_t(j));
  const double first = std::ceil(c.lb), top = std::ceil(limit) - 1;
  const double span = upper(j, what) - first;
  const int y = addCol(first, top, true), sc = addCol(0.0, span, false), z = binary();
  addRow(0.0, 0.0, {{j, 1.0}, {y, -1.0}, {sc, -1.0}});
  addRow(0.0, kPlusInf, {{sc, 1.0}, {z, -(limit - first)}});
  addRow(-kPlusInf, 0.0, {{sc, 1.0}, {z, -span}});
}

// y = sign(x): binaries p (x >= 0) and q (x <= 0), at most one on, y = p - q; x <= U p,
// x >= L q, x >= L (1 - p), x <= U (1 - q). At x = 0 any sign the rows allow is taken.
void Planner::sign(int y, int x, const std::string &what) {
  const Range rx = range(x);
  if (rx.lo > 0.0 || rx.up < 0.0 || (rx.lo == 0.0 && rx.up == 0.0)) {
    const double v = rx.lo > 0.0 ? 1.0 : rx.up < 0.0 ? -1.0 : 0.0;
    addRow(v, v, {{y, 1.0}});
    return;
  }
  const double L = rx.lo < 0.0 ? lower(x, what) : 0.0, U = rx.up > 0.0 ? upper(x, what) : 0.0;
  const int pc = binary(), qc = binary();
  addRow(0.0, 0.0, {{y, 1.0}, {pc, -1.0}, {qc, 1.0}});
  addRow(-kPlusInf, 1.0, {{pc, 1.0}, {qc, 1.0}});
  addRow(-kPlusInf, 0.0, {{x, 1.0}, {pc, -U}});
  addRow(0.0, kPlusInf, {{x, 1.0}, {qc, -L}});
  addRow(L, kPlusInf, {{x, 1.0}, {pc, L}});
  addRow(-kPlusInf, U, {{x, 1.0}, {qc, U}});
}

namespace {
const char *functionName(int code) {
  switch (code) {
    case KRVN_FN_ABS: return "abs";
    case KRVN_FN_MIN: return "min";
    case KRVN_FN_MAX: return "max";
    case KRVN_FN_PWL: return "pwl";
    default: return "sign";
  }
}
double finite(double v) { return v >= kInf ? kPlusInf : v <= -kInf ? -kPlusInf : v; }
}  // namespace

nl::Tape Planner::formula(const nl::Tape &t, int row) {
  const std::string what = row < 0 ? "Formula of the objective" : "Formula of row '" + objectName(*p_, 1, row) + "'";
  const nl::Shape sh = nl::shape(t);
  std::vector<double> lo(p_->cols.size()), up(p_->cols.size());
  for (int c : t.cols) {
    const Range rc = range(c);
    lo[size_t(c)] = finite(rc.lo);
    up[size_t(c)] = finite(rc.up);
  }
  const std::vector<nl::Interval> iv = nl::intervals(t, lo, up);
  const UserFunctions none;
  std::vector<int> subst(t.nodes.size(), -1);
  auto constant = [&](int a) {
    Coefs coefs;
    double v = 0.0;
    nl::affineForm(nl::subtape(t, a, subst), none, coefs, v);
    return v;
  };
  // node a as a column: itself, or a new column defined by a row holding its subtree
  auto column = [&](int a, const char *fname) {
    if (subst[size_t(a)] >= 0) return subst[size_t(a)];
    if (t.nodes[size_t(a)].kind == nl::Kind::Var) return t.nodes[size_t(a)].code;
    const int w = addCol(iv[size_t(a)].lo, iv[size_t(a)].up, false, std::string("the argument of ") + fname);
    if (sh.pwaffine[size_t(a)]) {
      Coefs coefs;
      double c0 = 0.0;
      nl::affineForm(nl::subtape(t, a, subst), none, coefs, c0);
      Coefs row{{w, 1.0}};
      for (const auto &cv : coefs) row.push_back({cv.first, -cv.second});
      addRow(c0, c0, std::move(row));
    } else {
      addRow(0.0, 0.0, {{w, 1.0}});
      rowtapes.emplace_back(int(r_.rows.size()) - 1, nl::subtape(t, a, subst, -1.0));
    }
    subst[size_t(a)] = w;
    return w;
  };
  for (size_t k = 0; k < t.nodes.size(); ++k) {
    const nl::Node &nd = t.nodes[k];
    if (!nl::isNonsmooth(nd) || sh.constant[k]) continue;
    const int *args = t.args.data() + nd.first;
    const char *fname = functionName(nd.code);
    std::vector<int> cols;
    std::vector<double> vals;
    if (nd.code == KRVN_FN_MIN || nd.code == KRVN_FN_MAX) {
      for (int q = 0; q < nd.count; ++q) {
        if (sh.constant[size_t(args[q])]) vals.push_back(constant(args[q]));
        else cols.push_back(column(args[q], fname));
      }
    } else {
      cols.push_back(column(args[0], fname));
    }
    const int y = addCol(iv[k].lo, iv[k].up, false, std::string("the value of ") + fname);
    switch (nd.code) {
      case KRVN_FN_ABS: absolute(GenCons{4, y, cols, {}}, what); break;
      case KRVN_FN_MAX: maxMin(GenCons{0, y, cols, vals}, 1.0, what); break;
      case KRVN_FN_MIN: maxMin(GenCons{1, y, cols, vals}, -1.0, what); break;
      case KRVN_FN_PWL: {
        PwlCons c{cols[0], y, {}, {}};
        for (int q = 1; q + 1 < nd.count; q += 2) {
          c.x.push_back(t.nodes[size_t(args[q])].value);
          c.y.push_back(t.nodes[size_t(args[q + 1])].value);
        }
        pwl(c, what);
        break;
      }
      default: sign(y, cols[0], what); break;
    }
    subst[k] = y;
  }
  const int root = int(t.nodes.size()) - 1;
  nl::Tape rest = nl::subtape(t, root, subst);
  if (!sh.pwaffine[size_t(root)]) return rest;
  Coefs coefs;
  double c0 = 0.0;
  nl::affineForm(rest, none, coefs, c0);
  if (row < 0) {
    r_.objconst += c0;
    r_.objcoefs.insert(r_.objcoefs.end(), coefs.begin(), coefs.end());
  } else {
    if (low_.rowconst.empty()) low_.rowconst.assign(size_t(low_.nrows), 0.0);
    low_.rowconst[size_t(row)] += c0;
    for (const auto &cv : coefs) r_.rowcoefs.push_back({row, cv});
  }
  return nl::Tape();
}


}  // namespace

bool nativeSet(const ko_prob_struct &p, const Set &set) {
  for (int j : set.cols) {
    const Column &c = p.cols[size_t(j)];
    if ((c.type != 'C' && c.type != 'I' && c.type != 'B') || c.lb != 0.0) return false;
  }
  return true;
}

int planReform(ko_prob_struct *p, Lowered &low) {
  Reform &r = low.reform;
  r = Reform();
  r.firstcol = low.hcols;
  r.firstrow = low.hrows;
  bool indicators = false;
  std::vector<Coefs> rowcoefs;
  for (size_t i = 0; i < p->indicators.size() && i < p->rows.size(); ++i)
    if (p->indicators[i].col >= 0 && p->indicators[i].complement != 0) indicators = true;
  if (indicators) {
    rowcoefs.resize(p->rows.size());
    for (int j = 0; j < low.ncols; ++j)
      for (const Entry e : p->matrix.col(j))
        if (static_cast<size_t>(e.index) < p->indicators.size() && p->indicators[e.index].complement != 0 &&
            e.value != 0.0)
          rowcoefs[e.index].push_back({j, e.value});
  }
  std::vector<std::pair<int, nl::Tape>> auxtapes;
  try {
    Planner plan(p, low);
    if (low.binaryforms) {
      r.colbinaries.resize(size_t(low.ncols));
      for (int j = 0; j < low.ncols; ++j) {
        const Column &c = p->cols[j];
        const int first = r.firstcol + static_cast<int>(r.cols.size());
        if (c.type == 'S' || c.type == 'R') plan.semicontinuous(j);
        if (c.type == 'P' && partialForm(*p, j) == PartialForm::Split) plan.partialSplit(j);
        r.colbinaries[size_t(j)] = {first, r.firstcol + static_cast<int>(r.cols.size())};
      }
    }
    r.setbinaries.resize(p->sets.size());
    for (int s = 0; s < static_cast<int>(p->sets.size()); ++s) {
      // SCIP branches on every set itself, Bonmin on those it can hold at 0
      if (low.engine == Engine::Scip || (low.engine == Engine::Bonmin && nativeSet(*p, p->sets[size_t(s)]))) continue;
      const int first = r.firstcol + static_cast<int>(r.cols.size());
      plan.sos(s);
      r.setbinaries[size_t(s)] = {first, r.firstcol + static_cast<int>(r.cols.size())};
    }
    if (indicators)
      for (int i = 0; i < static_cast<int>(p->rows.size()) && i < static_cast<int>(p->indicators.size()); ++i)
        if (p->indicators[i].col >= 0 && p->indicators[i].complement != 0) plan.indicator(i, rowcoefs[i]);
    for (int k = 0; k < static_cast<int>(p->pwls.size()); ++k) plan.pwl(k);
    for (int k = 0; k < static_cast<int>(p->gencons.size()); ++k) plan.gencons(k);
    auto lowerTapes = [&](std::vector<nl::Tape> &tapes, int row) {
      std::vector<nl::Tape> rest;
      for (const nl::Tape &t : tapes) {
        nl::Tape left = plan.formula(t, row);
        if (!left.nodes.empty()) rest.push_back(std::move(left));
      }
      tapes.swap(rest);
    };
    for (size_t i = 0; i < low.tapes.size(); ++i) lowerTapes(low.tapes[i], int(i));
    lowerTapes(low.objtapes, -1);
    auxtapes = std::move(plan.rowtapes);
  } catch (const Error &e) {
    r = Reform();
    return fail(p, e.code, "Cannot solve this problem: %s", e.text.c_str());
  }
  if (!auxtapes.empty()) {
    low.tapes.resize(size_t(r.firstrow) + r.rows.size());
    for (auto &at : auxtapes) low.tapes[size_t(r.firstrow + at.first)].push_back(std::move(at.second));
  }
  bool integer = false;
  size_t nz = 0;
  for (const Reform::Col &c : r.cols) integer = integer || c.integer;
  for (const Reform::Row &row : r.rows)
    nz += 2 * (row.coefs.size() + (row.copy >= 0 ? rowcoefs[row.copy].size() : 0));
  if (nz >= static_cast<size_t>(INT_MAX / 2) || r.cols.size() + r.rows.size() >= static_cast<size_t>(INT_MAX / 2))
    return fail(p, kErrUnsupported, "Cannot solve this problem: its reformulation is too large");
  low.discrete = low.discrete || integer;
  low.hcols += static_cast<int>(r.cols.size());
  low.hrows += static_cast<int>(r.rows.size());
  return 0;
}

void applyReform(const Lowered &low, ModelArrays &a) {
  const Reform &r = low.reform;
  if (r.empty()) return;
  const double inf = kPlusInf;
  for (int i : r.freed) {
    a.rowlo[i] = -inf;
    a.rowup[i] = inf;
  }
  if (a.integrality.empty() && std::any_of(r.cols.begin(), r.cols.end(), [](const Reform::Col &c) { return c.integer; }))
    a.integrality.assign(size_t(low.hcols), kHighsVarTypeContinuous);
  for (size_t k = 0; k < r.cols.size(); ++k) {
    const int j = r.firstcol + static_cast<int>(k);
    a.lower[j] = r.cols[k].lb;
    a.upper[j] = r.cols[k].ub;
    a.cost[j] = r.cols[k].cost;
    if (r.cols[k].integer) a.integrality[j] = kHighsVarTypeInteger;
  }
  // a user column's value is its split part's too
  auto withSplit = [&](int j, auto &&add) {
    add(j);
    if (j < low.ncols && !low.split.empty() && low.split[j] >= 0) add(low.split[j]);
  };
  for (const auto &cv : r.objcoefs) withSplit(cv.first, [&](int j) { a.cost[size_t(j)] += cv.second; });
  a.offset += r.objconst;
  if (r.cols.empty() && r.rows.empty() && r.rowcoefs.empty()) return;   // the matrix stays as built
  // The built matrix holds the columns before firstcol; copied rows are read from it.
  const int n = low.hcols, base = r.firstcol;
  const int *astart = a.colStart(), *aindex = a.rowIndex();
  const double *avalue = a.coefValue();
  auto colEnd = [&](int j) { return j + 1 < base ? astart[j + 1] : a.nnz(); };
  std::vector<int> slot(low.hrows, -1);
  std::vector<Coefs> copies;
  for (const Reform::Row &row : r.rows)
    if (row.copy >= 0 && slot[row.copy] < 0) {
      slot[row.copy] = static_cast<int>(copies.size());
      copies.emplace_back();
    }
  if (!copies.empty())
    for (int j = 0; j < base; ++j)
      for (int e = astart[j]; e < colEnd(j); ++e)
        if (slot[aindex[e]] >= 0) copies[slot[aindex[e]]].push_back({j, avalue[e]});
  std::vector<Coefs> extra(n);
  for (const auto &rc : r.rowcoefs)
    withSplit(rc.second.first, [&](int j) { extra[size_t(j)].push_back({rc.first, rc.second.second}); });
  for (size_t t = 0; t < r.rows.size(); ++t) {
    const Reform::Row &row = r.rows[t];
    const int hrow = r.firstrow + static_cast<int>(t);
    a.rowlo[hrow] = row.lo;
    a.rowup[hrow] = row.up;
    Coefs entries;
    for (const auto &cv : row.coefs) {
      entries.push_back(cv);
      if (cv.first < low.ncols && !low.split.empty() && low.split[cv.first] >= 0)
        entries.push_back({low.split[cv.first], cv.second});
    }
    if (row.copy >= 0) {
      const Coefs &cp = copies[slot[row.copy]];
      entries.insert(entries.end(), cp.begin(), cp.end());
    }
    std::sort(entries.begin(), entries.end(),
              [](const std::pair<int, double> &x, const std::pair<int, double> &y) { return x.first < y.first; });
    for (size_t e = 0; e < entries.size();) {
      const int j = entries[e].first;
      double v = 0.0;
      for (; e < entries.size() && entries[e].first == j; ++e) v += entries[e].second;
      if (v != 0.0) extra[j].push_back({hrow, v});
    }
  }
  std::vector<int> start(n + 1), index;
  std::vector<double> value;
  index.reserve(size_t(a.nnz()));
  value.reserve(size_t(a.nnz()));
  Coefs entries;
  for (int j = 0; j < n; ++j) {
    start[j] = static_cast<int>(index.size());
    entries.clear();
    if (j < base)
      for (int e = astart[j]; e < colEnd(j); ++e) entries.push_back({aindex[e], avalue[e]});
    const bool merge = !extra[j].empty();
    entries.insert(entries.end(), extra[j].begin(), extra[j].end());
    if (merge)   // a lowered formula's coefficient in a row that has the column already
      std::stable_sort(entries.begin(), entries.end(),
                       [](const std::pair<int, double> &x, const std::pair<int, double> &y) { return x.first < y.first; });
    for (size_t e = 0; e < entries.size();) {
      const int row = entries[e].first;
      double v = 0.0;
      for (; e < entries.size() && entries[e].first == row; ++e) v += entries[e].second;
      if (v == 0.0 && merge) continue;
      index.push_back(row);
      value.push_back(v);
    }
  }
  start[n] = static_cast<int>(index.size());
  a.start.swap(start);
  a.index.swap(index);
  a.value.swap(value);
  a.borrowed = ModelArrays::Borrowed();
}

}  // namespace krvx
