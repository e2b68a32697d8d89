// TXMLParser: one component that is both a SAX reader and a streaming XML
// writer.
//
// Reading: Parse() feeds a byte stream through libxml2's SAX2 push parser in
// chunks (memory stays flat however large the input) and turns every callback
// into the matching event slot. ParseDocument() walks a finished document and
// reports the same events. Hostile input is refused: a document with a DTD, an
// external entity or a network reference ends the parse with a fatal error.
//
// Writing: when `writing` is on, every callback the component receives, from
// its own reader or from a direct call such as StartElement(), is also
// serialised to the output stream set by SetOutput(), in the output encoding.
//
// Dispatch of one callback: (1) the event slot, when assigned; (2) the writer,
// when `writing` is on. An exception raised by a slot or by the output stream
// ends the callback and propagates out of Parse() or the direct call.
//
// Texts are UTF-8; the views handed to event slots are valid only during the
// call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct _xmlDoc;
struct _xmlNode;
struct _xmlNs;

namespace morvex {

class TStream;

// One attribute: five texts in this order.
struct TAttribute {
  std::string URI;
  std::string LocalName;
  std::string QName;
  std::string Type;
  std::string Value;
};

// The attribute list handed to start-element calls.
class TXMLAttributes {
 public:
  // Appends an attribute; each of the five texts that is empty becomes a
  // single space.
  void AddAttribute(std::string_view uri, std::string_view localName, std::string_view qName,
                    std::string_view type, std::string_view value);
  void Clear() { items_.clear(); }

  int Length() const { return static_cast<int>(items_.size()); }
  // By index from 0; raises EMorvexError when the index is out of range.
  const TAttribute& Item(int index) const;
  const std::string& URI(int index) const { return Item(index).URI; }
  const std::string& LocalName(int index) const { return Item(index).LocalName; }
  const std::string& QName(int index) const { return Item(index).QName; }
  const std::string& Type(int index) const { return Item(index).Type; }
  const std::string& Value(int index) const { return Item(index).Value; }

  // -1 when none matches; comparisons are exact (letter case significant).
  int IndexFromName(std::string_view uri, std::string_view localName) const;
  int IndexFromQName(std::string_view qName) const;
  // Raise EMorvexError when no attribute matches.
  const std::string& ValueFromName(std::string_view uri, std::string_view localName) const;
  const std::string& ValueFromQName(std::string_view qName) const;
  const std::string& TypeFromName(std::string_view uri, std::string_view localName) const;
  const std::string& TypeFromQName(std::string_view qName) const;

 private:
  // The reader refills the list in place: it keeps the strings' capacity
  // between elements and keeps empty texts (an empty value) empty.
  friend class TXMLParser;
  std::vector<TAttribute> items_;
};

// Where a reader event or error happened (1-based line and column).
struct TXMLLocator {
  int Line = 0;
  int Column = 0;
};

class TXMLParser {
 public:
  using sv = std::string_view;

  TXMLParser();
  ~TXMLParser();
  TXMLParser(const TXMLParser&) = delete;
  TXMLParser& operator=(const TXMLParser&) = delete;

  // --- event slots (empty by default) ---
  std::function<void()> OnStartDocument;
  std::function<void()> OnEndDocument;
  std::function<void(sv prefix, sv uri)> OnStartPrefixMapping;
  std::function<void(sv prefix)> OnEndPrefixMapping;
  std::function<void(sv uri, sv localName, sv qName, const TXMLAttributes& attributes)>
      OnStartElement;
  std::function<void(sv uri, sv localName, sv qName)> OnEndElement;
  std::function<void(sv chars)> OnCharacters;
  std::function<void(sv chars)> OnIgnorableWhiteSpace;
  std::function<void(sv target, sv data)> OnProcessingInstruction;
  std::function<void(sv name)> OnSkippedEntity;
  std::function<void()> OnStartCData;
  std::function<void()> OnEndCData;
  std::function<void(sv chars)> OnComment;
  std::function<void(const TXMLLocator& locator, sv message, int code)> OnError;
  std::function<void(const TXMLLocator& locator, sv message, int code)> OnFatalError;
  std::function<void(const TXMLLocator& locator, sv message, int code)> OnIgnorableWarning;

  // --- reader ---
  // Parses `input` from its current position to its end. A fatal parse error
  // (malformed XML, a DTD, an external entity) is reported to OnFatalError and
  // then raised as EMorvexError "<reason> [line: L, col: C]".
  void Parse(TStream& input);
  // Parses the file at `path` the same way.
  void ParseURL(const std::string& path);
  // Walks a finished document and reports its content (the XML declaration
  // is not content and is not reported).
  void ParseDocument(const _xmlDoc* document);
  // Reports one node with its subtree as ParseDocument reports it inside a
  // document (no start or end of document).
  void ParseNode(const _xmlNode* node);
  // Report only an element's start (its prefix mappings, then the start tag
  // with its attributes) or only its end, so that a caller can write an
  // element whose content comes from elsewhere.
  void ParseStartTag(const _xmlNode* element);
  void ParseEndTag(const _xmlNode* element);
  const TXMLLocator& Locator() const { return locator_; }
  // During OnCharacters of a parse: true when the characters are the value
  // of a character reference ("&#10;") rather than literal text, for a
  // reader that treats literal white space in its own way.
  bool CharactersFromReference() const { return fromReference_; }

  // --- writer settings ---
  bool writing = false;
  // The stream the writer writes to; not owned, must outlive the writing.
  void SetOutput(TStream* output);
  bool indent = false;
  bool omitXMLDeclaration = false;
  bool byteOrderMark = false;
  bool standalone = false;
  bool disableOutputEscaping = false;
  std::string version = "1.0";
  // Output encoding by name (EncodingForName; empty: UTF-8). A name without
  // a conversion makes the first written callback fail.
  std::string encoding;
  // How many texts of the document being written held characters XML cannot
  // hold and were written with U+FFFD in their place.
  size_t ReplacedValueCount() const;

  // --- callbacks, called by the reader and directly by the program ---
  void StartDocument();
  void EndDocument();  // also flushes the writer's output
  void StartPrefixMapping(sv prefix, sv uri);
  void EndPrefixMapping(sv prefix);
  void StartElement(sv uri, sv localName, sv qName, const TXMLAttributes* attributes);
  void EndElement(sv uri, sv localName, sv qName);
  void Characters(sv chars);
  void IgnorableWhiteSpace(sv chars);
  void ProcessingInstruction(sv target, sv data);
  void SkippedEntity(sv name);
  void StartCData();
  void EndCData();
  void Comment(sv chars);
  // StartElement (no attributes), Characters (inside StartCData and
  // EndCData with `cdata`) and EndElement in one call; an empty text writes
  // no characters. `name` must be an XML name: the writer does not check it
  // again.
  void TextElement(sv name, sv text, bool cdata);

 private:
  class Writer;
  class Reader;
  std::unique_ptr<Writer> writer_;
  TStream* output_ = nullptr;
  TXMLLocator locator_;
  bool fromReference_ = false;
  TXMLAttributes attributes_;  // reused for every start-element event read
  std::string qName_;          // scratch for the tree walk's qualified names
  std::vector<const _xmlNs*> declared_;
  void Walk(const _xmlNode* first, const _xmlNode* top, bool siblings);
  friend class Reader;
};

// Direct writing helpers. Each of the three names, when empty, is replaced by
// a single space before the callback.
void WriteStartElement(TXMLParser& parser, std::string_view uri, std::string_view localName,
                       std::string_view qName, const TXMLAttributes* attributes);
void WriteEndElement(TXMLParser& parser, std::string_view uri, std::string_view localName,
                     std::string_view qName);
// Calls Characters only when `text` is not empty.
void WriteCharacters(TXMLParser& parser, std::string_view text);

}  // namespace morvex
