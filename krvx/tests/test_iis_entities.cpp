// IISs of problems with entities, sets, indicator, piecewise-linear and general constraints, and
// of random MIPs: each IIS is infeasible on its own and feasible without any one member (members
// dropped through the library's own changing calls on a copy, then KRVXoptimize), certificates
// where the continuous part is infeasible.
#include "iis_check.h"

#include <functional>

namespace {

// A copy of p restricted to the members of IIS d (member skip left out), solved: 1 infeasible,
// 0 feasible, -1 refused.
int solveRestricted(KRVXprob p, const IisData &d, int skip) {
  KRVXprob q = quietProb();
  KRVXcopyprob(q, p, "restricted");
  const int nrows = intAttr(p, KRVX_ROWS), ncols = intAttr(p, KRVX_COLS), nsets = intAttr(p, KRVX_SETS);
  const int npwl = intAttr(p, KRVX_PWLCONS), ngen = intAttr(p, KRVX_GENCONS);
  std::vector<char> keepRow(size_t(nrows + nsets + npwl + ngen), 0);
  for (size_t k = 0; k < d.rows.size(); ++k)
    if (int(k) != skip) keepRow[size_t(d.rows[k])] = 1;
  std::vector<int> freeRows, sets, pwls, gens;
  for (int i = 0; i < int(keepRow.size()); ++i) {
    if (keepRow[size_t(i)]) continue;
    if (i < nrows) freeRows.push_back(i);
    else if (i < nrows + nsets) sets.push_back(i - nrows);
    else if (i < nrows + nsets + npwl) pwls.push_back(i - nrows - nsets);
    else gens.push_back(i - nrows - nsets - npwl);
  }
  for (int i : freeRows) KRVXdelindicators(q, i, i);   // an indicator row cannot become free
  const std::vector<char> n(freeRows.size(), 'N');
  KRVXchgrowtype(q, int(freeRows.size()), freeRows.data(), n.data());
  KRVXdelsets_witharraysizes(q, int(sets.size()), sets.data(), int64_t(sets.size()));
  KRVXdelpwlcons_witharraysizes(q, int(pwls.size()), pwls.data(), int64_t(pwls.size()));
  KRVXdelgencons_witharraysizes(q, int(gens.size()), gens.data(), int64_t(gens.size()));
  std::vector<char> lo(size_t(ncols), 0), up(size_t(ncols), 0), type(size_t(ncols), 0);   // members kept
  for (size_t k = 0; k < d.cols.size(); ++k) {
    const size_t j = size_t(d.cols[k]);
    const char t = d.bndtype[k];
    if (int(d.rows.size() + k) == skip) continue;
    lo[j] |= t == 'L' || t == 'F', up[j] |= t == 'U' || t == 'F', type[j] |= t != 'L' && t != 'U' && t != 'F';
  }
  std::vector<char> coltypes(static_cast<size_t>(ncols));
  KRVXgetcoltype(q, coltypes.data(), 0, ncols - 1);
  for (int j = 0; j < ncols; ++j) {
    const char t = coltypes[size_t(j)];
    const bool semi = t == 'S' || t == 'R';
    const char c = 'C';
    if (t != 'C' && !type[size_t(j)] && KRVXchgcoltype(q, 1, &j, &c) != 0) {
      KRVXdestroyprob(q);   // e.g. the binary of an indicator
      return -1;
    }
    const double zero = 0, minus = -1e20, plus = 1e20;
    KRVXchgobj(q, 1, &j, &zero);
    if (!lo[size_t(j)] && (!semi || !type[size_t(j)])) KRVXchgbounds(q, 1, &j, "L", &minus);
    if (!up[size_t(j)]) KRVXchgbounds(q, 1, &j, "U", &plus);
  }
  int ss = 0, sol = 0;
  const int rc = KRVXoptimize(q, "", &ss, &sol);
  KRVXdestroyprob(q);
  return rc ? -1 : sol == KRVX_SOLSTATUS_INFEASIBLE ? 1 : 0;
}

bool checkIis(KRVXprob p, int num, const std::string &what) {
  return checkIisWith(p, num, what, false, [&](const IisData &d, int skip) { return solveRestricted(p, d, skip); });
}

// The first IIS of p, checked, and returned; the letters it must hold among its members. Written
// as MPS (when the format holds its content) it reads back as an infeasible problem.
IisData expectIis(KRVXprob p, const char *what, const std::string &contains, bool mps) {
  int status = -1;
  IisData d;
  EXPECT_OK(p, KRVXiisfirst(p, 1, &status));
  EXPECT(status == 0);
  if (status != 0) return d;
  EXPECT(checkIis(p, 1, what));
  if (mps) {
    const std::string file = "iis_entities_" + std::to_string(getpid()) + ".mps";
    EXPECT_OK(p, KRVXiiswrite(p, 1, file.c_str(), 0, ""));
    if (fileSolStatus(file) != KRVX_SOLSTATUS_INFEASIBLE) {
      std::fprintf(stderr, "%s: the IIS written as MPS is not infeasible\n", what);
      ++check_failures;
    }
    std::remove(file.c_str());
  }
  getIis(p, 1, d);
  std::string letters(d.contype.begin(), d.contype.end());
  letters.append(d.bndtype.begin(), d.bndtype.end());
  for (char c : contains)
    if (letters.find(c) == std::string::npos) {
      std::fprintf(stderr, "%s: no member '%c' in IIS %s\n", what, c, letters.c_str());
      ++check_failures;
    }
  return d;
}

KRVXprob model(const std::vector<TCol> &cols, const std::vector<TRow> &rows) {
  KRVXprob p = quietProb();
  setModel(p, 1, cols, rows);
  return p;
}

// One conflict per kind of entity: the model, what adds the entity, the member letters, whether
// MPS holds it, and a check of the IIS found.
void constructed() {
  struct Case {
    const char *what, *letters;
    std::vector<TCol> cols;
    std::vector<TRow> rows;
    bool mps;
    std::function<void(KRVXprob)> add;
    std::function<void(KRVXprob, const IisData &)> then;
  };
  const Case cases[] = {
      // integer column between 0.5 and 0.75: no certificate for an integer conflict
      {"integer", "GLI", {{0, 0, 10, 'I'}}, {{'G', 1, {{0, 2}}}, {'L', 1.5, {{0, 2}}}}, true, nullptr,
       [](KRVXprob, const IisData &d) { for (double v : d.duals) EXPECT(v == 0.0); }},
      // three binaries summing to 1.5: the continuous part is feasible, so IIS 0 is everything
      {"binary", "EB", {{0, 0, 1, 'B'}, {0, 0, 1, 'B'}, {0, 0, 1, 'B'}}, {{'E', 1.5, {{0, 1}, {1, 1}, {2, 1}}}}, true,
       nullptr, [](KRVXprob p, const IisData &) {
         IisData d0;
         EXPECT(getIis(p, 0, d0) && d0.rows.size() == 1 && d0.cols.size() == 9);
       }},
      // SOS1 over x, y in [0, 1] with x + y >= 1.5
      {"sos1", "G1", {{0, 0, 1}, {0, 0, 1}}, {{'G', 1.5, {{0, 1}, {1, 1}}}}, true,
       [](KRVXprob p) {
         const int64_t start[] = {0, 2};
         const int cols[] = {0, 1};
         const double w[] = {1, 2};
         EXPECT_OK(p, KRVXaddsets64_witharraysizes(p, 1, 2, "1", 1, start, 2, cols, 2, w, 2));
       }, nullptr},
      // b = 1 -> x >= 5; x <= 2; b >= 1
      {"indicator", "ILG", {{0, 0, 1, 'B'}, {0, 0, 10}}, {{'G', 5, {{1, 1}}}, {'L', 2, {{1, 1}}}, {'G', 1, {{0, 1}}}},
       true, [](KRVXprob p) {
         const int row = 0, col = 0, comp = 1;
         EXPECT_OK(p, KRVXsetindicators_witharraysizes(p, 1, &row, 1, &col, 1, &comp, 1));
       }, nullptr},
      // semi-continuous s in {0} u [3, 10] between 1 and 2
      {"semi-continuous", "GLS", {{0, 0, 10, 'S', 3}}, {{'G', 1, {{0, 1}}}, {'L', 2, {{0, 1}}}}, true, nullptr, nullptr},
      // partial integer below 5, between 1.2 and 1.8 (MPS holds no partial integers)
      {"partial integer", "GLP", {{0, 0, 10, 'P', 5}}, {{'G', 1.2, {{0, 1}}}, {'L', 1.8, {{0, 1}}}}, false, nullptr,
       nullptr},
      // y = tent(x) on [0, 2] with y >= 1.5
      {"pwl", "WG", {{0, 0, 2}, {0, -10, 10}}, {{'G', 1.5, {{1, 1}}}}, false,
       [](KRVXprob p) {
         const int col = 0, res = 1;
         const int64_t start = 0;
         const double xs[] = {0, 1, 2}, ys[] = {0, 1, 0};
         EXPECT_OK(p, KRVXaddpwlcons64_witharraysizes(p, 1, 3, &col, 1, &res, 1, &start, 1, xs, 3, ys, 3));
       }, nullptr},
      // y = max(x1, x2) with x1, x2 <= 3 and y >= 5; the general constraint follows the one row
      {"max", "XG", {{0, 0, 3}, {0, 0, 3}, {0, 0, 20}}, {{'G', 5, {{2, 1}}}}, false,
       [](KRVXprob p) {
         const int type = 0, res = 2, cols[] = {0, 1};
         const int64_t cstart = 0, vstart = 0;
         EXPECT_OK(p, KRVXaddgencons64_witharraysizes(p, 1, 2, 0, &type, 1, &res, 1, &cstart, 1, cols, 2, &vstart, 1,
                                                      nullptr, 0));
       }, [](KRVXprob, const IisData &d) { EXPECT(d.rows.size() == 2 && d.rows[1] == 1); }},
  };
  for (const Case &c : cases) {
    KRVXprob p = model(c.cols, c.rows);
    if (c.add) c.add(p);
    const IisData d = expectIis(p, c.what, c.letters, c.mps);
    if (c.then) c.then(p, d);
    KRVXdestroyprob(p);
  }
}

// Random MIPs: integer columns with small bounds, half-integral data.
void randomMips() {
  std::mt19937 rng(11);
  int cases = 0, entity = 0;
  for (int attempt = 0; attempt < 3000 && cases < 25; ++attempt) {
    const int n = 2 + int(rng() % 4), m = 1 + int(rng() % 4);
    std::vector<TCol> cols;
    for (int j = 0; j < n; ++j) cols.push_back({0.0, -double(rng() % 3), double(rng() % 4), rng() % 3 ? 'I' : 'C'});
    std::vector<TRow> rows;
    for (int i = 0; i < m; ++i) {
      TRow r{"LGE"[rng() % 3], double(int(rng() % 9) - 4) + 0.5, {}};
      for (int j = 0; j < n; ++j)
        if (rng() % 2) r.coefs.push_back({j, double(int(rng() % 5) - 2)});
      rows.push_back(r);
    }
    KRVXprob p = model(cols, rows);
    if (solStatus(p) == KRVX_SOLSTATUS_INFEASIBLE) {
      ++cases;
      int status = -1;
      EXPECT_OK(p, KRVXiisfirst(p, 1 + cases % 2, &status));
      EXPECT(status == 0);
      if (status == 0) {
        EXPECT(checkIis(p, 1, "random MIP " + std::to_string(attempt)));
        IisData d;
        getIis(p, 1, d);
        for (char c : d.bndtype) entity += c == 'I';
      }
    }
    KRVXdestroyprob(p);
  }
  EXPECT(cases == 25);
  EXPECT(entity > 0);   // some conflicts need integrality
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  constructed();
  randomMips();
  KRVXfree();
  return finish("test_iis_entities");
}
