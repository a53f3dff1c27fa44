// What the reader tests share: a scratch folder, the data folder, look-ups by name and an exact
// comparison of stores.
#pragma once
#include "core/store.h"
#include "testutil.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string tmpdir;

// Makes the scratch folder; false when it cannot be made.
bool makeTmpdir(const char *prefix) {
  std::string t = std::string("/tmp/") + prefix + "_XXXXXX";
  if (!mkdtemp(t.data())) return false;
  tmpdir = t;
  return true;
}

std::string writeFile(const std::string &name, const std::string &text) {
  std::string path = tmpdir + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// The error of reading `text` as the file <name>, or "(read succeeded)".
std::string readError(const std::string &text, const char *name) {
  ko_prob_struct p;
  std::string path = writeFile(name, text);
  if (KRVXreadprob(&p, path.c_str(), "v") == 0) return "(read succeeded)";
  return p.lasterror;
}

int rowIndex(const ko_prob_struct &p, const char *name) {
  auto it = p.names[1].index.find(name);
  return it == p.names[1].index.end() ? -1 : it->second;
}
int colIndex(const ko_prob_struct &p, const char *name) {
  auto it = p.names[2].index.find(name);
  return it == p.names[2].index.end() ? -1 : it->second;
}
double coef(const ko_prob_struct &p, int row, int col) {
  return p.matrix.col(col).at(row);
}
double qval(const std::vector<krvx::QTerm> &q, int i, int j) {
  if (i > j) std::swap(i, j);
  for (const krvx::QTerm &t : q)
    if (t.i == i && t.j == j) return t.value;
  return 0.0;
}

// The packed names of namespace kind as KRVXgetnames gives them.
std::string shownNames(const ko_prob_struct &p, int kind) {
  ko_prob_struct &q = const_cast<ko_prob_struct &>(p);
  size_t n = kind == 1 ? p.rows.size() : kind == 2 ? p.cols.size() : p.sets.size();
  int64_t bytes = 0;
  if (n == 0 || KRVXgetnames(&q, kind, nullptr, 0, &bytes, 0, int(n) - 1) != 0) return "";
  std::string out(size_t(bytes), '\0');
  KRVXgetnames(&q, kind, out.data(), bytes, &bytes, 0, int(n) - 1);
  return out;
}

// The same model parts, compared exactly (names too, unless `names` is false).
void checkSame(const ko_prob_struct &a, const ko_prob_struct &b, const char *what, bool names = true) {
  std::fprintf(stderr, "comparing %s\n", what);
  EXPECT(a.objsense == b.objsense && a.objconst == b.objconst);
  EXPECT(a.rows.size() == b.rows.size() && a.cols.size() == b.cols.size());
  for (size_t i = 0; i < a.rows.size() && i < b.rows.size(); ++i) {
    EXPECT(a.rows[i].type == b.rows[i].type);
    if (a.rows[i].type != 'N') EXPECT(a.rows[i].rhs == b.rows[i].rhs);
    if (a.rows[i].type == 'R') EXPECT(krvx::rowRange(a, i) == krvx::rowRange(b, i));
  }
  for (size_t j = 0; j < a.cols.size() && j < b.cols.size(); ++j) {
    const krvx::Column &x = a.cols[j], &y = b.cols[j];
    EXPECT(x.cost == y.cost && x.lb == y.lb && x.ub == y.ub && x.type == y.type &&
           krvx::colLimit(a, j) == krvx::colLimit(b, j));
    const krvx::ColumnView cx = a.matrix.col(int(j)), cy = b.matrix.col(int(j));
    EXPECT(cx.size() == cy.size());
    for (size_t k = 0; k < cx.size() && k < cy.size(); ++k)
      EXPECT(cx[k].index == cy[k].index && cx[k].value == cy[k].value);
  }
  EXPECT(a.qobj.size() == b.qobj.size());
  for (const krvx::QTerm &t : a.qobj) EXPECT(qval(b.qobj, t.i, t.j) == t.value);
  EXPECT(a.qrows.size() == b.qrows.size());
  for (size_t i = 0; i < a.qrows.size() && i < b.qrows.size(); ++i) {
    EXPECT(a.qrows[i].size() == b.qrows[i].size());
    for (const krvx::QTerm &t : a.qrows[i]) EXPECT(qval(b.qrows[i], t.i, t.j) == t.value);
  }
  EXPECT(a.sets.size() == b.sets.size());
  for (size_t k = 0; k < a.sets.size() && k < b.sets.size(); ++k)
    EXPECT(a.sets[k].type == b.sets[k].type && a.sets[k].cols == b.sets[k].cols && a.sets[k].weights == b.sets[k].weights);
  EXPECT(a.indicators.size() == b.indicators.size());
  for (size_t i = 0; i < a.indicators.size() && i < b.indicators.size(); ++i)
    EXPECT(a.indicators[i].complement == b.indicators[i].complement &&
          (!a.indicators[i].complement || a.indicators[i].col == b.indicators[i].col));
  // names as the problem shows them: an unnamed object and one named by its default name agree
  for (int k = 1; k <= 3 && names; ++k) EXPECT(shownNames(a, k) == shownNames(b, k));
}

// (file, status) of every row of the data's expected.csv.
std::vector<std::pair<std::string, std::string>> expectedFiles(const std::string &data) {
  std::ifstream csv(data + "/expected.csv");
  std::string line;
  std::getline(csv, line);
  std::vector<std::pair<std::string, std::string>> out;
  while (std::getline(csv, line)) {
    size_t a = line.find(','), b = line.find(',', a + 1);
    out.emplace_back(line.substr(0, a), line.substr(a + 1, b - a - 1));
  }
  return out;
}

// main of a reader test: the tests in a scratch folder, then the one that needs the shared data.
int runReaderTests(const char *name, std::initializer_list<void (*)()> tests,
                   void (*dataTest)(const std::string &), const char *what) {
  if (!makeTmpdir(name)) return 1;
  for (auto t : tests) t();
  std::string data = sharedData(what);
  if (!data.empty()) dataTest(data);
  std::system(("rm -rf " + tmpdir).c_str());
  return finish(name);
}

}  // namespace
