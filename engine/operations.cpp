#include "engine/operations.h"

#include "convert/csv_to_xml.h"
#include "convert/json_path.h"
#include "convert/json_to_csv.h"
#include "convert/json_to_xml.h"
#include "convert/record_import.h"
#include "convert/xml_to_csv.h"
#include "convert/xml_to_json.h"
#include "engine/parameters.h"
#include "engine/project_loader.h"
#include "scripting/interpreter_bridge.h"
#include "scripting/script_host.h"
#include "templates/template_session.h"
#include "text/error.h"
#include "xml/xml_nodes.h"

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

// What the template layer builds a query template from: the root of the
// script's query document, and the project's `parameters` element for the
// declared parameter types. The one place where the engine's records are
// handed over as document nodes.
struct TTemplateInput {
  _xmlNode* Root;
  const _xmlNode* Declarations;
};

TTemplateInput TemplateInput(const TProject& project, const TXmlDocument& queryDocument) {
  return {DocumentElement(queryDocument.get()),
          FirstChildElement(DocumentElement(project.Document.get()), "parameters")};
}

}  // namespace

void RunQueryTemplate(const TXSourceInfo& source, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      TStream& output, const TProject& project, const TParameterList& parameters,
                      const TXmlDocument& queryDocument) {
  const TTemplateInput input = TemplateInput(project, queryDocument);
  ::morvex::RunQueryTemplate(source.Location, query.OneTransaction, WriterOptions(transform),
                             DetailSink(progress), output, input.Declarations, parameters.Entries(),
                             input.Root);
}

void RunImportSession(const TXSourceInfo& destination, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      const TProject& project, const TParameterList& parameters,
                      const TXmlDocument& queryDocument, const TXSourceInfo& input) {
  const TTemplateInput templateInput = TemplateInput(project, queryDocument);
  const TConvertEndpoint source = Endpoint(input);
  const TConvertOptions options = ConvertOptions(transform);
  const ProgressSink sink = DetailSink(progress);
  const std::vector<std::string>& entries = parameters.Entries();
  const bool csv = transform.Kind == tkCsv;
  ::morvex::RunImportSession(destination.Location, query.OneTransaction, WriterOptions(transform),
                             sink, templateInput.Declarations, entries, templateInput.Root,
                             [&](TLSQLConnHelper& helper, _xmlNode* root) {
                               if (csv) {
                                 ImportCsvRecords(source, options, root, sink, helper, entries);
                               } else {
                                 ImportXmlRecords(source, options, root, sink, helper, entries);
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
