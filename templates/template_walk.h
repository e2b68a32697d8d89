// The walks over a prepared query template (templates/template_tree.h):
// preparation, the execute-only walk, the close walk and `test` conditions.
// The sessions, the dataset writers and the importers share them. Each walk
// considers only statements whose phase equals the helper's Phase, at every
// depth.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/lsql_conn_helper.h"
#include "db/parameter_entries.h"
#include "templates/template_tree.h"
#include "text/step_info.h"
#include "xml/element_view.h"

namespace morvex {

// Creates the dataset of every statement of `tree` (depth first, document
// order), types its parameters from `declarations` (PrepareParameterTypes),
// gives it the statement's phase (and sets the helper's HasAfterOpen and
// HasBeforeClose) and attaches it to the statement. The first error ends the
// preparation silently: later statements stay without a dataset and never
// run.
void PrepareTemplate(const TTemplateTree& tree, TXmlElement declarations, TLSQLConnHelper& helper);

// One statement while a walk is on it. The walk fills Statement, Dataset,
// Tag and Record; a visitor keeps what it needs between its calls in the
// other members.
struct TWalkStatement {
  const TTemplateStatement* Statement = nullptr;
  TLSQLDataset* Dataset = nullptr;
  std::string Tag;     // the tag name as written, with its prefix
  int64_t Record = 0;  // the number of the current record; 0 before the first
  // The field being written, named in the message of an error; set and
  // cleared by the visitor.
  const std::string* Field = nullptr;
  bool Write = true;                 // the writers: false with no-write="true"
  std::string RecordTag;             // the XML writer: the record element's name
  std::vector<TFieldClass> Classes;  // the writers: FieldTypeClass of every field
};

// What a walk does besides running statements. Every call may throw; the
// walk wraps an EMorvexError with the statement's tag, record and field.
class TTemplateVisitor {
 public:
  virtual ~TTemplateVisitor() = default;
  // The statement ran and has a result set; no record has been read yet.
  virtual void StatementStart(TWalkStatement& /*statement*/) {}
  // A record is current; its nested statements run after this call.
  virtual void RecordStart(TWalkStatement& /*statement*/) {}
  // The record's nested statements ran and were closed.
  virtual void RecordEnd(TWalkStatement& /*statement*/) {}
  // The last record has been read.
  virtual void StatementEnd(TWalkStatement& /*statement*/) {}
  // An EMorvexError is about to leave the statement.
  virtual void StatementFailed(TWalkStatement& /*statement*/) noexcept {}
};

// Which statements directly under a template root (IsTemplateRoot) end with the line
// "<tag>: <n> record(s) processed.".
enum class TTotalLines : uint8_t { None, ResultSets, Every };

struct TTemplateWalk {
  const TParameterValues* Parameters = nullptr;  // the run's parameters
  const TNameValuePairs* Pairs = nullptr;        // the import record
  const ProgressSink* Sink = nullptr;            // null or empty: no lines
  bool Nested = true;                            // run nested statements once per record
  TTotalLines Totals = TTotalLines::None;
};

// The one walk over the statements of the helper's Phase among the children
// of `parent`, in document order. A dataset that is not active runs when its
// `test` holds (bound with the walk's parameters and pairs, executed); a
// `test` false only because it exceeds an evaluator limit sends LimitWarning
// (condition.h) with the tag to the sink, once per statement and step; an
// active one is read to its end, and with Nested each record runs the nested
// statements (this walk again) and closes them after, so that they run
// afresh for the next record. Every 10000th record of an element gives
// "<tag>: <n> records processed ..."; totals as walk.Totals says. Errors
// (EMorvexError) come out as
//   "<tag>: <message>"                            before the first record
//   "<tag>: Record #<n>: <message>"               once a record has started
//   "<tag>: Record #<n>, Field "<field>": <message>"  while a field is written
// and enclosing elements prefix again. Returns the rows affected by all
// statements run, at all depths.
int64_t WalkTemplate(const TTemplateStatement& parent, const TTemplateWalk& walk,
                     TTemplateVisitor& visitor, TLSQLConnHelper& helper);

// Runs the statements of the helper's Phase among the children of `parent`
// and, once per record, their nested statements (WalkTemplate without a
// visitor). With `report` and a sink, each element directly under a template
// root gives "<tag>: <n> record(s) processed.", whether or not its statement
// gave a result set. Returns the rows affected by all statements run, at all
// depths.
int64_t ExecuteTemplate(const TTemplateStatement& parent, const TParameterValues* parameters,
                        const TNameValuePairs* pairs, bool report, const ProgressSink& sink,
                        TLSQLConnHelper& helper);

// Closes the datasets of all statements below `statement`, descendants
// first, and with `free` frees them. Never throws.
void CloseTemplate(const TTemplateStatement& statement, bool free,
                   TLSQLConnHelper& helper) noexcept;

// True when the `test` condition `text` of `statement` holds: an empty text is
// true. References ":name" are replaced in one pass (ReplaceParameterReferences),
// each name by the first that has it: run parameters as text (they are part
// of the project), then the values of the record
// (the columns in `parameters`, `pairs` with CR LF turned into a blank, then
// element references through ResolveReference) each as one literal
// (ConditionLiteral), so that no value changes the condition; what is left is
// removed. The result goes to EvaluateCondition; a condition that does not
// evaluate is false.
bool EvaluateTest(std::string_view text, const TTemplateStatement& statement,
                  const TParameterValues* parameters, const TLSQLConnHelper& helper,
                  const TNameValuePairs* pairs);
// EvaluateTest that also names the evaluator limit a false condition
// exceeded (EvaluateCondition), emptied otherwise.
bool EvaluateTest(std::string_view text, const TTemplateStatement& statement,
                  const TParameterValues* parameters, const TLSQLConnHelper& helper,
                  const TNameValuePairs* pairs, std::string& exceededLimit);

// True when `statement` is the root of a template whose root element's local
// name is exactly "lsql".
bool IsTemplateRoot(const TTemplateStatement& statement);

}  // namespace morvex
