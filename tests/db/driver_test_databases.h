// The databases the driver tests run against: a SQLite file made for the
// test, and the PostgreSQL server and ODBC data source that scripts/run-tests
// starts and names in MORVEX_PG and MORVEX_ODBC. Without those variables the
// server tests skip, except under CI=true, where they fail.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

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
