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
// records and a summary line go to `progress`. Returns false with the
// message on any failure; an empty or unreadable source gives an empty
// message.
bool CsvToXml(const TConvertEndpoint& source, const TConvertEndpoint& destination,
              const TConvertOptions& options, const ProgressSink& progress, std::string& message);

}  // namespace morvex
