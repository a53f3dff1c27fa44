// Subsystems of a problem for the infeasibility analyses (iis*.cpp, repair.cpp): the members that
// can be dropped, stores restricted to some of them, and their solves through the same lowering
// and reformulation as KRVXoptimize, on scratch HiGHS instances, with the analysed problem's
// message output, interrupts and time limit.
#pragma once
#include "solve/solve.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace krvx {

// One member: a row, set, piecewise-linear or general constraint, a column bound or a column type.
enum class MemberKind : char { Row, Set, Pwl, Gen, Lower, Upper, Fixed, Type };

struct Member {
  MemberKind kind;
  int index;            // row, set, pwl, gencons or column of the analysed store
  char letter;          // contype or bndtype letter ('R' for a range row, reported by its side)
  // what it is reported as: a row-side member (rowind numbering) or a bound of a column
  bool rowside;
  int report;
};

// The members of a store, in a fixed order: rows, sets, pwl, gencons, then per column its bounds
// and type. Free rows and infinite bounds are no members.
std::vector<Member> membersOf(const ko_prob_struct &s);

// A private copy of the model fields of s (no controls, solution or HiGHS instance).
std::unique_ptr<ko_prob_struct> copyModel(const ko_prob_struct &s);

// No objective (minimising 0): feasibility alone is asked.
void zeroObjective(ko_prob_struct &s);

// The store s with only the members marked in keep holding and a zero objective.
std::unique_ptr<ko_prob_struct> restrictStore(const ko_prob_struct &s, const std::vector<Member> &members,
                                              const std::vector<char> &keep);

// The continuous part of a store, in place: types dropped (binaries within [0, 1], semi-continuous
// columns within [min(0, lower), upper]), sets, piecewise-linear, general and indicator constraints
// dropped (indicator rows free).
void relaxStore(ko_prob_struct &s);

// Whether a store has only continuous columns and linear rows (no types, sets, piecewise-linear,
// general or indicator constraints).
bool isContinuous(const ko_prob_struct &s);

struct WarmTester;   // subsystem.cpp
enum class Verdict;

// A search or repair in progress: the analysed problem, the settings of its solves, the deadline
// (TIMELIMIT over the whole call) and the SIGINT mark of its SolveScope.
class Analysis {
 public:
  explicit Analysis(ko_prob_struct *p);   // mutex held, inside the call's SolveScope
  ko_prob_struct *prob() const { return p_; }
  const RunSettings &settings() const { return s_; }
  void setAlgorithm(int alg) { s_.alg = alg; }
  int stopReason() const;                 // 0, or the interrupt / time limit that ends the call
  // Solves a private store (any objective): 0 with out filled, or the refusal of its lowering
  // (kErrUnsupported, text set on the analysed problem) or the solver's failure.
  // With ray: presolve off, and on infeasibility the solver's dual ray (one value per row of sub,
  // empty when there is none).
  int solve(ko_prob_struct &sub, Solution &out, bool relax = false, std::vector<double> *ray = nullptr) const;
  // Whether the members marked in keep of the continuous store s admit a solution, decided on one
  // instance of s kept for the call, whose bounds follow keep and whose runs start from the last
  // basis; Failed when it cannot decide (the caller then solves the subsystem anew).
  Verdict warmTest(const ko_prob_struct &s, const std::vector<Member> &members, const std::vector<char> &keep) const;

 private:
  ko_prob_struct *p_;
  // one scratch solver instance for all solves of the call: a new one per solve costs the
  // start of the solver's worker threads each time
  mutable std::unique_ptr<void, void (*)(void *)> h_{nullptr, nullptr};
  mutable std::shared_ptr<WarmTester> warm_;
  RunSettings s_;
  std::chrono::steady_clock::time_point deadline_;
  bool timed_ = false;
  unsigned mark_;
};

// The problem's last error text.
std::string lastErrorText(ko_prob_struct *p);

// The outcome of testing a subsystem.
enum class Verdict { Feasible, Infeasible, Unsolvable, Stopped, Failed };

// Whether the members marked in keep admit a solution (zero objective).
Verdict testFeasible(const Analysis &a, const ko_prob_struct &s, const std::vector<Member> &members,
                     const std::vector<char> &keep);

// The elastic phase 1 of the continuous part of the members marked in keep: every row side gets an
// elastic column of cost 1; bounds hold. On an optimum: the sum and count of violations, and the
// Farkas multipliers of the members (0 for members outside the continuous part), checked: `valid`
// when they prove the subsystem infeasible.
struct PhaseOne {
  Verdict verdict = Verdict::Failed;   // Infeasible: violations remain; Feasible: none
  double suminf = 0.0;
  int numinf = 0;
  std::vector<double> mult;            // per member
  bool valid = false;
};
PhaseOne phaseOne(const Analysis &a, const ko_prob_struct &s, const std::vector<Member> &members,
                  const std::vector<char> &keep);
// The same certificate from the dual ray of the continuous part (no sums of violations): the
// simplex method's ray usually rests on far fewer members than phase 1's multipliers.
PhaseOne farkasRay(const Analysis &a, const ko_prob_struct &s, const std::vector<Member> &members,
                   const std::vector<char> &keep);

// A row whose side the bounds of its columns alone keep it from meeting (on a continuous
// store): that side and those bounds are an IIS, marked in keep, and the result holds its
// certificate (the row's multiplier +-1), checked, and its sum of violations. Verdict Failed,
// keep empty of marks, when no row clearly qualifies.
PhaseOne rowAgainstBounds(const ko_prob_struct &s, const std::vector<Member> &members, double tol,
                          std::vector<char> &keep);

}  // namespace krvx
