// The step operations that the dispatcher reaches and that live in other
// subsystems (query templates, format conversions, script hosting). Each is
// one small function with the arguments its subsystem takes, so that the
// dispatch table never changes when an operation arrives: its body here
// becomes a call of the real operation.
//
// Conversions and script runs report failure as false with the message to
// append to the dispatcher's step prefix; they never raise for a failed
// conversion. The database sessions raise EMorvexError with their own
// message. An operation that this build does not have fails with a message
// that names it: nothing silently succeeds.
#pragma once

#include <string>
#include <vector>

#include "engine/project_defs.h"
#include "engine/run_callbacks.h"
#include "xml/xml_document.h"

namespace morvex {

class TParameterList;
class TStream;
struct TProject;

namespace operations {

// Runs a query template against the source's database and writes its
// results to `output` (dataset XML, or CSV for the csv kinds; nothing more
// than the statements' counts without a transformation). The template is
// built from `queryDocument`, its parameter types from the project's
// declarations.
void RunQueryTemplate(const TXSourceInfo& source, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      TStream& output, const TProject& project, const TParameterList& parameters,
                      const TXmlDocument& queryDocument);

// Imports the XML or CSV records of `input` into the destination's database,
// running the template once per record.
void RunImportSession(const TXSourceInfo& destination, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      const TProject& project, const TParameterList& parameters,
                      const TXmlDocument& queryDocument, const TXSourceInfo& input);

bool CsvToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& transform, const TOutputCallback& progress,
              std::string& message);
bool XmlToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& transform, const TOutputCallback& progress,
              std::string& message);
bool XmlToJson(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform, std::string& message);
bool JsonToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform, std::string& message);
bool JsonToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform, const TOutputCallback& progress,
               std::string& message);
bool JPathTransform(const TXSourceInfo& source, const TXSourceInfo& destination,
                    const TXTransformInfo& transform, std::string& message);

// Runs the transform's script text in the engine of transform.Language.
bool RunActiveScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                     const TXTransformInfo& transform, const TParameterList& parameters,
                     std::string& message);

// Runs the transform's script text in the external zqScript interpreter;
// `parameterTexts` are the command line's name=value texts as written.
bool RunExternalScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                       const TXTransformInfo& transform, const TParameterList& parameters,
                       const std::vector<std::string>& parameterTexts, std::string& message);

}  // namespace operations
}  // namespace morvex
