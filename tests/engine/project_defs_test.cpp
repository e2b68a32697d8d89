#include "engine/project_defs.h"

#include <gtest/gtest.h>

namespace morvex {
namespace {

TEST(ProjectDefsTest, SourceAndQueryKindsIgnoreCase) {
  EXPECT_EQ(SourceKindOf("OleDB"), skOledb);
  EXPECT_EQ(SourceKindOf("FILE"), skFile);
  EXPECT_EQ(SourceKindOf(""), skFile);
  EXPECT_EQ(SourceKindOf("Stream"), skStream);
  EXPECT_EQ(SourceKindOf("ftp"), skNone);
  EXPECT_EQ(SourceKindName(SourceKindOf("STREAM")), "stream");
  EXPECT_EQ(SourceKindName(skNone), "");

  EXPECT_EQ(QueryKindOf("Inline"), qkInline);
  EXPECT_EQ(QueryKindOf(""), qkNone);
  EXPECT_EQ(QueryKindOf("sql"), qkNone);
}

}  // namespace
}  // namespace morvex
