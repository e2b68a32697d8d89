#include "engine/destination_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/streams.h"
#include "tests/support/temp_dir.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EMorvexError& error) {
    return error.what();
  }
  return "no error";
}

void WriteFile(const std::string& path, std::string_view bytes) {
  TFileStream file(path, TFileStream::Mode::Create);
  file.Write(bytes);
  file.Close();
}

TEST(FollowSymbolicLinksTest, ChainsDanglingLinksAndLoops) {
  TTempDir dir;
  fs::create_directories(dir.File("data"));
  fs::create_symlink("data/report.xml", dir.File("first"));
  fs::create_symlink(dir.File("first"), dir.File("second"));
  EXPECT_EQ(FollowSymbolicLinks(dir.File("second")), dir.File("data/report.xml"));
  EXPECT_EQ(FollowSymbolicLinks(dir.File("plain.xml")), dir.File("plain.xml"));
  fs::create_symlink("loop-b", dir.File("loop-a"));
  fs::create_symlink("loop-a", dir.File("loop-b"));
  EXPECT_EQ(FollowSymbolicLinks(dir.File("loop-a")), dir.File("loop-a"));
}

TEST(DeleteOldDestinationFileTest, OnlyRegularFilesAreDeleted) {
  TTempDir dir;
  dir.Write("old.xml", "x");
  DeleteOldDestinationFile(dir.File("old.xml"));
  EXPECT_FALSE(fs::exists(dir.File("old.xml")));
  EXPECT_EQ(ErrorOf([&] { DeleteOldDestinationFile(dir.File("missing.xml")); }), "no error");

  // A link is followed: the file it names goes, the link stays.
  dir.Write("target.xml", "x");
  fs::create_symlink("target.xml", dir.File("link.xml"));
  DeleteOldDestinationFile(dir.File("link.xml"));
  EXPECT_FALSE(fs::exists(dir.File("target.xml")));
  EXPECT_TRUE(fs::is_symlink(dir.File("link.xml")));

  // Devices, FIFOs and directories are written in place, never deleted.
  ASSERT_FALSE(dir.Device("null", 1, 3).empty());
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0666), 0);
  fs::create_directories(dir.File("folder"));
  fs::create_symlink("null", dir.File("null-link"));
  for (const char* name : {"null", "fifo", "folder", "null-link"}) {
    DeleteOldDestinationFile(dir.File(name));
  }
  EXPECT_TRUE(fs::is_character_file(dir.File("null")));
  EXPECT_TRUE(fs::is_fifo(dir.File("fifo")));
  EXPECT_TRUE(fs::is_directory(dir.File("folder")));
  EXPECT_TRUE(fs::is_symlink(dir.File("null-link")));

  // A descriptor link (/dev/stdout redirected to a file) is written through:
  // the file open behind it is neither deleted nor replaced.
  const std::string console = dir.Write("console.txt", "earlier lines");
  const int fd = ::open(console.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const std::string descriptor = "/proc/self/fd/" + std::to_string(fd);
  fs::create_symlink(descriptor, dir.File("stdout"));
  EXPECT_EQ(FollowSymbolicLinks(dir.File("stdout")), descriptor);
  DeleteOldDestinationFile(dir.File("stdout"));
  {
    TDestinationFile output(dir.File("stdout"));
    EXPECT_TRUE(output.WritesInPlace());
  }
  ::close(fd);
  EXPECT_EQ(TTempDir::Read(console), "earlier lines");
}

TEST(DestinationFileTest, OutputReplacesTheDestinationOnlyOnCommit) {
  TTempDir dir;
  const std::string out = dir.File("out.xml");
  {
    TDestinationFile output(out);
    ASSERT_FALSE(output.WritesInPlace());
    EXPECT_EQ(fs::path(output.WritePath()).parent_path(), fs::path(out).parent_path());
    // Created like any new file (0666 less the umask), not private to its owner.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(output.WritePath()).permissions(), static_cast<fs::perms>(0666 & ~mask));
    WriteFile(output.WritePath(), "new");
    EXPECT_FALSE(fs::exists(out));
    output.Commit();
  }
  EXPECT_EQ(TTempDir::Read(out), "new");
  EXPECT_EQ(Names(dir.File("")), std::vector<std::string>{"out.xml"});

  // Not committed (a failed step): neither the output nor the temporary file.
  fs::remove(out);
  {
    TDestinationFile output(out);
    WriteFile(output.WritePath(), "partial");
  }
  EXPECT_TRUE(Names(dir.File("")).empty());

  // A missing directory: written in place, so the step reports its own error.
  TDestinationFile nowhere(dir.File("no/such/out.xml"));
  EXPECT_TRUE(nowhere.WritesInPlace());
}

TEST(DestinationFileTest, LinksAreFollowedAndDevicesWrittenInPlace) {
  TTempDir dir;
  fs::create_directories(dir.File("data"));
  fs::create_symlink("data/report.xml", dir.File("out.xml"));
  {
    TDestinationFile output(dir.File("out.xml"));
    EXPECT_EQ(fs::path(output.WritePath()).parent_path(), fs::path(dir.File("data")));
    WriteFile(output.WritePath(), "report");
    output.Commit();
  }
  EXPECT_TRUE(fs::is_symlink(dir.File("out.xml")));
  EXPECT_EQ(TTempDir::Read(dir.File("data/report.xml")), "report");
  EXPECT_EQ(Names(dir.File("data")), std::vector<std::string>{"report.xml"});

  ASSERT_FALSE(dir.Device("null", 1, 3).empty());
  TDestinationFile device(dir.File("null"));
  EXPECT_TRUE(device.WritesInPlace());
  EXPECT_EQ(device.WritePath(), dir.File("null"));
  EXPECT_TRUE(CopyFileTo(dir.File("data/report.xml"), device.WritePath()));
  device.Commit();
  EXPECT_TRUE(fs::is_character_file(dir.File("null")));
}

TEST(DestinationFileTest, FifoReaderSeesTheEndOnlyWhenTheStepEnds) {
  TTempDir dir;
  const std::string fifo = dir.File("out.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  char buffer[16];
  {
    TDestinationFile output(fifo);
    EXPECT_TRUE(output.WritesInPlace());
    WriteFile(output.WritePath(), "part");  // the step's own file closes here
    ASSERT_EQ(::read(reader, buffer, sizeof buffer), 4);
    // Still open for writing: no end of data between the step's writes.
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), -1);
    EXPECT_EQ(errno, EAGAIN);
    output.Commit();
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 0);
  }
  ::close(reader);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST(DestinationFileTest, StepErrorsNameTheDestinationAndSignalsRemoveTheOutput) {
  TTempDir dir;
  TXSourceInfo destination{skFile, dir.File("out.xml"), "", nullptr};
  std::string seen;
  const std::string message = ErrorOf([&] {
    WriteDestination(destination, [&] {
      seen = destination.Location;
      WriteFile(seen, "partial");
      throw EMorvexError("Cannot write file " + seen + ": disk full");
    });
  });
  EXPECT_NE(seen, dir.File("out.xml"));
  EXPECT_EQ(message, "Cannot write file " + dir.File("out.xml") + ": disk full");
  EXPECT_EQ(destination.Location, dir.File("out.xml"));
  EXPECT_TRUE(Names(dir.File("")).empty());

  WriteDestination(destination, [&] { WriteFile(destination.Location, "whole"); });
  EXPECT_EQ(TTempDir::Read(dir.File("out.xml")), "whole");

  // What an interrupt handler removes: the temporary file of the step being
  // written, and nothing once the output is in place.
  {
    TDestinationFile output(dir.File("next.xml"));
    RemovePendingDestinationFile();
    EXPECT_FALSE(fs::exists(output.WritePath()));
  }
  {
    TDestinationFile output(dir.File("out.xml"));
    WriteFile(output.WritePath(), "replaced");
    output.Commit();
    RemovePendingDestinationFile();
  }
  EXPECT_EQ(TTempDir::Read(dir.File("out.xml")), "replaced");
  EXPECT_EQ(Names(dir.File("")), std::vector<std::string>{"out.xml"});
}

}  // namespace
}  // namespace morvex
