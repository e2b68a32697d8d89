// Encoding objects: conversions between UTF-8 text (the program's internal
// form) and the bytes of one code page, with the code page's preamble. They
// are backed by iconv; objects are shared and live for the whole process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace morvex {

class TEncoding {
 public:
  virtual ~TEncoding() = default;

  // The code page number this object converts (65001 for UTF-8, 1200 for
  // UTF-16LE, ...). The system ANSI encoding reports 65001 too.
  uint16_t CodePage() const { return codePage_; }

  // The byte-order mark: FF FE for UTF-16LE, FE FF for UTF-16BE, EF BB BF for
  // the UTF-8 encoding of code page 65001; empty for every other encoding,
  // the system ANSI encoding included.
  std::string_view Preamble() const { return preamble_; }

  // The name iconv knows the code page by ("UTF-8", "CP1250", "UTF-16LE").
  const std::string& IconvName() const { return iconvName_; }

  // UTF-8 text to bytes of this encoding. A character the encoding cannot hold
  // becomes the encoding's replacement character ("?" for single-byte code
  // pages); invalid UTF-8 in `text` is treated the same way. Never throws.
  virtual std::string GetBytes(std::string_view text) const;

  // Bytes of this encoding to UTF-8 text. Bytes that cannot be decoded become
  // U+FFFD; never throws, never reads past `bytes`.
  virtual std::string GetString(std::string_view bytes) const;

  bool IsUtf8() const { return codePage_ == 65001; }

 protected:
  TEncoding(uint16_t codePage, std::string iconvName, std::string preamble)
      : codePage_(codePage), iconvName_(std::move(iconvName)), preamble_(std::move(preamble)) {}

 private:
  friend class TEncodingRegistry;
  uint16_t codePage_;
  std::string iconvName_;
  std::string preamble_;
};

// Encodes UTF-8 text into one encoding piece by piece, for writers that emit
// large outputs. Stateful encodings (ISO-2022, UTF-7) keep their shift state
// between calls, and a UTF-8 sequence cut at the end of one piece is completed
// by the next.
class TEncoder {
 public:
  // Given a character the encoding cannot hold, returns ASCII text to write in
  // its place (an XML writer returns "&#N;" so that nothing is lost).
  using UnencodableHandler = std::function<std::string(char32_t)>;

  explicit TEncoder(const TEncoding& encoding);
  ~TEncoder();
  TEncoder(const TEncoder&) = delete;
  TEncoder& operator=(const TEncoder&) = delete;

  // True for encodings that hold every character (UTF-8, UTF-16, UTF-7):
  // callers may then batch large pieces without a handler.
  bool EncodesAllCharacters() const;

  // Appends the bytes of `text` to `out`. A character the encoding cannot hold
  // is replaced by the handler's text, or by the encoding's replacement
  // character when there is no handler.
  void Encode(std::string_view text, std::string& out,
              const UnencodableHandler& onUnencodable = {});
  // Appends the bytes that return a stateful encoding to its initial state.
  void Finish(std::string& out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Decodes bytes in an iconv encoding to UTF-8 piece by piece, for inputs too
// large to hold whole: a character cut at the end of one piece is completed
// by the next, and stateful encodings (ISO-2022) keep their shift state.
// Bytes the encoding rejects become U+FFFD.
class TDecoder {
 public:
  // Raises EMorvexError when glibc cannot convert from `encoding`.
  explicit TDecoder(const TEncoding& encoding);
  ~TDecoder();
  TDecoder(const TDecoder&) = delete;
  TDecoder& operator=(const TDecoder&) = delete;

  // Appends the UTF-8 of `bytes` to `out` and returns how many bytes it used:
  // the rest start a character the piece cuts, to be passed again in front
  // of the next piece. With `atEnd` every byte is used (a cut character
  // becomes U+FFFD).
  size_t Decode(std::string_view bytes, bool atEnd, std::string& out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// 0 gives the system ANSI encoding (UTF-8 without preamble); 1200 UTF-16LE;
// 1201 UTF-16BE; 20127 US-ASCII; 65000 UTF-7; 65001 UTF-8 (with preamble);
// 1 the system OEM code page; 2 the system Macintosh code page; any other
// number the iconv conversion for it. A code page iconv cannot convert gives
// the system ANSI encoding.
const TEncoding& EncodingForCodePage(uint16_t codePage);

// The encoding an `encoding` value names, letter case ignored:
//   - empty, "dos", "oem", "ansi": the system encoding (UTF-8, no preamble);
//   - a charset name of the code-page table: its code page ("utf-8" has the
//     UTF-8 preamble, "unicode" and "unicodeFFFE" the UTF-16 marks);
//   - a name iconv knows ("latin1", "cp1250", "iso8859-2", "utf-16be"): that
//     conversion. "utf-16" and "utf-32" are little-endian behind their byte-
//     order mark; "utf-16le/be", "utf-32le/be" and "utf8" have no preamble.
// A table row glibc cannot convert gives the system encoding (UTF-8 without
// a mark; writers then declare UTF-8). Throws EMorvexError naming `name`
// when the name is neither in the table nor known to iconv: "Unknown
// encoding "utf-99" (did you mean utf-8 or utf-7?)", the suggestion only when
// known names are near.
const TEncoding& EncodingForName(std::string_view name);

// The iconv name the code-page table's code page is converted with; nullptr
// for a code page without one. Opens no converter.
const char* IconvNameOfCodePage(uint16_t codePage);

// The system ANSI encoding (code page 0).
const TEncoding& SystemAnsiEncoding();

// Reads a whole file (other readers and writers allowed). A leading byte-order
// mark of UTF-16LE, UTF-16BE or UTF-8 selects that encoding for the rest; a
// file without one is decoded as UTF-8. Returns false and leaves `text` as it
// was on any error.
bool LoadTextFileUtf8(std::string& text, const std::string& fileName);

// The byte-order mark at the start of `bytes`: its length (0 when there is
// none) and the iconv name of the encoding it marks ("UTF-8", "UTF-16LE",
// "UTF-16BE", "UTF-32LE", "UTF-32BE"). FF FE 00 00 is the UTF-32LE mark, not
// a UTF-16LE text that starts with U+0000.
struct TByteOrderMark {
  size_t Length = 0;
  std::string_view IconvName;
};
TByteOrderMark ByteOrderMarkOf(std::string_view bytes);

// Decodes `bytes` by their byte-order mark (ByteOrderMarkOf), or with
// `fallback` when they have none. The mark is not part of the result.
std::string DecodeWithPreamble(std::string_view bytes, const TEncoding& fallback);

}  // namespace morvex
