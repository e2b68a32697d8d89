#include "app/inline_kinds.h"

#include <gtest/gtest.h>

namespace morvex {
namespace {

TEST(ScriptLanguageForFileTest, ByLowerCasedExtension) {
  EXPECT_EQ(ScriptLanguageForFile("dir/REPORT.VBS"), "VBScript");
  EXPECT_EQ(ScriptLanguageForFile("job.dpas"), "zqscript");
  EXPECT_EQ(ScriptLanguageForFile("a.phps"), "ActivePHPScript");
  EXPECT_EQ(ScriptLanguageForFile("style.xsl"), "");
  EXPECT_EQ(ScriptLanguageForFile("lua"), "");
  EXPECT_EQ(ScriptLanguageForFile("x.vbs/file"), "");
}

TEST(SplitKindPrefixTest, SplitsAtPositionsThreeToTwentyFour) {
  const struct {
    std::string argument, kind, rest;
  } cases[] = {
      {"JScript:print(1)", "JScript", "print(1)"},
      {"ab:c", "ab", "c"},
      {std::string(23, 'k') + ":x", std::string(23, 'k'), "x"},
      {"xpath://ns:r", "xpath", "//ns:r"},        // positions only: a namespace prefix splits too
      {"ččččččččččččč:x", "ččččččččččččč", "x"},  // 26 bytes, but position 14
      {std::string(24, 'k') + ":x", "", std::string(24, 'k') + ":x"},
      {"C:\\data\\style.xsl", "", "C:\\data\\style.xsl"},
      {"é:x", "", "é:x"},
      {":abc", "", ":abc"},
      // A kind holds no white space, quote, parenthesis or "=".
      {"select :day::::date", "", "select :day::::date"},
      {"select now()::::date", "", "select now()::::date"},
      {"sum(x):y", "", "sum(x):y"},
      {"r[@a='b']:c", "", "r[@a='b']:c"},
      {"r[@a=1]:c", "", "r[@a=1]:c"},
      {"a\tb:c", "", "a\tb:c"},
      {"\"ab\":c", "", "\"ab\":c"},
      {"no colon", "", "no colon"},
  };
  for (const auto& c : cases) {
    std::string argument = c.argument;
    EXPECT_EQ(SplitKindPrefix(argument), c.kind) << c.argument;
    EXPECT_EQ(argument, c.rest) << c.argument;
  }
}

TEST(LooksLikeFilePathTest, FileOrConnectionString) {
  EXPECT_FALSE(LooksLikeFilePath(""));
  EXPECT_TRUE(LooksLikeFilePath("out.xml"));
  EXPECT_TRUE(LooksLikeFilePath("C:\\out;a=b.xml"));
  EXPECT_TRUE(LooksLikeFilePath("é:x;a=b"));
  EXPECT_TRUE(LooksLikeFilePath("\\\\server\\share;a=b"));
  EXPECT_TRUE(LooksLikeFilePath("a;b"));
  EXPECT_FALSE(LooksLikeFilePath("Provider=SQLite;Data Source=out.db"));
}

}  // namespace
}  // namespace morvex
