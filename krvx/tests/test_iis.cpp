// IISs of LPs: every infeasible data file and random infeasible LPs, each IIS checked by solves of
// its own (infeasible, feasible without any one member) and by its certificate; the systematic
// search on problems with known IISs; the state around a search.
#include "iis_check.h"
#include "solve/solve.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

void dataFiles(const std::string &folder) {
  const char *files[] = {"box1", "ex72a", "forest6", "galenet", "klein1", "woodinfe", "gas11"};
  for (const char *f : files) {
    KRVXprob p = quietProb();
    const std::string path = folder + "/infeasible/" + f + ".mps";
    EXPECT_OK(p, KRVXreadprob(p, path.c_str(), ""));
    const std::string before = snapshot(p);
    int status = -1;
    EXPECT_OK(p, KRVXiisfirst(p, 1, &status));
    EXPECT(status == (std::string(f) == "gas11" ? 1 : 0));   // gas11 is unbounded, not infeasible
    if (status == 0) {
      EXPECT(niis(p) == 1);
      IisData d0;
      EXPECT(getIis(p, 0, d0) && d0.size() > 0);
      EXPECT(solveSubsystem(p, d0) == kHighsModelStatusInfeasible);
      EXPECT(checkLpIis(p, 1, f));
      // a second IIS, when there is one, passes the same checks
      EXPECT_OK(p, KRVXiisnext(p, &status));
      EXPECT(status == 0 || status == 1);
      if (status == 0) EXPECT(checkLpIis(p, 2, f));
    }
    EXPECT(snapshot(p) == before);
    KRVXdestroyprob(p);
  }
}

// Random LPs (rows of every type, bounds finite or not) until enough infeasible ones: IIS 1 in
// either mode and the IIS nextIIS finds are checked, and the two differ.
void randomLps() {
  std::mt19937 rng(7);
  int cases = 0;
  for (int attempt = 0; attempt < 2000 && cases < 40; ++attempt) {
    KRVXprob p = quietProb();
    const int n = 2 + int(rng() % 5), m = 2 + int(rng() % 6);
    if (randomLp(p, rng, n, m, false)) {
      ++cases;
      const std::string what = "random LP " + std::to_string(attempt);
      int status = -1;
      EXPECT_OK(p, KRVXiisfirst(p, 1 + cases % 2, &status));
      EXPECT(status == 0 && checkLpIis(p, 1, what.c_str()));
      EXPECT_OK(p, KRVXiisnext(p, &status));
      EXPECT(status == 0 || status == 1);
      IisData a, b;
      if (status == 0)
        EXPECT(checkLpIis(p, 2, what.c_str()) && getIis(p, 1, a) && getIis(p, 2, b) &&
               (a.rows != b.rows || a.cols != b.cols || a.bndtype != b.bndtype));
    }
    KRVXdestroyprob(p);
  }
  EXPECT(cases == 40);
}

// The sum of infeasibilities of IIS num.
double iisSumInf(KRVXprob p, int num) {
  const int n = niis(p);
  if (n < num) return -1.0;
  std::vector<int> r(size_t(n) + 1), c(r), k(r);
  std::vector<double> sum(r.size());
  int count = 0;
  KRVXiisstatus_witharraysizes(p, &count, r.data(), n + 1, c.data(), n + 1, sum.data(), n + 1, k.data(), n + 1);
  return sum[size_t(num)];
}

// Random LPs with one row that its columns' bounds keep from its side (its columns touch no other
// row; the other rows hold at a point inside the bounds): the IIS is that side with the bounds
// the test picks itself, checked by solves of its own and its certificate, with the row's gap as
// its sum of infeasibilities; and the general search finds the same bounds when the row's
// activity goes through a free column (a.x - s = 0 and s against the side), which no bound limits.
void rowAgainstBounds() {
  std::mt19937 rng(11);
  auto half = [&](int lo, int hi) { return 0.5 * double(lo + int(rng() % unsigned(hi - lo + 1))); };
  for (int cs = 0; cs < 40; ++cs) {
    const int na = 1 + int(rng() % 3), nb = 1 + int(rng() % 3), m = 1 + int(rng() % 4), bad = int(rng() % unsigned(m + 1));
    std::vector<TCol> cols;
    for (int j = 0; j < na + nb; ++j) {
      const double lb = half(-6, 2);
      cols.push_back({0.0, lb, rng() % 5 == 0 ? lb : lb + half(1, 8)});
    }
    // the other rows on columns na.. only, holding at x0
    std::vector<double> x0(size_t(na + nb));
    for (int j = na; j < na + nb; ++j) x0[size_t(j)] = cols[size_t(j)].lb + 0.5 * (cols[size_t(j)].ub - cols[size_t(j)].lb);
    std::vector<TRow> rows;
    for (int i = 0; i < m; ++i) {
      TRow r{"LGER"[rng() % 4], 0.0, {}, 0.0};
      double act = 0.0;
      for (int j = na; j < na + nb; ++j)
        if (rng() % 3) r.coefs.push_back({j, half(-6, 6)}), act += r.coefs.back().second * x0[size_t(j)];
      const double slack = half(0, 4);
      r.rhs = r.type == 'L' ? act + slack : r.type == 'G' ? act - slack : r.type == 'R' ? act + slack : act;
      if (r.type == 'R') r.range = slack + half(1, 4);
      rows.push_back(r);
    }
    // the bad row on columns 0..na-1: its side beyond its activity limit by gap
    TRow b{"LGER"[rng() % 4], 0.0, {}, 0.0};
    double lo = 0.0, up = 0.0;
    for (int j = 0; j < na; ++j) {
      double a = half(-6, 6);
      if (a == 0.0) a = 1.5;
      b.coefs.push_back({j, a});
      lo += a * (a > 0 ? cols[size_t(j)].lb : cols[size_t(j)].ub);
      up += a * (a > 0 ? cols[size_t(j)].ub : cols[size_t(j)].lb);
    }
    const double gap = half(1, 6);
    // above: the activity cannot reach the lower side (sign -1); else it cannot fall to the upper one
    const bool above = b.type == 'G' || ((b.type == 'E' || b.type == 'R') && rng() % 2);
    const double width = b.type == 'R' ? half(1, 4) : 0.0;
    b.rhs = above ? up + gap + width : lo - gap;
    b.range = width;
    rows.insert(rows.begin() + bad, b);
    std::vector<int> wantCols;
    std::vector<char> wantType;
    for (int j = 0; j < na; ++j) {
      const double a = b.coefs[size_t(j)].second;
      wantCols.push_back(j);
      wantType.push_back(cols[size_t(j)].lb == cols[size_t(j)].ub ? 'F' : (a > 0) == above ? 'U' : 'L');
    }
    const std::string what = "row against bounds " + std::to_string(cs);
    KRVXprob p = quietProb();
    setModel(p, 1, cols, rows);
    int status = -1;
    EXPECT_OK(p, KRVXiisfirst(p, 1 + cs % 2, &status));
    IisData d;
    EXPECT(status == 0 && getIis(p, 1, d) && d.rows == std::vector<int>{bad} && d.cols == wantCols &&
           d.bndtype == wantType && checkLpIis(p, 1, what.c_str()));
    EXPECT(std::fabs(iisSumInf(p, 1) - gap) < 1e-9);
    // the same through a free column
    TRow link{'E', 0.0, b.coefs, 0.0}, side{b.type, b.rhs, {{na + nb, 1.0}}, b.range};
    link.coefs.push_back({na + nb, -1.0});
    rows[size_t(bad)] = side;
    rows.push_back(link);
    cols.push_back({0.0, -1e20, 1e20});
    KRVXprob q = quietProb();
    setModel(q, 1, cols, rows);
    EXPECT_OK(q, KRVXiisfirst(q, 1, &status));
    IisData g;
    EXPECT(status == 0 && getIis(q, 1, g) && g.rows == (std::vector<int>{bad, m + 1}) && g.cols == wantCols &&
           g.bndtype == wantType && checkLpIis(q, 1, what.c_str()));
    EXPECT(std::fabs(iisSumInf(q, 1) - gap) < 1e-7);
    KRVXdestroyprob(p);
    KRVXdestroyprob(q);
  }
}

// x1 + x2 <= 1, x1 + x2 >= 2 (rows 0, 1) and y >= 3 (row 2) with y <= 1: two IISs, each member in
// isolation; the whole search finds exactly these two, MAXIIS stops it at one.
void twoCores() {
  KRVXprob p = quietProb();
  setModel(p, 1, {{1, 0, 1e20}, {1, 0, 1e20}, {0, 0, 1}},
           {{'L', 1, {{0, 1}, {1, 1}}}, {'G', 2, {{0, 1}, {1, 1}}}, {'G', 3, {{2, 1}}}});
  EXPECT(niis(p) == -1);
  EXPECT_OK(p, KRVXiisall(p));
  EXPECT(niis(p) == 2);
  IisData a, b;
  EXPECT(getIis(p, 1, a) && getIis(p, 2, b));
  if (a.rows.size() == 1) std::swap(a, b);
  EXPECT((a.rows == std::vector<int>{0, 1} && a.cols.empty() && a.contype == std::vector<char>{'L', 'G'}));
  EXPECT((b.rows == std::vector<int>{2} && b.cols == std::vector<int>{2} && b.bndtype == std::vector<char>{'U'}));
  EXPECT(a.isorows[0] == -1);
  auto isolated = [](signed char v) { return v == 1; };
  for (int k = 1; k <= 2; ++k) {
    EXPECT_OK(p, KRVXiisisolations(p, k));
    EXPECT(getIis(p, k, a) && std::all_of(a.isorows.begin(), a.isorows.end(), isolated) &&
           std::all_of(a.isocols.begin(), a.isocols.end(), isolated));
  }
  int status = -1;
  EXPECT_OK(p, KRVXiisnext(p, &status));
  EXPECT(status == 1);
  // the status arrays, sized by the counting call
  int n = -1, rows[3], cols[3], num[3];
  double sum[3];
  EXPECT_OK(p, KRVXiisstatus_witharraysizes(p, &n, rows, 3, cols, 3, sum, 3, num, 3));
  EXPECT((n == 2 && rows[1] + rows[2] == 3 && cols[1] + cols[2] == 1));
  EXPECT(sum[0] > 0 && num[0] >= 1);
  EXPECT_FAILS(p, KRVXiisstatus_witharraysizes(p, &n, rows, 2, cols, 3, sum, 3, num, 3), "rowsizes");
  KRVXsetintcontrol(p, KRVX_MAXIIS, 1);
  EXPECT_OK(p, KRVXiisall(p));
  EXPECT(niis(p) == 1);
  // a change of the problem drops the search; so does clearing it
  const int row = 0;
  const double rhs = 5;
  EXPECT_OK(p, KRVXchgrhs(p, 1, &row, &rhs));
  EXPECT(niis(p) == -1);
  EXPECT_FAILS(p, KRVXiisprint(p, 0), "no IIS search");
  EXPECT_OK(p, KRVXiisfirst(p, 0, &status));
  EXPECT(status == 0 && niis(p) == 0);
  EXPECT(getIis(p, 0, a) && a.size() >= 2);
  EXPECT_FAILS(p, KRVXgetiisdata_witharraysizes(p, 1, &n, &n, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                                                0, nullptr, 0, nullptr, 0, nullptr, 0),
               "IIS 1 does not exist");
  EXPECT_OK(p, KRVXiisnext(p, &status));   // continues from IIS 0
  EXPECT(status == 0 && niis(p) == 1);
  EXPECT_OK(p, KRVXiisclear(p));
  EXPECT(niis(p) == -1);
  EXPECT_FAILS(p, KRVXiisfirst(p, 3, &status), "invalid mode 3");
  EXPECT_FAILS(p, KRVXiisfirst(p, 1, nullptr), "'status' is NULL");
  KRVXdestroyprob(p);
}

std::vector<std::string> g_lines;
void collect(KRVXprob, void *, const char *msg, int len, int) { g_lines.emplace_back(msg, size_t(len)); }

// x <= 1 with rows x >= 2 and x >= 3: two IISs sharing the bound; isolations, printing, writing.
void sharedBound() {
  KRVXprob p = quietProb();
  setModel(p, 1, {{1, -1e20, 1}}, {{'G', 2, {{0, 1}}}, {'G', 3, {{0, 1}}}});
  KRVXsetprobname(p, "shared");
  EXPECT_OK(p, KRVXiisall(p));
  EXPECT(niis(p) == 2);
  EXPECT_OK(p, KRVXiisisolations(p, 1));
  EXPECT_FAILS(p, KRVXiisisolations(p, 0), "IIS 0");
  IisData a;
  EXPECT(getIis(p, 1, a));
  EXPECT((a.isorows == std::vector<signed char>{1} && a.isocols == std::vector<signed char>{0}));
  EXPECT(a.duals.size() == 1 && a.duals[0] < 0 && a.djs[0] > 0);   // lower side of the row, upper bound
  KRVXaddmessagehandler(p, collect, nullptr);
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 1);
  g_lines.clear();
  EXPECT_OK(p, KRVXiisprint(p, 1));
  EXPECT(g_lines.size() == 3 && g_lines[0].rfind("IIS 1:", 0) == 0 && contains(g_lines[2], "bound C1 U 1"));
  // as a problem: read back, still infeasible; as CSV: a header and one line per member
  const std::string base = "iis_shared_" + std::to_string(getpid());
  for (const char *ext : {".lp", ".mps"}) {
    const std::string file = base + ext;
    EXPECT_OK(p, KRVXiiswrite(p, 1, file.c_str(), 0, ext[1] == 'l' ? "lp" : ""));
    int rows = 0, cols = 0;
    EXPECT(fileSolStatus(file, &rows, &cols) == KRVX_SOLSTATUS_INFEASIBLE && rows == 1 && cols == 1);
    std::remove(file.c_str());
  }
  EXPECT_OK(p, KRVXiiswrite(p, 2, nullptr, 1, "lp"));
  std::string csv = fileBytes("shared_iis2.csv");
  EXPECT(csv.rfind("name,kind,type,value,multiplier,isolation\n", 0) == 0);
  EXPECT(contains(csv, ",row,G,") && contains(csv, "C1,bound,U,1,1,-1\n"));
  std::remove("shared_iis2.csv");
  EXPECT_FAILS(p, KRVXiiswrite(p, 1, "x.lp", 2, "lp"), "invalid filetype");
  EXPECT_FAILS(p, KRVXiiswrite(p, 1, "x.lp", 0, "q"), "unknown flag");
  KRVXdestroyprob(p);
}

// Many IISs (x <= 1 against rows x >= 2, 3, ...): an interrupt or the time limit stops the search,
// which keeps what it found and can go on; the problem is unchanged.
void stopping() {
  KRVXprob p = quietProb();
  const int n = 2000;
  std::vector<TRow> rows;
  for (int k = 0; k < n; ++k) rows.push_back({'G', 2.0 + k, {{0, 1}}});
  setModel(p, 1, {{1, -1e20, 1}}, rows);
  const std::string before = snapshot(p);
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    while (!done.load()) {
      KRVXinterrupt(p, KRVX_STOP_USER);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  EXPECT_OK(p, KRVXiisall(p));
  done.store(true);
  stopper.join();
  const int found = niis(p);
  EXPECT(found >= -1 && found < n);
  // the stop shows in the statuses until the search goes on (from where it stopped)
  EXPECT(intAttr(p, KRVX_SOLVESTATUS) == KRVX_SOLVESTATUS_STOPPED && intAttr(p, KRVX_STOPSTATUS) == KRVX_STOP_USER);
  int status = -1;
  EXPECT_OK(p, KRVXiisnext(p, &status));
  EXPECT(status == 0 && niis(p) == std::max(found, 0) + 1);
  EXPECT(snapshot(p) == before);
  KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 1e-9);
  EXPECT_OK(p, KRVXiisfirst(p, 1, &status));
  EXPECT(status == 3);
  EXPECT_OK(p, KRVXiisnext(p, &status));
  EXPECT(status == 3 && intAttr(p, KRVX_STOPSTATUS) == krvx::kStopTimeLimit);
  EXPECT_OK(p, KRVXiisclear(p));   // dropping the search takes its stop away
  EXPECT(intAttr(p, KRVX_SOLVESTATUS) == KRVX_SOLVESTATUS_UNSTARTED && intAttr(p, KRVX_STOPSTATUS) == 0);
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  randomLps();
  rowAgainstBounds();
  twoCores();
  sharedBound();
  stopping();
  const std::string data = sharedData("IISs of the infeasible data files");
  if (!data.empty()) dataFiles(data);
  KRVXfree();
  return finish("test_iis");
}
