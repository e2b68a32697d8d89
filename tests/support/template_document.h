// Template documents for tests: parsed as the runner parses query templates
// (blank text nodes dropped, nothing loaded from the network).
#pragma once

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string_view>

#include "xml/xml_ptr.h"

namespace morvex::testing {

// Parses `xml` into `doc` and returns its document element (null, with a
// test failure, when the text does not parse).
inline _xmlNode* LoadTemplateDocument(std::string_view xml, detail::xml_ptr<xmlDoc>& doc) {
  doc.reset(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                          XML_PARSE_NOBLANKS | XML_PARSE_NONET));
  EXPECT_NE(doc, nullptr);
  return doc ? xmlDocGetRootElement(doc.get()) : nullptr;
}

}  // namespace morvex::testing
