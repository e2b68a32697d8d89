// Byte streams: the one stream abstraction shared by every subsystem (files,
// memory buffers, named streams of a project, standard input). A stream has a
// position and a size; reading and writing happen at the position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace morvex {

enum class SeekOrigin { Begin, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to `count` bytes at the position into `buffer` and advances the
  // position. Returns the number read; 0 only at the end of the stream.
  // Raises EMorvexError on an I/O failure.
  virtual size_t Read(void* buffer, size_t count) = 0;

  // Writes all `count` bytes at the position, growing the stream as needed.
  // Raises EMorvexError on failure (a full disk, a read-only stream).
  virtual void Write(const void* data, size_t count) = 0;

  // Moves the position; returns the new position. Raises EMorvexError when
  // the stream cannot seek or the position would be negative.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

  // Total size in bytes. Raises EMorvexError when unknown (pipes).
  virtual int64_t Size() = 0;

  // Cuts or extends the stream to `size` bytes; the position is kept unless it
  // lies beyond the new end, in which case it moves to the end.
  virtual void SetSize(int64_t size) = 0;

  // Pushes buffered bytes to the underlying file; a no-op for memory streams.
  virtual void Flush() {}

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Begin); }
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }

  // Reads from the position to the end and returns the bytes.
  std::string ReadToEnd();

  // Copies everything from `source`'s position to its end onto this stream.
  // Returns the number of bytes copied.
  int64_t CopyFrom(TStream& source);
};

// A growable in-memory stream.
class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}

  using TStream::Write;  // keeps Write(std::string_view) visible
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* data, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  // The whole content, whatever the position.
  const std::string& Data() const { return data_; }
  // Size and position 0, and the memory is given back: a named stream that is
  // rewritten must not keep the buffer of its largest earlier content.
  void Clear() {
    std::string().swap(data_);
    pos_ = 0;
  }

 private:
  std::string data_;
  size_t pos_ = 0;
};

// A file opened through POSIX descriptors with a write-behind and read-ahead
// buffer. Errors name the file path and the system's reason. The destructor
// flushes and closes and never throws; call Close() to learn of a failed flush.
class TFileStream final : public TStream {
 public:
  enum class Mode {
    Read,       // existing file, read-only
    Create,     // create or truncate, read-write; see the constructor for other files
    ReadWrite,  // existing file, read-write
  };

  // Opens `path`; raises EMorvexError ("Cannot open file <path>: <reason>").
  // Create writes other files than regular ones in place, as an output that
  // cannot seek, truncate or be read back: a descriptor link of this process
  // (/dev/stdout, /dev/fd/N, /proc/self/fd/N) writes through a duplicate of
  // that descriptor, at its own offset, and drops a UTF-8 byte-order mark
  // that starts the first write (the programs reading there, JSON parsers
  // above all, take it for data; UTF-8 has no byte order); an existing device, FIFO or socket
  // is opened write-only (a read-write open of a FIFO would be a reader of
  // its own, so a reader that has gone would never be noticed).
  TFileStream(const std::string& path, Mode mode);
  // Wraps an already open descriptor (standard input or output); `owns` tells
  // whether Close() closes it.
  TFileStream(int fd, std::string name, bool owns);
  ~TFileStream() override;

  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  using TStream::Write;  // keeps Write(std::string_view) visible
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* data, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;
  void Flush() override;

  // Flushes and closes; raises EMorvexError when the flush fails.
  void Close();
  const std::string& Path() const { return path_; }

 private:
  void DropReadBuffer();
  // Raises the write error `error`, after telling the closed-pipe handler
  // when an output's reader has gone.
  [[noreturn]] void RaiseWriteError(int error);

  int fd_ = -1;
  bool owns_ = true;
  bool output_ = false;    // opened by Create: a run's output
  bool streamed_ = false;  // written in place: never seeks or truncates
  // Bytes handed to a streamed output: its position, which a writer may ask
  // for (or seek to) though the descriptor cannot seek.
  int64_t streamedBytes_ = 0;
  bool dropMark_ = false;  // the first write's UTF-8 byte-order mark is dropped
  std::string path_;
  std::string wbuf_;  // bytes written but not yet handed to the file
  std::unique_ptr<char[]> rbuf_;
  size_t rpos_ = 0, rlen_ = 0;  // unread bytes of rbuf_
};

// Writes all `count` bytes to `fd`, retrying interrupted calls; false with
// errno set on failure.
bool WriteFully(int fd, const char* data, size_t count);

// The descriptor `path` stands for when it is a descriptor link of this
// process (/dev/stdout, /dev/fd/N, /proc/self/fd/N, or a symbolic link that
// leads to one), else -1. The descriptor need not be open.
int OwnDescriptorOf(const std::string& path);

// Called when a write to an output opened with Mode::Create fails because the
// pipe or FIFO it leads to has no reader any more (EPIPE). The program ends
// the run there; without a handler, or when it returns, the write raises its
// error like any other. Null removes the handler.
using TClosedPipeHandler = void (*)();
void SetClosedPipeHandler(TClosedPipeHandler handler);

// A new, empty read-write file in $TMPDIR (else /tmp) that has no name in
// the file system, so that it goes away when closed, however the process
// ends. `name` names it in errors; raises EMorvexError
// "Cannot keep <what> in a temporary file in <dir>: <reason>".
std::unique_ptr<TFileStream> CreateTemporaryFile(std::string name, std::string_view what);

}  // namespace morvex
