// The files a run of a project reads or changes in place, found without
// running it: so that a file the run also writes (the log) never replaces
// one of them.
#pragma once

#include <string>
#include <vector>

namespace morvex {

struct TProjectInput {
  std::string Path;  // resolved as the run resolves it
  std::string Role;  // "the project file", "a source file", "a query file", ...
};

// The project file (unless `project` is project source text), then per
// script, in document order: a file source, the SQLite database file of a
// database source or destination, a query file, a stylesheet, a script file
// and an XPath or JSON path expression file. Steps are resolved with the
// runner's own resolvers on streams that stay empty (standard input is never
// read); a step that does not resolve, or a project that does not parse,
// names nothing more. Never throws for a project that cannot be run.
std::vector<TProjectInput> ProjectInputFiles(const std::string& project,
                                             const std::string& baseDirectory);

// True when a script of the project writes a file destination that is the
// process's standard output (IsStandardOutput), whether or not its `test`
// condition will hold. False for a project that does not load.
bool ProjectWritesStandardOutput(const std::string& project, const std::string& baseDirectory);

}  // namespace morvex
