#include "scripting/script_interrupt.h"

#include <unistd.h>

#include <cstring>

namespace morvex {

namespace {

volatile sig_atomic_t gInterrupted = 0;
volatile sig_atomic_t gCanPoll = 0;
// The handler the guard replaced: the run's own interrupt handling, which
// removes the temporary output file and ends the run with 128 + SIGINT.
void (*gRunHandler)(int) = nullptr;

void OnInterrupt(int signal) {
  if (gCanPoll) {
    gInterrupted = 1;
    return;
  }
  static const char kLine[] = "\nThe script was stopped by the user (Ctrl+C).\n";
  ssize_t ignored = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  (void)ignored;
  if (gRunHandler != nullptr) gRunHandler(signal);
  _exit(128 + signal);
}

}  // namespace

TScriptInterruptGuard::TScriptInterruptGuard(bool engineCanPoll) {
  gInterrupted = 0;
  gCanPoll = engineCanPoll ? 1 : 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  installed_ = sigaction(SIGINT, &action, &previous_) == 0;
  const bool runHandles = installed_ && !(previous_.sa_flags & SA_SIGINFO) &&
                          previous_.sa_handler != SIG_DFL && previous_.sa_handler != SIG_IGN;
  gRunHandler = runHandles ? previous_.sa_handler : nullptr;
}

TScriptInterruptGuard::~TScriptInterruptGuard() {
  if (installed_) sigaction(SIGINT, &previous_, nullptr);
  gRunHandler = nullptr;
  gInterrupted = 0;
}

bool InterruptRequested() { return gInterrupted != 0; }

}  // namespace morvex
