// The SIGINT guard: while held, a SIGINT never takes the default action but reaches the
// interpreter when the call returns; the previous action comes back when the outermost guard ends.
#include "module/services.h"
#include "check.h"

#include <Python.h>

#include <csignal>

static void (*current())(int) {
  struct sigaction now;
  sigaction(SIGINT, nullptr, &now);
  return now.sa_handler;
}

static bool keyboardInterruptPending() {
  if (PyErr_CheckSignals() == 0) return false;
  const bool kbd = PyErr_ExceptionMatches(PyExc_KeyboardInterrupt);
  PyErr_Clear();
  return kbd;
}

int main() {
  Py_Initialize();   // the interpreter's own SIGINT handler (KeyboardInterrupt)
  void (*python)(int) = current();
  CHECK(python != SIG_DFL && python != SIG_IGN);

  setSigIntHandler();
  void (*guard)(int) = current();
  CHECK(guard != SIG_DFL && guard != python);
  setSigIntHandler();            // nested
  CHECK(current() == guard);
  raise(SIGINT);                 // the process goes on
  resetSigIntHandler();
  CHECK(current() == guard);     // the outer guard still holds
  resetSigIntHandler();
  CHECK(current() == python);
  CHECK(keyboardInterruptPending());
  CHECK(!keyboardInterruptPending());
  resetSigIntHandler();          // unbalanced reset changes nothing
  CHECK(current() == python);

  setSigIntHandler();            // a second round saves the action again
  CHECK(current() == guard);
  resetSigIntHandler();
  CHECK(current() == python);
  CHECK(!keyboardInterruptPending());
  Py_Finalize();
  return 0;
}
