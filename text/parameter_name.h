// Where a ":name" parameter reference ends, for every place that reads one:
// statements, `test` conditions and "name=value" command-line parameters.
// A parameter name is made of letters of any script, digits, "_", "$" (which
// joins an element to one of its fields: orders$id), "-" and ".". Statement
// texts and conditions read a reference under rules of their own language,
// each stated at TNameSyntax.
#pragma once

#include <cstddef>
#include <string_view>

namespace morvex {

enum class TNameSyntax {
  // In a statement a name runs up to, not including, the first white space
  // (space, TAB, CR, LF, VT, FF), ",", ";", ")" or ":" (a PostgreSQL cast
  // right after a name, :day::date, is no part of it), or the end of the
  // text; any other character belongs to it.
  Statement,
  // In a `test` condition "-", "." and quotes are the condition's own
  // operators and literals: a name starts with a letter of any script or "_"
  // and runs on over letters, digits, "_" and "$".
  Condition,
};

// The end of the name that starts at `start` in `text` (just after its
// colon); `start` itself when no name starts there.
size_t ParameterNameEnd(std::string_view text, size_t start, TNameSyntax syntax);

// True when `name` is not empty and consists only of the characters a
// parameter name may hold.
bool IsParameterName(std::string_view name);

}  // namespace morvex
