#include "engine/operations.h"

#include "text/error.h"

namespace morvex::operations {

namespace {

bool NotAvailable(const char* operation, std::string& message) {
  message = std::string(operation) + " is not available in this build.";
  return false;
}

constexpr const char* kNoDatabase = "Database access is not available in this build.";

}  // namespace

void RunQueryTemplate(const TXSourceInfo&, const TLSQLInfo&, const TXTransformInfo&,
                      const TOutputCallback&, TStream&, const _xmlNode*, const TParameterList&,
                      _xmlNode*) {
  throw EMorvexError(kNoDatabase);
}

void RunImportSession(const TXSourceInfo&, const TLSQLInfo&, const TXTransformInfo&,
                      const TOutputCallback&, const _xmlNode*, const TParameterList&, _xmlNode*,
                      const TXSourceInfo&) {
  throw EMorvexError(kNoDatabase);
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

bool RunActiveScript(const TXSourceInfo&, const TXSourceInfo&, const TXTransformInfo& transform,
                     const TParameterList&, std::string& message) {
  message = "The script language \"" + transform.Language + "\" is not available in this build.";
  return false;
}

bool RunExternalScript(const TXSourceInfo&, const TXSourceInfo&, const TXTransformInfo&,
                       const TParameterList&, const std::vector<std::string>&,
                       std::string& message) {
  return NotAvailable("The zqScript interpreter", message);
}

}  // namespace morvex::operations
