// SIGINT guard of the long solver calls, with a nesting count; the count changes only with the
// interpreter lock held, which serialises the guard. While it is held, a SIGINT is passed to the
// interpreter (a KeyboardInterrupt, or the program's own Python handler, when the call returns)
// instead of taking the default action: the solver library installs its own handler inside the
// call, so only a signal that arrives around the solver's own scope reaches this one.
#include "module/services.h"

#include <csignal>

namespace {
int nesting = 0;
struct sigaction saved;

extern "C" void onGuardedSigint(int) { PyErr_SetInterruptEx(SIGINT); }
}  // namespace

void setSigIntHandler() {
  if (nesting++ > 0) return;
  struct sigaction guard = {};
  guard.sa_handler = onGuardedSigint;
  sigemptyset(&guard.sa_mask);
  guard.sa_flags = SA_RESTART;
  sigaction(SIGINT, &guard, &saved);
}

void resetSigIntHandler() {
  if (nesting <= 0) return;
  if (--nesting == 0) sigaction(SIGINT, &saved, nullptr);
}
