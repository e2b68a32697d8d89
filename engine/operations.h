// The step operations that the dispatcher reaches and that live in other
// subsystems (query templates, format conversions, script hosting). Each is
// one small function with the arguments its subsystem takes, so that the
// dispatch table never changes when an operation arrives: its body here
// becomes a call of the real operation.
//
// Every operation raises on failure: conversions and script runs with the
// message that follows the dispatcher's step prefix, which the dispatcher
// adds; the database sessions with their own message. An operation that this build does not have
// fails with a message that names it: nothing silently succeeds.
#pragma once

#include <string>
#include <vector>

#include "engine/project_defs.h"
#include "engine/run_callbacks.h"

struct _xmlNode;

namespace morvex {

class TParameterList;
class TStream;

namespace operations {

// Runs a query template against the source's database and writes its
// results to `output` (dataset XML, or CSV for the csv kinds; nothing more
// than the statements' counts without a transformation).
void RunQueryTemplate(const TXSourceInfo& source, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      TStream& output, const _xmlNode* parametersElement,
                      const TParameterList& parameters, _xmlNode* templateRoot);

// Imports the XML or CSV records of `input` into the destination's database,
// running the template once per record.
void RunImportSession(const TXSourceInfo& destination, const TLSQLInfo& query,
                      const TXTransformInfo& transform, const TOutputCallback& progress,
                      const _xmlNode* parametersElement, const TParameterList& parameters,
                      _xmlNode* templateRoot, const TXSourceInfo& input);

void CsvToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& transform, const TOutputCallback& progress);
void XmlToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& transform, const TOutputCallback& progress);
void XmlToJson(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform);
void JsonToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform);
void JsonToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& transform, const TOutputCallback& progress);
void JPathTransform(const TXSourceInfo& source, const TXSourceInfo& destination,
                    const TXTransformInfo& transform);

// Runs the transform's script text in the engine of transform.Language.
void RunActiveScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                     const TXTransformInfo& transform, const TParameterList& parameters);

// Runs the transform's script text in the external zqScript interpreter;
// `parameterTexts` are the command line's name=value texts as written.
void RunExternalScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                       const TXTransformInfo& transform, const TParameterList& parameters,
                       const std::vector<std::string>& parameterTexts);

}  // namespace operations
}  // namespace morvex
