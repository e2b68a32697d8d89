#include "xml/sax_parser.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "text/error.h"
#include "text/stream.h"
#include "xml/sax_reader.h"
#include "xml/sax_writer.h"
#include "xml/xml_ptr.h"

namespace morvex {

namespace {

std::string_view SpaceIfEmpty(std::string_view text) { return text.empty() ? " " : text; }

std::string_view View(const xmlChar* text) {
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text));
}

const TXMLAttributes& NoAttributes() {
  static const TXMLAttributes empty;
  return empty;
}

}  // namespace

// --- TXMLAttributes ---

void TXMLAttributes::AddAttribute(std::string_view uri, std::string_view localName,
                                  std::string_view qName, std::string_view type,
                                  std::string_view value) {
  items_.push_back(TAttribute{std::string(SpaceIfEmpty(uri)), std::string(SpaceIfEmpty(localName)),
                              std::string(SpaceIfEmpty(qName)), std::string(SpaceIfEmpty(type)),
                              std::string(SpaceIfEmpty(value))});
}

const TAttribute& TXMLAttributes::Item(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= items_.size()) {
    throw EMorvexError("Attribute index " + std::to_string(index) + " is out of range (" +
                       std::to_string(items_.size()) + " attributes)");
  }
  return items_[static_cast<size_t>(index)];
}

int TXMLAttributes::IndexFromName(std::string_view uri, std::string_view localName) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].URI == uri && items_[i].LocalName == localName) return static_cast<int>(i);
  }
  return -1;
}

int TXMLAttributes::IndexFromQName(std::string_view qName) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].QName == qName) return static_cast<int>(i);
  }
  return -1;
}

namespace {

const TAttribute& ByName(const TXMLAttributes& attributes, std::string_view uri,
                         std::string_view localName) {
  const int index = attributes.IndexFromName(uri, localName);
  if (index < 0) {
    throw EMorvexError("No attribute \"" + std::string(localName) + "\" in the namespace \"" +
                       std::string(uri) + "\"");
  }
  return attributes.Item(index);
}

const TAttribute& ByQName(const TXMLAttributes& attributes, std::string_view qName) {
  const int index = attributes.IndexFromQName(qName);
  if (index < 0) throw EMorvexError("No attribute \"" + std::string(qName) + "\"");
  return attributes.Item(index);
}

}  // namespace

const std::string& TXMLAttributes::ValueFromName(std::string_view uri,
                                                 std::string_view localName) const {
  return ByName(*this, uri, localName).Value;
}

const std::string& TXMLAttributes::ValueFromQName(std::string_view qName) const {
  return ByQName(*this, qName).Value;
}

const std::string& TXMLAttributes::TypeFromName(std::string_view uri,
                                                std::string_view localName) const {
  return ByName(*this, uri, localName).Type;
}

const std::string& TXMLAttributes::TypeFromQName(std::string_view qName) const {
  return ByQName(*this, qName).Type;
}

// --- TXMLParser: construction and settings ---

TXMLParser::TXMLParser() : writer_(std::make_unique<Writer>(*this)) { xmlInitParser(); }

TXMLParser::~TXMLParser() = default;

void TXMLParser::SetOutput(TStream* output) {
  // Bytes the writer still holds belong to the stream they were written for.
  if (output_ != nullptr && output_ != output) writer_->Flush();
  output_ = output;
}

size_t TXMLParser::ReplacedValueCount() const { return writer_->ReplacedValues(); }

// --- callbacks: the event slot first, then the writer ---

void TXMLParser::StartDocument() {
  if (OnStartDocument) OnStartDocument();
  if (writing && output_ != nullptr) writer_->StartDocument();
}

void TXMLParser::EndDocument() {
  if (OnEndDocument) OnEndDocument();
  if (writing && output_ != nullptr) writer_->EndDocument();
}

void TXMLParser::StartPrefixMapping(sv prefix, sv uri) {
  if (OnStartPrefixMapping) OnStartPrefixMapping(prefix, uri);
  if (writing && output_ != nullptr) writer_->StartPrefixMapping(prefix, uri);
}

void TXMLParser::EndPrefixMapping(sv prefix) {
  if (OnEndPrefixMapping) OnEndPrefixMapping(prefix);
}

void TXMLParser::StartElement(sv uri, sv localName, sv qName, const TXMLAttributes* attributes) {
  if (OnStartElement) {
    OnStartElement(uri, localName, qName, attributes != nullptr ? *attributes : NoAttributes());
  }
  if (writing && output_ != nullptr) writer_->StartElement(localName, qName, attributes);
}

void TXMLParser::EndElement(sv uri, sv localName, sv qName) {
  if (OnEndElement) OnEndElement(uri, localName, qName);
  if (writing && output_ != nullptr) writer_->EndElement(localName, qName);
}

void TXMLParser::Characters(sv chars) {
  if (OnCharacters) OnCharacters(chars);
  if (writing && output_ != nullptr) writer_->Characters(chars);
}

void TXMLParser::IgnorableWhiteSpace(sv chars) {
  if (OnIgnorableWhiteSpace) OnIgnorableWhiteSpace(chars);
  if (writing && output_ != nullptr) writer_->Characters(chars);
}

void TXMLParser::ProcessingInstruction(sv target, sv data) {
  if (OnProcessingInstruction) OnProcessingInstruction(target, data);
  if (writing && output_ != nullptr) writer_->ProcessingInstruction(target, data);
}

// An entity the reader did not expand has no text to write.
void TXMLParser::SkippedEntity(sv name) {
  if (OnSkippedEntity) OnSkippedEntity(name);
}

void TXMLParser::StartCData() {
  if (OnStartCData) OnStartCData();
  if (writing && output_ != nullptr) writer_->StartCData();
}

void TXMLParser::EndCData() {
  if (OnEndCData) OnEndCData();
  if (writing && output_ != nullptr) writer_->EndCData();
}

void TXMLParser::TextElement(sv name, sv text, bool cdata) {
  if (OnStartElement || OnCharacters || OnEndElement || OnStartCData || OnEndCData || !writing ||
      output_ == nullptr) {
    StartElement(" ", name, name, nullptr);
    if (cdata) StartCData();
    if (!text.empty()) Characters(text);
    if (cdata) EndCData();
    EndElement(" ", name, name);
    return;
  }
  writer_->TextElement(name, text, cdata);
}

void TXMLParser::Comment(sv chars) {
  if (OnComment) OnComment(chars);
  if (writing && output_ != nullptr) writer_->Comment(chars);
}

// --- reader ---

void TXMLParser::Parse(TStream& input) {
  Reader reader(*this);
  reader.Parse(input);
}

void TXMLParser::ParseURL(const std::string& path) {
  TFileStream file(path, TFileStream::Mode::Read);
  Parse(file);
}

namespace {

// The qualified name of an element or attribute node: "prefix:name" or "name".
std::string_view NodeQName(const xmlNs* ns, const xmlChar* name, std::string& scratch) {
  if (ns == nullptr || ns->prefix == nullptr) return View(name);
  scratch.assign(View(ns->prefix));
  scratch += ':';
  scratch.append(View(name));
  return scratch;
}

// The value of an attribute node: its one text child as it stands, or the
// concatenated text of several children (entity references included).
void AttributeValue(const xmlDoc* document, const xmlAttr* attribute, std::string& value) {
  const xmlNode* child = attribute->children;
  if (child == nullptr) {
    value.clear();
  } else if (child->next == nullptr && child->type == XML_TEXT_NODE) {
    value.assign(View(child->content));
  } else {
    detail::xml_ptr<xmlChar> text(xmlNodeListGetString(const_cast<xmlDoc*>(document), child, 1));
    value.assign(View(text.get()));
  }
}

}  // namespace

void TXMLParser::ParseStartTag(const _xmlNode* node) {
  locator_ = TXMLLocator{static_cast<int>(node->line), 0};
  for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
    StartPrefixMapping(View(ns->prefix), View(ns->href));
  }
  if (!OnStartElement && !(writing && output_ != nullptr)) return;
  std::vector<TAttribute>& items = attributes_.items_;
  size_t count = 0;
  for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
    if (count == items.size()) items.emplace_back();
    TAttribute& item = items[count++];
    item.URI.assign(a->ns != nullptr ? View(a->ns->href) : std::string_view());
    item.LocalName.assign(View(a->name));
    item.QName.assign(NodeQName(a->ns, a->name, qName_));
    item.Type.assign("CDATA");
    AttributeValue(node->doc, a, item.Value);
  }
  items.resize(count);
  StartElement(node->ns != nullptr ? View(node->ns->href) : std::string_view(), View(node->name),
               NodeQName(node->ns, node->name, qName_), &attributes_);
}

void TXMLParser::ParseEndTag(const _xmlNode* node) {
  EndElement(node->ns != nullptr ? View(node->ns->href) : std::string_view(), View(node->name),
             NodeQName(node->ns, node->name, qName_));
  declared_.clear();
  for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) declared_.push_back(ns);
  for (auto it = declared_.rbegin(); it != declared_.rend(); ++it) {
    EndPrefixMapping(View((*it)->prefix));
  }
}

// Iterative walk in document order from `first` until the walk climbs back to
// `top`; with `siblings` off only `first` and its subtree are reported.
// Documents can nest deeper than the stack.
void TXMLParser::Walk(const _xmlNode* first, const _xmlNode* top, bool siblings) {
  const xmlNode* node = first;
  while (node != nullptr) {
    bool descend = false;
    switch (node->type) {
      case XML_ELEMENT_NODE:
        ParseStartTag(node);
        if (node->children != nullptr) {
          descend = true;
        } else {
          ParseEndTag(node);
        }
        break;
      case XML_TEXT_NODE:
        if (node->content != nullptr && node->content[0] != 0) Characters(View(node->content));
        break;
      case XML_CDATA_SECTION_NODE:
        StartCData();
        if (node->content != nullptr && node->content[0] != 0) Characters(View(node->content));
        EndCData();
        break;
      case XML_COMMENT_NODE:
        Comment(View(node->content));
        break;
      case XML_PI_NODE:
        // A declaration added to a tree by hand is not content: the writer
        // has written the output's own declaration already.
        if (View(node->name) != "xml") ProcessingInstruction(View(node->name), View(node->content));
        break;
      case XML_ENTITY_REF_NODE:
        SkippedEntity(View(node->name));
        break;
      default:  // DTD and declaration nodes, XInclude markers: not content
        break;
    }
    if (descend) {
      node = node->children;
      continue;
    }
    while (node != nullptr && node != first && node->next == nullptr) {
      node = node->parent;
      if (node == nullptr || node == top) {
        node = nullptr;
        break;
      }
      ParseEndTag(node);
    }
    if (node == first && !siblings) break;
    if (node != nullptr) node = node->next;
  }
}

void TXMLParser::ParseDocument(const _xmlDoc* document) {
  if (document == nullptr) throw EMorvexError("No XML document to read");
  StartDocument();
  Walk(document->children, reinterpret_cast<const xmlNode*>(document), true);
  EndDocument();
}

void TXMLParser::ParseNode(const _xmlNode* node) {
  if (node == nullptr) throw EMorvexError("No XML node to read");
  Walk(node, node->parent, false);
}

// --- direct writing helpers ---

void WriteStartElement(TXMLParser& parser, std::string_view uri, std::string_view localName,
                       std::string_view qName, const TXMLAttributes* attributes) {
  parser.StartElement(SpaceIfEmpty(uri), SpaceIfEmpty(localName), SpaceIfEmpty(qName), attributes);
}

void WriteEndElement(TXMLParser& parser, std::string_view uri, std::string_view localName,
                     std::string_view qName) {
  parser.EndElement(SpaceIfEmpty(uri), SpaceIfEmpty(localName), SpaceIfEmpty(qName));
}

void WriteCharacters(TXMLParser& parser, std::string_view text) {
  if (!text.empty()) parser.Characters(text);
}

}  // namespace morvex
