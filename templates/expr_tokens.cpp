#include "templates/expr_tokens.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

#include "templates/expr_error.h"

namespace morvex {

TExprVariable::TExprVariable(std::string name)
    : TExprWord(std::move(name), ""), Value(std::numeric_limits<double>::quiet_NaN()) {}

void TExprWordTable::DefineFunction(std::string_view name, std::string_view description,
                                    const TExprFunctionInfo& info) {
  words_[std::string(name)] =
      std::make_unique<TExprFunction>(std::string(name), std::string(description), info);
}

void TExprWordTable::DefineConstant(std::string_view name, std::string_view description,
                                    double value) {
  words_[std::string(name)] =
      std::make_unique<TExprConstant>(std::string(name), std::string(description), value);
}

const TExprWord* TExprWordTable::Find(std::string_view name) const {
  auto it = words_.find(name);
  return it != words_.end() ? it->second.get() : nullptr;
}

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

int HexDigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsPairSymbol(char a, char b) {
  auto isCompare = [](char c) { return c == '<' || c == '=' || c == '>'; };
  if (isCompare(a) && isCompare(b)) return true;
  return (a == ':' && b == '=') || (a == '!' && b == '=') || (a == '&' && b == '&') ||
         (a == '|' && b == '|') || (a == '+' && b == '+') || (a == '-' && b == '-');
}

// Sign of the decimal magnitude of a number literal that does not fit a
// double: above zero it overflowed, otherwise it underflowed. `text` holds
// digits, at most one '.', and an optional exponent.
bool LiteralOverflows(std::string_view text) {
  int64_t magnitude = 0;
  size_t i = 0;
  bool seenNonZero = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (text[i] != '0') seenNonZero = true;
    if (seenNonZero) ++magnitude;
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && IsDigit(text[i]); ++i) {
      if (seenNonZero) continue;
      if (text[i] != '0') {
        seenNonZero = true;
      } else {
        --magnitude;
      }
    }
  }
  if (i < text.size() && text[i] == 'e') {
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t exponent = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
    }
    magnitude += negative ? -exponent : exponent;
  }
  return magnitude > 0;
}

double NumberValue(std::string_view written, char decimalSeparator) {
  std::string text(written);
  for (char& c : text) {
    if (c == decimalSeparator) c = '.';
  }
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    if (LiteralOverflows(text)) throw EParserException("Floating point overflow");
    return 0;
  }
  if (ec != std::errc() || end != text.data() + text.size()) {
    throw EParserException("Error in math expression: " + std::string(written) +
                           " is not a valid number");
  }
  return value;
}

}  // namespace

std::string PrepareExpressionText(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  std::string result(text.substr(begin, end - begin));
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

std::vector<TExprLexeme> SplitExpression(std::string_view text, const TExprSyntax& syntax) {
  std::vector<TExprLexeme> lexemes;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    const char c = text[i];
    if (IsBlank(c)) {
      ++i;
      continue;
    }
    TExprLexeme lexeme;
    const size_t start = i;
    if (IsDigit(c) || (c == syntax.DecimalSeparator && i + 1 < n && IsDigit(text[i + 1]))) {
      while (i < n && IsDigit(text[i])) ++i;
      if (i + 1 < n && text[i] == syntax.DecimalSeparator && IsDigit(text[i + 1])) {
        lexeme.HasDecimalPoint = true;
        ++i;
        while (i < n && IsDigit(text[i])) ++i;
      }
      // An "e" belongs to the number only when digits follow it.
      if (i < n && text[i] == 'e') {
        size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < n && IsDigit(text[j])) {
          while (j < n && IsDigit(text[j])) ++j;
          i = j;
        }
      }
      lexeme.Kind = EExprLexemeKind::Number;
      lexeme.Text = std::string(text.substr(start, i - start));
      lexeme.Value = NumberValue(lexeme.Text, syntax.DecimalSeparator);
    } else if (c == syntax.HexPrefix) {
      ++i;
      uint64_t value = 0;
      bool tooLarge = false;
      for (; i < n && HexDigitValue(text[i]) >= 0; ++i) {
        value = value * 16 + static_cast<uint64_t>(HexDigitValue(text[i]));
        if (value > 0xFFFFFFFFu) {
          tooLarge = true;
          value = 0;
        }
      }
      lexeme.Text = std::string(text.substr(start, i - start));
      if (i == start + 1 || tooLarge) {
        throw EParserException("Error in math expression: " + lexeme.Text +
                               " is not a valid number");
      }
      lexeme.Kind = EExprLexemeKind::Number;
      lexeme.Value = static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(value)));
    } else if (c == '\'') {
      // Two quotes in a row inside a string stand for one quote: that is how
      // a value holding a quote is pasted into a condition as one literal.
      for (size_t close = text.find('\'', i + 1);; close = text.find('\'', close + 2)) {
        if (close == std::string_view::npos) {
          throw EParserException("Error in math expression: unterminated string " +
                                 std::string(text.substr(start)));
        }
        lexeme.StringValue.append(text.substr(i + 1, close - i - 1));
        i = close;
        if (close + 1 >= n || text[close + 1] != '\'') break;
        lexeme.StringValue.push_back('\'');
        i = close + 1;
      }
      ++i;
      lexeme.Kind = EExprLexemeKind::String;
      lexeme.Text = std::string(text.substr(start, i - start));
    } else if (IsNameStart(c)) {
      while (i < n && IsNameChar(text[i])) ++i;
      lexeme.Kind = EExprLexemeKind::Name;
      lexeme.Text = std::string(text.substr(start, i - start));
    } else if (c == '(' || c == ')' || c == syntax.ArgSeparator) {
      ++i;
      lexeme.Kind = c == '('   ? EExprLexemeKind::LeftBracket
                    : c == ')' ? EExprLexemeKind::RightBracket
                               : EExprLexemeKind::Separator;
      lexeme.Text = std::string(1, c);
    } else {
      ++i;
      if (i < n && IsPairSymbol(c, text[i])) {
        ++i;
      } else if (static_cast<unsigned char>(c) >= 0xC0) {
        while (i < n && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
      }
      lexeme.Kind = EExprLexemeKind::Symbol;
      lexeme.Text = std::string(text.substr(start, i - start));
    }
    lexemes.push_back(std::move(lexeme));
  }
  return lexemes;
}

}  // namespace morvex
