// Solutions given to the library: loaded from arrays (KRVXloadlpsol), read from the text format
// (.slx) or the binary format (.sol), and MIP starts for the next MIP solve. Formats: krvx.h.
#include "analysis/solution_input.h"
#include "analysis/analysis_files.h"
#include "analysis/basis.h"
#include "analysis/diagnostics.h"
#include "core/call_guard.h"
#include "io/readprob.h"

#include "interfaces/highs_c_api.h"

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>
#include <unordered_map>

namespace krvx {

void passMipStarts(void *h, const Lowered &low, const std::vector<std::vector<double>> &starts) {
  std::vector<HighsInt> index(size_t(low.ncols));
  for (int j = 0; j < low.ncols; ++j) index[size_t(j)] = j;
  for (const std::vector<double> &x : starts)
    if (x.size() == size_t(low.ncols)) Highs_setSparseSolution(h, low.ncols, index.data(), x.data());
}

namespace {

// Activity of every row at x.
std::vector<double> activities(const ko_prob_struct *p, const std::vector<double> &x) {
  std::vector<double> act(p->rows.size(), 0.0);
  for (size_t j = 0; j < p->cols.size(); ++j)
    for (const Entry e : p->matrix.col(int(j))) act[size_t(e.index)] += e.value * x[j];
  return act;
}

// x satisfies the bounds, the integrality and the rows of p within tol.
bool feasibleStart(const ko_prob_struct *p, const std::vector<double> &x, double tol) {
  if (x.size() != p->cols.size()) return false;
  for (size_t j = 0; j < x.size(); ++j) {
    const Column &c = p->cols[j];
    const double v = x[j];
    const bool zero = std::fabs(v) <= tol && (c.type == 'S' || c.type == 'R');
    if (!zero && (v < c.lb - tol || v > c.ub + tol)) return false;
    if ((c.type == 'B' || c.type == 'I' || c.type == 'R') && std::fabs(v - std::round(v)) > tol) return false;
  }
  const std::vector<double> act = activities(p, x);
  for (size_t i = 0; i < act.size(); ++i) {
    const Row &r = p->rows[i];
    const double a = act[i], t = tol * (1 + std::fabs(r.rhs));
    switch (r.type) {
      case 'L': if (a > r.rhs + t) return false; break;
      case 'G': if (a < r.rhs - t) return false; break;
      case 'E': if (std::fabs(a - r.rhs) > t) return false; break;
      case 'R': if (a > r.rhs + t || a < rowBottom(*p, i) - t) return false; break;
      default: break;
    }
  }
  return true;
}

// The solution of the given arrays (each absent or of full length), with the documented defaults.
Solution loadedSolution(const ko_prob_struct *p, const double *x, const double *slack, const double *duals,
                        const double *djs) {
  const size_t n = p->cols.size(), m = p->rows.size();
  if (!slack) refuseNonlinearRows(p, "Slacks computed from column values");
  Solution s;
  s.solvestatus = KRVX_SOLVESTATUS_UNSTARTED;
  s.solstatus = KRVX_SOLSTATUS_FEASIBLE;
  if (x) {
    s.x.assign(x, x + n);
  } else {
    s.x.resize(n);
    for (size_t j = 0; j < n; ++j) {
      const Column &c = p->cols[j];
      s.x[j] = c.lb > -kInf ? c.lb : c.ub < kInf ? c.ub : 0.0;   // at a bound (0 for a free column)
    }
  }
  if (slack) {
    s.slack.assign(slack, slack + m);
  } else {
    const std::vector<double> act = activities(p, s.x);
    s.slack.resize(m);
    for (size_t i = 0; i < m; ++i) s.slack[i] = p->rows[i].rhs - act[i];
  }
  s.has_x = true;
  s.duals.assign(m, 0.0);
  if (duals) s.duals.assign(duals, duals + m);
  if (djs) {
    s.djs.assign(djs, djs + n);
  } else if (!duals) {
    s.djs.assign(n, 0.0);   // no duals: duals and reduced costs zero
  } else {
    s.djs.resize(n);
    for (size_t j = 0; j < n; ++j) {
      double d = p->cols[j].cost;
      for (const Entry e : p->matrix.col(int(j))) d -= e.value * s.duals[size_t(e.index)];
      s.djs[j] = d;
    }
  }
  s.has_duals = true;
  s.objval = p->objconst;
  for (size_t j = 0; j < n; ++j) s.objval += p->cols[j].cost * s.x[j];
  return s;
}

bool isDiscreteProblem(const ko_prob_struct *p) {
  for (const Column &c : p->cols)
    if (c.type != 'C') return true;
  return false;
}

// Installs x read from a file: as the current solution (LP) and, for a MIP solution, as the start
// of the next MIP solve. Mutex held.
void installRead(ko_prob_struct *p, const std::vector<double> &x, bool asMip) {
  if (p->presolved.active) raise(kErrInvalid, "the problem is in presolved form; call KRVXpostsolve first");
  if (asMip) {
    p->mipstarts.clear();
    p->mipstarts.push_back(x);
  }
  p->sol = loadedSolution(p, x.data(), nullptr, nullptr, nullptr);
}

// ".slx": NAME lines start solutions, C lines give values of columns by name.
void readSlx(ko_prob_struct *p, const std::string &path, const std::string &shown, bool all,
             std::vector<std::vector<double>> &sols) {
  LineReader in;
  std::string error;
  if (!in.open(path, error)) raise(kErrFile, "%s", error.c_str());
  const size_t n = p->cols.size();
  std::unordered_map<std::string, int> colIndex;   // names as the writers give them (default names too)
  const std::vector<std::string> names = fileNames(*p, 2, n);
  for (size_t k = 0; k < n; ++k) colIndex.emplace(names[k], int(k));
  char *b, *e;
  while (in.next(b, e)) {
    char *tok[4];
    const int nt = splitFields(b, e, tok, 4);
    if (nt == 0 || tok[0][0] == '#') continue;
    if (std::strcmp(tok[0], "NAME") == 0) {
      if (!sols.empty() && !all) break;
      sols.emplace_back(n, 0.0);
      continue;
    }
    if ((std::strcmp(tok[0], "C") != 0 && std::strcmp(tok[0], "R") != 0) || nt != 3)
      raise(kErrFile, "%s, line %ld: expected 'NAME <name>', 'C <column> <value>' or 'R <row> <value>'",
            shown.c_str(), in.line());
    if (sols.empty()) sols.emplace_back(n, 0.0);
    char *end = nullptr;
    const double v = std::strtod(tok[2], &end);
    if (*end || !std::isfinite(v))
      raise(kErrFile, "%s, line %ld: '%s' is not a finite number", shown.c_str(), in.line(), tok[2]);
    if (tok[0][0] == 'R') continue;   // slack values follow from the columns
    auto it = colIndex.find(tok[1]);
    if (it == colIndex.end()) raise(kErrFile, "%s, line %ld: unknown column '%s'", shown.c_str(), in.line(), tok[1]);
    const int j = it->second;
    sols.back()[size_t(j)] = v;
  }
  in.drain();
  if (in.failed()) raise(kErrFile, "%s: %s", shown.c_str(), in.error().c_str());
  if (sols.empty()) raise(kErrFile, "%s holds no solution", shown.c_str());
}

// Binary format (krvx.h): header, version, counts, flags, values, FNV-1a checksum.
constexpr char kMagic[8] = {'K', 'R', 'V', 'X', 'S', 'O', 'L', 0};
constexpr uint32_t kVersion = 1;

uint64_t fnv1a(const std::string &bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

template <class T>
void put(std::string &out, T v) {
  out.append(reinterpret_cast<const char *>(&v), sizeof v);
}

}  // namespace

void chooseMipStart(const ko_prob_struct *p, std::vector<std::vector<double>> &starts) {
  if (starts.size() < 2) return;
  const double tol = 1e-6;
  int best = -1;
  double bestobj = 0.0;
  for (size_t k = 0; k < starts.size(); ++k) {
    if (!feasibleStart(p, starts[k], tol)) continue;
    double obj = 0.0;
    for (size_t j = 0; j < p->cols.size(); ++j) obj += p->cols[j].cost * starts[k][j];
    obj *= p->objsense;
    if (best < 0 || obj < bestobj) best = int(k), bestobj = obj;
  }
  std::vector<double> keep = std::move(starts[size_t(best < 0 ? 0 : best)]);
  starts.assign(1, std::move(keep));
}

int splitFields(char *b, char *e, char **tok, int max) {
  int nt = 0;
  for (char *c = b; c < e && nt < max;) {
    while (c < e && (*c == ' ' || *c == '\t' || *c == '\r')) *c++ = 0;
    if (c >= e) break;
    tok[nt++] = c;
    while (c < e && *c != ' ' && *c != '\t' && *c != '\r') ++c;
    if (c < e) *c++ = 0;
  }
  return nt;
}

std::string solutionFileName(const ko_prob_struct *p, const char *filename, const char *ext, bool verbatim,
                             bool gz) {
  std::string name = checkedString(filename, 4096, "filename");
  if (name.empty()) name = p->name.empty() ? "problem" : p->name;
  if (!verbatim) {
    name += ext;
    if (gz) name += ".gz";
  }
  return name;
}

unsigned fileFlags(const char *flags, const char *allowed) {
  unsigned bits = 0;
  for (const char *f = flags ? flags : ""; *f; ++f) {
    const char *at = std::strchr(allowed, *f);
    if (!at || !*f)
      raise(kErrInvalid, "unknown flag '%c' (known flags: %s)", *f >= 32 && *f < 127 ? *f : '?', allowed);
    bits |= 1u << (at - allowed);
  }
  return bits;
}

std::string readWholeFile(const std::string &path) {
  gzFile g = gzopen(path.c_str(), "rb");
  if (!g) raise(kErrFile, "cannot open '%s'", path.c_str());
  std::string bytes;
  char buf[65536];
  int got;
  while ((got = gzread(g, buf, sizeof buf)) > 0) bytes.append(buf, size_t(got));
  int code = Z_OK;
  gzerror(g, &code);
  const bool bad = got < 0 || code == Z_BUF_ERROR;   // damaged, or cut short (no gzip trailer)
  gzclose(g);
  if (bad) raise(kErrFile, "'%s' cannot be read (damaged or truncated compressed data)", path.c_str());
  return bytes;
}

void writeWholeFile(const std::string &path, const std::string &bytes, bool gz) {
  if (gz) {
    gzFile g = gzopen(path.c_str(), "wb6");
    bool ok = g && gzwrite(g, bytes.data(), unsigned(bytes.size())) == int(bytes.size());
    if (g) ok = gzclose(g) == Z_OK && ok;
    if (!ok) raise(kErrFile, "cannot write '%s'", path.c_str());
    return;
  }
  FILE *f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f) ok = std::fclose(f) == 0 && ok;
  if (!ok) raise(kErrFile, "cannot write '%s'", path.c_str());
}

}  // namespace krvx

using namespace krvx;

extern "C" KRVX_API int KRVXloadlpsol_witharraysizes(KRVXprob prob, const double *x, int64_t x_n, const double *slack,
                                                     int64_t slack_n, const double *duals, int64_t duals_n,
                                                     const double *djs, int64_t djs_n, int *status) {
  return guard(prob, "KRVXloadlpsol", [&] {
    requireIdle(prob);
    if (!status) raise(kErrInvalid, "argument 'status' is NULL");
    const int64_t n = int64_t(prob->cols.size()), m = int64_t(prob->rows.size());
    checkOptional(x, x_n, n, "x");
    checkOptional(slack, slack_n, m, "slack");
    checkOptional(duals, duals_n, m, "duals");
    checkOptional(djs, djs_n, n, "djs");
    // values of a solution are finite, as the solution files require
    for (auto [v, count, name] : {std::tuple{x, x_n, "x"}, {slack, slack_n, "slack"}, {duals, duals_n, "duals"},
                                  {djs, djs_n, "djs"}})
      for (int64_t k = 0; k < count; ++k)
        if (!std::isfinite(v[k]))
          raise(kErrInvalid, "entry %lld of argument '%s' is not a finite number (%g)", (long long)k, name, v[k]);
    if (slack_n && !x_n) raise(kErrInvalid, "slack values need x");
    if (djs_n && !duals_n) raise(kErrInvalid, "reduced costs need duals");
    refuseNonlinearRows(prob, "Loaded LP solutions");
    if (!prob->qobj.empty() && duals_n && !djs_n)
      raise(kErrInvalid, "the problem has a quadratic objective: give the reduced costs with the duals");
    if (prob->presolved.active) {
      *status = 1;
      return;
    }
    *status = 0;
    if (!x_n && !duals_n) {
      prob->sol = Solution();
      return;
    }
    Solution s = loadedSolution(prob, x_n ? x : nullptr, slack_n ? slack : nullptr, duals_n ? duals : nullptr,
                                djs_n ? djs : nullptr);
    if (!duals_n) s.has_duals = true;   // zero duals, as documented
    prob->sol = std::move(s);
    prob->diag = SolveDiagnostics();
    prob->pivotorder.clear();
  });
}

extern "C" KRVX_API int KRVXreadslxsol(KRVXprob prob, const char *filename, const char *flags) {
  return guard(prob, "KRVXreadslxsol", [&] {
    requireIdle(prob);
    const unsigned f = fileFlags(flags, "lmavz");   // bits: l 1, m 2, a 4, v 8, z 16
    if ((f & 1) && (f & 6)) raise(kErrInvalid, "flag 'l' excludes 'm' and 'a'");
    const std::string path = solutionFileName(prob, filename, ".slx", f & 8, f & 16);
    std::vector<std::vector<double>> sols;
    readSlx(prob, path, path, (f & 4) != 0, sols);
    const bool mip = (f & 2) || (!(f & 1) && isDiscreteProblem(prob));
    if (f & 4) {
      if (prob->presolved.active) raise(kErrInvalid, "the problem is in presolved form; call KRVXpostsolve first");
      for (auto &x : sols) prob->mipstarts.push_back(std::move(x));
      return;
    }
    installRead(prob, sols.front(), mip);
  });
}

extern "C" KRVX_API int KRVXreadbinsol(KRVXprob prob, const char *filename, const char *flags) {
  return guard(prob, "KRVXreadbinsol", [&] {
    requireIdle(prob);
    const unsigned f = fileFlags(flags, "mxvz");   // bits: m 1, x 2, v 4, z 8
    if ((f & 1) && (f & 2)) raise(kErrInvalid, "flags 'm' and 'x' exclude each other");
    const std::string path = solutionFileName(prob, filename, ".sol", f & 4, f & 8);
    const std::string bytes = readWholeFile(path);
    const size_t header = sizeof kMagic + 4 + 8 + 8 + 4;
    if (bytes.size() < header + 8 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
      raise(kErrFile, "'%s' is not a solution file of this library", path.c_str());
    uint64_t sum;
    std::memcpy(&sum, bytes.data() + bytes.size() - 8, 8);
    if (sum != fnv1a(bytes.substr(0, bytes.size() - 8)))
      raise(kErrFile, "'%s' is damaged (checksum mismatch)", path.c_str());
    uint32_t version, fl;
    int64_t n, m;
    const char *at = bytes.data() + sizeof kMagic;
    std::memcpy(&version, at, 4);
    std::memcpy(&n, at + 4, 8);
    std::memcpy(&m, at + 12, 8);
    std::memcpy(&fl, at + 20, 4);
    if (version != kVersion) raise(kErrFile, "'%s' has format version %u; this library reads %u", path.c_str(), version, kVersion);
    if (n != int64_t(prob->cols.size()) || m != int64_t(prob->rows.size()))
      raise(kErrFile, "'%s' holds a solution of %lld columns and %lld rows; the problem has %zu and %zu", path.c_str(),
            (long long)n, (long long)m, prob->cols.size(), prob->rows.size());
    if (fl & ~1u) raise(kErrFile, "'%s' has unknown flags (0x%X)", path.c_str(), fl);
    const bool hasDuals = fl & 1;
    const size_t values = size_t(n + m) * (hasDuals ? 2 : 1);
    if (n < 0 || m < 0 || bytes.size() != header + values * 8 + 8)
      raise(kErrFile, "'%s' is damaged (wrong length)", path.c_str());
    std::vector<double> v(values);
    std::memcpy(v.data(), bytes.data() + header, values * 8);
    for (size_t k = 0; k < values; ++k)
      if (!std::isfinite(v[k])) raise(kErrFile, "'%s': value %zu is not a finite number", path.c_str(), k);
    const double *x = v.data(), *slack = x + n;
    if (f & 1) {
      installRead(prob, std::vector<double>(x, x + n), true);
      return;
    }
    if (prob->presolved.active) raise(kErrInvalid, "the problem is in presolved form; call KRVXpostsolve first");
    prob->sol = loadedSolution(prob, x, slack, hasDuals ? slack + m : nullptr, hasDuals ? slack + m + m : nullptr);
    prob->sol.has_duals = hasDuals;
  });
}

extern "C" KRVX_API int KRVXwritebinsol(KRVXprob prob, const char *filename, const char *flags) {
  return guard(prob, "KRVXwritebinsol", [&] {
    const unsigned f = fileFlags(flags, "vz");
    const Solution &s = prob->sol;
    const size_t n = prob->cols.size(), m = prob->rows.size();
    if (!s.has_x || s.x.size() != n || s.slack.size() != m) raise(kErrNoSolution, "no solution is available");
    const bool hasDuals = s.has_duals && s.duals.size() == m && s.djs.size() == n;
    const std::string path = solutionFileName(prob, filename, ".sol", f & 1, f & 2);
    std::string bytes(kMagic, sizeof kMagic);
    put(bytes, kVersion);
    put(bytes, int64_t(n));
    put(bytes, int64_t(m));
    put(bytes, uint32_t(hasDuals ? 1 : 0));
    for (const auto *v : {&s.x, &s.slack})
      for (double d : *v) put(bytes, d);
    if (hasDuals)
      for (const auto *v : {&s.duals, &s.djs})
        for (double d : *v) put(bytes, d);
    put(bytes, fnv1a(bytes));
    writeWholeFile(path, bytes, f & 2);
  });
}
