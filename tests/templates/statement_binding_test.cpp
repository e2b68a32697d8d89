// The connection helper, its datasets, and what template statements'
// parameters and references are bound to, on real databases: a SQLite file,
// and the PostgreSQL server through libpq and through ODBC.
#include "templates/statement_binding.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "db/lsql_conn_helper.h"
#include "templates/parameter_names.h"
#include "tests/support/template_document.h"
#include "tests/support/test_database.h"
#include "text/error.h"
#include "xml/dom.h"
#include "xml/xml_ptr.h"

namespace morvex {
namespace {

using detail::xml_ptr;
using Lines = std::vector<std::string>;

class HelperTest : public testing::TDatabaseTest {
 protected:
  void SetUp() override {
    TDatabaseTest::SetUp();
    if (!Connected()) return;
    helper_ = std::make_unique<TLSQLConnHelper>(Connection());
  }

  void TearDown() override {
    helper_.reset();
    TDatabaseTest::TearDown();
  }

  // Parses a template and builds its tree; blank text nodes are dropped as
  // for every template. Elements that stand for statements hold "-".
  void Load(const std::string& xml) {
    tree_ =
        std::make_unique<TTemplateTree>(ElementView(testing::LoadTemplateDocument(Sql(xml), doc_)));
  }

  // The statement at `path` (testing::StatementAt).
  const TTemplateStatement& Element(const std::string& path) {
    return testing::StatementAt(*tree_, path);
  }

  // Creates and attaches the dataset of the statement `path`, as the
  // template preparation does.
  TLSQLDataset& Attach(const std::string& path, const std::string& statement) {
    return helper_->AttachDataset(Element(path).Index, helper_->CreateDataset(Sql(statement)));
  }

  // Replaces each reference in `text` that resolves from `statement` by its
  // text (ResolveReference); the others stay as written.
  void SubstituteReferences(std::string& text, const TTemplateStatement& statement) {
    text = ReplaceParameterReferences(text, [&](const std::string& name) {
      std::optional<TReferenceText> replacement;
      if (const auto value = ResolveReference(name, statement, *helper_)) {
        replacement = TReferenceText{*value, *value};
      }
      return replacement;
    });
  }

  std::unique_ptr<TLSQLConnHelper> helper_;
  xml_ptr<xmlDoc> doc_;
  std::unique_ptr<TTemplateTree> tree_;
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
  Load("<lsql><s>-</s></lsql>");
  TLSQLDataset& dataset = Attach("s", "SELECT :a AS a, :B AS b, :c AS c, :missing AS m, :A AS a2");
  const std::vector<std::string> entries = {"A=1", "b=", "c=x y", "a=second"};
  const TParameterValues parameters(&entries);
  BindParameters(dataset, &parameters, Element("s"), nullptr, *helper_);
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
  BindParameters(dataset, nullptr, Element("s"), nullptr, *helper_);
  EXPECT_TRUE(std::holds_alternative<TDbNull>(dataset.Param(0).Value));
}

TEST_P(HelperTest, PairsComeAfterProjectParametersAndBeforeElementReferences) {
  Load("<lsql><source>-</source><s>-</s></lsql>");
  TLSQLDataset& source = Attach("source", "SELECT 'from element' AS id, 'el' AS other");
  helper_->ExecuteDataset(source);
  TLSQLDataset& dataset = Attach("s",
                                 "SELECT :source$id AS id, :source$name AS name, "
                                 ":source$other AS other, :source$gone AS gone");
  const std::vector<std::string> entries = {"source$name=from parameters"};
  const TParameterValues parameters(&entries);
  const TNameValuePairs pairs = {{"SOURCE$ID", "7"}, {"source$id", "8"}, {"source$name", "Ann"}};
  BindParameters(dataset, &parameters, Element("s"), &pairs, *helper_);
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
      "<lsql><a>-"  // ancestor of s: active, fields B and c
      "<a>-</a>"    // active, field c only
      "<A>-</A>"    // same name in another case: inactive, 2 rows affected
      "<a>-</a>"    // no handle
      "<s>-</s>"
      "</a><after>-</after></lsql>");
  TLSQLDataset& outer = Attach("a", "SELECT 'ancestor' AS B, 'ancestor' AS c");
  TLSQLDataset& sibling = Attach("a/a[1]", "SELECT 'sibling' AS c");
  TLSQLDataset& update = Attach("a/A", "UPDATE {t} SET id = id + 1");
  TLSQLDataset& after = Attach("after", "SELECT 'later' AS z");
  for (TLSQLDataset* dataset : {&outer, &sibling, &update, &after}) {
    helper_->ExecuteDataset(*dataset);
  }

  TLSQLDataset& s = Attach("a/s",
                           "SELECT :a$c AS c, :a$b AS b, :A$rowsaffected AS n, :after$z AS z, "
                           ":s$x AS x, :nobody$y AS y");
  BindParameters(s, nullptr, Element("a/s"), nullptr, *helper_);
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
  SubstituteReferences(text, Element("a/s"));
  EXPECT_EQ(text, ":a$c|:a$b|2|:after$z");

  // Without the A in the way the sibling answers first, then nothing further.
  helper_->FreeDataset(Element("a/A").Index);
  text = ":a$c|:a$b";
  SubstituteReferences(text, Element("a/s"));
  EXPECT_EQ(text, "sibling|:a$b");
}

TEST_P(HelperTest, BoundRowsAffectedReadsInactiveDatasets) {
  CreateTable("t", "id INTEGER");
  Exec("INSERT INTO {t} VALUES (1), (2), (3)");
  Load("<lsql><u>-</u><s>-</s></lsql>");
  TLSQLDataset& u = Attach("u", "UPDATE {t} SET id = id + 1");
  EXPECT_EQ(helper_->ExecuteDataset(u), 3);
  TLSQLDataset& s = Attach("s", "SELECT :u$rowsaffected AS n, :u$RowsAffected + 1 AS m");
  BindParameters(s, nullptr, Element("s"), nullptr, *helper_);
  EXPECT_EQ(s.Param(0).DataType, ftInteger);
  EXPECT_EQ(std::get<int64_t>(s.Param(0).Value), 3);
  helper_->ExecuteDataset(s);
  EXPECT_EQ(Text(s, "n"), "3");
  EXPECT_EQ(Text(s, "m"), "4");
}

TEST_P(HelperTest, FieldValuesAndTypesAreBoundFromTheCurrentRecord) {
  CreateTable("orders", "id INTEGER, amount FLOAT");
  Exec("INSERT INTO {orders} VALUES (1, 2.5), (2, NULL)");
  Load("<lsql><orders>-<s>-</s></orders></lsql>");
  TLSQLDataset& orders = Attach("orders", "SELECT id, amount FROM {orders} ORDER BY id");
  helper_->ExecuteDataset(orders);
  TLSQLDataset& s = Attach("orders/s", "SELECT :orders$ID * 10 AS id, :orders$amount AS amount");
  std::vector<std::string> seen;
  for (; !orders.Eof(); orders.Next()) {
    s.Close();
    BindParameters(s, nullptr, Element("orders/s"), nullptr, *helper_);
    helper_->ExecuteDataset(s);
    seen.push_back(Text(s, "id") + "/" + Text(s, "amount"));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"10/2.5", "20/<null>"}));
  EXPECT_EQ(FieldTypeClass(s.Param(0).DataType), 2);
  EXPECT_EQ(FieldTypeClass(s.Param(1).DataType), 3);
}

// A master-detail copy binds every kind of field into a statement: the
// copy reads back as the original, fractions of a second included.
TEST_P(HelperTest, EveryFieldTypeIsCopiedThroughABoundParameter) {
  const std::string columns =
      IsSqlite() ? "i INTEGER, f REAL, n NUMERIC(10,2), d DATE, tm TIME, ts DATETIME, b BLOB,"
                   " ok BOOLEAN, s VARCHAR(20), m TEXT"
                 : "i INTEGER, f DOUBLE PRECISION, n NUMERIC(10,2), d DATE, tm TIME,"
                   " ts TIMESTAMP, b BYTEA, ok BOOLEAN, s VARCHAR(20), m TEXT";
  CreateTable("source", columns);
  CreateTable("copy", columns);
  const std::string bytes = IsSqlite() ? "x'00FF41'" : "decode('00FF41', 'hex')";
  Exec(
      "INSERT INTO {source} VALUES (-7, 0.1, 12.50, '2013-05-01', '14:30:05.250',"
      " '2013-05-01 14:30:05.125', " +
      bytes + ", TRUE, 'abc', 'caf\xC3\xA9')");
  Exec(
      "INSERT INTO {source} VALUES (8, 1e20, 0, '1999-12-31', '23:59:59', '2000-02-29 00:00:00',"
      " " +
      bytes + ", FALSE, '', '')");
  Exec("INSERT INTO {source} (i) VALUES (9)");
  Load("<lsql><src>-<ins>-</ins></src></lsql>");
  TLSQLDataset& source = Attach("src", "SELECT * FROM {source} ORDER BY i");
  helper_->ExecuteDataset(source);
  TLSQLDataset& insert = Attach("src/ins",
                                "INSERT INTO {copy} VALUES (:src$i, :src$f, :src$n, :src$d,"
                                " :src$tm, :src$ts, :src$b, :src$ok, :src$s, :src$m)");
  for (; !source.Eof(); source.Next()) {
    BindParameters(insert, nullptr, Element("src/ins"), nullptr, *helper_);
    EXPECT_EQ(helper_->ExecuteDataset(insert), 1);
  }
  const std::string row =
      "i || '|' || f || '|' || n || '|' || d || '|' || tm || '|' || ts || '|' || ok || '|' || s"
      " || '|' || m || '|' || length(b)";
  for (const std::string i : {"-7", "8"}) {
    const Lines original = Column("SELECT " + row + " FROM {source} WHERE i = " + i);
    ASSERT_EQ(original.size(), 1u);
    EXPECT_EQ(Column("SELECT " + row + " FROM {copy} WHERE i = " + i), original);
  }
  EXPECT_EQ(Column("SELECT i FROM {copy} WHERE f IS NULL AND n IS NULL AND d IS NULL AND"
                   " tm IS NULL AND ts IS NULL AND b IS NULL AND ok IS NULL AND s IS NULL AND"
                   " m IS NULL"),
            (Lines{"9"}));
}

TEST_P(HelperTest, ParameterTypesComeFromDeclarationsByElementName) {
  Load(
      "<lsql><parameters><a-b kind='integer'/><C kind='float'/><d kind='boolean'/>"
      "<e>text</e></parameters><s>-</s></lsql>");
  TLSQLDataset& dataset = Attach("s", "SELECT :a$b, :c, :d, :e, :f, :a$b");
  dataset.Param(5).DataType = ftDate;  // typed already: kept
  PrepareParameterTypes(dataset, ElementView(xmlDocGetRootElement(doc_.get())).Child("parameters"));
  EXPECT_EQ(dataset.Param(0).DataType, ftInteger);
  EXPECT_EQ(dataset.Param(1).DataType, ftFloat);  // found upper-cased
  EXPECT_EQ(dataset.Param(2).DataType, ftString);
  EXPECT_EQ(dataset.Param(3).DataType, ftString);  // no kind attribute
  EXPECT_EQ(dataset.Param(4).DataType, ftUnknown);
  EXPECT_EQ(dataset.Param(5).DataType, ftDate);

  TLSQLDataset& untouched = Attach("s", "SELECT :c");
  PrepareParameterTypes(untouched, TXmlElement());
  EXPECT_EQ(untouched.Param(0).DataType, ftUnknown);
}

// Datasets go by statement, never by an attribute the user wrote: an
// element without statement text that claims a handle is no statement.
TEST_P(HelperTest, HandlesGoByStatementNeverByAttribute) {
  Load("<lsql><a>-</a><b morvex-qptr='1'/><s>-</s></lsql>");
  ASSERT_EQ(tree_->StatementCount(), 2u);
  TLSQLDataset& a = Attach("a", "SELECT 5 AS id");
  helper_->ExecuteDataset(a);
  EXPECT_EQ(helper_->DatasetOf(Element("a").Index), &a);

  TLSQLDataset& s = Attach("s", "SELECT :b$id AS id, :a$id AS a");
  EXPECT_EQ(helper_->DatasetOf(Element("s").Index), &s);
  BindParameters(s, nullptr, Element("s"), nullptr, *helper_);
  helper_->ExecuteDataset(s);
  EXPECT_EQ(Text(s, "id"), "<null>");
  EXPECT_EQ(Text(s, "a"), "5");

  helper_->FreeDataset(Element("a").Index);
  EXPECT_EQ(helper_->DatasetOf(Element("a").Index), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Backends, HelperTest, testing::AllTestDbs(), testing::TestDbParamName);

}  // namespace
}  // namespace morvex
