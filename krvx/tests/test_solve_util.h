// Small models for the solve tests, written straight into the store.
#pragma once
#include "testutil.h"
#include "core/store.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

struct TRow {
  char type;
  double rhs;
  std::vector<std::pair<int, double>> coefs;   // (column, value)
  double range = 0.0;
};

struct TCol {
  double cost, lb, ub;
  char type = 'C';
  double limit = 0.0;
};

// Replaces the model of p (sense 1 min, -1 max).
inline void setModel(KRVXprob p, int sense, const std::vector<TCol> &cols, const std::vector<TRow> &rows,
                     double objconst = 0.0) {
  p->objsense = sense;
  p->objconst = objconst;
  p->rows.clear();
  p->cols.clear();
  p->rowrange.clear();
  p->collimit.clear();
  p->matrix = krvx::ColMatrix();
  for (const TCol &c : cols) {
    krvx::Column col;
    col.cost = c.cost;
    col.lb = c.lb;
    col.ub = c.ub;
    col.type = c.type;
    p->cols.push_back(col);
    krvx::setColLimit(*p, p->cols.size() - 1, c.limit);
  }
  p->matrix.resize(int(p->cols.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    krvx::Row r;
    r.type = rows[i].type;
    r.rhs = rows[i].rhs;
    p->rows.push_back(r);
    krvx::setRowRange(*p, i, rows[i].range);
    for (const auto &cv : rows[i].coefs) p->matrix.entries(cv.first).push_back({static_cast<int>(i), cv.second});
  }
  p->qobj.clear();
  p->highs_stale = true;
}

inline KRVXprob newProb() {
  KRVXprob p = nullptr;
  if (KRVXcreateprob(&p) != 0) return nullptr;
  return p;
}

// A multi-dimensional 0/1 knapsack that takes the solver a long time to prove optimal.
inline void hardKnapsack(KRVXprob p, int n, int m, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> w(100, 1000);
  std::vector<TCol> cols;
  for (int j = 0; j < n; ++j) cols.push_back({double(w(rng)), 0, 1, 'B'});
  std::vector<TRow> rows;
  for (int i = 0; i < m; ++i) {
    TRow r{'L', 0, {}};
    double sum = 0;
    for (int j = 0; j < n; ++j) {
      double a = w(rng);
      r.coefs.push_back({j, a});
      sum += a;
    }
    r.rhs = std::floor(sum / 2);
    rows.push_back(r);
  }
  setModel(p, -1, cols, rows);
}

inline bool near(double a, double b, double tol = 1e-6) { return std::fabs(a - b) <= tol * (1 + std::fabs(b)); }

inline int intAttr(KRVXprob p, int id) {
  int v = -12345;
  KRVXgetintattrib(p, id, &v);
  return v;
}

inline double dblAttr(KRVXprob p, int id) {
  double v = -12345;
  KRVXgetdblattrib(p, id, &v);
  return v;
}

// The current solution values (empty when none).
inline std::vector<double> solution(KRVXprob p) {
  std::lock_guard<std::recursive_mutex> lock(p->mtx);
  return p->sol.has_x ? p->sol.x : std::vector<double>();
}
