// The ODBC driver.
//
// Text crosses the driver manager as UTF-16 (the "W" functions and
// SQL_C_WCHAR), so that it arrives as UTF-8 whatever the driver's own
// character set. A row is read column by column with SQLGetData (long values
// in pieces) when the cursor moves onto it, which any driver allows.
//
// Exact numerics and date-times are read as text: a numeric keeps every
// digit, and a date-time the database writes in a form the date-time scale
// cannot hold (infinity, a date before Christ, a year beyond 9999, 24:00:00)
// stays the database's own text, as with the PostgreSQL driver.
//
// psqlODBC reads a whole result into memory unless UseDeclareFetch is on;
// the connection turns it on when the connection string does not say.
//
// Transactions switch the connection to manual commit (SQL_ATTR_AUTOCOMMIT
// off) and back after SQLEndTran.
//
// A text with several statements yields a chain of results; ODBC can only
// learn that a result is the last one by moving past it, which discards it.
// The rows of every result in such a chain are therefore read into memory,
// and the last one read is the result set. A single statement's result
// streams.
#include "db/odbc_driver.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "db/connection_string.h"
#include "db/db_values.h"
#include "db/sql_scan.h"
#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16");

template <SQLSMALLINT Type>
struct TOdbcFreer {
  void operator()(SQLHANDLE handle) const noexcept {
    // psqlODBC keeps what a failed execution of a prepared statement left
    // behind when the handle is freed, unless its cursor is closed first.
    if constexpr (Type == SQL_HANDLE_STMT) SQLFreeStmt(handle, SQL_CLOSE);
    SQLFreeHandle(Type, handle);
  }
};
using TOdbcEnvPtr = std::unique_ptr<void, TOdbcFreer<SQL_HANDLE_ENV>>;
using TOdbcDbcPtr = std::unique_ptr<void, TOdbcFreer<SQL_HANDLE_DBC>>;
// A statement handle is shared by the statement and the result set that
// reads from it.
using TOdbcStmtPtr = std::shared_ptr<void>;

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

std::u16string Wide(std::string_view text) { return Utf8ToUtf16(text); }

SQLWCHAR* WideData(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

// psqlODBC passes an error of the server as "ERROR: <message>", a line
// "DETAIL: <detail>" when there is one, then ";" and a line of its own on
// what it was doing ("Error while preparing parameters"). That becomes
// "<message> (<detail>)", as the PostgreSQL driver gives it; any other text
// stays as it is.
std::string ServerMessage(std::string_view line) {
  constexpr std::string_view kSeverities[] = {"ERROR: ", "FATAL: ", "PANIC: "};
  const auto* severity = std::find_if(std::begin(kSeverities), std::end(kSeverities),
                                      [&](std::string_view s) { return line.starts_with(s); });
  const size_t end = line.rfind(";\n");
  if (severity == std::end(kSeverities) || end == std::string_view::npos) return std::string(line);
  std::string_view server = line.substr(severity->size(), end - severity->size());
  size_t lineEnd = server.find('\n');
  std::string message(server.substr(0, lineEnd));
  while (lineEnd != std::string_view::npos) {
    server.remove_prefix(lineEnd + 1);
    lineEnd = server.find('\n');
    const std::string_view next = server.substr(0, lineEnd);
    if (next.starts_with("DETAIL: ")) message += " (" + std::string(next.substr(8)) + ")";
  }
  return message;
}

// The diagnostic records of a handle, joined, and the SQLSTATE of the first
// one in `state` when asked; the driver manager's and the driver's prefixes
// ("[unixODBC][Driver Manager]") stay, they tell the user who speaks.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string* state = nullptr) {
  std::string text;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state16[6] = {};
    SQLINTEGER native = 0;
    std::u16string message(1024, u'\0');
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state16, &native, WideData(message),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.assign(static_cast<size_t>(length) + 1, u'\0');
      rc = SQLGetDiagRecW(type, handle, record, state16, &native, WideData(message),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!Succeeded(rc)) break;
    message.resize(std::min<size_t>(static_cast<size_t>(length), message.size()));
    std::string line = Utf16ToUtf8(message);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (record == 1 && state != nullptr) {
      *state = Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(state16), 5));
    }
    if (!text.empty()) text += "; ";
    text += ServerMessage(line);
  }
  return text.empty() ? "The ODBC driver reported an error without a message" : text;
}

// What statements and result sets share of one connection.
struct TOdbcSession {
  TOdbcEnvPtr Env;
  TOdbcDbcPtr Dbc;
  bool Connected = false;
  bool Closed = false;
  bool InTransaction = false;
  std::string Password;
  // The driver is psqlODBC, whose date texts need a second look.
  bool Psql = false;

  ~TOdbcSession() { Disconnect(); }

  // Rolls back an open transaction and ends the connection. Never raises.
  void Disconnect() noexcept {
    Closed = true;
    if (!Connected) return;
    Connected = false;
    if (InTransaction) SQLEndTran(SQL_HANDLE_DBC, Dbc.get(), SQL_ROLLBACK);
    InTransaction = false;
    SQLDisconnect(Dbc.get());
  }

  void CheckOpen() const {
    if (Closed) throw EMorvexError("The database connection is closed");
  }

  // Raises the handle's diagnostics when `rc` is a failure; a syntax error
  // (SQLSTATE 42601, or the general 42000) as EDbSyntaxError. `state`
  // receives the SQLSTATE when asked.
  void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, std::string* state = nullptr) const {
    if (Succeeded(rc)) return;
    std::string code;
    std::string message = ScrubSecret(Diagnostics(type, handle, &code), Password);
    if (state != nullptr) *state = code;
    if (code == "42601" || code == "42000") throw EDbSyntaxError(message);
    throw EMorvexError(message);
  }

  // Runs a statement without parameters on its own handle; false when it
  // fails (its diagnostics are of no use to the caller). With `value`, the
  // statement returns a row whose first field is read into it.
  bool ExecDirect(std::u16string_view sql, std::string* value = nullptr) const {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, Dbc.get(), &raw))) return false;
    const TOdbcStmtPtr stmt(raw, TOdbcFreer<SQL_HANDLE_STMT>());
    std::u16string text(sql);
    const SQLRETURN rc = SQLExecDirectW(raw, WideData(text), static_cast<SQLINTEGER>(text.size()));
    if (!value) return Succeeded(rc) || rc == SQL_NO_DATA;
    char buffer[64] = {};
    SQLLEN indicator = 0;
    if (!Succeeded(rc) || !Succeeded(SQLFetch(raw)) ||
        !Succeeded(SQLGetData(raw, 1, SQL_C_CHAR, buffer, sizeof buffer, &indicator)) ||
        indicator < 0) {
      return false;
    }
    value->assign(buffer);
    return true;
  }

  void SetAutocommit(bool on) const {
    Check(SQLSetConnectAttrW(
              Dbc.get(), SQL_ATTR_AUTOCOMMIT,
              reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF),
              SQL_IS_UINTEGER),
          SQL_HANDLE_DBC, Dbc.get());
  }
};
using TOdbcSessionPtr = std::shared_ptr<TOdbcSession>;

// How a column's values are fetched.
enum class TOdbcRead { Bit, Integer, Double, Numeric, DateTime, Binary, Text };

struct TOdbcColumn {
  TFieldType Type = ftString;
  TOdbcRead Read = TOdbcRead::Text;
};

TOdbcColumn ColumnOfSqlType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT:
      return {ftBoolean, TOdbcRead::Bit};
    case SQL_TINYINT:
    case SQL_SMALLINT:
      return {ftSmallint, TOdbcRead::Integer};
    case SQL_INTEGER:
      return {ftInteger, TOdbcRead::Integer};
    case SQL_BIGINT:
      return {ftLargeint, TOdbcRead::Integer};
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return {ftFloat, TOdbcRead::Double};
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return {ftBCD, TOdbcRead::Numeric};
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return {ftDate, TOdbcRead::DateTime};
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return {ftTime, TOdbcRead::DateTime};
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return {ftDateTime, TOdbcRead::DateTime};
    case SQL_BINARY:
    case SQL_VARBINARY:
      return {ftVarBytes, TOdbcRead::Binary};
    case SQL_LONGVARBINARY:
      return {ftBlob, TOdbcRead::Binary};
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      // Long texts of either width are the "text" class, as they are with
      // the other drivers (a Unicode driver reports every text as wide).
      return {ftMemo, TOdbcRead::Text};
    case SQL_CHAR:
      return {ftFixedChar, TOdbcRead::Text};
    case SQL_WCHAR:
    case SQL_WVARCHAR:
      return {ftWideString, TOdbcRead::Text};
    case SQL_GUID:
      return {ftGuid, TOdbcRead::Text};
    default:
      return {ftString, TOdbcRead::Text};
  }
}

// Reads a variable-length value in pieces: `unit` is the size of a character
// for text (the driver ends every piece with a zero character) and 0 for
// binary data. False for Null.
bool GetLongData(const TOdbcSession& session, SQLHANDLE stmt, SQLUSMALLINT column,
                 SQLSMALLINT cType, size_t unit, std::string& out) {
  out.clear();
  char buffer[8192];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, column, cType, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) return true;
    session.Check(rc, SQL_HANDLE_STMT, stmt);
    if (indicator == SQL_NULL_DATA) return false;
    size_t room = sizeof buffer - unit;
    size_t size = indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) > room
                      ? room
                      : static_cast<size_t>(indicator);
    out.append(buffer, size);
    if (rc == SQL_SUCCESS) return true;
  }
}

// A date, time or timestamp from the text the driver gives (the ODBC
// conversion to characters: "yyyy-mm-dd", "hh:mm:ss[.f]", "yyyy-mm-dd
// hh:mm:ss[.f]"); a text that is no such value is the database's own.
//
// psqlODBC renders what it cannot hold in forms of its own: a timestamp
// "-infinity" as 9999-01-01 00:00:00 BC (a year PostgreSQL cannot store, so
// it gets the server's word back), a timestamp "infinity" as 9999-12-31
// 23:59:59 (which a stored value may really be, so it stays), and a date
// "infinity", "-infinity" or beyond the year 9999 with zeros in it
// ("0000-00-00", "1234-00-00"), which cannot be told apart: reading those
// fails rather than writing a wrong date.
TDbValue OdbcDateTimeValue(const TOdbcSession& session, std::string text,
                           std::string_view fieldName) {
  double value = 0;
  if (session.Psql && text == "9999-01-01 00:00:00 BC") return std::string("-infinity");
  if (ParseDbDateTime(text, value)) return TDbDateTime{value};
  if (session.Psql && text.size() >= 10 && text[4] == '-' && text[7] == '-' &&
      (text.compare(0, 4, "0000") == 0 || text.compare(5, 2, "00") == 0 ||
       text.compare(8, 2, "00") == 0)) {
    throw EMorvexError("The ODBC driver cannot give the date of field " + std::string(fieldName) +
                       " (infinity, or a year beyond 9999): read it as text (CAST(" +
                       std::string(fieldName) + " AS text)) or connect with Provider=PostgreSQL");
  }
  return text;
}

TDbValue ReadCell(const TOdbcSession& session, SQLHANDLE stmt, SQLUSMALLINT column, TOdbcRead read,
                  std::string_view fieldName) {
  SQLLEN indicator = 0;
  auto get = [&](SQLSMALLINT cType, void* target, SQLLEN size) {
    session.Check(SQLGetData(stmt, column, cType, target, size, &indicator), SQL_HANDLE_STMT, stmt);
    return indicator != SQL_NULL_DATA;
  };
  switch (read) {
    case TOdbcRead::Bit: {
      unsigned char bit = 0;
      if (!get(SQL_C_BIT, &bit, sizeof bit)) return TDbNull{};
      return bit != 0;
    }
    case TOdbcRead::Integer: {
      SQLBIGINT value = 0;
      if (!get(SQL_C_SBIGINT, &value, sizeof value)) return TDbNull{};
      return static_cast<int64_t>(value);
    }
    case TOdbcRead::Double: {
      double value = 0;
      if (!get(SQL_C_DOUBLE, &value, sizeof value)) return TDbNull{};
      return value;
    }
    case TOdbcRead::Numeric: {
      std::string text;
      if (!GetLongData(session, stmt, column, SQL_C_CHAR, 1, text)) return TDbNull{};
      return ExactNumericValue(text);
    }
    case TOdbcRead::DateTime: {
      std::string text;
      if (!GetLongData(session, stmt, column, SQL_C_CHAR, 1, text)) return TDbNull{};
      return OdbcDateTimeValue(session, std::move(text), fieldName);
    }
    case TOdbcRead::Binary: {
      std::string bytes;
      if (!GetLongData(session, stmt, column, SQL_C_BINARY, 0, bytes)) return TDbNull{};
      return TDbBytes{std::move(bytes)};
    }
    case TOdbcRead::Text:
    default: {
      std::string bytes;
      if (!GetLongData(session, stmt, column, SQL_C_WCHAR, sizeof(SQLWCHAR), bytes)) {
        return TDbNull{};
      }
      std::u16string wide(bytes.size() / 2, u'\0');
      std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
      return Utf16ToUtf8(wide);
    }
  }
}

class TOdbcResultSet : public TDbResultSet {
 public:
  // Reads from `stmt`, which holds a result with columns. With `buffered`
  // every row is read now and the handle is free again afterwards.
  TOdbcResultSet(TOdbcSessionPtr session, TOdbcStmtPtr stmt, bool buffered)
      : session_(std::move(session)), stmt_(std::move(stmt)) {
    SQLHANDLE h = stmt_.get();
    SQLSMALLINT count = 0;
    session_->Check(SQLNumResultCols(h, &count), SQL_HANDLE_STMT, h);
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
      std::u16string name(256, u'\0');
      SQLSMALLINT nameLength = 0, sqlType = 0, decimals = 0, nullable = 0;
      SQLULEN size = 0;
      auto describe = [&] {
        return SQLDescribeColW(h, i, WideData(name), static_cast<SQLSMALLINT>(name.size()),
                               &nameLength, &sqlType, &size, &decimals, &nullable);
      };
      session_->Check(describe(), SQL_HANDLE_STMT, h);
      if (nameLength >= static_cast<SQLSMALLINT>(name.size())) {
        name.assign(static_cast<size_t>(nameLength) + 1, u'\0');
        session_->Check(describe(), SQL_HANDLE_STMT, h);
      }
      name.resize(static_cast<size_t>(nameLength));
      TOdbcColumn column = ColumnOfSqlType(sqlType);
      AddField(Utf16ToUtf8(name), column.Type);
      reads_.push_back(column.Read);
    }
    if (buffered) {
      buffered_ = true;
      while (FetchRow()) rows_.push_back(std::move(cells_));
      Release();
      MoveToBufferedRow();
    } else {
      eof_ = !FetchRow();
      if (eof_) Release();
    }
  }

  ~TOdbcResultSet() override { Close(); }

  bool Eof() const override { return eof_; }

  void Next() override {
    if (eof_) return;
    if (buffered_) {
      ++row_;
      MoveToBufferedRow();
      return;
    }
    if (!FetchRow()) {
      eof_ = true;
      Release();
    }
  }

  void Close() override {
    Release();
    rows_.clear();
    cells_.clear();
    eof_ = true;
  }

 protected:
  bool NullAt(int index) const override {
    return std::holds_alternative<TDbNull>(cells_[static_cast<size_t>(index)]);
  }
  TDbValue ValueAt(int index) const override { return cells_[static_cast<size_t>(index)]; }
  // The text straight from the cell, without copying the value first.
  std::string TextAt(int index) const override {
    return DbValueText(cells_[static_cast<size_t>(index)], Field(index).Type);
  }

 private:
  bool FetchRow() {
    SQLHANDLE h = stmt_.get();
    SQLRETURN rc = SQLFetch(h);
    if (rc == SQL_NO_DATA) return false;
    session_->Check(rc, SQL_HANDLE_STMT, h);
    cells_.clear();
    for (size_t i = 0; i < reads_.size(); ++i) {
      cells_.push_back(ReadCell(*session_, h, static_cast<SQLUSMALLINT>(i + 1), reads_[i],
                                Field(static_cast<int>(i)).Name));
    }
    return true;
  }

  void MoveToBufferedRow() {
    eof_ = row_ >= rows_.size();
    if (!eof_) cells_ = std::move(rows_[row_]);
  }

  // Closes the cursor on the handle (never raises) and lets it go.
  void Release() noexcept {
    if (!stmt_) return;
    if (!buffered_) SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    stmt_.reset();
  }

  TOdbcSessionPtr session_;
  TOdbcStmtPtr stmt_;
  std::vector<TOdbcRead> reads_;
  std::vector<TDbValue> cells_;
  std::vector<std::vector<TDbValue>> rows_;
  size_t row_ = 0;
  bool buffered_ = false;
  bool eof_ = true;
};

// The buffer behind one bound parameter; it must stay in place until the
// execution is over.
struct TOdbcParameter {
  SQLLEN Indicator = 0;
  SQLBIGINT Integer = 0;
  double Double = 0;
  unsigned char Bit = 0;
  SQL_DATE_STRUCT Date{};
  SQL_TIME_STRUCT Time{};
  SQL_TIMESTAMP_STRUCT Timestamp{};
  std::u16string Text;
  std::string Bytes;
};

class TOdbcStatement : public TDbStatement {
 public:
  TOdbcStatement(TOdbcSessionPtr session, std::string sql, int parameterCount)
      : session_(std::move(session)) {
    using detail::TSqlDialect;
    detail::TSqlScan scan = detail::ScanSql(sql, TSqlDialect::Odbc);
    std::vector<int> assigned = detail::AssignSqlMarkers(scan, parameterCount);
    for (size_t i = 0; i < assigned.size(); ++i) {
      // A marker in a comment is no placeholder; blanking it keeps drivers
      // that do not skip comments from counting it.
      if (scan.Markers[i].InComment) sql[scan.Markers[i].Position] = ' ';
      if (assigned[i] >= 0) {
        placeholders_.push_back(assigned[i]);
        positions_.push_back(scan.Markers[i].Position);
      }
    }
    asText_.assign(placeholders_.size(), false);
    size_t statements = 0;
    size_t start = 0;
    std::vector<size_t> ends = scan.Separators;
    ends.push_back(sql.size());
    for (size_t end : ends) {
      if (!detail::FirstSqlKeyword(std::string_view(sql).substr(start, end - start),
                                   TSqlDialect::Odbc)
               .empty()) {
        ++statements;
      }
      start = end + 1;
    }
    chain_ = statements > 1;
    text_ = std::move(sql);
    sql_ = Wide(text_);
  }

  std::unique_ptr<TDbResultSet> Execute(const std::vector<TDbParameter>& parameters,
                                        int64_t& rowsAffected) override {
    session_->CheckOpen();
    // A result set of an earlier execution that is still open keeps its
    // handle; this execution then takes a new one.
    if (stmt_ && stmt_.use_count() > 1) stmt_.reset();
    if (!stmt_) {
      SQLHANDLE raw = SQL_NULL_HANDLE;
      session_->Check(SQLAllocHandle(SQL_HANDLE_STMT, session_->Dbc.get(), &raw), SQL_HANDLE_DBC,
                      session_->Dbc.get());
      stmt_ = TOdbcStmtPtr(raw, TOdbcFreer<SQL_HANDLE_STMT>());
      prepared_ = false;
    } else {
      SQLFreeStmt(stmt_.get(), SQL_CLOSE);
      SQLFreeStmt(stmt_.get(), SQL_RESET_PARAMS);
    }
    SQLHANDLE h = stmt_.get();
    SQLRETURN rc = SQL_SUCCESS;
    // Inside a transaction, an execution that may still fail for a
    // parameter's type and be sent again must find the transaction as it
    // was: the failure aborts it (psqlODBC's Protocol=7.4-0), psqlODBC takes
    // back the statement alone (7.4-2, its default, which also releases a
    // savepoint set after its own) or all of the transaction (7.4-1). It is
    // sent again when a savepoint set before it takes the transaction back,
    // or when the transaction is still the one it ran in; otherwise the
    // first error is reported, rather than running on in a new transaction
    // without the statements before, or failing for the aborted one.
    const bool guard = session_->Psql && session_->InTransaction && !typesSettled_ &&
                       !placeholders_.empty() && !chain_;
    std::string transaction;
    if (guard && (!session_->ExecDirect(kTransactionId, &transaction) ||
                  !session_->ExecDirect(kSavepoint))) {
      throw EMorvexError("The ODBC driver could not set a savepoint in the transaction");
    }
    const auto takenBack = [&] {
      if (!guard || session_->ExecDirect(kRollbackToSavepoint)) return true;
      std::string now;
      return session_->ExecDirect(kTransactionId, &now) && now == transaction &&
             session_->ExecDirect(kSavepoint);
    };
    for (;;) {
      std::string state;
      try {
        if (!prepared_) {
          session_->Check(SQLPrepareW(h, WideData(sql_), static_cast<SQLINTEGER>(sql_.size())),
                          SQL_HANDLE_STMT, h, &state);
          prepared_ = true;
        }
        Bind(parameters);
        rc = SQLExecute(h);
        if (rc != SQL_NO_DATA) session_->Check(rc, SQL_HANDLE_STMT, h, &state);
        break;
      } catch (const EMorvexError& error) {
        if (state != "42P18" || !takenBack() || !SendAsText(error.what())) throw;
        SQLFreeStmt(h, SQL_CLOSE);
        SQLFreeStmt(h, SQL_RESET_PARAMS);
      }
    }
    typesSettled_ = true;
    if (guard) session_->ExecDirect(kReleaseSavepoint);

    std::unique_ptr<TDbResultSet> result;
    bool changed = false;
    int64_t count = 0;
    for (;;) {
      SQLSMALLINT columns = 0;
      session_->Check(SQLNumResultCols(h, &columns), SQL_HANDLE_STMT, h);
      if (columns > 0) {
        result.reset();
        result = std::make_unique<TOdbcResultSet>(session_, stmt_, chain_);
        if (!chain_) break;
      } else {
        SQLLEN rows = -1;
        if (Succeeded(SQLRowCount(h, &rows)) && rows >= 0) {
          changed = true;
          count += rows;
        }
      }
      if (!chain_) break;
      rc = SQLMoreResults(h);
      if (rc == SQL_NO_DATA) break;
      session_->Check(rc, SQL_HANDLE_STMT, h);
    }
    rowsAffected = changed ? count : -1;
    return result;
  }

 private:
  // PostgreSQL refuses a parameter whose type the context does not fix
  // (":city IS NULL") when psqlODBC lets the server infer the types:
  // "could not determine data type of parameter $n" (SQLSTATE 42P18). The
  // n-th placeholder is then sent as CAST(? AS text) and the statement
  // prepared again; true when that changed the text. psqlODBC numbers the
  // placeholders of each statement of a text on its own, so a text of
  // several statements keeps the error.
  bool SendAsText(std::string_view message) {
    const size_t n = detail::ParameterNumberInMessage(message);
    if (chain_ || n == 0 || n > asText_.size() || asText_[n - 1]) return false;
    asText_[n - 1] = true;
    std::string text;
    size_t copied = 0;
    for (size_t k = 0; k < positions_.size(); ++k) {
      if (!asText_[k]) continue;
      text.append(text_, copied, positions_[k] - copied);
      text += "CAST(? AS text)";
      copied = positions_[k] + 1;
    }
    text.append(text_, copied);
    sql_ = Wide(text);
    prepared_ = false;
    return true;
  }

  void Bind(const std::vector<TDbParameter>& parameters) {
    SQLHANDLE h = stmt_.get();
    buffers_.clear();
    buffers_.resize(placeholders_.size());  // no reallocation after binding
    for (size_t k = 0; k < placeholders_.size(); ++k) {
      size_t p = static_cast<size_t>(placeholders_[k]);
      TOdbcParameter& b = buffers_[k];
      TDbParameter none;
      const TDbParameter& parameter = p < parameters.size() ? parameters[p] : none;
      TDbValue value = CoerceDbParameter(parameter, static_cast<int>(p) + 1);
      // An exact decimal that a double holds digit for digit goes as a
      // double, which drivers send typed (psqlODBC sends text untyped, and
      // "? + 1" would then want an integer); longer ones go as their text.
      if (const auto* text = std::get_if<std::string>(&value);
          text && (parameter.DataType == ftBCD || parameter.DataType == ftFMTBcd)) {
        const double number = DbValueFloat(*text, "");
        if (DbFloatText(number) == *text) value = number;
      }
      SQLSMALLINT cType = SQL_C_WCHAR, sqlType = SQL_WVARCHAR, digits = 0;
      SQLULEN size = 1;
      SQLPOINTER data = nullptr;
      SQLLEN capacity = 0;
      auto bindText = [&](const std::string& text) {
        b.Text = Wide(text);
        b.Indicator = static_cast<SQLLEN>(b.Text.size() * sizeof(SQLWCHAR));
        cType = SQL_C_WCHAR;
        sqlType = b.Text.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        size = std::max<size_t>(1, b.Text.size());
        data = b.Text.data();
        capacity = b.Indicator;
      };
      if (const auto* i = std::get_if<int64_t>(&value)) {
        b.Integer = *i;
        cType = SQL_C_SBIGINT, sqlType = SQL_BIGINT, size = 19, data = &b.Integer;
      } else if (const auto* flag = std::get_if<bool>(&value)) {
        b.Bit = *flag ? 1 : 0;
        cType = SQL_C_BIT, sqlType = SQL_BIT, data = &b.Bit;
      } else if (const auto* d = std::get_if<double>(&value)) {
        b.Double = *d;
        cType = SQL_C_DOUBLE, sqlType = SQL_DOUBLE, size = 15, data = &b.Double;
      } else if (const auto* t = std::get_if<TDbDateTime>(&value)) {
        TDbDateTimeParts parts;
        if (!DecodeDbDateTime(t->Value, parts)) {
          throw DateTimeParameterOutOfRange(p + 1);
        }
        if (parameter.DataType == ftDate) {
          b.Date = {static_cast<SQLSMALLINT>(parts.Year), static_cast<SQLUSMALLINT>(parts.Month),
                    static_cast<SQLUSMALLINT>(parts.Day)};
          cType = SQL_C_TYPE_DATE, sqlType = SQL_TYPE_DATE, size = 10, data = &b.Date;
        } else if (parameter.DataType == ftTime && parts.Millisecond != 0) {
          // The ODBC time structure has no fraction of a second: a time that
          // has one goes as text, which the database converts.
          bindText(DbDateTimeText(t->Value, ftTime));
        } else if (parameter.DataType == ftTime) {
          b.Time = {static_cast<SQLUSMALLINT>(parts.Hour), static_cast<SQLUSMALLINT>(parts.Minute),
                    static_cast<SQLUSMALLINT>(parts.Second)};
          cType = SQL_C_TYPE_TIME, sqlType = SQL_TYPE_TIME, size = 8, data = &b.Time;
        } else {
          b.Timestamp = {static_cast<SQLSMALLINT>(parts.Year),
                         static_cast<SQLUSMALLINT>(parts.Month),
                         static_cast<SQLUSMALLINT>(parts.Day),
                         static_cast<SQLUSMALLINT>(parts.Hour),
                         static_cast<SQLUSMALLINT>(parts.Minute),
                         static_cast<SQLUSMALLINT>(parts.Second),
                         static_cast<SQLUINTEGER>(parts.Millisecond) * 1000000};
          cType = SQL_C_TYPE_TIMESTAMP, sqlType = SQL_TYPE_TIMESTAMP, size = 23, digits = 3;
          data = &b.Timestamp;
        }
      } else if (auto* bytes = std::get_if<TDbBytes>(&value)) {
        b.Bytes = std::move(bytes->Bytes);
        b.Indicator = static_cast<SQLLEN>(b.Bytes.size());
        cType = SQL_C_BINARY;
        sqlType = b.Bytes.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
        size = std::max<size_t>(1, b.Bytes.size());
        data = b.Bytes.data();
        capacity = b.Indicator;
      } else if (std::holds_alternative<TDbNull>(value)) {
        b.Indicator = SQL_NULL_DATA;
        cType = SQL_C_WCHAR, sqlType = SQL_WVARCHAR;
      } else {
        bindText(DbValueText(value, ftUnknown));
      }
      if (b.Indicator != SQL_NULL_DATA && capacity == 0 && data != nullptr) b.Indicator = 0;
      session_->Check(SQLBindParameter(h, static_cast<SQLUSMALLINT>(k + 1), SQL_PARAM_INPUT, cType,
                                       sqlType, size, digits, data, capacity, &b.Indicator),
                      SQL_HANDLE_STMT, h);
    }
  }

  TOdbcSessionPtr session_;
  std::string text_;    // the text with "?" placeholders
  std::u16string sql_;  // the text as prepared
  std::vector<int> placeholders_;
  std::vector<size_t> positions_;  // where each placeholder stands in text_
  std::vector<bool> asText_;       // placeholders sent as CAST(? AS text)
  bool typesSettled_ = false;      // an execution succeeded: no type is left to find
  static constexpr std::u16string_view kTransactionId = u"SELECT txid_current()";
  static constexpr std::u16string_view kSavepoint = u"SAVEPOINT morvex_parameter_types";
  static constexpr std::u16string_view kRollbackToSavepoint =
      u"ROLLBACK TO SAVEPOINT morvex_parameter_types";
  static constexpr std::u16string_view kReleaseSavepoint =
      u"RELEASE SAVEPOINT morvex_parameter_types";
  bool chain_ = false;  // several statements: results are read into memory
  TOdbcStmtPtr stmt_;
  bool prepared_ = false;
  std::vector<TOdbcParameter> buffers_;
};

class TOdbcConnection : public TDbConnection {
 public:
  explicit TOdbcConnection(TOdbcSessionPtr session) : session_(std::move(session)) {}

  std::unique_ptr<TDbStatement> Prepare(const std::string& sql, int parameterCount) override {
    session_->CheckOpen();
    return std::make_unique<TOdbcStatement>(session_, sql, parameterCount);
  }

  void BeginTransaction() override {
    session_->CheckOpen();
    if (session_->InTransaction) throw EMorvexError("A transaction is already open");
    session_->SetAutocommit(false);
    session_->InTransaction = true;
  }

  void Commit() override { EndTransaction(SQL_COMMIT); }
  void Rollback() override { EndTransaction(SQL_ROLLBACK); }

  bool InTransaction() const override { return !session_->Closed && session_->InTransaction; }

  // Statements that are still alive keep the connection until they go.
  void Close() override {
    session_->Closed = true;
    if (session_.use_count() == 1) session_->Disconnect();
  }

  std::string DriverName() const override { return "ODBC"; }

 private:
  void EndTransaction(SQLSMALLINT completion) {
    session_->CheckOpen();
    SQLHANDLE dbc = session_->Dbc.get();
    session_->Check(SQLEndTran(SQL_HANDLE_DBC, dbc, completion), SQL_HANDLE_DBC, dbc);
    session_->InTransaction = false;
    session_->SetAutocommit(true);
  }

  TOdbcSessionPtr session_;
};

// Connects without prompting; `completed` receives the connection string
// the driver completed (with the data source's settings).
SQLRETURN DriverConnect(SQLHANDLE dbc, const std::string& connectionString,
                        std::string& completed) {
  std::u16string text = Wide(connectionString);
  std::u16string out(4096, u'\0');
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnectW(
      dbc, nullptr, WideData(text), static_cast<SQLSMALLINT>(text.size()), WideData(out),
      static_cast<SQLSMALLINT>(out.size()), &outLength, SQL_DRIVER_NOPROMPT);
  out.resize(
      std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(outLength, 0)), out.size() - 1));
  completed = Utf16ToUtf8(out);
  return rc;
}

bool IsPsqlOdbc(SQLHANDLE dbc) {
  std::u16string name(256, u'\0');
  SQLSMALLINT length = 0;
  if (!Succeeded(SQLGetInfoW(dbc, SQL_DRIVER_NAME, WideData(name),
                             static_cast<SQLSMALLINT>(name.size() * sizeof(SQLWCHAR)), &length))) {
    return false;
  }
  name.resize(
      std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)) / 2, name.size()));
  return AsciiLower(Utf16ToUtf8(name)).starts_with("psqlodbc");
}

// Whether psqlODBC's UseDeclareFetch (short name B6) is in the connection
// string at all, or, with `on`, set to 1.
bool DeclareFetchSet(const std::string& connectionString, bool on) {
  try {
    const std::vector<TConnectionStringItem> items = ParseConnectionString(connectionString);
    const std::string* value = FindConnectionValue(items, {"usedeclarefetch", "b6"});
    return value != nullptr && (!on || *value == "1");
  } catch (const EMorvexError&) {
    return false;  // a completed string the parser does not follow
  }
}

}  // namespace

std::unique_ptr<TDbConnection> OpenOdbcConnection(const std::string& connectionString,
                                                  const std::string& password) {
  auto session = std::make_shared<TOdbcSession>();
  session->Password = password;
  SQLHANDLE env = SQL_NULL_HANDLE;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    throw CannotConnectError("the ODBC driver manager is not available");
  }
  session->Env.reset(env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLHANDLE dbc = SQL_NULL_HANDLE;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    throw CannotConnectError(ScrubSecret(Diagnostics(SQL_HANDLE_ENV, env), password));
  }
  session->Dbc.reset(dbc);
  std::string completed;
  if (!Succeeded(DriverConnect(dbc, connectionString, completed))) {
    throw CannotConnectError(ScrubSecret(Diagnostics(SQL_HANDLE_DBC, dbc), password));
  }
  session->Psql = IsPsqlOdbc(dbc);
  if (session->Psql && !DeclareFetchSet(connectionString, false) &&
      !DeclareFetchSet(completed, true)) {
    // Connecting again is the only way to change the setting.
    SQLDisconnect(dbc);
    std::string text = connectionString;
    if (!text.empty() && text.back() != ';') text += ';';
    text += "UseDeclareFetch=1;";
    if (!Succeeded(DriverConnect(dbc, text, completed))) {
      throw CannotConnectError(ScrubSecret(Diagnostics(SQL_HANDLE_DBC, dbc), password));
    }
  }
  session->Connected = true;
  return std::make_unique<TOdbcConnection>(std::move(session));
}

}  // namespace morvex
