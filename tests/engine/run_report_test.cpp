#include "engine/run_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "engine/parameters.h"
#include "engine/runner.h"
#include "engine/streams.h"
#include "tests/support/temp_dir.h"
#include "text/error.h"

namespace morvex {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// A project run with a report observing it, as the front end runs it.
struct TReportedRun {
  bool Succeeded = false;
  TRunReport Report{"p.morvex"};
};

void RunReported(TReportedRun& run, const TTempDir& dir, const std::string& body,
                 const std::vector<std::string>& parameters = {}) {
  const std::string project =
      dir.Write("p.morvex", "<?xml version=\"1.0\"?>\n<morvex>\n" + body + "</morvex>\n");
  run.Succeeded = RunProject(
      project, parameters, false, dir.File(""), {},
      [&run](const std::string& text, int64_t level) { run.Report.Output(text, level); },
      &run.Report);
}

// Each script's record says how it ended and what it moved; the scripts
// after a failure are there, not run.
TEST(RunReportTest, ScriptRecordsFollowTheRun) {
  const TTempDir dir;
  dir.Write("in.csv", "id;city\n1;Brno\n2;Praha\n");
  TReportedRun run;
  RunReported(
      run, dir,
      "<script name='csv'><source>in.csv</source><transform kind='csv/xml' record-tag='r'/>"
      "<destination kind='stream'>rows</destination></script>"
      "<script test='1 = 0'><source>in.csv</source><destination>" +
          dir.File("never.csv") +
          "</destination></script>"
          "<script name='select'><source kind='stream'>ROWS</source><transform kind='xpath'>//r"
          "</transform><destination>" +
          dir.File("sel.xml") +
          "</destination></script>"
          "<script name='copy'><source>in.csv</source><destination>" +
          dir.File("copy.csv") +
          "</destination></script>"
          "<script name='broken'><source>in.csv</source><destination>" +
          dir.File("no/dir/x.csv") +
          "</destination></script>"
          "<script name='after'><source>in.csv</source><destination>" +
          dir.File("a.csv") + "</destination></script>");
  EXPECT_FALSE(run.Succeeded);
  run.Report.Finish(1);
  SCOPED_TRACE(run.Report.Json());
  const std::vector<TScriptReport>& scripts = run.Report.Scripts();
  ASSERT_EQ(scripts.size(), 6u);

  struct TExpected {
    TScriptOutcome Outcome;
    std::optional<int64_t> Records;
    std::optional<uint64_t> Bytes;
    std::optional<std::string> Destination;
  };
  std::error_code missing;
  const uint64_t selected = std::filesystem::file_size(dir.File("sel.xml"), missing);
  const std::vector<TExpected> expected = {
      {TScriptOutcome::Ok, 2, scripts[0].BytesWritten, "rows"},
      {TScriptOutcome::Skipped, std::nullopt, std::nullopt, std::nullopt},
      {TScriptOutcome::Ok, 2, selected, dir.File("sel.xml")},
      {TScriptOutcome::Ok, std::nullopt, 23, dir.File("copy.csv")},
      {TScriptOutcome::Failed, std::nullopt, std::nullopt, dir.File("no/dir/x.csv")},
      {TScriptOutcome::NotRun, std::nullopt, std::nullopt, std::nullopt},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(scripts[i].Number, static_cast<int>(i + 1));
    EXPECT_EQ(scripts[i].Outcome, expected[i].Outcome) << i;
    EXPECT_EQ(scripts[i].Records, expected[i].Records) << i;
    EXPECT_EQ(scripts[i].BytesWritten, expected[i].Bytes) << i;
    EXPECT_EQ(scripts[i].Destination, expected[i].Destination) << i;
    EXPECT_GE(scripts[i].Seconds, 0) << i;
  }
  ASSERT_TRUE(scripts[0].BytesWritten);
  EXPECT_GT(*scripts[0].BytesWritten, 0u);
  EXPECT_EQ(scripts[4].Name, "broken");
  EXPECT_NE(scripts[4].Error.find("x.csv"), std::string::npos) << scripts[4].Error;
  EXPECT_EQ(scripts[5].Name, "after");
  EXPECT_FALSE(scripts[5].Source);

  run.Report.Finish(1);
  const std::string json = run.Report.Json();
  EXPECT_NE(json.find("\"error\": " + JsonString(scripts[4].Error) + ",\n  \"scripts\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"outcome\": \"not run\""), std::string::npos);
  EXPECT_NE(json.find("\"exit_code\": 1,"), std::string::npos);
}

// A script that fails before its steps are resolved has neither source nor
// destination; a missing project file gives no scripts at all, and the
// failure is the report's error either way.
TEST(RunReportTest, FailuresBeforeTheSteps) {
  const TTempDir dir;
  TReportedRun run;
  RunReported(run, dir,
              "<script name='nothing'><destination>" + dir.File("o.xml") +
                  "</destination></script>"
                  "<script><source>a</source></script>");
  EXPECT_FALSE(run.Succeeded);
  ASSERT_EQ(run.Report.Scripts().size(), 2u);
  const TScriptReport& failed = run.Report.Scripts()[0];
  EXPECT_EQ(failed.Outcome, TScriptOutcome::Failed);
  EXPECT_EQ(failed.Error, "No source specified!");
  EXPECT_FALSE(failed.Source);
  EXPECT_FALSE(failed.Destination);
  EXPECT_EQ(run.Report.Scripts()[1].Outcome, TScriptOutcome::NotRun);
  run.Report.Finish(1);
  EXPECT_NE(run.Report.Json().find("\"error\": \"No source specified!\",\n  \"scripts\""),
            std::string::npos)
      << run.Report.Json();

  TRunReport missing("gone.morvex");
  EXPECT_FALSE(RunProject(
      "gone.morvex", {}, false, dir.File(""), {},
      [&missing](const std::string& text, int64_t level) { missing.Output(text, level); },
      &missing));
  missing.Finish(1, "Fatal error: x");
  const std::string json = missing.Json();
  EXPECT_NE(json.find("\"project\": \"gone.morvex\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"scripts\": []"), std::string::npos) << json;
  EXPECT_NE(json.find("File does not exist!: " + dir.File("gone.morvex") + "\\nFatal error: x\""),
            std::string::npos)
      << json;
}

// Only a script's totals lines count, each once; progress lines, lines of
// other shapes and lines between scripts do not.
TEST(RunReportTest, RecordsAreTheTotalsLinesOfTheRunningScript) {
  struct TCase {
    std::vector<std::string> Lines;
    std::optional<int64_t> Records;
  };
  const std::vector<TCase> cases = {
      {{}, std::nullopt},
      {{"5 record(s) processed."}, 5},
      {{"orders: 3 record(s) processed.", "items: 4 record(s) processed."}, 7},
      {{"data/a b: 2 record(s) processed."}, 2},
      {{"orders: 10000 records processed ...", "orders: 10001 record(s) processed."}, 10001},
      {{"7 record(s) processed.", "9 record(s) affected."}, 7},
      {{"x7 record(s) processed.", "a 7 record(s) processed.", " record(s) processed."},
       std::nullopt},
      {{"0 record(s) processed."}, 0},
  };
  for (const TCase& test : cases) {
    TRunReport report("p");
    TProject project;
    project.Scripts.resize(1);
    report.ProjectLoaded(project);
    report.Output("3 record(s) processed.", LevelDetail);  // before the script
    report.ScriptStarted(1);
    for (const std::string& line : test.Lines) report.Output(line, LevelDetail);
    TScriptReport ended;
    ended.Number = 1;
    report.ScriptEnded(ended);
    report.Output("3 record(s) processed.", LevelDetail);  // after it
    EXPECT_EQ(report.Scripts()[0].Records, test.Records) << ::testing::PrintToString(test.Lines);
  }
}

TEST(RunReportTest, SecretsAreMasked) {
  struct TCase {
    const char* Name;
    const char* Value;
    const char* Reported;
  };
  const std::vector<TCase> cases = {
      {"city", "Brno", "Brno"},
      {"db$password", "hunter2", "********"},
      {"DB_PWD", "x", "********"},
      {"passwd", "", "********"},
      {"apiSecret", "s", "********"},
      {"conn", "Provider=PostgreSQL;Host=h;Password=abc",
       "Provider=PostgreSQL;Host=h;Password=********"},
      {"pw", "x", "x"},
  };
  for (const TCase& test : cases) {
    EXPECT_EQ(ReportedParameterValue(test.Name, test.Value), test.Reported) << test.Name;
  }
  const TTempDir dir;
  TReportedRun run;
  RunReported(run, dir, "<parameters><db-password>hunter2</db-password></parameters>",
              {"city=Brno"});
  run.Report.Finish(0);
  const std::string json = run.Report.Json();
  EXPECT_EQ(json.find("hunter2"), std::string::npos) << json;
  EXPECT_NE(json.find("    \"db$password\": \"********\",\n    \"city\": \"Brno\"\n  },"),
            std::string::npos)
      << json;
}

// Whatever a name or message holds, the document stays valid JSON.
TEST(RunReportTest, TextsBecomeValidJsonStrings) {
  struct TCase {
    std::string Text;
    std::string Json;
  };
  const std::vector<TCase> cases = {
      {"plain", "\"plain\""},
      {"say \"hi\" \\ now", "\"say \\\"hi\\\" \\\\ now\""},
      {"a\nb\r\tc", "\"a\\nb\\r\\tc\""},
      {std::string("nul\0bell\x07", 9), "\"nul\\u0000bell\\u0007\""},
      {"Žluťoučký </script>", "\"Žluťoučký </script>\""},
      {"bad \xff", "\"bad \xEF\xBF\xBD\""},
  };
  for (const TCase& test : cases) EXPECT_EQ(JsonString(test.Text), test.Json) << test.Text;
}

TEST(RunReportTest, TimesCarryTheirZone) {
  const std::regex iso(
      "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}");
  EXPECT_TRUE(std::regex_match(IsoTime(std::chrono::system_clock::now()), iso));
  EXPECT_EQ(IsoTime(std::chrono::system_clock::from_time_t(0)).substr(0, 4) == "1970" ||
                IsoTime(std::chrono::system_clock::from_time_t(0)).substr(0, 4) == "1969",
            true);
}

// The file is replaced as a whole: directories are made, an old report is
// replaced, and a report that cannot be written leaves the old one.
TEST(RunReportTest, ReportFileIsReplacedAsAWhole) {
  const TTempDir dir;
  const std::string path = dir.File("reports/nightly/r.json");
  WriteReportFile(path, "{}\n");
  EXPECT_EQ(ReadFile(path), "{}\n");
  WriteReportFile(path, "{\"a\": 1}\n");
  EXPECT_EQ(ReadFile(path), "{\"a\": 1}\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("reports/nightly")), {}), 1);

  const std::string locked = dir.File("locked");
  std::filesystem::create_directory(locked);
  dir.Write("locked/r.json", "old");
  ::chmod(locked.c_str(), 0500);
  if (::access(locked.c_str(), W_OK) != 0) {  // root writes anywhere
    EXPECT_THROW(WriteReportFile(dir.File("locked/r.json"), "new"), EMorvexError);
    EXPECT_EQ(ReadFile(dir.File("locked/r.json")), "old");
  }
  ::chmod(locked.c_str(), 0700);
}

TEST(RunReportTest, DestinationBytesByKind) {
  const TTempDir dir;
  TStreamRegistry streams;
  streams.GetOrCreateStream("Rows").Write("abc", 3);
  const std::string file = dir.Write("f.txt", "12345");
  struct TCase {
    uint8_t Kind;
    std::string Location;
    std::optional<uint64_t> Bytes;
  };
  const std::vector<TCase> cases = {
      {skFile, file, 5},
      {skFile, dir.File("missing"), std::nullopt},
      {skFile, dir.File(""), std::nullopt},
      {skFile, "/dev/stdout", std::nullopt},
      {skStream, "rows", 3},
      {skStream, "other", std::nullopt},
      {skOledb, "Data Source=" + file, std::nullopt},
  };
  for (const TCase& test : cases) {
    TXSourceInfo destination;
    destination.Kind = test.Kind;
    destination.Location = test.Location;
    EXPECT_EQ(DestinationBytes(destination, streams), test.Bytes) << test.Location;
  }
}

}  // namespace
}  // namespace morvex
