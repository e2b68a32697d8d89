#include "engine/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_path.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using morvex::testing::TempPath;

TEST(ResolvePathTest, Rules) {
  EXPECT_EQ(ResolvePath("/base/p.morvex", ""), "");
  EXPECT_EQ(ResolvePath("/base/p.morvex", "/abs/../x.xml"), "/abs/../x.xml");
  EXPECT_EQ(ResolvePath("", "rel/../x.xml"), "rel/../x.xml");
  EXPECT_EQ(ResolvePath("/jobs/daily/p.morvex", "../data/./in.xml"), "/jobs/data/in.xml");
  EXPECT_EQ(ResolvePath("/jobs/", "a//b/."), "/jobs/a/b");
  EXPECT_EQ(ResolvePath("/jobs/", "sub/"), "/jobs/sub/");
  EXPECT_EQ(ResolvePath("/jobs/", "../../../x"), "/x");
  // A base without a directory part leaves a relative path: the current
  // directory completes it.
  EXPECT_EQ(ResolvePath("p.morvex", "x.xml"), fs::current_path().string() + "/x.xml");
}

TEST(ResolvePathTest, ExistingPathOnlyForFiles) {
  const fs::path dir = TempPath("morvex_paths_test");
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  std::ofstream(dir / "there.xml") << "x";
  const std::string base = dir.string() + "/p.morvex";
  EXPECT_EQ(ResolveExistingPath(base, "there.xml"), (dir / "there.xml").string());
  EXPECT_EQ(ResolveExistingPath(base, "./missing.xml"), "./missing.xml");
  EXPECT_EQ(ResolveExistingPath(base, "sub"), "sub");
  fs::remove_all(dir);
}

TEST(PathNamesTest, QueryFileNames) {
  EXPECT_TRUE(IsQueryFileName("dir/Q.LSQL"));
  EXPECT_TRUE(IsQueryFileName("q.sql"));
  EXPECT_FALSE(IsQueryFileName("q.sql.bak"));
  EXPECT_FALSE(IsQueryFileName("q.sql/file"));
}

}  // namespace
}  // namespace morvex
