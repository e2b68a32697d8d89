// The project built from inline options: two to four positional arguments
// that describe the steps of one script, turned into the text of a project
// document the runner loads like any project source.
#pragma once

#include <string>
#include <vector>

namespace morvex {

// The project text for `arguments` in command-line order:
// - none: empty text; one: that argument itself, unwrapped;
// - two to four: `<?xml version="1.0" ?><morvex><script>` + the source, query
//   step, transform and destination elements the arguments select +
//   "</script></morvex>" + CR LF;
// - five or more: the head directly followed by the tail (an empty script).
//
// Arguments are classified by text tests and by whether a regular file of
// that name exists (relative names against the current directory); a first
// argument "-" (standard input) counts as an existing file, and a last one
// is a file destination (standard output). Nothing is opened or connected. Every argument gives a
// well-formed fragment: text that already parses as XML content (markup such as an inline template)
// is inserted as it is, other text is escaped, kind attribute values are always escaped, and "]]>"
// inside a character-data section is split across two sections. Never throws for any argument.
std::string BuildInlineProject(const std::vector<std::string>& arguments);

// "Warning: <argument> is taken as an XPath expression (did you mean
// <keyword>?)" for a middle argument that is no conversion keyword and names
// no file, but is one or two edits from a keyword ("xml/cvs"): the inline
// form runs such a text as an expression, which selects nothing and
// succeeds. Empty when there is nothing to say.
std::string InlineKeywordWarning(const std::vector<std::string>& arguments);

}  // namespace morvex
