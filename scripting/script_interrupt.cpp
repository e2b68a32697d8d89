#include "scripting/script_interrupt.h"

#include <unistd.h>

#include <cstring>

namespace morvex {

namespace {

volatile sig_atomic_t gInterrupted = 0;
volatile sig_atomic_t gCanPoll = 0;

void OnInterrupt(int) {
  if (gCanPoll) {
    gInterrupted = 1;
    return;
  }
  static const char kLine[] = "\nThe script was stopped by the user (Ctrl+C).\n";
  ssize_t ignored = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  (void)ignored;
  _exit(1);
}

}  // namespace

TScriptInterruptGuard::TScriptInterruptGuard(bool engineCanPoll) {
  gInterrupted = 0;
  gCanPoll = engineCanPoll ? 1 : 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  installed_ = sigaction(SIGINT, &action, &previous_) == 0;
}

TScriptInterruptGuard::~TScriptInterruptGuard() {
  if (installed_) sigaction(SIGINT, &previous_, nullptr);
  gInterrupted = 0;
}

bool InterruptRequested() { return gInterrupted != 0; }

}  // namespace morvex
