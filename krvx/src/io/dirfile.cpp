// KRVXreaddirs / KRVXwritedirs: the directives file (format in krvx.h).
#include "core/call_guard.h"
#include "core/directives.h"
#include "core/model.h"
#include "io/quoted_fields.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace krvx {
namespace {

std::string dirFileName(const ko_prob_struct *p, const char *given) {
  std::string name = checkedString(given, 4096, "filename");
  if (!name.empty()) return name;
  if (p->name.empty()) raise(kErrInvalid, "no file name given and the problem has no name");
  return p->name + ".dir";
}

std::string entityRef(const ko_prob_struct &p, int index) {
  const int kind = index >= 0 ? 2 : 3;
  const int i = index >= 0 ? index : -1 - index;
  const NameSpace &ns = p.names[kind];
  std::string ref = size_t(i) < ns.names.size() && !ns.names[size_t(i)].empty() ? quotedName(ns.names[size_t(i)])
                                                                                 : "#" + std::to_string(i);
  return std::string(kind == 2 ? "C " : "S ") + ref;
}

std::string number(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// One line of a directives file split into fields (quoted names unescaped).
class LineReader {
 public:
  LineReader(const std::string &file, int line) : file_(file), line_(line) {}
  [[noreturn]] void bad(const char *fmt, const std::string &arg = std::string()) const {
    char text[600];
    std::snprintf(text, sizeof text, fmt, arg.c_str());
    raise(kErrFile, "'%.300s' line %d: %s", file_.c_str(), line_, text);
  }
  std::vector<std::string> split(const std::string &s) const {
    std::vector<std::string> out;
    const char *why = nullptr;
    if (!splitQuoted(s, out, why)) bad("%s", why);
    return out;
  }
  int integer(const std::string &s, const char *what) const {
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || v < INT32_MIN || v > INT32_MAX) bad(what, s);
    return int(v);
  }
  double real(const std::string &s, const char *what) const {
    char *end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end) bad(what, s);
    return v;
  }

 private:
  const std::string &file_;
  int line_;
};

// The entity that fields kind and ref name in p.
int resolveEntity(const ko_prob_struct &p, const LineReader &lr, const std::string &kind, const std::string &ref) {
  if (kind != "C" && kind != "S") lr.bad("entity kind '%s' is not C (column) or S (set)", kind);
  const bool col = kind == "C";
  const int64_t count = col ? int64_t(p.cols.size()) : int64_t(p.sets.size());
  int i = -1;
  if (ref[0] == '#') {
    i = lr.integer(ref.substr(1), "'%s' is not an index");
    if (i < 0 || i >= count) lr.bad(col ? "column index %s is out of range" : "set index %s is out of range", ref.substr(1));
  } else {
    const std::string name = ref[0] == '"' ? ref.substr(1) : ref;
    i = findNamed(p, col ? 2 : 3, name);
    if (i < 0) lr.bad(col ? "no column is named '%s'" : "no set is named '%s'", name);
  }
  return col ? i : -1 - i;
}

void readDirs(ko_prob_struct *p, const std::string &file) {
  FILE *f = std::fopen(file.c_str(), "rb");
  if (!f) raise(kErrFile, "cannot open '%.300s': %s", file.c_str(), std::strerror(errno));
  std::string data;
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, got);
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) raise(kErrFile, "cannot read '%.300s'", file.c_str());
  if (data.find('\0') != std::string::npos) raise(kErrFile, "'%.300s' is not a text file", file.c_str());

  std::vector<Directive> dirs;
  std::vector<int> marks;
  std::unordered_set<int> named, marked;
  int line = 0;
  for (size_t pos = 0; pos < data.size();) {
    size_t end = data.find('\n', pos);
    if (end == std::string::npos) end = data.size();
    const std::string text = data.substr(pos, end - pos);
    pos = end + 1;
    LineReader lr(file, ++line);
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos || text[first] == '*') continue;
    std::vector<std::string> fields = lr.split(text);
    const std::string &rec = fields[0];
    if (rec != "DIR" && rec != "BRANCH") lr.bad("unknown record '%s' (expected DIR or BRANCH)", rec);
    const bool isdir = rec == "DIR";
    if (fields.size() < 3) lr.bad("%s needs an entity kind and an entity", rec);
    if (fields.size() > (isdir ? 7u : 3u)) lr.bad("%s has too many fields", rec);
    const int index = resolveEntity(*p, lr, fields[1], fields[2]);
    const std::string where = "'" + file.substr(0, 300) + "' line " + std::to_string(line);
    try {
      checkEntity(*p, index, "the entity");
    } catch (const Error &e) {
      lr.bad("%s", e.text);
    }
    if (!isdir) {
      if (!marked.insert(index).second) lr.bad("%s is marked twice", entityText(*p, index));
      marks.push_back(index);
      continue;
    }
    if (!named.insert(index).second) lr.bad("%s has a second directive", entityText(*p, index));
    Directive d;
    d.index = index;
    if (fields.size() > 3) d.priority = lr.integer(fields[3], "priority '%s' is not an integer");
    if (fields.size() > 4) {
      if (fields[4].size() != 1) lr.bad("direction '%s' is not U, D or N", fields[4]);
      d.dir = fields[4][0];
    }
    if (fields.size() > 5) d.up = lr.real(fields[5], "up pseudo cost '%s' is not a number");
    if (fields.size() > 6) d.down = lr.real(fields[6], "down pseudo cost '%s' is not a number");
    try {
      checkDirective(d, where);
    } catch (const Error &e) {
      raise(kErrFile, "%s", e.text.c_str());
    }
    dirs.push_back(d);
  }
  std::sort(marks.begin(), marks.end());
  p->dirs = std::move(dirs);
  p->branchfixed = std::move(marks);
}

void writeDirs(const ko_prob_struct *p, const std::string &file) {
  std::string out = "* Branching directives of problem " + quotedName(p->name) + "\n";
  for (const Directive &d : p->dirs)
    out += "DIR " + entityRef(*p, d.index) + " " + std::to_string(d.priority) + " " + d.dir + " " + number(d.up) +
           " " + number(d.down) + "\n";
  for (int e : p->branchfixed) out += "BRANCH " + entityRef(*p, e) + "\n";
  FILE *f = std::fopen(file.c_str(), "wb");
  if (!f) raise(kErrFile, "cannot write '%.300s': %s", file.c_str(), std::strerror(errno));
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) raise(kErrFile, "cannot write '%.300s': %s", file.c_str(), std::strerror(errno));
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXreaddirs(KRVXprob prob, const char *filename) {
  return guard(prob, "KRVXreaddirs", [&] {
    requireIdle(prob);
    readDirs(prob, dirFileName(prob, filename));
  });
}

extern "C" KRVX_API int KRVXwritedirs(KRVXprob prob, const char *filename) {
  return guard(prob, "KRVXwritedirs", [&] { writeDirs(prob, dirFileName(prob, filename)); });
}
