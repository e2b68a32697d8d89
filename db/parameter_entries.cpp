#include "db/parameter_entries.h"

#include <atomic>

#include "text/case_fold.h"
#include "text/utf.h"

namespace morvex {

namespace {

std::string_view EntryName(std::string_view entry) { return entry.substr(0, entry.find('=')); }

uint64_t NextListId() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

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

TParameterValues::TParameterValues(const std::vector<std::string>* entries)
    : entries_(entries), id_(NextListId()) {}

TParameterValues::TParameterValues(const std::vector<std::vector<std::string>>& columnNames,
                                   const std::vector<std::string>* entries)
    : columnCount_(static_cast<int>(columnNames.size())), entries_(entries), id_(NextListId()) {
  for (int column = 0; column < columnCount_; ++column) {
    for (const std::string& name : columnNames[column]) columnNames_.emplace_back(name, column);
  }
}

int TParameterValues::Find(std::string_view name) const {
  for (const auto& [columnName, column] : columnNames_) {
    if (SameTextIgnoringCase(columnName, name)) return column;
  }
  if (!entries_) return kNoSlot;
  // Case folding is an equivalence, so an entry that a column hides can
  // never be the first match of a name that no column has.
  for (size_t i = 0; i < entries_->size(); ++i) {
    if (SameTextIgnoringCase(EntryName((*entries_)[i]), name)) {
      return columnCount_ + static_cast<int>(i);
    }
  }
  return kNoSlot;
}

std::string_view TParameterValues::Value(int slot) const {
  if (slot < columnCount_) return (*cells_)[slot];
  return ParameterEntryValue((*entries_)[slot - columnCount_]);
}

void ReplaceReference(std::string& text, std::string_view name, std::string_view value) {
  ReplaceReference(text, name, value, value);
}

void ReplaceReference(std::string& text, std::string_view name, std::string_view value,
                      std::string_view insideQuotes) {
  std::string pattern = ":";
  for (const char c : name) pattern.push_back(AsciiUpper(c));
  std::string result;
  size_t i = 0;
  bool replaced = false;
  bool quoted = false;
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
      result.append(quoted ? insideQuotes : value);
      i += pattern.size();
    } else {
      if (text[i] == '\'') quoted = !quoted;
      if (replaced) result.push_back(text[i]);
      ++i;
    }
  }
  if (replaced) text = std::move(result);
}

}  // namespace morvex
