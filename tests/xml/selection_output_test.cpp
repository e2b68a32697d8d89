// The selection writes selected nodes without building an output tree (and
// streams the input when the expressions allow). Its bytes must equal those
// of the plain method: every selected node copied under the output root of a
// new document, which is then saved. That method is rebuilt here from the
// public pieces and both are run on generated documents.
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/xml/document_maker.h"
#include "tests/xml/xml_endpoint_util.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/streaming_select.h"
#include "xml/xml_document.h"
#include "xml/xml_options.h"
#include "xml/xml_save.h"
#include "xml/xpath.h"

namespace morvex {
namespace {

struct TSelectionRun {
  int Count = -1;
  std::string Bytes;
  std::string Message;
};

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The whole-tree method.
TSelectionRun CopyIntoTree(const std::string& source, const std::string& expressions,
                           const TXmlOptions* options, const std::string& rootAttributes,
                           const std::string& selectionNamespaces, const std::string& rootPath) {
  TSelectionRun run;
  try {
    TXmlDocument input = LoadXmlText(source);
    if (!HasDocumentElement(input.get())) {
      run.Message = ParseErrorMessage(GetParseError(input.get()));
      return run;
    }
    TXmlDocument output = CreateXmlDocument(options, true);
    std::string path = rootPath;
    if (path.empty()) {
      const xmlNode* root = xmlDocGetRootElement(input.get());
      path = reinterpret_cast<const char*>(root->name);
      if (root->ns && root->ns->prefix) {
        path = reinterpret_cast<const char*>(root->ns->prefix) + (":" + path);
      }
    }
    if (!selectionNamespaces.empty()) SetSelectionNamespaces(input.get(), selectionNamespaces);
    xmlNode* target = CreateElementPath(output.get(), path);
    SetAttributesFromText(xmlDocGetRootElement(output.get()), rootAttributes);
    int count = 0;
    for (const std::string& line : Lines(expressions)) {
      count += CopySelectedNodes(input.get(), target, line, true);
    }
    TMemoryStream bytes;
    SaveXmlToStream(output.get(), bytes, options);
    run.Count = count;
    run.Bytes = bytes.Data();
  } catch (const std::exception& e) {
    run.Message = e.what();
  }
  return run;
}

TSelectionRun Select(const std::string& source, const std::string& expressions,
                     const TXmlOptions* options, const std::string& rootAttributes,
                     const std::string& selectionNamespaces, const std::string& rootPath) {
  TSelectionRun run;
  TMemoryStream input{std::string(source)};
  TMemoryStream output;
  run.Count = testing::Select(input, output, expressions, options, rootAttributes,
                              selectionNamespaces, rootPath, run.Message);
  run.Bytes = output.Data();
  return run;
}

TEST(SelectionOutput, EqualsCopyingIntoATree) {
  const std::vector<std::string> expressions = {
      "//r",
      "/root/r",
      "//r[id mod 2 = 0]",
      "//p:r[@k='x']",
      "//p:r",
      "//*[id > 20]",
      "/root//r/r",
      "//r[name]",
      "//r[not(name)]",
      "//x[contains(name, 'a')]",
      "//r[@id]",
      "//q:*",
      "//r[1]",
      "//r[last()]",
      "//r/..",
      "//r/@id",
      "//comment()",
      "//text()",
      "//name | //id",
      "//r\n//x",
      "//r[id > 3]\n/root/r",
      "/p:root/r",
      "//d:r",
      "//r[count(r) > 0]",
      "//r[string-length(name) > 2 and @id != '3']",
      "//r[id = //x/id]",
  };
  TXmlOptions indented = DefaultXmlOptions();
  indented.Encoding = "utf-8";
  indented.Indent = true;
  TXmlOptions latin2 = DefaultXmlOptions();
  latin2.Encoding = "iso-8859-2";
  TXmlOptions utf16 = DefaultXmlOptions();
  utf16.Encoding = "unicode";
  const TXmlOptions* optionSets[] = {nullptr, &indented, &latin2, &utf16};
  const char* rootAttributes[] = {"", "xmlns:p='urn:p' v='1'", "xmlns='urn:d'"};
  const char* rootPaths[] = {"", "out", "a/b", "p:out"};
  const std::string selection = "xmlns:p='urn:p' xmlns:q='urn:q' xmlns:d='urn:d'";

  int streamed = 0;
  int selecting = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    const std::string source = testing::TDocumentMaker(seed).Make();
    for (size_t e = 0; e < expressions.size(); ++e) {
      const TXmlOptions* options = optionSets[(seed + e) % 4];
      const char* attributes = rootAttributes[(seed * 3 + e) % 3];
      const char* rootPath = rootPaths[(seed + e * 7) % 4];
      const TSelectionRun expected =
          CopyIntoTree(source, expressions[e], options, attributes, selection, rootPath);
      const TSelectionRun actual =
          Select(source, expressions[e], options, attributes, selection, rootPath);
      if (IsStreamableSelection(expressions[e], selection)) ++streamed;
      if (expected.Count > 0) ++selecting;
      ASSERT_EQ(actual.Count, expected.Count) << expressions[e] << "\n"
                                              << source << "\n"
                                              << actual.Message << expected.Message;
      ASSERT_EQ(actual.Bytes, expected.Bytes)
          << "seed " << seed << ": " << expressions[e] << " root " << rootPath << "\n"
          << source;
    }
  }
  EXPECT_GT(streamed, 300);
  EXPECT_GT(selecting, 400);
}

// What one pass over the input can select, and what it must leave to the
// whole document.
TEST(SelectionOutput, StreamsOnlyWhatOnePassCanSelect) {
  const std::string ns = "xmlns:p='urn:p'";
  for (const char* yes :
       {"//r", "/a/b/r", "//r[id mod 10 = 0]", "/a/b/r[@k='x']", "/root/r[name]", "//p:r",
        "/a//p:*", "//*", "//r[x[1] = 'a']", "//r[@k][name]", "//r[contains(name, \"]\")]", " //r ",
        "//r[not(@k) or count(x) > 1]", "//r\n//x", "//r[sum(x) = 1 and id]"}) {
    EXPECT_TRUE(IsStreamableSelection(yes, ns)) << yes;
  }
  for (const char* no : {"//r[1]",
                         "//r[last()]",
                         "//r[position() > 2]",
                         "//r[id]/..",
                         "//r/@k",
                         "//r/text()",
                         "//r | //x",
                         "//r[../x]",
                         "//r[ancestor::a]",
                         "//r[following-sibling::r]",
                         "//r[id = /a/max]",
                         "//q:r",
                         "//r[$v]",
                         "//r[id()]",
                         "//r[lang('en')]",
                         "//r[count(x)]",
                         "//r[id * 2]",
                         "//r[f(x)]",
                         "r",
                         "//r/self::r",
                         "//node()",
                         "(//r)",
                         "//r[",
                         "",
                         "//r[namespace::p]",
                         "//r[string(..)]"}) {
    EXPECT_FALSE(IsStreamableSelection(no, ns)) << no;
  }
  // Deep nesting is left to the document path, never a stack overflow
  // (found by the XML fuzz target).
  const std::string deep = "//r[" + std::string(100000, '(') + "1" + std::string(100000, ')') + "]";
  EXPECT_FALSE(IsStreamableSelection(deep, ns));
  EXPECT_TRUE(
      IsStreamableSelection("//r[" + std::string(30, '(') + "id" + std::string(30, ')') + "]", ns));
}

// A source that breaks after many records: what the one pass wrote is taken
// back, and the failure reads as the document path tells it.
TEST(SelectionOutput, FailureLateInTheInputTakesTheOutputBack) {
  std::string source = "<root>";
  for (int i = 0; i < 5000; ++i) source += "<r><id>" + std::to_string(i) + "</id></r>";
  source += "<r></root>";
  ASSERT_TRUE(IsStreamableSelection("//r[id > 2]", ""));
  const TSelectionRun document = Select(source, "//r[id > 2] | /none", nullptr, "", "", "");
  EXPECT_EQ(document.Count, -1);
  EXPECT_NE(document.Message.find("[line: 1"), std::string::npos) << document.Message;

  TMemoryStream input{std::string(source)};
  TMemoryStream output{std::string("kept")};
  output.Seek(0, SeekOrigin::End);
  std::string message;
  EXPECT_EQ(testing::Select(input, output, "//r[id > 2]", nullptr, "", "", "", message), -1);
  EXPECT_EQ(message, document.Message);
  EXPECT_EQ(output.Data(), "kept");

  TTempDir dir;
  const std::string path = dir.File("out.xml");
  EXPECT_EQ(testing::Select(input, path, "//r[id > 2]", nullptr, "", "", "", message), -1);
  EXPECT_EQ(message, document.Message);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace morvex
