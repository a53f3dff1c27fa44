// The SIGINT guard installs the default action while held and restores the previous action
// only when the outermost guard ends.
#include "model/services.h"
#include "check.h"

#include <csignal>
#include <cstdio>

static void userHandler(int) {}

static void (*current())(int) {
  struct sigaction now;
  sigaction(SIGINT, nullptr, &now);
  return now.sa_handler;
}

int main() {
  struct sigaction user;
  user.sa_handler = userHandler;
  sigemptyset(&user.sa_mask);
  user.sa_flags = 0;
  sigaction(SIGINT, &user, nullptr);

  setSigIntHandler();
  CHECK(current() == SIG_DFL);
  setSigIntHandler();            // nested
  CHECK(current() == SIG_DFL);
  resetSigIntHandler();
  CHECK(current() == SIG_DFL);   // the outer guard still holds
  resetSigIntHandler();
  CHECK(current() == userHandler);
  resetSigIntHandler();          // unbalanced reset changes nothing
  CHECK(current() == userHandler);

  setSigIntHandler();            // a second round saves the action again
  CHECK(current() == SIG_DFL);
  resetSigIntHandler();
  CHECK(current() == userHandler);
  return 0;
}
