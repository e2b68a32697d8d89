// DOM accessors that give defaults instead of failing for a missing node or
// attribute, and the attribute-text form name='value' name2='value2' used by
// projects for root attributes and namespace declarations.
//
// XPath expressions use the prefixes of the owner document's
// SelectionNamespaces; an invalid expression raises EMorvexError.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct _xmlDoc;
struct _xmlNode;

#include "xml/element_view.h"

namespace morvex {

class TXMLAttributes;

// The read-only view of `node`; no element when it is null or not an
// element.
TXmlElement ElementView(const _xmlNode* node);

// The first node `expression` selects from `node` when it is an element;
// otherwise (nothing selected, another node type, null node) nullptr.
_xmlNode* SelectSingleElement(_xmlNode* node, std::string_view expression);

// The text content (all descendant text) of the first node `expression`
// selects from `element`, or `defaultValue` when it selects nothing.
std::string SelectSingleText(_xmlNode* element, std::string_view expression,
                             std::string_view defaultValue);

// The value of the attribute with the qualified name `name` (exact, letter
// case significant; "xmlns" and "xmlns:p" read namespace declarations), or an
// empty text when the node is not an element or has no such attribute.
std::string GetAttributeText(const _xmlNode* node, std::string_view name);

// `defaultValue` when the attribute is missing or its value is not a 32-bit
// integer (decimal with an optional sign, or hexadecimal after "$" or "0x").
int GetAttributeInt(const _xmlNode* element, std::string_view name, int defaultValue);

// "1", "true", "yes" give true and "0", "false", "no" false, compared exactly
// (so "TRUE" and "Yes" are not recognised); anything else, and a missing
// attribute, gives `defaultValue`.
bool GetAttributeBool(const _xmlNode* element, std::string_view name, bool defaultValue);

// The data of the element's n-th CDATA section child (from 1), or an empty
// text when it has fewer.
std::string GetCDataText(const _xmlNode* element, int n = 1);

// With `remove`, takes the element's first CDATA section out (if any).
// Otherwise sets the first CDATA section's data to `text`, appending a new
// section when there is none.
void SetCDataText(_xmlNode* element, std::string_view text, bool remove);

// Creates an element named `name`, appends it to `parent` (to the document
// when parent is nullptr) and returns it. Raises EMorvexError for an invalid
// name and for a second document element.
_xmlNode* AppendElement(_xmlDoc* document, _xmlNode* parent, std::string_view name);

// AppendElement, then sets the element's text content to `value` (taken as
// plain text: markup characters are escaped when saved).
_xmlNode* AddTextElement(_xmlDoc* document, std::string_view name, _xmlNode* parent,
                         std::string_view value);

// Attribute text: items separated by single spaces (an item that starts with
// a double quote runs to the closing quote, spaces and all, and loses the
// quotes; a double-quoted stretch inside an item keeps its spaces too), each
// item split at its first "=" into name and value (an item without "=" is a
// name with an empty value); a value enclosed in single quotes loses them and
// has '' inside read as one '. Empty items (from doubled spaces) are skipped.
//
// SetAttributesFromText sets each pair on `element` in order ("xmlns" and
// "xmlns:p" become namespace declarations); nothing happens for an empty
// text or a null element. Raises EMorvexError for an invalid name.
void SetAttributesFromText(_xmlNode* element, std::string_view text);
// A new list with each pair added by qualified name (TXMLAttributes::
// AddAttribute); nullptr for an empty text.
std::unique_ptr<TXMLAttributes> AttributesFromText(std::string_view text);
// The pairs rebuilt as name="value" joined by single spaces, without further
// escaping: a='1' b='2' gives a="1" b="2".
std::string QuoteAttributeText(std::string_view text);

}  // namespace morvex
