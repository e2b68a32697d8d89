// Quoting a CSV cell, shared by every CSV writer.
#pragma once

#include <string>
#include <string_view>

namespace morvex {

// Appends `value` enclosed in `quote`, with every occurrence of `quote`
// inside it doubled so that CSV readers get the value back unchanged. An
// empty `quote` appends the value as it is.
void AppendCsvQuoted(std::string& out, std::string_view value, std::string_view quote);

}  // namespace morvex
