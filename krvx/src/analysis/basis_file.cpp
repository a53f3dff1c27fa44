// Basis files in the MPS basis format (KRVXreadbasis, KRVXwritebasis; format in krvx.h).
#include "analysis/analysis_files.h"
#include "analysis/basis.h"
#include "core/call_guard.h"
#include "io/quoted_fields.h"
#include "io/readprob.h"

#include <cstring>
#include <unordered_map>

namespace krvx {
namespace {

std::unordered_map<std::string, int> nameIndex(const ko_prob_struct *p, int kind, size_t count) {
  std::unordered_map<std::string, int> idx;
  const std::vector<std::string> names = fileNames(*p, kind, count);
  for (size_t k = 0; k < names.size(); ++k) idx.emplace(names[k], int(k));
  return idx;
}

// Reads the file into statuses (rows basic, columns at lower unless listed). Mutex held.
void readBasisFile(const ko_prob_struct *p, const std::string &path, std::vector<int> &rowstat,
                   std::vector<int> &colstat) {
  LineReader in;
  std::string error;
  if (!in.open(path, error)) raise(kErrFile, "%s", error.c_str());
  const auto rows = nameIndex(p, 1, p->rows.size()), cols = nameIndex(p, 2, p->cols.size());
  rowstat.assign(p->rows.size(), kBasisBasic);
  colstat.assign(p->cols.size(), kBasisLower);
  auto find = [&](const std::unordered_map<std::string, int> &idx, const std::string &field, const char *what) {
    const std::string name = field[0] == '"' ? field.substr(1) : field;   // (quoted)
    auto it = idx.find(name);
    if (it == idx.end())
      raise(kErrFile, "%s, line %ld: unknown %s '%s'", path.c_str(), in.line(), what, name.c_str());
    return it->second;
  };
  char *b, *e;
  bool ended = false;
  std::vector<std::string> tok;
  const char *why = nullptr;
  while (!ended && in.next(b, e)) {
    if (b == e || *b == '*') continue;
    const bool field = *b == ' ' || *b == '\t';
    if (!splitQuoted(std::string(b, e), tok, why))
      raise(kErrFile, "%s, line %ld: %s", path.c_str(), in.line(), why);
    const size_t nt = tok.size();
    if (nt == 0) continue;
    if (!field) {
      if (tok[0] == "ENDATA") ended = true;
      else if (tok[0] != "NAME")
        raise(kErrFile, "%s, line %ld: unknown section '%s'", path.c_str(), in.line(), tok[0].c_str());
      continue;
    }
    const std::string &kind = tok[0];
    if ((kind == "XU" || kind == "XL") && nt >= 3) {
      colstat[size_t(find(cols, tok[1], "column"))] = kBasisBasic;
      // row at the upper bound of its activity: its slack at its lower bound
      rowstat[size_t(find(rows, tok[2], "row"))] = kind == "XU" ? kBasisLower : kBasisUpper;
    } else if ((kind == "UL" || kind == "LL") && nt >= 2) {
      colstat[size_t(find(cols, tok[1], "column"))] = kind == "UL" ? kBasisUpper : kBasisLower;
    } else {
      raise(kErrFile, "%s, line %ld: expected XU, XL, UL or LL with their names", path.c_str(), in.line());
    }
  }
  in.drain();
  if (in.failed()) raise(kErrFile, "%s: %s", path.c_str(), in.error().c_str());
  // an empty or cut file is no basis (the slack basis it would load is not the file's)
  if (!ended) raise(kErrFile, "%s ends without its ENDATA line: it is empty or incomplete", path.c_str());
}

}  // namespace
}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXreadbasis(KRVXprob prob, const char *filename, const char *flags) {
  return analysisCall(prob, "KRVXreadbasis", [&] {
    std::vector<int> rowstat, colstat;
    {
      std::lock_guard<std::recursive_mutex> lock(prob->mtx);
      requireIdle(prob);
      const unsigned f = fileFlags(flags, "ntvz");   // n: values after the names are ignored; t: this format
      readBasisFile(prob, solutionFileName(prob, filename, ".bss", f & 4, f & 8), rowstat, colstat);
    }
    loadBasis(prob, rowstat.data(), int64_t(rowstat.size()), colstat.data(), int64_t(colstat.size()), false);
  });
}

extern "C" KRVX_API int KRVXwritebasis(KRVXprob prob, const char *filename, const char *flags) {
  return analysisCall(prob, "KRVXwritebasis", [&] {
    std::string path;
    bool gz;
    {
      std::lock_guard<std::recursive_mutex> lock(prob->mtx);
      if (prob->presolved.active) raise(kErrInvalid, "the problem is in presolved form; call KRVXpostsolve first");
      const unsigned f = fileFlags(flags, "vz");
      gz = f & 2;
      path = solutionFileName(prob, filename, ".bss", f & 1, gz);
    }
    SolveScope scope;
    BasisLp lp;
    check(acquireBasisLp(prob, scope, lp, "Writing a basis"));
    std::vector<int> rowstat, colstat;
    if (!readInstanceBasis(lp.h, lp.nrows, lp.ncols, rowstat, colstat))
      raise(kErrNoSolution, "no basis is available: solve the problem or load a basis");
    std::lock_guard<std::recursive_mutex> lock(prob->mtx);
    const std::vector<std::string> rows = fileNames(*prob, 1, prob->rows.size()),
                                   cols = fileNames(*prob, 2, prob->cols.size());
    std::string out = "NAME          " + (prob->name.empty() ? std::string("problem") : quotedName(prob->name)) + "\n";
    std::vector<int> basicCols, nonbasicRows;
    for (size_t j = 0; j < colstat.size(); ++j)
      if (colstat[j] == kBasisBasic) basicCols.push_back(int(j));
    for (size_t i = 0; i < rowstat.size(); ++i)
      if (rowstat[i] != kBasisBasic) nonbasicRows.push_back(int(i));
    for (size_t k = 0; k < basicCols.size() && k < nonbasicRows.size(); ++k) {
      const int i = nonbasicRows[k];
      out += (rowstat[size_t(i)] == kBasisUpper ? " XL " : " XU ") + quotedName(cols[size_t(basicCols[k])]) + " " +
             quotedName(rows[size_t(i)]) + "\n";
    }
    for (size_t j = 0; j < colstat.size(); ++j)
      if (colstat[j] == kBasisUpper) out += " UL " + quotedName(cols[j]) + "\n";
    out += "ENDATA\n";
    writeWholeFile(path, out, gz);
  });
}
