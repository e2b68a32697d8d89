// The parts of the template walk that the XML and the CSV writer share: which
// child elements are statements of the current phase, running a statement
// when its turn comes, progress lines and the wrapping of errors with the
// element's name, record number and field name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "templates/dataset_writer_options.h"

struct _xmlNode;

namespace morvex {

class TLSQLConnHelper;
class TLSQLDataset;

namespace detail {

// The next child element of `parent` after `after` (the first one for
// nullptr), or nullptr.
_xmlNode* NextChildElement(const _xmlNode* parent, const _xmlNode* after);

// The element's tag name as written (with its namespace prefix).
std::string TagName(const _xmlNode* element);

// The dataset of `element` when it is a statement element of the helper's
// current phase; nullptr otherwise.
TLSQLDataset* PhaseDataset(const _xmlNode* element, TLSQLConnHelper& helper);

// Runs the statement of `element` unless its dataset is already active: when
// the element's `test` holds, binds the parameters and executes. Returns
// whether the dataset is active afterwards (false for a false test and for a
// statement without a result set).
bool OpenStatement(_xmlNode* element, TLSQLDataset& dataset,
                   const std::vector<std::string>& parameters, TLSQLConnHelper& helper);

// The type class (FieldTypeClass) of every field of the active dataset.
std::vector<int> FieldClasses(const TLSQLDataset& dataset);

// "<tag>: <n> records processed ..." when a sink is given and n is a multiple
// of 10000.
void ReportProgress(const ProgressSink& sink, const std::string& tag, int64_t n);
// "<tag>: <n> record(s) processed." when a sink is given and `parent` is a
// template root.
void ReportTotal(const ProgressSink& sink, const _xmlNode* parent, const std::string& tag,
                 int64_t n);

// The message of an error caught while element `tag` was processed:
//   n = 0                "<tag>: <message>"
//   no field             "<tag>: Record #<n>: <message>"
//   field being written  "<tag>: Record #<n>, Field "<field>": <message>"
std::string WrappedMessage(const std::string& tag, int64_t n, std::string_view field,
                           std::string_view message);

}  // namespace detail
}  // namespace morvex
