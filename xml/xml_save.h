// Writing documents and texts onto streams with a named encoding, its
// byte-order mark and the XML declaration.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct _xmlDoc;
struct _xmlNode;
struct _xmlSaveCtxt;

namespace morvex {

class TEncoding;
class TStream;
struct TXmlOptions;

// Writes the byte-order mark of an encoding name (EncodingForName, case
// ignored): "unicode" and "utf-16" FF FE, "unicodeFFFE" FE FF, "utf-8"
// EF BB BF, "utf-32" FF FE 00 00; nothing for other names ("ansi", "utf8",
// "utf-16le", code pages). Throws EMorvexError for a name without a
// conversion, before anything is written.
void WriteEncodingPreamble(TStream& stream, std::string_view encodingName);

// The name the XML declaration gives for text written in the encoding named
// `encodingName`: the name itself, or "UTF-8" for the names of the system
// encoding ("ansi", "oem", "dos", the table's "ascii ANSI"). Throws like
// EncodingForName for a name without a conversion.
std::string XmlDeclarationEncoding(std::string_view encodingName);

// Serialises `document` at the stream's position.
//   - Without options: libxml2's own save, UTF-8 with the declaration
//     <?xml version="1.0" encoding="UTF-8"?> and no byte-order mark.
//   - With options: enc is the options' Encoding, or DefaultCharsetName()
//     when that is empty (EncodingForName). Writes enc's byte-order mark
//     (WriteEncodingPreamble), the declaration <?xml version="1.0"
//     encoding="<XmlDeclarationEncoding(enc)>"?> as the only one, then the content
//     through the TXMLParser writer, indented when the options say so.
// Errors of the writer or the stream (EMorvexError) propagate.
void SaveXmlToStream(_xmlDoc* document, TStream& stream, const TXmlOptions* options);

// Saves a document one of whose elements, `container`, gets its content piece
// by piece: the bytes are those SaveXmlToStream(document, stream, options)
// would write had every node passed to Write() been appended to `container`
// in turn, yet no such tree is built. `container` must have no children; its
// attributes and declarations may change until the first Write() or
// Finish(). Nothing is written before the first Write() or Finish(), and the
// output is complete only after Finish(). Errors of the writer or the stream
// (EMorvexError) propagate.
class TXmlContainerSave {
 public:
  TXmlContainerSave(_xmlDoc* document, _xmlNode* container, TStream& stream,
                    const TXmlOptions* options);
  ~TXmlContainerSave();
  TXmlContainerSave(const TXmlContainerSave&) = delete;
  TXmlContainerSave& operator=(const TXmlContainerSave&) = delete;

  // Writes `node` and its subtree, from any document, as the container's next
  // child. The node's namespace prefixes are written as they stand: a node
  // that uses a declaration of an ancestor outside it must be copied into
  // the container's tree first (and may be freed once written).
  void Write(const _xmlNode* node);
  void Finish();

 private:
  struct State;
  void Begin();
  std::unique_ptr<State> state_;
};

// Writes `text` converted to `encoding` (the system ANSI encoding when
// nullptr), after the encoding's preamble when `withPreamble` is set. An
// empty text writes nothing. True on success; false on any error, after
// which nothing more is written.
bool WriteTextToStream(std::string_view text, TStream& stream, const TEncoding* encoding,
                       bool withPreamble);

}  // namespace morvex
