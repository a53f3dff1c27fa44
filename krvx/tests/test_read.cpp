// Reading and writing problem files: the shared data files, a hand-written MPS file covering every
// section and sign rule, error texts, the file search, and write-then-read round trips.
#include "store_check.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Every section and sign rule the reader knows.
const char *kFull = R"(* all sections
NAME          full
OBJSENSE
    MAX
ROWS
 N  obj
 L  lim1
 G  lim2
 E  eqpos
 E  eqneg
 E  eqzero
 L  quad
 G  ind
 N  spare
COLUMNS
    x         obj       1.5          lim1      2.0
    x         eqpos     1            spare     4
    MARK      'MARKER'                 'INTORG'
    n         lim2      1            eqneg     1
    n         ind       1
    MARK      'MARKER'                 'INTEND'
    y         obj       -2           lim2      3.0
    y         eqzero    1            quad      1
    z         quad      1            ind       2
    b         obj       1
    s         lim1      1
    si        lim1      1
    neg       obj       1
    fr        obj       0
    k         lim2      1
RHS
    RHS       obj       -7.5         lim1      10
    RHS       lim2      2            eqpos     3
    RHS       eqneg     4            eqzero    5
    RHS       quad      6            ind       1
    OTHER     lim1      99
RANGES
    RNG       lim1      4            lim2      -3
    RNG       eqpos     2            eqneg     -2
    RNG       eqzero    0
BOUNDS
 UP BND       x         8
 LO BND       x         -1
 UP BND       neg       -5
 BV BND       b
 SC BND       s         20
 LO BND       s         2
 SI BND       si        9
 LO BND       si        3
 FR BND       fr
 MI BND       y
 UP BND       y         6
 FX BND       z         1.25
 UP BND       n         7
 LI BND       k         -2
 UI BND       k         9
 PL BND       k
SOS
 S1 SOS       set1      1
    x         1
    y         2.5
 S2 SOS       set2
    s         3
    si        1
    n
QUADOBJ
    x         x         2
    y         x         -1
QCMATRIX      quad
    x         x         1
    x         y         0.5
    y         x         1.5
    z         z         3
INDICATORS
 IF ind       b         0
ENDATA
)";

void checkFull(const ko_prob_struct &p) {
  EXPECT(p.objsense == -1);
  EXPECT(p.objconst == 7.5);
  EXPECT(p.rows.size() == 8);
  EXPECT(p.cols.size() == 10);
  int lim1 = rowIndex(p, "lim1"), lim2 = rowIndex(p, "lim2"), eqpos = rowIndex(p, "eqpos"), eqneg = rowIndex(p, "eqneg"),
      eqzero = rowIndex(p, "eqzero"), quad = rowIndex(p, "quad"), ind = rowIndex(p, "ind"), spare = rowIndex(p, "spare");
  EXPECT(lim1 == 0 && spare == 7 && rowIndex(p, "obj") < 0);
  auto row = [&](int i) { return p.rows[size_t(i)]; };
  // L with range 4: [6, 10]; G with range -3: [2, 5]
  EXPECT(row(lim1).type == 'R' && row(lim1).rhs == 10 && krvx::rowRange(p, size_t(lim1)) == 4);
  EXPECT(row(lim2).type == 'R' && row(lim2).rhs == 5 && krvx::rowRange(p, size_t(lim2)) == 3);
  // E with +2: [3, 5]; E with -2: [2, 4]; E with 0 stays an equation
  EXPECT(row(eqpos).type == 'R' && row(eqpos).rhs == 5 && krvx::rowRange(p, size_t(eqpos)) == 2);
  EXPECT(row(eqneg).type == 'R' && row(eqneg).rhs == 4 && krvx::rowRange(p, size_t(eqneg)) == 2);
  EXPECT(row(eqzero).type == 'E' && row(eqzero).rhs == 5);
  EXPECT(row(quad).type == 'L' && row(quad).rhs == 6);
  EXPECT(row(ind).type == 'G' && row(ind).rhs == 1);
  EXPECT(row(spare).type == 'N');
  int x = colIndex(p, "x"), n = colIndex(p, "n"), y = colIndex(p, "y"), z = colIndex(p, "z"), b = colIndex(p, "b"),
      s = colIndex(p, "s"), si = colIndex(p, "si"), neg = colIndex(p, "neg"), fr = colIndex(p, "fr");
  auto col = [&](int j) { return p.cols[size_t(j)]; };
  EXPECT(x == 0 && fr == 8);
  EXPECT(col(x).cost == 1.5 && col(x).lb == -1 && col(x).ub == 8 && col(x).type == 'C');
  EXPECT(coef(p, lim1, x) == 2 && coef(p, eqpos, x) == 1 && coef(p, spare, x) == 4);
  EXPECT(col(n).type == 'I' && col(n).lb == 0 && col(n).ub == 7 && coef(p, ind, n) == 1);
  EXPECT(col(y).type == 'C' && col(y).cost == -2 && col(y).lb <= -krvx::kInf && col(y).ub == 6);
  EXPECT(col(z).lb == 1.25 && col(z).ub == 1.25 && coef(p, ind, z) == 2);
  EXPECT(col(b).type == 'B' && col(b).lb == 0 && col(b).ub == 1);
  EXPECT(col(s).type == 'S' && col(s).ub == 20 && col(s).lb == 2 && krvx::colLimit(p, size_t(s)) == 2);
  EXPECT(col(si).type == 'R' && col(si).ub == 9 && krvx::colLimit(p, size_t(si)) == 3);
  EXPECT(col(neg).ub == -5 && col(neg).lb <= -krvx::kInf);  // negative upper bound rule
  EXPECT(col(fr).lb <= -krvx::kInf && col(fr).ub >= krvx::kInf);
  int k = colIndex(p, "k");
  EXPECT(col(k).type == 'I' && col(k).lb == -2 && col(k).ub >= krvx::kInf && coef(p, lim2, k) == 1);
  for (int j = 0; j < p.matrix.ncols(); ++j)
    for (size_t k = 1; k < p.matrix.col(j).size(); ++k) EXPECT(p.matrix.col(j)[k - 1].index < p.matrix.col(j)[k].index);
  // sets
  EXPECT(p.sets.size() == 2);
  if (p.sets.size() == 2) {
    EXPECT(p.sets[0].type == '1' && p.sets[0].cols == (std::vector<int>{x, y}));
    EXPECT(p.sets[0].weights == (std::vector<double>{1, 2.5}));
    EXPECT(p.sets[1].type == '2' && p.sets[1].cols == (std::vector<int>{s, si, n}));
    EXPECT(p.sets[1].weights == (std::vector<double>{3, 1, 3}));
    EXPECT(p.names[3].names.size() == 2 && p.names[3].names[1] == "set2");
  }
  // objective triangle: QUADOBJ entries as given; row matrix: (0.5 + 1.5) / 2
  EXPECT(p.qobj.size() == 2 && qval(p.qobj, x, x) == 2 && qval(p.qobj, x, y) == -1);
  EXPECT(p.qrows.size() == p.rows.size());
  if (p.qrows.size() == p.rows.size()) {
    const auto &q = p.qrows[size_t(quad)];
    EXPECT(q.size() == 3 && qval(q, x, x) == 1 && qval(q, x, y) == 1 && qval(q, z, z) == 3);
    for (const krvx::QTerm &t : q) EXPECT(t.i <= t.j);
  }
  EXPECT(p.indicators.size() == p.rows.size());
  if (p.indicators.size() == p.rows.size()) {
    EXPECT(p.indicators[size_t(ind)].col == b && p.indicators[size_t(ind)].complement == -1);
    EXPECT(p.indicators[size_t(lim1)].complement == 0);
  }
}

void testFullFile() {
  std::string path = writeFile("full.mps", kFull);
  ko_prob_struct p;
  EXPECT(KRVXreadprob(&p, path.c_str(), "") == 0);
  EXPECT(p.name == "full");
  checkFull(p);
  // gzip content under a plain name, and the same file as .mps.gz found by the search
  std::string gzpath = tmpdir + "/fullgz.mps";
  EXPECT(KRVXwriteprob(&p, (gzpath + ".gz").c_str(), "") == 0);
  std::rename((gzpath + ".gz").c_str(), gzpath.c_str());
  std::ifstream gz(gzpath, std::ios::binary);
  std::string packed((std::istreambuf_iterator<char>(gz)), std::istreambuf_iterator<char>());
  EXPECT(packed.size() > 100 && packed[0] == '\x1f' && packed[1] == '\x8b');
  // a compressed file cut short (also by its trailer alone, after ENDATA) or with a flipped bit
  // past the header is refused
  std::mt19937 rng(5);
  for (int k = 0; k < 60; ++k) {
    std::string t = packed;
    if (k < 8) t.resize(t.size() - 1 - size_t(k));
    else if (k < 30) t.resize(10 + rng() % (t.size() - 10));
    else t[10 + rng() % (t.size() - 10)] ^= char(1 << (rng() % 8));
    std::ofstream(tmpdir + "/cut.mps", std::ios::binary) << t;
    ko_prob_struct cut;
    const int rc = KRVXreadprob(&cut, (tmpdir + "/cut.mps").c_str(), "");
    EXPECT(rc != 0 && (k >= 30 || contains(cut.lasterror, "truncated")));
    if (rc == 0) std::fprintf(stderr, "damaged file %d accepted\n", k);
  }
  ko_prob_struct q;
  EXPECT(KRVXreadprob(&q, gzpath.c_str(), "") == 0);
  checkFull(q);
  std::rename(gzpath.c_str(), (tmpdir + "/found.mps.gz").c_str());
  ko_prob_struct r;
  EXPECT(KRVXreadprob(&r, (tmpdir + "/found").c_str(), "") == 0);
  EXPECT(r.name == "found");
  checkFull(r);
  // z narrows the search to compressed names; l to LP names
  ko_prob_struct z;
  EXPECT(KRVXreadprob(&z, (tmpdir + "/found").c_str(), "z") == 0);
  EXPECT(KRVXreadprob(&z, (tmpdir + "/full").c_str(), "z") != 0 && contains(z.lasterror, "full.lp.gz)"));
  EXPECT(KRVXreadprob(&z, (tmpdir + "/full").c_str(), "l") != 0 && !contains(z.lasterror, "full.mps"));
}

void testFreeAndFixedForms() {
  // free format: long names, RHS without a vector name, OBJSENSE on one line
  const char *freeText =
      "NAME free_form\nOBJSENSE MAXIMIZE\nROWS\n N cost_row\n L a_rather_long_row_name\nCOLUMNS\n"
      " a_rather_long_column_name cost_row 3 a_rather_long_row_name 1\nRHS\n a_rather_long_row_name 4\n"
      "BOUNDS\n UP a_rather_long_column_name 2\nENDATA\n";
  ko_prob_struct p;
  EXPECT(KRVXreadprob(&p, writeFile("free.mps", freeText).c_str(), "") == 0);
  EXPECT(p.objsense == -1 && p.rows.size() == 1 && p.rows[0].rhs == 4 && p.cols.size() == 1);
  EXPECT(p.cols.size() == 1 && p.cols[0].ub == 2 && p.cols[0].cost == 3);
  // fixed format: blanks inside names
  const char *fixedText =
      "NAME          fixed\nROWS\n N  COST\n G  ROW A\n L  ROW B\nCOLUMNS\n"
      "    COL 1     COST      1.0            ROW A     1.0\n"
      "    COL 1     ROW B     2.0\n"
      "    COL 2     ROW A     1.0\n"
      "RHS\n    RHS       ROW A     1.0            ROW B     8.0\n"
      "BOUNDS\n UP BND       COL 2     3.0\nENDATA\n";
  ko_prob_struct f;
  EXPECT(KRVXreadprob(&f, writeFile("fixed.mps", fixedText).c_str(), "") == 0);
  EXPECT(f.rows.size() == 2 && f.cols.size() == 2);
  if (f.rows.size() == 2 && f.cols.size() == 2) {
    EXPECT(rowIndex(f, "ROW A") == 0 && colIndex(f, "COL 2") == 1);
    EXPECT(f.rows[1].rhs == 8 && coef(f, 1, 0) == 2 && f.cols[1].ub == 3);
    // names with blanks: fixed format only, quadratic row names included
    f.qrows.assign(2, {});
    f.qrows[1].push_back(krvx::QTerm{0, 1, 0.5});
    EXPECT(KRVXwriteprob(&f, (tmpdir + "/blank.mps").c_str(), "") != 0 && contains(f.lasterror, "contains a blank"));
    EXPECT(KRVXwriteprob(&f, (tmpdir + "/blank.mps").c_str(), "f") == 0);
    ko_prob_struct g;
    EXPECT(KRVXreadprob(&g, (tmpdir + "/blank.mps").c_str(), "") == 0);
    checkSame(f, g, "fixed format with blanks in names");
  }
}

void testErrors() {
  std::string e = readError("NAME t\nROWS\n N obj\n L r1\nCOLUMNS\n x obj 1\n x R09 1\nENDATA\n", "unknownrow.mps");
  EXPECT(contains(e, "unknownrow.mps:7: unknown row 'R09' in COLUMNS section"));
  e = readError("NAME t\nROWS\n N obj\n L r1\nCOLUMNS\n x obj 1 r1 2\n", "noend.mps");
  EXPECT(contains(e, "noend.mps:") && contains(e, "ENDATA"));
  e = readError("ROWS\n N obj\n L r1\nCOLUMNS\n x r1 1\n x r1 2\nENDATA\n", "twice.mps");
  EXPECT(contains(e, "twice.mps:6:") && contains(e, "given twice"));
  e = readError("ROWS\n N obj\n L r1\nCOLUMNS\n x r1 inf\nENDATA\n", "inf.mps");
  EXPECT(contains(e, "inf.mps:5:") && contains(e, "infinite"));
  e = readError("ROWS\n N obj\nCOLUMNS\n x obj 1\nBOUNDS\n XX BND x 1\nENDATA\n", "badbound.mps");
  EXPECT(contains(e, "badbound.mps:6: unknown bound type 'XX'"));
  e = readError("ROWS\n N obj\nCOLUMNS\n x obj 1\nQUADOBJ\n x x 1\nQMATRIX\n x x 1\nENDATA\n", "mixq.mps");
  EXPECT(contains(e, "mixq.mps:7:") && contains(e, "QMATRIX"));
  e = readError("ROWS\n N obj\n L r\nCOLUMNS\n x r 1\nINDICATORS\n IF r x 1\nENDATA\n", "ind.mps");
  EXPECT(contains(e, "ind.mps:7:") && contains(e, "not binary"));

  ko_prob_struct p;
  EXPECT(KRVXreadprob(&p, (tmpdir + "/absent").c_str(), "") != 0);
  EXPECT(contains(p.lasterror, "not found") && contains(p.lasterror, "absent.mps.gz"));
  EXPECT(KRVXreadprob(&p, (tmpdir + "/full.mps").c_str(), "q") != 0 && contains(p.lasterror, "unknown flag 'q'"));
  EXPECT(KRVXreadprob(&p, "", "") != 0);
}

void collect(KRVXprob, void *data, const char *msg, int len, int type) {
  if (type == 3) static_cast<std::string *>(data)->append(msg, size_t(len)).append("\n");
}

// Warnings reach the problem's message handlers: the negative upper bound rule, a second RHS vector.
void testWarnings() {
  ko_prob_struct p;
  std::string warnings;
  EXPECT(KRVXaddmessagehandler(&p, collect, &warnings) == 0);
  EXPECT(KRVXreadprob(&p, (tmpdir + "/full.mps").c_str(), "") == 0);
  EXPECT(contains(warnings, "upper bound of column 'neg' is negative"));
  EXPECT(contains(warnings, "'OTHER' is skipped"));
  p.cols[0].cost = 1.0 / 3.0;
  EXPECT(KRVXwriteprob(&p, (tmpdir + "/rounded.mps").c_str(), "f") == 0 && contains(warnings, "rounded"));
}

void testFailedReadKeepsProblem() {
  ko_prob_struct p;
  EXPECT(KRVXreadprob(&p, (tmpdir + "/full.mps").c_str(), "") == 0);
  std::string bad = writeFile("broken.mps", "NAME x\nROWS\n N obj\nCOLUMNS\n x nope 1\nENDATA\n");
  EXPECT(KRVXreadprob(&p, bad.c_str(), "") != 0);
  EXPECT(p.name == "full");
  checkFull(p);
}

void roundTrip(const ko_prob_struct &p, const char *file, const char *flags) {
  std::string path = tmpdir + "/" + file;
  ko_prob_struct &w = const_cast<ko_prob_struct &>(p);
  int rc = KRVXwriteprob(&w, path.c_str(), flags);
  EXPECT(rc == 0);
  if (rc) {
    std::fprintf(stderr, "write %s: %s\n", file, w.lasterror.c_str());
    return;
  }
  ko_prob_struct q;
  EXPECT(KRVXreadprob(&q, path.c_str(), "v") == 0);
  checkSame(p, q, file);
}

void testRoundTrips() {
  ko_prob_struct p;
  EXPECT(KRVXreadprob(&p, (tmpdir + "/full.mps").c_str(), "") == 0);
  roundTrip(p, "rt_free.mps", "");
  roundTrip(p, "rt_fixed.mps", "f");
  roundTrip(p, "rt_gz.mps.gz", "");
  // values that need all 17 digits survive free format
  p.cols[0].cost = 0.1 + 0.2;
  p.rows[0].rhs = 1.0 / 3.0;
  roundTrip(p, "rt_digits.mps", "");
  // LP format holds every section of the full file; the objective's label moves aside
  roundTrip(p, "rt.lp", "");
  roundTrip(p, "rt.lp.gz", "");
  EXPECT(fileBytes(tmpdir + "/rt.lp.gz").substr(0, 2) == "\x1f\x8b");
  p.names[1].names[size_t(rowIndex(p, "quad"))] = "obj";
  roundTrip(p, "rt_obj.lp", "");
  // a failed write leaves an existing file alone
  std::string keep = writeFile("keep.mps", "original");
  p.cols[0].type = 'P';
  EXPECT(KRVXwriteprob(&p, keep.c_str(), "") != 0);
  std::ifstream in(keep);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT(text == "original");
}

void testDataFiles(const std::string &data) {
  int files = 0;
  for (const auto &[file, status] : expectedFiles(data)) {
    std::string path = data + "/" + file;
    ko_prob_struct p;
    int rc = KRVXreadprob(&p, path.c_str(), "");
    ++files;
    if (status == "error" || file == "bad/garbage.lp") {  // its lines 2 and 3 are no comments
      EXPECT(rc != 0);
      EXPECT(contains(p.lasterror, file.c_str()));
      std::fprintf(stderr, "  %s: %s\n", file.c_str(), p.lasterror.c_str());
      continue;
    }
    if (rc) std::fprintf(stderr, "  %s: %s\n", file.c_str(), p.lasterror.c_str());
    EXPECT(rc == 0);
  }
  EXPECT(files > 50);
  // counts of a few known files
  struct Known {
    const char *file;
    size_t rows, cols, nz;
  } known[] = {{"netlib/afiro.mps.gz", 27, 32, 83}, {"netlib/forplan.mps.gz", 161, 421, 4563},
               {"mip/p0548.mps", 176, 548, 1711}, {"qp/qjh_qmatrix.mps", 1, 3, 2}, {"qp/qptestnw.lp", 3, 2, 6}};
  for (const Known &k : known) {
    ko_prob_struct p;
    EXPECT(KRVXreadprob(&p, (data + "/" + k.file).c_str(), "") == 0);
    const size_t nz = size_t(p.matrix.nnz());
    EXPECT(p.rows.size() == k.rows && p.cols.size() == k.cols && nz == k.nz);
  }
  // integer marker columns without bounds: [0, +inf)
  ko_prob_struct sm;
  EXPECT(KRVXreadprob(&sm, (data + "/mip/small_mip").c_str(), "") == 0 && sm.cols.size() == 8);
  EXPECT(sm.cols.size() == 8 && sm.cols[2].type == 'I' && sm.cols[2].lb == 0 && sm.cols[2].ub >= krvx::kInf);
  // e226: the RHS entry on the objective row is the negated constant
  ko_prob_struct e;
  EXPECT(KRVXreadprob(&e, (data + "/netlib/e226").c_str(), "") == 0 && e.objconst == 7.113);
  // p0548 integers are binaries through bounds; semi-continuous overrides the integer marker
  ko_prob_struct sc;
  EXPECT(KRVXreadprob(&sc, (data + "/mip/semi-continuous.mps").c_str(), "") == 0);
  EXPECT(sc.cols.size() == 4 && sc.cols[2].type == 'S' && krvx::colLimit(sc, 2) == 1.1 && sc.cols[2].ub == 10);
  ko_prob_struct si;
  EXPECT(KRVXreadprob(&si, (data + "/mip/semi-integer.mps").c_str(), "") == 0);
  EXPECT(si.cols.size() == 4 && si.cols[2].type == 'R' && krvx::colLimit(si, 2) == 1.1);
  // the three quadratic MPS forms give one triangle; LP quadratic objectives have the same scale
  ko_prob_struct q1, q2, q3, lp;
  EXPECT(KRVXreadprob(&q1, (data + "/qp/qjh").c_str(), "") == 0);
  EXPECT(KRVXreadprob(&q2, (data + "/qp/qjh_quadobj").c_str(), "") == 0);
  EXPECT(KRVXreadprob(&q3, (data + "/qp/qjh_qmatrix").c_str(), "") == 0);
  EXPECT(q1.qobj.size() == 4 && qval(q1.qobj, 0, 2) == -1 && qval(q1.qobj, 1, 1) == 0.2);
  checkSame(q1, q2, "QSECTION/QUADOBJ");
  checkSame(q2, q3, "QUADOBJ/QMATRIX");
  EXPECT(KRVXreadprob(&lp, (data + "/qp/qptestnw").c_str(), "l") == 0);
  EXPECT(lp.qobj.size() == 2 && qval(lp.qobj, 0, 0) == 2 && qval(lp.qobj, 1, 1) == 2 && lp.cols[0].cost == -2);
  // only its first line is a comment: the second is where the objective sense must stand
  ko_prob_struct g;
  EXPECT(KRVXreadprob(&g, (data + "/bad/garbage.lp").c_str(), "") != 0 && contains(g.lasterror, "garbage.lp:2: expected the objective sense"));
  // LP format by flag under another name
  std::ifstream src(data + "/qp/qptestnw.lp");
  std::string text((std::istreambuf_iterator<char>(src)), std::istreambuf_iterator<char>());
  std::string other = writeFile("qp.model", text);
  ko_prob_struct o;
  EXPECT(KRVXreadprob(&o, other.c_str(), "lv") == 0 && o.cols.size() == 2 && o.qobj.size() == 2 && o.name == "qp");
  EXPECT(KRVXreadprob(&o, other.c_str(), "v") != 0);  // read as MPS
}

}  // namespace

int main() {
  return runReaderTests("test_read", {testFullFile, testFreeAndFixedForms, testErrors, testFailedReadKeepsProblem, testWarnings, testRoundTrips}, testDataFiles, "data files");
}
