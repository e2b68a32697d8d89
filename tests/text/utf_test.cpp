#include "text/utf.h"

#include <gtest/gtest.h>

namespace morvex {
namespace {

TEST(Utf, ConvertsBetweenUtf8AndUtf16) {
  const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // a é 中 😀
  std::u16string units = Utf8ToUtf16(text);
  EXPECT_EQ(units, (std::u16string{u'a', 0x00E9, 0x4E2D, 0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToUtf8(units), text);
  EXPECT_EQ(Utf8ToUtf16LeBytes("A\xC3\xA9"), std::string("A\0\xE9\0", 4));
}

TEST(Utf, InvalidInputBecomesReplacementCharacter) {
  // A stray continuation byte, an overlong "/", an encoded surrogate and a
  // sequence cut by the end of the text.
  EXPECT_EQ(Utf8ToUtf16("a\x80"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("x\xE4\xB8"), u"x\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD800, u'b', 0xDC00}),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  EXPECT_EQ(SanitizeUtf8("ok \xEF\xBF\xBD \xFF"), "ok \xEF\xBF\xBD \xEF\xBF\xBD");
  EXPECT_EQ(SanitizeUtf8("plain \xC3\xA9"), "plain \xC3\xA9");
}

TEST(Utf, CutsOnCharacterBoundaries) {
  const std::string text =
      "ab\xE4\xB8\xAD\xF0\x9F\x98\x80"
      "c";  // a b 中 😀 c
  EXPECT_EQ(CutToUtf16Units(text, 0), "");
  EXPECT_EQ(CutToUtf16Units(text, 3), "ab\xE4\xB8\xAD");
  // The surrogate pair needs two units: with one left it is not taken.
  EXPECT_EQ(CutToUtf16Units(text, 4), "ab\xE4\xB8\xAD");
  EXPECT_EQ(CutToUtf16Units(text, 5), "ab\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(CutToUtf16Units(text, 100), text);
}

TEST(Utf, CompletePrefixLeavesOutACutSequence) {
  EXPECT_EQ(CompleteUtf8Prefix(""), 0u);
  EXPECT_EQ(CompleteUtf8Prefix("abc"), 3u);
  EXPECT_EQ(CompleteUtf8Prefix("a\xE4"), 1u);
  EXPECT_EQ(CompleteUtf8Prefix("a\xE4\xB8"), 1u);
  EXPECT_EQ(CompleteUtf8Prefix("a\xE4\xB8\xAD"), 4u);
  EXPECT_EQ(CompleteUtf8Prefix("a\xF0\x9F\x98"), 1u);
  // Bytes that can never become valid are not held back.
  EXPECT_EQ(CompleteUtf8Prefix("a\xFF"), 2u);
  EXPECT_EQ(CompleteUtf8Prefix("a\xE0\x80"), 3u);
  EXPECT_EQ(CompleteUtf8Prefix("\x80\x80\x80\x80"), 4u);
}

TEST(Utf, AsciiCaseHelpersTouchOnlyAsciiLetters) {
  EXPECT_EQ(AsciiLower("UTF-8 \xC3\x89Z"), "utf-8 \xC3\x89z");
  EXPECT_EQ(AsciiUpper("utf-8 \xC3\xA9z{}"), "UTF-8 \xC3\xA9Z{}");
  EXPECT_TRUE(StartsWithIgnoringAsciiCase("PostgreSQL://host", "postgresql://"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase("postgres", "postgresql"));
}

TEST(Utf, TrimmingKeepsWhatIsInside) {
  EXPECT_EQ(TrimBlanks(" \t\r\n a b \n"), "a b");
  EXPECT_EQ(TrimBlanks(" \r\n "), "");
  EXPECT_EQ(TrimBlanks("\r 7 \t", " \t"), "\r 7");
  // A byte below the blank that is not in the set stays.
  EXPECT_EQ(TrimBlanks(std::string_view("\0x\0", 3)), std::string_view("\0x\0", 3));
  EXPECT_EQ(TrimTrailingBlanks("memo\n  "), "memo\n");
  EXPECT_EQ(TrimTrailingBlanks("   "), "");
}

// SanitizeUtf8 skips ASCII eight bytes at a time: faults at every offset
// around those steps, next to valid sequences, give what a character by
// character reading gives.
TEST(Utf, SanitizingFindsFaultsAtEveryOffset) {
  const std::string pieces[] = {"\xFF",         "\xC3\xA9", "\xE2\x9C",
                                "\xEF\xBF\xBD", "\x80",     "\xF0\x9F\x98\x80",
                                "\xED\xA0\x80", "\xC0\xAF", std::string(1, '\0')};
  for (const std::string& piece : pieces) {
    for (size_t before = 0; before < 20; ++before) {
      for (size_t after : {0, 1, 7, 9}) {
        const std::string text = std::string(before, 'a') + piece + std::string(after, 'b');
        std::string expected;
        size_t pos = 0;
        while (pos < text.size()) AppendUtf8(expected, DecodeUtf8Char(text, pos));
        EXPECT_EQ(SanitizeUtf8(text), expected) << before << " " << after;
        std::string appended = "x";
        AppendSanitizedUtf8(appended, text);
        EXPECT_EQ(appended, "x" + expected);
      }
    }
  }
}

}  // namespace
}  // namespace morvex
