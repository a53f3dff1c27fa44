// Times each sort kernel against std::stable_sort of the same entries (an array of records with
// the same key order) and prints the ratio std/ours. Usage: bench_sort [repeat-scale]
#include "model/objects.h"
#include "sort/sort.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::mt19937_64 rng(2024);

inline uint64_t varOrd(const var_s *v) { return (uint64_t)v->idx_high << 32 | v->idx_low; }

// Best time per run in seconds of `run` after `reset` (reset not timed).
double timeIt(const std::function<void()> &reset, const std::function<void()> &run, size_t n) {
  size_t reps = std::max<size_t>(3, 3000000 / (n + 1));
  double best = 1e30;
  for (size_t r = 0; r < reps; ++r) {
    reset();
    auto t0 = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

void report(const char *kernel, const char *shape, size_t n, double ours, double ref) {
  std::printf("%-20s %-9s %8zu  ours %9.3f ms (%6.2f ns/entry)  std %9.3f ms  std/ours %6.2f\n", kernel,
              shape, n, ours * 1e3, ours * 1e9 / n, ref * 1e3, ref / ours);
}

// Data of one run: first and second key ranks, in input order.
struct Input {
  std::vector<uint64_t> r1, r2;
};

Input makeInput(size_t n, bool presorted, int bits) {
  Input in;
  in.r1.resize(n);
  in.r2.resize(n);
  uint64_t mask = (uint64_t(1) << bits) - 1;
  for (size_t i = 0; i < n; ++i) in.r1[i] = rng() & mask, in.r2[i] = rng() & mask;
  if (presorted) {
    std::vector<std::pair<uint64_t, uint64_t>> p(n);
    for (size_t i = 0; i < n; ++i) p[i] = {in.r1[i], in.r2[i]};
    std::sort(p.begin(), p.end());
    for (size_t i = 0; i < n; ++i) in.r1[i] = p[i].first, in.r2[i] = p[i].second;
  }
  return in;
}

int32_t intOf(uint64_t r) { return (int32_t)(uint32_t)r; }

// Variables created in order of their ids, referenced by the keys in input order.
struct Vars {
  std::vector<var_s> pool;
  std::vector<var_s *> keys;
  explicit Vars(const std::vector<uint64_t> &ranks) : pool(ranks.size()), keys(ranks.size()) {
    std::vector<uint64_t> sorted = ranks;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); ++i) {
      pool[i].idx_high = (uint16_t)(sorted[i] >> 32);
      pool[i].idx_low = (uint32_t)sorted[i];
    }
    for (size_t i = 0; i < ranks.size(); ++i)
      keys[i] = &pool[std::lower_bound(sorted.begin(), sorted.end(), ranks[i]) - sorted.begin()];
  }
};

template <class K, class V>
struct Rec1 {
  K k;
  V v;
};
template <class K, class V>
struct Rec2 {
  K k1, k2;
  V v;
};

template <class K, class V, class Sort, class Less>
void benchOne(const char *kernel, const char *shape, const std::vector<K> &keys, Sort sortFn, Less less) {
  size_t n = keys.size();
  std::vector<K> k(n);
  std::vector<V> v(n);
  double ours = timeIt(
      [&] {
        k = keys;
        for (size_t i = 0; i < n; ++i) v[i] = (V)(uintptr_t)i;
      },
      [&] { sortFn(k.data(), v.data(), n); }, n);
  std::vector<Rec1<K, V>> recs(n);
  double ref = timeIt(
      [&] {
        for (size_t i = 0; i < n; ++i) recs[i] = {keys[i], (V)(uintptr_t)i};
      },
      [&] { std::stable_sort(recs.begin(), recs.end(), [&](auto &x, auto &y) { return less(x.k, y.k); }); },
      n);
  report(kernel, shape, n, ours, ref);
}

template <class K, class V, class Sort, class Less>
void benchTwo(const char *kernel, const char *shape, const std::vector<K> &keys1, const std::vector<K> &keys2,
              Sort sortFn, Less less) {
  size_t n = keys1.size();
  std::vector<K> k1(n), k2(n);
  std::vector<V> v(n);
  double ours = timeIt(
      [&] {
        k1 = keys1, k2 = keys2;
        for (size_t i = 0; i < n; ++i) v[i] = (V)(uintptr_t)i;
      },
      [&] { sortFn(k1.data(), k2.data(), v.data(), n); }, n);
  std::vector<Rec2<K, V>> recs(n);
  double ref = timeIt(
      [&] {
        for (size_t i = 0; i < n; ++i) recs[i] = {keys1[i], keys2[i], (V)(uintptr_t)i};
      },
      [&] {
        std::stable_sort(recs.begin(), recs.end(), [&](auto &x, auto &y) {
          return less(x.k1, y.k1) || (!less(y.k1, x.k1) && less(x.k2, y.k2));
        });
      },
      n);
  report(kernel, shape, n, ours, ref);
}

}  // namespace

int main() {
  auto lessInt = [](int32_t x, int32_t y) { return x < y; };
  auto lessVar = [](const var_s *x, const var_s *y) { return varOrd(x) < varOrd(y); };
  for (size_t n : {size_t(1000), size_t(100000), size_t(1000000)}) {
    for (bool presorted : {false, true}) {
      const char *shape = presorted ? "presorted" : "random";
      Input ii = makeInput(n, presorted, 32), vi = makeInput(n, presorted, 48);
      std::vector<int32_t> i1(n), i2(n);
      for (size_t i = 0; i < n; ++i) i1[i] = intOf(ii.r1[i]), i2[i] = intOf(ii.r2[i]);
      if (presorted) {  // sorted in signed order
        std::vector<std::pair<int32_t, int32_t>> p(n);
        for (size_t i = 0; i < n; ++i) p[i] = {i1[i], i2[i]};
        std::sort(p.begin(), p.end());
        for (size_t i = 0; i < n; ++i) i1[i] = p[i].first, i2[i] = p[i].second;
      }
      Vars v1(vi.r1), v2(vi.r2);
      benchOne<int32_t, double>("Sort_Int_Dbl", shape, i1, kpy_Sort_Int_Dbl, lessInt);
      benchOne<var_s *, void *>("Sort_Var_Ptr", shape, v1.keys, kpy_Sort_Var_Ptr, lessVar);
      benchOne<var_s *, double>("Sort_Var_Dbl", shape, v1.keys, kpy_Sort_Var_Dbl, lessVar);
      benchTwo<int32_t, double>("LexSort_IntInt_Dbl", shape, i1, i2, kpy_LexSort_IntInt_Dbl, lessInt);
      benchTwo<var_s *, double>("LexSort_VarVar_Dbl", shape, v1.keys, v2.keys, kpy_LexSort_VarVar_Dbl, lessVar);
      benchTwo<var_s *, void *>("LexSort_VarVar_Ptr", shape, v1.keys, v2.keys, kpy_LexSort_VarVar_Ptr, lessVar);
    }
  }
  return 0;
}
