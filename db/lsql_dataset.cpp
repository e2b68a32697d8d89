#include "db/lsql_dataset.h"

#include <charconv>
#include <limits>

#include "db/parameter_entries.h"
#include "db/sql_parameters.h"

namespace morvex {

namespace {

// Added to the database's message for a syntax error in a statement whose
// text held "::".
constexpr const char* kLiteralColonHint =
    " (\"::\" in a statement stands for one \":\": write casts as CAST(x AS type) or "
    "x::::type)";

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

int32_t ClampCount(int64_t count) {
  if (count > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (count < 0) return -1;
  return static_cast<int32_t>(count);
}

// The number a kept value stands for, as the drivers read it from a live record.
double NumberOf(const TDbValue& value) {
  if (const auto* i = std::get_if<int64_t>(&value)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* t = std::get_if<TDbDateTime>(&value)) return t->Value;
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  if (const auto* s = std::get_if<std::string>(&value)) {
    double number = 0;
    std::from_chars(s->data(), s->data() + s->size(), number);
    return number;
  }
  return 0;
}

}  // namespace

TLSQLDataset::TLSQLDataset(TDbConnection& connection, std::string_view statementText)
    : connection_(connection), statementText_(statementText) {
  TParsedSql parsed = ParseSqlParameters(statementText);
  sqlText_ = std::move(parsed.Text);
  paramNames_ = std::move(parsed.Names);
  params_.resize(paramNames_.size());
  hasLiteralColon_ = parsed.HasLiteralColon;
}

TLSQLDataset::~TLSQLDataset() { Close(); }

void TLSQLDataset::Execute() {
  Close();
  try {
    if (!statement_) {
      statement_ = connection_.Prepare(sqlText_, ParamCount());
      statement_->SetReadAlone(readAlone_);
    }
    int64_t count = -1;
    std::unique_ptr<TDbResultSet> result = statement_->Execute(params_, count);
    RowsAffected = ClampCount(count);
    result_ = std::move(result);
  } catch (const EDbSyntaxError& error) {
    // A PostgreSQL cast written x::type reached the database as x:type.
    if (!hasLiteralColon_) throw;
    throw EMorvexError(std::string(error.what()) + kLiteralColonHint);
  }
}

bool TLSQLDataset::TryQueue(uint64_t tag) {
  if (!statement_) return false;
  Close();
  if (!statement_->TryQueue(params_, tag)) return false;
  RowsAffected = -1;
  return true;
}

void TLSQLDataset::SetReadAlone(bool alone) {
  readAlone_ = alone;
  if (statement_) statement_->SetReadAlone(alone);
}

bool TLSQLDataset::Eof() const { return !result_ || result_->Eof(); }

void TLSQLDataset::Next() {
  if (Eof()) return;
  if (keepLastRecord_) {
    const int count = result_->FieldCount();
    kept_.resize(count);
    for (int i = 0; i < count; ++i) {
      TKeptField& field = kept_[i];
      field.Null = result_->IsNull(i);
      if (field.Null) {
        field.Text.clear();
        field.Value = TDbNull{};
      } else {
        field.Text = result_->AsText(i);
        field.Value = result_->AsValue(i);
      }
    }
  }
  result_->Next();
}

void TLSQLDataset::Close() noexcept {
  kept_.clear();
  if (!result_) return;
  try {
    result_->Close();
  } catch (...) {
    // Releasing a cursor that the server has already dropped is no failure
    // of the statement; the result set is gone either way.
  }
  result_.reset();
}

bool TLSQLDataset::ReadsKeptRecord() const { return result_ && result_->Eof(); }

const TLSQLDataset::TKeptField* TLSQLDataset::KeptField(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= kept_.size()) return nullptr;
  return &kept_[index];
}

int TLSQLDataset::FieldCount() const { return result_ ? result_->FieldCount() : 0; }

const std::string& TLSQLDataset::FieldName(int index) const {
  return result_ ? result_->Field(index).Name : EmptyText();
}

TFieldType TLSQLDataset::FieldType(int index) const {
  return result_ ? result_->Field(index).Type : ftUnknown;
}

int TLSQLDataset::FindField(std::string_view name) const {
  const int count = FieldCount();
  for (int i = 0; i < count; ++i) {
    if (SameTextIgnoringCase(result_->Field(i).Name, name)) return i;
  }
  return -1;
}

bool TLSQLDataset::IsNull(int index) const {
  if (!result_) return true;
  if (ReadsKeptRecord()) {
    const TKeptField* field = KeptField(index);
    return !field || field->Null;
  }
  return result_->IsNull(index);
}

std::string TLSQLDataset::AsText(int index) const {
  if (!result_) return {};
  if (ReadsKeptRecord()) {
    const TKeptField* field = KeptField(index);
    return field ? field->Text : std::string();
  }
  return result_->AsText(index);
}

bool TLSQLDataset::FieldText(int index, std::string& scratch, std::string_view& text) const {
  if (!result_) return false;
  if (ReadsKeptRecord()) {
    const TKeptField* field = KeptField(index);
    if (!field || field->Null) return false;
    text = field->Text;
    return true;
  }
  return result_->FieldText(index, scratch, text);
}

double TLSQLDataset::AsFloat(int index) const {
  if (!result_) return 0;
  if (ReadsKeptRecord()) {
    const TKeptField* field = KeptField(index);
    return field ? NumberOf(field->Value) : 0;
  }
  return result_->AsFloat(index);
}

double TLSQLDataset::AsDateTime(int index) const {
  if (!result_) return 0;
  if (ReadsKeptRecord()) {
    const TKeptField* field = KeptField(index);
    return field ? NumberOf(field->Value) : 0;
  }
  return result_->AsDateTime(index);
}

TDbValue TLSQLDataset::AsValue(int index) const {
  if (!result_) return TDbNull{};
  if (ReadsKeptRecord()) {
    const TKeptField* field = KeptField(index);
    return field ? field->Value : TDbValue(TDbNull{});
  }
  return result_->AsValue(index);
}

}  // namespace morvex
