// How the drivers find placeholders, statement separators and first words in
// SQL text without parsing it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/sql_scan.h"
#include "text/error.h"

namespace morvex::detail {
namespace {

// The markers as "P" (placeholder) and "C" (in a comment), in order.
std::string Markers(std::string_view sql, TSqlDialect dialect) {
  std::string out;
  for (const auto& m : ScanSql(sql, dialect).Markers) {
    EXPECT_EQ(sql[m.Position], '?');
    out += m.InComment ? 'C' : 'P';
  }
  return out;
}

TEST(ScanSql, SkipsQuotedTextAndMarksComments) {
  constexpr auto pg = TSqlDialect::PostgreSQL;
  constexpr auto lite = TSqlDialect::SQLite;
  constexpr auto odbc = TSqlDialect::Odbc;
  EXPECT_EQ(Markers("SELECT ? FROM t WHERE a = ? AND b = '?'", odbc), "PP");
  EXPECT_EQ(Markers("SELECT 'it''s ?', \"col?\", ?", odbc), "P");
  EXPECT_EQ(Markers("SELECT ? -- what?\n, ? /* and ? */", odbc), "PCPC");
  EXPECT_EQ(Markers("SELECT 'unterminated ?", odbc), "");
  // PostgreSQL: dollar quotes, escape strings, nested comments; $1 is no quote.
  EXPECT_EQ(Markers("SELECT $$ ? $$, $fn$ '?' $fn$, ?", pg), "P");
  EXPECT_EQ(Markers("SELECT $1, ?, a$b$ FROM t WHERE x = ?", pg), "PP");
  EXPECT_EQ(Markers("SELECT E'\\'?', 'a\\', ?", pg), "P");
  EXPECT_EQ(Markers("/* a /* nested ? */ still ? */ ?", pg), "CCP");
  EXPECT_EQ(Markers("/* a /* not nested ? */ out ? */ ?", lite), "CPP");
  // SQLite: brackets and backquotes quote names.
  EXPECT_EQ(Markers("SELECT [a?], `b?`, ?", lite), "P");
  EXPECT_EQ(Markers("SELECT [a?], ?", odbc), "PP");
}

TEST(ScanSql, FindsStatementSeparators) {
  auto scan = ScanSql("INSERT INTO t VALUES (';'); -- ;\nSELECT $$;$$; ", TSqlDialect::PostgreSQL);
  ASSERT_EQ(scan.Separators.size(), 2u);
  EXPECT_EQ(scan.Separators[0], 26u);
}

TEST(AssignSqlMarkers, MatchesTheCallersParameters) {
  TSqlScan scan = ScanSql("SELECT ? -- ?\n, ?", TSqlDialect::Odbc);
  // Three parameters: the layer above made the comment marker too.
  EXPECT_EQ(AssignSqlMarkers(scan, 3), (std::vector<int>{0, -1, 2}));
  // Two: the comment marker is the user's own text.
  EXPECT_EQ(AssignSqlMarkers(scan, 2), (std::vector<int>{0, -1, 1}));
  EXPECT_EQ(AssignSqlMarkers(scan, 0), (std::vector<int>{-1, -1, -1}));
  try {
    AssignSqlMarkers(scan, 5);
    ADD_FAILURE();
  } catch (const EMorvexError& e) {
    EXPECT_STREQ(e.what(),
                 "The SQL text holds 2 parameter markers (\"?\") outside quotes for 5 parameters");
  }
}

TEST(FirstSqlKeyword, SkipsBlanksCommentsAndParentheses) {
  constexpr auto pg = TSqlDialect::PostgreSQL;
  EXPECT_EQ(FirstSqlKeyword("  -- note\n /* c */ (select 1)", pg), "SELECT");
  EXPECT_EQ(FirstSqlKeyword("with x as (select 1) select * from x", pg), "WITH");
  EXPECT_EQ(FirstSqlKeyword(";  insert into t values (1)", pg), "INSERT");
  EXPECT_EQ(FirstSqlKeyword("  -- only a comment", pg), "");
  EXPECT_EQ(FirstSqlKeyword("", pg), "");
}

TEST(SqlHasKeyword, LooksAtWordsOutsideQuotesAndComments) {
  constexpr auto pg = TSqlDialect::PostgreSQL;
  EXPECT_TRUE(SqlHasKeyword("select a INTO b from t", pg, "INTO"));
  EXPECT_FALSE(SqlHasKeyword("select 'into', \"into\" from t -- into", pg, "INTO"));
  EXPECT_FALSE(SqlHasKeyword("select into_x, x_into from t", pg, "INTO"));
  EXPECT_TRUE(SqlHasKeyword("select * from t for update", pg, "UPDATE"));
}

}  // namespace
}  // namespace morvex::detail
