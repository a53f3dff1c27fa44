// CHECK(cond) for test functions that stop at the first failure: prints the place and the
// condition, then returns 1.
#pragma once
#include <cstdio>

#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                                       \
    }                                                                 \
  } while (0)
