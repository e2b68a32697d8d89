// Small edits of whole texts that several floors make: trimming, line ends,
// replacing, XML escaping, and the working directory as a path prefix.
#pragma once

#include <string>
#include <string_view>

namespace morvex {

// `text` without leading and trailing characters up to U+0020 (spaces and
// control characters).
std::string TrimText(std::string_view text);

// `text` with every line feed that does not follow a carriage return turned
// into CR LF.
std::string LineFeedsToCrLf(std::string_view text);

// Replaces every occurrence of `from` in `text` by `to`, left to right; a
// replacement is never searched again. An empty `from` changes nothing.
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// The entity that stands for `c` in XML: "&amp;", "&lt;", "&gt;", and with
// `quotes` also "&quot;"; empty for any other byte.
std::string_view XmlEntityOf(char c, bool quotes);

// Appends `text` with each byte that has an XmlEntityOf replaced by it: as
// element text without `quotes`, as an attribute value in double quotes with.
void AppendXmlEscaped(std::string& out, std::string_view text, bool quotes);

// The process's working directory with a trailing "/"; empty when it cannot
// be told (it was removed).
std::string CurrentDirectory();

}  // namespace morvex
