// Writing documents and texts onto streams with a named encoding, its
// byte-order mark and the XML declaration.
#pragma once

#include <string_view>

struct _xmlDoc;

namespace morvex {

class TEncoding;
class TStream;
struct TXmlOptions;

// Writes the byte-order mark of an encoding name, compared exactly:
// "unicode" FF FE, "unicodeFFFE" FE FF, "utf-8" EF BB BF; nothing for any
// other name (also "UTF-8").
void WriteEncodingPreamble(TStream& stream, std::string_view encodingName);

// Serialises `document` at the stream's position.
//   - Without options: libxml2's own save, UTF-8 with the declaration
//     <?xml version="1.0" encoding="UTF-8"?> and no byte-order mark.
//   - With options: enc is the options' Encoding, or DefaultCharsetName()
//     when that is empty ("unicode" is UTF-16LE, "unicodeFFFE" UTF-16BE,
//     other names go through the code-page table). Writes enc's byte-order
//     mark (WriteEncodingPreamble), the declaration
//     <?xml version="1.0" encoding="<enc>"?> as the only one, then the content
//     through the TXMLParser writer, indented when the options say so.
// Errors of the writer or the stream (EMorvexError) propagate.
void SaveXmlToStream(_xmlDoc* document, TStream& stream, const TXmlOptions* options);

// Writes `text` converted to `encoding` (the system ANSI encoding when
// nullptr), after the encoding's preamble when `withPreamble` is set. An
// empty text writes nothing. True on success; false on any error, after
// which nothing more is written.
bool WriteTextToStream(std::string_view text, TStream& stream, const TEncoding* encoding,
                       bool withPreamble);

}  // namespace morvex
