// SIGINT guard: the default action while a long solver call runs; nested guards count.
// The count changes only with the interpreter lock held, which serialises the guard.
#include "module/services.h"

#include <csignal>

namespace {
int nesting = 0;
struct sigaction saved;
}  // namespace

void setSigIntHandler() {
  if (nesting++ > 0) return;
  struct sigaction dfl;
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  dfl.sa_flags = 0;
  sigaction(SIGINT, &dfl, &saved);
}

void resetSigIntHandler() {
  if (nesting <= 0) return;
  if (--nesting == 0) sigaction(SIGINT, &saved, nullptr);
}
