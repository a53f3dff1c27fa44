// Library start and stop (counted), problem creation, destruction and copy.
#include "nl/nl.h"
#include "core/call_guard.h"
#include "core/highs_pool.h"
#include "core/model.h"

#include "interfaces/highs_c_api.h"

#include <memory>

#include <sys/stat.h>

namespace {
std::mutex initMutex;
int initCount = 0;
}  // namespace

using namespace krvx;

extern "C" KRVX_API int KRVXinit(const char *path) {
  return guardGlobal("KRVXinit", [&] {
    if (path && *path) {
      struct stat st;
      if (::stat(path, &st) != 0) raise(kErrFile, "path '%.400s' does not exist", path);
    }
    std::lock_guard<std::mutex> lock(initMutex);
    ++initCount;
  });
}

extern "C" KRVX_API int KRVXfree(void) {
  return guardGlobal("KRVXfree", [&] {
    std::lock_guard<std::mutex> lock(initMutex);
    if (initCount == 0) raise(kErrInvalid, "the library is not initialised");
    --initCount;
  });
}

extern "C" KRVX_API int KRVXcreateprob(KRVXprob *prob) {
  return guardGlobal("KRVXcreateprob", [&] {
    if (!prob) raise(kErrInvalid, "argument 'prob' is NULL");
    *prob = nullptr;
    {
      std::lock_guard<std::mutex> lock(initMutex);
      if (initCount == 0) raise(kErrInvalid, "the library is not initialised (call KRVXinit first)");
    }
    auto *p = new ko_prob_struct;
    p->lasterror.reserve(KRVX_MAXERRLEN);   // error texts then never allocate
    *prob = p;
  });
}

extern "C" KRVX_API int KRVXdestroyprob(KRVXprob prob) {
  if (!prob) return failGlobal(kErrNoProblem, "KRVXdestroyprob: no problem given");
  if (prob->solving.load()) return fail(prob, kErrBusy, "KRVXdestroyprob: the problem is being solved");
  {
    std::lock_guard<std::recursive_mutex> lock(prob->mtx);   // wait for calls still running
    leavePresolved(prob);
    releaseHighs(prob->highs);
    prob->highs = nullptr;
    closeLog(prob);
  }
  nlFree(prob);
  delete prob;
  return 0;
}

extern "C" KRVX_API int KRVXcopyprob(KRVXprob dest, KRVXprob src, const char *probname) {
  if (!dest) return failGlobal(kErrNoProblem, "KRVXcopyprob: no destination problem given");
  if (!src) return fail(dest, kErrNoProblem, "KRVXcopyprob: no source problem given");
  if (dest == src) return fail(dest, kErrInvalid, "KRVXcopyprob: source and destination are the same problem");
  // the source is copied under its own lock only, so two copies in opposite directions cannot deadlock
  std::unique_ptr<ko_prob_struct> copy;
  try {
    copy.reset(new ko_prob_struct);
    std::lock_guard<std::recursive_mutex> lock(src->mtx);
    copyStore(*copy, *src);
  } catch (...) {
    return failFrom(dest, "KRVXcopyprob");
  }
  return guard(dest, "KRVXcopyprob", [&] {
    requireIdle(dest);
    std::string name = checkedString(probname, KRVX_MAXPROBNAMELENGTH, "probname");
    if (!name.empty()) copy->name = name;
    Solution sol = copy->sol;
    ControlValues controls = copy->controls;
    int outputlog = copy->outputlog.load();
    loadStore(dest, std::move(*copy));
    dest->sol = std::move(sol);
    dest->controls = std::move(controls);
    dest->tunermethod = std::move(copy->tunermethod);
    dest->outputlog.store(outputlog);
  });
}
