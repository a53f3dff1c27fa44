// KRVXwriteprob: MPS (own writer, free format, or fixed with flag f) or LP (a .lp or .lp.gz name, or
// flag l). An empty file name means <problem name>.mps (or .lp). A name ending in .gz gives a
// gzip-compressed file. The file is written beside its target and renamed over it when complete, so a failed write
// leaves any earlier file intact.
#include "nl/nl.h"
#include "io/readprob.h"

#include "core/call_guard.h"
#include "core/model.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_set>

namespace krvx {

std::vector<std::string> fileNames(const ko_prob_struct &p, int kind, size_t count,
                                   bool (*usable)(const std::string &), size_t *replaced) {
  const std::vector<std::string> &given = p.names[kind].names;
  std::vector<std::string> out(count);
  std::unordered_set<std::string> used;
  used.reserve(count * 2);
  std::vector<char> dropped(count, 0);
  for (size_t k = 0; k < count && k < given.size(); ++k) {
    if (given[k].empty()) continue;
    if (usable && !usable(given[k])) dropped[k] = 1;
    else if (used.insert(given[k]).second) out[k] = given[k];
  }
  for (size_t k = 0; k < count; ++k) {
    if (!out[k].empty()) continue;
    if (dropped[k] && replaced) ++*replaced;
    std::string n = dropped[k] ? defaultName(kind, int64_t(k)) : objectName(p, kind, int64_t(k));
    while (used.count(n)) n += "_";
    used.insert(n);
    out[k] = std::move(n);
  }
  return out;
}

std::string objectiveName(const std::vector<std::string> &rowNames, const char *base) {
  std::string n = base;
  while (std::find(rowNames.begin(), rowNames.end(), n) != rowNames.end()) n += "_";
  return n;
}

namespace {

bool endsWith(const std::string &s, const char *suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXwriteprob(KRVXprob prob, const char *filename, const char *flags) {
  return guard(prob, "KRVXwriteprob", [&] {
    bool fixed = false, lp = false;
    for (const char *f = flags ? flags : ""; *f; ++f) {
      switch (*f) {
        case 'f': fixed = true; break;
        case 'l': lp = true; break;
        default: raise(kErrInvalid, "unknown flag '%c' (known flags: f, l)", *f >= 32 && *f < 127 ? *f : '?');
      }
    }
    std::string path = checkedString(filename, 4096, "filename");
    if (path.empty()) {
      if (prob->name.empty()) raise(kErrInvalid, "no file name given and the problem has no name");
      path = prob->name + (lp ? ".lp" : ".mps");
    }
    lp = lp || endsWith(path, ".lp") || endsWith(path, ".lp.gz");
    if (nlHasFormulas(prob)) raise(kErrUnsupported, "the problem has nonlinear formulas, which MPS and LP files cannot hold");
    if (lp && fixed) raise(kErrInvalid, "flag f (fixed MPS) does not go with the LP format");
    // write next to the target, then rename over it
    bool gz = endsWith(path, ".gz");
    const char *suffix = lp ? (gz ? ".lp.gz" : ".lp") : (gz ? ".gz" : "");
    std::string tmp = path + ".XXXXXX" + suffix;
    std::vector<char> tbuf(tmp.begin(), tmp.end());
    tbuf.push_back('\0');
    int fd = mkstemps(tbuf.data(), int(std::strlen(suffix)));
    if (fd < 0) raise(kErrFile, "cannot write '%s': %s", path.c_str(), std::strerror(errno));
    ::fchmod(fd, 0644);
    ::close(fd);
    tmp.assign(tbuf.data());
    std::string error;
    bool rounded = false;
    std::vector<std::string> warnings;
    bool ok = lp ? writeLpFile(*prob, tmp, error, warnings) : writeMpsFile(*prob, tmp, fixed, error, rounded);
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
      error = "cannot write '" + path + "': " + std::strerror(errno);
      ok = false;
    }
    if (!ok) {
      std::remove(tmp.c_str());
      raise(kErrFile, "%s", error.c_str());
    }
    if (rounded)
      messageCode(prob, kMsgReadWarning, 3, "%s: values were rounded to fit the 12-character fields of fixed MPS",
                  path.c_str());
    for (const std::string &w : warnings) messageCode(prob, kMsgReadWarning, 3, "%s: %s", path.c_str(), w.c_str());
  });
}
