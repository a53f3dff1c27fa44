// Entity fixing, row marks, scaling, and the stored indicator, piecewise-linear and general
// constraints (reformulated when the problem is solved).
#include "core/modify.h"
#include "core/model.h"
#include "solve/solve.h"

#include <cmath>

namespace krvx {
namespace {

bool isBinary(const ko_prob_struct *p, int j) { return p->cols[size_t(j)].type == 'B'; }

void fixEntities(ko_prob_struct *p, int options) {
  if (options != 0 && options != 1)
    raise(kErrInvalid, "options %d is invalid: 0 rounds integer values before fixing, 1 fixes them as they are", options);
  const Solution &s = p->sol;
  const bool mipsol = s.mipstatus == kMipOptimal || s.mipstatus == kMipSolution;
  if (!mipsol || !s.has_x || s.x.size() != p->cols.size())
    raise(kErrNoSolution, "there is no MIP solution to fix the entities at");
  std::vector<char> inset(p->cols.size(), 0);
  for (const Set &st : p->sets)
    for (int c : st.cols) inset[size_t(c)] = 1;
  for (size_t j = 0; j < p->cols.size(); ++j) {
    Column &c = p->cols[j];
    double v = s.x[j];
    if (c.type == 'C') {
      if (inset[j] && v == 0.0) c.lb = c.ub = 0.0;   // set members at zero keep their sets satisfied
      continue;
    }
    const bool integral = c.type == 'B' || c.type == 'I' || c.type == 'R' || (c.type == 'P' && v < colLimit(*p, j));
    if (options == 0 && integral) v = std::round(v);
    c.lb = c.ub = v;
    if (c.type != 'B' && c.type != 'I') c.type = 'C';   // a fixed semi-continuous value is continuous
  }
}

void markRows(ko_prob_struct *p, std::vector<char> &marks, int n, const int *rowind, int64_t rowind_n) {
  if (n < 0) raise(kErrInvalid, "argument 'n' is negative (%d)", n);
  checkExact(rowind, rowind_n, n, "rowind");
  checkIndices(rowind, n, int64_t(p->rows.size()), "rowind");
  if (n == 0) return;
  marks.resize(p->rows.size());
  for (int k = 0; k < n; ++k) marks[size_t(rowind[k])] = 1;
}

// Scale exponents: absent or exactly one per item.
void checkScale(int64_t n, int64_t count, const char *name, const char *items) {
  if (n != 0 && n != count)
    raise(kErrInvalid, "argument '%s' has %lld entries; the problem has %lld %s", name, (long long)n, (long long)count,
          items);
}

void setIndicators(ko_prob_struct *p, int n, const int *rowind, int64_t rowind_n, const int *colind,
                   int64_t colind_n, const int *complement, int64_t complement_n) {
  if (n < 0) raise(kErrInvalid, "argument 'n' is negative (%d)", n);
  checkExact(rowind, rowind_n, n, "rowind");
  checkExact(colind, colind_n, n, "colind");
  checkExact(complement, complement_n, n, "complement");
  checkIndices(rowind, n, int64_t(p->rows.size()), "rowind");
  for (int k = 0; k < n; ++k) {
    if (complement[k] < -1 || complement[k] > 1)
      raise(kErrInvalid, "entry %d of argument 'complement' is %d, expected 0, 1 or -1", k, complement[k]);
    if (complement[k] == 0) continue;
    const int j = colind[k], i = rowind[k];
    if (j < 0 || j >= int64_t(p->cols.size()))
      raise(kErrInvalid, "entry %d of argument 'colind' is %d, outside 0..%lld", k, j, (long long)p->cols.size() - 1);
    if (!isBinary(p, j)) raise(kErrInvalid, "column %d of the indicator of row %d is not binary", j, i);
    const char t = p->rows[size_t(i)].type;
    if (t != 'L' && t != 'G' && t != 'E')
      raise(kErrInvalid, "row %d is of type %c; indicator constraints must be of type L, G or E", i, t);
  }
  if (n == 0) return;
  p->indicators.resize(p->rows.size());
  for (int k = 0; k < n; ++k)
    p->indicators[size_t(rowind[k])] = complement[k] ? Indicator{colind[k], complement[k]} : Indicator();
}

// Two-call getters: the counting call passes every array absent and max counts 0.
bool countingCall(std::initializer_list<std::pair<const void *, int64_t>> arrays,
                  std::initializer_list<int64_t> maxcounts) {
  for (const auto &a : arrays)
    if (a.first || a.second) return false;
  for (int64_t m : maxcounts)
    if (m) return false;
  return true;
}

void checkMax(int64_t max, int64_t need, const char *name, const char *what) {
  if (max != need)
    raise(kErrInvalid, "argument '%s' is %lld but the range holds %lld %s", name, (long long)max, (long long)need, what);
}

void addPwls(ko_prob_struct *p, int npwl, int64_t npoints, const int *colind, int64_t colind_n, const int *resultant,
             int64_t resultant_n, const int64_t *start, int64_t start_n, const double *xval, int64_t xval_n,
             const double *yval, int64_t yval_n) {
  if (npwl < 0) raise(kErrInvalid, "argument 'npwl' is negative (%d)", npwl);
  if (npoints < 0) raise(kErrInvalid, "argument 'npoints' is negative (%lld)", (long long)npoints);
  checkExact(colind, colind_n, npwl, "colind");
  checkExact(resultant, resultant_n, npwl, "resultant");
  checkExact(xval, xval_n, npoints, "xval");
  checkExact(yval, yval_n, npoints, "yval");
  const ItemStarts st = itemStarts(start, start_n, npwl, npoints, "start");
  const int64_t ncols = int64_t(p->cols.size());
  checkIndices(colind, npwl, ncols, "colind");
  checkIndices(resultant, npwl, ncols, "resultant");
  checkFinite(xval, npoints, "xval");
  checkFinite(yval, npoints, "yval");
  if (int64_t(p->pwls.size()) + npwl > INT32_MAX) raise(kErrInvalid, "the problem would have too many constraints");
  std::vector<PwlCons> fresh(static_cast<size_t>(npwl));
  for (int k = 0; k < npwl; ++k) {
    const int64_t b = st[size_t(k)], e = st[size_t(k) + 1];
    if (b == e) raise(kErrInvalid, "new piecewise-linear constraint %d has no points", k);
    if (colind[k] == resultant[k])
      raise(kErrInvalid, "new piecewise-linear constraint %d uses column %d as input and resultant", k, colind[k]);
    for (int64_t m = b + 1; m < e; ++m)
      if (xval[m] < xval[m - 1])
        raise(kErrInvalid, "the x values of new piecewise-linear constraint %d decrease at point %lld (%g after %g)", k,
              (long long)(m - b), xval[m], xval[m - 1]);
    fresh[size_t(k)] = PwlCons{colind[k], resultant[k], std::vector<double>(xval + b, xval + e),
                               std::vector<double>(yval + b, yval + e)};
  }
  appendAll(p->pwls, fresh);
}

void getPwls(ko_prob_struct *p, int *colind, int64_t colind_n, int *resultant, int64_t resultant_n, int64_t *start,
             int64_t start_n, double *xval, int64_t xval_n, double *yval, int64_t yval_n, int64_t maxpoints,
             int64_t *npoints, int first, int last) {
  if (!npoints) raise(kErrInvalid, "argument 'npoints' is NULL");
  const int64_t len = checkRange(first, last, int64_t(p->pwls.size()), "piecewise-linear constraints");
  int64_t total = 0;
  for (int64_t k = 0; k < len; ++k) total += int64_t(p->pwls[size_t(first + k)].x.size());
  if (countingCall({{colind, colind_n}, {resultant, resultant_n}, {start, start_n}, {xval, xval_n}, {yval, yval_n}},
                   {maxpoints})) {
    *npoints = total;
    return;
  }
  checkExact(colind, colind_n, len, "colind");
  checkExact(resultant, resultant_n, len, "resultant");
  checkExact(start, start_n, len + 1, "start");
  checkMax(maxpoints, total, "maxpoints", "points");
  checkExact(xval, xval_n, total, "xval");
  checkExact(yval, yval_n, total, "yval");
  int64_t pos = 0;
  for (int64_t k = 0; k < len; ++k) {
    const PwlCons &w = p->pwls[size_t(first + k)];
    colind[k] = w.col;
    resultant[k] = w.resultant;
    start[k] = pos;
    for (size_t m = 0; m < w.x.size(); ++m, ++pos) {
      xval[pos] = w.x[m];
      yval[pos] = w.y[m];
    }
  }
  start[len] = pos;
  *npoints = total;
}

const char *const kGenConsNames[] = {"max", "min", "and", "or", "abs"};

void addGenCons(ko_prob_struct *p, int ncons, int64_t ncols, int64_t nvals, const int *contype, int64_t contype_n,
                const int *resultant, int64_t resultant_n, const int64_t *colstart, int64_t colstart_n,
                const int *colind, int64_t colind_n, const int64_t *valstart, int64_t valstart_n, const double *val,
                int64_t val_n) {
  if (ncons < 0) raise(kErrInvalid, "argument 'ncons' is negative (%d)", ncons);
  if (ncols < 0 || nvals < 0) raise(kErrInvalid, "arguments 'ncols' and 'nvals' must not be negative");
  checkExact(contype, contype_n, ncons, "contype");
  checkExact(resultant, resultant_n, ncons, "resultant");
  checkExact(colind, colind_n, ncols, "colind");
  checkExact(val, val_n, nvals, "val");
  const ItemStarts cs = itemStarts(colstart, colstart_n, ncons, ncols, "colstart");
  const ItemStarts vs = itemStarts(valstart, valstart_n, ncons, nvals, "valstart");
  const int64_t count = int64_t(p->cols.size());
  checkIndices(resultant, ncons, count, "resultant");
  checkIndices(colind, ncols, count, "colind");
  checkFinite(val, nvals, "val");
  if (int64_t(p->gencons.size()) + ncons > INT32_MAX) raise(kErrInvalid, "the problem would have too many constraints");
  std::vector<GenCons> fresh(static_cast<size_t>(ncons));
  for (int k = 0; k < ncons; ++k) {
    const int t = contype[k];
    if (t < 0 || t > 4) raise(kErrInvalid, "entry %d of argument 'contype' is %d, expected 0 (max), 1 (min), 2 (and), 3 (or) or 4 (abs)", k, t);
    GenCons &g = fresh[size_t(k)];
    g.type = t;
    g.resultant = resultant[k];
    g.cols.assign(colind + cs[size_t(k)], colind + cs[size_t(k) + 1]);
    g.vals.assign(val + vs[size_t(k)], val + vs[size_t(k) + 1]);
    const char *name = kGenConsNames[t];
    for (int c : g.cols)
      if (c == g.resultant) raise(kErrInvalid, "new general constraint %d (%s) uses column %d as input and resultant", k, name, c);
    if ((t == 0 || t == 1) && g.cols.empty() && g.vals.empty())
      raise(kErrInvalid, "new general constraint %d (%s) has neither columns nor values", k, name);
    if (t == 2 || t == 3) {
      if (!g.vals.empty()) raise(kErrInvalid, "new general constraint %d (%s) takes no values", k, name);
      if (g.cols.empty()) raise(kErrInvalid, "new general constraint %d (%s) has no columns", k, name);
      for (int c : g.cols)
        if (!isBinary(p, c)) raise(kErrInvalid, "new general constraint %d (%s): column %d is not binary", k, name, c);
      if (!isBinary(p, g.resultant))
        raise(kErrInvalid, "new general constraint %d (%s): resultant column %d is not binary", k, name, g.resultant);
    }
    if (t == 4 && (g.cols.size() != 1 || !g.vals.empty()))
      raise(kErrInvalid, "new general constraint %d (abs) must have exactly one column and no values", k);
  }
  appendAll(p->gencons, fresh);
}

void getGenCons(ko_prob_struct *p, int *contype, int64_t contype_n, int *resultant, int64_t resultant_n,
                int64_t *colstart, int64_t colstart_n, int *colind, int64_t colind_n, int64_t maxcols, int64_t *ncols,
                int64_t *valstart, int64_t valstart_n, double *val, int64_t val_n, int64_t maxvals, int64_t *nvals,
                int first, int last) {
  if (!ncols || !nvals) raise(kErrInvalid, "arguments 'ncols' and 'nvals' must not be NULL");
  const int64_t len = checkRange(first, last, int64_t(p->gencons.size()), "general constraints");
  int64_t totc = 0, totv = 0;
  for (int64_t k = 0; k < len; ++k) {
    totc += int64_t(p->gencons[size_t(first + k)].cols.size());
    totv += int64_t(p->gencons[size_t(first + k)].vals.size());
  }
  if (!countingCall({{contype, contype_n}, {resultant, resultant_n}, {colstart, colstart_n}, {colind, colind_n},
                     {valstart, valstart_n}, {val, val_n}},
                    {maxcols, maxvals})) {
    checkExact(contype, contype_n, len, "contype");
    checkExact(resultant, resultant_n, len, "resultant");
    checkExact(colstart, colstart_n, len + 1, "colstart");
    checkExact(valstart, valstart_n, len + 1, "valstart");
    checkMax(maxcols, totc, "maxcols", "columns");
    checkMax(maxvals, totv, "maxvals", "values");
    checkExact(colind, colind_n, totc, "colind");
    checkExact(val, val_n, totv, "val");
    int64_t pc = 0, pv = 0;
    for (int64_t k = 0; k < len; ++k) {
      const GenCons &g = p->gencons[size_t(first + k)];
      contype[k] = g.type;
      resultant[k] = g.resultant;
      colstart[k] = pc;
      valstart[k] = pv;
      for (int c : g.cols) colind[pc++] = c;
      for (double v : g.vals) val[pv++] = v;
    }
    colstart[len] = pc;
    valstart[len] = pv;
  }
  *ncols = totc;
  *nvals = totv;
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXfixmipentities(KRVXprob prob, int options) {
  return change(prob, "KRVXfixmipentities", [&] { fixEntities(prob, options); });
}

extern "C" KRVX_API int KRVXloadmodelcuts_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n) {
  return change(prob, "KRVXloadmodelcuts", [&] { markRows(prob, prob->modelcut, n, rowind, rowind_n); });
}

extern "C" KRVX_API int KRVXloaddelayedrows_witharraysizes(KRVXprob prob, int n, const int *rowind,
                                                           int64_t rowind_n) {
  return change(prob, "KRVXloaddelayedrows", [&] { markRows(prob, prob->delayed, n, rowind, rowind_n); });
}

extern "C" KRVX_API int KRVXscale_witharraysizes(KRVXprob prob, const int *rowscale, int64_t rowscale_n,
                                                 const int *colscale, int64_t colscale_n) {
  return change(prob, "KRVXscale", [&] {
    checkPair(rowscale, rowscale_n, "rowscale");
    checkPair(colscale, colscale_n, "colscale");
    checkScale(rowscale_n, int64_t(prob->rows.size()), "rowscale", "rows");
    checkScale(colscale_n, int64_t(prob->cols.size()), "colscale", "columns");
    if (rowscale_n) prob->rowscale.assign(rowscale, rowscale + rowscale_n);
    if (colscale_n) prob->colscale.assign(colscale, colscale + colscale_n);
  });
}

extern "C" KRVX_API int KRVXgetscale_witharraysizes(KRVXprob prob, int *rowscale, int64_t rowscale_n, int *colscale,
                                                    int64_t colscale_n) {
  return guard(prob, "KRVXgetscale", [&] {
    checkPair(rowscale, rowscale_n, "rowscale");
    checkPair(colscale, colscale_n, "colscale");
    checkScale(rowscale_n, int64_t(prob->rows.size()), "rowscale", "rows");
    checkScale(colscale_n, int64_t(prob->cols.size()), "colscale", "columns");
    for (int64_t i = 0; i < rowscale_n; ++i) rowscale[i] = prob->rowscale.empty() ? 0 : prob->rowscale[size_t(i)];
    for (int64_t j = 0; j < colscale_n; ++j) colscale[j] = prob->colscale.empty() ? 0 : prob->colscale[size_t(j)];
  });
}

extern "C" KRVX_API int KRVXsetindicators_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n,
    const int *colind, int64_t colind_n, const int *complement, int64_t complement_n) {
  return change(prob, "KRVXsetindicators", [&] {
    setIndicators(prob, n, rowind, rowind_n, colind, colind_n, complement, complement_n);
  });
}

extern "C" KRVX_API int KRVXgetindicators_witharraysizes(KRVXprob prob, int *colind, int64_t colind_n, int *complement,
                                                         int64_t complement_n, int first, int last) {
  return guard(prob, "KRVXgetindicators", [&] {
    const int64_t len = checkRange(first, last, int64_t(prob->rows.size()), "rows");
    checkExact(colind, colind_n, len, "colind");
    checkExact(complement, complement_n, len, "complement");
    for (int64_t k = 0; k < len; ++k) {
      const size_t i = size_t(first + k);
      const Indicator ind = i < prob->indicators.size() ? prob->indicators[i] : Indicator();
      colind[k] = ind.complement ? ind.col : -1;
      complement[k] = ind.complement;
    }
  });
}

extern "C" KRVX_API int KRVXdelindicators(KRVXprob prob, int first, int last) {
  return change(prob, "KRVXdelindicators", [&] {
    const int64_t len = checkRange(first, last, int64_t(prob->rows.size()), "rows");
    for (int64_t k = 0; k < len && size_t(first + k) < prob->indicators.size(); ++k)
      prob->indicators[size_t(first + k)] = Indicator();
  });
}

extern "C" KRVX_API int KRVXaddpwlcons64_witharraysizes(KRVXprob prob, int npwl, int64_t npoints, const int *colind,
    int64_t colind_n, const int *resultant, int64_t resultant_n, const int64_t *start, int64_t start_n,
    const double *xval, int64_t xval_n, const double *yval, int64_t yval_n) {
  return change(prob, "KRVXaddpwlcons", [&] {
    addPwls(prob, npwl, npoints, colind, colind_n, resultant, resultant_n, start, start_n, xval, xval_n, yval, yval_n);
  });
}

extern "C" KRVX_API int KRVXgetpwlcons64_witharraysizes(KRVXprob prob, int *colind, int64_t colind_n, int *resultant,
    int64_t resultant_n, int64_t *start, int64_t start_n, double *xval, int64_t xval_n, double *yval,
    int64_t yval_n, int64_t maxpoints, int64_t *npoints, int first, int last) {
  return guard(prob, "KRVXgetpwlcons", [&] {
    getPwls(prob, colind, colind_n, resultant, resultant_n, start, start_n, xval, xval_n, yval, yval_n, maxpoints,
            npoints, first, last);
  });
}

extern "C" KRVX_API int KRVXdelpwlcons_witharraysizes(KRVXprob prob, int n, const int *pwlind, int64_t pwlind_n) {
  return change(prob, "KRVXdelpwlcons", [&] {
    const std::vector<int> map =
        deletionMap(pwlind, n, pwlind_n, int64_t(prob->pwls.size()), "pwlind", "piecewise-linear constraint");
    compact(prob->pwls, map);
    compactNames(prob, 4, map);
  });
}

extern "C" KRVX_API int KRVXaddgencons64_witharraysizes(KRVXprob prob, int ncons, int64_t ncols, int64_t nvals,
    const int *contype, int64_t contype_n, const int *resultant, int64_t resultant_n, const int64_t *colstart,
    int64_t colstart_n, const int *colind, int64_t colind_n, const int64_t *valstart, int64_t valstart_n,
    const double *val, int64_t val_n) {
  return change(prob, "KRVXaddgencons", [&] {
    addGenCons(prob, ncons, ncols, nvals, contype, contype_n, resultant, resultant_n, colstart, colstart_n, colind,
               colind_n, valstart, valstart_n, val, val_n);
  });
}

extern "C" KRVX_API int KRVXgetgencons64_witharraysizes(KRVXprob prob, int *contype, int64_t contype_n, int *resultant,
    int64_t resultant_n, int64_t *colstart, int64_t colstart_n, int *colind, int64_t colind_n, int64_t maxcols,
    int64_t *ncols, int64_t *valstart, int64_t valstart_n, double *val, int64_t val_n, int64_t maxvals,
    int64_t *nvals, int first, int last) {
  return guard(prob, "KRVXgetgencons", [&] {
    getGenCons(prob, contype, contype_n, resultant, resultant_n, colstart, colstart_n, colind, colind_n, maxcols, ncols,
               valstart, valstart_n, val, val_n, maxvals, nvals, first, last);
  });
}

extern "C" KRVX_API int KRVXdelgencons_witharraysizes(KRVXprob prob, int n, const int *conind, int64_t conind_n) {
  return change(prob, "KRVXdelgencons", [&] {
    const std::vector<int> map =
        deletionMap(conind, n, conind_n, int64_t(prob->gencons.size()), "conind", "general constraint");
    compact(prob->gencons, map);
    compactNames(prob, 5, map);
  });
}
