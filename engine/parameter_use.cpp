#include "engine/parameter_use.h"

#include <set>

#include "db/sql_parameters.h"
#include "engine/paths.h"
#include "engine/project_defs.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "engine/transform_kinds.h"
#include "templates/parameter_names.h"
#include "text/case_fold.h"
#include "text/nearest_name.h"
#include "text/text_edit.h"
#include "xml/dom.h"
#include "xml/xml_document.h"
#include "xml/xml_nodes.h"

namespace morvex {

namespace {

// Parameter names are short words: two letters of slack in NearestName's
// bound let "date" find "day".
constexpr size_t kParameterNameSlack = 2;

// The names a project uses; `Every` when any name may be used.
struct TUsedNames {
  bool Every = false;
  std::set<std::string> Keys;        // FoldCase of each name
  std::vector<std::string> Spelled;  // as written, for suggestions
};

void Use(TUsedNames& used, const std::string& name) {
  if (used.Keys.insert(FoldCase(name)).second) used.Spelled.push_back(name);
}

// The names the statements and `test` conditions of a query template refer
// to: `element`'s own and those of every element below it.
void UseTemplate(TUsedNames& used, const _xmlNode* element) {
  for (const std::string& name : ExtractParameterNames(GetAttributeText(element, "test"))) {
    Use(used, name);
  }
  for (const std::string& name : ParseSqlParameters(FirstTextRun(element)).Names) Use(used, name);
  for (const _xmlNode* child = NextChildElement(element, nullptr); child;
       child = NextChildElement(element, child)) {
    UseTemplate(used, child);
  }
}

// Template markup; text that does not parse is searched as bare SQL.
void UseTemplateText(TUsedNames& used, const std::string& markup, const std::string& text) {
  try {
    const TXmlDocument document = LoadXmlText(markup);
    if (const _xmlNode* root = DocumentElement(document.get())) {
      UseTemplate(used, root);
      return;
    }
  } catch (const std::exception&) {
  }
  for (const std::string& name : ParseSqlParameters(text).Names) Use(used, name);
}

// A query file: a template, or bare SQL when it is not one.
void UseQueryText(TUsedNames& used, const std::string& text) {
  std::string markup = UnwrapQueryText(text);
  if (markup.find("<lsql") == std::string::npos) markup = WrapQueryText(std::move(markup));
  UseTemplateText(used, markup, text);
}

// The top-level xsl:param names of a stylesheet; every name when it imports
// or includes another stylesheet, or does not parse.
void UseStylesheetParameters(TUsedNames& used, const TXmlDocument& stylesheet) {
  _xmlNode* root = DocumentElement(stylesheet.get());
  if (!root) {
    used.Every = true;
    return;
  }
  for (_xmlNode* child : ChildElements(root)) {
    if (IsElementNamed(child, "import") || IsElementNamed(child, "include")) used.Every = true;
    if (IsElementNamed(child, "param")) Use(used, GetAttributeText(child, "name"));
  }
}

void UseQuery(TUsedNames& used, const TQueryElement& element, const TStepContext& context) {
  const uint8_t kind = QueryKindOf(element.Kind);
  if (kind == qkInline) {
    // The element as written: the same markup reads back as the same tree.
    UseTemplateText(used, element.Markup, element.Markup);
    return;
  }
  if (kind == qkStream) {
    used.Every = true;
    return;
  }
  const std::string text = TrimText(element.Text);
  if (text.empty()) return;
  std::string query;
  if (LoadTextFile(query, ResolveProjectFile(text, context))) {
    UseQueryText(used, query);
  } else {
    used.Every = true;
  }
}

void UseTransform(TUsedNames& used, const TTransformElement& element, const TStepContext& context) {
  const TTransformKind kind = TransformKindOf(element.Kind);
  if (IsScriptKind(kind)) {
    used.Every = true;  // MORVEX.ParamValues reads any name
    return;
  }
  if (kind != tkXslt) return;
  try {
    if (!element.Sections.empty()) {
      UseStylesheetParameters(used, LoadXmlText(TrimText(element.Sections[0])));
      return;
    }
    const std::string path = ResolveProjectFile(TrimText(element.Text), context);
    if (FileExists(path)) {
      UseStylesheetParameters(used, LoadXmlFile(path));
      return;
    }
  } catch (const std::exception&) {
    // A stylesheet that does not load fails the run; it is no reason to warn.
  }
  used.Every = true;  // a stream, or a stylesheet that cannot be read now
}

// A query on a database that writes dataset XML lists every parameter in
// its morvex_params element unless include-params is off.
bool WritesParameterList(const TScript& script) {
  return script.Source && SourceKindOf(script.Source->Kind) == skOledb &&
         TransformKindRow(TransformKindOf(script.Transform->Kind)).QueryWrites ==
             TQueryOutputKind::DatasetXml &&
         script.Transform->Options.IncludeParams;
}

TUsedNames UsedNames(const TProject& project, const std::string& baseDirectory) {
  TUsedNames used;
  for (const TParameterDeclaration& declaration : project.Parameters) Use(used, declaration.Name);
  // Only file lookups are made; the registry is never asked for a stream.
  TStreamRegistry streams(nullptr);
  const TOutputCallback silent = [](const std::string&, int64_t) {};
  const TStepContext context{baseDirectory, project.Path, streams, silent};
  for (const TScript& script : project.Scripts) {
    for (const std::string& name : ExtractParameterNames(script.Test)) Use(used, name);
    if (script.Query) UseQuery(used, *script.Query, context);
    if (script.Transform) UseTransform(used, *script.Transform, context);
    if (script.Query && script.Transform && WritesParameterList(script)) used.Every = true;
    if (used.Every) break;
  }
  return used;
}

}  // namespace

std::vector<std::string> UnusedParameterWarnings(const std::vector<std::string>& parameterTexts,
                                                 const TProject& project,
                                                 const std::string& baseDirectory) {
  std::vector<std::string> warnings;
  if (parameterTexts.empty()) return warnings;
  const TUsedNames used = UsedNames(project, baseDirectory);
  if (used.Every) return warnings;
  std::set<std::string> warned;
  for (const std::string& text : parameterTexts) {
    const std::string name = text.substr(0, text.find('='));
    const std::string key = FoldCase(name);
    if (used.Keys.count(key) || !warned.insert(key).second) continue;
    std::string warning = "Warning: parameter " + name + " is not used by the project";
    const std::string nearest = NearestName(name, used.Spelled, kParameterNameSlack);
    if (!nearest.empty()) warning += " (did you mean " + nearest + "?)";
    warnings.push_back(std::move(warning));
  }
  return warnings;
}

}  // namespace morvex
