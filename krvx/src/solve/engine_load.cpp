// Loading the engine plugins on first use (solve/engine_load.h).
#include "solve/engine_load.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace krvx {
namespace engines {
namespace {

#ifndef KRVX_ENGINES_BUILTIN
struct PluginInfo {
  const char *engine;    // in messages
  const char *file;      // the plugin, beside libkrvx
  const char *symbol;    // its entry: returns the solve function
  const char *package;   // the Debian package that brings the engine's libraries
};

const PluginInfo kPlugins[] = {
    {"Ipopt", "libkrvx_ipopt.so", "krvx_engine_ipopt", "coinor-libipopt1v5"},
    {"Bonmin", "libkrvx_bonmin.so", "krvx_engine_bonmin", "coinor-libbonmin4"},
    {"Cbc", "libkrvx_cbc.so", "krvx_engine_cbc", "coinor-libcbc3"},
};

// The folder of the plugins: KORVEX_ENGINE_DIR, else that of libkrvx.
std::string pluginDir() {
  if (const char *dir = std::getenv("KORVEX_ENGINE_DIR"); dir && *dir) return dir;
  Dl_info info;
  if (dladdr(reinterpret_cast<void *>(&pluginDir), &info) && info.dli_fname) {
    std::string self = info.dli_fname;
    size_t slash = self.rfind('/');
    if (slash != std::string::npos) return self.substr(0, slash);
  }
  return ".";
}

struct Loaded {
  std::once_flag once;
  void *fn = nullptr;
  std::string error;     // why it could not be loaded
};
Loaded loaded[3];

void load(const PluginInfo &info, Loaded &slot) {
  const std::string path = pluginDir() + "/" + info.file;
  // RTLD_LOCAL: the engines' libraries stay out of the process's global symbol scope
  void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char *why = dlerror();
    slot.error = why ? why : path + ": cannot be loaded";
    return;
  }
  auto get = reinterpret_cast<void *(*)()>(dlsym(h, info.symbol));
  if (!get) {
    slot.error = path + " has no entry " + info.symbol;
    return;
  }
  slot.fn = get();
}
#endif

}  // namespace

void *entry(ko_prob_struct *p, Plugin which) {
#ifdef KRVX_ENGINES_BUILTIN
  (void)p;
  switch (which) {
    case Plugin::Ipopt: return reinterpret_cast<void *>(&krvx::nlpRun);
    case Plugin::Bonmin: return reinterpret_cast<void *>(&krvx::minlpRun);
    case Plugin::Cbc: return reinterpret_cast<void *>(&krvx::runCbc);
  }
  return nullptr;
#else
  const int k = static_cast<int>(which);
  const PluginInfo &info = kPlugins[k];
  Loaded &slot = loaded[k];
  std::call_once(slot.once, [&] { load(info, slot); });
  if (!slot.fn)
    fail(p, kErrEngine, "The %s engine this problem needs is not available (%s): install the Debian package %s",
         info.engine, slot.error.c_str(), info.package);
  return slot.fn;
#endif
}

}  // namespace engines
}  // namespace krvx
