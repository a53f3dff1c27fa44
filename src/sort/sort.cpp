// The sort entry points: the generic kernels over integer and variable keys.
#include "sort/sort.h"
#include "module/objects.h"
#include "sort/kernels.h"

namespace {

// Var order: 16-bit high id word, then 32-bit index word, both unsigned.
struct VarKey {
  using type = var_s *;
  static constexpr bool indirect = true;
  static uint64_t ord(const var_s *v) { return (uint64_t)v->idx_high << 32 | v->idx_low; }
};

using kpysort::IntKey;
using kpysort::NoKey;

template <class K1, class K2, class V>
void sortCols(typename K1::type *k1, typename K2::type *k2, V *v, size_t n) {
  using C = kpysort::Cols<K1, K2, V>;
  kpysort::sortEntries(C{k1, k2, v}, (kpysort::idx)n);
}

}  // namespace

void kpy_Sort_Int_Dbl(int32_t *keys, double *values, size_t n) {
  sortCols<IntKey, NoKey>(keys, nullptr, values, n);
}
void kpy_Sort_Var_Ptr(var_s **keys, void **values, size_t n) {
  sortCols<VarKey, NoKey>(keys, nullptr, values, n);
}
void kpy_Sort_Var_Dbl(var_s **keys, double *values, size_t n) {
  sortCols<VarKey, NoKey>(keys, nullptr, values, n);
}
void kpy_LexSort_IntInt_Dbl(int32_t *keys1, int32_t *keys2, double *values, size_t n) {
  sortCols<IntKey, IntKey>(keys1, keys2, values, n);
}
void kpy_LexSort_VarVar_Dbl(var_s **keys1, var_s **keys2, double *values, size_t n) {
  sortCols<VarKey, VarKey>(keys1, keys2, values, n);
}
void kpy_LexSort_VarVar_Ptr(var_s **keys1, var_s **keys2, void **values, size_t n) {
  sortCols<VarKey, VarKey>(keys1, keys2, values, n);
}

int kpy_varPairCompare(const var_s *a1, const var_s *b1, const var_s *a2, const var_s *b2) {
  int c = kpy_varCompare(a1, b1);
  return c ? c : kpy_varCompare(a2, b2);
}
