#include "engine/parameter_use.h"

#include <algorithm>
#include <set>

#include "db/sql_parameters.h"
#include "engine/paths.h"
#include "engine/project_defs.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
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

// A query file: a template, or bare SQL when it is not one.
void UseQueryText(TUsedNames& used, std::string text) {
  std::string markup = UnwrapQueryText(text);
  if (markup.find("<lsql") == std::string::npos) markup = WrapQueryText(std::move(markup));
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

void UseQuery(TUsedNames& used, _xmlNode* element, const TStepContext& context) {
  const uint8_t kind = QueryKindOf(GetAttributeText(element, "kind"));
  if (kind == qkInline) {
    UseTemplate(used, element);
    return;
  }
  if (kind == qkStream) {
    used.Every = true;
    return;
  }
  const std::string text = TrimText(ElementText(element));
  if (text.empty()) return;
  std::string query;
  if (LoadTextFile(query, ResolveProjectFile(text, context))) {
    UseQueryText(used, std::move(query));
  } else {
    used.Every = true;
  }
}

void UseTransform(TUsedNames& used, _xmlNode* element, const TStepContext& context) {
  const uint8_t kind = TransformKindOf(GetAttributeText(element, "kind"));
  if (IsScriptKind(kind)) {
    used.Every = true;  // MORVEX.ParamValues reads any name
    return;
  }
  if (kind != tkXslt) return;
  try {
    const std::vector<std::string> sections = CDataSections(element);
    if (!sections.empty()) {
      UseStylesheetParameters(used, LoadXmlText(TrimText(sections[0])));
      return;
    }
    const std::string path = ResolveProjectFile(TrimText(ElementText(element)), context);
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
bool WritesParameterList(_xmlNode* script, _xmlNode* transform) {
  const _xmlNode* source = FirstChildElement(script, "source");
  return source && SourceKindOf(GetAttributeText(source, "kind")) == skOledb &&
         TransformKindOf(GetAttributeText(transform, "kind")) != tkCsv &&
         GetAttributeBool(transform, "include-params", true);
}

TUsedNames UsedNames(_xmlNode* root, const std::string& baseDirectory,
                     const std::string& projectPath) {
  TUsedNames used;
  if (_xmlNode* declarations = FirstChildElement(root, "parameters")) {
    for (_xmlNode* declaration : ChildElements(declarations)) {
      std::string name = TagName(declaration);
      std::replace(name.begin(), name.end(), '-', '$');
      Use(used, name);
    }
  }
  // Only file lookups are made; the registry is never asked for a stream.
  TStreamRegistry streams(nullptr);
  const TOutputCallback silent = [](const std::string&, int64_t) {};
  const TStepContext context{baseDirectory, projectPath, streams, silent};
  for (_xmlNode* script : ChildElements(root, "script")) {
    for (const std::string& name : ExtractParameterNames(GetAttributeText(script, "test"))) {
      Use(used, name);
    }
    _xmlNode* query = FirstChildElement(script, "lsql");
    _xmlNode* transform = FirstChildElement(script, "transform");
    if (query) UseQuery(used, query, context);
    if (transform) UseTransform(used, transform, context);
    if (query && transform && WritesParameterList(script, transform)) used.Every = true;
    if (used.Every) break;
  }
  return used;
}

}  // namespace

std::vector<std::string> UnusedParameterWarnings(const std::vector<std::string>& parameterTexts,
                                                 _xmlNode* root, const std::string& baseDirectory,
                                                 const std::string& projectPath) {
  std::vector<std::string> warnings;
  if (parameterTexts.empty() || !root) return warnings;
  const TUsedNames used = UsedNames(root, baseDirectory, projectPath);
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
