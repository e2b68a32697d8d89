// The connection helper: the one object through which query templates and
// the import reach a database. It creates the datasets of template
// statements, types and binds their ":name" parameters, replaces element
// references in `test` conditions, executes statements, and keeps the
// statement handles that tie template elements to their datasets.
//
// References ":element$field" are resolved from the template document: the
// preceding siblings of the statement's element, nearest first, then its
// ancestors, nearest first. Binding a parameter looks past a candidate that
// cannot supply the value; text substitution stops at the first element with
// the right name and a statement handle. The pseudo-field "rowsaffected"
// gives the candidate's RowsAffected in both, also when its dataset is not
// active (a statement that only changes data leaves it inactive).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/lsql_dataset.h"
#include "db/parameter_entries.h"

struct _xmlNode;

namespace morvex {

class TDbConnection;

// (name, value) pairs an importer supplies per record; names with "$" are
// looked up here first.
using TNameValuePairs = std::vector<std::pair<std::string, std::string>>;

class TLSQLConnHelper {
 public:
  // The session owns `connection` and keeps it open while the helper lives.
  explicit TLSQLConnHelper(TDbConnection& connection) : Connection(&connection) {}
  ~TLSQLConnHelper();

  TLSQLConnHelper(const TLSQLConnHelper&) = delete;
  TLSQLConnHelper& operator=(const TLSQLConnHelper&) = delete;

  TDbConnection* Connection;

  TPhase Phase = TPhase::Main;  // the statements that run now
  bool HasAfterOpen = false;    // a statement is marked after-open
  bool HasBeforeClose = false;  // a statement is marked before-close
  // The phase runs in a transaction of its own (one-transaction): after a
  // failure nothing of it stays, whatever the connection says of it by
  // then (a lost connection, or SQLite after a full disk, has no open
  // transaction left).
  bool PhaseTransaction = false;

  // A new dataset for `statementText` on the helper's connection; parses the
  // parameters, does not execute.
  std::unique_ptr<TLSQLDataset> CreateDataset(std::string_view statementText);

  // Gives parameters still of type ftUnknown the type declared for them in
  // `declarations` (the project's parameters element; nothing happens when
  // null): the name with "$" turned into "-" names a child element (tried
  // as written, then upper-cased), whose `kind` attribute is the value type
  // name (FieldTypeOfClass).
  void PrepareParameterTypes(TLSQLDataset& dataset, const _xmlNode* declarations);

  // Sets every parameter of `dataset` before an execution, in order:
  // 1. a project parameter of that name (ignoring case) with a non-empty
  //    value: that text (type ftString unless typed already);
  // 2. a name with "$": the first pair of that whole name (ignoring case),
  //    then the reference element$field resolved from `element`'s position
  //    (the field's current value and type, or RowsAffected as ftInteger);
  // 3. anything else, an empty project parameter among them: Null.
  // `parameters` and `pairs` may be null. The names are looked up once per
  // parameter list, pair names and element (see TLSQLDataset::BindPlan).
  void BindParameters(TLSQLDataset& dataset, const TParameterValues* parameters,
                      const _xmlNode* element, const TNameValuePairs* pairs);

  // In `text`, replaces ":" + each name of `names` holding a "$" (letter
  // case ignored) by the referenced field's text with trailing blanks
  // removed, or by RowsAffected for "rowsaffected", through `replace`; an
  // unresolved name is left in the text.
  void SubstituteReferences(std::string& text, const std::vector<std::string>& names,
                            const _xmlNode* element, TReplaceReference replace = ReplaceReference);

  // Executes `dataset` once; it is active afterwards when the statement
  // returned rows. Returns the rows affected, 0 when the count is unknown.
  int32_t ExecuteDataset(TLSQLDataset& dataset);

  // Queues the execution of `element`'s dataset instead (TLSQLDataset::
  // TryQueue) while an importer runs a record (QueueRecord) and the dataset
  // is Queueable; true when queued.
  bool QueueDataset(TLSQLDataset& dataset, const _xmlNode* element);

  // The record an importer runs the template for, 0 when none: executions
  // are queued only then, tagged with the record and the element.
  int64_t QueueRecord = 0;
  // Waits for the queued executions (TDbConnection::Flush); the rows they
  // affected. Raises EDbQueuedError for one that failed.
  int64_t FlushQueue();
  // The record and the element of a queued execution's tag.
  static int64_t QueuedRecord(uint64_t tag);
  const _xmlNode* QueuedElement(uint64_t tag) const;

  // Statement handles. The helper owns the dataset of each template element
  // and hands out a handle number, written into the element's `morvex-qptr`
  // attribute for the user's eye only: lookups go by the element itself, so
  // a `morvex-qptr` that the user wrote never counts as a handle.
  //
  // Attaches `dataset` to `element` (replacing an earlier one), sets the
  // attribute, and returns the dataset.
  TLSQLDataset& AttachDataset(_xmlNode* element, std::unique_ptr<TLSQLDataset> dataset);
  // The dataset attached to `element`, or nullptr when it has no handle.
  TLSQLDataset* DatasetOf(const _xmlNode* element) const;
  // Frees the dataset of `element` (its handle is gone afterwards).
  void FreeDataset(const _xmlNode* element);
  // Frees every dataset; the connection stays open.
  void FreeAllDatasets();

 private:
  std::unordered_map<const _xmlNode*, std::unique_ptr<TLSQLDataset>> datasets_;
  int nextHandle_ = 1;
  std::vector<const _xmlNode*> queuedElements_;  // indexed by the tags' low bits
};

}  // namespace morvex
