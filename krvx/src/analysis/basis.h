// Simplex bases in libkrvx's conventions, over the HiGHS instance that holds the problem's LP.
//
// Codes (BasisStatus): 0 non-basic at the lower bound, 1 basic, 2 non-basic at the upper bound,
// 3 superbasic. Columns map to HiGHS's statuses as they are; a row's code is that of its slack
// (rhs - activity), whose lower bound is the activity's upper one, so HiGHS's lower and upper
// swap for rows. HiGHS has no superbasic status: code 3 goes to HiGHS as the nearest finite bound
// (zero for a free item), and reads back as that.
#pragma once
#include "core/store.h"
#include "solve/solve.h"

#include <cstdint>
#include <vector>

namespace krvx {

// A failure whose text is already set on the problem, carried out of a call body.
struct Reported {
  int code;
};
inline void check(int rc) {
  if (rc) throw Reported{rc};
}
// Runs the body of an analysis call (which takes the mutex itself where it needs it): krvx::Error
// and other exceptions become the error text, Reported keeps the text already set.
template <class F>
int analysisCall(ko_prob_struct *p, const char *fn, F &&body) noexcept {
  if (!p) return failGlobal(kErrNoProblem, "%s: no problem given", fn);
  try {
    body();
    return 0;
  } catch (const Reported &r) {
    return r.code;
  } catch (...) {
    return failFrom(p, fn);
  }
}

constexpr int kBasisLower = 0, kBasisBasic = 1, kBasisUpper = 2, kBasisSuper = 3;

// Our code of a HiGHS status of a column / of a row.
int colCode(int highsStatus);
int rowCode(int highsStatus);
// HiGHS status of our code for a column with bounds lo..up, and for a row whose activity has
// the bounds lo..up (infinite bounds as HiGHS's infinity or |v| >= kInf). A requested bound that
// is infinite becomes the other one, or HiGHS's zero status when both are.
int highsColStatus(int code, double lo, double up);
int highsRowStatus(int code, double lo, double up);

// Refuses a basis of the wrong lengths (nrows / ncols entries), with unknown codes or without
// exactly nrows basic entries (throws krvx::Error naming the fault).
void checkBasis(const int *rowstat, int64_t rowstat_n, const int *colstat, int64_t colstat_n, int64_t nrows,
                int64_t ncols);

// The LP whose basis the analysis calls work on: the presolved LP while the problem is in
// presolved form, else the problem's own HiGHS instance (whose first rows and columns are the
// user's; problems that lower to more, or to a QP, have no simplex basis here).
struct BasisLp {
  void *h = nullptr;
  int nrows = 0, ncols = 0;
  bool presolved = false;
  Lowered low;                 // the lowering of the own instance (empty when presolved)
};

// Takes the SolveScope (the instance is then the caller's alone, and the store cannot change)
// and brings the problem's own instance up to date with the store. Call without the mutex held;
// the instance is used without it afterwards. `what` names the call in refusals ("Pivoting").
int acquireBasisLp(ko_prob_struct *p, SolveScope &scope, BasisLp &lp, const char *what);

// The instance's basis in our codes (nrows / ncols entries); false when it holds none.
bool readInstanceBasis(void *h, int nrows, int ncols, std::vector<int> &rowstat, std::vector<int> &colstat);
// Sets a basis given in our codes (checked with checkBasis first) on the instance; false when
// the solver refuses it.
bool writeInstanceBasis(void *h, int nrows, int ncols, const int *rowstat, const int *colstat);
// Loads a basis in our codes on the original problem (leaving the presolved form) or, with
// presolvedForm, on the presolved problem. Call without the mutex held.
void loadBasis(ko_prob_struct *p, const int *rowstat, int64_t rowstat_n, const int *colstat, int64_t colstat_n,
               bool presolvedForm);

// The basic variable of each basis row in the combined index (row i, column nrows + j) as the
// solver orders them; false without a basis.
bool instancePivotOrder(void *h, int nrows, std::vector<int> &order);

}  // namespace krvx
