#include "engine/streams.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/temp_path.h"
#include "text/encoding.h"
#include "text/error.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using morvex::testing::TempPath;

TEST(StreamRegistryTest, NamesIgnoreCaseAndGetOrCreateEmptiesInPlace) {
  TStreamRegistry registry([] { return std::make_unique<TMemoryStream>(); });
  ASSERT_NE(registry.FindStream("XSTREAM"), nullptr);

  TStream& out = registry.GetOrCreateStream("Out");
  out.Write(std::string_view("first"));
  ASSERT_EQ(registry.FindStream("out"), &out);
  EXPECT_EQ(out.Position(), 5);  // a lookup does not rewind

  EXPECT_EQ(&registry.GetOrCreateStream("OUT"), &out);
  EXPECT_EQ(out.Size(), 0);
  EXPECT_EQ(out.Position(), 0);
  // Emptying gives the memory of a large earlier content back.
  out.Write(std::string(1 << 20, 'x'));
  registry.GetOrCreateStream("out");
  EXPECT_LT(static_cast<TMemoryStream&>(out).Data().capacity(), 1024u);

  auto replacement = std::make_unique<TMemoryStream>("rows");
  TStream* replacementPtr = replacement.get();
  registry.GetOrCreateStream("out", std::move(replacement));
  EXPECT_EQ(registry.FindStream("Out"), replacementPtr);

  TStream& unicode = registry.GetOrCreateStream("Ströme");
  EXPECT_EQ(registry.FindStream("STRÖME"), &unicode);
  EXPECT_EQ(registry.FindStream("missing"), nullptr);
}

TEST(StreamRegistryTest, StdInIsReadOnce) {
  int reads = 0;
  TStreamRegistry registry([&] {
    ++reads;
    return std::make_unique<TMemoryStream>("piped\ndata");
  });
  TStream* first = registry.FindStream("stdin");
  ASSERT_NE(first, nullptr);
  first->Seek(0, SeekOrigin::End);
  EXPECT_EQ(registry.FindStream("STDIN"), first);
  EXPECT_EQ(reads, 1);
  first->SetPosition(0);
  EXPECT_EQ(first->ReadToEnd(), "piped\ndata");
  // "-" is standard input too, before and after "StdIn" was read.
  EXPECT_EQ(registry.FindStream("-"), first);
  TStreamRegistry other([] { return std::make_unique<TMemoryStream>("typed"); });
  TStream* dash = other.FindStream("-");
  ASSERT_NE(dash, nullptr);
  EXPECT_EQ(other.FindStream("StdIn"), dash);
  EXPECT_EQ(dash->ReadToEnd(), "typed");
}

// Runs ReadStandardInput with `bytes` (kept in `dir`) as standard input and
// TMPDIR set to `tmpdir`; both are put back afterwards.
std::unique_ptr<TStream> ReadAsStandardInput(const std::string& bytes, const fs::path& dir,
                                             const fs::path& tmpdir) {
  const fs::path input = dir / "stdin.bin";
  std::ofstream(input, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string savedTmp = oldTmp ? oldTmp : "";
  ::setenv("TMPDIR", tmpdir.c_str(), 1);
  const int saved = ::dup(0);
  const int fd = ::open(input.c_str(), O_RDONLY);
  if (fd < 0) throw EMorvexError("cannot open " + input.string());
  ::dup2(fd, 0);
  ::close(fd);
  std::clearerr(stdin);
  std::unique_ptr<TStream> stream;
  std::string error;
  try {
    stream = ReadStandardInput();
  } catch (const EMorvexError& e) {
    error = e.what();
  }
  ::dup2(saved, 0);
  ::close(saved);
  std::clearerr(stdin);
  if (oldTmp) {
    ::setenv("TMPDIR", savedTmp.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  if (!error.empty()) throw EMorvexError(error);
  return stream;
}

// Standard input is held in memory while small; a large one is kept in an
// unlinked temporary file, so piping gigabytes costs no memory, and reads
// back byte for byte.
TEST(StreamRegistryTest, LargeStandardInputIsSpooledToATemporaryFile) {
  const fs::path dir = TempPath("morvex_streams_stdin");
  fs::remove_all(dir);
  fs::create_directories(dir);

  std::unique_ptr<TStream> small = ReadAsStandardInput("a,b\r\n1,2\r\n", dir, dir);
  ASSERT_NE(dynamic_cast<TMemoryStream*>(small.get()), nullptr);
  EXPECT_EQ(small->ReadToEnd(), "a,b\r\n1,2\r\n");

  std::string big;
  for (uint32_t i = 0; big.size() < (9u << 20); ++i) big += std::to_string(i * 2654435761u) + ',';
  std::unique_ptr<TStream> spooled = ReadAsStandardInput(big, dir, dir);
  ASSERT_NE(dynamic_cast<TFileStream*>(spooled.get()), nullptr);
  EXPECT_EQ(spooled->Position(), 0);
  EXPECT_EQ(spooled->Size(), static_cast<int64_t>(big.size()));
  EXPECT_TRUE(spooled->ReadToEnd() == big);
  // Nothing is left behind in the temporary directory but the input itself.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  EXPECT_THROW(
      {
        try {
          ReadAsStandardInput(big, dir, dir / "missing");
        } catch (const EMorvexError& e) {
          EXPECT_NE(std::string(e.what()).find("Cannot keep standard input in a temporary file"),
                    std::string::npos);
          throw;
        }
      },
      EMorvexError);
  fs::remove_all(dir);
}

class StreamFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempPath("morvex_streams_" +
                    std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Bytes(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Put(const std::string& name, std::string_view bytes) const {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  fs::path dir_;
};

TEST_F(StreamFilesTest, TextIsDecodedByByteOrderMark) {
  Put("utf8bom.txt", "\xEF\xBB\xBFPraha \xC4\x8D");
  Put("utf16le.txt", std::string("\xFF\xFEO\0K\0", 6));
  Put("plain.txt", "\xC4\x8D\r\nx");
  std::string text;
  ASSERT_TRUE(LoadTextFile(text, Path("utf8bom.txt")));
  EXPECT_EQ(text, "Praha \xC4\x8D");
  ASSERT_TRUE(LoadTextFile(text, Path("utf16le.txt")));
  EXPECT_EQ(text, "OK");
  ASSERT_TRUE(LoadTextFile(text, Path("plain.txt")));
  EXPECT_EQ(text, "\xC4\x8D\r\nx");
  EXPECT_FALSE(LoadTextFile(text, Path("missing.txt")));
  EXPECT_EQ(text, "\xC4\x8D\r\nx");

  TMemoryStream stream("abcdef");
  stream.SetPosition(2);
  ASSERT_TRUE(ReadStreamText(stream, text));
  EXPECT_EQ(text, "cdef");
}

TEST_F(StreamFilesTest, SaveTextToFileBytes) {
  Put("a.txt", "a much longer old content");
  ASSERT_TRUE(SaveTextToFile("\xC4\x8D", Path("a.txt"), true, &EncodingForName("utf-8")));
  EXPECT_EQ(Bytes("a.txt"), "\xEF\xBB\xBF\xC4\x8D");
  ASSERT_TRUE(SaveTextToFile("ok", Path("b.txt"), true));  // system ANSI: no mark
  EXPECT_EQ(Bytes("b.txt"), "ok");
  ASSERT_TRUE(SaveTextToFile("ok", Path("c.txt"), true, &EncodingForName("unicode")));
  EXPECT_EQ(Bytes("c.txt"), std::string("\xFF\xFEo\0k\0", 6));
  ASSERT_TRUE(SaveTextToFile("", Path("d.txt"), true, &EncodingForName("utf-8")));
  EXPECT_TRUE(fs::exists(dir_ / "d.txt"));
  EXPECT_EQ(Bytes("d.txt"), "");
  EXPECT_FALSE(SaveTextToFile("x", Path("no/such/dir.txt"), false));
}

TEST_F(StreamFilesTest, CopiesWithoutTransform) {
  Put("in.txt", "file bytes");
  Put("out.txt", "older and longer content");
  TMemoryStream sourceStream("stream bytes");
  sourceStream.SetPosition(7);
  TMemoryStream destinationStream;
  const TXSourceInfo fileSource{skFile, Path("in.txt"), "", nullptr};
  const TXSourceInfo streamSource{skStream, "s", "", &sourceStream};
  const TXSourceInfo fileDestination{skFile, Path("out.txt"), "", nullptr};
  const TXSourceInfo streamDestination{skStream, "d", "", &destinationStream};

  CopySourceToDestination(fileSource, fileDestination);
  EXPECT_EQ(Bytes("out.txt"), "file bytes");
  CopySourceToDestination(streamSource, fileDestination);  // whatever the position
  EXPECT_EQ(Bytes("out.txt"), "stream bytes");
  CopySourceToDestination(fileSource, streamDestination);
  EXPECT_EQ(destinationStream.Data(), "file bytes");
  EXPECT_EQ(destinationStream.Position(), 0);
  destinationStream.Clear();
  sourceStream.SetPosition(7);
  CopySourceToDestination(streamSource, streamDestination);
  EXPECT_EQ(destinationStream.Data(), "stream bytes");

  TMemoryStream empty;
  ASSERT_TRUE(SaveStreamToFile(empty, Path("empty.bin")));
  EXPECT_TRUE(fs::exists(dir_ / "empty.bin"));
  EXPECT_FALSE(CopyFileTo(Path("in.txt"), Path("in.txt")));
  EXPECT_EQ(Bytes("in.txt"), "file bytes");
}

// A copy to /dev/stdout redirected to a file goes on where the descriptor
// stands: a copy by name would truncate that file and write from its start.
TEST_F(StreamFilesTest, CopyToADescriptorLinkWritesThroughTheDescriptor) {
  Put("in.txt", "file bytes\n");
  Put("out.txt", "earlier output\n");
  const int fd = ::open(Path("out.txt").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  const std::string link = "/dev/fd/" + std::to_string(fd);
  EXPECT_TRUE(CopyFileTo(Path("in.txt"), link));
  TMemoryStream stream("stream bytes\n");
  EXPECT_TRUE(SaveStreamToFile(stream, link));
  ::close(fd);
  EXPECT_EQ(Bytes("out.txt"), "earlier output\nfile bytes\nstream bytes\n");
}

TEST_F(StreamFilesTest, DestinationErrorsCarryTheirMessages) {
  const auto messageOf = [](const auto& action) {
    try {
      action();
    } catch (const EMorvexError& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  TMemoryStream stream("x");
  Put("in.txt", "x");
  const TXSourceInfo missingFile{skFile, Path("missing.txt"), "", nullptr};
  const TXSourceInfo badFile{skFile, Path("no/dir/out.txt"), "", nullptr};
  const TXSourceInfo streamOut{skStream, "Out", "", &stream};
  const TXSourceInfo streamOutLower{skStream, "out", "", &stream};
  // The copy names both files and why it failed, a missing directory by name.
  EXPECT_EQ(messageOf([&] { CopySourceToDestination(missingFile, badFile); }),
            "Cannot copy file!: " + Path("missing.txt") + " -> " + Path("no/dir/out.txt") +
                ": No such file or directory");
  const TXSourceInfo inFile{skFile, Path("in.txt"), "", nullptr};
  EXPECT_EQ(messageOf([&] { CopySourceToDestination(inFile, badFile); }),
            "Cannot copy file!: " + Path("in.txt") + " -> " + Path("no/dir/out.txt") +
                ": the directory " + Path("no/dir") + " does not exist");
  TXSourceInfo pending{skFile, Path("no/.out.txt.morvex-1-abcdef"), "", nullptr};
  pending.ShownLocation = "no/out.txt";
  EXPECT_EQ(messageOf([&] { CopySourceToDestination(inFile, pending); }),
            "Cannot copy file!: " + Path("in.txt") + " -> no/out.txt: the directory " + Path("no") +
                " does not exist");
  EXPECT_EQ(messageOf([&] { CopySourceToDestination(inFile, inFile); }),
            "Cannot copy file!: " + Path("in.txt") + " -> " + Path("in.txt") +
                ": source and destination are the same file");
  const TXSourceInfo missingStream{skStream, "Early", "", nullptr};
  EXPECT_EQ(messageOf([&] { CopySourceToDestination(missingStream, streamOut); }),
            "Stream does not exist!: Early");
  EXPECT_EQ(messageOf([&] { CopySourceToDestination(streamOut, badFile); }),
            "Cannot save stream to destination file!");
  EXPECT_NE(messageOf([&] { CopySourceToDestination(missingFile, streamOut); }).find("missing.txt"),
            std::string::npos);
  // Emptying the destination would destroy the source: refused in any letter case.
  EXPECT_EQ(messageOf([&] { CheckStreamsDiffer(streamOut, streamOutLower); }),
            "Source and destination streams must be different!");
  EXPECT_EQ(messageOf([&] { CheckStreamsDiffer(missingFile, streamOut); }), "no error");
}

}  // namespace
}  // namespace morvex
