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

namespace morvex {

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
  TDbValue Value;            // TDbNull binds SQL NULL
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

// Conversions of values that every driver shares, so that the three give the
// same texts and accept the same parameter values.

// The calendar parts of a date-time value.
struct TDbDateTimeParts {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

// The date-time value of `parts`. False, leaving `value` untouched, when a
// part is out of range: a year outside 1-9999, a day the month does not have,
// an hour above 23, a minute or second above 59, milliseconds above 999.
bool EncodeDbDateTime(const TDbDateTimeParts& parts, double& value);

// The parts of `value` rounded to the millisecond (a time of day that rounds
// up to midnight moves to the next day). False for a value outside the years
// 1-9999 or not a number.
bool DecodeDbDateTime(double value, TDbDateTimeParts& parts);

// Reads "yyyy-mm-dd", "hh:nn[:ss[.fff]]", or a date and a time separated by
// a blank or "T". A trailing time zone ("Z", "+02", "-05:30") is ignored:
// the value is the wall-clock time as written. Fraction digits beyond the
// millisecond are rounded. False for any other text.
bool ParseDbDateTime(std::string_view text, double& value);

// "yyyy-mm-dd" for ftDate, "hh:nn:ss" for ftTime, "yyyy-mm-dd hh:nn:ss" for
// every other type; for ftUnknown the form follows the value (no time of day:
// the date alone; day 0: the time alone). Times get ".fff" when the
// milliseconds are not zero. Empty for a value DecodeDbDateTime refuses.
std::string DbDateTimeText(double value, TFieldType type);

// The shortest text that reads back as `value`, with "." as the decimal
// separator ("0.1", "1234.5", "1e+20"); "NAN", "INF" and "-INF" for the
// values that are not finite.
std::string DbFloatText(double value);

// Decimal text as a database writes an exact number, with the zeros that end
// its fraction dropped: "12.500" -> "12.5", "3.000" -> "3"; every other digit
// stays (the AsText form of numeric fields, which a double would round).
std::string TrimDecimalText(std::string text);

// The AsText form of a value of a field of type `type` (TDbResultSet::AsText).
std::string DbValueText(const TDbValue& value, TFieldType type);

// AsFloat and AsDateTime of a value: numbers as they are (a date-time is its
// day count), text converted (a number in "." notation, a date-time as
// ParseDbDateTime reads it), Null 0. Text that does not convert and binary
// values raise EMorvexError naming the field.
double DbValueFloat(const TDbValue& value, std::string_view fieldName);
double DbValueDateTime(const TDbValue& value, std::string_view fieldName);

// The value of a parameter converted to the class of its DataType, so that
// drivers bind by the variant alone: integer types give int64_t (a text or
// number that is not a whole number gives double, nothing is lost), ftBoolean
// bool, float types double, date and time types TDbDateTime, binary types
// TDbBytes, the string types std::string. ftUnknown and Null values stay as
// they are. A value that does not convert ("abc" as an integer) raises
// EMorvexError naming the parameter by its position `number` (from 1).
TDbValue CoerceDbParameter(const TDbParameter& parameter, int number);

namespace detail {

// What the drivers need to know of SQL text without parsing it: where the
// "?" markers, statement separators and first keywords are. Quoting rules
// differ per database; text in quotes is never looked into.
enum class TSqlDialect { SQLite, PostgreSQL, Odbc };

struct TSqlMarker {
  size_t Position = 0;     // offset of the "?" in the text
  bool InComment = false;  // inside a -- or /* */ comment
};

struct TSqlScan {
  std::vector<TSqlMarker> Markers;  // every "?" outside quoted text, in order
  std::vector<size_t> Separators;   // offsets of ";" outside quotes and comments
};

TSqlScan ScanSql(std::string_view sql, TSqlDialect dialect);

// Which "?" markers stand for the caller's `parameterCount` parameters: the
// layer above turns every ":name" outside quotes into "?", comments included,
// so when the count of all markers matches, a marker in a comment still takes
// its parameter (the database never sees it); otherwise, when the markers
// outside comments match, the ones in comments are the user's own text.
// Returns, for every marker, the index of its parameter, or -1 for a marker
// that is not a placeholder or that sits in a comment. With no parameters
// every marker is -1. Raises EMorvexError when neither count matches.
std::vector<int> AssignSqlMarkers(const TSqlScan& scan, int parameterCount);

// The first word of a statement, upper-cased, after blanks, comments and
// opening parentheses ("SELECT", "WITH", "INSERT"); empty for a text that
// holds no statement.
std::string FirstSqlKeyword(std::string_view sql, TSqlDialect dialect);

// Whether the words of `sql` outside quotes and comments include `word`
// (an upper-case keyword, compared ignoring ASCII case).
bool SqlHasKeyword(std::string_view sql, TSqlDialect dialect, std::string_view word);

}  // namespace detail

}  // namespace morvex
