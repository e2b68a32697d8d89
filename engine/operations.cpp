#include "engine/operations.h"

#include <optional>

#include "convert/csv_record_import.h"
#include "convert/xml_record_import.h"
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
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/xml_endpoints.h"
#include "xml/xml_nodes.h"
#include "xml/xml_options.h"
#include "xml/xml_save.h"
#include "xml/xpath.h"
#include "xml/xslt.h"

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

// Imports the records of the call's source into its destination's database
// with `importer`, under the session of the query template.
template <typename Importer>
void ImportRecords(const TOperationCall& call, Importer importer) {
  const TXTransformInfo& transform = call.Steps.Transform;
  const ProgressSink sink = DetailSink(call.Context.OnOutput);
  const std::vector<std::string>& entries = call.Context.Parameters.Entries();
  const TTemplateInput input = TemplateInput(call.Context.Project, call.Steps.QueryDocument);
  RunImportSession(call.Destination.Location, call.Steps.Query.OneTransaction, sink,
                   input.Declarations, entries, input.Root,
                   [&](TLSQLConnHelper& helper, const TTemplateTree& tree) {
                     importer(call.Source, transform, tree, sink, helper, entries);
                   });
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

// "=" + expression: the expression's string value becomes the whole output.
void XPathValue(const TXSourceInfo& source, const TXTransformInfo& transform,
                const TXSourceInfo& destination) {
  const std::string_view expression = std::string_view(transform.Content).substr(1);
  const TEncoding& encoding = EncodingForName(transform.Encoding);
  std::string text;
  WithSourceStream(source, [&](TStream& stream, const std::string& path) {
    text = EvaluateXPathText(TXmlSource{stream, path}, expression, transform.SelNamespaces);
  });
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
  int count = 0;
  WithSourceStream(source, [&](TStream& stream, const std::string&) {
    WithXmlOutput(destination, [&](TXmlOutput& output) {
      count =
          SelectXmlToDocument(stream, output, transform.Content, outputOptions,
                              transform.Namespaces, transform.SelNamespaces, transform.RecordTag);
    });
  });
  onOutput(std::to_string(count) + " record(s) processed.", LevelDetail);
}

// A script without a destination gets an empty destination description.
TXSourceInfo ScriptDestination(const TXSourceInfo& destination) {
  return destination.Kind == skNone ? TXSourceInfo{} : destination;
}

}  // namespace

void RunQuerySession(const TScriptSteps& steps, const TDispatchContext& context, TStream& output) {
  const TTemplateInput input = TemplateInput(context.Project, steps.QueryDocument);
  RunQueryTemplate(steps.Source.Location, steps.Query.OneTransaction,
                   TransformKindRow(steps.Transform.Kind).QueryWrites, steps.Transform,
                   DetailSink(context.OnOutput), output, input.Declarations,
                   context.Parameters.Entries(), input.Root);
}

void CopyUnchanged(const TOperationCall& call) {
  CopySourceToDestination(call.Source, call.Destination);
}

void CsvRecordsIntoDatabase(const TOperationCall& call) { ImportRecords(call, ImportCsvRecords); }

void XmlRecordsIntoDatabase(const TOperationCall& call) { ImportRecords(call, ImportXmlRecords); }

void TransformXslt(const TOperationCall& call) {
  const TXTransformInfo& transform = call.Steps.Transform;
  const TStylesheet stylesheet = transform.Kind == tkXsltInline
                                     ? TStylesheet::Text(transform.Content)
                                     : TStylesheet::File(transform.Content);
  WithSourceStream(call.Source, [&](TStream& stream, const std::string& path) {
    WithXmlOutput(call.Destination, [&](TXmlOutput& output) {
      TransformXml(TXmlSource{stream, path}, stylesheet, output, call.Context.TransformParameters);
    });
  });
}

void SelectXPath(const TOperationCall& call) {
  const TXTransformInfo& transform = call.Steps.Transform;
  if (!transform.Content.empty() && transform.Content.front() == '=') {
    XPathValue(call.Source, transform, call.Destination);
  } else {
    XPathSelection(call.Source, transform, call.Destination, call.Context.OnOutput);
  }
}

void RunConversion(TConversion convert, const TOperationCall& call) {
  convert(call.Source, call.Destination, call.Steps.Transform, DetailSink(call.Context.OnOutput));
}

void RunActiveScript(const TOperationCall& call) {
  ::morvex::RunActiveScript(call.Source, ScriptDestination(call.Destination), call.Steps.Transform,
                            &call.Context.Parameters.Entries());
}

void RunExternalScript(const TOperationCall& call) {
  ::morvex::RunExternalScript(call.Source, ScriptDestination(call.Destination),
                              call.Steps.Transform, &call.Context.Parameters.Entries(),
                              call.Context.ParameterTexts);
}

}  // namespace morvex::operations
