#include "xml/element_view.h"

#include <libxml/tree.h>

#include "xml/dom.h"
#include "xml/xml_nodes.h"

namespace morvex {

namespace {

const xmlNode* Node(const void* node) { return static_cast<const xmlNode*>(node); }

}  // namespace

TXmlElement MakeElementView(const void* node) {
  return node && Node(node)->type == XML_ELEMENT_NODE ? TXmlElement(node) : TXmlElement();
}

TXmlElement ElementView(const _xmlNode* node) { return MakeElementView(node); }

std::string TXmlElement::Name() const { return node_ ? TagName(Node(node_)) : std::string(); }

std::string TXmlElement::LocalName() const {
  return node_ ? reinterpret_cast<const char*>(Node(node_)->name) : std::string();
}

std::string TXmlElement::Attribute(std::string_view name) const {
  return GetAttributeText(Node(node_), name);
}

bool TXmlElement::BoolAttribute(std::string_view name, bool defaultValue) const {
  return node_ ? GetAttributeBool(Node(node_), name, defaultValue) : defaultValue;
}

std::string TXmlElement::FirstTextRun() const {
  return node_ ? morvex::FirstTextRun(Node(node_)) : std::string();
}

long TXmlElement::Line() const { return node_ ? NodeLine(Node(node_)) : 0; }

TXmlElement TXmlElement::FirstChild() const {
  return MakeElementView(node_ ? NextChildElement(Node(node_), nullptr) : nullptr);
}

TXmlElement TXmlElement::NextSibling() const {
  return MakeElementView(node_ ? xmlNextElementSibling(const_cast<xmlNode*>(Node(node_)))
                               : nullptr);
}

TXmlElement TXmlElement::Child(std::string_view name) const {
  return MakeElementView(node_ ? FirstChildElement(const_cast<xmlNode*>(Node(node_)), name)
                               : nullptr);
}

}  // namespace morvex
