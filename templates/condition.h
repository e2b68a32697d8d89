// Conditions of `test` attributes, after the caller has replaced its
// parameter references by text.
#pragma once

#include <string>
#include <string_view>

#include "templates/parameter_names.h"

namespace morvex {

// True exactly when the condition's result text is "1", "True" or "Yes".
// An empty or blank text, and any condition the evaluator refuses (syntax
// error, arithmetic fault, ...), is false; the reason is not reported.
// Never throws.
bool EvaluateCondition(std::string_view text) noexcept;

// EvaluateCondition that also says when the condition is false only because
// it exceeds one of the evaluator's limits: `exceededLimit` then names the
// limit ("nesting depth limit (256 levels)", "expression size limit (1024
// operations in a row)") so the caller can warn; otherwise it is emptied.
bool EvaluateCondition(std::string_view text, std::string& exceededLimit) noexcept;

// The warning for a `test` that counts as false only because it exceeds the
// evaluator's `limit` (as EvaluateCondition names it): "Warning: <subject>:
// the test exceeds the evaluator's <limit> and counts as false." Scripts and
// template statements say it alike; `subject` names the one skipped.
std::string LimitWarning(std::string_view subject, std::string_view limit);

// `value` as the replacement of a reference that is one literal, so that no
// value can change what the condition says: inside quotes ('...:name...')
// the value with each quote doubled; elsewhere a number as written (blanks
// around it dropped, a signed one in brackets), and any other value as a
// quoted text.
TReferenceText ConditionLiteral(std::string_view value);

// The result text of a condition, for tests and diagnostics: the evaluator
// is set up with ";" as argument separator, "." as decimal separator and
// "#" as hexadecimal prefix; see ExpressionResultText (expr_parser.h).
// Raises EParserException with the evaluator's message for a refused
// condition.
std::string EvaluateExpressionText(std::string_view text);

}  // namespace morvex
