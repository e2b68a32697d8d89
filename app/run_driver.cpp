#include "app/run_driver.h"

#include <cxxabi.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "app/command_line.h"
#include "app/console_log.h"
#include "app/inline_project.h"
#include "app/interrupt.h"
#include "app/live_progress.h"
#include "app/version_info.h"
#include "engine/project_check.h"
#include "engine/project_graph.h"
#include "engine/project_inputs.h"
#include "engine/run_callbacks.h"
#include "engine/run_report.h"
#include "engine/runner.h"
#include "engine/streams.h"
#include "text/error.h"

namespace morvex {

namespace {

// The readable name of the exception being handled ("std::bad_alloc").
std::string CurrentExceptionTypeName() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (!type) return "unknown";
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type->name());
}

// Closes the run's log file when the run ends, on every path; an error while
// closing cannot change the run's result, which is already written.
class TLogFileCloser {
 public:
  explicit TLogFileCloser(RunOptions& options) : options_(options) {}
  TLogFileCloser(const TLogFileCloser&) = delete;
  TLogFileCloser& operator=(const TLogFileCloser&) = delete;
  ~TLogFileCloser() {
    if (!options_.LogStream) return;
    try {
      options_.LogStream->Close();
    } catch (const std::exception&) {
    }
    options_.LogStream.reset();
    options_.LogDescriptor = -1;
  }

 private:
  RunOptions& options_;
};

// Tells every observer it holds of the run, in order.
class TObservers : public TRunObserver {
 public:
  void Add(TRunObserver* observer) {
    if (observer) observers_.push_back(observer);
  }
  // Itself, or nullptr when it holds none.
  TRunObserver* OrNull() { return observers_.empty() ? nullptr : this; }

  void ProjectLoaded(const TProject& project) override {
    for (TRunObserver* observer : observers_) observer->ProjectLoaded(project);
  }
  void ParametersSettled(const TParameterList& parameters) override {
    for (TRunObserver* observer : observers_) observer->ParametersSettled(parameters);
  }
  void ScriptStarted(int number) override {
    for (TRunObserver* observer : observers_) observer->ScriptStarted(number);
  }
  void SourceResolved(const TXSourceInfo& source) override {
    for (TRunObserver* observer : observers_) observer->SourceResolved(source);
  }
  void ScriptEnded(const TScriptReport& report) override {
    for (TRunObserver* observer : observers_) observer->ScriptEnded(report);
  }

 private:
  std::vector<TRunObserver*> observers_;
};

// The live line of a run on a terminal, set over the console for as long as
// it lives; it is erased when it ends, on every path.
class TLiveLine {
 public:
  TLiveLine(const RunOptions& options, TConsole& console) : console_(console) {
    // Standard output carries the run's data when the console uses standard
    // error.
    const int dataFd = console.UsesErrorStream() ? STDOUT_FILENO : -1;
    if (!LiveProgressWanted(STDERR_FILENO, options.QuietGiven, dataFd)) return;
    progress_.emplace(STDERR_FILENO);
    console_.SetOverlay(&*progress_);
  }
  TLiveLine(const TLiveLine&) = delete;
  TLiveLine& operator=(const TLiveLine&) = delete;
  ~TLiveLine() {
    if (progress_) console_.SetOverlay(nullptr);
  }
  TLiveProgress* Progress() { return progress_ ? &*progress_ : nullptr; }

 private:
  TConsole& console_;
  std::optional<TLiveProgress> progress_;
};

// Runs the project of the command line; false when it failed. `report`,
// when given, observes the run and sees every line it reports; so does the
// live line on a terminal.
bool RunCommandLineProject(RunOptions& options, TConsoleLogHelper& helper, TConsole& console,
                           TRunReport* report) {
  TLiveLine live(options, console);
  TLiveProgress* const progress = live.Progress();
  TObservers observers;
  observers.Add(report);
  observers.Add(progress);
  return RunProject(
      options.ProjectArgument, options.Parameters, options.PromptForParameters,
      options.BaseDirectory,
      [&helper](const std::string& name, const std::string& defaultValue) {
        return helper.PromptParameter(name, defaultValue);
      },
      [&helper, report, progress](const std::string& text, int64_t level) {
        helper.OutputMessage(text, level);
        if (report) report->Output(text, level);
        if (progress) progress->Output(text, level);
      },
      observers.OrNull());
}

// Writes the run report where --report asked: standard error for "-",
// otherwise the file, replaced as a whole. A report that cannot be written
// is said on the console; the run's exit code stays.
void WriteRunReport(const RunOptions& options, const TRunReport& report, TConsole& console,
                    TConsoleLogHelper& helper) {
  const std::string document = report.Json();
  if (options.ReportPath == kStandardStreamName) {
    console.WriteError(document);
    return;
  }
  try {
    WriteReportFile(options.ReportPath, document);
  } catch (const std::exception& error) {
    helper.WriteMessage("Warning: no run report is written: " + std::string(error.what()), true);
  }
}

// One line per problem, then a summary (a quiet run that finds nothing prints
// nothing); false when there were problems.
bool ReportProblems(const RunOptions& options, TConsoleLogHelper& helper,
                    const std::vector<TProjectProblem>& problems) {
  const std::string label = ProjectLabel(options.ProjectArgument);
  for (const TProjectProblem& problem : problems) {
    helper.WriteMessage(ProblemLine(label, problem), true);
  }
  if (problems.empty()) {
    helper.WriteMessage(label + ": no problems found.", !options.Quiet);
  } else {
    helper.WriteMessage(label + ": " + std::to_string(problems.size()) + " problem(s) found.",
                        true);
  }
  return problems.empty();
}

// Checks the project of the command line without running it; false when
// there were problems.
bool CheckCommandLineProject(RunOptions& options, TConsoleLogHelper& helper) {
  return ReportProblems(
      options, helper,
      CheckProject(options.ProjectArgument, options.Parameters, options.BaseDirectory));
}

// Writes the picture of the project of the command line to the console's
// output stream; a project that is missing or does not parse is reported as
// --check reports it, and gives false.
bool DrawCommandLineProject(RunOptions& options, TConsoleLogHelper& helper, TConsole& console) {
  TProjectProblem problem;
  const std::optional<std::string> picture =
      DrawProject(options.ProjectArgument, options.BaseDirectory,
                  GraphFormatOf(options.GraphFormat).value_or(TGraphFormat::Dot), problem);
  if (!picture) return ReportProblems(options, helper, {problem});
  console.WriteData(*picture);
  return true;
}

// Checks, draws or runs the project of the command line, after the log's
// and the report's warnings on the console and the banner and the command
// line's warnings in the log; false when that fails. `report` is made for a
// run that asks for one.
bool RunRequested(RunOptions& options, TConsoleLogHelper& helper, TConsole& console,
                  const std::vector<std::string>& banner, std::optional<TRunReport>& report) {
  if (!options.LogWarning.empty()) console.Write(options.LogWarning + "\n");
  if (!options.ReportWarning.empty()) console.Write(options.ReportWarning + "\n");
  const bool reports =
      !options.CheckOnly && options.GraphFormat.empty() && !options.ReportPath.empty();
  if (reports) report.emplace(options.ProjectArgument);
  for (const std::string& line : banner) helper.WriteMessage(line, false);
  helper.WriteMessage("", false);
  for (const std::string& line : options.Warnings) helper.WriteMessage(line, true);
  if (options.CheckOnly) return CheckCommandLineProject(options, helper);
  if (!options.GraphFormat.empty()) return DrawCommandLineProject(options, helper, console);
  return RunCommandLineProject(options, helper, console, report ? &*report : nullptr);
}

// The type name and message of the exception being handled; call only
// inside a catch block.
std::pair<std::string, std::string> HandledErrorDescription() {
  try {
    throw;
  } catch (const EMorvexError& error) {
    return {error.TypeName(), error.what()};
  } catch (const std::exception& error) {
    return {CurrentExceptionTypeName(), error.what()};
  } catch (...) {
    return {CurrentExceptionTypeName(), "unknown error"};
  }
}

}  // namespace

int RunMorvex(int argc, const char* const* argv, TConsole& console,
              std::string_view currentDirectory) {
  const std::vector<std::string> banner = BannerLines(ProgramVersionInfo());
  // The banner comes first on the console, also before an error of the
  // command line itself; "--version" shows its first line alone.
  bool bannerShown = false;
  const auto showBanner = [&] {
    if (bannerShown) return;
    bannerShown = true;
    for (const std::string& line : banner) console.Write(line + "\n");
    console.Write("\n");
  };

  int exitCode = kExitSuccess;
  RunOptions options;
  TConsoleLogHelper helper(options, console);
  const TLogFileCloser closeLog(options);
  // The report of a project run (never of a check, a picture or the usage).
  std::optional<TRunReport> report;
  std::string fatalError;
  SetInterruptConsole(STDOUT_FILENO);
  try {
    options = ParseCommandLine(argc, argv, currentDirectory);
    SetInterruptLog(options.LogStream ? options.LogDescriptor : -1);
    const bool runs = !options.ShowVersion && !options.ShowUsage;
    // Two or more positional arguments describe one script, built into
    // project source here.
    if (runs && options.Positionals.size() >= 2) {
      options.ProjectArgument = BuildInlineProject(options.Positionals);
      if (std::string warning = InlineKeywordWarning(options.Positionals); !warning.empty()) {
        options.Warnings.push_back(std::move(warning));
      }
    }
    // Standard output is left to the data: no line of the console may end up
    // among them.
    if (runs && (options.Quiet || !options.GraphFormat.empty() ||
                 (!options.CheckOnly && options.Refusal.empty() &&
                  ProjectWritesStandardOutput(options.ProjectArgument, options.BaseDirectory)))) {
      console.UseErrorStream();
      SetInterruptConsole(STDERR_FILENO);
    }
    if (runs && options.Quiet) bannerShown = true;
    if (options.ShowVersion) {
      console.Write(banner.front() + "\n");
    } else if (options.ShowUsage) {
      showBanner();
      if (!options.HelpRequested) exitCode = kExitFailure;
      for (const std::string& line : UsageLines()) console.Write(line + "\n");
    } else if (!options.Refusal.empty()) {
      showBanner();
      for (const std::string& line : options.Warnings) console.Write(line + "\n");
      console.Write(options.Refusal + "\n");
      exitCode = kExitFailure;
    } else {
      showBanner();
      if (!RunRequested(options, helper, console, banner, report)) exitCode = kExitFailure;
    }
  } catch (...) {
    showBanner();
    const auto [typeName, message] = HandledErrorDescription();
    if (exitCode != kExitSuccess) {
      helper.WriteMessage(message, true);
    } else {
      exitCode = kExitFatalError;
      fatalError = "Fatal error: " + typeName + ": " + message;
      helper.WriteMessage(fatalError, true);
    }
  }

  if (report) {
    report->Finish(exitCode, fatalError);
    WriteRunReport(options, *report, console, helper);
  }

  if (options.WaitForKey) {
    console.Write("\n");
    console.Write("Press ENTER to continue.\n");
    std::string ignored;
    console.ReadLine(ignored);
  }
  return exitCode;
}

}  // namespace morvex
