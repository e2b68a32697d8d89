#include "app/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "engine/destination_file.h"

namespace morvex {

namespace {

volatile sig_atomic_t gLogFd = -1;

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

void WriteLine(int fd, int signal, const char* lineEnd) {
  static constexpr char kStart[] = "The run was interrupted by ";
  const char* name = SignalName(signal);
  WriteAll(fd, kStart, sizeof kStart - 1);
  WriteAll(fd, name, std::strlen(name));
  WriteAll(fd, ".", 1);
  WriteAll(fd, lineEnd, std::strlen(lineEnd));
}

void OnInterrupt(int signal) {
  RemovePendingDestinationFile();
  // A console pipe that is gone must not end the process before its exit code.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, nullptr);
  WriteLine(STDOUT_FILENO, signal, "\n");
  const int logFd = gLogFd;
  if (logFd >= 0) WriteLine(logFd, signal, "\r\n");
  ::_exit(128 + signal);
}

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
}

void SetInterruptLog(int fd) {
  const int previous = gLogFd;
  gLogFd = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
  if (previous >= 0) ::close(previous);
}

}  // namespace morvex
