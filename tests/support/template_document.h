// Template documents for tests: parsed as the runner parses query templates
// (blank text nodes dropped, nothing loaded from the network), and the
// statements of their trees found by path.
#pragma once

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <memory>
#include <string>
#include <string_view>

#include "templates/template_tree.h"
#include "xml/dom.h"
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

// The tree of the template `xml`; the document goes once the tree is built.
inline std::unique_ptr<TTemplateTree> LoadTemplateTree(std::string_view xml) {
  detail::xml_ptr<xmlDoc> doc;
  return std::make_unique<TTemplateTree>(ElementView(LoadTemplateDocument(xml, doc)));
}

// The statement at `path` below the root: tags joined by "/", each
// optionally followed by "[n]" for the n-th statement of that tag among its
// siblings (from 1); nullptr when there is none.
inline const TTemplateStatement* FindStatement(const TTemplateTree& tree, std::string_view path) {
  const TTemplateStatement* at = &tree.Root();
  while (!path.empty()) {
    const size_t slash = path.find('/');
    std::string_view step = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    int n = 1;
    if (const size_t bracket = step.find('['); bracket != std::string_view::npos) {
      n = std::stoi(std::string(step.substr(bracket + 1)));
      step = step.substr(0, bracket);
    }
    const TTemplateStatement* found = nullptr;
    for (const auto& child : at->Children) {
      if (child->Tag == step && --n == 0) {
        found = child.get();
        break;
      }
    }
    if (!found) return nullptr;
    at = found;
  }
  return at;
}

// FindStatement, with a failure of the test (and the root) when there is
// none.
inline const TTemplateStatement& StatementAt(const TTemplateTree& tree, std::string_view path) {
  const TTemplateStatement* found = FindStatement(tree, path);
  if (found) return *found;
  ADD_FAILURE() << "no statement " << path;
  return tree.Root();
}

}  // namespace morvex::testing
