// Concurrency smoke: problems used from several threads, shared reads during loads, copies in
// opposite directions, re-entry from a message handler, and reads while a solve runs.
#include "testutil.h"
#include "core/store.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

std::atomic<int> threadFailures{0};

// An LP with n columns and n-1 rows (a chain x_j + x_{j+1} <= j).
int loadChain(KRVXprob p, int n) {
  std::vector<char> rt(size_t(n - 1), 'L');
  std::vector<double> rhs(size_t(n - 1));
  std::vector<int64_t> start;
  std::vector<int> rowind;
  std::vector<double> coef;
  for (int j = 0; j < n; ++j) {
    start.push_back(int64_t(rowind.size()));
    if (j > 0) rowind.push_back(j - 1), coef.push_back(1);
    if (j < n - 1) rowind.push_back(j), coef.push_back(1), rhs[size_t(j)] = j;
  }
  start.push_back(int64_t(rowind.size()));
  return KRVXloadlp64_witharraysizes(p, "chain", n, n - 1, rt.data(), n - 1, rhs.data(), n - 1, nullptr, 0, nullptr, 0,
                                     start.data(), n + 1, nullptr, 0, rowind.data(), int64_t(rowind.size()),
                                     coef.data(), int64_t(coef.size()), nullptr, 0, nullptr, 0);
}

void ownProblems(int seed) {
  for (int round = 0; round < 200; ++round) {
    KRVXprob p = nullptr, q = nullptr;
    if (KRVXcreateprob(&p) != 0 || KRVXcreateprob(&q) != 0) {
      ++threadFailures;
      return;
    }
    int n = 2 + (seed * 7 + round) % 20;
    int rows = 0, elems = 0;
    std::string nm = "c" + std::to_string(seed);
    if (loadChain(p, n) != 0 || KRVXaddnames_witharraysizes(p, 2, nm.c_str(), int64_t(nm.size()) + 1, 1, 0, 0) != 0 ||
        KRVXcopyprob(q, p, "copy") != 0 || KRVXgetintattrib(q, KRVX_ROWS, &rows) != 0 ||
        KRVXgetintattrib(q, KRVX_ELEMS, &elems) != 0 || rows != n - 1 || elems != 2 * (n - 1))
      ++threadFailures;
    int idx = -1;
    if (KRVXgetindex(q, 2, nm.c_str(), &idx) != 0 || idx != 0) ++threadFailures;
    KRVXdestroyprob(p);
    KRVXdestroyprob(q);
  }
}

void sharedProblem() {
  KRVXprob p = newProblem();
  EXPECT_OK(p, loadChain(p, 3));
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      while (!stop.load()) {
        int64_t cols = 0;
        int64_t need = 0;
        if (KRVXgetintattrib64(p, KRVX_COLS, &cols) != 0 || (cols != 3 && cols != 30)) ++threadFailures;
        if (KRVXgetnames(p, 2, nullptr, 0, &need, 0, 1) != 0 || need != 6) ++threadFailures;
      }
    });
  for (int k = 0; k < 300; ++k)
    if (loadChain(p, k % 2 ? 30 : 3) != 0) ++threadFailures;
  stop = true;
  for (auto &t : readers) t.join();
  KRVXdestroyprob(p);
}

void oppositeCopies() {
  KRVXprob a = newProblem(), b = newProblem();
  EXPECT_OK(a, loadChain(a, 5));
  EXPECT_OK(b, loadChain(b, 8));
  std::thread t1([&] {
    for (int k = 0; k < 300; ++k)
      if (KRVXcopyprob(b, a, "") != 0) ++threadFailures;
  });
  std::thread t2([&] {
    for (int k = 0; k < 300; ++k)
      if (KRVXcopyprob(a, b, "") != 0) ++threadFailures;
  });
  t1.join();
  t2.join();
  KRVXdestroyprob(a);
  KRVXdestroyprob(b);
}

struct ReEntry {
  KRVXprob p;
  int cols = -1;
};

void readCols(KRVXprob prob, void *data, const char *, int, int) {
  auto *r = static_cast<ReEntry *>(data);
  KRVXgetintattrib(prob, KRVX_COLS, &r->cols);
}

void reEntryAndSolving() {
  KRVXprob p = newProblem();
  EXPECT_OK(p, loadChain(p, 4));
  ReEntry r{p};
  EXPECT_OK(p, KRVXaddmessagehandler(p, readCols, &r));
  EXPECT_OK(p, KRVXdumpcontrols(p));   // the handler reads an attribute of p from inside the call
  EXPECT(r.cols == 4);
  EXPECT_OK(p, KRVXremovemessagehandler(p, readCols, &r));
  // a solve marks the problem and runs without its lock: reads go on, changes are refused
  p->solving = true;
  std::thread reader([&] {
    int rows = 0;
    if (KRVXgetintattrib(p, KRVX_ROWS, &rows) != 0 || rows != 3) ++threadFailures;
  });
  reader.join();
  EXPECT_FAILS(p, loadChain(p, 6), "cannot be changed while it is being solved");
  EXPECT_FAILS(p, KRVXaddnames_witharraysizes(p, 2, "a", 2, 1, 0, 0), "being solved");
  EXPECT_FAILS(p, KRVXdestroyprob(p), "being solved");
  p->solving = false;
  EXPECT_OK(p, loadChain(p, 6));
  KRVXdestroyprob(p);
}

// A handler that waits for another thread, as a Python handler waits for the interpreter lock held
// by a thread that reads an attribute: the read must not wait for the call that sends the message.
struct Waiting {
  KRVXprob p;
  std::atomic<bool> readDone{false};
  bool sawRead = false;
};

void waitForReader(KRVXprob, void *data, const char *, int, int) {
  auto *w = static_cast<Waiting *>(data);
  std::thread reader([w] {
    int rows = 0;
    KRVXgetintattrib(w->p, KRVX_ROWS, &rows);
    w->readDone = true;
  });
  for (int k = 0; k < 500 && !w->readDone.load(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  w->sawRead = w->readDone.load();
  reader.join();
}

void handlerWaitingForAReader() {
  KRVXprob p = newProblem();
  Waiting w;
  w.p = p;
  EXPECT_OK(p, KRVXaddmessagehandler(p, waitForReader, &w));
  EXPECT_OK(p, KRVXdumpcontrols(p));
  EXPECT(w.sawRead);
  KRVXdestroyprob(p);
}

}  // namespace

int main() {
  KRVXinit(nullptr);
  std::vector<std::thread> workers;
  for (int t = 0; t < 8; ++t) workers.emplace_back(ownProblems, t);
  for (auto &t : workers) t.join();
  sharedProblem();
  oppositeCopies();
  reEntryAndSolving();
  handlerWaitingForAReader();
  EXPECT(threadFailures.load() == 0);
  KRVXfree();
  return finish("test_threads");
}
