// Names in the text files the library writes and reads back (directives, bases): a name that
// holds blanks, quotes, backslashes or control characters, or starts with '#', '*' or '"', is
// written in double quotes with \" \\ and \xHH escapes.
#pragma once
#include <string>
#include <vector>

namespace krvx {

std::string quotedName(const std::string &s);
// Splits a line into blank-separated fields, unescaping quoted ones; a quoted field comes back
// with a leading '"' that marks it. False, with why set, for a malformed quoted field.
bool splitQuoted(const std::string &s, std::vector<std::string> &out, const char *&why);

}  // namespace krvx
