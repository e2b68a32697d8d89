#include "xml/xml_nodes.h"

#include <libxml/tree.h>

#include <memory>
#include <utility>

#include "xml/xml_ptr.h"

namespace morvex {

std::string TagName(const _xmlNode* node) {
  if (!node || !node->name) return {};
  std::string name = reinterpret_cast<const char*>(node->name);
  if (node->ns && node->ns->prefix) {
    return reinterpret_cast<const char*>(node->ns->prefix) + (":" + name);
  }
  return name;
}

bool IsElementNamed(const _xmlNode* node, std::string_view localName) {
  return node && node->type == XML_ELEMENT_NODE && node->name &&
         std::string_view(reinterpret_cast<const char*>(node->name)) == localName;
}

_xmlNode* NextChildElement(const _xmlNode* parent, const _xmlNode* after) {
  if (!after && !parent) return nullptr;
  xmlNode* node = after ? after->next : parent->children;
  while (node && node->type != XML_ELEMENT_NODE) node = node->next;
  return node;
}

const _xmlNode* PreviousSiblingElement(const _xmlNode* node) {
  const xmlNode* sibling = node ? node->prev : nullptr;
  while (sibling && sibling->type != XML_ELEMENT_NODE) sibling = sibling->prev;
  return sibling;
}

const _xmlNode* ParentElement(const _xmlNode* node) {
  const xmlNode* parent = node ? node->parent : nullptr;
  while (parent && parent->type != XML_ELEMENT_NODE) parent = parent->parent;
  return parent;
}

std::string FirstTextRun(const _xmlNode* element) {
  std::string text;
  if (!element) return text;
  for (const xmlNode* child = element->children;; child = child->next) {
    if (child && (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)) {
      if (child->content) text += reinterpret_cast<const char*>(child->content);
      continue;
    }
    size_t start = 0;
    while (start < text.size() && static_cast<unsigned char>(text[start]) <= ' ') ++start;
    if (start < text.size()) return text.substr(start);
    if (!child) return {};
    text.clear();
  }
}

std::vector<_xmlNode*> ChildElements(_xmlNode* parent) {
  std::vector<_xmlNode*> result;
  if (!parent) return result;
  for (xmlNode* child = parent->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) result.push_back(child);
  }
  return result;
}

std::vector<std::string> AttributeNames(const _xmlNode* element) {
  std::vector<std::string> names;
  if (!element || element->type != XML_ELEMENT_NODE) return names;
  for (const xmlAttr* attribute = element->properties; attribute; attribute = attribute->next) {
    std::string name = reinterpret_cast<const char*>(attribute->name);
    if (attribute->ns && attribute->ns->prefix) {
      name = reinterpret_cast<const char*>(attribute->ns->prefix) + (":" + name);
    }
    names.push_back(std::move(name));
  }
  return names;
}

long NodeLine(const _xmlNode* node) {
  if (!node) return 0;
  const long line = xmlGetLineNo(node);
  return line > 0 ? line : 0;
}

_xmlNode* DocumentElement(_xmlDoc* document) {
  return document ? xmlDocGetRootElement(document) : nullptr;
}

std::vector<_xmlNode*> ChildElements(_xmlNode* parent, std::string_view name) {
  std::vector<_xmlNode*> result;
  if (!parent) return result;
  for (xmlNode* child = parent->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && TagName(child) == name) result.push_back(child);
  }
  return result;
}

_xmlNode* FirstChildElement(_xmlNode* parent, std::string_view name) {
  if (!parent) return nullptr;
  for (xmlNode* child = parent->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && TagName(child) == name) return child;
  }
  return nullptr;
}

bool HasChildElement(const _xmlNode* parent) {
  if (!parent) return false;
  for (const xmlNode* child = parent->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) return true;
  }
  return false;
}

std::string ElementText(const _xmlNode* node) {
  if (!node) return {};
  const detail::xml_ptr<xmlChar> content(xmlNodeGetContent(node));
  return content ? std::string(reinterpret_cast<const char*>(content.get())) : std::string();
}

bool HasAttribute(const _xmlNode* element, std::string_view name) {
  if (!element || element->type != XML_ELEMENT_NODE) return false;
  for (const xmlAttr* attribute = element->properties; attribute; attribute = attribute->next) {
    std::string qualified = reinterpret_cast<const char*>(attribute->name);
    if (attribute->ns && attribute->ns->prefix) {
      qualified = reinterpret_cast<const char*>(attribute->ns->prefix) + (":" + qualified);
    }
    if (qualified == name) return true;
  }
  return false;
}

std::vector<std::string> CDataSections(const _xmlNode* element) {
  std::vector<std::string> result;
  if (!element) return result;
  for (const xmlNode* child = element->children; child; child = child->next) {
    if (child->type == XML_CDATA_SECTION_NODE) {
      result.emplace_back(child->content ? reinterpret_cast<const char*>(child->content) : "");
    }
  }
  return result;
}

std::string ElementMarkup(_xmlNode* element) {
  if (!element) return {};
  const std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buffer(xmlBufferCreate(),
                                                                    &xmlBufferFree);
  if (!buffer || xmlNodeDump(buffer.get(), element->doc, element, 0, 0) < 0) return {};
  return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                     static_cast<size_t>(xmlBufferLength(buffer.get())));
}

void SetPlainAttribute(_xmlNode* element, const std::string& name, const std::string& value) {
  if (!element) return;
  xmlSetProp(element, reinterpret_cast<const xmlChar*>(name.c_str()),
             reinterpret_cast<const xmlChar*>(value.c_str()));
}

void RemoveTextChildren(_xmlNode* element) {
  if (!element) return;
  xmlNode* child = element->children;
  while (child) {
    xmlNode* next = child->next;
    if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
      xmlUnlinkNode(child);
      xmlFreeNode(child);
    }
    child = next;
  }
}

}  // namespace morvex
