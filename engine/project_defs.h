// The source, destination and query kind keywords of the project document.
// The records into which the runner reads each script's steps, and the kind
// codes themselves, are in text/step_info.h; what each transformation kind
// means lives in one table (engine/transform_kinds.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/step_info.h"

namespace morvex {

// The location as the console and the log show it: a connection string with
// its passwords masked, anything else unchanged.
std::string DisplayedLocation(const TXSourceInfo& info);

// Keyword to code; keywords are compared after ASCII lower-casing.
// "oledb" 1, "file" or empty 2, "stream" 3, anything else 0.
uint8_t SourceKindOf(std::string_view keyword);
// 1 "oledb", 2 "file", 3 "stream", anything else empty text.
std::string SourceKindName(uint8_t code);
// "file" 1, "inline" 2, "stream" 3, anything else 0.
uint8_t QueryKindOf(std::string_view keyword);

}  // namespace morvex
