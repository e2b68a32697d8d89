// Checking a project without running it: the project is loaded, every script's
// steps are resolved as a run would resolve them, and every problem is
// collected instead of ending at the first. Nothing is connected to, run,
// written or deleted, and standard input is never read.
//
// A normal run stays lenient (unknown elements and attributes are ignored);
// the check names them, so that a misspelt element that a run would silently
// skip is found before the nightly run.
#pragma once

#include <string>
#include <vector>

namespace morvex {

// One problem: the line of the project it concerns (0 when it has none, such
// as a missing project file) and a message that names the script ("script 2:
// unknown element <destinaton>, did you mean <destination>?").
struct TProjectProblem {
  long Line = 0;
  std::string Message;
};

// Checks `project` (a project file path or project source text starting with
// "<?xml") with the command line's name=value `parameterTexts`; relative
// paths are taken against `baseDirectory` (the current directory with a
// trailing "/"; the process's current directory when empty) and then the
// project file's directory, as in a run. Returns the problems in document
// order; an empty list means the project is clean.
//
// Checked:
// - the project file exists and parses;
// - elements and attributes are ones the project document knows (the nearest
//   known name is suggested), kind keywords, booleans and parameter kinds are
//   valid, typed parameter values read as their kind, and a second step
//   element of one name (which a run ignores) is named;
// - every script has a source; files named by sources, query steps,
//   stylesheets and scripts exist; streams are filled by an earlier script
//   (or are "xStream" or "StdIn"); a destination file's directory exists;
// - query templates and stylesheets parse (stylesheets also compile), XPath
//   expressions compile, connection strings parse and name a known driver
//   (and an existing SQLite file), `test` conditions can be evaluated with the
//   settled parameters;
// - for a script without other problems, that its combination of steps can run.
std::vector<TProjectProblem> CheckProject(const std::string& project,
                                          const std::vector<std::string>& parameterTexts,
                                          const std::string& baseDirectory);

// The problem as one line for the console: "<label>:<line>: <message>", or
// "<label>: <message>" without a line, the form compilers use so that
// editors can jump to the line.
std::string ProblemLine(const std::string& projectLabel, const TProjectProblem& problem);

// The label a project argument is shown with in problem lines: the path as
// given, or "inline" for project source text.
std::string ProjectLabel(const std::string& project);

}  // namespace morvex
