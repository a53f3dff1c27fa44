// Control and attribute tables, typed access with its checks, and the solution getters.
#include "testutil.h"
#include "core/store.h"

#include <cmath>
#include <limits>
#include <set>
#include <vector>

namespace {

void controlTable(KRVXprob p) {
  std::set<int> ids;
  char name[64];
  int id = 0, type = 0, i = 0;
  for (; KRVXgetcontrolbyindex(i, name, &id, &type) == 0; ++i) {
    EXPECT(ids.insert(id).second);
    int id2 = 0, type2 = 0;
    EXPECT_OK(p, KRVXgetcontrolinfo(p, name, &id2, &type2));
    EXPECT(id2 == id && type2 == type);
    // every control reads back its default, and setting the default again changes nothing
    if (type == KRVX_TYPE_INT) {
      int v = 0;
      EXPECT_OK(p, KRVXgetintcontrol(p, id, &v));
      EXPECT_OK(p, KRVXsetintcontrol(p, id, v));
    } else if (type == KRVX_TYPE_DOUBLE) {
      double v = 0;
      EXPECT_OK(p, KRVXgetdblcontrol(p, id, &v));
      EXPECT_OK(p, KRVXsetdblcontrol(p, id, v));
    }
  }
  EXPECT(contains(lastError(nullptr), "KRVXgetcontrolbyindex: index"));
  for (int want : {KRVX_TIMELIMIT, KRVX_MIPRELSTOP, KRVX_MIPABSSTOP, KRVX_FEASTOL, KRVX_OPTIMALITYTOL, KRVX_MIPTOL,
                   KRVX_THREADS, KRVX_PRESOLVE, KRVX_OUTPUTLOG, KRVX_LPITERLIMIT, KRVX_MAXNODE, KRVX_MAXIIS,
                   KRVX_DEFAULTALG})
    EXPECT(ids.count(want) == 1);
  // names are matched case-insensitively; unknown names give id -1 and NOTDEFINED
  EXPECT_OK(p, KRVXgetcontrolinfo(p, "MipTol", &id, &type));
  EXPECT(id == KRVX_MIPTOL && type == KRVX_TYPE_DOUBLE);
  EXPECT_OK(p, KRVXgetcontrolinfo(p, "nosuchcontrol", &id, &type));
  EXPECT(id == -1 && type == KRVX_TYPE_NOTDEFINED);
  EXPECT_OK(p, KRVXgetcontrolinfo(p, "threads", &id, nullptr));
  EXPECT(id == KRVX_THREADS);
  EXPECT_OK(nullptr, KRVXgetcontrolinfo(nullptr, "maxiis", &id, &type));
  EXPECT(id == KRVX_MAXIIS);
}

void controlValues(KRVXprob p) {
  double d = 0;
  int v = 0;
  int64_t v64 = 0;
  EXPECT_OK(p, KRVXgetdblcontrol(p, KRVX_MIPTOL, &d));
  EXPECT(d == 5e-6);
  EXPECT_OK(p, KRVXgetintcontrol(p, KRVX_MAXIIS, &v));
  EXPECT(v == -1);
  EXPECT_FAILS(p, KRVXsetdblcontrol(p, KRVX_THREADS, 2.0), "KRVXsetdblcontrol: Control 8003 is an integer control");
  EXPECT_FAILS(p, KRVXsetintcontrol(p, KRVX_FEASTOL, 1), "Control 8104 is a double control");
  EXPECT_FAILS(p, KRVXgetdblcontrol(p, KRVX_PRESOLVE, &d), "Control 8004 is an integer control");
  EXPECT_FAILS(p, KRVXsetintcontrol(p, KRVX_THREADS, -1), "Value -1 out of range for control 'threads'");
  EXPECT_FAILS(p, KRVXsetintcontrol64(p, KRVX_MAXNODE, int64_t(1) << 40), "out of range for control 'maxnode'");
  EXPECT_FAILS(p, KRVXsetdblcontrol(p, KRVX_MIPTOL, std::nan("")), "out of range for control 'miptol'");
  EXPECT_FAILS(p, KRVXsetintcontrol(p, 4242, 1), "Unknown control id 4242");
  EXPECT_FAILS(p, KRVXsetdefaultcontrol(p, 4242), "Unknown control id 4242");
  EXPECT_FAILS(p, KRVXsetstrcontrol(p, KRVX_THREADS, "x"), "Control 8003 is an integer control");
  EXPECT_OK(p, KRVXsetintcontrol64(p, KRVX_THREADS, 4));
  EXPECT_OK(p, KRVXgetintcontrol64(p, KRVX_THREADS, &v64));
  EXPECT(v64 == 4);
  EXPECT_OK(p, KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 12.5));
  EXPECT_OK(p, KRVXsetdefaultcontrol(p, KRVX_THREADS));
  EXPECT_OK(p, KRVXgetintcontrol(p, KRVX_THREADS, &v));
  EXPECT(v == 0);
  EXPECT_OK(p, KRVXgetdblcontrol(p, KRVX_TIMELIMIT, &d));
  EXPECT(d == 12.5);
  EXPECT_OK(p, KRVXsetdefaults(p));
  EXPECT_OK(p, KRVXgetdblcontrol(p, KRVX_TIMELIMIT, &d));
  EXPECT(d == 0);
  // controls are per problem
  KRVXprob q = newProblem();
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_PRESOLVE, 0));
  EXPECT_OK(q, KRVXgetintcontrol(q, KRVX_PRESOLVE, &v));
  EXPECT(v == 1);
  KRVXdestroyprob(q);
}

void attributes(KRVXprob p) {
  char name[64];
  int id = 0, type = 0;
  std::set<int> ids;
  for (int i = 0; KRVXgetattribbyindex(i, name, &id, &type) == 0; ++i) {
    EXPECT(ids.insert(id).second);
    int id2 = 0, type2 = 0;
    EXPECT_OK(p, KRVXgetattribinfo(p, name, &id2, &type2));
    EXPECT(id2 == id && type2 == type);
    if (type == KRVX_TYPE_DOUBLE) {
      double d = -1;
      EXPECT_OK(p, KRVXgetdblattrib(p, id, &d));
      EXPECT_FAILS(p, KRVXgetintattrib64(p, id, nullptr), "argument 'value' is NULL");
      int64_t v = 0;
      EXPECT_FAILS(p, KRVXgetintattrib64(p, id, &v), "is a double attribute");
    } else {
      int64_t v = -1;
      int v32 = -1;
      EXPECT_OK(p, KRVXgetintattrib64(p, id, &v));
      EXPECT_OK(p, KRVXgetintattrib(p, id, &v32));
      EXPECT(v == v32);
    }
  }
  EXPECT(ids.size() == 26);
  EXPECT_OK(p, KRVXgetattribinfo(p, "OriginalCols", &id, &type));
  EXPECT(id == KRVX_ORIGINALCOLS && type == KRVX_TYPE_INT);
  EXPECT_OK(p, KRVXgetattribinfo(p, "nonesuch", &id, &type));
  EXPECT(id == -1 && type == KRVX_TYPE_NOTDEFINED);
  int v = 0;
  EXPECT_FAILS(p, KRVXgetintattrib(p, 9999, &v), "KRVXgetintattrib: Unknown attribute id 9999");
  double d = 0;
  EXPECT_FAILS(p, KRVXgetdblattrib(p, KRVX_ROWS, &d), "Attribute 1001 is an integer attribute");
  // solution-derived attributes read p->sol
  p->sol.simplexiter = int64_t(1) << 33;
  p->sol.objval = 2.5;
  p->sol.solstatus = KRVX_SOLSTATUS_FEASIBLE;
  int64_t v64 = 0;
  EXPECT_OK(p, KRVXgetintattrib64(p, KRVX_SIMPLEXITER, &v64));
  EXPECT(v64 == int64_t(1) << 33);
  EXPECT_FAILS(p, KRVXgetintattrib(p, KRVX_SIMPLEXITER, &v), "does not fit 32 bits");
  EXPECT_OK(p, KRVXgetdblattrib(p, KRVX_OBJVAL, &d));
  EXPECT(d == 2.5);
  EXPECT_OK(p, KRVXgetintattrib(p, KRVX_SOLSTATUS, &v));
  EXPECT(v == KRVX_SOLSTATUS_FEASIBLE);
  p->sol = krvx::Solution();
}

void solutionGetters(KRVXprob p) {
  const char rt[] = {'L', 'L'};
  EXPECT_OK(p, KRVXloadlp64_witharraysizes(p, "sol", 3, 2, rt, 2, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                          nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  int status = -1;
  double x[3] = {-1, -1, -1};
  EXPECT_OK(p, KRVXgetsolution(p, &status, nullptr, 0, 2));
  EXPECT(status == KRVX_SOLSTATUS_NOTFOUND);
  EXPECT_FAILS(p, KRVXgetsolution(p, &status, x, 0, 2), "KRVXgetsolution: Solution is not available");
  p->sol.solstatus = KRVX_SOLSTATUS_OPTIMAL;
  p->sol.has_x = true;
  p->sol.x = {1, 2, 3};
  p->sol.slack = {4, 5};
  EXPECT_OK(p, KRVXgetsolution(p, &status, x, 1, 2));
  EXPECT(status == KRVX_SOLSTATUS_OPTIMAL && x[0] == 2 && x[1] == 3 && x[2] == -1);
  EXPECT_OK(p, KRVXgetslacks(p, nullptr, x, 0, 1));
  EXPECT(x[0] == 4 && x[1] == 5);
  EXPECT_OK(p, KRVXgetsolution(p, &status, x, 2, 1));   // empty range
  EXPECT_FAILS(p, KRVXgetsolution(p, &status, x, 0, 3), "range 0..3 is invalid for 3 columns");
  EXPECT_FAILS(p, KRVXgetslacks(p, &status, x, -1, 0), "range -1..0 is invalid for 2 rows");
  EXPECT_FAILS(p, KRVXgetduals(p, &status, x, 0, 1), "Dual values are not available");
  p->sol.has_duals = true;
  p->sol.duals = {7, 8};
  p->sol.djs = {9, 10, 11};
  EXPECT_OK(p, KRVXgetduals(p, &status, x, 1, 1));
  EXPECT(x[0] == 8);
  EXPECT_OK(p, KRVXgetredcosts(p, &status, x, 0, 2));
  EXPECT(x[0] == 9 && x[2] == 11);
  // any change of the model drops the solution
  EXPECT_OK(p, KRVXloadlp64_witharraysizes(p, "sol", 3, 2, rt, 2, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                          nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT_FAILS(p, KRVXgetsolution(p, &status, x, 0, 2), "Solution is not available");
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  KRVXprob p = newProblem();
  controlTable(p);
  controlValues(p);
  attributes(p);
  solutionGetters(p);
  KRVXdestroyprob(p);
  KRVXfree();
  return finish("test_tables");
}
