// The vocabulary and the lexer of the expression evaluator.
//
// Every name or operator symbol of an expression resolves to a word: a
// function (operators are functions with a priority), a constant or a
// variable. Numbers and string literals are lexemes that stand for
// themselves. The lexer only cuts text; resolving names and checking the
// order of tokens is the parser's work (expr_parser.h).
#pragma once

#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

enum class EExprWordKind { Function, Constant, Variable };

class TExprWord {
 public:
  TExprWord(std::string name, std::string description)
      : name_(std::move(name)), description_(std::move(description)) {}
  virtual ~TExprWord() = default;
  TExprWord(const TExprWord&) = delete;
  TExprWord& operator=(const TExprWord&) = delete;

  virtual EExprWordKind Kind() const = 0;
  // Lower case: expressions are lower-cased before they are read.
  const std::string& Name() const { return name_; }
  const std::string& Description() const { return description_; }

 private:
  std::string name_;
  std::string description_;
};

class TExprConstant final : public TExprWord {
 public:
  TExprConstant(std::string name, std::string description, double value)
      : TExprWord(std::move(name), std::move(description)), value_(value) {}
  EExprWordKind Kind() const override { return EExprWordKind::Constant; }
  double Value() const { return value_; }

 private:
  double value_;
};

// A name that is no function, operator or constant. It is created on first
// use with the value NaN; `:=`, `++` and `--` change it.
class TExprVariable final : public TExprWord {
 public:
  explicit TExprVariable(std::string name);
  EExprWordKind Kind() const override { return EExprWordKind::Variable; }
  double Value = 0;
};

// Functions that need more than their argument values.
enum class EExprSpecial {
  None,
  Assign,     // `:=`: the first operand must be a variable
  Increment,  // `++`: a variable operand keeps the new value
  Decrement,  // `--`: likewise
  Random,     // never folded as a constant
  RandG,      // likewise
  Position    // `pos`: takes exactly two string literals
};

// Computes a function from its argument values (as many as its arity).
// Raises EParserException for an arithmetic fault.
using TExprEvaluate = double (*)(std::span<const double> args);

struct TExprFunctionInfo {
  int Arity = 1;
  // Operators only: a smaller number binds tighter. Functions bind tightest (0).
  int Priority = 0;
  bool IsOperator = false;
  // Comparisons and logic: their result is shown as "True" or "False".
  bool IsBoolean = false;
  EExprSpecial Special = EExprSpecial::None;
  TExprEvaluate Evaluate = nullptr;
};

class TExprFunction final : public TExprWord {
 public:
  TExprFunction(std::string name, std::string description, const TExprFunctionInfo& info)
      : TExprWord(std::move(name), std::move(description)), info_(info) {}
  EExprWordKind Kind() const override { return EExprWordKind::Function; }

  int Arity() const { return info_.Arity; }
  int Priority() const { return info_.Priority; }
  bool IsOperator() const { return info_.IsOperator; }
  bool IsBoolean() const { return info_.IsBoolean; }
  EExprSpecial Special() const { return info_.Special; }
  // False for random draws: their subtrees are evaluated anew every time.
  bool IsFoldable() const {
    return info_.Special != EExprSpecial::Random && info_.Special != EExprSpecial::RandG;
  }
  TExprEvaluate Evaluate() const { return info_.Evaluate; }

 private:
  TExprFunctionInfo info_;
};

// The functions, operators and constants of a language, by lower-case name.
// Filled once, then only read, so that parsers can share it.
class TExprWordTable {
 public:
  // A later definition of the same name replaces the earlier one.
  void DefineFunction(std::string_view name, std::string_view description,
                      const TExprFunctionInfo& info);
  void DefineConstant(std::string_view name, std::string_view description, double value);
  // Null when there is no such word.
  const TExprWord* Find(std::string_view name) const;

 private:
  std::map<std::string, std::unique_ptr<TExprWord>, std::less<>> words_;
};

// The characters that a fresh evaluator reads as separators and prefixes.
struct TExprSyntax {
  char ArgSeparator = ';';
  char DecimalSeparator = '.';
  char HexPrefix = '#';
};

enum class EExprLexemeKind { Number, String, Name, Symbol, LeftBracket, RightBracket, Separator };

struct TExprLexeme {
  EExprLexemeKind Kind = EExprLexemeKind::Symbol;
  // As written; a string literal keeps its quotes.
  std::string Text;
  // Number: its value. String: the text between the quotes.
  double Value = 0;
  std::string StringValue;
  // Number: written with a decimal separator (a hexadecimal number never is).
  bool HasDecimalPoint = false;
};

// The text with A-Z lower-cased (nothing else) and leading and trailing
// blanks and control characters removed.
std::string PrepareExpressionText(std::string_view text);

// Cuts prepared text into lexemes; blanks and control characters separate
// them. Symbols are single characters (a whole UTF-8 sequence for a
// non-ASCII one) or the pairs made of two of "<", "=", ">", and ":=", "!=",
// "&&", "||", "++", "--"; whether a symbol means anything is left to the
// parser. Raises EParserException for an unterminated string literal, a
// hexadecimal prefix without digits or beyond 32 bits, and a number too large
// for a double (a too small one becomes 0).
std::vector<TExprLexeme> SplitExpression(std::string_view text, const TExprSyntax& syntax);

}  // namespace morvex
