// Reading the stored solution: values of columns and rows over a range.
#include "api.h"

#include <algorithm>

namespace krvx {
namespace {

enum class Part { X, Slack, Duals, Djs };

// Writes the solution status, then values [first, last] of one part of the solution when out is given.
void readSolution(ko_prob_struct *p, Part part, int *solstatus, double *out, int first, int last) {
  const Solution &s = p->sol;
  if (solstatus) *solstatus = s.solstatus;
  if (!out) return;
  bool rows = part == Part::Slack || part == Part::Duals;
  int64_t count = rows ? int64_t(p->rows.size()) : int64_t(p->cols.size());
  int64_t len = checkRange(first, last, count, rows ? "rows" : "columns");
  bool available = (s.solstatus == KRVX_SOLSTATUS_OPTIMAL || s.solstatus == KRVX_SOLSTATUS_FEASIBLE) && s.has_x;
  if (!available) raise(kErrNoSolution, "Solution is not available (solution status %d)", s.solstatus);
  const std::vector<double> *src = &s.x;
  switch (part) {
    case Part::X: src = &s.x; break;
    case Part::Slack: src = &s.slack; break;
    case Part::Duals: src = &s.duals; break;
    case Part::Djs: src = &s.djs; break;
  }
  if ((part == Part::Duals || part == Part::Djs) && !s.has_duals)
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
  return guard(prob, "KRVXgetsolution", [&] { readSolution(prob, Part::X, solstatus, x, first, last); });
}

extern "C" KRVX_API int KRVXgetslacks(KRVXprob prob, int *solstatus, double *slack, int first, int last) {
  return guard(prob, "KRVXgetslacks", [&] { readSolution(prob, Part::Slack, solstatus, slack, first, last); });
}

extern "C" KRVX_API int KRVXgetduals(KRVXprob prob, int *solstatus, double *duals, int first, int last) {
  return guard(prob, "KRVXgetduals", [&] { readSolution(prob, Part::Duals, solstatus, duals, first, last); });
}

extern "C" KRVX_API int KRVXgetredcosts(KRVXprob prob, int *solstatus, double *djs, int first, int last) {
  return guard(prob, "KRVXgetredcosts", [&] { readSolution(prob, Part::Djs, solstatus, djs, first, last); });
}
