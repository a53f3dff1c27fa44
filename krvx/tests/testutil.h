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

inline int finish(const char *name) {
  if (check_failures) std::fprintf(stderr, "%s: %d failure(s)\n", name, check_failures);
  else std::printf("%s: ok\n", name);
  return check_failures ? 1 : 0;
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
