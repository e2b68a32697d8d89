// The project check's reference check over a template's statement tree: a
// reference is a problem exactly when a run would bind it as Null (or
// replace it by nothing in a test).
#include "engine/template_references.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/parameters.h"
#include "tests/support/template_document.h"
#include "xml/dom.h"
#include "xml/xml_ptr.h"

namespace morvex {
namespace {

using Lines = std::vector<std::string>;

struct TCase {
  const char* Name;
  const char* Template;
  Lines Problems;
};

TEST(TemplateReferences, ProblemsAreTheReferencesARunCannotSatisfy) {
  const TCase cases[] = {
      {"an earlier sibling and an enclosing statement satisfy",
       "<lsql><o>SELECT 2 AS y<a>SELECT 1 AS x</a><s>SELECT :a$x, :O$Y, :day</s></o></lsql>",
       {}},
      {"a later sibling does not",
       "<lsql><s>SELECT :later$x</s><later>SELECT 1 AS x</later></lsql>",
       {"<s>: :later$x names no earlier or enclosing statement <later>, so it is bound as Null"}},
      {"nor an earlier sibling of an enclosing statement",
       "<lsql><a>SELECT 1 AS x</a><o>SELECT 2<s>SELECT :a$x</s></o></lsql>",
       {"<s>: :a$x names no earlier or enclosing statement <a>, so it is bound as Null"}},
      {"nor an element without statement text, nor the statement itself",
       "<lsql><w><a>SELECT 1 AS x</a></w><s>SELECT :w$x, :s$x</s></lsql>",
       {"<s>: :w$x names no earlier or enclosing statement <w>, so it is bound as Null",
        "<s>: :s$x names no earlier or enclosing statement <s>, so it is bound as Null"}},
      {"parameters and tests",
       "<lsql><s test=\":dya = 1 and :DAY = 2\">SELECT :dya</s></lsql>",
       {"<s>: :dya names no parameter, so it is bound as Null, did you mean day?"}},
      {"a test alone",
       "<lsql><s test=\":nothing$x = 1\">SELECT 1</s></lsql>",
       {"<s>: :nothing$x names no earlier or enclosing statement <nothing>, so it is replaced by "
        "nothing in its test"}},
  };
  TParameterList parameters;
  parameters.Add("day=1", "");
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    detail::xml_ptr<xmlDoc> doc;
    const TXmlElement root = ElementView(testing::LoadTemplateDocument(c.Template, doc));
    EXPECT_EQ(TemplateReferenceProblems(root, parameters, TTemplateNames{}), c.Problems);
  }
}

}  // namespace
}  // namespace morvex
