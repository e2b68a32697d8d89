// What the PostgreSQL driver's statements and result sets share: the
// connection with its error handling, the built-in type OIDs and the small
// readers of a command's outcome.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "db/connection_string.h"
#include "db/driver.h"
#include "text/error.h"

namespace morvex::pg {

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
TFieldType TypeOfOid(Oid oid);

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
constexpr std::string_view kNoSuchStatementState = "26000";
constexpr std::string_view kFeatureNotSupportedState = "0A000";

// True when `result` failed with SQLSTATE `state`.
bool IsSqlState(const PGresult* result, std::string_view state);

// libpq's messages end in a line feed and may span lines: one line for ours.
std::string OneLine(std::string_view text);

// A result set whose rows the server is still sending: nothing else can be
// sent on the connection until they are read.
class TPgStreamingResult {
 public:
  // Reads the rows still to come into memory, so that the connection takes
  // commands again; the result set then gives them from there. Never raises:
  // an error of the query is kept for the record where it happened.
  virtual void ReadAhead() noexcept = 0;

 protected:
  ~TPgStreamingResult() = default;
};

// What statements and result sets share of one connection.
struct TPgSession {
  std::unique_ptr<PGconn, TPgConnCloser> Conn;
  std::string Password;  // scrubbed from every message
  // Counts the transactions begun and ended through the connection, so that
  // a result set knows whether the transaction its plain cursor lives in is
  // still the current one.
  uint64_t TransactionGeneration = 0;
  uint64_t CursorCount = 0;
  // The result set being streamed, if any, and whether its query runs in a
  // transaction (the connection reports neither while the rows arrive).
  TPgStreamingResult* Streaming = nullptr;
  bool StreamingInTransaction = false;

  // Named prepared statements. DISCARD and DEALLOCATE remove them all
  // (DroppedGeneration counts those commands); other commands than queries
  // and data changes may change the row type a statement returns
  // (SchemaGeneration). A statement prepared before either is prepared again.
  uint64_t StatementCount = 0;
  uint64_t DroppedGeneration = 0;
  uint64_t SchemaGeneration = 0;

  // Executions queued in pipeline mode, oldest first, with the sync points
  // that end their batches (Tag unused there).
  struct TPending {
    uint64_t Tag = 0;
    bool Sync = false;
  };
  std::deque<TPending> Pending;
  int Unsynced = 0;          // executions queued since the last sync point
  int64_t QueuedRows = 0;    // rows the finished queued executions changed
  bool QueueFailed = false;  // the first queued execution that failed:
  std::string QueueError;    // the server's message
  uint64_t QueueErrorTag = 0;

  // The connection, ready for a command: rows of a result still being
  // streamed are read into memory first.
  PGconn* Open() const {
    if (!Conn) throw EMorvexError("The database connection is closed");
    if (Streaming != nullptr) Streaming->ReadAhead();
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

  // Runs `sql` once the queue is drained.
  TPgResultPtr Exec(const std::string& sql) {
    Drain();
    return Check(PQexec(Open(), sql.c_str()));
  }

  // True while executions are queued (the connection is in pipeline mode).
  bool Pipelined() const { return Conn && PQpipelineStatus(Conn.get()) != PQ_PIPELINE_OFF; }

  // Sends an execution of the prepared statement `name` without waiting
  // for it; results of earlier batches are read on the way, and the first
  // failure among them is raised (Drain).
  void Queue(const std::string& name, int count, const char* const* values, const int* lengths,
             const int* formats, uint64_t tag);
  // Waits for every queued execution and leaves pipeline mode; raises the
  // first failure among them as EDbQueuedError (once).
  void Drain();
  // Drain without raising: a failure stays for the next Drain.
  void Settle() noexcept;

  // True when the server sends valid UTF-8 only: the client encoding is
  // UTF8 and the server's is not SQL_ASCII (which stores bytes unchecked
  // and passes them on unconverted). A statement may change the client
  // encoding, so the answer holds for results begun now.
  bool SendsValidUtf8() const {
    if (!Conn) return false;
    const char* client = PQparameterStatus(Conn.get(), "client_encoding");
    const char* server = PQparameterStatus(Conn.get(), "server_encoding");
    return client != nullptr && server != nullptr && std::string_view(client) == "UTF8" &&
           std::string_view(server) != "SQL_ASCII";
  }

  bool InTransaction() const {
    if (!Conn) return false;
    // Executions are only queued inside a transaction.
    if (Pipelined()) return true;
    if (Streaming != nullptr) return StreamingInTransaction;
    PGTransactionStatusType status = PQtransactionStatus(Conn.get());
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR;
  }

 private:
  void SyncQueue();
  void FinishQueue();
  // Reads the results of the oldest pending entry.
  void ReadPending();
  // The connection failed while executions were queued: they are lost.
  [[noreturn]] void LoseQueue();
};
using TPgSessionPtr = std::shared_ptr<TPgSession>;

// True when the command tag is that of INSERT, UPDATE, DELETE or MERGE.
bool ChangesRows(const PGresult* result);
// The row count of the command tag (0 when it has none).
int64_t RowCount(const PGresult* result);

}  // namespace morvex::pg
