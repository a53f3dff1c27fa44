// Solve overhead of libkrvx: each file is solved through KRVXoptimize (lowering the store, solving,
// mapping the results back) and, as the reference, read and solved by HiGHS's C API directly.
// Prints the times and their ratio per file (best of a few runs), and the geometric mean.
#include "krvx.h"
#include "interfaces/highs_c_api.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Best time of a cold solve through libkrvx (read first, not timed); objective in *obj.
double ours(const std::string &file, int repeats, double *obj) {
  double best = 1e300;
  for (int r = 0; r < repeats; ++r) {
    KRVXprob p = nullptr;
    KRVXcreateprob(&p);
    KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
    if (KRVXreadprob(p, file.c_str(), "") != 0) {
      KRVXdestroyprob(p);
      return NAN;
    }
    int ss, st;
    const double t0 = now();
    KRVXoptimize(p, "", &ss, &st);
    best = std::min(best, now() - t0);
    KRVXgetdblattrib(p, KRVX_OBJVAL, obj);
    KRVXdestroyprob(p);
  }
  return best;
}

// The same through HiGHS directly: its own reader, then one run.
double reference(const std::string &file, int repeats, double *obj) {
  double best = 1e300;
  for (int r = 0; r < repeats; ++r) {
    void *h = Highs_create();
    Highs_setBoolOptionValue(h, "output_flag", 0);
    if (Highs_readModel(h, file.c_str()) == kHighsStatusError) {
      Highs_destroy(h);
      return NAN;
    }
    const double t0 = now();
    Highs_run(h);
    best = std::min(best, now() - t0);
    *obj = Highs_getObjectiveValue(h);
    Highs_destroy(h);
  }
  return best;
}

}  // namespace

int main(int argc, char **argv) {
  const std::string data = argc > 1 ? argv[1] : "../shared/data";
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  const char *files[] = {"netlib/afiro.mps.gz", "netlib/adlittle.mps.gz", "netlib/bandm.mps.gz",
                         "netlib/degen2.mps.gz", "netlib/finnis.mps.gz", "netlib/scorpion.mps.gz",
                         "netlib/sctap1.mps.gz", "netlib/stocfor1.mps.gz", "mip/egout.mps", "mip/lseu.mps",
                         "mip/p0548.mps", "mip/gt2.mps", "qp/qjh.mps"};
  if (KRVXinit(nullptr) != 0) return 1;
  std::printf("%-26s %12s %12s %8s\n", "file", "HiGHS (s)", "libkrvx (s)", "ratio");
  double logsum = 0;
  int n = 0;
  for (const char *f : files) {
    const std::string path = data + "/" + f;
    double objref = 0, objours = 0;
    const double tref = reference(path, repeats, &objref);
    const double tours = ours(path, repeats, &objours);
    if (std::isnan(tref) || std::isnan(tours)) {
      std::printf("%-26s %12s\n", f, "unreadable");
      continue;
    }
    const double ratio = tours / std::max(tref, 1e-6);
    std::printf("%-26s %12.4f %12.4f %8.2f%s\n", f, tref, tours, ratio,
                std::fabs(objref - objours) > 1e-6 * (1 + std::fabs(objref)) ? "  (objectives differ)" : "");
    logsum += std::log(ratio);
    ++n;
  }
  if (n) std::printf("geometric mean ratio (libkrvx / HiGHS): %.2f over %d files\n", std::exp(logsum / n), n);
  KRVXfree();
  return 0;
}
