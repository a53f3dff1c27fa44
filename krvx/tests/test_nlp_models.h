// Published nonlinear test models, built through the library's calls (tests and benchmarks).
#pragma once
#include "nltest.h"

#include <vector>

inline void quadRow(KRVXprob p, int row, std::vector<int> c1, std::vector<int> c2, std::vector<double> v) {
  const int64_t n = int64_t(v.size());
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, row, n, c1.data(), n, c2.data(), n, v.data(), n));
}

// (1 - x)^2 + 100 (y - x^2)^2
inline const Tokens kRosenbrock{C(1), X(0), Op(KRVN_OP_MINUS), C(2), Op(KRVN_OP_POWER), C(100), X(1), X(0), C(2),
                         Op(KRVN_OP_POWER), Op(KRVN_OP_MINUS), C(2), Op(KRVN_OP_POWER), Op(KRVN_OP_MULTIPLY),
                         Op(KRVN_OP_PLUS), End()};

// Rosenbrock's function over two free columns, minimum 0 at (1, 1).
inline KRVXprob rosenbrockProblem(tagKRVNproblem **nl) {
  KRVXprob p = nlProblem(2, 0, nl);
  EXPECT_OK(p, addFormula(*nl, KRVN_OBJROW, KRVN_NOCOL, 1.0, kRosenbrock));
  return p;
}

// Hock-Schittkowski 71: min x1 x4 (x1 + x2 + x3) + x3, x1 x2 x3 x4 >= 25, sum x^2 = 40, 1 <= x <= 5.
inline KRVXprob hs071() {
  KRVXprob p = newProblem();
  const double cost[] = {0, 0, 1, 0}, lb[] = {1, 1, 1, 1}, ub[] = {5, 5, 5, 5};
  KRVXaddcols(p, 4, 0, cost, nullptr, nullptr, nullptr, lb, ub);
  const char rt[] = {'G', 'E'};
  const double rhs[] = {25, 40};
  const int st[] = {0, 0};
  KRVXaddrows(p, 2, 0, rt, rhs, nullptr, st, nullptr, nullptr);
  tagKRVNproblem *nl;
  KRVXnlpcreateprob(p, &nl);
  EXPECT_OK(p, addFormula(nl, 0, 0, 1.0, {X(1), X(2), Op(KRVN_OP_MULTIPLY), X(3), Op(KRVN_OP_MULTIPLY), End()}));
  quadRow(p, 1, {0, 1, 2, 3}, {0, 1, 2, 3}, {1, 1, 1, 1});
  EXPECT_OK(p, addFormula(nl, KRVN_OBJROW, 0, 1.0,
                         {X(3), X(0), X(1), Op(KRVN_OP_PLUS), X(2), Op(KRVN_OP_PLUS), Op(KRVN_OP_MULTIPLY), End()}));
  return p;
}

// Chemical equilibrium (Hock-Schittkowski 112): min sum x_j (c_j + ln(x_j / sum x)), three
// element balances, x >= 1e-6. Published optimum -47.76109026.
inline KRVXprob hs112() {
  const double c[] = {-6.089, -17.164, -34.054, -5.914, -24.721, -14.986, -24.1, -10.708, -26.662, -22.179};
  KRVXprob p = newProblem();
  std::vector<double> lb(10, 1e-6);
  KRVXaddcols(p, 10, 0, nullptr, nullptr, nullptr, nullptr, lb.data(), nullptr);
  const char rt[] = {'E', 'E', 'E'};
  const double rhs[] = {2, 1, 1};
  const int st[] = {0, 5, 9};
  const int ci[] = {0, 1, 2, 5, 9, 3, 4, 5, 6, 2, 6, 7, 8, 9};
  const double cv[] = {1, 2, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 2, 1};
  EXPECT_OK(p, KRVXaddrows(p, 3, 14, rt, rhs, nullptr, st, ci, cv));
  tagKRVNproblem *nl;
  KRVXnlpcreateprob(p, &nl);
  for (int j = 0; j < 10; ++j) {
    Tokens t{C(c[j]), RB(), X(j), X(0)};
    for (int k = 1; k < 10; ++k) {
      t.push_back(X(k));
      t.push_back(Op(KRVN_OP_PLUS));
    }
    for (auto tok : {Op(KRVN_OP_DIVIDE), Fn(KRVN_FN_LN), Op(KRVN_OP_PLUS), End()}) t.push_back(tok);
    EXPECT_OK(p, addFormula(nl, KRVN_OBJROW, j, 1.0, t));
  }
  return p;
}
