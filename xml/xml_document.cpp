// Loading lets libxml2's parser pull chunks from our own streams, so every
// byte the parser sees has come through a TStream the program
// opened: libxml2 itself never opens a file or a URL. The process-wide
// entity loader refuses everything, which keeps external entities, external
// DTDs and XInclude out even if some option asked for them, and the loader
// that libxslt uses for xsl:import and document() comes back here.
//
// A document's handle owns a TDocumentState (the libxml2 document plus its
// parse error, declaration and selection prefixes); the document's _private
// field points back to that state so that functions given a bare document
// pointer can reach it.
#include "xml/xml_document.h"

#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <libxslt/documents.h>
#include <libxslt/security.h>
#include <libxslt/xsltutils.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"
#include "xml/input_policy.h"
#include "xml/xml_options.h"
#include "xml/xml_ptr.h"

namespace morvex {

namespace {

using detail::xml_ptr;

// No entity substitution, no DTD loading, no network; CDATA sections and
// whitespace are kept as they are. With DTDs and entities refused, the huge
// option opens no expansion attack: it only lifts libxml2's size limits, so
// that every document this system writes (a 10 MB base64 field, a long text
// value) reads back. It also lifts libxml2's depth limit, so nesting is
// limited here (kMaxNestingDepth) instead.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_HUGE;
constexpr size_t kSrcTextRadius = 100;
constexpr const char* kNoDocumentElement = "XML document must have a top level element.";

struct TDocumentState {
  xml_ptr<xmlDoc> Doc;
  TXMLDOMParseError ParseError;
  std::string Declaration;
  std::vector<TNamespaceBinding> Namespaces;
};

TDocumentState* StateOf(const xmlDoc* document) {
  return document ? static_cast<TDocumentState*>(document->_private) : nullptr;
}

TXmlDocument WrapDocument(xml_ptr<xmlDoc> doc, TXMLDOMParseError error = {}) {
  auto state = std::make_shared<TDocumentState>();
  state->Doc = std::move(doc);
  state->ParseError = std::move(error);
  xmlDoc* raw = state->Doc.get();
  raw->_private = state.get();
  return TXmlDocument(std::move(state), raw);
}

xml_ptr<xmlDoc> NewEmptyDocument(const std::string& url) {
  xml_ptr<xmlDoc> doc(xmlNewDoc(BAD_CAST "1.0"));
  if (!doc) throw EMorvexError("Out of memory creating an XML document");
  if (!url.empty()) doc->URL = xmlStrdup(BAD_CAST url.c_str());
  return doc;
}

std::string_view TrimMessage(const char* message) {
  std::string_view text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  return text;
}

// --- parsing -------------------------------------------------------------

struct TParseState {
  xmlParserCtxt* Ctxt = nullptr;
  detail::TTreeHooks* Hooks = nullptr;
  bool ProhibitDtd = true;
  TCDataSections Sections = TCDataSections::Merged;
  bool Failed = false;
  TXMLDOMParseError Error;
};

// The parse running on this thread: the parser callbacks, the entity loader
// and errors raised outside the parser context find their state here.
thread_local TParseState* activeParse = nullptr;

// True when the input's pointers lie inside its buffer as it is now. An
// error raised while libxml2 grows or converts the input buffer arrives
// before the input is moved onto the new buffer, so base, cur and end may
// then point into freed memory and must not be read.
bool InputIsCurrent(const xmlParserInput* input) {
  if (!input || !input->base || !input->cur || !input->end || input->cur < input->base ||
      input->cur > input->end) {
    return false;
  }
  if (!input->buf || !input->buf->buffer) return true;  // a fixed block of memory
  const xmlChar* content = xmlBufContent(input->buf->buffer);
  const size_t used = xmlBufUse(input->buf->buffer);
  return content && input->base == content && input->end <= content + used;
}

// The text of the current line around the parser's position, cut at UTF-8
// character boundaries; empty unless InputIsCurrent.
std::string SourceLineAround(const xmlParserInput* input) {
  if (!InputIsCurrent(input)) return {};
  const char* base = reinterpret_cast<const char*>(input->base);
  const char* end = reinterpret_cast<const char*>(input->end);
  const char* cur = reinterpret_cast<const char*>(input->cur);
  const char* first = cur;
  while (first > base && first[-1] != '\n' && static_cast<size_t>(cur - first) < kSrcTextRadius) {
    --first;
  }
  while (first < cur && (static_cast<unsigned char>(*first) & 0xC0) == 0x80) ++first;
  const char* last = cur;
  while (last < end && *last != '\n' && static_cast<size_t>(last - cur) < kSrcTextRadius) ++last;
  std::string_view line(first, static_cast<size_t>(last - first));
  line = line.substr(0, CompleteUtf8Prefix(line));
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return std::string(line);
}

// Keeps the first error of a parse. Called from libxml2's callbacks, so
// nothing may escape it.
void RecordError(TParseState& state, int code, int line, int column,
                 std::string_view reason) noexcept {
  if (state.Failed) return;
  state.Failed = true;
  TXMLDOMParseError& error = state.Error;
  error.ErrorCode = code != 0 ? code : XML_ERR_INTERNAL_ERROR;
  const xmlParserInput* input = state.Ctxt ? state.Ctxt->input : nullptr;
  // Errors raised outside the parser context (a failed conversion) carry no
  // position: the parser's own line and column stand in.
  if (line <= 0 && input) {
    line = input->line;
    column = input->col;
  }
  error.Line = line;
  error.LinePos = column;
  if (InputIsCurrent(input)) {
    error.FilePos = static_cast<int32_t>(input->consumed +
                                         static_cast<unsigned long>(input->cur - input->base));
  }
  try {
    error.Reason = reason;
    error.SrcText = SourceLineAround(input);
  } catch (...) {
    // Out of memory: the error code alone still fails the load.
  }
}

// libxml2's limit messages advise a parser option ("..., use XML_PARSE_HUGE
// option"), which is nothing a user can set: the advice is dropped, and a
// depth limit is told in this system's words.
std::string OwnReason(const char* message) {
  std::string reason(TrimMessage(message));
  if (reason.find("XML_PARSE_HUGE") == std::string::npos) return reason;
  if (reason.find("depth") != std::string::npos) return NestingTooDeepReason();
  const size_t advice = reason.find("use XML_PARSE_HUGE");
  reason.erase(advice);
  while (!reason.empty() && (reason.back() == ' ' || reason.back() == ',')) reason.pop_back();
  return reason + ": the document exceeds a size limit of the XML parser";
}

// Errors and warnings reported through the parser context. Warnings do not
// fail a load; errors (including namespace errors such as an undeclared
// prefix) do.
void OnParserError(void* data, xmlError* error) {
  auto* ctxt = static_cast<xmlParserCtxt*>(data);
  TParseState* state = activeParse;
  if (!state || !ctxt || state->Ctxt != ctxt || !error || error->level < XML_ERR_ERROR) return;
  try {
    RecordError(*state, error->code, error->line, error->int2, OwnReason(error->message));
  } catch (...) {
    RecordError(*state, error->code, error->line, error->int2, {});
  }
}

// Errors libxml2 raises without the parser context (encoding conversion,
// often while the input buffer is being replaced).
void OnStrayError(void* data, xmlError* error) {
  auto* state = static_cast<TParseState*>(data);
  if (!state || !error || error->level < XML_ERR_ERROR) return;
  RecordError(*state, error->code, error->line, error->int2, TrimMessage(error->message));
}

// Builds the element as libxml2 would, and stops the parse at the first
// element deeper than kMaxNestingDepth (its ancestors are the open elements).
void OnStartElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri,
                    int namespaceCount, const xmlChar** namespaces, int attributeCount,
                    int defaultedCount, const xmlChar** attributes) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  TParseState* state = activeParse;
  if (state && state->Ctxt == ctxt && ctxt->nameNr >= kMaxNestingDepth) {
    int line = ctxt->input ? ctxt->input->line : 0;
    int column = ctxt->input ? ctxt->input->col : 0;
    try {
      RecordError(*state, kXmlErrorTooDeep, line, column, NestingTooDeepReason());
    } catch (...) {
      RecordError(*state, kXmlErrorTooDeep, line, column, {});
    }
    xmlStopParser(ctxt);
    return;
  }
  xmlSAX2StartElementNs(ctx, localName, prefix, uri, namespaceCount, namespaces, attributeCount,
                        defaultedCount, attributes);
  if (state && state->Hooks && ctxt->node) state->Hooks->Started(ctxt, ctxt->node);
}

void OnEndElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar* uri) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  xmlNode* ended = ctxt->node;
  xmlSAX2EndElementNs(ctx, localName, prefix, uri);
  TParseState* state = activeParse;
  if (state && state->Hooks && ended) state->Hooks->Ended(ctxt, ended);
}

// Content outside the elements a hooked parse keeps is not built at all.
bool KeepsContent() {
  TParseState* state = activeParse;
  return !state || !state->Hooks || state->Hooks->Building();
}

void OnCharacters(void* ctx, const xmlChar* chars, int length) {
  if (KeepsContent()) xmlSAX2Characters(ctx, chars, length);
}

// libxml2 appends a section to a CDATA node just before it; Separate gives
// each section its own node. The whole-document parser hands a section over
// in one call, so one call is one section.
void OnCData(void* ctx, const xmlChar* chars, int length) {
  if (!KeepsContent()) return;
  TParseState* state = activeParse;
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  if (!state || state->Sections == TCDataSections::Merged || ctxt->node == nullptr) {
    xmlSAX2CDataBlock(ctx, chars, length);
    return;
  }
  xmlNode* section = xmlNewCDataBlock(ctxt->myDoc, chars, length);
  if (section != nullptr && xmlAddChild(ctxt->node, section) == nullptr) xmlFreeNode(section);
}

void OnComment(void* ctx, const xmlChar* chars) {
  if (KeepsContent()) xmlSAX2Comment(ctx, chars);
}

void OnProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
  if (KeepsContent()) xmlSAX2ProcessingInstruction(ctx, target, data);
}

void OnInternalSubset(void* ctx, const xmlChar* name, const xmlChar* externalId,
                      const xmlChar* systemId) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  TParseState* state = activeParse;
  if (state && state->Ctxt == ctxt && state->ProhibitDtd) {
    int line = ctxt->input ? ctxt->input->line : 0;
    int column = ctxt->input ? ctxt->input->col : 0;
    RecordError(*state, kXmlErrorDtdProhibited, line, column, kDtdProhibited);
    xmlStopParser(ctxt);
    return;
  }
  xmlSAX2InternalSubset(ctx, name, externalId, systemId);
}

xmlParserInput* RefuseExternalEntity(const char* url, const char*, xmlParserCtxt* ctxt) {
  TParseState* state = activeParse;
  if (state && ctxt && state->Ctxt == ctxt) {
    int line = ctxt->input ? ctxt->input->line : 0;
    int column = ctxt->input ? ctxt->input->col : 0;
    try {
      RecordError(*state, kXmlErrorExternalResource, line, column,
                  std::string("External resources are not loaded: ") + (url ? url : ""));
    } catch (...) {
      RecordError(*state, kXmlErrorExternalResource, line, column,
                  "External resources are not loaded");
    }
  }
  return nullptr;
}

// Routes this thread's stray libxml2 errors to the running parse, and back.
class TActiveParse {
 public:
  explicit TActiveParse(TParseState& state)
      : previous_(activeParse),
        oldHandler_(xmlStructuredError),
        oldContext_(xmlStructuredErrorContext) {
    activeParse = &state;
    xmlSetStructuredErrorFunc(&state, OnStrayError);
  }
  ~TActiveParse() {
    xmlSetStructuredErrorFunc(oldContext_, oldHandler_);
    activeParse = previous_;
  }
  TActiveParse(const TActiveParse&) = delete;
  TActiveParse& operator=(const TActiveParse&) = delete;

 private:
  TParseState* previous_;
  xmlStructuredErrorFunc oldHandler_;
  void* oldContext_;
};

using TChunkReader = std::function<size_t(char* buffer, size_t size)>;

struct TParseResult {
  xml_ptr<xmlDoc> Doc;  // never null; without a document element when the parse failed
  TXMLDOMParseError Error;
};

struct TReadContext {
  const TChunkReader* Read;
  std::exception_ptr Error;
};

int ReadChunk(void* context, char* buffer, int size) {
  auto* read = static_cast<TReadContext*>(context);
  try {
    return static_cast<int>((*read->Read)(buffer, static_cast<size_t>(size)));
  } catch (...) {
    read->Error = std::current_exception();
    return -1;
  }
}

// Parses everything `read` delivers (libxml2 pulls it in chunks). `textInput`
// means the bytes are UTF-8 whatever the declaration says; otherwise the
// first bytes decide as for every reader (InspectXmlInputStart). Exceptions
// of `read` propagate.
TParseResult ParseXml(const TChunkReader& read, const std::string& url, bool textInput,
                      bool prohibitDtd, bool compact = false, detail::TTreeHooks* hooks = nullptr,
                      TCDataSections sections = TCDataSections::Merged) {
  DefaultXmlOptions();  // makes sure the secure loaders are installed
  TParseState state;
  state.ProhibitDtd = prohibitDtd;
  state.Sections = sections;
  state.Hooks = hooks;
  xml_ptr<xmlParserCtxt> ctxt(xmlNewParserCtxt());
  if (!ctxt) throw EMorvexError("Out of memory creating the XML parser");
  ctxt->sax->serror = OnParserError;
  ctxt->sax->internalSubset = OnInternalSubset;
  ctxt->sax->startElementNs = OnStartElement;
  ctxt->sax->cdataBlock = OnCData;
  if (hooks) {
    ctxt->sax->endElementNs = OnEndElement;
    ctxt->sax->characters = OnCharacters;
    ctxt->sax->ignorableWhitespace = OnCharacters;
    ctxt->sax->comment = OnComment;
    ctxt->sax->processingInstruction = OnProcessingInstruction;
  }
  state.Ctxt = ctxt.get();

  // The first bytes tell the encoding family (InspectXmlInputStart); they
  // go to the parser first, without a mark it does not know.
  char head[4];
  size_t headSize = 0;
  TXmlInputStart start;
  if (textInput) {
    start.Encoding = "UTF-8";
    start.IgnoreDeclaration = true;
  } else {
    while (headSize < sizeof(head)) {
      const size_t n = read(head + headSize, sizeof(head) - headSize);
      if (n == 0) break;
      headSize += n;
    }
    start = InspectXmlInputStart(std::string_view(head, headSize));
  }
  size_t headPos = start.SkipBytes;
  const TChunkReader readFromHead = [&](char* buffer, size_t size) -> size_t {
    if (headPos >= headSize) return read(buffer, size);
    const size_t count = std::min(size, headSize - headPos);
    std::copy_n(head + headPos, count, buffer);
    headPos += count;
    return count;
  };

  TReadContext reader{&readFromHead, nullptr};
  xml_ptr<xmlDoc> parsed;
  {
    TActiveParse active(state);
    parsed.reset(xmlCtxtReadIO(ctxt.get(), ReadChunk, nullptr, &reader,
                               url.empty() ? nullptr : url.c_str(), start.Encoding,
                               kParseOptions |
                                   (start.IgnoreDeclaration ? XML_PARSE_IGNORE_ENC : 0) |
                                   (compact ? XML_PARSE_COMPACT : 0)));
  }
  if (reader.Error) std::rethrow_exception(reader.Error);

  if (!state.Failed && (!parsed || !xmlDocGetRootElement(parsed.get()))) {
    RecordError(state, ctxt->errNo != 0 ? ctxt->errNo : XML_ERR_DOCUMENT_END,
                ctxt->input ? ctxt->input->line : 0, ctxt->input ? ctxt->input->col : 0,
                kNoDocumentElement);
  }
  TParseResult result;
  if (state.Failed) {
    result.Doc = NewEmptyDocument(url);
    result.Error = std::move(state.Error);
    result.Error.URL = url;
  } else {
    result.Doc = std::move(parsed);
  }
  return result;
}

TChunkReader StreamReader(TStream& stream) {
  return [&stream](char* buffer, size_t size) { return stream.Read(buffer, size); };
}

// A file that cannot be opened or read is a parse failure too.
TParseResult FileLoadFailure(const std::string& path, const EMorvexError& error) {
  TParseResult result;
  result.Doc = NewEmptyDocument(path);
  result.Error.ErrorCode = XML_IO_LOAD_ERROR;
  result.Error.Reason = error.what();
  result.Error.URL = path;
  return result;
}

TParseResult ParseFileStream(TStream& file, const std::string& path, bool prohibitDtd,
                             bool compact = false,
                             TCDataSections sections = TCDataSections::Merged) {
  try {
    return ParseXml(StreamReader(file), path, false, prohibitDtd, compact, nullptr, sections);
  } catch (const EMorvexError& e) {
    return FileLoadFailure(path, e);
  }
}

TParseResult ParseFile(const std::string& path, bool prohibitDtd, bool compact = false,
                       TCDataSections sections = TCDataSections::Merged) {
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(path, TFileStream::Mode::Read);
  } catch (const EMorvexError& e) {
    return FileLoadFailure(path, e);
  }
  return ParseFileStream(*file, path, prohibitDtd, compact, sections);
}

// --- loaders for libxslt -----------------------------------------------------

// The local file a URI names: a plain path (relative ones were already
// resolved against the base by libxslt), or a file: URI on this host. Any
// other scheme is refused.
std::optional<std::string> LocalPathOfUri(const char* uri) {
  std::string_view text(uri);
  size_t colon = text.find(':');
  bool hasScheme =
      colon != std::string_view::npos && colon > 0 &&
      std::isalpha(static_cast<unsigned char>(text[0])) &&
      std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
      });
  if (!hasScheme) {
    std::error_code ignored;
    if (std::filesystem::exists(std::string(text), ignored)) return std::string(text);
    xml_ptr<char> unescaped(xmlURIUnescapeString(uri, 0, nullptr));
    return unescaped ? std::string(unescaped.get()) : std::string(text);
  }
  if (AsciiLower(text.substr(0, colon)) != "file") return std::nullopt;
  xml_ptr<xmlURI> parsed(xmlParseURI(uri));
  if (!parsed || !parsed->path) return std::nullopt;
  if (parsed->server && *parsed->server && std::string_view(parsed->server) != "localhost") {
    return std::nullopt;
  }
  return std::string(parsed->path);
}

xmlDoc* LoadXsltResource(const xmlChar* uri, xmlDict*, int, void* context, xsltLoadType type) {
  try {
    std::string name = uri ? reinterpret_cast<const char*>(uri) : "";
    std::string message;
    if (std::optional<std::string> path = LocalPathOfUri(name.c_str())) {
      TParseResult parsed = ParseFile(*path, DefaultXmlOptions().ProhibitDTD);
      if (parsed.Error.ErrorCode == 0) return parsed.Doc.release();
      message = ParseErrorMessage(parsed.Error);
    } else {
      message = "Only local files may be read, not " + name;
    }
    if (type == XSLT_LOAD_DOCUMENT) {
      xsltTransformError(static_cast<xsltTransformContext*>(context), nullptr, nullptr, "%s\n",
                         message.c_str());
    } else {
      xsltTransformError(nullptr, static_cast<xsltStylesheet*>(context), nullptr, "%s\n",
                         message.c_str());
    }
  } catch (...) {
    // Nothing may cross back into libxslt; the caller reports the failed load.
  }
  return nullptr;
}

// --- selection namespaces ------------------------------------------------------

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::vector<TNamespaceBinding> ParseSelectionNamespaces(std::string_view text) {
  std::vector<TNamespaceBinding> bindings;
  size_t pos = 0;
  auto fail = [&text]() {
    return EMorvexError("Invalid selection namespaces \"" + std::string(text) +
                        "\": expected xmlns:prefix='uri' declarations separated by spaces");
  };
  auto skipSpace = [&]() {
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
  };
  for (skipSpace(); pos < text.size(); skipSpace()) {
    if (text.substr(pos, 5) != "xmlns") throw fail();
    pos += 5;
    std::string prefix;
    if (pos < text.size() && text[pos] == ':') {
      size_t start = ++pos;
      while (pos < text.size() && text[pos] != '=' && !IsSpace(text[pos])) ++pos;
      prefix = std::string(text.substr(start, pos - start));
      if (xmlValidateNCName(BAD_CAST prefix.c_str(), 0) != 0) throw fail();
    }
    skipSpace();
    if (pos >= text.size() || text[pos] != '=') throw fail();
    ++pos;
    skipSpace();
    if (pos >= text.size() || (text[pos] != '\'' && text[pos] != '"')) throw fail();
    char quote = text[pos++];
    size_t close = text.find(quote, pos);
    if (close == std::string_view::npos) throw fail();
    bindings.emplace_back(std::move(prefix), std::string(text.substr(pos, close - pos)));
    pos = close + 1;
    if (pos < text.size() && !IsSpace(text[pos])) throw fail();
  }
  return bindings;
}

TXmlDocument CreateXmlDocument(const TXmlOptions* options, bool withDeclaration) {
  TXmlOptions settings = options ? *options : DefaultXmlOptions();
  if (!settings.Available) {
    TXmlOptions probed;
    InitXmlOptions(probed);
    settings.Available = probed.Available;
    settings.Version = probed.Version;
  }
  if (settings.Version == 0) return nullptr;
  try {
    TXmlDocument document = WrapDocument(NewEmptyDocument({}));
    // Service 2.6 (Version 1) has no selection prefixes.
    if (!settings.SelectionNamespaces.empty() && settings.Version >= 2) {
      SetSelectionNamespaces(document.get(), settings.SelectionNamespaces);
    }
    if (withDeclaration && !settings.Encoding.empty()) {
      StateOf(document.get())->Declaration =
          "version=\"1.0\" encoding=\"" + settings.Encoding + "\"";
    }
    return document;
  } catch (const EMorvexError&) {
    return nullptr;
  }
}

TXmlDocument LoadXmlFile(const std::string& path, TCDataSections sections) {
  TParseResult parsed = ParseFile(path, DefaultXmlOptions().ProhibitDTD, false, sections);
  return WrapDocument(std::move(parsed.Doc), std::move(parsed.Error));
}

TXmlDocument LoadXmlStream(TStream& stream) {
  stream.SetPosition(0);
  TParseResult parsed = ParseXml(StreamReader(stream), {}, false, DefaultXmlOptions().ProhibitDTD);
  return WrapDocument(std::move(parsed.Doc), std::move(parsed.Error));
}

TXmlDocument LoadXmlFileForReading(const std::string& path) {
  TParseResult parsed = ParseFile(path, DefaultXmlOptions().ProhibitDTD, true);
  return WrapDocument(std::move(parsed.Doc), std::move(parsed.Error));
}

TXmlDocument LoadXmlStreamForReading(TStream& stream) {
  stream.SetPosition(0);
  TParseResult parsed =
      ParseXml(StreamReader(stream), {}, false, DefaultXmlOptions().ProhibitDTD, true);
  return WrapDocument(std::move(parsed.Doc), std::move(parsed.Error));
}

TXmlDocument LoadXmlText(std::string_view text, TCDataSections sections) {
  size_t offset = 0;
  TChunkReader read = [text, &offset](char* buffer, size_t size) {
    size_t count = std::min(size, text.size() - offset);
    std::copy_n(text.data() + offset, count, buffer);
    offset += count;
    return count;
  };
  TParseResult parsed =
      ParseXml(read, {}, true, DefaultXmlOptions().ProhibitDTD, false, nullptr, sections);
  return WrapDocument(std::move(parsed.Doc), std::move(parsed.Error));
}

bool HasDocumentElement(const _xmlDoc* document) {
  return document && xmlDocGetRootElement(document) != nullptr;
}

TXMLDOMParseError GetParseError(const _xmlDoc* document) {
  const TDocumentState* state = StateOf(document);
  return state ? state->ParseError : TXMLDOMParseError{};
}

std::string ParseErrorMessage(const TXMLDOMParseError& error) {
  std::string message;
  if (!error.URL.empty() && error.Line > 0) message = error.URL + ": ";
  if (error.Line > 0) {
    message +=
        "[line: " + std::to_string(error.Line) + ", col: " + std::to_string(error.LinePos) + "] ";
  }
  return message + error.Reason;
}

std::string XmlDeclarationData(const _xmlDoc* document) {
  const TDocumentState* state = StateOf(document);
  return state ? state->Declaration : std::string();
}

void SetSelectionNamespaces(_xmlDoc* document, std::string_view text) {
  TDocumentState* state = StateOf(document);
  if (!state)
    throw EMorvexError("Selection namespaces can only be set on documents of the XML layer");
  state->Namespaces = ParseSelectionNamespaces(text);
}

std::vector<TNamespaceBinding> SelectionNamespaces(const _xmlDoc* document) {
  const TDocumentState* state = StateOf(document);
  return state ? state->Namespaces : std::vector<TNamespaceBinding>{};
}

namespace detail {

TXmlDocument LoadXmlFileStream(TStream& file, const std::string& path, bool forReading) {
  TParseResult parsed = ParseFileStream(file, path, DefaultXmlOptions().ProhibitDTD, forReading);
  return WrapDocument(std::move(parsed.Doc), std::move(parsed.Error));
}

TXmlDocument ParseXmlStreamWithHooks(TStream& stream, TTreeHooks& hooks) {
  TParseResult parsed =
      ParseXml(StreamReader(stream), {}, false, DefaultXmlOptions().ProhibitDTD, true, &hooks);
  return WrapDocument(std::move(parsed.Doc), std::move(parsed.Error));
}

void InstallSecureLoaders() {
  xmlSetExternalEntityLoader(RefuseExternalEntity);
  xsltSetLoaderFunc(LoadXsltResource);
  // Stylesheets may import local files but never write files, create
  // directories or touch the network. Each transformation sets its own
  // preferences on top of these (see xslt.cpp).
  static xml_ptr<xsltSecurityPrefs> defaults(xsltNewSecurityPrefs());
  if (defaults) {
    xsltSetSecurityPrefs(defaults.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
    xsltSetSecurityPrefs(defaults.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
    xsltSetSecurityPrefs(defaults.get(), XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
    xsltSetSecurityPrefs(defaults.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
    xsltSetDefaultSecurityPrefs(defaults.get());
  }
}

}  // namespace detail

}  // namespace morvex
