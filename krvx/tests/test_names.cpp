// Problem name, object names, packed-name checks and look-up by name.
#include "testutil.h"
#include "store.h"

#include <vector>

namespace {

void loadSmall(KRVXprob p, int ncols, int nrows) {
  std::vector<char> rt(size_t(nrows), 'L');
  CHECK_OK(p, KRVXloadlp64_witharraysizes(p, "names", ncols, nrows, rt.empty() ? nullptr : rt.data(), nrows, nullptr,
                                          0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                          nullptr, 0, nullptr, 0));
}

std::vector<std::string> names(KRVXprob p, int kind, int first, int last) {
  int64_t need = -1;
  if (KRVXgetnames(p, kind, nullptr, 0, &need, first, last) != 0) return {"<count failed>"};
  std::vector<char> buf(size_t(need) + 1, 'x');
  int64_t got = -1;
  if (KRVXgetnames(p, kind, buf.data(), need, &got, first, last) != 0 || got != need) return {"<fill failed>"};
  if (buf[size_t(need)] != 'x') return {"<wrote past the buffer>"};
  std::vector<std::string> out;
  for (int64_t pos = 0; pos < need;) {
    out.emplace_back(buf.data() + pos);
    pos += int64_t(out.back().size()) + 1;
  }
  return out;
}

int indexOf(KRVXprob p, int kind, const char *name) {
  int idx = -99;
  if (KRVXgetindex(p, kind, name, &idx) != 0) return -99;
  return idx;
}

void probName(KRVXprob p) {
  std::string n(1024, 'q');
  CHECK_OK(p, KRVXsetprobname(p, n.c_str()));
  char buf[1026];
  std::memset(buf, 'z', sizeof buf);
  CHECK_OK(p, KRVXgetprobname(p, buf));
  CHECK(buf[1024] == '\0' && buf[1025] == 'z' && n == buf);
  n += 'q';
  CHECK_FAILS(p, KRVXsetprobname(p, n.c_str()), "KRVXsetprobname: argument 'name' is longer than 1024 bytes");
  CHECK_OK(p, KRVXsetprobname(p, "caf\xc3\xa9"));
  CHECK_OK(p, KRVXgetprobname(p, buf));
  CHECK(std::string(buf) == "caf\xc3\xa9");
}

void objectNames(KRVXprob p) {
  loadSmall(p, 4, 3);
  CHECK(names(p, 2, 0, 3) == std::vector<std::string>({"C1", "C2", "C3", "C4"}));
  CHECK(names(p, 1, 1, 2) == std::vector<std::string>({"R2", "R3"}));
  CHECK(names(p, 1, 1, 0).empty());   // the empty range
  CHECK(names(p, 1, 3, 2).empty());
  int64_t nb0 = 0;
  CHECK_FAILS(p, KRVXgetnames(p, 1, nullptr, 0, &nb0, 5, 4), "range 5..4 is invalid for 3");
  CHECK(names(p, 6, 0, 0) == std::vector<std::string>({"O1"}));
  CHECK_OK(p, KRVXaddnames_witharraysizes(p, 2, "x\0\0z", 5, 3, 1, 3));
  CHECK(names(p, 2, 0, 3) == std::vector<std::string>({"C1", "x", "C3", "z"}));
  CHECK(indexOf(p, 2, "z") == 3 && indexOf(p, 2, "x") == 1);
  // a generated name finds its unnamed object; the generated name of a named object is no name
  CHECK(indexOf(p, 2, "C1") == 0 && indexOf(p, 2, "C2") == -1 && indexOf(p, 2, "C5") == -1);
  CHECK(indexOf(p, 1, "z") == -1);   // namespaces are separate
  CHECK_OK(p, KRVXaddnames_witharraysizes(p, 1, "z\0", 2, 1, 0, 0));
  CHECK(indexOf(p, 1, "z") == 0);
  // swapping two names in one call; repeated names refused, within the call or against the others
  CHECK_OK(p, KRVXaddnames_witharraysizes(p, 2, "z\0\0x", 5, 3, 1, 3));
  CHECK(names(p, 2, 0, 3) == std::vector<std::string>({"C1", "z", "C3", "x"}));
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0a", 4, 2, 0, 1), "column name 'a' is used twice");
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "x", 2, 1, 0, 0), "column name 'x' is used twice");
  CHECK(indexOf(p, 2, "x") == 3 && indexOf(p, 2, "a") == -1);
  CHECK_OK(p, KRVXaddnames_witharraysizes(p, 2, "x\0y\0z\0w\0", 8, 4, 0, 3));
  CHECK(names(p, 2, 0, 3) == std::vector<std::string>({"x", "y", "z", "w"}));
  CHECK(indexOf(p, 2, "w") == 3);
  // packed buffer and range checks
  const std::string before = snapshot(p);
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0b\0", 4, 2, 0, 2), "2 names given for the range 0..2");
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0b", 3, 2, 0, 1), "is not terminated");
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0b\0c\0", 6, 2, 0, 1), "more than the 2 names");
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0", 2, 1, 4, 4), "range 4..4 is invalid");
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0", 2, 1, -1, -1), "range -1..-1 is invalid");
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 2, nullptr, 2, 1, 0, 0), "argument 'names' is NULL");
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 9, "a\0", 2, 1, 0, 0), "unknown namespace 9");
  CHECK_FAILS(p, KRVXaddnames_witharraysizes(p, 3, "a\0", 2, 1, 0, 0), "range 0..0 is invalid for 0");
  CHECK(snapshot(p) == before);
  // sizing: the fill call needs exactly the counted size
  char small[4];
  int64_t nb = 0;
  CHECK_FAILS(p, KRVXgetnames(p, 2, small, 4, &nb, 0, 3), "buffer of 4 bytes given, the names take 8");
  CHECK_FAILS(p, KRVXgetnames(p, 2, nullptr, 8, &nb, 0, 3), "'names' is NULL but 'maxbytes' is 8");
  CHECK_FAILS(p, KRVXgetnames(p, 2, nullptr, 0, &nb, 2, 0), "range 2..0 is invalid");
  CHECK_FAILS(p, KRVXgetnames(p, 0, nullptr, 0, &nb, 0, 0), "unknown namespace 0");
  // the longest name counts in the name length, default names included
  int len = 0;
  CHECK_OK(p, KRVXgetintattrib(p, KRVX_NAMELENGTH, &len));
  CHECK(len == 2);
  CHECK_OK(p, KRVXaddnames_witharraysizes(p, 1, "a-longer-name\0", 14, 1, 2, 2));
  CHECK_OK(p, KRVXgetintattrib(p, KRVX_NAMELENGTH, &len));
  CHECK(len == 13);
}

void lookUpKinds(KRVXprob p) {
  CHECK(indexOf(p, 8, "exp") == 16 && indexOf(p, 8, "LOG10") == 14 && indexOf(p, 8, "erfc") == 50);
  CHECK(indexOf(p, 8, "nosuch") == -1);
  CHECK(indexOf(p, 7, "myfunc") == -1);
  CHECK(indexOf(p, 2, "") == -1);
  int idx = 0;
  CHECK_FAILS(p, KRVXgetindex(p, 0, "x", &idx), "unknown namespace 0");
  CHECK_FAILS(p, KRVXgetindex(p, 2, nullptr, &idx), "argument 'name' is NULL");
  CHECK_OK(p, KRVXaddnames_witharraysizes(p, 6, "main\0", 5, 1, 0, 0));
  CHECK(indexOf(p, 6, "main") == 0);
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  KRVXprob p = newProblem();
  probName(p);
  objectNames(p);
  lookUpKinds(p);
  KRVXdestroyprob(p);
  KRVXfree();
  return finish("test_names");
}
