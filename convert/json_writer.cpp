#include "convert/json_writer.h"

#include <cstdio>

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

// Writes a value's text, handing full blocks to `flush`.
template <typename Flush>
class TJsonTextWriter {
 public:
  TJsonTextWriter(const TJsonDocument& document, bool indent, std::string& out, Flush flush)
      : document_(document), indent_(indent), out_(out), flush_(flush) {}

  void Write(const TSuperObject& value) {
    switch (value.Kind) {
      case TJsonKind::Null:
        out_ += "null";
        break;
      case TJsonKind::Boolean:
        out_ += value.Boolean ? "true" : "false";
        break;
      case TJsonKind::Integer:
        out_ += std::to_string(value.Integer);
        break;
      case TJsonKind::Double:
        out_ += JsonDoubleText(value.Double);
        break;
      case TJsonKind::Currency:
        out_ += JsonCurrencyText(value.Integer);
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
  int level_ = 0;
};

}  // namespace

std::string JsonDoubleText(double value) {
  // A negative zero ("-.0") is written "0": "-0" would read back as the
  // integer 0 and write differently the second time.
  if (value == 0) value = 0;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  std::string text = buffer;
  const size_t e = text.find('e');
  if (e == std::string::npos) return text;
  // "1e+20" is written "1E20", "1e-05" "1E-5".
  std::string mantissa = text.substr(0, e);
  size_t at = e + 1;
  const bool negative = text[at] == '-';
  if (text[at] == '+' || text[at] == '-') ++at;
  while (at + 1 < text.size() && text[at] == '0') ++at;
  return mantissa + "E" + (negative ? "-" : "") + text.substr(at);
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
                    std::string& out) {
  TJsonTextWriter writer(document, indent, out, [] {});
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

std::string JsonValueText(const TJsonDocument& document, const TSuperObject& value) {
  switch (value.Kind) {
    case TJsonKind::Null:
      return {};
    case TJsonKind::Boolean:
      return value.Boolean ? "true" : "false";
    case TJsonKind::Integer:
      return std::to_string(value.Integer);
    case TJsonKind::Double:
      return JsonDoubleText(value.Double);
    case TJsonKind::Currency:
      return JsonCurrencyText(value.Integer);
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
