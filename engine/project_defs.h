// The records into which the runner reads each script's steps, and the kind
// keyword tables of the project document. Kind codes are small numbers that
// other steps compare by range (transform kinds 7 to 10 are scripts), so they
// are plain constants rather than an enum class; the range tests are the
// named checks below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

class TStream;

// Source and destination kinds.
constexpr uint8_t skNone = 0;  // no usable source or destination
constexpr uint8_t skOledb = 1;
constexpr uint8_t skFile = 2;
constexpr uint8_t skStream = 3;

// Query step (`lsql`) kinds.
constexpr uint8_t qkNone = 0;
constexpr uint8_t qkFile = 1;
constexpr uint8_t qkInline = 2;
constexpr uint8_t qkStream = 3;

// Transform kinds. The inline variants (3, 8, 10) never come from a keyword:
// the runner derives them when the content is inline or read from a stream.
constexpr uint8_t tkNone = 0;
constexpr uint8_t tkXml = 1;
constexpr uint8_t tkXslt = 2;
constexpr uint8_t tkXsltInline = 3;
constexpr uint8_t tkCsv = 4;
constexpr uint8_t tkXPath = 5;
constexpr uint8_t tkJson = 6;
constexpr uint8_t tkScript = 7;
constexpr uint8_t tkScriptInline = 8;
constexpr uint8_t tkZqScript = 9;
constexpr uint8_t tkZqScriptInline = 10;
constexpr uint8_t tkJsonXml = 11;
constexpr uint8_t tkJsonCsv = 12;
constexpr uint8_t tkJPath = 13;

// The transforms that turn the input into a document for a destination:
// xml, xslt (both forms), csv, xpath and json (1 to 6).
constexpr bool IsConversionKind(uint8_t kind) { return kind >= tkXml && kind <= tkJson; }
// The script transforms, in both forms (7 to 10).
constexpr bool IsScriptKind(uint8_t kind) { return kind >= tkScript && kind <= tkZqScriptInline; }

// The statement element name used when a query document holds bare SQL and
// `cmd-id` is empty.
inline constexpr std::string_view kDefaultCommandId = "INLINE_SQL";

// A source or a destination. `Stream` points at a stream the registry owns;
// the record never owns it.
struct TXSourceInfo {
  uint8_t Kind = skNone;
  std::string Location;  // connection string, resolved file path or stream name
  std::string Encoding;  // normalised `encoding` (sources only)
  TStream* Stream = nullptr;
  // While a file destination's step runs, Location is the temporary file it
  // writes and this is the destination's own path, the one scripts are shown.
  std::string ShownLocation{};
};

// The location as the console and the log show it: a connection string with
// its passwords masked, anything else unchanged.
std::string DisplayedLocation(const TXSourceInfo& info);

struct TLSQLInfo {
  uint8_t Kind = qkNone;
  std::string QueryText;
  std::string CommandId{kDefaultCommandId};
  bool OneTransaction = false;
};

struct TXTransformInfo {
  uint8_t Kind = tkNone;
  std::string Content;        // inline content, file path or loaded script text
  std::string SecondContent;  // "zqscriptgui" inline: the second CDATA section
  std::string Encoding = "utf-8";
  std::string Delimiter = ";";
  std::string Quote = "\"";
  bool HeaderRow = true;
  std::string RecordTag;
  std::string Namespaces;
  std::string SelNamespaces;
  bool IncludeParams = true;
  bool FlatText = true;
  bool Indent = false;
  std::string Language;  // the kind keyword as written, for script kinds
};

// Rows of text cells (CSV records).
using TArrayOfArrayOfString = std::vector<std::vector<std::string>>;

// Keyword to code; keywords are compared after ASCII lower-casing.
// "oledb" 1, "file" or empty 2, "stream" 3, anything else 0.
uint8_t SourceKindOf(std::string_view keyword);
// 1 "oledb", 2 "file", 3 "stream", anything else empty text.
std::string SourceKindName(uint8_t code);
// "file" 1, "inline" 2, "stream" 3, anything else 0.
uint8_t QueryKindOf(std::string_view keyword);
// The transform keyword table; the first matching rule wins and any keyword
// not listed is an Active Script language name (7). Never returns 0, 3, 8 or 10.
uint8_t TransformKindOf(std::string_view keyword);

}  // namespace morvex
