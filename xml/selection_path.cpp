// A small XPath 1.0 parser that accepts a subset and refuses everything it
// is unsure of: a wrong selection is far worse than a slow one.
#include "xml/selection_path.h"

#include <cctype>
#include <utility>

namespace morvex {

namespace {

enum class TTok {
  End,
  Name,
  Star,
  Literal,
  Number,
  Op,
  Open,
  Close,
  OpenB,
  CloseB,
  At,
  Axis,
  Comma,
  Slash,
  Slash2,
  Dot,
  Dot2,
  Dollar,
  Bad
};

struct TToken {
  TTok Kind = TTok::End;
  std::string Text;
};

bool IsNameStart(unsigned char c) { return c == '_' || std::isalpha(c) || c >= 0x80; }
bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || std::isdigit(c) || c == '-' || c == '.';
}

// XPath's tokens, with "*" and the names and, or, div, mod read as operators
// where the grammar says so.
std::vector<TToken> Tokenize(std::string_view text) {
  std::vector<TToken> tokens;
  size_t i = 0;
  const auto operatorPlace = [&tokens] {
    if (tokens.empty()) return false;
    const TToken& last = tokens.back();
    switch (last.Kind) {
      case TTok::At:
      case TTok::Axis:
      case TTok::Open:
      case TTok::OpenB:
      case TTok::Comma:
      case TTok::Op:
      case TTok::Slash:
      case TTok::Slash2:
        return false;
      default:
        return true;
    }
  };
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    TToken token;
    if (c == '"' || c == '\'') {
      const size_t close = text.find(static_cast<char>(c), i + 1);
      if (close == std::string_view::npos) return {TToken{TTok::Bad, {}}};
      token = {TTok::Literal, std::string(text.substr(i + 1, close - i - 1))};
      i = close + 1;
    } else if (std::isdigit(c) || (c == '.' && i + 1 < text.size() &&
                                   std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
      size_t end = i;
      while (end < text.size() &&
             (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) {
        ++end;
      }
      token = {TTok::Number, std::string(text.substr(i, end - i))};
      i = end;
    } else if (text.substr(i, 2) == "..") {
      token = {TTok::Dot2, ".."};
      i += 2;
    } else if (c == '.') {
      token = {TTok::Dot, "."};
      ++i;
    } else if (text.substr(i, 2) == "//") {
      token = {TTok::Slash2, "//"};
      i += 2;
    } else if (c == '/') {
      token = {TTok::Slash, "/"};
      ++i;
    } else if (c == '(' || c == ')' || c == '[' || c == ']' || c == '@' || c == ',' || c == '$') {
      static constexpr std::pair<char, TTok> kinds[] = {
          {'(', TTok::Open}, {')', TTok::Close}, {'[', TTok::OpenB}, {']', TTok::CloseB},
          {'@', TTok::At},   {',', TTok::Comma}, {'$', TTok::Dollar}};
      for (const auto& [ch, kind] : kinds) {
        if (ch == static_cast<char>(c)) token = {kind, std::string(1, ch)};
      }
      ++i;
    } else if (c == '*') {
      token = operatorPlace() ? TToken{TTok::Op, "*"} : TToken{TTok::Star, "*"};
      ++i;
    } else if (text.substr(i, 2) == "!=" || text.substr(i, 2) == "<=" ||
               text.substr(i, 2) == ">=") {
      token = {TTok::Op, std::string(text.substr(i, 2))};
      i += 2;
    } else if (c == '=' || c == '<' || c == '>' || c == '+' || c == '-' || c == '|') {
      token = {TTok::Op, std::string(1, static_cast<char>(c))};
      ++i;
    } else if (IsNameStart(c)) {
      size_t end = i;
      while (end < text.size() && IsNameChar(static_cast<unsigned char>(text[end]))) ++end;
      // A prefix: "p:name" or "p:*" (but not the axis separator "::").
      if (end + 1 < text.size() && text[end] == ':' && text[end + 1] != ':') {
        if (text[end + 1] == '*') {
          end += 2;
        } else if (IsNameStart(static_cast<unsigned char>(text[end + 1]))) {
          end += 1;
          while (end < text.size() && IsNameChar(static_cast<unsigned char>(text[end]))) ++end;
        } else {
          return {TToken{TTok::Bad, {}}};
        }
      }
      std::string name(text.substr(i, end - i));
      i = end;
      if (operatorPlace() && (name == "and" || name == "or" || name == "div" || name == "mod")) {
        token = {TTok::Op, name};
      } else {
        token = {TTok::Name, name};
      }
    } else if (text.substr(i, 2) == "::") {
      token = {TTok::Axis, "::"};
      i += 2;
    } else {
      return {TToken{TTok::Bad, {}}};
    }
    tokens.push_back(std::move(token));
  }
  tokens.push_back(TToken{});
  return tokens;
}

enum class TType { NodeSet, Boolean, Number, String };

// Recursive descent over XPath 1.0's grammar. Every refusal is an empty
// optional.
class TPredicateCheck {
 public:
  TPredicateCheck(const std::vector<TToken>& tokens, size_t pos,
                  const std::vector<TNamespaceBinding>& prefixes)
      : tokens_(tokens), pos_(pos), prefixes_(prefixes) {}

  // An expression nested deeper than kMaxNesting (parentheses, predicates,
  // function arguments) is refused, so that no expression can exhaust the
  // stack here; the document path takes it, under libxml2's own limits.
  std::optional<TType> Expr() {
    if (depth_ >= kMaxNesting) return std::nullopt;
    ++depth_;
    std::optional<TType> type = Or();
    --depth_;
    return type;
  }
  size_t Position() const { return pos_; }

 private:
  static constexpr int kMaxNesting = 64;

  const TToken& Peek() const { return tokens_[pos_]; }
  bool IsOp(std::string_view op) const { return Peek().Kind == TTok::Op && Peek().Text == op; }

  bool PrefixKnown(const std::string& name) const {
    const size_t colon = name.find(':');
    if (colon == std::string::npos) return true;
    const std::string prefix = name.substr(0, colon);
    for (const auto& binding : prefixes_) {
      if (binding.first == prefix) return true;
    }
    return false;
  }

  template <typename Next>
  std::optional<TType> Binary(std::initializer_list<std::string_view> ops, TType result,
                              Next next) {
    std::optional<TType> type = (this->*next)();
    for (;;) {
      bool matched = false;
      for (std::string_view op : ops) matched = matched || IsOp(op);
      if (!type || !matched) return type;
      ++pos_;
      if (!(this->*next)()) return std::nullopt;
      type = result;
    }
  }

  std::optional<TType> Or() { return Binary({"or"}, TType::Boolean, &TPredicateCheck::And); }
  std::optional<TType> And() { return Binary({"and"}, TType::Boolean, &TPredicateCheck::Equality); }
  std::optional<TType> Equality() {
    return Binary({"=", "!="}, TType::Boolean, &TPredicateCheck::Relational);
  }
  std::optional<TType> Relational() {
    return Binary({"<", "<=", ">", ">="}, TType::Boolean, &TPredicateCheck::Additive);
  }
  std::optional<TType> Additive() {
    return Binary({"+", "-"}, TType::Number, &TPredicateCheck::Multiplicative);
  }
  std::optional<TType> Multiplicative() {
    return Binary({"*", "div", "mod"}, TType::Number, &TPredicateCheck::Unary);
  }
  std::optional<TType> Unary() {
    bool negated = false;
    while (IsOp("-")) {
      negated = true;
      ++pos_;
    }
    std::optional<TType> type = Path();
    if (type && negated) return TType::Number;
    return type;
  }

  // A relative location path, or a primary expression (not followed by a
  // path or predicates). A union is refused.
  std::optional<TType> Path() {
    const TToken& token = Peek();
    std::optional<TType> type;
    switch (token.Kind) {
      case TTok::Literal:
        ++pos_;
        type = TType::String;
        break;
      case TTok::Number:
        ++pos_;
        type = TType::Number;
        break;
      case TTok::Open:
        ++pos_;
        type = Expr();
        if (!type || Peek().Kind != TTok::Close) return std::nullopt;
        ++pos_;
        break;
      case TTok::Name:
        if (tokens_[pos_ + 1].Kind == TTok::Open && !IsNodeType(token.Text)) {
          type = Function();
        } else {
          type = RelativePath();
        }
        break;
      case TTok::Star:
      case TTok::At:
      case TTok::Dot:
        type = RelativePath();
        break;
      default:
        return std::nullopt;  // absolute paths, "..", variables, anything else
    }
    if (!type || Peek().Kind == TTok::Slash || Peek().Kind == TTok::Slash2 ||
        Peek().Kind == TTok::OpenB || IsOp("|")) {
      return std::nullopt;
    }
    return type;
  }

  static bool IsNodeType(const std::string& name) {
    return name == "node" || name == "text" || name == "comment" ||
           name == "processing-instruction";
  }

  std::optional<TType> RelativePath() {
    if (!Step()) return std::nullopt;
    while (Peek().Kind == TTok::Slash || Peek().Kind == TTok::Slash2) {
      ++pos_;
      if (!Step()) return std::nullopt;
    }
    return TType::NodeSet;
  }

  // One step on the child, attribute, self or descendant axes, with any
  // predicates: inside the element, positions are those of its own content.
  bool Step() {
    if (Peek().Kind == TTok::Dot) {
      ++pos_;
      return true;
    }
    if (Peek().Kind == TTok::At) {
      ++pos_;
    } else if (Peek().Kind == TTok::Name && tokens_[pos_ + 1].Kind == TTok::Axis) {
      const std::string& axis = Peek().Text;
      if (axis != "child" && axis != "attribute" && axis != "self" && axis != "descendant" &&
          axis != "descendant-or-self") {
        return false;
      }
      pos_ += 2;
    }
    const TToken& test = Peek();
    if (test.Kind == TTok::Star) {
      ++pos_;
    } else if (test.Kind == TTok::Name) {
      if (tokens_[pos_ + 1].Kind == TTok::Open) {
        if (!IsNodeType(test.Text)) return false;
        pos_ += 2;
        if (test.Text == "processing-instruction" && Peek().Kind == TTok::Literal) ++pos_;
        if (Peek().Kind != TTok::Close) return false;
        ++pos_;
      } else {
        if (!PrefixKnown(test.Text)) return false;
        ++pos_;
      }
    } else {
      return false;
    }
    while (Peek().Kind == TTok::OpenB) {
      ++pos_;
      if (!Expr() || Peek().Kind != TTok::CloseB) return false;
      ++pos_;
    }
    return true;
  }

  struct TFunction {
    const char* Name;
    int MinArgs;
    int MaxArgs;  // -1: any number
    TType Result;
    bool NodeSetArgs;
  };

  // XPath's core functions that need nothing outside the context node.
  std::optional<TType> Function() {
    static constexpr TFunction kFunctions[] = {
        {"not", 1, 1, TType::Boolean, false},
        {"boolean", 1, 1, TType::Boolean, false},
        {"true", 0, 0, TType::Boolean, false},
        {"false", 0, 0, TType::Boolean, false},
        {"contains", 2, 2, TType::Boolean, false},
        {"starts-with", 2, 2, TType::Boolean, false},
        {"string", 0, 1, TType::String, false},
        {"concat", 2, -1, TType::String, false},
        {"substring-before", 2, 2, TType::String, false},
        {"substring-after", 2, 2, TType::String, false},
        {"substring", 2, 3, TType::String, false},
        {"normalize-space", 0, 1, TType::String, false},
        {"translate", 3, 3, TType::String, false},
        {"local-name", 0, 1, TType::String, true},
        {"name", 0, 1, TType::String, true},
        {"namespace-uri", 0, 1, TType::String, true},
        {"number", 0, 1, TType::Number, false},
        {"string-length", 0, 1, TType::Number, false},
        {"sum", 1, 1, TType::Number, true},
        {"count", 1, 1, TType::Number, true},
        {"floor", 1, 1, TType::Number, false},
        {"ceiling", 1, 1, TType::Number, false},
        {"round", 1, 1, TType::Number, false},
    };
    const TFunction* function = nullptr;
    for (const TFunction& f : kFunctions) {
      if (Peek().Text == f.Name) function = &f;
    }
    if (!function) return std::nullopt;
    pos_ += 2;
    int count = 0;
    if (Peek().Kind != TTok::Close) {
      for (;;) {
        std::optional<TType> argument = Expr();
        if (!argument || (function->NodeSetArgs && *argument != TType::NodeSet)) {
          return std::nullopt;
        }
        ++count;
        if (Peek().Kind != TTok::Comma) break;
        ++pos_;
      }
    }
    if (Peek().Kind != TTok::Close || count < function->MinArgs ||
        (function->MaxArgs >= 0 && count > function->MaxArgs)) {
      return std::nullopt;
    }
    ++pos_;
    return function->Result;
  }

  const std::vector<TToken>& tokens_;
  size_t pos_;
  const std::vector<TNamespaceBinding>& prefixes_;
  int depth_ = 0;  // Expr calls in progress
};

}  // namespace

std::optional<TSelectionPath> ParseSelectionPath(std::string_view expression,
                                                 const std::vector<TNamespaceBinding>& prefixes) {
  const std::vector<TToken> tokens = Tokenize(expression);
  TSelectionPath path;
  size_t pos = 0;
  while (tokens[pos].Kind == TTok::Slash || tokens[pos].Kind == TTok::Slash2) {
    TPathStep step;
    step.Descendant = tokens[pos].Kind == TTok::Slash2;
    ++pos;
    const TToken& test = tokens[pos];
    if (test.Kind == TTok::Star) {
      step.AnyName = step.AnyNamespace = true;
    } else if (test.Kind == TTok::Name && tokens[pos + 1].Kind != TTok::Open &&
               tokens[pos + 1].Kind != TTok::Axis) {
      const size_t colon = test.Text.find(':');
      std::string local = test.Text;
      if (colon != std::string::npos) {
        const std::string prefix = test.Text.substr(0, colon);
        local = test.Text.substr(colon + 1);
        bool known = false;
        for (const auto& binding : prefixes) {
          if (binding.first == prefix) {
            step.NamespaceUri = binding.second;
            known = true;
          }
        }
        if (!known || step.NamespaceUri.empty()) return std::nullopt;
      }
      if (local == "*") {
        step.AnyName = true;
      } else {
        step.LocalName = local;
      }
    } else {
      return std::nullopt;
    }
    ++pos;
    path.Steps.push_back(std::move(step));
    if (tokens[pos].Kind == TTok::OpenB) break;
  }
  if (path.Steps.empty() || path.Steps.size() > 60) return std::nullopt;
  // The last step's predicates, each a non-positional test on the element.
  while (tokens[pos].Kind == TTok::OpenB) {
    TPredicateCheck check(tokens, pos + 1, prefixes);
    const std::optional<TType> type = check.Expr();
    if (!type || *type == TType::Number) return std::nullopt;
    pos = check.Position();
    if (tokens[pos].Kind != TTok::CloseB) return std::nullopt;
    ++pos;
  }
  if (tokens[pos].Kind != TTok::End) return std::nullopt;
  if (pos > 0 && tokens[pos - 1].Kind == TTok::CloseB) {
    // The predicates' text: from the first "[" that follows the last name
    // test; literals may hold brackets, so the text is taken whole.
    // The steps before the predicates hold no brackets or quotes.
    const size_t first = expression.find('[');
    const size_t last = expression.rfind(']');
    if (first == std::string_view::npos || last < first) return std::nullopt;
    path.Predicates = std::string(expression.substr(first, last - first + 1));
  }
  return path;
}

std::vector<std::string> SelectionLines(std::string_view text) {
  std::vector<std::string> lines;
  if (text.find_first_of("\r\n") == std::string_view::npos) {
    lines.emplace_back(text);
    return lines;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

}  // namespace morvex
