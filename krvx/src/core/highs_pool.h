#pragma once
// HiGHS instances: created, or reused from problems that were destroyed.

namespace krvx {

// A HiGHS instance with libkrvx's logging defaults (console output off): a new one, or one that
// releaseHighs kept, cleared to its defaults.
void *newHighs();
// Destroys an instance, or keeps a small one for newHighs (creating an instance costs about as
// much as solving a small LP). Its model, solution, basis and options are cleared first.
void releaseHighs(void *h);

}  // namespace krvx
