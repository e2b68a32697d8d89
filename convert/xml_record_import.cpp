#include "convert/xml_record_import.h"

#include "convert/xml_names.h"
#include "templates/template_walk.h"
#include "text/case_fold.h"
#include "text/error.h"
#include "xml/sax_parser.h"
#include "xml/xml_document.h"

namespace morvex {

namespace {

constexpr std::string_view kSourceName = "source";

// The name path without its last "$" segment.
void DropLastName(std::string& path) {
  const size_t at = path.rfind('$');
  path.resize(at == std::string::npos ? 0 : at);
}

}  // namespace

TXMLSaxDBHelper::TXMLSaxDBHelper(const TXTransformInfo& options, const TTemplateTree& tree,
                                 const std::vector<std::string>& parameters,
                                 TLSQLConnHelper& helper, const ProgressSink& progress)
    : tree_(tree),
      parameters_(&parameters),
      helper_(helper),
      progress_(progress),
      flatText_(options.FlatText),
      path_(options.RecordTag) {}

void TXMLSaxDBHelper::StartElement(std::string_view localName, std::string_view qName) {
  path_.Enter(qName);
  if (!path_.Known()) return;
  if (inRecord_) {
    if (fieldOpen_) {
      StoreValue();
    } else {
      fieldOpen_ = true;
    }
    text_.clear();
    namePath_ += '$';
    namePath_ += localName;
  } else if (path_.AtRecord()) {
    inRecord_ = true;
    fieldOpen_ = false;
    recordDepth_ = path_.ElementPath().size();
    namePath_.assign(kSourceName);
  }
}

void TXMLSaxDBHelper::Characters(std::string_view chars) {
  if (inRecord_ && fieldOpen_) text_.append(chars);
}

void TXMLSaxDBHelper::EndElement(std::string_view) {
  if (inRecord_ && fieldOpen_) {
    StoreValue();
    fieldOpen_ = false;
    DropLastName(namePath_);
  } else if (inRecord_) {
    // Only the record's own end tag ends it: an element inside the record
    // whose path also ends with the record path (a nested detail record of
    // the dataset layout) is a value element like any other.
    if (path_.ElementPath().size() == recordDepth_) {
      ++recordCount_;
      inRecord_ = false;
      RunRecord();
      ReportProgress(progress_, recordCount_);
      pairCount_ = 0;
      samePlaces_ = true;
    } else {
      DropLastName(namePath_);
    }
  }
  path_.Leave();
}

void TXMLSaxDBHelper::StoreValue() {
  std::string_view name = namePath_;
  if (flatText_) {
    const size_t first = name.find('$');
    const size_t second = first == std::string_view::npos ? first : name.find('$', first + 1);
    if (second != std::string_view::npos) name = name.substr(0, second);
  }
  std::string* value = nullptr;
  if (pairCount_ < pairs_.size() && pairs_[pairCount_].first == name) {
    // The name the previous record had in this place. While every pair so
    // far is the previous record's, no earlier pair has it (a record's pair
    // names differ), so it starts a new pair.
    if (!samePlaces_) {
      for (size_t i = 0; i < pairCount_ && !value; ++i) {
        if (pairs_[i].first == name) value = &pairs_[i].second;
      }
    }
    if (!value) {
      value = &pairs_[pairCount_++].second;
      value->clear();
    }
  } else {
    for (size_t i = 0; i < pairCount_ && !value; ++i) {
      if (pairs_[i].first == name) value = &pairs_[i].second;
    }
    if (!value) {
      samePlaces_ = false;
      pairs_.resize(pairCount_);
      value = &pairs_.emplace_back(std::string(name), std::string()).second;
      ++pairCount_;
      // A name is new only here: in any other place it is the previous
      // record's.
      if (foldedNames_.insert(FoldCase(name)).second) seenNames_.emplace_back(name);
    }
  }
  if (text_.find('\n') == std::string::npos && text_.find('\r') == std::string::npos) {
    // One line: FlattenText would give it unchanged.
    if (!value->empty()) *value += "\r\n";
    *value += text_;
    return;
  }
  // Line ends count as LF, as XML reads them, so that a CR LF value is not
  // given a second CR when its lines are joined with CR LF.
  std::string lines;
  lines.reserve(text_.size());
  for (size_t i = 0; i < text_.size(); ++i) {
    if (text_[i] != '\r') {
      lines.push_back(text_[i]);
    } else if (i + 1 >= text_.size() || text_[i + 1] != '\n') {
      lines.push_back('\n');
    }
  }
  std::string text = FlattenText(lines, true);
  if (value->empty()) {
    *value = std::move(text);
  } else {
    *value += "\r\n";
    *value += text;
  }
}

void TXMLSaxDBHelper::RunRecord() {
  pairs_.resize(pairCount_);
  import_detail::TRecordFailure failure;
  if (import_detail::RunRecord(tree_, &parameters_, &pairs_, progress_, helper_, recordCount_,
                               rowsAffected_, failure)) {
    return;
  }
  Fail(failure);
}

bool TXMLSaxDBHelper::FlushRecords() {
  import_detail::TRecordFailure failure;
  if (import_detail::FlushRecords(tree_, helper_, recordCount_, rowsAffected_, failure))
    return true;
  failedRecord_ = failure.Record;
  lastError_ = std::move(failure.Message);
  return false;
}

void TXMLSaxDBHelper::WarnUnprovidedNames() const {
  std::vector<std::string> known;
  known.reserve(seenNames_.size());
  for (const std::string& name : seenNames_) known.push_back(name.substr(kSourceName.size() + 1));
  import_detail::WarnUnprovidedNames(
      tree_, helper_,
      [this](std::string_view name) {
        return foldedNames_.count(FoldCase(name)) > 0 ||
               parameters_.Find(name) != TParameterValues::kNoSlot;
      },
      known, "value element of the records", progress_);
}

void TXMLSaxDBHelper::Fail(import_detail::TRecordFailure& failure) {
  failedRecord_ = failure.Record;
  lastError_ = std::move(failure.Message);
  throw EMorvexError(lastError_);
}

void ImportXmlRecords(const TXSourceInfo& source, const TXTransformInfo& options,
                      const TTemplateTree& tree, const ProgressSink& progress,
                      TLSQLConnHelper& helper, const std::vector<std::string>& parameters) {
  TConvertInput input(source);
  TXMLSaxDBHelper sink(options, tree, parameters, helper, progress);
  TXMLParser parser;
  // A broken source is named as the document loaders name it:
  // "<source>: [line: L, col: C] <reason>".
  std::string parseError;
  parser.OnFatalError = [&](const TXMLLocator& where, std::string_view reason, int) {
    TXMLDOMParseError error;
    error.Line = where.Line;
    error.LinePos = where.Column;
    error.Reason = reason;
    error.URL = source.Location;
    parseError = ParseErrorMessage(error);
  };
  parser.OnStartElement = [&sink](std::string_view, std::string_view localName,
                                  std::string_view qName,
                                  const TXMLAttributes&) { sink.StartElement(localName, qName); };
  parser.OnCharacters = [&sink](std::string_view chars) { sink.Characters(chars); };
  parser.OnEndElement = [&sink](std::string_view, std::string_view, std::string_view qName) {
    sink.EndElement(qName);
  };
  try {
    parser.Parse(input.Stream());
  } catch (const std::exception& error) {
    // A statement queued for an earlier record may have failed first.
    if (sink.LastError().empty()) sink.FlushRecords();
    import_detail::ReportSummaryAfterFailure(progress, helper, sink.RecordsDone(),
                                             sink.RowsAffected());
    // A template failure is reported with its own message, whatever the
    // reader made of it.
    if (!sink.LastError().empty()) throw EMorvexError(sink.LastError());
    if (!parseError.empty()) throw EMorvexError(parseError);
    throw;
  }
  // Only now is it known which names no record gives.
  const bool flushed = sink.FlushRecords();
  sink.WarnUnprovidedNames();
  if (!flushed) {
    import_detail::ReportSummaryAfterFailure(progress, helper, sink.RecordsDone(),
                                             sink.RowsAffected());
    throw EMorvexError(sink.LastError());
  }
  import_detail::ReportSummary(progress, sink.RecordCount(), sink.RowsAffected());
}

}  // namespace morvex
