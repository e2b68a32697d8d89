// The JSON reader: relaxed JSON into a TJsonDocument.
//
// Beyond standard JSON it takes comments ("/* */", "//" to the line end),
// strings in single quotes, the escapes \xHH and a backslash before any other
// character (standing for that character), and object keys without quotes.
// White space is space, TAB, LF, CR, FF and the character 8. Numbers without
// "." and exponent are integers, with "." and at most four decimals and no
// exponent currency values, any other doubles. Arrays and objects nest at
// most kMaxNestingDepth levels deep, as elements of XML input.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "convert/json_value.h"

namespace morvex {

class TStream;

// Reads a whole JSON document from the stream's start. The text is decoded by
// its byte-order mark (UTF-8, UTF-16LE, UTF-16BE), as UTF-8 without one.
// Returns nullptr when the input does not parse; `error` then tells why and
// where ("line L, column C: reason").
std::unique_ptr<TJsonDocument> ParseJsonInput(TStream& stream, std::string* error = nullptr);

// The same for a text already in memory.
std::unique_ptr<TJsonDocument> ParseJsonText(std::string_view text, std::string* error = nullptr);

// The message every conversion gives for an input that yields no value,
// followed by where (`source`: a file path or stream name) and why.
inline constexpr const char* kNoJsonValue = "Cannot convert XML document to JSON!";
inline std::string NoJsonValueMessage(const std::string& source, const std::string& reason) {
  return std::string(kNoJsonValue) + " " + source + ", " + reason;
}

// The document of a conversion's JSON source; raises EMorvexError with the
// message above, naming `location`, when the input does not parse.
std::unique_ptr<TJsonDocument> ReadJsonSource(TStream& stream, const std::string& location);

}  // namespace morvex
