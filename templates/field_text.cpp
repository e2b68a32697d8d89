#include "templates/field_text.h"

#include <cmath>

#include "db/lsql_dataset.h"
#include "xml/value_text.h"

namespace morvex {

std::string_view TrimTrailingBlanks(std::string_view text) {
  const size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

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

std::string FieldText(const TLSQLDataset& dataset, int index, int typeClass,
                      TFieldTextTarget target) {
  switch (typeClass) {
    case 0:
    case 1: {
      std::string text = dataset.AsText(index);
      text.resize(TrimTrailingBlanks(text).size());
      return text;
    }
    case 2: {
      std::string text = dataset.AsText(index);
      if (target == TFieldTextTarget::Xml) text.resize(TrimTrailingBlanks(text).size());
      return text;
    }
    case 3:
      return FloatToXmlText(dataset.AsFloat(index));
    case 4:
      return DateFieldText(dataset.AsDateTime(index));
    case 5:
      return TimeFieldText(dataset.AsDateTime(index));
    case 6:
      return DateTimeFieldText(dataset.AsDateTime(index));
    case 7:
      return target == TFieldTextTarget::Xml ? Base64OfBytes(dataset.AsText(index))
                                             : dataset.AsText(index);
    default:
      return dataset.AsText(index);
  }
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
