#include "engine/project_loader.h"

#include "engine/paths.h"
#include "text/error.h"

namespace morvex {

namespace {

constexpr std::string_view kSourcePrefix = "<?xml";
constexpr std::string_view kInlineProjectName = "inline.morvex";

}  // namespace

bool IsProjectSource(std::string_view project) {
  return project.substr(0, kSourcePrefix.size()) == kSourcePrefix;
}

std::string ProjectFilePath(std::string_view project, std::string_view baseDirectory) {
  return ResolvePath(baseDirectory, project);
}

TProjectDocument LoadProject(const std::string& project, const std::string& baseDirectory) {
  TProjectDocument result;
  if (IsProjectSource(project)) {
    result.Document = LoadXmlText(project, TCDataSections::Separate);
    result.ProjectPath = baseDirectory + std::string(kInlineProjectName);
  } else {
    result.ProjectPath = ProjectFilePath(project, baseDirectory);
    result.Document = LoadXmlFile(result.ProjectPath, TCDataSections::Separate);
  }
  if (!HasDocumentElement(result.Document.get())) {
    const TXMLDOMParseError error = GetParseError(result.Document.get());
    throw EMorvexError("Unsupported project file format! [line: " + std::to_string(error.Line) +
                       ", col: " + std::to_string(error.LinePos) + "] " + error.Reason);
  }
  return result;
}

}  // namespace morvex
