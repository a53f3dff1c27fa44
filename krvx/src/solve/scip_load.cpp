// Loading SCIP on first use: the shared library of the pyscipopt package (pyscipopt.libs/libscip-*.so.10.*),
// opened with its own symbols first (it carries an Ipopt of its own, which must not bind to the one
// libkrvx links, nor that one to it). Where it is looked for, the first that is set:
//   KORVEX_SCIP_LIBRARY   a file, or a folder holding it
//   KRVXsetscipfolder     the folder the host found (the Python package finds pyscipopt's)
//   beside libkrvx        site-packages/pyscipopt.libs, for korvex installed in the same site-packages
// A library once loaded stays for the life of the process; a failed look is repeated on the next use.
#include "solve/scip.h"

#include <dirent.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace krvx {

namespace {

std::mutex g_mtx;
std::string g_folder;                  // from the host
void *g_handle = nullptr;
scip::Api g_api;
bool g_loaded = false;

constexpr const char *kNeed = "pyscipopt==6.3.0";

// The SCIP library in a folder: libscip-<hash>.so.10.* (or libscip.so.10.*); empty when none.
std::string inFolder(const std::string &folder) {
  DIR *d = opendir(folder.c_str());
  if (!d) return std::string();
  std::string found;
  while (dirent *e = readdir(d)) {
    const char *n = e->d_name;
    if ((std::strncmp(n, "libscip-", 8) == 0 || std::strncmp(n, "libscip.", 8) == 0) && std::strstr(n, ".so.10")) {
      found = folder + "/" + n;
      break;
    }
  }
  closedir(d);
  return found;
}

bool isFolder(const std::string &path) {
  DIR *d = opendir(path.c_str());
  if (d) closedir(d);
  return d != nullptr;
}

// The folder of libkrvx itself.
std::string ownFolder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void *>(&inFolder), &info) || !info.dli_fname) return std::string();
  std::string f(info.dli_fname);
  const size_t slash = f.rfind('/');
  return slash == std::string::npos ? std::string(".") : f.substr(0, slash);
}

// Where the library is, or a text saying where it was looked for.
bool locate(std::string &path, std::string &error) {
  if (const char *env = std::getenv("KORVEX_SCIP_LIBRARY"); env && *env) {
    path = isFolder(env) ? inFolder(env) : std::string(env);
    if (path.empty()) error = std::string("no SCIP library in KORVEX_SCIP_LIBRARY's folder '") + env + "'";
    return !path.empty();
  }
  std::string tried;
  for (const std::string &folder : {g_folder, ownFolder() + "/../../../pyscipopt.libs"}) {
    if (folder.empty() || folder == "/../../../pyscipopt.libs") continue;
    path = inFolder(folder);
    if (!path.empty()) return true;
    tried += (tried.empty() ? "" : ", ") + folder;
  }
  error = tried.empty() ? "the pyscipopt package was not found" : "no SCIP library in " + tried;
  return false;
}

void collectError(void *, std::FILE *, const char *msg) { scipErrorText(msg); }

bool load(std::string &error) {
  std::string path;
  if (!locate(path, error)) return false;
  void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND);
  if (!h) {
    const char *e = dlerror();
    error = "cannot load '" + path + "': " + (e ? e : "unknown error");
    return false;
  }
  scip::Api api;
  std::string missing;
#define KRVX_SCIP_RESOLVE(name, ret, args)                                      \
  api.name = reinterpret_cast<decltype(api.name)>(dlsym(h, #name));                  \
  if (!api.name && missing.empty()) missing = #name;
  KRVX_SCIP_FUNCTIONS(KRVX_SCIP_RESOLVE)
#undef KRVX_SCIP_RESOLVE
  if (!missing.empty()) {
    dlclose(h);
    error = "'" + path + "' lacks the function " + missing;
    return false;
  }
  const double version = api.SCIPversion();
  if (!(version >= 10.0 && version < 11.0)) {
    dlclose(h);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", version);
    error = "'" + path + "' is SCIP " + buf + ", not 10";
    return false;
  }
  api.SCIPmessageSetErrorPrinting(collectError, nullptr);
  g_handle = h;
  g_api = api;
  g_loaded = true;
  return true;
}

}  // namespace

const scip::Api *scipApi(std::string &error) {
  std::lock_guard<std::mutex> lock(g_mtx);
  if (g_loaded) return &g_api;
  std::string why;
  if (load(why)) return &g_api;
  error = std::string("The global solver needs SCIP 10 from the Python package ") + kNeed + " (" + why + ")";
  return nullptr;
}

}  // namespace krvx

extern "C" KRVX_API int KRVXsetscipfolder(const char *folder) {
  std::lock_guard<std::mutex> lock(krvx::g_mtx);
  krvx::g_folder = folder ? folder : "";
  return 0;
}
