// A statement bound once per record finds where each parameter comes from
// once (a column of the import record, a run parameter, a pair, an element,
// or nothing) and then reads the values by place. These cases bind record
// after record through that and compare every value with the lookup rules
// applied afresh to the whole name=value list written out.
#include <gtest/gtest.h>

#include <optional>

#include "db/lsql_conn_helper.h"
#include "db/open_connection.h"
#include "templates/statement_binding.h"
#include "tests/support/template_document.h"

namespace morvex {
namespace {

using Names = std::vector<std::string>;

// The statement's parameters: column names in other letter cases, number
// names, run parameters, names nothing has, names without "$", and the
// field of the template's element "source".
constexpr const char* kStatement =
    "SELECT :source$ID, :Source$Name, :source$1, :SOURCE$2, :source$3, :source$4, "
    ":source$x, :p, :P2, :q, :source$čÍSLA, :source$missing, :source$name, :plain";

// What the source element's dataset gives for "source$x".
constexpr const char* kElementValue = "from the element";

// The list an import record stands for: per column each of its names with
// the cell, then the run's entries whose name is not yet in it.
Names WrittenOut(const std::vector<Names>& columnNames, const Names& cells, const Names& run) {
  Names list;
  for (size_t column = 0; column < columnNames.size(); ++column) {
    for (const std::string& name : columnNames[column]) list.push_back(name + "=" + cells[column]);
  }
  for (const std::string& entry : run) {
    if (!FindParameterEntry(list, entry.substr(0, entry.find('=')))) list.push_back(entry);
  }
  return list;
}

// The value the binding rules give `name`, looked up from scratch; nullopt
// for Null.
std::optional<std::string> Expected(const std::string& name, const Names& list,
                                    const TNameValuePairs* pairs) {
  if (const std::string* entry = FindParameterEntry(list, name)) {
    const std::string_view value = ParameterEntryValue(*entry);
    if (!value.empty()) return std::string(value);
  }
  if (name.find('$') == std::string::npos) return std::nullopt;
  if (pairs) {
    for (const auto& [pairName, value] : *pairs) {
      if (SameTextIgnoringCase(pairName, name)) return value;
    }
  }
  if (SameTextIgnoringCase(name, "source$x")) return kElementValue;
  return std::nullopt;
}

std::optional<std::string> Bound(const TDbParameter& parameter) {
  if (std::holds_alternative<TDbNull>(parameter.Value)) return std::nullopt;
  return std::get<std::string>(parameter.Value);
}

class BindPlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection_ = OpenConnection("Data Source=:memory:");
    helper_ = std::make_unique<TLSQLConnHelper>(*connection_);
    tree_ = testing::LoadTemplateTree("<lsql><source>-</source><s>-</s><t>-</t></lsql>");
    const TTemplateStatement& source = testing::StatementAt(*tree_, "source");
    statement_ = &testing::StatementAt(*tree_, "s");
    fresh_ = &testing::StatementAt(*tree_, "t");
    helper_->ExecuteDataset(helper_->AttachDataset(
        source.Index, helper_->CreateDataset(std::string("SELECT '") + kElementValue + "' AS x")));
    helper_->AttachDataset(statement_->Index, helper_->CreateDataset(kStatement));
  }

  // Binds the kept statement with `parameters` and a new one with the list
  // written out, and checks both against Expected.
  void Check(const TParameterValues& parameters, const Names& list, const TNameValuePairs* pairs) {
    TLSQLDataset& kept = *helper_->DatasetOf(statement_->Index);
    BindParameters(kept, &parameters, *statement_, pairs, *helper_);
    const TParameterValues plain(&list);
    TLSQLDataset& fresh = helper_->AttachDataset(fresh_->Index, helper_->CreateDataset(kStatement));
    BindParameters(fresh, &plain, *fresh_, pairs, *helper_);
    for (int i = 0; i < kept.ParamCount(); ++i) {
      SCOPED_TRACE(kept.ParamName(i));
      const std::optional<std::string> expected = Expected(kept.ParamName(i), list, pairs);
      EXPECT_EQ(Bound(kept.Param(i)), expected);
      EXPECT_EQ(Bound(fresh.Param(i)), expected);
    }
  }

  std::unique_ptr<TTemplateTree> tree_;
  std::unique_ptr<TDbConnection> connection_;
  std::unique_ptr<TLSQLConnHelper> helper_;
  const TTemplateStatement* statement_ = nullptr;
  const TTemplateStatement* fresh_ = nullptr;
};

struct TColumnsCase {
  const char* Name;
  std::vector<Names> ColumnNames;
  Names Run;
  std::vector<Names> Records;
};

TEST_F(BindPlanTest, ImportColumnsBindAsTheirListWouldRecordAfterRecord) {
  const std::vector<TColumnsCase> cases = {
      {"header and number names, run parameters hidden by a column in another case",
       {{"source$id", "source$1"}, {"source$name", "source$2"}, {"source$3"}},
       {"SOURCE$1=hidden", "source$NAME=hidden too", "p=run", "P2=", "source$4=run 4"},
       {{"1", "Ann", "x"}, {"2", "", ""}, {"", "Bob", "z"}, {"4", "Cy", ""}}},
      {"two columns of one header name: the first wins",
       {{"source$id", "source$1"}, {"source$ID", "source$2"}},
       {"q=5", "Q=6"},
       {{"first", "second"}, {"", "second"}}},
      {"names beyond ASCII compared without case",
       {{"source$Čísla", "source$1"}, {"source$2"}},
       {"source$ČÍSLA=hidden"},
       {{"čí", "2"}, {"", "3"}}},
      {"an empty cell falls through to the element's field",
       {{"source$x", "source$1"}},
       {"source$x=hidden by the column"},
       {{"cell"}, {""}, {"again"}}},
      {"no columns: the run's entries alone, duplicates first wins",
       {},
       {"p=1", "P=2", "source$id=7", "plain=", "source$x="},
       {{}, {}}},
  };
  for (const TColumnsCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TParameterValues parameters(c.ColumnNames, &c.Run);
    for (const Names& cells : c.Records) {
      SCOPED_TRACE(::testing::PrintToString(cells));
      parameters.SetCells(cells);
      Check(parameters, WrittenOut(c.ColumnNames, cells, c.Run), nullptr);
    }
  }
}

// Pairs: the places found stay while the records have the same names in
// the same places, and are found again when they change.
TEST_F(BindPlanTest, PairsBindAsLookedUpAfreshWhateverTheOrderOfNames) {
  const Names run = {"source$name=from the run", "p=run", "source$3="};
  const std::vector<TNameValuePairs> records = {
      {{"source$id", "1"}, {"source$name", "Ann"}, {"source$3", "c"}},
      {{"source$id", "2"}, {"source$name", "Bob"}, {"source$3", ""}},
      {{"source$name", "Cy"}, {"source$id", "3"}},
      {{"SOURCE$ID", "upper"}, {"source$id", "lower"}},
      {{"source$id", "lower"}, {"SOURCE$ID", "upper"}},
      {},
      {{"source$x", "pair beats element"}, {"source$čísla", "čí"}},
      {{"source$id", "5"}, {"source$name", "Dan"}, {"source$3", "e"}},
  };
  const TParameterValues parameters(&run);
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    Check(parameters, run, &records[i]);
  }
  // Without pairs the element and the run answer.
  Check(parameters, run, nullptr);
}

// A slot found in one list is never read from another list, even one with
// the same entries.
TEST_F(BindPlanTest, AnotherListIsLookedUpAgain) {
  const Names first = {"p=1", "source$id=a"};
  const Names second = {"source$id=b", "q=2", "p=3"};
  for (const Names* run : {&first, &second, &first}) {
    const TParameterValues parameters(run);
    Check(parameters, *run, nullptr);
  }
}

}  // namespace
}  // namespace morvex
