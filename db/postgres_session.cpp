#include "db/postgres_session.h"

#include <charconv>

namespace morvex::pg {

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

bool IsSqlState(const PGresult* result, std::string_view state) {
  const char* code = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return code != nullptr && state == code;
}

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

namespace {

// Executions between two sync points, and the most that may wait for their
// results: enough to keep the server busy, few enough that the results
// waiting to be read stay small.
constexpr int kQueueBatch = 256;
constexpr size_t kQueueLimit = 4 * kQueueBatch;

}  // namespace

void TPgSession::Queue(const std::string& name, int count, const char* const* values,
                       const int* lengths, const int* formats, uint64_t tag) {
  PGconn* conn = Open();
  if (QueueFailed) Drain();
  if (PQpipelineStatus(conn) == PQ_PIPELINE_OFF) {
    if (!PQenterPipelineMode(conn)) Raise(nullptr);
    // Sending never blocks, so that a full socket cannot hold up the reading
    // of the results that would empty it.
    PQsetnonblocking(conn, 1);
  }
  if (!PQsendQueryPrepared(conn, name.c_str(), count, values, lengths, formats, 0)) LoseQueue();
  Pending.push_back({tag, false});
  if (++Unsynced < kQueueBatch) return;
  SyncQueue();
  if (PQflush(conn) < 0 || !PQconsumeInput(conn)) LoseQueue();
  while (!Pending.empty() && (Pending.size() > kQueueLimit || !PQisBusy(conn))) ReadPending();
  if (QueueFailed) Drain();
}

void TPgSession::SyncQueue() {
  if (!PQpipelineSync(Conn.get())) LoseQueue();
  Pending.push_back({0, true});
  Unsynced = 0;
}

void TPgSession::ReadPending() {
  PGconn* conn = Conn.get();
  const TPending entry = Pending.front();
  TPgResultPtr result(PQgetResult(conn));
  if (!result) LoseQueue();
  const ExecStatusType status = PQresultStatus(result.get());
  if (entry.Sync) {
    if (status != PGRES_PIPELINE_SYNC) LoseQueue();
  } else {
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
      if (ChangesRows(result.get())) QueuedRows += RowCount(result.get());
    } else if (status != PGRES_PIPELINE_ABORTED && !QueueFailed) {
      QueueFailed = true;
      QueueError = ErrorText(result.get());
      QueueErrorTag = entry.Tag;
    }
    // An execution's results end with a null.
    while (PGresult* rest = PQgetResult(conn)) PQclear(rest);
  }
  Pending.pop_front();
}

void TPgSession::FinishQueue() {
  if (!Pipelined()) return;
  PGconn* conn = Conn.get();
  if (Unsynced > 0) SyncQueue();
  while (!Pending.empty()) ReadPending();
  if (!PQexitPipelineMode(conn)) LoseQueue();
  PQsetnonblocking(conn, 0);
}

void TPgSession::Drain() {
  FinishQueue();
  if (!QueueFailed) return;
  QueueFailed = false;
  QueuedRows = 0;
  throw EDbQueuedError(QueueError, QueueErrorTag);
}

void TPgSession::Settle() noexcept {
  try {
    FinishQueue();
  } catch (const std::exception&) {
    // The connection failed; its next use reports it.
  }
}

void TPgSession::LoseQueue() {
  std::string message = ErrorText(nullptr);
  Pending.clear();
  Unsynced = 0;
  QueuedRows = 0;
  QueueFailed = false;
  if (Conn && PQstatus(Conn.get()) == CONNECTION_OK) {
    // Out of step with the server: a connection that cannot be trusted is closed.
    Conn.reset();
  }
  throw EMorvexError(message);
}

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

}  // namespace morvex::pg
