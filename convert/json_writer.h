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

#include <memory>
#include <string>
#include <string_view>

#include "convert/json_value.h"

namespace morvex {

class TEncoding;
class TEncodedTextOutput;
class TStream;

// Appends the JSON text of `value` (UTF-8) to `out`, laid out as a value
// nested `level` deep (the indentation of its inner lines).
void AppendJsonText(const TJsonDocument& document, const TSuperObject& value, bool indent,
                    std::string& out, int level = 0);

// Writes the JSON text of `value` onto `stream` in `encoding` (UTF-16 as code
// units in the encoding's byte order); characters the encoding cannot hold
// become its replacement character. The caller writes the preamble.
void WriteJsonOutput(const TJsonDocument& document, const TSuperObject& value, TStream& stream,
                     const TEncoding& encoding, bool indent);

// JSON text written a piece at a time, for a value whose members are not all
// known when writing starts; pieces put together give the bytes the writer
// above gives for the whole value. `level` is the nesting of the object or
// array a piece belongs to (0 for the outermost). Text reaches the stream in
// blocks and at Flush().
class TJsonStreamWriter {
 public:
  TJsonStreamWriter(TStream& stream, const TEncoding& encoding, bool indent);
  ~TJsonStreamWriter();
  TJsonStreamWriter(const TJsonStreamWriter&) = delete;
  TJsonStreamWriter& operator=(const TJsonStreamWriter&) = delete;

  void OpenObject() { text_ += '{'; }
  // A member's key (after a "," unless it is the object's first member); its
  // value follows at level + 1.
  void Key(std::string_view key, bool first, int level);
  // The items of an array follow at level + 1, separated by Comma().
  void OpenArray(int level);
  void Comma() { text_ += ','; }
  void CloseArray() { text_ += ']'; }
  void CloseObject(bool empty, int level);
  // A whole value at `level`.
  void Value(const TJsonDocument& document, const TSuperObject& value, int level);
  void Flush();

 private:
  void LineBreak(int level);
  void Spill();

  std::unique_ptr<TEncodedTextOutput> output_;
  bool indent_;
  std::string text_;
};

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
