#include "db/postgres_result.h"

#include <algorithm>
#include <charconv>
#include <limits>

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
    session_->Settle();
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

}  // namespace

std::unique_ptr<TDbResultSet> HeldResultSet(TPgSessionPtr session, TPgResultPtr result) {
  return std::make_unique<TPgResultSet>(std::move(session), std::move(result));
}

std::unique_ptr<TDbResultSet> CursorResultSet(TPgSessionPtr session, std::string cursor,
                                              bool hold) {
  return std::make_unique<TPgResultSet>(std::move(session), std::move(cursor), hold);
}

}  // namespace morvex::pg
