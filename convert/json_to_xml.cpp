#include "convert/json_to_xml.h"

#include "convert/json_parser.h"
#include "convert/json_path.h"
#include "convert/json_writer.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/text_edit.h"
#include "text/utf.h"
#include "xml/dom.h"
#include "xml/input_policy.h"
#include "xml/xml_names.h"

namespace morvex {

namespace {

// Written XML stays well-formed: a key that is no element name is refused.
void CheckElementName(std::string_view name) {
  if (!IsXmlName(name))
    throw EMorvexError("The member name \"" + std::string(name) + "\" is not a valid XML name.");
}

bool IsXmlCharacter(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || c >= 0x10000;
}

// Element text: the XML entities (quotes included), and U+FFFD for each
// character XML cannot hold.
void AppendEscaped(std::string& out, std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (const std::string_view entity = XmlEntityOf(c, true); !entity.empty()) {
      out += entity;
    } else if (static_cast<unsigned char>(c) < 0x80) {
      if (IsXmlCharacter(static_cast<unsigned char>(c))) {
        out += c;
      } else {
        AppendUtf8(out, 0xFFFD);
      }
    } else {
      const size_t start = i;
      const char32_t code = DecodeUtf8Char(text, i);
      if (IsXmlCharacter(code)) {
        out.append(text, start, i - start);
      } else {
        AppendUtf8(out, 0xFFFD);
      }
      continue;
    }
    ++i;
  }
}

class TXmlTextWriter {
 public:
  TXmlTextWriter(const TJsonDocument& document, const TXmlTextSink& out, int openElements)
      : document_(document), out_(out), openElements_(openElements) {}

  void Write(const TSuperObject& value, std::string_view name, int level,
             std::string_view rootAttributes) {
    const std::string prefix = Prefix(level);
    switch (value.Kind) {
      case TJsonKind::Null:
        return;
      case TJsonKind::Object:
        if (name.empty()) {
          for (const TSuperObject& member : TJsonDocument::Children(value)) {
            const std::string_view key = document_.KeyOf(member);
            if (!key.starts_with('@')) Write(member, key, level, rootAttributes);
          }
          return;
        }
        StartTag(prefix, name, rootAttributes);
        for (const TSuperObject& member : TJsonDocument::Children(value)) {
          const std::string_view key = document_.KeyOf(member);
          if (!key.starts_with('@')) continue;
          CheckElementName(key.substr(1));
          text_ += ' ';
          text_.append(key.substr(1));
          text_ += "=\"";
          AppendEscaped(text_, JsonValueText(document_, member));
          text_ += '"';
        }
        text_ += '>';
        Flush();
        ++openElements_;
        for (const TSuperObject& member : TJsonDocument::Children(value)) {
          const std::string_view key = document_.KeyOf(member);
          if (!key.starts_with('@')) Write(member, key, level < 0 ? level : level + 1, {});
        }
        --openElements_;
        Emit(prefix + "</" + std::string(name) + ">");
        return;
      case TJsonKind::Array:
        for (const TSuperObject& item : TJsonDocument::Children(value)) {
          Write(item, name, level, rootAttributes);
        }
        return;
      default:
        if (name.empty()) {
          text_ = prefix;
          AppendEscaped(text_, JsonValueText(document_, value));
          Flush();
          return;
        }
        StartTag(prefix, name, rootAttributes);
        text_ += '>';
        if (level >= 0) text_ += prefix + "\t";
        AppendEscaped(text_, JsonValueText(document_, value));
        text_ += prefix + "</" + std::string(name) + ">";
        Flush();
        return;
    }
  }

 private:
  // Begins the start tag of `name` with the root attributes in the pending text.
  void StartTag(const std::string& prefix, std::string_view name, std::string_view rootAttributes) {
    CheckElementName(name);
    if (openElements_ >= kMaxNestingDepth) {
      throw EMorvexError(OutputTooDeepMessage("The XML output"));
    }
    text_ = prefix + "<" + std::string(name);
    if (!rootAttributes.empty()) {
      text_ += ' ';
      text_.append(rootAttributes);
    }
  }
  static std::string Prefix(int level) {
    if (level < 0) return {};
    return "\r\n" + std::string(static_cast<size_t>(level), '\t');
  }
  void Flush() {
    out_(text_);
    text_.clear();
  }
  void Emit(const std::string& text) { out_(text); }

  const TJsonDocument& document_;
  const TXmlTextSink& out_;
  int openElements_;
  std::string text_;
};

}  // namespace

void WriteJsonAsXml(const TJsonDocument& document, const TSuperObject& value,
                    const TXmlTextSink& out, std::string_view name, int level,
                    std::string_view rootAttributes, int openElements) {
  TXmlTextWriter(document, out, openElements).Write(value, name, level, rootAttributes);
}

void ProcessJSONToXML(const TJsonDocument& document, const TXTransformInfo& options,
                      bool utf8Output, const TXmlTextSink& out) {
  std::string declaration = "<?xml version=\"1.0\"";
  if (!utf8Output) declaration += " encoding=\"" + options.Encoding + "\"";
  declaration += "?>";
  out(declaration);

  const TSuperObject* value = document.Root();
  if (!options.RecordTag.empty()) value = SelectJsonPath(document, *value, options.RecordTag);
  if (value == nullptr) return;
  const std::string rootAttributes = QuoteAttributeText(options.Namespaces);
  const int level = options.Indent ? 0 : -1;
  switch (value->Kind) {
    case TJsonKind::Object: {
      const auto members = TJsonDocument::Children(*value);
      if (members.size() == 1 && members[0].Kind != TJsonKind::Array) {
        WriteJsonAsXml(document, *value, out, {}, level, rootAttributes);
      } else {
        WriteJsonAsXml(document, *value, out, "morvex_data", level, rootAttributes);
      }
      break;
    }
    case TJsonKind::Array:
      out("\r\n<morvex_data " + rootAttributes + ">");
      for (const TSuperObject& item : TJsonDocument::Children(*value)) {
        WriteJsonAsXml(document, item, out, "r", options.Indent ? 1 : -1, {}, 1);
      }
      out("\r\n</morvex_data>");
      break;
    default:
      WriteJsonAsXml(document, *value, out, "morvex_data", level, rootAttributes);
      break;
  }
}

void JsonToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& options, const ProgressSink&) {
  TConvertInput input(source);
  TConvertOutput output(destination);
  const std::unique_ptr<TJsonDocument> document = ReadJsonSource(input.Stream(), source.Location);
  const TEncoding& encoding = BeginEncodedOutput(output, options.Encoding);
  TEncodedTextOutput text(output.Stream(), encoding, true);
  WriteThenFlush(text, [&] {
    ProcessJSONToXML(*document, options, encoding.IsUtf8(),
                     [&text](std::string_view piece) { text.Append(piece); });
  });
  output.Close();
}

}  // namespace morvex
