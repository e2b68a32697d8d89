#include "app/console_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/run_callbacks.h"
#include "tests/support/temp_dir.h"
#include "tests/support/temp_path.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using morvex::testing::TempPath;

class ConsoleLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logPath_ =
        (TempPath("morvex_console_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                  ".log"))
            .string();
    options_.LogEnabled = true;
    options_.LogStream = std::make_unique<TFileStream>(logPath_, TFileStream::Mode::Create);
  }
  void TearDown() override {
    options_.LogStream.reset();
    fs::remove(logPath_);
  }
  std::string LogBytes() {
    if (options_.LogStream) options_.LogStream->Flush();
    std::ifstream in(logPath_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::ostringstream out_;
  std::istringstream in_;
  TConsole console_{out_, in_};
  RunOptions options_;
  TConsoleLogHelper helper_{options_, console_};
  std::string logPath_;
};

TEST_F(ConsoleLogTest, LevelsDecideConsoleAndLog) {
  helper_.OutputMessage("Project: p.morvex", LevelHeadline);
  helper_.OutputMessage("Source:         in.xml", LevelDetail);
  helper_.OutputMessage("odd level", 7);
  helper_.OutputMessage("File does not exist!", LevelError);
  EXPECT_EQ(out_.str(), "Project: p.morvex\nFile does not exist!\n");
  EXPECT_EQ(LogBytes(), "Project: p.morvex\r\nFile does not exist!\r\n");

  options_.Verbose = true;
  helper_.OutputMessage("o.k.", LevelDetail);
  helper_.OutputMessage("", LevelDetail);
  EXPECT_EQ(out_.str(), "Project: p.morvex\nFile does not exist!\no.k.\n\n");
  EXPECT_EQ(LogBytes(), "Project: p.morvex\r\nFile does not exist!\r\no.k.\r\n\r\n");
}

// The script line before an error: a verbose run showed it already as a
// detail line, so only a run without -v gets it again (a quiet one in its
// log alone).
TEST_F(ConsoleLogTest, ErrorContextOnlyWithoutVerbose) {
  for (const bool quiet : {false, true}) {
    options_.Quiet = quiet;
    helper_.OutputMessage("Script:         #2", LevelErrorContext);
  }
  options_.Quiet = false;
  options_.Verbose = true;
  helper_.OutputMessage("Script:         #2", LevelErrorContext);
  EXPECT_EQ(out_.str(), "Script:         #2\n");
  EXPECT_EQ(LogBytes(), "Script:         #2\r\nScript:         #2\r\n");
}

// A quiet run shows errors and warnings only; the log still gets every
// line a run without -q writes.
TEST_F(ConsoleLogTest, QuietShowsOnlyWarningsAndErrors) {
  options_.Quiet = true;
  helper_.OutputMessage("Project: p.morvex", LevelHeadline);
  helper_.OutputMessage("Source:         in.xml", LevelDetail);
  helper_.OutputMessage("Warning: 2 value(s) changed.", LevelHeadline);
  helper_.OutputMessage("File does not exist!", LevelError);
  helper_.OutputMessage("The project was completed successfully.", LevelHeadline);
  EXPECT_EQ(out_.str(), "Warning: 2 value(s) changed.\nFile does not exist!\n");
  EXPECT_EQ(LogBytes(),
            "Project: p.morvex\r\nWarning: 2 value(s) changed.\r\nFile does not exist!\r\n"
            "The project was completed successfully.\r\n");
}

TEST(ConsoleTest, ErrorStreamTakesEveryLineOnceChosen) {
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in("typed\n");
  TConsole console(out, in, err);
  console.Write("banner\n");
  console.UseErrorStream();
  console.Write("name : ");
  std::string line;
  EXPECT_TRUE(console.ReadLine(line));
  EXPECT_EQ(out.str(), "banner\n");
  EXPECT_EQ(err.str(), "name : ");
}

TEST_F(ConsoleLogTest, WriteMessageLogOnlyAndUtf8WithoutMark) {
  helper_.WriteMessage("Město: Praha", false);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(LogBytes(), "M\xC4\x9Bsto: Praha\r\n");
}

TEST_F(ConsoleLogTest, FailingLogSwitchesLoggingOff) {
  TTempDir dir;
  const std::string device = dir.Device("full", 1, 7);
  if (device.empty()) GTEST_SKIP() << "no device node can be made here";
  options_.LogStream = std::make_unique<TFileStream>(device, TFileStream::Mode::ReadWrite);
  helper_.OutputMessage("still on the console", LevelHeadline);
  EXPECT_EQ(out_.str(), "still on the console\n");
  EXPECT_FALSE(options_.LogEnabled);
  EXPECT_EQ(options_.LogStream, nullptr);
}

TEST_F(ConsoleLogTest, PromptShowsDefaultAndKeepsItOnEmptyAnswer) {
  in_.str("\nBrno\r\n\n");
  EXPECT_EQ(helper_.PromptParameter("Target city", "Prague"), "Prague");
  EXPECT_EQ(helper_.PromptParameter("city", "Prague"), "Brno");
  EXPECT_EQ(helper_.PromptParameter("user", ""), "");
  EXPECT_EQ(helper_.PromptParameter("", "kept"), "kept");  // end of input
  EXPECT_EQ(out_.str(), "Target city (Prague) : city (Prague) : user : ");
  EXPECT_EQ(LogBytes(), "");
}

}  // namespace
}  // namespace morvex
