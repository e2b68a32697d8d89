#include "db/sql_parameters.h"

namespace morvex {

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

// White space of every kind ends a name: a TAB between a name and the next
// word is as common in hand-written SQL as a space. So does ":": parameter
// names are XML names without colons, and a PostgreSQL cast written right
// after a parameter (:day::::date) must not become part of its name.
bool EndsName(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == ',' ||
         c == ';' || c == ')' || c == ':';
}

}  // namespace

TParsedSql ParseSqlParameters(std::string_view sql) {
  TParsedSql parsed;
  parsed.Text.reserve(sql.size());
  char quote = 0;  // the character that opened the current quoted stretch
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      parsed.Text.push_back(c);
      ++i;
      continue;
    }
    if (IsQuote(c)) {
      quote = c;
      parsed.Text.push_back(c);
      ++i;
      continue;
    }
    if (c != ':') {
      parsed.Text.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < sql.size() && sql[i + 1] == ':') {
      parsed.Text.push_back(':');
      parsed.HasLiteralColon = true;
      i += 2;
      continue;
    }
    const size_t start = i + 1;
    if (start < sql.size() && IsQuote(sql[start])) {
      const size_t close = sql.find(sql[start], start + 1);
      const size_t end = close == std::string_view::npos ? sql.size() : close;
      parsed.Names.emplace_back(sql.substr(start + 1, end - start - 1));
      parsed.Text.push_back('?');
      i = close == std::string_view::npos ? sql.size() : close + 1;
      continue;
    }
    size_t end = start;
    while (end < sql.size() && !EndsName(sql[end])) ++end;
    if (end == start) {
      parsed.Text.push_back(':');
      ++i;
      continue;
    }
    parsed.Names.emplace_back(sql.substr(start, end - start));
    parsed.Text.push_back('?');
    i = end;
  }
  return parsed;
}

}  // namespace morvex
