#include "engine/project_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "text/nearest_name.h"

namespace morvex {
namespace {

// The problem messages, each prefixed with its line ("7: script 1: ...").
std::vector<std::string> Check(const TTempDir& dir, const std::string& project,
                               const std::vector<std::string>& parameters = {}) {
  std::vector<std::string> lines;
  for (const TProjectProblem& problem : CheckProject(project, parameters, dir.File(""))) {
    lines.push_back(std::to_string(problem.Line) + ": " + problem.Message);
  }
  return lines;
}

std::string Project(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<morvex>\n" + body + "</morvex>\n";
}

constexpr const char* kStylesheet =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:template match=\"/\"><out/></xsl:template></xsl:stylesheet>";

// A source reading the SQLite database shop.db.
constexpr const char* kShopSource =
    "<source kind='oledb'><connection-string>Data Source=shop.db</connection-string></source>";

TEST(ProjectCheckTest, CleanProjectHasNoProblems) {
  TTempDir dir;
  dir.Write("in.xml", "<a/>");
  dir.Write("style.xsl", kStylesheet);
  dir.Write("q.sql", "select 1");
  dir.Write("shop.db", "");
  const std::string project = dir.Write(
      "p.morvex",
      Project("<parameters><city alias='City' kind='string'>Prague</city></parameters>\n"
              "<script name='a' test=\"':city' = 'Prague'\">\n"
              "  <source kind='file' encoding='utf-8'>in.xml</source>\n"
              "  <transform kind='xslt' indent='yes'>style.xsl</transform>\n"
              "  <destination kind='stream'>mid</destination>\n"
              "</script>\n"
              "<script xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' xsi:type='x'>\n"
              "  <source kind='stream'>mid</source>\n"
              "  <transform kind='xpath' record-tag='r'>//out</transform>\n"
              "  <destination>out.xml</destination>\n"
              "</script>\n"
              "<script>\n"
              "  <source kind='oledb'><connection-string>Provider=SQLite;Data Source=shop.db"
              "</connection-string></source>\n"
              "  <lsql>q.sql</lsql>\n"
              "  <transform kind='csv'/>\n"
              "  <destination kind='file'>out.csv</destination>\n"
              "</script>\n"));
  EXPECT_EQ(Check(dir, project), std::vector<std::string>{});
  // Relative paths are taken against the base directory, as in a run.
  EXPECT_EQ(CheckProject(project, {}, dir.File("")).size(), 0u);
}

TEST(ProjectCheckTest, MisspeltNamesAreReportedWithTheNearestKnownName) {
  TTempDir dir;
  dir.Write("in.xml", "<a/>");
  const std::string project =
      dir.Write("p.morvex", Project("<scirpt/>\n"
                                    "<script nmae='x'>\n"
                                    "  <source kind='file' encodnig='utf-8'>in.xml</source>\n"
                                    "  <destinaton kind='file'>out.xml</destinaton>\n"
                                    "  <output/>\n"
                                    "</script>\n"));
  EXPECT_EQ(Check(dir, project),
            (std::vector<std::string>{
                "3: unknown element <scirpt>, did you mean <script>?",
                "4: script 1: unknown attribute nmae on <script>, did you mean name?",
                "5: script 1: unknown attribute encodnig on <source>, did you mean encoding?",
                "6: script 1: unknown element <destinaton>, did you mean <destination>?",
                "7: script 1: unknown element <output>",
            }));
}

TEST(ProjectCheckTest, KindsBooleansAndSecondStepsAreChecked) {
  TTempDir dir;
  dir.Write("in.xml", "<a/>");
  const std::string project =
      dir.Write("p.morvex", Project("<parameters><n kind='int'>1</n></parameters>\n"
                                    "<script>\n"
                                    "  <source kind='fiel'>in.xml</source>\n"
                                    "  <source kind='file'>other.xml</source>\n"
                                    "  <lsql kind='inlin' one-transaction='maybe'>q.sql</lsql>\n"
                                    "  <transform kind='xstl' header-row='TRUE'/>\n"
                                    "</script>\n"));
  const std::vector<std::string> problems = Check(dir, project);
  ASSERT_EQ(problems.size(), 8u) << ::testing::PrintToString(problems);
  EXPECT_EQ(problems[0].substr(0, 38), "3: parameter n: kind \"int\" is not a va");
  EXPECT_EQ(problems[1],
            "5: script 1: <source> kind \"fiel\" is unknown (oledb, file or stream), did you mean "
            "file?");
  EXPECT_EQ(problems[2], "6: script 1: a second <source> is ignored; only the first one counts");
  EXPECT_EQ(problems[3],
            "7: script 1: <lsql> one-transaction=\"maybe\" is not a boolean (1, true, yes, 0, "
            "false or no); the default applies");
  EXPECT_EQ(problems[4],
            "7: script 1: <lsql> kind \"inlin\" is unknown (file, inline or stream), did you mean "
            "inline?; its text is taken as a query file");
  EXPECT_EQ(problems[5], "7: script 1: File does not exist!: " + dir.File("q.sql"));
  EXPECT_NE(problems[6].find("8: script 1: <transform> header-row=\"TRUE\" is not a boolean"),
            std::string::npos);
  EXPECT_NE(problems[7].find("8: script 1: <transform> kind \"xstl\" is neither a transformation"),
            std::string::npos);
  EXPECT_NE(problems[7].find(", did you mean xslt?"), std::string::npos);
}

TEST(ProjectCheckTest, StepsAreResolvedWithoutRunningAnything) {
  TTempDir dir;
  dir.Write("in.xml", "<a/>");
  dir.Write("broken.xsl", "<xsl:stylesheet");
  dir.Write("bad-query.sql", "<lsql><q>select 1</lsql>");
  const std::string old = dir.Write("out.xml", "keep me");
  const std::string project = dir.Write(
      "p.morvex",
      Project("<script>\n"
              "  <source kind='file'>missing.xml</source>\n"
              "</script>\n"
              "<script>\n"
              "  <source kind='oledb'><connection-string>Provider=Oracle;Data Source=x"
              "</connection-string></source>\n"
              "  <lsql>bad-query.sql</lsql>\n"
              "</script>\n"
              "<script>\n"
              "  <source kind='stream'>nowhere</source>\n"
              "  <transform kind='xslt'>broken.xsl</transform>\n"
              "  <destination kind='file'>out.xml</destination>\n"
              "</script>\n"
              "<script>\n"
              "  <source kind='oledb'><connection-string>Data Source=no.db</connection-string>"
              "</source>\n"
              "  <transform kind='JScript'>missing.js</transform>\n"
              "  <destination kind='file'>no-dir/out.xml</destination>\n"
              "</script>\n"));
  const std::vector<std::string> problems = Check(dir, project);
  ASSERT_EQ(problems.size(), 8u) << ::testing::PrintToString(problems);
  EXPECT_EQ(problems[0], "4: script 1: File does not exist!: " + dir.File("missing.xml"));
  EXPECT_EQ(problems[1], "7: script 2: <source> connection string: Unknown provider: Oracle");
  EXPECT_EQ(problems[2].substr(0, 35), "8: script 2: Wrong (L)SQL syntax! [");
  EXPECT_EQ(problems[3], "11: script 3: Stream does not exist!: nowhere");
  EXPECT_EQ(problems[4].substr(0, 14 + dir.File("broken.xsl").size()),
            "12: script 3: " + dir.File("broken.xsl"));
  EXPECT_EQ(problems[5], "16: script 4: <source> SQLite database file does not exist: no.db");
  EXPECT_EQ(problems[6], "17: script 4: File does not exist!: " + dir.File("missing.js"));
  EXPECT_EQ(problems[7], "18: script 4: the directory of the destination file does not exist: " +
                             dir.File("no-dir"));
  // Nothing was deleted or written.
  EXPECT_EQ(TTempDir::Read(old), "keep me");
}

TEST(ProjectCheckTest, StepCombinationsThatCannotRunAreReported) {
  TTempDir dir;
  dir.Write("in.xml", "<a/>");
  dir.Write("style.xsl", kStylesheet);
  dir.Write("shop.db", "");
  const std::string db = kShopSource;
  const std::string project = dir.Write(
      "p.morvex",
      Project("<script><source>in.xml</source><transform kind='xslt'>style.xsl</transform>"
              "</script>\n"
              "<script>" +
              db +
              "<transform kind='xslt'>style.xsl</transform>"
              "<destination>o.xml</destination></script>\n"
              "<script>" +
              db +
              "<lsql kind='inline'><q>select 1</q></lsql>"
              "<destination>o.xml</destination></script>\n"
              "<script><source>in.xml</source><transform kind='json'/>"
              "<lsql kind='inline'><q>insert into t values (:a)</q></lsql>"
              "<destination kind='oledb'><connection-string>Data Source=shop.db"
              "</connection-string></destination></script>\n"
              // A template that an earlier script writes into a stream counts as a query.
              "<script><source>in.xml</source><destination kind='stream'>sql</destination>"
              "</script>\n"
              "<script>" +
              db +
              "<lsql kind='stream'>sql</lsql><transform kind='csv'/>"
              "<destination>o.csv</destination></script>\n"));
  EXPECT_EQ(Check(dir, project),
            (std::vector<std::string>{
                "3: script 1: Destination must be specified!",
                "4: script 2: This combination of Source, (L)SQL, Transformation and Destination "
                "is not supported!",
                "5: script 3: Transformation must be specified in this context!",
                "6: script 4: Import from JSON format is not currently supported!",
                "6: script 4: <lsql> <q>: :a names no parameter, so it is bound as Null",
            }));
}

TEST(ProjectCheckTest, XPathExpressionsAreCompiled) {
  TTempDir dir;
  dir.Write("in.xml", "<a/>");
  const auto script = [](const std::string& transform) {
    return "<script><source>in.xml</source>" + transform + "<destination>o.xml</destination>" +
           "</script>\n";
  };
  const std::string project = dir.Write(
      "p.morvex",
      Project(script("<transform kind='xpath'>//order[city = 'Brno']\n//item</transform>") +
              script("<transform kind='xpath' sel-namespaces=\"xmlns:p='urn:p'\">=count(//p:r)"
                     "</transform>") +
              script("<transform kind='xpath'>//order[city = 'Brno'</transform>") +
              script("<transform kind='xpath'>=count(//q:r)</transform>") +
              script("<transform kind='xpath' record-tag='a b'>//r</transform>")));
  const std::vector<std::string> problems = Check(dir, project);
  ASSERT_EQ(problems.size(), 3u) << ::testing::PrintToString(problems);
  EXPECT_EQ(problems[0].substr(0, 38), "6: script 3: XPath selection error: In");
  EXPECT_EQ(problems[1].substr(0, 36), "7: script 4: XPath selection error: ");
  EXPECT_EQ(problems[2].substr(0, 36), "8: script 5: XPath selection error: ");
}

TEST(ProjectCheckTest, StreamsFilledByEarlierScriptsAndStandardInputResolve) {
  TTempDir dir;
  dir.Write("in.xml", "<a/>");
  const std::string project = dir.Write(
      "p.morvex",
      Project("<script><source kind='stream'>early</source></script>\n"
              "<script><source>in.xml</source><destination kind='stream'>Early</destination>"
              "</script>\n"
              "<script test=':early$size &gt; 0'><source kind='stream'>early</source>"
              "<lsql kind='stream'>early</lsql><destination kind='stream'>x</destination>"
              "</script>\n"
              "<script><source>StdIn</source><lsql kind='stream'>none</lsql>"
              "<destination kind='stream'>y</destination></script>\n"
              "<script><source kind='stream'>y</source><destination kind='stream'>Y</destination>"
              "</script>\n"));
  EXPECT_EQ(Check(dir, project),
            (std::vector<std::string>{
                "3: script 1: Stream does not exist!: early",
                "6: script 4: no earlier script fills the query stream \"none\"; the script "
                "would run without a query step",
                "7: script 5: Source and destination streams must be different!",
            }));
}

TEST(ProjectCheckTest, ParametersSettleBeforeTestsAreEvaluated) {
  TTempDir dir;
  dir.Write("in.xml", "<a/>");
  const std::string project =
      dir.Write("p.morvex", Project("<parameters><limit>5</limit></parameters>\n"
                                    "<script test=':limit &gt;'><source>in.xml</source>"
                                    "<destination>o.xml</destination></script>\n"));
  const std::vector<std::string> problems = Check(dir, project);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("4: script 1: the test condition cannot be evaluated"),
            std::string::npos);
  // A command-line value that makes the condition whole is not a problem.
  const std::string second =
      dir.Write("q.morvex", Project("<parameters><op>&lt;</op></parameters>\n"
                                    "<script test='1 :op 2'><source>in.xml</source>"
                                    "<destination>o.xml</destination></script>\n"));
  EXPECT_EQ(Check(dir, second, {"op=>"}), std::vector<std::string>{});
  EXPECT_EQ(Check(dir, second, {"op=+"}).size(), 0u);  // "1 + 2" is a value, not an error
  EXPECT_EQ(Check(dir, second, {"op=)"}).size(), 1u);

  // Typed declarations whose value their kind cannot read.
  const std::string typed =
      dir.Write("t.morvex", Project("<parameters><n kind='integer'>5</n><f kind='float'/>"
                                    "<ok kind='boolean'>true</ok></parameters>\n"));
  EXPECT_EQ(Check(dir, typed), std::vector<std::string>{});
  EXPECT_EQ(Check(dir, typed, {"n=five", "ok=maybe", "f=1.5"}),
            (std::vector<std::string>{
                "3: parameter n: the value \"five\" is not an integer; stylesheets and scripts "
                "receive it as text",
                "3: parameter ok: the value \"maybe\" is not a boolean; stylesheets and scripts "
                "receive it as text",
            }));
}

TEST(ProjectCheckTest, ReferencesNothingCanSatisfyAreNamed) {
  TTempDir dir;
  dir.Write("shop.db", "");
  dir.Write("in.csv", "id;Customer Name;2nd\n1;a;b\n");
  dir.Write("q.sql", "select :region, :day from t");
  const std::string database = kShopSource;
  const std::string project = dir.Write(
      "p.morvex",
      Project("<parameters><day>1</day></parameters>\n"
              "<script test=\"':dya' = '' and :xStream$size = 0 and :day = 1\">" +
              database +
              "<lsql kind='inline'><orders test=':ok = 1 and :day = 1'>select :dya, :day, :given\n"
              "<items>select :orders$id, :ORDERS$x, :order$id, :items$id</items></orders>\n"
              "<later>select :orders$rowsaffected</later>"
              "<wrap><never>select :never</never></wrap></lsql>"
              "<transform kind='csv'/><destination>o.csv</destination></script>\n"
              "<script>" +
              database +
              "<lsql>q.sql</lsql>"
              "<transform kind='csv'/><destination>o.csv</destination></script>\n"
              "<script><source encoding='latin-99'>in.csv</source>"
              "<lsql kind='inline'><r>insert into t values (:source$id, :source$Customer_Name, "
              ":\"SOURCE$customer name\", :source$nd, :source$2nd, :source$9, :source$custmer_name)"
              "</r></lsql><transform kind='csv' encoding='utf-99'/>"
              "<destination kind='oledb'><connection-string>Data Source=shop.db"
              "</connection-string></destination></script>\n"
              "<script><source>in.xml</source><lsql kind='inline'><r>select :source$anything"
              "</r></lsql><transform kind='xml'/><destination kind='oledb'><connection-string>"
              "Data Source=shop.db</connection-string></destination></script>\n"));
  dir.Write("in.xml", "<a/>");
  EXPECT_EQ(
      Check(dir, project, {"given=1"}),
      (std::vector<std::string>{
          "4: script 1: the test condition's :dya names no parameter or stream, so it is "
          "replaced by nothing, did you mean day?",
          "4: script 1: <lsql> <orders>: :dya names no parameter, so it is bound as Null, did "
          "you mean day?",
          "4: script 1: <lsql> <orders>: :ok names no parameter, so it is replaced by nothing in "
          "its test",
          "4: script 1: <lsql> <items>: :order$id names no earlier or enclosing statement "
          "<order>, so it is bound as Null",
          "4: script 1: <lsql> <items>: :items$id names no earlier or enclosing statement "
          "<items>, so it is bound as Null",
          "7: script 2: <lsql> <INLINE_SQL>: :region names no parameter, so it is bound as Null",
          "8: script 3: <source> encoding: Unknown encoding \"latin-99\"",
          "8: script 3: <transform> encoding: Unknown encoding \"utf-99\" (did you mean utf-7, "
          "utf-8 or utf-16?)",
          "8: script 3: <lsql> <r>: :source$custmer_name names no column of the CSV header of " +
              dir.File("in.csv") + ", so it is bound as Null, did you mean source$Customer_Name?",
      }));
}

TEST(ProjectCheckTest, ProjectThatCannotBeLoaded) {
  TTempDir dir;
  const std::vector<std::string> missing = Check(dir, dir.File("none.morvex"));
  EXPECT_EQ(missing,
            std::vector<std::string>{"0: File does not exist!: " + dir.File("none.morvex")});
  const std::vector<std::string> broken = Check(dir, dir.Write("b.morvex", "<morvex><script>"));
  ASSERT_EQ(broken.size(), 1u);
  EXPECT_EQ(broken[0].substr(0, 36), "1: Unsupported project file format! ");
  // Another root element runs, but the check names it.
  EXPECT_EQ(Check(dir, "<?xml version=\"1.0\"?><project/>"),
            std::vector<std::string>{"1: the document element is <project>, not <morvex>"});
}

TEST(ProjectCheckTest, ProblemLinesAndNearestNames) {
  EXPECT_EQ(ProblemLine("p.morvex", {12, "script 1: x"}), "p.morvex:12: script 1: x");
  EXPECT_EQ(ProblemLine("inline", {0, "File does not exist!"}), "inline: File does not exist!");
  EXPECT_EQ(ProjectLabel("<?xml version=\"1.0\"?><morvex/>"), "inline");
  EXPECT_EQ(ProjectLabel("jobs/daily.morvex"), "jobs/daily.morvex");

  const std::vector<std::string> known{"source", "lsql", "transform", "destination"};
  EXPECT_EQ(NearestName("soruce", known), "source");  // transposition
  EXPECT_EQ(NearestName("Source", known), "source");  // letter case
  EXPECT_EQ(NearestName("destinatoin", known), "destination");
  EXPECT_EQ(NearestName("sql", known), "lsql");
  EXPECT_EQ(NearestName("output", known), "");
  EXPECT_EQ(NearestName("ab", {"cd"}), "");  // two edits in two letters is no near name
}

}  // namespace
}  // namespace morvex
