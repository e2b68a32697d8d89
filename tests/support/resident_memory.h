// Resident memory of the test process, for tests that check that a result
// set or an import streams instead of being held whole.
#pragma once

#include <fstream>
#include <string>

namespace morvex {

// AddressSanitizer keeps freed memory in quarantine, so resident memory says
// nothing there: tests then read fewer rows and do not compare memory.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMeasureMemory = false;
#else
inline constexpr bool kMeasureMemory = true;
#endif

// VmRSS of this process in kB; 0 when /proc cannot tell.
inline long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

}  // namespace morvex
