#include "templates/parameter_names.h"

#include <algorithm>

#include "text/parameter_name.h"

namespace morvex {

std::vector<std::string> ExtractParameterNames(std::string_view text) {
  std::vector<std::string> names;
  size_t i = 0;
  while ((i = text.find(':', i)) != std::string_view::npos) {
    const size_t start = ++i;
    i = ParameterNameEnd(text, start, TNameSyntax::Condition);
    if (i > start) names.emplace_back(text.substr(start, i - start));
  }
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
  return names;
}

std::string CrLfToBlank(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      result.push_back(' ');
      ++i;
    } else {
      result.push_back(text[i]);
    }
  }
  return result;
}

std::string ReplaceParameterReferences(std::string_view text, const TResolveReference& resolve) {
  std::string result;
  result.reserve(text.size());
  bool quoted = false;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ':') {
      const size_t start = i + 1;
      const size_t end = ParameterNameEnd(text, start, TNameSyntax::Condition);
      if (end > start) {
        const std::optional<TReferenceText> replacement =
            resolve(std::string(text.substr(start, end - start)));
        if (replacement) {
          result += quoted ? replacement->InsideQuotes : replacement->Value;
        } else {
          result.append(text, i, end - i);
        }
        i = end;
        continue;
      }
    } else if (c == '\'') {
      quoted = !quoted;
    }
    result.push_back(c);
    ++i;
  }
  return result;
}

}  // namespace morvex
