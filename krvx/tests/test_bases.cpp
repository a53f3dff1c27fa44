// Bases, solution input, diagnostics and the presolved form: warm starts from loaded and read
// bases, pivots, infeasibilities, unbounded rays, barrier solutions, solution files, MIP starts,
// presolve and postsolve.
#include "test_solve_util.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using krvx::kInf;
std::string g_data;

struct Basis {
  std::vector<int> rows, cols;
};

Basis basisOf(KRVXprob p) {
  Basis b{std::vector<int>(size_t(intAttr(p, KRVX_ROWS))), std::vector<int>(size_t(intAttr(p, KRVX_COLS)))};
  EXPECT_OK(p, KRVXgetbasis_witharraysizes(p, b.rows.data(), int64_t(b.rows.size()), b.cols.data(),
                                           int64_t(b.cols.size())));
  return b;
}

void writeText(const std::string &path, const std::string &text) {
  FILE *f = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// The presolve map, sized from the current (presolved) dimensions.
void presolveMap(KRVXprob p, std::vector<int> &rowmap, std::vector<int> &colmap) {
  rowmap.assign(size_t(intAttr(p, KRVX_ROWS)), -2);
  colmap.assign(size_t(intAttr(p, KRVX_COLS)), -2);
  EXPECT_OK(p, KRVXgetpresolvemap_witharraysizes(p, rowmap.data(), int64_t(rowmap.size()), colmap.data(),
                                                 int64_t(colmap.size())));
}

KRVXprob readData(const std::string &file) {
  KRVXprob p = newProb();
  if (KRVXreadprob(p, (g_data + "/" + file).c_str(), "") != 0) {
    std::fprintf(stderr, "reading %s failed: %s\n", file.c_str(), lastError(p).c_str());
    ++check_failures;
  }
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  return p;
}

// An optimal basis loaded into a fresh copy, or read back from a basis file, restarts the simplex
// method at the optimum: no iterations.
void warmStarts() {
  for (const char *file : {"netlib/afiro.mps.gz", "netlib/adlittle.mps.gz", "netlib/sc50a.mps.gz",
                           "netlib/blend.mps.gz", "netlib/share2b.mps.gz", "netlib/boeing2.mps.gz",
                           "netlib/forplan.mps.gz"}) {   // (names with blanks)
    KRVXprob p = readData(file);
    EXPECT_OK(p, KRVXlpoptimize(p, ""));
    const double obj = dblAttr(p, KRVX_OBJVAL);
    const Basis b = basisOf(p);
    EXPECT(std::count(b.rows.begin(), b.rows.end(), 1) + std::count(b.cols.begin(), b.cols.end(), 1) ==
           intAttr(p, KRVX_ROWS));
    const std::string bss = std::string("krvx_bases_") + std::to_string(getpid());
    EXPECT_OK(p, KRVXwritebasis(p, bss.c_str(), ""));
    for (int fromFile = 0; fromFile < 2; ++fromFile) {
      KRVXprob q = readData(file);
      if (fromFile) EXPECT_OK(q, KRVXreadbasis(q, bss.c_str(), ""));
      else EXPECT_OK(q, KRVXloadbasis_witharraysizes(q, b.rows.data(), int64_t(b.rows.size()), b.cols.data(),
                                                    int64_t(b.cols.size())));
      EXPECT_OK(q, KRVXlpoptimize(q, ""));
      if (intAttr(q, KRVX_SIMPLEXITER) != 0 || !near(dblAttr(q, KRVX_OBJVAL), obj))
        std::fprintf(stderr, "%s (%d): %d iterations from the optimal basis\n", file, fromFile,
                     intAttr(q, KRVX_SIMPLEXITER)), ++check_failures;
      KRVXdestroyprob(q);
    }
    std::remove((bss + ".bss").c_str());
    KRVXdestroyprob(p);
  }
}

// min -x - y, x + y <= 4 (r0), x + 3y <= 6 (r1), x, y >= 0
KRVXprob smallLp() {
  KRVXprob p = newProb();
  setModel(p, 1, {{-1, 0, kInf}, {-1, 0, kInf}}, {{'L', 4, {{0, 1}, {1, 1}}}, {'L', 6, {{0, 1}, {1, 3}}}});
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  return p;
}

void basisRefusals() {
  KRVXprob p = smallLp();
  const int rows[] = {1, 1}, cols[] = {0, 0}, tooMany[] = {1, 1}, bad[] = {0, 7};
  EXPECT_FAILS(p, KRVXloadbasis_witharraysizes(p, rows, 1, cols, 2), "1 row statuses for 2 rows");
  EXPECT_FAILS(p, KRVXloadbasis_witharraysizes(p, rows, 2, cols, 1), "1 column statuses for 2 columns");
  EXPECT_FAILS(p, KRVXloadbasis_witharraysizes(p, rows, 2, tooMany, 2), "4 basic entries");
  EXPECT_FAILS(p, KRVXloadbasis_witharraysizes(p, rows, 2, bad, 2), "colstat[1] is 7");
  EXPECT_FAILS(p, KRVXloadpresolvebasis_witharraysizes(p, rows, 2, cols, 2), "not in presolved form");
  // nonlinear content: the basis calls refuse it
  tagKRVNproblem *nl = nullptr;
  EXPECT_OK(p, KRVXnlpcreateprob(p, &nl));
  const int tstart[] = {0, 4}, ttype[] = {KRVN_TOK_RB, KRVN_TOK_COL, KRVN_TOK_IFUN, KRVN_TOK_EOF}, rowind[] = {0},
            colind[] = {KRVN_NOCOL};
  const double tval[] = {0, 0, KRVN_FN_EXP, 0}, factor[] = {1};
  EXPECT_OK(p, KRVNaddcoefs(nl, 1, rowind, colind, factor, tstart, 4, ttype, tval));
  EXPECT_FAILS(p, KRVXloadbasis_witharraysizes(p, rows, 2, cols, 2), "nonlinear formulas");
  KRVXdestroyprob(p);
}

void setNames(KRVXprob p, int kind, const std::vector<std::string> &v) {
  std::string packed;
  for (const std::string &n : v) packed += n + '\0';
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, kind, packed.data(), int64_t(packed.size()), int64_t(v.size()), 0,
                                           int(v.size()) - 1));
}

// Random LPs whose rows and columns have names with blanks, quotes, backslashes, tabs and leading
// '*', '#' or '"': the optimal basis written to a file reads back as the same basis, from which
// the simplex method needs no iteration. A file that is empty, cut before ENDATA or a compressed
// one cut short is refused, and the basis held stays.
void basisFilesOfAnyNames() {
  const char *pieces[] = {"a b", "\"", "\\", "\t", "*", "#", "x", "\\x41", " ", "é", "ENDATA", "XU", "\nENDATA\n"};
  std::mt19937 rng(7);
  const std::string bss = "krvx_bases_names_" + std::to_string(getpid());
  for (int trial = 0; trial < 20; ++trial) {
    const int n = 3 + int(rng() % 4), m = 2 + int(rng() % 4);
    std::vector<TCol> cols;
    for (int j = 0; j < n; ++j) cols.push_back({-1.0 - double(rng() % 5), 0, 1.0 + double(rng() % 9)});
    std::vector<TRow> rows;
    for (int i = 0; i < m; ++i) {
      TRow r{'L', 2.0 + double(rng() % 10), {}};
      for (int j = 0; j < n; ++j)
        if (rng() % 3) r.coefs.push_back({j, 1.0 + double(rng() % 4)});
      rows.push_back(r);
    }
    auto name = [&](int k) {
      std::string s;
      for (int t = 0, len = 1 + int(rng() % 3); t < len; ++t) s += pieces[rng() % (sizeof pieces / sizeof *pieces)];
      return s + std::to_string(k);   // distinct
    };
    std::vector<std::string> rn, cn;
    for (int i = 0; i < m; ++i) rn.push_back(name(i));
    for (int j = 0; j < n; ++j) cn.push_back(name(j));
    KRVXprob p = newProb(), q = newProb();
    for (KRVXprob r : {p, q}) {
      KRVXsetintcontrol(r, KRVX_OUTPUTLOG, 0);
      setModel(r, 1, cols, rows);
      setNames(r, 1, rn);
      setNames(r, 2, cn);
    }
    EXPECT_OK(p, KRVXsetprobname(p, name(trial).c_str()));
    EXPECT_OK(p, KRVXlpoptimize(p, ""));
    const Basis b = basisOf(p);
    EXPECT_OK(p, KRVXwritebasis(p, bss.c_str(), trial % 2 ? "z" : ""));
    EXPECT_OK(q, KRVXreadbasis(q, bss.c_str(), trial % 2 ? "z" : ""));
    const Basis c = basisOf(q);
    EXPECT(c.rows == b.rows && c.cols == b.cols);
    EXPECT_OK(q, KRVXlpoptimize(q, ""));
    EXPECT(intAttr(q, KRVX_SIMPLEXITER) == 0 && near(dblAttr(q, KRVX_OBJVAL), dblAttr(p, KRVX_OBJVAL)));
    if (trial == 0) {
      const std::string text = fileBytes(bss + ".bss");
      writeText(bss + ".bss", "");
      EXPECT_FAILS(q, KRVXreadbasis(q, bss.c_str(), ""), "ENDATA");
      writeText(bss + ".bss", text.substr(0, text.rfind("ENDATA")));
      EXPECT_FAILS(q, KRVXreadbasis(q, bss.c_str(), ""), "ENDATA");
      writeText(bss + ".bss", text.substr(0, text.rfind("ENDATA")) + " XU \"open\n");
      EXPECT_FAILS(q, KRVXreadbasis(q, bss.c_str(), ""), "not closed");
      const Basis kept = basisOf(q);
      EXPECT(kept.rows == b.rows && kept.cols == b.cols);
    } else if (trial == 1) {
      const std::string packed = fileBytes(bss + ".bss.gz");
      for (size_t cut = 1; cut <= 8; ++cut) {   // the gzip trailer, or part of it, missing
        writeText(bss + ".bss.gz", packed.substr(0, packed.size() - cut));
        EXPECT_FAILS(q, KRVXreadbasis(q, bss.c_str(), "z"), "truncated");
      }
    }
    KRVXdestroyprob(p);
    KRVXdestroyprob(q);
  }
  std::remove((bss + ".bss").c_str());
  std::remove((bss + ".bss.gz").c_str());
}

// From the slack basis, x enters in place of r0's slack: x = 4, y = 0, r1's slack 2.
void pivots() {
  KRVXprob p = smallLp();
  const int rows[] = {1, 1}, cols[] = {0, 0};
  EXPECT_OK(p, KRVXloadbasis_witharraysizes(p, rows, 2, cols, 2));
  int order[2] = {-1, -1};
  EXPECT_OK(p, KRVXgetpivotorder_witharraysizes(p, order, 2));
  EXPECT((order[0] == 0 && order[1] == 1) || (order[0] == 1 && order[1] == 0));
  const int r0pos = order[0] == 0 ? 0 : 1;
  EXPECT_FAILS(p, KRVXpivot(p, 1, 0), "entering index 1 is basic");
  EXPECT_FAILS(p, KRVXpivot(p, 2, 3), "leaving index 3 is not basic");
  EXPECT_FAILS(p, KRVXpivot(p, 9, 0), "outside");
  EXPECT_OK(p, KRVXpivot(p, 2, 0));
  EXPECT_OK(p, KRVXgetpivotorder_witharraysizes(p, order, 2));
  EXPECT(order[r0pos] == 2 && order[1 - r0pos] == 1);
  const std::vector<double> x = solution(p);
  double slack[2];
  int st;
  EXPECT_OK(p, KRVXgetslacks(p, &st, slack, 0, 1));
  EXPECT(x.size() == 2 && near(x[0], 4) && near(x[1], 0) && near(slack[0], 0) && near(slack[1], 2));
  // a zero pivot element: y's column has no entry in r0's place once ... (r1 leaves for a row)
  setModel(p, 1, {{-1, 0, kInf}, {-1, 0, kInf}}, {{'L', 4, {{0, 1}}}, {'L', 6, {{1, 3}}}});
  EXPECT_OK(p, KRVXloadbasis_witharraysizes(p, rows, 2, cols, 2));
  EXPECT_FAILS(p, KRVXpivot(p, 3, 0), "pivot element");
  KRVXdestroyprob(p);
}

std::vector<int> infeas(KRVXprob p, int which) {
  int n[4] = {-1, -1, -1, -1};
  EXPECT_OK(p, KRVXgetinfeas_witharraysizes(p, &n[0], &n[1], &n[2], &n[3], nullptr, 0, nullptr, 0, nullptr, 0,
                                            nullptr, 0));
  std::vector<int> v[4];
  for (int k = 0; k < 4; ++k) v[k].resize(size_t(n[k]));
  EXPECT_OK(p, KRVXgetinfeas_witharraysizes(p, &n[0], &n[1], &n[2], &n[3], v[0].data(), int64_t(v[0].size()),
                                            v[1].data(), int64_t(v[1].size()), v[2].data(), int64_t(v[2].size()),
                                            v[3].data(), int64_t(v[3].size())));
  return v[which];
}

void solutionsAndInfeasibilities() {
  KRVXprob p = smallLp();
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  for (int k = 0; k < 4; ++k) EXPECT(infeas(p, k).empty());
  // x = (5, -1): column 1 below its bound, r1 (5 - 3 = 2 <= 6) fine, r0 (4 <= 4) fine
  const double x[] = {5, -1};
  int status = -1;
  EXPECT_OK(p, KRVXloadlpsol_witharraysizes(p, x, 2, nullptr, 0, nullptr, 0, nullptr, 0, &status));
  EXPECT(status == 0 && solution(p) == std::vector<double>({5, -1}));
  EXPECT(infeas(p, 0) == std::vector<int>({1}) && infeas(p, 1).empty() && infeas(p, 3).empty());
  // duals (0, 1): reduced costs c - A'y = (-2, -4) < 0 with neither column at an upper bound, and
  // r1's dual > 0 with its activity not at a lower bound
  const double y[] = {0, 1};
  EXPECT_OK(p, KRVXloadlpsol_witharraysizes(p, x, 2, nullptr, 0, y, 2, nullptr, 0, &status));
  EXPECT(infeas(p, 3) == std::vector<int>({0, 1}) && infeas(p, 2) == std::vector<int>({1}));
  const double y0[] = {-1, 0};   // djs = c - A'y = (0, 0); r0 at its upper side with a dual <= 0
  EXPECT_OK(p, KRVXloadlpsol_witharraysizes(p, x, 2, nullptr, 0, y0, 2, nullptr, 0, &status));
  EXPECT(infeas(p, 3).empty() && infeas(p, 2).empty());
  EXPECT_FAILS(p, KRVXloadlpsol_witharraysizes(p, nullptr, 0, x, 2, nullptr, 0, nullptr, 0, &status), "slack values need x");
  EXPECT_FAILS(p, KRVXloadlpsol_witharraysizes(p, x, 1, nullptr, 0, nullptr, 0, nullptr, 0, &status), "x");
  EXPECT_OK(p, KRVXloadlpsol_witharraysizes(p, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, &status));
  int st = -1;
  EXPECT(KRVXgetsolution(p, &st, nullptr, 0, 1) == 0 && st == KRVX_SOLSTATUS_NOTFOUND);

  // binary solution file: round trip, damage refused
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  const std::string sol = "krvx_bases_sol_" + std::to_string(getpid());
  EXPECT_OK(p, KRVXwritebinsol(p, sol.c_str(), ""));
  const std::vector<double> before = solution(p);
  EXPECT_OK(p, KRVXloadlpsol_witharraysizes(p, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, &status));
  EXPECT_OK(p, KRVXreadbinsol(p, sol.c_str(), ""));
  EXPECT(solution(p) == before);
  // gzip: name + ".sol.gz"; verbatim names are used as they are
  EXPECT_OK(p, KRVXwritebinsol(p, sol.c_str(), "z"));
  EXPECT_OK(p, KRVXreadbinsol(p, sol.c_str(), "z"));
  EXPECT_OK(p, KRVXreadbinsol(p, (sol + ".sol.gz").c_str(), "v"));
  EXPECT(solution(p) == before);
  std::remove((sol + ".sol.gz").c_str());
  std::string bytes = fileBytes(sol + ".sol");
  bytes[bytes.size() / 2] ^= 1;
  writeText(sol + ".sol", bytes);
  EXPECT_FAILS(p, KRVXreadbinsol(p, sol.c_str(), ""), "checksum");
  // files with a valid checksum but a value that is no finite number, or an unknown flag
  bytes[bytes.size() / 2] ^= 1;
  auto withChecksum = [](std::string b) {   // FNV-1a, 64 bits, over all but the last 8 bytes
    uint64_t h = 1469598103934665603ull;
    for (size_t k = 0; k + 8 < b.size(); ++k) h = (h ^ uint8_t(b[k])) * 1099511628211ull;
    std::memcpy(&b[b.size() - 8], &h, 8);
    return b;
  };
  writeText(sol + ".sol", withChecksum(bytes));
  EXPECT_OK(p, KRVXreadbinsol(p, sol.c_str(), ""));   // the test's checksum is the format's
  const size_t header = 32;
  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    std::string b = bytes;
    std::memcpy(&b[header + 8], &bad, 8);
    writeText(sol + ".sol", withChecksum(b));
    EXPECT_FAILS(p, KRVXreadbinsol(p, sol.c_str(), ""), "not a finite number");
    EXPECT_FAILS(p, KRVXloadlpsol_witharraysizes(p, &bad, 1, nullptr, 0, nullptr, 0, nullptr, 0, &status), "x");
    const double xs[] = {1, 1}, duals[] = {0, bad};
    EXPECT_FAILS(p, KRVXloadlpsol_witharraysizes(p, xs, 2, nullptr, 0, duals, 2, nullptr, 0, &status),
                 "entry 1 of argument 'duals' is not a finite number");
  }
  EXPECT(solution(p) == before);
  bytes[28] |= 2;   // flags
  writeText(sol + ".sol", withChecksum(bytes));
  EXPECT_FAILS(p, KRVXreadbinsol(p, sol.c_str(), ""), "unknown flags");
  std::remove((sol + ".sol").c_str());
  KRVXdestroyprob(p);
}

// An unbounded LP: the primal simplex names the entering variable of a ray, the dual one -1.
void unbounded() {
  KRVXprob p = newProb();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  // min -x - 2y, x - y <= 1, -x + y <= 2 ... y - x <= 2 and x - y <= 1 leave x = y -> inf
  setModel(p, 1, {{-1, 0, kInf}, {-2, 0, kInf}, {0, 0, 5}}, {{'L', 1, {{0, 1}, {1, -1}}}, {'L', 2, {{0, -1}, {1, 1}, {2, 1}}}});
  KRVXsetintcontrol(p, KRVX_PRESOLVE, 0);
  EXPECT_OK(p, KRVXlpoptimize(p, "p"));
  int seq = -7;
  EXPECT_OK(p, KRVXgetunbvec(p, &seq));
  EXPECT(intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_UNBOUNDED && seq >= 0 && seq < 5);
  // HiGHS's ray is a direction of unboundedness along which the entering variable moves
  std::vector<double> ray(3);
  HighsInt has = 0;
  Highs_getPrimalRay(p->highs, &has, ray.data());
  EXPECT(has);
  const double cd = -ray[0] - 2 * ray[1], r0 = ray[0] - ray[1], r1 = -ray[0] + ray[1] + ray[2];
  EXPECT(cd < -1e-9 && r0 <= 1e-9 && r1 <= 1e-9 && ray[0] >= -1e-9 && ray[1] >= -1e-9 && std::fabs(ray[2]) <= 1e-9);
  if (seq >= 2) EXPECT(std::fabs(ray[size_t(seq - 2)]) > 1e-9);
  else EXPECT(std::fabs(seq == 0 ? r0 : r1) > 1e-9);
  EXPECT_OK(p, KRVXlpoptimize(p, "d"));
  EXPECT_OK(p, KRVXgetunbvec(p, &seq));
  EXPECT(intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_UNBOUNDED && seq == -1);
  KRVXdestroyprob(p);
}

void barrier() {
  KRVXprob p = smallLp();
  double x[2], s[2], d[2], dj[2];
  int status = -1;
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  EXPECT_OK(p, KRVXgetlastbarsol_witharraysizes(p, x, 2, s, 2, d, 2, dj, 2, &status));
  EXPECT(status == 7 && x[0] == 0.0);
  EXPECT_OK(p, KRVXlpoptimize(p, "b"));
  EXPECT_OK(p, KRVXgetlastbarsol_witharraysizes(p, x, 2, s, 2, d, 2, dj, 2, &status));
  EXPECT(status == 1 && near(-x[0] - x[1], -4, 1e-5) && near(dblAttr(p, KRVX_OBJVAL), -4));
  EXPECT_FAILS(p, KRVXgetlastbarsol_witharraysizes(p, x, 1, s, 2, d, 2, dj, 2, &status), "x");
  KRVXdestroyprob(p);
}

// A MIP start read from a solution file is the incumbent of a solve stopped at its first node
// (which finds no solution of this problem by itself).
void mipStart() {
  KRVXprob p = readData("mip/flugpl.mps");
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  const double best = dblAttr(p, KRVX_OBJVAL);
  const std::vector<double> x = solution(p);
  const std::string slx = "krvx_bases_start_" + std::to_string(getpid()) + ".slx";
  int64_t nbytes = 0;
  EXPECT_OK(p, KRVXgetnames(p, 2, nullptr, 0, &nbytes, 0, int(x.size()) - 1));
  std::vector<char> names(static_cast<size_t>(nbytes));
  EXPECT_OK(p, KRVXgetnames(p, 2, names.data(), int64_t(names.size()), &nbytes, 0, int(x.size()) - 1));
  // two candidates: all columns at 1 (infeasible), then the optimum
  FILE *f = std::fopen(slx.c_str(), "w");
  for (int k = 0; k < 2; ++k) {
    std::fprintf(f, "NAME %s\n", k ? "best" : "ones");
    const char *name = names.data();
    for (double v : x) {
      std::fprintf(f, "C %s %.17g\n", name, k ? v : 1.0);
      name += std::strlen(name) + 1;
    }
  }
  std::fclose(f);
  // no start: the stopped solve finds nothing
  for (const char *flags : {"av", "mv", ""}) {
    KRVXprob q = readData("mip/flugpl.mps");
    // m takes the first solution of the file: rewrite it with the optimum only
    if (flags[0] == 'm') writeText(slx, fileBytes(slx).substr(fileBytes(slx).find("NAME best")));
    if (*flags) EXPECT_OK(q, KRVXreadslxsol(q, slx.c_str(), flags));
    KRVXsetintcontrol(q, KRVX_MAXNODE, 1);
    KRVXsetintcontrol(q, KRVX_PRESOLVE, 0);
    EXPECT_OK(q, KRVXmipoptimize(q, ""));
    EXPECT(*flags ? near(dblAttr(q, KRVX_OBJVAL), best) : intAttr(q, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_NOTFOUND);
    if (!*flags) EXPECT_FAILS(q, KRVXreadslxsol(q, slx.c_str(), "lm"), "excludes");
    KRVXdestroyprob(q);
  }
  std::remove(slx.c_str());
  KRVXdestroyprob(p);
}

// mipoptimize "l": the presolved form, its map, its basis, and postsolve back to the original.
void presolvedForm() {
  KRVXprob p = readData("mip/p0548.mps");
  const int m = intAttr(p, KRVX_ROWS), n = intAttr(p, KRVX_COLS);
  EXPECT_OK(p, KRVXmipoptimize(p, "l"));
  EXPECT(intAttr(p, KRVX_PRESOLVESTATE) == KRVX_PRESOLVED);
  const int pm = intAttr(p, KRVX_ROWS), pn = intAttr(p, KRVX_COLS);
  EXPECT(pm < m && pn < n && intAttr(p, KRVX_ORIGINALROWS) == m && intAttr(p, KRVX_ORIGINALCOLS) == n);
  std::vector<int> rowmap, colmap;
  presolveMap(p, rowmap, colmap);
  std::vector<char> seen(size_t(n), 0);
  for (int j : colmap) {
    EXPECT(j >= -1 && j < n && (j < 0 || !seen[size_t(j)]));
    if (j >= 0) seen[size_t(j)] = 1;
  }
  for (int i : rowmap) EXPECT(i >= -1 && i < m);
  // the presolved LP's basis: loading it back restarts at 0 iterations of the basis calls
  const Basis b = basisOf(p);
  EXPECT(int(b.rows.size()) == pm && int(b.cols.size()) == pn);
  EXPECT_OK(p, KRVXloadpresolvebasis_witharraysizes(p, b.rows.data(), pm, b.cols.data(), pn));
  std::vector<int> order(static_cast<size_t>(pm));
  EXPECT_OK(p, KRVXgetpivotorder_witharraysizes(p, order.data(), pm));
  // directives of the presolved problem: given and reported in its columns, kept for the originals
  int dcol = 0, dprio = 7, nd = -1;
  while (dcol < pn && colmap[size_t(dcol)] < 0) ++dcol;
  EXPECT_OK(p, KRVXloadpresolvedirs_witharraysizes(p, 1, &dcol, 1, &dprio, 1, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT_OK(p, KRVXgetdirs_witharraysizes(p, &nd, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  int gotcol = -1, gotprio = -1;
  char gotdir = 0;
  double up = 0, down = 0;
  EXPECT_OK(p, KRVXgetdirs_witharraysizes(p, &nd, &gotcol, 1, &gotprio, 1, &gotdir, 1, &up, 1, &down, 1));
  EXPECT(nd == 1 && gotcol == dcol && gotprio == 7);
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    EXPECT(p->dirs.size() == 1 && p->dirs[0].index == colmap[size_t(dcol)]);
  }
  int status = -1;
  const std::vector<double> x0(size_t(n), 0.0);
  EXPECT_OK(p, KRVXloadlpsol_witharraysizes(p, x0.data(), n, nullptr, 0, nullptr, 0, nullptr, 0, &status));
  EXPECT(status == 1);
  const double obj = dblAttr(p, KRVX_OBJVAL);
  EXPECT_OK(p, KRVXpostsolve(p));
  EXPECT(intAttr(p, KRVX_PRESOLVESTATE) == 0 && intAttr(p, KRVX_ROWS) == m);
  // the postsolved solution satisfies the original rows and bounds, at the relaxation's value
  const std::vector<double> x = solution(p);
  double c = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    for (int j = 0; j < n; ++j) {
      c += p->cols[size_t(j)].cost * x[size_t(j)];
      EXPECT(x[size_t(j)] >= p->cols[size_t(j)].lb - 1e-6 && x[size_t(j)] <= p->cols[size_t(j)].ub + 1e-6);
    }
  }
  EXPECT(near(c + p->objconst, obj, 1e-6));
  for (int k = 0; k < 2; ++k) EXPECT(infeas(p, k).empty());

  // secured rows and columns stay in the presolved problem
  const int secure = int(std::find(seen.begin(), seen.end(), 0) - seen.begin());
  EXPECT(secure < n);
  if (secure >= n) return;
  EXPECT_OK(p, KRVXloadsecurevecs_witharraysizes(p, 0, 1, nullptr, 0, &secure, 1));
  EXPECT_OK(p, KRVXmipoptimize(p, "l"));
  presolveMap(p, rowmap, colmap);
  EXPECT(intAttr(p, KRVX_PRESOLVESTATE) == KRVX_PRESOLVED && std::count(colmap.begin(), colmap.end(), secure) > 0);
  // a change leaves the presolved form
  const double cost = 1.0;
  EXPECT_OK(p, KRVXchgobj(p, 1, &secure, &cost));
  EXPECT(intAttr(p, KRVX_PRESOLVESTATE) == 0 && intAttr(p, KRVX_COLS) == n);
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  basisRefusals();
  basisFilesOfAnyNames();
  pivots();
  solutionsAndInfeasibilities();
  unbounded();
  barrier();
  g_data = sharedData("warm starts, MIP starts and presolved forms of data files");
  if (!g_data.empty()) {
    warmStarts();
    mipStart();
    presolvedForm();
  }
  KRVXfree();
  return finish("test_bases");
}
