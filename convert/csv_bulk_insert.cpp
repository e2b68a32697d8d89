#include "convert/csv_bulk_insert.h"

#include <utility>

#include "db/plain_insert.h"
#include "text/case_fold.h"
#include "text/error.h"

namespace morvex {

std::unique_ptr<TCsvBulkInsert> TCsvBulkInsert::Open(const TTemplateTree& tree,
                                                     TLSQLConnHelper& helper,
                                                     const TParameterValues& list) {
  if (!helper.Connection || !helper.PhaseTransaction || helper.Phase != TPhase::Main ||
      tree.StatementCount() != 1) {
    return nullptr;
  }
  const TTemplateStatement& statement = tree.Statement(0);
  if (statement.Parent != &tree.Root() || !statement.Children.empty() || !statement.Test.empty() ||
      statement.Phase != TPhase::Main || SameTextIgnoringCase(statement.Tag, "source")) {
    return nullptr;
  }
  TLSQLDataset* dataset = helper.DatasetOf(statement.Index);
  if (!dataset || dataset->Phase != TPhase::Main) return nullptr;
  const std::optional<TPlainInsert> insert = ParsePlainInsert(dataset->SqlText());
  if (!insert || insert->ValueCount != static_cast<size_t>(dataset->ParamCount())) return nullptr;
  // A declared parameter type makes the per-record path convert the value
  // before the server sees it.
  std::vector<int> slots;
  for (int i = 0; i < dataset->ParamCount(); ++i) {
    const TFieldType type = dataset->Param(i).DataType;
    if (type != ftUnknown && type != ftString) return nullptr;
    slots.push_back(list.Find(dataset->ParamName(i)));
  }
  std::unique_ptr<TDbBulkInsert> bulk;
  try {
    bulk = helper.Connection->OpenBulkInsert(insert->Table, insert->Columns, insert->ValueCount);
  } catch (const EMorvexError&) {
    // The per-record path meets the same trouble and words it as always.
    return nullptr;
  }
  if (!bulk) return nullptr;
  return std::make_unique<TCsvBulkInsert>(std::move(bulk), std::move(slots));
}

TCsvBulkInsert::TCsvBulkInsert(std::unique_ptr<TDbBulkInsert> bulk, std::vector<int> slots)
    : bulk_(std::move(bulk)), slots_(std::move(slots)), values_(slots_.size()) {}

void TCsvBulkInsert::Add(const std::vector<std::string>& cells, const TParameterValues& list) {
  if (batch_.size() <= size_) batch_.emplace_back();
  batch_[size_++] = cells;
  if (perRecord_) return;
  // As the per-record binding does: a value is its slot's text, Null when
  // empty or when no column or run parameter has the name (a single
  // statement has nothing a reference could point to).
  for (size_t i = 0; i < slots_.size(); ++i) {
    const std::string_view value =
        slots_[i] == TParameterValues::kNoSlot ? std::string_view() : list.Value(slots_[i]);
    if (value.find('\0') != std::string_view::npos) {
      // Only the per-record path words the server's refusal of it.
      perRecord_ = true;
      bulk_->AbandonBatch();
      return;
    }
    values_[i] = value.empty() ? std::nullopt : std::optional<std::string_view>(value);
  }
  bulk_->AddRow(values_);
}

bool TCsvBulkInsert::Send(int64_t last, int64_t& rows, const TRunRecord& run,
                          const ProgressSink& progress) {
  if (size_ == 0) return true;
  const size_t size = std::exchange(size_, 0);
  if (!std::exchange(perRecord_, false)) {
    try {
      rows += bulk_->FinishBatch();
      ReportProgress(progress, last);
      return true;
    } catch (const EMorvexError&) {
      // The batch was taken back; its records run one by one below.
    }
  }
  const int64_t first = last - static_cast<int64_t>(size) + 1;
  for (size_t i = 0; i < size; ++i) {
    if (!run(batch_[i], first + static_cast<int64_t>(i))) return false;
  }
  return true;
}

}  // namespace morvex
