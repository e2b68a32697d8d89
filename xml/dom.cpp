#include "xml/dom.h"

#include <libxml/tree.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "text/error.h"
#include "xml/sax_parser.h"
#include "xml/xml_ptr.h"
#include "xml/xpath.h"

namespace morvex {

namespace {

using detail::xml_ptr;

const xmlChar* Xml(const std::string& text) { return BAD_CAST text.c_str(); }

std::string ContentOf(const xmlNode* node) {
  xml_ptr<xmlChar> content(xmlNodeGetContent(node));
  return content ? std::string(reinterpret_cast<const char*>(content.get())) : std::string();
}

std::string QualifiedName(const xmlAttr* attribute) {
  std::string name = reinterpret_cast<const char*>(attribute->name);
  if (attribute->ns && attribute->ns->prefix) {
    return reinterpret_cast<const char*>(attribute->ns->prefix) + (":" + name);
  }
  return name;
}

// The namespace declaration "xmlns" (prefix empty) or "xmlns:p" on `element`.
xmlNs* DeclarationOn(const xmlNode* element, const std::string& prefix) {
  for (xmlNs* ns = element->nsDef; ns; ns = ns->next) {
    std::string declared = ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : "";
    if (declared == prefix) return ns;
  }
  return nullptr;
}

// The prefix of a declaration name, or false when `name` is no declaration.
bool DeclarationPrefix(std::string_view name, std::string& prefix) {
  if (name == "xmlns") {
    prefix.clear();
    return true;
  }
  if (name.substr(0, 6) == "xmlns:") {
    prefix = std::string(name.substr(6));
    return true;
  }
  return false;
}

// Parses decimal text with an optional sign, or hexadecimal after "$" or
// "0x", after optional leading spaces; the whole rest must be the number.
bool ParseInt(const std::string& text, int& value) {
  size_t pos = text.find_first_not_of(' ');
  if (pos == std::string::npos) return false;
  bool negative = false;
  if (text[pos] == '+' || text[pos] == '-') negative = text[pos++] == '-';
  int base = 10;
  if (text.compare(pos, 1, "$") == 0) {
    base = 16;
    pos += 1;
  } else if (text.compare(pos, 2, "0x") == 0 || text.compare(pos, 2, "0X") == 0) {
    base = 16;
    pos += 2;
  }
  if (pos >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[pos]))) return false;
  const char* start = text.c_str() + pos;
  char* end = nullptr;
  errno = 0;
  unsigned long long magnitude = std::strtoull(start, &end, base);
  if (errno != 0 || *end != '\0') return false;
  if (base == 16 && !negative && magnitude <= UINT32_MAX) {
    value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    return true;
  }
  long long signedValue =
      negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  if (magnitude > static_cast<unsigned long long>(INT32_MAX) + 1 || signedValue < INT32_MIN ||
      signedValue > INT32_MAX) {
    return false;
  }
  value = static_cast<int>(signedValue);
  return true;
}

// The items of attribute text; see dom.h for the rules.
std::vector<std::string> SplitAttributeItems(std::string_view text) {
  std::vector<std::string> items;
  size_t pos = 0;
  while (pos < text.size()) {
    std::string item;
    if (text[pos] == '"') {
      ++pos;
      while (pos < text.size()) {
        if (text[pos] == '"') {
          if (pos + 1 < text.size() && text[pos + 1] == '"') {
            item += '"';
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        item += text[pos++];
      }
    } else {
      while (pos < text.size() && text[pos] != ' ') {
        if (text[pos] == '"') {
          size_t close = text.find('"', pos + 1);
          size_t stop = close == std::string_view::npos ? text.size() : close + 1;
          item.append(text.substr(pos, stop - pos));
          pos = stop;
        } else {
          item += text[pos++];
        }
      }
    }
    if (!item.empty()) items.push_back(std::move(item));
    if (pos < text.size() && text[pos] == ' ') ++pos;
  }
  return items;
}

std::string Unquote(std::string_view value) {
  if (value.size() < 2 || value.front() != '\'' || value.back() != '\'') return std::string(value);
  std::string inner;
  std::string_view body = value.substr(1, value.size() - 2);
  for (size_t i = 0; i < body.size(); ++i) {
    inner += body[i];
    if (body[i] == '\'' && i + 1 < body.size() && body[i + 1] == '\'') ++i;
  }
  return inner;
}

std::vector<std::pair<std::string, std::string>> AttributePairs(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& item : SplitAttributeItems(text)) {
    size_t equals = item.find('=');
    if (equals == std::string::npos) {
      pairs.emplace_back(item, std::string());
    } else {
      pairs.emplace_back(item.substr(0, equals),
                         Unquote(std::string_view(item).substr(equals + 1)));
    }
  }
  return pairs;
}

void SetAttribute(xmlNode* element, const std::string& name, const std::string& value) {
  std::string prefix;
  if (DeclarationPrefix(name, prefix)) {
    if (!prefix.empty() && xmlValidateNCName(Xml(prefix), 0) != 0) {
      throw EMorvexError("Invalid namespace declaration name \"" + name + "\"");
    }
    if (xmlNs* existing = DeclarationOn(element, prefix)) {
      xmlFree(const_cast<xmlChar*>(existing->href));
      existing->href = xmlStrdup(Xml(value));
    } else if (!xmlNewNs(element, Xml(value), prefix.empty() ? nullptr : Xml(prefix))) {
      throw EMorvexError("Cannot declare the namespace \"" + name + "\"");
    }
    return;
  }
  if (xmlValidateQName(Xml(name), 0) != 0)
    throw EMorvexError("Invalid attribute name \"" + name + "\"");
  size_t colon = name.find(':');
  xmlAttr* set = nullptr;
  if (colon != std::string::npos) {
    std::string local = name.substr(colon + 1);
    if (xmlNs* ns = xmlSearchNs(element->doc, element, Xml(name.substr(0, colon)))) {
      set = xmlSetNsProp(element, ns, Xml(local), Xml(value));
    } else {
      set = xmlSetProp(element, Xml(name), Xml(value));
    }
  } else {
    set = xmlSetProp(element, Xml(name), Xml(value));
  }
  if (!set) throw EMorvexError("Cannot set the attribute \"" + name + "\"");
}

}  // namespace

_xmlNode* SelectSingleElement(_xmlNode* node, std::string_view expression) {
  if (!node) return nullptr;
  std::vector<xmlNode*> nodes = SelectNodes(node, expression);
  if (nodes.empty() || nodes.front()->type != XML_ELEMENT_NODE) return nullptr;
  return nodes.front();
}

std::string SelectSingleText(_xmlNode* element, std::string_view expression,
                             std::string_view defaultValue) {
  if (!element) return std::string(defaultValue);
  std::vector<xmlNode*> nodes = SelectNodes(element, expression);
  if (nodes.empty()) return std::string(defaultValue);
  return ContentOf(nodes.front());
}

std::string GetAttributeText(const _xmlNode* node, std::string_view name) {
  if (!node || node->type != XML_ELEMENT_NODE) return {};
  std::string prefix;
  if (DeclarationPrefix(name, prefix)) {
    const xmlNs* ns = DeclarationOn(node, prefix);
    return ns && ns->href ? reinterpret_cast<const char*>(ns->href) : "";
  }
  for (const xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
    if (QualifiedName(attribute) == name)
      return ContentOf(reinterpret_cast<const xmlNode*>(attribute));
  }
  return {};
}

int GetAttributeInt(const _xmlNode* element, std::string_view name, int defaultValue) {
  if (!element || element->type != XML_ELEMENT_NODE) return defaultValue;
  bool present = false;
  for (const xmlAttr* attribute = element->properties; attribute && !present;
       attribute = attribute->next) {
    present = QualifiedName(attribute) == name;
  }
  int value = 0;
  if (!present || !ParseInt(GetAttributeText(element, name), value)) return defaultValue;
  return value;
}

bool GetAttributeBool(const _xmlNode* element, std::string_view name, bool defaultValue) {
  std::string value = GetAttributeText(element, name);
  if (value == "1" || value == "true" || value == "yes") return true;
  if (value == "0" || value == "false" || value == "no") return false;
  return defaultValue;
}

std::string GetCDataText(const _xmlNode* element, int n) {
  if (!element) return {};
  int count = 0;
  for (const xmlNode* child = element->children; child; child = child->next) {
    if (child->type == XML_CDATA_SECTION_NODE && ++count == n) {
      return child->content ? reinterpret_cast<const char*>(child->content) : "";
    }
  }
  return {};
}

void SetCDataText(_xmlNode* element, std::string_view text, bool remove) {
  if (!element) return;
  xmlNode* section = element->children;
  while (section && section->type != XML_CDATA_SECTION_NODE) section = section->next;
  if (section) {
    if (remove) {
      xmlUnlinkNode(section);
      xmlFreeNode(section);
    } else {
      xmlNodeSetContentLen(section, BAD_CAST text.data(), static_cast<int>(text.size()));
    }
    return;
  }
  if (remove) return;
  xml_ptr<xmlNode> created(
      xmlNewCDataBlock(element->doc, BAD_CAST text.data(), static_cast<int>(text.size())));
  if (!created || !xmlAddChild(element, created.get()))
    throw EMorvexError("Cannot add a CDATA section");
  created.release();
}

_xmlNode* AppendElement(_xmlDoc* document, _xmlNode* parent, std::string_view name) {
  std::string text(name);
  if (text.empty() || xmlValidateQName(Xml(text), 0) != 0) {
    throw EMorvexError("Invalid element name \"" + text + "\"");
  }
  xmlDoc* doc = parent ? parent->doc : document;
  xmlNode* container = parent ? parent : reinterpret_cast<xmlNode*>(document);
  if (!container) throw EMorvexError("No document to add the element \"" + text + "\" to");
  if (container->type == XML_DOCUMENT_NODE && xmlDocGetRootElement(doc)) {
    throw EMorvexError("Only one top level element is allowed in an XML document: cannot add \"" +
                       text + "\"");
  }
  xmlNs* ns = nullptr;
  std::string local = text;
  size_t colon = text.find(':');
  if (colon != std::string::npos && container->type == XML_ELEMENT_NODE) {
    ns = xmlSearchNs(doc, container, Xml(text.substr(0, colon)));
    if (ns) local = text.substr(colon + 1);
  }
  xml_ptr<xmlNode> element(xmlNewDocNode(doc, ns, Xml(local), nullptr));
  if (!element || !xmlAddChild(container, element.get())) {
    throw EMorvexError("Cannot add the element \"" + text + "\"");
  }
  return element.release();
}

_xmlNode* AddTextElement(_xmlDoc* document, std::string_view name, _xmlNode* parent,
                         std::string_view value) {
  xmlNode* element = AppendElement(document, parent, name);
  if (!value.empty()) {
    xmlNode* text =
        xmlNewDocTextLen(element->doc, BAD_CAST value.data(), static_cast<int>(value.size()));
    if (!text || !xmlAddChild(element, text)) {
      xmlFreeNode(text);
      throw EMorvexError("Cannot set the text of the element \"" + std::string(name) + "\"");
    }
  }
  return element;
}

void SetAttributesFromText(_xmlNode* element, std::string_view text) {
  if (!element || text.empty()) return;
  for (const auto& [name, value] : AttributePairs(text)) SetAttribute(element, name, value);
}

std::unique_ptr<TXMLAttributes> AttributesFromText(std::string_view text) {
  if (text.empty()) return nullptr;
  auto attributes = std::make_unique<TXMLAttributes>();
  for (const auto& [name, value] : AttributePairs(text)) {
    attributes->AddAttribute("", "", name, "", value);
  }
  return attributes;
}

std::string QuoteAttributeText(std::string_view text) {
  std::string quoted;
  for (const auto& [name, value] : AttributePairs(text)) {
    if (!quoted.empty()) quoted += ' ';
    quoted += name + "=\"" + value + "\"";
  }
  return quoted;
}

}  // namespace morvex
