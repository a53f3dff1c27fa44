// Interrupts (from the solving thread, another thread and SIGINT), refusals while a solve runs,
// time-limited MIPs, and concurrent solves of different problems.
#include "test_solve_util.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <thread>

namespace {

// Message handler: counts log lines, optionally interrupts from inside (solving thread).
struct Watch {
  std::atomic<int> lines{0};
  int interruptWith = 0;
};

void watch(KRVXprob prob, void *data, const char *, int, int msgtype) {
  auto *w = static_cast<Watch *>(data);
  if (msgtype < 0) return;
  if (w->lines.fetch_add(1) == 0 && w->interruptWith) KRVXinterrupt(prob, w->interruptWith);
}

void waitForLog(const Watch &w) {
  while (w.lines.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A hard MIP with a safety time limit (a missed interrupt shows as a time-limit stop).
KRVXprob hardProblem(Watch &w) {
  KRVXprob p = newProb();
  hardKnapsack(p, 120, 15, 7);
  KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 120);
  KRVXsetdblcontrol(p, KRVX_MIPRELSTOP, 0);
  KRVXaddmessagehandler(p, watch, &w);
  return p;
}

void interruptFromCallback() {
  Watch w;
  w.interruptWith = 1234;
  KRVXprob p = hardProblem(w);
  int solvestatus = -1, solstatus = -1;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_STOPPED && intAttr(p, KRVX_STOPSTATUS) == 1234);
  EXPECT(solstatus == KRVX_SOLSTATUS_NOTFOUND || solstatus == KRVX_SOLSTATUS_FEASIBLE);
  // a request made while nothing runs is dropped when the next solve starts
  w.interruptWith = 0;
  EXPECT_OK(p, KRVXinterrupt(p, KRVX_STOP_USER));
  setModel(p, -1, {{1, 0, 10, 'I'}}, {{'L', 3.5, {{0, 1}}}});
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_COMPLETED && near(dblAttr(p, KRVX_OBJVAL), 3));
  for (int bad : {0, -5}) EXPECT_FAILS(p, KRVXinterrupt(p, bad), ("Invalid interrupt reason " + std::to_string(bad)).c_str());
  EXPECT_FAILS(nullptr, KRVXinterrupt(nullptr, 9), "no problem given");
  KRVXdestroyprob(p);
}

std::atomic<int> g_userSigints{0};
void userHandler(int) { g_userSigints.fetch_add(1); }

// Puts userHandler in place for SIGINT with its count at zero.
void takeSigint() {
  struct sigaction mine = {};
  mine.sa_handler = userHandler;
  sigemptyset(&mine.sa_mask);
  sigaction(SIGINT, &mine, nullptr);
  g_userSigints.store(0);
}

void (*sigintHandler())(int) {
  struct sigaction now = {};
  sigaction(SIGINT, nullptr, &now);
  return now.sa_handler;
}

// A solve on another thread, stopped by KRVXinterrupt or by SIGINT once its log has begun.
void interruptFromOtherThread() {
  takeSigint();
  for (bool bySignal : {false, true}) {
    Watch w;
    KRVXprob p = hardProblem(w);
    int solvestatus = -1, solstatus = -1, rc = -1;
    std::thread solver([&] { rc = KRVXoptimize(p, "", &solvestatus, &solstatus); });
    waitForLog(w);
    // while it runs: reads answer, a second solve and store changes are refused
    EXPECT(intAttr(p, KRVX_COLS) == 120);
    EXPECT_FAILS(p, KRVXlpoptimize(p, ""), "already being solved");
    EXPECT_FAILS(p, KRVXtune(p, ""), "already being solved");
    int status = -1;
    EXPECT_FAILS(p, KRVXcrossoverlpsol(p, &status), "already being solved");
    EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 1, "r", 2, 1, 0, 0), "being solved");
    EXPECT_FAILS(p, KRVXdestroyprob(p), "being solved");
    if (bySignal) kill(getpid(), SIGINT);
    else EXPECT_OK(p, KRVXinterrupt(p, KRVX_STOP_USER));
    solver.join();
    EXPECT(rc == 0 && solvestatus == KRVX_SOLVESTATUS_STOPPED);
    EXPECT(intAttr(p, KRVX_STOPSTATUS) == (bySignal ? 2 : KRVX_STOP_USER));   // 2: CTRLC
    EXPECT(intAttr(p, KRVX_MIPSTATUS) == 3 || intAttr(p, KRVX_MIPSTATUS) == 4);
    // libkrvx's handler took the signal and gave the previous one back
    EXPECT(g_userSigints.load() == 0 && sigintHandler() == userHandler);
    EXPECT_OK(p, KRVXaddnames_witharraysizes(p, 1, "r", 2, 1, 0, 0));   // usable again
    KRVXdestroyprob(p);
  }
  signal(SIGINT, SIG_DFL);
}

// A SIGINT from the first instruction of a solve on: one that arrives while the model is prepared
// stops the solve before it runs; one that arrives after the solve's last look at the signals is
// passed to the previous handler when the solve ends. None is lost, none ends the process.
void sigintNeverLost() {
  takeSigint();
  {
    KRVXprob p = newProb();
    hardKnapsack(p, 3000, 60, 11);
    KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 30);
    KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0);
    int solvestatus = -1, solstatus = -1;
    std::thread killer([&] {
      while (!p->solving.load()) std::this_thread::yield();
      kill(getpid(), SIGINT);
    });
    EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
    killer.join();
    EXPECT(solvestatus == KRVX_SOLVESTATUS_STOPPED && intAttr(p, KRVX_STOPSTATUS) == 2 && g_userSigints.load() == 0);
    KRVXdestroyprob(p);
  }
  struct Kill {
    static void onLine(KRVXprob, void *data, const char *, int, int msgtype) {
      auto *sent = static_cast<int *>(data);
      if (msgtype >= 0 && (*sent)++ == 0) kill(getpid(), SIGINT);
    }
  };
  KRVXprob p = newProb();
  setModel(p, -1, {{1, 0, 10}, {2, 0, 10}}, {{'L', 12, {{0, 1}, {1, 1}}}});
  int stopped = 0;
  for (int round = 0; round < 10; ++round) {
    int sent = 0;
    KRVXaddmessagehandler(p, Kill::onLine, &sent);
    p->highs_stale = true;
    EXPECT_OK(p, KRVXlpoptimize(p, ""));
    KRVXremovemessagehandler(p, Kill::onLine, &sent);
    const bool stop = intAttr(p, KRVX_SOLVESTATUS) == KRVX_SOLVESTATUS_STOPPED;
    stopped += stop;
    EXPECT(sent > 0 && (stop ? intAttr(p, KRVX_STOPSTATUS) == 2
                             : intAttr(p, KRVX_SOLVESTATUS) == KRVX_SOLVESTATUS_COMPLETED &&
                                   intAttr(p, KRVX_SOLSTATUS) == KRVX_SOLSTATUS_OPTIMAL));
  }
  EXPECT(stopped + g_userSigints.load() == 10);
  KRVXdestroyprob(p);
  signal(SIGINT, SIG_DFL);
}

// A SIGINT while a file is read stops the read; the problem stays as it was.
void sigintDuringRead(const char *path) {
  takeSigint();
  KRVXprob p = newProb();
  setModel(p, 1, {{1, 0, 1}}, {});
  const std::string before = snapshot(p);
  std::atomic<bool> done{false};
  std::thread killer([&] {
    // the read has begun once libkrvx's handler is in place
    while (sigintHandler() == userHandler && !done.load()) std::this_thread::yield();
    if (!done.load()) kill(getpid(), SIGINT);
  });
  EXPECT_FAILS(p, KRVXreadprob(p, path, ""), "the read was interrupted");
  done.store(true);
  killer.join();
  EXPECT(snapshot(p) == before && g_userSigints.load() == 0 && sigintHandler() == userHandler);
  EXPECT_OK(p, KRVXreadprob(p, path, ""));   // and reads in full when left alone
  EXPECT(intAttr(p, KRVX_COLS) == 400000);
  std::remove(path);
  KRVXdestroyprob(p);
  signal(SIGINT, SIG_DFL);
}

void sigintDuringReads() {
  // head, a line per column (x0 is in the head of the LP file), tail
  const struct { const char *path, *head, *line, *tail; int first; } files[] = {
      {"krvx_sigint_read.mps", "NAME big\nROWS\n N obj\n L r\nCOLUMNS\n", " x%d obj 1 r 1\n", "RHS\n rhs r 10\nENDATA\n", 0},
      {"krvx_sigint_read.lp", "minimize\nobj: x0\n", " + x%d\n", "subject to\nr: x0 + x1 <= 10\nend\n", 1}};
  for (const auto &d : files) {
    FILE *f = std::fopen(d.path, "w");
    std::fputs(d.head, f);
    for (int j = d.first; j < 400000; ++j) std::fprintf(f, d.line, j);
    std::fputs(d.tail, f);
    std::fclose(f);
    sigintDuringRead(d.path);
  }
}

void timeLimited() {
  Watch w;
  KRVXprob p = hardProblem(w);
  KRVXsetdblcontrol(p, KRVX_TIMELIMIT, 1.0);
  int solvestatus = -1, solstatus = -1;
  EXPECT_OK(p, KRVXoptimize(p, "", &solvestatus, &solstatus));
  EXPECT(solvestatus == KRVX_SOLVESTATUS_STOPPED && solstatus == KRVX_SOLSTATUS_FEASIBLE);
  EXPECT(intAttr(p, KRVX_STOPSTATUS) == 1 && intAttr(p, KRVX_MIPSTATUS) == 4 && solution(p).size() == 120);
  const double obj = dblAttr(p, KRVX_OBJVAL);
  EXPECT(obj > 0 && dblAttr(p, KRVX_BESTBOUND) >= obj - 1e-6);   // maximisation: the bound is above
  KRVXdestroyprob(p);
}

// Message handlers run without the problem's lock: a handler that waits for another thread's
// attribute read (as a handler waiting for the interpreter lock would) does not deadlock.
std::atomic<int> g_reads{0};
void readFromOtherThread(KRVXprob prob, void *, const char *, int, int msgtype) {
  if (msgtype < 0) return;
  std::thread reader([prob] {
    if (intAttr(prob, KRVX_COLS) >= 0) g_reads.fetch_add(1);
  });
  reader.join();
}

void handlersWithoutLock() {
  KRVXprob p = newProb();
  hardKnapsack(p, 20, 3, 11);
  EXPECT_OK(p, KRVXaddmessagehandler(p, readFromOtherThread, nullptr));
  EXPECT_OK(p, KRVXmipoptimize(p, ""));
  int status = -1;
  EXPECT_OK(p, KRVXlpoptimize(p, "b"));
  EXPECT_OK(p, KRVXcrossoverlpsol(p, &status));
  EXPECT_OK(p, KRVXtune(p, ""));
  EXPECT_OK(p, KRVXtunerwritemethod(p, "stdout"));
  EXPECT(g_reads.load() > 20);
  KRVXdestroyprob(p);
}

// A handler of one solve starts a solve of another problem (asking for another thread count,
// which cannot take effect then): both complete, and SIGINT's action is restored once.
struct Nested {
  KRVXprob inner;
  int innerStatus = -1, calls = 0;
};
void solveInner(KRVXprob, void *data, const char *, int, int msgtype) {
  auto *n = static_cast<Nested *>(data);
  if (msgtype < 0 || n->calls++ > 0) return;
  int ss = -1;
  KRVXoptimize(n->inner, "", &ss, &n->innerStatus);
}

void nested() {
  KRVXprob outer = newProb(), inner = newProb();
  setModel(outer, -1, {{1, 0, 10, 'I'}, {1, 0, 10, 'I'}}, {{'L', 3, {{0, 2}, {1, 2}}}});
  setModel(inner, -1, {{1, 0, 10, 'I'}}, {{'L', 3.5, {{0, 1}}}});
  KRVXsetintcontrol(inner, KRVX_THREADS, 1);
  Nested n{inner};
  EXPECT_OK(outer, KRVXaddmessagehandler(outer, solveInner, &n));
  void (*before)(int) = sigintHandler();
  int ss = -1, st = -1;
  EXPECT_OK(outer, KRVXoptimize(outer, "", &ss, &st));
  EXPECT(st == KRVX_SOLSTATUS_OPTIMAL && n.innerStatus == KRVX_SOLSTATUS_OPTIMAL);
  EXPECT(near(dblAttr(inner, KRVX_OBJVAL), 3) && near(dblAttr(outer, KRVX_OBJVAL), 1));
  EXPECT(sigintHandler() == before);
  // alone, the thread count takes effect
  EXPECT_OK(inner, KRVXoptimize(inner, "", &ss, &st));
  EXPECT(st == KRVX_SOLSTATUS_OPTIMAL);
  KRVXdestroyprob(outer);
  KRVXdestroyprob(inner);
}

void concurrent() {
  const int nthreads = 4, rounds = 3;
  std::vector<double> expected(nthreads);
  std::vector<KRVXprob> probs(nthreads);
  for (int t = 0; t < nthreads; ++t) {
    probs[t] = newProb();
    hardKnapsack(probs[t], 25, 3, 100 + t);
    KRVXsetintcontrol(probs[t], KRVX_OUTPUTLOG, 0);
    KRVXsetdblcontrol(probs[t], KRVX_MIPRELSTOP, 0);
    EXPECT_OK(probs[t], KRVXmipoptimize(probs[t], ""));
    expected[t] = dblAttr(probs[t], KRVX_OBJVAL);
  }
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < nthreads; ++t)
    threads.emplace_back([&, t] {
      for (int r = 0; r < rounds; ++r) {
        probs[t]->highs_stale = true;   // solve from scratch each round
        int ss = -1, st = -1;
        if (KRVXoptimize(probs[t], r % 2 ? "d" : "", &ss, &st) != 0 || ss != KRVX_SOLVESTATUS_COMPLETED ||
            st != KRVX_SOLSTATUS_OPTIMAL || !near(dblAttr(probs[t], KRVX_OBJVAL), expected[t]))
          bad.fetch_add(1);
        if (KRVXlpoptimize(probs[t], "") != 0 || intAttr(probs[t], KRVX_LPSTATUS) != 1) bad.fetch_add(1);
      }
    });
  for (auto &th : threads) th.join();
  EXPECT(bad.load() == 0);
  for (KRVXprob p : probs) KRVXdestroyprob(p);
}

}  // namespace

int main() {
  if (KRVXinit(nullptr) != 0) return 1;
  interruptFromCallback();
  interruptFromOtherThread();
  sigintNeverLost();
  sigintDuringReads();
  timeLimited();
  handlersWithoutLock();
  nested();
  concurrent();
  KRVXfree();
  return finish("test_solve_threads");
}
