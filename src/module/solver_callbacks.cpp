// Whether the current thread runs Python code on behalf of the solver (message output, user
// functions), for the problem lock.
#include "module/services.h"

namespace {
thread_local int callbackDepth = 0;
}

SolverCallbackScope::SolverCallbackScope() { ++callbackDepth; }
SolverCallbackScope::~SolverCallbackScope() { --callbackDepth; }
bool kpy_inSolverCallback() { return callbackDepth > 0; }
