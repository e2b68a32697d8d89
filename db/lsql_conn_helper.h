// The connection helper: the one object through which query templates and
// the import reach a database. It creates and executes the datasets of
// template statements, keeps them by statement number for the session,
// queues executions while an importer runs a record, and knows the phase
// that runs now. What a statement's parameters are bound to, and where an
// ":element$field" reference points, the templates decide
// (templates/statement_binding.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/lsql_dataset.h"

namespace morvex {

class TDbConnection;

// (name, value) pairs an importer supplies per record; names with "$" are
// looked up here first.
using TNameValuePairs = std::vector<std::pair<std::string, std::string>>;

// The index of the first pair named `name` (letter case ignored, as every
// parameter name), or -1.
int FindPair(const TNameValuePairs& pairs, std::string_view name);

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

  // Executes `dataset` once; it is active afterwards when the statement
  // returned rows. Returns the rows affected, 0 when the count is unknown.
  int32_t ExecuteDataset(TLSQLDataset& dataset);

  // Queues the execution of the dataset of statement number `statement`
  // instead (TLSQLDataset::TryQueue) while an importer runs a record
  // (QueueRecord) and the dataset is Queueable; true when queued.
  bool QueueDataset(TLSQLDataset& dataset, size_t statement);

  // The record an importer runs the template for, 0 when none: executions
  // are queued only then, tagged with the record and the statement number.
  int64_t QueueRecord = 0;
  // Waits for the queued executions (TDbConnection::Flush); the rows they
  // affected. Raises EDbQueuedError for one that failed.
  int64_t FlushQueue();
  // The record and the statement number of a queued execution's tag.
  static int64_t QueuedRecord(uint64_t tag);
  static size_t QueuedStatement(uint64_t tag);

  // The datasets of the session, by statement number (TTemplateStatement::
  // Index). Attaches `dataset` to statement `statement` (replacing an
  // earlier one) and returns it.
  TLSQLDataset& AttachDataset(size_t statement, std::unique_ptr<TLSQLDataset> dataset);
  // The dataset of statement `statement`, or nullptr when it has none (the
  // preparation stopped before it, or it was freed).
  TLSQLDataset* DatasetOf(size_t statement) const;
  // Frees the dataset of statement `statement`.
  void FreeDataset(size_t statement);
  // Frees every dataset; the connection stays open.
  void FreeAllDatasets();

 private:
  std::vector<std::unique_ptr<TLSQLDataset>> datasets_;
};

}  // namespace morvex
