#include "convert/csv_table.h"

#include <gtest/gtest.h>

#include "tests/convert/convert_test_util.h"
#include "tests/support/temp_dir.h"
#include "text/encoding.h"
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

// A quoted value still open at the end of the text would take in every line
// after its quote: it fails, naming the line where that quote opened. Lines
// end at CR LF, LF and a lone CR, inside quoted values too.
TEST(CsvTable, QuotedValueOpenAtTheEndFailsNamingItsLine) {
  const std::pair<const char*, std::string> cases[] = {
      {"line 1", "\"ab;c"},
      {"line 2", "a;b\r\n1;\"x\r\n2;y\r\n3;z\r\n"},
      {"line 4", "\"1\r\n2\n3\r4\";\"open\r\nrest"},
      {"line 3", "a\n\"x\r\ny\"z\"w\nq"},
  };
  for (const auto& [line, text] : cases) {
    TMemoryStream stream(text);
    Rows table;
    std::string message;
    EXPECT_FALSE(ReadCsvTable("", &stream, "", ";", "\"", table, message)) << text;
    EXPECT_EQ(message, std::string("The quoted value that opens on ") + line +
                           " is not closed at the end of the CSV input.");
    EXPECT_TRUE(table.empty());
  }
  // Closed quotes, a stray quote inside an unquoted cell, and no quoting.
  EXPECT_EQ(Read("\"a\";b\"c\nd"), (Rows{{"a", "b\"c"}, {"d", ""}}));
  EXPECT_EQ(Read("\"a;b", ";", ""), (Rows{{"\"a", "b"}}));
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
  // UTF-32 in both byte orders, with a character beyond the BMP.
  const std::string text = "a;\xC3\xA4\r\n\xF0\x9F\x98\x80;b";
  const Rows rows{{"a", "\xC3\xA4"}, {"\xF0\x9F\x98\x80", "b"}};
  EXPECT_EQ(Read(EncodingForName("utf-32le").GetBytes("\xEF\xBB\xBF" + text)), rows);
  EXPECT_EQ(Read(EncodingForName("utf-32be").GetBytes("\xEF\xBB\xBF" + text)), rows);
}

std::string ReplacementWarning(const std::string& bytes, int64_t& count) {
  TMemoryStream stream(bytes);
  TCsvReader reader(stream, ";", "\"");
  std::vector<std::string> cells;
  while (reader.Next(cells)) {
  }
  count = reader.ReplacedValueCount();
  return reader.ReplacedValuesWarning();
}

// Values that hold U+FFFD in place of input that was not valid are counted
// once each; a U+FFFD the input itself holds is not counted.
TEST(CsvReader, CountsValuesReadWithReplacements) {
  int64_t count = -1;
  EXPECT_EQ(ReplacementWarning("a;\xEF\xBF\xBD\r\n\xC3\xA4;b", count), "");
  EXPECT_EQ(count, 0);
  const std::string latin1 =
      "id;name\r\n1;caf\xE9\r\n2;\xE9t\xE9\r\n3;\"x\xFF\ny\";\xEF\xBF\xBD\r\n";
  EXPECT_EQ(ReplacementWarning(latin1, count),
            "Warning: 3 value(s) of the CSV input held bytes that are not valid UTF-8; each was "
            "read with U+FFFD in their place. Name the input's code page in the encoding "
            "attribute of <source> to read them.");
  EXPECT_EQ(count, 3);
  // Past a read chunk's end, and once per reading.
  std::string big(300 * 1024, 'x');
  big += ";\xE9\r\n";
  TMemoryStream stream(big + big);
  TCsvReader reader(stream, ";", "\"");
  std::vector<std::string> cells;
  for (int pass = 0; pass < 2; ++pass) {
    while (reader.Next(cells)) {
    }
    EXPECT_EQ(reader.ReplacedValueCount(), 2);
    reader.Rewind();
  }
  // A lone surrogate in UTF-16.
  EXPECT_EQ(ReplacementWarning(std::string("\xFF\xFE"
                                           "a\0;\0\0\xD8"
                                           "b\0",
                                           10),
                               count),
            "Warning: 1 value(s) of the CSV input held bytes that are not valid UTF-16LE; each "
            "was read with U+FFFD in their place.");
}

TEST(CsvTable, EmptyInputFailsSayingSoAndUnreadableWithEmptyMessage) {
  for (std::string text : {std::string(), std::string("\xEF\xBB\xBF")}) {
    TMemoryStream stream(text);
    Rows table;
    std::string message = "unset";
    EXPECT_FALSE(ReadCsvTable("", &stream, "", ";", "\"", table, message));
    EXPECT_EQ(message, "The CSV input is empty.");
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

// Text that is not valid UTF-8 is read in the encoding its source names, so
// that a legacy file keeps its letters; valid UTF-8, a name that means
// UTF-8 or the system encoding, an unknown name and a pipe keep the UTF-8
// reading (invalid bytes become U+FFFD).
TEST(CsvReader, DeclaredEncodingDecodesTextThatIsNotUtf8) {
  const std::string czech = "1;Dvořák Černá Plzeň\r\n2;plain\r\n";
  const std::string cp1250 = EncodingForName("windows-1250").GetBytes(czech);
  ASSERT_NE(cp1250, czech);
  auto firstRow = [](TStream& stream, std::string_view encoding) {
    TCsvReader reader(stream, ";", "\"", encoding);
    std::vector<std::string> cells;
    EXPECT_TRUE(reader.Next(cells));
    return cells.size() == 2 ? cells[1] : std::string();
  };
  const std::string lost =
      "Dvo\xEF\xBF\xBD\xEF\xBF\xBDk \xEF\xBF\xBD"
      "ern\xEF\xBF\xBD Plze\xEF\xBF\xBD";
  for (const char* name : {"windows-1250", "WINDOWS-1250", "cp1250"}) {
    TMemoryStream stream(cp1250);
    EXPECT_EQ(firstRow(stream, name), "Dvořák Černá Plzeň") << name;
  }
  for (const char* name : {"", "utf-8", "ansi", "utf-16", "no-such-encoding"}) {
    TMemoryStream stream(cp1250);
    EXPECT_EQ(firstRow(stream, name), lost) << name;
  }
  TMemoryStream utf8(czech);
  EXPECT_EQ(firstRow(utf8, "windows-1250"), "Dvořák Černá Plzeň");
  TMemoryStream marked("\xEF\xBB\xBF" + cp1250);  // the mark says UTF-8
  EXPECT_EQ(firstRow(marked, "windows-1250"), lost);
  std::unique_ptr<TFileStream> pipe = testing::PipeHolding(cp1250);
  ASSERT_TRUE(pipe);
  EXPECT_EQ(firstRow(*pipe, "windows-1250"), lost);
}

// A multi-byte legacy encoding over many chunks: characters cut at a
// chunk's end are completed by the next one, and a second reading gives
// the same records.
TEST(CsvReader, DeclaredMultiByteEncodingSurvivesChunkEnds) {
  std::string text;
  for (int i = 0; i < 60000; ++i)
    text += std::to_string(i) + ";東京の注文 " + std::to_string(i % 97) + "\r\n";
  TMemoryStream stream(EncodingForName("shift_jis").GetBytes(text));
  TCsvReader reader(stream, ";", "\"", "shift_jis");
  std::vector<std::string> cells;
  for (int pass = 0; pass < 2; ++pass) {
    int count = 0;
    while (reader.Next(cells)) {
      ASSERT_EQ(cells, (std::vector<std::string>{std::to_string(count),
                                                 "東京の注文 " + std::to_string(count % 97)}));
      ++count;
    }
    EXPECT_EQ(count, 60000);
    reader.Rewind();
  }
}

}  // namespace
}  // namespace morvex
