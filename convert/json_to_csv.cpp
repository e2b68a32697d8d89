#include "convert/json_to_csv.h"

#include "convert/json_parser.h"
#include "convert/json_path.h"
#include "convert/json_writer.h"
#include "templates/field_text.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

namespace {

bool IsContainer(const TSuperObject& value) {
  return value.Kind == TJsonKind::Object || value.Kind == TJsonKind::Array;
}

std::string CellText(const TJsonDocument& document, const TSuperObject& value, bool flatText) {
  if (flatText && IsContainer(value)) return {};
  return JsonValueText(document, value);
}

// Appends the record's header or data cells to `line`; false when the
// record has no cells.
bool AppendRecord(const TJsonDocument& document, const TSuperObject& record, bool header,
                  const TConvertOptions& options, std::string& line) {
  if (!IsContainer(record)) return false;
  int cells = 0;
  for (const TSuperObject& item : TJsonDocument::Children(record)) {
    if (item.Kind == TJsonKind::Null) continue;
    ++cells;
    if (cells > 1) line += options.Delimiter;
    std::string text;
    if (!header) {
      text = CellText(document, item, options.FlatText);
    } else if (record.Kind == TJsonKind::Object) {
      text = document.KeyOf(item);
    } else {
      text = (IsContainer(item) ? "col_" : "") + std::to_string(cells);
    }
    AppendCsvQuoted(line, text, options.Quote);
  }
  return cells > 0;
}

}  // namespace

bool JsonToCsv(const TConvertEndpoint& source, const TConvertEndpoint& destination,
               const TConvertOptions& options, const ProgressSink& progress, std::string& message) {
  return RunConversion(message, [&] {
    TConvertInput input(source);
    TConvertOutput output(destination);
    const std::unique_ptr<TJsonDocument> document = ReadJsonSource(input.Stream(), source.Location);
    const TEncoding& encoding = BeginEncodedOutput(output, options.Encoding);

    const TSuperObject& root = *document->Root();
    const TSuperObject* rows = &root;
    if (!options.RecordTag.empty()) {
      rows = SelectJsonPath(*document, root, options.RecordTag);
    } else if (root.Kind == TJsonKind::Object && TJsonDocument::Children(root).size() == 1) {
      rows = &TJsonDocument::Children(root)[0];
    }

    TEncodedTextOutput text(output.Stream(), encoding);
    int64_t count = 0;
    std::string line;
    bool headerPending = options.HeaderRow;
    if (rows != nullptr && IsContainer(*rows)) {
      for (const TSuperObject& record : TJsonDocument::Children(*rows)) {
        if (headerPending) {
          headerPending = false;
          line.clear();
          if (AppendRecord(*document, record, true, options, line)) {
            line += "\r\n";
            text.Append(line);
          }
        }
        line.clear();
        if (!AppendRecord(*document, record, false, options, line)) continue;
        line += "\r\n";
        text.Append(line);
        ++count;
        ReportProgress(progress, count);
      }
    }
    text.Flush();
    output.Close();
    if (progress) progress(std::to_string(count) + " record(s) processed.");
    return true;
  });
}

}  // namespace morvex
