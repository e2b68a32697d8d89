#include "xml/xml_options.h"

#include <libexslt/exslt.h>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxslt/extensions.h>
#include <libxslt/extra.h>
#include <libxslt/xslt.h>

#include <cstdlib>
#include <mutex>

#include "text/code_pages.h"
#include "text/encoding.h"
#include "xml/xml_document.h"

namespace morvex {

namespace {

constexpr const char* kMsxslNamespace = "urn:schemas-microsoft-com:xslt";

// Documents this system writes declare the charset names of the code-page
// table ("unicode", "unicodeFFFE", "x-mac-ce", "ks_c_5601-1987"), which iconv
// does not know by those names. Each name becomes a libxml2 alias of the
// iconv name its code page is converted with, so that such documents load
// again. Registering opens no converter: start-up stays cheap, and libxml2
// opens the one a document needs when it reads it.
void RegisterCharsetAliases() {
  for (const TCodePageRow& row : CodePageTable) {
    if (row.CharsetName[0] == '\0') continue;
    const char* iconvName = IconvNameOfCodePage(static_cast<uint16_t>(std::atoi(row.CodePage)));
    if (iconvName != nullptr) xmlAddEncodingAlias(iconvName, row.CharsetName);
  }
}

// libxml2 and libxslt keep process-wide state (the parser's tables, the
// entity loader, the stylesheet document loader, the default security
// preferences); it is set up exactly once, before the first document.
void InitXmlService() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xsltInit();
    exsltRegisterAll();
    // Stylesheets written for the Windows XML service call node-set() in its
    // own extension namespace; it is the same function as exsl:node-set.
    xsltRegisterExtModuleFunction(BAD_CAST "node-set", BAD_CAST kMsxslNamespace,
                                  xsltFunctionNodeSet);
    RegisterCharsetAliases();
    detail::InstallSecureLoaders();
  });
}

}  // namespace

bool InitXmlOptions(TXmlOptions& options) {
  options = TXmlOptions{};
  InitXmlService();
  // libxml2 and libxslt are linked in, so the service is always there and
  // plays the newest version.
  options.Version = 4;
  options.Available = true;
  return options.Available;
}

const TXmlOptions& DefaultXmlOptions() {
  static const TXmlOptions defaults = [] {
    TXmlOptions options;
    InitXmlOptions(options);
    return options;
  }();
  return defaults;
}

}  // namespace morvex
