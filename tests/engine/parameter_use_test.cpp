#include "engine/parameter_use.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/project_loader.h"
#include "tests/support/temp_dir.h"

namespace morvex {
namespace {

using Lines = std::vector<std::string>;

// The warnings for `parameters` on the project `body`, files taken from `dir`.
Lines Warnings(const TTempDir& dir, const std::string& body, const Lines& parameters) {
  TProject project = LoadProject("<?xml version=\"1.0\"?><morvex>" + body + "</morvex>", "");
  project.Path = dir.File("p.morvex");
  return UnusedParameterWarnings(parameters, project, dir.File(""));
}

std::string Unused(const std::string& name, const std::string& suggestion = "") {
  std::string line = "Warning: parameter " + name + " is not used by the project";
  if (!suggestion.empty()) line += " (did you mean " + suggestion + "?)";
  return line;
}

constexpr const char* kStylesheetHead =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">";

TEST(UnusedParameterWarnings, NamesWhatNothingUsesOnceWithTheNearestUsedName) {
  TTempDir dir;
  dir.Write("q.sql",
            "/* <orders test=\":from_q &gt; 0\"> */ select :region from o /* </orders> */");
  dir.Write("style.xsl", std::string(kStylesheetHead) +
                             "<xsl:param name=\"title\"/><xsl:template match=\"/\">"
                             "<xsl:param name=\"local\"/></xsl:template></xsl:stylesheet>");
  const std::string body =
      "<parameters><day>1</day><order-no/></parameters>"
      "<script test=\":flag = 1\"><source kind=\"oledb\"><connection-string>Data Source=x.db"
      "</connection-string></source><lsql kind=\"inline\"><r test=\":ok = 1\">"
      "select :city, :\"my name\", :d\xC3\xA9j\xC3\xA0, :amount::::int from t</r></lsql>"
      "<destination>out.xml</destination></script>"
      "<script><source kind=\"oledb\"><connection-string>Data Source=x.db</connection-string>"
      "</source><lsql>q.sql</lsql>"
      "<transform kind=\"xslt\" include-params=\"0\">style.xsl</transform>"
      "<destination>out.html</destination></script>"
      "<script><source>in.xml</source><transform kind=\"xslt\"><![CDATA[" +
      std::string(kStylesheetHead) +
      "<xsl:param name=\"inline_p\"/></xsl:stylesheet>]]></transform></script>";
  const Lines used = {"DAY=2",  "order$no=1", "flag=1",   "ok=1",     "City=x",  "my name=y",
                      "DÉJÀ=1", "amount=2",   "from_q=1", "region=a", "title=t", "inline_p=1"};
  EXPECT_EQ(Warnings(dir, body, used), Lines{});

  // Each name once; names that are no statement's, condition's or
  // stylesheet's (a template-local xsl:param is none) are named.
  EXPECT_EQ(Warnings(dir, body, {"date=1", "citi=x", "date=2", "Date=3", "local=1", "x=1"}),
            (Lines{Unused("date", "day"), Unused("citi", "city"), Unused("local"), Unused("x")}));
}

// An inline query template uses the names of its statements and conditions
// at every depth, however its text is written.
TEST(UnusedParameterWarnings, InlineTemplatesAtEveryDepth) {
  TTempDir dir;
  const std::string head =
      "<script><source kind=\"oledb\"><connection-string>Data Source=x.db</connection-string>"
      "</source><lsql kind=\"inline\">";
  const std::string tail = "</lsql><transform kind=\"csv\"/></script>";
  const struct {
    const char* lsql;
    Lines unused;
  } cases[] = {
      {"<a test=\":used &gt; 0\"><b><c>select :deep</c></b></a>", {"other"}},
      {"<a><![CDATA[select :used, ]]>:deep</a>", {"other"}},
      {"<a>select 1<b test=\":deep = 1\">select :used</b></a>", {"other"}},
      {"<p:a xmlns:p=\"urn:p\">select :used<p:b>select :deep</p:b></p:a>", {"other"}},
      {"select :used", {"deep", "other"}},
  };
  for (const auto& c : cases) {
    Lines expected;
    for (const std::string& name : c.unused) expected.push_back(Unused(name));
    EXPECT_EQ(Warnings(dir, head + c.lsql + tail, {"used=1", "deep=1", "other=1"}), expected)
        << c.lsql;
  }
}

TEST(UnusedParameterWarnings, NoWarningWhereAnyNameMayBeUsed) {
  TTempDir dir;
  dir.Write("importing.xsl",
            std::string(kStylesheetHead) + "<xsl:import href=\"other.xsl\"/></xsl:stylesheet>");
  const std::string source = "<source>in.xml</source>";
  const Lines bogus = {"bogus=1"};
  // Scripts read parameters by any name; streams and unreadable files are
  // known only when the project runs.
  for (const std::string& step :
       {std::string("<transform kind=\"JScript\">x.js</transform>"),
        std::string("<transform kind=\"LuaScript\"><![CDATA[print(1)]]></transform>"),
        std::string("<transform kind=\"zqscript\">x.pas</transform>"),
        std::string("<lsql kind=\"stream\">q</lsql>"), std::string("<lsql>missing.sql</lsql>"),
        std::string("<transform kind=\"xslt\">from-a-stream</transform>"),
        std::string("<transform kind=\"xslt\">importing.xsl</transform>")}) {
    EXPECT_EQ(Warnings(dir, "<script>" + source + step + "</script>", bogus), Lines{}) << step;
  }
  // A database query's dataset XML lists every parameter in morvex_params.
  const std::string database =
      "<source kind=\"oledb\"><connection-string>Data Source=x.db</connection-string></source>"
      "<lsql kind=\"inline\">select 1</lsql>";
  EXPECT_EQ(Warnings(dir,
                     "<script>" + database + "<transform kind=\"xslt\">" +
                         "importing.xsl</transform></script>" + "<script>" + database +
                         "<transform/></script>",
                     bogus),
            Lines{});
  for (const std::string& transform :
       {std::string("<transform kind=\"xml/csv\"/>"),
        std::string("<transform kind=\"xml\" include-params=\"false\"/>")}) {
    EXPECT_EQ(Warnings(dir, "<script>" + database + transform + "</script>", bogus),
              Lines{Unused("bogus")})
        << transform;
  }
  EXPECT_EQ(Warnings(dir, "<script>" + source + "</script>", bogus), Lines{Unused("bogus")});
  EXPECT_EQ(Warnings(dir, "<script>" + source + "</script>", {}), Lines{});
}

}  // namespace
}  // namespace morvex
