// Times each sort kernel against std::stable_sort of the same entries (an array of records with
// the same key order) and prints the ratio std/ours. Usage: bench_sort [repeat-scale]
#include "module/objects.h"
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

// Best times of `runA` and `runB`, run in turns (each after its untimed `reset`), so that load
// from other processes affects both alike.
std::pair<double, double> timePair(const std::function<void()> &resetA, const std::function<void()> &runA,
                                   const std::function<void()> &resetB, const std::function<void()> &runB) {
  double bestA = 1e30, bestB = 1e30;
  auto timeOne = [](const std::function<void()> &run) {
    auto t0 = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - t0).count();
  };
  for (int r = 0; r < 5; ++r) {
    resetA();
    bestA = std::min(bestA, timeOne(runA));
    resetB();
    bestB = std::min(bestB, timeOne(runB));
  }
  return {bestA, bestB};
}

void report(const char *kernel, const char *shape, size_t n, size_t sets, double ours, double ref) {
  double per = 1e3 / sets;  // ms per sort
  std::printf("%-19s %-9s %8zu  ours %9.4f ms %7.2f ns/entry   std %9.4f ms   std/ours %5.2f\n", kernel, shape, n,
              ours * per, ours * 1e9 / (n * sets), ref * per, ref / ours);
}

// Variables of each input created in order of their ids; keys refer to them in input order.
struct Vars {
  std::vector<var_s> pool;
  std::vector<var_s *> keys;
  Vars(const std::vector<uint64_t> &ranks, size_t n) : pool(ranks.size()), keys(ranks.size()) {
    for (size_t s = 0; s < ranks.size(); s += n) {
      std::vector<uint64_t> sorted(ranks.begin() + s, ranks.begin() + s + n);
      std::sort(sorted.begin(), sorted.end());
      for (size_t i = 0; i < n; ++i) {
        pool[s + i].idx_high = (uint16_t)(sorted[i] >> 32);
        pool[s + i].idx_low = (uint32_t)sorted[i];
      }
      for (size_t i = 0; i < n; ++i)
        keys[s + i] = &pool[s + (std::lower_bound(sorted.begin(), sorted.end(), ranks[s + i]) - sorted.begin())];
    }
  }
};

template <class K, class V>
struct Rec {
  K k1, k2;
  V v;
};

// `sets` inputs of n entries each, one after another in keys1 (and keys2 for the pair kernels);
// every timed run sorts all of them, ours in place in parallel arrays, std in an array of records.
template <bool Two, class K, class V, class Sort, class Less>
void bench(const char *kernel, const char *shape, size_t n, size_t sets, const std::vector<K> &keys1,
           const std::vector<K> &keys2, Sort sortFn, Less less) {
  size_t total = n * sets;
  std::vector<K> k1(total), k2(Two ? total : 0);
  std::vector<V> v(total);
  std::vector<Rec<K, V>> recs(total);
  auto lessRec = [&](const Rec<K, V> &x, const Rec<K, V> &y) {
    if (!Two) return less(x.k1, y.k1);
    return less(x.k1, y.k1) || (!less(y.k1, x.k1) && less(x.k2, y.k2));
  };
  auto [ours, ref] = timePair(
      [&] {
        k1 = keys1;
        if (Two) k2 = keys2;
        for (size_t i = 0; i < total; ++i) v[i] = (V)(uintptr_t)i;
      },
      [&] {
        for (size_t s = 0; s < total; s += n) {
          if constexpr (Two) sortFn(k1.data() + s, k2.data() + s, v.data() + s, n);
          else sortFn(k1.data() + s, v.data() + s, n);
        }
      },
      [&] {
        for (size_t i = 0; i < total; ++i) recs[i] = {keys1[i], Two ? keys2[i] : K(), (V)(uintptr_t)i};
      },
      [&] {
        for (size_t s = 0; s < total; s += n) std::stable_sort(recs.begin() + s, recs.begin() + s + n, lessRec);
      });
  report(kernel, shape, n, sets, ours, ref);
}

// Ranks of `sets` inputs of n entries (random, or each input sorted).
std::vector<uint64_t> ranks(size_t n, size_t sets, bool presorted, int bits) {
  std::vector<uint64_t> r(n * sets);
  for (auto &x : r) x = rng() & ((uint64_t(1) << bits) - 1);
  if (presorted)
    for (size_t s = 0; s < r.size(); s += n) std::sort(r.begin() + s, r.begin() + s + n);
  return r;
}

}  // namespace

int main(int argc, char **argv) {
  const char *only = argc > 1 ? argv[1] : "";  // optional kernel name filter
  auto lessInt = [](int32_t x, int32_t y) { return x < y; };
  auto lessVar = [](const var_s *x, const var_s *y) { return varOrd(x) < varOrd(y); };
  auto want = [&](const char *k) { return std::strstr(k, only) != nullptr; };
  std::printf("%-19s %-9s %8s  (ms per sort; best of 5 runs each, taken in turns; std = std::stable_sort of records)\n", "kernel", "input",
              "n");
  for (size_t n : {size_t(1000), size_t(100000), size_t(1000000)}) {
    size_t sets = std::max<size_t>(1, 1000000 / n);  // fresh data for every sort of a run
    for (bool presorted : {false, true}) {
      const char *shape = presorted ? "presorted" : "random";
      // integer keys: presorted in signed order (second keys random: the pair kernels see
      // presorted first keys with ties only where first keys repeat)
      std::vector<int32_t> i1(n * sets), i2(n * sets);
      for (size_t i = 0; i < n * sets; ++i) i1[i] = (int32_t)rng(), i2[i] = (int32_t)rng();
      if (presorted)
        for (size_t s = 0; s < n * sets; s += n) {
          std::vector<std::pair<int32_t, int32_t>> p(n);
          for (size_t i = 0; i < n; ++i) p[i] = {i1[s + i], i2[s + i]};
          std::sort(p.begin(), p.end());
          for (size_t i = 0; i < n; ++i) i1[s + i] = p[i].first, i2[s + i] = p[i].second;
        }
      Vars v1(ranks(n, sets, presorted, 48), n), v2(ranks(n, sets, false, 48), n);
      if (presorted) {  // pairs in pair order
        for (size_t s = 0; s < n * sets; s += n) {
          std::vector<std::pair<var_s *, var_s *>> p(n);
          for (size_t i = 0; i < n; ++i) p[i] = {v1.keys[s + i], v2.keys[s + i]};
          std::stable_sort(p.begin(), p.end(), [&](auto &x, auto &y) {
            return lessVar(x.first, y.first) || (!lessVar(y.first, x.first) && lessVar(x.second, y.second));
          });
          for (size_t i = 0; i < n; ++i) v1.keys[s + i] = p[i].first, v2.keys[s + i] = p[i].second;
        }
      }
      if (want("Sort_Int_Dbl"))
        bench<false, int32_t, double>("Sort_Int_Dbl", shape, n, sets, i1, i2, kpy_Sort_Int_Dbl, lessInt);
      if (want("Sort_Var_Ptr"))
        bench<false, var_s *, void *>("Sort_Var_Ptr", shape, n, sets, v1.keys, v2.keys, kpy_Sort_Var_Ptr, lessVar);
      if (want("Sort_Var_Dbl"))
        bench<false, var_s *, double>("Sort_Var_Dbl", shape, n, sets, v1.keys, v2.keys, kpy_Sort_Var_Dbl, lessVar);
      if (want("LexSort_IntInt_Dbl"))
        bench<true, int32_t, double>("LexSort_IntInt_Dbl", shape, n, sets, i1, i2, kpy_LexSort_IntInt_Dbl, lessInt);
      if (want("LexSort_VarVar_Dbl"))
        bench<true, var_s *, double>("LexSort_VarVar_Dbl", shape, n, sets, v1.keys, v2.keys, kpy_LexSort_VarVar_Dbl,
                                     lessVar);
      if (want("LexSort_VarVar_Ptr"))
        bench<true, var_s *, void *>("LexSort_VarVar_Ptr", shape, n, sets, v1.keys, v2.keys, kpy_LexSort_VarVar_Ptr,
                                     lessVar);
    }
  }
  return 0;
}
