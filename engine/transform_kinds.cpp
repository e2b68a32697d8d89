#include "engine/transform_kinds.h"

#include <algorithm>

#include "convert/csv_to_xml.h"
#include "convert/json_path.h"
#include "convert/json_to_csv.h"
#include "convert/json_to_xml.h"
#include "convert/xml_to_csv.h"
#include "convert/xml_to_json.h"
#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

using TC = TContentRule;
using TL = TLabelRule;
using TF = TDataFormat;
using TQ = TQueryUse;
using TW = TQueryOutputKind;
namespace op = operations;

// The operation of a conversion kind: the conversion in its own folder.
template <op::TConversion Convert>
void Conversion(const op::TOperationCall& call) {
  op::RunConversion(Convert, call);
}

constexpr std::string_view kStylesheet = "a stylesheet";
constexpr std::string_view kScriptFile = "a script file";
constexpr std::string_view kExpressionFile = "an expression file";

// The rows. Keyword rows come in the order their keywords are matched and
// suggested; the derived inline forms follow.
const std::vector<TTransformKindRow>& Rows() {
  static const std::vector<TTransformKindRow> rows{
      // clang-format off
      {.Kind = tkNone, .Keywords = {}, .LabelRule = TL::Label, .Label = "",
       .Content = TC::None, .InlineForm = tkNone, .ContentFile = {}, .SecondSectionKeyword = {},
       .Input = TF::Any, .Output = TF::Any, .Script = false, .UsesParameters = false,
       .QueryUse = TQ::StatementsOnly, .QueryWrites = TW::None,
       .ErrorPrefix = "", .Run = op::CopyUnchanged, .Import = nullptr, .ImportRefusal = {}},
      {.Kind = tkXml, .Keywords = {"xml", "csv/xml"}, .LabelRule = TL::Label, .Label = "xml",
       .Content = TC::None, .InlineForm = tkXml, .ContentFile = {}, .SecondSectionKeyword = {},
       .Input = TF::Csv, .Output = TF::Xml, .Script = false, .UsesParameters = false,
       .QueryUse = TQ::ResultIsOutput, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "CSV to XML transformation error: ", .Run = Conversion<CsvToXml>,
       .Import = op::XmlRecordsIntoDatabase, .ImportRefusal = {}},
      {.Kind = tkXslt, .Keywords = {"xslt"}, .LabelRule = TL::FileOrLabel, .Label = "xslt",
       .Content = TC::FileOrInline, .InlineForm = tkXsltInline, .ContentFile = kStylesheet,
       .SecondSectionKeyword = {},
       .Input = TF::Xml, .Output = TF::Any, .Script = false, .UsesParameters = true,
       .QueryUse = TQ::FeedsOperation, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "XSL Transformation error: ", .Run = op::TransformXslt,
       .Import = nullptr, .ImportRefusal = {}},
      {.Kind = tkXPath, .Keywords = {"xpath"}, .LabelRule = TL::Expressions, .Label = "xpath",
       .Content = TC::Expressions, .InlineForm = tkXPath, .ContentFile = kExpressionFile,
       .SecondSectionKeyword = {},
       .Input = TF::Xml, .Output = TF::Xml, .Script = false, .UsesParameters = false,
       .QueryUse = TQ::FeedsOperation, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "XPath selection error: ", .Run = op::SelectXPath,
       .Import = nullptr, .ImportRefusal = {}},
      {.Kind = tkJPath, .Keywords = {"jpath"}, .LabelRule = TL::Expressions, .Label = "jpath",
       .Content = TC::Expressions, .InlineForm = tkJPath, .ContentFile = kExpressionFile,
       .SecondSectionKeyword = {},
       .Input = TF::Json, .Output = TF::Json, .Script = false, .UsesParameters = false,
       .QueryUse = TQ::Refused, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "JPath selection error: ", .Run = Conversion<JPathTransform>,
       .Import = nullptr, .ImportRefusal = {}},
      {.Kind = tkCsv, .Keywords = {"csv", "xml/csv"}, .LabelRule = TL::Label, .Label = "csv",
       .Content = TC::None, .InlineForm = tkCsv, .ContentFile = {}, .SecondSectionKeyword = {},
       .Input = TF::Xml, .Output = TF::Csv, .Script = false, .UsesParameters = false,
       .QueryUse = TQ::ResultIsOutput, .QueryWrites = TW::Csv,
       .ErrorPrefix = "XML to CSV transformation error: ", .Run = Conversion<XmlToCsv>,
       .Import = op::CsvRecordsIntoDatabase, .ImportRefusal = {}},
      {.Kind = tkJson, .Keywords = {"json", "xml/json"}, .LabelRule = TL::Label, .Label = "json",
       .Content = TC::None, .InlineForm = tkJson, .ContentFile = {}, .SecondSectionKeyword = {},
       .Input = TF::Xml, .Output = TF::Json, .Script = false, .UsesParameters = false,
       .QueryUse = TQ::FeedsOperationFromDisk, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "XML to JSON transformation error: ", .Run = Conversion<XmlToJson>,
       .Import = nullptr, .ImportRefusal = "Import from JSON format is not currently supported!"},
      {.Kind = tkJsonXml, .Keywords = {"json/xml"}, .LabelRule = TL::Label, .Label = "json/xml",
       .Content = TC::None, .InlineForm = tkJsonXml, .ContentFile = {}, .SecondSectionKeyword = {},
       .Input = TF::Json, .Output = TF::Xml, .Script = false, .UsesParameters = false,
       .QueryUse = TQ::Refused, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "JSON to XML transformation error: ", .Run = Conversion<JsonToXml>,
       .Import = nullptr, .ImportRefusal = {}},
      {.Kind = tkJsonCsv, .Keywords = {"json/csv"}, .LabelRule = TL::Label, .Label = "json/csv",
       .Content = TC::None, .InlineForm = tkJsonCsv, .ContentFile = {}, .SecondSectionKeyword = {},
       .Input = TF::Json, .Output = TF::Csv, .Script = false, .UsesParameters = false,
       .QueryUse = TQ::Refused, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "JSON to CSV transformation error: ", .Run = Conversion<JsonToCsv>,
       .Import = nullptr, .ImportRefusal = {}},
      {.Kind = tkZqScript, .Keywords = {"zqscript", "zqscriptgui"}, .LabelRule = TL::File,
       .Label = "", .Content = TC::FileOrInline, .InlineForm = tkZqScriptInline,
       .ContentFile = kScriptFile, .SecondSectionKeyword = "zqscriptgui",
       .Input = TF::Any, .Output = TF::Any, .Script = true, .UsesParameters = true,
       .QueryUse = TQ::FeedsOperation, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "zqScript error: ", .Run = op::RunExternalScript,
       .Import = nullptr, .ImportRefusal = {}},
      // Any keyword no row lists names a script language.
      {.Kind = tkScript, .Keywords = {}, .LabelRule = TL::FileOrLanguage, .Label = "WSH",
       .Content = TC::FileOrInline, .InlineForm = tkScriptInline, .ContentFile = kScriptFile,
       .SecondSectionKeyword = {},
       .Input = TF::Any, .Output = TF::Any, .Script = true, .UsesParameters = true,
       .QueryUse = TQ::FeedsOperation, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "Windows Script Host error: ", .Run = op::RunActiveScript,
       .Import = nullptr, .ImportRefusal = {}},
      {.Kind = tkXsltInline, .Keywords = {}, .LabelRule = TL::Label, .Label = "xslt (inline)",
       .Content = TC::FileOrInline, .InlineForm = tkXsltInline, .ContentFile = {},
       .SecondSectionKeyword = {},
       .Input = TF::Xml, .Output = TF::Any, .Script = false, .UsesParameters = true,
       .QueryUse = TQ::FeedsOperation, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "XSL Transformation error: ", .Run = op::TransformXslt,
       .Import = nullptr, .ImportRefusal = {}},
      {.Kind = tkScriptInline, .Keywords = {}, .LabelRule = TL::LanguageInline, .Label = "",
       .Content = TC::FileOrInline, .InlineForm = tkScriptInline, .ContentFile = {},
       .SecondSectionKeyword = {},
       .Input = TF::Any, .Output = TF::Any, .Script = true, .UsesParameters = true,
       .QueryUse = TQ::FeedsOperation, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "Windows Script Host error: ", .Run = op::RunActiveScript,
       .Import = nullptr, .ImportRefusal = {}},
      {.Kind = tkZqScriptInline, .Keywords = {}, .LabelRule = TL::LanguageInline, .Label = "",
       .Content = TC::FileOrInline, .InlineForm = tkZqScriptInline, .ContentFile = {},
       .SecondSectionKeyword = {},
       .Input = TF::Any, .Output = TF::Any, .Script = true, .UsesParameters = true,
       .QueryUse = TQ::FeedsOperation, .QueryWrites = TW::DatasetXml,
       .ErrorPrefix = "zqScript error: ", .Run = op::RunExternalScript,
       .Import = nullptr, .ImportRefusal = {}},
      // clang-format on
  };
  return rows;
}

}  // namespace

std::span<const TTransformKindRow> TransformKindRows() { return Rows(); }

const TTransformKindRow& TransformKindRow(TTransformKind kind) {
  for (const TTransformKindRow& row : Rows()) {
    if (row.Kind == kind) return row;
  }
  throw EMorvexError("Unknown transformation kind " + std::to_string(static_cast<int>(kind)));
}

TTransformKind TransformKindOf(std::string_view keyword) {
  const std::string lower = AsciiLower(keyword);
  if (lower.empty()) return tkXml;
  for (const TTransformKindRow& row : Rows()) {
    if (std::find(row.Keywords.begin(), row.Keywords.end(), lower) != row.Keywords.end()) {
      return row.Kind;
    }
  }
  return tkScript;
}

std::vector<std::string> TransformKeywords() {
  std::vector<std::string> keywords;
  for (const TTransformKindRow& row : Rows()) {
    keywords.insert(keywords.end(), row.Keywords.begin(), row.Keywords.end());
  }
  return keywords;
}

std::vector<std::string> ConversionKeywords() {
  std::vector<std::string> keywords;
  for (const TTransformKindRow& row : Rows()) {
    if (row.Content == TContentRule::None) {
      keywords.insert(keywords.end(), row.Keywords.begin(), row.Keywords.end());
    }
  }
  return keywords;
}

bool IsScriptKind(TTransformKind kind) { return TransformKindRow(kind).Script; }

bool NamesContentFile(TTransformKind kind) {
  const TTransformKindRow& row = TransformKindRow(kind);
  return row.Content == TContentRule::FileOrInline && row.InlineForm != kind;
}

}  // namespace morvex
