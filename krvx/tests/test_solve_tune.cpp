// Tuner: method files (write, read, validation), tuning that leaves the best settings on the
// controls, flags and the problem-set form.
#include "test_solve_util.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Captured {
  std::vector<std::string> lines;
};

void capture(KRVXprob, void *data, const char *msg, int len, int msgtype) {
  if (msgtype >= 0) static_cast<Captured *>(data)->lines.emplace_back(msg, size_t(len));
}

void interruptAtStart(KRVXprob prob, void *, const char *msg, int len, int msgtype) {
  if (msgtype >= 0 && std::string(msg, size_t(len)).find("trial(s) as") != std::string::npos)
    KRVXinterrupt(prob, KRVX_STOP_USER);
}

std::string tmpFile(const char *name) {
  return "/tmp/krvx_tune_" + std::to_string(getpid()) + "_" + name;
}

void writeFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int count(const std::vector<std::string> &lines, const char *part) {
  int n = 0;
  for (const auto &l : lines) n += contains(l, part);
  return n;
}

void methodFiles() {
  KRVXprob p = newProb();
  Captured cap;
  KRVXaddmessagehandler(p, capture, &cap);
  const std::string file = tmpFile("method.txt");
  EXPECT_OK(p, KRVXtunerwritemethod(p, file.c_str()));
  const std::string def = readFile(file);
  EXPECT(def.rfind("KRVX TUNER METHOD 1\n", 0) == 0 && contains(def, "lp defaultalg 2 3 4"));
  EXPECT_OK(p, KRVXtunerwritemethod(p, "STDOUT"));
  EXPECT(count(cap.lines, "KRVX TUNER METHOD 1") == 1 && count(cap.lines, "mip presolve") == 1);

  // read: comments, blank lines and case of control names are accepted; the text is normalised
  writeFile(file, "# mine\nKRVX TUNER METHOD 1\n\nlp  PreSolve 0 1   # both\nmip defaultalg 4\n");
  EXPECT_OK(p, KRVXtunerreadmethod(p, file.c_str()));
  const std::string back = tmpFile("back.txt");
  EXPECT_OK(p, KRVXtunerwritemethod(p, back.c_str()));
  EXPECT(readFile(back) == "KRVX TUNER METHOD 1\nlp presolve 0 1\nmip defaultalg 4\n");

  // every fault names the file and line, and the method in place stays
  const std::pair<const char *, const char *> bad[] = {
      {"lp presolve 1\n", ":1: not a tuner method"},
      {"KRVX TUNER METHOD 1\nqp presolve 1\n", ":2: expected 'lp' or 'mip'"},
      {"KRVX TUNER METHOD 1\nlp timelimit 5\n", ":2: 'timelimit' is not a control the tuner can set"},
      {"KRVX TUNER METHOD 1\nlp presolve 2\n", ":2: value '2' of presolve is not an integer from 0 to 1"},
      {"KRVX TUNER METHOD 1\nlp defaultalg 2 2\n", ":2: value 2 of defaultalg is listed twice"},
      {"KRVX TUNER METHOD 1\nlp presolve 1\n\nlp presolve 0\n", ":4: 'presolve' is listed twice for lp"},
      {"\n# nothing\n", "empty tuner method"},
  };
  for (const auto &b : bad) {
    writeFile(file, b.first);
    EXPECT_FAILS(p, KRVXtunerreadmethod(p, file.c_str()), b.second);
    EXPECT(contains(lastError(p), file.c_str()));
  }
  EXPECT_OK(p, KRVXtunerwritemethod(p, back.c_str()));
  EXPECT(readFile(back) == "KRVX TUNER METHOD 1\nlp presolve 0 1\nmip defaultalg 4\n");
  EXPECT_FAILS(p, KRVXtunerreadmethod(p, "/no/such/method/file"), "Cannot read tuner method file");
  EXPECT_FAILS(p, KRVXtunerwritemethod(p, "/no/such/dir/method"), "Cannot write tuner method file");
  EXPECT_FAILS(p, KRVXtunerwritemethod(p, nullptr), "No tuner method file given");
  EXPECT_FAILS(p, KRVXtunerreadmethod(p, ""), "No tuner method file given");
  std::remove(file.c_str());
  std::remove(back.c_str());
  KRVXdestroyprob(p);
}

void tuneProblem() {
  KRVXprob p = newProb();
  Captured cap;
  KRVXaddmessagehandler(p, capture, &cap);
  // LP: one combination only, so it is the best and lands on the controls
  setModel(p, -1, {{3, 0, 3}, {2, 0, 1e20}}, {{'L', 4, {{0, 1}, {1, 1}}}, {'L', 6, {{0, 1}, {1, 3}}}});
  const std::string file = tmpFile("m.txt");
  writeFile(file, "KRVX TUNER METHOD 1\nlp presolve 0\nlp defaultalg 4\nmip presolve 1\n");
  EXPECT_OK(p, KRVXtunerreadmethod(p, file.c_str()));
  EXPECT_OK(p, KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 5));
  EXPECT_OK(p, KRVXtune(p, ""));
  int v = -1;
  KRVXgetintcontrol(p, KRVX_PRESOLVE, &v);
  EXPECT(v == 0);
  KRVXgetintcontrol(p, KRVX_DEFAULTALG, &v);
  EXPECT(v == 4);
  EXPECT(count(cap.lines, "Tuner: trial") == 1 && count(cap.lines, "best settings: presolve=0 defaultalg=4") == 1);
  // the problem's own solution is untouched by the trials
  EXPECT(intAttr(p, KRVX_SOLVESTATUS) == KRVX_SOLVESTATUS_UNSTARTED);

  // an algorithm flag fixes the algorithm: only presolve is chosen
  writeFile(file, "KRVX TUNER METHOD 1\nlp presolve 1 0\nlp defaultalg 2 3 4\n");
  EXPECT_OK(p, KRVXtunerreadmethod(p, file.c_str()));
  cap.lines.clear();
  EXPECT_OK(p, KRVXtune(p, "p"));
  EXPECT(count(cap.lines, "Tuner: trial") == 2 && count(cap.lines, "defaultalg=") == 0);
  // as a MIP ('g') the default mip lines apply: here none, one trial
  cap.lines.clear();
  EXPECT_OK(p, KRVXtune(p, "g"));
  EXPECT(count(cap.lines, "as MIP") == 1 && count(cap.lines, "Tuner: trial") == 1);
  // all six LP combinations, each solved
  cap.lines.clear();
  EXPECT_OK(p, KRVXtune(p, "l"));
  EXPECT(count(cap.lines, "Tuner: trial") == 6 && count(cap.lines, "completed 1/1") == 6);

  EXPECT_FAILS(p, KRVXtune(p, "lg"), "exclude each other");
  EXPECT_FAILS(p, KRVXtune(p, "q"), "Unknown flag 'q'");
  EXPECT_FAILS(p, KRVXtune(p, "bd"), "different algorithms");
  // an interrupt ends the tuning; the interrupted trial does not count
  hardKnapsack(p, 120, 15, 7);
  writeFile(file, "KRVX TUNER METHOD 1\nmip presolve 0\n");
  EXPECT_OK(p, KRVXtunerreadmethod(p, file.c_str()));
  KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 200);
  KRVXsetintcontrol(p, KRVX_PRESOLVE, 1);
  cap.lines.clear();
  KRVXaddmessagehandler(p, interruptAtStart, nullptr);
  EXPECT_OK(p, KRVXtune(p, ""));
  KRVXremovemessagehandler(p, interruptAtStart, nullptr);
  EXPECT(count(cap.lines, "Tuner: stopped (reason 9)") == 1 && count(cap.lines, "controls are unchanged") == 1);
  KRVXgetintcontrol(p, KRVX_PRESOLVE, &v);
  EXPECT(v == 1);
  // content the solver cannot handle is refused before any trial
  p->qrows.assign(p->rows.size(), {});
  p->qrows[0] = {{0, 0, 1.0}};
  EXPECT_FAILS(p, KRVXtune(p, ""), "needs the nonlinear solver");
  p->qrows.clear();
  std::remove(file.c_str());
  KRVXdestroyprob(p);
}

void tuneSet() {
  KRVXprob p = newProb();
  const std::string set = tmpFile("set.txt");
  EXPECT_FAILS(p, KRVXtuneprobsetfile(p, set.c_str(), 2, 0), "ifmip must be -1, 0 or 1");
  EXPECT_FAILS(p, KRVXtuneprobsetfile(p, set.c_str(), -1, 3), "sense must be -1, 0 or 1");
  EXPECT_FAILS(p, KRVXtuneprobsetfile(p, nullptr, -1, 0), "No tuner set file given");
  EXPECT_FAILS(p, KRVXtuneprobsetfile(p, set.c_str(), -1, 0), "Cannot read tuner set file");
  const std::string folder = sharedData("problem-set tuning");
  if (folder.empty()) {
    KRVXdestroyprob(p);
    return;
  }
  // paths relative to the set file's folder, absolute ones, comments and blank lines
  writeFile(set, "# two problems\n" + folder + "/netlib/afiro.mps.gz\n\n" + folder + "/mip/small_mip.mps\n");
  KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 20);
  Captured cap;
  KRVXaddmessagehandler(p, capture, &cap);
  {
    EXPECT_OK(p, KRVXtuneprobsetfile(p, set.c_str(), -1, 0));
    EXPECT(count(cap.lines, "as MIP over 2 problem(s)") == 1 && count(cap.lines, "best settings") == 1);
    // a relative path is taken from the set file's folder; a missing problem names its line
    const std::string dir = tmpFile("dir");
    mkdir(dir.c_str(), 0700);
    EXPECT(symlink((folder + "/netlib").c_str(), (dir + "/netlib").c_str()) == 0);
    writeFile(dir + "/set", "netlib/afiro.mps.gz\n");
    EXPECT_OK(p, KRVXtuneprobsetfile(p, (dir + "/set").c_str(), 0, 1));
    writeFile(dir + "/set", "netlib/afiro.mps.gz\nno_such_file.mps\n");
    EXPECT_FAILS(p, KRVXtuneprobsetfile(p, (dir + "/set").c_str(), 0, 1), "/set:2: cannot read");
    std::remove((dir + "/set").c_str());
    std::remove((dir + "/netlib").c_str());
    rmdir(dir.c_str());
    writeFile(set, "# nothing\n");
    EXPECT_FAILS(p, KRVXtuneprobsetfile(p, set.c_str(), 0, 0), "lists no problems");
  }
  std::remove(set.c_str());
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  methodFiles();
  tuneProblem();
  tuneSet();
  KRVXfree();
  return finish("test_solve_tune");
}
