// NumPy and SciPy support of the modelling types: the NumPy C API of the module's array code,
// the dot-product engine and half-precision conversion.
#pragma once
#include "module/env.h"
#include <cstdint>

// 0 when the module's NumPy C API table is imported, else -1 with an error set
int kpy_numpy_ready();

// IEEE binary16 bit pattern to float (infinities and NaN included)
float krvx_half_to_float(uint16_t h);

// The dot product of a and b (NumPy arrays, lists, SciPy sparse matrices, numbers or model
// operands); a None (or null) stands for an empty accumulator and gives b alone. The result is
// written into out when out is not null. New reference, or null with an error set.
PyObject *tensor_mult(PyObject *a, PyObject *b, PyObject *out);

// A NumPy array (or subclass) viewed as korvex.ndarray; new reference
PyObject *kpy_as_kndarray(PyObject *arr);
// True for an instance of a SciPy sparse matrix or array class
bool kpy_isSparse(PyObject *obj);
