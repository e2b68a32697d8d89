// The SAX reader behind TXMLParser::Parse: libxml2's SAX2 push parser fed in
// 64 KiB chunks, its callbacks turned into the component's callbacks.
//
// Hostile input is refused: no entity substitution, no DTD or network
// loading, and a DOCTYPE (so any DTD and any entity declaration) ends the
// parse with the fatal error "DTD is prohibited.". The input's byte-order
// mark and encoding declaration choose its encoding.
//
// Exceptions never cross libxml2's C frames: every callback catches what the
// slots or the writer raise, stops the parser and the exception is raised
// again once the parse call has returned.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include <libxml/parser.h>

#include "xml/sax_parser.h"

namespace morvex {

class TXMLParser::Reader {
 public:
  explicit Reader(TXMLParser& owner) : owner_(owner) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Parses `input` from its position to its end. Raises the first exception
  // of an event slot or the output, else EMorvexError for a fatal parse error
  // ("<reason> [line: L, col: C]"), else the stream's read error.
  void Parse(TStream& input);

  // The SAX2 handler every parse uses.
  static const xmlSAXHandler& Handler();

 private:
  template <typename F>
  void Guard(F&& body) noexcept;
  void Track();
  bool FromCharacterReference(const xmlChar* chars) const;
  void CloseCData();
  bool WriterActive() const { return owner_.writing && owner_.output_ != nullptr; }
  std::string_view QName(const xmlChar* prefix, const xmlChar* localName);
  void FillAttributes(int count, const xmlChar** attributes);
  void Fail(const TXMLLocator& locator, std::string message, int code);
  void Refuse(const char* reason);
  void Check(int status);

  static void OnStartDocument(void* self);
  static void OnEndDocument(void* self);
  static void OnStartElement(void* self, const xmlChar* localName, const xmlChar* prefix,
                             const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                             int attributeCount, int defaultedCount, const xmlChar** attributes);
  static void OnEndElement(void* self, const xmlChar* localName, const xmlChar* prefix,
                           const xmlChar* uri);
  static void OnCharacters(void* self, const xmlChar* chars, int length);
  static void OnCData(void* self, const xmlChar* chars, int length);
  static void OnComment(void* self, const xmlChar* chars);
  static void OnProcessingInstruction(void* self, const xmlChar* target, const xmlChar* data);
  static void OnError(void* self, xmlErrorPtr error);
  static void OnDocType(void* self, const xmlChar* name, const xmlChar* publicId,
                        const xmlChar* systemId);
  static void OnEntityDecl(void* self, const xmlChar* name, int type, const xmlChar* publicId,
                           const xmlChar* systemId, xmlChar* content);
  static xmlEntityPtr OnGetEntity(void* self, const xmlChar* name);
  static xmlParserInputPtr OnResolveEntity(void* self, const xmlChar* publicId,
                                           const xmlChar* systemId);

  TXMLParser& owner_;
  xmlParserCtxtPtr ctxt_ = nullptr;
  std::exception_ptr exception_;  // raised by a slot or the output during a callback
  bool stopped_ = false;          // an exception or a fatal error ended the parse
  bool fatal_ = false;
  std::string fatalMessage_;
  TXMLLocator fatalLocator_;
  // The last non-fatal error, in case the library leaves the document
  // not well-formed without reporting a fatal one.
  bool error_ = false;
  std::string errorMessage_;
  TXMLLocator errorLocator_;
  int errorCode_ = 0;
  bool inCData_ = false;
  bool rootSeen_ = false;
  bool terminating_ = false;  // the last call, which tells libxml2 the input ended
  int depth_ = 0;
  // Prefixes declared on open elements with the depth of their element; the
  // names live in the parser's dictionary for the whole parse.
  std::vector<std::pair<int, const xmlChar*>> prefixes_;
  std::string qName_;
  // Attribute entries not in use, kept with their strings' capacity.
  std::vector<TAttribute> spareAttributes_;
};

}  // namespace morvex
