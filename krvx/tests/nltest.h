// Helpers of the nonlinear-layer tests: formulas written as token lists.
#pragma once
#include "testutil.h"

#include <utility>
#include <vector>

using Tokens = std::vector<std::pair<int, double>>;

struct FormulaEntry {
  int row, col;
  double factor;
  Tokens toks;
};

// KRVNaddcoefs for a list of formulas; tokens are written as given (no end token added).
inline int addFormulas(tagKRVNproblem *nl, const std::vector<FormulaEntry> &fs) {
  std::vector<int> rows, cols, starts{0}, types;
  std::vector<double> factors, values;
  for (const auto &f : fs) {
    rows.push_back(f.row);
    cols.push_back(f.col);
    factors.push_back(f.factor);
    for (auto t : f.toks) {
      types.push_back(t.first);
      values.push_back(t.second);
    }
    starts.push_back(int(types.size()));
  }
  return KRVNaddcoefs(nl, int(fs.size()), rows.data(), cols.data(), factors.data(), starts.data(),
                      int64_t(types.size()), types.data(), values.data());
}

inline int addFormula(tagKRVNproblem *nl, int row, int col, double factor, Tokens toks) {
  return addFormulas(nl, {{row, col, factor, std::move(toks)}});
}

// Token shorthands
inline std::pair<int, double> C(double v) { return {KRVN_TOK_CON, v}; }
inline std::pair<int, double> X(int c) { return {KRVN_TOK_COL, c}; }
inline std::pair<int, double> Op(int o) { return {KRVN_TOK_OP, o}; }
inline std::pair<int, double> Fn(int f) { return {KRVN_TOK_IFUN, f}; }
inline std::pair<int, double> UF(int n) { return {KRVN_TOK_UFUN, n}; }
inline std::pair<int, double> RB() { return {KRVN_TOK_RB, 0}; }
inline std::pair<int, double> End() { return {KRVN_TOK_EOF, 0}; }

// A problem with ncols free columns and nrows empty rows, and its nonlinear layer.
inline KRVXprob nlProblem(int ncols, int nrows, tagKRVNproblem **nl) {
  KRVXprob p = newProblem();
  std::vector<double> lb(size_t(ncols), -1e20);
  KRVXaddcols(p, ncols, 0, nullptr, nullptr, nullptr, nullptr, lb.data(), nullptr);
  std::vector<char> rt(size_t(nrows), 'L');
  std::vector<double> rhs(size_t(nrows), 10.0);
  std::vector<int> st(size_t(nrows), 0);
  KRVXaddrows(p, nrows, 0, rt.data(), rhs.data(), nullptr, st.data(), nullptr, nullptr);
  KRVXnlpcreateprob(p, nl);
  return p;
}

inline int formulaCount(tagKRVNproblem *nl) {
  int n = -1;
  KRVNgetintattrib(nl, KRVN_FORMULAS, &n);
  return n;
}

// The formulas of a row (KRVN_ALLROWS: all) read back through the two-call getter.
inline std::vector<FormulaEntry> readFormulas(tagKRVNproblem *nl, int row) {
  int nf = -1;
  int64_t nt = -1;
  if (KRVNgetcoefs(nl, row, &nf, &nt, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0) != 0) return {};
  const size_t n = size_t(nf), m = size_t(nt);
  std::vector<int> rows(n), cols(n), starts(n + 1), types(m);
  std::vector<double> factors(n), values(m);
  if (KRVNgetcoefs(nl, row, &nf, &nt, rows.data(), cols.data(), factors.data(), starts.data(), nf, types.data(),
                   values.data(), nt) != 0)
    return {};
  std::vector<FormulaEntry> out;
  for (int k = 0; k < nf; ++k) {
    FormulaEntry f{rows[size_t(k)], cols[size_t(k)], factors[size_t(k)], {}};
    for (int t = starts[size_t(k)]; t < starts[size_t(k) + 1]; ++t) f.toks.emplace_back(types[size_t(t)], values[size_t(t)]);
    out.push_back(f);
  }
  return out;
}
