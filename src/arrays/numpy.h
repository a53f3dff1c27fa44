// Include of the NumPy C API for the module's array code (the table is the module's shared one,
// imported at start-up; see module/env.h).
#pragma once
#include "module/env.h"
#include <numpy/arrayobject.h>
#include "arrays/arrays.h"
