// Reads a byte stream as UTF-8 text in chunks, so that inputs of any size pass
// through a converter without being held whole. A leading byte-order mark
// (UTF-8, UTF-16LE, UTF-16BE) selects the encoding and is dropped; text
// without one is UTF-8 (the system code page). Invalid sequences become
// U+FFFD. Chunks always end on a character boundary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace morvex {

class TStream;

class TTextInput {
 public:
  // Reads from the stream's current position.
  explicit TTextInput(TStream& stream);

  // Replaces `chunk` with the next piece of text; false (and an empty chunk)
  // at the end of the input. Raises the stream's read error.
  bool Next(std::string& chunk);

  // Goes back to where the text started (after the mark), for a second pass.
  // Raises EMorvexError for a stream that cannot seek (a pipe).
  void Rewind();

 private:
  enum class Form { Utf8, Utf16Le, Utf16Be };
  TStream& stream_;
  int64_t start_ = 0;  // -1: the stream cannot seek
  Form form_ = Form::Utf8;
  std::string pending_;  // bytes of an incomplete character from the last read
  std::string buffer_;
  std::unique_ptr<char[]> readBuffer_;
};

}  // namespace morvex
