#include "engine/script_steps.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/project_loader.h"
#include "engine/streams.h"

namespace morvex {
namespace {

// A script transform with two character-data sections carries two texts:
// the script and, for the gui form, the second text. Sections written back
// to back must stay two texts, not one joined script.
TEST(ResolveTransformTest, TwoCDataSectionsAreTwoTexts) {
  const TOutputCallback quiet = [](const std::string&, int64_t) {};
  for (const std::string between : {"", "\n  "}) {
    const std::string project =
        "<?xml version=\"1.0\"?><morvex><script><source>in.xml</source>"
        "<transform kind=\"zqscriptgui\"><![CDATA[ run(1) ]]>" +
        between + "<![CDATA[ form ]]></transform></script></morvex>";
    const TProject loaded = LoadProject(project, "/tmp/");
    TStreamRegistry streams;
    const std::string base = "/tmp/";
    const TStepContext context{base, loaded.Path, streams, quiet};
    TScriptSteps steps;
    ResolveTransform(loaded.Scripts.at(0), steps, context);
    EXPECT_EQ(steps.Transform.Content, "run(1)") << "between: '" << between << "'";
    EXPECT_EQ(steps.Transform.SecondContent, "form") << "between: '" << between << "'";
  }
}

// "-" is standard input as a file source and standard output as a file
// destination, also when a file of that name exists; a stream named "-" is
// still a stream.
TEST(ResolveStepsTest, DashIsStandardInputAndOutput) {
  const TOutputCallback quiet = [](const std::string&, int64_t) {};
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("morvex-dash-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "-") << "a file named dash";
  const std::string base = dir.string() + "/";
  const TProject loaded = LoadProject(
      "<?xml version=\"1.0\"?><morvex><script><source> - </source><destination>-</destination>"
      "</script><script><source>in.xml</source><destination kind=\"stream\">-</destination>"
      "</script></morvex>",
      base);
  TStreamRegistry streams([] { return std::make_unique<TMemoryStream>("piped"); });
  const TStepContext context{base, loaded.Path, streams, quiet};
  const std::vector<TScript>& scripts = loaded.Scripts;
  TScriptSteps steps;
  ResolveSource(scripts[0], steps, context);
  ResolveDestination(scripts[0], steps, context);
  EXPECT_EQ(steps.Source.Kind, skStream);
  EXPECT_EQ(steps.Source.Stream, streams.FindStream("StdIn"));
  EXPECT_EQ(steps.Destination.Kind, skFile);
  EXPECT_EQ(steps.Destination.Location, "/dev/stdout");
  TScriptSteps second;
  ResolveDestination(scripts[1], second, context);
  EXPECT_EQ(second.Destination.Kind, skStream);
  EXPECT_EQ(second.Destination.Location, "-");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace morvex
