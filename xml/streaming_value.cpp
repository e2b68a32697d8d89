// The value is gathered from the one-pass selection's elements as they come,
// in document order, with libxml2's own conversions (node to number, node to
// string, number to string), so that the text is the one the whole document
// gives.
#include "xml/streaming_value.h"

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <cstdint>
#include <exception>

#include "text/error.h"
#include "text/stream.h"
#include "xml/selection_path.h"
#include "xml/streaming_select.h"
#include "xml/xml_document.h"

namespace morvex {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Whether the parentheses of `text` balance outside its string literals, so
// that "f(a) + g(b)" is not read as f of "a) + g(b".
bool Balanced(std::string_view text) {
  int depth = 0;
  char quote = 0;
  for (const char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth < 0) {
      return false;
    }
  }
  return depth == 0 && !quote;
}

// Takes a libxml2 string and frees it.
std::string Taken(xmlChar* text) {
  std::string value = text ? reinterpret_cast<const char*>(text) : "";
  xmlFree(text);
  return value;
}

class TValueGatherer final : public TStreamingSelection {
 public:
  explicit TValueGatherer(TStreamableValue::TFunction function) : function_(function) {}

  void Prepare(const std::string&) override {}
  void Write(_xmlNode* element) override {
    switch (function_) {
      case TStreamableValue::TFunction::Count:
        ++count_;
        break;
      case TStreamableValue::TFunction::Sum:
        sum_ += xmlXPathCastNodeToNumber(element);
        break;
      case TStreamableValue::TFunction::String:
        if (!first_) first_ = Taken(xmlXPathCastNodeToString(element));
        break;
    }
  }

  std::string Text() const {
    switch (function_) {
      case TStreamableValue::TFunction::Count:
        return Taken(xmlXPathCastNumberToString(static_cast<double>(count_)));
      case TStreamableValue::TFunction::Sum:
        return Taken(xmlXPathCastNumberToString(sum_));
      case TStreamableValue::TFunction::String:
        break;
    }
    return first_.value_or("");
  }

 private:
  TStreamableValue::TFunction function_;
  // Counted here: the selection's own count is an int.
  int64_t count_ = 0;
  // XPath's sum starts from 0 and adds in document order.
  double sum_ = 0;
  std::optional<std::string> first_;
};

}  // namespace

std::optional<TStreamableValue> ParseStreamableValue(std::string_view expression,
                                                     std::string_view selectionNamespaces) {
  const std::string_view text = Trimmed(expression);
  const struct {
    std::string_view Name;
    TStreamableValue::TFunction Function;
  } functions[] = {{"count", TStreamableValue::TFunction::Count},
                   {"sum", TStreamableValue::TFunction::Sum},
                   {"string", TStreamableValue::TFunction::String}};
  for (const auto& [name, function] : functions) {
    if (!text.starts_with(name)) continue;
    const std::string_view call = Trimmed(text.substr(name.size()));
    if (call.size() < 2 || call.front() != '(' || call.back() != ')') return std::nullopt;
    const std::string_view path = call.substr(1, call.size() - 2);
    if (!Balanced(path)) return std::nullopt;
    std::vector<TNamespaceBinding> prefixes;
    try {
      prefixes = ParseSelectionNamespaces(selectionNamespaces);
    } catch (const EMorvexError&) {
      return std::nullopt;
    }
    if (!ParseSelectionPath(path, prefixes)) return std::nullopt;
    return TStreamableValue{function, std::string(path)};
  }
  return std::nullopt;
}

bool EvaluateXPathTextInOnePass(TStream& source, std::string_view expression,
                                std::string_view selectionNamespaces, std::string& text) {
  const std::optional<TStreamableValue> value =
      ParseStreamableValue(expression, selectionNamespaces);
  if (!value) return false;
  try {
    source.SetPosition(0);
    TValueGatherer gatherer(value->Function);
    SelectStreaming(source, value->Path, selectionNamespaces, gatherer);
    text = gatherer.Text();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace morvex
