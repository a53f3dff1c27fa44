// Nonlinear layer: the handle and attributes, checking of token streams, reading formulas back,
// deleting them, keeping them in step with row and column deletions, user-function names,
// solving refused, save/restore, replacement and copy.
#include "nltest.h"

#include <cstdio>

namespace {

double square(const double *v, void *) { return v[0] * v[0]; }

KRVXprob g_p;   // the problem the EXPECT_FAILS texts are read from

int nlAttr(tagKRVNproblem *nl, int id) {
  int v = -99;
  return KRVNgetintattrib(nl, id, &v) == 0 ? v : -99;
}

int rowStatus(tagKRVNproblem *nl, int row) {
  int st = -99;
  return KRVNgetrowstatus(nl, row, &st) == 0 ? st : -99;
}

void handleAndAttributes() {
  tagKRVNproblem *nl = nullptr, *again = nullptr;
  KRVXprob p = nlProblem(3, 2, &nl);
  EXPECT(nl != nullptr);
  EXPECT_OK(p, KRVXnlpcreateprob(p, &again));
  EXPECT(again == nl && nlAttr(nl, KRVN_NLPCOLS) == 3 && nlAttr(nl, KRVN_DEFAULTFORMULACOL) == -1);
  EXPECT(formulaCount(nl) == 0);
  int v = 0;
  EXPECT_FAILS(p, KRVNgetintattrib(nl, 12999, &v), "unknown nonlinear attribute id 12999");
  char buf[KRVX_MAXERRLEN + 1];
  EXPECT(KRVNgetlasterror(nl, buf) == 0 && contains(buf, "12999"));
  EXPECT(KRVNgetintattrib(nullptr, KRVN_NLPCOLS, &v) != 0);
  KRVXaddcols(p, 2, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT(nlAttr(nl, KRVN_NLPCOLS) == 5);
  KRVXdestroyprob(p);
}

void goodStreams() {
  tagKRVNproblem *nl;
  KRVXprob p = nlProblem(3, 2, &nl);
  int fn = 0;
  EXPECT_OK(p, KRVNadduserfunction(nl, "sq2", KRVN_FUNCTYPE_VALUE, 2, 1, 0, (void *)square, nullptr, &fn));
  EXPECT(fn == 1);
  const Tokens sinx{RB(), X(0), Fn(KRVN_FN_SIN), End()};
  std::vector<FormulaEntry> good = {
      {0, KRVN_NOCOL, 1.0, sinx},
      {0, 1, 4.0, {RB(), X(0), Fn(KRVN_FN_EXP), End()}},                             // 4 y exp(x)
      {1, KRVN_NOCOL, 1.0, {RB(), X(0), Fn(KRVN_FN_SIN), Op(KRVN_OP_UMINUS), End()}},
      {1, KRVN_NOCOL, 1.0, {RB(), X(0), X(1), X(2), Fn(KRVN_FN_MAX), End()}},
      {1, KRVN_NOCOL, 1.0, {RB(), X(1), X(0), UF(fn), End()}},                      // user(f, x, y)
      {-1, KRVN_NOCOL, 1.0, {X(0), X(1), Op(5), X(2), X(0), Op(5), Op(5), X(1), Op(5), End()}},
      {-1, -1, 2.0, {RB(), C(3), C(2), C(1), C(1), C(0), C(0), X(2), Fn(KRVN_FN_PWL), End()}},
      {0, KRVN_NOCOL, 1.0, {C(2.5), {KRVN_TOK_SKIP, 0}, End()}},                      // a constant
      {1, 2, 3.0, {End()}},                                                          // 3 z
  };
  EXPECT_OK(p, addFormulas(nl, good));
  EXPECT(formulaCount(nl) == 9 && rowStatus(nl, 1) == 1);

  // read back: per row in order, the objective, all
  auto row0 = readFormulas(nl, 0);
  EXPECT(row0.size() == 3 && row0[0].toks == sinx && row0[1].col == 1 && row0[1].factor == 4.0);
  EXPECT(row0.size() == 3 && row0[2].toks == (Tokens{C(2.5), End()}));   // type 24 not kept
  auto obj = readFormulas(nl, KRVN_OBJROW);
  EXPECT(obj.size() == 2 && obj[1].col == KRVN_NOCOL && obj[1].row == KRVN_OBJROW);   // -1 column is none
  auto all = readFormulas(nl, KRVN_ALLROWS);
  EXPECT(all.size() == 9 && all[0].row == 0 && all[3].row == 1 && all[7].row == KRVN_OBJROW);
  EXPECT(all.size() == 9 && all[6].col == 2 && all[6].toks == Tokens{End()});

  // fill call with too little room
  int nf;
  int64_t nt;
  int rows[1], types[2];
  double vals[2];
  EXPECT_FAILS(p, KRVNgetcoefs(nl, 0, &nf, &nt, rows, nullptr, nullptr, nullptr, 1, nullptr, nullptr, 0),
              "room for 1 formulas");
  EXPECT_FAILS(p, KRVNgetcoefs(nl, 0, &nf, &nt, nullptr, nullptr, nullptr, nullptr, 0, types, vals, 2), "room for 2 tokens");
  EXPECT_FAILS(p, KRVNgetcoefs(nl, 2, &nf, &nt, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0),
              "row 2 is out of range");
  KRVXdestroyprob(p);
}

void badStreams() {
  tagKRVNproblem *nl;
  KRVXprob p = g_p = nlProblem(3, 2, &nl);
  int fn = 0;
  KRVNadduserfunction(nl, "sq2", KRVN_FUNCTYPE_VALUE, 2, 1, 0, (void *)square, nullptr, &fn);
  EXPECT_OK(p, addFormula(nl, 0, KRVN_NOCOL, 1.0, {X(0), End()}));
  struct Bad {
    Tokens toks;
    const char *text;
  };
  const Bad bad[] = {
      {{X(0)}, "does not end with an end token"}, {{}, "does not end with an end token"},
      {{End()}, "the formula is empty"}, {{X(0), End(), X(1), End()}, "end token (type 0) before the end"},
      {{{5, 0}, End()}, "unknown token type 5"}, {{X(0), X(1), Op(7), End()}, "unknown operator 7"},
      {{X(0), Op(5), End()}, "operator is missing an operand"}, {{Op(1), End()}, "unary minus is missing an operand"},
      {{X(0), X(1), End()}, "leaves 2 items"}, {{RB(), X(0), End()}, "leaves 2 items"},
      {{RB(), X(0), Fn(99), End()}, "unknown function code 99"},
      {{RB(), X(0), X(1), Fn(KRVN_FN_EXP), End()}, "function 16 takes 1 argument, 2 given"},
      {{X(0), Fn(KRVN_FN_EXP), End()}, "has no argument marker"},
      {{RB(), Fn(KRVN_FN_MAX), End()}, "needs at least one argument"}, {{X(3), End()}, "column 3 is out of range"},
      {{X(-1), End()}, "column -1 is out of range"}, {{{KRVN_TOK_COL, 1.5}, End()}, "column 1.5 is not an integer"},
      {{C(0.0 / 0.0), End()}, "is not finite"}, {{RB(), X(0), UF(2), End()}, "user function 2 is not registered"},
      {{RB(), X(0), UF(fn), End()}, "takes 2 arguments, 1 given"},
      {{RB(), C(1), C(1), X(0), Fn(KRVN_FN_PWL), End()}, "at least two (x, y) breakpoints"},
      {{RB(), C(1), C(1), C(0), X(1), X(0), Fn(KRVN_FN_PWL), End()}, "breakpoints must be constants"},
      {{RB(), C(1), C(0), C(0), C(1), X(0), Fn(KRVN_FN_PWL), End()}, "not in increasing order"},
  };
  for (const Bad &b : bad) {
    EXPECT_FAILS(p, addFormula(nl, 0, KRVN_NOCOL, 1.0, b.toks), b.text);
    EXPECT(contains(lastError(p), "formula 0: token"));
  }
  // formula-level arguments; a batch with one bad formula adds nothing
  const struct { int row, col; double factor; const char *part; } badArgs[] = {
      {2, KRVN_NOCOL, 1.0, "row 2 is out of range"}, {-2, KRVN_NOCOL, 1.0, "row -2 is out of range"},
      {0, 3, 1.0, "column 3 is out of range"}, {0, KRVN_NOCOL, 1.0 / 0.0, "factor inf is not finite"}};
  for (const auto &a : badArgs) EXPECT_FAILS(p, addFormula(nl, a.row, a.col, a.factor, {X(0), End()}), a.part);
  EXPECT_FAILS(p, addFormulas(nl, {{0, KRVN_NOCOL, 1.0, {X(0), End()}}, {1, KRVN_NOCOL, 1.0, {X(9), End()}}}),
              "formula 1: token 0: column 9");
  const int rows[] = {0}, cols[] = {KRVN_NOCOL}, starts[] = {0, 3}, types[] = {10, 0};
  const double factor[] = {1}, values[] = {0, 0};
  EXPECT_FAILS(p, KRVNaddcoefs(nl, 1, rows, cols, factor, starts, 2, types, values), "are not inside 0..2");
  EXPECT(formulaCount(nl) == 1);
  KRVXdestroyprob(p);
}

void deleting() {
  tagKRVNproblem *nl;
  KRVXprob p = g_p = nlProblem(4, 3, &nl);
  const Tokens exp3{RB(), X(3), Fn(KRVN_FN_EXP), End()};
  EXPECT_OK(p, addFormulas(nl, {{0, KRVN_NOCOL, 1.0, {X(0), End()}},
                               {1, 2, 1.0, exp3},
                               {1, KRVN_NOCOL, 2.0, {X(1), X(3), Op(3), End()}},
                               {1, 2, 3.0, {X(1), End()}},
                               {2, KRVN_NOCOL, 1.0, {C(1), End()}},
                               {-1, 1, 1.0, {X(3), End()}}}));
  // single coefficients by (row, column), a whole row, the status bit
  EXPECT(KRVNdelcoef(nl, 1, 2) == 0 && readFormulas(nl, 1).size() == 1);
  EXPECT_FAILS(p, KRVNdelcoef(nl, 1, 2), "row 1 has no nonlinear coefficient for column 2");
  EXPECT_FAILS(p, KRVNdelcoef(nl, 2, 0), "no nonlinear coefficient for column 0");
  EXPECT_FAILS(p, KRVNsetrowstatus(nl, 2, 0), "row 2 still has 1 nonlinear formulas");
  EXPECT_OK(p, KRVNdelrowcoefs(nl, 2));
  EXPECT_OK(p, KRVNdelrowcoefs(nl, 2));
  EXPECT(rowStatus(nl, 2) == 1);
  EXPECT_OK(p, KRVNsetrowstatus(nl, 2, 0));
  EXPECT(rowStatus(nl, 2) == 0);
  int st = -1;
  EXPECT_FAILS(p, KRVNsetrowstatus(nl, 2, 2), "status 2 is not 0 or 1");
  EXPECT_FAILS(p, KRVNgetrowstatus(nl, KRVN_OBJROW, &st), "row -1 is out of range");

  // deleting row 0 moves row 1's formulas and status to row 0
  const int r0[] = {0};
  EXPECT_OK(p, KRVXdelrows_witharraysizes(p, 1, r0, 1));
  auto rows = readFormulas(nl, KRVN_ALLROWS);
  EXPECT(rows.size() == 2 && rows[0].row == 0 && rows[0].factor == 2.0 && rows[1].row == KRVN_OBJROW);
  EXPECT(rowStatus(nl, 0) == 1 && rowStatus(nl, 1) == 0);

  // a column a formula uses (in its tokens or as its column) cannot be deleted; others renumber
  const std::string before = snapshot(p);
  const int c3[] = {3}, c1[] = {1}, c0[] = {0};
  EXPECT_FAILS(p, KRVXdelcols_witharraysizes(p, 1, c3, 1), "column 3 is used by a nonlinear formula of row 0");
  EXPECT_FAILS(p, KRVXdelcols_witharraysizes(p, 1, c1, 1), "column 1 is used by a nonlinear formula");
  EXPECT(snapshot(p) == before);
  EXPECT_OK(p, KRVXdelcols_witharraysizes(p, 1, c0, 1));
  rows = readFormulas(nl, KRVN_ALLROWS);
  EXPECT(rows.size() == 2 && rows[0].toks == (Tokens{X(0), X(2), Op(3), End()}));
  EXPECT(rows.size() == 2 && rows[1].col == 0 && rows[1].toks == (Tokens{X(2), End()}));

  // resetting a column drops every formula that uses it, then the column can go
  EXPECT_OK(p, KRVNresetcol(nl, 2));
  EXPECT(formulaCount(nl) == 0);
  EXPECT_OK(p, KRVXdelcols_witharraysizes(p, 1, c1, 1));
  KRVXdestroyprob(p);
}

void userFunctionsAndSolve() {
  tagKRVNproblem *nl;
  KRVXprob p = g_p = nlProblem(2, 1, &nl);
  int a = 0, b = 0, c = 0, idx = 0;
  EXPECT_OK(p, KRVNadduserfunction(nl, "<lambda>", KRVN_FUNCTYPE_VALUE, 1, 1, 0, (void *)square, nullptr, &a));
  EXPECT_OK(p, KRVNadduserfunction(nl, "<lambda>", KRVN_FUNCTYPE_VALUE, 1, 1, 0, (void *)square, nullptr, &b));
  EXPECT(a == 1 && b == 2);
  EXPECT(KRVXgetindex(p, 7, "<lambda>", &idx) == 0 && idx == 1);
  EXPECT(KRVXgetindex(p, 7, "other", &idx) == 0 && idx == -1);
  const std::string longName(64, 'n');
  const struct { const char *name; int type, nin, nout; bool func; const char *part; } badFns[] = {
      {longName.c_str(), 2, 1, 1, true, "longer than 63 bytes"}, {"f", 3, 1, 1, true, "function type 3"},
      {"f", 2, 0, 1, true, "argument count 0"}, {"f", 2, 1, 2, true, "result count 2"},
      {"f", 2, 1, 1, false, "'func' is NULL"}};
  for (const auto &f : badFns)
    EXPECT_FAILS(p, KRVNadduserfunction(nl, f.name, f.type, f.nin, f.nout, 0, f.func ? (void *)square : nullptr,
                                        nullptr, &c), f.part);
  EXPECT_FAILS(p, KRVNsetfunctionerror(nl), "no user function of this problem is being evaluated");

  // a formula cannot be written to MPS or LP files (solving: test_nlp.cpp)
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  EXPECT_OK(p, addFormula(nl, 0, KRVN_NOCOL, 1.0, {RB(), X(0), UF(a), End()}));
  EXPECT_FAILS(p, KRVXwriteprob(p, "krvx_test_nl.mps", ""), "nonlinear formulas, which MPS and LP files cannot hold");
  EXPECT_OK(p, KRVNdelrowcoefs(nl, 0));
  EXPECT_OK(p, KRVXlpoptimize(p, ""));

  // a formula with a user function cannot be saved or copied; plain formulas can
  EXPECT_OK(p, addFormula(nl, -1, 1, 2.0, {RB(), X(0), UF(b), End()}));
  EXPECT_FAILS(p, KRVXsaveas(p, "krvx_test_nl_user"), "user function '<lambda>', and user functions cannot be saved");
  KRVXprob q = newProblem();
  EXPECT_FAILS(q, KRVXcopyprob(q, p, "copy"), "uses user function 2, which this problem does not have");
  EXPECT_OK(p, KRVNdelrowcoefs(nl, KRVN_OBJROW));
  const Tokens t{RB(), C(2), X(1), Op(KRVN_OP_POWER), Fn(KRVN_FN_LN), End()};
  EXPECT_OK(p, addFormulas(nl, {{0, 1, 0.5, t}, {-1, KRVN_NOCOL, -1.0, t}}));
  EXPECT_OK(p, KRVXsaveas(p, "krvx_test_nl"));
  KRVXprob r = newProblem();
  tagKRVNproblem *rnl;
  KRVXnlpcreateprob(r, &rnl);
  EXPECT_OK(r, KRVXrestore(r, "krvx_test_nl", ""));
  std::remove("krvx_test_nl.svf");
  auto back = readFormulas(rnl, KRVN_ALLROWS);
  EXPECT(back.size() == 2 && back[0].row == 0 && back[0].col == 1 && back[0].factor == 0.5 && back[0].toks == t);
  EXPECT(back.size() == 2 && back[1].row == KRVN_OBJROW && back[1].factor == -1.0);
  EXPECT_OK(q, KRVXcopyprob(q, p, "copy"));
  tagKRVNproblem *qnl;
  KRVXnlpcreateprob(q, &qnl);
  EXPECT(readFormulas(qnl, KRVN_ALLROWS).size() == 2);

  // loading a new problem drops the formulas and the user functions
  const double obj[] = {1};
  const int64_t start[] = {0, 0};
  EXPECT_OK(p, KRVXloadlp64_witharraysizes(p, "fresh", 1, 0, nullptr, 0, nullptr, 0, nullptr, 0, obj, 1, start, 2,
                                          nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT(formulaCount(nl) == 0 && KRVXgetindex(p, 7, "<lambda>", &idx) == 0 && idx == -1);
  EXPECT_FAILS(p, addFormula(nl, -1, KRVN_NOCOL, 1.0, {RB(), X(0), UF(1), End()}), "user function 1 is not registered");
  KRVXdestroyprob(p);
  KRVXdestroyprob(q);
  KRVXdestroyprob(r);
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  handleAndAttributes();
  goodStreams();
  badStreams();
  deleting();
  userFunctionsAndSolve();
  KRVXfree();
  return finish("test_nl");
}
