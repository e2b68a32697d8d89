#include "scripting/script_interrupt.h"

#include <unistd.h>

#include <cstring>

namespace morvex {

namespace {

// The handler the guard replaced: the run's own interrupt handling, which
// removes the temporary output file and ends the run with 128 + SIGINT.
void (*gRunHandler)(int) = nullptr;

void OnInterrupt(int signal) {
  static const char kLine[] = "\nThe script was stopped by the user (Ctrl+C).\n";
  ssize_t ignored = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  (void)ignored;
  if (gRunHandler != nullptr) gRunHandler(signal);
  _exit(128 + signal);
}

}  // namespace

TScriptInterruptGuard::TScriptInterruptGuard() {
  if (sigaction(SIGINT, nullptr, &previous_) != 0 || previous_.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  installed_ = sigaction(SIGINT, &action, nullptr) == 0;
  const bool runHandles = installed_ && !(previous_.sa_flags & SA_SIGINFO) &&
                          previous_.sa_handler != SIG_DFL && previous_.sa_handler != SIG_IGN;
  gRunHandler = runHandles ? previous_.sa_handler : nullptr;
}

TScriptInterruptGuard::~TScriptInterruptGuard() {
  if (installed_) sigaction(SIGINT, &previous_, nullptr);
  gRunHandler = nullptr;
}

}  // namespace morvex
