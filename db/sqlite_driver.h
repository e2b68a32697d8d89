// The SQLite driver (libsqlite3), the embedded default database.
#pragma once

#include <memory>
#include <string>

#include "db/driver.h"

namespace morvex {

// How long a statement waits for a lock by default: five seconds.
constexpr int kSqliteBusyTimeoutMs = 5000;

// Opens the existing SQLite database file `path` for reading and writing, or
// a private in-memory database for ":memory:". A missing file is never
// created: that and a file that is not a database raise EMorvexError
// "Cannot connect to database! <reason>: <path>". Waits up to
// `busyTimeoutMs` for a lock another process holds; after that the statement
// fails with a message saying the database is locked by another process.
std::unique_ptr<TDbConnection> OpenSqliteConnection(const std::string& path,
                                                    int busyTimeoutMs = kSqliteBusyTimeoutMs);

}  // namespace morvex
