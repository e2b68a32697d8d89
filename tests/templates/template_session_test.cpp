// Query template sessions on real databases: a SQLite file, and the
// PostgreSQL server through libpq and through ODBC.
#include "templates/template_session.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "db/connection_string.h"
#include "tests/support/template_document.h"
#include "tests/support/test_database.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/xml_ptr.h"

namespace morvex {
namespace {

using detail::xml_ptr;
using Lines = std::vector<std::string>;

// Each session opens its own connection from the test's connection string;
// the fixture's connection sets up and reads back the tables.
class SessionTest : public testing::TDatabaseTest {
 protected:
  TXmlElement Load(const std::string& xml) {
    return ElementView(testing::LoadTemplateDocument(Sql(xml), doc_));
  }

  // Runs the template `xml` without a transform; returns the progress lines.
  Lines Run(const std::string& xml, const std::vector<std::string>& parameters = {},
            bool oneTransaction = false) {
    const TXmlElement root = Load(xml);
    Lines lines;
    TMemoryStream output;
    RunQueryTemplate(
        ConnectionString(), oneTransaction, TQueryOutputKind::None, TXTransformInfo{},
        [&](const std::string& line) { lines.push_back(line); }, output, TXmlElement(), parameters,
        root);
    EXPECT_EQ(output.Size(), 0);
    return lines;
  }

  std::string RunError(const std::string& xml, bool oneTransaction) {
    try {
      Run(xml, {}, oneTransaction);
    } catch (const EMorvexError& error) {
      return error.what();
    }
    return "no error";
  }

  xml_ptr<xmlDoc> doc_;
};

TEST_P(SessionTest, NestedStatementsRunOncePerParentRecord) {
  CreateTable("orders", "id INTEGER");
  CreateTable("items", "order_id INTEGER, name VARCHAR(10)");
  CreateTable("log", "order_id INTEGER, name VARCHAR(10)");
  Exec("INSERT INTO {orders} VALUES (1), (2), (3)");
  Exec("INSERT INTO {items} VALUES (1, 'a'), (1, 'b'), (3, 'c')");
  const Lines lines =
      Run("<lsql><orders>SELECT id FROM {orders} ORDER BY id"
          "<items>SELECT name FROM {items} WHERE order_id = :orders$id ORDER BY name"
          "<log>INSERT INTO {log} VALUES (:orders$id, :items$name)</log>"
          "</items></orders></lsql>");
  EXPECT_EQ(Column("SELECT order_id || name FROM {log} ORDER BY order_id, name"),
            (Lines{"1a", "1b", "3c"}));
  EXPECT_EQ(lines, (Lines{"orders: 3 record(s) processed.", "3 record(s) affected."}));
}

TEST_P(SessionTest, PhasesRunAfterOpenMainAndBeforeCloseOnceEach) {
  CreateTable("log", "seq INTEGER, what VARCHAR(10)");
  // Each statement appends its own name with the next sequence number.
  std::string xml =
      "<lsql>"
      "<close before-close='yes'>close</close>"
      "<main>SELECT 1 AS x<nested after-open='yes'>nested</nested><inner>inner</inner></main>"
      "<open after-open='true'>open</open>"
      "<both after-open='1' before-close='1'>both</both>"
      "<plain before-close='TRUE'>plain</plain>"
      "</lsql>";
  for (const std::string what : {"close", "nested", "inner", "open", "both", "plain"}) {
    const std::string text = ">" + what + "<";
    xml.replace(xml.find(text), text.size(),
                ">INSERT INTO {log} SELECT COUNT(*), '" + what + "' FROM {log}<");
  }
  Run(xml);
  EXPECT_EQ(Column("SELECT what FROM {log} ORDER BY seq"),
            (Lines{"open", "both", "inner", "plain", "close"}));
}

TEST_P(SessionTest, LaterStatementsReadTheLastRecordOfAFinishedOne) {
  CreateTable("t", "id INTEGER");
  CreateTable("log", "n INTEGER");
  Exec("INSERT INTO {t} VALUES (1), (2), (3)");
  Run("<lsql><a>SELECT id FROM {t} ORDER BY id</a>"
      "<b>INSERT INTO {log} VALUES (:a$id)</b>"
      "<c test=':A$ID = 3'>INSERT INTO {log} VALUES (30)</c>"
      // Only siblings and ancestors are searched: a is neither for e.
      "<d>SELECT 1 AS x<e>INSERT INTO {log} VALUES (:a$id + 100)</e></d></lsql>");
  EXPECT_EQ(Column("SELECT COALESCE(n, -1) FROM {log} ORDER BY 1"), (Lines{"-1", "3", "30"}));
}

TEST_P(SessionTest, ConditionsSeeParametersAndRowCounts) {
  CreateTable("t", "id INTEGER, x INTEGER");
  CreateTable("log", "what VARCHAR(10), n INTEGER");
  Exec("INSERT INTO {t} VALUES (1, 0), (2, 0), (3, 0)");
  Run("<lsql>"
      "<u>UPDATE {t} SET x = 1 WHERE id &lt;= :limit</u>"
      "<yes test=':u$rowsaffected = 2'>INSERT INTO {log} VALUES ('yes', :U$ROWSAFFECTED)</yes>"
      "<no test=':u$rowsaffected &lt;&gt; 2'>INSERT INTO {log} VALUES ('no', 0)</no>"
      "<p test=':p = 5'>INSERT INTO {log} VALUES ('p', :p)</p>"
      "<p6 test=':p = 6'>INSERT INTO {log} VALUES ('p6', 0)</p6>"
      "<unknown test=':nothing = 5'>INSERT INTO {log} VALUES ('unknown', 0)</unknown>"
      "<empty test=''>INSERT INTO {log} VALUES ('empty', 0)</empty>"
      "</lsql>",
      {"limit=2", "p=5"});
  EXPECT_EQ(Column("SELECT what || '=' || n FROM {log} ORDER BY what"),
            (Lines{"empty=0", "p=5", "yes=2"}));
}

TEST_P(SessionTest, OneTransactionRollsBackTheFailingPhase) {
  CreateTable("t", "id INTEGER");
  const std::string xml =
      "<lsql><first after-open='yes'>INSERT INTO {t} VALUES (0)</first>"
      "<a>INSERT INTO {t} VALUES (1)</a><b>INSERT INTO {missing} VALUES (1)</b>"
      "<c>INSERT INTO {t} VALUES (2)</c></lsql>";
  const std::string message = RunError(xml, true);
  EXPECT_EQ(message.rfind("b: ", 0), 0u) << message;
  // The after-open phase was committed on its own; nothing of the main phase
  // stays, and the message says so on a line of its own.
  EXPECT_EQ(Column("SELECT id FROM {t} ORDER BY id"), (Lines{"0"}));
  EXPECT_TRUE(message.ends_with("\n" + std::string(kPhaseRolledBack))) << message;

  Exec("DELETE FROM {t}");
  const std::string kept = RunError(xml, false);
  EXPECT_EQ(kept.rfind("b: ", 0), 0u);
  EXPECT_EQ(kept.find(kPhaseRolledBack), std::string::npos);
  EXPECT_EQ(Column("SELECT id FROM {t} ORDER BY id"), (Lines{"0", "1"}));
}

TEST_P(SessionTest, OneTransactionCommitsEveryPhase) {
  CreateTable("t", "id INTEGER");
  Run("<lsql><a after-open='yes'>INSERT INTO {t} VALUES (1)</a>"
      "<b>INSERT INTO {t} VALUES (2)</b>"
      "<c before-close='yes'>INSERT INTO {t} VALUES (3)</c></lsql>",
      {}, true);
  EXPECT_EQ(Column("SELECT id FROM {t} ORDER BY id"), (Lines{"1", "2", "3"}));
}

TEST_P(SessionTest, StatementsInCDataRunAndUntypedParametersBindInATransaction) {
  CreateTable("orders", "id INTEGER, city VARCHAR(20), amount INTEGER");
  CreateTable("log", "id INTEGER");
  Exec("INSERT INTO {orders} VALUES (1, 'Brno', 100), (2, 'Praha', 700), (3, 'Brno', 900)");
  const std::string xml =
      "<lsql><orders><![CDATA[SELECT id FROM {orders} WHERE amount < 500 OR "
      "(:city IS NULL OR city = :city) AND amount > 800 ORDER BY id]]>"
      "<log>INSERT INTO {log} VALUES (:orders$id)</log></orders></lsql>";
  for (const bool oneTransaction : {true, false}) {
    Exec("DELETE FROM {log}");
    EXPECT_EQ(Run(xml, {"city=Brno"}, oneTransaction),
              (Lines{"orders: 2 record(s) processed.", "2 record(s) affected."}));
    EXPECT_EQ(Column("SELECT id FROM {log} ORDER BY id"), (Lines{"1", "3"}));
    Exec("DELETE FROM {log}");
    Run(xml, {"city=Praha"}, oneTransaction);
    EXPECT_EQ(Column("SELECT id FROM {log} ORDER BY id"), (Lines{"1"}));
  }
}

TEST_P(SessionTest, ErrorsNameElementsAndRecordsOutermostFirst) {
  CreateTable("orders", "id INTEGER");
  CreateTable("strict", "id INTEGER PRIMARY KEY");
  Exec("INSERT INTO {orders} VALUES (1), (2)");
  Exec("INSERT INTO {strict} VALUES (2)");
  const std::string xml =
      "<lsql><orders>SELECT id FROM {orders} ORDER BY id"
      "<items>SELECT 'x' AS v"
      "<check>INSERT INTO {strict} VALUES (:orders$id)</check>"
      "</items></orders></lsql>";
  const std::string message = RunError(xml, false);
  EXPECT_EQ(message.rfind("orders: Record #2: items: Record #1: check: ", 0), 0u) << message;
  EXPECT_GT(message.size(), std::string("orders: Record #2: items: Record #1: check: ").size());
  // The first record's change was committed as it ran, while the server
  // still read the orders through an open cursor.
  EXPECT_EQ(Column("SELECT id FROM {strict} ORDER BY id"), (Lines{"1", "2"}));

  Exec("DELETE FROM {strict} WHERE id = 1");
  EXPECT_EQ(RunError(xml, true).rfind("orders: Record #2: ", 0), 0u);
  EXPECT_EQ(Column("SELECT id FROM {strict} ORDER BY id"), (Lines{"2"}));
}

TEST_P(SessionTest, ProgressEveryTenThousandRecordsAndNoAffectedLineForZero) {
  const Lines lines =
      Run("<lsql><c>WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x &lt; "
          "20001) SELECT x FROM n</c></lsql>");
  EXPECT_EQ(lines, (Lines{"c: 10000 records processed ...", "c: 20000 records processed ...",
                          "c: 20001 record(s) processed."}));

  // Without a sink nothing is reported and nothing fails.
  const TXmlElement root = Load("<lsql><c>SELECT 1</c></lsql>");
  TMemoryStream output;
  RunQueryTemplate(ConnectionString(), false, TQueryOutputKind::None, TXTransformInfo{},
                   ProgressSink(), output, TXmlElement(), {}, root);
}

TEST_P(SessionTest, UserWrittenHandlesAreIgnored) {
  CreateTable("log", "n INTEGER");
  Run("<lsql><a>SELECT 5 AS id</a>"
      "<x morvex-qptr='1'><y>INSERT INTO {log} VALUES (1)</y></x>"
      "<z>INSERT INTO {log} VALUES (:x$id)</z>"
      "<w>INSERT INTO {log} VALUES (:a$id)</w></lsql>");
  // x has no statement text: neither it nor its child y runs, and :x$id
  // finds no dataset even though x claims the handle of a.
  EXPECT_EQ(Column("SELECT COALESCE(n, -1) FROM {log} ORDER BY 1"), (Lines{"-1", "5"}));
}

TEST_P(SessionTest, OutputKindChoosesTheWriter) {
  CreateTable("t", "id INTEGER");
  Exec("INSERT INTO {t} VALUES (7)");
  TXTransformInfo options;
  options.HeaderRow = false;
  TMemoryStream csv;
  RunQueryTemplate(ConnectionString(), false, TQueryOutputKind::Csv, options, ProgressSink(), csv,
                   TXmlElement(), {}, Load("<lsql><t>SELECT id FROM {t}</t></lsql>"));
  EXPECT_EQ(csv.Data(),
            "\xEF\xBB\xBF"
            "7\r\n");  // UTF-8 with its byte-order mark

  TMemoryStream xml;
  RunQueryTemplate(ConnectionString(), false, TQueryOutputKind::DatasetXml, options, ProgressSink(),
                   xml, TXmlElement(), {}, Load("<lsql><t>SELECT id FROM {t}</t></lsql>"));
  EXPECT_NE(xml.Data().find("<t><r><id>7</id></r></t>"), std::string::npos) << xml.Data();
}

TEST_P(SessionTest, ImportSessionRunsTheImporterInsideTheSession) {
  CreateTable("t", "id INTEGER, name VARCHAR(10)");
  const TXmlElement root =
      Load("<lsql><ins>INSERT INTO {t} VALUES (:source$id, :source$name)</ins></lsql>");
  const std::vector<TNameValuePairs> records = {{{"source$id", "1"}, {"source$name", "Ann"}},
                                                {{"source$id", "x"}, {"source$name", "Bob"}}};
  int64_t affected = 0;
  RunImportSession(ConnectionString(), true, ProgressSink(), TXmlElement(), {}, root,
                   [&](TLSQLConnHelper& helper, const TTemplateTree& tree) {
                     const std::vector<std::string> entries;
                     const TParameterValues parameters(&entries);
                     affected += ExecuteTemplate(tree.Root(), &parameters, &records[0], false,
                                                 ProgressSink(), helper);
                     CloseTemplate(tree.Root(), false, helper);
                   });
  EXPECT_EQ(affected, 1);
  EXPECT_EQ(Column("SELECT name FROM {t}"), (Lines{"Ann"}));

  // A failing importer leaves nothing of its records behind with one-transaction.
  Exec("DELETE FROM {t}");
  EXPECT_THROW(RunImportSession(ConnectionString(), true, ProgressSink(), TXmlElement(), {}, root,
                                [&](TLSQLConnHelper& helper, const TTemplateTree& tree) {
                                  ExecuteTemplate(tree.Root(), nullptr, &records[0], false,
                                                  ProgressSink(), helper);
                                  CloseTemplate(tree.Root(), false, helper);
                                  throw EMorvexError("record 2 is broken");
                                }),
               EMorvexError);
  EXPECT_TRUE(Column("SELECT name FROM {t}").empty());

  EXPECT_THROW(RunImportSession(ConnectionString(), false, ProgressSink(), TXmlElement(), {}, root,
                                TTemplateImporter()),
               EMorvexError);
}

INSTANTIATE_TEST_SUITE_P(Backends, SessionTest, testing::AllTestDbs(), testing::TestDbParamName);

// Sessions and conditions that need no particular database.
class TemplateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_ = OpenConnection("Data Source=:memory:");
    helper_ = std::make_unique<TLSQLConnHelper>(*connection_);
  }

  // The tree of the template `xml`, kept by the fixture.
  const TTemplateTree& Load(const std::string& xml) {
    tree_ = testing::LoadTemplateTree(xml);
    return *tree_;
  }

  std::unique_ptr<TTemplateTree> tree_;
  std::unique_ptr<TDbConnection> connection_;
  std::unique_ptr<TLSQLConnHelper> helper_;
};

TEST_F(TemplateTest, ConditionsReplaceLongestNamesFirstThenPairsThenReferences) {
  const TTemplateTree& root = Load("<lsql><a>-</a><s>-</s></lsql>");
  const TTemplateStatement& s = testing::StatementAt(root, "s");
  const std::vector<std::string> entries = {"p=5", "pq=7", "empty="};
  const TParameterValues parameters(&entries);
  EXPECT_TRUE(EvaluateTest("", s, &parameters, *helper_, nullptr));
  EXPECT_TRUE(EvaluateTest(":pq = 7 and :P = 5", s, &parameters, *helper_, nullptr));
  EXPECT_FALSE(EvaluateTest(":p = 6", s, &parameters, *helper_, nullptr));
  EXPECT_FALSE(EvaluateTest(":nothing = 5", s, &parameters, *helper_, nullptr));
  EXPECT_TRUE(EvaluateTest("':empty' = ''", s, &parameters, *helper_, nullptr));

  const TNameValuePairs pairs = {{"Source$Name", "a\r\nb"}, {"p", "9"}};
  EXPECT_TRUE(EvaluateTest("':source$name' = 'a b'", s, &parameters, *helper_, &pairs));
  EXPECT_TRUE(EvaluateTest(":p = 5", s, &parameters, *helper_, &pairs));  // parameters first

  helper_->AttachDataset(testing::StatementAt(root, "a").Index,
                         helper_->CreateDataset("SELECT 'x ' AS f"));
  helper_->ExecuteDataset(*helper_->DatasetOf(testing::StatementAt(root, "a").Index));
  EXPECT_TRUE(EvaluateTest("':a$f' = 'x'", s, &parameters, *helper_, nullptr));
  EXPECT_TRUE(EvaluateTest("':a$none' = ''", s, &parameters, *helper_, nullptr));
}

// A name in any script reads in a condition as it binds in a statement: a
// run parameter, a record's pair, a field of an earlier statement.
TEST_F(TemplateTest, ConditionsReadNamesInAnyScript) {
  const TTemplateTree& root = Load("<lsql><m\xC4\x9Bsta>-</m\xC4\x9Bsta><s>-</s></lsql>");
  const TTemplateStatement& s = testing::StatementAt(root, "s");
  const std::vector<std::string> entries = {"M\xC4\x9ASTO=Brno"};  // MĚSTO
  const TParameterValues parameters(&entries);
  EXPECT_TRUE(EvaluateTest("':m\xC4\x9Bsto' = 'Brno'", s, &parameters, *helper_, nullptr));
  EXPECT_FALSE(EvaluateTest("':m\xC4\x9Bsto' = ''", s, &parameters, *helper_, nullptr));

  const TNameValuePairs pairs = {{"zdroj$\xC4\x8D\xC3\xADslo", "7"}};  // zdroj$číslo
  EXPECT_TRUE(EvaluateTest(":zdroj$\xC4\x8D\xC3\xADslo = 7", s, nullptr, *helper_, &pairs));

  const size_t mesta = testing::StatementAt(root, "m\xC4\x9Bsta").Index;
  helper_->AttachDataset(mesta, helper_->CreateDataset("SELECT 'Plze\xC5\x88' AS n\xC3\xA1zev"));
  helper_->ExecuteDataset(*helper_->DatasetOf(mesta));
  EXPECT_TRUE(
      EvaluateTest("':m\xC4\x9Bsta$n\xC3\xA1zev' = 'Plze\xC5\x88'", s, nullptr, *helper_, nullptr));
}

// Values of the record (CSV columns, XML pairs, fields of other statements)
// enter a condition as one literal each: a value cannot add operators.
// Run parameters stay text of the condition.
TEST_F(TemplateTest, RecordValuesEnterConditionsAsOneLiteral) {
  const TTemplateTree& root = Load("<lsql><a>-</a><s>-</s></lsql>");
  const TTemplateStatement& s = testing::StatementAt(root, "s");
  const std::vector<std::string> entries = {"expr=1 or 1"};
  TParameterValues columns({{"source$v"}, {"source$n"}, {"source$t"}}, &entries);
  std::vector<std::string> cells;
  const auto holds = [&](std::string_view test, std::vector<std::string> values) {
    cells = std::move(values);
    columns.SetCells(cells);
    return EvaluateTest(test, s, &columns, *helper_, nullptr);
  };
  // Hostile values: outside quotes they are a text, inside quotes their own
  // quotes are doubled.
  EXPECT_FALSE(holds(":source$v = 5", {"1 or 1", "", ""}));
  EXPECT_FALSE(holds("':source$v' = 'y'", {"x' = 'x", "", ""}));
  EXPECT_TRUE(holds("':source$v' = 'x'' = ''x'", {"x' = 'x", "", ""}));
  EXPECT_TRUE(holds(":source$v = 'o''brien'", {"O'Brien", "", ""}));
  // What works today keeps working: numbers compare as numbers, quoted
  // values as texts; a text outside quotes is now a text too.
  EXPECT_TRUE(holds(":source$n > 4 and :source$n < 6", {"", " 5 ", ""}));
  EXPECT_TRUE(holds(":source$n * 2 = 3", {"", "1.5", ""}));
  EXPECT_TRUE(holds("-:source$n = 3 and :source$n + 1 = -2", {"", "-3", ""}));
  EXPECT_TRUE(holds(":source$n = 1e3", {"", "1E3", ""}));
  EXPECT_TRUE(holds("':source$t' = 'Brno'", {"", "", "brno"}));
  EXPECT_TRUE(holds(":source$t = 'Brno'", {"", "", "brno"}));
  EXPECT_FALSE(holds(":source$t = 5", {"", "", "5x"}));
  EXPECT_TRUE(holds("':source$t' = ''", {"", "", ""}));
  EXPECT_TRUE(holds(":expr", {"", "", ""}));  // a run parameter is condition text

  const TNameValuePairs pairs = {{"source$v", "1 or 1"}, {"source$q", "it's"}};
  EXPECT_FALSE(EvaluateTest(":source$v = 5", s, nullptr, *helper_, &pairs));
  EXPECT_TRUE(EvaluateTest(":source$q = 'it''s'", s, nullptr, *helper_, &pairs));
  EXPECT_TRUE(EvaluateTest("':source$q' = 'it''s'", s, nullptr, *helper_, &pairs));

  helper_->AttachDataset(testing::StatementAt(root, "a").Index,
                         helper_->CreateDataset("SELECT '1 or 1' AS f, 7 AS n"));
  helper_->ExecuteDataset(*helper_->DatasetOf(testing::StatementAt(root, "a").Index));
  EXPECT_FALSE(EvaluateTest(":a$f = 5", s, nullptr, *helper_, nullptr));
  EXPECT_TRUE(EvaluateTest(":a$f = '1 OR 1'", s, nullptr, *helper_, nullptr));
  EXPECT_TRUE(EvaluateTest(":a$n = 7", s, nullptr, *helper_, nullptr));
}

TEST_F(TemplateTest, PreparationFindsStatementElementsAndTheirPhases) {
  const TTemplateTree& root = Load(
      "<lsql><a>  SELECT 1<b after-open='yes'>SELECT 2</b></a>"
      "<wrapper><c>SELECT 3</c></wrapper>"
      "<d>\n  <![CDATA[SELECT 4 WHERE 1 < 2]]></d>"
      "<e before-close='yes'><!-- note --> SELECT 5 </e>"
      "<f>SELECT <![CDATA[6 AS x WHERE 1 < 2]]> AND 2 &gt; 1<!-- end -->ignored</f>"
      "<g> <![CDATA[ ]]> </g></lsql>");
  PrepareTemplate(root, TXmlElement(), *helper_);
  const auto datasetAt = [&](std::string_view path) -> TLSQLDataset* {
    const TTemplateStatement* statement = testing::FindStatement(root, path);
    return statement ? helper_->DatasetOf(statement->Index) : nullptr;
  };
  TLSQLDataset* a = datasetAt("a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->StatementText(), "SELECT 1");
  EXPECT_EQ(a->Phase, TPhase::Main);
  EXPECT_EQ(datasetAt("a/b")->Phase, TPhase::AfterOpen);
  EXPECT_EQ(datasetAt("wrapper"), nullptr);
  EXPECT_EQ(datasetAt("wrapper/c"), nullptr);
  // CDATA is statement text like plain text, also in the middle of it.
  ASSERT_NE(datasetAt("d"), nullptr);
  EXPECT_EQ(datasetAt("d")->StatementText(), "SELECT 4 WHERE 1 < 2");
  ASSERT_NE(datasetAt("f"), nullptr);
  EXPECT_EQ(datasetAt("f")->StatementText(), "SELECT 6 AS x WHERE 1 < 2 AND 2 > 1");
  EXPECT_EQ(datasetAt("g"), nullptr);
  TLSQLDataset* e = datasetAt("e");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->StatementText(), "SELECT 5 ");
  EXPECT_EQ(e->Phase, TPhase::BeforeClose);
  EXPECT_TRUE(helper_->HasAfterOpen);
  EXPECT_TRUE(helper_->HasBeforeClose);

  CloseTemplate(root.Root(), true, *helper_);
  EXPECT_EQ(datasetAt("a"), nullptr);
  EXPECT_TRUE(IsTemplateRoot(root.Root()));
  EXPECT_FALSE(IsTemplateRoot(testing::StatementAt(root, "a")));
}

TEST(TemplateSession, MissingDatabaseCannotConnect) {
  xml_ptr<xmlDoc> doc(xmlReadMemory("<lsql><a>SELECT 1</a></lsql>", 28, nullptr, nullptr, 0));
  TMemoryStream output;
  try {
    RunQueryTemplate("Data Source=/nonexistent/morvex.db", false, TQueryOutputKind::None,
                     TXTransformInfo{}, ProgressSink(), output, TXmlElement(), {},
                     ElementView(xmlDocGetRootElement(doc.get())));
    FAIL() << "no error";
  } catch (const EMorvexError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("Cannot connect to database!", 0), 0u)
        << error.what();
  }
}

}  // namespace
}  // namespace morvex
