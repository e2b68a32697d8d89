#include "engine/operations.h"

#include "engine/parameters.h"
#include "scripting/interpreter_bridge.h"
#include "scripting/script_host.h"
#include "templates/template_session.h"
#include "text/error.h"

namespace morvex::operations {

namespace {

bool NotAvailable(const char* operation, std::string& message) {
  message = std::string(operation) + " is not available in this build.";
  return false;
}

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

// Progress and summary lines of the sessions are detail lines.
ProgressSink DetailSink(const TOutputCallback& progress) {
  if (!progress) return {};
  return [&progress](const std::string& line) { progress(line, LevelDetail); };
}

}  // namespace

void RunQueryTemplate(const TXSourceInfo& source, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      TStream& output, const _xmlNode* parametersElement,
                      const TParameterList& parameters, _xmlNode* templateRoot) {
  ::morvex::RunQueryTemplate(source.Location, query.OneTransaction, WriterOptions(transform),
                             DetailSink(progress), output, parametersElement, parameters.Entries(),
                             templateRoot);
}

void RunImportSession(const TXSourceInfo&, const TLSQLInfo&, const TXTransformInfo& transform,
                      const TOutputCallback&, const _xmlNode*, const TParameterList&, _xmlNode*,
                      const TXSourceInfo&) {
  throw EMorvexError(std::string(transform.Kind == tkCsv ? "CSV" : "XML") +
                     " import into a database is not available in this build.");
}

bool CsvToXml(const TXSourceInfo&, const TXSourceInfo&, const TXTransformInfo&,
              const TOutputCallback&, std::string& message) {
  return NotAvailable("CSV to XML conversion", message);
}

bool XmlToCsv(const TXSourceInfo&, const TXSourceInfo&, const TXTransformInfo&,
              const TOutputCallback&, std::string& message) {
  return NotAvailable("XML to CSV conversion", message);
}

bool XmlToJson(const TXSourceInfo&, const TXSourceInfo&, const TXTransformInfo&,
               std::string& message) {
  return NotAvailable("XML to JSON conversion", message);
}

bool JsonToXml(const TXSourceInfo&, const TXSourceInfo&, const TXTransformInfo&,
               std::string& message) {
  return NotAvailable("JSON to XML conversion", message);
}

bool JsonToCsv(const TXSourceInfo&, const TXSourceInfo&, const TXTransformInfo&,
               const TOutputCallback&, std::string& message) {
  return NotAvailable("JSON to CSV conversion", message);
}

bool JPathTransform(const TXSourceInfo&, const TXSourceInfo&, const TXTransformInfo&,
                    std::string& message) {
  return NotAvailable("JSON path selection", message);
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
