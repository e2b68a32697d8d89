#include "engine/project_loader.h"

#include <algorithm>

#include "engine/paths.h"
#include "text/error.h"
#include "text/utf.h"
#include "xml/dom.h"
#include "xml/xml_nodes.h"

namespace morvex {

namespace {

constexpr std::string_view kSourcePrefix = "<?xml";
constexpr std::string_view kInlineProjectName = "inline.morvex";

TElementOutline OutlineOf(_xmlNode* element) {
  TElementOutline outline;
  outline.Tag = TagName(element);
  outline.Line = NodeLine(element);
  for (std::string& name : AttributeNames(element)) {
    std::string value = GetAttributeText(element, name);
    outline.Attributes.push_back({std::move(name), std::move(value)});
  }
  for (_xmlNode* child : ChildElements(element)) {
    outline.Children.push_back({TagName(child), NodeLine(child)});
  }
  return outline;
}

std::optional<std::string> OptionalAttribute(const _xmlNode* element, std::string_view name) {
  if (!HasAttribute(element, name)) return std::nullopt;
  return GetAttributeText(element, name);
}

std::optional<TEndpointElement> EndpointOf(_xmlNode* script, std::string_view tag) {
  _xmlNode* element = FirstChildElement(script, tag);
  if (!element) return std::nullopt;
  TEndpointElement endpoint;
  endpoint.Element = OutlineOf(element);
  endpoint.Kind = GetAttributeText(element, "kind");
  endpoint.Encoding = OptionalAttribute(element, "encoding");
  endpoint.Text = ElementText(element);
  if (_xmlNode* connection = FirstChildElement(element, "connection-string")) {
    endpoint.ConnectionString =
        TConnectionStringElement{OutlineOf(connection), ElementText(connection)};
  }
  return endpoint;
}

std::optional<TQueryElement> QueryOf(_xmlNode* script) {
  _xmlNode* element = FirstChildElement(script, "lsql");
  if (!element) return std::nullopt;
  TQueryElement query;
  query.Element = OutlineOf(element);
  query.Kind = GetAttributeText(element, "kind");
  query.CommandId = GetAttributeText(element, "cmd-id");
  query.OneTransaction = GetAttributeBool(element, "one-transaction", false);
  query.Markup = ElementMarkup(element);
  query.Text = ElementText(element);
  return query;
}

std::optional<TTransformElement> TransformOf(_xmlNode* script) {
  _xmlNode* element = FirstChildElement(script, "transform");
  if (!element) return std::nullopt;
  TTransformElement transform;
  transform.Element = OutlineOf(element);
  transform.Kind = GetAttributeText(element, "kind");
  transform.Encoding = OptionalAttribute(element, "encoding");
  TXTransformInfo& options = transform.Options;
  options.Delimiter = OptionalAttribute(element, "delimiter").value_or(options.Delimiter);
  options.Quote = OptionalAttribute(element, "quote").value_or(options.Quote);
  options.HeaderRow = GetAttributeBool(element, "header-row", options.HeaderRow);
  options.RecordTag = GetAttributeText(element, "record-tag");
  options.Namespaces = GetAttributeText(element, "namespaces");
  options.SelNamespaces = GetAttributeText(element, "sel-namespaces");
  options.IncludeParams = GetAttributeBool(element, "include-params", options.IncludeParams);
  options.FlatText = GetAttributeBool(element, "flat-text", options.FlatText);
  options.Indent = GetAttributeBool(element, "indent", options.Indent);
  transform.Sections = CDataSections(element);
  transform.Text = ElementText(element);
  return transform;
}

TScript ScriptOf(_xmlNode* element) {
  TScript script;
  script.Element = OutlineOf(element);
  script.Name = GetAttributeText(element, "name");
  script.Test = GetAttributeText(element, "test");
  script.Source = EndpointOf(element, "source");
  script.Query = QueryOf(element);
  script.Transform = TransformOf(element);
  script.Destination = EndpointOf(element, "destination");
  return script;
}

TParameterDeclaration DeclarationOf(_xmlNode* element) {
  TParameterDeclaration declaration;
  declaration.Element = OutlineOf(element);
  declaration.Name = declaration.Element.Tag;
  std::replace(declaration.Name.begin(), declaration.Name.end(), '-', '$');
  declaration.Value = ElementText(element);
  declaration.Alias = GetAttributeText(element, "alias");
  declaration.Kind = GetAttributeText(element, "kind");
  return declaration;
}

const TParameterDeclaration* DeclarationTagged(
    const std::vector<TParameterDeclaration>& declarations, std::string_view tag) {
  for (const TParameterDeclaration& declaration : declarations) {
    if (declaration.Element.Tag == tag) return &declaration;
  }
  return nullptr;
}

}  // namespace

bool IsProjectSource(std::string_view project) {
  return project.substr(0, kSourcePrefix.size()) == kSourcePrefix;
}

std::string ProjectFilePath(std::string_view project, std::string_view baseDirectory) {
  return ResolvePath(baseDirectory, project);
}

const std::string* TElementOutline::Attribute(std::string_view name) const {
  for (const TElementAttribute& attribute : Attributes) {
    if (attribute.Name == name) return &attribute.Value;
  }
  return nullptr;
}

const TParameterDeclaration* FindDeclaration(const std::vector<TParameterDeclaration>& declarations,
                                             std::string_view name) {
  std::string tag(name);
  std::replace(tag.begin(), tag.end(), '$', '-');
  const TParameterDeclaration* declaration = DeclarationTagged(declarations, tag);
  return declaration ? declaration : DeclarationTagged(declarations, AsciiUpper(tag));
}

TProject LoadProject(const std::string& project, const std::string& baseDirectory) {
  TProject result;
  if (IsProjectSource(project)) {
    result.Document = LoadXmlText(project, TCDataSections::Separate);
    result.Path = baseDirectory + std::string(kInlineProjectName);
  } else {
    result.Path = ProjectFilePath(project, baseDirectory);
    result.Document = LoadXmlFile(result.Path, TCDataSections::Separate);
  }
  if (!HasDocumentElement(result.Document.get())) {
    const TXMLDOMParseError error = GetParseError(result.Document.get());
    throw EMorvexError("Unsupported project file format! [line: " + std::to_string(error.Line) +
                       ", col: " + std::to_string(error.LinePos) + "] " + error.Reason);
  }
  _xmlNode* root = DocumentElement(result.Document.get());
  result.Root = OutlineOf(root);
  result.Name = GetAttributeText(root, "name");
  if (_xmlNode* parameters = FirstChildElement(root, "parameters")) {
    result.ParametersElement = OutlineOf(parameters);
    for (_xmlNode* declaration : ChildElements(parameters)) {
      result.Parameters.push_back(DeclarationOf(declaration));
    }
  }
  for (_xmlNode* script : ChildElements(root, "script")) result.Scripts.push_back(ScriptOf(script));
  return result;
}

}  // namespace morvex
