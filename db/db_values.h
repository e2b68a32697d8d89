// Conversions of values that every driver shares, so that the three drivers
// give the same texts and accept the same parameter values.
#pragma once

#include <string>
#include <string_view>

#include "db/driver.h"

namespace morvex {

// The calendar parts of a date-time value.
struct TDbDateTimeParts {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

// The date-time value of `parts`. False, leaving `value` untouched, when a
// part is out of range: a year outside 1-9999, a day the month does not have,
// an hour above 23, a minute or second above 59, milliseconds above 999.
bool EncodeDbDateTime(const TDbDateTimeParts& parts, double& value);

// The parts of `value` rounded to the millisecond (a time of day that rounds
// up to midnight moves to the next day). False for a value outside the years
// 1-9999 or not a number.
bool DecodeDbDateTime(double value, TDbDateTimeParts& parts);

// Reads "yyyy-mm-dd", "hh:nn[:ss[.fff]]", or a date and a time separated by
// a blank or "T". A trailing time zone ("Z", "+02", "-05:30") is ignored:
// the value is the wall-clock time as written. Fraction digits beyond the
// millisecond are rounded. False for any other text.
bool ParseDbDateTime(std::string_view text, double& value);

// True for a date written "yyyy-mm-dd" (exactly ten characters) that
// exists, in the years 1 to 9999: its value is that day at midnight, and
// DbDateTimeText of that value for ftDate is the text itself.
bool IsPlainDbDate(std::string_view text);

// "yyyy-mm-dd" for ftDate, "hh:nn:ss" for ftTime, "yyyy-mm-dd hh:nn:ss" for
// every other type; for ftUnknown the form follows the value (no time of day:
// the date alone; day 0: the time alone). Times get ".fff" when the
// milliseconds are not zero. Empty for a value DecodeDbDateTime refuses.
std::string DbDateTimeText(double value, TFieldType type);

// The shortest text that reads back as `value`, with "." as the decimal
// separator ("0.1", "1234.5", "1e+20"); "NAN", "INF" and "-INF" for the
// values that are not finite.
std::string DbFloatText(double value);

// An exact number as a database writes it ("12.500", "-0.50", "1000..."
// with any number of digits), in the form every driver gives it: no
// leading zeros, no zeros ending the fraction, no "." without a fraction,
// no sign on zero ("12.5", "-0.5", "3"). False, leaving `out` untouched, for
// any other text (an exponent, "NaN", "Infinity", blanks inside).
bool ExactDecimalText(std::string_view text, std::string& out);

// The value of an exact numeric field: its decimal text as
// ExactDecimalText gives it, so that no digit goes through a double; a text
// that is no plain decimal ("NaN", "Infinity") as the double it stands for.
TDbValue ExactNumericValue(std::string_view text);

// The AsText form of a value of a field of type `type` (TDbResultSet::AsText).
std::string DbValueText(const TDbValue& value, TFieldType type);

// AsFloat and AsDateTime of a value: numbers as they are (a date-time is its
// day count), text converted (a number in "." notation, a date-time as
// ParseDbDateTime reads it), Null 0. Text that does not convert and binary
// values raise EMorvexError naming the field.
double DbValueFloat(const TDbValue& value, std::string_view fieldName);
double DbValueDateTime(const TDbValue& value, std::string_view fieldName);

// The value of a parameter converted to the class of its DataType, so that
// drivers bind by the variant alone: integer types give int64_t (a text or
// number that is not a whole number gives double, nothing is lost), ftBoolean
// bool, float types double (the exact decimal types ftBCD and ftFMTBcd keep
// a decimal text as its ExactDecimalText, so that no digit is lost), date and
// time types TDbDateTime, binary types TDbBytes, the string types std::string. ftUnknown and Null
// values stay as they are. A value that does not convert ("abc" as an integer) raises EMorvexError
// naming the parameter by its position `number` (from 1).
TDbValue CoerceDbParameter(const TDbParameter& parameter, int number);

}  // namespace morvex
