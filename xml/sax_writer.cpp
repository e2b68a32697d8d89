#include "xml/sax_writer.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "text/error.h"
#include "text/stream.h"
#include "text/text_edit.h"
#include "text/utf.h"
#include "xml/input_policy.h"
#include "xml/xml_names.h"
#include "xml/xml_save.h"

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
  if (const std::string_view entity = XmlEntityOf(c, true); !entity.empty()) return entity;
  switch (c) {
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

std::string CharacterReference(char32_t c) {
  return "&#" + std::to_string(static_cast<uint32_t>(c)) + ";";
}

// Bytes that may start something XML 1.0 cannot hold: C0 controls other than
// TAB, LF and CR, and every non-ASCII byte (checked as UTF-8 for invalid
// sequences, lone surrogates, U+FFFE and U+FFFF).
constexpr std::array<bool, 256> MakeSuspectTable() {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = c != '\t' && c != '\n' && c != '\r';
  for (int c = 0x80; c < 0x100; ++c) table[c] = true;
  return table;
}

constexpr std::array<bool, 256> kSuspectTable = MakeSuspectTable();
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// The length of the XML character at `pos` when it is one; 0 when the bytes
// there must be replaced. `pos` moves past the character or the bad bytes.
size_t XmlCharAt(std::string_view text, size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    ++pos;
    return kSuspectTable[lead] ? 0 : 1;
  }
  const size_t start = pos;
  const char32_t c = DecodeUtf8Char(text, pos);
  if (c == 0xFFFE || c == 0xFFFF) return 0;
  if (c == 0xFFFD && text.substr(start, pos - start) != kReplacementUtf8) return 0;
  return pos - start;
}

// True when XML can hold every character of `text`.
bool IsXmlText(std::string_view text) {
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  size_t pos = 0;
  // Eight bytes at a time while none is below 0x20 or above 0x7F: most text
  // is plain ASCII and needs no closer look.
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  constexpr uint64_t kSpaces = 0x2020202020202020ULL;
  while (pos + 8 <= text.size()) {
    uint64_t word;
    std::memcpy(&word, data + pos, sizeof word);
    if (((word | (word - kSpaces)) & kHigh) != 0) break;
    pos += 8;
  }
  while (pos < text.size()) {
    if (!kSuspectTable[data[pos]]) {
      ++pos;
      continue;
    }
    if (XmlCharAt(text, pos) == 0) return false;
  }
  return true;
}

// `text` with every character XML cannot hold, and every invalid UTF-8
// sequence, replaced by U+FFFD.
std::string ToXmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    if (XmlCharAt(text, pos) == 0) {
      out.append(kReplacementUtf8);
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
  return out;
}

// AppendEscaped(out, text, kText) for a text XML can hold whole, in one
// pass: ASCII without markup characters or controls is skipped eight bytes
// at a time. False, with `out` as it was, when IsXmlText(text) is false.
bool AppendXmlTextEscaped(std::string& out, std::string_view text) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  auto hasByte = [](uint64_t word, char c) {
    const uint64_t x = word ^ (kOnes * static_cast<unsigned char>(c));
    return ((x - kOnes) & ~x & kHigh) != 0;
  };
  const size_t start = out.size();
  const char* data = text.data();
  const size_t size = text.size();
  size_t run = 0;
  size_t pos = 0;
  while (pos < size) {
    while (pos + 8 <= size) {
      uint64_t word;
      std::memcpy(&word, data + pos, sizeof word);
      // Controls and non-ASCII bytes set a high bit here (a borrow may flag
      // a neighbour too, which then takes the closer look).
      if (((word | (word - kOnes * 0x20)) & kHigh) != 0 || hasByte(word, '&') ||
          hasByte(word, '<') || hasByte(word, '>')) {
        break;
      }
      pos += 8;
    }
    if (pos >= size) break;
    const auto c = static_cast<unsigned char>(data[pos]);
    if ((kEscapeTable[c] & kText) != 0) {
      out.append(data + run, pos - run);
      out.append(Replacement(data[pos]));
      run = ++pos;
    } else if (kSuspectTable[c]) {
      if (XmlCharAt(text, pos) == 0) {
        out.resize(start);
        return false;
      }
    } else {
      ++pos;
    }
  }
  out.append(data + run, size - run);
  return true;
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

  replacedValues_ = 0;
  const TEncoding& encoding =
      owner_.encoding.empty() ? EncodingForCodePage(65001) : EncodingForName(owner_.encoding);
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
    AppendEscaped(
        out,
        owner_.encoding.empty() ? std::string("UTF-8") : XmlDeclarationEncoding(owner_.encoding),
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

// Open elements are the levels after the document's own.
void TXMLParser::Writer::RequireRoomForElement() const {
  if (levels_.size() > static_cast<size_t>(kMaxNestingDepth)) {
    throw EMorvexError(OutputTooDeepMessage("The XML output"));
  }
}

void TXMLParser::Writer::StartElement(sv localName, sv qName, const TXMLAttributes* attributes) {
  EnsureStarted();
  RequireRoomForElement();
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
      AppendEscaped(out, XmlSafe(attribute.Value), kAttribute);
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

std::string_view TXMLParser::Writer::XmlSafe(sv text) {
  if (IsXmlText(text)) return text;
  ++replacedValues_;
  safeText_ = ToXmlText(text);
  return safeText_;
}

void TXMLParser::Writer::Characters(sv chars) {
  if (chars.empty()) return;
  EnsureStarted();
  chars = XmlSafe(chars);
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

void TXMLParser::Writer::TextElement(sv name, sv text, bool cdata) {
  EnsureStarted();
  RequireRoomForElement();
  if (!pendingPrefixes_.empty() || inCData_) {
    StartElement(name, name, nullptr);
    if (cdata) StartCData();
    Characters(text);
    if (cdata) EndCData();
    EndElement(name, name);
    return;
  }
  CloseStartTag();
  Level& parent = levels_.back();
  if (owner_.indent && !parent.Mixed) NewLine(levels_.size() - 1);
  parent.Markup = true;
  // The same buffer all along: CDataText converts through the staged text
  // and leaves it empty.
  std::string& out = Out();
  if (cdata) {
    out += '<';
    out.append(name);
    out += "><![CDATA[";
    if (!text.empty()) {
      cdataBrackets_ = 0;
      CDataText(XmlSafe(text));
    }
    out += "]]></";
    out.append(name);
    out += '>';
  } else if (text.empty()) {
    out += '<';
    out.append(name);
    out += "/>";
  } else {
    out += '<';
    out.append(name);
    out += '>';
    if (owner_.disableOutputEscaping) {
      out.append(XmlSafe(text));
    } else if (!AppendXmlTextEscaped(out, text)) {
      AppendEscaped(out, XmlSafe(text), kText);
    }
    out += "</";
    out.append(name);
    out += '>';
  }
  lineStart_ = false;
  Spill();
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
  out.append(XmlSafe(chars));
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
