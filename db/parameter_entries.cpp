#include "db/parameter_entries.h"

#include "text/case_fold.h"
#include "text/utf.h"

namespace morvex {

namespace {

std::string_view EntryName(std::string_view entry) { return entry.substr(0, entry.find('=')); }

}  // namespace

const std::string* FindParameterEntry(const std::vector<std::string>& entries,
                                      std::string_view name) {
  for (const std::string& entry : entries) {
    if (SameTextIgnoringCase(EntryName(entry), name)) return &entry;
  }
  return nullptr;
}

std::string_view ParameterEntryValue(std::string_view entry) {
  const size_t equals = entry.find('=');
  return equals == std::string_view::npos ? std::string_view() : entry.substr(equals + 1);
}

void ReplaceReference(std::string& text, std::string_view name, std::string_view value) {
  std::string pattern = ":";
  for (const char c : name) pattern.push_back(AsciiUpper(c));
  std::string result;
  size_t i = 0;
  bool replaced = false;
  while (i < text.size()) {
    bool match = text.size() - i >= pattern.size();
    for (size_t k = 0; match && k < pattern.size(); ++k) {
      match = AsciiUpper(text[i + k]) == pattern[k];
    }
    if (match) {
      if (!replaced) {
        result.reserve(text.size());
        result.append(text, 0, i);
        replaced = true;
      }
      result.append(value);
      i += pattern.size();
    } else {
      if (replaced) result.push_back(text[i]);
      ++i;
    }
  }
  if (replaced) text = std::move(result);
}

}  // namespace morvex
