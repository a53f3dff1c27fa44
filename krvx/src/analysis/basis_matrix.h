// The basis matrix of a HiGHS instance holding a plain LP (HiGHS indices = user indices), read as
// A x - r = 0 with r the row activities: column k of B is the column of A of a basic column, or
// -e_i for a basic row i, in the order of the solver's basic variables. Optionally scaled:
// R B S with R the row factors and S the factors of the basic columns (1/R_i for a row, which
// keeps its column a unit vector).
#pragma once
#include "core/call_guard.h"
#include "solve/highs_lower.h"

#include <utility>
#include <vector>

namespace krvx {

class BasisMatrix {
 public:
  // a: the instance's model; rowscale and colscale: factors, or null for none.
  BasisMatrix(void *h, const ModelArrays &a, int nrows, const std::vector<double> *rowscale = nullptr,
              const std::vector<double> *colscale = nullptr);

  int size() const { return m_; }
  // basic variable at position k: a column j >= 0, or a row i as -i-1
  int basic(int k) const { return basic_[size_t(k)]; }
  // column k as (row, value) pairs
  std::vector<std::pair<int, double>> column(int k) const;
  // B^-1 v, or B^-T v when transposed
  std::vector<double> solve(std::vector<double> v, bool transposed) const;

 private:
  double flip(size_t k) const { return basic_[k] < 0 ? -slacksign_ : 1.0; }
  std::vector<double> rawSolve(const std::vector<double> &rhs, bool transposed) const;

  void *h_;
  const ModelArrays &a_;
  int m_;
  std::vector<int> basic_;
  std::vector<double> rscale_, bscale_;
  double slacksign_ = 1.0;   // the solver's sign of a basic row's unit column
};

// How far the active bound of nonbasic row i (its activity) can move down (dn <= 0) and up
// (up >= 0) while the basic values stay within their bounds (a value already just outside a
// bound, within the tolerance, counts as at the bound). x and activity: the values of the
// instance's columns and rows.
std::pair<double, double> rowActivityRange(const BasisMatrix &b, const ModelArrays &a, int i,
                                           const std::vector<double> &x, const std::vector<double> &activity);

}  // namespace krvx
