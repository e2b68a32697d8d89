// What the drivers need to know of SQL text without parsing it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

namespace detail {

// What the drivers need to know of SQL text without parsing it: where the
// "?" markers, statement separators and first keywords are. Quoting rules
// differ per database; text in quotes is never looked into.
enum class TSqlDialect { SQLite, PostgreSQL, Odbc };

struct TSqlMarker {
  size_t Position = 0;     // offset of the "?" in the text
  bool InComment = false;  // inside a -- or /* */ comment
};

struct TSqlScan {
  std::vector<TSqlMarker> Markers;  // every "?" outside quoted text, in order
  std::vector<size_t> Separators;   // offsets of ";" outside quotes and comments
};

TSqlScan ScanSql(std::string_view sql, TSqlDialect dialect);

// Which "?" markers stand for the caller's `parameterCount` parameters: the
// layer above turns every ":name" outside quotes into "?", comments included,
// so when the count of all markers matches, a marker in a comment still takes
// its parameter (the database never sees it); otherwise, when the markers
// outside comments match, the ones in comments are the user's own text.
// Returns, for every marker, the index of its parameter, or -1 for a marker
// that is not a placeholder or that sits in a comment. With no parameters
// every marker is -1. Raises EMorvexError when neither count matches.
std::vector<int> AssignSqlMarkers(const TSqlScan& scan, int parameterCount);

// The first word of a statement, upper-cased, after blanks, comments and
// opening parentheses ("SELECT", "WITH", "INSERT"); empty for a text that
// holds no statement.
std::string FirstSqlKeyword(std::string_view sql, TSqlDialect dialect);

// Whether the words of `sql` outside quotes and comments include `word`
// (an upper-case keyword, compared ignoring ASCII case).
bool SqlHasKeyword(std::string_view sql, TSqlDialect dialect, std::string_view word);

// The n of the first "$n" in a PostgreSQL message ("could not determine
// data type of parameter $2"); 0 when there is none.
size_t ParameterNumberInMessage(std::string_view message);

}  // namespace detail

}  // namespace morvex
