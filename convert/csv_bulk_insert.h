// The CSV import's fast way into a table. A template that is one plain
// INSERT of parameters (db/plain_insert.h) with nothing around it (no `test`,
// no nested or other statement, none named "source"), run under
// one-transaction, stores exactly what the driver's bulk insert stores
// (TDbConnection::OpenBulkInsert): its records go there in batches of 10000,
// the interval at which the per-record path waits for its queue. A batch
// that fails is taken back and run again record by record, so that the
// failure, its record and its message, the lines before it and the rollback
// are those of the per-record path.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/conversion_io.h"
#include "db/driver.h"
#include "db/lsql_conn_helper.h"
#include "db/parameter_entries.h"
#include "templates/template_tree.h"

namespace morvex {

class TCsvBulkInsert {
 public:
  // Runs one record through the per-record path (its number second); false
  // when it failed.
  using TRunRecord = std::function<bool(const std::vector<std::string>&, int64_t)>;

  // The bulk insert for `tree` bound from `list`; null when the template,
  // the phase or the destination needs the per-record path.
  static std::unique_ptr<TCsvBulkInsert> Open(const TTemplateTree& tree, TLSQLConnHelper& helper,
                                              const TParameterValues& list);

  TCsvBulkInsert(std::unique_ptr<TDbBulkInsert> bulk, std::vector<int> slots);

  // Adds the record whose cells `list` holds (`cells`, kept for a second run).
  void Add(const std::vector<std::string>& cells, const TParameterValues& list);

  // Ends the batch, whose last record is number `last`: adds the rows stored
  // to `rows` and reports progress as the per-record path would. A batch
  // that failed runs again through `run`; false when a record failed there.
  bool Send(int64_t last, int64_t& rows, const TRunRecord& run, const ProgressSink& progress);

 private:
  std::unique_ptr<TDbBulkInsert> bulk_;
  std::vector<int> slots_;  // each value's slot in the list, or kNoSlot
  std::vector<std::optional<std::string_view>> values_;
  std::vector<std::vector<std::string>> batch_;
  size_t size_ = 0;         // records in the batch
  bool perRecord_ = false;  // a value the bulk insert cannot take came
};

}  // namespace morvex
