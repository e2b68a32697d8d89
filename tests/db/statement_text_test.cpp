// Statement texts as users write them, run through datasets on real
// databases: parameters whose type only the value tells, white space around
// names, "::" and the messages of malformed SQL.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/connection_string.h"
#include "db/lsql_dataset.h"
#include "tests/support/test_database.h"
#include "text/error.h"

namespace morvex {
namespace {

using Lines = std::vector<std::string>;
using testing::TTestDb;

class StatementTextTest : public testing::TDatabaseTest {
 protected:
  void SetUp() override {
    TDatabaseTest::SetUp();
    if (!Connected()) return;
    CreateTable("orders", "id INTEGER, city VARCHAR(20)");
    Exec("INSERT INTO {orders} VALUES (1, 'Brno'), (2, 'Praha'), (3, NULL)");
  }

  // The first column of every row `dataset` gives with `values` bound to
  // its parameters in order (an empty text binds Null).
  static Lines Rows(TLSQLDataset& dataset, const std::vector<std::string>& values) {
    for (int i = 0; i < dataset.ParamCount(); ++i) {
      const std::string& value = values.at(static_cast<size_t>(i));
      dataset.Param(i).Value = value.empty() ? TDbValue(TDbNull{}) : TDbValue(value);
      dataset.Param(i).DataType = ftString;
    }
    dataset.Execute();
    Lines rows;
    for (; !dataset.Eof(); dataset.Next()) rows.push_back(dataset.AsText(0));
    dataset.Close();
    return rows;
  }

  std::string ErrorOf(const std::string& statement, TDbConnection* connection = nullptr) {
    TLSQLDataset dataset(connection ? *connection : Connection(), Sql(statement));
    try {
      dataset.Execute();
    } catch (const EMorvexError& error) {
      return error.what();
    }
    return "no error";
  }
};

TEST_P(StatementTextTest, ParametersTheServerCannotTypeGoAsText) {
  // On PostgreSQL through ODBC the parameters reach the server unbound to
  // a type only when psqlODBC prepares on the server (UseDeclareFetch=0);
  // both ways are run.
  std::vector<std::unique_ptr<TDbConnection>> own;
  std::vector<TDbConnection*> connections = {&Connection()};
  if (Backend() == TTestDb::Odbc) {
    own.push_back(OpenConnection(ConnectionString() + ";UseDeclareFetch=0"));
    connections.push_back(own.back().get());
  }
  for (TDbConnection* connection : connections) {
    TLSQLDataset either(*connection, Sql("SELECT id FROM {orders} WHERE (:city IS NULL OR "
                                         "city = :city) AND :a IS NULL ORDER BY id"));
    ASSERT_EQ(either.ParamCount(), 3);
    EXPECT_EQ(Rows(either, {"Brno", "Brno", ""}), (Lines{"1"}));
    EXPECT_EQ(Rows(either, {"", "", ""}), (Lines{"1", "2", "3"}));
    EXPECT_EQ(Rows(either, {"Praha", "Praha", "x"}), Lines{});

    // A text parameter still compares with an integer column.
    TLSQLDataset id(*connection, Sql("SELECT city FROM {orders} WHERE id = :id"));
    EXPECT_EQ(Rows(id, {"2"}), (Lines{"Praha"}));

    // Inside a transaction the search for the types leaves it usable.
    connection->BeginTransaction();
    TLSQLDataset insert(*connection,
                        Sql("INSERT INTO {orders} SELECT 4, :city WHERE :city IS NOT NULL"));
    Rows(insert, {"Ostrava", "Ostrava"});
    TLSQLDataset count(*connection, Sql("SELECT COUNT(*) FROM {orders} WHERE :c IS NULL"));
    EXPECT_EQ(Rows(count, {""}), (Lines{"4"}));
    connection->Commit();
    EXPECT_EQ(Column("SELECT city FROM {orders} WHERE id = 4"), (Lines{"Ostrava"}));
    Exec("DELETE FROM {orders} WHERE id = 4");
  }

  // Each statement of a text finds its own.
  TLSQLDataset batch(Connection(), Sql("UPDATE {orders} SET city = 'X' WHERE :a IS NOT NULL "
                                       "AND id = 3; SELECT city FROM {orders} WHERE id = 3 OR "
                                       ":b IS NULL ORDER BY id"));
  EXPECT_EQ(Rows(batch, {"yes", "no"}), (Lines{"X"}));
}

TEST_P(StatementTextTest, AnyWhiteSpaceEndsAParameterName) {
  TLSQLDataset dataset(Connection(),
                       Sql("SELECT id FROM {orders}\tWHERE id = :id\tAND city =\t:city\r\n"));
  ASSERT_EQ(dataset.ParamCount(), 2);
  EXPECT_EQ(dataset.ParamName(0), "id");
  EXPECT_EQ(dataset.ParamName(1), "city");
  EXPECT_EQ(Rows(dataset, {"1", "Brno"}), (Lines{"1"}));
}

TEST_P(StatementTextTest, SyntaxErrorsNearALiteralColonSayHowToCast) {
  const std::string hint =
      " (\"::\" in a statement stands for one \":\": write casts as CAST(x AS type) or x::::type)";
  const std::string error = ErrorOf("SELECT id::text FROM {orders}");
  EXPECT_TRUE(error.ends_with(hint)) << error;
  EXPECT_NE(error.find("syntax error"), std::string::npos) << error;

  // No hint without a "::" that became ":", nor for an error that is no
  // syntax error.
  EXPECT_EQ(ErrorOf("SELEC '::'").find("CAST"), std::string::npos);
  const std::string colonButNoSyntaxError =
      IsSqlite() ? "SELECT ::x FROM no_such_table_here"  // SQLite's own ":x" parameter
                 : "SELECT (ARRAY[1, 2])[1::2] FROM no_such_table_here";  // a slice
  const std::string missingTable = ErrorOf(colonButNoSyntaxError);
  EXPECT_NE(missingTable.find("no_such_table_here"), std::string::npos) << missingTable;
  EXPECT_EQ(missingTable.find("CAST"), std::string::npos) << missingTable;

  // The written form of a cast works where the database has one, also
  // right after a parameter; with two colons there the hint names the cure.
  if (!IsSqlite()) {
    TLSQLDataset cast(Connection(), Sql("SELECT id::::text || 'x' FROM {orders} WHERE id = 1"));
    EXPECT_EQ(Rows(cast, {}), (Lines{"1x"}));
    TLSQLDataset parameter(Connection(),
                           Sql("SELECT :day::::date + 1 FROM {orders} WHERE id = :id::::int"));
    ASSERT_EQ(parameter.ParamCount(), 2);
    EXPECT_EQ(parameter.ParamName(0), "day");
    EXPECT_EQ(Rows(parameter, {"2026-01-31", "1"}), (Lines{"2026-02-01"}));
    const std::string oneCast = ErrorOf("SELECT :day::date FROM {orders}");
    EXPECT_TRUE(oneCast.ends_with(hint)) << oneCast;
  }
}

// libpq and ODBC give the server's message alike: the message, its detail
// in parentheses, nothing of the driver's own.
class ServerStatementTextTest : public StatementTextTest {};

TEST_P(ServerStatementTextTest, ServerMessagesReadAlikeThroughEitherDriver) {
  std::vector<std::unique_ptr<TDbConnection>> own;
  std::vector<TDbConnection*> connections = {&Connection()};
  if (Backend() == TTestDb::Odbc) {
    own.push_back(OpenConnection(ConnectionString() + ";UseDeclareFetch=0"));
    connections.push_back(own.back().get());
  }
  CreateTable("keys", "id INTEGER PRIMARY KEY");
  Exec("INSERT INTO {keys} VALUES (1)");
  for (TDbConnection* connection : connections) {
    EXPECT_EQ(ErrorOf("SELEC :a", connection), "syntax error at or near \"SELEC\"");
    EXPECT_EQ(ErrorOf("SELECT 1 / 0", connection), "division by zero");
    EXPECT_EQ(ErrorOf("INSERT INTO {keys} VALUES (1)", connection),
              Sql("duplicate key value violates unique constraint \"{keys}_pkey\" "
                  "(Key (id)=(1) already exists.)"));
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, StatementTextTest, testing::AllTestDbs(),
                         testing::TestDbParamName);
INSTANTIATE_TEST_SUITE_P(Databases, ServerStatementTextTest,
                         ::testing::Values(TTestDb::PostgreSQL, TTestDb::Odbc),
                         testing::TestDbParamName);

}  // namespace
}  // namespace morvex
