#include "engine/operations.h"

#include "convert/csv_record_import.h"
#include "convert/csv_to_xml.h"
#include "convert/json_path.h"
#include "convert/json_to_csv.h"
#include "convert/json_to_xml.h"
#include "convert/xml_record_import.h"
#include "convert/xml_to_csv.h"
#include "convert/xml_to_json.h"
#include "engine/parameters.h"
#include "scripting/interpreter_bridge.h"
#include "scripting/script_host.h"
#include "templates/template_session.h"
#include "text/error.h"
#include "xml/dom.h"

namespace morvex::operations {

namespace {

// The writer options a query step takes from its transform.
TDatasetWriterOptions WriterOptions(const TXTransformInfo& transform) {
  TDatasetWriterOptions options;
  options.TransformKind = transform.Kind == tkNone  ? TQueryOutputKind::None
                          : transform.Kind == tkCsv ? TQueryOutputKind::Csv
                                                    : TQueryOutputKind::DatasetXml;
  options.Encoding = transform.Encoding;
  options.Indent = transform.Indent;
  options.RecordTag = transform.RecordTag;
  options.Namespaces = transform.Namespaces;
  options.IncludeParams = transform.IncludeParams;
  options.Delimiter = transform.Delimiter;
  options.Quote = transform.Quote;
  options.HeaderRow = transform.HeaderRow;
  return options;
}

TScriptSourceInfo ScriptSourceInfo(const TXSourceInfo& info) {
  static constexpr TScriptContentKind kKinds[] = {
      TScriptContentKind::None, TScriptContentKind::Oledb, TScriptContentKind::File,
      TScriptContentKind::Stream};
  return {info.Kind <= skStream ? kKinds[info.Kind] : TScriptContentKind::None, info.Location,
          info.Encoding, info.Stream, info.ShownLocation};
}

TScriptTransformInfo ScriptTransformInfo(const TXTransformInfo& t) {
  return {t.Content,   t.SecondContent, t.Encoding,   t.Delimiter,     t.Quote,
          t.HeaderRow, t.RecordTag,     t.Namespaces, t.SelNamespaces, t.IncludeParams,
          t.FlatText,  t.Indent,        t.Language};
}

// Progress and summary lines of the sessions are detail lines; a warning
// ("Warning: ...") is shown without -v too.
ProgressSink DetailSink(const TOutputCallback& progress) {
  if (!progress) return {};
  return [&progress](const std::string& line) {
    progress(line, line.starts_with(kWarningPrefix) ? LevelHeadline : LevelDetail);
  };
}

TConvertEndpoint Endpoint(const TXSourceInfo& info) {
  return {info.Location, info.Kind == skStream ? info.Stream : nullptr, info.Encoding};
}

TConvertOptions ConvertOptions(const TXTransformInfo& transform) {
  return {transform.Content,    transform.Encoding,  transform.Delimiter,
          transform.Quote,      transform.HeaderRow, transform.RecordTag,
          transform.Namespaces, transform.FlatText,  transform.Indent};
}

}  // namespace

void RunQueryTemplate(const TXSourceInfo& source, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      TStream& output, const _xmlNode* parametersElement,
                      const TParameterList& parameters, _xmlNode* templateRoot) {
  ::morvex::RunQueryTemplate(source.Location, query.OneTransaction, WriterOptions(transform),
                             DetailSink(progress), output, ElementView(parametersElement),
                             parameters.Entries(), ElementView(templateRoot));
}

void RunImportSession(const TXSourceInfo& destination, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      const _xmlNode* parametersElement, const TParameterList& parameters,
                      _xmlNode* templateRoot, const TXSourceInfo& input) {
  const TConvertEndpoint source = Endpoint(input);
  const TConvertOptions options = ConvertOptions(transform);
  const ProgressSink sink = DetailSink(progress);
  const std::vector<std::string>& entries = parameters.Entries();
  const bool csv = transform.Kind == tkCsv;
  ::morvex::RunImportSession(destination.Location, query.OneTransaction, WriterOptions(transform),
                             sink, ElementView(parametersElement), entries,
                             ElementView(templateRoot),
                             [&](TLSQLConnHelper& helper, const TTemplateTree& tree) {
                               if (csv) {
                                 ImportCsvRecords(source, options, tree, sink, helper, entries);
                               } else {
                                 ImportXmlRecords(source, options, tree, sink, helper, entries);
                               }
                             });
}

bool CsvToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& transform, const TOutputCallback& progress,
              std::string& message) {
  return ::morvex::CsvToXml(Endpoint(source), Endpoint(destination), ConvertOptions(transform),
                            DetailSink(progress), message);
}

bool XmlToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& transform, const TOutputCallback& progress,
              std::string& message) {
  return ::morvex::XmlToCsv(Endpoint(source), Endpoint(destination), ConvertOptions(transform),
                            DetailSink(progress), message);
}

bool XmlToJson(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform, std::string& message) {
  return ::morvex::XmlToJson(Endpoint(source), Endpoint(destination), ConvertOptions(transform),
                             message);
}

bool JsonToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform, std::string& message) {
  return ::morvex::JsonToXml(Endpoint(source), Endpoint(destination), ConvertOptions(transform),
                             message);
}

bool JsonToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform, const TOutputCallback& progress,
               std::string& message) {
  return ::morvex::JsonToCsv(Endpoint(source), Endpoint(destination), ConvertOptions(transform),
                             DetailSink(progress), message);
}

bool JPathTransform(const TXSourceInfo& source, const TXSourceInfo& destination,
                    const TXTransformInfo& transform, std::string& message) {
  return ::morvex::JPathTransform(Endpoint(source), Endpoint(destination),
                                  ConvertOptions(transform), message);
}

bool RunActiveScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                     const TXTransformInfo& transform, const TParameterList& parameters,
                     std::string& message) {
  return ::morvex::RunActiveScript(ScriptSourceInfo(source), ScriptSourceInfo(destination),
                                   ScriptTransformInfo(transform), &parameters.Entries(), message);
}

bool RunExternalScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                       const TXTransformInfo& transform, const TParameterList& parameters,
                       const std::vector<std::string>& parameterTexts, std::string& message) {
  return ::morvex::RunExternalScript(ScriptSourceInfo(source), ScriptSourceInfo(destination),
                                     ScriptTransformInfo(transform), &parameters.Entries(),
                                     parameterTexts, message);
}

}  // namespace morvex::operations
