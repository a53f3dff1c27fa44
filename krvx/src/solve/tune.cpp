// The tuner: KRVXtune, KRVXtuneprobsetfile, KRVXtunerwritemethod, KRVXtunerreadmethod.
//
// The tuner runs time-limited trial solves, each on a fresh HiGHS instance (no warm start
// between trials), over the combinations of control values its method lists, reports a table
// through message output and leaves the best combination on the problem's controls. The
// problem's own solution and HiGHS instance are not touched.
//
// Method file (text; '#' starts a comment; blank lines are ignored):
//   KRVX TUNER METHOD 1
//   lp <control> <value> [<value> ...]
//   mip <control> <value> [<value> ...]
// The trials for a class (LP or MIP) are all combinations of its lines' values, the first value
// of each line being the baseline. Controls: presolve (0, 1) and defaultalg (1 automatic, 2 dual,
// 3 primal, 4 barrier, 5 network; for a MIP the algorithm of its LP solves). An algorithm flag
// given to KRVXtune fixes defaultalg instead.
//
// With flag x the trials solve with the global engine (scip.h), its presolve and LP algorithm
// (primal or dual simplex; the others are its automatic choice) set from the same controls.
//
// Trial time: the TIMELIMIT control of the problem (default 60 s when it is <= 0) is the budget
// of the whole tuning, shared evenly by all trial solves.
#include "solve/solve.h"
#include "solve/scip.h"

#include "interfaces/highs_c_api.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

namespace krvx {

namespace {

constexpr const char *kHeader = "KRVX TUNER METHOD 1";
constexpr double kDefaultBudget = 60.0;
constexpr size_t kMaxTrials = 256;

struct Tunable {
  const char *name;
  int id, min, max;
  void (*apply)(RunSettings &, int);
};

const Tunable kTunables[] = {
    {"presolve", KRVX_PRESOLVE, 0, 1, [](RunSettings &s, int v) { s.presolve = v; }},
    {"defaultalg", KRVX_DEFAULTALG, 1, 5, [](RunSettings &s, int v) { s.alg = v; }},
};

const Tunable *findTunable(const std::string &name) {
  for (const Tunable &t : kTunables) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower == t.name) return &t;
  }
  return nullptr;
}

struct MethodLine {
  bool mip;
  const Tunable *control;
  std::vector<int> values;
};
using Method = std::vector<MethodLine>;

const char *kDefaultMethod =
    "KRVX TUNER METHOD 1\n"
    "lp presolve 1 0\n"
    "lp defaultalg 2 3 4\n"
    "mip presolve 1 0\n"
    "mip defaultalg 2 4\n";

// Parses method text; on a fault returns false with "<where>:<line>: <what>" in err.
bool parseMethod(const std::string &text, const std::string &where, Method &method, std::string &err) {
  method.clear();
  std::istringstream in(text);
  std::string line;
  bool header = false;
  for (int lineno = 1; std::getline(in, line); ++lineno) {
    auto bad = [&](const std::string &what) {
      err = where + ":" + std::to_string(lineno) + ": " + what;
      return false;
    };
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string first;
    if (!(words >> first)) continue;
    if (!header) {
      std::string rest;
      std::getline(words, rest);
      rest.erase(0, rest.find_first_not_of(" \t"));
      rest.erase(rest.find_last_not_of(" \t\r") + 1);
      if (first + " " + rest != kHeader) return bad(std::string("not a tuner method (expected '") + kHeader + "')");
      header = true;
      continue;
    }
    if (first != "lp" && first != "mip") return bad("expected 'lp' or 'mip', found '" + first + "'");
    MethodLine ml;
    ml.mip = first == "mip";
    std::string name;
    if (!(words >> name)) return bad("a control name is missing");
    ml.control = findTunable(name);
    if (!ml.control) return bad("'" + name + "' is not a control the tuner can set (presolve, defaultalg)");
    for (const MethodLine &o : method)
      if (o.mip == ml.mip && o.control == ml.control) return bad("'" + name + "' is listed twice for " + first);
    std::string word;
    while (words >> word) {
      char *end = nullptr;
      long v = std::strtol(word.c_str(), &end, 10);
      if (end == word.c_str() || *end || v < ml.control->min || v > ml.control->max)
        return bad("value '" + word + "' of " + ml.control->name + " is not an integer from " +
                   std::to_string(ml.control->min) + " to " + std::to_string(ml.control->max));
      if (std::find(ml.values.begin(), ml.values.end(), int(v)) != ml.values.end())
        return bad("value " + word + " of " + ml.control->name + " is listed twice");
      ml.values.push_back(int(v));
    }
    if (ml.values.empty()) return bad(std::string("no values given for ") + ml.control->name);
    method.push_back(std::move(ml));
  }
  if (!header) {
    err = where + ": empty tuner method";
    return false;
  }
  size_t trials[2] = {1, 1};
  for (const MethodLine &ml : method) trials[ml.mip] *= ml.values.size();
  if (trials[0] > kMaxTrials || trials[1] > kMaxTrials) {
    err = where + ": the method asks for more than " + std::to_string(kMaxTrials) + " trials";
    return false;
  }
  return true;
}

std::string formatMethod(const Method &method) {
  std::string s = std::string(kHeader) + "\n";
  for (const MethodLine &ml : method) {
    s += std::string(ml.mip ? "mip " : "lp ") + ml.control->name;
    for (int v : ml.values) s += " " + std::to_string(v);
    s += "\n";
  }
  return s;
}

const std::string &methodText(const ko_prob_struct *p) {
  static const std::string def(kDefaultMethod);
  return p->tunermethod.empty() ? def : p->tunermethod;
}

// One combination of control values.
struct Trial {
  std::vector<std::pair<const Tunable *, int>> values;
  int completed = 0, failed = 0;
  double time = 0.0, gap = 0.0;
  bool ran = false;
};

std::vector<Trial> trialsFor(const Method &method, bool mip, bool algfixed) {
  std::vector<Trial> trials(1);
  for (const MethodLine &ml : method) {
    if (ml.mip != mip || (algfixed && ml.control->id == KRVX_DEFAULTALG)) continue;
    std::vector<Trial> next;
    for (const Trial &t : trials)
      for (int v : ml.values) {
        Trial n = t;
        n.values.emplace_back(ml.control, v);
        next.push_back(n);
      }
    trials.swap(next);
  }
  return trials;
}

// Relative gap of a finished MIP trial: 0 when proved, infinite without an incumbent.
double gapOf(const Solution &s, bool mip) {
  if (s.solvestatus == KRVX_SOLVESTATUS_COMPLETED) return 0.0;
  if (!mip || !s.has_x) return std::numeric_limits<double>::infinity();
  return std::fabs(s.bestbound - s.objval) / std::max(1e-10, std::fabs(s.objval));
}

// Better: more problems completed, then fewer failures, then smaller gaps, then less time.
bool better(const Trial &a, const Trial &b) {
  if (a.completed != b.completed) return a.completed > b.completed;
  if (a.failed != b.failed) return a.failed < b.failed;
  if (a.gap != b.gap) return a.gap < b.gap;
  return a.time < b.time;
}

// A problem of the tuning set: its mapping and lowered model (for the global engine its
// gathered model and sets).
struct Member {
  Lowered low;
  ModelArrays arrays;
  NlpModel nlp;
  const std::vector<Set> *sets = nullptr;
};

// Plans and lowers q into a new member (q's mutex held).
int addMember(std::vector<Member> &members, ko_prob_struct *q, bool global = false) {
  members.emplace_back();
  Member &m = members.back();
  if (global) {
    std::string error;
    if (!scipApi(error)) return fail(q, kErrSolver, "%s", error.c_str());
    if (int rc = scipCheckModel(q)) return rc;
    if (int rc = planLowering(q, m.low, false, true)) return rc;
    buildArrays(q, m.low, m.arrays);
    nlpBuild(q, m.low, m.arrays, m.nlp);
    m.arrays = ModelArrays();
    m.sets = &q->sets;
    return 0;
  }
  if (int rc = planLowering(q, members.back().low)) return rc;
  if (members.back().low.nonlinearEngine())
    return fail(q, kErrUnsupported, "Cannot tune this problem: it needs the nonlinear solver, which the tuner does not tune");
  buildArrays(q, members.back().low, members.back().arrays);
  return 0;
}

struct TuneJob {
  ko_prob_struct *p;             // the problem that is tuned (messages, interrupts, controls)
  std::vector<Member> members;
  RunSettings base;
  bool mip = false;
  std::vector<Trial> trials;
};

// Runs every trial over every member; returns 0 or the failure code (text set on p).
int runTrials(TuneJob &job) {
  ko_prob_struct *p = job.p;
  const double total = job.base.timelimit > 0 ? job.base.timelimit : kDefaultBudget;
  const double each = total / double(job.trials.size() * job.members.size());
  messageCode(p, kMsgTuner, 1, "Tuner: %zu trial(s) as %s over %zu problem(s), at most %.3g s per solve",
              job.trials.size(), job.mip ? "MIP" : "LP", job.members.size(), each);
  const unsigned mark = solveSigintMark(p);
  for (size_t k = 0; k < job.trials.size(); ++k) {
    Trial &t = job.trials[k];
    RunSettings s = job.base;
    s.timelimit = each;
    s.output = false;
    s.relax = !job.mip;
    for (const auto &cv : t.values) cv.first->apply(s, cv.second);
    for (Member &m : job.members) {
      if (int reason = pendingStop(p, mark)) {
        messageCode(p, kMsgTuner, 3, "Tuner: stopped (reason %d) after %zu trial(s)", reason, k);
        return 0;
      }
      Solution out;
      int rc = 0;
      if (s.global) {
        rc = scipRun(p, m.nlp, m.sets, s, out);
      } else {
        std::unique_ptr<void, void (*)(void *)> h(newHighs(), Highs_destroy);
        if (!h) {
          std::lock_guard<std::recursive_mutex> lock(p->mtx);
          return fail(p, kErrMemory, "The tuner could not create a solver instance");
        }
        if (int prc = passArrays(p, h.get(), m.arrays)) return prc;
        rc = runHighs(p, h.get(), m.low, s, out);
      }
      if (rc != 0) {
        ++t.failed;
        t.gap = std::numeric_limits<double>::infinity();
      } else {
        t.completed += out.solvestatus == KRVX_SOLVESTATUS_COMPLETED;
        t.gap += gapOf(out, job.mip);
      }
      t.time += out.time;
    }
    if (int reason = pendingStop(p, mark)) {   // the interrupted trial does not count
      messageCode(p, kMsgTuner, 3, "Tuner: stopped (reason %d) during trial %zu", reason, k + 1);
      return 0;
    }
    t.ran = true;
    std::string settings;
    for (const auto &cv : t.values) settings += " " + std::string(cv.first->name) + "=" + std::to_string(cv.second);
    messageCode(p, kMsgTuner, 1, "Tuner: trial %3zu%-28s completed %d/%zu  failed %d  time %9.3f s  gap %s",
                k + 1, settings.c_str(), t.completed, job.members.size(), t.failed, t.time,
                std::isinf(t.gap) ? "-" : std::to_string(t.gap).c_str());
  }
  return 0;
}

// Puts the best trial's values on the problem's controls and reports it.
void applyBest(TuneJob &job) {
  const Trial *best = nullptr;
  for (const Trial &t : job.trials)
    if (t.ran && (!best || better(t, *best))) best = &t;
  if (!best) {
    messageCode(job.p, kMsgTuner, 3, "Tuner: no trial finished; the controls are unchanged");
    return;
  }
  std::string settings;
  for (const auto &cv : best->values) {
    KRVXsetintcontrol(job.p, cv.first->id, cv.second);
    settings += " " + std::string(cv.first->name) + "=" + std::to_string(cv.second);
  }
  messageCode(job.p, kMsgTuner, 1, "Tuner: best settings:%s", settings.empty() ? " (none to choose)" : settings.c_str());
}

int tuneFlags(ko_prob_struct *p, const char *flags, RunSettings &s, int &cls, bool &algfixed) {
  cls = -1;
  std::string rest;
  for (const char *c = flags ? flags : ""; *c; ++c) {
    if (*c == 'l' || *c == 'g') {
      int want = *c == 'g';
      if (cls >= 0 && cls != want) return fail(p, kErrInvalid, "Flags 'l' and 'g' exclude each other (\"%.64s\")", flags);
      cls = want;
    } else {
      rest += *c;
    }
  }
  const int alg = s.alg;
  s.alg = 0;
  if (int rc = applyFlags(p, rest.c_str(), "lgxbpdn", s)) return rc;
  algfixed = s.alg != 0;
  if (!algfixed) s.alg = alg;
  return 0;
}

bool readText(const std::string &file, std::string &text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  text = ss.str();
  return !in.bad();
}

}  // namespace

}  // namespace krvx

using namespace krvx;

// A tuning run of prob: setup(job) fills the members and trials under the problem's lock (with the
// solve begun and the base settings read from the controls), then the trials run and the best
// settings are applied.
template <class F>
static int runJob(KRVXprob prob, F &&setup) {
  TuneJob job;
  job.p = prob;
  {
    SolveScope scope;
    {
      std::lock_guard<std::recursive_mutex> lock(prob->mtx);
      if (int rc = scope.begin(prob)) return rc;
      job.base = settingsFromControls(prob);
      if (int rc = setup(job)) return rc;
    }
    if (int rc = runTrials(job)) return rc;
  }
  applyBest(job);
  return 0;
}

// The problem's tuner method, parsed.
static int tunerMethod(KRVXprob prob, Method &method) {
  std::string err;
  if (!parseMethod(methodText(prob), "tuner method", method, err)) return fail(prob, kErrInvalid, "%s", err.c_str());
  return 0;
}

static int tune(KRVXprob prob, const char *flags) {
  return runJob(prob, [&](TuneJob &job) {
    int cls = -1;
    bool algfixed = false;
    if (int rc = tuneFlags(prob, flags, job.base, cls, algfixed)) return rc;
    Method method;
    if (int rc = tunerMethod(prob, method)) return rc;
    if (int rc = addMember(job.members, prob, job.base.global)) return rc;
    job.mip = cls >= 0 ? cls == 1 : job.members[0].low.discrete;
    job.trials = trialsFor(method, job.mip, algfixed);
    return 0;
  });
}

static int tuneSet(KRVXprob prob, const char *setfile, int ifmip, int sense) {
  auto refuse = [&](int code, const char *what, const std::string &detail) {
    std::lock_guard<std::recursive_mutex> lock(prob->mtx);
    return fail(prob, code, "%s%s", what, detail.c_str());
  };
  if (!setfile || !*setfile) return refuse(kErrInvalid, "No tuner set file given", "");
  if (ifmip < -1 || ifmip > 1) return refuse(kErrInvalid, "ifmip must be -1, 0 or 1, not ", std::to_string(ifmip));
  if (sense < -1 || sense > 1) return refuse(kErrInvalid, "sense must be -1, 0 or 1, not ", std::to_string(sense));
  std::string text;
  if (!readText(setfile, text)) return refuse(kErrFile, "Cannot read tuner set file ", "'" + std::string(setfile) + "'");
  const std::string folder = [&] {
    std::string f(setfile);
    size_t slash = f.rfind('/');
    return slash == std::string::npos ? std::string() : f.substr(0, slash + 1);
  }();

  // Read every listed problem into a scratch problem of its own.
  std::vector<std::unique_ptr<ko_prob_struct, int (*)(KRVXprob)>> probs;
  std::istringstream in(text);
  std::string line;
  for (int lineno = 1; std::getline(in, line); ++lineno) {
    line = line.substr(0, line.find('#'));
    line.erase(0, line.find_first_not_of(" \t"));
    line.erase(line.find_last_not_of(" \t\r") + 1);
    if (line.empty()) continue;
    const std::string path = line[0] == '/' ? line : folder + line;
    KRVXprob q = nullptr;
    if (KRVXcreateprob(&q) != 0) return refuse(kErrMemory, "The tuner could not create a scratch problem", "");
    probs.emplace_back(q, KRVXdestroyprob);
    if (KRVXreadprob(q, path.c_str(), "") != 0) {
      char buf[KRVX_MAXERRLEN + 1] = {};
      KRVXgetlasterror(q, buf);
      return refuse(kErrFile, "", std::string(setfile) + ":" + std::to_string(lineno) + ": cannot read '" + path +
                                      "': " + buf);
    }
    if (sense != 0) {
      std::lock_guard<std::recursive_mutex> lock(q->mtx);
      q->objsense = sense;
    }
  }
  if (probs.empty()) return refuse(kErrFile, "The tuner set file lists no problems: ", setfile);

  return runJob(prob, [&](TuneJob &job) {
    Method method;
    if (int rc = tunerMethod(prob, method)) return rc;
    bool discrete = false;
    for (auto &q : probs) {
      std::lock_guard<std::recursive_mutex> qlock(q->mtx);
      if (int rc = addMember(job.members, q.get()))
        return fail(prob, rc, "Problem '%s' of the tuning set: %s", q->name.c_str(), q->lasterror.c_str());
      discrete = discrete || job.members.back().low.discrete;
    }
    job.mip = ifmip >= 0 ? ifmip == 1 : discrete;
    job.trials = trialsFor(method, job.mip, false);
    return 0;
  });
}

static int writeMethod(KRVXprob prob, const char *methodfile) {
  std::string text;
  {
    std::lock_guard<std::recursive_mutex> lock(prob->mtx);
    if (!methodfile || !*methodfile) return fail(prob, kErrInvalid, "No tuner method file given");
    text = methodText(prob);
  }
  // message handlers run without the mutex held
  if (!std::strcmp(methodfile, "stdout") || !std::strcmp(methodfile, "STDOUT")) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) messageCode(prob, kMsgTuner, 1, "%s", line.c_str());
    return 0;
  }
  std::ofstream out(methodfile, std::ios::binary | std::ios::trunc);
  if (out) out << text;
  out.close();
  if (out) return 0;
  std::lock_guard<std::recursive_mutex> lock(prob->mtx);
  return fail(prob, kErrFile, "Cannot write tuner method file '%s'", methodfile);
}

static int readMethod(KRVXprob prob, const char *methodfile) {
  std::lock_guard<std::recursive_mutex> lock(prob->mtx);
  if (!methodfile || !*methodfile) return fail(prob, kErrInvalid, "No tuner method file given");
  std::string text, err;
  if (!readText(methodfile, text)) return fail(prob, kErrFile, "Cannot read tuner method file '%s'", methodfile);
  Method method;
  if (!parseMethod(text, methodfile, method, err)) return fail(prob, kErrFile, "%s", err.c_str());
  prob->tunermethod = formatMethod(method);
  return 0;
}

extern "C" KRVX_API int KRVXtune(KRVXprob prob, const char *flags) {
  return shielded(prob, __func__, [&] { return tune(prob, flags); });
}

extern "C" KRVX_API int KRVXtuneprobsetfile(KRVXprob prob, const char *setfile, int ifmip, int sense) {
  return shielded(prob, __func__, [&] { return tuneSet(prob, setfile, ifmip, sense); });
}

extern "C" KRVX_API int KRVXtunerwritemethod(KRVXprob prob, const char *methodfile) {
  return shielded(prob, __func__, [&] { return writeMethod(prob, methodfile); });
}

extern "C" KRVX_API int KRVXtunerreadmethod(KRVXprob prob, const char *methodfile) {
  return shielded(prob, __func__, [&] { return readMethod(prob, methodfile); });
}
