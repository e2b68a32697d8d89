#include "xml/input_policy.h"

#include "text/encoding.h"

namespace morvex {

std::string NestingTooDeepReason() {
  return "the document nests deeper than " + std::to_string(kMaxNestingDepth) + " levels";
}

std::string OutputTooDeepMessage(std::string_view what) {
  return std::string(what) + " would nest deeper than " + std::to_string(kMaxNestingDepth) +
         " levels, more than any reader accepts.";
}

TXmlInputStart InspectXmlInputStart(std::string_view head) {
  using namespace std::string_view_literals;
  TXmlInputStart start;
  const TByteOrderMark mark = ByteOrderMarkOf(head);
  if (mark.Length == 4) {
    start = {4, mark.IconvName.data(), true};
  } else if (head.starts_with("<\0\0\0"sv)) {
    start = {0, "UTF-32LE", true};
  } else if (head.starts_with("\0\0\0<"sv)) {
    start = {0, "UTF-32BE", true};
  } else if (mark.Length > 0 || head.starts_with("<\0?\0"sv) || head.starts_with("\0<\0?"sv)) {
    start.IgnoreDeclaration = true;
  }
  return start;
}

}  // namespace morvex
