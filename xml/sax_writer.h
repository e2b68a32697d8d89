// The serialiser behind TXMLParser's `writing` switch: it turns the
// component's callbacks into XML text on the owner's output stream.
//
// Text is built as UTF-8 and reaches the stream in blocks of about 64 KiB.
// UTF-8 output is written as built; encodings that hold every character
// (UTF-16, UTF-7) convert whole blocks; any other code page converts piece by
// piece so that a character it cannot hold becomes "&#N;" (inside a CDATA
// section the section is closed around it). Text XML 1.0 cannot hold (C0
// controls other than TAB, LF and CR, U+FFFE, U+FFFF, invalid UTF-8 such as
// lone surrogates) is written as U+FFFD, so that the output always reads
// back; ReplacedValues() tells how many texts were changed.
//
// Layout: without `indent` nothing is added between the callbacks' texts.
// With `indent`, a start tag, comment or processing instruction begins a new
// line indented by one tab per open element, and so does an end tag whose
// element holds such markup; an element that holds character data or CDATA
// (mixed content) gets no added whitespace inside it. The XML declaration is
// followed by a line break.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/encoding.h"
#include "xml/sax_parser.h"

namespace morvex {

class TXMLParser::Writer {
 public:
  explicit Writer(TXMLParser& owner);
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Starts a document with the owner's current settings: resolves the output
  // encoding, writes the byte-order mark when `byteOrderMark` is set and the
  // declaration unless `omitXMLDeclaration` is set. Any other callback that
  // arrives first starts the document the same way; within a started
  // document it does nothing.
  void StartDocument();
  // Writes everything still buffered onto the output, returns a stateful
  // encoding to its initial state and ends the document.
  void EndDocument();
  // The mapping is declared as an xmlns attribute of the next start tag.
  void StartPrefixMapping(sv prefix, sv uri);
  // An element that would nest deeper than kMaxNestingDepth fails
  // (EMorvexError naming the limit), so that all output reads back.
  void StartElement(sv localName, sv qName, const TXMLAttributes* attributes);
  void EndElement(sv localName, sv qName);
  // Empty text writes nothing (an element stays empty: <a/>).
  void Characters(sv chars);
  void StartCData();
  void EndCData();
  void Comment(sv chars);
  void ProcessingInstruction(sv target, sv data);
  // StartElement, Characters (inside StartCData and EndCData with `cdata`)
  // and EndElement in one call, for an element without attributes whose
  // name the caller has checked.
  void TextElement(sv name, sv text, bool cdata);

  // Writes the buffered bytes onto the current output (called before the
  // output changes); the document goes on.
  void Flush();

  // How many texts (character data, CDATA, attribute values, comments) of the
  // current document held characters XML 1.0 cannot hold or invalid UTF-8;
  // each such character or sequence was written as U+FFFD.
  size_t ReplacedValues() const { return replacedValues_; }

 private:
  // Nesting state of one open element (the first entry stands for the
  // document level).
  struct Level {
    bool Mixed = false;   // holds character data or CDATA: no indentation inside
    bool Markup = false;  // holds an element, comment or processing instruction
  };

  void EnsureStarted();
  // Raises EMorvexError (OutputTooDeepMessage) when a new element would nest
  // deeper than any reader accepts (kMaxNestingDepth).
  void RequireRoomForElement() const;
  void Begin();
  std::string& Out() { return passthrough_ ? bytes_ : staged_; }
  void CloseStartTag();
  void NewLine(size_t depth);
  void AppendCData(std::string& out, sv chars);
  void CDataText(sv chars);
  void EncodeStaged();
  void WriteBytes();
  void Spill();
  // `text`, or a copy with U+FFFD in place of what XML cannot hold (counted).
  sv XmlSafe(sv text);

  TXMLParser& owner_;
  bool started_ = false;
  bool passthrough_ = true;  // UTF-8 output: the text is the bytes
  bool batch_ = true;        // the encoding holds every character
  std::unique_ptr<TEncoder> encoder_;
  std::string staged_;    // UTF-8 text not yet converted (not used for UTF-8 output)
  std::string bytes_;     // output bytes not yet written to the stream
  bool tagOpen_ = false;  // the last start tag still lacks its ">"
  bool inCData_ = false;
  int cdataBrackets_ = 0;  // "]" characters (up to 2) ending the CDATA text so far
  bool lineStart_ = true;  // nothing written yet, or a line break was last
  std::vector<Level> levels_;
  std::vector<std::pair<std::string, std::string>> pendingPrefixes_;
  TEncoder::UnencodableHandler textHandler_;
  TEncoder::UnencodableHandler cdataHandler_;
  size_t replacedValues_ = 0;
  std::string safeText_;  // the last replaced text, valid until the next one
};

}  // namespace morvex
