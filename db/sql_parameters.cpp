#include "db/sql_parameters.h"

#include "text/parameter_name.h"

namespace morvex {

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

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
    const size_t end = ParameterNameEnd(sql, start, TNameSyntax::Statement);
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
