#include "krvx.h"
#include <cstring>

extern "C" KRVX_API int KRVXgetversion(char *buf) {
  if (!buf) return 1;
  std::strcpy(buf, "0.1.0");
  return 0;
}
