// The entry of an engine plugin (solve/engine_load.h): one of KRVX_ENGINE_IPOPT, KRVX_ENGINE_BONMIN
// and KRVX_ENGINE_CBC is defined, and the plugin hands libkrvx the address of that engine's solve.
#include "nl/nlpsolve.h"
#include "solve/cbc.h"

#define KRVX_ENGINE_ENTRY extern "C" __attribute__((visibility("default"))) void *

#if defined(KRVX_ENGINE_IPOPT)
KRVX_ENGINE_ENTRY krvx_engine_ipopt() { return reinterpret_cast<void *>(&krvx::nlpRun); }
#elif defined(KRVX_ENGINE_BONMIN)
KRVX_ENGINE_ENTRY krvx_engine_bonmin() { return reinterpret_cast<void *>(&krvx::minlpRun); }
#elif defined(KRVX_ENGINE_CBC)
KRVX_ENGINE_ENTRY krvx_engine_cbc() { return reinterpret_cast<void *>(&krvx::runCbc); }
#else
#error "define the engine this plugin holds"
#endif
