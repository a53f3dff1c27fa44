// The loader family: a full load, the conventions of each section, and every malformed
// argument refused with the problem left as it was.
#include "testutil.h"
#include "core/store.h"

#include <cmath>
#include <functional>
#include <type_traits>
#include <limits>
#include <vector>

namespace {

template <class T>
const T *ptr(const std::vector<T> &v) { return v.empty() ? nullptr : v.data(); }

// Arguments of the fullest loader; empty vectors go as NULL, 0.
struct Model {
  std::string name = "small";
  int ncols = 4, nrows = 3;
  std::vector<char> rowtype{'L', 'G', 'R'};
  std::vector<double> rhs{4, 1, 10}, rng{0, 0, 3}, obj{1, 2, 0, -1};
  std::vector<int64_t> start{0, 2, 3, 5, 6};
  std::vector<int> collen;
  std::vector<int> rowind{2, 0, 1, 0, 0, 2};   // column 2 holds row 0 twice: summed
  std::vector<double> rowcoef{1, 2, 3, 1, 4, 5};
  std::vector<double> lb{0, -1, 0, -2}, ub{10, 1e20, 5, 3};
  std::vector<int> q1{0, 1, 1}, q2{1, 0, 1};  // (0,1) given in both triangles: summed
  std::vector<double> qv{1, 2, 6};
  std::vector<int> qrowind{1};
  std::vector<int64_t> nrowq{2};
  std::vector<int> rq1{3, 0}, rq2{0, 0};
  std::vector<double> rqv{0.5, 1};
  std::vector<char> coltype{'B', 'S', 'I'};
  std::vector<int> entind{0, 1, 2};
  std::vector<double> limit{0, 0.5, 0};
  std::vector<char> settype{'1'};
  std::vector<int64_t> setstart{0, 2};
  std::vector<int> setind{2, 3};
  std::vector<double> refval{1, 2};
  int64_t nobjq = -2;    // -2: take the size of q1
  int nqrows = -2, nentities = -2, nsets = -2;

  int load(KRVXprob p) const {
    return KRVXloadmiqcqp64_witharraysizes(
        p, name.c_str(), ncols, nrows, ptr(rowtype), rowtype.size(), ptr(rhs), rhs.size(), ptr(rng), rng.size(),
        ptr(obj), obj.size(), ptr(start), start.size(), ptr(collen), collen.size(), ptr(rowind), rowind.size(),
        ptr(rowcoef), rowcoef.size(), ptr(lb), lb.size(), ptr(ub), ub.size(), nobjq == -2 ? int64_t(q1.size()) : nobjq,
        ptr(q1), q1.size(), ptr(q2), q2.size(), ptr(qv), qv.size(), nqrows == -2 ? int(qrowind.size()) : nqrows,
        ptr(qrowind), qrowind.size(), ptr(nrowq), nrowq.size(), ptr(rq1), rq1.size(), ptr(rq2), rq2.size(),
        ptr(rqv), rqv.size(), nentities == -2 ? int(coltype.size()) : nentities,
        nsets == -2 ? int(settype.size()) : nsets, ptr(coltype), coltype.size(), ptr(entind), entind.size(),
        ptr(limit), limit.size(), ptr(settype), settype.size(), ptr(setstart), setstart.size(), ptr(setind),
        setind.size(), ptr(refval), refval.size());
  }
};

int64_t attr(KRVXprob p, int id) {
  int64_t v = -99;
  if (KRVXgetintattrib64(p, id, &v) != 0) return -99;
  return v;
}

void collect(KRVXprob, void *data, const char *msg, int len, int) {
  static_cast<std::vector<std::string> *>(data)->emplace_back(msg, size_t(len));
}

void fullLoad(KRVXprob p) {
  Model m;
  std::vector<std::string> msgs;
  EXPECT_OK(p, KRVXaddmessagehandler(p, collect, &msgs));
  EXPECT_OK(p, m.load(p));
  Model bad = m;
  bad.rhs.pop_back();
  EXPECT(bad.load(p) != 0);
  EXPECT_OK(p, KRVXremovemessagehandler(p, collect, &msgs));
  // one summary for the load, none for the refused one
  EXPECT(msgs == std::vector<std::string>({"Problem 'small': 3 rows, 4 columns, 5 elements, 2 objective quadratic "
                                          "terms, 1 quadratic rows, 3 entities, 1 sets"}));
  EXPECT(p->name == "small");
  EXPECT(attr(p, KRVX_ROWS) == 3 && attr(p, KRVX_COLS) == 4 && attr(p, KRVX_ORIGINALCOLS) == 4);
  EXPECT(attr(p, KRVX_INPUTCOLS) == 4 && attr(p, KRVX_ORIGINALROWS) == 3 && attr(p, KRVX_SETS) == 1);
  EXPECT(attr(p, KRVX_ORIGINALSETS) == 1 && attr(p, KRVX_MIPENTS) == 3 && attr(p, KRVX_ELEMS) == 5);
  EXPECT(attr(p, KRVX_NAMELENGTH) == 2);   // "R3", "C4", "S1"
  EXPECT(p->rows[2].type == 'R' && krvx::rowRange(*p, 2) == 3 && krvx::rowRange(*p, 0) == 0);
  // column 0: rows 0 and 2 sorted; column 2: row 0 merged (1 + 4)
  EXPECT(p->matrix.col(0).size() == 2 && p->matrix.col(0)[0].index == 0 && p->matrix.col(0)[0].value == 2);
  EXPECT(p->matrix.col(2).size() == 1 && p->matrix.col(2)[0].value == 5);
  EXPECT(p->cols[0].type == 'B' && p->cols[0].lb == 0 && p->cols[0].ub == 1);
  EXPECT(p->cols[1].type == 'S' && krvx::colLimit(*p, 1) == 0.5 && p->cols[3].type == 'C');
  EXPECT(p->cols[1].ub == 1e20);
  // objective triangle: (0,1) 1+2 and (1,1) 6
  EXPECT(p->qobj.size() == 2 && p->qobj[0].i == 0 && p->qobj[0].j == 1 && p->qobj[0].value == 3);
  EXPECT(p->qobj[1].i == 1 && p->qobj[1].j == 1 && p->qobj[1].value == 6);
  // quadratic row 1 keeps its own terms (x'Qx convention, stored as given, i <= j)
  EXPECT(p->qrows.size() == 3 && p->qrows[0].empty() && p->qrows[1].size() == 2);
  EXPECT(p->qrows[1][0].i == 0 && p->qrows[1][0].j == 0 && p->qrows[1][0].value == 1);
  EXPECT(p->qrows[1][1].i == 0 && p->qrows[1][1].j == 3 && p->qrows[1][1].value == 0.5);
  EXPECT(p->sets.size() == 1 && p->sets[0].cols == std::vector<int>({2, 3}));

  // the collen form gives the same store
  KRVXprob q = newProblem();
  Model c = m;
  c.collen = {2, 2, 1, 1};
  c.start = {0, 2, 4, 5};   // column 3 holds a zero, which is dropped
  c.rowind = {2, 0, 1, 0, 2, 0};
  c.rowcoef = {1, 2, 3, 5, 5, 0};
  EXPECT_OK(q, c.load(q));
  EXPECT(q->matrix.col(1).size() == 2 && q->matrix.col(2).size() == 1 && q->matrix.col(3).empty());
  EXPECT(attr(q, KRVX_ELEMS) == 5);
  KRVXdestroyprob(q);
}

void defaultsAndEmpty(KRVXprob p) {
  // everything absent: an empty problem with an empty name
  EXPECT_OK(p, KRVXloadlp64_witharraysizes(p, "", 0, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                          nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT(attr(p, KRVX_ROWS) == 0 && attr(p, KRVX_COLS) == 0 && p->name.empty());
  // columns without matrix, bounds or costs: cost 0, bounds [0, +inf)
  const char rt[] = {'E', 'N'};
  EXPECT_OK(p, KRVXloadlp64_witharraysizes(p, "d", 2, 2, rt, 2, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                          nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT(p->cols.size() == 2 && p->cols[1].lb == 0 && p->cols[1].ub >= 1e20 && p->cols[1].cost == 0);
  EXPECT(p->rows[1].type == 'N' && p->rows[0].rhs == 0);
}

void loadClearsOldState(KRVXprob p) {
  Model m;
  EXPECT_OK(p, m.load(p));
  const char names[] = "a\0b\0c";
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 1, names, 6, 3, 0, 2));
  p->sol.solstatus = KRVX_SOLSTATUS_OPTIMAL;
  p->objectives.push_back({});
  p->indicators.assign(3, {});
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_THREADS, 2));
  m.name = "again";
  EXPECT_OK(p, m.load(p));
  int idx = 7;
  EXPECT_OK(p, KRVXgetindex(p, 1, "a", &idx));
  EXPECT(idx == -1);
  EXPECT(p->sol.solstatus == KRVX_SOLSTATUS_NOTFOUND && p->objectives.empty() && p->indicators.empty());
  int threads = 0;
  EXPECT_OK(p, KRVXgetintcontrol(p, KRVX_THREADS, &threads));
  EXPECT(threads == 2);   // controls belong to the problem, not to the model
  EXPECT(p->name == "again");
}

struct BadCase {
  const char *text;
  std::function<void(Model &)> change;
};

void refusedLoads(KRVXprob p) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<BadCase> cases = {
      {"KRVXloadmiqcqp: argument 'rowtype' has 2 entries, expected 3", [](Model &m) { m.rowtype.pop_back(); }},
      {"argument 'rowtype' is required when nrows is 3", [](Model &m) { m.rowtype.clear(); }},
      {"entry 1 of argument 'rowtype' is 'X'", [](Model &m) { m.rowtype[1] = 'X'; }},
      {"argument 'rhs' has 4 entries, expected 3", [](Model &m) { m.rhs.push_back(1); }},
      {"entry 0 of argument 'rhs' is NaN", [&](Model &m) { m.rhs[0] = nan; }},
      {"entry 2 of argument 'rhs' is infinite", [](Model &m) { m.rhs[2] = -1e20; }},
      {"entry 1 of argument 'rng' is NaN", [&](Model &m) { m.rng[1] = nan; }},
      {"argument 'objcoef' has 3 entries, expected 4", [](Model &m) { m.obj.pop_back(); }},
      {"entry 3 of argument 'objcoef' is infinite", [](Model &m) { m.obj[3] = 1e21; }},
      {"entry 0 of argument 'lb' is +infinity", [](Model &m) { m.lb[0] = 1e20; }},
      {"entry 2 of argument 'ub' is NaN", [&](Model &m) { m.ub[2] = nan; }},
      {"argument 'ub' has 5 entries, expected 4", [](Model &m) { m.ub.push_back(1); }},
      {"argument 'ncols' is negative", [](Model &m) { m.ncols = -1; }},
      {"argument 'start' has 4 entries, expected 5 (ncols+1)", [](Model &m) { m.start.pop_back(); }},
      {"entry 2 of argument 'start' is 1", [](Model &m) { m.start[2] = 1; }},
      {"argument 'start' ends at 5 but 'rowind' has 6 entries", [](Model &m) { m.start[4] = 5; }},
      {"entry 0 of argument 'start' is -1", [](Model &m) { m.start[0] = -1; }},
      {"argument 'start' is required", [](Model &m) { m.start.clear(); }},
      {"entry 4 of argument 'rowind' is 3, outside 0..2", [](Model &m) { m.rowind[4] = 3; }},
      {"entry 0 of argument 'rowind' is -1", [](Model &m) { m.rowind[0] = -1; }},
      {"arguments 'rowind' and 'rowcoef' have 6 and 5 entries", [](Model &m) { m.rowcoef.pop_back(); }},
      {"entry 1 of argument 'rowcoef' is infinite", [](Model &m) { m.rowcoef[1] = 1e30; }},
      {"argument 'collen' has 3 entries, expected 4", [](Model &m) { m.collen = {1, 1, 1}; }},
      {"entry 3 of argument 'collen' is 2", [](Model &m) { m.collen = {1, 1, 1, 2}; m.start = {0, 1, 2, 5}; }},
      {"entry 1 of argument 'collen' is -1", [](Model &m) { m.collen = {1, -1, 1, 1}; m.start = {0, 1, 2, 5}; }},
      {"entry 2 of argument 'start' is 7", [](Model &m) { m.collen = {1, 1, 0, 1}; m.start = {0, 1, 7, 5}; }},
      {"argument 'objqcol2' has 2 entries, expected 3", [](Model &m) { m.q2.pop_back(); }},
      {"argument 'objqcoef' has 3 entries, expected 4", [](Model &m) { m.nobjq = 4; m.q1.push_back(0); m.q2.push_back(0); }},
      {"entry 1 of argument 'objqcol1' is 4", [](Model &m) { m.q1[1] = 4; }},
      {"entry 2 of argument 'objqcoef' is NaN", [&](Model &m) { m.qv[2] = nan; }},
      {"argument 'nobjqcoefs' is negative", [](Model &m) { m.nobjq = -1; }},
      {"entry 0 of argument 'nrowqcoefs' is -1", [](Model &m) { m.nrowq[0] = -1; }},
      {"entry 0 of argument 'nrowqcoefs' is 3", [](Model &m) { m.nrowq[0] = 3; }},
      {"argument 'nrowqcoefs' adds up to 1 but 'rowqcol1' has 2 entries", [](Model &m) { m.nrowq[0] = 1; }},
      {"argument 'qrowind' has 1 entries, expected 2", [](Model &m) { m.nqrows = 2; }},
      {"entry 0 of argument 'qrowind' is 3", [](Model &m) { m.qrowind[0] = 3; }},
      {"arguments 'rowqcol1' and 'rowqcoef' have 2 and 1 entries", [](Model &m) { m.rqv.pop_back(); }},
      {"entry 1 of argument 'rowqcol2' is -5", [](Model &m) { m.rq2[1] = -5; }},
      {"entry 2 of argument 'coltype' is 'C'", [](Model &m) { m.coltype[2] = 'C'; }},
      {"column 1 appears twice in argument 'entind'", [](Model &m) { m.entind[2] = 1; }},
      {"argument 'limit' has 2 entries, expected 3", [](Model &m) { m.limit.pop_back(); }},
      {"entry 1 of argument 'limit' is NaN", [&](Model &m) { m.limit[1] = nan; }},
      {"argument 'entind' has 3 entries, expected 4", [](Model &m) { m.nentities = 4; m.coltype.push_back('I'); }},
      {"entry 0 of argument 'settype' is '3'", [](Model &m) { m.settype[0] = '3'; }},
      {"argument 'setstart' has 3 entries, expected 2", [](Model &m) { m.setstart.push_back(2); }},
      {"argument 'setstart' ends at 1 but 'setind' has 2 entries", [](Model &m) { m.setstart[1] = 1; }},
      {"arguments 'setind' and 'refval' have 2 and 1 entries", [](Model &m) { m.refval.pop_back(); }},
      {"set 0 holds column 2 twice", [](Model &m) { m.setind[1] = 2; }},
      {"set 0 holds the reference value 1 twice", [](Model &m) { m.refval[1] = 1; }},
      {"argument 'setind' has 2 entries but there are no sets", [](Model &m) { m.settype.clear(); m.setstart.clear(); }},
      {"argument 'settype' has 1 entries, expected 2", [](Model &m) { m.nsets = 2; }},
      {"argument 'probname' is longer than 1024 bytes", [](Model &m) { m.name.assign(1025, 'n'); }},
      {"argument 'rhs' is NULL but has size 3", [](Model &m) { m.rhs = {}; m.rhs.reserve(3); }},
  };
  Model good;
  good.name = "keep";
  EXPECT_OK(p, good.load(p));
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 2, "x\0y\0z\0w", 8, 4, 0, 3));
  const std::string before = snapshot(p);
  for (const BadCase &c : cases) {
    Model m;
    c.change(m);
    if (std::string(c.text).find("is NULL but") != std::string::npos) {
      // a NULL array with a non-zero count
      int rc = KRVXloadlp64_witharraysizes(p, "n", 4, 3, m.rowtype.data(), 3, nullptr, 3, nullptr, 0, nullptr, 0,
                                           nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
      EXPECT(rc != 0 && contains(lastError(p), c.text));
    } else {
      EXPECT_FAILS(p, m.load(p), c.text);
    }
    if (snapshot(p) != before) {
      std::fprintf(stderr, "problem changed by the refused load '%s'\n", c.text);
      ++check_failures;
    }
  }
  // a long name just inside the limit is accepted and read back whole
  Model big;
  big.name.assign(1024, 'n');
  EXPECT_OK(p, big.load(p));
  char buf[1026];
  EXPECT_OK(p, KRVXgetprobname(p, buf));
  EXPECT(std::string(buf) == big.name);
}

// The lighter members pass their sections through the same checks.
void otherMembers(KRVXprob p) {
  const char rt[] = {'L', 'G'};
  const double rhs[] = {1, 2}, obj[] = {1, 1};
  const int64_t start[] = {0, 1, 2};
  const int rowind[] = {0, 1};
  const double coef[] = {1, 1};
  const int c1[] = {0}, c2[] = {1};
  const double qv[] = {2};
  EXPECT_OK(p, KRVXloadqp64_witharraysizes(p, "qp", 2, 2, rt, 2, rhs, 2, nullptr, 0, obj, 2, start, 3, nullptr, 0,
                                          rowind, 2, coef, 2, nullptr, 0, nullptr, 0, 1, c1, 1, c2, 1, qv, 1));
  EXPECT(p->qobj.size() == 1 && p->name == "qp");
  const char ct[] = {'I'};
  const int ei[] = {1};
  EXPECT_FAILS(p, KRVXloadmip64_witharraysizes(p, "mip", 2, 2, rt, 2, rhs, 2, nullptr, 0, obj, 2, start, 3, nullptr, 0,
                                              rowind, 2, coef, 2, nullptr, 0, nullptr, 0, 1, 0, ct, 1, ei, 1, nullptr,
                                              0, nullptr, 0, nullptr, 0, c1, 1, qv, 1),
              "KRVXloadmip: argument 'setind' has 1 entries but there are no sets");
  EXPECT(p->name == "qp" && p->qobj.size() == 1);
  EXPECT_OK(p, KRVXloadmip64_witharraysizes(p, "mip", 2, 2, rt, 2, rhs, 2, nullptr, 0, obj, 2, start, 3, nullptr, 0,
                                           rowind, 2, coef, 2, nullptr, 0, nullptr, 0, 1, 0, ct, 1, ei, 1, nullptr, 0,
                                           nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT(p->qobj.empty() && p->cols[1].type == 'I' && p->name == "mip");
}

// Random damage to the arguments: every load either succeeds with a store that restores (and so
// passes the store's own checks) or fails with a text and leaves the problem as it was.
void randomDamage(KRVXprob p) {
  uint64_t state = 12345;
  auto rnd = [&](uint64_t n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return n ? (state >> 33) % n : 0;
  };
  const double specials[] = {std::numeric_limits<double>::quiet_NaN(), 1e20, -1e20, 1e300, 0, -3, 7.5};
  Model good;
  EXPECT_OK(p, good.load(p));
  KRVXprob q = newProblem();
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string before = snapshot(p);
    Model m;
    for (int changes = 1 + int(rnd(3)); changes > 0; --changes) {
      auto damageInts = [&](auto &v, int64_t lo, int64_t hi) {
        switch (rnd(3)) {
          case 0: if (!v.empty()) v.pop_back(); break;
          case 1: v.push_back(typename std::decay_t<decltype(v)>::value_type(lo + int64_t(rnd(uint64_t(hi - lo))))); break;
          default: if (!v.empty()) v[rnd(v.size())] = typename std::decay_t<decltype(v)>::value_type(lo + int64_t(rnd(uint64_t(hi - lo))));
        }
      };
      auto damageDbls = [&](std::vector<double> &v) {
        if (rnd(4) == 0 && !v.empty()) v.pop_back();
        else if (!v.empty()) v[rnd(v.size())] = specials[rnd(7)];
      };
      switch (rnd(16)) {
        case 0: damageInts(m.start, -2, 9); break;
        case 1: damageInts(m.rowind, -2, 5); break;
        case 2: damageInts(m.collen, -2, 4); if (m.collen.size() > 0) m.start.resize(4); break;
        case 3: damageDbls(m.rowcoef); break;
        case 4: damageDbls(m.rhs); break;
        case 5: damageDbls(m.lb); break;
        case 6: damageInts(m.q1, -1, 6); break;
        case 7: damageInts(m.nrowq, -2, 4); break;
        case 8: damageInts(m.rq2, -1, 6); break;
        case 9: damageInts(m.entind, -1, 6); break;
        case 10: damageInts(m.setstart, -1, 4); break;
        case 11: damageInts(m.setind, -1, 6); break;
        case 12: damageDbls(m.refval); break;
        case 13: m.ncols += int(rnd(3)) - 1; break;
        case 14: m.nrows += int(rnd(3)) - 1; break;
        default: damageInts(m.qrowind, -1, 5); break;
      }
    }
    if (m.load(p) == 0) {
      ++loaded;
      const std::string now = snapshot(p);
      std::string path = "krvx_damage_" + std::to_string(::getpid());
      EXPECT_OK(p, KRVXsaveas(p, path.c_str()));
      EXPECT_OK(q, KRVXrestore(q, path.c_str(), ""));
      EXPECT(snapshot(q) == now);
      std::remove((path + ".svf").c_str());
      EXPECT_OK(p, good.load(p));
    } else {
      EXPECT(contains(lastError(p), "KRVXloadmiqcqp: "));
      if (snapshot(p) != before) {
        std::fprintf(stderr, "round %d: a refused load changed the problem (%s)\n", round, lastError(p).c_str());
        ++check_failures;
        return;
      }
    }
  }
  EXPECT(loaded > 100 && loaded < 2900);   // both outcomes were exercised
  KRVXdestroyprob(q);
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  KRVXprob p = newProblem();
  fullLoad(p);
  defaultsAndEmpty(p);
  loadClearsOldState(p);
  refusedLoads(p);
  otherMembers(p);
  randomDamage(p);
  KRVXdestroyprob(p);
  KRVXfree();
  return finish("test_load");
}
