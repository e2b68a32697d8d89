// One transformation: compile a copy of the stylesheet document, set the
// security preferences and the typed parameters on a fresh transformation
// context, apply, then serialise the result tree onto a TStream through an
// output buffer in the stylesheet's output encoding. libxslt reports its
// errors through process-wide (per-thread) callbacks, so they are collected
// for the duration of each step and become the step's message.
#include "xml/xslt.h"

#include <libxml/encoding.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxslt/imports.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xsltutils.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <map>
#include <utility>

#include "text/error.h"
#include "text/stream.h"
#include "xml/input_policy.h"
#include "xml/output_sink.h"
#include "xml/xml_document.h"
#include "xml/xml_errors.h"
#include "xml/xml_options.h"
#include "xml/xml_ptr.h"

namespace morvex {

namespace {

using detail::xml_ptr;

using detail::TErrorCapture;

// XPath expressions that evaluate to exactly the given values: libxslt takes
// parameter values as expressions.
std::string XPathNumber(double value) {
  if (std::isnan(value)) return "number('NaN')";
  if (std::isinf(value)) return value > 0 ? "(1 div 0)" : "(-1 div 0)";
  char buffer[400];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) return "number('NaN')";
  return std::string(buffer, end);
}

// A string literal, or for text holding both quote characters a concat() of
// pieces, so that no value can end the literal early.
std::string XPathString(const std::string& value) {
  if (value.find('\'') == std::string::npos) return "'" + value + "'";
  if (value.find('"') == std::string::npos) return "\"" + value + "\"";
  std::string expression = "concat(";
  size_t start = 0;
  for (;;) {
    size_t quote = value.find('\'', start);
    expression += "'" + value.substr(start, quote - start) + "'";
    if (quote == std::string::npos) break;
    expression += ",\"'\",";
    start = quote + 1;
  }
  return expression + ")";
}

std::string XPathValue(const std::variant<int64_t, double, bool, std::string>& value) {
  struct Visitor {
    std::string operator()(int64_t v) const { return std::to_string(v); }
    std::string operator()(double v) const { return XPathNumber(v); }
    std::string operator()(bool v) const { return v ? "true()" : "false()"; }
    std::string operator()(const std::string& v) const { return XPathString(v); }
  };
  return std::visit(Visitor{}, value);
}

// The parameters with each (namespace, name) once, holding its last value, in
// the order of first appearance.
std::vector<const TTransformParameter*> LastValues(const TTransformParameters& parameters) {
  std::vector<const TTransformParameter*> unique;
  std::map<std::pair<std::string, std::string>, size_t> index;
  for (const TTransformParameter& parameter : parameters) {
    auto [it, added] = index.try_emplace({parameter.NamespaceURI, parameter.Name}, unique.size());
    if (added) {
      unique.push_back(&parameter);
    } else {
      unique[it->second] = &parameter;
    }
  }
  return unique;
}

void RequireDocumentElement(const xmlDoc* document, const char* what) {
  if (HasDocumentElement(document)) return;
  TXMLDOMParseError error = GetParseError(document);
  if (error.ErrorCode == 0) throw EMorvexError(std::string(what) + " has no document element");
  std::string message = ParseErrorMessage(error);
  throw EMorvexError(error.URL.empty() ? std::string(what) + " " + message : message);
}

TXsltScriptHook& ScriptHook() {
  static TXsltScriptHook hook;
  return hook;
}

xml_ptr<xsltSecurityPrefs> TransformSecurity() {
  xml_ptr<xsltSecurityPrefs> prefs(xsltNewSecurityPrefs());
  if (!prefs) throw EMorvexError("Out of memory creating XSLT security preferences");
  bool readFiles = DefaultXmlOptions().AllowDocumentFunction;
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_FILE,
                       readFiles ? xsltSecurityAllow : xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
  return prefs;
}

// `stylesheet` compiled from a copy (the compiled stylesheet owns the copy).
xml_ptr<xsltStylesheet> CompiledStylesheet(xmlDoc* stylesheet) {
  RequireDocumentElement(stylesheet, "The XSLT stylesheet");
  TErrorCapture errors;
  xml_ptr<xmlDoc> copy(xmlCopyDoc(stylesheet, 1));
  if (!copy) throw EMorvexError("Out of memory copying the stylesheet");
  xml_ptr<xsltStylesheet> style(xsltParseStylesheetDoc(copy.get()));
  if (!style) throw EMorvexError(errors.Message("The stylesheet could not be compiled"));
  copy.release();
  return style;
}

// A compiled stylesheet applied to one source; the result tree stays until
// it is saved.
class TTransformRun {
 public:
  TTransformRun(xmlDoc* source, xmlDoc* stylesheet, const TTransformParameters& parameters) {
    RequireDocumentElement(source, "The XML source");
    style_ = CompiledStylesheet(stylesheet);
    TErrorCapture errors;

    security_ = TransformSecurity();
    context_.reset(xsltNewTransformContext(style_.get(), source));
    if (!context_) throw EMorvexError(errors.Message("The transformation could not be set up"));
    // libxslt counts about two nested template calls per level of an
    // identity transformation: its infinite-recursion guard (3000) would
    // refuse documents every reader accepts. Far below the stack's limit.
    context_->maxTemplateDepth = std::max(context_->maxTemplateDepth, 2 * kMaxNestingDepth + 1000);
    if (xsltSetCtxtSecurityPrefs(security_.get(), context_.get()) != 0) {
      throw EMorvexError(errors.Message("The XSLT security preferences could not be set"));
    }
    if (ScriptHook() && DefaultXmlOptions().AllowXsltScript) {
      scripts_ = ScriptHook()(style_->doc, context_.get());
    }
    for (const TTransformParameter* parameter : LastValues(parameters)) {
      std::string name = parameter->NamespaceURI.empty()
                             ? parameter->Name
                             : "{" + parameter->NamespaceURI + "}" + parameter->Name;
      std::string value = XPathValue(parameter->Value);
      if (xsltEvalOneUserParam(context_.get(), BAD_CAST name.c_str(), BAD_CAST value.c_str()) !=
              0 ||
          context_->state != XSLT_STATE_OK) {
        throw EMorvexError(
            errors.Message("The parameter " + parameter->Name + " could not be set"));
      }
    }
    result_.reset(
        xsltApplyStylesheetUser(style_.get(), source, nullptr, nullptr, nullptr, context_.get()));
    // A selection cut at libxml2's node-set limit leaves a result that lacks nodes.
    if (!result_ || context_->state != XSLT_STATE_OK || errors.NodeLimitHit()) {
      throw EMorvexError(errors.Message("The XSLT transformation failed"));
    }
    // Fails now for an unknown output encoding, before any output exists.
    if (xmlCharEncodingHandler* encoder = OutputEncoder()) xmlCharEncCloseFunc(encoder);
  }

  // Writes the result as the stylesheet's xsl:output directs.
  void Save(TStream& output) const {
    TErrorCapture errors;
    xmlCharEncodingHandler* encoder = OutputEncoder();
    detail::TOutputSink sink{&output, nullptr};
    xml_ptr<xmlOutputBuffer> buffer(
        xmlOutputBufferCreateIO(detail::WriteToSink, nullptr, &sink, encoder));
    if (!buffer) {
      if (encoder) xmlCharEncCloseFunc(encoder);
      throw EMorvexError("Out of memory creating the output buffer");
    }
    int written = xsltSaveResultTo(buffer.get(), result_.get(), style_.get());
    int closed = xmlOutputBufferClose(buffer.release());
    if (sink.Error) std::rethrow_exception(sink.Error);
    if (written < 0 || closed < 0) {
      throw EMorvexError(errors.Message("Writing the transformation result failed"));
    }
  }

 private:
  // The encoder of the stylesheet's output encoding (the caller closes it),
  // or nullptr for UTF-8.
  xmlCharEncodingHandler* OutputEncoder() const {
    const xmlChar* encoding = nullptr;
    for (xsltStylesheet* style = style_.get(); style && !encoding; style = xsltNextImport(style)) {
      encoding = style->encoding;
    }
    if (!encoding) return nullptr;
    xmlCharEncodingHandler* encoder =
        xmlFindCharEncodingHandler(reinterpret_cast<const char*>(encoding));
    if (!encoder) {
      throw EMorvexError("The output encoding \"" +
                         std::string(reinterpret_cast<const char*>(encoding)) +
                         "\" of the stylesheet is not supported");
    }
    if (xmlStrcasecmp(BAD_CAST encoder->name, BAD_CAST "UTF-8") == 0) {
      xmlCharEncCloseFunc(encoder);
      return nullptr;
    }
    return encoder;
  }

  xml_ptr<xsltStylesheet> style_;
  xml_ptr<xsltSecurityPrefs> security_;
  xml_ptr<xsltTransformContext> context_;
  xml_ptr<xmlDoc> result_;
  std::shared_ptr<void> scripts_;  // released first: it registered into context_
};

}  // namespace

void TransformXml(const TXmlSource& source, const TStylesheet& stylesheet, TXmlOutput& output,
                  const TTransformParameters& parameters) {
  try {
    // Sources are only read: small texts stay inside their nodes.
    TXmlDocument sourceDocument = LoadXmlSource(source, true);
    TXmlDocument stylesheetDocument = stylesheet.IsText
                                          ? LoadXmlText(stylesheet.PathOrText)
                                          : LoadXmlFile(std::string(stylesheet.PathOrText));
    TTransformRun run(sourceDocument.get(), stylesheetDocument.get(), parameters);
    run.Save(output.Open());
    output.Close();
  } catch (const std::exception& e) {
    if (*e.what() != '\0') throw;
    throw EMorvexError("The XSLT transformation failed");
  }
}

void CompileStylesheet(_xmlDoc* stylesheet) { CompiledStylesheet(stylesheet); }

void TransformDocument(_xmlDoc* source, _xmlDoc* stylesheet, const TTransformParameters& parameters,
                       TStream& output) {
  TTransformRun run(source, stylesheet, parameters);
  run.Save(output);
}

void SetXsltScriptHook(TXsltScriptHook hook) { ScriptHook() = std::move(hook); }

}  // namespace morvex
