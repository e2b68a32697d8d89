// Query files as users write them, run through whole projects on each
// database: a SQLite file, and the PostgreSQL server through libpq and ODBC.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "engine/runner.h"
#include "tests/support/temp_path.h"
#include "tests/support/test_database.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

class QueryFileTest : public testing::TDatabaseTest {
 protected:
  void SetUp() override {
    TDatabaseTest::SetUp();
    if (!Connected()) return;
    dir_ = testing::TempPath("query_files_" + testing::TestDbName(Backend()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    CreateTable("orders", "id INTEGER, city VARCHAR(20), amount INTEGER");
    Exec("INSERT INTO {orders} VALUES (1, 'Brno', 100), (2, 'Praha', 700), (3, 'Brno', 900)");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    TDatabaseTest::TearDown();
  }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << Sql(text);
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Runs a project of one script: the query file `sql`, CSV into out.csv.
  // Returns the error lines.
  std::vector<std::string> Run(const std::string& sql, const std::vector<std::string>& parameters) {
    const std::string project =
        "<?xml version=\"1.0\"?><morvex><script><source kind=\"oledb\"><connection-string>" +
        ConnectionString() + "</connection-string></source><lsql>" + sql +
        "</lsql><transform kind=\"csv\"/><destination>" + (dir_ / "out.csv").string() +
        "</destination></script></morvex>";
    std::vector<std::string> errors;
    RunProject(project, parameters, false, dir_.string() + "/", nullptr,
               [&](const std::string& text, int64_t level) {
                 if (level == LevelError) errors.push_back(text);
               });
    return errors;
  }

  fs::path dir_;
};

TEST_P(QueryFileTest, PlainSqlWithMarkupCharactersAndUntypedParametersRuns) {
  Write("report.sql",
        "select id from {orders}\r\nwhere amount < 500 or (:city is null or city = :city)\tand "
        "amount > 800 order by id\r\n");
  EXPECT_EQ(Run("report.sql", {"city=Brno"}), std::vector<std::string>{});
  EXPECT_EQ(Read("out.csv"), "\xEF\xBB\xBFid\r\n1\r\n3\r\n");
  EXPECT_EQ(Run("report.sql", {"city=Praha"}), std::vector<std::string>{});
  EXPECT_EQ(Read("out.csv"), "\xEF\xBB\xBFid\r\n1\r\n");

  // A template in a file takes its statements from CDATA sections.
  Write("template.lsql",
        "<lsql><cheap><![CDATA[select id from {orders} where amount < 500]]></cheap></lsql>");
  EXPECT_EQ(Run("template.lsql", {}), std::vector<std::string>{});
  EXPECT_EQ(Read("out.csv"), "\xEF\xBB\xBFid\r\n1\r\n");
}

TEST_P(QueryFileTest, FileStartingWithATagIsATemplateThatMustBeWellFormed) {
  // The "<" in the statement makes it no well-formed markup; as the file
  // starts with a tag, that is the error, not the database's on "<orders>".
  Write("broken.lsql", "\r\n  <cheap>select id from {orders} where amount < 500</cheap>\r\n");
  const std::vector<std::string> errors = Run("broken.lsql", {});
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Wrong (L)SQL syntax! [line: 3, col: ", 0), 0u) << errors[0];
  EXPECT_NE(errors[0].find("] StartTag: invalid element name"), std::string::npos) << errors[0];
  EXPECT_FALSE(fs::exists(dir_ / "out.csv"));

  // Plain SQL that holds "<" after other text still runs as it stands.
  Write("plain.sql", "-- <cheap> orders\nselect id from {orders} where amount < 500");
  EXPECT_EQ(Run("plain.sql", {}), std::vector<std::string>{});
  EXPECT_EQ(Read("out.csv"), "\xEF\xBB\xBFid\r\n1\r\n");
}

INSTANTIATE_TEST_SUITE_P(Databases, QueryFileTest, testing::AllTestDbs(), testing::TestDbParamName);

}  // namespace
}  // namespace morvex
