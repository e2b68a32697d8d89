#include "engine/project_defs.h"

#include "db/connection_string.h"
#include "text/utf.h"

namespace morvex {

std::string DisplayedLocation(const TXSourceInfo& info) {
  return info.Kind == skOledb ? MaskConnectionPasswords(info.Location) : info.Location;
}

uint8_t SourceKindOf(std::string_view keyword) {
  const std::string kind = AsciiLower(keyword);
  if (kind == "oledb") return skOledb;
  if (kind == "file" || kind.empty()) return skFile;
  if (kind == "stream") return skStream;
  return skNone;
}

std::string SourceKindName(uint8_t code) {
  switch (code) {
    case skOledb:
      return "oledb";
    case skFile:
      return "file";
    case skStream:
      return "stream";
    default:
      return {};
  }
}

uint8_t QueryKindOf(std::string_view keyword) {
  const std::string kind = AsciiLower(keyword);
  if (kind == "file") return qkFile;
  if (kind == "inline") return qkInline;
  if (kind == "stream") return qkStream;
  return qkNone;
}

}  // namespace morvex
