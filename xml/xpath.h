// XPath 1.0 over documents: node selection with a document's selection
// prefixes, the string value of an expression, and copying selected nodes
// into a new document.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_endpoints.h"

struct _xmlDoc;
struct _xmlNode;

namespace morvex {

class TStream;
struct TXmlOptions;

// The nodes `expression` selects with `context` as context node (a document
// may be passed as its own node) and the prefixes of the owner document's
// SelectionNamespaces, in document order. Raises EMorvexError for an invalid
// expression (libxml2's reason in this system's words, such as "unknown
// XPath function f"), one that selects more nodes than libxml2 holds, one
// that gives no node-set, or one that selects namespace nodes. A null
// context selects nothing.
std::vector<_xmlNode*> SelectNodes(_xmlNode* context, std::string_view expression);
std::vector<_xmlNode*> SelectNodes(_xmlDoc* document, std::string_view expression);

// The string value of `expression`, evaluated as an XSLT 1.0 stylesheet's
// xsl:value-of would with the document element as context node: a node-set
// gives the string value of its first node in document order, an empty set
// an empty text. `selectionNamespaces` ("xmlns:p='uri' ...") declares the
// prefixes the expression may use. Raises EMorvexError on any failure (also
// for a document without document element).
std::string EvaluateXPathText(_xmlDoc* document, std::string_view expression,
                              std::string_view selectionNamespaces);
// The same for a source; raises EMorvexError with the source's parse error
// (naming the file, for a file) or the evaluation's. count, sum or string of
// a path one pass can select is computed in one pass over the input
// (EvaluateXPathTextInOnePass), with the same text; anything else, and an
// input that fails there, loads the whole document.
std::string EvaluateXPathText(const TXmlSource& source, std::string_view expression,
                              std::string_view selectionNamespaces);

// Copies the nodes that `expressions` select from the source into a new
// document under `rootPath` and saves it to the destination with `options`
// (SaveXmlToStream; nullptr for libxml2's plain UTF-8 save).
//   - An empty rootPath takes the name of the source's document element.
//   - `rootAttributes` (name='value' items, see SetAttributesFromText) go on
//     the outermost element of the path; xmlns declarations among them
//     become namespace declarations that copied nodes reuse.
//   - `selectionNamespaces` declares the prefixes the expressions may use.
//   - `expressions` is one expression per line: lines end at CR, LF or
//     CR LF alike (XML parsers turn CR LF into LF in element text), a final
//     line end adds no empty line, and a blank line is an invalid expression.
// Returns the number of nodes copied; raises EMorvexError on any failure. The
// source stream is read from position 0; the output is opened only once the
// selection is known (see TXmlOutput). A source that is not well-formed XML
// is an error.
//
// No copy of the selection is built: the nodes are written from the source
// (a node whose subtree uses namespaces is copied and freed on its own, so
// that its declarations come out as its copy under the root would have
// them). When every line is a path that one pass can select
// (IsStreamableSelection) and the output can be taken back (a regular file or
// a stream written at its end), the source is read in one pass per line that builds
// only each candidate's subtree, so memory stays flat; should that fail, its
// output is taken back and the whole document is loaded instead, which gives
// the same bytes or the failure's own message.
int SelectXmlToDocument(TStream& source, TXmlOutput& output, std::string_view expressions,
                        const TXmlOptions* options, std::string_view rootAttributes,
                        std::string_view selectionNamespaces, std::string_view rootPath);

// Appends a clone (deep or shallow; a shallow element clone keeps its
// attributes) of every node `expression` selects in `document` to `target`,
// and returns how many nodes were selected. A selected attribute is set on
// `target`. Raises EMorvexError for an invalid expression or for a selected
// document node.
int CopySelectedNodes(_xmlDoc* document, _xmlNode* target, std::string_view expression, bool deep);

// Creates the nested elements of a "/"-separated path (empty segments are
// skipped, so "/a//b" gives a with b inside) and returns the innermost.
// Raises EMorvexError for an invalid or empty element name (a path ending in
// "/") and for a second document element.
_xmlNode* CreateElementPath(_xmlDoc* document, std::string_view path);

}  // namespace morvex
