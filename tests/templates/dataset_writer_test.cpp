// The dataset writers end to end: templates run through the query session on
// a SQLite file and on the PostgreSQL server through libpq and through ODBC,
// and the exact bytes of the XML and CSV output.
#include "templates/dataset_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <libxml/tree.h>
#include <algorithm>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "templates/template_session.h"
#include "tests/support/query_writer.h"
#include "tests/support/test_database.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/value_text.h"
#include "xml/xml_document.h"

namespace morvex {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kBom = "\xEF\xBB\xBF";
const std::string kXmlHead = kBom + "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// A stream that accepts `limit` bytes and then fails every write, with an
// EMorvexError or, with `foreign`, an exception of another type.
class TFailingStream final : public TStream {
 public:
  explicit TFailingStream(size_t limit, bool foreign = false) : limit_(limit), foreign_(foreign) {}
  using TStream::Write;
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void* data, size_t count) override {
    if (data_.size() + count > limit_) {
      if (foreign_) throw std::runtime_error("device gone");
      throw EMorvexError("disk full");
    }
    data_.append(static_cast<const char*>(data), count);
  }
  int64_t Seek(int64_t, SeekOrigin) override { return static_cast<int64_t>(data_.size()); }
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t) override {}
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
  size_t limit_;
  bool foreign_;
};

// The writers on each backend. The tables hold the same values everywhere
// and the expected bytes are the same: the column types and the few SQL
// functions that differ between SQLite and PostgreSQL are chosen per backend.
class DatasetWriterTest : public testing::TDatabaseTest {
 protected:
  void SetUp() override {
    TDatabaseTest::SetUp();
    if (!Connected()) return;
    // REAL is a single-precision float on PostgreSQL, TIMESTAMP and BYTEA
    // are its names of DATETIME and BLOB. psqlODBC reports a VARCHAR longer
    // than its MaxVarcharSize (255) as a long text, a memo: s stays a string
    // on every backend only without a length.
    CreateTable("t", IsSqlite() ? "i INTEGER, f REAL, m TEXT, s VARCHAR(300), d DATE, tm TIME,"
                                  " dt DATETIME, b BLOB, ok BOOLEAN"
                                : "i INTEGER, f DOUBLE PRECISION, m TEXT, s VARCHAR, d DATE,"
                                  " tm TIME, dt TIMESTAMP, b BYTEA, ok BOOLEAN");
    CreateTable("orders", "id INTEGER, name VARCHAR(20)");
    CreateTable("items", "order_id INTEGER, qty INTEGER, note TEXT");
    Exec("insert into {orders} values (1, 'A'), (2, 'B'), (3, 'C')");
    Exec("insert into {items} values (1, 1, 'x'), (1, 2, 'y'), (3, 5, 'z')");
  }

  // SQL for `text` repeated `count` times: a string field (never cut) on
  // every backend, as SQLite's printf() gives; PostgreSQL's repeat() gives
  // the text type, a memo.
  std::string Repeat(std::string_view text, int count) const {
    const std::string n = std::to_string(count);
    if (!IsSqlite()) return "cast(repeat('" + std::string(text) + "', " + n + ") as varchar)";
    return "replace(printf('%.*c', " + n + ", 'x'), 'x', '" + std::string(text) + "')";
  }
  // SQL for the bytes of hexadecimal `hex`.
  std::string Bytes(const std::string& hex) const {
    return IsSqlite() ? "x'" + hex + "'" : "decode('" + hex + "', 'hex')";
  }
  // SQL for the UTF-8 bytes of the text expression `text`.
  std::string TextBytes(const std::string& text) const {
    return IsSqlite() ? "cast(" + text + " as blob)" : "convert_to(" + text + ", 'UTF8')";
  }

  // Runs `templateXml` (a template document with root lsql; "{name}" names
  // a table) in one session.
  void Run(std::string_view templateXml, const TXTransformInfo& options, TStream& out,
           const std::vector<std::string>& parameters = {}, const ProgressSink& sink = {}) {
    const TXmlDocument document = LoadXmlText(Sql(std::string(templateXml)));
    ASSERT_TRUE(HasDocumentElement(document.get())) << templateXml;
    RunQueryTemplate(ConnectionString(), false, testing::WriterFor(options), options, sink, out,
                     TXmlElement(), parameters, ElementView(xmlDocGetRootElement(document.get())));
  }

  static TXTransformInfo XmlOptions() {
    TXTransformInfo options;
    options.Kind = tkXml;
    return options;
  }
  static TXTransformInfo CsvOptions() {
    TXTransformInfo options;
    options.Kind = tkCsv;
    return options;
  }

  std::string Xml(std::string_view templateXml, TXTransformInfo options = XmlOptions(),
                  const std::vector<std::string>& parameters = {}, const ProgressSink& sink = {}) {
    TMemoryStream out;
    Run(templateXml, options, out, parameters, sink);
    return out.Data();
  }
  std::string Csv(std::string_view templateXml, TXTransformInfo options = CsvOptions(),
                  const ProgressSink& sink = {}) {
    TMemoryStream out;
    Run(templateXml, options, out, {}, sink);
    return out.Data();
  }

  // The message of the error the run raises, with the output written before it.
  std::string ErrorOf(std::string_view templateXml, const TXTransformInfo& options, TStream& out) {
    try {
      Run(templateXml, options, out);
    } catch (const EMorvexError& e) {
      return e.what();
    }
    ADD_FAILURE() << "no error for " << templateXml;
    return {};
  }
};

TEST_P(DatasetWriterTest, XmlWritesEveryTypeClassAndNulls) {
  Exec(
      "insert into {t} values (7, 1234.5, 'memo ]]> text  ', 'abc   ', '2013-05-01', '14:30:00',"
      " '2013-05-01 14:30:00', " +
      Bytes("00FF41") + ", TRUE)");
  Exec("insert into {t} values (null, null, null, null, null, null, null, null, null)");
  Exec("insert into {t} values (0, 0.1, '', '', '1899-12-30', '00:00:00', '1899-12-30 00:00:00', " +
       Bytes(std::string(120, '0')) + ", FALSE)");

  EXPECT_EQ(Xml("<lsql><t>select * from {t} order by i desc nulls last</t></lsql>"),
            kXmlHead +
                "<morvex_data><t>"
                "<r><i>7</i><f>1234.5</f><m><![CDATA[memo ]]]]><![CDATA[> text]]></m><s>abc</s>"
                "<d>2013-05-01</d><tm>14:30:00</tm><dt>2013-05-01 14:30:00</dt>"
                "<b><![CDATA[AP9B]]></b><ok>1</ok></r>"
                "<r><i>0</i><f>0.1</f><m><![CDATA[]]></m><s/><d/><tm/><dt/><b><![CDATA[" +
                std::string(76, 'A') +
                "\r\nAAAA]]></b><ok>0</ok></r>"
                "<r><i/><f/><m/><s/><d/><tm/><dt/><b/><ok/></r>"
                "</t></morvex_data>");

  // Exact numbers keep the digits the database gives, without trailing zeros.
  CreateTable("num", "n NUMERIC(12,3)");
  Exec("insert into {num} values (12.5), (-0.125), (0), (5)");
  EXPECT_EQ(Xml("<lsql><q>select n from {num} order by n</q></lsql>"),
            kXmlHead +
                "<morvex_data><q><r><n>-0.125</n></r><r><n>0</n></r><r><n>5</n></r>"
                "<r><n>12.5</n></r></q></morvex_data>");
}

// Exact numbers (numeric values, 64-bit integers in a numeric column) keep
// every digit in both writers; only floating-point values take the general
// form of 15 significant digits.
TEST_P(DatasetWriterTest, ExactNumbersKeepEveryDigit) {
  CreateTable("big", "n NUMERIC(30,1), f DOUBLE PRECISION");
  Exec("insert into {big} values (123456789012345678, 0.1), (-12.50, 123456789012345678)");
  const std::string query = "<lsql><q>select n, f from {big} order by f</q></lsql>";
  EXPECT_EQ(Xml(query), kXmlHead +
                            "<morvex_data><q><r><n>123456789012345678</n><f>0.1</f></r>"
                            "<r><n>-12.5</n><f>1.23456789012346E17</f></r></q></morvex_data>");
  TXTransformInfo options = CsvOptions();
  options.HeaderRow = false;
  EXPECT_EQ(Csv(query, options), kBom + "123456789012345678;0.1\r\n-12.5;1.23456789012346E17\r\n");
  if (IsSqlite()) return;

  // Beyond the range of a double, and more digits than a double holds.
  EXPECT_EQ(Xml("<lsql><q>select 1e309 as huge, cast('123456789012345678.9' as numeric(30,1)) as "
                "n18, cast('NaN' as numeric) as nan, cast(-0.000 as numeric(6,3)) as zero</q>"
                "</lsql>"),
            kXmlHead + "<morvex_data><q><r><huge>1" + std::string(309, '0') +
                "</huge><n18>123456789012345678.9</n18><nan>NAN</nan><zero>0</zero></r></q>"
                "</morvex_data>");
  // A field bound into a nested statement keeps its digits too.
  CreateTable("copy", "n NUMERIC(30,1)");
  Xml("<lsql><q>select cast('123456789012345678.9' as numeric(30,1)) as n"
      "<ins>insert into {copy} values (:q$n)</ins></q></lsql>");
  EXPECT_EQ(Column("select cast(n as varchar(40)) from {copy}"),
            std::vector<std::string>{"123456789012345678.9"});
}

// Dates and times a database holds beyond the date-time scale are written as
// the database's own text instead of ending the run; a text in a date column
// of SQLite is its own text too.
TEST_P(DatasetWriterTest, DateTimesBeyondTheScaleKeepTheDatabaseText) {
  if (IsSqlite()) {
    CreateTable("odd", "d DATE, ts DATETIME");
    Exec("insert into {odd} values ('', 'later'), ('2013-05-01', '2013-05-01 14:30')");
    EXPECT_EQ(Xml("<lsql><q>select d, ts from {odd} order by d</q></lsql>"),
              kXmlHead +
                  "<morvex_data><q><r><d/><ts>later</ts></r>"
                  "<r><d>2013-05-01</d><ts>2013-05-01 14:30:00</ts></r></q></morvex_data>");
    TXTransformInfo options = CsvOptions();
    options.HeaderRow = false;
    EXPECT_EQ(Csv("<lsql><q>select d, ts from {odd} order by d</q></lsql>", options),
              kBom + ";later\r\n2013-05-01;2013-05-01 14:30:00\r\n");
    return;
  }
  // Through ODBC as through libpq.
  EXPECT_EQ(Xml("<lsql><q>select time '24:00:00' as t, timestamp '-infinity' as ts2, "
                "timestamp '0044-03-15 12:30:00 BC' as ts3, "
                "timestamp '2013-05-01 14:30:00.25' as ts4</q></lsql>"),
            kXmlHead +
                "<morvex_data><q><r><t>24:00:00</t><ts2>-infinity</ts2>"
                "<ts3>0044-03-15 12:30:00 BC</ts3><ts4>2013-05-01 14:30:00</ts4></r></q>"
                "</morvex_data>");
  const std::string dates =
      "<lsql><q>select date 'infinity' as d1, date '-infinity' as d2, date '0044-03-15 BC' as "
      "d3, date '12345-01-01' as d4, timestamp '12345-01-01 10:00:00' as ts, "
      "timestamp 'infinity' as ts1</q></lsql>";
  if (Backend() == testing::TTestDb::PostgreSQL) {
    EXPECT_EQ(Xml(dates), kXmlHead +
                              "<morvex_data><q><r><d1>infinity</d1><d2>-infinity</d2>"
                              "<d3>0044-03-15 BC</d3><d4>12345-01-01</d4>"
                              "<ts>12345-01-01 10:00:00</ts><ts1>infinity</ts1></r></q>"
                              "</morvex_data>");
  } else {
    // psqlODBC turns these into dates of its own: reading them fails rather
    // than writing a wrong date.
    TMemoryStream out;
    EXPECT_THAT(ErrorOf(dates, XmlOptions(), out),
                HasSubstr("The ODBC driver cannot give the date of field d1 (infinity, or a year "
                          "beyond 9999)"));
  }
}

TEST_P(DatasetWriterTest, XmlNestsDetailRecordsInsideTheirMasterRecord) {
  std::vector<std::string> lines;
  TXTransformInfo options = XmlOptions();
  options.Namespaces = "xmlns='urn:x' xmlns:p='urn:p'";
  EXPECT_EQ(
      Xml("<lsql><orders>select id, name from {orders} order by id"
          "<items>select qty from {items} where order_id = :orders$id order by qty</items>"
          "</orders></lsql>",
          options, {"city=Prague", "empty="},
          [&](const std::string& line) { lines.push_back(line); }),
      kXmlHead +
          "<morvex_data xmlns=\"urn:x\" xmlns:p=\"urn:p\">"
          "<morvex_params><city>Prague</city><empty/></morvex_params>"
          "<orders>"
          "<r><id>1</id><name>A</name><items><r><qty>1</qty></r><r><qty>2</qty></r></items></r>"
          "<r><id>2</id><name>B</name><items/></r>"
          "<r><id>3</id><name>C</name><items><r><qty>5</qty></r></items></r>"
          "</orders></morvex_data>");
  EXPECT_EQ(lines, std::vector<std::string>{"orders: 3 record(s) processed."});

  options.IncludeParams = false;
  EXPECT_THAT(Xml("<lsql><q>select 1 as x</q></lsql>", options, {"city=Prague"}),
              HasSubstr("<morvex_data xmlns=\"urn:x\" xmlns:p=\"urn:p\"><q>"));
}

// Each written statement adds its element and a record element: 1023
// nested statements write 2048 levels (with the root and the fields), which
// every reader reads; one more fails before any statement runs, naming the
// limit, as does a wrapper that adds the level.
TEST_P(DatasetWriterTest, XmlRefusesTemplatesThatWouldNestDeeperThanReadersRead) {
  const auto deep = [](int statements, const char* innermost) {
    std::string xml = "<lsql>";
    for (int i = 0; i < statements; ++i) xml += "<s>select 1 as x";
    xml += innermost;
    for (int i = 0; i < statements; ++i) xml += "</s>";
    return xml + "</lsql>";
  };
  const std::string written = Xml(deep(1023, ""));
  size_t fields = 0;
  for (size_t at = written.find("<x>1</x>"); at != std::string::npos;
       at = written.find("<x>1</x>", at + 1)) {
    ++fields;
  }
  EXPECT_EQ(fields, 1023u);
  const std::string tooDeep =
      "The dataset XML of this template would nest deeper than 2048 levels, more than any "
      "reader accepts.";
  TMemoryStream out;
  EXPECT_EQ(ErrorOf(deep(1024, ""), XmlOptions(), out), tooDeep);
  EXPECT_EQ(out.Data(), "");
  TXTransformInfo wrapped = XmlOptions();
  wrapped.RecordTag = "root/wrapper/r";
  EXPECT_EQ(ErrorOf(deep(1023, ""), wrapped, out), tooDeep);
  // No-write statements add no level.
  EXPECT_NE(Xml(deep(1022, "<n no-write='yes'>select 2 as y<m>select 3 as z</m></n>"))
                .find("<m><r><z>3</z></r></m>"),
            std::string::npos);
}

TEST_P(DatasetWriterTest, XmlRecordTagNamesRootWrappersAndRecords) {
  const std::string query = "<lsql><q>select 1 as x</q></lsql>";
  const std::string body = "<q><R><x>1</x></R></q>";
  struct TCase {
    std::string recordTag, open, record, close;
  };
  const std::vector<TCase> cases = {
      {"", "<morvex_data>", "r", "</morvex_data>"},
      {" / ", "<morvex_data>", "r", "</morvex_data>"},
      {"row", "<morvex_data>", "row", "</morvex_data>"},
      {"a/b", "<a>", "b", "</a>"},
      {"a//b", "<a>", "b", "</a>"},
      {"a/b/c/d", "<a><b><c>", "d", "</c></b></a>"},
  };
  for (const TCase& c : cases) {
    TXTransformInfo options = XmlOptions();
    options.RecordTag = c.recordTag;
    std::string expected = body;
    expected.replace(expected.find("<R>"), 3, "<" + c.record + ">");
    expected.replace(expected.find("</R>"), 4, "</" + c.record + ">");
    EXPECT_EQ(Xml(query, options), kXmlHead + c.open + expected + c.close) << c.recordTag;
  }
}

TEST_P(DatasetWriterTest, XmlElementOptionsRecordTagNoWriteTestAndStatementsWithoutRows) {
  // An element's own record-tag is not inherited by its nested elements.
  TXTransformInfo options = XmlOptions();
  options.RecordTag = "data/rec";
  EXPECT_EQ(
      Xml("<lsql><orders record-tag=\"row\">select id from {orders} where id &lt; 3 order by id"
          "<items>select qty from {items} where order_id = :orders$id order by qty</items>"
          "</orders></lsql>",
          options),
      kXmlHead +
          "<data><orders>"
          "<row><id>1</id><items><rec><qty>1</qty></rec><rec><qty>2</qty></rec></items></row>"
          "<row><id>2</id><items/></row>"
          "</orders></data>");

  // no-write: the records are read and the nested elements written in its place.
  EXPECT_EQ(Xml("<lsql><orders no-write=\"1\">select id from {orders} order by id"
                "<items>select qty from {items} where order_id = :orders$id order by qty</items>"
                "</orders></lsql>"),
            kXmlHead +
                "<morvex_data>"
                "<items><r><qty>1</qty></r><r><qty>2</qty></r></items><items/>"
                "<items><r><qty>5</qty></r></items>"
                "</morvex_data>");

  // A false test and a statement without a result set write nothing; an
  // empty result still writes its element.
  EXPECT_EQ(Xml("<lsql><skipped test=\"1 = 2\">select 1 as x</skipped>"
                "<u>update {orders} set name = name</u>"
                "<none>select id from {orders} where id &gt; 100</none></lsql>"),
            kXmlHead + "<morvex_data><none/></morvex_data>");
}

// Memo and binary values are written whole, binary values as base64 in the
// lines of dataset XML, so that the CSV stays text and nothing is cut off.
TEST_P(DatasetWriterTest, CsvWritesHeaderQuotingNullsAndWholeValues) {
  Exec(
      "insert into {t} values (5, 1234.5, 'm \"q\"  ', 'ab\"c  ', '2013-05-01', '14:30:00',"
      " '2013-05-01 14:30:00', " +
      Bytes("78797A") + ", TRUE)");
  Exec("insert into {t} values (null, null, null, null, null, null, null, null, null)");
  Exec("insert into {t} (i, m, s, b) values (9, " + Repeat("x", 300) + ", " + Repeat("y", 300) +
       ", " + TextBytes(Repeat("z", 300)) + ")");
  const std::string query =
      "<lsql><t>select s, i, m, f, d, tm, dt, b, ok from {t} order by i nulls first</t></lsql>";

  EXPECT_EQ(Csv(query),
            kBom +
                "\"s\";i;\"m\";f;d;tm;dt;\"b\";ok\r\n"
                "\"\";;\"\";;;;;\"\";\r\n"
                "\"ab\"\"c\";5;\"m \"\"q\"\"\";1234.5;2013-05-01;14:30:00;2013-05-01 14:30:00;"
                "\"eHl6\";1\r\n"
                "\"" +
                std::string(300, 'y') + "\";9;\"" + std::string(300, 'x') + "\";;;;;\"" +
                Base64OfBytes(std::string(300, 'z')) + "\";\r\n");

  // The system code page (an empty name) has no byte-order mark.
  TXTransformInfo options = CsvOptions();
  options.Encoding = "";
  options.HeaderRow = false;
  options.Delimiter = ",";
  options.Quote = "'";
  EXPECT_EQ(Csv("<lsql><o>select name, id from {orders} where id = 1</o></lsql>", options),
            "'A',1\r\n");
  options.Quote = "";
  EXPECT_EQ(Csv("<lsql><o>select name, id from {orders} where id = 1</o></lsql>", options),
            "A,1\r\n");
}

// Values that take the writers' quick ways (texts read in place, integers
// formatted directly, one writer call per field) next to those that do not:
// separators, quotes, line breaks, controls, non-ASCII text, the extreme
// 64-bit integers, empty texts beside nulls, and bytes that are no UTF-8.
TEST_P(DatasetWriterTest, TrickyValuesKeepTheirBytesInBothWriters) {
  const std::string chr = IsSqlite() ? "char" : "chr";
  CreateTable("tricky",
              "s VARCHAR(60), u VARCHAR(30), hi BIGINT, lo BIGINT, e VARCHAR(5), n VARCHAR(5), "
              "ni BIGINT");
  Exec("insert into {tricky} values ('a;b,\"c\" ' || " + chr + "(13) || " + chr +
       "(10) || 'x' || " + chr + "(9) || " + chr +
       "(1) || '<]]>  ', 'Z\xC3\xBCrich \xE2\x9C\x93', 9223372036854775807,"
       " -9223372036854775807 - 1, '', null, null)");
  const std::string query = "<lsql><q>select * from {tricky}</q></lsql>";
  TXTransformInfo xml = XmlOptions();
  xml.Indent = true;
  EXPECT_EQ(Xml(query, xml),
            kXmlHead +
                "\n<morvex_data>\n\t<q>\n\t\t<r>\n"
                "\t\t\t<s>a;b,\"c\" &#13;\nx\t\xEF\xBF\xBD&lt;]]&gt;</s>\n"
                "\t\t\t<u>Z\xC3\xBCrich \xE2\x9C\x93</u>\n"
                "\t\t\t<hi>9223372036854775807</hi>\n\t\t\t<lo>-9223372036854775808</lo>\n"
                "\t\t\t<e/>\n\t\t\t<n/>\n\t\t\t<ni/>\n\t\t</r>\n\t</q>\n</morvex_data>");
  EXPECT_EQ(Csv(query), kBom +
                            "\"s\";\"u\";hi;lo;\"e\";\"n\";ni\r\n"
                            "\"a;b,\"\"c\"\" \r\nx\t\x01<]]>\";\"Z\xC3\xBCrich \xE2\x9C\x93\";"
                            "9223372036854775807;-9223372036854775808;\"\";\"\";\r\n");

  // SQLite keeps bytes that are no UTF-8 in a text; both writers put U+FFFD
  // in their place, the XML writer also where XML cannot hold a character.
  if (IsSqlite()) {
    const std::string bad =
        "<lsql><q>select cast(x'41FF42C3' as text) as t, cast(x'E29C93FE' as text) || 'ok' as m"
        "</q></lsql>";
    EXPECT_EQ(Xml(bad), kXmlHead +
                            "<morvex_data><q><r><t>A\xEF\xBF\xBD"
                            "B\xEF\xBF\xBD</t><m>\xE2\x9C\x93\xEF\xBF\xBDok</m></r></q>"
                            "</morvex_data>");
    EXPECT_EQ(Csv(bad), kBom +
                            "\"t\";\"m\"\r\n\"A\xEF\xBF\xBD"
                            "B\xEF\xBF\xBD\";\"\xE2\x9C\x93\xEF\xBF\xBDok\"\r\n");
  }
}

// A date column written from the database's "yyyy-mm-dd" text as it stands
// must give what the date's value gives: day 0 empty, a time of day dropped
// (also one that rounds up to the next day), a text that is no date kept.
TEST_P(DatasetWriterTest, DateColumnsWriteTheDayOfEveryValue) {
  CreateTable("days", "n INTEGER, d DATE");
  Exec(
      "insert into {days} values (1, '2013-05-01'), (2, '1899-12-30'), (3, '0001-01-01'),"
      " (4, '9999-12-31'), (5, '1899-12-29'), (6, null)");
  std::string expected =
      "<r><d>2013-05-01</d></r><r><d/></r><r><d>0001-01-01</d></r><r><d>9999-12-31</d></r>"
      "<r><d>1899-12-29</d></r><r><d/></r>";
  if (IsSqlite()) {
    // SQLite keeps any value in a date column.
    Exec(
        "insert into {days} values (7, '2013-05-01 23:59:59.9996'), (8, '2013-02-30'),"
        " (9, '2013-1-5'), (10, 2456293.99999999), (11, -1), (12, 2415018.25), (13, 'later'),"
        " (14, '2013-05-01T10:00:00Z'), (15, '0000-01-01'), (16, 2415019.5)");
    expected +=
        "<r><d>2013-05-02</d></r><r><d>2013-02-30</d></r><r><d>2013-01-05</d></r>"
        "<r><d>2013-01-01</d></r><r><d>1969-12-31</d></r><r><d>1899-12-29</d></r>"
        "<r><d>later</d></r><r><d>2013-05-01</d></r><r><d>0000-01-01</d></r>"
        "<r><d>1899-12-31</d></r>";
  }
  EXPECT_EQ(Xml("<lsql><q>select d from {days} order by n</q></lsql>"),
            kXmlHead + "<morvex_data><q>" + expected + "</q></morvex_data>");
}

TEST_P(DatasetWriterTest, CsvKeepsLongMemosAndConvertsTheEncoding) {
  Exec("insert into {items} (note) values (" + Repeat("\xC3\xA9", 300) + ")");
  TXTransformInfo options = CsvOptions();
  options.HeaderRow = false;
  std::string expected;
  for (int i = 0; i < 300; ++i) expected += "\xC3\xA9";
  EXPECT_EQ(Csv("<lsql><q>select note from {items} where order_id is null</q></lsql>", options),
            kBom + "\"" + expected + "\"\r\n");

  options.Encoding = "iso-8859-1";
  EXPECT_EQ(Csv("<lsql><q>select 'caf\xC3\xA9' as s</q></lsql>", options), "\"caf\xE9\"\r\n");
}

TEST_P(DatasetWriterTest, CsvHeaderComesFromTheFirstWrittenElementWithFields) {
  EXPECT_EQ(Csv("<lsql><hidden no-write=\"yes\">select 1 as z</hidden>"
                "<o>select id, name from {orders} where id &lt; 3 order by id"
                "<nested>select * from missing_table</nested></o>"
                "<p>select qty as n from {items} order by qty</p></lsql>"),
            kBom +
                "id;\"name\"\r\n"
                "1;\"A\"\r\n2;\"B\"\r\n"
                "1\r\n2\r\n5\r\n");
}

TEST_P(DatasetWriterTest, ProgressEveryTenThousandRecordsThenTheTotal) {
  CreateTable("big", "n INTEGER");
  Exec(
      "insert into {big} with recursive c(x) as (select 1 union all select x + 1 from c"
      " where x < 25000) select x from c");
  const std::vector<std::string> expected = {"big: 10000 records processed ...",
                                             "big: 20000 records processed ...",
                                             "big: 25000 record(s) processed."};
  std::vector<std::string> lines;
  const ProgressSink sink = [&](const std::string& line) { lines.push_back(line); };

  const std::string xml =
      Xml("<lsql><big>select n from {big} order by n</big></lsql>", XmlOptions(), {}, sink);
  EXPECT_EQ(lines, expected);
  EXPECT_THAT(xml, HasSubstr("<r><n>25000</n></r></big></morvex_data>"));

  lines.clear();
  const std::string csv =
      Csv("<lsql><big>select n from {big} order by n</big></lsql>", CsvOptions(), sink);
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(csv.size(), kBom.size() + 3 + 9 * 3 + 90 * 4 + 900 * 5 + 9000 * 6 + 15001 * 7);
}

TEST_P(DatasetWriterTest, ErrorsNameTheElementRecordAndField) {
  {
    // A statement that fails in the second master record: the detail has
    // no record yet, the master names its record.
    TMemoryStream out;
    EXPECT_THAT(ErrorOf("<lsql><orders>select id from {orders} order by id"
                        "<items test=\":orders$id = 2\">select * from missing_table</items>"
                        "</orders></lsql>",
                        XmlOptions(), out),
                AllOf(StartsWith("orders: Record #2: items: "), HasSubstr("missing_table")));
    // What was written before the error stays in the stream.
    EXPECT_EQ(out.Data(), kXmlHead + "<morvex_data><orders><r><id>1</id></r><r><id>2</id>");
  }
  {
    // The output fails while the third detail record's big field is written.
    TFailingStream out(16);
    EXPECT_EQ(ErrorOf("<lsql><orders>select id from {orders} where id = 1"
                      "<items>select qty, case when qty = 2 then " +
                          Repeat("x", 70000) +
                          " else 'small' end as note from {items} where order_id = :orders$id"
                          " union all select 3, 'last' order by qty</items>"
                          "</orders></lsql>",
                      XmlOptions(), out),
              "orders: Record #1: items: Record #2, Field \"note\": disk full");
  }
  {
    TFailingStream out(16, true);
    try {
      Run("<lsql><q>select " + Repeat("x", 70000) + " as big</q></lsql>", XmlOptions(), out);
      ADD_FAILURE() << "no error";
    } catch (const EMorvexError&) {
      ADD_FAILURE() << "a foreign error was wrapped";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "device gone");
    }
  }
  {
    // CSV never names a field; lines before the failing element stay.
    TMemoryStream out;
    EXPECT_THAT(ErrorOf("<lsql><a>select 1 as x</a><b>select * from missing_table</b></lsql>",
                        CsvOptions(), out),
                AllOf(StartsWith("b: "), HasSubstr("missing_table")));
    EXPECT_EQ(out.Data(), kBom + "x\r\n1\r\n");
    TFailingStream failing(16);
    EXPECT_EQ(ErrorOf("<lsql><q>select " + Repeat("x", 70000) + " as big</q></lsql>", CsvOptions(),
                      failing),
              "q: Record #1: disk full");
    // A small output fails only when the element's last lines are written:
    // the message still names the element.
    TFailingStream small(16);
    EXPECT_EQ(ErrorOf("<lsql><q>select 'abcdefghijklmnopqrstuvwxyz' as s</q></lsql>", CsvOptions(),
                      small),
              "q: Record #1: disk full");
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, DatasetWriterTest, testing::AllTestDbs(),
                         testing::TestDbParamName);

}  // namespace
}  // namespace morvex
