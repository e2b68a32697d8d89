// The database platform interface: the one small contract every driver
// (SQLite, PostgreSQL, ODBC) implements and everything above db/ drivers
// relies on. Nothing above this header sees a driver's own types.
//
// - A connection is opened from an OLE DB style connection string
//   (OpenConnection in db/open_connection.h picks the driver).
// - Statements carry "?" placeholders, bound positionally at execution.
// - Result sets are forward-only and stream: a driver never holds a whole
//   result in memory, and a statement may be executed on the same connection
//   while the result set of another statement is still open (nested template
//   statements read the parent row while the child runs).
// - Every failure raises EMorvexError with the driver's own message; a
//   password never appears in a message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "db/field_types.h"
#include "text/error.h"

namespace morvex {

// Raised by a driver, with the database's own message, when the database
// rejects a statement's text as malformed SQL; the layer above adds what it
// knows of how the text was changed on its way (see TLSQLDataset::Execute).
class EDbSyntaxError : public EMorvexError {
 public:
  using EMorvexError::EMorvexError;
};

// Raised for an execution that was queued (TDbStatement::TryQueue) and
// failed on the server: the message is the database's own, Tag the one the
// execution was queued with. The queued executions after it were not
// applied.
class EDbQueuedError : public EMorvexError {
 public:
  EDbQueuedError(const std::string& message, uint64_t tag) : EMorvexError(message), Tag(tag) {}
  uint64_t Tag = 0;
};

// A bound parameter value or a field value. Date-times are days since
// 1899-12-30 with the time of day as the fraction; TDbBytes holds raw bytes.
struct TDbNull {};
struct TDbBytes {
  std::string Bytes;
};
struct TDbDateTime {
  double Value = 0;
};
using TDbValue = std::variant<TDbNull, int64_t, double, std::string, TDbBytes, TDbDateTime, bool>;

struct TDbParameter {
  TDbValue Value;                   // TDbNull binds SQL NULL
  TFieldType DataType = ftUnknown;  // the declared type; drivers may use it to choose the binding
};

struct TDbFieldInfo {
  std::string Name;
  TFieldType Type = ftUnknown;
};

// A driver's result set supplies Eof, Next, Close and two primitives over
// the current record (NullAt, ValueAt; TextAt when it has a cheaper way to
// the text); the base class owns the field list, the index check and every
// value accessor built on them.
class TDbResultSet {
 public:
  virtual ~TDbResultSet() = default;

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  const TDbFieldInfo& Field(int index) const { return fields_[CheckIndex(index)]; }
  // Index of the field named `name` ignoring ASCII case; -1 when none.
  int FindField(std::string_view name) const;

  // True when positioned on a record; false once past the last one.
  virtual bool Eof() const = 0;
  // Moves to the next record.
  virtual void Next() = 0;

  // Values of the current record; past the last record every field is
  // Null. AsText gives the text form every driver shares: integers in
  // decimal, booleans "1" and "0" (they are integers to the writers), floats
  // with "." and the shortest form that reads back (up to 17 significant
  // digits), dates "yyyy-mm-dd", times "hh:nn:ss", date-times
  // "yyyy-mm-dd hh:nn:ss" (fractions of a second as ".fff" after them when
  // not zero), text as UTF-8, binary fields their raw bytes. AsFloat and
  // AsDateTime convert AsValue (DbValueFloat, DbValueDateTime). An index
  // that names no field raises EMorvexError ("Field index N is out of
  // range").
  bool IsNull(int index) const;
  std::string AsText(int index) const;
  double AsFloat(int index) const;
  double AsDateTime(int index) const;
  TDbValue AsValue(int index) const;
  // IsNull and AsText in one call, without a copy where the driver holds the
  // text: false when the field is Null (or past the last record); otherwise
  // `text` is AsText's text. The view stays valid until the next FieldText,
  // Next or Close; it may point into `scratch`.
  bool FieldText(int index, std::string& scratch, std::string_view& text) const;

  // Releases the server-side resources (cursor); also done on destruction.
  virtual void Close() = 0;

  // True when the database vouches that the text of every field that is not
  // binary is valid UTF-8, so that a writer need not check it again.
  bool TextIsValidUtf8() const { return textIsValidUtf8_; }

 protected:
  // The driver's primitives, for a checked index while a record is current.
  virtual bool NullAt(int index) const = 0;
  virtual TDbValue ValueAt(int index) const = 0;
  // DbValueText of ValueAt unless the driver has a better way.
  virtual std::string TextAt(int index) const;
  // FieldText for a checked index while a record is current; by default
  // NullAt, then TextAt into `scratch`.
  virtual bool FieldTextAt(int index, std::string& scratch, std::string_view& text) const;

  // Adds a field at the end of the list; drivers describe their result
  // once, before the first value is read.
  void AddField(std::string name, TFieldType type);

  void SetTextIsValidUtf8(bool valid) { textIsValidUtf8_ = valid; }

  // `index` when it names a field of the result; raises EMorvexError
  // ("Field index N is out of range") otherwise.
  int CheckIndex(int index) const;

 private:
  std::vector<TDbFieldInfo> fields_;
  bool textIsValidUtf8_ = false;
};

// The message of a failed connection; CannotConnectError adds the driver's
// reason: "Cannot connect to database! <reason>".
inline constexpr std::string_view kCannotConnect = "Cannot connect to database!";
EMorvexError CannotConnectError(std::string_view reason);

// "Parameter <number>: the date-time value is out of range", for a
// date-time parameter the database's date forms cannot hold.
EMorvexError DateTimeParameterOutOfRange(size_t number);

class TDbStatement {
 public:
  virtual ~TDbStatement() = default;

  // Executes with `parameters` bound to the "?" placeholders in order.
  // Stores the rows-affected count (negative when unknown, e.g. for a
  // SELECT) in `rowsAffected`. Returns the last open result set of the
  // chain the execution produced (statements batched in one text), or null
  // when no statement returned rows. The previous result set of this
  // statement must be closed first.
  virtual std::unique_ptr<TDbResultSet> Execute(const std::vector<TDbParameter>& parameters,
                                                int64_t& rowsAffected) = 0;

  // Queues an execution with `parameters` where the driver can send it
  // without waiting for its outcome: a statement that has run through
  // Execute before and returns no rows, inside a transaction. True when
  // queued: the rows it affects count in the connection's Flush, and its
  // failure is raised as EDbQueuedError carrying `tag` by the next use of
  // the connection. False when it must run through Execute; nothing was done.
  virtual bool TryQueue(const std::vector<TDbParameter>& /*parameters*/, uint64_t /*tag*/) {
    return false;
  }

  // The caller's word that nothing else runs on the connection while a
  // result set of this statement is open (a template statement with no
  // statement nested in it): the driver may then stream the result without a
  // server-side cursor. Drivers stay correct when the word is wrong: a
  // statement executed meanwhile still runs, and the open result set still
  // gives every row.
  void SetReadAlone(bool alone) { readAlone_ = alone; }
  bool ReadAlone() const { return readAlone_; }

 private:
  bool readAlone_ = false;
};

// Rows streamed into one table in batches (PostgreSQL's COPY FROM STDIN),
// inside the connection's transaction. Each batch is a unit: a batch that
// fails is taken back whole and leaves the transaction usable, so that the
// caller can run the same rows another way and find which one fails.
class TDbBulkInsert {
 public:
  virtual ~TDbBulkInsert() = default;
  // Adds a row to the batch, one value per column in order; none for NULL.
  // A value must not hold a zero byte. Starts a batch when none is open.
  virtual void AddRow(const std::vector<std::optional<std::string_view>>& values) = 0;
  // Ends the batch with none of its rows stored.
  virtual void AbandonBatch() = 0;
  // Ends the batch: the rows it stored (rows a trigger skipped not
  // counted), 0 for no batch. Raises EMorvexError when it failed, after
  // taking back what the batch did.
  virtual int64_t FinishBatch() = 0;
};

class TDbConnection {
 public:
  virtual ~TDbConnection() = default;

  // `sql` holds "?" placeholders (the caller has already turned ":name"
  // parameters into them); `parameterCount` is their number.
  virtual std::unique_ptr<TDbStatement> Prepare(const std::string& sql, int parameterCount) = 0;

  virtual void BeginTransaction() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;
  virtual void Close() = 0;

  // Waits for every queued execution (TDbStatement::TryQueue) and returns
  // the rows they affected since the last Flush. Raises EDbQueuedError for
  // the first that failed. Any other use of the connection waits for the
  // queue as well, and raises the same way; Rollback drops the queue's
  // failure.
  virtual int64_t Flush() { return 0; }

  // Streams rows into `table` as the statement
  //   INSERT INTO table (columns) VALUES (one value per column)
  // run once per row would store them (no column list: the table's first
  // `valueCount` columns), triggers and constraints included; `table` and
  // `columns` are written as in SQL. Null when the driver cannot promise
  // that for this table, or no transaction is open: then run the INSERT.
  virtual std::unique_ptr<TDbBulkInsert> OpenBulkInsert(const std::string& /*table*/,
                                                        const std::vector<std::string>& /*columns*/,
                                                        size_t /*valueCount*/) {
    return nullptr;
  }

  // The driver's name for messages ("SQLite", "PostgreSQL", "ODBC").
  virtual std::string DriverName() const = 0;
};

}  // namespace morvex
