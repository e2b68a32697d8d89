// count, sum and string of a path one pass can select are computed in that
// pass. Their text must be the one the whole document gives: both run on the
// one-pass selection's generated documents and on documents of numbers that
// show XPath's number texts.
#include "xml/streaming_value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/xml/document_maker.h"
#include "tests/xml/xml_endpoint_util.h"
#include "text/stream.h"
#include "xml/xml_document.h"
#include "xml/xpath.h"

namespace morvex {
namespace {

constexpr const char* kPrefixes = "xmlns:p='urn:p' xmlns:q='urn:q' xmlns:d='urn:d'";

// The text the whole document gives, or its failure's message.
std::string WholeDocumentText(const std::string& xml, const std::string& expression) {
  try {
    TXmlDocument document = LoadXmlText(xml);
    if (!HasDocumentElement(document.get())) return "failed";
    return EvaluateXPathText(document.get(), expression, kPrefixes);
  } catch (const std::exception& e) {
    return std::string("failed: ") + e.what();
  }
}

// The text from a source stream, as a run evaluates it.
std::string StreamText(const std::string& xml, const std::string& expression) {
  TMemoryStream source(xml);
  std::string text;
  if (!testing::Evaluate(source, expression, text, kPrefixes)) return "failed: " + text;
  return text;
}

TEST(XPathValueOnePass, EqualsTheWholeDocument) {
  const std::vector<std::string> paths = {
      "//r",           "/root/r",     "//r[id mod 2 = 0]",
      "//p:r[@k='x']", "//p:r",       "//*[id > 20]",
      "/root//r/r",    "//r[name]",   "//r[not(name)]",
      "//q:*",         "//d:r",       "/p:root/r",
      "//r/id",        "//name",      "//x/id",
      "//r[1]",        "//r[last()]", "//r/..",
      "//r/@id",       "//text()",
  };
  int onePass = 0;
  int nonEmpty = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    const std::string xml = testing::TDocumentMaker(seed).Make();
    for (const std::string& path : paths) {
      for (const char* function : {"count", "sum", "string"}) {
        const std::string expression = std::string(function) + "(" + path + ")";
        const std::string expected = WholeDocumentText(xml, expression);
        ASSERT_EQ(StreamText(xml, expression), expected) << expression << "\n" << xml;
        TMemoryStream source(xml);
        std::string text;
        if (EvaluateXPathTextInOnePass(source, expression, kPrefixes, text)) {
          ++onePass;
          ASSERT_EQ(text, expected) << expression << "\n" << xml;
        }
        if (!expected.empty() && expected != "0") ++nonEmpty;
      }
    }
  }
  EXPECT_GT(onePass, 1500);
  EXPECT_GT(nonEmpty, 1000);
}

// XPath's number texts: integers without a point, NaN for text that is no
// number, Infinity past the largest double, negative zero as 0, large and
// small values in full digits; string of the first node in document order,
// also when a later match sits higher up.
TEST(XPathValueOnePass, NumberAndStringTexts) {
  const std::string nines(400, '9');
  const struct {
    std::string Values;
    std::string Expression;
  } cases[] = {
      {"<v>1</v><v>2</v>", "count(//v)"},
      {"", "count(//v)"},
      {"<v>1</v><v>0.5</v>", "sum(//v)"},
      {"<v> 2 </v><v>\n3\t</v>", "sum(//v)"},
      {"<v>1</v><v>abc</v>", "sum(//v)"},
      {"<v>1e3</v>", "sum(//v)"},
      {"<v>" + nines + "</v>", "sum(//v)"},
      {"<v>-" + nines + "</v><v>" + nines + "</v>", "sum(//v)"},
      {"<v>-0</v>", "sum(//v)"},
      {"<v>-0.0</v><v>-0</v>", "sum(//v)"},
      {"<v>12345678901234567890</v>", "sum(//v)"},
      {"<v>0.1</v><v>0.2</v>", "sum(//v)"},
      {"<v>0.000001</v>", "sum(//v)"},
      {"<v>.5</v><v>5.</v><v>-</v>", "sum(//v)"},
      {"", "sum(//v)"},
      {"<v>first<v>inner</v></v><v>second</v>", "string(//v)"},
      {"<w><v>deep</v></w><v>shallow</v>", "string(//v)"},
      {"<v><a>1</a>x<![CDATA[<y>]]></v>", "string( //v )"},
      {"<v>a &amp; b</v>", "string(//v[contains(., '&')])"},
      {"", "string(//v)"},
  };
  for (const auto& [values, expression] : cases) {
    const std::string xml = "<root>" + values + "</root>";
    TMemoryStream source(xml);
    std::string text;
    ASSERT_TRUE(EvaluateXPathTextInOnePass(source, expression, "", text)) << expression;
    EXPECT_EQ(text, WholeDocumentText(xml, expression)) << values << " " << expression;
  }
}

// Only count, sum or string of one selectable path is taken; any other
// expression, and an input that fails, is the whole document's.
TEST(XPathValueOnePass, TakesOnlyItsOwnForm) {
  for (const char* yes : {"count(//r)", " count ( /a/b ) ", "sum(//r/y[. > 1])", "string(/a)",
                          "count(//p:r)", "string(//r[contains(n, ')')])"}) {
    EXPECT_TRUE(ParseStreamableValue(yes, "xmlns:p='urn:p'")) << yes;
  }
  for (const char* no :
       {"count(//r) + count(//x)", "count(//r) - 1", "string-length(//r)", "count(//r[1])",
        "count(//r/..)", "sum(//r/@k)", "string()", "count(//r, 1)", "count(//q:r)", "number(//r)",
        "//r", "count(r)", "concat(string(//r), 'x')", "count((//r))", "count(//r)[1]",
        "count(//r | //x)", "substring(//r, 1)"}) {
    EXPECT_FALSE(ParseStreamableValue(no, "xmlns:p='urn:p'")) << no;
  }
  for (const char* broken :
       {"<root><r>1</r>", "<root><r>&x;</r></root>", "<!DOCTYPE root><root/>", ""}) {
    TMemoryStream source(broken);
    std::string text;
    EXPECT_FALSE(EvaluateXPathTextInOnePass(source, "count(//r)", "", text)) << broken;
    std::string message;
    TMemoryStream again(broken);
    EXPECT_FALSE(testing::Evaluate(again, "count(//r)", message, "")) << broken;
    TMemoryStream whole(broken);
    std::string wholeMessage;
    EXPECT_FALSE(testing::Evaluate(whole, "count(1)", wholeMessage, ""));
    EXPECT_EQ(message, wholeMessage) << broken;
  }
}

// A source file is read in one pass too, from its start; a stream is read
// from position 0 whatever its position.
TEST(XPathValueOnePass, FileAndStreamSources) {
  TTempDir dir;
  const std::string path = dir.File("in.xml");
  const std::string xml = "<root><r>1.5</r><r>2</r></root>";
  {
    TFileStream file(path, TFileStream::Mode::Create);
    file.Write(std::string_view(xml));
  }
  std::string text;
  ASSERT_TRUE(testing::Evaluate(path, "sum(//r)", text, ""));
  EXPECT_EQ(text, "3.5");
  TMemoryStream source(xml);
  source.SetPosition(10);
  ASSERT_TRUE(testing::Evaluate(source, "count(//r)", text, ""));
  EXPECT_EQ(text, "2");
  EXPECT_FALSE(testing::Evaluate(dir.File("missing.xml"), "count(//r)", text, ""));
  EXPECT_FALSE(text.empty());
}

}  // namespace
}  // namespace morvex
