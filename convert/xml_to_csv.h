// XML to CSV in one streaming SAX pass: one CSV line per record element, one
// cell per child element of the record, in document order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "convert/conversion_io.h"
#include "convert/record_path.h"

namespace morvex {

// The event sink of one conversion. The record elements are found as the XML
// import finds them (TRecordPath): those whose path ends with "/" + RecordTag;
// without a record tag the r elements under a morvex_data root, or else the
// elements named like the root's first child. Cells are enclosed in the quote text with quotes
// inside doubled, joined by the delimiter text; lines end in CR LF. The header line (the first
// record's column names) is written just before the first record.
class TXMLSaxCSVHelper {
 public:
  TXMLSaxCSVHelper(TEncodedTextOutput& output, const TConvertOptions& options,
                   const ProgressSink& progress);

  void StartElement(std::string_view localName, std::string_view qName);
  void Characters(std::string_view chars);
  void EndElement(std::string_view qName);

  int64_t RecordCount() const { return recordCount_; }

 private:
  TEncodedTextOutput& output_;
  const ProgressSink& progress_;
  bool headerPending_;
  std::string quote_;
  std::string delimiter_;
  bool flatText_;
  TRecordPath path_;
  std::string columnName_;
  bool inRecord_ = false;
  bool inColumn_ = false;
  bool collecting_ = false;
  bool firstColumn_ = false;
  std::string cellText_;
  std::string line_;
  int64_t recordCount_ = 0;
  std::string header_;
};

// Options: RecordTag, HeaderRow, Delimiter, Quote, FlatText, Encoding (of the
// CSV, whose byte-order mark is written first). Returns false with the
// message on any failure (a parse error names line and column).
bool XmlToCsv(const TConvertEndpoint& source, const TConvertEndpoint& destination,
              const TConvertOptions& options, const ProgressSink& progress, std::string& message);

}  // namespace morvex
