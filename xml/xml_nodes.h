// Tree walks over loaded documents that the DOM accessors of xml/dom.h do not
// cover: children by exact tag name, text content, CDATA sections and
// attribute presence. Nodes belong to their document; null nodes give empty
// results.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct _xmlDoc;
struct _xmlNode;

namespace morvex {

// The document element, or nullptr (null document, failed load).
_xmlNode* DocumentElement(_xmlDoc* document);

// The tag name as written in the document, with its prefix ("p:name").
std::string TagName(const _xmlNode* node);

// True when `node` is an element whose local name (without any prefix) is
// exactly `localName`.
bool IsElementNamed(const _xmlNode* node, std::string_view localName);

// The next child element of `parent` after `after` (the first one for
// nullptr), or nullptr. Lets a walk go on while the caller changes what
// hangs below the elements it has passed.
_xmlNode* NextChildElement(const _xmlNode* parent, const _xmlNode* after);

// Every child element of `parent`, in document order.
std::vector<_xmlNode*> ChildElements(_xmlNode* parent);

// The child elements of `parent` whose tag name (with its prefix, if any) is
// exactly `name`, in document order.
std::vector<_xmlNode*> ChildElements(_xmlNode* parent, std::string_view name);

// The first of ChildElements, or nullptr.
_xmlNode* FirstChildElement(_xmlNode* parent, std::string_view name);

// True when `parent` has at least one child element.
bool HasChildElement(const _xmlNode* parent);

// All descendant text of `node` (CDATA included); empty for nullptr.
std::string ElementText(const _xmlNode* node);

// The nearest preceding sibling of `node` that is an element, or nullptr.
const _xmlNode* PreviousSiblingElement(const _xmlNode* node);

// The nearest ancestor of `node` that is an element, or nullptr.
const _xmlNode* ParentElement(const _xmlNode* node);

// The first run of adjacent text and CDATA children of `element` that is not
// all white space (bytes up to the blank), without its leading white space;
// empty when there is none. A run ends at any other child, so text written
// partly in a CDATA section reads as one.
std::string FirstTextRun(const _xmlNode* element);

// True when `element` carries an attribute with the qualified name `name`,
// even an empty one.
bool HasAttribute(const _xmlNode* element, std::string_view name);

// The qualified names ("p:name" for a prefixed one) of the attributes of
// `element`, in document order; namespace declarations are not attributes.
std::vector<std::string> AttributeNames(const _xmlNode* element);

// The data of every CDATA section child of `element`, in document order.
std::vector<std::string> CDataSections(const _xmlNode* element);

// The markup of `element` itself: start tag with its attributes, content and
// end tag, as UTF-8 text.
std::string ElementMarkup(_xmlNode* element);

// The line of the document on which `node` starts (from 1); 0 when unknown.
long NodeLine(const _xmlNode* node);

// Sets the attribute `name` (no prefix) of `element` to `value`, replacing
// an earlier value. Out of memory leaves the element as it was.
void SetPlainAttribute(_xmlNode* element, const std::string& name, const std::string& value);

// Removes the text and CDATA children of `element`; child elements stay.
void RemoveTextChildren(_xmlNode* element);

}  // namespace morvex
