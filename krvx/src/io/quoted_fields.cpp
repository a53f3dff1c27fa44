// Quoted names of the text files (quoted_fields.h).
#include "io/quoted_fields.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace krvx {
namespace {

bool plainName(const std::string &s) {
  if (s.empty() || s[0] == '#' || s[0] == '"' || s[0] == '*') return false;
  for (unsigned char c : s)
    if (c <= ' ' || c == '"' || c == '\\' || c == 127) return false;
  return true;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

std::string quotedName(const std::string &s) {
  if (plainName(s)) return s;
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < ' ' || c == 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

bool splitQuoted(const std::string &s, std::vector<std::string> &out, const char *&why) {
  out.clear();
  size_t k = 0;
  while (true) {
    while (k < s.size() && blank(s[k])) ++k;
    if (k >= s.size()) return true;
    std::string field;
    if (s[k] != '"') {
      while (k < s.size() && !blank(s[k])) field += s[k++];
    } else {
      field = "\"";
      for (++k;; ++k) {
        if (k >= s.size()) return why = "a quoted name is not closed", false;
        if (s[k] == '"') break;
        if (s[k] != '\\') {
          field += s[k];
          continue;
        }
        if (++k >= s.size()) return why = "a quoted name is not closed", false;
        if (s[k] == '"' || s[k] == '\\') {
          field += s[k];
        } else if (s[k] == 'x' && k + 2 < s.size() && std::isxdigit((unsigned char)s[k + 1]) &&
                   std::isxdigit((unsigned char)s[k + 2])) {
          field += char(std::strtol(s.substr(k + 1, 2).c_str(), nullptr, 16));
          k += 2;
        } else {
          return why = "a quoted name has an unknown escape", false;
        }
      }
      ++k;
      if (k < s.size() && !blank(s[k])) return why = "text follows a quoted name", false;
    }
    out.push_back(std::move(field));
  }
}

}  // namespace krvx
