// Values at the edges of what the drivers convert: the same stored value
// gives the same text through libpq and through ODBC (psqlODBC), exact
// numbers keep their digits, and psqlODBC streams large results.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "db/connection_string.h"
#include "db/driver.h"
#include "tests/db/driver_test_databases.h"
#include "tests/support/resident_memory.h"
#include "text/error.h"

namespace morvex {
namespace {

using testing::TTestDb;

class LibpqAndOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pg, odbc;
    MORVEX_REQUIRE_TEST_DB(TTestDb::PostgreSQL, pg);
    MORVEX_REQUIRE_TEST_DB(TTestDb::Odbc, odbc);
    pgItems_ = ParseConnectionString(pg);
    libpq_ = OpenConnection(pg);
    odbc_ = OpenConnection(odbc);
  }

  // The text of the single value `sql` selects; the error message instead
  // when reading it fails.
  static std::string Text(TDbConnection& db, const std::string& sql) {
    try {
      int64_t rows = 0;
      auto result = db.Prepare(sql, 0)->Execute({}, rows);
      if (!result || result->Eof()) return "<no row>";
      return result->AsText(0);
    } catch (const EMorvexError& e) {
      return std::string("error: ") + e.what();
    }
  }

  // An ODBC connection string without the test data source, so that only
  // what the program sets applies.
  std::string OdbcWithoutDsn() const {
    return "Driver=PostgreSQL Unicode;Servername=" +
           *FindConnectionValue(pgItems_, {"data source"}) +
           ";Port=" + *FindConnectionValue(pgItems_, {"port"}) +
           ";Database=morvex_test;Username=morvex;BoolsAsChar=0";
  }

  std::vector<TConnectionStringItem> pgItems_;
  std::unique_ptr<TDbConnection> libpq_;
  std::unique_ptr<TDbConnection> odbc_;
};

TEST_F(LibpqAndOdbcTest, TheSameStoredValueGivesTheSameText) {
  const struct {
    const char* sql;
    std::string text;
  } cases[] = {
      {"select 1e309", "1" + std::string(309, '0')},
      {"select cast('123456789012345678.9' as numeric(30,1))", "123456789012345678.9"},
      {"select cast(12.500 as numeric(10,3))", "12.5"},
      {"select cast(-0.50 as numeric(5,2))", "-0.5"},
      {"select time '24:00:00'", "24:00:00"},
      {"select time '12:30:00.25'", "12:30:00.250"},
      {"select timestamp '-infinity'", "-infinity"},
      {"select timestamp '0044-03-15 12:30:00 BC'", "0044-03-15 12:30:00 BC"},
      {"select timestamp '2013-05-01 14:30:00.25'", "2013-05-01 14:30:00.250"},
      {"select date '2013-05-01'", "2013-05-01"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(*libpq_, c.sql), c.text) << "libpq: " << c.sql;
    EXPECT_EQ(Text(*odbc_, c.sql), c.text) << "ODBC: " << c.sql;
  }
  // psqlODBC gives "infinity" as 9999-12-31 23:59:59, as it gives a value
  // really stored so; that value stays.
  EXPECT_EQ(Text(*libpq_, "select timestamp 'infinity'"), "infinity");
  EXPECT_EQ(Text(*odbc_, "select timestamp 'infinity'"), "9999-12-31 23:59:59");
  EXPECT_EQ(Text(*odbc_, "select timestamp '9999-12-31 23:59:59'"), "9999-12-31 23:59:59");
  // psqlODBC makes dates of its own of these; reading them fails instead of
  // giving a wrong date.
  const struct {
    const char* sql;
    const char* text;
  } refused[] = {
      {"select date 'infinity' as d", "infinity"},
      {"select date '-infinity' as d", "-infinity"},
      {"select date '12345-01-01' as d", "12345-01-01"},
      {"select timestamp '12345-01-01 10:00:00' as d", "12345-01-01 10:00:00"},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(Text(*libpq_, c.sql), c.text) << "libpq: " << c.sql;
    EXPECT_EQ(Text(*odbc_, c.sql),
              "error: The ODBC driver cannot give the date of field d (infinity, or a year beyond "
              "9999): read it as text (CAST(d AS text)) or connect with Provider=PostgreSQL")
        << "ODBC: " << c.sql;
  }
}

// A numeric field bound into another statement keeps its digits; through
// ODBC one that a double holds exactly still works in arithmetic.
TEST_F(LibpqAndOdbcTest, ExactDecimalParametersKeepTheirDigits) {
  const std::vector<TDbParameter> parameters = {{std::string("123456789012345678.9"), ftBCD},
                                                {std::string("12.5"), ftBCD}};
  for (TDbConnection* db : {libpq_.get(), odbc_.get()}) {
    int64_t rows = 0;
    auto result = db->Prepare("select cast(? as numeric(30,1)), cast(? as numeric(5,2))", 2)
                      ->Execute(parameters, rows);
    EXPECT_EQ(result->AsText(0), "123456789012345678.9") << db->DriverName();
    EXPECT_EQ(result->AsText(1), "12.5") << db->DriverName();
  }
  int64_t rows = 0;
  auto sum = odbc_->Prepare("select ? + 1", 1)->Execute({parameters[1]}, rows);
  EXPECT_EQ(sum->AsText(0), "13.5");
}

constexpr int kRows = kMeasureMemory ? 1000000 : 20000;

// psqlODBC reads a whole result into memory unless told otherwise; the
// connection tells it, when the connection string does not say.
TEST_F(LibpqAndOdbcTest, OdbcStreamsAMillionRowsWithoutTheDataSourceSaying) {
  auto db = OpenConnection(OdbcWithoutDsn());
  long before = ResidentKilobytes();
  int64_t rows = 0;
  auto result =
      db->Prepare("select n, 'abcdefghijklmnopqrstuvwxyz' as pad from generate_series(1, " +
                      std::to_string(kRows) + ") n",
                  0)
          ->Execute({}, rows);
  int64_t count = 0, sum = 0;
  for (; !result->Eof(); result->Next()) {
    ++count;
    sum += std::get<int64_t>(result->AsValue(0));
  }
  long growth = ResidentKilobytes() - before;
  EXPECT_EQ(count, kRows);
  EXPECT_EQ(sum, int64_t{kRows} * (kRows + 1) / 2);
  if (kMeasureMemory) {
    EXPECT_LT(growth, 16 * 1024) << "resident memory grew by " << growth << " kB";
  }
}

}  // namespace
}  // namespace morvex
