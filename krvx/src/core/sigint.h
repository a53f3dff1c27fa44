// SIGINT while long calls run (solves, tuning, reading files): libkrvx's own handler counts the
// signals, so that Ctrl-C stops the call instead of ending the process. The first call that starts
// installs it, the previous action comes back when the last running one ends. A call marks the
// count when it starts; a SIGINT after the mark that the call did not obey (it arrived after the
// call's last look) is passed on to the previous handler then, so that it is never lost.
#pragma once

namespace krvx {

unsigned sigintEnter();                        // the mark: SIGINTs counted so far
void sigintLeave(unsigned mark, bool obeyed);
unsigned sigintCount();                        // SIGINTs counted so far
// Puts libkrvx's handler back while calls run (a solver library installed its own).
void sigintReclaim();

// The SIGINT scope of one call made on one thread.
class SigintWatch {
 public:
  SigintWatch() : mark_(sigintEnter()) {}
  ~SigintWatch() { sigintLeave(mark_, obeyed_); }
  SigintWatch(const SigintWatch &) = delete;
  SigintWatch &operator=(const SigintWatch &) = delete;
  // True once a SIGINT has arrived since the start; the call then stops (the signal is obeyed).
  bool fired() {
    if (!obeyed_ && sigintCount() != mark_) obeyed_ = true;
    return obeyed_;
  }

 private:
  unsigned mark_;
  bool obeyed_ = false;
};

}  // namespace krvx
