#include "xml/xml_names.h"

#include <libxml/tree.h>

#include <string>

#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

bool IsAsciiNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
}

bool IsAsciiNameChar(unsigned char c) {
  return IsAsciiNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

[[noreturn]] void ThrowInvalidName(std::string_view name) {
  throw EMorvexError("\"" + std::string(name) + "\" is not a valid XML name");
}

}  // namespace

// ASCII names, nearly all of them, are checked here; others by libxml2's rules.
bool IsXmlName(std::string_view name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80) {
      const std::string copy(name);
      return copy.find('\0') == std::string::npos && SanitizeUtf8(copy) == copy &&
             xmlValidateName(reinterpret_cast<const xmlChar*>(copy.c_str()), 0) == 0;
    }
    if (!(i == 0 ? IsAsciiNameStart(c) : IsAsciiNameChar(c))) return false;
  }
  return true;
}

bool IsXmlNcName(std::string_view name) {
  return name.find(':') == std::string_view::npos && IsXmlName(name);
}

void RequireXmlName(std::string_view name) {
  if (!IsXmlName(name)) ThrowInvalidName(name);
}

void RequireXmlNcName(std::string_view name) {
  if (!IsXmlNcName(name)) ThrowInvalidName(name);
}

}  // namespace morvex
