// The project, read once: from a project file or from project source text
// given in place of a path, into records of the root, the parameter
// declarations and the root scripts with their four step elements. Every
// record keeps its element's line, so that messages name where a reader finds
// it. The runner and --check read these records; nothing after loading walks
// the project document.
//
// The records keep the document's rules as the run applies them: element and
// attribute names are compared exactly as written (letter case and prefix
// included), the first step element of a name counts, an attribute written
// empty is written, and each CDATA section of a transform is a text of its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/step_info.h"
#include "xml/xml_document.h"

namespace morvex {

// True when `project` is project source text: its first five characters are
// exactly "<?xml" (an "<?XML" start is a path).
bool IsProjectSource(std::string_view project);

// The path a project argument names: ResolvePath(baseDirectory, project).
std::string ProjectFilePath(std::string_view project, std::string_view baseDirectory);

// An attribute as written: its qualified name ("p:name" for a prefixed one)
// and its value. Namespace declarations are not attributes.
struct TElementAttribute {
  std::string Name;
  std::string Value;
};

// A child element: its tag as written, with any prefix, and its line.
struct TChildElement {
  std::string Tag;
  long Line = 0;
};

// What --check and messages read of any element of the project: its tag, the
// line it starts on (from 1; 0 when unknown), its attributes and its child
// elements, each in document order.
struct TElementOutline {
  std::string Tag;
  long Line = 0;
  std::vector<TElementAttribute> Attributes;
  std::vector<TChildElement> Children;

  // The value of the attribute `name` (qualified name, exact), or nullptr
  // when it is not written.
  const std::string* Attribute(std::string_view name) const;
};

// A `connection-string` element and all text inside it, as written.
struct TConnectionStringElement {
  TElementOutline Element;
  std::string Text;
};

// A `source` or `destination` element.
struct TEndpointElement {
  TElementOutline Element;
  std::string Kind;                     // `kind` as written; empty when not written
  std::optional<std::string> Encoding;  // `encoding` as written, when written
  std::string Text;                     // all text inside the element, as written
  std::optional<TConnectionStringElement> ConnectionString;  // the first one
};

// An `lsql` element.
struct TQueryElement {
  TElementOutline Element;
  std::string Kind;             // `kind` as written
  std::string CommandId;        // `cmd-id` as written; empty when not written
  bool OneTransaction = false;  // `one-transaction`; false unless a true value is written
  std::string Markup;           // the element itself (tags, content) as XML text
  std::string Text;             // all text inside the element, as written
};

// A `transform` element.
struct TTransformElement {
  TElementOutline Element;
  std::string Kind;                     // `kind` as written
  std::optional<std::string> Encoding;  // `encoding` as written, when written
  // The options its attributes give: delimiter, quote, header-row,
  // record-tag, namespaces, sel-namespaces, include-params, flat-text and
  // indent, as written (an attribute written empty is written), the record's
  // defaults where one is not written or a boolean holds no boolean value (1,
  // true, yes, 0, false, no). The kind, content, encoding and language are
  // the resolver's (ResolveTransform).
  TXTransformInfo Options;
  std::vector<std::string> Sections;  // each CDATA section child as written, in order
  std::string Text;                   // all text inside the element, as written
};

// A root `script` element and its first element of each step name.
struct TScript {
  TElementOutline Element;
  std::string Name;  // `name`; empty when not written
  std::string Test;  // `test`; empty when not written
  std::optional<TEndpointElement> Source;
  std::optional<TQueryElement> Query;
  std::optional<TTransformElement> Transform;
  std::optional<TEndpointElement> Destination;
};

// One child element of the `parameters` element. Element.Tag is the name as
// declared ("max-rows"); Name is the parameter's name, with every "-" of the
// tag turned into "$" ("max$rows").
struct TParameterDeclaration {
  TElementOutline Element;
  std::string Name;
  std::string Value;  // the element's text as written: the default value
  std::string Alias;  // `alias`; empty when not written
  std::string Kind;   // `kind`; empty when not written
};

// The declaration a parameter name selects: the first one whose tag is the
// name with "$" turned into "-", else the first whose tag is that in ASCII
// capitals; nullptr when none.
const TParameterDeclaration* FindDeclaration(const std::vector<TParameterDeclaration>& declarations,
                                             std::string_view name);

struct TProject {
  std::string Path;  // base for the project's relative paths
  TElementOutline Root;
  std::string Name;                                  // the root's `name`; empty when not written
  std::optional<TElementOutline> ParametersElement;  // the first `parameters` element
  std::vector<TParameterDeclaration> Parameters;     // its child elements, in order
  std::vector<TScript> Scripts;                      // the root's `script` elements, in order
  // The parsed document, which the query template layer reads the
  // declarations from (ParameterDeclarationsElement in engine/operations).
  TXmlDocument Document;
};

// Reads project source text or the project file `project` names. The
// project path is the resolved file path, or baseDirectory + "inline.morvex"
// for project source. Raises EMorvexError("Unsupported project file format!
// [line: L, col: C] reason") when the document has no document element; the
// caller has made sure that a project file exists.
TProject LoadProject(const std::string& project, const std::string& baseDirectory);

}  // namespace morvex
