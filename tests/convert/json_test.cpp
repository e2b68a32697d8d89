#include <gtest/gtest.h>
#include <unistd.h>

#include "convert/json_parser.h"
#include "convert/json_path.h"
#include "convert/json_writer.h"
#include "tests/convert/convert_test_util.h"
#include "text/encoding.h"

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
      {"[99999999999999999999]", "[1E20]"},
      {"[87777000100133.6, 87777000100133.60318, -0.5, 1.]",
       "[87777000100133.6,87777000100133.6,-0.5,1]"},
      {"[0.00001, 123456789012345678.5]", "[1E-5,1.23456789012346E17]"},
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
  EXPECT_EQ(JsonDoubleText(0.1 + 0.2), "0.3");
  // Negative zero reads back the same way it is written (found by fuzzing).
  EXPECT_EQ(JsonDoubleText(-0.0), "0");
  EXPECT_EQ(Rewrite("[-.0,-0,-0e0]", false), "[0,0,0]");
  EXPECT_EQ(Rewrite(Rewrite("[-.0]", false), false), "[0]");
  EXPECT_EQ(JsonCurrencyText(15000), "1.5");
  EXPECT_EQ(JsonCurrencyText(-1), "-0.0001");
  EXPECT_EQ(JsonCurrencyText(20000), "2");
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

TEST(JsonPath, Selection) {
  TMemoryStream in("{\"orders\":[{\"id\":1,\"items\":[\"a\",\"b\"]},{\"id\":2}],\"x.y\":1}");
  const auto document = ParseJsonInput(in);
  ASSERT_TRUE(document);
  const auto select = [&](std::string_view path) -> std::string {
    const TSuperObject* value = SelectJsonPath(*document, *document->Root(), path);
    if (!value) return "none";
    std::string text;
    AppendJsonText(*document, *value, false, text);
    return text;
  };
  EXPECT_EQ(select("orders[0].items"), "[\"a\",\"b\"]");
  EXPECT_EQ(select("orders[0].items[1]"), "\"b\"");
  EXPECT_EQ(select("orders[1].id"), "2");
  EXPECT_EQ(select(".orders[1]"), "{\"id\":2}");
  EXPECT_EQ(select("")[0], '{');
  EXPECT_EQ(select("orders[2]"), "none");
  EXPECT_EQ(select("orders[x]"), "none");
  EXPECT_EQ(select("orders[]"), "none");
  EXPECT_EQ(select("orders.id"), "none");
  EXPECT_EQ(select("missing"), "none");
}

TEST(JPathTransform, WritesTheSelection) {
  TConversionRun run("{\"b\":[1,{\"c\":'x'}],\"a\":true}");
  run.Options.Content = "b[1]";
  ASSERT_TRUE(JPathTransform(run.Source, run.Destination, run.Options, run.Message));
  EXPECT_EQ(run.Result(), std::string(kUtf8Mark) + "{\"c\":\"x\"}");

  TConversionRun whole("{\"b\":[1,{\"c\":'x'}],\"a\":true}");
  whole.Options.Content = "";
  whole.Options.Encoding = "iso-8859-1";
  ASSERT_TRUE(JPathTransform(whole.Source, whole.Destination, whole.Options, whole.Message));
  EXPECT_EQ(whole.Result(), "{\"a\":true,\"b\":[1,{\"c\":\"x\"}]}");

  TConversionRun list("{\"b\":[1,2],\"a\":true}");
  list.Options.Content = "a\r\nb[1]\n\n";
  list.Options.Indent = true;
  ASSERT_TRUE(JPathTransform(list.Source, list.Destination, list.Options, list.Message));
  EXPECT_EQ(list.Result(), std::string(kUtf8Mark) + "[\r\n true,2]");
}

TEST(JPathTransform, Failures) {
  TConversionRun bad("{\"a\":");
  EXPECT_FALSE(JPathTransform(bad.Source, bad.Destination, bad.Options, bad.Message));
  EXPECT_EQ(bad.Message,
            "Cannot convert XML document to JSON! orders, line 1, column 6: unexpected end of the "
            "input");
  EXPECT_EQ(bad.Result(), "");

  TConversionRun missing("{\"a\":1}");
  missing.Options.Content = "b";
  EXPECT_FALSE(
      JPathTransform(missing.Source, missing.Destination, missing.Options, missing.Message));
  EXPECT_EQ(missing.Message, "The path b selects nothing.");
  EXPECT_EQ(missing.Result(), kUtf8Mark);
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
