// The morvex_params element of dataset XML: one element per run parameter,
// in list order, also for parameters declared with a hyphen in their name.
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <string>
#include <vector>

#include "templates/template_session.h"
#include "tests/support/query_writer.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/xml_document.h"

namespace morvex {
namespace {

std::string DatasetXml(const std::vector<std::string>& parameters) {
  const TXmlDocument document = LoadXmlText("<lsql><q>select 1 as x</q></lsql>");
  TXTransformInfo options;
  options.Kind = tkXml;
  TMemoryStream out;
  RunQueryTemplate("Provider=SQLite;Data Source=:memory:", false, testing::WriterFor(options),
                   options, {}, out, TXmlElement(), parameters,
                   ElementView(xmlDocGetRootElement(document.get())));
  return out.Data();
}

TEST(DatasetXmlParameters, DeclaredHyphenatedNamesKeepTheirDeclaredName) {
  // <start-date> declared in the project is listed as start$date; "$" cannot
  // stand in an element name, so the element takes the declared name back.
  EXPECT_EQ(DatasetXml({"start$date=2013-05-01", "city=Brno", "empty="}),
            "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>"
            "<morvex_data><morvex_params><start-date>2013-05-01</start-date><city>Brno</city>"
            "<empty/></morvex_params><q><r><x>1</x></r></q></morvex_data>");
}

TEST(DatasetXmlParameters, NoParametersNoElement) {
  EXPECT_EQ(DatasetXml({}),
            "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>"
            "<morvex_data><q><r><x>1</x></r></q></morvex_data>");
}

}  // namespace
}  // namespace morvex
