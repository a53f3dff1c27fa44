// Save and restore: exact round trip of the whole state, file naming, and damaged files.
#include "nltest.h"
#include "core/store.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// A problem with every part of the store filled, with doubles that a text format would not keep.
void fill(KRVXprob p) {
  const char rt[] = {'L', 'R', 'E'};
  const double rhs[] = {0.1, 1.0 / 3.0, -0.0}, rng[] = {0, 1e-300, 0}, obj[] = {std::ldexp(1.0, -1074), 2, -7.25};
  const int64_t start[] = {0, 2, 3, 4};
  const int rowind[] = {0, 2, 1, 0};
  const double coef[] = {M_PI, -M_E, 1e19, 3};
  const double lb[] = {-1e20, 0, 0.5}, ub[] = {1e20, 1, 4};
  const int q1[] = {0, 2}, q2[] = {2, 2};
  const double qv[] = {0.3, 1.7};
  const int qri[] = {2};
  const int64_t nq[] = {1};
  const int rq1[] = {1}, rq2[] = {0};
  const double rqv[] = {-0.6};
  const char ct[] = {'I', 'P'};
  const int ei[] = {1, 2};
  const double lim[] = {0, 3};
  const char st[] = {'2'};
  const int64_t ss[] = {0, 3};
  const int si[] = {0, 1, 2};
  const double rv[] = {1, 2.5, 3};
  EXPECT_OK(p, KRVXloadmiqcqp64_witharraysizes(p, "full", 3, 3, rt, 3, rhs, 3, rng, 3, obj, 3, start, 4, nullptr, 0,
                                              rowind, 4, coef, 4, lb, 3, ub, 3, 2, q1, 2, q2, 2, qv, 2, 1, qri, 1, nq,
                                              1, rq1, 1, rq2, 1, rqv, 1, 2, 1, ct, 2, ei, 2, lim, 2, st, 1, ss, 2, si,
                                              3, rv, 3));
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 2, "x\0\0z", 5, 3, 0, 2));
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 1, "r\xc3\xa9", 4, 1, 1, 1));
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 3, "sos", 4, 1, 0, 0));
  // parts without a public call yet, filled directly
  p->objsense = -1;
  p->objconst = 0.7;
  p->objectives.push_back({{{0, 0.25}, {2, -1}}, 3, 0.5, 1e-9, 1e-3});
  p->indicators = {{1, 1}, {-1, 0}, {1, -1}};
  p->pwls.push_back({0, 2, {0, 1, 2}, {0, 0.5, 4}});
  p->gencons.push_back({2, 1, {0, 2}, {}});
  p->gencons.push_back({4, 0, {2}, {0.5}});
  p->modelcut = {0, 1, 0};
  p->delayed = {1, 0, 0};
  p->rowscale = {1, -2, 0};
  p->colscale = {0, 0, 3};
  p->names[4].names = {"w"};
  p->names[5].names = {"", "g"};
  p->names[6].names = {"", "second"};
  EXPECT_OK(p, KRVXsetdblcontrol(p, KRVX_MIPTOL, 0.1 + 0.2));
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_MAXIIS, 7));
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0));
  p->tunermethod = "method text";
  krvx::Solution &s = p->sol;
  s.solvestatus = KRVX_SOLVESTATUS_COMPLETED;
  s.solstatus = KRVX_SOLSTATUS_OPTIMAL;
  s.lpstatus = 1;
  s.objval = 1.0 / 7.0;
  s.bestbound = -0.0;
  s.simplexiter = int64_t(1) << 40;
  s.nodes = 3;
  s.time = 0.001;
  s.has_x = s.has_duals = true;
  s.x = {0.1, 1, 2.000000000000001};
  s.slack = {0, 1e-17, -3};
  s.duals = {1, 2, 3};
  s.djs = {std::nextafter(1.0, 2.0), 0, 0};
  s.colstat = {0, 1, 2};
  s.rowstat = {1, 1, 3};
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void roundTrip(KRVXprob p) {
  fill(p);
  const std::string saved = snapshot(p);
  EXPECT_OK(p, KRVXsaveas(p, ""));   // "" saves under the problem's name
  EXPECT(fileBytes("full.svf") == saved);

  KRVXprob q = newProblem();
  EXPECT_OK(q, KRVXsetprobname(q, "full"));
  EXPECT_OK(q, KRVXrestore(q, "", ""));   // "" restores from the problem's name
  EXPECT(snapshot(q) == saved);
  EXPECT(q->name == "full" && q->objsense == -1 && sameBits(q->rows[2].rhs, -0.0));
  EXPECT(sameBits(q->cols[0].cost, std::ldexp(1.0, -1074)) && sameBits(q->matrix.col(0)[0].value, M_PI));
  EXPECT(q->qrows[2].size() == 1 && q->cols[2].type == 'P' && krvx::colLimit(*q, 2) == 3);
  EXPECT(q->pwls.size() == 1 && q->gencons[1].vals[0] == 0.5 && q->objectives[0].priority == 3);
  EXPECT(q->names[6].names[1] == "second" && q->tunermethod == "method text");
  EXPECT(sameBits(q->sol.djs[0], std::nextafter(1.0, 2.0)) && q->sol.rowstat[2] == 3);
  int idx = -1;
  EXPECT_OK(q, KRVXgetindex(q, 1, "r\xc3\xa9", &idx));
  EXPECT(idx == 1);
  EXPECT_OK(q, KRVXgetindex(q, 5, "g", &idx));
  EXPECT(idx == 1);
  double d = 0;
  EXPECT_OK(q, KRVXgetdblcontrol(q, KRVX_MIPTOL, &d));
  EXPECT(sameBits(d, 0.1 + 0.2));
  EXPECT(q->outputlog.load() == 0);
  double x[3];
  int status = 0;
  EXPECT_OK(q, KRVXgetsolution(q, &status, x, 0, 2));
  EXPECT(status == KRVX_SOLSTATUS_OPTIMAL && sameBits(x[2], 2.000000000000001));

  // verbatim name; 'h' accepted
  std::rename("full.svf", "verbatim.bin");
  KRVXprob r = newProblem();
  EXPECT_OK(r, KRVXrestore(r, "verbatim.bin", "hv"));
  EXPECT(snapshot(r) == saved);
  EXPECT_FAILS(r, KRVXrestore(r, "verbatim.bin", "q"), "KRVXrestore: unknown flag 'q'");
  std::remove("verbatim.bin");
  KRVXdestroyprob(q);
  KRVXdestroyprob(r);
}

void writeBytes(const char *path, const std::string &bytes) {
  FILE *f = std::fopen(path, "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

void damagedFiles(KRVXprob p) {
  fill(p);
  const std::string good = snapshot(p);
  KRVXprob q = newProblem();
  const std::string before = snapshot(q);
  EXPECT_FAILS(q, KRVXrestore(q, "no_such_problem", ""), "cannot open 'no_such_problem.svf'");
  EXPECT_FAILS(q, KRVXrestore(q, "", ""), "no file name given and the problem has no name");
  writeBytes("bad.svf", "not a saved problem at all");
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "'bad.svf' is not a saved problem (bad header)");
  writeBytes("bad.svf", good.substr(0, good.size() / 2));
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "'bad.svf' is truncated");
  writeBytes("bad.svf", good.substr(0, 10));
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "'bad.svf' is truncated");
  std::string flipped = good;
  flipped[40] ^= 0x10;
  writeBytes("bad.svf", flipped);
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "'bad.svf' is damaged");
  writeBytes("bad.svf", good + "extra bytes");
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "unexpected data after its end");
  std::string version = good;
  version[8] = 9;
  writeBytes("bad.svf", version);
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "has format version 9");
  // well-formed files whose content this library refuses
  p->matrix.entries(0)[0].index = 99;
  EXPECT_OK(p, KRVXsaveas(p, "bad"));
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "'bad.svf' holds an invalid problem: column 0 has a coefficient in row 99");
  p->matrix.entries(0)[0].index = 0;
  p->names[2].names = {"x", "x"};
  EXPECT_OK(p, KRVXsaveas(p, "bad"));
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "holds an invalid problem: column name 'x' is used twice");
  p->names[2].names.clear();
  p->controls.ints[KRVX_THREADS] = -5;
  EXPECT_OK(p, KRVXsaveas(p, "bad"));
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "holds the value -5 for control 'threads', outside its range");
  p->controls.ints.erase(KRVX_THREADS);
  p->controls.dbls[KRVX_THREADS] = 1;
  EXPECT_OK(p, KRVXsaveas(p, "bad"));
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "value for control 8003, which is not a control of that type");
  p->controls.dbls.erase(KRVX_THREADS);
  p->sol.x.pop_back();
  EXPECT_OK(p, KRVXsaveas(p, "bad"));
  EXPECT_FAILS(q, KRVXrestore(q, "bad", ""), "holds a solution whose size does not match the problem");
  std::remove("bad.svf");
  EXPECT(snapshot(q) == before);
  EXPECT_FAILS(p, KRVXsaveas(p, "/no/such/dir/x"), "cannot write '/no/such/dir/x.svf'");
  KRVXdestroyprob(q);
}

// Files with random bytes changed but a correct checksum, so the damage reaches the parser: each
// restore either succeeds or fails naming the file, and a failed one leaves the problem as it was.
void randomDamage(KRVXprob p) {
  fill(p);
  const std::string good = snapshot(p);
  const size_t head = 20, body = good.size() - head - 8;
  KRVXprob q = newProblem();
  uint64_t state = 99;
  auto rnd = [&](uint64_t n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return (state >> 33) % n;
  };
  int restored = 0;
  for (int round = 0; round < 500; ++round) {
    std::string bytes = good;
    for (int k = 1 + int(rnd(3)); k > 0; --k) bytes[head + rnd(body)] = char(rnd(256));
    uint64_t h = fnv1a(bytes.substr(head, body));
    for (int k = 0; k < 8; ++k) bytes[head + body + k] = char(h >> (8 * k));
    writeBytes("damaged.svf", bytes);
    const std::string before = snapshot(q);
    if (KRVXrestore(q, "damaged", "") == 0) {
      ++restored;
      EXPECT(snapshot(q).size() > 20);
    } else {
      EXPECT(contains(lastError(q), "KRVXrestore: 'damaged.svf' "));
      EXPECT(snapshot(q) == before);
    }
  }
  EXPECT(restored > 0 && restored < 500);
  std::remove("damaged.svf");
  KRVXdestroyprob(q);
}

// A saved formula whose own column or factor is invalid (written into the store directly, as a
// damaged file would hold it) is refused on restore as KRVNaddcoefs refuses it.
void badFormulas() {
  tagKRVNproblem *nl = nullptr;
  KRVXprob p = nlProblem(2, 1, &nl);
  EXPECT_OK(p, addFormula(nl, 0, 1, 2.0, {X(0), End()}));
  EXPECT_OK(p, KRVXsaveas(p, "formulas"));
  KRVXprob q = newProblem();
  EXPECT_OK(q, KRVXrestore(q, "formulas", ""));
  const std::string good = snapshot(q);
  p->nlrows[0][0].col = 2;
  EXPECT_OK(p, KRVXsaveas(p, "formulas"));
  EXPECT_FAILS(q, KRVXrestore(q, "formulas", ""), "formula of row 0: column 2 is out of range");
  p->nlrows[0][0].col = -5;
  EXPECT_OK(p, KRVXsaveas(p, "formulas"));
  EXPECT_FAILS(q, KRVXrestore(q, "formulas", ""), "column -5 is out of range");
  p->nlrows[0][0].col = 1;
  p->nlrows[0][0].factor = std::numeric_limits<double>::quiet_NaN();
  EXPECT_OK(p, KRVXsaveas(p, "formulas"));
  EXPECT_FAILS(q, KRVXrestore(q, "formulas", ""), "factor nan is not finite");
  EXPECT(snapshot(q) == good);
  std::remove("formulas.svf");
  KRVXdestroyprob(q);
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  KRVXprob p = newProblem();
  roundTrip(p);
  damagedFiles(p);
  randomDamage(p);
  badFormulas();
  KRVXdestroyprob(p);
  KRVXfree();
  return finish("test_saverestore");
}
