// Checks for the C++ test programs; both print the place and the condition (and a pending Python
// error where CHECK_PRINTS_PYTHON_ERRORS is defined first). CHECK(cond) stops the test function at
// the first failure (returns 1); EXPECT(cond) counts the failure in check_failures and goes on.
#pragma once
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
