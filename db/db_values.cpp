#include "db/db_values.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>

#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr long long kMsPerDay = 86400000;

// Day 0 of the date-time scale is 1899-12-30.
constexpr std::chrono::sys_days kDayZero =
    std::chrono::sys_days{std::chrono::year{1899} / std::chrono::December / 30};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Joins a whole-day count and a time of day the way the scale does it: the
// time of day of a date before day 0 is a negative fraction.
double CombineDateTime(long long days, long long msOfDay) {
  double time = static_cast<double>(msOfDay) / kMsPerDay;
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

bool IsValidDate(int year, int month, int day) {
  static constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool DaysOfDate(int year, int month, int day, long long& days) {
  if (!IsValidDate(year, month, day)) return false;
  // Days from 1970-01-01 by the civil calendar (Howard Hinnant's
  // days_from_civil), then from day 0.
  const long long y = year - (month <= 2 ? 1 : 0);
  const long long era = y / 400;  // years are positive here
  const long long yoe = y - era * 400;
  const long long doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  days = era * 146097 + doe - 719468 - kDayZero.time_since_epoch().count();
  return true;
}

// Reads exactly `count` digits at `pos` (or 1 to `count` when `upTo`).
bool ReadDigits(std::string_view text, size_t& pos, size_t count, bool upTo, int& number) {
  size_t start = pos;
  number = 0;
  while (pos < text.size() && pos - start < count && IsDigit(text[pos])) {
    number = number * 10 + (text[pos] - '0');
    ++pos;
  }
  size_t read = pos - start;
  return upTo ? read >= 1 : read == count;
}

bool ParseTimeOfDay(std::string_view text, size_t& pos, long long& msOfDay) {
  int hour = 0, minute = 0, second = 0;
  if (!ReadDigits(text, pos, 2, true, hour)) return false;
  if (pos >= text.size() || text[pos] != ':') return false;
  ++pos;
  if (!ReadDigits(text, pos, 2, false, minute)) return false;
  double fraction = 0;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadDigits(text, pos, 2, false, second)) return false;
    if (pos < text.size() && text[pos] == '.') {
      size_t start = ++pos;
      while (pos < text.size() && IsDigit(text[pos])) ++pos;
      if (pos == start) return false;
      std::string digits = "0." + std::string(text.substr(start, pos - start));
      fraction = std::strtod(digits.c_str(), nullptr);
    }
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  msOfDay = (hour * 3600LL + minute * 60LL + second) * 1000 + std::llround(fraction * 1000);
  return true;
}

// A time zone after a time: "Z", or a sign with hours and optional minutes
// and seconds ("+02", "-05:30", "+0530").
bool SkipTimeZone(std::string_view text, size_t& pos) {
  if (pos >= text.size()) return true;
  if (text[pos] == 'Z' || text[pos] == 'z') {
    ++pos;
    return true;
  }
  if (text[pos] != '+' && text[pos] != '-') return false;
  ++pos;
  size_t start = pos;
  while (pos < text.size() && (IsDigit(text[pos]) || text[pos] == ':')) ++pos;
  return pos > start && IsDigit(text[start]);
}

std::string_view Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

// A number in "." notation with an optional sign and exponent; the whole
// text must be the number.
bool ParseNumber(std::string_view text, double& value) {
  text = Trim(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool ParseInteger(std::string_view text, int64_t& value) {
  text = Trim(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// A text for messages: quoted, and cut when long.
std::string Quoted(std::string_view text) {
  constexpr size_t kMax = 60;
  if (text.size() > kMax) return "\"" + std::string(text.substr(0, kMax)) + "...\"";
  return "\"" + std::string(text) + "\"";
}

bool IsIntegerType(TFieldType type) {
  return FieldTypeClass(type) == fcInteger && type != ftBoolean;
}

enum class TPlainDate : uint8_t { Valid, Invalid, Other };

// "yyyy-mm-dd" exactly: Valid (with its day when `days` is given), Invalid
// for a day that does not exist, Other for any other text.
TPlainDate PlainDate(std::string_view text, long long* days) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return TPlainDate::Other;
  auto digit = [&text](size_t i) { return static_cast<unsigned>(text[i]) - '0'; };
  const unsigned d[8] = {digit(0), digit(1), digit(2), digit(3),
                         digit(5), digit(6), digit(8), digit(9)};
  for (unsigned value : d) {
    if (value > 9) return TPlainDate::Other;
  }
  const int year = static_cast<int>(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3]);
  const int month = static_cast<int>(d[4] * 10 + d[5]);
  const int day = static_cast<int>(d[6] * 10 + d[7]);
  if (days == nullptr)
    return IsValidDate(year, month, day) ? TPlainDate::Valid : TPlainDate::Invalid;
  return DaysOfDate(year, month, day, *days) ? TPlainDate::Valid : TPlainDate::Invalid;
}

}  // namespace

bool EncodeDbDateTime(const TDbDateTimeParts& parts, double& value) {
  long long days = 0;
  if (!DaysOfDate(parts.Year, parts.Month, parts.Day, days)) return false;
  if (parts.Hour < 0 || parts.Hour > 23 || parts.Minute < 0 || parts.Minute > 59 ||
      parts.Second < 0 || parts.Second > 59 || parts.Millisecond < 0 || parts.Millisecond > 999) {
    return false;
  }
  long long ms =
      ((parts.Hour * 60LL + parts.Minute) * 60 + parts.Second) * 1000 + parts.Millisecond;
  value = CombineDateTime(days, ms);
  return true;
}

bool DecodeDbDateTime(double value, TDbDateTimeParts& parts) {
  // 0001-01-01 is day -693593, 9999-12-31 day 2958465.
  if (!std::isfinite(value) || value < -693594 || value > 2958466) return false;
  double whole = std::trunc(value);
  long long days = static_cast<long long>(whole);
  long long ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    ++days;
  }
  if (days < -693593 || days > 2958465) return false;
  std::chrono::year_month_day ymd{kDayZero + std::chrono::days{days}};
  parts.Year = static_cast<int>(ymd.year());
  parts.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  parts.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  parts.Hour = static_cast<int>(ms / 3600000);
  parts.Minute = static_cast<int>(ms / 60000 % 60);
  parts.Second = static_cast<int>(ms / 1000 % 60);
  parts.Millisecond = static_cast<int>(ms % 1000);
  return true;
}

bool IsPlainDbDate(std::string_view text) { return PlainDate(text, nullptr) == TPlainDate::Valid; }

bool ParseDbDateTime(std::string_view text, double& value) {
  // The common "yyyy-mm-dd" alone, read at once.
  long long days = 0;
  switch (PlainDate(text, &days)) {
    case TPlainDate::Valid:
      value = CombineDateTime(days, 0);
      return true;
    case TPlainDate::Invalid:
      return false;
    case TPlainDate::Other:
      break;
  }
  text = Trim(text);
  size_t pos = 0;
  days = 0;
  long long msOfDay = 0;
  bool hasDate = text.size() >= 5 && IsDigit(text[0]) && text.find('-') == 4;
  if (hasDate) {
    int year = 0, month = 0, day = 0;
    if (!ReadDigits(text, pos, 4, false, year) || text[pos++] != '-' ||
        !ReadDigits(text, pos, 2, true, month) || pos >= text.size() || text[pos++] != '-' ||
        !ReadDigits(text, pos, 2, true, day) || !DaysOfDate(year, month, day, days)) {
      return false;
    }
    if (pos < text.size()) {
      if (text[pos] != ' ' && text[pos] != 'T') return false;
      ++pos;
      if (!ParseTimeOfDay(text, pos, msOfDay)) return false;
    }
  } else if (!ParseTimeOfDay(text, pos, msOfDay)) {
    return false;
  }
  if (pos < text.size() && text[pos] == ' ') ++pos;
  if (!SkipTimeZone(text, pos) || pos != text.size()) return false;
  if (msOfDay >= kMsPerDay) {
    msOfDay -= kMsPerDay;
    ++days;
  }
  value = CombineDateTime(days, msOfDay);
  return true;
}

std::string DbDateTimeText(double value, TFieldType type) {
  TDbDateTimeParts p;
  if (!DecodeDbDateTime(value, p)) return {};
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
  char time[24];
  if (p.Millisecond != 0) {
    std::snprintf(time, sizeof time, "%02d:%02d:%02d.%03d", p.Hour, p.Minute, p.Second,
                  p.Millisecond);
  } else {
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
  }
  bool midnight = p.Hour == 0 && p.Minute == 0 && p.Second == 0 && p.Millisecond == 0;
  bool dayZero = p.Year == 1899 && p.Month == 12 && p.Day == 30;
  if (type == ftDate || (type == ftUnknown && midnight)) return date;
  if (type == ftTime || (type == ftUnknown && dayZero)) return time;
  return std::string(date) + " " + time;
}

std::string DbFloatText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[32];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return {};
  return std::string(buffer, end);
}

bool ExactDecimalText(std::string_view text, std::string& out) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction =
      point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  auto allDigits = [](std::string_view digits) {
    for (char c : digits) {
      if (!IsDigit(c)) return false;
    }
    return true;
  };
  if (whole.empty() && fraction.empty()) return false;
  if (!allDigits(whole) || !allDigits(fraction)) return false;
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  std::string result;
  if (negative && (!whole.empty() || !fraction.empty())) result += '-';
  if (whole.empty()) {
    result += '0';
  } else {
    result += whole;
  }
  if (!fraction.empty()) {
    result += '.';
    result += fraction;
  }
  out = std::move(result);
  return true;
}

TDbValue ExactNumericValue(std::string_view text) {
  std::string exact;
  if (ExactDecimalText(text, exact)) return exact;
  std::string_view t = Trim(text);
  if (EqualsIgnoringAsciiCase(t, "NaN")) return std::numeric_limits<double>::quiet_NaN();
  if (EqualsIgnoringAsciiCase(t, "Infinity")) return std::numeric_limits<double>::infinity();
  if (EqualsIgnoringAsciiCase(t, "-Infinity")) return -std::numeric_limits<double>::infinity();
  double value = 0;
  if (ParseNumber(t, value)) return value;
  return std::string(text);
}

std::string DbValueText(const TDbValue& value, TFieldType type) {
  return std::visit(
      [type](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, TDbNull>) {
          return {};
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return DbFloatText(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else if constexpr (std::is_same_v<T, TDbBytes>) {
          return v.Bytes;
        } else if constexpr (std::is_same_v<T, TDbDateTime>) {
          return DbDateTimeText(v.Value, type);
        } else {
          return v ? "1" : "0";
        }
      },
      value);
}

double DbValueFloat(const TDbValue& value, std::string_view fieldName) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    double number = 0;
    if (!ParseNumber(*text, number)) {
      throw EMorvexError(Quoted(*text) + " is not a number (field " + std::string(fieldName) + ")");
    }
    return number;
  }
  if (std::holds_alternative<TDbBytes>(value)) {
    throw EMorvexError("A binary value is not a number (field " + std::string(fieldName) + ")");
  }
  if (const auto* i = std::get_if<int64_t>(&value)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* t = std::get_if<TDbDateTime>(&value)) return t->Value;
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  return 0;
}

double DbValueDateTime(const TDbValue& value, std::string_view fieldName) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    double result = 0;
    if (!ParseDbDateTime(*text, result)) {
      throw EMorvexError(Quoted(*text) + " is not a date or time (field " + std::string(fieldName) +
                         ")");
    }
    return result;
  }
  if (std::holds_alternative<TDbBytes>(value)) {
    throw EMorvexError("A binary value is not a date or time (field " + std::string(fieldName) +
                       ")");
  }
  return DbValueFloat(value, fieldName);
}

TDbValue CoerceDbParameter(const TDbParameter& parameter, int number) {
  const TDbValue& value = parameter.Value;
  TFieldType type = parameter.DataType;
  if (type == ftUnknown || std::holds_alternative<TDbNull>(value)) return value;
  auto fail = [number](const std::string& what) -> EMorvexError {
    return EMorvexError("Parameter " + std::to_string(number) + ": " + what);
  };
  const auto* text = std::get_if<std::string>(&value);
  const TFieldClass typeClass = FieldTypeClass(type);

  if (type == ftBoolean) {
    if (const auto* b = std::get_if<bool>(&value)) return *b;
    if (text) {
      std::string_view t = Trim(*text);
      if (EqualsIgnoringAsciiCase(t, "true") || EqualsIgnoringAsciiCase(t, "yes")) return true;
      if (EqualsIgnoringAsciiCase(t, "false") || EqualsIgnoringAsciiCase(t, "no")) return false;
      double d = 0;
      if (ParseNumber(t, d)) return d != 0;
      throw fail(Quoted(*text) + " is not a boolean value");
    }
    if (std::holds_alternative<TDbBytes>(value)) throw fail("a binary value is not a boolean");
    return DbValueFloat(value, "") != 0;
  }
  if (IsIntegerType(type) || typeClass == fcFloat) {
    if (std::holds_alternative<TDbBytes>(value)) throw fail("a binary value is not a number");
    double d = 0;
    if (text) {
      int64_t i = 0;
      if (typeClass == fcInteger && ParseInteger(*text, i)) return i;
      std::string exact;
      if ((type == ftBCD || type == ftFMTBcd) && ExactDecimalText(*text, exact)) return exact;
      if (!ParseNumber(*text, d)) throw fail(Quoted(*text) + " is not a number");
    } else {
      if (typeClass == fcInteger && std::holds_alternative<int64_t>(value)) return value;
      d = DbValueFloat(value, "");
    }
    // Whole numbers within the 64-bit range bind as integers; anything else
    // keeps its fraction rather than being cut.
    if (typeClass == fcInteger && std::trunc(d) == d && std::fabs(d) < 9.2e18) {
      return static_cast<int64_t>(d);
    }
    return d;
  }
  if (IsDateClass(typeClass)) {
    if (const auto* t = std::get_if<TDbDateTime>(&value)) return *t;
    if (text) {
      double d = 0;
      if (!ParseDbDateTime(*text, d)) throw fail(Quoted(*text) + " is not a date or time");
      return TDbDateTime{d};
    }
    if (std::holds_alternative<TDbBytes>(value)) throw fail("a binary value is not a date");
    return TDbDateTime{DbValueFloat(value, "")};
  }
  if (typeClass == fcBinary) {
    if (std::holds_alternative<TDbBytes>(value)) return value;
    return TDbBytes{DbValueText(value, ftUnknown)};
  }
  if (text) return value;
  return DbValueText(value, ftUnknown);
}

}  // namespace morvex
