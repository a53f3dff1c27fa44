// Checks for the C++ test programs; both print the place, the condition and any pending Python
// error. CHECK(cond) stops the test function at the first failure (returns 1); EXPECT(cond) counts
// the failure in check_failures and goes on.
#pragma once
#include <Python.h>

#include <cstdio>

inline int check_failures = 0;

#define CHECK_REPORT_(cond)                                         \
  std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond);   \
  if (PyErr_Occurred()) PyErr_Print()

#define CHECK(cond)          \
  do {                       \
    if (!(cond)) {           \
      CHECK_REPORT_(cond);   \
      return 1;              \
    }                        \
  } while (0)

#define EXPECT(cond)         \
  do {                       \
    if (!(cond)) {           \
      CHECK_REPORT_(cond);   \
      ++check_failures;      \
    }                        \
  } while (0)
