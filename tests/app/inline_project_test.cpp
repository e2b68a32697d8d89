#include "app/inline_project.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_path.h"
#include "xml/dom.h"
#include "xml/xml_document.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHead = "<?xml version=\"1.0\" ?><morvex><script>";
constexpr std::string_view kTail = "</script></morvex>\r\n";

// Frequent fragments of the expected texts.
const std::string kFileIn = "<source kind=\"file\">in.xml</source>";
const std::string kDbX =
    "<source kind=\"oledb\"><connection-string>DSN=x</connection-string></source>";
const std::string kToOut = "<destination kind=\"file\">out.xml</destination>";

struct TCase {
  std::vector<std::string> Arguments;
  std::string Body;  // the script's content between head and tail
};

// Each test runs in a fresh temporary directory holding the files the cases
// name: relative names are tested against the current directory.
class InlineProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    dir_ = morvex::testing::TempPath(
        "inline_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "subdir.xsl");
    fs::current_path(dir_);
    for (const char* name :
         {"in.xml", "style.xsl", "report.vbs", "calc.js", "query.sql", "R&D.xml"}) {
      std::ofstream(name) << "x";
    }
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }

  static void Check(const std::vector<TCase>& cases) {
    for (const TCase& c : cases) {
      EXPECT_EQ(BuildInlineProject(c.Arguments), std::string(kHead) + c.Body + std::string(kTail))
          << ::testing::PrintToString(c.Arguments);
    }
  }

  fs::path previous_;
  fs::path dir_;
};

TEST_F(InlineProjectTest, ZeroOneAndFiveOrMoreArguments) {
  EXPECT_EQ(BuildInlineProject({}), "");
  EXPECT_EQ(BuildInlineProject({"a < b"}), "a < b");
  EXPECT_EQ(BuildInlineProject({"in.xml", "b", "c", "d", "e"}),
            "<?xml version=\"1.0\" ?><morvex><script></script></morvex>\r\n");
}

TEST_F(InlineProjectTest, TwoArguments) {
  Check({
      {{"in.xml", "out.xml"}, kFileIn + kToOut},
      {{"in.xml", "report.vbs"}, kFileIn + "<transform kind=\"VBScript\">report.vbs</transform>"},
      {{"in.xml", "style.xsl"}, kFileIn + "<transform kind=\"xslt\">style.xsl</transform>"},
      {{"in.xml", "JScript:MORVEX.x = 1"},
       kFileIn + "<transform kind=\"JScript\"><![CDATA[MORVEX.x = 1]]></transform>"},
      // A directory is no file; a drive colon and a colon after position 24 do not split.
      {{"in.xml", "subdir.xsl"}, kFileIn + "<destination kind=\"file\">subdir.xsl</destination>"},
      {{"in.xml", "C:\\o.xml"}, kFileIn + "<destination kind=\"file\">C:\\o.xml</destination>"},
      {{"in.xml", "abcdefghijklmnopqrstuvwxy:z"},
       kFileIn + "<destination kind=\"file\">abcdefghijklmnopqrstuvwxy:z</destination>"},
      {{"DSN=x", "select name from t"}, kDbX + "<lsql kind=\"inline\">select name from t</lsql>"},
      {{"DSN=x", "query.sql"}, kDbX + "<lsql kind=\"file\">query.sql</lsql>"},
      {{"DSN=x", "calc.js"}, kDbX + "<transform kind=\"JScript\">calc.js</transform>"},
      {{"DSN=x", "missing.js"}, kDbX + "<lsql kind=\"inline\">missing.js</lsql>"},
      // A kind is one word: a query with a colon stays a query.
      {{"DSN=x", "select a:b from t"}, kDbX + "<lsql kind=\"inline\">select a:b from t</lsql>"},
      {{"DSN=x", "select now()::::date"},
       kDbX + "<lsql kind=\"inline\">select now()::::date</lsql>"},
  });
}

TEST_F(InlineProjectTest, ThreeArguments) {
  Check({
      // Keywords ignore letter case, keep it in the output, and test no file.
      {{"missing.xml", "XML/CSV", "out.csv"},
       "<source kind=\"file\">missing.xml</source><transform kind=\"XML/CSV\"></transform>"
       "<destination kind=\"file\">out.csv</destination>"},
      {{"in.xml", "LuaScript:print(1)", "out.xml"},
       kFileIn + "<transform kind=\"LuaScript\"><![CDATA[print(1)]]></transform>" + kToOut},
      {{"in.xml", "xslt:<x/>", "Data Source=b.db;Provider=SQLite"},
       kFileIn +
           "<transform kind=\"xslt\"><![CDATA[<x/>]]></transform><destination kind=\"oledb\">"
           "<connection-string>Data Source=b.db;Provider=SQLite</connection-string></destination>"},
      {{"in.xml", "=count(//r)", "out.xml"},
       kFileIn + "<transform kind=\"xpath\"><![CDATA[=count(//r)]]></transform>" + kToOut},
      {{"in.xml", "report.vbs", "a;b"},
       kFileIn + "<transform kind=\"VBScript\">report.vbs</transform>"
                 "<destination kind=\"file\">a;b</destination>"},
      {{"in.xml", "style.xsl", "a=1;b=2"},
       kFileIn + "<transform kind=\"xslt\">style.xsl</transform>"
                 "<destination kind=\"file\">a=1;b=2</destination>"},
      {{"in.xml", "$.orders[0]", "out.xml"},
       kFileIn + "<transform kind=\"jpath\"><![CDATA[.orders[0]]]></transform>" + kToOut},
      {{"in.xml", "{.orders}", "out.xml"},
       kFileIn + "<transform kind=\"jpath\"><![CDATA[{.orders}]]></transform>" + kToOut},
      {{"in.xml", "//r[id=5]", "out.xml"},
       kFileIn + "<transform kind=\"xpath\"><![CDATA[//r[id=5]]]></transform>" + kToOut},
      {{"DSN=x", "json:$.a", "out.xml"},
       kDbX + "<transform kind=\"json\"><![CDATA[$.a]]></transform>" + kToOut},
      {{"DSN=x", "calc.js", "a;b=1"},
       kDbX + "<transform kind=\"JScript\">calc.js</transform>"
              "<destination kind=\"oledb\"><connection-string>a;b=1</connection-string>"
              "</destination>"},
      // After a query step: a kind prefix, a script, or an output file by extension.
      {{"DSN=x", "query.sql", "out.CSV"},
       kDbX + "<lsql kind=\"file\">query.sql</lsql><transform kind=\"csv\"></transform>"
              "<destination kind=\"file\">out.CSV</destination>"},
      {{"DSN=x", "select 1", "o.json"},
       kDbX + "<lsql kind=\"inline\">select 1</lsql><transform kind=\"json\"></transform>"
              "<destination kind=\"file\">o.json</destination>"},
      {{"DSN=x", "select 1", "out.xml"},
       kDbX + "<lsql kind=\"inline\">select 1</lsql><transform kind=\"xml\"></transform>" + kToOut},
      {{"DSN=x", "select 1", "later.lua"},
       kDbX + "<lsql kind=\"inline\">select 1</lsql>"
              "<transform kind=\"LuaScript\">later.lua</transform>"},
      {{"DSN=x", "select 1", "xpath://r"},
       kDbX + "<lsql kind=\"inline\">select 1</lsql>"
              "<transform kind=\"xpath\"><![CDATA[//r]]></transform>"},
  });
}

TEST_F(InlineProjectTest, FourArguments) {
  const std::string select = kDbX + "<lsql kind=\"inline\">select 1</lsql>";
  Check({
      {{"in.xml", "query.sql", "csv", "DSN=db"},
       kFileIn + "<lsql kind=\"file\">query.sql</lsql><transform kind=\"csv\"></transform>"
                 "<destination kind=\"oledb\"><connection-string>DSN=db</connection-string>"
                 "</destination>"},
      // The same with the kind first and the template file last.
      {{"in.xml", "csv", "DSN=db", "query.sql"},
       kFileIn + "<lsql kind=\"file\">query.sql</lsql><transform kind=\"csv\"></transform>"
                 "<destination kind=\"oledb\"><connection-string>DSN=db</connection-string>"
                 "</destination>"},
      // A template that does not exist keeps the first reading.
      {{"in.xml", "csv", "DSN=db", "missing.sql"},
       kFileIn + "<lsql kind=\"inline\">csv</lsql><transform kind=\"DSN=db\"></transform>"
                 "<destination kind=\"oledb\"><connection-string>missing.sql</connection-string>"
                 "</destination>"},
      {{"DSN=x", "query.sql", "json", "out.xml"},
       kDbX + "<lsql kind=\"file\">query.sql</lsql><transform kind=\"json\"></transform>" + kToOut},
      // "XML" is no keyword here and, being no file, an XPath.
      {{"DSN=x", "select 1", "XML", "out.xml"},
       select + "<transform kind=\"xpath\"><![CDATA[XML]]></transform>" + kToOut},
      {{"DSN=x", "select 1", "xpath://r", "a;b=c"},
       select + "<transform kind=\"xpath\"><![CDATA[//r]]></transform>"
                "<destination kind=\"oledb\"><connection-string>a;b=c</connection-string>"
                "</destination>"},
      {{"DSN=x", "select 1", "=count(//r)", "out.xml"},
       select + "<transform kind=\"xpath\"><![CDATA[=count(//r)]]></transform>" + kToOut},
      {{"DSN=x", "select 1", "$.a", "out.xml"},
       select + "<transform kind=\"xpath\"><![CDATA[$.a]]></transform>" + kToOut},
      {{"DSN=x", "select 1", "report.vbs", "a;b=c"},
       select + "<transform kind=\"VBScript\">report.vbs</transform>"
                "<destination kind=\"oledb\"><connection-string>a;b=c</connection-string>"
                "</destination>"},
      {{"DSN=x", "select 1", "style.xsl", "a;b=c"},
       select + "<transform kind=\"xslt\">style.xsl</transform>"
                "<destination kind=\"file\">a;b=c</destination>"},
  });
}

// Text that is not XML content is escaped so that the project loads and the
// runner reads back exactly what was typed; markup stays markup.
// "-" first is standard input, a file source; "-" last is standard output,
// a file destination.
TEST_F(InlineProjectTest, DashIsStandardInputOrOutput) {
  const std::string fromStdIn = "<source kind=\"file\">-</source>";
  const std::string toStdOut = "<destination kind=\"file\">-</destination>";
  Check({
      {{"in.xml", "-"}, kFileIn + toStdOut},
      {{"-", "out.xml"}, fromStdIn + kToOut},
      {{"-", "style.xsl", "-"},
       fromStdIn + "<transform kind=\"xslt\">style.xsl</transform>" + toStdOut},
      {{"-", "json", "-"}, fromStdIn + "<transform kind=\"json\"></transform>" + toStdOut},
      {{"-", "=//b", "-"},
       fromStdIn + "<transform kind=\"xpath\"><![CDATA[=//b]]></transform>" + toStdOut},
      {{"DSN=x", "select 1", "csv", "-"},
       kDbX + "<lsql kind=\"inline\">select 1</lsql><transform kind=\"csv\"></transform>" +
           toStdOut},
      {{"DSN=x", "select 1", "-"},
       kDbX + "<lsql kind=\"inline\">select 1</lsql><transform kind=\"xml\"></transform>" +
           toStdOut},
      {{"-", "insert.sql", "xml/csv", "DSN=x"},
       fromStdIn + "<lsql kind=\"inline\">insert.sql</lsql><transform kind=\"xml/csv\"></transform>"
                   "<destination kind=\"oledb\"><connection-string>DSN=x</connection-string>"
                   "</destination>"},
  });
}

TEST_F(InlineProjectTest, ArgumentsAlwaysGiveAWellFormedProject) {
  Check({
      {{"DSN=x", "select * from t where a < 5 & b > 1"},
       kDbX + "<lsql kind=\"inline\">select * from t where a &lt; 5 &amp; b &gt; 1</lsql>"},
      {{"DSN=x", "<orders>select * from o</orders>"},
       kDbX + "<lsql kind=\"inline\"><orders>select * from o</orders></lsql>"},
      {{"R&D.xml", "a&b<c:x]]>y", "R&D out.xml"},
       "<source kind=\"file\">R&amp;D.xml</source>"
       "<transform kind=\"a&amp;b&lt;c\"><![CDATA[x]]]]><![CDATA[>y]]></transform>"
       "<destination kind=\"file\">R&amp;D out.xml</destination>"},
      // A quote before the colon: no kind, an expression.
      {{"R&D.xml", "a\"b<c:x]]>y", "R&D out.xml"},
       "<source kind=\"file\">R&amp;D.xml</source>"
       "<transform kind=\"xpath\"><![CDATA[a\"b<c:x]]]]><![CDATA[>y]]></transform>"
       "<destination kind=\"file\">R&amp;D out.xml</destination>"},
  });

  const TXmlDocument project =
      LoadXmlText(BuildInlineProject({"in.xml", "//r[a < 5 and b = ']]>']", "out & more.xml"}));
  ASSERT_TRUE(HasDocumentElement(project.get())) << ParseErrorMessage(GetParseError(project.get()));
  _xmlNode* script = xmlDocGetRootElement(project.get())->children;
  EXPECT_EQ(SelectSingleText(script, "transform", ""), "//r[a < 5 and b = ']]>']");
  EXPECT_EQ(SelectSingleText(script, "destination", ""), "out & more.xml");

  const TXmlDocument database = LoadXmlText(BuildInlineProject({"DSN=a&b", "x < y", "a;b=<c>"}));
  ASSERT_TRUE(HasDocumentElement(database.get()))
      << ParseErrorMessage(GetParseError(database.get()));
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

// A misspelt conversion keyword is a valid XPath expression that selects
// nothing; the run says which keyword it likely meant.
TEST(InlineKeywordWarning, NamesTheKeywordAMisspeltArgumentLooksLike) {
  EXPECT_EQ(InlineKeywordWarning({"in.xml", "xml/cvs", "out.csv"}),
            "Warning: xml/cvs is taken as an XPath expression (did you mean xml/csv?)");
  EXPECT_EQ(InlineKeywordWarning({"in.json", "JSON/CVS", "out.csv"}),
            "Warning: JSON/CVS is taken as an XPath expression (did you mean json/csv?)");
  EXPECT_EQ(InlineKeywordWarning({"Data Source=a.db", "select 1", "xml/jsno", "out.json"}),
            "Warning: xml/jsno is taken as an XPath expression (did you mean xml/json?)");
  for (const std::string expression : {"xml/csv", "//r/a", "orders/order", "r/a", "csv"}) {
    EXPECT_EQ(InlineKeywordWarning({"in.xml", expression, "out.csv"}), "") << expression;
  }
  EXPECT_EQ(InlineKeywordWarning({"in.xml", "xml/cvs"}), "");
}

}  // namespace
}  // namespace morvex
