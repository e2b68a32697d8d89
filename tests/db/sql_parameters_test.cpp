#include "db/sql_parameters.h"

#include <gtest/gtest.h>

#include "db/parameter_entries.h"

namespace morvex {
namespace {

using Names = std::vector<std::string>;

TEST(SqlParameters, NamesBecomePlaceholdersInOrderWithRepeats) {
  const TParsedSql parsed = ParseSqlParameters("SELECT * FROM t WHERE a = :a AND b IN (:b,:a)");
  EXPECT_EQ(parsed.Text, "SELECT * FROM t WHERE a = ? AND b IN (?,?)");
  EXPECT_EQ(parsed.Names, (Names{"a", "b", "a"}));
}

TEST(SqlParameters, NameDelimiters) {
  // White space of every kind, comma, semicolon and closing parenthesis end
  // a name; "$", "=", "-" and "." do not.
  const TParsedSql parsed =
      ParseSqlParameters(":a b,:c;:d):e\r:f\n:orders$id :x=y-z.w\tv :g\vw :h\f:i");
  EXPECT_EQ(parsed.Text, "? b,?;?)?\r?\n? ?\tv ?\vw ?\f?");
  EXPECT_EQ(parsed.Names, (Names{"a", "c", "d", "e", "f", "orders$id", "x=y-z.w", "g", "h", "i"}));
}

TEST(SqlParameters, QuotedTextHoldsNoParameters) {
  const TParsedSql parsed = ParseSqlParameters(
      "SELECT ':a', \":b\", `:c`, 'it''s :d', :e FROM t WHERE x = 'a\"b' AND y = :f");
  EXPECT_EQ(parsed.Text,
            "SELECT ':a', \":b\", `:c`, 'it''s :d', ? FROM t WHERE x = 'a\"b' AND y = ?");
  EXPECT_EQ(parsed.Names, (Names{"e", "f"}));
}

TEST(SqlParameters, DoubleColonIsOneLiteralColon) {
  TParsedSql parsed = ParseSqlParameters("SELECT x::int, '::' FROM t WHERE y = :y");
  EXPECT_EQ(parsed.Text, "SELECT x:int, '::' FROM t WHERE y = ?");
  EXPECT_EQ(parsed.Names, (Names{"y"}));

  EXPECT_TRUE(parsed.HasLiteralColon);

  parsed = ParseSqlParameters("a :::b ");
  EXPECT_EQ(parsed.Text, "a :? ");
  EXPECT_EQ(parsed.Names, (Names{"b"}));
  EXPECT_TRUE(parsed.HasLiteralColon);

  // In quotes "::" is no literal colon of the statement.
  EXPECT_FALSE(ParseSqlParameters("SELECT '::', :a").HasLiteralColon);
}

TEST(SqlParameters, AColonEndsAName) {
  // A PostgreSQL cast right after a parameter: the name is "day", and the
  // four colons send "::" to the database.
  TParsedSql parsed = ParseSqlParameters("SELECT :day::::date AS d, :n::::int + 1");
  EXPECT_EQ(parsed.Text, "SELECT ?::date AS d, ?::int + 1");
  EXPECT_EQ(parsed.Names, (Names{"day", "n"}));
  EXPECT_TRUE(parsed.HasLiteralColon);

  // Written with two colons it reaches the database as one, and the syntax
  // error that follows gets the CAST hint.
  parsed = ParseSqlParameters("SELECT :a::int, :orders$id::x");
  EXPECT_EQ(parsed.Text, "SELECT ?:int, ?:x");
  EXPECT_EQ(parsed.Names, (Names{"a", "orders$id"}));
  EXPECT_TRUE(parsed.HasLiteralColon);
}

TEST(SqlParameters, QuotedNameAfterTheColon) {
  TParsedSql parsed = ParseSqlParameters("VALUES (:\"my name, here\", :'x', :`y`)");
  EXPECT_EQ(parsed.Text, "VALUES (?, ?, ?)");
  EXPECT_EQ(parsed.Names, (Names{"my name, here", "x", "y"}));

  parsed = ParseSqlParameters("VALUES (:\"open");
  EXPECT_EQ(parsed.Text, "VALUES (?");
  EXPECT_EQ(parsed.Names, (Names{"open"}));
}

TEST(SqlParameters, ColonWithoutNameStaysText) {
  const TParsedSql parsed = ParseSqlParameters("a : b :, :");
  EXPECT_EQ(parsed.Text, "a : b :, :");
  EXPECT_TRUE(parsed.Names.empty());
}

TEST(ParameterEntries, LookupIgnoresCaseInEveryScriptAndFirstEntryWins) {
  const std::vector<std::string> entries = {"City=Praha", "city=Brno", "Öl=1", "empty=", "bare"};
  ASSERT_NE(FindParameterEntry(entries, "CITY"), nullptr);
  EXPECT_EQ(ParameterEntryValue(*FindParameterEntry(entries, "CITY")), "Praha");
  ASSERT_NE(FindParameterEntry(entries, "öL"), nullptr);
  EXPECT_EQ(ParameterEntryValue(*FindParameterEntry(entries, "empty")), "");
  EXPECT_EQ(ParameterEntryValue(*FindParameterEntry(entries, "bare")), "");
  EXPECT_EQ(FindParameterEntry(entries, "cit"), nullptr);
}

TEST(ParameterEntries, ReplaceReferenceIgnoresAsciiCaseAndDoesNotRescan) {
  std::string text = ":P = 5 and :p$x <> :p";
  ReplaceReference(text, "p", ":p");
  EXPECT_EQ(text, ":p = 5 and :p$x <> :p");
  ReplaceReference(text, "p$X", "7");
  EXPECT_EQ(text, ":p = 5 and 7 <> :p");
}

}  // namespace
}  // namespace morvex
