// The database platform interface: the one small contract every driver
// (SQLite, PostgreSQL, ODBC) implements and everything above db/ drivers
// relies on. Nothing above this header sees a driver's own types.
//
// - A connection is opened from an OLE DB style connection string
//   (OpenConnection in db/connection_string.h picks the driver).
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

class TDbResultSet {
 public:
  virtual ~TDbResultSet() = default;

  virtual int FieldCount() const = 0;
  virtual const TDbFieldInfo& Field(int index) const = 0;
  // Index of the field named `name` ignoring ASCII case; -1 when none.
  int FindField(std::string_view name) const;

  // True when positioned on a record; false once past the last one.
  virtual bool Eof() const = 0;
  // Moves to the next record.
  virtual void Next() = 0;

  // Values of the current record. AsText gives the text form every driver
  // shares: integers in decimal, booleans "1" and "0" (they are integers to
  // the writers), floats with "." and the shortest form that reads back
  // (up to 17 significant digits), dates "yyyy-mm-dd", times "hh:nn:ss",
  // date-times "yyyy-mm-dd hh:nn:ss" (fractions of a second as ".fff" after
  // them when not zero), text as UTF-8, binary fields their raw bytes.
  virtual bool IsNull(int index) const = 0;
  virtual std::string AsText(int index) const = 0;
  virtual double AsFloat(int index) const = 0;
  virtual double AsDateTime(int index) const = 0;
  virtual TDbValue AsValue(int index) const = 0;

  // Releases the server-side resources (cursor); also done on destruction.
  virtual void Close() = 0;

 protected:
  // `index` when it names a field of the result; raises EMorvexError
  // ("Field index N is out of range") otherwise.
  int CheckIndex(int index) const;
};

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

  // The driver's name for messages ("SQLite", "PostgreSQL", "ODBC").
  virtual std::string DriverName() const = 0;
};

}  // namespace morvex
