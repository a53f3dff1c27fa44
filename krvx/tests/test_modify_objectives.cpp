// Objectives (several, solved lexicographically), quadratic matrices, entity fixing, marks,
// scaling, indicator/piecewise-linear/general constraint storage, and save/restore of it all.
#include "testutil.h"
#include "core/store.h"

#include <cmath>
#include <vector>

namespace {

bool near(double a, double b) { return std::fabs(a - b) < 1e-6; }

// x + y <= 8, 3x + y <= 18, x + 2y <= 14, x, y >= 0; main objective x + y, maximised.
KRVXprob lp(bool integer = false) {
  KRVXprob p = newProblem();
  char rt[] = {'L', 'L', 'L'};
  double rhs[] = {8, 18, 14}, obj[] = {1, 1};
  int64_t start[] = {0, 3, 6};
  int ind[] = {0, 1, 2, 0, 1, 2};
  double val[] = {1, 3, 1, 1, 1, 2};
  EXPECT_OK(p, KRVXloadlp64_witharraysizes(p, "multi", 2, 3, rt, 3, rhs, 3, nullptr, 0, obj, 2, start, 3, nullptr, 0,
                                          ind, 6, val, 6, nullptr, 0, nullptr, 0));
  EXPECT_OK(p, KRVXchgobjsense(p, -1));
  if (integer) {
    int c[] = {0, 1};
    char t[] = {'I', 'I'};
    EXPECT_OK(p, KRVXchgcoltype(p, 2, c, t));
  }
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  return p;
}

// Solves and checks x and the main objective's value.
void expectSolution(KRVXprob p, double x0, double x1, double objval) {
  int solvestatus = -1, solstatus = -1;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  double x[2] = {-1, -1}, v = 0;
  int st = 0;
  EXPECT_OK(p, KRVXgetsolution(p, &st, x, 0, 1));
  KRVXgetdblattrib(p, KRVX_OBJVAL, &v);
  EXPECT(solstatus == KRVX_SOLSTATUS_OPTIMAL && near(x[0], x0) && near(x[1], x1) && near(v, objval));
  if (!(near(x[0], x0) && near(x[1], x1) && near(v, objval)))
    std::fprintf(stderr, "  got x = (%g, %g), objval %g\n", x[0], x[1], v);
}

void testSeveralObjectives() {
  for (bool integer : {false, true}) {
    KRVXprob p = lp(integer);
    int cx = 0, cy = 1;
    double one = 1;
    // x first (priority 1), then x + y: (6, 0)
    EXPECT_OK(p, KRVXaddobj_witharraysizes(p, 1, &cx, 1, &one, 1, 1, 1.0));
    expectSolution(p, 6, 0, 6);
    // y after the main objective instead: x + y = 8 first, then y: (2, 6)
    EXPECT_OK(p, KRVXdelobj(p, 1));
    EXPECT_OK(p, KRVXaddobj_witharraysizes(p, 1, &cy, 1, &one, 1, -1, 1.0));
    expectSolution(p, 2, 6, 8);
    // the same priority blends: x + y + x = 2x + y: (5, 3)
    EXPECT_OK(p, KRVXchgobjn_witharraysizes(p, 1, 2, (const int[]){0, 1}, 2, (const double[]){1, 0}, 2));
    EXPECT(p->objectives[0].coefs.size() == 1 && p->objectives[0].coefs[0].index == 0);
    p->objectives[0].priority = 0;   // no call sets priorities after adding
    p->highs_stale = true;
    expectSolution(p, 5, 3, 8);
    // minimising: a negative weight maximises x first, then minimises x + y: (6, 0)
    EXPECT_OK(p, KRVXdelobj(p, 1));
    EXPECT_OK(p, KRVXchgobjsense(p, 1));
    EXPECT_OK(p, KRVXaddobj_witharraysizes(p, 1, &cx, 1, &one, 1, 5, -1.0));
    expectSolution(p, 6, 0, 6);
    KRVXdestroyprob(p);
  }
  KRVXprob p = lp();
  int c = 0;
  double q = 2, one = 1;
  EXPECT_FAILS(p, KRVXchgobjsense(p, 2), "objective sense 2");
  EXPECT_FAILS(p, KRVXaddobj_witharraysizes(p, 1, &c, 1, &one, 1, 0, NAN), "weight");
  EXPECT_FAILS(p, KRVXchgobjn_witharraysizes(p, 1, 1, &c, 1, &one, 1), "objective 1 does not exist");
  EXPECT_FAILS(p, KRVXdelobj(p, 1), "objective 1 does not exist");
  EXPECT_OK(p, KRVXaddobj_witharraysizes(p, 1, &c, 1, &one, 1, 1, 1.0));
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, -1, 1, &c, 1, &c, 1, &q, 1));
  EXPECT_FAILS(p, KRVXlpoptimize(p, ""), "several objectives together with a quadratic objective");
  // deleting objective 0 empties the main objective; the others stay
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 6, "main\0second", 12, 2, 0, 1));
  EXPECT_OK(p, KRVXdelobj(p, 0));
  EXPECT(p->objectives.size() == 1 && p->cols[0].cost == 0 && p->qobj.empty());
  EXPECT_OK(p, KRVXdelobj(p, 1));
  int idx = 0;
  EXPECT(KRVXgetindex(p, 6, "second", &idx) == 0 && idx == -1);
  KRVXdestroyprob(p);
}

// Every change drops the solution and reaches the next solve of the kept solver instance.
void testChangesReachTheSolver() {
  KRVXprob p = lp();
  expectSolution(p, 5, 3, 8);
  int r = 0;
  double rhs = 6;
  EXPECT_OK(p, KRVXchgrhs(p, 1, &r, &rhs));
  int64_t st = -1;
  KRVXgetintattrib64(p, KRVX_SOLSTATUS, &st);
  EXPECT(st == KRVX_SOLSTATUS_NOTFOUND);
  expectSolution(p, 6, 0, 6);
  int c = 0;
  double ub = 1;
  EXPECT_OK(p, KRVXchgbounds(p, 1, &c, "B", &ub));
  expectSolution(p, 1, 5, 6);
  char G = 'G';
  double one = 1;
  EXPECT_OK(p, KRVXaddrows(p, 1, 1, &G, &one, nullptr, (const int[]){0}, &c, &one));   // x >= 1 (x = 1 already)
  int dr = 0;
  EXPECT_OK(p, KRVXdelrows_witharraysizes(p, 1, &dr, 1));   // x + y <= 6 gone: 3x + y <= 18, x + 2y <= 14
  expectSolution(p, 1, 6.5, 7.5);
  KRVXdestroyprob(p);
}

void testQuadratic() {
  // minimise -2x + x^2 (objective scale c'x + 1/2 x'Qx, Q00 = 2): x = 1, value -1
  KRVXprob p = newProblem();
  KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
  double cost = -2, ub = 10;
  EXPECT_OK(p, KRVXaddcols(p, 2, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  int c0 = 0;
  EXPECT_OK(p, KRVXchgobj(p, 1, &c0, &cost));
  EXPECT_OK(p, KRVXchgbounds(p, 1, &c0, "U", &ub));
  int q1[] = {0, 1, 0}, q2[] = {0, 0, 1};
  double qv[] = {1, 0.5, 0.25};   // (1,0) and (0,1) are one entry: summed
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, -1, 3, q1, 3, q2, 3, qv, 3));
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, -1, 1, q1, 1, q1, 1, qv, 1));   // adds: Q00 = 2
  double v = 0;
  EXPECT_OK(p, KRVXgetqobj(p, 1, 0, &v));
  EXPECT(v == 0.75);
  EXPECT_OK(p, KRVXgetqobj(p, 0, 0, &v));
  EXPECT(v == 2);
  EXPECT_OK(p, KRVXgetqobj(p, 1, 1, &v));
  EXPECT(v == 0);
  EXPECT_FAILS(p, KRVXgetqobj(p, 2, 0, &v), "outside");
  double zero[] = {-0.75};
  int q01a[] = {0}, q01b[] = {1};
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, -1, 1, q01a, 1, q01b, 1, zero, 1));
  EXPECT(p->qobj.size() == 1);   // cancelled entries leave the matrix
  int sol = 0;
  double x[2];
  EXPECT_OK(p, KRVXlpoptimize(p, ""));
  EXPECT_OK(p, KRVXgetsolution(p, &sol, x, 0, 1));
  KRVXgetdblattrib(p, KRVX_OBJVAL, &v);
  EXPECT(near(x[0], 1) && near(v, -1));
  // rows
  char rt = 'L';
  double rhs = 4;
  EXPECT_OK(p, KRVXaddrows(p, 1, 0, &rt, &rhs, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FAILS(p, KRVXaddqmatrix64_witharraysizes(p, 1, 1, q1, 1, q2, 1, qv, 1), "row 1 is invalid");
  EXPECT_FAILS(p, KRVXaddqmatrix64_witharraysizes(p, -2, 1, q1, 1, q2, 1, qv, 1), "row -2 is invalid");
  EXPECT_FAILS(p, KRVXaddqmatrix64_witharraysizes(p, 0, 2, q1, 2, q2, 1, qv, 2), "rowqcol2");
  int r1[] = {1, 0}, r2[] = {0, 0};
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, 0, 2, r1, 2, r2, 2, qv, 2));
  EXPECT(p->qrows.size() == 1 && p->qrows[0].size() == 2 && p->qrows[0][0].i == 0 && p->qrows[0][0].j == 0 &&
        p->qrows[0][1].i == 0 && p->qrows[0][1].j == 1 && p->qrows[0][1].value == 1);
  EXPECT_OK(p, KRVXdelqmatrix(p, 0));
  EXPECT_OK(p, KRVXdelqmatrix(p, -1));
  EXPECT(p->qrows[0].empty() && p->qobj.empty());
  KRVXdestroyprob(p);
}

void testEntitiesMarksScaling() {
  KRVXprob p = lp(true);
  EXPECT_FAILS(p, KRVXfixmipentities(p, 0), "no MIP solution");
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  EXPECT_FAILS(p, KRVXfixmipentities(p, 2), "options 2");
  EXPECT_OK(p, KRVXfixmipentities(p, 0));
  EXPECT(p->cols[0].lb == p->cols[0].ub && p->cols[1].lb == p->cols[1].ub && p->cols[0].lb + p->cols[1].lb == 8);
  EXPECT(p->cols[0].type == 'I' && !p->sol.has_x);
  int s = 1;
  double lim = 2.5;
  EXPECT_FAILS(p, KRVXchgglblimit_witharraysizes(p, 1, &s, 1, &lim, 1), "type I");
  char S = 'S';
  EXPECT_OK(p, KRVXchgcoltype(p, 1, &s, &S));
  EXPECT_OK(p, KRVXchgglblimit_witharraysizes(p, 1, &s, 1, &lim, 1));
  EXPECT(krvx::colLimit(*p, 1) == 2.5);

  int rows[] = {2, 0, 2};
  EXPECT_OK(p, KRVXloadmodelcuts_witharraysizes(p, 3, rows, 3));
  EXPECT_OK(p, KRVXloaddelayedrows_witharraysizes(p, 1, rows, 1));
  EXPECT_FAILS(p, KRVXloaddelayedrows_witharraysizes(p, 1, (const int[]){3}, 1), "outside");
  EXPECT(p->modelcut == std::vector<char>({1, 0, 1}) && p->delayed == std::vector<char>({0, 0, 1}));

  int rs[3] = {9, 9, 9}, cs[2] = {9, 9};
  EXPECT_OK(p, KRVXgetscale_witharraysizes(p, rs, 3, cs, 2));
  EXPECT(rs[0] == 0 && cs[1] == 0);
  int nr[] = {1, -2, 3}, nc[] = {4, 5};
  EXPECT_OK(p, KRVXscale_witharraysizes(p, nr, 3, nullptr, 0));
  EXPECT_FAILS(p, KRVXscale_witharraysizes(p, nr, 2, nc, 2), "the problem has 3 rows");
  EXPECT_OK(p, KRVXscale_witharraysizes(p, nullptr, 0, nc, 2));
  EXPECT_FAILS(p, KRVXgetscale_witharraysizes(p, rs, 3, cs, 3), "colscale");
  EXPECT_OK(p, KRVXgetscale_witharraysizes(p, rs, 3, cs, 2));
  EXPECT(rs[1] == -2 && rs[2] == 3 && cs[0] == 4 && cs[1] == 5);
  KRVXdestroyprob(p);
}

void testIndicators(KRVXprob p) {
  int r[] = {0, 2}, c[] = {2, 2}, comp[] = {1, -1};
  EXPECT_FAILS(p, KRVXsetindicators_witharraysizes(p, 2, r, 2, c, 2, comp, 2), "not binary");
  char B = 'B';
  EXPECT_OK(p, KRVXchgcoltype(p, 1, c, &B));
  char N = 'N';
  EXPECT_OK(p, KRVXchgrowtype(p, 1, r + 1, &N));
  EXPECT_FAILS(p, KRVXsetindicators_witharraysizes(p, 2, r, 2, c, 2, comp, 2), "type N");
  char G = 'G';
  EXPECT_OK(p, KRVXchgrowtype(p, 1, r + 1, &G));
  int bad[] = {2, 2};
  EXPECT_FAILS(p, KRVXsetindicators_witharraysizes(p, 2, r, 2, c, 2, bad, 2), "complement");
  EXPECT_OK(p, KRVXsetindicators_witharraysizes(p, 2, r, 2, c, 2, comp, 2));
  char C = 'C';
  EXPECT_FAILS(p, KRVXchgcoltype(p, 1, c, &C), "must stay binary");
  EXPECT_FAILS(p, KRVXchgrowtype(p, 1, r, &N), "indicator");
  int gc[3], gm[3];
  EXPECT_OK(p, KRVXgetindicators_witharraysizes(p, gc, 3, gm, 3, 0, 2));
  EXPECT(gc[0] == 2 && gm[0] == 1 && gc[1] == -1 && gm[1] == 0 && gc[2] == 2 && gm[2] == -1);
  EXPECT_OK(p, KRVXgetindicators_witharraysizes(p, nullptr, 0, nullptr, 0, 2, 1));
  EXPECT_FAILS(p, KRVXgetindicators_witharraysizes(p, gc, 2, gm, 2, 0, 2), "colind");
  EXPECT_FAILS(p, KRVXgetindicators_witharraysizes(p, gc, 3, gm, 3, -1, 1), "range");
  EXPECT_OK(p, KRVXdelindicators(p, 0, 1));
  EXPECT_OK(p, KRVXgetindicators_witharraysizes(p, gc, 1, gm, 1, 0, 0));
  EXPECT(gm[0] == 0 && p->indicators[2].complement == -1);
}

void testPwl(KRVXprob p) {
  int64_t np = -1;
  EXPECT_OK(p, KRVXgetpwlcons64_witharraysizes(p, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, 0, &np, 0, -1));
  int64_t st1[1] = {7};
  EXPECT_OK(p, KRVXgetpwlcons64_witharraysizes(p, nullptr, 0, nullptr, 0, st1, 1, nullptr, 0, nullptr, 0, 0, &np, 0, -1));
  EXPECT(np == 0 && st1[0] == 0);
  int col[] = {0, 1}, res[] = {1, 0};
  double xv[] = {0, 1, 1, 2, 5}, yv[] = {0, 1, 2, 3, 4};
  for (int64_t n : {2, 3}) {
    int64_t start[] = {0, 3, 5};
    EXPECT_OK(p, KRVXaddpwlcons64_witharraysizes(p, 2, 5, col, 2, res, 2, start, n, xv, 5, yv, 5));
  }
  EXPECT(p->pwls.size() == 4 && p->pwls[1].x.size() == 2 && p->pwls[2].x == std::vector<double>({0, 1, 1}));
  int64_t start[] = {0, 3};
  double down[] = {0, 2, 1, 2, 5};
  EXPECT_FAILS(p, KRVXaddpwlcons64_witharraysizes(p, 2, 5, col, 2, res, 2, start, 2, down, 5, yv, 5), "decrease");
  int64_t empty[] = {0, 0};
  EXPECT_FAILS(p, KRVXaddpwlcons64_witharraysizes(p, 2, 5, col, 2, res, 2, empty, 2, xv, 5, yv, 5), "no points");
  EXPECT_FAILS(p, KRVXaddpwlcons64_witharraysizes(p, 1, 5, col, 1, col, 1, start, 1, xv, 5, yv, 5), "input and resultant");
  EXPECT_FAILS(p, KRVXaddpwlcons64_witharraysizes(p, 2, 5, col, 2, res, 2, start, 2, xv, 5, yv, 4), "yval");
  EXPECT(p->pwls.size() == 4);
  // two calls over constraints 1..2
  EXPECT_OK(p, KRVXgetpwlcons64_witharraysizes(p, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, 0, &np, 1, 2));
  EXPECT(np == 5);
  int gc[2], gr[2];
  int64_t gs[3];
  double gx[5], gy[5];
  EXPECT_FAILS(p, KRVXgetpwlcons64_witharraysizes(p, gc, 2, gr, 2, gs, 3, gx, 5, gy, 5, 4, &np, 1, 2), "maxpoints");
  EXPECT_FAILS(p, KRVXgetpwlcons64_witharraysizes(p, gc, 2, gr, 2, gs, 2, gx, 5, gy, 5, 5, &np, 1, 2), "start");
  EXPECT_OK(p, KRVXgetpwlcons64_witharraysizes(p, gc, 2, gr, 2, gs, 3, gx, 5, gy, 5, 5, &np, 1, 2));
  EXPECT(gc[0] == 1 && gr[0] == 0 && gc[1] == 0 && gs[0] == 0 && gs[1] == 2 && gs[2] == 5 && gx[2] == 0 && gy[4] == 2);
  EXPECT_FAILS(p, KRVXgetpwlcons64_witharraysizes(p, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, 0, &np, 1, 4), "range");
  int del[] = {2, 0};
  EXPECT_FAILS(p, KRVXdelpwlcons_witharraysizes(p, 2, (const int[]){1, 1}, 2), "twice");
  EXPECT_OK(p, KRVXdelpwlcons_witharraysizes(p, 2, del, 2));
  EXPECT(p->pwls.size() == 2 && p->pwls[0].x.size() == 2 && p->pwls[1].x.size() == 2);
}

void testGenCons(KRVXprob p) {
  // columns 0, 1 continuous, 2 binary; add binary columns 3, 4
  double ub[] = {1, 1};
  EXPECT_OK(p, KRVXaddcols(p, 2, 0, nullptr, nullptr, nullptr, nullptr, nullptr, ub));
  int bc[] = {3, 4};
  char bt[] = {'B', 'B'};
  EXPECT_OK(p, KRVXchgcoltype(p, 2, bc, bt));
  int type[] = {0, 2, 4}, res[] = {0, 4, 1};
  int64_t cs[] = {0, 1, 3};
  int ci[] = {1, 2, 3, 0};
  int64_t vs[] = {0, 2, 2};
  double val[] = {1.5, -2};
  EXPECT_OK(p, KRVXaddgencons64_witharraysizes(p, 3, 4, 2, type, 3, res, 3, cs, 3, ci, 4, vs, 3, val, 2));
  EXPECT(p->gencons.size() == 3 && p->gencons[0].cols == std::vector<int>({1}) && p->gencons[0].vals.size() == 2);
  int band[] = {2};
  EXPECT_FAILS(p, KRVXaddgencons64_witharraysizes(p, 1, 1, 0, band, 1, res + 1, 1, cs, 1, ci, 1, vs, 1, nullptr, 0),
              "not binary");
  int babs[] = {4};
  EXPECT_FAILS(p, KRVXaddgencons64_witharraysizes(p, 1, 2, 0, babs, 1, res, 1, cs, 1, ci + 1, 2, vs, 1, nullptr, 0),
              "exactly one column");
  int b7[] = {7};
  EXPECT_FAILS(p, KRVXaddgencons64_witharraysizes(p, 1, 1, 0, b7, 1, res, 1, cs, 1, ci, 1, vs, 1, nullptr, 0), "contype");
  char C = 'C';
  EXPECT_FAILS(p, KRVXchgcoltype(p, 1, bc, &C), "general constraint 1");
  int del[] = {3};
  EXPECT_FAILS(p, KRVXdelcols_witharraysizes(p, 1, del, 1), "general constraint 1");
  int64_t nc = -1, nv = -1;
  EXPECT_OK(p, KRVXgetgencons64_witharraysizes(p, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, 0, &nc, nullptr, 0,
                                              nullptr, 0, 0, &nv, 0, 2));
  EXPECT(nc == 4 && nv == 2);
  int gt[3], gr[3], gci[4];
  int64_t gcs[4], gvs[4];
  double gv[2];
  EXPECT_OK(p, KRVXgetgencons64_witharraysizes(p, gt, 3, gr, 3, gcs, 4, gci, 4, 4, &nc, gvs, 4, gv, 2, 2, &nv, 0, 2));
  EXPECT(gt[1] == 2 && gr[2] == 1 && gcs[1] == 1 && gcs[3] == 4 && gci[3] == 0 && gvs[1] == 2 && gv[1] == -2);
  int64_t one[1];
  EXPECT_OK(p, KRVXgetgencons64_witharraysizes(p, nullptr, 0, nullptr, 0, one, 1, nullptr, 0, 0, &nc, one, 1, nullptr, 0,
                                              0, &nv, 1, 0));
  EXPECT(nc == 0 && nv == 0 && one[0] == 0);
  EXPECT_OK(p, KRVXdelgencons_witharraysizes(p, 1, (const int[]){0}, 1));
  EXPECT(p->gencons.size() == 2 && p->gencons[0].type == 2);
}

void testStoredConstraints() {
  KRVXprob p = lp();
  EXPECT_OK(p, KRVXaddcols(p, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  testIndicators(p);
  testPwl(p);
  testGenCons(p);
  int64_t n = 0;
  EXPECT_OK(p, KRVXgetintattrib64(p, KRVX_PWLCONS, &n));
  EXPECT(n == 2);
  EXPECT_OK(p, KRVXgetintattrib64(p, KRVX_GENCONS, &n));
  EXPECT(n == 2);
  // everything new survives saving and restoring
  int c = 1, r = 0;
  double one = 1;
  EXPECT_OK(p, KRVXaddobj_witharraysizes(p, 1, &c, 1, &one, 1, 3, 2.0));
  EXPECT_OK(p, KRVXaddqmatrix64_witharraysizes(p, 0, 1, &c, 1, &c, 1, &one, 1));
  EXPECT_OK(p, KRVXloadmodelcuts_witharraysizes(p, 1, &r, 1));
  EXPECT_OK(p, KRVXscale_witharraysizes(p, (const int[]){1, 2, 3}, 3, nullptr, 0));
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 4, "pa\0pb", 6, 2, 0, 1));
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 5, "g1", 3, 1, 1, 1));
  const std::string before = snapshot(p);
  EXPECT_OK(p, KRVXsaveas(p, "krvx_test_modify_objectives"));
  KRVXprob q = newProblem();
  EXPECT_OK(q, KRVXrestore(q, "krvx_test_modify_objectives", ""));
  std::remove("krvx_test_modify_objectives.svf");
  EXPECT(snapshot(q) == before);
  EXPECT(q->objectives.size() == 1 && q->objectives[0].priority == 3 && q->pwls.size() == 2 && q->gencons.size() == 2);
  int idx = -1;
  EXPECT(KRVXgetindex(q, 4, "pb", &idx) == 0 && idx == 1);
  KRVXdestroyprob(q);
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  testSeveralObjectives();
  testChangesReachTheSolver();
  testQuadratic();
  testEntitiesMarksScaling();
  testStoredConstraints();
  KRVXfree();
  return finish("test_modify_objectives");
}
