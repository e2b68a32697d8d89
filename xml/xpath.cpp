// Two forms of XPath. Node selection (SelectNodes and everything built on
// it) runs libxml2's XPath directly. The string value of an expression runs
// through a one-template text stylesheet instead, so that it follows XSLT 1.0
// exactly (context node, string conversion, the XSLT functions such as
// current() and document()).
#include "xml/xpath.h"

#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include "text/error.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/xml_document.h"
#include "xml/xml_errors.h"
#include "xml/xml_options.h"
#include "xml/xml_ptr.h"
#include "xml/xml_save.h"
#include "xml/xslt.h"

namespace morvex {

namespace {

using detail::xml_ptr;

// xmlDOMWrapReconcileNamespaces option XML_DOM_RECONNS_REMOVEREDUND (the
// enum is not in libxml2's public headers): drop declarations that an
// ancestor already makes.
constexpr int kReconcileRemoveRedundant = 1;

constexpr std::string_view kTextStylesheet =
    "<xsl:stylesheet xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" version=\"1.0\">"
    "<xsl:output method=\"text\"/>"
    "<xsl:template match=\"*\"><xsl:value-of select=\".\"/></xsl:template>"
    "</xsl:stylesheet>";

xmlDoc* OwnerDocument(xmlNode* node) {
  return node->type == XML_DOCUMENT_NODE ? reinterpret_cast<xmlDoc*>(node) : node->doc;
}

// Declares `ns` on `element`, with its own prefix when that is free there,
// else with the first free "ns1", "ns2", ...
xmlNs* DeclareNamespace(xmlNode* element, const xmlNs* ns) {
  std::string prefix = ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : "ns";
  for (int suffix = 1; xmlSearchNs(element->doc, element, BAD_CAST prefix.c_str()); ++suffix) {
    prefix = "ns" + std::to_string(suffix);
  }
  return xmlNewNs(element, ns->href, BAD_CAST prefix.c_str());
}

void AppendClone(xmlNode* target, xmlNode* node, bool deep) {
  switch (node->type) {
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
      throw EMorvexError("The document node cannot be copied; select its document element instead");
    case XML_ATTRIBUTE_NODE: {
      // Set on the target, in its namespace declared where needed.
      xmlNs* ns = nullptr;
      if (node->ns) {
        ns = xmlSearchNsByHref(target->doc, target, node->ns->href);
        if (!ns) ns = DeclareNamespace(target, node->ns);
      }
      xml_ptr<xmlChar> value(xmlNodeGetContent(node));
      if ((node->ns && !ns) || !xmlSetNsProp(target, ns, node->name, value.get())) {
        throw EMorvexError("Cannot copy the attribute \"" +
                           std::string(reinterpret_cast<const char*>(node->name)) + "\"");
      }
      return;
    }
    default:
      break;
  }
  xml_ptr<xmlNode> copy(xmlDocCopyNode(node, target->doc, deep ? 1 : 2));
  if (!copy) throw EMorvexError("Cannot copy a selected node");
  xmlNode* added = xmlAddChild(target, copy.get());
  if (!added) throw EMorvexError("Cannot append a selected node");
  copy.release();  // owned by the tree now (a text node may have been merged)
  if (added->type == XML_ELEMENT_NODE) {
    xmlDOMWrapReconcileNamespaces(nullptr, added, kReconcileRemoveRedundant);
  }
}

// The lines of a multi-expression text: ends at CR, LF or CR LF; a final
// line end adds no empty line.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

std::string QualifiedName(const xmlNode* element) {
  std::string name = reinterpret_cast<const char*>(element->name);
  if (element->ns && element->ns->prefix) {
    return reinterpret_cast<const char*>(element->ns->prefix) + (":" + name);
  }
  return name;
}

TXmlDocument LoadSourceFile(const std::string& path) {
  TFileStream file(path, TFileStream::Mode::Read);
  return LoadXmlStream(file);
}

// Builds the output document from `source` and hands it to `save`; the
// shared body of the four SelectXmlToDocument variants.
template <typename Save>
int SelectInto(const TXmlDocument& source, std::string_view expressions, const TXmlOptions* options,
               std::string_view rootAttributes, std::string_view selectionNamespaces,
               std::string_view rootPath, Save&& save) {
  if (!HasDocumentElement(source.get())) {
    TXMLDOMParseError error = GetParseError(source.get());
    throw EMorvexError(error.ErrorCode != 0
                           ? ParseErrorMessage(error)
                           : std::string("The XML source has no document element"));
  }
  TXmlDocument output = CreateXmlDocument(options, true);
  if (!output) throw EMorvexError("The output document could not be created");
  std::string path(rootPath);
  if (path.empty()) path = QualifiedName(xmlDocGetRootElement(source.get()));
  if (!selectionNamespaces.empty()) SetSelectionNamespaces(source.get(), selectionNamespaces);
  xmlNode* target = CreateElementPath(output.get(), path);
  SetAttributesFromText(xmlDocGetRootElement(output.get()), rootAttributes);
  int count = 0;
  if (expressions.find_first_of("\r\n") != std::string_view::npos) {
    for (const std::string& line : SplitLines(expressions)) {
      count += CopySelectedNodes(source.get(), target, line, true);
    }
  } else {
    count = CopySelectedNodes(source.get(), target, expressions, true);
  }
  save(output.get());
  return count;
}

template <typename LoadSource, typename Save>
int RunSelect(LoadSource&& load, std::string_view expressions, const TXmlOptions* options,
              std::string_view rootAttributes, std::string_view selectionNamespaces,
              std::string_view rootPath, Save&& save, std::string& message) {
  message.clear();
  try {
    TXmlDocument source = load();
    return SelectInto(source, expressions, options, rootAttributes, selectionNamespaces, rootPath,
                      save);
  } catch (const std::exception& e) {
    message = e.what();
    if (message.empty()) message = "The XPath selection failed";
    return -1;
  }
}

auto SaveToStream(TStream& destination, const TXmlOptions* options) {
  return [&destination, options](xmlDoc* document) {
    SaveXmlToStream(document, destination, options);
  };
}

auto SaveToFile(const std::string& path, const TXmlOptions* options) {
  return [&path, options](xmlDoc* document) {
    TFileStream file(path, TFileStream::Mode::Create);
    SaveXmlToStream(document, file, options);
    file.Close();
  };
}

template <typename Load>
bool RunEvaluate(Load&& load, std::string_view expression, std::string& textOrMessage,
                 std::string_view selectionNamespaces) {
  try {
    TXmlDocument source = load();
    textOrMessage = EvaluateXPathText(source.get(), expression, selectionNamespaces);
    return true;
  } catch (const std::exception& e) {
    textOrMessage = e.what();
    if (textOrMessage.empty()) textOrMessage = "The XPath evaluation failed";
    return false;
  }
}

}  // namespace

std::vector<_xmlNode*> SelectNodes(_xmlNode* context, std::string_view expression) {
  if (!context) return {};
  xmlDoc* document = OwnerDocument(context);
  xml_ptr<xmlXPathContext> xpath(xmlXPathNewContext(document));
  if (!xpath) throw EMorvexError("Out of memory creating an XPath context");
  xpath->node = context;
  for (const auto& [prefix, uri] : SelectionNamespaces(document)) {
    if (!prefix.empty())
      xmlXPathRegisterNs(xpath.get(), BAD_CAST prefix.c_str(), BAD_CAST uri.c_str());
  }
  std::string text(expression);
  xml_ptr<xmlXPathObject> result;
  std::string failure;
  {
    detail::TErrorCapture errors;
    result.reset(xmlXPathEvalExpression(BAD_CAST text.c_str(), xpath.get()));
    if (errors.NodeLimitHit()) {
      failure = "The XPath expression \"" + text + "\" " + detail::kNodeLimitReason;
      result.reset();
    } else if (!result) {
      failure = errors.Message("Invalid expression in XPath expression \"" + text + "\"");
    }
  }
  if (!result) throw EMorvexError(failure);
  if (result->type != XPATH_NODESET) {
    throw EMorvexError("The XPath expression \"" + text + "\" does not select nodes");
  }
  std::vector<xmlNode*> nodes;
  if (xmlNodeSet* set = result->nodesetval) {
    nodes.reserve(static_cast<size_t>(set->nodeNr));
    for (int i = 0; i < set->nodeNr; ++i) {
      if (set->nodeTab[i]->type == XML_NAMESPACE_DECL) {
        throw EMorvexError("The XPath expression \"" + text +
                           "\" selects namespace nodes, which cannot be used here");
      }
      nodes.push_back(set->nodeTab[i]);
    }
  }
  return nodes;
}

std::vector<_xmlNode*> SelectNodes(_xmlDoc* document, std::string_view expression) {
  return SelectNodes(reinterpret_cast<xmlNode*>(document), expression);
}

std::string EvaluateXPathText(_xmlDoc* document, std::string_view expression,
                              std::string_view selectionNamespaces) {
  TXmlDocument stylesheet = LoadXmlText(kTextStylesheet);
  xmlNode* valueOf = xmlDocGetRootElement(stylesheet.get())->last->children;
  std::string text(expression);
  // Set as an attribute value, the expression needs no quoting or escaping.
  xmlSetProp(valueOf, BAD_CAST "select", BAD_CAST text.c_str());
  for (const auto& [prefix, uri] : ParseSelectionNamespaces(selectionNamespaces)) {
    if (!prefix.empty()) xmlNewNs(valueOf, BAD_CAST uri.c_str(), BAD_CAST prefix.c_str());
  }
  TMemoryStream output;
  TransformDocument(document, stylesheet.get(), {}, output);
  return output.Data();
}

bool EvaluateXPathText(TStream& source, std::string_view expression, std::string& textOrMessage,
                       std::string_view selectionNamespaces) {
  return RunEvaluate([&source] { return LoadXmlStream(source); }, expression, textOrMessage,
                     selectionNamespaces);
}

bool EvaluateXPathText(const std::string& sourceFile, std::string_view expression,
                       std::string& textOrMessage, std::string_view selectionNamespaces) {
  return RunEvaluate([&sourceFile] { return LoadXmlFile(sourceFile); }, expression, textOrMessage,
                     selectionNamespaces);
}

int SelectXmlToDocument(TStream& source, TStream& destination, std::string_view expressions,
                        const TXmlOptions* options, std::string_view rootAttributes,
                        std::string_view selectionNamespaces, std::string_view rootPath,
                        std::string& message) {
  return RunSelect([&source] { return LoadXmlStream(source); }, expressions, options,
                   rootAttributes, selectionNamespaces, rootPath,
                   SaveToStream(destination, options), message);
}

int SelectXmlToDocument(TStream& source, const std::string& destinationFile,
                        std::string_view expressions, const TXmlOptions* options,
                        std::string_view rootAttributes, std::string_view selectionNamespaces,
                        std::string_view rootPath, std::string& message) {
  return RunSelect([&source] { return LoadXmlStream(source); }, expressions, options,
                   rootAttributes, selectionNamespaces, rootPath,
                   SaveToFile(destinationFile, options), message);
}

int SelectXmlToDocument(const std::string& sourceFile, const std::string& destinationFile,
                        std::string_view expressions, const TXmlOptions* options,
                        std::string_view rootAttributes, std::string_view selectionNamespaces,
                        std::string_view rootPath, std::string& message) {
  return RunSelect([&sourceFile] { return LoadSourceFile(sourceFile); }, expressions, options,
                   rootAttributes, selectionNamespaces, rootPath,
                   SaveToFile(destinationFile, options), message);
}

int SelectXmlToDocument(const std::string& sourceFile, TStream& destination,
                        std::string_view expressions, const TXmlOptions* options,
                        std::string_view rootAttributes, std::string_view selectionNamespaces,
                        std::string_view rootPath, std::string& message) {
  return RunSelect([&sourceFile] { return LoadSourceFile(sourceFile); }, expressions, options,
                   rootAttributes, selectionNamespaces, rootPath,
                   SaveToStream(destination, options), message);
}

int CopySelectedNodes(_xmlDoc* document, _xmlNode* target, std::string_view expression, bool deep) {
  if (!target) throw EMorvexError("No element to copy the selected nodes to");
  std::vector<xmlNode*> nodes = SelectNodes(document, expression);
  for (xmlNode* node : nodes) AppendClone(target, node, deep);
  return static_cast<int>(nodes.size());
}

_xmlNode* CreateElementPath(_xmlDoc* document, std::string_view path) {
  xmlNode* current = nullptr;
  size_t start = 0;
  for (size_t slash = path.find('/'); slash != std::string_view::npos;
       slash = path.find('/', start)) {
    if (slash > start)
      current = AppendElement(document, current, path.substr(start, slash - start));
    start = slash + 1;
  }
  return AppendElement(document, current, path.substr(start));
}

}  // namespace morvex
