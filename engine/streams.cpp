#include "engine/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "text/case_fold.h"
#include "text/encoding.h"
#include "text/error.h"

namespace morvex {

namespace {

constexpr std::string_view kStdInName = "StdIn";
constexpr std::string_view kEmptyStreamName = "xStream";

void EmptyStream(TStream& stream) {
  if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
    memory->Clear();
    return;
  }
  stream.SetSize(0);
  stream.SetPosition(0);
}

// The stream a stream source or destination refers to. The runner resolves it
// before any copy; a record without one is a missing stream.
TStream& StreamOf(const TXSourceInfo& info) {
  if (!info.Stream) throw EMorvexError(StreamDoesNotExistMessage(info.Location));
  return *info.Stream;
}

// Why copying to `target` failed when the copy itself gave `error`: a
// missing directory is named, as that is what the user has to create.
std::string CopyFailure(const std::string& target, const std::string& error) {
  const std::filesystem::path parent = std::filesystem::path(target).parent_path();
  std::error_code ignored;
  if (!parent.empty() && !std::filesystem::is_directory(parent, ignored)) {
    return "the directory " + parent.string() + " does not exist";
  }
  return error;
}

// Standard input beyond this size is kept in a temporary file. The memory
// buffer is reserved whole (pages never written cost nothing), so that it is
// never copied while it grows.
constexpr size_t kStdInMemoryLimit = 8u << 20;

}  // namespace

std::unique_ptr<TStream> ReadStandardInput() {
  std::string content;
  std::unique_ptr<TFileStream> spool;
  char buffer[65536];
  content.reserve(kStdInMemoryLimit + sizeof buffer);
  for (;;) {
    const size_t count = std::fread(buffer, 1, sizeof buffer, stdin);
    if (spool) {
      spool->Write(buffer, count);
    } else {
      content.append(buffer, count);
      if (content.size() > kStdInMemoryLimit) {
        spool = CreateTemporaryFile("StdIn", "standard input");
        spool->Write(content);
        std::string().swap(content);
      }
    }
    if (count < sizeof buffer) break;
  }
  if (std::ferror(stdin)) {
    const int error = errno;
    std::clearerr(stdin);
    throw EMorvexError(std::string("Cannot read standard input: ") + std::strerror(error));
  }
  if (!spool) return std::make_unique<TMemoryStream>(std::move(content));
  spool->Flush();
  spool->SetPosition(0);
  return spool;
}

TStreamRegistry::TStreamRegistry(StdInReader readStdIn) : readStdIn_(std::move(readStdIn)) {
  GetOrCreateStream(kEmptyStreamName);
}

TStream& TStreamRegistry::GetOrCreateStream(std::string_view name,
                                            std::unique_ptr<TStream> stream) {
  const std::string key = FoldCase(name);
  auto found = entries_.find(key);
  if (found == entries_.end()) {
    if (!stream) stream = std::make_unique<TMemoryStream>();
    TStream& result = *stream;
    entries_.emplace(key, std::move(stream));
    return result;
  }
  if (stream) {
    found->second = std::move(stream);
  } else {
    EmptyStream(*found->second);
  }
  return *found->second;
}

TStream* TStreamRegistry::FindStream(std::string_view name) {
  if (name == kStandardStreamName) name = kStdInName;
  auto found = entries_.find(FoldCase(name));
  if (found != entries_.end()) return found->second.get();
  if (!SameTextIgnoringCase(name, kStdInName)) return nullptr;
  std::unique_ptr<TStream> content = readStdIn_ ? readStdIn_() : nullptr;
  return &GetOrCreateStream(kStdInName, std::move(content));
}

void TStreamRegistry::ReleaseStreams() { entries_.clear(); }

bool LoadTextFile(std::string& text, const std::string& path) {
  try {
    TFileStream file(path, TFileStream::Mode::Read);
    const std::string bytes = file.ReadToEnd();
    text = DecodeWithPreamble(bytes, SystemAnsiEncoding());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool ReadStreamText(TStream& stream, std::string& text) {
  try {
    const std::string bytes = stream.ReadToEnd();
    text = DecodeWithPreamble(bytes, SystemAnsiEncoding());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool SaveTextToFile(std::string_view text, const std::string& path, bool withPreamble,
                    const TEncoding* encoding) {
  try {
    TFileStream file(path, TFileStream::Mode::Create);
    if (!text.empty()) {
      const TEncoding& target = encoding ? *encoding : SystemAnsiEncoding();
      TStream& out = file;
      if (withPreamble) out.Write(target.Preamble());
      out.Write(target.GetBytes(text));
    }
    file.Close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool CopyFileTo(const std::string& source, const std::string& target, std::string* reason) {
  const auto fail = [reason](std::string why) {
    if (reason) *reason = std::move(why);
    return false;
  };
  struct stat from;
  struct stat to;
  if (::stat(source.c_str(), &from) != 0) return fail(std::strerror(errno));
  if (S_ISDIR(from.st_mode)) return fail("the source is a directory");
  const bool targetExists = ::stat(target.c_str(), &to) == 0;
  if (targetExists && to.st_dev == from.st_dev && to.st_ino == from.st_ino) {
    return fail("source and destination are the same file");
  }
  // A descriptor link (/dev/stdout) is written through its descriptor even
  // when that leads to a regular file: a copy by name would start over at
  // its beginning.
  if (S_ISREG(from.st_mode) && (!targetExists || S_ISREG(to.st_mode)) &&
      OwnDescriptorOf(target) < 0) {
    std::error_code error;
    const bool copied = std::filesystem::copy_file(
        source, target, std::filesystem::copy_options::overwrite_existing, error);
    if (copied && !error) return true;
    return fail(CopyFailure(target, error ? error.message() : "the file was not copied"));
  }
  // A device, FIFO or socket at either end is read or written in place.
  try {
    TFileStream input(source, TFileStream::Mode::Read);
    TFileStream output(target, TFileStream::Mode::Create);
    output.CopyFrom(input);
    output.Close();
    return true;
  } catch (const std::exception& error) {
    return fail(CopyFailure(target, error.what()));
  }
}

bool SaveStreamToFile(TStream& stream, const std::string& path) {
  try {
    TFileStream file(path, TFileStream::Mode::Create);
    stream.SetPosition(0);
    file.CopyFrom(stream);
    file.Close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string StreamDoesNotExistMessage(std::string_view name) {
  std::string message = "Stream does not exist!";
  if (!name.empty()) message += ": " + std::string(name);
  return message;
}

void CheckStreamsDiffer(const TXSourceInfo& source, const TXSourceInfo& destination) {
  if (source.Kind == skStream && destination.Kind == skStream &&
      SameTextIgnoringCase(source.Location, destination.Location)) {
    throw EMorvexError("Source and destination streams must be different!");
  }
}

void CopySourceToDestination(const TXSourceInfo& source, const TXSourceInfo& destination) {
  if (destination.Kind == skFile) {
    if (source.Kind == skStream) {
      if (!SaveStreamToFile(StreamOf(source), destination.Location)) {
        throw EMorvexError("Cannot save stream to destination file!");
      }
    } else if (std::string reason; !CopyFileTo(source.Location, destination.Location, &reason)) {
      const std::string& shown =
          destination.ShownLocation.empty() ? destination.Location : destination.ShownLocation;
      throw EMorvexError("Cannot copy file!: " + source.Location + " -> " + shown + ": " + reason);
    }
    return;
  }
  if (destination.Kind != skStream) return;
  TStream& target = StreamOf(destination);
  if (source.Kind == skStream) {
    TStream& input = StreamOf(source);
    if (&input == &target) return;
    input.SetPosition(0);
    target.CopyFrom(input);
  } else {
    TFileStream file(source.Location, TFileStream::Mode::Read);
    target.CopyFrom(file);
  }
  target.SetPosition(0);
}

}  // namespace morvex
