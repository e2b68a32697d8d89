// Ownership of libxml2 and libxslt handles: one deleter per handle type, so
// that every handle is a std::unique_ptr that frees it on every path.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>

#include <memory>

namespace morvex::detail {

struct XmlDeleter {
  void operator()(xmlDoc* p) const noexcept { xmlFreeDoc(p); }
  void operator()(xmlNode* p) const noexcept { xmlFreeNode(p); }
  void operator()(xmlParserCtxt* p) const noexcept {
    if (p->myDoc) xmlFreeDoc(p->myDoc);
    xmlFreeParserCtxt(p);
  }
  void operator()(xmlXPathContext* p) const noexcept { xmlXPathFreeContext(p); }
  void operator()(xmlXPathObject* p) const noexcept { xmlXPathFreeObject(p); }
  void operator()(xmlXPathCompExpr* p) const noexcept { xmlXPathFreeCompExpr(p); }
  void operator()(xmlSaveCtxt* p) const noexcept { xmlSaveClose(p); }
  void operator()(xmlOutputBuffer* p) const noexcept { xmlOutputBufferClose(p); }
  void operator()(xmlChar* p) const noexcept { xmlFree(p); }
  void operator()(char* p) const noexcept { xmlFree(p); }
  void operator()(xmlURI* p) const noexcept { xmlFreeURI(p); }
  void operator()(xsltStylesheet* p) const noexcept { xsltFreeStylesheet(p); }
  void operator()(xsltTransformContext* p) const noexcept { xsltFreeTransformContext(p); }
  void operator()(xsltSecurityPrefs* p) const noexcept { xsltFreeSecurityPrefs(p); }
};

template <typename T>
using xml_ptr = std::unique_ptr<T, XmlDeleter>;

}  // namespace morvex::detail
