// What a run loads: a run that needs neither PostgreSQL nor ODBC nor a code
// page must not pay for loading their libraries and converters at start-up.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/temp_path.h"

namespace {

namespace fs = std::filesystem;

// The dynamic loader's report of every object the run loads (LD_DEBUG=files)
// with the console output, and the exit code.
std::string LoadedObjects(const fs::path& dir, const std::string& arguments) {
  const fs::path output = dir / "loader.txt";
  const std::string command = "cd '" + dir.string() + "' && LD_DEBUG=files timeout 20 '" +
                              MORVEX_BINARY "' " + arguments + " </dev/null >'" + output.string() +
                              "' 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  std::ifstream in(output, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Startup, ASqliteRunLoadsNoOtherClientLibraryAndNoConverter) {
  const fs::path dir = morvex::testing::TempPath("morvex_startup");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string loaded = LoadedObjects(dir, "'Data Source=:memory:' 'select 1 as a' out.csv");
  EXPECT_NE(loaded.find("libsqlite3.so"), std::string::npos) << loaded;  // the report works
  EXPECT_EQ(loaded.find("libpq.so"), std::string::npos);
  EXPECT_EQ(loaded.find("libodbc.so"), std::string::npos);
  EXPECT_EQ(loaded.find("gconv"), std::string::npos);
  std::ifstream csv(dir / "out.csv", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(csv), {}),
            "\xEF\xBB\xBF"
            "a\r\n1\r\n");
  fs::remove_all(dir);
}

}  // namespace
