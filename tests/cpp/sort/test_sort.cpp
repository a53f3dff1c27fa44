// Sort kernels against std::stable_sort: order, stability (values carry the original position)
// and keys moving with their values, for every entry point on many sizes and input shapes;
// the merge and rotation routines on their own against std::stable_sort and std::rotate.
// Argument --quick runs the smaller sizes only (for the sanitizer build).
#include "check.h"
#include "module/objects.h"
#include "sort/kernels.h"
#include "sort/sort.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::mt19937_64 rng(12345);

// --- input shapes ------------------------------------------------------------------------------
// Ranks are unsigned; the key builders map them monotonically onto the key kinds, so that a
// shape sorted by rank is sorted in key order.

using Rank = std::pair<uint64_t, uint64_t>;  // (first key, second key)

const char *const kShapes[] = {"random", "sorted", "reversed", "equal", "few",
                               "organ", "descdup", "runs"};
constexpr int kNumShapes = 8;

uint64_t edgeRank(int bits) {
  // extreme words: high word 0 / 0x8000 / 0xFFFF, low word near 0, 2^31 and 2^32-1
  static const uint64_t hi[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF};
  static const uint64_t lo[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  uint64_t l = lo[rng() % 6];
  return bits > 32 ? hi[rng() % 5] << 32 | l : l;
}

uint64_t randomRank(int bits) {
  if (rng() % 4 == 0) return edgeRank(bits);
  return rng() & ((uint64_t(1) << bits) - 1);
}

std::vector<Rank> makeRanks(int shape, size_t n, int bits) {
  std::vector<Rank> r(n);
  auto second = [&] { return rng() % 3 == 0 ? edgeRank(bits) : rng() % 4; };
  switch (shape) {
    case 0:  // random
    case 1:  // sorted
    case 2:  // reversed
      for (auto &e : r) e = {randomRank(bits), second()};
      if (shape == 1) std::sort(r.begin(), r.end());
      if (shape == 2) std::sort(r.rbegin(), r.rend());
      break;
    case 3:  // all equal
      for (auto &e : r) e = {edgeRank(bits) | 0xFFFF, 7};
      std::fill(r.begin(), r.end(), r.empty() ? Rank() : r[0]);
      break;
    case 4: {  // few distinct
      uint64_t v[4] = {edgeRank(bits), edgeRank(bits), randomRank(bits), randomRank(bits)};
      for (auto &e : r) e = {v[rng() % 4], rng() % 2};
      break;
    }
    case 5:  // organ pipe
      for (size_t i = 0; i < n; ++i)
        r[i] = {std::min(i, n - 1 - i) * (bits > 32 ? 4099ull << 16 : 4099ull), i % 2};
      break;
    case 6:  // descending with stretches of equal entries
      for (size_t i = 0; i < n; ++i) r[i] = {(n - i) / 3, (n - i) / 7 % 2};
      break;
    default:  // ascending runs of random lengths
      for (size_t i = 0; i < n;) {
        size_t len = 1 + rng() % 200;
        uint64_t base = rng() % 1000;
        for (size_t k = 0; k < len && i < n; ++k, ++i) r[i] = {base + k, k % 3};
      }
  }
  return r;
}

// --- key kinds ---------------------------------------------------------------------------------

int32_t intKey(uint64_t rank) { return (int32_t)(uint32_t)(rank ^ 0x80000000u); }

struct VarPool {
  std::vector<var_s> vars;
  explicit VarPool(size_t n) : vars(n) {}  // zero-initialised records
  var_s *make(size_t i, uint64_t rank) {
    vars[i].idx_high = (uint16_t)(rank >> 32);
    vars[i].idx_low = (uint32_t)rank;
    return &vars[i];
  }
};

// Reference order, written from the definition of each key kind.
bool lessInt(int32_t x, int32_t y) { return x < y; }
bool lessVar(const var_s *x, const var_s *y) {
  return std::make_tuple(x->idx_high, x->idx_low) < std::make_tuple(y->idx_high, y->idx_low);
}

// Checks the sorted arrays against a stable sort of the original positions.
template <class K1, class K2, class Less>
void verify(const char *what, int shape, size_t n, const std::vector<K1> &k1, const std::vector<K2> &k2,
            const std::vector<K1> &s1, const std::vector<K2> &s2, const std::vector<size_t> &origin,
            Less less) {
  std::vector<size_t> ref(n);
  for (size_t i = 0; i < n; ++i) ref[i] = i;
  std::stable_sort(ref.begin(), ref.end(), [&](size_t x, size_t y) { return less(x, y); });
  for (size_t i = 0; i < n; ++i) {
    if (origin[i] != ref[i] || s1[i] != k1[ref[i]] || (!k2.empty() && s2[i] != k2[ref[i]])) {
      FAIL("%s", (std::string(what) + " " + kShapes[shape] + " n=" + std::to_string(n) + " at " +
           std::to_string(i)).c_str());
      return;
    }
  }
}

size_t fromDbl(double v) { return (size_t)v; }
size_t fromPtr(void *v) { return (size_t)(uintptr_t)v - 1; }
void *toPtr(size_t i) { return (void *)(uintptr_t)(i + 1); }

void checkIntDbl(int shape, size_t n) {
  auto r = makeRanks(shape, n, 32);
  std::vector<int32_t> k(n), s;
  std::vector<double> v(n);
  for (size_t i = 0; i < n; ++i) k[i] = intKey(r[i].first), v[i] = (double)i;
  s = k;
  kpy_Sort_Int_Dbl(s.data(), v.data(), n);
  std::vector<size_t> origin(n);
  std::transform(v.begin(), v.end(), origin.begin(), fromDbl);
  std::vector<int> none;
  verify("Sort_Int_Dbl", shape, n, k, none, s, none, origin,
         [&](size_t x, size_t y) { return lessInt(k[x], k[y]); });
}

void checkIntIntDbl(int shape, size_t n) {
  auto r = makeRanks(shape, n, 32);
  std::vector<int32_t> k1(n), k2(n);
  std::vector<double> v(n);
  for (size_t i = 0; i < n; ++i) k1[i] = intKey(r[i].first), k2[i] = intKey(r[i].second), v[i] = (double)i;
  auto s1 = k1, s2 = k2;
  kpy_LexSort_IntInt_Dbl(s1.data(), s2.data(), v.data(), n);
  std::vector<size_t> origin(n);
  std::transform(v.begin(), v.end(), origin.begin(), fromDbl);
  verify("LexSort_IntInt_Dbl", shape, n, k1, k2, s1, s2, origin, [&](size_t x, size_t y) {
    return std::make_tuple(k1[x], k2[x]) < std::make_tuple(k1[y], k2[y]);
  });
}

template <class V>
void checkVar(int shape, size_t n) {
  auto r = makeRanks(shape, n, 48);
  VarPool pool(n);
  std::vector<var_s *> k(n);
  std::vector<V> v(n);
  for (size_t i = 0; i < n; ++i) k[i] = pool.make(i, r[i].first);
  for (size_t i = 0; i < n; ++i) {
    if constexpr (std::is_same_v<V, double>) v[i] = (double)i;
    else v[i] = toPtr(i);
  }
  auto s = k;
  std::vector<size_t> origin(n);
  if constexpr (std::is_same_v<V, double>) {
    kpy_Sort_Var_Dbl(s.data(), v.data(), n);
    std::transform(v.begin(), v.end(), origin.begin(), fromDbl);
  } else {
    kpy_Sort_Var_Ptr(s.data(), v.data(), n);
    std::transform(v.begin(), v.end(), origin.begin(), fromPtr);
  }
  std::vector<var_s *> none;
  verify(std::is_same_v<V, double> ? "Sort_Var_Dbl" : "Sort_Var_Ptr", shape, n, k, none, s, none,
         origin, [&](size_t x, size_t y) { return lessVar(k[x], k[y]); });
}

template <class V>
void checkVarVar(int shape, size_t n) {
  auto r = makeRanks(shape, n, 48);
  VarPool p1(n), p2(n);
  std::vector<var_s *> k1(n), k2(n);
  std::vector<V> v(n);
  for (size_t i = 0; i < n; ++i) k1[i] = p1.make(i, r[i].first), k2[i] = p2.make(i, r[i].second);
  for (size_t i = 0; i < n; ++i) {
    if constexpr (std::is_same_v<V, double>) v[i] = (double)i;
    else v[i] = toPtr(i);
  }
  auto s1 = k1, s2 = k2;
  std::vector<size_t> origin(n);
  if constexpr (std::is_same_v<V, double>) {
    kpy_LexSort_VarVar_Dbl(s1.data(), s2.data(), v.data(), n);
    std::transform(v.begin(), v.end(), origin.begin(), fromDbl);
  } else {
    kpy_LexSort_VarVar_Ptr(s1.data(), s2.data(), v.data(), n);
    std::transform(v.begin(), v.end(), origin.begin(), fromPtr);
  }
  verify(std::is_same_v<V, double> ? "LexSort_VarVar_Dbl" : "LexSort_VarVar_Ptr", shape, n, k1, k2,
         s1, s2, origin, [&](size_t x, size_t y) {
           if (lessVar(k1[x], k1[y])) return true;
           if (lessVar(k1[y], k1[x])) return false;
           return lessVar(k2[x], k2[y]);
         });
}

using Check = void (*)(int, size_t);
const Check kChecks[] = {checkIntDbl, checkVar<void *>, checkVar<double>,
                         checkIntIntDbl, checkVarVar<double>, checkVarVar<void *>};

void testEntryPoints(bool quick) {
  Check pairPtr = kChecks[5], intDbl = kChecks[0];  // the specified kernel, the simplest kernel
  for (Check c : kChecks)
    for (int shape = 0; shape < kNumShapes; ++shape)
      for (size_t n = 0; n <= 600; ++n) c(shape, n);
  for (Check c : {intDbl, pairPtr})
    for (int shape = 0; shape < kNumShapes; ++shape)
      for (size_t n = 601; n <= 1200; ++n) c(shape, n);
  for (size_t n : {1100, 1536, 1537, 2049, 4096 + 7, 10000, 33000, 100000, 1000000}) {
    for (Check c : kChecks) {
      bool main2 = c == intDbl || c == pairPtr;
      if (quick && (!main2 || n > 100000)) continue;
      for (int shape = 0; shape < kNumShapes; ++shape) {
        bool all = n < 100000 || (n == 100000 && main2) || c == intDbl;
        if (all || (shape == 0 && (n == 100000 || c == pairPtr))) c(shape, n);
      }
    }
  }
}

void testVarPairCompare() {
  VarPool pool(6);
  var_s *lo = pool.make(0, 0xFFFFFFFFull), *hi = pool.make(1, 0xFFFF00000000ull);
  var_s *lo2 = pool.make(2, 0xFFFFFFFFull), *mid = pool.make(3, 0x100000000ull);
  EXPECT(kpy_varPairCompare(lo, hi, hi, lo) == -1);   // the high word decides
  EXPECT(kpy_varPairCompare(hi, lo, lo, hi) == 1);    // 0xFFFF after 0
  EXPECT(kpy_varPairCompare(lo, lo2, mid, hi) == -1);  // second keys
  EXPECT(kpy_varPairCompare(lo, lo2, hi, hi) == 0);    // equal ids
  EXPECT(kpy_varPairCompare(mid, lo, lo, hi) == 1);    // unsigned low word
}

// --- routines on their own (integer keys, positions as values) ---------------------------------

using C = kpysort::Cols<kpysort::IntKey, kpysort::NoKey, int32_t>;
using kpysort::idx;

struct Arr {
  std::vector<int32_t> k, v;
  explicit Arr(size_t n) : k(n), v(n) {}
  C cols(idx off = 0) { return {k.data() + off, nullptr, v.data() + off}; }
};

// Two sorted runs of few-distinct keys, positions as values.
Arr twoRuns(idx left, idx right, int distinct) {
  Arr a(left + right);
  for (idx i = 0; i < left + right; ++i) a.k[i] = (int32_t)(rng() % distinct) - distinct / 2, a.v[i] = (int32_t)i;
  std::stable_sort(a.k.begin(), a.k.begin() + left);
  std::stable_sort(a.k.begin() + left, a.k.end());
  return a;
}

bool mergedStably(const Arr &in, const Arr &out, const char *what, idx left, idx right) {
  std::vector<std::pair<int32_t, int32_t>> ref;
  for (size_t i = 0; i < in.k.size(); ++i) ref.push_back({in.k[i], in.v[i]});
  std::stable_sort(ref.begin(), ref.end(), [](auto &x, auto &y) { return x.first < y.first; });
  for (size_t i = 0; i < ref.size(); ++i)
    if (out.k[i] != ref[i].first || out.v[i] != ref[i].second) {
      FAIL("%s left=%td right=%td", what, left, right);
      return false;
    }
  return true;
}

void testMerges() {
  kpysort::WorkBuffer<C> storage;
  C buf = storage.cols();
  const idx sizes[] = {1, 2, 3, 9, 16, 17, 31, 32, 33, 63, 64, 65, 100, 171, 255, 511, 512, 513, 700, 1500, 5000};
  for (idx l : sizes)
    for (idx r : sizes)
      for (int distinct : {3, 1 << 20}) {
        Arr in = twoRuns(l, r, distinct);
        {
          Arr out(l + r);
          kpysort::crossMerge(out.cols(), in.cols(), l, r);
          mergedStably(in, out, "crossMerge", l, r);
        }
        if (r <= l + 1 && l <= r) {
          Arr out(l + r);
          kpysort::parityMerge(out.cols(), in.cols(), l, r);
          mergedStably(in, out, "parityMerge", l, r);
        }
        for (idx cap : {idx(32), kpysort::kBuf})
          if (r <= cap) {
            Arr a = in;
            kpysort::partialBackwardMerge(a.cols(), buf, cap, l + r, l);
            mergedStably(in, a, "partialBackwardMerge", l, r);
          }
        if (l <= kpysort::kBuf) {
          Arr a = in;
          kpysort::partialForwardMerge(a.cols(), buf, l + r, l);
          mergedStably(in, a, "partialForwardMerge", l, r);
        }
        if (l >= 171) {
          Arr a = in;
          kpysort::rotateMergeBlock(a.cols(), buf, l, r);
          mergedStably(in, a, "rotateMergeBlock", l, r);
        }
      }
  // the parity shortcut with left = right + 1 on well-interleaved runs
  for (idx r : {31, 32, 40, 100}) {
    idx l = r + 1;
    Arr in(l + r);
    for (idx i = 0; i < l; ++i) in.k[i] = (int32_t)(2 * i), in.v[i] = (int32_t)i;
    for (idx i = 0; i < r; ++i) in.k[l + i] = (int32_t)(2 * i + 1 - (i % 5 == 0)), in.v[l + i] = (int32_t)(l + i);
    Arr out(l + r + 1);
    out.k[l + r] = 77;
    kpysort::crossMerge(out.cols(), in.cols(), l, r);
    EXPECT(out.k[l + r] == 77);   // crossMerge interleaved wrote nothing past its end
    out.k.pop_back(), out.v.pop_back();
    mergedStably(in, out, "crossMerge interleaved", l, r);
  }
}

void testRotate() {
  kpysort::WorkBuffer<C> storage;
  C buf = storage.cols();
  // buffer, bridge and three-phase paths on both sides
  const idx sizes[] = {1, 2, 5, 300, 512, 513, 514, 515, 516, 517, 600, 1024, 1025, 1028, 1100, 1600};
  for (idx na : sizes)
    for (idx nb : sizes) {
      Arr a(na + nb);
      for (idx i = 0; i < na + nb; ++i) a.k[i] = (int32_t)i, a.v[i] = (int32_t)(i * 7);
      Arr ref = a;
      std::rotate(ref.k.begin(), ref.k.begin() + na, ref.k.end());
      std::rotate(ref.v.begin(), ref.v.begin() + na, ref.v.end());
      kpysort::rotateBlocks(a.cols(), buf, na, nb);
      if (a.k != ref.k || a.v != ref.v)
        FAIL("rotateBlocks %td+%td", na, nb);
    }
}

}  // namespace

int main(int argc, char **argv) {
  bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  testVarPairCompare();
  testRotate();
  testMerges();
  testEntryPoints(quick);
  if (check_failures) {
    std::fprintf(stderr, "%d failure(s)\n", check_failures);
    return 1;
  }
  std::printf("sort kernels: all checks passed\n");
  return 0;
}
