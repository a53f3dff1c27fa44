// Checks of IIS results against the problem itself: the IIS data through the two-call getter, the
// subsystem of an IIS solved by a HiGHS instance of its own (LPs), and Farkas certificates.
#pragma once
#include "test_solve_util.h"

#include "interfaces/highs_c_api.h"

#include <string>
#include <vector>

struct IisData {
  std::vector<int> rows, cols;
  std::vector<char> contype, bndtype;
  std::vector<double> duals, djs;
  std::vector<signed char> isorows, isocols;
  size_t size() const { return rows.size() + cols.size(); }
};

inline bool getIis(KRVXprob p, int num, IisData &d) {
  int nr = -1, nc = -1;
  if (KRVXgetiisdata_witharraysizes(p, num, &nr, &nc, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                    nullptr, 0, nullptr, 0, nullptr, 0) != 0)
    return false;
  const size_t r = size_t(nr), c = size_t(nc);
  d.rows.assign(r, 0), d.contype.assign(r, 0), d.duals.assign(r, 0), d.isorows.assign(r, 0);
  d.cols.assign(c, 0), d.bndtype.assign(c, 0), d.djs.assign(c, 0), d.isocols.assign(c, 0);
  return KRVXgetiisdata_witharraysizes(p, num, &nr, &nc, d.rows.data(), nr, d.cols.data(), nc, d.contype.data(), nr,
                                       d.bndtype.data(), nc, d.duals.data(), nr, d.djs.data(), nc, d.isorows.data(),
                                       nr, d.isocols.data(), nc) == 0;
}

inline int niis(KRVXprob p) {
  int n = -2;
  KRVXiisstatus_witharraysizes(p, &n, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
  return n;
}

// A problem with its log off.
inline KRVXprob quietProb() {
  KRVXprob p = newProb();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  return p;
}

// The solution status of a solve of p (a failing call counted).
inline int solStatus(KRVXprob p) {
  int ss = 0, sol = 0;
  EXPECT_OK(p, KRVXoptimize(p, "", &ss, &sol));
  return sol;
}

// The solution status of file read into a problem of its own and solved; its size in rows/cols.
inline int fileSolStatus(const std::string &file, int *rows = nullptr, int *cols = nullptr) {
  KRVXprob q = quietProb();
  EXPECT_OK(q, KRVXreadprob(q, file.c_str(), ""));
  const int sol = solStatus(q);
  if (rows) *rows = intAttr(q, KRVX_ROWS);
  if (cols) *cols = intAttr(q, KRVX_COLS);
  KRVXdestroyprob(q);
  return sol;
}

// HiGHS's model status (and objective) of the LP given column by column as (row, coefficient) lists.
using ColRows = std::vector<std::vector<std::pair<int, double>>>;
inline int highsLp(int sense, const std::vector<double> &cost, const std::vector<double> &clo,
                   const std::vector<double> &cup, const std::vector<double> &rlo, const std::vector<double> &rup,
                   const ColRows &colrows, double *obj = nullptr) {
  std::vector<int> start, index;
  std::vector<double> value;
  for (const auto &cr : colrows) {
    start.push_back(int(index.size()));
    for (const auto &rv : cr) index.push_back(rv.first), value.push_back(rv.second);
  }
  void *h = Highs_create();
  Highs_setBoolOptionValue(h, "output_flag", 0);
  Highs_passLp(h, int(cost.size()), int(rlo.size()), int(index.size()), kHighsMatrixFormatColwise,
               sense < 0 ? kHighsObjSenseMaximize : kHighsObjSenseMinimize, 0.0, cost.data(), clo.data(), cup.data(),
               rlo.data(), rup.data(), start.data(), index.data(), value.data());
  Highs_run(h);
  const int status = Highs_getModelStatus(h);
  if (obj) *obj = Highs_getObjectiveValue(h);
  Highs_destroy(h);
  return status;
}

// The sides of a row, +-1e30 where it has none (or an infinite one).
inline double rowLow(const ko_prob_struct &p, size_t i) {
  const krvx::Row &r = p.rows[i];
  const double v = r.type == 'G' || r.type == 'E' ? r.rhs : r.type == 'R' ? krvx::rowBottom(p, i) : -1e30;
  return v <= -1e20 ? -1e30 : v;
}
inline double rowUp(const krvx::Row &r) {
  const double v = r.type == 'L' || r.type == 'E' || r.type == 'R' ? r.rhs : 1e30;
  return v >= 1e20 ? 1e30 : v;
}

// A random LP of n columns (costs in -2..2 when `costs`, else 0; bounds finite or not) and m rows of
// every type with half-integral coefficients; true when it is infeasible.
inline bool randomLp(KRVXprob p, std::mt19937 &rng, int n, int m, bool costs) {
  std::vector<TCol> cols;
  for (int j = 0; j < n; ++j) {
    const double cost = costs ? double(int(rng() % 5) - 2) : 0.0;
    const double lb = rng() % 3 == 0 ? -1e20 : -double(rng() % 4);
    cols.push_back({cost, lb, rng() % 3 == 0 ? 1e20 : double(rng() % 4)});
  }
  std::vector<TRow> rows;
  for (int i = 0; i < m; ++i) {
    TRow r{"LGER"[rng() % 4], double(int(rng() % 13) - 6), {}, double(1 + rng() % 3)};
    for (int j = 0; j < n; ++j)
      if (rng() % 2) r.coefs.push_back({j, double(int(rng() % 7) - 3) + 0.5});
    rows.push_back(r);
  }
  setModel(p, 1, cols, rows);
  int solvestatus = 0, solstatus = 0;
  KRVXoptimize(p, "", &solvestatus, &solstatus);
  return solstatus == KRVX_SOLSTATUS_INFEASIBLE;
}

// Solves the rows and bounds of an LP's IIS (member `skip` left out: rows first, then bounds) with
// a HiGHS instance of its own; returns HiGHS's model status.
inline int solveSubsystem(KRVXprob p, const IisData &d, int skip = -1) {
  const double inf = 1e30;
  const int n = int(p->cols.size());
  std::vector<int> rowpos(p->rows.size(), -1);
  std::vector<double> rlo, rup, clo(size_t(n), -inf), cup(size_t(n), inf);
  for (size_t k = 0; k < d.rows.size(); ++k) {
    if (int(k) == skip) continue;
    const krvx::Row &r = p->rows[size_t(d.rows[k])];
    rowpos[size_t(d.rows[k])] = int(rlo.size());
    rlo.push_back(rowLow(*p, size_t(d.rows[k]))), rup.push_back(rowUp(r));
  }
  for (size_t k = 0; k < d.cols.size(); ++k) {
    if (int(d.rows.size() + k) == skip) continue;
    const krvx::Column &c = p->cols[size_t(d.cols[k])];
    const char t = d.bndtype[k];
    if (t == 'L' || t == 'F') clo[size_t(d.cols[k])] = c.lb;
    if (t == 'U' || t == 'F') cup[size_t(d.cols[k])] = c.ub;
  }
  ColRows colrows(static_cast<size_t>(n));
  for (int j = 0; j < n; ++j)
    for (const krvx::Entry e : p->matrix.col(j))
      if (rowpos[size_t(e.index)] >= 0) colrows[size_t(j)].push_back({rowpos[size_t(e.index)], e.value});
  return highsLp(1, std::vector<double>(size_t(n), 0.0), clo, cup, rlo, rup, colrows);
}

// The multipliers prove the IIS infeasible: sum of duals times rows plus djs vanishes column by
// column, and the sides they use add up to a negative number.
inline bool certificateHolds(KRVXprob p, const IisData &d, std::string &why) {
  const size_t n = p->cols.size();
  std::vector<double> comb(n, 0.0), mag(n, 0.0), rowdual(p->rows.size(), 0.0);
  double beta = 0.0, scale = 0.0;
  bool any = false;
  // a multiplier on the side `value` of a row or bound, added to the combined right-hand side
  auto side = [&](double mult, double value, const char *missing) {
    if (mult == 0.0) return true;
    if (std::fabs(value) >= 1e20) { why = missing; return false; }
    any = true, beta += mult * value, scale += std::fabs(mult * value);
    return true;
  };
  for (size_t k = 0; k < d.rows.size(); ++k) {
    const krvx::Row &r = p->rows[size_t(d.rows[k])];
    if (!side(d.duals[k], d.duals[k] > 0 ? rowUp(r) : rowLow(*p, size_t(d.rows[k])), "dual on a missing row side")) return false;
    rowdual[size_t(d.rows[k])] = d.duals[k];
  }
  for (size_t j = 0; j < n; ++j)
    for (const krvx::Entry e : p->matrix.col(int(j)))
      comb[j] += rowdual[size_t(e.index)] * e.value, mag[j] += std::fabs(rowdual[size_t(e.index)] * e.value);
  for (size_t k = 0; k < d.cols.size(); ++k) {
    const krvx::Column &c = p->cols[size_t(d.cols[k])];
    if (!side(d.djs[k], d.djs[k] > 0 ? c.ub : c.lb, "dj on a missing bound")) return false;
    comb[size_t(d.cols[k])] += d.djs[k], mag[size_t(d.cols[k])] += std::fabs(d.djs[k]);
  }
  if (!any) { why = "no multipliers"; return false; }
  for (size_t j = 0; j < n; ++j)
    if (std::fabs(comb[j]) > 1e-7 * (1 + mag[j])) { why = "column " + std::to_string(j) + " does not cancel"; return false; }
  if (!(beta < -1e-7 && beta < -1e-9 * scale)) { why = "sides add up to " + std::to_string(beta); return false; }
  return true;
}

// Both IIS properties and the certificate for IIS num; prints what fails. infeasible(d, skip) solves
// the members of d (member skip left out): 1 infeasible, 0 feasible, -1 not judged. Strict: every
// member left out must give 0 and the certificate is required; else not 1, and a certificate is
// checked where multipliers are given.
template <class Solve>
bool checkIisWith(KRVXprob p, int num, const std::string &what, bool strict, Solve &&infeasible) {
  IisData d;
  if (!getIis(p, num, d) || d.size() == 0) {
    std::fprintf(stderr, "%s: IIS %d not read: %s\n", what.c_str(), num, lastError(p).c_str());
    return false;
  }
  bool ok = true;
  if (infeasible(d, -1) != 1) {
    std::fprintf(stderr, "%s: IIS %d (%zu members) is not infeasible on its own\n", what.c_str(), num, d.size());
    ok = false;
  }
  for (int k = 0; k < int(d.size()); ++k) {
    const int r = infeasible(d, k);
    if (strict ? r != 0 : r == 1) {
      std::fprintf(stderr, "%s: IIS %d stays infeasible without member %d\n", what.c_str(), num, k);
      ok = false;
    }
  }
  bool any = strict;
  for (double v : d.duals) any = any || v != 0.0;
  for (double v : d.djs) any = any || v != 0.0;
  std::string why;
  if (any && !certificateHolds(p, d, why)) {
    std::fprintf(stderr, "%s: IIS %d certificate: %s\n", what.c_str(), num, why.c_str());
    ok = false;
  }
  return ok;
}

// checkIisWith for IIS num of an LP, its subsystems solved by HiGHS.
inline bool checkLpIis(KRVXprob p, int num, const char *what) {
  return checkIisWith(p, num, what, true, [&](const IisData &d, int skip) {
    const int st = solveSubsystem(p, d, skip);
    return st == kHighsModelStatusInfeasible ? 1 : st == kHighsModelStatusOptimal ? 0 : -1;
  });
}

// The model of p as an MPS text (no solution, controls or IIS results).
inline std::string modelText(KRVXprob p) {
  const std::string path = "krvx_model_" + std::to_string(getpid()) + ".mps";
  if (KRVXwriteprob(p, path.c_str(), "") != 0) return "<write failed: " + lastError(p) + ">";
  std::string bytes = fileBytes(path);
  std::remove(path.c_str());
  return bytes;
}
