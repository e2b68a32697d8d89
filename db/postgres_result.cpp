#include "db/postgres_result.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>

#include "db/db_values.h"
#include "text/utf.h"

namespace morvex::pg {

namespace {

// Rows per FETCH: the first batch is small; later ones are sized from the
// bytes of the one before to hold about kFetchBytes, so that narrow rows
// travel in few round trips and wide rows never make a batch large.
constexpr int kMinFetchRows = 100;
constexpr int kFirstFetchRows = kMinFetchRows;
constexpr int kMaxFetchRows = 20000;
constexpr int64_t kFetchBytes = 1024 * 1024;

// bytea in the hex output form "\x0a1b..."; the session asks for that form.
void DecodeBytea(std::string_view text, std::string& bytes) {
  bytes.clear();
  if (text.size() >= 2 && text[0] == '\\' && text[1] == 'x') {
    bytes.reserve((text.size() - 2) / 2);
    for (size_t i = 2; i + 1 < text.size(); i += 2) {
      int hi = AsciiHexValue(text[i]), lo = AsciiHexValue(text[i + 1]);
      if (hi < 0 || lo < 0) break;
      bytes += static_cast<char>(hi * 16 + lo);
    }
    return;
  }
  bytes = text;
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

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// The exact text of a numeric as the server writes it ("12.500", "-0.50",
// "7"): the server's text without the zeros ending the fraction, which is a
// prefix of it. False for any other form (NaN, Infinity), which takes the
// general way.
bool NumericPrefix(std::string_view text, std::string_view& exact) {
  size_t i = text.empty() || text[0] != '-' ? 0 : 1;
  const size_t whole = i;
  while (i < text.size() && IsAsciiDigit(text[i])) ++i;
  // One digit at least, and no leading zero.
  if (i == whole || (text[whole] == '0' && i - whole > 1)) return false;
  if (i == text.size()) {
    exact = text;
    return !(whole == 1 && text[1] == '0');  // "-0"
  }
  if (text[i] != '.') return false;
  size_t end = i;
  for (size_t k = i + 1; k < text.size(); ++k) {
    if (!IsAsciiDigit(text[k])) return false;
    if (text[k] != '0') end = k + 1;
  }
  if (whole == 1 && end == i && text[1] == '0' && i == 2) return false;  // "-0.00"
  exact = text.substr(0, end);
  return true;
}

// How a field's text becomes AsText's text. Date-time fields in the
// canonical form of the date-time scale ("yyyy-mm-dd", "hh:nn:ss",
// "yyyy-mm-dd hh:nn:ss") are already that text; other forms (fractions of a
// second, zones, eras, infinity) take the general way.
enum class TPgTextKind : uint8_t { Same, Bool, Numeric, Date, Time, Timestamp, General };

TPgTextKind TextKindOf(Oid oid) {
  switch (oid) {
    case kBoolOid:
      return TPgTextKind::Bool;
    case kNumericOid:
      return TPgTextKind::Numeric;
    case kDateOid:
      return TPgTextKind::Date;
    case kTimeOid:
      return TPgTextKind::Time;
    case kTimestampOid:
      return TPgTextKind::Timestamp;
    case kFloat4Oid:
    case kFloat8Oid:
    case kMoneyOid:
    case kByteaOid:
    case kTimetzOid:
    case kTimestamptzOid:
      return TPgTextKind::General;
    default:
      // Integers are written in decimal as the server writes them; texts
      // are UTF-8 (the client encoding).
      return TPgTextKind::Same;
  }
}

// A field of the current record as the server wrote it; Length < 0: Null.
struct TPgCell {
  const char* Data = nullptr;
  int Length = -1;
};

// What every PostgreSQL result set shares: the fields and the values of the
// current record, read from cells that point at the server's texts.
class TPgResultSet : public TDbResultSet {
 protected:
  void Describe(const TPgSession& session, const PGresult* result) {
    // Texts the driver makes itself (numbers, date-times) are ASCII.
    SetTextIsValidUtf8(session.SendsValidUtf8());
    int count = PQnfields(result);
    for (int i = 0; i < count; ++i) {
      Oid oid = PQftype(result, i);
      oids_.push_back(oid);
      kinds_.push_back(TextKindOf(oid));
      AddField(PQfname(result, i), TypeOfOid(oid));
    }
    cells_.resize(static_cast<size_t>(count));
  }

  bool NullAt(int index) const override { return cells_[index].Length < 0; }

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
      case kByteaOid: {
        TDbBytes bytes;
        DecodeBytea(text, bytes.Bytes);
        return bytes;
      }
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

  std::string TextAt(int index) const override {
    std::string scratch;
    std::string_view text;
    if (!FieldTextAt(index, scratch, text)) return {};
    if (text.data() == scratch.data()) return scratch;
    return std::string(text);
  }

  bool FieldTextAt(int index, std::string& scratch, std::string_view& text) const override {
    const TPgCell& cell = cells_[index];
    if (cell.Length < 0) return false;
    const std::string_view raw(cell.Data, static_cast<size_t>(cell.Length));
    switch (kinds_[index]) {
      case TPgTextKind::Same:
        text = raw;
        return true;
      case TPgTextKind::Bool:
        text = raw == "t" ? "1" : "0";
        return true;
      case TPgTextKind::Numeric:
        if (NumericPrefix(raw, text)) return true;
        break;
      case TPgTextKind::Date:
        if (raw.size() == 10 && raw[4] == '-' && raw[7] == '-') {
          text = raw;
          return true;
        }
        break;
      case TPgTextKind::Time:
        if (raw.size() == 8 && raw[2] == ':' && raw[5] == ':') {
          text = raw;
          return true;
        }
        break;
      case TPgTextKind::Timestamp:
        if (raw.size() == 19 && raw[4] == '-' && raw[10] == ' ' && raw[13] == ':') {
          text = raw;
          return true;
        }
        break;
      case TPgTextKind::General:
        break;
    }
    if (oids_[index] == kByteaOid) {
      DecodeBytea(raw, scratch);
    } else {
      scratch = DbValueText(ValueAt(index), Field(index).Type);
    }
    text = scratch;
    return true;
  }

  std::string_view Raw(int index) const {
    const TPgCell& cell = cells_[index];
    return {cell.Data, static_cast<size_t>(cell.Length)};
  }

  std::vector<TPgCell> cells_;  // the current record

 private:
  std::vector<Oid> oids_;
  std::vector<TPgTextKind> kinds_;
};

// A result the server has sent whole, or one batch of a cursor after the
// other.
class TPgBatchResultSet final : public TPgResultSet {
 public:
  // A result held in memory.
  TPgBatchResultSet(TPgSessionPtr session, TPgResultPtr result)
      : session_(std::move(session)), batch_(std::move(result)) {
    rows_ = PQntuples(batch_.get());
    Describe(*session_, batch_.get());
    LoadRow();
  }

  // A result read through the declared cursor `cursor`.
  TPgBatchResultSet(TPgSessionPtr session, std::string cursor, bool hold)
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
    Describe(*session_, batch_.get());
    LoadRow();
  }

  ~TPgBatchResultSet() override { Close(); }

  bool Eof() const override { return row_ >= rows_; }

  void Next() override {
    if (row_ >= rows_) return;
    if (++row_ >= rows_ && cursorOpen_) FetchBatch();
    LoadRow();
  }

  void Close() override {
    ReleaseCursor();
    batch_.reset();
    rows_ = 0;
    row_ = 0;
  }

 private:
  // Points the cells at the current row; counts its bytes for the size of
  // the next batch.
  void LoadRow() {
    if (row_ >= rows_) return;
    PGresult* batch = batch_.get();
    const int count = static_cast<int>(cells_.size());
    for (int f = 0; f < count; ++f) {
      TPgCell& cell = cells_[static_cast<size_t>(f)];
      if (PQgetisnull(batch, row_, f)) {
        cell = {};
      } else {
        cell.Data = PQgetvalue(batch, row_, f);
        cell.Length = PQgetlength(batch, row_, f);
        batchBytes_ += cell.Length;
      }
    }
    batchBytes_ += 16 * count;
  }

  void FetchBatch() {
    if (rows_ > 0) fetchRows_ = NextFetchRows();
    TPgResultPtr next =
        session_->Exec("FETCH FORWARD " + std::to_string(fetchRows_) + " FROM " + cursor_);
    batch_ = std::move(next);
    rows_ = PQntuples(batch_.get());
    row_ = 0;
    batchBytes_ = 0;
    if (rows_ < fetchRows_) ReleaseCursor();
  }

  // Rows for the next FETCH, from the bytes of the batch just read.
  int NextFetchRows() const {
    const int64_t perRow = std::max<int64_t>(1, batchBytes_ / std::max(1, rows_));
    return static_cast<int>(
        std::clamp<int64_t>(kFetchBytes / perRow, kMinFetchRows, kMaxFetchRows));
  }

  // Closes the server's cursor when it still exists: a plain cursor ends
  // with its transaction, and in a failed transaction every command fails
  // until the rollback (which removes the cursor). Never raises.
  void ReleaseCursor() noexcept {
    if (!cursorOpen_) return;
    cursorOpen_ = false;
    session_->Settle();
    if (!session_->Conn) return;
    if (session_->Streaming != nullptr) session_->Streaming->ReadAhead();
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
  int64_t batchBytes_ = 0;  // of the rows of the batch read so far
  std::string cursor_;
  bool hold_ = false;
  uint64_t generation_ = 0;
  bool cursorOpen_ = false;
};

struct TPgFreer {
  void operator()(char* data) const noexcept { PQfreemem(data); }
};
using TPgCopyLine = std::unique_ptr<char, TPgFreer>;

// Splits a line of COPY's text format into `cells`, undoing its escapes in
// place: fields end at a tab, the line at its line feed, "\N" is Null, and
// a backslash escapes the character after it ("\t", "\n", "\\", octal and
// "\x" hex forms). False when the line does not hold `cells.size()` fields.
bool SplitCopyLine(char* line, int length, std::vector<TPgCell>& cells) {
  char* end = line + length;
  if (end > line && end[-1] == '\n') --end;
  char* at = line;
  const size_t count = cells.size();
  for (size_t f = 0; f < count; ++f) {
    if (at > end) return false;
    char* stop = static_cast<char*>(std::memchr(at, '\t', static_cast<size_t>(end - at)));
    if (stop == nullptr) stop = end;
    if ((f + 1 < count) != (stop != end)) return false;
    TPgCell& cell = cells[f];
    if (stop - at == 2 && at[0] == '\\' && at[1] == 'N') {
      cell = {};
      at = stop + 1;
      continue;
    }
    char* out = static_cast<char*>(std::memchr(at, '\\', static_cast<size_t>(stop - at)));
    if (out != nullptr) {
      for (const char* in = out; in < stop;) {
        if (*in != '\\' || in + 1 == stop) {
          *out++ = *in++;
          continue;
        }
        char c = in[1];
        in += 2;
        switch (c) {
          case 'b':
            *out++ = '\b';
            break;
          case 'f':
            *out++ = '\f';
            break;
          case 'n':
            *out++ = '\n';
            break;
          case 'r':
            *out++ = '\r';
            break;
          case 't':
            *out++ = '\t';
            break;
          case 'v':
            *out++ = '\v';
            break;
          case 'x':
            if (in < stop && AsciiHexValue(*in) >= 0) {
              int value = AsciiHexValue(*in++);
              if (in < stop && AsciiHexValue(*in) >= 0) value = value * 16 + AsciiHexValue(*in++);
              *out++ = static_cast<char>(value);
            } else {
              *out++ = 'x';
            }
            break;
          default:
            if (c >= '0' && c <= '7') {
              int value = c - '0';
              for (int k = 0; k < 2 && in < stop && *in >= '0' && *in <= '7'; ++k) {
                value = value * 8 + (*in++ - '0');
              }
              *out++ = static_cast<char>(value);
            } else {
              *out++ = c;
            }
        }
      }
    } else {
      out = stop;
    }
    cell.Data = at;
    cell.Length = static_cast<int>(out - at);
    at = stop + 1;
  }
  return true;
}

constexpr const char* kMalformedRow = "The database sent a row that cannot be read";

// A result whose rows arrive as the server sends them: single-row results
// or COPY lines. Rows read ahead (TPgStreamingResult::ReadAhead) are kept in
// one text with their lengths, and an error the query ended with is raised
// once the rows before it have been read.
class TPgStreamResultSet final : public TPgResultSet, public TPgStreamingResult {
 public:
  enum class TSource : uint8_t { Rows, Copy };

  TPgStreamResultSet(TPgSessionPtr session, TSource source, const PGresult* description,
                     bool inTransaction)
      : session_(std::move(session)), source_(source) {
    session_->Streaming = this;
    session_->StreamingInTransaction = inTransaction;
    PGconn* conn = session_->Conn.get();
    TPgResultPtr first(PQgetResult(conn));
    const ExecStatusType status = first ? PQresultStatus(first.get()) : PGRES_FATAL_ERROR;
    if (source_ == TSource::Copy && status == PGRES_COPY_OUT) {
      Describe(*session_, description);
      try {
        Advance();
      } catch (...) {
        Discard();
        throw;
      }
      return;
    }
    if (source_ == TSource::Rows && (status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK)) {
      Describe(*session_, first.get());
      if (status == PGRES_SINGLE_TUPLE) {
        AdoptRow(std::move(first));
      } else {
        // No rows, or all of them where single-row mode was refused.
        HoldRows(first.get());
        End(std::move(first), true);
        Advance();
      }
      return;
    }
    End(std::move(first), false);
    RaiseError();
  }

  ~TPgStreamResultSet() override { Close(); }

  bool Eof() const override { return !onRecord_; }

  void Next() override {
    if (!onRecord_) return;
    Advance();
  }

  void Close() override {
    Discard();
    onRecord_ = false;
    row_.reset();
    line_.reset();
    heldText_.clear();
    heldLengths_.clear();
    heldCell_ = 0;
    errorText_.clear();
    error_.reset();
  }

  void ReadAhead() noexcept override {
    try {
      while (live_) {
        TPgResultPtr row;
        TPgCopyLine line;
        int length = 0;
        if (!Arrive(row, line, length)) break;
        if (row) {
          HoldRows(row.get());
        } else {
          std::vector<TPgCell> cells(cells_.size());
          if (!SplitCopyLine(line.get(), length, cells)) {
            Fail(kMalformedRow);
            Discard();
            break;
          }
          for (const TPgCell& cell : cells) Hold(cell.Data, cell.Length);
        }
      }
    } catch (const std::bad_alloc&) {
      Fail("Out of memory while another statement ran beside this one's result");
    }
  }

 private:
  // Makes the next record current: from the rows read ahead, else from the
  // server. Raises the error the query ended with.
  void Advance() {
    onRecord_ = false;
    row_.reset();
    line_.reset();
    if (heldCell_ < heldLengths_.size()) {
      for (TPgCell& cell : cells_) {
        const int length = heldLengths_[heldCell_++];
        if (length < 0) {
          cell = {};
        } else {
          cell.Data = heldText_.data() + heldOffset_;
          cell.Length = length;
          heldOffset_ += static_cast<size_t>(length);
        }
      }
      onRecord_ = true;
      return;
    }
    if (!live_) {
      if (!errorText_.empty()) RaiseError();
      return;
    }
    TPgResultPtr row;
    TPgCopyLine line;
    int length = 0;
    if (!Arrive(row, line, length)) {
      if (!errorText_.empty()) RaiseError();
      return;
    }
    if (row) {
      AdoptRow(std::move(row));
      return;
    }
    if (!SplitCopyLine(line.get(), length, cells_)) {
      Fail(kMalformedRow);
      Discard();
      RaiseError();
    }
    line_ = std::move(line);
    onRecord_ = true;
  }

  void AdoptRow(TPgResultPtr row) {
    row_ = std::move(row);
    for (size_t f = 0; f < cells_.size(); ++f) {
      const int field = static_cast<int>(f);
      TPgCell& cell = cells_[f];
      if (PQgetisnull(row_.get(), 0, field)) {
        cell = {};
      } else {
        cell.Data = PQgetvalue(row_.get(), 0, field);
        cell.Length = PQgetlength(row_.get(), 0, field);
      }
    }
    onRecord_ = true;
  }

  // Waits for the next row from the server: a single-row result into `row`
  // or a COPY line into `line`. False once the rows have ended (the query's
  // error kept).
  bool Arrive(TPgResultPtr& row, TPgCopyLine& line, int& length) {
    PGconn* conn = session_->Conn.get();
    if (conn == nullptr) {
      live_ = false;
      Unregister();
      Fail("The database connection is closed");
      return false;
    }
    if (source_ == TSource::Rows) {
      TPgResultPtr next(PQgetResult(conn));
      const ExecStatusType status = next ? PQresultStatus(next.get()) : PGRES_FATAL_ERROR;
      if (status == PGRES_SINGLE_TUPLE) {
        row = std::move(next);
        return true;
      }
      End(std::move(next), status == PGRES_TUPLES_OK);
      return false;
    }
    char* data = nullptr;
    length = PQgetCopyData(conn, &data, 0);
    if (length > 0) {
      line.reset(data);
      return true;
    }
    TPgResultPtr last(PQgetResult(conn));
    const bool ok = last && PQresultStatus(last.get()) == PGRES_COMMAND_OK;
    End(std::move(last), ok);
    return false;
  }

  // The rows have ended with `last`: keeps its error unless `ok`, reads the
  // results that follow it, and gives the connection back.
  void End(TPgResultPtr last, bool ok) {
    if (!ok && errorText_.empty()) {
      errorText_ = session_->ErrorText(last.get());
      if (errorText_.empty()) errorText_ = "The query failed";
      error_ = std::move(last);
    }
    if (PGconn* conn = session_->Conn.get()) {
      while (PGresult* rest = PQgetResult(conn)) PQclear(rest);
    }
    live_ = false;
    Unregister();
  }

  void Fail(std::string message) {
    if (errorText_.empty()) errorText_ = std::move(message);
  }

  [[noreturn]] void RaiseError() {
    std::string message = std::move(errorText_);
    errorText_.clear();
    const bool syntax = IsSqlState(error_.get(), kSyntaxErrorState);
    error_.reset();
    if (syntax) throw EDbSyntaxError(message);
    throw EMorvexError(message);
  }

  // Reads the rows still to come and drops them, so that the connection
  // takes commands again.
  void Discard() noexcept {
    while (live_) {
      TPgResultPtr row;
      TPgCopyLine line;
      int length = 0;
      if (!Arrive(row, line, length)) break;
    }
  }

  void HoldRows(const PGresult* rows) {
    const int count = PQntuples(rows);
    const int fields = static_cast<int>(cells_.size());
    for (int r = 0; r < count; ++r) {
      for (int f = 0; f < fields; ++f) {
        Hold(PQgetisnull(rows, r, f) ? nullptr : PQgetvalue(rows, r, f), PQgetlength(rows, r, f));
      }
    }
  }

  void Hold(const char* data, int length) {
    if (data == nullptr) {
      heldLengths_.push_back(-1);
      return;
    }
    heldText_.append(data, static_cast<size_t>(length));
    heldLengths_.push_back(length);
  }

  void Unregister() noexcept {
    if (session_->Streaming == this) session_->Streaming = nullptr;
  }

  TPgSessionPtr session_;
  TSource source_;
  bool live_ = true;       // the server is still sending rows
  bool onRecord_ = false;  // a record is current
  TPgResultPtr row_;       // the current single-row result
  TPgCopyLine line_;       // the current COPY line
  // Rows read ahead: their texts one after the other, and the length of
  // every field (-1: Null), record after record.
  std::string heldText_;
  std::vector<int> heldLengths_;
  size_t heldCell_ = 0;
  size_t heldOffset_ = 0;
  // The error the query ended with, raised after the rows before it.
  std::string errorText_;
  TPgResultPtr error_;
};

}  // namespace

std::unique_ptr<TDbResultSet> HeldResultSet(TPgSessionPtr session, TPgResultPtr result) {
  return std::make_unique<TPgBatchResultSet>(std::move(session), std::move(result));
}

std::unique_ptr<TDbResultSet> CursorResultSet(TPgSessionPtr session, std::string cursor,
                                              bool hold) {
  return std::make_unique<TPgBatchResultSet>(std::move(session), std::move(cursor), hold);
}

std::unique_ptr<TDbResultSet> RowStreamResultSet(TPgSessionPtr session, bool inTransaction) {
  return std::make_unique<TPgStreamResultSet>(std::move(session), TPgStreamResultSet::TSource::Rows,
                                              nullptr, inTransaction);
}

std::unique_ptr<TDbResultSet> CopyStreamResultSet(TPgSessionPtr session, TPgResultPtr description,
                                                  bool inTransaction) {
  return std::make_unique<TPgStreamResultSet>(std::move(session), TPgStreamResultSet::TSource::Copy,
                                              description.get(), inTransaction);
}

}  // namespace morvex::pg
