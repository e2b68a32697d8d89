// The XML value type table: the names written in `type` and `kind` attributes,
// indexed 0 to 9. Database field types and declared parameter kinds map onto it.
#pragma once

#include <string>
#include <string_view>

namespace morvex {

enum TXmlType : int {
  xtString = 0,
  xtText = 1,
  xtInteger = 2,
  xtFloat = 3,
  xtDate = 4,
  xtTime = 5,
  xtDateTime = 6,
  xtBinary = 7,
  xtBoolean = 8,
  xtUnknown = 9,
};

constexpr int kXmlTypeCount = 10;

// The table entry for an index from 0 to 9; "unknown" outside that range.
std::string XmlTypeName(int index);

// The index of the entry equal to `name` exactly (letter case significant);
// 0 ("string") for an empty or unmatched name.
int XmlTypeIndex(std::string_view name);

}  // namespace morvex
