#include "app/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "engine/destination_file.h"
#include "text/stream.h"

namespace morvex {

namespace {

volatile sig_atomic_t gLogFd = -1;
volatile sig_atomic_t gConsoleFd = STDOUT_FILENO;
volatile sig_atomic_t gLiveLineFd = -1;
constexpr int kOutputPipeClosedExit = 128 + SIGPIPE;

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    case SIGALRM:
      return "SIGALRM";
    case SIGUSR1:
      return "SIGUSR1";
    case SIGUSR2:
      return "SIGUSR2";
    case SIGXCPU:
      return "SIGXCPU";
    case SIGXFSZ:
      return "SIGXFSZ";
    default:
      return "a signal";
  }
}

// Only async-signal-safe calls from here on.
void WriteAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<size_t>(written);
  }
}

void WriteText(int fd, const char* text) { WriteAll(fd, text, std::strlen(text)); }

// Ends the process with `exitCode` after removing the step's temporary file
// and writing `first` + `second` + "." to the console and the log.
[[noreturn]] void EndRun(const char* first, const char* second, int exitCode) {
  RemovePendingDestinationFile();
  // A console pipe that is gone must not end the process before its exit code.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, nullptr);
  if (gLiveLineFd >= 0) WriteText(gLiveLineFd, "\r\x1b[K");
  const int fds[] = {gConsoleFd, gLogFd};
  const char* lineEnds[] = {"\n", "\r\n"};
  for (int i = 0; i < 2; ++i) {
    if (fds[i] < 0) continue;
    WriteText(fds[i], first);
    WriteText(fds[i], second);
    WriteText(fds[i], ".");
    WriteText(fds[i], lineEnds[i]);
  }
  ::_exit(exitCode);
}

void OnInterrupt(int signal) {
  EndRun("The run was interrupted by ", SignalName(signal), 128 + signal);
}

void OnOutputPipeClosed() { EndRun("The output pipe was closed", "", kOutputPipeClosedExit); }

// A console that can no longer be written (its reader is gone) is no reason
// to stop the data work: the write fails with EPIPE instead of ending the
// process, and the console stops. A handler rather than SIG_IGN, so that
// programs a step starts get the default action back.
void OnBrokenPipe(int) {}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal : kRunEndingSignals) sigaddset(&action.sa_mask, signal);
  const auto install = [](int signal, const struct sigaction& handler) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) return;
    ::sigaction(signal, &handler, nullptr);
  };
  for (const int signal : kRunEndingSignals) install(signal, action);
  struct sigaction brokenPipe {};
  brokenPipe.sa_handler = OnBrokenPipe;
  brokenPipe.sa_flags = SA_RESTART;
  sigemptyset(&brokenPipe.sa_mask);
  install(SIGPIPE, brokenPipe);
  SetClosedPipeHandler(OnOutputPipeClosed);
}

void SetInterruptConsole(int fd) { gConsoleFd = fd; }

void SetInterruptLiveLine(int fd) { gLiveLineFd = fd; }

void SetInterruptLog(int fd) {
  const int previous = gLogFd;
  gLogFd = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
  if (previous >= 0) ::close(previous);
}

}  // namespace morvex
