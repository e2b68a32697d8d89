#include "convert/json_to_csv.h"

#include <algorithm>

#include "convert/json_parser.h"
#include "convert/json_path.h"
#include "convert/json_writer.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

namespace {

constexpr size_t kNoColumn = SIZE_MAX;

bool IsContainer(const TSuperObject& value) {
  return value.Kind == TJsonKind::Object || value.Kind == TJsonKind::Array;
}

std::string CellText(const TJsonDocument& document, const TSuperObject& value, bool flatText) {
  if (flatText && IsContainer(value)) return {};
  return JsonValueText(document, value);
}

// The columns of a set of records, found in a first pass: one per member
// name that some object record has with a value that is not null, in key
// order, then one per array position that some array record fills with a
// value that is not null, in ascending order.
class TJsonColumns {
 public:
  explicit TJsonColumns(const TJsonDocument& document) : document_(document) {}

  void Add(const TSuperObject& record) {
    const auto items = TJsonDocument::Children(record);
    for (size_t i = 0; i < items.size(); ++i) {
      const TSuperObject& item = items[i];
      if (item.Kind == TJsonKind::Null) continue;
      if (record.Kind == TJsonKind::Object) {
        if (item.Key >= columnOfKey_.size()) columnOfKey_.resize(item.Key + 1, kNoColumn);
        if (columnOfKey_[item.Key] == kNoColumn) {
          columnOfKey_[item.Key] = 0;
          keys_.push_back(item.Key);
          keyNames_.push_back(document_.KeyOf(item));
        }
      } else {
        if (i >= positions_.size()) positions_.resize(i + 1, TPosition::None);
        // The header names a position after the first value found there.
        if (positions_[i] == TPosition::None) {
          positions_[i] = IsContainer(item) ? TPosition::Container : TPosition::Value;
        }
      }
    }
  }

  // Orders the columns once every record is added; returns their names.
  std::vector<std::string> Finish() {
    std::vector<size_t> order(keys_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
      return CompareJsonKeys(keyNames_[a], keyNames_[b]) < 0;
    });
    std::vector<std::string> names;
    for (const size_t i : order) {
      columnOfKey_[keys_[i]] = names.size();
      names.emplace_back(keyNames_[i]);
    }
    columnOfPosition_.assign(positions_.size(), kNoColumn);
    for (size_t i = 0; i < positions_.size(); ++i) {
      if (positions_[i] == TPosition::None) continue;
      columnOfPosition_[i] = names.size();
      // Named by where the column stands in the line.
      const std::string number = std::to_string(names.size() + 1);
      names.push_back(positions_[i] == TPosition::Container ? "col_" + number : number);
    }
    return names;
  }

  // The column of a record's child that is not null.
  size_t ColumnOf(const TSuperObject& record, size_t index, const TSuperObject& item) const {
    return record.Kind == TJsonKind::Object ? columnOfKey_[item.Key] : columnOfPosition_[index];
  }

 private:
  enum class TPosition : uint8_t { None, Value, Container };
  const TJsonDocument& document_;
  std::vector<uint32_t> keys_;              // key ids, first seen first
  std::vector<std::string_view> keyNames_;  // their texts
  std::vector<size_t> columnOfKey_;         // by key id
  std::vector<TPosition> positions_;        // by array position
  std::vector<size_t> columnOfPosition_;
};

}  // namespace

void JsonToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& options, const ProgressSink& progress) {
  TConvertInput input(source);
  TConvertOutput output(destination);
  const std::unique_ptr<TJsonDocument> document = ReadJsonSource(input.Stream(), source.Location);

  const TSuperObject& root = *document->Root();
  const TSuperObject* rows = &root;
  if (!options.RecordTag.empty()) {
    rows = SelectJsonPath(*document, root, options.RecordTag);
  } else if (root.Kind == TJsonKind::Object && TJsonDocument::Children(root).size() == 1) {
    rows = &TJsonDocument::Children(root)[0];
  }
  std::span<const TSuperObject> records;
  if (rows != nullptr && IsContainer(*rows)) records = TJsonDocument::Children(*rows);

  TJsonColumns columns(*document);
  for (const TSuperObject& record : records) {
    if (IsContainer(record)) columns.Add(record);
  }
  const std::vector<std::string> header = columns.Finish();
  // Without a record tag, the member values of a root with several
  // members are the records; when none of them gives a cell, the records
  // are surely one level down.
  const size_t rootMembers = TJsonDocument::Children(root).size();
  if (header.empty() && options.RecordTag.empty() && rows == &root &&
      root.Kind == TJsonKind::Object && rootMembers > 1) {
    throw EMorvexError("record-tag is needed: the root holds " + std::to_string(rootMembers) +
                       " members");
  }

  TEncodedTextOutput text(output.Stream(), BeginEncodedOutput(output, options.Encoding));
  int64_t count = 0;
  std::string line;
  if (options.HeaderRow && !header.empty()) {
    AppendCsvLine(line, header, options.Delimiter, options.Quote);
    text.Append(line);
  }
  std::vector<std::string> cells(header.size());
  for (const TSuperObject& record : records) {
    if (!IsContainer(record)) continue;
    for (std::string& cell : cells) cell.clear();
    bool any = false;
    const auto items = TJsonDocument::Children(record);
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].Kind == TJsonKind::Null) continue;
      cells[columns.ColumnOf(record, i, items[i])] =
          CellText(*document, items[i], options.FlatText);
      any = true;
    }
    // A record with no value but null writes no line.
    if (!any) continue;
    line.clear();
    AppendCsvLine(line, cells, options.Delimiter, options.Quote);
    text.Append(line);
    ++count;
    ReportProgress(progress, count);
  }
  text.Flush();
  output.Close();
  if (progress) progress(std::to_string(count) + " record(s) processed.");
}

}  // namespace morvex
