#include "engine/runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "engine/script_steps.h"
#include "tests/support/temp_path.h"
#include "text/error.h"
#include "xml/dom.h"
#include "xml/xml_nodes.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using morvex::testing::TempPath;
using TLines = std::vector<std::pair<std::string, int64_t>>;

TEST(QueryTextTest, CommentedMarkupIsUnwrappedOnlyWhenBothMarksAppear) {
  EXPECT_EQ(UnwrapQueryText("/* <lsql><q>select 1</q></lsql> */"), "<lsql><q>select 1</q></lsql>");
  EXPECT_EQ(UnwrapQueryText("/* <a> */ x /* <b> */"), "<a> x <b>");
  EXPECT_EQ(UnwrapQueryText("select 1 /* <note"), "select 1 /* <note");
  EXPECT_EQ(UnwrapQueryText("-- a> */"), "-- a> */");
}

TEST(QueryTextTest, BareSqlIsWrappedAndTemplatesAreNot) {
  EXPECT_EQ(WrapQueryText("select * from t"), "<lsql>\r\nselect * from t\r\n</lsql>");
  EXPECT_EQ(WrapQueryText("<lsql kind=\"inline\"><q>select 1</q></lsql>"),
            "<lsql kind=\"inline\"><q>select 1</q></lsql>");
  EXPECT_EQ(WrapQueryText(""), "<lsql>\r\n\r\n</lsql>");
}

TEST(QueryDocumentTest, SingleStatementBecomesTheCommandElement) {
  TLSQLInfo query;
  query.QueryText = WrapQueryText("select * from t");
  TXmlDocument document = ParseQueryDocument(query);
  _xmlNode* root = DocumentElement(document.get());
  const std::vector<_xmlNode*> statements = ChildElements(root, "INLINE_SQL");
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(ElementText(statements[0]), "\nselect * from t\n");
  EXPECT_EQ(ElementText(root), ElementText(statements[0]));  // no text left beside it

  query.CommandId = "rows";
  query.QueryText = "<lsql><q>select 1</q></lsql>";
  document = ParseQueryDocument(query);
  root = DocumentElement(document.get());
  EXPECT_EQ(ChildElements(root, "rows").size(), 0u);
  EXPECT_EQ(ChildElements(root, "q").size(), 1u);

  query.QueryText = "<lsql/>";
  EXPECT_FALSE(HasChildElement(DocumentElement(ParseQueryDocument(query).get())));
  query.QueryText.clear();
  EXPECT_EQ(ParseQueryDocument(query), nullptr);
}

TEST(QueryDocumentTest, MalformedTextNamesLineAndColumn) {
  TLSQLInfo query;
  query.QueryText = WrapQueryText("select * from t where a < 5");
  try {
    ParseQueryDocument(query);
    FAIL() << "no error";
  } catch (const EMorvexError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("Wrong (L)SQL syntax! [line: 2, col: 26] ", 0), 0u)
        << error.what();
  }
}

TEST(QueryDocumentTest, BareSqlThatIsNoMarkupIsTheOneStatement) {
  TLSQLInfo query;
  query.CommandId = "report";
  const std::string plain = "select * from t\r\nwhere a < 5 && b > 1 -- <x>\r\n";
  query.QueryText = WrapQueryText(plain);
  TXmlDocument document = ParseQueryDocument(query, &plain);
  _xmlNode* root = DocumentElement(document.get());
  const std::vector<_xmlNode*> statements = ChildElements(root, "report");
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(ElementText(statements[0]), plain);
  EXPECT_EQ(ElementText(root), plain);

  // Well-formed bare SQL is parsed as before ("&lt;" is "<").
  const std::string escaped = "select 1 where 2 &lt; 3";
  query.QueryText = WrapQueryText(escaped);
  document = ParseQueryDocument(query, &escaped);
  EXPECT_EQ(ElementText(DocumentElement(document.get())), "\nselect 1 where 2 < 3\n");

  // Text that is not UTF-8 keeps the parser's message.
  const std::string latin1 = "select 'caf\xe9' where 1 < 2";
  query.QueryText = WrapQueryText(latin1);
  EXPECT_THROW(ParseQueryDocument(query, &latin1), EMorvexError);
}

TEST(TransformLabelTest, EveryKindShowsItsText) {
  TXTransformInfo transform;
  EXPECT_EQ(MakeTransformLabel(transform), "");
  const std::vector<std::pair<TTransformKind, std::string>> fixed = {
      {tkXml, "xml"},   {tkXsltInline, "xslt (inline)"}, {tkCsv, "csv"},
      {tkJson, "json"}, {tkJsonXml, "json/xml"},         {tkJsonCsv, "json/csv"}};
  for (const auto& [kind, label] : fixed) {
    transform.Kind = kind;
    EXPECT_EQ(MakeTransformLabel(transform), label) << static_cast<int>(kind);
  }
  transform.Kind = tkXPath;
  transform.Content = "//a\r\n//b";
  EXPECT_EQ(MakeTransformLabel(transform), "xpath (//a; //b)");
  transform.Kind = tkJPath;
  transform.Content = "$.a";
  EXPECT_EQ(MakeTransformLabel(transform), "jpath ($.a)");

  transform.Language = "JScript";
  transform.Kind = tkScriptInline;
  EXPECT_EQ(MakeTransformLabel(transform), "JScript (inline)");
  transform.Kind = tkScript;
  transform.Content = "/jobs/run.js";
  EXPECT_EQ(MakeTransformLabel(transform), "/jobs/run.js");
  transform.Content.clear();
  EXPECT_EQ(MakeTransformLabel(transform), "JScript");
  transform.Language.clear();
  EXPECT_EQ(MakeTransformLabel(transform), "WSH");
  transform.Kind = tkXslt;
  EXPECT_EQ(MakeTransformLabel(transform), "xslt");
}

// Whole runs in a scratch folder that is also the current directory (as for
// the program, where the base directory is the current one), with every
// reported line captured.
class RunProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempPath("runner_" +
                    std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    previous_ = fs::current_path();
    fs::current_path(dir_);
    Write("in.xml", "<rows><r>1</r><r>2</r></rows>");
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
  }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Run(const std::string& project, const std::vector<std::string>& parameters = {}) {
    lines_.clear();
    return RunProject(
        project, parameters, false, dir_.string() + "/", nullptr,
        [this](const std::string& text, int64_t level) { lines_.emplace_back(text, level); });
  }
  static std::string Project(const std::string& scripts) {
    return "<?xml version=\"1.0\"?><morvex>" + scripts + "</morvex>";
  }
  TLines Errors() const {
    TLines errors;
    for (const auto& line : lines_) {
      if (line.second == LevelError) errors.push_back(line);
    }
    return errors;
  }

  fs::path dir_;
  fs::path previous_;
  TLines lines_;
};

TEST_F(RunProjectTest, MissingAndUnparsableProjectsAreReportedAsErrors) {
  EXPECT_FALSE(Run("absent.morvex"));
  EXPECT_EQ(lines_,
            (TLines{{"Project: absent.morvex", LevelError},
                    {"File does not exist!: " + dir_.string() + "/absent.morvex", LevelError}}));

  Write("bad.morvex", "<morvex>\n<script>\n</morvex>");
  EXPECT_FALSE(Run("bad.morvex"));
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0], (std::pair<std::string, int64_t>("Project: bad.morvex", LevelHeadline)));
  EXPECT_EQ(lines_[1].first.rfind("Unsupported project file format! [line: 3, col: ", 0), 0u)
      << lines_[1].first;
}

TEST_F(RunProjectTest, FirstErrorEndsTheProjectAndEarlierOutputStays) {
  const std::string project = Project(
      "<script><source>in.xml</source><destination>one.xml</destination></script>"
      "<script><source>gone.xml</source><destination>two.xml</destination></script>"
      "<script><source>in.xml</source><destination>three.xml</destination></script>");
  EXPECT_FALSE(Run(project));
  const std::string missing = "File does not exist!: " + dir_.string() + "/gone.xml";
  EXPECT_EQ(Errors(), (TLines{{missing, LevelError}}));
  EXPECT_EQ(lines_.back().first, missing);
  EXPECT_EQ(lines_[lines_.size() - 2],
            (std::pair<std::string, int64_t>("Script:         #2", LevelErrorContext)));
  EXPECT_EQ(Read("one.xml"), Read("in.xml"));
  EXPECT_FALSE(fs::exists(dir_ / "three.xml"));
}

TEST_F(RunProjectTest, ScriptsHandDataOnThroughStreams) {
  const std::string project = Project(
      "<script><source>in.xml</source>"
      "<transform kind=\"xpath\">//r[. = 2]</transform>"
      "<destination kind=\"stream\">picked</destination></script>"
      "<script><source kind=\"stream\">PICKED</source>"
      "<transform kind=\"xslt\"><![CDATA[<xsl:stylesheet version=\"1.0\" "
      "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"><xsl:output method=\"text\"/>"
      "<xsl:param name=\"p\"/><xsl:template match=\"/\">"
      "<xsl:value-of select=\"concat($p, ':', //r)\"/></xsl:template></xsl:stylesheet>]]>"
      "</transform><destination>out.txt</destination></script>");
  EXPECT_TRUE(Run(project, {"p=found"})) << (Errors().empty() ? "" : Errors()[0].first);
  EXPECT_EQ(Read("out.txt"), "found:2");
  EXPECT_NE(std::find(lines_.begin(), lines_.end(),
                      std::pair<std::string, int64_t>("1 record(s) processed.", LevelDetail)),
            lines_.end());
  EXPECT_EQ(lines_.back(), (std::pair<std::string, int64_t>(
                               "The project was completed successfully.", LevelHeadline)));
}

TEST_F(RunProjectTest, QueryStepsAreResolvedAndReported) {
  Write("q.sql", "select * from t");
  const std::string project = Project(
      "<script><source>in.xml</source><lsql>q.sql</lsql><destination>a.xml</destination>"
      "</script>"
      "<script><source>in.xml</source><lsql kind=\"stream\"> nothing </lsql>"
      "<destination>b.xml</destination></script>"
      "<script><source>in.xml</source><lsql kind=\"file\"></lsql></script>");
  EXPECT_FALSE(Run(project));
  const std::string base = dir_.string() + "/";
  const TLines expected = {{"Project: inline", LevelHeadline},
                           {"", LevelHeadline},
                           {"Script:         #1", LevelDetail},
                           {"Source:         " + base + "in.xml", LevelDetail},
                           {"SQL:            " + base + "q.sql", LevelDetail},
                           {"Destination:    a.xml", LevelDetail},
                           {"o.k.", LevelDetail},
                           {"", LevelDetail},
                           {"Script:         #2", LevelDetail},
                           {"Source:         " + base + "in.xml", LevelDetail},
                           {"SQL:            nothing", LevelDetail},
                           {"Destination:    b.xml", LevelDetail},
                           {"o.k.", LevelDetail},
                           {"", LevelDetail},
                           {"Script:         #3", LevelDetail},
                           {"Source:         " + base + "in.xml", LevelDetail},
                           // Shown without -v too: the error names no script.
                           {"Script:         #3", LevelErrorContext},
                           {"File does not exist!", LevelError}};  // no name, no path
  EXPECT_EQ(lines_, expected);
}

// Every missing file is named by the path that was looked for, so a user can
// tell a typo from a file in the wrong folder.
TEST_F(RunProjectTest, MissingFilesAreNamedByThePathLookedFor) {
  const std::string base = dir_.string() + "/";
  fs::create_directories(dir_ / "jobs");
  Write("jobs/p.morvex", Project("<script><source>in.xml</source><lsql>q.sql</lsql>"
                                 "<destination>a.xml</destination></script>"));
  EXPECT_FALSE(Run("jobs/p.morvex"));
  // Relative to the current directory, then to the project: the last place.
  EXPECT_EQ(Errors(), (TLines{{"File does not exist!: " + base + "jobs/q.sql", LevelError}}));

  for (const std::string kind : {"xslt", "JScript", "zqscript"}) {
    EXPECT_FALSE(Run(Project("<script><source>in.xml</source><transform kind=\"" + kind +
                             "\">sub/style.txt</transform>"
                             "<destination>a.xml</destination></script>")));
    EXPECT_EQ(Errors(), (TLines{{"File does not exist!: " + base + "sub/style.txt", LevelError}}))
        << kind;
  }

  EXPECT_FALSE(Run(Project("<script><source>/nowhere/in.xml</source></script>")));
  EXPECT_EQ(Errors(), (TLines{{"File does not exist!: /nowhere/in.xml", LevelError}}));
  EXPECT_FALSE(
      Run(Project("<script><source>in.xml</source>"
                  "<lsql kind=\"file\">../q.sql</lsql></script>")));
  EXPECT_EQ(
      Errors(),
      (TLines{{"File does not exist!: " + dir_.parent_path().string() + "/q.sql", LevelError}}));
}

// Every file a project reads (source, query file, stylesheet, script) is
// looked for in the current directory first and then beside the project;
// destinations are written in the current directory.
TEST_F(RunProjectTest, FilesTheProjectReadsAreFoundBesideItFromAnotherDirectory) {
  fs::create_directories(dir_ / "jobs");
  Write("jobs/data.xml", "<rows><r>beside</r></rows>");
  Write("jobs/in.xml", "<rows><r>shadowed</r></rows>");
  Write("jobs/style.xsl",
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:output method=\"text\"/><xsl:template match=\"/\">"
        "<xsl:value-of select=\"//r\"/></xsl:template></xsl:stylesheet>");
  Write("jobs/up.lua", "MORVEX.Destination.Text = string.upper(MORVEX.Source.Text)");
  Write("jobs/p.morvex",
        Project("<script><source>data.xml</source><transform kind=\"xslt\">style.xsl</transform>"
                "<destination>out.txt</destination></script>"
                "<script><source>in.xml</source><destination>copy.xml</destination></script>"
                "<script><source>data.xml</source><transform kind=\"LuaScript\">up.lua</transform>"
                "<destination>up.txt</destination></script>"));
  EXPECT_TRUE(Run("jobs/p.morvex")) << (Errors().empty() ? "" : Errors()[0].first);
  EXPECT_EQ(Read("out.txt"), "beside");
  EXPECT_EQ(Read("copy.xml"), Read("in.xml"));  // the current directory's comes first
  EXPECT_EQ(Read("up.txt"), "\xEF\xBB\xBF<ROWS><R>BESIDE</R></ROWS>");
  EXPECT_FALSE(fs::exists(dir_ / "jobs/out.txt"));
  EXPECT_NE(std::find(lines_.begin(), lines_.end(),
                      std::pair<std::string, int64_t>(
                          "Source:         " + dir_.string() + "/jobs/data.xml", LevelDetail)),
            lines_.end());
}

TEST_F(RunProjectTest, AnyFailureInsideTheRunIsReportedOnceAsAnError) {
  // A failure that is not an EMorvexError (here raised by the output callback
  // itself) still ends the project with its message at the error level.
  lines_.clear();
  bool thrown = false;
  const bool result = RunProject(
      Project("<script><source>in.xml</source><destination>one.xml</destination></script>"), {},
      false, dir_.string() + "/", nullptr, [&](const std::string& text, int64_t level) {
        if (!thrown && text.rfind("Source:", 0) == 0) {
          thrown = true;
          throw std::runtime_error("callback failed");
        }
        lines_.emplace_back(text, level);
      });
  EXPECT_FALSE(result);
  EXPECT_EQ(lines_.back(), (std::pair<std::string, int64_t>("callback failed", LevelError)));
  EXPECT_EQ(Errors().size(), 1u);
  EXPECT_FALSE(fs::exists(dir_ / "one.xml"));
}

TEST_F(RunProjectTest, TestRefusedByAnEvaluatorLimitWarnsAndSkips) {
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "-(";
  deep += "1";
  for (int i = 0; i < 300; ++i) deep += ")";
  std::string chain;
  for (int i = 0; i < 1100; ++i) chain += ":one+";
  const std::string project =
      Project("<script name=\"deep\" test=\"" + deep +
              " = 1\"><source>gone.xml</source></script>"
              "<script test=\"" +
              chain +
              "1 > 0\"><source>gone.xml</source></script>"
              "<script test=\":one = 2\"><source>gone.xml</source></script>");
  EXPECT_TRUE(Run(project, {"one=1"}));
  const TLines expected = {
      {"Project: inline", LevelHeadline},
      {"Parameters: one=1", LevelDetail},
      {"", LevelHeadline},
      {"Script:         deep (#1)", LevelDetail},
      {"Warning: script deep (#1): the test exceeds the evaluator's nesting depth "
       "limit (256 levels) and counts as false.",
       LevelHeadline},
      {"Skipped", LevelDetail},
      {"", LevelDetail},
      {"Script:         #2", LevelDetail},
      {"Warning: script #2: the test exceeds the evaluator's expression size limit "
       "(1024 operations in a row) and counts as false.",
       LevelHeadline},
      {"Skipped", LevelDetail},
      {"", LevelDetail},
      {"Script:         #3", LevelDetail},  // an ordinary false test: no warning
      {"Skipped", LevelDetail},
      {"", LevelDetail},
      {"The project was completed successfully.", LevelHeadline}};
  EXPECT_EQ(lines_, expected);
}

TEST_F(RunProjectTest, DestinationsThatAreInputsAreRefusedAndKeepTheirBytes) {
  Write("q.sql", "select 1");
  Write("shop.db", "database bytes");
  Write("style.xsl", "<stylesheet/>");
  fs::create_directories(dir_ / "sub");
  fs::create_symlink("q.sql", dir_ / "q-link.sql");
  fs::create_hard_link(dir_ / "shop.db", dir_ / "shop-alias.db");
  const struct {
    std::string script;
    std::string error;
  } cases[] = {
      {"<source>in.xml</source><destination>sub/../p.morvex</destination>",
       "Project and destination files must be different!"},
      {"<source>in.xml</source><lsql>q.sql</lsql><destination>q-link.sql</destination>",
       "Query and destination files must be different!"},
      {"<source kind=\"oledb\"><connection-string>Provider=SQLite.3;Data Source=shop.db"
       "</connection-string></source><lsql kind=\"inline\"><r>select 1</r></lsql>"
       "<transform kind=\"xml\"/><destination>shop-alias.db</destination>",
       "Source and destination files must be different!"},
      {"<source>in.xml</source><transform kind=\"xslt\">style.xsl</transform>"
       "<destination>sub/../style.xsl</destination>",
       "Stylesheet and destination files must be different!"},
  };
  for (const auto& [script, error] : cases) {
    const std::string project = Project("<script>" + script + "</script>");
    Write("p.morvex", project);
    EXPECT_FALSE(Run("p.morvex")) << script;
    EXPECT_EQ(Errors(), (TLines{{error, LevelError}})) << script;
    EXPECT_EQ(Read("p.morvex"), project);
  }
  EXPECT_EQ(Read("q.sql"), "select 1");
  EXPECT_EQ(Read("shop.db"), "database bytes");
  EXPECT_EQ(Read("style.xsl"), "<stylesheet/>");

  // Another database, or a project given as text, is no input of the file.
  Write("inline.morvex", "not the project");
  EXPECT_TRUE(
      Run(Project("<script><source>in.xml</source>"
                  "<destination>inline.morvex</destination></script>")));
  EXPECT_EQ(Read("inline.morvex"), Read("in.xml"));
}

TEST_F(RunProjectTest, AFailedStepLeavesNoDestinationAndNoTemporaryFile) {
  Write("out.txt", "yesterday's output");
  const std::string project = Project(
      "<script><source>in.xml</source><transform kind=\"xslt\"><![CDATA["
      "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
      "<xsl:output method=\"text\"/><xsl:template match=\"/\">"
      "<xsl:for-each select=\"//r\"><xsl:value-of select=\".\"/>"
      "<xsl:if test=\". = 2\"><xsl:message terminate=\"yes\">stop</xsl:message></xsl:if>"
      "</xsl:for-each></xsl:template></xsl:stylesheet>]]></transform>"
      "<destination>out.txt</destination></script>");
  EXPECT_FALSE(Run(project));
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].first.rfind("XSL Transformation error: ", 0), 0u) << Errors()[0].first;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"in.xml"});
}

TEST_F(RunProjectTest, MissingCallbacksAreAllowed) {
  EXPECT_TRUE(RunProject(Project("<script test=\"0\"><source>x</source></script>"), {"a=1"}, true,
                         dir_.string() + "/", nullptr, nullptr));
  EXPECT_FALSE(RunProject(Project("<script><source>x</source></script>"), {}, false,
                          dir_.string() + "/", nullptr, nullptr));
}

}  // namespace
}  // namespace morvex
