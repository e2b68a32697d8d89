// Two forms of XPath. Node selection (SelectNodes and everything built on
// it) runs libxml2's XPath directly. The string value of an expression runs
// through a one-template text stylesheet instead, so that it follows XSLT 1.0
// exactly (context node, string conversion, the XSLT functions such as
// current() and document()).
#include "xml/xpath.h"

#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <filesystem>
#include <memory>

#include "text/error.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/streaming_select.h"
#include "xml/streaming_value.h"
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

std::string QualifiedName(const xmlNode* element) {
  std::string name = reinterpret_cast<const char*>(element->name);
  if (element->ns && element->ns->prefix) {
    return reinterpret_cast<const char*>(element->ns->prefix) + (":" + name);
  }
  return name;
}

// True when `node` or anything in its subtree is in a namespace or declares
// one: only then does a copy under another parent differ from the node
// itself (declarations in scope are added, redundant ones dropped).
bool UsesNamespaces(const xmlNode* node) {
  if (node->type != XML_ELEMENT_NODE) return false;
  const xmlNode* current = node;
  while (current != nullptr) {
    if (current->type == XML_ELEMENT_NODE) {
      if (current->ns || current->nsDef) return true;
      for (const xmlAttr* a = current->properties; a; a = a->next) {
        if (a->ns) return true;
      }
      if (current->children) {
        current = current->children;
        continue;
      }
    }
    while (current != node && !current->next) current = current->parent;
    if (current == node) break;
    current = current->next;
  }
  return false;
}

size_t CountDeclarations(const xmlNode* element) {
  size_t count = 0;
  for (const xmlNs* ns = element->nsDef; ns; ns = ns->next) ++count;
  return count;
}

// One node to write under the target, with the number of declarations the
// target had when the node's turn came (a later selected attribute may add
// one, which the node's copy must not see).
struct TSelectedNode {
  xmlNode* Node = nullptr;
  size_t TargetDeclarations = 0;
};

// Writes `selected.Node` under `target` as its copy would stand there. A node
// whose subtree uses no namespace is written straight from the source; any
// other is copied under the target, written and freed, one at a time.
void WriteSelected(TXmlContainerSave& save, xmlNode* target, const TSelectedNode& selected) {
  xmlNode* node = selected.Node;
  if (!UsesNamespaces(node)) {
    save.Write(node);
    return;
  }
  // Hide the declarations added after this node's turn while it is copied.
  xmlNs* cut = nullptr;
  xmlNs* hidden = nullptr;
  if (selected.TargetDeclarations == 0) {
    hidden = target->nsDef;
    target->nsDef = nullptr;
  } else {
    cut = target->nsDef;
    for (size_t i = 1; i < selected.TargetDeclarations && cut; ++i) cut = cut->next;
    if (cut) {
      hidden = cut->next;
      cut->next = nullptr;
    }
  }
  const auto restore = [&] {
    if (cut) {
      cut->next = hidden;
    } else if (selected.TargetDeclarations == 0) {
      target->nsDef = hidden;
    }
  };
  try {
    AppendClone(target, node, true);
  } catch (...) {
    restore();
    throw;
  }
  restore();
  xml_ptr<xmlNode> copy(target->last);
  xmlUnlinkNode(copy.get());
  save.Write(copy.get());
}

// The output document: the root path with its attributes, and the element
// the selected nodes go under.
struct TOutputTree {
  TXmlDocument Document;
  xmlNode* Target = nullptr;
};

TXmlDocument NewOutputDocument(const TXmlOptions* options) {
  TXmlDocument document = CreateXmlDocument(options, true);
  if (!document) throw EMorvexError("The output document could not be created");
  return document;
}

xmlNode* AddRootPath(xmlDoc* document, std::string_view rootAttributes,
                     const std::string& rootPath) {
  xmlNode* target = CreateElementPath(document, rootPath);
  SetAttributesFromText(xmlDocGetRootElement(document), rootAttributes);
  return target;
}

// Selects the nodes of the loaded `source` and writes them under the output
// root; the document path, for any expression. Nothing is opened before
// every expression has been evaluated.
int SelectFromDocument(const TXmlDocument& source, std::string_view expressions,
                       const TXmlOptions* options, std::string_view rootAttributes,
                       std::string_view selectionNamespaces, std::string_view rootPath,
                       TXmlOutput& output) {
  if (!HasDocumentElement(source.get())) {
    TXMLDOMParseError error = GetParseError(source.get());
    throw EMorvexError(error.ErrorCode != 0
                           ? ParseErrorMessage(error)
                           : std::string("The XML source has no document element"));
  }
  std::string path(rootPath);
  if (path.empty()) path = QualifiedName(xmlDocGetRootElement(source.get()));
  TOutputTree tree;
  tree.Document = NewOutputDocument(options);
  if (!selectionNamespaces.empty()) SetSelectionNamespaces(source.get(), selectionNamespaces);
  tree.Target = AddRootPath(tree.Document.get(), rootAttributes, path);
  // Selected attributes go on the target, so every selection is known before
  // the target's start tag is written.
  int count = 0;
  std::vector<TSelectedNode> selected;
  for (const std::string& line : SelectionLines(expressions)) {
    std::vector<xmlNode*> nodes = SelectNodes(source.get(), line);
    count += static_cast<int>(nodes.size());
    for (xmlNode* node : nodes) {
      if (node->type == XML_ATTRIBUTE_NODE || node->type == XML_DOCUMENT_NODE ||
          node->type == XML_HTML_DOCUMENT_NODE) {
        AppendClone(tree.Target, node, true);  // a document node is refused with its message
      } else {
        selected.push_back(TSelectedNode{node, CountDeclarations(tree.Target)});
      }
    }
  }
  TXmlContainerSave save(tree.Document.get(), tree.Target, output.Open(), options);
  for (const TSelectedNode& node : selected) WriteSelected(save, tree.Target, node);
  save.Finish();
  return count;
}

// The selected elements of a one-pass selection, written as they come.
class TStreamedSelection final : public TStreamingSelection {
 public:
  TStreamedSelection(const TXmlOptions* options, std::string_view rootAttributes,
                     std::string_view rootPath, TXmlOutput& output)
      : options_(options), rootAttributes_(rootAttributes), rootPath_(rootPath), output_(output) {}

  void Prepare(const std::string& rootName) override {
    if (save_) return;
    tree_.Document = NewOutputDocument(options_);
    tree_.Target = AddRootPath(tree_.Document.get(), rootAttributes_,
                               rootPath_.empty() ? rootName : rootPath_);
    save_ = std::make_unique<TXmlContainerSave>(tree_.Document.get(), tree_.Target, output_.Open(),
                                                options_);
  }
  void Write(xmlNode* element) override {
    WriteSelected(*save_, tree_.Target, TSelectedNode{element, CountDeclarations(tree_.Target)});
  }
  void Finish() {
    if (!save_) throw EMorvexError("The XML source has no document element");
    save_->Finish();
  }

 private:
  const TXmlOptions* options_;
  std::string rootAttributes_;
  std::string rootPath_;
  TXmlOutput& output_;
  TOutputTree tree_;
  std::unique_ptr<TXmlContainerSave> save_;
};

// One pass over the source per line. Raises on any failure; the caller then
// takes the output back and runs the document path, which gives the
// failure's own message.
int SelectInOnePass(TStream& source, std::string_view expressions, const TXmlOptions* options,
                    std::string_view rootAttributes, std::string_view selectionNamespaces,
                    std::string_view rootPath, TXmlOutput& output) {
  TStreamedSelection selection(options, rootAttributes, rootPath, output);
  int count = 0;
  for (const std::string& line : SelectionLines(expressions)) {
    source.SetPosition(0);
    count += SelectStreaming(source, line, selectionNamespaces, selection);
  }
  selection.Finish();
  return count;
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

std::string EvaluateXPathText(const TXmlSource& source, std::string_view expression,
                              std::string_view selectionNamespaces) {
  std::string text;
  if (EvaluateXPathTextInOnePass(source.Stream, expression, selectionNamespaces, text)) {
    return text;
  }
  // A pass that failed has read part of a source that can seek; the whole
  // document is read from its start.
  try {
    if (!source.Path.empty()) source.Stream.SetPosition(0);
  } catch (const EMorvexError&) {
  }
  try {
    TXmlDocument document = LoadXmlSource(source, false);
    return EvaluateXPathText(document.get(), expression, selectionNamespaces);
  } catch (const std::exception& e) {
    if (*e.what() != '\0') throw;
    throw EMorvexError("The XPath evaluation failed");
  }
}

int SelectXmlToDocument(TStream& source, TXmlOutput& output, std::string_view expressions,
                        const TXmlOptions* options, std::string_view rootAttributes,
                        std::string_view selectionNamespaces, std::string_view rootPath) {
  int count = 0;
  try {
    bool done = false;
    if (IsStreamableSelection(expressions, selectionNamespaces) && output.CanRestart()) {
      try {
        count = SelectInOnePass(source, expressions, options, rootAttributes, selectionNamespaces,
                                rootPath, output);
        done = true;
      } catch (const std::exception&) {
        output.Restart();
      }
    }
    if (!done) {
      TXmlDocument document = LoadXmlStreamForReading(source);
      count = SelectFromDocument(document, expressions, options, rootAttributes,
                                 selectionNamespaces, rootPath, output);
    }
  } catch (const std::exception& e) {
    if (*e.what() != '\0') throw;
    throw EMorvexError("The XPath selection failed");
  }
  output.Close();
  return count;
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
