// XML to CSV in streaming SAX passes: one CSV line per record element, each
// child element's text under its own column. Memory holds the column names
// and one record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "convert/conversion_io.h"
#include "convert/record_path.h"

namespace morvex {

// The event sink of one conversion. The record elements are found as the XML
// import finds them (TRecordPath): those whose path ends with "/" + RecordTag;
// without a record tag the r elements under a morvex_data root, or else the
// elements named like the root's first child. A record's child elements are
// its cells. The columns are the child elements' qualified names in the
// order they are first seen over all records (the first record's order, new
// names after it); a name that one record repeats has a column for each
// occurrence, so "<a>1</a><a>2</a>" fills the first and second "a" columns.
// Every line has one cell per column, empty where the record lacks it.
// Cells are enclosed in the quote text with quotes inside doubled, joined by
// the delimiter text; lines end in CR LF. With HeaderRow the column names
// (local names) make a header line, written just before the first record.
class TXMLSaxCSVHelper {
 public:
  TXMLSaxCSVHelper(const TXTransformInfo& options, const ProgressSink& progress);

  // Starts a pass over the document from its beginning. Every pass learns
  // columns; with `output` it writes the lines too, with the columns known
  // when its first record ends, until a later record brings a new column:
  // then the lines written are stale and the pass goes on only learning.
  // Progress lines are not repeated by a later pass.
  void BeginPass(TEncodedTextOutput* output);
  // True when the last writing pass met a column after its first line.
  bool Stale() const { return stale_; }

  void StartElement(std::string_view localName, std::string_view qName);
  void Characters(std::string_view chars);
  void EndElement(std::string_view qName);

  // The records ended in the current pass.
  int64_t RecordCount() const { return recordCount_; }

 private:
  struct TNameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };

  void StartRecord();
  size_t ColumnFor(std::string_view localName, std::string_view qName);
  size_t NameId(std::string_view qName);
  void WriteRecord();

  TEncodedTextOutput* output_ = nullptr;  // null while only learning
  const ProgressSink& progress_;
  bool headerRow_;
  bool headerPending_ = false;
  std::string quote_;
  std::string delimiter_;
  bool flatText_;
  std::string recordTag_;
  TRecordPath path_;
  bool stale_ = false;
  bool lineWritten_ = false;  // in this pass
  int64_t reported_ = 0;      // the highest count a progress line was given for
  bool inRecord_ = false;
  bool inColumn_ = false;
  bool collecting_ = false;
  std::string columnName_;  // qualified name of the column element being read
  size_t column_ = 0;       // its column
  std::string cellText_;
  int64_t recordCount_ = 0;

  // Column names in first-seen order (local names, for the header).
  std::vector<std::string> header_;
  // Distinct qualified names, each with its columns by occurrence.
  std::vector<std::string> names_;
  std::unordered_map<std::string, size_t, TNameHash, std::equal_to<>> nameIds_;
  std::vector<std::vector<size_t>> columnsOfName_;
  std::vector<uint32_t> seen_;         // per name: occurrences in this record
  std::vector<size_t> recordNames_;    // names of this record's cells, in order
  std::vector<size_t> previousNames_;  // the last record's: records mostly repeat it
  std::vector<std::string> cells_;     // the second pass's record, one per column
  std::string line_;
};

// Options: RecordTag, HeaderRow, Delimiter, Quote, FlatText, Encoding (of the
// CSV, whose byte-order mark is written first). The lines are written in a
// first pass; when a record brings a column after the first line, and
// always when the output cannot be taken back (a pipe, a device), the
// columns are learnt in a first pass and the lines written in a second.
// Input that cannot seek (a pipe) is kept in a temporary file. Raises
// EMorvexError on any failure (a parse error names line and
// column; the records before it are written).
void XmlToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& options, const ProgressSink& progress);

}  // namespace morvex
