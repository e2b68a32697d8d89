#include "db/sql_scan.h"

#include <charconv>

#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace detail {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Walks SQL text and calls `plain(i)` for every character outside quotes
// and comments and `comment(i)` for every character inside a comment.
// Quoted text (and an unterminated quote up to the end) is skipped.
template <typename Plain, typename Comment>
void WalkSql(std::string_view sql, TSqlDialect dialect, Plain plain, Comment comment) {
  const size_t n = sql.size();
  size_t i = 0;
  auto skipTo = [&](char close, size_t from) {
    size_t j = sql.find(close, from);
    return j == std::string_view::npos ? n : j + 1;
  };
  while (i < n) {
    char c = sql[i];
    if (c == '\'') {
      bool backslashes = dialect == TSqlDialect::PostgreSQL && i > 0 &&
                         (sql[i - 1] == 'E' || sql[i - 1] == 'e') &&
                         (i < 2 || !IsWordChar(sql[i - 2]));
      size_t j = i + 1;
      while (j < n) {
        if (backslashes && sql[j] == '\\') {
          j += 2;
        } else if (sql[j] == '\'') {
          if (j + 1 < n && sql[j + 1] == '\'') {
            j += 2;
          } else {
            break;
          }
        } else {
          ++j;
        }
      }
      i = j < n ? j + 1 : n;
    } else if (c == '"') {
      i = skipTo('"', i + 1);
    } else if (c == '`' && dialect == TSqlDialect::SQLite) {
      i = skipTo('`', i + 1);
    } else if (c == '[' && dialect == TSqlDialect::SQLite) {
      i = skipTo(']', i + 1);
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      size_t end = sql.find('\n', i);
      if (end == std::string_view::npos) end = n;
      for (; i < end; ++i) comment(i);
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      int depth = 1;
      comment(i);
      comment(i + 1);
      i += 2;
      while (i < n && depth > 0) {
        if (sql[i] == '*' && i + 1 < n && sql[i + 1] == '/') {
          --depth;
          comment(i);
          comment(i + 1);
          i += 2;
        } else if (dialect == TSqlDialect::PostgreSQL && sql[i] == '/' && i + 1 < n &&
                   sql[i + 1] == '*') {
          ++depth;
          comment(i);
          comment(i + 1);
          i += 2;
        } else {
          comment(i++);
        }
      }
    } else if (c == '$' && dialect == TSqlDialect::PostgreSQL &&
               (i == 0 || !IsWordChar(sql[i - 1]))) {
      // A dollar quote: $$ or $tag$ with a tag that does not start with a
      // digit ($1 is a positional parameter).
      size_t j = i + 1;
      if (j < n && !IsDigit(sql[j])) {
        while (j < n && IsWordChar(sql[j]) && sql[j] != '$') ++j;
      }
      if (j < n && sql[j] == '$') {
        std::string_view tag = sql.substr(i, j - i + 1);
        size_t close = sql.find(tag, j + 1);
        i = close == std::string_view::npos ? n : close + tag.size();
      } else {
        plain(i++);
      }
    } else {
      plain(i++);
    }
  }
}

// Calls `word(text)` for every word outside quotes and comments, in order,
// until it returns false. Quotes and comments end a word.
template <typename Word>
void ForEachSqlWord(std::string_view sql, TSqlDialect dialect, Word word) {
  bool stop = false;
  size_t start = std::string_view::npos;
  size_t last = std::string_view::npos;
  auto endWord = [&]() {
    if (start != std::string_view::npos && !stop) stop = !word(sql.substr(start, last + 1 - start));
    start = std::string_view::npos;
  };
  WalkSql(
      sql, dialect,
      [&](size_t i) {
        if (last != std::string_view::npos && last + 1 != i) endWord();
        if (IsWordChar(sql[i]) || (sql[i] == '$' && start != std::string_view::npos)) {
          if (start == std::string_view::npos) start = i;
        } else {
          endWord();
        }
        last = i;
      },
      [&](size_t) { endWord(); });
  endWord();
}

}  // namespace

TSqlScan ScanSql(std::string_view sql, TSqlDialect dialect) {
  TSqlScan scan;
  WalkSql(
      sql, dialect,
      [&](size_t i) {
        if (sql[i] == '?') scan.Markers.push_back({i, false});
        if (sql[i] == ';') scan.Separators.push_back(i);
      },
      [&](size_t i) {
        if (sql[i] == '?') scan.Markers.push_back({i, true});
      });
  return scan;
}

std::vector<int> AssignSqlMarkers(const TSqlScan& scan, int parameterCount) {
  std::vector<int> result(scan.Markers.size(), -1);
  if (parameterCount <= 0) return result;
  size_t all = scan.Markers.size();
  size_t outsideComments = 0;
  for (const auto& m : scan.Markers) outsideComments += m.InComment ? 0 : 1;
  bool commentsTakeSlots = all == static_cast<size_t>(parameterCount);
  if (!commentsTakeSlots && outsideComments != static_cast<size_t>(parameterCount)) {
    throw EMorvexError("The SQL text holds " + std::to_string(outsideComments) +
                       " parameter markers (\"?\") outside quotes for " +
                       std::to_string(parameterCount) + " parameters");
  }
  int next = 0;
  for (size_t i = 0; i < all; ++i) {
    if (scan.Markers[i].InComment) {
      if (commentsTakeSlots) ++next;
    } else {
      result[i] = next++;
    }
  }
  return result;
}

std::string FirstSqlKeyword(std::string_view sql, TSqlDialect dialect) {
  std::string word;
  ForEachSqlWord(sql, dialect, [&](std::string_view w) {
    for (char c : w) word += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return false;
  });
  return word;
}

bool SqlHasKeyword(std::string_view sql, TSqlDialect dialect, std::string_view word) {
  bool found = false;
  ForEachSqlWord(sql, dialect, [&](std::string_view w) {
    found = EqualsIgnoringAsciiCase(w, word);
    return !found;
  });
  return found;
}

size_t ParameterNumberInMessage(std::string_view message) {
  for (size_t at = message.find('$'); at != std::string_view::npos;
       at = message.find('$', at + 1)) {
    size_t n = 0;
    const char* digits = message.data() + at + 1;
    auto [end, ec] = std::from_chars(digits, message.data() + message.size(), n);
    if (ec == std::errc() && end != digits) return n;
  }
  return 0;
}

}  // namespace detail

}  // namespace morvex
