// The PostgreSQL driver's prepared statements and its queue, against the
// server: a statement prepared once keeps working whatever happens to the
// session around it, and queued executions report exactly what running them
// one by one would have.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/open_connection.h"
#include "tests/db/driver_test_databases.h"
#include "text/error.h"

namespace morvex {
namespace {

using testing::TTestDb;

class PostgresStatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string text;
    MORVEX_REQUIRE_TEST_DB(TTestDb::PostgreSQL, text);
    connectionString_ = text;
    db_ = OpenConnection(text);
    table_ = "pg_statement_" + std::to_string(::getpid());
    Run("DROP TABLE IF EXISTS " + table_);
    Run("CREATE TABLE " + table_ + " (id INTEGER PRIMARY KEY, name TEXT)");
  }

  void TearDown() override {
    if (!db_) return;
    if (db_->InTransaction()) db_->Rollback();
    Run("DROP TABLE IF EXISTS " + table_);
  }

  int64_t Run(const std::string& sql, TDbConnection* db = nullptr) {
    int64_t rows = 0;
    (db ? db : db_.get())->Prepare(sql, 0)->Execute({}, rows);
    return rows;
  }

  std::string Scalar(const std::string& sql) {
    int64_t rows = 0;
    auto result = db_->Prepare(sql, 0)->Execute({}, rows);
    return result && !result->Eof() ? result->AsText(0) : "<none>";
  }

  std::string Count() { return Scalar("SELECT COUNT(*) FROM " + table_); }
  std::string PreparedCount() { return Scalar("SELECT COUNT(*) FROM pg_prepared_statements"); }

  static std::vector<TDbParameter> Row(int64_t id, const std::string& name) {
    return {TDbParameter{id, ftUnknown}, TDbParameter{name, ftUnknown}};
  }

  std::unique_ptr<TDbStatement> Insert(const std::string& tail = "") {
    return db_->Prepare("INSERT INTO " + table_ + " VALUES (?, ?)" + tail, 2);
  }

  std::string connectionString_;
  std::string table_;
  std::unique_ptr<TDbConnection> db_;
};

// Prepared statements belong to the session: a rollback keeps them,
// DISCARD ALL and DEALLOCATE ALL remove them, and a statement destroyed
// while the connection is usable is removed from the server.
TEST_F(PostgresStatementTest, PreparedStatementOutlivesRollbackAndSessionResets) {
  const std::string before = PreparedCount();
  auto insert = Insert();
  int64_t rows = 0;
  db_->BeginTransaction();
  insert->Execute(Row(1, "a"), rows);
  db_->Rollback();
  insert->Execute(Row(2, "b"), rows);
  EXPECT_EQ(rows, 1);

  Run("DISCARD ALL");
  insert->Execute(Row(3, "c"), rows);
  // Inside a transaction a lost statement would end it: the driver knows
  // DEALLOCATE removed it and prepares it again.
  db_->BeginTransaction();
  Run("DEALLOCATE ALL");
  insert->Execute(Row(4, "d"), rows);
  db_->Commit();
  EXPECT_EQ(Count(), "3");

  // Removed behind the driver's back, outside a transaction: prepared again.
  Run("DO $$ BEGIN EXECUTE 'DEALLOCATE ALL'; END $$");
  insert->Execute(Row(5, "e"), rows);
  EXPECT_EQ(Count(), "4");
  EXPECT_NE(PreparedCount(), before);
  insert.reset();
  EXPECT_EQ(PreparedCount(), before);
}

// A statement that returns rows gives the table's new row type after the
// table changed, by this connection (also inside a transaction) or another.
TEST_F(PostgresStatementTest, ChangedTableGivesTheNewRowType) {
  auto insert = Insert(" RETURNING *");
  int64_t rows = 0;
  EXPECT_EQ(insert->Execute(Row(1, "a"), rows)->FieldCount(), 2);
  db_->BeginTransaction();
  Run("ALTER TABLE " + table_ + " ADD COLUMN extra INTEGER DEFAULT 7");
  auto result = insert->Execute(Row(2, "b"), rows);
  ASSERT_EQ(result->FieldCount(), 3);
  EXPECT_EQ(result->AsText(2), "7");
  db_->Commit();

  auto other = OpenConnection(connectionString_);
  Run("ALTER TABLE " + table_ + " DROP COLUMN extra", other.get());
  result = insert->Execute(Row(3, "c"), rows);
  EXPECT_EQ(result->FieldCount(), 2);
  EXPECT_EQ(Count(), "3");
}

// A parameter whose type differs from the one the statement was prepared
// with (bytes after text) still binds as it did before statements were
// prepared.
TEST_F(PostgresStatementTest, ParameterOfAnotherTypeStillBinds) {
  Run("ALTER TABLE " + table_ + " ADD COLUMN data BYTEA");
  auto insert = db_->Prepare("INSERT INTO " + table_ + " (id, data) VALUES (?, ?)", 2);
  int64_t rows = 0;
  insert->Execute({TDbParameter{int64_t{1}, ftUnknown}, TDbParameter{std::string("ab"), ftUnknown}},
                  rows);
  insert->Execute({TDbParameter{int64_t{2}, ftUnknown},
                   TDbParameter{TDbBytes{std::string("\0\xff", 2)}, ftUnknown}},
                  rows);
  EXPECT_EQ(Scalar("SELECT string_agg(encode(data, 'hex'), ',' ORDER BY id) FROM " + table_),
            "6162,00ff");
}

// Queued executions run only inside a transaction and after a first
// execution; every other use of the connection waits for them, and a
// failure carries the tag of the execution that failed.
TEST_F(PostgresStatementTest, QueueRunsInOrderAndReportsTheFailingTag) {
  auto insert = Insert();
  int64_t rows = 0;
  EXPECT_FALSE(insert->TryQueue(Row(1, "a"), 1));  // not yet executed
  insert->Execute(Row(1, "a"), rows);
  EXPECT_FALSE(insert->TryQueue(Row(2, "b"), 2));  // outside a transaction

  db_->BeginTransaction();
  for (int64_t id = 2; id <= 1000; ++id) ASSERT_TRUE(insert->TryQueue(Row(id, "q"), id));
  EXPECT_TRUE(db_->InTransaction());
  // A query sees every queued row; the rows affected are counted once.
  EXPECT_EQ(Count(), "1000");
  // A statement that returns rows is never queued.
  auto returning = Insert(" RETURNING id");
  EXPECT_EQ(returning->Execute(Row(1001, "r"), rows)->AsText(0), "1001");
  EXPECT_FALSE(returning->TryQueue(Row(1002, "r"), 1002));
  EXPECT_EQ(db_->Flush(), 999);
  EXPECT_EQ(db_->Flush(), 0);
  db_->Commit();
  EXPECT_EQ(Count(), "1001");

  // A duplicate in the middle of a batch: the executions after it are not
  // applied, and the transaction is rolled back as a whole. The failure may
  // come back while later executions are still being queued (when the server
  // is quick) or at the flush.
  db_->BeginTransaction();
  try {
    for (int64_t id = 3000; id < 3600; ++id) {
      ASSERT_TRUE(insert->TryQueue(Row(id == 3300 ? 500 : id, "q"), id));
    }
    db_->Flush();
    ADD_FAILURE() << "the failing execution was not reported";
  } catch (const EDbQueuedError& error) {
    EXPECT_EQ(error.Tag, 3300u);
    EXPECT_NE(std::string(error.what()).find("duplicate key"), std::string::npos) << error.what();
  }
  EXPECT_TRUE(db_->InTransaction());
  db_->Rollback();
  EXPECT_EQ(Count(), "1001");

  // A failure found by the commit is raised by it.
  db_->BeginTransaction();
  ASSERT_TRUE(insert->TryQueue(Row(1, "again"), 77));
  try {
    db_->Commit();
    ADD_FAILURE() << "the commit succeeded";
  } catch (const EDbQueuedError& error) {
    EXPECT_EQ(error.Tag, 77u);
  }
  db_->Rollback();
  EXPECT_EQ(Count(), "1001");
}

}  // namespace
}  // namespace morvex
