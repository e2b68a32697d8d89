#include "scripting/script_host.h"

#include <memory>

#include "text/error.h"
#include "text/utf.h"

namespace morvex {

std::string SourceLine(std::string_view text, int line) {
  if (line < 1) return {};
  size_t start = 0;
  for (int i = 1; i < line; ++i) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
  std::string_view rest = text.substr(start);
  rest = rest.substr(0, rest.find('\n'));
  if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
  return std::string(rest);
}

void TWSHHelper::OnError(const TScriptError& error) {
  if (!errorText_.empty()) errorText_ += "\r\n";
  errorText_ += "[line: " + std::to_string(error.Line) + ", col: " + std::to_string(error.Column) +
                "] " + error.Description + " " + SourceLine(scriptText_, error.Line);
}

std::string ScriptLanguageOf(std::string_view kind) {
  if (kind.empty()) return "VBScript";
  if (kind.size() >= 3 && EqualsIgnoringAsciiCase(kind.substr(kind.size() - 3), "gui")) {
    kind.remove_suffix(3);
  }
  return std::string(kind);
}

void RunActiveScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                     const TXTransformInfo& transform, const std::vector<std::string>* parameters,
                     size_t memoryLimit) {
  TWSHHelper helper(transform.Content);
  TMorvexWSHIntf root(source, parameters, transform, destination);
  {
    std::unique_ptr<TScriptEngine> engine =
        CreateScriptEngine(ScriptLanguageOf(transform.Language), memoryLimit);
    engine->SetErrorHandler([&helper](const TScriptError& error) { helper.OnError(error); });
    engine->AddNamedObject("MORVEX", root);
    engine->Execute(transform.Content);
  }
  // A destination file the script wrote through GetStream is complete only
  // when its last bytes reach the disk.
  root.Close();
  if (!helper.ErrorText().empty()) {
    throw EMorvexError(helper.ErrorText());
  }
  // A read or write error the script caught still fails the step.
  if (!root.ContentError().empty()) {
    throw EMorvexError(root.ContentError());
  }
}

}  // namespace morvex
