// The PostgreSQL driver's result sets.
//
// Result sets stream through cursors on the same connection, so that a
// nested statement can run while its parent's rows are being read and a
// result of ten million rows costs the memory of one batch:
//
//   DECLARE morvex_cursor_<n> NO SCROLL CURSOR [WITH HOLD] FOR <query>
//   FETCH FORWARD <n> FROM morvex_cursor_<n>      (until a short batch)
//   CLOSE morvex_cursor_<n>                        (at the end, or on Close)
//
// A statement that nothing else runs beside (TDbStatement::ReadAlone) needs
// no cursor: its rows stream as the server sends them, through COPY (query)
// TO STDOUT when it has no parameters (the same output texts, the fastest
// form the server has) and in single-row mode otherwise. While they arrive
// the connection takes no other command; should one come all the same, the
// rows still to come are read into memory first, so that it runs.
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
#pragma once

#include <memory>
#include <string>

#include "db/driver.h"
#include "db/postgres_session.h"

namespace morvex::pg {

// A result the server has sent whole (held in memory).
std::unique_ptr<TDbResultSet> HeldResultSet(TPgSessionPtr session, TPgResultPtr result);

// A result read batch by batch through the declared cursor `cursor`; `hold`
// when it was declared WITH HOLD. Reads the first batch; on failure the
// cursor is closed and the error raised.
std::unique_ptr<TDbResultSet> CursorResultSet(TPgSessionPtr session, std::string cursor, bool hold);

// A result streamed from a query just sent with PQsendQueryParams in
// single-row mode. `inTransaction`: whether the query runs in a transaction.
// Reads the first record; raises the query's error.
std::unique_ptr<TDbResultSet> RowStreamResultSet(TPgSessionPtr session, bool inTransaction);

// A result streamed from "COPY (query) TO STDOUT" just sent with
// PQsendQuery, the query's fields as `description` gives them (from
// PQdescribePrepared). Reads the first record; raises the query's error.
std::unique_ptr<TDbResultSet> CopyStreamResultSet(TPgSessionPtr session, TPgResultPtr description,
                                                  bool inTransaction);

}  // namespace morvex::pg
