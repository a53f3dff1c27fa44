// SIGINT while solves run: libkrvx's own handler, so that Ctrl-C stops the running solves
// (they end STOPPED with stop reason CTRLC) instead of ending the process. Installed by the
// first solve that starts, the previous action restored when the last running one ends.
#include "solve/solve.h"

#include <csignal>
#include <mutex>

namespace krvx {

namespace {
std::atomic<unsigned> g_sigints{0};
static_assert(std::atomic<unsigned>::is_always_lock_free, "the handler needs a lock-free counter");
std::mutex g_mtx;
int g_nesting = 0;
struct sigaction g_previous;

extern "C" void onSigint(int) { g_sigints.fetch_add(1, std::memory_order_relaxed); }
}  // namespace

unsigned sigintCount() { return g_sigints.load(std::memory_order_relaxed); }

void sigintEnter() {
  std::lock_guard<std::mutex> lock(g_mtx);
  if (g_nesting++ > 0) return;
  struct sigaction sa = {};
  sa.sa_handler = onSigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, &g_previous);
}

void sigintReclaim() {
  std::lock_guard<std::mutex> lock(g_mtx);
  if (g_nesting == 0) return;
  struct sigaction current = {};
  if (sigaction(SIGINT, nullptr, &current) != 0 || current.sa_handler == onSigint) return;
  struct sigaction sa = {};
  sa.sa_handler = onSigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
}

void sigintLeave() {
  std::lock_guard<std::mutex> lock(g_mtx);
  if (g_nesting == 0 || --g_nesting > 0) return;
  sigaction(SIGINT, &g_previous, nullptr);
}

}  // namespace krvx
