#include "xml/xml_save.h"

#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include <exception>
#include <string>
#include <vector>

#include "text/code_pages.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/output_sink.h"
#include "xml/sax_parser.h"
#include "xml/xml_options.h"
#include "xml/xml_ptr.h"

namespace morvex {

namespace {

// While it lives, libxml2's reports on this thread go to `Message` instead
// of standard error; the save's own failure carries them.
class TQuietErrors {
 public:
  TQuietErrors() : oldHandler_(xmlStructuredError), oldContext_(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(this, [](void* self, xmlError* error) {
      auto* quiet = static_cast<TQuietErrors*>(self);
      if (!error || !error->message || !quiet->Message.empty()) return;
      try {
        quiet->Message = error->message;
      } catch (...) {
        // Out of memory: the save's failure is still reported.
      }
    });
  }
  ~TQuietErrors() { xmlSetStructuredErrorFunc(oldContext_, oldHandler_); }
  TQuietErrors(const TQuietErrors&) = delete;
  TQuietErrors& operator=(const TQuietErrors&) = delete;
  std::string Message;

 private:
  xmlStructuredErrorFunc oldHandler_;
  void* oldContext_;
};

void SavePlain(xmlDoc* document, TStream& stream) {
  TQuietErrors errors;
  detail::TOutputSink sink{&stream, nullptr};
  detail::xml_ptr<xmlSaveCtxt> save(xmlSaveToIO(detail::WriteToSink, nullptr, &sink, "UTF-8", 0));
  if (!save) throw EMorvexError("Cannot start saving the XML document");
  long written = xmlSaveDoc(save.get(), document);
  int closed = xmlSaveClose(save.release());
  if (sink.Error) std::rethrow_exception(sink.Error);
  if (written < 0 || closed < 0) {
    while (!errors.Message.empty() && errors.Message.back() == '\n') errors.Message.pop_back();
    throw EMorvexError("Saving the XML document failed" +
                       (errors.Message.empty() ? std::string() : ": " + errors.Message));
  }
}

constexpr std::string_view kSplitMarker = "<!--morvex-container-->";

}  // namespace

struct TXmlContainerSave::State {
  xmlDoc* Document = nullptr;
  xmlNode* Container = nullptr;
  TStream* Stream = nullptr;
  const TXmlOptions* Options = nullptr;
  bool Begun = false;
  bool Finished = false;
  // Plain save: libxml2's serialiser writes each node; the text around the
  // container's content comes from saving the document with a marker there.
  std::string Suffix;
  detail::TOutputSink Sink{nullptr, nullptr};
  detail::xml_ptr<xmlSaveCtxt> Save;
  // Save with options: the writer component.
  std::unique_ptr<TXMLParser> Writer;
  std::vector<xmlNode*> Chain;  // the document element down to the container
};

TXmlContainerSave::TXmlContainerSave(_xmlDoc* document, _xmlNode* container, TStream& stream,
                                     const TXmlOptions* options)
    : state_(std::make_unique<State>()) {
  if (!document || !container) throw EMorvexError("No XML document to save");
  state_->Document = document;
  state_->Container = container;
  state_->Stream = &stream;
  state_->Options = options;
  state_->Sink.Stream = &stream;
}

TXmlContainerSave::~TXmlContainerSave() = default;

void TXmlContainerSave::Begin() {
  State& s = *state_;
  s.Begun = true;
  if (!s.Options) {
    detail::xml_ptr<xmlNode> marker(xmlNewDocComment(s.Document, BAD_CAST "morvex-container"));
    if (!marker || !xmlAddChild(s.Container, marker.get())) {
      throw EMorvexError("Cannot start saving the XML document");
    }
    TMemoryStream whole;
    try {
      SavePlain(s.Document, whole);
    } catch (...) {
      xmlUnlinkNode(marker.get());
      throw;
    }
    xmlUnlinkNode(marker.get());
    // Names cannot hold "<" and attribute values have it escaped: the first
    // comment opening is the marker.
    const std::string& text = whole.Data();
    const size_t at = text.find(kSplitMarker.substr(0, 4));
    if (at == std::string::npos || text.compare(at, kSplitMarker.size(), kSplitMarker) != 0) {
      throw EMorvexError("Cannot start saving the XML document");
    }
    s.Stream->Write(std::string_view(text).substr(0, at));
    s.Suffix = text.substr(at + kSplitMarker.size());
    s.Save.reset(xmlSaveToIO(detail::WriteToSink, nullptr, &s.Sink, "UTF-8", 0));
    if (!s.Save) throw EMorvexError("Cannot start saving the XML document");
    return;
  }
  const std::string encoding =
      s.Options->Encoding.empty() ? DefaultCharsetName() : s.Options->Encoding;
  WriteEncodingPreamble(*s.Stream, encoding);
  s.Writer = std::make_unique<TXMLParser>();
  TXMLParser& writer = *s.Writer;
  writer.SetOutput(s.Stream);
  writer.writing = true;
  writer.indent = s.Options->Indent;
  writer.omitXMLDeclaration = true;
  writer.byteOrderMark = false;
  writer.encoding = encoding;
  writer.ProcessingInstruction(
      "xml", "version=\"1.0\" encoding=\"" + XmlDeclarationEncoding(encoding) + "\"");
  writer.StartDocument();
  for (xmlNode* node = s.Container; node && node->type == XML_ELEMENT_NODE; node = node->parent) {
    s.Chain.push_back(node);
  }
  for (auto it = s.Chain.rbegin(); it != s.Chain.rend(); ++it) writer.ParseStartTag(*it);
}

void TXmlContainerSave::Write(const _xmlNode* node) {
  State& s = *state_;
  if (s.Finished) throw EMorvexError("The XML document is saved already");
  if (!s.Begun) Begin();
  if (s.Writer) {
    s.Writer->ParseNode(node);
    return;
  }
  // The document's own save serialises attributes as text of the output
  // encoding; without an encoding on the node's document libxml2 would write
  // every non-ASCII character of an attribute value as a reference.
  xmlDoc* owner = node->doc;
  const xmlChar* encoding = owner ? owner->encoding : nullptr;
  if (owner) owner->encoding = BAD_CAST "UTF-8";
  xmlSaveTree(s.Save.get(), const_cast<xmlNode*>(node));
  if (owner) owner->encoding = encoding;
  if (s.Sink.Error) std::rethrow_exception(s.Sink.Error);
}

void TXmlContainerSave::Finish() {
  State& s = *state_;
  if (s.Finished) return;
  if (!s.Begun && !s.Options) {
    s.Finished = true;
    SavePlain(s.Document, *s.Stream);
    return;
  }
  if (!s.Begun) Begin();
  s.Finished = true;
  if (s.Writer) {
    for (xmlNode* node : s.Chain) s.Writer->ParseEndTag(node);
    s.Writer->EndDocument();
    return;
  }
  const int closed = xmlSaveClose(s.Save.release());
  if (s.Sink.Error) std::rethrow_exception(s.Sink.Error);
  if (closed < 0) throw EMorvexError("Saving the XML document failed");
  s.Stream->Write(s.Suffix);
}

void WriteEncodingPreamble(TStream& stream, std::string_view encodingName) {
  const std::string_view preamble = EncodingForName(encodingName).Preamble();
  if (!preamble.empty()) stream.Write(preamble);
}

std::string XmlDeclarationEncoding(std::string_view encodingName) {
  // The words for the system encoding (and the table's symbolic rows) are no
  // encoding names a reader knows; the bytes are UTF-8.
  if (&EncodingForName(encodingName) == &SystemAnsiEncoding()) return "UTF-8";
  return std::string(encodingName);
}

void SaveXmlToStream(_xmlDoc* document, TStream& stream, const TXmlOptions* options) {
  if (!document) throw EMorvexError("No XML document to save");
  if (!options) {
    SavePlain(document, stream);
    return;
  }
  const std::string encoding = options->Encoding.empty() ? DefaultCharsetName() : options->Encoding;
  WriteEncodingPreamble(stream, encoding);
  TXMLParser writer;
  writer.SetOutput(&stream);
  writer.writing = true;
  writer.indent = options->Indent;
  writer.omitXMLDeclaration = true;
  writer.byteOrderMark = false;
  writer.encoding = encoding;
  // The one declaration of the output; a declaration the document holds is
  // not content and is not written again.
  writer.ProcessingInstruction(
      "xml", "version=\"1.0\" encoding=\"" + XmlDeclarationEncoding(encoding) + "\"");
  writer.ParseDocument(document);
}

bool WriteTextToStream(std::string_view text, TStream& stream, const TEncoding* encoding,
                       bool withPreamble) {
  if (text.empty()) return true;
  try {
    const TEncoding& target = encoding ? *encoding : SystemAnsiEncoding();
    std::string bytes = withPreamble ? std::string(target.Preamble()) : std::string();
    bytes += target.GetBytes(text);
    stream.Write(bytes);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace morvex
