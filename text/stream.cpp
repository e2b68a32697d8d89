#include "text/stream.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "text/error.h"

namespace morvex {

namespace {

constexpr size_t kChunkSize = 64 * 1024;
constexpr int kMaxLinks = 40;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

TClosedPipeHandler gClosedPipeHandler = nullptr;

[[noreturn]] void RaiseFileError(const char* action, const std::string& path, int error) {
  throw EMorvexError(std::string("Cannot ") + action + " file " + path + ": " +
                     std::strerror(error));
}

[[noreturn]] void RaiseFileError(const char* action, const std::string& path, const char* reason) {
  throw EMorvexError(std::string("Cannot ") + action + " file " + path + ": " + reason);
}

int WhenceOf(SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Begin:
      return SEEK_SET;
    case SeekOrigin::Current:
      return SEEK_CUR;
    case SeekOrigin::End:
      return SEEK_END;
  }
  return SEEK_SET;
}

// Reads until `count` bytes arrived or the end of the file; retries
// interrupted calls. Returns the number read, or -1 with errno set.
ssize_t ReadFully(int fd, char* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, buffer + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done > 0) break;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

bool WriteFully(int fd, const char* data, size_t count) {
  while (count > 0) {
    ssize_t n = ::write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// ---------------------------------------------------------------- TStream

std::string TStream::ReadToEnd() {
  std::string out;
  size_t length = 0;
  for (;;) {
    if (out.size() - length < kChunkSize) out.resize(length + kChunkSize);
    size_t n = Read(out.data() + length, out.size() - length);
    if (n == 0) break;
    length += n;
  }
  out.resize(length);
  return out;
}

int64_t TStream::CopyFrom(TStream& source) {
  auto buffer = std::make_unique<char[]>(kChunkSize);
  int64_t total = 0;
  for (;;) {
    size_t n = source.Read(buffer.get(), kChunkSize);
    if (n == 0) break;
    Write(buffer.get(), n);
    total += static_cast<int64_t>(n);
  }
  return total;
}

// ---------------------------------------------------------- TMemoryStream

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (pos_ >= data_.size() || count == 0) return 0;
  size_t n = std::min(count, data_.size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

void TMemoryStream::Write(const void* data, size_t count) {
  if (count == 0) return;
  if (pos_ > data_.size()) data_.resize(pos_, '\0');
  size_t overwrite = std::min(count, data_.size() - pos_);
  const char* bytes = static_cast<const char*>(data);
  data_.replace(pos_, overwrite, bytes, overwrite);
  data_.append(bytes + overwrite, count - overwrite);
  pos_ += count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  if (origin == SeekOrigin::Current) base = static_cast<int64_t>(pos_);
  if (origin == SeekOrigin::End) base = static_cast<int64_t>(data_.size());
  if ((offset < 0 && base + offset < 0) ||
      (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)) {
    throw EMorvexError("Cannot seek memory stream: position out of range");
  }
  pos_ = static_cast<size_t>(base + offset);
  return base + offset;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EMorvexError("Cannot set the size of memory stream: negative size");
  data_.resize(static_cast<size_t>(size), '\0');
  pos_ = std::min(pos_, data_.size());
}

// ------------------------------------------------------------ TFileStream

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Read:
      flags |= O_RDONLY;
      break;
    case Mode::Create: {
      output_ = true;
      if (const int own = OwnDescriptorOf(path); own >= 0) {
        fd_ = ::fcntl(own, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0) RaiseFileError("open", path_, errno);
        streamed_ = dropMark_ = true;
        return;
      }
      struct stat existing {};
      if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) &&
          !S_ISDIR(existing.st_mode)) {
        flags |= O_WRONLY;
        streamed_ = true;
      } else {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
      }
      break;
    }
    case Mode::ReadWrite:
      flags |= O_RDWR;
      break;
  }
  do {
    fd_ = ::open(path.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) RaiseFileError("open", path_, errno);
  // A directory opens read-only without complaint but cannot be read; refuse
  // it here so that the message names the real reason.
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    RaiseFileError("open", path_, EISDIR);
  }
}

TFileStream::TFileStream(int fd, std::string name, bool owns)
    : fd_(fd), owns_(owns), path_(std::move(name)) {}

TFileStream::~TFileStream() {
  try {
    Flush();
  } catch (...) {
    // The destructor cannot report; Close() is the way to learn of this.
  }
  if (owns_ && fd_ >= 0) ::close(fd_);
}

void TFileStream::Close() {
  if (fd_ < 0) return;
  int flushError = 0;
  std::string flushMessage;
  try {
    Flush();
  } catch (const EMorvexError& e) {
    flushError = 1;
    flushMessage = e.what();
  }
  int closeError = 0;
  if (owns_ && ::close(fd_) != 0 && errno != EINTR) closeError = errno;
  fd_ = -1;
  if (flushError) throw EMorvexError(flushMessage);
  if (closeError) RaiseFileError("write", path_, closeError);
}

void TFileStream::DropReadBuffer() {
  size_t unread = rlen_ - rpos_;
  rpos_ = rlen_ = 0;
  // Give the read-ahead back so that the descriptor's offset is the stream's
  // position again. Descriptors that cannot seek (pipes) have nothing to give.
  if (unread > 0) ::lseek(fd_, -static_cast<off_t>(unread), SEEK_CUR);
}

size_t TFileStream::Read(void* buffer, size_t count) {
  if (count == 0) return 0;
  if (!wbuf_.empty()) Flush();
  char* out = static_cast<char*>(buffer);
  size_t done = std::min(count, rlen_ - rpos_);
  if (done > 0) {
    std::memcpy(out, rbuf_.get() + rpos_, done);
    rpos_ += done;
  }
  if (done == count) return done;

  size_t rest = count - done;
  if (rest >= kChunkSize) {
    ssize_t n = ReadFully(fd_, out + done, rest);
    if (n < 0) RaiseFileError("read", path_, errno);
    return done + static_cast<size_t>(n);
  }
  if (!rbuf_) rbuf_ = std::make_unique<char[]>(kChunkSize);
  // One read usually fills the read-ahead; more are made only while fewer
  // bytes than asked for have arrived (a pipe delivers in pieces).
  rpos_ = rlen_ = 0;
  while (rlen_ < rest) {
    ssize_t n = ::read(fd_, rbuf_.get() + rlen_, kChunkSize - rlen_);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (rlen_ > 0 || done > 0) break;
      RaiseFileError("read", path_, errno);
    }
    if (n == 0) break;
    rlen_ += static_cast<size_t>(n);
  }
  size_t take = std::min(rest, rlen_);
  std::memcpy(out + done, rbuf_.get(), take);
  rpos_ = take;
  return done + take;
}

void TFileStream::Write(const void* data, size_t count) {
  if (count == 0) return;
  if (rlen_ > 0) DropReadBuffer();
  streamedBytes_ += static_cast<int64_t>(count);
  const char* bytes = static_cast<const char*>(data);
  if (std::exchange(dropMark_, false) && std::string_view(bytes, count).starts_with(kUtf8Mark)) {
    bytes += kUtf8Mark.size();
    count -= kUtf8Mark.size();
    if (count == 0) return;
  }
  if (wbuf_.size() + count < kChunkSize) {
    wbuf_.append(bytes, count);
    return;
  }
  Flush();
  if (count >= kChunkSize) {
    if (!WriteFully(fd_, bytes, count)) RaiseWriteError(errno);
    return;
  }
  wbuf_.append(bytes, count);
}

void TFileStream::Flush() {
  if (wbuf_.empty()) return;
  bool ok = WriteFully(fd_, wbuf_.data(), wbuf_.size());
  int error = errno;
  // Bytes that could not be written are dropped so that the destructor does
  // not try again and the error is reported once.
  wbuf_.clear();
  if (!ok) RaiseWriteError(error);
}

void TFileStream::RaiseWriteError(int error) {
  if (error == EPIPE && output_ && gClosedPipeHandler != nullptr) gClosedPipeHandler();
  RaiseFileError("write", path_, error);
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  if (streamed_) {
    const bool stays = (origin == SeekOrigin::Current && offset == 0) ||
                       (origin == SeekOrigin::Begin && offset == streamedBytes_);
    if (!stays) RaiseFileError("seek", path_, ESPIPE);
    return streamedBytes_;
  }
  if (origin == SeekOrigin::Current && offset == 0 && !wbuf_.empty()) {
    // A position query while writing need not push the buffer out.
    off_t fileOffset = ::lseek(fd_, 0, SEEK_CUR);
    if (fileOffset < 0) RaiseFileError("seek", path_, errno);
    return fileOffset + static_cast<int64_t>(wbuf_.size());
  }
  Flush();
  if (origin == SeekOrigin::Current && rlen_ > 0) {
    // Stay inside the read-ahead when the target lies in it (Position() calls
    // this between reads).
    off_t fileOffset = ::lseek(fd_, 0, SEEK_CUR);
    if (fileOffset < 0) RaiseFileError("seek", path_, errno);
    int64_t bufferStart = fileOffset - static_cast<int64_t>(rlen_);
    int64_t target = fileOffset - static_cast<int64_t>(rlen_ - rpos_) + offset;
    if (target < 0) RaiseFileError("seek", path_, EINVAL);
    if (target >= bufferStart && target <= fileOffset) {
      rpos_ = static_cast<size_t>(target - bufferStart);
      return target;
    }
    DropReadBuffer();
    off_t result = ::lseek(fd_, static_cast<off_t>(target), SEEK_SET);
    if (result < 0) RaiseFileError("seek", path_, errno);
    return result;
  }
  DropReadBuffer();
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), WhenceOf(origin));
  if (result < 0) RaiseFileError("seek", path_, errno);
  return result;
}

int64_t TFileStream::Size() {
  if (streamed_) RaiseFileError("get the size of", path_, "not a regular file");
  Flush();
  struct stat st {};
  if (::fstat(fd_, &st) != 0) RaiseFileError("get the size of", path_, errno);
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    RaiseFileError("get the size of", path_, "not a regular file");
  }
  if (S_ISBLK(st.st_mode)) {
    DropReadBuffer();
    off_t current = ::lseek(fd_, 0, SEEK_CUR);
    off_t end = ::lseek(fd_, 0, SEEK_END);
    if (current < 0 || end < 0) RaiseFileError("get the size of", path_, errno);
    ::lseek(fd_, current, SEEK_SET);
    return end;
  }
  return st.st_size;
}

void TFileStream::SetSize(int64_t size) {
  if (streamed_) RaiseFileError("set the size of", path_, ESPIPE);
  Flush();
  DropReadBuffer();
  if (size < 0) RaiseFileError("set the size of", path_, EINVAL);
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) RaiseFileError("set the size of", path_, errno);
  off_t position = ::lseek(fd_, 0, SEEK_CUR);
  if (position > size) ::lseek(fd_, static_cast<off_t>(size), SEEK_SET);
}

int OwnDescriptorOf(const std::string& path) {
  const std::string ownDescriptors = "/proc/" + std::to_string(::getpid()) + "/fd";
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks && !current.empty(); ++hop) {
    const size_t slash = current.rfind('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : current.substr(0, slash);
    const std::string name = slash == std::string::npos ? current : current.substr(slash + 1);
    char resolved[PATH_MAX];
    if (!name.empty() && name.size() <= 9 &&
        name.find_first_not_of("0123456789") == std::string::npos &&
        ::realpath(directory.c_str(), resolved) != nullptr && ownDescriptors == resolved) {
      return std::atoi(name.c_str());
    }
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return -1;
    char link[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), link, sizeof link);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof link) return -1;
    const std::string target(link, static_cast<size_t>(length));
    current = target.front() == '/' ? target : directory + "/" + target;
  }
  return -1;
}

void SetClosedPipeHandler(TClosedPipeHandler handler) { gClosedPipeHandler = handler; }

std::unique_ptr<TFileStream> CreateTemporaryFile(std::string name, std::string_view what) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // File systems without O_TMPFILE: a named file, removed at once.
    std::string path = dir + "/morvex-XXXXXX";
    fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(path.c_str());
  }
  if (fd < 0) {
    throw EMorvexError("Cannot keep " + std::string(what) + " in a temporary file in " + dir +
                       ": " + std::strerror(errno));
  }
  return std::make_unique<TFileStream>(fd, std::move(name), true);
}

}  // namespace morvex
