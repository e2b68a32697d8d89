#include "text/parameter_name.h"

#include <gtest/gtest.h>

#include <string>

namespace morvex {
namespace {

// The name ":" + text[1..] holds in `text` under `syntax`.
std::string NameAfterColon(std::string_view text, TNameSyntax syntax) {
  return std::string(text.substr(1, ParameterNameEnd(text, 1, syntax) - 1));
}

std::string InCondition(std::string_view text) {
  return NameAfterColon(text, TNameSyntax::Condition);
}
std::string InStatement(std::string_view text) {
  return NameAfterColon(text, TNameSyntax::Statement);
}

// Every class of name character reads the same in a statement and in a
// condition; the two differ only in what ends a name.
TEST(ParameterNameEnd, EveryNameClassReadsAlikeInStatementsAndConditions) {
  const char* const names[] = {
      "city",                                      // ASCII letters
      "City",                                      // letter case is kept
      "m\xC4\x9Bsto",                              // město: a non-ASCII letter inside
      "\xC4\x8D\xC3\xADsla",                       // čísla: and at the start
      "\xD0\xB3\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4",  // город
      "x1",                                        // digits after the start
      "_",                                         // "_" alone
      "_order_no",                                 // "_" at the start and inside
      "orders$id",                                 // an element's field
      "m\xC4\x9Bsta$n\xC3\xA1zev",                 // města$název
  };
  for (const std::string name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(InCondition(":" + name), name);
    EXPECT_EQ(InCondition(":" + name + " = 'x'"), name);
    EXPECT_EQ(InCondition(":" + name + "'"), name);  // as in ':name' = 'x'
    EXPECT_EQ(InStatement(":" + name), name);
    EXPECT_EQ(InStatement(":" + name + ",x"), name);
    EXPECT_TRUE(IsParameterName(name));
  }
}

TEST(ParameterNameEnd, ConditionNamesStartWithALetterAndStopAtOperators) {
  EXPECT_EQ(InCondition(":1"), "");
  EXPECT_EQ(InCondition(":$x"), "");
  EXPECT_EQ(InCondition(": x"), "");
  EXPECT_EQ(InCondition(":"), "");
  EXPECT_EQ(InCondition(":n-1"), "n");
  EXPECT_EQ(InCondition(":a.b"), "a");
  EXPECT_EQ(InCondition(":a=b"), "a");
  EXPECT_EQ(InCondition(":a:b"), "a");
  EXPECT_EQ(InCondition(":m\xC4\x9Bsto<>'x'"), "m\xC4\x9Bsto");
  // Punctuation beyond ASCII is no letter either.
  EXPECT_EQ(InCondition(":a\xE2\x80\x94"), "a");  // a followed by an em dash
  EXPECT_EQ(InCondition(":\xC2\xAB"), "");        // a guillemet
}

TEST(ParameterNameEnd, StatementNamesRunToADelimiter) {
  EXPECT_EQ(InStatement(":x=y-z.w'q v"), "x=y-z.w'q");
  EXPECT_EQ(InStatement(":1a)"), "1a");
  EXPECT_EQ(InStatement(":day::date"), "day");
  for (const char delimiter : std::string_view(" \t\r\n\v\f,;):")) {
    EXPECT_EQ(InStatement(std::string(":a") + delimiter + "b"), "a");
    EXPECT_EQ(InStatement(std::string(":") + delimiter), "");
  }
  EXPECT_EQ(InStatement(":"), "");
}

TEST(IsParameterName, AllowsLettersDigitsAndFewSigns) {
  EXPECT_TRUE(IsParameterName("a-b.c"));
  EXPECT_TRUE(IsParameterName("1"));
  EXPECT_FALSE(IsParameterName(""));
  EXPECT_FALSE(IsParameterName("a b"));
  EXPECT_FALSE(IsParameterName("a:b"));
  EXPECT_FALSE(IsParameterName("a'b"));
  EXPECT_FALSE(IsParameterName("a\xE2\x80\x94"));
}

}  // namespace
}  // namespace morvex
