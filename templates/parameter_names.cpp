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

}  // namespace morvex
