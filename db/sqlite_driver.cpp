// The SQLite driver.
//
// A statement text may hold several statements; they are prepared one after
// the other (a later one may use a table an earlier one creates) and kept
// for the next execution. Each is stepped to its end, except those that
// return rows: the last of those stays open as the result set, read one row
// per step, so nothing is held in memory. SQLite lets other statements run on
// the connection while a result set is open, which nested statements need.
//
// Field types come from the declared column types; a column without one (an
// expression) takes the storage class of its value in the first row.
#include "db/sqlite_driver.h"
#include "db/db_values.h"
#include "db/sql_scan.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "text/error.h"

namespace morvex {

namespace {

constexpr long long kMsPerDay = 86400000;

struct TSqliteCloser {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct TSqliteFinalizer {
  void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};

// Statements and result sets share the database handle: sqlite3_close_v2
// waits for the last statement, so a statement that outlives Close() of its
// connection stays usable until it goes.
using TSqliteDbPtr = std::shared_ptr<sqlite3>;
using TSqliteStmtPtr = std::shared_ptr<sqlite3_stmt>;

// The busy timeout the connection has, in milliseconds.
int BusyTimeoutMs(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA busy_timeout", -1, &raw, nullptr) != SQLITE_OK) return 0;
  std::unique_ptr<sqlite3_stmt, TSqliteFinalizer> stmt(raw);
  return sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int(raw, 0) : 0;
}

// SQLite's own word for a lock it waited on in vain is "database is
// locked", which does not say that somebody else holds it.
std::string ErrorMessage(sqlite3* db) {
  if ((sqlite3_extended_errcode(db) & 0xff) != SQLITE_BUSY) return sqlite3_errmsg(db);
  const int ms = BusyTimeoutMs(db);
  std::string seconds = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", ms % 1000);
    seconds += fraction;
    while (seconds.back() == '0') seconds.pop_back();
  }
  return "The database is locked by another process: gave up after waiting " + seconds +
         (seconds == "1" ? " second" : " seconds") +
         " (Timeout= in the connection string sets the wait)";
}

[[noreturn]] void Fail(sqlite3* db) { throw EMorvexError(ErrorMessage(db)); }

// A statement that does not compile: SQLite has no code of its own for a
// malformed text, its messages name it ("near "x": syntax error",
// "unrecognized token: ...", "incomplete input").
[[noreturn]] void FailToPrepare(sqlite3* db) {
  const std::string message = sqlite3_errmsg(db);
  if (message.ends_with("syntax error") || message.starts_with("unrecognized token") ||
      message == "incomplete input") {
    throw EDbSyntaxError(message);
  }
  throw EMorvexError(message);
}

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db);
}

std::string UpperDeclaredType(const char* declared) {
  std::string type = declared;
  for (char& c : type) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  size_t paren = type.find('(');
  if (paren != std::string::npos) type.resize(paren);
  while (!type.empty() && type.back() == ' ') type.pop_back();
  return type;
}

// The field type of a declared column type: the common type names first,
// then SQLite's own affinity rules for the rest.
TFieldType TypeOfDeclared(const char* declared) {
  std::string t = UpperDeclaredType(declared);
  struct Name {
    const char* name;
    TFieldType type;
  };
  static constexpr Name kNames[] = {
      {"INTEGER", ftInteger},
      {"INT", ftInteger},
      {"INT4", ftInteger},
      {"MEDIUMINT", ftInteger},
      {"TINYINT", ftSmallint},
      {"SMALLINT", ftSmallint},
      {"INT2", ftSmallint},
      {"BIGINT", ftLargeint},
      {"INT8", ftLargeint},
      {"UNSIGNED BIG INT", ftLargeint},
      {"BOOLEAN", ftBoolean},
      {"BOOL", ftBoolean},
      {"BIT", ftBoolean},
      {"REAL", ftFloat},
      {"FLOAT", ftFloat},
      {"DOUBLE", ftFloat},
      {"DOUBLE PRECISION", ftFloat},
      {"FLOAT4", ftFloat},
      {"FLOAT8", ftFloat},
      {"NUMERIC", ftBCD},
      {"DECIMAL", ftBCD},
      {"MONEY", ftCurrency},
      {"CURRENCY", ftCurrency},
      {"DATE", ftDate},
      {"TIME", ftTime},
      {"DATETIME", ftDateTime},
      {"TIMESTAMP", ftDateTime},
      {"TEXT", ftMemo},
      {"CLOB", ftMemo},
      {"MEMO", ftMemo},
      {"LONGTEXT", ftMemo},
      {"MEDIUMTEXT", ftMemo},
      {"VARCHAR", ftString},
      {"CHAR", ftString},
      {"CHARACTER", ftString},
      {"VARYING CHARACTER", ftString},
      {"STRING", ftString},
      {"NVARCHAR", ftWideString},
      {"NCHAR", ftWideString},
      {"NATIVE CHARACTER", ftWideString},
      {"BLOB", ftBlob},
      {"BINARY", ftBlob},
      {"VARBINARY", ftBlob},
      {"LONGBLOB", ftBlob},
      {"GUID", ftGuid},
      {"UUID", ftGuid},
  };
  for (const auto& n : kNames) {
    if (t == n.name) return n.type;
  }
  if (t.starts_with("TIMESTAMP")) return ftDateTime;
  if (t.find("INT") != std::string::npos) return ftInteger;
  if (t.find("CHAR") != std::string::npos || t.find("CLOB") != std::string::npos ||
      t.find("TEXT") != std::string::npos) {
    return ftString;
  }
  if (t.find("BLOB") != std::string::npos) return ftBlob;
  if (t.find("REAL") != std::string::npos || t.find("FLOA") != std::string::npos ||
      t.find("DOUB") != std::string::npos) {
    return ftFloat;
  }
  return ftString;
}

TFieldType TypeOfStorageClass(int storage) {
  switch (storage) {
    case SQLITE_INTEGER:
      return ftLargeint;
    case SQLITE_FLOAT:
      return ftFloat;
    case SQLITE_BLOB:
      return ftBlob;
    default:
      return ftString;
  }
}

// A date-time from a millisecond count since day 0, whole days towards the
// past, the time of day forwards.
double DateTimeOfMs(long long totalMs) {
  long long days = totalMs / kMsPerDay;
  long long ms = totalMs % kMsPerDay;
  if (ms < 0) {
    ms += kMsPerDay;
    --days;
  }
  double time = static_cast<double>(ms) / kMsPerDay;
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

bool IsDataChange(sqlite3_stmt* stmt) {
  std::string keyword = detail::FirstSqlKeyword(sqlite3_sql(stmt), detail::TSqlDialect::SQLite);
  if (keyword == "INSERT" || keyword == "UPDATE" || keyword == "DELETE" || keyword == "REPLACE") {
    return true;
  }
  return keyword == "WITH" && !sqlite3_stmt_readonly(stmt);
}

void BindValue(sqlite3* db, sqlite3_stmt* stmt, int index, const TDbParameter& parameter,
               int number) {
  TDbValue value = CoerceDbParameter(parameter, number);
  int rc = SQLITE_OK;
  if (const auto* i = std::get_if<int64_t>(&value)) {
    rc = sqlite3_bind_int64(stmt, index, *i);
  } else if (const auto* b = std::get_if<bool>(&value)) {
    rc = sqlite3_bind_int(stmt, index, *b ? 1 : 0);
  } else if (const auto* d = std::get_if<double>(&value)) {
    rc = sqlite3_bind_double(stmt, index, *d);
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    rc = sqlite3_bind_text64(stmt, index, s->data(), s->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } else if (const auto* bytes = std::get_if<TDbBytes>(&value)) {
    rc = sqlite3_bind_blob64(stmt, index, bytes->Bytes.data(), bytes->Bytes.size(),
                             SQLITE_TRANSIENT);
  } else if (const auto* t = std::get_if<TDbDateTime>(&value)) {
    // SQLite keeps dates as ISO text, which its date functions read.
    std::string text = DbDateTimeText(t->Value, parameter.DataType);
    if (text.empty()) {
      throw DateTimeParameterOutOfRange(number);
    }
    rc = sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } else {
    rc = sqlite3_bind_null(stmt, index);
  }
  if (rc != SQLITE_OK) Fail(db);
}

class TSqliteResultSet : public TDbResultSet {
 public:
  // `stmt` has been stepped once; `rc` is what that step returned.
  TSqliteResultSet(TSqliteDbPtr db, TSqliteStmtPtr stmt, int rc)
      : db_(std::move(db)), stmt_(std::move(stmt)), eof_(rc != SQLITE_ROW) {
    int count = sqlite3_column_count(stmt_.get());
    for (int i = 0; i < count; ++i) {
      const char* name = sqlite3_column_name(stmt_.get(), i);
      const char* declared = sqlite3_column_decltype(stmt_.get(), i);
      TFieldType type =
          declared != nullptr && *declared != '\0'
              ? TypeOfDeclared(declared)
              : (eof_ ? ftString : TypeOfStorageClass(sqlite3_column_type(stmt_.get(), i)));
      AddField(name != nullptr ? name : "", type);
      columns_.push_back(ColumnOf(type));
    }
  }
  ~TSqliteResultSet() override { Close(); }

  bool Eof() const override { return eof_; }

  void Next() override {
    if (eof_) return;
    int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) return;
    eof_ = true;
    if (rc != SQLITE_DONE) Fail(db_.get());
  }

  void Close() override {
    if (stmt_) {
      sqlite3_reset(stmt_.get());
      sqlite3_clear_bindings(stmt_.get());
      stmt_.reset();
    }
    eof_ = true;
  }

 protected:
  bool NullAt(int index) const override {
    return sqlite3_column_type(stmt_.get(), index) == SQLITE_NULL;
  }

  // The column's own text or bytes where they are its text form: text and
  // binary values outside date columns, whose text would be parsed as a
  // date. Integers are formatted into `scratch`; everything else takes the
  // converting path. One sqlite3_column_type call gives the null state and
  // the storage class.
  bool FieldTextAt(int index, std::string& scratch, std::string_view& text) const override {
    sqlite3_stmt* s = stmt_.get();
    const TColumn column = columns_[static_cast<size_t>(index)];
    switch (sqlite3_column_type(s, index)) {
      case SQLITE_NULL:
        return false;
      case SQLITE_TEXT:
        if (column == TColumn::Date) {
          // A date column's own "yyyy-mm-dd" is the text its date gives.
          if (Field(index).Type != ftDate) break;
          const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(s, index));
          const std::string_view date(data != nullptr ? data : "",
                                      static_cast<size_t>(sqlite3_column_bytes(s, index)));
          if (!IsPlainDbDate(date)) break;
          text = date;
          return true;
        }
        {
          // sqlite3_column_text before sqlite3_column_bytes: the size is
          // then that of the text form.
          const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(s, index));
          text = std::string_view(data != nullptr ? data : "",
                                  static_cast<size_t>(sqlite3_column_bytes(s, index)));
        }
        return true;
      case SQLITE_BLOB:
        if (column == TColumn::Date) break;
        {
          const auto* data = static_cast<const char*>(sqlite3_column_blob(s, index));
          const auto size = static_cast<size_t>(sqlite3_column_bytes(s, index));
          text = data != nullptr ? std::string_view(data, size) : std::string_view();
        }
        return true;
      case SQLITE_INTEGER:
        if (column != TColumn::Other) break;
        {
          char buffer[24];
          const auto end =
              std::to_chars(buffer, buffer + sizeof buffer, sqlite3_column_int64(s, index)).ptr;
          scratch.assign(buffer, end);
          text = scratch;
        }
        return true;
      default:
        break;
    }
    scratch = TextAt(index);
    text = scratch;
    return true;
  }

  TDbValue ValueAt(int index) const override {
    TFieldType type = Field(index).Type;
    sqlite3_stmt* s = stmt_.get();
    const bool dateClass = IsDateClass(FieldTypeClass(type));
    switch (sqlite3_column_type(s, index)) {
      case SQLITE_INTEGER: {
        int64_t value = sqlite3_column_int64(s, index);
        if (type == ftBoolean) return value != 0;
        // Whole numbers in a date column are Unix times, as SQLite's
        // 'unixepoch' modifier reads them.
        if (dateClass) return TDbDateTime{DateTimeOfMs((value + 2209161600LL) * 1000)};
        return value;
      }
      case SQLITE_FLOAT: {
        double value = sqlite3_column_double(s, index);
        // Fractional numbers in a date column are Julian day numbers, the
        // form of SQLite's julianday().
        if (dateClass && std::isfinite(value) && std::fabs(value) < 1e7) {
          return TDbDateTime{DateTimeOfMs(std::llround((value - 2415018.5) * kMsPerDay))};
        }
        return value;
      }
      case SQLITE_TEXT: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, index));
        const std::string_view value(text != nullptr ? text : "",
                                     static_cast<size_t>(sqlite3_column_bytes(s, index)));
        double dateTime = 0;
        if (dateClass && ParseDbDateTime(value, dateTime)) return TDbDateTime{dateTime};
        return std::string(value);
      }
      case SQLITE_BLOB: {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(s, index));
        size_t size = static_cast<size_t>(sqlite3_column_bytes(s, index));
        return TDbBytes{data != nullptr ? std::string(data, size) : std::string()};
      }
      default:
        return TDbNull{};
    }
  }

 private:
  // What a column's type changes in its values' text forms.
  enum class TColumn : uint8_t {
    Other,
    Boolean,  // integers read as "1" or "0"
    Date,     // values read as dates where they are dates
  };
  static TColumn ColumnOf(TFieldType type) {
    if (type == ftBoolean) return TColumn::Boolean;
    return IsDateClass(FieldTypeClass(type)) ? TColumn::Date : TColumn::Other;
  }

  TSqliteDbPtr db_;
  TSqliteStmtPtr stmt_;
  bool eof_;
  std::vector<TColumn> columns_;
};

class TSqliteStatement : public TDbStatement {
 public:
  TSqliteStatement(TSqliteDbPtr db, std::string sql, int parameterCount)
      : db_(std::move(db)), sql_(std::move(sql)) {
    detail::TSqlScan scan = detail::ScanSql(sql_, detail::TSqlDialect::SQLite);
    std::vector<int> assigned = detail::AssignSqlMarkers(scan, parameterCount);
    for (int index : assigned) {
      if (index >= 0) placeholders_.push_back(index);
    }
  }

  std::unique_ptr<TDbResultSet> Execute(const std::vector<TDbParameter>& parameters,
                                        int64_t& rowsAffected) override {
    sqlite3* db = db_.get();
    // A result set of an earlier execution that is still open keeps its
    // statement; this execution then prepares its own.
    for (const auto& stmt : prepared_) {
      if (stmt.use_count() > 1) {
        prepared_.clear();
        changesData_.clear();
        tail_ = 0;
        complete_ = false;
        break;
      }
    }
    for (const auto& stmt : prepared_) {
      sqlite3_reset(stmt.get());
      sqlite3_clear_bindings(stmt.get());
    }

    std::unique_ptr<TDbResultSet> result;
    bool changedData = false;
    int64_t changes = 0;
    size_t nextPlaceholder = 0;
    for (size_t index = 0;; ++index) {
      if (index == prepared_.size()) {
        if (complete_ || !PrepareNext()) break;
      }
      sqlite3_stmt* stmt = prepared_[index].get();
      int count = sqlite3_bind_parameter_count(stmt);
      for (int j = 1; j <= count; ++j) {
        // Only plain "?" markers are placeholders; SQLite's named forms
        // (":x" after a doubled colon) stay Null.
        if (sqlite3_bind_parameter_name(stmt, j) != nullptr) continue;
        if (nextPlaceholder < placeholders_.size()) {
          size_t p = static_cast<size_t>(placeholders_[nextPlaceholder]);
          if (p < parameters.size()) {
            BindValue(db, stmt, j, parameters[p], static_cast<int>(p) + 1);
          }
        }
        ++nextPlaceholder;
      }
      if (sqlite3_column_count(stmt) > 0) {
        int rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
          sqlite3_reset(stmt);
          Fail(db);
        }
        result.reset();
        result = std::make_unique<TSqliteResultSet>(db_, prepared_[index], rc);
      } else {
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) {
          std::string message = ErrorMessage(db);
          sqlite3_reset(stmt);
          throw EMorvexError(message);
        }
        if (changesData_[index]) {
          changedData = true;
          changes += sqlite3_changes64(db);
        }
        sqlite3_reset(stmt);
      }
    }
    rowsAffected = changedData ? changes : -1;
    return result;
  }

 private:
  // Prepares the next statement of the text; false at its end.
  bool PrepareNext() {
    while (tail_ < sql_.size()) {
      sqlite3_stmt* raw = nullptr;
      const char* start = sql_.c_str() + tail_;
      const char* rest = nullptr;
      if (sqlite3_prepare_v3(db_.get(), start, static_cast<int>(sql_.size() - tail_),
                             SQLITE_PREPARE_PERSISTENT, &raw, &rest) != SQLITE_OK) {
        FailToPrepare(db_.get());
      }
      tail_ = rest != nullptr ? static_cast<size_t>(rest - sql_.c_str()) : sql_.size();
      if (raw != nullptr) {
        prepared_.emplace_back(raw, TSqliteFinalizer());
        changesData_.push_back(IsDataChange(raw));
        return true;
      }
    }
    complete_ = true;
    return false;
  }

  TSqliteDbPtr db_;
  std::string sql_;
  std::vector<int> placeholders_;  // parameter index of each "?" SQLite sees
  std::vector<TSqliteStmtPtr> prepared_;
  // Whether each prepared statement changes data (its rows count as
  // affected); found once, at preparation, not on every execution.
  std::vector<bool> changesData_;
  size_t tail_ = 0;  // where the text not yet prepared starts
  bool complete_ = false;
};

class TSqliteConnection : public TDbConnection {
 public:
  explicit TSqliteConnection(TSqliteDbPtr db) : db_(std::move(db)) {}

  std::unique_ptr<TDbStatement> Prepare(const std::string& sql, int parameterCount) override {
    return std::make_unique<TSqliteStatement>(Db(), sql, parameterCount);
  }

  void BeginTransaction() override { Exec(Db().get(), "BEGIN"); }
  void Commit() override { Exec(Db().get(), "COMMIT"); }
  void Rollback() override { Exec(Db().get(), "ROLLBACK"); }
  bool InTransaction() const override { return db_ && !sqlite3_get_autocommit(db_.get()); }
  void Close() override { db_.reset(); }
  std::string DriverName() const override { return "SQLite"; }

 private:
  const TSqliteDbPtr& Db() const {
    if (!db_) throw EMorvexError("The database connection is closed");
    return db_;
  }

  TSqliteDbPtr db_;
};

}  // namespace

std::unique_ptr<TDbConnection> OpenSqliteConnection(const std::string& path, int busyTimeoutMs) {
  sqlite3* raw = nullptr;
  // The program is single-threaded and a connection is never shared:
  // without SQLite's per-connection mutex every column read costs a lock and
  // an unlock less.
  int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  TSqliteDbPtr db(raw, TSqliteCloser());
  if (rc == SQLITE_OK) sqlite3_busy_timeout(raw, busyTimeoutMs);
  // A file that is not a database opens fine and fails at its first read.
  if (rc == SQLITE_OK) {
    rc = sqlite3_exec(raw, "PRAGMA schema_version", nullptr, nullptr, nullptr);
  }
  if (rc != SQLITE_OK) {
    std::string reason = raw != nullptr ? ErrorMessage(raw) : sqlite3_errstr(rc);
    throw CannotConnectError(reason + ": " + path);
  }
  return std::make_unique<TSqliteConnection>(std::move(db));
}

}  // namespace morvex
