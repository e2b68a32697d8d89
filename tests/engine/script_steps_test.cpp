#include "engine/script_steps.h"

#include <gtest/gtest.h>

#include "engine/project_loader.h"
#include "engine/streams.h"
#include "xml/xml_nodes.h"

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
    const TProjectDocument loaded = LoadProject(project, "/tmp/");
    TStreamRegistry streams;
    const std::string base = "/tmp/";
    const TStepContext context{base, loaded.ProjectPath, streams, quiet};
    TScriptSteps steps;
    _xmlNode* script = FirstChildElement(DocumentElement(loaded.Document.get()), "script");
    ResolveTransform(script, steps, context);
    EXPECT_EQ(steps.Transform.Content, "run(1)") << "between: '" << between << "'";
    EXPECT_EQ(steps.Transform.SecondContent, "form") << "between: '" << between << "'";
  }
}

}  // namespace
}  // namespace morvex
