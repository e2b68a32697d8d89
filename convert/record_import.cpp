#include "convert/record_import.h"

#include <cstdint>
#include <set>

#include "db/driver.h"
#include "templates/parameter_names.h"
#include "templates/template_walk.h"
#include "text/case_fold.h"
#include "text/error.h"
#include "text/nearest_name.h"

namespace morvex {

namespace import_detail {

std::string RecordFailure(int64_t record, const char* message) {
  return "Record #" + std::to_string(record) + ": " + message;
}

void ReportSummary(const ProgressSink& progress, int64_t records, int64_t rows) {
  if (!progress) return;
  progress(std::to_string(records) + " record(s) processed.");
  progress(std::to_string(rows) + " record(s) affected.");
}

void ReportSummaryAfterFailure(const ProgressSink& progress, TLSQLConnHelper& helper,
                               int64_t records, int64_t rows) {
  if (helper.PhaseTransaction || (helper.Connection && helper.Connection->InTransaction())) {
    return;
  }
  ReportSummary(progress, records, rows);
}

namespace {

constexpr int64_t kFlushInterval = 10000;  // as the progress lines

bool HasSourcePrefix(std::string_view name) {
  return name.size() > kSourcePrefix.size() &&
         SameTextIgnoringCase(name.substr(0, kSourcePrefix.size()), kSourcePrefix);
}

// Adds the "source$" names that the main statements below `parent` (and
// their `test` conditions) use to `names`, each once; false when a statement
// is itself named "source", whose fields such names may mean.
bool CollectSourceNames(const TTemplateStatement& parent, const TLSQLConnHelper& helper,
                        std::vector<std::string>& names, std::set<std::string>& folded) {
  const auto add = [&](const std::string& name) {
    if (HasSourcePrefix(name) && folded.insert(FoldCase(name)).second) names.push_back(name);
  };
  for (const auto& child : parent.Children) {
    const TLSQLDataset* dataset = helper.DatasetOf(child->Index);
    if (!dataset) continue;
    if (SameTextIgnoringCase(child->Tag, "source")) return false;
    if (dataset->Phase == TPhase::Main) {
      for (int i = 0; i < dataset->ParamCount(); ++i) add(dataset->ParamName(i));
      for (const std::string& name : ExtractParameterNames(child->Test)) add(name);
    }
    if (!CollectSourceNames(*child, helper, names, folded)) return false;
  }
  return true;
}

}  // namespace

void WarnUnprovidedNames(const TTemplateTree& tree, const TLSQLConnHelper& helper,
                         const std::function<bool(std::string_view)>& provided,
                         const std::vector<std::string>& known, std::string_view what,
                         const ProgressSink& progress) {
  if (!progress) return;
  std::vector<std::string> names;
  std::set<std::string> folded;
  if (!CollectSourceNames(tree.Root(), helper, names, folded)) return;
  for (const std::string& name : names) {
    if (provided(name)) continue;
    std::string line(kWarningPrefix);
    line += ":" + name + " matches no ";
    line += what;
    const std::string nearest = NearestName(name.substr(kSourcePrefix.size()), known);
    line += nearest.empty() ? "." : " (did you mean " + nearest + "?)";
    progress(line);
  }
}

void ReportBlankLines(const ProgressSink& progress, int64_t blankLines) {
  if (progress && blankLines > 0) progress(std::to_string(blankLines) + " blank line(s) skipped.");
}

namespace {

// A queued statement's failure, as its own record and element would have
// failed when run at once.
TRecordFailure QueuedFailure(const EDbQueuedError& error, const TTemplateTree& tree) {
  const int64_t record = TLSQLConnHelper::QueuedRecord(error.Tag);
  const size_t statement = TLSQLConnHelper::QueuedStatement(error.Tag);
  const std::string message =
      (statement < tree.StatementCount() ? tree.Statement(statement).Tag + ": " : std::string()) +
      error.what();
  return {record, RecordFailure(record, message.c_str())};
}

}  // namespace

bool FlushRecords(const TTemplateTree& tree, TLSQLConnHelper& helper, int64_t record, int64_t& rows,
                  TRecordFailure& failure) {
  try {
    rows += helper.FlushQueue();
    return true;
  } catch (const EDbQueuedError& error) {
    failure = QueuedFailure(error, tree);
  } catch (const EMorvexError& error) {
    failure = {record, RecordFailure(record, error.what())};
  }
  return false;
}

bool RunRecord(const TTemplateTree& tree, const TParameterValues* parameters,
               const TNameValuePairs* pairs, const ProgressSink& progress, TLSQLConnHelper& helper,
               int64_t record, int64_t& rows, TRecordFailure& failure) {
  helper.QueueRecord = record;
  bool done = false;
  try {
    rows += ExecuteTemplate(tree.Root(), parameters, pairs, false, progress, helper);
    CloseTemplate(tree.Root(), false, helper);
    done = record % kFlushInterval != 0 || FlushRecords(tree, helper, record, rows, failure);
  } catch (const EDbQueuedError& error) {
    failure = QueuedFailure(error, tree);
  } catch (const EMorvexError& error) {
    failure = {record, RecordFailure(record, error.what())};
    // A queued statement of an earlier record that failed comes first; any
    // other failure of the wait is this record's.
    try {
      rows += helper.FlushQueue();
    } catch (const EDbQueuedError& queued) {
      failure = QueuedFailure(queued, tree);
    } catch (const EMorvexError&) {
    }
  }
  helper.QueueRecord = 0;
  return done;
}

}  // namespace import_detail

}  // namespace morvex
