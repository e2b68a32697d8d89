#include "templates/parameter_names.h"

#include <gtest/gtest.h>

namespace morvex {
namespace {

using Names = std::vector<std::string>;

TEST(ExtractParameterNames, ReadsNamesAfterColons) {
  EXPECT_EQ(ExtractParameterNames(":a$b = 1"), (Names{"a$b"}));
  EXPECT_EQ(ExtractParameterNames(":_x1 + :Y"), (Names{"Y", "_x1"}));
  EXPECT_EQ(ExtractParameterNames("a:b:c"), (Names{"b", "c"}));
  EXPECT_EQ(ExtractParameterNames("no references"), Names{});
  EXPECT_EQ(ExtractParameterNames(""), Names{});
}

TEST(ExtractParameterNames, SkipsColonsWithoutAName) {
  EXPECT_EQ(ExtractParameterNames("::"), Names{});
  EXPECT_EQ(ExtractParameterNames("::a"), (Names{"a"}));
  EXPECT_EQ(ExtractParameterNames(":1 :$x :"), Names{});
  EXPECT_EQ(ExtractParameterNames("x := 1"), Names{});
}

// Names in conditions are the names statements bind: letters of any script
// start and continue them.
TEST(ExtractParameterNames, ReadsNamesInAnyScript) {
  EXPECT_EQ(ExtractParameterNames(":\xC3\xA9t\xC3\xA9 :ab\xC3\xA9"),
            (Names{"ab\xC3\xA9", "\xC3\xA9t\xC3\xA9"}));  // été, abé
  EXPECT_EQ(ExtractParameterNames("':m\xC4\x9Bsto' = 'Brno' and :m\xC4\x9Bsta$n\xC3\xA1zev"),
            (Names{"m\xC4\x9Bsto", "m\xC4\x9Bsta$n\xC3\xA1zev"}));
}

TEST(ExtractParameterNames, KeepsRepeatsSortedShortestFirstInOrderOfAppearance) {
  EXPECT_EQ(ExtractParameterNames(":city = :c or :city$id > :cc and :b or :city"),
            (Names{"c", "b", "cc", "city", "city", "city$id"}));
}

}  // namespace
}  // namespace morvex
