#include "xml/xpath.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>
#include <libxml/xpathInternals.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/xml/xml_endpoint_util.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/xml_document.h"
#include "xml/xml_errors.h"
#include "xml/xml_options.h"
#include "xml/xml_save.h"

namespace morvex {
namespace {

constexpr const char* kSource =
    "<r xmlns:n='urn:n' id='7'><i k='1'>one</i><i k='2'>two</i>"
    "<n:x>in ns</n:x><g><i k='3'>three</i></g></r>";

TEST(EvaluateXPathText, GivesTheXsltStringValue) {
  TXmlDocument document = LoadXmlText(kSource);
  struct Case {
    const char* expression;
    const char* expected;
  } cases[] = {
      {"i", "one"},  // context is the document element; first node wins
      {"//i[@k > 1]", "two"},
      {"nothing", ""},
      {"count(//i)", "3"},
      {"1 div 4", "0.25"},
      {"@id * 2", "14"},
      {"name()", "r"},
      {"string(1 = 1)", "true"},
      {"concat(\"it's\", ' \"x\"')", "it's \"x\""},
      {"q:x", "in ns"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EvaluateXPathText(document.get(), c.expression, "xmlns:q='urn:n'"), c.expected)
        << c.expression;
  }
  EXPECT_THROW(EvaluateXPathText(document.get(), "q:x", ""), EMorvexError);
  EXPECT_THROW(EvaluateXPathText(document.get(), "//i[", ""), EMorvexError);
}

TEST(EvaluateXPathText, StreamAndFileVariantsReportFailureInTheText) {
  TTempDir dir;
  std::string text;
  TMemoryStream stream{std::string(kSource)};
  stream.Seek(0, SeekOrigin::End);
  EXPECT_TRUE(testing::Evaluate(stream, "g/i", text, ""));
  EXPECT_EQ(text, "three");
  EXPECT_FALSE(testing::Evaluate(stream, "//i[", text, ""));
  EXPECT_NE(text.find("Invalid expression"), std::string::npos) << text;

  std::string path = dir.Write("s.xml", kSource);
  EXPECT_TRUE(testing::Evaluate(path, "string(//i[2]/@k)", text, ""));
  EXPECT_EQ(text, "2");
  EXPECT_FALSE(testing::Evaluate(dir.File("missing.xml"), "1", text, ""));
  EXPECT_NE(text.find("missing.xml"), std::string::npos) << text;
  TMemoryStream broken{std::string("<r>")};
  EXPECT_FALSE(testing::Evaluate(broken, "1", text, ""));
  EXPECT_NE(text.find("[line: 1"), std::string::npos) << text;
}

class SelectXmlTest : public ::testing::Test {
 protected:
  // Runs the stream-to-stream variant with the plain save; returns the body
  // after the declaration line.
  int Select(std::string_view expressions, std::string_view rootPath = "",
             std::string_view rootAttributes = "", std::string_view selectionNamespaces = "") {
    TMemoryStream source{std::string(kSource)};
    TMemoryStream destination;
    int count = testing::Select(source, destination, expressions, nullptr, rootAttributes,
                                selectionNamespaces, rootPath, message_);
    output_ = destination.Data();
    size_t declarationEnd = output_.find("?>\n");
    if (declarationEnd != std::string::npos) output_ = output_.substr(declarationEnd + 3);
    if (!output_.empty() && output_.back() == '\n') output_.pop_back();
    return count;
  }
  std::string output_, message_;
};

TEST_F(SelectXmlTest, OneExpressionPerLineWhateverTheLineEnds) {
  EXPECT_EQ(Select("//i[@k < 3]"), 2) << message_;
  EXPECT_EQ(output_, "<r><i k=\"1\">one</i><i k=\"2\">two</i></r>");
  EXPECT_EQ(message_, "");

  EXPECT_EQ(Select("//i[@k=3]\r\n//i[@k=1]\r\n"), 2) << message_;
  EXPECT_EQ(output_, "<r><i k=\"3\">three</i><i k=\"1\">one</i></r>");
  EXPECT_EQ(Select("//i[@k=3]\r\n//i[@k=1]\r"), 2) << message_;
  EXPECT_EQ(Select("//i[@k=3]\r\n//i[@k=1]\n//i[@k=2]"), 3) << message_;
  // A project's element text reaches the selection with LF line ends only
  // (XML parsers turn CR LF into LF), so LF separates expressions as well.
  EXPECT_EQ(Select("//i[@k=3]\n//i[@k=1]"), 2) << message_;
  EXPECT_EQ(output_, "<r><i k=\"3\">three</i><i k=\"1\">one</i></r>");
  EXPECT_EQ(Select("  //i[@k=2]\n  //g\n"), 2) << message_;
  EXPECT_EQ(Select("//i[@k=3]\r//i[@k=1]"), 2) << message_;
  // Each line must be a whole expression.
  EXPECT_EQ(Select("//i[@k=3]\n | //i[@k=1]"), -1);
  EXPECT_EQ(Select("count(//i)\ncount(//g)"), -1);
  // A blank line is an empty, invalid expression.
  EXPECT_EQ(Select("//i[@k=3]\r\n\r\n//i[@k=1]"), -1);
  EXPECT_FALSE(message_.empty());
  EXPECT_EQ(Select("//i[@k=3]\n\n//i[@k=1]"), -1);
  EXPECT_EQ(Select("count(//i)"), -1);
  EXPECT_EQ(Select("/"), -1);
}

// libxml2 prints some of its reasons itself; they must come back in the
// message, in this system's words, and nothing may reach standard error.
TEST_F(SelectXmlTest, LibraryReasonsBecomeTheMessage) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Select("f(//i)"), -1);
  const std::string selectMessage = message_;
  std::string text;
  TMemoryStream source{std::string(kSource)};
  EXPECT_FALSE(testing::Evaluate(source, "m:g(1)", text, "xmlns:m='urn:m'"));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(selectMessage, "unknown XPath function f in XPath expression \"f(//i)\"");
  EXPECT_EQ(text.rfind("unknown XPath function g; ", 0), 0u) << text;
  EXPECT_EQ(text.find("xmlXPathCompOpEval"), std::string::npos) << text;
}

// libxml2 holds at most 10,485,760 nodes in a node-set; beyond that it
// reports the limit and goes on with the nodes it has. The set here is full
// of empty slots, so that the limit is reached without a huge document.
TEST(NodeLimit, IsReportedAndTheIncompleteResultRefused) {
  constexpr int kFull = 10 * 1024 * 1024;
  xmlNodeSet* set = xmlXPathNodeSetCreate(nullptr);
  ASSERT_NE(set, nullptr);
  set->nodeTab = static_cast<xmlNode**>(calloc(kFull, sizeof(xmlNode*)));
  ASSERT_NE(set->nodeTab, nullptr);
  set->nodeNr = set->nodeMax = kFull;
  TXmlDocument document = LoadXmlText("<r/>");
  ::testing::internal::CaptureStderr();
  {
    detail::TErrorCapture errors;
    EXPECT_EQ(xmlXPathNodeSetAdd(set, xmlDocGetRootElement(document.get())), -1);
    EXPECT_TRUE(errors.NodeLimitHit());
    EXPECT_EQ(errors.Message(""), std::string("the XPath expression ") + detail::kNodeLimitReason);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  xmlXPathFreeNodeSet(set);
}

// The same through a whole selection: about 1.5 GB and a minute, so it runs
// only on request (--gtest_also_run_disabled_tests).
TEST(NodeLimit, DISABLED_SelectionOverTenMillionNodesFails) {
  std::string text = "<r>";
  for (int i = 0; i < 10500000; ++i) text += "<e/>";
  text += "</r>";
  TMemoryStream source(std::move(text));
  TMemoryStream destination;
  std::string message;
  EXPECT_EQ(testing::Select(source, destination, "//e", nullptr, "", "", "", message), -1);
  EXPECT_EQ(message, std::string("The XPath expression \"//e\" ") + detail::kNodeLimitReason);
  EXPECT_EQ(destination.Size(), 0);
}

TEST_F(SelectXmlTest, RootPathAndRootAttributesShapeTheOutput) {
  EXPECT_EQ(Select("//n:x", "a/b", "xmlns:n='urn:n' v='it''s'", "xmlns:n='urn:n'"), 1) << message_;
  // Nodes under b, attributes on a; the copied element reuses a's declaration.
  EXPECT_EQ(output_, "<a xmlns:n=\"urn:n\" v=\"it's\"><b><n:x>in ns</n:x></b></a>");

  EXPECT_EQ(Select("//g/i/@k | //g/i", "/out//list"), 2) << message_;
  EXPECT_EQ(output_, "<out><list k=\"3\"><i k=\"3\">three</i></list></out>");

  EXPECT_EQ(Select("//n:x", "", "", "xmlns:n='urn:other'"), 0) << message_;
  EXPECT_EQ(output_, "<r/>");
  EXPECT_EQ(Select("//i", "a/"), -1);
  EXPECT_EQ(Select("//i", "", "", "n='urn:n'"), -1);
}

TEST_F(SelectXmlTest, FileVariantsAndSavingWithOptions) {
  TTempDir dir;
  std::string source = dir.Write("in.xml", kSource);
  std::string destination = dir.Write("out.xml", "old content");
  TXmlOptions options = DefaultXmlOptions();
  options.Encoding = "utf-8";
  std::string message;
  const std::string expected =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><r><i k=\"1\">one</i></r>";

  EXPECT_EQ(testing::Select(source, destination, "(//i)[1]", &options, "", "", "", message), 1)
      << message;
  EXPECT_EQ(TTempDir::Read(destination), expected);
  TMemoryStream stream;
  EXPECT_EQ(testing::Select(source, stream, "(//i)[1]", &options, "", "", "", message), 1)
      << message;
  EXPECT_EQ(stream.Data(), expected);
  TMemoryStream in{std::string(kSource)};
  std::string second = dir.File("second.xml");
  EXPECT_EQ(testing::Select(in, second, "(//i)[1]", &options, "", "", "", message), 1) << message;
  EXPECT_EQ(TTempDir::Read(second), expected);

  // A failed selection leaves no new file behind.
  std::string third = dir.File("third.xml");
  EXPECT_EQ(testing::Select(source, third, "//i[", &options, "", "", "", message), -1);
  EXPECT_FALSE(std::filesystem::exists(third));
  EXPECT_EQ(testing::Select(dir.File("missing.xml"), stream, "//i", &options, "", "", "", message),
            -1);
  EXPECT_NE(message.find("missing.xml"), std::string::npos) << message;
}

TEST(CopySelectedNodes, DeepOrShallowClonesCountedBySelection) {
  TXmlDocument source = LoadXmlText(kSource);
  TXmlDocument target = LoadXmlText("<t/>");
  xmlNode* root = xmlDocGetRootElement(target.get());
  EXPECT_EQ(CopySelectedNodes(source.get(), root, "//i", false), 3);
  EXPECT_EQ(CopySelectedNodes(source.get(), root, "//none", true), 0);
  TMemoryStream out;
  SaveXmlToStream(target.get(), out, nullptr);
  EXPECT_NE(out.Data().find("<t><i k=\"1\"/><i k=\"2\"/><i k=\"3\"/></t>"), std::string::npos)
      << out.Data();
}

TEST(CreateElementPath, SkipsEmptySegmentsAndRefusesEmptyNames) {
  TXmlDocument document = CreateXmlDocument(nullptr, false);
  xmlNode* b = CreateElementPath(document.get(), "/a//b");
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(b->name), "b");
  EXPECT_STREQ(reinterpret_cast<const char*>(b->parent->name), "a");
  EXPECT_EQ(b->parent->parent, reinterpret_cast<xmlNode*>(document.get()));
  EXPECT_THROW(CreateElementPath(document.get(), "c"), EMorvexError);  // a second root
  EXPECT_THROW(CreateElementPath(CreateXmlDocument(nullptr, false).get(), "x/"), EMorvexError);
}

}  // namespace
}  // namespace morvex
