// Reading MPS and LP files: KRVXreadprob against HiGHS's reader (Highs_readModel) on the largest
// Netlib files of the shared data and on a generated file of 200,000 rows (plain and gzip-compressed),
// each also written as LP by our writer. Prints the time ratio ours / HiGHS (best of several runs
// each, measured in the same process).
#include "krvx.h"
#include "interfaces/highs_c_api.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Best of the times `run` reports over repetitions lasting at least `budget` seconds (at least 3).
double best(const std::function<double()> &run, double budget) {
  double bestT = 1e300, start = seconds();
  for (int k = 0; k < 3 || (seconds() - start < budget && k < 200); ++k) bestT = std::min(bestT, run());
  return bestT;
}

// A generated LP: rows L/G/E with some ranges, columns with 5 entries each, assorted bounds.
std::string generate(const std::string &dir, int nrows, int ncols) {
  std::string path = dir + "/generated.mps";
  FILE *f = std::fopen(path.c_str(), "w");
  if (!f) return "";
  std::fprintf(f, "NAME          GENERATED\nROWS\n N  COST\n");
  const char types[] = {'L', 'G', 'E', 'L'};
  for (int i = 0; i < nrows; ++i) std::fprintf(f, " %c  R%d\n", types[i % 4], i);
  std::fprintf(f, "COLUMNS\n");
  unsigned seed = 12345;
  auto rnd = [&]() { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xffffff; };
  for (int j = 0; j < ncols; ++j) {
    int rows[5];
    for (int &r : rows) r = int(rnd() % unsigned(nrows));
    std::sort(rows, rows + 5);
    int n = int(std::unique(rows, rows + 5) - rows);
    std::fprintf(f, "    C%-7d  COST      %12.6f   R%-7d  %12.6f\n", j, double(rnd() % 1000) / 100.0 - 3.0, rows[0],
                 double(rnd() % 2000) / 1000.0 - 1.0);
    for (int k = 1; k < n; k += 2) {
      if (k + 1 < n)
        std::fprintf(f, "    C%-7d  R%-7d  %12.6f   R%-7d  %12.6f\n", j, rows[k], double(rnd() % 2000) / 1000.0 - 1.0,
                     rows[k + 1], double(rnd() % 2000) / 1000.0 - 1.0);
      else
        std::fprintf(f, "    C%-7d  R%-7d  %12.6f\n", j, rows[k], double(rnd() % 2000) / 1000.0 - 1.0);
    }
  }
  std::fprintf(f, "RHS\n");
  for (int i = 0; i < nrows; ++i) std::fprintf(f, "    RHS       R%-7d  %12.4f\n", i, double(rnd() % 10000) / 100.0);
  std::fprintf(f, "RANGES\n");
  for (int i = 0; i < nrows; i += 7) std::fprintf(f, "    RNG       R%-7d  %12.4f\n", i, double(rnd() % 1000) / 10.0);
  std::fprintf(f, "BOUNDS\n");
  for (int j = 0; j < ncols; j += 3) std::fprintf(f, " UP BND       C%-7d  %12.4f\n", j, double(rnd() % 1000) / 10.0 + 1);
  for (int j = 1; j < ncols; j += 11) std::fprintf(f, " FR BND       C%-7d\n", j);
  std::fprintf(f, "ENDATA\n");
  std::fclose(f);
  return path;
}

// The `count` largest .mps / .mps.gz files of a folder.
std::vector<std::string> largest(const std::string &dir, size_t count) {
  std::vector<std::pair<off_t, std::string>> files;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) {
      std::string n = e->d_name, path = dir + "/" + n;
      struct stat st;
      if (n.find(".mps") != std::string::npos && stat(path.c_str(), &st) == 0) files.push_back({st.st_size, path});
    }
    closedir(d);
  }
  std::sort(files.rbegin(), files.rend());
  std::vector<std::string> out;
  for (size_t k = 0; k < files.size() && k < count; ++k) out.push_back(files[k].second);
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  std::string data = argc > 1 ? argv[1] : "../shared/data";
  if (KRVXinit(nullptr) != 0) return 1;
  KRVXprob prob = nullptr;
  if (KRVXcreateprob(&prob) != 0) return 1;
  char tmpl[] = "/tmp/krvx_bench_reader_XXXXXX";
  std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
  std::vector<std::string> files = largest(data + "/netlib", 6);
  if (files.empty()) std::printf("(no Netlib files under %s/netlib: only the generated file is read)\n", data.c_str());
  std::string gen = generate(dir, 200000, 300000), gz = dir + "/generated.mps.gz";
  if (!gen.empty()) {
    files.push_back(gen);
    // the same model compressed, written by our writer
    if (KRVXreadprob(prob, gen.c_str(), "v") == 0 && KRVXwriteprob(prob, gz.c_str(), "") == 0) files.push_back(gz);
  }
  // each file again as LP, written by our writer
  std::vector<std::string> lpFiles;
  for (const std::string &f : files) {
    std::string name = f.substr(f.find_last_of('/') + 1);
    std::string lp = dir + "/" + name.substr(0, name.find('.')) + (f == gz ? "_gz.lp.gz" : ".lp");
    if (KRVXreadprob(prob, f.c_str(), "v") == 0 && KRVXwriteprob(prob, lp.c_str(), "") == 0) lpFiles.push_back(lp);
  }
  files.insert(files.end(), lpFiles.begin(), lpFiles.end());
  std::printf("%-28s %8s %8s %10s %10s %7s\n", "file", "rows", "cols", "ours ms", "HiGHS ms", "ratio");
  double worst = 0.0;
  for (const std::string &f : files) {
    bool big = f.find("generated") != std::string::npos;
    double budget = big ? 2.0 : 0.5;
    char err[KRVX_MAXERRLEN + 1] = "";
    if (KRVXreadprob(prob, f.c_str(), "v") != 0) {
      KRVXgetlasterror(prob, err);
      std::printf("%s: %s\n", f.c_str(), err);
      continue;
    }
    double ours = best(
        [&] {
          double t0 = seconds();
          KRVXreadprob(prob, f.c_str(), "v");
          return seconds() - t0;
        },
        budget);
    int rows = 0, cols = 0;
    KRVXgetintattrib(prob, KRVX_ROWS, &rows);
    KRVXgetintattrib(prob, KRVX_COLS, &cols);
    // HiGHS picks the format by the extension; it reads the .lp and .lp.gz files as LP
    double highs = best(
        [&] {
          void *h = Highs_create();
          Highs_setBoolOptionValue(h, "output_flag", 0);
          double t0 = seconds();
          Highs_readModel(h, f.c_str());
          double t = seconds() - t0;
          Highs_destroy(h);
          return t;
        },
        budget);
    double ratio = ours / highs;
    worst = std::max(worst, ratio);
    std::string name = f.substr(f.find_last_of('/') + 1);
    std::printf("%-28s %8d %8d %10.2f %10.2f %7.2f\n", name.c_str(), rows, cols, ours * 1e3, highs * 1e3, ratio);
  }
  std::printf("worst ratio ours / HiGHS: %.2f (target: MPS <= 1.2, LP <= 1.0)\n", worst);
  std::remove(gen.c_str());
  std::remove(gz.c_str());
  for (const std::string &f : lpFiles) std::remove(f.c_str());
  rmdir(dir.c_str());
  KRVXdestroyprob(prob);
  KRVXfree();
  return 0;
}
