// The records of one script's steps, as every floor takes them: where a step
// reads and writes (TXSourceInfo), its query step (TLSQLInfo), its
// transformation with every option the project can give it (TXTransformInfo),
// the kind codes of each, and the sink its progress lines go to. The engine
// fills them from the project; conversions, script runs and the query
// writers read the fields they use and ignore the rest.
//
// Source, destination and query kinds are small plain codes; transformation
// kinds are an enum.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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

// A source or a destination. Readers and writers take `Stream` only for the
// stream kind and open the file at `Location` otherwise.
struct TXSourceInfo {
  // skNone, skOledb, skFile or skStream.
  uint8_t Kind = skNone;
  // Connection string, resolved file path or stream name.
  std::string Location;
  // The normalised `encoding` a source is decoded with; empty when none is given.
  std::string Encoding;
  // The stream of the stream kind, owned by the project's stream registry.
  TStream* Stream = nullptr;
  // While a file destination's step runs, Location is the temporary file it
  // writes and this is the destination's own path, the name scripts see.
  std::string ShownLocation{};
};

// A query step.
struct TLSQLInfo {
  // qkNone, qkFile, qkInline or qkStream.
  uint8_t Kind = qkNone;
  // The query document's file path, inline text or stream name.
  std::string QueryText;
  // The statement element name of a query document that holds bare SQL.
  std::string CommandId{kDefaultCommandId};
  // Each phase of the template runs in one transaction.
  bool OneTransaction = false;
};

// A transformation and its options.
struct TXTransformInfo {
  // The transformation kind.
  TTransformKind Kind = tkNone;
  // Inline content, file path, JSON paths or loaded script text.
  std::string Content;
  // "zqscriptgui" inline: the second CDATA section.
  std::string SecondContent;
  // The encoding of the output the transformation writes.
  std::string Encoding = "utf-8";
  // CSV: the cell delimiter.
  std::string Delimiter = ";";
  // CSV: the quote character around cells.
  std::string Quote = "\"";
  // CSV: the first line holds the column names.
  bool HeaderRow = true;
  // XML: root[/wrapper...]/record element names; JSON: the path of the records.
  std::string RecordTag;
  // XML: name='value' attributes of the output's root element.
  std::string Namespaces;
  // XPath: the prefixes expressions may use ("xmlns:p='uri' ...").
  std::string SelNamespaces;
  // Dataset XML: the run's parameters are written in morvex_params.
  bool IncludeParams = true;
  // CSV output: a cell keeps only the text directly in its element (XML) or
  // stays empty for an object or array (JSON); off, nested text is kept.
  bool FlatText = true;
  // XML and JSON output is indented.
  bool Indent = false;
  // Script kinds: the kind keyword as written, which names the language.
  std::string Language;
};

// Receives one progress or summary line per call, or a warning line starting
// with kWarningPrefix, which the runner shows also when it leaves progress
// lines out; an empty sink produces nothing.
using ProgressSink = std::function<void(const std::string&)>;
inline constexpr std::string_view kWarningPrefix = "Warning: ";

}  // namespace morvex
