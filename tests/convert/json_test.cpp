#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <random>

#include "convert/json_parser.h"
#include "convert/json_path.h"
#include "convert/json_to_csv.h"
#include "convert/json_to_xml.h"
#include "convert/json_writer.h"
#include "tests/convert/convert_test_util.h"
#include "text/encoding.h"
#include "text/error.h"
#include "xml/xml_document.h"

namespace morvex {
namespace {

using testing::kUtf8Mark;
using testing::TConversionRun;

// The compact (or indented) text of a parsed input; "none" when it fails.
std::string Rewrite(const std::string& input, bool indent = false) {
  TMemoryStream stream(input);
  const auto document = ParseJsonInput(stream);
  if (!document) return "none";
  std::string text;
  AppendJsonText(*document, *document->Root(), indent, text);
  return text;
}

TEST(JsonReader, RelaxedSyntax) {
  const std::pair<const char*, const char*> cases[] = {
      {"{\"b\":1,\"a\":2,\"B\":3}", "{\"B\":3,\"a\":2,\"b\":1}"},
      {"{\"#x\":1,\"@y\":2,\"Z\":3,\"z\":4,\"\":5}", "{\"\":5,\"#x\":1,\"@y\":2,\"Z\":3,\"z\":4}"},
      {"{ab:1, 'c d':'e', iso-8859-2: 28592}", "{\"ab\":1,\"c d\":\"e\",\"iso-8859-2\":28592}"},
      {"{\"k\":1,\"k\":2}", "{\"k\":2}"},
      {"{\"n\":null}", "{\"n\":null}"},
      {"/* lead */ [1, // one\n 2 /* two */]\n// end", "[1,2]"},
      {"[\"\\b\\f\\n\\r\\t\\u0041\\x42\\q\\/\\'\"]", "[\"\b\f\n\r\tABq/'\"]"},
      {"['it''s']", "none"},
      {"['say \"hi\"']", "[\"say \\\"hi\\\"\"]"},
      {"[\"a\\\\b\", \"\\u0000\"]", "[\"a\\\\b\",\"\\u0000\"]"},
      {"[\"\\ud83d\\ude00\"]", "[\"\xF0\x9F\x98\x80\"]"},
      {"[\"\\u12\"]", "none"},
      {"[\"\\x4\"]", "none"},
      {"[true,false,null]", "[true,false,null]"},
      {"[True]", "none"},
      {"[nulls]", "none"},
      {"[1,-2,1.5,1.25,-0.0001,1.00001,1e3,2E-2,9223372036854775807]",
       "[1,-2,1.5,1.25,-0.0001,1.00001,1000,0.02,9223372036854775807]"},
      {"[99999999999999999999]", "[99999999999999999999]"},
      {"[87777000100133.6, 87777000100133.60318, -0.5, 1.]",
       "[87777000100133.6,87777000100133.61,-0.5,1]"},
      {"[0.00001, 123456789012345678.5]", "[1E-5,1.2345678901234568E17]"},
      {"[1.2.3]", "none"},
      {"\b\f[1]", "[1]"},
      {"", "none"},
      {"[1,]", "none"},
      {"[1] x", "none"},
      {"{\"a\" 1}", "none"},
      {"\"\xC3\xA4\"", "\"\xC3\xA4\""},
  };
  for (const auto& [input, output] : cases) EXPECT_EQ(Rewrite(input), output) << input;
}

// The limit of every reader, XML and JSON alike: what XML to JSON writes from
// the deepest XML any reader accepts reads back.
TEST(JsonReader, NestingLimitIsTheReadersLimit) {
  EXPECT_NE(Rewrite(std::string(2048, '[') + std::string(2048, ']')), "none");
  EXPECT_EQ(Rewrite(std::string(2049, '[') + std::string(2049, ']')), "none");
  EXPECT_EQ(Rewrite(std::string(100000, '[') + std::string(100000, ']')), "none");
  std::string objects;
  for (int i = 0; i < 2049; ++i) objects += "{\"a\":";
  objects += "1" + std::string(2049, '}');
  TMemoryStream stream(objects);
  std::string error;
  EXPECT_EQ(ParseJsonInput(stream, &error), nullptr);
  EXPECT_EQ(error, "line 1, column 10241: the document nests deeper than 2048 levels");
}

TEST(JsonReader, ErrorsNameLineAndColumn) {
  TMemoryStream stream("{\n  \"a\": [1,\n  2 3]}");
  std::string error;
  EXPECT_EQ(ParseJsonInput(stream, &error), nullptr);
  EXPECT_EQ(error, "line 3, column 6: ',' or ']' expected in an array");
}

TEST(JsonReader, DecodesByByteOrderMark) {
  // Without a mark the text is UTF-8: one character for the two bytes of ä.
  EXPECT_EQ(Rewrite("[\"\xC3\xA4\"]"), "[\"\xC3\xA4\"]");
  EXPECT_EQ(Rewrite("\xEF\xBB\xBF[\"\xC3\xA4\"]"), "[\"\xC3\xA4\"]");
  EXPECT_EQ(Rewrite(std::string("\xFF\xFE[\0\"\0\xE4\0\"\0]\0", 12)), "[\"\xC3\xA4\"]");
  EXPECT_EQ(Rewrite(std::string("\xFE\xFF\0[\0\"\0\xE4\0\"\0]", 12)), "[\"\xC3\xA4\"]");
}

TEST(JsonWriter, IndentedLayout) {
  EXPECT_EQ(Rewrite("{\"a\":1,\"b\":[1,2]}", true), "{\r\n \"a\": 1,\r\n \"b\": [\r\n  1,2]\r\n}");
  EXPECT_EQ(Rewrite("{\"o\":{},\"e\":[],\"x\":{\"y\":[{\"z\":\"s\"}]}}", true),
            "{\r\n \"e\": [],\r\n \"o\": {},\r\n \"x\": {\r\n  \"y\": [\r\n   {\r\n    \"z\": "
            "\"s\"\r\n   }]\r\n }\r\n}");
  EXPECT_EQ(Rewrite("[]", true), "[]");
  EXPECT_EQ(Rewrite("\"line\nbreak\"", true), "\"line\nbreak\"");
}

TEST(JsonWriter, NumberTexts) {
  EXPECT_EQ(JsonDoubleText(1.5), "1.5");
  EXPECT_EQ(JsonDoubleText(1e20), "1E20");
  EXPECT_EQ(JsonDoubleText(-2.5e-7), "-2.5E-7");
  EXPECT_EQ(JsonDoubleText(0.1 + 0.2), "0.30000000000000004");
  // Negative zero reads back the same way it is written (found by fuzzing).
  EXPECT_EQ(JsonDoubleText(-0.0), "0");
  EXPECT_EQ(Rewrite("[-.0,-0,-0e0]", false), "[0,0,0]");
  EXPECT_EQ(Rewrite(Rewrite("[-.0]", false), false), "[0]");
  EXPECT_EQ(JsonCurrencyText(15000), "1.5");
  EXPECT_EQ(JsonCurrencyText(-1), "-0.0001");
  EXPECT_EQ(JsonCurrencyText(20000), "2");
}

TEST(JsonNumbers, IntegersKeepTheirDigits) {
  const std::string digits400 = "1" + std::string(399, '7');
  const std::pair<std::string, std::string> cases[] = {
      {"{\"id\":12345678901234567890}", "{\"id\":12345678901234567890}"},
      {"[9223372036854775807,9223372036854775808,-9223372036854775808,-9223372036854775809]",
       "[9223372036854775807,9223372036854775808,-9223372036854775808,-9223372036854775809]"},
      {"[-98765432109876543210987654321,000012345678901234567890123,007,-0]",
       "[-98765432109876543210987654321,12345678901234567890123,7,0]"},
      {"[" + digits400 + "]", "[" + digits400 + "]"},
  };
  for (const auto& [input, output] : cases) EXPECT_EQ(Rewrite(input), output) << input;
}

TEST(JsonNumbers, DoublesTakeTheShortestTextThatReadsBack) {
  const std::pair<const char*, const char*> cases[] = {
      {"[3.141592653589793,0.30000000000000004,2.718281828459045e-10,1.7976931348623157e308]",
       "[3.141592653589793,0.30000000000000004,2.718281828459045E-10,1.7976931348623157E308]"},
      // Short decimals are written as they always were.
      {"[0.12345,1.5e-4,1e5,1e15,123456789012345.6,-2.5E-7,5e-324]",
       "[0.12345,0.00015,100000,1E15,123456789012345.6,-2.5E-7,5E-324]"},
      // Beyond the range of a double the number keeps its text.
      {"[1e400,-1.50e+0400,-.5e-400,1.e400,00.0e-0400,0e-999]",
       "[1E400,-1.50E400,-0.5E-400,1E400,0,0]"},
      {"[1e400x]", "none"},
      {"[1e+-5,--1,1-2]", "none"},
  };
  for (const auto& [input, output] : cases) EXPECT_EQ(Rewrite(input), output) << input;

  // Any double: its text reads back to the same double, and written again
  // gives the same text.
  std::mt19937_64 random(19);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = JsonDoubleText(value);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), value == 0 ? 0 : value) << text;
    ASSERT_EQ(Rewrite(text), text);
  }
}

TEST(JsonWriter, EncodingsAndUtf16) {
  TMemoryStream in("{\"k\":\"\xC3\xA4\xE2\x82\xAC\"}");
  const auto document = ParseJsonInput(in);
  ASSERT_TRUE(document);
  TMemoryStream utf16;
  WriteJsonOutput(*document, *document->Root(), utf16, EncodingForName("unicode"), false);
  EXPECT_EQ(utf16.Data(), std::string("{\0\"\0k\0\"\0:\0\"\0\xE4\0\xAC\x20\"\0}\0", 20));
  TMemoryStream latin;
  WriteJsonOutput(*document, *document->Root(), latin, EncodingForName("iso-8859-1"), false);
  EXPECT_EQ(latin.Data(), "{\"k\":\"\xE4?\"}");
}

TEST(JsonValue, KeysSortByUtf16CodeUnits) {
  // U+FF5E sorts after U+1F600 in UTF-16 (a surrogate is below U+E000).
  EXPECT_EQ(Rewrite("{\"\xEF\xBD\x9E\":1,\"\xF0\x9F\x98\x80\":2,\"ab\":3,\"a\":4}"),
            "{\"a\":4,\"ab\":3,\"\xF0\x9F\x98\x80\":2,\"\xEF\xBD\x9E\":1}");
}

// The compact text of what `path` selects in `json`; "none" for nothing.
std::string Selected(const std::string& json, std::string_view path) {
  TMemoryStream in(json);
  const auto document = ParseJsonInput(in);
  if (!document) return "unparsed";
  const TSuperObject* value = SelectJsonPath(*document, *document->Root(), path);
  if (!value) return "none";
  std::string text;
  AppendJsonText(*document, *value, false, text);
  return text;
}

TEST(JsonPath, Selection) {
  const auto select = [](std::string_view path) {
    return Selected("{\"orders\":[{\"id\":1,\"items\":[\"a\",\"b\"]},{\"id\":2}],\"x.y\":1}", path);
  };
  EXPECT_EQ(select("orders[0].items"), "[\"a\",\"b\"]");
  EXPECT_EQ(select("orders[0].items[1]"), "\"b\"");
  EXPECT_EQ(select("orders[1].id"), "2");
  EXPECT_EQ(select(".orders[1]"), "{\"id\":2}");
  EXPECT_EQ(select("")[0], '{');
  EXPECT_EQ(select("orders[2]"), "none");
  EXPECT_THROW(select("orders[x]"), EMorvexError);
  EXPECT_THROW(select("orders[]"), EMorvexError);
  EXPECT_EQ(select("orders.id"), "none");
  EXPECT_EQ(select("missing"), "none");
}

TEST(JsonPath, SyntaxOfOtherDialectsIsRefused) {
  const std::pair<const char*, const char*> cases[] = {
      {"orders[*]", "[*]"},
      {"orders[-1]", "[-1]"},
      {"orders[?(@.id>1)].id", "[?(@.id>1)]"},
      {"orders[?(@.a[0]>1)]", "[?(@.a[0]>1)]"},
      {"orders[0,1]", "[0,1]"},
      {"orders['id']", "['id']"},
      {"orders[1:]", "[1:]"},
      {"orders[ 0 ]", "[ 0 ]"},
      {"missing[*]", "[*]"},
      {"orders[0", "[0"},
      {"$.orders[0]", "$"},
      {"$[0]", "$"},
      {"orders..id", ".."},
      {"..id", ".."},
      {"orders[0].*", ".*"},
      {"*", "*"},
  };
  for (const auto& [path, syntax] : cases) {
    try {
      Selected("{\"orders\":[{\"id\":1},{\"id\":2}]}", path);
      ADD_FAILURE() << path << " was not refused";
    } catch (const EMorvexError& error) {
      EXPECT_EQ(error.what(), std::string("The path ") + path +
                                  " uses syntax JSON path does not support: " + syntax);
    }
  }
}

TEST(JsonPath, MemberNamesThatLookLikeOtherSyntaxStillSelect) {
  const std::string json = "{\"$\":{\"*\":[\"a\",\"b\"]},\"\":{\"x\":3},\"a]b\":4,\"@id\":5}";
  const std::pair<const char*, const char*> cases[] = {
      {"$.*[1]", "\"b\""}, {"..x", "3"},     {"a]b", "4"},
      {"@id", "5"},        {"$[0]", "none"}, {"[0]", "none"},
  };
  for (const auto& [path, selected] : cases) EXPECT_EQ(Selected(json, path), selected) << path;
}

TEST(JPathTransform, WritesTheSelection) {
  TConversionRun run("{\"b\":[1,{\"c\":'x'}],\"a\":true}");
  run.Options.Content = "b[1]";
  ASSERT_TRUE(run.Runs([&] { JPathTransform(run.Source, run.Destination, run.Options); }));
  EXPECT_EQ(run.Result(), std::string(kUtf8Mark) + "{\"c\":\"x\"}");

  TConversionRun whole("{\"b\":[1,{\"c\":'x'}],\"a\":true}");
  whole.Options.Content = "";
  whole.Options.Encoding = "iso-8859-1";
  ASSERT_TRUE(whole.Runs([&] { JPathTransform(whole.Source, whole.Destination, whole.Options); }));
  EXPECT_EQ(whole.Result(), "{\"a\":true,\"b\":[1,{\"c\":\"x\"}]}");

  TConversionRun list("{\"b\":[1,2],\"a\":true}");
  list.Options.Content = "a\r\nb[1]\n\n";
  list.Options.Indent = true;
  ASSERT_TRUE(list.Runs([&] { JPathTransform(list.Source, list.Destination, list.Options); }));
  EXPECT_EQ(list.Result(), std::string(kUtf8Mark) + "[\r\n true,2]");
}

TEST(JPathTransform, Failures) {
  TConversionRun bad("{\"a\":");
  EXPECT_FALSE(bad.Runs([&] { JPathTransform(bad.Source, bad.Destination, bad.Options); }));
  EXPECT_EQ(bad.Message,
            "Cannot convert XML document to JSON! orders, line 1, column 6: unexpected end of the "
            "input");
  EXPECT_EQ(bad.Result(), "");

  TConversionRun missing("{\"a\":1}");
  missing.Options.Content = "b";
  EXPECT_FALSE(
      missing.Runs([&] { JPathTransform(missing.Source, missing.Destination, missing.Options); }));
  EXPECT_EQ(missing.Message, "The path b selects nothing.");
  EXPECT_EQ(missing.Result(), kUtf8Mark);

  TConversionRun foreign("{\"a\":[1]}");
  foreign.Options.Content = "a\na[*]";
  EXPECT_FALSE(
      foreign.Runs([&] { JPathTransform(foreign.Source, foreign.Destination, foreign.Options); }));
  EXPECT_EQ(foreign.Message, "The path a[*] uses syntax JSON path does not support: [*]");
}

// Every conversion writes a number with the digits the writer gives it.
TEST(JsonNumbers, ConversionsKeepTheDigits) {
  const std::string input =
      "[{\"id\":12345678901234567890,\"pi\":3.141592653589793,\"big\":1e400,\"price\":12.50}]";
  TConversionRun path(input);
  path.Options.Content = "[0]";
  ASSERT_TRUE(path.Runs([&] { JPathTransform(path.Source, path.Destination, path.Options); }));
  EXPECT_EQ(path.Result(),
            std::string(kUtf8Mark) +
                "{\"big\":1E400,\"id\":12345678901234567890,\"pi\":3.141592653589793,"
                "\"price\":12.5}");

  TConversionRun xml(input);
  ASSERT_TRUE(xml.Runs([&] { JsonToXml(xml.Source, xml.Destination, xml.Options); }))
      << xml.Message;
  EXPECT_EQ(xml.Result(), std::string(kUtf8Mark) +
                              "<?xml version=\"1.0\"?>\r\n<morvex_data ><r><big>1E400</big><id>"
                              "12345678901234567890</id><pi>3.141592653589793</pi><price>12.5"
                              "</price></r>\r\n</morvex_data>");

  TConversionRun csv(input);
  ASSERT_TRUE(
      csv.Runs([&] { JsonToCsv(csv.Source, csv.Destination, csv.Options, csv.Progress()); }));
  EXPECT_EQ(csv.Result(),
            std::string(kUtf8Mark) +
                "\"big\";\"id\";\"pi\";\"price\"\r\n"
                "\"1E400\";\"12345678901234567890\";\"3.141592653589793\";\"12.5\"\r\n");
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

TEST(JsonReader, ReadsAPipeFromWhereItIs) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string text = "\xEF\xBB\xBF{\"a\":[1]}";
  ASSERT_EQ(::write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fds[1]);
  TFileStream pipe(fds[0], "pipe", true);
  const auto document = ParseJsonInput(pipe);
  ASSERT_TRUE(document);
  std::string out;
  AppendJsonText(*document, *document->Root(), false, out);
  EXPECT_EQ(out, "{\"a\":[1]}");
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

using testing::TConversionRun;

// "a" objects nested `depth` deep around the number 1.
std::string NestedObjects(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "{\"a\":";
  text += "1";
  text.append(static_cast<size_t>(depth), '}');
  return text;
}

// JSON to XML writes what the XML readers read back: as deep as they
// accept, and no deeper (array items sit two elements down, under
// morvex_data and r, one more than their JSON depth).
TEST(JsonToXmlDepth, WritesNoDeeperThanTheReadersAccept) {
  TConversionRun deepest(NestedObjects(2048));
  ASSERT_TRUE(deepest.Runs([&] {
    JsonToXml(deepest.Source, deepest.Destination, deepest.Options);
  })) << deepest.Message;
  const TXmlDocument readBack = LoadXmlText(deepest.Result().substr(3));
  EXPECT_TRUE(HasDocumentElement(readBack.get())) << GetParseError(readBack.get()).Reason;

  TConversionRun tooDeep("[" + NestedObjects(2047) + "]");
  EXPECT_FALSE(
      tooDeep.Runs([&] { JsonToXml(tooDeep.Source, tooDeep.Destination, tooDeep.Options); }));
  EXPECT_EQ(tooDeep.Message,
            "The XML output would nest deeper than 2048 levels, more than any reader accepts.");
}

}  // namespace
}  // namespace morvex
