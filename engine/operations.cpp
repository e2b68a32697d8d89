#include "engine/operations.h"

#include <optional>

#include "convert/csv_record_import.h"
#include "convert/csv_to_xml.h"
#include "convert/json_path.h"
#include "convert/json_to_csv.h"
#include "convert/json_to_xml.h"
#include "convert/xml_record_import.h"
#include "convert/xml_to_csv.h"
#include "convert/xml_to_json.h"
#include "engine/dispatch.h"
#include "engine/parameters.h"
#include "engine/project_loader.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "engine/transform_kinds.h"
#include "scripting/interpreter_bridge.h"
#include "scripting/script_host.h"
#include "templates/template_session.h"
#include "text/encoding.h"
#include "text/error.h"
#include "xml/dom.h"
#include "xml/xml_nodes.h"
#include "xml/xml_options.h"
#include "xml/xml_save.h"
#include "xml/xpath.h"
#include "xml/xslt.h"

namespace morvex::operations {

namespace {

// The writer options a query step takes from its transform.
TDatasetWriterOptions WriterOptions(const TXTransformInfo& transform) {
  TDatasetWriterOptions options;
  options.TransformKind = TransformKindRow(transform.Kind).QueryWrites;
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
// handed over, as read-only views of the documents' elements.
struct TTemplateInput {
  TXmlElement Root;
  TXmlElement Declarations;
};

TTemplateInput TemplateInput(const TProject& project, const TXmlDocument& queryDocument) {
  return {ElementView(DocumentElement(queryDocument.get())),
          ElementView(FirstChildElement(DocumentElement(project.Document.get()), "parameters"))};
}

// The operations of the lower folders report failure as false with a
// message; an operation here raises it.
void RaiseUnless(bool done, std::string& message) {
  if (!done) throw EMorvexError(std::move(message));
}

// Imports the records of the call's source into its destination's database
// with `importer`, under the session of the query template.
template <typename Importer>
void ImportRecords(const TOperationCall& call, Importer importer) {
  const TXTransformInfo& transform = call.Steps.Transform;
  const TConvertEndpoint source = Endpoint(call.Source);
  const TConvertOptions options = ConvertOptions(transform);
  const ProgressSink sink = DetailSink(call.Context.OnOutput);
  const std::vector<std::string>& entries = call.Context.Parameters.Entries();
  const TTemplateInput input = TemplateInput(call.Context.Project, call.Steps.QueryDocument);
  RunImportSession(call.Destination.Location, call.Steps.Query.OneTransaction,
                   WriterOptions(transform), sink, input.Declarations, entries, input.Root,
                   [&](TLSQLConnHelper& helper, const TTemplateTree& tree) {
                     importer(source, options, tree, sink, helper, entries);
                   });
}

// "=" + expression: the expression's string value becomes the whole output.
void XPathValue(const TXSourceInfo& source, const TXTransformInfo& transform,
                const TXSourceInfo& destination) {
  const std::string_view expression = std::string_view(transform.Content).substr(1);
  const TEncoding& encoding = EncodingForName(transform.Encoding);
  std::string text;
  const bool done =
      source.Kind == skStream
          ? EvaluateXPathText(*source.Stream, expression, text, transform.SelNamespaces)
          : EvaluateXPathText(source.Location, expression, text, transform.SelNamespaces);
  RaiseUnless(done, text);
  // A result that cannot be written is a failed step, not a success.
  if (destination.Kind == skFile) {
    if (!SaveTextToFile(text, destination.Location, true, &encoding)) {
      throw EMorvexError("Cannot write file " + destination.Location);
    }
  } else if (!WriteTextToStream(text, *destination.Stream, &encoding, true)) {
    throw EMorvexError("Cannot write stream " + destination.Location);
  }
}

// Node selection: the selected nodes copied into a new document.
void XPathSelection(const TXSourceInfo& source, const TXTransformInfo& transform,
                    const TXSourceInfo& destination, const TOutputCallback& onOutput) {
  std::optional<TXmlOptions> options;
  const TXmlOptions& defaults = DefaultXmlOptions();
  if (transform.Encoding != "utf-8" || transform.Indent != defaults.Indent) {
    options = defaults;
    options->Encoding = transform.Encoding;
    options->Indent = transform.Indent;
  }
  const TXmlOptions* outputOptions = options ? &*options : nullptr;
  std::string message;
  const auto toDestination = [&](auto&& input) {
    if (destination.Kind == skFile) {
      return SelectXmlToDocument(input, destination.Location, transform.Content, outputOptions,
                                 transform.Namespaces, transform.SelNamespaces, transform.RecordTag,
                                 message);
    }
    return SelectXmlToDocument(input, *destination.Stream, transform.Content, outputOptions,
                               transform.Namespaces, transform.SelNamespaces, transform.RecordTag,
                               message);
  };
  const int count =
      source.Kind == skStream ? toDestination(*source.Stream) : toDestination(source.Location);
  RaiseUnless(count >= 0, message);
  onOutput(std::to_string(count) + " record(s) processed.", LevelDetail);
}

// A script without a destination gets an empty destination description.
TScriptSourceInfo ScriptDestination(const TXSourceInfo& destination) {
  return ScriptSourceInfo(destination.Kind == skNone ? TXSourceInfo{} : destination);
}

}  // namespace

void RunQuerySession(const TScriptSteps& steps, const TDispatchContext& context, TStream& output) {
  const TTemplateInput input = TemplateInput(context.Project, steps.QueryDocument);
  RunQueryTemplate(steps.Source.Location, steps.Query.OneTransaction,
                   WriterOptions(steps.Transform), DetailSink(context.OnOutput), output,
                   input.Declarations, context.Parameters.Entries(), input.Root);
}

void CopyUnchanged(const TOperationCall& call) {
  CopySourceToDestination(call.Source, call.Destination);
}

void CsvRecordsIntoDatabase(const TOperationCall& call) { ImportRecords(call, ImportCsvRecords); }

void XmlRecordsIntoDatabase(const TOperationCall& call) { ImportRecords(call, ImportXmlRecords); }

void TransformXslt(const TOperationCall& call) {
  const TXSourceInfo& source = call.Source;
  const TXSourceInfo& destination = call.Destination;
  const TXTransformInfo& transform = call.Steps.Transform;
  const TTransformParameters& parameters = call.Context.TransformParameters;
  std::string message;
  const auto toDestination = [&](auto&& input, auto&& stylesheet) {
    if (destination.Kind == skFile) {
      return TransformXml(input, stylesheet, destination.Location, parameters, message);
    }
    return TransformXml(input, stylesheet, *destination.Stream, parameters, message);
  };
  const auto withStylesheet = [&](auto&& input) {
    if (transform.Kind == tkXsltInline) {
      return toDestination(input, TStylesheetText{transform.Content});
    }
    return toDestination(input, transform.Content);
  };
  RaiseUnless(
      source.Kind == skStream ? withStylesheet(*source.Stream) : withStylesheet(source.Location),
      message);
}

void SelectXPath(const TOperationCall& call) {
  const TXTransformInfo& transform = call.Steps.Transform;
  if (!transform.Content.empty() && transform.Content.front() == '=') {
    XPathValue(call.Source, transform, call.Destination);
  } else {
    XPathSelection(call.Source, transform, call.Destination, call.Context.OnOutput);
  }
}

void CsvToXml(const TOperationCall& call) {
  std::string message;
  RaiseUnless(::morvex::CsvToXml(Endpoint(call.Source), Endpoint(call.Destination),
                                 ConvertOptions(call.Steps.Transform),
                                 DetailSink(call.Context.OnOutput), message),
              message);
}

void XmlToCsv(const TOperationCall& call) {
  std::string message;
  RaiseUnless(::morvex::XmlToCsv(Endpoint(call.Source), Endpoint(call.Destination),
                                 ConvertOptions(call.Steps.Transform),
                                 DetailSink(call.Context.OnOutput), message),
              message);
}

void XmlToJson(const TOperationCall& call) {
  std::string message;
  RaiseUnless(::morvex::XmlToJson(Endpoint(call.Source), Endpoint(call.Destination),
                                  ConvertOptions(call.Steps.Transform), message),
              message);
}

void JsonToXml(const TOperationCall& call) {
  std::string message;
  RaiseUnless(::morvex::JsonToXml(Endpoint(call.Source), Endpoint(call.Destination),
                                  ConvertOptions(call.Steps.Transform), message),
              message);
}

void JsonToCsv(const TOperationCall& call) {
  std::string message;
  RaiseUnless(::morvex::JsonToCsv(Endpoint(call.Source), Endpoint(call.Destination),
                                  ConvertOptions(call.Steps.Transform),
                                  DetailSink(call.Context.OnOutput), message),
              message);
}

void JPathTransform(const TOperationCall& call) {
  std::string message;
  RaiseUnless(::morvex::JPathTransform(Endpoint(call.Source), Endpoint(call.Destination),
                                       ConvertOptions(call.Steps.Transform), message),
              message);
}

void RunActiveScript(const TOperationCall& call) {
  std::string message;
  RaiseUnless(
      ::morvex::RunActiveScript(ScriptSourceInfo(call.Source), ScriptDestination(call.Destination),
                                ScriptTransformInfo(call.Steps.Transform),
                                &call.Context.Parameters.Entries(), message),
      message);
}

void RunExternalScript(const TOperationCall& call) {
  std::string message;
  RaiseUnless(::morvex::RunExternalScript(
                  ScriptSourceInfo(call.Source), ScriptDestination(call.Destination),
                  ScriptTransformInfo(call.Steps.Transform), &call.Context.Parameters.Entries(),
                  call.Context.ParameterTexts, message),
              message);
}

}  // namespace morvex::operations
