// Which parameter names a project uses, so that a command-line parameter
// nothing uses (a misspelt "date=" for "day=") is reported instead of
// silently binding nothing.
//
// A name is used when the project declares it, or when a root script refers
// to it: a `test` condition, a statement or `test` of its query template
// (inline or from a file), or a top-level xsl:param of its stylesheet (inline
// or from a file). A query step that writes dataset XML with include-params
// on lists every parameter in morvex_params, so it uses every name.
// Scripts read parameters by any name at run time, and the
// text of a template or stylesheet read from a stream is known only then: a
// project with a script step, or whose template or stylesheet cannot be
// read now, uses every name. Nothing is run, connected to or written, and
// streams (standard input among them) are never read.
#pragma once

#include <string>
#include <vector>

#include "engine/project_loader.h"

namespace morvex {

// One line per name of `parameterTexts` (name=value texts of the command
// line, in their order; each name once) that `project` does not use:
// "Warning: parameter date is not used by the project", followed by " (did
// you mean day?)" when a used name is near. Relative files are looked up
// against `baseDirectory`, then against the project's path, as in a run.
std::vector<std::string> UnusedParameterWarnings(const std::vector<std::string>& parameterTexts,
                                                 const TProject& project,
                                                 const std::string& baseDirectory);

}  // namespace morvex
