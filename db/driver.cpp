#include "db/driver.h"

#include <string>

#include "db/db_values.h"
#include "text/error.h"
#include "text/utf.h"

namespace morvex {

int TDbResultSet::CheckIndex(int index) const {
  if (index < 0 || index >= FieldCount()) {
    throw EMorvexError("Field index " + std::to_string(index) + " is out of range");
  }
  return index;
}

bool TDbResultSet::IsNull(int index) const {
  CheckIndex(index);
  return Eof() || NullAt(index);
}

std::string TDbResultSet::AsText(int index) const {
  CheckIndex(index);
  return Eof() ? std::string() : TextAt(index);
}

double TDbResultSet::AsFloat(int index) const {
  const TDbFieldInfo& field = Field(index);  // checks the index before the value is read
  return DbValueFloat(AsValue(index), field.Name);
}

double TDbResultSet::AsDateTime(int index) const {
  const TDbFieldInfo& field = Field(index);
  return DbValueDateTime(AsValue(index), field.Name);
}

TDbValue TDbResultSet::AsValue(int index) const {
  CheckIndex(index);
  if (Eof()) return TDbNull{};
  return ValueAt(index);
}

bool TDbResultSet::FieldText(int index, std::string& scratch, std::string_view& text) const {
  CheckIndex(index);
  if (Eof()) return false;
  return FieldTextAt(index, scratch, text);
}

bool TDbResultSet::FieldTextAt(int index, std::string& scratch, std::string_view& text) const {
  if (NullAt(index)) return false;
  scratch = TextAt(index);
  text = scratch;
  return true;
}

std::string TDbResultSet::TextAt(int index) const {
  return DbValueText(ValueAt(index), fields_[static_cast<size_t>(index)].Type);
}

void TDbResultSet::AddField(std::string name, TFieldType type) {
  fields_.push_back({std::move(name), type});
}

EMorvexError CannotConnectError(std::string_view reason) {
  std::string message(kCannotConnect);
  message += ' ';
  message += reason;
  return EMorvexError(message);
}

EMorvexError DateTimeParameterOutOfRange(size_t number) {
  return EMorvexError("Parameter " + std::to_string(number) +
                      ": the date-time value is out of range");
}

int TDbResultSet::FindField(std::string_view name) const {
  for (int i = 0; i < FieldCount(); ++i) {
    if (EqualsIgnoringAsciiCase(Field(i).Name, name)) return i;
  }
  return -1;
}

}  // namespace morvex
