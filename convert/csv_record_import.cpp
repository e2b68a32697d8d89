#include "convert/csv_record_import.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "convert/csv_bulk_insert.h"
#include "convert/csv_table.h"
#include "convert/record_import.h"
#include "convert/xml_names.h"
#include "db/parameter_entries.h"
#include "templates/parameter_names.h"
#include "text/case_fold.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

namespace {

using import_detail::kSourcePrefix;
using import_detail::RecordFailure;

// The names of each column: "source$" + the header cell through
// MakeXmlName (none when that is empty), then "source$" + its number.
std::vector<std::vector<std::string>> ColumnNames(const std::vector<std::string>* header,
                                                  size_t width) {
  std::vector<std::vector<std::string>> names(width);
  for (size_t i = 0; i < width; ++i) {
    if (header) {
      const std::string name = MakeXmlName((*header)[i]);
      if (!name.empty()) names[i].push_back(std::string(kSourcePrefix) + name);
    }
    names[i].push_back(std::string(kSourcePrefix) + std::to_string(i + 1));
  }
  return names;
}

// A header cell also names its column as written ("source$Město" beside
// the element name "source$M_sto"), after every other column name, so that
// it never hides one. The names a misspelt one is compared with are the
// element names.
std::vector<std::string> AddHeaderTexts(const std::vector<std::string>& header,
                                        TParameterValues& list) {
  std::vector<std::string> known;
  for (size_t i = 0; i < header.size(); ++i) {
    const std::string name = MakeXmlName(header[i]);
    if (!name.empty()) known.push_back(name);
    if (!header[i].empty() && !SameTextIgnoringCase(header[i], name)) {
      list.AddColumnName(std::string(kSourcePrefix) + header[i], static_cast<int>(i));
    }
  }
  return known;
}

bool IsBlankRecord(const std::vector<std::string>& cells) {
  return std::all_of(cells.begin(), cells.end(), [](const std::string& c) { return c.empty(); });
}

// N when `name` is the number name of column N ("source$N" in any letter
// case), otherwise 0; SIZE_MAX for a number too long to hold.
size_t ColumnNumber(std::string_view name) {
  const std::string folded = FoldCase(name);
  const std::string_view text = folded;
  if (!text.starts_with(kSourcePrefix) || text.size() == kSourcePrefix.size()) return 0;
  const std::string_view digits = text.substr(kSourcePrefix.size());
  if (digits.front() == '0') return 0;
  size_t number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    if (number > (SIZE_MAX - 9) / 10) return SIZE_MAX;
    number = number * 10 + static_cast<size_t>(c - '0');
  }
  return number;
}

// The highest column number that a statement below `parent` or its `test`
// names; 0 when none names a column by number.
size_t HighestColumnNumber(const TTemplateStatement& parent, const TLSQLConnHelper& helper) {
  size_t highest = 0;
  for (const auto& child : parent.Children) {
    if (const TLSQLDataset* dataset = helper.DatasetOf(child->Index)) {
      for (int i = 0; i < dataset->ParamCount(); ++i) {
        highest = std::max(highest, ColumnNumber(dataset->ParamName(i)));
      }
      for (const std::string& name : ExtractParameterNames(child->Test)) {
        highest = std::max(highest, ColumnNumber(name));
      }
    }
    highest = std::max(highest, HighestColumnNumber(*child, helper));
  }
  return highest;
}

}  // namespace

void ImportCsvRecords(const TXSourceInfo& source, const TXTransformInfo& options,
                      const TTemplateTree& tree, const ProgressSink& progress,
                      TLSQLConnHelper& helper, const std::vector<std::string>& parameters) {
  // An input that cannot be opened fails with an empty message, an empty
  // one with kEmptyCsvMessage, as the CSV conversions do.
  std::unique_ptr<TConvertInput> input;
  try {
    input = std::make_unique<TConvertInput>(source);
  } catch (const EMorvexError&) {
    throw EMorvexError("");
  }
  // Every row has as many columns as the widest one, shorter rows being
  // filled with empty cells. Which row is the widest matters only to a
  // statement that names a column by a number beyond the first row's width
  // (the name would otherwise be a run parameter's, or an element
  // reference): only then is the input read twice, first for the widest row.
  // Header names exist only for the first row's cells, so they never depend
  // on it.
  const size_t highest = HighestColumnNumber(tree.Root(), helper);
  std::unique_ptr<TStream> copy;
  TStream& stream = highest > 0 ? SeekableInput(input->Stream(), copy) : input->Stream();
  TCsvReader reader(stream, options.Delimiter, options.Quote, source.Encoding);
  std::vector<std::string> cells;
  if (!reader.Next(cells)) throw EMorvexError(kEmptyCsvMessage);
  size_t width = cells.size();
  if (highest > width) {
    while (reader.Next(cells)) width = std::max(width, cells.size());
    reader.Rewind();
    reader.Next(cells);
  }
  cells.resize(width);
  TParameterValues list(ColumnNames(options.HeaderRow ? &cells : nullptr, width), &parameters);
  std::vector<std::string> known;
  if (options.HeaderRow) known = AddHeaderTexts(cells, list);

  int64_t count = 0;
  int64_t affected = 0;
  // Blank lines (records whose cells are all empty) would be records of
  // Nulls: they are skipped and counted.
  int64_t blankLines = 0;
  import_detail::TRecordFailure failure;
  const auto runRecord = [&](const std::vector<std::string>& record, int64_t number) {
    list.SetCells(record);
    if (!import_detail::RunRecord(tree, &list, nullptr, progress, helper, number, affected,
                                  failure)) {
      return false;
    }
    ReportProgress(progress, number);
    return true;
  };
  const std::unique_ptr<TCsvBulkInsert> bulk = TCsvBulkInsert::Open(tree, helper, list);
  bool firstIsData = !options.HeaderRow;
  while (true) {
    if (!firstIsData) {
      bool more = false;
      try {
        more = reader.Next(cells);
      } catch (const EMorvexError& error) {
        // The records before it come first.
        if (bulk && !bulk->Send(count, affected, runRecord, progress)) break;
        failure = {count + 1, error.what()};
        // A statement queued for an earlier record may have failed first.
        import_detail::FlushRecords(tree, helper, count, affected, failure);
        break;
      }
      if (!more) break;
    }
    firstIsData = false;
    if (IsBlankRecord(cells)) {
      ++blankLines;
      continue;
    }
    if (count == 0) {
      // The names are known from the header, but only a record binds them.
      import_detail::WarnUnprovidedNames(
          tree, helper,
          [&list](std::string_view name) { return list.Find(name) != TParameterValues::kNoSlot; },
          known, "column", progress);
    }
    cells.resize(width);
    ++count;
    if (!bulk) {
      if (!runRecord(cells, count)) break;
      continue;
    }
    list.SetCells(cells);
    bulk->Add(cells, list);
    if (count % import_detail::kFlushInterval == 0 &&
        !bulk->Send(count, affected, runRecord, progress))
      break;
  }
  if (failure.Record == 0 && bulk) bulk->Send(count, affected, runRecord, progress);
  if (failure.Record == 0 && import_detail::FlushRecords(tree, helper, count, affected, failure)) {
    const std::string warning = reader.ReplacedValuesWarning();
    if (!warning.empty() && progress) progress(warning);
    import_detail::ReportBlankLines(progress, blankLines);
    import_detail::ReportSummary(progress, count, affected);
    return;
  }
  import_detail::ReportSummaryAfterFailure(progress, helper, failure.Record - 1, affected);
  throw EMorvexError(failure.Message);
}

}  // namespace morvex
