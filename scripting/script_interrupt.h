// Ctrl+C while a script runs. A script that runs forever is the user's to
// stop, and no script can prevent it (a Lua debug hook, a caught error):
// while a guard lives, SIGINT ends the program at once with a message,
// through the run's own interrupt handling when there is one (it removes the
// step's temporary output file and reports the signal), with exit code 130.
// A SIGINT the process ignores (a background job, nohup) stays ignored.
#pragma once

#include <csignal>

namespace morvex {

class TScriptInterruptGuard {
 public:
  TScriptInterruptGuard();
  ~TScriptInterruptGuard();
  TScriptInterruptGuard(const TScriptInterruptGuard&) = delete;
  TScriptInterruptGuard& operator=(const TScriptInterruptGuard&) = delete;

 private:
  struct sigaction previous_ {};
  bool installed_ = false;
};

}  // namespace morvex
