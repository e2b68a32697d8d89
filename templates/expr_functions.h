// The operators and functions of the condition language and the arithmetic
// behind them.
//
// Arithmetic is IEEE double. A fault raises EParserException instead of
// returning a special value:
// - "Floating point division by zero": "/" by zero, 0 to a negative power,
//   a logarithm to base 1;
// - "Invalid floating point operation": a NaN that does not come from a NaN
//   operand (0/0, square root of a negative number, logarithm of a number
//   that is not positive, arcsin of 2, a negative base to a broken power),
//   and rounding NaN or a number beyond the 64-bit integers to an integer;
// - "Floating point overflow": an infinite result (from finite operands),
//   a factorial of more than 170;
// - "Division by zero", "Integer overflow": `div` and `mod` on the rounded
//   64-bit operands.
// A NaN operand (a variable never assigned) otherwise flows through quietly:
// NaN + 1 is NaN, and the comparisons give 0 or 1 without raising.
// Rounding is to nearest, halves to even.
#pragma once

#include <span>
#include <string_view>

#include "templates/expr_tokens.h"

namespace morvex {

struct TExprFunctionEntry {
  std::string_view Name;
  std::string_view Description;
  TExprFunctionInfo Info;
};

// Every operator and function of the language, the internal forms of the
// signs ("-@", "+@") and of the power with an integer literal ("^@")
// included. Operators carry no description.
std::span<const TExprFunctionEntry> StandardFunctions();

// The operators that may stand between two string literals.
bool IsStringOperator(std::string_view op);

// `x op y` on two string literals, comparing UTF-16 code units: 1 or 0.
// `in` is true when x equals one of the parts of y cut at every comma.
// `op` must be a string operator.
double EvaluateStringOperation(std::string_view op, std::string_view x, std::string_view y);

// The 1-based position, in UTF-16 code units, of the first occurrence of
// `part` in `text`; 0 when it does not occur or is empty.
double SubstringPosition(std::string_view part, std::string_view text);

// A draw from the normal distribution (mean, sd) made of two uniform draws,
// u1 in (0, 1] and u2 in [0, 1) (Box-Muller).
double NormalDeviate(double mean, double sd, double u1, double u2);

}  // namespace morvex
