#include "templates/parameter_names.h"

#include <algorithm>

namespace morvex {

namespace {

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '$'; }

}  // namespace

std::vector<std::string> ExtractParameterNames(std::string_view text) {
  std::vector<std::string> names;
  size_t i = 0;
  while ((i = text.find(':', i)) != std::string_view::npos) {
    const size_t start = ++i;
    if (i < text.size() && IsNameStart(text[i])) {
      while (i < text.size() && IsNameChar(text[i])) ++i;
      names.emplace_back(text.substr(start, i - start));
    }
  }
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
  return names;
}

}  // namespace morvex
