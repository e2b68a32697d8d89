#include "text/case_fold.h"

#include <gtest/gtest.h>

namespace morvex {
namespace {

TEST(CaseFold, NamesCompareWithoutRegardToLetterCase) {
  EXPECT_TRUE(SameTextIgnoringCase("", ""));
  EXPECT_TRUE(SameTextIgnoringCase("City", "cITY"));
  EXPECT_TRUE(SameTextIgnoringCase("source$Order_No", "SOURCE$order_no"));
  EXPECT_FALSE(SameTextIgnoringCase("city", "cities"));
  EXPECT_FALSE(SameTextIgnoringCase("city", "cit"));
  EXPECT_FALSE(SameTextIgnoringCase("a[", "A{"));  // "[" and "{" are no case pair
  EXPECT_FALSE(SameTextIgnoringCase("x@", "X`"));
  // Letters beyond ASCII, after an ASCII start and on their own.
  EXPECT_TRUE(SameTextIgnoringCase("m\xC4\x9Bsto", "M\xC4\x9AST\x4F"));  // město / MĚSTO
  EXPECT_TRUE(SameTextIgnoringCase("\xC4\x8C\x61p", "\xC4\x8D\x41P"));   // Čap / čAP
  EXPECT_FALSE(SameTextIgnoringCase("m\xC4\x9Bsto", "mesto"));
  // Folding may change the length: the Kelvin sign folds to "k".
  EXPECT_TRUE(SameTextIgnoringCase("\xE2\x84\xAAm", "km"));
  EXPECT_TRUE(SameTextIgnoringCase("km", "\xE2\x84\xAAM"));
  EXPECT_EQ(FoldCase("ABC\xC3\x84"), "abc\xC3\xA4");
}

}  // namespace
}  // namespace morvex
