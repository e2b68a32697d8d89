#include "text/text_edit.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace morvex {
namespace {

TEST(TextHelpersTest, LineEndsAndTrimming) {
  EXPECT_EQ(LineFeedsToCrLf("a\nb\r\nc\n"), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(LineFeedsToCrLf("\n"), "\r\n");
  EXPECT_EQ(TrimText("\r\n\t x y \n"), "x y");
  EXPECT_EQ(TrimText(" \t"), "");
}

// Replacements are not searched again, so a `to` that holds `from` ends.
TEST(TextHelpersTest, ReplaceAll) {
  struct {
    const char* text;
    const char* from;
    const char* to;
    const char* expected;
  } const cases[] = {
      {"a-b-c", "-", "$", "a$b$c"},
      {"aaa", "a", "aa", "aaaaaa"},
      {"/tmp/.x1/out.xml failed", "/tmp/.x1/out.xml", "/data/out.xml", "/data/out.xml failed"},
      {"\n  a\n  b", "\n  ", "\n", "\na\nb"},
      {"abab", "ab", "", ""},
      {"abc", "", "x", "abc"},
      {"", "a", "b", ""},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    ReplaceAll(text, c.from, c.to);
    EXPECT_EQ(text, c.expected) << c.text << " / " << c.from;
  }
}

TEST(TextHelpersTest, XmlEscapingKeepsQuotesOnlyOutsideAttributes) {
  std::string text;
  AppendXmlEscaped(text, "a<b>&\"c\"'", false);
  EXPECT_EQ(text, "a&lt;b&gt;&amp;\"c\"'");
  std::string attribute;
  AppendXmlEscaped(attribute, "a<b>&\"c\"'", true);
  EXPECT_EQ(attribute, "a&lt;b&gt;&amp;&quot;c&quot;'");
  EXPECT_EQ(XmlEntityOf('x', true), "");
  EXPECT_EQ(XmlEntityOf('"', false), "");
}

TEST(TextHelpersTest, CurrentDirectoryEndsInASeparator) {
  TTempDir dir;
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.File(""));
  const std::string current = CurrentDirectory();
  std::filesystem::current_path(before);
  EXPECT_EQ(current, std::filesystem::canonical(dir.File("")).string() + "/");
}

}  // namespace
}  // namespace morvex
