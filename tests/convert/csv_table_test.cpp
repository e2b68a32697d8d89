#include "convert/csv_table.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "text/stream.h"

namespace morvex {
namespace {

using Rows = TArrayOfArrayOfString;

Rows Read(std::string text, std::string delimiter = ";", std::string quote = "\"") {
  TMemoryStream stream(std::move(text));
  Rows table;
  std::string message = "unset";
  EXPECT_TRUE(ReadCsvTable("", &stream, "utf-8", delimiter, quote, table, message));
  EXPECT_EQ(message, "");
  return table;
}

struct TDialectCase {
  const char* Name;
  std::string Text;
  Rows Expected;
};

TEST(CsvTable, Dialect) {
  const TDialectCase cases[] = {
      {"quoted separator and doubled quotes",
       "a;\"b;c\";\"x\"\"y\"\"z\"",
       {{"a", "b;c", "x\"y\"z"}}},
      {"text after the closing quote is dropped", "\"ab\"cd;e", {{"ab", "e"}}},
      {"an unclosed quote runs to the end", "\"ab;c", {{"ab;c"}}},
      {"short rows are filled", "a;b\r\nc;d;e\r\n", {{"a", "b", ""}, {"c", "d", "e"}}},
      {"CR LF, lone CR and lone LF end records", "a\r\nb\rc\nd", {{"a"}, {"b"}, {"c"}, {"d"}}},
      {"an empty line is one empty cell", "a;b\r\n\r\nc;d", {{"a", "b"}, {"", ""}, {"c", "d"}}},
      {"a lone CR at the end keeps the last field", "a;b\r", {{"a", "b"}}},
      {"a lone LF at the end keeps the last field", "a;b\n", {{"a", "b"}}},
      {"control characters outside quotes are ignored", "a\tb\x01;c", {{"ab", "c"}}},
      {"quoted cells keep line ends and TABs",
       "\"1\r\n2\n3\t4\";x\r\ny",
       {{"1\r\n2\n3\t4", "x"}, {"y", ""}}},
      {"a stray quote inside a cell ends with its line",
       "ab\"c;d\ne;f",
       {{"ab\"c;d", ""}, {"e", "f"}}},
      {"a trailing separator gives an empty cell", "a;", {{"a", ""}}},
      {"non-ASCII text", "Žluťoučký;kůň", {{"Žluťoučký", "kůň"}}},
  };
  for (const TDialectCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Read(c.Text), c.Expected);
  }
}

TEST(CsvTable, DelimiterAndQuoteOptions) {
  EXPECT_EQ(Read("a,'b,c'", ",", "'"), (Rows{{"a", "b,c"}}));
  // Only the first character counts; an empty delimiter means ";".
  EXPECT_EQ(Read("a,b;c", ",;", "\""), (Rows{{"a", "b;c"}}));
  EXPECT_EQ(Read("a;b", "", "\""), (Rows{{"a", "b"}}));
  // The quote is trimmed; a blank quote switches quoting off.
  EXPECT_EQ(Read("'a;b'", ";", " ' "), (Rows{{"a;b"}}));
  EXPECT_EQ(Read("\"a;b\"", ";", "  "), (Rows{{"\"a", "b\""}}));
  EXPECT_EQ(Read("a\tb", "\t", "\""), (Rows{{"a", "b"}}));
}

TEST(CsvTable, DecodesByByteOrderMark) {
  EXPECT_EQ(Read("\xEF\xBB\xBF"
                 "a;\xC3\xA4"),
            (Rows{{"a", "\xC3\xA4"}}));
  EXPECT_EQ(Read(std::string("\xFF\xFE"
                             "a\0;\0\xE4\0",
                             8)),
            (Rows{{"a", "\xC3\xA4"}}));
  EXPECT_EQ(Read(std::string("\xFE\xFF\0a\0;\0\xE4", 8)), (Rows{{"a", "\xC3\xA4"}}));
}

TEST(CsvTable, EmptyOrUnreadableInputFailsWithEmptyMessage) {
  for (std::string text : {std::string(), std::string("\xEF\xBB\xBF")}) {
    TMemoryStream stream(text);
    Rows table;
    std::string message = "unset";
    EXPECT_FALSE(ReadCsvTable("", &stream, "", ";", "\"", table, message));
    EXPECT_EQ(message, "");
  }
  Rows table;
  std::string message = "unset";
  EXPECT_FALSE(ReadCsvTable("/nonexistent/x.csv", nullptr, "utf-8", ";", "\"", table, message));
  EXPECT_EQ(message, "");
}

TEST(CsvTable, ReadsFilesAndRecordsAcrossChunks) {
  // Enough text for several read chunks, with multi-line cells everywhere.
  std::string text;
  for (int i = 0; i < 40000; ++i) {
    text +=
        std::to_string(i) + ";\"line one\r\nline \"\"two\"\"\";" + std::string(i % 7, 'x') + "\n";
  }
  TTempDir dir;
  const std::string path = dir.Write("big.csv", text);
  Rows table;
  std::string message;
  ASSERT_TRUE(ReadCsvTable(path, nullptr, "windows-1250", ";", "\"", table, message));
  ASSERT_EQ(table.size(), 40000u);
  for (int i = 0; i < 40000; i += 997) {
    EXPECT_EQ(table[i], (std::vector<std::string>{std::to_string(i), "line one\r\nline \"two\"",
                                                  std::string(i % 7, 'x')}));
  }
}

TEST(CsvReader, RewindStartsAgain) {
  TMemoryStream stream(
      "\xEF\xBB\xBF"
      "a;b\nc");
  TCsvReader reader(stream, ";", "\"");
  std::vector<std::string> cells;
  ASSERT_TRUE(reader.Next(cells));
  ASSERT_TRUE(reader.Next(cells));
  EXPECT_FALSE(reader.Next(cells));
  reader.Rewind();
  ASSERT_TRUE(reader.Next(cells));
  EXPECT_EQ(cells, (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace morvex
