#include "engine/dispatch.h"

#include <gtest/gtest.h>

#include "engine/parameters.h"
#include "engine/project_loader.h"
#include "engine/script_steps.h"
#include "engine/streams.h"
#include "engine/transform_kinds.h"
#include "tests/support/temp_dir.h"
#include "text/error.h"

namespace morvex {
namespace {

// Combinations checked before any operation runs: none of these reach a
// database, a file or a stream.
class DispatchTest : public ::testing::Test {
 protected:
  std::string Dispatch(uint8_t sourceKind, bool withQuery, TTransformKind transformKind,
                       uint8_t destinationKind) {
    TScriptSteps steps;
    steps.Source.Kind = sourceKind;
    steps.Source.Location = sourceKind == skOledb ? "Provider=SQLite;Data Source=x" : "in.xml";
    if (withQuery) SetQuery(steps, "<q>select 1</q>");
    steps.Transform.Kind = transformKind;
    steps.Destination.Kind = destinationKind;
    steps.Destination.Location = destinationKind == skStream ? "out" : "";
    return Outcome(steps);
  }

  // An inline query template of `statements`.
  static void SetQuery(TScriptSteps& steps, const std::string& statements) {
    steps.Query.Kind = qkInline;
    steps.Query.QueryText = "<lsql>" + statements + "</lsql>";
    steps.QueryDocument = ParseQueryDocument(steps.Query);
  }

  // Dispatches `steps`: "ran", or the message of the error raised.
  std::string Outcome(TScriptSteps& steps) {
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
  for (TTransformKind kind : {tkXml, tkXslt, tkXsltInline, tkCsv, tkXPath, tkJson}) {
    EXPECT_EQ(Dispatch(skOledb, true, kind, skNone), "Destination must be specified!")
        << static_cast<int>(kind);
    EXPECT_EQ(Dispatch(skOledb, true, kind, skOledb),
              "Database like destination is not allowed in this context!")
        << static_cast<int>(kind);
  }
  for (TTransformKind kind : {tkJsonXml, tkJsonCsv, tkJPath}) {
    EXPECT_EQ(Dispatch(skOledb, true, kind, skFile), kNotSupported) << static_cast<int>(kind);
  }
  // The stream destination is not created for a rejected script.
  Dispatch(skOledb, true, tkJPath, skStream);
  EXPECT_EQ(streams_.FindStream("out"), nullptr);
}

TEST_F(DispatchTest, DatabaseSourceWithoutQuery) {
  for (TTransformKind kind : {tkNone, tkXml, tkXslt, tkCsv, tkXPath, tkJson, tkJsonXml, tkJPath}) {
    EXPECT_EQ(Dispatch(skOledb, false, kind, skFile), kNotSupported) << static_cast<int>(kind);
  }
}

TEST_F(DispatchTest, FileSourceChecks) {
  for (TTransformKind kind : {tkNone, tkXml, tkXslt, tkCsv, tkXPath, tkJson, tkJsonCsv, tkJPath}) {
    EXPECT_EQ(Dispatch(skFile, false, kind, skNone), "Destination must be specified!")
        << static_cast<int>(kind);
    EXPECT_EQ(Dispatch(skFile, false, kind, skOledb),
              "Database destination requires sql script specification in this context!")
        << static_cast<int>(kind);
  }
  for (TTransformKind kind :
       {tkNone, tkXslt, tkXsltInline, tkXPath, tkJsonXml, tkJsonCsv, tkJPath}) {
    EXPECT_EQ(Dispatch(skFile, true, kind, skOledb),
              "Database like destination is not allowed in this context!")
        << static_cast<int>(kind);
  }
  EXPECT_EQ(Dispatch(skFile, true, tkJson, skOledb),
            "Import from JSON format is not currently supported!");
}

TEST_F(DispatchTest, FailedOperationsCarryTheirStepPrefix) {
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

TEST_F(DispatchTest, EveryKindsFailureCarriesItsRowsPrefixOnce) {
  // The source "in.xml" does not exist: every operation fails on it.
  for (const TTransformKindRow& row : TransformKindRows()) {
    if (row.ErrorPrefix.empty()) continue;
    const std::string prefix(row.ErrorPrefix);
    const std::string message = Dispatch(skFile, false, row.Kind, row.Script ? skNone : skStream);
    EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
    EXPECT_EQ(message.find(prefix, prefix.size()), std::string::npos) << message;
  }
  // A copy has no prefix: its message is the file's own.
  EXPECT_EQ(Dispatch(skFile, false, tkNone, skStream).find("error: "), std::string::npos);
}

// Whole scripts through the dispatcher on a SQLite database file: the
// statements alone, imports of CSV and XML records, and query output as the
// result or as the input of a conversion.
class DispatchRunTest : public DispatchTest {
 protected:
  void SetUp() override { connection_ = "Data Source=" + dir_.Write("data.db", ""); }

  // Runs one script; "ran" or the error's message. `source` is a stream
  // name for a file-like source, empty for the database.
  std::string Run(const std::string& source, const std::string& query, TTransformKind kind,
                  uint8_t destinationKind, const std::string& destination = "out") {
    TScriptSteps steps;
    if (source.empty()) {
      steps.Source.Kind = skOledb;
      steps.Source.Location = connection_;
    } else {
      steps.Source.Kind = skStream;
      steps.Source.Location = source;
      steps.Source.Stream = streams_.FindStream(source);
    }
    if (!query.empty()) SetQuery(steps, query);
    steps.Transform.Kind = kind;
    steps.Destination.Kind = destinationKind;
    steps.Destination.Location = destinationKind == skOledb ? connection_ : destination;
    return Outcome(steps);
  }

  void Fill(const std::string& name, const std::string& text) {
    TStream& stream = streams_.GetOrCreateStream(name);
    stream.Write(text.data(), static_cast<int64_t>(text.size()));
    stream.SetPosition(0);
  }

  std::string Text(const std::string& name) {
    std::string text;
    TStream* stream = streams_.FindStream(name);
    if (stream) {
      stream->SetPosition(0);
      ReadStreamText(*stream, text);
    }
    return text;
  }

  TTempDir dir_;
  std::string connection_;
};

TEST_F(DispatchRunTest, ImportsAreTheirOwnOperationsChosenByADatabaseDestination) {
  ASSERT_EQ(Run("", "<c>create table t (id integer, name varchar(10))</c>", tkNone, skNone), "ran");
  const std::string insert = "<ins>insert into t values (:source$id, :source$name)</ins>";

  Fill("csv", "id;name\r\n1;Ann\r\n");
  EXPECT_EQ(Run("csv", insert, tkCsv, skOledb), "ran");
  Fill("xml", "<rows><r><id>2</id><name>Bob</name></r></rows>");
  EXPECT_EQ(Run("xml", insert, tkXml, skOledb), "ran");

  ASSERT_EQ(Run("", "<q>select id, name from t order by id</q>", tkCsv, skStream), "ran");
  EXPECT_EQ(Text("out"), "id;\"name\"\r\n1;\"Ann\"\r\n2;\"Bob\"\r\n");

  // An import's failure is the session's own message, without a step prefix.
  Fill("csv", "id;name\r\n3;Cyd\r\n");
  const std::string message =
      Run("csv", "<ins>insert into missing values (:source$id)</ins>", tkCsv, skOledb);
  EXPECT_EQ(message.rfind("Record #1: ", 0), 0u) << message;
  Fill("xml", "<rows><r><id>4</id>");
  EXPECT_EQ(Run("xml", insert, tkXml, skOledb).find("transformation error"), std::string::npos);
}

TEST_F(DispatchRunTest, QueryOutputIsTheResultOrTheInputOfTheKind) {
  ASSERT_EQ(
      Run("", "<c>create table t (id integer)</c><i>insert into t values (7)</i>", tkNone, skNone),
      "ran");
  const std::string select = "<q>select id from t</q>";
  // The query's CSV is the result; its dataset XML feeds JSON.
  EXPECT_EQ(Run("", select, tkCsv, skStream, "csv"), "ran");
  EXPECT_EQ(Text("csv"), "id\r\n7\r\n");
  EXPECT_EQ(Run("", select, tkJson, skStream, "json"), "ran");
  EXPECT_NE(Text("json").find("7"), std::string::npos) << Text("json");
  // A failure of the kind that reads the output carries the kind's prefix.
  streams_.GetOrCreateStream("json");
  EXPECT_EQ(Run("", select, tkXPath, skStream, "x").rfind("XPath selection error: ", 0), 0u);
}

}  // namespace
}  // namespace morvex
