// The selection hooks the document builder of the loaders
// (same parser, options and messages) and frees what it no longer needs.
#include "xml/streaming_select.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cctype>
#include <cstdint>
#include <exception>
#include <optional>
#include <vector>

#include "text/error.h"
#include "text/stream.h"
#include "xml/selection_path.h"
#include "xml/xml_document.h"
#include "xml/xml_errors.h"
#include "xml/xml_ptr.h"

namespace morvex {

namespace {

using detail::xml_ptr;

// --- the selection -----------------------------------------------------------

std::string_view View(const xmlChar* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

bool Matches(const TPathStep& step, const xmlNode* element) {
  if (step.AnyNamespace) return true;
  const std::string_view uri = element->ns ? View(element->ns->href) : std::string_view();
  if (uri != step.NamespaceUri) return false;
  return step.AnyName || View(element->name) == step.LocalName;
}

class TSelector final : public detail::TTreeHooks {
 public:
  TSelector(const TSelectionPath& path, const std::vector<TNamespaceBinding>& prefixes,
            TStreamingSelection& output)
      : path_(path), prefixes_(prefixes), output_(output) {
    states_.push_back(1);  // the document node: no step matched yet
    const std::string test = "self::node()" + path.Predicates;
    if (!path.Predicates.empty()) {
      test_.reset(xmlXPathCompile(BAD_CAST test.c_str()));
      if (!test_) throw EMorvexError("The expression cannot be streamed");
    }
  }

  void Started(_xmlParserCtxt* parser, _xmlNode* element) noexcept override {
    if (failed_) return;
    try {
      if (states_.size() == 1) output_.Prepare(QualifiedName(element));
      const uint64_t parent = states_.back();
      uint64_t states = 0;
      const size_t steps = path_.Steps.size();
      for (size_t i = 0; i < steps; ++i) {
        if (!(parent & (uint64_t{1} << i))) continue;
        const TPathStep& step = path_.Steps[i];
        if (step.Descendant) states |= uint64_t{1} << i;
        if (Matches(step, element)) states |= uint64_t{1} << (i + 1);
      }
      states_.push_back(states);
      if (states & (uint64_t{1} << steps)) candidates_.push_back(element);
    } catch (...) {
      Fail(parser);
    }
  }

  void Ended(_xmlParserCtxt* parser, _xmlNode* element) noexcept override {
    if (failed_) return;
    try {
      states_.pop_back();
      if (!candidates_.empty() && candidates_.front() == element) {
        // The outermost candidate is complete, and with it every candidate
        // inside it: each is tested and written in document order.
        for (xmlNode* candidate : candidates_) {
          if (Holds(candidate)) {
            output_.Write(candidate);
            ++count_;
          }
        }
        candidates_.clear();
      }
      if (candidates_.empty() && element->parent && element->parent->type == XML_ELEMENT_NODE) {
        xmlUnlinkNode(element);
        xmlFreeNode(element);
      }
    } catch (...) {
      Fail(parser);
    }
  }

  bool Building() const noexcept override { return !candidates_.empty(); }

  int Count() const { return count_; }
  void RaiseFailure() const {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  static std::string QualifiedName(const xmlNode* element) {
    std::string name(View(element->name));
    if (element->ns && element->ns->prefix)
      name = std::string(View(element->ns->prefix)) + ":" + name;
    return name;
  }

  bool Holds(xmlNode* candidate) {
    if (!test_) return true;
    if (!context_) {
      context_.reset(xmlXPathNewContext(candidate->doc));
      if (!context_) throw EMorvexError("Out of memory creating an XPath context");
      for (const auto& [prefix, uri] : prefixes_) {
        if (!prefix.empty()) {
          xmlXPathRegisterNs(context_.get(), BAD_CAST prefix.c_str(), BAD_CAST uri.c_str());
        }
      }
    }
    context_->doc = candidate->doc;
    context_->node = candidate;
    xml_ptr<xmlXPathObject> result;
    {
      detail::TErrorCapture errors;
      result.reset(xmlXPathCompiledEval(test_.get(), context_.get()));
    }
    if (!result || result->type != XPATH_NODESET) {
      throw EMorvexError("The expression cannot be streamed");
    }
    return result->nodesetval && result->nodesetval->nodeNr > 0;
  }

  void Fail(_xmlParserCtxt* parser) noexcept {
    failed_ = true;
    error_ = std::current_exception();
    xmlStopParser(parser);
  }

  const TSelectionPath& path_;
  const std::vector<TNamespaceBinding>& prefixes_;
  TStreamingSelection& output_;
  std::vector<uint64_t> states_;      // per open element: the steps matched so far
  std::vector<xmlNode*> candidates_;  // open or pending, in document order
  xml_ptr<xmlXPathCompExpr> test_;
  xml_ptr<xmlXPathContext> context_;
  int count_ = 0;
  bool failed_ = false;
  std::exception_ptr error_;
};

}  // namespace

bool IsStreamableSelection(std::string_view expressions, std::string_view selectionNamespaces) {
  std::vector<TNamespaceBinding> prefixes;
  try {
    prefixes = ParseSelectionNamespaces(selectionNamespaces);
  } catch (const EMorvexError&) {
    return false;
  }
  const std::vector<std::string> lines = SelectionLines(expressions);
  if (lines.empty()) return false;
  for (const std::string& line : lines) {
    if (!ParseSelectionPath(line, prefixes)) return false;
  }
  return true;
}

int SelectStreaming(TStream& source, std::string_view expression,
                    std::string_view selectionNamespaces, TStreamingSelection& output) {
  const std::vector<TNamespaceBinding> prefixes = ParseSelectionNamespaces(selectionNamespaces);
  const std::optional<TSelectionPath> path = ParseSelectionPath(expression, prefixes);
  if (!path) throw EMorvexError("The expression cannot be streamed");
  TSelector selector(*path, prefixes, output);
  TXmlDocument document = detail::ParseXmlStreamWithHooks(source, selector);
  selector.RaiseFailure();
  if (!HasDocumentElement(document.get())) {
    throw EMorvexError(ParseErrorMessage(GetParseError(document.get())));
  }
  return selector.Count();
}

}  // namespace morvex
