// Rows streamed into a table with COPY ... FROM STDIN (text format), batch by
// batch, each batch under a savepoint of its own (TDbBulkInsert).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"
#include "db/postgres_session.h"

namespace morvex::pg {

// A bulk insert into `table` when COPY stores each row as the INSERT would:
// a transaction is open, `table` names a plain table without rules or
// row-level security, the only triggers it fires on INSERT are BEFORE ROW
// triggers (COPY fires AFTER and statement triggers at other moments), and
// no column of it is generated or GENERATED ALWAYS AS IDENTITY (COPY
// writes those where the INSERT refuses). Without `columns` the rows fill
// the first `valueCount` columns, as an INSERT without a column list does.
// Null otherwise.
std::unique_ptr<TDbBulkInsert> OpenPgBulkInsert(const TPgSessionPtr& session,
                                                const std::string& table,
                                                const std::vector<std::string>& columns,
                                                size_t valueCount);

// Appends `value` in COPY's text format: backslash, tab, line feed and
// carriage return escaped; null as \N.
void AppendCopyText(std::string& line, const std::optional<std::string_view>& value);

}  // namespace morvex::pg
