// Rows added one per call wait in their problem, and go to the solver together before anything
// else reads or changes the problem there (a solver call per row costs more than the row).
#pragma once
#include "model/services.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct PendingRows {
  std::vector<char> type;
  std::vector<double> rhs, rng;
  std::vector<int64_t> start{0};   // rows + 1 offsets into cols and vals
  std::vector<int> cols;
  std::vector<double> vals;
  size_t rows() const { return type.size(); }
};

// Whether a row added now may wait: this thread runs a method of the problem (not a solve, not
// from inside another method), and the row is one the solver takes as it is (an L, G, E or N row
// with a right-hand side and coefficients below 1e20 in magnitude), so that sending it later
// cannot fail on it.
bool kpy_rowMayWait(const problem_s *p, char type, double rhs, const double *vals, size_t n);
// Appends such a row, whose constraint the caller has appended to the problem's list; 0, or -1
// with an error set (the row was not kept).
int kpy_keepRow(problem_s *p, char type, double rhs, double rng, const int *cols, const double *vals, size_t n);
// The waiting rows fill a batch: time to send them.
bool kpy_pendingRowsFull(const problem_s *p);
// Sends the waiting rows in one solver call. When the solver refuses them, their constraints
// (the problem's last ones) are removed and marked deleted and the solver's error is set.
int kpy_sendPendingRows(problem_s *p);
// Drops the waiting rows without sending them (the problem's model is going).
void kpy_dropPendingRows(problem_s *p);
