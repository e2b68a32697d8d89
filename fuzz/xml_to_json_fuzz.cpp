// libFuzzer target for the reader behind XML to JSON: any bytes are read into
// the packed form, which is then written as JSON.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/json_writer.h"
#include "convert/xml_to_json.h"
#include "text/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  morvex::TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
  const auto document = morvex::XmlToJsonTree(stream);
  if (!document) return 0;
  std::string text;
  morvex::AppendJsonText(*document, *document->Root(), true, text);
  return 0;
}
