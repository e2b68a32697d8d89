#include "xml/dom.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <string>

#include "text/error.h"
#include "text/stream.h"
#include "xml/sax_parser.h"
#include "xml/xml_document.h"
#include "xml/xml_save.h"

namespace morvex {
namespace {

std::string Saved(const TXmlDocument& document) {
  TMemoryStream out;
  SaveXmlToStream(document.get(), out, nullptr);
  std::string text = out.Data();
  text = text.substr(text.find("?>\n") + 3);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

class DomTest : public ::testing::Test {
 protected:
  xmlNode* Root() { return xmlDocGetRootElement(document_.get()); }
  TXmlDocument document_ = LoadXmlText(
      "<r xmlns:p='urn:p' n='42' h='$1F' x='0x10' big='4294967296' neg=' -7' bad='7 ' "
      "t='true' T='TRUE' y='yes' Y='Yes' z='0' p:q='nsv'>"
      "<a>one<b>two</b></a><c><![CDATA[first]]>text<![CDATA[second]]></c><e/></r>");
};

TEST_F(DomTest, AttributesGiveDefaultsWhenMissingOrUnreadable) {
  EXPECT_EQ(GetAttributeText(Root(), "n"), "42");
  EXPECT_EQ(GetAttributeText(Root(), "p:q"), "nsv");
  EXPECT_EQ(GetAttributeText(Root(), "q"), "");  // the qualified name is what counts
  EXPECT_EQ(GetAttributeText(Root(), "xmlns:p"), "urn:p");
  EXPECT_EQ(GetAttributeText(Root(), "missing"), "");
  EXPECT_EQ(GetAttributeText(Root()->children->children, "n"), "");  // a text node
  EXPECT_EQ(GetAttributeText(nullptr, "n"), "");

  struct IntCase {
    const char* name;
    int expected;
  } ints[] = {{"n", 42},   {"h", 31},   {"x", 16}, {"neg", -7},
              {"big", -1}, {"bad", -1}, {"t", -1}, {"missing", -1}};
  for (const IntCase& c : ints)
    EXPECT_EQ(GetAttributeInt(Root(), c.name, -1), c.expected) << c.name;

  struct BoolCase {
    const char* name;
    bool fallback, expected;
  } bools[] = {{"t", false, true},      {"y", false, true}, {"z", true, false},
               {"T", false, false},     {"T", true, true},  {"Y", false, false},
               {"missing", true, true}, {"n", false, false}};
  for (const BoolCase& c : bools) {
    EXPECT_EQ(GetAttributeBool(Root(), c.name, c.fallback), c.expected)
        << c.name << " " << c.fallback;
  }
}

TEST_F(DomTest, SelectionsAndCData) {
  xmlNode* a = SelectSingleElement(Root(), "a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(SelectSingleElement(Root(), "a/text()"), nullptr);
  EXPECT_EQ(SelectSingleElement(Root(), "none"), nullptr);
  EXPECT_EQ(SelectSingleElement(nullptr, "a"), nullptr);
  EXPECT_THROW(SelectSingleElement(Root(), "a["), EMorvexError);
  EXPECT_EQ(SelectSingleText(Root(), "a", "dflt"), "onetwo");
  EXPECT_EQ(SelectSingleText(Root(), "none", "dflt"), "dflt");

  xmlNode* c = SelectSingleElement(Root(), "c");
  EXPECT_EQ(GetCDataText(c), "first");
  EXPECT_EQ(GetCDataText(c, 2), "second");
  EXPECT_EQ(GetCDataText(c, 3), "");
  SetCDataText(c, "changed", false);
  EXPECT_EQ(GetCDataText(c), "changed");
  SetCDataText(c, "", true);
  EXPECT_EQ(GetCDataText(c), "second");

  xmlNode* e = SelectSingleElement(Root(), "e");
  SetCDataText(e, "ignored", true);
  EXPECT_EQ(e->children, nullptr);
  SetCDataText(e, "a]]b", false);
  EXPECT_EQ(GetCDataText(e), "a]]b");
}

TEST(AddTextElement, AppendsToParentOrDocumentWithPlainText) {
  TXmlDocument document = CreateXmlDocument(nullptr, false);
  xmlNode* root = AddTextElement(document.get(), "root", nullptr, "");
  AddTextElement(document.get(), "v", root, "a < b & \"c\"");
  EXPECT_EQ(Saved(document), "<root><v>a &lt; b &amp; \"c\"</v></root>");
  EXPECT_THROW(AddTextElement(document.get(), "second", nullptr, "x"), EMorvexError);
  EXPECT_THROW(AddTextElement(document.get(), "bad name", root, "x"), EMorvexError);
}

TEST(AttributeText, SplitsAtSingleSpacesAndUnquotes) {
  EXPECT_EQ(QuoteAttributeText("a='1' b='2'"), "a=\"1\" b=\"2\"");
  EXPECT_EQ(QuoteAttributeText("a='it''s' b=plain  c='' d"),
            "a=\"it's\" b=\"plain\" c=\"\" d=\"\"");
  EXPECT_EQ(QuoteAttributeText("\"a=x y\" b='p q'"), "a=\"x y\" b=\"'p\" q'=\"\"");
  EXPECT_EQ(QuoteAttributeText("t=\"x y\" u='1=2'"), "t=\"\"x y\"\" u=\"1=2\"");
  EXPECT_EQ(QuoteAttributeText(""), "");

  EXPECT_EQ(AttributesFromText(""), nullptr);
  std::unique_ptr<TXMLAttributes> list = AttributesFromText("xmlns:p='urn:p' v='1'");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->Length(), 2);
  EXPECT_EQ(list->QName(0), "xmlns:p");
  EXPECT_EQ(list->Value(0), "urn:p");
  EXPECT_EQ(list->URI(1), " ");
  EXPECT_EQ(list->LocalName(1), " ");

  TXmlDocument document = LoadXmlText("<r/>");
  xmlNode* root = xmlDocGetRootElement(document.get());
  SetAttributesFromText(root, "");
  SetAttributesFromText(nullptr, "a='1'");
  SetAttributesFromText(root, "xmlns:p='urn:p' p:a='1' b='x&amp;y' xmlns='urn:d'");
  EXPECT_EQ(Saved(document), "<r xmlns:p=\"urn:p\" xmlns=\"urn:d\" p:a=\"1\" b=\"x&amp;amp;y\"/>");
  EXPECT_THROW(SetAttributesFromText(root, "=x"), EMorvexError);
  EXPECT_THROW(SetAttributesFromText(root, "1a='x'"), EMorvexError);
}

}  // namespace
}  // namespace morvex
