#include "templates/field_text.h"

#include <charconv>
#include <cmath>

#include "db/db_values.h"
#include "db/lsql_dataset.h"
#include "text/utf.h"
#include "xml/value_text.h"

namespace morvex {

std::string DateFieldText(double dateTime) {
  // A value before 1899-12-30 carries its time of day as a negative fraction,
  // so truncation toward zero gives its day in both directions.
  return DateTimeToXmlText("yyyy-mm-dd", std::trunc(dateTime));
}

std::string TimeFieldText(double dateTime) {
  return DateTimeToXmlText("hh:nn:ss", std::fabs(dateTime - std::trunc(dateTime)));
}

std::string DateTimeFieldText(double dateTime) {
  return DateTimeToXmlText("yyyy-mm-dd hh:nn:ss", dateTime);
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

}  // namespace morvex
