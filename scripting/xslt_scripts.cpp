#include "scripting/xslt_scripts.h"

#include <libxml/tree.h>
#include <libxml/xpathInternals.h>
#include <libxslt/extensions.h>
#include <libxslt/transform.h>
#include <libxslt/xsltutils.h>

#include <memory>
#include <set>
#include <vector>

#include "scripting/script_engine.h"
#include "text/error.h"
#include "text/utf.h"
#include "xml/xslt.h"

namespace morvex {

namespace {

// The XSLT extension namespace of the platform XML service, in which
// stylesheets written for it declare their script blocks.
constexpr const char* kScriptNamespace = "urn:schemas-microsoft-com:xslt";

std::string Text(const xmlChar* text) {
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::string Attribute(xmlNode* element, const char* name) {
  xmlChar* value = xmlGetProp(element, BAD_CAST name);
  std::string text = Text(value);
  xmlFree(value);
  return text;
}

// The engine that runs a stylesheet's script blocks for one transformation.
struct TStylesheetScripts {
  std::unique_ptr<TScriptEngine> Engine;
};

TScriptValue ArgumentOf(xmlXPathObjectPtr object) {
  switch (object->type) {
    case XPATH_BOOLEAN:
      return object->boolval != 0;
    case XPATH_NUMBER:
      return object->floatval;
    default: {
      // A node-set arrives as its string value.
      xmlChar* text = xmlXPathCastToString(object);
      std::string value = Text(text);
      xmlFree(text);
      return value;
    }
  }
}

xmlXPathObjectPtr ResultOf(const TScriptValue& value) {
  if (const auto* b = std::get_if<bool>(&value)) return xmlXPathNewBoolean(*b ? 1 : 0);
  if (const auto* i = std::get_if<int64_t>(&value)) {
    return xmlXPathNewFloat(static_cast<double>(*i));
  }
  if (const auto* d = std::get_if<double>(&value)) return xmlXPathNewFloat(*d);
  std::string text;
  if (const auto* s = std::get_if<std::string>(&value)) text = *s;
  if (const auto* bytes = std::get_if<TScriptBytes>(&value)) text = bytes->Bytes;
  return xmlXPathNewString(BAD_CAST text.c_str());
}

// Every script function is registered with this one callback; the name
// being called comes from the XPath context.
void CallScriptFunction(xmlXPathParserContextPtr ctxt, int nargs) {
  xsltTransformContextPtr transform = xsltXPathGetTransformContext(ctxt);
  auto* scripts = transform ? static_cast<TStylesheetScripts*>(transform->_private) : nullptr;
  std::vector<TScriptValue> arguments(static_cast<size_t>(nargs));
  for (int i = nargs - 1; i >= 0; --i) {
    xmlXPathObjectPtr object = valuePop(ctxt);
    if (object) arguments[static_cast<size_t>(i)] = ArgumentOf(object);
    xmlXPathFreeObject(object);
  }
  const std::string name = Text(ctxt->context->function);
  try {
    if (!scripts) throw EMorvexError("The script functions are not available.");
    valuePush(ctxt, ResultOf(scripts->Engine->CallFunction(name, arguments)));
  } catch (const std::exception& e) {
    xsltTransformError(transform, nullptr, nullptr, "Script function %s: %s\n", name.c_str(),
                       e.what());
    if (transform) transform->state = XSLT_STATE_STOPPED;
    valuePush(ctxt, xmlXPathNewCString(""));
  }
}

std::shared_ptr<void> RegisterScriptBlocks(xmlDoc* stylesheet, xsltTransformContext* context) {
  xmlNode* root = xmlDocGetRootElement(stylesheet);
  std::shared_ptr<TStylesheetScripts> scripts;
  std::set<std::string> known;
  for (xmlNode* node = root ? root->children : nullptr; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE || !node->ns || Text(node->ns->href) != kScriptNamespace ||
        Text(node->name) != "script") {
      continue;
    }
    const std::string language = Attribute(node, "language");
    const TScriptLanguage* named = FindScriptLanguage(language);
    const bool javaScript =
        language.empty() || (named && named->Engine == TScriptEngineKind::JavaScript);
    if (!javaScript) {
      throw EMorvexError("The stylesheet's script block is written in \"" + language +
                         "\"; script blocks in stylesheets run only in JScript (JavaScript).");
    }
    const std::string prefix = Attribute(node, "implements-prefix");
    xmlNs* ns = xmlSearchNs(stylesheet, node, prefix.empty() ? nullptr : BAD_CAST prefix.c_str());
    if (prefix.empty() || !ns) {
      throw EMorvexError(
          "The stylesheet's script block names no declared namespace prefix in "
          "implements-prefix (\"" +
          prefix + "\").");
    }
    if (!scripts) {
      scripts = std::make_shared<TStylesheetScripts>();
      scripts->Engine = CreateJavaScriptEngine(kDefaultScriptMemoryLimit);
    }
    xmlChar* content = xmlNodeGetContent(node);
    const std::string code = Text(content);
    xmlFree(content);
    std::string error;
    scripts->Engine->SetErrorHandler([&error](const TScriptError& e) {
      error = "[line: " + std::to_string(e.Line) + ", col: " + std::to_string(e.Column) + "] " +
              e.Description;
    });
    scripts->Engine->Execute(code);
    if (!error.empty()) throw EMorvexError("Error in the stylesheet's script block: " + error);
    // The functions this block added belong to its namespace.
    for (const std::string& name : scripts->Engine->GlobalFunctionNames()) {
      if (!known.insert(name).second) continue;
      xsltRegisterExtFunction(context, BAD_CAST name.c_str(), ns->href, CallScriptFunction);
    }
  }
  if (scripts) context->_private = scripts.get();
  return scripts;
}

}  // namespace

void InstallXsltScriptHost() { SetXsltScriptHook(RegisterScriptBlocks); }

}  // namespace morvex
