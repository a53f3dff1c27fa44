// LP-format reader, plain or gzip, straight into the store. Lines come in large chunks (LineReader);
// tokens are cut in place and only names are copied, once, into an arena. No length limit anywhere.
//
// The file: an objective sense (minimize, minimise, maximize, maximise, min, max, minimum, maximum,
// any case) opens it; then sections in any order: subject to / such that / st / s.t., bounds,
// general(s) / gen / integer(s), binary / binaries / bin, semi-continuous / semi / semis, sos; end.
// A section keyword counts only at the start of a line. `\` starts a comment; statements run on
// over line ends. Any other text where a section must begin is an error naming its line.
//
// Conventions:
// - Columns are numbered in the order they first appear (objective, rows, bounds); the integer,
//   binary, semi-continuous and SOS sections name columns that already appeared.
// - A column given twice in one expression gets the sum; constants move to the right-hand side.
// - Quadratic terms stand in brackets: [ a x ^ 2 + b x * y ] / d. The objective is c'x + [ ... ] / 2,
//   rows use the bracket as it stands. Both give the store's triangles (Qii = a, Qij = b / 2 for
//   the objective with d = 2 and for rows with d = 1).
// - Rows: expr op rhs; lo op expr op up (both op <= or both >=); rhs op expr; indicator rows
//   b = 0|1 -> expr op rhs (b must be binary).
// - Binary columns are integers with their bounds cut to [0, 1]. A semi-continuous column's lower
//   bound is its limit; semi-continuous and integer make it semi-integer.
// - |v| >= 1e20 is infinite; infinite or NaN coefficients are refused.
#include "io/readprob.h"

#include "core/model.h"
#include "io/name_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace krvx {
namespace {

enum class T : uint8_t { Eof, Header, Name, Number, Colon, Plus, Minus, Times, Power, Slash, LBracket, RBracket,
                         Less, Greater, Equal, Arrow };
enum class Sec : uint8_t { None, Min, Max, Rows, Bounds, Generals, Binaries, Semis, Sos, End };

struct Token {
  T type = T::Eof;
  Sec sec = Sec::None;
  bool lineStart = false;  // first token of its line
  bool owned = false;      // text lives in `own` (its line is gone)
  double num = 0.0;
  long line = 0;
  std::string_view text;
  std::string own;
};

const char *secName(Sec s) {
  switch (s) {
    case Sec::Min: return "minimize";
    case Sec::Max: return "maximize";
    case Sec::Rows: return "subject to";
    case Sec::Bounds: return "bounds";
    case Sec::Generals: return "generals";
    case Sec::Binaries: return "binaries";
    case Sec::Semis: return "semi-continuous";
    case Sec::Sos: return "sos";
    default: return "end";
  }
}

// Characters that end a name: blanks, operators, brackets, ':' and the comment sign.
struct CharTable {
  bool stop[256] = {};
  CharTable() {
    for (unsigned char c : std::string_view(" \t\r\f\v+-*/^<>=:[]\\")) stop[c] = true;
    stop[0] = false;
  }
};
const CharTable kChars;

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool equalsLower(std::string_view s, const char *word) {
  size_t n = std::strlen(word);
  if (s.size() != n) return false;
  for (size_t k = 0; k < n; ++k)
    if (char(std::tolower(static_cast<unsigned char>(s[k]))) != word[k]) return false;
  return true;
}

bool isInfName(std::string_view s) { return equalsLower(s, "inf") || equalsLower(s, "infinity"); }
bool isNanName(std::string_view s) { return equalsLower(s, "nan"); }

// The section keyword a line starts with (after blanks), and where it ends.
Sec headerAt(const char *p, const char *e, const char *&after) {
  const char *s = p;
  while (p < e && (std::isalpha(static_cast<unsigned char>(*p)) || *p == '.' || *p == '-')) ++p;
  if (p == s || (p < e && !isBlank(*p) && *p != '\\')) return Sec::None;
  std::string_view w(s, size_t(p - s));
  after = p;
  auto second = [&](const char *word) {  // "subject to", "such that"
    const char *q = p;
    while (q < e && isBlank(*q)) ++q;
    const char *b = q;
    while (q < e && std::isalpha(static_cast<unsigned char>(*q))) ++q;
    if (q == b || (q < e && !isBlank(*q) && *q != '\\') || !equalsLower(std::string_view(b, size_t(q - b)), word))
      return false;
    after = q;
    return true;
  };
  static const struct {
    const char *word;
    Sec sec;
  } words[] = {{"min", Sec::Min}, {"minimize", Sec::Min}, {"minimise", Sec::Min}, {"minimum", Sec::Min},
               {"max", Sec::Max}, {"maximize", Sec::Max}, {"maximise", Sec::Max}, {"maximum", Sec::Max},
               {"st", Sec::Rows}, {"s.t.", Sec::Rows}, {"st.", Sec::Rows}, {"bounds", Sec::Bounds},
               {"bound", Sec::Bounds}, {"general", Sec::Generals}, {"generals", Sec::Generals},
               {"gen", Sec::Generals}, {"integer", Sec::Generals}, {"integers", Sec::Generals},
               {"binary", Sec::Binaries}, {"binaries", Sec::Binaries}, {"bin", Sec::Binaries},
               {"semi-continuous", Sec::Semis}, {"semi", Sec::Semis}, {"semis", Sec::Semis}, {"sos", Sec::Sos},
               {"end", Sec::End}};
  if (equalsLower(w, "subject")) return second("to") ? Sec::Rows : Sec::None;
  if (equalsLower(w, "such")) return second("that") ? Sec::Rows : Sec::None;
  for (const auto &k : words)
    if (equalsLower(w, k.word)) return k.sec;
  return Sec::None;
}

// Tokens with a few of lookahead. Tokens of the current line point into the reader's buffer; when
// a new line is read, the ones still held are copied.
class Lexer {
 public:
  explicit Lexer(LineReader &in) : in_(in) {}
  const Token &peek(int k = 0) {
    while (count_ <= k) lex(ring_[(head_ + count_) & 7]), ++count_;
    return ring_[(head_ + k) & 7];
  }
  // The next token; valid until the next take.
  const Token &take() {
    peek();
    std::swap(cur_, ring_[head_]);
    if (cur_.owned) cur_.text = cur_.own;
    head_ = (head_ + 1) & 7;
    --count_;
    return cur_;
  }
  long line() const { return line_; }

 private:
  void keep(Token &t) {
    if (t.owned || t.text.empty()) return;
    t.own.assign(t.text);
    t.text = t.own;
    t.owned = true;
  }
  bool nextLine() {
    keep(cur_);
    for (int k = 0; k < count_; ++k) keep(ring_[(head_ + k) & 7]);
    char *b, *e;
    if (!in_.next(b, e)) {
      if (in_.failed()) fault(in_.error(), in_.line() + 1);
      return false;
    }
    line_ = in_.line();
    p_ = b;
    e_ = e;
    lineStart_ = true;
    return true;
  }
  void lex(Token &t) {
    t.owned = false;
    t.text = {};
    for (;;) {
      while (p_ < e_ && isBlank(*p_)) ++p_;
      if (p_ < e_ && *p_ != '\\') break;
      if (eof_ || !nextLine()) {
        eof_ = true;
        t.type = T::Eof;
        t.line = line_;
        t.lineStart = true;
        return;
      }
    }
    t.line = line_;
    t.lineStart = lineStart_;
    if (lineStart_) {
      lineStart_ = false;
      const char *after;
      Sec s = headerAt(p_, e_, after);
      if (s != Sec::None) {
        t.type = T::Header;
        t.sec = s;
        t.text = std::string_view(p_, size_t(after - p_));
        p_ = const_cast<char *>(after);
        return;
      }
    }
    char *s = p_;
    char c = *p_++;
    auto next = [&](char want) {
      if (p_ < e_ && *p_ == want) return ++p_, true;
      return false;
    };
    switch (c) {
      case '+': t.type = T::Plus; break;
      case '-': t.type = next('>') ? T::Arrow : T::Minus; break;
      case '*': t.type = T::Times; break;
      case '^': t.type = T::Power; break;
      case '/': t.type = T::Slash; break;
      case '[': t.type = T::LBracket; break;
      case ']': t.type = T::RBracket; break;
      case ':': t.type = T::Colon; break;
      case '<': next('='); t.type = T::Less; break;
      case '>': next('='); t.type = T::Greater; break;
      case '=':
        t.type = next('<') ? T::Less : next('>') ? T::Greater : T::Equal;
        if (t.type == T::Equal) next('=');
        break;
      default:
        if (isDigit(c) || c == '.') {
          number(t, s);
          return;
        }
        while (p_ < e_ && !kChars.stop[static_cast<unsigned char>(*p_)]) ++p_;
        t.type = T::Name;
        break;
    }
    t.text = std::string_view(s, size_t(p_ - s));
  }
  void number(Token &t, char *s) {
    while (p_ < e_ && (isDigit(*p_) || *p_ == '.')) ++p_;
    if (p_ < e_ && (*p_ == 'e' || *p_ == 'E')) {
      char *q = p_ + 1;
      if (q < e_ && (*q == '+' || *q == '-')) ++q;
      if (q < e_ && isDigit(*q)) {
        while (q < e_ && isDigit(*q)) ++q;
        p_ = q;
      }
    }
    t.type = T::Number;
    t.text = std::string_view(s, size_t(p_ - s));
    auto r = std::from_chars(s, p_, t.num);
    if (r.ec == std::errc::result_out_of_range && r.ptr == p_) {
      std::string copy(t.text);  // overflow or underflow: strtod gives inf or 0
      t.num = std::strtod(copy.c_str(), nullptr);
    } else if (r.ec != std::errc() || r.ptr != p_) {
      fault("invalid number " + quoted(t.text), line_);
    }
  }

  LineReader &in_;
  char *p_ = nullptr, *e_ = nullptr;
  bool lineStart_ = false, eof_ = false;
  long line_ = 0;
  Token ring_[8];
  int head_ = 0, count_ = 0;
  Token cur_;
};

std::string describe(const Token &t) {
  switch (t.type) {
    case T::Eof: return "the end of the file";
    case T::Header: return "section keyword " + quoted(t.text);
    default: return quoted(t.text);
  }
}

[[noreturn]] void expected(const char *what, const Token &t) {
  fault(std::string("expected ") + what + ", found " + describe(t), t.line);
}

// A linear-quadratic expression being read; columns appear once in `lin`.
struct Expr {
  std::vector<std::pair<int, double>> lin;
  std::vector<QTerm> quad;
  double constant = 0.0;
  int lone = -1;  // the column of an expression that is one bare name at the start of a line
  long loneLine = 0;
  bool empty() const { return lin.empty() && quad.empty(); }
};

struct PendingIndicator {
  int row, col, complement;
  long line;
};

enum : uint8_t { kInt = 1, kBin = 2, kSemi = 4 };

class LpParser {
 public:
  LpParser(ko_prob_struct &m, LineReader &in) : m_(m), lex_(in) {}
  void run();

 private:
  int column(std::string_view name);
  int knownColumn(const Token &t, const char *section);
  void objective();
  void constraint();
  void bounds();
  void list(Sec sec);
  void sos();
  void finish();
  void expr(Expr &e, bool objective);
  void bracket(Expr &e, double sign, bool objective);
  void addLinear(Expr &e, int j, double v);
  double number(const char *what);
  double coefficient(double v, int j) const;
  // For an error after a name that stood alone at the start of a line: it was no section keyword.
  std::string notKeyword(int j, long line) const {
    return " (" + quoted(colNames_[size_t(j)]) + " on line " + std::to_string(line) + " is not a section keyword)";
  }
  bool atSectionEnd() { T t = lex_.peek().type; return t == T::Header || t == T::Eof; }
  static bool isRelation(T t) { return t == T::Less || t == T::Greater || t == T::Equal; }
  bool setHeaderAhead(int k) {
    const Token &s = lex_.peek(k);
    return s.type == T::Name && (equalsLower(s.text, "s1") || equalsLower(s.text, "s2")) &&
           lex_.peek(k + 1).type == T::Colon && lex_.peek(k + 2).type == T::Colon;
  }

  ko_prob_struct &m_;
  Lexer lex_;
  NameArena arena_;
  NameIndex colIdx_, rowIdx_, setIdx_;
  std::vector<std::string_view> colNames_, rowNames_, setNames_;
  std::vector<uint8_t> kind_;               // per column: kInt | kBin | kSemi
  std::vector<uint32_t> mark_;              // per column: stamp of the expression that holds it
  std::vector<int> pos_;                    //   and its place in that expression
  uint32_t stamp_ = 0;
  Expr e1_, e2_;
  std::vector<std::pair<int, std::vector<QTerm>>> qrows_;
  std::vector<PendingIndicator> inds_;
};

int LpParser::column(std::string_view name) {
  int j = colIdx_.find(name);
  if (j >= 0) return j;
  std::string_view n = arena_.add(name);
  j = int(m_.cols.size());
  if (j == INT32_MAX) fault("too many columns");
  colIdx_.insert(n, j);
  colNames_.push_back(n);
  m_.cols.emplace_back();
  m_.matrix.resize(int(m_.cols.size()));
  kind_.push_back(0);
  mark_.push_back(0);
  pos_.push_back(0);
  return j;
}

int LpParser::knownColumn(const Token &t, const char *section) {
  if (t.type != T::Name) expected("a column name", t);
  int j = colIdx_.find(t.text);
  if (j < 0)
    fault("unknown column " + quoted(t.text) + " in the " + section +
              " section (neither a column of the objective, rows or bounds nor a section keyword)",
          t.line);
  return j;
}

double LpParser::coefficient(double v, int j) const {
  if (!std::isfinite(v) || std::fabs(v) >= kInf)
    fault("coefficient of column " + quoted(colNames_[size_t(j)]) + " is not finite");
  return v;
}

// A signed number, inf or infinity.
double LpParser::number(const char *what) {
  double sign = 1.0;
  for (T t = lex_.peek().type; t == T::Plus || t == T::Minus; t = lex_.peek().type)
    if (lex_.take().type == T::Minus) sign = -sign;
  const Token &t = lex_.peek();
  double v;
  if (t.type == T::Number) v = t.num;
  else if (t.type == T::Name && isInfName(t.text)) v = kInf;
  else if (t.type == T::Name && isNanName(t.text)) fault("value " + quoted(t.text) + " is not finite", t.line);
  else expected(what, t);
  lex_.take();
  v *= sign;
  return v >= kInf ? kInf : v <= -kInf ? -kInf : v;
}

void LpParser::addLinear(Expr &e, int j, double v) {
  if (mark_[size_t(j)] == stamp_) {
    e.lin[size_t(pos_[size_t(j)])].second += v;
    return;
  }
  mark_[size_t(j)] = stamp_;
  pos_[size_t(j)] = int(e.lin.size());
  e.lin.emplace_back(j, v);
}

// [signs] [number] [name] terms joined by + and -, and bracketed quadratic parts.
void LpParser::expr(Expr &e, bool objective) {
  e.lin.clear();
  e.quad.clear();
  e.constant = 0.0;
  e.lone = -1;
  ++stamp_;
  for (bool first = true;; first = false) {
    double sign = 1.0;
    bool signed_ = false;
    for (T t = lex_.peek().type; t == T::Plus || t == T::Minus; t = lex_.peek().type, signed_ = true)
      if (lex_.take().type == T::Minus) sign = -sign;
    const Token &t = lex_.peek();
    if (!signed_ && (!first || (t.type != T::Number && t.type != T::Name && t.type != T::LBracket))) return;
    if (t.type == T::LBracket) {
      lex_.take();
      bracket(e, sign, objective);
      continue;
    }
    double v = 1.0;
    const Token *num = nullptr;  // the coefficient's token (valid until the next take)
    if (t.type == T::Number) {
      v = t.num;
      num = &lex_.take();
    } else if (t.type == T::Name && (isNanName(t.text) || isInfName(t.text)) && lex_.peek(1).type == T::Name) {
      fault("coefficient " + quoted(t.text) + " is not finite", t.line);
    }
    const Token &n = lex_.peek();
    if (n.type == T::Name && !isInfName(n.text) && !isNanName(n.text)) {
      bool lone = first && !signed_ && !num && n.lineStart;
      long line = n.line;
      int j = column(n.text);
      lex_.take();
      addLinear(e, j, sign * coefficient(v, j));
      if (lone) e.lone = j, e.loneLine = line;
      T after = lex_.peek().type;
      if (after == T::Power || after == T::Times)
        fault("quadratic term outside brackets: write [ ... ]", lex_.peek().line);
    } else if (num) {
      if (!std::isfinite(v) || std::fabs(v) >= kInf) fault("constant " + quoted(num->text) + " is not finite", num->line);
      e.constant += sign * v;
    } else if (n.type == T::Name) {
      fault("value " + quoted(n.text) + " is not finite in an expression", n.line);
    } else {
      expected("a number, a column name or '['", n);
    }
  }
}

// [ a x ^ 2 + b x * y ... ] [/ d]; the opening bracket is taken.
void LpParser::bracket(Expr &e, double sign, bool objective) {
  size_t start = e.quad.size();
  std::vector<char> diag;
  for (bool first = true;; first = false) {
    if (lex_.peek().type == T::RBracket) {
      lex_.take();
      break;
    }
    double s = 1.0;
    bool signed_ = false;
    for (T t = lex_.peek().type; t == T::Plus || t == T::Minus; t = lex_.peek().type, signed_ = true)
      if (lex_.take().type == T::Minus) s = -s;
    if (!first && !signed_) expected("'+', '-' or ']' in the quadratic part", lex_.peek());
    double v = 1.0;
    if (lex_.peek().type == T::Number) v = lex_.take().num;
    const Token &a = lex_.peek();
    if (a.type != T::Name || isInfName(a.text) || isNanName(a.text)) expected("a column name in the quadratic part", a);
    int i = column(a.text);
    lex_.take();
    v = coefficient(v, i);
    int j = i;
    const Token &op = lex_.peek();
    if (op.type == T::Power) {
      lex_.take();
      const Token &two = lex_.peek();
      if (two.type != T::Number || two.num != 2.0) expected("the exponent 2", two);
      lex_.take();
    } else if (op.type == T::Times) {
      lex_.take();
      const Token &b = lex_.peek();
      if (b.type != T::Name || isInfName(b.text) || isNanName(b.text)) expected("a column name after '*'", b);
      j = column(b.text);
      lex_.take();
    } else {
      expected("'^ 2' or '* column' in a quadratic term", op);
    }
    e.quad.push_back(QTerm{std::min(i, j), std::max(i, j), s * v});
  }
  double divisor = 1.0;
  if (lex_.peek().type == T::Slash) {
    long line = lex_.take().line;
    divisor = number("a divisor after '/'");
    if (divisor == 0.0 || std::fabs(divisor) >= kInf) fault("the divisor of a quadratic part must be a finite non-zero number", line);
  }
  // objective c'x + 1/2 x'Qx, rows x'Qx: off-diagonal entries carry half the term
  double f = sign * (objective ? 2.0 : 1.0) / divisor;
  for (size_t k = start; k < e.quad.size(); ++k) {
    QTerm &q = e.quad[k];
    q.value *= q.i == q.j ? f : f / 2;
    if (!std::isfinite(q.value) || std::fabs(q.value) >= kInf) fault("quadratic coefficient is not finite");
  }
}

void LpParser::objective() {
  if (lex_.peek().type == T::Name && lex_.peek(1).type == T::Colon) lex_.take(), lex_.take();
  expr(e1_, true);
  for (const auto &t : e1_.lin) m_.cols[size_t(t.first)].cost += t.second;
  m_.objconst = e1_.constant;
  m_.qobj = e1_.quad;
  normalizeTerms(m_.qobj);
  if (!atSectionEnd()) expected("'+', '-' or a section keyword after the objective", lex_.peek());
}

void LpParser::constraint() {
  std::string_view label;
  long labelLine = lex_.peek().line;
  if (lex_.peek().type == T::Name && lex_.peek(1).type == T::Colon) {
    label = arena_.add(lex_.take().text);
    lex_.take();
  }
  expr(e1_, false);
  auto relation = [&](const Expr &before) -> T {
    const Token &t = lex_.peek();
    if (isRelation(t.type)) return lex_.take().type;
    std::string why = "expected '<=', '>=' or '=' after the expression, found " + describe(t);
    if (before.lone >= 0 && before.lin.size() == 1 && before.quad.empty())
      why += notKeyword(before.lone, before.loneLine);
    fault(why, t.line);
  };
  T op = relation(e1_);
  double lo = -kInf, up = kInf;
  Expr *body = &e1_;
  int indicatorCol = -1, complement = 0;
  long line = lex_.peek().line;
  if (e1_.empty()) {  // lo <= expr [<= up], or rhs >= expr
    double c = e1_.constant;
    expr(e2_, false);
    body = &e2_;
    if (e2_.empty()) fault("expected an expression with columns after the relation", line);
    (op == T::Less ? lo : op == T::Greater ? up : lo) = c;
    if (op == T::Equal) up = c;
    if (isRelation(lex_.peek().type)) {
      const Token &t = lex_.take();
      if (t.type != op || op == T::Equal) fault("a ranged row takes '<=' twice or '>=' twice", t.line);
      (op == T::Less ? up : lo) = number("a number after the relation");
    }
  } else {
    double rhs = number("a number after the relation");
    if (op == T::Equal && lex_.peek().type == T::Arrow) {  // indicator: b = 0|1 -> row
      long at = lex_.take().line;
      if (e1_.lin.size() != 1 || e1_.lin[0].second != 1.0 || !e1_.quad.empty() || e1_.constant != 0.0)
        fault("an indicator starts with one column: b = 0 -> ... or b = 1 -> ...", at);
      if (rhs != 0.0 && rhs != 1.0) fault("an indicator value must be 0 or 1", at);
      indicatorCol = e1_.lin[0].first;
      complement = rhs == 1.0 ? 1 : -1;
      expr(e2_, false);
      body = &e2_;
      if (e2_.empty()) fault("expected an expression with columns after '->'", at);
      op = relation(e2_);
      rhs = number("a number after the relation");
    }
    if (op != T::Greater) up = rhs;
    if (op != T::Less) lo = rhs;
  }
  Row row;
  double range;
  if (!rowFromRange(lo - body->constant, up - body->constant, row, range) || (row.type == 'R' && range < 0))
    fault("row limits that no activity can meet", line);
  int i = int(m_.rows.size());
  if (i == INT32_MAX) fault("too many rows");
  if (!label.empty() && rowIdx_.insert(label, i) >= 0)
    fault("row " + quoted(label) + " is defined twice", labelLine);
  m_.rows.push_back(row);
  setRowRange(m_, size_t(i), range);
  rowNames_.push_back(label);
  for (const auto &t : body->lin) {
    if (t.second == 0.0) continue;
    m_.matrix.entries(t.first).push_back(Entry{i, t.second});
  }
  if (!body->quad.empty()) {
    qrows_.emplace_back(i, body->quad);
    normalizeTerms(qrows_.back().second);
  }
  if (indicatorCol >= 0) {
    if (row.type != 'L' && row.type != 'G' && row.type != 'E')
      fault("an indicator row must be one-sided or an equation", line);
    inds_.push_back(PendingIndicator{i, indicatorCol, complement, line});
  }
}

void LpParser::bounds() {
  while (!atSectionEnd()) {
    const Token &t = lex_.peek();
    auto apply = [&](int j, T op, double v, bool columnFirst, long line) {
      Column &c = m_.cols[size_t(j)];
      // column first: x <= v is an upper bound; value first: v <= x a lower one
      bool upper = (op == T::Less) == columnFirst;
      if (op == T::Equal || !upper) {
        if (v >= kInf) fault("lower bound +infinity for column " + quoted(colNames_[size_t(j)]), line);
        c.lb = v;
      }
      if (op == T::Equal || upper) {
        if (v <= -kInf) fault("upper bound -infinity for column " + quoted(colNames_[size_t(j)]), line);
        c.ub = v;
      }
    };
    if (t.type == T::Name && !isInfName(t.text) && !isNanName(t.text)) {
      bool lone = t.lineStart;
      long line = t.line;
      int j = column(t.text);
      lex_.take();
      const Token &op = lex_.peek();
      if (op.type == T::Name && equalsLower(op.text, "free")) {
        lex_.take();
        m_.cols[size_t(j)].lb = -kInf;
        m_.cols[size_t(j)].ub = kInf;
        continue;
      }
      if (!isRelation(op.type)) {
        std::string why = "expected '<=', '>=', '=' or 'free' after the column, found " + describe(op);
        if (lone) why += notKeyword(j, line);
        fault(why, op.line);
      }
      T rel = op.type;
      lex_.take();
      apply(j, rel, number("a bound value"), true, line);
      continue;
    }
    double v = number("a column name or a bound value");
    const Token &op = lex_.peek();
    if (!isRelation(op.type)) expected("'<=', '>=' or '=' after the bound value", op);
    T rel = op.type;
    lex_.take();
    const Token &n = lex_.peek();
    if (n.type != T::Name || isInfName(n.text) || isNanName(n.text)) expected("a column name", n);
    long line = n.line;
    int j = column(n.text);
    lex_.take();
    apply(j, rel, v, false, line);
    if (isRelation(lex_.peek().type)) {
      const Token &second = lex_.take();
      if (second.type != rel || rel == T::Equal) fault("a double bound takes '<=' twice or '>=' twice", second.line);
      apply(j, rel, number("a bound value"), true, line);
    }
  }
}

void LpParser::list(Sec sec) {
  uint8_t bit = sec == Sec::Generals ? kInt : sec == Sec::Binaries ? kBin : kSemi;
  while (!atSectionEnd()) {
    int j = knownColumn(lex_.peek(), secName(sec));
    lex_.take();
    kind_[size_t(j)] |= bit;
  }
}

// [name:] S1:: col:weight col:weight ...  (or S2::); a weight left out is the member's position
void LpParser::sos() {
  int set = -1;
  long setLine = 0;
  std::vector<int> lastSet(m_.cols.size(), -1);
  auto close = [&]() {
    if (set >= 0 && m_.sets[size_t(set)].cols.empty())
      fault("set " + quoted(setNames_[size_t(set)]) + " has no members", setLine);
  };
  while (!atSectionEnd()) {
    const Token &t = lex_.peek();
    bool named = t.type == T::Name && lex_.peek(1).type == T::Colon && setHeaderAhead(2);
    if (named || setHeaderAhead(0)) {
      close();
      setLine = t.line;
      std::string_view name;
      if (named) {
        name = arena_.add(t.text);
        lex_.take();
        lex_.take();
      }
      Set s;
      s.type = lex_.take().text[1];
      lex_.take();
      lex_.take();
      set = int(m_.sets.size());
      if (!name.empty() && setIdx_.insert(name, set) >= 0) fault("set " + quoted(name) + " is defined twice", setLine);
      m_.sets.push_back(std::move(s));
      setNames_.push_back(name);
      continue;
    }
    if (set < 0) expected("a set such as 's1: S1:: x:1 y:2'", t);
    int j = knownColumn(t, "sos");
    long line = t.line;
    lex_.take();
    Set &s = m_.sets[size_t(set)];
    double w = double(s.cols.size() + 1);
    if (lex_.peek().type == T::Colon) {
      lex_.take();
      w = number("a weight after ':'");
      if (std::fabs(w) >= kInf) fault("infinite weight in a set", line);
    }
    if (lastSet[size_t(j)] == set) fault("column " + quoted(colNames_[size_t(j)]) + " appears twice in one set", line);
    lastSet[size_t(j)] = set;
    s.cols.push_back(j);
    s.weights.push_back(w);
  }
  close();
}

void LpParser::finish() {
  for (size_t j = 0; j < m_.cols.size(); ++j) {
    Column &c = m_.cols[j];
    uint8_t k = kind_[j];
    if (k & kSemi) {
      c.type = (k & (kInt | kBin)) ? 'R' : 'S';
      setColLimit(m_, j, c.lb);
    } else if (k & kBin) {
      c.type = 'B';
      c.lb = std::max(c.lb, 0.0);
      c.ub = std::min(c.ub, 1.0);
    } else if (k & kInt) {
      c.type = 'I';
    }
  }
  if (!qrows_.empty()) {
    m_.qrows.assign(m_.rows.size(), {});
    for (auto &q : qrows_) m_.qrows[size_t(q.first)] = std::move(q.second);
  }
  if (!inds_.empty()) {
    m_.indicators.assign(m_.rows.size(), Indicator{});
    for (const PendingIndicator &d : inds_) {
      const Column &c = m_.cols[size_t(d.col)];
      if (!(c.type == 'B' || (c.type == 'I' && c.lb >= 0.0 && c.ub <= 1.0)))
        fault("indicator column " + quoted(colNames_[size_t(d.col)]) + " is not binary", d.line);
      m_.indicators[size_t(d.row)] = Indicator{d.col, d.complement};
    }
  }
  m_.names[1].names.assign(rowNames_.begin(), rowNames_.end());
  m_.names[2].names.assign(colNames_.begin(), colNames_.end());
  m_.names[3].names.assign(setNames_.begin(), setNames_.end());
}

void LpParser::run() {
  const Token &first = lex_.peek();
  if (first.type != T::Header || (first.sec != Sec::Min && first.sec != Sec::Max))
    expected("the objective sense (minimize or maximize) to open the file", first);
  m_.objsense = lex_.take().sec == Sec::Max ? -1 : 1;
  objective();
  for (;;) {
    const Token &t = lex_.peek();
    if (t.type == T::Eof) fault("the file ends without 'end' (truncated?)", t.line);
    Sec sec = t.sec;
    long line = lex_.take().line;
    switch (sec) {
      case Sec::Min:
      case Sec::Max: fault("a second objective section: only one objective is read", line);
      case Sec::Rows:
        while (!atSectionEnd()) constraint();
        break;
      case Sec::Bounds: bounds(); break;
      case Sec::Generals:
      case Sec::Binaries:
      case Sec::Semis: list(sec); break;
      case Sec::Sos: sos(); break;
      default:
        if (lex_.peek().type != T::Eof) expected("nothing after 'end'", lex_.peek());
        finish();
        return;
    }
  }
}

}  // namespace

bool readLpFile(const std::string &path, const std::string &shown, std::unique_ptr<ko_prob_struct> &out,
                ReadLog &log) {
  LineReader in;
  if (!in.open(path, log.error)) return false;
  in.stopOnSigint(log.sigint);
  auto m = std::make_unique<ko_prob_struct>();
  try {
    LpParser parser(*m, in);
    parser.run();
  } catch (Fault &f) {
    if (in.interrupted()) {
      log.error = shown + ": " + in.error();
      return false;
    }
    long line = f.line ? f.line : in.line();
    log.error = shown + ":" + std::to_string(line) + ": " + f.text;
    return false;
  }
  out = std::move(m);
  return true;
}

}  // namespace krvx
