#include "convert/json_parser.h"

#include <charconv>
#include <optional>
#include <vector>

#include "convert/conversion_io.h"
#include "convert/text_input.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"
#include "xml/input_policy.h"

namespace morvex {

namespace {

constexpr int kMaxDepth = kMaxNestingDepth;

struct TJsonSyntaxError {
  std::string Reason;
};

// Characters from chunks of decoded text, with line and column for messages.
class TCharSource {
 public:
  explicit TCharSource(TTextInput* input) : input_(input) {}
  TCharSource(std::string_view text) : input_(nullptr), view_(text) {}

  int Peek() {
    if (pos_ < view_.size()) return static_cast<unsigned char>(view_[pos_]);
    return Refill() ? static_cast<unsigned char>(view_[pos_]) : -1;
  }
  int Get() {
    const int c = Peek();
    if (c >= 0) {
      ++pos_;
      if (c == '\n') {
        ++line_;
        column_ = 1;
      } else if ((c & 0xC0) != 0x80) {
        ++column_;
      }
    }
    return c;
  }
  int Line() const { return line_; }
  int Column() const { return column_; }

 private:
  bool Refill() {
    if (input_ == nullptr || !input_->Next(chunk_)) return false;
    view_ = chunk_;
    pos_ = 0;
    return true;
  }

  TTextInput* input_;
  std::string chunk_;
  std::string_view view_;
  size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
};

bool IsHex(int c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(int c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

bool IsWordEnd(int c) {
  return c < 0 || c == ':' || c == ',' || c == '{' || c == '}' || c == '[' || c == ']' ||
         c == '"' || c == '\'' || c == '/' || c == ' ' || c == '\t' || c == '\n' || c == '\r' ||
         c == '\f' || c == '\b';
}

// The value of a decimal text with at most four decimals, times 10000, read
// digit by digit so that nothing is lost to binary fractions; nullopt when
// the text is no such number or does not fit.
std::optional<int64_t> CurrencyValue(std::string_view text) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos || dot == 0 || text.size() - dot - 1 > 4) return std::nullopt;
  int64_t value = 0;
  int decimals = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == dot) continue;
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (INT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + (c - '0');
    if (i > dot) ++decimals;
  }
  for (; decimals < 4; ++decimals) {
    if (value > INT64_MAX / 10) return std::nullopt;
    value *= 10;
  }
  return negative ? -value : value;
}

// The JSON text of a number that from_chars read whole: "-" if negative,
// the integer digits without leading zeros ("0" when there are none), the
// decimals when there are any, and "E" with the exponent without "+" or
// leading zeros. Reading this text again gives the same text.
std::string CanonicalNumberText(std::string_view text) {
  const auto digitsEnd = [text](size_t from) {
    while (from < text.size() && text[from] >= '0' && text[from] <= '9') ++from;
    return from;
  };
  const auto withoutLeadingZeros = [](std::string_view digits) {
    while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
    return digits.empty() ? std::string_view("0") : digits;
  };
  std::string out;
  size_t at = 0;
  if (text[at] == '-') out += text[at++];
  size_t end = digitsEnd(at);
  out += withoutLeadingZeros(text.substr(at, end - at));
  at = end;
  if (at < text.size() && text[at] == '.') {
    end = digitsEnd(++at);
    if (end > at) {
      out += '.';
      out += text.substr(at, end - at);
    }
    at = end;
  }
  if (at < text.size()) {  // the exponent: "e" or "E", a sign, digits
    out += 'E';
    if (text[++at] == '-') out += '-';
    if (text[at] == '-' || text[at] == '+') ++at;
    out += withoutLeadingZeros(text.substr(at));
  }
  return out;
}

class TJsonParser {
 public:
  TJsonParser(TCharSource& source, TJsonDocument& document)
      : source_(source), document_(document) {}

  const TSuperObject* ParseDocument() {
    SkipSpace();
    if (source_.Peek() < 0) Fail("the input holds no value");
    const TSuperObject root = ParseValue(0);
    SkipSpace();
    if (source_.Peek() >= 0) Fail("unexpected text after the value");
    return document_.Store(root);
  }

 private:
  [[noreturn]] void Fail(const std::string& reason) { throw TJsonSyntaxError{reason}; }

  void SkipSpace() {
    while (true) {
      const int c = source_.Peek();
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\b') {
        source_.Get();
      } else if (c == '/') {
        source_.Get();
        const int next = source_.Get();
        if (next == '/') {
          while (source_.Peek() >= 0 && source_.Peek() != '\n') source_.Get();
        } else if (next == '*') {
          int previous = 0;
          while (true) {
            const int d = source_.Get();
            if (d < 0) Fail("unterminated comment");
            if (previous == '*' && d == '/') break;
            previous = d;
          }
        } else {
          Fail("unexpected character '/'");
        }
      } else {
        return;
      }
    }
  }

  TSuperObject ParseValue(int depth) {
    const int c = source_.Peek();
    if (c == '{') return ParseObject(depth + 1);
    if (c == '[') return ParseArray(depth + 1);
    if (c == '"' || c == '\'') {
      ParseString(text_);
      return document_.MakeString(text_);
    }
    if (c == '-' || (c >= '0' && c <= '9')) return ParseNumber();
    ReadWord(text_);
    if (text_ == "null") return TJsonDocument::MakeNull();
    if (text_ == "true") return TJsonDocument::MakeBoolean(true);
    if (text_ == "false") return TJsonDocument::MakeBoolean(false);
    if (text_.empty()) {
      Fail(c < 0 ? "unexpected end of the input" : "unexpected character");
    }
    Fail("unexpected word '" + text_ + "'");
  }

  void CheckDepth(int depth) {
    if (depth > kMaxDepth) Fail(NestingTooDeepReason());
  }

  // Passes the opening bracket of a list that closes with `close`; false
  // when the list is empty (its closing bracket is passed too).
  bool ListHasItems(int depth, char close) {
    CheckDepth(depth);
    source_.Get();
    SkipSpace();
    if (source_.Peek() != close) return true;
    source_.Get();
    return false;
  }

  // After an item of a list: true at `close`, false after the ',' that
  // announces another item.
  bool ListEnds(char close, const char* expected) {
    SkipSpace();
    const int next = source_.Get();
    if (next < 0) Fail("unexpected end of the input");
    if (next == close) return true;
    if (next != ',') Fail(expected);
    return false;
  }

  TSuperObject ParseObject(int depth) {
    const size_t start = scratch_.size();
    if (ListHasItems(depth, '}')) {
      do {
        SkipSpace();
        const int c = source_.Peek();
        if (c == '"' || c == '\'') {
          ParseString(key_);
        } else {
          ReadWord(key_);
          if (key_.empty()) Fail("a member name is missing");
        }
        const uint32_t key = document_.InternKey(key_);
        SkipSpace();
        if (source_.Get() != ':') Fail("':' expected after a member name");
        SkipSpace();
        TSuperObject value = ParseValue(depth);
        value.Key = key;
        scratch_.push_back(value);
      } while (!ListEnds('}', "',' or '}' expected in an object"));
    }
    const TSuperObject object =
        document_.MakeObject(std::span<TSuperObject>(scratch_).subspan(start));
    scratch_.resize(start);
    return object;
  }

  TSuperObject ParseArray(int depth) {
    const size_t start = scratch_.size();
    if (ListHasItems(depth, ']')) {
      do {
        SkipSpace();
        scratch_.push_back(ParseValue(depth));
      } while (!ListEnds(']', "',' or ']' expected in an array"));
    }
    const TSuperObject array =
        document_.MakeArray(std::span<const TSuperObject>(scratch_).subspan(start));
    scratch_.resize(start);
    return array;
  }

  void ReadWord(std::string& word) {
    word.clear();
    while (!IsWordEnd(source_.Peek())) word.push_back(static_cast<char>(source_.Get()));
  }

  int ReadHex(int digits, const char* escape) {
    int value = 0;
    for (int i = 0; i < digits; ++i) {
      const int c = source_.Peek();
      if (!IsHex(c))
        Fail(std::string("\\") + escape + " needs " + std::to_string(digits) +
             " hexadecimal digits");
      source_.Get();
      value = value * 16 + HexValue(c);
    }
    return value;
  }

  void ParseString(std::string& out) {
    out.clear();
    const int quote = source_.Get();
    char32_t highSurrogate = 0;
    const auto flushSurrogate = [&] {
      if (highSurrogate != 0) AppendUtf8(out, 0xFFFD);
      highSurrogate = 0;
    };
    while (true) {
      const int c = source_.Get();
      if (c < 0) Fail("unterminated string");
      if (c == quote) break;
      if (c != '\\') {
        flushSurrogate();
        out.push_back(static_cast<char>(c));
        continue;
      }
      const int e = source_.Get();
      char32_t code = 0;
      switch (e) {
        case 'b':
          code = '\b';
          break;
        case 'f':
          code = '\f';
          break;
        case 'n':
          code = '\n';
          break;
        case 'r':
          code = '\r';
          break;
        case 't':
          code = '\t';
          break;
        case 'x':
          code = static_cast<char32_t>(ReadHex(2, "x"));
          break;
        case 'u': {
          code = static_cast<char32_t>(ReadHex(4, "u"));
          if (code >= 0xD800 && code <= 0xDBFF) {
            flushSurrogate();
            highSurrogate = code;
            continue;
          }
          if (code >= 0xDC00 && code <= 0xDFFF && highSurrogate != 0) {
            code = 0x10000 + ((highSurrogate - 0xD800) << 10) + (code - 0xDC00);
            highSurrogate = 0;
          }
          break;
        }
        case -1:
          Fail("unterminated string");
        default:
          // Any other escaped character stands for itself (all its bytes).
          flushSurrogate();
          out.push_back(static_cast<char>(e));
          continue;
      }
      flushSurrogate();
      AppendUtf8(out, code);
    }
    flushSurrogate();
  }

  TSuperObject ParseNumber() {
    number_.clear();
    bool dot = false, exponent = false;
    size_t decimals = 0;
    while (true) {
      const int c = source_.Peek();
      if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) {
        break;
      }
      source_.Get();
      if (c == '.') {
        dot = true;
      } else if (c == 'e' || c == 'E') {
        exponent = true;
      } else if (dot && !exponent && c >= '0' && c <= '9') {
        ++decimals;
      }
      number_.push_back(static_cast<char>(c));
    }
    const char* begin = number_.data();
    const char* end = begin + number_.size();
    std::from_chars_result read{};
    if (!dot && !exponent) {
      int64_t value = 0;
      read = std::from_chars(begin, end, value);
      if (read.ptr == end && read.ec == std::errc()) return TJsonDocument::MakeInteger(value);
    } else {
      if (dot && !exponent && decimals <= 4) {
        if (const auto scaled = CurrencyValue(number_)) return TJsonDocument::MakeCurrency(*scaled);
      }
      double value = 0;
      read = std::from_chars(begin, end, value);
      if (read.ptr == end && read.ec == std::errc()) return TJsonDocument::MakeDouble(value);
    }
    // Beyond int64 or beyond the range of a double: the digits are kept.
    if (read.ptr == end && read.ec == std::errc::result_out_of_range) {
      return document_.MakeNumberText(CanonicalNumberText(number_));
    }
    Fail("invalid number '" + number_ + "'");
  }

  TCharSource& source_;
  TJsonDocument& document_;
  std::vector<TSuperObject> scratch_;
  std::string text_, key_, number_;
};

std::unique_ptr<TJsonDocument> Parse(TCharSource& source, std::string* error) {
  auto document = std::make_unique<TJsonDocument>();
  try {
    TJsonParser parser(source, *document);
    document->SetRoot(parser.ParseDocument());
    return document;
  } catch (const TJsonSyntaxError& failure) {
    if (error) {
      *error = "line " + std::to_string(source.Line()) + ", column " +
               std::to_string(source.Column()) + ": " + failure.Reason;
    }
    return nullptr;
  }
}

}  // namespace

std::unique_ptr<TJsonDocument> ParseJsonInput(TStream& stream, std::string* error) {
  RewindIfSeekable(stream);
  TTextInput input(stream);
  TCharSource source(&input);
  return Parse(source, error);
}

std::unique_ptr<TJsonDocument> ParseJsonText(std::string_view text, std::string* error) {
  TCharSource source(text);
  return Parse(source, error);
}

std::unique_ptr<TJsonDocument> ReadJsonSource(TStream& stream, const std::string& location) {
  std::string reason;
  std::unique_ptr<TJsonDocument> document = ParseJsonInput(stream, &reason);
  if (!document) throw EMorvexError(NoJsonValueMessage(location, reason));
  return document;
}

}  // namespace morvex
