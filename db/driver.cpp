#include "db/driver.h"

#include <string>

#include "text/error.h"
#include "text/utf.h"

namespace morvex {

int TDbResultSet::CheckIndex(int index) const {
  if (index < 0 || index >= FieldCount()) {
    throw EMorvexError("Field index " + std::to_string(index) + " is out of range");
  }
  return index;
}

int TDbResultSet::FindField(std::string_view name) const {
  for (int i = 0; i < FieldCount(); ++i) {
    if (EqualsIgnoringAsciiCase(Field(i).Name, name)) return i;
  }
  return -1;
}

}  // namespace morvex
