// The project schema (docs/morvex.xsd) against every project the tree holds:
// each example and end-to-end project validates, except the projects that
// are broken on purpose, and the mistakes a user makes are flagged.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/transform_kinds.h"
#include "scripting/script_engine.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

// Projects that must not validate: their cases test how a run reports them.
const std::set<std::string> kBrokenOnPurpose{
    "tests/e2e/unparsable-project/project.morvex",           // not well-formed
    "tests/e2e/unparsable-project-encoding/project.morvex",  // broken UTF-16
    "tests/e2e/error-no-source/project.morvex",              // source kind "ftp"
    "tests/e2e/check-misspelt-element/project.morvex",       // <destinaton>
    "examples/manual/params/misspelt.morvex",                // <destinaton>
    "examples/manual/errors/broken.morvex",                  // not well-formed
};

struct SchemaDeleter {
  void operator()(xmlSchema* schema) const { xmlSchemaFree(schema); }
  void operator()(xmlSchemaParserCtxt* context) const { xmlSchemaFreeParserCtxt(context); }
  void operator()(xmlSchemaValidCtxt* context) const { xmlSchemaFreeValidCtxt(context); }
  void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
template <typename T>
using Owned = std::unique_ptr<T, SchemaDeleter>;

// Collects the validator's messages instead of printing them.
void CollectMessage(void* context, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char buffer[1024];
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  static_cast<std::string*>(context)->append(buffer);
}

class ProjectSchemaTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // From memory: the program's own loaders, which other tests of this
    // process install, refuse to read files for the parser.
    static const std::string text = FileText(fs::path(MORVEX_SOURCE_DIR) / "docs/morvex.xsd");
    Owned<xmlSchemaParserCtxt> parser(
        xmlSchemaNewMemParserCtxt(text.data(), static_cast<int>(text.size())));
    ASSERT_TRUE(parser);
    schema_ = xmlSchemaParse(parser.get());
    ASSERT_NE(schema_, nullptr) << "the schema does not parse";
  }
  static void TearDownTestSuite() {
    xmlSchemaFree(schema_);
    schema_ = nullptr;
  }

  // Empty when the document validates, else the parse or validity messages.
  static std::string Problems(const std::string& text) {
    std::string messages;
    Owned<xmlDoc> document(xmlReadMemory(text.data(), static_cast<int>(text.size()), "project",
                                         nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR));
    if (!document) return "not well-formed";
    Owned<xmlSchemaValidCtxt> validator(xmlSchemaNewValidCtxt(schema_));
    xmlSchemaSetValidErrors(validator.get(), CollectMessage, CollectMessage, &messages);
    const int result = xmlSchemaValidateDoc(validator.get(), document.get());
    if (result != 0 && messages.empty()) messages = "invalid (" + std::to_string(result) + ")";
    return messages;
  }

  static std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static xmlSchema* schema_;
};

xmlSchema* ProjectSchemaTest::schema_ = nullptr;

TEST_F(ProjectSchemaTest, EveryProjectInTheTreeValidates) {
  const fs::path root = MORVEX_SOURCE_DIR;
  std::vector<std::string> projects;
  for (const char* folder : {"examples", "tests/e2e"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      if (entry.is_regular_file() && entry.path().extension() == ".morvex") {
        projects.push_back(fs::relative(entry.path(), root).string());
      }
    }
  }
  std::sort(projects.begin(), projects.end());
  ASSERT_GT(projects.size(), 20u);
  for (const std::string& project : projects) {
    const std::string problems = Problems(FileText(root / project));
    if (kBrokenOnPurpose.count(project)) {
      EXPECT_NE(problems, "") << project << " is listed as broken but validates";
    } else {
      EXPECT_EQ(problems, "") << project;
    }
  }
  for (const std::string& listed : kBrokenOnPurpose) {
    EXPECT_TRUE(std::count(projects.begin(), projects.end(), listed)) << listed << " is gone";
  }
}

TEST_F(ProjectSchemaTest, WhatTheProgramAcceptsValidates) {
  // Steps in any order, repeated steps, kinds in any letter case, empty
  // kinds, free-form inline templates, free parameter declarations, CDATA
  // content and schema-instance attributes.
  EXPECT_EQ(Problems(R"(<?xml version="1.0"?>
<morvex name="n" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
        xsi:noNamespaceSchemaLocation="morvex.xsd">
  <script name="a" test=":n &gt; 1">
    <destination kind="FILE">out.xml</destination>
    <transform kind="xslt" indent="yes"><![CDATA[<xsl:stylesheet/>]]></transform>
    <lsql kind="Inline" cmd-id="rows" one-transaction="1">
      <orders test=":x = 1" after-open="true">select 1<items>select :orders$id</items></orders>
    </lsql>
    <source kind="oledb"><connection-string>Data Source=x.db</connection-string></source>
    <source kind="">in.xml</source>
  </script>
  <parameters><db-user alias="User" kind="string">me</db-user><n>2</n></parameters>
  <script><source>in.xml</source><transform kind="LuaScript">x.lua</transform></script>
  <script><source>in.csv</source><transform kind="csv/xml" header-row="no" delimiter=","/>
    <destination kind="stream">s</destination></script>
</morvex>)"),
            "");
}

// The schema's transformation keywords are the kind table's keywords and the
// script languages, no more and no fewer: a kind added to the table without
// its keyword in the schema (or the other way round) fails here.
TEST_F(ProjectSchemaTest, TransformKeywordsAreTheKindTables) {
  const std::string text = FileText(fs::path(MORVEX_SOURCE_DIR) / "docs/morvex.xsd");
  Owned<xmlDoc> document(xmlReadMemory(text.data(), static_cast<int>(text.size()), "schema",
                                       nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR));
  ASSERT_TRUE(document);
  std::multiset<std::string> inSchema;
  const auto attribute = [](xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, BAD_CAST name);
    std::string result = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return result;
  };
  const auto elements = [](xmlNode* parent) {
    std::vector<xmlNode*> children;
    for (xmlNode* child = parent->children; child; child = child->next) {
      if (child->type == XML_ELEMENT_NODE) children.push_back(child);
    }
    return children;
  };
  for (xmlNode* type : elements(xmlDocGetRootElement(document.get()))) {
    if (attribute(type, "name") != "TransformKeyword") continue;
    for (xmlNode* restriction : elements(type)) {
      for (xmlNode* enumeration : elements(restriction)) {
        inSchema.insert(attribute(enumeration, "value"));
      }
    }
  }
  std::multiset<std::string> known;
  for (const std::string& keyword : TransformKeywords()) known.insert(keyword);
  for (const TScriptLanguage& language : kScriptLanguages) known.emplace(language.Name);
  EXPECT_EQ(inSchema, known);
  for (const std::string& keyword : known) {
    EXPECT_EQ(Problems("<morvex><script><source>in.xml</source><transform kind='" + keyword +
                       "'/></script></morvex>"),
              "")
        << keyword;
  }
}

TEST_F(ProjectSchemaTest, MistakesAreFlagged) {
  const auto script = [](const std::string& body) {
    return "<morvex><script><source>in.xml</source>" + body + "</script></morvex>";
  };
  EXPECT_NE(Problems(script("<destinaton>out.xml</destinaton>")).find("destinaton"),
            std::string::npos);
  EXPECT_NE(Problems(script("<transform kind='xml' header-rows='no'/>")).find("header-rows"),
            std::string::npos);
  EXPECT_NE(Problems(script("<transform indent='TRUE'/>")), "");
  EXPECT_NE(Problems(script("<destination kind='ftp'>x</destination>")), "");
  EXPECT_NE(Problems(script("<lsql kind='inlin'/>")), "");
  EXPECT_NE(Problems("<project><script/></project>"), "");
  EXPECT_NE(Problems("<morvex><scirpt/></morvex>"), "");
}

}  // namespace
}  // namespace morvex
