#include "app/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "tests/support/temp_dir.h"
#include "tests/support/temp_path.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using morvex::testing::TempPath;

RunOptions Parse(const std::vector<std::string>& arguments, const std::string& cwd = "/work/here") {
  std::vector<const char*> argv{"morvex"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), cwd);
}

TEST(IsParameterArgumentTest, ClassificationTable) {
  const struct {
    const char* argument;
    bool parameter;
  } cases[] = {
      {"city=Prague", true},
      {"db$user=me", true},
      {"my-param.x_1=a=b", true},
      {"město=Praha", true},
      {"Город=Москва", true},
      {"no equals sign", false},
      {"=count(//r)", false},
      {"//r[id=5]", false},
      {"a b=1", false},
      {"→=1", false},
      {"<?xml version=\"1.0\"?><morvex/>", false},
      {"VBScript:x=1", false},
      {"Provider=SQLOLEDB;Data Source=x", false},
      {"Data Source=x.db", false},
      {"Driver={SQLite3};Database=x", false},
      {"DSN=sales", false},
      {"file=a.db;dsn=sales", false},
      {"select a from t where b=1", false},
      {"UPDATE t SET a=1", false},
      {"delete from t where a=1", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsParameterArgument(c.argument), c.parameter) << c.argument;
  }
}

TEST(ParseCommandLineTest, SwitchesByTheirLetterAndSlashOnlyWhenTwoLong) {
  const RunOptions options = Parse({"-verbose", "/P", "-x", "/", "/home/x/p.morvex", "city=Prague",
                                    "-lfirst.log", "-lsecond.log"},
                                   "/");
  EXPECT_TRUE(options.Verbose);
  EXPECT_TRUE(options.PromptForParameters);
  EXPECT_FALSE(options.WaitForKey);
  EXPECT_EQ(options.ProjectArgument, "/home/x/p.morvex");
  EXPECT_EQ(options.Parameters, std::vector<std::string>{"city=Prague"});
  EXPECT_EQ(options.LogPath, "/second.log");
  EXPECT_EQ(options.BaseDirectory, "/");
}

TEST(ParseCommandLineTest, PositionalsDecideTheProject) {
  const std::string source = "<?xml version=\"1.0\"?><morvex><script/></morvex>";
  EXPECT_EQ(Parse({source, "a=1"}).ProjectArgument, source);

  const RunOptions inlineOptions = Parse({"Data Source=x", "//r[id=5]", "n=1"});
  EXPECT_EQ(inlineOptions.Positionals, (std::vector<std::string>{"Data Source=x", "//r[id=5]"}));
  EXPECT_EQ(inlineOptions.ProjectArgument, "");
  EXPECT_FALSE(inlineOptions.ShowUsage);

  EXPECT_TRUE(Parse({"-v", "city=Prague"}).ShowUsage);  // nothing to run
}

TEST(ParseCommandLineTest, HelpStopsScanningButAnyWaitSwitchCounts) {
  RunOptions options = Parse({"a.morvex", "-?", "b=1", "c.morvex", "-w"});
  EXPECT_TRUE(options.ShowUsage);
  EXPECT_TRUE(options.WaitForKey);
  EXPECT_TRUE(options.Parameters.empty());
  EXPECT_EQ(options.ProjectArgument, "");
  EXPECT_TRUE(Parse({"-H", "/W"}).WaitForKey);
  EXPECT_FALSE(Parse({"-?", "-wait"}).WaitForKey);  // only a bare -w counts
}

TEST(ParseCommandLineTest, LongHelpAndVersionStopTheScanAndNeverWait) {
  RunOptions options = Parse({"-w", "p.morvex", "--help", "-lrun.log", "-w"});
  EXPECT_TRUE(options.ShowUsage);
  EXPECT_TRUE(options.HelpRequested);
  EXPECT_FALSE(options.ShowVersion);
  EXPECT_FALSE(options.WaitForKey);
  EXPECT_FALSE(options.LogEnabled);
  EXPECT_EQ(options.ProjectArgument, "");

  options = Parse({"--version", "p.morvex", "-?"});
  EXPECT_TRUE(options.ShowVersion);
  EXPECT_FALSE(options.ShowUsage);
  EXPECT_EQ(options.BaseDirectory, "");  // nothing is run
  EXPECT_TRUE(options.Positionals.empty());

  // Other long forms stay what they were: "--" is an ignored switch, and the
  // single-dash forms are the h switch.
  EXPECT_FALSE(Parse({"--verbose", "p.morvex"}).Verbose);
  options = Parse({"-help", "-w"});
  EXPECT_TRUE(options.ShowUsage);
  EXPECT_FALSE(options.HelpRequested);
  EXPECT_TRUE(options.WaitForKey);
}

TEST(ParseCommandLineTest, CheckSwitchKeepsTheRestOfTheCommandLine) {
  RunOptions options = Parse({"p.morvex", "--check", "city=Brno", "-v"});
  EXPECT_TRUE(options.CheckOnly);
  EXPECT_TRUE(options.Verbose);
  EXPECT_FALSE(options.ShowUsage);
  EXPECT_EQ(options.ProjectArgument, "p.morvex");
  EXPECT_EQ(options.Parameters, std::vector<std::string>{"city=Brno"});
  // Nothing to check is the usage, as for a run.
  EXPECT_TRUE(Parse({"--check"}).ShowUsage);
  EXPECT_FALSE(Parse({"--checks", "p.morvex"}).CheckOnly);
}

// --graph names its format after "=", dot without one; a format nobody knows,
// or --graph beside --check, is refused before anything is opened.
TEST(ParseCommandLineTest, GraphSwitchNamesItsFormat) {
  struct TCase {
    std::vector<std::string> Arguments;
    std::string Format;
    std::string Refusal;
  };
  const std::vector<TCase> cases = {
      {{"p.morvex", "--graph"}, "dot", ""},
      {{"--graph=mermaid", "p.morvex", "a=1"}, "mermaid", ""},
      {{"--graph=DOT", "p.morvex"}, "DOT", ""},
      {{"p.morvex", "--graph=svg"}, "svg", "--graph takes dot or mermaid: --graph=svg"},
      {{"p.morvex", "--graph="}, "", "--graph takes dot or mermaid: --graph="},
      {{"p.morvex", "--graph", "--check"}, "dot", "--check and --graph cannot be combined"},
      {{"p.morvex", "--graphs"}, "", ""},
  };
  for (const TCase& test : cases) {
    const TTempDir dir;
    const std::string log = dir.File("x.log");
    std::vector<std::string> arguments = test.Arguments;
    arguments.push_back("-l" + log);
    const RunOptions options = Parse(arguments);
    EXPECT_EQ(options.GraphFormat, test.Format) << test.Arguments[1];
    EXPECT_EQ(options.Refusal, test.Refusal) << test.Arguments[1];
    EXPECT_EQ(options.ProjectArgument, "p.morvex");
    EXPECT_EQ(fs::exists(log), test.Refusal.empty()) << test.Arguments[1];
  }
  EXPECT_TRUE(Parse({"--graph"}).ShowUsage);
  EXPECT_EQ(Parse({"p.morvex", "--grahp"}).Warnings,
            std::vector<std::string>{
                "Warning: unknown switch --grahp is ignored (did you mean --graph?)"});
}

// --report takes its file attached, resolved against the current directory;
// a file the run reads or a symbolic link is never written.
TEST(ParseCommandLineTest, ReportSwitchNamesItsFile) {
  const TTempDir dir;
  const std::string base = dir.File("");
  dir.Write("p.morvex",
            "<?xml version=\"1.0\"?><morvex><script><source>in.xml</source>"
            "<destination>out.xml</destination></script></morvex>");
  dir.Write("in.xml", "<a/>");
  fs::create_symlink(dir.File("elsewhere.json"), dir.File("link.json"));
  struct TCase {
    std::string Argument;
    std::string Path;
    std::string Warning;
    std::string Refusal;
  };
  const std::vector<TCase> cases = {
      {"--report=r.json", base + "r.json", "", ""},
      {"--report=/var/tmp/r.json", "/var/tmp/r.json", "", ""},
      {"--report=-", "-", "", ""},
      {"--report", "", "", "--report takes its file attached: --report=FILE"},
      {"--report=", "", "", "--report takes its file attached: --report=FILE"},
      {"--report=in.xml", "",
       "Warning: report file " + base + "in.xml is a source file; no report is written.", ""},
      {"--report=p.morvex", "",
       "Warning: report file " + base + "p.morvex is the project file; no report is written.", ""},
      {"--report=link.json", "",
       "Warning: report file " + base + "link.json is a symbolic link; no report is written.", ""},
  };
  for (const TCase& test : cases) {
    const RunOptions options = Parse({"p.morvex", test.Argument}, base);
    EXPECT_EQ(options.ReportPath, test.Path) << test.Argument;
    EXPECT_EQ(options.ReportWarning, test.Warning) << test.Argument;
    EXPECT_EQ(options.Refusal, test.Refusal) << test.Argument;
  }
  EXPECT_FALSE(fs::exists(dir.File("r.json")));  // written when the run ends, not here
  EXPECT_EQ(Parse({"p.morvex", "--reprot"}, base).Warnings,
            std::vector<std::string>{
                "Warning: unknown switch --reprot is ignored (did you mean --report?)"});
}

// "-" is standard input or output, a positional argument; -q asks for a
// quiet run unless -v is given too.
TEST(ParseCommandLineTest, DashIsPositionalAndVerboseWinsOverQuiet) {
  RunOptions options = Parse({"-", "json", "-q", "-"});
  EXPECT_EQ(options.Positionals, (std::vector<std::string>{"-", "json", "-"}));
  EXPECT_TRUE(options.Quiet);
  EXPECT_TRUE(options.Warnings.empty());
  options = Parse({"-quiet", "p.morvex", "-v"});
  EXPECT_TRUE(options.Verbose);
  EXPECT_FALSE(options.Quiet);
  EXPECT_EQ(options.ProjectArgument, "p.morvex");
}

// A switch the program does not know is still ignored, but said so; a
// misspelt long form is named.
TEST(ParseCommandLineTest, UnknownSwitchesAreIgnoredWithAWarning) {
  const RunOptions options = Parse({"-x", "p.morvex", "--bogus", "--hepl", "--chek", "--verison",
                                    "--verbose", "--log=x", "/z", "/", "-Verbose"});
  EXPECT_EQ(options.Warnings,
            (std::vector<std::string>{
                "Warning: unknown switch -x is ignored.",
                "Warning: unknown switch --bogus is ignored.",
                "Warning: unknown switch --hepl is ignored (did you mean --help?)",
                "Warning: unknown switch --chek is ignored (did you mean --check?)",
                "Warning: unknown switch --verison is ignored (did you mean --version?)",
                "Warning: unknown switch --verbose is ignored.",
                "Warning: unknown switch --log=x is ignored.",
                "Warning: unknown switch /z is ignored.",
                "Warning: unknown switch / is ignored.",
            }));
  EXPECT_EQ(options.ProjectArgument, "p.morvex");
  EXPECT_TRUE(options.Verbose);  // only the letter counts
  EXPECT_FALSE(options.LogEnabled);
  EXPECT_FALSE(options.CheckOnly);
}

// "morvex p.morvex day=1 -l logs/x.log" would copy the project over the
// log; "morvex in.xml -l p.morvex" would copy the data over the project.
TEST(ParseCommandLineTest, DetachedLogPathThatMakesAProjectDataIsRefused) {
  TTempDir dir;
  const std::string base = dir.File("");
  dir.Write("p.morvex",
            "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- <morvex_data> -->\n<morvex name=\"d\"/>");
  dir.Write("data.xml", "<?xml version=\"1.0\"?><morvex_data/>");
  const std::string log = dir.Write("x.log", "yesterday");
  RunOptions options = Parse({"p.morvex", "day=1", "-l", "x.log"}, base);
  EXPECT_EQ(options.Refusal, "-l takes its path attached: -lx.log");
  EXPECT_EQ(options.LogStream, nullptr);
  EXPECT_EQ(TTempDir::Read(log), "yesterday");
  EXPECT_EQ(Parse({"data.xml", "-l", "p.morvex"}, base).Refusal,
            "-l takes its path attached: -lp.morvex");
  EXPECT_EQ(Parse({"-L", base + "p.morvex", "-v", "out.xml"}, base).Refusal,
            "-l takes its path attached: -l" + base + "p.morvex");

  // An attached path, a lone project and inline options that name no
  // project are what they always were.
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"p.morvex", "x.log", "-lrun.log"},
                                             {"p.morvex", "-l"},
                                             {"-l", "p.morvex"},
                                             {"data.xml", "-l", "out.xml"}}) {
    options = Parse(arguments, base);
    EXPECT_EQ(options.Refusal, "") << ::testing::PrintToString(arguments);
    EXPECT_NE(options.LogStream, nullptr) << ::testing::PrintToString(arguments);
  }
}

TEST(UsageLinesTest, NamesTheProgramAsInstalled) {
  EXPECT_EQ(UsageLines().at(1),
            "    morvex <project-file>|<inline-options>|<project-source> [<parameters>]");
  for (const std::string& line : UsageLines()) {
    EXPECT_EQ(line.find(".exe"), std::string::npos) << line;
  }
}

TEST(ChooseLogPathTest, ByProjectAndLogSwitch) {
  RunOptions options;
  options.BaseDirectory = "/cwd/";
  options.ProjectArgument = "/jobs/daily.morvex";
  EXPECT_EQ(ChooseLogPath(options), "/cwd/daily.morvex.log");
  options.ProjectArgument = "<?xml version=\"1.0\"?><morvex/>";
  EXPECT_EQ(ChooseLogPath(options), "/cwd/morvex.log");
  options.ProjectArgument = "";
  EXPECT_EQ(ChooseLogPath(options), "/cwd/morvex.log");

  options.LogPath = "reports/./run.log";
  EXPECT_EQ(ChooseLogPath(options), "/cwd/reports/run.log");
  options.ProjectArgument = "p.morvex";
  options.LogPath = "../up.log";
  EXPECT_EQ(ChooseLogPath(options), "/up.log");
}

TEST(OpenLogFileTest, CreatesReplacesOrSilentlyGivesUp) {
  const fs::path dir = TempPath("morvex_log_test");
  fs::remove_all(dir);
  fs::create_directories(dir);
  RunOptions options = Parse({"-lreports/deep/run.log", "p.morvex"}, dir.string());
  ASSERT_NE(options.LogStream, nullptr);
  EXPECT_EQ(options.LogPath, (dir / "reports/deep/run.log").string());
  EXPECT_TRUE(fs::exists(dir / "reports/deep/run.log"));

  std::ofstream(dir / "p.morvex.log") << "old content";
  options = Parse({"p.morvex", "-l"}, dir.string());
  ASSERT_NE(options.LogStream, nullptr);
  EXPECT_EQ(fs::file_size(dir / "p.morvex.log"), 0u);

  std::ofstream(dir / "blocker") << "a file where a directory should be";
  options = Parse({"-lblocker/run.log", "p.morvex"}, dir.string());
  EXPECT_FALSE(options.LogEnabled);
  EXPECT_EQ(options.LogStream, nullptr);
  EXPECT_EQ(options.ProjectArgument, "p.morvex");
  EXPECT_EQ(options.LogWarning, "");
  fs::remove_all(dir);
}

TEST(OpenLogFileTest, NeverTruncatesTheProjectOrWhatALinkNames) {
  const fs::path dir = TempPath("morvex_log_refused");
  fs::remove_all(dir);
  fs::create_directories(dir / "jobs");
  std::ofstream(dir / "jobs/p.morvex") << "<morvex/>";
  std::ofstream(dir / "victim.txt") << "precious";
  fs::create_symlink(dir / "victim.txt", dir / "p.morvex.log");

  RunOptions options = Parse({"jobs/p.morvex", "-l"}, dir.string());
  EXPECT_FALSE(options.LogEnabled);
  EXPECT_EQ(options.LogStream, nullptr);
  EXPECT_EQ(options.LogWarning, "Warning: log file " + (dir / "p.morvex.log").string() +
                                    " is a symbolic link; logging is off.");
  EXPECT_EQ(fs::file_size(dir / "victim.txt"), 8u);
  EXPECT_TRUE(fs::is_symlink(dir / "p.morvex.log"));

  // The same file by another name (".." and a hard link) is still the project.
  fs::create_hard_link(dir / "jobs/p.morvex", dir / "alias.morvex");
  for (const std::string log : {"-ljobs/../jobs/p.morvex", "-lalias.morvex"}) {
    options = Parse({"jobs/p.morvex", log}, dir.string());
    EXPECT_FALSE(options.LogEnabled) << log;
    EXPECT_EQ(options.LogStream, nullptr);
    EXPECT_NE(options.LogWarning.find(" is the project file; logging is off."), std::string::npos)
        << options.LogWarning;
  }
  EXPECT_EQ(fs::file_size(dir / "jobs/p.morvex"), 9u);

  // A log beside a project given as source text is opened as usual.
  options = Parse({"<?xml version=\"1.0\"?><morvex/>", "-lrun.log"}, dir.string());
  EXPECT_NE(options.LogStream, nullptr);
  EXPECT_GE(options.LogDescriptor, 0);
  EXPECT_EQ(options.LogWarning, "");
  fs::remove_all(dir);
}

TEST(OpenLogFileTest, NeverTruncatesAFileTheRunReads) {
  const fs::path dir = TempPath("morvex_log_inputs");
  fs::remove_all(dir);
  fs::create_directories(dir / "jobs");
  std::ofstream(dir / "jobs/p.morvex")
      << "<?xml version=\"1.0\"?><morvex>"
         "<script><source>in.xml</source><lsql>q.sql</lsql>"
         "<transform kind=\"xslt\">style.xsl</transform><destination>a.xml</destination></script>"
         "<script><source kind=\"oledb\"><connection-string>Data Source=shop.db"
         "</connection-string></source><lsql kind=\"inline\">select 1</lsql>"
         "<transform kind=\"xml\"/><destination>b.xml</destination></script>"
         "<script><source>in.xml</source><transform kind=\"JScript\">jobs/s.js</transform>"
         "<destination>c.txt</destination></script>"
         "<script><source>in.xml</source><transform kind=\"xpath\">paths.txt</transform>"
         "<destination>d.xml</destination></script>"
         "</morvex>";
  const std::map<std::string, std::string> inputs{
      {"in.xml", "a source file"},        {"jobs/q.sql", "a query file"},
      {"jobs/style.xsl", "a stylesheet"}, {"shop.db", "a database file"},
      {"jobs/s.js", "a script file"},     {"jobs/paths.txt", "an expression file"}};
  for (const auto& [name, role] : inputs) std::ofstream(dir / name) << "precious";

  for (const auto& [name, role] : inputs) {
    const RunOptions options = Parse({"jobs/p.morvex", "-l" + name}, dir.string());
    EXPECT_FALSE(options.LogEnabled) << name;
    EXPECT_EQ(options.LogStream, nullptr);
    EXPECT_EQ(options.LogWarning,
              "Warning: log file " + (dir / name).string() + " is " + role + "; logging is off.");
    EXPECT_EQ(fs::file_size(dir / name), 8u) << name;
  }

  // Inline options name their inputs too (they look for files in the
  // process's current directory).
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  RunOptions options = Parse({"in.xml", "out.xml", "-lin.xml"}, dir.string());
  fs::current_path(previous);
  EXPECT_EQ(options.LogWarning, "Warning: log file " + (dir / "in.xml").string() +
                                    " is a source file; logging is off.");
  EXPECT_EQ(fs::file_size(dir / "in.xml"), 8u);

  // A file the run does not read is a log like any other.
  std::ofstream(dir / "old.log") << "yesterday";
  options = Parse({"jobs/p.morvex", "-lold.log"}, dir.string());
  EXPECT_NE(options.LogStream, nullptr);
  EXPECT_EQ(options.LogWarning, "");
  EXPECT_EQ(fs::file_size(dir / "old.log"), 0u);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace morvex
