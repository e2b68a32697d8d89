// Parameter references in a condition text.
#pragma once

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

}  // namespace morvex
