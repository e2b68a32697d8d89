// The text forms that typed values take in every XML document the system
// writes: numbers, dates and times, and base64 for byte strings. None of these
// depend on the process locale, and none of them fail: text that does not
// parse gives 0, and 0 as a date-time gives an empty text.
#pragma once

#include <string>
#include <string_view>

namespace morvex {

// A number from its XML text: optional blanks, an optional sign, digits with
// "." as the decimal separator and an optional exponent ("1.5", "-2e3", ".5").
// Anything else (thousands separators, a "," decimal separator, "inf", "nan",
// trailing text, a value outside the double range) gives 0.
double XmlTextToFloat(std::string_view text);

// The general decimal form of `x` rounded to at most 15 significant digits,
// with trailing zeros dropped and "." as the decimal separator:
//   1.50 -> "1.5", 0.1 -> "0.1", 0.0001 -> "0.0001", 1.23456789012345e14 ->
//   "123456789012345".
// Values of 1E15 and more, or below 0.0001, take the exponent form with an
// upper-case "E", a sign only when the exponent is negative and no padding:
//   1e20 -> "1E20", 0.00001 -> "1E-5", 1.23456789012346e15 -> "1.23456789012346E15".
// Zero (either sign) is "0"; the non-finite values are "NAN", "INF" and "-INF".
std::string FloatToXmlText(double x);

// A date-time is the number of days since 1899-12-30 with the time of day as
// the fraction; a date before 1899-12-30 carries its time of day as a negative
// fraction (-1.25 is 1899-12-29 06:00).

// Reads a date-time from fixed character positions (counted from 1):
// "yyyy-mm-dd hh:nn:ss" (any separators, the time optional) or, when positions
// 1-4 are not a non-zero number and position 3 is ":", "hh:nn:ss" as a time of
// day alone. A part that is not a number counts as 0. Without a full date
// (year, month and day all non-zero) the result is the time of day alone. A
// date or time that does not exist (month 13, 30 February, hour 25) gives 0.
double XmlTextToDateTime(std::string_view text);

// Formats a date-time. 0 gives an empty text, and so does a value outside the
// years 1 to 9999 or not a number. The value is rounded to the nearest second
// first; a time of day that rounds up to midnight moves to the next day.
// The pattern "yyyy-mm-ddThh:nn:ss" writes "yyyy-mm-dd" for a value without a
// time of day, "hh:nn:ss" for a value without a date part, and the full
// pattern otherwise. Any other pattern is written as it stands with these
// letter groups (any letter case) replaced: yyyy year, yy two-digit year, mm
// month, dd day, hh hour (0-23), nn minute, ss second (the one-letter forms
// m, d, h, n, s without leading zero); other characters are copied.
std::string DateTimeToXmlText(std::string_view pattern, double x);

// Base64 (RFC 2045 alphabet, "=" fill) of the UTF-16LE bytes of `text`, in
// lines of 76 characters separated by CR LF, with no line end after the last.
std::string Base64OfText(std::string_view text);

// The same encoding and line layout for raw bytes (binary field content).
std::string Base64OfBytes(std::string_view bytes);

}  // namespace morvex
