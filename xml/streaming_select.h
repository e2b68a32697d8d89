// Node selection in one pass over the input, for the common expressions that
// name their records by a path of element names: /a/b/r, //r, //p:r[id > 5].
// Only each candidate record's subtree is ever built (with the declarations
// of its ancestors in scope); its predicates are tested on it with libxml2's
// XPath, the record is written when they hold and freed at once. Memory stays
// flat however large the input.
#pragma once

#include <string>
#include <string_view>

#include "xml/selection_path.h"

struct _xmlNode;

namespace morvex {

class TStream;
class TXmlContainerSave;
struct TXmlOptions;

// True when every line of `expressions` (lines as SelectXmlToDocument splits
// them) is an absolute location path of child (/) and descendant (//) steps
// with name tests (a name, a prefix declared in `selectionNamespaces` with a
// name or *, or *), predicates only on the last step, and predicates that
// look only inside the selected element and are not positional: the
// selection of each line then needs no more of the input than each
// candidate's subtree. Anything else (positions, the axes that leave the
// element, absolute paths or unions inside predicates, variables, functions
// outside the core set, an invalid expression) gives false, so that the
// document path, with its own messages, handles it.
bool IsStreamableSelection(std::string_view expressions, std::string_view selectionNamespaces);

// Selects for one line: reads `source` from its position to its end, and
// hands each selected element to `write`, in document order. `prepare` is
// called once with the qualified name of the input's document element,
// before the first `write`. Returns the number of elements selected. Raises
// EMorvexError for anything that goes wrong (a parse error, an expression
// that is not streamable); what was written is then incomplete.
class TStreamingSelection {
 public:
  virtual ~TStreamingSelection() = default;
  virtual void Prepare(const std::string& rootName) = 0;
  virtual void Write(_xmlNode* element) = 0;
};
int SelectStreaming(TStream& source, std::string_view expression,
                    std::string_view selectionNamespaces, TStreamingSelection& output);

}  // namespace morvex
