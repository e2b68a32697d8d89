// Ctrl+C while a script runs. A script that runs forever is the user's to
// stop: while a guard lives, SIGINT either asks the engine to stop at its next
// check (engines that poll, such as Lua) or, for an engine that cannot be
// interrupted, ends the program at once with a message, through the run's own
// interrupt handling when there is one (no partial output is left), with exit
// code 130.
#pragma once

#include <csignal>

namespace morvex {

class TScriptInterruptGuard {
 public:
  // `engineCanPoll`: the engine calls InterruptRequested() while it runs.
  explicit TScriptInterruptGuard(bool engineCanPoll);
  ~TScriptInterruptGuard();
  TScriptInterruptGuard(const TScriptInterruptGuard&) = delete;
  TScriptInterruptGuard& operator=(const TScriptInterruptGuard&) = delete;

 private:
  struct sigaction previous_ {};
  bool installed_ = false;
};

// True once Ctrl+C was pressed under a polling guard.
bool InterruptRequested();

inline constexpr const char* kScriptInterruptedMessage =
    "The script was stopped by the user (Ctrl+C).";

}  // namespace morvex
