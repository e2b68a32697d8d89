// libFuzzer target: bytes loaded as XML the ways the program loads it (a
// project or stream read as bytes, XML text, an XSLT stylesheet, an XPath
// expression list) must load or fail with a parse error, never crash, hang
// or trip a sanitizer. The first byte picks the way; the rest is the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/stream.h"
#include "xml/xml_document.h"
#include "xml/xpath.h"
#include "xml/xslt.h"

namespace {

constexpr std::string_view kSource =
    "<r xmlns:m='urn:m'><i k='1'>one</i><i k='2'><m:j>two</m:j></i><!--c--><?p d?>"
    "<![CDATA[x]]></r>";

void LoadAsBytes(std::string_view input) {
  morvex::TMemoryStream stream{std::string(input)};
  morvex::TXmlDocument document = morvex::LoadXmlStream(stream);
  if (!morvex::HasDocumentElement(document.get())) {
    morvex::ParseErrorMessage(morvex::GetParseError(document.get()));
    return;
  }
  morvex::SelectNodes(document.get(), "//node()");
}

void LoadAsText(std::string_view input) {
  morvex::TXmlDocument document = morvex::LoadXmlText(input);
  morvex::GetParseError(document.get());
}

void TransformWith(std::string_view stylesheet) {
  morvex::TMemoryStream source{std::string(kSource)};
  morvex::TMemoryStream output;
  morvex::TXmlStreamOutput destination(output);
  const morvex::TTransformParameters parameters{{"p", std::string("a'b\"c"), ""}};
  morvex::TransformXml(morvex::TXmlSource{source}, morvex::TStylesheet::Text(stylesheet),
                       destination, parameters);
}

// Both readings of the expressions run, whatever the first gives.
void SelectWith(std::string_view expressions) {
  morvex::TMemoryStream source{std::string(kSource)};
  morvex::TMemoryStream output;
  morvex::TXmlStreamOutput destination(output);
  try {
    morvex::SelectXmlToDocument(source, destination, expressions, nullptr, "xmlns:m='urn:m'",
                                "xmlns:m='urn:m'", "");
  } catch (const std::exception&) {
  }
  morvex::EvaluateXPathText(morvex::TXmlSource{source}, expressions, "xmlns:m='urn:m'");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    switch (data[0] % 4) {
      case 0:
        LoadAsBytes(input);
        break;
      case 1:
        LoadAsText(input);
        break;
      case 2:
        TransformWith(input);
        break;
      default:
        SelectWith(input);
        break;
    }
  } catch (const std::exception&) {
    // A refused input is a clear error, which is what is asked of it.
  }
  return 0;
}
