// XML documents: creating, loading with parse errors, and the few settings a
// document carries besides its tree (its XML declaration and the prefixes
// its XPath selections may use).
//
// A document is a reference-counted handle over a libxml2 document; nodes are
// plain pointers owned by their document and valid while a handle lives.
// Functions that only use a document take it as a non-owning `_xmlDoc*`
// (pass `handle.get()`); nullptr stands for "no document".
//
// Loading is safe for hostile input: no external entity, external DTD,
// XInclude or network resource is ever read, and with ProhibitDTD (the
// default) a document with any DTD is refused as a parse error. Size has no
// limit below libxml2's huge limits (a text or name of up to 1 GB), so any
// document this system writes reads back; elements may nest 2048 levels deep.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct _xmlDoc;
struct _xmlNode;
struct _xmlParserCtxt;

namespace morvex {

class TStream;
struct TXmlOptions;

using TXmlDocument = std::shared_ptr<_xmlDoc>;

// The parse error of a loaded document; every field zero or empty when the
// document loaded (or when there is no document).
struct TXMLDOMParseError {
  int32_t ErrorCode = 0;  // libxml2's error number; non-zero when the load failed
  int32_t FilePos = 0;    // offset of the error in the decoded text
  int32_t Line = 0;       // 1-based; 0 when the input could not be read at all
  int32_t LinePos = 0;    // 1-based column
  std::string Reason;     // the parser's message, without a trailing line end
  std::string SrcText;    // the offending line (up to about 200 characters around the error)
  std::string URL;        // the file path for LoadXmlFile, else empty
};

// ErrorCode of a document refused because it has a DTD while ProhibitDTD is set.
constexpr int32_t kXmlErrorDtdProhibited = 0x7D70;
// ErrorCode of a document that needed an external resource (entity or DTD).
constexpr int32_t kXmlErrorExternalResource = 0x7D71;
// ErrorCode of a document whose elements nest deeper than the loaders allow.
constexpr int32_t kXmlErrorTooDeep = 0x7D72;

// A new empty document configured from `options` (DefaultXmlOptions() when
// nullptr; options whose Available is false are probed first, on a copy).
// With `withDeclaration` and a non-empty Encoding the document keeps the
// declaration data `version="1.0" encoding="<Encoding>"`, which saving writes.
// SelectionNamespaces apply from Version 2 on; an invalid text there gives no
// document (nullptr), and so does Version 0.
TXmlDocument CreateXmlDocument(const TXmlOptions* options, bool withDeclaration);

// Each loader returns a document made with DefaultXmlOptions() and no
// declaration. A document that fails to parse is still returned: it has no
// document element and GetParseError() tells why.
//
// LoadXmlFile: a file that cannot be opened or read is a parse failure too.
// How adjacent CDATA sections load: Merged joins `<![CDATA[a]]><![CDATA[b]]>`
// into one node, as XPath's data model sees text; Separate keeps one node per
// section, for documents whose sections each carry a text of their own (a
// project's script and its second text).
enum class TCDataSections { Merged, Separate };

TXmlDocument LoadXmlFile(const std::string& path, TCDataSections sections = TCDataSections::Merged);
// LoadXmlStream: reads `stream` from position 0 to its end in chunks. Errors
// of the stream itself (EMorvexError) propagate.
TXmlDocument LoadXmlStream(TStream& stream);
// LoadXmlStreamForReading, LoadXmlFileForReading: LoadXmlStream and
// LoadXmlFile for a document that is read and
// never changed (a selection's or a transformation's source): small texts
// are kept inside their nodes, which saves memory on large inputs.
TXmlDocument LoadXmlStreamForReading(TStream& stream);
TXmlDocument LoadXmlFileForReading(const std::string& path);
// LoadXmlText: `text` is UTF-8; an encoding named in its declaration is
// ignored, as the text is already decoded.
TXmlDocument LoadXmlText(std::string_view text, TCDataSections sections = TCDataSections::Merged);

// False for nullptr and for a document whose load failed.
bool HasDocumentElement(const _xmlDoc* document);
TXMLDOMParseError GetParseError(const _xmlDoc* document);

// "<URL>: [line: L, col: C] <Reason>", leaving out the parts that are empty
// or zero: the message for a document that failed to load.
std::string ParseErrorMessage(const TXMLDOMParseError& error);

// The data of the document's XML declaration, `version="1.0" encoding="..."`;
// empty when it has none.
std::string XmlDeclarationData(const _xmlDoc* document);

// One prefix binding of a document's SelectionNamespaces.
using TNamespaceBinding = std::pair<std::string, std::string>;  // prefix, URI

// Sets the prefixes XPath selections on the document may use, from text of
// the form "xmlns:p='uri' xmlns:q=\"uri\"" (whitespace separated; a default
// xmlns='uri' is accepted and has no effect in XPath 1.0). An empty text
// clears them. Raises EMorvexError for text of another form, or for a
// document that was not made by this layer.
void SetSelectionNamespaces(_xmlDoc* document, std::string_view text);
// The bindings set last; empty for nullptr and foreign documents.
std::vector<TNamespaceBinding> SelectionNamespaces(const _xmlDoc* document);
// The bindings of a SelectionNamespaces text, in order; raises EMorvexError
// for text of another form.
std::vector<TNamespaceBinding> ParseSelectionNamespaces(std::string_view text);

namespace detail {

// Listens to the tree a parse builds, for a reader that keeps only parts of
// it. None of these may raise: they stop the parser (xmlStopParser) instead.
class TTreeHooks {
 public:
  virtual ~TTreeHooks() = default;
  // An element was added to the tree (its attributes and declarations set).
  virtual void Started(_xmlParserCtxt* parser, _xmlNode* element) noexcept = 0;
  // An element is complete; the parser has moved on to its parent. The
  // listener may unlink and free it (never the document element).
  virtual void Ended(_xmlParserCtxt* parser, _xmlNode* element) noexcept = 0;
  // Whether character data, CDATA, comments and processing instructions
  // are to be built at the current position.
  virtual bool Building() const noexcept = 0;
};

// LoadXmlFile, or LoadXmlFileForReading with `forReading`, for the file at
// `path` already opened as `file` and read from its position (see
// LoadXmlSource in xml/xml_endpoints.h).
TXmlDocument LoadXmlFileStream(TStream& file, const std::string& path, bool forReading);

// LoadXmlStreamForReading with `hooks` told of every element; the stream is
// read from its position.
TXmlDocument ParseXmlStreamWithHooks(TStream& stream, TTreeHooks& hooks);

// Installs the process-wide loaders that keep every parse local and safe: an
// entity loader that refuses everything, and a loader for stylesheet imports
// and document() that reads local files only, through the same parser. Called
// once by InitXmlOptions().
void InstallSecureLoaders();
}  // namespace detail

}  // namespace morvex
