// The XML steps as the dispatcher runs them: a file source keeps its path
// (relative documents resolve beside it, parse errors name it), and every
// failure carries its step's prefix.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/dispatch.h"
#include "engine/parameters.h"
#include "engine/project_loader.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "tests/support/temp_dir.h"
#include "text/error.h"

namespace morvex {
namespace {

class DispatchXmlStepsTest : public ::testing::Test {
 protected:
  // Runs a file source through `kind` with `content` into the stream "out":
  // the stream's bytes, or the error's message.
  std::string Run(const std::string& source, TTransformKind kind, const std::string& content) {
    TScriptSteps steps;
    steps.Source = {skFile, source, "", nullptr};
    steps.Transform.Kind = kind;
    steps.Transform.Content = content;
    steps.Destination = {skStream, "out", "", nullptr};
    const TDispatchContext context{project_, parameters_, transformParameters_,
                                   texts_,   streams_,    output_};
    try {
      DispatchScript(steps, context);
      TStream* out = streams_.FindStream("out");
      out->SetPosition(0);
      return out->ReadToEnd();
    } catch (const EMorvexError& error) {
      return error.what();
    }
  }

  TTempDir dir_;
  TProject project_;
  TParameterList parameters_;
  TTransformParameters transformParameters_;
  std::vector<std::string> texts_;
  TStreamRegistry streams_{[] { return std::make_unique<TMemoryStream>(); }};
  TOutputCallback output_ = [](const std::string&, int64_t) {};
};

TEST_F(DispatchXmlStepsTest, AFileSourceKeepsItsPath) {
  std::filesystem::create_directory(dir_.File("sub"));
  const std::string source = dir_.Write("sub/in.xml", "<r/>");
  dir_.Write("sub/near.xml", "<o>near</o>");
  const std::string nearby =
      "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      "<xsl:output method='text'/><xsl:template match='/'>"
      "<xsl:value-of select=\"document('near.xml', /)\"/></xsl:template></xsl:stylesheet>";
  EXPECT_EQ(Run(source, tkXsltInline, nearby), "near");

  const std::string broken = dir_.Write("sub/broken.xml", "<r>\n<i></r>");
  EXPECT_EQ(Run(broken, tkXsltInline, nearby)
                .rfind("XSL Transformation error: " + broken + ": [line: 2, col: ", 0),
            0u);
  EXPECT_EQ(Run(broken, tkXPath, "=string(/r)")
                .rfind("XPath selection error: " + broken + ": [line: 2, col: ", 0),
            0u);
}

TEST_F(DispatchXmlStepsTest, FailuresCarryTheirStepPrefix) {
  const std::string missing = dir_.File("missing.xml");
  const std::string cannotOpen = "Cannot open file " + missing + ": No such file or directory";
  const std::pair<TTransformKind, const char*> steps[] = {
      {tkXsltInline, "XSL Transformation error: "},
      {tkXPath, "XPath selection error: "},
      {tkCsv, "XML to CSV transformation error: "},
      {tkJson, "XML to JSON transformation error: "},
      {tkJsonXml, "JSON to XML transformation error: "},
      {tkJsonCsv, "JSON to CSV transformation error: "},
      {tkJPath, "JPath selection error: "},
  };
  for (const auto& [kind, prefix] : steps) {
    const std::string content = kind == tkXPath ? "/r" : kind == tkXsltInline ? "<x/>" : "";
    EXPECT_EQ(Run(missing, kind, content), prefix + cannotOpen) << static_cast<int>(kind);
  }
  // An unreadable CSV source fails with an empty message after the prefix.
  EXPECT_EQ(Run(missing, tkXml, ""), "CSV to XML transformation error: ");
}

}  // namespace
}  // namespace morvex
