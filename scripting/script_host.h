// Running a script transformation: the script text of the transform runs in
// the engine its language names, with the root object visible as "MORVEX";
// the script itself reads the source and writes the destination.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scripting/morvex_objects.h"
#include "scripting/script_engine.h"

namespace morvex {

// Collects the errors of one run as the error text shows them: each error
// "[line: L, col: C] description" + " " + the offending source line, several
// errors joined by CR LF.
class TWSHHelper {
 public:
  explicit TWSHHelper(std::string_view scriptText) : scriptText_(scriptText) {}

  void OnError(const TScriptError& error);
  const std::string& ErrorText() const { return errorText_; }

 private:
  std::string_view scriptText_;
  std::string errorText_;
};

// The text of line `line` (counted from 1) of `text`, without its line end;
// empty when there is no such line.
std::string SourceLine(std::string_view text, int line);

// The language that runs a transform kind: a "gui" ending (any case) is
// dropped, since there is no window here; an empty kind means "VBScript".
std::string ScriptLanguageOf(std::string_view kind);

// Runs `transform.Content` in the engine of `transform.Language`. Raises
// EMorvexError with the collected errors, the reason the language cannot run,
// or a failure to read the source or write the destination.
void RunActiveScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                     const TXTransformInfo& transform, const std::vector<std::string>* parameters,
                     size_t memoryLimit = kDefaultScriptMemoryLimit);

}  // namespace morvex
