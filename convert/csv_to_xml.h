// CSV to dataset XML: a root, wrapper elements, one record element per data
// row and one element per column, named from the header row.
#pragma once

#include <string>

#include "convert/conversion_io.h"

namespace morvex {

// Reads the CSV source twice (first for the widest row, then to write), so
// that no table of cells is held; the XML goes through the streaming writer.
// Options: Delimiter, Quote, HeaderRow, RecordTag ("root/wrapper.../record"),
// Encoding, Indent, Namespaces (root attributes). Progress lines every 10000
// records and a summary line go to `progress`. Raises EMorvexError on any
// failure; an empty source gives kEmptyCsvMessage and an unreadable one an
// empty message.
void CsvToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& options, const ProgressSink& progress);

}  // namespace morvex
