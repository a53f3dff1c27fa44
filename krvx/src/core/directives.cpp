// Branching directives: KRVXloaddirs, KRVXloadpresolvedirs, KRVXloadbranchdirs, KRVXgetdirs, and
// the checks and renumbering the rest of the store uses. The directives steer the MIP engine
// (solve/cbc.cpp); they do not change the model, so loading them keeps the solution.
#include "core/directives.h"
#include "analysis/presolve.h"
#include "core/call_guard.h"
#include "core/model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>

namespace krvx {

std::string entityText(const ko_prob_struct &p, int index) {
  if (index >= 0) return "column " + std::to_string(index) + " ('" + objectName(p, 2, index) + "')";
  const int k = -1 - index;
  return "set " + std::to_string(k) + " ('" + objectName(p, 3, k) + "')";
}

void checkEntity(const ko_prob_struct &p, int index, const std::string &where) {
  const int64_t ncols = int64_t(p.cols.size()), nsets = int64_t(p.sets.size());
  if (index >= ncols || int64_t(index) < -nsets)
    raise(kErrInvalid, "%s is %d, which names no column (0..%lld) or set (-1..-%lld)", where.c_str(), index,
          (long long)ncols - 1, (long long)nsets);
  if (index >= 0 && p.cols[size_t(index)].type == 'C')
    raise(kErrInvalid, "%s: %s is continuous; directives apply to discrete columns and sets", where.c_str(),
          entityText(p, index).c_str());
}

void checkDirective(const Directive &d, const std::string &where) {
  if (d.priority < 0 || d.priority > 1000)
    raise(kErrInvalid, "%s: priority %d is outside 0..1000", where.c_str(), d.priority);
  if (d.dir != 'U' && d.dir != 'D' && d.dir != 'N')
    raise(kErrInvalid, "%s: direction '%c' is not U, D or N", where.c_str(), d.dir >= 32 && d.dir < 127 ? d.dir : '?');
  for (double v : {d.up, d.down})
    if (!(v >= 0.0) || isInf(v))
      raise(kErrInvalid, "%s: pseudo cost %g is not a finite value of at least 0", where.c_str(), v);
}

void validateDirectives(const ko_prob_struct &s) {
  const int64_t ncols = int64_t(s.cols.size()), nsets = int64_t(s.sets.size());
  auto inRange = [&](int index) { return index < ncols && int64_t(index) >= -nsets; };
  std::unordered_set<int> seen;
  for (size_t k = 0; k < s.dirs.size(); ++k) {
    const Directive &d = s.dirs[k];
    if (!inRange(d.index) || !seen.insert(d.index).second)
      raise(kErrInvalid, "directive %zu names entity %d, out of range or named twice", k, d.index);
    checkDirective(d, "directive " + std::to_string(k));
  }
  for (size_t k = 0; k < s.branchfixed.size(); ++k)
    if (!inRange(s.branchfixed[k]) || (k > 0 && s.branchfixed[k] <= s.branchfixed[k - 1]))
      raise(kErrInvalid, "branch mark %zu names entity %d, out of range or out of order", k, s.branchfixed[k]);
}

namespace {

// Renumbers the entities of one kind (columns: index >= 0, sets: index < 0) through map.
bool renumberEntity(int &index, bool columns, const std::vector<int> &map) {
  if ((index >= 0) != columns) return true;
  const int old = columns ? index : -1 - index;
  const int now = map[size_t(old)];
  if (now < 0) return false;
  index = columns ? now : -1 - now;
  return true;
}

void renumberAll(ko_prob_struct *p, bool columns, const std::vector<int> &map) {
  size_t out = 0;
  for (Directive d : p->dirs)
    if (renumberEntity(d.index, columns, map)) p->dirs[out++] = d;
  p->dirs.resize(out);
  out = 0;
  for (int e : p->branchfixed)
    if (renumberEntity(e, columns, map)) p->branchfixed[out++] = e;
  p->branchfixed.resize(out);
  std::sort(p->branchfixed.begin(), p->branchfixed.end());   // sets precede columns; order kept within a kind
}

std::string entryOf(int64_t k, const char *name) {
  return "entry " + std::to_string(k) + " of argument '" + name + "'";
}

// The entities of colind, checked and distinct.
void checkEntities(const ko_prob_struct *p, int n, const int *colind) {
  std::unordered_set<int> seen;
  for (int k = 0; k < n; ++k) {
    checkEntity(*p, colind[k], entryOf(k, "colind"));
    if (!seen.insert(colind[k]).second)
      raise(kErrInvalid, "%s: %s appears twice", entryOf(k, "colind").c_str(), entityText(*p, colind[k]).c_str());
  }
}

void loadDirs(ko_prob_struct *p, int n, const int *colind, int64_t colind_n, const int *priority, int64_t priority_n,
              const char *dir, int64_t dir_n, const double *up, int64_t up_n, const double *down, int64_t down_n) {
  requireIdle(p);
  if (n < 0) raise(kErrInvalid, "argument 'n' is negative (%d)", n);
  checkExact(colind, colind_n, n, "colind");
  checkOptional(priority, priority_n, n, "priority");
  checkOptional(dir, dir_n, n, "dir");
  checkOptional(up, up_n, n, "uppseudo");
  checkOptional(down, down_n, n, "downpseudo");
  checkEntities(p, n, colind);
  std::vector<Directive> fresh(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    Directive &d = fresh[size_t(k)];
    d.index = colind[k];
    if (priority_n) d.priority = priority[k];
    if (dir_n) d.dir = dir[k];
    if (up_n) d.up = up[k];
    if (down_n) d.down = down[k];
    checkDirective(d, "directive " + std::to_string(k));
  }
  p->dirs = std::move(fresh);
}

}  // namespace

void renumberDirectiveColumns(ko_prob_struct *p, const std::vector<int> &map) { renumberAll(p, true, map); }
void renumberDirectiveSets(ko_prob_struct *p, const std::vector<int> &map) { renumberAll(p, false, map); }

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXloaddirs_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
    const int *priority, int64_t priority_n, const char *dir, int64_t dir_n, const double *uppseudo,
    int64_t uppseudo_n, const double *downpseudo, int64_t downpseudo_n) {
  return guard(prob, "KRVXloaddirs", [&] {
    loadDirs(prob, n, colind, colind_n, priority, priority_n, dir, dir_n, uppseudo, uppseudo_n, downpseudo,
             downpseudo_n);
  });
}

// A problem that is not in presolved form is its own presolved form; in presolved form the
// columns are those of the presolved problem, stored as the original columns they stand for.
extern "C" KRVX_API int KRVXloadpresolvedirs_witharraysizes(KRVXprob prob, int n, const int *colind,
    int64_t colind_n, const int *priority, int64_t priority_n, const char *dir, int64_t dir_n, const double *uppseudo,
    int64_t uppseudo_n, const double *downpseudo, int64_t downpseudo_n) {
  return guard(prob, "KRVXloadpresolvedirs", [&] {
    std::vector<int> original;
    if (isPresolved(*prob)) {
      checkPair(colind, colind_n, "colind");
      original.assign(colind, colind + colind_n);
      for (int64_t k = 0; k < colind_n; ++k) {
        if (colind[k] < 0) continue;   // sets keep their numbers
        if (colind[k] >= currentCols(*prob))
          raise(kErrInvalid, "colind[%lld] is %d; the presolved problem has %d columns", (long long)k, colind[k],
                currentCols(*prob));
        original[size_t(k)] = originalCol(*prob, colind[k]);
        if (original[size_t(k)] < 0)
          raise(kErrInvalid, "column %d of the presolved problem has no original column", colind[k]);
      }
      colind = original.data();
    }
    loadDirs(prob, n, colind, colind_n, priority, priority_n, dir, dir_n, uppseudo, uppseudo_n, downpseudo,
             downpseudo_n);
  });
}

extern "C" KRVX_API int KRVXloadbranchdirs_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
                                                          const int *dir, int64_t dir_n) {
  return guard(prob, "KRVXloadbranchdirs", [&] {
    requireIdle(prob);
    if (n < 0) raise(kErrInvalid, "argument 'n' is negative (%d)", n);
    checkExact(colind, colind_n, n, "colind");
    checkOptional(dir, dir_n, n, "dir");
    checkEntities(prob, n, colind);
    for (int k = 0; k < n && dir_n; ++k)
      if (dir[k] != 0 && dir[k] != 1)
        raise(kErrInvalid, "%s is %d, expected 1 (branch until fixed) or 0 (no mark)", entryOf(k, "dir").c_str(),
              dir[k]);
    std::vector<char> marked(prob->sets.size() + prob->cols.size(), 0);
    const size_t offset = prob->sets.size();   // entity e at offset + e
    for (int e : prob->branchfixed) marked[offset + size_t(int64_t(e))] = 1;
    for (int k = 0; k < n; ++k) marked[offset + size_t(int64_t(colind[k]))] = dir_n ? char(dir[k]) : 1;
    std::vector<int> fresh;
    for (size_t m = 0; m < marked.size(); ++m)
      if (marked[m]) fresh.push_back(int(int64_t(m) - int64_t(offset)));
    prob->branchfixed = std::move(fresh);
  });
}

extern "C" KRVX_API int KRVXgetdirs_witharraysizes(KRVXprob prob, int *ndirs, int *colind, int64_t colind_n,
    int *priority, int64_t priority_n, char *dir, int64_t dir_n, double *uppseudo, int64_t uppseudo_n,
    double *downpseudo, int64_t downpseudo_n) {
  return guard(prob, "KRVXgetdirs", [&] {
    // in presolved form: the directives of the presolved problem (its columns; sets as they are)
    std::vector<Directive> presolvedDirs;
    if (isPresolved(*prob)) {
      std::vector<int> where(prob->cols.size(), -1);
      for (int j = 0; j < currentCols(*prob); ++j)
        if (originalCol(*prob, j) >= 0) where[size_t(originalCol(*prob, j))] = j;
      for (Directive d : prob->dirs) {
        if (d.index >= 0 && (d.index = where[size_t(d.index)]) < 0) continue;
        presolvedDirs.push_back(d);
      }
    }
    const std::vector<Directive> &dirs = isPresolved(*prob) ? presolvedDirs : prob->dirs;
    const int64_t n = int64_t(dirs.size());
    checkOptional(colind, colind_n, n, "colind");
    checkOptional(priority, priority_n, n, "priority");
    checkOptional(dir, dir_n, n, "dir");
    checkOptional(uppseudo, uppseudo_n, n, "uppseudo");
    checkOptional(downpseudo, downpseudo_n, n, "downpseudo");
    if (ndirs) *ndirs = int(n);
    for (size_t k = 0; k < dirs.size(); ++k) {
      if (colind_n) colind[k] = dirs[k].index;
      if (priority_n) priority[k] = dirs[k].priority;
      if (dir_n) dir[k] = dirs[k].dir;
      if (uppseudo_n) uppseudo[k] = dirs[k].up;
      if (downpseudo_n) downpseudo[k] = dirs[k].down;
    }
  });
}
