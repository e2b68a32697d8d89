// The expression evaluator's own exceptions. Their messages describe a faulty
// condition; EvaluateCondition swallows them, so they never reach the user.
#pragma once

#include <string>

#include "text/error.h"

namespace morvex {

class EParserException : public EMorvexError {
 public:
  explicit EParserException(const std::string& message) : EMorvexError(message) {}

  const char* TypeName() const noexcept override { return "EParserException"; }
};

// An expression refused only because it exceeds one of the evaluator's
// bounds, which keep the recursion over its tree within the stack; the
// expression itself may be sound. Limit() names the bound, for example
// "nesting depth limit (256 levels)".
class EExprLimitExceeded : public EParserException {
 public:
  explicit EExprLimitExceeded(const std::string& limit)
      : EParserException("Error in math expression: expression exceeds the " + limit),
        limit_(limit) {}

  const std::string& Limit() const noexcept { return limit_; }

 private:
  std::string limit_;
};

}  // namespace morvex
