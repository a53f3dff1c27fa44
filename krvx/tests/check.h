// Checks for the C++ test programs; both print the place and the condition (and a pending Python
// error where CHECK_PRINTS_PYTHON_ERRORS is defined first). CHECK(cond) stops the test function at
// the first failure (returns 1); EXPECT(cond) counts the failure in check_failures and goes on.
// FAIL(format, ...) counts a failure found by the test's own comparison and prints the place and
// the printf-style message (the first 20 of them).
#pragma once
#include <cstdarg>
#include <cstdio>

inline int check_failures = 0;

#ifdef CHECK_PRINTS_PYTHON_ERRORS
#define CHECK_REPORT_(cond)                                       \
  std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
  if (PyErr_Occurred()) PyErr_Print()
#else
#define CHECK_REPORT_(cond) std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond)
#endif

#define CHECK(cond)        \
  do {                     \
    if (!(cond)) {         \
      CHECK_REPORT_(cond); \
      return 1;            \
    }                      \
  } while (0)

#define EXPECT(cond)       \
  do {                     \
    if (!(cond)) {         \
      CHECK_REPORT_(cond); \
      ++check_failures;    \
    }                      \
  } while (0)

#define FAIL(...) check_fail_(__FILE__, __LINE__, __VA_ARGS__)

__attribute__((format(printf, 3, 4))) inline void check_fail_(const char *file, int line, const char *fmt, ...) {
  static int printed = 0;
  ++check_failures;
  if (++printed > 20) return;
  std::fprintf(stderr, "%s:%d: ", file, line);
  va_list args;
  va_start(args, fmt);
  std::vfprintf(stderr, fmt, args);
  va_end(args);
  std::fputc('\n', stderr);
}
