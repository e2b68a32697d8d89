// How SIGINT, SIGTERM and SIGHUP end a run.
#pragma once

namespace morvex {

// Makes SIGINT, SIGTERM and SIGHUP end the run at once: the temporary file of
// the output being written is removed (the old destination is already gone,
// so no partial file is left that looks complete), "The run was interrupted by SIGTERM." (or
// SIGINT, SIGHUP) is written to standard output and to the log given to SetInterruptLog, and the
// process exits with 128 + the signal number: 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP. A
// signal the process was started ignoring (nohup) stays ignored.
void InstallInterruptHandlers();

// The log file descriptor the interrupt message is also written to, with
// CR LF; -1 for none. The descriptor is duplicated, so the caller may close
// its own.
void SetInterruptLog(int fd);

}  // namespace morvex
