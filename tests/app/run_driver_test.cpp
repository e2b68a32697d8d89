#include "app/run_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/console_log.h"
#include "tests/support/temp_path.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using morvex::testing::TempPath;

constexpr std::string_view kBanner =
    "Morvex v1.2.20\n"
    "Command-line data-transformation runner\n"
    "Copyright (c) 2026 The Morvex developers\n"
    "\n";

int RunDriver(std::vector<const char*> argv, std::ostringstream& out) {
  argv.insert(argv.begin(), "morvex");
  std::istringstream in;
  TConsole console(out, in);
  return RunMorvex(static_cast<int>(argv.size()), argv.data(), console);
}

TEST(RunDriverTest, EscapingErrorIsFatal) {
  // Without a current directory the command line cannot be completed.
  const fs::path gone = TempPath("morvex_driver_gone");
  fs::create_directories(gone);
  const fs::path previous = fs::current_path();
  fs::current_path(gone);
  fs::remove(gone);
  std::ostringstream out;
  const int exitCode = RunDriver({"p.morvex"}, out);
  fs::current_path(previous);

  EXPECT_EQ(exitCode, 2);
  const std::string output = out.str();
  ASSERT_EQ(output.substr(0, kBanner.size()), kBanner);
  EXPECT_EQ(output.substr(kBanner.size()).rfind("Fatal error: std::", 0), 0u) << output;
}

}  // namespace
}  // namespace morvex
