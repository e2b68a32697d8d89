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
    try {
      affected += ExecuteTemplate(root, &list, nullptr, false, progress, helper);
    } catch (const EMorvexError& error) {
      import_detail::ReportSummaryAfterFailure(progress, helper, count - 1, affected);
      throw EMorvexError(RecordFailure(count, error.what()));
    }
    CloseTemplate(root, false, helper);
    ReportProgress(progress, count);
  }
  import_detail::ReportSummary(progress, count, affected);
}

}  // namespace morvex
