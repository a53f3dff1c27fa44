// Every file of expected.csv read and solved: status and objective as listed.
#include "krvx.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

int main() {
  const char *data = std::getenv("KORVEX_DATA");
  if (!data || access((std::string(data) + "/expected.csv").c_str(), R_OK) != 0) {
    std::printf("KORVEX_DATA not set or absent: skipped\n");
    return 0;
  }
  if (KRVXinit(nullptr) != 0) return 1;
  std::ifstream csv(std::string(data) + "/expected.csv");
  std::string line;
  std::getline(csv, line);
  int failures = 0, solved = 0;
  while (std::getline(csv, line)) {
    std::stringstream ss(line);
    std::string file, status, objective;
    std::getline(ss, file, ',');
    std::getline(ss, status, ',');
    std::getline(ss, objective, ',');
    if (status == "error") continue;  // refused files: test_read
    KRVXprob p = nullptr;
    KRVXcreateprob(&p);
    KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
    char err[KRVX_MAXERRLEN + 1] = "";
    int solvestatus = 0, solstatus = 0;
    double obj = 0.0;
    bool ok = KRVXreadprob(p, (std::string(data) + "/" + file).c_str(), "") == 0 &&
              KRVXoptimize(p, "", &solvestatus, &solstatus) == 0 && KRVXgetdblattrib(p, KRVX_OBJVAL, &obj) == 0;
    if (!ok) KRVXgetlasterror(p, err);
    int want = status == "infeasible" ? KRVX_SOLSTATUS_INFEASIBLE
               : status == "unbounded" ? KRVX_SOLSTATUS_UNBOUNDED
                                       : KRVX_SOLSTATUS_OPTIMAL;
    double expected = objective.empty() ? 0.0 : std::atof(objective.c_str());
    bool good = ok && solstatus == want &&
                (want != KRVX_SOLSTATUS_OPTIMAL || std::fabs(obj - expected) <= 1e-6 * (1.0 + std::fabs(expected)));
    if (!good) {
      std::fprintf(stderr, "%s: expected %s %s, got solstatus %d objective %.10g %s\n", file.c_str(), status.c_str(),
                   objective.c_str(), solstatus, obj, err);
      ++failures;
    }
    ++solved;
    KRVXdestroyprob(p);
  }
  KRVXfree();
  std::printf("%d files solved, %d wrong\n", solved, failures);
  return failures ? 1 : 0;
}
