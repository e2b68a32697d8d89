#include "convert/record_import.h"

#include <algorithm>
#include <memory>

#include "convert/csv_table.h"
#include "convert/xml_names.h"
#include "db/driver.h"
#include "db/parameter_entries.h"
#include "templates/template_walk.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/xml_nodes.h"

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
  if (helper.Connection && helper.Connection->InTransaction()) return;
  ReportSummary(progress, records, rows);
}

namespace {

constexpr int64_t kFlushInterval = 10000;  // as the progress lines

// A queued statement's failure, as its own record and element would have
// failed when run at once.
TRecordFailure QueuedFailure(const EDbQueuedError& error, const TLSQLConnHelper& helper) {
  const int64_t record = TLSQLConnHelper::QueuedRecord(error.Tag);
  const _xmlNode* element = helper.QueuedElement(error.Tag);
  const std::string message = (element ? TagName(element) + ": " : std::string()) + error.what();
  return {record, RecordFailure(record, message.c_str())};
}

}  // namespace

bool FlushRecords(TLSQLConnHelper& helper, int64_t record, int64_t& rows, TRecordFailure& failure) {
  try {
    rows += helper.FlushQueue();
    return true;
  } catch (const EDbQueuedError& error) {
    failure = QueuedFailure(error, helper);
  } catch (const EMorvexError& error) {
    failure = {record, RecordFailure(record, error.what())};
  }
  return false;
}

bool RunRecord(_xmlNode* root, const std::vector<std::string>* parameters,
               const TNameValuePairs* pairs, const ProgressSink& progress, TLSQLConnHelper& helper,
               int64_t record, int64_t& rows, TRecordFailure& failure) {
  helper.QueueRecord = record;
  bool done = false;
  try {
    rows += ExecuteTemplate(root, parameters, pairs, false, progress, helper);
    CloseTemplate(root, false, helper);
    done = record % kFlushInterval != 0 || FlushRecords(helper, record, rows, failure);
  } catch (const EDbQueuedError& error) {
    failure = QueuedFailure(error, helper);
  } catch (const EMorvexError& error) {
    failure = {record, RecordFailure(record, error.what())};
    // A queued statement of an earlier record that failed comes first; any
    // other failure of the wait is this record's.
    try {
      rows += helper.FlushQueue();
    } catch (const EDbQueuedError& queued) {
      failure = QueuedFailure(queued, helper);
    } catch (const EMorvexError&) {
    }
  }
  helper.QueueRecord = 0;
  return done;
}

}  // namespace import_detail

namespace {

using import_detail::RecordFailure;

// The names a CSV record is offered under, the same for every record.
struct TCsvRecordNames {
  // Per column: the header name ("source$" + name, or empty) and the number name.
  std::vector<std::pair<std::string, std::string>> Columns;
  // The run's parameter entries that no column name hides, in list order.
  std::vector<const std::string*> Extra;
};

TCsvRecordNames RecordNames(const std::vector<std::string>* header, size_t width,
                            const std::vector<std::string>& parameters) {
  TCsvRecordNames names;
  std::vector<std::string> listed;  // "name=" entries, for the case-blind lookup
  for (size_t i = 0; i < width; ++i) {
    std::string headerName;
    if (header) {
      const std::string name = MakeXmlName((*header)[i]);
      if (!name.empty()) {
        headerName = "source$" + name;
        listed.push_back(headerName + "=");
      }
    }
    std::string numberName = "source$" + std::to_string(i + 1);
    listed.push_back(numberName + "=");
    names.Columns.emplace_back(std::move(headerName), std::move(numberName));
  }
  for (const std::string& entry : parameters) {
    const std::string_view name = std::string_view(entry).substr(0, entry.find('='));
    if (FindParameterEntry(listed, name)) continue;
    listed.push_back(entry);
    names.Extra.push_back(&entry);
  }
  return names;
}

void AppendEntry(std::vector<std::string>& list, size_t& used, const std::string& name,
                 const std::string& value) {
  if (used == list.size()) list.emplace_back();
  std::string& entry = list[used++];
  entry.assign(name);
  entry += '=';
  entry += value;
}

}  // namespace

void ImportCsvRecords(const TConvertEndpoint& source, const TConvertOptions& options,
                      _xmlNode* root, const ProgressSink& progress, TLSQLConnHelper& helper,
                      const std::vector<std::string>& parameters) {
  // An empty or unreadable input fails with an empty message, as the CSV
  // conversions do.
  std::unique_ptr<TConvertInput> input;
  try {
    input = std::make_unique<TConvertInput>(source);
  } catch (const EMorvexError&) {
    throw EMorvexError("");
  }
  std::unique_ptr<TStream> copy;
  TCsvReader reader(SeekableInput(input->Stream(), copy), options.Delimiter, options.Quote);
  std::vector<std::string> cells;
  size_t width = 0;
  int64_t rows = 0;
  while (reader.Next(cells)) {
    width = std::max(width, cells.size());
    ++rows;
  }
  if (rows == 0) throw EMorvexError("");
  reader.Rewind();

  TCsvRecordNames names;
  if (options.HeaderRow) {
    reader.Next(cells);
    cells.resize(width);
    names = RecordNames(&cells, width, parameters);
  } else {
    names = RecordNames(nullptr, width, parameters);
  }

  std::vector<std::string> list;
  int64_t count = 0;
  int64_t affected = 0;
  import_detail::TRecordFailure failure;
  while (reader.Next(cells)) {
    cells.resize(width);
    ++count;
    size_t used = 0;
    for (size_t i = 0; i < width; ++i) {
      const auto& [headerName, numberName] = names.Columns[i];
      if (!headerName.empty()) AppendEntry(list, used, headerName, cells[i]);
      AppendEntry(list, used, numberName, cells[i]);
    }
    for (const std::string* entry : names.Extra) {
      if (used == list.size()) list.emplace_back();
      list[used++].assign(*entry);
    }
    list.resize(used);
    if (!import_detail::RunRecord(root, &list, nullptr, progress, helper, count, affected,
                                  failure)) {
      break;
    }
    ReportProgress(progress, count);
  }
  if (failure.Record == 0 && import_detail::FlushRecords(helper, count, affected, failure)) {
    import_detail::ReportSummary(progress, count, affected);
    return;
  }
  import_detail::ReportSummaryAfterFailure(progress, helper, failure.Record - 1, affected);
  throw EMorvexError(failure.Message);
}

}  // namespace morvex
