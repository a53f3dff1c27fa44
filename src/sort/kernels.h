// Stable merge sort of one or two key arrays with a parallel value array, generic over the
// key kinds. An entry is the set of words at one index of the arrays; it always moves whole.
// Work space is a stack buffer of 512 entries; nothing is allocated.
//
// A key traits class gives `type` (the stored key), `ord(k)` (an integer whose natural order is
// the key order) and `indirect` (ord reads memory the key points to: such keys are prefetched
// ahead of the merges, and a second key is read only when the first keys are equal).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace kpysort {

#if defined(__GNUC__)
#define KPYSORT_INLINE inline __attribute__((always_inline))
#define KPYSORT_LAMBDA_INLINE __attribute__((always_inline))
#else
#define KPYSORT_INLINE inline
#define KPYSORT_LAMBDA_INLINE
#endif

using idx = std::ptrdiff_t;
constexpr idx kBuf = 512;

struct IntKey {
  using type = int32_t;
  static constexpr bool indirect = false;
  static int32_t ord(int32_t k) { return k; }
};
struct NoKey {
  using type = unsigned char;
  static constexpr bool indirect = false;
  static unsigned ord(unsigned char) { return 0; }
};

template <class K1, class K2, class V>
struct Cols {
  static constexpr bool two = !std::is_same_v<K2, NoKey>;
  static constexpr bool indirect = K1::indirect;
  using T1 = typename K1::type;
  using T2 = typename K2::type;
  using Val = V;
  struct Item {
    T1 a;
    T2 b;
    V v;
  };
  T1 *a;
  T2 *b;
  V *v;

  KPYSORT_INLINE Cols at(idx i) const { return {a + i, two ? b + i : b, v + i}; }

  // key order of the entries (xa, xb) and (ya, yb): x strictly greater than y
  KPYSORT_INLINE static bool gtKeys(T1 xa, T2 xb, T1 ya, T2 yb) {
    if constexpr (!two) {
      (void)xb, (void)yb;
      return K1::ord(xa) > K1::ord(ya);
    } else if constexpr (K1::indirect) {  // the second key only when needed
      auto p = K1::ord(xa), q = K1::ord(ya);
      if (p != q) return p > q;
      return K2::ord(xb) > K2::ord(yb);
    } else {
      auto p = K1::ord(xa), q = K1::ord(ya);
      return (p > q) | ((p == q) & (K2::ord(xb) > K2::ord(yb)));
    }
  }
  // this[i] greater than s[j]
  KPYSORT_INLINE bool gt(idx i, const Cols &s, idx j) const {
    if constexpr (two) return gtKeys(a[i], b[i], s.a[j], s.b[j]);
    else return gtKeys(a[i], T2(), s.a[j], T2());
  }
  // this[i] greater than e
  KPYSORT_INLINE bool gt(idx i, const Item &e) const {
    if constexpr (two) return gtKeys(a[i], b[i], e.a, e.b);
    else return gtKeys(a[i], T2(), e.a, T2());
  }

  // announces entry i, to be compared soon
  KPYSORT_INLINE void prefetch(idx i) const {
    if constexpr (K1::indirect) __builtin_prefetch(a[i]);
    else (void)i;
  }
  KPYSORT_INLINE Item get(idx i) const {
    Item e{a[i], T2(), v[i]};
    if constexpr (two) e.b = b[i];
    return e;
  }
  KPYSORT_INLINE void put(idx i, const Item &e) const {
    a[i] = e.a;
    if constexpr (two) b[i] = e.b;
    v[i] = e.v;
  }
  KPYSORT_INLINE void set(idx i, const Cols &s, idx j) const {
    a[i] = s.a[j];
    if constexpr (two) b[i] = s.b[j];
    v[i] = s.v[j];
  }
  // this[i] = takeY ? y[j] : x[k], branch-free
  KPYSORT_INLINE void select(idx i, bool takeY, const Cols &y, idx j, const Cols &x, idx k) const {
    const T1 *pa = takeY ? y.a + j : x.a + k;
    const V *pv = takeY ? y.v + j : x.v + k;
    a[i] = *pa;
    if constexpr (two) {
      const T2 *pb = takeY ? y.b + j : x.b + k;
      b[i] = *pb;
    }
    v[i] = *pv;
  }
  // applies f(column, buffer column) to the key and value columns
  template <class F>
  KPYSORT_INLINE void eachColumn(const Cols &buf, F f) const {
    f(a, buf.a);
    if constexpr (two) f(b, buf.b);
    f(v, buf.v);
  }
  KPYSORT_INLINE void swap(idx i, idx j) const {
    Item t = get(i);
    set(i, *this, j);
    put(j, t);
  }
  KPYSORT_INLINE void copyFrom(idx i, const Cols &s, idx j, idx n) const {
    std::memcpy(a + i, s.a + j, n * sizeof(T1));
    if constexpr (two) std::memcpy(b + i, s.b + j, n * sizeof(T2));
    std::memcpy(v + i, s.v + j, n * sizeof(V));
  }
  KPYSORT_INLINE void moveFrom(idx i, const Cols &s, idx j, idx n) const {
    std::memmove(a + i, s.a + j, n * sizeof(T1));
    if constexpr (two) std::memmove(b + i, s.b + j, n * sizeof(T2));
    std::memmove(v + i, s.v + j, n * sizeof(V));
  }
};

// The stack work buffer of an entry point.
template <class C>
struct WorkBuffer {
  typename C::T1 a[kBuf];
  typename C::T2 b[C::two ? kBuf : 1];
  typename C::Val v[kBuf];
  C cols() { return {a, b, v}; }
};

// ---------------------------------------------------------------------------------------------
// Elementary steps. Runs L and R; a head step moves the smaller head (L on ties) to the front,
// a tail step the greater tail (R on ties) to the back.

template <class C>
KPYSORT_INLINE void headStep(const C &d, idx &pd, const C &s, idx &pl, idx &pr) {
  bool x = s.gt(pl, s, pr);
  d.set(pd++, s, x ? pr : pl);
  pl += !x;
  pr += x;
}
template <class C>
KPYSORT_INLINE void tailStep(const C &d, idx &pb, const C &s, idx &tl, idx &tr) {
  bool y = s.gt(tl, s, tr);
  d.set(pb--, s, y ? tl : tr);
  tl -= y;
  tr -= !y;
}
// The same with L and R in different arrays.
template <class C>
KPYSORT_INLINE void headStep2(const C &d, idx &pd, const C &l, idx &pl, const C &r, idx &pr) {
  bool x = l.gt(pl, r, pr);
  d.select(pd++, x, r, pr, l, pl);
  pl += !x;
  pr += x;
}
template <class C>
KPYSORT_INLINE void tailStep2(const C &d, idx &pb, const C &l, idx &tl, const C &r, idx &tr) {
  bool y = l.gt(tl, r, tr);
  d.select(pb--, y, l, tl, r, tr);
  tl -= y;
  tr -= !y;
}

// Prefetch distance (entries) of the merges for indirect keys.
constexpr idx kAhead = 8;

// Announces the entries kAhead beyond the heads (within s[0, last]) and below the tails.
template <class C>
KPYSORT_INLINE void prefetchHeads(const C &s, idx last, idx pl, idx pr) {
  if constexpr (C::indirect) {
    s.prefetch(pl + kAhead < last ? pl + kAhead : last);
    s.prefetch(pr + kAhead < last ? pr + kAhead : last);
  } else {
    (void)s, (void)last, (void)pl, (void)pr;
  }
}
template <class C>
KPYSORT_INLINE void prefetchTails(const C &s, idx tl, idx tr) {
  if constexpr (C::indirect) {
    s.prefetch(tl > kAhead ? tl - kAhead : 0);
    s.prefetch(tr > kAhead ? tr - kAhead : 0);
  } else {
    (void)s, (void)tl, (void)tr;
  }
}

// Merges s[0, left) and s[left, left+right) into d; right is left or left+1 (or left-1, only
// through the crossMerge shortcut, whose interleave tests make it safe). No step tests for
// exhaustion: the size relation alone keeps head and tail steps inside their runs.
template <class C>
void parityMerge(const C &d, const C &s, idx left, idx right) {
  idx pl = 0, pr = left, tl = left - 1, tr = left + right - 1, pd = 0, pb = left + right - 1;
  if (left < right) headStep(d, pd, s, pl, pr);
  headStep(d, pd, s, pl, pr);
  for (idx k = left - 1; k > 0; --k) {
    prefetchHeads(s, left + right - 1, pl, pr);
    prefetchTails(s, tl, tr);
    headStep(d, pd, s, pl, pr);
    tailStep(d, pb, s, tl, tr);
  }
  d.set(pb, s, s.gt(tl, s, tr) ? tl : tr);
}

// parityMerge of K + K entries, unrolled.
template <idx K, class C>
KPYSORT_INLINE void parityMergeFixed(const C &d, const C &s) {
  idx pl = 0, pr = K, tl = K - 1, tr = 2 * K - 1, pd = 0, pb = 2 * K - 1;
#pragma GCC unroll 4
  for (idx k = 0; k < K; ++k) {
    headStep(d, pd, s, pl, pr);
    tailStep(d, pb, s, tl, tr);
  }
}

// Merges s[0, left) and s[left, left+right) into d for any left, right >= 1.
template <class C>
void crossMerge(const C &d, const C &s, idx left, idx right) {
  idx pl = 0, tl = left - 1, pr = left, tr = left + right - 1, pd = 0, pb = left + right - 1;
  if (left + 1 >= right && right + 1 >= left && left >= 32) {
    if (s.gt(15, s, pr) && !s.gt(0, s, pr + 15) && s.gt(tl, s, tr - 15) && !s.gt(tl - 15, s, tr)) {
      parityMerge(d, s, left, right);
      return;
    }
  }
  while (tl - pl > 8 && tr - pr > 8) {
    while (!s.gt(pl + 7, s, pr)) {
      d.copyFrom(pd, s, pl, 8);
      pd += 8, pl += 8;
      if (tl - pl <= 8) goto final;
    }
    while (s.gt(pl, s, pr + 7)) {
      d.copyFrom(pd, s, pr, 8);
      pd += 8, pr += 8;
      if (tr - pr <= 8) goto final;
    }
    while (!s.gt(tl, s, tr - 7)) {
      pb -= 8, tr -= 8;
      d.copyFrom(pb + 1, s, tr + 1, 8);
      if (tr - pr <= 8) goto final;
    }
    while (s.gt(tl - 7, s, tr)) {
      pb -= 8, tl -= 8;
      d.copyFrom(pb + 1, s, tl + 1, 8);
      if (tl - pl <= 8) goto final;
    }
    for (int k = 0; k < 8; ++k) {
      prefetchHeads(s, left + right - 1, pl, pr);
      prefetchTails(s, tl, tr);
      headStep(d, pd, s, pl, pr);
      tailStep(d, pb, s, tl, tr);
    }
  }
final:
  if (!s.gt(tl, s, tr)) {
    while (pl <= tl) {
      prefetchHeads(s, left + right - 1, pl, pr);
      headStep(d, pd, s, pl, pr);
    }
    d.copyFrom(pd, s, pr, tr - pr + 1);
  } else {
    while (pr <= tr) {
      prefetchHeads(s, left + right - 1, pl, pr);
      headStep(d, pd, s, pl, pr);
    }
    d.copyFrom(pd, s, pl, tl - pl + 1);
  }
}

// Merges a[0, block) and a[block, nmemb) in place; needs 1 <= block <= nmemb and
// nmemb - block <= cap.
template <class C>
void partialBackwardMerge(const C &a, const C &buf, idx cap, idx nmemb, idx block) {
  if (nmemb == block || !a.gt(block - 1, a, block)) return;
  idx right = nmemb - block;
  if (nmemb <= cap && right >= 64) {
    crossMerge(buf, a, block, right);
    a.copyFrom(0, buf, 0, nmemb);
    return;
  }
  buf.copyFrom(0, a, block, right);
  idx tl = block - 1, tr = right - 1, pb = nmemb - 1;
  // pair step: two or three entries to the back
  auto pairStep = [&]() KPYSORT_LAMBDA_INLINE {
    if constexpr (C::indirect) {
      a.prefetch(tl > 2 * kAhead ? tl - 2 * kAhead : 0);
      buf.prefetch(tr > 2 * kAhead ? tr - 2 * kAhead : 0);
    }
    if (!a.gt(tl, buf, tr - 1)) {
      a.set(pb, buf, tr);
      a.set(pb - 1, buf, tr - 1);
      tr -= 2;
    } else if (a.gt(tl - 1, buf, tr)) {
      a.set(pb, a, tl);
      a.set(pb - 1, a, tl - 1);
      tl -= 2;
    } else {
      bool x = a.gt(tl, buf, tr);
      a.select(pb, x, a, tl, buf, tr);
      a.select(pb - 1, x, buf, tr, a, tl);
      --tl, --tr;
      pb -= 2;
      tailStep2(a, pb, a, tl, buf, tr);
      return;
    }
    pb -= 2;
  };
  while (tl > 16 && tr > 16) {
    while (!a.gt(tl, buf, tr - 15)) {
      pb -= 16, tr -= 16;
      a.copyFrom(pb + 1, buf, tr + 1, 16);
      if (tr <= 16) goto pairs;
    }
    while (a.gt(tl - 15, buf, tr)) {
      pb -= 16, tl -= 16;
      a.copyFrom(pb + 1, a, tl + 1, 16);
      if (tl <= 16) goto pairs;
    }
    for (int k = 0; k < 8; ++k) pairStep();
  }
pairs:
  while (tr > 1 && tl > 1) pairStep();
  while (tr >= 0 && tl >= 0) tailStep2(a, pb, a, tl, buf, tr);
  if (tr >= 0) a.copyFrom(pb - tr, buf, 0, tr + 1);
}

// Merges a[0, block) and a[block, nmemb) in place; needs 1 <= block <= nmemb, block <= 512.
template <class C>
void partialForwardMerge(const C &a, const C &buf, idx nmemb, idx block) {
  if (nmemb == block || !a.gt(block - 1, a, block)) return;
  buf.copyFrom(0, a, 0, block);
  idx pl = 0, tl = block - 1, pr = block, tr = nmemb - 1, pd = 0;
  while (tl - pl > 1 && tr - pr > 1) {
    if constexpr (C::indirect) {
      buf.prefetch(pl + 2 * kAhead < tl ? pl + 2 * kAhead : tl);
      a.prefetch(pr + 2 * kAhead < tr ? pr + 2 * kAhead : tr);
    }
    if (buf.gt(pl, a, pr + 1)) {
      a.set(pd, a, pr);
      a.set(pd + 1, a, pr + 1);
      pr += 2;
    } else if (!buf.gt(pl + 1, a, pr)) {
      a.set(pd, buf, pl);
      a.set(pd + 1, buf, pl + 1);
      pl += 2;
    } else {
      bool x = buf.gt(pl, a, pr);
      a.select(pd, x, a, pr, buf, pl);
      a.select(pd + 1, x, buf, pl, a, pr);
      ++pl, ++pr;
      pd += 2;
      headStep2(a, pd, buf, pl, a, pr);
      continue;
    }
    pd += 2;
  }
  while (pl <= tl && pr <= tr) headStep2(a, pd, buf, pl, a, pr);
  a.copyFrom(pd, buf, pl, tl - pl + 1);
}

// Turns the stretch A B (lengths na, nb) of one column into B A; buf holds 512 words.
template <class T>
void rotateColumn(T *s, T *buf, idx na, idx nb) {
  if (na == nb) {
    for (idx k = 0; k < na; ++k) {
      T t = s[k];
      s[k] = s[na + k];
      s[na + k] = t;
    }
    return;
  }
  if (na < nb) {
    if (na <= kBuf) {
      std::memcpy(buf, s, na * sizeof(T));
      std::memmove(s, s + na, nb * sizeof(T));
      std::memcpy(s + nb, buf, na * sizeof(T));
      return;
    }
    idx bridge = nb - na;
    if (bridge >= 4 && bridge <= kBuf) {  // bridge rotation
      std::memcpy(buf, s + na, bridge * sizeof(T));
      idx pa = na, pb = nb, pc = na + nb;
      for (idx k = na; k > 0; --k) {
        --pa, --pb, --pc;
        s[pb] = s[pc];
        s[pc] = s[pa];
      }
      std::memcpy(s, buf, bridge * sizeof(T));
      return;
    }
  } else {
    if (nb <= kBuf) {
      std::memcpy(buf, s + na, nb * sizeof(T));
      std::memmove(s + nb, s, na * sizeof(T));
      std::memcpy(s, buf, nb * sizeof(T));
      return;
    }
    idx bridge = na - nb;
    if (bridge >= 4 && bridge <= kBuf) {
      std::memcpy(buf, s + nb, bridge * sizeof(T));
      idx pa = 0, pb = nb, pc = na;
      for (idx k = nb; k > 0; --k) {
        s[pb++] = s[pa];
        s[pa++] = s[pc++];
      }
      std::memcpy(s + na + nb - bridge, buf, bridge * sizeof(T));
      return;
    }
  }
  // three-phase rotation in place
  idx pa = 0, pb = na, pc = na, pd = na + nb;
  for (idx k = (na < nb ? na : nb) / 2; k > 0; --k) {
    --pb, --pd;
    T t = s[pb];
    s[pb] = s[pa];
    s[pa] = s[pc];
    s[pc] = s[pd];
    s[pd] = t;
    ++pa, ++pc;
  }
  if (na < nb) {
    for (idx k = (pd - pc) / 2; k > 0; --k) {
      --pd;
      T t = s[pc];
      s[pc] = s[pd];
      s[pd] = s[pa];
      s[pa] = t;
      ++pa, ++pc;
    }
  } else {
    for (idx k = (pb - pa) / 2; k > 0; --k) {
      --pb, --pd;
      T t = s[pb];
      s[pb] = s[pa];
      s[pa] = s[pd];
      s[pd] = t;
      ++pa;
    }
  }
  for (idx k = (pd - pa) / 2; k > 0; --k) {
    --pd;
    T t = s[pa];
    s[pa] = s[pd];
    s[pd] = t;
    ++pa;
  }
}

// Turns the stretch A B (lengths na, nb) into B A; every column moves the same way, so entries
// stay whole.
template <class C>
void rotateBlocks(const C &s, const C &buf, idx na, idx nb) {
  s.eachColumn(buf, [&](auto *col, auto *bufCol) { rotateColumn(col, bufCol, na, nb); });
}

// Number of entries of s[r, r+n) less than s[key]; n >= 1.
template <class C>
inline idx countLessThanKey(const C &s, idx key, idx r, idx n) {
  idx end = n, top = n;
  while (top > 1) {
    idx mid = top / 2;
    end -= mid * !s.gt(key, s, r + end - mid);
    top -= mid;
  }
  end -= !s.gt(key, s, r + end - 1);
  return end;
}

// Merges a[0, lblock) and a[lblock, lblock+right) in place; right >= 1.
template <class C>
void rotateMergeBlock(C a, const C &buf, idx lblock, idx right) {
  for (;;) {
    if (!a.gt(lblock - 1, a, lblock)) return;
    idx rblock = lblock / 2;
    lblock -= rblock;
    idx left = countLessThanKey(a, lblock, lblock + rblock, right);
    right -= left;
    if (left > 0) {
      if (lblock + left <= kBuf) {
        buf.copyFrom(0, a, 0, lblock);
        buf.copyFrom(lblock, a, lblock + rblock, left);
        a.moveFrom(lblock + left, a, lblock, rblock);
        crossMerge(a, buf, lblock, left);
      } else {
        rotateBlocks(a.at(lblock), buf, rblock, left);
        bool unbalanced = 2 * left < lblock || 2 * lblock < left;
        if (unbalanced && left <= kBuf)
          partialBackwardMerge(a, buf, kBuf, lblock + left, lblock);
        else if (unbalanced && lblock <= kBuf)
          partialForwardMerge(a, buf, lblock + left, lblock);
        else
          rotateMergeBlock(a, buf, lblock, left);
      }
    }
    if (right == 0) return;
    C base = a.at(lblock + left);
    bool unbalanced = 2 * right < rblock || 2 * rblock < right;
    if ((unbalanced && right <= kBuf) || right + rblock <= kBuf) {
      partialBackwardMerge(base, buf, kBuf, rblock + right, rblock);
    } else if (unbalanced && rblock <= kBuf) {
      partialForwardMerge(base, buf, rblock + right, rblock);
    } else {
      a = base;
      lblock = rblock;
      continue;
    }
    return;
  }
}

// ---------------------------------------------------------------------------------------------
// Small sort and networks

// Exchanges entries i and i+1 when x (entry i greater than entry i+1), branch-free.
template <class C>
KPYSORT_INLINE void swapIf(const C &s, idx i, bool x) {
  auto p = s.get(i + x), q = s.get(i + 1 - x);
  s.put(i, p);
  s.put(i + 1, q);
}
// Compare-swap of entries i and i+1.
template <class C>
KPYSORT_INLINE void compareSwap(const C &s, idx i) {
  swapIf(s, i, s.gt(i, s, i + 1));
}

template <class C>
KPYSORT_INLINE void sortFour(const C &s) {
  compareSwap(s, 0);
  compareSwap(s, 2);
  if (!s.gt(1, s, 2)) return;
  s.swap(1, 2);
  compareSwap(s, 0);
  compareSwap(s, 2);
  compareSwap(s, 1);
}

// With s[0, offset) sorted (offset >= 2), inserts entries offset to n-1.
template <class C>
void insertTail(const C &s, idx offset, idx n) {
  for (idx i = offset; i < n; ++i) {
    if (!s.gt(i - 1, s, i)) continue;
    auto key = s.get(i);
    if (s.gt(1, key)) {
      s.moveFrom(2, s, 1, i - 1);
      s.put(1, key);
      compareSwap(s, 0);
      continue;
    }
    idx p = i - 1, d = i;
    do {
      s.set(d--, s, p--);
      s.set(d--, s, p--);
    } while (s.gt(p, key));
    s.set(d, s, d + 1);
    s.put(d + 1, key);
    compareSwap(s, d);
  }
}

// With the pairs (0,1), (2,3), (4,5), (6,7) in order, sorts s[0, 8).
template <class C>
KPYSORT_INLINE void mergeEight(const C &s, const C &buf) {
  parityMergeFixed<2>(buf, s);
  parityMergeFixed<2>(buf.at(4), s.at(4));
  parityMergeFixed<4>(s, buf);
}

// Sorts s[0, n) for n <= 96.
template <class C>
void smallSort(const C &s, const C &buf, idx n) {
  if (n < 2) return;
  if (n == 2) {
    compareSwap(s, 0);
  } else if (n == 3) {
    compareSwap(s, 0);
    compareSwap(s, 1);
    compareSwap(s, 0);
  } else if (n < 8) {
    sortFour(s);
    insertTail(s, 4, n);
  } else if (n < 12) {
    for (idx i = 0; i < 8; i += 2) compareSwap(s, i);
    if (s.gt(1, s, 2) || s.gt(3, s, 4) || s.gt(5, s, 6)) mergeEight(s, buf);
    insertTail(s, 8, n);
  } else if (n >= 16 && n < 24) {
    for (idx i = 0; i < 16; i += 4) sortFour(s.at(i));
    if (s.gt(3, s, 4) || s.gt(7, s, 8) || s.gt(11, s, 12)) {
      parityMergeFixed<4>(buf, s);
      parityMergeFixed<4>(buf.at(8), s.at(8));
      parityMerge(s, buf, 8, 8);
    }
    insertTail(s, 16, n);
  } else {
    idx half1 = n / 2, quad1 = half1 / 2, quad2 = half1 - quad1;
    idx half2 = n - half1, quad3 = half2 / 2, quad4 = half2 - quad3;
    smallSort(s, buf, quad1);
    smallSort(s.at(quad1), buf, quad2);
    smallSort(s.at(half1), buf, quad3);
    smallSort(s.at(half1 + quad3), buf, quad4);
    if (!s.gt(quad1 - 1, s, quad1) && !s.gt(half1 - 1, s, half1) &&
        !s.gt(half1 + quad3 - 1, s, half1 + quad3))
      return;
    parityMerge(buf, s, quad1, quad2);
    parityMerge(buf.at(half1), s.at(half1), quad3, quad4);
    parityMerge(s, buf, half1, half2);
  }
}

// ---------------------------------------------------------------------------------------------
// Driver

template <class C>
void reverseRun(const C &s, idx from, idx to) {
  for (--to; from < to; ++from, --to) s.swap(from, to);
}

// Pairwise merges of runs of `block` while block < nmemb and block <= cap; returns the run
// length reached.
template <class C>
idx tailMerge(const C &a, const C &buf, idx cap, idx nmemb, idx block) {
  while (block < nmemb && block <= cap) {
    for (idx pta = 0; pta + block < nmemb; pta += 2 * block) {
      idx len = nmemb - pta < 2 * block ? nmemb - pta : 2 * block;
      partialBackwardMerge(a.at(pta), buf, cap, len, block);
    }
    block *= 2;
  }
  return block;
}

// Four sorted runs of b entries into one.
template <class C>
void quadMerge(const C &a, const C &buf, idx b) {
  bool in1 = !a.gt(b - 1, a, b), in2 = !a.gt(3 * b - 1, a, 3 * b);
  if (in1 && in2) {
    if (!a.gt(2 * b - 1, a, 2 * b)) return;
    buf.copyFrom(0, a, 0, 4 * b);
  } else {
    if (in1) buf.copyFrom(0, a, 0, 2 * b);
    else crossMerge(buf, a, b, b);
    if (in2) buf.copyFrom(2 * b, a, 2 * b, 2 * b);
    else crossMerge(buf.at(2 * b), a.at(2 * b), b, b);
  }
  crossMerge(a, buf, 2 * b, 2 * b);
}

// Sorted groups of eight (strictly descending stretches reversed whole), the rest by smallSort.
template <class C>
void sortGroups(const C &a, const C &buf, idx n) {
  idx full = n & ~idx(7), desc = -1;  // desc: start of a pending strictly descending run
  for (idx i = 0; i < full; i += 8) {
    C g = a.at(i);
    bool o0 = g.gt(0, g, 1), o1 = g.gt(2, g, 3), o2 = g.gt(4, g, 5), o3 = g.gt(6, g, 7);
    if (o0 && o1 && o2 && o3 && g.gt(1, g, 2) && g.gt(3, g, 4) && g.gt(5, g, 6)) {
      if (desc >= 0 && a.gt(i - 1, a, i)) continue;
      if (desc >= 0) reverseRun(a, desc, i);
      desc = i;
      continue;
    }
    if (desc >= 0) {
      reverseRun(a, desc, i);
      desc = -1;
    }
    swapIf(g, 0, o0);
    swapIf(g, 2, o1);
    swapIf(g, 4, o2);
    swapIf(g, 6, o3);
    if (g.gt(1, g, 2) || g.gt(3, g, 4) || g.gt(5, g, 6)) mergeEight(g, buf);
  }
  if (desc >= 0) reverseRun(a, desc, full);
  smallSort(a.at(full), buf, n - full);
}

template <class C>
void sortEntries(const C &a, idx n) {
  WorkBuffer<C> storage;
  C buf = storage.cols();
  if (n <= 96) {
    smallSort(a, buf, n);
    return;
  }
  sortGroups(a, buf, n);
  // blocks of 32
  idx full = n & ~idx(31);
  for (idx i = 0; i < full; i += 32) {
    C blk = a.at(i);
    if (!blk.gt(7, blk, 8) && !blk.gt(15, blk, 16) && !blk.gt(23, blk, 24)) continue;
    parityMerge(buf, blk, 8, 8);
    parityMerge(buf.at(16), blk.at(16), 8, 8);
    parityMerge(blk, buf, 16, 16);
  }
  if (n - full >= 9) tailMerge(a.at(full), buf, 32, n - full, 8);
  // runs of 32, then 128, four at a time
  idx b = 32;
  while (4 * b <= n && 4 * b <= kBuf) {
    idx pta = 0;
    for (; pta + 4 * b <= n; pta += 4 * b) quadMerge(a.at(pta), buf, b);
    tailMerge(a.at(pta), buf, kBuf, n - pta, b);
    b *= 4;
  }
  idx B = tailMerge(a, buf, kBuf, n, b);
  if (B >= n) return;
  if (n <= 2 * B && n - B <= kBuf) {
    partialBackwardMerge(a, buf, kBuf, n, B);
    return;
  }
  for (; B < n; B *= 2)
    for (idx pta = 0; pta + B < n; pta += 2 * B)
      rotateMergeBlock(a.at(pta), buf, B, n - pta - B < B ? n - pta - B : B);
}

}  // namespace kpysort
