#include "text/code_pages.h"

#include <gtest/gtest.h>

#include <string>

namespace morvex {
namespace {

TEST(CodePages, TableKeepsItsRowsAndOrder) {
  ASSERT_EQ(sizeof CodePageTable / sizeof CodePageTable[0], 122u);
  EXPECT_STREQ(CodePageTable[0].CharsetName, "");
  EXPECT_STREQ(CodePageTable[0].DisplayName, "ascii ANSI");
  EXPECT_STREQ(CodePageTable[1].DisplayName, "OEM");
  EXPECT_STREQ(CodePageTable[2].DisplayName, "MAC");
  EXPECT_STREQ(CodePageTable[2].CodePage, "2");
  EXPECT_STREQ(CodePageTable[3].CharsetName, "ASMO-708");
  EXPECT_STREQ(CodePageTable[121].CharsetName, "Windows-1252");
  EXPECT_STREQ(CodePageTable[121].CodePage, "1252");
  for (int i = 3; i < kCodePageTableSize; ++i) {
    EXPECT_STRNE(CodePageTable[i].CharsetName, "") << i;
    EXPECT_STRNE(CodePageTable[i].DisplayName, "") << i;
  }
  // The Finland-Sweden euro row is listed twice, one after the other.
  int first = CharsetIndexByName("x-ebcdic-finlandsweden-euro");
  ASSERT_GT(first, 0);
  EXPECT_STREQ(CodePageTable[first + 1].CharsetName, "x-ebcdic-finlandsweden-euro");
  EXPECT_STREQ(CodePageTable[first + 1].CodePage, "1143");
}

TEST(CodePages, NameLookupIsExactAndTakesTheFirstRow) {
  EXPECT_EQ(CharsetIndexByName("ascii ANSI"), 0);
  EXPECT_EQ(CharsetIndexByName("OEM"), 1);
  EXPECT_EQ(CharsetIndexByName("oem"), -1);
  EXPECT_GE(CharsetIndexByName("utf-8"), 0);
  EXPECT_EQ(CharsetIndexByName("UTF-8"), -1);
  EXPECT_EQ(CharsetIndexByName("utf-16"), -1);
  EXPECT_EQ(CharsetIndexByName("windows-1252"), -1);
  EXPECT_EQ(CharsetIndexByName("Windows-1252"), 121);
  EXPECT_EQ(CharsetIndexByName(""), -1);
  int jp = CharsetIndexByName("iso-2022-jp");
  ASSERT_GE(jp, 0);
  EXPECT_STREQ(CodePageTable[jp].CodePage, "50220");
}

TEST(CodePages, CodePageLookupGivesNames) {
  EXPECT_EQ(CharsetNameOfCodePage(0), "ascii ANSI");
  EXPECT_EQ(CharsetNameOfCodePage(1), "OEM");
  EXPECT_EQ(CharsetNameOfCodePage(50222), "iso-2022-jp");
  EXPECT_EQ(CharsetNameOfCodePage(50221), "csISO2022JP");
  EXPECT_EQ(CharsetNameOfCodePage(1143), "x-ebcdic-finlandsweden-euro");
  EXPECT_EQ(CharsetNameOfCodePage(65001), "utf-8");
  EXPECT_EQ(CharsetNameOfCodePage(1200), "unicode");
  EXPECT_EQ(CharsetNameOfCodePage(3), "");
  EXPECT_EQ(CharsetNameOfCodePage(65535), "");
  EXPECT_EQ(CharsetIndexByCodePage(437), CharsetIndexByName("IBM437"));
  EXPECT_EQ(DefaultCharsetName(), "utf-8");
}

TEST(CodePages, NormalizeReplacesOnlyTheSymbolicWords) {
  auto normalized = [](std::string name) {
    NormalizeCharsetName(name);
    return name;
  };
  // The system code pages are UTF-8 without a byte-order mark, which the
  // table's "utf-8" (with the mark) would not say: the words stay.
  EXPECT_EQ(normalized("dos"), "dos");
  EXPECT_EQ(normalized("OEM"), "OEM");
  EXPECT_EQ(normalized("ansi"), "ansi");
  EXPECT_EQ(normalized("AnSi"), "AnSi");
  EXPECT_EQ(normalized("dos "), "dos ");
  EXPECT_EQ(normalized("ansi1"), "ansi1");
  EXPECT_EQ(normalized("windows-1250"), "windows-1250");
  EXPECT_EQ(normalized(""), "");
}

}  // namespace
}  // namespace morvex
