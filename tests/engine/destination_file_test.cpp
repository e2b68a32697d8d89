#include "engine/destination_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
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

// The user "nobody" for files another user owns; tests that need one run as
// root.
struct passwd* Nobody() {
  if (::geteuid() != 0) return nullptr;
  return ::getpwnam("nobody");
}

TEST(DestinationFileTest, ReplacedFileKeepsItsModeOwnerAndGroup) {
  TTempDir dir;
  const std::string out = dir.Write("export.csv", "yesterday");
  ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
  const struct passwd* nobody = Nobody();
  if (nobody) {
    ASSERT_EQ(::chown(out.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  }
  struct stat before;
  ASSERT_EQ(::stat(out.c_str(), &before), 0);

  const std::optional<TFileAttributes> replaced = DeleteOldDestinationFile(out);
  ASSERT_TRUE(replaced.has_value());
  EXPECT_FALSE(fs::exists(out));
  TXSourceInfo destination{skFile, out, "", nullptr};
  WriteDestination(
      destination,
      [&] {
        // Not readable by others while the new content is written.
        EXPECT_EQ(fs::status(destination.Location).permissions(), static_cast<fs::perms>(0600));
        WriteFile(destination.Location, "today");
      },
      replaced);
  struct stat after;
  ASSERT_EQ(::stat(out.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(TTempDir::Read(out), "today");

  // Set-id bits are not handed on to new content.
  ASSERT_EQ(::chmod(out.c_str(), 06750), 0);
  WriteDestination(
      destination, [&] { WriteFile(destination.Location, "again"); },
      DeleteOldDestinationFile(out));
  ASSERT_EQ(::stat(out.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0750u);

  // A new file has nothing to keep: 0666 less the umask.
  EXPECT_FALSE(DeleteOldDestinationFile(dir.File("new.csv")).has_value());
  const mode_t mask = ::umask(0);
  ::umask(mask);
  TXSourceInfo fresh{skFile, dir.File("new.csv"), "", nullptr};
  WriteDestination(fresh, [&] { WriteFile(fresh.Location, "new"); });
  EXPECT_EQ(fs::status(dir.File("new.csv")).permissions(), static_cast<fs::perms>(0666 & ~mask));
  if (!nobody) GTEST_SKIP() << "owner and group checked only as root";
}

TEST(DestinationFileTest, PlantedLinksInStickyDirectoriesAreNotFollowed) {
  const struct passwd* nobody = Nobody();
  if (!nobody) GTEST_SKIP() << "needs root to make a link another user owns";
  TTempDir dir;
  const std::string shared = dir.File("shared");
  fs::create_directories(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const std::string victim = dir.Write("victim.txt", "precious");
  const std::string planted = shared + "/report.xml";
  fs::create_symlink(victim, planted);
  ASSERT_EQ(::lchown(planted.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  // A chain: the process's own link leads to the planted one.
  const std::string own = dir.File("mine.xml");
  fs::create_symlink(planted, own);

  const std::string refusal = "Cannot write destination file: " + planted + ": the symbolic link " +
                              planted +
                              " belongs to another user in a sticky world-writable directory";
  EXPECT_EQ(ErrorOf([&] { DeleteOldDestinationFile(planted); }), refusal);
  EXPECT_EQ(ErrorOf([&] { TDestinationFile output(planted); }), refusal);
  EXPECT_NE(ErrorOf([&] { DeleteOldDestinationFile(own); }).find(" the symbolic link " + planted),
            std::string::npos);
  TXSourceInfo destination{skFile, planted, "", nullptr};
  bool ran = false;
  EXPECT_EQ(ErrorOf([&] { WriteDestination(destination, [&] { ran = true; }); }), refusal);
  EXPECT_FALSE(ran);
  EXPECT_EQ(TTempDir::Read(victim), "precious");
  EXPECT_EQ(Names(shared), std::vector<std::string>{"report.xml"});

  // Followed where the kernel would follow it: a link of the directory's
  // owner, or one in a directory that is not sticky and world-writable.
  ASSERT_EQ(::lchown(planted.c_str(), 0, 0), 0);
  EXPECT_EQ(FollowSymbolicLinks(planted), victim);
  const std::string open = dir.File("open");
  fs::create_directories(open);
  ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
  fs::create_symlink(victim, open + "/report.xml");
  ASSERT_EQ(::lchown((open + "/report.xml").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  EXPECT_EQ(FollowSymbolicLinks(open + "/report.xml"), victim);
}

// A process id that no process has: a child that has ended and been reaped.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

TEST(DestinationFileTest, TemporaryNamesCarryThePidAndLeftoversOfEndedRunsGo) {
  TTempDir dir;
  const pid_t ended = EndedProcess();
  const std::string stale = dir.Write(".out.xml.morvex-" + std::to_string(ended) + "-abc123", "x");
  const std::string live =
      dir.Write(".out.xml.morvex-" + std::to_string(::getppid()) + "-abc123", "x");
  const std::string other =
      dir.Write(".other.xml.morvex-" + std::to_string(ended) + "-abc123", "x");
  const std::string unlike = dir.Write(".out.xml.morvex-" + std::to_string(ended) + "-notes", "x");
  {
    TDestinationFile output(dir.File("out.xml"));
    EXPECT_EQ(fs::path(output.WritePath())
                  .filename()
                  .string()
                  .rfind(".out.xml.morvex-" + std::to_string(::getpid()) + "-", 0),
              0u);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
  }
  EXPECT_TRUE(fs::exists(other));
  EXPECT_TRUE(fs::exists(unlike));
}

}  // namespace
}  // namespace morvex
