// The live progress line of a run on a terminal: while a script has run for
// more than half a second, one line on standard error shows its name, the
// records so far, records per second and the elapsed time, and for a source
// file the share of it read and the time left, redrawn at most
// ten times a second by a timer thread. The line is erased when the script
// ends and before every console write, so the console text of a run is the
// same with and without it; it never reaches the log.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/console_log.h"
#include "engine/run_observer.h"

namespace morvex {

// Whether a run shows the live line: standard error (`fd`) is a terminal,
// the run is not quiet, MORVEX_PROGRESS is not "0", and the run's data,
// when it writes some to a descriptor (`dataFd`, -1 for none), do not go to
// a terminal, where the line would be drawn among them.
bool LiveProgressWanted(int fd, bool quiet, int dataFd = -1);

// The records a progress tick line says ("12 records processed ...", or
// "<tag>: 12 records processed ..."), with the tag ("" without one); nothing
// for any other line.
struct TProgressTick {
  std::string Tag;
  int64_t Records = 0;
};
std::optional<TProgressTick> ProgressTickOf(std::string_view text);

// The text of the live line: "<name>: <records> records, <rate>/s, <m>:<ss>",
// with ", <p>%, ETA <m>:<ss>" when the share of the input read (`read`, 0 to
// 1) is known, cut to `width` - 1 characters so that it never wraps (which
// would defeat the carriage return that erases it).
std::string LiveLineText(const std::string& name, int64_t records, double seconds, int width,
                         std::optional<double> read = std::nullopt);

// The share of the regular file `path` (of `size` bytes) that this process
// has read so far: the furthest offset of its descriptors open on the file,
// as the kernel keeps it (/proc/self/fdinfo), so no reader has to count. Null
// when no descriptor of the process is open on it.
std::optional<double> FileReadShare(const std::string& path, int64_t size);

class TLiveProgress : public TRunObserver, public TConsoleOverlay {
 public:
  // `fd` is the terminal the line is drawn on.
  explicit TLiveProgress(int fd);
  TLiveProgress(const TLiveProgress&) = delete;
  TLiveProgress& operator=(const TLiveProgress&) = delete;
  // Stops the timer thread and erases a line still shown.
  ~TLiveProgress() override;

  void ProjectLoaded(const TProject& project) override;
  void ParametersSettled(const TParameterList&) override {}
  void ScriptStarted(int number) override;
  // A file source of known size gives the line its share read and ETA.
  void SourceResolved(const TXSourceInfo& source) override;
  void ScriptEnded(const TScriptReport& report) override;

  // Every line the run reports: progress ticks of the running script are
  // counted.
  void Output(const std::string& text, int64_t level);

  // Runs `write` (a console write) with the line erased and not redrawn
  // until it returns; the timer draws it again on its next tick.
  void WriteAround(const std::function<void()>& write) override;

 private:
  void TimerLoop();
  void EraseLocked();
  void DrawLocked();

  const int fd_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool running_ = false;  // a script is running
  bool shown_ = false;    // the line is on the terminal
  std::string name_;
  std::string drawn_;  // the text of the line last drawn
  std::chrono::steady_clock::time_point start_;
  std::map<std::string, int64_t> ticks_;  // records per tag of the running script
  std::string inputPath_;                 // the running script's source file, resolved
  int64_t inputSize_ = 0;                 // its size in bytes
  std::vector<std::string> names_;        // script names, by number - 1
  std::thread timer_;
};

}  // namespace morvex
