// The model store of one problem: the truth that every KRVX call reads and changes.
// Solving lowers it to the problem's HiGHS instance (solve/).
#pragma once
#include "krvx.h"
#include "core/matrix.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace krvx {

constexpr double kInf = 1e20;                  // |v| >= kInf is infinite
inline bool isInf(double v) { return v >= kInf || v <= -kInf; }

// A row's own values; its range (type R: [rhs - |range|, rhs]) is kept beside the records (rowRange).
struct Row {
  char type = 'N';                             // L G E R N
  double rhs = 0.0;
};

// A column's own values; its coefficients are in the store's matrix, its limit (P: integer
// limit; S/R: lower bound when nonzero) beside the records (colLimit).
struct Column {
  double cost = 0.0, lb = 0.0, ub = kInf;
  char type = 'C';                             // C B I S R P
};

static_assert(sizeof(Row) == 16, "rows are the bulk of large stores");
static_assert(sizeof(Column) == 32, "columns are the bulk of large stores");

struct QTerm { int i, j; double value; };      // i <= j

struct Set {
  char type = '1';                             // '1' or '2'
  std::vector<int> cols;
  std::vector<double> weights;
};

struct Objective {                             // objectives beyond the main one
  std::vector<Entry> coefs;                    // (col, value)
  int priority = 0;
  double weight = 1.0, abstol = 0.0, reltol = 0.0;
};

struct Indicator { int col = -1; int complement = 0; };   // per row; complement 0: none

struct PwlCons { int col, resultant; std::vector<double> x, y; };
struct GenCons { int type, resultant; std::vector<int> cols; std::vector<double> vals; };

// Names of one namespace: positional vector plus a hash for look-ups
struct NameSpace {
  std::vector<std::string> names;              // "" = unnamed; may be shorter than the object count
  std::unordered_map<std::string, int> index;  // non-empty names only, all distinct (rebuildNameIndex)
};

// Control values by id (see controls.cpp for the table)
struct ControlValues {
  std::unordered_map<int, int64_t> ints;
  std::unordered_map<int, double> dbls;
  std::unordered_map<int, std::string> strs;
};

struct Solution {
  int solvestatus = KRVX_SOLVESTATUS_UNSTARTED;
  int solstatus = KRVX_SOLSTATUS_NOTFOUND;
  int lpstatus = 0, mipstatus = 0, stopstatus = 0;
  double objval = 0.0, bestbound = 0.0;
  int64_t simplexiter = 0, bariter = 0, nodes = 0;
  double time = 0.0;
  bool has_x = false, has_duals = false;
  std::vector<double> x, slack, duals, djs;    // user columns and rows only
  std::vector<int> colstat, rowstat;           // basis (BasisStatus values), empty when none
  double penaltyvalue = 0.0;                   // weighted violation of the last repair (analysis/repair.cpp)
};

// A branching directive of a MIP entity: a column (index >= 0) or set k (index -1-k).
struct Directive {
  int index = 0;
  int priority = 500;                          // 0..1000, smaller branched on first
  char dir = 'N';                              // U up branch first, D down first, N the engine's choice
  double up = 0.0, down = 0.0;                 // pseudo costs; 0 leaves the engine's own estimate
};

struct MessageHandler { KRVXmessagefunc f; void *data; };

// Changes since the last lowering that the HiGHS instance can take in place (solve/highs_lower.cpp):
// items whose values changed (repeats allowed) and the counts the instance holds, the items beyond
// them being new. Every other change marks the instance stale instead.
struct PendingChanges {
  std::vector<int> cols, rows;                 // bounds or cost of columns; bounds of rows
  std::vector<std::pair<int, int>> coefs;      // (row, column) of changed coefficients
  bool sense = false, offset = false;
  int ncols = -1, nrows = -1;                  // the instance's counts; -1 none recorded
  bool any() const { return ncols >= 0; }
  void clear() { *this = PendingChanges(); }
};

// The presolved form of a problem (analysis/presolve.cpp): the presolved LP held by its own HiGHS
// instance, with the map of its rows and columns to the original ones. The store keeps the
// original model throughout.
struct Presolved {
  bool active = false;
  void *highs = nullptr;                       // the presolved LP (integrality dropped)
  int nrows = 0, ncols = 0;
  std::vector<int> rowmap, colmap;             // original index of each presolved row / column, -1 none
  std::vector<int> pivotorder;                 // order of the basic variables after pivots (combined index)
};

struct AnalysisCache;

// Diagnostics of the last solve kept for the analysis calls (analysis/diagnostics.cpp).
struct SolveDiagnostics {
  int unbvec = -1;                             // combined index of the unbounded ray, -1 none
  bool has_unbvec = false;                     // a primal simplex run found a ray
  int barstatus = 7;                           // LP status of the last barrier run (7 unsolved)
  std::vector<double> barx, barslack, barduals, bardjs;   // barrier solution before crossover
  std::shared_ptr<AnalysisCache> analysis;     // shared by the analyses of the basis (optimal_basis.h)
};

struct IisState;                               // results of an infeasibility analysis (analysis/iis.h)

// A nonlinear formula of a row or the objective (nl*.cpp): adds factor * x[col] * g(x), or
// factor * g(x) when col is KRVN_NOCOL, g being the postfix token stream (type, value), ending in type 0.
struct Formula {
  int col = KRVN_NOCOL;
  double factor = 1.0;
  std::vector<int> type;
  std::vector<double> value;
};

}  // namespace krvx

struct ko_prob_struct {
  std::recursive_mutex mtx;                    // held by calls; callbacks re-enter on the same thread
  std::string name;
  std::string lasterror;
  int objsense = 1;                            // 1 minimise, -1 maximise
  double objconst = 0.0;

  std::vector<krvx::Row> rows;
  std::vector<krvx::Column> cols;
  // Rare per-item values beside the records, missing entries 0: they may be shorter than rows and
  // cols (empty while no nonzero value was set). Read and written through rowRange / colLimit.
  std::vector<double> rowrange, collimit;
  krvx::ColMatrix matrix;                      // the coefficients, one column per entry of cols
  std::vector<krvx::QTerm> qobj;               // objective Hessian triangle (objective c'x + 1/2 x'Qx)
  std::vector<std::vector<krvx::QTerm>> qrows; // per row: x'Qx terms (empty when linear)
  std::vector<krvx::Set> sets;
  std::vector<krvx::Objective> objectives;     // extra objectives (index 1...)
  std::vector<krvx::Indicator> indicators;     // sized like rows when used
  std::vector<krvx::PwlCons> pwls;
  std::vector<krvx::GenCons> gencons;
  std::vector<char> modelcut, delayed;         // row marks
  std::vector<int> rowscale, colscale;         // power-of-two exponents
  std::vector<char> securerow, securecol;      // rows and columns presolve must keep; may be shorter
  std::vector<std::vector<krvx::Formula>> nlrows;   // per row: formulas; may be shorter than rows
  std::vector<krvx::Formula> nlobj;                 // formulas of the objective
  std::vector<char> nlstatus;                       // per row: nonlinear status bit; may be shorter than rows
  std::vector<krvx::Directive> dirs;           // branching directives, in load order, entities distinct
  std::vector<int> branchfixed;                // entities to branch on until fixed (as Directive::index), increasing
  krvx::NameSpace names[7];                    // by namespace kind 1..6 (index 0 unused)

  krvx::ControlValues controls;                // values set on this problem (defaults elsewhere)
  krvx::Solution sol;
  std::atomic<int> interrupt{0};               // stop reason requested, 0 none
  std::vector<krvx::MessageHandler> handlers;  // guarded by msgmtx
  std::string logfile;                         // guarded by msgmtx
  std::unordered_map<int, int> msgstatus;      // guarded by msgmtx
  std::mutex msgmtx;                           // message output state; never held while calling out
  std::mutex errmtx;                           // lasterror
  void *logfp = nullptr;                       // FILE* of logfile, guarded by msgmtx
  std::atomic<int> outputlog{1};               // mirror of the OUTPUTLOG control, read without mtx
  // Set by a solve or tune for its whole run (HiGHS runs without mtx held, solve/): the store
  // must not change meanwhile, so changing calls fail; reads take mtx briefly and never wait.
  std::atomic<bool> solving{false};
  unsigned sigint_mark = 0;                    // SIGINT count when the running solve began
  std::atomic<bool> sigint_obeyed{false};      // the running solve stopped for a SIGINT
  std::string tunermethod;                     // tuner method text (tune.cpp); empty = the default

  void *highs = nullptr;                       // the problem's HiGHS instance, kept between solves
  bool highs_stale = true;                     // the store changed since the last lowering
  bool highs_plain = false;                    // the instance holds the user's columns and rows only
  bool highs_discrete = false, highs_quadratic = false;   // as lowered last
  krvx::PendingChanges pending;                // changes the instance has not seen (when not stale)
  std::vector<int> pivotorder;                 // order of the basic variables after pivots, empty: the solver's
  std::vector<std::vector<double>> mipstarts;  // solutions (x of the user columns) tried first by the next MIP solve
  krvx::SolveDiagnostics diag;
  krvx::Presolved presolved;
  tagKRVNproblem *nl = nullptr;                // nonlinear layer, created on demand
  std::shared_ptr<krvx::IisState> iis;         // the IIS search; dropped with any change (invalidate)
};

namespace krvx {
// Error codes (884 belongs to the module)
enum : int {
  kErrInvalid = 1,         // bad argument or data
  kErrMemory = 2,          // out of memory
  kErrInternal = 3,        // unexpected internal failure
  kErrFile = 4,            // file missing, unreadable or malformed
  kErrBusy = 30,           // the problem is being solved
  kErrInterrupted = KRVX_ERR_INTERRUPTED,   // SIGINT stopped the call
  kErrUnsupported = 6,     // the data cannot be handled
  kErrSolver = 7,          // the numerical solve failed
  kErrNoProblem = 91,      // no problem given
  kErrNoSolution = 422,    // no solution available
};
// Own message numbers (KRVXsetmessagestatus): 1xx core, 2xx solving, 3xx reading and writing
enum : int {
  kMsgControls = 101,      // KRVXdumpcontrols lines
  kMsgLoaded = 102,        // summary after a load
};
// A value of a side vector (may be shorter than its items; missing entries 0) and its setting,
// which grows the vector only for a nonzero value.
inline double sideValue(const std::vector<double> &v, size_t i) { return i < v.size() ? v[i] : 0.0; }
inline void setSideValue(std::vector<double> &v, size_t i, double value) {
  if (i >= v.size()) {
    if (value == 0.0) return;
    v.resize(i + 1, 0.0);
  }
  v[i] = value;
}
inline double rowRange(const ko_prob_struct &p, size_t i) { return sideValue(p.rowrange, i); }
inline double colLimit(const ko_prob_struct &p, size_t j) { return sideValue(p.collimit, j); }
inline void setRowRange(ko_prob_struct &p, size_t i, double range) { setSideValue(p.rowrange, i, range); }
inline void setColLimit(ko_prob_struct &p, size_t j, double limit) { setSideValue(p.collimit, j, limit); }
// The lower side of a range row: rhs - |range|.
inline double rowBottom(const ko_prob_struct &p, size_t i) { return p.rows[i].rhs - std::fabs(rowRange(p, i)); }
// The lower end of a semi-continuous column's nonzero part: its limit when nonzero, else lb.
inline double semiLower(const ko_prob_struct &p, size_t j) {
  const double limit = colLimit(p, j);
  return limit != 0.0 ? limit : p.cols[j].lb;
}

// Error helpers: set the text (truncated to KRVX_MAXERRLEN) and return the code.
int fail(ko_prob_struct *p, int code, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
int failGlobal(int code, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Message output through the problem's handlers, then the global ones (OUTPUTLOG 0 silences a
// problem's messages). Handlers run on the calling thread with no library lock of ours held; a
// Python handler then waits for the interpreter lock, whose holder may be reading an attribute of
// this problem: so send messages after releasing p->mtx where the call can (see KRVXdumpcontrols).
void message(ko_prob_struct *p, int msgtype, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
// The same with an own message number: a number suppressed by KRVXsetmessagestatus is not output.
void messageCode(ko_prob_struct *p, int msgcode, int msgtype, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
// The store changed: leave the presolved form, drop the solution and the IIS search, and mark the
// HiGHS instance stale.
void invalidate(ko_prob_struct *p);
// The store changed in ways the instance can take in place (the items in `noted`; ncols and nrows
// the counts before the change): drop the solution and add them to the problem's record.
void notePending(ko_prob_struct *p, const PendingChanges &noted, int ncols, int nrows);
// Leaves the presolved form (analysis/presolve.cpp); nothing when the problem is not presolved.
void leavePresolved(ko_prob_struct *p);
}  // namespace krvx
