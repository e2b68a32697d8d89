#include "templates/condition.h"

#include "templates/expr_error.h"
#include "templates/expr_parser.h"

namespace morvex {

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
