// Reads a byte stream as UTF-8 text in chunks, so that inputs of any size pass
// through a converter without being held whole. A leading byte-order mark
// (UTF-8, UTF-16LE, UTF-16BE, UTF-32LE, UTF-32BE) selects the encoding and is
// dropped; text without one is UTF-8 (the system code page), unless it is not
// valid UTF-8 and the source names its encoding: such a text, read from a
// stream that can seek, is decoded in the named encoding, so that a
// windows-1250 or latin1 file keeps its letters. Invalid sequences of the
// Unicode forms become U+FFFD, and the reader tells where. Chunks always end
// on a character boundary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

class TDecoder;
class TEncoding;
class TStream;

class TTextInput {
 public:
  // Reads from the stream's current position. `declaredEncoding` is the
  // source's `encoding` value (empty when it has none); a name that is not
  // known, or that names UTF-8, UTF-16 or the system encoding, changes
  // nothing.
  explicit TTextInput(TStream& stream, std::string_view declaredEncoding = {});
  ~TTextInput();

  // Replaces `chunk` with the next piece of text; false (and an empty chunk)
  // at the end of the input. Raises the stream's read error.
  bool Next(std::string& chunk);
  // The byte offsets, ascending, in the last chunk of the U+FFFD characters
  // that stand for input that was not valid in its Unicode form (a U+FFFD
  // the input itself holds is not among them).
  const std::vector<size_t>& Replaced() const { return replaced_; }
  // The Unicode form the text is read in ("UTF-8", "UTF-16LE", ...), or the
  // name of the source's encoding when it is decoded in that.
  std::string FormName() const;

  // Goes back to where the text started (after the mark), for a second pass.
  // Raises EMorvexError for a stream that cannot seek (a pipe).
  void Rewind();

 private:
  enum class Form { Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be, Declared };
  // True when the input from start_ on is not valid UTF-8; reads it once
  // and comes back to start_.
  bool InvalidUtf8();
  // Decodes buffer_ (UTF-8 that is not valid, or UTF-16/UTF-32 units) into
  // `chunk`, noting replacements; returns how many bytes it used.
  size_t DecodeUtf8Replacing(std::string& chunk);
  size_t DecodeUnits(std::string& chunk, bool atEnd);
  TStream& stream_;
  int64_t start_ = 0;  // -1: the stream cannot seek
  Form form_ = Form::Utf8;
  std::string pending_;  // bytes of an incomplete character from the last read
  std::string buffer_;
  std::unique_ptr<char[]> readBuffer_;
  const TEncoding* declared_ = nullptr;  // Form::Declared: the source's encoding
  std::unique_ptr<TDecoder> decoder_;
  std::vector<size_t> replaced_;
};

}  // namespace morvex
