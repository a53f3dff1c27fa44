// File helpers of the solution and basis files (solution_input.cpp).
#pragma once
#include "core/store.h"

#include <string>

namespace krvx {

// The file name of a reader or writer: filename, or the problem's name when it is empty, with
// ext (and ".gz" for gz) appended unless verbatim.
std::string solutionFileName(const ko_prob_struct *p, const char *filename, const char *ext, bool verbatim, bool gz);
// Flag letters as bits (letter k of allowed: bit k); refuses other letters.
unsigned fileFlags(const char *flags, const char *allowed);
// Cuts the line b..e in place into at most max fields separated by blanks; returns their number.
int splitFields(char *b, char *e, char **tok, int max);
// A whole file, plain or gzip; throws krvx::Error when it cannot be read.
std::string readWholeFile(const std::string &path);
void writeWholeFile(const std::string &path, const std::string &bytes, bool gz);

}  // namespace krvx
