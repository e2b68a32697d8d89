#include "templates/condition.h"

#include "templates/expr_error.h"
#include "templates/expr_parser.h"

namespace morvex {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when `text` is a number of the condition language, optionally
// signed: digits with an optional fraction (or a fraction alone) and an
// optional exponent.
bool IsNumberText(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    size_t fraction = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++fraction;
    if (fraction == 0) return false;
    digits += fraction;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    size_t exponent = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++exponent;
    if (exponent == 0) return false;
  }
  return i == text.size();
}

std::string DoubledQuotes(std::string_view value) {
  std::string text;
  text.reserve(value.size());
  for (const char c : value) {
    if (c == '\'') text.push_back('\'');
    text.push_back(c);
  }
  return text;
}

}  // namespace

TReferenceText ConditionLiteral(std::string_view value) {
  std::string quoted = DoubledQuotes(value);
  size_t begin = 0;
  size_t end = value.size();
  while (begin < end && (value[begin] == ' ' || value[begin] == '\t')) ++begin;
  while (end > begin && (value[end - 1] == ' ' || value[end - 1] == '\t')) --end;
  const std::string_view number = value.substr(begin, end - begin);
  std::string literal;
  if (!IsNumberText(number)) {
    literal = "'" + quoted + "'";
  } else if (number.front() == '-' || number.front() == '+') {
    // "-:x" with x = -5 must not read as the decrement operator "--5".
    literal = "(" + std::string(number) + ")";
  } else {
    literal = number;
  }
  return {std::move(literal), std::move(quoted)};
}

std::string EvaluateExpressionText(std::string_view text) {
  TExpressionParser parser;
  parser.SetSyntax(TExprSyntax{.ArgSeparator = ';', .DecimalSeparator = '.', .HexPrefix = '#'});
  const int index = parser.AddExpression(text);
  return parser.EvaluateAsText(index);
}

bool EvaluateCondition(std::string_view text, std::string& exceededLimit) noexcept {
  try {
    exceededLimit.clear();
    const std::string result = EvaluateExpressionText(text);
    return result == "1" || result == "True" || result == "Yes";
  } catch (const EExprLimitExceeded& error) {
    try {
      exceededLimit = error.Limit();
    } catch (...) {
    }
    return false;
  } catch (...) {
    return false;
  }
}

std::string LimitWarning(std::string_view subject, std::string_view limit) {
  std::string line = "Warning: ";
  line += subject;
  line += ": the test exceeds the evaluator's ";
  line += limit;
  line += " and counts as false.";
  return line;
}

bool EvaluateCondition(std::string_view text) noexcept {
  std::string ignored;
  return EvaluateCondition(text, ignored);
}

}  // namespace morvex
