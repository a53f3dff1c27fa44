/* krvx.h compiled as C99: a small LP loaded, solved and read back through libkrvx.
 *   minimise -3x - 2y  s.t.  x + y <= 4,  x + 3y <= 6,  0 <= x <= 3,  y >= 0
 * By hand: the vertices (0,0), (3,0), (3,1), (0,2) give 0, -9, -11, -4: optimum -11 at (3, 1). */
#include "krvx.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

#define EXPECT(cond)                                                    \
  do {                                                                  \
    if (!(cond)) {                                                      \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond);        \
      ++failures;                                                       \
    }                                                                   \
  } while (0)

int main(void) {
  KRVXprob prob = NULL;
  const char rowtype[] = {'L', 'L'};
  const double rhs[] = {4, 6}, obj[] = {-3, -2}, lb[] = {0, 0}, ub[] = {3, KRVX_PLUSINFINITY};
  const int64_t start[] = {0, 2, 4};
  const int rowind[] = {0, 1, 0, 1};
  const double coef[] = {1, 1, 1, 3};
  double objval = 0, x[2] = {0, 0};
  int solvestatus = -1, solstatus = -1, value = 0;
  char version[16], err[KRVX_MAXERRLEN + 1];

  EXPECT(KRVXinit(NULL) == 0);
  EXPECT(KRVXgetversion(version) == 0 && strlen(version) > 0);
  EXPECT(KRVXcreateprob(&prob) == 0 && prob != NULL);
  if (!prob) return 1;
  EXPECT(KRVXsetintcontrol(prob, KRVX_OUTPUTLOG, 0) == 0);
  EXPECT(KRVXloadlp64_witharraysizes(prob, "smoke", 2, 2, rowtype, 2, rhs, 2, NULL, 0, obj, 2, start, 3, NULL, 0,
                                     rowind, 4, coef, 4, lb, 2, ub, 2) == 0);
  EXPECT(KRVXoptimize(prob, "", &solvestatus, &solstatus) == 0);
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && solstatus == KRVX_SOLSTATUS_OPTIMAL);
  EXPECT(KRVXgetdblattrib(prob, KRVX_OBJVAL, &objval) == 0 && fabs(objval - -11.0) < 1e-9);
  EXPECT(KRVXgetsolution(prob, NULL, x, 0, 1) == 0 && fabs(x[0] - 3) < 1e-9 && fabs(x[1] - 1) < 1e-9);
  /* a failing call leaves its text */
  EXPECT(KRVXgetintattrib(prob, -5, &value) != 0);
  EXPECT(KRVXgetlasterror(prob, err) == 0 && strlen(err) > 0);
  EXPECT(KRVXdestroyprob(prob) == 0);
  EXPECT(KRVXfree() == 0);
  if (failures) {
    fprintf(stderr, "%d failure(s)\n", failures);
    return 1;
  }
  printf("krvx.h as C99: ok\n");
  return 0;
}
