#include "engine/destination_file.h"

#include <dirent.h>
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
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "engine/streams.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/text_edit.h"

namespace morvex {

namespace {

constexpr int kMaxLinks = 40;
constexpr int kNameAttempts = 100;
constexpr size_t kRandomLetters = 6;
constexpr std::string_view kTemporaryMark = ".morvex-";
// File names are at most 255 bytes; the temporary name adds "." and the mark,
// a process id of up to 10 digits, "-" and the random letters to the
// destination's own name, which is shortened when needed.
constexpr size_t kMaxNameStem = 255 - 1 - kTemporaryMark.size() - 10 - 1 - kRandomLetters;

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

// Holds the run-ending signals back for its lifetime; they are delivered
// when it ends.
class TInterruptsDeferred {
 public:
  TInterruptsDeferred() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int signal : kRunEndingSignals) sigaddset(&blocked, signal);
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

std::string RandomLetters(size_t count = kRandomLetters) {
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

// The kernel's protected-symlinks rule for the link `path` (whose lstat is
// `link`): may this process follow it?
bool MayFollowLink(const std::string& path, const struct stat& link) {
  if (link.st_uid == ::geteuid()) return true;
  const std::string directory = DirectoryOf(path);
  struct stat parent;
  if (::stat(directory.empty() ? "." : directory.c_str(), &parent) != 0) return false;
  constexpr mode_t kShared = S_ISVTX | S_IWOTH;
  return (parent.st_mode & kShared) != kShared || parent.st_uid == link.st_uid;
}

// The process id a temporary name of `prefix` carries ("<prefix><pid>-xxxxxx"),
// or 0 when `name` is no such name.
pid_t TemporaryNameProcess(std::string_view name, std::string_view prefix) {
  if (name.substr(0, prefix.size()) != prefix) return 0;
  name.remove_prefix(prefix.size());
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 10) return 0;
  if (name.size() - dash - 1 != kRandomLetters) return 0;
  long long pid = 0;
  for (const char c : name.substr(0, dash)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid > 0 && pid <= INT32_MAX ? static_cast<pid_t>(pid) : 0;
}

// Removes the temporary files beside `directory` + `prefix` whose process no
// longer exists: what a run killed by SIGKILL, or one that crashed, left of
// the same destination. A process that exists (or that this one may not
// signal) may still be writing its file, which stays.
void RemoveLeftovers(const std::string& directory, const std::string& prefix) {
  DIR* listing = ::opendir(directory.empty() ? "." : directory.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    const pid_t pid = TemporaryNameProcess(entry->d_name, prefix);
    if (pid == 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
    const std::string path = directory + entry->d_name;
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
  }
  ::closedir(listing);
}

// Gives the file `path` the attributes of the file it replaces: owner and
// group first (a change of owner clears set-id bits), then the permission
// bits. A process that may not give the file away still sets the group when
// it belongs to it; what cannot be set stays as created (private to the
// process's user), never wider.
void ApplyAttributes(const std::string& path, const TFileAttributes& attributes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info;
  if (::fstat(fd, &info) == 0) {
    if ((info.st_uid != attributes.Owner || info.st_gid != attributes.Group) &&
        ::fchown(fd, attributes.Owner, attributes.Group) != 0 && info.st_gid != attributes.Group) {
      [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), attributes.Group);
    }
    ::fchmod(fd, attributes.Mode);
  }
  ::close(fd);
}

}  // namespace

std::string FollowSymbolicLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat info;
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    if (IsDescriptorLink(current)) return current;
    if (!MayFollowLink(current, info)) {
      throw EMorvexError("Cannot write destination file: " + path + ": the symbolic link " +
                         current + " belongs to another user in a sticky world-writable directory");
    }
    std::vector<char> buffer(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1);
    const ssize_t length = ::readlink(current.c_str(), buffer.data(), buffer.size());
    if (length < 0 || static_cast<size_t>(length) >= buffer.size()) return current;
    std::string link(buffer.data(), static_cast<size_t>(length));
    current = !link.empty() && link.front() == '/' ? link : DirectoryOf(current) + link;
  }
  return path;
}

std::optional<TFileAttributes> DeleteOldDestinationFile(const std::string& path) {
  if (path.empty()) return std::nullopt;
  const std::string target = FollowSymbolicLinks(path);
  struct stat info;
  if (::lstat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (::unlink(target.c_str()) != 0) {
    throw EMorvexError("Cannot delete old destination file: " + path);
  }
  // Only the permission bits: set-user-ID and set-group-ID on new content
  // would hand the old file's rights to data nobody vetted.
  return TFileAttributes{info.st_mode & 0777, info.st_uid, info.st_gid};
}

TDestinationFile::TDestinationFile(const std::string& path,
                                   const std::optional<TFileAttributes>& replaced)
    : path_(path), target_(FollowSymbolicLinks(path)), writePath_(path), replaced_(replaced) {
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
  const std::string directory = DirectoryOf(target_);
  const std::string namePrefix = "." + name + std::string(kTemporaryMark);
  RemoveLeftovers(directory, namePrefix);
  const std::string prefix = directory + namePrefix + std::to_string(::getpid()) + "-";
  // The new content of a file that was not for everyone's eyes is not shown
  // to others while it is written.
  const mode_t mode = replaced_ ? 0600 : 0666;
  // A signal between creating the file and registering it would leave it.
  TInterruptsDeferred deferred;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string candidate = prefix + RandomLetters();
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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
  if (replaced_) ApplyAttributes(writePath_, *replaced_);
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

bool IsStandardOutput(const std::string& location) {
  return location == kStandardStreamName || OwnDescriptorOf(location) == STDOUT_FILENO;
}

void WriteDestination(TXSourceInfo& destination, const std::function<void()>& step,
                      const std::optional<TFileAttributes>& replaced) {
  if (destination.Kind != skFile) {
    step();
    return;
  }
  const std::string location = destination.Location;
  TDestinationFile output(location, replaced);
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
