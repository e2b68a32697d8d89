#include "engine/parameters.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "engine/project_loader.h"
#include "engine/streams.h"

namespace morvex {
namespace {

using TLines = std::vector<std::pair<std::string, int64_t>>;
using TValue = std::variant<int64_t, double, bool, std::string>;

// The declarations of a project's `parameters` element, loaded from its inner text.
class ParametersDocument {
 public:
  explicit ParametersDocument(const std::string& declarations)
      : project_(LoadProject(
            "<?xml version=\"1.0\"?><morvex><parameters>" + declarations + "</parameters></morvex>",
            "/tmp/")) {}
  const std::vector<TParameterDeclaration>& Element() const { return project_.Parameters; }

 private:
  TProject project_;
};

const std::vector<TParameterDeclaration> kNoDeclarations;

TEST(SettleParametersTest, DeclarationsThenCommandLineIgnoringCase) {
  ParametersDocument declarations(
      "<city alias='Target city'>Prague</city><!-- note --><max-rows>10</max-rows><empty/>");
  TParameterList list;
  TLines output;
  SettleParameters(
      list, declarations.Element(), {"CITY=Brno", "extra=a=b", "MAX$ROWS=5"}, false, nullptr,
      [&](const std::string& text, int64_t level) { output.emplace_back(text, level); });

  EXPECT_EQ(list.Entries(),
            (std::vector<std::string>{"city=Brno", "max$rows=5", "empty=", "extra=a=b"}));
  EXPECT_EQ(list.Alias(0), "Target city");
  EXPECT_EQ(list.Alias(3), "");
  EXPECT_EQ(list.Value(3), "a=b");
  EXPECT_EQ(output, (TLines{{"Parameters: city=Brno,max$rows=5,empty=,extra=a=b", LevelDetail}}));
}

TEST(SettleParametersTest, PromptShowsAliasOrNameAndCurrentValue) {
  ParametersDocument declarations("<city alias='Target city'>Prague</city><day>1</day>");
  TParameterList list;
  std::vector<std::pair<std::string, std::string>> prompts;
  TLines output;
  const TOutputCallback record = [&](const std::string& text, int64_t level) {
    output.emplace_back(text, level);
  };
  SettleParameters(
      list, declarations.Element(), {"city=Brno", "mode=fast"}, true,
      [&](const std::string& label, const std::string& current) {
        prompts.emplace_back(label, current);
        // An empty answer comes back as the current value; "day" is changed.
        return label == "day" ? std::string("7") : current;
      },
      record);

  EXPECT_EQ(prompts, (std::vector<std::pair<std::string, std::string>>{
                         {"Target city", "Brno"}, {"day", "1"}, {"mode", "fast"}}));
  EXPECT_EQ(list.Entries(), (std::vector<std::string>{"city=Brno", "day=7", "mode=fast"}));
  EXPECT_EQ(output, (TLines{{"Enter the parameter values:", LevelHeadline},
                            {"Parameters: city=Brno,day=7,mode=fast", LevelDetail}}));

  // Without a callback nothing is asked; without parameters nothing is said.
  output.clear();
  TParameterList withoutCallback;
  SettleParameters(withoutCallback, kNoDeclarations, {"a=1"}, true, nullptr, record);
  TParameterList none;
  SettleParameters(none, kNoDeclarations, {}, true, nullptr, record);
  EXPECT_EQ(output, (TLines{{"Parameters: a=1", LevelDetail}}));
}

TEST(ParameterListTest, CommaTextQuotesEntriesWithSpecialCharacters) {
  TParameterList list;
  for (const char* entry :
       {"plain=Brno", "city=New York", "list=a,b", "q=say \"hi\"", "tab=a\tb", "utf=Plzeň"}) {
    list.Add(entry, "");
  }
  EXPECT_EQ(list.CommaText(),
            "plain=Brno,\"city=New York\",\"list=a,b\",\"q=say \"\"hi\"\"\",\"tab=a\tb\","
            "utf=Plzeň");
}

class SubstituteTestTest : public ::testing::Test {
 protected:
  SubstituteTestTest() : streams_([] { return std::make_unique<TMemoryStream>("piped"); }) {}
  std::string Substitute(std::string_view text) { return SubstituteTest(text, list_, streams_); }

  TParameterList list_;
  TStreamRegistry streams_;
};

TEST_F(SubstituteTestTest, ParametersLongestFirstIgnoringCase) {
  list_.Add("a=1", "");
  list_.Add("ab=22", "");
  list_.Add("city=O'Hara", "");
  EXPECT_EQ(Substitute(":ab + :a = :AB"), "22 + 1 = 22");
  EXPECT_EQ(Substitute("':City' = 'x'"), "'O'Hara' = 'x'");  // inserted unchanged
  EXPECT_EQ(Substitute(":missing = 0 and :x1$y + :a"), " = 0 and  + 1");
  EXPECT_EQ(Substitute("10:30 : :1"), "10:30 : :1");  // no name after these colons
  list_.Add("m\xC4\x9Bsto=Brno", "");                 // město
  EXPECT_EQ(Substitute("':M\xC4\x9Asto' = 'Brno'"), "'Brno' = 'Brno'");
}

// Each reference is replaced once, as its whole name: the text put in for
// one is not read again for another, and a shorter name never stands for
// the start of a longer one.
TEST_F(SubstituteTestTest, InsertedTextsAreNotReadAgain) {
  list_.Add("ab=:a", "");
  list_.Add("a=1", "");
  list_.Add("c=:ab$x", "");
  EXPECT_EQ(Substitute(":ab = :a"), ":a = 1");
  EXPECT_EQ(Substitute(":c"), ":ab$x");
  EXPECT_EQ(Substitute("':a' :a$b :ab$"), "'1'  ");
}

TEST_F(SubstituteTestTest, StreamSizesAndShortTexts) {
  EXPECT_EQ(Substitute(":xStream$size = 0"), "0 = 0");

  TStream& rows = streams_.GetOrCreateStream("Rows");
  rows.Write(std::string_view("line 1\r\nline 2"));
  EXPECT_EQ(Substitute(":rows$anything"), "14");
  // The text is read from the stream's start and the position is left alone.
  rows.SetPosition(2);
  EXPECT_EQ(Substitute("':ROWS'"), "'line 1 line 2'");
  EXPECT_EQ(rows.Position(), 2);

  streams_.GetOrCreateStream("big").Write(std::string(256, 'x'));
  EXPECT_EQ(Substitute("[:big] :big$size"), "[] 256");
  EXPECT_EQ(Substitute(":stdin"), "piped");

  // Parameters come before streams.
  list_.Add("rows=param", "");
  list_.Add("xstream$size=declared", "");
  EXPECT_EQ(Substitute(":rows :xStream$size"), "param declared");
}

TEST(BuildTransformParametersTest, DeclaredKindsGiveTypedValues) {
  ParametersDocument declarations(
      "<count kind='integer'/><ratio kind='float'/><flag kind='boolean'/><on kind='boolean'/>"
      "<off kind='boolean'/><name kind='string'/><bad-int kind='integer'/>"
      "<BIG kind='integer'/><bad-float kind='float'/><maybe kind='boolean'/>"
      "<empty kind='integer'/><Kind kind='Integer'/>");
  TParameterList list;
  const std::vector<std::pair<std::string, TValue>> expected{
      {"count=-42", int64_t{-42}},
      {"ratio=2.5e1", 25.0},
      {"flag=TRUE", true},
      {"on=0.5", true},
      {"off=0", false},
      {"name=007", "007"},
      {"bad$int=12x", "12x"},
      {"big=9000000000", int64_t{9000000000}},  // found by its upper-cased name
      {"bad$float=1,5", "1,5"},
      {"maybe=yes", "yes"},
      {"Kind=3", "3"},  // type names are matched exactly
      {"undeclared=5", "5"},
  };
  for (const auto& [entry, value] : expected) {
    list.Add(entry, "");
    // An empty value is left out, whatever its kind, so the xsl:param default applies.
    if (entry == "maybe=yes") list.Add("empty=", "");
  }
  list.Add("blank=", "");
  const TTransformParameters parameters = BuildTransformParameters(list, declarations.Element());
  ASSERT_EQ(parameters.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(parameters[i].Name, expected[i].first.substr(0, expected[i].first.find('=')));
    EXPECT_EQ(parameters[i].Value, expected[i].second) << expected[i].first;
  }

  EXPECT_EQ(BuildTransformParameters(list, kNoDeclarations)[0].Value, TValue("-42"));
}

}  // namespace
}  // namespace morvex
