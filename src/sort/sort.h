// Stable in-place sorts of keys with parallel value arrays (no allocation, no failure).
// Variable keys sort in var order: 16-bit high id word, then 32-bit index word, both unsigned.
#pragma once
#include <cstddef>
#include <cstdint>

struct var_s;

void kpy_Sort_Int_Dbl(int32_t *keys, double *values, size_t n);
void kpy_Sort_Var_Ptr(var_s **keys, void **values, size_t n);
void kpy_Sort_Var_Dbl(var_s **keys, double *values, size_t n);
// by (first key, second key)
void kpy_LexSort_IntInt_Dbl(int32_t *keys1, int32_t *keys2, double *values, size_t n);
void kpy_LexSort_VarVar_Dbl(var_s **keys1, var_s **keys2, double *values, size_t n);
void kpy_LexSort_VarVar_Ptr(var_s **keys1, var_s **keys2, void **values, size_t n);

// Pair order of (a1, a2) against (b1, b2): 1 greater, -1 less, 0 equal.
int kpy_varPairCompare(const var_s *a1, const var_s *b1, const var_s *a2, const var_s *b2);
