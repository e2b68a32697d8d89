#include "xml/xml_save.h"

#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

#include <exception>
#include <string>

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

}  // namespace

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
