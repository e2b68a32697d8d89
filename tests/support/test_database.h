// The databases the database tests run against: a SQLite file made for the
// test, and the PostgreSQL server and ODBC data source that scripts/run-tests
// starts and names in MORVEX_PG and MORVEX_ODBC (both reach one server
// database). Without those variables the server tests skip, except under
// CI=true, where they fail.
//
// TDatabaseTest is the fixture of tests that run every case on each backend:
// a fresh SQLite file per test, or the server database with table names made
// unique to the test process, since ctest runs test processes side by side
// on the same server. In SQL and template texts "{name}" stands for table
// `name` of this process.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"
#include "db/open_connection.h"
#include "text/error.h"

namespace morvex::testing {

enum class TTestDb { SQLite, PostgreSQL, Odbc };

inline std::string TestDbName(TTestDb db) {
  switch (db) {
    case TTestDb::SQLite:
      return "SQLite";
    case TTestDb::PostgreSQL:
      return "PostgreSQL";
    default:
      return "ODBC";
  }
}

// The test name suffix of a parameterised test (".../SQLite").
inline std::string TestDbParamName(const ::testing::TestParamInfo<TTestDb>& info) {
  return TestDbName(info.param);
}

// Every backend, for INSTANTIATE_TEST_SUITE_P.
inline auto AllTestDbs() {
  return ::testing::Values(TTestDb::SQLite, TTestDb::PostgreSQL, TTestDb::Odbc);
}

inline const char* TestDbVariable(TTestDb db) {
  return db == TTestDb::PostgreSQL ? "MORVEX_PG" : "MORVEX_ODBC";
}

inline bool RunningInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string_view(ci) == "true";
}

// A per-process name, so that test processes running side by side on one
// server database do not share tables.
inline std::string ProcessUniqueName(std::string_view name) {
  return std::string(name) + "_" + std::to_string(::getpid());
}

// An empty SQLite database file (SQLite takes an empty file as an empty
// database), removed with the object.
class TTempSqliteFile {
 public:
  TTempSqliteFile()
      : path_(std::filesystem::temp_directory_path() /
              (ProcessUniqueName("morvex-db") + "-" + std::to_string(counter_++) + ".sqlite")) {
    std::ofstream(path_).close();
  }
  ~TTempSqliteFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    std::filesystem::remove(path_.string() + "-journal", ignored);
  }
  TTempSqliteFile(const TTempSqliteFile&) = delete;
  TTempSqliteFile& operator=(const TTempSqliteFile&) = delete;

  std::string Path() const { return path_.string(); }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

}  // namespace morvex::testing

// In a test fixture's SetUp: the connection string of a server database, or
// a skip (a failure under CI) when the variable is not set.
#define MORVEX_REQUIRE_TEST_DB(db, out)                                                  \
  do {                                                                                   \
    const char* value_ = std::getenv(::morvex::testing::TestDbVariable(db));             \
    if (value_ == nullptr || *value_ == '\0') {                                          \
      if (::morvex::testing::RunningInCi()) {                                            \
        FAIL() << ::morvex::testing::TestDbVariable(db)                                  \
               << " is not set: run the tests through scripts/run-tests (make test)";    \
      }                                                                                  \
      GTEST_SKIP() << ::morvex::testing::TestDbVariable(db)                              \
                   << " is not set; scripts/run-tests (make test) starts a test server"; \
    }                                                                                    \
    (out) = value_;                                                                      \
  } while (false)

namespace morvex::testing {

// A test on the database of its parameter, with a connection of its own.
// A derived SetUp calls TDatabaseTest::SetUp first and returns when
// Connected() is false (the test was skipped or failed). Tables made with
// CreateTable are dropped in TearDown.
class TDatabaseTest : public ::testing::TestWithParam<TTestDb> {
 protected:
  void SetUp() override {
    if (GetParam() == TTestDb::SQLite) {
      sqlite_ = std::make_unique<TTempSqliteFile>();
      connectionString_ = "Provider=SQLite;Data Source=" + sqlite_->Path();
    } else {
      MORVEX_REQUIRE_TEST_DB(GetParam(), connectionString_);
      suffix_ = "_" + std::to_string(::getpid());
    }
    connection_ = OpenConnection(connectionString_);
  }

  // A derived TearDown frees everything that reads from the connection
  // (datasets, result sets) before calling this.
  void TearDown() override {
    if (!connection_) return;
    if (connection_->InTransaction()) connection_->Rollback();
    // A SQLite file goes with its tables.
    if (IsSqlite()) tables_.clear();
    for (const std::string& table : tables_) {
      try {
        Exec("DROP TABLE IF EXISTS " + table);
      } catch (const EMorvexError& error) {
        ADD_FAILURE() << "cannot drop " << table << ": " << error.what();
      }
    }
    connection_->Close();
    connection_.reset();
  }

  TTestDb Backend() const { return GetParam(); }
  bool IsSqlite() const { return GetParam() == TTestDb::SQLite; }
  bool Connected() const { return connection_ != nullptr; }
  const std::string& ConnectionString() const { return connectionString_; }
  TDbConnection& Connection() { return *connection_; }

  // `name` as the table name of this process.
  std::string Table(std::string_view name) const { return std::string(name) + suffix_; }

  // `text` with every "{name}" replaced by Table(name).
  std::string Sql(std::string text) const {
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open)) {
      const size_t close = text.find('}', open);
      if (close == std::string::npos) break;
      const std::string table = Table(text.substr(open + 1, close - open - 1));
      text.replace(open, close - open + 1, table);
      open += table.size();
    }
    return text;
  }

  // Runs `sql` (after Sql()) on the test's connection; the rows affected.
  int64_t Exec(const std::string& sql) {
    int64_t count = 0;
    connection_->Prepare(Sql(sql), 0)->Execute({}, count);
    return count;
  }

  // Creates table {name} afresh (a table a crashed run left behind goes
  // first) and drops it after the test.
  void CreateTable(const std::string& name, const std::string& columns) {
    tables_.push_back(Table(name));
    Exec("DROP TABLE IF EXISTS {" + name + "}");
    Exec("CREATE TABLE {" + name + "} (" + columns + ")");
  }

  // The rows of a one-column query as texts ("<null>" for Null).
  std::vector<std::string> Column(const std::string& sql) {
    int64_t count = 0;
    std::unique_ptr<TDbStatement> statement = connection_->Prepare(Sql(sql), 0);
    std::unique_ptr<TDbResultSet> result = statement->Execute({}, count);
    std::vector<std::string> rows;
    for (; result && !result->Eof(); result->Next()) {
      rows.push_back(result->IsNull(0) ? "<null>" : result->AsText(0));
    }
    if (result) result->Close();
    return rows;
  }

 private:
  std::unique_ptr<TTempSqliteFile> sqlite_;
  std::string connectionString_;
  std::string suffix_;
  std::vector<std::string> tables_;
  std::unique_ptr<TDbConnection> connection_;
};

}  // namespace morvex::testing
