#include "text/utf.h"

#include <cstdint>
#include <cstring>

namespace morvex {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Number of bytes a sequence starting with `lead` has; 0 for a byte that
// cannot start one (continuation bytes, C0, C1, F5..FF).
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Whether `byte` may follow at index `index` (1..3) of a sequence led by
// `lead`. The second byte's range excludes overlong forms, surrogates and
// values above U+10FFFF.
bool ValidContinuation(unsigned char lead, size_t index, unsigned char byte) {
  if (index == 1) {
    switch (lead) {
      case 0xE0:
        return byte >= 0xA0 && byte <= 0xBF;
      case 0xED:
        return byte >= 0x80 && byte <= 0x9F;
      case 0xF0:
        return byte >= 0x90 && byte <= 0xBF;
      case 0xF4:
        return byte >= 0x80 && byte <= 0x8F;
      default:
        break;
    }
  }
  return byte >= 0x80 && byte <= 0xBF;
}

}  // namespace

char32_t DecodeUtf8Char(std::string_view text, size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  size_t length = SequenceLength(lead);
  if (length == 1) {
    ++pos;
    return lead;
  }
  if (length == 0) {
    ++pos;
    return kReplacement;
  }
  char32_t c = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    if (pos + i >= text.size()) {
      pos += i;
      return kReplacement;
    }
    const auto byte = static_cast<unsigned char>(text[pos + i]);
    if (!ValidContinuation(lead, i, byte)) {
      pos += i;
      return kReplacement;
    }
    c = (c << 6) | (byte & 0x3F);
  }
  pos += length;
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

namespace {

// Length of the longest prefix of `text` that is valid UTF-8 (a U+FFFD
// written out counts as valid). Most text is plain ASCII: it is skipped
// eight bytes at a time.
size_t ValidUtf8Prefix(std::string_view text) {
  const char* data = text.data();
  const size_t size = text.size();
  size_t pos = 0;
  while (pos < size) {
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    while (pos + 8 <= size) {
      uint64_t word;
      std::memcpy(&word, data + pos, sizeof word);
      if ((word & kHigh) != 0) break;
      pos += 8;
    }
    if (pos == size) break;
    if (static_cast<unsigned char>(data[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const size_t start = pos;
    if (DecodeUtf8Char(text, pos) == kReplacement &&
        !(pos - start == 3 && text.substr(start, 3) == "\xEF\xBF\xBD")) {
      return start;
    }
  }
  return size;
}

}  // namespace

std::string SanitizeUtf8(std::string_view text) {
  std::string out;
  AppendSanitizedUtf8(out, text);
  return out;
}

bool IsValidUtf8(std::string_view text) { return ValidUtf8Prefix(text) == text.size(); }

void AppendSanitizedUtf8(std::string& out, std::string_view text) {
  size_t pos = ValidUtf8Prefix(text);
  out.append(text.substr(0, pos));
  while (pos < text.size()) {
    size_t start = pos;
    char32_t c = DecodeUtf8Char(text, pos);
    if (c == kReplacement) {
      AppendUtf8(out, c);
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
}

size_t CompleteUtf8Prefix(std::string_view text) {
  size_t size = text.size();
  size_t back = 0;
  while (back < 3 && back < size &&
         (static_cast<unsigned char>(text[size - 1 - back]) & 0xC0) == 0x80) {
    ++back;
  }
  if (back == size) return size;
  size_t start = size - 1 - back;
  const auto lead = static_cast<unsigned char>(text[start]);
  size_t length = SequenceLength(lead);
  size_t have = back + 1;
  if (length <= 1 || have >= length) return size;
  for (size_t i = 1; i < have; ++i) {
    if (!ValidContinuation(lead, i, static_cast<unsigned char>(text[start + i]))) return size;
  }
  return start;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {
      out += static_cast<char16_t>(byte);
      ++pos;
      continue;
    }
    char32_t c = DecodeUtf8Char(text, pos);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 | (c >> 10));
      out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string Utf8ToUtf16LeBytes(std::string_view text) {
  std::u16string units = Utf8ToUtf16(text);
  std::string out;
  out.resize(units.size() * 2);
  for (size_t i = 0; i < units.size(); ++i) {
    out[2 * i] = static_cast<char>(units[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(units[i] >> 8);
  }
  return out;
}

std::string CutToUtf16Units(std::string_view text, size_t maxUnits) {
  size_t units = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t next = pos;
    char32_t c = DecodeUtf8Char(text, next);
    size_t width = c >= 0x10000 ? 2 : 1;
    if (units + width > maxUnits) break;
    units += width;
    pos = next;
  }
  return std::string(text.substr(0, pos));
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = AsciiUpper(ch);
  return out;
}

int AsciiHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view TrimBlanks(std::string_view text, std::string_view blanks) {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimTrailingBlanks(std::string_view text) {
  const size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return out;
}

}  // namespace morvex
