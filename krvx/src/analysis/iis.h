// The IIS search of a problem (iis.cpp) and its reports (iis_report.cpp).
#pragma once
#include "analysis/subsystem.h"

#include <deque>
#include <memory>
#include <set>
#include <vector>

namespace krvx {

struct IisRecord {
  std::vector<int> members;            // positions in IisState::members, increasing
  std::vector<double> mult;            // Farkas multiplier per entry (0 when there is none)
  std::vector<signed char> isolation;  // per entry: -1 not computed, 0, 1
  double suminf = 0.0;                 // phase-1 sum and count of violations
  int numinf = 0;
};

struct IisState {
  std::unique_ptr<ko_prob_struct> base; // the analysed store: a copy of the problem, or a repair's relaxation
  std::vector<Member> members;
  int mode = 1;
  bool hasInitial = false;
  IisRecord initial;                    // IIS 0
  std::vector<IisRecord> found;         // IIS 1, 2, ...
  // The systematic search: a branch drops a set of members (sorted positions) hitting every IIS
  // found; it either holds an IIS found already, is feasible, or yields a new IIS.
  std::deque<std::vector<int>> queue;
  std::set<std::vector<int>> seen;
  std::vector<std::vector<int>> feasible;
  bool incomplete = false;              // a branch could not be solved
  // the solve statuses a stopped step replaced (shown: the stop is in the problem's statuses)
  bool shown = false;
  int savedSolve = 0, savedStop = 0, shownStop = 0, shownSol = 0;
  double shownObj = 0.0;
};

// Search statuses
constexpr int kIisFound = 0, kIisNone = 1, kIisError = 2, kIisStopped = 3;

// Starts a search on st (base and members set): IIS 0, then (mode 1, 2) IIS 1. Returns the status;
// a refusal of the problem's content fails the call (rc, text set) instead.
int iisFirst(const Analysis &a, IisState &st, int mode, int &status);
// The next IIS of a started search.
int iisNext(const Analysis &a, IisState &st, int &status);

// The IIS record num (0 .. found), or throw krvx::Error naming what is missing.
const IisRecord &iisRecord(const ko_prob_struct *p, int num);

}  // namespace krvx
