// Import of CSV records into a database through a query template.
#pragma once

#include <string>
#include <vector>

#include "convert/conversion_io.h"
#include "db/lsql_conn_helper.h"
#include "templates/template_tree.h"

namespace morvex {

// Reads `source` as CSV (options.Delimiter, Quote, HeaderRow) and runs the
// template `tree` once per data row. Column i (from 1) is offered as
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
void ImportCsvRecords(const TXSourceInfo& source, const TXTransformInfo& options,
                      const TTemplateTree& tree, const ProgressSink& progress,
                      TLSQLConnHelper& helper, const std::vector<std::string>& parameters);

}  // namespace morvex
