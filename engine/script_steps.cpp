#include "engine/script_steps.h"

#include "engine/paths.h"
#include "engine/streams.h"
#include "engine/transform_kinds.h"
#include "text/code_pages.h"
#include "text/error.h"
#include "text/text_edit.h"
#include "text/utf.h"
#include "xml/dom.h"
#include "xml/xml_nodes.h"

namespace morvex {

namespace {

// Stream names longer than this (in UTF-16 units) are never looked up for
// query text and transform content: such text is a path or an expression.
constexpr size_t kMaxStreamNameLength = 255;

std::string NormalizedEncoding(std::string_view name) {
  std::string encoding = AsciiLower(name);
  NormalizeCharsetName(encoding);
  return encoding;
}

// The registered stream a query step or transform names, rewound so that its
// whole text is read; nullptr when the text cannot be a stream name or no
// such stream exists.
TStream* NamedStream(const std::string& name, TStreamRegistry& streams) {
  const size_t length = Utf8ToUtf16(name).size();
  if (length == 0 || length > kMaxStreamNameLength) return nullptr;
  TStream* stream = streams.FindStream(name);
  if (stream) stream->SetPosition(0);
  return stream;
}

// Step texts are trimmed: a project laid out over several lines
// (<source>\n  in.xml\n</source>) names the same file as one written on one.
// A source file is found as every file the project reads is
// (ResolveProjectFile); its text stays as written when it names no file, as
// it may name a stream. A destination is written relative to the current
// directory.
std::string LocationOf(const TEndpointElement& element, uint8_t kind, bool source,
                       const TStepContext& context) {
  switch (kind) {
    case skOledb:
      return element.ConnectionString ? TrimText(element.ConnectionString->Text) : std::string();
    case skFile: {
      // "-" is standard input or output, never a file of that name.
      const std::string text = TrimText(element.Text);
      if (text == kStandardStreamName) return text;
      if (source) {
        std::string path = ResolveProjectFile(text, context);
        if (FileExists(path)) return path;
      }
      return ResolveExistingPath(context.BaseDirectory, text);
    }
    case skStream:
      return TrimText(element.Text);
    default:
      return {};
  }
}

// True when the first character that is not white space or a control
// character is "<".
bool StartsWithTag(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return c == '<';
  }
  return false;
}

// The content of a kind that has one (its row's content rule).
void ResolveTransformContent(const TTransformElement& element, const std::string& keyword,
                             TXTransformInfo& transform, const TStepContext& context) {
  const TTransformKindRow& row = TransformKindRow(transform.Kind);
  const std::vector<std::string>& sections = element.Sections;
  if (!sections.empty()) {
    transform.Content = TrimText(sections[0]);
    transform.Kind = row.InlineForm;
    if (!row.SecondSectionKeyword.empty() && AsciiLower(keyword) == row.SecondSectionKeyword &&
        sections.size() > 1) {
      transform.SecondContent = TrimText(sections[1]);
    }
    return;
  }
  const std::string text = TrimText(element.Text);
  if (TStream* stream = NamedStream(text, context.Streams)) {
    std::string content;
    if (ReadStreamText(*stream, content)) transform.Content = std::move(content);
    transform.Kind = row.InlineForm;
    return;
  }
  const std::string path = ResolveProjectFile(text, context);
  if (row.Content != TContentRule::Expressions) {
    transform.Content = path;
    return;
  }
  if (!FileExists(path)) {
    transform.Content = LineFeedsToCrLf(text);
    return;
  }
  // Expression files are read one expression per line whatever their line
  // ends, so a file written with LF line ends lists its expressions too.
  std::string content;
  if (!LoadTextFile(content, path)) throw EMorvexError("Cannot load file! " + path);
  transform.Content = LineFeedsToCrLf(content);
}

}  // namespace

std::string ResolveProjectFile(const std::string& path, const TStepContext& context) {
  std::string resolved = ResolvePath(context.BaseDirectory, path);
  if (!FileExists(resolved)) resolved = ResolvePath(context.ProjectPath, path);
  return resolved;
}

std::string FileDoesNotExistMessage(std::string_view path) {
  std::string message = "File does not exist!";
  if (!path.empty()) message.append(": ").append(path);
  return message;
}

std::string UnwrapQueryText(std::string text) {
  if (text.find("/* <") == std::string::npos || text.find("> */") == std::string::npos) {
    return text;
  }
  ReplaceAll(text, "> */", ">");
  ReplaceAll(text, "/* <", "<");
  return text;
}

std::string WrapQueryText(std::string text) {
  if (text.find("<lsql") != std::string::npos) return text;
  return "<lsql>\r\n" + text + "\r\n</lsql>";
}

TXmlDocument ParseQueryDocument(const TLSQLInfo& query, const std::string* plainText) {
  if (query.QueryText.empty()) return nullptr;
  TXmlDocument document = LoadXmlText(query.QueryText);
  if (!HasDocumentElement(document.get()) && plainText && SanitizeUtf8(*plainText) == *plainText) {
    // Bare SQL that is no well-formed markup ("where amount < 500") is the
    // one statement, as it stands in the file.
    document = LoadXmlText("<lsql/>");
    AddTextElement(document.get(), query.CommandId, DocumentElement(document.get()), *plainText);
    return document;
  }
  if (!HasDocumentElement(document.get())) {
    const TXMLDOMParseError error = GetParseError(document.get());
    throw EMorvexError("Wrong (L)SQL syntax! [line: " + std::to_string(error.Line) +
                       ", col: " + std::to_string(error.LinePos) + "] " + error.Reason);
  }
  _xmlNode* root = DocumentElement(document.get());
  if (!HasChildElement(root)) {
    const std::string statement = ElementText(root);
    if (!statement.empty()) {
      RemoveTextChildren(root);
      AddTextElement(document.get(), query.CommandId, root, statement);
    }
  }
  return document;
}

std::string MakeTransformLabel(const TXTransformInfo& transform) {
  const TTransformKindRow& row = TransformKindRow(transform.Kind);
  const std::string label(row.Label);
  switch (row.LabelRule) {
    case TLabelRule::Label:
      return label;
    case TLabelRule::Expressions: {
      std::string expressions = LineFeedsToCrLf(transform.Content);
      ReplaceAll(expressions, "\r\n", "; ");
      return label + " (" + expressions + ")";
    }
    case TLabelRule::LanguageInline:
      return transform.Language + " (inline)";
    case TLabelRule::File:
      return transform.Content;
    case TLabelRule::FileOrLabel:
      return transform.Content.empty() ? label : transform.Content;
    case TLabelRule::FileOrLanguage:
      if (!transform.Content.empty()) return transform.Content;
      return transform.Language.empty() ? label : transform.Language;
  }
  return label;
}

void ResolveSource(const TScript& script, TScriptSteps& steps, const TStepContext& context) {
  const std::optional<TEndpointElement>& element = script.Source;
  TXSourceInfo& source = steps.Source;
  if (element) {
    source.Kind = SourceKindOf(element->Kind);
    source.Location = LocationOf(*element, source.Kind, true, context);
    source.Encoding = NormalizedEncoding(element->Encoding.value_or(std::string()));
  }
  if (!element || source.Kind == skNone) throw EMorvexError("No source specified!");
  context.OnOutput("Source:         " + DisplayedLocation(source), LevelDetail);

  if (source.Kind == skFile) {
    if (source.Location != kStandardStreamName && FileExists(source.Location)) return;
    source.Stream = context.Streams.FindStream(source.Location);
    if (!source.Stream) {
      throw EMorvexError(
          FileDoesNotExistMessage(ResolvePath(context.BaseDirectory, source.Location)));
    }
    source.Kind = skStream;
  } else if (source.Kind == skStream) {
    source.Stream = context.Streams.FindStream(source.Location);
    if (!source.Stream) throw EMorvexError(StreamDoesNotExistMessage(source.Location));
  } else {
    return;
  }
  source.Stream->SetPosition(0);
}

void ResolveQuery(const TScript& script, TScriptSteps& steps, const TStepContext& context) {
  if (!script.Query) return;
  const TQueryElement& element = *script.Query;
  TLSQLInfo& query = steps.Query;
  query.Kind = QueryKindOf(element.Kind);
  query.CommandId = element.CommandId;
  if (query.CommandId.empty()) query.CommandId = kDefaultCommandId;
  query.OneTransaction = element.OneTransaction;

  bool wrap = true;
  if (query.Kind == qkInline) {
    query.QueryText = element.Markup;
    steps.QueryLabel = "inline";
    wrap = false;
  } else if (query.Kind == qkStream) {
    steps.QueryLabel = TrimText(element.Text);
    if (TStream* stream = NamedStream(steps.QueryLabel, context.Streams)) {
      std::string text;
      if (ReadStreamText(*stream, text)) query.QueryText = std::move(text);
    }
  } else {
    const std::string text = TrimText(element.Text);
    if (text.empty()) {
      if (query.Kind == qkFile) throw EMorvexError(FileDoesNotExistMessage({}));
      query.Kind = qkNone;
      return;
    }
    query.Kind = qkFile;
    steps.QueryLabel = ResolveProjectFile(text, context);
    if (!FileExists(steps.QueryLabel)) {
      throw EMorvexError(FileDoesNotExistMessage(steps.QueryLabel));
    }
    if (!LoadTextFile(query.QueryText, steps.QueryLabel)) throw EMorvexError("Cannot load file!");
  }
  // Text without template tags, not even in comments, is bare SQL: it runs
  // as one statement also when it is not well-formed markup. SQL never
  // starts with "<": text that does is a template, and must be well-formed.
  std::string plainText;
  const bool bare =
      wrap && query.QueryText.find("<lsql") == std::string::npos && !StartsWithTag(query.QueryText);
  if (bare) plainText = query.QueryText;
  query.QueryText = UnwrapQueryText(std::move(query.QueryText));
  const bool plain = bare && query.QueryText == plainText;
  if (wrap && !query.QueryText.empty()) query.QueryText = WrapQueryText(std::move(query.QueryText));

  context.OnOutput("SQL:            " + steps.QueryLabel, LevelDetail);
  steps.QueryDocument = ParseQueryDocument(query, plain ? &plainText : nullptr);
}

void ResolveTransform(const TScript& script, TScriptSteps& steps, const TStepContext& context) {
  if (!script.Transform) return;
  const TTransformElement& element = *script.Transform;
  TXTransformInfo& transform = steps.Transform;
  const std::string& keyword = element.Kind;
  transform = element.Options;
  transform.Kind = TransformKindOf(keyword);
  if (element.Encoding) transform.Encoding = NormalizedEncoding(*element.Encoding);
  if (IsScriptKind(transform.Kind)) transform.Language = keyword;

  if (TransformKindRow(transform.Kind).Content != TContentRule::None) {
    ResolveTransformContent(element, keyword, transform, context);
  }
  steps.TransformLabel = MakeTransformLabel(transform);
}

void ResolveDestination(const TScript& script, TScriptSteps& steps, const TStepContext& context) {
  if (!script.Destination) return;
  TXSourceInfo& destination = steps.Destination;
  destination.Kind = SourceKindOf(script.Destination->Kind);
  destination.Location = LocationOf(*script.Destination, destination.Kind, false, context);
  if (destination.Kind == skFile && destination.Location == kStandardStreamName) {
    destination.Location = kStandardOutputPath;
  }
}

}  // namespace morvex
