// Include of the NumPy C API for the module's array code: one API table for every translation
// unit that includes this header (imported by kpy_numpy_ready, arrays/arrays.h).
#pragma once
#include "module/env.h"
#define PY_ARRAY_UNIQUE_SYMBOL kpy_arrays_NumPyAPI
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#ifndef KPY_NUMPY_DEFINE_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
#include "arrays/arrays.h"
