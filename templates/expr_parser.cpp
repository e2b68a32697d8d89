#include "templates/expr_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>

#include "templates/expr_error.h"
#include "templates/expr_functions.h"

namespace morvex {

namespace {

// Bounds on recursion: brackets and priorities nested deeper than
// kMaxNesting, or a tree deeper than kMaxTreeDepth (a long chain such as
// 1+1+...+1 makes a deep tree without any brackets), are refused.
constexpr int kMaxNesting = 256;
constexpr int kMaxTreeDepth = 1024;
const std::string kNestingLimit =
    "nesting depth limit (" + std::to_string(kMaxNesting) + " levels)";
const std::string kSizeLimit =
    "expression size limit (" + std::to_string(kMaxTreeDepth) + " operations in a row)";

const std::string kPrefix = "Error in math expression: ";
const std::string kTooFew = kPrefix + "Syntax error: function or operand has too few arguments";
const std::string kTooMany = kPrefix + "Syntax error: function or operand has too many arguments";

[[noreturn]] void Raise(const std::string& message) { throw EParserException(message); }

enum class ETokenKind {
  Number,    // a number literal
  String,    // a string literal not (yet) part of a string operation
  Constant,  // a string operation or `pos` call, already computed
  Word,      // a function, operator, constant or variable
  LeftBracket,
  RightBracket,
  Separator
};

struct TExprToken {
  ETokenKind Kind = ETokenKind::Word;
  std::string Text;  // as written
  double Value = 0;
  std::string StringValue;
  bool HasDecimalPoint = false;
  bool IsBoolean = false;  // Constant: a string comparison
  const TExprWord* Word = nullptr;
  TExprVariable* Variable = nullptr;  // Word: when the word is a variable
};

const TExprFunction* FunctionOf(const TExprToken& t) {
  if (t.Kind != ETokenKind::Word || t.Word->Kind() != EExprWordKind::Function) return nullptr;
  return static_cast<const TExprFunction*>(t.Word);
}

bool IsOperatorToken(const TExprToken& t) {
  const TExprFunction* f = FunctionOf(t);
  return f != nullptr && f->IsOperator();
}

bool IsTwoOperandOperator(const TExprToken& t) {
  return IsOperatorToken(t) && FunctionOf(t)->Arity() == 2;
}

// A function written with a bracketed argument list.
bool IsFunctionCall(const TExprToken& t) {
  const TExprFunction* f = FunctionOf(t);
  return f != nullptr && !f->IsOperator() && f->Arity() > 0;
}

bool IsOperand(const TExprToken& t) {
  switch (t.Kind) {
    case ETokenKind::Number:
    case ETokenKind::String:
    case ETokenKind::Constant:
      return true;
    case ETokenKind::Word:
      if (t.Word->Kind() != EExprWordKind::Function) return true;
      return !FunctionOf(t)->IsOperator() && FunctionOf(t)->Arity() == 0;
    default:
      return false;
  }
}

bool IsOperandStart(const TExprToken& t) { return IsOperand(t) || IsFunctionCall(t); }

bool IsVariable(const TExprToken& t) { return t.Kind == ETokenKind::Word && t.Variable; }

bool IsWordNamed(const TExprToken& t, std::string_view name) {
  return t.Kind == ETokenKind::Word && t.Word->Name() == name;
}

}  // namespace

enum class ENodeKind { Constant, String, Variable, Apply };

struct TExprNode {
  ENodeKind Kind = ENodeKind::Constant;
  double Value = 0;
  bool IsBoolean = false;  // Constant: a string comparison
  std::string Text;        // String: the literal as written
  TExprVariable* Variable = nullptr;
  const TExprFunction* Function = nullptr;
  std::vector<std::unique_ptr<TExprNode>> Operands;
  int Depth = 1;
};

struct TExprExpression {
  std::string Text;
  std::unique_ptr<TExprNode> Root;
  bool IsBoolean = false;
};

// Reads one expression: the steps from the lexemes to the tree.
class TExprReader {
 public:
  TExprReader(TCustomExpressionParser& parser, std::string text)
      : parser_(parser), text_(std::move(text)) {}

  TExprExpression Read() {
    if (text_.empty()) Raise(kPrefix + "empty expression");
    const std::vector<TExprLexeme> lexemes = SplitExpression(text_, parser_.syntax_);
    CheckBracketCounts(lexemes);
    tokens_ = Resolve(lexemes);
    FoldSignsAndNots();
    CheckNeighbours();
    CombineStrings();
    MatchBrackets();
    TExprExpression expression;
    expression.Root = Build(0, tokens_.size(), 0);
    expression.IsBoolean = IsBooleanRoot(*expression.Root);
    expression.Text = std::move(text_);
    return expression;
  }

 private:
  [[noreturn]] void RaiseSyntaxError() const {
    Raise(kPrefix + "Syntax error in expression " + text_);
  }

  static void CheckBracketCounts(const std::vector<TExprLexeme>& lexemes) {
    const auto opened = std::count_if(lexemes.begin(), lexemes.end(), [](const TExprLexeme& l) {
      return l.Kind == EExprLexemeKind::LeftBracket;
    });
    const auto closed = std::count_if(lexemes.begin(), lexemes.end(), [](const TExprLexeme& l) {
      return l.Kind == EExprLexemeKind::RightBracket;
    });
    if (opened != closed) Raise("Unequal brackets");
  }

  std::vector<TExprToken> Resolve(const std::vector<TExprLexeme>& lexemes) {
    std::vector<TExprToken> tokens;
    tokens.reserve(lexemes.size());
    for (const TExprLexeme& lexeme : lexemes) {
      TExprToken t;
      t.Text = lexeme.Text;
      switch (lexeme.Kind) {
        case EExprLexemeKind::Number:
          t.Kind = ETokenKind::Number;
          t.Value = lexeme.Value;
          t.HasDecimalPoint = lexeme.HasDecimalPoint;
          break;
        case EExprLexemeKind::String:
          t.Kind = ETokenKind::String;
          t.StringValue = lexeme.StringValue;
          break;
        case EExprLexemeKind::LeftBracket:
          t.Kind = ETokenKind::LeftBracket;
          break;
        case EExprLexemeKind::RightBracket:
          t.Kind = ETokenKind::RightBracket;
          break;
        case EExprLexemeKind::Separator:
          t.Kind = ETokenKind::Separator;
          break;
        case EExprLexemeKind::Symbol: {
          const TExprWord* word = parser_.words_.Find(lexeme.Text);
          if (word == nullptr || !IsOperatorWord(*word)) {
            Raise(kPrefix + lexeme.Text + " is an unknown operator");
          }
          t.Word = word;
          break;
        }
        case EExprLexemeKind::Name: {
          t.Word = parser_.words_.Find(lexeme.Text);
          if (t.Word == nullptr) {
            t.Variable = &parser_.VariableFor(lexeme.Text);
            t.Word = t.Variable;
          }
          break;
        }
      }
      tokens.push_back(std::move(t));
    }
    return tokens;
  }

  static bool IsOperatorWord(const TExprWord& word) {
    return word.Kind() == EExprWordKind::Function &&
           static_cast<const TExprFunction&>(word).IsOperator();
  }

  // One of the internal operators every language defines ("-@", "+@", "^@").
  const TExprWord& Word(std::string_view name) const {
    const TExprWord* word = parser_.words_.Find(name);
    if (word == nullptr) Raise(kPrefix + std::string(name) + " is an unknown operator");
    return *word;
  }

  // Where an operand is expected, a run of "+"/"-" becomes one sign ("-@"
  // for an odd number of minus signs, else "+@"), and a run of `not`
  // becomes one `not` (odd run) or nothing (even run).
  void FoldSignsAndNots() {
    std::vector<TExprToken> out;
    out.reserve(tokens_.size());
    size_t i = 0;
    while (i < tokens_.size()) {
      const bool operandExpected = out.empty() || out.back().Kind == ETokenKind::LeftBracket ||
                                   out.back().Kind == ETokenKind::Separator ||
                                   IsTwoOperandOperator(out.back());
      const bool isSign = IsWordNamed(tokens_[i], "+") || IsWordNamed(tokens_[i], "-");
      if (operandExpected && isSign) {
        TExprToken sign = tokens_[i];
        int minus = 0;
        for (; i < tokens_.size() && (IsWordNamed(tokens_[i], "+") || IsWordNamed(tokens_[i], "-"));
             ++i) {
          if (IsWordNamed(tokens_[i], "-")) ++minus;
        }
        sign.Word = &Word(minus % 2 == 1 ? "-@" : "+@");
        out.push_back(std::move(sign));
        continue;
      }
      if (operandExpected && IsWordNamed(tokens_[i], "not")) {
        size_t run = 0;
        for (; i < tokens_.size() && IsWordNamed(tokens_[i], "not"); ++i) ++run;
        if (run % 2 == 1) out.push_back(tokens_[i - 1]);
        continue;
      }
      out.push_back(std::move(tokens_[i]));
      ++i;
    }
    tokens_ = std::move(out);
  }

  void CheckNeighbours() {
    for (size_t i = 0; i < tokens_.size(); ++i) {
      TExprToken& a = tokens_[i];
      if (IsFunctionCall(a) &&
          (i + 1 == tokens_.size() || tokens_[i + 1].Kind != ETokenKind::LeftBracket)) {
        Raise(kTooFew);
      }
      if (i + 1 == tokens_.size()) break;
      const TExprToken& b = tokens_[i + 1];
      if (IsOperand(a) && IsOperandStart(b)) {
        Raise(kPrefix + a.Text + " two space limited variables/constants");
      }
      if (IsVariable(a) && b.Kind == ETokenKind::LeftBracket) {
        Raise(kPrefix + a.Text + " is an unknown function");
      }
      if (a.Kind == ETokenKind::RightBracket && b.Kind == ETokenKind::LeftBracket) {
        Raise(kPrefix + "Missing operand between )(");
      }
      if (a.Kind == ETokenKind::RightBracket && IsOperandStart(b)) {
        Raise(kPrefix + "Missing operand between ) and constant/variable");
      }
      if (IsOperand(a) && b.Kind == ETokenKind::LeftBracket) {
        Raise(kPrefix + "Missing operand between constant/variable and (");
      }
      if (a.Kind == ETokenKind::LeftBracket && b.Kind == ETokenKind::RightBracket) {
        Raise(kPrefix + "Empty brackets ()");
      }
      if (IsWordNamed(a, "^") && b.Kind == ETokenKind::Number && !b.HasDecimalPoint) {
        a.Word = &Word("^@");
      }
    }
  }

  // Walking from the end: `pos` with two string literal arguments, and a
  // string literal, an operator and a string literal, become constants.
  // `out` collects the tokens in reverse order.
  void CombineStrings() {
    std::vector<TExprToken> out;
    out.reserve(tokens_.size());
    size_t i = tokens_.size();
    while (i > 0) {
      --i;
      TExprToken& t = tokens_[i];
      const TExprFunction* f = FunctionOf(t);
      if (f != nullptr && f->Special() == EExprSpecial::Position) {
        const size_t n = out.size();
        if (n < 5 || out[n - 1].Kind != ETokenKind::LeftBracket ||
            out[n - 2].Kind != ETokenKind::String || out[n - 3].Kind != ETokenKind::Separator ||
            out[n - 4].Kind != ETokenKind::String || out[n - 5].Kind != ETokenKind::RightBracket) {
          Raise(kPrefix + t.Text + " takes two string literals");
        }
        TExprToken result;
        result.Kind = ETokenKind::Constant;
        result.Value = SubstringPosition(out[n - 2].StringValue, out[n - 4].StringValue);
        result.Text = t.Text + "(" + out[n - 2].Text + out[n - 3].Text + out[n - 4].Text + ")";
        out.resize(n - 5);
        out.push_back(std::move(result));
        continue;
      }
      if (t.Kind == ETokenKind::String && i >= 2 && IsOperatorToken(tokens_[i - 1]) &&
          tokens_[i - 2].Kind == ETokenKind::String) {
        const TExprToken& op = tokens_[i - 1];
        const TExprToken& left = tokens_[i - 2];
        if (!IsStringOperator(op.Word->Name())) Raise(op.Text + " is not a valid string operand");
        TExprToken result;
        result.Kind = ETokenKind::Constant;
        result.IsBoolean = true;
        result.Value = EvaluateStringOperation(op.Word->Name(), left.StringValue, t.StringValue);
        result.Text = left.Text + op.Text + t.Text;
        out.push_back(std::move(result));
        i -= 2;
        continue;
      }
      out.push_back(std::move(t));
    }
    std::reverse(out.begin(), out.end());
    tokens_ = std::move(out);
  }

  void MatchBrackets() {
    match_.assign(tokens_.size(), 0);
    std::vector<size_t> open;
    for (size_t i = 0; i < tokens_.size(); ++i) {
      if (tokens_[i].Kind == ETokenKind::LeftBracket) {
        open.push_back(i);
      } else if (tokens_[i].Kind == ETokenKind::RightBracket) {
        if (open.empty()) RaiseSyntaxError();
        match_[open.back()] = i;
        match_[i] = open.back();
        open.pop_back();
      }
    }
    if (!open.empty()) RaiseSyntaxError();
  }

  bool IsLeft(size_t i) const { return tokens_[i].Kind == ETokenKind::LeftBracket; }

  // The first depth-0 operator in [from, hi) whose priority number is at
  // least `priority`; `hi` when there is none.
  size_t NextOperatorEnd(size_t from, size_t hi, int priority) const {
    for (size_t i = from; i < hi; ++i) {
      if (IsLeft(i)) {
        i = match_[i];
      } else if (IsOperatorToken(tokens_[i]) && FunctionOf(tokens_[i])->Priority() >= priority) {
        return i;
      }
    }
    return hi;
  }

  std::unique_ptr<TExprNode> Build(size_t lo, size_t hi, int nesting) {
    if (nesting > kMaxNesting) throw EExprLimitExceeded(kNestingLimit);
    while (hi - lo >= 2 && IsLeft(lo) && match_[lo] == hi - 1) {
      ++lo;
      --hi;
    }
    if (lo == hi) Raise(kTooFew);
    if (hi - lo == 1) return Leaf(tokens_[lo]);

    size_t p = lo;
    for (; p < hi; ++p) {
      if (IsLeft(p)) {
        p = match_[p];
        continue;
      }
      if (tokens_[p].Kind == ETokenKind::Separator) RaiseSyntaxError();
      if (IsOperatorToken(tokens_[p]) || IsFunctionCall(tokens_[p])) break;
    }
    if (p == hi) RaiseSyntaxError();

    std::unique_ptr<TExprNode> node;
    size_t pos = 0;
    if (IsFunctionCall(tokens_[p])) {
      if (p != lo) RaiseSyntaxError();
      node = BuildCall(p, nesting, pos);
    } else {
      std::unique_ptr<TExprNode> left = p > lo ? Build(lo, p, nesting + 1) : nullptr;
      pos = NextOperatorEnd(p + 1, hi, FunctionOf(tokens_[p])->Priority());
      std::unique_ptr<TExprNode> right = pos > p + 1 ? Build(p + 1, pos, nesting + 1) : nullptr;
      node = Operation(*FunctionOf(tokens_[p]), std::move(left), std::move(right));
    }
    while (pos < hi) {
      if (!IsOperatorToken(tokens_[pos])) RaiseSyntaxError();
      const TExprFunction& op = *FunctionOf(tokens_[pos]);
      const size_t end = NextOperatorEnd(pos + 1, hi, op.Priority());
      std::unique_ptr<TExprNode> right = end > pos + 1 ? Build(pos + 1, end, nesting + 1) : nullptr;
      node = Operation(op, std::move(node), std::move(right));
      pos = end;
    }
    return node;
  }

  // A function name at `at`, its bracketed arguments split at the separator.
  std::unique_ptr<TExprNode> BuildCall(size_t at, int nesting, size_t& next) {
    const TExprFunction& f = *FunctionOf(tokens_[at]);
    const size_t open = at + 1;
    const size_t close = match_[open];
    std::vector<std::unique_ptr<TExprNode>> arguments;
    size_t start = open + 1;
    for (size_t i = start; i <= close; ++i) {
      if (i < close && IsLeft(i)) {
        i = match_[i];
        continue;
      }
      if (i == close || tokens_[i].Kind == ETokenKind::Separator) {
        if (i == start) Raise(kTooFew);
        if (static_cast<int>(arguments.size()) == f.Arity()) Raise(kTooMany);
        arguments.push_back(Build(start, i, nesting + 1));
        start = i + 1;
      }
    }
    if (static_cast<int>(arguments.size()) < f.Arity()) Raise(kTooFew);
    next = close + 1;
    return Apply(f, std::move(arguments));
  }

  std::unique_ptr<TExprNode> Operation(const TExprFunction& op, std::unique_ptr<TExprNode> left,
                                       std::unique_ptr<TExprNode> right) {
    std::vector<std::unique_ptr<TExprNode>> operands;
    if (op.Arity() == 2) {
      if (!left || !right) Raise(kTooFew);
      if (op.Special() == EExprSpecial::Assign && left->Kind != ENodeKind::Variable) {
        Raise(kPrefix + "only a variable can be assigned");
      }
      operands.push_back(std::move(left));
      operands.push_back(std::move(right));
    } else {
      if (!left && !right) Raise(kTooFew);
      if (left && right) RaiseSyntaxError();
      operands.push_back(left ? std::move(left) : std::move(right));
    }
    return Apply(op, std::move(operands));
  }

  static std::unique_ptr<TExprNode> Apply(const TExprFunction& f,
                                          std::vector<std::unique_ptr<TExprNode>> operands) {
    auto node = std::make_unique<TExprNode>();
    node->Kind = ENodeKind::Apply;
    node->Function = &f;
    for (const auto& operand : operands) node->Depth = std::max(node->Depth, operand->Depth + 1);
    if (node->Depth > kMaxTreeDepth) throw EExprLimitExceeded(kSizeLimit);
    node->Operands = std::move(operands);
    return node;
  }

  std::unique_ptr<TExprNode> Leaf(const TExprToken& t) {
    auto node = std::make_unique<TExprNode>();
    switch (t.Kind) {
      case ETokenKind::Number:
      case ETokenKind::Constant:
        node->Value = t.Value;
        node->IsBoolean = t.IsBoolean;
        return node;
      case ETokenKind::String:
        node->Kind = ENodeKind::String;
        node->Text = t.Text;
        return node;
      case ETokenKind::Word:
        if (t.Variable) {
          node->Kind = ENodeKind::Variable;
          node->Variable = t.Variable;
          return node;
        }
        if (t.Word->Kind() == EExprWordKind::Constant) {
          node->Value = static_cast<const TExprConstant*>(t.Word)->Value();
          return node;
        }
        if (IsOperand(t)) return Apply(*FunctionOf(t), {});
        Raise(kTooFew);
      case ETokenKind::Separator:
        RaiseSyntaxError();
      default:
        Raise(kTooFew);
    }
  }

  static bool IsBooleanRoot(const TExprNode& root) {
    return root.Kind == ENodeKind::Apply ? root.Function->IsBoolean() : root.IsBoolean;
  }

  TCustomExpressionParser& parser_;
  std::string text_;
  std::vector<TExprToken> tokens_;
  std::vector<size_t> match_;
};

TCustomExpressionParser::TCustomExpressionParser(const TExprWordTable& words) : words_(words) {}

TCustomExpressionParser::~TCustomExpressionParser() = default;

int TCustomExpressionParser::AddExpression(std::string_view text) {
  TExprReader reader(*this, PrepareExpressionText(text));
  auto expression = std::make_unique<TExprExpression>(reader.Read());
  FoldConstants(expression->Root);
  expressions_.push_back(std::move(expression));
  return static_cast<int>(expressions_.size()) - 1;
}

double TCustomExpressionParser::Evaluate(int index) {
  return EvaluateNode(*expressions_.at(static_cast<size_t>(index))->Root);
}

bool TCustomExpressionParser::IsBooleanExpression(int index) const {
  return expressions_.at(static_cast<size_t>(index))->IsBoolean;
}

std::string TCustomExpressionParser::EvaluateAsText(int index) {
  const double value = Evaluate(index);
  return ExpressionResultText(value, IsBooleanExpression(index));
}

const TExprWord* TCustomExpressionParser::FindWord(std::string_view name) const {
  if (const TExprWord* word = words_.Find(name)) return word;
  if (auto it = variables_.find(name); it != variables_.end()) return it->second.get();
  return nullptr;
}

std::string TCustomExpressionParser::Description(std::string_view name) const {
  const TExprWord* word = FindWord(name);
  return word != nullptr ? word->Description() : std::string();
}

double TCustomExpressionParser::VariableValue(std::string_view name) const {
  auto it = variables_.find(name);
  return it != variables_.end() ? it->second->Value : std::numeric_limits<double>::quiet_NaN();
}

void TCustomExpressionParser::SetVariable(std::string_view name, double value) {
  if (words_.Find(name) != nullptr) Raise(kPrefix + std::string(name) + " is not a variable");
  VariableFor(name).Value = value;
}

TExprVariable& TCustomExpressionParser::VariableFor(std::string_view name) {
  auto it = variables_.find(name);
  if (it == variables_.end()) {
    it = variables_.emplace(std::string(name), std::make_unique<TExprVariable>(std::string(name)))
             .first;
  }
  return *it->second;
}

double TCustomExpressionParser::UniformDraw() {
  if (!random_) {
    std::random_device device;
    random_.emplace((static_cast<uint64_t>(device()) << 32) ^ device());
  }
  return std::uniform_real_distribution<double>(0.0, 1.0)(*random_);
}

double TCustomExpressionParser::EvaluateNode(const TExprNode& node) {
  switch (node.Kind) {
    case ENodeKind::Constant:
      return node.Value;
    case ENodeKind::Variable:
      return node.Variable->Value;
    case ENodeKind::String:
      Raise(kPrefix + node.Text + " is not a number");
    case ENodeKind::Apply:
      break;
  }
  const TExprFunction& f = *node.Function;
  double values[3] = {0, 0, 0};
  const size_t count = std::min<size_t>(node.Operands.size(), 3);
  for (size_t i = 0; i < count; ++i) values[i] = EvaluateNode(*node.Operands[i]);
  const std::span<const double> arguments(values, count);
  switch (f.Special()) {
    case EExprSpecial::Random:
      return UniformDraw();
    case EExprSpecial::RandG: {
      const double u1 = 1.0 - UniformDraw();
      return NormalDeviate(values[0], values[1], u1, UniformDraw());
    }
    case EExprSpecial::Assign:
      node.Operands[0]->Variable->Value = values[1];
      return values[1];
    case EExprSpecial::Increment:
    case EExprSpecial::Decrement: {
      const double result = f.Evaluate()(arguments);
      if (node.Operands[0]->Kind == ENodeKind::Variable) node.Operands[0]->Variable->Value = result;
      return result;
    }
    case EExprSpecial::Position:
    case EExprSpecial::None:
      break;
  }
  if (f.Evaluate() == nullptr) Raise(kPrefix + f.Name() + " cannot be evaluated here");
  return f.Evaluate()(arguments);
}

void TCustomExpressionParser::FoldConstants(std::unique_ptr<TExprNode>& node) {
  if (node->Kind != ENodeKind::Apply) return;
  bool constant = node->Function->IsFoldable();
  for (auto& operand : node->Operands) {
    FoldConstants(operand);
    if (operand->Kind != ENodeKind::Constant) constant = false;
  }
  if (!constant) return;
  auto folded = std::make_unique<TExprNode>();
  folded->Value = EvaluateNode(*node);
  node = std::move(folded);
}

namespace {

const TExprWordTable& StandardWords() {
  static const TExprWordTable table = [] {
    TExprWordTable words;
    for (const TExprFunctionEntry& entry : StandardFunctions()) {
      words.DefineFunction(entry.Name, entry.Description, entry.Info);
    }
    words.DefineConstant("pi", "pi = 3.1415926535897932385", std::numbers::pi);
    return words;
  }();
  return table;
}

}  // namespace

TExpressionParser::TExpressionParser() : TCustomExpressionParser(StandardWords()) {}

std::string ExpressionResultText(double value, bool isBoolean) {
  if (isBoolean) {
    if (value > -0.1 && value < 0.1) return "False";
    if (value > 0.9 && value < 1.1) return "True";
  }
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 10);
  return std::string(buffer, result.ptr);
}

}  // namespace morvex
