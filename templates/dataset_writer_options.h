// What a query step's transform asks of the query output: which writer runs
// and the options of the dataset XML and CSV writers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace morvex {

// Receives one progress or summary line per call (shown at the detail level),
// or a warning line starting with "Warning: " (shown always); an empty sink
// means no lines at all.
using ProgressSink = std::function<void(const std::string&)>;

// Which output a query step produces: nothing (the statements only run and
// their rows affected are counted), CSV text (transform kinds "csv" and
// "xml/csv"), or a dataset XML document (every other transform kind). For
// the import session, Csv chooses the CSV importer and anything else the XML
// importer.
enum class TQueryOutputKind : uint8_t { None, DatasetXml, Csv };

struct TDatasetWriterOptions {
  TQueryOutputKind TransformKind = TQueryOutputKind::None;
  std::string Encoding = "utf-8";  // XML: document encoding; CSV: code page of the text
  bool Indent = false;             // XML
  std::string RecordTag;           // XML: root[/wrapper...]/record element names
  std::string Namespaces;          // XML: name='value' attributes of the root element
  bool IncludeParams = true;       // XML: write the run's parameters in morvex_params
  std::string Delimiter = ";";     // CSV
  std::string Quote = "\"";        // CSV
  bool HeaderRow = true;           // CSV
};

}  // namespace morvex
