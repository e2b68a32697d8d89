// Import of XML records into a database through a query template.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "convert/conversion_io.h"
#include "convert/record_import.h"
#include "convert/record_path.h"
#include "db/lsql_conn_helper.h"
#include "templates/template_tree.h"

namespace morvex {

// Reads `source` as XML in one SAX pass and runs the template `tree` once per record element (see
// TXMLSaxDBHelper), with the run's `parameters` and the record's pairs. Progress and summary lines
// as for ImportCsvRecords, after a warning for each "source$" name that no record had once every
// record was read (WarnUnprovidedNames). A document that is not well-formed raises the reader's
// message with line and column; a failing record raises "Record #<n>: "
// followed by the template's message.
void ImportXmlRecords(const TXSourceInfo& source, const TXTransformInfo& options,
                      const TTemplateTree& tree, const ProgressSink& progress,
                      TLSQLConnHelper& helper, const std::vector<std::string>& parameters);

// The event sink of the XML import: finds the record elements, gathers each
// record's values as pairs and runs the template when a record ends.
//
// Records: with a record tag (options.RecordTag, such as "order" or
// "orders/order"), every element whose path ends with "/" + the tag, at any
// depth. Without one, a root named morvex_data (the dataset layout) makes
// its "r" elements the records; any other root is passed over and its first
// child names the records. A record ends only with its own end tag.
//
// Values: each element inside a record is a value element named "source$"
// + its local name, a nested one "source$outer$inner". Its text (through
// FlattenText, lines joined with CR LF) is stored in the pair of that name;
// texts of repeated names are joined with CR LF. With options.FlatText a
// nested element's text goes to the pair of the outermost value element.
// A record without value elements has no pairs and still runs the template.
class TXMLSaxDBHelper {
 public:
  TXMLSaxDBHelper(const TXTransformInfo& options, const TTemplateTree& tree,
                  const std::vector<std::string>& parameters, TLSQLConnHelper& helper,
                  const ProgressSink& progress);

  void StartElement(std::string_view localName, std::string_view qName);
  void Characters(std::string_view chars);
  // Runs the template when a record ends; its failure is remembered as
  // LastError and raised again.
  void EndElement(std::string_view qName);

  // Warns of the "source$" names the statements use that no record so far
  // had (import_detail::WarnUnprovidedNames).
  void WarnUnprovidedNames() const;

  int64_t RecordCount() const { return recordCount_; }
  int64_t RowsAffected() const { return rowsAffected_; }
  // Records whose statements ran to their end.
  int64_t RecordsDone() const { return lastError_.empty() ? recordCount_ : failedRecord_ - 1; }
  const std::string& LastError() const { return lastError_; }
  // Waits for the statements queued for the records so far (after the
  // last record, or when the reader failed); a failure is remembered as
  // LastError. False on a failure.
  bool FlushRecords();

 private:
  void StoreValue();
  void RunRecord();
  [[noreturn]] void Fail(import_detail::TRecordFailure& failure);

  const TTemplateTree& tree_;
  TParameterValues parameters_;
  TLSQLConnHelper& helper_;
  const ProgressSink& progress_;
  bool flatText_;
  TRecordPath path_;
  bool inRecord_ = false;
  bool fieldOpen_ = false;
  size_t recordDepth_ = 0;  // length of the element path of the open record
  int64_t recordCount_ = 0;
  int64_t rowsAffected_ = 0;
  // The current record's pairs are the first pairCount_; the rest are the
  // previous record's, kept so that the same names in the same places reuse
  // their texts.
  TNameValuePairs pairs_;
  size_t pairCount_ = 0;
  bool samePlaces_ = true;  // each pair so far is in the previous record's place
  std::string namePath_;
  std::string text_;
  std::string lastError_;
  int64_t failedRecord_ = 0;
  // The value names the records had, as written and folded.
  std::vector<std::string> seenNames_;
  std::set<std::string> foldedNames_;
};

}  // namespace morvex
