#include "app/live_progress.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/console_log.h"
#include "engine/project_loader.h"
#include "tests/support/temp_dir.h"

namespace morvex {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kErase = "\r\x1b[K";

TEST(LiveProgressTest, TickLinesAreReadAndOtherLinesAreNot) {
  struct TCase {
    std::string Text;
    std::optional<std::string> Tag;  // nothing: not a tick
    int64_t Records = 0;
  };
  const TCase cases[] = {
      {"10000 records processed ...", "", 10000},
      {"orders: 20000 records processed ...", "orders", 20000},
      {"a: b: 30000 records processed ...", "a: b", 30000},
      {"rows: 15000 record(s) processed.", std::nullopt},  // a total, counted by the report
      {"10000 records processed", std::nullopt},
      {" records processed ...", std::nullopt},
      {"orders:10000 records processed ...", std::nullopt},
      {"x10000 records processed ...", std::nullopt},
      {"99999999999999999999 records processed ...", std::nullopt},  // would overflow
      {"Warning: 10000 records processed ... ", std::nullopt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::optional<TProgressTick> tick = ProgressTickOf(c.Text);
    ASSERT_EQ(tick.has_value(), c.Tag.has_value());
    if (!tick) continue;
    EXPECT_EQ(tick->Tag, *c.Tag);
    EXPECT_EQ(tick->Records, c.Records);
  }
}

TEST(LiveProgressTest, LineTextShowsNameRecordsRateAndTimeWithinTheWidth) {
  struct TCase {
    std::string Name;
    int64_t Records;
    double Seconds;
    int Width;
    std::string Expected;
    std::optional<double> Read = std::nullopt;
  };
  const TCase cases[] = {
      {"orders", 20000, 2.0, 80, "orders: 20000 records, 10000/s, 0:02"},
      // With the share of the input read: the percentage and the time left.
      {"orders", 20000, 2.0, 80, "orders: 20000 records, 10000/s, 0:02, 25%, ETA 0:06", 0.25},
      {"orders", 9, 90.0, 80, "orders: 9 records, 0/s, 1:30, 100%, ETA 0:00", 1.0},
      // Too little read to guess the time left, or no share at all.
      {"orders", 1, 1.0, 80, "orders: 1 records, 1/s, 0:01", 0.0},
      {"orders", 0, 0.0, 80, "orders: 0 records, 0/s, 0:00"},
      {"long", 7, 3725.9, 80, "long: 7 records, 0/s, 62:05"},
      // Never as wide as the terminal: a wrapped line is not erased by CR.
      {"orders", 20000, 2.0, 12, "orders: 200"},
      {"orders", 1, 1.0, 1, ""},
      {"orders", 1, 1.0, 0, ""},
      // Cut before a character, never inside its UTF-8 bytes.
      {"\xC3\xA9t\xC3\xA9", 1, 1.0, 4, "\xC3\xA9t"},
      {"\xC3\xA9t\xC3\xA9", 1, 1.0, 5, "\xC3\xA9t"},
      // A name on several lines stays on one.
      {"two\nlines\r\x1b", 1, 1.0, 80, "two lines  : 1 records, 1/s, 0:01"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name + " / " + std::to_string(c.Width));
    EXPECT_EQ(LiveLineText(c.Name, c.Records, c.Seconds, c.Width, c.Read), c.Expected);
  }
}

// The share read is what the kernel keeps for the process's descriptors on
// the file: nothing to count in the readers, nothing when none is open.
TEST(LiveProgressTest, FileReadShareFollowsTheDescriptorsOffset) {
  TTempDir dir;
  const std::string path = dir.Write("in.csv", std::string(4000, 'x'));
  EXPECT_EQ(FileReadShare(path, 4000), std::nullopt);
  const int reader = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(FileReadShare(path, 4000), 0.0);
  char buffer[1000];
  ASSERT_EQ(::read(reader, buffer, sizeof buffer), 1000);
  EXPECT_EQ(FileReadShare(path, 4000), 0.25);
  EXPECT_EQ(FileReadShare(path, 0), std::nullopt);
  ::close(reader);
  EXPECT_EQ(FileReadShare(path, 4000), std::nullopt);
}

// The bytes written so far to the read end `fd` of a pipe (non-blocking).
std::string Drain(int fd) {
  std::string bytes;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  return bytes;
}

// The bytes written to `fd` once something is, waiting up to five seconds
// (a loaded machine may wake the timer late).
std::string AwaitLine(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  std::string bytes;
  while (bytes.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
    bytes = Drain(fd);
  }
  return bytes;
}

class LiveProgressLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe(fds_), 0);
    ASSERT_EQ(::fcntl(fds_[0], F_SETFL, O_NONBLOCK), 0);
    TScript first;
    first.Name = "load orders";
    project_.Scripts.push_back(first);
    project_.Scripts.push_back(TScript{});
  }
  void TearDown() override {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  int fds_[2] = {-1, -1};
  TProject project_;
};

TEST_F(LiveProgressLineTest, ShownAfterHalfASecondWithTheTicksOfEveryTagAndErasedAtTheEnd) {
  TLiveProgress progress(fds_[1]);
  progress.ProjectLoaded(project_);
  progress.Output("5 records processed ...", 0);  // before any script: not counted
  progress.ScriptStarted(1);
  progress.Output("orders: 10000 records processed ...", 0);
  progress.Output("orders: 20000 records processed ...", 0);
  progress.Output("items: 10000 records processed ...", 0);
  progress.Output("rows: 15000 record(s) processed.", -1);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Drain(fds_[0]), "") << "a short step shows nothing";
  const std::string shown = AwaitLine(fds_[0]);
  ASSERT_TRUE(shown.starts_with(std::string(kErase) + "load orders: 30000 records, ")) << shown;
  EXPECT_EQ(shown.find('\n'), std::string::npos);
  progress.ScriptEnded(TScriptReport{});
  EXPECT_TRUE(Drain(fds_[0]).ends_with(kErase));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Drain(fds_[0]), "") << "nothing between scripts";

  // The next script counts afresh and, without a name, is shown by number.
  progress.ScriptStarted(2);
  EXPECT_TRUE(AwaitLine(fds_[0]).starts_with(std::string(kErase) + "script 2: 0 records, "));
}

// A console stream that, at each write, notes whether the terminal (the
// pipe the line is drawn on) has the line erased.
class TWatchingBuffer : public std::stringbuf {
 public:
  explicit TWatchingBuffer(int terminal) : terminal_(terminal) {}
  std::string Terminal;
  std::vector<bool> ErasedAtWrite;

 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    Terminal += Drain(terminal_);
    ErasedAtWrite.push_back(Terminal.empty() || Terminal.ends_with(kErase));
    return std::stringbuf::xsputn(text, count);
  }

 private:
  int terminal_;
};

TEST_F(LiveProgressLineTest, ConsoleWritesFindTheLineTakenAway) {
  TWatchingBuffer outBuffer(fds_[0]);
  TWatchingBuffer errBuffer(fds_[0]);
  std::ostream out(&outBuffer);
  std::ostream err(&errBuffer);
  std::istringstream in;
  TConsole console(out, in, err);
  TLiveProgress progress(fds_[1]);
  console.SetOverlay(&progress);
  progress.ProjectLoaded(project_);
  progress.ScriptStarted(1);

  console.Write("first\n");  // before the line is shown
  ASSERT_FALSE(AwaitLine(fds_[0]).empty());
  for (int i = 0; i < 20; ++i) {
    console.Write("line\n");
    console.WriteError("error\n");
    console.WriteData("data\n");
    std::this_thread::sleep_for(30ms);
  }
  // Shown again between the writes, erased at every one of them.
  EXPECT_NE(outBuffer.Terminal.find(std::string(kErase) + "load orders: "), std::string::npos);
  for (const TWatchingBuffer* buffer : {&outBuffer, &errBuffer}) {
    ASSERT_EQ(buffer->ErasedAtWrite.size(), buffer == &outBuffer ? 41U : 20U);
    for (size_t i = 0; i < buffer->ErasedAtWrite.size(); ++i) {
      EXPECT_TRUE(buffer->ErasedAtWrite[i]) << "write " << i;
    }
  }
  EXPECT_EQ(outBuffer.str().substr(0, 16), "first\nline\ndata\n");
  console.SetOverlay(nullptr);
}

TEST_F(LiveProgressLineTest, ALineStillShownIsErasedWhenTheProgressEnds) {
  {
    TLiveProgress progress(fds_[1]);
    progress.ProjectLoaded(project_);
    progress.ScriptStarted(1);
    ASSERT_FALSE(AwaitLine(fds_[0]).empty());
  }
  EXPECT_TRUE(Drain(fds_[0]).ends_with(kErase));
}

TEST(LiveProgressWantedTest, OnlyOnATerminalWithoutQuietOrTheOptOut) {
  int terminal = -1;
  int other = -1;
  ASSERT_EQ(::openpty(&terminal, &other, nullptr, nullptr, nullptr), 0);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const char* saved = std::getenv("MORVEX_PROGRESS");
  const std::optional<std::string> previous =
      saved ? std::optional<std::string>(saved) : std::nullopt;

  enum class TData { None, Pipe, Terminal };  // where the run's data go
  struct TCase {
    const char* Setting;  // nullptr: unset
    bool Terminal;
    bool Quiet;
    TData Data;
    bool Expected;
  };
  const TCase cases[] = {
      {nullptr, true, false, TData::None, true},
      {"1", true, false, TData::None, true},
      {"", true, false, TData::None, true},
      {"0", true, false, TData::None, false},
      {nullptr, true, true, TData::None, false},
      {nullptr, false, false, TData::None, false},
      {nullptr, true, false, TData::Pipe, true},
      // The data on the terminal: the line would be drawn among them.
      {nullptr, true, false, TData::Terminal, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Setting ? c.Setting : "(unset)") + (c.Terminal ? " tty" : " pipe") +
                 (c.Quiet ? " -q" : "") + " data " + std::to_string(static_cast<int>(c.Data)));
    if (c.Setting) {
      ::setenv("MORVEX_PROGRESS", c.Setting, 1);
    } else {
      ::unsetenv("MORVEX_PROGRESS");
    }
    const int dataFd = c.Data == TData::None ? -1 : (c.Data == TData::Pipe ? pipeFds[1] : other);
    EXPECT_EQ(LiveProgressWanted(c.Terminal ? other : pipeFds[1], c.Quiet, dataFd), c.Expected);
  }
  if (previous) {
    ::setenv("MORVEX_PROGRESS", previous->c_str(), 1);
  } else {
    ::unsetenv("MORVEX_PROGRESS");
  }
  for (const int fd : {terminal, other, pipeFds[0], pipeFds[1]}) ::close(fd);
}

}  // namespace
}  // namespace morvex
