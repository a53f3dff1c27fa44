// KRVXreadprob: finds the file, reads it into a fresh store and swaps that into the problem.
//
// Search order (flags l, v, z):
//   v      the name exactly as given (LP format with l or a .lp/.lp.gz name, else MPS);
//   l      the name when it ends in .lp or .lp.gz, then name.lp, name.lp.gz (z: name.lp.gz only);
//   z      the name, then name.mps.gz, name.lp.gz;
//   none   the name, then name.mps, name.mps.gz, name.lp, name.lp.gz.
// Compression is recognised by the content, so z only narrows the search. Files named .lp or .lp.gz
// (in any case) are LP format, all others MPS. The problem takes the file's stem as its name.
#include "io/readprob.h"

#include "core/call_guard.h"
#include "core/model.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace krvx {
namespace {

bool endsWith(const std::string &s, const char *suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool isRegularFile(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// .lp and .lp.gz in any case (model.LP is an LP file too)
bool isLpName(const std::string &s) {
  std::string lower(s.size() < 6 ? s : s.substr(s.size() - 6));
  for (char &c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return endsWith(lower, ".lp") || endsWith(lower, ".lp.gz");
}

std::vector<std::string> candidates(const std::string &name, bool l, bool v, bool z) {
  if (v) return {name};
  std::vector<std::string> c;
  if (l) {
    if (isLpName(name)) c.push_back(name);
    if (!z) c.push_back(name + ".lp");
    c.push_back(name + ".lp.gz");
    return c;
  }
  c.push_back(name);
  if (!z) c.push_back(name + ".mps");
  c.push_back(name + ".mps.gz");
  if (!z) c.push_back(name + ".lp");
  c.push_back(name + ".lp.gz");
  return c;
}

// The file's base name without .gz and without its last extension, cut to the longest name a
// problem may have (at a UTF-8 character boundary).
std::string stem(const std::string &path) {
  size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (endsWith(base, ".gz")) base.resize(base.size() - 3);
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  if (base.size() > KRVX_MAXPROBNAMELENGTH) {
    size_t n = KRVX_MAXPROBNAMELENGTH;
    while (n > 0 && (static_cast<unsigned char>(base[n]) & 0xC0) == 0x80) --n;
    base.resize(n);
  }
  return base;
}

// The file name as messages show it: the path, or its base name when the path is long.
std::string shownName(const std::string &path) {
  if (path.size() <= 160) return path;
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path.substr(path.size() - 160) : path.substr(slash + 1);
}

}  // namespace

bool rowFromRange(double lo, double up, Row &row, double &range) {
  lo = std::max(lo, -kInf);
  up = std::min(up, kInf);
  if (lo >= kInf || up <= -kInf) return false;
  row.rhs = 0.0;
  range = 0.0;
  if (lo <= -kInf && up >= kInf) row.type = 'N';
  else if (lo == up) row.type = 'E', row.rhs = up;
  else if (lo <= -kInf) row.type = 'L', row.rhs = up;
  else if (up >= kInf) row.type = 'G', row.rhs = lo;
  else row.type = 'R', row.rhs = up, range = up - lo;
  return true;
}

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXreadprob(KRVXprob prob, const char *filename, const char *flags) {
  return guard(prob, "KRVXreadprob", [&] {
    requireIdle(prob);
    std::string name = checkedString(filename, 4096, "filename");
    if (name.empty()) raise(kErrInvalid, "no file name given");
    bool l = false, v = false, z = false;
    for (const char *f = flags ? flags : ""; *f; ++f) {
      switch (*f) {
        case 'l': l = true; break;
        case 'v': v = true; break;
        case 'z': z = true; break;
        default: raise(kErrInvalid, "unknown flag '%c' (known flags: l, v, z)", *f >= 32 && *f < 127 ? *f : '?');
      }
    }
    std::vector<std::string> tried = candidates(name, l, v, z);
    std::string path;
    for (const std::string &c : tried) {
      if (isRegularFile(c)) {
        path = c;
        break;
      }
    }
    if (path.empty()) {
      std::string list;
      for (const std::string &c : tried) list += (list.empty() ? "" : ", ") + c;
      raise(kErrFile, "file '%s' not found (tried %s)", name.c_str(), list.c_str());
    }
    SigintWatch sigint;
    ReadLog log;
    log.sigint = &sigint;
    std::unique_ptr<ko_prob_struct> fresh;
    bool ok;
    if (l || isLpName(path)) ok = readLpFile(path, shownName(path), fresh, log);
    else ok = readMpsFile(path, shownName(path), fresh, log);
    if (!ok) raise(sigint.fired() ? kErrInterrupted : kErrFile, "%s", log.error.c_str());
    fresh->name = stem(path);
    try {
      loadStore(prob, std::move(*fresh));
    } catch (const Error &e) {   // a value the reader let through: say which file holds it
      raise(e.code, "%s: %s", shownName(path).c_str(), e.text.c_str());
    }
    for (const std::string &w : log.warnings) messageCode(prob, kMsgReadWarning, 3, "%s", w.c_str());
  });
}
