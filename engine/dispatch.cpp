// Dispatch in three branches by source:
//
//   A. database source with a query document: the query template writes its
//      results into QueryOutput, which the transformation then reads as a
//      stream source (or which is itself the result for the xml and csv
//      kinds);
//   B. database source without a query document: only scripts, which reach
//      the database themselves;
//   C. file or stream source: one conversion, transformation, script or copy.
//
// Every combination is checked before anything runs, so a rejected script
// never starts a database session nor touches an output.
//
// Streams: the source stream and every named destination stream belong to
// the registry. QueryOutput belongs to this dispatch for one script: it is a
// file stream at the destination path when the query results are the output
// file itself (xml or csv kind, file destination), otherwise a memory stream;
// for the xml and csv kinds with a stream destination it is handed to the
// registry under the destination's name, replacing any stream of that name.
#include "engine/dispatch.h"

#include <memory>
#include <optional>
#include <string_view>

#include "engine/operations.h"
#include "engine/parameters.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/xml_endpoints.h"
#include "xml/xml_nodes.h"
#include "xml/xml_options.h"
#include "xml/xml_save.h"
#include "xml/xpath.h"
#include "xml/xslt.h"

namespace morvex {

namespace {

constexpr std::string_view kXslPrefix = "XSL Transformation error: ";
constexpr std::string_view kXPathPrefix = "XPath selection error: ";
constexpr std::string_view kJPathPrefix = "JPath selection error: ";
constexpr std::string_view kCsvToXmlPrefix = "CSV to XML transformation error: ";
constexpr std::string_view kXmlToCsvPrefix = "XML to CSV transformation error: ";
constexpr std::string_view kXmlToJsonPrefix = "XML to JSON transformation error: ";
constexpr std::string_view kJsonToXmlPrefix = "JSON to XML transformation error: ";
constexpr std::string_view kJsonToCsvPrefix = "JSON to CSV transformation error: ";
constexpr std::string_view kScriptHostPrefix = "Windows Script Host error: ";
constexpr std::string_view kZqScriptPrefix = "zqScript error: ";

constexpr const char* kDestinationRequired = "Destination must be specified!";
constexpr const char* kDatabaseNotAllowed =
    "Database like destination is not allowed in this context!";
constexpr const char* kDatabaseNeedsQuery =
    "Database destination requires sql script specification in this context!";
constexpr const char* kTransformRequired = "Transformation must be specified in this context!";
constexpr const char* kJsonImport = "Import from JSON format is not currently supported!";
constexpr const char* kNotSupported =
    "This combination of Source, (L)SQL, Transformation and Destination is not supported!";

[[noreturn]] void Fail(std::string_view prefix, const std::string& message) {
  throw EMorvexError(std::string(prefix) + message);
}

// Runs an operation that raises with the message that follows `prefix`.
template <typename Operation>
void Prefixed(std::string_view prefix, Operation&& operation) {
  try {
    operation();
  } catch (const std::exception& error) {
    Fail(prefix, error.what());
  }
}

bool IsActiveScriptKind(uint8_t kind) { return kind == tkScript || kind == tkScriptInline; }

// Takes a stream destination's stream from the registry, emptied.
void PrepareDestinationStream(TXSourceInfo& destination, TStreamRegistry& streams) {
  if (destination.Kind == skStream) {
    destination.Stream = &streams.GetOrCreateStream(destination.Location);
  }
}

void RunScript(const TXSourceInfo& source, const TScriptSteps& steps,
               const TDispatchContext& context) {
  // A script without a destination gets an empty destination description.
  const TXSourceInfo destination =
      steps.Destination.Kind == skNone ? TXSourceInfo{} : steps.Destination;
  if (IsActiveScriptKind(steps.Transform.Kind)) {
    Prefixed(kScriptHostPrefix, [&] {
      operations::RunActiveScript(source, destination, steps.Transform, context.Parameters);
    });
  } else {
    Prefixed(kZqScriptPrefix, [&] {
      operations::RunExternalScript(source, destination, steps.Transform, context.Parameters,
                                    context.ParameterTexts);
    });
  }
}

// Hands `use` the stream of a stream source, or the file of a file source
// opened for reading with its path.
template <typename Use>
void WithSourceStream(const TXSourceInfo& source, Use&& use) {
  if (source.Kind == skStream) {
    use(*source.Stream, std::string());
    return;
  }
  TFileStream file(source.Location, TFileStream::Mode::Read);
  use(file, source.Location);
}

// Hands `use` the output of a file destination (created only when the result
// is ready) or of a stream destination.
template <typename Use>
void WithXmlOutput(const TXSourceInfo& destination, Use&& use) {
  if (destination.Kind == skFile) {
    TXmlFileOutput output(destination.Location);
    use(output);
  } else {
    TXmlStreamOutput output(*destination.Stream);
    use(output);
  }
}

// TransformXml from a file or stream source, with a stylesheet file or text,
// to a file or stream destination.
void RunXslt(const TXSourceInfo& source, const TXTransformInfo& transform,
             const TXSourceInfo& destination, const TTransformParameters& parameters) {
  const TStylesheet stylesheet = transform.Kind == tkXsltInline
                                     ? TStylesheet::Text(transform.Content)
                                     : TStylesheet::File(transform.Content);
  Prefixed(kXslPrefix, [&] {
    WithSourceStream(source, [&](TStream& stream, const std::string& path) {
      WithXmlOutput(destination, [&](TXmlOutput& output) {
        TransformXml(TXmlSource{stream, path}, stylesheet, output, parameters);
      });
    });
  });
}

// "=" + expression: the expression's string value becomes the whole output.
void RunXPathValue(const TXSourceInfo& source, const TXTransformInfo& transform,
                   const TXSourceInfo& destination) {
  const std::string_view expression = std::string_view(transform.Content).substr(1);
  const TEncoding* encoding = nullptr;
  std::string text;
  Prefixed(kXPathPrefix, [&] {
    encoding = &EncodingForName(transform.Encoding);
    WithSourceStream(source, [&](TStream& stream, const std::string& path) {
      text = EvaluateXPathText(TXmlSource{stream, path}, expression, transform.SelNamespaces);
    });
  });
  // A result that cannot be written is a failed step, not a success.
  if (destination.Kind == skFile) {
    if (!SaveTextToFile(text, destination.Location, true, encoding)) {
      Fail(kXPathPrefix, "Cannot write file " + destination.Location);
    }
  } else if (!WriteTextToStream(text, *destination.Stream, encoding, true)) {
    Fail(kXPathPrefix, "Cannot write stream " + destination.Location);
  }
}

// Node selection: the selected nodes copied into a new document.
void RunXPathSelection(const TXSourceInfo& source, const TXTransformInfo& transform,
                       const TXSourceInfo& destination, const TOutputCallback& onOutput) {
  std::optional<TXmlOptions> options;
  const TXmlOptions& defaults = DefaultXmlOptions();
  if (transform.Encoding != "utf-8" || transform.Indent != defaults.Indent) {
    options = defaults;
    options->Encoding = transform.Encoding;
    options->Indent = transform.Indent;
  }
  const TXmlOptions* outputOptions = options ? &*options : nullptr;
  int count = 0;
  Prefixed(kXPathPrefix, [&] {
    WithSourceStream(source, [&](TStream& stream, const std::string&) {
      WithXmlOutput(destination, [&](TXmlOutput& output) {
        count =
            SelectXmlToDocument(stream, output, transform.Content, outputOptions,
                                transform.Namespaces, transform.SelNamespaces, transform.RecordTag);
      });
    });
  });
  onOutput(std::to_string(count) + " record(s) processed.", LevelDetail);
}

// XPath with a file or stream destination (the callers reject the others).
void RunXPath(const TXSourceInfo& source, const TXTransformInfo& transform,
              const TXSourceInfo& destination, const TOutputCallback& onOutput) {
  if (!transform.Content.empty() && transform.Content.front() == '=') {
    RunXPathValue(source, transform, destination);
  } else {
    RunXPathSelection(source, transform, destination, onOutput);
  }
}

void CheckDatabaseQueryCombination(const TScriptSteps& steps) {
  const uint8_t kind = steps.Transform.Kind;
  const TXSourceInfo& destination = steps.Destination;
  if (kind == tkNone && destination.Kind != skNone) throw EMorvexError(kTransformRequired);
  // Query results cannot feed the JSON input kinds; refuse before the query
  // runs rather than discard its output.
  if (kind == tkJsonXml || kind == tkJsonCsv || kind == tkJPath) {
    throw EMorvexError(kNotSupported);
  }
  if (IsConversionKind(kind)) {
    if (destination.Kind == skNone) throw EMorvexError(kDestinationRequired);
    if (destination.Kind == skOledb) throw EMorvexError(kDatabaseNotAllowed);
  }
}

// A: database source with a query document.
void DispatchDatabaseQuery(TScriptSteps& steps, const TDispatchContext& context) {
  CheckDatabaseQueryCombination(steps);
  const uint8_t kind = steps.Transform.Kind;
  TXSourceInfo& destination = steps.Destination;

  const bool resultIsOutput = kind == tkXml || kind == tkCsv;
  std::unique_ptr<TStream> queryOutput;
  TFileStream* outputFile = nullptr;
  if (resultIsOutput && destination.Kind == skFile) {
    auto file = std::make_unique<TFileStream>(destination.Location, TFileStream::Mode::Create);
    outputFile = file.get();
    queryOutput = std::move(file);
  } else {
    queryOutput = std::make_unique<TMemoryStream>();
  }
  operations::RunQueryTemplate(steps.Source, steps.Query, steps.Transform, context.OnOutput,
                               *queryOutput, context.ParametersElement, context.Parameters,
                               DocumentElement(steps.QueryDocument.get()));
  // An output file is only closed: a FIFO or device cannot be rewound.
  if (outputFile) {
    outputFile->Close();
    return;
  }
  queryOutput->SetPosition(0);

  if (resultIsOutput) {
    destination.Stream =
        &context.Streams.GetOrCreateStream(destination.Location, std::move(queryOutput));
    return;
  }
  if (kind == tkNone) return;
  PrepareDestinationStream(destination, context.Streams);

  TXSourceInfo sourceAsStream = steps.Source;
  sourceAsStream.Kind = skStream;
  sourceAsStream.Stream = queryOutput.get();
  switch (kind) {
    case tkXslt:
    case tkXsltInline:
      RunXslt(sourceAsStream, steps.Transform, destination, context.TransformParameters);
      break;
    case tkXPath:
      RunXPath(sourceAsStream, steps.Transform, destination, context.OnOutput);
      break;
    case tkJson:
      Prefixed(kXmlToJsonPrefix,
               [&] { operations::XmlToJson(sourceAsStream, destination, steps.Transform); });
      break;
    default:
      RunScript(sourceAsStream, steps, context);
      break;
  }
}

// B: database source without a query document.
void DispatchDatabaseSource(TScriptSteps& steps, const TDispatchContext& context) {
  if (!IsScriptKind(steps.Transform.Kind)) throw EMorvexError(kNotSupported);
  PrepareDestinationStream(steps.Destination, context.Streams);
  RunScript(steps.Source, steps, context);
}

void CheckFileOrStreamCombination(const TScriptSteps& steps) {
  const uint8_t kind = steps.Transform.Kind;
  switch (steps.Destination.Kind) {
    case skNone:
      if (!IsScriptKind(kind)) throw EMorvexError(kDestinationRequired);
      break;
    case skOledb:
      if (steps.QueryDocument) {
        if (kind != tkXml && kind != tkCsv && kind != tkJson) {
          throw EMorvexError(kDatabaseNotAllowed);
        }
      } else if (!IsScriptKind(kind)) {
        throw EMorvexError(kDatabaseNeedsQuery);
      }
      break;
    default:
      break;
  }
}

// C: file or stream source.
void DispatchFileOrStream(TScriptSteps& steps, const TDispatchContext& context) {
  CheckFileOrStreamCombination(steps);
  const TXSourceInfo& source = steps.Source;
  TXSourceInfo& destination = steps.Destination;
  const TXTransformInfo& transform = steps.Transform;
  const bool toDatabase = destination.Kind == skOledb;
  PrepareDestinationStream(destination, context.Streams);

  const auto import = [&] {
    operations::RunImportSession(destination, steps.Query, transform, context.OnOutput,
                                 context.ParametersElement, context.Parameters,
                                 DocumentElement(steps.QueryDocument.get()), source);
  };
  switch (transform.Kind) {
    case tkNone:
      CopySourceToDestination(source, destination);
      break;
    case tkXml:
      if (toDatabase) {
        import();
      } else {
        Prefixed(kCsvToXmlPrefix,
                 [&] { operations::CsvToXml(source, destination, transform, context.OnOutput); });
      }
      break;
    case tkXslt:
    case tkXsltInline:
      RunXslt(source, transform, destination, context.TransformParameters);
      break;
    case tkCsv:
      if (toDatabase) {
        import();
      } else {
        Prefixed(kXmlToCsvPrefix,
                 [&] { operations::XmlToCsv(source, destination, transform, context.OnOutput); });
      }
      break;
    case tkXPath:
      RunXPath(source, transform, destination, context.OnOutput);
      break;
    case tkJson:
      if (toDatabase) throw EMorvexError(kJsonImport);
      Prefixed(kXmlToJsonPrefix, [&] { operations::XmlToJson(source, destination, transform); });
      break;
    case tkJsonXml:
      if (toDatabase) throw EMorvexError(kNotSupported);
      Prefixed(kJsonToXmlPrefix, [&] { operations::JsonToXml(source, destination, transform); });
      break;
    case tkJsonCsv:
      if (toDatabase) throw EMorvexError(kNotSupported);
      Prefixed(kJsonToCsvPrefix,
               [&] { operations::JsonToCsv(source, destination, transform, context.OnOutput); });
      break;
    case tkJPath:
      if (toDatabase) throw EMorvexError(kNotSupported);
      Prefixed(kJPathPrefix, [&] { operations::JPathTransform(source, destination, transform); });
      break;
    default:
      RunScript(source, steps, context);
      break;
  }
}

}  // namespace

void CheckStepCombination(const TScriptSteps& steps) {
  if (steps.Source.Kind == skOledb) {
    if (steps.QueryDocument) {
      CheckDatabaseQueryCombination(steps);
    } else if (!IsScriptKind(steps.Transform.Kind)) {
      throw EMorvexError(kNotSupported);
    }
    return;
  }
  CheckFileOrStreamCombination(steps);
  if (steps.Destination.Kind == skOledb && steps.Transform.Kind == tkJson) {
    throw EMorvexError(kJsonImport);
  }
}

void DispatchScript(TScriptSteps& steps, const TDispatchContext& context) {
  if (steps.Source.Kind == skOledb) {
    if (steps.QueryDocument) {
      DispatchDatabaseQuery(steps, context);
    } else {
      DispatchDatabaseSource(steps, context);
    }
  } else {
    DispatchFileOrStream(steps, context);
  }
}

}  // namespace morvex
