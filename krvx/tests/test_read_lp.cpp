// LP-format files: every section and spelling, error texts with their lines, names of any length,
// damaged plain and compressed files, and write-then-read round trips of every shared data file.
#include "store_check.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

// Counts a failure and leaves the test function.
#define EXPECT_OR_RETURN(cond) do { EXPECT(cond); if (!(cond)) return; } while (0)

namespace {

const char *kAll = R"(\ every construct of the format
MAXIMISE
 profit: 3 x + 2 y - z \ a comment after a term
   + 0.5 w + [ 4 x ^ 2 - 2 x * y + y*x ] / 2 + 7 - 2
such that
 c1: x + y + x <= 10
 c2: -5 <= x - y <= 8
 c3: 2 >= z
 c4: 4 <= w + z
 c5: x + [ x^2 + 3 y * z ] >= -1
 c6: b = 0 -> x + w >= 2
 -x
   - y >= -20
 c8: z + 3 = 7
Bounds
 x <= 6
 -inf <= y <= 5
 z >= -3
 w free
 2 <= s <= 9
 4 >= t
 t >= 1
 u = 4
 k >= -2
 n <= 7
Integers
 n k
Binary
 b
Semi
 s t
Gen
 t
SOS
 set1: S1:: x:1 y:2.5
 S2:: s:3 t:1
   n
End
)";

void checkAll(const ko_prob_struct &p) {
  EXPECT(p.objsense == -1 && p.objconst == 5);
  EXPECT_OR_RETURN(p.cols.size() == 10 && p.rows.size() == 8);
  int x = colIndex(p, "x"), y = colIndex(p, "y"), z = colIndex(p, "z"), w = colIndex(p, "w"), b = colIndex(p, "b"),
      s = colIndex(p, "s"), t = colIndex(p, "t"), u = colIndex(p, "u"), k = colIndex(p, "k"), n = colIndex(p, "n");
  EXPECT(x == 0 && y == 1 && z == 2 && w == 3 && b == 4 && s == 5 && n == 9);  // order of first appearance
  auto col = [&](int j) { return p.cols[size_t(j)]; };
  EXPECT(col(x).cost == 3 && col(y).cost == 2 && col(z).cost == -1 && col(w).cost == 0.5 && col(b).cost == 0);
  EXPECT(p.qobj.size() == 2 && qval(p.qobj, x, x) == 4 && qval(p.qobj, x, y) == -0.5);
  auto row = [&](const char *name) { return p.rows[size_t(rowIndex(p, name))]; };
  EXPECT(row("c1").type == 'L' && row("c1").rhs == 10 && coef(p, rowIndex(p, "c1"), x) == 2);
  EXPECT(row("c2").type == 'R' && row("c2").rhs == 8 && krvx::rowRange(p, size_t(rowIndex(p, "c2"))) == 13 && coef(p, 1, y) == -1);
  for (auto [name, type, rhs] : {std::tuple{"c3", 'L', 2.0}, {"c4", 'G', 4.0}, {"c5", 'G', -1.0}, {"c6", 'G', 2.0}})
    EXPECT(row(name).type == type && row(name).rhs == rhs);
  EXPECT(p.rows[6].type == 'G' && p.rows[6].rhs == -20 && coef(p, 6, y) == -1);
  EXPECT(p.names[1].names[6].empty() || p.names[1].names[6] == "R7");  // unnamed, or so named by the writer
  EXPECT(row("c8").type == 'E' && row("c8").rhs == 4);
  EXPECT_OR_RETURN(p.qrows.size() == 8 && p.indicators.size() == 8);
  EXPECT(p.qrows[4].size() == 2 && qval(p.qrows[4], x, x) == 1 && qval(p.qrows[4], y, z) == 1.5);
  EXPECT(p.qrows[0].empty() && p.indicators[5].col == b && p.indicators[5].complement == -1);
  EXPECT(col(x).lb == 0 && col(x).ub == 6 && col(y).lb <= -krvx::kInf && col(y).ub == 5);
  EXPECT(col(z).lb == -3 && col(z).ub >= krvx::kInf && col(w).lb <= -krvx::kInf && col(w).ub >= krvx::kInf);
  EXPECT(col(s).type == 'S' && col(s).lb == 2 && col(s).ub == 9 && krvx::colLimit(p, size_t(s)) == 2);
  EXPECT(col(t).type == 'R' && col(t).lb == 1 && col(t).ub == 4 && krvx::colLimit(p, size_t(t)) == 1);
  EXPECT(col(u).lb == 4 && col(u).ub == 4 && col(u).type == 'C');
  EXPECT(col(k).type == 'I' && col(k).lb == -2 && col(n).type == 'I' && col(n).ub == 7);
  EXPECT(col(b).type == 'B' && col(b).lb == 0 && col(b).ub == 1);
  EXPECT_OR_RETURN(p.sets.size() == 2);
  EXPECT(p.sets[0].type == '1' && p.sets[0].cols == (std::vector<int>{x, y}) &&
         p.sets[0].weights == (std::vector<double>{1, 2.5}));
  EXPECT(p.sets[1].type == '2' && p.sets[1].cols == (std::vector<int>{s, t, n}) &&
         p.sets[1].weights == (std::vector<double>{3, 1, 3}));
  EXPECT(p.names[3].names[0] == "set1" && (p.names[3].names[1].empty() || p.names[3].names[1] == "S2"));
}

void collect(KRVXprob, void *data, const char *msg, int len, int) {
  static_cast<std::string *>(data)->append(msg, size_t(len)).append("\n");
}

// Writes p as LP (path decides plain or gzip), reads it back and compares; names unless renamed.
void roundTrip(ko_prob_struct &p, const std::string &file) {
  std::string path = tmpdir + "/" + file, messages;
  KRVXaddmessagehandler(&p, collect, &messages);
  EXPECT_OK(&p, KRVXwriteprob(&p, path.c_str(), ""));
  KRVXremovemessagehandler(&p, collect, &messages);
  ko_prob_struct q;
  EXPECT_OK(&q, KRVXreadprob(&q, path.c_str(), "v"));
  checkSame(p, q, file.c_str(), !contains(messages, "default names"));
}

void testAllSections() {
  ko_prob_struct p;
  EXPECT_OK(&p, KRVXreadprob(&p, writeFile("all.lp", kAll).c_str(), ""));
  checkAll(p);
  roundTrip(p, "all_rt.lp");
  roundTrip(p, "all_rt.lp.gz");
  ko_prob_struct empty;
  roundTrip(empty, "empty.lp");
  // a binary with bounds beyond [0, 1] stays binary, its bounds cut as a solve cuts them
  ko_prob_struct wide, back;
  wide.cols.resize(2);
  wide.matrix.resize(2);
  wide.cols[0].type = wide.cols[1].type = 'B';
  wide.cols[0].lb = -3, wide.cols[0].ub = 5, wide.cols[1].lb = 1;
  EXPECT_OK(&wide, KRVXwriteprob(&wide, (tmpdir + "/wide.lp").c_str(), ""));
  EXPECT_OK(&back, KRVXreadprob(&back, (tmpdir + "/wide.lp").c_str(), ""));
  EXPECT(back.cols.size() == 2 && back.cols[0].type == 'B' && back.cols[0].lb == 0 && back.cols[0].ub == 1 &&
         back.cols[1].type == 'B' && back.cols[1].lb == 1 && back.cols[1].ub == 1);
  ko_prob_struct q;  // our own output, read again, is the same store
  EXPECT_OK(&q, KRVXreadprob(&q, (tmpdir + "/all_rt.lp.gz").c_str(), ""));
  checkAll(q);
}

// Every spelling of the senses and section keywords, in any case.
void testSpellings() {
  std::mt19937 rng(7);
  auto anyCase = [&](std::string s) {
    for (char &c : s) c = char(rng() % 2 ? std::toupper(static_cast<unsigned char>(c)) : c);
    return s;
  };
  const char *mins[] = {"minimize", "minimise", "minimum", "min"}, *maxs[] = {"maximize", "maximise", "maximum", "max"};
  const char *rows[] = {"subject to", "such that", "st", "s.t."}, *semis[] = {"semi-continuous", "semi", "semis"};
  const char *gens[] = {"general", "generals", "gen", "integer", "integers"}, *bins[] = {"binary", "binaries", "bin"};
  for (int k = 0; k < 48; ++k) {
    bool max = k % 2;
    std::string text = anyCase(max ? maxs[k / 2 % 4] : mins[k / 2 % 4]) + "\n obj: x + y + z\n" +
                       anyCase(rows[k % 4]) + "\n c: x + y <= 4\n" + anyCase(k % 3 ? "bounds" : "bound") +
                       "\n z <= 5\n" + anyCase(gens[k % 5]) + "\n x\n" + anyCase(bins[k % 3]) + "\n y\n" +
                       anyCase(semis[k % 3]) + "\n z\n" + anyCase("end") + "\n";
    ko_prob_struct p;
    EXPECT_OK(&p, KRVXreadprob(&p, writeFile("spell.lp", text).c_str(), ""));
    EXPECT(p.objsense == (max ? -1 : 1) && p.rows.size() == 1 && p.cols.size() == 3);
    if (p.cols.size() == 3) EXPECT(p.cols[0].type == 'I' && p.cols[1].type == 'B' && p.cols[2].type == 'S');
  }
}

void testErrors() {
  struct Case {
    const char *text, *part;
  } cases[] = {
      {"Minimize\n obj: x + y\nSubjet to\n c1: x + y <= 3\nEnd\n",
       "t.lp:3: expected '+', '-' or a section keyword after the objective, found 'Subjet'"},
      {"\\ comment\nMaximze\n obj: x\nEnd\n", "t.lp:2: expected the objective sense"},
      {"Minimize\n obj: x\nSubject To\n c1: x <= 3\nBonds\n x <= 4\nEnd\n", "t.lp:6:"},
      {"Minimize\n obj: x\nSubject To\n c1: x <= 3\nBonds\n x <= 4\nEnd\n", "'Bonds' on line 5 is not a section"},
      {"Minimize\n obj: x\nSubject To\n c1: x <= 3\nGenerals\n x\nBinries\n x\nEnd\n",
       "t.lp:7: unknown column 'Binries' in the generals section"},
      {"Minimize\n obj: x\nSubject To\n c1: x + y\n <=\nEnd\n", "t.lp:6: expected a number after the relation"},
      {"Minimize\n obj: x\nBounds\n x <= abc\nEnd\n", "t.lp:4: expected a bound value, found 'abc'"},
      {"Minimize\n obj: x\nBounds\n x <= 1\nGenrals\n x\nEnd\n", "t.lp:6: expected '<=', '>=', '=' or 'free' "
       "after the column, found 'x' ('Genrals' on line 5 is not a section keyword)"},
      {"Minimize\n obj: x\nBounds\n x >= inf\nEnd\n", "t.lp:4: lower bound +infinity"},
      {"Minimize\n obj: x\nSubject To\n r: -5 <= x >= 3\nEnd\n", "t.lp:4: a ranged row"},
      {"Minimize\n obj: x\nSubject To\n r: 3 <= x <= 1\nEnd\n", "t.lp:4: row limits that no activity"},
      {"Minimize\n obj: x ^ 2\nEnd\n", "t.lp:2: quadratic term outside brackets"},
      {"Minimize\n obj: x\nSubject To\n c: x + [ x * ] <= 1\nEnd\n", "t.lp:4: expected a column name after '*'"},
      {"Minimize\n obj: x\nSubject To\n c: x <= 1\n c: x >= 0\nEnd\n", "t.lp:5: row 'c' is defined twice"},
      {"Minimize\n obj: x + y\nSubject To\n c: y = 1 -> x <= 1\nEnd\n", "t.lp:4: indicator column 'y' is not binary"},
      {"Minimize\n obj: x\nSOS\n s1: S1::\n s2: S2:: x:1\nEnd\n", "t.lp:4: set 's1' has no members"},
      {"Minimize\n obj: x\nSOS\n s: S1:: x:1 q:2\nEnd\n", "t.lp:4: unknown column 'q' in the sos section"},
      {"Minimize\n obj: x\nSubject To\n c: x <= 1\n", "ends without 'end'"},
      {"Minimize\n obj: x\nEnd\n x\n", "t.lp:4: expected nothing after 'end'"},
      {"Minimize\n obj: 1.2.3 x\nEnd\n", "t.lp:2: invalid number '1.2.3'"},
      {"Minimize\n obj: 1e30 x\nEnd\n", "t.lp:2: coefficient of column 'x' is not finite"},
      {"Minimize\n obj: x\nMaximize\n obj: y\nEnd\n", "t.lp:3: a second objective section"},
      {"", "t.lp:0: expected the objective sense (minimize or maximize) to open the file, found the end"},
      {"Minimize\n obj: x\nBounds\n x <= nan\nEnd\n", "t.lp:4: value 'nan' is not finite"},
      {"Minimize\n obj: x\nBounds\n x <= -inf\nEnd\n", "t.lp:4: upper bound -infinity"},
      {"Minimize\n obj: x\nBounds\n 3 x\nEnd\n", "t.lp:4: expected '<=', '>=' or '=' after the bound value"},
      {"Minimize\n obj: x\nBounds\n 3 <= 4\nEnd\n", "t.lp:4: expected a column name, found '4'"},
      {"Minimize\n obj: x\nBounds\n 3 <= x >= 1\nEnd\n", "t.lp:4: a double bound takes"},
      {"Minimize\n obj: x +\n 1e30\nEnd\n", "t.lp:3: constant '1e30' is not finite"},
      {"Minimize\n obj: x + inf\nEnd\n", "t.lp:2: value 'inf' is not finite in an expression"},
      {"Minimize\n obj: x + <= 2\nEnd\n", "t.lp:2: expected a number, a column name or '[', found '<='"},
      {"Minimize\n obj: [ x ^ 2 y ^ 2 ] / 2\nEnd\n", "t.lp:2: expected '+', '-' or ']' in the quadratic part"},
      {"Minimize\n obj: [ 2 ^ 2 ] / 2\nEnd\n", "t.lp:2: expected a column name in the quadratic part"},
      {"Minimize\n obj: [ x ^ 3 ] / 2\nEnd\n", "t.lp:2: expected the exponent 2, found '3'"},
      {"Minimize\n obj: [ x y ] / 2\nEnd\n", "t.lp:2: expected '^ 2' or '* column' in a quadratic term"},
      {"Minimize\n obj: [ x ^ 2 ]\n / 0\nEnd\n", "t.lp:3: the divisor of a quadratic part"},
      {"Minimize\n obj: x\nSubject To\n c: 2 b = 1 -> x <= 1\nEnd\n", "t.lp:4: an indicator starts with one column"},
      {"Minimize\n obj: x\nSubject To\n c: b = 2 -> x <= 1\nEnd\n", "t.lp:4: an indicator value must be 0 or 1"},
      {"Minimize\n obj: x\nSubject To\n c: b = 1 -> 3 <= x\nEnd\n", "t.lp:4: expected an expression with columns after"},
      {"Minimize\n obj: x\nSubject To\n c: b = 1 -> x <= inf\nEnd\n", "t.lp:4: an indicator row must be one-sided"},
      {"Minimize\n obj: x\nSubject To\n c: 3 <= 4\nEnd\n", "t.lp:4: expected an expression with columns after the"},
      {"Minimize\n obj: x + y\nSOS\n x:1\nEnd\n", "t.lp:4: expected a set such as"},
      {"Minimize\n obj: x + y\nSOS\n s: S1:: x:1\n s: S2:: y:1\nEnd\n", "t.lp:5: set 's' is defined twice"},
      {"Minimize\n obj: x + y\nSOS\n s: S1:: x:1 y:inf\nEnd\n", "t.lp:4: infinite weight in a set"},
      {"Minimize\n obj: x + y\nSOS\n s: S1:: x:1 x:2\nEnd\n", "t.lp:4: column 'x' appears twice in one set"},
  };
  for (const Case &c : cases) {
    std::string e = readError(c.text, "t.lp");
    if (!contains(e, c.part)) std::fprintf(stderr, "expected '%s', got '%s'\n", c.part, e.c_str());
    EXPECT(contains(e, c.part));
  }
}

// Names longer than any buffer: 513 bytes and 100,000 bytes, read and written back.
void testLongNames() {
  for (size_t len : {size_t(513), size_t(100000)}) {
    std::string col(len, 'c'), row(len, 'r');
    col[len / 2] = '_';
    std::string text = "Minimize\n obj: 2 " + col + " + y\nSubject To\n " + row + ": " + col + " + y >= 4\nBounds\n " +
                       col + " <= 3\nEnd\n";
    ko_prob_struct p;
    EXPECT_OK(&p, KRVXreadprob(&p, writeFile("long.lp", text).c_str(), ""));
    EXPECT_OR_RETURN(p.cols.size() == 2 && p.rows.size() == 1);
    EXPECT(p.names[2].names[0] == col && p.names[1].names[0] == row && p.cols[0].ub == 3 && p.cols[0].cost == 2);
    roundTrip(p, "long_rt.lp");
  }
}

// Random damage of a valid file, plain and compressed: every read returns, and every refusal names
// the file and a line (plain) or says what is wrong with the compressed data.
void testDamage() {
  ko_prob_struct src;
  EXPECT_OK(&src, KRVXreadprob(&src, writeFile("all.lp", kAll).c_str(), ""));
  EXPECT_OK(&src, KRVXwriteprob(&src, (tmpdir + "/base.lp.gz").c_str(), ""));
  const std::string plain = kAll, packed = fileBytes(tmpdir + "/base.lp.gz");
  const std::string pieces[] = {"<=", "[", "]", "->", ":", "S1::", "inf", "End\n", "\n", "1e400", "-", "/ 0", "\\",
                                "^ 3", "= 1 ->", "nan", std::string(1, '\0'), "Bounds\n", "\xff\xfe"};
  std::mt19937 rng(2024);
  int refused = 0;
  for (int k = 0; k < 600; ++k) {
    std::string t = plain;
    for (int m = 0, n = 1 + int(rng() % 3); m < n; ++m) {
      size_t at = rng() % t.size();
      switch (rng() % 4) {
        case 0: t[at] = char(rng() % 256); break;
        case 1: t.erase(at, rng() % 20); break;
        case 2: t.insert(at, pieces[rng() % (sizeof pieces / sizeof *pieces)]); break;
        default: t.resize(at); break;
      }
      if (t.empty()) t = "x";
    }
    ko_prob_struct p;
    if (KRVXreadprob(&p, writeFile("dmg.lp", t).c_str(), "") == 0) continue;
    ++refused;
    EXPECT(contains(p.lasterror, "dmg.lp:"));
  }
  EXPECT(refused > 300);
  for (int k = 0; k < 200; ++k) {
    std::string t = packed;
    if (k % 2) t.resize(rng() % t.size());
    else t[10 + rng() % (t.size() - 10)] ^= char(1 + rng() % 255);  // past the header's time stamp
    if (k == 0) t[t.size() - 6] ^= 0x40;                              // the stored CRC
    ko_prob_struct p;
    std::string path = writeFile("dmg.lp.gz", t);
    EXPECT(KRVXreadprob(&p, path.c_str(), "") != 0);
    EXPECT(contains(p.lasterror, "dmg.lp.gz"));
  }
}

// Every data file that reads: written as LP, read again, the same store.
void testDataRoundTrips(const std::string &data) {
  int files = 0;
  for (const auto &[file, status] : expectedFiles(data)) {
    ko_prob_struct p;
    if (KRVXreadprob(&p, (data + "/" + file).c_str(), "") != 0) continue;
    ++files;
    roundTrip(p, "data_rt.lp");
  }
  EXPECT(files > 50);
}

}  // namespace

int main() {
  return runReaderTests("test_read_lp", {testAllSections, testSpellings, testErrors, testLongNames, testDamage}, testDataRoundTrips, "data round trips");
}
