#include "engine/project_inputs.h"

#include <functional>
#include <memory>

#include "db/connection_string.h"
#include "engine/destination_file.h"
#include "engine/paths.h"
#include "engine/project_loader.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/text_edit.h"
#include "text/utf.h"
#include "xml/dom.h"
#include "xml/xml_nodes.h"

namespace morvex {

namespace {

// Runs one of the runner's step resolvers; false when it raised.
bool Resolves(void (*resolve)(_xmlNode*, TScriptSteps&, const TStepContext&), _xmlNode* script,
              TScriptSteps& steps, const TStepContext& context) {
  try {
    resolve(script, steps, context);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

class TInputList {
 public:
  explicit TInputList(const std::string& baseDirectory) : baseDirectory_(baseDirectory) {}

  void Add(const std::string& path, const char* role) {
    if (!path.empty()) inputs_.push_back({path, role});
  }

  void AddDatabase(const TXSourceInfo& endpoint) {
    if (endpoint.Kind != skOledb) return;
    const std::string file = SqliteDatabaseFile(endpoint.Location);
    if (!file.empty()) Add(ResolvePath(baseDirectory_, file), "a database file");
  }

  std::vector<TProjectInput> Take() { return std::move(inputs_); }

 private:
  const std::string& baseDirectory_;
  std::vector<TProjectInput> inputs_;
};

void AddScriptInputs(_xmlNode* script, const TStepContext& context, TInputList& inputs) {
  TScriptSteps steps;
  if (Resolves(ResolveSource, script, steps, context)) {
    if (steps.Source.Kind == skFile) inputs.Add(steps.Source.Location, "a source file");
    inputs.AddDatabase(steps.Source);
  }
  if (Resolves(ResolveQuery, script, steps, context) && steps.Query.Kind == qkFile) {
    inputs.Add(steps.QueryLabel, "a query file");
  }
  if (Resolves(ResolveTransform, script, steps, context)) {
    const TXTransformInfo& transform = steps.Transform;
    if (transform.Kind == tkXslt) {
      inputs.Add(transform.Content, "a stylesheet");
    } else if (transform.Kind == tkScript || transform.Kind == tkZqScript) {
      inputs.Add(transform.Content, "a script file");
    } else if (transform.Kind == tkXPath || transform.Kind == tkJPath) {
      // The resolver keeps the expressions, not the file they came from.
      _xmlNode* element = FirstChildElement(script, "transform");
      const std::string path = ResolveProjectFile(TrimText(ElementText(element)), context);
      if (CDataSections(element).empty() && FileExists(path)) {
        inputs.Add(path, "an expression file");
      }
    }
  }
  ResolveDestination(script, steps, context);
  inputs.AddDatabase(steps.Destination);
}

// Calls `visit` for each root `script` of the project with the context the
// runner's resolvers need, on streams that stay empty (standard input is never
// read). Nothing is visited for a project that does not load.
void ForEachScript(const std::string& project, const std::string& baseDirectory,
                   const std::function<void(_xmlNode*, const TStepContext&)>& visit) {
  TProjectDocument document;
  try {
    document = LoadProject(project, baseDirectory);
  } catch (const std::exception&) {
    return;
  }
  TStreamRegistry streams([] { return std::make_unique<TMemoryStream>(); });
  const TOutputCallback silent = [](const std::string&, int64_t) {};
  const TStepContext context{baseDirectory, document.ProjectPath, streams, silent};
  _xmlNode* root = DocumentElement(document.Document.get());
  for (_xmlNode* script : ChildElements(root, "script")) visit(script, context);
}

bool ProjectFileMissing(const std::string& project, const std::string& baseDirectory) {
  return !IsProjectSource(project) && !FileExists(ProjectFilePath(project, baseDirectory));
}

}  // namespace

std::vector<TProjectInput> ProjectInputFiles(const std::string& project,
                                             const std::string& baseDirectory) {
  TInputList inputs(baseDirectory);
  if (ProjectFileMissing(project, baseDirectory)) return inputs.Take();
  if (!IsProjectSource(project)) {
    inputs.Add(ProjectFilePath(project, baseDirectory), "the project file");
  }
  ForEachScript(project, baseDirectory, [&inputs](_xmlNode* script, const TStepContext& context) {
    AddScriptInputs(script, context, inputs);
  });
  return inputs.Take();
}

bool ProjectWritesStandardOutput(const std::string& project, const std::string& baseDirectory) {
  if (ProjectFileMissing(project, baseDirectory)) return false;
  bool writes = false;
  ForEachScript(project, baseDirectory, [&writes](_xmlNode* script, const TStepContext& context) {
    TScriptSteps steps;
    ResolveDestination(script, steps, context);
    if (steps.Destination.Kind == skFile && IsStandardOutput(steps.Destination.Location)) {
      writes = true;
    }
  });
  return writes;
}

}  // namespace morvex
