#include "scripting/library_search.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace morvex {
namespace {

// Sets LD_LIBRARY_PATH and the working directory for one test.
class TSearchEnvironment {
 public:
  TSearchEnvironment(const std::string& path, const std::string& directory)
      : directory_(std::filesystem::current_path()) {
    const char* old = std::getenv("LD_LIBRARY_PATH");
    if (old) old_ = old;
    hadOld_ = old != nullptr;
    setenv("LD_LIBRARY_PATH", path.c_str(), 1);
    std::filesystem::current_path(directory);
  }
  ~TSearchEnvironment() {
    std::filesystem::current_path(directory_);
    if (hadOld_) {
      setenv("LD_LIBRARY_PATH", old_.c_str(), 1);
    } else {
      unsetenv("LD_LIBRARY_PATH");
    }
  }

 private:
  std::filesystem::path directory_;
  std::string old_;
  bool hadOld_ = false;
};

TEST(LibrarySearch, EmptyEntriesAreNotTheCurrentDirectory) {
  TTempDir here, there, extra;
  const std::string name = "libmorvex-search-test.so";
  here.Write(name, "x");
  const std::string wanted = there.Write(name, "x");
  const std::string fallback = extra.Write(name, "x");
  for (const std::string& path : {std::string(":"), ":" + there.File(""), there.File("") + ":",
                                  "/nonexistent::" + there.File(""), ";;" + there.File("")}) {
    TSearchEnvironment environment(path, here.File(""));
    const std::vector<std::string> files = FindLibraryFiles(name, {"", extra.File("")});
    const std::vector<std::string> expected = path == ":"
                                                  ? std::vector<std::string>{fallback}
                                                  : std::vector<std::string>{wanted, fallback};
    // Paths are joined with one "/"; compare the files, not the spelling.
    ASSERT_EQ(files.size(), expected.size()) << path;
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_TRUE(std::filesystem::equivalent(files[i], expected[i])) << path << ": " << files[i];
    }
  }
  // An entry the user wrote, relative or not, is searched.
  TSearchEnvironment environment(".", here.File(""));
  EXPECT_EQ(FindLibraryFiles(name, {}), std::vector<std::string>{"./" + name});
}

TEST(LibrarySearch, SystemLibrariesAreFound) {
  TSearchEnvironment environment("", "/");
  // The C library is in the loader's cache or its system directories.
  EXPECT_FALSE(FindLibraryFiles("libc.so.6", {}).empty());
  EXPECT_TRUE(FindLibraryFiles("libmorvex-no-such-library.so", {}).empty());
}

}  // namespace
}  // namespace morvex
