// A scratch directory for one test, removed with everything in it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace morvex {

class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morvex-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  std::string File(std::string_view name) const { return (path_ / name).string(); }

  std::string Write(std::string_view name, std::string_view bytes) const {
    std::string path = File(name);
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // A private character device node with the numbers of a system device
  // (1, 3 is null; 1, 7 is full), so that tests never write to /dev itself.
  // Empty when nodes cannot be made here (not root).
  std::string Device(std::string_view name, unsigned major, unsigned minor) const {
    std::string path = File(name);
    if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(major, minor)) != 0) return {};
    return path;
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path path_;
};

}  // namespace morvex
