#include "scripting/shared_library_file.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace morvex {
namespace {

constexpr std::string_view kEntryPoints[] = {"zqScriptInlineEx", "zqScriptInlineExLib",
                                             "zqsFreeMem"};
const std::string kComplete = MORVEX_TEST_INTERPRETER_DIR "/libzqScriptECL.so";
const std::string kIncomplete = MORVEX_TEST_INTERPRETER_DIR "-incomplete/libzqScriptECL.so";

TSharedLibraryFit Inspect(const std::string& path) {
  return InspectSharedLibrary(path, kEntryPoints);
}

TEST(SharedLibraryFile, DefinedFunctionsAreFound) {
  EXPECT_EQ(Inspect(kComplete), TSharedLibraryFit::Fits);
  EXPECT_EQ(Inspect(kIncomplete), TSharedLibraryFit::LacksFunctions);
  // Functions the library only calls (undefined there) do not count.
  const std::string_view imported[] = {"zqsFreeMem", "malloc"};
  EXPECT_EQ(InspectSharedLibrary(kComplete, imported), TSharedLibraryFit::LacksFunctions);
}

TEST(SharedLibraryFile, FilesThisProcessCannotLoad) {
  TTempDir dir;
  const std::string library = TTempDir::Read(kComplete);
  ASSERT_GT(library.size(), 64u);
  EXPECT_EQ(Inspect(dir.File("missing.so")), TSharedLibraryFit::NotLoadable);
  EXPECT_EQ(Inspect(dir.Write("text.so", "INPUT(-lc)\n")), TSharedLibraryFit::NotLoadable);
  EXPECT_EQ(Inspect(dir.File("")), TSharedLibraryFit::NotLoadable);  // a directory
  std::string other = library;
  other[EI_CLASS] = other[EI_CLASS] == ELFCLASS64 ? ELFCLASS32 : ELFCLASS64;
  EXPECT_EQ(Inspect(dir.Write("class.so", other)), TSharedLibraryFit::NotLoadable);
  other = library;
  other[18] = static_cast<char>(other[18] ^ 0x40);  // e_machine
  EXPECT_EQ(Inspect(dir.Write("machine.so", other)), TSharedLibraryFit::NotLoadable);
}

// A damaged file is judged without crashing or reading outside it.
TEST(SharedLibraryFile, DamagedFilesAreJudgedSafely) {
  TTempDir dir;
  const std::string library = TTempDir::Read(kComplete);
  for (size_t size : {size_t{16}, size_t{64}, size_t{200}}) {
    EXPECT_NE(Inspect(dir.Write("cut.so", library.substr(0, size))), TSharedLibraryFit::Fits);
  }
  // Each byte of the headers and tables in turn, changed in place.
  const std::string path = dir.Write("damaged.so", library);
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  for (size_t at = 0; at < std::min<size_t>(library.size(), 4096); ++at) {
    const char damaged = static_cast<char>(~library[at]);
    ASSERT_EQ(pwrite(fd, &damaged, 1, static_cast<off_t>(at)), 1);
    Inspect(path);
    ASSERT_EQ(pwrite(fd, &library[at], 1, static_cast<off_t>(at)), 1);
  }
  close(fd);
  EXPECT_EQ(Inspect(path), TSharedLibraryFit::Fits);
}

}  // namespace
}  // namespace morvex
