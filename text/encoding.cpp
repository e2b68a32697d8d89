// Encodings over glibc iconv, with hand-written UTF-8 and UTF-16 paths.
//
// Conversions never fail as a whole: iconv stops at each character it cannot
// convert (EILSEQ) or at an incomplete tail (EINVAL); the loops below write a
// replacement there, step over the offending input and carry on. Input that
// reaches iconv's UTF-8 side is checked with our own decoder, so every stop
// advances by at least one byte whatever iconv thinks of the input.
#include "text/encoding.h"

#include <array>

#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <utility>

#include "text/code_pages.h"
#include "text/error.h"
#include "text/nearest_name.h"
#include "text/stream.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr char32_t kReplacementChar = 0xFFFD;
constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";
const iconv_t kNoIconv = reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1));

struct TIconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using TIconvPtr = std::unique_ptr<void, TIconvCloser>;

TIconvPtr OpenIconv(const std::string& to, const std::string& from) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  return TIconvPtr(cd == kNoIconv ? nullptr : cd);
}

// The iconv name of each code page of the table that glibc converts. Some
// Macintosh and vendor pages have no converter of their own; they map to the
// standard their bytes are built on (noted beside them), which decodes all
// but a handful of vendor additions correctly. Pages absent here fall back to
// the system ANSI encoding.
const std::map<uint16_t, const char*>& IconvNames() {
  static const std::map<uint16_t, const char*> names = {
      {37, "IBM037"},
      {437, "CP437"},
      {708, "ASMO-708"},
      {737, "CP737"},
      {775, "CP775"},
      {850, "CP850"},
      {852, "CP852"},
      {857, "CP857"},
      {861, "CP861"},
      {862, "CP862"},
      {866, "CP866"},
      {869, "CP869"},
      {870, "IBM870"},
      {874, "CP874"},
      {875, "CP875"},
      {932, "CP932"},
      {936, "CP936"},
      {949, "CP949"},
      {950, "CP950"},
      {1026, "IBM1026"},
      {1140, "IBM1140"},
      {1141, "IBM1141"},
      {1142, "IBM1142"},
      {1143, "IBM1143"},
      {1144, "IBM1144"},
      {1145, "IBM1145"},
      {1146, "IBM1146"},
      {1147, "IBM1147"},
      {1148, "IBM1148"},
      {1149, "IBM1149"},
      {1200, "UTF-16LE"},
      {1201, "UTF-16BE"},
      {1250, "CP1250"},
      {1251, "CP1251"},
      {1252, "CP1252"},
      {1253, "CP1253"},
      {1254, "CP1254"},
      {1255, "CP1255"},
      {1256, "CP1256"},
      {1257, "CP1257"},
      {1258, "CP1258"},
      {1361, "JOHAB"},
      {10000, "MACINTOSH"},
      {10001, "SHIFT_JIS"},  // Mac Japanese: Shift-JIS
      {10002, "BIG5"},       // Mac Chinese Traditional: Big5
      {10003, "EUC-KR"},     // Mac Korean: EUC-KR
      {10007, "MAC-CYRILLIC"},
      {10008, "EUC-CN"},  // Mac Chinese Simplified: GB2312 in EUC form
      {10029, "MAC-CENTRALEUROPE"},
      {10079, "MAC-IS"},
      {20002, "CP950"},  // Big5 with the Eten extensions
      {20106, "ISO646-DE"},
      {20107, "ISO646-SE"},
      {20108, "ISO646-NO"},
      {20127, "ASCII"},
      {20273, "IBM273"},
      {20277, "IBM277"},
      {20278, "IBM278"},
      {20280, "IBM280"},
      {20284, "IBM284"},
      {20285, "IBM285"},
      {20290, "IBM290"},
      {20420, "IBM420"},
      {20423, "IBM423"},
      {20424, "IBM424"},
      {20838, "IBM1160"},  // Thai EBCDIC; 1160 adds the euro sign to 838
      {20866, "KOI8-R"},
      {20871, "IBM871"},
      {20880, "IBM880"},
      {20905, "IBM905"},
      {21025, "IBM1025"},
      {21866, "KOI8-U"},
      {28591, "ISO-8859-1"},
      {28592, "ISO-8859-2"},
      {28593, "ISO-8859-3"},
      {28594, "ISO-8859-4"},
      {28595, "ISO-8859-5"},
      {28596, "ISO-8859-6"},
      {28597, "ISO-8859-7"},
      {28598, "ISO-8859-8"},
      {28599, "ISO-8859-9"},
      {28605, "ISO-8859-15"},
      {38598, "ISO-8859-8"},  // logical order; the bytes are those of 8859-8
      {50220, "ISO-2022-JP"},
      // Both kana-allowing variants: ISO-2022-JP-3 writes half-width kana
      // with ESC ( I and reads everything plain ISO-2022-JP holds.
      {50221, "ISO-2022-JP-3"},
      {50222, "ISO-2022-JP-3"},
      {50225, "ISO-2022-KR"},
      {50930, "IBM930"},
      {50933, "IBM933"},
      {50935, "IBM935"},
      {50937, "IBM937"},
      {50939, "IBM939"},
      {51932, "EUC-JP"},
      {51936, "EUC-CN"},
      {51949, "EUC-KR"},
      {65000, "UTF-7"},
      {65001, "UTF-8"},
  };
  return names;
}

bool IsUnicodeIconvName(const std::string& name) {
  return name == "UTF-8" || name == "UTF-16LE" || name == "UTF-16BE" || name == "UTF-7" ||
         name == "UTF-32LE" || name == "UTF-32BE";
}

// Output of iconv goes through a fixed buffer so that a text with many stops
// costs no more than one without.
constexpr size_t kConvertBuffer = 16 * 1024;

enum class TConvertStop { Done, Unconvertible, Incomplete };

// Runs iconv over `*in` until the input is used up or iconv stops at a
// character. Appends the output to `out`.
TConvertStop RunIconv(iconv_t cd, const char*& in, size_t& inLeft, std::string& out) {
  char buffer[kConvertBuffer];
  while (inLeft > 0) {
    char* inPtr = const_cast<char*>(in);
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    int error = errno;
    in = inPtr;
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (rc != static_cast<size_t>(-1)) continue;
    if (error == E2BIG) continue;
    if (error == EINVAL) return TConvertStop::Incomplete;
    return TConvertStop::Unconvertible;
  }
  return TConvertStop::Done;
}

// Appends the bytes that return `cd` to its initial shift state.
void FinishIconv(iconv_t cd, std::string& out) {
  char buffer[64];
  char* outPtr = buffer;
  size_t outLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer, static_cast<size_t>(outPtr - buffer));
}

// Encoders read code points in the C library's wide-character form: glibc
// then converts in one step, and a stop at an unencodable character costs
// nothing. (From UTF-8 it converts in two steps and, at each stop, converts
// the whole pending input again to find the stop's place.)
constexpr const char* kWideName = "WCHAR_T";
static_assert(sizeof(wchar_t) == sizeof(char32_t), "wide characters must be UTF-32");

// Converts `units` through `cd`, stepping over each one the target rejects
// after telling `onRejected` (when given) about it.
void RunWide(iconv_t cd, const char32_t* units, size_t count, std::string& out,
             const std::function<void(char32_t)>& onRejected) {
  const char* in = reinterpret_cast<const char*>(units);
  size_t inLeft = count * sizeof(char32_t);
  const char* begin = in;
  while (inLeft > 0) {
    if (RunIconv(cd, in, inLeft, out) == TConvertStop::Done) break;
    size_t index = static_cast<size_t>(in - begin) / sizeof(char32_t);
    in = begin + (index + 1) * sizeof(char32_t);
    inLeft = (count - index - 1) * sizeof(char32_t);
    if (onRejected) onRejected(units[index]);
  }
}

// Converts `text` (UTF-8, ending on a character boundary) through `cd`, a
// conversion from kWideName. Invalid UTF-8 stands for U+FFFD; a character the
// target cannot hold is replaced by the handler's text or by `replacement`,
// itself converted, its unconvertible characters dropped.
void EncodeIconv(iconv_t cd, std::string_view text, std::string& out,
                 const TEncoder::UnencodableHandler& onUnencodable, std::string_view replacement) {
  constexpr size_t kBatch = 4096;
  char32_t units[kBatch];
  std::u32string substituteUnits;
  auto substitute = [&](char32_t c) {
    std::string ascii = onUnencodable ? onUnencodable(c) : std::string(replacement);
    substituteUnits.clear();
    size_t pos = 0;
    while (pos < ascii.size()) substituteUnits += DecodeUtf8Char(ascii, pos);
    RunWide(cd, substituteUnits.data(), substituteUnits.size(), out, {});
  };
  size_t pos = 0;
  while (pos < text.size()) {
    size_t count = 0;
    while (count < kBatch && pos < text.size()) {
      auto byte = static_cast<unsigned char>(text[pos]);
      if (byte < 0x80) {
        units[count++] = byte;
        ++pos;
      } else {
        units[count++] = DecodeUtf8Char(text, pos);
      }
    }
    RunWide(cd, units, count, out, substitute);
  }
}

// Converts `bytes` to UTF-8 through `cd`; each byte iconv rejects, and an
// incomplete sequence at the end, becomes U+FFFD.
std::string DecodeIconv(iconv_t cd, std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const char* in = bytes.data();
  size_t inLeft = bytes.size();
  while (inLeft > 0) {
    TConvertStop stop = RunIconv(cd, in, inLeft, out);
    if (stop == TConvertStop::Done) break;
    out.append(kUtf8Replacement);
    if (stop == TConvertStop::Incomplete) break;
    ++in;
    --inLeft;
  }
  FinishIconv(cd, out);
  return out;
}

// One conversion descriptor per direction and iconv name, opened on first use
// and reset before each whole-text conversion.
iconv_t CachedIconv(const std::string& to, const std::string& from) {
  static std::map<std::pair<std::string, std::string>, TIconvPtr> cache;
  auto key = std::make_pair(to, from);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, OpenIconv(to, from)).first;
  iconv_t cd = it->second.get();
  if (cd != nullptr) iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return cd;
}

// Writes into a buffer sized for the worst case (two bytes per input byte, as
// no UTF-8 sequence yields more UTF-16 bytes than it has) and runs ASCII
// through a tight loop: XML output is mostly ASCII markup.
void EncodeUtf16(std::string_view text, std::string& out, bool bigEndian) {
  const size_t start = out.size();
  out.resize(start + text.size() * 2);
  char* dst = out.data() + start;
  auto put = [&](char16_t unit) {
    const char lo = static_cast<char>(unit & 0xFF);
    const char hi = static_cast<char>(unit >> 8);
    dst[0] = bigEndian ? hi : lo;
    dst[1] = bigEndian ? lo : hi;
    dst += 2;
  };
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  size_t pos = 0;
  while (pos < text.size()) {
    if (bytes[pos] < 0x80) {
      put(bytes[pos++]);
      continue;
    }
    char32_t c = DecodeUtf8Char(text, pos);
    if (c >= 0x10000) {
      c -= 0x10000;
      put(static_cast<char16_t>(0xD800 | (c >> 10)));
      put(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
    } else {
      put(static_cast<char16_t>(c));
    }
  }
  out.resize(static_cast<size_t>(dst - out.data()));
}

std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  size_t units = bytes.size() / 2;
  auto unitAt = [&](size_t i) -> char32_t {
    auto a = static_cast<unsigned char>(bytes[2 * i]);
    auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    return bigEndian ? (a << 8) | b : (b << 8) | a;
  };
  for (size_t i = 0; i < units; ++i) {
    char32_t c = unitAt(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      char32_t low = unitAt(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(out, c);  // an unpaired surrogate becomes U+FFFD
  }
  if (bytes.size() % 2 != 0) out.append(kUtf8Replacement);
  return out;
}

enum class TEncodingKind { Utf8, Utf16Le, Utf16Be, Iconv };

class TUtf8Encoding final : public TEncoding {
 public:
  explicit TUtf8Encoding(std::string_view preamble)
      : TEncoding(65001, "UTF-8", std::string(preamble)) {}
  std::string GetBytes(std::string_view text) const override { return SanitizeUtf8(text); }
  std::string GetString(std::string_view bytes) const override { return SanitizeUtf8(bytes); }
};

class TUtf16Encoding final : public TEncoding {
 public:
  TUtf16Encoding(bool bigEndian, bool withPreamble)
      : TEncoding(
            bigEndian ? 1201 : 1200, bigEndian ? "UTF-16BE" : "UTF-16LE",
            withPreamble ? std::string(bigEndian ? kUtf16BeBom : kUtf16LeBom) : std::string()),
        bigEndian_(bigEndian) {}
  std::string GetBytes(std::string_view text) const override {
    std::string out;
    EncodeUtf16(text, out, bigEndian_);
    return out;
  }
  std::string GetString(std::string_view bytes) const override {
    return DecodeUtf16(bytes, bigEndian_);
  }

 private:
  bool bigEndian_;
};

class TIconvEncoding final : public TEncoding {
 public:
  TIconvEncoding(uint16_t codePage, std::string iconvName, std::string_view preamble = {})
      : TEncoding(codePage, std::move(iconvName), std::string(preamble)) {}
};

TEncodingKind KindOf(const TEncoding& encoding) {
  const std::string& name = encoding.IconvName();
  if (name == "UTF-8") return TEncodingKind::Utf8;
  if (name == "UTF-16LE") return TEncodingKind::Utf16Le;
  if (name == "UTF-16BE") return TEncodingKind::Utf16Be;
  return TEncodingKind::Iconv;
}

std::string ReplacementOf(const TEncoding& encoding) {
  return IsUnicodeIconvName(encoding.IconvName()) ? std::string(kUtf8Replacement)
                                                  : std::string("?");
}

bool IconvConvertsBothWays(const std::string& name) {
  return OpenIconv(name, kWideName) && OpenIconv("UTF-8", name);
}

// The iconv name for a code page, or empty when glibc cannot convert it both
// ways. Code pages outside the table are tried under their "CP" name.
std::string SupportedIconvName(uint16_t codePage) {
  const auto& names = IconvNames();
  auto it = names.find(codePage);
  std::string name = it != names.end() ? it->second : "CP" + std::to_string(codePage);
  if (IconvConvertsBothWays(name)) return name;
  return {};
}

// Names iconv may be given: it reads "//" and "," as conversion flags
// ("latin1//TRANSLIT"), which would change what is written.
bool IsPlainEncodingName(std::string_view name) {
  for (char c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == ':' || c == '+';
    if (!plain) return false;
  }
  return !name.empty();
}

// The first table row whose charset name equals `name` with ASCII case
// ignored; -1 when none.
int CharsetIndexIgnoringCase(std::string_view name) {
  int exact = CharsetIndexByName(name);
  if (exact >= 0) return exact;
  for (int i = 0; i < kCodePageTableSize; ++i) {
    const char* charset = CodePageTable[i].CharsetName;
    if (charset[0] != '\0' && EqualsIgnoringAsciiCase(charset, name)) return i;
  }
  return -1;
}

// The row's code page column read as a number; 0 when it is not one.
uint16_t CodePageOfRow(int index) {
  uint32_t codePage = 0;
  for (const char* p = CodePageTable[index].CodePage; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || codePage > 0xFFFF) return 0;
    codePage = codePage * 10 + static_cast<uint32_t>(*p - '0');
  }
  return codePage > 0xFFFF ? 0 : static_cast<uint16_t>(codePage);
}

// Lives for the process; encodings are created on first use, so that a run
// opens only the converters it writes or reads with.
class TEncodingRegistry {
 public:
  static TEncodingRegistry& Instance() {
    static TEncodingRegistry registry;
    return registry;
  }

  const TEncoding& Ansi() const { return ansi_; }

  const TEncoding& ForCodePage(uint16_t codePage) {
    const TEncoding* encoding = FindCodePage(codePage);
    return encoding ? *encoding : ansi_;
  }

  // nullptr when glibc cannot convert the code page.
  const TEncoding* FindCodePage(uint16_t codePage) {
    if (codePage == 0) return &ansi_;
    if (codePage == 1) codePage = kSystemOemCodePage;
    if (codePage == 2) codePage = kSystemMacCodePage;
    auto it = encodings_.find(codePage);
    if (it == encodings_.end()) it = encodings_.emplace(codePage, Create(codePage)).first;
    return it->second.get();
  }

  // An encoding iconv knows by `name` (outside the code-page table); nullptr
  // when it knows none.
  const TEncoding* FindIconvName(std::string_view name) {
    const std::string key = AsciiUpper(name);
    auto it = named_.find(key);
    if (it == named_.end()) it = named_.emplace(key, CreateNamed(key)).first;
    return it->second.get();
  }

 private:
  static std::unique_ptr<TEncoding> Create(uint16_t codePage) {
    switch (codePage) {
      case 65001:
        return std::make_unique<TUtf8Encoding>(kUtf8Bom);
      case 1200:
        return std::make_unique<TUtf16Encoding>(false, true);
      case 1201:
        return std::make_unique<TUtf16Encoding>(true, true);
      default:
        break;
    }
    std::string name = SupportedIconvName(codePage);
    if (name.empty()) return nullptr;
    return std::make_unique<TIconvEncoding>(codePage, std::move(name));
  }

  // The Unicode forms follow the byte-order mark rules of their names: "utf-16"
  // and "utf-32" leave the byte order open, so their bytes are little-endian
  // behind a mark that says so; the names that fix the order ("utf-16be",
  // "utf-32le") and "utf8" have no mark. Every other name is iconv's.
  std::unique_ptr<TEncoding> CreateNamed(const std::string& name) {
    if (name == "UTF8") return std::make_unique<TUtf8Encoding>(std::string_view());
    if (name == "UTF-16LE" || name == "UTF16LE")
      return std::make_unique<TUtf16Encoding>(false, false);
    if (name == "UTF-16BE" || name == "UTF16BE")
      return std::make_unique<TUtf16Encoding>(true, false);
    if (name == "UTF-16" || name == "UTF16") return std::make_unique<TUtf16Encoding>(false, true);
    if (name == "UTF-32" || name == "UTF32") {
      return std::make_unique<TIconvEncoding>(0, "UTF-32LE", std::string_view("\xFF\xFE\0\0", 4));
    }
    if (name == "UTF-32LE" || name == "UTF32LE")
      return std::make_unique<TIconvEncoding>(0, "UTF-32LE");
    if (name == "UTF-32BE" || name == "UTF32BE")
      return std::make_unique<TIconvEncoding>(0, "UTF-32BE");
    if (!IsPlainEncodingName(name) || !IconvConvertsBothWays(name)) return nullptr;
    return std::make_unique<TIconvEncoding>(0, name);
  }

  TUtf8Encoding ansi_{std::string_view()};
  // A null entry remembers a code page that falls back to the ANSI encoding.
  std::map<uint16_t, std::unique_ptr<TEncoding>> encodings_;
  // By upper-cased name; a null entry remembers a name iconv does not know.
  std::map<std::string, std::unique_ptr<TEncoding>, std::less<>> named_;
};

// "Unknown encoding "<name>"", followed by up to three known names near it:
// the code-page table's charset names and the names people type that iconv
// knows under them.
std::string UnknownEncodingMessage(std::string_view name) {
  std::vector<std::string> known;
  for (const TCodePageRow& row : CodePageTable) {
    if (row.CharsetName[0] != '\0') known.emplace_back(row.CharsetName);
  }
  known.insert(known.end(), {"ansi", "oem", "dos", "utf8", "utf-16", "utf-16le", "utf-16be",
                             "utf-32", "utf-32le", "utf-32be", "latin1", "latin2", "ascii"});
  std::vector<std::string> nearest;
  for (int n = 0; n < 3; ++n) {
    const std::string next = NearestName(std::string(name), known);
    if (next.empty()) break;
    nearest.push_back(next);
    std::erase_if(known, [&](const std::string& k) { return EqualsIgnoringAsciiCase(k, next); });
  }
  std::string message = "Unknown encoding \"" + std::string(name) + "\"";
  for (size_t i = 0; i < nearest.size(); ++i) {
    message += i == 0 ? " (did you mean " : i + 1 == nearest.size() ? " or " : ", ";
    message += nearest[i];
  }
  if (!nearest.empty()) message += "?)";
  return message;
}

}  // namespace

std::string TEncoding::GetBytes(std::string_view text) const {
  iconv_t cd = CachedIconv(iconvName_, kWideName);
  if (cd == nullptr) return SanitizeUtf8(text);
  std::string out;
  out.reserve(text.size());
  EncodeIconv(cd, text, out, {}, ReplacementOf(*this));
  FinishIconv(cd, out);
  return out;
}

std::string TEncoding::GetString(std::string_view bytes) const {
  iconv_t cd = CachedIconv("UTF-8", iconvName_);
  if (cd == nullptr) return SanitizeUtf8(bytes);
  return DecodeIconv(cd, bytes);
}

const TEncoding& EncodingForCodePage(uint16_t codePage) {
  return TEncodingRegistry::Instance().ForCodePage(codePage);
}

const TEncoding& SystemAnsiEncoding() { return TEncodingRegistry::Instance().Ansi(); }

const TEncoding& EncodingForName(std::string_view name) {
  TEncodingRegistry& registry = TEncodingRegistry::Instance();
  if (name.empty()) return registry.Ansi();
  // The console and the system's ANSI code page are UTF-8 here, and the
  // system's own encoding writes no byte-order mark.
  const std::string lower = AsciiLower(name);
  if (lower == "dos" || lower == "oem" || lower == "ansi") return registry.Ansi();
  const int index = CharsetIndexIgnoringCase(name);
  if (index >= 0) {
    const uint16_t codePage = CodePageOfRow(index);
    // A table code page glibc has no conversion for gives the system
    // encoding, and the XML declaration then names UTF-8, the bytes written.
    const TEncoding* encoding = registry.FindCodePage(codePage);
    return encoding != nullptr ? *encoding : registry.Ansi();
  }
  if (const TEncoding* encoding = registry.FindIconvName(name)) return *encoding;
  throw EMorvexError(UnknownEncodingMessage(name));
}

const char* IconvNameOfCodePage(uint16_t codePage) {
  const auto& names = IconvNames();
  auto it = names.find(codePage);
  return it != names.end() ? it->second : nullptr;
}

TByteOrderMark ByteOrderMarkOf(std::string_view bytes) {
  using namespace std::string_view_literals;
  // The four-byte marks first: FF FE 00 00 also starts with the UTF-16LE one.
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kMarks{{
      {"\xFF\xFE\0\0"sv, "UTF-32LE"},
      {"\0\0\xFE\xFF"sv, "UTF-32BE"},
      {kUtf8Bom, "UTF-8"},
      {kUtf16LeBom, "UTF-16LE"},
      {kUtf16BeBom, "UTF-16BE"},
  }};
  for (const auto& [mark, name] : kMarks) {
    if (bytes.starts_with(mark)) return {mark.size(), name};
  }
  return {};
}

std::string DecodeWithPreamble(std::string_view bytes, const TEncoding& fallback) {
  const TByteOrderMark mark = ByteOrderMarkOf(bytes);
  if (mark.Length == 0) return fallback.GetString(bytes);
  return EncodingForName(mark.IconvName).GetString(bytes.substr(mark.Length));
}

bool LoadTextFileUtf8(std::string& text, const std::string& fileName) {
  std::string bytes;
  try {
    TFileStream file(fileName, TFileStream::Mode::Read);
    bytes = file.ReadToEnd();
  } catch (const EMorvexError&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  text = DecodeWithPreamble(bytes, EncodingForCodePage(65001));
  return true;
}

// ---------------------------------------------------------------- TEncoder

struct TDecoder::Impl {
  TIconvPtr Cd;  // the decoder's own descriptor: it keeps the shift state
};

TDecoder::TDecoder(const TEncoding& encoding) : impl_(std::make_unique<Impl>()) {
  impl_->Cd = OpenIconv("UTF-8", encoding.IconvName());
  if (!impl_->Cd) {
    throw EMorvexError("Cannot read text in the encoding " + encoding.IconvName());
  }
}

TDecoder::~TDecoder() = default;

size_t TDecoder::Decode(std::string_view bytes, bool atEnd, std::string& out) {
  iconv_t cd = impl_->Cd.get();
  const char* in = bytes.data();
  size_t inLeft = bytes.size();
  while (inLeft > 0) {
    const TConvertStop stop = RunIconv(cd, in, inLeft, out);
    if (stop == TConvertStop::Done) break;
    if (stop == TConvertStop::Incomplete && !atEnd) break;
    out.append(kUtf8Replacement);
    if (stop == TConvertStop::Incomplete) {
      inLeft = 0;
      break;
    }
    ++in;
    --inLeft;
  }
  if (atEnd) FinishIconv(cd, out);
  return bytes.size() - inLeft;
}

struct TEncoder::Impl {
  const TEncoding& Encoding;
  TEncodingKind Kind;
  std::string Replacement;
  TIconvPtr Cd;         // the encoder's own descriptor: it keeps the shift state
  std::string Pending;  // the start of a UTF-8 sequence cut at a piece's end

  explicit Impl(const TEncoding& encoding)
      : Encoding(encoding), Kind(KindOf(encoding)), Replacement(ReplacementOf(encoding)) {
    if (Kind == TEncodingKind::Iconv) Cd = OpenIconv(encoding.IconvName(), kWideName);
  }

  void EncodeComplete(std::string_view text, std::string& out,
                      const UnencodableHandler& onUnencodable) {
    switch (Kind) {
      case TEncodingKind::Utf8:
        AppendSanitizedUtf8(out, text);
        break;
      case TEncodingKind::Utf16Le:
        EncodeUtf16(text, out, false);
        break;
      case TEncodingKind::Utf16Be:
        EncodeUtf16(text, out, true);
        break;
      case TEncodingKind::Iconv:
        if (Cd) {
          EncodeIconv(static_cast<iconv_t>(Cd.get()), text, out, onUnencodable, Replacement);
        } else {
          AppendSanitizedUtf8(out, text);
        }
        break;
    }
  }
};

TEncoder::TEncoder(const TEncoding& encoding) : impl_(std::make_unique<Impl>(encoding)) {}

TEncoder::~TEncoder() = default;

bool TEncoder::EncodesAllCharacters() const {
  return IsUnicodeIconvName(impl_->Encoding.IconvName());
}

void TEncoder::Encode(std::string_view text, std::string& out,
                      const UnencodableHandler& onUnencodable) {
  Impl& impl = *impl_;
  if (!impl.Pending.empty()) {
    // Decode the cut sequence with as many bytes of this piece as the whole
    // text would have offered (a sequence has at most four).
    std::string head = impl.Pending;
    head.append(text.substr(0, 4 - head.size()));
    if (CompleteUtf8Prefix(head) == 0) {
      impl.Pending = std::move(head);  // still a valid start: the piece was tiny
      return;
    }
    size_t end = 0;
    DecodeUtf8Char(head, end);
    // The pending bytes are a valid start, so the character spans them all.
    text.remove_prefix(end - impl.Pending.size());
    impl.Pending.clear();
    impl.EncodeComplete(std::string_view(head).substr(0, end), out, onUnencodable);
  }
  size_t complete = CompleteUtf8Prefix(text);
  impl.Pending.assign(text.substr(complete));
  impl.EncodeComplete(text.substr(0, complete), out, onUnencodable);
}

void TEncoder::Finish(std::string& out) {
  Impl& impl = *impl_;
  if (!impl.Pending.empty()) {
    // A text that ends inside a sequence: the cut bytes are invalid UTF-8.
    std::string pending = std::move(impl.Pending);
    impl.Pending.clear();
    impl.EncodeComplete(pending, out, {});
  }
  if (impl.Cd) FinishIconv(static_cast<iconv_t>(impl.Cd.get()), out);
}

}  // namespace morvex
