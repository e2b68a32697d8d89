// The run report (`--report=FILE`): one JSON document, written when the run
// ends, that says what the run did for schedulers and monitoring. Its shape
// is docs/run-report.schema.json:
//
//   project      the project argument as problem lines show it ("inline" for
//                project source text)
//   name         the project's name, or null
//   parameters   the settled parameters, name to value, secrets masked
//   start, end   local time in ISO 8601 with the zone ("2026-12-08T14:05:09+01:00")
//   exit_code    the program's exit code
//   error        the error lines of the run joined by line feeds, or null
//   scripts      every script in document order: number, name (or null),
//                outcome ("ok", "skipped", "failed", "not run"), error (or
//                null), source and destination as the console shows them (or
//                null), records, bytes_written (or null), duration_seconds
//
// `records` is the sum of the totals the script's steps report ("5 record(s)
// processed.", "orders: 5 record(s) processed."), null when they report none.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/project_defs.h"
#include "engine/run_observer.h"

namespace morvex {

class TStreamRegistry;

class TRunReport : public TRunObserver {
 public:
  // `project` is the project argument; the start time is now.
  explicit TRunReport(const std::string& project);

  void ProjectLoaded(const TProject& project) override;
  void ParametersSettled(const TParameterList& parameters) override;
  void ScriptStarted(int number) override;
  void ScriptEnded(const TScriptReport& report) override;

  // Every line the run reports, as the output callback receives it: totals
  // lines of the running script are counted, error lines kept.
  void Output(const std::string& text, int64_t level);

  // The run ended with `exitCode`; `fatalError` is a message the run driver
  // showed outside the project run (empty when none). The end time is now.
  void Finish(int exitCode, const std::string& fatalError = {});

  // The report document (UTF-8, LF line ends, ending in a line feed).
  std::string Json() const;

  const std::vector<TScriptReport>& Scripts() const { return scripts_; }

 private:
  std::string project_;
  std::optional<std::string> name_;
  std::vector<std::pair<std::string, std::string>> parameters_;
  std::chrono::system_clock::time_point start_;
  std::chrono::system_clock::time_point end_;
  int exitCode_ = 0;
  std::vector<std::string> errors_;
  std::vector<TScriptReport> scripts_;
  int running_ = 0;  // the script whose lines are counted; 0 between scripts
  std::optional<int64_t> runningRecords_;
};

// The value a parameter is reported with: "********" for a parameter whose
// name holds "password", "passwd", "pwd" or "secret" (ASCII letter case
// ignored), otherwise the value with any connection-string passwords masked.
std::string ReportedParameterValue(const std::string& name, const std::string& value);

// The bytes a file or stream destination holds: the file's size (a regular
// file only; nothing for standard output, a device or a FIFO), the size of
// the registered stream; nothing for other kinds.
std::optional<uint64_t> DestinationBytes(const TXSourceInfo& destination, TStreamRegistry& streams);

// `text` as a JSON string: quoted, with the quote, the backslash and every
// control character escaped; invalid UTF-8 becomes U+FFFD.
std::string JsonString(const std::string& text);

// A local time in ISO 8601 with seconds and the zone offset ("+01:00").
std::string IsoTime(std::chrono::system_clock::time_point time);

// Writes `document` to `path` through a temporary file beside it that is
// renamed over it, so a reader never sees half a report; missing directories
// of `path` are created. Raises EMorvexError
// ("Cannot write destination file: ...") when that fails.
void WriteReportFile(const std::string& path, const std::string& document);

}  // namespace morvex
