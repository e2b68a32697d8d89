#include "convert/xml_to_csv.h"

#include <exception>

#include "convert/xml_names.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/sax_parser.h"

namespace morvex {

TXMLSaxCSVHelper::TXMLSaxCSVHelper(const TXTransformInfo& options, const ProgressSink& progress)
    : progress_(progress),
      headerRow_(options.HeaderRow),
      quote_(options.Quote),
      delimiter_(options.Delimiter),
      flatText_(options.FlatText),
      recordTag_(options.RecordTag),
      path_(options.RecordTag) {}

void TXMLSaxCSVHelper::BeginPass(TEncodedTextOutput* output) {
  path_ = TRecordPath(recordTag_);
  output_ = output;
  stale_ = false;
  lineWritten_ = false;
  headerPending_ = output != nullptr && headerRow_;
  inRecord_ = inColumn_ = collecting_ = false;
  recordCount_ = 0;
  for (const size_t id : recordNames_) seen_[id] = 0;
  recordNames_.clear();
  previousNames_.clear();
  cells_.assign(output != nullptr ? header_.size() : 0, {});
}

size_t TXMLSaxCSVHelper::NameId(std::string_view qName) {
  // Records mostly hold the names of the one before, in the same order.
  const size_t position = recordNames_.size();
  if (position < previousNames_.size() && names_[previousNames_[position]] == qName) {
    return previousNames_[position];
  }
  const auto found = nameIds_.find(qName);
  if (found != nameIds_.end()) return found->second;
  const size_t id = names_.size();
  names_.emplace_back(qName);
  nameIds_.emplace(names_.back(), id);
  columnsOfName_.emplace_back();
  seen_.push_back(0);
  return id;
}

size_t TXMLSaxCSVHelper::ColumnFor(std::string_view localName, std::string_view qName) {
  const size_t id = NameId(qName);
  recordNames_.push_back(id);
  const uint32_t occurrence = seen_[id]++;
  std::vector<size_t>& columns = columnsOfName_[id];
  if (occurrence == columns.size()) {
    columns.push_back(header_.size());
    header_.emplace_back(localName);
    if (output_ != nullptr && lineWritten_) {
      stale_ = true;
      output_ = nullptr;
    }
    if (output_ != nullptr) cells_.resize(header_.size());
  }
  return columns[occurrence];
}

void TXMLSaxCSVHelper::StartRecord() {
  inRecord_ = true;
  for (const size_t id : recordNames_) seen_[id] = 0;
  previousNames_.swap(recordNames_);
  recordNames_.clear();
  if (output_ != nullptr) {
    for (std::string& cell : cells_) cell.clear();
  }
}

void TXMLSaxCSVHelper::WriteRecord() {
  line_.clear();
  if (headerPending_) {
    headerPending_ = false;
    AppendCsvLine(line_, header_, delimiter_, quote_);
  }
  lineWritten_ = true;
  AppendCsvLine(line_, cells_, delimiter_, quote_);
  output_->Append(line_);
  if (recordCount_ > reported_) {
    reported_ = recordCount_;
    ReportProgress(progress_, recordCount_);
  }
}

void TXMLSaxCSVHelper::StartElement(std::string_view localName, std::string_view qName) {
  path_.Enter(qName);
  if (!path_.Known()) return;
  if (inRecord_ && inColumn_) {
    if (flatText_) {
      collecting_ = false;
    } else if (!cellText_.empty() && cellText_.back() != '\n' && cellText_.back() != ' ') {
      cellText_ += '\n';
    }
  } else if (inRecord_) {
    inColumn_ = true;
    columnName_.assign(qName);
    column_ = ColumnFor(localName, qName);
    collecting_ = output_ != nullptr;
    cellText_.clear();
  } else if (path_.AtRecord()) {
    StartRecord();
  }
}

void TXMLSaxCSVHelper::Characters(std::string_view chars) {
  if (collecting_) cellText_.append(chars);
}

void TXMLSaxCSVHelper::EndElement(std::string_view qName) {
  if (inColumn_) {
    if (qName == columnName_) {
      // Whole values are written, never cut.
      if (output_ != nullptr) cells_[column_] = FlattenText(cellText_, false);
      inColumn_ = false;
      collecting_ = false;
      columnName_.clear();
      cellText_.clear();
    }
  } else if (inRecord_ && path_.AtRecord()) {
    inRecord_ = false;
    ++recordCount_;
    if (output_ != nullptr) WriteRecord();
  }
  path_.Leave();
}

namespace {

void ParsePass(TXMLSaxCSVHelper& helper, TStream& input, TEncodedTextOutput* output) {
  helper.BeginPass(output);
  TXMLParser parser;
  parser.OnStartElement = [&helper](std::string_view, std::string_view localName,
                                    std::string_view qName, const TXMLAttributes&) {
    helper.StartElement(localName, qName);
  };
  parser.OnCharacters = [&helper](std::string_view chars) { helper.Characters(chars); };
  parser.OnEndElement = [&helper](std::string_view, std::string_view, std::string_view qName) {
    helper.EndElement(qName);
  };
  parser.Parse(input);
}

}  // namespace

void XmlToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& options, const ProgressSink& progress) {
  TConvertInput input(source);
  TConvertOutput output(destination);
  const TEncoding& encoding = BeginEncodedOutput(output, options.Encoding);
  const int64_t outputStart = RewritablePosition(output.Stream());
  auto text = std::make_unique<TEncodedTextOutput>(output.Stream(), encoding);
  TXMLSaxCSVHelper helper(options, progress);
  std::unique_ptr<TStream> copy;
  TStream& stream = SeekableInput(input.Stream(), copy);
  const int64_t start = stream.Position();
  // An error of a pass that leaves a second pass to come: the second pass
  // writes the records before the fault and fails there the same way.
  std::exception_ptr firstPassError;
  bool again = true;
  if (outputStart >= 0) {
    // Records mostly hold the same columns: the first pass writes, and a
    // second is needed only when a record brings a new column late.
    try {
      WriteThenFlush(*text, [&] { ParsePass(helper, stream, text.get()); });
    } catch (const std::exception&) {
      if (!helper.Stale()) throw;
      firstPassError = std::current_exception();
    }
    again = helper.Stale();
    if (again) {
      text.reset();
      output.Stream().SetSize(outputStart);
      output.Stream().SetPosition(outputStart);
      text = std::make_unique<TEncodedTextOutput>(output.Stream(), encoding);
    }
  }
  if (again) {
    if (outputStart < 0) {
      try {
        ParsePass(helper, stream, nullptr);
      } catch (const std::exception&) {
        firstPassError = std::current_exception();
      }
    }
    stream.SetPosition(start);
    WriteThenFlush(*text, [&] {
      ParsePass(helper, stream, text.get());
      if (firstPassError) std::rethrow_exception(firstPassError);
    });
  }
  output.Close();
  if (progress) progress(std::to_string(helper.RecordCount()) + " record(s) processed.");
}

}  // namespace morvex
