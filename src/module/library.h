// Solver-library start and stop beyond env.h (module-internal).
#pragma once
#include "module/env.h"

// Starts the library unless it is running (problem creation and other implicit uses); 0 or -1.
int kpy_ensureLibrary();
// Undoes every start (module teardown).
void kpy_stopLibraryAll();
