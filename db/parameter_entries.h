// Parameter names and references. The run's parameter list holds ordered
// "name=value" texts whose name is everything before the first "=", compared
// without regard to letter case (in every script, not only ASCII), the first
// entry of a name winning. Element tag names in templates are compared the
// same way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/case_fold.h"

namespace morvex {

// The entry named `name` ignoring case, or nullptr when there is none.
const std::string* FindParameterEntry(const std::vector<std::string>& entries,
                                      std::string_view name);

// The text after the first "=" of an entry (empty when it has none).
std::string_view ParameterEntryValue(std::string_view entry);

// Replaces every occurrence of ":" + `name` in `text` (ASCII letters compared
// without case) by `value`, in one sweep: inserted values are not searched
// again.
void ReplaceReference(std::string& text, std::string_view name, std::string_view value);

// ReplaceReference that puts `insideQuotes` in place of an occurrence that
// stands inside single quotes ('...', two quotes in a row counting as two)
// and `value` elsewhere. Inserted texts must hold quotes in pairs, so that
// they leave the quoting of the text after them as it was.
void ReplaceReference(std::string& text, std::string_view name, std::string_view value,
                      std::string_view insideQuotes);

// The parameter list that statements are bound from: the run's name=value
// entries, optionally led by the columns of an imported CSV record. A column
// goes by names fixed for the whole import (its header name, then its
// number name) and has the current record's cell as its value; the list
// reads as if each name were an entry "name=cell" in front of the run's
// entries. The first entry of a name wins, so a run parameter named like a
// column is hidden by it.
//
// A name is looked up once (Find gives a slot that stays valid while the
// list lives) and its value read per record (Value), which is how a
// statement executed once per record binds without searching names again.
class TParameterValues {
 public:
  static constexpr int kNoSlot = -1;

  // The run's `entries` alone (none when null); they must outlive the list
  // unchanged.
  explicit TParameterValues(const std::vector<std::string>* entries);
  // `columnNames` holds the names of each column in order, `entries` follow.
  TParameterValues(const std::vector<std::vector<std::string>>& columnNames,
                   const std::vector<std::string>* entries);

  // The cells of the current record, at least one per column; they must stay
  // unchanged while the record is bound.
  void SetCells(const std::vector<std::string>& cells) { cells_ = &cells; }

  // The slot of the first entry named `name` (ignoring case), or kNoSlot.
  int Find(std::string_view name) const;
  // The value in `slot` for the current record.
  std::string_view Value(int slot) const;
  // True when `slot` holds a column of the record rather than a run entry.
  bool IsColumn(int slot) const { return slot >= 0 && slot < columnCount_; }
  // Adds `name` for `column` after every name the list has so far, so that
  // it never hides an earlier one.
  void AddColumnName(std::string name, int column) {
    columnNames_.emplace_back(std::move(name), column);
  }

  // Identifies the names of this list among all lists of the process, so
  // that a slot found in one list is never read from another.
  uint64_t Id() const { return id_; }

 private:
  std::vector<std::pair<std::string, int>> columnNames_;  // name, column; in list order
  int columnCount_ = 0;
  const std::vector<std::string>* entries_;
  const std::vector<std::string>* cells_ = nullptr;
  uint64_t id_;
};

}  // namespace morvex
