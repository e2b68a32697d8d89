// libFuzzer target for the CSV reader: any bytes, read with two dialects.
// Every record must come out (or the reader refuses the input with its
// error), and no input may crash, hang or leak.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/csv_table.h"
#include "text/error.h"
#include "text/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const auto& [delimiter, quote] : {std::pair{";", "\""}, std::pair{"\t", " ' "}}) {
    morvex::TMemoryStream stream(bytes);
    morvex::TCsvReader reader(stream, delimiter, quote);
    std::vector<std::string> cells;
    size_t records = 0;
    try {
      while (reader.Next(cells)) {
        if (cells.empty()) __builtin_trap();  // every record has a cell
        ++records;
      }
    } catch (const morvex::EMorvexError&) {
      // A quoted value never closed: refused with a message.
    }
    if (records > size + 1) __builtin_trap();
    if (reader.ReplacedValueCount() > static_cast<int64_t>(size)) __builtin_trap();
  }
  return 0;
}
