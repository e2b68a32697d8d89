#include "xml/input_policy.h"

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
  if (head.starts_with("\xFF\xFE\0\0"sv)) {
    start = {4, "UTF-32LE", true};
  } else if (head.starts_with("\0\0\xFE\xFF"sv)) {
    start = {4, "UTF-32BE", true};
  } else if (head.starts_with("<\0\0\0"sv)) {
    start = {0, "UTF-32LE", true};
  } else if (head.starts_with("\0\0\0<"sv)) {
    start = {0, "UTF-32BE", true};
  } else if (head.starts_with("\xFF\xFE"sv) || head.starts_with("\xFE\xFF"sv) ||
             head.starts_with("\xEF\xBB\xBF"sv) || head.starts_with("<\0?\0"sv) ||
             head.starts_with("\0<\0?"sv)) {
    start.IgnoreDeclaration = true;
  }
  return start;
}

}  // namespace morvex
