// Small helpers shared by the benchmark programs: a wall clock and the
// process's peak resident set size.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdint>

namespace morvex::bench {

class TStopwatch {
 public:
  TStopwatch() : start_(std::chrono::steady_clock::now()) {}
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

// Peak resident set size of this process in KB (Linux reports ru_maxrss in KB).
inline int64_t PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

inline double MegabytesPerSecond(int64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds : 0;
}

}  // namespace morvex::bench
