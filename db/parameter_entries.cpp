#include "db/parameter_entries.h"

#include <locale.h>
#include <wctype.h>

#include "text/utf.h"

namespace morvex {

namespace {

// The C.UTF-8 character classes, loaded once and kept for the process.
locale_t UnicodeLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

char32_t LowerChar(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + ('a' - 'A') : cp;
  const locale_t locale = UnicodeLocale();
  if (locale == static_cast<locale_t>(0)) return cp;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), locale));
}

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string_view EntryName(std::string_view entry) { return entry.substr(0, entry.find('=')); }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string FoldCase(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) AppendUtf8(folded, LowerChar(DecodeUtf8Char(text, pos)));
  return folded;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (LowerChar(static_cast<unsigned char>(a[i])) !=
          LowerChar(static_cast<unsigned char>(b[i]))) {
        return false;
      }
    }
    return true;
  }
  return FoldCase(a) == FoldCase(b);
}

const std::string* FindParameterEntry(const std::vector<std::string>& entries,
                                      std::string_view name) {
  for (const std::string& entry : entries) {
    if (SameTextIgnoringCase(EntryName(entry), name)) return &entry;
  }
  return nullptr;
}

std::string_view ParameterEntryValue(std::string_view entry) {
  const size_t equals = entry.find('=');
  return equals == std::string_view::npos ? std::string_view() : entry.substr(equals + 1);
}

void ReplaceReference(std::string& text, std::string_view name, std::string_view value) {
  std::string pattern = ":";
  for (const char c : name) pattern.push_back(AsciiUpper(c));
  std::string result;
  size_t i = 0;
  bool replaced = false;
  while (i < text.size()) {
    bool match = text.size() - i >= pattern.size();
    for (size_t k = 0; match && k < pattern.size(); ++k) {
      match = AsciiUpper(text[i + k]) == pattern[k];
    }
    if (match) {
      if (!replaced) {
        result.reserve(text.size());
        result.append(text, 0, i);
        replaced = true;
      }
      result.append(value);
      i += pattern.size();
    } else {
      if (replaced) result.push_back(text[i]);
      ++i;
    }
  }
  if (replaced) text = std::move(result);
}

}  // namespace morvex
