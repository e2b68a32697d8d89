// The records into which the runner reads each script's steps, and the
// source, destination and query kind codes with their keywords. The
// transformation kinds are an enum whose meaning lives in one table
// (engine/transform_kinds.h).
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

// Transformation kinds. The inline variants never come from a keyword: the
// runner derives them when the content is inline or read from a stream. What
// each kind means (keywords, content, the operation it runs, the combinations
// it allows) is its row in engine/transform_kinds.h; code asks the row, never
// a range of codes. The values are stable: they are the codes the kinds have
// always had.
enum class TTransformKind : uint8_t {
  tkNone = 0,
  tkXml = 1,
  tkXslt = 2,
  tkXsltInline = 3,
  tkCsv = 4,
  tkXPath = 5,
  tkJson = 6,
  tkScript = 7,
  tkScriptInline = 8,
  tkZqScript = 9,
  tkZqScriptInline = 10,
  tkJsonXml = 11,
  tkJsonCsv = 12,
  tkJPath = 13,
};
using enum TTransformKind;

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
  TTransformKind Kind = tkNone;
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

}  // namespace morvex
