#include "xml/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "text/utf.h"

namespace morvex {

namespace {

// --- numbers ---

// Decimal digits of `x` rounded to 15 significant digits: digits holds no
// trailing zeros (at least one digit), and x = d.ddd * 10^exponent.
struct TDecimal {
  bool Negative = false;
  std::string Digits;
  int Exponent = 0;
};

// Parses the scientific text of to_chars ("-1.2345e+02").
TDecimal ParseScientific(std::string_view s) {
  TDecimal d;
  if (!s.empty() && s.front() == '-') {
    d.Negative = true;
    s.remove_prefix(1);
  }
  const size_t e = s.find('e');
  for (char c : s.substr(0, e)) {
    if (c != '.') d.Digits.push_back(c);
  }
  std::string_view exp = s.substr(e + 1);
  if (!exp.empty() && exp.front() == '+') exp.remove_prefix(1);
  std::from_chars(exp.data(), exp.data() + exp.size(), d.Exponent);
  while (d.Digits.size() > 1 && d.Digits.back() == '0') d.Digits.pop_back();
  return d;
}

TDecimal ToDecimal15(double x) {
  // to_chars is locale-independent. When the shortest text that reads back
  // as x has at most 15 digits, it is also x rounded to 15 digits (two
  // 15-digit decimals never read back as the same double), and it is much
  // cheaper to make than a rounding to a given precision. Subnormal values
  // hold fewer digits and take the rounding path.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  TDecimal d = ParseScientific(std::string_view(buf, static_cast<size_t>(res.ptr - buf)));
  if (d.Digits.size() <= 15 && std::fabs(x) >= std::numeric_limits<double>::min()) return d;
  // Correct rounding from the exact binary value; a carry (9.99...e14 -> 1e15)
  // is already in the exponent.
  res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 14);
  return ParseScientific(std::string_view(buf, static_cast<size_t>(res.ptr - buf)));
}

// --- dates ---

constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct TCivil {
  int64_t Year;
  int Month;
  int Day;
};

constexpr TCivil CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

constexpr int64_t kEpochDays = DaysFromCivil(1899, 12, 30);
// Day numbers of 0001-01-01 and 9999-12-31, the range a date-time can hold.
constexpr int64_t kMinDay = DaysFromCivil(1, 1, 1) - kEpochDays;
constexpr int64_t kMaxDay = DaysFromCivil(9999, 12, 31) - kEpochDays;
constexpr int kSecondsPerDay = 86400;

static_assert(kEpochDays == -25569);
static_assert(kMinDay == -693593 && kMaxDay == 2958465);

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The integer at 1-based positions [from, from + count) of `text`: an optional
// sign and decimal digits filling the whole slice; 0 for anything else,
// including a slice beyond the end of the text.
int IntAt(std::string_view text, size_t from, size_t count) {
  if (from - 1 >= text.size()) return 0;
  std::string_view s = text.substr(from - 1, count);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  int value = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || res.ec != std::errc() || res.ptr != s.data() + s.size()) return 0;
  return value;
}

// A date-time split into a calendar day and whole seconds of that day. The
// time is rounded to the millisecond (so that binary noise cannot turn 13:00
// into 12:59:59.999) and then cut to the second, as clocks show it: 14:30:59.6
// is still 14:30:59.
struct TDayAndSeconds {
  int64_t Day;  // days since 1899-12-30
  int Seconds;  // 0 .. 86399
};

std::optional<TDayAndSeconds> SplitDateTime(double x) {
  if (!std::isfinite(x)) return std::nullopt;
  const double day = std::trunc(x);
  if (day < static_cast<double>(kMinDay) || day > static_cast<double>(kMaxDay)) return std::nullopt;
  const int64_t millis = std::llround(std::fabs(x - day) * kSecondsPerDay * 1000.0);
  TDayAndSeconds r{static_cast<int64_t>(day), static_cast<int>(millis / 1000)};
  // The time of day always counts forward from the day's midnight (also
  // before the epoch), so a time within half a millisecond of 24:00 is the
  // next day.
  if (r.Seconds >= kSecondsPerDay) {
    r.Seconds = 0;
    ++r.Day;
  }
  if (r.Day > kMaxDay) return std::nullopt;
  return r;
}

void Append2(std::string& out, int value) {
  out.push_back(static_cast<char>('0' + value / 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

// "yyyy-mm-dd" and "hh:nn:ss", the forms every typed XML value takes.
void AppendDate(std::string& out, int64_t day) {
  const TCivil date = CivilFromDays(day + kEpochDays);
  const int year = static_cast<int>(date.Year);
  Append2(out, year / 100);
  Append2(out, year % 100);
  out.push_back('-');
  Append2(out, date.Month);
  out.push_back('-');
  Append2(out, date.Day);
}

void AppendTime(std::string& out, int seconds) {
  Append2(out, seconds / 3600);
  out.push_back(':');
  Append2(out, seconds / 60 % 60);
  out.push_back(':');
  Append2(out, seconds % 60);
}

void AppendPadded(std::string& out, int64_t value, int width) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  for (auto n = res.ptr - buf; n < width; ++n) out.push_back('0');
  out.append(buf, res.ptr);
}

void FormatWithPattern(std::string& out, std::string_view pattern, const TDayAndSeconds& v) {
  const TCivil date = CivilFromDays(v.Day + kEpochDays);
  const int hour = v.Seconds / 3600;
  const int minute = v.Seconds / 60 % 60;
  const int second = v.Seconds % 60;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = lower(pattern[i]);
    size_t run = 1;
    while (i + run < pattern.size() && lower(pattern[i + run]) == c) ++run;
    int64_t value = -1;
    size_t used = 0;
    int width = 0;
    switch (c) {
      case 'y':
        if (run >= 2) {
          used = run >= 4 ? 4 : 2;
          width = static_cast<int>(used);
          value = used == 4 ? date.Year : date.Year % 100;
        }
        break;
      case 'm':
        value = date.Month;
        break;
      case 'd':
        value = date.Day;
        break;
      case 'h':
        value = hour;
        break;
      case 'n':
        value = minute;
        break;
      case 's':
        value = second;
        break;
      default:
        break;
    }
    if (value >= 0 && used == 0) {
      used = run >= 2 ? 2 : 1;
      width = static_cast<int>(used);
    }
    if (value < 0) {
      out.push_back(pattern[i]);
      ++i;
      continue;
    }
    AppendPadded(out, value, width);
    i += used;
  }
}

// --- base64 ---

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kBase64LineChars = 76;

}  // namespace

double XmlTextToFloat(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  // from_chars takes a leading "-" but not "+"; a second sign is refused below.
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) return 0;
  }
  if (s.empty()) return 0;
  double value = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(value)) return 0;
  return value;
}

std::string FloatToXmlText(double x) {
  if (std::isnan(x)) return "NAN";
  if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
  if (x == 0) return "0";
  const TDecimal d = ToDecimal15(x);
  std::string out;
  if (d.Negative) out.push_back('-');
  const int n = static_cast<int>(d.Digits.size());
  if (d.Exponent < -4 || d.Exponent >= 15) {
    out.push_back(d.Digits[0]);
    if (n > 1) {
      out.push_back('.');
      out.append(d.Digits, 1);
    }
    out.push_back('E');
    out.append(std::to_string(d.Exponent));
  } else if (d.Exponent < 0) {
    out.append("0.");
    out.append(static_cast<size_t>(-d.Exponent - 1), '0');
    out.append(d.Digits);
  } else {
    const int intDigits = d.Exponent + 1;
    if (n <= intDigits) {
      out.append(d.Digits);
      out.append(static_cast<size_t>(intDigits - n), '0');
    } else {
      out.append(d.Digits, 0, static_cast<size_t>(intDigits));
      out.push_back('.');
      out.append(d.Digits, static_cast<size_t>(intDigits));
    }
  }
  return out;
}

double XmlTextToDateTime(std::string_view text) {
  int year = IntAt(text, 1, 4);
  int month = 0, day = 0, hour, minute, second;
  if (year != 0 || text.size() < 3 || text[2] != ':') {
    month = IntAt(text, 6, 2);
    day = IntAt(text, 9, 2);
    hour = IntAt(text, 12, 2);
    minute = IntAt(text, 15, 2);
    second = IntAt(text, 18, 2);
  } else {
    hour = IntAt(text, 1, 2);
    minute = IntAt(text, 4, 2);
    second = IntAt(text, 7, 2);
  }
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return 0;
  const double time = (hour * 3600 + minute * 60 + second) / static_cast<double>(kSecondsPerDay);
  if (year == 0 || month == 0 || day == 0) return time;
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return 0;
  }
  const double date = static_cast<double>(DaysFromCivil(year, month, day) - kEpochDays);
  return date < 0 ? date - time : date + time;
}

std::string DateTimeToXmlText(std::string_view pattern, double x) {
  if (x == 0) return {};
  const std::optional<TDayAndSeconds> v = SplitDateTime(x);
  if (!v) return {};
  std::string out;
  // The patterns of typed XML values and of dataset fields are written
  // without reading the pattern.
  if (pattern == "yyyy-mm-dd") {
    AppendDate(out, v->Day);
  } else if (pattern == "hh:nn:ss") {
    AppendTime(out, v->Seconds);
  } else if (pattern == "yyyy-mm-dd hh:nn:ss") {
    AppendDate(out, v->Day);
    out.push_back(' ');
    AppendTime(out, v->Seconds);
  } else if (pattern != "yyyy-mm-ddThh:nn:ss") {
    FormatWithPattern(out, pattern, *v);
  } else if (v->Day == 0) {
    AppendTime(out, v->Seconds);
  } else {
    AppendDate(out, v->Day);
    if (v->Seconds != 0) {
      out.push_back('T');
      AppendTime(out, v->Seconds);
    }
  }
  return out;
}

std::string Base64OfBytes(std::string_view bytes) {
  const size_t chars = (bytes.size() + 2) / 3 * 4;
  std::string out;
  out.reserve(chars + chars / kBase64LineChars * 2);
  size_t lineChars = 0;
  auto put = [&](char c) {
    if (lineChars == kBase64LineChars) {
      out.append("\r\n");
      lineChars = 0;
    }
    out.push_back(c);
    ++lineChars;
  };
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    put(kBase64Alphabet[v >> 18]);
    put(kBase64Alphabet[(v >> 12) & 63]);
    put(kBase64Alphabet[(v >> 6) & 63]);
    put(kBase64Alphabet[v & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (rest == 2 ? uint32_t{p[i + 1]} << 8 : 0);
    put(kBase64Alphabet[v >> 18]);
    put(kBase64Alphabet[(v >> 12) & 63]);
    put(rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=');
    put('=');
  }
  return out;
}

std::string Base64OfText(std::string_view text) { return Base64OfBytes(Utf8ToUtf16LeBytes(text)); }

}  // namespace morvex
