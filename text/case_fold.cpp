#include "text/case_fold.h"

#include <locale.h>
#include <wctype.h>

#include "text/utf.h"

namespace morvex {

namespace {

// The C.UTF-8 character classes, loaded once for the process and never freed
// (the handle is shared by every call and lives as long as the program).
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

unsigned char AsciiLowerChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string FoldCase(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) AppendUtf8(folded, LowerChar(DecodeUtf8Char(text, pos)));
  return folded;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  // Names are almost always ASCII, and this runs for every parameter of every
  // record bound. ASCII folds byte for byte, so ASCII texts of different
  // lengths differ, and two ASCII characters that differ at one place make
  // the folded texts differ there.
  if (a.size() != b.size()) {
    if (IsAscii(a) && IsAscii(b)) return false;
    return FoldCase(a) == FoldCase(b);
  }
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if ((x | y) >= 0x80) return FoldCase(a.substr(i)) == FoldCase(b.substr(i));
    if (x != y && AsciiLowerChar(x) != AsciiLowerChar(y)) return false;
  }
  return true;
}

bool IsLetterOrDigit(char32_t cp) {
  if (cp < 0x80) {
    return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9');
  }
  const locale_t locale = UnicodeLocale();
  // Without the Unicode classes every non-ASCII character counts as a letter:
  // a name is then accepted rather than silently turned into a positional.
  if (locale == static_cast<locale_t>(0)) return true;
  return iswalnum_l(static_cast<wint_t>(cp), locale) != 0;
}

}  // namespace morvex
