// CSV and XML records imported into real tables through the template
// session: a SQLite file, and the PostgreSQL server through libpq and ODBC.
#include "convert/csv_record_import.h"
#include "convert/xml_record_import.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include "templates/template_session.h"
#include "tests/convert/convert_test_util.h"
#include "tests/convert/record_import_fixture.h"
#include "tests/support/template_document.h"
#include "tests/support/test_database.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {
namespace {

TEST_P(ImportTest, CsvColumnsByHeaderAndNumberBesideRunParameters) {
  CreateTable("t", "a VARCHAR(40), b VARCHAR(40), c VARCHAR(40), d VARCHAR(40)");
  // "2nd" gives the header name nd; a run parameter named like a column is
  // hidden by the column, the others are offered.
  const Lines lines =
      Import(TFormat::Csv, "Order No;2nd;x\r\nA1;first;\r\nA2;\"two\r\nlines\";z;extra\n",
             "<lsql><ins>INSERT INTO {t} VALUES (:source$Order_No, :source$nd || '/' || :source$2, "
             ":source$3, :source$4 || :tag)</ins></lsql>",
             false, {"source$1=hidden", "SOURCE$ORDER_NO=hidden too", "tag=!"});
  EXPECT_EQ(lines, (Lines{"2 record(s) processed.", "2 record(s) affected."}));
  // An empty cell binds as Null; the shorter first row is filled up.
  EXPECT_EQ(Rows("a, b, c, d"),
            (Lines{"A1|first/first|<null>|<null>", "A2|two\r\nlines/two\r\nlines|z|extra!"}));
}

TEST_P(ImportTest, CsvWithoutHeaderRowAndWithoutDataRows) {
  CreateTable("t", "a VARCHAR(20), b VARCHAR(20), c VARCHAR(20)");
  options_.HeaderRow = false;
  options_.Delimiter = ",";
  options_.Quote = "'";
  Import(TFormat::Csv, "1,'a,b'\n2,' x '\n",
         "<lsql><ins>INSERT INTO {t} VALUES (:source$1, :source$2, :source$id)</ins></lsql>");
  // Values pass exactly as read, blanks included; no header name exists.
  EXPECT_EQ(Rows(), (Lines{"1|a,b|<null>", "2| x |<null>"}));

  options_.HeaderRow = true;
  EXPECT_EQ(Import(TFormat::Csv, "id\r\n", kInsertIdName),
            (Lines{"0 record(s) processed.", "0 record(s) affected."}));
  // An empty input fails saying so and runs nothing.
  EXPECT_EQ(ImportError(TFormat::Csv, "", kInsertIdName, false), "The CSV input is empty.");
}

// A failing record stops the import: with one-transaction the table is
// exactly as before; without it the earlier records stay and are counted.
// (The run without a transaction is shorter: SQLite commits every record to
// disk then.)
TEST_P(ImportTest, FailingRecordStopsTheImport) {
  for (const TFormat format : {TFormat::Csv, TFormat::Xml}) {
    SCOPED_TRACE(format == TFormat::Csv ? "CSV" : "XML");
    CreateTable("t", "id INTEGER PRIMARY KEY, name VARCHAR(20)");
    Exec("INSERT INTO {t} VALUES (5000, 'already here'), (50, 'here too')");
    const auto input = [format](int count) {
      return format == TFormat::Csv ? NumberedCsv(count) : NumberedXml(count);
    };
    const std::string before = Checksum();

    std::string message = ImportError(format, input(10000), kInsertIdName, true);
    EXPECT_EQ(message.rfind("Record #50: ins: ", 0), 0u) << message;
    EXPECT_EQ(Checksum(), before);
    EXPECT_EQ(lines_, Lines{});

    Exec("DELETE FROM {t} WHERE id = 50");
    const std::string beforeLater = Checksum();
    message = ImportError(format, input(10000), kInsertIdName, true);
    EXPECT_EQ(message.rfind("Record #5000: ins: ", 0), 0u) << message;
    EXPECT_EQ(Checksum(), beforeLater);

    Exec("INSERT INTO {t} VALUES (50, 'here too')");
    message = ImportError(format, input(100), kInsertIdName, false);
    EXPECT_EQ(message.rfind("Record #50: ins: ", 0), 0u) << message;
    EXPECT_GT(message.size(), std::string("Record #50: ins: ").size());  // the server's reason
    EXPECT_EQ(Column("SELECT COUNT(*) FROM {t}"), Lines{"51"});
    EXPECT_EQ(Column("SELECT MAX(id) FROM {t} WHERE id < 50"), Lines{"49"});
    EXPECT_EQ(lines_, (Lines{"49 record(s) processed.", "49 record(s) affected."}));

    Exec("DELETE FROM {t}");
    EXPECT_EQ(Import(format, input(10000), kInsertIdName, true),
              (Lines{"10000 records processed ...", "10000 record(s) processed.",
                     "10000 record(s) affected."}));
    EXPECT_EQ(Column("SELECT COUNT(*) FROM {t}"), Lines{"10000"});
  }
}

TEST_P(ImportTest, MalformedXmlKeepsOrRollsBackTheRecordsBeforeIt) {
  CreateTable("t", "id INTEGER, name VARCHAR(20)");
  const std::string input =
      "<rows><row><id>1</id></row><row><id>2</id></row>\n<row><id>3</i></row>";
  std::string message = ImportError(TFormat::Xml, input, kInsertIdName, true);
  EXPECT_NE(message.find("[line: 2, col: "), std::string::npos) << message;
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {t}"), Lines{"0"});

  message = ImportError(TFormat::Xml, input, kInsertIdName, false);
  EXPECT_NE(message.find("[line: 2, col: "), std::string::npos) << message;
  EXPECT_EQ(Column("SELECT id FROM {t} ORDER BY id"), (Lines{"1", "2"}));
  EXPECT_EQ(lines_, (Lines{"2 record(s) processed.", "2 record(s) affected."}));
}

// A quoted value never closed fails at the end of the input, naming its
// line; the records before it are kept, or rolled back with one-transaction.
TEST_P(ImportTest, UnclosedCsvQuoteKeepsOrRollsBackTheRecordsBeforeIt) {
  CreateTable("t", "id INTEGER, name VARCHAR(20)");
  const std::string input = "id;name\r\n1;a\r\n2;b\r\n3;\"c\r\n4;d\r\n";
  const std::string expected =
      "The quoted value that opens on line 4 is not closed at the end of the CSV input.";
  // With one-transaction the message says that the rollback kept nothing.
  EXPECT_EQ(ImportError(TFormat::Csv, input, kInsertIdName, true),
            expected + "\n" + std::string(kPhaseRolledBack));
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {t}"), Lines{"0"});
  EXPECT_EQ(ImportError(TFormat::Csv, input, kInsertIdName, false), expected);
  EXPECT_EQ(Column("SELECT id FROM {t} ORDER BY id"), (Lines{"1", "2"}));
  EXPECT_EQ(lines_, (Lines{"2 record(s) processed.", "2 record(s) affected."}));

  // Bytes that are not UTF-8: one warning line before the totals.
  Exec("DELETE FROM {t}");
  const Lines lines = Import(TFormat::Csv, "id;name\r\n5;caf\xE9\r\n", kInsertIdName);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("Warning: 1 value(s) of the CSV input held bytes", 0), 0u) << lines[0];
  EXPECT_EQ(Rows("id, name"), Lines{"5|caf\xEF\xBF\xBD"});
}

// A table written as CSV and as dataset XML and imported back into an empty
// table gives the same rows. The dataset layout writes Null as an empty
// element, which the template turns back into Null with NULLIF.
TEST_P(ImportTest, ExportedTableImportsBackUnchanged) {
  CreateTable("src",
              "id INTEGER, name VARCHAR(40), note VARCHAR(40), amount NUMERIC(10,2), "
              "day DATE");
  Exec(
      "INSERT INTO {src} VALUES (1, 'Zo\xC3\xAB \"quoted\" ; semi', 'line 1\r\nline 2', 12.5, "
      "'2024-01-31'), (2, NULL, '\xE6\x97\xA5\xE6\x9C\xAC', -3, NULL), "
      "(3, 'x', NULL, NULL, '1999-12-31')");
  const std::string columns = "id, name, note, amount, day";
  const Lines expected = Rows(columns, "{src}");
  ASSERT_EQ(expected.size(), 3u);

  struct TRoundTrip {
    TQueryOutputKind Kind;
    TFormat Format;
    const char* Insert;
  };
  // SQLite keeps dates as text; a cast to DATE would make them numbers.
  const std::string day =
      IsSqlite() ? "NULLIF(:source$day, '')" : "CAST(NULLIF(:source$day, '') AS DATE)";
  const std::string xmlInsert =
      "INSERT INTO {t} VALUES (:source$id, NULLIF(:source$name, ''), NULLIF(:source$note, ''), "
      "CAST(NULLIF(:source$amount, '') AS NUMERIC(10,2)), " +
      day + ")";
  const TRoundTrip trips[] = {
      {TQueryOutputKind::Csv, TFormat::Csv,
       "INSERT INTO {t} VALUES (:source$id, :source$name, :source$note, :source$amount, "
       ":source$day)"},
      {TQueryOutputKind::DatasetXml, TFormat::Xml, xmlInsert.c_str()},
  };
  for (const TRoundTrip& trip : trips) {
    SCOPED_TRACE(trip.Format == TFormat::Csv ? "CSV" : "XML");
    CreateTable("t",
                "id INTEGER, name VARCHAR(40), note VARCHAR(40), amount NUMERIC(10,2), "
                "day DATE");
    TMemoryStream exported;
    const TXmlElement query = ElementView(testing::LoadTemplateDocument(
        Sql("<lsql><src>SELECT id, name, note, amount, day FROM {src} ORDER BY id</src></lsql>"),
        doc_));
    RunQueryTemplate(ConnectionString(), false, trip.Kind, TXTransformInfo{}, ProgressSink(),
                     exported, TXmlElement(), {}, query);
    Import(trip.Format, exported.Data(), std::string("<lsql><ins>") + trip.Insert + "</ins></lsql>",
           true);
    EXPECT_EQ(Rows(columns), expected) << exported.Data();
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, ImportTest, testing::AllTestDbs(), testing::TestDbParamName);

// PostgreSQL checks every value against its column type; nothing is
// converted on the way.
class ServerImportTest : public ImportTest {};

TEST_P(ServerImportTest, ValueNotValidForItsColumnFailsWithTheServerMessage) {
  CreateTable("t", "id INTEGER, name VARCHAR(3)");
  std::string message =
      ImportError(TFormat::Csv, "id;name\r\n1;abc\r\nx2;abc\r\n", kInsertIdName, false);
  EXPECT_EQ(message.rfind("Record #2: ins: ", 0), 0u) << message;
  EXPECT_NE(message.find("integer"), std::string::npos) << message;
  message = ImportError(TFormat::Xml, "<rows><r><id>1</id><name>abcd</name></r></rows>",
                        kInsertIdName, false);
  EXPECT_EQ(message.rfind("Record #1: ins: ", 0), 0u) << message;
  EXPECT_NE(message.find("too long"), std::string::npos) << message;
  EXPECT_EQ(Rows("id, name"), Lines{"1|abc"});
}

INSTANTIATE_TEST_SUITE_P(Server, ServerImportTest, ::testing::Values(testing::TTestDb::PostgreSQL),
                         testing::TestDbParamName);

// A phase whose transaction fails says that nothing of it was stored, also
// when the connection itself was lost (the server ended the transaction)
// and when the commit fails after every record ran; the closing lines that
// would count records are left out when the failure comes first.
class ServerRollbackTest : public ImportTest {};

TEST_P(ServerRollbackTest, FailedTransactionSaysNothingOfThePhaseWasStored) {
  CreateTable("t", "id INTEGER PRIMARY KEY, name VARCHAR(20)");
  const std::string rolledBack = "\n" + std::string(kPhaseRolledBack);
  for (const TFormat format : {TFormat::Csv, TFormat::Xml}) {
    SCOPED_TRACE(format == TFormat::Csv ? "CSV" : "XML");
    const std::string input = format == TFormat::Csv ? NumberedCsv(3) : NumberedXml(3);
    const std::string message = ImportError(
        format, input,
        "<lsql><ins>INSERT INTO {t} (id, name) VALUES (:source$id, :source$name)</ins>"
        "<kill test=':source$id = 2'>SELECT pg_terminate_backend(pg_backend_pid())</kill></lsql>",
        true);
    EXPECT_EQ(message.rfind("Record #2: kill: ", 0), 0u) << message;
    EXPECT_TRUE(message.ends_with(rolledBack)) << message;
    EXPECT_EQ(lines_, Lines{});
    EXPECT_EQ(Column("SELECT COUNT(*) FROM {t}"), Lines{"0"});
  }

  CreateTable("parent", "id INTEGER PRIMARY KEY");
  CreateTable("child",
              "id INTEGER REFERENCES {parent} (id) DEFERRABLE INITIALLY DEFERRED, name "
              "VARCHAR(20)");
  const std::string message = ImportError(
      TFormat::Csv, NumberedCsv(2),
      "<lsql><ins>INSERT INTO {child} VALUES (:source$id, :source$name)</ins></lsql>", true);
  EXPECT_NE(message.find("foreign key"), std::string::npos) << message;
  EXPECT_TRUE(message.ends_with(rolledBack)) << message;
  EXPECT_EQ(lines_, (Lines{"2 record(s) processed.", "2 record(s) affected."}));
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {child}"), Lines{"0"});
  Exec("DROP TABLE {child}");  // before its parent, which the fixture drops first
}

INSTANTIATE_TEST_SUITE_P(Server, ServerRollbackTest,
                         ::testing::Values(testing::TTestDb::PostgreSQL, testing::TTestDb::Odbc),
                         testing::TestDbParamName);

// psqlODBC finds the type of a parameter that PostgreSQL cannot infer only
// by failing; the statement is then sent again with the parameter as text.
// Inside a transaction the failure aborts it (Protocol=7.4-0) or psqlODBC
// rolls all of it back (7.4-1): sent again under the driver's savepoint,
// the statement runs where it failed, and where the transaction is gone the
// first error is reported instead of running on without the records before.
class OdbcTransactionTest : public ImportTest {};

TEST_P(OdbcTransactionTest, UntypedParameterInATransactionNeverLosesEarlierRecords) {
  CreateTable("t", "id INTEGER, name VARCHAR(20)");
  const std::string xml =
      "<lsql><a>INSERT INTO {t} VALUES (CAST(:source$id AS INTEGER), 'a')</a>"
      "<b>INSERT INTO {t} SELECT CAST(:source$id AS INTEGER), 'b' WHERE :source$name IS NOT "
      "NULL</b></lsql>";
  const std::string input = "id;name\r\n1;x\r\n2;\r\n3;y\r\n";
  const Lines all{"1a", "1b", "2a", "3a", "3b"};
  const std::string rows = "SELECT CAST(id AS VARCHAR(5)) || name FROM {t} ORDER BY 1";
  for (const char* protocol : {"", ";Protocol=7.4-0", ";Protocol=7.4-2", ";UseDeclareFetch=0",
                               ";UseDeclareFetch=0;Protocol=7.4-0"}) {
    SCOPED_TRACE(protocol);
    Exec("DELETE FROM {t}");
    connectionSuffix_ = protocol;
    Import(TFormat::Csv, input, xml, true);
    EXPECT_EQ(Column(rows), all);
  }
  for (const char* protocol : {";Protocol=7.4-1", ";UseDeclareFetch=0;Protocol=7.4-1"}) {
    SCOPED_TRACE(protocol);
    Exec("DELETE FROM {t}");
    connectionSuffix_ = protocol;
    const std::string message = ImportError(TFormat::Csv, input, xml, true);
    EXPECT_EQ(message.rfind("Record #1: b: could not determine data type of parameter", 0), 0u)
        << message;
    EXPECT_TRUE(message.ends_with(kPhaseRolledBack)) << message;
    EXPECT_EQ(Column(rows), Lines{});
  }
  // Without a transaction every statement stands alone.
  Import(TFormat::Csv, input, xml, false);
  EXPECT_EQ(Column(rows), all);
}

INSTANTIATE_TEST_SUITE_P(Server, OdbcTransactionTest, ::testing::Values(testing::TTestDb::Odbc),
                         testing::TestDbParamName);

// Inside one transaction the PostgreSQL driver queues the statements that
// only change data and reads their outcome in batches of a few hundred. A
// failure still names its own record and element, and the table stays as
// it was, wherever in a batch the failing record is.
class QueuedImportTest : public ImportTest {
 protected:
  static std::string Input(TFormat format, int count) {
    return format == TFormat::Csv ? NumberedCsv(count) : NumberedXml(count);
  }
};

TEST_P(QueuedImportTest, FailureNamesItsRecordWhereverItsBatchIs) {
  CreateTable("t", "id INTEGER PRIMARY KEY, name VARCHAR(20)");
  for (const TFormat format : {TFormat::Csv, TFormat::Xml}) {
    SCOPED_TRACE(format == TFormat::Csv ? "CSV" : "XML");
    // The first batch, a later one, and the very last record.
    for (const int failing : {3, 5000, 10000}) {
      SCOPED_TRACE(failing);
      const std::string id = std::to_string(failing);
      Exec("INSERT INTO {t} VALUES (" + id + ", 'in the way')");
      const std::string before = Checksum();
      const std::string message = ImportError(format, Input(format, 10000), kInsertIdName, true);
      EXPECT_EQ(message.rfind("Record #" + id + ": ins: ", 0), 0u) << message;
      EXPECT_NE(message.find("duplicate key"), std::string::npos) << message;
      EXPECT_EQ(Checksum(), before);
      EXPECT_EQ(lines_, Lines{});
      Exec("DELETE FROM {t}");
    }
  }
  // A value the column refuses, found by the server only.
  const std::string message =
      ImportError(TFormat::Csv, "id;name\r\n1;a\r\n2;b\r\nx3;c\r\n4;d\r\n", kInsertIdName, true);
  EXPECT_EQ(message.rfind("Record #3: ins: ", 0), 0u) << message;
  EXPECT_NE(message.find("integer"), std::string::npos) << message;
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {t}"), Lines{"0"});
}

// Two queued statements and a conditional one per record: each failure is
// its own element's, the rows-affected total counts every statement, and
// the rows are the same as from a run that waits for every statement.
TEST_P(QueuedImportTest, StatementsOfARecordKeepTheirOrderCountsAndFailures) {
  CreateTable("t", "id INTEGER PRIMARY KEY, name VARCHAR(20)");
  CreateTable("u", "id INTEGER PRIMARY KEY, n INTEGER");
  const std::string xml =
      "<lsql><ins>INSERT INTO {t} (id, name) VALUES (:source$id, :source$name)</ins>"
      "<odd test=':source$id &lt;= 3000'>INSERT INTO {u} VALUES (:source$id, 0)</odd>"
      "<upd>UPDATE {u} SET n = n + 1 WHERE id &lt;= 2</upd></lsql>";
  const std::string input = NumberedCsv(4000);
  // 4000 + 3000 inserts; the update changes one row for record 1, then two.
  EXPECT_EQ(Import(TFormat::Csv, input, xml, true),
            (Lines{"4000 record(s) processed.", "14999 record(s) affected."}));
  const Lines queued = Rows("id, n", "{u}");
  EXPECT_EQ(queued.size(), 3000u);
  EXPECT_EQ(Column("SELECT n FROM {u} WHERE id = 2"), Lines{"3999"});
  const Lines queuedNames = Rows("id, name");

  Exec("DELETE FROM {t}");
  Exec("DELETE FROM {u}");
  EXPECT_EQ(Import(TFormat::Csv, input, xml, false),
            (Lines{"4000 record(s) processed.", "14999 record(s) affected."}));
  EXPECT_EQ(Rows("id, n", "{u}"), queued);
  EXPECT_EQ(Rows("id, name"), queuedNames);

  // The second statement fails at record 2500: both tables stay as they were.
  Exec("DELETE FROM {t}");
  Exec("DELETE FROM {u}");
  Exec("INSERT INTO {u} VALUES (2500, 7)");
  const std::string message = ImportError(TFormat::Csv, input, xml, true);
  EXPECT_EQ(message.rfind("Record #2500: odd: ", 0), 0u) << message;
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {t}"), Lines{"0"});
  EXPECT_EQ(Rows("id, n", "{u}"), Lines{"2500|7"});
}

// A statement that returns rows runs at once, and so does one whose rows
// affected a later statement reads; the rest is still queued.
TEST_P(QueuedImportTest, StatementsWhoseOutcomeIsReadRunAtOnce) {
  CreateTable("t", "id INTEGER PRIMARY KEY, name VARCHAR(20)");
  CreateTable("u", "id INTEGER, n INTEGER");
  const std::string xml =
      "<lsql><ret>INSERT INTO {t} (id, name) VALUES (:source$id, :source$name) RETURNING id</ret>"
      "<upd>UPDATE {t} SET name = 'x' WHERE id = :source$id - 1000</upd>"
      "<cnt>INSERT INTO {u} VALUES (:source$id, :upd$rowsaffected)</cnt></lsql>";
  // 2000 inserts into each table, and records 1001 to 2000 update one row.
  EXPECT_EQ(Import(TFormat::Xml, NumberedXml(2000), xml, true),
            (Lines{"2000 record(s) processed.", "5000 record(s) affected."}));
  EXPECT_EQ(Column("SELECT CAST(COUNT(*) AS VARCHAR(9)) || '/' || CAST(SUM(n) AS VARCHAR(9)) || "
                   "'/' || CAST(SUM(id * n) AS VARCHAR(9)) FROM {u}"),
            Lines{"2000/1000/1500500"});
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {t} WHERE name = 'x'"), Lines{"1000"});

  Exec("DELETE FROM {t}");
  Exec("DELETE FROM {u}");
  Exec("INSERT INTO {t} VALUES (1500, 'in the way')");
  const std::string message = ImportError(TFormat::Csv, NumberedCsv(2000), xml, true);
  EXPECT_EQ(message.rfind("Record #1500: ret: ", 0), 0u) << message;
  EXPECT_EQ(Rows("id, name"), Lines{"1500|in the way"});
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {u}"), Lines{"0"});
}

// A query through a cursor waits for the statements queued before it: each
// record counts exactly the rows of the records before it.
TEST_P(QueuedImportTest, QueryAfterQueuedStatementsSeesTheirRows) {
  CreateTable("t", "id INTEGER PRIMARY KEY, name VARCHAR(20)");
  const std::string xml =
      "<lsql><q>SELECT COUNT(*) AS c FROM {t}</q>"
      "<ins>INSERT INTO {t} (id, name) VALUES (:source$id, :q$c)</ins></lsql>";
  EXPECT_EQ(Import(TFormat::Csv, NumberedCsv(1500), xml, true).back(), "1500 record(s) affected.");
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {t} WHERE CAST(name AS INTEGER) = id - 1"), Lines{"1500"});
}

INSTANTIATE_TEST_SUITE_P(Server, QueuedImportTest, ::testing::Values(testing::TTestDb::PostgreSQL),
                         testing::TestDbParamName);

// Imports `input` into a new SQLite table t (a, b, c) through a template
// holding `statements`; returns the rows as "a|b|c" texts in table order.
// The progress lines go to `progress` when given.
Lines ImportIntoSqlite(TFormat format, TStream& input, const TXTransformInfo& options,
                       const std::string& statements,
                       const std::vector<std::string>& parameters = {}, Lines* progress = nullptr) {
  ProgressSink sink;
  if (progress) sink = [progress](const std::string& line) { progress->push_back(line); };
  testing::TTempSqliteFile file;
  const std::string connection = "Provider=SQLite;Data Source=" + file.Path();
  OpenConnection(connection)
      ->Prepare("CREATE TABLE t (a VARCHAR(20), b VARCHAR(20), c VARCHAR(20))", 0)
      ->Execute({}, *std::make_unique<int64_t>(0));
  detail::xml_ptr<xmlDoc> doc;
  const TXmlElement root =
      ElementView(testing::LoadTemplateDocument("<lsql>" + statements + "</lsql>", doc));
  const TXSourceInfo source{skStream, "input", "utf-8", &input};
  RunImportSession(connection, false, ProgressSink(), TXmlElement(), parameters, root,
                   [&](TLSQLConnHelper& helper, const TTemplateTree& tree) {
                     if (format == TFormat::Csv) {
                       ImportCsvRecords(source, options, tree, sink, helper, parameters);
                     } else {
                       ImportXmlRecords(source, options, tree, sink, helper, parameters);
                     }
                   });
  std::unique_ptr<TDbConnection> check = OpenConnection(connection);
  int64_t count = 0;
  auto statement = check->Prepare(
      "SELECT COALESCE(a, '<null>') || '|' || COALESCE(b, '<null>') || '|' || "
      "COALESCE(c, '<null>') FROM t ORDER BY rowid",
      0);
  auto result = statement->Execute({}, count);
  Lines rows;
  for (; result && !result->Eof(); result->Next()) rows.push_back(result->AsText(0));
  result->Close();
  return rows;
}

struct TXmlCase {
  const char* Name;
  const char* RecordTag;
  bool FlatText;
  const char* Input;
  const char* Values;  // the three values the statement inserts
  Lines Rows;
};

// The record and value decisions, on SQLite.
TEST(XmlRecordImport, RecordsAndValueNames) {
  const std::vector<TXmlCase> cases = {
      {"dataset layout with parameters",
       "",
       true,
       "<morvex_data><morvex_params><p>9</p></morvex_params>"
       "<orders><r><id>1</id><name>Ann</name></r><r><id>2</id><name/></r></orders></morvex_data>",
       ":source$id, :source$name, :source$p",
       {"1|Ann|<null>", "2||<null>"}},
      {"root passed over, first child names the records",
       "",
       true,
       "<shop><rec><id>1</id></rec><other><id>5</id></other><rec><id>2</id></rec></shop>",
       ":source$id, NULL, NULL",
       {"1|<null>|<null>", "2|<null>|<null>"}},
      {"record tag with a parent at any depth",
       "orders/order",
       true,
       "<a><b><orders><order><id>1</id></order></orders></b><order><id>7</id></order>"
       "<myorders><order><id>8</id></order></myorders><orders><order><id>2</id></order></orders></"
       "a>",
       ":source$id, NULL, NULL",
       {"1|<null>|<null>", "2|<null>|<null>"}},
      {"nested values keep their path",
       "",
       false,
       "<x><p><id>1</id><address>at <city>Brno</city> tail</address></p></x>",
       ":source$id, :source$address, :source$address$city",
       {"1|at |Brno"}},
      {"nested values flattened into the outer one",
       "",
       true,
       "<x><p><id>1</id><address>at <city>Brno</city><zip>602</zip></address></p></x>",
       ":source$id, :source$address, :source$address$city",
       {"1|at \r\nBrno\r\n602|<null>"}},
      {"repeated values joined, multi-line text flattened",
       "",
       true,
       "<x><p><id>1</id><tel>1</tel><tel>\n    2\n    3\n  </tel></p></x>",
       ":source$id, :source$tel, NULL",
       {"1|1\r\n2\r\n3|<null>"}},
      {"records with other names, in another order, or fewer",
       "",
       true,
       "<x><p><id>1</id><name>A</name><tel>t</tel></p><p><name>B</name></p>"
       "<p><tel>u</tel><id>3</id></p><p><id>4</id><name/><tel>v</tel></p></x>",
       ":source$id, :source$name, :source$tel",
       {"1|A|t", "<null>|B|<null>", "3|<null>|u", "4||v"}},
      {"a record without values still runs",
       "",
       true,
       "<x><p/><p></p></x>",
       "'empty', :source$id, NULL",
       {"empty|<null>|<null>", "empty|<null>|<null>"}},
      {"a nested detail record does not end its master",
       "",
       true,
       "<morvex_data><orders><r><id>1</id><items><r><n>x</n></r></items><name>Ann</name></r>"
       "</orders></morvex_data>",
       ":source$id, :source$name, :source$items",
       {"1|Ann|x"}},
  };
  for (const TXmlCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TXTransformInfo options;
    options.RecordTag = c.RecordTag;
    options.FlatText = c.FlatText;
    TMemoryStream stream{std::string(c.Input)};
    EXPECT_EQ(ImportIntoSqlite(TFormat::Xml, stream, options,
                               std::string("<ins>INSERT INTO t VALUES (") + c.Values + ")</ins>"),
              c.Rows);
  }
}

struct TCsvWidthCase {
  const char* Name;
  bool HeaderRow;
  const char* Input;
  const char* Statement;  // the template's statement element
  Lines Rows;
};

// Every row has as many columns as the widest one. The input is read twice
// only when a statement or its test names a column by a number beyond the
// first row; these cases tell the two readings apart by a run parameter
// named like such a column, which the column hides.
TEST(CsvRecordImport, ColumnsCountUpToTheWidestRow) {
  const std::vector<std::string> parameters = {"source$3=run", "p=P"};
  const std::vector<TCsvWidthCase> cases = {
      {"a column beyond the first row hides the run parameter",
       false,
       "1;2\n3;4;5\n",
       "<ins>INSERT INTO t VALUES (:source$1, :source$3, NULL)</ins>",
       {"1|<null>|<null>", "3|5|<null>"}},
      {"a test naming a column beyond the first row",
       false,
       "1\n2;x;y\n",
       "<ins test=\"':source$3' = ''\">INSERT INTO t VALUES (:source$1, :SOURCE$3, :p)</ins>",
       {"1|<null>|P"}},
      {"a header shorter than the rows",
       true,
       "id;name\n1;Ann;extra\n2\n",
       "<ins>INSERT INTO t VALUES (:source$id, :source$name, :source$3)</ins>",
       {"1|Ann|extra", "2|<null>|<null>"}},
      {"no column named beyond the first row: one reading",
       false,
       "1;2\n3;4;5\n",
       "<ins>INSERT INTO t VALUES (:source$1, :source$2, :p)</ins>",
       {"1|2|P", "3|4|P"}},
      {"a nested statement's names count too",
       false,
       "1\n2;x;y\n",
       "<sel>SELECT 1 AS one<ins>INSERT INTO t VALUES (:source$1, :source$3, :p)</ins></sel>",
       {"1|<null>|P", "2|y|P"}},
  };
  for (const TCsvWidthCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TXTransformInfo options;
    options.HeaderRow = c.HeaderRow;
    TMemoryStream stream{std::string(c.Input)};
    EXPECT_EQ(ImportIntoSqlite(TFormat::Csv, stream, options, c.Statement, parameters), c.Rows);
    // A pipe cannot be read twice: it is held when the widest row must be found.
    std::unique_ptr<TFileStream> pipe = testing::PipeHolding(c.Input);
    ASSERT_TRUE(pipe);
    EXPECT_EQ(ImportIntoSqlite(TFormat::Csv, *pipe, options, c.Statement, parameters), c.Rows);
  }
}

// A blank line (a record whose cells are all empty, ";;" too) would insert
// a record of Nulls: it is skipped and counted, with a header row or
// without one, between records and at the end.
TEST(CsvRecordImport, BlankLinesAreSkippedAndCounted) {
  const std::string statement = "<ins>INSERT INTO t VALUES (:source$1, :source$2, 'x')</ins>";
  for (const bool header : {true, false}) {
    SCOPED_TRACE(header ? "header row" : "no header row");
    TXTransformInfo options;
    options.HeaderRow = header;
    TMemoryStream stream(std::string(header ? "id;name\r\n" : "") +
                         "\r\n1;a\r\n\n2;\"\"\r\n;\r\n3;c\n\n");
    Lines progress;
    EXPECT_EQ(ImportIntoSqlite(TFormat::Csv, stream, options, statement, {}, &progress),
              (Lines{"1|a|x", "2|<null>|x", "3|c|x"}));
    EXPECT_EQ(progress, (Lines{"4 blank line(s) skipped.", "3 record(s) processed.",
                               "3 record(s) affected."}));
  }
}

// A "source$" name that no record gives would bind Null for every record:
// one warning per name, with the nearest name of the header. A header cell
// with letters beyond ASCII names its column also as written, beside its
// element name.
TEST(RecordImport, NamesNoRecordGivesAreWarnedOfOnce) {
  TXTransformInfo options;
  TMemoryStream csv(
      std::string("customer_name;M\xC4\x9Bsto;\xC4\x8C\xC3\xA1stka\r\nAnn;Brno;12\r\n"));
  Lines progress;
  EXPECT_EQ(
      ImportIntoSqlite(TFormat::Csv, csv, options,
                       "<ins>INSERT INTO t VALUES (:source$custmer_name, :source$m\xC4\x9bsto, "
                       ":source$\xC4\x8C\xC3\xA1STKA || :source$stka || :source$M_sto)</ins>"
                       "<again test=\"':source$custmer_name' = ''\">INSERT INTO t VALUES "
                       "(:source$custmer_name, :source$run, :source$9)</again>",
                       {"source$run=r"}, &progress),
      (Lines{"<null>|Brno|1212Brno", "<null>|r|<null>"}));
  EXPECT_EQ(progress,
            (Lines{"Warning: :source$custmer_name matches no column (did you mean customer_name?)",
                   "Warning: :source$9 matches no column.", "1 record(s) processed.",
                   "2 record(s) affected."}));

  TMemoryStream xml(std::string("<x><p><id>1</id><customer_name>Ann</customer_name></p></x>"));
  progress.clear();
  EXPECT_EQ(ImportIntoSqlite(TFormat::Xml, xml, options,
                             "<ins>INSERT INTO t VALUES (:source$id, :source$Customer_Nme, "
                             ":source$customer_name)</ins>",
                             {}, &progress),
            (Lines{"1|<null>|Ann"}));
  EXPECT_EQ(progress, (Lines{"Warning: :source$Customer_Nme matches no value element of the "
                             "records (did you mean customer_name?)",
                             "1 record(s) processed.", "1 record(s) affected."}));

  // An element named "source" may be what such names mean: no warning.
  TMemoryStream named(std::string("id\r\n1\r\n"));
  progress.clear();
  ImportIntoSqlite(TFormat::Csv, named, options,
                   "<source>SELECT 5 AS n<ins>INSERT INTO t VALUES (:source$id, :source$n, "
                   "NULL)</ins></source>",
                   {}, &progress);
  EXPECT_EQ(progress, (Lines{"1 record(s) processed.", "1 record(s) affected."}));
}

}  // namespace
}  // namespace morvex
