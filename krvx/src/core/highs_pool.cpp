// A few cleared HiGHS instances kept for reuse by the next problem's first solve.
#include "core/highs_pool.h"

#include "interfaces/highs_c_api.h"

#include <mutex>
#include <vector>

namespace krvx {

namespace {

constexpr size_t kPoolSize = 4;
constexpr HighsInt kPoolLimit = 20000;   // largest model (columns + rows + nonzeros) whose instance is kept

std::mutex &poolMutex() {
  static std::mutex m;
  return m;
}

// never destroyed: instances left at exit belong to no problem
std::vector<void *> &pool() {
  static auto *v = new std::vector<void *>();
  return *v;
}

}  // namespace

void *newHighs() {
  void *h = nullptr;
  {
    std::lock_guard<std::mutex> lock(poolMutex());
    if (!pool().empty()) {
      h = pool().back();
      pool().pop_back();
    }
  }
  if (!h) h = Highs_create();
  if (h) Highs_setBoolOptionValue(h, "log_to_console", 0);
  return h;
}

void releaseHighs(void *h) {
  if (!h) return;
  const bool small = Highs_getNumCol(h) + Highs_getNumRow(h) + Highs_getNumNz(h) <= kPoolLimit &&
                     Highs_getHessianNumNz(h) <= kPoolLimit;
  // options back to their defaults, model, solution and basis dropped (the solve sessions that set
  // callbacks stop them when they end)
  if (small && Highs_clear(h) == kHighsStatusOk) {
    std::lock_guard<std::mutex> lock(poolMutex());
    if (pool().size() < kPoolSize) {
      pool().push_back(h);
      return;
    }
  }
  Highs_destroy(h);
}

}  // namespace krvx
