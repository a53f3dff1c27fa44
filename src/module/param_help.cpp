// The help texts of korvex.controls and korvex.attributes: one entry per control and attribute,
// with its meaning, unit, default and range (help(p.controls), help(p.attributes)).
#include "module/controls.h"

#include <string>

namespace {

struct ParamHelp {
  const char *name;
  const char *type;      // "integer" or "double"
  const char *unit;      // "" when it has none
  const char *def;       // controls: the default
  const char *range;     // controls: the values accepted
  const char *meaning;   // what it is, and what 0 or -1 mean where they mean something special
};

const ParamHelp kControlHelp[] = {
    {"timelimit", "double", "seconds", "0", "any", "Time limit of a solve (wall clock); 0 or less: no limit."},
    {"lpiterlimit", "integer", "iterations", "2147483647", "0 to 2147483647",
     "Simplex iteration limit of a solve (for the interior-point solver of nonlinear problems: its iteration "
     "limit, 3000 when 0 or the default); 0: no limit."},
    {"maxnode", "integer", "nodes", "2147483647", "0 to 2147483647",
     "Branch-and-bound node limit of a MIP or MINLP solve; 0: no limit."},
    {"miprelstop", "double", "", "0.0001", "0 or more",
     "Relative gap |objval - bestbound| / |objval| at which a MIP search stops as optimal."},
    {"mipabsstop", "double", "", "1e-06", "0 or more",
     "Absolute gap |objval - bestbound| at which a MIP search stops as optimal."},
    {"feastol", "double", "", "1e-06", "1e-10 to 1", "Primal feasibility tolerance of bounds and rows."},
    {"optimalitytol", "double", "", "1e-07", "1e-10 to 1", "Dual feasibility (reduced cost) tolerance."},
    {"miptol", "double", "", "5e-06", "0 to 0.5",
     "Integrality tolerance: how far from an integer a value of an integer column may lie."},
    {"defaultalg", "integer", "", "1", "1 to 5",
     "LP algorithm (for a MIP: that of its LP solves): 1 automatic, 2 dual simplex, 3 primal simplex, "
     "4 barrier, 5 network (solved by the dual simplex). The flags of lpOptimize and mipOptimize override it."},
    {"presolve", "integer", "", "1", "0 or 1", "1: presolve before solving; 0: no presolve."},
    {"threads", "integer", "threads", "0", "0 to 1024",
     "Threads of the HiGHS solves; 0: HiGHS chooses. The process has one thread pool: a different "
     "count takes effect when no other solve is running (until then a message says so)."},
    {"outputlog", "integer", "", "1", "0 or 1",
     "1: this problem's solver messages are printed (see korvex.setOutputEnabled); 0: they are not."},
    {"maxiis", "integer", "IISs", "-1", "-1 to 2147483647",
     "The most IISs that IISAll (and a repair's IIS search) finds; -1: no limit; 0: only the first "
     "infeasible subsystem, not reduced to an irreducible one."},
};

const ParamHelp kAttribHelp[] = {
    {"rows", "integer", "rows", "", "", "Rows of the problem (of the presolved problem while in presolved form)."},
    {"cols", "integer", "columns", "", "", "Columns of the problem (of the presolved problem while in presolved form)."},
    {"sparerows", "integer", "rows", "", "", "Spare rows before the columns in a combined index: always 0."},
    {"presolvestate", "integer", "", "", "",
     "6 while the problem is in presolved form (after mipOptimize(\"l\"), until postSolve or a change); else 0."},
    {"namelength", "integer", "characters", "", "", "Length of the longest row, column or set name, default names included."},
    {"originalrows", "integer", "rows", "", "", "Rows of the original problem."},
    {"originalcols", "integer", "columns", "", "", "Columns of the original problem."},
    {"originalsets", "integer", "sets", "", "", "SOS sets of the original problem."},
    {"inputcols", "integer", "columns", "", "", "Columns of the problem as input (the length of a full solution)."},
    {"sets", "integer", "sets", "", "", "SOS sets."},
    {"elems", "integer", "coefficients", "", "", "Nonzero coefficients of the constraint matrix."},
    {"mipents", "integer", "columns", "", "", "Discrete columns: binary, integer, semi-continuous, partial-integer."},
    {"pwlcons", "integer", "constraints", "", "", "Piecewise-linear constraints."},
    {"gencons", "integer", "constraints", "", "", "General constraints (min, max, abs, and, or)."},
    {"solvestatus", "integer", "", "", "",
     "How the last solve ended: korvex.SolveStatus(p.attributes.solvestatus) (UNSTARTED, STOPPED, FAILED, COMPLETED)."},
    {"solstatus", "integer", "", "", "",
     "What the last solve found: korvex.SolStatus(p.attributes.solstatus) (NOTFOUND, OPTIMAL, FEASIBLE, "
     "INFEASIBLE, UNBOUNDED)."},
    {"lpstatus", "integer", "", "", "", "Status of the last LP solve: korvex.LPStatus(p.attributes.lpstatus)."},
    {"mipstatus", "integer", "", "", "", "Status of the last MIP solve: korvex.MIPStatus(p.attributes.mipstatus)."},
    {"stopstatus", "integer", "", "", "",
     "Why the last solve stopped: korvex.StopType(p.attributes.stopstatus) (NONE when it ran to its end)."},
    {"objval", "double", "", "", "", "Objective value of the last solve's solution."},
    {"bestbound", "double", "", "", "",
     "Best bound on the optimum of the last solve (for a MIP: of its search; equal to objval at a proven optimum)."},
    {"simplexiter", "integer", "iterations", "", "", "Simplex iterations of the last solve."},
    {"bariter", "integer", "iterations", "", "", "Barrier (interior-point) iterations of the last solve."},
    {"nodes", "integer", "nodes", "", "", "Branch-and-bound nodes of the last solve."},
    {"time", "double", "seconds", "", "", "Duration of the last solve (wall clock)."},
    {"penaltyvalue", "double", "", "", "", "Weighted sum of the violations of the last infeasibility repair."},
};

template <size_t N>
std::string render(const char *head, const ParamHelp (&table)[N], bool controls) {
  std::string text = head;
  for (const ParamHelp &e : table) {
    text += "\n";
    text += e.name;
    text += " (";
    text += e.type;
    if (*e.unit) text += std::string(", ") + e.unit;
    if (controls) text += std::string("; default ") + e.def + ", range " + e.range;
    text += ")\n    ";
    // wrapped at about 96 characters, indented
    std::string line;
    for (const char *w = e.meaning; *w;) {
      const char *end = w;
      while (*end && *end != ' ') ++end;
      std::string word(w, end);
      if (!line.empty() && line.size() + 1 + word.size() > 92) {
        text += line + "\n    ";
        line.clear();
      }
      line += (line.empty() ? "" : " ") + word;
      w = *end ? end + 1 : end;
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace

const char *kpy_controlsDoc() {
  static const std::string doc = render(
      "Solver controls by name: read and set them as attributes, p.controls.timelimit = 10 (names are\n"
      "case-insensitive). korvex.controls holds the module-wide values that new problems start with.\n"
      "\n"
      "Solver messages: printed through Python's sys.stdout while outputlog is 1 and\n"
      "korvex.setOutputEnabled(True) (the defaults). To silence them: p.controls.outputlog = 0 for one\n"
      "problem, korvex.setOutputEnabled(False) for all. sys.stdout is looked up for every message, so\n"
      "contextlib.redirect_stdout sends them to a file or to any object with a write method, such as\n"
      "one that hands each line to a logging logger.\n",
      kControlHelp, true);
  return doc.c_str();
}

const char *kpy_attributesDoc() {
  static const std::string doc = render(
      "Problem attributes by name, read-only: p.attributes.objval (names are case-insensitive).\n"
      "Status attributes read as integers; their enumeration names them.\n",
      kAttribHelp, false);
  return doc.c_str();
}
