// How signals and a closed output pipe end a run, and why a closed console
// does not.
#pragma once

namespace morvex {

// Makes SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU
// and SIGXFSZ end the run at once: the temporary file of the output being
// written is removed (the old destination is already gone, so no partial
// file is left that looks complete), "The run was interrupted by SIGTERM."
// (or the name of the other signal) is written to standard output and to the
// log given to SetInterruptLog, and the process exits with 128 + the signal
// number: 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP, 131 for SIGQUIT.
// SIGPIPE does not end the run: a write to a pipe without a reader fails
// instead, so a console whose reader has gone (morvex ... | head -1) stops
// being written while the data work goes on to its own exit code. A signal
// the process was started ignoring (nohup) stays ignored.
//
// An output whose reader has gone (morvex in.xml json - | head -c 100) ends
// the run at once instead: "The output pipe was closed." is written to the
// console and the log, the temporary file of the step is removed, and the
// process exits with 141 (128 + SIGPIPE), as other tools killed by SIGPIPE
// do.
void InstallInterruptHandlers();

// The descriptor the interrupt and closed-pipe messages go to: standard
// output (the default) or standard error.
void SetInterruptConsole(int fd);

// The terminal descriptor a live progress line is shown on, -1 while none
// is: the interrupt and closed-pipe messages erase the line first.
void SetInterruptLiveLine(int fd);

// The log file descriptor the interrupt message is also written to, with
// CR LF; -1 for none. The descriptor is duplicated, so the caller may close
// its own.
void SetInterruptLog(int fd);

}  // namespace morvex
