#include "text/stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "tests/support/temp_dir.h"
#include "text/error.h"

namespace morvex {
namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EMorvexError& e) {
    return e.what();
  }
  return "no error";
}

TEST(MemoryStream, ReadsWritesAndSeeks) {
  TMemoryStream stream;
  stream.Write("hello world");
  EXPECT_EQ(stream.Position(), 11);
  stream.SetPosition(6);
  stream.Write("there!");
  EXPECT_EQ(stream.Data(), "hello there!");
  stream.SetPosition(0);
  char buffer[5];
  EXPECT_EQ(stream.Read(buffer, 5), 5u);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(stream.ReadToEnd(), " there!");
  EXPECT_EQ(stream.Read(buffer, 5), 0u);

  // Writing past the end fills the gap with zero bytes.
  stream.Seek(2, SeekOrigin::End);
  stream.Write("x");
  EXPECT_EQ(stream.Data(), std::string("hello there!\0\0x", 15));
  stream.SetSize(5);
  EXPECT_EQ(stream.Position(), 5);
  EXPECT_EQ(stream.Data(), "hello");
  EXPECT_THROW(stream.Seek(-6, SeekOrigin::Current), EMorvexError);
  EXPECT_THROW(stream.SetSize(-1), EMorvexError);
}

TEST(FileStream, LargeWritesAndReadsCrossTheBuffers) {
  TTempDir dir;
  const std::string path = dir.File("data.bin");
  const std::string bytes = Pattern(300 * 1000);
  {
    TFileStream out(path, TFileStream::Mode::Create);
    size_t pos = 0;
    for (size_t step = 1; pos < bytes.size(); step = step * 3 + 1) {
      size_t n = std::min(step % 90001, bytes.size() - pos);
      out.Write(bytes.data() + pos, n);
      pos += n;
      EXPECT_EQ(out.Position(), static_cast<int64_t>(pos));
    }
    EXPECT_EQ(out.Size(), static_cast<int64_t>(bytes.size()));
    out.Close();
  }
  EXPECT_EQ(TTempDir::Read(path), bytes);

  TFileStream in(path, TFileStream::Mode::Read);
  std::string back;
  std::string buffer(100 * 1000, '\0');
  for (size_t step = 1;; step = step * 5 + 3) {
    size_t n = in.Read(buffer.data(), std::min<size_t>(step % 99991 + 1, buffer.size()));
    if (n == 0) break;
    back.append(buffer, 0, n);
    EXPECT_EQ(in.Position(), static_cast<int64_t>(back.size()));
  }
  EXPECT_EQ(back, bytes);
  in.SetPosition(123457);
  EXPECT_EQ(in.Read(buffer.data(), 3), 3u);
  EXPECT_EQ(buffer.substr(0, 3), bytes.substr(123457, 3));
  EXPECT_EQ(in.Seek(-13, SeekOrigin::End), static_cast<int64_t>(bytes.size() - 13));
  EXPECT_EQ(in.ReadToEnd(), bytes.substr(bytes.size() - 13));
}

TEST(FileStream, MixedReadsWritesSeeksAndSizes) {
  TTempDir dir;
  const std::string path = dir.Write("mixed.txt", "abcdefgh");
  TFileStream file(path, TFileStream::Mode::ReadWrite);
  char buffer[8];
  ASSERT_EQ(file.Read(buffer, 2), 2u);
  file.Write("XY");  // lands after what was read, not after the read-ahead
  EXPECT_EQ(file.Position(), 4);
  EXPECT_EQ(file.Read(buffer, 2), 2u);
  EXPECT_EQ(std::string(buffer, 2), "ef");
  file.Seek(-1, SeekOrigin::Current);
  EXPECT_EQ(file.Read(buffer, 1), 1u);
  EXPECT_EQ(buffer[0], 'f');
  file.Seek(0, SeekOrigin::End);
  file.Write("123");
  EXPECT_EQ(file.Size(), 11);
  file.SetSize(5);
  EXPECT_EQ(file.Position(), 5);
  file.SetPosition(1);
  file.SetSize(9);
  EXPECT_EQ(file.Position(), 1);
  EXPECT_THROW(file.Seek(-2, SeekOrigin::Begin), EMorvexError);
  file.Close();
  EXPECT_EQ(TTempDir::Read(path), std::string("abXYe\0\0\0\0", 9));

  TFileStream created(dir.File("new.txt"), TFileStream::Mode::Create);
  created.Write("abc");
  created.SetPosition(0);
  EXPECT_EQ(created.ReadToEnd(), "abc");
}

TEST(FileStream, ErrorsNameThePathAndTheReason) {
  TTempDir dir;
  const std::string missing = dir.File("missing.txt");
  EXPECT_EQ(ErrorOf([&] { TFileStream f(missing, TFileStream::Mode::Read); }),
            "Cannot open file " + missing + ": No such file or directory");
  EXPECT_EQ(ErrorOf([&] { TFileStream f(missing, TFileStream::Mode::ReadWrite); }),
            "Cannot open file " + missing + ": No such file or directory");
  std::string folder = dir.File("");
  EXPECT_EQ(ErrorOf([&] { TFileStream f(folder, TFileStream::Mode::Read); }),
            "Cannot open file " + folder + ": Is a directory");

  const std::string readOnly = dir.Write("ro.txt", "x");
  TFileStream reader(readOnly, TFileStream::Mode::Read);
  EXPECT_EQ(ErrorOf([&] {
              reader.Write("y");
              reader.Flush();
            }),
            "Cannot write file " + readOnly + ": Bad file descriptor");
  EXPECT_EQ(reader.ReadToEnd(), "x");
}

TEST(FileStream, FullDiskIsReportedByCloseNotByTheDestructor) {
  TTempDir dir;
  const std::string device = dir.Device("full", 1, 7);
  if (device.empty()) GTEST_SKIP() << "no device node can be made here";
  {
    TFileStream full(device, TFileStream::Mode::ReadWrite);
    full.Write("lost");
    EXPECT_EQ(ErrorOf([&] { full.Close(); }),
              "Cannot write file " + device + ": No space left on device");
    full.Close();  // a second close has nothing left to report
  }
  {
    TFileStream full(device, TFileStream::Mode::ReadWrite);
    full.Write("lost");
  }  // the destructor swallows the same failure
  TFileStream full(device, TFileStream::Mode::ReadWrite);
  EXPECT_THROW(full.Write(Pattern(70 * 1024)), EMorvexError);
}

// A device written in place cannot seek, yet its writers still ask where
// they are (a text's byte-order mark goes only at the start): the position
// is the count of bytes written, and only a seek to it succeeds.
TEST(FileStream, DeviceOutputKnowsItsPositionWithoutSeeking) {
  TTempDir dir;
  const std::string device = dir.Device("null", 1, 3);
  if (device.empty()) GTEST_SKIP() << "no device node can be made here";
  TFileStream out(device, TFileStream::Mode::Create);
  EXPECT_EQ(out.Position(), 0);
  out.Write("abc");
  EXPECT_EQ(out.Position(), 3);
  out.SetPosition(3);
  EXPECT_EQ(ErrorOf([&] { out.SetPosition(0); }), "Cannot seek file " + device + ": Illegal seek");
  out.Close();
}

TEST(FileStream, WrappedPipeReadsToEndButHasNoSize) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string bytes = Pattern(20000);
  ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fds[1]);
  TFileStream in(fds[0], "StdIn", true);
  EXPECT_EQ(ErrorOf([&] { in.Size(); }), "Cannot get the size of file StdIn: not a regular file");
  EXPECT_EQ(ErrorOf([&] { in.Seek(0, SeekOrigin::Begin); }),
            "Cannot seek file StdIn: Illegal seek");
  EXPECT_EQ(in.ReadToEnd(), bytes);

  TMemoryStream copy;
  TMemoryStream source(bytes);
  source.SetPosition(5);
  EXPECT_EQ(copy.CopyFrom(source), static_cast<int64_t>(bytes.size() - 5));
  EXPECT_EQ(copy.Data(), bytes.substr(5));
}

TEST(FileStream, DescriptorLinksNameTheirDescriptor) {
  TTempDir dir;
  EXPECT_EQ(OwnDescriptorOf("/dev/stdout"), 1);
  EXPECT_EQ(OwnDescriptorOf("/dev/fd/1"), 1);
  EXPECT_EQ(OwnDescriptorOf("/proc/self/fd/2"), 2);
  EXPECT_EQ(OwnDescriptorOf("/proc/" + std::to_string(::getpid()) + "/fd/7"), 7);
  ASSERT_EQ(::symlink("/dev/stdout", dir.File("console").c_str()), 0);
  ASSERT_EQ(::symlink("console", dir.File("again").c_str()), 0);
  EXPECT_EQ(OwnDescriptorOf(dir.File("again")), 1);
  // Another process's descriptors, plain files and missing paths are no
  // descriptor of this process.
  EXPECT_EQ(OwnDescriptorOf("/proc/1/fd/1"), -1);
  EXPECT_EQ(OwnDescriptorOf(dir.Write("1", "x")), -1);
  EXPECT_EQ(OwnDescriptorOf(dir.File("none")), -1);
  EXPECT_EQ(OwnDescriptorOf("-"), -1);
}

// Standard output redirected to a file ("morvex ... /dev/stdout >> out"):
// the output goes on where the descriptor stands, the file is neither
// truncated nor written from its start, and the stream cannot seek back.
TEST(FileStream, CreateWritesThroughADescriptorAtItsOffset) {
  TTempDir dir;
  const std::string path = dir.Write("out", "before\n");
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  {
    TFileStream out(link, TFileStream::Mode::Create);
    out.Write("\xEF\xBB\xBF");  // a UTF-8 byte-order mark is no data there
    out.Write("data\n");
    EXPECT_EQ(ErrorOf([&] { out.Seek(0, SeekOrigin::Begin); }),
              "Cannot seek file " + link + ": Illegal seek");
    EXPECT_EQ(ErrorOf([&] { out.SetSize(0); }),
              "Cannot set the size of file " + link + ": Illegal seek");
    EXPECT_EQ(ErrorOf([&] { out.Size(); }),
              "Cannot get the size of file " + link + ": not a regular file");
    out.Close();
  }
  ASSERT_EQ(::write(fd, "after\n", 6), 6);  // the descriptor itself stays open
  ::close(fd);
  EXPECT_EQ(TTempDir::Read(path), "before\ndata\nafter\n");

  // Only a mark that starts the output is dropped; a regular file keeps it.
  const std::string file = dir.File("file");
  {
    TFileStream out(file, TFileStream::Mode::Create);
    out.Write("\xEF\xBB\xBFx");
  }
  EXPECT_EQ(TTempDir::Read(file), "\xEF\xBB\xBFx");
}

int gClosedPipeCalls = 0;

// A pipe or FIFO output whose reader has gone tells the closed-pipe handler
// before the write fails: the descriptor is opened write-only, so the run is
// not a reader of its own output.
TEST(FileStream, ClosedOutputPipeCallsTheHandler) {
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);
  SetClosedPipeHandler([] { ++gClosedPipeCalls; });
  TTempDir dir;

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  const std::string link = "/proc/self/fd/" + std::to_string(fds[1]);
  gClosedPipeCalls = 0;
  {
    TFileStream out(link, TFileStream::Mode::Create);
    out.Write("lost");
    EXPECT_EQ(ErrorOf([&] { out.Close(); }), "Cannot write file " + link + ": Broken pipe");
  }
  EXPECT_EQ(gClosedPipeCalls, 1);
  ::close(fds[1]);

  // A FIFO by its own name: opened for writing only.
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  TFileStream out(fifo, TFileStream::Mode::Create);
  ::close(reader);
  EXPECT_THROW(out.Write(Pattern(70 * 1024)), EMorvexError);
  EXPECT_EQ(gClosedPipeCalls, 2);

  // Other writers (a log, a temporary file) are no output of the run.
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  TFileStream wrapped(fds[1], "log", true);
  EXPECT_THROW(wrapped.Write(Pattern(70 * 1024)), EMorvexError);
  EXPECT_EQ(gClosedPipeCalls, 2);

  SetClosedPipeHandler(nullptr);
  ::sigaction(SIGPIPE, &previous, nullptr);
}

}  // namespace
}  // namespace morvex
