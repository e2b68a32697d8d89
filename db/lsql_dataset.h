// TLSQLDataset: one statement of a query template over the driver interface.
// The statement text is parsed for ":name" parameters when the dataset is
// created; the driver statement is prepared on the first execution (a table
// that an earlier statement of the session creates may not exist before) and
// then executed as often as the template asks. The result set is read
// forward only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"

namespace morvex {

// When a template statement runs: in the main part of the step, right after
// the connection opens (after-open="true"), or right before it closes
// (before-close="true").
enum class TPhase : uint8_t { Main, AfterOpen, BeforeClose };

class TLSQLDataset {
 public:
  // Parses `statementText`; does not touch the database. `connection` must
  // outlive the dataset.
  TLSQLDataset(TDbConnection& connection, std::string_view statementText);
  ~TLSQLDataset();

  TLSQLDataset(const TLSQLDataset&) = delete;
  TLSQLDataset& operator=(const TLSQLDataset&) = delete;

  // The text as the user wrote it, and as it goes to the driver ("?" for
  // every parameter).
  const std::string& StatementText() const { return statementText_; }
  const std::string& SqlText() const { return sqlText_; }

  // The parameters in order of occurrence; each starts with type ftUnknown
  // and a Null value. BindParameters sets them before each execution.
  int ParamCount() const { return static_cast<int>(params_.size()); }
  const std::string& ParamName(int index) const { return paramNames_.at(index); }
  TDbParameter& Param(int index) { return params_.at(index); }
  const TDbParameter& Param(int index) const { return params_.at(index); }

  // The phase the statement belongs to; the template preparation sets it.
  TPhase Phase = TPhase::Main;
  // Free for the caller; the template walk notes here that it has warned
  // about the statement's `test`, so that the warning comes once per step.
  bool TestWarned = false;

  // Where the connection helper found each parameter's value when it last
  // bound them, so that a statement run once per record looks its names up
  // once; the helper checks that each part still applies before using it.
  struct TBindPlan {
    struct TParam {
      int Slot = -1;          // in the parameter list ListId (TParameterValues::kNoSlot: none)
      int Pair = -1;          // among pairs named PairNames; -1: none
      bool Dollar = false;    // the name holds "$"
      bool MayRefer = false;  // an element the name may refer to exists
    };
    std::vector<TParam> Params;
    bool SlotsFound = false;
    uint64_t ListId = 0;  // TParameterValues::Id, 0 for no list
    bool PairsFound = false;
    std::vector<std::string> PairNames;
    const void* ReferencesFrom = nullptr;  // the element MayRefer was found for
  };
  TBindPlan BindPlan;

  // The count the last execution reported, negative when the driver does not
  // know it (a SELECT); kept after Close. Counts beyond 32 bits are clamped.
  int32_t RowsAffected = 0;

  // Runs the statement once with the current parameters: closes the open
  // result, prepares the statement on first use, stores the count in
  // RowsAffected and, when the statement returned rows, becomes active on the
  // first record. Raises EMorvexError with the driver's message; for a
  // syntax error in a text that held "::" (one literal ":") the message
  // adds how to write a cast.
  void Execute();

  // Set by the template's preparation for a statement whose outcome no
  // other statement reads: it may be queued.
  bool Queueable = false;

  // Queues an execution with the current parameters where the driver can
  // (TDbStatement::TryQueue, so only after a first Execute): closes the open
  // result and returns true when queued. RowsAffected is then unknown (-1);
  // the connection's Flush counts the rows.
  bool TryQueue(uint64_t tag);

  // Active: a result set is attached (also after its last record, until
  // Close). Eof: no current record (past the last one, or not active).
  bool Active() const { return result_ != nullptr; }
  bool Eof() const;
  // Moves to the next record; a no-op at the end or when not active.
  void Next();
  // Releases the result set; the dataset can be executed again. Never throws.
  void Close() noexcept;

  // Set when no statement runs on the connection while this one's result
  // is open (no statement is nested in it); the driver may then stream the
  // result without a cursor (TDbStatement::SetReadAlone).
  void SetReadAlone(bool alone);

  // With this set, the values of the last record stay readable after Next
  // has gone past it, so that a later statement can still refer to the
  // last record of one that has finished. Costs a copy of every record.
  void SetKeepLastRecord(bool keep) { keepLastRecord_ = keep; }

  // Fields of the active result (0 fields when not active). Values read the
  // current record; at the end, the last record when it was kept, otherwise
  // Null. Field indexes must be below FieldCount().
  int FieldCount() const;
  const std::string& FieldName(int index) const;
  TFieldType FieldType(int index) const;
  // Index of the field named `name` ignoring letter case; -1 when none.
  int FindField(std::string_view name) const;
  bool IsNull(int index) const;
  std::string AsText(int index) const;
  double AsFloat(int index) const;
  double AsDateTime(int index) const;
  TDbValue AsValue(int index) const;
  // IsNull and AsText in one call (TDbResultSet::FieldText): false for a
  // null field; otherwise `text` views AsText's text, which may lie in
  // `scratch` or in the driver's buffer, until the next FieldText, Next or
  // Close.
  bool FieldText(int index, std::string& scratch, std::string_view& text) const;

 private:
  struct TKeptField {
    bool Null = true;
    std::string Text;
    TDbValue Value;
  };
  bool ReadsKeptRecord() const;
  const TKeptField* KeptField(int index) const;

  TDbConnection& connection_;
  std::string statementText_;
  std::string sqlText_;
  std::vector<std::string> paramNames_;
  std::vector<TDbParameter> params_;
  std::unique_ptr<TDbStatement> statement_;
  std::unique_ptr<TDbResultSet> result_;
  bool hasLiteralColon_ = false;  // the text held "::"
  bool keepLastRecord_ = false;
  bool readAlone_ = false;
  std::vector<TKeptField> kept_;  // the previous record while keepLastRecord_
};

}  // namespace morvex
