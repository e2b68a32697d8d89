// The PostgreSQL driver.
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
//
// A statement that does not go through a cursor is prepared on the server
// under a name of its own on its first execution, with the parameter types
// of that execution, and runs as that prepared statement as long as the
// types stay the same (an execution with other types, such as bytes where
// there was text, runs with PQexecParams). Prepared statements belong to the
// server session, not to a transaction: a rollback keeps them. DISCARD and
// DEALLOCATE remove them, and a changed table may change the row type a
// statement returns: a statement prepared before such a command (run through
// this driver) is prepared again, and outside a transaction an execution
// that the server refuses because the statement is gone or its plan changed
// is prepared again and repeated. The statement is deallocated when it is
// destroyed, when the connection can still take commands.
//
// Inside a transaction, a prepared statement that returns no rows may be
// queued (TryQueue): it is sent in pipeline mode, and its outcome is read
// later, in batches; every other use of the connection waits for the queue
// first (TPgSession::Drain).
#include "db/postgres_driver.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "db/connection_string.h"
#include "db/db_values.h"
#include "db/postgres_copy.h"
#include "db/postgres_result.h"
#include "db/postgres_session.h"
#include "db/sql_scan.h"
#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

using namespace pg;

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
  // The server's prepared statement: its name (empty until prepared), the
  // parameter types it was prepared with, whether it returns rows, and the
  // session's generations then.
  std::string Name;
  std::vector<Oid> PreparedTypes;
  bool ReturnsRows = true;
  uint64_t DroppedGeneration = 0;
  uint64_t SchemaGeneration = 0;
  // DISCARD or DEALLOCATE (drops prepared statements); a command that may
  // change tables or types (neither a query nor a data change).
  bool DropsStatements = false;
  bool ChangesSchema = false;
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

// Commands that change neither tables nor types nor the names in use: data
// changes, queries and transaction control.
bool LeavesSchema(std::string_view keyword) {
  static constexpr std::string_view kKeywords[] = {
      "SELECT",  "WITH",  "VALUES",  "TABLE",  "INSERT", "UPDATE",   "DELETE",
      "MERGE",   "BEGIN", "START",   "COMMIT", "END",    "ROLLBACK", "SAVEPOINT",
      "RELEASE", "SHOW",  "EXPLAIN", "FETCH",  "MOVE",   "CLOSE",    "DECLARE"};
  return std::find(std::begin(kKeywords), std::end(kKeywords), keyword) != std::end(kKeywords);
}

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
      piece.DropsStatements = keyword == "DISCARD" || keyword == "DEALLOCATE";
      piece.ChangesSchema = !piece.DropsStatements && !LeavesSchema(keyword);
      pieces_.push_back(std::move(piece));
    }
    simpleQuery_ = parameterCount <= 0 && pieces_.size() > 1;
  }

  ~TPgStatement() override {
    PGconn* conn = session_->Conn.get();
    if (!conn || PQstatus(conn) != CONNECTION_OK || session_->Pipelined()) return;
    const PGTransactionStatusType status = PQtransactionStatus(conn);
    if (status != PQTRANS_IDLE && status != PQTRANS_INTRANS) return;
    for (const TPgPiece& piece : pieces_) {
      if (piece.Name.empty() || piece.DroppedGeneration != session_->DroppedGeneration) continue;
      PQclear(PQexec(conn, ("DEALLOCATE " + piece.Name).c_str()));
    }
  }

  std::unique_ptr<TDbResultSet> Execute(const std::vector<TDbParameter>& parameters,
                                        int64_t& rowsAffected) override {
    session_->Open();
    session_->Drain();
    if (simpleQuery_) {
      for (const TPgPiece& piece : pieces_) NoteCommand(piece);
      return ExecuteSimpleQuery(rowsAffected);
    }
    std::unique_ptr<TDbResultSet> result;
    bool changed = false;
    int64_t count = 0;
    for (TPgPiece& piece : pieces_) {
      TPgValues values(piece, parameters);
      if (!piece.TypesResolved) ResolveTypes(piece, values);
      if (piece.ThroughCursor && !(piece.LocksRows && !session_->InTransaction())) {
        auto next = OpenCursor(piece, values, &piece == &pieces_.back());
        result = std::move(next);
        continue;
      }
      TPgResultPtr res = Run(piece, values);
      if (ChangesRows(res.get())) {
        changed = true;
        count += RowCount(res.get());
      }
      if (PQresultStatus(res.get()) == PGRES_TUPLES_OK) {
        result = HeldResultSet(session_, std::move(res));
      }
    }
    rowsAffected = changed ? count : -1;
    return result;
  }

  bool TryQueue(const std::vector<TDbParameter>& parameters, uint64_t tag) override {
    if (simpleQuery_ || pieces_.size() != 1) return false;
    const TPgPiece& piece = pieces_.front();
    if (piece.Name.empty() || piece.ReturnsRows || !Current(piece)) return false;
    if (!session_->Pipelined()) {
      PGconn* conn = session_->Open();
      if (PQtransactionStatus(conn) != PQTRANS_INTRANS) return false;
    }
    TPgValues values(piece, parameters);
    if (values.Types != piece.PreparedTypes) return false;
    session_->Queue(piece.Name, static_cast<int>(values.Values.size()), values.Values.data(),
                    values.Lengths.data(), values.Formats.data(), tag);
    return true;
  }

 private:
  // True when the piece's prepared statement is still the one to run.
  bool Current(const TPgPiece& piece) const {
    return piece.DroppedGeneration == session_->DroppedGeneration &&
           piece.SchemaGeneration == session_->SchemaGeneration;
  }

  // Counts a command that removes prepared statements or may change tables.
  void NoteCommand(const TPgPiece& piece) {
    if (piece.DropsStatements) ++session_->DroppedGeneration;
    if (piece.ChangesSchema) ++session_->SchemaGeneration;
  }

  // Runs a piece that does not go through a cursor: as its prepared
  // statement where one fits, otherwise with PQexecParams.
  TPgResultPtr Run(TPgPiece& piece, const TPgValues& values) {
    PGconn* conn = session_->Conn.get();
    const int count = static_cast<int>(values.Values.size());
    PGresult* raw = nullptr;
    if (Prepared(piece, values)) {
      raw = PQexecPrepared(conn, piece.Name.c_str(), count, values.Values.data(),
                           values.Lengths.data(), values.Formats.data(), 0);
      // Outside a transaction nothing is lost by preparing again and
      // repeating the execution.
      if (Stale(raw) && PQtransactionStatus(conn) == PQTRANS_IDLE) {
        if (IsSqlState(raw, kNoSuchStatementState)) piece.DroppedGeneration = ~uint64_t{0};
        piece.SchemaGeneration = ~uint64_t{0};
        PQclear(raw);
        raw = nullptr;
        if (Prepared(piece, values)) {
          raw = PQexecPrepared(conn, piece.Name.c_str(), count, values.Values.data(),
                               values.Lengths.data(), values.Formats.data(), 0);
        }
      }
    }
    if (!raw) {
      raw = PQexecParams(conn, piece.Text.c_str(), count, values.Types.data(), values.Values.data(),
                         values.Lengths.data(), values.Formats.data(), 0);
    }
    NoteCommand(piece);
    return session_->Check(raw);
  }

  // The server no longer has the statement, or its plan now returns
  // another row type.
  static bool Stale(const PGresult* result) {
    if (IsSqlState(result, kNoSuchStatementState)) return true;
    if (!IsSqlState(result, kFeatureNotSupportedState)) return false;
    const char* message = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    return message != nullptr && std::string_view(message).starts_with("cached plan must not");
  }

  // Makes sure the piece has a prepared statement for these parameter
  // types; false when it is to run with PQexecParams instead (other types
  // than it was prepared with, or a transaction that failed, where nothing
  // can be prepared). A statement the server refuses to prepare raises the
  // server's error, as its execution would have.
  bool Prepared(TPgPiece& piece, const TPgValues& values) {
    if (!piece.Name.empty() && Current(piece)) return values.Types == piece.PreparedTypes;
    PGconn* conn = session_->Conn.get();
    const PGTransactionStatusType status = PQtransactionStatus(conn);
    if (status != PQTRANS_IDLE && status != PQTRANS_INTRANS) return false;
    if (!piece.Name.empty() && status == PQTRANS_IDLE &&
        piece.DroppedGeneration == session_->DroppedGeneration) {
      // The old statement should still exist (only its tables changed); in
      // a transaction it stays until the session ends, since a failed
      // DEALLOCATE would end the transaction.
      PQclear(PQexec(conn, ("DEALLOCATE " + piece.Name).c_str()));
    }
    piece.Name.clear();
    std::string name = "morvex_statement_" + std::to_string(++session_->StatementCount);
    session_->Check(PQprepare(conn, name.c_str(), piece.Text.c_str(),
                              static_cast<int>(values.Types.size()), values.Types.data()));
    piece.Name = std::move(name);
    piece.PreparedTypes = values.Types;
    piece.DroppedGeneration = session_->DroppedGeneration;
    piece.SchemaGeneration = session_->SchemaGeneration;
    TPgResultPtr described = session_->Check(PQdescribePrepared(conn, piece.Name.c_str()));
    piece.ReturnsRows = PQnfields(described.get()) > 0;
    return true;
  }

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

  // The result of a query: streamed when it is the statement's last piece
  // and nothing runs beside it, read through a cursor otherwise.
  std::unique_ptr<TDbResultSet> OpenCursor(const TPgPiece& piece, const TPgValues& values,
                                           bool last) {
    if (last && ReadAlone()) return OpenStream(piece, values);
    bool hold = PQtransactionStatus(session_->Conn.get()) == PQTRANS_IDLE;
    std::string name = "morvex_cursor_" + std::to_string(++session_->CursorCount);
    std::string declare =
        "DECLARE " + name + " NO SCROLL CURSOR " + (hold ? "WITH HOLD " : "") + "FOR " + piece.Text;
    session_->Check(PQexecParams(session_->Conn.get(), declare.c_str(),
                                 static_cast<int>(values.Values.size()), values.Types.data(),
                                 values.Values.data(), values.Lengths.data(), values.Formats.data(),
                                 0));
    return CursorResultSet(session_, name, hold);
  }

  // A query without parameters goes through COPY, whose rows cost the least
  // to send and to read, its fields described first; one with parameters in
  // single-row mode.
  std::unique_ptr<TDbResultSet> OpenStream(const TPgPiece& piece, const TPgValues& values) {
    PGconn* conn = session_->Conn.get();
    const bool inTransaction = session_->InTransaction();
    if (piece.Parameters.empty() && !piece.LocksRows) {
      session_->Check(PQprepare(conn, "", piece.Text.c_str(), 0, nullptr));
      TPgResultPtr description = session_->Check(PQdescribePrepared(conn, ""));
      // The line feed ends a comment that may close the query.
      const std::string copy = "COPY (" + piece.Text + "\n) TO STDOUT";
      if (!PQsendQuery(conn, copy.c_str())) session_->Raise(nullptr);
      return CopyStreamResultSet(session_, std::move(description), inTransaction);
    }
    if (!PQsendQueryParams(conn, piece.Text.c_str(), static_cast<int>(values.Values.size()),
                           values.Types.data(), values.Values.data(), values.Lengths.data(),
                           values.Formats.data(), 0)) {
      session_->Raise(nullptr);
    }
    PQsetSingleRowMode(conn);
    return RowStreamResultSet(session_, inTransaction);
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
    return HeldResultSet(session_, std::move(last));
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
    // The rollback undoes the queued executions, failed or not.
    session_->Settle();
    session_->QueueFailed = false;
    session_->QueuedRows = 0;
    session_->Exec("ROLLBACK");
    ++session_->TransactionGeneration;
  }

  bool InTransaction() const override { return session_->InTransaction(); }

  int64_t Flush() override {
    session_->Drain();
    return std::exchange(session_->QueuedRows, 0);
  }

  void Close() override { session_->Conn.reset(); }

  std::string DriverName() const override { return "PostgreSQL"; }

  std::unique_ptr<TDbBulkInsert> OpenBulkInsert(const std::string& table,
                                                const std::vector<std::string>& columns,
                                                size_t valueCount) override {
    return OpenPgBulkInsert(session_, table, columns, valueCount);
  }

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
  // The passwords written in addresses, as written and percent-decoded, and
  // the other secrets (sslpassword): libpq's messages may quote any value, a
  // malformed URI's among them.
  std::vector<std::string> uriPasswords;
  for (const auto& [key, value] : keywords) {
    for (std::string& password : UriPasswords(value)) uriPasswords.push_back(std::move(password));
    if (key != "password" && IsPasswordKey(key)) uriPasswords.push_back(value);
  }
  auto scrub = [&](std::string message) {
    message = ScrubSecret(std::move(message), session->Password);
    for (const std::string& password : uriPasswords) message = ScrubSecret(message, password);
    return message;
  };
  if (expandDbname) {
    for (const auto& [key, value] : keywords) {
      if (key != "dbname") continue;
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
