// The optional engines (Ipopt, Bonmin, Cbc) live in plugins beside libkrvx (libkrvx_ipopt.so,
// libkrvx_bonmin.so, libkrvx_cbc.so), each linked against its Debian libraries and loaded when a
// solve first needs it: libkrvx itself needs none of them, so LP, MIP and QP solves by HiGHS
// work where they are not installed. The environment variable KORVEX_ENGINE_DIR names another
// folder to load the plugins from. Programs built from all of libkrvx's sources define
// KRVX_ENGINES_BUILTIN and call the engines directly.
#pragma once
#include "nl/nlpsolve.h"
#include "solve/cbc.h"

namespace krvx {
namespace engines {

enum class Plugin { Ipopt, Bonmin, Cbc };

// The plugin's solve function (loaded once per process), or null after setting p's error text,
// which names the Debian package to install.
void *entry(ko_prob_struct *p, Plugin which);
// The error code of a solve whose engine could not be loaded.
constexpr int kErrEngine = kErrSolver;

// The engines' solve functions (nl/nlpsolve.h, solve/cbc.h) through their plugins.
inline int nlpRun(ko_prob_struct *p, const NlpModel &m, const RunSettings &s, Solution &out,
                  HessianMode hessian = HessianMode::Auto) {
  auto f = reinterpret_cast<decltype(&krvx::nlpRun)>(entry(p, Plugin::Ipopt));
  return f ? f(p, m, s, out, hessian) : kErrEngine;
}
inline int minlpRun(ko_prob_struct *p, const NlpModel &m, const RunSettings &s, Solution &out) {
  auto f = reinterpret_cast<decltype(&krvx::minlpRun)>(entry(p, Plugin::Bonmin));
  return f ? f(p, m, s, out) : kErrEngine;
}
inline int runCbc(ko_prob_struct *p, const Lowered &low, const ModelArrays &a, const BranchingInfo &branching,
                  const RunSettings &s, Solution &out) {
  auto f = reinterpret_cast<decltype(&krvx::runCbc)>(entry(p, Plugin::Cbc));
  return f ? f(p, low, a, branching, s, out) : kErrEngine;
}

}  // namespace engines
}  // namespace krvx
