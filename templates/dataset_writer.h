// The dataset writers: visitors of the template walk (WalkTemplate), which
// runs each statement when its turn comes; they write its records straight
// onto the output stream while they are read (nothing of a result set is held), either
// as a dataset XML document or as CSV text.
//
// Dataset XML layout (default names):
//   <morvex_data>                      root, attributes from the namespaces option
//     <morvex_params><p>v</p></morvex_params>     only with include-params
//     <orders>                         one element per top-level statement
//       <r>                            one per record
//         <id>7</id> ...               one element per field, in field order
//         <items><r>...</r></items>    nested statements, inside the record
//       </r>
//     </orders>
//   </morvex_data>
//
// The document always reads back: element names come from data (template
// elements, record tags, columns) and one XML cannot hold, a prefixed name
// included, fails the element; a parameter whose name XML cannot hold is left
// out of morvex_params and named in a detail line; characters XML cannot hold
// are written as U+FFFD, and a detail line after the document tells in how
// many values.
//
// Errors raised while an element is processed are re-raised as EMorvexError
// prefixed with the element's tag name, "Record #n" once a record has started
// and `Field "name"` while a field is written (XML only); enclosing elements
// prefix again, so messages read outermost first. Anything that is not an
// EMorvexError passes unchanged. Output written before an error stays in the
// stream; a file destination is kept only when its step succeeds (the runner
// writes it to a temporary file first).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "templates/template_tree.h"
#include "text/step_info.h"

namespace morvex {

class TStream;
class TXmlStreamWriter;
class TLSQLConnHelper;

// Which output a query step produces: nothing (the statements only run and
// their rows affected are counted), CSV text, or a dataset XML document. A
// transformation kind's row (engine/transform_kinds.h) says which.
enum class TQueryOutputKind : uint8_t { None, DatasetXml, Csv };

// Writes one complete dataset XML document onto `out` for `tree` (prepared by
// PrepareTemplate), running the statements of the helper's
// current Phase. `parameters` are the run's "name=value" entries. Used options:
// Encoding (empty: the default charset; a name without a conversion fails
// before anything is written), Indent, RecordTag, Namespaces, IncludeParams.
// A template whose records could nest deeper than any reader accepts
// (kMaxNestingDepth) fails before anything runs or is written.
void WriteDatasetXml(const TTemplateTree& tree, TStream& out,
                     const std::vector<std::string>& parameters, const TXTransformInfo& options,
                     const ProgressSink& sink, TLSQLConnHelper& helper);

// The recursive worker of WriteDatasetXml: writes the statements among the
// children of `parent`, and their nested elements inside each of
// their records, into the open `writer`. `recordTag` names the record
// elements of statements without a record-tag attribute of their own.
void WriteRecordsXml(const TTemplateStatement& parent, TXmlStreamWriter& writer,
                     const std::vector<std::string>& parameters, const std::string& recordTag,
                     const ProgressSink& sink, TLSQLConnHelper& helper);

// Appends CSV text for the top-level statements of `tree` to `out`: the
// encoding's byte-order mark, an optional header line (from the first written
// statement that has fields), then one line per record ending in CR LF.
// Nested statements are neither run nor written. Used options: Encoding
// (EncodingForName: letter case ignored, an unknown name fails before
// anything is written), HeaderRow, Quote, Delimiter.
void WriteDatasetCsv(const TTemplateTree& tree, const std::vector<std::string>& parameters,
                     TStream& out, const TXTransformInfo& options, const ProgressSink& sink,
                     TLSQLConnHelper& helper);

}  // namespace morvex
