#include "convert/xml_to_csv.h"

#include "convert/xml_names.h"
#include "templates/field_text.h"
#include "text/encoding.h"
#include "text/stream.h"
#include "xml/sax_parser.h"

namespace morvex {

TXMLSaxCSVHelper::TXMLSaxCSVHelper(TEncodedTextOutput& output, const TConvertOptions& options,
                                   const ProgressSink& progress)
    : output_(output),
      progress_(progress),
      headerPending_(options.HeaderRow),
      quote_(options.Quote),
      delimiter_(options.Delimiter),
      flatText_(options.FlatText),
      path_(options.RecordTag) {}

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
    if (firstColumn_) {
      firstColumn_ = false;
      if (headerPending_) AppendCsvQuoted(header_, localName, quote_);
    } else {
      line_ += delimiter_;
      if (headerPending_) {
        header_ += delimiter_;
        AppendCsvQuoted(header_, localName, quote_);
      }
    }
    collecting_ = true;
    cellText_.clear();
  } else if (path_.AtRecord()) {
    inRecord_ = true;
    line_.clear();
    cellText_.clear();
    columnName_.clear();
    firstColumn_ = true;
  }
}

void TXMLSaxCSVHelper::Characters(std::string_view chars) {
  if (inRecord_ && inColumn_ && collecting_) cellText_.append(chars);
}

void TXMLSaxCSVHelper::EndElement(std::string_view qName) {
  if (inColumn_) {
    if (qName == columnName_) {
      // Whole values are written, never cut.
      AppendCsvQuoted(line_, FlattenText(cellText_, false), quote_);
      inColumn_ = false;
      collecting_ = false;
      columnName_.clear();
      cellText_.clear();
    }
  } else if (inRecord_ && path_.AtRecord()) {
    inRecord_ = false;
    ++recordCount_;
    if (headerPending_) {
      headerPending_ = false;
      output_.Append(header_);
      output_.Append("\r\n");
    }
    line_ += "\r\n";
    output_.Append(line_);
    ReportProgress(progress_, recordCount_);
  }
  path_.Leave();
}

bool XmlToCsv(const TConvertEndpoint& source, const TConvertEndpoint& destination,
              const TConvertOptions& options, const ProgressSink& progress, std::string& message) {
  return RunConversion(message, [&] {
    TConvertInput input(source);
    TConvertOutput output(destination);
    TEncodedTextOutput text(output.Stream(), BeginEncodedOutput(output, options.Encoding));
    TXMLSaxCSVHelper helper(text, options, progress);
    TXMLParser parser;
    parser.OnStartElement = [&helper](std::string_view, std::string_view localName,
                                      std::string_view qName, const TXMLAttributes&) {
      helper.StartElement(localName, qName);
    };
    parser.OnCharacters = [&helper](std::string_view chars) { helper.Characters(chars); };
    parser.OnEndElement = [&helper](std::string_view, std::string_view, std::string_view qName) {
      helper.EndElement(qName);
    };
    // The records read before a parse error stay in the output.
    WriteThenFlush(text, [&] { parser.Parse(input.Stream()); });
    output.Close();
    if (progress) progress(std::to_string(helper.RecordCount()) + " record(s) processed.");
    return true;
  });
}

}  // namespace morvex
