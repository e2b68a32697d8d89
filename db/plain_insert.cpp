#include "db/plain_insert.h"

#include "text/utf.h"

namespace morvex {

namespace {

class TInsertReader {
 public:
  explicit TInsertReader(std::string_view sql) : sql_(sql) {}

  void SkipBlanks() {
    while (at_ < sql_.size() &&
           (sql_[at_] == ' ' || sql_[at_] == '\t' || sql_[at_] == '\n' || sql_[at_] == '\r')) {
      ++at_;
    }
  }

  bool AtEnd() {
    SkipBlanks();
    return at_ == sql_.size();
  }

  // Takes `c` when it comes next.
  bool Take(char c) {
    SkipBlanks();
    if (at_ == sql_.size() || sql_[at_] != c) return false;
    ++at_;
    return true;
  }

  // Takes the keyword `word` (letter case ignored) when it comes next as a
  // whole word.
  bool TakeKeyword(std::string_view word) {
    SkipBlanks();
    if (sql_.size() - at_ < word.size() ||
        !EqualsIgnoringAsciiCase(sql_.substr(at_, word.size()), word)) {
      return false;
    }
    if (at_ + word.size() < sql_.size() && IsNameByte(sql_[at_ + word.size()])) return false;
    at_ += word.size();
    return true;
  }

  // One name, quoted or not, as written; empty when none comes next.
  std::string TakeName() {
    SkipBlanks();
    const size_t start = at_;
    if (at_ < sql_.size() && sql_[at_] == '"') {
      for (++at_; at_ < sql_.size(); ++at_) {
        if (sql_[at_] != '"') continue;
        if (at_ + 1 < sql_.size() && sql_[at_ + 1] == '"') {
          ++at_;
          continue;
        }
        ++at_;
        // An empty quoted name is no name.
        return at_ - start > 2 ? std::string(sql_.substr(start, at_ - start)) : std::string();
      }
      at_ = start;
      return {};
    }
    if (at_ == sql_.size() || !IsNameByte(sql_[at_]) || (sql_[at_] >= '0' && sql_[at_] <= '9') ||
        sql_[at_] == '$') {
      return {};
    }
    while (at_ < sql_.size() && IsNameByte(sql_[at_])) ++at_;
    return std::string(sql_.substr(start, at_ - start));
  }

 private:
  static bool IsNameByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || u >= 0x80;
  }

  std::string_view sql_;
  size_t at_ = 0;
};

}  // namespace

std::optional<TPlainInsert> ParsePlainInsert(std::string_view sql) {
  TInsertReader reader(sql);
  TPlainInsert insert;
  if (!reader.TakeKeyword("INSERT") || !reader.TakeKeyword("INTO")) return std::nullopt;
  insert.Table = reader.TakeName();
  if (insert.Table.empty()) return std::nullopt;
  if (reader.Take('.')) {
    const std::string name = reader.TakeName();
    if (name.empty()) return std::nullopt;
    insert.Table += "." + name;
  }
  if (reader.Take('(')) {
    do {
      std::string column = reader.TakeName();
      if (column.empty()) return std::nullopt;
      insert.Columns.push_back(std::move(column));
    } while (reader.Take(','));
    if (!reader.Take(')')) return std::nullopt;
  }
  if (!reader.TakeKeyword("VALUES") || !reader.Take('(')) return std::nullopt;
  do {
    if (!reader.Take('?')) return std::nullopt;
    ++insert.ValueCount;
  } while (reader.Take(','));
  if (!reader.Take(')')) return std::nullopt;
  reader.Take(';');
  if (!reader.AtEnd()) return std::nullopt;
  if (!insert.Columns.empty() && insert.Columns.size() != insert.ValueCount) return std::nullopt;
  return insert;
}

}  // namespace morvex
