// Branching directives: loading and reading back, refusals, branch marks, the directives file,
// save and restore (also of files written before directives existed), renumbering on deletions.
#include "testutil.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

struct Dirs {
  std::vector<int> col, prio;
  std::vector<char> dir;
  std::vector<double> up, down;
  bool operator==(const Dirs &o) const {
    return col == o.col && prio == o.prio && dir == o.dir && up == o.up && down == o.down;
  }
};

Dirs getDirs(KRVXprob p) {
  Dirs d;
  int n = -1;
  if (KRVXgetdirs_witharraysizes(p, &n, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0) != 0 || n < 0)
    return d;
  d.col.resize(n), d.prio.resize(n), d.dir.resize(n), d.up.resize(n), d.down.resize(n);
  KRVXgetdirs_witharraysizes(p, &n, d.col.data(), n, d.prio.data(), n, d.dir.data(), n, d.up.data(), n,
                             d.down.data(), n);
  return d;
}

void writeFile(const char *path, const std::string &bytes) {
  FILE *f = std::fopen(path, "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

int clearDirs(KRVXprob p) {
  return KRVXloaddirs_witharraysizes(p, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
}

int load(KRVXprob p, const Dirs &d) {
  const int64_t n = int64_t(d.col.size());
  return KRVXloaddirs_witharraysizes(p, int(n), d.col.data(), n, d.prio.data(), int64_t(d.prio.size()),
                                     d.dir.data(), int64_t(d.dir.size()), d.up.data(), int64_t(d.up.size()),
                                     d.down.data(), int64_t(d.down.size()));
}

void names(KRVXprob p, int kind, const std::vector<std::string> &v) {
  std::string packed;
  for (const std::string &s : v) packed += s + std::string(1, '\0');
  KRVXaddnames_witharraysizes(p, kind, packed.data(), int64_t(packed.size()), int64_t(v.size()), 0,
                              int(v.size()) - 1);
}

// ncols integer columns in [0, 10] (the last one continuous) and two SOS1 sets.
KRVXprob entities(int ncols) {
  KRVXprob p = newProblem();
  std::vector<double> ub(size_t(ncols), 10.0);
  KRVXaddcols64_witharraysizes(p, ncols, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, ub.data(),
                               ncols);
  std::vector<int> idx;
  for (int j = 0; j + 1 < ncols; ++j) idx.push_back(j);
  const std::vector<char> type(idx.size(), 'I');
  KRVXchgcoltype_witharraysizes(p, int(idx.size()), idx.data(), int64_t(idx.size()), type.data(),
                                int64_t(type.size()));
  const char settype[] = {'1', '1'};
  const int64_t start[] = {0, 2, 4};
  const int setcol[] = {0, 1, 1, 2};
  const double ref[] = {1, 2, 1, 2};
  KRVXaddsets64_witharraysizes(p, 2, 4, settype, 2, start, 3, setcol, 4, ref, 4);
  return p;
}

int testLoadAndRefuse() {
  KRVXprob p = entities(5);
  CHECK(getDirs(p).col.empty());
  // absent arrays give the defaults
  const int cols[] = {2, -2, 0};
  EXPECT_OK(p, KRVXloaddirs_witharraysizes(p, 3, cols, 3, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT((getDirs(p) == Dirs{{2, -2, 0}, {500, 500, 500}, {'N', 'N', 'N'}, {0, 0, 0}, {0, 0, 0}}));
  const Dirs good{{1, -1}, {0, 1000}, {'U', 'D'}, {0.5, 0}, {0, 2.25}};
  EXPECT_OK(p, load(p, good));
  EXPECT(getDirs(p) == good);   // replaces the earlier ones
  // refusals leave the loaded directives as they were
  const struct { Dirs d; const char *part; } bad[] = {
      {{{4}, {}, {}, {}, {}}, "continuous"},         {{{5}, {}, {}, {}, {}}, "names no column"},
      {{{-3}, {}, {}, {}, {}}, "names no column"},   {{{1, 1}, {}, {}, {}, {}}, "appears twice"},
      {{{1}, {1001}, {}, {}, {}}, "outside 0..1000"}, {{{1}, {-1}, {}, {}, {}}, "outside 0..1000"},
      {{{1}, {}, {'u'}, {}, {}}, "not U, D or N"},    {{{1}, {}, {}, {-1.0}, {}}, "pseudo cost"},
      {{{1}, {}, {}, {}, {NAN}}, "pseudo cost"},      {{{1}, {}, {}, {}, {1e20}}, "pseudo cost"},
      {{{1, 2}, {3}, {}, {}, {}}, "argument 'priority' has 1 entries"},
  };
  for (const auto &b : bad) {
    EXPECT_FAILS(p, load(p, b.d), b.part);
    EXPECT(getDirs(p) == good);
  }
  EXPECT_FAILS(p, KRVXloaddirs_witharraysizes(p, 2, cols, 3, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0),
               "argument 'colind' has 3 entries");
  // a fill call with arrays of another size is refused
  int n, c[1];
  EXPECT_FAILS(p, KRVXgetdirs_witharraysizes(p, &n, c, 1, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0),
               "argument 'colind' has 1 entries");
  // loadpresolvedirs on a problem that is not presolved: the same as loaddirs
  const int one[] = {3};
  EXPECT_OK(p, KRVXloadpresolvedirs_witharraysizes(p, 1, one, 1, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT(getDirs(p).col == std::vector<int>{3});
  EXPECT(clearDirs(p) == 0 && getDirs(p).col.empty());
  KRVXdestroyprob(p);
  return 0;
}

// Writes the directives, clears them, reads the file: the problem is byte for byte the same.
int roundTripsThroughFile(KRVXprob p, const char *file) {
  const std::string before = snapshot(p);
  if (KRVXwritedirs(p, file) != 0) return 1;
  clearDirs(p);
  const int zero[] = {0};
  KRVXloadbranchdirs_witharraysizes(p, 0, nullptr, 0, zero, 0);
  if (KRVXreaddirs(p, file) != 0) return 2;
  return snapshot(p) == before ? 0 : 3;
}

int testFileAndSave() {
  KRVXprob p = entities(6);
  KRVXsetprobname(p, "krvx_test_directives");
  names(p, 2, {"plain", "with blank", "q\"uo\\te", "#hash", "tab\there"});   // column 5 unnamed
  names(p, 3, {"", "set one"});
  const Dirs d{{0, 1, 2, 3, 4, -1, -2}, {0, 7, 500, 999, 1000, 3, 4}, {'U', 'D', 'N', 'U', 'D', 'N', 'U'},
               {0.1, 1e-300, 0, 3.25, 1.0 / 3, 7, 0}, {2.5, 0, 1e19, 0.7, 0, 0, 1e-9}};
  CHECK(load(p, d) == 0);
  const int marks[] = {4, -2, 1};
  EXPECT_OK(p, KRVXloadbranchdirs_witharraysizes(p, 3, marks, 3, nullptr, 0));
  const int unmark[] = {1}, zero[] = {0};
  EXPECT_OK(p, KRVXloadbranchdirs_witharraysizes(p, 1, unmark, 1, zero, 1));   // marks merge
  const int two[] = {2};
  EXPECT_FAILS(p, KRVXloadbranchdirs_witharraysizes(p, 1, unmark, 1, two, 1), "expected 1");
  EXPECT(roundTripsThroughFile(p, nullptr) == 0);   // the default name
  EXPECT(!fileBytes("krvx_test_directives.dir").empty());
  std::remove("krvx_test_directives.dir");

  // damaged files are refused with the line and change nothing
  const std::string before = snapshot(p);
  const struct { const char *text, *part; } bad[] = {
      {"DIR C plain\nDIR C nosuch 3\n", "line 2: no column is named 'nosuch'"},
      {"DIR C \"unclosed 3\n", "not closed"}, {"DIR X plain\n", "not C (column) or S (set)"},
      {"JUNK C plain\n", "unknown record"}, {"DIR C #6\n", "out of range"}, {"DIR C plain 2000\n", "outside 0..1000"},
      {"DIR C plain 2 UP\n", "not U, D or N"}, {"DIR C plain 2 U x\n", "not a number"},
      {"DIR C plain\nDIR C #0\n", "second directive"}, {"BRANCH S #1\nBRANCH S \"set one\"\n", "marked twice"},
      {"DIR C plain 1 U 0 0 9\n", "too many fields"},
  };
  for (const auto &b : bad) {
    writeFile("krvx_test_bad.dir", b.text);
    EXPECT_FAILS(p, KRVXreaddirs(p, "krvx_test_bad.dir"), b.part);
    EXPECT(snapshot(p) == before);
  }
  // comments, blanks and omitted fields
  writeFile("krvx_test_bad.dir", "* comment \"\n\n   DIR  C   \"with blank\"\tBRANCH_is_a_name_here_no\n");
  EXPECT_FAILS(p, KRVXreaddirs(p, "krvx_test_bad.dir"), "not an integer");
  writeFile("krvx_test_bad.dir", "* comment \"\n\n   DIR  C   \"with blank\"  12\r\n");
  EXPECT_OK(p, KRVXreaddirs(p, "krvx_test_bad.dir"));
  EXPECT((getDirs(p) == Dirs{{1}, {12}, {'N'}, {0}, {0}}));
  std::remove("krvx_test_bad.dir");
  EXPECT_FAILS(p, KRVXreaddirs(p, "krvx_no_such_file.dir"), "cannot open");

  // save and restore keep directives and marks exactly
  CHECK(load(p, d) == 0);
  EXPECT_OK(p, KRVXloadbranchdirs_witharraysizes(p, 3, marks, 3, nullptr, 0));
  const std::string saved = snapshot(p);
  KRVXprob q = newProblem();
  EXPECT_OK(p, KRVXsaveas(p, "krvx_test_directives"));
  EXPECT_OK(q, KRVXrestore(q, "krvx_test_directives", ""));
  EXPECT(snapshot(q) == saved && getDirs(q) == d);
  std::remove("krvx_test_directives.svf");
  KRVXdestroyprob(q);
  KRVXdestroyprob(p);
  return 0;
}

// A file of format 2 (before directives) is made from two saves that differ only in one
// directive: the directive section starts where they first differ.
int testOldFormat() {
  KRVXprob p = entities(3);
  KRVXsetprobname(p, "krvx_test_oldformat");
  const std::string plain = snapshot(p);
  const int one[] = {0};
  KRVXloaddirs_witharraysizes(p, 1, one, 1, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
  const std::string with = snapshot(p);
  const size_t head = 8 + 4 + 8, tail = 8;
  size_t at = head;
  while (at < plain.size() && plain[at] == with[at]) ++at;
  CHECK(at + 16 <= plain.size());
  std::string body = plain.substr(head, plain.size() - head - tail);
  CHECK(body.substr(at - head, 16) == std::string(16, '\0'));   // two empty lists
  body.erase(at - head, 16);
  std::string file(plain.data(), 8);
  auto le = [&](uint64_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) file.push_back(char(v >> (8 * k)));
  };
  le(2, 4);
  le(body.size(), 8);
  file += body;
  le(fnv1a(body), 8);
  writeFile("krvx_test_oldformat.svf", file);
  KRVXprob q = newProblem();
  EXPECT_OK(q, KRVXrestore(q, "krvx_test_oldformat", ""));
  EXPECT(snapshot(q) == plain);
  file[8] = 9;   // a version from the future
  writeFile("krvx_test_oldformat.svf", file);
  EXPECT_FAILS(q, KRVXrestore(q, "krvx_test_oldformat", ""), "format version 9");
  std::remove("krvx_test_oldformat.svf");
  KRVXdestroyprob(q);
  KRVXdestroyprob(p);
  return 0;
}

// After random deletions of columns and sets every directive and mark stays with its named
// entity, and those of deleted entities are gone.
int testRenumbering() {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    KRVXprob p = entities(9);
    std::vector<std::string> colnames;
    for (int j = 0; j < 9; ++j) colnames.push_back("c" + std::to_string(j));
    names(p, 2, colnames);
    names(p, 3, {"s0", "s1"});
    const Dirs d{{7, -2, 0, 3, -1, 5}, {1, 2, 3, 4, 5, 6}, {'U', 'D', 'N', 'U', 'D', 'N'}, {1, 2, 3, 4, 5, 6},
                 {6, 5, 4, 3, 2, 1}};
    CHECK(load(p, d) == 0);
    const int marks[] = {-1, 2, 6};
    KRVXloadbranchdirs_witharraysizes(p, 3, marks, 3, nullptr, 0);
    std::vector<int> cols;
    for (int j = 0; j < 9; ++j)
      if (rng() % 3 == 0) cols.push_back(j);
    EXPECT_OK(p, KRVXdelcols_witharraysizes(p, int(cols.size()), cols.data(), int64_t(cols.size())));
    const bool delset = rng() % 2;
    const int set0[] = {0};
    if (delset) EXPECT_OK(p, KRVXdelsets_witharraysizes(p, 1, set0, 1));
    // expected: the original directives whose entities survive, in load order, by name
    auto nameOf = [&](KRVXprob q, int e) {
      int64_t nb = 0;
      const int kind = e >= 0 ? 2 : 3, i = e >= 0 ? e : -1 - e;
      KRVXgetnames(q, kind, nullptr, 0, &nb, i, i);
      std::string buf(size_t(nb), '\0');
      KRVXgetnames(q, kind, &buf[0], nb, &nb, i, i);
      return std::string(e >= 0 ? "C" : "S") + buf.c_str();
    };
    auto survives = [&](int e) {
      if (e < 0) return !(delset && e == -1);
      return std::find(cols.begin(), cols.end(), e) == cols.end();
    };
    std::vector<std::string> want, got;
    std::vector<int> wantprio;
    for (size_t k = 0; k < d.col.size(); ++k)
      if (survives(d.col[k])) {
        want.push_back(d.col[k] >= 0 ? "C" + colnames[size_t(d.col[k])] : d.col[k] == -1 ? "Ss0" : "Ss1");
        wantprio.push_back(d.prio[k]);
      }
    const Dirs after = getDirs(p);
    for (int e : after.col) got.push_back(nameOf(p, e));
    EXPECT(got == want && after.prio == wantprio);
    KRVXdestroyprob(p);
  }
  return 0;
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  for (int (*test)() : {testLoadAndRefuse, testFileAndSave, testOldFormat, testRenumbering}) check_failures += test();
  KRVXfree();
  return finish("test_directives");
}
