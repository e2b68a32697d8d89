// The project check.
//
// The walk follows the run's order (parameters, then each root `script` in
// document order, its steps in the order source, query step, transformation,
// destination) so that problems come out in the order a reader meets them.
// Steps are resolved with the runner's own resolvers, from the same project
// records, on a stream registry of
// empty streams: a stream that an earlier script's destination would fill is
// registered empty when that script has been checked, so a later script's
// source, query step or stylesheet that reads it resolves as in a run.
#include "engine/project_check.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <system_error>
#include <variant>

#include "db/connection_string.h"
#include "engine/dispatch.h"
#include "engine/parameters.h"
#include "engine/paths.h"
#include "engine/project_loader.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "engine/template_references.h"
#include "engine/transform_kinds.h"
#include "scripting/script_engine.h"
#include "scripting/script_host.h"
#include "templates/condition.h"
#include "templates/expr_error.h"
#include "templates/parameter_names.h"
#include "text/case_fold.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/nearest_name.h"
#include "text/stream.h"
#include "text/text_edit.h"
#include "text/utf.h"
#include "xml/dom.h"
#include "xml/xml_nodes.h"
#include "xml/xml_types.h"
#include "xml/xpath.h"
#include "xml/xslt.h"

namespace morvex {

namespace {

using TNames = std::vector<std::string>;

const TNames kRootAttributes{"name"};
const TNames kRootChildren{"parameters", "script"};
const TNames kDeclarationAttributes{"alias", "kind"};
const TNames kScriptAttributes{"name", "test"};
const TNames kScriptChildren{"source", "lsql", "transform", "destination"};
const TNames kSourceAttributes{"kind", "encoding"};
const TNames kDestinationAttributes{"kind"};
const TNames kEndpointChildren{"connection-string"};
const TNames kQueryAttributes{"kind", "cmd-id", "one-transaction"};
const TNames kTransformAttributes{"kind",           "encoding",   "delimiter",  "quote",
                                  "header-row",     "record-tag", "namespaces", "sel-namespaces",
                                  "include-params", "flat-text",  "indent"};
const TNames kTransformBooleans{"header-row", "include-params", "flat-text", "indent"};

bool Contains(const TNames& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string Joined(const TNames& names, std::string_view separator) {
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += separator;
    text += name;
  }
  return text;
}

// `message` followed by ", did you mean <name>?" when a known name is near
// `name`; element names are shown in angle brackets.
std::string WithSuggestion(std::string message, const std::string& name, const TNames& known,
                           bool element = false) {
  const std::string nearest = NearestName(name, known);
  if (nearest.empty()) return message;
  return message + ", did you mean " + (element ? "<" + nearest + ">" : nearest) + "?";
}

// A script language this program runs; a "gui" suffix selects the windowed
// variant of the same engine.
bool IsScriptLanguage(std::string_view keyword) {
  return FindScriptLanguage(ScriptLanguageOf(keyword)) != nullptr;
}

// The line of a load failure ("... [line: 5, col: 3] reason"); 0 when the
// message names none.
long ParseErrorLine(std::string_view message) {
  constexpr std::string_view kLine = "[line: ";
  const size_t at = message.find(kLine);
  if (at == std::string_view::npos) return 0;
  return std::strtol(std::string(message.substr(at + kLine.size(), 12)).c_str(), nullptr, 10);
}

class TProjectCheck {
 public:
  TProjectCheck(const std::string& project, const std::vector<std::string>& parameterTexts,
                const std::string& baseDirectory)
      : project_(project),
        parameterTexts_(parameterTexts),
        baseDirectory_(baseDirectory),
        streams_([] { return std::make_unique<TMemoryStream>(); }) {}

  std::vector<TProjectProblem> Run();

 private:
  // A problem on the project's line `line` (0: none), in the current script.
  void AddAt(long line, const std::string& message) {
    problems_.push_back({line, prefix_ + message});
  }
  void Add(const TElementOutline& element, const std::string& message) {
    AddAt(element.Line, message);
  }

  // Calls one of the runner's step resolvers; the error it raises becomes a
  // problem on `element`. False when it raised.
  bool Resolves(const TElementOutline& element,
                void (*resolve)(const TScript&, TScriptSteps&, const TStepContext&),
                const TScript& script, TScriptSteps& steps, const TStepContext& context) {
    try {
      resolve(script, steps, context);
      return true;
    } catch (const std::exception& error) {
      Add(element, error.what());
      return false;
    }
  }

  void CheckAttributes(const TElementOutline& element, const TNames& known);
  // Reports unknown child elements and second step elements of one name.
  void CheckChildren(const TElementOutline& element, const TNames& known);
  void CheckBoolean(const TElementOutline& element, const std::string& name);
  void CheckParameters();
  void CheckTypedValues();
  void CheckScript(const TScript& script);
  void CheckTest(const TScript& script);
  void CheckSource(const TScript& script, TScriptSteps& steps, const TStepContext& context);
  void CheckQuery(const TScript& script, TScriptSteps& steps, const TStepContext& context);
  void CheckTransform(const TScript& script, TScriptSteps& steps, const TStepContext& context);
  void CheckDestination(const TScript& script, TScriptSteps& steps, const TStepContext& context);
  // A source or destination element: its names, kind and connection string;
  // false when its kind names none (its steps are then not resolved).
  bool CheckEndpoint(const TEndpointElement& element, const TNames& attributes);
  bool CheckEndpointKind(const TEndpointElement& element);
  void CheckConnectionString(const TEndpointElement& element);
  void CheckStylesheet(const TElementOutline& element, const TXTransformInfo& transform,
                       bool inlineText);
  void CheckEncoding(const TElementOutline& element);
  void CheckTemplateReferences(const TScript& script, const TScriptSteps& steps);
  void CheckXPath(const TElementOutline& element, const TXTransformInfo& transform);

  const std::string& project_;
  const std::vector<std::string>& parameterTexts_;
  const std::string& baseDirectory_;

  std::vector<TProjectProblem> problems_;
  std::string prefix_;  // "script N: " while a script is checked
  TProject document_;
  TParameterList parameters_;
  TStreamRegistry streams_;
  std::set<std::string> producedStreams_;  // FoldCase of streams scripts fill
  int scriptNumber_ = 0;
};

std::vector<TProjectProblem> TProjectCheck::Run() {
  if (!IsProjectSource(project_)) {
    const std::string path = ProjectFilePath(project_, baseDirectory_);
    if (!FileExists(path)) {
      problems_.push_back({0, FileDoesNotExistMessage(path)});
      return problems_;
    }
  }
  try {
    document_ = LoadProject(project_, baseDirectory_);
  } catch (const EMorvexError& error) {
    problems_.push_back({ParseErrorLine(error.what()), error.what()});
    return problems_;
  }
  const TElementOutline& root = document_.Root;
  if (root.Tag != "morvex") {
    Add(root, "the document element is <" + root.Tag + ">, not <morvex>");
  }
  CheckAttributes(root, kRootAttributes);
  CheckChildren(root, kRootChildren);
  CheckParameters();
  for (const TScript& script : document_.Scripts) {
    ++scriptNumber_;
    prefix_ = "script " + std::to_string(scriptNumber_) + ": ";
    CheckScript(script);
  }
  prefix_.clear();
  // Root-level findings come before the scripts are walked; a reader wants
  // them in the order of the file.
  std::stable_sort(
      problems_.begin(), problems_.end(),
      [](const TProjectProblem& a, const TProjectProblem& b) { return a.Line < b.Line; });
  return problems_;
}

void TProjectCheck::CheckAttributes(const TElementOutline& element, const TNames& known) {
  const std::string owner = "<" + element.Tag + ">";
  for (const TElementAttribute& attribute : element.Attributes) {
    const std::string& name = attribute.Name;
    // Prefixed attributes belong to other vocabularies, such as the
    // xsi:noNamespaceSchemaLocation that lets editors find the schema.
    if (name.find(':') != std::string::npos || Contains(known, name)) continue;
    Add(element, WithSuggestion("unknown attribute " + name + " on " + owner, name, known));
  }
}

void TProjectCheck::CheckChildren(const TElementOutline& element, const TNames& known) {
  std::set<std::string> seen;
  for (const TChildElement& child : element.Children) {
    const std::string& name = child.Tag;
    if (!Contains(known, name)) {
      AddAt(child.Line, WithSuggestion("unknown element <" + name + ">", name, known, true));
    } else if (name != "script" && !seen.insert(name).second) {
      AddAt(child.Line, "a second <" + name + "> is ignored; only the first one counts");
    }
  }
}

void TProjectCheck::CheckBoolean(const TElementOutline& element, const std::string& name) {
  const std::string* written = element.Attribute(name);
  if (!written) return;
  const std::string& value = *written;
  static const TNames kBooleans{"1", "true", "yes", "0", "false", "no"};
  if (Contains(kBooleans, value)) return;
  Add(element, "<" + element.Tag + "> " + name + "=\"" + value +
                   "\" is not a boolean (1, true, yes, 0, false or no); the default applies");
}

void TProjectCheck::CheckParameters() {
  const std::optional<TElementOutline>& parametersElement = document_.ParametersElement;
  if (parametersElement) {
    CheckAttributes(*parametersElement, {});
    std::set<std::string> declared;
    TNames typeNames;
    for (int i = 0; i < kXmlTypeCount; ++i) typeNames.push_back(XmlTypeName(i));
    for (const TParameterDeclaration& declaration : document_.Parameters) {
      const std::string& name = declaration.Name;
      const TElementOutline& element = declaration.Element;
      prefix_ = "parameter " + name + ": ";
      CheckAttributes(element, kDeclarationAttributes);
      if (element.Attribute("kind")) {
        const std::string& kind = declaration.Kind;
        if (!Contains(typeNames, kind)) {
          Add(element,
              "kind \"" + kind + "\" is not a value type (" + Joined(typeNames, ", ") + ")");
        }
      }
      if (!declared.insert(FoldCase(name)).second) {
        Add(element, "declared a second time; only the first declaration counts");
      }
      if (!element.Children.empty()) {
        Add(element, "a declaration holds no elements; its text is the default value");
      }
    }
    prefix_.clear();
  }
  try {
    SettleParameters(parameters_, document_.Parameters, parameterTexts_, false, nullptr,
                     [](const std::string&, int64_t) {});
    CheckTypedValues();
  } catch (const std::exception& error) {
    AddAt(parametersElement ? parametersElement->Line : 0, error.what());
  }
}

// A value that its declared kind cannot read reaches stylesheets and
// scripts as text, where a number or a boolean was meant.
void TProjectCheck::CheckTypedValues() {
  if (!document_.ParametersElement || parameters_.Empty()) return;
  const TTransformParameters typed = BuildTransformParameters(parameters_, document_.Parameters);
  for (const TParameterDeclaration& declaration : document_.Parameters) {
    const std::string& kind = declaration.Kind;
    if (kind != "integer" && kind != "float" && kind != "boolean") continue;
    const std::string& name = declaration.Name;
    const int index = parameters_.IndexOf(name);
    if (index < 0) continue;
    // Empty values are not passed at all, so the typed list is looked up by name.
    const auto entry = std::find_if(typed.begin(), typed.end(), [&](const TTransformParameter& p) {
      return SameTextIgnoringCase(p.Name, parameters_.Name(index));
    });
    if (entry == typed.end() || !std::holds_alternative<std::string>(entry->Value)) continue;
    const std::string value = parameters_.Value(index);
    if (value.empty()) continue;
    Add(declaration.Element, "parameter " + name + ": the value \"" + value + "\" is not " +
                                 (kind == "integer" ? "an " : "a ") + kind +
                                 "; stylesheets and scripts receive it as text");
  }
}

void TProjectCheck::CheckScript(const TScript& script) {
  const size_t problemsBefore = problems_.size();
  CheckAttributes(script.Element, kScriptAttributes);
  CheckChildren(script.Element, kScriptChildren);
  CheckTest(script);

  TScriptSteps steps;
  const TOutputCallback silent = [](const std::string&, int64_t) {};
  const TStepContext context{baseDirectory_, document_.Path, streams_, silent};
  CheckSource(script, steps, context);
  CheckQuery(script, steps, context);
  CheckTransform(script, steps, context);
  CheckDestination(script, steps, context);
  // A script with problems of its own (a misspelt step, a step that did not
  // resolve) gives no combination worth judging.
  if (problems_.size() == problemsBefore) {
    try {
      CheckStepCombination(steps);
    } catch (const EMorvexError& error) {
      Add(script.Element, error.what());
    }
  }
  CheckTemplateReferences(script, steps);
}

void TProjectCheck::CheckTest(const TScript& script) {
  const std::string& test = script.Test;
  if (test.empty()) return;
  // A token a run cannot replace by a parameter value or a stream's text or
  // size is replaced by nothing.
  std::set<std::string> seen;
  for (const std::string& token : ExtractParameterNames(test)) {
    if (!seen.insert(FoldCase(token)).second || parameters_.IndexOf(token) >= 0) continue;
    const std::string stream = token.substr(0, token.find('$'));
    if (SameTextIgnoringCase(stream, "StdIn") || streams_.FindStream(stream)) continue;
    TNames known;
    for (int i = 0; i < parameters_.Count(); ++i) known.push_back(parameters_.Name(i));
    Add(script.Element,
        WithSuggestion("the test condition's :" + token +
                           " names no parameter or stream, so it is replaced by nothing",
                       token, known));
  }
  // What a stream holds is known only when the project runs.
  const std::string key = FoldCase(test);
  for (const std::string& stream : producedStreams_) {
    if (key.find(":" + stream) != std::string::npos) return;
  }
  try {
    EvaluateExpressionText(SubstituteTest(test, parameters_, streams_));
  } catch (const EParserException& error) {
    Add(script.Element, "the test condition cannot be evaluated (" + std::string(error.what()) +
                            "), so the script would always be skipped");
  }
}

void TProjectCheck::CheckEncoding(const TElementOutline& element) {
  const std::string* encoding = element.Attribute("encoding");
  if (!encoding) return;
  try {
    EncodingForName(*encoding);
  } catch (const EMorvexError& error) {
    Add(element, "<" + element.Tag + "> encoding: " + error.what());
  }
}

void TProjectCheck::CheckTemplateReferences(const TScript& script, const TScriptSteps& steps) {
  _xmlNode* root = DocumentElement(steps.QueryDocument.get());
  if (!root) return;
  TTemplateNames names;
  names.Import = steps.Destination.Kind == skOledb && steps.Source.Kind != skOledb;
  std::vector<std::string> columns;
  const TXTransformInfo& transform = steps.Transform;
  if (names.Import && transform.Kind == tkCsv && transform.HeaderRow &&
      steps.Source.Kind == skFile &&
      CsvSourceColumns(steps.Source.Location, transform.Delimiter, transform.Quote,
                       steps.Source.Encoding, columns)) {
    names.SourceColumns = &columns;
    names.SourceLabel = steps.Source.Location;
  }
  const long line = script.Query ? script.Query->Element.Line : 0;
  for (const std::string& problem :
       TemplateReferenceProblems(ElementView(root), parameters_, names)) {
    AddAt(line, "<lsql> " + problem);
  }
}

bool TProjectCheck::CheckEndpoint(const TEndpointElement& element, const TNames& attributes) {
  CheckAttributes(element.Element, attributes);
  CheckChildren(element.Element, kEndpointChildren);
  if (Contains(attributes, "encoding")) CheckEncoding(element.Element);
  if (!CheckEndpointKind(element)) return false;
  CheckConnectionString(element);
  return true;
}

bool TProjectCheck::CheckEndpointKind(const TEndpointElement& element) {
  const std::string& kind = element.Kind;
  if (SourceKindOf(kind) != skNone) return true;
  std::string message =
      "<" + element.Element.Tag + "> kind \"" + kind + "\" is unknown (oledb, file or stream)";
  const std::string nearest = NearestName(kind, {"oledb", "file", "stream"});
  if (!nearest.empty()) message += ", did you mean " + nearest + "?";
  Add(element.Element, message);
  return false;
}

void TProjectCheck::CheckConnectionString(const TEndpointElement& element) {
  const std::string owner = "<" + element.Element.Tag + ">";
  const std::optional<TConnectionStringElement>& connectionString = element.ConnectionString;
  if (SourceKindOf(element.Kind) != skOledb) {
    if (connectionString) {
      Add(connectionString->Element,
          owner + " holds a <connection-string> but is not of kind oledb");
    }
    return;
  }
  if (!connectionString) {
    Add(element.Element, owner + " of kind oledb has no <connection-string>");
    return;
  }
  const TElementOutline& connection = connectionString->Element;
  CheckAttributes(connection, {});
  CheckChildren(connection, {});
  const std::string text = TrimText(connectionString->Text);
  try {
    std::string problem;
    const TDriverKind driver = SelectDriver(text, problem);
    if (driver == TDriverKind::None) {
      Add(connection, owner + " connection string: " + problem);
      return;
    }
    if (driver != TDriverKind::Sqlite) return;
    // A SQLite database file is never created by a run.
    const std::vector<TConnectionStringItem> items = ParseConnectionString(text);
    const std::string* path = FindConnectionValue(items, {"data source"});
    if (!path || path->empty()) {
      Add(connection, owner + " connection string names no Data Source");
    } else if (*path != ":memory:" && !path->starts_with("file:") &&
               !FileExists(ResolvePath(baseDirectory_, *path))) {
      Add(connection, owner + " SQLite database file does not exist: " + *path);
    }
  } catch (const EMorvexError& error) {
    Add(connection, owner + " connection string: " + error.what());
  }
}

void TProjectCheck::CheckSource(const TScript& script, TScriptSteps& steps,
                                const TStepContext& context) {
  if (!script.Source) {
    Add(script.Element, "No source specified!");
    return;
  }
  if (!CheckEndpoint(*script.Source, kSourceAttributes)) return;
  Resolves(script.Source->Element, ResolveSource, script, steps, context);
}

void TProjectCheck::CheckQuery(const TScript& script, TScriptSteps& steps,
                               const TStepContext& context) {
  if (!script.Query) return;
  const TElementOutline& element = script.Query->Element;
  CheckAttributes(element, kQueryAttributes);
  CheckBoolean(element, "one-transaction");
  const std::string& kind = script.Query->Kind;
  const uint8_t code = QueryKindOf(kind);
  if (!kind.empty() && code == qkNone) {
    Add(element, WithSuggestion("<lsql> kind \"" + kind + "\" is unknown (file, inline or stream)",
                                kind, {"file", "inline", "stream"}) +
                     "; its text is taken as a query file");
  }
  if (code != qkInline && !element.Children.empty()) {
    Add(element, "<lsql> holds elements but is not of kind inline");
    return;
  }
  if (!Resolves(element, ResolveQuery, script, steps, context)) return;
  if (code == qkStream && !steps.QueryDocument) {
    if (streams_.FindStream(steps.QueryLabel)) {
      // An earlier script fills the stream with a template when the project
      // runs; the check has it empty.
      steps.QueryDocument = LoadXmlText("<lsql/>");
    } else {
      Add(element, "no earlier script fills the query stream \"" + steps.QueryLabel +
                       "\"; the script would run without a query step");
    }
  }
}

void TProjectCheck::CheckTransform(const TScript& script, TScriptSteps& steps,
                                   const TStepContext& context) {
  if (!script.Transform) return;
  const TElementOutline& element = script.Transform->Element;
  CheckAttributes(element, kTransformAttributes);
  CheckChildren(element, {});
  CheckEncoding(element);
  for (const std::string& name : kTransformBooleans) CheckBoolean(element, name);
  const std::string& kind = script.Transform->Kind;
  const TTransformKind code = TransformKindOf(kind);
  if (code == tkScript && !IsScriptLanguage(kind)) {
    TNames known = TransformKeywords();
    for (const TScriptLanguage& language : kScriptLanguages) known.emplace_back(language.Name);
    Add(element, WithSuggestion("<transform> kind \"" + kind +
                                    "\" is neither a transformation nor a script language this "
                                    "program runs (" +
                                    ScriptLanguageList() + ")",
                                kind, known));
    return;
  }
  if (!Resolves(element, ResolveTransform, script, steps, context)) return;
  const TXTransformInfo& transform = steps.Transform;
  const bool inlineText = !script.Transform->Sections.empty();
  if (NamesContentFile(transform.Kind)) {
    if (!FileExists(transform.Content)) {
      Add(element, FileDoesNotExistMessage(transform.Content));
    } else if (transform.Kind == tkXslt) {
      CheckStylesheet(element, transform, false);
    }
  } else if (transform.Kind == tkXsltInline) {
    // Stylesheet text from a stream is known only when the project runs.
    if (inlineText) CheckStylesheet(element, transform, true);
  } else if (transform.Kind == tkXPath) {
    CheckXPath(element, transform);
  }
}

void TProjectCheck::CheckStylesheet(const TElementOutline& element,
                                    const TXTransformInfo& transform, bool inlineText) {
  const TXmlDocument stylesheet =
      inlineText ? LoadXmlText(transform.Content) : LoadXmlFile(transform.Content);
  try {
    CompileStylesheet(stylesheet.get());
  } catch (const EMorvexError& error) {
    const std::string message = error.what();
    if (inlineText) {
      Add(element, "the inline stylesheet: " + message);
    } else if (message.starts_with(transform.Content)) {
      Add(element, message);  // a parse error names the file already
    } else {
      Add(element, "the stylesheet " + transform.Content + ": " + message);
    }
  }
}

void TProjectCheck::CheckXPath(const TElementOutline& element, const TXTransformInfo& transform) {
  const std::string& expressions = transform.Content;
  if (expressions.empty()) return;  // from a stream: known only when the project runs
  // The expressions run on a one-element document: what fails there (syntax,
  // an undeclared prefix, a result that is no node-set, a bad record-tag)
  // fails on any source.
  TMemoryStream source(std::string("<x/>"));
  try {
    if (expressions.front() == '=') {
      EvaluateXPathText(TXmlSource{source}, std::string_view(expressions).substr(1),
                        transform.SelNamespaces);
    } else {
      TMemoryStream selection;
      TXmlStreamOutput output(selection);
      SelectXmlToDocument(source, output, expressions, nullptr, transform.Namespaces,
                          transform.SelNamespaces, transform.RecordTag);
    }
  } catch (const std::exception& error) {
    Add(element, std::string("XPath selection error: ") + error.what());
  }
}

void TProjectCheck::CheckDestination(const TScript& script, TScriptSteps& steps,
                                     const TStepContext& context) {
  if (!script.Destination) return;
  const TElementOutline& element = script.Destination->Element;
  if (!CheckEndpoint(*script.Destination, kDestinationAttributes)) return;
  ResolveDestination(script, steps, context);
  const TXSourceInfo& destination = steps.Destination;
  if (destination.Kind == skFile) {
    const std::filesystem::path parent =
        std::filesystem::path(ResolvePath(baseDirectory_, destination.Location)).parent_path();
    std::error_code error;
    if (destination.Location.empty()) {
      Add(element, "<destination> names no file");
    } else if (!parent.empty() && !std::filesystem::is_directory(parent, error)) {
      Add(element, "the directory of the destination file does not exist: " + parent.string());
    }
  } else if (destination.Kind == skStream && !destination.Location.empty()) {
    try {
      CheckStreamsDiffer(steps.Source, destination);
    } catch (const EMorvexError& error) {
      Add(element, error.what());
    }
    streams_.GetOrCreateStream(destination.Location);
    producedStreams_.insert(FoldCase(destination.Location));
  }
}

}  // namespace

std::string ProjectLabel(const std::string& project) {
  return IsProjectSource(project) ? std::string("inline") : project;
}

std::string ProblemLine(const std::string& projectLabel, const TProjectProblem& problem) {
  if (problem.Line <= 0) return projectLabel + ": " + problem.Message;
  return projectLabel + ":" + std::to_string(problem.Line) + ": " + problem.Message;
}

std::vector<TProjectProblem> CheckProject(const std::string& project,
                                          const std::vector<std::string>& parameterTexts,
                                          const std::string& baseDirectory) {
  const std::string base = baseDirectory.empty() ? CurrentDirectory() : baseDirectory;
  TProjectCheck check(project, parameterTexts, base);
  return check.Run();
}

}  // namespace morvex
