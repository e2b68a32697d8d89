// The driver contract, run against each driver: SQLite on a temp file,
// PostgreSQL through libpq and the same server through ODBC (psqlODBC).
#include "db/driver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection_string.h"
#include "db/db_values.h"
#include "tests/db/driver_test_databases.h"
#include "tests/support/resident_memory.h"
#include "text/error.h"

namespace morvex {
namespace {

using testing::TTestDb;

double DateTime(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
  double value = 0;
  EXPECT_TRUE(EncodeDbDateTime({y, m, d, h, n, s, ms}, value));
  return value;
}

// The shared database fixture, with the connection as a plain pointer and
// helpers that take whole SQL texts (no "{name}" substitution).
class DriverTest : public testing::TDatabaseTest {
 protected:
  void SetUp() override {
    TDatabaseTest::SetUp();
    if (!Connected()) return;
    db_ = &Connection();
    connectionString_ = ConnectionString();
  }

  std::string BlobType() const { return IsSqlite() ? "BLOB" : "BYTEA"; }

  // A table of this process, dropped after the test.
  std::string Table(const std::string& name, const std::string& columns) {
    CreateTable(name, columns);
    return TDatabaseTest::Table(name);
  }

  int64_t Exec(const std::string& sql, const std::vector<TDbParameter>& parameters = {},
               TDbConnection* db = nullptr) {
    int64_t rows = 0;
    auto stmt = (db ? db : db_)->Prepare(sql, static_cast<int>(parameters.size()));
    stmt->Execute(parameters, rows);
    return rows;
  }

  // The first column of the first row as text.
  std::string Scalar(const std::string& sql, TDbConnection* db = nullptr) {
    int64_t rows = 0;
    auto stmt = (db ? db : db_)->Prepare(sql, 0);
    auto result = stmt->Execute({}, rows);
    if (!result || result->Eof()) return "<none>";
    return result->AsText(0);
  }

  std::string connectionString_;
  TDbConnection* db_ = nullptr;
};

TEST_P(DriverTest, FieldTypesMapOntoTheirClasses) {
  std::string t = Table("types",
                        "i INTEGER, big BIGINT, small SMALLINT, flag BOOLEAN, f DOUBLE PRECISION, "
                        "num NUMERIC(10,2), d DATE, tm TIME, ts TIMESTAMP, txt TEXT, "
                        "vc VARCHAR(20), bin " +
                            BlobType());
  Exec("INSERT INTO " + t + " (i) VALUES (1)");
  int64_t rows = 0;
  auto result = db_->Prepare("SELECT * FROM " + t, 0)->Execute({}, rows);
  ASSERT_TRUE(result);
  struct Expected {
    const char* name;
    int typeClass;
  } expected[] = {{"i", 2}, {"big", 2}, {"small", 2}, {"flag", 2}, {"f", 3},  {"num", 3},
                  {"d", 4}, {"tm", 5},  {"ts", 6},    {"txt", 1},  {"vc", 0}, {"bin", 7}};
  ASSERT_EQ(result->FieldCount(), 12);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(result->Field(i).Name, expected[i].name);
    EXPECT_EQ(FieldTypeClass(result->Field(i).Type), expected[i].typeClass)
        << expected[i].name << " has type " << result->Field(i).Type;
  }
  EXPECT_EQ(result->Field(0).Type, ftInteger);
  EXPECT_EQ(result->Field(1).Type, ftLargeint);
  EXPECT_EQ(result->Field(2).Type, ftSmallint);
  EXPECT_EQ(result->Field(3).Type, ftBoolean);
  EXPECT_EQ(result->FindField("TXT"), 9);
  EXPECT_EQ(result->FindField("missing"), -1);
}

TEST_P(DriverTest, ExpressionColumnsTakeTheClassOfTheirValue) {
  int64_t rows = 0;
  auto result =
      db_->Prepare("SELECT 1 + 1 AS n, 2.5 * 2 AS f, 'a' || 'b' AS s", 0)->Execute({}, rows);
  ASSERT_TRUE(result);
  EXPECT_EQ(FieldTypeClass(result->Field(0).Type), 2);
  EXPECT_EQ(FieldTypeClass(result->Field(1).Type), 3);
  EXPECT_EQ(result->AsText(0), "2");
  EXPECT_EQ(result->AsText(1), "5");
  EXPECT_EQ(result->AsText(2), "ab");
}

TEST_P(DriverTest, ParametersOfEveryKindRoundTrip) {
  std::string t =
      Table("params", "i BIGINT, f DOUBLE PRECISION, s VARCHAR(50), b " + BlobType() +
                          ", ts TIMESTAMP, flag BOOLEAN, n VARCHAR(10), d DATE, tm TIME, "
                          "num NUMERIC(10,2), memo TEXT");
  const std::string bytes("\x00\x01\xff\x7f", 4);
  std::vector<TDbParameter> parameters = {
      {int64_t{9000000000}, ftUnknown},
      {2.5, ftUnknown},
      {std::string("h\xc3\xa9llo \xe2\x9c\x93"), ftUnknown},
      {TDbBytes{bytes}, ftUnknown},
      {TDbDateTime{DateTime(2013, 5, 1, 14, 30, 0, 250)}, ftDateTime},
      {true, ftUnknown},
      {TDbNull{}, ftString},
      {std::string("2013-05-01"), ftDate},
      {TDbDateTime{DateTime(1899, 12, 30, 8, 15, 30)}, ftTime},
      {std::string("12.50"), ftFloat},
      {std::string(5000, 'x'), ftMemo},
  };
  EXPECT_EQ(Exec("INSERT INTO " + t + " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", parameters), 1);

  int64_t rows = 0;
  auto result = db_->Prepare("SELECT * FROM " + t, 0)->Execute({}, rows);
  ASSERT_TRUE(result);
  ASSERT_FALSE(result->Eof());
  EXPECT_EQ(std::get<int64_t>(result->AsValue(0)), 9000000000);
  EXPECT_EQ(result->AsText(0), "9000000000");
  EXPECT_EQ(result->AsFloat(1), 2.5);
  EXPECT_EQ(result->AsText(1), "2.5");
  EXPECT_EQ(result->AsText(2), "h\xc3\xa9llo \xe2\x9c\x93");
  EXPECT_EQ(std::get<TDbBytes>(result->AsValue(3)).Bytes, bytes);
  EXPECT_EQ(result->AsText(3), bytes);
  EXPECT_DOUBLE_EQ(result->AsDateTime(4), DateTime(2013, 5, 1, 14, 30, 0, 250));
  EXPECT_EQ(result->AsText(4), "2013-05-01 14:30:00.250");
  EXPECT_EQ(result->AsText(5), "1");
  EXPECT_EQ(std::get<bool>(result->AsValue(5)), true);
  EXPECT_TRUE(result->IsNull(6));
  EXPECT_TRUE(std::holds_alternative<TDbNull>(result->AsValue(6)));
  EXPECT_EQ(result->AsText(6), "");
  EXPECT_EQ(result->AsFloat(6), 0);
  EXPECT_EQ(result->AsText(7), "2013-05-01");
  EXPECT_DOUBLE_EQ(result->AsDateTime(7), DateTime(2013, 5, 1));
  EXPECT_EQ(result->AsText(8), "08:15:30");
  EXPECT_DOUBLE_EQ(result->AsDateTime(8), DateTime(1899, 12, 30, 8, 15, 30));
  EXPECT_EQ(result->AsText(9), "12.5");
  EXPECT_EQ(result->AsFloat(9), 12.5);
  EXPECT_EQ(result->AsText(10), std::string(5000, 'x'));
  result->Next();
  EXPECT_TRUE(result->Eof());
}

// FieldText is IsNull and AsText in one call: whatever way a driver takes to
// the text (a view of its own buffer, a number formatted into the scratch
// text), it must give the same text, for every field of every record.
void ExpectFieldTextMatches(TDbResultSet& result) {
  std::string scratch;
  int record = 0;
  for (; !result.Eof(); result.Next()) {
    ++record;
    for (int i = 0; i < result.FieldCount(); ++i) {
      std::string_view text = "untouched";
      const bool present = result.FieldText(i, scratch, text);
      EXPECT_EQ(present, !result.IsNull(i)) << "record " << record << ", " << result.Field(i).Name;
      if (present) {
        EXPECT_EQ(text, result.AsText(i)) << "record " << record << ", " << result.Field(i).Name;
      } else {
        EXPECT_EQ(text, "untouched");
      }
    }
  }
  EXPECT_GT(record, 0);
  std::string_view text;
  for (int i = 0; i < result.FieldCount(); ++i) EXPECT_FALSE(result.FieldText(i, scratch, text));
  EXPECT_THROW(result.FieldText(result.FieldCount(), scratch, text), EMorvexError);
  EXPECT_THROW(result.FieldText(-1, scratch, text), EMorvexError);
}

TEST_P(DriverTest, FieldTextGivesIsNullAndAsTextForEveryClass) {
  std::string t = Table("texts",
                        "i INTEGER, big BIGINT, flag BOOLEAN, f DOUBLE PRECISION, num "
                        "NUMERIC(20,2), d DATE, tm TIME, ts TIMESTAMP, memo TEXT, vc "
                        "VARCHAR(40), bin " +
                            BlobType());
  const std::string sql = "INSERT INTO " + t + " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  std::vector<TDbParameter> nulls(11);
  Exec(sql, nulls);
  Exec(sql, {{int64_t{7}, ftInteger},
             {int64_t{9223372036854775807}, ftLargeint},
             {true, ftBoolean},
             {0.1, ftFloat},
             {std::string("12.50"), ftBCD},
             {std::string("2013-05-01"), ftDate},
             {std::string("14:30:00"), ftTime},
             {std::string("2013-05-01 14:30:00.250"), ftDateTime},
             {std::string("line 1\r\nline 2, \"quoted\";  "), ftMemo},
             {std::string("Z\xc3\xbcrich \xe2\x9c\x93  "), ftString},
             {TDbBytes{std::string("\x00\xff\x41", 3)}, ftBlob}});
  Exec(sql, {{int64_t{-1}, ftInteger},
             {int64_t{-9223372036854775807 - 1}, ftLargeint},
             {false, ftBoolean},
             {-1.5e300, ftFloat},
             {std::string("-0.50"), ftBCD},
             {std::string("0001-01-01"), ftDate},
             {std::string("00:00:00"), ftTime},
             {std::string("1899-12-30 00:00:00"), ftDateTime},
             {std::string(""), ftMemo},
             {std::string(""), ftString},
             {TDbBytes{}, ftBlob}});
  int64_t rows = 0;
  auto result = db_->Prepare("SELECT * FROM " + t + " ORDER BY i", 0)->Execute({}, rows);
  ASSERT_TRUE(result);
  ExpectFieldTextMatches(*result);
}

// SQLite keeps any value in any column: the text of a value whose storage
// class differs from the declared type still follows AsText (dates parsed,
// booleans "1" and "0", numbers in a text column, bytes that are no UTF-8).
TEST_P(DriverTest, FieldTextFollowsAsTextForEveryStorageClass) {
  if (!IsSqlite()) GTEST_SKIP() << "only SQLite mixes storage classes in a column";
  std::string t = Table("mixed",
                        "d DATE, tm TIME, ts DATETIME, memo TEXT, n INTEGER, flag BOOLEAN, "
                        "f REAL, num NUMERIC, b BLOB");
  Exec("INSERT INTO " + t +
       " VALUES (1700000000, 0.5, 2456293.75, 42, 'abc', 2, 'x', '12.50', 'text'),"
       " (2456293.5, 'later', '', 4.5, X'6869', 0, X'00', 3, 7),"
       " ('2013-01-01', '24:00:00', '2013-01-01T10:00:00Z', X'C3A9FF00', 3.25, 'yes', 1e300,"
       "  9223372036854775807, 2.5),"
       " ('2013-02-30', X'31', -1, CAST(X'FF41' AS TEXT), -9223372036854775808, -1, -0.0,"
       "  -1, NULL)");
  int64_t rows = 0;
  auto result = db_->Prepare("SELECT *, n + 1, memo || 'x' FROM " + t, 0)->Execute({}, rows);
  ASSERT_TRUE(result);
  ExpectFieldTextMatches(*result);
}

TEST_P(DriverTest, TypedParametersConvertTheirText) {
  std::string t = Table("typed", "i INTEGER, f DOUBLE PRECISION");
  Exec("INSERT INTO " + t + " VALUES (?, ?)",
       {{std::string("42"), ftInteger}, {std::string("-1.5e1"), ftFloat}});
  EXPECT_EQ(Scalar("SELECT i + 1 FROM " + t), "43");
  EXPECT_EQ(Scalar("SELECT f FROM " + t), "-15");
  EXPECT_EQ(Exec("UPDATE " + t + " SET i = 7 WHERE i = ?", {{std::string("42"), ftString}}), 1);
  try {
    Exec("INSERT INTO " + t + " VALUES (?, 0)", {{std::string("many"), ftInteger}});
    ADD_FAILURE() << "a text that is no number was bound as an integer";
  } catch (const EMorvexError& e) {
    EXPECT_STREQ(e.what(), "Parameter 1: \"many\" is not a number");
  }
}

TEST_P(DriverTest, RowsAffectedCountsChangesAndIsNegativeForQueries) {
  std::string t = Table("counts", "id INTEGER, name VARCHAR(10)");
  EXPECT_EQ(Exec("INSERT INTO " + t + " VALUES (1, 'a'), (2, 'b'), (3, 'c')"), 3);
  EXPECT_EQ(Exec("UPDATE " + t + " SET name = 'x' WHERE id >= ?", {{int64_t{2}, ftInteger}}), 2);
  EXPECT_EQ(Exec("UPDATE " + t + " SET name = 'x' WHERE id > 10"), 0);
  EXPECT_EQ(Exec("DELETE FROM " + t + " WHERE id = 1"), 1);
  int64_t rows = 0;
  auto result = db_->Prepare("SELECT * FROM " + t, 0)->Execute({}, rows);
  EXPECT_LT(rows, 0);
  ASSERT_TRUE(result);
  result->Close();
  auto none = db_->Prepare("DELETE FROM " + t + " WHERE id = 99", 0)->Execute({}, rows);
  EXPECT_FALSE(none);
}

TEST_P(DriverTest, QueryWithoutRowsStillGivesAResultSet) {
  std::string t = Table("empty", "id INTEGER");
  int64_t rows = 0;
  auto result = db_->Prepare("SELECT id FROM " + t, 0)->Execute({}, rows);
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->Eof());
  EXPECT_EQ(result->FieldCount(), 1);
  EXPECT_TRUE(result->IsNull(0));
}

TEST_P(DriverTest, EveryAccessorChecksTheIndexAndPastTheEndEveryFieldIsNull) {
  std::string t = Table("one", "id INTEGER, note VARCHAR(10)");
  Exec("INSERT INTO " + t + " VALUES (7, '2024-01-02')");
  int64_t rows = 0;
  auto result = db_->Prepare("SELECT id, note FROM " + t, 0)->Execute({}, rows);
  ASSERT_TRUE(result);
  for (int index : {-1, 2}) {
    const std::string message = "Field index " + std::to_string(index) + " is out of range";
    auto expectOutOfRange = [&](auto&& read) {
      try {
        read();
        ADD_FAILURE() << "no error for index " << index;
      } catch (const EMorvexError& error) {
        EXPECT_EQ(error.what(), message);
      }
    };
    expectOutOfRange([&] { result->Field(index); });
    expectOutOfRange([&] { result->IsNull(index); });
    expectOutOfRange([&] { result->AsText(index); });
    expectOutOfRange([&] { result->AsFloat(index); });
    expectOutOfRange([&] { result->AsDateTime(index); });
    expectOutOfRange([&] { result->AsValue(index); });
  }
  EXPECT_EQ(result->AsFloat(0), 7.0);
  EXPECT_EQ(result->AsDateTime(1), DateTime(2024, 1, 2));
  result->Next();
  ASSERT_TRUE(result->Eof());
  EXPECT_TRUE(result->IsNull(0));
  EXPECT_EQ(result->AsText(1), "");
  EXPECT_EQ(result->AsFloat(0), 0.0);
  EXPECT_TRUE(std::holds_alternative<TDbNull>(result->AsValue(1)));
}

TEST_P(DriverTest, NestedStatementsRunWhileTheParentIsOpen) {
  std::string parents = Table("parents", "id INTEGER, name VARCHAR(10)");
  std::string children = Table("children", "parent_id INTEGER, label VARCHAR(20)");
  Exec("INSERT INTO " + parents + " VALUES (1, 'a'), (2, 'b'), (3, 'c')");

  auto parentStmt = db_->Prepare("SELECT id, name FROM " + parents + " ORDER BY id", 0);
  auto insertStmt = db_->Prepare("INSERT INTO " + children + " VALUES (?, ?)", 2);
  auto countStmt = db_->Prepare("SELECT COUNT(*) FROM " + children + " WHERE parent_id <= ?", 1);
  int64_t rows = 0;
  auto parent = parentStmt->Execute({}, rows);
  ASSERT_TRUE(parent);
  int seen = 0;
  for (; !parent->Eof(); parent->Next()) {
    ++seen;
    TDbParameter id{parent->AsValue(0), parent->Field(0).Type};
    EXPECT_EQ(insertStmt->Execute({id, {parent->AsText(1) + "-child", ftString}}, rows), nullptr);
    EXPECT_EQ(rows, 1);
    auto count = countStmt->Execute({id}, rows);
    ASSERT_TRUE(count);
    EXPECT_EQ(count->AsText(0), std::to_string(seen));
    count->Close();
  }
  EXPECT_EQ(seen, 3);
  parent->Close();
  // Each nested statement committed as it ran: another connection sees them.
  auto other = OpenConnection(connectionString_);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + children + " WHERE label LIKE '%-child'", other.get()),
            "3");
}

// Server databases read a parent through a cursor in batches: nested changes
// must commit as they run, and the cursor must keep working after them.
// (SQLite commits when the connection's last statement ends.)
using ServerDriverTest = DriverTest;

TEST_P(ServerDriverTest, NestedChangesCommitWhileALongParentIsStillOpen) {
  std::string parents = Table("longparents", "id INTEGER");
  std::string children = Table("longchildren", "id INTEGER");
  Exec("INSERT INTO " + parents + " SELECT g FROM generate_series(1, 2500) g");
  auto other = OpenConnection(connectionString_);
  int64_t rows = 0;
  auto parent = db_->Prepare("SELECT id FROM " + parents + " ORDER BY id", 0)->Execute({}, rows);
  auto insert = db_->Prepare("INSERT INTO " + children + " VALUES (?)", 1);
  int64_t sum = 0;
  for (; !parent->Eof(); parent->Next()) {
    int64_t id = std::get<int64_t>(parent->AsValue(0));
    sum += id;
    if (id % 1000 == 1) {
      insert->Execute({{id, ftInteger}}, rows);
      EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + children, other.get()),
                std::to_string(id / 1000 + 1));
    }
  }
  EXPECT_EQ(sum, 2500 * 2501 / 2);
}

// Under AddressSanitizer the rows are still read, fewer of them.
constexpr int kStreamRows = kMeasureMemory ? 200000 : 20000;

TEST_P(DriverTest, ResultSetsStreamWithFlatMemory) {
  std::string n = std::to_string(kStreamRows);
  std::string source = IsSqlite() ? "WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 "
                                    "FROM g WHERE n < " +
                                        n +
                                        ") SELECT n, printf('%.100c', 'x') "
                                        "AS pad FROM g"
                                  : "SELECT n, repeat('x', 100) AS pad FROM "
                                    "generate_series(1, " +
                                        n + ") n";
  long before = ResidentKilobytes();
  int64_t rows = 0;
  auto result = db_->Prepare(source, 0)->Execute({}, rows);
  int64_t count = 0;
  size_t bytes = 0;
  for (; !result->Eof(); result->Next()) {
    ++count;
    bytes += result->AsText(1).size();
  }
  long growth = ResidentKilobytes() - before;
  EXPECT_EQ(count, kStreamRows);
  EXPECT_EQ(bytes, kStreamRows * 100u);
  // The whole result is over 20 MB.
  if (kMeasureMemory) {
    EXPECT_LT(growth, 6 * 1024) << "resident memory grew by " << growth << " kB";
  }
}

TEST_P(DriverTest, TransactionsCommitAndRollBack) {
  std::string t = Table("tx", "id INTEGER");
  EXPECT_FALSE(db_->InTransaction());
  db_->BeginTransaction();
  EXPECT_TRUE(db_->InTransaction());
  Exec("INSERT INTO " + t + " VALUES (1)");
  db_->Rollback();
  EXPECT_FALSE(db_->InTransaction());
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t), "0");

  db_->BeginTransaction();
  Exec("INSERT INTO " + t + " VALUES (2)");
  db_->Commit();
  EXPECT_FALSE(db_->InTransaction());
  auto other = OpenConnection(connectionString_);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t, other.get()), "1");
}

TEST_P(DriverTest, NestedChangesInATransactionRollBackTogether) {
  std::string parents = Table("txparents", "id INTEGER");
  std::string children = Table("txchildren", "id INTEGER");
  Exec("INSERT INTO " + parents + " VALUES (1), (2)");
  db_->BeginTransaction();
  int64_t rows = 0;
  auto parent = db_->Prepare("SELECT id FROM " + parents, 0)->Execute({}, rows);
  auto insert = db_->Prepare("INSERT INTO " + children + " VALUES (?)", 1);
  for (; !parent->Eof(); parent->Next()) insert->Execute({{parent->AsValue(0), ftInteger}}, rows);
  parent->Close();
  db_->Rollback();
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + children), "0");
}

// Datasets stay open after a phase: the commit must work with a result set
// still open, and closing that result set later must not disturb the next
// transaction.
TEST_P(DriverTest, CommitWithAResultSetStillOpen) {
  std::string t = Table("openatcommit", "id INTEGER");
  Exec("INSERT INTO " + t + " VALUES (1), (2), (3)");
  db_->BeginTransaction();
  int64_t rows = 0;
  auto open = db_->Prepare("SELECT id FROM " + t + " ORDER BY id", 0)->Execute({}, rows);
  ASSERT_FALSE(open->Eof());
  Exec("INSERT INTO " + t + " VALUES (4)");
  db_->Commit();
  db_->BeginTransaction();
  open->Close();
  Exec("INSERT INTO " + t + " VALUES (5)");
  EXPECT_TRUE(db_->InTransaction());
  db_->Commit();
  auto other = OpenConnection(connectionString_);
  EXPECT_EQ(Scalar("SELECT COUNT(*) FROM " + t, other.get()), "5");
}

TEST_P(DriverTest, ABatchRunsEveryStatementAndKeepsTheLastRows) {
  std::string t = Table("batch", "id INTEGER");
  int64_t rows = 0;
  auto result = db_->Prepare("INSERT INTO " + t + " VALUES (1); INSERT INTO " + t +
                                 " VALUES (2); SELECT id FROM " + t + " ORDER BY id",
                             0)
                    ->Execute({}, rows);
  EXPECT_EQ(rows, 2);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->AsText(0), "1");
  result->Next();
  EXPECT_EQ(result->AsText(0), "2");
  result->Next();
  EXPECT_TRUE(result->Eof());
  result->Close();

  result = db_->Prepare("SELECT 'first' AS a; INSERT INTO " + t + " VALUES (?); SELECT id FROM " +
                            t + " WHERE id > ?",
                        2)
               ->Execute({{int64_t{3}, ftInteger}, {int64_t{2}, ftInteger}}, rows);
  EXPECT_EQ(rows, 1);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->Field(0).Name, "id");
  EXPECT_EQ(result->AsText(0), "3");
}

TEST_P(DriverTest, PlaceholdersInCommentsAndQuotesAreNotParameters) {
  // The layer above turns ":name" in a comment into "?" too: that marker
  // takes its parameter, but the database never sees it.
  int64_t rows = 0;
  auto result = db_->Prepare("SELECT '?' AS q, ? AS p /* ? */ -- ?\n", 3)
                    ->Execute({{std::string("one"), ftString},
                               {std::string("two"), ftString},
                               {std::string("three"), ftString}},
                              rows);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->AsText(0), "?");
  EXPECT_EQ(result->AsText(1), "one");
}

TEST_P(DriverTest, SqlErrorsCarryTheDatabaseMessage) {
  try {
    Exec("SELECT * FROM no_such_table_here");
    ADD_FAILURE() << "no error";
  } catch (const EMorvexError& e) {
    EXPECT_NE(std::string(e.what()).find("no_such_table_here"), std::string::npos) << e.what();
  }
  // The connection stays usable.
  EXPECT_EQ(Scalar("SELECT 5"), "5");
}

TEST_P(ServerDriverTest, WrongPasswordNeverShowsInTheMessage) {
  std::string secret = "Wr0ng-Secret-Text";
  std::string text = GetParam() == TTestDb::PostgreSQL
                         ? connectionString_ + "User ID=morvex_auth;Password=" + secret + ";"
                         : connectionString_ + ";UID=morvex_auth;PWD=" + secret;
  try {
    OpenConnection(text);
    ADD_FAILURE() << "connected with a wrong password";
  } catch (const EMorvexError& e) {
    std::string message = e.what();
    EXPECT_EQ(message.rfind("Cannot connect to database! ", 0), 0u) << message;
    EXPECT_EQ(message.find(secret), std::string::npos) << message;
    EXPECT_NE(message.find("morvex_auth"), std::string::npos) << message;
  }
}

TEST(PostgresDriver, CommitOfAFailedTransactionIsAnError) {
  std::string text;
  MORVEX_REQUIRE_TEST_DB(TTestDb::PostgreSQL, text);
  auto db = OpenConnection(text);
  int64_t rows = 0;
  db->BeginTransaction();
  EXPECT_THROW(db->Prepare("SELECT 1 / 0", 0)->Execute({}, rows), EMorvexError);
  EXPECT_TRUE(db->InTransaction());
  try {
    db->Commit();
    ADD_FAILURE() << "the commit of a failed transaction succeeded";
  } catch (const EMorvexError& e) {
    EXPECT_STREQ(e.what(), "The transaction was rolled back: a statement in it failed");
  }
  EXPECT_FALSE(db->InTransaction());
  // COPY through the client is refused and leaves the connection usable.
  EXPECT_THROW(db->Prepare("COPY (SELECT 1) TO STDOUT", 0)->Execute({}, rows), EMorvexError);
  auto result = db->Prepare("SELECT 2", 0)->Execute({}, rows);
  EXPECT_EQ(result->AsText(0), "2");
}

std::string TestName(const ::testing::TestParamInfo<TTestDb>& info) {
  return testing::TestDbName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverTest,
                         ::testing::Values(TTestDb::SQLite, TTestDb::PostgreSQL, TTestDb::Odbc),
                         TestName);
INSTANTIATE_TEST_SUITE_P(Drivers, ServerDriverTest,
                         ::testing::Values(TTestDb::PostgreSQL, TTestDb::Odbc), TestName);

}  // namespace
}  // namespace morvex
