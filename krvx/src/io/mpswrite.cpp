// MPS writer: every section the reader takes. Free format writes numbers in their shortest exact
// form; fixed format fits them into its 12-character fields, rounding where they do not fit.
#include "io/readprob.h"

#include "core/model.h"
#include "io/text_out.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace krvx {
namespace {

class MpsOut : public TextOut {
 public:
  MpsOut(bool fixed, bool gz) : TextOut(gz), fixed_(fixed) {}
  // One record in the fields code, name, n1 v1, n2 v2 (empty fields are left out).
  void rec(std::string_view code, std::string_view name, std::string_view n1 = {}, std::string_view v1 = {},
           std::string_view n2 = {}, std::string_view v2 = {}) {
    if (fixed_) {
      line_.assign(64, ' ');
      put(1, code);
      put(4, name);
      put(14, n1);
      put(24, v1);
      put(39, n2);
      put(49, v2);
      line_.erase(line_.find_last_not_of(' ') + 1);
      line_ += '\n';
      raw(line_);
      return;
    }
    line_.assign(code.empty() ? "    " : " ");
    if (!code.empty()) line_.append(code).append(" ");
    for (std::string_view f : {name, n1, v1, n2, v2}) {
      if (f.empty()) continue;
      line_.append(f);
      line_ += ' ';
    }
    line_.back() = '\n';
    raw(line_);
  }
  bool rounded() const { return rounded_; }  // a value did not fit its fixed-format field
  std::string_view num(double v, int slot = 0) {
    char *b = nbuf_[slot];
    if (v >= kInf) v = 1e30;
    if (v <= -kInf) v = -1e30;
    auto r = std::to_chars(b, b + 31, v);
    size_t n = size_t(r.ptr - b);
    if (fixed_ && n > 12) {
      for (int prec = 11; prec > 0 && n > 12; --prec) n = size_t(std::snprintf(b, 32, "%.*g", prec, v));
      rounded_ = true;
    }
    return {b, n};
  }

 private:
  void put(size_t at, std::string_view s) {
    if (s.empty()) return;
    if (line_.size() < at + s.size()) line_.resize(at + s.size(), ' ');
    line_.replace(at, s.size(), s);
  }
  bool fixed_;
  std::string line_;
  char nbuf_[2][32];
  bool rounded_ = false;
};

bool checkNames(const std::vector<std::string> &names, bool fixed, std::string &error) {
  for (const std::string &n : names) {
    bool blank = false, control = false;
    for (unsigned char c : n) {
      blank = blank || c == ' ' || c == '\t';
      control = control || c < 0x20;
    }
    std::string why;
    if (control) why = "contains a control character";
    else if (!fixed && blank) why = "contains a blank (free MPS cannot hold it; fixed MPS can)";
    else if (fixed && n.size() > 8) why = "is longer than 8 characters (fixed MPS cannot hold it)";
    else continue;
    error = "name '" + n.substr(0, 64) + "' " + why;
    return false;
  }
  return true;
}

}  // namespace

bool writeMpsFile(const ko_prob_struct &p, const std::string &path, bool fixed, std::string &error, bool &rounded) {
  if (!p.objectives.empty()) {
    error = "MPS cannot hold several objectives";
    return false;
  }
  if (!p.pwls.empty() || !p.gencons.empty()) {
    error = "MPS cannot hold piecewise-linear or general constraints";
    return false;
  }
  for (const Column &c : p.cols)
    if (c.type == 'P') {
      error = "MPS cannot hold partial integer columns";
      return false;
    }
  size_t nr = p.rows.size(), nc = p.cols.size();
  std::vector<std::string> rn = fileNames(p, 1, nr), cn = fileNames(p, 2, nc),
                           sn = fileNames(p, 3, p.sets.size());
  if (!checkNames(rn, fixed, error) || !checkNames(cn, fixed, error) || !checkNames(sn, fixed, error)) return false;
  std::string obj = objectiveName(rn, "OBJ");

  bool gz = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
  MpsOut out(fixed, gz);
  if (!out.open(path)) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::string head = "NAME";
  if (!p.name.empty() && p.name.find_first_of("\r\n") == std::string::npos)
    head += (fixed ? "          " : " ") + p.name;
  out.raw(head + "\n");
  if (p.objsense < 0) out.raw("OBJSENSE\n    MAX\n");

  out.raw("ROWS\n");
  out.rec("N", obj);
  for (size_t i = 0; i < nr; ++i) {
    char t = p.rows[i].type == 'R' ? 'L' : p.rows[i].type;
    out.rec(std::string_view(&t, 1), rn[i]);
  }

  out.raw("COLUMNS\n");
  bool inInt = false;
  for (size_t j = 0; j < nc; ++j) {
    const Column &c = p.cols[j];
    if ((c.type == 'I') != inInt) {
      inInt = !inInt;
      out.rec({}, "MARKER", "'MARKER'", {}, inInt ? "'INTORG'" : "'INTEND'");
    }
    std::string_view pend;  // a first entry waiting for its partner on the line
    std::string pendVal;
    auto entry = [&](std::string_view row, double v) {
      if (pend.empty()) {
        pend = row;
        pendVal.assign(out.num(v));
      } else {
        out.rec({}, cn[j], pend, pendVal, row, out.num(v));
        pend = {};
      }
    };
    const ColumnView coefs = p.matrix.col(int(j));
    if (c.cost != 0.0 || coefs.empty()) entry(obj, c.cost);
    for (const Entry e : coefs) entry(rn[size_t(e.index)], e.value);
    if (!pend.empty()) out.rec({}, cn[j], pend, pendVal);
  }
  if (inInt) out.rec({}, "MARKER", "'MARKER'", {}, "'INTEND'");

  out.raw("RHS\n");
  if (p.objconst != 0.0) out.rec({}, "RHS", obj, out.num(-p.objconst));
  for (size_t i = 0; i < nr; ++i)
    if (p.rows[i].type != 'N' && p.rows[i].rhs != 0.0) out.rec({}, "RHS", rn[i], out.num(p.rows[i].rhs));

  bool ranges = false;
  for (size_t i = 0; i < nr; ++i) {
    if (p.rows[i].type != 'R') continue;
    if (!ranges) out.raw("RANGES\n");
    ranges = true;
    out.rec({}, "RNG", rn[i], out.num(std::fabs(rowRange(p, i))));
  }

  bool bounds = false;
  auto bound = [&](const char *code, size_t j, bool value = false, double v = 0.0) {
    if (!bounds) out.raw("BOUNDS\n");
    bounds = true;
    out.rec(code, "BND", cn[j], value ? out.num(v) : std::string_view());
  };
  for (size_t j = 0; j < nc; ++j) {
    const Column &c = p.cols[j];
    double lb = c.lb, ub = c.ub;
    if (c.type == 'B') {
      bound("BV", j);
      if (lb != 0.0) bound("LO", j, true, lb);
      if (ub != 1.0) bound("UP", j, true, ub);
    } else if (c.type == 'S' || c.type == 'R') {
      bound(c.type == 'S' ? "SC" : "SI", j, true, ub);
      double lim = semiLower(p, j);
      if (lim != 0.0) bound("LO", j, true, lim);
    } else if (lb <= -kInf && ub >= kInf) {
      bound("FR", j);
    } else if (lb == ub) {
      bound("FX", j, true, lb);
    } else {
      if (lb <= -kInf) bound("MI", j);
      else if (lb != 0.0 || ub < 0.0) bound("LO", j, true, lb);
      if (ub < kInf) bound("UP", j, true, ub);
    }
  }

  if (!p.sets.empty()) {
    out.raw("SOS\n");
    for (size_t k = 0; k < p.sets.size(); ++k) {
      const Set &s = p.sets[k];
      out.rec(s.type == '2' ? "S2" : "S1", "SOS", sn[k]);
      for (size_t m = 0; m < s.cols.size(); ++m)
        out.rec({}, cn[size_t(s.cols[m])], out.num(m < s.weights.size() ? s.weights[m] : double(m + 1)));
    }
  }

  std::vector<QTerm> q(p.qobj);
  normalizeTerms(q);
  if (!q.empty()) {
    out.raw("QUADOBJ\n");
    for (const QTerm &t : q) out.rec({}, cn[size_t(t.i)], cn[size_t(t.j)], out.num(t.value));
  }
  for (size_t i = 0; i < p.qrows.size() && i < nr; ++i) {
    std::vector<QTerm> r(p.qrows[i]);
    normalizeTerms(r);
    if (r.empty()) continue;
    out.raw((fixed ? "QCMATRIX   " : "QCMATRIX ") + rn[i] + "\n");
    for (const QTerm &t : r) {
      out.rec({}, cn[size_t(t.i)], cn[size_t(t.j)], out.num(t.value));
      if (t.i != t.j) out.rec({}, cn[size_t(t.j)], cn[size_t(t.i)], out.num(t.value));
    }
  }

  bool inds = false;
  for (size_t i = 0; i < p.indicators.size() && i < nr; ++i) {
    const Indicator &d = p.indicators[i];
    if (!d.complement) continue;
    if (!inds) out.raw("INDICATORS\n");
    inds = true;
    out.rec("IF", rn[i], cn[size_t(d.col)], d.complement > 0 ? "1" : "0");
  }
  out.raw("ENDATA\n");
  rounded = out.rounded();
  if (!out.close()) {
    error = "cannot write '" + path + "': " + std::strerror(errno ? errno : EIO);
    return false;
  }
  return true;
}

}  // namespace krvx
