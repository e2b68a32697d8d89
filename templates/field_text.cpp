#include "templates/field_text.h"

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

namespace {

// Exact decimals (a database's numeric text, a 64-bit integer) are written
// with every digit; only true floating-point values take the general form.
std::string FloatFieldText(const TLSQLDataset& dataset, int index) {
  const TDbValue value = dataset.AsValue(index);
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
std::string DateTimeClassText(const TLSQLDataset& dataset, int index, TFieldClass typeClass) {
  const TDbValue value = dataset.AsValue(index);
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

std::string FieldText(const TLSQLDataset& dataset, int index, TFieldClass typeClass,
                      TFieldTextTarget target) {
  switch (typeClass) {
    case fcString:
    case fcText: {
      std::string text = dataset.AsText(index);
      text.resize(TrimTrailingBlanks(text).size());
      return text;
    }
    case fcInteger: {
      std::string text = dataset.AsText(index);
      if (target == TFieldTextTarget::Xml) text.resize(TrimTrailingBlanks(text).size());
      return text;
    }
    case fcFloat:
      return FloatFieldText(dataset, index);
    case fcDate:
    case fcTime:
    case fcDateTime:
      return DateTimeClassText(dataset, index, typeClass);
    case fcBinary:
      return Base64OfBytes(dataset.AsText(index));
    default:
      return dataset.AsText(index);
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
