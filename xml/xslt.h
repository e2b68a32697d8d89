// XSLT 1.0 transformations over libxslt (with the EXSLT extensions).
//
// Stylesheets run with these limits: they may read local files through
// document() (when DefaultXmlOptions().AllowDocumentFunction is set) and
// xsl:import/xsl:include, always through the same safe parser as every other
// document (no external entities, no DTDs); they may never read from the
// network nor write files or directories (exsl:document is refused).
//
// The result is written as the stylesheet's xsl:output directs (method,
// encoding, indentation, declaration).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "xml/xml_endpoints.h"

struct _xmlDoc;
struct _xsltTransformContext;

namespace morvex {

class TStream;

// One stylesheet parameter. Values arrive in the stylesheet typed: integers
// and floating-point numbers as numbers, booleans as booleans, strings as
// strings whatever quote characters they hold.
struct TTransformParameter {
  std::string Name;
  std::variant<int64_t, double, bool, std::string> Value;
  std::string NamespaceURI;  // usually empty
};

// In order; when a name (with its namespace URI) comes twice, the later value
// wins.
using TTransformParameters = std::vector<TTransformParameter>;

// A stylesheet: the file at a path, or XSLT text.
struct TStylesheet {
  static TStylesheet File(std::string_view path) { return {path, false}; }
  static TStylesheet Text(std::string_view text) { return {text, true}; }
  std::string_view PathOrText;
  bool IsText = false;
};

// Transforms `source` with `stylesheet` and writes the result to `output`
// (opened only once the transformation has succeeded; see TXmlOutput).
// Raises EMorvexError with the parse error of a source or stylesheet that did
// not load (naming the file, for a file), the messages of the XSLT processor,
// or the failure to open or write a file.
void TransformXml(const TXmlSource& source, const TStylesheet& stylesheet, TXmlOutput& output,
                  const TTransformParameters& parameters);

// Compiles `stylesheet` without running it, so that a stylesheet can be
// checked before any source exists. Raises EMorvexError with the parse error
// when it has no document element and with the processor's messages when it
// does not compile.
void CompileStylesheet(_xmlDoc* stylesheet);

// The core of TransformXml: transforms `source` with the stylesheet document
// `stylesheet` (which is copied, not taken over; xsl:strip-space removes
// whitespace text nodes from `source` itself) and writes the result to
// `output` at its position. Raises EMorvexError with the processor's messages
// when the stylesheet does not compile or the transformation fails, and with
// the parse error when either document has no document element.
void TransformDocument(_xmlDoc* source, _xmlDoc* stylesheet, const TTransformParameters& parameters,
                       TStream& output);

// Script blocks of stylesheets: when DefaultXmlOptions().AllowXsltScript is
// set, every transformation calls the hook with the compiled stylesheet's
// document and the transform context before it runs, so that the script host
// can register the blocks' functions. The returned object lives until the
// transformation ends. The hook raises EMorvexError for a block it cannot
// run. Without a hook, script blocks are ignored.
using TXsltScriptHook =
    std::function<std::shared_ptr<void>(_xmlDoc* stylesheet, _xsltTransformContext* context)>;
void SetXsltScriptHook(TXsltScriptHook hook);

}  // namespace morvex
