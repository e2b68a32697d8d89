#include "app/live_progress.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/interrupt.h"
#include "engine/project_loader.h"
#include "text/step_info.h"
#include "text/stream.h"

namespace morvex {

namespace {

constexpr std::string_view kTickEnd = " records processed ...";
constexpr std::string_view kErase = "\r\x1b[K";
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr double kQuietSeconds = 0.5;

void WriteAll(int fd, std::string_view text) { WriteFully(fd, text.data(), text.size()); }

int TerminalWidth(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

bool LiveProgressWanted(int fd, bool quiet, int dataFd) {
  if (quiet || ::isatty(fd) != 1) return false;
  if (dataFd >= 0 && ::isatty(dataFd) == 1) return false;
  const char* setting = std::getenv("MORVEX_PROGRESS");
  return !setting || std::string_view(setting) != "0";
}

std::optional<TProgressTick> ProgressTickOf(std::string_view text) {
  if (!text.ends_with(kTickEnd)) return std::nullopt;
  text.remove_suffix(kTickEnd.size());
  const size_t digits = text.find_last_not_of("0123456789");
  const size_t first = digits == std::string_view::npos ? 0 : digits + 1;
  if (first == text.size() || text.size() - first > 18) return std::nullopt;
  TProgressTick tick;
  for (const char c : text.substr(first)) tick.Records = tick.Records * 10 + (c - '0');
  if (first > 0) {
    if (!text.substr(0, first).ends_with(": ")) return std::nullopt;
    tick.Tag = std::string(text.substr(0, first - 2));
  }
  return tick;
}

namespace {

std::string MinutesAndSeconds(double seconds) {
  const auto whole = static_cast<int64_t>(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(whole / 60),
                static_cast<long long>(whole % 60));
  return text;
}

}  // namespace

std::string LiveLineText(const std::string& name, int64_t records, double seconds, int width,
                         std::optional<double> read) {
  const int64_t rate =
      seconds > 0 ? static_cast<int64_t>(static_cast<double>(records) / seconds) : 0;
  const std::string elapsed = MinutesAndSeconds(seconds);
  std::string line;
  // A name is shown on one line: control characters become spaces.
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    line += byte < 0x20 || byte == 0x7F ? ' ' : c;
  }
  line += ": " + std::to_string(records) + " records, " + std::to_string(rate) + "/s, " + elapsed;
  // The time left is only guessed once a little of the input is read.
  if (read && *read >= 0.001 && *read <= 1) {
    line += ", " + std::to_string(static_cast<int>(*read * 100)) + "%, ETA " +
            MinutesAndSeconds(seconds * (1 - *read) / *read);
  }
  // Cut at a character boundary: never inside a UTF-8 sequence.
  size_t limit = width > 1 ? static_cast<size_t>(width - 1) : 0;
  if (line.size() > limit) {
    while (limit > 0 && (static_cast<unsigned char>(line[limit]) & 0xC0) == 0x80) --limit;
    line.resize(limit);
  }
  return line;
}

std::optional<double> FileReadShare(const std::string& path, int64_t size) {
  if (size <= 0) return std::nullopt;
  std::error_code error;
  std::optional<int64_t> furthest;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError) != path || linkError) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string key;
    int64_t position = 0;
    while (info >> key) {
      if (key == "pos:" && info >> position) {
        furthest = std::max(furthest.value_or(0), position);
        break;
      }
    }
  }
  if (!furthest) return std::nullopt;
  return std::min(1.0, static_cast<double>(*furthest) / static_cast<double>(size));
}

TLiveProgress::TLiveProgress(int fd) : fd_(fd) {
  // Signals stay with the run's own threads: the timer thread starts with
  // every signal blocked.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &previous);
  timer_ = std::thread([this] { TimerLoop(); });
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

TLiveProgress::~TLiveProgress() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    EraseLocked();
  }
  wake_.notify_all();
  timer_.join();
}

void TLiveProgress::ProjectLoaded(const TProject& project) {
  const std::lock_guard lock(mutex_);
  names_.clear();
  for (const TScript& script : project.Scripts) names_.push_back(script.Name);
}

void TLiveProgress::ScriptStarted(int number) {
  const std::lock_guard lock(mutex_);
  const bool named =
      number >= 1 && static_cast<size_t>(number) <= names_.size() && !names_[number - 1].empty();
  name_ = named ? names_[number - 1] : "script " + std::to_string(number);
  ticks_.clear();
  inputPath_.clear();
  inputSize_ = 0;
  start_ = std::chrono::steady_clock::now();
  running_ = true;
}

void TLiveProgress::SourceResolved(const TXSourceInfo& source) {
  std::string path;
  int64_t size = 0;
  if (source.Kind == skFile) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(source.Location, error);
    if (!error && std::filesystem::is_regular_file(canonical, error)) {
      const auto bytes = std::filesystem::file_size(canonical, error);
      if (!error) {
        path = canonical.string();
        size = static_cast<int64_t>(bytes);
      }
    }
  }
  const std::lock_guard lock(mutex_);
  inputPath_ = std::move(path);
  inputSize_ = size;
}

void TLiveProgress::ScriptEnded(const TScriptReport&) {
  const std::lock_guard lock(mutex_);
  running_ = false;
  EraseLocked();
}

void TLiveProgress::Output(const std::string& text, int64_t) {
  const std::optional<TProgressTick> tick = ProgressTickOf(text);
  if (!tick) return;
  const std::lock_guard lock(mutex_);
  if (running_) ticks_[tick->Tag] = tick->Records;
}

void TLiveProgress::WriteAround(const std::function<void()>& write) {
  const std::lock_guard lock(mutex_);
  EraseLocked();
  write();
}

void TLiveProgress::TimerLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, kRedrawInterval);
    if (!stopping_) DrawLocked();
  }
}

void TLiveProgress::EraseLocked() {
  if (!shown_) return;
  WriteAll(fd_, kErase);
  shown_ = false;
  SetInterruptLiveLine(-1);
}

void TLiveProgress::DrawLocked() {
  if (!running_) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (seconds < kQuietSeconds) return;
  int64_t records = 0;
  for (const auto& [tag, count] : ticks_) records += count;
  const std::optional<double> read =
      inputPath_.empty() ? std::nullopt : FileReadShare(inputPath_, inputSize_);
  std::string text = LiveLineText(name_, records, seconds, TerminalWidth(fd_), read);
  if (shown_ && text == drawn_) return;
  drawn_ = std::move(text);
  shown_ = true;
  SetInterruptLiveLine(fd_);
  WriteAll(fd_, std::string(kErase) + drawn_);
}

}  // namespace morvex
