// Generated documents for the tests that compare a one-pass method with the
// whole document.
#pragma once

#include <string>

#include "tests/support/random_choice.h"

namespace morvex::testing {

// Documents with records at several depths, records inside records,
// namespaces (default, prefixed, redeclared, redundant), attributes, CDATA,
// comments, processing instructions, escaped and non-ASCII text.
class TDocumentMaker : TRandomChoice {
 public:
  explicit TDocumentMaker(unsigned seed) : TRandomChoice(seed) {}

  std::string Make() {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    out +=
        Pick({"<root xmlns:p='urn:p'>", "<root xmlns:p='urn:p' xmlns:z='urn:z'>",
              "<p:root xmlns:p='urn:p' xmlns:q='urn:q'>", "<root xmlns='urn:d' xmlns:p='urn:p'>"});
    const size_t close = out.rfind('<');
    std::string rootName = out.substr(close + 1, out.find_first_of(" >", close) - close - 1);
    const int items = 3 + Number(6);
    for (int i = 0; i < items; ++i) Item(out, 1, i);
    out += "</" + rootName + ">";
    return out;
  }

 private:
  void Text(std::string& out) {
    out += Pick({"plain", "a &amp; b &lt;c&gt;", "\xC5\x98\xC3\xADm \xE2\x82\xAC", " ", "",
                 "line\nbreak", "quote \" and '"});
  }

  void Item(std::string& out, int depth, int index) {
    switch (Number(depth > 3 ? 4 : 9)) {
      case 0:
        out += "<!-- note " + std::to_string(index) + " -->";
        return;
      case 1:
        out += "<?pi data?>";
        return;
      case 2:
        out += "\n  ";
        return;
      case 3:
        Text(out);
        return;
      default:
        break;
    }
    const std::string name = Pick({"r", "r", "r", "a", "b", "p:r", "q:r", "x"});
    std::string attributes =
        Pick({"", " id='#'", " k='x' id='7'", " p:k='\xC3\xA9'", " xmlns:q='urn:q'",
              " xmlns:p='urn:p'", " xmlns='urn:e'", " xmlns=''"});
    if (const size_t hash = attributes.find('#'); hash != std::string::npos) {
      attributes.replace(hash, 1, std::to_string(index));
    }
    // Prefixes the root may not declare are declared here (redundantly at
    // times, which the copy drops).
    std::string declarations;
    if (attributes.find("xmlns:p") == std::string::npos && Number(2) == 0) {
      declarations += " xmlns:p='urn:p'";
    }
    if (attributes.find("xmlns:q") == std::string::npos) declarations += " xmlns:q='urn:q'";
    out += "<" + name + attributes + declarations + ">";
    out += "<id>" + std::to_string(index * 10 + depth) + "</id>";
    if (Number(3) == 0) out += "<name><![CDATA[x < y ]]></name>";
    if (Number(3) == 0) {
      out += "<name>";
      Text(out);
      out += "</name>";
    }
    const int children = depth < 4 ? Number(4) : 0;
    for (int i = 0; i < children; ++i) Item(out, depth + 1, index * 10 + i);
    out += "</" + name + ">";
  }
};

}  // namespace morvex::testing
