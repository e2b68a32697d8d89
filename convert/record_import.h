// Import of CSV and XML records into a database through a query template.
// Each importer streams through its input and runs the template's main
// statements once per record (ExecuteTemplate with the report flag clear,
// then CloseTemplate without freeing). The template session around it owns
// the connection, the prepared statements and the transaction; an importer
// owns only its reader.
//
// Record values reach the statements under names beginning with "source$":
// CSV values as entries of a per-record parameter list, XML values as
// (name, value) pairs beside the run's parameters.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "convert/conversion_io.h"
#include "convert/record_path.h"
#include "db/lsql_conn_helper.h"

struct _xmlNode;

namespace morvex {

// Reads `source` as CSV (options.Delimiter, Quote, HeaderRow) and runs the
// template under `root` once per data row. Column i (from 1) is offered as
// "source$i" and, with a header row, also as "source$" + MakeXmlName of its
// header cell (header name first; none when that name is empty) and, after
// all of those, as "source$" + the header cell as written ("source$Město"
// beside "source$M_sto"). The run's `parameters` follow, except those whose
// name (ignoring case) a column already has. Rows shorter than the widest
// one have empty cells, which bind as Null like any empty parameter; a row
// whose cells are all empty (a blank line) is skipped. The input is never
// held whole: it is read once, or twice (first for the widest row) when a
// statement or `test` names a column by a number beyond the first row's
// width.
//
// With a sink: before the first record a warning for each "source$" name
// that no column has (WarnUnprovidedNames); "<n> records processed ..."
// every 10000 records,
// then "<n> blank line(s) skipped." when there were any, "<n> record(s)
// processed." and "<n> record(s) affected.", also for a table without data
// rows. An empty or unreadable input raises EMorvexError with
// an empty message. A failing record raises "Record #<n>: " followed by the
// template's message; the records before it were run (the summary lines
// then count them, unless a transaction is open, which the session rolls
// back).
void ImportCsvRecords(const TXSourceInfo& source, const TXTransformInfo& options, _xmlNode* root,
                      const ProgressSink& progress, TLSQLConnHelper& helper,
                      const std::vector<std::string>& parameters);

// Reads `source` as XML in one SAX pass and runs the template under `root`
// once per record element (see TXMLSaxDBHelper), with the run's
// `parameters` and the record's pairs. Progress and summary lines as for
// ImportCsvRecords, after a warning for each "source$" name that no record
// had once every record was read (WarnUnprovidedNames). A document that is
// not well-formed raises the reader's
// message with line and column; a failing record raises "Record #<n>: "
// followed by the template's message.
void ImportXmlRecords(const TXSourceInfo& source, const TXTransformInfo& options, _xmlNode* root,
                      const ProgressSink& progress, TLSQLConnHelper& helper,
                      const std::vector<std::string>& parameters);

namespace import_detail {

// A record whose statements failed: its number and "Record #<n>: ...".
struct TRecordFailure {
  int64_t Record = 0;
  std::string Message;
};

}  // namespace import_detail

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
  TXMLSaxDBHelper(const TXTransformInfo& options, _xmlNode* root,
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

  _xmlNode* root_;
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

namespace import_detail {

// The message of a record whose statements failed: "Record #<n>: " + message.
std::string RecordFailure(int64_t record, const char* message);

// Warns of each "source$" name that the main statements under `root` (or
// their `test` conditions) use and that `provided` does not know: it would
// bind Null for every record. One line per name, "Warning: :source$x
// matches no <what>", followed by " (did you mean <name>?)" when one of
// `known` is near, else by ".". Nothing when a statement element is named
// "source" (its fields go by such names).
void WarnUnprovidedNames(const _xmlNode* root, const TLSQLConnHelper& helper,
                         const std::function<bool(std::string_view)>& provided,
                         const std::vector<std::string>& known, std::string_view what,
                         const ProgressSink& progress);

// "<n> blank line(s) skipped." when n is above 0.
void ReportBlankLines(const ProgressSink& progress, int64_t blankLines);

// The two closing lines: "<records> record(s) processed." and
// "<rows> record(s) affected.".
void ReportSummary(const ProgressSink& progress, int64_t records, int64_t rows);

// After a failure: the closing lines counting the records that stay, unless
// a transaction is open (the session rolls it back, so none stays).
void ReportSummaryAfterFailure(const ProgressSink& progress, TLSQLConnHelper& helper,
                               int64_t records, int64_t rows);

// Runs the template under `root` for record number `record` and closes it;
// statements that only change data are queued where the driver can (see
// TLSQLConnHelper::QueueRecord), and the queue is waited for every 10000
// records. Adds the rows affected to `rows`. On a failure returns false with
// `failure` naming the record it belongs to: an earlier record whose queued
// statement failed comes before this one.
bool RunRecord(_xmlNode* root, const TParameterValues* parameters, const TNameValuePairs* pairs,
               const ProgressSink& progress, TLSQLConnHelper& helper, int64_t record, int64_t& rows,
               TRecordFailure& failure);

// Waits for the queued statements, adding the rows they affected to `rows`;
// false with `failure` set when one failed (or the wait failed: then it is
// given to `record`).
bool FlushRecords(TLSQLConnHelper& helper, int64_t record, int64_t& rows, TRecordFailure& failure);

}  // namespace import_detail

}  // namespace morvex
