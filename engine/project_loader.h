// Obtaining the project document: from a project file, or from project source
// text given in place of a path.
#pragma once

#include <string>
#include <string_view>

#include "xml/xml_document.h"

namespace morvex {

// True when `project` is project source text: its first five characters are
// exactly "<?xml" (an "<?XML" start is a path).
bool IsProjectSource(std::string_view project);

// The path a project argument names: ResolvePath(baseDirectory, project).
std::string ProjectFilePath(std::string_view project, std::string_view baseDirectory);

struct TProjectDocument {
  TXmlDocument Document;    // always has a document element
  std::string ProjectPath;  // base for the project's relative paths
};

// Parses project source text or the project file `project` names. The
// project path is the resolved file path, or baseDirectory + "inline.morvex"
// for project source. Raises EMorvexError("Unsupported project file format!
// [line: L, col: C] reason") when the document has no document element; the
// caller has made sure that a project file exists.
TProjectDocument LoadProject(const std::string& project, const std::string& baseDirectory);

}  // namespace morvex
