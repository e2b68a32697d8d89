#include "engine/names.h"

#include "text/case_fold.h"
#include "text/utf.h"

namespace morvex {

std::string NameKey(std::string_view name) { return FoldCase(name); }

bool SameName(std::string_view a, std::string_view b) { return SameTextIgnoringCase(a, b); }

bool IsParameterName(std::string_view name) {
  if (name.empty()) return false;
  for (size_t pos = 0; pos < name.size();) {
    const char32_t cp = DecodeUtf8Char(name, pos);
    if (!(IsLetterOrDigit(cp) || cp == '_' || cp == '$' || cp == '-' || cp == '.')) return false;
  }
  return true;
}

}  // namespace morvex
