// The template CSV writer: the top-level statements of the current phase run
// in document order and each record becomes one line, values joined by the
// delimiter, ending in CR LF. Lines are built as UTF-8 and reach the stream
// converted to the output encoding in blocks, so memory stays flat whatever
// the number of records.
#include <string_view>

#include "db/lsql_conn_helper.h"
#include "templates/dataset_writer.h"
#include "templates/field_text.h"
#include "templates/template_walk.h"
#include "text/csv_quote.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr size_t kBlockBytes = 64 * 1024;

// Collects lines and writes them, encoded, onto the stream in blocks. Only
// whole lines reach the stream: a line being built when an error strikes is
// dropped by DropLine.
class TCsvOutput {
 public:
  TCsvOutput(TStream& stream, const TEncoding& encoding)
      : stream_(stream), encoder_(encoding), utf8_(encoding.IsUtf8()) {}

  // The text being built; a line is complete after EndLine.
  std::string& Text() { return text_; }
  void EndLine() {
    text_ += "\r\n";
    lineStart_ = text_.size();
    if (text_.size() >= kBlockBytes) Flush();
  }
  void DropLine() { text_.resize(lineStart_); }

  // Writes the complete lines collected so far.
  void Flush() {
    // UTF-8 text that is valid as built is the output as it stands: it
    // changes places with the (empty) byte buffer instead of being copied.
    if (utf8_ && bytes_.empty() && IsValidUtf8(text_)) {
      bytes_.swap(text_);
    } else {
      encoder_.Encode(text_, bytes_);
    }
    text_.clear();
    lineStart_ = 0;
    WriteBytes();
  }
  // Flushes and returns a stateful encoding to its initial state.
  void Finish() {
    Flush();
    encoder_.Finish(bytes_);
    WriteBytes();
  }

 private:
  // The bytes are handed over once: after a failed write they are not
  // offered to the stream again.
  void WriteBytes() {
    if (bytes_.empty()) return;
    struct TClearOnExit {
      std::string& Bytes;
      ~TClearOnExit() { Bytes.clear(); }
    } clear{bytes_};
    stream_.Write(bytes_);
  }

  TStream& stream_;
  TEncoder encoder_;
  const bool utf8_;
  std::string text_;
  std::string bytes_;
  size_t lineStart_ = 0;
};

void AppendHeader(std::string& line, const TLSQLDataset& dataset,
                  const std::vector<TFieldClass>& classes, const TXTransformInfo& options) {
  for (size_t i = 0; i < classes.size(); ++i) {
    if (i > 0) line += options.Delimiter;
    const std::string& name = dataset.FieldName(static_cast<int>(i));
    if (IsBareClass(classes[i])) {
      line += name;
    } else {
      AppendCsvQuoted(line, name, options.Quote);
    }
  }
}

// `scratch` holds the converted texts; it keeps its capacity from one
// record to the next.
void AppendRecord(std::string& line, const TLSQLDataset& dataset,
                  const std::vector<TFieldClass>& classes, const TXTransformInfo& options,
                  std::string& scratch) {
  const std::string_view delimiter = options.Delimiter;
  const std::string_view quote = options.Quote;
  std::string_view text;
  for (size_t i = 0; i < classes.size(); ++i) {
    if (i > 0) line.append(delimiter);
    const TFieldClass typeClass = classes[i];
    const bool bare = IsBareClass(typeClass);
    if (!FieldText(dataset, static_cast<int>(i), typeClass, TFieldTextTarget::Csv, scratch, text)) {
      if (!bare) AppendCsvQuoted(line, {}, quote);
      continue;
    }
    // Long texts and binary values are written whole: a value cut short
    // would be lost without a word.
    if (bare) {
      line.append(text);
    } else {
      AppendCsvQuoted(line, text, quote);
    }
  }
}

// One line per record of the top-level statements; the header line comes
// from the first written statement that has fields.
class TCsvRecordWriter : public TTemplateVisitor {
 public:
  TCsvRecordWriter(TCsvOutput& output, const TXTransformInfo& options)
      : output_(output), options_(options) {}

  void StatementStart(TWalkStatement& statement) override {
    statement.Write = !statement.Statement->NoWrite;
    statement.Classes = FieldClasses(*statement.Dataset);
    if (statement.Write && !statement.Classes.empty() && !headerDecided_) {
      headerDecided_ = true;
      if (options_.HeaderRow) {
        AppendHeader(output_.Text(), *statement.Dataset, statement.Classes, options_);
        output_.EndLine();
      }
    }
  }

  void RecordStart(TWalkStatement& statement) override {
    if (!statement.Write) return;
    AppendRecord(output_.Text(), *statement.Dataset, statement.Classes, options_, scratch_);
    output_.EndLine();
  }

  // The element's last lines reach the stream inside the walk's error trap,
  // so that a failed write names the element and record.
  void StatementEnd(TWalkStatement& /*statement*/) override { output_.Flush(); }

  void StatementFailed(TWalkStatement& /*statement*/) noexcept override { output_.DropLine(); }

 private:
  TCsvOutput& output_;
  const TXTransformInfo& options_;
  bool headerDecided_ = false;
  std::string scratch_;
};

}  // namespace

void WriteDatasetCsv(const TTemplateTree& tree, const std::vector<std::string>& parameters,
                     TStream& out, const TXTransformInfo& options, const ProgressSink& sink,
                     TLSQLConnHelper& helper) {
  const TEncoding& encoding = EncodingForName(options.Encoding);
  if (!encoding.Preamble().empty()) out.Write(encoding.Preamble());
  TCsvOutput output(out, encoding);
  try {
    TCsvRecordWriter visitor(output, options);
    const TParameterValues list(&parameters);
    TTemplateWalk walk;
    walk.Parameters = &list;
    walk.Sink = &sink;
    walk.Nested = false;
    walk.Totals = TTotalLines::ResultSets;
    WalkTemplate(tree.Root(), walk, visitor, helper);
  } catch (...) {
    // The lines written before the error stay in the stream. A failure to
    // write them (the stream may be what failed) must not hide the first
    // error.
    try {
      output.DropLine();
      output.Finish();
    } catch (...) {
    }
    throw;
  }
  output.Finish();
}

}  // namespace morvex
