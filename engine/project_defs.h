// The kind keyword tables of the project document and the named range checks
// over the kind codes. The records into which the runner reads each script's
// steps, and the codes themselves, are in text/step_info.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/step_info.h"

namespace morvex {

// The transforms that turn the input into a document for a destination:
// xml, xslt (both forms), csv, xpath and json (1 to 6).
constexpr bool IsConversionKind(uint8_t kind) { return kind >= tkXml && kind <= tkJson; }
// The script transforms, in both forms (7 to 10).
constexpr bool IsScriptKind(uint8_t kind) { return kind >= tkScript && kind <= tkZqScriptInline; }

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
// The transform keyword table; the first matching rule wins and any keyword
// not listed is an Active Script language name (7). Never returns 0, 3, 8 or 10.
uint8_t TransformKindOf(std::string_view keyword);

}  // namespace morvex
