// Reading the stored solution: values of columns and rows over a range.
#include "core/call_guard.h"

#include <algorithm>

namespace krvx {
namespace {

enum class Vector { X, Slack, Duals, Djs };

// Writes the solution status, then values [first, last] of one part of the solution when out is given.
void readSolution(ko_prob_struct *p, Vector part, int *solstatus, double *out, int first, int last) {
  const Solution &s = p->sol;
  if (solstatus) *solstatus = s.solstatus;
  if (!out) return;
  bool rows = part == Vector::Slack || part == Vector::Duals;
  int64_t count = rows ? int64_t(p->rows.size()) : int64_t(p->cols.size());
  int64_t len = checkRange(first, last, count, rows ? "rows" : "columns");
  bool available = (s.solstatus == KRVX_SOLSTATUS_OPTIMAL || s.solstatus == KRVX_SOLSTATUS_FEASIBLE) && s.has_x;
  if (!available) raise(kErrNoSolution, "Solution is not available (solution status %d)", s.solstatus);
  const std::vector<double> *src = &s.x;
  switch (part) {
    case Vector::X: src = &s.x; break;
    case Vector::Slack: src = &s.slack; break;
    case Vector::Duals: src = &s.duals; break;
    case Vector::Djs: src = &s.djs; break;
  }
  if ((part == Vector::Duals || part == Vector::Djs) && !s.has_duals)
    raise(kErrNoSolution, "Dual values are not available for this solution");
  if (int64_t(src->size()) != count)
    raise(kErrNoSolution, "Solution is not available: it holds %zu values for %lld %s", src->size(), (long long)count,
          rows ? "rows" : "columns");
  std::copy(src->begin() + first, src->begin() + first + len, out);
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXgetsolution(KRVXprob prob, int *solstatus, double *x, int first, int last) {
  return guard(prob, "KRVXgetsolution", [&] { readSolution(prob, Vector::X, solstatus, x, first, last); });
}

extern "C" KRVX_API int KRVXgetslacks(KRVXprob prob, int *solstatus, double *slack, int first, int last) {
  return guard(prob, "KRVXgetslacks", [&] { readSolution(prob, Vector::Slack, solstatus, slack, first, last); });
}

extern "C" KRVX_API int KRVXgetduals(KRVXprob prob, int *solstatus, double *duals, int first, int last) {
  return guard(prob, "KRVXgetduals", [&] { readSolution(prob, Vector::Duals, solstatus, duals, first, last); });
}

extern "C" KRVX_API int KRVXgetredcosts(KRVXprob prob, int *solstatus, double *djs, int first, int last) {
  return guard(prob, "KRVXgetredcosts", [&] { readSolution(prob, Vector::Djs, solstatus, djs, first, last); });
}
