// LP-format writer: everything the LP reader takes back (ranged and free rows, quadratic objective
// and rows, indicators, integer, binary, semi-continuous and semi-integer columns, sets, the
// objective constant), plain or gzip (a name ending in .gz). Numbers are written in their shortest
// exact form. Names the format cannot hold are replaced by their default names (R1, C1, S1, ...).
#include "io/readprob.h"

#include "core/model.h"
#include "io/text_out.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace krvx {
namespace {

// Names the LP reader takes back unchanged: a letter or '_' first, then letters, digits, bytes of
// UTF-8 characters and a few symbols; no keyword of the format.
bool lpName(const std::string &n) {
  static const char *const keywords[] = {
      "free", "inf", "infinity", "nan", "st", "s.t.", "st.", "subject", "such", "end", "bound", "bounds", "gen",
      "general", "generals", "integer", "integers", "bin", "binary", "binaries", "semi", "semis", "semi-continuous",
      "min", "max", "minimize", "maximize", "minimise", "maximise", "minimum", "maximum", "sos"};
  if (n.empty()) return false;
  unsigned char c0 = static_cast<unsigned char>(n[0]);
  if (!std::isalpha(c0) && c0 != '_' && c0 < 0x80) return false;
  for (unsigned char c : n)
    if (c < 0x80 && !std::isalnum(c) && !std::strchr("_.#()'{}|!\"$%&;?@~", c)) return false;
  if (n.size() > 15) return true;
  std::string low(n);
  for (char &c : low) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const char *k : keywords)
    if (low == k) return false;
  return true;
}

class LpOut : public TextOut {
 public:
  using TextOut::TextOut;
  std::string_view num(double v) {
    if (v >= kInf) return "inf";
    if (v <= -kInf) return "-inf";
    auto r = std::to_chars(nb_, nb_ + sizeof nb_, v);
    return {nb_, size_t(r.ptr - nb_)};
  }
  void start() { terms_ = 0; }
  // " + 3 x", breaking long lines
  void term(double v, const std::string &a, const std::string *b = nullptr, bool square = false) {
    if (++terms_ % 8 == 0) raw("\n ");
    raw(std::signbit(v) ? " - " : " + ");
    raw(num(std::fabs(v)));
    raw(" ");
    raw(a);
    if (square) raw(" ^ 2");
    if (b) raw(" * "), raw(*b);
  }
  // [ v x ^ 2 + 2v x * y ]: the triangle as the reader takes it (objective with "/ 2", rows without)
  void quadratic(std::vector<QTerm> q, const std::vector<std::string> &cn, bool objective) {
    normalizeTerms(q);
    if (q.empty()) return;
    raw(" + [");
    for (const QTerm &t : q) {
      if (t.i == t.j) term(t.value, cn[size_t(t.i)], nullptr, true);
      else term(2 * t.value, cn[size_t(t.i)], &cn[size_t(t.j)]);
    }
    raw(objective ? " ] / 2" : " ]");
  }

 private:
  char nb_[32];
  size_t terms_ = 0;
};

// A lower limit that the reader turns back into exactly `range` below `up`.
double rangeBottom(double up, double range) {
  double lo = up - range;
  for (int k = 0; k < 4 && up - lo != range; ++k) lo = std::nextafter(lo, up - lo > range ? kInf : -kInf);
  return up - lo == range ? lo : up - range;
}

}  // namespace

bool writeLpFile(const ko_prob_struct &p, const std::string &path, std::string &error,
                 std::vector<std::string> &warnings) {
  auto refuse = [&](const char *what) {
    error = std::string("the LP format cannot hold ") + what + "; write MPS instead";
    return false;
  };
  if (!p.objectives.empty()) return refuse("several objectives");
  if (!p.pwls.empty() || !p.gencons.empty()) return refuse("piecewise-linear or general constraints");
  for (const Column &c : p.cols)
    if (c.type == 'P') return refuse("partial integer columns");
  for (const Set &s : p.sets)
    if (s.cols.empty()) return refuse("sets without members");
  for (size_t i = 0; i < p.indicators.size() && i < p.rows.size(); ++i)
    if (p.indicators[i].complement && (p.rows[i].type == 'R' || p.rows[i].type == 'N'))
      return refuse("indicators on ranged or free rows");
  size_t nc = p.cols.size(), nr = p.rows.size();
  if (nc == 0 && nr > 0) return refuse("rows without columns");
  size_t renamed = 0;
  std::vector<std::string> rn = fileNames(p, 1, nr, lpName, &renamed), cn = fileNames(p, 2, nc, lpName, &renamed),
                           sn = fileNames(p, 3, p.sets.size(), lpName, &renamed);
  bool gz = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
  LpOut out(gz);
  if (!out.open(path)) {
    error = "cannot write '" + path + "': " + std::strerror(errno ? errno : EIO);
    return false;
  }
  out.raw("\\ written by libkrvx\n");
  out.raw(p.objsense < 0 ? "Maximize\n " : "Minimize\n ");
  out.raw(objectiveName(rn, "obj") + ":");
  out.start();
  // every column appears in the objective, so the reader keeps their order
  for (size_t j = 0; j < nc; ++j) out.term(p.cols[j].cost, cn[j]);
  out.quadratic(p.qobj, cn, true);
  if (p.objconst != 0.0) {
    out.raw(std::signbit(p.objconst) ? " - " : " + ");
    out.raw(out.num(std::fabs(p.objconst)));
  }
  out.raw("\nSubject To\n");
  // rows from the columns
  std::vector<size_t> start(nr + 1, 0);
  for (size_t j = 0; j < nc; ++j)
    for (const Entry e : p.matrix.col(int(j))) ++start[size_t(e.index) + 1];
  for (size_t i = 0; i < nr; ++i) start[i + 1] += start[i];
  std::vector<std::pair<size_t, double>> byRow(start[nr]);
  std::vector<size_t> fill(start.begin(), start.end() - 1);
  for (size_t j = 0; j < nc; ++j)
    for (const Entry e : p.matrix.col(int(j))) byRow[fill[size_t(e.index)]++] = {j, e.value};
  for (size_t i = 0; i < nr; ++i) {
    const Row &r = p.rows[i];
    out.raw(" ");
    out.raw(rn[i]);
    out.raw(":");
    if (i < p.indicators.size() && p.indicators[i].complement) {
      out.raw(" ");
      out.raw(cn[size_t(p.indicators[i].col)]);
      out.raw(p.indicators[i].complement > 0 ? " = 1 ->" : " = 0 ->");
    }
    if (r.type == 'R') {
      out.raw(" ");
      out.raw(out.num(rangeBottom(r.rhs, std::fabs(rowRange(p, i)))));
      out.raw(" <=");
    }
    out.start();
    if (start[i] == start[i + 1]) out.term(0.0, cn[0]);
    for (size_t k = start[i]; k < start[i + 1]; ++k) out.term(byRow[k].second, cn[byRow[k].first]);
    if (i < p.qrows.size()) out.quadratic(p.qrows[i], cn, false);
    switch (r.type) {
      case 'L':
      case 'R': out.raw(" <= "); break;
      case 'G': out.raw(" >= "); break;
      case 'N': out.raw(" >= -inf\n"); continue;
      default: out.raw(" = "); break;
    }
    out.raw(out.num(r.rhs));
    out.raw("\n");
  }
  out.raw("Bounds\n");
  std::string gen, bin, semi;
  auto bound = [&](const std::string &n, double lb, double ub) {
    if (lb <= -kInf && ub >= kInf) out.raw(" " + n + " free\n");
    else if (lb == ub) out.raw(" " + n + " = " + std::string(out.num(lb)) + "\n");
    else if (lb == 0.0 && ub >= kInf) return;
    else if (ub >= kInf) out.raw(" " + n + " >= " + std::string(out.num(lb)) + "\n");
    else out.raw(" " + std::string(out.num(lb)) + " <= " + n + " <= " + std::string(out.num(ub)) + "\n");
  };
  for (size_t j = 0; j < nc; ++j) {
    const Column &c = p.cols[j];
    const std::string &n = cn[j];
    double lb = c.lb, ub = c.ub;
    if ((c.type == 'S' || c.type == 'R') && colLimit(p, j) != 0.0) lb = colLimit(p, j);
    if (c.type == 'B') {  // binaries take their bounds inside [0, 1], as a solve does
      bin += " " + n + "\n";
      lb = std::max(lb, 0.0);
      ub = std::min(ub, 1.0);
      if (lb != 0.0 || ub != 1.0) bound(n, lb, ub);
      continue;
    }
    if (c.type == 'I' || c.type == 'R') gen += " " + n + "\n";
    if (c.type == 'S' || c.type == 'R') semi += " " + n + "\n";
    bound(n, lb, ub);
  }
  if (!gen.empty()) out.raw("General\n" + gen);
  if (!bin.empty()) out.raw("Binary\n" + bin);
  if (!semi.empty()) out.raw("Semi-Continuous\n" + semi);
  if (!p.sets.empty()) {
    out.raw("SOS\n");
    for (size_t k = 0; k < p.sets.size(); ++k) {
      const Set &s = p.sets[k];
      out.raw(" " + sn[k] + (s.type == '2' ? ": S2::" : ": S1::"));
      for (size_t m = 0; m < s.cols.size(); ++m) {
        out.raw(m % 8 == 7 ? "\n  " : " ");
        out.raw(cn[size_t(s.cols[m])]);
        out.raw(":");
        out.raw(out.num(m < s.weights.size() ? s.weights[m] : double(m + 1)));
      }
      out.raw("\n");
    }
  }
  out.raw("End\n");
  if (!out.close()) {
    error = "cannot write '" + path + "': " + std::strerror(errno ? errno : EIO);
    return false;
  }
  if (renamed)
    warnings.push_back(std::to_string(renamed) +
                       " names cannot be written in LP format and were written as their default names (R1, C1, S1, ...)");
  return true;
}

}  // namespace krvx
