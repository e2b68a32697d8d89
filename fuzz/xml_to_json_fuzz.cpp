// libFuzzer target for the reader behind XML to JSON: any bytes are read into
// the packed form, which is then written as JSON; the same bytes written
// while they are read must give the same text, or nothing when they need the
// whole value (a difference stops the run).
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/conversion_io.h"
#include "convert/json_writer.h"
#include "convert/xml_to_json.h"
#include "text/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  morvex::TMemoryStream stream(bytes);
  const auto document = morvex::XmlToJsonTree(stream);
  std::string text;
  if (document) morvex::AppendJsonText(*document, *document->Root(), true, text);

  morvex::TMemoryStream input(bytes);
  morvex::TMemoryStream written;
  morvex::TXTransformInfo options;
  options.Indent = true;
  bool onePass = false;
  {
    morvex::TConvertOutput output(morvex::TXSourceInfo{morvex::skStream, "out", "", &written});
    onePass = morvex::WriteJsonInOnePass(input, output, options);
  }
  // The one pass writes the byte-order mark of UTF-8 first.
  if (onePass && (!document || written.Data() != "\xEF\xBB\xBF" + text)) __builtin_trap();
  if (!onePass && !written.Data().empty()) __builtin_trap();
  return 0;
}
