// The transformation kinds, one row each: what the `kind` keyword of a
// `transform` element selects, what its content is, what the `-v` line shows,
// which steps it combines with (and the message when it does not), the prefix
// of its failures and the operation that runs it. Everything that decides by
// kind reads its row: the resolver of the transform step, the combination
// checks and the dispatcher, `--check`, the files a run reads, the parameters
// a project uses, the project built from inline options and the schema test.
// Adding a kind is a row here (with its enumerator in TTransformKind) and its
// operation file; a conversion of convert/ is named in the row through
// Conversion<>, with no other engine code (docs/architecture.md).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/operations.h"
#include "engine/project_defs.h"
#include "templates/dataset_writer.h"

namespace morvex {

// What the text of a `transform` element is.
enum class TContentRule : uint8_t {
  None,          // nothing: the keyword says everything, the text is not read
  FileOrInline,  // a file's path; a CDATA section or a stream's text makes
                 // the kind its inline form (InlineForm) with that text
  Expressions,   // expressions: a CDATA section, a stream's text, the text
                 // of the file it names (one expression a line), or itself
};

// How the `-v` line "Transformation: ..." shows the step.
enum class TLabelRule : uint8_t {
  Label,           // Label as it stands: "csv"
  Expressions,     // Label + " (" + the expressions, line ends as "; " + ")"
  LanguageInline,  // the script language + " (inline)"
  File,            // the file's path
  FileOrLabel,     // the file's path, or Label when there is none
  FileOrLanguage,  // the file's path, else the language, else Label
};

// The data a kind reads and writes. Query output is dataset XML, so a kind
// whose input is JSON refuses a query step (its QueryUse is Refused).
enum class TDataFormat : uint8_t { Xml, Csv, Json, Any };

// What a query template on a database source does for the kind.
enum class TQueryUse : uint8_t {
  StatementsOnly,  // no transformation: the statements run, no destination
  ResultIsOutput,  // the query writes the destination itself (QueryWrites)
  FeedsOperation,  // the query writes dataset XML that Run then reads
  // The same through a temporary file instead of memory, for an operation
  // that reads its input in one pass: its memory then stays flat however
  // large the query output.
  FeedsOperationFromDisk,
  Refused,  // the kind cannot read query output
};

struct TTransformKindRow {
  TTransformKind Kind;
  // Lower-case keywords that select the kind, the kind's own name first;
  // none for the derived inline forms.
  std::vector<std::string_view> Keywords;
  TLabelRule LabelRule;
  std::string_view Label;
  TContentRule Content;
  TTransformKind InlineForm;     // the kind inline content turns this one into
  std::string_view ContentFile;  // what a content file is, for the run's inputs
  // The keyword under which a second CDATA section is the second content.
  std::string_view SecondSectionKeyword;
  TDataFormat Input;
  TDataFormat Output;
  // Runs a script: needs no destination, may write to a database itself,
  // runs on a database source without a query, and reads the project's
  // parameters and its language name from the keyword.
  bool Script;
  bool UsesParameters;  // typed stylesheet or script parameters are built for it
  TQueryUse QueryUse;
  TQueryOutputKind QueryWrites;  // what a query on a database source writes
  std::string_view ErrorPrefix;  // put before the message of a failed Run
  operations::TOperation Run;    // a file or stream source, or query output
  // A database destination with a query template: the import the kind
  // selects (the records of the format its keyword names: xml imports XML
  // records, csv CSV records; one template run each), or null with the
  // message that refuses it (empty: the common refusal).
  operations::TOperation Import;
  std::string_view ImportRefusal;
};

// Every kind's row, in the order keywords are matched and suggested.
std::span<const TTransformKindRow> TransformKindRows();

// The row of `kind`.
const TTransformKindRow& TransformKindRow(TTransformKind kind);

// Keyword to kind, ASCII letter case ignored; the empty keyword is xml, and a
// keyword no row lists is a script language name (tkScript). Never returns an
// inline form or tkNone.
TTransformKind TransformKindOf(std::string_view keyword);

// Every keyword of every row, in table order.
std::vector<std::string> TransformKeywords();

// The keywords of the conversions, the kinds whose keyword is the whole
// transformation (no content), in table order.
std::vector<std::string> ConversionKeywords();

// The row's Script property.
bool IsScriptKind(TTransformKind kind);

// True for the kinds whose content names a file the run reads whole (a
// stylesheet or a script file): the file forms of FileOrInline content.
bool NamesContentFile(TTransformKind kind);

}  // namespace morvex
