// Last-error texts, the exception boundary and the shared argument checks.
#include "core/call_guard.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace krvx {
namespace {

constexpr size_t kMaxText = KRVX_MAXERRLEN - 1;   // characters written before the terminator

thread_local std::string globalError;             // last error of calls without a problem

// Formats into a fixed buffer, cut to kMaxText bytes at a UTF-8 character boundary.
size_t formatText(char (&buf)[KRVX_MAXERRLEN], const char *fmt, va_list ap) {
  char full[4 * KRVX_MAXERRLEN];   // room to see the byte after the cut
  if (std::vsnprintf(full, sizeof full, fmt, ap) < 0) std::strcpy(full, "error text could not be formatted");
  size_t len = std::strlen(full);
  if (len > kMaxText) {
    len = kMaxText;
    while (len > 0 && (static_cast<unsigned char>(full[len]) & 0xC0) == 0x80) --len;
  }
  std::memcpy(buf, full, len);
  buf[len] = '\0';
  return len;
}

void setText(std::string &dst, const char *text) noexcept {
  try {
    dst.assign(text);
  } catch (...) {
    dst.clear();
  }
}

}  // namespace

int fail(ko_prob_struct *p, int code, const char *fmt, ...) {
  char buf[KRVX_MAXERRLEN];
  va_list ap;
  va_start(ap, fmt);
  formatText(buf, fmt, ap);
  va_end(ap);
  if (!p) {
    setText(globalError, buf);
    return code;
  }
  std::lock_guard<std::mutex> lock(p->errmtx);
  setText(p->lasterror, buf);
  return code;
}

int failGlobal(int code, const char *fmt, ...) {
  char buf[KRVX_MAXERRLEN];
  va_list ap;
  va_start(ap, fmt);
  formatText(buf, fmt, ap);
  va_end(ap);
  setText(globalError, buf);
  return code;
}

void raise(int code, const char *fmt, ...) {
  char buf[KRVX_MAXERRLEN];
  va_list ap;
  va_start(ap, fmt);
  formatText(buf, fmt, ap);
  va_end(ap);
  throw Error(code, buf);
}

int failFrom(ko_prob_struct *p, const char *fn) noexcept {
  try {
    throw;
  } catch (const Error &e) {
    return fail(p, e.code, "%s: %s", fn, e.text.c_str());
  } catch (const std::bad_alloc &) {
    return fail(p, kErrMemory, "%s: Out of memory", fn);
  } catch (const std::exception &e) {
    return fail(p, kErrInternal, "%s: internal error: %s", fn, e.what());
  } catch (...) {
    return fail(p, kErrInternal, "%s: unexpected internal error", fn);
  }
}

void requireIdle(const ko_prob_struct *p) {
  if (p->solving.load()) raise(kErrBusy, "The problem cannot be changed while it is being solved");
}

void checkPair(const void *ptr, int64_t n, const char *name) {
  if (n < 0) raise(kErrInvalid, "argument '%s' has a negative size (%lld)", name, (long long)n);
  if (n > 0 && !ptr) raise(kErrInvalid, "argument '%s' is NULL but has size %lld", name, (long long)n);
}

void checkOptional(const void *ptr, int64_t n, int64_t expected, const char *name) {
  checkPair(ptr, n, name);
  if (n != 0 && n != expected)
    raise(kErrInvalid, "argument '%s' has %lld entries, expected %lld", name, (long long)n, (long long)expected);
}

void checkExact(const void *ptr, int64_t n, int64_t expected, const char *name) {
  checkPair(ptr, n, name);
  if (n != expected)
    raise(kErrInvalid, "argument '%s' has %lld entries, expected %lld", name, (long long)n, (long long)expected);
}

void checkFinite(const double *v, int64_t n, const char *name) {
  bool bad = false;   // a branch-free scan first; the look entry by entry names the first bad one
  for (int64_t i = 0; i < n; ++i) bad |= !(std::fabs(v[i]) < kInf);
  if (!bad) return;
  for (int64_t i = 0; i < n; ++i) {
    if (std::isnan(v[i])) raise(kErrInvalid, "entry %lld of argument '%s' is NaN", (long long)i, name);
    if (isInf(v[i]))
      raise(kErrInvalid, "entry %lld of argument '%s' is infinite (%g); a finite value is required", (long long)i,
            name, v[i]);
  }
}

void checkNotNaN(const double *v, int64_t n, const char *name) {
  for (int64_t i = 0; i < n; ++i)
    if (std::isnan(v[i])) raise(kErrInvalid, "entry %lld of argument '%s' is NaN", (long long)i, name);
}

void checkIndices(const int *v, int64_t n, int64_t count, const char *name) {
  bool bad = count < 0;   // as in checkFinite
  for (int64_t i = 0; i < n; ++i) bad |= uint64_t(int64_t(v[i])) >= uint64_t(count);
  if (!bad) return;
  for (int64_t i = 0; i < n; ++i)
    if (v[i] < 0 || v[i] >= count)
      raise(kErrInvalid, "entry %lld of argument '%s' is %d, outside 0..%lld", (long long)i, name, v[i],
            (long long)count - 1);
}

int64_t checkRange(int first, int last, int64_t count, const char *what) {
  int64_t len = int64_t(last) - int64_t(first) + 1;
  if (first < 0 || len < 0 || last >= count)
    raise(kErrInvalid, "range %d..%d is invalid for %lld %s", first, last, (long long)count, what);
  return len;
}

std::string checkedString(const char *s, size_t maxlen, const char *name) {
  if (!s) return std::string();
  size_t len = strnlen(s, maxlen + 1);
  if (len > maxlen) raise(kErrInvalid, "argument '%s' is longer than %zu bytes", name, maxlen);
  return std::string(s, len);
}

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXgetlasterror(KRVXprob prob, char *buf) {
  if (!buf) return failGlobal(kErrInvalid, "KRVXgetlasterror: argument 'buf' is NULL");
  try {
    std::string text;
    if (prob) {
      std::lock_guard<std::mutex> lock(prob->errmtx);
      text = prob->lasterror;
    } else {
      text = globalError;
    }
    size_t n = std::min(text.size(), kMaxText);
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return 0;
  } catch (...) {
    buf[0] = '\0';
    return kErrMemory;
  }
}
