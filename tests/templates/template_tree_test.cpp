// The statement tree a query template is read into: which elements are
// statements, what each carries, and where a reference of each may point.
#include "templates/template_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/template_document.h"

namespace morvex {
namespace {

using Names = std::vector<std::string>;

// "tag@line(parent)" for every statement in document order.
Names Outline(const TTemplateTree& tree) {
  Names lines;
  for (size_t i = 0; i < tree.StatementCount(); ++i) {
    const TTemplateStatement& s = tree.Statement(i);
    EXPECT_EQ(s.Index, i);
    EXPECT_EQ(s.Parent->Children.at(s.Position).get(), &s);
    lines.push_back(s.Tag + "@" + std::to_string(s.Line) + "(" +
                    (s.Parent->IsRoot() ? std::string("root") : s.Parent->Tag) + ")");
  }
  return lines;
}

TEST(TemplateTree, StatementsAreElementsWithTextAndNestOnlyInStatements) {
  const auto tree = testing::LoadTemplateTree(
      "<lsql>\n"
      "<a>  SELECT 1\n"
      "  <b after-open='yes'>SELECT 2</b></a>\n"
      "<wrapper><c>SELECT 3</c></wrapper>\n"
      "<d>\n  <![CDATA[SELECT 4 WHERE 1 < 2]]></d>\n"
      "<p:e xmlns:p='urn:p' before-close='yes' test=':x = 1'><!-- note --> SELECT 5 </p:e>\n"
      "<f no-write='true' record-tag='row'>SELECT <![CDATA[6]]> AND 2 &gt; 1<!-- end -->x</f>\n"
      "<g> <![CDATA[ ]]> </g></lsql>");
  EXPECT_EQ(tree->Root().Tag, "lsql");
  EXPECT_TRUE(tree->Root().IsRoot());
  EXPECT_EQ(Outline(*tree),
            (Names{"a@2(root)", "b@3(a)", "d@5(root)", "p:e@7(root)", "f@8(root)"}));

  struct TCase {
    const char* Path;
    const char* Sql;
    TPhase Phase;
    const char* Test;
    bool NoWrite;
    const char* RecordTag;
  };
  const TCase cases[] = {
      {"a", "SELECT 1\n  ", TPhase::Main, "", false, ""},
      {"a/b", "SELECT 2", TPhase::AfterOpen, "", false, ""},
      {"d", "SELECT 4 WHERE 1 < 2", TPhase::Main, "", false, ""},
      {"p:e", "SELECT 5 ", TPhase::BeforeClose, ":x = 1", false, ""},
      {"f", "SELECT 6 AND 2 > 1", TPhase::Main, "", true, "row"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path);
    const TTemplateStatement& s = testing::StatementAt(*tree, c.Path);
    EXPECT_EQ(s.Sql, c.Sql);
    EXPECT_EQ(s.Phase, c.Phase);
    EXPECT_EQ(s.Test, c.Test);
    EXPECT_EQ(s.NoWrite, c.NoWrite);
    EXPECT_EQ(s.RecordTag, c.RecordTag);
  }
}

TEST(TemplateTree, AfterOpenWinsOverBeforeCloseAndNoRootGivesNoStatements) {
  const auto tree =
      testing::LoadTemplateTree("<q><s after-open='1' before-close='1'>SELECT 1</s></q>");
  EXPECT_EQ(testing::StatementAt(*tree, "s").Phase, TPhase::AfterOpen);
  EXPECT_EQ(tree->Root().Tag, "q");

  const TTemplateTree empty{TXmlElement()};
  EXPECT_EQ(empty.StatementCount(), 0u);
  EXPECT_TRUE(empty.Root().Children.empty());
}

// Where ":tag$field" of a statement may point, nearest first: the earlier
// siblings, then the enclosing statements; never later siblings, the
// statement itself, the siblings of enclosing statements or the root.
TEST(TemplateTree, ReferenceCandidatesAreEarlierSiblingsThenEnclosingStatements) {
  const auto tree = testing::LoadTemplateTree(
      "<lsql><first>1</first><outer>2<x1>3</x1><x2>4<in1>5</in1><in2>6</in2>"
      "<s>7</s><after>8</after></x2><x3>9</x3></outer><last>10</last></lsql>");
  const auto candidates = [&](const char* path) {
    Names tags;
    VisitReferenceCandidates(testing::StatementAt(*tree, path),
                             [&](const TTemplateStatement& candidate) {
                               tags.push_back(candidate.Tag);
                               return false;
                             });
    return tags;
  };
  EXPECT_EQ(candidates("outer/x2/s"), (Names{"in2", "in1", "x2", "outer"}));
  EXPECT_EQ(candidates("outer/x1"), (Names{"outer"}));
  EXPECT_EQ(candidates("last"), (Names{"outer", "first"}));
  EXPECT_EQ(candidates("first"), Names{});

  // The visit stops at the first statement the visitor accepts.
  Names seen;
  EXPECT_TRUE(VisitReferenceCandidates(testing::StatementAt(*tree, "outer/x2/s"),
                                       [&](const TTemplateStatement& candidate) {
                                         seen.push_back(candidate.Tag);
                                         return candidate.Tag == "in1";
                                       }));
  EXPECT_EQ(seen, (Names{"in2", "in1"}));
}

}  // namespace
}  // namespace morvex
