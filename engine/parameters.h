// Project parameters: settled once per project from the declarations, the
// command line and the prompt, then handed to the steps as name=value texts
// (query templates), as text substituted into `test` conditions, and as typed
// values for stylesheets and scripts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/project_loader.h"
#include "engine/run_callbacks.h"
#include "xml/xslt.h"

namespace morvex {

class TStreamRegistry;

// Ordered "name=value" entries; the name is everything before the first "=".
// Lookups ignore letter case and the first entry of a name wins. Aliases run
// parallel to the entries (empty for parameters known only from the command line).
class TParameterList {
 public:
  bool Empty() const { return entries_.empty(); }
  int Count() const { return static_cast<int>(entries_.size()); }
  const std::vector<std::string>& Entries() const { return entries_; }

  // Index of the first entry named `name` (ignoring case); -1 when none.
  int IndexOf(std::string_view name) const;
  std::string Name(int index) const;
  std::string Value(int index) const;
  const std::string& Alias(int index) const { return aliases_.at(index); }
  void SetValue(int index, std::string_view value);
  void Add(std::string_view entry, std::string_view alias);

  // The "Parameters: " text: entries joined by ","; an entry holding a double
  // quote, a comma, a space or a control character is enclosed in double
  // quotes with inner double quotes doubled.
  std::string CommaText() const;

 private:
  std::vector<std::string> entries_;
  std::vector<std::string> aliases_;
};

// Fills `list` from the declarations (each declaration's name and default
// value, in order), then the command-line texts, then the prompt (when asked for and `onPrompt` is
// set), and reports "Parameters: " + CommaText() at detail level when the list is not empty.
void SettleParameters(TParameterList& list, const std::vector<TParameterDeclaration>& declarations,
                      const std::vector<std::string>& parameterTexts, bool promptForParameters,
                      const TPromptCallback& onPrompt, const TOutputCallback& onOutput);

// Prepares a `test` condition: tokens ":name" are replaced, longest first, by
// parameter values, ":stream$..." by the stream's size, ":stream" by the text
// of a stream shorter than 256 bytes (CR LF turned into a space); unknown
// tokens are removed.
std::string SubstituteTest(std::string_view text, const TParameterList& list,
                           TStreamRegistry& streams);

// One typed parameter per entry with a value, in list order: an entry whose value is empty is left
// out, so the stylesheet's xsl:param default applies; values of declarations whose `kind` is
// "integer", "float" or "boolean" are numbers or booleans when they parse as such; everything else
// is text. Declarations are found by FindDeclaration (so names declared with "-" work).
TTransformParameters BuildTransformParameters(
    const TParameterList& list, const std::vector<TParameterDeclaration>& declarations);

}  // namespace morvex
