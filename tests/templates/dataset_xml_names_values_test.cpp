// Dataset XML from values and names XML cannot hold: the document still reads
// back, and the step says what it changed or refused. Query output in named
// encodings, XML and CSV alike.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <string>
#include <vector>

#include "templates/template_session.h"
#include "tests/support/query_writer.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/xml_document.h"

namespace morvex {
namespace {

using ::testing::ElementsAre;

const std::string kHead = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>";
const std::string kFffd = "\xEF\xBF\xBD";

struct TResult {
  std::string Xml;
  std::vector<std::string> Lines;
  std::string Error;
};

TXTransformInfo XmlOptions(const std::string& recordTag = "") {
  TXTransformInfo options;
  options.Kind = tkXml;
  options.RecordTag = recordTag;
  return options;
}

TXTransformInfo CsvOptions(const std::string& encoding) {
  TXTransformInfo options;
  options.Kind = tkCsv;
  options.Encoding = encoding;
  options.HeaderRow = false;
  return options;
}

TResult RunTemplate(const std::string& templateXml, const std::vector<std::string>& parameters = {},
                    const TXTransformInfo& options = XmlOptions()) {
  const TXmlDocument document = LoadXmlText(templateXml);
  EXPECT_TRUE(HasDocumentElement(document.get())) << templateXml;
  TResult result;
  TMemoryStream out;
  try {
    RunQueryTemplate(
        "Provider=SQLite;Data Source=:memory:", false, testing::WriterFor(options), options,
        [&](const std::string& line) { result.Lines.push_back(line); }, out, TXmlElement(),
        parameters, ElementView(xmlDocGetRootElement(document.get())));
  } catch (const EMorvexError& e) {
    result.Error = e.what();
  }
  result.Xml = out.Data();
  return result;
}

TEST(DatasetXmlValues, WhatXmlCannotHoldIsWrittenAsReplacementAndCounted) {
  const TResult result = RunTemplate(
      "<lsql><q>select 'a' || char(1) || 'b' as s, cast(x'41FF42' as text) as bad,"
      " 'fine' as ok, char(27) as esc union all select 'x', 'y', 'z', 'w'</q></lsql>",
      {"note=tab\there" + std::string("\x0B")});
  EXPECT_EQ(result.Error, "");
  EXPECT_EQ(result.Xml, kHead + "<morvex_data><morvex_params><note>tab\there" + kFffd +
                            "</note></morvex_params><q><r><s>a" + kFffd + "b</s><bad>A" + kFffd +
                            "B</bad><ok>fine</ok><esc>" + kFffd +
                            "</esc></r><r><s>x</s><bad>y</bad><ok>z</ok><esc>w</esc></r></q>"
                            "</morvex_data>");
  TMemoryStream bytes(result.Xml);
  const TXmlDocument loaded = LoadXmlStream(bytes);
  EXPECT_TRUE(HasDocumentElement(loaded.get())) << GetParseError(loaded.get()).Reason;
  EXPECT_THAT(result.Lines,
              ElementsAre("q: 2 record(s) processed.",
                          "4 value(s) held characters XML cannot hold; each was written as "
                          "U+FFFD."));
}

TEST(DatasetXmlNames, NamesWithAColonAreRefusedNamingElementOrField) {
  EXPECT_EQ(RunTemplate("<lsql><q>select 1 as \"a:b\"</q></lsql>").Error,
            "q: Record #1, Field \"a:b\": \"a:b\" is not a valid XML name");
  EXPECT_EQ(RunTemplate("<lsql xmlns:x=\"urn:x\"><x:q>select 1 as a</x:q></lsql>").Error,
            "x:q: \"x:q\" is not a valid XML name");
  EXPECT_EQ(RunTemplate("<lsql><q record-tag=\"p:row\">select 1 as a</q></lsql>").Error,
            "q: \"p:row\" is not a valid XML name");
  const TResult byOption =
      RunTemplate("<lsql><q>select 1 as a</q></lsql>", {}, XmlOptions("data/p:row"));
  EXPECT_EQ(byOption.Error, "record-tag: \"p:row\" is not a valid XML name");
  EXPECT_EQ(byOption.Xml, "");
  // Other names the document cannot hold fail the same way.
  EXPECT_EQ(RunTemplate("<lsql><q>select 1 as \"count(*)\"</q></lsql>").Error,
            "q: Record #1, Field \"count(*)\": \"count(*)\" is not a valid XML name");
}

TEST(DatasetXmlNames, ParametersWithoutAnXmlNameAreLeftOutAndNamed) {
  const TResult result = RunTemplate("<lsql><q>select 1 as a</q></lsql>",
                                     {"1st=a", "city=Brno", "ns:x=b", "start$date=c"});
  EXPECT_EQ(result.Error, "");
  EXPECT_EQ(result.Xml, kHead +
                            "<morvex_data><morvex_params><city>Brno</city><start-date>c"
                            "</start-date></morvex_params><q><r><a>1</a></r></q></morvex_data>");
  EXPECT_THAT(result.Lines,
              ElementsAre("Parameters left out of morvex_params, their names are not XML "
                          "names: 1st, ns:x",
                          "q: 1 record(s) processed."));
}

TEST(QueryOutputEncoding, NamesAreCaseInsensitiveAndUnknownNamesFail) {
  const std::string query = "<lsql><q>select 'caf\xC3\xA9' as s</q></lsql>";
  // The runner lower-cases names; the table spells this one "Windows-1252".
  EXPECT_EQ(RunTemplate(query, {}, CsvOptions("windows-1252")).Xml, "\"caf\xE9\"\r\n");
  EXPECT_EQ(RunTemplate(query, {}, CsvOptions("latin1")).Xml, "\"caf\xE9\"\r\n");
  EXPECT_EQ(RunTemplate(query, {}, CsvOptions("utf-16")).Xml,
            std::string("\xFF\xFE\"\0c\0a\0f\0\xE9\0\"\0\r\0\n\0", 18));
  // The system encoding has no byte-order mark; the table's utf-8 has one.
  EXPECT_EQ(RunTemplate(query, {}, CsvOptions("ansi")).Xml, "\"caf\xC3\xA9\"\r\n");
  EXPECT_EQ(RunTemplate(query, {}, CsvOptions("dos")).Xml, "\"caf\xC3\xA9\"\r\n");
  EXPECT_EQ(RunTemplate(query, {}, CsvOptions("utf-8")).Xml, "\xEF\xBB\xBF\"caf\xC3\xA9\"\r\n");

  const TResult unknown = RunTemplate(query, {}, CsvOptions("no-such-charset"));
  EXPECT_EQ(unknown.Error, "Unknown encoding \"no-such-charset\"");
  EXPECT_EQ(unknown.Xml, "");

  TXTransformInfo xml = XmlOptions();
  xml.Encoding = "ANSI";
  EXPECT_EQ(RunTemplate(query, {}, xml).Xml,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><morvex_data><q><r><s>caf\xC3\xA9</s></r>"
            "</q></morvex_data>");
  xml.Encoding = "bogus";
  EXPECT_EQ(RunTemplate(query, {}, xml).Error, "Unknown encoding \"bogus\"");
}

}  // namespace
}  // namespace morvex
