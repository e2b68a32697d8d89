#include "xml/xml_options.h"

#include <libexslt/exslt.h>
#include <libxml/parser.h>
#include <libxslt/xslt.h>

#include <mutex>

#include "xml/xml_document.h"

namespace morvex {

namespace {

// libxml2 and libxslt keep process-wide state (the parser's tables, the
// entity loader, the stylesheet document loader, the default security
// preferences); it is set up exactly once, before the first document.
void InitXmlService() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xsltInit();
    exsltRegisterAll();
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
