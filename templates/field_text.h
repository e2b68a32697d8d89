// The text forms that field values take in dataset XML and template CSV
// output, chosen by the field's type class (FieldTypeClass). None of them
// depends on the process locale.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/field_types.h"

namespace morvex {

class TLSQLDataset;

// The two writers agree on every class except integers (the XML writer drops
// trailing blanks, the CSV writer keeps the text as given). Binary fields are
// base64 of their bytes in both, so that the output stays text.
enum class TFieldTextTarget { Xml, Csv };

// Date-times are days since 1899-12-30 with the time of day as the fraction.
// "yyyy-mm-dd" of the day the value falls on; empty for 1899-12-30.
std::string DateFieldText(double dateTime);
// "hh:nn:ss" of the time of day; empty at midnight.
std::string TimeFieldText(double dateTime);
// "yyyy-mm-dd hh:nn:ss"; empty for 1899-12-30 at midnight.
std::string DateTimeFieldText(double dateTime);

// The text form of field `index` of the dataset's current record for a field
// of class `typeClass`; false, with `text` untouched, when the field is null.
// Strings, memos, integers and binary values are read without a copy where
// the driver holds their text: `text` then views the driver's buffer (or
// `scratch`) until the next read, Next or Close. Exact numbers (numeric and
// decimal values, 64-bit integers) keep every digit; date-times that the
// database writes in a form the date-time scale cannot hold keep the
// database's text ("infinity", "0044-03-15 BC", "24:00:00").
bool FieldText(const TLSQLDataset& dataset, int index, TFieldClass typeClass,
               TFieldTextTarget target, std::string& scratch, std::string_view& text);

// FloatToXmlText of `x` when it is a short decimal (at most 15 significant
// digits, between 1E-4 and 1E15 in magnitude, as prices and measures are):
// appended to `out`, true. False, with `out` untouched, for any other value,
// which takes FloatToXmlText.
bool AppendShortDecimalText(std::string& out, double x);

// The type class (FieldTypeClass) of every field of the active dataset.
std::vector<TFieldClass> FieldClasses(const TLSQLDataset& dataset);

}  // namespace morvex
