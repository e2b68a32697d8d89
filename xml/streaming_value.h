// XPath values in one pass over the input: count(path), sum(path) and
// string(path), where path is one the one-pass selection can select
// (/a/b/r, //r, //p:r[id > 5]). Only each candidate's subtree is ever built,
// so memory stays flat however large the input; the text is the one the
// whole document gives (XPath's number texts: "3", "1.5", "NaN",
// "Infinity"; the string value of the first node in document order).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvex {

class TStream;

// The function and path of `expression` when it is count, sum or string of
// one path the one-pass selection can select (blanks around the parts
// allowed); nothing for any other expression.
struct TStreamableValue {
  enum class TFunction : uint8_t { Count, Sum, String };
  TFunction Function;
  std::string Path;
};
std::optional<TStreamableValue> ParseStreamableValue(std::string_view expression,
                                                     std::string_view selectionNamespaces);

// The text of `expression` for the XML read from `source`'s start: true and
// the text in `text`, or false (`text` unspecified) when the expression has
// another form, when the source cannot seek, or when anything fails (a parse
// error, a predicate that fails), which the whole document then reports in
// its own words.
bool EvaluateXPathTextInOnePass(TStream& source, std::string_view expression,
                                std::string_view selectionNamespaces, std::string& text);

}  // namespace morvex
