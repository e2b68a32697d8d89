#include "templates/condition.h"

#include "templates/expr_parser.h"

namespace morvex {

std::string EvaluateExpressionText(std::string_view text) {
  TExpressionParser parser;
  parser.SetSyntax(TExprSyntax{.ArgSeparator = ';', .DecimalSeparator = '.', .HexPrefix = '#'});
  const int index = parser.AddExpression(text);
  return parser.EvaluateAsText(index);
}

bool EvaluateCondition(std::string_view text) noexcept {
  try {
    const std::string result = EvaluateExpressionText(text);
    return result == "1" || result == "True" || result == "Yes";
  } catch (...) {
    return false;
  }
}

}  // namespace morvex
