// Resolving one script record into the records of its four steps: the
// source, the query step with its parsed query document, the transformation
// and the destination. Resolving reads the files and streams the steps name
// (query text, stylesheet or expression text from a stream, expression
// files), reports the resolved steps through the output callback and raises
// EMorvexError with the message a user reads when a step cannot be used.
#pragma once

#include <string>
#include <string_view>

#include "engine/project_defs.h"
#include "engine/project_loader.h"
#include "engine/run_callbacks.h"
#include "xml/xml_document.h"

namespace morvex {

class TStreamRegistry;

// One script's resolved steps; reset for every script.
struct TScriptSteps {
  TXSourceInfo Source;
  TLSQLInfo Query;
  std::string QueryLabel;      // "inline", the stream name or the query file path
  TXmlDocument QueryDocument;  // null when the script has no query document
  TXTransformInfo Transform;
  std::string TransformLabel;  // what the "Transformation: " line shows
  TXSourceInfo Destination;    // Kind skNone when there is none
};

// What resolving reads from the run. Every file the project reads (source,
// query file, stylesheet, script) is taken against BaseDirectory first and,
// when no such file is there, against ProjectPath's directory; destinations
// against BaseDirectory alone, since they are written where the run is.
struct TStepContext {
  const std::string& BaseDirectory;
  const std::string& ProjectPath;
  TStreamRegistry& Streams;
  const TOutputCallback& OnOutput;
};

// A query file, stylesheet, script or expression file the project names:
// `path` against BaseDirectory, or against ProjectPath when that names no
// existing file.
std::string ResolveProjectFile(const std::string& path, const TStepContext& context);

// "File does not exist!" followed by ": " and the path that was looked for;
// the bare message when no path was given at all.
std::string FileDoesNotExistMessage(std::string_view path);

// The source: kind, location and encoding; reports "Source:         " +
// location. A file that does not exist is looked up as a stream of that name
// (this is how "StdIn" works), and a file source "-" is always "StdIn"; a
// stream source is rewound. Raises "No source specified!", "File does not
// exist!: <path>", "Stream does not exist!: <name>".
void ResolveSource(const TScript& script, TScriptSteps& steps, const TStepContext& context);

// The query step, when the script has an `lsql` element: its text (inline
// markup, stream text or file text, unwrapped and wrapped), the
// "SQL:            " line and the parsed query document. Raises "File does
// not exist!: <path>" (the bare message for a file query without a name),
// "Cannot load file!" and "Wrong (L)SQL syntax! [line: L, col: C] reason".
void ResolveQuery(const TScript& script, TScriptSteps& steps, const TStepContext& context);

// The transformation, when the script has a `transform` element: options,
// content (CDATA, stream text, file path, or expressions) and TransformLabel.
// Raises "Cannot load file! <path>" for an unreadable expression file.
void ResolveTransform(const TScript& script, TScriptSteps& steps, const TStepContext& context);

// The destination, when the script has a `destination` element: kind and
// location (nothing is reported or checked here). A file destination "-" is
// standard output, kStandardOutputPath.
void ResolveDestination(const TScript& script, TScriptSteps& steps, const TStepContext& context);

// Query text written as SQL comments around markup loses the comment marks:
// when `text` holds both "/* <" and "> */", every "> */" becomes ">" and
// every "/* <" becomes "<".
std::string UnwrapQueryText(std::string text);

// Bare SQL from a stream or file becomes a template: text without "<lsql"
// anywhere is enclosed in "<lsql>" CR LF ... CR LF "</lsql>".
std::string WrapQueryText(std::string text);

// Parses `query.QueryText` (empty text: no document). A template root without
// any child element holds one statement: its text moves into a child element
// named `query.CommandId`. `plainText`, when given, is the bare SQL the text
// was wrapped from: when the text is not well-formed (the SQL holds "<" or
// "&"), that SQL, valid UTF-8, becomes the one statement as it stands.
// Otherwise raises "Wrong (L)SQL syntax! [line: L, col: C] reason" for text
// that is not well-formed.
TXmlDocument ParseQueryDocument(const TLSQLInfo& query, const std::string* plainText = nullptr);

// The text shown for a transformation: "xml", "xslt (inline)", "csv",
// "xpath (<expressions>)" with each line end shown as "; ", "json", "<Language>
// (inline)", "json/xml", "json/csv", "jpath (<path>)", or the file path of a
// stylesheet or script; empty for no transformation.
std::string MakeTransformLabel(const TXTransformInfo& transform);

}  // namespace morvex
