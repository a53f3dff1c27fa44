// Reading one row's linear and quadratic coefficients back (two calls each: count, then fill).
#include "core/call_guard.h"

#include <algorithm>

using namespace krvx;

namespace {

void checkRowIndex(const ko_prob_struct *p, int row) {
  if (row < 0 || row >= int64_t(p->rows.size()))
    raise(kErrInvalid, "row %d: outside 0..%lld", row, (long long)p->rows.size() - 1);
}

// Counting call (every array NULL, max 0) or fill call with room for max entries.
void checkFill(const void *a, const void *b, const void *c, int64_t max, int64_t need) {
  bool counting = !a && !b && !c && max == 0;
  if (counting) return;
  if (max < need)
    raise(kErrInvalid, "room for %lld coefficients given, %lld needed", (long long)max, (long long)need);
  if (need > 0 && (!a || !b || !c)) raise(kErrInvalid, "an output array is NULL");
}

}  // namespace

extern "C" KRVX_API int KRVXgetrowcoefs(KRVXprob prob, int row, int64_t *ncoefs, int *colind, double *coef,
                                        int64_t maxcoefs) {
  return guard(prob, "KRVXgetrowcoefs", [&] {
    checkRowIndex(prob, row);
    if (!ncoefs) raise(kErrInvalid, "argument 'ncoefs' is NULL");
    int64_t n = 0;
    std::vector<Entry> found;
    for (size_t j = 0; j < prob->cols.size(); ++j) {
      const double v = prob->matrix.col(int(j)).at(row);
      if (v != 0.0) found.push_back({int(j), v});
    }
    n = int64_t(found.size());
    checkFill(colind, coef, colind, maxcoefs, n);
    *ncoefs = n;
    if (!colind) return;
    for (int64_t k = 0; k < n; ++k) {
      colind[k] = found[size_t(k)].index;
      coef[k] = found[size_t(k)].value;
    }
  });
}

extern "C" KRVX_API int KRVXgetqrowcoefs(KRVXprob prob, int row, int64_t *ncoefs, int *col1, int *col2, double *coef,
                                         int64_t maxcoefs) {
  return guard(prob, "KRVXgetqrowcoefs", [&] {
    checkRowIndex(prob, row);
    if (!ncoefs) raise(kErrInvalid, "argument 'ncoefs' is NULL");
    static const std::vector<QTerm> none;
    const std::vector<QTerm> &q = prob->qrows.empty() ? none : prob->qrows[size_t(row)];
    int64_t n = int64_t(q.size());
    checkFill(col1, col2, coef, maxcoefs, n);
    *ncoefs = n;
    if (!col1) return;
    for (int64_t k = 0; k < n; ++k) {
      col1[k] = q[size_t(k)].i;
      col2[k] = q[size_t(k)].j;
      coef[k] = q[size_t(k)].value;
    }
  });
}
