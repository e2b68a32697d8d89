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
