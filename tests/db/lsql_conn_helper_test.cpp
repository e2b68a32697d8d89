// The connection helper and its datasets on real databases: SQLite files
// always, PostgreSQL when MORVEX_PG holds a connection string (required
// under CI=true).
#include "db/lsql_conn_helper.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "db/connection_string.h"
#include "text/error.h"
#include "xml/dom.h"
#include "xml/xml_ptr.h"

namespace morvex {
namespace {

using detail::xml_ptr;

enum class Backend { SQLite, PostgreSQL };

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

// A database for one test: a fresh SQLite file, or the PostgreSQL server of
// MORVEX_PG with table names made unique to this process (ctest runs test
// processes side by side). "{name}" in a statement stands for table `name`.
class HelperTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::PostgreSQL) {
      const char* pg = std::getenv("MORVEX_PG");
      if (!pg || !*pg) {
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") FAIL() << "MORVEX_PG is not set";
        GTEST_SKIP() << "MORVEX_PG is not set";
      }
      connectionString_ = pg;
      suffix_ = "_h" + std::to_string(getpid());
    } else {
      char pattern[] = "/tmp/morvex-helper-XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      dir_ = pattern;
      const std::string path = dir_ + "/test.db";
      std::ofstream(path).close();
      connectionString_ = "Data Source=" + path;
    }
    connection_ = OpenConnection(connectionString_);
    helper_ = std::make_unique<TLSQLConnHelper>(*connection_);
  }

  void TearDown() override {
    helper_.reset();
    if (connection_) {
      for (const std::string& table : tables_) {
        try {
          Exec("DROP TABLE " + table);
        } catch (const EMorvexError&) {
        }
      }
      connection_->Close();
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::string Sql(std::string text) {
    for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open)) {
      const size_t close = text.find('}', open);
      text.replace(open, close - open + 1, text.substr(open + 1, close - open - 1) + suffix_);
    }
    return text;
  }

  int64_t Exec(const std::string& sql) {
    int64_t count = 0;
    connection_->Prepare(Sql(sql), 0)->Execute({}, count);
    return count;
  }

  void CreateTable(const std::string& name, const std::string& columns) {
    tables_.push_back(name + suffix_);
    Exec("DROP TABLE IF EXISTS {" + name + "}");
    Exec("CREATE TABLE {" + name + "} (" + columns + ")");
  }

  // Parses a template; blank text nodes are dropped as for every template.
  _xmlNode* Load(const std::string& xml) {
    const std::string text = Sql(xml);
    doc_.reset(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                             XML_PARSE_NOBLANKS | XML_PARSE_NONET));
    EXPECT_NE(doc_, nullptr);
    return xmlDocGetRootElement(doc_.get());
  }

  _xmlNode* Element(const std::string& xpath) {
    _xmlNode* element = SelectSingleElement(xmlDocGetRootElement(doc_.get()), xpath);
    EXPECT_NE(element, nullptr) << xpath;
    return element;
  }

  // Creates and attaches the dataset of the statement element `xpath`, as
  // the template preparation does.
  TLSQLDataset& Attach(const std::string& xpath, const std::string& statement) {
    return helper_->AttachDataset(Element(xpath), helper_->CreateDataset(Sql(statement)));
  }

  std::string connectionString_;
  std::string suffix_;
  std::string dir_;
  std::vector<std::string> tables_;
  std::unique_ptr<TDbConnection> connection_;
  std::unique_ptr<TLSQLConnHelper> helper_;
  xml_ptr<xmlDoc> doc_;
};

std::string Text(const TLSQLDataset& dataset, std::string_view field) {
  const int index = dataset.FindField(field);
  EXPECT_GE(index, 0) << field;
  return index < 0 || dataset.IsNull(index) ? "<null>" : dataset.AsText(index);
}

TEST_P(HelperTest, ExecuteDatasetCountsRowsAndActivatesOnlyForResults) {
  CreateTable("t", "id INTEGER, x INTEGER");
  Exec("INSERT INTO {t} VALUES (1, 0), (2, 0), (3, 0), (4, 1)");
  std::unique_ptr<TLSQLDataset> update =
      helper_->CreateDataset(Sql("UPDATE {t} SET x = x + 1 WHERE x = 0"));
  EXPECT_EQ(helper_->ExecuteDataset(*update), 3);
  EXPECT_EQ(update->RowsAffected, 3);
  EXPECT_FALSE(update->Active());
  EXPECT_EQ(helper_->ExecuteDataset(*update), 0);  // prepared once, executed again

  std::unique_ptr<TLSQLDataset> select =
      helper_->CreateDataset(Sql("SELECT id FROM {t} ORDER BY id"));
  EXPECT_EQ(helper_->ExecuteDataset(*select), 0);
  EXPECT_LT(select->RowsAffected, 0);
  ASSERT_TRUE(select->Active());
  std::string ids;
  for (; !select->Eof(); select->Next()) ids += select->AsText(0);
  EXPECT_EQ(ids, "1234");
  EXPECT_TRUE(select->Active());  // at its end until closed
  select->Close();
  EXPECT_FALSE(select->Active());
  EXPECT_EQ(select->FieldCount(), 0);

  std::unique_ptr<TLSQLDataset> bad = helper_->CreateDataset("SELECT * FROM no_such_table");
  EXPECT_THROW(helper_->ExecuteDataset(*bad), EMorvexError);
}

TEST_P(HelperTest, BindsProjectParametersEmptyValuesAndUnknownNamesAsNull) {
  Load("<lsql><s/></lsql>");
  TLSQLDataset& dataset = Attach("s", "SELECT :a AS a, :B AS b, :c AS c, :missing AS m, :A AS a2");
  const std::vector<std::string> parameters = {"A=1", "b=", "c=x y", "a=second"};
  helper_->BindParameters(dataset, &parameters, Element("s"), nullptr);
  EXPECT_EQ(dataset.Param(0).DataType, ftString);
  EXPECT_EQ(std::get<std::string>(dataset.Param(0).Value), "1");
  EXPECT_TRUE(std::holds_alternative<TDbNull>(dataset.Param(1).Value));
  EXPECT_TRUE(std::holds_alternative<TDbNull>(dataset.Param(3).Value));

  helper_->ExecuteDataset(dataset);
  EXPECT_EQ(Text(dataset, "a"), "1");
  EXPECT_EQ(Text(dataset, "b"), "<null>");  // empty project value: Null, not ''
  EXPECT_EQ(Text(dataset, "c"), "x y");
  EXPECT_EQ(Text(dataset, "m"), "<null>");
  EXPECT_EQ(Text(dataset, "a2"), "1");

  // Without a parameter list everything is Null.
  dataset.Close();
  helper_->BindParameters(dataset, nullptr, Element("s"), nullptr);
  EXPECT_TRUE(std::holds_alternative<TDbNull>(dataset.Param(0).Value));
}

TEST_P(HelperTest, PairsComeAfterProjectParametersAndBeforeElementReferences) {
  Load("<lsql><source/><s/></lsql>");
  TLSQLDataset& source = Attach("source", "SELECT 'from element' AS id, 'el' AS other");
  helper_->ExecuteDataset(source);
  TLSQLDataset& dataset = Attach("s",
                                 "SELECT :source$id AS id, :source$name AS name, "
                                 ":source$other AS other, :source$gone AS gone");
  const std::vector<std::string> parameters = {"source$name=from parameters"};
  const TNameValuePairs pairs = {{"SOURCE$ID", "7"}, {"source$id", "8"}, {"source$name", "Ann"}};
  helper_->BindParameters(dataset, &parameters, Element("s"), &pairs);
  helper_->ExecuteDataset(dataset);
  EXPECT_EQ(Text(dataset, "id"), "7");
  EXPECT_EQ(Text(dataset, "name"), "from parameters");
  EXPECT_EQ(Text(dataset, "other"), "el");  // not in the pairs: the element's field
  EXPECT_EQ(Text(dataset, "gone"), "<null>");
}

TEST_P(HelperTest, BindingSearchesSiblingsThenAncestorsPastUnfitCandidates) {
  CreateTable("t", "id INTEGER");
  Exec("INSERT INTO {t} VALUES (1), (2)");
  Load(
      "<lsql><a>"  // ancestor of s: active, fields B and c
      "<a/>"       // active, field c only
      "<A/>"       // same name in another case: inactive, 2 rows affected
      "<a/>"       // no handle
      "<s/>"
      "</a><after/></lsql>");
  TLSQLDataset& outer = Attach("/lsql/a", "SELECT 'ancestor' AS B, 'ancestor' AS c");
  TLSQLDataset& sibling = Attach("/lsql/a/a[1]", "SELECT 'sibling' AS c");
  TLSQLDataset& update = Attach("/lsql/a/A", "UPDATE {t} SET id = id + 1");
  TLSQLDataset& after = Attach("after", "SELECT 'later' AS z");
  for (TLSQLDataset* dataset : {&outer, &sibling, &update, &after}) {
    helper_->ExecuteDataset(*dataset);
  }

  TLSQLDataset& s = Attach("/lsql/a/s",
                           "SELECT :a$c AS c, :a$b AS b, :A$rowsaffected AS n, :after$z AS z, "
                           ":s$x AS x, :nobody$y AS y");
  helper_->BindParameters(s, nullptr, Element("/lsql/a/s"), nullptr);
  helper_->ExecuteDataset(s);
  EXPECT_EQ(Text(s, "c"), "sibling");
  EXPECT_EQ(Text(s, "b"), "ancestor");
  EXPECT_EQ(Text(s, "n"), "2");
  EXPECT_EQ(Text(s, "z"), "<null>");  // following siblings are never searched
  EXPECT_EQ(Text(s, "x"), "<null>");  // nor the element itself
  EXPECT_EQ(Text(s, "y"), "<null>");

  // Text substitution stops at the first element named a with a handle (the
  // inactive A): no field there, so the reference stays; its row count works.
  std::string text = ":a$c|:a$b|:a$rowsaffected|:after$z";
  helper_->SubstituteReferences(text, {"a$c", "a$b", "a$rowsaffected", "after$z"},
                                Element("/lsql/a/s"));
  EXPECT_EQ(text, ":a$c|:a$b|2|:after$z");

  // Without the A in the way the sibling answers first, then nothing further.
  helper_->FreeDataset(Element("/lsql/a/A"));
  text = ":a$c|:a$b";
  helper_->SubstituteReferences(text, {"a$c", "a$b"}, Element("/lsql/a/s"));
  EXPECT_EQ(text, "sibling|:a$b");
}

TEST_P(HelperTest, BoundRowsAffectedReadsInactiveDatasets) {
  CreateTable("t", "id INTEGER");
  Exec("INSERT INTO {t} VALUES (1), (2), (3)");
  Load("<lsql><u/><s/></lsql>");
  TLSQLDataset& u = Attach("u", "UPDATE {t} SET id = id + 1");
  EXPECT_EQ(helper_->ExecuteDataset(u), 3);
  TLSQLDataset& s = Attach("s", "SELECT :u$rowsaffected AS n, :u$RowsAffected + 1 AS m");
  helper_->BindParameters(s, nullptr, Element("s"), nullptr);
  EXPECT_EQ(s.Param(0).DataType, ftInteger);
  EXPECT_EQ(std::get<int64_t>(s.Param(0).Value), 3);
  helper_->ExecuteDataset(s);
  EXPECT_EQ(Text(s, "n"), "3");
  EXPECT_EQ(Text(s, "m"), "4");
}

TEST_P(HelperTest, FieldValuesAndTypesAreBoundFromTheCurrentRecord) {
  CreateTable("orders", "id INTEGER, amount FLOAT");
  Exec("INSERT INTO {orders} VALUES (1, 2.5), (2, NULL)");
  Load("<lsql><orders><s/></orders></lsql>");
  TLSQLDataset& orders = Attach("orders", "SELECT id, amount FROM {orders} ORDER BY id");
  helper_->ExecuteDataset(orders);
  TLSQLDataset& s = Attach("orders/s", "SELECT :orders$ID * 10 AS id, :orders$amount AS amount");
  std::vector<std::string> seen;
  for (; !orders.Eof(); orders.Next()) {
    s.Close();
    helper_->BindParameters(s, nullptr, Element("orders/s"), nullptr);
    helper_->ExecuteDataset(s);
    seen.push_back(Text(s, "id") + "/" + Text(s, "amount"));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"10/2.5", "20/<null>"}));
  EXPECT_EQ(FieldTypeClass(s.Param(0).DataType), 2);
  EXPECT_EQ(FieldTypeClass(s.Param(1).DataType), 3);
}

TEST_P(HelperTest, ParameterTypesComeFromDeclarationsByElementName) {
  Load(
      "<lsql><parameters><a-b kind='integer'/><C kind='float'/><d kind='boolean'/>"
      "<e>text</e></parameters><s/></lsql>");
  TLSQLDataset& dataset = Attach("s", "SELECT :a$b, :c, :d, :e, :f, :a$b");
  dataset.Param(5).DataType = ftDate;  // typed already: kept
  helper_->PrepareParameterTypes(dataset, Element("parameters"));
  EXPECT_EQ(dataset.Param(0).DataType, ftInteger);
  EXPECT_EQ(dataset.Param(1).DataType, ftFloat);  // found upper-cased
  EXPECT_EQ(dataset.Param(2).DataType, ftString);
  EXPECT_EQ(dataset.Param(3).DataType, ftString);  // no kind attribute
  EXPECT_EQ(dataset.Param(4).DataType, ftUnknown);
  EXPECT_EQ(dataset.Param(5).DataType, ftDate);

  TLSQLDataset& untouched = Attach("s", "SELECT :c");
  helper_->PrepareParameterTypes(untouched, nullptr);
  EXPECT_EQ(untouched.Param(0).DataType, ftUnknown);
}

TEST_P(HelperTest, HandlesGoByElementNeverByAttribute) {
  Load("<lsql><a/><b morvex-qptr='1'/><s/></lsql>");
  TLSQLDataset& a = Attach("a", "SELECT 5 AS id");
  helper_->ExecuteDataset(a);
  EXPECT_EQ(GetAttributeText(Element("a"), "morvex-qptr"), "1");
  EXPECT_EQ(helper_->DatasetOf(Element("b")), nullptr);

  TLSQLDataset& s = Attach("s", "SELECT :b$id AS id, :a$id AS a");
  EXPECT_EQ(GetAttributeText(Element("s"), "morvex-qptr"), "2");
  helper_->BindParameters(s, nullptr, Element("s"), nullptr);
  helper_->ExecuteDataset(s);
  EXPECT_EQ(Text(s, "id"), "<null>");
  EXPECT_EQ(Text(s, "a"), "5");

  helper_->FreeDataset(Element("a"));
  EXPECT_EQ(helper_->DatasetOf(Element("a")), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Backends, HelperTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);

}  // namespace
}  // namespace morvex
