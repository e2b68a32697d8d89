// Runs the real program binary and checks console output, exit codes and the
// log file's bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/temp_path.h"

namespace {

namespace fs = std::filesystem;

using morvex::testing::TempPath;

struct TRun {
  int ExitCode;
  std::string Output;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempPath("morvex_cli_" +
                    std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // `arguments` are shell words; `stdinRedirect` is the shell redirection for
  // standard input ("</dev/null", "<&-"). A hang ends after 20 seconds.
  TRun Run(const std::string& arguments, const std::string& stdinRedirect) {
    const fs::path output = dir_ / "stdout.txt";
    const std::string command = "cd '" + dir_.string() + "' && timeout 20 '" MORVEX_BINARY "' " +
                                arguments + " " + stdinRedirect + " >'" + output.string() +
                                "' 2>&1";
    const int status = std::system(command.c_str());
    TRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Bytes(output)};
    fs::remove(output);
    return run;
  }
  // Runs `arguments` with standard output appended to the file `out` and
  // standard error written to `err`, both under the test's folder.
  int RunSplit(const std::string& arguments, const std::string& out, const std::string& err) {
    const std::string command = "cd '" + dir_.string() + "' && timeout 20 '" MORVEX_BINARY "' " +
                                arguments + " </dev/null >>" + out + " 2>" + err;
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Put(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  static std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

TEST_F(CliTest, NoArgumentsWithClosedStdinShowUsageAndDoNotHang) {
  for (const char* redirect : {"</dev/null", "<&-"}) {
    const TRun run = Run("", redirect);
    EXPECT_EQ(run.ExitCode, 1) << redirect;
    EXPECT_EQ(run.Output.rfind("Morvex v1.2.20\n", 0), 0u) << run.Output;
    EXPECT_NE(run.Output.find("\nSyntax:\n    morvex <project-file>|<inline-options>|"
                              "<project-source> [<parameters>]\n"),
              std::string::npos);
    const std::string tail =
        "Detailed description of parameters can be found in Morvex manual.\n"
        "\nPress ENTER to continue.\n";
    ASSERT_GE(run.Output.size(), tail.size());
    EXPECT_EQ(run.Output.substr(run.Output.size() - tail.size()), tail);
  }
}

TEST_F(CliTest, HelpStopsTheScanLogsNothingAndALaterWaitStillWaits) {
  TRun run = Run("-l p.morvex -? q.morvex", "</dev/null");
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Output.find("Syntax:"), std::string::npos);
  EXPECT_EQ(run.Output.find("Press ENTER"), std::string::npos);
  run = Run("-? -w", "<&-");
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Output.find("\nPress ENTER to continue.\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "p.morvex.log"));
}

TEST_F(CliTest, LogFileBytes) {
  const TRun run =
      Run("daily.morvex city=Prague '-l" + dir_.string() + "/sub/run.log'", "</dev/null");
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(Bytes(dir_ / "sub/run.log"),
            "Morvex v1.2.20\r\n"
            "Command-line data-transformation runner\r\n"
            "Copyright (c) 2026 The Morvex developers\r\n"
            "\r\n"
            "Project: daily.morvex\r\n"
            "File does not exist!: " +
                dir_.string() + "/daily.morvex\r\n");
  EXPECT_FALSE(fs::exists(dir_ / "daily.morvex.log"));
}

// Standard output carries only the data when a destination is standard
// output by any name; the console goes to standard error. A redirected
// standard output keeps what it held: no truncation, no run of NUL bytes.
TEST_F(CliTest, DataOnStandardOutputAndTheConsoleOnStandardError) {
  Put("in.xml", "<a><b>1</b><b>2</b></a>");
  const std::string banner =
      "Morvex v1.2.20\nCommand-line data-transformation runner\n"
      "Copyright (c) 2026 The Morvex developers\n\n";
  EXPECT_EQ(RunSplit("in.xml json -", "json.out", "json.err"), 0);
  EXPECT_EQ(Bytes(dir_ / "json.out"), "{\"b\":[\"1\",\"2\"]}");  // no byte-order mark
  EXPECT_EQ(Bytes(dir_ / "json.err"),
            banner + "Project: inline\n\nThe project was completed successfully.\n");

  for (const std::string destination : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    Put("copy.out", "earlier output\n");
    Put("p.morvex",
        "<?xml version=\"1.0\"?><morvex><script><source>in.xml</source>"
        "<destination>" +
            destination + "</destination></script></morvex>");
    EXPECT_EQ(RunSplit("p.morvex", "copy.out", "copy.err"), 0) << destination;
    EXPECT_EQ(Bytes(dir_ / "copy.out"), "earlier output\n<a><b>1</b><b>2</b></a>") << destination;
    EXPECT_EQ(Bytes(dir_ / "copy.err"),
              banner + "Project: p.morvex\n\nThe project was completed successfully.\n");
  }

  // Quiet: nothing but the data, also on standard error.
  EXPECT_EQ(RunSplit("in.xml =//b[2] - -q", "quiet.out", "quiet.err"), 0);
  EXPECT_EQ(Bytes(dir_ / "quiet.out"), "2");
  EXPECT_EQ(Bytes(dir_ / "quiet.err"), "");
  // Warnings and errors of a quiet run go to standard error.
  EXPECT_EQ(RunSplit("in.xml warn.xml -q -x", "warn.out", "warn.err"), 0);
  EXPECT_EQ(Bytes(dir_ / "warn.out"), "");
  EXPECT_EQ(Bytes(dir_ / "warn.err"), "Warning: unknown switch -x is ignored.\n");
  EXPECT_EQ(RunSplit("missing.morvex -q", "fail.out", "fail.err"), 1);
  EXPECT_EQ(Bytes(dir_ / "fail.out"), "");
  EXPECT_EQ(Bytes(dir_ / "fail.err"), "Project: missing.morvex\nFile does not exist!: " +
                                          dir_.string() + "/missing.morvex\n");
  // Without data on standard output the console stays there.
  EXPECT_EQ(RunSplit("in.xml plain.xml", "plain.out", "plain.err"), 0);
  EXPECT_EQ(Bytes(dir_ / "plain.out"),
            banner + "Project: inline\n\nThe project was completed successfully.\n");
  EXPECT_EQ(Bytes(dir_ / "plain.err"), "");
}

}  // namespace
