// What counts as a plain INSERT of parameters, and how values are written
// for COPY: the two things the bulk insert of an import relies on.
#include "db/plain_insert.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "db/postgres_copy.h"

namespace morvex {
namespace {

using Names = std::vector<std::string>;

TEST(PlainInsert, TheFormsThatAreOne) {
  struct TCase {
    const char* Sql;
    const char* Table;
    Names Columns;
    size_t Values;
  };
  const std::vector<TCase> cases{
      {"INSERT INTO t (a, b) VALUES (?, ?)", "t", {"a", "b"}, 2},
      {"insert into t values(?)", "t", {}, 1},
      {"\r\n  Insert\tInto s.t(a)Values(?) ;  \n", "s.t", {"a"}, 1},
      {"INSERT INTO \"My \"\"T\"\"\" (\"Col 1\", c$2, _x, město) VALUES (?,?,?,?)",
       "\"My \"\"T\"\"\"",
       {"\"Col 1\"", "c$2", "_x", "město"},
       4},
      {"INSERT INTO \"s\" . \"t\" (a) VALUES (?)", "\"s\".\"t\"", {"a"}, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Sql);
    const std::optional<TPlainInsert> insert = ParsePlainInsert(c.Sql);
    ASSERT_TRUE(insert.has_value());
    EXPECT_EQ(insert->Table, c.Table);
    EXPECT_EQ(insert->Columns, c.Columns);
    EXPECT_EQ(insert->ValueCount, c.Values);
  }
}

TEST(PlainInsert, EverythingElseIsNot) {
  for (const char* sql : {
           "INSERT INTO t (a) VALUES (?) RETURNING a",
           "INSERT INTO t (a) VALUES (?) ON CONFLICT DO NOTHING",
           "INSERT INTO t (a) VALUES (?), (?)",
           "INSERT INTO t (a, b) VALUES (?, DEFAULT)",
           "INSERT INTO t (a, b) VALUES (?, 'x')",
           "INSERT INTO t (a) VALUES (? || 'x')",
           "INSERT INTO t (a) VALUES (?::int)",
           "INSERT INTO t (a) VALUES (CAST(? AS INTEGER))",
           "INSERT INTO t (a, b) VALUES (?)",
           "INSERT INTO t (a) VALUES (?, ?)",
           "INSERT INTO t (a) VALUES (?); DELETE FROM t",
           "INSERT INTO t (a) VALUES (?) -- note",
           "INSERT /* hint */ INTO t (a) VALUES (?)",
           "INSERT INTO t (a) SELECT ?",
           "INSERT INTO t DEFAULT VALUES",
           "INSERT INTO t AS x (a) VALUES (?)",
           "INSERT INTO t (a) OVERRIDING SYSTEM VALUE VALUES (?)",
           "INSERT INTO a.b.c (a) VALUES (?)",
           "INSERT INTO \"\" (a) VALUES (?)",
           "INSERT INTO \"t (a) VALUES (?)",
           "INSERT INTO 1t (a) VALUES (?)",
           "INSERT INTO t () VALUES ()",
           "INSERT INTO t (a) VALUES ()",
           "INSERTINTO t (a) VALUES (?)",
           "WITH x AS (SELECT 1) INSERT INTO t (a) VALUES (?)",
           "UPDATE t SET a = ?",
           "",
       }) {
    EXPECT_FALSE(ParsePlainInsert(sql).has_value()) << sql;
  }
}

TEST(CopyText, SpecialBytesAreEscapedAndNullIsMarked) {
  struct TCase {
    std::optional<std::string_view> Value;
    const char* Text;
  };
  const std::vector<TCase> cases{
      {std::nullopt, "\\N"},
      {"\\N", "\\\\N"},
      {"\\.", "\\\\."},
      {"a\tb\nc\rd\\e", "a\\tb\\nc\\rd\\\\e"},
      {"plain; \"quoted\", 'x' é", "plain; \"quoted\", 'x' é"},
      {"\v\f\b", "\v\f\b"},
  };
  for (const TCase& c : cases) {
    std::string line = "x";
    pg::AppendCopyText(line, c.Value);
    EXPECT_EQ(line, std::string("x") + c.Text);
  }
}

}  // namespace
}  // namespace morvex
