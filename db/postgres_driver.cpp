// The PostgreSQL driver.
//
// Result sets stream through cursors on the same connection, so that a
// nested statement can run while its parent's rows are being read and a
// result of ten million rows costs the memory of one batch:
//
//   DECLARE morvex_cursor_<n> NO SCROLL CURSOR [WITH HOLD] FOR <query>
//   FETCH FORWARD <n> FROM morvex_cursor_<n>      (until a short batch)
//   CLOSE morvex_cursor_<n>                        (at the end, or on Close)
//
// Inside a transaction (one-transaction steps) the cursor is a plain one and
// everything, nested statements included, commits or rolls back together.
// Outside a transaction the cursor is declared WITH HOLD in its own implicit
// transaction: the server keeps the complete result (in its work memory or a
// temporary file) and each nested statement commits as it runs, exactly as
// it would without an open result set. Opening a transaction for the
// cursor's lifetime instead would hold back every nested change until the
// parent was read to its end, and one failing nested statement would undo
// the ones before it.
//
// Which texts go through a cursor is decided from the first word: SELECT,
// WITH, VALUES and TABLE do, unless the text cannot be a cursor's query
// (SELECT ... INTO, a WITH that changes data) or locks rows (FOR UPDATE and
// FOR SHARE outside a transaction). Everything else runs with PQexecParams;
// rows it returns (INSERT ... RETURNING, SHOW, EXPLAIN) are held in memory,
// which is fine for the short results such statements give.
//
// A text with several statements (";" outside quotes, comments and dollar
// quotes) runs statement by statement when it has parameters, each with its
// own, and the last statement that returns rows keeps its result set. Without
// parameters the whole text goes to the server in one simple query, which
// also accepts statements that hold ";" in their bodies; the last result with
// rows is then held in memory.
//
// Parameters travel as text with the type left to the server to infer from
// the context ("?" placeholders become $1..$n), so a parameter compares with
// a column of any type; binary values travel as bytea. A parameter whose type
// the context does not fix ("? IS NULL") is declared text (ResolveTypes).
#include "db/postgres_driver.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "db/connection_string.h"
#include "db/db_values.h"
#include "db/sql_scan.h"
#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

// Rows per FETCH: the first batch is small; later ones are sized from the
// bytes of the one before to hold about kFetchBytes, so that narrow rows
// travel in few round trips and wide rows never make a batch large.
constexpr int kMinFetchRows = 100;
constexpr int kFirstFetchRows = kMinFetchRows;
constexpr int kMaxFetchRows = 20000;
constexpr int64_t kFetchBytes = 1024 * 1024;

// Type OIDs of the built-in types (pg_type.dat).
enum : Oid {
  kBoolOid = 16,
  kByteaOid = 17,
  kCharOid = 18,
  kNameOid = 19,
  kInt8Oid = 20,
  kInt2Oid = 21,
  kInt4Oid = 23,
  kTextOid = 25,
  kOidOid = 26,
  kJsonOid = 114,
  kXmlOid = 142,
  kFloat4Oid = 700,
  kFloat8Oid = 701,
  kMoneyOid = 790,
  kBpcharOid = 1042,
  kVarcharOid = 1043,
  kDateOid = 1082,
  kTimeOid = 1083,
  kTimestampOid = 1114,
  kTimestamptzOid = 1184,
  kTimetzOid = 1266,
  kNumericOid = 1700,
  kUuidOid = 2950,
  kJsonbOid = 3802,
};

// text, json, jsonb and xml are long texts (the "text" class); varchar and
// the fixed-length types are strings. numeric and money are in the float
// class, but their values stay decimal texts with every digit (a numeric may
// have a thousand of them); only AsFloat makes a double of them.
TFieldType TypeOfOid(Oid oid) {
  switch (oid) {
    case kBoolOid:
      return ftBoolean;
    case kByteaOid:
      return ftBlob;
    case kInt2Oid:
      return ftSmallint;
    case kInt4Oid:
      return ftInteger;
    case kInt8Oid:
    case kOidOid:
      return ftLargeint;
    case kFloat4Oid:
    case kFloat8Oid:
      return ftFloat;
    case kNumericOid:
      return ftBCD;
    case kMoneyOid:
      return ftCurrency;
    case kDateOid:
      return ftDate;
    case kTimeOid:
    case kTimetzOid:
      return ftTime;
    case kTimestampOid:
    case kTimestamptzOid:
      return ftDateTime;
    case kTextOid:
    case kJsonOid:
    case kJsonbOid:
    case kXmlOid:
      return ftMemo;
    case kBpcharOid:
    case kCharOid:
      return ftFixedChar;
    case kUuidOid:
      return ftGuid;
    default:
      return ftString;  // varchar, name, interval, arrays, ...: their text form
  }
}

struct TPgConnCloser {
  void operator()(PGconn* conn) const noexcept { PQfinish(conn); }
};
struct TPgResultClearer {
  void operator()(PGresult* result) const noexcept { PQclear(result); }
};
struct TPgConninfoFreer {
  void operator()(PQconninfoOption* options) const noexcept { PQconninfoFree(options); }
};
using TPgResultPtr = std::unique_ptr<PGresult, TPgResultClearer>;

// SQLSTATE codes the driver acts on.
constexpr std::string_view kSyntaxErrorState = "42601";
constexpr std::string_view kIndeterminateTypeState = "42P18";

bool IsSqlState(const PGresult* result, std::string_view state) {
  const char* code = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return code != nullptr && state == code;
}

// libpq's messages end in a line feed and may span lines: one line for ours.
std::string OneLine(std::string_view text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

// What statements and result sets share of one connection.
struct TPgSession {
  std::unique_ptr<PGconn, TPgConnCloser> Conn;
  std::string Password;  // scrubbed from every message
  // Counts the transactions begun and ended through the connection, so that
  // a result set knows whether the transaction its plain cursor lives in is
  // still the current one.
  uint64_t TransactionGeneration = 0;
  uint64_t CursorCount = 0;

  PGconn* Open() const {
    if (!Conn) throw EMorvexError("The database connection is closed");
    return Conn.get();
  }

  std::string ErrorText(const PGresult* result) const {
    std::string message;
    const char* primary =
        result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (primary != nullptr) {
      message = primary;
      if (const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL)) {
        message += std::string(" (") + detail + ")";
      }
    } else {
      message = OneLine(Conn ? PQerrorMessage(Conn.get()) : "The database connection is closed");
    }
    return ScrubSecret(message, Password);
  }

  // Raises the error of a result that did not succeed.
  TPgResultPtr Check(PGresult* raw) const {
    TPgResultPtr result(raw);
    ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT) {
      EndCopy(status);
      throw EMorvexError("COPY from or to the client is not supported: copy from or to a file");
    }
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Raise(result.get());
    return result;
  }

  // Raises the error of `result` (null: the connection's), a syntax error
  // as EDbSyntaxError.
  [[noreturn]] void Raise(const PGresult* result) const {
    if (IsSqlState(result, kSyntaxErrorState)) throw EDbSyntaxError(ErrorText(result));
    throw EMorvexError(ErrorText(result));
  }

  // Leaves the copy state a COPY FROM STDIN or TO STDOUT put the connection
  // in, so that it takes commands again.
  void EndCopy(ExecStatusType status) const {
    PGconn* conn = Conn.get();
    if (status == PGRES_COPY_IN) {
      PQputCopyEnd(conn, "not supported");
    } else {
      char* row = nullptr;
      while (PQgetCopyData(conn, &row, 0) > 0) PQfreemem(row);
    }
    while (PGresult* rest = PQgetResult(conn)) PQclear(rest);
  }

  TPgResultPtr Exec(const std::string& sql) const { return Check(PQexec(Open(), sql.c_str())); }

  bool InTransaction() const {
    if (!Conn) return false;
    PGTransactionStatusType status = PQtransactionStatus(Conn.get());
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR;
  }
};
using TPgSessionPtr = std::shared_ptr<TPgSession>;

bool ChangesRows(const PGresult* result) {
  std::string_view tag = PQcmdStatus(const_cast<PGresult*>(result));
  return tag.starts_with("INSERT") || tag.starts_with("UPDATE") || tag.starts_with("DELETE") ||
         tag.starts_with("MERGE");
}

int64_t RowCount(const PGresult* result) {
  std::string_view count = PQcmdTuples(const_cast<PGresult*>(result));
  int64_t n = 0;
  std::from_chars(count.data(), count.data() + count.size(), n);
  return n;
}

// bytea in the hex output form "\x0a1b..."; the session asks for that form.
std::string DecodeBytea(std::string_view text) {
  std::string bytes;
  if (text.size() >= 2 && text[0] == '\\' && text[1] == 'x') {
    bytes.reserve((text.size() - 2) / 2);
    for (size_t i = 2; i + 1 < text.size(); i += 2) {
      int hi = AsciiHexValue(text[i]), lo = AsciiHexValue(text[i + 1]);
      if (hi < 0 || lo < 0) break;
      bytes += static_cast<char>(hi * 16 + lo);
    }
    return bytes;
  }
  return std::string(text);
}

double ParseFloatText(std::string_view text) {
  if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
  if (text == "Infinity") return std::numeric_limits<double>::infinity();
  if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// money is written with the server's currency symbol and group separators
// ("$1,234.50", "-$3.00"): the number alone, exact.
TDbValue MoneyValue(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if ((c >= '0' && c <= '9') || c == '.' || c == '-') digits += c;
  }
  return ExactNumericValue(digits);
}

class TPgResultSet : public TDbResultSet {
 public:
  // A result held in memory.
  TPgResultSet(TPgSessionPtr session, TPgResultPtr result)
      : session_(std::move(session)), batch_(std::move(result)) {
    rows_ = PQntuples(batch_.get());
    DescribeFields();
  }

  // A result read through the declared cursor `cursor`.
  TPgResultSet(TPgSessionPtr session, std::string cursor, bool hold)
      : session_(std::move(session)),
        cursor_(std::move(cursor)),
        hold_(hold),
        generation_(session_->TransactionGeneration),
        cursorOpen_(true) {
    try {
      FetchBatch();
    } catch (...) {
      ReleaseCursor();
      throw;
    }
    DescribeFields();
  }

  ~TPgResultSet() override { Close(); }

  bool Eof() const override { return row_ >= rows_; }

  void Next() override {
    if (row_ >= rows_) return;
    if (++row_ < rows_ || !cursorOpen_) return;
    FetchBatch();
  }

  void Close() override {
    ReleaseCursor();
    batch_.reset();
    rows_ = 0;
    row_ = 0;
  }

 protected:
  bool NullAt(int index) const override { return PQgetisnull(batch_.get(), row_, index); }

  TDbValue ValueAt(int index) const override {
    if (NullAt(index)) return TDbNull{};
    std::string_view text = Raw(index);
    switch (oids_[index]) {
      case kBoolOid:
        return text == "t";
      case kInt2Oid:
      case kInt4Oid:
      case kInt8Oid:
      case kOidOid: {
        int64_t value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        return value;
      }
      case kFloat4Oid:
      case kFloat8Oid:
        return ParseFloatText(text);
      case kNumericOid:
        return ExactNumericValue(text);
      case kMoneyOid:
        return MoneyValue(text);
      case kByteaOid:
        return TDbBytes{DecodeBytea(text)};
      case kDateOid:
      case kTimeOid:
      case kTimetzOid:
      case kTimestampOid:
      case kTimestamptzOid: {
        // "infinity" and dates before Christ stay text.
        double value = 0;
        if (ParseDbDateTime(text, value)) return TDbDateTime{value};
        return std::string(text);
      }
      default:
        return std::string(text);
    }
  }

 private:
  std::string_view Raw(int index) const {
    return {PQgetvalue(batch_.get(), row_, index),
            static_cast<size_t>(PQgetlength(batch_.get(), row_, index))};
  }

  void DescribeFields() {
    int count = PQnfields(batch_.get());
    for (int i = 0; i < count; ++i) {
      Oid oid = PQftype(batch_.get(), i);
      oids_.push_back(oid);
      AddField(PQfname(batch_.get(), i), TypeOfOid(oid));
    }
  }

  void FetchBatch() {
    const int wanted = fetchRows_;
    TPgResultPtr next =
        session_->Exec("FETCH FORWARD " + std::to_string(wanted) + " FROM " + cursor_);
    batch_ = std::move(next);
    rows_ = PQntuples(batch_.get());
    row_ = 0;
    if (rows_ < wanted) {
      ReleaseCursor();
    } else {
      fetchRows_ = NextFetchRows();
    }
  }

  // Rows for the next FETCH, from the size of the batch just read.
  int NextFetchRows() const {
    int64_t bytes = 0;
    const int fields = PQnfields(batch_.get());
    for (int r = 0; r < rows_; ++r) {
      for (int f = 0; f < fields; ++f) bytes += PQgetlength(batch_.get(), r, f) + 16;
    }
    const int64_t perRow = std::max<int64_t>(1, bytes / std::max(1, rows_));
    return static_cast<int>(
        std::clamp<int64_t>(kFetchBytes / perRow, kMinFetchRows, kMaxFetchRows));
  }

  // Closes the server's cursor when it still exists: a plain cursor ends
  // with its transaction, and in a failed transaction every command fails
  // until the rollback (which removes the cursor). Never raises.
  void ReleaseCursor() noexcept {
    if (!cursorOpen_) return;
    cursorOpen_ = false;
    if (!session_->Conn) return;
    PGconn* conn = session_->Conn.get();
    PGTransactionStatusType status = PQtransactionStatus(conn);
    if (status != PQTRANS_IDLE && status != PQTRANS_INTRANS) return;
    if (!hold_ && (status != PQTRANS_INTRANS || generation_ != session_->TransactionGeneration)) {
      return;
    }
    PQclear(PQexec(conn, ("CLOSE " + cursor_).c_str()));
  }

  TPgSessionPtr session_;
  TPgResultPtr batch_;
  int fetchRows_ = kFirstFetchRows;
  int rows_ = 0;
  int row_ = 0;
  std::vector<Oid> oids_;
  std::string cursor_;
  bool hold_ = false;
  uint64_t generation_ = 0;
  bool cursorOpen_ = false;
};

// One statement of a text, with "$n" in place of its "?" placeholders.
struct TPgPiece {
  std::string Text;
  std::vector<int> Parameters;  // the caller's parameter index for $1, $2, ...
  bool ThroughCursor = false;   // a query that may stream
  bool LocksRows = false;       // FOR UPDATE / FOR SHARE
  // Which of $1, $2, ... go as text because the server cannot infer their
  // type from the context; found on the first execution.
  std::vector<bool> AsText;
  bool TypesResolved = false;
};

// Parameter values as libpq takes them.
struct TPgValues {
  std::vector<std::string> Texts;
  std::vector<const char*> Values;
  std::vector<int> Lengths;
  std::vector<int> Formats;
  std::vector<Oid> Types;

  TPgValues(const TPgPiece& piece, const std::vector<TDbParameter>& parameters) {
    const std::vector<int>& indexes = piece.Parameters;
    size_t n = indexes.size();
    Texts.resize(n);
    Values.assign(n, nullptr);
    Lengths.assign(n, 0);
    Formats.assign(n, 0);
    Types.assign(n, 0);
    for (size_t k = 0; k < n; ++k) {
      size_t p = static_cast<size_t>(indexes[k]);
      if (p >= parameters.size()) continue;
      TDbValue value = CoerceDbParameter(parameters[p], static_cast<int>(p) + 1);
      if (std::holds_alternative<TDbNull>(value)) continue;
      if (auto* bytes = std::get_if<TDbBytes>(&value)) {
        Texts[k] = std::move(bytes->Bytes);
        Formats[k] = 1;
        Types[k] = kByteaOid;
      } else if (const auto* b = std::get_if<bool>(&value)) {
        Texts[k] = *b ? "true" : "false";
      } else if (const auto* d = std::get_if<double>(&value)) {
        Texts[k] = std::isnan(*d)   ? "NaN"
                   : std::isinf(*d) ? (*d > 0 ? "Infinity" : "-Infinity")
                                    : DbFloatText(*d);
      } else if (const auto* t = std::get_if<TDbDateTime>(&value)) {
        Texts[k] = DbDateTimeText(t->Value, parameters[p].DataType);
        if (Texts[k].empty()) {
          throw DateTimeParameterOutOfRange(p + 1);
        }
      } else {
        Texts[k] = DbValueText(value, ftUnknown);
      }
      Values[k] = Texts[k].data();
      Lengths[k] = static_cast<int>(Texts[k].size());
    }
    MarkText(piece);
  }

  // Parameters still left to the server (Null ones too) that the piece
  // sends as text.
  void MarkText(const TPgPiece& piece) {
    for (size_t k = 0; k < Types.size() && k < piece.AsText.size(); ++k) {
      if (Types[k] == 0 && piece.AsText[k]) Types[k] = kTextOid;
    }
  }
};

class TPgStatement : public TDbStatement {
 public:
  TPgStatement(TPgSessionPtr session, const std::string& sql, int parameterCount)
      : session_(std::move(session)), sql_(sql) {
    using detail::TSqlDialect;
    detail::TSqlScan scan = detail::ScanSql(sql, TSqlDialect::PostgreSQL);
    std::vector<int> assigned = detail::AssignSqlMarkers(scan, parameterCount);
    size_t start = 0;
    size_t marker = 0;
    std::vector<size_t> ends = scan.Separators;
    ends.push_back(sql.size());
    for (size_t end : ends) {
      TPgPiece piece;
      size_t copied = start;
      for (; marker < scan.Markers.size() && scan.Markers[marker].Position < end; ++marker) {
        if (assigned[marker] < 0) continue;
        size_t at = scan.Markers[marker].Position;
        piece.Text.append(sql, copied, at - copied);
        piece.Parameters.push_back(assigned[marker]);
        piece.Text += "$" + std::to_string(piece.Parameters.size());
        copied = at + 1;
      }
      piece.Text.append(sql, copied, end - copied);
      start = end + 1;
      std::string keyword = detail::FirstSqlKeyword(piece.Text, TSqlDialect::PostgreSQL);
      if (keyword.empty()) continue;
      auto has = [&](std::string_view word) {
        return detail::SqlHasKeyword(piece.Text, TSqlDialect::PostgreSQL, word);
      };
      if (keyword == "SELECT" || keyword == "VALUES" || keyword == "TABLE") {
        piece.ThroughCursor = !has("INTO");
      } else if (keyword == "WITH") {
        piece.ThroughCursor = !has("INSERT") && !has("UPDATE") && !has("DELETE") && !has("MERGE");
      }
      piece.LocksRows = piece.ThroughCursor && (has("UPDATE") || has("SHARE"));
      pieces_.push_back(std::move(piece));
    }
    simpleQuery_ = parameterCount <= 0 && pieces_.size() > 1;
  }

  std::unique_ptr<TDbResultSet> Execute(const std::vector<TDbParameter>& parameters,
                                        int64_t& rowsAffected) override {
    session_->Open();
    if (simpleQuery_) return ExecuteSimpleQuery(rowsAffected);
    std::unique_ptr<TDbResultSet> result;
    bool changed = false;
    int64_t count = 0;
    for (TPgPiece& piece : pieces_) {
      TPgValues values(piece, parameters);
      if (!piece.TypesResolved) ResolveTypes(piece, values);
      if (piece.ThroughCursor && !(piece.LocksRows && !session_->InTransaction())) {
        auto next = OpenCursor(piece, values);
        result = std::move(next);
        continue;
      }
      TPgResultPtr res = session_->Check(
          PQexecParams(session_->Conn.get(), piece.Text.c_str(),
                       static_cast<int>(values.Values.size()), values.Types.data(),
                       values.Values.data(), values.Lengths.data(), values.Formats.data(), 0));
      if (ChangesRows(res.get())) {
        changed = true;
        count += RowCount(res.get());
      }
      if (PQresultStatus(res.get()) == PGRES_TUPLES_OK) {
        result = std::make_unique<TPgResultSet>(session_, std::move(res));
      }
    }
    rowsAffected = changed ? count : -1;
    return result;
  }

 private:
  // Project parameters are texts and travel with their type left to the
  // server, so that ":id" compares with an integer column. Where the context
  // does not fix a type (":city IS NULL") the server refuses the statement:
  // such a parameter is sent as text. The piece is parsed (not run) with the
  // types as they stand; every "could not determine data type of parameter
  // $n" marks $n as text and parses again. Inside a transaction the parses
  // run under a savepoint, since a failed one would end the transaction. Any
  // other error ends the search: the execution reports it.
  // In a failed transaction nothing can be parsed: the search waits for the
  // next execution.
  void ResolveTypes(TPgPiece& piece, TPgValues& values) {
    PGconn* conn = session_->Conn.get();
    const PGTransactionStatusType status = PQtransactionStatus(conn);
    if (status != PQTRANS_IDLE && status != PQTRANS_INTRANS) return;
    piece.TypesResolved = true;
    const size_t count = piece.Parameters.size();
    piece.AsText.assign(count, false);
    if (count == 0) return;
    const bool savepoint = status == PQTRANS_INTRANS;
    if (savepoint) session_->Exec("SAVEPOINT morvex_parameter_types");
    for (size_t attempt = 0; attempt <= count; ++attempt) {
      TPgResultPtr parsed(
          PQprepare(conn, "", piece.Text.c_str(), static_cast<int>(count), values.Types.data()));
      if (parsed && PQresultStatus(parsed.get()) == PGRES_COMMAND_OK) break;
      if (savepoint) session_->Exec("ROLLBACK TO SAVEPOINT morvex_parameter_types");
      if (!IsSqlState(parsed.get(), kIndeterminateTypeState)) break;
      const char* message = PQresultErrorField(parsed.get(), PG_DIAG_MESSAGE_PRIMARY);
      const size_t n = detail::ParameterNumberInMessage(message != nullptr ? message : "");
      if (n == 0 || n > count || piece.AsText[n - 1]) break;
      piece.AsText[n - 1] = true;
      values.MarkText(piece);
    }
    if (savepoint) session_->Exec("RELEASE SAVEPOINT morvex_parameter_types");
  }

  std::unique_ptr<TDbResultSet> OpenCursor(const TPgPiece& piece, const TPgValues& values) {
    bool hold = PQtransactionStatus(session_->Conn.get()) == PQTRANS_IDLE;
    std::string name = "morvex_cursor_" + std::to_string(++session_->CursorCount);
    std::string declare =
        "DECLARE " + name + " NO SCROLL CURSOR " + (hold ? "WITH HOLD " : "") + "FOR " + piece.Text;
    session_->Check(PQexecParams(session_->Conn.get(), declare.c_str(),
                                 static_cast<int>(values.Values.size()), values.Types.data(),
                                 values.Values.data(), values.Lengths.data(), values.Formats.data(),
                                 0));
    return std::make_unique<TPgResultSet>(session_, name, hold);
  }

  // The whole text in one simple query: every result is read, the last one
  // with rows kept; the first error is raised once the server is done.
  std::unique_ptr<TDbResultSet> ExecuteSimpleQuery(int64_t& rowsAffected) {
    PGconn* conn = session_->Conn.get();
    if (!PQsendQuery(conn, sql_.c_str())) session_->Raise(nullptr);
    TPgResultPtr last;
    TPgResultPtr error;
    bool changed = false;
    int64_t count = 0;
    while (PGresult* raw = PQgetResult(conn)) {
      TPgResultPtr res(raw);
      ExecStatusType status = PQresultStatus(raw);
      if (status == PGRES_TUPLES_OK) {
        last = std::move(res);
      } else if (status == PGRES_COMMAND_OK) {
        if (ChangesRows(raw)) {
          changed = true;
          count += RowCount(raw);
        }
      } else if (!error && status != PGRES_EMPTY_QUERY) {
        error = std::move(res);
      }
    }
    if (error) session_->Raise(error.get());
    rowsAffected = changed ? count : -1;
    if (!last) return nullptr;
    return std::make_unique<TPgResultSet>(session_, std::move(last));
  }

  TPgSessionPtr session_;
  std::string sql_;
  std::vector<TPgPiece> pieces_;
  bool simpleQuery_ = false;
};

class TPgConnection : public TDbConnection {
 public:
  explicit TPgConnection(TPgSessionPtr session) : session_(std::move(session)) {}
  ~TPgConnection() override { Close(); }

  std::unique_ptr<TDbStatement> Prepare(const std::string& sql, int parameterCount) override {
    session_->Open();
    return std::make_unique<TPgStatement>(session_, sql, parameterCount);
  }

  void BeginTransaction() override {
    session_->Exec("BEGIN");
    ++session_->TransactionGeneration;
  }

  void Commit() override {
    TPgResultPtr result = session_->Exec("COMMIT");
    ++session_->TransactionGeneration;
    // COMMIT of a transaction that a failed statement aborted rolls back.
    if (std::string_view(PQcmdStatus(result.get())) == "ROLLBACK") {
      throw EMorvexError("The transaction was rolled back: a statement in it failed");
    }
  }

  void Rollback() override {
    session_->Exec("ROLLBACK");
    ++session_->TransactionGeneration;
  }

  bool InTransaction() const override { return session_->InTransaction(); }

  void Close() override { session_->Conn.reset(); }

  std::string DriverName() const override { return "PostgreSQL"; }

 private:
  TPgSessionPtr session_;
};

void IgnoreNotice(void*, const char*) {}

}  // namespace

std::unique_ptr<TDbConnection> OpenPostgresConnection(
    const std::vector<std::pair<std::string, std::string>>& keywords, bool expandDbname) {
  auto session = std::make_shared<TPgSession>();

  std::vector<std::pair<std::string, std::string>> all = keywords;
  for (const auto& [key, value] : keywords) {
    if (key == "password") session->Password = value;
  }
  // The passwords as written in a URI, before percent-decoding: libpq's
  // messages about a malformed URI may quote them.
  std::vector<std::string> uriPasswords;
  auto scrub = [&](std::string message) {
    message = ScrubSecret(std::move(message), session->Password);
    for (const std::string& password : uriPasswords) message = ScrubSecret(message, password);
    return message;
  };
  if (expandDbname) {
    for (const auto& [key, value] : keywords) {
      if (key != "dbname") continue;
      uriPasswords = UriPasswords(value);
      char* error = nullptr;
      std::unique_ptr<PQconninfoOption, TPgConninfoFreer> options(
          PQconninfoParse(value.c_str(), &error));
      if (!options) {
        std::string message = error != nullptr ? OneLine(error) : "invalid connection string";
        PQfreemem(error);
        throw CannotConnectError(scrub(message));
      }
      for (const PQconninfoOption* o = options.get(); o->keyword != nullptr; ++o) {
        if (std::string_view(o->keyword) == "password" && o->val != nullptr) {
          session->Password = o->val;
        }
      }
      break;
    }
  }
  // The program's text is UTF-8 whatever the server or the user asks for.
  all.emplace_back("client_encoding", "UTF8");
  all.emplace_back("fallback_application_name", "morvex");

  std::vector<const char*> names, values;
  for (const auto& [key, value] : all) {
    names.push_back(key.c_str());
    values.push_back(value.c_str());
  }
  names.push_back(nullptr);
  values.push_back(nullptr);
  session->Conn.reset(PQconnectdbParams(names.data(), values.data(), expandDbname ? 1 : 0));
  if (!session->Conn) throw CannotConnectError("out of memory");
  if (PQstatus(session->Conn.get()) != CONNECTION_OK) {
    std::string message = OneLine(PQerrorMessage(session->Conn.get()));
    throw CannotConnectError(scrub(message));
  }
  PQsetNoticeProcessor(session->Conn.get(), IgnoreNotice, nullptr);
  // Date and binary texts in the forms the driver reads.
  session->Exec(
      "SET DateStyle TO ISO, YMD; SET bytea_output TO hex; SET IntervalStyle TO postgres");
  return std::make_unique<TPgConnection>(std::move(session));
}

}  // namespace morvex
