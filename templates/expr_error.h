// The expression evaluator's own exception. Its messages describe a faulty
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

}  // namespace morvex
