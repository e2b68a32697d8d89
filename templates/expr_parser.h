// The expression evaluator of `test` conditions.
//
// TCustomExpressionParser is the machinery: it reads an expression into
// tokens, folds signs and `not` runs, combines string literals, builds the
// tree by operator priority, folds constant subtrees once and evaluates the
// rest in IEEE doubles on demand. It knows no operator or function by
// itself; TExpressionParser defines the language's tables.
//
// Reading an expression, in order: lower-case (A-Z only) and trim; cut into
// lexemes; the counts of "(" and ")" must match; resolve names and symbols
// (an unknown name becomes a variable holding NaN); fold runs of "+"/"-"
// signs and of `not` where an operand is expected (first token, after "(",
// the argument separator or a two-operand operator); check neighbours (two
// operands in a row, a variable called as a function, ")(" and the like;
// "^" before a number literal without decimal point becomes "^@"); walking
// from the end, turn `pos('a'; 'b')` and `'a' op 'b'` into constants; build
// the tree: the first operator at bracket depth 0 takes the tokens before it
// as its left operand and the tokens up to the next depth-0 operator of the
// same or a larger priority number as its right operand, and the node so
// built becomes the left operand of that next operator. One-operand
// operators take their operand from whichever side it is written on.
//
// Every fault raises EParserException (expr_error.h). Nesting deeper than a
// few hundred levels is refused, so no input exhausts the stack.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "templates/expr_tokens.h"

namespace morvex {

struct TExprNode;
struct TExprExpression;

class TCustomExpressionParser {
 public:
  // `words` is the language; it must outlive the parser and define the
  // internal operators "-@", "+@" (signs) and "^@" besides "+", "-", "^".
  explicit TCustomExpressionParser(const TExprWordTable& words);
  virtual ~TCustomExpressionParser();
  TCustomExpressionParser(const TCustomExpressionParser&) = delete;
  TCustomExpressionParser& operator=(const TCustomExpressionParser&) = delete;

  // Separators and prefixes for expressions added from now on.
  void SetSyntax(const TExprSyntax& syntax) { syntax_ = syntax; }
  const TExprSyntax& Syntax() const { return syntax_; }

  // Reads `text` into a tree, folds its constant subtrees and keeps it; the
  // result is the expression's index. Raises EParserException for a syntax
  // error, an empty text or an arithmetic fault in a constant subtree. Names
  // that are no words become variables even when reading fails.
  int AddExpression(std::string_view text);
  int ExpressionCount() const { return static_cast<int>(expressions_.size()); }

  // Evaluates expression `index` (0 <= index < ExpressionCount()). Variables
  // keep what `:=`, `++` and `--` give them, for later evaluations too.
  // Raises EParserException for an arithmetic fault.
  double Evaluate(int index);
  // True when the top operation of expression `index` is a comparison, `in`,
  // `not`, `or`, `and`, `xor` or a string comparison.
  bool IsBooleanExpression(int index) const;
  // Evaluates expression `index` and makes its result text (see
  // ExpressionResultText).
  std::string EvaluateAsText(int index);

  // The word of that (lower-case) name, a variable included; null if none.
  const TExprWord* FindWord(std::string_view name) const;
  // The description of a function or constant; empty for anything else.
  std::string Description(std::string_view name) const;
  // A variable's value; NaN for a variable never assigned or not existing.
  double VariableValue(std::string_view name) const;
  // Creates the variable when needed. `name` must not be a function,
  // operator or constant name (raises EParserException).
  void SetVariable(std::string_view name, double value);

 private:
  friend class TExprReader;

  TExprVariable& VariableFor(std::string_view name);
  double EvaluateNode(const TExprNode& node);
  void FoldConstants(std::unique_ptr<TExprNode>& node);
  double UniformDraw();

  TExprSyntax syntax_;
  const TExprWordTable& words_;
  std::map<std::string, std::unique_ptr<TExprVariable>, std::less<>> variables_;
  std::vector<std::unique_ptr<TExprExpression>> expressions_;
  // Made and seeded from the system on the first draw.
  std::optional<std::mt19937_64> random_;
};

// The language of `test` conditions: the operators, the functions with
// their description texts and the constant `pi`. The tables are built once
// per process and shared; variables belong to each parser.
class TExpressionParser : public TCustomExpressionParser {
 public:
  TExpressionParser();
};

// The result text of a value: for a boolean expression "False" when the
// value lies strictly between -0.1 and 0.1 and "True" strictly between 0.9
// and 1.1; otherwise the value as "%.10g" in the C locale gives it ("1",
// "0.5", "1e+21", "-0", "nan", "-nan", "inf").
std::string ExpressionResultText(double value, bool isBoolean);

}  // namespace morvex
