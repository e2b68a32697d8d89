// The reader turns each element into a builder on a stack; when the element
// ends it is packed into its parent's builder and, when it stays an object,
// frozen into the document. Memory therefore holds the decoded text, the
// builders of the open elements and the finished values.
#include "convert/xml_to_json.h"

#include <optional>
#include <vector>

#include "convert/conversion_io.h"
#include "convert/json_parser.h"
#include "convert/json_writer.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"

namespace morvex {

namespace {

// The code pages of the encodings a declaration may name, in the JSON form
// the value tree reads.
constexpr std::string_view kEncodingTable =
    "{iso-8859-1: 28591, iso-8859-2: 28592, iso-8859-3: 28593, iso-8859-4: 28594, "
    "iso-8859-5: 28595, iso-8859-6: 28596, iso-8859-7: 28597, iso-8859-8: 28598, "
    "iso-8859-9: 28599, iso-8859-15: 28605, iso-2022-jp: 50220, shift_jis: 932, "
    "euc-jp: 20932, ascii: 20127, windows-1251: 1251, windows-1252: 1252}";

// Deeper documents are refused: the values are written recursively.
constexpr size_t kMaxDepth = 1000;

struct TXmlInputError {
  std::string Reason;
};

std::optional<uint16_t> TableCodePage(std::string_view name) {
  static const std::unique_ptr<TJsonDocument> table = ParseJsonText(kEncodingTable);
  const TSuperObject* entry = table->Member(*table->Root(), name);
  if (entry == nullptr || entry->Kind != TJsonKind::Integer) return std::nullopt;
  return static_cast<uint16_t>(entry->Integer);
}

std::string_view TrimmedView(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// The encoding pseudo-attribute of a leading declaration, trimmed and
// lower-cased; nullopt when there is no declaration or no such attribute.
std::optional<std::string> DeclaredEncoding(std::string_view text) {
  if (text.substr(0, 5) != "<?xml") return std::nullopt;
  const size_t end = text.find("?>");
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view declaration = text.substr(0, end);
  const size_t at = declaration.find("encoding");
  if (at == std::string_view::npos) return std::nullopt;
  size_t pos = declaration.find('=', at);
  if (pos == std::string_view::npos) return std::nullopt;
  ++pos;
  while (pos < declaration.size() && declaration[pos] == ' ') ++pos;
  if (pos >= declaration.size()) return std::nullopt;
  const char quote = declaration[pos];
  if (quote != '"' && quote != '\'') return std::nullopt;
  const size_t close = declaration.find(quote, pos + 1);
  if (close == std::string_view::npos) return std::nullopt;
  return AsciiLower(TrimmedView(declaration.substr(pos + 1, close - pos - 1)));
}

std::string DecodeUtf16(std::string_view bytes, bool littleEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(static_cast<char16_t>(littleEndian ? (a | b << 8) : (a << 8 | b)));
  }
  return Utf16ToUtf8(units);
}

// The whole input as UTF-8 text, by the decoding rules above.
std::string DecodeXmlInput(std::string bytes) {
  const auto starts = [&](std::string_view mark) {
    return bytes.compare(0, mark.size(), mark) == 0;
  };
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    std::string text = DecodeUtf16(std::string_view(bytes).substr(2), starts("\xFF\xFE"));
    const auto declared = DeclaredEncoding(text);
    if (declared && *declared != "utf-16" && *declared != "unicode") {
      throw TXmlInputError{"the declaration names " + *declared + " in a UTF-16 text"};
    }
    return text;
  }
  if (starts("\xEF\xBB\xBF")) {
    std::string text = SanitizeUtf8(std::string_view(bytes).substr(3));
    const auto declared = DeclaredEncoding(text);
    if (declared && *declared != "utf-8") {
      throw TXmlInputError{"the declaration names " + *declared + " in a UTF-8 text"};
    }
    return text;
  }
  const auto declared = DeclaredEncoding(bytes);
  if (declared) {
    if (const auto codePage = TableCodePage(*declared)) {
      return EncodingForCodePage(*codePage).GetString(bytes);
    }
  }
  return SanitizeUtf8(bytes);
}

// A member value while its element is open: a value, or an array that may
// still grow.
struct TBuildValue {
  TSuperObject Value;
  std::vector<TSuperObject> Items;
  bool IsArray = false;
};

struct TBuildMember {
  uint32_t Key;
  TBuildValue Value;
};

struct TElementBuilder {
  std::string Name;
  std::vector<TBuildMember> Members;   // "@" attributes, child elements, "#text"
  std::vector<TSuperObject> Children;  // the text pieces ("#children")
  bool HasChildrenList = false;
  bool HasAttributes = false;
};

class TSuperXMLParser {
 public:
  TSuperXMLParser(std::string_view text, TJsonDocument& document)
      : text_(text), document_(document), textKey_(document.InternKey("#text")) {}

  const TSuperObject* Read() {
    while (pos_ < text_.size()) {
      start_ = pos_;
      if (text_[pos_] == '<') {
        Markup();
      } else {
        Text();
      }
    }
    if (!open_.empty()) Fail("the element " + open_.back().Name + " is not closed");
    if (!root_) Fail("the document has no root element");
    return document_.Store(*root_);
  }

  // Where the markup or text being read when an error struck begins.
  size_t Position() const { return start_; }

 private:
  [[noreturn]] void Fail(const std::string& reason) { throw TXmlInputError{reason}; }

  bool At(std::string_view part) const { return text_.compare(pos_, part.size(), part) == 0; }

  size_t FindOrFail(std::string_view part, const char* what) {
    const size_t at = text_.find(part, pos_);
    if (at == std::string_view::npos) Fail(std::string("unterminated ") + what);
    return at;
  }

  void Markup() {
    if (At("<!--")) {
      pos_ = FindOrFail("-->", "comment") + 3;
    } else if (At("<![CDATA[")) {
      const size_t start = pos_ + 9;
      const size_t end = FindOrFail("]]>", "CDATA section");
      if (open_.empty()) Fail("a CDATA section outside the root element");
      AddPiece(text_.substr(start, end - start));
      pos_ = end + 3;
    } else if (At("<?")) {
      pos_ = FindOrFail("?>", "processing instruction") + 2;
    } else if (At("<!DOCTYPE")) {
      SkipDoctype();
    } else if (At("</")) {
      EndTag();
    } else {
      StartTag();
    }
  }

  void SkipDoctype() {
    int depth = 0;
    for (; pos_ < text_.size(); ++pos_) {
      const char c = text_[pos_];
      if (c == '[') ++depth;
      if (c == ']') --depth;
      if (c == '>' && depth <= 0) {
        ++pos_;
        return;
      }
    }
    Fail("unterminated document type declaration");
  }

  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  void SkipSpaces() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }

  std::string_view Name() {
    const size_t start = pos_;
    while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != '>' &&
           text_[pos_] != '/' && text_[pos_] != '=' && text_[pos_] != '<') {
      ++pos_;
    }
    if (pos_ == start) Fail("a name is missing");
    return text_.substr(start, pos_ - start);
  }

  void StartTag() {
    ++pos_;
    if (root_) Fail("a second root element");
    if (open_.size() >= kMaxDepth) Fail("elements nest deeper than 1000 levels");
    TElementBuilder element;
    element.Name = Name();
    while (true) {
      SkipSpaces();
      if (pos_ >= text_.size()) Fail("unterminated start tag " + element.Name);
      if (text_[pos_] == '>') {
        ++pos_;
        open_.push_back(std::move(element));
        return;
      }
      if (At("/>")) {
        pos_ += 2;
        open_.push_back(std::move(element));
        Close();
        return;
      }
      const std::string key = "@" + std::string(Name());
      SkipSpaces();
      if (pos_ >= text_.size() || text_[pos_] != '=') Fail("'=' expected after " + key);
      ++pos_;
      SkipSpaces();
      if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) {
        Fail("a quoted value expected for " + key);
      }
      const char quote = text_[pos_++];
      const size_t close = FindOrFail(std::string_view(&quote, 1), "attribute value");
      std::string value = DecodeEntities(text_.substr(pos_, close - pos_));
      for (char& c : value) {
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
      }
      pos_ = close + 1;
      const uint32_t id = document_.InternKey(key);
      for (const TBuildMember& member : element.Members) {
        if (member.Key == id) Fail("the attribute " + key.substr(1) + " is repeated");
      }
      element.Members.push_back({id, {document_.MakeString(value), {}, false}});
      element.HasAttributes = true;
    }
  }

  void EndTag() {
    pos_ += 2;
    const std::string_view name = Name();
    SkipSpaces();
    if (pos_ >= text_.size() || text_[pos_] != '>') Fail("unterminated end tag");
    ++pos_;
    if (open_.empty() || open_.back().Name != name) {
      Fail("the end tag " + std::string(name) + " does not match");
    }
    Close();
  }

  // A text run: leading white space skipped, each line break with the spaces
  // before it and the white space after it made one space, trailing white
  // space removed; entities decoded afterwards.
  void Text() {
    const size_t end = std::min(text_.find('<', pos_), text_.size());
    const std::string_view raw = text_.substr(pos_, end - pos_);
    pos_ = end;
    std::string out;
    size_t i = 0;
    while (i < raw.size() && IsSpace(raw[i])) ++i;
    for (; i < raw.size(); ++i) {
      const char c = raw[i];
      if (c == '\r' || c == '\n') {
        while (!out.empty() && out.back() == ' ') out.pop_back();
        out.push_back(' ');
        while (i + 1 < raw.size() && IsSpace(raw[i + 1])) ++i;
      } else {
        out.push_back(c);
      }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.empty()) return;
    if (open_.empty()) Fail("text outside the root element");
    AddPiece(DecodeEntities(out));
  }

  std::string DecodeEntities(std::string_view text) {
    std::string out;
    size_t from = 0;
    for (size_t amp = text.find('&'); amp != std::string_view::npos; amp = text.find('&', from)) {
      out.append(text, from, amp - from);
      const size_t semi = text.find(';', amp);
      if (semi == std::string_view::npos) Fail("an entity reference is not closed");
      const std::string_view name = text.substr(amp + 1, semi - amp - 1);
      if (name == "lt") {
        out += '<';
      } else if (name == "gt") {
        out += '>';
      } else if (name == "amp") {
        out += '&';
      } else if (name == "quot") {
        out += '"';
      } else if (name == "apos") {
        out += '\'';
      } else if (name.size() > 1 && name[0] == '#') {
        const bool hex = name[1] == 'x';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 8) Fail("invalid character reference");
        uint32_t code = 0;
        for (char d : digits) {
          int v;
          if (d >= '0' && d <= '9') {
            v = d - '0';
          } else if (hex && ((d | 0x20) >= 'a' && (d | 0x20) <= 'f')) {
            v = (d | 0x20) - 'a' + 10;
          } else {
            Fail("invalid character reference");
          }
          code = code * (hex ? 16 : 10) + static_cast<uint32_t>(v);
        }
        AppendUtf8(out, code);
      } else {
        Fail("unknown entity &" + std::string(name) + ";");
      }
      from = semi + 1;
    }
    out.append(text, from);
    return out;
  }

  void AddPiece(std::string_view piece) {
    TElementBuilder& element = open_.back();
    element.Children.push_back(document_.MakeString(piece));
    element.HasChildrenList = true;
  }

  TSuperObject Freeze(TBuildValue& value) {
    if (!value.IsArray) return value.Value;
    return document_.MakeArray(value.Items);
  }

  TSuperObject FreezeObject(TElementBuilder& element) {
    std::vector<TSuperObject> members;
    members.reserve(element.Members.size());
    for (TBuildMember& member : element.Members) {
      TSuperObject value = Freeze(member.Value);
      value.Key = member.Key;
      members.push_back(value);
    }
    return document_.MakeObject(members);
  }

  void Close() {
    TElementBuilder element = std::move(open_.back());
    open_.pop_back();
    TElementBuilder* parent = open_.empty() ? nullptr : &open_.back();
    const uint32_t nameKey = document_.InternKey(element.Name);

    if (element.Children.size() == 1) {
      const TSuperObject text = element.Children[0];
      if (element.Members.empty()) {
        if (parent) {
          AddBuilt(*parent, nameKey, {text, {}, false});
        } else {
          // A root holding only text keeps its name.
          std::vector<TSuperObject> members(2);
          members[0] = document_.MakeString(element.Name);
          members[0].Key = document_.InternKey("#name");
          members[1] = text;
          members[1].Key = textKey_;
          Finish(document_.MakeObject(members));
        }
        return;
      }
      AddBuilt(element, nameKey, {text, {}, false});
      const TSuperObject object = FreezeObject(element);
      if (parent) {
        AddBuilt(*parent, nameKey, {object, {}, false});
      } else {
        Finish(object);
      }
      return;
    }
    for (const TSuperObject& piece : element.Children)
      AddBuilt(element, textKey_, {piece, {}, false});
    if (!parent) {
      Finish(FreezeObject(element));
      return;
    }
    // Counting "#name", which is still a member here.
    const size_t memberCount = element.Members.size() + 1;
    if (memberCount == 2 && element.Members[0].Key == textKey_) {
      AddBuilt(*parent, nameKey, std::move(element.Members[0].Value));
    } else if (memberCount > 1) {
      AddBuilt(*parent, nameKey, {FreezeObject(element), {}, false});
    }
  }

  // The member rule: a new name is stored, an array grows (an array value is
  // appended as one item), any other value becomes an array of the old value
  // and the new one.
  void AddBuilt(TElementBuilder& element, uint32_t key, TBuildValue value) {
    // Repeated elements mostly follow each other: the last member first.
    auto& members = element.Members;
    for (size_t n = members.size(), i = n; i-- > 0;) {
      TBuildMember& member = members[i];
      if (member.Key != key) continue;
      TBuildValue& old = member.Value;
      if (!old.IsArray) {
        old.Items.push_back(old.Value);
        old.IsArray = true;
      }
      old.Items.push_back(value.IsArray ? document_.MakeArray(value.Items) : value.Value);
      return;
    }
    element.Members.push_back({key, std::move(value)});
  }

  void Finish(const TSuperObject& root) { root_ = root; }

  std::string_view text_;
  size_t pos_ = 0;
  size_t start_ = 0;
  TJsonDocument& document_;
  uint32_t textKey_;
  std::vector<TElementBuilder> open_;
  std::optional<TSuperObject> root_;
};

// Line and column of a byte offset, for messages.
std::string PositionText(std::string_view text, size_t offset) {
  int line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

std::unique_ptr<TJsonDocument> XmlToJsonTree(TStream& stream, std::string* error) {
  RewindIfSeekable(stream);
  std::string text;
  try {
    text = DecodeXmlInput(stream.ReadToEnd());
  } catch (const TXmlInputError& failure) {
    if (error) *error = failure.Reason;
    return nullptr;
  }
  auto document = std::make_unique<TJsonDocument>();
  TSuperXMLParser reader(text, *document);
  try {
    document->SetRoot(reader.Read());
    return document;
  } catch (const TXmlInputError& failure) {
    if (error) *error = PositionText(text, reader.Position()) + ": " + failure.Reason;
    return nullptr;
  }
}

bool XmlToJson(const TConvertEndpoint& source, const TConvertEndpoint& destination,
               const TConvertOptions& options, std::string& message) {
  return RunConversion(message, [&] {
    TConvertInput input(source);
    TConvertOutput output(destination);
    std::string reason;
    std::unique_ptr<TJsonDocument> document = XmlToJsonTree(input.Stream(), &reason);
    if (!document) throw EMorvexError(NoJsonValueMessage(source.Location, reason));
    const TEncoding& encoding = BeginEncodedOutput(output, options.Encoding);
    WriteJsonOutput(*document, *document->Root(), output.Stream(), encoding, options.Indent);
    output.Close();
    return true;
  });
}

}  // namespace morvex
