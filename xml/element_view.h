// A read-only view of one element of a loaded document, for the folders that
// read a document's structure without reaching into libxml2 (the query
// templates). A view is a position in a document that the caller keeps
// loaded; a default view is no element, and every accessor of one gives an
// empty result. Views are made from libxml2 nodes by ElementView (dom.h).
#pragma once

#include <string>
#include <string_view>

namespace morvex {

class TXmlElement {
 public:
  TXmlElement() = default;

  explicit operator bool() const { return node_ != nullptr; }

  // The tag name as written, with its prefix ("p:name"), and without it.
  std::string Name() const;
  std::string LocalName() const;
  // The attribute with the qualified name `name` (exact, letter case
  // significant); empty when missing.
  std::string Attribute(std::string_view name) const;
  // "1", "true", "yes" give true and "0", "false", "no" false, compared
  // exactly; anything else, and a missing attribute, gives `defaultValue`.
  bool BoolAttribute(std::string_view name, bool defaultValue) const;
  // The first run of adjacent text and CDATA children that is not all white
  // space, without its leading white space (FirstTextRun, xml_nodes.h).
  std::string FirstTextRun() const;
  // The line the element starts on (from 1); 0 when unknown.
  long Line() const;

  // The first child element, and the next sibling element; no element at
  // the end.
  TXmlElement FirstChild() const;
  TXmlElement NextSibling() const;
  // The first child element whose tag name with its prefix is exactly
  // `name`.
  TXmlElement Child(std::string_view name) const;

 private:
  friend TXmlElement MakeElementView(const void* node);
  explicit TXmlElement(const void* node) : node_(node) {}

  const void* node_ = nullptr;  // an element node of libxml2
};

}  // namespace morvex
