#include "engine/operations.h"

#include "convert/csv_to_xml.h"
#include "convert/json_path.h"
#include "convert/json_to_csv.h"
#include "convert/json_to_xml.h"
#include "convert/record_import.h"
#include "convert/xml_to_csv.h"
#include "convert/xml_to_json.h"
#include "engine/parameters.h"
#include "scripting/interpreter_bridge.h"
#include "scripting/script_host.h"
#include "templates/template_session.h"
#include "text/error.h"

namespace morvex::operations {

namespace {

// Progress and summary lines of the sessions are detail lines; a warning
// ("Warning: ...") is shown without -v too.
ProgressSink DetailSink(const TOutputCallback& progress) {
  if (!progress) return {};
  return [&progress](const std::string& line) {
    progress(line, line.starts_with(kWarningPrefix) ? LevelHeadline : LevelDetail);
  };
}

}  // namespace

void RunQueryTemplate(const TXSourceInfo& source, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      TStream& output, const _xmlNode* parametersElement,
                      const TParameterList& parameters, _xmlNode* templateRoot) {
  ::morvex::RunQueryTemplate(source.Location, query.OneTransaction, transform, DetailSink(progress),
                             output, parametersElement, parameters.Entries(), templateRoot);
}

void RunImportSession(const TXSourceInfo& destination, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      const _xmlNode* parametersElement, const TParameterList& parameters,
                      _xmlNode* templateRoot, const TXSourceInfo& input) {
  const ProgressSink sink = DetailSink(progress);
  const std::vector<std::string>& entries = parameters.Entries();
  const bool csv = transform.Kind == tkCsv;
  ::morvex::RunImportSession(destination.Location, query.OneTransaction, sink, parametersElement,
                             entries, templateRoot, [&](TLSQLConnHelper& helper, _xmlNode* root) {
                               if (csv) {
                                 ImportCsvRecords(input, transform, root, sink, helper, entries);
                               } else {
                                 ImportXmlRecords(input, transform, root, sink, helper, entries);
                               }
                             });
}

void CsvToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& transform, const TOutputCallback& progress) {
  ::morvex::CsvToXml(source, destination, transform, DetailSink(progress));
}

void XmlToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& transform, const TOutputCallback& progress) {
  ::morvex::XmlToCsv(source, destination, transform, DetailSink(progress));
}

void XmlToJson(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform) {
  ::morvex::XmlToJson(source, destination, transform);
}

void JsonToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform) {
  ::morvex::JsonToXml(source, destination, transform);
}

void JsonToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform, const TOutputCallback& progress) {
  ::morvex::JsonToCsv(source, destination, transform, DetailSink(progress));
}

void JPathTransform(const TXSourceInfo& source, const TXSourceInfo& destination,
                    const TXTransformInfo& transform) {
  ::morvex::JPathTransform(source, destination, transform);
}

void RunActiveScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                     const TXTransformInfo& transform, const TParameterList& parameters) {
  ::morvex::RunActiveScript(source, destination, transform, &parameters.Entries());
}

void RunExternalScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                       const TXTransformInfo& transform, const TParameterList& parameters,
                       const std::vector<std::string>& parameterTexts) {
  ::morvex::RunExternalScript(source, destination, transform, &parameters.Entries(),
                              parameterTexts);
}

}  // namespace morvex::operations
