// The one template walk with its callbacks on a SQLite file: the order in
// which a visitor hears of statements, records and nested statements, the
// statements it never hears of, and how an error from a callback is named.
#include "templates/template_walk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "db/open_connection.h"
#include "tests/support/template_document.h"
#include "tests/support/test_database.h"
#include "text/error.h"
#include "xml/xml_ptr.h"

namespace morvex {
namespace {

using ::testing::ElementsAre;

// Writes down every call; throws from RecordStart at record `failAt` of
// element `failIn`, with the field "qty" being written.
class TRecordingVisitor : public TTemplateVisitor {
 public:
  void StatementStart(TWalkStatement& s) override { calls.push_back("start " + s.Tag); }
  void RecordStart(TWalkStatement& s) override {
    calls.push_back("record " + s.Tag + " #" + std::to_string(s.Record));
    if (s.Tag == failIn && s.Record == failAt) {
      s.Field = &field;
      throw EMorvexError("bad value");
    }
  }
  void RecordEnd(TWalkStatement& s) override { calls.push_back("end record " + s.Tag); }
  void StatementEnd(TWalkStatement& s) override { calls.push_back("end " + s.Tag); }
  void StatementFailed(TWalkStatement& s) noexcept override { calls.push_back("failed " + s.Tag); }

  std::vector<std::string> calls;
  std::string failIn;
  int64_t failAt = 0;
  std::string field = "qty";
};

class TemplateWalkTest : public testing::TDatabaseTest {
 protected:
  void SetUp() override {
    TDatabaseTest::SetUp();
    if (!Connected()) return;
    CreateTable("orders", "id INTEGER");
    CreateTable("items", "order_id INTEGER, qty INTEGER");
    Exec("insert into {orders} values (1), (2)");
    Exec("insert into {items} values (1, 10), (1, 11), (2, 20)");
    helper_ = std::make_unique<TLSQLConnHelper>(Connection());
    tree_ = testing::LoadTemplateTree(
        Sql("<lsql><orders>select id from {orders} order by id"
            "<items>select qty from {items} where order_id = :orders$id order by qty</items>"
            "</orders><none test=\"1 = 2\">select 1</none><upd>update {orders} set id = id</upd>"
            "<later after-open=\"true\">select 1</later></lsql>"));
    PrepareTemplate(*tree_, TXmlElement(), *helper_);
    root_ = &tree_->Root();
  }

  void TearDown() override {
    if (helper_) CloseTemplate(*root_, true, *helper_);
    helper_.reset();
    TDatabaseTest::TearDown();
  }

  std::unique_ptr<TLSQLConnHelper> helper_;
  std::unique_ptr<TTemplateTree> tree_;
  const TTemplateStatement* root_ = nullptr;
};

TEST_P(TemplateWalkTest, VisitorHearsOfResultSetsRecordsAndNestedStatementsInOrder) {
  TRecordingVisitor visitor;
  std::vector<std::string> lines;
  const ProgressSink sink = [&](const std::string& line) { lines.push_back(line); };
  TTemplateWalk walk;
  walk.Sink = &sink;
  walk.Totals = TTotalLines::ResultSets;
  EXPECT_EQ(WalkTemplate(*root_, walk, visitor, *helper_), 2);  // the update's rows
  EXPECT_THAT(visitor.calls,
              ElementsAre("start orders", "record orders #1", "start items", "record items #1",
                          "end record items", "record items #2", "end record items", "end items",
                          "end record orders", "record orders #2", "start items", "record items #1",
                          "end record items", "end items", "end record orders", "end orders"));
  // A false test, a statement without a result set and another phase's
  // statement are not heard of and give no total line.
  EXPECT_THAT(lines, ElementsAre("orders: 2 record(s) processed."));
}

TEST_P(TemplateWalkTest, WithoutNestingOnlyTheTopLevelRunsAndEveryTotalCanBeAsked) {
  TRecordingVisitor visitor;
  std::vector<std::string> lines;
  const ProgressSink sink = [&](const std::string& line) { lines.push_back(line); };
  TTemplateWalk walk;
  walk.Sink = &sink;
  walk.Nested = false;
  walk.Totals = TTotalLines::Every;
  WalkTemplate(*root_, walk, visitor, *helper_);
  EXPECT_THAT(visitor.calls, ElementsAre("start orders", "record orders #1", "end record orders",
                                         "record orders #2", "end record orders", "end orders"));
  EXPECT_THAT(lines, ElementsAre("orders: 2 record(s) processed.", "none: 0 record(s) processed.",
                                 "upd: 0 record(s) processed."));
}

TEST_P(TemplateWalkTest, ErrorNamesEveryElementRecordAndFieldOutermostFirst) {
  TRecordingVisitor visitor;
  visitor.failIn = "items";
  visitor.failAt = 1;
  TTemplateWalk walk;
  try {
    WalkTemplate(*root_, walk, visitor, *helper_);
    FAIL() << "no error";
  } catch (const EMorvexError& error) {
    EXPECT_STREQ(error.what(), "orders: Record #1: items: Record #1, Field \"qty\": bad value");
  }
  EXPECT_THAT(visitor.calls, ElementsAre("start orders", "record orders #1", "start items",
                                         "record items #1", "failed items", "failed orders"));
}

TEST_P(TemplateWalkTest, TestBeyondAnEvaluatorLimitWarnsOncePerStatementAndStep) {
  // The nested test is refused by the nesting limit for each of the two
  // orders; the top-level one by the size limit. A plainly false test
  // (`none` of the fixture) says nothing.
  std::string deep = "1";
  for (int i = 0; i < 300; ++i) deep = "-(" + deep + ")";
  std::string chain = "0";
  for (int i = 0; i < 1100; ++i) chain += " + 0";
  const std::unique_ptr<TTemplateTree> tree = testing::LoadTemplateTree(
      Sql("<lsql><orders>select id from {orders} order by id<items test=\"" + deep +
          " = 1\">select qty from {items}</items></orders><wide test=\"" + chain +
          " = 0\">select 1</wide><none test=\"1 = 2\">select 1</none></lsql>"));
  PrepareTemplate(*tree, TXmlElement(), *helper_);
  const TTemplateStatement& root = tree->Root();
  TRecordingVisitor visitor;
  std::vector<std::string> lines;
  const ProgressSink sink = [&](const std::string& line) { lines.push_back(line); };
  TTemplateWalk walk;
  walk.Sink = &sink;
  WalkTemplate(root, walk, visitor, *helper_);
  CloseTemplate(root, false, *helper_);
  WalkTemplate(root, walk, visitor, *helper_);  // the same step runs its statements again
  CloseTemplate(root, true, *helper_);
  EXPECT_THAT(lines, ElementsAre("Warning: items: the test exceeds the evaluator's nesting depth "
                                 "limit (256 levels) and counts as false.",
                                 "Warning: wide: the test exceeds the evaluator's expression size "
                                 "limit (1024 operations in a row) and counts as false."));
  EXPECT_EQ(std::count(visitor.calls.begin(), visitor.calls.end(), "start items"), 0);
}

// What each record of each statement gives as its first field.
class TFirstFieldVisitor : public TTemplateVisitor {
 public:
  void RecordStart(TWalkStatement& s) override {
    calls.push_back(s.Tag + " " + s.Dataset->AsText(0));
  }
  std::vector<std::string> calls;
};

TEST(TemplateWalkOnPostgres, OnlyStatementsWithNothingNestedAreReadWithoutACursor) {
  std::string text;
  MORVEX_REQUIRE_TEST_DB(testing::TTestDb::PostgreSQL, text);
  const std::unique_ptr<TDbConnection> connection = OpenConnection(text);
  TLSQLConnHelper helper(*connection);
  // Each statement lists the cursors open while it runs: the outer one's
  // only (its 101 rows take more than the first batch), since the others
  // need none.
  const std::string cursors =
      "select count(*) || ' ' || coalesce(string_agg(statement, ''), '') from pg_cursors";
  const std::string outer = "select i from generate_series(1, 101) i";
  const std::unique_ptr<TTemplateTree> tree =
      testing::LoadTemplateTree("<lsql><outer>" + outer + "<inner>" + cursors +
                                "</inner></outer><leaf>" + cursors + "</leaf></lsql>");
  PrepareTemplate(*tree, TXmlElement(), helper);
  const TTemplateStatement& root = tree->Root();
  TFirstFieldVisitor visitor;
  WalkTemplate(root, TTemplateWalk{}, visitor, helper);
  CloseTemplate(root, true, helper);
  ASSERT_EQ(visitor.calls.size(), 203u);
  EXPECT_EQ(visitor.calls[0], "outer 1");
  EXPECT_EQ(visitor.calls[1],
            "inner 1 DECLARE morvex_cursor_1 NO SCROLL CURSOR WITH HOLD FOR " + outer);
  EXPECT_EQ(visitor.calls.back(), "leaf 0 ");
}

INSTANTIATE_TEST_SUITE_P(Backends, TemplateWalkTest, ::testing::Values(testing::TTestDb::SQLite),
                         testing::TestDbParamName);

}  // namespace
}  // namespace morvex
