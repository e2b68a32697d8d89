#include "text/parameter_name.h"

#include "text/case_fold.h"
#include "text/utf.h"

namespace morvex {

namespace {

// White space of every kind ends a name: a TAB between a name and the next
// word is as common in hand-written SQL as a space. So does ":": parameter
// names are XML names without colons, and a PostgreSQL cast written right
// after a parameter (:day::::date) must not become part of its name.
bool EndsStatementName(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == ',' ||
         c == ';' || c == ')' || c == ':';
}

bool IsAsciiDigit(char32_t c) { return c >= '0' && c <= '9'; }

bool StartsConditionName(char32_t c) {
  return c == '_' || (IsLetterOrDigit(c) && !IsAsciiDigit(c));
}

bool ContinuesConditionName(char32_t c) { return IsLetterOrDigit(c) || c == '_' || c == '$'; }

}  // namespace

size_t ParameterNameEnd(std::string_view text, size_t start, TNameSyntax syntax) {
  size_t end = start;
  if (syntax == TNameSyntax::Statement) {
    while (end < text.size() && !EndsStatementName(text[end])) ++end;
    return end;
  }
  while (end < text.size()) {
    size_t next = end;
    const char32_t c = DecodeUtf8Char(text, next);
    if (!(end == start ? StartsConditionName(c) : ContinuesConditionName(c))) break;
    end = next;
  }
  return end;
}

bool IsParameterName(std::string_view name) {
  if (name.empty()) return false;
  for (size_t pos = 0; pos < name.size();) {
    const char32_t cp = DecodeUtf8Char(name, pos);
    if (!(IsLetterOrDigit(cp) || cp == '_' || cp == '$' || cp == '-' || cp == '.')) return false;
  }
  return true;
}

}  // namespace morvex
