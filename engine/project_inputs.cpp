#include "engine/project_inputs.h"

#include <functional>
#include <memory>

#include "db/connection_string.h"
#include "engine/destination_file.h"
#include "engine/paths.h"
#include "engine/project_loader.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "engine/transform_kinds.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/text_edit.h"
#include "text/utf.h"

namespace morvex {

namespace {

// Runs one of the runner's step resolvers; false when it raised.
bool Resolves(void (*resolve)(const TScript&, TScriptSteps&, const TStepContext&),
              const TScript& script, TScriptSteps& steps, const TStepContext& context) {
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

  void Add(const std::string& path, std::string_view role) {
    if (!path.empty()) inputs_.push_back({path, std::string(role)});
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

void AddScriptInputs(const TScript& script, const TStepContext& context, TInputList& inputs) {
  TScriptSteps steps;
  if (Resolves(ResolveSource, script, steps, context)) {
    if (steps.Source.Kind == skFile) inputs.Add(steps.Source.Location, "a source file");
    inputs.AddDatabase(steps.Source);
  }
  if (Resolves(ResolveQuery, script, steps, context) && steps.Query.Kind == qkFile) {
    inputs.Add(steps.QueryLabel, "a query file");
  }
  if (Resolves(ResolveTransform, script, steps, context)) {
    const TTransformKindRow& row = TransformKindRow(steps.Transform.Kind);
    if (NamesContentFile(row.Kind)) {
      inputs.Add(steps.Transform.Content, row.ContentFile);
    } else if (row.Content == TContentRule::Expressions) {
      // The resolver keeps the expressions, not the file they came from.
      const TTransformElement& element = *script.Transform;
      const std::string path = ResolveProjectFile(TrimText(element.Text), context);
      if (element.Sections.empty() && FileExists(path)) {
        inputs.Add(path, row.ContentFile);
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
                   const std::function<void(const TScript&, const TStepContext&)>& visit) {
  TProject document;
  try {
    document = LoadProject(project, baseDirectory);
  } catch (const std::exception&) {
    return;
  }
  TStreamRegistry streams([] { return std::make_unique<TMemoryStream>(); });
  const TOutputCallback silent = [](const std::string&, int64_t) {};
  const TStepContext context{baseDirectory, document.Path, streams, silent};
  for (const TScript& script : document.Scripts) visit(script, context);
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
  ForEachScript(project, baseDirectory,
                [&inputs](const TScript& script, const TStepContext& context) {
                  AddScriptInputs(script, context, inputs);
                });
  return inputs.Take();
}

bool ProjectWritesStandardOutput(const std::string& project, const std::string& baseDirectory) {
  if (ProjectFileMissing(project, baseDirectory)) return false;
  bool writes = false;
  ForEachScript(
      project, baseDirectory, [&writes](const TScript& script, const TStepContext& context) {
        TScriptSteps steps;
        ResolveDestination(script, steps, context);
        if (steps.Destination.Kind == skFile && IsStandardOutput(steps.Destination.Location)) {
          writes = true;
        }
      });
  return writes;
}

}  // namespace morvex
