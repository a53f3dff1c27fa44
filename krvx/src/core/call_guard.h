// The C boundary of every KRVX call: exceptions are caught and turned into an error code and the
// last error text; argument checks throw krvx::Error.
#pragma once
#include "core/store.h"

#include <exception>
#include <mutex>
#include <new>
#include <string>

namespace krvx {

// A refused call: code and text (without the call's name, which guard() puts in front).
struct Error : std::exception {
  int code;
  std::string text;
  Error(int c, std::string t) : code(c), text(std::move(t)) {}
  const char *what() const noexcept override { return text.c_str(); }
};
[[noreturn]] void raise(int code, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Turns an exception from a call body into the problem's (or the global) last error.
int failFrom(ko_prob_struct *p, const char *fn) noexcept;

// Runs body (returning void) under the problem's lock; every exception becomes code + text.
template <class F>
int guard(ko_prob_struct *p, const char *fn, F &&body) noexcept {
  if (!p) return failGlobal(kErrNoProblem, "%s: no problem given", fn);
  try {
    std::lock_guard<std::recursive_mutex> lock(p->mtx);
    body();
    return 0;
  } catch (...) {
    return failFrom(p, fn);
  }
}

// The same for calls without a problem (errors go to the global last error).
template <class F>
int guardGlobal(const char *fn, F &&body) noexcept {
  try {
    body();
    return 0;
  } catch (...) {
    return failFrom(nullptr, fn);
  }
}

// Closes the problem's log file (messages.cpp).
void closeLog(ko_prob_struct *p);

// Changing calls: refused while a solve of the problem runs.
void requireIdle(const ko_prob_struct *p);

// ---- argument checks (throw krvx::Error naming the argument) ----
// (pointer, count) pair: count >= 0 and a pointer whenever count > 0.
void checkPair(const void *ptr, int64_t n, const char *name);
// Optional per-item array: absent (0 entries) or exactly `expected` entries.
void checkOptional(const void *ptr, int64_t n, int64_t expected, const char *name);
// Required per-item array: exactly `expected` entries (absent allowed only when expected is 0).
void checkExact(const void *ptr, int64_t n, int64_t expected, const char *name);
void checkFinite(const double *v, int64_t n, const char *name);    // no NaN, |v| < 1e20
void checkNotNaN(const double *v, int64_t n, const char *name);    // infinities allowed
void checkIndices(const int *v, int64_t n, int64_t count, const char *name);   // 0 <= v < count
// first..last inside [0, count); last == first-1 is the empty range. Returns the length.
int64_t checkRange(int first, int last, int64_t count, const char *what);
std::string checkedString(const char *s, size_t maxlen, const char *name);   // NULL -> ""

}  // namespace krvx
