// What libxml2 and libxslt report while one step of this layer runs. Their
// messages arrive through process-wide (per-thread) callbacks and would
// otherwise be printed to standard error; a TErrorCapture collects them so
// that they become the reason in the step's own message.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <libxml/xmlerror.h>

namespace morvex::detail {

// Collects every message of this thread while it lives, and puts the
// previous handlers back when it ends. Lines libxml2 writes in its own terms
// are told in this system's: an unknown function becomes "unknown XPath
// function NAME", a node-set over libxml2's size limit says so and suggests
// an explicit path.
class TErrorCapture {
 public:
  TErrorCapture();
  ~TErrorCapture();
  TErrorCapture(const TErrorCapture&) = delete;
  TErrorCapture& operator=(const TErrorCapture&) = delete;

  // The collected lines joined by "; ", or `fallback` when nothing came.
  std::string Message(std::string_view fallback);

  // True once libxml2 reported that a node-set reached its size limit. It
  // then goes on with the nodes it holds, so a result that comes back anyway
  // is incomplete and must not be used.
  bool NodeLimitHit() const { return nodeLimit_; }

  // Called by libxml2 and libxslt: nothing may escape them.
  static void OnGeneric(void* context, const char* format, ...);
  static void OnStructured(void* context, xmlError* error);

 private:
  void AddText(std::string_view text);
  void AddLine(std::string line);
  void AddStructured(const xmlError& error);

  xmlGenericErrorFunc oldXmlGeneric_;
  void* oldXmlGenericContext_;
  xmlStructuredErrorFunc oldStructured_;
  void* oldStructuredContext_;
  xmlGenericErrorFunc oldXsltGeneric_;
  void* oldXsltGenericContext_;
  std::string partial_;
  std::string unknownFunction_;  // named by libxml2's line, told with the expression
  bool nodeLimit_ = false;       // the node-set limit was reported
  std::vector<std::string> lines_;
};

// What is said of an XPath expression ("the XPath expression " + this) that
// selects more nodes than libxml2 holds in one node-set.
extern const char* const kNodeLimitReason;

}  // namespace morvex::detail
