#include "app/run_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/command_line.h"
#include "app/console_log.h"
#include "tests/support/temp_path.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using morvex::testing::TempPath;

constexpr std::string_view kBanner =
    "Morvex v1.2.20\n"
    "Command-line data-transformation runner\n"
    "Copyright (c) 2026 The Morvex developers\n"
    "\n";

int RunDriver(std::vector<const char*> argv, std::ostringstream& out,
              const std::string& input = {}) {
  argv.insert(argv.begin(), "morvex");
  std::istringstream in(input);
  TConsole console(out, in);
  return RunMorvex(static_cast<int>(argv.size()), argv.data(), console);
}

TEST(RunDriverTest, EscapingErrorIsFatal) {
  // Without a current directory the command line cannot be completed.
  const fs::path gone = TempPath("morvex_driver_gone");
  fs::create_directories(gone);
  const fs::path previous = fs::current_path();
  fs::current_path(gone);
  fs::remove(gone);
  std::ostringstream out;
  const int exitCode = RunDriver({"p.morvex"}, out);
  fs::current_path(previous);

  EXPECT_EQ(exitCode, 2);
  const std::string output = out.str();
  ASSERT_EQ(output.substr(0, kBanner.size()), kBanner);
  EXPECT_EQ(output.substr(kBanner.size()).rfind("Fatal error: std::", 0), 0u) << output;
}

std::string Usage() {
  std::string usage;
  for (const std::string& line : UsageLines()) usage += line + "\n";
  return usage;
}

TEST(RunDriverTest, HelpAndVersionSucceedWithoutWaiting) {
  std::ostringstream out;
  EXPECT_EQ(RunDriver({"--help"}, out, "typed\n"), 0);
  EXPECT_EQ(out.str(), std::string(kBanner) + Usage());

  out.str("");
  EXPECT_EQ(RunDriver({"p.morvex", "--version", "-w"}, out, "typed\n"), 0);
  EXPECT_EQ(out.str(), "Morvex v1.2.20\n");

  // The short form keeps its exit code, and -w still waits after it.
  out.str("");
  EXPECT_EQ(RunDriver({"-?", "-w"}, out, "typed\n"), 1);
  EXPECT_EQ(out.str(), std::string(kBanner) + Usage() + "\nPress ENTER to continue.\n");
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

// A quiet run shows no banner and no headlines: its warnings and errors go
// to the error stream, and standard output stays empty.
TEST(RunDriverTest, QuietRunWritesOnlyWarningsAndErrorsToTheErrorStream) {
  const std::string project =
      "<?xml version=\"1.0\"?><morvex><script><source>no-such-input.xml</source>"
      "<destination>o.xml</destination></script></morvex>";
  std::vector<const char*> argv{"morvex", project.c_str(), "-x", "-q"};
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  TConsole console(out, in, err);
  EXPECT_EQ(RunMorvex(static_cast<int>(argv.size()), argv.data(), console), 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "Warning: unknown switch -x is ignored.\nFile does not exist!: " +
                           (fs::current_path() / "no-such-input.xml").string() + "\n");
}

// The picture alone goes to standard output, so that it can be piped into
// Graphviz; the banner and any problem go to the error stream, and a project
// that cannot be drawn fails as --check fails.
TEST(RunDriverTest, GraphWritesOnlyThePictureToStandardOutput) {
  const std::string project =
      "<?xml version=\"1.0\"?><morvex><script><source>in.xml</source>"
      "<destination>out.xml</destination></script></morvex>";
  struct TCase {
    std::vector<const char*> Arguments;
    int Exit;
    std::string Out;
    std::string Err;
  };
  const std::string dot =
      "digraph morvex {\n  rankdir=LR;\n  n1 [shape=note, label=\"file\\nin.xml\"];\n"
      "  n2 [shape=note, label=\"file\\nout.xml\"];\n  subgraph cluster_1 {\n"
      "    label=\"script 1\";\n    s1c [shape=box, style=rounded, label=\"copy\"];\n  }\n"
      "  n1 -> s1c;\n  s1c -> n2;\n}\n";
  const std::vector<TCase> cases = {
      {{"--graph", project.c_str()}, 0, dot, std::string(kBanner)},
      {{project.c_str(), "--graph=dot", "-q"}, 0, dot, ""},
      {{"--graph=mermaid", project.c_str(), "-q", "-x"},
       0,
       "flowchart LR\n  n1[\"file<br>in.xml\"]\n  n2[\"file<br>out.xml\"]\n"
       "  subgraph script1[\"script 1\"]\n    s1c(\"copy\")\n  end\n  n1 --> s1c\n"
       "  s1c --> n2\n",
       "Warning: unknown switch -x is ignored.\n"},
      {{"--graph", "<?xml version=\"1.0\"?><morvex>", "-q"},
       1,
       "",
       "inline:1: Unsupported project file format! [line: 1, col: 30] Premature end of data in "
       "tag morvex line 1\ninline: 1 problem(s) found.\n"},
      {{"--graph", "/no/such/dir/p.morvex"},
       1,
       "",
       std::string(kBanner) + "/no/such/dir/p.morvex: File does not exist!: /no/such/dir/p.morvex\n"
                              "/no/such/dir/p.morvex: 1 problem(s) found.\n"},
      {{"--graph=png", project.c_str()},
       1,
       "",
       std::string(kBanner) + "--graph takes dot or mermaid: --graph=png\n"},
  };
  for (const TCase& test : cases) {
    std::vector<const char*> argv = test.Arguments;
    argv.insert(argv.begin(), "morvex");
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in;
    TConsole console(out, in, err);
    EXPECT_EQ(RunMorvex(static_cast<int>(argv.size()), argv.data(), console), test.Exit)
        << test.Arguments[0];
    EXPECT_EQ(out.str(), test.Out) << test.Arguments[0];
    EXPECT_EQ(err.str(), test.Err) << test.Arguments[0];
  }
}

// The report of a run goes where --report says when the run ends, also when
// it fails; a check or a picture writes none.
TEST(RunDriverTest, ReportIsWrittenWhenTheRunEnds) {
  const fs::path dir = TempPath("morvex_driver_report");
  fs::create_directories(dir);
  const std::string project = "<?xml version=\"1.0\"?><morvex><script name='first'><source>" +
                              (dir / "none.xml").string() + "</source><destination>" +
                              (dir / "o.xml").string() +
                              "</destination></script><script/></morvex>";
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  TConsole console(out, in, err);
  std::vector<const char*> argv{"morvex", project.c_str(), "--report=-", "-q"};
  EXPECT_EQ(RunMorvex(static_cast<int>(argv.size()), argv.data(), console), 1);
  EXPECT_EQ(out.str(), "");
  const std::string error = "File does not exist!: " + (dir / "none.xml").string();
  const std::string report = err.str();
  ASSERT_EQ(report.substr(0, error.size() + 3), error + "\n{\n") << report;
  EXPECT_NE(report.find("\"exit_code\": 1,"), std::string::npos) << report;
  EXPECT_NE(report.find("\"name\": \"first\",\n      \"outcome\": \"failed\""), std::string::npos)
      << report;
  EXPECT_NE(report.find("\"outcome\": \"not run\""), std::string::npos) << report;
  EXPECT_TRUE(report.ends_with("  ]\n}\n")) << report;

  const std::string file = (dir / "r.json").string();
  const std::string reportSwitch = "--report=" + file;
  const std::string clean = "<?xml version=\"1.0\"?><morvex/>";
  for (const char* mode : {"--check", "--graph"}) {
    std::ostringstream ignored;
    RunDriver({mode, clean.c_str(), reportSwitch.c_str()}, ignored);
    EXPECT_FALSE(fs::exists(file)) << mode;
  }
  std::ostringstream ran;
  EXPECT_EQ(RunDriver({clean.c_str(), reportSwitch.c_str()}, ran), 0);
  std::ifstream written(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(written)), {});
  EXPECT_NE(text.find("\"exit_code\": 0,\n  \"error\": null,\n  \"scripts\": []\n}\n"),
            std::string::npos)
      << text;
  fs::remove_all(dir);
}

TEST(RunDriverTest, CheckReportsProblemsAndLogsThem) {
  const fs::path dir = TempPath("morvex_driver_check");
  fs::create_directories(dir);
  const std::string log = (dir / "check.log").string();
  const std::string logSwitch = "-l" + log;
  const std::string project = "<?xml version=\"1.0\"?>\n<morvex>\n<script><source>" +
                              (dir / "none.xml").string() +
                              "</source>\n<destinaton/></script>\n</morvex>";
  std::ostringstream out;
  EXPECT_EQ(RunDriver({"--check", project.c_str(), logSwitch.c_str()}, out), 1);
  const std::string expected =
      "inline:3: script 1: File does not exist!: " + (dir / "none.xml").string() +
      "\ninline:4: script 1: unknown element <destinaton>, did you "
      "mean <destination>?\ninline: 2 problem(s) found.\n";
  EXPECT_EQ(out.str(), std::string(kBanner) + expected);
  std::ifstream in(log, std::ios::binary);
  const std::string logged((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(logged.find("inline: 2 problem(s) found.\r\n"), std::string::npos) << logged;

  std::ostringstream clean;
  EXPECT_EQ(RunDriver({"--check", "<?xml version=\"1.0\"?><morvex/>"}, clean), 0);
  EXPECT_EQ(clean.str(), std::string(kBanner) + "inline: no problems found.\n");
  std::ostringstream quiet;
  EXPECT_EQ(RunDriver({"--check", "<?xml version=\"1.0\"?><morvex/>", "-q"}, quiet), 0);
  EXPECT_EQ(quiet.str(), "");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace morvex
