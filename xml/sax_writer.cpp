#include "xml/sax_writer.h"

#include <array>
#include <cstdint>
#include <cstring>

#include <libxml/tree.h>

#include "text/code_pages.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr size_t kBlockSize = 64 * 1024;

// Escapes per context: character data keeps "&", "<", ">" and CR from being
// read as markup or normalised away; attribute values also keep the quote and
// the white-space characters a reader would otherwise turn into spaces.
enum EscapeClass : uint8_t { kNone = 0, kText = 1, kAttribute = 2 };

constexpr std::array<uint8_t, 256> MakeEscapeTable() {
  std::array<uint8_t, 256> table{};
  table['&'] = kText | kAttribute;
  table['<'] = kText | kAttribute;
  table['>'] = kText | kAttribute;
  table['\r'] = kText | kAttribute;
  table['"'] = kAttribute;
  table['\t'] = kAttribute;
  table['\n'] = kAttribute;
  return table;
}

constexpr std::array<uint8_t, 256> kEscapeTable = MakeEscapeTable();

std::string_view Replacement(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\t':
      return "&#9;";
    case '\n':
      return "&#10;";
    case '\r':
      return "&#13;";
    default:
      return {};
  }
}

void AppendEscaped(std::string& out, std::string_view text, EscapeClass cls) {
  const char* data = text.data();
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((kEscapeTable[static_cast<unsigned char>(data[i])] & cls) != 0) {
      out.append(data + run, i - run);
      out.append(Replacement(data[i]));
      run = i + 1;
    }
  }
  out.append(data + run, text.size() - run);
}

bool IsBlankName(std::string_view name) { return name.empty() || name == " "; }

// The name a tag or attribute is written with: the qualified name, or the
// local name when the qualified one is missing (WriteStartElement passes a
// single space for an empty name).
std::string_view NameOf(std::string_view qName, std::string_view localName) {
  return IsBlankName(qName) ? localName : qName;
}

bool IsAsciiNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
}

bool IsAsciiNameChar(unsigned char c) {
  return IsAsciiNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Names come from data (column names, CSV headers): a name XML cannot hold,
// such as "count(*)" or "order id", would make the whole output unreadable,
// so it is refused with a message that names it. ASCII names are checked
// here; others by libxml2's rules.
void RequireXmlName(std::string_view name) {
  bool valid = !name.empty();
  bool ascii = true;
  for (size_t i = 0; valid && i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80) {
      ascii = false;
      break;
    }
    valid = i == 0 ? IsAsciiNameStart(c) : IsAsciiNameChar(c);
  }
  if (!ascii) {
    const std::string copy(name);
    valid = xmlValidateName(reinterpret_cast<const xmlChar*>(copy.c_str()), 0) == 0;
  }
  if (!valid) throw EMorvexError("\"" + std::string(name) + "\" is not a valid XML name");
}

std::string CharacterReference(char32_t c) {
  return "&#" + std::to_string(static_cast<uint32_t>(c)) + ";";
}

// The output encoding for a charset name. The table lookup is exact, but the
// runner lower-cases every `encoding` value, which would turn "windows-1252",
// "ibm437" or "euc-cn" into UTF-8 bytes under a declaration naming the code
// page; a name the table does not hold is therefore matched once more with
// ASCII case ignored before it falls back to the system encoding.
const TEncoding& OutputEncoding(const std::string& name) {
  if (name.empty()) return EncodingForCodePage(65001);
  if (name == "unicode") return EncodingForCodePage(1200);
  if (name == "unicodeFFFE") return EncodingForCodePage(1201);
  const std::string lower = AsciiLower(name);
  if (CharsetIndexByName(name) < 0 && lower != "dos" && lower != "oem" && lower != "ansi") {
    for (const TCodePageRow& row : CodePageTable) {
      if (row.CharsetName[0] != '\0' && AsciiLower(row.CharsetName) == lower) {
        return EncodingForName(row.CharsetName);
      }
    }
  }
  return EncodingForName(name);
}

}  // namespace

TXMLParser::Writer::Writer(TXMLParser& owner)
    : owner_(owner),
      textHandler_(CharacterReference),
      cdataHandler_([](char32_t c) { return "]]>" + CharacterReference(c) + "<![CDATA["; }) {}

TXMLParser::Writer::~Writer() = default;

void TXMLParser::Writer::Begin() {
  levels_.assign(1, Level{});
  pendingPrefixes_.clear();
  tagOpen_ = false;
  inCData_ = false;
  cdataBrackets_ = 0;
  lineStart_ = true;
  staged_.clear();

  const TEncoding& encoding = OutputEncoding(owner_.encoding);
  passthrough_ = encoding.IsUtf8();
  if (passthrough_) {
    encoder_.reset();
    batch_ = true;
  } else {
    encoder_ = std::make_unique<TEncoder>(encoding);
    batch_ = encoder_->EncodesAllCharacters();
  }
  started_ = true;

  if (owner_.byteOrderMark) bytes_.append(encoding.Preamble());
  if (!owner_.omitXMLDeclaration) {
    std::string& out = Out();
    out += "<?xml version=\"";
    AppendEscaped(out, owner_.version, kAttribute);
    out += "\" encoding=\"";
    AppendEscaped(out, owner_.encoding.empty() ? std::string_view("UTF-8") : owner_.encoding,
                  kAttribute);
    out += owner_.standalone ? "\" standalone=\"yes\"?>" : "\" standalone=\"no\"?>";
    lineStart_ = false;
    if (owner_.indent) {
      out += '\n';
      lineStart_ = true;
    }
  }
  Spill();
}

void TXMLParser::Writer::EnsureStarted() {
  if (!started_) Begin();
}

// A document already under way goes on: the save path writes its own
// declaration as a processing instruction before the reader walking the
// document reports the start of the document.
void TXMLParser::Writer::StartDocument() { EnsureStarted(); }

void TXMLParser::Writer::EndDocument() {
  EnsureStarted();
  EncodeStaged();
  if (encoder_) encoder_->Finish(bytes_);
  WriteBytes();
  started_ = false;
}

void TXMLParser::Writer::Flush() {
  if (!started_) return;
  EncodeStaged();
  WriteBytes();
}

void TXMLParser::Writer::EncodeStaged() {
  if (passthrough_ || staged_.empty()) return;
  if (batch_) {
    encoder_->Encode(staged_, bytes_);
  } else {
    encoder_->Encode(staged_, bytes_, textHandler_);
  }
  staged_.clear();
}

void TXMLParser::Writer::WriteBytes() {
  if (bytes_.empty() || owner_.output_ == nullptr) return;
  std::string block;
  block.swap(bytes_);
  owner_.output_->Write(block.data(), block.size());
  block.clear();
  bytes_.swap(block);  // keeps the buffer's capacity for the next block
}

void TXMLParser::Writer::Spill() {
  if (!passthrough_ && staged_.size() >= kBlockSize) EncodeStaged();
  if (bytes_.size() >= kBlockSize) WriteBytes();
}

void TXMLParser::Writer::CloseStartTag() {
  if (tagOpen_) {
    Out() += '>';
    tagOpen_ = false;
  }
}

void TXMLParser::Writer::NewLine(size_t depth) {
  std::string& out = Out();
  if (!lineStart_) out += '\n';
  out.append(depth, '\t');
  lineStart_ = false;
}

void TXMLParser::Writer::StartPrefixMapping(sv prefix, sv uri) {
  EnsureStarted();
  pendingPrefixes_.emplace_back(prefix, uri);
}

void TXMLParser::Writer::StartElement(sv localName, sv qName, const TXMLAttributes* attributes) {
  EnsureStarted();
  CloseStartTag();
  Level& parent = levels_.back();
  if (owner_.indent && !parent.Mixed) NewLine(levels_.size() - 1);
  parent.Markup = true;

  const std::string_view name = NameOf(qName, localName);
  RequireXmlName(name);
  if (attributes != nullptr) {
    for (int i = 0; i < attributes->Length(); ++i) {
      RequireXmlName(NameOf(attributes->Item(i).QName, attributes->Item(i).LocalName));
    }
  }
  std::string& out = Out();
  out += '<';
  out.append(name);
  for (const auto& [prefix, uri] : pendingPrefixes_) {
    if (prefix == "xml") continue;
    std::string name = prefix.empty() ? std::string("xmlns") : "xmlns:" + prefix;
    // A declaration the caller also passes as an attribute is written once.
    if (attributes != nullptr && attributes->IndexFromQName(name) >= 0) continue;
    out += ' ';
    out += name;
    out += "=\"";
    AppendEscaped(out, uri, kAttribute);
    out += '"';
  }
  pendingPrefixes_.clear();
  if (attributes != nullptr) {
    for (int i = 0; i < attributes->Length(); ++i) {
      const TAttribute& attribute = attributes->Item(i);
      out += ' ';
      out.append(NameOf(attribute.QName, attribute.LocalName));
      out += "=\"";
      AppendEscaped(out, attribute.Value, kAttribute);
      out += '"';
    }
  }
  tagOpen_ = true;
  lineStart_ = false;
  levels_.emplace_back();
  Spill();
}

void TXMLParser::Writer::EndElement(sv localName, sv qName) {
  EnsureStarted();
  Level level = levels_.back();
  if (levels_.size() > 1) levels_.pop_back();
  std::string& out = Out();
  if (tagOpen_) {
    out += "/>";
    tagOpen_ = false;
  } else {
    if (owner_.indent && !level.Mixed && level.Markup) NewLine(levels_.size() - 1);
    out += "</";
    out.append(NameOf(qName, localName));
    out += '>';
  }
  lineStart_ = false;
  Spill();
}

void TXMLParser::Writer::Characters(sv chars) {
  if (chars.empty()) return;
  EnsureStarted();
  CloseStartTag();
  levels_.back().Mixed = true;
  if (inCData_) {
    CDataText(chars);
  } else if (owner_.disableOutputEscaping) {
    Out().append(chars);
  } else {
    AppendEscaped(Out(), chars, kText);
  }
  lineStart_ = false;
  Spill();
}

// A "]]>" inside the text (also one split across two calls) would end the
// section early; the section is closed between "]]" and ">" and reopened.
void TXMLParser::Writer::AppendCData(std::string& out, sv chars) {
  const char* data = chars.data();
  size_t run = 0;
  size_t pos = 0;
  while (pos < chars.size()) {
    const void* hit = std::memchr(data + pos, '>', chars.size() - pos);
    if (hit == nullptr) break;
    const size_t i = static_cast<size_t>(static_cast<const char*>(hit) - data);
    bool split;
    if (i >= 2) {
      split = data[i - 1] == ']' && data[i - 2] == ']';
    } else if (i == 1) {
      split = data[0] == ']' && cdataBrackets_ >= 1;
    } else {
      split = cdataBrackets_ >= 2;
    }
    if (split) {
      out.append(data + run, i - run);
      out += "]]><![CDATA[";
      run = i;
    }
    pos = i + 1;
  }
  out.append(data + run, chars.size() - run);

  size_t trailing = 0;
  while (trailing < chars.size() && trailing < 2 && data[chars.size() - 1 - trailing] == ']') {
    ++trailing;
  }
  if (trailing == chars.size()) {
    cdataBrackets_ = std::min(2, cdataBrackets_ + static_cast<int>(trailing));
  } else {
    cdataBrackets_ = static_cast<int>(trailing);
  }
}

void TXMLParser::Writer::CDataText(sv chars) {
  if (passthrough_ || batch_) {
    AppendCData(Out(), chars);
    return;
  }
  // A character the code page cannot hold has no reference inside CDATA: the
  // handler closes the section around its "&#N;".
  EncodeStaged();
  AppendCData(staged_, chars);
  encoder_->Encode(staged_, bytes_, cdataHandler_);
  staged_.clear();
}

void TXMLParser::Writer::StartCData() {
  EnsureStarted();
  CloseStartTag();
  levels_.back().Mixed = true;
  Out() += "<![CDATA[";
  inCData_ = true;
  cdataBrackets_ = 0;
  lineStart_ = false;
}

void TXMLParser::Writer::EndCData() {
  if (!inCData_) return;
  Out() += "]]>";
  inCData_ = false;
  cdataBrackets_ = 0;
  Spill();
}

void TXMLParser::Writer::Comment(sv chars) {
  EnsureStarted();
  CloseStartTag();
  Level& parent = levels_.back();
  if (owner_.indent && !parent.Mixed) NewLine(levels_.size() - 1);
  parent.Markup = true;
  std::string& out = Out();
  out += "<!--";
  out.append(chars);
  out += "-->";
  lineStart_ = false;
  Spill();
}

void TXMLParser::Writer::ProcessingInstruction(sv target, sv data) {
  EnsureStarted();
  CloseStartTag();
  // The callers write the XML declaration as a processing instruction named
  // "xml"; it opens the document and ends its own line.
  const bool declaration = target == "xml";
  Level& parent = levels_.back();
  if (!declaration) {
    if (owner_.indent && !parent.Mixed) NewLine(levels_.size() - 1);
    parent.Markup = true;
  }
  std::string& out = Out();
  out += "<?";
  out.append(target);
  if (!data.empty()) {
    out += ' ';
    out.append(data);
  }
  out += "?>";
  lineStart_ = false;
  if (declaration && owner_.indent) {
    out += '\n';
    lineStart_ = true;
  }
  Spill();
}

}  // namespace morvex
