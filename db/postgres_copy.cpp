#include "db/postgres_copy.h"

#include <utility>

#include "text/error.h"

namespace morvex::pg {

namespace {

constexpr const char* kSavepoint = "morvex_bulk_insert";
// Rows go to libpq in pieces of about this size.
constexpr size_t kSendSize = 64 * 1024;

// The columns of `table` in order, quoted, when COPY into it behaves as the
// INSERT (see OpenPgBulkInsert); none otherwise. The name is resolved as the
// INSERT resolves it (search_path), by to_regclass.
constexpr const char* kEligibleColumns = R"SQL(
SELECT quote_ident(a.attname)
FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped
WHERE c.oid = to_regclass($1) AND c.relkind = 'r' AND NOT c.relhasrules
  AND NOT c.relrowsecurity
  AND NOT EXISTS (SELECT 1 FROM pg_trigger t WHERE t.tgrelid = c.oid
                  AND (t.tgtype & 4) <> 0 AND (t.tgtype & 3) <> 3)
  AND NOT EXISTS (SELECT 1 FROM pg_attribute g WHERE g.attrelid = c.oid AND g.attnum > 0
                  AND NOT g.attisdropped AND (g.attgenerated <> '' OR g.attidentity = 'a'))
ORDER BY a.attnum)SQL";

class TPgBulkInsert : public TDbBulkInsert {
 public:
  TPgBulkInsert(TPgSessionPtr session, std::string copySql)
      : session_(std::move(session)), copySql_(std::move(copySql)) {}

  // A batch left open (its caller failed) is ended and taken back.
  ~TPgBulkInsert() override {
    try {
      AbandonBatch();
    } catch (const EMorvexError&) {
      // The transaction fails as a whole then.
    }
  }

  TPgBulkInsert(const TPgBulkInsert&) = delete;
  TPgBulkInsert& operator=(const TPgBulkInsert&) = delete;

  void AbandonBatch() override {
    if (!open_) return;
    open_ = false;
    buffer_.clear();
    if (!session_->Conn) return;
    PGconn* conn = session_->Conn.get();
    PQputCopyEnd(conn, "abandoned");
    while (PGresult* rest = PQgetResult(conn)) PQclear(rest);
    TakeBack();
  }

  void AddRow(const std::vector<std::optional<std::string_view>>& values) override {
    if (!open_) Start();
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) buffer_ += '\t';
      AppendCopyText(buffer_, values[i]);
    }
    buffer_ += '\n';
    if (buffer_.size() >= kSendSize) Send();
  }

  int64_t FinishBatch() override {
    if (!open_) return 0;
    Send();
    PGconn* conn = session_->Conn.get();
    open_ = false;
    if (PQputCopyEnd(conn, nullptr) != 1) session_->Raise(nullptr);
    TPgResultPtr result(PQgetResult(conn));
    const bool done = result && PQresultStatus(result.get()) == PGRES_COMMAND_OK;
    const std::string message = done ? std::string() : session_->ErrorText(result.get());
    const int64_t rows = done ? RowCount(result.get()) : 0;
    while (PGresult* rest = PQgetResult(conn)) PQclear(rest);
    if (!done) {
      TakeBack();
      throw EMorvexError(message);
    }
    session_->Exec(std::string("RELEASE SAVEPOINT ") + kSavepoint);
    return rows;
  }

 private:
  void Start() {
    session_->Exec(std::string("SAVEPOINT ") + kSavepoint);
    TPgResultPtr result(PQexec(session_->Open(), copySql_.c_str()));
    if (!result || PQresultStatus(result.get()) != PGRES_COPY_IN) {
      const std::string message = session_->ErrorText(result.get());
      while (PGresult* rest = PQgetResult(session_->Conn.get())) PQclear(rest);
      TakeBack();
      throw EMorvexError(message);
    }
    open_ = true;
  }

  void Send() {
    if (buffer_.empty()) return;
    if (PQputCopyData(session_->Conn.get(), buffer_.data(), static_cast<int>(buffer_.size())) !=
        1) {
      session_->Raise(nullptr);
    }
    buffer_.clear();
  }

  // Undoes the batch and ends its savepoint.
  void TakeBack() {
    session_->Exec(std::string("ROLLBACK TO SAVEPOINT ") + kSavepoint);
    session_->Exec(std::string("RELEASE SAVEPOINT ") + kSavepoint);
  }

  TPgSessionPtr session_;
  std::string copySql_;
  std::string buffer_;
  bool open_ = false;
};

}  // namespace

void AppendCopyText(std::string& line, const std::optional<std::string_view>& value) {
  if (!value) {
    line += "\\N";
    return;
  }
  for (const char c : *value) {
    switch (c) {
      case '\\':
        line += "\\\\";
        break;
      case '\t':
        line += "\\t";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      default:
        line += c;
    }
  }
}

std::unique_ptr<TDbBulkInsert> OpenPgBulkInsert(const TPgSessionPtr& session,
                                                const std::string& table,
                                                const std::vector<std::string>& columns,
                                                size_t valueCount) {
  // attgenerated is there from PostgreSQL 12 on.
  if (!session->InTransaction() || valueCount == 0 ||
      (!columns.empty() && columns.size() != valueCount) ||
      PQserverVersion(session->Conn.get()) < 120000) {
    return nullptr;
  }
  // The look-up runs under a savepoint: should it fail, the transaction
  // stays usable.
  session->Exec(std::string("SAVEPOINT ") + kSavepoint);
  const char* name = table.c_str();
  TPgResultPtr found(
      PQexecParams(session->Open(), kEligibleColumns, 1, nullptr, &name, nullptr, nullptr, 0));
  const bool ok = found && PQresultStatus(found.get()) == PGRES_TUPLES_OK;
  if (!ok) session->Exec(std::string("ROLLBACK TO SAVEPOINT ") + kSavepoint);
  session->Exec(std::string("RELEASE SAVEPOINT ") + kSavepoint);
  const size_t available = ok ? static_cast<size_t>(PQntuples(found.get())) : 0;
  if (available == 0 || available < valueCount) return nullptr;
  std::vector<std::string> names = columns;
  for (size_t i = 0; names.size() < valueCount; ++i) {
    names.emplace_back(PQgetvalue(found.get(), static_cast<int>(i), 0));
  }
  std::string sql = "COPY " + table + " (";
  for (size_t i = 0; i < names.size(); ++i) sql += (i > 0 ? ", " : "") + names[i];
  sql += ") FROM STDIN";
  return std::make_unique<TPgBulkInsert>(session, std::move(sql));
}

}  // namespace morvex::pg
