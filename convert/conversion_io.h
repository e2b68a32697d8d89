// What every conversion shares: where it reads and writes (TXSourceInfo), the
// options of its transformation (TXTransformInfo), where progress lines go
// (ProgressSink), and the encoded output and option helpers. A failed
// conversion raises EMorvexError with the message that follows the step's
// prefix.
//
// A conversion owns the file it opens and closes it before returning, also on
// failure; a stream handed in is neither closed nor freed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/step_info.h"

namespace morvex {

class TStream;
class TEncoding;

// The input of a conversion: the stream of a stream source (skStream with a
// stream), or else the file at its Location opened for reading. Raises
// EMorvexError naming the file when it cannot be opened.
class TConvertInput {
 public:
  explicit TConvertInput(const TXSourceInfo& source);
  ~TConvertInput();
  TStream& Stream() { return *stream_; }

 private:
  std::unique_ptr<TStream> file_;
  TStream* stream_;
};

// The output of a conversion: the stream of a stream destination, or else the
// file at its Location created or replaced. Close() flushes a file and raises
// when the flush fails, so that a full disk is a failed conversion; the
// destructor closes quietly.
class TConvertOutput {
 public:
  explicit TConvertOutput(const TXSourceInfo& destination);
  ~TConvertOutput();
  TStream& Stream() { return *stream_; }
  void Close();

 private:
  std::unique_ptr<TStream> file_;
  TStream* stream_;
};

// Text of one encoding written onto a stream in blocks of whole lines, so
// that memory stays flat however many lines are written.
class TEncodedTextOutput {
 public:
  // With `xmlReferences`, a character the encoding cannot hold is written as
  // "&#N;" (for XML text); otherwise it becomes the replacement character.
  TEncodedTextOutput(TStream& stream, const TEncoding& encoding, bool xmlReferences = false);
  ~TEncodedTextOutput();
  TEncodedTextOutput(const TEncodedTextOutput&) = delete;
  TEncodedTextOutput& operator=(const TEncodedTextOutput&) = delete;

  // Appends UTF-8 text; it reaches the stream once a block is full or at Flush.
  void Append(std::string_view text);
  // Writes everything appended so far, and ends a stateful encoding's shift.
  void Flush();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Appends through `write`, then flushes. When `write` raises, what it has
// appended is still written (the records before the error stay in the
// output) and its error passes on, not a failure of that last flush.
void WriteThenFlush(TEncodedTextOutput& text, const std::function<void()>& write);

// The encoding named `encodingName`, with its byte-order mark (if it has one)
// written onto `output` first.
const TEncoding& BeginEncodedOutput(TConvertOutput& output, const std::string& encodingName);

// The non-empty items of an option text split at `separator`, each without
// the spaces and control characters around it.
std::vector<std::string_view> OptionItems(std::string_view text, char separator);

// Moves a stream to its start; a stream that cannot seek (a pipe just
// opened) is left where it is.
void RewindIfSeekable(TStream& stream);

// Whether `stream` can seek (a pipe cannot).
bool CanSeek(TStream& stream);

// Where the output stands when what is written after it can be taken back
// (a memory stream, a regular file); -1 for a pipe or a device.
int64_t RewritablePosition(TStream& output);

// `input` itself when it can seek, otherwise `copy`: an unnamed temporary
// file (CreateTemporaryFile) holding the rest of its bytes, for readers that
// pass over their input twice without holding it in memory.
TStream& SeekableInput(TStream& input, std::unique_ptr<TStream>& copy);

// Appends one CSV line: each cell enclosed in `quote` with the quotes inside
// doubled, the cells joined by `delimiter`, and CR LF.
void AppendCsvLine(std::string& line, const std::vector<std::string>& cells,
                   std::string_view delimiter, std::string_view quote);

// "<count> records processed ..." every 10000 records.
void ReportProgress(const ProgressSink& progress, int64_t count);

}  // namespace morvex
