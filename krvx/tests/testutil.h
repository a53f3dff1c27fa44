// Helpers of the libkrvx test programs (checks in check.h); main returns finish().
#pragma once
#include "check.h"
#include "krvx.h"

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <unistd.h>
#include <cstring>
#include <string>


// The last error text of a problem (or the global one for NULL).
inline std::string lastError(KRVXprob p) {
  char buf[KRVX_MAXERRLEN + 1];
  std::memset(buf, 'x', sizeof buf);
  if (KRVXgetlasterror(p, buf) != 0) return "<getlasterror failed>";
  return buf;
}

inline bool contains(const std::string &s, const char *part) { return s.find(part) != std::string::npos; }

// A failing call whose error text contains `part`.
#define EXPECT_FAILS(p, call, part)                                                         \
  do {                                                                                     \
    int rc_ = (call);                                                                      \
    std::string e_ = lastError(p);                                                         \
    if (rc_ == 0 || !contains(e_, part)) {                                                 \
      std::fprintf(stderr, "%s:%d: expected failure with '%s' from %s; rc %d, text '%s'\n", \
                   __FILE__, __LINE__, part, #call, rc_, e_.c_str());                      \
      ++check_failures;                                                                        \
    }                                                                                      \
  } while (0)

#define EXPECT_OK(p, call)                                                                  \
  do {                                                                                     \
    int rc_ = (call);                                                                      \
    if (rc_ != 0) {                                                                        \
      std::fprintf(stderr, "%s:%d: %s failed (%d): %s\n", __FILE__, __LINE__, #call, rc_,  \
                   lastError(p).c_str());                                                  \
      ++check_failures;                                                                        \
    }                                                                                      \
  } while (0)

// The exit code of a program whose checks passed but some were skipped (ctest's SKIP_RETURN_CODE).
constexpr int kSkipCode = 77;
inline bool checks_skipped = false;

inline int finish(const char *name) {
  if (check_failures) {
    std::fprintf(stderr, "%s: %d failure(s)\n", name, check_failures);
    return 1;
  }
  std::printf(checks_skipped ? "%s: ok, checks that need the shared test data skipped\n" : "%s: ok\n", name);
  return checks_skipped ? kSkipCode : 0;
}

// The shared test data folder (KORVEX_DATA, which ctest sets to ../shared/data), or "" when it is
// absent. Then the checks named by `what` are skipped and the program ends as skipped, except
// under CI=true, where the data is always present: there its absence is a failure.
inline std::string sharedData(const char *what) {
  const char *data = std::getenv("KORVEX_DATA"), *ci = std::getenv("CI");
  if (data && access((std::string(data) + "/expected.csv").c_str(), R_OK) == 0) return data;
  if (ci && std::string(ci) == "true") {
    std::fprintf(stderr, "the shared test data is missing under CI=true (%s)\n", what);
    ++check_failures;
  } else {
    std::printf("the shared test data is absent: %s skipped\n", what);
    checks_skipped = true;
  }
  return "";
}

// Bytes of a file ("" when missing).
#include <fstream>
#include <sstream>
inline std::string fileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// FNV-1a: the hash of a save file's checksum.
inline uint64_t fnv1a(const std::string &data) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : data) h = (h ^ c) * 1099511628211ull;
  return h;
}

// The whole state of a problem as saved by KRVXsaveas: equal snapshots mean equal problems.
inline std::string snapshot(KRVXprob p) {
  std::string path = "krvx_snapshot_" + std::to_string(::getpid()) + "_" + std::to_string(uintptr_t(p));
  if (KRVXsaveas(p, path.c_str()) != 0) return "<save failed: " + lastError(p) + ">";
  std::string file = path + ".svf";
  std::string bytes = fileBytes(file);
  std::remove(file.c_str());
  return bytes;
}

inline KRVXprob newProblem() {
  KRVXprob p = nullptr;
  if (KRVXcreateprob(&p) != 0) {
    std::fprintf(stderr, "KRVXcreateprob failed: %s\n", lastError(nullptr).c_str());
    std::exit(2);
  }
  return p;
}
