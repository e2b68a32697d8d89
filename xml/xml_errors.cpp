#include "xml/xml_errors.h"

#include <libxslt/xsltutils.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace morvex::detail {

// libxml2 keeps at most 10,000,000 nodes in one node-set. A path starting
// with "//" walks every node of the document (text nodes included) before
// its predicate is tested, so it reaches that limit on documents of about a
// million records where an explicit path does not.
const char* const kNodeLimitReason =
    "selects more nodes than libxml2 allows in one selection (10000000); "
    "write an explicit path from the root, such as /root/record[...], instead of //record[...]";

namespace {

constexpr std::string_view kFunctionNotFound = "xmlXPathCompOpEval: function ";
constexpr std::string_view kNotFound = " not found";

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace

TErrorCapture::TErrorCapture()
    : oldXmlGeneric_(xmlGenericError),
      oldXmlGenericContext_(xmlGenericErrorContext),
      oldStructured_(xmlStructuredError),
      oldStructuredContext_(xmlStructuredErrorContext),
      oldXsltGeneric_(xsltGenericError),
      oldXsltGenericContext_(xsltGenericErrorContext) {
  xmlSetGenericErrorFunc(this, OnGeneric);
  xmlSetStructuredErrorFunc(this, OnStructured);
  xsltSetGenericErrorFunc(this, OnGeneric);
}

TErrorCapture::~TErrorCapture() {
  xsltSetGenericErrorFunc(oldXsltGenericContext_, oldXsltGeneric_);
  xmlSetStructuredErrorFunc(oldStructuredContext_, oldStructured_);
  xmlSetGenericErrorFunc(oldXmlGenericContext_, oldXmlGeneric_);
}

std::string TErrorCapture::Message(std::string_view fallback) {
  AddLine(partial_);
  partial_.clear();
  if (!unknownFunction_.empty()) {
    AddLine("unknown XPath function " + unknownFunction_);
    unknownFunction_.clear();
  }
  std::string message;
  for (const std::string& line : lines_) {
    if (!message.empty()) message += "; ";
    message += line;
  }
  return message.empty() ? std::string(fallback) : message;
}

void TErrorCapture::OnGeneric(void* context, const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length < 0) return;
  try {
    static_cast<TErrorCapture*>(context)->AddText(
        std::string_view(buffer, std::min(static_cast<size_t>(length), sizeof buffer - 1)));
  } catch (...) {
    // Out of memory: the message is lost, the failure itself is not.
  }
}

void TErrorCapture::OnStructured(void* context, xmlError* error) {
  if (!error || !error->message) return;
  try {
    static_cast<TErrorCapture*>(context)->AddStructured(*error);
  } catch (...) {
    // As above.
  }
}

void TErrorCapture::AddStructured(const xmlError& error) {
  AddLine(partial_);
  partial_.clear();
  std::string text = Trimmed(error.message);
  if (error.domain == XML_FROM_XPATH) {
    // "growing nodeset hit limit", "merging nodeset hit limit", ...
    if (error.code == XML_ERR_NO_MEMORY && text.find("nodeset hit limit") != std::string::npos) {
      nodeLimit_ = true;
      AddLine(std::string("the XPath expression ") + kNodeLimitReason);
      return;
    }
    // The limit then fails the evaluation as a whole, once more.
    if (nodeLimit_ && (error.code == XML_ERR_NO_MEMORY || error.code == XML_XPATH_MEMORY_ERROR)) {
      return;
    }
    if (error.code == XML_XPATH_UNKNOWN_FUNC_ERROR && !unknownFunction_.empty()) {
      text = "unknown XPath function " + unknownFunction_;
      unknownFunction_.clear();
    }
    if (error.str1) text += " in XPath expression \"" + std::string(error.str1) + "\"";
  }
  AddLine(text);
}

void TErrorCapture::AddText(std::string_view text) {
  for (char c : text) {
    if (c == '\n') {
      AddLine(partial_);
      partial_.clear();
    } else {
      partial_ += c;
    }
  }
}

void TErrorCapture::AddLine(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  // "xmlXPathCompOpEval: function NAME not found" is followed by the
  // structured error that names the expression; the two become one line.
  if (line.rfind(kFunctionNotFound, 0) == 0 &&
      line.size() > kFunctionNotFound.size() + kNotFound.size() &&
      line.compare(line.size() - kNotFound.size(), kNotFound.size(), kNotFound) == 0) {
    if (!unknownFunction_.empty()) AddLine("unknown XPath function " + unknownFunction_);
    unknownFunction_ = line.substr(kFunctionNotFound.size(),
                                   line.size() - kFunctionNotFound.size() - kNotFound.size());
    return;
  }
  if (line.empty() || (!lines_.empty() && lines_.back() == line)) return;
  lines_.push_back(std::move(line));
}

}  // namespace morvex::detail
