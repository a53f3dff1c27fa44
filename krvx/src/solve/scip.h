// The global engine: SCIP (spatial branch-and-bound) on the lowered model, loaded on first use
// (scip_load.cpp).
#pragma once
#include "nl/nlpsolve.h"
#include "solve/scip_api.h"

#include <string>

namespace krvx {

// The loaded library, or null with the reason in error (a text naming the package to install).
const scip::Api *scipApi(std::string &error);
// Adds SCIP's error output to the text of the run on this thread (none: dropped).
void scipErrorText(const char *msg);

// Refuses what the global engine cannot bound: formulas calling user functions (mutex held).
int scipCheckModel(ko_prob_struct *p);

// Solves the gathered model to global optimality without the mutex; sets: the SOS1 and SOS2 sets
// of the user's columns (null: none, as in a relaxation). Fills out (user columns and rows) and
// returns 0, or fails with a clear text (mutex taken for the text).
int scipRun(ko_prob_struct *p, const NlpModel &m, const std::vector<Set> *sets, const RunSettings &s, Solution &out);

}  // namespace krvx
