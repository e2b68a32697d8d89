// The CSV import's bulk insert on the PostgreSQL server. Each case imports
// the same input twice under one-transaction: through a template the bulk
// insert takes, and through the same template with a comment after the
// statement, which keeps it on the per-record path. Both must end alike:
// the same rows, lines, counts and failure messages, nothing stored after a
// failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/convert/record_import_fixture.h"

namespace morvex {
namespace {

// What an import left: its lines, its error ("" when none) and the rows.
struct TOutcome {
  std::vector<std::string> Output;
  std::string Error;
  std::vector<std::string> Rows;
  bool operator==(const TOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TOutcome& outcome) {
  out << "error: " << outcome.Error << "\nlines:";
  for (const std::string& line : outcome.Output) out << "\n  " << line;
  out << "\nrows:";
  for (const std::string& row : outcome.Rows) out << "\n  " << row;
  return out;
}

class BulkInsertTest : public ImportTest {
 protected:
  void TearDown() override {
    if (Connected()) {
      try {
        Exec("DROP FUNCTION IF EXISTS {f}() CASCADE");
      } catch (const EMorvexError& error) {
        ADD_FAILURE() << error.what();
      }
    }
    ImportTest::TearDown();
  }

  // Imports `csv` through `statement` (one element "ins"), after emptying
  // {t} and {log}; `rows` reads the table afterwards.
  TOutcome Run(const std::string& csv, const std::string& statement, const std::string& rows) {
    Exec("DELETE FROM {t}");
    if (logged_) Exec("DELETE FROM {log}");
    TOutcome outcome;
    try {
      Import(TFormat::Csv, csv, "<lsql><ins>" + statement + "</ins></lsql>", true, parameters_);
    } catch (const EMorvexError& error) {
      outcome.Error = error.what();
    }
    outcome.Output = lines_;
    outcome.Rows = Rows(rows);
    return outcome;
  }

  // The outcome through the bulk insert, after checking that the per-record
  // path gives the same; `viaCopy` says which way the rows that reached the
  // table went (a trigger logs the client's statement in {log}).
  TOutcome Both(const std::string& csv, const std::string& statement,
                const std::string& rows = "a, b, c", bool viaCopy = true) {
    const TOutcome perRecord = Run(csv, statement + " -- one by one", rows);
    if (logged_) {
      EXPECT_EQ(Column("SELECT COUNT(*) FROM {log} WHERE q LIKE 'COPY%'"), Lines{"0"});
    }
    const TOutcome bulk = Run(csv, statement, rows);
    if (logged_ && bulk.Error.empty() && !bulk.Rows.empty()) {
      EXPECT_EQ(Column("SELECT COUNT(*) > 0 FROM {log} WHERE q LIKE 'COPY%'"),
                Lines{viaCopy ? "1" : "0"});
    }
    EXPECT_EQ(bulk, perRecord);
    return bulk;
  }

  // {t} with columns a, b, c and `more`; a BEFORE ROW trigger writes the
  // client's statement of every row into {log} and may change the row
  // (`body`, PL/pgSQL before "RETURN NEW").
  void CreateLoggedTable(const std::string& columns, const std::string& body = "") {
    CreateTable("t", columns);
    CreateTable("log", "q TEXT");
    Exec(
        "CREATE OR REPLACE FUNCTION {f}() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "INSERT INTO {log} VALUES (current_query()); " +
        body + " RETURN NEW; END $$");
    Exec("CREATE TRIGGER logged BEFORE INSERT ON {t} FOR EACH ROW EXECUTE FUNCTION {f}()");
    logged_ = true;
  }

  static std::string Csv(int count, int blankEvery = 0) {
    std::string csv = "a;b;c\r\n";
    for (int i = 1; i <= count; ++i) {
      csv += std::to_string(i) + ";n" + std::to_string(i) + ";" + std::to_string(i % 7) + "\r\n";
      if (blankEvery > 0 && i % blankEvery == 0) csv += ";;\r\n";
    }
    return csv;
  }

  bool logged_ = false;
  std::vector<std::string> parameters_;  // the run's
};

constexpr const char* kInsertAbc =
    "INSERT INTO {t} (a, b, c) VALUES (:source$a, :source$b, :source$c)";

TEST_P(BulkInsertTest, ValuesArriveAsTheInsertBindsThem) {
  CreateLoggedTable("a INTEGER, b TEXT, c VARCHAR(12), d NUMERIC(8,2), e DATE, f JSONB");
  // Empty cells are Null; tabs, line ends, backslashes, "\N" and "\." are
  // text; the server converts each text for its column.
  const std::string csv =
      "a;b;c;d;e;f\r\n"
      "1;plain;x;1.005;2024-02-29;\"{\"\"k\"\": [1, 2]}\"\r\n"
      "2;;;;;\r\n"
      "3;\"tab\there\";\"two\r\nlines\";-0.5;0044-03-15 BC;null\r\n"
      "4;back\\slash \\N;\\.;12;infinity;\"[\"\"x\\\\y\"\"]\"\r\n"
      "5;\\N;\" lead\";+7;2024-1-2;[]\r\n"
      "6;Město 日本 \U0001F600;\"cr\rcr\";1e3;20240102;{}\r\n";
  const std::string statement =
      "INSERT INTO {t} (a, b, c, d, e, f) VALUES (:source$a, :source$b, :source$c, :source$d, "
      ":source$e, :source$f)";
  const TOutcome outcome = Both(csv, statement, "a, b, c, d, e, f");
  EXPECT_EQ(outcome.Output, (Lines{"6 record(s) processed.", "6 record(s) affected."}));
  ASSERT_EQ(outcome.Rows.size(), 6u);
  EXPECT_EQ(outcome.Rows[1], "2|<null>|<null>|<null>|<null>|<null>");
  EXPECT_EQ(outcome.Rows[2], "3|tab\there|two\r\nlines|-0.50|0044-03-15 BC|null");
  EXPECT_EQ(outcome.Rows[3], "4|back\\slash \\N|\\.|12.00|infinity|[\"x\\\\y\"]");
}

TEST_P(BulkInsertTest, RunParametersColumnNumbersAndNamesNoColumnHas) {
  CreateLoggedTable("a INTEGER, b TEXT, c TEXT, d TEXT DEFAULT 'dflt'");
  // A run parameter, a column by number, a name nothing gives (Null), and
  // no column list: the table's first columns, the rest by default.
  Lines expected;
  for (int i = 1; i <= 3; ++i)
    expected.push_back(std::to_string(i) + "|run|n" + std::to_string(i) + "|dflt");
  const std::vector<std::string> parameters{"batch=run"};
  for (const bool bulk : {false, true}) {
    Exec("DELETE FROM {t}");
    Import(TFormat::Csv, Csv(3),
           std::string("<lsql><ins>INSERT INTO {t} VALUES (:source$1, :batch, :source$b)") +
               (bulk ? "" : " -- one by one") + "</ins></lsql>",
           true, parameters);
    EXPECT_EQ(lines_, (Lines{"3 record(s) processed.", "3 record(s) affected."}));
    EXPECT_EQ(Rows("a, b, c, d"), expected);
  }
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {log} WHERE q LIKE 'COPY%'"), Lines{"3"});
  const TOutcome outcome = Both(
      Csv(2), "INSERT INTO {t} (c, a, b) VALUES (:source$b, :source$a, :nothing)", "a, b, c, d");
  EXPECT_EQ(outcome.Rows, (Lines{"1|<null>|n1|dflt", "2|<null>|n2|dflt"}));
}

// A schema before the table and quoted names reach COPY as written; a
// zero byte in a value ends alike.
TEST_P(BulkInsertTest, NamesAsWrittenAndAZeroByte) {
  CreateLoggedTable("\"Mixed Col\" INTEGER, b TEXT, c INTEGER");
  const TOutcome outcome =
      Both(Csv(3),
           "INSERT INTO public.{t} (\"Mixed Col\", b, c) VALUES (:source$a, :source$b, :source$c)",
           "\"Mixed Col\", b, c");
  EXPECT_EQ(outcome.Output, (Lines{"3 record(s) processed.", "3 record(s) affected."}));
  CreateLoggedTable("a INTEGER, b TEXT, c INTEGER");
  // However the reader and the server treat it, both paths alike.
  Both(std::string("a;b;c\r\n1;x\0y;1\r\n", 16), kInsertAbc);
  // A run parameter can hold one; the bulk insert leaves such records to
  // the per-record path.
  parameters_ = {std::string("p=x\0y", 5)};
  Both(Csv(3), "INSERT INTO {t} (a, b, c) VALUES (:source$a, :p, :source$c)", "a, b, c", false);
  Both(Csv(3), "INSERT INTO {t} (a, b, c) VALUES (:source$a, :source$b, :source$c)");
}

// Without one-transaction each record stands alone, as before: the records
// before a failure stay.
TEST_P(BulkInsertTest, WithoutOneTransactionRecordsGoOneByOne) {
  CreateLoggedTable("a INTEGER, b TEXT, c INTEGER CHECK (c < 5)");
  const std::string message = ImportError(
      TFormat::Csv, Csv(6), "<lsql><ins>" + std::string(kInsertAbc) + "</ins></lsql>", false);
  EXPECT_EQ(message.rfind("Record #5: ins: ", 0), 0u) << message;
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {t}"), Lines{"4"});
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {log} WHERE q LIKE 'COPY%'"), Lines{"0"});
}

// Failures at the first record, in the middle of a batch, at a batch's
// last record, in a later batch and at the very last record, of each kind:
// one the server finds converting the value, a constraint, a unique index,
// a trigger's own error; on a table with a BEFORE ROW trigger (COPY stores
// row by row) and on one without (COPY stores rows in groups and checks
// the unique index a few rows late).
TEST_P(BulkInsertTest, FailuresNameTheRecordThePerRecordPathNames) {
  const std::string columns = "a INTEGER PRIMARY KEY, b TEXT NOT NULL, c INTEGER CHECK (c < 100)";
  struct TCase {
    int Record;
    std::string Cells;  // in place of the record's "a;b;c"
  };
  const std::vector<TCase> cases{
      {1, "x1;n1;1"},   {5000, "5000;n;1000"}, {10000, "1;n;1"},         {15001, "15001;;1"},
      {21000, "1;n;1"}, {3, "2;n3;3"},         {12345, "12345;raise;1"},
  };
  for (const bool trigger : {false, true}) {
    SCOPED_TRACE(trigger ? "with a trigger" : "without triggers");
    if (trigger) {
      CreateLoggedTable(columns,
                        "IF NEW.b = 'raise' THEN RAISE EXCEPTION 'refused %', NEW.a; "
                        "END IF;");
    } else {
      CreateTable("t", columns);
    }
    for (const TCase& c : cases) {
      if (!trigger && c.Cells.find("raise") != std::string::npos) continue;
      SCOPED_TRACE(c.Record);
      std::string csv = Csv(21000, 4000);
      const std::string line = "\r\n" + std::to_string(c.Record) + ";n" + std::to_string(c.Record) +
                               ";" + std::to_string(c.Record % 7) + "\r\n";
      const size_t at = csv.find(line);
      ASSERT_NE(at, std::string::npos);
      csv.replace(at + 2, line.size() - 4, c.Cells);
      const TOutcome outcome = Both(csv, kInsertAbc);
      EXPECT_EQ(outcome.Error.rfind("Record #" + std::to_string(c.Record) + ": ins: ", 0), 0u)
          << outcome.Error;
      EXPECT_TRUE(outcome.Error.ends_with(kPhaseRolledBack)) << outcome.Error;
      EXPECT_EQ(outcome.Rows, Lines{});
    }
  }
}

// A duplicate key at record 5 and a value for no integer at record 8: COPY
// meets the second first when it stores rows in groups, the per-record path
// the first, and the first is the one reported.
TEST_P(BulkInsertTest, TheEarlierOfTwoFailuresIsReported) {
  CreateTable("t", "a INTEGER PRIMARY KEY, b TEXT, c INTEGER");
  std::string csv = Csv(20);
  csv.replace(csv.find("\r\n5;n5"), 3, "\r\n4");
  csv.replace(csv.find("\r\n8;n8"), 3, "\r\nx8");
  const TOutcome outcome = Both(csv, kInsertAbc);
  EXPECT_EQ(outcome.Error.rfind("Record #5: ins: duplicate key", 0), 0u) << outcome.Error;
}

TEST_P(BulkInsertTest, ProgressBlankLinesAndAReaderErrorAsOneByOne) {
  CreateLoggedTable("a INTEGER, b TEXT, c INTEGER");
  const TOutcome outcome = Both(Csv(25000, 3000), kInsertAbc);
  EXPECT_EQ(outcome.Output, (Lines{"10000 records processed ...", "20000 records processed ...",
                                   "8 blank line(s) skipped.", "25000 record(s) processed.",
                                   "25000 record(s) affected."}));
  EXPECT_EQ(outcome.Rows.size(), 25000u);
  // An unclosed quote after the second batch; the records before it were
  // fine.
  const TOutcome unclosed = Both(Csv(21000) + "1;\"open\r\n", kInsertAbc);
  EXPECT_EQ(unclosed.Error.rfind("The quoted value that opens on line 21002 is not closed", 0), 0u)
      << unclosed.Error;
  EXPECT_EQ(unclosed.Output, (Lines{"10000 records processed ...", "20000 records processed ..."}));
  // Without records nothing is sent.
  EXPECT_EQ(Both("a;b;c\r\n", kInsertAbc).Output,
            (Lines{"0 record(s) processed.", "0 record(s) affected."}));
}

// A BEFORE ROW trigger changes or skips rows for both alike: the rows
// skipped are not counted as affected.
TEST_P(BulkInsertTest, BeforeRowTriggersFireForEveryRow) {
  CreateLoggedTable("a INTEGER, b TEXT, c INTEGER",
                    "IF NEW.c = 0 THEN RETURN NULL; END IF; NEW.b := upper(NEW.b) || "
                    "(SELECT COUNT(*) FROM {t});");
  const TOutcome outcome = Both(Csv(30), kInsertAbc);
  EXPECT_EQ(outcome.Output, (Lines{"30 record(s) processed.", "26 record(s) affected."}));
  // Each row's trigger sees the rows stored before it.
  EXPECT_EQ(Column("SELECT b FROM {t} WHERE a IN (1, 30) ORDER BY a"), (Lines{"N10", "N3025"}));
  EXPECT_EQ(Column("SELECT COUNT(*) FROM {log}"), Lines{"30"});
}

// Where COPY would store other rows than the INSERT, or fire triggers at
// other moments, the import stays on the per-record path.
TEST_P(BulkInsertTest, TablesCopyWouldTreatOtherwiseTakeThePerRecordPath) {
  struct TCase {
    const char* Name;
    const char* Columns;
    const char* Extra;  // run after the table is made
  };
  const std::vector<TCase> cases{
      {"after row trigger", "a INTEGER, b TEXT, c INTEGER",
       "CREATE TRIGGER later AFTER INSERT ON {t} FOR EACH ROW EXECUTE FUNCTION {f}()"},
      {"statement trigger", "a INTEGER, b TEXT, c INTEGER",
       "CREATE TRIGGER once BEFORE INSERT ON {t} FOR EACH STATEMENT EXECUTE FUNCTION {f}()"},
      {"foreign key", "a INTEGER REFERENCES {p}, b TEXT, c INTEGER", ""},
      {"rule", "a INTEGER, b TEXT, c INTEGER",
       "CREATE RULE noted AS ON INSERT TO {t} DO ALSO INSERT INTO {log} VALUES ('rule')"},
      {"identity always", "a INTEGER GENERATED ALWAYS AS IDENTITY, b TEXT, c INTEGER", ""},
      {"generated", "a INTEGER, b TEXT, c INTEGER GENERATED ALWAYS AS (a * 2) STORED", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    CreateTable("p", "a INTEGER PRIMARY KEY");
    Exec("INSERT INTO {p} SELECT generate_series(1, 40)");
    CreateLoggedTable(c.Columns);
    if (*c.Extra) Exec(c.Extra);
    const TOutcome outcome = Both(Csv(30), kInsertAbc, "a, b, c", false);
    if (std::string(c.Name) == "identity always" || std::string(c.Name) == "generated") {
      EXPECT_EQ(outcome.Error.rfind("Record #1: ins: cannot insert", 0), 0u) << outcome.Error;
    } else {
      EXPECT_EQ(outcome.Output, (Lines{"30 record(s) processed.", "30 record(s) affected."}));
    }
    Exec("DROP TABLE {t}");
  }
}

INSTANTIATE_TEST_SUITE_P(Server, BulkInsertTest, ::testing::Values(testing::TTestDb::PostgreSQL),
                         testing::TestDbParamName);

}  // namespace
}  // namespace morvex
