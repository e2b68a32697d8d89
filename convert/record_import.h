// What the CSV and the XML import of records into a database share. Each
// importer streams through its input and runs the template's main
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
#include <string>
#include <string_view>
#include <vector>

#include "convert/conversion_io.h"
#include "db/lsql_conn_helper.h"
#include "db/parameter_entries.h"
#include "templates/template_tree.h"

namespace morvex {

namespace import_detail {

// The prefix of the names record values go by.
inline constexpr std::string_view kSourcePrefix = "source$";

// A record whose statements failed: its number and "Record #<n>: ...".
struct TRecordFailure {
  int64_t Record = 0;
  std::string Message;
};

// The message of a record whose statements failed: "Record #<n>: " + message.
std::string RecordFailure(int64_t record, const char* message);

// Warns of each "source$" name that the main statements of `tree` (or
// their `test` conditions) use and that `provided` does not know: it would
// bind Null for every record. One line per name, "Warning: :source$x
// matches no <what>", followed by " (did you mean <name>?)" when one of
// `known` is near, else by ".". Nothing when a statement is named "source"
// (its fields go by such names).
void WarnUnprovidedNames(const TTemplateTree& tree, const TLSQLConnHelper& helper,
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

// Runs the template `tree` for record number `record` and closes it;
// statements that only change data are queued where the driver can (see
// TLSQLConnHelper::QueueRecord), and the queue is waited for every 10000
// records. Adds the rows affected to `rows`. On a failure returns false with
// `failure` naming the record it belongs to: an earlier record whose queued
// statement failed comes before this one.
bool RunRecord(const TTemplateTree& tree, const TParameterValues* parameters,
               const TNameValuePairs* pairs, const ProgressSink& progress, TLSQLConnHelper& helper,
               int64_t record, int64_t& rows, TRecordFailure& failure);

// Waits for the queued statements, adding the rows they affected to `rows`;
// false with `failure` set when one failed (or the wait failed: then it is
// given to `record`). A failed statement is named by its tag in `tree`.
bool FlushRecords(const TTemplateTree& tree, TLSQLConnHelper& helper, int64_t record, int64_t& rows,
                  TRecordFailure& failure);

}  // namespace import_detail

}  // namespace morvex
