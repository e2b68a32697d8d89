#include "xml/xml_writer.h"

#include <gtest/gtest.h>

#include <string>

#include <libxml/tree.h>
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"

#include "xml/dom.h"
#include "xml/xml_document.h"
#include "xml/xml_options.h"
#include "xml/xml_types.h"

namespace morvex {
namespace {

const std::string kUtf8Bom = "\xEF\xBB\xBF";
const std::string kUtf8Declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

TXmlOptions OptionsWithEncoding(const std::string& encoding) {
  TXmlOptions options = DefaultXmlOptions();
  options.Encoding = encoding;
  options.Indent = false;
  return options;
}

// The bytes of a UTF-8 document whose root "root" holds what `body` writes.
template <typename Body>
std::string WriteUtf8Document(Body body) {
  TMemoryStream out;
  const TXmlOptions options = OptionsWithEncoding("utf-8");
  auto writer = BeginXmlWriter(out, &options, nullptr, "root");
  body(*writer);
  EndXmlWriter(std::move(writer), "root");
  return out.Data();
}

std::string Utf8Document(const std::string& rootContent) {
  return kUtf8Bom + kUtf8Declaration + "<root>" + rootContent + "</root>";
}

TEST(XmlWriter, Utf8DocumentHasOneBomAndTheDeclaration) {
  const std::string bytes = WriteUtf8Document([](TXmlStreamWriter& w) {
    WriteStartTag(w, "r");
    WriteXmlField(w, "id", xtInteger, false, false, "7", false);
    WriteXmlField(w, "name", xtString, false, false, "Praha \xC4\x8D", false);
    WriteEndTag(w, "r");
  });
  EXPECT_EQ(bytes, Utf8Document("<r><id>7</id><name>Praha \xC4\x8D</name></r>"));
}

TEST(XmlWriter, EncodingNameDecidesPreambleAndBytes) {
  // "unicode" is UTF-16LE with FF FE; the declaration names it as given.
  TMemoryStream out;
  const TXmlOptions unicode = OptionsWithEncoding("unicode");
  auto writer = BeginXmlWriter(out, &unicode, nullptr, "root");
  WriteXmlField(*writer, "a", xtString, false, false, "\xE2\x82\xAC", false);
  EndXmlWriter(std::move(writer), "root");
  EXPECT_EQ(out.Data(),
            "\xFF\xFE" + Utf8ToUtf16LeBytes("<?xml version=\"1.0\" encoding=\"unicode\"?>"
                                            "<root><a>\xE2\x82\xAC</a></root>"));

  // A code page without a byte-order mark: none is written.
  TMemoryStream cp;
  const TXmlOptions cp1250 = OptionsWithEncoding("windows-1250");
  writer = BeginXmlWriter(cp, &cp1250, nullptr, "root");
  WriteXmlField(*writer, "a", xtString, false, false, "\xC4\x8D", false);  // U+010D is E8 there
  EndXmlWriter(std::move(writer), "root");
  EXPECT_EQ(cp.Data(), "<?xml version=\"1.0\" encoding=\"windows-1250\"?><root><a>\xE8</a></root>");

  // An empty encoding takes the system's charset name, "utf-8".
  TMemoryStream dflt;
  const TXmlOptions empty = OptionsWithEncoding("");
  writer = BeginXmlWriter(dflt, &empty, nullptr, "root");
  EndXmlWriter(std::move(writer), "root");
  EXPECT_EQ(dflt.Data(), kUtf8Bom + kUtf8Declaration + "<root/>");
}

// A document written in a code-page encoding declares the table's charset
// name; the loader must know that name to read the document back.
TEST(XmlWriter, DocumentsLoadBackWhateverCharsetNameTheyDeclare) {
  for (const char* encoding : {"unicode", "unicodeFFFE", "utf-8", "windows-1250", "iso-8859-2",
                               "x-mac-ce", "ibm852", "koi8-r", "ks_c_5601-1987", "Windows-1252"}) {
    TMemoryStream out;
    const TXmlOptions options = OptionsWithEncoding(encoding);
    auto writer = BeginXmlWriter(out, &options, nullptr, "root");
    WriteXmlField(*writer, "a", xtString, false, false, "abc", false);
    EndXmlWriter(std::move(writer), "root");
    const TXmlDocument document = LoadXmlStream(out);
    ASSERT_TRUE(HasDocumentElement(document.get()))
        << encoding << ": " << GetParseError(document.get()).Reason;
    EXPECT_EQ(SelectSingleText(xmlDocGetRootElement(document.get()), "a", "?"), "abc") << encoding;
  }
}

// Whatever name the step gives, in any letter case, the bytes are in the
// encoding the declaration names, behind that encoding's mark, and the
// document reads back with the same text.
TEST(XmlWriter, TheDeclarationAlwaysNamesTheEncodingOfTheBytes) {
  struct Case {
    const char* name;
    const char* declared;
    std::string mark;
  } cases[] = {
      {"utf-16", "utf-16", "\xFF\xFE"},
      {"UTF-16", "UTF-16", "\xFF\xFE"},
      {"utf-16le", "utf-16le", ""},
      {"utf-16be", "utf-16be", ""},
      {"utf-32", "utf-32", std::string("\xFF\xFE\0\0", 4)},
      {"latin1", "latin1", ""},
      {"cp1250", "cp1250", ""},
      {"iso8859-2", "iso8859-2", ""},
      {"WINDOWS-1252", "WINDOWS-1252", ""},
      {"windows-1252", "windows-1252", ""},
      {"UTF-8", "UTF-8", kUtf8Bom},
      {"utf8", "utf8", ""},
      {"ansi", "UTF-8", ""},
      {"OEM", "UTF-8", ""},
      {"dos", "UTF-8", ""},
      {"ascii ANSI", "UTF-8", ""},
  };
  const std::string value = "caf\xC3\xA9";  // é: in every one of these encodings
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream out;
    const TXmlOptions options = OptionsWithEncoding(c.name);
    auto writer = BeginXmlWriter(out, &options, nullptr, "root");
    WriteXmlField(*writer, "a", xtString, false, false, value, false);
    EndXmlWriter(std::move(writer), "root");
    const TEncoding& encoding = EncodingForName(c.name);
    EXPECT_EQ(out.Data(), c.mark + encoding.GetBytes("<?xml version=\"1.0\" encoding=\"" +
                                                     std::string(c.declared) + "\"?><root><a>" +
                                                     value + "</a></root>"));
    // libxml2 (2.9) reads no UTF-32 document at all; the bytes are checked above.
    if (std::string_view(c.name) == "utf-32") continue;
    const TXmlDocument document = LoadXmlStream(out);
    ASSERT_TRUE(HasDocumentElement(document.get())) << GetParseError(document.get()).Reason;
    EXPECT_EQ(SelectSingleText(xmlDocGetRootElement(document.get()), "a", "?"), value);
  }
  // The bytes themselves, for the names that were written as UTF-8 before.
  TMemoryStream latin;
  const TXmlOptions options = OptionsWithEncoding("Windows-1252");
  auto writer = BeginXmlWriter(latin, &options, nullptr, "r");
  WriteCharacters(writer->Parser(), "\xC3\xA9\xE2\x82\xAC");
  EndXmlWriter(std::move(writer), "r");
  EXPECT_EQ(latin.Data(), "<?xml version=\"1.0\" encoding=\"Windows-1252\"?><r>\xE9\x80</r>");
}

TEST(XmlWriter, AnEncodingNobodyKnowsFailsBeforeAnythingIsWritten) {
  TMemoryStream out;
  const TXmlOptions options = OptionsWithEncoding("no-such-charset");
  try {
    BeginXmlWriter(out, &options, nullptr, "root");
    ADD_FAILURE() << "no error";
  } catch (const EMorvexError& e) {
    EXPECT_STREQ(e.what(), "Unknown encoding \"no-such-charset\"");
  }
  EXPECT_EQ(out.Data(), "");
}

TEST(XmlWriter, WithoutOptionsTheDefaultsApply) {
  TMemoryStream out;
  auto writer = BeginXmlWriter(out, nullptr, nullptr, "root");
  EndXmlWriter(std::move(writer), "root");
  const std::string& enc = DefaultXmlOptions().Encoding;
  ASSERT_EQ(enc, "unicode");
  EXPECT_EQ(out.Data(),
            "\xFF\xFE" + Utf8ToUtf16LeBytes("<?xml version=\"1.0\" encoding=\"unicode\"?><root/>"));
}

TEST(XmlWriter, WritesAtTheStreamPositionAndRootAttributes) {
  TMemoryStream out(std::string("head"));
  out.Seek(0, SeekOrigin::End);
  TXMLAttributes attributes;
  attributes.AddAttribute("", "", "xmlns:x", "", "urn:x");
  attributes.AddAttribute("", "", "note", "", "a\"b<c&d");
  const TXmlOptions options = OptionsWithEncoding("utf-8");
  auto writer = BeginXmlWriter(out, &options, &attributes, "x:data");
  EndXmlWriter(std::move(writer), "x:data");
  EXPECT_EQ(out.Data(), "head" + kUtf8Bom + kUtf8Declaration +
                            "<x:data xmlns:x=\"urn:x\" note=\"a&quot;b&lt;c&amp;d\"/>");
}

TEST(XmlWriter, FieldContentFollowsTheType) {
  struct Case {
    int type;
    const char* value;
    const char* expected;
  } cases[] = {
      {xtString, "a<b>&c", "<f>a&lt;b&gt;&amp;c</f>"},
      {xtInteger, "42", "<f>42</f>"},
      {xtBoolean, "True", "<f>True</f>"},
      {xtFloat, "1.50", "<f>1.5</f>"},
      {xtFloat, "abc", "<f>0</f>"},
      {xtFloat, "1e20", "<f>1E20</f>"},
      {xtDate, "2013-05-01 00:00:00", "<f>2013-05-01</f>"},
      {xtDateTime, "2013-05-01 14:30:00", "<f>2013-05-01T14:30:00</f>"},
      {xtTime, "12:30:00", "<f>12:30:00</f>"},
      {xtDate, "1899-12-30", "<f/>"},  // the zero date-time is empty text
      {xtDate, "2013-13-01", "<f/>"},
      {xtText, "a<b", "<f><![CDATA[a<b]]></f>"},
      {xtText, "", "<f><![CDATA[]]></f>"},
      {xtText, "x]]>y]]>", "<f><![CDATA[x]]]]><![CDATA[>y]]]]><![CDATA[>]]></f>"},
      {xtBinary, "AB", "<f><![CDATA[AB]]></f>"},
      {99, "<", "<f>&lt;</f>"},
  };
  for (const auto& c : cases) {
    const std::string bytes = WriteUtf8Document(
        [&](TXmlStreamWriter& w) { WriteXmlField(w, "f", c.type, false, false, c.value, false); });
    EXPECT_EQ(bytes, Utf8Document(c.expected)) << c.type << " " << c.value;
  }
}

TEST(XmlWriter, BinaryFieldAsBase64OfItsText) {
  const std::string bytes = WriteUtf8Document([](TXmlStreamWriter& w) {
    WriteXmlField(w, "b", xtBinary, false, true, "AB", false);
    WriteXmlField(w, "long", xtBinary, false, true, std::string(57, 'a'), false);
  });
  // 57 code units of "a" are 114 bytes: two full lines of base64.
  std::string first, second;
  for (int i = 0; i < 19; ++i) {
    first += i % 2 == 0 ? "YQBh" : "AGEA";
    second += i % 2 == 0 ? "AGEA" : "YQBh";
  }
  EXPECT_EQ(bytes, Utf8Document("<b><![CDATA[QQBCAA==]]></b><long><![CDATA[" + first + "\r\n" +
                                second + "]]></long>"));
}

TEST(XmlWriter, TypeAttributesAndNullFields) {
  const std::string bytes = WriteUtf8Document([](TXmlStreamWriter& w) {
    WriteXmlField(w, "f", xtInteger, true, false, "5", true);
    WriteXmlField(w, "g", xtInteger, true, false, "5", false);
    WriteXmlField(w, "h", xtText, true, false, "t", false);
    WriteXmlField(w, "n", xtString, false, false, "ignored", true);
    WriteXmlField(w, "", xtString, true, false, "nothing at all", false);
  });
  EXPECT_EQ(bytes, Utf8Document("<f type=\"integer\" isNull=\"1\"/>"
                                "<g type=\"integer\">5</g>"
                                "<h type=\"text\"><![CDATA[t]]></h>"
                                "<n/>"));
}

TEST(XmlWriter, IndentedOutputReadsBackWithTheSameContent) {
  TMemoryStream out;
  TXmlOptions options = OptionsWithEncoding("utf-8");
  options.Indent = true;
  auto writer = BeginXmlWriter(out, &options, nullptr, "root");
  WriteStartTag(*writer, "r");
  WriteXmlField(*writer, "s", xtString, false, false, " a < b ", false);
  WriteXmlField(*writer, "t", xtText, true, false, "x]]>y", false);
  WriteXmlField(*writer, "f", xtFloat, false, false, "2.50", false);
  WriteXmlField(*writer, "n", xtInteger, true, false, "", true);
  WriteEndTag(*writer, "r");
  EndXmlWriter(std::move(writer), "root");

  // Every element with its attributes and its text, whitespace-only text
  // between tags left out.
  std::string seen, text;
  TXMLParser reader;
  reader.OnStartElement = [&](auto, auto, std::string_view qName, const TXMLAttributes& attrs) {
    seen += "<" + std::string(qName);
    for (int i = 0; i < attrs.Length(); ++i) seen += " " + attrs.QName(i) + "=" + attrs.Value(i);
    seen += ">";
    text.clear();
  };
  reader.OnCharacters = [&](std::string_view chars) { text += chars; };
  reader.OnEndElement = [&](auto, auto, std::string_view qName) {
    if (text.find_first_not_of(" \t\r\n") != std::string::npos) seen += "[" + text + "]";
    text.clear();
    seen += "</" + std::string(qName) + ">";
  };
  out.SetPosition(3);  // after the byte-order mark
  reader.Parse(out);
  EXPECT_EQ(seen,
            "<root><r><s>[ a < b ]</s><t type=text>[x]]>y]</t><f>[2.5]</f>"
            "<n type=integer isNull=1></n></r></root>");
}

// A field element written in one call is what the separate calls write,
// byte for byte, in every encoding and layout: escapes, CDATA sections split
// around "]]>", U+FFFD for what XML cannot hold, "&#N;" for what the code
// page cannot hold, indentation, and an element that opens after text.
TEST(XmlWriter, OneCallTextElementsWriteWhatSeparateCallsWrite) {
  const std::string texts[] = {"",
                               "plain",
                               "a<b&c>\r\n\t\"'",
                               "]]>",
                               "x]]",
                               ">y",
                               "]]]>>",
                               "bad \xFF byte",
                               "ctl \x01",
                               "\xE2\x82\xAC and \xE6\x97\xA5",
                               "caf\xC3\xA9  ",
                               "sixteen letters&more than eight<bytes>\r\n\tand tabs \x7F",
                               "eight ok\xEF\xBF\xBE",
                               "eight ok\xEF\xBF\xBDok \xF0\x9F\x98\x80"};
  for (const char* encoding : {"utf-8", "iso-8859-1", "utf-16", "us-ascii"}) {
    for (bool indent : {false, true}) {
      TXmlOptions options = OptionsWithEncoding(encoding);
      options.Indent = indent;
      auto write = [&](bool oneCall, size_t& replaced) {
        TMemoryStream out;
        auto writer = BeginXmlWriter(out, &options, nullptr, "root");
        WriteStartTag(*writer, "r");
        for (const std::string& text : texts) {
          for (bool cdata : {false, true}) {
            if (oneCall) {
              WriteTextElement(*writer, "f", text, cdata);
            } else {
              WriteStartTag(*writer, "f");
              if (cdata) {
                WriteCDataText(*writer, text);
              } else {
                WriteCharacters(writer->Parser(), text);
              }
              WriteEndTag(*writer, "f");
            }
          }
        }
        WriteEndTag(*writer, "r");
        // After character data the parent is mixed: no indentation.
        WriteStartTag(*writer, "m");
        WriteCharacters(writer->Parser(), "text");
        if (oneCall) {
          WriteTextElement(*writer, "f", "x", false);
        } else {
          WriteStartTag(*writer, "f");
          WriteCharacters(writer->Parser(), "x");
          WriteEndTag(*writer, "f");
        }
        WriteEndTag(*writer, "m");
        replaced = ReplacedValueCount(*writer);
        EndXmlWriter(std::move(writer), "root");
        return out.Data();
      };
      size_t separateReplaced = 0, oneCallReplaced = 0;
      const std::string separate = write(false, separateReplaced);
      EXPECT_EQ(write(true, oneCallReplaced), separate) << encoding << " indent " << indent;
      EXPECT_EQ(oneCallReplaced, separateReplaced);
      EXPECT_EQ(separateReplaced, 6u);
    }
  }
}

}  // namespace
}  // namespace morvex
