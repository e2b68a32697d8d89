#include "engine/transform_kinds.h"

#include <gtest/gtest.h>

#include <set>

#include "scripting/script_engine.h"
#include "text/utf.h"

namespace morvex {
namespace {

constexpr TTransformKind kEveryKind[] = {
    tkNone,   tkXml,          tkXslt,     tkXsltInline,     tkCsv,     tkXPath,   tkJson,
    tkScript, tkScriptInline, tkZqScript, tkZqScriptInline, tkJsonXml, tkJsonCsv, tkJPath,
};

TEST(TransformKindsTest, KeywordsMatchInTableOrder) {
  const struct {
    const char* keyword;
    TTransformKind code;
  } cases[] = {
      {"", tkXml},
      {"CSV/XML", tkXml},
      {"xslt", tkXslt},
      {"XPath", tkXPath},
      {"jpath", tkJPath},
      {"Xml/Csv", tkCsv},
      {"xml/json", tkJson},
      {"json/xml", tkJsonXml},
      {"JSON/CSV", tkJsonCsv},
      {"zqScriptGUI", tkZqScript},
      {"VBScript", tkScript},
      {"xslt inline", tkScript},
  };
  for (const auto& c : cases) EXPECT_EQ(TransformKindOf(c.keyword), c.code) << c.keyword;
}

TEST(TransformKindsTest, EveryKindHasOneConsistentRow) {
  std::set<TTransformKind> seen;
  std::set<std::string_view> keywords;
  for (const TTransformKindRow& row : TransformKindRows()) {
    const int code = static_cast<int>(row.Kind);
    EXPECT_TRUE(seen.insert(row.Kind).second) << "second row for " << code;
    EXPECT_NE(row.Run, nullptr) << code;
    for (const std::string_view keyword : row.Keywords) {
      EXPECT_TRUE(keywords.insert(keyword).second) << keyword << " selects two kinds";
      EXPECT_EQ(std::string(keyword), AsciiLower(keyword)) << keyword;
      EXPECT_EQ(TransformKindOf(keyword), row.Kind) << keyword;
    }
    // The inline form of a kind is the same step with its text in hand.
    const TTransformKindRow& inlineForm = TransformKindRow(row.InlineForm);
    EXPECT_EQ(inlineForm.InlineForm, inlineForm.Kind) << code;
    EXPECT_EQ(inlineForm.ErrorPrefix, row.ErrorPrefix) << code;
    EXPECT_EQ(inlineForm.Run, row.Run) << code;
    EXPECT_EQ(inlineForm.Script, row.Script) << code;
    EXPECT_EQ(inlineForm.QueryUse, row.QueryUse) << code;
    if (row.InlineForm != row.Kind) {
      EXPECT_TRUE(inlineForm.Keywords.empty()) << code;
      EXPECT_EQ(row.Content, TContentRule::FileOrInline) << code;
      EXPECT_TRUE(NamesContentFile(row.Kind)) << code;
      EXPECT_FALSE(NamesContentFile(inlineForm.Kind)) << code;
    }
    // Only a kind whose query result is the output imports, and a kind with
    // no content reads no file.
    if (row.Import) {
      EXPECT_EQ(row.QueryUse, TQueryUse::ResultIsOutput) << code;
    }
    if (row.Content == TContentRule::None) {
      EXPECT_TRUE(row.ContentFile.empty()) << code;
    }
  }
  for (const TTransformKind kind : kEveryKind) {
    EXPECT_TRUE(seen.count(kind)) << "no row for " << static_cast<int>(kind);
  }
  EXPECT_EQ(seen.size(), std::size(kEveryKind));
}

TEST(TransformKindsTest, RowsAnswerWhatCodeRangesUsedTo) {
  // Scripts are the codes 7 to 10, the conversions that need a destination
  // 1 to 6 (with the JSON readers, 11 to 13, which query output cannot feed).
  for (const TTransformKind kind : kEveryKind) {
    const int code = static_cast<int>(kind);
    const TTransformKindRow& row = TransformKindRow(kind);
    EXPECT_EQ(IsScriptKind(kind), code >= 7 && code <= 10) << code;
    EXPECT_EQ(row.UsesParameters, code == 2 || code == 3 || (code >= 7 && code <= 10)) << code;
    EXPECT_EQ(row.QueryUse == TQueryUse::Refused, code >= 11) << code;
    // Query output is dataset XML: a kind that reads JSON cannot take it.
    EXPECT_EQ(row.QueryUse == TQueryUse::Refused, row.Input == TDataFormat::Json) << code;
    EXPECT_EQ(row.QueryUse == TQueryUse::ResultIsOutput, code == 1 || code == 4) << code;
    EXPECT_EQ(row.QueryWrites, code == 0   ? TQueryOutputKind::None
                               : code == 4 ? TQueryOutputKind::Csv
                                           : TQueryOutputKind::DatasetXml)
        << code;
  }
  EXPECT_EQ(TransformKindRow(tkXml).Import, &operations::XmlRecordsIntoDatabase);
  EXPECT_EQ(TransformKindRow(tkCsv).Import, &operations::CsvRecordsIntoDatabase);
  EXPECT_EQ(TransformKindRow(tkJson).ImportRefusal,
            "Import from JSON format is not currently supported!");
}

TEST(TransformKindsTest, KeywordListsFollowTheTable) {
  // --check suggests from this list in this order: the first of two equally
  // near keywords wins.
  EXPECT_EQ(TransformKeywords(),
            (std::vector<std::string>{"xml", "csv/xml", "xslt", "xpath", "jpath", "csv", "xml/csv",
                                      "json", "xml/json", "json/xml", "json/csv", "zqscript",
                                      "zqscriptgui"}));
  const std::vector<std::string> conversions = ConversionKeywords();
  EXPECT_EQ(std::set<std::string>(conversions.begin(), conversions.end()),
            (std::set<std::string>{"xml/csv", "xml/json", "csv/xml", "xml", "csv", "json",
                                   "json/csv", "json/xml"}));
}

TEST(TransformKindsTest, ScriptLanguagesAreOneList) {
  const bool python = PythonAvailable();
  EXPECT_EQ(ScriptLanguageList(), std::string("JScript, JavaScript, ECMAScript, LuaScript") +
                                      (python ? ", PythonScript" : ""));
  using enum TScriptEngineKind;
  const struct {
    const char* name;
    bool known;
    TScriptEngineKind engine;
  } cases[] = {
      {"jscript", true, JavaScript},    {"JAVASCRIPT", true, JavaScript},
      {"ECMAScript", true, JavaScript}, {"luaScript", true, Lua},
      {"pythonscript", python, Python}, {"VBScript", false, Lua},
      {"LuaScriptGUI", false, Lua},     {"", false, Lua},
  };
  for (const auto& c : cases) {
    const TScriptLanguage* language = FindScriptLanguage(c.name);
    ASSERT_EQ(language != nullptr, c.known) << c.name;
    if (language) {
      EXPECT_EQ(language->Engine, c.engine) << c.name;
    }
  }
}

}  // namespace
}  // namespace morvex
