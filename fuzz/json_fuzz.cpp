// libFuzzer target for the JSON reader and writer: any bytes are parsed; a
// value that parses is written compact and indented, and its compact text
// must parse again into the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/json_parser.h"
#include "convert/json_writer.h"
#include "text/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  morvex::TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
  std::string error;
  const auto document = morvex::ParseJsonInput(stream, &error);
  if (!document) {
    if (error.empty()) __builtin_trap();  // a failure always says why
    return 0;
  }
  std::string compact, indented;
  morvex::AppendJsonText(*document, *document->Root(), false, compact);
  morvex::AppendJsonText(*document, *document->Root(), true, indented);
  const auto again = morvex::ParseJsonText(compact);
  if (!again) __builtin_trap();
  std::string second;
  morvex::AppendJsonText(*again, *again->Root(), false, second);
  if (second != compact) __builtin_trap();
  return 0;
}
