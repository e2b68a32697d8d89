#include "xml/sax_reader.h"

#include <libxml/entities.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "text/error.h"
#include "text/stream.h"
#include "xml/input_policy.h"
#include "xml/xml_options.h"
#include "xml/xml_ptr.h"

namespace morvex {

namespace {

constexpr size_t kChunkSize = 64 * 1024;

// No entity substitution and no DTD loading (no XML_PARSE_NOENT, DTDLOAD or
// DTDATTR). HUGE lifts the length limits on single texts and names that large
// data exports can exceed; the depth limit stays and DTDs, the source of
// entity expansion, are refused outright.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_HUGE;

std::string_view View(const xmlChar* text) {
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text));
}

std::string_view View(const xmlChar* text, size_t length) {
  return std::string_view(reinterpret_cast<const char*>(text), length);
}

// Without entity substitution libxml2 hands "&" in an attribute value (from
// &amp; or &#38;) over as the reference "&#38;"; no other reference can remain
// because DTDs, and so declared entities, are refused. A literal "&" cannot
// occur in a well-formed value, so every "&" starts such a reference.
void ResolveAmpersands(std::string& value) {
  size_t from = value.find('&');
  if (from == std::string::npos) return;
  size_t to = from;
  while (from < value.size()) {
    if (value.compare(from, 5, "&#38;") == 0) {
      value[to++] = '&';
      from += 5;
    } else {
      value[to++] = value[from++];
    }
  }
  value.resize(to);
}

std::string TrimmedMessage(const char* message) {
  std::string text = message == nullptr ? std::string() : std::string(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  // Some reasons run over two lines ("... indicate encoding !\nBytes: ...").
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

const xmlSAXHandler& TXMLParser::Reader::Handler() {
  static const xmlSAXHandler handler = [] {
    xmlSAXHandler h;
    std::memset(&h, 0, sizeof(h));
    h.initialized = XML_SAX2_MAGIC;
    h.startDocument = OnStartDocument;
    h.endDocument = OnEndDocument;
    h.startElementNs = OnStartElement;
    h.endElementNs = OnEndElement;
    h.characters = OnCharacters;
    // The same function: libxml2 then never spends time telling blanks apart,
    // and white space in content is character data, as without a DTD.
    h.ignorableWhitespace = OnCharacters;
    h.cdataBlock = OnCData;
    h.comment = OnComment;
    h.processingInstruction = OnProcessingInstruction;
    h.serror = OnError;
    h.internalSubset = OnDocType;
    h.externalSubset = OnDocType;
    h.entityDecl = OnEntityDecl;
    h.getEntity = OnGetEntity;
    h.getParameterEntity = OnGetEntity;
    h.resolveEntity = OnResolveEntity;
    return h;
  }();
  return handler;
}

template <typename F>
void TXMLParser::Reader::Guard(F&& body) noexcept {
  if (stopped_) return;
  try {
    body();
  } catch (...) {
    exception_ = std::current_exception();
    stopped_ = true;
    xmlStopParser(ctxt_);
  }
}

void TXMLParser::Reader::Track() {
  const xmlParserInputPtr input = ctxt_->input;
  if (input != nullptr) {
    owner_.locator_.Line = input->line;
    owner_.locator_.Column = input->col;
  }
}

// libxml2 hands the value of a character reference over from a buffer of
// its own, right after reading "&#...;" (literal text comes from the input
// buffer, or from a copy that never ends in such a reference: a run of text
// stops at "&").
bool TXMLParser::Reader::FromCharacterReference(const xmlChar* chars) const {
  const xmlParserInputPtr input = ctxt_->input;
  if (input == nullptr || input->base == nullptr || input->cur == nullptr) return false;
  if (chars >= input->base && chars <= input->end) return false;
  const xmlChar* p = input->cur;
  if (p - input->base < 4 || p[-1] != ';') return false;
  --p;
  const xmlChar* digitsEnd = p;
  while (p > input->base && std::isxdigit(p[-1])) --p;
  if (p == digitsEnd || p == input->base) return false;
  if (p[-1] == 'x') --p;
  return p - input->base >= 2 && p[-1] == '#' && p[-2] == '&';
}

// libxml2 may deliver one CDATA section in several blocks; the section is
// reported once, and closed here should any other event follow its last block.
void TXMLParser::Reader::CloseCData() {
  if (inCData_) {
    inCData_ = false;
    owner_.EndCData();
  }
}

std::string_view TXMLParser::Reader::QName(const xmlChar* prefix, const xmlChar* localName) {
  if (prefix == nullptr) return View(localName);
  qName_.assign(reinterpret_cast<const char*>(prefix));
  qName_ += ':';
  qName_.append(reinterpret_cast<const char*>(localName));
  return qName_;
}

void TXMLParser::Reader::FillAttributes(int count, const xmlChar** attributes) {
  std::vector<TAttribute>& items = owner_.attributes_.items_;
  const size_t wanted = static_cast<size_t>(count);
  while (items.size() > wanted) {
    spareAttributes_.push_back(std::move(items.back()));
    items.pop_back();
  }
  while (items.size() < wanted) {
    if (spareAttributes_.empty()) {
      items.emplace_back();
    } else {
      items.push_back(std::move(spareAttributes_.back()));
      spareAttributes_.pop_back();
    }
  }
  // Five pointers per attribute: local name, prefix, URI, value, value end.
  for (size_t i = 0; i < wanted; ++i) {
    const xmlChar** a = attributes + 5 * i;
    TAttribute& item = items[i];
    item.URI.assign(View(a[2]));
    item.LocalName.assign(View(a[0]));
    if (a[1] == nullptr) {
      item.QName.assign(View(a[0]));
    } else {
      item.QName.assign(View(a[1]));
      item.QName += ':';
      item.QName.append(View(a[0]));
    }
    // No DTD declares a type, and SAX reports undeclared attributes as CDATA.
    item.Type.assign("CDATA");
    item.Value.assign(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3]));
    ResolveAmpersands(item.Value);
  }
}

void TXMLParser::Reader::Fail(const TXMLLocator& locator, std::string message, int code) {
  stopped_ = true;
  fatal_ = true;
  fatalMessage_ = std::move(message);
  fatalLocator_ = locator;
  owner_.locator_ = locator;
  if (owner_.OnFatalError) {
    try {
      owner_.OnFatalError(locator, fatalMessage_, code);
    } catch (...) {
      if (!exception_) exception_ = std::current_exception();
    }
  }
}

void TXMLParser::Reader::Refuse(const char* reason) {
  if (stopped_) return;
  TXMLLocator locator;
  if (ctxt_->input != nullptr) locator = TXMLLocator{ctxt_->input->line, ctxt_->input->col};
  Fail(locator, reason, XML_ERR_USER_STOP);
  xmlStopParser(ctxt_);
}

void TXMLParser::Reader::Check(int status) {
  if (exception_) std::rethrow_exception(exception_);
  if (!fatal_ && (status != 0 || ctxt_->wellFormed == 0)) {
    // The library gave up on the document with an error it did not report
    // as fatal.
    if (error_) {
      Fail(errorLocator_, errorMessage_, errorCode_);
    } else {
      TXMLLocator locator;
      if (ctxt_->input != nullptr) locator = TXMLLocator{ctxt_->input->line, ctxt_->input->col};
      Fail(locator, "XML parse error " + std::to_string(status), status);
    }
    if (exception_) std::rethrow_exception(exception_);
  }
  if (fatal_) {
    throw EMorvexError(fatalMessage_ + " [line: " + std::to_string(fatalLocator_.Line) +
                       ", col: " + std::to_string(fatalLocator_.Column) + "]");
  }
}

void TXMLParser::Reader::Parse(TStream& input) {
  DefaultXmlOptions();  // the table's charset names are known to libxml2
  std::vector<char> buffer(kChunkSize);
  // The first four bytes tell the encoding family (InspectXmlInputStart)
  // before anything is parsed.
  size_t head = 0;
  while (head < 4) {
    const size_t n = input.Read(buffer.data() + head, 4 - head);
    if (n == 0) break;
    head += n;
  }
  const TXmlInputStart start = InspectXmlInputStart(std::string_view(buffer.data(), head));
  const char* first = buffer.data() + start.SkipBytes;
  const int firstSize = static_cast<int>(head - start.SkipBytes);
  // libxml2 detects the encoding from the first chunk it is created with;
  // an encoding it would get wrong is set before any byte arrives.
  const bool forced = start.Encoding != nullptr;
  detail::xml_ptr<xmlParserCtxt> context(
      xmlCreatePushParserCtxt(const_cast<xmlSAXHandler*>(&Handler()), this,
                              forced ? nullptr : first, forced ? 0 : firstSize, nullptr));
  if (!context) throw EMorvexError("Cannot create the XML reader");
  ctxt_ = context.get();
  xmlCtxtUseOptions(ctxt_, kParseOptions | (start.IgnoreDeclaration ? XML_PARSE_IGNORE_ENC : 0));
  if (forced) {
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(start.Encoding);
    if (handler == nullptr || xmlSwitchToEncoding(ctxt_, handler) != 0) {
      throw EMorvexError(std::string("Cannot read XML in ") + start.Encoding);
    }
    if (firstSize > 0) Check(xmlParseChunk(ctxt_, first, firstSize, 0));
  }
  if (head == 4) {
    for (;;) {
      const size_t n = input.Read(buffer.data(), buffer.size());
      if (n == 0) break;
      Check(xmlParseChunk(ctxt_, buffer.data(), static_cast<int>(n), 0));
    }
  }
  terminating_ = true;
  Check(xmlParseChunk(ctxt_, nullptr, 0, 1));
  ctxt_ = nullptr;
}

// --- libxml2 callbacks ---

void TXMLParser::Reader::OnStartDocument(void* self) {
  auto* r = static_cast<Reader*>(self);
  r->Guard([r] {
    r->Track();
    r->owner_.StartDocument();
  });
}

void TXMLParser::Reader::OnEndDocument(void* self) {
  auto* r = static_cast<Reader*>(self);
  r->Guard([r] {
    r->Track();
    r->CloseCData();
    r->owner_.EndDocument();
  });
}

void TXMLParser::Reader::OnStartElement(void* self, const xmlChar* localName, const xmlChar* prefix,
                                        const xmlChar* uri, int namespaceCount,
                                        const xmlChar** namespaces, int attributeCount,
                                        int /*defaultedCount*/, const xmlChar** attributes) {
  auto* r = static_cast<Reader*>(self);
  r->Guard([&] {
    r->Track();
    r->CloseCData();
    if (++r->depth_ > kMaxNestingDepth) {
      r->Refuse(NestingTooDeepReason().c_str());
      return;
    }
    r->rootSeen_ = true;
    for (int i = 0; i < namespaceCount; ++i) {
      r->prefixes_.emplace_back(r->depth_, namespaces[2 * i]);
      r->owner_.StartPrefixMapping(View(namespaces[2 * i]), View(namespaces[2 * i + 1]));
    }
    // Nobody listens: the attribute list and the qualified name are not built.
    if (!r->owner_.OnStartElement && !r->WriterActive()) return;
    r->FillAttributes(attributeCount, attributes);
    r->owner_.StartElement(View(uri), View(localName), r->QName(prefix, localName),
                           &r->owner_.attributes_);
  });
}

void TXMLParser::Reader::OnEndElement(void* self, const xmlChar* localName, const xmlChar* prefix,
                                      const xmlChar* uri) {
  auto* r = static_cast<Reader*>(self);
  r->Guard([&] {
    r->Track();
    r->CloseCData();
    if (r->owner_.OnEndElement || r->WriterActive()) {
      r->owner_.EndElement(View(uri), View(localName), r->QName(prefix, localName));
    }
    while (!r->prefixes_.empty() && r->prefixes_.back().first == r->depth_) {
      const xmlChar* declared = r->prefixes_.back().second;
      r->prefixes_.pop_back();
      r->owner_.EndPrefixMapping(View(declared));
    }
    --r->depth_;
  });
}

void TXMLParser::Reader::OnCharacters(void* self, const xmlChar* chars, int length) {
  auto* r = static_cast<Reader*>(self);
  r->Guard([&] {
    r->Track();
    r->CloseCData();
    r->owner_.fromReference_ = r->FromCharacterReference(chars);
    r->owner_.Characters(View(chars, static_cast<size_t>(length)));
    r->owner_.fromReference_ = false;
  });
}

void TXMLParser::Reader::OnCData(void* self, const xmlChar* chars, int length) {
  auto* r = static_cast<Reader*>(self);
  r->Guard([&] {
    r->Track();
    if (!r->inCData_) {
      r->inCData_ = true;
      r->owner_.StartCData();
    }
    if (length > 0) r->owner_.Characters(View(chars, static_cast<size_t>(length)));
    // The push parser hands a long section over in blocks straight from its
    // input buffer; the last block is the one followed by the section's "]]>".
    const xmlChar* end = chars + length;
    const xmlChar* limit = r->ctxt_->input != nullptr ? r->ctxt_->input->end : end;
    if (limit - end >= 3 && std::memcmp(end, "]]>", 3) == 0) r->CloseCData();
  });
}

void TXMLParser::Reader::OnComment(void* self, const xmlChar* chars) {
  auto* r = static_cast<Reader*>(self);
  r->Guard([&] {
    r->Track();
    r->CloseCData();
    r->owner_.Comment(View(chars));
  });
}

void TXMLParser::Reader::OnProcessingInstruction(void* self, const xmlChar* target,
                                                 const xmlChar* data) {
  auto* r = static_cast<Reader*>(self);
  r->Guard([&] {
    r->Track();
    r->CloseCData();
    r->owner_.ProcessingInstruction(View(target), View(data));
  });
}

// Errors are not stopped from here: libxml2 goes on using its input after
// reporting, so a fatal error only marks the parse as failed (libxml2 itself
// stops delivering events) and the rest of the chunk is ignored.
void TXMLParser::Reader::OnError(void* self, xmlErrorPtr error) {
  auto* r = static_cast<Reader*>(self);
  if (r->stopped_ || error == nullptr) return;
  const TXMLLocator locator{error->line, error->int2};
  std::string message = TrimmedMessage(error->message);
  if (error->code == XML_ERR_DOCUMENT_END && r->terminating_) {
    // At the end of the input the push parser says "Extra content" also for
    // a document that is empty or cut short.
    if (!r->rootSeen_) {
      message = "XML document must have a top level element.";
    } else if (r->depth_ > 0 && r->ctxt_->name != nullptr) {
      message = "Premature end of data in tag " + std::string(View(r->ctxt_->name));
    }
  }
  if (error->level == XML_ERR_FATAL) {
    r->Fail(locator, std::move(message), error->code);
    return;
  }
  const auto& slot =
      error->level == XML_ERR_WARNING ? r->owner_.OnIgnorableWarning : r->owner_.OnError;
  if (error->level == XML_ERR_ERROR) {
    r->error_ = true;
    r->errorMessage_ = message;
    r->errorLocator_ = locator;
    r->errorCode_ = error->code;
  }
  if (!slot) return;
  try {
    r->owner_.locator_ = locator;
    slot(locator, message, error->code);
  } catch (...) {
    r->exception_ = std::current_exception();
    r->stopped_ = true;
  }
}

void TXMLParser::Reader::OnDocType(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
  static_cast<Reader*>(self)->Refuse(kDtdProhibited);
}

void TXMLParser::Reader::OnEntityDecl(void* self, const xmlChar*, int, const xmlChar*,
                                      const xmlChar*, xmlChar*) {
  static_cast<Reader*>(self)->Refuse(kDtdProhibited);
}

xmlEntityPtr TXMLParser::Reader::OnGetEntity(void*, const xmlChar* name) {
  // Only the five predefined entities exist; any other reference is then an
  // undeclared entity, a fatal error.
  return xmlGetPredefinedEntity(name);
}

xmlParserInputPtr TXMLParser::Reader::OnResolveEntity(void* self, const xmlChar*, const xmlChar*) {
  static_cast<Reader*>(self)->Refuse("External entities are prohibited.");
  return nullptr;
}

}  // namespace morvex
