// Running one project from start to end.
#pragma once

#include <string>
#include <vector>

#include "engine/run_callbacks.h"
#include "engine/run_observer.h"

namespace morvex {

// Runs `project` (a project file path, or project source text starting with
// "<?xml") script by script. `parameterTexts` are the command line's
// name=value texts; `baseDirectory` is the current directory with a trailing
// "/" (the process's current directory when empty); every line goes to
// `onOutput` with its level (an empty callback drops them) and parameter
// values are asked through `onPrompt` when `promptForParameters` is set (an
// empty callback disables prompting).
//
// A script whose `test` is false is skipped; when the test is false only
// because it exceeds a limit of the expression evaluator, a warning line
// naming the limit is reported at LevelHeadline (shown without -v too).
//
// Returns true when every script ran or was skipped. The first error ends the
// project: its message is reported once at LevelError (after the line
// "Script:         <name> (#<n>)" at LevelErrorContext when the error arose
// inside a script) and false is returned;
// scripts after it do not run and what earlier scripts wrote stays. Every
// std::exception raised inside the run (EMorvexError and any other, out of
// memory included) is turned into that report; only exceptions of other types
// propagate to the caller. Every document and stream of the run is released
// on return, whatever the outcome.
//
// `observer`, when given, is told of the loaded project, the settled
// parameters and each script's start and end (run_observer.h); a project
// file that does not exist ends the run before the observer hears anything.
bool RunProject(const std::string& project, const std::vector<std::string>& parameterTexts,
                bool promptForParameters, const std::string& baseDirectory,
                const TPromptCallback& onPrompt, const TOutputCallback& onOutput,
                TRunObserver* observer = nullptr);

}  // namespace morvex
