// Strong branching (KRVXstrongbranch_witharraysizes) against full re-solves, its iteration
// limit, its refusals, and the problem left as it was; refusals of the analysis calls.
#include "sensitivity_util.h"

#include <algorithm>

namespace {

// The objective and LP status of a copy of p with the bound changed, fully re-solved.
bool resolved(KRVXprob p, int j, char type, double v, double *obj, int *lpstatus) {
  KRVXprob q = newProb();
  KRVXsetintcontrol(q, KRVX_OUTPUTLOG, 0);
  bool ok = KRVXcopyprob(q, p, "copy") == 0;
  if (type == 'B') {
    const char u = 'U', l = 'L';
    ok = ok && KRVXchgbounds(q, 1, &j, &u, &v) == 0 && KRVXchgbounds(q, 1, &j, &l, &v) == 0;
  } else {
    ok = ok && KRVXchgbounds(q, 1, &j, &type, &v) == 0;
  }
  ok = ok && KRVXlpoptimize(q, "") == 0 && KRVXgetintattrib(q, KRVX_LPSTATUS, lpstatus) == 0 &&
       KRVXgetdblattrib(q, KRVX_OBJVAL, obj) == 0;
  KRVXdestroyprob(q);
  return ok;
}

void checkStrongBranch(KRVXprob p, const std::string &name) {
  const int n = int(p->cols.size());
  std::vector<int> cols;
  std::vector<char> types;
  std::vector<double> vals;
  for (int j = 0; j < n; j += n > 30 ? n / 30 : 1) {
    const double x = p->sol.x[size_t(j)];
    // down and up branches around the value, and fixing at it plus one
    cols.insert(cols.end(), {j, j, j});
    types.insert(types.end(), {'U', 'L', 'B'});
    vals.insert(vals.end(), {std::floor(x - 0.5), std::ceil(x + 0.5), x + 1});
  }
  const int nc = int(cols.size());
  const size_t ncs = static_cast<size_t>(nc);
  std::vector<double> obj(ncs), obj0(ncs);
  std::vector<int> st(ncs), st0(ncs);
  const std::string before = snapshot(p);
  EXPECT_OK(p, KRVXstrongbranch_witharraysizes(p, nc, cols.data(), nc, types.data(), nc, vals.data(), nc, 1000000,
                                               obj.data(), nc, st.data(), nc));
  EXPECT_OK(p, KRVXstrongbranch_witharraysizes(p, nc, cols.data(), nc, types.data(), nc, vals.data(), nc, 0,
                                               obj0.data(), nc, st0.data(), nc));
  EXPECT(snapshot(p) == before);
  // branches that cut off the solution need iterations: without any they report the limit
  EXPECT(std::count(st0.begin(), st0.end(), 4) > 0);
  const double sense = p->objsense;
  for (int k = 0; k < nc; ++k) {
    const size_t kk = size_t(k);
    double ref = 0;
    int refst = 0;
    if (!resolved(p, cols[kk], types[kk], vals[kk], &ref, &refst)) {
      EXPECT(st[kk] == 2);   // the re-solve found the branch infeasible
      continue;
    }
    if (st[kk] != refst || (refst == 1 && !near(obj[kk], ref, 1e-6)))
      FAIL("%s: column %d %c %g: status %d objective %.10g, re-solve %d %.10g", name.c_str(), cols[kk], types[kk],
           vals[kk], st[kk], obj[kk], refst, ref);
    // without iterations: optimal only when nothing had to move, else the limit (and a bound)
    EXPECT(st0[kk] == 1 || st0[kk] == 4 || st0[kk] == 2);
    if (st0[kk] == 1 && refst == 1) EXPECT(near(obj0[kk], ref, 1e-6));
    if (st0[kk] == 4 && refst == 1) EXPECT(sense * obj0[kk] <= sense * ref + 1e-6 * (1 + std::fabs(ref)));
  }
}

// min x + 2y, x + y >= 2, 0 <= x, y <= 4
KRVXprob tinyLp() {
  KRVXprob p = newProb();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  setModel(p, 1, {{1, 0, 4}, {2, 0, 4}}, {{'G', 2, {{0, 1}, {1, 1}}}});
  return p;
}

void checkRefusals() {
  KRVXprob p = tinyLp();
  int col = 0, row = 0;
  double lo = 0, hi = 0, v = 0;
  int st = 0;
  const char u = 'U', bad = 'X';
  EXPECT_FAILS(p, KRVXobjsa_witharraysizes(p, 1, &col, 1, &lo, 1, &hi, 1), "optimal basis");
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  EXPECT_OK(p, KRVXrhssa_witharraysizes(p, 1, &row, 1, &lo, 1, &hi, 1));
  EXPECT_OK(p, KRVXobjsa_witharraysizes(p, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  // bad items, selectors and sizes
  col = 2;
  EXPECT_FAILS(p, KRVXobjsa_witharraysizes(p, 1, &col, 1, &lo, 1, &hi, 1), "colind");
  row = -1;
  EXPECT_FAILS(p, KRVXrhssa_witharraysizes(p, 1, &row, 1, &lo, 1, &hi, 1), "rowind");
  col = 0;
  EXPECT_FAILS(p, KRVXobjsa_witharraysizes(p, 1, &col, 1, &lo, 0, &hi, 1), "lower");
  EXPECT_FAILS(p, KRVXstrongbranch_witharraysizes(p, 1, &col, 1, &bad, 1, &v, 1, 10, &lo, 1, &st, 1), "bndtype");
  EXPECT_FAILS(p, KRVXstrongbranch_witharraysizes(p, 1, &col, 1, &u, 1, &v, 1, -1, &lo, 1, &st, 1), "iterlim");
  EXPECT_FAILS(p, KRVXestimaterowdualranges_witharraysizes(p, 1, &row, 1, -1, &lo, 1, &hi, 1), "rowind");
  EXPECT_FAILS(p, KRVXbasisstability(p, 5, 0, 0, &v), "type");
  EXPECT_FAILS(p, KRVXbasisstability(p, 0, 3, 0, &v), "norm");
  // while a solve runs the instance is not free
  p->solving.store(true);
  EXPECT_FAILS(p, KRVXobjsa_witharraysizes(p, 1, &col, 1, &lo, 1, &hi, 1), "being solved");
  p->solving.store(false);
  EXPECT_OK(p, KRVXobjsa_witharraysizes(p, 1, &col, 1, &lo, 1, &hi, 1));
  // a change discards the basis
  const double c = 3;
  EXPECT_OK(p, KRVXchgobj(p, 1, &col, &c));
  EXPECT_FAILS(p, KRVXbasisstability(p, 0, 0, 0, &v), "solve the problem to optimality first");
  // content the analyses do not apply to, each named
  const struct { const char *why; void (*make)(KRVXprob); } cases[] = {
      {"MIP", [](KRVXprob q) { q->cols[0].type = 'I'; }},
      {"quadratic objective", [](KRVXprob q) { q->qobj.push_back({0, 0, 1.0}); }},
      {"several objectives", [](KRVXprob q) { q->objectives.push_back({}); }},
      {"sets",
       [](KRVXprob q) { q->sets.emplace_back(); q->sets.back().cols = {0, 1}; q->sets.back().weights = {1, 2}; }},
  };
  for (const auto &cs : cases) {
    KRVXprob q = tinyLp();
    cs.make(q);
    int ss = 0, sol = 0;
    KRVXoptimize(q, "", &ss, &sol);
    EXPECT_FAILS(q, KRVXstrongbranch_witharraysizes(q, 1, &col, 1, &u, 1, &v, 1, 10, &lo, 1, &st, 1), cs.why);
    KRVXdestroyprob(q);
  }
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  checkRefusals();
  forEachSolvedLp("test_strong_branch", 20,
                  [](KRVXprob p, const std::string &name, int) { checkStrongBranch(p, name); });
  KRVXfree();
  return finish("test_strong_branch");
}
