// Parameter references in a condition text: the names they use, and the
// one way every condition (a script's, a template statement's) has them
// replaced.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

// The names after every colon, read as TNameSyntax::Condition says (a letter
// of any script or "_" starts a name, which runs on over letters, digits,
// "_" and "$"); the scan goes on after the name, or after the colon when no
// name follows. A name occurs as often as
// it is referenced. The list is sorted by length, shortest first, names of
// equal length in the order they appear: replacing from the end handles a
// longer name before a shorter one that is its prefix.
std::vector<std::string> ExtractParameterNames(std::string_view text);

// `text` with each CR LF turned into one blank, as a value of several lines
// enters a condition.
std::string CrLfToBlank(std::string_view text);

// What a reference is replaced by: `Value` where it stands outside single
// quotes, `InsideQuotes` where it stands inside ('...:name...', two quotes
// in a row counting as two). Texts must hold quotes in pairs, so that they
// leave the quoting of the text after them as it was.
struct TReferenceText {
  std::string Value;
  std::string InsideQuotes;
};

// Gives the replacement of the reference ":" + `name`; nothing leaves the
// reference as written.
using TResolveReference = std::function<std::optional<TReferenceText>(const std::string& name)>;

// `text` with every reference ":name" (each name read as
// ExtractParameterNames reads it) replaced by what `resolve` gives for its
// name, in one pass from the start: a reference is always its whole name
// (":order" never stands for the start of ":order$id"), and replaced texts
// are not read again.
std::string ReplaceParameterReferences(std::string_view text, const TResolveReference& resolve);

}  // namespace morvex
