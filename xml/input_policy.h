// What every reader of XML input accepts, and what every writer keeps to so
// that its output reads back: one nesting limit (also for JSON, whose
// documents the XML to JSON conversion writes), no DTD, and the encodings the
// writers write, told by the input's first bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace morvex {

// The deepest nesting any reader accepts: elements of an XML document,
// arrays and objects of a JSON document. Deeper input is refused, so that
// code walking a tree recursively (libxslt, tree copies, the JSON writer)
// never runs out of stack; writers refuse to go deeper, so that whatever a
// project writes reads back. libxslt's own recursion limit (3000 nested
// templates) lies above it, so an identity transformation of the deepest
// document still runs.
inline constexpr int kMaxNestingDepth = 2048;

// The reason every reader gives for input nested deeper than
// kMaxNestingDepth: "the document nests deeper than 2048 levels".
std::string NestingTooDeepReason();

// The message of a writer that would nest deeper than kMaxNestingDepth,
// `what` naming the output ("The dataset XML"): "<what> would nest deeper
// than 2048 levels, more than any reader accepts."
std::string OutputTooDeepMessage(std::string_view what);

// The reason every reader gives for a document with a document type
// declaration (an internal subset or an external DTD).
inline constexpr const char* kDtdProhibited = "DTD is prohibited.";

// How the parser is to decode an input, from its first (up to four) bytes.
struct TXmlInputStart {
  // Bytes of a byte-order mark the parser must not see (it does not know a
  // UTF-32 mark); 0 otherwise.
  size_t SkipBytes = 0;
  // The libxml2 encoding name to decode with, where libxml2's own detection
  // gets it wrong (UTF-32: it takes FF FE 00 00 for UTF-16LE and reads
  // 3C 00 00 00 as big-endian UCS-4); nullptr to leave it to libxml2.
  const char* Encoding = nullptr;
  // The bytes settle the encoding (a byte-order mark, or "<?" in UTF-16 or
  // UTF-32): the declaration's name is then not followed. It may be one of
  // the table's names for the same bytes ("unicode" for UTF-16LE with a mark,
  // "unicodeFFFE") that would switch libxml2 to another byte order.
  bool IgnoreDeclaration = false;
};

TXmlInputStart InspectXmlInputStart(std::string_view head);

}  // namespace morvex
