// The JSON writer. Strings and keys escape only the double quote (\"), the
// backslash (\\) and the character 0 (\u0000); every other character, line
// breaks and non-ASCII text included, is written as it is. Integers keep
// their exact digits; doubles are written with the fewest digits that read
// back to the same double, currency values with up to four decimals, "."
// always the decimal separator.
//
// Compact layout: no spaces or line breaks. Indented layout: a line break is
// CR LF followed by one space per level; each object member stands on its own
// line as "key": value and the closing brace under the opening one; an array
// breaks the line once after "[" and writes its items joined by "," with "]"
// right after the last one.
#pragma once

#include <string>

#include "convert/json_value.h"

namespace morvex {

class TEncoding;
class TEncodedTextOutput;
class TStream;

// Appends the JSON text of `value` (UTF-8) to `out`.
void AppendJsonText(const TJsonDocument& document, const TSuperObject& value, bool indent,
                    std::string& out);

// Writes the JSON text of `value` onto `stream` in `encoding` (UTF-16 as code
// units in the encoding's byte order); characters the encoding cannot hold
// become its replacement character. The caller writes the preamble.
void WriteJsonOutput(const TJsonDocument& document, const TSuperObject& value, TStream& stream,
                     const TEncoding& encoding, bool indent);

// The text of a double ("1.5", "1E20", "1E-5", "0.30000000000000004": the
// fewest digits that read back to the same double, fixed from 1E-4 up to
// below 1E15) and of a currency value given times 10000 ("1.25", "-3").
std::string JsonDoubleText(double value);
std::string JsonCurrencyText(int64_t timesTenThousand);

// The text of a value in a CSV cell or in XML text: empty for null, a
// string's own text, numbers and booleans as above, objects and arrays as
// compact JSON.
std::string JsonValueText(const TJsonDocument& document, const TSuperObject& value);

}  // namespace morvex
