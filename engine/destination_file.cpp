#include "engine/destination_file.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "text/error.h"

namespace morvex {

namespace {

constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 100;
// File names are at most 255 bytes; the temporary name adds 16 to the
// destination's own name, which is shortened when needed.
constexpr size_t kMaxNameStem = 255 - 16;

// The temporary file a signal handler removes: a fixed buffer, and a flag
// that is set only while the buffer holds a complete path.
char gPendingPath[PATH_MAX];
volatile sig_atomic_t gPendingSet = 0;

void SetPending(const std::string& path) {
  gPendingSet = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (path.size() >= sizeof gPendingPath) return;
  std::memcpy(gPendingPath, path.c_str(), path.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  gPendingSet = 1;
}

void ClearPending() {
  gPendingSet = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Holds SIGINT, SIGTERM and SIGHUP back for its lifetime; they are
// delivered when it ends.
class TInterruptsDeferred {
 public:
  TInterruptsDeferred() {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~TInterruptsDeferred() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  TInterruptsDeferred(const TInterruptsDeferred&) = delete;
  TInterruptsDeferred& operator=(const TInterruptsDeferred&) = delete;

 private:
  sigset_t previous_;
};

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

// True for the links of /proc/<pid>/fd (also reached as /dev/stdout or
// /dev/fd/N): they stand for an open descriptor, which is written through as
// it is, never replaced by the file its text names.
bool IsDescriptorLink(const std::string& path) {
  const std::string directory = DirectoryOf(path);
  struct statfs info;
  return ::statfs(directory.empty() ? "." : directory.c_str(), &info) == 0 &&
         info.f_type == PROC_SUPER_MAGIC;
}

std::string RandomLetters(size_t count) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::vector<unsigned char> bytes(count);
  if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    // Without random bytes the exclusive create still keeps names apart.
    static unsigned counter = 0;
    const unsigned seed = static_cast<unsigned>(::getpid()) * 7919u + ++counter;
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(seed >> (i % 4 * 8));
  }
  std::string letters;
  for (const unsigned char byte : bytes) letters += kAlphabet[byte % (sizeof kAlphabet - 1)];
  return letters;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
}

}  // namespace

std::string FollowSymbolicLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat info;
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    if (IsDescriptorLink(current)) return current;
    std::vector<char> buffer(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1);
    const ssize_t length = ::readlink(current.c_str(), buffer.data(), buffer.size());
    if (length < 0 || static_cast<size_t>(length) >= buffer.size()) return current;
    std::string link(buffer.data(), static_cast<size_t>(length));
    current = !link.empty() && link.front() == '/' ? link : DirectoryOf(current) + link;
  }
  return path;
}

void DeleteOldDestinationFile(const std::string& path) {
  if (path.empty()) return;
  const std::string target = FollowSymbolicLinks(path);
  struct stat info;
  if (::lstat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  if (::unlink(target.c_str()) != 0) {
    throw EMorvexError("Cannot delete old destination file: " + path);
  }
}

TDestinationFile::TDestinationFile(const std::string& path)
    : path_(path), target_(FollowSymbolicLinks(path)), writePath_(path) {
  // target_ is no link unless it is a descriptor link or a loop: both are
  // written in place.
  struct stat info;
  if (::lstat(target_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    if (S_ISFIFO(info.st_mode)) HoldFifoOpen();
    return;
  }
  std::string name = target_.substr(DirectoryOf(target_).size());
  if (name.empty()) return;
  if (name.size() > kMaxNameStem) name.resize(kMaxNameStem);
  const std::string prefix = DirectoryOf(target_) + "." + name + ".morvex-";
  // A signal between creating the file and registering it would leave it.
  TInterruptsDeferred deferred;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string candidate = prefix + RandomLetters(6);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      SetPending(candidate);
      writePath_ = std::move(candidate);
      return;
    }
    if (errno != EEXIST && errno != EINTR) return;
  }
}

TDestinationFile::~TDestinationFile() {
  ReleaseFifo();
  if (WritesInPlace() || committed_) return;
  ClearPending();
  ::unlink(writePath_.c_str());
}

void TDestinationFile::HoldFifoOpen() {
  do {
    fifo_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
  } while (fifo_ < 0 && errno == EINTR);
}

void TDestinationFile::ReleaseFifo() {
  if (fifo_ >= 0) ::close(fifo_);
  fifo_ = -1;
}

void TDestinationFile::Commit() {
  ReleaseFifo();
  if (WritesInPlace() || committed_) return;
  if (::rename(writePath_.c_str(), target_.c_str()) != 0) {
    throw EMorvexError("Cannot write destination file: " + path_ + ": " + std::strerror(errno));
  }
  committed_ = true;
  ClearPending();
}

std::string TDestinationFile::ShowDestinationPath(std::string message) const {
  if (!WritesInPlace()) ReplaceAll(message, writePath_, path_);
  return message;
}

void WriteDestination(TXSourceInfo& destination, const std::function<void()>& step) {
  if (destination.Kind != skFile) {
    step();
    return;
  }
  const std::string location = destination.Location;
  TDestinationFile output(location);
  destination.Location = output.WritePath();
  destination.ShownLocation = location;
  try {
    step();
    output.Commit();
  } catch (const EMorvexError& error) {
    destination.Location = location;
    destination.ShownLocation.clear();
    const std::string message = output.ShowDestinationPath(error.what());
    if (message == error.what()) throw;
    throw EMorvexError(message);
  } catch (...) {
    destination.Location = location;
    destination.ShownLocation.clear();
    throw;
  }
  destination.Location = location;
  destination.ShownLocation.clear();
}

void RemovePendingDestinationFile() noexcept {
  if (gPendingSet) ::unlink(gPendingPath);
}

}  // namespace morvex
