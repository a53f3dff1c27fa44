// MPS reader: fixed and free format, plain or gzip. Tokens are cut in place from large chunks of the
// file; only row, column and set names are copied (once, into an arena).
//
// Conventions:
// - The first N row is the objective; later N rows are kept as free rows (type N).
// - An RHS entry on the objective row is the negated objective constant.
// - RANGES: L [rhs-|R|, rhs]; G [rhs, rhs+|R|]; E [rhs, rhs+R] for R > 0, [rhs+R, rhs] for R < 0;
//   ranges on free rows are ignored (with a warning). The resulting interval gives the row type:
//   both sides finite and apart R, one side infinite L or G, both N, equal E.
// - Columns between INTORG and INTEND markers are integer with bounds [0, +inf) unless BOUNDS says
//   otherwise.
// - An UP (or UI) bound below 0 on a column whose lower bound was not given makes the lower bound
//   -inf (with a warning).
// - SC and SI bounds set the upper bound (no value: +inf) and make the column semi-continuous or
//   semi-integer, also when it was inside integer markers; its lower bound becomes the limit.
// - Only the first RHS, RANGES and BOUNDS vector is used; entries of others are skipped with a warning.
// - QUADOBJ (and QSECTION on the objective row) gives one triangle; QMATRIX and QCMATRIX give the full
//   matrix, whose off-diagonal pair (i,j), (j,i) becomes the triangle value (Qij + Qji) / 2.
// - NaN and infinite coefficients (|v| >= 1e20) in COLUMNS and the quadratic sections are refused.
#include "io/readprob.h"
#include "io/name_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace krvx {
namespace {

struct Tok {
  const char *p = nullptr;
  size_t n = 0;
  std::string_view sv() const { return {p, n}; }
  bool empty() const { return n == 0; }
  bool is(const char *s) const { return sv() == s; }
};

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

int splitFree(char *b, char *e, Tok *t, int max) {
  int n = 0;
  while (b < e) {
    while (b < e && isBlank(*b)) ++b;
    if (b == e) break;
    char *s = b;
    while (b < e && !isBlank(*b)) ++b;
    if (n == max) return max + 1;
    t[n].p = s;
    t[n].n = size_t(b - s);
    ++n;
  }
  return n;
}

// Fixed-format field: columns [from, to) (0-based), blanks trimmed.
Tok fixedField(const char *b, const char *e, size_t from, size_t to) {
  size_t len = size_t(e - b);
  Tok t;
  if (from >= len) return t;
  const char *s = b + from, *f = b + std::min(to, len);
  while (s < f && isBlank(*s)) ++s;
  while (f > s && isBlank(f[-1])) --f;
  t.p = s;
  t.n = size_t(f - s);
  return t;
}

bool parseNumber(Tok t, double &v) {
  const char *s = t.p, *e = t.p + t.n;
  if (s < e && *s == '+') ++s;
  if (s == e) return false;
  auto r = std::from_chars(s, e, v);
  return r.ec == std::errc() && r.ptr == e;
}

enum class Sec { None, Name, ObjSense, Rows, Columns, Rhs, Ranges, Bounds, Sos, QuadObj, QMatrix, QcMatrix,
                 Indicators, End };

const char *secName(Sec s) {
  switch (s) {
    case Sec::Rows: return "ROWS";
    case Sec::Columns: return "COLUMNS";
    case Sec::Rhs: return "RHS";
    case Sec::Ranges: return "RANGES";
    case Sec::Bounds: return "BOUNDS";
    case Sec::Sos: return "SOS";
    case Sec::QuadObj: return "QUADOBJ";
    case Sec::QMatrix: return "QMATRIX";
    case Sec::QcMatrix: return "QCMATRIX";
    case Sec::Indicators: return "INDICATORS";
    case Sec::ObjSense: return "OBJSENSE";
    default: return "NAME";
  }
}

// One data record in the fields of the fixed format: code, name, name1 value1, name2 value2.
struct Rec {
  Tok code, name, n1, v1, n2, v2;
};

struct QRaw {
  int row, i, j;
  double v;
  long line;
};

constexpr int kObjRow = -1;

class MpsParser {
 public:
  MpsParser(ko_prob_struct &m, ReadLog &log, bool fixed) : m_(m), log_(log), fixed_(fixed) {}
  void run(LineReader &in);

 private:
  void header(char *b, char *e);
  void data(char *b, char *e);
  Rec record(char *b, char *e);
  void rows(const Rec &r);
  void columns(const Rec &r);
  void columnEntry(Tok row, Tok val);
  void rhsRanges(const Rec &r, bool ranges);
  void bounds(const Rec &r);
  void sos(const Tok *t, int nt);
  void quad(const Rec &r);
  void indicator(const Rec &r);
  void objsense(Tok t);
  void finish();
  void finishQuadratic();
  void finishNames();

  int rowIndex(Tok t, const char *what) const;
  int colIndex(Tok t, const char *what) const;
  double number(Tok t, const char *what) const;
  double coefficient(Tok t, std::string_view col, std::string_view row) const;
  bool useVector(Tok name, std::string &chosen, bool &seen, bool &warned, const char *what);
  void warn(std::string s) { log_.warnings.push_back(std::move(s)); }
  template <class T> static void grow(std::vector<T> &v, size_t n, T value) {
    if (v.size() < n) v.resize(n, value);
  }
  void growRhs() {
    size_t n = m_.rows.size();
    grow(rhs_, n, 0.0);
    grow(rng_, n, 0.0);
    grow(hasRhs_, n, char(0));
    grow(hasRng_, n, char(0));
  }

  ko_prob_struct &m_;
  ReadLog &log_;
  bool fixed_;
  long line_ = 0;
  Sec sec_ = Sec::None;
  bool sawEnd_ = false;
  NameArena arena_;
  NameIndex rowIdx_, colIdx_, setIdx_;
  std::vector<std::string_view> rowNames_, colNames_, setNames_;
  bool hasObj_ = false;
  std::string_view objName_;
  std::vector<double> rhs_, rng_;
  std::vector<char> hasRhs_, hasRng_;
  std::vector<int> lastCol_;  // per row: last column with an entry in it (duplicate check)
  std::vector<char> lbGiven_;
  bool intMarker_ = false;
  int cur_ = -1;
  bool objCostGiven_ = false;
  std::string rhsName_, rngName_, bndName_;
  bool rhsSeen_ = false, rngSeen_ = false, bndSeen_ = false;
  bool rhsWarned_ = false, rngWarned_ = false, bndWarned_ = false;
  bool awaitSense_ = false;
  int qobjKind_ = 0;  // 1 triangle (QUADOBJ/QSECTION), 2 full matrix (QMATRIX)
  int qrow_ = -1;
  std::vector<QRaw> qobjRaw_, qrowRaw_;
  std::vector<char> qrowDone_;
  int set_ = -1;
  std::vector<int> lastSet_;  // per column: last set it joined
  struct Ind {
    int row, col, val;
    long line;
  };
  std::vector<Ind> inds_;
};

int MpsParser::rowIndex(Tok t, const char *what) const {
  if (hasObj_ && t.sv() == objName_) return kObjRow;
  int i = rowIdx_.find(t.sv());
  if (i < 0) fault("unknown row " + quoted(t.sv()) + " in " + what + " section");
  return i;
}

int MpsParser::colIndex(Tok t, const char *what) const {
  int j = colIdx_.find(t.sv());
  if (j < 0) fault("unknown column " + quoted(t.sv()) + " in " + what + " section");
  return j;
}

double MpsParser::number(Tok t, const char *what) const {
  double v;
  if (t.empty()) fault(std::string("missing value in ") + what + " section");
  if (!parseNumber(t, v)) fault("invalid number " + quoted(t.sv()) + " in " + what + " section");
  if (std::isnan(v)) fault(std::string("NaN value in ") + what + " section");
  if (v >= kInf) return kInf;
  if (v <= -kInf) return -kInf;
  return v;
}

double MpsParser::coefficient(Tok t, std::string_view col, std::string_view row) const {
  double v;
  if (t.empty()) fault("missing value for column " + quoted(col) + " in row " + quoted(row));
  if (!parseNumber(t, v)) fault("invalid number " + quoted(t.sv()) + " for column " + quoted(col));
  if (!std::isfinite(v) || std::fabs(v) >= kInf)
    fault("NaN or infinite coefficient " + quoted(t.sv()) + " for column " + quoted(col) + " in row " + quoted(row));
  return v;
}

void MpsParser::run(LineReader &in) {
  char *b, *e;
  try {
    while (in.next(b, e)) {
      line_ = in.line();
      if (b == e || *b == '*') continue;
      if (!isBlank(*b)) {
        header(b, e);
        if (sec_ == Sec::End) break;
        continue;
      }
      char *s = b;
      while (s < e && isBlank(*s)) ++s;
      if (s == e) continue;
      data(b, e);
    }
    line_ = in.line();
    if (sawEnd_) in.drain();
    if (in.failed()) fault(in.error());
    if (!sawEnd_) fault("the file ends without ENDATA");
    finish();
  } catch (Fault &f) {
    long ln = f.line ? f.line : line_;
    log_.error = (ln > 0 ? std::to_string(ln) + ": " : std::string(": ")) + f.text;
  }
}

void MpsParser::header(char *b, char *e) {
  Tok t[8];
  int nt = splitFree(b, e, t, 7);
  if (nt > 7) nt = 7;
  Tok k = t[0];
  if (fixed_ && nt >= 2) {  // names may hold blanks: the argument is the rest of the line
    t[1] = fixedField(b, e, size_t(t[1].p - b), size_t(e - b));
    nt = 2;
  }
  if (awaitSense_) fault("OBJSENSE without MIN or MAX");
  if (qrow_ >= 0) qrow_ = -1;
  if (k.is("NAME")) {
    sec_ = Sec::Name;
  } else if (k.is("OBJSENSE")) {
    sec_ = Sec::ObjSense;
    if (nt >= 2) objsense(t[1]);
    else awaitSense_ = true;
  } else if (k.is("ROWS")) {
    sec_ = Sec::Rows;
  } else if (k.is("COLUMNS")) {
    sec_ = Sec::Columns;
  } else if (k.is("RHS")) {
    sec_ = Sec::Rhs;
  } else if (k.is("RANGES")) {
    sec_ = Sec::Ranges;
  } else if (k.is("BOUNDS")) {
    sec_ = Sec::Bounds;
  } else if (k.is("SOS")) {
    sec_ = Sec::Sos;
  } else if (k.is("QUADOBJ") || k.is("QSECTION")) {
    if (k.is("QSECTION")) {
      if (nt < 2) fault("QSECTION without a row name");
      if (!(hasObj_ && t[1].sv() == objName_))
        fault("QSECTION is read for the objective row only; use QCMATRIX for row " + quoted(t[1].sv()));
    }
    if (qobjKind_ == 2) fault("both QMATRIX and QUADOBJ sections");
    qobjKind_ = 1;
    sec_ = Sec::QuadObj;
  } else if (k.is("QMATRIX")) {
    if (qobjKind_ == 1) fault("both QMATRIX and QUADOBJ sections");
    qobjKind_ = 2;
    sec_ = Sec::QMatrix;
  } else if (k.is("QCMATRIX")) {
    if (nt < 2) fault("QCMATRIX without a row name");
    int r = rowIndex(t[1], "QCMATRIX");
    if (r == kObjRow) fault("QCMATRIX on the objective row; use QMATRIX");
    grow(qrowDone_, m_.rows.size(), char(0));
    if (qrowDone_[size_t(r)]) fault("second QCMATRIX section for row " + quoted(t[1].sv()));
    qrowDone_[size_t(r)] = 1;
    qrow_ = r;
    sec_ = Sec::QcMatrix;
  } else if (k.is("INDICATORS")) {
    sec_ = Sec::Indicators;
  } else if (k.is("ENDATA")) {
    sec_ = Sec::End;
    sawEnd_ = true;
  } else {
    fault("unknown section " + quoted(k.sv()));
  }
}

Rec MpsParser::record(char *b, char *e) {
  Rec r;
  if (fixed_) {
    r.code = fixedField(b, e, 1, 3);
    r.name = fixedField(b, e, 4, 12);
    r.n1 = fixedField(b, e, 14, 22);
    r.v1 = fixedField(b, e, 24, 39);
    r.n2 = fixedField(b, e, 39, 47);
    r.v2 = fixedField(b, e, 49, 64);
    if (sec_ == Sec::Columns && r.n1.is("'MARKER'")) r.n2 = fixedField(b, e, 39, size_t(e - b));
    return r;
  }
  Tok t[8];
  int nt = splitFree(b, e, t, 6);
  auto bad = [&]() { fault(std::string("wrong number of fields in ") + secName(sec_) + " section"); };
  switch (sec_) {
    case Sec::Rows:
      if (nt != 2) bad();
      r.code = t[0];
      r.name = t[1];
      break;
    case Sec::Columns:
      if (nt >= 2 && t[1].is("'MARKER'")) {
        if (nt != 3) bad();
        r.name = t[0];
        r.n1 = t[1];
        r.n2 = t[2];
        break;
      }
      if (nt != 3 && nt != 5) bad();
      r.name = t[0];
      r.n1 = t[1];
      r.v1 = t[2];
      if (nt == 5) r.n2 = t[3], r.v2 = t[4];
      break;
    case Sec::Rhs:
    case Sec::Ranges: {
      if (nt < 2 || nt > 5) bad();
      int k = 0;
      if (nt % 2 == 1) r.name = t[k++];
      r.n1 = t[k];
      r.v1 = t[k + 1];
      if (nt - k == 4) r.n2 = t[k + 2], r.v2 = t[k + 3];
      break;
    }
    case Sec::Bounds: {
      if (nt < 2 || nt > 4) bad();
      r.code = t[0];
      if (nt == 4) {
        r.name = t[1], r.n1 = t[2], r.v1 = t[3];
      } else if (nt == 2) {
        r.n1 = t[1];
      } else {
        double v;
        bool valueless = r.code.is("FR") || r.code.is("MI") || r.code.is("PL");
        if (!valueless && parseNumber(t[2], v) && colIdx_.find(t[1].sv()) >= 0) r.n1 = t[1], r.v1 = t[2];
        else r.name = t[1], r.n1 = t[2];
      }
      break;
    }
    case Sec::QuadObj:
    case Sec::QMatrix:
    case Sec::QcMatrix:
      if (nt != 3) bad();
      r.name = t[0];
      r.n1 = t[1];
      r.v1 = t[2];
      break;
    case Sec::Indicators:
      if (nt != 4) bad();
      r.code = t[0];
      r.name = t[1];
      r.n1 = t[2];
      r.v1 = t[3];
      break;
    default:
      break;
  }
  return r;
}

void MpsParser::data(char *b, char *e) {
  if (sec_ == Sec::ObjSense || sec_ == Sec::Sos) {
    Tok t[8];
    int nt = splitFree(b, e, t, 4);
    if (sec_ == Sec::Sos) return sos(t, nt);
    if (!awaitSense_ || nt != 1) fault("unexpected line in OBJSENSE section");
    return objsense(t[0]);
  }
  if (sec_ == Sec::None || sec_ == Sec::Name) fault("data line outside a section");
  Rec r = record(b, e);
  switch (sec_) {
    case Sec::Rows: return rows(r);
    case Sec::Columns: return columns(r);
    case Sec::Rhs: return rhsRanges(r, false);
    case Sec::Ranges: return rhsRanges(r, true);
    case Sec::Bounds: return bounds(r);
    case Sec::QuadObj:
    case Sec::QMatrix:
    case Sec::QcMatrix: return quad(r);
    case Sec::Indicators: return indicator(r);
    default: return;
  }
}

void MpsParser::objsense(Tok t) {
  std::string s(t.sv());
  for (char &c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (s == "MAX" || s == "MAXIMIZE" || s == "MAXIMISE") m_.objsense = -1;
  else if (s == "MIN" || s == "MINIMIZE" || s == "MINIMISE") m_.objsense = 1;
  else fault("unknown objective sense " + quoted(t.sv()));
  awaitSense_ = false;
}

void MpsParser::rows(const Rec &r) {
  if (r.code.n != 1 || !std::strchr("NLGE", r.code.p[0]))
    fault("unknown row type " + quoted(r.code.sv()) + " in ROWS section");
  if (r.name.empty()) fault("row without a name in ROWS section");
  char type = r.code.p[0];
  if (type == 'N' && !hasObj_) {
    if (rowIdx_.find(r.name.sv()) >= 0) fault("row " + quoted(r.name.sv()) + " is defined twice");
    hasObj_ = true;
    objName_ = arena_.add(r.name.sv());
    return;
  }
  if (hasObj_ && r.name.sv() == objName_) fault("row " + quoted(r.name.sv()) + " is defined twice");
  std::string_view name = arena_.add(r.name.sv());
  int i = int(m_.rows.size());
  if (rowIdx_.insert(name, i) >= 0) fault("row " + quoted(r.name.sv()) + " is defined twice");
  rowNames_.push_back(name);
  Row row;
  row.type = type;
  m_.rows.push_back(row);
}

void MpsParser::columns(const Rec &r) {
  if (r.n1.is("'MARKER'")) {
    std::string_view s = r.n2.sv();
    if (s.find("'INTORG'") != std::string_view::npos) intMarker_ = true;
    else if (s.find("'INTEND'") != std::string_view::npos) intMarker_ = false;
    else fault("unknown marker " + quoted(s) + " in COLUMNS section");
    return;
  }
  if (r.name.empty()) fault("column without a name in COLUMNS section");
  if (cur_ < 0 || colNames_[size_t(cur_)] != r.name.sv()) {
    std::string_view name = arena_.add(r.name.sv());
    int j = int(m_.cols.size());
    if (colIdx_.insert(name, j) >= 0)
      fault("column " + quoted(r.name.sv()) + " appears again after other columns in COLUMNS section");
    colNames_.push_back(name);
    Column c;
    if (intMarker_) c.type = 'I';
    m_.cols.push_back(std::move(c));
    m_.matrix.resize(int(m_.cols.size()));
    cur_ = j;
    objCostGiven_ = false;
  }
  columnEntry(r.n1, r.v1);
  if (!r.n2.empty() || !r.v2.empty()) columnEntry(r.n2, r.v2);
}

void MpsParser::columnEntry(Tok row, Tok val) {
  std::string_view col = colNames_[size_t(cur_)];
  int i = rowIndex(row, "COLUMNS");
  double v = coefficient(val, col, row.sv());
  Column &c = m_.cols[size_t(cur_)];
  if (i == kObjRow) {
    if (objCostGiven_) fault("row " + quoted(row.sv()) + " is given twice for column " + quoted(col));
    objCostGiven_ = true;
    c.cost = v;
    return;
  }
  if (size_t(i) >= lastCol_.size()) grow(lastCol_, m_.rows.size(), -1);
  if (lastCol_[size_t(i)] == cur_) fault("row " + quoted(row.sv()) + " is given twice for column " + quoted(col));
  lastCol_[size_t(i)] = cur_;
  if (v != 0.0) m_.matrix.entries(cur_).push_back(Entry{i, v});
}

// Picks the first vector of a section; true when this record belongs to it.
bool MpsParser::useVector(Tok name, std::string &chosen, bool &seen, bool &warned, const char *what) {
  if (!seen) {
    seen = true;
    chosen.assign(name.p ? name.p : "", name.n);
    return true;
  }
  if (name.sv() == chosen) return true;
  if (!warned) {
    warned = true;
    warn(std::string("only the first ") + what + " vector " + quoted(chosen) + " is read; " + quoted(name.sv()) +
         " is skipped");
  }
  return false;
}

void MpsParser::rhsRanges(const Rec &r, bool ranges) {
  const char *what = ranges ? "RANGES" : "RHS";
  if (ranges ? !useVector(r.name, rngName_, rngSeen_, rngWarned_, what)
             : !useVector(r.name, rhsName_, rhsSeen_, rhsWarned_, what))
    return;
  growRhs();
  for (int k = 0; k < 2; ++k) {
    Tok rn = k ? r.n2 : r.n1, rv = k ? r.v2 : r.v1;
    if (k && rn.empty() && rv.empty()) break;
    if (rn.empty()) fault(std::string("missing row name in ") + what + " section");
    int i = rowIndex(rn, what);
    double v = number(rv, what);
    if (i == kObjRow) {
      if (ranges) warn("range on the objective row " + quoted(rn.sv()) + " is ignored");
      else m_.objconst = -v;
      continue;
    }
    std::vector<char> &given = ranges ? hasRng_ : hasRhs_;
    if (given[size_t(i)]) fault(std::string(what) + " value for row " + quoted(rn.sv()) + " is given twice");
    given[size_t(i)] = 1;
    if (m_.rows[size_t(i)].type == 'N') {
      if (ranges) warn("range on the free row " + quoted(rn.sv()) + " is ignored");
      continue;
    }
    (ranges ? rng_ : rhs_)[size_t(i)] = v;
  }
}

void MpsParser::bounds(const Rec &r) {
  if (!useVector(r.name, bndName_, bndSeen_, bndWarned_, "BOUNDS")) return;
  if (r.n1.empty()) fault("missing column name in BOUNDS section");
  int j = colIndex(r.n1, "BOUNDS");
  grow(lbGiven_, m_.cols.size(), char(0));
  Column &c = m_.cols[size_t(j)];
  std::string_view t = r.code.sv();
  auto upper = [&](double v) {
    if (v <= -kInf) fault("upper bound -infinity for column " + quoted(r.n1.sv()));
    c.ub = v;
    if (v < 0 && c.lb == 0.0 && !lbGiven_[size_t(j)]) {
      c.lb = -kInf;
      warn("upper bound of column " + quoted(r.n1.sv()) + " is negative: its lower bound becomes -infinity");
    }
  };
  auto lower = [&](double v) {
    if (v >= kInf) fault("lower bound +infinity for column " + quoted(r.n1.sv()));
    c.lb = v;
    lbGiven_[size_t(j)] = 1;
  };
  auto optional = [&]() { return r.v1.empty() ? kInf : number(r.v1, "BOUNDS"); };
  auto makeInt = [&]() {
    if (c.type == 'C') c.type = 'I';
  };
  if (t == "UP") upper(number(r.v1, "BOUNDS"));
  else if (t == "LO") lower(number(r.v1, "BOUNDS"));
  else if (t == "FX") {
    double v = number(r.v1, "BOUNDS");
    lower(v);
    upper(v);
  } else if (t == "FR") {
    lower(-kInf);
    c.ub = kInf;
  } else if (t == "MI") lower(-kInf);
  else if (t == "PL") c.ub = kInf;
  else if (t == "BV") {
    c.type = 'B';
    lower(0.0);
    c.ub = 1.0;
  } else if (t == "LI") {
    makeInt();
    lower(number(r.v1, "BOUNDS"));
  } else if (t == "UI") {
    makeInt();
    upper(number(r.v1, "BOUNDS"));
  } else if (t == "SC") {
    c.type = 'S';
    upper(optional());
  } else if (t == "SI") {
    c.type = 'R';
    upper(optional());
  } else fault("unknown bound type " + quoted(t) + " in BOUNDS section");
}

void MpsParser::sos(const Tok *t, int nt) {
  if (nt > 4) fault("wrong number of fields in SOS section");
  double w;
  bool head = (t[0].is("S1") || t[0].is("S2")) && (nt == 1 || !parseNumber(t[1], w));
  if (head) {
    Tok name;
    if (nt >= 3 && t[1].is("SOS")) name = t[2];
    else if (nt >= 2) name = t[1];
    Set s;
    s.type = t[0].p[1];
    set_ = int(m_.sets.size());
    m_.sets.push_back(std::move(s));
    std::string_view nm = name.empty() ? std::string_view() : arena_.add(name.sv());
    if (!nm.empty() && setIdx_.insert(nm, set_) >= 0) fault("set " + quoted(name.sv()) + " is defined twice");
    setNames_.push_back(nm);
    return;
  }
  if (set_ < 0) fault("SOS member before a set header (S1 or S2)");
  Tok col, wt;
  if (nt == 1) col = t[0];
  else if (nt == 2 && parseNumber(t[1], w)) col = t[0], wt = t[1];
  else if (nt == 2 || nt == 3) {
    if (t[0].sv() != setNames_[size_t(set_)]) fault("SOS member names set " + quoted(t[0].sv()) + " inside another set");
    col = t[1];
    if (nt == 3) wt = t[2];
  } else fault("wrong number of fields in SOS section");
  int j = colIndex(col, "SOS");
  Set &s = m_.sets[size_t(set_)];
  grow(lastSet_, m_.cols.size(), -1);
  if (lastSet_[size_t(j)] == set_) fault("column " + quoted(col.sv()) + " appears twice in one set");
  lastSet_[size_t(j)] = set_;
  double weight = wt.empty() ? double(s.cols.size() + 1) : number(wt, "SOS");
  if (std::fabs(weight) >= kInf) fault("infinite SOS weight for column " + quoted(col.sv()));
  s.cols.push_back(j);
  s.weights.push_back(weight);
}

void MpsParser::quad(const Rec &r) {
  const char *what = secName(sec_);
  if (r.name.empty() || r.n1.empty()) fault(std::string("missing column name in ") + what + " section");
  int i = colIndex(r.name, what), j = colIndex(r.n1, what);
  double v;
  if (!parseNumber(r.v1, v)) fault("invalid number " + quoted(r.v1.sv()) + " in " + what + " section");
  if (!std::isfinite(v) || std::fabs(v) >= kInf) fault("NaN or infinite coefficient " + quoted(r.v1.sv()) + " in " + what + " section");
  if (sec_ == Sec::QcMatrix) qrowRaw_.push_back(QRaw{qrow_, i, j, v, line_});
  else if (sec_ == Sec::QuadObj) qobjRaw_.push_back(QRaw{0, std::min(i, j), std::max(i, j), v, line_});
  else qobjRaw_.push_back(QRaw{0, i, j, v, line_});
}

void MpsParser::indicator(const Rec &r) {
  if (!r.code.is("IF")) fault("indicator line must start with IF");
  int i = rowIndex(r.name, "INDICATORS");
  if (i == kObjRow) fault("indicator on the objective row");
  int j = colIndex(r.n1, "INDICATORS");
  double v = number(r.v1, "INDICATORS");
  if (v != 0.0 && v != 1.0) fault("indicator value must be 0 or 1");
  inds_.push_back(Ind{i, j, v == 1.0 ? 1 : -1, line_});
}

// Sorts raw quadratic entries of one matrix (same row) and turns them into the triangle.
void toTriangle(std::vector<QRaw>::iterator b, std::vector<QRaw>::iterator e, bool full,
                std::vector<QTerm> &out, const std::vector<std::string_view> &cols) {
  // key: (min, max, lower-side flag)
  std::sort(b, e, [](const QRaw &x, const QRaw &y) {
    int xa = std::min(x.i, x.j), xb = std::max(x.i, x.j), ya = std::min(y.i, y.j), yb = std::max(y.i, y.j);
    if (xa != ya) return xa < ya;
    if (xb != yb) return xb < yb;
    return (x.i > x.j) < (y.i > y.j);
  });
  for (auto it = b; it != e;) {
    int a = std::min(it->i, it->j), c = std::max(it->i, it->j);
    double upper = 0.0, lower = 0.0;
    bool hasU = false, hasL = false;
    for (; it != e && std::min(it->i, it->j) == a && std::max(it->i, it->j) == c; ++it) {
      bool low = full && it->i > it->j;
      bool &has = low ? hasL : hasU;
      if (has) fault("quadratic entry for columns " + quoted(cols[size_t(it->i)]) + " and " + quoted(cols[size_t(it->j)]) + " is given twice", it->line);
      has = true;
      (low ? lower : upper) = it->v;
    }
    double v = (full && a != c) ? (upper + lower) / 2 : upper;
    if (v != 0.0) out.push_back(QTerm{a, c, v});
  }
}

void MpsParser::finishQuadratic() {
  if (!qobjRaw_.empty()) toTriangle(qobjRaw_.begin(), qobjRaw_.end(), qobjKind_ == 2, m_.qobj, colNames_);
  if (qrowRaw_.empty()) return;
  std::stable_sort(qrowRaw_.begin(), qrowRaw_.end(), [](const QRaw &x, const QRaw &y) { return x.row < y.row; });
  m_.qrows.assign(m_.rows.size(), {});
  for (auto it = qrowRaw_.begin(); it != qrowRaw_.end();) {
    auto e = it;
    while (e != qrowRaw_.end() && e->row == it->row) ++e;
    toTriangle(it, e, true, m_.qrows[size_t(it->row)], colNames_);
    it = e;
  }
}

void MpsParser::finishNames() {
  auto fill = [](NameSpace &ns, const std::vector<std::string_view> &names) {
    ns.names.assign(names.begin(), names.end());
  };
  fill(m_.names[1], rowNames_);
  fill(m_.names[2], colNames_);
  fill(m_.names[3], setNames_);
}

void MpsParser::finish() {
  // rows: right-hand sides and ranges give [lo, up]; the type follows from them
  growRhs();
  for (size_t i = 0; i < m_.rows.size(); ++i) {
    Row &row = m_.rows[i];
    if (row.type == 'N') continue;
    double r = rhs_[i], lo = r, up = r;
    if (row.type == 'L') lo = -kInf;
    if (row.type == 'G') up = kInf;
    if (hasRng_[i]) {
      double R = rng_[i];
      if (row.type == 'L') lo = r - std::fabs(R);
      else if (row.type == 'G') up = r + std::fabs(R);
      else if (R > 0) up = r + R;
      else lo = r + R;
    }
    double range;
    if (!rowFromRange(lo, up, row, range))
      fault("row " + quoted(rowNames_[i]) + " has an infinite right-hand side that no activity can meet");
    setRowRange(m_, i, range);
  }
  // columns: entries by row, semi-continuous limits
  auto byRow = [](const Entry &x, const Entry &y) { return x.index < y.index; };
  for (int j = 0; j < m_.matrix.ncols(); ++j) {
    std::vector<Entry> &e = m_.matrix.entries(j);
    if (!std::is_sorted(e.begin(), e.end(), byRow)) std::sort(e.begin(), e.end(), byRow);
  }
  for (size_t j = 0; j < m_.cols.size(); ++j)
    if (m_.cols[j].type == 'S' || m_.cols[j].type == 'R') setColLimit(m_, j, m_.cols[j].lb);
  finishQuadratic();
  if (!inds_.empty()) {
    m_.indicators.assign(m_.rows.size(), Indicator{});
    for (const Ind &d : inds_) {
      const Column &c = m_.cols[size_t(d.col)];
      bool binary = c.type == 'B' || (c.type == 'I' && c.lb >= 0.0 && c.ub <= 1.0);
      if (!binary) fault("indicator column " + quoted(colNames_[size_t(d.col)]) + " is not binary", d.line);
      char t = m_.rows[size_t(d.row)].type;
      if (t != 'L' && t != 'G' && t != 'E')
        fault("indicator row " + quoted(rowNames_[size_t(d.row)]) + " must be of type L, G or E", d.line);
      if (m_.indicators[size_t(d.row)].complement)
        fault("row " + quoted(rowNames_[size_t(d.row)]) + " has two indicators", d.line);
      m_.indicators[size_t(d.row)] = Indicator{d.col, d.val};
    }
  }
  finishNames();
}

}  // namespace

bool readMpsFile(const std::string &path, const std::string &shown, std::unique_ptr<ko_prob_struct> &out,
                 ReadLog &log) {
  // Free format first; a file it refuses is read again in fixed format, and the attempt that got
  // further gives the error.
  std::string firstError;
  long firstLine = -1;
  for (int pass = 0; pass < 2; ++pass) {
    LineReader in;
    if (!in.open(path, log.error)) return false;
    in.stopOnSigint(log.sigint);
    auto m = std::make_unique<ko_prob_struct>();
    ReadLog attempt;
    MpsParser parser(*m, attempt, pass == 1);
    parser.run(in);
    if (in.interrupted()) {
      log.error = shown + ": " + in.error();
      return false;
    }
    if (attempt.error.empty()) {
      out = std::move(m);
      log.warnings = std::move(attempt.warnings);
      return true;
    }
    long ln = std::strtol(attempt.error.c_str(), nullptr, 10);
    if (pass == 0) {
      firstError = attempt.error;
      firstLine = ln;
    } else if (ln > firstLine) {
      firstError = attempt.error;
    }
  }
  if (!firstError.empty() && firstError[0] == ':') log.error = shown + firstError;
  else log.error = shown + ":" + firstError;
  return false;
}

}  // namespace krvx
