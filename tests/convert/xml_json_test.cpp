#include <gtest/gtest.h>

#include "convert/json_to_csv.h"
#include "convert/json_to_xml.h"
#include "convert/json_writer.h"
#include "convert/xml_to_json.h"
#include "tests/convert/convert_test_util.h"

namespace morvex {
namespace {

using testing::kUtf8Mark;
using testing::TConversionRun;

// The packed value of an XML text in compact JSON; "none" when it fails.
std::string Packed(const std::string& xml) {
  TMemoryStream stream(xml);
  const auto document = XmlToJsonTree(stream);
  if (!document) return "none";
  std::string text;
  AppendJsonText(*document, *document->Root(), false, text);
  return text;
}

TEST(XmlToJsonTree, PackingRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"<orders><order id='1'><name>Pen</name></order><order id='2'><name>Ink</name></order>"
       "</orders>",
       "{\"order\":[{\"@id\":\"1\",\"name\":\"Pen\"},{\"@id\":\"2\",\"name\":\"Ink\"}]}"},
      {"<r><item id=\"5\">Pen</item></r>", "{\"item\":{\"@id\":\"5\",\"item\":\"Pen\"}}"},
      {"<r><a/><b x='1'/><c></c></r>", "{\"b\":{\"@x\":\"1\"}}"},
      {"<r><one>1</one></r>", "{\"one\":\"1\"}"},
      {"<root>only text</root>", "{\"#name\":\"root\",\"#text\":\"only text\"}"},
      {"<root/>", "{}"},
      {"<r a='1'>t</r>", "{\"@a\":\"1\",\"r\":\"t\"}"},
      {"<r>one<x>1</x>two</r>", "{\"#text\":[\"one\",\"two\"],\"x\":\"1\"}"},
      {"<r><p>a<!-- c -->b</p></r>", "{\"p\":[\"a\",\"b\"]}"},
      {"<r><p>a<!-- c -->b</p><p>c</p></r>", "{\"p\":[\"a\",\"b\",\"c\"]}"},
      {"<r><p>t<x>1</x></p></r>", "{\"p\":{\"p\":\"t\",\"x\":\"1\"}}"},
      {"<r>\n  <t>  two\n   lines  \r\n here </t>\n</r>", "{\"t\":\"two lines here\"}"},
      {"<r><t><![CDATA[ <raw>\n ]]></t></r>", "{\"t\":\" <raw>\n \"}"},
      {"<r><t>&lt;&amp;&gt;&quot;&apos;&#65;&#x42;</t></r>", "{\"t\":\"<&>\\\"'AB\"}"},
      {"<?xml version='1.0'?><?pi x?><r><a>1</a></r><!-- end -->", "{\"a\":\"1\"}"},
      {"<r><a>1</a><b>2</b><a>3</a></r>", "{\"a\":[\"1\",\"3\"],\"b\":\"2\"}"},
      {"<r x='a&amp;b\tc'/>", "{\"@x\":\"a&b c\"}"},
      // White space written as a reference is content: the CR the writers
      // write as "&#13;" before a line break stays, and so do blanks and tabs
      // at the ends of a text; literal white space follows the text rules.
      {"<r><t>a&#13;\n  b</t><u>&#32;x&#9;</u><v> y&#10;\t</v></r>",
       "{\"t\":\"a\r b\",\"u\":\" x\t\",\"v\":\"y\n\t\"}"},
      {"<r><t>a &amp; b\n &lt;c&gt; </t><u>x&#x20; \r\n y</u></r>",
       "{\"t\":\"a & b <c>\",\"u\":\"x  y\"}"},
      {"<r a='x&#10;y&#9;' b='1&#13;&#10;2'/>", "{\"@a\":\"x y \",\"@b\":\"1  2\"}"},
      // Namespace declarations are attributes as written.
      {"<x:r xmlns:x='urn:x' xmlns='urn:d' a='1'><x:b>t</x:b><c>u</c></x:r>",
       "{\"@a\":\"1\",\"@xmlns\":\"urn:d\",\"@xmlns:x\":\"urn:x\",\"c\":\"u\",\"x:b\":\"t\"}"},
      {"<r><t><![CDATA[a\r\nb]]></t><e><![CDATA[]]></e></r>", "{\"e\":\"\",\"t\":\"a\r\nb\"}"},
  };
  for (const auto& [xml, json] : cases) EXPECT_EQ(Packed(xml), json) << xml;
}

TEST(XmlToJsonTree, MalformedInputGivesNone) {
  for (const char* xml :
       {"", "text only", "<r>", "<r></s>", "<r a='1' a='2'/>", "<r>&bad;</r>", "<r/><s/>",
        "<r/>tail", "<r a=1/>", "<r><!-- open</r>", "<r>&#xZZ;</r>"}) {
    EXPECT_EQ(Packed(xml), "none") << xml;
  }
  TMemoryStream stream("<r>\n<a>&nope;</a></r>");
  std::string error;
  EXPECT_EQ(XmlToJsonTree(stream, &error), nullptr);
  EXPECT_EQ(error, "line 2, column 10: Entity 'nope' not defined");
}

// A document type declaration is refused as by every other XML reader, with
// the same reason, whether it holds declarations or names an external DTD.
TEST(XmlToJsonTree, DtdIsProhibited) {
  for (const char* xml : {"<?xml version='1.0'?><!DOCTYPE r [<!ELEMENT r ANY>]><r><a>1</a></r>",
                          "<!DOCTYPE r SYSTEM 'r.dtd'><r/>", "<!DOCTYPE r><r/>",
                          "<!DOCTYPE r [<!ENTITY e 'x'>]><r>&e;</r>"}) {
    TMemoryStream stream(xml);
    std::string error;
    EXPECT_EQ(XmlToJsonTree(stream, &error), nullptr) << xml;
    EXPECT_NE(error.find(": DTD is prohibited."), std::string::npos) << error;
  }
  TConversionRun run("<!DOCTYPE d [<!ENTITY big 'x'>]><d>&big;</d>");
  EXPECT_FALSE(run.Runs([&] { XmlToJson(run.Source, run.Destination, run.Options); }));
  EXPECT_EQ(run.Message,
            "Cannot convert XML document to JSON! orders, line 1, column 13: DTD is prohibited.");
}

TEST(XmlToJsonTree, DeepNestingFailsCleanly) {
  std::string xml;
  for (int i = 0; i < 100000; ++i) xml += "<a>";
  EXPECT_EQ(Packed(xml), "none");
  std::string closed;
  for (int i = 0; i < 100000; ++i) closed += "<a>";
  for (int i = 0; i < 100000; ++i) closed += "</a>";
  EXPECT_EQ(Packed(closed), "none");
  std::string fine;
  for (int i = 0; i < 500; ++i) fine += "<a>";
  fine += "<b>x</b>";
  for (int i = 0; i < 500; ++i) fine += "</a>";
  EXPECT_NE(Packed(fine), "none");
}

// Repeated elements add an array to each level of the packed value: XML
// every reader accepts can pack into JSON deeper than any reader accepts,
// which is refused, naming the limit.
TEST(XmlToJsonTree, PackedValueKeepsTheReadersNestingLimit) {
  const auto pairs = [](int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<i><i>z</i>";
    for (int i = 0; i < depth; ++i) xml += "</i>";
    return xml;
  };
  EXPECT_NE(Packed(pairs(1000)), "none");
  TConversionRun run(pairs(1100));
  EXPECT_FALSE(run.Runs([&] { XmlToJson(run.Source, run.Destination, run.Options); }));
  EXPECT_EQ(run.Message,
            "Cannot convert XML document to JSON! orders, its JSON would nest deeper than 2048 "
            "levels, more than any reader accepts.");
  std::string open;
  for (int i = 0; i < 2049; ++i) open += "<a>";
  TConversionRun deep(open);
  EXPECT_FALSE(deep.Runs([&] { XmlToJson(deep.Source, deep.Destination, deep.Options); }));
  EXPECT_EQ(deep.Message,
            "Cannot convert XML document to JSON! orders, line 1, column 6147: the document nests "
            "deeper than 2048 levels");
}

TEST(XmlToJsonTree, Decoding) {
  // Without a mark, a declared encoding from the table decodes the text.
  EXPECT_EQ(Packed("<?xml version='1.0' encoding='ISO-8859-2'?><r><a>\xB5</a></r>"),
            "{\"a\":\"\xC4\xBE\"}");
  // So does any other the writers write: the bytes C3 A4 are two letters in
  // windows-1250, and koi8-r text keeps its Cyrillic letters.
  EXPECT_EQ(Packed("<?xml version='1.0' encoding='windows-1250'?><r><a>\xC3\xA4</a></r>"),
            "{\"a\":\"\xC4\x82\xC2\xA4\"}");
  EXPECT_EQ(Packed("<?xml version=\"1.0\" encoding=\"koi8-r\"?><r><t>\xE1\xD2\xD5\xC2\xC1</t></r>"),
            "{\"t\":\"\xD0\x90\xD1\x80\xD1\x83\xD0\xB1\xD0\xB0\"}");
  EXPECT_EQ(Packed("\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?><r><a>\xC3\xA4</a></r>"),
            "{\"a\":\"\xC3\xA4\"}");
  // A byte-order mark settles the encoding, as for every XML reader.
  EXPECT_EQ(Packed("\xEF\xBB\xBF<?xml version='1.0' encoding='iso-8859-2'?><r/>"), "{}");
  const auto utf16 = [](std::string_view ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
  };
  EXPECT_EQ(Packed(utf16("<r>\xE4</r>")), "{\"#name\":\"r\",\"#text\":\"\xC3\xA4\"}");
  EXPECT_EQ(Packed(utf16("<?xml version='1.0' encoding='unicode'?><r/>")), "{}");
  EXPECT_EQ(Packed(utf16("<?xml version='1.0' encoding='utf-8'?><r/>")), "{}");
  // A declaration without its version is malformed.
  EXPECT_EQ(Packed(utf16("<?xml encoding='utf-8'?><r/>")), "none");
}

TEST(XmlToJson, WritesThePackedValue) {
  TConversionRun run("<d><r id='1'><n>a</n></r></d>");
  run.Options.Indent = true;
  ASSERT_TRUE(run.Runs([&] { XmlToJson(run.Source, run.Destination, run.Options); }));
  EXPECT_EQ(run.Result(), std::string(kUtf8Mark) +
                              "{\r\n \"r\": {\r\n  \"@id\": \"1\",\r\n  \"n\": \"a\"\r\n }\r\n}");
  TConversionRun bad("<d>");
  EXPECT_FALSE(bad.Runs([&] { XmlToJson(bad.Source, bad.Destination, bad.Options); }));
  EXPECT_EQ(bad.Message,
            "Cannot convert XML document to JSON! orders, line 1, column 4: Premature end of data "
            "in tag d");
}

std::string JsonXml(const std::string& json, bool indent = false, std::string recordTag = "",
                    std::string namespaces = "") {
  TConversionRun run(json);
  run.Options.Indent = indent;
  run.Options.RecordTag = recordTag;
  run.Options.Namespaces = namespaces;
  if (!run.Runs([&] { JsonToXml(run.Source, run.Destination, run.Options); })) return run.Message;
  const std::string prefix = std::string(kUtf8Mark) + "<?xml version=\"1.0\"?>";
  EXPECT_EQ(run.Result().substr(0, prefix.size()), prefix);
  return run.Result().substr(prefix.size());
}

TEST(JsonToXml, RootChoice) {
  EXPECT_EQ(JsonXml("{\"order\":{\"@id\":5,\"b\":\"x\",\"a\":[1,2]}}"),
            "<order id=\"5\"><a>1</a><a>2</a><b>x</b></order>");
  EXPECT_EQ(JsonXml("{\"a\":1,\"b\":null}"), "<morvex_data><a>1</a></morvex_data>");
  EXPECT_EQ(JsonXml("{\"a\":[1,2]}"), "<morvex_data><a>1</a><a>2</a></morvex_data>");
  EXPECT_EQ(JsonXml("{}"), "<morvex_data></morvex_data>");
  EXPECT_EQ(JsonXml("[{\"id\":1},{\"id\":2}]"),
            "\r\n<morvex_data ><r><id>1</id></r><r><id>2</id></r>\r\n</morvex_data>");
  EXPECT_EQ(JsonXml("\"s<&>\\\"\""), "<morvex_data>s&lt;&amp;&gt;&quot;</morvex_data>");
  EXPECT_EQ(JsonXml("{\"x\":\"abc\"}"), "<x>abc</x>");
  EXPECT_EQ(JsonXml("null"), "");
}

TEST(JsonToXml, IndentationLevels) {
  EXPECT_EQ(JsonXml("{\"x\":\"abc\"}", true), "\r\n<x>\r\n\tabc\r\n</x>");
  EXPECT_EQ(JsonXml("{\"a\":{\"b\":1,\"c\":{\"d\":true}}}", true),
            "\r\n<a>\r\n\t<b>\r\n\t\t1\r\n\t</b>\r\n\t<c>\r\n\t\t<d>\r\n\t\t\ttrue\r\n\t\t</d>"
            "\r\n\t</c>\r\n</a>");
  EXPECT_EQ(JsonXml("[{\"id\":1}]", true),
            "\r\n<morvex_data >\r\n\t<r>\r\n\t\t<id>\r\n\t\t\t1\r\n\t\t</id>\r\n\t</r>\r\n"
            "</morvex_data>");
}

TEST(JsonToXml, RecordTagAndRootAttributes) {
  EXPECT_EQ(JsonXml("{\"d\":{\"rows\":[{\"a\":1}]}}", false, "d.rows", "xmlns:x='urn:x'"),
            "\r\n<morvex_data xmlns:x=\"urn:x\"><r><a>1</a></r>\r\n</morvex_data>");
  EXPECT_EQ(JsonXml("{\"a\":{\"b\":1}}", false, "", "x='1'"), "<a x=\"1\"><b>1</b></a>");
  EXPECT_EQ(JsonXml("{\"a\":1}", false, "missing"), "");
}

TEST(JsonToXml, OutputEncodingAndFailures) {
  TConversionRun run("{\"t\":\"\xC4\x9B\xE2\x82\xAC\"}");
  run.Options.Encoding = "iso-8859-2";
  ASSERT_TRUE(run.Runs([&] { JsonToXml(run.Source, run.Destination, run.Options); }));
  EXPECT_EQ(run.Result(), "<?xml version=\"1.0\" encoding=\"iso-8859-2\"?><t>\xEC&#8364;</t>");

  EXPECT_EQ(JsonXml("{\"a\":"),
            "Cannot convert XML document to JSON! orders, line 1, column 6: unexpected end of the "
            "input");
  EXPECT_EQ(JsonXml("{\"a b\":1,\"c\":2}"), "The member name \"a b\" is not a valid XML name.");
  // Names follow XML's own rules beyond ASCII too: "×" is no name character.
  EXPECT_EQ(JsonXml("{\"a\u00D7\":1}"), "The member name \"a\xC3\x97\" is not a valid XML name.");
  EXPECT_EQ(JsonXml("{\"a\":\"x\\u0001y\"}"), "<a>x\xEF\xBF\xBDy</a>");
}

TEST(JsonXmlRoundTrip, DatasetLayoutSurvives) {
  const std::string json =
      "[{\"id\":\"1\",\"text\":\"quote \\\" and ; semicolon\"},{\"id\":\"2\",\"text\":\"line\\r\\n"
      "break \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD\"}]";
  TConversionRun toXml(json);
  ASSERT_TRUE(toXml.Runs([&] { JsonToXml(toXml.Source, toXml.Destination, toXml.Options); }));
  TConversionRun back(toXml.Result());
  ASSERT_TRUE(back.Runs([&] { XmlToJson(back.Source, back.Destination, back.Options); }));
  // Line breaks inside text become one space in the packed form.
  EXPECT_EQ(back.Result(),
            std::string(kUtf8Mark) +
                "{\"r\":[{\"id\":\"1\",\"text\":\"quote \\\" and ; semicolon\"},{\"id\":\"2\","
                "\"text\":\"line break \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD\"}]}");
}

std::string JsonCsv(TConversionRun& run) {
  EXPECT_TRUE(run.Runs([&] {
    JsonToCsv(run.Source, run.Destination, run.Options, run.Progress());
  })) << run.Message;
  return run.Result().substr(3);
}

TEST(JsonToCsv, RecordsAndCells) {
  TConversionRun run(
      "{\"orders\":[{\"id\":1,\"name\":\"a\\\"b\",\"x\":null,\"o\":{\"k\":1},\"ok\":true},"
      "{\"id\":2.5,\"name\":\"c\",\"extra\":\"e\"},[],5]}");
  EXPECT_EQ(JsonCsv(run),
            "\"extra\";\"id\";\"name\";\"o\";\"ok\"\r\n\"\";\"1\";\"a\"\"b\";\"\";\"true\"\r\n"
            "\"e\";\"2.5\";\"c\";\"\";\"\"\r\n");
  EXPECT_EQ(run.Lines, (std::vector<std::string>{"2 record(s) processed."}));
}

TEST(JsonToCsv, ArrayRecordsAndOptions) {
  TConversionRun arrays("[[1,[2],null,{\"a\":1},\"s\"],[3]]");
  EXPECT_EQ(JsonCsv(arrays),
            "\"1\";\"col_2\";\"col_3\";\"4\"\r\n"
            "\"1\";\"\";\"\";\"s\"\r\n\"3\";\"\";\"\";\"\"\r\n");

  TConversionRun json("{\"a\":{\"r1\":[1,{\"x\":[true]}],\"r0\":{\"k\":\"v\"}},\"b\":1}");
  json.Options.RecordTag = "a";
  json.Options.HeaderRow = false;
  json.Options.FlatText = false;
  json.Options.Delimiter = ",";
  json.Options.Quote = "'";
  // Member columns first, then positions: "k", 1, 2.
  EXPECT_EQ(JsonCsv(json), "'v','',''\r\n'','1','{\"x\":[true]}'\r\n");

  TConversionRun none("{\"a\":1}");
  none.Options.RecordTag = "nothing";
  EXPECT_EQ(JsonCsv(none), "");
  EXPECT_EQ(none.Lines, (std::vector<std::string>{"0 record(s) processed."}));
}

// Members that come and go keep their columns: the header is every name
// some record has with a value that is not null, in key order, and each
// line has one cell per column.
TEST(JsonToCsv, MembersThatComeAndGoKeepTheirColumns) {
  TConversionRun run(
      "[{\"id\":1,\"last_login\":null,\"name\":\"a\"},"
      "{\"id\":2,\"last_login\":\"2024-05-01\",\"name\":\"b\"},"
      "{\"zip\":\"602\",\"Name\":\"c\"},{\"gone\":null},{\"\u00e9\":1,\"z\":2}]");
  EXPECT_EQ(JsonCsv(run),
            "\"Name\";\"id\";\"last_login\";\"name\";\"z\";\"zip\";\"\xC3\xA9\"\r\n"
            "\"\";\"1\";\"\";\"a\";\"\";\"\";\"\"\r\n"
            "\"\";\"2\";\"2024-05-01\";\"b\";\"\";\"\";\"\"\r\n"
            "\"c\";\"\";\"\";\"\";\"\";\"602\";\"\"\r\n"
            "\"\";\"\";\"\";\"\";\"2\";\"\";\"1\"\r\n");
  EXPECT_EQ(run.Lines, (std::vector<std::string>{"4 record(s) processed."}));
}

// Without a record tag, the member values of a root with several members
// are the records; when none gives a cell the records are one level down,
// and the conversion says so instead of writing an empty file.
TEST(JsonToCsv, RootOfSeveralMembersWithoutRecordsNeedsARecordTag) {
  for (const char* json : {"{\"count\":2,\"items\":null,\"next\":\"x\"}", "{\"a\":[],\"b\":{}}"}) {
    TConversionRun run(json);
    EXPECT_FALSE(
        run.Runs([&] { JsonToCsv(run.Source, run.Destination, run.Options, run.Progress()); }));
    EXPECT_EQ(run.Message, std::string("record-tag is needed: the root holds ") +
                               (json[2] == 'c' ? "3" : "2") + " members");
    EXPECT_EQ(run.Result(), "");
  }
  // Records keyed by id are member values that give cells.
  TConversionRun keyed("{\"7\":{\"n\":\"a\"},\"9\":{\"n\":\"b\"}}");
  EXPECT_EQ(JsonCsv(keyed), "\"n\"\r\n\"a\"\r\n\"b\"\r\n");
  TConversionRun empty("{}");
  EXPECT_EQ(JsonCsv(empty), "");
}

TEST(JsonToCsv, ProgressAndFailure) {
  std::string json = "[";
  for (int i = 0; i < 10000; ++i) json += (i ? ",[" : "[") + std::to_string(i) + "]";
  json += "]";
  TConversionRun run(json);
  run.Options.HeaderRow = false;
  JsonCsv(run);
  EXPECT_EQ(run.Lines, (std::vector<std::string>{"10000 records processed ...",
                                                 "10000 record(s) processed."}));
  TConversionRun bad("[1,");
  EXPECT_FALSE(
      bad.Runs([&] { JsonToCsv(bad.Source, bad.Destination, bad.Options, bad.Progress()); }));
  EXPECT_EQ(bad.Message,
            "Cannot convert XML document to JSON! orders, line 1, column 4: unexpected end of the "
            "input");
  EXPECT_TRUE(bad.Lines.empty());
}

}  // namespace
}  // namespace morvex
