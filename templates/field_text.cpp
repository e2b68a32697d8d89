#include "templates/field_text.h"

#include <charconv>
#include <cmath>

#include "db/db_values.h"
#include "db/lsql_dataset.h"
#include "text/utf.h"
#include "xml/value_text.h"

namespace morvex {

namespace {

// The date-time scale's days 0001-01-01 and 9999-12-31.
constexpr double kMinDay = -693593;
constexpr double kMaxDay = 2958465;
constexpr int kSecondsPerDay = 86400;
// Day 0 (1899-12-30) counted from 1970-01-01.
constexpr long long kDayZeroSince1970 = -25569;

// A date-time as a day and the whole seconds of its time of day, the way
// DateTimeToXmlText splits it: the time rounded to the millisecond, then cut
// to the second; a time that rounds up to 24:00 moves to the next day. False
// outside the years 1 to 9999 or for a value that is not a number.
bool SplitDateTime(double x, long long& day, int& seconds) {
  if (!std::isfinite(x)) return false;
  const double whole = std::trunc(x);
  if (whole < kMinDay || whole > kMaxDay) return false;
  const long long millis = std::llround(std::fabs(x - whole) * kSecondsPerDay * 1000.0);
  day = static_cast<long long>(whole);
  seconds = static_cast<int>(millis / 1000);
  if (seconds >= kSecondsPerDay) {
    seconds = 0;
    ++day;
  }
  return day <= static_cast<long long>(kMaxDay);
}

void Put2(char* at, int value) {
  at[0] = static_cast<char>('0' + value / 10);
  at[1] = static_cast<char>('0' + value % 10);
}

// "yyyy-mm-dd" of a day since 1899-12-30 (the civil calendar from a day
// count, as in Howard Hinnant's days_from_civil algorithms).
void AppendDate(std::string& out, long long day) {
  long long z = day + kDayZeroSince1970 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int dayOfMonth = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  char text[10];
  Put2(text, year / 100);
  Put2(text + 2, year % 100);
  text[4] = '-';
  Put2(text + 5, month);
  text[7] = '-';
  Put2(text + 8, dayOfMonth);
  out.append(text, sizeof text);
}

void AppendTime(std::string& out, int seconds) {
  char text[8];
  Put2(text, seconds / 3600);
  text[2] = ':';
  Put2(text + 3, seconds / 60 % 60);
  text[5] = ':';
  Put2(text + 6, seconds % 60);
  out.append(text, sizeof text);
}

}  // namespace

// These three give what DateTimeToXmlText gives with the patterns
// "yyyy-mm-dd", "hh:nn:ss" and "yyyy-mm-dd hh:nn:ss", without reading a
// pattern for every value.
std::string DateFieldText(double dateTime) {
  // A value before 1899-12-30 carries its time of day as a negative fraction,
  // so truncation toward zero gives its day in both directions.
  const double date = std::trunc(dateTime);
  std::string out;
  long long day = 0;
  int seconds = 0;
  if (date != 0 && SplitDateTime(date, day, seconds)) AppendDate(out, day);
  return out;
}

std::string TimeFieldText(double dateTime) {
  const double time = std::fabs(dateTime - std::trunc(dateTime));
  std::string out;
  long long day = 0;
  int seconds = 0;
  if (time != 0 && SplitDateTime(time, day, seconds)) AppendTime(out, seconds);
  return out;
}

std::string DateTimeFieldText(double dateTime) {
  std::string out;
  long long day = 0;
  int seconds = 0;
  if (dateTime != 0 && SplitDateTime(dateTime, day, seconds)) {
    AppendDate(out, day);
    out.push_back(' ');
    AppendTime(out, seconds);
  }
  return out;
}

bool AppendShortDecimalText(std::string& out, double x) {
  // When x equals n / 10^k for a whole n below 10^15, the decimal n * 10^-k
  // reads back as x (the division of two exact values is correctly
  // rounded), and no other decimal of at most 15 digits does: it is x
  // rounded to 15 digits.
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const double magnitude = std::fabs(x);
  if (!(magnitude >= 1e-4 && magnitude < 1e15)) return false;  // also NaN
  for (int k = 0; k < 16; ++k) {
    const double scaled = magnitude * kPowers[k];
    if (scaled >= 1e15) return false;
    // Any whole number near `scaled` will do: the test below is exact.
    const double whole = static_cast<double>(static_cast<long long>(scaled + 0.5));
    if (whole / kPowers[k] != magnitude) continue;
    auto n = static_cast<long long>(whole);
    int decimals = k;
    while (decimals > 0 && n % 10 == 0) {
      n /= 10;
      --decimals;
    }
    char digits[24];
    const auto length =
        static_cast<int>(std::to_chars(digits, digits + sizeof digits, n).ptr - digits);
    // Below 1E-4 the general form has an exponent.
    if (length - decimals < -3) return false;
    if (x < 0) out.push_back('-');
    if (decimals == 0) {
      out.append(digits, static_cast<size_t>(length));
    } else if (length > decimals) {
      out.append(digits, static_cast<size_t>(length - decimals));
      out.push_back('.');
      out.append(digits + (length - decimals), static_cast<size_t>(decimals));
    } else {
      out.append("0.");
      out.append(static_cast<size_t>(decimals - length), '0');
      out.append(digits, static_cast<size_t>(length));
    }
    return true;
  }
  return false;
}

namespace {

// Exact decimals (a database's numeric text, a 64-bit integer) are written
// with every digit; only true floating-point values take the general form.
std::string FloatFieldText(const TLSQLDataset& dataset, int index, const TDbValue& value) {
  if (const auto* d = std::get_if<double>(&value)) {
    std::string text;
    if (AppendShortDecimalText(text, *d)) return text;
    return FloatToXmlText(*d);
  }
  if (const auto* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
  if (const auto* text = std::get_if<std::string>(&value)) {
    std::string exact;
    if (ExactDecimalText(*text, exact)) return exact;
  }
  return FloatToXmlText(DbValueFloat(value, dataset.FieldName(index)));
}

// A date-time the drivers could not place on the date-time scale (infinity,
// a date before Christ, a year beyond 9999, 24:00:00, or a text that is no
// date at all) comes as text: it is written as the database gave it.
std::string DateTimeClassText(const TLSQLDataset& dataset, int index, TFieldClass typeClass,
                              const TDbValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    double dateTime = 0;
    if (!ParseDbDateTime(*text, dateTime)) return *text;
  }
  const double dateTime = DbValueDateTime(value, dataset.FieldName(index));
  if (typeClass == fcDate) return DateFieldText(dateTime);
  if (typeClass == fcTime) return TimeFieldText(dateTime);
  return DateTimeFieldText(dateTime);
}

}  // namespace

bool FieldText(const TLSQLDataset& dataset, int index, TFieldClass typeClass,
               TFieldTextTarget target, std::string& scratch, std::string_view& text) {
  switch (typeClass) {
    case fcString:
    case fcText:
      if (!dataset.FieldText(index, scratch, text)) return false;
      text = TrimTrailingBlanks(text);
      return true;
    case fcInteger:
      if (!dataset.FieldText(index, scratch, text)) return false;
      if (target == TFieldTextTarget::Xml) text = TrimTrailingBlanks(text);
      return true;
    case fcDate:
      // A date the database layer writes "yyyy-mm-dd" is written as it
      // stands (but for day 0, which is written empty): its text is the date
      // part of its value, which is what DateFieldText writes.
      if (!dataset.FieldText(index, scratch, text)) return false;
      if (IsPlainDbDate(text) && text != "1899-12-30") return true;
      [[fallthrough]];
    case fcFloat:
    case fcTime:
    case fcDateTime: {
      // A null field reads as TDbNull: the null state is asked only then.
      const TDbValue value = dataset.AsValue(index);
      if (std::holds_alternative<TDbNull>(value) && dataset.IsNull(index)) return false;
      scratch = typeClass == fcFloat ? FloatFieldText(dataset, index, value)
                                     : DateTimeClassText(dataset, index, typeClass, value);
      text = scratch;
      return true;
    }
    case fcBinary: {
      std::string_view bytes;
      if (!dataset.FieldText(index, scratch, bytes)) return false;
      scratch = Base64OfBytes(bytes);
      text = scratch;
      return true;
    }
    default:
      return dataset.FieldText(index, scratch, text);
  }
}

std::vector<TFieldClass> FieldClasses(const TLSQLDataset& dataset) {
  std::vector<TFieldClass> classes(static_cast<size_t>(dataset.FieldCount()));
  for (size_t i = 0; i < classes.size(); ++i) {
    classes[i] = FieldTypeClass(dataset.FieldType(static_cast<int>(i)));
  }
  return classes;
}

void AppendCsvQuoted(std::string& out, std::string_view value, std::string_view quote) {
  out.append(quote);
  if (quote.empty()) {
    out.append(value);
  } else {
    size_t from = 0;
    for (size_t at = value.find(quote); at != std::string_view::npos;
         at = value.find(quote, from)) {
      out.append(value, from, at + quote.size() - from);
      out.append(quote);
      from = at + quote.size();
    }
    out.append(value, from);
  }
  out.append(quote);
}

}  // namespace morvex
