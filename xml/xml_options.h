// Options for creating and saving XML documents, and the process-wide
// defaults every other folder copies from.
#pragma once

#include <cstdint>
#include <string>

namespace morvex {

// Copied by value. A caller that needs another output encoding or indentation
// copies DefaultXmlOptions() and changes Encoding and Indent in the copy.
struct TXmlOptions {
  bool Available = false;  // a document service was found by the probe
  uint8_t Version = 0;     // 0 none, 1 = 2.6, 2 = 3.0, 3 = 4.0, 4 = 6.0 (libxml2 is 4)
  bool NewParser = true;
  std::string SelectionNamespaces;  // "xmlns:p='uri' xmlns:q='uri'" for XPath prefixes
  std::string SelectionLanguage = "XPath";
  bool AllowXsltScript = true;
  bool ProhibitDTD = true;  // documents with a DTD are refused as a parse error
  bool UseInlineSchema = true;
  bool AllowDocumentFunction = true;  // XSLT document() may read local files
  std::string Encoding = "unicode";   // output encoding name, also written in the declaration
  bool Indent = false;
  bool Async = false;
};

// Sets every field to its default, probes the XML service (libxml2 and
// libxslt stand for the newest version, 6.0, so Version becomes 4), and
// returns Available.
bool InitXmlOptions(TXmlOptions& options);

// The process-wide options, probed on first use and read-only afterwards.
const TXmlOptions& DefaultXmlOptions();

}  // namespace morvex
