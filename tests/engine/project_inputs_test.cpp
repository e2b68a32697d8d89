#include "engine/project_inputs.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace morvex {
namespace {

std::string Project(const std::string& destination, const std::string& kind = "file") {
  return "<?xml version=\"1.0\"?><morvex><script><source>in.xml</source></script>"
         "<script test=\"1 = 0\"><source>in.xml</source><destination kind=\"" +
         kind + "\">" + destination + "</destination></script></morvex>";
}

// Standard output is the run's data channel when any script, run or not,
// writes it by any of its names.
TEST(ProjectInputsTest, WritesStandardOutputByAnyOfItsNames) {
  TTempDir dir;
  const std::string base = dir.File("");
  for (const std::string destination :
       {"-", " - ", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    EXPECT_TRUE(ProjectWritesStandardOutput(Project(destination), base)) << destination;
  }
  for (const std::string destination : {"/dev/stderr", "out.xml", "/dev/null"}) {
    EXPECT_FALSE(ProjectWritesStandardOutput(Project(destination), base)) << destination;
  }
  EXPECT_FALSE(ProjectWritesStandardOutput(Project("-", "stream"), base));
  dir.Write("p.morvex", Project("-"));
  EXPECT_TRUE(ProjectWritesStandardOutput("p.morvex", base));
  EXPECT_FALSE(ProjectWritesStandardOutput("missing.morvex", base));
  EXPECT_FALSE(ProjectWritesStandardOutput("<?xml version=\"1.0\"?><morvex>", base));
}

}  // namespace
}  // namespace morvex
