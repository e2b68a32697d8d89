// Temp paths for tests that touch files.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace morvex::testing {

// A path under the system temp directory that names this test process, so
// that parallel builds running the same tests do not share files.
inline std::filesystem::path TempPath(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("morvex-" + std::to_string(::getpid()) + "-" + name);
}

}  // namespace morvex::testing
