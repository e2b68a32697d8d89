// What the runner tells an observer while a project runs: the loaded project,
// the settled parameters, and one record per script as it ends. The runner
// calls these hooks only when RunProject is given an observer; they never
// change the run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morvex {

struct TProject;
struct TXSourceInfo;
class TParameterList;

enum class TScriptOutcome { NotRun, Ok, Skipped, Failed };

// One script of a run.
struct TScriptReport {
  int Number = 0;    // from 1, in document order
  std::string Name;  // `name`; empty when not written
  TScriptOutcome Outcome = TScriptOutcome::NotRun;
  std::string Error;                       // the message that ended the script (Failed only)
  std::optional<std::string> Source;       // as the console shows it, once resolved
  std::optional<std::string> Destination;  // as the console shows it, once resolved
  // The bytes a file or stream destination holds after the script; nothing
  // for a database, standard output or a script that did not finish.
  std::optional<uint64_t> BytesWritten;
  std::optional<int64_t> Records;  // the observer's own count; the runner leaves it
  double Seconds = 0;              // wall-clock time from start to end
};

class TRunObserver {
 public:
  virtual ~TRunObserver() = default;
  // The project is loaded: every script is known, none has run.
  virtual void ProjectLoaded(const TProject& project) = 0;
  virtual void ParametersSettled(const TParameterList& parameters) = 0;
  // Script `number` starts (also one whose test is false).
  virtual void ScriptStarted(int number) = 0;
  // The running script's source is resolved (a file's path, a stream's
  // name, a connection string), before any of it is read.
  virtual void SourceResolved(const TXSourceInfo&) {}
  // Script `report.Number` ended; for a failed one, before its error is
  // reported through the output callback.
  virtual void ScriptEnded(const TScriptReport& report) = 0;
};

}  // namespace morvex
