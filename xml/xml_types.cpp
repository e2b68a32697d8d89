#include "xml/xml_types.h"

namespace morvex {

namespace {
constexpr const char* kXmlTypeNames[kXmlTypeCount] = {
    "string", "text",     "integer", "float",   "date",
    "time",   "datetime", "binary",  "boolean", "unknown",
};
}  // namespace

std::string XmlTypeName(int index) {
  if (index < 0 || index >= kXmlTypeCount) return kXmlTypeNames[xtUnknown];
  return kXmlTypeNames[index];
}

int XmlTypeIndex(std::string_view name) {
  for (int i = 0; i < kXmlTypeCount; ++i) {
    if (name == kXmlTypeNames[i]) return i;
  }
  return xtString;
}

}  // namespace morvex
