// The operations the dispatcher runs, one function each, all of one shape
// (TOperation) so that a kind's row in engine/transform_kinds.h names the
// one to call. Most reach the folder that does the work (convert, xml,
// scripting, templates) and pass it the script's records.
//
// An operation raises EMorvexError (or another std::exception) when it
// fails, with the message that follows the kind's step prefix; the
// dispatcher puts the prefix before it. The database sessions (the query
// template and the imports) raise with their own message, which is shown
// as it is.
#pragma once

#include <string>
#include <vector>

#include "engine/project_defs.h"
#include "engine/run_callbacks.h"

namespace morvex {

class TStream;
struct TDispatchContext;
struct TScriptSteps;

namespace operations {

// What one operation reads: the source (a file or stream source, or a
// query's output given as a stream source), the destination (a stream
// destination's stream is already taken from the registry), the script's
// resolved steps and the run.
struct TOperationCall {
  const TXSourceInfo& Source;
  const TXSourceInfo& Destination;
  const TScriptSteps& Steps;
  const TDispatchContext& Context;
};

using TOperation = void (*)(const TOperationCall& call);

// Runs the query template of `steps` against the source's database and
// writes its results to `output` (dataset XML, or CSV, or nothing more than
// the statements' counts, as the kind's row says). The template is built
// from the script's query document, its parameter types from the project's
// declarations.
void RunQuerySession(const TScriptSteps& steps, const TDispatchContext& context, TStream& output);

// No transformation: the source copied to the destination unchanged.
void CopyUnchanged(const TOperationCall& call);

// The records of the input, CSV or XML, into the destination's database,
// the query template run once per record.
void CsvRecordsIntoDatabase(const TOperationCall& call);
void XmlRecordsIntoDatabase(const TOperationCall& call);

// An XSLT stylesheet (a file, or its text for tkXsltInline) applied.
void TransformXslt(const TOperationCall& call);
// XPath: "=" + expression writes the expression's string value, anything
// else copies the selected nodes into a new document and reports
// "<n> record(s) processed.".
void SelectXPath(const TOperationCall& call);

// A conversion of convert/ (CsvToXml, XmlToJson, ...): reads the source,
// writes the destination as the transform record says, sends its progress
// and summary lines to `progress`, raises when it fails. A conversion kind's
// row runs one through Conversion<> (engine/transform_kinds.cpp), so a new
// conversion needs no code here.
using TConversion = void (*)(const TXSourceInfo& source, const TXSourceInfo& destination,
                             const TXTransformInfo& transform, const ProgressSink& progress);
void RunConversion(TConversion convert, const TOperationCall& call);

// The transform's script text in the engine of transform.Language.
void RunActiveScript(const TOperationCall& call);
// The transform's script text in the external zqScript interpreter, which
// also receives the command line's name=value texts as written.
void RunExternalScript(const TOperationCall& call);

}  // namespace operations
}  // namespace morvex
