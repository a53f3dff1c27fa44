// Problem name, object names, packed-name checks and look-up by name.
#include "testutil.h"
#include "core/store.h"

#include <vector>

namespace {

void loadSmall(KRVXprob p, int ncols, int nrows) {
  std::vector<char> rt(size_t(nrows), 'L');
  EXPECT_OK(p, KRVXloadlp64_witharraysizes(p, "names", ncols, nrows, rt.empty() ? nullptr : rt.data(), nrows, nullptr,
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
  EXPECT_OK(p, KRVXsetprobname(p, n.c_str()));
  char buf[1026];
  std::memset(buf, 'z', sizeof buf);
  EXPECT_OK(p, KRVXgetprobname(p, buf));
  EXPECT(buf[1024] == '\0' && buf[1025] == 'z' && n == buf);
  n += 'q';
  EXPECT_FAILS(p, KRVXsetprobname(p, n.c_str()), "KRVXsetprobname: argument 'name' is longer than 1024 bytes");
  EXPECT_OK(p, KRVXsetprobname(p, "caf\xc3\xa9"));
  EXPECT_OK(p, KRVXgetprobname(p, buf));
  EXPECT(std::string(buf) == "caf\xc3\xa9");
}

void objectNames(KRVXprob p) {
  loadSmall(p, 4, 3);
  EXPECT(names(p, 2, 0, 3) == std::vector<std::string>({"C1", "C2", "C3", "C4"}));
  EXPECT(names(p, 1, 1, 2) == std::vector<std::string>({"R2", "R3"}));
  EXPECT(names(p, 1, 1, 0).empty());   // the empty range
  EXPECT(names(p, 1, 3, 2).empty());
  int64_t nb0 = 0;
  EXPECT_FAILS(p, KRVXgetnames(p, 1, nullptr, 0, &nb0, 5, 4), "range 5..4 is invalid for 3");
  EXPECT(names(p, 6, 0, 0) == std::vector<std::string>({"O1"}));
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 2, "x\0\0z", 5, 3, 1, 3));
  EXPECT(names(p, 2, 0, 3) == std::vector<std::string>({"C1", "x", "C3", "z"}));
  EXPECT(indexOf(p, 2, "z") == 3 && indexOf(p, 2, "x") == 1);
  // a generated name finds its unnamed object; the generated name of a named object is no name
  EXPECT(indexOf(p, 2, "C1") == 0 && indexOf(p, 2, "C2") == -1 && indexOf(p, 2, "C5") == -1);
  EXPECT(indexOf(p, 1, "z") == -1);   // namespaces are separate
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 1, "z\0", 2, 1, 0, 0));
  EXPECT(indexOf(p, 1, "z") == 0);
  // swapping two names in one call; repeated names refused, within the call or against the others
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 2, "z\0\0x", 5, 3, 1, 3));
  EXPECT(names(p, 2, 0, 3) == std::vector<std::string>({"C1", "z", "C3", "x"}));
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0a", 4, 2, 0, 1), "column name 'a' is used twice");
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "x", 2, 1, 0, 0), "column name 'x' is used twice");
  EXPECT(indexOf(p, 2, "x") == 3 && indexOf(p, 2, "a") == -1);
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 2, "x\0y\0z\0w\0", 8, 4, 0, 3));
  EXPECT(names(p, 2, 0, 3) == std::vector<std::string>({"x", "y", "z", "w"}));
  EXPECT(indexOf(p, 2, "w") == 3);
  // packed buffer and range checks
  const std::string before = snapshot(p);
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0b\0", 4, 2, 0, 2), "2 names given for the range 0..2");
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0b", 3, 2, 0, 1), "is not terminated");
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0b\0c\0", 6, 2, 0, 1), "more than the 2 names");
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0", 2, 1, 4, 4), "range 4..4 is invalid");
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a\0", 2, 1, -1, -1), "range -1..-1 is invalid");
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 2, nullptr, 2, 1, 0, 0), "argument 'names' is NULL");
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 9, "a\0", 2, 1, 0, 0), "unknown namespace 9");
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 3, "a\0", 2, 1, 0, 0), "range 0..0 is invalid for 0");
  EXPECT(snapshot(p) == before);
  // sizing: the fill call needs exactly the counted size
  char small[4];
  int64_t nb = 0;
  EXPECT_FAILS(p, KRVXgetnames(p, 2, small, 4, &nb, 0, 3), "buffer of 4 bytes given, the names take 8");
  EXPECT_FAILS(p, KRVXgetnames(p, 2, nullptr, 8, &nb, 0, 3), "'names' is NULL but 'maxbytes' is 8");
  EXPECT_FAILS(p, KRVXgetnames(p, 2, nullptr, 0, &nb, 2, 0), "range 2..0 is invalid");
  EXPECT_FAILS(p, KRVXgetnames(p, 0, nullptr, 0, &nb, 0, 0), "unknown namespace 0");
  // the longest name counts in the name length, default names included
  int len = 0;
  EXPECT_OK(p, KRVXgetintattrib(p, KRVX_NAMELENGTH, &len));
  EXPECT(len == 2);
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 1, "a-longer-name\0", 14, 1, 2, 2));
  EXPECT_OK(p, KRVXgetintattrib(p, KRVX_NAMELENGTH, &len));
  EXPECT(len == 13);
}

void lookUpKinds(KRVXprob p) {
  EXPECT(indexOf(p, 8, "exp") == 16 && indexOf(p, 8, "LOG10") == 14 && indexOf(p, 8, "erfc") == 50);
  EXPECT(indexOf(p, 8, "nosuch") == -1);
  EXPECT(indexOf(p, 7, "myfunc") == -1);
  EXPECT(indexOf(p, 2, "") == -1);
  int idx = 0;
  EXPECT_FAILS(p, KRVXgetindex(p, 0, "x", &idx), "unknown namespace 0");
  EXPECT_FAILS(p, KRVXgetindex(p, 2, nullptr, &idx), "argument 'name' is NULL");
  EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 6, "main\0", 5, 1, 0, 0));
  EXPECT(indexOf(p, 6, "main") == 0);
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
