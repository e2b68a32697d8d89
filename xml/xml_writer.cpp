#include "xml/xml_writer.h"

#include <string>

#include "text/code_pages.h"
#include "xml/value_text.h"
#include "xml/xml_options.h"
#include "xml/xml_save.h"
#include "xml/xml_types.h"

namespace morvex {

namespace {

constexpr std::string_view kXmlDateTimePattern = "yyyy-mm-ddThh:nn:ss";

}  // namespace

std::unique_ptr<TXmlStreamWriter> BeginXmlWriter(TStream& stream, const TXmlOptions* optionsOrNull,
                                                 const TXMLAttributes* rootAttributesOrNull,
                                                 std::string_view rootName) {
  const TXmlOptions& options = optionsOrNull ? *optionsOrNull : DefaultXmlOptions();
  const std::string enc = options.Encoding.empty() ? DefaultCharsetName() : options.Encoding;

  // The preamble is the output's only byte-order mark: the writer component's
  // own byteOrderMark stays off.
  WriteEncodingPreamble(stream, enc);

  auto writer = std::make_unique<TXmlStreamWriter>(stream);
  TXMLParser& parser = writer->Parser();
  parser.SetOutput(&stream);
  parser.writing = true;
  parser.indent = options.Indent;
  parser.omitXMLDeclaration = true;
  parser.byteOrderMark = false;
  parser.encoding = enc;

  parser.StartDocument();
  parser.ProcessingInstruction("xml",
                               "version=\"1.0\" encoding=\"" + XmlDeclarationEncoding(enc) + "\"");
  WriteStartElement(parser, "", "", rootName, rootAttributesOrNull);
  return writer;
}

void WriteStartTag(TXmlStreamWriter& writer, std::string_view name) {
  WriteStartElement(writer.Parser(), "", "", name, nullptr);
}

void WriteEndTag(TXmlStreamWriter& writer, std::string_view name) {
  WriteEndElement(writer.Parser(), "", "", name);
}

void WriteCDataText(TXmlStreamWriter& writer, std::string_view text) {
  // The component splits a section around "]]>" itself.
  TXMLParser& parser = writer.Parser();
  parser.StartCData();
  WriteCharacters(parser, text);
  parser.EndCData();
}

void WriteTextElement(TXmlStreamWriter& writer, std::string_view name, std::string_view text,
                      bool cdata) {
  writer.Parser().TextElement(name, text, cdata);
}

void WriteXmlField(TXmlStreamWriter& writer, std::string_view name, int typeIndex,
                   bool withTypeAttribute, bool encodeBase64, std::string_view value, bool isNull) {
  if (name.empty()) return;
  TXMLParser& parser = writer.Parser();

  const TXMLAttributes* attributes = nullptr;
  if (withTypeAttribute) {
    TXMLAttributes& list = writer.fieldAttributes_;
    list.Clear();
    list.AddAttribute("", "", "type", "", XmlTypeName(typeIndex));
    if (isNull) list.AddAttribute("", "", "isNull", "", "1");
    attributes = &list;
  }
  WriteStartElement(parser, "", "", name, attributes);

  if (!isNull) {
    switch (typeIndex) {
      case xtText:
        WriteCDataText(writer, value);
        break;
      case xtFloat:
        WriteCharacters(parser, FloatToXmlText(XmlTextToFloat(value)));
        break;
      case xtDate:
      case xtTime:
      case xtDateTime:
        WriteCharacters(parser, DateTimeToXmlText(kXmlDateTimePattern, XmlTextToDateTime(value)));
        break;
      case xtBinary:
        if (encodeBase64) {
          WriteCDataText(writer, Base64OfText(value));
        } else {
          WriteCDataText(writer, value);
        }
        break;
      default:
        WriteCharacters(parser, value);
        break;
    }
  }

  WriteEndElement(parser, "", "", name);
}

size_t ReplacedValueCount(const TXmlStreamWriter& writer) {
  return writer.Parser().ReplacedValueCount();
}

std::string ReplacedValuesLine(size_t count) {
  if (count == 0) return {};
  return std::to_string(count) +
         " value(s) held characters XML cannot hold; each was written as U+FFFD.";
}

void EndXmlWriter(std::unique_ptr<TXmlStreamWriter> writer, std::string_view rootName) {
  WriteEndElement(writer->Parser(), "", "", rootName);
  writer->Parser().EndDocument();
}

}  // namespace morvex
