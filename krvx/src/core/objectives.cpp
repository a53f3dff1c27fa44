// Objectives, column limits and quadratic matrices.
#include "core/modify.h"
#include "core/model.h"

#include <algorithm>
#include <cmath>

namespace krvx {
namespace {

void checkColumnList(const ko_prob_struct *p, int n, const int *colind, int64_t colind_n, const double *values,
                     int64_t values_n, const char *valname) {
  if (n < 0) raise(kErrInvalid, "argument 'n' is negative (%d)", n);
  checkExact(colind, colind_n, n, "colind");
  checkExact(values, values_n, n, valname);
  checkIndices(colind, n, int64_t(p->cols.size()), "colind");
  checkFinite(values, n, valname);
}

int64_t objectiveCount(const ko_prob_struct *p) { return 1 + int64_t(p->objectives.size()); }

void checkObjective(const ko_prob_struct *p, int objidx) {
  if (objidx < 0 || objidx >= objectiveCount(p))
    raise(kErrInvalid, "objective %d does not exist (0..%lld)", objidx, (long long)objectiveCount(p) - 1);
}

void checkQRow(const ko_prob_struct *p, int row) {
  if (row < -1 || row >= int64_t(p->rows.size()))
    raise(kErrInvalid, "row %d is invalid: -1 (the objective) or 0..%lld", row, (long long)p->rows.size() - 1);
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXchgobjsense(KRVXprob prob, int sense) {
  return changeInPlace(prob, "KRVXchgobjsense", [&](PendingChanges &pending) {
    if (sense != 1 && sense != -1) raise(kErrInvalid, "objective sense %d is invalid: 1 minimises, -1 maximises", sense);
    prob->objsense = sense;
    pending.sense = true;
  });
}

extern "C" KRVX_API int KRVXchgglblimit_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
                                                       const double *limit, int64_t limit_n) {
  return change(prob, "KRVXchgglblimit", [&] {
    checkColumnList(prob, n, colind, colind_n, limit, limit_n, "limit");
    for (int k = 0; k < n; ++k) {
      const char t = prob->cols[size_t(colind[k])].type;
      if (t != 'S' && t != 'R' && t != 'P')
        raise(kErrInvalid, "column %d is of type %c; limits belong to S, R and P columns", colind[k], t);
    }
    for (int k = 0; k < n; ++k) setColLimit(*prob, size_t(colind[k]), limit[k]);
  });
}

extern "C" KRVX_API int KRVXaddobj_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
                                                  const double *objcoef, int64_t objcoef_n, int priority,
                                                  double weight) {
  return change(prob, "KRVXaddobj", [&] {
    checkColumnList(prob, n, colind, colind_n, objcoef, objcoef_n, "objcoef");
    if (!std::isfinite(weight) || isInf(weight)) raise(kErrInvalid, "weight %g is not finite", weight);
    if (objectiveCount(prob) >= INT32_MAX) raise(kErrInvalid, "the problem has too many objectives");
    Objective o;
    o.priority = priority;
    o.weight = weight;
    for (int k = 0; k < n; ++k) o.coefs.push_back({colind[k], objcoef[k]});
    sortEntries(o.coefs);
    prob->objectives.push_back(std::move(o));
  });
}

extern "C" KRVX_API int KRVXchgobjn_witharraysizes(KRVXprob prob, int objidx, int n, const int *colind,
                                                   int64_t colind_n, const double *objcoef, int64_t objcoef_n) {
  // the main objective's costs go to the solver's instance in place
  if (objidx == 0)
    return changeInPlace(prob, "KRVXchgobjn", [&](PendingChanges &pending) {
      checkColumnList(prob, n, colind, colind_n, objcoef, objcoef_n, "objcoef");
      for (int k = 0; k < n; ++k) prob->cols[size_t(colind[k])].cost = objcoef[k];
      pending.cols.insert(pending.cols.end(), colind, colind + n);
    });
  return change(prob, "KRVXchgobjn", [&] {
    checkObjective(prob, objidx);
    checkColumnList(prob, n, colind, colind_n, objcoef, objcoef_n, "objcoef");
    for (int k = 0; k < n; ++k) setEntry(prob->objectives[size_t(objidx - 1)].coefs, colind[k], objcoef[k]);
  });
}

extern "C" KRVX_API int KRVXdelobj(KRVXprob prob, int objidx) {
  return change(prob, "KRVXdelobj", [&] {
    checkObjective(prob, objidx);
    if (objidx == 0) {   // the main objective stays, emptied
      for (Column &c : prob->cols) c.cost = 0.0;
      prob->objconst = 0.0;
      prob->qobj.clear();
      return;
    }
    std::vector<int> map(size_t(objectiveCount(prob)));
    for (size_t k = 0; k < map.size(); ++k) map[k] = int(k) < objidx ? int(k) : int(k) - 1;
    map[size_t(objidx)] = -1;
    prob->objectives.erase(prob->objectives.begin() + (objidx - 1));
    compactNames(prob, 6, map);
  });
}

extern "C" KRVX_API int KRVXaddqmatrix64_witharraysizes(KRVXprob prob, int row, int64_t n, const int *rowqcol1,
    int64_t rowqcol1_n, const int *rowqcol2, int64_t rowqcol2_n, const double *rowqcoef, int64_t rowqcoef_n) {
  return change(prob, "KRVXaddqmatrix", [&] {
    checkQRow(prob, row);
    if (n < 0) raise(kErrInvalid, "argument 'n' is negative (%lld)", (long long)n);
    checkExact(rowqcol1, rowqcol1_n, n, "rowqcol1");
    checkExact(rowqcol2, rowqcol2_n, n, "rowqcol2");
    checkExact(rowqcoef, rowqcoef_n, n, "rowqcoef");
    checkIndices(rowqcol1, n, int64_t(prob->cols.size()), "rowqcol1");
    checkIndices(rowqcol2, n, int64_t(prob->cols.size()), "rowqcol2");
    checkFinite(rowqcoef, n, "rowqcoef");
    if (n == 0) return;
    std::vector<QTerm> terms = row < 0 ? prob->qobj
                                       : (prob->qrows.empty() ? std::vector<QTerm>() : prob->qrows[size_t(row)]);
    for (int64_t k = 0; k < n; ++k) terms.push_back({rowqcol1[k], rowqcol2[k], rowqcoef[k]});
    normalizeTerms(terms);
    if (row < 0) {
      prob->qobj.swap(terms);
    } else {
      if (prob->qrows.empty()) prob->qrows.resize(prob->rows.size());
      prob->qrows[size_t(row)].swap(terms);
    }
  });
}

extern "C" KRVX_API int KRVXdelqmatrix(KRVXprob prob, int row) {
  return changeInPlace(prob, "KRVXdelqmatrix", [&](PendingChanges &) {
    checkQRow(prob, row);
    std::vector<QTerm> *terms = row < 0                            ? &prob->qobj
                                : size_t(row) < prob->qrows.size() ? &prob->qrows[size_t(row)]
                                                                   : nullptr;
    if (!terms || terms->empty()) return;   // nothing the solver's instance holds changes
    terms->clear();
    invalidate(prob);
  });
}

extern "C" KRVX_API int KRVXgetqobj(KRVXprob prob, int col1, int col2, double *coef) {
  return guard(prob, "KRVXgetqobj", [&] {
    const int64_t ncols = int64_t(prob->cols.size());
    if (col1 < 0 || col1 >= ncols || col2 < 0 || col2 >= ncols)
      raise(kErrInvalid, "columns %d and %d: outside 0..%lld", col1, col2, (long long)ncols - 1);
    if (!coef) raise(kErrInvalid, "argument 'coef' is NULL");
    const QTerm key{std::min(col1, col2), std::max(col1, col2), 0.0};
    auto it = std::lower_bound(prob->qobj.begin(), prob->qobj.end(), key, [](const QTerm &a, const QTerm &b) {
      return a.i != b.i ? a.i < b.i : a.j < b.j;
    });
    *coef = it != prob->qobj.end() && it->i == key.i && it->j == key.j ? it->value : 0.0;
  });
}
