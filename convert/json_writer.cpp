#include "convert/json_writer.h"

#include <charconv>
#include <memory>

#include "convert/conversion_io.h"
#include "text/encoding.h"
#include "text/stream.h"

namespace morvex {

namespace {

constexpr size_t kFlushBytes = 64 * 1024;

void AppendEscaped(std::string& out, std::string_view text) {
  size_t from = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '"' && c != '\\' && c != '\0') continue;
    out.append(text, from, i - from);
    out.append(c == '"' ? "\\\"" : c == '\\' ? "\\\\" : "\\u0000");
    from = i + 1;
  }
  out.append(text, from);
}

// Appends the text of a number of any kind; nothing for other kinds.
void AppendNumberText(const TSuperObject& value, std::string& out) {
  switch (value.Kind) {
    case TJsonKind::Integer: {
      char buffer[24];
      out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value.Integer).ptr);
      break;
    }
    case TJsonKind::Double:
      out += JsonDoubleText(value.Double);
      break;
    case TJsonKind::Currency:
      out += JsonCurrencyText(value.Integer);
      break;
    case TJsonKind::NumberText:
      out += TJsonDocument::NumberText(value);
      break;
    default:
      break;
  }
}

// Writes a value's text, handing full blocks to `flush`.
template <typename Flush>
class TJsonTextWriter {
 public:
  TJsonTextWriter(const TJsonDocument& document, bool indent, std::string& out, Flush flush,
                  int level = 0)
      : document_(document), indent_(indent), out_(out), flush_(flush), level_(level) {}

  void Write(const TSuperObject& value) {
    switch (value.Kind) {
      case TJsonKind::Null:
        out_ += "null";
        break;
      case TJsonKind::Boolean:
        out_ += value.Boolean ? "true" : "false";
        break;
      case TJsonKind::Integer:
      case TJsonKind::Double:
      case TJsonKind::Currency:
      case TJsonKind::NumberText:
        AppendNumberText(value, out_);
        break;
      case TJsonKind::String:
        out_ += '"';
        AppendEscaped(out_, TJsonDocument::String(value));
        out_ += '"';
        break;
      case TJsonKind::Object:
        WriteObject(value);
        break;
      case TJsonKind::Array:
        WriteArray(value);
        break;
    }
    if (out_.size() >= kFlushBytes) flush_();
  }

 private:
  void LineBreak() {
    out_ += "\r\n";
    out_.append(static_cast<size_t>(level_), ' ');
  }

  void WriteObject(const TSuperObject& value) {
    const auto members = TJsonDocument::Children(value);
    if (members.empty()) {
      out_ += "{}";
      return;
    }
    out_ += '{';
    ++level_;
    bool first = true;
    for (const TSuperObject& member : members) {
      if (!first) out_ += ',';
      first = false;
      if (indent_) LineBreak();
      out_ += '"';
      AppendEscaped(out_, document_.KeyOf(member));
      out_ += indent_ ? "\": " : "\":";
      Write(member);
    }
    --level_;
    if (indent_) LineBreak();
    out_ += '}';
  }

  void WriteArray(const TSuperObject& value) {
    const auto items = TJsonDocument::Children(value);
    if (items.empty()) {
      out_ += "[]";
      return;
    }
    out_ += '[';
    ++level_;
    if (indent_) LineBreak();
    bool first = true;
    for (const TSuperObject& item : items) {
      if (!first) out_ += ',';
      first = false;
      Write(item);
    }
    --level_;
    out_ += ']';
  }

  const TJsonDocument& document_;
  bool indent_;
  std::string& out_;
  Flush flush_;
  int level_;
};

}  // namespace

std::string JsonDoubleText(double value) {
  // A negative zero ("-.0") is written "0": "-0" would read back as the
  // integer 0 and write differently the second time.
  if (value == 0) return "0";
  // The shortest digits that read back to the same double, "d.ddde+XX".
  char buffer[32];
  const std::to_chars_result written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<size_t>(written.ptr - buffer));
  const size_t e = text.find('e');
  const bool negative = text[0] == '-';
  std::string digits;
  for (const char c : text.substr(0, e)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  int exponent = 0;
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  exponent);
  // Laid out as printf's "%.15g" does, so every number of up to 15 digits is
  // written as before: fixed from 1E-4 up to below 1E15, else "1.5E20", "1E-5".
  std::string out = negative ? "-" : "";
  if (exponent < -4 || exponent >= 15) {
    out += digits[0];
    if (digits.size() > 1) out += '.' + digits.substr(1);
    out += 'E' + std::to_string(exponent);
  } else if (exponent < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  } else {
    const auto whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits;
      out.append(whole - digits.size(), '0');
    } else {
      out += digits.substr(0, whole) + '.' + digits.substr(whole);
    }
  }
  return out;
}

std::string JsonCurrencyText(int64_t timesTenThousand) {
  const bool negative = timesTenThousand < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(timesTenThousand)
                                      : static_cast<uint64_t>(timesTenThousand);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    text += '.';
    text += digits;
  }
  return text;
}

void AppendJsonText(const TJsonDocument& document, const TSuperObject& value, bool indent,
                    std::string& out, int level) {
  TJsonTextWriter writer(
      document, indent, out, [] {}, level);
  writer.Write(value);
}

void WriteJsonOutput(const TJsonDocument& document, const TSuperObject& value, TStream& stream,
                     const TEncoding& encoding, bool indent) {
  TEncodedTextOutput output(stream, encoding);
  std::string text;
  const auto flush = [&] {
    output.Append(text);
    text.clear();
  };
  TJsonTextWriter writer(document, indent, text, flush);
  writer.Write(value);
  flush();
  output.Flush();
}

TJsonStreamWriter::TJsonStreamWriter(TStream& stream, const TEncoding& encoding, bool indent)
    : output_(std::make_unique<TEncodedTextOutput>(stream, encoding)), indent_(indent) {}

TJsonStreamWriter::~TJsonStreamWriter() = default;

void TJsonStreamWriter::LineBreak(int level) {
  if (!indent_) return;
  text_ += "\r\n";
  text_.append(static_cast<size_t>(level), ' ');
}

void TJsonStreamWriter::Key(std::string_view key, bool first, int level) {
  if (!first) text_ += ',';
  LineBreak(level + 1);
  text_ += '"';
  AppendEscaped(text_, key);
  text_ += indent_ ? "\": " : "\":";
}

void TJsonStreamWriter::OpenArray(int level) {
  text_ += '[';
  LineBreak(level + 1);
}

void TJsonStreamWriter::Value(const TJsonDocument& document, const TSuperObject& value, int level) {
  AppendJsonText(document, value, indent_, text_, level);
  Spill();
}

void TJsonStreamWriter::CloseObject(bool empty, int level) {
  if (!empty) LineBreak(level);
  text_ += '}';
}

void TJsonStreamWriter::Spill() {
  if (text_.size() < kFlushBytes) return;
  output_->Append(text_);
  text_.clear();
}

void TJsonStreamWriter::Flush() {
  output_->Append(text_);
  text_.clear();
  output_->Flush();
}

std::string JsonValueText(const TJsonDocument& document, const TSuperObject& value) {
  switch (value.Kind) {
    case TJsonKind::Null:
      return {};
    case TJsonKind::Boolean:
      return value.Boolean ? "true" : "false";
    case TJsonKind::Integer:
    case TJsonKind::Double:
    case TJsonKind::Currency:
    case TJsonKind::NumberText: {
      std::string text;
      AppendNumberText(value, text);
      return text;
    }
    case TJsonKind::String:
      return std::string(TJsonDocument::String(value));
    default: {
      std::string text;
      AppendJsonText(document, value, false, text);
      return text;
    }
  }
}

}  // namespace morvex
