// The plainest INSERT there is, recognised in a statement's text:
//   INSERT INTO table [(column, ...)] VALUES (?, ...) [;]
// with "?" for every value (the parameters in order), names as SQL writes
// them (letters, digits, "_" and "$", or in double quotes, a schema before a
// "."), keywords in any letter case, and only blanks and line ends between
// the parts. Anything else (a comment, a literal, an expression, DEFAULT,
// several rows, ON CONFLICT, RETURNING, a second statement) is not one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

struct TPlainInsert {
  std::string Table;                 // as written, schema included
  std::vector<std::string> Columns;  // as written; empty without a column list
  size_t ValueCount = 0;             // the "?" in VALUES, one per parameter
};

std::optional<TPlainInsert> ParsePlainInsert(std::string_view sql);

}  // namespace morvex
