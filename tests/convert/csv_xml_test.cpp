#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "convert/csv_to_xml.h"
#include "convert/xml_to_csv.h"
#include "tests/convert/convert_test_util.h"
#include "tests/support/temp_dir.h"

namespace morvex {
namespace {

using testing::kUtf8Mark;
using testing::TConversionRun;

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

std::string CsvToXmlText(TConversionRun& run) {
  EXPECT_TRUE(run.Runs([&] { CsvToXml(run.Source, run.Destination, run.Options, run.Progress()); }))
      << run.Message;
  return run.Result();
}

TEST(CsvToXml, DatasetLayoutNamedAfterTheSource) {
  TConversionRun run("id;1st Name;\r\n1;Pen  \r\n2;\"a;b\";x\r\n");
  EXPECT_EQ(CsvToXmlText(run), std::string(kUtf8Mark) + kDeclaration +
                                   "<morvex_data><orders>"
                                   "<r><id>1</id><st_Name>Pen</st_Name><col_3/></r>"
                                   "<r><id>2</id><st_Name>a;b</st_Name><col_3>x</col_3></r>"
                                   "</orders></morvex_data>");
  EXPECT_EQ(run.Lines, (std::vector<std::string>{"orders: 2 record(s) processed."}));
}

TEST(CsvToXml, FileSourceWrapperIsTheFileName) {
  TTempDir dir;
  TConversionRun run("");
  run.Source = {skFile, dir.Write("2024 sales.csv", "a\r\n1\r\n"), "utf-8"};
  run.Destination = {skFile, dir.File("out.xml"), ""};
  ASSERT_TRUE(
      run.Runs([&] { CsvToXml(run.Source, run.Destination, run.Options, run.Progress()); }));
  EXPECT_EQ(TTempDir::Read(dir.File("out.xml")),
            std::string(kUtf8Mark) + kDeclaration +
                "<morvex_data><sales><r><a>1</a></r></sales></morvex_data>");
  run.Source.Location = dir.Write("123.csv", "a\r\n1\r\n");
  ASSERT_TRUE(
      run.Runs([&] { CsvToXml(run.Source, run.Destination, run.Options, run.Progress()); }));
  EXPECT_NE(TTempDir::Read(dir.File("out.xml")).find("<dataset><r>"), std::string::npos);
}

TEST(CsvToXml, RecordTagNamesRootWrappersAndRecords) {
  const std::pair<const char*, const char*> cases[] = {
      {"row", "<morvex_data><orders><row><a>1</a></row></orders></morvex_data>"},
      {"list/item", "<list><item><a>1</a></item></list>"},
      {" top / / mid/inner /rec", "<top><mid><inner><rec><a>1</a></rec></inner></mid></top>"},
  };
  for (const auto& [tag, xml] : cases) {
    TConversionRun run("a\r\n1");
    run.Options.RecordTag = tag;
    EXPECT_EQ(CsvToXmlText(run), std::string(kUtf8Mark) + kDeclaration + xml) << tag;
  }
  TConversionRun run("a\r\n1");
  run.Options.RecordTag = "list/item";
  CsvToXmlText(run);
  EXPECT_EQ(run.Lines, (std::vector<std::string>{"list: 1 record(s) processed."}));
}

TEST(CsvToXml, WithoutHeaderRowEveryRowIsData) {
  TConversionRun run("x;y\r\n1");
  run.Options.HeaderRow = false;
  EXPECT_EQ(CsvToXmlText(run), std::string(kUtf8Mark) + kDeclaration +
                                   "<morvex_data><orders><r><col_1>x</col_1><col_2>y</col_2></r>"
                                   "<r><col_1>1</col_1><col_2/></r></orders></morvex_data>");
}

TEST(CsvToXml, OptionsForTheWrittenXml) {
  TConversionRun run("a\r\n<&>");
  run.Options.Encoding = "iso-8859-2";
  run.Options.Namespaces = "xmlns:x='urn:x'";
  EXPECT_EQ(CsvToXmlText(run),
            "<?xml version=\"1.0\" encoding=\"iso-8859-2\"?>"
            "<morvex_data xmlns:x=\"urn:x\"><orders><r><a>&lt;&amp;&gt;</a></r></orders>"
            "</morvex_data>");
}

TEST(CsvToXml, ProgressEveryTenThousandRecords) {
  std::string csv = "n\r\n";
  for (int i = 0; i < 20001; ++i) csv += std::to_string(i) + "\r\n";
  TConversionRun run(csv);
  CsvToXmlText(run);
  EXPECT_EQ(run.Lines,
            (std::vector<std::string>{"10000 records processed ...", "20000 records processed ...",
                                      "orders: 20001 record(s) processed."}));
}

TEST(CsvToXml, EmptyOrUnclosedSourceFailsAndWritesNothing) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "The CSV input is empty."},
      {"a;b\r\n1;\"open\r\n2;x\r\n",
       "The quoted value that opens on line 2 is not closed at the end of the CSV input."},
  };
  for (const auto& [csv, expected] : cases) {
    TConversionRun run(csv);
    EXPECT_FALSE(
        run.Runs([&] { CsvToXml(run.Source, run.Destination, run.Options, run.Progress()); }));
    EXPECT_EQ(run.Message, expected);
    EXPECT_EQ(run.Result(), "");
    EXPECT_TRUE(run.Lines.empty());
  }
}

// Input that is not valid UTF-8 and names no encoding: one warning line
// counts the values that hold U+FFFD, before the summary.
TEST(CsvToXml, WarnsOnceOfValuesReadWithReplacements) {
  TConversionRun run("a;b\r\n\xE9;\xE9\xE9\r\nok;\xE9\r\n");
  CsvToXmlText(run);
  ASSERT_EQ(run.Lines.size(), 2u);
  EXPECT_EQ(run.Lines[0].rfind("Warning: 3 value(s) of the CSV input held bytes that are not "
                               "valid UTF-8;",
                               0),
            0u)
      << run.Lines[0];
  EXPECT_EQ(run.Lines[1], "orders: 2 record(s) processed.");
}

TEST(CsvToXml, InvalidRecordTagFailsWithTheWritersMessage) {
  TConversionRun run("a\r\n1");
  run.Options.RecordTag = "1bad/r";
  EXPECT_FALSE(
      run.Runs([&] { CsvToXml(run.Source, run.Destination, run.Options, run.Progress()); }));
  EXPECT_NE(run.Message.find("1bad"), std::string::npos) << run.Message;
}

std::string XmlToCsvText(TConversionRun& run) {
  EXPECT_TRUE(run.Runs([&] { XmlToCsv(run.Source, run.Destination, run.Options, run.Progress()); }))
      << run.Message;
  return run.Result();
}

TEST(XmlToCsv, DatasetRecordsAtAnyDepth) {
  TConversionRun run(
      "<morvex_data><orders><r><id>1</id><name>Pen</name></r></orders>"
      "<r><id>2</id><name>Ink</name></r></morvex_data>");
  EXPECT_EQ(XmlToCsvText(run),
            std::string(kUtf8Mark) + "\"id\";\"name\"\r\n\"1\";\"Pen\"\r\n\"2\";\"Ink\"\r\n");
  EXPECT_EQ(run.Lines, (std::vector<std::string>{"2 record(s) processed."}));
}

TEST(XmlToCsv, RecordsNamedLikeTheRootsFirstChild) {
  TConversionRun run(
      "<shop><order a='x'><id>1</id></order><note>n</note><sub><order><id>2</id><extra>e</extra>"
      "</order></sub></shop>");
  run.Options.HeaderRow = false;
  EXPECT_EQ(XmlToCsvText(run), std::string(kUtf8Mark) + "\"1\";\"\"\r\n\"2\";\"e\"\r\n");
}

// Each cell goes under its own column: the columns are the child names in
// the order first seen over all records, a name a record repeats has a
// column per occurrence, and every line has a cell per column.
TEST(XmlToCsv, CellsStayUnderTheirColumns) {
  const char* xml =
      "<d><r><a>1</a><b>2</b></r><r><b>3</b><c>4</c></r><r/>"
      "<r><x:a xmlns:x='urn:x'>5</x:a><c>6</c><a>7</a><a>8</a></r><r><b>9</b><b>10</b></r></d>";
  TConversionRun run(xml);
  EXPECT_EQ(XmlToCsvText(run), std::string(kUtf8Mark) +
                                   "\"a\";\"b\";\"c\";\"a\";\"a\";\"b\"\r\n"
                                   "\"1\";\"2\";\"\";\"\";\"\";\"\"\r\n"
                                   "\"\";\"3\";\"4\";\"\";\"\";\"\"\r\n"
                                   "\"\";\"\";\"\";\"\";\"\";\"\"\r\n"
                                   "\"7\";\"\";\"6\";\"5\";\"8\";\"\"\r\n"
                                   "\"\";\"9\";\"\";\"\";\"\";\"10\"\r\n");
  EXPECT_EQ(run.Lines, (std::vector<std::string>{"5 record(s) processed."}));
  // Records that repeat a name in the same way keep their cells in order.
  TConversionRun repeated("<d><r><a>1</a><a>2</a></r><r><a>3</a></r></d>");
  EXPECT_EQ(XmlToCsvText(repeated),
            std::string(kUtf8Mark) + "\"a\";\"a\"\r\n\"1\";\"2\"\r\n\"3\";\"\"\r\n");
}

// A column that first comes after many records: the lines written so far
// are written again with it, progress lines are not repeated, and the same
// comes out of a pipe that is read once into a temporary file and into an
// output that cannot be taken back.
TEST(XmlToCsv, LateColumnRewritesTheLines) {
  std::string xml = "<d>";
  std::string expected = std::string(kUtf8Mark) + "\"id\";\"late\"\r\n";
  for (int i = 1; i <= 20001; ++i) {
    const std::string id = std::to_string(i);
    xml += "<r><id>" + id + "</id>" + (i == 20001 ? "<late>L</late>" : "") + "</r>";
    expected += "\"" + id + "\";\"" + (i == 20001 ? "L" : "") + "\"\r\n";
  }
  xml += "</d>";
  const std::vector<std::string> lines{"10000 records processed ...", "20000 records processed ...",
                                       "20001 record(s) processed."};
  TConversionRun run(xml);
  EXPECT_EQ(XmlToCsvText(run), expected);
  EXPECT_EQ(run.Lines, lines);

  TTempDir dir;
  const std::string fifo = dir.File("out.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = TTempDir::Read(fifo); });
  TConversionRun piped("");
  const std::string input = dir.Write("in.xml", xml);
  std::ifstream file(input, std::ios::binary);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer([&] {
    char buffer[4096];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
      if (::write(fds[1], buffer, static_cast<size_t>(file.gcount())) < 0) break;
    }
    ::close(fds[1]);
  });
  TFileStream pipe(fds[0], "pipe", true);
  piped.Source.Stream = &pipe;
  piped.Destination = {skFile, fifo, ""};
  const bool done = piped.Runs(
      [&] { XmlToCsv(piped.Source, piped.Destination, piped.Options, piped.Progress()); });
  writer.join();
  reader.join();
  EXPECT_TRUE(done) << piped.Message;
  EXPECT_EQ(received, expected);
  EXPECT_EQ(piped.Lines, lines);
}

TEST(XmlToCsv, RecordTagAndTextOptions) {
  TConversionRun run("<a><b><r><c>x</c></r></b><r><c>no</c></r></a>");
  run.Options.RecordTag = "b/r";
  run.Options.Delimiter = ", ";
  run.Options.Quote = "";
  run.Options.Encoding = "unicode";
  EXPECT_EQ(XmlToCsvText(run), std::string("\xFF\xFE"
                                           "c\0\r\0\n\0x\0\r\0\n\0",
                                           14));
}

TEST(XmlToCsv, NestedElementsInsideAColumn) {
  const char* xml = "<d><r><c>before <i>inner</i> after</c><d2>z</d2></r></d>";
  TConversionRun flat(xml);
  EXPECT_EQ(XmlToCsvText(flat), std::string(kUtf8Mark) + "\"c\";\"d2\"\r\n\"before \";\"z\"\r\n");
  TConversionRun all(xml);
  all.Options.FlatText = false;
  EXPECT_EQ(XmlToCsvText(all),
            std::string(kUtf8Mark) + "\"c\";\"d2\"\r\n\"before inner after\";\"z\"\r\n");
}

TEST(XmlToCsv, ValuesAreWholeWithQuotesDoubled) {
  const std::string long_value(300, 'v');
  TConversionRun run("<d><r><a>say \"hi\"</a><b>" + long_value +
                     "</b><c>multi\n  line</c></r></d>");
  run.Options.HeaderRow = false;
  EXPECT_EQ(XmlToCsvText(run), std::string(kUtf8Mark) + "\"say \"\"hi\"\"\";\"" + long_value +
                                   "\";\"multi line\"\r\n");
}

TEST(XmlToCsv, NoRecordsGivesOnlyThePreamble) {
  TConversionRun run("<morvex_data><orders/></morvex_data>");
  EXPECT_EQ(XmlToCsvText(run), kUtf8Mark);
}

TEST(XmlToCsv, ParseErrorKeepsEarlierRecordsAndNamesThePlace) {
  TConversionRun run("<d><r><a>1</a></r><r><a>2</b></r></d>");
  EXPECT_FALSE(
      run.Runs([&] { XmlToCsv(run.Source, run.Destination, run.Options, run.Progress()); }));
  EXPECT_NE(run.Message.find("line: 1"), std::string::npos) << run.Message;
  EXPECT_EQ(run.Result(), std::string(kUtf8Mark) + "\"a\"\r\n\"1\"\r\n");
  EXPECT_TRUE(run.Lines.empty());
  // The records before the fault get the columns found before it.
  TConversionRun late("<d><r><a>1</a></r><r><b>2</b></r><r><a>3</b></r></d>");
  EXPECT_FALSE(
      late.Runs([&] { XmlToCsv(late.Source, late.Destination, late.Options, late.Progress()); }));
  EXPECT_NE(late.Message.find("line: 1"), std::string::npos) << late.Message;
  EXPECT_EQ(late.Result(), std::string(kUtf8Mark) + "\"a\";\"b\"\r\n\"1\";\"\"\r\n\"\";\"2\"\r\n");
}

TEST(XmlToCsv, MissingSourceFileFails) {
  TConversionRun run("");
  run.Source = {skFile, "/nonexistent/in.xml", ""};
  EXPECT_FALSE(
      run.Runs([&] { XmlToCsv(run.Source, run.Destination, run.Options, run.Progress()); }));
  EXPECT_NE(run.Message.find("/nonexistent/in.xml"), std::string::npos);
}

TEST(CsvXmlRoundTrip, ValuesSurviveCsvToXmlToCsv) {
  const std::string csv =
      "\"id\";\"text\"\r\n\"1\";\"quote \"\" and ; semicolon\"\r\n\"2\";\"Žluťoučký kůň\"\r\n";
  TConversionRun toXml(csv);
  const std::string xml = CsvToXmlText(toXml);
  TConversionRun back(xml);
  EXPECT_EQ(XmlToCsvText(back), kUtf8Mark + csv);
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

TEST(ConversionInputs, PipesAreReadWithoutSeeking) {
  auto pipe = testing::PipeHolding(
      "\xEF\xBB\xBF"
      "a;b\n1\n");
  ASSERT_TRUE(pipe);
  testing::TConversionRun run("");
  run.Source.Stream = pipe.get();
  run.Source.Location = "pipe";
  ASSERT_TRUE(run.Runs([&] { CsvToXml(run.Source, run.Destination, run.Options, run.Progress()); }))
      << run.Message;
  EXPECT_EQ(run.Result(), std::string(kUtf8Mark) + kDeclaration +
                              "<morvex_data><pipe><r><a>1</a><b/></r></pipe></morvex_data>");
}

}  // namespace
}  // namespace morvex
