// The project runner.
//
// Order of one run: the project argument is checked (a missing project file
// is reported before anything else), then under one error trap: "Project: "
// line, stream registry ("xStream"), the project document, the root's name,
// parameter settlement, an empty headline, and each root `script` child in
// document order (a command-line parameter the project does not use is
// warned about before the empty headline). Per script: header line, `test` condition (a false one
// skips the script but still counts its number), then the steps in the
// order source, query step, transformation, destination (each resolved and
// reported), then the checks that precede execution (stylesheet or script
// file present, the destination line, no input of the run named as the
// destination, the old destination file deleted, its mode and owner kept for
// the new one), typed stylesheet parameters on first need, DispatchScript (a
// file destination written through a temporary file that replaces it only
// when the step succeeds),
// "o.k.". The first error anywhere ends the project with its message at the
// error level; an error inside a script is preceded by the script's header
// line as a headline, so that the console and the log of a run without -v
// say which script failed.
//
// Ownership: the run owns the project records, the parameter list, the
// typed transform parameters and the stream registry; they live until
// RunProject returns. Each script owns its steps record and its query
// document for that script only; streams are the only data that pass from
// one script to the next, and they always stay owned by the registry
// (DispatchScript may hand the registry a query's output stream).
#include "engine/runner.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "db/connection_string.h"
#include "engine/destination_file.h"
#include "engine/dispatch.h"
#include "engine/parameter_use.h"
#include "engine/parameters.h"
#include "engine/paths.h"
#include "engine/project_inputs.h"
#include "engine/project_loader.h"
#include "engine/run_report.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "engine/transform_kinds.h"
#include "templates/condition.h"
#include "text/case_fold.h"
#include "text/error.h"
#include "text/text_edit.h"
#include "text/utf.h"

namespace morvex {

namespace {

// The file name of `path` without its extension.
std::string FileStem(std::string_view path) {
  const std::string name = LastPathComponent(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

class TProjectRun {
 public:
  TProjectRun(const std::string& project, const std::vector<std::string>& parameterTexts,
              bool promptForParameters, const std::string& baseDirectory,
              const TPromptCallback& onPrompt, const TOutputCallback& onOutput,
              TRunObserver* observer)
      : project_(project),
        parameterTexts_(parameterTexts),
        promptForParameters_(promptForParameters),
        baseDirectory_(baseDirectory),
        onPrompt_(onPrompt),
        output_(onOutput),
        observer_(observer) {}

  void Run();

 private:
  // RunScript with the observer told of its start and end.
  void RunObservedScript(const TScript& script);
  // False when the script's test skipped it; fills the report's source,
  // destination and bytes written as they become known.
  bool RunScript(const TScript& script, TScriptReport& report);
  // Returns the attributes of the old destination file it deleted, which
  // its replacement keeps.
  std::optional<TFileAttributes> ReportAndCheck(TScriptSteps& steps);
  void CheckDestinationIsNoInput(const TScriptSteps& steps, const std::string& scriptFile) const;

  const std::string& project_;
  const std::vector<std::string>& parameterTexts_;
  const bool promptForParameters_;
  const std::string& baseDirectory_;
  const TPromptCallback& onPrompt_;
  const TOutputCallback& output_;
  TRunObserver* const observer_;

  TStreamRegistry streams_;
  TProject loaded_;
  TParameterList parameters_;
  TTransformParameters transformParameters_;
  bool transformParametersBuilt_ = false;
  int scriptNumber_ = 0;
};

void TProjectRun::Run() {
  output_("Project: " + (IsProjectSource(project_) ? std::string("inline") : project_),
          LevelHeadline);
  loaded_ = LoadProject(project_, baseDirectory_);
  if (observer_) observer_->ProjectLoaded(loaded_);

  const std::string& name = loaded_.Name;
  if (!name.empty() && !SameTextIgnoringCase(name, FileStem(loaded_.Path))) {
    output_("         " + name, LevelDetail);
  }
  SettleParameters(parameters_, loaded_.Parameters, parameterTexts_, promptForParameters_,
                   onPrompt_, output_);
  if (observer_) observer_->ParametersSettled(parameters_);
  for (const std::string& warning :
       UnusedParameterWarnings(parameterTexts_, loaded_, baseDirectory_)) {
    output_(warning, LevelHeadline);
  }
  output_("", LevelHeadline);

  for (const TScript& script : loaded_.Scripts) {
    ++scriptNumber_;
    RunObservedScript(script);
  }
  output_("The project was completed successfully.", LevelHeadline);
}

void TProjectRun::RunObservedScript(const TScript& script) {
  TScriptReport report;
  report.Number = scriptNumber_;
  report.Name = script.Name;
  if (!observer_) {
    RunScript(script, report);
    return;
  }
  observer_->ScriptStarted(scriptNumber_);
  const auto start = std::chrono::steady_clock::now();
  const auto finish = [&](TScriptOutcome outcome) {
    report.Outcome = outcome;
    report.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    observer_->ScriptEnded(report);
  };
  try {
    const bool ran = RunScript(script, report);
    finish(ran ? TScriptOutcome::Ok : TScriptOutcome::Skipped);
  } catch (const std::exception& error) {
    report.Error = error.what();
    finish(TScriptOutcome::Failed);
    throw;
  } catch (...) {
    finish(TScriptOutcome::Failed);
    throw;
  }
}

bool TProjectRun::RunScript(const TScript& script, TScriptReport& report) {
  const std::string number = std::to_string(scriptNumber_);
  const std::string& name = script.Name;
  const std::string label = name.empty() ? "#" + number : name + " (#" + number + ")";
  output_("Script:         " + label, LevelDetail);

  const std::string& test = script.Test;
  std::string exceededLimit;
  if (!test.empty() &&
      !EvaluateCondition(SubstituteTest(test, parameters_, streams_), exceededLimit)) {
    // A condition refused by a bound of the evaluator may well be meant to
    // hold; skipping its script without a word would hide that.
    if (!exceededLimit.empty()) {
      output_(LimitWarning("script " + label, exceededLimit), LevelHeadline);
    }
    output_("Skipped", LevelDetail);
    output_("", LevelDetail);
    return false;
  }

  try {
    TScriptSteps steps;
    const TStepContext context{baseDirectory_, loaded_.Path, streams_, output_};
    ResolveSource(script, steps, context);
    if (observer_) observer_->SourceResolved(steps.Source);
    report.Source = DisplayedLocation(steps.Source);
    ResolveQuery(script, steps, context);
    ResolveTransform(script, steps, context);
    ResolveDestination(script, steps, context);
    if (steps.Destination.Kind != skNone) report.Destination = DisplayedLocation(steps.Destination);
    const std::optional<TFileAttributes> replaced = ReportAndCheck(steps);

    const TDispatchContext dispatch{loaded_,         parameters_, transformParameters_,
                                    parameterTexts_, streams_,    output_};
    WriteDestination(
        steps.Destination, [&] { DispatchScript(steps, dispatch); }, replaced);
    if (observer_) report.BytesWritten = DestinationBytes(steps.Destination, streams_);
  } catch (...) {
    // The error line that follows names no script; a run without -v (and
    // its log) has not shown the script's header.
    output_("Script:         " + label, LevelErrorContext);
    throw;
  }
  output_("o.k.", LevelDetail);
  output_("", LevelDetail);
  return true;
}

std::optional<TFileAttributes> TProjectRun::ReportAndCheck(TScriptSteps& steps) {
  TXTransformInfo& transform = steps.Transform;
  if (!steps.TransformLabel.empty()) {
    const bool import = steps.Source.Kind != skOledb && steps.Destination.Kind == skOledb;
    output_((import ? "Data import from: " : "Transformation: ") + steps.TransformLabel,
            LevelDetail);
  }
  std::string scriptFile;
  if (NamesContentFile(transform.Kind)) {
    if (!FileExists(transform.Content)) {
      throw EMorvexError(FileDoesNotExistMessage(transform.Content));
    }
    // A script's text is loaded here; a stylesheet is read by its operation.
    if (IsScriptKind(transform.Kind)) {
      std::string script;
      if (!LoadTextFile(script, transform.Content)) throw EMorvexError("Cannot load file!");
      scriptFile = std::move(transform.Content);
      transform.Content = std::move(script);
    }
  }

  std::optional<TFileAttributes> replaced;
  const TXSourceInfo& destination = steps.Destination;
  if (destination.Kind != skNone) {
    output_("Destination:    " + DisplayedLocation(destination), LevelDetail);
    if (destination.Kind == skFile) {
      CheckDestinationIsNoInput(steps, scriptFile);
      replaced = DeleteOldDestinationFile(destination.Location);
    } else if (destination.Kind == skStream) {
      CheckStreamsDiffer(steps.Source, destination);
    }
  }

  if (TransformKindRow(transform.Kind).UsesParameters && !transformParametersBuilt_ &&
      !parameters_.Empty()) {
    transformParameters_ = BuildTransformParameters(parameters_, loaded_.Parameters);
    transformParametersBuilt_ = true;
  }
  return replaced;
}

// The old destination file is deleted before the step runs and the new one
// replaces it: when it is a file the run reads (compared by device and inode,
// so links and ".." paths are caught), that would destroy the input.
void TProjectRun::CheckDestinationIsNoInput(const TScriptSteps& steps,
                                            const std::string& scriptFile) const {
  const std::string& target = steps.Destination.Location;
  const auto refuse = [&target](const std::string& input, const char* message) {
    if (SameFile(input, target)) throw EMorvexError(message);
  };
  if (steps.Source.Kind == skFile) {
    refuse(steps.Source.Location, "Source and destination files must be different!");
  } else if (steps.Source.Kind == skOledb) {
    refuse(SqliteDatabaseFile(steps.Source.Location),
           "Source and destination files must be different!");
  }
  if (!IsProjectSource(project_)) {
    refuse(loaded_.Path, "Project and destination files must be different!");
  }
  if (steps.Query.Kind == qkFile) {
    refuse(steps.QueryLabel, "Query and destination files must be different!");
  }
  if (steps.Transform.Kind == tkXslt) {
    refuse(steps.Transform.Content, "Stylesheet and destination files must be different!");
  }
  refuse(scriptFile, "Script and destination files must be different!");
}

}  // namespace

bool RunProject(const std::string& project, const std::vector<std::string>& parameterTexts,
                bool promptForParameters, const std::string& baseDirectory,
                const TPromptCallback& onPrompt, const TOutputCallback& onOutput,
                TRunObserver* observer) {
  const TOutputCallback output =
      onOutput ? onOutput : TOutputCallback([](const std::string&, int64_t) {});
  const std::string base = baseDirectory.empty() ? CurrentDirectory() : baseDirectory;
  if (!IsProjectSource(project)) {
    const std::string path = ProjectFilePath(project, base);
    if (!FileExists(path)) {
      output("Project: " + project, LevelError);
      output(FileDoesNotExistMessage(path), LevelError);
      return false;
    }
  }
  try {
    TProjectRun run(project, parameterTexts, promptForParameters, base, onPrompt, output, observer);
    run.Run();
    return true;
  } catch (const std::exception& error) {
    // Not only EMorvexError: a failure of any kind inside a step (a library
    // error, memory exhausted) ends the project like a step error does. A
    // message of several lines (a server's detail, the note of a rolled-back
    // transaction) is shown line by line, so that the log keeps CR LF ends.
    std::string_view message = error.what();
    while (true) {
      const size_t end = message.find('\n');
      std::string_view line = message.substr(0, end);
      if (line.ends_with('\r')) line.remove_suffix(1);
      output(std::string(line), LevelError);
      if (end == std::string_view::npos) break;
      message.remove_prefix(end + 1);
    }
    return false;
  }
}

}  // namespace morvex
