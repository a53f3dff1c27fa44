// SIGINT handling of the long calls (core/sigint.h).
#include "core/sigint.h"

#include <atomic>
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

void install(struct sigaction *previous) {
  struct sigaction sa = {};
  sa.sa_handler = onSigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, previous);
}

bool isHandler(const struct sigaction &sa) {
  return (sa.sa_flags & SA_SIGINFO) ? sa.sa_sigaction != nullptr
                                    : sa.sa_handler != SIG_DFL && sa.sa_handler != SIG_IGN;
}
}  // namespace

unsigned sigintCount() { return g_sigints.load(std::memory_order_relaxed); }

unsigned sigintEnter() {
  std::lock_guard<std::mutex> lock(g_mtx);
  // the mark is taken before the handler goes in: a signal in between reaches the previous
  // handler, one after it is counted past the mark
  const unsigned mark = sigintCount();
  if (g_nesting++ > 0) return mark;
  install(&g_previous);
  return mark;
}

void sigintReclaim() {
  std::lock_guard<std::mutex> lock(g_mtx);
  if (g_nesting == 0) return;
  struct sigaction current = {};
  if (sigaction(SIGINT, nullptr, &current) != 0 || current.sa_handler == onSigint) return;
  install(nullptr);
}

void sigintLeave(unsigned mark, bool obeyed) {
  std::unique_lock<std::mutex> lock(g_mtx);
  if (g_nesting == 0) return;
  const bool missed = !obeyed && sigintCount() != mark;
  if (--g_nesting > 0) return;   // still installed: the calls still running see the signal
  sigaction(SIGINT, &g_previous, nullptr);
  const bool pass = missed && isHandler(g_previous);
  lock.unlock();
  // the previous handler is in place again: a signal no call obeyed goes to it
  if (pass) std::raise(SIGINT);
}

}  // namespace krvx
