// Minimal checking for the libkrvx test programs: CHECK records failures, main returns finish().
#pragma once
#include "krvx.h"

#include <cstdio>
#include <cstring>
#include <string>

static int g_failures = 0;

#define CHECK(cond)                                                              \
  do {                                                                           \
    if (!(cond)) {                                                               \
      std::fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
      ++g_failures;                                                              \
    }                                                                            \
  } while (0)

// The last error text of a problem (or the global one for NULL).
inline std::string lastError(KRVXprob p) {
  char buf[KRVX_MAXERRLEN + 1];
  std::memset(buf, 'x', sizeof buf);
  if (KRVXgetlasterror(p, buf) != 0) return "<getlasterror failed>";
  return buf;
}

inline bool contains(const std::string &s, const char *part) { return s.find(part) != std::string::npos; }

// A failing call whose error text contains `part`.
#define CHECK_FAILS(p, call, part)                                                         \
  do {                                                                                     \
    int rc_ = (call);                                                                      \
    std::string e_ = lastError(p);                                                         \
    if (rc_ == 0 || !contains(e_, part)) {                                                 \
      std::fprintf(stderr, "%s:%d: expected failure with '%s' from %s; rc %d, text '%s'\n", \
                   __FILE__, __LINE__, part, #call, rc_, e_.c_str());                      \
      ++g_failures;                                                                        \
    }                                                                                      \
  } while (0)

#define CHECK_OK(p, call)                                                                  \
  do {                                                                                     \
    int rc_ = (call);                                                                      \
    if (rc_ != 0) {                                                                        \
      std::fprintf(stderr, "%s:%d: %s failed (%d): %s\n", __FILE__, __LINE__, #call, rc_,  \
                   lastError(p).c_str());                                                  \
      ++g_failures;                                                                        \
    }                                                                                      \
  } while (0)

inline int finish(const char *name) {
  if (g_failures) std::fprintf(stderr, "%s: %d failure(s)\n", name, g_failures);
  else std::printf("%s: ok\n", name);
  return g_failures ? 1 : 0;
}
