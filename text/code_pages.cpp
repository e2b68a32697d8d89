#include "text/code_pages.h"

#include <charconv>
#include <utility>

#include "text/utf.h"

namespace morvex {

// Order matters: every lookup takes the first matching row, so a name or code
// page listed twice resolves to its first row.
const TCodePageRow CodePageTable[kCodePageTableSize] = {
    {"", "ascii ANSI", "0"},
    {"", "OEM", "1"},
    {"", "MAC", "2"},
    {"ASMO-708", "Arabic (ASMO 708)", "708"},
    {"DOS-720", "Arabic (DOS)", "720"},
    {"iso-8859-6", "Arabic (ISO)", "28596"},
    {"x-mac-arabic", "Arabic (Mac)", "10004"},
    {"windows-1256", "Arabic (Windows)", "1256"},
    {"ibm775", "Baltic (DOS)", "775"},
    {"iso-8859-4", "Baltic (ISO)", "28594"},
    {"windows-1257", "Baltic (Windows)", "1257"},
    {"ibm852", "Central European (DOS)", "852"},
    {"iso-8859-2", "Central European (ISO)", "28592"},
    {"x-mac-ce", "Central European (Mac)", "10029"},
    {"windows-1250", "Central European (Windows)", "1250"},
    {"EUC-CN", "Chinese Simplified (EUC)", "51936"},
    {"gb2312", "Chinese Simplified (GB2312)", "936"},
    {"hz-gb-2312", "Chinese Simplified (HZ)", "52936"},
    {"x-mac-chinesesimp", "Chinese Simplified (Mac)", "10008"},
    {"big5", "Chinese Traditional (Big5)", "950"},
    {"x-Chinese-CNS", "Chinese Traditional (CNS)", "20000"},
    {"x-Chinese-Eten", "Chinese Traditional (Eten)", "20002"},
    {"x-mac-chinesetrad", "Chinese Traditional (Mac)", "10002"},
    {"cp866", "Cyrillic (DOS)", "866"},
    {"iso-8859-5", "Cyrillic (ISO)", "28595"},
    {"koi8-r", "Cyrillic (KOI8-R)", "20866"},
    {"koi8-u", "Cyrillic (KOI8-U)", "21866"},
    {"x-mac-cyrillic", "Cyrillic (Mac)", "10007"},
    {"windows-1251", "Cyrillic (Windows)", "1251"},
    {"x-Europa", "Europa", "29001"},
    {"x-IA5-German", "German (IA5)", "20106"},
    {"ibm737", "Greek (DOS)", "737"},
    {"iso-8859-7", "Greek (ISO)", "28597"},
    {"x-mac-greek", "Greek (Mac)", "10006"},
    {"windows-1253", "Greek (Windows)", "1253"},
    {"ibm869", "Greek, Modern (DOS)", "869"},
    {"DOS-862", "Hebrew (DOS)", "862"},
    {"iso-8859-8-i", "Hebrew (ISO-Logical)", "38598"},
    {"iso-8859-8", "Hebrew (ISO-Visual)", "28598"},
    {"x-mac-hebrew", "Hebrew (Mac)", "10005"},
    {"windows-1255", "Hebrew (Windows)", "1255"},
    {"x-EBCDIC-Arabic", "IBM EBCDIC (Arabic)", "20420"},
    {"x-EBCDIC-CyrillicRussian", "IBM EBCDIC (Cyrillic Russian)", "20880"},
    {"x-EBCDIC-CyrillicSerbianBulgarian", "IBM EBCDIC (Cyrillic Serbian-Bulgarian)", "21025"},
    {"x-EBCDIC-DenmarkNorway", "IBM EBCDIC (Denmark-Norway)", "20277"},
    {"x-ebcdic-denmarknorway-euro", "IBM EBCDIC (Denmark-Norway-Euro)", "1142"},
    {"x-EBCDIC-FinlandSweden", "IBM EBCDIC (Finland-Sweden)", "20278"},
    {"x-ebcdic-finlandsweden-euro", "IBM EBCDIC (Finland-Sweden-Euro)", "1143"},
    {"x-ebcdic-finlandsweden-euro", "IBM EBCDIC (Finland-Sweden-Euro)", "1143"},
    {"x-ebcdic-france-euro", "IBM EBCDIC (France-Euro)", "1147"},
    {"x-EBCDIC-Germany", "IBM EBCDIC (Germany)", "20273"},
    {"x-ebcdic-germany-euro", "IBM EBCDIC (Germany-Euro)", "1141"},
    {"x-EBCDIC-GreekModern", "IBM EBCDIC (Greek Modern)", "875"},
    {"x-EBCDIC-Greek", "IBM EBCDIC (Greek)", "20423"},
    {"x-EBCDIC-Hebrew", "IBM EBCDIC (Hebrew)", "20424"},
    {"x-EBCDIC-Icelandic", "IBM EBCDIC (Icelandic)", "20871"},
    {"x-ebcdic-icelandic-euro", "IBM EBCDIC (Icelandic-Euro)", "1149"},
    {"x-ebcdic-international-euro", "IBM EBCDIC (International-Euro)", "1148"},
    {"x-EBCDIC-Italy", "IBM EBCDIC (Italy)", "20280"},
    {"x-ebcdic-italy-euro", "IBM EBCDIC (Italy-Euro)", "1144"},
    {"x-EBCDIC-JapaneseAndKana", "IBM EBCDIC (Japanese and Japanese Katakana)", "50930"},
    {"x-EBCDIC-JapaneseAndJapaneseLatin", "IBM EBCDIC (Japanese and Japanese-Latin)", "50939"},
    {"x-EBCDIC-JapaneseAndUSCanada", "IBM EBCDIC (Japanese and US-Canada)", "50931"},
    {"x-EBCDIC-JapaneseKatakana", "IBM EBCDIC (Japanese Katakana)", "20290"},
    {"x-EBCDIC-KoreanAndKoreanExtended", "IBM EBCDIC (Korean and Korean Extended)", "50933"},
    {"x-EBCDIC-KoreanExtended", "IBM EBCDIC (Korean Extended)", "20833"},
    {"CP870", "IBM EBCDIC (Multilingual Latin-2)", "870"},
    {"x-EBCDIC-SimplifiedChinese", "IBM EBCDIC (Simplified Chinese)", "50935"},
    {"X-EBCDIC-Spain", "IBM EBCDIC (Spain)", "20284"},
    {"x-ebcdic-spain-euro", "IBM EBCDIC (Spain-Euro)", "1145"},
    {"x-EBCDIC-Thai", "IBM EBCDIC (Thai)", "20838"},
    {"x-EBCDIC-TraditionalChinese", "IBM EBCDIC (Traditional Chinese)", "50937"},
    {"CP1026", "IBM EBCDIC (Turkish Latin-5)", "1026"},
    {"x-EBCDIC-Turkish", "IBM EBCDIC (Turkish)", "20905"},
    {"x-EBCDIC-UK", "IBM EBCDIC (UK)", "20285"},
    {"x-ebcdic-uk-euro", "IBM EBCDIC (UK-Euro)", "1146"},
    {"ebcdic-cp-us", "IBM EBCDIC (US-Canada)", "37"},
    {"x-ebcdic-cp-us-euro", "IBM EBCDIC (US-Canada-Euro)", "1140"},
    {"ibm861", "Icelandic (DOS)", "861"},
    {"x-mac-icelandic", "Icelandic (Mac)", "10079"},
    {"x-iscii-as", "ISCII Assamese", "57006"},
    {"x-iscii-be", "ISCII Bengali", "57003"},
    {"x-iscii-de", "ISCII Devanagari", "57002"},
    {"x-iscii-gu", "ISCII Gujarati", "57010"},
    {"x-iscii-ka", "ISCII Kannada", "57008"},
    {"x-iscii-ma", "ISCII Malayalam", "57009"},
    {"x-iscii-or", "ISCII Oriya", "57007"},
    {"x-iscii-pa", "ISCII Punjabi", "57011"},
    {"x-iscii-ta", "ISCII Tamil", "57004"},
    {"x-iscii-te", "ISCII Telugu", "57005"},
    {"euc-jp", "Japanese (EUC)", "51932"},
    {"iso-2022-jp", "Japanese (JIS)", "50220"},
    {"iso-2022-jp", "Japanese (JIS-Allow 1 byte Kana - SO/SI)", "50222"},
    {"csISO2022JP", "Japanese (JIS-Allow 1 byte Kana)", "50221"},
    {"x-mac-japanese", "Japanese (Mac)", "10001"},
    {"shift_jis", "Japanese (Shift-JIS)", "932"},
    {"ks_c_5601-1987", "Korean", "949"},
    {"euc-kr", "Korean (EUC)", "51949"},
    {"iso-2022-kr", "Korean (ISO)", "50225"},
    {"Johab", "Korean (Johab)", "1361"},
    {"x-mac-korean", "Korean (Mac)", "10003"},
    {"iso-8859-3", "Latin 3 (ISO)", "28593"},
    {"iso-8859-15", "Latin 9 (ISO)", "28605"},
    {"x-IA5-Norwegian", "Norwegian (IA5)", "20108"},
    {"IBM437", "OEM United States", "437"},
    {"x-IA5-Swedish", "Swedish (IA5)", "20107"},
    {"windows-874", "Thai (Windows)", "874"},
    {"ibm857", "Turkish (DOS)", "857"},
    {"iso-8859-9", "Turkish (ISO)", "28599"},
    {"x-mac-turkish", "Turkish (Mac)", "10081"},
    {"windows-1254", "Turkish (Windows)", "1254"},
    {"unicode", "Unicode", "1200"},
    {"unicodeFFFE", "Unicode (Big-Endian)", "1201"},
    {"utf-7", "Unicode (UTF-7)", "65000"},
    {"utf-8", "Unicode (UTF-8)", "65001"},
    {"us-ascii", "US-ASCII", "20127"},
    {"windows-1258", "Vietnamese (Windows)", "1258"},
    {"ibm850", "Western European (DOS)", "850"},
    {"x-IA5", "Western European (IA5)", "20105"},
    {"iso-8859-1", "Western European (ISO)", "28591"},
    {"macintosh", "Western European (Mac)", "10000"},
    {"Windows-1252", "Western European (Windows)", "1252"},
};

int CharsetIndexByName(std::string_view name) {
  for (int i = 0; i < kCodePageTableSize; ++i) {
    const TCodePageRow& row = CodePageTable[i];
    const char* key = row.CharsetName[0] != '\0' ? row.CharsetName : row.DisplayName;
    if (name == key) return i;
  }
  return -1;
}

int CharsetIndexByCodePage(uint16_t codePage) {
  char digits[8];
  char* end = std::to_chars(digits, digits + sizeof digits, codePage).ptr;
  std::string_view text(digits, static_cast<size_t>(end - digits));
  for (int i = 0; i < kCodePageTableSize; ++i) {
    if (text == CodePageTable[i].CodePage) return i;
  }
  return -1;
}

std::string CharsetNameOfCodePage(uint16_t codePage) {
  int index = CharsetIndexByCodePage(codePage);
  if (index < 0) return {};
  const TCodePageRow& row = CodePageTable[index];
  return row.CharsetName[0] != '\0' ? row.CharsetName : row.DisplayName;
}

void NormalizeCharsetName(std::string& name) {
  uint16_t codePage = 0;
  std::string lower = AsciiLower(name);
  if (name.size() == 3 && (lower == "dos" || lower == "oem")) {
    codePage = kSystemOemCodePage;
  } else if (name.size() == 4 && lower == "ansi") {
    codePage = kSystemAnsiCodePage;
  } else {
    return;
  }
  // The table's "utf-8" means UTF-8 behind a byte-order mark, which the
  // system's own UTF-8 encoding does not write: the word stays as it is.
  if (codePage == 65001) return;
  std::string replacement = CharsetNameOfCodePage(codePage);
  if (!replacement.empty()) name = std::move(replacement);
}

const std::string& DefaultCharsetName() {
  static const std::string name = CharsetNameOfCodePage(kSystemAnsiCodePage);
  return name;
}

}  // namespace morvex
