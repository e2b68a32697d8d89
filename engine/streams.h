// Named in-memory streams of a project run and the whole-file operations with
// which the runner and the dispatcher read texts and deliver results.
//
// Scripts hand data to later scripts of the same project through named
// streams. The registry owns every stream in it; steps receive plain
// references and never release them. "xStream" exists from the start, empty;
// "StdIn" appears on first lookup, filled with all of standard input, so that
// standard input is read at most once per project.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "engine/project_defs.h"
#include "text/stream.h"

namespace morvex {

class TEncoding;

// The name that stands for standard input as a source and for standard output
// as a file destination.
inline constexpr std::string_view kStandardStreamName = "-";

// The path a file destination "-" is written to.
inline constexpr std::string_view kStandardOutputPath = "/dev/stdout";

// Returns the whole remaining content of standard input (read to its end;
// pipes have no length), positioned at its start: a memory stream for up to
// 8 MiB, beyond that an unlinked temporary file in $TMPDIR (or /tmp), so
// that a large piped input costs disk space, not memory. Raises
// EMorvexError when reading or spooling fails.
std::unique_ptr<TStream> ReadStandardInput();

class TStreamRegistry {
 public:
  using StdInReader = std::function<std::unique_ptr<TStream>()>;

  // Registers the empty stream "xStream". `readStdIn` supplies the content of
  // "StdIn" when it is first looked up; tests inject their own.
  explicit TStreamRegistry(StdInReader readStdIn = ReadStandardInput);

  TStreamRegistry(const TStreamRegistry&) = delete;
  TStreamRegistry& operator=(const TStreamRegistry&) = delete;

  // Name not registered: registers `stream` (a new empty memory stream when
  // null) and returns it. Name registered and `stream` null: empties the
  // registered stream (size and position 0) and returns that same object, so
  // references held elsewhere see it empty. Name registered and `stream`
  // given: releases the registered stream and puts `stream` in its place.
  TStream& GetOrCreateStream(std::string_view name, std::unique_ptr<TStream> stream = nullptr);

  // A registered name gives its stream as it is (position included). An
  // unregistered "StdIn" (any letter case) or "-" registers a stream named
  // "StdIn" holding all of standard input (ReadStandardInput) and returns it;
  // "-" is always that stream. Anything else gives
  // null. Raises EMorvexError when standard input cannot be read.
  TStream* FindStream(std::string_view name);

  // Releases every stream and empties the registry (also done on destruction).
  void ReleaseStreams();

 private:
  // Keyed by FoldCase(name): sorted, and names differing only in letter case
  // are one entry.
  std::map<std::string, std::unique_ptr<TStream>> entries_;
  StdInReader readStdIn_;
};

// Reads a whole file (other readers and writers allowed) and decodes it by its
// byte-order mark (UTF-8, UTF-16LE, UTF-16BE), or as the system ANSI code page
// when it has none. Returns false and leaves `text` as it was on any error.
bool LoadTextFile(std::string& text, const std::string& path);

// Reads from the stream's position to its end and decodes the bytes like
// LoadTextFile. Returns false and leaves `text` as it was on any error.
bool ReadStreamText(TStream& stream, std::string& text);

// Creates `path` (replacing an existing file). When `text` is not empty it is
// written in `encoding` (the system ANSI encoding when null), preceded by the
// encoding's byte-order mark when `withPreamble` is set and the encoding has
// one; an empty text leaves an empty file. False on any error; never raises.
bool SaveTextToFile(std::string_view text, const std::string& path, bool withPreamble,
                    const TEncoding* encoding = nullptr);

// Copies a file, replacing an existing target (a device or FIFO target is
// written in place). False on any error (a missing source, source and target
// the same file, a missing target directory), with the reason in `reason`
// when given ("the directory out does not exist"); never raises.
bool CopyFileTo(const std::string& source, const std::string& target,
                std::string* reason = nullptr);

// Creates `path` (replacing an existing file), rewinds `stream` and writes its
// whole content. False on any error; never raises.
bool SaveStreamToFile(TStream& stream, const std::string& path);

// "Stream does not exist!", followed by ": " and the name when there is one.
std::string StreamDoesNotExistMessage(std::string_view name);

// Destination rules applied before and instead of a transformation. Each
// raises EMorvexError with the message the user reads.

// A stream destination must not be the stream the source reads: emptying it
// would destroy the input. Names are compared as the registry compares them
// (ignoring letter case). Raises "Source and destination streams must be
// different!".
void CheckStreamsDiffer(const TXSourceInfo& source, const TXSourceInfo& destination);

// The copy made when a script has no transformation. `source` is a file
// (Location) or a stream (Stream); `destination` is a file (Location) or a
// stream (Stream, already emptied by GetOrCreateStream).
// - file to file: CopyFileTo, failure "Cannot copy file!: " + source + " -> "
//   + destination (its ShownLocation when set) + ": " + the reason;
// - stream to file: SaveStreamToFile, failure "Cannot save stream to
//   destination file!";
// - file to stream: the file's bytes; an open failure raises its own message;
// - stream to stream: the source's whole content, whatever its position.
// The destination stream is left at position 0.
void CopySourceToDestination(const TXSourceInfo& source, const TXSourceInfo& destination);

}  // namespace morvex
