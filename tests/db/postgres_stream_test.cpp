// PostgreSQL result sets of statements read alone (streamed without a
// cursor, through COPY or in single-row mode) against the cursor's: the same
// texts and values, errors in the middle, other statements run beside them
// although the caller said none would, memory that stays flat.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "db/db_values.h"
#include "db/driver.h"
#include "db/open_connection.h"
#include "tests/support/resident_memory.h"
#include "tests/support/test_database.h"
#include "text/error.h"

namespace morvex {
namespace {

using testing::TTestDb;

// How a statement is read: through a cursor, or streamed without
// parameters (COPY) or with one (single-row mode).
enum class TRead { Cursor, Copy, Rows };

class PostgresStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MORVEX_REQUIRE_TEST_DB(TTestDb::PostgreSQL, text_);
    db_ = OpenConnection(text_);
  }

  void TearDown() override {
    if (!db_) return;
    if (db_->InTransaction()) db_->Rollback();
    for (const std::string& table : tables_) Exec("DROP TABLE IF EXISTS " + table);
    db_->Close();
  }

  std::string Table(const std::string& name, const std::string& columns) {
    const std::string table = testing::ProcessUniqueName(name);
    Exec("DROP TABLE IF EXISTS " + table);
    Exec("CREATE TABLE " + table + " (" + columns + ")");
    tables_.push_back(table);
    return table;
  }

  int64_t Exec(const std::string& sql, TDbConnection* db = nullptr) {
    int64_t rows = 0;
    (db != nullptr ? db : db_.get())->Prepare(sql, 0)->Execute({}, rows);
    return rows;
  }

  std::string Scalar(const std::string& sql, TDbConnection* db = nullptr) {
    int64_t rows = 0;
    auto result = (db != nullptr ? db : db_.get())->Prepare(sql, 0)->Execute({}, rows);
    return result && !result->Eof() ? result->AsText(0) : "(none)";
  }

  // The statement `sql` ("WHERE" conditions may follow it) read the way
  // `read` says; the statement stays alive in `statement`.
  std::unique_ptr<TDbResultSet> Open(const std::string& sql, TRead read,
                                     std::unique_ptr<TDbStatement>& statement) {
    int64_t rows = 0;
    if (read == TRead::Rows) {
      statement = db_->Prepare("SELECT * FROM (" + sql + ") q WHERE ? IS NOT NULL", 1);
      statement->SetReadAlone(true);
      return statement->Execute({{std::string("x"), ftString}}, rows);
    }
    statement = db_->Prepare(sql, 0);
    statement->SetReadAlone(read != TRead::Cursor);
    return statement->Execute({}, rows);
  }

  std::string text_;
  std::unique_ptr<TDbConnection> db_;
  std::vector<std::string> tables_;
};

constexpr TRead kStreams[] = {TRead::Copy, TRead::Rows};

std::string Name(TRead read) {
  return read == TRead::Copy ? "COPY" : read == TRead::Rows ? "single-row" : "cursor";
}

// A value as text with its kind, so that two values compare in full.
std::string Describe(const TDbValue& value) {
  std::string text = std::to_string(value.index()) + ":";
  if (const double* d = std::get_if<double>(&value); d != nullptr && std::isnan(*d)) {
    return text + "nan";
  }
  return text + DbValueText(value, ftUnknown);
}

TEST_F(PostgresStreamTest, StreamedResultsGiveTheCursorsFieldsTextsAndValues) {
  // Texts with every character COPY escapes, "\N" as a text, and values
  // whose text differs from the server's (numerics with trailing zeros,
  // floats, date-times with fractions, zones, eras).
  const std::string sql =
      "SELECT * FROM (VALUES "
      "(1, 'plain'::text, 'v'::varchar(10), 'ab'::char(4), 7::int2, '-2147483648'::int4, "
      "9223372036854775807::int8, 12.500::numeric, 1.1::float4, 0.1::float8, 1234.5::money, "
      "true, '\\x00ff5c0a09'::bytea, '2013-01-02'::date, '12:34:56'::time, "
      "'12:34:56+02'::timetz, '2013-01-02 03:04:05'::timestamp, "
      "'2013-01-02 03:04:05+00'::timestamptz, '1 day 02:00'::interval, '{\"a\": [1]}'::json, "
      "'{\"b\": 2}'::jsonb, '<x>1</x>'::xml, 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11'::uuid, "
      "ARRAY['x\\y', 'tab\there']::text[], 'name'::name), "
      "(2, E'tab\\there\\nline\\rcr\\\\back\\bbs\\fff\\vvt', '\\N', '', -7, 0, -1, -0.50, "
      "'NaN', 'Infinity', '-3', false, '\\x', '0044-03-15 BC', '12:34:56.789', '00:00:00-05:30', "
      "'2013-01-02 03:04:05.5', 'infinity', '-1 year', 'null', '[]', '', "
      "'00000000-0000-0000-0000-000000000000', '{}', ''), "
      "(3, 'ünïcödé € 𝄞', E'\\\\N', 'x', 0, 1, 0, 0.000, '-Infinity', 1e20, '0', true, "
      "'\\x5c4e', 'infinity', '24:00:00', '24:00:00+00', '0001-01-01 00:00:00', "
      "'2013-06-30 23:59:59.9999+02', '0', '1.5', '\"s\"', '<y/>', "
      "'ffffffff-ffff-ffff-ffff-ffffffffffff', '{NULL}', 'n'), "
      "(4, NULL, NULL, NULL, NULL, NULL, NULL, 123456789012345678901234567890.1234567890, "
      "-0.0, 1e-5, NULL, NULL, NULL, '12345-01-01', NULL, NULL, '0044-03-15 10:00:00 BC', NULL, "
      "NULL, NULL, NULL, NULL, NULL, NULL, NULL), "
      "(5, NULL, NULL, NULL, NULL, NULL, NULL, 'NaN', NULL, 123456789012345680000, NULL, NULL, "
      "NULL, '0044-03-15', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)"
      ") v(k, t, vc, c, i2, i4, i8, n, f4, f8, m, b, bin, d, tm, ttz, ts, tstz, iv, j, jb, x, "
      "u, arr, nm) ORDER BY k";
  std::unique_ptr<TDbStatement> cursorStatement;
  auto cursor = Open(sql, TRead::Cursor, cursorStatement);
  std::vector<std::vector<std::string>> expected;
  for (; !cursor->Eof(); cursor->Next()) {
    std::vector<std::string> row;
    for (int i = 0; i < cursor->FieldCount(); ++i) {
      row.push_back(cursor->IsNull(i) ? "(null)"
                                      : cursor->AsText(i) + "|" + Describe(cursor->AsValue(i)));
    }
    expected.push_back(row);
  }
  ASSERT_EQ(expected.size(), 5u);

  for (TRead read : kStreams) {
    SCOPED_TRACE(Name(read));
    std::unique_ptr<TDbStatement> statement;
    auto result = Open(sql, read, statement);
    ASSERT_EQ(result->FieldCount(), cursor->FieldCount());
    for (int i = 0; i < cursor->FieldCount(); ++i) {
      EXPECT_EQ(result->Field(i).Name, cursor->Field(i).Name);
      EXPECT_EQ(result->Field(i).Type, cursor->Field(i).Type) << result->Field(i).Name;
    }
    size_t row = 0;
    std::string scratch;
    for (; !result->Eof(); result->Next(), ++row) {
      ASSERT_LT(row, expected.size());
      for (int i = 0; i < result->FieldCount(); ++i) {
        SCOPED_TRACE(result->Field(i).Name + " of row " + std::to_string(row + 1));
        const TDbValue value = result->AsValue(i);
        std::string_view text;
        const bool present = result->FieldText(i, scratch, text);
        EXPECT_EQ(present, !result->IsNull(i));
        if (!present) {
          EXPECT_EQ(expected[row][i], "(null)");
          continue;
        }
        // The text given without a copy is the one the value gives.
        EXPECT_EQ(text, DbValueText(value, result->Field(i).Type));
        EXPECT_EQ(std::string(text) + "|" + Describe(value), expected[row][i]);
        EXPECT_EQ(result->AsText(i), text);
      }
    }
    EXPECT_EQ(row, expected.size());
  }
}

TEST_F(PostgresStreamTest, TextsAreVouchedForAsUtf8OnlyWhenTheServerSendsUtf8) {
  std::unique_ptr<TDbStatement> statement;
  for (TRead read : {TRead::Cursor, TRead::Copy, TRead::Rows}) {
    EXPECT_TRUE(Open("SELECT 'é' AS t", read, statement)->TextIsValidUtf8()) << Name(read);
  }
  // A statement may switch the connection to another encoding.
  Exec("SET client_encoding TO 'LATIN1'");
  for (TRead read : {TRead::Cursor, TRead::Copy, TRead::Rows}) {
    auto result = Open("SELECT chr(233) AS t", read, statement);
    EXPECT_FALSE(result->TextIsValidUtf8()) << Name(read);
    EXPECT_EQ(result->AsText(0), "\xE9") << Name(read);
  }
}

TEST_F(PostgresStreamTest, AnErrorInTheMiddleComesAfterTheRowsBeforeIt) {
  const std::string sql = "SELECT i, 1 / (50000 - i) AS q FROM generate_series(1, 100000) i";
  for (bool transaction : {false, true}) {
    for (TRead read : kStreams) {
      SCOPED_TRACE(Name(read) + (transaction ? " in a transaction" : ""));
      if (transaction) db_->BeginTransaction();
      std::unique_ptr<TDbStatement> statement;
      auto result = Open(sql, read, statement);
      int64_t rows = 0;
      std::string message = "no error";
      try {
        for (; !result->Eof(); result->Next()) ++rows;
      } catch (const EMorvexError& error) {
        message = error.what();
      }
      EXPECT_EQ(rows, 49999);
      EXPECT_EQ(message, "division by zero");
      EXPECT_TRUE(result->Eof());
      result->Close();
      if (transaction) {
        EXPECT_TRUE(db_->InTransaction());
        EXPECT_THROW(db_->Commit(), EMorvexError);
      }
      EXPECT_EQ(Scalar("SELECT 5"), "5");
    }
  }
}

TEST_F(PostgresStreamTest, StatementsRunBesideAResultSaidToBeReadAlone) {
  const std::string log = Table("stream_log", "id INTEGER");
  for (bool transaction : {false, true}) {
    for (TRead read : kStreams) {
      SCOPED_TRACE(Name(read) + (transaction ? " in a transaction" : ""));
      Exec("DELETE FROM " + log);
      if (transaction) db_->BeginTransaction();
      std::unique_ptr<TDbStatement> statement;
      auto result = Open("SELECT i FROM generate_series(1, 3000) i ORDER BY i", read, statement);
      auto insert = db_->Prepare("INSERT INTO " + log + " VALUES (?)", 1);
      auto count = db_->Prepare("SELECT count(*) FROM " + log, 0);
      count->SetReadAlone(true);
      int64_t expected = 0;
      for (; !result->Eof(); result->Next()) {
        const int64_t id = std::stoll(result->AsText(0));
        EXPECT_EQ(id, ++expected);
        if (id % 1000 != 1) continue;
        int64_t rows = 0;
        insert->Execute({{id, ftInteger}}, rows);
        EXPECT_EQ(rows, 1);
        auto counted = count->Execute({}, rows);
        EXPECT_EQ(counted->AsText(0), std::to_string(id / 1000 + 1));
        EXPECT_EQ(db_->InTransaction(), transaction);
      }
      EXPECT_EQ(expected, 3000);
      if (transaction) db_->Commit();
      auto other = OpenConnection(text_);
      EXPECT_EQ(Scalar("SELECT string_agg(id::text, ',' ORDER BY id) FROM " + log, other.get()),
                "1,1001,2001");
    }
  }

  // Rows read ahead for another statement keep the query's error for the
  // row where it happened; a transaction begun meanwhile works.
  for (TRead read : kStreams) {
    SCOPED_TRACE(Name(read));
    std::unique_ptr<TDbStatement> statement;
    auto result = Open("SELECT 1 / (500 - i) FROM generate_series(1, 1000) i", read, statement);
    db_->BeginTransaction();
    Exec("INSERT INTO " + log + " VALUES (-1)");
    db_->Rollback();
    int64_t rows = 0;
    EXPECT_THROW(
        {
          for (; !result->Eof(); result->Next()) ++rows;
        },
        EMorvexError);
    EXPECT_EQ(rows, 499);
  }
}

TEST_F(PostgresStreamTest, DetailsStreamBesideTheirMastersCursor) {
  const std::string items = Table("stream_items", "master INTEGER, qty INTEGER");
  const std::string log = Table("stream_detail_log", "qty INTEGER UNIQUE");
  Exec("INSERT INTO " + items + " SELECT i / 3, i FROM generate_series(3, 29) i");
  for (bool transaction : {false, true}) {
    SCOPED_TRACE(transaction ? "in a transaction" : "outside a transaction");
    Exec("DELETE FROM " + log);
    if (!transaction) Exec("INSERT INTO " + log + " VALUES (20)");
    if (transaction) db_->BeginTransaction();
    int64_t rows = 0;
    auto master = db_->Prepare("SELECT i FROM generate_series(1, 9) i ORDER BY i", 0);
    auto detail = db_->Prepare("SELECT qty FROM " + items + " WHERE master = ? ORDER BY qty", 1);
    detail->SetReadAlone(true);
    auto insert = db_->Prepare("INSERT INTO " + log + " VALUES (?)", 1);
    std::string seen;
    int failures = 0;
    for (auto m = master->Execute({}, rows); !m->Eof(); m->Next()) {
      auto d = detail->Execute({{m->AsValue(0), ftInteger}}, rows);
      for (; !d->Eof(); d->Next()) {
        seen += d->AsText(0) + ",";
        try {
          insert->Execute({{d->AsValue(0), ftInteger}}, rows);
        } catch (const EMorvexError&) {
          ++failures;  // 20 is there already
        }
      }
    }
    EXPECT_EQ(seen, "3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,");
    if (transaction) {
      EXPECT_EQ(failures, 0);
      EXPECT_EQ(Scalar("SELECT count(*) FROM " + log), "27");
      db_->Rollback();
      EXPECT_EQ(Scalar("SELECT count(*) FROM " + log), "0");
    } else {
      // Outside a transaction each insert stands on its own, and the
      // master's rows go on after one fails.
      EXPECT_EQ(failures, 1);
      EXPECT_EQ(Scalar("SELECT count(*) FROM " + log), "27");
    }
  }
}

TEST_F(PostgresStreamTest, ABigStreamedResultKeepsMemoryFlatAndClosesEarly) {
  const int count = kMeasureMemory ? 300000 : 30000;
  const std::string sql =
      "SELECT n, repeat('x', 100) AS pad FROM generate_series(1, " + std::to_string(count) + ") n";
  for (TRead read : kStreams) {
    SCOPED_TRACE(Name(read));
    std::unique_ptr<TDbStatement> statement;
    const long before = ResidentKilobytes();
    auto result = Open(sql, read, statement);
    int64_t rows = 0;
    size_t bytes = 0;
    std::string scratch;
    std::string_view text;
    for (; !result->Eof(); result->Next()) {
      ++rows;
      if (result->FieldText(1, scratch, text)) bytes += text.size();
    }
    const long growth = ResidentKilobytes() - before;
    EXPECT_EQ(rows, count);
    EXPECT_EQ(bytes, static_cast<size_t>(count) * 100);
    // The whole result is over 30 MB.
    if (kMeasureMemory) {
      EXPECT_LT(growth, 6 * 1024) << "resident memory grew by " << growth << " kB";
    }

    // Closed after a few rows, in a transaction and outside: the connection
    // and the transaction go on.
    for (bool transaction : {false, true}) {
      if (transaction) db_->BeginTransaction();
      result = Open(sql, read, statement);
      for (int i = 0; i < 10; ++i) result->Next();
      EXPECT_EQ(result->AsText(0), "11");
      result->Close();
      EXPECT_TRUE(result->Eof());
      EXPECT_EQ(Scalar("SELECT 6"), "6");
      if (transaction) db_->Commit();
    }
  }
}

}  // namespace
}  // namespace morvex
