#include "engine/dispatch.h"

#include <gtest/gtest.h>

#include "engine/parameters.h"
#include "engine/project_loader.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "text/error.h"

namespace morvex {
namespace {

// Combinations checked before any operation runs: none of these reach a
// database, a file or a stream.
class DispatchTest : public ::testing::Test {
 protected:
  std::string Dispatch(uint8_t sourceKind, bool withQuery, uint8_t transformKind,
                       uint8_t destinationKind) {
    TScriptSteps steps;
    steps.Source.Kind = sourceKind;
    steps.Source.Location = sourceKind == skOledb ? "Provider=SQLite;Data Source=x" : "in.xml";
    if (withQuery) {
      steps.Query.Kind = qkInline;
      steps.Query.QueryText = "<lsql><q>select 1</q></lsql>";
      steps.QueryDocument = ParseQueryDocument(steps.Query);
    }
    steps.Transform.Kind = transformKind;
    steps.Destination.Kind = destinationKind;
    steps.Destination.Location = destinationKind == skStream ? "out" : "";
    const TDispatchContext context{project_, parameters_, transformParameters_,
                                   texts_,   streams_,    output_};
    try {
      DispatchScript(steps, context);
      return "ran";
    } catch (const EMorvexError& error) {
      return error.what();
    }
  }

  TProject project_;
  TParameterList parameters_;
  TTransformParameters transformParameters_;
  std::vector<std::string> texts_;
  TStreamRegistry streams_{[] { return std::make_unique<TMemoryStream>(); }};
  TOutputCallback output_ = [](const std::string&, int64_t) {};
};

constexpr const char* kNotSupported =
    "This combination of Source, (L)SQL, Transformation and Destination is not supported!";

TEST_F(DispatchTest, DatabaseSourceWithQuery) {
  EXPECT_EQ(Dispatch(skOledb, true, tkNone, skFile),
            "Transformation must be specified in this context!");
  for (uint8_t kind : {tkXml, tkXslt, tkXsltInline, tkCsv, tkXPath, tkJson}) {
    EXPECT_EQ(Dispatch(skOledb, true, kind, skNone), "Destination must be specified!") << int(kind);
    EXPECT_EQ(Dispatch(skOledb, true, kind, skOledb),
              "Database like destination is not allowed in this context!")
        << int(kind);
  }
  for (uint8_t kind : {tkJsonXml, tkJsonCsv, tkJPath}) {
    EXPECT_EQ(Dispatch(skOledb, true, kind, skFile), kNotSupported) << int(kind);
  }
  // The stream destination is not created for a rejected script.
  Dispatch(skOledb, true, tkJPath, skStream);
  EXPECT_EQ(streams_.FindStream("out"), nullptr);
}

TEST_F(DispatchTest, DatabaseSourceWithoutQuery) {
  for (uint8_t kind : {tkNone, tkXml, tkXslt, tkCsv, tkXPath, tkJson, tkJsonXml, tkJPath}) {
    EXPECT_EQ(Dispatch(skOledb, false, kind, skFile), kNotSupported) << int(kind);
  }
}

TEST_F(DispatchTest, FileSourceChecks) {
  for (uint8_t kind : {tkNone, tkXml, tkXslt, tkCsv, tkXPath, tkJson, tkJsonCsv, tkJPath}) {
    EXPECT_EQ(Dispatch(skFile, false, kind, skNone), "Destination must be specified!") << int(kind);
    EXPECT_EQ(Dispatch(skFile, false, kind, skOledb),
              "Database destination requires sql script specification in this context!")
        << int(kind);
  }
  for (uint8_t kind : {tkNone, tkXslt, tkXsltInline, tkXPath, tkJsonXml, tkJsonCsv, tkJPath}) {
    EXPECT_EQ(Dispatch(skFile, true, kind, skOledb),
              "Database like destination is not allowed in this context!")
        << int(kind);
  }
  EXPECT_EQ(Dispatch(skFile, true, tkJson, skOledb),
            "Import from JSON format is not currently supported!");
}

TEST_F(DispatchTest, MissingOperationsFailWithTheirStepPrefix) {
  EXPECT_EQ(Dispatch(skFile, false, tkXml, skFile).rfind("CSV to XML transformation error: ", 0),
            0u);
  EXPECT_EQ(
      Dispatch(skFile, false, tkJsonCsv, skStream).rfind("JSON to CSV transformation error: ", 0),
      0u);
  EXPECT_EQ(Dispatch(skFile, false, tkJPath, skFile).rfind("JPath selection error: ", 0), 0u);
  EXPECT_EQ(Dispatch(skFile, false, tkScriptInline, skNone).rfind("Windows Script Host error: ", 0),
            0u);
  EXPECT_EQ(Dispatch(skFile, false, tkZqScriptInline, skNone).rfind("zqScript error: ", 0), 0u);
}

}  // namespace
}  // namespace morvex
