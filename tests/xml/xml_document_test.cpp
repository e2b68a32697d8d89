#include "xml/xml_document.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <string>

#include "tests/support/temp_dir.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/xml_options.h"
#include "xml/xml_save.h"

namespace morvex {
namespace {

std::string PlainText(const TXmlDocument& document) {
  TMemoryStream out;
  SaveXmlToStream(document.get(), out, nullptr);
  return out.Data();
}

std::string RootText(const TXmlDocument& document) {
  xmlChar* content = xmlNodeGetContent(xmlDocGetRootElement(document.get()));
  std::string text = reinterpret_cast<const char*>(content);
  xmlFree(content);
  return text;
}

TEST(LoadXml, ReportsWhereAndWhyAParseFailed) {
  struct Case {
    const char* xml;
    int line, column;
    const char* reason;
  } cases[] = {
      {"<a>\n  <b></a>", 2, 10, "Opening and ending tag mismatch: b line 2 and a"},
      {"<a x='1' x='2'/>", 1, 15, "Attribute x redefined"},
      {"<a>\n\n<b>&nope;</b></a>", 3, 10, "Entity 'nope' not defined"},
      {"<a><p:b/></a>", 1, 8, "Namespace prefix p on b is not defined"},
      {"", 1, 1, "Document is empty"},
      {"<?xml version='1.0'?>\n<!-- only a comment -->\n", 3, 1,
       "Start tag expected, '<' not found"},
      {"<r>\n<a>", 2, 4, "Premature end of data in tag a line 2"},
  };
  for (const Case& c : cases) {
    TXmlDocument document = LoadXmlText(c.xml);
    ASSERT_NE(document, nullptr);
    EXPECT_FALSE(HasDocumentElement(document.get())) << c.xml;
    TXMLDOMParseError error = GetParseError(document.get());
    EXPECT_NE(error.ErrorCode, 0) << c.xml;
    EXPECT_EQ(error.Line, c.line) << c.xml;
    EXPECT_EQ(error.LinePos, c.column) << c.xml;
    EXPECT_EQ(error.Reason, c.reason) << c.xml;
  }
  TXMLDOMParseError error = GetParseError(LoadXmlText("<r>\n<a>\xC3\xA9</b>\n</r>").get());
  EXPECT_EQ(error.SrcText, "<a>\xC3\xA9</b>");
  EXPECT_EQ(ParseErrorMessage(error),
            "[line: 2, col: 9] Opening and ending tag mismatch: a line 2 and b");
}

TEST(LoadXml, WellFormedDocumentsHaveNoError) {
  TXmlDocument document = LoadXmlText("<r a='1'><![CDATA[x]]></r>");
  EXPECT_TRUE(HasDocumentElement(document.get()));
  TXMLDOMParseError error = GetParseError(document.get());
  EXPECT_EQ(error.ErrorCode, 0);
  EXPECT_EQ(error.Line, 0);
  EXPECT_TRUE(error.Reason.empty());
  EXPECT_FALSE(HasDocumentElement(nullptr));
  EXPECT_EQ(GetParseError(nullptr).ErrorCode, 0);
}

TEST(LoadXml, DecodesEachInputByItsOwnRules) {
  // Text is already decoded: the declared encoding is ignored.
  TXmlDocument text = LoadXmlText("<?xml version='1.0' encoding='windows-1250'?><r>\xC5\xBE</r>");
  ASSERT_TRUE(HasDocumentElement(text.get()));
  EXPECT_EQ(RootText(text), "\xC5\xBE");

  // Bytes follow the declaration or the byte-order mark, from position 0.
  TMemoryStream latin2(std::string("<?xml version='1.0' encoding='ISO-8859-2'?><r>\xBE</r>"));
  latin2.Seek(0, SeekOrigin::End);
  TXmlDocument fromStream = LoadXmlStream(latin2);
  ASSERT_TRUE(HasDocumentElement(fromStream.get()));
  EXPECT_EQ(RootText(fromStream), "\xC5\xBE");

  TMemoryStream utf16(std::string("\xFF\xFE<\0r\0>\0\x7E\x01<\0/\0r\0>\0", 18));
  TXmlDocument wide = LoadXmlStream(utf16);
  ASSERT_TRUE(HasDocumentElement(wide.get()));
  EXPECT_EQ(RootText(wide), "\xC5\xBE");
}

TEST(LoadXml, FileThatCannotBeOpenedIsAParseFailure) {
  TTempDir dir;
  std::string path = dir.File("missing.xml");
  TXmlDocument document = LoadXmlFile(path);
  ASSERT_NE(document, nullptr);
  EXPECT_FALSE(HasDocumentElement(document.get()));
  TXMLDOMParseError error = GetParseError(document.get());
  EXPECT_NE(error.ErrorCode, 0);
  EXPECT_EQ(error.URL, path);
  EXPECT_NE(error.Reason.find(path), std::string::npos) << error.Reason;

  std::string good = dir.Write("good.xml", "<r>\n<x/>\n</r>");
  EXPECT_TRUE(HasDocumentElement(LoadXmlFile(good).get()));
  std::string bad = dir.Write("bad.xml", "<r>\n<x>\n</r>");
  TXMLDOMParseError badError = GetParseError(LoadXmlFile(bad).get());
  EXPECT_EQ(badError.URL, bad);
  EXPECT_EQ(ParseErrorMessage(badError).rfind(bad + ": [line: 3, col: ", 0), 0u)
      << ParseErrorMessage(badError);
}

// UTF-16 that breaks off in a lone surrogate, after enough text that libxml2
// is growing its input buffer when the conversion fails.
std::string BrokenUtf16() {
  std::string bytes("\xFF\xFE<\0a\0>\0", 8);
  for (int i = 0; i < 100; ++i) bytes += std::string("\x00\x4E", 2);
  return bytes + std::string("\x00\xD9\x00\x00", 4);
}

TEST(LoadXml, ConversionErrorsWhileTheInputGrowsAreParseErrors) {
  TTempDir dir;
  TMemoryStream stream(BrokenUtf16());
  const TXmlDocument documents[] = {LoadXmlStream(stream),
                                    LoadXmlFile(dir.Write("broken.morvex", BrokenUtf16()))};
  for (const TXmlDocument& document : documents) {
    EXPECT_FALSE(HasDocumentElement(document.get()));
    TXMLDOMParseError error = GetParseError(document.get());
    EXPECT_NE(error.ErrorCode, 0);
    EXPECT_FALSE(error.Reason.empty());
  }
}

std::string Nested(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<e>";
  for (int i = 0; i < depth; ++i) text += "</e>";
  return text;
}

TEST(LoadXml, LargeDocumentsReadBackAndDepthIsLimitedInOwnWords) {
  // Values over libxml2's default 10 MB limit: text, base64 in lines of 76
  // characters, CDATA, an attribute.
  const std::string big(11 * 1024 * 1024, 'x');
  std::string base64;
  while (base64.size() < big.size()) base64 += std::string(76, 'Q') + "\n";
  const std::pair<std::string, size_t> documents[] = {
      {"<r>" + big + "</r>", big.size()},
      {"<r><b type='binary'>" + base64 + "</b></r>", base64.size()},
      {"<r><![CDATA[" + big + "]]></r>", big.size()},
      {"<r a='" + big + "'>.</r>", 1}};
  for (const auto& [text, length] : documents) {
    TMemoryStream stream(text);
    TXmlDocument document = LoadXmlStream(stream);
    ASSERT_TRUE(HasDocumentElement(document.get())) << GetParseError(document.get()).Reason;
    EXPECT_EQ(RootText(document).size(), length);
  }

  EXPECT_TRUE(HasDocumentElement(LoadXmlText(Nested(2048)).get()));
  TXMLDOMParseError error = GetParseError(LoadXmlText(Nested(2049)).get());
  EXPECT_EQ(error.ErrorCode, kXmlErrorTooDeep);
  EXPECT_EQ(error.Reason, "the document nests deeper than 2048 levels");
  EXPECT_EQ(error.Line, 1);
  EXPECT_EQ(error.LinePos, 2049 * 3);
}

// A document that tries to pull a local file in: none of these may load it.
class HostileDocuments : public ::testing::Test {
 protected:
  void SetUp() override {
    secretPath_ = dir_.Write("secret.txt", "TOP-SECRET-42");
    dir_.Write("evil.dtd", "<!ENTITY x SYSTEM 'file://" + secretPath_ + "'>");
  }
  std::string Secret() const { return "TOP-SECRET-42"; }
  TTempDir dir_;
  std::string secretPath_;
};

TEST_F(HostileDocuments, DocumentsWithADtdAreRefused) {
  const std::string documents[] = {
      "<!DOCTYPE r [<!ENTITY x SYSTEM 'file://" + secretPath_ + "'>]><r>&x;</r>",
      "<!DOCTYPE r SYSTEM '" + dir_.File("evil.dtd") + "'><r>&x;</r>",
      "<!DOCTYPE r [<!ENTITY % p SYSTEM '" + dir_.File("evil.dtd") + "'> %p;]><r>&x;</r>",
      "<!DOCTYPE r [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;'>]><r>&b;</r>",
  };
  for (const std::string& xml : documents) {
    TXmlDocument document = LoadXmlText(xml);
    EXPECT_FALSE(HasDocumentElement(document.get())) << xml;
    TXMLDOMParseError error = GetParseError(document.get());
    EXPECT_EQ(error.ErrorCode, kXmlErrorDtdProhibited) << xml;
    EXPECT_NE(error.Reason.find("DTD is prohibited"), std::string::npos) << error.Reason;
    EXPECT_EQ(PlainText(document).find(Secret()), std::string::npos);

    TMemoryStream stream(xml);
    EXPECT_FALSE(HasDocumentElement(LoadXmlStream(stream).get()));
    EXPECT_FALSE(HasDocumentElement(LoadXmlFile(dir_.Write("hostile.xml", xml)).get()));
  }
}

TEST_F(HostileDocuments, XIncludeIsNeverProcessed) {
  TXmlDocument document =
      LoadXmlText("<r xmlns:xi='http://www.w3.org/2001/XInclude'><xi:include href='" + secretPath_ +
                  "' parse='text'/></r>");
  ASSERT_TRUE(HasDocumentElement(document.get()));
  EXPECT_EQ(PlainText(document).find(Secret()), std::string::npos);
}

TEST(CreateXmlDocument, KeepsTheDeclarationAndSelectionPrefixesOfItsOptions) {
  TXmlOptions options = DefaultXmlOptions();
  EXPECT_TRUE(options.Available);
  EXPECT_EQ(options.Version, 4);
  EXPECT_EQ(options.Encoding, "unicode");

  options.SelectionNamespaces = "xmlns:a='urn:a'  xmlns:b=\"urn:b\"";
  TXmlDocument document = CreateXmlDocument(&options, true);
  ASSERT_NE(document, nullptr);
  EXPECT_FALSE(HasDocumentElement(document.get()));
  EXPECT_EQ(XmlDeclarationData(document.get()), "version=\"1.0\" encoding=\"unicode\"");
  std::vector<TNamespaceBinding> expected = {{"a", "urn:a"}, {"b", "urn:b"}};
  EXPECT_EQ(SelectionNamespaces(document.get()), expected);

  EXPECT_EQ(XmlDeclarationData(CreateXmlDocument(nullptr, false).get()), "");
  options.Encoding.clear();
  EXPECT_EQ(XmlDeclarationData(CreateXmlDocument(&options, true).get()), "");

  // A record that was never probed keeps its own settings.
  TXmlOptions fresh;
  fresh.Encoding = "utf-8";
  EXPECT_EQ(XmlDeclarationData(CreateXmlDocument(&fresh, true).get()),
            "version=\"1.0\" encoding=\"utf-8\"");

  options.SelectionNamespaces = "a='urn:a'";
  EXPECT_EQ(CreateXmlDocument(&options, false), nullptr);
  // Version 1 (service 2.6) takes no selection prefixes, so the text is not even read.
  options.Version = 1;
  TXmlDocument oldService = CreateXmlDocument(&options, false);
  ASSERT_NE(oldService, nullptr);
  EXPECT_TRUE(SelectionNamespaces(oldService.get()).empty());
  options.Version = 0;
  EXPECT_EQ(CreateXmlDocument(&options, false), nullptr);
}

TEST(SelectionNamespaces, AcceptsOnlyNamespaceDeclarations) {
  EXPECT_TRUE(ParseSelectionNamespaces("").empty());
  EXPECT_EQ(ParseSelectionNamespaces("xmlns='urn:d' xmlns:p = 'urn:p'").size(), 2u);
  for (const char* bad :
       {"xmlns:p", "xmlns:p='urn", "xmlns:p='a'xmlns:q='b'", "p='x'", "xmlns:1='x'"}) {
    EXPECT_THROW(ParseSelectionNamespaces(bad), EMorvexError) << bad;
  }
  TXmlDocument loaded = LoadXmlText("<r/>");
  SetSelectionNamespaces(loaded.get(), "xmlns:q='urn:q'");
  EXPECT_EQ(SelectionNamespaces(loaded.get()).size(), 1u);
}

}  // namespace
}  // namespace morvex
