// One lookup for every reference of a template: a name of each class binds
// in a statement and reads in its `test` alike, whatever the letter case it
// is written in, through a whole query session on SQLite.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string>
#include <vector>

#include "templates/template_session.h"
#include "tests/support/query_writer.h"
#include "tests/support/template_document.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/xml_ptr.h"

namespace morvex {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

// The CSV lines (no header) the statement <s> of `statements` gives with
// the run's `parameters`; statement <src> and <m\xC4\x9Bsta> (města) are
// there to be referred to, and are not written.
std::string RunTemplate(const std::string& statements, const std::vector<std::string>& parameters) {
  const std::string xml =
      "<lsql><src no-write='true'>SELECT 'Brno' AS v, 'Brno' AS \"n\xC3\xA1zev\"</src>"
      "<m\xC4\x9Bsta no-write='true'>SELECT 'Brno' AS v</m\xC4\x9Bsta>" +
      statements + "</lsql>";
  detail::xml_ptr<xmlDoc> doc;
  const TXmlElement root = ElementView(testing::LoadTemplateDocument(xml, doc));
  TXTransformInfo options;
  options.Kind = tkCsv;
  options.HeaderRow = false;
  TMemoryStream out;
  RunQueryTemplate("Provider=SQLite;Data Source=:memory:", false, testing::WriterFor(options),
                   options, ProgressSink(), out, TXmlElement(), parameters, root);
  std::string text = out.Data();
  if (text.starts_with(kBom)) text.erase(0, kBom.size());
  return text;
}

struct TNameCase {
  const char* Class;
  const char* Entry;      // the run parameter; empty for a field reference
  const char* Statement;  // the name as the statement writes it
  const char* Test;       // the name as the `test` writes it
};

TEST(ParameterLookup, EveryNameClassBindsInStatementsAndReadsInTests) {
  const TNameCase cases[] = {
      {"ASCII letters", "city=Brno", "city", "CITY"},
      {"letters of other scripts", "m\xC4\x9Bsto=Brno", "M\xC4\x9ASTO", "M\xC4\x9Bsto"},
      {"digits", "p2=Brno", "P2", "p2"},
      {"underscores", "_a_b=Brno", "_A_B", "_a_b"},
      {"a parameter with $", "start$day=Brno", "START$DAY", "start$day"},
      {"an element field", "", "src$v", "SRC$V"},
      {"an element field beyond ASCII", "", "src$n\xC3\xA1zev", "SRC$N\xC3\x81ZEV"},
      {"a field of an element beyond ASCII", "", "M\xC4\x9ASTA$v", "m\xC4\x9Bsta$V"},
  };
  for (const TNameCase& c : cases) {
    SCOPED_TRACE(c.Class);
    std::vector<std::string> parameters;
    if (*c.Entry) parameters.emplace_back(c.Entry);
    // A run parameter is text of the condition, so it is compared in quotes.
    const std::string statement =
        std::string("<s test=\"':") + c.Test + "' = 'Brno'\">SELECT :" + c.Statement + " AS v</s>";
    EXPECT_EQ(RunTemplate(statement, parameters), "\"Brno\"\r\n");
    // A test that does not hold keeps the statement from running.
    const std::string refused =
        std::string("<s test=\"':") + c.Test + "' = 'Praha'\">SELECT :" + c.Statement + " AS v</s>";
    EXPECT_EQ(RunTemplate(refused, parameters), "");
  }
}

// A reference is its whole name: a run parameter named like an element does
// not stand for the start of a reference to the element's field, and a
// parameter's text is not read again for references.
TEST(ParameterLookup, AReferenceIsItsWholeNameAndInsertedTextsAreNotReadAgain) {
  EXPECT_EQ(
      RunTemplate("<s test=\"':src' = 'X' and ':src$v' = 'Brno'\">SELECT :src$v</s>", {"src=X"}),
      "\"Brno\"\r\n");
  // ab gives ':b' as condition text, which stays as it is: the test reads
  // ':b' = 'x' and does not hold.
  EXPECT_EQ(RunTemplate("<s test=\":ab = 'x'\">SELECT 'ran'</s>", {"ab=':b'", "b=x"}), "");
  EXPECT_EQ(RunTemplate("<s test=\":b = 'x'\">SELECT 'ran'</s>", {"ab=':b'", "b='x'"}),
            "\"ran\"\r\n");
}

}  // namespace
}  // namespace morvex
