#include "text/encoding.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "text/code_pages.h"
#include "text/error.h"
#include "text/utf.h"

namespace morvex {
namespace {

bool IsValidUtf8(std::string_view text) { return SanitizeUtf8(text) == text; }

uint16_t CodePageOfRow(int row) {
  return static_cast<uint16_t>(std::atoi(CodePageTable[row].CodePage));
}

// Table code pages that glibc iconv cannot convert; they give the system ANSI
// encoding. Any other page falling back means a wrong iconv name.
const std::set<uint16_t> kUnconverted = {720,   10004, 52936, 20000, 29001, 10006, 10005,
                                         50931, 20833, 57006, 57003, 57002, 57010, 57008,
                                         57009, 57007, 57011, 57004, 57005, 10081, 20105};

// Letters native to code pages, beside the ASCII sample: text, code pages.
const std::map<uint16_t, std::string>& NativeSamples() {
  static const std::map<uint16_t, std::string> samples = [] {
    const std::pair<const char*, std::vector<uint16_t>> groups[] = {
        {"\xD8\xA8", {708, 28596, 1256, 20420}},                                 // ب
        {"\xC4\x84", {775}},                                                     // Ą
        {"\xC4\x85", {28594, 1257}},                                             // ą
        {"\xC5\x99", {852, 28592, 10029, 1250, 870}},                            // ř
        {"\xE4\xB8\xAD", {51936, 936, 10008, 50935, 950, 20002, 10002, 50937}},  // 中
        {"\xD0\x96", {866, 28595, 20866, 21866, 10007, 1251, 20880, 21025}},     // Ж
        {"\xC3\xA4", {20106, 20107}},                                            // ä
        {"\xC3\xA5", {20108}},                                                   // å
        {"\xCE\xA9", {737, 28597, 1253, 869, 875, 20423}},                       // Ω
        {"\xD7\x90", {862, 38598, 28598, 1255, 20424}},                          // א
        {"\xC3\x86", {20277}},                                                   // Æ
        {"\xC3\x86\xE2\x82\xAC", {1142}},                                        // Æ€
        {"\xC3\x84", {20278}},                                                   // Ä
        {"\xC3\x84\xE2\x82\xAC", {1143}},                                        // Ä€
        {"\xC3\xA9\xE2\x82\xAC", {1147, 1148, 1144, 1140}},                      // é€
        {"\xC3\x9F", {20273}},                                                   // ß
        {"\xC3\x9F\xE2\x82\xAC", {1141}},                                        // ß€
        {"\xC3\x9E", {20871, 861, 10079}},                                       // Þ
        {"\xC3\x9E\xE2\x82\xAC", {1149}},                                        // Þ€
        {"\xC3\xA9", {20280, 37, 437, 850, 28591, 10000}},                       // é
        {"\xE6\x97\xA5", {50930, 50939, 51932, 10001, 932}},                     // 日
        {"\xE3\x82\xA2", {20290}},                                               // ア
        {"\xED\x95\x9C", {50933, 949, 51949, 50225, 1361, 10003}},               // 한
        {"\xC3\xB1", {20284}},                                                   // ñ
        {"\xC3\xB1\xE2\x82\xAC", {1145}},                                        // ñ€
        {"\xE0\xB8\x81", {20838, 874}},                                          // ก
        {"\xC5\x9F", {1026, 20905, 857, 28599, 1254}},                           // ş
        {"\xC2\xA3", {20285}},                                                   // £
        {"\xC2\xA3\xE2\x82\xAC", {1146}},                                        // £€
        {"\xE6\x97\xA5\xE6\x9C\xAC", {50220}},                                   // 日本
        {"\xE6\x97\xA5\xEF\xBD\xB1", {50222, 50221}},                            // 日ｱ
        {"\xC4\x9D", {28593}},                                                   // ĝ
        {"\xE2\x82\xAC", {28605, 1252}},                                         // €
        {"\xE4\xB8\xAD\xF0\x9F\x98\x80", {1200, 1201, 65000, 65001}},            // 中😀
        {"\xC6\xB0", {1258}},                                                    // ư
    };
    std::map<uint16_t, std::string> byCodePage;
    for (const auto& [text, codePages] : groups) {
      for (uint16_t codePage : codePages) byCodePage[codePage] = text;
    }
    return byCodePage;
  }();
  return samples;
}

TEST(Encoding, EveryConvertibleTableCodePageRoundTrips) {
  for (int row = 3; row < kCodePageTableSize; ++row) {
    uint16_t codePage = CodePageOfRow(row);
    const TEncoding& encoding = EncodingForCodePage(codePage);
    SCOPED_TRACE(std::string(CodePageTable[row].CharsetName) + " " + encoding.IconvName());
    if (kUnconverted.count(codePage)) {
      EXPECT_EQ(&encoding, &SystemAnsiEncoding());
      continue;
    }
    ASSERT_EQ(encoding.CodePage(), codePage);
    // Upper-case letters and digits: the Katakana EBCDIC page has no others.
    std::string sample = "AZ09";
    auto native = NativeSamples().find(codePage);
    if (native != NativeSamples().end()) {
      sample += native->second;
    } else {
      EXPECT_EQ(codePage, 20127) << "no native sample";
    }
    std::string bytes = encoding.GetBytes(sample);
    EXPECT_EQ(encoding.GetString(bytes), sample);
    EXPECT_EQ(bytes.find('?'), std::string::npos);
  }
}

TEST(Encoding, PreamblesAndSymbolicCodePages) {
  EXPECT_EQ(SystemAnsiEncoding().Preamble(), "");
  EXPECT_EQ(SystemAnsiEncoding().CodePage(), 65001);
  EXPECT_TRUE(SystemAnsiEncoding().IsUtf8());
  EXPECT_EQ(EncodingForCodePage(65001).Preamble(), "\xEF\xBB\xBF");
  EXPECT_EQ(EncodingForCodePage(1200).Preamble(), "\xFF\xFE");
  EXPECT_EQ(EncodingForCodePage(1201).Preamble(), "\xFE\xFF");
  EXPECT_EQ(EncodingForCodePage(65000).Preamble(), "");
  EXPECT_EQ(EncodingForCodePage(1252).Preamble(), "");
  EXPECT_EQ(&EncodingForCodePage(0), &SystemAnsiEncoding());
  EXPECT_EQ(&EncodingForCodePage(1), &EncodingForCodePage(65001));
  EXPECT_EQ(&EncodingForCodePage(2), &EncodingForCodePage(10000));
  EXPECT_EQ(&EncodingForCodePage(1250), &EncodingForCodePage(1250));
  EXPECT_EQ(EncodingForCodePage(1250).IconvName(), "CP1250");
  EXPECT_EQ(&EncodingForCodePage(4), &SystemAnsiEncoding());
}

TEST(Encoding, NamesResolveByTheTableIgnoringCase) {
  EXPECT_EQ(&EncodingForName(""), &SystemAnsiEncoding());
  EXPECT_EQ(&EncodingForName("utf-8"), &EncodingForCodePage(65001));
  EXPECT_EQ(&EncodingForName("UTF-8"), &EncodingForCodePage(65001));
  EXPECT_EQ(&EncodingForName("unicode"), &EncodingForCodePage(1200));
  EXPECT_EQ(&EncodingForName("UnicodeFFFE"), &EncodingForCodePage(1201));
  EXPECT_EQ(EncodingForName("iso-2022-jp").CodePage(), 50220);
  EXPECT_EQ(EncodingForName("windows-1250").CodePage(), 1250);
  EXPECT_EQ(EncodingForName("Windows-1252").CodePage(), 1252);
  EXPECT_EQ(EncodingForName("windows-1252").CodePage(), 1252);
  EXPECT_EQ(EncodingForName("ibm437").CodePage(), 437);
  EXPECT_EQ(&EncodingForName("MAC"), &EncodingForCodePage(10000));
}

TEST(Encoding, SystemWordsGiveUtf8WithoutPreamble) {
  for (const char* word : {"dos", "OEM", "Ansi", "ANSI"}) {
    SCOPED_TRACE(word);
    const TEncoding& encoding = EncodingForName(word);
    EXPECT_EQ(&encoding, &SystemAnsiEncoding());
    EXPECT_TRUE(encoding.IsUtf8());
    EXPECT_EQ(encoding.Preamble(), "");
  }
}

TEST(Encoding, NamesIconvKnowsOutsideTheTable) {
  const std::string text = "\xC5\x99\xC3\xA9";  // ře
  EXPECT_EQ(EncodingForName("cp1250").GetBytes(text), "\xF8\xE9");
  EXPECT_EQ(EncodingForName("ISO8859-2").GetBytes(text), "\xF8\xE9");
  EXPECT_EQ(EncodingForName("latin1").GetBytes("\xC3\xA9"), "\xE9");
  EXPECT_EQ(EncodingForName("latin1").GetString("\xE9"), "\xC3\xA9");
  EXPECT_EQ(EncodingForName("latin1").Preamble(), "");
  EXPECT_EQ(&EncodingForName("LATIN1"), &EncodingForName("latin1"));

  // "utf-16" and "utf-32" leave the order open: little-endian behind a mark.
  // The names that fix the order, and "utf8", have no mark.
  const TEncoding& utf16 = EncodingForName("utf-16");
  EXPECT_EQ(utf16.Preamble(), "\xFF\xFE");
  EXPECT_EQ(utf16.GetBytes("a\xE4\xB8\xAD"), std::string("a\0\x2D\x4E", 4));
  EXPECT_EQ(EncodingForName("UTF-16LE").Preamble(), "");
  EXPECT_EQ(EncodingForName("utf-16le").GetBytes("a"), std::string("a\0", 2));
  EXPECT_EQ(EncodingForName("utf-16be").Preamble(), "");
  EXPECT_EQ(EncodingForName("utf-16be").GetBytes("a"), std::string("\0a", 2));
  const TEncoding& utf32 = EncodingForName("utf-32");
  EXPECT_EQ(utf32.Preamble(), std::string("\xFF\xFE\0\0", 4));
  EXPECT_EQ(utf32.GetBytes("a\xF0\x9F\x98\x80"), std::string("a\0\0\0\x00\xF6\x01\0", 8));
  EXPECT_EQ(utf32.GetString(std::string("a\0\0\0", 4)), "a");
  EXPECT_EQ(EncodingForName("utf-32be").GetBytes("a"), std::string("\0\0\0a", 4));
  EXPECT_EQ(EncodingForName("utf-32be").Preamble(), "");
  EXPECT_EQ(EncodingForName("utf8").Preamble(), "");
  EXPECT_TRUE(EncodingForName("utf8").IsUtf8());
}

TEST(Encoding, UnknownNamesFailNamingThem) {
  auto messageOf = [](const char* name) {
    try {
      EncodingForName(name);
    } catch (const EMorvexError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(messageOf("no-such-charset"), "Unknown encoding \"no-such-charset\"");
  // iconv reads "//" and "," as conversion flags; such a name is no name.
  EXPECT_EQ(messageOf("latin1//TRANSLIT"), "Unknown encoding \"latin1//TRANSLIT\"");
  // Known names near a misspelt one are named, nearest first.
  EXPECT_EQ(messageOf("utf-8 "),
            "Unknown encoding \"utf-8 \" (did you mean utf-8, utf-7 or utf-16?)");
  EXPECT_EQ(messageOf("UTF-99"),
            "Unknown encoding \"UTF-99\" (did you mean utf-7, utf-8 or utf-16?)");
  EXPECT_EQ(messageOf("windows-1205"),
            "Unknown encoding \"windows-1205\" (did you mean windows-1250, windows-1255 or "
            "windows-1256?)");
  // A table name glibc has no conversion for gives the system encoding.
  EXPECT_EQ(messageOf("x-mac-greek"), "no error");
  EXPECT_EQ(&EncodingForName("x-mac-greek"), &SystemAnsiEncoding());
}

TEST(Encoding, UnencodableAndInvalidInputBecomeReplacements) {
  const TEncoding& latin = EncodingForCodePage(1252);
  EXPECT_EQ(latin.GetBytes("a\xE4\xB8\xAD"
                           "b\xFF"
                           "c"),
            "a?b?c");
  // The replacement is converted too: "?" is 0x6F in EBCDIC.
  EXPECT_EQ(EncodingForCodePage(37).GetBytes("A\xE4\xB8\xAD"), "\xC1\x6F");
  EXPECT_EQ(EncodingForCodePage(20127).GetBytes("caf\xC3\xA9"), "caf?");
  // Unicode encodings hold U+FFFD for invalid input.
  EXPECT_EQ(EncodingForCodePage(65001).GetBytes("a\xC0\xAF"), "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(EncodingForCodePage(1200).GetBytes("a\xFF"), std::string("a\0\xFD\xFF", 4));
  EXPECT_EQ(EncodingForCodePage(1201).GetBytes("\xF0\x9F\x98\x80"),
            std::string("\xD8\x3D\xDE\x00", 4));
  // Undecodable bytes become U+FFFD.
  EXPECT_EQ(EncodingForCodePage(20127).GetString("a\x80"
                                                 "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(EncodingForCodePage(932).GetString("a\x82"), "a\xEF\xBF\xBD");
  EXPECT_EQ(EncodingForCodePage(1200).GetString(std::string("a\0\x00\xD8"
                                                            "b",
                                                            5)),
            "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Encoding, GarbageNeverBreaksAConversion) {
  std::mt19937 random(12345);
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>(random() & 0xFF);
  std::set<uint16_t> seen;
  for (int row = 0; row < kCodePageTableSize; ++row) {
    const TEncoding& encoding = EncodingForCodePage(CodePageOfRow(row));
    if (!seen.insert(encoding.CodePage()).second) continue;
    SCOPED_TRACE(encoding.IconvName());
    for (const std::string& input : {allBytes, noise}) {
      std::string text = encoding.GetString(input);
      EXPECT_TRUE(IsValidUtf8(text));
      encoding.GetBytes(input);
      encoding.GetBytes(text);
    }
  }
}

TEST(Encoding, DecodeWithPreambleAndLoadTextFile) {
  const TEncoding& latin = EncodingForCodePage(1252);
  EXPECT_EQ(DecodeWithPreamble("\xEF\xBB\xBF"
                               "a",
                               latin),
            "a");
  EXPECT_EQ(DecodeWithPreamble(std::string("\xFF\xFE"
                                           "a\0",
                                           4),
                               latin),
            "a");
  EXPECT_EQ(DecodeWithPreamble(std::string("\xFE\xFF\0a", 4), latin), "a");
  // UTF-32 marks: FF FE 00 00 is not UTF-16LE text starting with U+0000.
  EXPECT_EQ(DecodeWithPreamble(std::string("\xFF\xFE\0\0a\0\0\0", 8), latin), "a");
  EXPECT_EQ(DecodeWithPreamble(std::string("\0\0\xFE\xFF\0\0\0a", 8), latin), "a");
  EXPECT_EQ(DecodeWithPreamble("\xE9", latin), "\xC3\xA9");

  TTempDir dir;
  std::string text = "unchanged";
  EXPECT_FALSE(LoadTextFileUtf8(text, dir.File("missing.csv")));
  EXPECT_FALSE(LoadTextFileUtf8(text, dir.File("")));
  EXPECT_EQ(text, "unchanged");

  EXPECT_TRUE(LoadTextFileUtf8(text, dir.Write("plain", "x\xC3\xA9")));
  EXPECT_EQ(text, "x\xC3\xA9");
  EXPECT_TRUE(LoadTextFileUtf8(text, dir.Write("bom8", "\xEF\xBB\xBFx\xC3\xA9")));
  EXPECT_EQ(text, "x\xC3\xA9");
  EXPECT_TRUE(LoadTextFileUtf8(text, dir.Write("le", std::string("\xFF\xFEx\0\xE9\0", 6))));
  EXPECT_EQ(text, "x\xC3\xA9");
  EXPECT_TRUE(LoadTextFileUtf8(text, dir.Write("be", std::string("\xFE\xFF\0x\0\xE9", 6))));
  EXPECT_EQ(text, "x\xC3\xA9");
  EXPECT_TRUE(LoadTextFileUtf8(text, dir.Write("empty", "")));
  EXPECT_EQ(text, "");
}

std::string EncodeInPieces(const TEncoding& encoding, std::string_view text,
                           const std::vector<size_t>& cuts,
                           const TEncoder::UnencodableHandler& handler) {
  TEncoder encoder(encoding);
  std::string out;
  size_t start = 0;
  for (size_t cut : cuts) {
    encoder.Encode(text.substr(start, cut - start), out, handler);
    start = cut;
  }
  encoder.Encode(text.substr(start), out, handler);
  encoder.Finish(out);
  return out;
}

std::string CharacterReference(char32_t c) { return "&#" + std::to_string(c) + ";"; }

TEST(Encoder, PiecesGiveTheSameBytesAsTheWhole) {
  // Kanji, Hangul (not in ISO-2022-JP), kana and an emoji between ASCII runs.
  const std::string text =
      "ab\xE6\x97\xA5\xE6\x9C\xAC"
      "cd\xED\x95\x9C"
      "e\xEF\xBD\xB1\xF0\x9F\x98\x80"
      "f";
  for (uint16_t codePage : {50220, 50221, 50225, 65000, 65001, 1200, 1252, 37}) {
    const TEncoding& encoding = EncodingForCodePage(codePage);
    SCOPED_TRACE(encoding.IconvName());
    std::string whole = EncodeInPieces(encoding, text, {}, CharacterReference);
    for (size_t a = 0; a <= text.size(); ++a) {
      EXPECT_EQ(EncodeInPieces(encoding, text, {a}, CharacterReference), whole) << a;
      if (a + 1 <= text.size()) {
        EXPECT_EQ(EncodeInPieces(encoding, text, {a, a + 1}, CharacterReference), whole) << a;
      }
    }
    std::string decoded = encoding.GetString(whole);
    if (TEncoder(encoding).EncodesAllCharacters()) {
      EXPECT_EQ(decoded, text);
    } else {
      EXPECT_NE(decoded.find("&#"), std::string::npos);
    }
  }
}

TEST(Encoder, PiecesOfInvalidTextGiveTheSameBytesAsTheWhole) {
  std::mt19937 random(7);
  std::string text;
  const char* parts[] = {"a",        "\xC3\xA9", "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\xE6\x97",
                         "\xF0\x9F", "\x80",     "\xFF",         "\xED\xA0\x80",     "\xC0\xAF"};
  for (int i = 0; i < 400; ++i) text += parts[random() % std::size(parts)];
  for (uint16_t codePage : {65001, 1201, 50220, 65000, 28592}) {
    const TEncoding& encoding = EncodingForCodePage(codePage);
    SCOPED_TRACE(encoding.IconvName());
    std::string whole = EncodeInPieces(encoding, text, {}, CharacterReference);
    for (int round = 0; round < 20; ++round) {
      std::vector<size_t> cuts;
      for (size_t at = random() % 7; at < text.size(); at += 1 + random() % 9) cuts.push_back(at);
      EXPECT_EQ(EncodeInPieces(encoding, text, cuts, CharacterReference), whole);
    }
  }
}

TEST(Encoder, HandlerAndFallbacks) {
  const TEncoding& latin2 = EncodingForCodePage(1250);
  TEncoder encoder(latin2);
  EXPECT_FALSE(encoder.EncodesAllCharacters());
  std::string out;
  encoder.Encode("\xC5\x99\xE6\x97\xA5", out, CharacterReference);
  encoder.Encode("\xE6\x97\xA5", out);
  encoder.Finish(out);
  EXPECT_EQ(out, "\xF8&#26085;?");

  // A sequence cut at the end of the last piece is invalid input.
  TEncoder utf8(EncodingForCodePage(65001));
  EXPECT_TRUE(utf8.EncodesAllCharacters());
  out.clear();
  utf8.Encode("a\xE4", out);
  utf8.Encode("\xB8", out);
  EXPECT_EQ(out, "a");
  utf8.Finish(out);
  EXPECT_EQ(out, "a\xEF\xBF\xBD");

  EXPECT_TRUE(TEncoder(SystemAnsiEncoding()).EncodesAllCharacters());
  EXPECT_TRUE(TEncoder(EncodingForCodePage(1201)).EncodesAllCharacters());
  EXPECT_TRUE(TEncoder(EncodingForCodePage(65000)).EncodesAllCharacters());
}

TEST(Encoder, LargePiecesWithManyUnencodableCharacters) {
  std::string piece;
  while (piece.size() < 64 * 1024)
    piece +=
        "\xE6\x97\xA5"
        "a";
  TEncoder encoder(EncodingForCodePage(1252));
  std::string out;
  for (int i = 0; i < 16; ++i) encoder.Encode(piece, out, CharacterReference);
  encoder.Finish(out);
  EXPECT_EQ(out.size(), 16 * (piece.size() / 4) * std::string("&#26085;a").size());
}

}  // namespace
}  // namespace morvex
