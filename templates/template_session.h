// Query template sessions: one database connection per step, the template
// prepared into one dataset per statement element, the three phases run
// (after-open, main, before-close), everything closed and freed on every
// path. The walks over a prepared template are in templates/template_walk.h.
//
// Order of a session:
//   open the connection
//   build the template tree, PrepareTemplate
//   [after-open]   begin?  AfterOpen    ExecuteTemplate  close datasets  commit?
//   [main]         begin?  Main         execute-only walk | CSV | dataset XML
//                                       | importer       close datasets  commit?
//   [before-close] begin?  BeforeClose  ExecuteTemplate  close datasets  commit?
//   always:        free the datasets, roll back an open transaction, close
//                  the connection
// ("?": only with one-transaction.)
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/lsql_conn_helper.h"
#include "templates/dataset_writer.h"
#include "templates/template_tree.h"
#include "templates/template_walk.h"
#include "xml/element_view.h"

namespace morvex {

class TStream;

// The line after the message of an error that rolled back a phase's
// transaction.
inline constexpr std::string_view kPhaseRolledBack =
    "The transaction was rolled back: no record of this phase was stored.";

// Runs a whole query step: opens the connection (raises "Cannot connect to
// database!" or the driver's message), prepares the template under `root`,
// runs the after-open phase, then the main phase by
// `writes` (None: ExecuteTemplate and, with a sink and a total
// above 0, the line "<total> record(s) affected."; Csv: WriteDatasetCsv;
// DatasetXml: WriteDatasetXml onto `output`), then the before-close phase.
// With `oneTransaction` each phase runs in its own transaction, committed at
// its end; on any failure the open transaction is rolled back, so nothing of
// the failing phase stays, and the error's message gets a second line that
// says so (kPhaseRolledBack). The datasets and the connection are released on
// every path; errors propagate as EMorvexError.
// `parametersElement` holds the typed parameter declarations (may be no
// element); `parameters` are the run's "name=value" entries.
void RunQueryTemplate(const std::string& connectionString, bool oneTransaction,
                      TQueryOutputKind writes, const TXTransformInfo& transform,
                      const ProgressSink& sink, TStream& output, TXmlElement parametersElement,
                      const std::vector<std::string>& parameters, TXmlElement root);

// Reads the import input and runs the template once per record through
// ExecuteTemplate (pairs or a record list, report flag clear) followed by
// CloseTemplate(tree.Root(), false). The caller picks the importer by the
// transform kind (Csv: CSV records, otherwise XML records).
using TTemplateImporter = std::function<void(TLSQLConnHelper& helper, const TTemplateTree& tree)>;

// The session of RunQueryTemplate around `importer` in the main phase, on a
// connection to the destination database. Raises EMorvexError when no
// importer is given.
void RunImportSession(const std::string& connectionString, bool oneTransaction,
                      const ProgressSink& sink, TXmlElement parametersElement,
                      const std::vector<std::string>& parameters, TXmlElement root,
                      const TTemplateImporter& importer);

}  // namespace morvex
