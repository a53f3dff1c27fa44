// Problem name, object names per namespace and look-up by name.
#include "nl/nl.h"
#include "core/call_guard.h"
#include "core/model.h"

#include <cstring>
#include <unordered_map>
#include <strings.h>

namespace krvx {
namespace {

// Codes of the internal functions of the formula token language.
struct FunctionCode { const char *name; int code; };
const FunctionCode kFunctions[] = {
    {"log10", 14}, {"ln", 15},   {"exp", 16},  {"abs", 17},  {"sqrt", 18}, {"sin", 27},
    {"cos", 28},   {"tan", 29},  {"asin", 30}, {"acos", 31}, {"atan", 32}, {"min", 33},
    {"max", 34},   {"pwl", 35},  {"sum", 36},  {"prod", 37}, {"sign", 46}, {"erf", 49},
    {"erfc", 50},
};

int functionCode(const char *name) {
  for (const FunctionCode &f : kFunctions)
    if (strcasecmp(f.name, name) == 0) return f.code;
  return -1;
}

// The object whose generated name (as objectName gives it to an unnamed object) is `name`, or -1.
int defaultNamed(const ko_prob_struct &p, int kind, const char *name) {
  const char *digits = name + 1;
  if (!*digits || *digits == '0') return -1;
  int64_t n = 0;
  for (const char *c = digits; *c; ++c) {
    if (*c < '0' || *c > '9' || n > INT32_MAX) return -1;
    n = n * 10 + (*c - '0');
  }
  int64_t i = n - 1;
  if (i < 0 || i >= nameCount(p, kind) || objectName(p, kind, i) != name) return -1;
  return int(i);
}

}  // namespace

int findNamed(const ko_prob_struct &p, int kind, const std::string &name) {
  if (name.empty()) return -1;
  const auto &idx = p.names[kind].index;
  auto it = idx.find(name);
  return it != idx.end() ? it->second : defaultNamed(p, kind, name.c_str());
}

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXsetprobname(KRVXprob prob, const char *name) {
  return guard(prob, "KRVXsetprobname", [&] {
    if (!name) raise(kErrInvalid, "argument 'name' is NULL");
    prob->name = checkedString(name, KRVX_MAXPROBNAMELENGTH, "name");
  });
}

extern "C" KRVX_API int KRVXgetprobname(KRVXprob prob, char *buf) {
  return guard(prob, "KRVXgetprobname", [&] {
    if (!buf) raise(kErrInvalid, "argument 'buf' is NULL");
    size_t n = std::min(prob->name.size(), size_t(KRVX_MAXPROBNAMELENGTH));
    std::memcpy(buf, prob->name.data(), n);
    buf[n] = '\0';
  });
}

extern "C" KRVX_API int KRVXaddnames_witharraysizes(KRVXprob prob, int kind, const char *names, int64_t nbytes,
                                                    int64_t nnames, int first, int last) {
  return guard(prob, "KRVXaddnames", [&] {
    requireIdle(prob);
    int64_t count = nameCount(*prob, kind);
    int64_t len = checkRange(first, last, count, "objects of that namespace");
    if (nnames != len) raise(kErrInvalid, "%lld names given for the range %d..%d (%lld objects)", (long long)nnames, first, last, (long long)len);
    checkPair(names, nbytes, "names");
    // split the packed buffer: exactly nnames terminated names within nbytes
    std::vector<std::string> fresh;
    fresh.reserve(size_t(nnames));
    int64_t pos = 0;
    while (pos < nbytes) {
      const void *nul = std::memchr(names + pos, '\0', size_t(nbytes - pos));
      if (!nul) raise(kErrInvalid, "the last name in 'names' is not terminated within %lld bytes", (long long)nbytes);
      int64_t end = static_cast<const char *>(nul) - names;
      if (int64_t(fresh.size()) == nnames)
        raise(kErrInvalid, "'names' holds more than the %lld names announced", (long long)nnames);
      fresh.emplace_back(names + pos, size_t(end - pos));
      pos = end + 1;
    }
    if (int64_t(fresh.size()) != nnames)
      raise(kErrInvalid, "'names' holds %zu names in %lld bytes, %lld announced", fresh.size(), (long long)nbytes,
            (long long)nnames);
    // repeated names are refused before anything changes; the work is in the range's size only
    static const char *const what[7] = {"", "row", "column", "set", "piecewise-linear constraint",
                                        "general constraint", "objective"};
    NameSpace &ns = prob->names[kind];
    std::unordered_map<std::string, int> added;
    added.reserve(size_t(len));
    for (int64_t k = 0; k < len; ++k) {
      const std::string &n = fresh[size_t(k)];
      if (n.empty()) continue;
      auto it = ns.index.find(n);
      int at = it != ns.index.end() && (it->second < first || it->second > last) ? it->second : -1;
      auto r = added.emplace(n, first + int(k));
      if (!r.second) at = r.first->second;
      if (at >= 0)
        raise(kErrInvalid, "%s name '%.100s' is used twice (%d and %lld)", what[kind], n.c_str(), at,
              (long long)(first + k));
    }
    if (int64_t(ns.names.size()) < int64_t(last) + 1) ns.names.resize(size_t(last) + 1);
    for (int64_t k = 0; k < len; ++k) {
      std::string &slot = ns.names[size_t(first + k)];
      auto it = slot.empty() ? ns.index.end() : ns.index.find(slot);
      if (it != ns.index.end() && it->second == first + int(k)) ns.index.erase(it);
    }
    for (int64_t k = 0; k < len; ++k) {
      std::string &slot = ns.names[size_t(first + k)];
      slot = std::move(fresh[size_t(k)]);
      if (!slot.empty()) ns.index[slot] = first + int(k);
    }
    prob->highs_stale = true;
  });
}

extern "C" KRVX_API int KRVXgetnames(KRVXprob prob, int kind, char *names, int64_t maxbytes, int64_t *nbytes, int first,
                                     int last) {
  return guard(prob, "KRVXgetnames", [&] {
    int64_t count = nameCount(*prob, kind);
    int64_t len = checkRange(first, last, count, "objects of that namespace");
    if (!nbytes && !names) raise(kErrInvalid, "arguments 'names' and 'nbytes' are both NULL");
    int64_t need = 0;
    for (int64_t k = 0; k < len; ++k) need += int64_t(objectName(*prob, kind, first + k).size()) + 1;
    if (nbytes) *nbytes = need;
    if (!names) {
      if (maxbytes != 0) raise(kErrInvalid, "argument 'names' is NULL but 'maxbytes' is %lld", (long long)maxbytes);
      return;
    }
    if (maxbytes != need)
      raise(kErrInvalid, "buffer of %lld bytes given, the names take %lld", (long long)maxbytes, (long long)need);
    char *out = names;
    for (int64_t k = 0; k < len; ++k) {
      std::string n = objectName(*prob, kind, first + k);
      std::memcpy(out, n.c_str(), n.size() + 1);
      out += n.size() + 1;
    }
  });
}

extern "C" KRVX_API int KRVXgetindex(KRVXprob prob, int kind, const char *name, int *index) {
  return guard(prob, "KRVXgetindex", [&] {
    if (!name) raise(kErrInvalid, "argument 'name' is NULL");
    if (!index) raise(kErrInvalid, "argument 'index' is NULL");
    *index = -1;
    if (kind == 7) {
      *index = nlUserFunctionNumber(prob, name);
      return;
    }
    if (kind == 8) {
      *index = functionCode(name);
      return;
    }
    nameCount(*prob, kind);   // refuses unknown kinds
    *index = findNamed(*prob, kind, name);
  });
}
