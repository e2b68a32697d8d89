#include "app/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "engine/destination_file.h"

namespace morvex {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t gLogFd = -1;

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
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

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (const int signal : kSignals) sigaddset(&action.sa_mask, signal);
  for (const int signal : kSignals) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

void SetInterruptLog(int fd) {
  const int previous = gLogFd;
  gLogFd = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
  if (previous >= 0) ::close(previous);
}

}  // namespace morvex
