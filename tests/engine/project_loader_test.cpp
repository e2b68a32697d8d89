#include "engine/project_loader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "text/error.h"

namespace morvex {
namespace {

// The project source text with `body` inside the root, the root on line 2.
std::string Project(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<morvex name='nightly'>\n" + body + "</morvex>\n";
}

TProject Load(const std::string& body) { return LoadProject(Project(body), "/base/"); }

// Every record names the line of its element's start tag, also after
// comments, text over several lines and CDATA sections holding line ends.
TEST(ProjectLoaderTest, RecordsCarryTheirElementsLines) {
  const TProject project = Load(
      "<parameters>\n"                                                  // 3
      "  <day kind='integer'>1</day>\n"                                 // 4
      "  <!-- a comment\n over two lines -->\n"                         // 5, 6
      "  <max-rows>10</max-rows>\n"                                     // 7
      "</parameters>\n"                                                 // 8
      "<script name='a'\n"                                              // 9
      "        test=':day = 1'>\n"                                      // 10
      "  <source kind='oledb'>\n"                                       // 11
      "    <connection-string>Data Source=x.db\n"                       // 12
      "    </connection-string>\n"                                      // 13
      "  </source>\n"                                                   // 14
      "  <lsql kind='inline'><![CDATA[\n\n]]><q>select 1</q></lsql>\n"  // 15 to 17
      "  <transform kind='xml'/>\n"                                     // 18
      "  <destination>out.xml</destination>\n"                          // 19
      "</script>\n"                                                     // 20
      "<script><source>in.xml</source></script>\n");                    // 21
  ASSERT_TRUE(project.ParametersElement);
  ASSERT_EQ(project.Parameters.size(), 2u);
  ASSERT_EQ(project.Scripts.size(), 2u);
  const TScript& first = project.Scripts[0];
  ASSERT_TRUE(first.Source && first.Source->ConnectionString && first.Query && first.Transform &&
              first.Destination);
  const struct {
    const char* what;
    long line;
    long expected;
  } cases[] = {
      {"root", project.Root.Line, 2},
      {"parameters", project.ParametersElement->Line, 3},
      {"first declaration", project.Parameters[0].Element.Line, 4},
      {"declaration after a comment", project.Parameters[1].Element.Line, 7},
      // The parser counts the line where a start tag ends, as messages always have.
      {"script whose start tag takes two lines", first.Element.Line, 10},
      {"source", first.Source->Element.Line, 11},
      {"connection string", first.Source->ConnectionString->Element.Line, 12},
      {"query", first.Query->Element.Line, 15},
      {"transform after a CDATA section with line ends", first.Transform->Element.Line, 18},
      {"destination", first.Destination->Element.Line, 19},
      {"second script", project.Scripts[1].Element.Line, 21},
      {"root's child element list", project.Root.Children.at(2).Line, 21},
      {"script's child element list", first.Element.Children.at(3).Line, 19},
  };
  for (const auto& c : cases) EXPECT_EQ(c.line, c.expected) << c.what;
}

// Each CDATA section of a transform is a text of its own, also when two are
// written back to back (a script and its form); other text is not one, and
// the sections keep their blanks as written.
TEST(ProjectLoaderTest, TransformKeepsOneTextPerCDataSection) {
  const struct {
    const char* content;
    std::vector<std::string> sections;
    std::string text;
  } cases[] = {
      {"<![CDATA[ a ]]><![CDATA[b]]>", {" a ", "b"}, " a b"},
      {"<![CDATA[a]]>\n  <![CDATA[b]]>", {"a", "b"}, "a\n  b"},
      {"x <![CDATA[]]> y", {""}, "x  y"},
      {" style.xsl ", {}, " style.xsl "},
      {"", {}, ""},
  };
  for (const auto& c : cases) {
    const TProject project = Load("<script><transform kind='zqscriptgui'>" +
                                  std::string(c.content) + "</transform></script>");
    ASSERT_TRUE(project.Scripts.at(0).Transform) << c.content;
    const TTransformElement& transform = *project.Scripts[0].Transform;
    EXPECT_EQ(transform.Sections, c.sections) << c.content;
    EXPECT_EQ(transform.Text, c.text) << c.content;
  }
}

// Attributes as the run reads them: booleans hold their defaults unless a
// boolean value is written; encoding, delimiter and quote distinguish "not
// written" (no encoding, the default delimiter and quote) from "written
// empty"; names are compared exactly.
TEST(ProjectLoaderTest, TransformAttributesAndTheirDefaults) {
  struct TCase {
    const char* attributes;
    bool headerRow, includeParams, flatText, indent;
    std::optional<std::string> encoding, delimiter, quote;
  };
  const std::optional<std::string> none;
  const TCase cases[] = {
      {"", true, true, true, false, none, none, none},
      {"header-row='no' include-params='0' flat-text='false' indent='yes'", false, false, false,
       true, none, none, none},
      {"header-row='off' indent='TRUE' flat-text=''", true, true, true, false, none, none, none},
      {"encoding='' delimiter='' quote=''", true, true, true, false, "", "", ""},
      {"encoding='UTF-16' delimiter=',' quote=\"'\"", true, true, true, false, "UTF-16", ",", "'"},
      {"Delimiter=',' INDENT='1'", true, true, true, false, none, none, none},
  };
  for (const TCase& c : cases) {
    const TProject project =
        Load(std::string("<script><transform kind='csv' ") + c.attributes + "/></script>");
    const TTransformElement& transform = project.Scripts.at(0).Transform.value();
    const TXTransformInfo& options = transform.Options;
    EXPECT_EQ(options.HeaderRow, c.headerRow) << c.attributes;
    EXPECT_EQ(options.IncludeParams, c.includeParams) << c.attributes;
    EXPECT_EQ(options.FlatText, c.flatText) << c.attributes;
    EXPECT_EQ(options.Indent, c.indent) << c.attributes;
    EXPECT_EQ(transform.Encoding, c.encoding) << c.attributes;
    EXPECT_EQ(options.Delimiter, c.delimiter.value_or(";")) << c.attributes;
    EXPECT_EQ(options.Quote, c.quote.value_or("\"")) << c.attributes;
  }
}

// Only root `script` elements are scripts and only the first step element
// of a name counts, compared with letter case and prefix; the outline still
// lists every child and attribute for the project check.
TEST(ProjectLoaderTest, FirstStepElementOfExactNameCounts) {
  const TProject project = Load(
      "<Script><source>ignored.xml</source></Script>\n"
      "<script name='one' Test='x' p:name='y' xmlns:p='urn:p'>\n"
      "  <Source>no.xml</Source><p:source xmlns:p='urn:p'>no.xml</p:source>\n"
      "  <source kind='file' encoding='latin2'>first.xml</source>\n"
      "  <source>second.xml</source>\n"
      "  <lsql kind='file' one-transaction='yes' cmd-id=''>q.sql</lsql><lsql>other.sql</lsql>\n"
      "</script>\n"
      "<group><script/></group>\n");
  ASSERT_EQ(project.Scripts.size(), 1u);
  const TScript& script = project.Scripts[0];
  EXPECT_EQ(script.Name, "one");
  EXPECT_EQ(script.Test, "");
  ASSERT_TRUE(script.Source);
  EXPECT_EQ(script.Source->Text, "first.xml");
  EXPECT_EQ(script.Source->Kind, "file");
  EXPECT_EQ(script.Source->Encoding, "latin2");
  EXPECT_FALSE(script.Source->ConnectionString);
  ASSERT_TRUE(script.Query);
  EXPECT_EQ(script.Query->Text, "q.sql");
  EXPECT_TRUE(script.Query->OneTransaction);
  EXPECT_EQ(script.Query->CommandId, "");
  EXPECT_EQ(script.Query->Markup,
            "<lsql kind=\"file\" one-transaction=\"yes\" cmd-id=\"\">q.sql</lsql>");
  EXPECT_FALSE(script.Transform);
  EXPECT_FALSE(script.Destination);

  std::vector<std::string> attributes;
  for (const TElementAttribute& attribute : script.Element.Attributes) {
    attributes.push_back(attribute.Name + "=" + attribute.Value);
  }
  EXPECT_EQ(attributes, (std::vector<std::string>{"name=one", "Test=x", "p:name=y"}));
  std::vector<std::string> children;
  for (const TChildElement& child : script.Element.Children) children.push_back(child.Tag);
  EXPECT_EQ(children,
            (std::vector<std::string>{"Source", "p:source", "source", "source", "lsql", "lsql"}));
  ASSERT_NE(script.Element.Attribute("Test"), nullptr);
  EXPECT_EQ(script.Element.Attribute("test"), nullptr);
}

// Declarations: the name turns "-" into "$", the default value keeps its
// blanks, only the first `parameters` element declares, and a parameter's
// declaration is found by its exact tag, then by its tag in capitals.
TEST(ProjectLoaderTest, ParameterDeclarations) {
  const TProject project = Load(
      "<parameters>"
      "<max-rows alias='Rows' kind='integer'> 10 </max-rows><CITY>Brno</CITY><city>Plzen</city>"
      "<Day/><DAY kind='float'/>"
      "</parameters>"
      "<parameters><late>1</late></parameters>");
  std::vector<std::string> entries;
  for (const TParameterDeclaration& declaration : project.Parameters) {
    entries.push_back(declaration.Name + "=" + declaration.Value + "|" + declaration.Alias + "|" +
                      declaration.Kind);
  }
  EXPECT_EQ(entries, (std::vector<std::string>{"max$rows= 10 |Rows|integer", "CITY=Brno||",
                                               "city=Plzen||", "Day=||", "DAY=||float"}));
  EXPECT_EQ(project.Name, "nightly");

  const struct {
    const char* name;
    const char* expectedTag;  // nullptr: no declaration
  } cases[] = {
      {"max$rows", "max-rows"},                     // "$" is looked up as "-"
      {"max-rows", "max-rows"}, {"city", "city"},   // the exact tag first
      {"City", "CITY"},                             // then the tag in capitals
      {"day", "DAY"},                               // "Day" is neither "day" nor "DAY"
      {"Day", "Day"},           {"late", nullptr},  // a second parameters element declares nothing
      {"MAX$ROWS", nullptr},                        // no tag "MAX-ROWS"
  };
  for (const auto& c : cases) {
    const TParameterDeclaration* found = FindDeclaration(project.Parameters, c.name);
    if (!c.expectedTag) {
      EXPECT_EQ(found, nullptr) << c.name;
    } else {
      ASSERT_NE(found, nullptr) << c.name;
      EXPECT_EQ(found->Element.Tag, c.expectedTag) << c.name;
    }
  }
}

// Where the project comes from and what a document without a root gives.
TEST(ProjectLoaderTest, SourceTextPathAndParseErrors) {
  const TProject inlineProject = Load("");
  EXPECT_EQ(inlineProject.Path, "/base/inline.morvex");
  EXPECT_FALSE(inlineProject.ParametersElement);
  EXPECT_TRUE(inlineProject.Scripts.empty());

  try {
    LoadProject("<?xml version=\"1.0\"?>\n<morvex>\n<script>\n</morvex>", "/base/");
    ADD_FAILURE() << "no error";
  } catch (const EMorvexError& error) {
    EXPECT_TRUE(std::string(error.what()).starts_with("Unsupported project file format! [line: 4,"))
        << error.what();
  }
}

}  // namespace
}  // namespace morvex
