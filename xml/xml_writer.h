// The streaming XML writer: every XML document generated from data (query
// results, conversions) is written through it straight onto the destination
// stream, element by element; no document is built in memory.
//
//   auto writer = BeginXmlWriter(out, &options, rootAttributes.get(), "morvex_data");
//   WriteStartTag(*writer, "r");
//   WriteXmlField(*writer, "id", xtInteger, false, false, "7", false);
//   WriteEndTag(*writer, "r");
//   EndXmlWriter(std::move(writer), "morvex_data");
//
// The output is always well-formed: characters XML 1.0 cannot hold and
// invalid UTF-8 in values are written as U+FFFD (ReplacedValueCount), and a
// name XML cannot hold fails.
//
// Errors of the writer component or of the stream (EMorvexError) propagate to
// the caller; bytes written before the error stay in the stream.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "xml/sax_parser.h"

namespace morvex {

class TStream;
struct TXmlOptions;

// One open writer: a TXMLParser with `writing` on, writing to a stream it does
// not own. The stream must outlive the writer.
class TXmlStreamWriter {
 public:
  explicit TXmlStreamWriter(TStream& stream) : stream_(stream) {}
  TXMLParser& Parser() { return parser_; }
  const TXMLParser& Parser() const { return parser_; }
  TStream& Stream() { return stream_; }

 private:
  TXMLParser parser_;
  TStream& stream_;
  TXMLAttributes fieldAttributes_;  // reused by every typed field
  friend void WriteXmlField(TXmlStreamWriter&, std::string_view, int, bool, bool, std::string_view,
                            bool);
};

// Starts a document at the stream's position: the byte-order mark of the
// encoding name (WriteEncodingPreamble), the declaration
// <?xml version="1.0" encoding="<XmlDeclarationEncoding(name)>"?> and the root start tag
// with `rootAttributesOrNull`. The name is the options' Encoding (options
// default to DefaultXmlOptions()), or DefaultCharsetName() when that is empty;
// Indent comes from the options too.
std::unique_ptr<TXmlStreamWriter> BeginXmlWriter(TStream& stream, const TXmlOptions* optionsOrNull,
                                                 const TXMLAttributes* rootAttributesOrNull,
                                                 std::string_view rootName);

// A start tag without attributes, and an end tag.
void WriteStartTag(TXmlStreamWriter& writer, std::string_view name);
void WriteEndTag(TXmlStreamWriter& writer, std::string_view name);

// One typed field element named `name`; an empty name writes nothing at all.
// With `withTypeAttribute` the element carries type="<XmlTypeName(typeIndex)>",
// and for a null field also isNull="1". A null field has no content; otherwise
// the content depends on the type:
//   xtText                 CDATA section holding `value`
//   xtFloat                FloatToXmlText(XmlTextToFloat(value))
//   xtDate/Time/DateTime   DateTimeToXmlText("yyyy-mm-ddThh:nn:ss", XmlTextToDateTime(value))
//   xtBinary               CDATA section holding Base64OfText(value) with
//                          `encodeBase64`, else holding `value`
//   any other              `value` as escaped character data
// A CDATA text that holds "]]>" is written as two sections split between "]]"
// and ">", so that the document stays well-formed and reads back the same.
void WriteXmlField(TXmlStreamWriter& writer, std::string_view name, int typeIndex,
                   bool withTypeAttribute, bool encodeBase64, std::string_view value, bool isNull);

// A CDATA section holding `text` (empty text: an empty section), split around
// "]]>" as WriteXmlField describes.
void WriteCDataText(TXmlStreamWriter& writer, std::string_view text);

// An element without attributes holding `text`, in one call: what
// WriteStartTag, WriteCharacters (with `cdata`: WriteCDataText, so that an
// empty text still writes an empty section) and WriteEndTag write. The caller
// has checked `name` (RequireXmlName); it is not checked again.
void WriteTextElement(TXmlStreamWriter& writer, std::string_view name, std::string_view text,
                      bool cdata);

// How many values the writer has written with U+FFFD in place of characters
// XML cannot hold, and the detail line a step reports for them (empty for 0):
// "<n> value(s) held characters XML cannot hold; each was written as U+FFFD."
size_t ReplacedValueCount(const TXmlStreamWriter& writer);
std::string ReplacedValuesLine(size_t count);

// Closes the root element, ends the document (which flushes the writer's
// output onto the stream) and frees the writer. The stream is not flushed or
// closed.
void EndXmlWriter(std::unique_ptr<TXmlStreamWriter> writer, std::string_view rootName);

}  // namespace morvex
