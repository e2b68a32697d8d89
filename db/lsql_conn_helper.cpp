#include "db/lsql_conn_helper.h"

#include "db/driver.h"
#include "text/case_fold.h"

namespace morvex {

namespace {

// A queued execution's tag: the record number above these bits, the
// statement number in them.
constexpr int kStatementBits = 16;
constexpr uint64_t kStatementMask = (uint64_t{1} << kStatementBits) - 1;

}  // namespace

int FindPair(const TNameValuePairs& pairs, std::string_view name) {
  for (size_t p = 0; p < pairs.size(); ++p) {
    if (SameTextIgnoringCase(pairs[p].first, name)) return static_cast<int>(p);
  }
  return -1;
}

TLSQLConnHelper::~TLSQLConnHelper() { FreeAllDatasets(); }

std::unique_ptr<TLSQLDataset> TLSQLConnHelper::CreateDataset(std::string_view statementText) {
  return std::make_unique<TLSQLDataset>(*Connection, statementText);
}

int32_t TLSQLConnHelper::ExecuteDataset(TLSQLDataset& dataset) {
  dataset.Execute();
  return dataset.RowsAffected < 0 ? 0 : dataset.RowsAffected;
}

bool TLSQLConnHelper::QueueDataset(TLSQLDataset& dataset, size_t statement) {
  if (QueueRecord <= 0 || !dataset.Queueable || statement > kStatementMask) return false;
  return dataset.TryQueue(static_cast<uint64_t>(QueueRecord) << kStatementBits | statement);
}

int64_t TLSQLConnHelper::FlushQueue() { return Connection ? Connection->Flush() : 0; }

int64_t TLSQLConnHelper::QueuedRecord(uint64_t tag) {
  return static_cast<int64_t>(tag >> kStatementBits);
}

size_t TLSQLConnHelper::QueuedStatement(uint64_t tag) { return tag & kStatementMask; }

TLSQLDataset& TLSQLConnHelper::AttachDataset(size_t statement,
                                             std::unique_ptr<TLSQLDataset> dataset) {
  if (datasets_.size() <= statement) datasets_.resize(statement + 1);
  datasets_[statement] = std::move(dataset);
  return *datasets_[statement];
}

TLSQLDataset* TLSQLConnHelper::DatasetOf(size_t statement) const {
  return statement < datasets_.size() ? datasets_[statement].get() : nullptr;
}

void TLSQLConnHelper::FreeDataset(size_t statement) {
  if (statement < datasets_.size()) datasets_[statement].reset();
}

void TLSQLConnHelper::FreeAllDatasets() { datasets_.clear(); }

}  // namespace morvex
